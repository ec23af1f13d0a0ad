// De-blending a learned logo out of decoded frames, and the frames' planes
// as the logo's learning and de-blending see them.
#ifndef DELBRIN_MEDIA_FRAME_DEBLEND_H
#define DELBRIN_MEDIA_FRAME_DEBLEND_H

#include <stdint.h>

extern "C" {
#include <libavutil/frame.h>
}

#include "deblend.h"
#include "media_error.h"
#include "patch_settings.h"
#include "region_patch.h"

// A frame's planes in their own format: luma (or green) and, for colour,
// the two others on their own grid.
struct FramePlanes {
    SamplePlane planes[3];
    int32_t     count;  // 1 (grey) or 3
    int32_t     chromaShiftX, chromaShiftY;
    bool        rgb;    // planar RGB: the planes are G, B, R
};

// Whether frames of this format have their samples in planes the logo can
// be learned from and de-blended in where they are: planar YUV, grey or
// planar RGB, 8 to 16 bits a sample in the machine's order, alpha allowed
// (it is left alone).
bool CanDeblendInPlace(int format);

// The planes of a frame whose format CanDeblendInPlace takes.
FramePlanes PlanesOf(const AVFrame* frame);

// Removes the logo from frame (made writable first). Where the logo is
// nearly opaque, the filter's patch over opaquePart's rectangle (the box of
// those pixels and a margin of picture around it; null when there are none)
// fills in, made from a copy of the frame by patcher.
bool DeblendFrame(const LogoModel& logo, const PatchSettings* opaquePart, RegionPatcher* patcher, AVFrame* frame,
                  int32_t frameNumber, MediaError* error);

#endif
