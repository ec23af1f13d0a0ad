// What the command asks of a pixel format, in one place.
#ifndef DELBRIN_MEDIA_PIXEL_TRAITS_H
#define DELBRIN_MEDIA_PIXEL_TRAITS_H

#include <string.h>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

// A demuxer or decoder copies some enumerations from the file as they
// stand, so a field may hold a number the library has no name for, and
// reading it as the enumeration would be undefined: such a value reads as
// unknown. count is one past the enumeration's last value.
template <typename Enum>
Enum KnownOr(const Enum& field, int count, Enum unknown) {
    static_assert(sizeof(Enum) == sizeof(int), "FFmpeg's enumerations are ints");
    int value;
    memcpy(&value, &field, sizeof value);
    return value >= 0 && value < count ? static_cast<Enum>(value) : unknown;
}

// A decoded frame's colour tags, each unknown where the file's number is.
inline void KeepKnownColourTags(AVFrame* frame) {
    frame->color_primaries = KnownOr(frame->color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    frame->color_trc = KnownOr(frame->color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    frame->colorspace = KnownOr(frame->colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    frame->color_range = KnownOr(frame->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    frame->chroma_location = KnownOr(frame->chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
}

inline bool HasFormatFlag(int format, uint64_t flag) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return d && (d->flags & flag);
}

inline bool IsRgbFormat(int format) { return HasFormatFlag(format, AV_PIX_FMT_FLAG_RGB); }
inline bool HasAlpha(int format) { return HasFormatFlag(format, AV_PIX_FMT_FLAG_ALPHA); }
inline bool IsPalette(int format) { return HasFormatFlag(format, AV_PIX_FMT_FLAG_PAL); }

// Luma alone, with or without alpha: full range unless tagged otherwise.
inline bool IsGrayFormat(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB) && d->nb_components <= 2;
}

// The yuvj formats: YUV whose name says full range.
inline bool IsFullRangeYuvName(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return d && strncmp(d->name, "yuvj", 4) == 0;
}

#endif
