// Matching one frame against a found logo's signature.
#include "logo_signature.h"

#include <stdlib.h>

#include <algorithm>

namespace {

const float kShownScore = 0.5f;   // score from which a frame shows the logo
const float kAbsentScore = 0.25f; // score below which it does not
// A frame whose steps at the logo's edges hold less energy than this share
// of the logo's own is flat there.
const float kFlatShare = 0.15f;
// Steps foretold with less energy than this share of the logo's own are a
// logo of the picture's colour there, which the frame's steps cannot tell.
const float kFaintShare = 0.15f;
// A frame whose steps are the logo's foretold ones in shape (correlated by
// this much) but weaker, down to this share of them, shows the logo as the
// codec first builds it up, or as it fades in.
const float kWeakCorrelation = 0.45f;
const float kWeakScore = 0.1f;
const float kStillDecide = 0.25f; // least share of still pixels in a signature they decide alone
const float kStillKept = 0.7f;    // still score of pixels that keep their values
const float kStillLost = 0.3f;    // and of pixels that have plainly lost them
const float kTintFloor = 2;       // levels of spread any frame's ring is taken to have (the codec's noise)
const float kTintForetelling = 0.25f; // share of the level's change the tint foretold may be off by
const float kTintApart = 9;       // least TintMatch::apart that tells (three spreads)
const float kTintFit = 0.25f;     // most TintMatch::off, as a share of apart, of a frame showing the logo

// What a frame's steps and still pixels tell, decided. edgeScore is the
// frame's steps projected on the ones looked for, 1 when they are alike;
// tells is false when those steps are too faint to tell anything, flat true
// when the frame has hardly any steps there. With stepsOverrule, steps that
// plainly show the logo outweigh still pixels that have lost their values.
LogoShown Decide(double edges, double still, double edgeScore, double stillScore, bool tells, bool flat,
                 bool stepsOverrule) {
    // An opaque logo keeps its pixels' values over any picture, dark or
    // bright, flat or busy, while its outline's steps change with the
    // picture: where it has still pixels enough, they decide. A nearly
    // opaque plate lets a little of the picture through, so over a picture
    // of another level its pixels stray while its steps stay.
    if (still >= kStillDecide * (edges + still)) {
        if (stillScore >= kStillKept) return kLogoShown;
        if (stepsOverrule && edges > 0 && tells && !flat && edgeScore >= kShownScore) return kLogoShown;
        if (stillScore < kStillLost) return kLogoAbsent;
    }
    if (edges > 0 && !tells) return kLogoUnsure;
    // A logo leaves its steps on any picture but one of its own colour; a
    // frame with hardly any steps where they are looked for does not show it.
    if (edges > 0 && flat) return kLogoAbsent;
    const double score = (edges * edgeScore + still * stillScore) / (edges + still);
    if (score >= kShownScore) return kLogoShown;
    if (score < kAbsentScore) return kLogoAbsent;
    return kLogoUnsure;
}

// How a frame tints the logo's box: the box's mean less the frame's level
// around the logo (around, with the ring's spread, from RingLevel), per
// plane, against the shift foretold for that level (change, against the
// level learned). Each plane counts in the spread of the frame's own ring
// there: a picture busy around the box may tint it by itself. apart is how
// far the shift foretold lies from none, off how far the frame's lies from
// the one foretold, both squared, in spreads.
struct TintMatch {
    double apart = 0, off = 0;
};

template <typename Level>
TintMatch MatchTint(const LogoSignature& sig, const Level& level, const float change[kSamplePlanes],
                    const float around[kSamplePlanes], const float ringSpread[kSamplePlanes]) {
    const PixelRect& b = sig.box;
    double box[kSamplePlanes] = {0, 0, 0};
    for (int32_t y = b.y; y < RectBottom(b); y++)
        for (int32_t x = b.x; x < RectRight(b); x++)
            for (int p = 0; p < kSamplePlanes; p++) box[p] += level(x, y, p);
    TintMatch m;
    for (int p = 0; p < kSamplePlanes; p++) {
        const double spread = ringSpread[p] +
                              kPlaneWeight[p] * kPlaneWeight[p] * kTintFloor * kTintFloor +
                              kTintForetelling * kTintForetelling * change[p] * change[p];
        const double shift = box[p] / ((double)b.width * b.height) - around[p];
        const double foretold = sig.tint[p] + (sig.boxThrough - 1) * change[p];
        m.apart += foretold * foretold / spread;
        m.off += (shift - foretold) * (shift - foretold) / spread;
    }
    return m;
}

}  // namespace

LogoMatch MatchLogo(const LogoSignature& sig, const SamplePlanes& frame) {
    const PixelRect& r = sig.window;
    auto level = [&](int32_t x, int32_t y, int p) {
        return kPlaneWeight[p] *
               ((float)frame.plane[p][(size_t)(y - frame.top) * frame.pitch[p] + (x - frame.left)] - 128.0f);
    };
    // Steps: the frame's steps projected on the learned ones and on the ones
    // foretold for its picture's level around the logo; the energy of those
    // foretold, and the frame's own in the same steps (in the planes the
    // learned ones have a step in, and in all).
    float around[kSamplePlanes], ringSpread[kSamplePlanes], change[kSamplePlanes];
    RingLevel(sig.ring, level, around, ringSpread);
    for (int p = 0; p < kSamplePlanes; p++) change[p] = around[p] - sig.ringLevel[p];
    double learned = 0, learnedEnergy = 0, projected = 0, foretold = 0, frameEnergy = 0;
    for (const SignatureEdge& e : sig.edges) {
        const int32_t i = r.x + e.pixel % r.width, j = r.y + e.pixel / r.width;
        const bool steadyX = e.stepX[0] != 0 || e.stepX[1] != 0 || e.stepX[2] != 0;
        const bool steadyY = e.stepY[0] != 0 || e.stepY[1] != 0 || e.stepY[2] != 0;
        for (int p = 0; p < kSamplePlanes; p++) {
            const uint8_t* at = frame.plane[p] + (size_t)(j - frame.top) * frame.pitch[p] + (i - frame.left);
            if (steadyX) {
                const float d = kPlaneWeight[p] * ((int)at[1] - (int)at[0]);
                const float expected = e.stepX[p] + e.throughX * change[p];
                learned += (double)e.stepX[p] * d;
                if (e.stepX[p] != 0) learnedEnergy += (double)d * d;
                projected += (double)expected * d;
                foretold += (double)expected * expected;
                frameEnergy += (double)d * d;
            }
            if (steadyY) {
                const float d = kPlaneWeight[p] * ((int)at[frame.pitch[p]] - (int)at[0]);
                const float expected = e.stepY[p] + e.throughY * change[p];
                learned += (double)e.stepY[p] * d;
                if (e.stepY[p] != 0) learnedEnergy += (double)d * d;
                projected += (double)expected * d;
                foretold += (double)expected * expected;
                frameEnergy += (double)d * d;
            }
        }
    }
    // Still pixels: how close they keep to their values, 1 when they keep
    // them, about 0 when they stray as far as the moving picture does.
    double stray = 0;
    for (const SignatureStill& s : sig.still) {
        const int32_t i = r.x + s.pixel % r.width, j = r.y + s.pixel / r.width;
        float far = 0;
        for (int p = 0; p < kSamplePlanes; p++)
            far = std::max(far, kPlaneWeight[p] * abs((int)frame.plane[p][(size_t)(j - frame.top) * frame.pitch[p] + (i - frame.left)] - (int)s.value[p]));
        stray += std::min(1.0f, far / sig.stillSpread);
    }
    const double edges = (double)sig.edges.size(), still = (double)sig.still.size();
    if (edges + still <= 0) return {kLogoUnsure, kLogoUnsure};
    const double stillScore = still > 0 ? 1.0 - stray / still : 0;
    const double energy = sig.edgeEnergy;
    LogoMatch match;
    match.asLearned = Decide(edges, still, energy > 0 ? learned / energy : 0, stillScore, energy > 0,
                             learnedEnergy < kFlatShare * energy, false);
    // A logo of the picture's colour there leaves hardly any steps: they
    // cannot tell.
    const bool tells = foretold > 0 && foretold >= kFaintShare * energy;
    match.shown = match.asLearned == kLogoShown
                      ? kLogoShown
                      : Decide(edges, still, tells ? projected / foretold : 0, stillScore, tells,
                               frameEnergy < kFlatShare * foretold, true);
    // Steps alike in shape but weaker: the logo being built up or fading in.
    if (match.shown != kLogoShown && tells && still < kStillDecide * (edges + still) &&
        projected >= kWeakScore * foretold && projected * projected >= kWeakCorrelation * kWeakCorrelation * foretold * frameEnergy)
        match.shown = kLogoShown;
    // A frame whose box is tinted as foretold, far from how the picture
    // alone would leave it, shows the logo whatever its steps say.
    if (match.shown != kLogoShown) {
        const TintMatch tint = MatchTint(sig, level, change, around, ringSpread);
        if (tint.apart >= kTintApart && tint.off <= kTintFit * tint.apart) match.shown = kLogoShown;
    }
    return match;
}

std::vector<uint8_t> ResolvePresence(const std::vector<LogoShown>& answers) {
    const size_t n = answers.size();
    std::vector<uint8_t> shown(n, 1);
    // The nearest sure answer before each entry, then after it.
    std::vector<int8_t> before(n, -1);
    int8_t last = -1;
    for (size_t k = 0; k < n; k++) {
        if (answers[k] != kLogoUnsure) last = answers[k] == kLogoShown;
        before[k] = last;
    }
    int8_t next = -1;
    for (size_t k = n; k-- > 0;) {
        if (answers[k] != kLogoUnsure) {
            next = answers[k] == kLogoShown;
            shown[k] = (uint8_t)next;
            continue;
        }
        if (before[k] < 0 && next < 0) shown[k] = 1;
        else if (before[k] < 0) shown[k] = (uint8_t)next;
        else if (next < 0) shown[k] = (uint8_t)before[k];
        else shown[k] = (uint8_t)(before[k] | next);
    }
    return shown;
}
