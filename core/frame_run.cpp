// The per-frame work: decide from the frame ranges whether and how strongly
// this frame is patched, copy the rectangle out, turn it into the patch and
// write the patch back, feathered at its edges and scaled by the fade.
//
// Settings restored from a script are not clamped, so every amount here may
// be anything an int32 holds: sums and products are taken in 64 bits, and the
// rectangle is cut to the frame before any pixel is touched.
#include "frame_run.h"

#include <stdlib.h>
#include <string.h>

static int64_t Clamp64(int64_t v, int64_t lo, int64_t hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

int FrameAlpha(const PatchSettings* settings, int32_t cur)
{
    if (settings->rangeCount <= 0)
        return 255;

    const int64_t f = settings->fadeFrames;
    const int64_t c = cur;
    const int32_t count = settings->rangeCount < kMaxRanges ? settings->rangeCount : kMaxRanges;

    // The first range that claims the frame decides, even when a later one
    // would have claimed it at a higher strength. A damaged count never
    // reads past the table.
    for (int32_t i = 0; i < count; i++) {
        const int64_t s = settings->rangeStart[i];
        const int64_t t = settings->rangeEnd[i];
        int64_t alpha;
        if (s < c && c < t)
            alpha = 255;
        else if (s - f < c && c <= s)       // fade in; never true for f <= 0
            alpha = ((c - s + f) * 255) / f;
        else if (t <= c && c < t + f)       // fade out; never true for f <= 0
            alpha = ((t - c + f) * 255) / f;
        else
            continue;
        return (int)alpha;  // 0 only for a window longer than 255 frames
    }
    return 0;
}

PatchRect RectInFrame(const PatchSettings* settings, int32_t frameWidth, int32_t frameHeight)
{
    int64_t left   = Clamp64(settings->x, 0, frameWidth);
    int64_t top    = Clamp64(settings->y, 0, frameHeight);
    int64_t right  = Clamp64((int64_t)settings->x + settings->width, 0, frameWidth);
    int64_t bottom = Clamp64((int64_t)settings->y + settings->height, 0, frameHeight);

    PatchRect rect = { 0, 0, 0, 0 };
    if (right > left && bottom > top) {
        rect.x      = (int32_t)left;
        rect.y      = (int32_t)top;
        rect.width  = (int32_t)(right - left);
        rect.height = (int32_t)(bottom - top);
    }
    return rect;
}

static uint32_t* AllocatePatch(PatchRect rect)
{
    uint64_t count = (uint64_t)rect.width * (uint64_t)rect.height;
    if (count > SIZE_MAX / sizeof(uint32_t))
        return NULL;
    return (uint32_t*)malloc((size_t)count * sizeof(uint32_t));
}

// Frame rows may sit at any byte pitch, so pixels are moved with memcpy.
static void CopyRectToPatch(const FrameView* frame, PatchRect rect, uint32_t* patch)
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

static void CompositePatch(const PatchSettings* settings, const FrameView* frame, PatchRect rect,
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

bool PatchFrame(PatchSettings* settings, FrameView frame, int32_t frameNumber)
{
    if (settings == NULL || frame.data == NULL || frame.width <= 0 || frame.height <= 0)
        return false;

    int alpha = FrameAlpha(settings, frameNumber);
    if (alpha == 0)
        return false;

    // Only the frame's memory is touched, so the rectangle is cut to the
    // frame, whatever frame size it was set up against.
    PatchRect rect = RectInFrame(settings, frame.width, frame.height);
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
