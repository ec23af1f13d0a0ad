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

// Applies the instances to a decoded frame at frameNumber. A frame whose
// format cannot be patched where it is (a palette, a bit plane) is first
// converted into *work, in preferred where that can be patched, else in
// BGRA or RGB; *result is the frame patched: frame itself or *work.
bool PatchDecodedFrame(RegionPatcher* patcher, FrameConverter* converter, AVFrame* frame, AVFrame* work,
                       AVPixelFormat preferred, const std::vector<PatchSettings>& instances, int64_t frameNumber,
                       AVFrame** result, MediaError* error);

// Writes one picture as a PNG file at path (temporary name, then renamed).
bool WritePngFile(const AVFrame* picture, const std::string& path, MediaError* error);

#endif
