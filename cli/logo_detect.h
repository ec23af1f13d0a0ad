// Finding a logo: the pixels whose values and edges stay put over sampled
// frames while the rest of the picture changes.
//
// The frames come in as 8-bit luma, all of one size, in the order of their
// frame numbers. The result lists candidate regions best first, each with
// the frames it shows in and what is needed to test one more frame for it.
#ifndef DELBRIN_CLI_LOGO_DETECT_H
#define DELBRIN_CLI_LOGO_DETECT_H

#include <stdint.h>

#include <vector>

struct LumaSample {
    int64_t              frameNumber;
    std::vector<uint8_t> pixels;  // width * height, rows top-down
};

struct LumaSamples {
    int32_t                 width = 0;
    int32_t                 height = 0;
    std::vector<LumaSample> samples;  // ascending frame numbers
};

struct DetectRect {
    int32_t x, y, width, height;
};

// What a logo looks like, for telling whether one frame shows it: its
// steady steps between neighbouring pixels and, where it is opaque, its
// still pixels' values. Pixels are counted within the window, row by row.
struct SignatureEdge {
    int32_t pixel;
    float   stepX;  // mean step to the right neighbour, 0 when not steady
    float   stepY;  // mean step to the neighbour below, 0 when not steady
};

struct SignatureStill {
    int32_t pixel;
    uint8_t value;
};

struct LogoSignature {
    DetectRect                  window;  // frame coordinates
    std::vector<SignatureEdge>  edges;
    std::vector<SignatureStill> still;
    float                       edgeEnergy = 0;  // sum of the edges' squared steps
    float                       stillSpread = 0; // how far a still pixel strays when the logo is gone
};

struct LogoCandidate {
    DetectRect           region;    // the bounding box of the logo's pixels, no margin
    double               score = 0; // how sure; comparable within one detection
    double               opacity = 0;  // 0 (faint) ... 1 (opaque), an estimate
    std::vector<uint8_t> present;   // per sample: 1 when the logo shows in it
    std::vector<float>   presence;  // per sample: the match score behind `present`
    LogoSignature        signature;
};

enum DetectVerdict {
    kDetectFound,      // at least one candidate
    kDetectNothing,    // the picture moves but nothing in it stays put like a logo
    kDetectTooShort,   // too few frames to tell
    kDetectStatic,     // the picture hardly changes: a logo cannot be told from it
    kDetectTooSmall,   // the picture is narrower or lower than the analysis needs
};

struct LogoDetection {
    DetectVerdict               verdict = kDetectNothing;
    std::vector<LogoCandidate>  candidates;  // best first
    double                      movingSamples = 0;  // samples' worth of picture change
};

enum {
    kMinDetectSamples = 12,  // fewer sampled frames are too few to tell
    kMinDetectSide = 8,      // the fewest pixels across and down the samples may have
};

LogoDetection DetectLogos(const LumaSamples& samples, int maxCandidates);

// How well a frame (8-bit luma, the samples' size) matches the signature:
// about 1 when the logo shows, about 0 when it does not.
float MatchLogo(const LogoSignature& signature, const uint8_t* luma, int32_t pitch);

// The score above which MatchLogo counts the logo as shown.
extern const float kPresentScore;

#endif
