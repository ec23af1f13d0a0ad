// What failed while a file was read, decoded, filtered, encoded or written,
// and the exit code each failure ends the command with.
#ifndef DELBRIN_CLI_RUN_ERROR_H
#define DELBRIN_CLI_RUN_ERROR_H

#include <string>

// The exit codes, as --help documents them.
enum ExitCode {
    kExitOk           = 0,
    kExitDecoding     = 1,    // the input's video cannot be decoded
    kExitUsage        = 2,    // bad command line, Config line, script or range text
    kExitReading      = 3,    // the input cannot be opened or read, or holds no video
    kExitRefused      = 4,    // OUTPUT is INPUT, exists, or cannot be created or renamed
    kExitEncoding     = 5,    // the encoder refused its settings or failed
    kExitWriting      = 6,    // the container cannot hold a stream, or the disk refused
    kExitFiltering    = 7,    // the picture could not be converted for the filter
    kExitNoLogo       = 10,   // detect: nothing in the picture stays put like a logo
    kExitTooShort     = 11,   // detect: too few frames to tell a logo from the picture
    kExitStillPicture = 12,   // detect: the picture hardly changes, so a logo cannot be told from it
    kExitTooSmall     = 13,   // detect: the picture is too small to analyse
    kExitInterrupted  = 130,  // stopped by a signal; OUTPUT untouched
};

// The side of the work that failed.
enum RunStep {
    kStepReading,
    kStepDecoding,
    kStepFiltering,
    kStepEncoding,
    kStepWriting,
    kStepInterrupted,
};

struct RunError {
    RunStep     step = kStepReading;
    std::string message;  // names the file or stream and says the library's own words
};

// Sets *error and returns false, for "return Failed(...)" at the failing call.
bool Failed(RunError* error, RunStep step, const std::string& message);

// Failed() with the library's words for code appended: "...: Invalid argument".
bool FailedAv(RunError* error, RunStep step, const std::string& message, int code);

// The library's text for an error code (av_strerror).
std::string AvErrorText(int code);

int ExitCodeFor(RunStep step);

// "reading", "decoding", ...: the word for the step in messages.
const char* StepName(RunStep step);

// "delbrin: MESSAGE" on stderr; returns code.
int Fail(int code, const std::string& message);

#endif
