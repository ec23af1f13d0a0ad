#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <random>
#include <vector>

#include "deblend.h"

namespace {

// A plane with guard samples all round it, so that writes outside the
// plane show.
struct TestPlane {
    int32_t width, height, bitDepth;
    std::vector<uint8_t> bytes;

    TestPlane(int32_t w, int32_t h, int32_t depth) : width(w), height(h), bitDepth(depth)
    {
        bytes.assign((size_t)(w + 2) * (h + 2) * 2, 0xA5);
    }
    SamplePlane View()
    {
        const ptrdiff_t pitch = (ptrdiff_t)(width + 2) * 2;
        const int bps = bitDepth <= 8 ? 1 : 2;
        return SamplePlane{ bytes.data() + pitch + bps, pitch, width, height, bitDepth };
    }
};

// A logo over box: alpha drawn from [lo, hi], colour anywhere in range,
// with a ring of alpha 0 left inside the box.
LogoPlane RandomLogo(PixelRect box, float lo, float hi, int32_t maxValue, std::mt19937* rng)
{
    LogoPlane logo{ box, {}, {} };
    std::uniform_real_distribution<float> alpha(lo, hi), colour(0.0f, (float)maxValue);
    for (int32_t y = 0; y < box.height; y++)
        for (int32_t x = 0; x < box.width; x++) {
            bool edge = x == 0 || y == 0 || x == box.width - 1 || y == box.height - 1;
            logo.alpha.push_back(edge ? 0.0f : alpha(*rng));
            logo.colour.push_back(colour(*rng));
        }
    return logo;
}

// Blends the logo over the plane's picture as an encoder would see it:
// exactly, then rounded to a sample.
void Blend(const LogoPlane& logo, const SamplePlane& plane)
{
    for (int32_t y = 0; y < logo.box.height; y++)
        for (int32_t x = 0; x < logo.box.width; x++) {
            size_t i = (size_t)y * logo.box.width + x;
            double a = logo.alpha[i];
            double v = a * logo.colour[i] + (1 - a) * ReadSample(plane, logo.box.x + x, logo.box.y + y);
            WriteSample(plane, logo.box.x + x, logo.box.y + y, (int32_t)floor(v + 0.5));
        }
}

// A known alpha and colour over random pictures comes back to within the
// rounding of the blend (half a sample, magnified by 1 / (1 - alpha)) plus
// the rounding of the result; every byte outside the logo, the guard ring
// included, is untouched. 8-bit and 10-bit planes.
TEST(Deblend, RecoversThePictureToWithinRounding)
{
    std::mt19937 rng(20);
    for (int32_t depth : { 8, 10, 16 }) {
        const int32_t maxValue = (1 << depth) - 1;
        for (int round = 0; round < 20; round++) {
            TestPlane picture(37, 23, depth);
            SamplePlane view = picture.View();
            std::uniform_int_distribution<int32_t> sample(0, maxValue);
            for (int32_t y = 0; y < view.height; y++)
                for (int32_t x = 0; x < view.width; x++)
                    WriteSample(view, x, y, sample(rng));
            const std::vector<uint8_t> original = picture.bytes;

            LogoPlane logo = RandomLogo(PixelRect{ 3 + round % 5, 2, 25, 15 }, 0.0f, 0.8f, maxValue, &rng);
            Blend(logo, view);
            DeblendPlane(logo, 0.85f, 0.0f, nullptr, view);

            TestPlane before(37, 23, depth);
            before.bytes = original;
            for (int32_t y = -1; y <= view.height; y++)
                for (int32_t x = -1; x <= view.width; x++) {
                    const uint8_t* now = view.data + y * view.pitch + (depth > 8 ? 2 : 1) * x;
                    const uint8_t* was = before.View().data + y * view.pitch + (depth > 8 ? 2 : 1) * x;
                    float a = 0.0f;
                    int32_t lx = x - logo.box.x, ly = y - logo.box.y;
                    if (lx >= 0 && ly >= 0 && lx < logo.box.width && ly < logo.box.height)
                        a = logo.alpha[(size_t)ly * logo.box.width + lx];
                    if (a == 0.0f) {
                        ASSERT_EQ(0, memcmp(now, was, depth > 8 ? 2 : 1)) << depth << " at " << x << "," << y;
                        continue;
                    }
                    int32_t err = abs(ReadSample(view, x, y) - ReadSample(before.View(), x, y));
                    ASSERT_LE(err, (int32_t)ceil(0.5 / (1 - a) + 0.5)) << depth << " alpha " << a;
                }
        }
    }
}

// Up to the limit the sample is the recovered picture; across a band above
// it the result moves gradually to the patch, which has it all by alpha 1,
// so a soft logo edge leaves no seam: one step of alpha never moves the
// result by more than its share of the gap.
TEST(Deblend, PatchTakesOverWithoutASeam)
{
    const int32_t steps = 200;
    TestPlane picture(steps, 1, 8), patch(steps, 1, 8);
    SamplePlane view = picture.View(), patched = patch.View();
    LogoPlane logo{ PixelRect{ 0, 0, steps, 1 }, {}, {} };
    for (int32_t x = 0; x < steps; x++) {
        logo.alpha.push_back(0.6f + 0.4f * x / (steps - 1));
        logo.colour.push_back(200.0f);
        WriteSample(patched, x, 0, 60);
        WriteSample(view, x, 0, 100);  // the picture under the logo, before blending
    }
    Blend(logo, view);
    DeblendPlane(logo, 0.85f, 0.0f, &patched, view);
    int32_t previous = ReadSample(view, 0, 0);
    EXPECT_NEAR(previous, 100, 1);
    for (int32_t x = 1; x < steps; x++) {
        int32_t now = ReadSample(view, x, 0);
        if (logo.alpha[x] >= 0.95f)
            EXPECT_EQ(now, 60);
        else if (logo.alpha[x] <= 0.85f)
            EXPECT_NEAR(now, 100, ceil(0.5 / (1 - logo.alpha[x]) + 0.5));
        EXPECT_LE(abs(now - previous), 6) << "at alpha " << logo.alpha[x];
        previous = now;
    }
}

// An opaque plate whose learned alpha dips below the limit along a line
// (as it does along the logo's own sharp edges, where the encoder's noise is
// larger) is the patch there too, not the logo's colour magnified; the
// translucent samples beside it are still recovered.
TEST(Deblend, DipsInAnOpaqueLogoAreThePatch)
{
    const int32_t w = 12, h = 8;
    TestPlane picture(w, h, 8), patch(w, h, 8);
    SamplePlane view = picture.View(), patched = patch.View();
    LogoPlane logo{ PixelRect{ 0, 0, w, h }, {}, {} };
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++) {
            const bool opaque = x < 6, dip = x < 6 && y == 3;
            logo.alpha.push_back(dip ? 0.78f : opaque ? 0.99f : 0.5f);
            logo.colour.push_back(200.0f);
            WriteSample(view, x, y, 100);
            WriteSample(patched, x, y, 60);
        }
    Blend(logo, view);
    DeblendPlane(logo, 0.85f, 0.0f, &patched, view);
    for (int32_t y = 0; y < h; y++) {
        for (int32_t x = 0; x < 6; x++)
            EXPECT_EQ(ReadSample(view, x, y), 60) << x << "," << y;
        for (int32_t x = 6; x < w; x++)
            EXPECT_NEAR(ReadSample(view, x, y), 100, 1) << x << "," << y;
    }
}

// A logo blended at full resolution and then subsampled, as an encoder
// sees it, is the chroma model's blend: averaging alpha * colour and
// (1 - alpha) * picture over a cell of flat picture gives the cell's alpha
// and its alpha-weighted colour. Also: a cell cut by an odd frame edge, and
// an all-transparent logo, which has an empty box.
TEST(Deblend, ChromaModelIsTheSubsampledBlend)
{
    std::mt19937 rng(7);
    const int32_t w = 13, h = 9;
    std::vector<float> alpha((size_t)w * h, 0.0f);
    std::vector<float> colour[3];
    for (auto& c : colour) c.assign(alpha.size(), 0.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int32_t y = 3; y < h; y++)
        for (int32_t x = 5; x < w; x++) {
            size_t i = (size_t)y * w + x;
            alpha[i] = unit(rng) * 0.8f;
            for (auto& c : colour) c[i] = 255.0f * unit(rng);
        }
    LogoModel logo = LogoFromPixels(w, h, 1, 1, 3, alpha, colour);
    EXPECT_EQ(logo.planes[0].box.x, 5);
    EXPECT_EQ(logo.planes[0].box.width, 8);
    EXPECT_EQ(logo.planes[1].box.x, 2);
    EXPECT_EQ(logo.planes[1].box.y, 1);
    EXPECT_EQ(logo.planes[1].box.width, 5);
    EXPECT_EQ(logo.planes[1].box.height, 4);

    const double flat = 90.0;
    const LogoPlane& u = logo.planes[1];
    for (int32_t cy = 0; cy < u.box.height; cy++)
        for (int32_t cx = 0; cx < u.box.width; cx++) {
            double sum = 0.0;
            int n = 0;
            for (int dy = 0; dy < 2; dy++)
                for (int dx = 0; dx < 2; dx++) {
                    int32_t x = 2 * (u.box.x + cx) + dx, y = 2 * (u.box.y + cy) + dy;
                    if (x >= w || y >= h) continue;
                    size_t i = (size_t)y * w + x;
                    sum += alpha[i] * colour[1][i] + (1 - alpha[i]) * flat;
                    n++;
                }
            size_t i = (size_t)cy * u.box.width + cx;
            double model = u.alpha[i] * u.colour[i] + (1 - u.alpha[i]) * flat;
            EXPECT_NEAR(model, sum / n, 1e-3);
        }

    std::vector<float> none((size_t)w * h, 0.0f);
    LogoModel empty = LogoFromPixels(w, h, 1, 1, 3, none, colour);
    EXPECT_TRUE(IsEmptyRect(empty.planes[0].box));
    EXPECT_TRUE(empty.planes[1].alpha.empty());
    EXPECT_TRUE(IsEmptyRect(PatchedBox(empty, 0.85f)));
    EXPECT_TRUE(IsEmptyRect(PatchedBox(logo, 0.85f)));  // every alpha is below 0.8
    alpha[(size_t)4 * w + 7] = alpha[(size_t)6 * w + 9] = 0.9f;
    const PixelRect opaque = PatchedBox(LogoFromPixels(w, h, 1, 1, 3, alpha, colour), 0.85f);
    EXPECT_EQ(opaque.x, 7);
    EXPECT_EQ(opaque.y, 4);
    EXPECT_EQ(opaque.width, 3);
    EXPECT_EQ(opaque.height, 3);
}

// Noise laid over a blended picture, as an encoder leaves it, comes back
// from the inversion multiplied by 1 / (1 - alpha). Smoothing takes much
// of it back out, but keeps an edge of the picture where it is and leaves
// every sample outside the logo alone; the ring's noise reads 0 on a clean
// smooth picture, so nothing is smoothed there.
TEST(Deblend, SmoothingTakesOutTheAddedNoiseButKeepsEdges)
{
    const int32_t w = 64, h = 40, edgeX = 32;
    TestPlane clean(w, h, 8);
    SamplePlane picture = clean.View();
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)  // a ramp with a step of 100 in it
            WriteSample(picture, x, y, 20 + x + y + (x >= edgeX ? 100 : 0));
    LogoPlane logo{ PixelRect{ 12, 10, 40, 20 }, {}, {} };
    for (int32_t i = 0; i < logo.box.width * logo.box.height; i++) {
        logo.alpha.push_back(0.75f);
        logo.colour.push_back(230.0f);
    }
    EXPECT_EQ(NoiseAround(picture, logo.box), 0.0f);

    TestPlane noisy = clean;
    SamplePlane observed = noisy.View();
    Blend(logo, observed);
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int32_t y = 0; y < h; y++)
        for (int32_t x = 0; x < w; x++)
            WriteSample(observed, x, y, (int32_t)lround(fmin(255, fmax(0, ReadSample(observed, x, y) + noise(rng)))));
    EXPECT_GT(NoiseAround(observed, logo.box), 0.0f);

    TestPlane plain = noisy, smoothed = noisy;
    DeblendPlane(logo, 0.85f, 0.0f, nullptr, plain.View());
    DeblendPlane(logo, 0.85f, 1.5f, nullptr, smoothed.View());
    double plainSquares = 0.0, smoothSquares = 0.0, edgeError = 0.0;
    int32_t edgeCount = 0;
    for (int32_t y = -1; y <= h; y++)
        for (int32_t x = -1; x <= w; x++) {
            const bool under = x >= logo.box.x && y >= logo.box.y && x < logo.box.x + logo.box.width &&
                               y < logo.box.y + logo.box.height;
            const ptrdiff_t at = (y + 1) * (ptrdiff_t)(w + 2) * 2 + (x + 1);
            if (!under) {
                ASSERT_EQ(smoothed.bytes[at], noisy.bytes[at]) << x << "," << y;
                continue;
            }
            const double truth = ReadSample(picture, x, y);
            plainSquares += pow(ReadSample(plain.View(), x, y) - truth, 2);
            const double error = ReadSample(smoothed.View(), x, y) - truth;
            smoothSquares += error * error;
            if (x == edgeX - 1 || x == edgeX) {
                edgeError += fabs(error);
                edgeCount++;
            }
        }
    EXPECT_LT(smoothSquares, 0.3 * plainSquares);
    // Beside the step, smoothing across it errs as much as the plain
    // inversion (4.8 on average here); within the picture's edge, it does
    // not.
    EXPECT_LT(edgeError / edgeCount, 3.0);
}

}  // namespace
