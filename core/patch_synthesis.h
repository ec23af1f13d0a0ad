// Patch synthesis: the rectangle's own pixels become a patch interpolated
// from its edges, one row at a time.
#ifndef DELBRIN_PATCH_SYNTHESIS_H
#define DELBRIN_PATCH_SYNTHESIS_H

#include <stdint.h>

#include "patch_kernels.h"
#include "patch_settings.h"
#include "pixel_rect.h"

// Makes row `row` of the patch at out (plan->width pixels at any address: a
// row of its own, or the frame's row when the patch goes in as it is), with
// the border if the settings ask for it. Rows are made in order from row 0,
// each before any row below it is written into the frame: the rows below
// row 0 blend toward row 0 as made, and every row reads its samples from the
// rectangle's own pixels.
void SynthesizePatch(const PatchKernels* kernels, PatchPlan* plan, const PatchSettings* settings,
                     int32_t row, uint8_t* out);

#endif
