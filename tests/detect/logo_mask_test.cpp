#include <gtest/gtest.h>

#include <math.h>

#include <random>
#include <vector>

#include "deblend.h"
#include "logo_mask.h"

namespace {

const int32_t kW = 96, kH = 64;  // 4:2:0 frames

// A smooth random picture much larger than the frame, so that frames cut
// from it at random places show a different picture each time.
struct Texture {
    int32_t size;
    std::vector<double> v;
};

Texture SmoothTexture(int32_t size, double lo, double hi, std::mt19937* rng)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Texture t{ size, std::vector<double>((size_t)size * size) };
    for (double& x : t.v) x = unit(*rng);
    // Three box blurs across and down: a picture with soft edges and detail
    // of a few pixels, like a photograph seen small.
    for (int pass = 0; pass < 3; pass++)
        for (int across = 0; across < 2; across++) {
            std::vector<double> out(t.v.size());
            for (int32_t y = 0; y < size; y++)
                for (int32_t x = 0; x < size; x++) {
                    double s = 0.0;
                    for (int32_t d = -2; d <= 2; d++) {
                        int32_t xx = across ? (x + d + size) % size : x, yy = across ? y : (y + d + size) % size;
                        s += t.v[(size_t)yy * size + xx];
                    }
                    out[(size_t)y * size + x] = s / 5;
                }
            t.v.swap(out);
        }
    double mn = 1e9, mx = -1e9;
    for (double x : t.v) { mn = std::min(mn, x); mx = std::max(mx, x); }
    for (double& x : t.v) x = lo + (hi - lo) * (x - mn) / (mx - mn);
    return t;
}

struct Frame {
    int32_t depth;
    std::vector<uint16_t> store[3];
    SamplePlane planes[3];

    explicit Frame(int32_t bitDepth) : depth(bitDepth)
    {
        for (int p = 0; p < 3; p++) {
            int32_t w = p ? kW / 2 : kW, h = p ? kH / 2 : kH;
            store[p].assign((size_t)w * h, 0);
            const int bps = depth > 8 ? 2 : 1;
            planes[p] = SamplePlane{ (uint8_t*)store[p].data(), (ptrdiff_t)w * bps, w, h, depth };
        }
    }
};

// A plate of alpha 0.45 with a bar of alpha 0.75 and another colour in it,
// and a soft-edged dot of up to 0.3 beside it: a translucent channel logo.
LogoModel TrueLogo(int32_t depth)
{
    const double scale = (1 << (depth - 8));
    std::vector<float> alpha((size_t)kW * kH, 0.0f), colour[3];
    for (auto& c : colour) c.assign(alpha.size(), 0.0f);
    for (int32_t y = 0; y < kH; y++)
        for (int32_t x = 0; x < kW; x++) {
            size_t i = (size_t)y * kW + x;
            double a = 0.0, yc = 0, uc = 0, vc = 0;
            if (x >= 20 && x < 61 && y >= 17 && y < 38) {
                a = 0.45; yc = 210; uc = 100; vc = 150;
                if (y >= 25 && y < 30 && x >= 26 && x < 55) { a = 0.75; yc = 40; uc = 160; vc = 110; }
            }
            double r = hypot(x - 72.5, y - 27.5);
            if (r < 6) { a = 0.3 * std::min(1.0, (6 - r) / 2); yc = 235; uc = 128; vc = 128; }
            alpha[i] = (float)a;
            colour[0][i] = (float)(yc * scale);
            colour[1][i] = (float)(uc * scale);
            colour[2][i] = (float)(vc * scale);
        }
    return LogoFromPixels(kW, kH, 1, 1, 3, alpha, colour);
}

// Cuts a frame from the textures at a random place: the clean picture.
void CutPicture(const Texture* tex, Frame* f, std::mt19937* rng)
{
    std::uniform_int_distribution<int32_t> at(0, tex[0].size - kW - 1);
    int32_t ox = at(*rng) & ~1, oy = at(*rng) & ~1;
    const double scale = (1 << (f->depth - 8));
    for (int p = 0; p < 3; p++) {
        const SamplePlane& pl = f->planes[p];
        int32_t sx = p ? ox / 2 : ox, sy = p ? oy / 2 : oy;
        for (int32_t y = 0; y < pl.height; y++)
            for (int32_t x = 0; x < pl.width; x++)
                WriteSample(pl, x, y, (int32_t)lround(scale * tex[p].v[(size_t)(sy + y) * tex[p].size + sx + x]));
    }
}

void BlendLogo(const LogoModel& logo, Frame* f)
{
    for (int p = 0; p < 3; p++) {
        const LogoPlane& lp = logo.planes[p];
        for (int32_t y = 0; y < lp.box.height; y++)
            for (int32_t x = 0; x < lp.box.width; x++) {
                size_t i = (size_t)y * lp.box.width + x;
                double a = lp.alpha[i];
                int32_t fx = lp.box.x + x, fy = lp.box.y + y;
                double v = a * lp.colour[i] + (1 - a) * ReadSample(f->planes[p], fx, fy);
                WriteSample(f->planes[p], fx, fy, (int32_t)lround(v));
            }
    }
}

double AlphaAt(const LogoPlane& lp, int32_t x, int32_t y)
{
    x -= lp.box.x;
    y -= lp.box.y;
    if (x < 0 || y < 0 || x >= lp.box.width || y >= lp.box.height) return 0.0;
    return lp.alpha[(size_t)y * lp.box.width + x];
}

// A known logo over random pictures is learned from the frames alone: alpha
// to within a few hundredths, nothing found away from the logo, and frames
// de-blended with what was learned come back close to their clean picture
// (luma and chroma, 8-bit and 10-bit samples).
TEST(LogoMask, LearnsAKnownLogoOverRandomPictures)
{
    for (int32_t depth : { 8, 10 }) {
        std::mt19937 rng(18 + depth);
        Texture tex[3] = { SmoothTexture(320, 16, 235, &rng), SmoothTexture(160, 70, 190, &rng),
                           SmoothTexture(160, 60, 200, &rng) };
        const LogoModel truth = TrueLogo(depth);

        LogoLearner learner;
        StartLogoLearning(&learner, PixelRect{ 14, 10, 72, 36 }, kW, kH, 1, 1, 3, depth);
        Frame f(depth);
        for (int n = 0; n < 600; n++) {
            CutPicture(tex, &f, &rng);
            BlendLogo(truth, &f);
            AddLogoSample(&learner, f.planes);
        }
        const LogoModel learned = LearnedLogo(learner);

        double alphaErrorSum = 0.0;
        int logoPixels = 0;
        for (int32_t y = 0; y < kH; y++)
            for (int32_t x = 0; x < kW; x++) {
                double t = AlphaAt(truth.planes[0], x, y), l = AlphaAt(learned.planes[0], x, y);
                EXPECT_NEAR(l, t, 0.08) << depth << " at " << x << "," << y;
                if (t > 0.0) { alphaErrorSum += fabs(l - t); logoPixels++; }
                bool nearLogo = false;
                for (int32_t dy = -3; dy <= 3; dy++)
                    for (int32_t dx = -3; dx <= 3; dx++)
                        nearLogo |= AlphaAt(truth.planes[0], x + dx, y + dy) > 0.0;
                if (!nearLogo) EXPECT_EQ(l, 0.0) << depth << " at " << x << "," << y;
            }
        EXPECT_LT(alphaErrorSum / logoPixels, 0.02) << depth;

        // Fresh frames, de-blended with the learned logo, against their
        // clean pictures.
        const double scale = (1 << (depth - 8));
        for (int p = 0; p < 3; p++) {
            double squares = 0.0;
            int count = 0;
            for (int n = 0; n < 20; n++) {
                CutPicture(tex, &f, &rng);
                Frame clean = f;
                for (int q = 0; q < 3; q++) clean.planes[q].data = (uint8_t*)clean.store[q].data();
                BlendLogo(truth, &f);
                DeblendPlane(learned.planes[p], 0.85f, 0.0f, nullptr, f.planes[p]);
                const LogoPlane& tp = truth.planes[p];
                for (int32_t y = tp.box.y; y < tp.box.y + tp.box.height; y++)
                    for (int32_t x = tp.box.x; x < tp.box.x + tp.box.width; x++) {
                        double d = (ReadSample(f.planes[p], x, y) - ReadSample(clean.planes[p], x, y)) / scale;
                        squares += d * d;
                        count++;
                    }
            }
            double rms = sqrt(squares / count);
            EXPECT_LT(rms, 2.0) << "plane " << p << " depth " << depth;
        }
    }
}

// A still picture adds nothing: the same frame again is not taken, and an
// empty rectangle learns an empty logo.
TEST(LogoMask, StillFramesAndEmptyRectangles)
{
    std::mt19937 rng(3);
    Texture tex[3] = { SmoothTexture(160, 16, 235, &rng), SmoothTexture(80, 16, 240, &rng),
                       SmoothTexture(80, 16, 240, &rng) };
    Frame f(8);
    CutPicture(tex, &f, &rng);
    LogoLearner learner;
    StartLogoLearning(&learner, PixelRect{ 10, 10, 20, 10 }, kW, kH, 1, 1, 3, 8);
    EXPECT_TRUE(AddLogoSample(&learner, f.planes));
    EXPECT_FALSE(AddLogoSample(&learner, f.planes));
    CutPicture(tex, &f, &rng);
    EXPECT_TRUE(AddLogoSample(&learner, f.planes));
    EXPECT_EQ(learner.frames, 2);

    StartLogoLearning(&learner, PixelRect{ kW, 0, 10, 10 }, kW, kH, 1, 1, 3, 8);
    EXPECT_FALSE(AddLogoSample(&learner, f.planes));
    LogoModel none = LearnedLogo(learner);
    EXPECT_TRUE(IsEmptyRect(none.planes[0].box));
}

}  // namespace
