// Patching a decoded frame in its own pixel format: only the region the
// patch covers is converted to the filter's BGRA, patched by the core and
// converted back, and only that region, rounded out to the chroma grid, is
// written into the frame.
//
// The rules, and why the result is exactly the whole-frame result:
//
// The reference is: convert the whole frame to BGRA, run every filter
// instance on it in order, convert the whole BGRA picture back, and keep the
// result only inside each instance's rounded-out rectangle R (the rectangle
// cut to the frame, its edges moved outward to multiples of the format's
// chroma subsampling, or to the frame's edge); everywhere else the frame
// keeps its decoded bytes, and the alpha component (where the format has
// one) keeps its decoded value everywhere, R included: the patch hides
// colour, not transparency, and the core writes 0 into the fourth byte where
// it blends, which would otherwise make the logo's area transparent.
//
// Both directions use one fixed conversion (kConvertFlags): libswscale's
// bit-exact mode with accurate rounding, chroma interpolated to and computed
// from full resolution horizontally (so the chroma of a column depends on its
// neighbours only through the scaling kernel, never through a format's own
// "half" shortcut), and the bilinear kernel for chroma resampling. Luma and
// 4:4:4 chroma are never resampled (1:1, identity filters); subsampled chroma
// is resampled exactly 2:1 (or 4:1) in each direction, by a kernel that reads
// at most 2 samples on either side. The matrix and range are the frame's
// (ColourOf), the same both ways.
//
// A window W around R is converted instead of the frame: R widened by
// kWindowMargin pixels on every side, its edges moved outward to multiples
// of kWindowAlign, then cut to the frame. Within W:
//  - the bilinear kernel upsamples from the 2 chroma samples nearest a pixel
//    and downsamples a chroma sample from the 4 pixels around its pair (8
//    for 4:1), so what is written into R depends only on input within 4
//    pixels of R (6 for 4:1 subsampling; 2 are measurably too few for
//    4:2:0). The margin of 8 keeps all of it inside W, or beyond an edge W
//    shares with the frame, where both conversions see the same edge;
//  - the kernels' phase is the same as the whole frame's because W starts on
//    a multiple of kWindowAlign (a multiple of every chroma subsampling and of
//    swscale's 8 x 8 dither pattern), and the scale is exactly 2:1 only while
//    the converted size is a multiple of the subsampling: in a direction where
//    the frame's size is not (an odd-sized 4:2:0 frame), swscale stretches the
//    chroma by a fraction over the whole frame, so W then spans the whole
//    frame in that direction;
//  - W is at least 2 x kWindowMargin wide and high (or the frame's size), so
//    swscale never shortens a kernel for lack of input.
// The core reads and writes only its rectangle, which lies inside R. Windows
// that overlap are merged into one, so instances that touch each other's
// surroundings are run on one BGRA picture in order, as in the reference.
// The differential test checks all of this against the reference.
#ifndef DELBRIN_MEDIA_REGION_PATCH_H
#define DELBRIN_MEDIA_REGION_PATCH_H

#include <stdint.h>

#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "patch_settings.h"
#include "pixel_rect.h"
#include "av_owners.h"
#include "media_error.h"

enum {
    kWindowMargin = 8,   // pixels of input the conversions need around R
    kWindowAlign  = 16,  // W's edges lie on multiples of this (or the frame's edge)
};

// The conversion used both ways around the filter.
extern const int kConvertFlags;

// Whether frames of this format can be patched where they are: libswscale
// reads and writes it, a pixel is whole bytes (no palette, no bit plane, no
// few-bit components libswscale dithers into) and a sample at most 16
// integer bits.
bool CanPatchInPlace(AVPixelFormat format);

// The matrix and range the conversions use for a frame: its own tags, and
// where they say nothing, what players assume (BT.709 above 576 lines,
// BT.601 below; limited range for YUV, full range for gray).
struct PictureColour {
    AVColorSpace matrix;
    AVColorRange range;
};
PictureColour ColourOf(const AVFrame* frame);

// The format libswscale is given for a picture: the deprecated full-range
// yuvj formats as their twins of the same layout (the conversions set the
// range themselves), every other format as it is.
AVPixelFormat SwscaleFormat(AVPixelFormat format);

// A libswscale context between two pictures with the given matrix, reading
// and writing the given ranges (a yuvj format is opened as its plain twin).
ScalerPtr OpenConversion(int fromWidth, int fromHeight, AVPixelFormat from, int toWidth, int toHeight,
                           AVPixelFormat to, int flags, AVColorSpace matrix, bool fromFullRange,
                           bool toFullRange);

// Reused from frame to frame: the conversion contexts and the BGRA window.
struct RegionPatcher {
    struct CachedContext {
        ScalerPtr     context;
        AVPixelFormat format;
        int           width, height;
        bool          toBgra;
        PictureColour colour;
    };
    std::vector<CachedContext> contexts;
    FramePtr bgra;
    FramePtr back;
};

// Patches frame in place with every instance, in order, at frame number
// frameNumber. The frame must be in a format CanPatchInPlace accepts; it is
// made writable (copied) only when some instance patches it. Returns false
// (kStepFiltering) when a conversion cannot be set up or memory runs out.
bool PatchFrameRegions(RegionPatcher* patcher, AVFrame* frame, const PatchSettings* instances,
                       int count, int32_t frameNumber, MediaError* error);

// The rounded-out rectangle R of one instance on a frame of this format and
// size; empty when the instance's rectangle misses the frame.
PixelRect RoundedOutRect(const PatchSettings* settings, AVPixelFormat format, int width, int height);

// The window W converted around r (one R, or several merged) on a frame of
// this format and size.
PixelRect ConversionWindow(PixelRect r, AVPixelFormat format, int width, int height);

#endif
