// Finding a logo: the pixels whose values and edges stay put over sampled
// frames while the rest of the picture changes.
//
// The analysis streams: it reads the samples several times over (each
// reading a pass), keeps sums per pixel and a few numbers per sample, and
// never holds a whole sample beyond the call that hands it in; of the
// samples it keeps only the candidates' windows, within a fixed budget
// (SampleSource::keptBytes). Its memory is therefore set by the frame's size
// and that budget, not by the number of samples.
#ifndef DELBRIN_DETECT_LOGO_DETECT_H
#define DELBRIN_DETECT_LOGO_DETECT_H

#include <stdint.h>

#include <functional>
#include <vector>

#include "logo_signature.h"
#include "pixel_rect.h"
#include "sample_planes.h"

// Takes one sample; returns false to end the pass early.
using SampleVisitor = std::function<bool(const SamplePlanes& sample)>;

// The samples to analyse: width x height planes, handed to the visitor in
// ascending frame order, the same frames on every reading. read returns
// false when reading failed; the analysis then stops at once. expected is
// about how many samples a reading hands in (it sets the runs' length).
// keptBytes bounds what the analysis keeps of the samples between readings:
// the parts its candidates' windows look at, so that refining them needs
// one reading rather than one a round; 0 reads the samples every round.
struct SampleSource {
    int32_t                                   width = 0;
    int32_t                                   height = 0;
    int64_t                                   expected = 0;
    int64_t                                   keptBytes = 48 << 20;
    std::function<bool(const SampleVisitor&)> read;
};

struct LogoCandidate {
    PixelRect            region = {0, 0, 0, 0};  // the bounding box of the logo's pixels, no margin
    double               score = 0;    // how sure; comparable within one detection
    double               opacity = 0;  // 0 (faint) ... 1 (opaque), an estimate
    bool                 faint = false; // told by steps that hold over the samples though small: a blurred outline
    std::vector<uint8_t> present;      // per sample: 1 when the logo shows in it
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
    DetectVerdict              verdict = kDetectNothing;
    std::vector<int64_t>       frameNumbers;  // the samples read, in order
    std::vector<float>         weights;       // per sample: 0 (the picture did not change) ... 1 (a new picture)
    std::vector<LogoCandidate> candidates;    // best first
};

enum {
    kMinDetectSamples = 12,  // fewer sampled frames are too few to tell
    kMinDetectSide = 8,      // the fewest pixels across and down the samples may have
};

// Finds up to maxCandidates logos in the samples. Returns false when
// reading the samples failed (detection then holds nothing of use).
bool DetectLogos(const SampleSource& source, int maxCandidates, LogoDetection* detection);

// The analysed frames at a finer size than the analysis': `factor` times
// its width and height. read hands in the listed frames (ascending) as
// planes of that size, as SampleSource::read does.
struct FineSamples {
    int32_t                                                                          width = 0;
    int32_t                                                                          height = 0;
    int32_t                                                                          factor = 1;
    bool                                                                             interlaced = false;
    std::function<bool(const std::vector<int64_t>& frameNumbers, const SampleVisitor&)> read;
};

// A found candidate's region in the finer samples' pixels. The analysis'
// size rounds the region out to its grid and shrinking the frames spreads
// its outline a pixel further, so the region is taken again, in a window
// around it, from some of the samples that show the logo at the finer size.
// Where that does not agree with the analysis' region within the rounding
// (too few samples, an outline too faint at that size), the analysis' one
// scaled up stands. Interlaced frames keep the analysis' rows: their chroma
// lines pair rows of one field, which spreads a logo's colour two rows
// beyond its outline at the frame's own size. Returns false when reading
// failed.
bool RefineRegion(const FineSamples& fine, const LogoDetection& detection, const LogoCandidate& candidate,
                  PixelRect* region);

#endif
