// What a found logo looks like, for telling whether one frame shows it: its
// steady steps between neighbouring pixels (in luma and chroma) and, where
// it is opaque, its still pixels' values. A frame is matched against it
// alone, without the samples the logo was found in.
//
// A logo's steps are not fixed: across its outline the step runs from the
// picture to the logo, so text brighter than one picture is darker than the
// next, and a logo learned over a bright picture has its outline's steps
// turned round over a dark one. A pixel letting through a share t of the
// picture beneath shows logo + t * picture, so where the picture's level
// changes by a step's worth, the step changes by the difference of its two
// pixels' shares; the signature keeps that difference beside each step, and
// the picture's level around the logo when it was learned, and a frame's
// steps are matched against the ones its own level around the logo foretells.
#ifndef DELBRIN_DETECT_LOGO_SIGNATURE_H
#define DELBRIN_DETECT_LOGO_SIGNATURE_H

#include <stdint.h>

#include <algorithm>
#include <vector>

#include "pixel_rect.h"
#include "sample_planes.h"

// Pixels are counted within the signature's window, row by row; an edge's
// right and lower neighbours lie inside the window.
struct SignatureEdge {
    int32_t pixel;
    float   stepX[kSamplePlanes];  // mean step to the right neighbour, by kPlaneWeight; 0 when not steady
    float   stepY[kSamplePlanes];  // mean step to the neighbour below, 0 when not steady
    // The share of the picture the right neighbour lets through less this
    // pixel's share (and the same for the one below): what each step takes
    // on of a change of the picture's level under it.
    float   throughX, throughY;
};

struct SignatureStill {
    int32_t pixel;
    uint8_t value[kSamplePlanes];
};

struct LogoSignature {
    PixelRect                   window = {0, 0, 0, 0};  // frame coordinates
    // Frame coordinates, around the logo with a little room: the picture's
    // level around the logo is the mean of this rectangle's outermost rows
    // and columns (RingLevel), by kPlaneWeight, less 128. A mean over all of
    // them, not the pixels nearest a step, which the step itself may run
    // through.
    PixelRect                   ring = {0, 0, 0, 0};
    float                       ringLevel[kSamplePlanes] = {0, 0, 0};  // over the frames it was learned from
    // The logo's box (frame coordinates) and what the logo does to the
    // picture's colour there: the mean of the box less the ring's level,
    // per plane, over the frames it was learned from, and the mean share of
    // the picture the box lets through, by which that shift follows a
    // change of the picture's level. A small logo that the codec smears
    // leaves few steps of its outline, but still tints its box.
    PixelRect                   box = {0, 0, 0, 0};
    float                       tint[kSamplePlanes] = {0, 0, 0};
    float                       boxThrough = 1;
    std::vector<SignatureEdge>  edges;
    std::vector<SignatureStill> still;
    float                       edgeEnergy = 0;   // sum of the edges' squared steps
    float                       stillSpread = 0;  // how far a still pixel strays when the logo is gone
};

enum LogoShown : int8_t { kLogoAbsent = 0, kLogoShown = 1, kLogoUnsure = 2 };

struct LogoMatch {
    LogoShown shown;      // whether the frame shows the logo, over whatever picture
    LogoShown asLearned;  // whether it shows it with the steps it was learned with
};

// The mean level of the picture around a logo, per plane: the pixels of
// ring's outermost rows and columns; level(x, y, plane) gives one pixel's.
// With spread, also how far those pixels' levels spread about the mean
// (their variance).
template <typename Level>
void RingLevel(const PixelRect& ring, const Level& level, float out[kSamplePlanes],
               float spread[kSamplePlanes] = nullptr) {
    const int32_t right = (int32_t)RectRight(ring) - 1, bottom = (int32_t)RectBottom(ring) - 1;
    for (int p = 0; p < kSamplePlanes; p++) {
        double sum = 0, squares = 0;
        int32_t count = 0;
        auto add = [&](int32_t x, int32_t y) {
            const double v = level(x, y, p);
            sum += v;
            squares += v * v;
            count++;
        };
        for (int32_t x = ring.x; x <= right; x++) add(x, ring.y), add(x, bottom);
        for (int32_t y = ring.y + 1; y < bottom; y++) add(ring.x, y), add(right, y);
        const double mean = count > 0 ? sum / count : 0;
        out[p] = (float)mean;
        if (spread) spread[p] = count > 0 ? (float)std::max(0.0, squares / count - mean * mean) : 0;
    }
}

// Matches one frame (planes of the analysis' size) against the signature.
// A frame whose evidence is split (edges half there, still pixels half
// kept) cannot tell, and says so. A frame showing the logo as it was
// learned shows it; one showing it over a picture of another level (its
// outline's steps turned round) shows it too, but tells nothing more of the
// steps learned, which the analysis takes from the frames showing them.
// A frame whose steps do not show the logo (a small one the codec smeared)
// shows it still when its box is tinted as the logo tints it there, far
// from what the picture around alone would leave.
LogoMatch MatchLogo(const LogoSignature& signature, const SamplePlanes& frame);

// Decides the unsure entries of a run of answers, in frame order, from their
// neighbours: the nearest sure answer on either side, and shown when the two
// disagree (a missed frame costs more than one patched in vain). A run with
// no sure answer at all counts as shown.
std::vector<uint8_t> ResolvePresence(const std::vector<LogoShown>& answers);

#endif
