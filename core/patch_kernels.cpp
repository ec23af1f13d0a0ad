// The plain row kernels, which divide, and the choice of kernels for this
// processor.
#include "patch_kernels.h"

#include <string.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

// A sample from its table entries: base = 256 * (sample - sign), in 16 bits.
static int32_t Unbased(uint16_t base, uint16_t sign)
{
    return (uint8_t)((base >> 8) + sign);
}

static uint16_t Lane(uint64_t lanes, int c)
{
    return (uint16_t)(lanes >> (16 * c));
}

static int32_t Signed(uint16_t size, uint16_t sign)
{
    return sign ? -(int32_t)size : (int32_t)size;
}

// The top-to-bottom tables: per column and colour, the difference from the
// top sample to the bottom one as magnitude and sign, and the top sample.
static void SetDownTablesPlain(PatchPlan* plan, const uint8_t* top, const uint8_t* bottom)
{
    for (int32_t k = 0; k < plan->width; k++) {
        size_t lane = (size_t)k * kLanesPerPixel;
        for (int c = 0; c < 3; c++) {
            int32_t t = top[4 * k + c];
            int32_t d = bottom[4 * k + c] - t;
            int32_t sign = d < 0 ? -1 : 0;
            plan->downMagnitude[lane + c] = (uint16_t)(d < 0 ? -d : d);
            plan->downSign[lane + c] = (uint16_t)sign;
            plan->downBase[lane + c] = (uint16_t)(256 * (t - sign));
        }
    }
}

// The patch's arithmetic as written: every division is one, taken in 64
// bits, so any rectangle size is fine.
static void SynthesizeRowPlain(const PatchPlan* plan, const PatchRowSamples* samples,
                               uint8_t* out)
{
    const int64_t w = plan->width;
    const int64_t h = plan->height;
    const int64_t j = samples->row;
    for (int32_t k = 0; k < plan->width; k++) {
        uint32_t pixel = 0;
        for (int c = 0; c < 3; c++) {
            size_t lane = (size_t)k * kLanesPerPixel + c;
            uint16_t sign  = Lane(samples->acrossSign, c);
            int32_t left   = Unbased(Lane(samples->acrossBase, c), sign);
            int32_t across = Signed(Lane(samples->acrossMagnitude, c), sign);
            int32_t top    = Unbased(plan->downBase[lane], plan->downSign[lane]);
            int32_t down   = Signed(plan->downMagnitude[lane], plan->downSign[lane]);
            int32_t hv = left + (int32_t)(((int64_t)k * across) / w);
            int32_t vv = top + (int32_t)((down * j) / h);
            pixel |= (uint32_t)((hv * 50) / 100 + (vv * 50) / 100) << (8 * c);
        }
        memcpy(out + (size_t)4 * k, &pixel, sizeof pixel);
    }
}

static void CompositeRowPlain(const PatchPlan* plan, int32_t row, const uint32_t* patchRow,
                              uint8_t* frameRow)
{
    const int32_t cut = plan->weightCut[row];
    for (int32_t k = 0; k < plan->width; k++) {
        uint8_t* pixel = frameRow + (size_t)4 * k;
        uint32_t q = patchRow[k];
        for (int c = 0; c < 3; c++) {
            int32_t a = plan->columnWeight[(size_t)k * kLanesPerPixel + c] - cut;
            a = a < 0 ? 0 : a;
            int32_t p = pixel[c];
            int32_t qc = (q >> (8 * c)) & 0xFF;
            pixel[c] = (uint8_t)((p * (255 - a)) / 255 + (qc * a) / 255);
        }
        pixel[3] = 0;
    }
}

const PatchKernels kPlainPatchKernels = {
    "plain", 1, false, { 0 }, SetDownTablesPlain, SynthesizeRowPlain, CompositeRowPlain,
};

#if defined(__x86_64__) || defined(__i386__)
static bool ProcessorHasSse2(void)
{
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2);
}

#if !defined(DELBRIN_WITHOUT_AVX2)  // a build for testing and timing the SSE2 kernels
static uint64_t ExtendedStateEnabled(void)
{
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return ((uint64_t)high << 32) | low;
}

// AVX2 needs the processor's instructions and an operating system that saves
// the 256-bit registers on a task switch (XCR0 bits 1 and 2, readable once
// OSXSAVE is set).
static bool ProcessorHasAvx2(void)
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    if (!(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    if ((ExtendedStateEnabled() & 0x6) != 0x6)
        return false;
    if (__get_cpuid_max(0, NULL) < 7)
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX2) != 0;
}
#endif
#endif

static const PatchKernels* BestPatchKernels(void)
{
#if defined(__x86_64__) || defined(__i386__)
#if !defined(DELBRIN_WITHOUT_AVX2)
    if (ProcessorHasAvx2())
        return &kAvx2PatchKernels;
#endif
    if (ProcessorHasSse2())
        return &kSse2PatchKernels;
#endif
    return &kPlainPatchKernels;
}

const PatchKernels* FindPatchKernels(PatchKernelSet set)
{
    // Asked once: identifying the processor can cost a trip to the
    // hypervisor. The initialisation of a local static is thread-safe.
    static const PatchKernels* const best = BestPatchKernels();
    switch (set) {
    case kPatchKernelsBest:
        return best;
    case kPatchKernelsPlain:
        return &kPlainPatchKernels;
#if defined(__x86_64__) || defined(__i386__)
    case kPatchKernelsSse2:
        return best != &kPlainPatchKernels ? &kSse2PatchKernels : NULL;
    case kPatchKernelsAvx2:
        return best == &kAvx2PatchKernels ? &kAvx2PatchKernels : NULL;
#endif
    default:
        return NULL;
    }
}
