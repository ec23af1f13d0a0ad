// One sampled frame as the analysis sees it: three planes of 8-bit samples,
// luma then the two chroma planes, all of the same size (chroma brought to
// the luma's grid), rows top-down.
#ifndef DELBRIN_DETECT_SAMPLE_PLANES_H
#define DELBRIN_DETECT_SAMPLE_PLANES_H

#include <stdint.h>

enum { kSamplePlanes = 3 };

// What a level of each plane counts for in the analysis. Most video keeps
// chroma at half resolution, and bringing it to the luma's grid spreads a
// logo's colour a pixel or two beyond its outline; counting chroma a quarter
// keeps the region on the luma's outline, while a logo of its surroundings'
// luma still stands out by its colour.
const float kPlaneWeight[kSamplePlanes] = {1.0f, 0.25f, 0.25f};

struct SamplePlanes {
    int64_t        frameNumber;
    const uint8_t* plane[kSamplePlanes];  // Y, Cb, Cr
    int32_t        pitch[kSamplePlanes];  // bytes from one row to the next
    // The frame pixel each plane's first byte holds: 0, 0 for a whole frame;
    // a part of one kept between readings starts at its own corner.
    int32_t        left = 0;
    int32_t        top = 0;
};

#endif
