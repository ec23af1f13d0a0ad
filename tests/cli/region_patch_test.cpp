// The conversion window against the whole frame: for random pictures,
// rectangles and settings, patching through windows gives exactly what
// converting the whole frame to BGRA, running the core on it and converting
// it back gives inside each rounded-out rectangle, and the decoded bytes
// everywhere else, alpha kept everywhere. Formats that cannot be patched
// where they are go through one whole-frame conversion first.
#include <gtest/gtest.h>

#include <string.h>

#include <random>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "frame_convert.h"
#include "frame_ranges.h"
#include "frame_run.h"
#include "region_patch.h"

namespace {

using Random = std::mt19937;

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
AVFrame* NoiseFrame(AVPixelFormat format, int width, int height, Random& random) {
    AVFrame* f = av_frame_alloc();
    f->format = format;
    f->width = width;
    f->height = height;
    EXPECT_GE(av_frame_get_buffer(f, 0), 0);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    for (int c = 0; c < desc->nb_components; c++) {
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int w = chroma ? AV_CEIL_RSHIFT(width, desc->log2_chroma_w) : width;
        const int h = chroma ? AV_CEIL_RSHIFT(height, desc->log2_chroma_h) : height;
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) SetSample(f, c, x, y, static_cast<uint16_t>(Uniform(random, 0, (1 << desc->comp[c].depth) - 1)));
    }
    f->colorspace = AVCOL_SPC_BT709;
    f->color_range = AVCOL_RANGE_MPEG;
    return f;
}

AVFrame* Copy(const AVFrame* frame) {
    AVFrame* c = av_frame_alloc();
    c->format = frame->format;
    c->width = frame->width;
    c->height = frame->height;
    EXPECT_GE(av_frame_get_buffer(c, 0), 0);
    av_frame_copy(c, frame);
    av_frame_copy_props(c, frame);
    return c;
}

// Calls f(component, x, y, inside R) for every sample of the picture, in the
// component's own grid.
template <typename F>
void ForEachSample(const AVFrame* frame, const std::vector<PixelBox>& rs, F f) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    for (int c = 0; c < desc->nb_components; c++) {
        const bool chroma = (c == 1 || c == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int sx = chroma ? desc->log2_chroma_w : 0, sy = chroma ? desc->log2_chroma_h : 0;
        for (int y = 0; y < AV_CEIL_RSHIFT(frame->height, sy); y++)
            for (int x = 0; x < AV_CEIL_RSHIFT(frame->width, sx); x++) {
                bool inside = false;
                for (const PixelBox& r : rs)
                    inside |= x >= (r.x0 >> sx) && x < AV_CEIL_RSHIFT(r.x1, sx) && y >= (r.y0 >> sy) &&
                              y < AV_CEIL_RSHIFT(r.y1, sy);
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
AVFrame* Reference(const AVFrame* input, const std::vector<PatchSettings>& instances, int32_t n,
                   std::vector<PixelBox>* rs) {
    const AVPixelFormat format = static_cast<AVPixelFormat>(input->format);
    const int w = input->width, h = input->height;
    const PictureColour colour = ColourOf(input);
    const int* coefficients = sws_getCoefficients(colour.matrix);
    const int full = colour.range == AVCOL_RANGE_JPEG;
    const AVPixelFormat layout = SwscaleFormat(format);
    SwsContext* there = sws_getContext(w, h, layout, w, h, AV_PIX_FMT_BGRA, kConvertFlags, nullptr, nullptr, nullptr);
    SwsContext* back = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, layout, kConvertFlags, nullptr, nullptr, nullptr);
    sws_setColorspaceDetails(there, coefficients, full, coefficients, 1, 0, 1 << 16, 1 << 16);
    sws_setColorspaceDetails(back, coefficients, 1, coefficients, full, 0, 1 << 16, 1 << 16);

    AVFrame* bgra = av_frame_alloc();
    bgra->format = AV_PIX_FMT_BGRA;
    bgra->width = w;
    bgra->height = h;
    av_frame_get_buffer(bgra, 0);
    sws_scale(there, input->data, input->linesize, 0, h, bgra->data, bgra->linesize);
    FrameView view = {bgra->data[0] + (h - 1) * bgra->linesize[0], w, h, -bgra->linesize[0]};
    rs->clear();
    for (PatchSettings s : instances) {
        if (PatchFrame(&s, view, n)) rs->push_back(RoundedOutRect(&s, format, w, h));
    }
    AVFrame* converted = Copy(input);
    sws_scale(back, bgra->data, bgra->linesize, 0, h, converted->data, converted->linesize);

    AVFrame* result = Copy(input);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    const int alpha = desc->flags & AV_PIX_FMT_FLAG_ALPHA ? desc->nb_components - 1 : -1;
    ForEachSample(input, *rs, [&](int c, int x, int y, bool inside) {
        if (inside && c != alpha) SetSample(result, c, x, y, Sample(converted, c, x, y));
    });
    sws_freeContext(there);
    sws_freeContext(back);
    av_frame_free(&bgra);
    av_frame_free(&converted);
    return result;
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
        // Patched through a whole-frame conversion: the window rules then
        // hold for the converted frame.
        {AV_PIX_FMT_RGB8, 150, 90},      {AV_PIX_FMT_BGR8, 150, 90},
        {AV_PIX_FMT_RGB4_BYTE, 150, 90}, {AV_PIX_FMT_BGR4_BYTE, 150, 90},
    };
    Random random(13);
    for (const FormatCase& fc : cases) {
        const char* name = av_get_pix_fmt_name(fc.format);
        RegionPatcher patcher;
        FrameConverter converter, reference;
        AVFrame* work = av_frame_alloc();
        int patchedSamples = 0;
        for (int round = 0; round < 24; round++) {
            AVFrame* input = NoiseFrame(fc.format, fc.width, fc.height, random);
            if (round % 3 == 1) input->color_range = AVCOL_RANGE_JPEG;
            if (round % 3 == 2) input->colorspace = AVCOL_SPC_UNSPECIFIED;
            std::vector<PatchSettings> instances;
            for (int i = Uniform(random, 1, 3); i > 0; i--) instances.push_back(RandomInstance(random, fc.width, fc.height));
            const int32_t n = Uniform(random, 0, 12);

            AVFrame* actual = Copy(input);
            AVFrame* patched = nullptr;
            MediaError error;
            ASSERT_TRUE(PatchDecodedFrame(&patcher, &converter, actual, work, AV_PIX_FMT_NONE, instances, n, &patched,
                                          &error))
                << error.message;
            if (patched != actual) {
                // The frame was converted whole first: the reference starts
                // from the same conversion.
                AVFrame* converted = av_frame_alloc();
                ASSERT_TRUE(ConvertFrame(&reference, input, converted, patched->format, fc.width, fc.height, &error));
                av_frame_free(&input);
                input = converted;
            }
            std::vector<PixelBox> rs;
            AVFrame* expected = Reference(input, instances, n, &rs);

            int wrong = 0, touched = 0;
            ForEachSample(input, rs, [&](int c, int x, int y, bool inside) {
                const uint16_t got = Sample(patched, c, x, y);
                wrong += got != Sample(expected, c, x, y);
                touched += !inside && got != Sample(input, c, x, y);
                patchedSamples += inside && got != Sample(input, c, x, y);
            });
            EXPECT_EQ(wrong, 0) << name << " " << fc.width << "x" << fc.height << " round " << round;
            EXPECT_EQ(touched, 0) << name << " round " << round;
            av_frame_free(&input);
            av_frame_free(&expected);
            av_frame_free(&actual);
        }
        EXPECT_GT(patchedSamples, 0) << name;
        av_frame_free(&work);
    }
}

}  // namespace
