// The analysis on synthetic planes drawn as they are read: each sample is
// drawn into one reused buffer, so the analysis can only work from what it
// keeps of a sample while it has it.
#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <random>
#include <vector>

#include "logo_detect.h"

namespace {

const int32_t kW = 192, kH = 108;

enum Backdrop {
    kNoise,       // a new picture of smoothed noise every sample
    kPan,         // one textured picture sliding by 3 pixels a sample
    kNoiseSmooth, // noise for the first half, then a flat, slowly brightening picture
    kChromaOnly,  // flat luma, noise in chroma only
    kStill,       // one picture throughout
    kSlowPan,     // a smooth picture sliding by 1 pixel a sample: it hardly changes from one to the next
    kBrightNoise, // kNoise of bright levels only
    kDarkNoise,   // and of dark ones
    kStillGrain,  // one picture throughout under grain that changes every sample
    kBlankCorner, // moving noise, but a blank of one level over the top left 72 x 48 pixels
    kGradientCorner, // the same with a smooth gradient there instead, under a black bar 6 rows high
    kSkyCorner,   // the same with a sky over the top left 120 x 80 pixels: one level, flickering by 2
    kSlope,       // a pan below a diagonal line, flat above it: a stretch of the line holds still
    kPanVignette, // kPan darkened toward the corners by the lens, the same in every sample
    kDiagonalBand, // a pan along the diagonal of a picture with a bright band running the same way
    kStillThird,  // kNoise, but the left third holds one picture throughout
    kPanLines,    // kPan crossed by thin dark lines along its motion, which hold still
    kPanLetterbox, // kPan between black bars 16 rows high at the top and the bottom
    kPanFlatBelow, // kPan's picture sliding by 1 pixel every other sample, with a flat dark area 30 pixels wide from row 50 down
    kPanRipples,  // kNoise above row 26; below, wavy stripes panning along themselves, whose straight stretches hold still a while
    kNoiseDarkBand, // kNoise under a dark flat band 24 rows high and 70 pixels long, sliding along its length by 1 pixel every other sample
};

struct Logo {
    PixelRect box;
    uint8_t   y, u, v;
    float     alpha;            // 1: opaque
    int       first, last;      // samples it shows in
    float     blur = 0;         // above 0: a soft watermark, strokes whose alpha is blurred by a Gaussian this wide
    float     ringing = 0;      // the share of the logo the pixels just outside its box take on, as a codec's ringing does
    bool      heldAbove = false; // a few pixels two rows above it hold one level: a block the codec leaves alone
    float     ringsAgain = 0;   // the share of the logo a sixth of the row two above it takes on, as a codec's block rings again
    int       grain = 0;        // noise of up to this many levels over it and 2 pixels around, as a codec's around a sharp outline
    float     rim = 1;          // the share of its alpha its outermost pixels take on: a letter's antialiasing
    int       shadow = 0;       // above 0: a drop shadow, black at 0.6 of its alpha, this many pixels down and right
};

struct SyntheticClip {
    Backdrop          backdrop;
    int               samples = 80;
    std::vector<Logo> logos;
    PixelRect         calm = {0, 0, 0, 0};  // a stretch of the frame where the picture shows at a third of its contrast
};

// A smooth random texture, big enough to pan over.
struct Texture {
    int32_t              w, h;
    std::vector<uint8_t> y;
};

Texture MakeTexture(uint32_t seed, int32_t w, int32_t h, float finest = 0.2f, float amplitude = 17) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> phase(0, 6.2832f), freq(0.02f, finest);
    float fx[6], fy[6], ph[6];
    for (int k = 0; k < 6; k++) fx[k] = freq(random), fy[k] = freq(random), ph[k] = phase(random);
    Texture t = {w, h, std::vector<uint8_t>((size_t)w * h)};
    for (int32_t j = 0; j < h; j++)
        for (int32_t i = 0; i < w; i++) {
            float v = 0;
            for (int k = 0; k < 6; k++) v += sinf(fx[k] * i + fy[k] * j + ph[k]);
            t.y[(size_t)j * w + i] = (uint8_t)std::min(235.0f, std::max(16.0f, 128 + amplitude * v));
        }
    return t;
}

// A soft watermark: white strokes (an H beside an L, 3 pixels thick) whose
// alpha is blurred, laid over the planes. The box is where the blurred alpha
// still shows: the strokes lie inset by the blur.
void DrawWatermark(const Logo& l, std::vector<uint8_t> planes[3]) {
    const int32_t inset = (int32_t)lrintf(l.blur), w = l.box.width - 2 * inset, h = l.box.height - 2 * inset;
    auto stroke = [&](int32_t i, int32_t j) {
        if (i < 0 || j < 0 || i >= w || j >= h) return 0.0f;
        const int32_t half = w / 2 - 2;  // the H's width
        const bool h1 = i < 3 || (i >= half - 3 && i < half) || (i < half && j >= h / 2 - 1 && j < h / 2 + 2);
        const bool l1 = (i >= half + 3 && i < half + 6) || (i >= half + 3 && j >= h - 3);
        return h1 || l1 ? 1.0f : 0.0f;
    };
    // The Gaussian, one axis at a time, over the box.
    const int32_t reach = (int32_t)ceilf(3 * l.blur);
    std::vector<float> kernel(2 * reach + 1);
    float total = 0;
    for (int32_t k = -reach; k <= reach; k++) total += kernel[k + reach] = expf(-0.5f * k * k / (l.blur * l.blur));
    for (float& k : kernel) k /= total;
    const int32_t bw = l.box.width, bh = l.box.height;
    std::vector<float> across((size_t)bw * bh, 0), alpha((size_t)bw * bh, 0);
    for (int32_t j = 0; j < bh; j++)
        for (int32_t i = 0; i < bw; i++)
            for (int32_t k = -reach; k <= reach; k++) across[(size_t)j * bw + i] += kernel[k + reach] * stroke(i + k - inset, j - inset);
    for (int32_t j = 0; j < bh; j++)
        for (int32_t i = 0; i < bw; i++)
            for (int32_t k = -reach; k <= reach; k++)
                if (j + k >= 0 && j + k < bh) alpha[(size_t)j * bw + i] += kernel[k + reach] * across[(size_t)(j + k) * bw + i];
    const uint8_t own[3] = {l.y, l.u, l.v};
    for (int32_t j = 0; j < bh; j++)
        for (int32_t i = 0; i < bw; i++) {
            const float a = l.alpha * alpha[(size_t)j * bw + i];
            for (int p = 0; p < 3; p++) {
                uint8_t& at = planes[p][(size_t)(l.box.y + j) * kW + l.box.x + i];
                at = (uint8_t)lrintf(a * own[p] + (1 - a) * at);
            }
        }
}

// Draws sample n of the clip into planes.
void Draw(const SyntheticClip& clip, const Texture& pan, const Texture& slow, int n, std::vector<uint8_t> planes[3]) {
    std::mt19937 random(1000 + n);
    std::uniform_int_distribution<int> level(clip.backdrop == kBrightNoise ? 150 : clip.backdrop == kDarkNoise ? 16 : 40,
                                             clip.backdrop == kBrightNoise ? 235 : clip.backdrop == kDarkNoise ? 100 : 215);
    for (int p = 0; p < 3; p++) planes[p].assign((size_t)kW * kH, 128);
    const bool smooth = clip.backdrop == kNoiseSmooth && n >= clip.samples / 2;
    if (clip.backdrop == kNoise || clip.backdrop == kBrightNoise || clip.backdrop == kDarkNoise || clip.backdrop == kStillThird ||
        clip.backdrop == kPanRipples || clip.backdrop == kNoiseDarkBand || (clip.backdrop == kNoiseSmooth && !smooth)) {
        // Blocks of 4x4 of one level: noise with some extent, as a picture has.
        std::mt19937 first(1000);
        for (int32_t j = 0; j < kH; j += 4)
            for (int32_t i = 0; i < kW; i += 4) {
                std::mt19937& draw = clip.backdrop == kStillThird && i < kW / 3 ? first : random;
                const uint8_t y = (uint8_t)level(draw), u = (uint8_t)level(draw), v = (uint8_t)level(draw);
                for (int32_t b = j; b < std::min(kH, j + 4); b++)
                    for (int32_t a = i; a < std::min(kW, i + 4); a++) {
                        planes[0][(size_t)b * kW + a] = y;
                        planes[1][(size_t)b * kW + a] = (uint8_t)(128 + (u - 128) / 4);
                        planes[2][(size_t)b * kW + a] = (uint8_t)(128 + (v - 128) / 4);
                    }
            }
    } else if (smooth) {
        // A gentle gradient that brightens: the picture still changes, but
        // holds no edges anywhere.
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) planes[0][(size_t)j * kW + i] = (uint8_t)(30 + n + i / 8);
    } else if (clip.backdrop == kChromaOnly) {
        for (int32_t j = 0; j < kH; j += 4)
            for (int32_t i = 0; i < kW; i += 4) {
                const uint8_t u = (uint8_t)level(random), v = (uint8_t)level(random);
                for (int32_t b = j; b < std::min(kH, j + 4); b++)
                    for (int32_t a = i; a < std::min(kW, i + 4); a++) {
                        planes[1][(size_t)b * kW + a] = u;
                        planes[2][(size_t)b * kW + a] = v;
                    }
            }
    } else if (clip.backdrop == kBlankCorner || clip.backdrop == kGradientCorner || clip.backdrop == kSkyCorner) {
        const bool gradient = clip.backdrop == kGradientCorner;
        const bool sky = clip.backdrop == kSkyCorner;
        const int32_t cornerW = sky ? 120 : 72, cornerH = sky ? 80 : 48;
        for (int32_t j = 0; j < kH; j += 4)
            for (int32_t i = 0; i < kW; i += 4) {
                const uint8_t y = (uint8_t)level(random);
                for (int32_t b = j; b < std::min(kH, j + 4); b++)
                    for (int32_t a = i; a < std::min(kW, i + 4); a++)
                        planes[0][(size_t)b * kW + a] =
                            a >= cornerW || b >= cornerH ? y : sky ? (uint8_t)(70 + n / 3 % 3) : gradient ? (uint8_t)(60 + a / 2 + b / 2) : 100;
            }
        if (gradient)
            for (int32_t j = 0; j < 6; j++)
                for (int32_t i = 0; i < kW; i++) planes[0][(size_t)j * kW + i] = 16;
    } else if (clip.backdrop == kSlope) {
        // Above the line through (60, 30) along (4, 3), flat at the panned
        // picture's mean level; below it the panned picture, darkened
        // toward a stretch of the line 50 pixels long, so that only there
        // the line is a steady step.
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) {
                const int32_t across = 3 * (i - 60) - 4 * (j - 30), along = 4 * (i - 60) + 3 * (j - 30);
                float dark = 0;
                if (across <= 0 && across > -60 && along >= 0 && along <= 250)
                    dark = 0.6f * (1 + across / 60.0f) * std::min(1.0f, std::min(along, 250 - along) / 60.0f);
                planes[0][(size_t)j * kW + i] =
                    across > 0 ? 128 : (uint8_t)lrintf(pan.y[(size_t)j * pan.w + i + 3 * n] * (1 - dark));
            }
    } else if (clip.backdrop == kDiagonalBand) {
        // The frame slides over the picture by (1, 1) a sample; the band
        // runs that way, 40 pixels across, brighter than the picture
        // beside it, which is brighter on one side than on the other.
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) {
                const int32_t pi = i + n, pj = j + n;
                const int32_t across = (pi - 40) - (pj - 50), along = (pi - 40) + (pj - 50);
                const int32_t x = pi % pan.w, y = pj % pan.h;
                const uint8_t v = pan.y[(size_t)y * pan.w + x];
                const bool bright = across > 0 && across < 40 && along > 80 && along < 260;
                planes[0][(size_t)j * kW + i] = bright ? (uint8_t)(160 + v / 4) : across > 0 ? (uint8_t)(60 + v / 3) : (uint8_t)(v / 3);
            }
    } else if (clip.backdrop == kPanFlatBelow) {
        // The flat area's top edge lies along the motion: in the frame it
        // spans 106 to 136 at first and 67 to 97 at last, and steps in
        // most samples from 86 to 116.
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) {
                const int32_t x = i + n / 2;
                planes[0][(size_t)j * kW + i] = j >= 50 && x >= 106 && x < 136 ? 30 : pan.y[(size_t)j * pan.w + x];
            }
    } else if (clip.backdrop == kSlowPan) {
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) planes[0][(size_t)j * kW + i] = slow.y[(size_t)j * slow.w + i + n];
    } else {
        const bool pans = clip.backdrop == kPan || clip.backdrop == kPanVignette || clip.backdrop == kPanLines ||
                          clip.backdrop == kPanLetterbox;
        const int32_t shift = pans ? 3 * n : 0;
        std::uniform_int_distribution<int> grain(-4, 4);
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++)
                planes[0][(size_t)j * kW + i] = (uint8_t)(pan.y[(size_t)j * pan.w + i + shift] +
                                                          (clip.backdrop == kStillGrain ? grain(random) : 0));
    }
    if (clip.backdrop == kPanRipples)
        for (int32_t j = 26; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) {
                const int32_t x = i + 3 * n;
                planes[0][(size_t)j * kW + i] = (uint8_t)(128 + 50 * tanhf(2 * sinf(1.0f * j + 1.5f * sinf(0.03f * x) + 0.5f * sinf(0.11f * x))));
            }
    // Over 80 samples the frame's columns 60 to 90 stay in the band: a
    // still patch whose ends the picture passes over, its long sides steady
    // steps.
    if (clip.backdrop == kNoiseDarkBand)
        for (int32_t j = 40; j < 64; j++)
            for (int32_t i = 60 - n / 2; i < 130 - n / 2; i++) planes[0][(size_t)j * kW + i] = 30;
    if (clip.backdrop == kPanLines)
        for (int32_t j = 5; j < kH; j += 16)
            for (int32_t i = 0; i < kW; i++) planes[0][(size_t)j * kW + i] = (uint8_t)(planes[0][(size_t)j * kW + i] * 3 / 5);
    if (clip.backdrop == kPanLetterbox)
        for (int32_t j = 0; j < kH; j++)
            if (j < 16 || j >= kH - 16)
                for (int32_t i = 0; i < kW; i++) planes[0][(size_t)j * kW + i] = 16;
    // A calm stretch: what a blurred part of a picture does as it pans, its
    // level changing little from one sample to the next.
    for (int32_t j = clip.calm.y; j < clip.calm.y + clip.calm.height; j++)
        for (int32_t i = clip.calm.x; i < clip.calm.x + clip.calm.width; i++) {
            uint8_t& at = planes[0][(size_t)j * kW + i];
            at = (uint8_t)(128 + (at - 128) / 3);
        }
    if (clip.backdrop == kPanVignette)
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) {
                const float dx = (i - kW / 2.0f) / (kW / 2.0f), dy = (j - kH / 2.0f) / (kH / 2.0f);
                uint8_t& at = planes[0][(size_t)j * kW + i];
                at = (uint8_t)lrintf(at * (1 - 0.2f * (dx * dx + dy * dy)));
            }
    for (const Logo& l : clip.logos) {
        if (n < l.first || n > l.last) continue;
        if (l.blur > 0) {
            DrawWatermark(l, planes);
            continue;
        }
        if (l.ringing > 0) {
            const uint8_t plain[3] = {l.y, l.u, l.v};
            for (int32_t j = l.box.y - 1; j <= l.box.y + l.box.height; j++)
                for (int32_t i = l.box.x - 1; i <= l.box.x + l.box.width; i++)
                    if (i < l.box.x || i >= l.box.x + l.box.width || j < l.box.y || j >= l.box.y + l.box.height)
                        for (int p = 0; p < 3; p++) {
                            uint8_t& at = planes[p][(size_t)j * kW + i];
                            at = (uint8_t)lrintf(l.ringing * plain[p] + (1 - l.ringing) * at);
                        }
        }
        for (int32_t j = l.box.y + l.shadow; l.shadow > 0 && j < l.box.y + l.box.height + l.shadow; j++)
            for (int32_t i = l.box.x + l.shadow; i < l.box.x + l.box.width + l.shadow; i++)
                for (int p = 0; p < 3; p++) {
                    uint8_t& at = planes[p][(size_t)j * kW + i];
                    const float a = 0.6f * l.alpha;
                    at = (uint8_t)lrintf(a * (p == 0 ? 16 : 128) + (1 - a) * at);
                }
        for (int32_t i = l.box.x + l.box.width / 2; l.ringsAgain > 0 && i < l.box.x + l.box.width * 2 / 3; i++)
            for (int p = 0; p < 3; p++) {
                const uint8_t plain[3] = {l.y, l.u, l.v};
                uint8_t& at = planes[p][(size_t)(l.box.y - 2) * kW + i];
                at = (uint8_t)lrintf(l.ringsAgain * plain[p] + (1 - l.ringsAgain) * at);
            }
        if (l.heldAbove)
            for (int32_t i = l.box.x + l.box.width / 4; i < l.box.x + l.box.width / 4 + 6; i++)
                for (int p = 0; p < 3; p++) planes[p][(size_t)(l.box.y - 2) * kW + i] = 128;
        for (int32_t j = l.box.y; j < l.box.y + l.box.height; j++)
            for (int32_t i = l.box.x; i < l.box.x + l.box.width; i++) {
                // A plate with a darker bar through its middle: edges of its own.
                const bool bar = j - l.box.y >= l.box.height / 3 && j - l.box.y < 2 * l.box.height / 3 &&
                                 i - l.box.x >= l.box.width / 4 && i - l.box.x < 3 * l.box.width / 4;
                const uint8_t own[3] = {(uint8_t)(bar ? l.y / 2 : l.y), l.u, l.v};
                const bool outermost = i == l.box.x || j == l.box.y || i == l.box.x + l.box.width - 1 ||
                                       j == l.box.y + l.box.height - 1;
                const float alpha = outermost ? l.rim * l.alpha : l.alpha;
                for (int p = 0; p < 3; p++) {
                    uint8_t& at = planes[p][(size_t)j * kW + i];
                    at = (uint8_t)lrintf(alpha * own[p] + (1 - alpha) * at);
                }
            }
        std::uniform_int_distribution<int> grain(-l.grain, l.grain);
        for (int32_t j = l.box.y - 2; l.grain > 0 && j < l.box.y + l.box.height + 2; j++)
            for (int32_t i = l.box.x - 2; i < l.box.x + l.box.width + 2; i++) {
                uint8_t& at = planes[0][(size_t)j * kW + i];
                at = (uint8_t)std::min(255, std::max(0, at + grain(random)));
            }
    }
}

struct Detected {
    bool          read = true;
    LogoDetection detection;
    int           readings = 0;
};

Detected Detect(const SyntheticClip& clip, int failOnReading = -1, int64_t keptBytes = SampleSource().keptBytes) {
    Detected run;
    const Texture pan = MakeTexture(7, kW + 3 * clip.samples + 8, kH);
    const Texture smooth = MakeTexture(11, kW + clip.samples + 8, kH, 0.05f, 4);
    std::vector<uint8_t> planes[3];
    SampleSource source;
    source.width = kW;
    source.height = kH;
    source.expected = clip.samples;
    source.keptBytes = keptBytes;
    source.read = [&](const SampleVisitor& visit) {
        if (run.readings++ == failOnReading) return false;
        for (int n = 0; n < clip.samples; n++) {
            Draw(clip, pan, smooth, n, planes);
            SamplePlanes s = {n * 10, {planes[0].data(), planes[1].data(), planes[2].data()}, {kW, kW, kW}};
            if (!visit(s)) break;
        }
        return true;
    };
    run.read = DetectLogos(source, 5, &run.detection);
    return run;
}

// The best candidate is the logo: its region, and every sample showing it
// counted as present (a few samples too many are allowed, none too few).
void ExpectFound(const SyntheticClip& clip, double leastIou) {
    const Detected run = Detect(clip);
    ASSERT_TRUE(run.read);
    ASSERT_EQ(run.detection.verdict, kDetectFound);
    const LogoCandidate& best = run.detection.candidates[0];
    const Logo& logo = clip.logos[0];
    EXPECT_GE(RectIou(best.region, logo.box), leastIou)
        << best.region.x << "," << best.region.y << " " << best.region.width << "x" << best.region.height;
    ASSERT_EQ(best.present.size(), (size_t)clip.samples);
    int extra = 0;
    for (int n = 0; n < clip.samples; n++) {
        // Logos drawn in the same box are one logo's showings.
        bool shows = false;
        for (const Logo& l : clip.logos)
            shows |= RectIou(l.box, logo.box) == 1 && n >= l.first && n <= l.last;
        if (shows) EXPECT_TRUE(best.present[n]) << "sample " << n;
        extra += !shows && best.present[n];
    }
    EXPECT_LE(extra, 2);
}

TEST(LogoDetect, OpaquePlateOverMovingNoise) {
    ExpectFound({kNoise, 80, {{{150, 8, 32, 16}, 220, 90, 170, 1.0f, 0, 79}}}, 0.9);
}

// A codec's ringing holds still beside a logo's outline: the pixels just
// outside take on a little of the logo, which dims the picture there and
// steps out to it steadily, by a small share of the outline's step. The
// region is the logo's box, not the ringing's.
TEST(LogoDetect, RingingBesideTheOutlineIsNotTheLogo) {
    Logo plate = {{150, 8, 32, 16}, 220, 90, 170, 1.0f, 0, 79};
    plate.ringing = 0.15f;
    ExpectFound({kNoise, 80, {plate}}, 0.95);
    Logo thin = {{30, 60, 60, 12}, 230, 128, 128, 1.0f, 0, 79};
    thin.ringing = 0.15f;
    ExpectFound({kNoise, 80, {thin}}, 0.95);
}

// What lies beyond the ringing is no side of the logo either: a block the
// codec leaves alone two rows above a plate, which the picture shows
// through dimmed; and over a smooth picture that barely moves, under the
// codec's noise, where an opaque plate shows no dimming and is found by
// its steady steps alone, its ringing is still no part of it.
TEST(LogoDetect, WhatLiesBeyondTheRingingIsNotTheLogo) {
    Logo plate = {{150, 8, 32, 16}, 220, 90, 170, 1.0f, 0, 79};
    plate.ringing = 0.15f;
    plate.heldAbove = true;
    ExpectFound({kNoise, 80, {plate}}, 0.95);
    Logo smooth = {{12, 80, 40, 16}, 230, 128, 128, 1.0f, 0, 79};
    smooth.ringing = 0.15f;
    smooth.grain = 6;
    ExpectFound({kSlowPan, 80, {smooth}}, 0.95);
    Logo thin = {{30, 60, 60, 12}, 230, 128, 128, 1.0f, 0, 79};
    thin.ringing = 0.15f;
    thin.ringsAgain = 0.3f;
    ExpectFound({kNoise, 80, {thin}}, 0.95);
}

// A logo beside lines of the picture held along the pan is found from its
// steps over every sample, as a faint logo is; its outline is a clear one
// all the same, whether it hides most of the picture or all of it, and its
// ringing is no part of it.
TEST(LogoDetect, AClearLogoFoundByItsStepsOverEverySampleLosesItsRinging) {
    for (float alpha : {0.8f, 1.0f}) {
        Logo text = {{150, 60, 30, 12}, 230, 90, 170, alpha, 0, 79};
        text.ringing = 0.12f;
        ExpectFound({kPanLines, 80, {text}}, 0.95);
    }
}

// A letter's antialiased rim dims the picture by less than the letter and
// steps to it by little: it is still the logo's.
TEST(LogoDetect, AnAntialiasedRimIsTheLogos) {
    Logo plate = {{40, 50, 40, 14}, 235, 128, 128, 0.6f, 0, 79};
    plate.rim = 0.5f;
    ExpectFound({kNoise, 80, {plate}}, 0.97);
}

// A drop shadow over a dark picture dims it a few pixels down and to the
// right of the logo, by less than the logo and with an outline that steps
// too little to mark: the region takes it in.
TEST(LogoDetect, ADropShadowIsTheLogos) {
    for (const float alpha : {0.9f, 0.6f, 0.45f}) {
        Logo plate = {{40, 50, 40, 14}, 235, 128, 128, alpha, 0, 79};
        plate.shadow = 4;
        const Detected run = Detect({kDarkNoise, 80, {plate}});
        ASSERT_EQ(run.detection.verdict, kDetectFound);
        const PixelRect& found = run.detection.candidates[0].region;
        EXPECT_GE(RectIou(found, {40, 50, 44, 18}), 0.9)
            << alpha << ": " << found.x << "," << found.y << " " << found.width << "x" << found.height;
    }
}

// A pan along the top edge of a flat area holds that edge steady in its row
// over a stretch beside a plate on the same rows, which the area left at
// the start: the line apart from the plate is no part of it.
TEST(LogoDetect, AnEdgeAlongAPanIsNoPartOfAPlateBesideIt) {
    ExpectFound({kPanFlatBelow, 80, {{{128, 50, 24, 14}, 235, 128, 128, 1.0f, 0, 79}}}, 0.9);
}

// A translucent plate whose outline steps too little to mark, around an
// opaque text: the plate is told by the picture it dims, down to about a
// third of opacity, also where noise of its own (a codec's) shows on it.
TEST(LogoDetect, ATranslucentPlateAroundATextIsToldByItsDimming) {
    struct Case {
        Backdrop backdrop;
        uint8_t  level;
        float    alpha;
        int      grain;
    };
    for (const Case c : {Case{kNoise, 60, 0.35f, 0}, Case{kNoise, 60, 0.35f, 12}, Case{kPan, 128, 0.42f, 12}}) {
        SCOPED_TRACE(c.alpha);
        Logo plate = {{60, 40, 60, 24}, c.level, 128, 128, c.alpha, 0, 79};
        plate.grain = c.grain;
        const Logo text = {{75, 48, 30, 8}, 235, 128, 128, 1.0f, 0, 79};
        ExpectFound({c.backdrop, 80, {plate, text}}, 0.8);
    }
}

// A plate over a calm part of the picture (a sky) dims nothing the samples
// can tell, and its outline has no moving side: it is told by the colour
// it gives the picture in the samples its text shows in.
TEST(LogoDetect, APlateOverACalmPictureIsToldByTheColourItGives) {
    const Logo plate = {{20, 16, 50, 26}, 74, 150, 120, 0.65f, 30, 79};
    const Logo text = {{32, 25, 26, 8}, 235, 128, 128, 1.0f, 30, 79};
    ExpectFound({kSkyCorner, 80, {plate, text}}, 0.9);
}

TEST(LogoDetect, TranslucentPlateOverPan) {
    ExpectFound({kPan, 80, {{{10, 80, 40, 18}, 235, 128, 128, 0.5f, 0, 79}}}, 0.8);
}

// The picture shows through a translucent logo dimmed, but a calm stretch
// of the picture a few pixels beside it (a blurred part, panning slowly)
// varies as little: it is no part of the logo.
TEST(LogoDetect, ACalmStretchBesideALogoIsNotTheLogo) {
    const Logo plate = {{40, 50, 40, 14}, 235, 128, 128, 0.6f, 0, 79};
    ExpectFound({kPan, 80, {plate}, {30, 67, 70, 10}}, 0.9);
    ExpectFound({kPan, 80, {plate}, {83, 44, 24, 26}}, 0.9);
}

// A diagonal pan holds the picture's edges along it steady too, each along
// a straight line on a slope. Taken in with a logo beside one, such an
// edge would stretch the logo's region along it.
TEST(LogoDetect, AnEdgeAlongADiagonalPanIsNoPartOfALogoBesideIt) {
    ExpectFound({kDiagonalBand, 50, {{{100, 56, 30, 14}, 235, 128, 128, 1.0f, 0, 49}}}, 0.9);
    ExpectFound({kDiagonalBand, 50, {{{104, 56, 30, 14}, 235, 128, 128, 1.0f, 0, 49}}}, 0.9);
}

TEST(LogoDetect, LogoInAFifthOfTheSamples) {
    ExpectFound({kNoise, 100, {{{8, 8, 30, 14}, 230, 128, 128, 1.0f, 40, 59}}}, 0.9);
    // Stripes along the pan hold still here and there in every run: more
    // and denser groups than the logo's, marked half at a time.
    ExpectFound({kPanRipples, 100, {{{8, 8, 30, 10}, 230, 128, 128, 1.0f, 40, 59}}}, 0.9);
}

// An ad break parts a showing in two, each under a tenth of the clip; a
// patch that holds still in many short bits, as long in all, is no logo.
TEST(LogoDetect, LogoShownAroundABreak) {
    const Logo before = {{8, 8, 30, 14}, 230, 128, 128, 1.0f, 20, 28}, after = {{8, 8, 30, 14}, 230, 128, 128, 1.0f, 60, 68};
    ExpectFound({kNoise, 100, {before, after}}, 0.9);
    SyntheticClip flickering = {kNoise, 100, {}};
    for (int first = 5; first < 95; first += 10) flickering.logos.push_back({{8, 8, 30, 14}, 230, 128, 128, 1.0f, first, first + 2});
    const Detected run = Detect(flickering);
    ASSERT_TRUE(run.read);
    for (const LogoCandidate& c : run.detection.candidates) EXPECT_LT(RectIou(c.region, flickering.logos[0].box), 0.5);
}

TEST(LogoDetect, TranslucentPlateOfThePicturesMidLevel) {
    // Over pictures both darker and brighter than the plate its outline
    // changes sign and is not steady: the plate shows as a patch the
    // picture passes through dimmed, with its own steady bar inside.
    ExpectFound({kNoise, 80, {{{60, 70, 40, 20}, 128, 128, 128, 0.7f, 0, 79}}}, 0.8);
}

TEST(LogoDetect, LogoOnABlankThePictureAroundNeverLeaves) {
    // Nothing around the plate moves, but a blank holds nothing of the
    // picture: anything of it would be carried off.
    ExpectFound({kBlankCorner, 80, {{{20, 14, 30, 14}, 220, 90, 170, 1.0f, 0, 79}}}, 0.9);
    ExpectFound({kBlankCorner, 100, {{{20, 14, 30, 14}, 40, 128, 128, 1.0f, 20, 79}}}, 0.9);
    // A long logo's window reaches beyond the blank, which holds just
    // around the logo.
    ExpectFound({kBlankCorner, 80, {{{14, 20, 44, 8}, 220, 90, 170, 1.0f, 0, 79}}}, 0.9);
    ExpectFound({kBlankCorner, 100, {{{14, 20, 44, 8}, 220, 90, 170, 1.0f, 40, 79}}}, 0.9);
    // Its bar is of about the blank's level: a frame without the logo
    // keeps those pixels' values.
    ExpectFound({kBlankCorner, 100, {{{14, 20, 44, 8}, 220, 90, 170, 1.0f, 30, 59}}}, 0.9);
    // A smooth gradient (a sky) holds no more of the picture than a blank,
    // and a bar's black beside it is no part of it.
    ExpectFound({kGradientCorner, 80, {{{20, 14, 30, 14}, 220, 90, 170, 1.0f, 0, 79}}}, 0.9);
    ExpectFound({kGradientCorner, 100, {{{24, 16, 30, 12}, 70, 150, 110, 1.0f, 30, 99}}}, 0.9);
}

TEST(LogoDetect, LogoBesideAStillThird) {
    // The still third's inner edge is a steady step on a column that holds
    // still throughout, which is no logo's: a plate 4 pixels beside it is
    // found, and its region does not take in the edge.
    ExpectFound({kStillThird, 80, {{{68, 40, 30, 14}, 235, 128, 128, 0.5f, 0, 79}}}, 0.8);
}

TEST(LogoDetect, LogoOverASmoothPictureStillCounts) {
    // The second half has no edges at all; the plate shows throughout and
    // must be present in every sample.
    ExpectFound({kNoiseSmooth, 80, {{{140, 70, 36, 20}, 210, 100, 160, 1.0f, 0, 79}}}, 0.9);
}

TEST(LogoDetect, LogoOverASlowPanOfASmoothPicture) {
    // Over a run of samples the picture around the plate barely varies (a
    // deviation of a level or two); over the clip it moves.
    ExpectFound({kSlowPan, 80, {{{12, 80, 40, 16}, 230, 128, 128, 1.0f, 0, 79}}}, 0.9);
}

TEST(LogoDetect, LogoOfItsSurroundingsLumaFoundByChroma) {
    ExpectFound({kChromaOnly, 80, {{{20, 70, 36, 20}, 128, 200, 60, 1.0f, 0, 79}}}, 0.9);
}

// A soft watermark dims the picture by a third or less and its blurred
// edges step by a few levels a pixel, less than the picture's own steps
// beneath; but its steps hold over every sample while the picture's come
// and go.
TEST(LogoDetect, SoftWatermark) {
    Logo overPan = {{130, 76, 50, 22}, 235, 128, 128, 0.3f, 0, 79, 2.5f};
    ExpectFound({kPan, 80, {overPan}}, 0.75);
    Logo overNoise = {{12, 10, 44, 20}, 235, 128, 128, 0.35f, 0, 119, 2.0f};
    ExpectFound({kNoise, 120, {overNoise}}, 0.75);
    // Lines along the pan hold their steps as the watermark does, one
    // through it and others just above and below: the region keeps to the
    // watermark rather than running along them.
    ExpectFound({kPanLines, 80, {overPan}}, 0.75);
    // Shown in seven tenths of the samples, the picture moving on throughout.
    Logo part = overNoise;
    part.first = 36;
    ExpectFound({kNoise, 120, {part}}, 0.75);
}

// A small soft watermark steps out by its opacity's share of what an opaque
// one would, along a short outline: it scores little, but dims the picture
// beneath it and shows throughout. Found first in part that way, a larger
// one is still taken whole.
TEST(LogoDetect, SmallSoftWatermark) {
    ExpectFound({kPan, 80, {{{130, 76, 17, 7}, 235, 128, 128, 0.3f, 0, 79, 0.7f}}}, 0.8);
    ExpectFound({kPan, 80, {{{130, 76, 14, 6}, 235, 128, 128, 0.4f, 0, 79, 1.0f}}}, 0.8);
    ExpectFound({kNoise, 80, {{{12, 10, 26, 11}, 235, 128, 128, 0.25f, 0, 79, 1.0f}}}, 0.8);
}

// A soft watermark's blurred rim lifts the picture by a few levels beyond
// the steps that mark its outline, fading out: the region takes it in, and
// no more.
TEST(LogoDetect, ASoftWatermarksRimIsTheLogos) {
    for (Logo soft : {Logo{{12, 10, 38, 16}, 235, 128, 128, 0.25f, 0, 79, 1.5f},
                      Logo{{12, 10, 41, 18}, 235, 128, 128, 0.3f, 0, 79, 1.5f},
                      Logo{{12, 10, 48, 21}, 235, 128, 128, 0.25f, 0, 79, 1.5f}}) {
        const Detected run = Detect({kNoise, 80, {soft}});
        ASSERT_EQ(run.detection.verdict, kDetectFound);
        const PixelRect& r = run.detection.candidates[0].region;
        EXPECT_TRUE(r.x == soft.box.x && r.y == soft.box.y && RectRight(r) == RectRight(soft.box) &&
                    RectBottom(r) == RectBottom(soft.box))
            << r.x << "," << r.y << " " << r.width << "x" << r.height;
    }
    // Bolder, its outline steps clearly, but its rim is as much its own.
    // (The last column takes on the blur of the L's foot alone, too short
    // a stretch of that side to tell.)
    for (Logo bold : {Logo{{12, 10, 44, 19}, 235, 128, 128, 0.5f, 0, 79, 1.2f},
                      Logo{{12, 10, 44, 19}, 235, 128, 128, 0.6f, 0, 79, 1.0f}}) {
        const Detected run = Detect({kNoise, 80, {bold}});
        ASSERT_EQ(run.detection.verdict, kDetectFound);
        const PixelRect& r = run.detection.candidates[0].region;
        EXPECT_TRUE(r.x == bold.box.x && r.y == bold.box.y && RectRight(r) >= RectRight(bold.box) - 1 &&
                    RectBottom(r) == RectBottom(bold.box))
            << r.x << "," << r.y << " " << r.width << "x" << r.height;
    }
}

// A logo sits near a side of the picture, whatever bars frame it: a soft
// watermark just below a letterbox's top bar, midway along, is placed as
// one at the top of a frame without bars.
TEST(LogoDetect, SoftWatermarkBelowALetterboxBar) {
    ExpectFound({kPanLetterbox, 80, {{{74, 24, 44, 20}, 235, 128, 128, 0.3f, 0, 79, 2.5f}}}, 0.75);
}

// Letters of one text found apart (the outline between them broken where
// a letter lies over its own colour) make one logo, also when one of them
// (a narrow letter of a translucent text in the frame's middle) is too
// little to be taken for a logo by itself. A still part of the picture
// beside a logo, which shows whether the logo does or not, stays apart
// from it.
TEST(LogoDetect, LettersOfATextJoinedAStillPartBesideNot) {
    const PixelRect first = {120, 10, 24, 20}, second = {152, 10, 22, 20};  // 8 pixels apart
    const PixelRect wide = {70, 44, 24, 20}, narrow = {102, 44, 6, 20};
    const struct {
        Logo      a, b;
        PixelRect text;
    } texts[] = {
        {{first, 220, 90, 170, 1.0f, 0, 79}, {second, 220, 90, 170, 1.0f, 0, 79}, {120, 10, 54, 20}},
        {{wide, 220, 90, 170, 0.5f, 0, 79}, {narrow, 220, 90, 170, 0.5f, 0, 79}, {70, 44, 38, 20}},
    };
    for (const auto& t : texts) {
        const Detected text = Detect({kNoise, 80, {t.a, t.b}});
        ASSERT_EQ(text.detection.verdict, kDetectFound);
        const PixelRect& region = text.detection.candidates[0].region;
        EXPECT_GE(RectIou(region, t.text), 0.9)
            << region.x << "," << region.y << " " << region.width << "x" << region.height;
    }

    const Detected beside = Detect({kNoise, 80, {{first, 220, 90, 170, 1.0f, 20, 59}, {second, 200, 100, 150, 1.0f, 0, 79}}});
    ASSERT_EQ(beside.detection.verdict, kDetectFound);
    bool logo = false, still = false;
    for (const LogoCandidate& c : beside.detection.candidates) {
        logo |= RectIou(c.region, first) >= 0.9;
        still |= RectIou(c.region, second) >= 0.9;
    }
    EXPECT_TRUE(logo);
    EXPECT_TRUE(still);
}

TEST(LogoDetect, ALetterLostBetweenTwoLeavesThemOneText) {
    // Three letters shaped like a U, 5 pixels apart; a speck held still in
    // a part of the samples hangs into the middle one, its box overlapping
    // the letter's, and the middle letter's marks are taken for the
    // speck's. The two letters left are one text all the same.
    std::vector<Logo> text;
    for (int32_t x : {40, 69, 98})
        for (const PixelRect& stroke : {PixelRect{x, 40, 6, 24}, PixelRect{x + 18, 40, 6, 24}, PixelRect{x, 58, 24, 6}})
            text.push_back({stroke, 220, 90, 170, 1.0f, 0, 79});
    text.push_back({{76, 30, 10, 4}, 30, 128, 128, 1.0f, 0, 29});
    text.push_back({{80, 34, 2, 19}, 30, 128, 128, 1.0f, 0, 29});
    const Detected run = Detect({kNoise, 80, text});
    ASSERT_EQ(run.detection.verdict, kDetectFound);
    const PixelRect& region = run.detection.candidates[0].region;
    EXPECT_GE(RectIou(region, {40, 40, 82, 24}), 0.9)
        << region.x << "," << region.y << " " << region.width << "x" << region.height;
}

// Frames analysed shrunk by two: the region is rounded out to the shrunk
// grid, and shrinking (here with a [1 3 3 1] kernel, as bicubic does)
// spreads the outline into the next shrunk row. Taken again at the frames'
// own size, a thin text's region is its box within a pixel on every side.
TEST(LogoDetect, ThinTextsBoxAtTheFramesOwnSize) {
    const int32_t w = 2 * kW, h = 2 * kH;
    const PixelRect box = {251, 41, 71, 17};
    const int samples = 80;
    std::vector<uint8_t> full[3], half[3];
    // Noise in blocks of 4x4, under text: upright strokes 3 pixels wide
    // hanging from a bar 3 rows high.
    auto draw = [&](int n) {
        std::mt19937 random(1000 + n);
        std::uniform_int_distribution<int> level(40, 215);
        for (int p = 0; p < 3; p++) full[p].assign((size_t)w * h, 128);
        for (int32_t j = 0; j < h; j += 4)
            for (int32_t i = 0; i < w; i += 4) {
                const int y = level(random), u = level(random), v = level(random);
                for (int32_t b = j; b < j + 4; b++)
                    for (int32_t a = i; a < i + 4; a++) {
                        full[0][(size_t)b * w + a] = (uint8_t)y;
                        full[1][(size_t)b * w + a] = (uint8_t)(128 + (u - 128) / 4);
                        full[2][(size_t)b * w + a] = (uint8_t)(128 + (v - 128) / 4);
                    }
            }
        for (int32_t j = box.y; j < RectBottom(box); j++)
            for (int32_t i = box.x; i < RectRight(box); i++)
                if (j - box.y < 3 || (i - box.x) % 6 < 3) {
                    full[0][(size_t)j * w + i] = 230;
                    full[1][(size_t)j * w + i] = 110;
                    full[2][(size_t)j * w + i] = 150;
                }
    };
    auto shrink = [&](int p) {
        const int weight[4] = {1, 3, 3, 1};
        half[p].assign((size_t)kW * kH, 0);
        for (int32_t j = 0; j < kH; j++)
            for (int32_t i = 0; i < kW; i++) {
                int sum = 0;
                for (int b = 0; b < 4; b++)
                    for (int a = 0; a < 4; a++) {
                        const int32_t x = std::min(w - 1, std::max(0, 2 * i - 1 + a));
                        const int32_t y = std::min(h - 1, std::max(0, 2 * j - 1 + b));
                        sum += weight[a] * weight[b] * full[p][(size_t)y * w + x];
                    }
                half[p][(size_t)j * kW + i] = (uint8_t)((sum + 32) / 64);
            }
    };
    SampleSource source;
    source.width = kW;
    source.height = kH;
    source.expected = samples;
    source.read = [&](const SampleVisitor& visit) {
        for (int n = 0; n < samples; n++) {
            draw(n);
            for (int p = 0; p < 3; p++) shrink(p);
            SamplePlanes s = {n * 10, {half[0].data(), half[1].data(), half[2].data()}, {kW, kW, kW}};
            if (!visit(s)) break;
        }
        return true;
    };
    FineSamples fine;
    fine.width = w;
    fine.height = h;
    fine.factor = 2;
    int fineFrames = 0;
    fine.read = [&](const std::vector<int64_t>& frames, const SampleVisitor& visit) {
        for (int64_t number : frames) {
            draw((int)(number / 10));
            SamplePlanes s = {number, {full[0].data(), full[1].data(), full[2].data()}, {w, w, w}};
            fineFrames++;
            if (!visit(s)) break;
        }
        return true;
    };
    LogoDetection detection;
    ASSERT_TRUE(DetectLogos(source, 5, &detection));
    ASSERT_EQ(detection.verdict, kDetectFound);
    PixelRect region;
    ASSERT_TRUE(RefineRegion(fine, detection, detection.candidates[0], &region));
    EXPECT_GT(fineFrames, 0);
    EXPECT_NEAR(region.x, box.x, 1);
    EXPECT_NEAR(region.y, box.y, 1);
    EXPECT_NEAR(RectRight(region), RectRight(box), 1);
    EXPECT_NEAR(RectBottom(region), RectBottom(box), 1);
}

TEST(LogoDetect, PicturesWithoutALogo) {
    // A pan is a moving picture with nothing steady in it; one picture
    // throughout is a still clip.
    EXPECT_EQ(Detect({kPan, 80, {}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kNoise, 80, {}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kSlowPan, 80, {}}).detection.verdict, kDetectNothing);
    // A blank with nothing on it; a flat part beside the moving picture,
    // which is darker along a straight stretch of their border: neither
    // the stretch nor the darker picture is a logo on the blank.
    EXPECT_EQ(Detect({kBlankCorner, 80, {}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kGradientCorner, 80, {}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kSlope, 80, {}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kPanLetterbox, 80, {}}).detection.verdict, kDetectNothing);
    // A band sliding along its own length: its sides hold still, but each
    // along one straight line, which a logo's outline does not.
    EXPECT_EQ(Detect({kDiagonalBand, 50, {}}).detection.verdict, kDetectNothing);
    // The middle of a dark band sliding along its length holds as still as
    // an opaque plate, but only its long sides are steady steps: no outline
    // turns.
    EXPECT_EQ(Detect({kNoiseDarkBand, 80, {}}).detection.verdict, kDetectNothing);
    // The lens darkening the corners shifts every sample alike, as a
    // watermark does, but smoothly: no steps of its own.
    EXPECT_EQ(Detect({kPanVignette, 120, {}}).detection.verdict, kDetectNothing);
    // A still block flush with the frame's side is a part of the picture
    // held still (a still third, a bar), not a logo.
    EXPECT_EQ(Detect({kNoise, 80, {{{0, 40, 30, 20}, 220, 90, 170, 1.0f, 0, 79}}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kNoise, 80, {{{170, 88, 22, 20}, 220, 90, 170, 1.0f, 0, 79}}}).detection.verdict, kDetectNothing);
    // So is one that stops a pixel short of the side, the outermost column
    // or row moving (a codec or a scaler treats it apart).
    EXPECT_EQ(Detect({kNoise, 80, {{{169, 10, 22, 20}, 220, 90, 170, 1.0f, 0, 79}}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kNoise, 80, {{{40, 87, 30, 20}, 220, 90, 170, 1.0f, 0, 79}}}).detection.verdict, kDetectNothing);
    EXPECT_EQ(Detect({kStill, 80, {{{8, 8, 30, 14}, 230, 128, 128, 1.0f, 0, 79}}}).detection.verdict, kDetectStatic);
    // Grain changes every pixel of every sample, but not the picture.
    EXPECT_EQ(Detect({kStillGrain, 80, {}}).detection.verdict, kDetectStatic);
    EXPECT_EQ(Detect({kNoise, 8, {}}).detection.verdict, kDetectTooShort);
}

TEST(LogoDetect, AFailedReadingStopsTheAnalysis) {
    const SyntheticClip clip = {kNoise, 40, {{{150, 8, 32, 16}, 220, 90, 170, 1.0f, 0, 39}}};
    for (int reading : {0, 1, 2}) {
        const Detected run = Detect(clip, reading);
        EXPECT_FALSE(run.read) << "reading " << reading;
        EXPECT_EQ(run.readings, reading + 1);
    }
}

// Keeping the candidates' windows between readings changes how often the
// samples are read, not what is found: the same detection, to the bit, as
// reading every sample in every round, whether the budget holds the windows
// with room around them, just the windows, or nothing.
TEST(LogoDetect, KeptWindowsFindWhatRereadingFinds) {
    const SyntheticClip clips[] = {
        {kNoise, 80, {{{150, 8, 32, 16}, 220, 90, 170, 1.0f, 0, 79}}},
        {kPan, 80, {{{10, 80, 40, 18}, 235, 128, 128, 0.5f, 0, 79}}},
        {kNoise, 100, {{{8, 8, 30, 14}, 230, 128, 128, 1.0f, 40, 59}, {{120, 60, 50, 30}, 40, 150, 100, 0.6f, 0, 99}}},
        {kNoiseSmooth, 80, {{{140, 70, 36, 20}, 210, 100, 160, 1.0f, 0, 79}}},
        {kChromaOnly, 80, {{{20, 70, 36, 20}, 128, 200, 60, 1.0f, 0, 79}}},
        {kNoise, 80, {}},
    };
    for (size_t c = 0; c < sizeof clips / sizeof clips[0]; c++) {
        const Detected reread = Detect(clips[c], -1, 0);
        for (int64_t budget : {int64_t(1) << 20, SampleSource().keptBytes}) {
            SCOPED_TRACE(testing::Message() << "clip " << c << ", budget " << budget);
            const Detected kept = Detect(clips[c], -1, budget);
            ASSERT_TRUE(kept.read);
            const LogoDetection& a = reread.detection;
            const LogoDetection& b = kept.detection;
            EXPECT_EQ(a.verdict, b.verdict);
            EXPECT_EQ(a.frameNumbers, b.frameNumbers);
            ASSERT_EQ(a.candidates.size(), b.candidates.size());
            for (size_t i = 0; i < a.candidates.size(); i++) {
                const LogoCandidate &x = a.candidates[i], &y = b.candidates[i];
                EXPECT_EQ(x.region.x, y.region.x);
                EXPECT_EQ(x.region.y, y.region.y);
                EXPECT_EQ(x.region.width, y.region.width);
                EXPECT_EQ(x.region.height, y.region.height);
                EXPECT_EQ(x.score, y.score);
                EXPECT_EQ(x.opacity, y.opacity);
                EXPECT_EQ(x.present, y.present);
            }
            EXPECT_LE(kept.readings, reread.readings);
            if (budget == SampleSource().keptBytes && a.verdict == kDetectFound) EXPECT_LT(kept.readings, reread.readings);
        }
    }
}

// What the signature tells of each sample of clip, matched alone.
std::vector<LogoShown> MatchEachSample(const LogoSignature& signature, const SyntheticClip& clip) {
    const Texture none = {1, 1, {0}};
    const Texture smooth = MakeTexture(11, kW + clip.samples + 8, kH, 0.05f, 4);
    std::vector<uint8_t> planes[3];
    std::vector<LogoShown> shown;
    for (int n = 0; n < clip.samples; n++) {
        Draw(clip, none, smooth, n, planes);
        const SamplePlanes frame = {n, {planes[0].data(), planes[1].data(), planes[2].data()}, {kW, kW, kW}};
        shown.push_back(MatchLogo(signature, frame).shown);
    }
    return shown;
}

// A logo's outline steps run from the picture to the logo: learned over
// bright pictures they are turned round over dark ones, while the steps
// inside it stay; and a nearly opaque plate's pixels, which hold still over
// pictures alike, take on some of a darker picture. Matched against the
// signature learned over bright pictures, every frame of the logo over
// pictures bright, dark or between shows it, and none of the same pictures
// without it does.
TEST(LogoPresence, ALogoShowsOverPicturesOfAnyLevel) {
    const Logo logos[] = {{{151, 9, 31, 15}, 128, 150, 110, 0.7f, 0, 79}, {{21, 73, 31, 15}, 180, 90, 170, 0.8f, 0, 79}};
    for (const Logo& logo : logos) {
        const Detected learned = Detect({kBrightNoise, 80, {logo}});
        ASSERT_EQ(learned.detection.verdict, kDetectFound);
        const LogoSignature& signature = learned.detection.candidates[0].signature;
        for (Backdrop backdrop : {kBrightNoise, kDarkNoise, kNoise})
            for (bool shows : {true, false}) {
                SyntheticClip clip = {backdrop, 20, {}};
                if (shows) clip.logos.push_back(logo);
                const std::vector<LogoShown> shown = MatchEachSample(signature, clip);
                for (int n = 0; n < clip.samples; n++)
                    EXPECT_EQ((int)shown[n], (int)(shows ? kLogoShown : kLogoAbsent))
                        << "opacity " << lrintf(100 * logo.alpha) << " %, backdrop " << backdrop << ", sample " << n;
            }
    }
}

// A codec at a low rate smears a small logo over a busy picture into a blur
// of its colour: its outline's steps are gone, but it still tints its box,
// and the frames showing it show it.
TEST(LogoPresence, ASmearedSmallLogoShowsByItsTint) {
    const Logo logo = {{150, 10, 16, 7}, 81, 90, 240, 0.76f, 0, 79};
    const Detected learned = Detect({kBrightNoise, 80, {logo}});
    ASSERT_EQ(learned.detection.verdict, kDetectFound);
    const LogoSignature& signature = learned.detection.candidates[0].signature;
    const Texture none = {1, 1, {0}};
    std::vector<uint8_t> planes[3], smeared[3];
    for (bool shows : {true, false}) {
        SyntheticClip clip = {kDarkNoise, 20, {}};
        if (shows) clip.logos.push_back(logo);
        for (int n = 0; n < clip.samples; n++) {
            Draw(clip, none, none, n, planes);
            // Each pixel the mean of the 5 x 5 around it.
            for (int p = 0; p < 3; p++) {
                smeared[p] = planes[p];
                for (int32_t j = 2; j < kH - 2; j++)
                    for (int32_t i = 2; i < kW - 2; i++) {
                        int sum = 0;
                        for (int b = -2; b <= 2; b++)
                            for (int a = -2; a <= 2; a++) sum += planes[p][(size_t)(j + b) * kW + i + a];
                        smeared[p][(size_t)j * kW + i] = (uint8_t)((sum + 12) / 25);
                    }
            }
            const SamplePlanes frame = {n, {smeared[0].data(), smeared[1].data(), smeared[2].data()}, {kW, kW, kW}};
            const LogoShown shown = MatchLogo(signature, frame).shown;
            if (shows) EXPECT_EQ((int)shown, (int)kLogoShown) << "sample " << n;
            else EXPECT_NE((int)shown, (int)kLogoShown) << "sample " << n;
        }
    }
}

// A codec builds a logo up over a few frames after it appears (as a fade
// would): its steps there are the logo's in shape but a fraction of their
// size. Over a smooth picture those frames show it; the same pictures
// without it do not.
TEST(LogoPresence, ALogoBeingBuiltUpShows) {
    const Logo logo = {{150, 10, 32, 16}, 220, 90, 170, 0.5f, 0, 79};
    const Detected learned = Detect({kNoise, 80, {logo}});
    ASSERT_EQ(learned.detection.verdict, kDetectFound);
    const LogoSignature& signature = learned.detection.candidates[0].signature;
    for (bool shows : {true, false}) {
        Logo faded = logo;
        faded.alpha = 0.1f;
        SyntheticClip clip = {kSlowPan, 20, {}};
        if (shows) clip.logos.push_back(faded);
        const std::vector<LogoShown> shown = MatchEachSample(signature, clip);
        for (int n = 0; n < clip.samples; n++)
            EXPECT_EQ((int)shown[n], (int)(shows ? kLogoShown : kLogoAbsent)) << "sample " << n;
    }
}

TEST(LogoPresence, UnsureFramesTakeTheirNeighboursAnswer) {
    const LogoShown S = kLogoShown, A = kLogoAbsent, U = kLogoUnsure;
    struct Case {
        std::vector<LogoShown> answers;
        std::vector<uint8_t>   shown;
    } cases[] = {
        {{S, U, U, S}, {1, 1, 1, 1}},
        {{A, U, U, A}, {0, 0, 0, 0}},
        {{S, U, A, U, A}, {1, 1, 0, 0, 0}},
        {{A, U, S}, {0, 1, 1}},          // where they disagree, shown
        {{U, U, A, S, U}, {0, 0, 0, 1, 1}},  // the ends take the one answer they have
        {{U, U}, {1, 1}},                // nothing to tell from: shown
        {{}, {}},
    };
    for (const Case& c : cases) EXPECT_EQ(ResolvePresence(c.answers), c.shown);
}

}  // namespace
