// The frame run as first written, step by step as the filter is described:
// copy the rectangle into a buffer, make the patch in that buffer in place,
// write it back pixel by pixel with 64-bit divisions. Slow and plain; the
// tests hold the product's kernels against it.
#ifndef DELBRIN_PATCH_ORACLE_H
#define DELBRIN_PATCH_ORACLE_H

#include <stdint.h>

#include "patch_settings.h"

// Patches the frame as PatchFrame does, and answers as it does.
bool OraclePatchFrame(PatchSettings* settings, FrameView frame, int32_t frameNumber);

#endif
