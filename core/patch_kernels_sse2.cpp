// The row kernels on 128-bit SSE2 vectors: two pixels per vector. Every x86
// processor that runs a current Windows has SSE2, so this is the 32-bit
// module's baseline; the functions carry the instruction set themselves, so
// the rest of the build keeps its own code generation.
#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#include <string.h>

#include "patch_kernels.h"

#define KERNEL_INLINE static inline __attribute__((target("sse2"), always_inline))
#if defined(__i386__)
// A 32-bit host calls with the stack aligned to 4 bytes only.
#define KERNEL_ENTRY static __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define KERNEL_ENTRY static __attribute__((target("sse2")))
#endif
#define KERNEL_NAME(name) name##Sse2

typedef __m128i Vec;
enum { kVecLanes = 8 };

KERNEL_INLINE Vec VecLoad(const void* p) { return _mm_loadu_si128((const __m128i*)p); }
KERNEL_INLINE void VecStore(void* p, Vec v) { _mm_storeu_si128((__m128i*)p, v); }
KERNEL_INLINE Vec VecSplat(uint16_t v) { return _mm_set1_epi16((short)v); }
KERNEL_INLINE Vec VecPixelPattern(uint64_t lanes) { return _mm_set1_epi64x((long long)lanes); }
KERNEL_INLINE Vec VecWidenLow(Vec bytes) { return _mm_unpacklo_epi8(bytes, _mm_setzero_si128()); }
KERNEL_INLINE Vec VecWidenHigh(Vec bytes) { return _mm_unpackhi_epi8(bytes, _mm_setzero_si128()); }
KERNEL_INLINE Vec VecNarrow(Vec low, Vec high) { return _mm_packus_epi16(low, high); }
KERNEL_INLINE Vec VecAdd(Vec a, Vec b) { return _mm_add_epi16(a, b); }
KERNEL_INLINE Vec VecSub(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
KERNEL_INLINE Vec VecAnd(Vec a, Vec b) { return _mm_and_si128(a, b); }
KERNEL_INLINE Vec VecLess(Vec a, Vec b) { return _mm_cmplt_epi16(a, b); }
KERNEL_INLINE Vec VecXor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
KERNEL_INLINE Vec VecMulLow(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
KERNEL_INLINE Vec VecMulHigh(Vec a, Vec b) { return _mm_mulhi_epu16(a, b); }
KERNEL_INLINE Vec VecSubSaturate(Vec a, Vec b) { return _mm_subs_epu16(a, b); }
#define VecShiftRight(v, n) _mm_srli_epi16(v, n)
#define VecShiftLeft(v, n) _mm_slli_epi16(v, n)

#include "patch_kernels_template.h"

// A block of four pixels widens into pixels 0, 1 and 2, 3: the natural order.
const PatchKernels kSse2PatchKernels = {
    "sse2", kBlockPixels, true, { 0, 1, 2, 3 }, SetDownTablesSse2,
    SynthesizeRowSse2, CompositeRowSse2,
};

#endif
