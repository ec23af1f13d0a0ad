#include <gtest/gtest.h>

#include <limits.h>

#include <vector>

#include "frame_run.h"
#include "test_frames.h"

// One test asks for a patch no allocator can give; under AddressSanitizer
// that must come back as null, as from the plain allocator, not abort.
extern "C" const char* __asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace {

void SetRanges(PatchSettings* s, std::vector<std::pair<int32_t, int32_t>> ranges)
{
    s->rangeCount = (int32_t)ranges.size();
    for (size_t i = 0; i < ranges.size(); i++) {
        s->rangeStart[i] = ranges[i].first;
        s->rangeEnd[i] = ranges[i].second;
    }
}

TEST(FrameAlpha, FadeWindowsAroundRanges)
{
    PatchSettings s{};
    EXPECT_EQ(FrameAlpha(&s, -7), 255);  // no ranges: every frame

    s.fadeFrames = 5;
    SetRanges(&s, { { 100, 200 } });
    const int expected[] = { 0, 51, 102, 153, 204, 255 };
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(FrameAlpha(&s, 95 + i), expected[i]) << 95 + i;
        EXPECT_EQ(FrameAlpha(&s, 205 - i), expected[i]) << 205 - i;
    }
    EXPECT_EQ(FrameAlpha(&s, 150), 255);

    s.fadeFrames = 0;  // the ends themselves are outside
    EXPECT_EQ(FrameAlpha(&s, 100), 0);
    EXPECT_EQ(FrameAlpha(&s, 200), 0);
    EXPECT_EQ(FrameAlpha(&s, 101), 255);
    s.fadeFrames = -3;
    EXPECT_EQ(FrameAlpha(&s, 100), 0);

    s.fadeFrames = 300;  // so long a ramp starts at strength 0: not processed
    EXPECT_EQ(FrameAlpha(&s, 100 - 299), 0);
    EXPECT_EQ(FrameAlpha(&s, 100 - 298), 1);
}

TEST(FrameAlpha, EarlierRangeWins)
{
    PatchSettings s{};
    s.fadeFrames = 5;
    SetRanges(&s, { { 100, 200 }, { -300, 300 } });
    EXPECT_EQ(FrameAlpha(&s, 98), 153);   // in the first one's window, inside the second
    EXPECT_EQ(FrameAlpha(&s, 50), 255);
    EXPECT_EQ(FrameAlpha(&s, 301), 204);
    EXPECT_EQ(FrameAlpha(&s, 95), 255);  // just outside the first one's window

    // A match decides even when its ramp rounds down to nothing.
    s.fadeFrames = 300;
    EXPECT_EQ(FrameAlpha(&s, 100 - 299), 0);
}

TEST(FrameAlpha, ExtremeValuesDoNotOverflow)
{
    PatchSettings s{};
    s.fadeFrames = 5;
    SetRanges(&s, { { INT32_MAX - 1, INT32_MAX } });
    EXPECT_EQ(FrameAlpha(&s, INT32_MAX), 255);
    SetRanges(&s, { { INT32_MIN, INT32_MIN + 10 } });
    EXPECT_EQ(FrameAlpha(&s, INT32_MIN), 255);
    EXPECT_EQ(FrameAlpha(&s, INT32_MAX), 0);

    s.fadeFrames = INT32_MAX;
    SetRanges(&s, { { 0, 10 } });
    EXPECT_EQ(FrameAlpha(&s, -100), 254);
    EXPECT_EQ(FrameAlpha(&s, INT32_MAX), 0);
    s.fadeFrames = INT32_MIN;
    EXPECT_EQ(FrameAlpha(&s, 0), 0);
    EXPECT_EQ(FrameAlpha(&s, 5), 255);
}

TEST(InitSettings, FreshRecordDefaults)
{
    PatchSettings s;
    memset(&s, 0xCD, sizeof s);
    s.rangeText[0] = '\0';
    Activation* activation = reinterpret_cast<Activation*>(&s);  // any address
    EXPECT_EQ(InitSettings(&s, activation), 0);
    EXPECT_EQ(s.activation, activation);
    EXPECT_EQ(SavedNumbersOf(s), (SavedNumbers{ 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5 }));
    EXPECT_EQ(s.showBorder, 0);
    EXPECT_EQ(s.rangeCount, 0);
    // Left alone: the cached size and the range table.
    EXPECT_EQ(s.frameWidth, (int32_t)0xCDCDCDCD);
    EXPECT_EQ(s.rangeStart[0], (int32_t)0xCDCDCDCD);
}

TEST(PixelAt, RowsAreStoredBottomUp)
{
    uint8_t data[6 * 48] = {};
    FrameView view = { data, 10, 6, 48 };
    EXPECT_EQ((uint8_t*)PixelAt(&view, 0, 0), data + 5 * 48);
    EXPECT_EQ((uint8_t*)PixelAt(&view, 3, 5), data + 12);
}

// Blue 255 everywhere in the rectangle but on the samples the patch is made
// of (top and bottom rows, second and last columns), which are black: the
// patch comes out black, so each free pixel shows 255 - a.
void PaintFeatherProbe(TestFrame* f, int32_t w, int32_t h)
{
    for (int32_t r = 0; r < h; r++)
        for (int32_t c = 0; c < w; c++) {
            bool sample = r == 0 || r == h - 1 || c == 1 || c == w - 1;
            SetPixel(f, c, r, sample ? 0 : 0xFF);
        }
    f->settings.width = w;
    f->settings.height = h;
    f->settings.featherOn = 1;
}

// The 8 x 5 feather probe's pixels, row by row.
typedef uint32_t ProbeRectangle[5][8];

void ExpectProbeRectangle(const TestFrame* f, const ProbeRectangle& expected)
{
    for (int32_t r = 0; r < 5; r++)
        for (int32_t c = 0; c < 8; c++)
            EXPECT_EQ(GetPixel(f, c, r), expected[r][c]) << c << "," << r;
}

std::vector<uint32_t> Column(const TestFrame* f, int32_t c, int32_t h)
{
    std::vector<uint32_t> out;
    for (int32_t r = 0; r < h; r++)
        out.push_back(GetPixel(f, c, r));
    return out;
}

TEST(PatchFrame, FeatherProfiles)
{
    TestFrame f;
    InitTestFrame(&f, 12, 8);
    PaintFeatherProbe(&f, 8, 5);
    f.settings.featherWidth = 3;
    PatchTestFrame(&f);
    // 255 - a, with a = column weight + row weight - 255, clamped.
    const ProbeRectangle expected = {
        { 0, 0, 0, 0, 0, 0, 0, 0 },
        { 255, 0, 255, 170, 170, 170, 255, 0 },
        { 255, 0, 170, 85, 85, 85, 170, 0 },
        { 255, 0, 170, 85, 85, 85, 170, 0 },
        { 0, 0, 0, 0, 0, 0, 0, 0 },
    };
    ExpectProbeRectangle(&f, expected);

    // Down the middle column the weight is the row weight alone.
    InitTestFrame(&f, 22, 30);
    PaintFeatherProbe(&f, 22, 30);
    PatchTestFrame(&f);
    std::vector<uint32_t> rows = { 0, 25, 51, 76, 102, 127, 153, 178, 204, 229 };
    rows.resize(21, 255);
    for (int i = 9; i >= 1; i--)
        rows.push_back(rows[i]);
    for (uint32_t& v : rows)
        v = 255 - v;
    rows.front() = rows.back() = 0;  // the black sample rows
    EXPECT_EQ(Column(&f, 10, 30), rows);

    // Where the ramps overlap, the top one decides.
    InitTestFrame(&f, 11, 7);
    PaintFeatherProbe(&f, 11, 7);
    f.settings.featherWidth = 5;
    PatchTestFrame(&f);
    EXPECT_EQ(Column(&f, 5, 7), (std::vector<uint32_t>{ 0, 204, 153, 102, 51, 153, 0 }));
}

TEST(PatchFrame, FeatherAndFadeTogether)
{
    // Frame 201 lies in the fade-out window of 100...200 with 5 frames of
    // fade: alpha 204 takes 51 off every feather weight, clamped at 0.
    TestFrame f;
    InitTestFrame(&f, 12, 8);
    PaintFeatherProbe(&f, 8, 5);
    f.settings.featherWidth = 3;
    f.settings.fadeOn = 1;
    f.settings.fadeFrames = 5;
    SetRanges(&f.settings, { { 100, 200 } });
    f.frameNumber = 201;
    PatchTestFrame(&f);
    const ProbeRectangle expected = {
        { 0, 0, 0, 0, 0, 0, 0, 0 },
        { 255, 0, 255, 221, 221, 221, 255, 0 },
        { 255, 0, 221, 136, 136, 136, 221, 0 },
        { 255, 0, 221, 136, 136, 136, 221, 0 },
        { 0, 0, 0, 0, 0, 0, 0, 0 },
    };
    ExpectProbeRectangle(&f, expected);
}

TEST(PatchFrame, CompositingOfOnePixel)
{
    // With the border on, a 1 x 1 patch is one white pixel, fourth byte 0xFF.
    struct Case { uint8_t feather; int32_t width; uint8_t fade; uint32_t out; };
    const Case cases[] = {
        { 0, 10, 0, 0xFFFFFFFF },  // stored verbatim
        { 1, 0, 0, 0x00FFFFFF },   // empty ramps: full weight
        { 1, INT32_MIN, 0, 0x00FFFFFF },
        { 0, 10, 1, 0x00FFFFFF },  // alpha 255
        { 1, 1, 0, 0x00102030 },   // the first column and row weigh 0
        { 1, INT32_MAX, 1, 0x00102030 },
    };
    for (const Case& c : cases) {
        TestFrame f;
        InitTestFrame(&f, 3, 3);
        SetPixel(&f, 1, 1, 0xAA102030);
        f.settings.x = f.settings.y = 1;
        f.settings.showBorder = 1;
        f.settings.featherOn = c.feather;
        f.settings.featherWidth = c.width;
        f.settings.fadeOn = c.fade;
        EXPECT_TRUE(PatchTestFrame(&f));
        EXPECT_EQ(GetPixel(&f, 1, 1), c.out) << (int)c.feather << " " << c.width;
        EXPECT_EQ(f.settings.patchPixels, nullptr);
    }
}

TEST(PatchFrame, FadeScalesEachProductOnItsOwn)
{
    TestFrame f;
    InitTestFrame(&f, 4, 4);
    SetPixel(&f, 2, 2, 0x7F7F7F7F);  // patch 0x7E in each channel
    f.settings.x = f.settings.y = 2;
    f.settings.fadeOn = 1;
    SetRanges(&f.settings, { { 100, 200 } });
    f.frameNumber = 98;  // alpha 153
    PatchTestFrame(&f);
    // 127 * 102 / 255 + 126 * 153 / 255 = 50 + 75, where one division gives 126.
    EXPECT_EQ(GetPixel(&f, 2, 2), 0x007D7D7Du);
}

TEST(PatchFrame, RangeGatingWithoutFade)
{
    // Defaults: fade off, 5 frames of window; the windows get the full patch.
    std::vector<uint8_t> full;
    for (int32_t cur : { 15, 6, 24, 5, 25 }) {
        TestFrame f;
        InitTestFrame(&f, 8, 8);
        std::vector<uint8_t> before = f.bytes;
        SetRectangle(&f.settings, 4, 4, 2, 2);
        SetRanges(&f.settings, { { 10, 20 } });
        f.frameNumber = cur;
        PatchTestFrame(&f);
        if (cur == 15)
            full = f.bytes;
        if (cur == 5 || cur == 25)
            EXPECT_EQ(f.bytes, before) << cur;
        else
            EXPECT_EQ(f.bytes, full) << cur;
    }
}

TEST(PatchFrame, TopRowIsTheLastStoredRow)
{
    TestFrame f;
    InitTestFrame(&f, 5, 4);
    SetRectangle(&f.settings, 3, 2, 0, 0);
    f.settings.showBorder = 1;
    PatchTestFrame(&f);
    const uint8_t* lastStored = f.bytes.data() + kGuardBytes + 3 * f.view.pitch;
    uint32_t first;
    memcpy(&first, lastStored, 4);
    EXPECT_EQ(first, 0xFFFFFFFFu);
}

// A rectangle reaching out of the frame patches exactly its part inside.
TEST(PatchFrame, RectangleCutToTheFrame)
{
    struct Case { int32_t x, y, w, h; int32_t cx, cy, cw, ch; };
    const Case cases[] = {
        { -3, 2, 6, 4, 0, 2, 3, 4 },
        { 2, -5, 4, 7, 2, 0, 4, 2 },
        { 7, 3, 9, 2, 7, 3, 3, 2 },
        { 1, 5, 3, 40, 1, 5, 3, 2 },
        { -4, -4, 100, 100, 0, 0, 10, 7 },
        { INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 0, 0, 0 },
        { INT32_MAX, 2, INT32_MAX, 2, 0, 0, 0, 0 },
        { 2, 2, 0, 3, 0, 0, 0, 0 },
        { 2, 2, 3, -3, 0, 0, 0, 0 },
        { 10, 0, 1, 1, 0, 0, 0, 0 },
    };
    for (const Case& c : cases) {
        TestFrame f, clipped;
        for (TestFrame* t : { &f, &clipped }) {
            InitTestFrame(t, 10, 7);
            t->settings.featherOn = t->settings.fadeOn = t->settings.showBorder = 1;
            t->settings.featherWidth = 2;
        }
        std::vector<uint8_t> before = f.bytes;
        SetRectangle(&f.settings, c.w, c.h, c.x, c.y);
        PatchTestFrame(&f);
        EXPECT_EQ(BytesChangedOutside(&f, before, c.cx, c.cy, c.cw, c.ch), 0) << c.x << "," << c.y;

        if (c.cw > 0) {
            SetRectangle(&clipped.settings, c.cw, c.ch, c.cx, c.cy);
            PatchTestFrame(&clipped);
            EXPECT_EQ(f.bytes, clipped.bytes) << c.x << "," << c.y;
        }
    }
}

}  // namespace
