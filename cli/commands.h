// The commands apply, preview and demo, each in a file of its own.
#ifndef DELBRIN_CLI_COMMANDS_H
#define DELBRIN_CLI_COMMANDS_H

#include "options.h"

int RunApply(const Options& options);
int RunPreview(const Options& options);
int RunDemo(const Options& options);

#endif
