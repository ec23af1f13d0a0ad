// The summary of any record is exactly " HEIGHTxWIDTH @ X,Y" and fits the
// host's 50 characters.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "script_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PatchSettings settings;
    memset(&settings, 0, sizeof settings);
    memcpy(&settings, data, size < sizeof settings ? size : sizeof settings);

    // Exactly the room the host is promised: a write past it is caught.
    std::vector<char> buffer(kSummaryMaxLength + 1);
    FormatSummary(&settings, buffer.data());

    const std::string expected = " " + std::to_string(settings.height) + "x" +
                                 std::to_string(settings.width) + " @ " +
                                 std::to_string(settings.x) + "," + std::to_string(settings.y);
    FUZZ_CHECK(expected.size() <= kSummaryMaxLength);
    FUZZ_CHECK(memcmp(buffer.data(), expected.c_str(), expected.size() + 1) == 0);
    return 0;
}
