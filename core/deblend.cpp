// De-blending a translucent logo out of one plane: see deblend.h.
#include "deblend.h"

#include <math.h>
#include <string.h>

#include <algorithm>

// The width of the alpha band above the limit over which the patch is
// ramped in: wide enough that neighbouring samples of a soft logo edge
// change share gradually. Below the limit the picture is all recovered: the
// patch there would only smear what inverting gives back.
static const float kPatchRamp = 0.10f;

int32_t ReadSample(const SamplePlane& plane, int32_t x, int32_t y)
{
    const uint8_t* row = plane.data + y * plane.pitch;
    if (plane.bitDepth <= 8)
        return row[x];
    uint16_t v;
    memcpy(&v, row + 2 * (size_t)x, 2);
    return v;
}

void WriteSample(const SamplePlane& plane, int32_t x, int32_t y, int32_t value)
{
    uint8_t* row = plane.data + y * plane.pitch;
    if (plane.bitDepth <= 8) {
        row[x] = (uint8_t)value;
        return;
    }
    uint16_t v = (uint16_t)value;
    memcpy(row + 2 * (size_t)x, &v, 2);
}

float PatchShare(float alpha, float limit)
{
    if (alpha <= limit)
        return 0.0f;
    // The ramp ends at alpha 1 at the latest, where inverting has no answer.
    const float end = limit + kPatchRamp < 1.0f ? limit + kPatchRamp : 1.0f;
    return alpha >= end ? 1.0f : (alpha - limit) / (end - limit);
}

// The smallest box, in a width x height grid, holding every pixel whose
// alpha is taken; empty when none is.
template <typename Takes>
static PixelRect BoxWhere(int32_t width, int32_t height, const std::vector<float>& alpha, Takes takes)
{
    int32_t x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int32_t y = 0; y < height; y++)
        for (int32_t x = 0; x < width; x++)
            if (takes(alpha[(size_t)y * width + x])) {
                x0 = x < x0 ? x : x0;
                x1 = x > x1 ? x : x1;
                y0 = y < y0 ? y : y0;
                y1 = y > y1 ? y : y1;
            }
    if (x1 < 0)
        return PixelRect{ 0, 0, 0, 0 };
    return PixelRect{ x0, y0, x1 - x0 + 1, y1 - y0 + 1 };
}

PixelRect PatchedBox(const LogoModel& logo, float limit)
{
    const LogoPlane& luma = logo.planes[0];
    PixelRect box = BoxWhere(luma.box.width, luma.box.height, luma.alpha,
                             [limit](float a) { return PatchShare(a, limit) > 0.0f; });
    if (IsEmptyRect(box))
        return box;
    box.x += luma.box.x;
    box.y += luma.box.y;
    return box;
}

static int32_t RoundAndClip(double v, int32_t maxValue)
{
    if (!(v > 0.0))  // NaN included
        return 0;
    if (v >= maxValue)
        return maxValue;
    return (int32_t)floor(v + 0.5);
}

// Alpha and colour of the logo at a sample of the plane; alpha 0 outside
// the logo's box.
static float AlphaAt(const LogoPlane& logo, int32_t x, int32_t y, float* colour)
{
    const int32_t lx = x - logo.box.x, ly = y - logo.box.y;
    if (lx < 0 || ly < 0 || lx >= logo.box.width || ly >= logo.box.height)
        return 0.0f;
    const size_t i = (size_t)ly * logo.box.width + lx;
    *colour = logo.colour[i];
    return logo.alpha[i] > 0.0f ? logo.alpha[i] : 0.0f;
}

// How much of the patch the sample at x, y takes: its own PatchShare, or
// if more, the smaller share of two neighbours on opposite sides of it.
// The alpha learned for an opaque logo dips below the limit along the
// logo's own sharp edges, where the encoder's noise is larger; inverting
// such a sample gives back the logo's colour magnified, not the picture.
// A dip between two opaque samples is filled; the rim of a logo, which has
// opaque samples on one side only, is not, so no sample outside the box of
// those above the limit takes any of the patch.
static float SampleShare(const LogoPlane& logo, float limit, int32_t x, int32_t y)
{
    float colour;
    auto shareAt = [&](int32_t sx, int32_t sy) { return PatchShare(AlphaAt(logo, sx, sy, &colour), limit); };
    float share = shareAt(x, y);
    static const int32_t kSides[4][2] = { { 1, 0 }, { 0, 1 }, { 1, 1 }, { 1, -1 } };
    for (const auto& d : kSides)
        share = std::max(share, std::min(shareAt(x + d[0], y + d[1]), shareAt(x - d[0], y - d[1])));
    return share;
}

// The inverted blend over an area of the plane (the samples as they are
// where there is no logo), and at each sample (1 - alpha)^2: the inverse of
// the square of the factor the inversion multiplies the input's noise by;
// 0 where the patch has it all, as such a sample tells nothing of the
// picture.
struct RecoveredArea {
    PixelRect          area;
    std::vector<float> value;
    std::vector<float> weight;
};

static RecoveredArea Recover(const LogoPlane& logo, float limit, PixelRect area, const SamplePlane& plane)
{
    RecoveredArea r{ area, {}, {} };
    r.value.reserve((size_t)area.width * area.height);
    r.weight.reserve(r.value.capacity());
    const int32_t maxValue = MaxSample(plane);
    for (int32_t y = area.y; y < area.y + area.height; y++)
        for (int32_t x = area.x; x < area.x + area.width; x++) {
            float colour = 0.0f;
            const double a = AlphaAt(logo, x, y, &colour);
            const double observed = ReadSample(plane, x, y);
            if (SampleShare(logo, limit, x, y) >= 1.0f) {
                r.value.push_back((float)observed);
                r.weight.push_back(0.0f);
                continue;
            }
            // Inverting a blend of alpha 1 has no answer; the share is 1
            // long before that, so a is below 1 here.
            double value = (observed - a * colour) / (1.0 - a);
            // Clip before anything else: the inverted sample is a picture value.
            value = value < 0.0 ? 0.0 : value > maxValue ? maxValue : value;
            r.value.push_back((float)value);
            r.weight.push_back((float)((1.0 - a) * (1.0 - a)));
        }
    return r;
}

// How many spreads of their noise two samples may differ by and still be
// taken as the same picture: further apart, they are an edge, kept sharp.
static const double kSamePicture = 2.5;

// The inverted sample at x, y with the noise the inversion added taken back
// out: moved toward the mean of its 3x3 neighbours that lie within a few
// noise spreads of it, each weighed by how little noise it carries, by the
// share the added noise has of the added noise and the picture's own spread
// there. Where the logo is faint little noise was added and the sample
// stays as it is, so the logo's edge leaves no trace of smoothing.
static double Smoothed(const RecoveredArea& r, int32_t x, int32_t y, double noise)
{
    const int32_t w = r.area.width;
    const size_t centre = (size_t)(y - r.area.y) * w + (x - r.area.x);
    const double value = r.value[centre];
    const double variance = noise * noise / r.weight[centre];
    const double added = variance - noise * noise;
    if (!(added > 0.0))
        return value;
    double sum = 0.0, sumValues = 0.0, sumSquares = 0.0, sumNoise = 0.0;
    for (int32_t ny = y - 1; ny <= y + 1; ny++)
        for (int32_t nx = x - 1; nx <= x + 1; nx++) {
            if (nx < r.area.x || ny < r.area.y || nx >= r.area.x + w || ny >= r.area.y + r.area.height)
                continue;
            const size_t j = (size_t)(ny - r.area.y) * w + (nx - r.area.x);
            if (!(r.weight[j] > 0.0f))
                continue;
            const double neighbourVariance = noise * noise / r.weight[j];
            const double d = r.value[j] - value;
            if (d * d > kSamePicture * kSamePicture * (variance + neighbourVariance))
                continue;
            sum += r.weight[j];
            sumValues += r.weight[j] * r.value[j];
            sumSquares += r.weight[j] * r.value[j] * r.value[j];
            sumNoise += r.weight[j] * neighbourVariance;
        }
    // The centre always takes part, so sum is above 0.
    const double mean = sumValues / sum;
    const double spread = sumSquares / sum - mean * mean - sumNoise / sum;
    const double picture = spread > 0.0 ? spread : 0.0;
    return value + added / (added + picture) * (mean - value);
}

void DeblendPlane(const LogoPlane& logo, float limit, float noise, const SamplePlane* patched, const SamplePlane& plane)
{
    const PixelRect box = ClipRectToFrame(logo.box, plane.width, plane.height);
    if (IsEmptyRect(box))
        return;
    // The box and the samples around it, which smoothing reads.
    const PixelRect area =
        ClipRectToFrame(PixelRect{ box.x - 1, box.y - 1, box.width + 2, box.height + 2 }, plane.width, plane.height);
    const RecoveredArea recovered = Recover(logo, limit, area, plane);
    const int32_t maxValue = MaxSample(plane);
    for (int32_t y = box.y; y < box.y + box.height; y++)
        for (int32_t x = box.x; x < box.x + box.width; x++) {
            float colour = 0.0f;
            const float a = AlphaAt(logo, x, y, &colour);
            if (!(a > 0.0f))
                continue;
            const float share = SampleShare(logo, limit, x, y);
            double value = 0.0;
            if (share < 1.0f)
                value = noise > 0.0f ? Smoothed(recovered, x, y, noise)
                                     : recovered.value[(size_t)(y - area.y) * area.width + (x - area.x)];
            if (share > 0.0f && patched)
                value = share * ReadSample(*patched, x, y) + (1.0 - share) * value;
            WriteSample(plane, x, y, RoundAndClip(value, maxValue));
        }
}

// A sample less the mean of its 8 neighbours sees only the finest part of
// an encoder's error, most of which lies in whole transform blocks and
// comes back from the inversion as blotches a 3x3 neighbourhood still
// averages away. Against photographs coded with x264 (CRF 18), de-blended
// and held against their clean originals, the smoothing removes the most
// error when it takes the noise as this many times what the finest
// residuals show.
static const float kCodingNoisePerResidual = 5.0f;

float NoiseAround(const SamplePlane& plane, PixelRect box)
{
    // A ring this many samples wide around the box: wide enough for a
    // steady median, near enough to be coded like the logo's part.
    const int32_t ring = 8;
    std::vector<float> residuals;
    const PixelRect around = ClipRectToFrame(
        PixelRect{ box.x - ring - 1, box.y - ring - 1, box.width + 2 * ring + 2, box.height + 2 * ring + 2 },
        plane.width, plane.height);
    for (int32_t y = around.y + 1; y < around.y + around.height - 1; y++)
        for (int32_t x = around.x + 1; x < around.x + around.width - 1; x++) {
            if (x >= box.x - 1 && x <= box.x + box.width && y >= box.y - 1 && y <= box.y + box.height)
                continue;  // its neighbours reach under the logo
            int32_t neighbours = -ReadSample(plane, x, y);
            for (int32_t dy = -1; dy <= 1; dy++)
                for (int32_t dx = -1; dx <= 1; dx++)
                    neighbours += ReadSample(plane, x + dx, y + dy);
            residuals.push_back(fabsf((float)(8 * ReadSample(plane, x, y) - neighbours)) / 8.0f);
        }
    if (residuals.empty())
        return 0.0f;
    std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
    // For noise of spread s, a sample less the mean of its 8 neighbours
    // spreads s * sqrt(9 / 8), and half of its sizes lie below 0.6745 times
    // that.
    return kCodingNoisePerResidual * residuals[residuals.size() / 2] / (0.6745f * 1.0607f);
}

LogoModel LogoFromPixels(int32_t width, int32_t height, int32_t chromaShiftX, int32_t chromaShiftY, int32_t planeCount,
                         const std::vector<float>& alpha, const std::vector<float> colour[3])
{
    LogoModel logo{};
    logo.frameWidth = width;
    logo.frameHeight = height;
    logo.chromaShiftX = chromaShiftX;
    logo.chromaShiftY = chromaShiftY;
    logo.planeCount = planeCount;

    const PixelRect box = BoxWhere(width, height, alpha, [](float a) { return a > 0.0f; });
    LogoPlane& luma = logo.planes[0];
    luma.box = box;
    luma.alpha.resize((size_t)box.width * (box.height > 0 ? box.height : 0));
    luma.colour.resize(luma.alpha.size());
    for (int32_t y = 0; y < box.height; y++)
        for (int32_t x = 0; x < box.width; x++) {
            const size_t from = (size_t)(box.y + y) * width + box.x + x;
            luma.alpha[(size_t)y * box.width + x] = alpha[from];
            luma.colour[(size_t)y * box.width + x] = colour[0][from];
        }

    // Each chroma sample covers the pixels of its cell of the grid; the
    // chroma box is the luma box rounded out to whole cells.
    const int32_t cellW = 1 << chromaShiftX, cellH = 1 << chromaShiftY;
    const PixelRect cbox = RectOnSubsampledPlane(box, chromaShiftX, chromaShiftY);
    for (int32_t p = 1; p < planeCount; p++) {
        LogoPlane& chroma = logo.planes[p];
        chroma.box = cbox;
        chroma.alpha.assign((size_t)cbox.width * (cbox.height > 0 ? cbox.height : 0), 0.0f);
        chroma.colour.assign(chroma.alpha.size(), 0.0f);
        for (int32_t cy = 0; cy < cbox.height; cy++)
            for (int32_t cx = 0; cx < cbox.width; cx++) {
                double alphaSum = 0.0, colourSum = 0.0;
                int32_t covered = 0;
                for (int32_t dy = 0; dy < cellH; dy++)
                    for (int32_t dx = 0; dx < cellW; dx++) {
                        const int32_t x = ((cbox.x + cx) << chromaShiftX) + dx;
                        const int32_t y = ((cbox.y + cy) << chromaShiftY) + dy;
                        if (x >= width || y >= height)
                            continue;  // a cell cut by the frame's edge
                        const size_t i = (size_t)y * width + x;
                        covered++;
                        alphaSum += alpha[i];
                        colourSum += alpha[i] * colour[p][i];
                    }
                const size_t i = (size_t)cy * cbox.width + cx;
                chroma.alpha[i] = covered ? (float)(alphaSum / covered) : 0.0f;
                chroma.colour[i] = alphaSum > 0.0 ? (float)(colourSum / alphaSum) : 0.0f;
            }
    }
    return logo;
}
