// Clips like broadcast footage, made with ffmpeg from photographs: the
// picture panned, zoomed or cut into a slideshow, with grain, letterbox
// bars, fades and black stretches, sometimes woven into interlaced fields;
// a logo laid over it (text through a font, plates, a bug, a soft
// watermark) in some or all of its frames; encoded as broadcasters and
// recorders do. And how a detection of the logo is judged against the truth
// the clip was made with. detect's tests and the evaluation on clips drawn
// at random both use it.
#ifndef DELBRIN_TESTS_FOOTAGE_CLIP_H
#define DELBRIN_TESTS_FOOTAGE_CLIP_H

#include <string>
#include <vector>

#include "pixel_rect.h"

struct PatchSettings;

struct Span {
    int first, last;
};

enum Motion { kPan, kZoom, kCuts, kStillPicture };
enum FootageLogo { kLogoNone, kLogoPlateWithText, kLogoBug, kLogoText, kLogoOutlinedText, kLogoShadowText, kLogoWatermark, kLogoRedText };
enum Codec { kCrf20, kCrf30, kMpeg2 };

struct FootageClip {
    std::string              name;
    std::vector<std::string> pictures;   // the cuts show each in turn; the others the first
    Motion                   motion;
    // kPan: the picture scaled to cover `zoom` times the frame, the frame's
    // window moving from (x0, y0) to (x1, y1), fractions of the room it has;
    // kZoom: from `zoom` to 1.5 times that about the picture's middle.
    double                   zoom;
    double                   x0, y0, x1, y1;
    int                      width, height;
    bool                     interlaced;  // 50 pictures a second woven into 25 frames of two fields
    int                      grain;       // strength of moving noise, 0 none
    int                      bars;        // height of the black bars above and below, 0 none
    bool                     fades;       // from black over the first second, to black over the last
    double                   blackFrom, blackTo;  // seconds of plain black, none when equal
    bool                     stillThird;  // the frame's left third holds its first picture
    FootageLogo              logo;
    int                      w, h, x, y;  // the logo's picture and where it goes
    double                   opacity;
    std::vector<Span>        shown;       // frames showing the logo; empty: all
    Codec                    codec;
    double                   seconds;
};

const int kFootageRate = 25;

int FrameCount(const FootageClip& c);

// ffmpeg's expression for the frames in `shown` (all when empty), for a
// filter's enable option.
std::string ShownExpression(const std::vector<Span>& shown);

// True for a logo that hides what lies under it: drawn at full opacity, not
// a watermark with soft edges.
bool IsOpaque(const FootageClip& c);

// The ffmpeg command lines that make the clip's logo picture (RGBA PNG;
// empty without a logo) and the clip itself, writing to the given paths.
struct FootageCommands {
    std::string logo;
    std::string clip;
};
FootageCommands FootageCommandsFor(const FootageClip& c, const std::string& logoPath, const std::string& clipPath);

// Makes the clip (and its logo's picture) in `dir` under a name carrying a
// digest of the commands, unless made before; returns its path, or "" with
// *error saying why. *logoPath is the logo's picture.
std::string MakeFootageClip(const FootageClip& c, const std::string& dir, std::string* logoPath,
                            std::string* error);

// The box of the pixels of a w x h RGBA picture laid by ffmpeg's overlay at
// x, y (rounded down to even, as overlay places it) whose alpha,
// times `opacity`, reaches `least` (of 255); false when there are none or
// the picture cannot be read.
bool VisibleBox(const std::string& picture, int w, int h, int x, int y, double opacity, int least,
                PixelRect* box);

// The logo's box as the judging takes it: the pixels that change the
// picture by at least 3 % of its range.
bool LogoTruth(const FootageClip& c, const std::string& logoPath, PixelRect* box);

bool   Covers(const PixelRect& outer, const PixelRect& inner);

// The proposed settings (their ranges read by the filter core) against the
// frames that show the logo (all when `shown` is empty): the frames left
// unpatched, and those patched further than `near` frames from any that
// shows it.
struct RangeCheck {
    int missed;
    int extra;
};
RangeCheck CheckRanges(std::vector<Span> shown, int frameCount, const PatchSettings& proposed, int near);

// A found logo against the truth: the region's IoU and whether it is enough
// (0.9 for an opaque logo, 0.8 for a translucent one), the proposed
// rectangle covering the logo, and the ranges of the proposed settings.
struct Judgement {
    double     iou;
    bool       iouHeld;
    bool       covers;
    RangeCheck ranges;
};
Judgement JudgeFound(const FootageClip& c, const PixelRect& truth, const PixelRect& region,
                     const PixelRect& rectangle, const PatchSettings& proposed, int near);

#endif
