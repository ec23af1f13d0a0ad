// De-blending a translucent logo out of one plane: see deblend.h.
#include "deblend.h"

#include <math.h>
#include <string.h>

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

void DeblendPlane(const LogoPlane& logo, float limit, const SamplePlane* patched, const SamplePlane& plane)
{
    const PixelRect box = ClipRectToFrame(logo.box, plane.width, plane.height);
    const int32_t maxValue = MaxSample(plane);
    for (int32_t y = box.y; y < box.y + box.height; y++)
        for (int32_t x = box.x; x < box.x + box.width; x++) {
            const size_t i = (size_t)(y - logo.box.y) * logo.box.width + (x - logo.box.x);
            const double a = logo.alpha[i];
            if (!(a > 0.0))
                continue;
            const float share = PatchShare((float)a, limit);
            double value = 0.0;
            if (share < 1.0f) {
                // Inverting a blend of alpha 1 has no answer; the share is 1
                // long before that, so a is below 1 here.
                const double observed = ReadSample(plane, x, y);
                value = (observed - a * logo.colour[i]) / (1.0 - a);
                // Clip before mixing: the inverted sample is a picture value.
                value = value < 0.0 ? 0.0 : value > maxValue ? maxValue : value;
            }
            if (share > 0.0f && patched)
                value = share * ReadSample(*patched, x, y) + (1.0 - share) * value;
            WriteSample(plane, x, y, RoundAndClip(value, maxValue));
        }
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
