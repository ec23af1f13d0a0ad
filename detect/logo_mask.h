// Learning a translucent logo from the video itself: per pixel of a given
// rectangle, the logo's alpha and colour, in the video's own colour space
// and on each plane's own grid.
//
// A logo that holds still over a moving picture is observed as
//   o = a * logo + (1 - a) * picture
// at every sample. The picture under one sample is unknown in any one
// frame, but over many frames its mean and spread are close to those of the
// pixels around it, which the logo does not cover. So at a logo sample the
// spread of what is observed is (1 - a) times the spread of the picture
// there, and its mean is a * logo + (1 - a) times the picture's mean: both
// are read from two running sums per sample, and the picture's mean and
// spread under the logo from those outside it, filled in smoothly (a
// membrane stretched over the logo from the samples around it). The fill is
// done twice: once over the whole rectangle, to find which samples are the
// logo's, then over those samples alone (widened by a little), so that for
// a thin text the picture's statistics are filled in over a few pixels, not
// across the rectangle. Chroma takes its alpha from luma, as the mean over
// each chroma sample's cell of pixels (what blending at full resolution and
// then subsampling gives), and fits only its colour.
#ifndef DELBRIN_LOGO_MASK_H
#define DELBRIN_LOGO_MASK_H

#include <stdint.h>

#include <vector>

#include "deblend.h"
#include "pixel_rect.h"

// The running sums, over the rectangle and a margin around it, of every
// plane. Memory: two doubles per sample of that area, whatever the number
// of frames; the luma samples of the last frame taken, to tell a new
// picture from a still one.
struct LogoLearner {
    PixelRect rect;  // luma pixels, inside the frame
    int32_t   frameWidth, frameHeight;
    int32_t   chromaShiftX, chromaShiftY;
    int32_t   planeCount;
    int32_t   bitDepth;
    struct PlaneSums {
        PixelRect           area;  // the rectangle and its margin, on this plane's grid
        std::vector<double> sum, sumSquares;
    } planes[3];
    std::vector<int32_t> lastLuma;  // the luma area of the last frame taken
    int64_t frames = 0;
};

// Starts learning the logo inside rect (luma pixels) of frames of the given
// size, chroma subsampling, plane count (1 or 3) and bit depth. The
// rectangle is cut to the frame; an empty one learns nothing.
void StartLogoLearning(LogoLearner* learner, PixelRect rect, int32_t frameWidth, int32_t frameHeight,
                       int32_t chromaShiftX, int32_t chromaShiftY, int32_t planeCount, int32_t bitDepth);

// Adds one sampled frame (planeCount planes, each of the frame's size on its
// own grid), unless its picture around and under the rectangle is nearly
// the last one taken: a still picture tells nothing new and would only pull
// the statistics toward itself. Returns whether the frame was taken.
bool AddLogoSample(LogoLearner* learner, const SamplePlane* planes);

// The logo the frames taken so far show: alpha and colour per sample of the
// rectangle on every plane, alpha 0 where no logo was found.
LogoModel LearnedLogo(const LogoLearner& learner);

// The smallest number of frames taken for LearnedLogo to mean anything.
enum { kMinLogoFrames = 16 };

#endif
