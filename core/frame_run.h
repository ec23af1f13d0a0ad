// The per-frame work: range gating, patch synthesis and compositing.
#ifndef DELBRIN_FRAME_RUN_H
#define DELBRIN_FRAME_RUN_H

#include <stdint.h>

#include "patch_synthesis.h"

// The settings' rectangle cut to a frame of the given size: the pixels a
// frame run actually patches.
PatchRect RectInFrame(const PatchSettings* settings, int32_t frameWidth, int32_t frameHeight);

// How strongly frame cur is patched: 1...255, or 0 when it is not patched.
int FrameAlpha(const PatchSettings* settings, int32_t cur);

// Remembers the source frame size in the settings. Returns 0.
int CacheFrameSize(PatchSettings* settings, const Activation* activation);

// Patches the current frame of the activation in place. Returns 0.
int RunFrame(const Activation* activation);

#endif
