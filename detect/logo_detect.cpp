// Finding a logo in sampled frames, reading them as a stream.
//
// A logo is laid over the picture: where it is opaque its pixels keep their
// values whatever passes beneath; where it is translucent the picture shows
// through, dimmed, but the logo's own edges stay where they are. So over
// frames that differ, a logo shows as pixels of small temporal variance and
// as steps between neighbouring pixels whose mean holds most of their energy
// (a step that keeps its sign and size), while the moving picture's steps
// change sign and cancel in the mean. Luma and chroma count alike: a logo of
// its surroundings' brightness still differs from them in colour.
//
// The passes: 1. weigh each sample by how much the picture changed since the
// last sample that showed a new picture, so that a stretch of still picture
// counts once; cut the samples into runs and mark, at the end of each run,
// the pixels that stayed put in it (a logo shown only in some runs still
// marks itself there); pixels marked in enough of the runs, closed and
// joined, are the first candidates. 2. for each candidate, take the region
// from the statistics of a window around it over the runs that mark it.
// 3. and on: match every sample against the region's signature and take the
// region again over the samples that show it, until the set settles.
// Finally score the regions by the strength of their steady edges and still
// pixels, where they sit, how often they show and how much they hide of the
// picture beneath.
//
// A faint logo (a soft watermark) steps by a few levels, less than the
// picture beneath, and marks itself in hardly any run. Pass 1 also sums
// every sample; steps whose mean stands out from their spread over all the
// samples, near others running the other way (an outline turns), propose
// candidates of their own, and a candidate that shows no clear logo is
// refined again with such steps counting. Near the frame's sides only: the
// middle of a zoom holds its steps as steadily.
#include "logo_detect.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <utility>

namespace {

// Tuning, in 8-bit levels unless said otherwise.
const float kNoiseChange = 1.5f;   // mean absolute change between samples that is only noise
const float kFullChange = 6.0f;    // mean absolute change of a sample that shows a new picture
const float kBlockNoise = 2.5f;    // the same in blocks' means: a codec's flicker over a still picture
const float kMinMoving = 6.0f;     // samples' worth of change below which the clip is still
const float kRunWeight = 8.0f;     // least weight of a run of samples
const int   kMaxRuns = 16;         // runs are told apart by the bits of a 16-bit mask
// A run whose typical pixel varies less (a deviation of 2 levels) shows no
// movement; a run of a slow picture goes on until it does.
const float kMinRunVariance = 4;
// The picture around a logo varies at least this much (a deviation of 1.4
// levels, above what a codec leaves on a still picture) over the samples
// that tell its region: a slow pan over a smooth picture barely does more.
const float kMinRingVariance = 2;
// Below that, the picture around is blank when nearly all of it lies within
// this many levels of one colour; a logo on it differs by twice as much.
const float kBlankSpread = 6;
// Pixels beyond a box's ring that tell whether the picture right around it
// is blank, whatever the window holds farther out; and the spread of such a
// blank. A low rate's blocks mottle a few pixels around a box more than a
// window's worth, and the pixels marked still lie twice as far from it.
const int   kBlankReach = 8;
const float kNearBlankSpread = 7;
const float kSteadyValue = 0.05f;  // variance, as a share of the moving picture's, of a still pixel
const float kQuietSide = 0.8f;     // most variance of a step's logo side, as a share of the other side's
const float kMovingSide = 0.25f;   // least variance of its other side, as a share of the moving picture's
const float kDimmedValue = 0.5f;   // variance, as a share of the moving picture's, of a dimmed pixel
const float kSharpStill = 0.5f;    // variance right outside a still patch, as a share of the moving picture's
const float kSharpDimmed = 0.8f;   // the same for a dimmed patch
const float kDimmedContrast = 2.5f; // and at least this many times the dimmed patch's own
// or this many times for a patch that fills most of its box (a plate): a
// plate of 0.35 opacity passes 0.42 of the picture's variance, and the
// codec's noise on it and its blocks smearing the outline bring that nearer.
// The calm parts of a picture and the strokes of a soft watermark fill
// their boxes far less.
const float kPlateContrast = 1.8f;
const float kPlateFill = 0.75f;    // least share of its box a plate's patch fills
const int   kMinPlateArea = 100;   // least pixels of a plate's patch
const float kPlateChange = 2.0f;   // least change of the pixels around a text its plate shows by
const float kPlateStandsOut = 8.0f; // least ratio of their squared change to the picture's further out
const float kPlateOverVariation = 2.0f; // and to their variance over the samples
const int   kPlateRing = 3;        // pixels around a text whose change tells a plate
const float kEdgeMin = 6.0f;       // least mean step of a steady edge
const float kEdgeCoherence = 0.5f; // least share of a steady step's energy in its mean
const float kFaintEdgeMin = 2.0f;  // least mean step of a faint logo's steady edge
const float kFaintSignificance = 50.0f; // least mean^2 / (its variance / samples) of a faint step
const float kFaintQuietSide = 0.95f;   // kQuietSide for a faint logo, which dims the picture little
// Shares of the runs' weight a candidate pixel is marked in, tried in turn;
// the lowest lets a logo shown in a sixth of the clip mark itself.
const float kMarkedShares[] = {0.1f, 0.2f, 0.35f, 0.5f, 0.7f, 0.85f};
const int   kCloseRadius = 2;      // pixels joined across gaps this wide
const int   kFaintCloseRadius = 4; // the same for a faint logo
const int   kTurnRadius = 7;       // steps across and down this near each other make an outline that turns
const int   kLineGap = 3;          // pixels a faint line of the picture may break for and still be one line
const int   kMinArea = 12;         // pixels of a candidate
const float kMaxExtent = 0.45f;    // of the frame's width or height
const float kMaxFaintExtent = 0.25f; // the same for a faint logo, which sits small in a corner or along a side
const float kStillWorth = 10.0f;   // score of a still pixel, against a steady step's size
const float kLeastOutline = 0.05f; // least steady steps' size, as a share of its still pixels' score, that outlines a patch
const float kStillTolerance = 6;   // least spread of a still pixel's value between frames without the logo
const float kClearOpacity = 0.3f;  // opacity from which a region counts fully
const float kFaintShownShare = 0.85f; // least share of the samples a faint logo counts fully in
const float kWeakSide = 0.25f;     // least share of the step inside it a logo's side steps out by
const float kClearStep = 2 * kEdgeMin; // least mean step of a clear outline, inside its ringing
const float kClearShare = 0.5f;    // least share of a region's steady steps' size in clear ones, for a clear outline
const float kUntoldDimming = 0.1f; // most dimming of a logo whose dimming the picture around cannot tell
const float kRingingAlong = 0.25f; // least share of a side's outline marks its ringing has, for what lies beyond it to go
// Most variance of a drop shadow's pixels, as a share of that of the pixels
// around them (a shadow of an eighth's opacity and more).
const float kShadowShare = 0.75f;
// Least (1 - that share) * sqrt(its pixels): a zone of a few pixels may
// vary as little by chance.
const float kShadowEvidence = 2.5f;
const float kShadowBeside = 0.9f;  // most share at an offset beside a shadow's
// Most variance of the pixels around a shadow, as a share of the moving
// picture's: where they vary much more, the picture around the region
// holds still in part (the rest of a logo found in parts) and tells
// nothing of a shadow.
const float kShadowAround = 1.5f;
// A soft outline's halo: the lines beyond a side it takes in at most (at
// the analysis' size); the least shift of the picture's mean in such a
// line, as a share of the side's own, in levels and in the mean's chance
// wandering; beyond the first, the most share of the shift of the line
// before it; and how much further out the picture's own mean is read.
const int   kHaloReach = 3;
const float kHaloShare = 0.2f;
const float kHaloFade = 0.7f;
const float kHaloLevel = 2.0f;
const float kHaloSignificance = 3.0f;
const int   kHaloBeyond = 3;
const float kHaloClearDimming = 0.5f; // dimming from which what lies beside a clear outline is its ringing
const int   kMaxTrimmed = 3;       // lines a side of a region loses at most for not stepping out
const float kMinScore = 1000.0f;   // least score of a region reported as a logo
// The same for a translucent logo told by its outline: one that dims the
// picture beneath it by at least kTranslucentDimming, shows in at least
// kTranslucentShowing of the samples and covers kMinTranslucentArea pixels.
const float kMinTranslucentScore = 250.0f;
const float kTranslucentDimming = 0.15f;
const float kTranslucentShowing = 0.5f;
const int   kMinTranslucentArea = 64;
const float kLeastCrossing = 0.1f; // least share of a region's steady steps that run the less common way
const float kLeastBreadth = 0.01f; // least breadth of a region's steady pixels across their line (a box 10 times wider than high)
const float kLeastSlope = 20;      // degrees from the frame's axes from which their line runs along a slope
const float kLeastSlopedBreadth = 0.1f; // and their least breadth then (a band 3 times longer than broad)
const int   kMaxRefined = 12;      // first candidates refined, the most strongly marked first
const int   kMaxDenseRefined = 4;  // and the ones marked most often for their size besides them
const int   kMaxStrongRefined = 2; // and the ones of most mass for that besides those
const int   kMaxTogetherRefined = 2; // and the ones whose pixels are marked most together besides those
const float kChanceTogether = 0.5f; // share of a busy picture's steady group marked in one run
const int   kMaxFaintRefined = 4;  // and faint logos' candidates besides them
const float kMinShowing = 8;       // samples' worth of change a region must show through
const float kMinShownShare = 0.1f; // least share of the samples a logo shows in (found from 15 %)
const float kLeastShowingShare = 0.05f; // least share of the samples one showing lasts (15 % parted by a break)
const int   kMaxRounds = 4;        // signature rounds before the set of showing samples must settle
const int   kMaxGrowths = 3;       // times a region running out of its window may grow it
const float kWindowBudget = 2.0f;  // window pixels refined in one pass, in frames
const float kSameRows = 0.7f;      // least share of the taller one's rows two letters of a text share
const float kLetterGap = 0.75f;    // widest gap between two letters of a text, in the lower one's heights
const float kLeastSharedShowing = 0.8f; // share of the samples either part of one logo shows in that both show in
const float kLostLetterGap = 1.5f; // widest gap a lost letter leaves between two letters of a text, in heights
const float kLostLetterMarks = 0.5f; // least share of the letters' marks the runs leave in that gap
const int   kFineSamples = 96;     // samples a region is taken again from at a finer size

// r with `by` pixels more on every side, within a width x height area.
PixelRect Grow(const PixelRect& r, int32_t by, int32_t width, int32_t height) {
    return ClipRectToFrame({r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by}, width, height);
}

PixelRect Union(const PixelRect& a, const PixelRect& b) {
    if (IsEmptyRect(a)) return b;
    int32_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    int64_t x1 = std::max(RectRight(a), RectRight(b)), y1 = std::max(RectBottom(a), RectBottom(b));
    return {x0, y0, (int32_t)(x1 - x0), (int32_t)(y1 - y0)};
}

// Whether pixel (i, j) lies inside r.
bool HoldsPixel(const PixelRect& r, int32_t i, int32_t j) {
    return i >= r.x && i < RectRight(r) && j >= r.y && j < RectBottom(r);
}

// The share of a's area that lies inside b.
double ShareInside(const PixelRect& a, const PixelRect& b) {
    int64_t w = std::min(RectRight(a), RectRight(b)) - std::max(a.x, b.x);
    int64_t h = std::min(RectBottom(a), RectBottom(b)) - std::max(a.y, b.y);
    return w <= 0 || h <= 0 ? 0 : (double)w * h / ((double)a.width * a.height);
}

// The places of a set of pixels, as moments: how far they spread across
// the straight line they lie along most, against how far along it.
struct Spread {
    double n = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;

    void Add(int32_t i, int32_t j) {
        n++, sx += i, sy += j;
        sxx += (double)i * i, syy += (double)j * j, sxy += (double)i * j;
    }
    // The ratio of the least to the most second moment: about 0 for pixels
    // on one line and (h / w)^2 for pixels filling a w x h box. The line's
    // tilt, in degrees from the nearer of the frame's axes, goes to *tilt
    // when it is asked for.
    double Breadth(double* tilt = nullptr) const {
        if (tilt) *tilt = 0;
        if (n < 2) return 0;
        const double cxx = sxx / n - (sx / n) * (sx / n), cyy = syy / n - (sy / n) * (sy / n);
        const double cxy = sxy / n - (sx / n) * (sy / n);
        const double half = (cxx + cyy) / 2, apart = sqrt(std::max(0.0, half * half - (cxx * cyy - cxy * cxy)));
        const double angle = fabs(0.5 * atan2(2 * cxy, cxx - cyy)) * 57.29577951308232;  // 0 to 90 degrees
        if (tilt) *tilt = std::min(angle, 90 - angle);
        return half + apart > 0 ? (half - apart) / (half + apart) : 0;
    }
    // Logos stand upright: a text lies along a row, while pixels lying along
    // a slope in a narrow band are an edge of the picture lying along a
    // diagonal motion, or two such edges side by side.
    bool AlongASlope() const {
        double tilt;
        const double breadth = Breadth(&tilt);
        return tilt >= kLeastSlope && breadth < kLeastSlopedBreadth;
    }
};

// Weighted sums over samples for the pixels of a window: each plane's value
// (less 128, which keeps the float sums exact enough, and scaled by the
// plane's weight), the squares summed
// over the planes, and the squared steps to the right and downward
// neighbours, summed over the planes.
struct WindowSums {
    PixelRect          window = {0, 0, 0, 0};
    double             weight = 0;
    std::vector<float> value;  // kSamplePlanes per pixel
    std::vector<float> square, stepX, stepY;
};

// The statistics the sums lead to, over the planes together.
struct WindowStats {
    PixelRect          window = {0, 0, 0, 0};
    std::vector<float> mean;       // kSamplePlanes per pixel, less 128
    std::vector<float> variance;   // summed over the planes
    std::vector<float> meanStepX;  // kSamplePlanes per pixel: mean(x+1) - mean(x), the mean of the steps
    std::vector<float> meanStepY;
    std::vector<float> energyX;    // the mean of the steps squared, summed over the planes
    std::vector<float> energyY;
    double             weight = 0;     // the samples' the sums were taken over
    // Whether a step too small to count as steady by itself counts when it
    // holds over the samples (a faint logo's).
    bool               faintSteps = false;
};

void StartSums(WindowSums* sums, PixelRect window) {
    size_t n = (size_t)window.width * window.height;
    sums->window = window;
    sums->weight = 0;
    sums->value.assign(n * kSamplePlanes, 0);
    sums->square.assign(n, 0);
    sums->stepX.assign(n, 0);
    sums->stepY.assign(n, 0);
}

void AddSample(WindowSums* sums, const SamplePlanes& sample, int32_t width, int32_t height, float w) {
    const PixelRect& r = sums->window;
    sums->weight += w;
    // The window's last column and row take their steps from the pixels just
    // outside when there are any; at the frame's edge the step is 0.
    const int32_t stepsX = RectRight(r) < width ? r.width : r.width - 1;
    for (int p = 0; p < kSamplePlanes; p++) {
        const float scale = kPlaneWeight[p];
        const int32_t pitch = sample.pitch[p];
        for (int32_t j = 0; j < r.height; j++) {
            const uint8_t* row = sample.plane[p] + (size_t)(r.y - sample.top + j) * pitch + (r.x - sample.left);
            const uint8_t* below = r.y + j + 1 < height ? row + pitch : row;
            const size_t first = (size_t)j * r.width;
            float* value = &sums->value[first * kSamplePlanes + p];
            float* square = &sums->square[first];
            float* stepX = &sums->stepX[first];
            float* stepY = &sums->stepY[first];
            for (int32_t i = 0; i < r.width; i++) {
                float v = scale * ((float)row[i] - 128.0f);
                value[(size_t)i * kSamplePlanes] += w * v;
                square[i] += w * v * v;
                float d = scale * ((float)below[i] - (float)row[i]);
                stepY[i] += w * d * d;
            }
            for (int32_t i = 0; i < stepsX; i++) {
                float d = scale * ((float)row[i + 1] - (float)row[i]);
                stepX[i] += w * d * d;
            }
        }
    }
}

void AddSums(WindowSums* sums, const WindowSums& more) {
    sums->weight += more.weight;
    for (size_t k = 0; k < more.value.size(); k++) sums->value[k] += more.value[k];
    for (size_t q = 0; q < more.square.size(); q++) {
        sums->square[q] += more.square[q];
        sums->stepX[q] += more.stepX[q];
        sums->stepY[q] += more.stepY[q];
    }
}

// A pixel's variance over the summed samples, over the planes together;
// inverse is 1 / the sums' weight.
float PixelVariance(const WindowSums& sums, size_t q, float inverse) {
    float squares = 0;
    for (int p = 0; p < kSamplePlanes; p++) {
        const float m = sums.value[q * kSamplePlanes + p] * inverse;
        squares += m * m;
    }
    return std::max(0.0f, sums.square[q] * inverse - squares);
}

void FinishStats(const WindowSums& sums, WindowStats* stats) {
    const PixelRect& r = sums.window;
    const size_t n = (size_t)r.width * r.height;
    const float inverse = sums.weight > 0 ? (float)(1.0 / sums.weight) : 0;
    stats->window = r;
    stats->weight = sums.weight;
    stats->mean.resize(n * kSamplePlanes);
    stats->variance.resize(n);
    stats->energyX.resize(n);
    stats->energyY.resize(n);
    for (size_t q = 0; q < n; q++) {
        for (int p = 0; p < kSamplePlanes; p++) stats->mean[q * kSamplePlanes + p] = sums.value[q * kSamplePlanes + p] * inverse;
        stats->variance[q] = PixelVariance(sums, q, inverse);
        stats->energyX[q] = sums.stepX[q] * inverse;
        stats->energyY[q] = sums.stepY[q] * inverse;
    }
    // The mean of the steps is the step of the means. Where the window ends
    // inside the frame its last column and row have no neighbour here, and
    // get no mean step: they only pad the window.
    stats->meanStepX.assign(n * kSamplePlanes, 0);
    stats->meanStepY.assign(n * kSamplePlanes, 0);
    for (int32_t j = 0; j < r.height; j++)
        for (int32_t i = 0; i < r.width; i++) {
            const size_t q = ((size_t)j * r.width + i) * kSamplePlanes;
            for (int p = 0; p < kSamplePlanes; p++) {
                if (i + 1 < r.width)
                    stats->meanStepX[q + p] = stats->mean[q + kSamplePlanes + p] - stats->mean[q + p];
                if (j + 1 < r.height)
                    stats->meanStepY[q + p] = stats->mean[q + (size_t)r.width * kSamplePlanes + p] - stats->mean[q + p];
            }
        }
}

float SquaredSize(const float* step) {
    float s = 0;
    for (int p = 0; p < kSamplePlanes; p++) s += step[p] * step[p];
    return s;
}

// A step is steady when it is large and its mean holds most of its energy:
// mean^2 / mean(step^2) is 1 for a step that never changes and about
// 1 / samples for steps that come and go at random.
bool SteadyStep(const float* meanStep, float energy) {
    const float size = SquaredSize(meanStep);
    return size >= kEdgeMin * kEdgeMin && size >= kEdgeCoherence * energy;
}

// A faint logo's steps are small (a soft watermark moves the mean by a few
// levels a pixel) and the picture's own steps beneath hold much of their
// energy, but the mean holds over every sample while the picture's steps
// come and go: the mean is significant against its spread over `weight`
// samples (mean^2 >> variance / samples), so the evidence grows with the
// samples rather than being a fixed share.
bool FaintStep(const float* meanStep, float energy, double weight) {
    const float size = SquaredSize(meanStep);
    return size >= kFaintEdgeMin * kFaintEdgeMin && size * weight >= kFaintSignificance * std::max(0.0f, energy - size);
}

// Whether the step at pixel p is steady by the window's rule.
bool StepHolds(const WindowStats& s, const float* meanStep, float energy) {
    return SteadyStep(meanStep, energy) || (s.faintSteps && FaintStep(meanStep, energy, s.weight));
}

float Median(std::vector<float> values) {
    if (values.empty()) return 0;
    size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + mid, values.end());
    return values[mid];
}

// The sizes of the steady steps inside a part of the window, those to the
// right and those downward.
void SteadyStepMass(const WindowStats& stats, const PixelRect& inside, double* stepsX, double* stepsY) {
    const PixelRect& window = stats.window;
    for (int32_t j = inside.y; j < RectBottom(inside); j++)
        for (int32_t i = inside.x; i < RectRight(inside); i++) {
            size_t p = (size_t)j * window.width + i;
            const float* meanX = &stats.meanStepX[p * kSamplePlanes];
            const float* meanY = &stats.meanStepY[p * kSamplePlanes];
            if (i + 1 < window.width && StepHolds(stats, meanX, stats.energyX[p])) *stepsX += sqrtf(SquaredSize(meanX));
            if (j + 1 < window.height && StepHolds(stats, meanY, stats.energyY[p])) *stepsY += sqrtf(SquaredSize(meanY));
        }
}

// A logo's outline turns, so its steady steps run across as well as down.
// Steps that all run one way are an edge of the picture lying along its
// motion (a horizon under a sideways pan), and count for nothing.
bool Turns(double stepsX, double stepsY) {
    return std::min(stepsX, stepsY) >= kLeastCrossing * (stepsX + stepsY);
}

// Binary dilation or erosion by a square of side 2 * radius + 1, one axis
// at a time.
void SpreadMarks(std::vector<uint8_t>* marks, int32_t w, int32_t h, int radius, bool grow) {
    std::vector<uint8_t> line;
    const uint8_t keep = grow ? 1 : 0;
    for (int pass = 0; pass < 2; pass++) {
        const int32_t count = pass == 0 ? h : w;   // lines
        const int32_t length = pass == 0 ? w : h;  // pixels per line
        const size_t along = pass == 0 ? 1 : (size_t)w;
        const size_t across = pass == 0 ? (size_t)w : 1;
        line.resize(length);
        for (int32_t l = 0; l < count; l++) {
            uint8_t* first = marks->data() + l * across;
            for (int32_t k = 0; k < length; k++) line[k] = first[k * along];
            for (int32_t k = 0; k < length; k++) {
                uint8_t v = line[k];
                for (int d = -radius; d <= radius && v != keep; d++) {
                    int32_t q = k + d;
                    // Beyond the ends counts as unmarked for growing and as
                    // marked for shrinking.
                    if (q >= 0 && q < length && line[q] == keep) v = keep;
                }
                first[k * along] = v;
            }
        }
    }
}

// Clears marks with no marked neighbour: an edge is a line, a coincidence
// in a moving picture is a dot.
void DropLoneMarks(std::vector<uint8_t>* marks, int32_t w, int32_t h) {
    std::vector<uint8_t> in = *marks;
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            size_t p = (size_t)y * w + x;
            if (!in[p]) continue;
            bool joined = false;
            for (int32_t dy = -1; dy <= 1 && !joined; dy++)
                for (int32_t dx = -1; dx <= 1; dx++) {
                    int32_t nx = x + dx, ny = y + dy;
                    if ((dx || dy) && nx >= 0 && ny >= 0 && nx < w && ny < h && in[(size_t)ny * w + nx]) {
                        joined = true;
                        break;
                    }
                }
            (*marks)[p] = joined;
        }
}

// Where marks of both kinds lie within kTurnRadius: an outline that turns.
std::vector<uint8_t> NearBoth(std::vector<uint8_t> across, std::vector<uint8_t> down, int32_t w, int32_t h) {
    SpreadMarks(&across, w, h, kTurnRadius, true);
    SpreadMarks(&down, w, h, kTurnRadius, true);
    for (size_t p = 0; p < across.size(); p++) across[p] = across[p] && down[p];
    return across;
}

// Whether a run of `steps` along a line (gaps of up to kLineGap bridged)
// reaches into `turning` and out to an end of the line.
bool PassesBy(const uint8_t* steps, const uint8_t* turning, int32_t length, size_t along) {
    bool in = false, end = false;  // the run so far
    for (int32_t k = 0, gap = kLineGap + 1; k < length; k++) {
        if (!steps[k * along]) {
            gap++;
            continue;
        }
        if (gap > kLineGap) in = false, end = k <= kLineGap;  // a run begins
        gap = 0;
        in |= turning[k * along] != 0;
        end |= k >= length - 1 - kLineGap;
        if (in && end) return true;
    }
    return false;
}

// Where the window's steps hold over the samples, one map for the steps
// to the pixel's right neighbour and one for those to the pixel below.
void HeldStepMaps(const WindowStats& s, std::vector<uint8_t>* across, std::vector<uint8_t>* down) {
    const PixelRect& r = s.window;
    const size_t n = (size_t)r.width * r.height;
    across->assign(n, 0);
    down->assign(n, 0);
    for (int32_t j = 0; j < r.height; j++)
        for (int32_t i = 0; i < r.width; i++) {
            const size_t p = (size_t)j * r.width + i;
            (*across)[p] = i + 1 < r.width && StepHolds(s, &s.meanStepX[p * kSamplePlanes], s.energyX[p]);
            (*down)[p] = j + 1 < r.height && StepHolds(s, &s.meanStepY[p * kSamplePlanes], s.energyY[p]);
        }
}

// An edge of the picture lying along its motion holds its steps as a faint
// logo's outline does, and where it passes the logo it lies near steps
// running the other way; but it runs on out of the logo's window, which
// has room around the logo's region, while an outline turns. Such a line's
// steps are the picture's, over the logo too: they are cleared from the
// window's mean steps, so that they neither draw the region out along the
// line nor count as the logo's.
void DropPassingLines(WindowStats* s) {
    const PixelRect& r = s->window;
    std::vector<uint8_t> across, down;
    HeldStepMaps(*s, &across, &down);
    const std::vector<uint8_t> turning = NearBoth(across, down, r.width, r.height);
    // A line is a pixel or two wide: its steps into it and out of it lie on
    // neighbouring rows (or columns), the fainter of them broken up.
    std::vector<uint8_t> rows(r.height, 0), columns(r.width, 0);
    for (int32_t j = 0; j < r.height; j++)
        if (PassesBy(&down[(size_t)j * r.width], &turning[(size_t)j * r.width], r.width, 1))
            for (int32_t d = std::max(0, j - 1); d <= std::min(r.height - 1, j + 1); d++) rows[d] = 1;
    for (int32_t i = 0; i < r.width; i++)
        if (PassesBy(&across[i], &turning[i], r.height, r.width))
            for (int32_t d = std::max(0, i - 1); d <= std::min(r.width - 1, i + 1); d++) columns[d] = 1;
    for (int32_t j = 0; j < r.height; j++)
        for (int32_t i = 0; i < r.width; i++)
            for (int p = 0; p < kSamplePlanes; p++) {
                const size_t q = ((size_t)j * r.width + i) * kSamplePlanes + p;
                if (rows[j]) s->meanStepY[q] = 0;
                if (columns[i]) s->meanStepX[q] = 0;
            }
}

// Closing: growing then shrinking by the radius joins marks across small
// gaps. It works on a copy padded by the radius, so that a mark near the
// frame's side is not drawn out to the side.
void CloseMarks(std::vector<uint8_t>* marks, int32_t w, int32_t h, int radius) {
    const int32_t pw = w + 2 * radius, ph = h + 2 * radius;
    std::vector<uint8_t> padded((size_t)pw * ph, 0);
    for (int32_t y = 0; y < h; y++)
        memcpy(&padded[(size_t)(y + radius) * pw + radius], &(*marks)[(size_t)y * w], (size_t)w);
    SpreadMarks(&padded, pw, ph, radius, true);
    SpreadMarks(&padded, pw, ph, radius, false);
    for (int32_t y = 0; y < h; y++)
        memcpy(&(*marks)[(size_t)y * w], &padded[(size_t)(y + radius) * pw + radius], (size_t)w);
}

// The 8-connected groups of marked pixels, each as its bounding box and size.
struct Component {
    PixelRect    box;
    int32_t area;
    double  mass;  // sum of a weight map over the component
};

std::vector<Component> Components(const std::vector<uint8_t>& marks, int32_t w, int32_t h,
                                  const std::vector<float>* weights, std::vector<int32_t>* labels) {
    std::vector<Component> found;
    labels->assign(marks.size(), -1);
    std::vector<int32_t> stack;
    for (int32_t start = 0; start < w * h; start++) {
        if (!marks[start] || (*labels)[start] >= 0) continue;
        const int32_t label = (int32_t)found.size();
        int32_t x0 = w, y0 = h, x1 = -1, y1 = -1, area = 0;
        double mass = 0;
        stack.push_back(start);
        (*labels)[start] = label;
        while (!stack.empty()) {
            int32_t p = stack.back();
            stack.pop_back();
            int32_t x = p % w, y = p / w;
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            area++;
            if (weights) mass += (*weights)[p];
            for (int32_t dy = -1; dy <= 1; dy++)
                for (int32_t dx = -1; dx <= 1; dx++) {
                    int32_t nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h) continue;
                    int32_t q = ny * w + nx;
                    if (marks[q] && (*labels)[q] < 0) {
                        (*labels)[q] = label;
                        stack.push_back(q);
                    }
                }
        }
        found.push_back({{x0, y0, x1 - x0 + 1, y1 - y0 + 1}, area, mass});
    }
    return found;
}

// Whether the picture moves right outside a patch: 2 to 3 pixels away from
// it (the first pixel may carry the codec's ringing) the variance is most of
// the moving picture's and `contrast` times the patch's own. A logo's patch
// ends at its outline; a part of the picture that merely changes slowly, or
// that the moving picture passes over now and then, fades out instead.
bool SharpPatch(const WindowStats& s, const std::vector<int32_t>& labels, int32_t label, PixelRect box,
                float leastVariance, float contrast) {
    const PixelRect& r = s.window;
    const PixelRect around = Grow(box, 3, r.width, r.height);
    std::vector<float> ring, inside;
    for (int32_t j = around.y; j < RectBottom(around); j++)
        for (int32_t i = around.x; i < RectRight(around); i++) {
            int32_t nearest = 4;  // Chebyshev distance to the patch, capped
            for (int32_t dy = -3; dy <= 3; dy++)
                for (int32_t dx = -3; dx <= 3; dx++) {
                    int32_t x = i + dx, y = j + dy;
                    if (x < 0 || y < 0 || x >= r.width || y >= r.height || labels[(size_t)y * r.width + x] != label)
                        continue;
                    nearest = std::min(nearest, std::max(abs(dx), abs(dy)));
                }
            if (nearest == 0) inside.push_back(s.variance[(size_t)j * r.width + i]);
            if (nearest >= 2 && nearest <= 3) ring.push_back(s.variance[(size_t)j * r.width + i]);
        }
    if (ring.empty()) return false;
    const float outside = Median(ring);
    return outside >= leastVariance && outside >= contrast * Median(inside);
}

// The patches of `quiet` pixels (variance below a share of the moving
// picture's) that moving picture encloses (see SharpPatch; a patch that
// fills most of its box needs only `plateContrast`). A flat part of the
// picture (sky, a wall, black bars) holds as still as an opaque logo, so
// patches running out of the window or to the frame's side (logos keep away
// from it), patches larger than a logo and patches whose surroundings do
// not move are left out.
std::vector<uint8_t> EnclosedPatches(const WindowStats& s, std::vector<uint8_t> quiet, float movingVariance,
                                     float sharpness, float contrast, float plateContrast, int32_t frameWidth,
                                     int32_t frameHeight) {
    const PixelRect& r = s.window;
    std::vector<uint8_t> joined = quiet;
    CloseMarks(&joined, r.width, r.height, 1);
    std::vector<int32_t> labels;
    std::vector<Component> patches = Components(joined, r.width, r.height, nullptr, &labels);
    std::vector<uint8_t> enclosed(patches.size(), 0);
    for (size_t k = 0; k < patches.size(); k++) {
        const PixelRect& b = patches[k].box;
        bool escapes = b.x == 0 || b.y == 0 || RectRight(b) == r.width || RectBottom(b) == r.height;
        const bool plate = patches[k].area >= kMinPlateArea && patches[k].area >= kPlateFill * b.width * b.height;
        enclosed[k] = !escapes && patches[k].area >= 4 && b.width <= kMaxExtent * frameWidth &&
                      b.height <= kMaxExtent * frameHeight &&
                      SharpPatch(s, labels, (int32_t)k, b, sharpness * movingVariance, plate ? plateContrast : contrast);
    }
    for (size_t p = 0; p < quiet.size(); p++) quiet[p] = quiet[p] && enclosed[labels[p]];
    return quiet;
}

// Of the two pixels of a steady step, marks the one the moving picture
// shows through less, when the other one moves: the logo's side of its
// outline. Where both vary alike, the step lies outside the logo (the
// codec's ringing around its outline holds still too) or inside it; where
// neither moves, it is an edge of a still part of the picture. Neither is
// marked then.
void MarkQuietSide(const WindowStats& s, size_t a, size_t b, float movingVariance,
                   std::vector<uint8_t>* marks) {
    const float va = s.variance[a], vb = s.variance[b];
    const float moves = kMovingSide * movingVariance;
    const float quiet = s.faintSteps ? kFaintQuietSide : kQuietSide;
    if (va <= quiet * vb && vb >= moves)
        (*marks)[a] = 1;
    else if (vb <= quiet * va && va >= moves)
        (*marks)[b] = 1;
}

// Marks the window's pixels that stay put: of each steady step, the pixel
// on its quieter side, which is the logo's side of its outline; the still
// pixels of enclosed patches (an opaque logo). A local look (a window
// around one candidate, whose moving variance is that of the picture around
// it) also asks the outline's other side to move, and marks the pixels of
// enclosed patches the picture only shows through dimmed (a translucent
// logo). Over the whole frame, the picture's calm parts would fail the first
// and its slowly changing parts pass the second.
std::vector<uint8_t> SteadyPixels(const WindowStats& s, float movingVariance, int32_t frameWidth,
                                  int32_t frameHeight, bool local, std::vector<uint8_t>* stillOut = nullptr,
                                  std::vector<uint8_t>* outlineOut = nullptr) {
    const PixelRect& r = s.window;
    const size_t n = (size_t)r.width * r.height;
    std::vector<uint8_t> marks(n, 0), still(n, 0), dim(n, 0);
    const float outlineMoving = local ? movingVariance : 0;
    // Faint steps are small enough that an edge of the picture holding
    // still along its motion passes too: their quiet sides are marked apart,
    // across and down, and count only where the outline turns.
    std::vector<uint8_t> faintAcross(s.faintSteps ? n : 0, 0), faintDown(s.faintSteps ? n : 0, 0);
    for (int32_t j = 0; j < r.height; j++)
        for (int32_t i = 0; i < r.width; i++) {
            size_t p = (size_t)j * r.width + i;
            still[p] = s.variance[p] < kSteadyValue * movingVariance;
            // Still pixels are not dimmed ones: a dimmed patch grown out of
            // an opaque logo into a calm part of the picture beside it would
            // take that part in.
            dim[p] = !still[p] && s.variance[p] < kDimmedValue * movingVariance;
            const float* meanX = &s.meanStepX[p * kSamplePlanes];
            const float* meanY = &s.meanStepY[p * kSamplePlanes];
            if (i + 1 < r.width && StepHolds(s, meanX, s.energyX[p]))
                MarkQuietSide(s, p, p + 1, outlineMoving, s.faintSteps ? &faintAcross : &marks);
            if (j + 1 < r.height && StepHolds(s, meanY, s.energyY[p]))
                MarkQuietSide(s, p, p + r.width, outlineMoving, s.faintSteps ? &faintDown : &marks);
        }
    if (s.faintSteps) {
        const std::vector<uint8_t> turning = NearBoth(faintAcross, faintDown, r.width, r.height);
        for (size_t p = 0; p < n; p++) marks[p] = (faintAcross[p] || faintDown[p]) && turning[p];
    }
    still = EnclosedPatches(s, still, movingVariance, kSharpStill, 1, 1, frameWidth, frameHeight);
    if (local)
        dim = EnclosedPatches(s, dim, movingVariance, kSharpDimmed, kDimmedContrast, kPlateContrast, frameWidth,
                              frameHeight);
    if (outlineOut) *outlineOut = marks;
    for (size_t p = 0; p < n; p++) marks[p] |= still[p] | (local && dim[p]);
    if (stillOut) *stillOut = std::move(still);
    return marks;
}

// The mean absolute change between a sample and a kept picture (planes one
// after the other), chroma counting half as much as luma.
float MeanAbsoluteChange(const SamplePlanes& sample, const std::vector<uint8_t>& kept, int32_t width,
                         int32_t height) {
    // Every other row and column is plenty for a mean over the frame.
    double change = 0;
    for (int p = 0; p < kSamplePlanes; p++) {
        const uint8_t* plane = &kept[(size_t)p * width * height];
        uint64_t sum = 0, count = 0;
        for (int32_t y = 0; y < height; y += 2) {
            const uint8_t* ra = sample.plane[p] + (size_t)y * sample.pitch[p];
            const uint8_t* rb = plane + (size_t)y * width;
            for (int32_t x = 0; x < width; x += 2) sum += (uint32_t)abs((int)ra[x] - (int)rb[x]);
            count += (uint32_t)(width + 1) / 2;
        }
        change += (p == 0 ? 1.0 : 0.5) * sum / std::max<uint64_t>(1, count);
    }
    return (float)change;
}

// The means of a sample's blocks of 4 x 4 pixels, plane after plane, each
// kept as the sum of the block's rows 0 and 2 (8 pixels, plenty for a
// mean). Grain and a codec's noise, which change from pixel to pixel,
// mostly cancel in them; a picture that moves changes them.
struct BlockMeans {
    int32_t               across = 0, down = 0;
    std::vector<uint16_t> sums;
};

void MeasureBlocks(const SamplePlanes& sample, int32_t width, int32_t height, BlockMeans* blocks) {
    const int32_t across = width / 4, down = height / 4;
    blocks->across = across;
    blocks->down = down;
    blocks->sums.assign((size_t)kSamplePlanes * across * down, 0);
    for (int p = 0; p < kSamplePlanes; p++)
        for (int32_t y = 0; y < down * 4; y += 2) {
            const uint8_t* row = sample.plane[p] + (size_t)y * sample.pitch[p];
            uint16_t* sums = &blocks->sums[((size_t)p * down + y / 4) * across];
            for (int32_t x = 0; x < across * 4; x++) sums[x / 4] += row[x];
        }
}

// The mean absolute change of the blocks' means between two samples, chroma
// counting half as much as luma.
float BlockChange(const BlockMeans& a, const BlockMeans& b) {
    const size_t count = (size_t)a.across * a.down;
    if (count == 0) return 0;
    double change = 0;
    for (int p = 0; p < kSamplePlanes; p++) {
        uint64_t sum = 0;
        for (size_t k = p * count; k < (p + 1) * count; k++) sum += (uint32_t)abs((int)a.sums[k] - (int)b.sums[k]);
        change += (p == 0 ? 1.0 : 0.5) * sum / (8.0 * count);
    }
    return (float)change;
}

void KeepPicture(const SamplePlanes& sample, int32_t width, int32_t height, std::vector<uint8_t>* kept) {
    kept->resize((size_t)kSamplePlanes * width * height);
    for (int p = 0; p < kSamplePlanes; p++)
        for (int32_t y = 0; y < height; y++)
            memcpy(&(*kept)[((size_t)p * height + y) * width], sample.plane[p] + (size_t)y * sample.pitch[p],
                   (size_t)width);
}

// The first candidates: groups of pixels marked in at least a share of the
// runs. A busy picture marks many pixels now and then, and a logo's group
// can then run into them and grow beyond any logo's size; such a group is
// taken apart again with a higher share, where the logo still stands.
std::vector<Component> FirstCandidates(const std::vector<float>& often, float runWeight, int32_t w,
                                       int32_t h) {
    // Ranked by how often their pixels are marked, squared: a logo's pixels
    // are marked in every run it shows in, a busy picture's now and then.
    std::vector<float> strength(often.size());
    for (size_t p = 0; p < often.size(); p++) strength[p] = often[p] * often[p] / (runWeight * runWeight);
    std::vector<Component> taken;
    std::vector<uint8_t> marks(often.size());
    std::vector<int32_t> labels;
    for (float share : kMarkedShares) {
        for (size_t p = 0; p < often.size(); p++) marks[p] = often[p] >= share * runWeight;
        DropLoneMarks(&marks, w, h);
        CloseMarks(&marks, w, h, kCloseRadius);
        for (const Component& c : Components(marks, w, h, &strength, &labels)) {
            if (c.area < kMinArea || c.box.width < 3 || c.box.height < 3 || c.box.width > kMaxExtent * w ||
                c.box.height > kMaxExtent * h)
                continue;
            // A group already taken stands for this one, unless it is this
            // one grown into the marks around it.
            bool known = false;
            for (const Component& t : taken) known |= RectIou(t.box, c.box) > 0 && t.area < 2 * c.area;
            if (!known) taken.push_back(c);
        }
    }
    return taken;
}

// The variance of the moving part of the picture: most pictures hold still
// parts too (a studio's walls, black bars, the flat areas of a graphic), so
// not the median but a high share.
float HighShare(std::vector<float> some) {
    if (some.empty()) return 0;
    size_t at = some.size() * 9 / 10;
    std::nth_element(some.begin(), some.begin() + at, some.end());
    return some[at];
}

float TypicalVariance(const WindowStats& stats) {
    std::vector<float> some;
    for (size_t p = 0; p < stats.variance.size(); p += 7) some.push_back(stats.variance[p]);
    return HighShare(std::move(some));
}

// The same straight from the sums, without their statistics.
float TypicalVariance(const WindowSums& sums) {
    if (sums.weight <= 0) return 0;
    const float inverse = (float)(1.0 / sums.weight);
    std::vector<float> some;
    for (size_t p = 0; p < sums.square.size(); p += 7) some.push_back(PixelVariance(sums, p, inverse));
    return HighShare(std::move(some));
}

// The signature of the logo whose region is `inside` (window coordinates):
// its steady mean steps and its still pixels there and a pixel around, and
// how it tints the region.
LogoSignature MakeSignature(const WindowStats& s, const std::vector<uint8_t>& still, float movingVariance,
                            PixelRect inside) {
    LogoSignature sig;
    const PixelRect& r = s.window;
    const PixelRect around = Grow(inside, 1, r.width, r.height);
    sig.window = r;
    // The picture's level around the logo is read two pixels out, beyond
    // the codec's ringing around its outline.
    const PixelRect ring = Grow(around, 2, r.width, r.height);
    sig.ring = {ring.x + r.x, ring.y + r.y, ring.width, ring.height};
    RingLevel(sig.ring, [&](int32_t x, int32_t y, int p) {
        return s.mean[((size_t)(y - r.y) * r.width + (x - r.x)) * kSamplePlanes + p];
    }, sig.ringLevel);
    // The share of the picture a pixel lets through: its deviation against
    // the moving picture's.
    auto through = [&](size_t p) {
        return movingVariance > 0 ? std::min(1.0f, sqrtf(s.variance[p] / movingVariance)) : 1.0f;
    };
    // Where the logo is gone its pixels take the moving picture's values,
    // which stray from the logo's by about the picture's deviation or more;
    // half of that tells the two apart.
    sig.stillSpread = std::max(kStillTolerance, 0.5f * sqrtf(movingVariance));
    sig.box = {inside.x + r.x, inside.y + r.y, inside.width, inside.height};
    double tint[kSamplePlanes] = {0, 0, 0}, passes = 0;
    for (int32_t j = inside.y; j < RectBottom(inside); j++)
        for (int32_t i = inside.x; i < RectRight(inside); i++) {
            const size_t p = (size_t)j * r.width + i;
            for (int q = 0; q < kSamplePlanes; q++) tint[q] += s.mean[p * kSamplePlanes + q];
            passes += through(p);
        }
    const double pixels = (double)inside.width * inside.height;
    for (int q = 0; q < kSamplePlanes; q++) sig.tint[q] = (float)(tint[q] / pixels) - sig.ringLevel[q];
    sig.boxThrough = (float)(passes / pixels);
    for (int32_t j = around.y; j < RectBottom(around); j++)
        for (int32_t i = around.x; i < RectRight(around); i++) {
            const size_t p = (size_t)j * r.width + i;
            const float* meanX = &s.meanStepX[p * kSamplePlanes];
            const float* meanY = &s.meanStepY[p * kSamplePlanes];
            const bool steadyX = i + 1 < r.width && StepHolds(s, meanX, s.energyX[p]);
            const bool steadyY = j + 1 < r.height && StepHolds(s, meanY, s.energyY[p]);
            if (steadyX || steadyY) {
                SignatureEdge edge = {(int32_t)p, {0, 0, 0}, {0, 0, 0}, 0, 0};
                for (int q = 0; q < kSamplePlanes; q++) {
                    if (steadyX) edge.stepX[q] = meanX[q];
                    if (steadyY) edge.stepY[q] = meanY[q];
                }
                if (steadyX) edge.throughX = through(p + 1) - through(p);
                if (steadyY) edge.throughY = through(p + r.width) - through(p);
                sig.edges.push_back(edge);
                sig.edgeEnergy += (steadyX ? SquaredSize(meanX) : 0) + (steadyY ? SquaredSize(meanY) : 0);
            }
            if (still[p]) {
                SignatureStill kept = {(int32_t)p, {0, 0, 0}};
                for (int q = 0; q < kSamplePlanes; q++)
                    kept.value[q] = (uint8_t)std::min(
                        255L, std::max(0L, lrintf(s.mean[p * kSamplePlanes + q] / kPlaneWeight[q] + 128.0f)));
                sig.still.push_back(kept);
            }
        }
    return sig;
}

// How much a region looks like a logo, by where it sits in the picture
// (the frame less its bars): corners first, then the middles of the edges,
// the centre last.
double PlacePreference(const PixelRect& r, const PixelRect& picture) {
    const int64_t fromX = std::min<int64_t>(r.x - picture.x, RectRight(picture) - RectRight(r));
    const int64_t fromY = std::min<int64_t>(r.y - picture.y, RectBottom(picture) - RectBottom(r));
    double dx = std::max<int64_t>(0, fromX) / (double)picture.width;
    double dy = std::max<int64_t>(0, fromY) / (double)picture.height;
    double nearX = std::max(0.0, 1.0 - dx / 0.25), nearY = std::max(0.0, 1.0 - dy / 0.25);
    return 0.2 + 0.8 * std::max(nearX, nearY) + 0.5 * nearX * nearY;
}

// The window whose statistics tell the region around a box.
PixelRect WindowAround(const PixelRect& box, int32_t width, int32_t height) {
    const int32_t pad = std::max(6, std::max(box.width, box.height) / 2);
    return Grow(box, pad, width, height);
}

// Per column of the frame, then per row: 1 when the whole line holds still
// over every sample, as a still third's or a bar's do. A logo's column and
// row hold the moving picture beyond it.
struct StillLines {
    std::vector<uint8_t> columns, rows;
};

// The part of the frame the picture fills: the frame less the still lines
// running in from its sides, a letterbox's or a pillarbox's bars. A logo
// is placed on the picture, near its sides, whatever bars frame it.
PixelRect PictureArea(const StillLines& still, int32_t width, int32_t height) {
    int32_t left = 0, right = width, top = 0, bottom = height;
    while (left < right && still.columns[left]) left++;
    while (right > left && still.columns[right - 1]) right--;
    while (top < bottom && still.rows[top]) top++;
    while (bottom > top && still.rows[bottom - 1]) bottom--;
    if (left >= right || top >= bottom) return {0, 0, width, height};
    return {left, top, right - left, bottom - top};
}

// The steady pixels of a window and the region they form around a box.
struct RegionFound {
    PixelRect            region = {0, 0, 0, 0};  // frame coordinates; empty when nothing is there
    bool                 cut = false;   // it runs into a side of the window that is not the frame's
    std::vector<uint8_t> still;         // window pixels whose values hold still
    std::vector<uint8_t> outline;       // and the ones on the quiet side of a steady step
    std::vector<uint8_t> marked;        // every steady pixel: these, and those the picture shows through dimmed
    bool                 blank = false; // the picture around does not move: the region stands out of a blank
    std::vector<uint8_t> nearBlank;     // over a blank, the pixels lying near its level
    float                moving = 0;
};

// The still pixels a frame is told to show the logo by: over a blank, not
// those that keep their values where the logo is gone (see BlankAround).
std::vector<uint8_t> TellingStill(const RegionFound& found) {
    std::vector<uint8_t> telling = found.still;
    for (size_t p = 0; p < found.nearBlank.size(); p++) telling[p] &= !found.nearBlank[p];
    return telling;
}

// A plane a + b x + c y through the values of one of the samples' planes
// over some pixels: a smooth picture's level, which a slow pan hardly changes.
struct LevelPlane {
    double a = 0, b = 0, c = 0;
    float At(int32_t i, int32_t j) const { return (float)(a + b * i + c * j); }
};

// The least-squares plane through values[k] at places (xs[k], ys[k]).
LevelPlane FitPlane(const std::vector<float>& values, const std::vector<int32_t>& xs, const std::vector<int32_t>& ys) {
    // Normal equations, the places taken about their mean to keep them well
    // conditioned.
    const double count = (double)values.size();
    double mx = 0, my = 0, mv = 0;
    for (size_t k = 0; k < values.size(); k++) mx += xs[k], my += ys[k], mv += values[k];
    mx /= count, my /= count, mv /= count;
    double xx = 0, yy = 0, xy = 0, xv = 0, yv = 0;
    for (size_t k = 0; k < values.size(); k++) {
        const double x = xs[k] - mx, y = ys[k] - my, v = values[k] - mv;
        xx += x * x, yy += y * y, xy += x * y, xv += x * v, yv += y * v;
    }
    LevelPlane plane;
    const double det = xx * yy - xy * xy;
    if (det > 1e-9 * (xx * yy + 1)) {
        plane.b = (xv * yy - yv * xy) / det;
        plane.c = (yv * xx - xv * xy) / det;
    }
    plane.a = mv - plane.b * mx - plane.c * my;
    return plane;
}

// Where the picture around a box does not move, only its having no
// picture at all can tell a logo there: a blank stretch (a flat sky, a wall
// of one colour, a smooth gradient) in which the pan or the cuts would carry
// off anything of the picture, while the logo stays. The surroundings (the
// window outside `aroundGrown`, less the frame's still lines, a bar's
// black being no part of the picture) are blank when nearly all their mean
// values lie within a few levels of one smooth level, a plane per sample
// plane fitted to the nearest nine tenths of them (the rest may be a
// piece of the picture passing now and then). Then the window's pixels that
// differ from that level by twice as much are marked, and those of them
// that also hold still within those few levels are still (the samples may
// yet hold some without the logo); where the logo is gone they take the
// blank's level, so their distance from it stands for the moving picture's
// variance. Returns whether the surroundings are blank. Only the window's
// pixels in `reach` are looked at and marked, and `spread` stands for the
// few levels.
bool BlankAround(const WindowStats& s, PixelRect aroundGrown, PixelRect reach, float spread,
                 const StillLines* stillLines, std::vector<uint8_t>* marks, RegionFound* found) {
    const PixelRect& r = s.window;
    const size_t n = (size_t)r.width * r.height;
    std::vector<int32_t> xs, ys;
    std::vector<float> level[kSamplePlanes];
    for (int32_t j = reach.y; j < RectBottom(reach); j++)
        for (int32_t i = reach.x; i < RectRight(reach); i++) {
            if (HoldsPixel(aroundGrown, i, j)) continue;
            if (stillLines && (stillLines->columns[r.x + i] || stillLines->rows[r.y + j])) continue;
            xs.push_back(i), ys.push_back(j);
            for (int p = 0; p < kSamplePlanes; p++) level[p].push_back(s.mean[((size_t)j * r.width + i) * kSamplePlanes + p]);
        }
    if (xs.size() < 16) return false;
    LevelPlane fit[kSamplePlanes];
    for (int p = 0; p < kSamplePlanes; p++) fit[p] = FitPlane(level[p], xs, ys);
    auto distance = [&](const LevelPlane* planes, size_t k) {
        float d = 0;
        for (int p = 0; p < kSamplePlanes; p++) d += (level[p][k] - planes[p].At(xs[k], ys[k])) * (level[p][k] - planes[p].At(xs[k], ys[k]));
        return d;
    };
    std::vector<float> ringApart(xs.size());
    for (size_t k = 0; k < xs.size(); k++) ringApart[k] = distance(fit, k);
    // Fitted again without the farthest tenth.
    const float nearest = HighShare(ringApart);
    std::vector<int32_t> nearXs, nearYs;
    std::vector<float> nearLevel[kSamplePlanes];
    for (size_t k = 0; k < xs.size(); k++)
        if (ringApart[k] <= nearest) {
            nearXs.push_back(xs[k]), nearYs.push_back(ys[k]);
            for (int p = 0; p < kSamplePlanes; p++) nearLevel[p].push_back(level[p][k]);
        }
    for (int p = 0; p < kSamplePlanes; p++) fit[p] = FitPlane(nearLevel[p], nearXs, nearYs);
    for (size_t k = 0; k < xs.size(); k++) ringApart[k] = distance(fit, k);
    if (HighShare(ringApart) > spread * spread) return false;
    marks->assign(n, 0);
    found->still.assign(n, 0);
    found->outline.assign(n, 0);
    std::vector<float> logoApart, apartOf(n, 0);
    for (int32_t j = reach.y; j < RectBottom(reach); j++)
        for (int32_t i = reach.x; i < RectRight(reach); i++) {
            const size_t q = (size_t)j * r.width + i;
            float& apart = apartOf[q];
            for (int p = 0; p < kSamplePlanes; p++) {
                const float d = s.mean[q * kSamplePlanes + p] - fit[p].At(i, j);
                apart += d * d;
            }
            (*marks)[q] = apart >= 4 * spread * spread;
            found->still[q] = (*marks)[q] && s.variance[q] < spread * spread;
            if ((*marks)[q]) logoApart.push_back(apart);
        }
    found->blank = true;
    found->moving = std::max(found->moving, Median(logoApart));
    // A frame keeps a logo's still pixel when the pixel strays from its
    // value by less than half the moving picture's deviation, here the
    // logo's from the blank; where the logo is gone its pixels take the
    // blank's level, so a pixel nearer to that (a part of the logo of
    // about the blank's colour, a shadow's rim) would seem kept in every
    // frame. It is the logo's all the same.
    found->nearBlank.assign(n, 0);
    for (size_t q = 0; q < n; q++) found->nearBlank[q] = apartOf[q] < found->moving / 4;
    return true;
}

// The variances of the window's pixels inside `outer` but not inside
// `inner` (window coordinates): a ring around a box.
std::vector<float> VariancesBetween(const WindowStats& s, const PixelRect& inner, const PixelRect& outer) {
    std::vector<float> ring;
    for (int32_t j = outer.y; j < RectBottom(outer); j++)
        for (int32_t i = outer.x; i < RectRight(outer); i++)
            if (!HoldsPixel(inner, i, j)) ring.push_back(s.variance[(size_t)j * s.window.width + i]);
    return ring;
}

// Whether the pixels 2 to 3 pixels outside a box (window coordinates)
// mostly hold still: a logo on a blank has the blank around it (and now and
// then something of the picture passing by), while a part of the moving
// picture that differs from a blank beside it runs on into the picture.
bool StillAround(const WindowStats& s, PixelRect box) {
    const PixelRect& r = s.window;
    std::vector<float> ring = VariancesBetween(s, Grow(box, 1, r.width, r.height), Grow(box, 3, r.width, r.height));
    return !ring.empty() && Median(std::move(ring)) < kBlankSpread * kBlankSpread;
}

// Whether the pixels the picture shows through dimmed tell where a logo
// is: a dimmed pixel varies less than half the picture around it, and
// where that half is within a codec's noise, the blocks the codec left
// alone beside the logo pass for dimmed too.
bool DimmedTold(const RegionFound& found) {
    return found.blank || kDimmedValue * found.moving >= kMinRingVariance;
}

// The size of the clear steady step between window pixel (i, j) and its
// neighbour (dx, dy) away; with `quieter`, only when (i, j) is the quieter
// of the two (the step marks it as a logo's pixel on that side). 0 when
// there is no such step: the codec's ringing steps out by a little that
// holds, which would pass for a faint logo's step.
float StepTo(const WindowStats& s, int32_t i, int32_t j, int32_t dx, int32_t dy, bool quieter) {
    const PixelRect& r = s.window;
    const int32_t x = i + dx, y = j + dy;
    if (x < 0 || y < 0 || x >= r.width || y >= r.height) return 0;
    const size_t p = (size_t)j * r.width + i, q = (size_t)y * r.width + x;
    const size_t from = std::min(p, q);  // a step is kept at its left or upper pixel
    const float* mean = dx != 0 ? &s.meanStepX[from * kSamplePlanes] : &s.meanStepY[from * kSamplePlanes];
    const float energy = dx != 0 ? s.energyX[from] : s.energyY[from];
    if (quieter && s.variance[p] >= s.variance[q]) return 0;
    return SteadyStep(mean, energy) ? sqrtf(SquaredSize(mean)) : 0;
}

// Whether window pixel (i, j) has a clear steady step to one of its
// neighbours.
bool ClearMark(const WindowStats& s, int32_t i, int32_t j) {
    return StepTo(s, i, j, 1, 0, false) > 0 || StepTo(s, i, j, -1, 0, false) > 0 || StepTo(s, i, j, 0, 1, false) > 0 ||
           StepTo(s, i, j, 0, -1, false) > 0;
}

// How much of the picture a found region hides: the median over its
// marked pixels of how much less they vary than the moving picture around.
// Over a blank picture that does not move it cannot be told: it counts as
// opaque.
double RegionDimming(const WindowStats& s, const RegionFound& found) {
    if (found.blank) return 1.0;
    const PixelRect& r = s.window;
    const PixelRect& region = found.region;
    std::vector<float> opacity;
    for (int32_t j = region.y - r.y; j < RectBottom(region) - r.y; j++)
        for (int32_t i = region.x - r.x; i < RectRight(region) - r.x; i++) {
            const size_t p = (size_t)j * r.width + i;
            if (found.marked[p]) opacity.push_back(1.0f - std::min(1.0f, sqrtf(s.variance[p] / found.moving)));
        }
    return Median(opacity);
}

// Whether a region found as a faint logo's is a clear logo's: most of its
// steady steps' size is in clear steps, and such an outline rings like any
// other. A clear logo is found by its steps over every sample when its
// first candidate took in a part of the picture beside it, and over a
// picture that barely moves around it, whose pixels vary as much as the
// logo's (the codec's noise), it shows no dimming at all. A soft watermark,
// whose outline is blurred, dims the picture by a share that shows but
// stays under a clear logo's.
bool SharpOutline(const WindowStats& s, const RegionFound& found) {
    const PixelRect& r = s.window;
    const PixelRect& region = found.region;
    double clear = 0, all = 0;
    for (int32_t j = region.y - r.y; j < RectBottom(region) - r.y; j++)
        for (int32_t i = region.x - r.x; i < RectRight(region) - r.x; i++) {
            const size_t p = (size_t)j * r.width + i;
            const float* steps[2] = {&s.meanStepX[p * kSamplePlanes], &s.meanStepY[p * kSamplePlanes]};
            const float energy[2] = {s.energyX[p], s.energyY[p]};
            for (int k = 0; k < 2; k++) {
                if (!StepHolds(s, steps[k], energy[k])) continue;
                const float size = sqrtf(SquaredSize(steps[k]));
                all += size;
                if (SteadyStep(steps[k], energy[k])) clear += size;
            }
        }
    const double dimming = RegionDimming(s, found);
    return all > 0 && clear >= kClearShare * all && (dimming < kUntoldDimming || dimming >= kClearOpacity);
}

// Takes off the region's outermost rows and columns that are not a side
// of the logo: the codec's ringing around a logo's outline holds still
// with it and marks the pixels just outside, and the picture's pixels
// beside a logo the codec leaves noisier than the picture pass for its
// quiet side. Both step out to the picture by a small share of the step
// right inside them, the logo's outline, if at all. A side of the logo
// steps out more than that (an antialiased outline's partial pixels by at
// least a quarter of the step to the logo's full ones, a shadow's with
// nothing inside it), or is a line of still or dimmed pixels, a plate's
// side that is no steady step. What lies beyond a clear outline's ringing
// is the picture's unless it is such a side (a block the codec leaves
// alone there, a stray step). A side finding none within a few lines
// (its outline marks the picture's side all along) stays as it was.
void TrimWeakSides(const WindowStats& s, RegionFound* found) {
    // A faint logo's outline is blurred: it steps out by little at its
    // sides, and rings nowhere. A clear one found by its steps over every
    // sample rings as any other does.
    if (IsEmptyRect(found->region) || found->blank || (s.faintSteps && !SharpOutline(s, *found))) return;
    const bool dimmedTold = DimmedTold(*found);
    // A faint logo's marks are closed across wider gaps, which joins the
    // codec's from further out.
    const int32_t most = kMaxTrimmed + (s.faintSteps ? kFaintCloseRadius - kCloseRadius : 0);
    PixelRect region = {found->region.x - s.window.x, found->region.y - s.window.y, found->region.width,
                        found->region.height};
    const int32_t pitch = s.window.width;
    // Sides in turn: top, bottom, left, right; (dx, dy) points out of the region.
    const int32_t outX[4] = {0, 0, -1, 1}, outY[4] = {-1, 1, 0, 0};
    for (int side = 0; side < 4; side++) {
        const bool row = outX[side] == 0;
        const int32_t length = row ? region.width : region.height, lines = row ? region.height : region.width;
        // Each line from the outside in: a side of the logo ends the
        // search; ringing, or a few still pixels, is passed over; marks
        // that tell neither are passed over only when a line without any
        // parts them from the rest (closing joined them across the gap).
        std::vector<int8_t> kind;  // per line looked at: 1 a side, 0 passed over, -1 neither
        std::vector<uint8_t> empty, ringsClear;
        std::vector<int32_t> edgesOf;
        for (int32_t in = 0; in <= most + 1 && in < lines; in++) {
            const int32_t at = side == 0 ? region.y + in : side == 1 ? (int32_t)RectBottom(region) - 1 - in
                             : side == 2 ? region.x + in : (int32_t)RectRight(region) - 1 - in;
            double out = 0, inward = 0;
            int32_t edges = 0, filled = 0, any = 0;
            for (int32_t k = 0; k < length; k++) {
                const int32_t i = row ? region.x + k : at, j = row ? at : region.y + k;
                const size_t p = (size_t)j * pitch + i;
                // A faint step beside a clear outline is the codec's, held
                // still with it: such a mark tells nothing.
                if (found->outline[p] && !ClearMark(s, i, j)) continue;
                any += found->marked[p];
                if (found->outline[p]) {
                    out += StepTo(s, i, j, outX[side], outY[side], true);
                    inward += StepTo(s, i, j, -outX[side], -outY[side], false);
                    edges++;
                } else {
                    filled += found->still[p] || (found->marked[p] && dimmedTold);
                }
            }
            // Ringing lies right outside a clear outline; marks that step
            // into the logo but not out of it are no side of it either.
            // Marks without an outline (an antialiased disc's rim, whose
            // partial pixels move with the picture) are passed over only
            // when an empty line parts them from the rest.
            const bool ringsClearOutline = out < kWeakSide * inward && inward >= kClearStep * edges;
            const bool ringing = ringsClearOutline || (out == 0 && inward > 0);
            ringsClear.push_back(ringsClearOutline);
            edgesOf.push_back(edges);
            kind.push_back((edges > 0 && out > 0 && out >= kWeakSide * inward) || 2 * filled >= length ? 1
                           : (edges == 0 && any == 0) || ringing ? 0 : -1);
            empty.push_back(any == 0);
        }
        // A few marks stepping out beyond a clear outline's ringing, along
        // a small share of the side the outline marks further in, are the
        // codec's (its blocks ringing again above a letter's flat top), not
        // a side, and what lies beyond them and tells neither is the
        // picture's: the lines are looked at past them.
        auto sideAt = [&](size_t from) {
            size_t t = from;
            while (t < kind.size() && kind[t] != 1) t++;
            return t;
        };
        for (size_t first = sideAt(0), next; first < kind.size(); first = next) {
            next = sideAt(first + 1);
            bool ringsBetween = false;
            for (size_t t = first + 1; t < next; t++) ringsBetween |= ringsClear[t] != 0;
            if (next == kind.size() || !ringsBetween || edgesOf[first] >= kRingingAlong * edgesOf[next]) break;
            for (size_t t = 0; t < first; t++)
                if (kind[t] == -1) kind[t] = 0;
            kind[first] = 0;
        }
        const size_t looked = std::min(sideAt(0) + 1, kind.size());
        kind.resize(looked);
        empty.resize(looked);
        ringsClear.resize(looked);
        edgesOf.resize(looked);
        // A clear outline's ringing lies right outside it, along much of the
        // side: what lies beyond the ringing and tells neither is the
        // picture's (the codec's blocks held still beside the logo, a stray
        // step). A mark or two that step out by little may be a faint
        // shadow's partial pixels, which lie beyond the letters' outline.
        const int32_t sideEdges = kind.back() == 1 ? edgesOf.back() : 0;
        for (int32_t t = (int32_t)kind.size() - 1, beyond = 0; t >= 0; t--) {
            if (kind[t] == -1 && beyond) kind[t] = 0;
            beyond |= ringsClear[t] && edgesOf[t] >= kRingingAlong * sideEdges;
        }
        int32_t trimmed = 0;
        while (trimmed < (int32_t)kind.size() && trimmed <= most && kind[trimmed] != 1 &&
               (kind[trimmed] == 0 || (trimmed + 1 < (int32_t)kind.size() && empty[trimmed + 1])))
            trimmed++;
        if (trimmed > most || trimmed == (int32_t)kind.size() || kind[trimmed] != 1) continue;
        if (side == 0) region.y += trimmed;
        if (side == 2) region.x += trimmed;
        if (row) region.height -= trimmed;
        else region.width -= trimmed;
    }
    found->region = {region.x + s.window.x, region.y + s.window.y, region.width, region.height};
}

// A soft watermark's blurred outline fades out beyond the steps that mark
// it: the picture there is still drawn toward the watermark's colour by a
// small share, which shows over a flat part of it. Over the samples the
// mean holds that shift while the moving picture's own evens out, so each
// side takes in the lines beyond it whose mean stands apart from the
// picture's further out, the same way as the side's own and by a share of
// it. A clear outline of a logo that hides most of the picture ends where
// it steps: what holds beside it is the codec's ringing, which shifts the
// mean as a halo would. A bolder watermark's outline steps clearly too,
// but its ringing is its opacity's share of an opaque logo's, mostly under
// the least shift a halo's line needs, and its blurred rim still lies
// beyond. `scale` is how many of the samples' pixels make one of the
// analysis': a side takes in at most kHaloReach analysis pixels' worth of
// lines, and none unless a whole one's (at a finer size, a rim of a single
// line is the codec's chroma bleeding).
void TakeInHalo(const WindowStats& s, int32_t scale, RegionFound* found) {
    const int32_t reach = kHaloReach * scale;
    if (IsEmptyRect(found->region) || found->blank ||
        (SharpOutline(s, *found) && RegionDimming(s, *found) >= kHaloClearDimming))
        return;
    const PixelRect& r = s.window;
    PixelRect region = {found->region.x - r.x, found->region.y - r.y, found->region.width, found->region.height};
    const PixelRect inner = region;
    // Sides in turn: top, bottom, left, right.
    for (int side = 0; side < 4; side++) {
        const bool row = side < 2;
        const int32_t length = row ? inner.width : inner.height;
        // The first pixel of line `d` beyond the side (0: the side's own).
        auto lineStart = [&](int32_t d, int32_t* i, int32_t* j) {
            *i = side == 2 ? inner.x - d : side == 3 ? (int32_t)RectRight(inner) - 1 + d : inner.x;
            *j = side == 0 ? inner.y - d : side == 1 ? (int32_t)RectBottom(inner) - 1 + d : inner.y;
            return *i >= 0 && *j >= 0 && *i < r.width && *j < r.height;
        };
        int32_t i0, j0, iFar, jFar;
        if (!lineStart(reach + 1 + kHaloBeyond, &iFar, &jFar) || !lineStart(0, &i0, &j0)) continue;
        // Per pixel of line d: its mean's shift from the picture's beyond,
        // toward the side's own; and its spread over the samples.
        const int32_t alongX = row ? 1 : 0, alongY = row ? 0 : 1;
        auto pixel = [&](int32_t i, int32_t j, int32_t k) { return (size_t)(j + k * alongY) * r.width + i + k * alongX; };
        std::vector<float> shifts(length), spread(length);
        auto shiftOf = [&](int32_t d) {
            int32_t i, j;
            lineStart(d, &i, &j);
            for (int32_t k = 0; k < length; k++) {
                spread[k] = s.variance[pixel(i, j, k)];
                const float* m = &s.mean[pixel(i, j, k) * kSamplePlanes];
                const float* own = &s.mean[pixel(i0, j0, k) * kSamplePlanes];
                const float* far = &s.mean[pixel(iFar, jFar, k) * kSamplePlanes];
                float toOwn[kSamplePlanes], dot = 0;
                for (int p = 0; p < kSamplePlanes; p++) toOwn[p] = own[p] - far[p], dot += (m[p] - far[p]) * toOwn[p];
                const float size = sqrtf(SquaredSize(toOwn));
                shifts[k] = size > 0 ? dot / size : 0;
            }
            return Median(shifts);
        };
        // A halo fades out fast: a line is taken in while it stands apart
        // from the picture beyond, against how far the mean of the moving
        // picture wanders by chance along a line (by its spread over the
        // samples, and less along the line); while the line beyond it is
        // fainter still; and beyond the first, while it is clearly fainter
        // than the line before it (a level the picture holds beside the
        // logo stands apart as much line after line, a gradient of the
        // picture fades slowly; the side's own line may lie short of the
        // outline's steepest step).
        const float sideShift = shiftOf(0);
        float before = sideShift, shift = shiftOf(1);
        int32_t taken = 0;
        for (int32_t d = 1; d <= reach; d++) {
            const float wander = sqrtf(Median(spread) / (float)(s.weight * length));
            const float next = shiftOf(d + 1);
            if (shift < kHaloShare * sideShift || shift < kHaloLevel || shift < kHaloSignificance * wander ||
                (d > 1 && shift > kHaloFade * before) || next >= shift)
                break;
            taken = d;
            before = shift;
            shift = next;
        }
        if (taken < scale) taken = 0;
        if (side == 0) region.y -= taken;
        if (side == 2) region.x -= taken;
        if (row) region.height += taken;
        else region.width += taken;
    }
    found->region = {region.x + r.x, region.y + r.y, region.width, region.height};
}

// A drop shadow is the logo's own shape again, a few pixels down and to
// the right (graphics are lit from the top left), dimming the picture
// beneath less than the logo does; over a dark picture its outline steps
// too little to mark. Beyond the region's sides, the pixels the logo's
// marks cover when shifted that way vary clearly less than those they
// cover when shifted up and to the left, and than the pixels between them;
// the 2 pixels around the marks are left out, as the codec's ringing holds
// them still. Each side the shadow reaches beyond dims so of its own; the
// region then takes it in there.
void TakeInShadow(const WindowStats& s, RegionFound* found) {
    if (IsEmptyRect(found->region) || found->blank) return;
    const PixelRect& r = s.window;
    const int32_t w = r.width, h = r.height;
    const PixelRect region = {found->region.x - r.x, found->region.y - r.y, found->region.width, found->region.height};
    std::vector<uint8_t> logo((size_t)w * h, 0);
    for (int32_t j = region.y; j < RectBottom(region); j++)
        for (int32_t i = region.x; i < RectRight(region); i++) logo[(size_t)j * w + i] = found->marked[(size_t)j * w + i];
    std::vector<uint8_t> rim = logo;
    SpreadMarks(&rim, w, h, 2, true);
    // How much the pixels beyond the region vary, as the median share of
    // the moving picture's variance: those the logo's marks cover shifted
    // by (dx, dy) (`covered`), or those between them, within the region so
    // shifted, beyond the sides `beyond` names. Pixels that hold still (a
    // bar) tell nothing of a shadow.
    enum Beyond { kAnySide, kLeftOrRight, kTopOrBottom };
    struct Dimming {
        float  share = 1;
        size_t pixels = 0;
    };
    auto dimming = [&](int32_t dx, int32_t dy, bool covered, Beyond beyond) {
        std::vector<float> values;
        for (int32_t j = std::max(0, region.y + dy - 1); j < std::min(h, (int32_t)RectBottom(region) + dy + 1); j++)
            for (int32_t i = std::max(0, region.x + dx - 1); i < std::min(w, (int32_t)RectRight(region) + dx + 1); i++) {
                const size_t p = (size_t)j * w + i;
                const int32_t fi = i - dx, fj = j - dy;
                const bool under = fi >= 0 && fj >= 0 && fi < w && fj < h && logo[(size_t)fj * w + fi];
                const bool across = i < region.x || i >= RectRight(region), down = j < region.y || j >= RectBottom(region);
                const float share = s.variance[p] / found->moving;
                if (!(across || down) || (beyond == kLeftOrRight && !across) || (beyond == kTopOrBottom && !down) ||
                    rim[p] || under != covered || share < kSteadyValue)
                    continue;
                values.push_back(share);
            }
        Dimming d;
        d.pixels = values.size();
        if (!values.empty()) d.share = Median(values);
        return d;
    };
    // A shadow's zone beyond the region dims over a run of offsets, as
    // its shifted shape covers more or less of the shadow: a lone offset
    // (every other row of 4:2:0 colour, made up at the frame's size)
    // tells none.
    const int32_t reach = std::max(4, region.height / 3);
    std::vector<float> shares(reach + 2, 1), evidences(reach + 2, 0), others(reach + 2, 1);
    for (int32_t k = 2; k <= reach; k++) {
        const Dimming cast = dimming(k, k, true, kAnySide), back = dimming(-k, -k, true, kAnySide),
                      gaps = dimming(k, k, false, kAnySide);
        if (cast.pixels < (size_t)kMinArea || back.pixels < (size_t)kMinArea || gaps.pixels < (size_t)kMinArea) continue;
        others[k] = std::max(kSteadyValue, std::min(back.share, gaps.share));
        shares[k] = cast.share / others[k];
        // The offset the most pixels tell: a few pixels beside a letter's
        // slanted side may vary little by chance.
        evidences[k] = (1 - shares[k]) * sqrtf((float)cast.pixels);
    }
    float best = 0;
    int32_t offset = 0;  // the shadow's, down and to the right
    for (int32_t k = 2; k <= reach; k++)
        if (shares[k] <= kShadowShare && std::min(shares[k - 1], shares[k + 1]) <= kShadowBeside &&
            evidences[k] >= kShadowEvidence && others[k] <= kShadowAround && evidences[k] > best) {
            best = evidences[k];
            offset = k;
        }
    if (best <= 0) return;
    PixelRect taken = region;
    for (const Beyond beyond : {kLeftOrRight, kTopOrBottom}) {
        const Dimming side = dimming(offset, offset, true, beyond);
        if (side.pixels == 0 || side.share > kShadowShare * others[offset]) continue;
        const PixelRect shifted = {region.x + (beyond == kLeftOrRight ? offset : 0),
                                   region.y + (beyond == kTopOrBottom ? offset : 0), region.width, region.height};
        taken = Union(taken, shifted);
    }
    taken = ClipRectToFrame(taken, w, h);
    found->region = {taken.x + r.x, taken.y + r.y, taken.width, taken.height};
}

// A plate around a text over a calm picture (a sky, a flat graphic) dims
// nothing the samples can tell, and its outline has no moving side, but it
// changes the colour it lies over whenever it shows: the region takes in
// the patch around it whose mean over the samples showing the logo stands
// apart from its mean over the samples without it (`absent`), when that
// change stands out of the picture's around it.
void TakeInPlate(const WindowStats& shown, const WindowStats& absent, RegionFound* found) {
    if (IsEmptyRect(found->region) || absent.weight < kMinShowing) return;
    const PixelRect& r = shown.window;
    const int32_t w = r.width, h = r.height;
    const PixelRect region = {found->region.x - r.x, found->region.y - r.y, found->region.width, found->region.height};
    const size_t n = (size_t)w * h;
    std::vector<float> change(n);
    for (size_t q = 0; q < n; q++) {
        float d[kSamplePlanes];
        for (int p = 0; p < kSamplePlanes; p++) d[p] = shown.mean[q * kSamplePlanes + p] - absent.mean[q * kSamplePlanes + p];
        change[q] = SquaredSize(d);
    }
    // The change just around the region, and at the window's border, where
    // the picture lies beyond any plate the window holds; and how much the
    // picture around the region varies from sample to sample in either set:
    // over a moving picture the two means differ by chance as much.
    const PixelRect ringOut = Grow(region, kPlateRing, w, h);
    std::vector<float> ring, border, varies;
    for (int32_t j = 0; j < h; j++)
        for (int32_t i = 0; i < w; i++) {
            const size_t q = (size_t)j * w + i;
            if (i < kPlateRing || j < kPlateRing || i >= w - kPlateRing || j >= h - kPlateRing) {
                border.push_back(change[q]);
            } else if (HoldsPixel(ringOut, i, j) && !HoldsPixel(region, i, j)) {
                ring.push_back(change[q]);
                varies.push_back(std::max(shown.variance[q], absent.variance[q]));
            }
        }
    if (ring.empty() || border.empty()) return;
    const float around = Median(ring), beyond = Median(border), variation = Median(varies);
    if (around < kPlateChange * kPlateChange || around < kPlateStandsOut * beyond ||
        around < kPlateOverVariation * variation)
        return;
    // The plate's box: grown from the region a line at a time while the
    // line beyond a side changes by half as much as around the region, at
    // the median (a plate's corner may be round, and the picture beside it
    // may change as much in places).
    const float least = around / 2;
    auto changed = [&](const PixelRect& line) {
        std::vector<float> values;
        for (int32_t j = line.y; j < RectBottom(line); j++)
            for (int32_t i = line.x; i < RectRight(line); i++) values.push_back(change[(size_t)j * w + i]);
        return Median(values) >= least;
    };
    PixelRect box = region;
    for (bool grew = true; grew;) {
        grew = false;
        if (box.x == 0 || box.y == 0 || RectRight(box) == w || RectBottom(box) == h) return;  // the picture's change
        if (changed({box.x - 1, box.y, 1, box.height})) box = {box.x - 1, box.y, box.width + 1, box.height}, grew = true;
        if (changed({(int32_t)RectRight(box), box.y, 1, box.height})) box.width++, grew = true;
        if (changed({box.x, box.y - 1, box.width, 1})) box = {box.x, box.y - 1, box.width, box.height + 1}, grew = true;
        if (changed({box.x, (int32_t)RectBottom(box), box.width, 1})) box.height++, grew = true;
    }
    // A plate lies around its text on every side, further than the codec's
    // ringing around the text's outline reaches.
    if (box.x > region.x - kPlateRing || box.y > region.y - kPlateRing ||
        RectRight(box) < RectRight(region) + kPlateRing || RectBottom(box) < RectBottom(region) + kPlateRing)
        return;
    found->region = {box.x + r.x, box.y + r.y, box.width, box.height};
}

// The region the marks of the components reaching the box (`reaches`, by
// label) tell, in window coordinates (w x h pixels).
PixelRect MarkedRegion(const RegionFound& found, const std::vector<int32_t>& labels, const std::vector<Component>& parts,
                       const std::vector<uint8_t>& reaches, bool dimmedTell, int32_t w, int32_t h) {
    // A translucent logo's dimmed pixels join the pieces of its outline, but
    // the outline and the still patches tell where it ends, except where it
    // is a plate: a dimmed patch that holds most of them (with the outline
    // along its edge) is the plate itself, much of its outline too weak to
    // mark. A dimmed stretch beside them is a calm part of the picture (a
    // blurred one barely changes as it pans) that the closing joined on, or
    // that a wide box took in; the few outline marks along its own edge do
    // not tell a logo, and neither do marks lying along a slope. Dimmed
    // pixels alone tell the region where no marks at all do.
    std::vector<Spread> toldMarks(parts.size());
    std::vector<int32_t> dimmedCount(parts.size(), 0);
    for (int32_t j = 0; j < h; j++)
        for (int32_t i = 0; i < w; i++) {
            const size_t p = (size_t)j * w + i;
            if (labels[p] < 0) continue;
            if (found.outline[p] || found.still[p]) toldMarks[labels[p]].Add(i, j);
            else dimmedCount[labels[p]] += found.marked[p];
        }
    std::vector<uint8_t> tells(parts.size(), 0), line(parts.size(), 0);
    bool sloped = false;  // some marks reaching the box lie along a slope
    PixelRect shape = {0, 0, 0, 0};  // the telling marks reaching the box that are no mere line
    for (size_t k = 0; k < parts.size(); k++) {
        const bool slope = toldMarks[k].AlongASlope();
        tells[k] = (toldMarks[k].n >= kMinArea || toldMarks[k].n >= dimmedCount[k]) && !slope;
        line[k] = toldMarks[k].n >= kMinArea && toldMarks[k].Breadth() < kLeastBreadth;
        sloped |= reaches[k] && slope;
        if (reaches[k] && tells[k] && !line[k]) shape = Union(shape, parts[k].box);
    }
    // A straight line wholly beside a logo's shape, along the line, and
    // longer than the shape is across it is an edge of the picture lying
    // along its motion (a pan holds the edge of a flat area in its rows): it
    // steps where it overlaps itself, and by half its sweep beyond, and
    // would draw the region out along it. A logo's own lines lie alongside
    // its shape (a plate's sides, apart where its corners mark too little)
    // or are as short as a letter is wide (a letter of a text over a dark
    // picture may mark along one side only).
    for (size_t k = 0; k < parts.size() && !IsEmptyRect(shape); k++) {
        const PixelRect& b = parts[k].box;
        const bool beside = b.width >= b.height
                                ? (RectRight(b) <= shape.x || b.x >= RectRight(shape)) && b.width > shape.height
                                : (RectBottom(b) <= shape.y || b.y >= RectBottom(shape)) && b.height > shape.width;
        tells[k] = tells[k] && !(line[k] && beside);
    }
    PixelRect told = {0, 0, 0, 0};
    std::vector<uint8_t> dimmed((size_t)w * h, 0);
    for (int32_t j = 0; j < h; j++)
        for (int32_t i = 0; i < w; i++) {
            const size_t p = (size_t)j * w + i;
            if (labels[p] < 0 || !reaches[labels[p]]) continue;
            if (tells[labels[p]] && (found.outline[p] || found.still[p]))
                told = Union(told, {i, j, 1, 1});
            else
                dimmed[p] = dimmedTell && found.marked[p];
        }
    // Beside an edge of the picture along a slope, the calm picture is no
    // plate either.
    if (IsEmptyRect(told) && sloped) return {0, 0, 0, 0};
    // The outline's own rim of partly covered pixels (a letter's
    // antialiasing) dims the picture less than the letter does: dimmed
    // pixels right next to the outline are the logo's.
    PixelRect region = told;
    const PixelRect rim = Grow(told, 1, w, h);
    for (int32_t j = rim.y; !IsEmptyRect(told) && j < RectBottom(rim); j++)
        for (int32_t i = rim.x; i < RectRight(rim); i++)
            if (dimmed[(size_t)j * w + i]) region = Union(region, {i, j, 1, 1});
    std::vector<int32_t> dimmedLabels;
    for (const Component& patch : Components(dimmed, w, h, nullptr, &dimmedLabels))
        if (IsEmptyRect(told) || ShareInside(told, Grow(patch.box, kCloseRadius, w, h)) >= 0.5)
            region = Union(region, patch.box);
    return region;
}

// The region of steady pixels that reaches into `box` (frame coordinates).
// Pixels on the frame's still lines, when they are known, are no logo's:
// the inner edge of a still part of the picture is a steady step with a
// quiet side, and would take a region near it.
RegionFound FindRegion(const WindowStats& stats, PixelRect box, int32_t width, int32_t height,
                       const StillLines* stillLines = nullptr) {
    RegionFound found;
    const PixelRect& window = stats.window;
    const PixelRect around = {box.x - window.x, box.y - window.y, box.width, box.height};
    const PixelRect aroundGrown = Grow(around, kCloseRadius + 1, window.width, window.height);

    // The moving picture around the box sets what counts as steady.
    const PixelRect all = {0, 0, window.width, window.height};
    std::vector<float> ring = VariancesBetween(stats, aroundGrown, all);
    found.moving = ring.size() >= 16 ? Median(std::move(ring)) : TypicalVariance(stats);
    // The blank may hold just around the box, the window farther out
    // holding the picture beside it, or moving while the picture right
    // around the box holds still as a logo's pixel would (a logo over a
    // flat sky, the land below it panning): then only that blank can tell
    // the logo. Not beside a bar: its edge, held still and darker than the
    // picture, would stand out of the little picture left there.
    const PixelRect near = Grow(aroundGrown, kBlankReach, window.width, window.height);
    bool barNear = false;
    if (stillLines) {
        for (int32_t j = near.y; j < RectBottom(near); j++) barNear |= stillLines->rows[window.y + j] != 0;
        for (int32_t i = near.x; i < RectRight(near); i++) barNear |= stillLines->columns[window.x + i] != 0;
    }
    const float nearMoving = Median(VariancesBetween(stats, aroundGrown, near));
    const float moving = found.moving;
    const bool calm = moving < kMinRingVariance;
    std::vector<uint8_t> closed;
    bool blank = calm && BlankAround(stats, aroundGrown, all, kBlankSpread, stillLines, &closed, &found);
    if (!blank && !barNear && (calm || nearMoving < kSteadyValue * moving)) {
        found.moving = nearMoving;
        blank = BlankAround(stats, aroundGrown, near, kNearBlankSpread, stillLines, &closed, &found);
        if (!blank) found.moving = moving;
    }
    if (!blank) {
        if (calm) return found;
        closed = SteadyPixels(stats, found.moving, width, height, true, &found.still, &found.outline);
    }
    if (stillLines)
        for (int32_t j = 0; j < window.height; j++)
            for (int32_t i = 0; i < window.width; i++)
                if (stillLines->columns[window.x + i] || stillLines->rows[window.y + j]) {
                    const size_t p = (size_t)j * window.width + i;
                    closed[p] = found.still[p] = found.outline[p] = 0;
                }
    found.marked = closed;
    // Where dimmed pixels do not tell where the logo ends, they still tell
    // that it is there: they count for its opacity, not for its region.
    const bool dimmedTell = DimmedTold(found);
    if (!dimmedTell)
        for (size_t p = 0; p < closed.size(); p++) closed[p] = found.outline[p] || found.still[p];
    // A faint logo's letters are marked where their blurred outlines are
    // steep enough, which leaves wider gaps between them.
    CloseMarks(&closed, window.width, window.height, stats.faintSteps ? kFaintCloseRadius : kCloseRadius);
    std::vector<int32_t> labels;
    std::vector<Component> parts = Components(closed, window.width, window.height, nullptr, &labels);
    std::vector<uint8_t> reaches(parts.size(), 0);
    for (int32_t j = around.y; j < RectBottom(around); j++)
        for (int32_t i = around.x; i < RectRight(around); i++) {
            int32_t label = labels[(size_t)j * window.width + i];
            if (label >= 0) reaches[label] = 1;
        }
    const PixelRect region = MarkedRegion(found, labels, parts, reaches, dimmedTell, window.width, window.height);
    if (IsEmptyRect(region) || (found.blank && !StillAround(stats, region))) return found;
    found.region = {region.x + window.x, region.y + window.y, region.width, region.height};
    found.cut = (region.x < 2 && window.x > 0) || (region.y < 2 && window.y > 0) ||
                (RectRight(region) > window.width - 2 && RectRight(window) < width) ||
                (RectBottom(region) > window.height - 2 && RectBottom(window) < height);
    return found;
}

// Whether a region reaches a side of the frame: logos keep off them. The
// outermost row or column is one a codec and a scaler treat apart, and a
// still part of the picture running to the side may stop a pixel short.
bool ReachesSide(const PixelRect& r, int32_t width, int32_t height) {
    return r.x <= 1 || r.y <= 1 || RectRight(r) >= width - 1 || RectBottom(r) >= height - 1;
}

// Whether a region keeps a quarter of the frame from every side. A faint
// logo is told by its steps alone, and the middle of a zoom, where the
// picture hardly moves, holds its steps as steadily; logos sit nearer a side.
bool InMiddle(const PixelRect& r, int32_t width, int32_t height) {
    return std::min<int64_t>(r.x, width - RectRight(r)) >= 0.25 * width &&
           std::min<int64_t>(r.y, height - RectBottom(r)) >= 0.25 * height;
}

bool TooLarge(const PixelRect& r, int32_t width, int32_t height) {
    return r.width > kMaxExtent * width || r.height > kMaxExtent * height;
}

// What the analysis keeps of each sample.
struct SampleNote {
    int64_t frameNumber;
    float   weight;  // 0 (no change: noise) to 1 (a new picture)
    int32_t run;     // the run it belongs to, kMaxRuns when none
};

// ---------------------------------------------------------------------------
// Pass 1: weights, runs and the first candidates.

struct FirstPass {
    std::vector<SampleNote> notes;
    std::vector<uint16_t>   runMarks;   // per pixel: bit r set when run r marks it
    std::vector<float>      runWeight;  // per run that counts; 0 for a run without movement
    std::vector<Component>  firsts;
    std::vector<Component>  faintFirsts; // faint logos' candidates, from the sums over every sample
    WindowSums              whole;       // every run's sums, added up
    StillLines              still;       // of the frame, over every sample
    PixelRect               picture = {0, 0, 0, 0}; // the frame less its bars (PictureArea)
    float                   moving = 0; // samples' worth of picture change
};

// Closes the run being summed: marks its steady pixels when it moved.
void CloseRun(const WindowSums& sums, int32_t width, int32_t height, FirstPass* pass) {
    const uint16_t bit = (uint16_t)(1u << pass->runWeight.size());
    AddSums(&pass->whole, sums);
    float weight = 0;
    const float moving = TypicalVariance(sums);
    if (moving >= kMinRunVariance) {
        WindowStats stats;
        FinishStats(sums, &stats);
        weight = (float)sums.weight;
        std::vector<uint8_t> marks = SteadyPixels(stats, moving, width, height, false);
        for (size_t p = 0; p < marks.size(); p++)
            if (marks[p]) pass->runMarks[p] |= bit;
    }
    pass->runWeight.push_back(weight);
}

bool ReadFirstPass(const SampleSource& source, FirstPass* pass) {
    const int32_t width = source.width, height = source.height;
    const PixelRect frame = {0, 0, width, height};
    pass->runMarks.assign((size_t)width * height, 0);
    StartSums(&pass->whole, frame);
    // Runs of at least a share of the samples and a least weight, so that a
    // logo shown in a sixth of the clip fills runs of its own.
    const int64_t runLength = std::max<int64_t>(kMinDetectSamples, source.expected / kMaxRuns);
    std::vector<uint8_t> reference;
    // Whether the picture moves at all is told from the blocks' means, where
    // grain over a still picture does not pass for movement. The samples'
    // weights keep to the pixels: the statistics are taken over them.
    BlockMeans blocks, blockReference;
    WindowSums sums;
    StartSums(&sums, frame);
    int64_t inRun = 0;
    bool ok = source.read([&](const SamplePlanes& s) {
        float weight = 1, moved = 1;  // the first sample shows a new picture
        MeasureBlocks(s, width, height, &blocks);
        if (!reference.empty()) {
            const float change = MeanAbsoluteChange(s, reference, width, height);
            weight = std::min(1.0f, std::max(0.0f, (change - kNoiseChange) / (kFullChange - kNoiseChange)));
            const float blockChange = BlockChange(blocks, blockReference);
            moved = std::min(1.0f, std::max(0.0f, (blockChange - kBlockNoise) / (kFullChange - kBlockNoise)));
        }
        if (weight >= 1) KeepPicture(s, width, height, &reference);
        if (moved >= 1) std::swap(blocks, blockReference);
        pass->moving += moved;
        pass->notes.push_back({s.frameNumber, weight, (int32_t)pass->runWeight.size()});
        if (weight > 0) AddSample(&sums, s, width, height, weight);
        inRun++;
        // A run of a slow picture goes on until the picture has moved
        // enough in it to tell what holds still.
        if (pass->runWeight.size() + 1 < kMaxRuns && inRun >= runLength && sums.weight >= kRunWeight &&
            TypicalVariance(sums) >= kMinRunVariance) {
            CloseRun(sums, width, height, pass);
            StartSums(&sums, frame);
            inRun = 0;
        }
        return true;
    });
    if (!ok) return false;
    CloseRun(sums, width, height, pass);
    // The first sample counts as a new picture only when the picture moves
    // at all: a still clip's one picture is not movement.
    if (pass->moving <= 1) pass->moving = 0;
    return true;
}

// A line holds still when every pixel of it stays within a codec's noise
// over all the samples (a smooth part of a moving picture varies little,
// but more). A line beside such a part that varies little belongs to it:
// shrinking the frame blends the part's edge with the moving picture.
std::vector<uint8_t> StillOf(const std::vector<float>& most, float quiet) {
    std::vector<uint8_t> still(most.size(), 0);
    for (size_t k = 0; k < most.size(); k++) {
        const bool besideStill = (k > 0 && most[k - 1] < kMinRingVariance) ||
                                 (k + 1 < most.size() && most[k + 1] < kMinRingVariance);
        still[k] = most[k] < quiet && (most[k] < kMinRingVariance || besideStill);
    }
    return still;
}

StillLines FindStillLines(const WindowStats& whole) {
    const PixelRect& r = whole.window;
    // The most any pixel of each column, then of each row, varies.
    std::vector<float> columns(r.width, 0), rows(r.height, 0);
    for (int32_t j = 0; j < r.height; j++)
        for (int32_t i = 0; i < r.width; i++) {
            const float v = whole.variance[(size_t)j * r.width + i];
            columns[i] = std::max(columns[i], v);
            rows[j] = std::max(rows[j], v);
        }
    const float quiet = kSteadyValue * TypicalVariance(whole);
    return {StillOf(columns, quiet), StillOf(rows, quiet)};
}

// A faint logo (a soft watermark) marks itself in hardly any run: its steps
// are too small to tell over a run's samples. Over all of them its steps
// hold while the picture's cancel, so the sums over every sample mark it.
// Its outline turns: steps across and steps down lie within a few pixels
// of each other, where an edge of the picture along its motion holds steps
// one way only. Groups of pixels near both that no first candidate covers
// are candidates of their own, the largest first.
void FindFaintCandidates(int32_t width, int32_t height, FirstPass* pass) {
    WindowStats stats;
    FinishStats(pass->whole, &stats);
    pass->whole = WindowSums();
    pass->still = FindStillLines(stats);
    pass->picture = PictureArea(pass->still, width, height);
    stats.faintSteps = true;
    std::vector<uint8_t> across, down;
    HeldStepMaps(stats, &across, &down);
    std::vector<uint8_t> marks = NearBoth(across, down, width, height);
    DropLoneMarks(&marks, width, height);
    CloseMarks(&marks, width, height, kCloseRadius);
    std::vector<int32_t> labels;
    for (const Component& c : Components(marks, width, height, nullptr, &labels)) {
        const PixelRect& b = c.box;
        if (c.area < kMinArea || b.width < 3 || b.height < 3 || TooLarge(b, width, height) ||
            ReachesSide(b, width, height) || InMiddle(b, width, height))
            continue;
        bool known = false;
        for (const Component& t : pass->firsts) known |= RectIou(t.box, b) > 0;
        if (!known) pass->faintFirsts.push_back(c);
    }
    std::sort(pass->faintFirsts.begin(), pass->faintFirsts.end(),
              [](const Component& a, const Component& b) { return a.area > b.area; });
    if (pass->faintFirsts.size() > (size_t)kMaxFaintRefined) pass->faintFirsts.resize(kMaxFaintRefined);
}

// Per run, the share of a box's pixels it marks; with `often`, of those
// pixels only that are marked in at least `least` of the runs' weight.
std::vector<double> RunShares(const FirstPass& pass, const PixelRect& box, int32_t width,
                              const std::vector<float>* often = nullptr, float least = 0) {
    std::vector<int64_t> marked(pass.runWeight.size(), 0);
    int64_t pixels = 0;
    for (int32_t j = box.y; j < RectBottom(box); j++)
        for (int32_t i = box.x; i < RectRight(box); i++) {
            const size_t p = (size_t)j * width + i;
            if (often && (*often)[p] < least) continue;
            pixels++;
            for (size_t r = 0; r < marked.size(); r++) marked[r] += pass.runMarks[p] >> r & 1;
        }
    std::vector<double> share(marked.size(), 0);
    for (size_t r = 0; r < marked.size(); r++) share[r] = pixels > 0 ? (double)marked[r] / pixels : 0;
    return share;
}

// How together a group's pixels are marked: the share of them a run marks,
// averaged over the runs as each weighs times what it marks. A logo's
// pixels are marked all together in the runs it shows in; a busy picture
// holds its steady groups now here, now there, about half at a time.
double MarkedTogether(const FirstPass& pass, const std::vector<float>& often, float least, const PixelRect& box,
                      int32_t width) {
    const std::vector<double> share = RunShares(pass, box, width, &often, least);
    double sum = 0, squares = 0;
    for (size_t r = 0; r < share.size(); r++) {
        sum += pass.runWeight[r] * share[r];
        squares += pass.runWeight[r] * share[r] * share[r];
    }
    return sum > 0 ? squares / sum : 0;
}

// The share of a box's pixels a run marks, over the runs by their weights.
double MarkedOften(const FirstPass& pass, const PixelRect& box, int32_t width) {
    const std::vector<double> share = RunShares(pass, box, width);
    double sum = 0, weight = 0;
    for (size_t r = 0; r < share.size(); r++) {
        sum += pass.runWeight[r] * share[r];
        weight += pass.runWeight[r];
    }
    return weight > 0 ? sum / weight : 0;
}

void FindFirstCandidates(int32_t width, int32_t height, FirstPass* pass) {
    float total = 0;
    for (float w : pass->runWeight) total += w;
    if (total <= 0) return;
    std::vector<float> often(pass->runMarks.size(), 0);
    for (size_t p = 0; p < often.size(); p++)
        for (size_t r = 0; r < pass->runWeight.size(); r++)
            if (pass->runMarks[p] >> r & 1) often[p] += pass->runWeight[r];
    pass->firsts = FirstCandidates(often, total, width, height);
    std::sort(pass->firsts.begin(), pass->firsts.end(),
              [](const Component& a, const Component& b) { return a.mass > b.mass; });
    // A small logo over a busy picture has less mass than the picture's
    // larger groups, though its pixels are marked in more of the runs:
    // after the groups of most mass come those whose pixels are marked
    // most often on the whole. Over a dark or grainy picture whose calm
    // stretches mark themselves now and then, a logo may have neither the
    // most mass nor the densest marks (specks the codec holds are denser):
    // then come those of most mass for how often their pixels are marked.
    // A logo shown in a part of the clip over a busy picture has neither:
    // its pixels are marked in its own runs alone. Last come the groups
    // whose pixels are marked most together, told from chance by their
    // size.
    std::vector<Component>& firsts = pass->firsts;
    size_t kept = std::min(firsts.size(), (size_t)kMaxRefined);
    const auto takeNext = [&](size_t count, auto before) {
        const size_t end = std::min(firsts.size(), kept + count);
        std::partial_sort(firsts.begin() + kept, firsts.begin() + end, firsts.end(), before);
        kept = end;
    };
    takeNext(kMaxDenseRefined, [](const Component& a, const Component& b) { return a.mass * b.area > b.mass * a.area; });
    takeNext(kMaxStrongRefined, [](const Component& a, const Component& b) {
        return a.mass * a.mass * b.area > b.mass * b.mass * a.area;
    });
    const float least = kMarkedShares[0] * total;
    std::vector<std::pair<double, Component>> rest;
    for (size_t k = kept; k < firsts.size(); k++) {
        const double together = MarkedTogether(*pass, often, least, firsts[k].box, width);
        rest.push_back({(together - kChanceTogether) * sqrt((double)firsts[k].area), firsts[k]});
    }
    const size_t together = std::min(rest.size(), (size_t)kMaxTogetherRefined);
    std::partial_sort(rest.begin(), rest.begin() + together, rest.end(),
                      [](const auto& a, const auto& b) { return a.first > b.first; });
    firsts.resize(kept);
    for (size_t k = 0; k < together; k++) firsts.push_back(rest[k].second);
}

// ---------------------------------------------------------------------------
// Refining the candidates, all of a batch in each pass.

struct Refinement {
    PixelRect              box = {0, 0, 0, 0};
    uint16_t               runs = 0;       // until there is a signature: the runs whose samples count
    bool                   bySignature = false;
    LogoSignature          signature;      // the one this pass matches the samples against
    std::vector<LogoShown> answers;        // this pass's, per sample: showing the steps learned
    std::vector<LogoShown> shows;          // and showing the logo over whatever picture
    std::vector<uint8_t>   shown;          // the samples the signature's statistics were taken over
    int                    growths = 0, rounds = 0;
    // Taken again as a faint logo: from its first box, over every sample,
    // with steps that hold over the samples counting though small.
    bool                   faint = false;
    PixelRect              first = {0, 0, 0, 0};
    bool                   active = true;
    WindowSums             sums;
    WindowSums             absent;         // over the samples the signature tells are without the logo
    LogoCandidate          result;         // the look's own
    // Of the looks that passed, the one scoring best (score 0 while none
    // has). A translucent logo passing on its lower least score alone is
    // looked at again as a faint one, which may find more of it.
    LogoCandidate          best;
    // A region that holds as a logo's but scores too little (above 0) to be
    // one by itself, a letter of a text found apart from the rest: it may
    // still be more of a logo found beside it.
    LogoCandidate          part;
};

// The runs that mark the candidate best stand for the samples showing it.
uint16_t RunsMarking(const FirstPass& pass, const PixelRect& box, int32_t width) {
    const std::vector<double> share = RunShares(pass, box, width);
    const double best = share.empty() ? 0 : *std::max_element(share.begin(), share.end());
    uint16_t runs = 0;
    for (size_t r = 0; r < share.size(); r++)
        if (best > 0 && share[r] >= 0.5 * best) runs |= (uint16_t)(1u << r);
    return runs;
}

// The score: the steady edges' strength and the still pixels inside the
// region, counted as on a frame 480 pixels wide; weighed by where the
// region sits, how often it shows and how much it dims the picture beneath
// (a logo fainter than about a third hides too little to be told from a
// picture that merely changes slowly there). Returns the least score the
// region must reach to be reported as a logo.
double ScoreRegion(const WindowStats& stats, const RegionFound& found, double showingShare, int32_t width,
                   int32_t height, const PixelRect& picture, LogoCandidate* c) {
    const PixelRect& window = stats.window;
    const PixelRect& region = found.region;
    const PixelRect inside = {region.x - window.x, region.y - window.y, region.width, region.height};
    const double scale = width / 480.0;
    double stepsX = 0, stepsY = 0, stillMass = 0;
    SteadyStepMass(stats, inside, &stepsX, &stepsY);
    for (int32_t j = inside.y; j < RectBottom(inside); j++)
        for (int32_t i = inside.x; i < RectRight(inside); i++)
            if (found.still[(size_t)j * window.width + i]) stillMass += kStillWorth;
    const double dimming = RegionDimming(stats, found);
    const double edgeMass = stepsX + stepsY;
    // Steps that all lie along one straight line are an edge of the picture
    // lying along a diagonal motion (a slope under a diagonal pan), and
    // count for nothing, like those that all run one way; so do the still
    // pixels they bound: a calm part of the picture lying along the motion
    // (the dark between two rims under a sideways pan) holds as still as an
    // opaque logo, but no outline of it turns. Still pixels with hardly a
    // steady step around them (an opaque disc over a picture of its own
    // mean colour) have no outline to tell by, and count.
    Spread marks;
    for (int32_t j = inside.y; j < RectBottom(inside); j++)
        for (int32_t i = inside.x; i < RectRight(inside); i++)
            if (found.marked[(size_t)j * window.width + i]) marks.Add(i, j);
    const bool turns = Turns(stepsX, stepsY) && marks.Breadth() >= kLeastBreadth && !marks.AlongASlope();
    c->region = region;
    c->opacity = dimming;
    c->faint = stats.faintSteps;
    // A faint logo dims too little to be measured against the picture's own
    // changes; what tells it from a part of the picture that changes slowly
    // is that its small steps hold, and its signature finds it, over the
    // moving picture: fully in nearly every sample, and in part as far as
    // the share of samples it shows in goes.
    const double held = stats.faintSteps ? showingShare / kFaintShownShare : 0;
    const double hiding = std::min(1.0, std::max(held, dimming / kClearOpacity));
    const bool outlined = edgeMass >= kLeastOutline * stillMass;
    c->score = ((turns ? edgeMass / scale : 0) + (turns || !outlined ? stillMass / (scale * scale) : 0)) *
               PlacePreference(region, picture) * sqrt(showingShare) * hiding;
    c->signature = MakeSignature(stats, TellingStill(found), found.moving, inside);
    // A translucent logo's steps are its opacity's share of an opaque
    // one's, and its dimming weighs them down once more: a soft watermark
    // of a third's opacity scores a tenth of what the same text opaque
    // would. Told by its outline, dimming the picture beneath measurably
    // (a part of the picture that changes slowly dims nothing, one that
    // holds still is told by still pixels) and shown in much of the clip,
    // it needs less. A speck of a busy picture may hold its few steps and
    // pass for dimmed a while, and its signature then finds it in about
    // half the samples; the middle of a zoom barely moves, and its picture
    // varies less than the rest as a translucent logo's does.
    const bool translucent = dimming >= kTranslucentDimming && edgeMass >= stillMass &&
                             showingShare >= kTranslucentShowing &&
                             (int64_t)region.width * region.height >= kMinTranslucentArea &&
                             !InMiddle(region, width, height);
    return translucent ? kMinTranslucentScore : kMinScore;
}

// A candidate that shows no clear logo may still hold a faint one (a soft
// watermark): its refinement starts again from its first box, the samples
// it counts being all of them until a signature tells which show it.
void StartFaint(Refinement* f) {
    const PixelRect first = f->first;
    LogoCandidate part = std::move(f->part), best = std::move(f->best);
    *f = Refinement();
    f->box = first;
    f->first = first;
    f->part = std::move(part);
    f->best = std::move(best);
    f->runs = (uint16_t)((1u << kMaxRuns) - 1);
    f->faint = true;
}

// A faint region's steps are weak evidence by themselves: one whose steps
// all run one way is an edge of the picture or a bar's, which would
// otherwise grow along it window after window; one in the middle of the
// frame may be the middle of a zoom, and one reaching a quarter of the
// frame across or down the slowly moving part around it. Before the region
// stands (bySignature), a line of the picture passing through its window
// may outweigh the outline beside it. region is in frame coordinates.
bool FaintRegionHolds(const WindowStats& stats, const PixelRect& region, bool bySignature, int32_t width,
                      int32_t height) {
    const PixelRect& r = region;
    const PixelRect inside = {r.x - stats.window.x, r.y - stats.window.y, r.width, r.height};
    double stepsX = 0, stepsY = 0;
    SteadyStepMass(stats, inside, &stepsX, &stepsY);
    bool turns = Turns(stepsX, stepsY);
    if (!turns && !bySignature) {
        WindowStats lineless = stats;
        DropPassingLines(&lineless);
        stepsX = stepsY = 0;
        SteadyStepMass(lineless, inside, &stepsX, &stepsY);
        turns = Turns(stepsX, stepsY);
    }
    return turns && !InMiddle(r, width, height) && r.width <= kMaxFaintExtent * width &&
           r.height <= kMaxFaintExtent * height;
}

// One step of a candidate's refinement, from the statistics of this pass.
void Advance(const FirstPass& pass, int32_t width, int32_t height, Refinement* f) {
    WindowStats stats;
    FinishStats(f->sums, &stats);
    stats.faintSteps = f->faint;
    // Once a region stands (its window has room around it) a line running
    // out of the window passes it.
    if (f->faint && f->bySignature) DropPassingLines(&stats);
    RegionFound found = FindRegion(stats, f->box, width, height, &pass.still);
    // A logo keeps off the frame's sides; a region that reaches one is a
    // part of the picture that holds still (a still third, a bar's edge).
    const PixelRect& r = found.region;
    if (r.width < 3 || r.height < 3) {
        if (f->faint) f->active = false;
        else StartFaint(f);
        return;
    }
    if (TooLarge(r, width, height) || ReachesSide(r, width, height)) {
        f->active = false;
        return;
    }
    if (f->faint && !FaintRegionHolds(stats, r, f->bySignature, width, height)) {
        f->active = false;
        return;
    }
    f->sums = WindowSums();
    WindowSums absentSums;  // kept for the region's last look
    std::swap(absentSums, f->absent);
    f->box = found.region;
    if (found.cut && f->growths < kMaxGrowths) {
        f->growths++;  // the region may go on beyond the window: take it again in a larger one
        return;
    }
    f->growths = 0;
    const PixelRect inside = {f->box.x - stats.window.x, f->box.y - stats.window.y, f->box.width, f->box.height};
    LogoSignature next = MakeSignature(stats, TellingStill(found), found.moving, inside);
    if (!f->bySignature) {
        if (next.edges.empty() && next.still.empty()) {
            if (f->faint) f->active = false;
            else StartFaint(f);
            return;
        }
        f->bySignature = true;
        f->signature = std::move(next);
        // The samples these statistics were taken over: when the signature
        // finds the logo in just these, the region stands already.
        f->shown.resize(pass.notes.size());
        for (size_t k = 0; k < pass.notes.size(); k++)
            f->shown[k] = pass.notes[k].run < kMaxRuns && (f->runs >> pass.notes[k].run & 1);
        return;
    }
    // The samples showing the logo by the signature this pass matched; the
    // statistics were taken over them, so the region stands once they settle.
    std::vector<uint8_t> shown = ResolvePresence(f->answers);
    const bool settled = shown == f->shown;
    f->shown = std::move(shown);
    f->rounds++;
    if (!settled && f->rounds < kMaxRounds && !(next.edges.empty() && next.still.empty())) {
        f->signature = std::move(next);
        return;
    }
    f->active = false;
    // The statistics are taken over the samples showing the steps learned;
    // the logo shows in those and in any showing it over another picture,
    // and how often it shows is told by them all (a translucent logo's
    // steps over a picture of another level are not the ones learned).
    // A logo shows for a while at a time, though an ad break may part a
    // showing in two; a part of the picture that holds still now and then
    // (a cell of an animation, a face) comes and goes. So only showings
    // lasting a share of the samples each count toward the least share.
    std::vector<uint8_t> present = ResolvePresence(f->shows);
    double showing = 0, showingWeight = 0;
    size_t stretch = 0, lasting = 0;
    for (size_t k = 0; k <= present.size(); k++) {
        if (k < present.size() && present[k]) {
            stretch++;
            continue;
        }
        if (stretch >= kLeastShowingShare * present.size()) lasting += stretch;
        stretch = 0;
    }
    for (size_t k = 0; k < present.size(); k++) {
        showing += present[k];
        showingWeight += f->shown[k] * pass.notes[k].weight;
    }
    if (showingWeight >= kMinShowing && lasting >= kMinShownShare * f->shown.size()) {
        const double least = ScoreRegion(stats, found, showing / f->shown.size(), width, height, pass.picture,
                                         &f->result);
        // Scored and matched with what holds still beside it, the logo's
        // region is its own.
        TrimWeakSides(stats, &found);
        TakeInShadow(stats, &found);
        TakeInHalo(stats, 1, &found);
        WindowStats absent;
        FinishStats(absentSums, &absent);
        TakeInPlate(stats, absent, &found);
        f->result.region = found.region;
        f->result.present = std::move(present);
        const bool signs = !(f->result.signature.edges.empty() && f->result.signature.still.empty());
        const bool passes = f->result.score >= least && signs;
        if (passes && f->result.score >= f->best.score) f->best = f->result;
        if (!passes && f->part.score <= 0 && signs) f->part = f->result;
    }
    if (!f->faint && f->best.score < kMinScore) StartFaint(f);
}

// The part of every sample a batch reads, kept after the first reading so
// that the readings after it need not read the source again while the
// batch's windows stay inside it. It is kept only within the source's
// keptBytes, whatever the number of samples; a batch needing more reads the
// source every round.
struct KeptSamples {
    PixelRect            area = {0, 0, 0, 0};  // frame coordinates; empty while nothing is kept
    std::vector<int64_t> frameNumbers;
    std::vector<uint8_t> pixels;  // per sample, per plane, the area's rows
};

// The frame pixels a refinement's next reading looks at: its window, the
// signature's, and the neighbours right of and below them that steps take.
PixelRect ReadArea(const Refinement& f, int32_t width, int32_t height) {
    PixelRect area = f.sums.window;
    if (f.bySignature) area = Union(area, f.signature.window);
    return ClipRectToFrame({area.x, area.y, area.width + 1, area.height + 1}, width, height);
}

bool Inside(const PixelRect& a, const PixelRect& b) {
    return a.x >= b.x && a.y >= b.y && RectRight(a) <= RectRight(b) && RectBottom(a) <= RectBottom(b);
}

void KeepPart(const SamplePlanes& s, KeptSamples* kept) {
    const PixelRect& a = kept->area;
    kept->frameNumbers.push_back(s.frameNumber);
    for (int p = 0; p < kSamplePlanes; p++)
        for (int32_t j = 0; j < a.height; j++) {
            const uint8_t* row = s.plane[p] + (size_t)(a.y - s.top + j) * s.pitch[p] + (a.x - s.left);
            kept->pixels.insert(kept->pixels.end(), row, row + a.width);
        }
}

// Hands the kept parts to visit as the samples they were taken from.
void ReadKept(const KeptSamples& kept, const SampleVisitor& visit) {
    const PixelRect& a = kept.area;
    const size_t planeBytes = (size_t)a.width * a.height;
    for (size_t k = 0; k < kept.frameNumbers.size(); k++) {
        const uint8_t* first = &kept.pixels[k * kSamplePlanes * planeBytes];
        SamplePlanes s = {kept.frameNumbers[k], {first, first + planeBytes, first + 2 * planeBytes},
                          {a.width, a.width, a.width}};
        s.left = a.x;
        s.top = a.y;
        if (!visit(s)) return;
    }
}

// Passes over the samples until every refinement of the batch has ended.
bool Refine(const SampleSource& source, const FirstPass& pass, std::vector<Refinement>* batch) {
    const int32_t width = source.width, height = source.height;
    KeptSamples kept;
    for (;;) {
        bool any = false;
        PixelRect needed = {0, 0, 0, 0};
        for (Refinement& f : *batch) {
            if (!f.active) continue;
            any = true;
            StartSums(&f.sums, WindowAround(f.box, width, height));
            StartSums(&f.absent, f.bySignature ? f.sums.window : PixelRect{0, 0, 0, 0});
            f.answers.assign(f.bySignature ? pass.notes.size() : 0, kLogoUnsure);
            f.shows.assign(f.answers.size(), kLogoUnsure);
            needed = Union(needed, ReadArea(f, width, height));
        }
        if (!any) return true;
        size_t k = 0;
        auto visit = [&](const SamplePlanes& s) {
            if (k >= pass.notes.size()) return false;  // a reading must hand in the same samples
            const SampleNote& note = pass.notes[k];
            for (Refinement& f : *batch) {
                if (!f.active) continue;
                bool use;
                if (f.bySignature) {
                    const LogoMatch match = MatchLogo(f.signature, s);
                    f.answers[k] = match.asLearned;
                    f.shows[k] = match.shown;
                    use = f.answers[k] == kLogoShown;
                    if (f.shows[k] == kLogoAbsent && note.weight > 0) AddSample(&f.absent, s, width, height, note.weight);
                } else {
                    use = note.run < kMaxRuns && (f.runs >> note.run & 1);
                }
                if (use && note.weight > 0) AddSample(&f.sums, s, width, height, note.weight);
            }
            k++;
            return true;
        };
        if (!IsEmptyRect(kept.area) && Inside(needed, kept.area)) {
            ReadKept(kept, visit);
        } else {
            // Kept with room around it when that fits: a region found again
            // moves its window a little.
            const double perPixel = (double)kSamplePlanes * pass.notes.size();
            PixelRect area = Grow(needed, std::max(needed.width, needed.height) / 2, width, height);
            const double budget = (double)source.keptBytes;
            if ((double)area.width * area.height * perPixel > budget) area = needed;
            if ((double)area.width * area.height * perPixel > budget) area = {0, 0, 0, 0};
            kept = KeptSamples();
            kept.area = area;
            if (!IsEmptyRect(area)) kept.pixels.reserve((size_t)((double)area.width * area.height * perPixel));
            bool ok = source.read([&](const SamplePlanes& s) {
                if (!visit(s)) return false;
                if (!IsEmptyRect(kept.area)) KeepPart(s, &kept);
                return true;
            });
            if (!ok) return false;
        }
        for (Refinement& f : *batch)
            if (f.active) Advance(pass, width, height, &f);
    }
}

// Whether b is more of a's text: letters found apart (one of them over a
// part of the picture near its own colour, where the outline between them
// breaks) lie in the same rows, at most about a letter's width apart, and
// show in mostly the same samples (a letter over its own colour may be
// told in fewer or more of them). A still part of the picture beside a logo
// shows whenever the picture does, not when the logo does. A letter lost
// between them (its marks taken for a speck's beside it) parts them by
// more: then the runs mark the gap between them, in the rows they share,
// about as often as them.
bool SameText(const FirstPass& pass, const LogoCandidate& a, const LogoCandidate& b, int32_t width,
              int32_t height) {
    const int64_t rows = std::min(RectBottom(a.region), RectBottom(b.region)) - std::max(a.region.y, b.region.y);
    const int32_t taller = std::max(a.region.height, b.region.height);
    if (rows < kSameRows * taller) return false;
    const int64_t gap = std::max<int64_t>(b.region.x - RectRight(a.region), a.region.x - RectRight(b.region));
    const int32_t lower = std::min(a.region.height, b.region.height);
    if (gap > kLetterGap * lower) {
        if (gap > kLostLetterGap * lower) return false;
        const PixelRect& left = a.region.x < b.region.x ? a.region : b.region;
        const PixelRect between = {(int32_t)RectRight(left), std::max(a.region.y, b.region.y), (int32_t)gap,
                                   (int32_t)rows};
        if (MarkedOften(pass, between, width) < kLostLetterMarks * std::min(MarkedOften(pass, a.region, width),
                                                                             MarkedOften(pass, b.region, width)))
            return false;
    }
    if (TooLarge(Union(a.region, b.region), width, height) || a.present.size() != b.present.size()) return false;
    size_t either = 0, both = 0;
    for (size_t k = 0; k < a.present.size(); k++) {
        either += a.present[k] || b.present[k];
        both += a.present[k] && b.present[k];
    }
    return both >= kLeastSharedShowing * either;
}

}  // namespace

bool DetectLogos(const SampleSource& source, int maxCandidates, LogoDetection* result) {
    *result = LogoDetection();
    const int32_t width = source.width, height = source.height;
    if (width < kMinDetectSide || height < kMinDetectSide) {
        result->verdict = kDetectTooSmall;
        return true;
    }
    FirstPass pass;
    if (!ReadFirstPass(source, &pass)) return false;
    for (const SampleNote& n : pass.notes) {
        result->frameNumbers.push_back(n.frameNumber);
        result->weights.push_back(n.weight);
    }
    if (pass.notes.size() < (size_t)kMinDetectSamples) {
        result->verdict = kDetectTooShort;
        return true;
    }
    if (pass.moving < kMinMoving) {
        result->verdict = kDetectStatic;
        return true;
    }
    FindFirstCandidates(width, height, &pass);
    FindFaintCandidates(width, height, &pass);
    float runWeight = 0;
    for (float w : pass.runWeight) runWeight += w;
    if (runWeight <= 0) {
        // The picture changes, but nowhere enough for anything to stand out
        // as holding still.
        result->verdict = kDetectNothing;
        return true;
    }

    // Batches whose windows together stay within a budget of frames.
    std::vector<LogoCandidate> found, parts;
    const double budget = kWindowBudget * width * height;
    // The first candidates, then the faint ones.
    const size_t count = pass.firsts.size() + pass.faintFirsts.size();
    for (size_t next = 0; next < count;) {
        std::vector<Refinement> batch;
        double area = 0;
        while (next < count) {
            const bool faint = next >= pass.firsts.size();
            const PixelRect box = faint ? pass.faintFirsts[next - pass.firsts.size()].box : pass.firsts[next].box;
            const PixelRect window = WindowAround(Grow(box, std::max(box.width, box.height), width, height), width, height);
            area += (double)window.width * window.height;
            if (!batch.empty() && area > budget) break;
            Refinement f;
            f.box = box;
            f.first = box;
            if (faint)
                StartFaint(&f);
            else
                f.runs = RunsMarking(pass, box, width);
            batch.push_back(std::move(f));
            next++;
        }
        if (!Refine(source, pass, &batch)) return false;
        for (Refinement& f : batch) {
            if (f.best.score > 0) found.push_back(std::move(f.best));
            if (f.part.score > 0) parts.push_back(std::move(f.part));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const LogoCandidate& a, const LogoCandidate& b) { return a.score > b.score; });
    for (size_t i = 0; i < found.size(); i++)
        for (size_t j = i + 1; j < found.size();) {
            if (!SameText(pass, found[i], found[j], width, height)) {
                j++;
                continue;
            }
            // The better one's signature tells the frames for both. Two
            // first candidates refined into the same letters are one logo
            // found twice, which scores once.
            if (RectIou(found[i].region, found[j].region) <= 0.5) found[i].score += found[j].score;
            found[i].region = Union(found[i].region, found[j].region);
            found.erase(found.begin() + j);
            j = i + 1;  // the grown region may reach letters passed over
        }
    // A letter too small to score as a logo by itself is one of a found
    // text when it shares its rows and its showings; one that lies mostly
    // inside it already adds nothing.
    for (LogoCandidate& c : found)
        for (size_t j = 0; j < parts.size();) {
            if (ShareInside(parts[j].region, c.region) > 0.5) {
                parts.erase(parts.begin() + j);
                continue;
            }
            if (!SameText(pass, c, parts[j], width, height)) {
                j++;
                continue;
            }
            c.score += parts[j].score;
            c.region = Union(c.region, parts[j].region);
            parts.erase(parts.begin() + j);
            j = 0;  // the grown region may reach letters passed over
        }
    std::stable_sort(found.begin(), found.end(),
                     [](const LogoCandidate& a, const LogoCandidate& b) { return a.score > b.score; });
    // A candidate lying mostly within a better one is a part of it (the
    // mark on a plate), not a logo of its own.
    for (LogoCandidate& c : found) {
        bool repeated = false;
        for (const LogoCandidate& kept : result->candidates)
            repeated |= RectIou(c.region, kept.region) > 0.3 || ShareInside(c.region, kept.region) > 0.5;
        if (!repeated && (int)result->candidates.size() < maxCandidates) result->candidates.push_back(std::move(c));
    }
    result->verdict = result->candidates.empty() ? kDetectNothing : kDetectFound;
    return true;
}

bool RefineRegion(const FineSamples& fine, const LogoDetection& detection, const LogoCandidate& candidate,
                  PixelRect* region) {
    const int32_t f = fine.factor;
    const PixelRect coarse = {candidate.region.x * f, candidate.region.y * f, candidate.region.width * f,
                              candidate.region.height * f};
    *region = coarse;
    if (f <= 1) return true;
    // Samples spread over those that show the logo over a changing picture.
    std::vector<size_t> showing;
    for (size_t k = 0; k < candidate.present.size() && k < detection.weights.size(); k++)
        if (candidate.present[k] && detection.weights[k] > 0) showing.push_back(k);
    if (showing.size() < (size_t)kMinDetectSamples) return true;
    std::vector<int64_t> numbers;
    std::vector<float> weights;
    const size_t count = std::min(showing.size(), (size_t)kFineSamples);
    for (size_t i = 0; i < count; i++) {
        const size_t k = showing[i * showing.size() / count];
        numbers.push_back(detection.frameNumbers[k]);
        weights.push_back(detection.weights[k]);
    }
    // A window no larger than the analysed frame keeps to the analysis'
    // memory; a logo that large loses nothing to the rounding.
    const PixelRect window = WindowAround(Grow(coarse, f, fine.width, fine.height), fine.width, fine.height);
    if ((int64_t)window.width * window.height * f * f > (int64_t)fine.width * fine.height) return true;
    WindowSums sums;
    StartSums(&sums, window);
    size_t next = 0;
    const bool ok = fine.read(numbers, [&](const SamplePlanes& s) {
        while (next < numbers.size() && numbers[next] < s.frameNumber) next++;
        if (next < numbers.size() && numbers[next] == s.frameNumber)
            AddSample(&sums, s, fine.width, fine.height, weights[next]);
        return true;
    });
    if (!ok) return false;
    if (sums.weight < kMinShowing) return true;
    WindowStats stats;
    FinishStats(sums, &stats);
    RegionFound found = FindRegion(stats, coarse, fine.width, fine.height);
    // A translucent logo's outline rings too little to be told, at the
    // frame's own size, from its own soft side. A logo found by clear steps
    // that dims nothing measurable is no translucent one: its dimming went
    // untold (its marks are mostly its own outline), and it rings as an
    // opaque logo does.
    if (!candidate.faint && (candidate.opacity >= kClearOpacity || candidate.opacity < kUntoldDimming))
        TrimWeakSides(stats, &found);
    // A field of interlaced video holds every other row: what lies a few
    // rows beneath an outline at the frame's size is the other field's.
    if (!fine.interlaced) TakeInShadow(stats, &found);
    TakeInHalo(stats, f, &found);
    // Each side within the rounding and the spread of the coarse one: out
    // by at most a coarse pixel, in by at most two.
    const PixelRect& r = found.region;
    auto within = [&](int64_t side, int64_t coarseSide, int64_t inward) {
        return (side - coarseSide) * inward >= -f && (side - coarseSide) * inward <= 2 * f;
    };
    if (!IsEmptyRect(r) && !found.cut && within(r.x, coarse.x, 1) && within(r.y, coarse.y, 1) &&
        within(RectRight(r), RectRight(coarse), -1) && within(RectBottom(r), RectBottom(coarse), -1))
        *region = fine.interlaced ? PixelRect{r.x, coarse.y, r.width, coarse.height} : r;
    return true;
}
