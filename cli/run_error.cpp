#include "run_error.h"

#include <stdio.h>

int ExitCodeFor(MediaStep step) {
    switch (step) {
    case kStepReading:     return kExitReading;
    case kStepDecoding:    return kExitDecoding;
    case kStepFiltering:   return kExitFiltering;
    case kStepEncoding:    return kExitEncoding;
    case kStepWriting:     return kExitWriting;
    case kStepInterrupted: return kExitInterrupted;
    }
    return kExitDecoding;
}

int Fail(int code, const std::string& message) {
    fprintf(stderr, "delbrin: %s\n", message.c_str());
    return code;
}
