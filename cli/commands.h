// The commands, each in a file of its own, and what they share.
#ifndef DELBRIN_CLI_COMMANDS_H
#define DELBRIN_CLI_COMMANDS_H

#include <stdint.h>

#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "frame_convert.h"
#include "options.h"
#include "patch_settings.h"
#include "region_patch.h"
#include "run_error.h"

int RunApply(const Options& options);
int RunPreview(const Options& options);
int RunDemo(const Options& options);

#endif
