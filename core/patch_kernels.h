// The row kernels of the frame run: one row of the patch made from its
// samples, and one row of the patch laid into the frame. One set of kernels
// per instruction set (plain C++, SSE2, AVX2), picked once per process; all
// of them give the same bytes.
//
// The kernels work in 16-bit lanes, four per pixel (blue, green, red, fourth
// byte). Every division of the patch's arithmetic becomes a multiplication:
//
//   - t * a / n, for a position t < n along a side of n pixels and a channel
//     difference a of 0...255: with m = ceil(t * 2^24 / n), the quotient is
//     (a * m) >> 24, exact while 255 * (n - 1) < 2^24. The lanes take m as
//     its high byte (m >> 16) and low 16 bits and form
//       s = a * high + ((a * low) >> 16),
//     which stays below 2^16 and holds the quotient in its high byte.
//     Negative differences are truncated toward zero by taking the quotient
//     of the magnitude and restoring the sign: with the sample x in the high
//     byte, 256 * x + s, or 256 * (x + 1) + (s ^ 0xFFFF) for a negative
//     difference, has x +- quotient in its high byte.
//   - x / 255 for x = 0...255 * 255: ((x * 0x8081) >> 16) >> 7.
//   - (h * 50) / 100 + (v * 50) / 100 for h, v = 0...255: (h >> 1) + (v >> 1),
//     taken from the high bytes as (h' >> 9) + (v' >> 9).
//
// Tables per column are laid out in the order in which a kernel widens
// pixels into lanes, so that narrowing them again puts the pixels back in
// place; PatchColumnLane gives the position.
#ifndef DELBRIN_PATCH_KERNELS_H
#define DELBRIN_PATCH_KERNELS_H

#include <stddef.h>
#include <stdint.h>

enum {
    // The longest rectangle side the multiplying kernels take; longer sides
    // go to the plain kernels, which divide. The multipliers are proven exact
    // up to this length by the tests.
    kMaxMultipliedSide = 8192,
    kLanesPerPixel = 4,
    kDiv255Multiplier = 0x8081,  // x / 255 = (x * 0x8081) >> (16 + 7)
    kDiv255Shift = 7,
};

// ceil(t * 2^24 / n) for t = 0, 1, 2, ... in turn, without a division per
// step: t * 2^24 = quotient * n + remainder.
struct FractionSteps {
    uint32_t n;
    uint32_t quotient;
    uint32_t remainder;
    uint32_t stepQuotient;   // 2^24 / n
    uint32_t stepRemainder;  // 2^24 % n
};

// At t = 0; n >= 1.
inline void StartFractionSteps(FractionSteps* steps, uint32_t n)
{
    steps->n = n;
    steps->quotient = 0;
    steps->remainder = 0;
    steps->stepQuotient = (1u << 24) / n;
    steps->stepRemainder = (1u << 24) % n;
}

// t + 1. The remainder stays below n, so adding one below n never wraps.
inline void NextFractionStep(FractionSteps* steps)
{
    steps->quotient += steps->stepQuotient;
    steps->remainder += steps->stepRemainder;
    if (steps->remainder >= steps->n) {
        steps->remainder -= steps->n;
        steps->quotient++;
    }
}

// ceil(t * 2^24 / n).
inline uint32_t FractionMultiplier(const FractionSteps* steps)
{
    return steps->quotient + (steps->remainder != 0);
}

// The work of one frame's patch, set up once per frame and read by the row
// kernels. Rows of the rectangle are counted from its top row (row 0).
// Column tables hold four 16-bit lanes per column, in the kernels' lane
// order, padded with zeros to paddedWidth columns.
struct PatchPlan {
    int32_t width;        // the rectangle as cut to the frame
    int32_t height;
    int32_t paddedWidth;  // width rounded up to the kernels' block of pixels

    // Where the rectangle's own pixels are read from: the frame itself, or a
    // copy of them when the frame's rows overlap in memory.
    const uint8_t* originTop;    // row 0, left column
    ptrdiff_t      originPitch;  // bytes from one row down to the next

    // Left to right: ceil(k * 2^24 / width) of column k, split into its high
    // byte and low 16 bits, in the three colour lanes.
    uint16_t* acrossHigh;
    uint16_t* acrossLow;
    // Top to bottom: the difference between the rows' top and bottom samples
    // as magnitude and sign (0xFFFF where bottom < top), and 256 * (top - sign),
    // per colour lane.
    uint16_t* downMagnitude;
    uint16_t* downSign;
    uint16_t* downBase;
    // Feathering: the column's weight in the colour lanes, 0 in the fourth.
    // Columns fullFrom...fullTo - 1 weigh 255: in a row that takes nothing
    // off, the patch replaces the frame's pixel there.
    uint16_t* columnWeight;
    int32_t   fullFrom;
    int32_t   fullTo;

    // Per row: ceil(j * 2^24 / height), and what the row takes off every
    // column weight (the row's feather and the frame's fade).
    uint32_t* downMultiplier;
    uint16_t* weightCut;

    uint32_t* patchRow;  // a row of the patch to blend, paddedWidth pixels
};

// The samples of one row of the patch, four 16-bit lanes each (blue in the
// low bits): the difference between the row's left and right samples as
// magnitude and sign, and 256 * (left - sign).
struct PatchRowSamples {
    int32_t  row;
    uint64_t acrossMagnitude;
    uint64_t acrossSign;
    uint64_t acrossBase;
};

struct PatchKernels {
    const char* name;
    int32_t blockPixels;        // pixels per step, a power of two; rows are padded to it
    bool    multiplies;         // reads the multiplier tables (else divides)
    // Lane slot of the pixels of a block, in the order they widen into lanes.
    uint8_t slotOfPixel[8];
    // Sets the top-to-bottom tables from the rows of width pixels the top and
    // bottom samples are taken from.
    void (*setDownTables)(PatchPlan* plan, const uint8_t* top, const uint8_t* bottom);
    // Makes the row's width pixels at out (any address).
    void (*synthesizeRow)(const PatchPlan* plan, const PatchRowSamples* samples, uint8_t* out);
    // Lays width pixels of patchRow into frameRow, weighted by the row's cut
    // of the column weights: a = max(weight - cut, 0); fourth byte 0.
    void (*compositeRow)(const PatchPlan* plan, int32_t row, const uint32_t* patchRow,
                         uint8_t* frameRow);
};

// The first of the column's four lanes in a column table.
inline size_t PatchColumnLane(const PatchKernels* kernels, int32_t column)
{
    int32_t within = column & (kernels->blockPixels - 1);
    return (size_t)(column - within + kernels->slotOfPixel[within]) * kLanesPerPixel;
}

enum PatchKernelSet {
    kPatchKernelsBest,   // the fastest this processor runs
    kPatchKernelsPlain,
    kPatchKernelsSse2,
    kPatchKernelsAvx2,
};

// The kernels of a set, or null when this build or processor lacks them.
// The best set is settled on the first call: AVX2 where the processor and
// the operating system support it (not in a build with
// DELBRIN_WITHOUT_AVX2), else SSE2, else plain.
const PatchKernels* FindPatchKernels(PatchKernelSet set);

extern const PatchKernels kPlainPatchKernels;
#if defined(__x86_64__) || defined(__i386__)
extern const PatchKernels kSse2PatchKernels;
extern const PatchKernels kAvx2PatchKernels;
#endif

#endif
