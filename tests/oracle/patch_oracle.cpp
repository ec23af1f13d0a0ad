// The frame run as first written: the rectangle is copied out, the patch is
// made in the copy in place, in row-major order, and written back pixel by
// pixel. Every amount may be anything an int32 holds, so sums, products and
// divisions are taken in 64 bits. Range gating and the cut of the rectangle
// are the product's own (FrameAlpha, RectInFrame).
#include "patch_oracle.h"

#include <stdlib.h>
#include <string.h>

#include "frame_run.h"

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

static void SynthesizePatch(PatchSettings* settings, PixelRect rect)
{
    uint32_t* pixels = settings->patchPixels;
    if (pixels == NULL || rect.width < 1 || rect.height < 1)
        return;

    InterpolatePatch(settings, pixels, rect.width, rect.height);
    if (settings->showBorder)
        DrawBorder(pixels, rect.width, rect.height);
}

static int64_t Clamp64(int64_t v, int64_t lo, int64_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

static uint32_t* AllocatePatch(PixelRect rect)
{
    uint64_t count = (uint64_t)rect.width * (uint64_t)rect.height;
    if (count > SIZE_MAX / sizeof(uint32_t))
        return NULL;
    return (uint32_t*)malloc((size_t)count * sizeof(uint32_t));
}

// Frame rows may sit at any byte pitch, so pixels are moved with memcpy.
static void CopyRectToPatch(const FrameView* frame, PixelRect rect, uint32_t* patch)
{
    for (int32_t j = 0; j < rect.height; j++) {
        const uint32_t* row = PixelAt(frame, rect.x, rect.y + j);
        memcpy(patch + (size_t)j * rect.width, row, (size_t)rect.width * sizeof(uint32_t));
    }
}

// The weight of the pixel at distance d from the rectangle's first row (or
// column) of a rectangle `size` long: a ramp from 0 up to 255 over the first
// e pixels and back down over the last e, the first ramp winning where they
// overlap. With e <= 0 both ramps are empty and the weight is 255.
static int64_t FeatherWeight(int64_t d, int64_t size, int64_t e)
{
    if (d < e)
        return (d * 255) / e;
    if (d > size - e)
        return ((size - d) * 255) / e;
    return 255;
}

static uint32_t BlendPixel(uint32_t frame, uint32_t patch, int64_t a)
{
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        int64_t p = (frame >> shift) & 0xFF;
        int64_t q = (patch >> shift) & 0xFF;
        // Two products, each truncated on its own.
        int64_t mixed = (p * (255 - a)) / 255 + (q * a) / 255;
        out |= (uint32_t)mixed << shift;
    }
    return out;  // the fourth byte is 0
}

static void CompositePatch(const PatchSettings* settings, const FrameView* frame, PixelRect rect,
                           const uint32_t* patch, int alpha)
{
    const bool feather = settings->featherOn != 0;
    const bool fade    = settings->fadeOn != 0;
    const int64_t e    = settings->featherWidth;

    for (int32_t j = 0; j < rect.height; j++) {
        uint8_t* row = (uint8_t*)PixelAt(frame, rect.x, rect.y + j);
        const uint32_t* source = patch + (size_t)j * rect.width;

        // Neither switch: the patch goes in verbatim, fourth byte included,
        // so the border's white keeps its 0xFF.
        if (!feather && !fade) {
            memcpy(row, source, (size_t)rect.width * sizeof(uint32_t));
            continue;
        }

        const int64_t rowWeight = feather ? FeatherWeight(j, rect.height, e) : 255;
        for (int32_t k = 0; k < rect.width; k++) {
            int64_t a = 255;
            if (feather)
                a = FeatherWeight(k, rect.width, e) + rowWeight - 255;
            if (fade)
                a = a + alpha - 255;
            a = Clamp64(a, 0, 255);

            uint32_t pixel;
            memcpy(&pixel, row + (size_t)4 * k, sizeof pixel);
            pixel = BlendPixel(pixel, source[k], a);
            memcpy(row + (size_t)4 * k, &pixel, sizeof pixel);
        }
    }
}

bool OraclePatchFrame(PatchSettings* settings, FrameView frame, int32_t frameNumber)
{
    if (settings == NULL || frame.data == NULL || frame.width <= 0 || frame.height <= 0)
        return false;

    int alpha = FrameAlpha(settings, frameNumber);
    if (alpha == 0)
        return false;

    // Only the frame's memory is touched, so the rectangle is cut to the
    // frame, whatever frame size it was set up against.
    PixelRect rect = RectInFrame(settings, frame.width, frame.height);
    if (rect.width == 0 || rect.height == 0)
        return false;

    uint32_t* patch = AllocatePatch(rect);
    if (patch == NULL)
        return false;  // nothing written yet: the frame passes through unpatched
    settings->patchPixels = patch;

    CopyRectToPatch(&frame, rect, patch);
    SynthesizePatch(settings, rect);
    CompositePatch(settings, &frame, rect, patch, alpha);

    free(patch);
    settings->patchPixels = NULL;
    return true;
}
