// The per-frame work: range gating, patch synthesis and compositing.
#ifndef DELBRIN_FRAME_RUN_H
#define DELBRIN_FRAME_RUN_H

#include <stdint.h>

#include "patch_kernels.h"
#include "patch_synthesis.h"

// The settings' rectangle cut to a frame of the given size (empty when
// nothing of it is inside): the pixels a frame run actually patches.
PixelRect RectInFrame(const PatchSettings* settings, int32_t frameWidth, int32_t frameHeight);

// How strongly frame cur is patched: 1...255, or 0 when it is not patched.
int FrameAlpha(const PatchSettings* settings, int32_t cur);

// Patches frame number frameNumber in place: the rectangle, cut to the frame,
// is replaced by the patch, feathered and faded as the settings ask. Returns
// whether any pixel was written; a frame outside every range, an empty cut,
// an unusable view or a failed allocation leaves the frame untouched.
// settings->patchPixels holds the row of the patch being made during the
// call and is null after a patched frame.
bool PatchFrame(PatchSettings* settings, FrameView frame, int32_t frameNumber);

// The same with the given kernels (null: the best this processor runs), for
// tests and measurements. Every set gives the same bytes.
bool PatchFrameWith(PatchSettings* settings, FrameView frame, int32_t frameNumber,
                    const PatchKernels* kernels);

#endif
