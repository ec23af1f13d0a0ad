#include "output_check.h"

#include <unistd.h>

#include "output_file.h"
#include "run_error.h"

int CheckOutputName(const std::string& input, const std::string& output, const std::string& what, bool force,
                    std::string* message) {
    if (IsStandardStream(output)) return kExitOk;
    if (input == output || SameFile(input, output)) {
        *message = what + " would overwrite INPUT; choose another name";
        return kExitRefused;
    }
    if (!force && access(output.c_str(), F_OK) == 0) {
        *message = output + " already exists; add --force to replace it";
        return kExitRefused;
    }
    return kExitOk;
}
