#include "run_error.h"

#include <stdio.h>

extern "C" {
#include <libavutil/error.h>
}

bool Failed(RunError* error, RunStep step, const std::string& message) {
    error->step = step;
    error->message = message;
    return false;
}

bool FailedAv(RunError* error, RunStep step, const std::string& message, int code) {
    return Failed(error, step, message + ": " + AvErrorText(code));
}

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return text;
}

int ExitCodeFor(RunStep step) {
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

const char* StepName(RunStep step) {
    switch (step) {
    case kStepReading:     return "reading";
    case kStepDecoding:    return "decoding";
    case kStepFiltering:   return "filtering";
    case kStepEncoding:    return "encoding";
    case kStepWriting:     return "writing";
    case kStepInterrupted: return "interrupted";
    }
    return "?";
}

int Fail(int code, const std::string& message) {
    fprintf(stderr, "delbrin: %s\n", message.c_str());
    return code;
}
