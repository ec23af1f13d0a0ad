// Whole-frame conversion between pixel formats (and sizes), for the frames
// that cannot be patched in their own format (palettes, bit planes) or that
// the encoder takes in another format.
#ifndef DELBRIN_MEDIA_FRAME_CONVERT_H
#define DELBRIN_MEDIA_FRAME_CONVERT_H

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <vector>

#include "av_owners.h"
#include "media_error.h"
#include "patch_settings.h"
#include "region_patch.h"

struct FrameConverter {
    ScalerPtr   context;
    int         srcWidth = 0, srcHeight = 0, srcFormat = -1;
    int         dstWidth = 0, dstHeight = 0, dstFormat = -1;
    int         srcMatrix = -1, srcRange = -1;
};

// Converts from into *to (a new picture of the given format and size), with
// from's timestamps, aspect ratio and side data. YUV keeps the source's
// matrix and range where both sides are YUV; RGB made into YUV gets BT.709
// above 576 lines and BT.601 below, limited range (full for yuvj formats);
// the picture's colour tags say what was done.
bool ConvertFrame(FrameConverter* converter, const AVFrame* from, AVFrame* to, int format, int width,
                  int height, MediaError* error);

// Applies the instances to a decoded frame at frameNumber. A frame whose
// format cannot be patched where it is (a palette, a bit plane) is first
// converted into *work, in preferred where that can be patched, else in
// BGRA or RGB; *result is the frame patched: frame itself or *work.
bool PatchDecodedFrame(RegionPatcher* patcher, FrameConverter* converter, AVFrame* frame, AVFrame* work,
                       AVPixelFormat preferred, const std::vector<PatchSettings>& instances, int64_t frameNumber,
                       AVFrame** result, MediaError* error);

#endif
