#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "frame_cases.h"
#include "frame_run.h"
#include "patch_kernels.h"
#include "patch_oracle.h"

namespace {

// The kernels' quotient of a * m / 2^24 from 16-bit lanes: a times the
// multiplier's high byte, plus the high half of a times its low 16 bits,
// shifted down by 8. The sum must fit a lane; a sum that would not comes
// back as no quotient at all.
uint32_t LaneQuotient(uint32_t a, uint32_t m)
{
    uint32_t sum = a * (m >> 16) + ((a * (m & 0xFFFF)) >> 16);
    return sum < 0x10000u ? sum >> 8 : UINT32_MAX;
}

// For every side n the multiplying kernels take, every position t < n and
// every channel difference a = 0...255, the kernels' quotient is a * t / n.
// For fixed n and a both are non-decreasing in t (the multipliers grow with
// t), so they agree on a whole stretch of t over which a * t / n stays the
// same once they agree at its two ends; the ends of every stretch are checked.
TEST(PatchKernels, MultipliersAreExactForEverySide)
{
    std::vector<uint32_t> multiplier;
    for (uint32_t n = 1; n <= kMaxMultipliedSide; n++) {
        multiplier.resize(n);
        FractionSteps steps;
        StartFractionSteps(&steps, n);
        for (uint32_t t = 0; t < n; t++, NextFractionStep(&steps)) {
            multiplier[t] = FractionMultiplier(&steps);
            uint64_t scaled = (uint64_t)t << 24;
            ASSERT_EQ(multiplier[t], (scaled + n - 1) / n) << t << "/" << n;
        }

        for (uint32_t a = 1; a <= 255; a++) {
            // The stretch of t where a * t / n = q ends before
            // ceil((q + 1) * n / a), stepped without dividing: n = whole * a + part.
            const uint32_t whole = n / a, part = n % a;
            uint32_t start = 0, end = 0, carry = 0;  // (q + 1) * n = end * a - carry
            for (uint32_t q = 0; start < n; q++) {
                end += whole;
                if (carry >= part) {
                    carry -= part;
                } else {
                    end += 1;
                    carry += a - part;
                }
                uint32_t last = (end < n ? end : n) - 1;
                if (last >= start) {
                    if (LaneQuotient(a, multiplier[start]) != q ||
                        LaneQuotient(a, multiplier[last]) != q)
                        FAIL() << a << " * " << start << "..." << last << " / " << n;
                    start = last + 1;
                }
            }
        }
    }
}

TEST(PatchKernels, DivisionsBy255And100)
{
    // The blend's products: 0...255 * 255.
    for (uint32_t x = 0; x <= 255 * 255; x++)
        ASSERT_EQ(((x * kDiv255Multiplier) >> 16) >> kDiv255Shift, x / 255) << x;
    // The synthesis's halves of two blends of 0...255.
    for (int32_t h = 0; h <= 255; h++)
        ASSERT_EQ((h * 50) / 100, h >> 1);
}

// Every case patched by the oracle and by the kernels, from the same frame
// and the same settings: the same answer and the same bytes, guards included.
void ExpectKernelsMatchOracle(PatchKernelSet set)
{
    const PatchKernels* kernels = FindPatchKernels(set);
    ASSERT_NE(kernels, nullptr);
    const std::vector<FrameCase> cases = MakeFrameCases({ 16, true });
    size_t patched = 0;
    for (const FrameCase& c : cases) {
        CaseFrame expected, actual;
        MakeCaseFrame(c, &expected);
        MakeCaseFrame(c, &actual);
        PatchSettings oracleSettings, settings;
        ApplyCaseSettings(c, &oracleSettings);
        ApplyCaseSettings(c, &settings);

        bool oracleAnswer = OraclePatchFrame(&oracleSettings, expected.view, c.frameNumber);
        bool answer = PatchFrameWith(&settings, actual.view, c.frameNumber, kernels);
        ASSERT_EQ(answer, oracleAnswer) << DescribeFrameCase(c);
        ASSERT_EQ(settings.patchPixels, nullptr);
        if (actual.bytes != expected.bytes) {
            size_t i = 0;
            while (actual.bytes[i] == expected.bytes[i])
                i++;
            FAIL() << kernels->name << ": byte " << i << " is " << (int)actual.bytes[i]
                   << ", not " << (int)expected.bytes[i] << "; " << DescribeFrameCase(c);
        }
        patched += answer;
    }
    printf("%zu cases, %zu of them patched, alike with the %s kernels\n", cases.size(), patched,
           kernels->name);
}

TEST(PatchKernels, PlainMatchesOracle)
{
    ExpectKernelsMatchOracle(kPatchKernelsPlain);
}

TEST(PatchKernels, Sse2MatchesOracle)
{
    if (FindPatchKernels(kPatchKernelsSse2) == nullptr)
        GTEST_SKIP() << "no SSE2 here";
    ExpectKernelsMatchOracle(kPatchKernelsSse2);
}

TEST(PatchKernels, Avx2MatchesOracle)
{
    if (FindPatchKernels(kPatchKernelsAvx2) == nullptr)
        GTEST_SKIP() << "no AVX2 here";
    ExpectKernelsMatchOracle(kPatchKernelsAvx2);
}

}  // namespace
