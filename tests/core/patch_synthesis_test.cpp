#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "frame_run.h"

namespace {

struct Switches {
    bool top, bottom, left, right, border;
};

// The patch made of a w x h area: the frame is the area (and any rows given
// below it), the rectangle covers the area, and neither feather nor fade is
// on, so afterwards the frame holds the patch verbatim. Pixels are given and
// returned row by row from the top. Every set of kernels this processor runs
// must make the same patch.
std::vector<uint32_t> Synthesize(const std::vector<uint32_t>& pixels, int32_t w, int32_t h,
                                 Switches sw = {})
{
    const int32_t frameHeight = (int32_t)pixels.size() / w;
    std::vector<uint32_t> first;
    for (PatchKernelSet set : { kPatchKernelsPlain, kPatchKernelsSse2, kPatchKernelsAvx2 }) {
        const PatchKernels* kernels = FindPatchKernels(set);
        if (kernels == nullptr)
            continue;
        // Stored bottom-up: the area's top row is the frame's last stored row.
        std::vector<uint32_t> stored(pixels.size());
        for (int32_t r = 0; r < frameHeight; r++)
            memcpy(&stored[(size_t)(frameHeight - 1 - r) * w], &pixels[(size_t)r * w], 4 * w);
        FrameView frame = { (uint8_t*)stored.data(), w, frameHeight, 4 * w };

        PatchSettings s{};
        s.cancelTop = sw.top;
        s.cancelBottom = sw.bottom;
        s.cancelLeft = sw.left;
        s.cancelRight = sw.right;
        s.showBorder = sw.border;
        s.width = w;
        s.height = h;
        EXPECT_TRUE(PatchFrameWith(&s, frame, 0, kernels));

        std::vector<uint32_t> out(pixels.size());
        for (int32_t r = 0; r < frameHeight; r++)
            memcpy(&out[(size_t)r * w], &stored[(size_t)(frameHeight - 1 - r) * w], 4 * w);
        if (first.empty())
            first = out;
        EXPECT_EQ(out, first) << kernels->name;
    }
    return first;
}

std::vector<uint32_t> Red(const std::vector<uint32_t>& v)
{
    std::vector<uint32_t> out;
    for (uint32_t p : v)
        out.push_back(p >> 16 & 0xFF);
    return out;
}

// Red values from plain numbers.
std::vector<uint32_t> Shifted(const std::vector<uint32_t>& red)
{
    std::vector<uint32_t> out;
    for (uint32_t v : red)
        out.push_back(v << 16);
    return out;
}

TEST(PatchSynthesis, WorkedExamples)
{
    EXPECT_EQ(Synthesize({ 0x100000, 0x200000, 0x300000, 0x400000 }, 4, 1),
              (std::vector<uint32_t>{ 0x180000, 0x240000, 0x300000, 0x3C0000 }));

    EXPECT_EQ(Synthesize({ 0x04030201, 0x08070605, 0x0C0B0A09,
                           0x100F0E0D, 0x14131211, 0x18171615 }, 3, 2),
              (std::vector<uint32_t>{ 0x00040402, 0x00070605, 0x00090907,
                                      0x000D0D0B, 0x00100F0E, 0x00121110 }));

    // A flat area keeps its colour less each channel's lowest bit.
    std::vector<uint32_t> flat(12, 0x80FFFFFF);
    EXPECT_EQ(Synthesize(flat, 4, 3), std::vector<uint32_t>(12, 0x00FEFEFE));
}

TEST(PatchSynthesis, HorizontalCancelsSwapSamplesAndTruncateTowardZero)
{
    // The left sample is the second pixel (0x30), the right one the last
    // (0x92); the fall from 0x92 to 0x30 over a third truncates toward zero.
    const std::vector<uint32_t> row = { 0x000000, 0x300000, 0x920000 };
    EXPECT_EQ(Red(Synthesize(row, 3, 1)), (std::vector<uint32_t>{ 24, 64, 129 }));
    EXPECT_EQ(Red(Synthesize(row, 3, 1, { false, false, true, true, false })),
              (std::vector<uint32_t>{ 73, 81, 113 }));
    EXPECT_EQ(Red(Synthesize(row, 3, 1, { false, false, true, false, false })),
              (std::vector<uint32_t>{ 73, 97, 146 }));
    EXPECT_EQ(Red(Synthesize(row, 3, 1, { false, false, false, true, false })),
              (std::vector<uint32_t>{ 24, 48, 97 }));
}

TEST(PatchSynthesis, LaterRowsReadTheSynthesizedTopRow)
{
    // Blue only; two columns, so the horizontal term is each row's second pixel.
    const std::vector<uint32_t> area = { 10, 20, 30, 40, 100, 200 };
    EXPECT_EQ(Synthesize(area, 2, 3), (std::vector<uint32_t>{ 15, 20, 41, 60, 135, 170 }));
    // Upside down: from the copied bottom row toward the synthesized top row.
    EXPECT_EQ(Synthesize(area, 2, 3, { true, true, false, false, false }),
              (std::vector<uint32_t>{ 60, 110, 63, 105, 137, 170 }));
}

TEST(PatchSynthesis, SingleVerticalCancels)
{
    const std::vector<uint32_t> area = { 10, 40, 70, 100, 130, 160, 200, 220, 240 };
    // Bottom cancelled: every row interpolates toward the top row, which from
    // the second row on already holds its synthesized values.
    EXPECT_EQ(Red(Synthesize(Shifted(area), 3, 3, { false, true, false, false, false })),
              (std::vector<uint32_t>{ 25, 45, 65, 77, 92, 107, 122, 135, 148 }));
    // Top cancelled: both vertical samples are the copied bottom row.
    EXPECT_EQ(Red(Synthesize(Shifted(area), 3, 3, { true, false, false, false, false })),
              (std::vector<uint32_t>{ 120, 135, 150, 165, 180, 195, 210, 223, 236 }));
}

TEST(PatchSynthesis, OnePixelWideStaysInsideTheBuffer)
{
    // The element after the patch is not the patch's: the last row must not
    // take it as its left sample.
    EXPECT_EQ(Synthesize({ 10, 20, 30, 250 }, 1, 3), (std::vector<uint32_t>{ 15, 25, 27, 250 }));

    EXPECT_EQ(Synthesize({ 0x00FF00FF }, 1, 1), (std::vector<uint32_t>{ 0x00FE00FE }));
}

TEST(PatchSynthesis, DottedBorder)
{
    const uint32_t W = 0xFFFFFFFF, B = 0;
    std::vector<uint32_t> p = Synthesize(std::vector<uint32_t>(16, 0x00808080), 4, 4,
                                         { false, false, false, false, true });
    EXPECT_EQ(p, (std::vector<uint32_t>{ W, B, W, W,
                                         B, 0x808080, 0x808080, B,
                                         W, 0x808080, 0x808080, W,
                                         B, B, W, B }));

    p = Synthesize(std::vector<uint32_t>(15, 0x00808080), 5, 3, { false, false, false, false, true });
    EXPECT_EQ(p[0], W);
    EXPECT_EQ(p[4], W);
    EXPECT_EQ(p[10], W);
    EXPECT_EQ(p[14], W);
    EXPECT_EQ(p[5], B);
    EXPECT_EQ(p[6], 0x808080u);
}

}  // namespace
