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
const float kStillDecide = 0.25f; // least share of still pixels in a signature they decide alone
const float kStillKept = 0.7f;    // still score of pixels that keep their values
const float kStillLost = 0.3f;    // and of pixels that have plainly lost them

}  // namespace

LogoMatch MatchLogo(const LogoSignature& sig, const SamplePlanes& frame) {
    const PixelRect& r = sig.window;
    // Steps: the frame's steps projected on the mean ones, 1 when they are
    // alike; and the frame's own energy in the same steps.
    double projected = 0, frameEnergy = 0;
    for (const SignatureEdge& e : sig.edges) {
        const int32_t i = r.x + e.pixel % r.width, j = r.y + e.pixel / r.width;
        for (int p = 0; p < kSamplePlanes; p++) {
            const uint8_t* at = frame.plane[p] + (size_t)(j - frame.top) * frame.pitch[p] + (i - frame.left);
            if (e.stepX[p] != 0) {
                const float d = kPlaneWeight[p] * ((int)at[1] - (int)at[0]);
                projected += (double)e.stepX[p] * d;
                frameEnergy += (double)d * d;
            }
            if (e.stepY[p] != 0) {
                const float d = kPlaneWeight[p] * ((int)at[frame.pitch[p]] - (int)at[0]);
                projected += (double)e.stepY[p] * d;
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
    if (edges + still <= 0) return {0, kLogoUnsure};
    const double edgeScore = sig.edgeEnergy > 0 ? projected / sig.edgeEnergy : 0;
    const double stillScore = still > 0 ? 1.0 - stray / still : 0;
    const float score = (float)((edges * edgeScore + still * stillScore) / (edges + still));

    // An opaque logo keeps its pixels' values over any picture, dark or
    // bright, flat or busy, while its outline's steps change with the
    // picture: where it has still pixels enough, they decide.
    if (still >= kStillDecide * (edges + still)) {
        if (stillScore >= kStillKept) return {score, kLogoShown};
        if (stillScore < kStillLost) return {score, kLogoAbsent};
    }
    // A translucent logo leaves its steps on any picture but one of its own
    // colour; a frame with hardly any steps there does not show it.
    if (edges > 0 && frameEnergy < kFlatShare * sig.edgeEnergy) return {score, kLogoAbsent};
    if (score >= kShownScore) return {score, kLogoShown};
    if (score < kAbsentScore) return {score, kLogoAbsent};
    return {score, kLogoUnsure};
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
