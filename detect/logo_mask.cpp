// Learning a translucent logo from the frames that carry it: see
// logo_mask.h.
#include "logo_mask.h"

#include <math.h>
#include <stdlib.h>

#include <algorithm>

namespace {

// Luma pixels of picture kept around the rectangle: the picture's
// statistics there are what the fill starts from.
const int32_t kMargin = 4;
// The spread of N frames is known to within about 1 / sqrt(2 N) of itself,
// and so alpha to within that much. The first pass calls a sample the
// logo's where the mean alpha of it and its 8 neighbours is above
// kLogoFound times that (and at least kLogoFoundLeast), then widens the
// logo by kLogoWiden pixels so its soft edges are fitted too. A fitted alpha
// below the noise is taken for picture.
const double kLogoFound = 2.5;
const double kLogoFoundLeast = 0.10;
const int32_t kLogoWiden = 2;
// Alphas are smoothed over the samples within this many pixels whose alpha
// is within kSameAlpha times the noise (and at least kSameAlphaLeast) of the
// sample's own: a plate's flat alpha loses the fit's noise, a logo's edges
// stay where they are.
const int32_t kSmoothRadius = 2;
const double kSameAlpha = 1.5;
const double kSameAlphaLeast = 0.06;
// Mean absolute luma difference (in 8-bit levels) below which a frame is
// the last one taken again.
const double kStillPicture = 1.0;

PixelRect Widen(PixelRect r, int32_t by) { return PixelRect{ r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by }; }

// Fills the samples marked unknown with the smoothest surface through the
// known ones (each unknown sample the mean of its four neighbours inside the
// area): successive over-relaxation, which settles within about as many
// sweeps as the area is long. Known samples stay as they are.
void FillSmoothly(std::vector<double>* values, const std::vector<uint8_t>& unknown, int32_t w, int32_t h)
{
    double knownSum = 0.0;
    size_t knownCount = 0;
    for (size_t i = 0; i < unknown.size(); i++)
        if (!unknown[i]) {
            knownSum += (*values)[i];
            knownCount++;
        }
    if (knownCount == 0)
        return;  // nothing to fill from: the caller's rectangle covers its whole area
    for (size_t i = 0; i < unknown.size(); i++)
        if (unknown[i])
            (*values)[i] = knownSum / knownCount;

    const double pi = 3.14159265358979323846;
    const double omega = 2.0 / (1.0 + sin(pi / (std::max(w, h) + 1)));
    const int maxSweeps = 4 * std::max(w, h) + 100;
    std::vector<double>& v = *values;
    for (int sweep = 0; sweep < maxSweeps; sweep++) {
        double largest = 0.0;
        for (int32_t y = 0; y < h; y++)
            for (int32_t x = 0; x < w; x++) {
                const size_t i = (size_t)y * w + x;
                if (!unknown[i])
                    continue;
                double sum = 0.0;
                int n = 0;
                if (x > 0) { sum += v[i - 1]; n++; }
                if (x + 1 < w) { sum += v[i + 1]; n++; }
                if (y > 0) { sum += v[i - w]; n++; }
                if (y + 1 < h) { sum += v[i + w]; n++; }
                const double change = omega * (sum / n - v[i]);
                v[i] += change;
                largest = std::max(largest, fabs(change));
            }
        if (largest < 1e-4)
            break;
    }
}

// One plane's mean and spread per sample of its area.
struct PlaneMoments {
    std::vector<double> mean, spread;
};

PlaneMoments MomentsOf(const LogoLearner::PlaneSums& sums, int64_t frames)
{
    PlaneMoments m;
    m.mean.resize(sums.sum.size());
    m.spread.resize(sums.sum.size());
    for (size_t i = 0; i < sums.sum.size(); i++) {
        const double mean = sums.sum[i] / frames;
        m.mean[i] = mean;
        m.spread[i] = sqrt(std::max(0.0, sums.sumSquares[i] / frames - mean * mean));
    }
    return m;
}

// Alpha per sample of the area where unknown is set: one minus the ratio of
// the observed spread to the picture's spread filled in from the known
// samples; 0 elsewhere. Also gives the picture's filled-in mean.
std::vector<double> FitAlpha(const PlaneMoments& m, const std::vector<uint8_t>& unknown, int32_t w, int32_t h,
                             std::vector<double>* pictureMean)
{
    std::vector<double> pictureSpread = m.spread;
    *pictureMean = m.mean;
    FillSmoothly(&pictureSpread, unknown, w, h);
    FillSmoothly(pictureMean, unknown, w, h);
    std::vector<double> alpha(unknown.size(), 0.0);
    for (size_t i = 0; i < unknown.size(); i++)
        if (unknown[i] && pictureSpread[i] > 0.0)
            alpha[i] = std::min(1.0, std::max(0.0, 1.0 - m.spread[i] / pictureSpread[i]));
    return alpha;
}

// Each marked sample's value as the mean of the marked samples within
// kSmoothRadius whose value is within `alike` of its own.
std::vector<double> SmoothAlike(const std::vector<double>& values, const std::vector<uint8_t>& marked, int32_t w,
                                int32_t h, double alike)
{
    std::vector<double> out = values;
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            if (!marked[i])
                continue;
            double sum = 0.0;
            int n = 0;
            for (int32_t dy = -kSmoothRadius; dy <= kSmoothRadius; dy++)
                for (int32_t dx = -kSmoothRadius; dx <= kSmoothRadius; dx++) {
                    const int32_t nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                        continue;
                    const size_t j = (size_t)ny * w + nx;
                    if (marked[j] && fabs(values[j] - values[i]) <= alike) {
                        sum += values[j];
                        n++;
                    }
                }
            out[i] = sum / n;
        }
    return out;
}

// The logo's colour where alpha is above 0: the observed mean less the
// picture's share, over alpha, kept within the plane's range.
float ColourOf(double alpha, double observedMean, double pictureMean, int32_t maxValue)
{
    if (alpha <= 0.0)
        return 0.0f;
    const double c = (observedMean - (1.0 - alpha) * pictureMean) / alpha;
    return (float)std::min((double)maxValue, std::max(0.0, c));
}

}  // namespace

void StartLogoLearning(LogoLearner* learner, PixelRect rect, int32_t frameWidth, int32_t frameHeight,
                       int32_t chromaShiftX, int32_t chromaShiftY, int32_t planeCount, int32_t bitDepth)
{
    *learner = LogoLearner{};
    learner->rect = ClipRectToFrame(rect, frameWidth, frameHeight);
    learner->frameWidth = frameWidth;
    learner->frameHeight = frameHeight;
    learner->chromaShiftX = chromaShiftX;
    learner->chromaShiftY = chromaShiftY;
    learner->planeCount = planeCount;
    learner->bitDepth = bitDepth;
    if (IsEmptyRect(learner->rect))
        return;
    const PixelRect area = ClipRectToFrame(Widen(learner->rect, kMargin), frameWidth, frameHeight);
    for (int32_t p = 0; p < planeCount; p++) {
        LogoLearner::PlaneSums& s = learner->planes[p];
        s.area = p == 0 ? area : RectOnSubsampledPlane(area, chromaShiftX, chromaShiftY);
        s.sum.assign((size_t)s.area.width * s.area.height, 0.0);
        s.sumSquares.assign(s.sum.size(), 0.0);
    }
}

bool AddLogoSample(LogoLearner* learner, const SamplePlane* planes)
{
    if (IsEmptyRect(learner->rect))
        return false;
    const LogoLearner::PlaneSums& lumaSums = learner->planes[0];
    std::vector<int32_t> luma;
    luma.reserve(lumaSums.sum.size());
    for (int32_t y = 0; y < lumaSums.area.height; y++)
        for (int32_t x = 0; x < lumaSums.area.width; x++)
            luma.push_back(ReadSample(planes[0], lumaSums.area.x + x, lumaSums.area.y + y));
    if (!learner->lastLuma.empty()) {
        double difference = 0.0;
        for (size_t i = 0; i < luma.size(); i++)
            difference += abs(luma[i] - learner->lastLuma[i]);
        const double levels = difference / luma.size() / (1 << (learner->bitDepth - 8));
        if (levels < kStillPicture)
            return false;
    }
    learner->lastLuma.swap(luma);

    for (int32_t p = 0; p < learner->planeCount; p++) {
        LogoLearner::PlaneSums& s = learner->planes[p];
        for (int32_t y = 0; y < s.area.height; y++)
            for (int32_t x = 0; x < s.area.width; x++) {
                const double v = ReadSample(planes[p], s.area.x + x, s.area.y + y);
                const size_t i = (size_t)y * s.area.width + x;
                s.sum[i] += v;
                s.sumSquares[i] += v * v;
            }
    }
    learner->frames++;
    return true;
}

LogoModel LearnedLogo(const LogoLearner& learner)
{
    const int32_t fw = learner.frameWidth, fh = learner.frameHeight;
    const int32_t maxValue = (1 << learner.bitDepth) - 1;
    std::vector<float> alpha((size_t)fw * fh, 0.0f);
    std::vector<float> colour[3];
    for (int32_t p = 0; p < learner.planeCount; p++)
        colour[p].assign(alpha.size(), 0.0f);
    if (IsEmptyRect(learner.rect) || learner.frames == 0)
        return LogoFromPixels(fw, fh, learner.chromaShiftX, learner.chromaShiftY, learner.planeCount, alpha, colour);

    // Luma: which samples are the logo's, then their alpha and colour.
    const LogoLearner::PlaneSums& ls = learner.planes[0];
    const int32_t w = ls.area.width, h = ls.area.height;
    const PlaneMoments lm = MomentsOf(ls, learner.frames);
    auto insideRect = [&](int32_t x, int32_t y) {
        const int32_t fx = ls.area.x + x, fy = ls.area.y + y;
        return fx >= learner.rect.x && fy >= learner.rect.y && fx < RectRight(learner.rect) &&
               fy < RectBottom(learner.rect);
    };
    std::vector<uint8_t> unknown((size_t)w * h, 0);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)
            unknown[(size_t)y * w + x] = insideRect(x, y);
    std::vector<double> pictureMean;
    const std::vector<double> firstAlpha = FitAlpha(lm, unknown, w, h, &pictureMean);

    const double noise = 1.0 / sqrt(2.0 * learner.frames);
    const double found = std::max(kLogoFoundLeast, kLogoFound * noise);
    std::vector<uint8_t> seen((size_t)w * h, 0);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            double sum = 0.0;
            int n = 0;
            for (int32_t dy = -1; dy <= 1; dy++)
                for (int32_t dx = -1; dx <= 1; dx++)
                    if (x + dx >= 0 && y + dy >= 0 && x + dx < w && y + dy < h) {
                        sum += firstAlpha[(size_t)(y + dy) * w + x + dx];
                        n++;
                    }
            seen[(size_t)y * w + x] = sum / n > found;
        }
    std::vector<uint8_t> logo((size_t)w * h, 0);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            if (!insideRect(x, y))
                continue;
            bool near = false;
            for (int32_t dy = -kLogoWiden; dy <= kLogoWiden && !near; dy++)
                for (int32_t dx = -kLogoWiden; dx <= kLogoWiden && !near; dx++) {
                    const int32_t nx = x + dx, ny = y + dy;
                    near = nx >= 0 && ny >= 0 && nx < w && ny < h && seen[(size_t)ny * w + nx];
                }
            logo[(size_t)y * w + x] = near;
        }
    const std::vector<double> fitted = FitAlpha(lm, logo, w, h, &pictureMean);
    const std::vector<double> lumaAlpha = SmoothAlike(fitted, logo, w, h, std::max(kSameAlphaLeast, kSameAlpha * noise));
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            const double a = lumaAlpha[i] >= noise ? lumaAlpha[i] : 0.0;
            const size_t f = (size_t)(ls.area.y + y) * fw + ls.area.x + x;
            alpha[f] = (float)a;
            colour[0][f] = ColourOf(a, lm.mean[i], pictureMean[i], maxValue);
        }

    // Chroma: alpha from luma (the model's cell mean), colour fitted on the
    // chroma grid and given to every pixel of the cell.
    LogoModel lumaOnly = LogoFromPixels(fw, fh, learner.chromaShiftX, learner.chromaShiftY, learner.planeCount,
                                        alpha, colour);
    for (int32_t p = 1; p < learner.planeCount; p++) {
        const LogoLearner::PlaneSums& cs = learner.planes[p];
        const LogoPlane& cp = lumaOnly.planes[p];
        const int32_t cw = cs.area.width, ch = cs.area.height;
        auto cellAlpha = [&](int32_t x, int32_t y) {
            const int32_t bx = cs.area.x + x - cp.box.x, by = cs.area.y + y - cp.box.y;
            if (bx < 0 || by < 0 || bx >= cp.box.width || by >= cp.box.height)
                return 0.0;
            return (double)cp.alpha[(size_t)by * cp.box.width + bx];
        };
        const PlaneMoments cm = MomentsOf(cs, learner.frames);
        std::vector<uint8_t> under((size_t)cw * ch, 0);
        for (int32_t y = 0; y < ch; y++)
            for (int32_t x = 0; x < cw; x++)
                under[(size_t)y * cw + x] = cellAlpha(x, y) > 0.0;
        std::vector<double> chromaMean = cm.mean;
        FillSmoothly(&chromaMean, under, cw, ch);
        for (int32_t y = 0; y < ch; y++)
            for (int32_t x = 0; x < cw; x++) {
                const size_t i = (size_t)y * cw + x;
                if (!under[i])
                    continue;
                const float c = ColourOf(cellAlpha(x, y), cm.mean[i], chromaMean[i], maxValue);
                for (int32_t dy = 0; dy < (1 << learner.chromaShiftY); dy++)
                    for (int32_t dx = 0; dx < (1 << learner.chromaShiftX); dx++) {
                        const int32_t fx = ((cs.area.x + x) << learner.chromaShiftX) + dx;
                        const int32_t fy = ((cs.area.y + y) << learner.chromaShiftY) + dy;
                        if (fx < fw && fy < fh)
                            colour[p][(size_t)fy * fw + fx] = c;
                    }
            }
    }
    return LogoFromPixels(fw, fh, learner.chromaShiftX, learner.chromaShiftY, learner.planeCount, alpha, colour);
}
