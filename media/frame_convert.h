// Whole-frame conversion between pixel formats (and sizes), for the frames
// that cannot be patched in their own format (palettes, bit planes) or that
// the encoder takes in another format.
#ifndef DELBRIN_MEDIA_FRAME_CONVERT_H
#define DELBRIN_MEDIA_FRAME_CONVERT_H

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "media_error.h"

struct FrameConverter {
    SwsContext* context = nullptr;
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

void FreeFrameConverter(FrameConverter* converter);

#endif
