// De-blending: a translucent logo is laid over the picture as
//   observed = alpha * logo + (1 - alpha) * picture,
// so where alpha and the logo's colour are known the picture comes back as
//   picture = (observed - alpha * logo) / (1 - alpha).
// Everything here works on one plane of samples in the frame's own format
// (luma, or one chroma plane on its own grid), 8-bit or up to 16-bit.
// Where the logo is nearly opaque the division only amplifies noise; there
// the filter's patch (made by the caller) takes over, ramped in over a band
// of alpha above the limit so that no seam shows where one meets the other.
#ifndef DELBRIN_DEBLEND_H
#define DELBRIN_DEBLEND_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "pixel_rect.h"

// One plane of a picture. Samples of more than 8 bits take two bytes each,
// in the machine's order, the value in the low bits.
struct SamplePlane {
    uint8_t*  data;
    ptrdiff_t pitch;     // bytes from one row to the next
    int32_t   width;     // in samples of this plane
    int32_t   height;
    int32_t   bitDepth;  // 8 to 16
};

inline int32_t MaxSample(const SamplePlane& plane) { return (1 << plane.bitDepth) - 1; }
int32_t ReadSample(const SamplePlane& plane, int32_t x, int32_t y);
void WriteSample(const SamplePlane& plane, int32_t x, int32_t y, int32_t value);

// The logo on one plane's grid: over box (in samples of that plane), row by
// row, its alpha (0 = absent, 1 = opaque) and its colour in samples of the
// plane's bit depth. Samples outside box have alpha 0.
struct LogoPlane {
    PixelRect          box;
    std::vector<float> alpha;
    std::vector<float> colour;
};

// The logo of a whole frame: the luma plane, then the two chroma planes on
// their grid (a grey picture has the first only).
struct LogoModel {
    int32_t   frameWidth;
    int32_t   frameHeight;
    int32_t   chromaShiftX;  // log2 of the chroma subsampling across
    int32_t   chromaShiftY;  // and down
    int32_t   planeCount;    // 1 or 3
    LogoPlane planes[3];
};

enum { kDeblendLimitDefault = 85 };  // percent of alpha where the patch takes over

// How much of the patch a sample takes at this alpha: none up to limit, all
// of it from a band above it on (alpha 1 at the latest), a straight ramp
// between.
float PatchShare(float alpha, float limit);

// The smallest box (luma pixels) holding every pixel whose alpha is above
// limit; empty when there is none. A chroma sample's alpha is the mean of
// its pixels', so none is above limit outside it.
PixelRect PatchedBox(const LogoModel& logo, float limit);

// Removes the logo from one plane in place: each sample under the logo
// becomes the inverted blend, clipped to the plane's range, mixed with the
// same sample of `patched` by its PatchShare, or the smaller one of two
// neighbours on opposite sides of it if more (an opaque logo's learned
// alpha may dip along its own sharp edges), rounded to the nearest sample;
// patched may be null when PatchedBox is empty. Inverting multiplies
// the input's noise by 1 / (1 - alpha); with noise (the spread of the
// input's noise, in samples) above 0, each inverted sample is smoothed
// toward its neighbours as far as the noise added outweighs the picture's
// detail there, never across an edge of the picture; 0 leaves the inverted
// samples as they are. Samples where alpha is 0 keep their bytes.
void DeblendPlane(const LogoPlane& logo, float limit, float noise, const SamplePlane* patched, const SamplePlane& plane);

// The spread of the noise a lossy encoder left in a plane, as the
// de-blending's smoothing takes it, estimated from the samples in a ring
// around box (which holds the logo) of this frame: the median size of a
// sample less the mean of its 8 neighbours. 0 where the ring is flat, as on
// a clean synthetic picture; a textured one reads as some noise.
float NoiseAround(const SamplePlane& plane, PixelRect box);

// The model of a frame-sized logo given per luma pixel (alpha, and the
// colour's three components per pixel, components 1 and 2 in chroma
// samples): the luma plane as given, each chroma sample's alpha the mean of
// the pixels it covers and its colour their alpha-weighted mean colour,
// which is what blending at full resolution and then subsampling gives.
// Pixels with alpha 0 bound nothing: the box is the smallest one holding
// the logo.
LogoModel LogoFromPixels(int32_t width, int32_t height, int32_t chromaShiftX, int32_t chromaShiftY, int32_t planeCount,
                         const std::vector<float>& alpha, const std::vector<float> colour[3]);

#endif
