// The exit codes, and the one each failing media step ends the command with.
#ifndef DELBRIN_CLI_RUN_ERROR_H
#define DELBRIN_CLI_RUN_ERROR_H

#include <string>

#include "media_error.h"

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

int ExitCodeFor(MediaStep step);

// "delbrin: MESSAGE" on stderr; returns code.
int Fail(int code, const std::string& message);

#endif
