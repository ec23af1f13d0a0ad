// The conversion window against the whole frame: for random pictures,
// rectangles and settings, patching through windows gives exactly what
// converting the whole frame to BGRA, running the core on it and converting
// it back gives inside each rounded-out rectangle, and the decoded bytes
// everywhere else, alpha kept everywhere. Formats that cannot be patched
// where they are go through one whole-frame conversion first.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "av_owners.h"
#include "frame_convert.h"
#include "frame_ranges.h"
#include "frame_run.h"
#include "region_patch.h"

namespace {

using Random = std::mt19937;

// libswscale warns that it has no full-chroma path for the 16-bit RGB
// formats on every context; the tests need only its errors.
const int kQuietLibraries = (av_log_set_level(AV_LOG_ERROR), 0);

int Uniform(Random& random, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }

// av_write_image_line2 ORs into the picture, so the sample is cleared first.
void SetSample(AVFrame* frame, int c, int x, int y, uint16_t v) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    const AVComponentDescriptor& comp = desc->comp[c];
    uint8_t* p = frame->data[comp.plane] + y * frame->linesize[comp.plane] + x * comp.step + comp.offset;
    const unsigned mask = ((1u << comp.depth) - 1) << comp.shift;
    if (comp.depth + comp.shift <= 8) {
        p[0] &= ~mask;
    } else {
        const unsigned kept = ((p[1] << 8) | p[0]) & ~mask;  // little-endian formats only here
        p[0] = kept & 0xFF;
        p[1] = kept >> 8;
    }
    av_write_image_line2(&v, frame->data, frame->linesize, desc, x, y, c, 1, 2);
}

// A frame of noise: every sample random within the format's depth.
FramePtr NoiseFrame(AVPixelFormat format, int width, int height, Random& random) {
    FramePtr f(av_frame_alloc());
    f->format = format;
    f->width = width;
    f->height = height;
    EXPECT_GE(av_frame_get_buffer(f.get(), 0), 0);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    for (int c = 0; c < desc->nb_components; c++) {
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int w = chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        const int h = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                SetSample(f.get(), c, x, y, static_cast<uint16_t>(Uniform(random, 0, (1 << desc->comp[c].depth) - 1)));
    }
    f->colorspace = AVCOL_SPC_BT709;
    f->color_range = AVCOL_RANGE_MPEG;
    return f;
}

FramePtr Copy(const AVFrame* frame) {
    FramePtr c(av_frame_alloc());
    c->format = frame->format;
    c->width = frame->width;
    c->height = frame->height;
    EXPECT_GE(av_frame_get_buffer(c.get(), 0), 0);
    av_frame_copy(c.get(), frame);
    av_frame_copy_props(c.get(), frame);
    return c;
}

// Calls f(component, x, y, inside R) for every sample of the picture, in the
// component's own grid.
template <typename F>
void ForEachSample(const AVFrame* frame, const std::vector<PixelRect>& rs, F f) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    for (int c = 0; c < desc->nb_components; c++) {
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int sx = chroma ? desc->log2_chroma_w : 0, sy = chroma ? desc->log2_chroma_h : 0;
        for (int y = 0; y < AV_CEIL_RSHIFT(frame->height, sy); y++)
            for (int x = 0; x < AV_CEIL_RSHIFT(frame->width, sx); x++) {
                bool inside = false;
                for (const PixelRect& r : rs)
                    inside |= x >= (r.x >> sx) && x < AV_CEIL_RSHIFT(r.x + r.width, sx) && y >= (r.y >> sy) &&
                              y < AV_CEIL_RSHIFT(r.y + r.height, sy);
                f(c, x, y, inside);
            }
    }
}

uint16_t Sample(const AVFrame* frame, int c, int x, int y) {
    uint16_t v = 0;
    av_read_image_line2(&v, const_cast<const uint8_t**>(frame->data), frame->linesize,
                        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format)), x, y, c, 1, 0, 2);
    return v;
}


// The reference, written out on its own: the whole frame to BGRA and back
// with the same conversion, the core run on the whole BGRA picture, the
// result kept inside each R and the decoded alpha kept everywhere.
FramePtr Reference(const AVFrame* input, const std::vector<PatchSettings>& instances, int32_t n,
                   std::vector<PixelRect>* rs) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(input->format);
    const int w = input->width, h = input->height;
    const PictureColour colour = ColourOf(input);
    const int* coefficients = sws_getCoefficients(colour.matrix);
    const int full = colour.range == AVCOL_RANGE_JPEG;
    const AVPixelFormat layout = SwscaleFormat(format);
    ScalerPtr there(sws_getContext(w, h, layout, w, h, AV_PIX_FMT_BGRA, kConvertFlags, nullptr, nullptr, nullptr));
    ScalerPtr back(sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, layout, kConvertFlags, nullptr, nullptr, nullptr));
    sws_setColorspaceDetails(there.get(), coefficients, full, coefficients, 1, 0, 1 << 16, 1 << 16);
    sws_setColorspaceDetails(back.get(), coefficients, 1, coefficients, full, 0, 1 << 16, 1 << 16);

    FramePtr bgra(av_frame_alloc());
    bgra->format = AV_PIX_FMT_BGRA;
    bgra->width = w;
    bgra->height = h;
    av_frame_get_buffer(bgra.get(), 0);
    sws_scale(there.get(), input->data, input->linesize, 0, h, bgra->data, bgra->linesize);
    FrameView view = {bgra->data[0] + (h - 1) * bgra->linesize[0], w, h, -bgra->linesize[0]};
    rs->clear();
    for (PatchSettings s : instances) {
        if (PatchFrame(&s, view, n)) rs->push_back(RoundedOutRect(&s, format, w, h));
    }
    FramePtr converted = Copy(input);
    sws_scale(back.get(), bgra->data, bgra->linesize, 0, h, converted->data, converted->linesize);

    FramePtr result = Copy(input);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int alpha = desc->flags & AV_PIX_FMT_FLAG_ALPHA ? desc->nb_components - 1 : -1;
    ForEachSample(input, *rs, [&](int c, int x, int y, bool inside) {
        if (inside && c != alpha) SetSample(result.get(), c, x, y, Sample(converted.get(), c, x, y));
    });
    return result;
}

// One format's conversions and pictures, kept from frame to frame as a run
// keeps them.
struct PatchBench {
    RegionPatcher  patcher;
    FrameConverter converter, reference;
    FramePtr       work{av_frame_alloc()};
    int            patchedSamples = 0;  // samples the patch changed, over every check
};

// Patches a copy of input through the windows and compares it with the
// reference: the same inside each R, the decoded samples outside.
void CheckAgainstReference(PatchBench* bench, FramePtr input, const std::vector<PatchSettings>& instances, int32_t n,
                           const std::string& what) {
    FramePtr actual = Copy(input.get());
    AVFrame* patched = nullptr;
    MediaError error;
    ASSERT_TRUE(PatchDecodedFrame(&bench->patcher, &bench->converter, actual.get(), bench->work.get(),
                                  AV_PIX_FMT_NONE, instances, n, &patched, &error))
        << error.message;
    if (patched != actual.get()) {
        // The frame was converted whole first: the reference starts from
        // the same conversion.
        FramePtr converted(av_frame_alloc());
        ASSERT_TRUE(ConvertFrame(&bench->reference, input.get(), converted.get(), patched->format, input->width,
                                 input->height, &error));
        input = std::move(converted);
    }
    std::vector<PixelRect> rs;
    FramePtr expected = Reference(input.get(), instances, n, &rs);

    int wrong = 0, touched = 0;
    ForEachSample(input.get(), rs, [&](int c, int x, int y, bool inside) {
        const uint16_t got = Sample(patched, c, x, y);
        wrong += got != Sample(expected.get(), c, x, y);
        touched += !inside && got != Sample(input.get(), c, x, y);
        bench->patchedSamples += inside && got != Sample(input.get(), c, x, y);
    });
    EXPECT_EQ(wrong, 0) << what;
    EXPECT_EQ(touched, 0) << what;
}

PatchSettings RandomInstance(Random& random, int width, int height) {
    PatchSettings s;
    memset(&s, 0, sizeof s);
    InitSettings(&s, nullptr);
    // Rectangles of every size, some reaching out of the frame.
    s.width = Uniform(random, 1, width / 2);
    s.height = Uniform(random, 1, height / 2);
    s.x = Uniform(random, -4, width - 1);
    s.y = Uniform(random, -4, height - 1);
    s.featherOn = Uniform(random, 0, 1);
    s.featherWidth = Uniform(random, 0, 8);
    s.fadeOn = Uniform(random, 0, 1);
    s.fadeFrames = Uniform(random, 0, 4);
    s.cancelTop = Uniform(random, 0, 1);
    s.cancelLeft = Uniform(random, 0, 1);
    s.showBorder = Uniform(random, 0, 3) == 0;
    ParseRanges(&s, Uniform(random, 0, 2) == 0 ? "3 8" : "");
    return s;
}

struct FormatCase {
    AVPixelFormat format;
    int width, height;  // odd sizes too, where the chroma grid does not divide them
};

TEST(RegionPatch, WindowsGiveTheWholeFrameResultAndTouchNothingElse) {
    const FormatCase cases[] = {
        {AV_PIX_FMT_YUV420P, 176, 96},   {AV_PIX_FMT_YUV420P, 161, 99},
        {AV_PIX_FMT_YUV422P, 176, 96},   {AV_PIX_FMT_YUV422P, 175, 97},
        {AV_PIX_FMT_YUV444P, 150, 90},   {AV_PIX_FMT_YUV420P10LE, 176, 96},
        {AV_PIX_FMT_YUV420P10LE, 163, 97}, {AV_PIX_FMT_NV12, 176, 96},
        {AV_PIX_FMT_NV12, 171, 95},      {AV_PIX_FMT_RGB24, 150, 90},
        {AV_PIX_FMT_BGRA, 150, 90},      {AV_PIX_FMT_GRAY8, 150, 90},
        {AV_PIX_FMT_YUVA420P, 176, 96},  {AV_PIX_FMT_YUV411P, 176, 96},
        {AV_PIX_FMT_YUVJ420P, 176, 96},  {AV_PIX_FMT_YUYV422, 176, 96},
        // Few-bit components libswscale dithers into, over an 8 x 8
        // pattern whose phase the window must keep.
        {AV_PIX_FMT_RGB565LE, 150, 90},  {AV_PIX_FMT_RGB555LE, 150, 90},
        {AV_PIX_FMT_RGB444LE, 150, 90},
        // Patched through a whole-frame conversion: the window rules then
        // hold for the converted frame.
        {AV_PIX_FMT_RGB8, 150, 90},      {AV_PIX_FMT_BGR8, 150, 90},
        {AV_PIX_FMT_RGB4_BYTE, 150, 90}, {AV_PIX_FMT_BGR4_BYTE, 150, 90},
    };
    Random random(13);
    for (const FormatCase& fc : cases) {
        const std::string name = av_get_pix_fmt_name(fc.format);
        PatchBench bench;
        for (int round = 0; round < 24; round++) {
            FramePtr input = NoiseFrame(fc.format, fc.width, fc.height, random);
            if (round % 3 == 1) input->color_range = AVCOL_RANGE_JPEG;
            if (round % 3 == 2) input->colorspace = AVCOL_SPC_UNSPECIFIED;
            std::vector<PatchSettings> instances;
            for (int i = Uniform(random, 1, 3); i > 0; i--) instances.push_back(RandomInstance(random, fc.width, fc.height));
            const int32_t n = Uniform(random, 0, 12);
            CheckAgainstReference(&bench, std::move(input), instances, n,
                                  name + " " + std::to_string(fc.width) + "x" + std::to_string(fc.height) + " round " +
                                      std::to_string(round));
        }
        EXPECT_GT(bench.patchedSamples, 0) << name;
    }
}

// Random rectangles seldom put R's edge where the window's margin is at its
// thinnest; this puts it at every offset from the alignment grid in turn,
// for the formats whose chroma reaches furthest and one that is dithered.
TEST(RegionPatch, WindowsHoldAtEveryOffsetFromTheGrid) {
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV411P, AV_PIX_FMT_NV12, AV_PIX_FMT_RGB444LE};
    Random random(29);
    for (AVPixelFormat format : formats) {
        const std::string name = av_get_pix_fmt_name(format);
        PatchBench bench;
        for (int offset = 0; offset < 32; offset++) {
            PatchSettings s;
            memset(&s, 0, sizeof s);
            InitSettings(&s, nullptr);
            s.x = 32 + offset;
            s.y = 32 + (offset * 7) % 32;
            s.width = 5 + offset % 9;
            s.height = 5 + offset % 7;
            CheckAgainstReference(&bench, NoiseFrame(format, 112, 112, random), {s}, 0,
                                  name + " offset " + std::to_string(offset));
        }
        EXPECT_GT(bench.patchedSamples, 0) << name;
    }
}

// The window itself: inside the frame, around R with room for the
// conversions' kernels (chroma read from up to 6 pixels beyond R with 4:1
// subsampling), its edges on the 8 x 8 dither grid and the chroma grid, or
// on the frame's edge.
TEST(RegionPatch, WindowsKeepTheirMarginAndAlignment) {
    const AVPixelFormat formats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV444P, AV_PIX_FMT_RGB565LE};
    Random random(31);
    for (AVPixelFormat format : formats) {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
        for (int round = 0; round < 2000; round++) {
            const int width = Uniform(random, 1, 20) * 16, height = Uniform(random, 1, 20) * 16;
            const PixelRect r = {Uniform(random, 0, width - 1), Uniform(random, 0, height - 1), 0, 0};
            const PixelRect rect = {r.x, r.y, Uniform(random, 1, width - r.x), Uniform(random, 1, height - r.y)};
            const PixelRect w = ConversionWindow(rect, format, width, height);
            SCOPED_TRACE(std::string(desc->name) + " R " + std::to_string(rect.x) + "," + std::to_string(rect.y) +
                         " " + std::to_string(rect.width) + "x" + std::to_string(rect.height) + " in " +
                         std::to_string(width) + "x" + std::to_string(height));
            ASSERT_TRUE(w.x >= 0 && w.y >= 0 && RectRight(w) <= width && RectBottom(w) <= height);
            EXPECT_TRUE(w.x == 0 || rect.x - w.x >= 6) << "left margin " << rect.x - w.x;
            EXPECT_TRUE(w.y == 0 || rect.y - w.y >= 6) << "top margin " << rect.y - w.y;
            EXPECT_TRUE(RectRight(w) == width || RectRight(w) - RectRight(rect) >= 6) << "right margin";
            EXPECT_TRUE(RectBottom(w) == height || RectBottom(w) - RectBottom(rect) >= 6) << "bottom margin";
            const int gridX = std::max(8, 1 << desc->log2_chroma_w), gridY = std::max(8, 1 << desc->log2_chroma_h);
            EXPECT_EQ(w.x % gridX, 0);
            EXPECT_EQ(w.y % gridY, 0);
            EXPECT_TRUE(RectRight(w) == width || RectRight(w) % gridX == 0);
            EXPECT_TRUE(RectBottom(w) == height || RectBottom(w) % gridY == 0);
            if (HasFailure()) return;
        }
    }
}

}  // namespace
