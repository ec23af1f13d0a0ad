#include "frame_convert.h"

#include <string.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "pixel_traits.h"
#include "region_patch.h"


bool ConvertFrame(FrameConverter* c, const AVFrame* from, AVFrame* to, int format, int width, int height,
                  MediaError* error) {
    const PictureColour source = ColourOf(from);
    PictureColour target = source;
    if (IsRgbFormat(from->format)) target.range = AVCOL_RANGE_MPEG;
    if (IsFullRangeYuvName(format) || IsGrayFormat(format) || IsRgbFormat(format)) target.range = AVCOL_RANGE_JPEG;

    if (!c->context || c->srcWidth != from->width || c->srcHeight != from->height ||
        c->srcFormat != from->format || c->dstWidth != width || c->dstHeight != height ||
        c->dstFormat != format || c->srcMatrix != source.matrix || c->srcRange != source.range) {
        // Bicubic only matters when the size changes mid-stream; the flags
        // are otherwise the patch's own conversion.
        c->context = OpenConversion(from->width, from->height, static_cast<AVPixelFormat>(from->format), width,
                                    height, static_cast<AVPixelFormat>(format),
                                    (kConvertFlags & ~SWS_BILINEAR) | SWS_BICUBIC, source.matrix,
                                    source.range == AVCOL_RANGE_JPEG, target.range == AVCOL_RANGE_JPEG);
        if (!c->context)
            return Failed(error, kStepFiltering,
                          std::string("filtering: libswscale cannot convert ") +
                              av_get_pix_fmt_name(static_cast<AVPixelFormat>(from->format)) + " to " +
                              av_get_pix_fmt_name(static_cast<AVPixelFormat>(format)));
        c->srcWidth = from->width;
        c->srcHeight = from->height;
        c->srcFormat = from->format;
        c->dstWidth = width;
        c->dstHeight = height;
        c->dstFormat = format;
        c->srcMatrix = source.matrix;
        c->srcRange = source.range;
    }

    av_frame_unref(to);
    to->format = format;
    to->width = width;
    to->height = height;
    int ret = av_frame_get_buffer(to, 0);
    if (ret < 0) return FailedAv(error, kStepFiltering, "filtering", ret);
    ret = av_frame_copy_props(to, from);
    if (ret < 0) return FailedAv(error, kStepFiltering, "filtering", ret);
    sws_scale(c->context.get(), from->data, from->linesize, 0, from->height, to->data, to->linesize);
    // The other tags came with the properties; the matrix changes only
    // between RGB and YUV.
    to->color_range = target.range;
    if (IsRgbFormat(format))
        to->colorspace = AVCOL_SPC_RGB;
    else if (IsRgbFormat(from->format))
        to->colorspace = target.matrix;
    return true;
}

bool PatchDecodedFrame(RegionPatcher* patcher, FrameConverter* converter, AVFrame* frame, AVFrame* work,
                       AVPixelFormat preferred, const std::vector<PatchSettings>& instances, int64_t frameNumber,
                       AVFrame** result, MediaError* error) {
    if (frameNumber > INT32_MAX)
        return Failed(error, kStepFiltering, "filtering: the filter counts frames in 32 bits; this video has more");
    *result = frame;
    if (!CanPatchInPlace(static_cast<AVPixelFormat>(frame->format))) {
        const bool alpha = HasAlpha(frame->format) || IsPalette(frame->format);
        const AVPixelFormat target = CanPatchInPlace(preferred) ? preferred : alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGB24;
        if (!ConvertFrame(converter, frame, work, target, frame->width, frame->height, error)) return false;
        *result = work;
    }
    return PatchFrameRegions(patcher, *result, instances.data(), static_cast<int>(instances.size()),
                             static_cast<int32_t>(frameNumber), error);
}
