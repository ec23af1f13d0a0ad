// The per-frame work: decide from the frame ranges whether and how strongly
// this frame is patched, then make the patch row by row and write each row
// back, feathered at its edges and scaled by the fade.
//
// Settings restored from a script are not clamped, so every amount here may
// be anything an int32 holds: the frame's gating is taken in 64 bits, and the
// rectangle is cut to the frame before any pixel is touched. Everything that
// depends only on a row or only on a column (feather weights, the positions
// between the patch's samples) is worked out once per frame, and the row
// kernels do the rest without dividing.
#include "frame_run.h"

#include <stdlib.h>
#include <string.h>

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

PixelRect RectInFrame(const PatchSettings* settings, int32_t frameWidth, int32_t frameHeight)
{
    PixelRect rect = { settings->x, settings->y, settings->width, settings->height };
    return ClipRectToFrame(rect, frameWidth, frameHeight);
}

// n * 255 / e for 0 <= n and 0 < e; in 32 bits while the product fits.
static int32_t MulDiv255(int32_t n, int32_t e)
{
    if (n <= INT32_MAX / 255)
        return n * 255 / e;
    return (int32_t)((int64_t)n * 255 / e);
}

// The weight of the pixel at distance d from the rectangle's first row (or
// column) of a rectangle `size` long: a ramp from 0 up to 255 over the first
// e pixels and back down over the last e, the first ramp winning where they
// overlap. With e <= 0 both ramps are empty and the weight is 255.
static int32_t FeatherWeight(int32_t d, int32_t size, int32_t e)
{
    if (e <= 0)
        return 255;
    if (d < e)
        return MulDiv255(d, e);
    if (d > size - e)  // e > 0, so size - e cannot overflow
        return MulDiv255(size - d, e);
    return 255;
}

// One allocation per frame holds everything the patch needs: the column
// tables, the row of the patch, the per-row values and, when the frame's rows
// overlap in memory, a copy of the rectangle to read the samples from.
static void* AllocatePlan(PatchPlan* plan, const PatchKernels* kernels, PixelRect rect,
                          bool copyRect)
{
    const uint64_t block = (uint64_t)kernels->blockPixels;
    const uint64_t padded = ((uint64_t)rect.width + block - 1) / block * block;
    const uint64_t tableBytes = padded * kLanesPerPixel * sizeof(uint16_t);
    const uint64_t rowBytes = padded * sizeof(uint32_t);
    const uint64_t multiplierBytes = (uint64_t)rect.height * sizeof(uint32_t);
    const uint64_t copyBytes = copyRect ? (uint64_t)rect.width * rect.height * 4 : 0;
    const uint64_t cutBytes = (uint64_t)rect.height * sizeof(uint16_t);
    const uint64_t alignment = 32;  // for the vector loads of the tables
    const uint64_t total = alignment + 6 * tableBytes + rowBytes + multiplierBytes + copyBytes +
                           cutBytes;
    if (total > SIZE_MAX)
        return NULL;
    void* memory = malloc((size_t)total);
    if (memory == NULL)
        return NULL;

    uintptr_t start = ((uintptr_t)memory + alignment - 1) & ~(uintptr_t)(alignment - 1);
    uint8_t* next = (uint8_t*)start;
    // Padding columns read as 0 in every table and in the row of the patch.
    memset(next, 0, (size_t)(6 * tableBytes + rowBytes));
    uint16_t** tables[6] = { &plan->acrossHigh, &plan->acrossLow,  &plan->downMagnitude,
                             &plan->downSign,   &plan->downBase,   &plan->columnWeight };
    for (uint16_t** table : tables) {
        *table = (uint16_t*)next;
        next += tableBytes;
    }
    plan->patchRow = (uint32_t*)next;
    next += rowBytes;
    plan->downMultiplier = (uint32_t*)next;
    next += multiplierBytes;
    plan->originTop = copyRect ? next : NULL;
    next += copyBytes;
    plan->weightCut = (uint16_t*)next;

    plan->width = rect.width;
    plan->height = rect.height;
    plan->paddedWidth = (int32_t)padded;
    return memory;
}

// The positions between the patch's samples, as multipliers: column k of
// width across, row j of height down.
static void SetMultipliers(const PatchKernels* kernels, PatchPlan* plan)
{
    FractionSteps steps;
    StartFractionSteps(&steps, (uint32_t)plan->width);
    for (int32_t k = 0; k < plan->width; k++, NextFractionStep(&steps)) {
        uint32_t m = FractionMultiplier(&steps);
        size_t lane = PatchColumnLane(kernels, k);
        for (int c = 0; c < 3; c++) {
            plan->acrossHigh[lane + c] = (uint16_t)(m >> 16);
            plan->acrossLow[lane + c] = (uint16_t)m;
        }
    }
    StartFractionSteps(&steps, (uint32_t)plan->height);
    for (int32_t j = 0; j < plan->height; j++, NextFractionStep(&steps))
        plan->downMultiplier[j] = FractionMultiplier(&steps);
}

// The weight a = column weight + row weight - 255 (feather) + alpha - 255
// (fade), clamped to 0...255, as max(column weight - cut of the row, 0): the
// sum never exceeds 255, so only the clamp at 0 is left.
static void SetWeights(const PatchKernels* kernels, PatchPlan* plan, const PatchSettings* settings,
                       int alpha)
{
    const bool feather = settings->featherOn != 0;
    const bool fade = settings->fadeOn != 0;
    const int32_t e = settings->featherWidth;
    plan->fullFrom = plan->fullTo = 0;
    for (int32_t k = 0; k < plan->width; k++) {
        size_t lane = PatchColumnLane(kernels, k);
        int32_t w = feather ? FeatherWeight(k, plan->width, e) : 255;
        for (int c = 0; c < 3; c++)
            plan->columnWeight[lane + c] = (uint16_t)w;
        // The full weight lies between the two ramps, in one stretch.
        if (w == 255 && plan->fullTo == plan->fullFrom)
            plan->fullFrom = k, plan->fullTo = k + 1;
        else if (w == 255 && plan->fullTo == k)
            plan->fullTo = k + 1;
    }
    for (int32_t j = 0; j < plan->height; j++) {
        int32_t cut = feather ? 255 - FeatherWeight(j, plan->height, e) : 0;
        plan->weightCut[j] = (uint16_t)(cut + (fade ? 255 - alpha : 0));
    }
}

// Blends row `row` of the patch over the frame's own pixels, each of the
// two products divided on its own; the fourth byte becomes 0.
static void CompositePatch(const PatchKernels* kernels, const PatchPlan* plan, int32_t row,
                           uint8_t* frameRow)
{
    kernels->compositeRow(plan, row, plan->patchRow, frameRow);
}

bool PatchFrameWith(PatchSettings* settings, FrameView frame, int32_t frameNumber,
                    const PatchKernels* kernels)
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

    if (kernels == NULL)
        kernels = FindPatchKernels(kPatchKernelsBest);
    if (rect.width > kMaxMultipliedSide || rect.height > kMaxMultipliedSide)
        kernels = &kPlainPatchKernels;

    // Image row y + 1 is stored one pitch before row y.
    uint8_t* top = (uint8_t*)PixelAt(&frame, rect.x, rect.y);
    const ptrdiff_t down = (ptrdiff_t)-(int64_t)frame.pitch;
    // Rows closer than their length share bytes: the rows written first
    // would change the samples of the rows after them, so those are read
    // from a copy taken before anything is written.
    const bool rowsOverlap = rect.height > 1 && (frame.pitch < 0 ? -(int64_t)frame.pitch
                                                                 : (int64_t)frame.pitch) <
                                                    (int64_t)4 * rect.width;

    PatchPlan plan;
    void* memory = AllocatePlan(&plan, kernels, rect, rowsOverlap);
    if (memory == NULL)
        return false;  // nothing written yet: the frame passes through unpatched
    if (rowsOverlap) {
        uint8_t* copy = (uint8_t*)plan.originTop;
        for (int32_t j = 0; j < rect.height; j++)
            memcpy(copy + (size_t)4 * rect.width * j, top + j * down, (size_t)4 * rect.width);
        plan.originPitch = (ptrdiff_t)4 * rect.width;
    } else {
        plan.originTop = top;
        plan.originPitch = down;
    }
    // Neither switch: the patch goes into the frame as it is made, fourth
    // byte included, so the border's white keeps its 0xFF.
    const bool blend = settings->featherOn || settings->fadeOn;
    if (kernels->multiplies)
        SetMultipliers(kernels, &plan);
    if (blend)
        SetWeights(kernels, &plan, settings, alpha);
    settings->patchPixels = plan.patchRow;

    for (int32_t j = 0; j < rect.height; j++) {
        uint8_t* frameRow = top + j * down;
        if (blend) {
            SynthesizePatch(kernels, &plan, settings, j, (uint8_t*)plan.patchRow);
            CompositePatch(kernels, &plan, j, frameRow);
        } else {
            SynthesizePatch(kernels, &plan, settings, j, frameRow);
        }
    }

    free(memory);
    settings->patchPixels = NULL;
    return true;
}

bool PatchFrame(PatchSettings* settings, FrameView frame, int32_t frameNumber)
{
    return PatchFrameWith(settings, frame, frameNumber, NULL);
}
