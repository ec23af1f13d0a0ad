// Palette pictures of a frame's own colours: a frame of 256 colours or fewer
// goes through unchanged, whatever its RGB layout; one of more takes the
// nearest of the fixed palette.
#include <gtest/gtest.h>

#include <random>

#include "av_owners.h"
#include "palette_frame.h"

namespace {

FramePtr RandomFrame(AVPixelFormat format, int colours, uint32_t seed) {
    FramePtr frame(av_frame_alloc());
    frame->format = format;
    frame->width = 37;  // odd, so rows have padding
    frame->height = 23;
    EXPECT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    std::mt19937 random(seed);
    std::vector<uint32_t> set(colours);
    for (uint32_t& c : set) c = random() | 0xFF000000u;
    const int bytes = format == AV_PIX_FMT_RGB24 ? 3 : 4;
    for (int y = 0; y < frame->height; y++)
        for (int x = 0; x < frame->width; x++) {
            const uint32_t c = set[random() % set.size()];
            uint8_t* p = frame->data[0] + y * frame->linesize[0] + x * bytes;
            if (bytes == 3) {
                p[0] = c >> 16, p[1] = c >> 8, p[2] = c;
            } else {
                memcpy(p, &c, 4);  // RGB32: native-endian ARGB
            }
        }
    return frame;
}

uint32_t ColourAt(const AVFrame* f, int x, int y) {
    if (f->format == AV_PIX_FMT_PAL8)
        return reinterpret_cast<const uint32_t*>(f->data[1])[f->data[0][y * f->linesize[0] + x]];
    const uint8_t* p = f->data[0] + y * f->linesize[0] + x * (f->format == AV_PIX_FMT_RGB24 ? 3 : 4);
    if (f->format == AV_PIX_FMT_RGB24) return 0xFF000000u | p[0] << 16 | p[1] << 8 | p[2];
    uint32_t c;
    memcpy(&c, p, 4);
    return c;
}

TEST(PaletteFrame, FewColoursGoThroughUnchanged) {
    for (AVPixelFormat format : {AV_PIX_FMT_RGB32, AV_PIX_FMT_RGB24})
        for (int colours : {1, 2, 200, 256})
            for (uint32_t seed = 1; seed <= 3; seed++) {
                FramePtr frame = RandomFrame(format, colours, seed);
                FrameConverter converter;
                ASSERT_TRUE(GivesPalette(format));
                const FramePalette palette = PaletteOf(&converter, frame.get());
                ASSERT_TRUE(palette.own) << colours;
                FramePtr mapped(av_frame_alloc());
                MediaError error;
                ASSERT_TRUE(MapToPalette(&converter, frame.get(), palette, mapped.get(), &error)) << error.message;
                ASSERT_EQ(mapped->format, AV_PIX_FMT_PAL8);
                for (int y = 0; y < frame->height; y++)
                    for (int x = 0; x < frame->width; x++)
                        ASSERT_EQ(ColourAt(mapped.get(), x, y), ColourAt(frame.get(), x, y))
                            << colours << " colours, seed " << seed << " at " << x << "," << y;
            }
}

TEST(PaletteFrame, ManyColoursTakeTheNearestFixedColour) {
    FramePtr frame = RandomFrame(AV_PIX_FMT_RGB32, 5000, 7);
    FrameConverter converter;
    const FramePalette palette = PaletteOf(&converter, frame.get());
    EXPECT_FALSE(palette.own);
    FramePtr mapped(av_frame_alloc());
    MediaError error;
    ASSERT_TRUE(MapToPalette(&converter, frame.get(), palette, mapped.get(), &error)) << error.message;
    auto distance = [](uint32_t a, uint32_t b) {
        int sum = 0;
        for (int s = 0; s < 32; s += 8) sum += (int((a >> s) & 255) - int((b >> s) & 255)) * (int((a >> s) & 255) - int((b >> s) & 255));
        return sum;
    };
    for (int y = 0; y < frame->height; y++)
        for (int x = 0; x < frame->width; x++) {
            const uint32_t want = ColourAt(frame.get(), x, y), got = ColourAt(mapped.get(), x, y);
            for (int i = 0; i < palette.count; i++)
                ASSERT_LE(distance(want, got), distance(want, palette.colours[i])) << x << "," << y;
        }
}

}  // namespace
