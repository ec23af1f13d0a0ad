// Finding a logo in sampled frames.
//
// A logo is laid over the picture: where it is opaque its pixels keep their
// values whatever passes beneath; where it is translucent the picture shows
// through, dimmed, but the logo's own edges stay where they are. So over
// frames that differ, a logo shows as pixels of small temporal variance and
// as steps between neighbouring pixels whose mean holds most of their energy
// (a step that keeps its sign and size), while the moving picture's steps
// change sign and cancel in the mean.
//
// The steps: 1. weigh each sample by how much the picture changed since the
// last sample that counted, so that a stretch of still picture counts once;
// 2. cut the samples into runs of about equal weight and mark, in each run,
// the pixels that stay put; a logo shown only in some runs still marks
// itself there; 3. pixels marked in enough of the runs, closed and joined,
// are the first candidates; 4. for each, find the samples that show it by
// matching them against its mean steps and still values, recompute its
// statistics on those samples alone, and take the region again, pixel-exact,
// from its outline, its still pixels and the pixels it dims; 5. score the
// regions by the strength of their steady edges and still pixels, where they
// sit, how often they show and how much they hide of the picture beneath.
#include "logo_detect.h"

#include <math.h>
#include <string.h>

#include <algorithm>

const float kPresentScore = 0.6f;

namespace {

// Tuning, in 8-bit luma levels unless said otherwise.
const float kNoiseChange = 1.5f;   // mean absolute change between samples that is only noise
const float kFullChange = 6.0f;    // mean absolute change of a sample that shows a new picture
const float kMinMoving = 6.0f;     // samples' worth of change below which the clip is still
const float kRunWeight = 10.0f;    // least weight of a run of samples
const int   kMaxRuns = 8;
const float kMinRunVariance = 20;  // a run whose typical pixel varies less shows no movement
const float kSteadyValue = 0.05f;  // variance, as a share of the moving picture's, of a still pixel
const float kQuietSide = 0.8f;     // most variance of a step's logo side, as a share of the other side's
const float kMovingSide = 0.25f;   // least variance of its other side, as a share of the moving picture's
const float kDimmedValue = 0.5f;   // variance, as a share of the moving picture's, of a dimmed pixel
const float kSharpStill = 0.5f;    // variance right outside a still patch, as a share of the moving picture's
const float kSharpDimmed = 0.8f;   // the same for a dimmed patch
const float kDimmedContrast = 2.5f; // and at least this many times the dimmed patch's own
const float kEdgeMin = 6.0f;       // least mean step of a steady edge
const float kEdgeCoherence = 0.5f; // least share of a steady step's energy in its mean
// Shares of the runs' weight a candidate pixel is marked in, tried in turn.
const float kMarkedShares[] = {0.2f, 0.35f, 0.5f, 0.7f, 0.85f};
const int   kCloseRadius = 2;      // pixels joined across gaps this wide
const int   kMinArea = 12;         // pixels of a candidate
const float kMaxExtent = 0.45f;    // of the frame's width or height
const float kStillWorth = 10.0f;   // score of a still pixel, against a steady step's size
const float kStillTolerance = 6;   // least spread of a still pixel's value between frames without the logo
const float kClearOpacity = 0.3f;  // opacity from which a region counts fully
const float kMinScore = 700.0f;    // least score of a region reported as a logo
const int   kMaxRefined = 12;      // first candidates refined, the most strongly marked first
const float kMinShowing = 15;      // samples' worth of change a region must show through

struct Rect {
    int32_t x, y, w, h;
};

int32_t Right(const Rect& r) { return r.x + r.w; }
int32_t Bottom(const Rect& r) { return r.y + r.h; }

Rect Grow(const Rect& r, int32_t by, int32_t width, int32_t height) {
    int32_t x0 = std::max(0, r.x - by), y0 = std::max(0, r.y - by);
    int32_t x1 = std::min(width, Right(r) + by), y1 = std::min(height, Bottom(r) + by);
    return {x0, y0, x1 - x0, y1 - y0};
}

double Overlap(const Rect& a, const Rect& b) {
    int64_t w = std::min(Right(a), Right(b)) - std::max(a.x, b.x);
    int64_t h = std::min(Bottom(a), Bottom(b)) - std::max(a.y, b.y);
    if (w <= 0 || h <= 0) return 0;
    double inter = (double)w * h;
    return inter / ((double)a.w * a.h + (double)b.w * b.h - inter);
}

// The share of a's area that lies inside b.
double ShareInside(const Rect& a, const Rect& b) {
    int64_t w = std::min(Right(a), Right(b)) - std::max(a.x, b.x);
    int64_t h = std::min(Bottom(a), Bottom(b)) - std::max(a.y, b.y);
    return w <= 0 || h <= 0 ? 0 : (double)w * h / ((double)a.w * a.h);
}

// Weighted sums over samples for the pixels of a window: value (less 128,
// which keeps the float sums exact enough), its square, and the squares of
// the steps to the right and downward neighbours.
struct WindowSums {
    Rect               window;
    double             weight = 0;
    std::vector<float> value, square, stepX, stepY;
};

// The statistics the sums lead to.
struct WindowStats {
    Rect               window;
    std::vector<float> mean;       // less 128
    std::vector<float> variance;
    std::vector<float> meanStepX;  // mean(x+1) - mean(x): the mean of the steps
    std::vector<float> meanStepY;
    std::vector<float> energyX;    // the mean of the steps squared
    std::vector<float> energyY;
};

void StartSums(WindowSums* sums, Rect window) {
    size_t n = (size_t)window.w * window.h;
    sums->window = window;
    sums->weight = 0;
    sums->value.assign(n, 0);
    sums->square.assign(n, 0);
    sums->stepX.assign(n, 0);
    sums->stepY.assign(n, 0);
}

void AddSample(WindowSums* sums, const uint8_t* luma, int32_t width, int32_t height, float w) {
    const Rect& r = sums->window;
    sums->weight += w;
    // The window's last column and row take their steps from the pixels just
    // outside when there are any; at the frame's edge the step is 0.
    const int32_t stepsX = Right(r) < width ? r.w : r.w - 1;
    for (int32_t j = 0; j < r.h; j++) {
        const uint8_t* row = luma + (size_t)(r.y + j) * width + r.x;
        const uint8_t* below = r.y + j + 1 < height ? row + width : row;
        float* value = &sums->value[(size_t)j * r.w];
        float* square = &sums->square[(size_t)j * r.w];
        float* stepX = &sums->stepX[(size_t)j * r.w];
        float* stepY = &sums->stepY[(size_t)j * r.w];
        for (int32_t i = 0; i < r.w; i++) {
            float v = (float)row[i] - 128.0f;
            value[i] += w * v;
            square[i] += w * v * v;
            float d = (float)below[i] - (float)row[i];
            stepY[i] += w * d * d;
        }
        for (int32_t i = 0; i < stepsX; i++) {
            float d = (float)row[i + 1] - (float)row[i];
            stepX[i] += w * d * d;
        }
    }
}

void FinishStats(const WindowSums& sums, WindowStats* stats) {
    const Rect& r = sums.window;
    const size_t n = (size_t)r.w * r.h;
    const float inverse = sums.weight > 0 ? (float)(1.0 / sums.weight) : 0;
    stats->window = r;
    stats->mean.resize(n);
    stats->variance.resize(n);
    stats->energyX.resize(n);
    stats->energyY.resize(n);
    for (size_t p = 0; p < n; p++) {
        float m = sums.value[p] * inverse;
        stats->mean[p] = m;
        stats->variance[p] = std::max(0.0f, sums.square[p] * inverse - m * m);
        stats->energyX[p] = sums.stepX[p] * inverse;
        stats->energyY[p] = sums.stepY[p] * inverse;
    }
    // The mean of the steps is the step of the means. Where the window ends
    // inside the frame its last column and row have no neighbour here, and
    // get no mean step: they only pad the window.
    stats->meanStepX.assign(n, 0);
    stats->meanStepY.assign(n, 0);
    for (int32_t j = 0; j < r.h; j++)
        for (int32_t i = 0; i < r.w; i++) {
            size_t p = (size_t)j * r.w + i;
            if (i + 1 < r.w) stats->meanStepX[p] = stats->mean[p + 1] - stats->mean[p];
            if (j + 1 < r.h) stats->meanStepY[p] = stats->mean[p + r.w] - stats->mean[p];
        }
}

// A step is steady when it is large and its mean holds most of its energy:
// mean^2 / mean(step^2) is 1 for a step that never changes and about
// 1 / samples for steps that come and go at random.
bool SteadyStep(float meanStep, float energy) {
    return fabsf(meanStep) >= kEdgeMin && meanStep * meanStep >= kEdgeCoherence * energy;
}

float Median(std::vector<float> values) {
    if (values.empty()) return 0;
    size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + mid, values.end());
    return values[mid];
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
    Rect    box;
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
bool SharpPatch(const WindowStats& s, const std::vector<int32_t>& labels, int32_t label, Rect box,
                float leastVariance, float contrast) {
    const Rect& r = s.window;
    const Rect around = Grow(box, 3, r.w, r.h);
    std::vector<float> ring, inside;
    for (int32_t j = around.y; j < Bottom(around); j++)
        for (int32_t i = around.x; i < Right(around); i++) {
            int32_t nearest = 4;  // Chebyshev distance to the patch, capped
            for (int32_t dy = -3; dy <= 3; dy++)
                for (int32_t dx = -3; dx <= 3; dx++) {
                    int32_t x = i + dx, y = j + dy;
                    if (x < 0 || y < 0 || x >= r.w || y >= r.h || labels[(size_t)y * r.w + x] != label)
                        continue;
                    nearest = std::min(nearest, std::max(abs(dx), abs(dy)));
                }
            if (nearest == 0) inside.push_back(s.variance[(size_t)j * r.w + i]);
            if (nearest >= 2 && nearest <= 3) ring.push_back(s.variance[(size_t)j * r.w + i]);
        }
    if (ring.empty()) return false;
    const float outside = Median(ring);
    return outside >= leastVariance && outside >= contrast * Median(inside);
}

// The patches of `quiet` pixels (variance below a share of the moving
// picture's) that moving picture encloses. A flat part of the picture (sky,
// a wall, black bars) holds as still as an opaque logo, so patches running
// out of the window or to the frame's side (logos keep away from it),
// patches larger than a logo and patches whose surroundings do not move
// are left out.
std::vector<uint8_t> EnclosedPatches(const WindowStats& s, std::vector<uint8_t> quiet, float movingVariance,
                                     float sharpness, float contrast, int32_t frameWidth,
                                     int32_t frameHeight) {
    const Rect& r = s.window;
    std::vector<uint8_t> joined = quiet;
    CloseMarks(&joined, r.w, r.h, 1);
    std::vector<int32_t> labels;
    std::vector<Component> patches = Components(joined, r.w, r.h, nullptr, &labels);
    std::vector<uint8_t> enclosed(patches.size(), 0);
    for (size_t k = 0; k < patches.size(); k++) {
        const Rect& b = patches[k].box;
        bool escapes = b.x == 0 || b.y == 0 || Right(b) == r.w || Bottom(b) == r.h;
        enclosed[k] = !escapes && patches[k].area >= 4 && b.w <= kMaxExtent * frameWidth &&
                      b.h <= kMaxExtent * frameHeight &&
                      SharpPatch(s, labels, (int32_t)k, b, sharpness * movingVariance, contrast);
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
    if (va <= kQuietSide * vb && vb >= moves)
        (*marks)[a] = 1;
    else if (vb <= kQuietSide * va && va >= moves)
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
    const Rect& r = s.window;
    const size_t n = (size_t)r.w * r.h;
    std::vector<uint8_t> marks(n, 0), still(n, 0), dim(n, 0);
    const float outlineMoving = local ? movingVariance : 0;
    for (int32_t j = 0; j < r.h; j++)
        for (int32_t i = 0; i < r.w; i++) {
            size_t p = (size_t)j * r.w + i;
            still[p] = s.variance[p] < kSteadyValue * movingVariance;
            // Still pixels are not dimmed ones: a dimmed patch grown out of
            // an opaque logo into a calm part of the picture beside it would
            // take that part in.
            dim[p] = !still[p] && s.variance[p] < kDimmedValue * movingVariance;
            if (i + 1 < r.w && SteadyStep(s.meanStepX[p], s.energyX[p]))
                MarkQuietSide(s, p, p + 1, outlineMoving, &marks);
            if (j + 1 < r.h && SteadyStep(s.meanStepY[p], s.energyY[p]))
                MarkQuietSide(s, p, p + r.w, outlineMoving, &marks);
        }
    still = EnclosedPatches(s, still, movingVariance, kSharpStill, 1, frameWidth, frameHeight);
    if (local)
        dim = EnclosedPatches(s, dim, movingVariance, kSharpDimmed, kDimmedContrast, frameWidth, frameHeight);
    if (outlineOut) *outlineOut = marks;
    for (size_t p = 0; p < n; p++) marks[p] |= still[p] | (local && dim[p]);
    if (stillOut) *stillOut = std::move(still);
    return marks;
}

float MeanAbsoluteChange(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height) {
    // Every other row and column is plenty for a mean over the frame.
    uint64_t sum = 0, count = 0;
    for (int32_t y = 0; y < height; y += 2) {
        const uint8_t* ra = a + (size_t)y * width;
        const uint8_t* rb = b + (size_t)y * width;
        for (int32_t x = 0; x < width; x += 2) sum += (uint32_t)abs((int)ra[x] - (int)rb[x]);
        count += (uint32_t)(width + 1) / 2;
    }
    return count ? (float)sum / (float)count : 0;
}

// The first candidates: groups of pixels marked in at least a share of the
// runs. A busy picture marks many pixels now and then, and a logo's group
// can then run into them and grow beyond any logo's size; such a group is
// taken apart again with a higher share, where the logo still stands.
std::vector<Component> FirstCandidates(const std::vector<float>& often, float runWeight, int32_t w,
                                       int32_t h) {
    // Ranked by their strongly marked pixels, which a logo has plenty of and
    // a busy picture few.
    std::vector<float> strong(often.size());
    for (size_t p = 0; p < often.size(); p++) strong[p] = often[p] >= 0.5f * runWeight ? often[p] : 0;
    std::vector<Component> taken;
    std::vector<uint8_t> marks(often.size());
    std::vector<int32_t> labels;
    for (float share : kMarkedShares) {
        for (size_t p = 0; p < often.size(); p++) marks[p] = often[p] >= share * runWeight;
        DropLoneMarks(&marks, w, h);
        CloseMarks(&marks, w, h, kCloseRadius);
        for (const Component& c : Components(marks, w, h, &strong, &labels)) {
            if (c.area < kMinArea || c.box.w < 3 || c.box.h < 3 || c.box.w > kMaxExtent * w ||
                c.box.h > kMaxExtent * h)
                continue;
            // A group already taken stands for this one, unless it is this
            // one grown into the marks around it.
            bool known = false;
            for (const Component& t : taken) known |= Overlap(t.box, c.box) > 0 && t.area < 2 * c.area;
            if (!known) taken.push_back(c);
        }
    }
    return taken;
}

// Each sample's weight: its change from the last sample that showed a new
// picture, from 0 (noise) to 1 (a new picture). A still stretch therefore
// counts once, and a slow pan counts by how far it has moved.
std::vector<float> SampleWeights(const LumaSamples& in) {
    const size_t count = in.samples.size();
    std::vector<float> weights(count, 0);
    size_t reference = 0;
    bool moved = false;
    for (size_t k = 1; k < count; k++) {
        float change = MeanAbsoluteChange(in.samples[k].pixels.data(), in.samples[reference].pixels.data(),
                                          in.width, in.height);
        float w = (change - kNoiseChange) / (kFullChange - kNoiseChange);
        weights[k] = std::min(1.0f, std::max(0.0f, w));
        if (weights[k] > 0) moved = true;
        if (weights[k] >= 1) reference = k;
    }
    if (count > 0) weights[0] = moved ? 1.0f : 0.0f;
    return weights;
}

// Cuts the samples into runs of at least about equal weight.
std::vector<size_t> RunStarts(const std::vector<float>& weights, float total) {
    const float share = std::max(kRunWeight, total / kMaxRuns);
    std::vector<size_t> starts = {0};
    float sum = 0;
    for (size_t k = 0; k < weights.size(); k++) {
        sum += weights[k];
        if (sum >= share && total - sum >= share * 0.5f) {  // no thin last run
            starts.push_back(k + 1);
            total -= sum;
            sum = 0;
        }
    }
    starts.push_back(weights.size());
    return starts;
}

// The variance of the moving part of the picture: most pictures hold still
// parts too (a studio's walls, black bars), so not the median but a higher
// share.
float TypicalVariance(const WindowStats& stats) {
    std::vector<float> some;
    for (size_t p = 0; p < stats.variance.size(); p += 7) some.push_back(stats.variance[p]);
    if (some.empty()) return 0;
    size_t at = some.size() * 3 / 4;
    std::nth_element(some.begin(), some.begin() + at, some.end());
    return some[at];
}

// The first pass: each run marks its steady pixels over the whole frame.
struct RunMarks {
    size_t               first, end;  // its samples
    float                weight;
    std::vector<uint8_t> marks;
};

std::vector<RunMarks> MarkRuns(const LumaSamples& in, const std::vector<float>& weights, float total) {
    std::vector<RunMarks> runs;
    std::vector<size_t> starts = RunStarts(weights, total);
    const Rect frame = {0, 0, in.width, in.height};
    WindowSums sums;
    WindowStats stats;
    for (size_t r = 0; r + 1 < starts.size(); r++) {
        StartSums(&sums, frame);
        for (size_t k = starts[r]; k < starts[r + 1]; k++)
            if (weights[k] > 0)
                AddSample(&sums, in.samples[k].pixels.data(), in.width, in.height, weights[k]);
        if (sums.weight <= 0) continue;
        FinishStats(sums, &stats);
        float moving = TypicalVariance(stats);
        if (moving < kMinRunVariance) continue;
        runs.push_back({starts[r], starts[r + 1], (float)sums.weight,
                        SteadyPixels(stats, moving, in.width, in.height, false)});
    }
    return runs;
}

// The statistics of one window over the samples flagged in `use`.
void StatsOver(const LumaSamples& in, const std::vector<float>& weights, const std::vector<uint8_t>& use,
               Rect window, WindowStats* stats) {
    WindowSums sums;
    StartSums(&sums, window);
    for (size_t k = 0; k < in.samples.size(); k++)
        if (use[k] && weights[k] > 0)
            AddSample(&sums, in.samples[k].pixels.data(), in.width, in.height, weights[k]);
    FinishStats(sums, stats);
}

// The signature of the logo inside `around` (window coordinates): its
// steady mean steps and its still pixels there.
LogoSignature MakeSignature(const WindowStats& s, const std::vector<uint8_t>& still, float movingVariance,
                            Rect around) {
    LogoSignature sig;
    const Rect& r = s.window;
    sig.window = {r.x, r.y, r.w, r.h};
    // Where the logo is gone its pixels take the moving picture's values,
    // which stray from the logo's by about the picture's deviation or more;
    // half of that tells the two apart.
    sig.stillSpread = std::max(kStillTolerance, 0.5f * sqrtf(movingVariance));
    for (int32_t j = around.y; j < Bottom(around); j++)
        for (int32_t i = around.x; i < Right(around); i++) {
            const size_t p = (size_t)j * r.w + i;
            SignatureEdge edge = {(int32_t)p, 0, 0};
            if (i + 1 < r.w && SteadyStep(s.meanStepX[p], s.energyX[p])) edge.stepX = s.meanStepX[p];
            if (j + 1 < r.h && SteadyStep(s.meanStepY[p], s.energyY[p])) edge.stepY = s.meanStepY[p];
            if (edge.stepX != 0 || edge.stepY != 0) {
                sig.edges.push_back(edge);
                sig.edgeEnergy += edge.stepX * edge.stepX + edge.stepY * edge.stepY;
            }
            if (still[p]) sig.still.push_back({(int32_t)p, (uint8_t)lrintf(s.mean[p] + 128.0f)});
        }
    return sig;
}

// How much a region looks like a logo, by where it sits: corners first,
// then the middles of the edges, the frame's centre last.
double PlacePreference(const Rect& r, int32_t width, int32_t height) {
    double dx = std::min(r.x, width - Right(r)) / (double)width;
    double dy = std::min(r.y, height - Bottom(r)) / (double)height;
    double nearX = std::max(0.0, 1.0 - dx / 0.25), nearY = std::max(0.0, 1.0 - dy / 0.25);
    return 0.2 + 0.8 * std::max(nearX, nearY) + 0.5 * nearX * nearY;
}

Rect Union(const Rect& a, const Rect& b) {
    if (a.w <= 0 || a.h <= 0) return b;
    int32_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    int32_t x1 = std::max(Right(a), Right(b)), y1 = std::max(Bottom(a), Bottom(b));
    return {x0, y0, x1 - x0, y1 - y0};
}

// The steady pixels of a window and the region they form around a box.
struct RegionFound {
    Rect                 region;    // frame coordinates; empty when nothing is there
    WindowStats          stats;
    std::vector<uint8_t> marks;     // window pixels marked steady (before closing)
    std::vector<uint8_t> still;     // of those, the ones whose values hold still
    std::vector<uint8_t> outline;   // and the ones on the quiet side of a steady step
    float                moving = 0;
};

// The region of steady pixels that reaches into `box` (frame coordinates),
// from the statistics over the samples flagged in `use`. A region found
// running into its window's side may go on beyond it, so the window then
// grows around it and the region is taken again.
RegionFound FindRegion(const LumaSamples& in, const std::vector<float>& weights,
                       const std::vector<uint8_t>& use, Rect box) {
    RegionFound found;
    for (int attempt = 0; attempt < 4; attempt++) {
        const int32_t pad = std::max(6, std::max(box.w, box.h) / 2);
        const Rect window = Grow(box, pad, in.width, in.height);
        const Rect around = {box.x - window.x, box.y - window.y, box.w, box.h};
        const Rect aroundGrown = Grow(around, kCloseRadius + 1, window.w, window.h);
        StatsOver(in, weights, use, window, &found.stats);

        // The moving picture around the box sets what counts as steady.
        std::vector<float> ring;
        for (int32_t j = 0; j < window.h; j++)
            for (int32_t i = 0; i < window.w; i++)
                if (i < aroundGrown.x || i >= Right(aroundGrown) || j < aroundGrown.y ||
                    j >= Bottom(aroundGrown))
                    ring.push_back(found.stats.variance[(size_t)j * window.w + i]);
        found.moving = ring.size() >= 16 ? Median(ring) : TypicalVariance(found.stats);
        found.region = {0, 0, 0, 0};
        if (found.moving < kMinRunVariance) return found;

        found.marks =
            SteadyPixels(found.stats, found.moving, in.width, in.height, true, &found.still, &found.outline);
        std::vector<uint8_t> closed = found.marks;
        CloseMarks(&closed, window.w, window.h, kCloseRadius);
        std::vector<int32_t> labels;
        std::vector<Component> parts = Components(closed, window.w, window.h, nullptr, &labels);
        std::vector<uint8_t> reaches(parts.size(), 0);
        for (int32_t j = around.y; j < Bottom(around); j++)
            for (int32_t i = around.x; i < Right(around); i++) {
                int32_t label = labels[(size_t)j * window.w + i];
                if (label >= 0) reaches[label] = 1;
            }
        Rect region = {0, 0, 0, 0};
        for (size_t k = 0; k < parts.size(); k++)
            if (reaches[k]) region = Union(region, parts[k].box);
        if (region.w <= 0) return found;
        found.region = {region.x + window.x, region.y + window.y, region.w, region.h};
        if (found.region.w > kMaxExtent * in.width || found.region.h > kMaxExtent * in.height) return found;

        const bool cut = (region.x < 2 && window.x > 0) || (region.y < 2 && window.y > 0) ||
                         (Right(region) > window.w - 2 && Right(window) < in.width) ||
                         (Bottom(region) > window.h - 2 && Bottom(window) < in.height);
        if (!cut) return found;
        box = found.region;
    }
    return found;
}

struct Refined {
    bool          ok = false;
    LogoCandidate candidate;
};

// Step 4 for one first candidate.
Refined Refine(const LumaSamples& in, const std::vector<float>& weights, const std::vector<RunMarks>& runs,
               const std::vector<size_t>& runOf, const Component& first) {
    Refined out;
    const size_t count = in.samples.size();
    Rect box = first.box;

    // The runs that mark the candidate best stand for the samples showing it.
    std::vector<double> share(runs.size(), 0);
    double best = 0;
    for (size_t r = 0; r < runs.size(); r++) {
        int64_t marked = 0;
        for (int32_t j = box.y; j < Bottom(box); j++)
            for (int32_t i = box.x; i < Right(box); i++) marked += runs[r].marks[(size_t)j * in.width + i];
        share[r] = (double)marked / ((double)box.w * box.h);
        best = std::max(best, share[r]);
    }
    std::vector<uint8_t> use(count, 0);
    for (size_t k = 0; k < count; k++) use[k] = runOf[k] < runs.size() && share[runOf[k]] >= 0.5 * best;

    // Find the samples that match the candidate's steady steps, and take the
    // region again over those alone, until the set settles.
    RegionFound found;
    LogoSignature sig;
    std::vector<float> presence(count, 0);
    for (int round = 0; round < 4; round++) {
        found = FindRegion(in, weights, use, box);
        if (found.region.w < 3 || found.region.h < 3) return out;
        box = found.region;
        const Rect& window = found.stats.window;
        sig = MakeSignature(found.stats, found.still, found.moving,
                            Grow({box.x - window.x, box.y - window.y, box.w, box.h}, 1, window.w, window.h));
        if (sig.edges.empty() && sig.still.empty()) return out;
        bool changed = false;
        for (size_t k = 0; k < count; k++) {
            presence[k] = MatchLogo(sig, in.samples[k].pixels.data(), in.width);
            uint8_t shows = presence[k] >= kPresentScore;
            changed |= shows != use[k];
            use[k] = shows;
        }
        if (!changed) break;
    }
    double showing = 0, showingWeight = 0;
    for (size_t k = 0; k < count; k++) {
        showing += use[k];
        showingWeight += use[k] * weights[k];
    }
    if (showingWeight < kMinShowing) return out;
    found = FindRegion(in, weights, use, box);
    const Rect region = found.region;
    if (region.w < 3 || region.h < 3 || region.w > kMaxExtent * in.width || region.h > kMaxExtent * in.height)
        return out;

    // The score: the steady edges' strength and the still pixels inside the
    // region, counted as on a frame 480 pixels wide; weighed by where the
    // region sits, how often it shows and how much it dims the picture
    // beneath (a logo fainter than about a third hides too little to be told
    // from a picture that merely changes slowly there).
    const WindowStats& stats = found.stats;
    const Rect& window = stats.window;
    const Rect inside = {region.x - window.x, region.y - window.y, region.w, region.h};
    const double scale = in.width / 480.0;
    double edgeMass = 0, stillMass = 0;
    std::vector<float> opacity;
    for (int32_t j = inside.y; j < Bottom(inside); j++)
        for (int32_t i = inside.x; i < Right(inside); i++) {
            size_t p = (size_t)j * window.w + i;
            if (i + 1 < window.w && SteadyStep(stats.meanStepX[p], stats.energyX[p]))
                edgeMass += fabsf(stats.meanStepX[p]);
            if (j + 1 < window.h && SteadyStep(stats.meanStepY[p], stats.energyY[p]))
                edgeMass += fabsf(stats.meanStepY[p]);
            if (found.outline[p] || found.still[p])
                opacity.push_back(1.0f - std::min(1.0f, sqrtf(stats.variance[p] / found.moving)));
            if (found.still[p]) stillMass += kStillWorth;
        }
    const double dimming = Median(opacity);
    const double score = (edgeMass / scale + stillMass / (scale * scale)) *
                         PlacePreference(region, in.width, in.height) * sqrt(showing / count) *
                         std::min(1.0, dimming / kClearOpacity);

    LogoCandidate& c = out.candidate;
    c.region = {region.x, region.y, region.w, region.h};
    c.score = score;
    c.opacity = dimming;
    c.signature = MakeSignature(stats, found.still, found.moving, Grow(inside, 1, window.w, window.h));
    // The samples' presence by the final signature, the one that frames
    // between the samples are tested with.
    c.presence.resize(count);
    c.present.resize(count);
    for (size_t k = 0; k < count; k++) {
        c.presence[k] = MatchLogo(c.signature, in.samples[k].pixels.data(), in.width);
        c.present[k] = c.presence[k] >= kPresentScore;
    }
    out.ok = c.score >= kMinScore && (!c.signature.edges.empty() || !c.signature.still.empty());
    return out;
}

}  // namespace

float MatchLogo(const LogoSignature& sig, const uint8_t* luma, int32_t pitch) {
    const DetectRect& r = sig.window;
    const uint8_t* origin = luma + (size_t)r.y * pitch + r.x;
    // Steps: the frame's steps projected on the mean ones, 1 when they are
    // alike. Edges never lie on the window's last column or row, so the
    // neighbours are inside the window.
    double edgeScore = 0;
    for (const SignatureEdge& e : sig.edges) {
        const uint8_t* at = origin + (size_t)(e.pixel / r.width) * pitch + e.pixel % r.width;
        if (e.stepX != 0) edgeScore += (double)e.stepX * ((int)at[1] - (int)at[0]);
        if (e.stepY != 0) edgeScore += (double)e.stepY * ((int)at[pitch] - (int)at[0]);
    }
    if (sig.edgeEnergy > 0) edgeScore /= sig.edgeEnergy;
    // Still pixels: how close they keep to their values, 1 when they keep
    // them, about 0 when they stray as far as the moving picture does.
    double stray = 0;
    for (const SignatureStill& s : sig.still) {
        int v = origin[(size_t)(s.pixel / r.width) * pitch + s.pixel % r.width];
        stray += std::min(1.0f, abs(v - (int)s.value) / sig.stillSpread);
    }
    const double edges = (double)sig.edges.size(), still = (double)sig.still.size();
    if (edges + still <= 0) return 0;
    double stillScore = still > 0 ? 1.0 - stray / still : 0;
    return (float)((edges * edgeScore + still * stillScore) / (edges + still));
}

LogoDetection DetectLogos(const LumaSamples& in, int maxCandidates) {
    LogoDetection result;
    const size_t count = in.samples.size();
    if (in.width < kMinDetectSide || in.height < kMinDetectSide) {
        result.verdict = kDetectTooSmall;
        return result;
    }
    if (count < (size_t)kMinDetectSamples) {
        result.verdict = kDetectTooShort;
        return result;
    }
    std::vector<float> weights = SampleWeights(in);
    float total = 0;
    for (float w : weights) total += w;
    result.movingSamples = total;
    if (total < kMinMoving) {
        result.verdict = kDetectStatic;
        return result;
    }

    // Steps 2 and 3: the runs' marks, and the pixels marked often enough.
    std::vector<RunMarks> runs = MarkRuns(in, weights, total);
    std::vector<size_t> runOf(count, runs.size());
    for (size_t r = 0; r < runs.size(); r++)
        for (size_t k = runs[r].first; k < runs[r].end; k++) runOf[k] = r;
    if (runs.empty()) {
        result.verdict = kDetectStatic;
        return result;
    }
    const size_t pixels = (size_t)in.width * in.height;
    std::vector<float> often(pixels, 0);
    float runWeight = 0;
    for (const RunMarks& run : runs) {
        runWeight += run.weight;
        for (size_t p = 0; p < pixels; p++) often[p] += run.weight * run.marks[p];
    }
    std::vector<Component> firsts = FirstCandidates(often, runWeight, in.width, in.height);
    std::sort(firsts.begin(), firsts.end(),
              [](const Component& a, const Component& b) { return a.mass > b.mass; });
    if (firsts.size() > (size_t)kMaxRefined) firsts.resize(kMaxRefined);

    // Steps 4 and 5.
    std::vector<LogoCandidate> found;
    for (const Component& first : firsts) {
        Refined r = Refine(in, weights, runs, runOf, first);
        if (r.ok) found.push_back(std::move(r.candidate));
    }
    std::sort(found.begin(), found.end(),
              [](const LogoCandidate& a, const LogoCandidate& b) { return a.score > b.score; });
    // A candidate lying mostly within a better one is a part of it (the
    // mark on a plate), not a logo of its own.
    for (LogoCandidate& c : found) {
        bool repeated = false;
        Rect rc = {c.region.x, c.region.y, c.region.width, c.region.height};
        for (const LogoCandidate& kept : result.candidates) {
            Rect rk = {kept.region.x, kept.region.y, kept.region.width, kept.region.height};
            repeated |= Overlap(rc, rk) > 0.3 || ShareInside(rc, rk) > 0.5;
        }
        if (!repeated && (int)result.candidates.size() < maxCandidates)
            result.candidates.push_back(std::move(c));
    }
    result.verdict = result.candidates.empty() ? kDetectNothing : kDetectFound;
    return result;
}
