// OUTPUT is written under a temporary name beside it and renamed only when
// complete, so that a failed or interrupted run never leaves half a file
// under OUTPUT's name, nor damages a file that was there.
#ifndef DELBRIN_CLI_OUTPUT_FILE_H
#define DELBRIN_CLI_OUTPUT_FILE_H

#include <string>

// Whether two names lead to the same file (links included).
bool SameFile(const std::string& a, const std::string& b);

// Creates an empty file beside output, keeping its extension so that the
// container is the same: out.mp4 -> .out.delbrin-XXXXXX.mp4. The finished
// file gets the usual mode (0666 less the umask).
bool MakeTemporaryBeside(const std::string& output, std::string* path);

// Checks before any work: OUTPUT is not INPUT, and exists only with force.
// Returns kExitOk or the exit code, with the reason in *message.
int CheckOutputName(const std::string& input, const std::string& output, bool force,
                    std::string* message);

#endif
