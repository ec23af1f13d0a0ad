// Checks on OUTPUT's name before any work is done.
#ifndef DELBRIN_CLI_OUTPUT_CHECK_H
#define DELBRIN_CLI_OUTPUT_CHECK_H

#include <string>

// The file to write (what names it in messages: "OUTPUT", "the mask") is
// not INPUT, and exists only with force; "-" (standard output) passes.
// Returns kExitOk or the exit code, with the reason in *message.
int CheckOutputName(const std::string& input, const std::string& output, const std::string& what, bool force,
                    std::string* message);

#endif
