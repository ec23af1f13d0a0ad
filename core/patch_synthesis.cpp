// Patch synthesis: every pixel of the rectangle becomes half a left-to-right
// blend between two samples of its own row plus half a top-to-bottom blend
// between the rectangle's top and bottom rows.
//
// The patch has always been made in place, row after row, with the vertical
// samples read at the moment each pixel is made. So from the second row on,
// a sample taken from the top row sees that row's synthesized value, not the
// copied one, while the bottom row is always read before it is written.
// Saved projects look the way this order makes them look, so it stays: row 0
// is made from the rectangle's pixels, and the rows below from row 0 as made
// and the rectangle's own bottom row.
#include "patch_synthesis.h"

#include <string.h>

static const uint8_t* OriginRow(const PatchPlan* plan, int32_t row)
{
    return plan->originTop + row * plan->originPitch;
}

// The row's two horizontal samples: the left one is the row's second pixel,
// not its first. A one-pixel-wide patch has none; its rows take the next
// row's pixel, and its last row, which would reach past the rectangle, its
// own.
static void ReadRowSamples(const PatchPlan* plan, const PatchSettings* settings, int32_t row,
                           PatchRowSamples* samples)
{
    const uint8_t* pixels = OriginRow(plan, row);
    const uint8_t* left = pixels + 4;
    if (plan->width == 1)
        left = row + 1 < plan->height ? OriginRow(plan, row + 1) : pixels;
    const uint8_t* right = pixels + 4 * (plan->width - 1);
    const uint8_t* from = settings->cancelLeft ? right : left;
    const uint8_t* to   = settings->cancelRight ? left : right;

    memset(samples, 0, sizeof *samples);
    samples->row = row;
    for (int c = 0; c < 3; c++) {
        int32_t d = to[c] - from[c];
        int32_t sign = d < 0 ? -1 : 0;
        samples->acrossMagnitude |= (uint64_t)(d < 0 ? -d : d) << (16 * c);
        samples->acrossSign |= (uint64_t)(uint16_t)sign << (16 * c);
        samples->acrossBase |= (uint64_t)(uint16_t)(256 * (from[c] - sign)) << (16 * c);
    }
}

// A one-pixel dotted frame, white on even and black on odd positions along
// each edge. The columns are drawn last, so they decide the corners; white
// has its fourth byte set.
static void DrawBorderRow(uint8_t* out, int32_t width, int32_t height, int32_t row)
{
    static const uint32_t dots[2] = { 0xFFFFFFFFu, 0x00000000u };  // white, black
    if (row == 0 || row == height - 1)
        for (int32_t k = 0; k < width; k++)
            memcpy(out + (size_t)4 * k, &dots[k % 2], 4);
    memcpy(out, &dots[row % 2], 4);
    memcpy(out + (size_t)4 * (width - 1), &dots[row % 2], 4);
}

void SynthesizePatch(const PatchKernels* kernels, PatchPlan* plan, const PatchSettings* settings,
                     int32_t row, uint8_t* out)
{
    const int32_t last = plan->height - 1;
    if (row == 0) {
        // Row 0 is its top sample plus nothing of the way down.
        const uint8_t* top = OriginRow(plan, settings->cancelTop ? last : 0);
        kernels->setDownTables(plan, top, top);
    }

    PatchRowSamples samples;
    ReadRowSamples(plan, settings, row, &samples);
    kernels->synthesizeRow(plan, &samples, out);

    if (row == 0 && last > 0) {
        // The rows below: one of the samples is row 0 as just made.
        const uint8_t* bottom = OriginRow(plan, last);
        kernels->setDownTables(plan, settings->cancelTop ? bottom : out,
                               settings->cancelBottom ? out : bottom);
    }
    if (settings->showBorder)
        DrawBorderRow(out, plan->width, plan->height, row);
}
