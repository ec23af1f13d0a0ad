// What the command asks of a pixel format, in one place.
#ifndef DELBRIN_MEDIA_PIXEL_TRAITS_H
#define DELBRIN_MEDIA_PIXEL_TRAITS_H

#include <string.h>

extern "C" {
#include <libavutil/pixdesc.h>
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
