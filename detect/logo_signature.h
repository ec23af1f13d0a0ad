// What a found logo looks like, for telling whether one frame shows it: its
// steady steps between neighbouring pixels (in luma and chroma) and, where
// it is opaque, its still pixels' values. A frame is matched against it
// alone, without the samples the logo was found in.
#ifndef DELBRIN_DETECT_LOGO_SIGNATURE_H
#define DELBRIN_DETECT_LOGO_SIGNATURE_H

#include <stdint.h>

#include <vector>

#include "pixel_rect.h"
#include "sample_planes.h"

// Pixels are counted within the signature's window, row by row; an edge's
// right and lower neighbours lie inside the window.
struct SignatureEdge {
    int32_t pixel;
    float   stepX[kSamplePlanes];  // mean step to the right neighbour, by kPlaneWeight; 0 when not steady
    float   stepY[kSamplePlanes];  // mean step to the neighbour below, 0 when not steady
};

struct SignatureStill {
    int32_t pixel;
    uint8_t value[kSamplePlanes];
};

struct LogoSignature {
    PixelRect                   window = {0, 0, 0, 0};  // frame coordinates
    std::vector<SignatureEdge>  edges;
    std::vector<SignatureStill> still;
    float                       edgeEnergy = 0;   // sum of the edges' squared steps
    float                       stillSpread = 0;  // how far a still pixel strays when the logo is gone
};

enum LogoShown : int8_t { kLogoAbsent = 0, kLogoShown = 1, kLogoUnsure = 2 };

struct LogoMatch {
    float     score;  // about 1 when the frame shows the logo, about 0 when not
    LogoShown shown;
};

// Matches one frame (planes of the analysis' size) against the signature.
// A frame whose evidence is split (edges half there, still pixels half
// kept) cannot tell, and says so.
LogoMatch MatchLogo(const LogoSignature& signature, const SamplePlanes& frame);

// Decides the unsure entries of a run of answers, in frame order, from their
// neighbours: the nearest sure answer on either side, and shown when the two
// disagree (a missed frame costs more than one patched in vain). A run with
// no sure answer at all counts as shown.
std::vector<uint8_t> ResolvePresence(const std::vector<LogoShown>& answers);

#endif
