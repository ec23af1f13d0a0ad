// Patch synthesis: every pixel of the rectangle becomes half a left-to-right
// blend between two samples of its own row plus half a top-to-bottom blend
// between the rectangle's top and bottom rows.
//
// The buffer is rewritten in place in row-major order, and the vertical
// samples are read at the moment each pixel is computed. So from the second
// row on, a sample taken from the top row sees that row's synthesized value,
// not the copied one; the bottom row is always read before it is written.
// Saved projects look the way this order makes them look, so it stays.
#include "patch_synthesis.h"

static int32_t Channel(uint32_t pixel, int shift)
{
    return (int32_t)((pixel >> shift) & 0xFF);
}

// a + (b - a) * num / den with a truncating division; num and den are
// positions inside the patch, so the product needs 64 bits for wide patches.
static int32_t Blend(int32_t a, int32_t b, int64_t num, int64_t den)
{
    return a + (int32_t)(((int64_t)(b - a) * num) / den);
}

static uint32_t MixPixel(uint32_t left, uint32_t right, int64_t k, int64_t w,
                         uint32_t top, uint32_t bottom, int64_t j, int64_t h)
{
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int32_t across = Blend(Channel(left, shift), Channel(right, shift), k, w);
        int32_t down   = Blend(Channel(top, shift), Channel(bottom, shift), j, h);
        // Each half truncated on its own: a flat area loses its lowest bit.
        int32_t mixed = (across * 50) / 100 + (down * 50) / 100;
        out |= (uint32_t)mixed << shift;
    }
    return out;  // the fourth byte is 0
}

static void InterpolatePatch(const PatchSettings* settings, uint32_t* pixels, int64_t w, int64_t h)
{
    const int64_t last = w * (h - 1);  // the bottom row's first element
    const int64_t end  = w * h;

    for (int64_t j = 0; j < h; j++) {
        uint32_t* row = pixels + j * w;
        // The left sample is the row's second pixel. A one-pixel-wide patch
        // has none, and its last row would reach past the buffer; that row
        // takes its own pixel instead.
        int64_t leftIndex = j * w + 1;
        if (leftIndex > end - 1)
            leftIndex = end - 1;
        uint32_t left  = pixels[leftIndex];
        uint32_t right = row[w - 1];
        uint32_t fromLeft  = settings->cancelLeft ? right : left;
        uint32_t fromRight = settings->cancelRight ? left : right;

        for (int64_t k = 0; k < w; k++) {
            uint32_t top    = pixels[settings->cancelTop ? last + k : k];
            uint32_t bottom = pixels[settings->cancelBottom ? k : last + k];
            row[k] = MixPixel(fromLeft, fromRight, k, w, top, bottom, j, h);
        }
    }
}

// A one-pixel dotted frame, white on even and black on odd positions along
// each edge. The columns are drawn last, so they decide the corners.
static void DrawBorder(uint32_t* pixels, int64_t w, int64_t h)
{
    const uint32_t white = 0xFFFFFFFFu;
    const uint32_t black = 0x00000000u;
    const int64_t last = w * (h - 1);

    for (int64_t k = 0; k < w; k++)
        pixels[k] = (k % 2 == 0) ? white : black;
    for (int64_t k = 0; k < w; k++)
        pixels[last + k] = (k % 2 == 0) ? white : black;
    for (int64_t j = 0; j < h; j++)
        pixels[j * w] = (j % 2 == 0) ? white : black;
    for (int64_t j = 0; j < h; j++)
        pixels[j * w + w - 1] = (j % 2 == 0) ? white : black;
}

void SynthesizePatch(PatchSettings* settings, PatchRect rect)
{
    uint32_t* pixels = settings->patchPixels;
    if (pixels == NULL || rect.width < 1 || rect.height < 1)
        return;

    InterpolatePatch(settings, pixels, rect.width, rect.height);
    if (settings->showBorder)
        DrawBorder(pixels, rect.width, rect.height);
}
