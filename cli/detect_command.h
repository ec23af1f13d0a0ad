// delbrin detect: finds a station logo or watermark in a video file and
// proposes the filter's rectangle, its Config line and, on request, the
// frame ranges the logo shows in.
#ifndef DELBRIN_CLI_DETECT_COMMAND_H
#define DELBRIN_CLI_DETECT_COMMAND_H

#include <stdint.h>

#include <string>
#include <vector>

#include "logo_detect.h"
#include "options.h"

// Runs "delbrin detect ..." with its options read and returns its exit code.
int RunDetect(const Options& options);

// The memory the sampled frames may take: frames * the analysis picture's
// pixels, one byte each.
const int64_t kSampleMemoryLimit = int64_t(1) << 30;

// The analysis behind the command, without printing.
struct DetectOptions {
    std::string input;
    int         frames = 300;  // frames to sample
    int         margin = 4;    // pixels added around the logo
    bool        ranges = false;
};

struct FoundLogo {
    DetectRect region;     // the logo's pixels, no margin
    DetectRect rectangle;  // the proposed rectangle: the region and the margin, inside the frame
    double     score;
    double     opacity;
};

struct FrameSpan {
    int64_t first, last;  // frame numbers, both shown
};

struct DetectReport {
    std::string            error;      // why reading the file failed, when it did
    int32_t                width = 0;
    int32_t                height = 0;
    int32_t                neededWidth = 0;   // the smallest picture the analysis takes
    int32_t                neededHeight = 0;
    int64_t                frameCount = 0;
    double                 frameRate = 0;
    int                    sampled = 0;
    DetectVerdict          verdict = kDetectNothing;
    std::vector<FoundLogo> logos;      // best first
    std::vector<FrameSpan> shown;      // with ranges: where the best logo shows
    std::string            rangeText;  // with ranges: the Config line's ranges
    int64_t                previewFrame = -1;  // a frame that shows the best logo
};

// Returns the exit code the command would end with: 0 when a logo was found,
// kExitNoLogo, kExitTooShort, kExitStillPicture or kExitTooSmall when the
// file cannot tell,
// or the code of the step that failed, with report->error.
int AnalyseVideo(const DetectOptions& options, DetectReport* report);

// The filter's settings the command proposes for a logo: its rectangle,
// feathered over the margin, and the ranges (fade length 1, fading off, so
// that a range "s t" patches frames s to t) when there are any.
struct PatchSettings;
void SettingsForLogo(const FoundLogo& logo, int margin, const std::string& rangeText,
                     PatchSettings* settings);

#endif
