#include "media_error.h"

extern "C" {
#include <libavutil/error.h>
}

bool Failed(MediaError* error, MediaStep step, const std::string& message) {
    error->step = step;
    error->message = message;
    return false;
}

bool FailedAv(MediaError* error, MediaStep step, const std::string& message, int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(code, text, sizeof text);
    return Failed(error, step, message + ": " + text);
}
