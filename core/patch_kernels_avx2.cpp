// The row kernels on 256-bit AVX2 vectors: four pixels per vector. Only
// processors that have AVX2, with an operating system that saves its
// registers, run them (FindPatchKernels); the functions carry the
// instruction set themselves, so nothing else in the build uses it.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#include <string.h>

#include "patch_kernels.h"

#define KERNEL_INLINE static inline __attribute__((target("avx2"), always_inline))
#if defined(__i386__)
// A 32-bit host calls with the stack aligned to 4 bytes only.
#define KERNEL_ENTRY static __attribute__((target("avx2"), force_align_arg_pointer))
#else
#define KERNEL_ENTRY static __attribute__((target("avx2")))
#endif
#define KERNEL_NAME(name) name##Avx2

typedef __m256i Vec;
enum { kVecLanes = 16 };

KERNEL_INLINE Vec VecLoad(const void* p) { return _mm256_loadu_si256((const __m256i*)p); }
KERNEL_INLINE void VecStore(void* p, Vec v) { _mm256_storeu_si256((__m256i*)p, v); }
KERNEL_INLINE Vec VecSplat(uint16_t v) { return _mm256_set1_epi16((short)v); }
KERNEL_INLINE Vec VecPixelPattern(uint64_t lanes) { return _mm256_set1_epi64x((long long)lanes); }
KERNEL_INLINE Vec VecWidenLow(Vec bytes) { return _mm256_unpacklo_epi8(bytes, _mm256_setzero_si256()); }
KERNEL_INLINE Vec VecWidenHigh(Vec bytes) { return _mm256_unpackhi_epi8(bytes, _mm256_setzero_si256()); }
KERNEL_INLINE Vec VecNarrow(Vec low, Vec high) { return _mm256_packus_epi16(low, high); }
KERNEL_INLINE Vec VecAdd(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
KERNEL_INLINE Vec VecSub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
KERNEL_INLINE Vec VecAnd(Vec a, Vec b) { return _mm256_and_si256(a, b); }
KERNEL_INLINE Vec VecLess(Vec a, Vec b) { return _mm256_cmpgt_epi16(b, a); }
KERNEL_INLINE Vec VecXor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
KERNEL_INLINE Vec VecMulLow(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
KERNEL_INLINE Vec VecMulHigh(Vec a, Vec b) { return _mm256_mulhi_epu16(a, b); }
KERNEL_INLINE Vec VecSubSaturate(Vec a, Vec b) { return _mm256_subs_epu16(a, b); }
#define VecShiftRight(v, n) _mm256_srli_epi16(v, n)
#define VecShiftLeft(v, n) _mm256_slli_epi16(v, n)

#include "patch_kernels_template.h"

// The 256-bit unpacks work within each 128-bit half, so a block of eight
// pixels widens into pixels 0, 1, 4, 5 and 2, 3, 6, 7.
const PatchKernels kAvx2PatchKernels = {
    "avx2", kBlockPixels, true, { 0, 1, 4, 5, 2, 3, 6, 7 }, SetDownTablesAvx2,
    SynthesizeRowAvx2, CompositeRowAvx2,
};

#endif
