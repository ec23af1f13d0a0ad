// Writing a frame of 256 colours or fewer (a GIF's) as a palette picture of
// its own colours, so that an encoder of 256-colour pictures gets every
// pixel outside the rectangles unchanged instead of a dithered copy.
#ifndef DELBRIN_MEDIA_PALETTE_FRAME_H
#define DELBRIN_MEDIA_PALETTE_FRAME_H

#include <stdint.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "frame_convert.h"
#include "media_error.h"

// Colours as a palette picture holds them: native-endian 0xAARRGGBB, which
// is also an AV_PIX_FMT_RGB32 pixel.
struct FramePalette {
    uint32_t colours[256] = {};
    int      count = 0;
    bool     own = false;  // the frame's own colours; false: a fixed palette, the frame had more
};

// Whether frames of this format can give their palette: palette pictures
// and RGB of 8 bits a component, whose colours convert exactly.
bool GivesPalette(int format);

// The colours of a frame, before it is patched: a palette picture's
// palette, else the distinct colours of an RGB picture; when the picture
// has more than 256 or is of a format GivesPalette refuses, a fixed palette
// of 8 reds, 8 greens and 4 blues, opaque. converter is kept from frame to
// frame for the RGB formats that first become RGB32.
FramePalette PaletteOf(FrameConverter* converter, const AVFrame* frame);

// Writes *to as a palette picture of palette, with from's properties: each
// pixel of from (any RGB format; converted through RGB32 when it is not
// that) takes its own colour's index where the palette has the colour,
// else the nearest colour's. converter is kept from frame to frame.
bool MapToPalette(FrameConverter* converter, const AVFrame* from, const FramePalette& palette, AVFrame* to,
                  MediaError* error);

#endif
