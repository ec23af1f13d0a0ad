// Patch synthesis: the rectangle's copy becomes a patch interpolated from its edges.
#ifndef DELBRIN_PATCH_SYNTHESIS_H
#define DELBRIN_PATCH_SYNTHESIS_H

#include <stdint.h>

#include "patch_settings.h"

// The rectangle a frame is actually patched in: the settings' rectangle cut
// to the frame, so that a rectangle restored from a script never reaches
// outside it. Empty (width or height 0) when nothing of it lies inside.
struct PatchRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// Turns the copy of the rectangle in settings->patchPixels (rect.width by
// rect.height pixels) into the patch, in place, with the border if asked.
void SynthesizePatch(PatchSettings* settings, PatchRect rect);

#endif
