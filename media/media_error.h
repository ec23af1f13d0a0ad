// What failed while a file was read, decoded, filtered, encoded or written:
// the step and the message, which names the file or stream and ends with
// the library's own words. The command turns the step into its exit code.
#ifndef DELBRIN_MEDIA_MEDIA_ERROR_H
#define DELBRIN_MEDIA_MEDIA_ERROR_H

#include <string>

enum MediaStep {
    kStepReading,
    kStepDecoding,
    kStepFiltering,
    kStepEncoding,
    kStepWriting,
    kStepInterrupted,
};

struct MediaError {
    MediaStep   step = kStepReading;
    std::string message;
};

// Sets *error and returns false, for "return Failed(...)" at the failing call.
bool Failed(MediaError* error, MediaStep step, const std::string& message);

// Failed() with the library's words for code appended: "...: Invalid argument".
bool FailedAv(MediaError* error, MediaStep step, const std::string& message, int code);

#endif
