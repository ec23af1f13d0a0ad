#include "palette_frame.h"

#include <string.h>

#include <algorithm>
#include <unordered_map>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "av_owners.h"
#include "frame_convert.h"
#include "pixel_traits.h"

namespace {

// 3 bits of red, 3 of green, 2 of blue, each spread over 0...255.
void FixedPalette(FramePalette* palette) {
    for (int i = 0; i < 256; i++) {
        const uint32_t r = (i >> 5) * 255 / 7, g = ((i >> 2) & 7) * 255 / 7, b = (i & 3) * 255 / 3;
        palette->colours[i] = 0xFF000000u | r << 16 | g << 8 | b;
    }
    palette->count = 256;
    palette->own = false;
}

int Distance(uint32_t a, uint32_t b) {
    int sum = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        sum += d * d;
    }
    return sum;
}

uint8_t Nearest(const FramePalette& palette, uint32_t colour) {
    int best = 0, bestDistance = Distance(palette.colours[0], colour);
    for (int i = 1; i < palette.count && bestDistance > 0; i++) {
        const int d = Distance(palette.colours[i], colour);
        if (d < bestDistance) best = i, bestDistance = d;
    }
    return static_cast<uint8_t>(best);
}

}  // namespace

bool GivesPalette(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return IsPalette(format) || (d && IsRgbFormat(format) && d->comp[0].depth == 8 && av_get_bits_per_pixel(d) >= 24 &&
                                 !(d->flags & AV_PIX_FMT_FLAG_BITSTREAM));
}

FramePalette PaletteOf(FrameConverter* converter, const AVFrame* frame) {
    FramePalette palette;
    if (!GivesPalette(frame->format)) {
        FixedPalette(&palette);
        return palette;
    }
    if (IsPalette(frame->format)) {
        memcpy(palette.colours, frame->data[1], sizeof palette.colours);
        palette.count = 256;
        palette.own = true;
        return palette;
    }
    FramePtr converted;
    if (frame->format != AV_PIX_FMT_RGB32) {
        MediaError ignored;
        converted.reset(av_frame_alloc());
        if (!converted || !ConvertFrame(converter, frame, converted.get(), AV_PIX_FMT_RGB32, frame->width,
                                        frame->height, &ignored)) {
            FixedPalette(&palette);
            return palette;
        }
        frame = converted.get();
    }
    std::unordered_map<uint32_t, int> seen;
    for (int y = 0; y < frame->height; y++) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(frame->data[0] + y * frame->linesize[0]);
        for (int x = 0; x < frame->width; x++) {
            if (seen.count(row[x])) continue;
            if (seen.size() == 256) {
                FixedPalette(&palette);
                return palette;
            }
            seen.emplace(row[x], palette.count);
            palette.colours[palette.count++] = row[x];
        }
    }
    palette.own = true;
    return palette;
}

bool MapToPalette(FrameConverter* converter, const AVFrame* from, const FramePalette& palette, AVFrame* to,
                  MediaError* error) {
    FramePtr converted;
    if (from->format != AV_PIX_FMT_RGB32) {
        converted.reset(av_frame_alloc());
        if (!converted) return FailedAv(error, kStepFiltering, "filtering", AVERROR(ENOMEM));
        if (!ConvertFrame(converter, from, converted.get(), AV_PIX_FMT_RGB32, from->width, from->height, error))
            return false;
        from = converted.get();
    }
    av_frame_unref(to);
    to->format = AV_PIX_FMT_PAL8;
    to->width = from->width;
    to->height = from->height;
    int ret = av_frame_get_buffer(to, 0);
    if (ret >= 0) ret = av_frame_copy_props(to, from);
    if (ret < 0) return FailedAv(error, kStepFiltering, "filtering", ret);
    memcpy(to->data[1], palette.colours, sizeof palette.colours);

    std::unordered_map<uint32_t, uint8_t> index;
    for (int i = palette.count - 1; i >= 0; i--) index[palette.colours[i]] = static_cast<uint8_t>(i);
    for (int y = 0; y < from->height; y++) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(from->data[0] + y * from->linesize[0]);
        uint8_t* out = to->data[0] + y * to->linesize[0];
        for (int x = 0; x < from->width; x++) {
            auto found = index.find(row[x]);
            if (found == index.end()) found = index.emplace(row[x], Nearest(palette, row[x])).first;
            out[x] = found->second;
        }
    }
    return true;
}
