// Frames and settings for holding the frame run against the oracle: a fixed,
// seeded list of cases (every rectangle size up to 64 x 64, every switch
// combination, feather widths 0...50 and extreme ones, every fade strength,
// rectangles at and across every frame edge, odd and overlapping pitches,
// both row orders, sides longer than the multiplying kernels take), each with
// its own frame of pseudo-random pixels inside guard bytes.
//
// The settings are given as a Config line's numbers and range text, so a test
// can hand them to the core directly or replay them into the module.
#ifndef DELBRIN_FRAME_CASES_H
#define DELBRIN_FRAME_CASES_H

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "patch_settings.h"
#include "script_line.h"

struct FrameCase {
    int32_t frameWidth;
    int32_t frameHeight;
    int32_t pitchPad;   // bytes beyond 4 * frameWidth per row; below 0 the rows overlap
    bool    topDown;    // rows stored top-down: seen through the last row, pitch negative
    int32_t numbers[kConfigNumberCount];  // the Config line's twelve numbers
    std::string ranges;                   // and its range text
    uint8_t showBorder;
    int32_t frameNumber;
    uint32_t seed;      // the frame's pixels
};

enum { kCaseGuardBytes = 64 };

// A case's frame: guard, stored rows, guard.
struct CaseFrame {
    std::vector<uint8_t> bytes;
    FrameView view;
};

inline uint32_t NextCaseRandom(uint32_t* state)
{
    // xorshift32: the same sequence on every platform.
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return *state = x;
}

inline int32_t CaseRandomBetween(uint32_t* state, int32_t low, int32_t high)
{
    return low + (int32_t)(NextCaseRandom(state) % (uint32_t)(high - low + 1));
}

inline int64_t CasePitchBytes(const FrameCase& c)
{
    return (int64_t)4 * c.frameWidth + c.pitchPad;
}

// Builds the case's frame, filled with pixels from its seed (guards too).
inline void MakeCaseFrame(const FrameCase& c, CaseFrame* frame)
{
    const int64_t pitch = CasePitchBytes(c);
    const size_t rows = (size_t)(c.frameHeight - 1) * (size_t)pitch + (size_t)4 * c.frameWidth;
    frame->bytes.resize(2 * kCaseGuardBytes + rows);
    uint32_t state = c.seed | 1;
    for (size_t i = 0; i < frame->bytes.size(); i += 4) {
        uint32_t v = NextCaseRandom(&state);
        memcpy(&frame->bytes[i], &v, frame->bytes.size() - i < 4 ? frame->bytes.size() - i : 4);
    }
    uint8_t* first = frame->bytes.data() + kCaseGuardBytes;
    if (c.topDown)
        frame->view = FrameView{ first + (size_t)(c.frameHeight - 1) * (size_t)pitch, c.frameWidth,
                                 c.frameHeight, (int32_t)-pitch };
    else
        frame->view = FrameView{ first, c.frameWidth, c.frameHeight, (int32_t)pitch };
}

// A fresh record with the case's settings, as a replayed Config line leaves it.
inline void ApplyCaseSettings(const FrameCase& c, PatchSettings* settings)
{
    memset(settings, 0, sizeof *settings);
    InitSettings(settings, nullptr);
    StoreConfig(settings, c.numbers, c.ranges.c_str());
    settings->showBorder = c.showBorder;
}

// The case as a line for a failure message.
inline std::string DescribeFrameCase(const FrameCase& c)
{
    std::string s = "frame " + std::to_string(c.frameWidth) + "x" + std::to_string(c.frameHeight) +
                    " pitch pad " + std::to_string(c.pitchPad) + (c.topDown ? " top-down" : "") +
                    " Config(";
    for (int32_t v : c.numbers)
        s += std::to_string(v) + ",";
    return s + "\"" + c.ranges + "\") border " + std::to_string(c.showBorder) + " frame " +
           std::to_string(c.frameNumber);
}

// Which families of cases to make; the module's test under wine takes fewer
// of the large ones.
struct FrameCaseOptions {
    int  largeCases;      // random rectangles of 65...700 pixels a side
    bool longSides;       // sides beyond the multiplying kernels' limit
};

namespace frame_cases_detail {

enum Switch {
    kFeather = 1, kFade = 2, kCancelTop = 4, kCancelBottom = 8, kCancelLeft = 16,
    kCancelRight = 32, kBorder = 64, kAllSwitches = 127,
};

inline FrameCase NewCase(uint32_t* random, int32_t w, int32_t h, int32_t fw, int32_t fh)
{
    FrameCase c;
    c.frameWidth = fw;
    c.frameHeight = fh;
    // Mostly rows as long as their pixels or a little longer, odd lengths
    // included; both row orders.
    static const int32_t pads[] = { 0, 0, 0, 1, 2, 3, 4, 5, 7, 12, 13, 64 };
    c.pitchPad = pads[NextCaseRandom(random) % (sizeof pads / sizeof pads[0])];
    c.topDown = NextCaseRandom(random) % 2 == 0;
    memset(c.numbers, 0, sizeof c.numbers);
    c.numbers[kConfigWidth] = w;
    c.numbers[kConfigHeight] = h;
    c.numbers[kConfigX] = CaseRandomBetween(random, 0, fw - w);
    c.numbers[kConfigY] = CaseRandomBetween(random, 0, fh - h);
    c.numbers[kConfigFeatherWidth] = CaseRandomBetween(random, 0, 50);
    c.numbers[kConfigFadeFrames] = CaseRandomBetween(random, 1, 50);
    // A range the frame lies in or in a fade window of, any strength.
    int32_t fade = c.numbers[kConfigFadeFrames];
    c.ranges = "100 200";
    c.frameNumber = NextCaseRandom(random) % 2 ? CaseRandomBetween(random, 101, 199)
                                               : CaseRandomBetween(random, 101 - fade, 199 + fade);
    c.showBorder = 0;
    c.seed = NextCaseRandom(random);
    return c;
}

inline void SetSwitches(FrameCase* c, unsigned switches)
{
    c->numbers[kConfigFeatherOn] = (switches & kFeather) != 0;
    c->numbers[kConfigFadeOn] = (switches & kFade) != 0;
    c->numbers[kConfigCancelTop] = (switches & kCancelTop) != 0;
    c->numbers[kConfigCancelBottom] = (switches & kCancelBottom) != 0;
    c->numbers[kConfigCancelLeft] = (switches & kCancelLeft) != 0;
    c->numbers[kConfigCancelRight] = (switches & kCancelRight) != 0;
    c->showBorder = (switches & kBorder) != 0;
}

// A rectangle of w x h in a frame a little larger.
inline FrameCase SizedCase(uint32_t* random, int32_t w, int32_t h)
{
    return NewCase(random, w, h, w + CaseRandomBetween(random, 0, 6),
                   h + CaseRandomBetween(random, 0, 6));
}

}  // namespace frame_cases_detail

inline std::vector<FrameCase> MakeFrameCases(const FrameCaseOptions& options)
{
    using namespace frame_cases_detail;
    std::vector<FrameCase> cases;
    uint32_t random = 20240611;

    // Every rectangle size up to 64 x 64, random switches.
    for (int32_t w = 1; w <= 64; w++)
        for (int32_t h = 1; h <= 64; h++) {
            FrameCase c = SizedCase(&random, w, h);
            SetSwitches(&c, NextCaseRandom(&random) & kAllSwitches);
            cases.push_back(c);
        }

    // Every switch combination, small and middling rectangles.
    for (unsigned switches = 0; switches <= kAllSwitches; switches++)
        for (int i = 0; i < 4; i++) {
            int32_t most = i == 3 ? 200 : 24;
            FrameCase c = SizedCase(&random, CaseRandomBetween(&random, 1, most),
                                    CaseRandomBetween(&random, 1, most));
            SetSwitches(&c, switches);
            cases.push_back(c);
        }

    // Feather widths 0...50 and extreme ones, ramps overlapping or not.
    std::vector<int32_t> widths;
    for (int32_t e = 0; e <= 50; e++)
        widths.push_back(e);
    for (int32_t e : { -1, -7, -50, INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1, 100, 255,
                       256, 1000, 65535, 1 << 20 })
        widths.push_back(e);
    for (int32_t e : widths)
        for (int i = 0; i < 3; i++) {
            FrameCase c = SizedCase(&random, CaseRandomBetween(&random, 1, 120),
                                    CaseRandomBetween(&random, 1, 120));
            SetSwitches(&c, kFeather | (NextCaseRandom(&random) & (kAllSwitches & ~kFeather)));
            c.numbers[kConfigFeatherWidth] = e;
            cases.push_back(c);
        }

    // Every fade strength: with 255 frames of fade before the range 1000 2000,
    // frame 745 + alpha is patched at alpha.
    for (int32_t alpha = 1; alpha <= 255; alpha++) {
        FrameCase c = SizedCase(&random, CaseRandomBetween(&random, 1, 40),
                                CaseRandomBetween(&random, 1, 40));
        SetSwitches(&c, kFade | (NextCaseRandom(&random) & (kAllSwitches & ~kFade)));
        c.numbers[kConfigFadeFrames] = 255;
        c.ranges = "1000 2000";
        c.frameNumber = 745 + alpha;
        cases.push_back(c);
    }

    // Rectangles touching each frame edge and corner, and reaching across it
    // (cut to the frame).
    for (int across = 0; across < 2; across++)
        for (int side = 0; side < 9; side++)
            for (int i = 0; i < 4; i++) {
                int32_t fw = CaseRandomBetween(&random, 1, 60);
                int32_t fh = CaseRandomBetween(&random, 1, 60);
                int32_t w = CaseRandomBetween(&random, 1, fw);
                int32_t h = CaseRandomBetween(&random, 1, fh);
                FrameCase c = NewCase(&random, w, h, fw, fh);
                SetSwitches(&c, NextCaseRandom(&random) & kAllSwitches);
                int32_t beyondX = across ? CaseRandomBetween(&random, 1, 2 * w) : 0;
                int32_t beyondY = across ? CaseRandomBetween(&random, 1, 2 * h) : 0;
                int32_t column = side % 3, row = side / 3;  // 0 left/top, 2 right/bottom
                if (column == 0)
                    c.numbers[kConfigX] = -beyondX;
                if (column == 2)
                    c.numbers[kConfigX] = fw - w + beyondX;
                if (row == 0)
                    c.numbers[kConfigY] = -beyondY;
                if (row == 2)
                    c.numbers[kConfigY] = fh - h + beyondY;
                if (across) {
                    c.numbers[kConfigWidth] += column == 1 ? beyondX : 0;
                    c.numbers[kConfigHeight] += row == 1 ? beyondY : 0;
                }
                cases.push_back(c);
            }

    // Odd pitches, rows that overlap in memory, both row orders.
    for (int32_t pad : { 1, 2, 3, 5, 6, 7, 9, 11, 13, 4097, -1, -3, -4, -5, -40, 0 })
        for (int topDown = 0; topDown < 2; topDown++)
            for (int i = 0; i < 3; i++) {
                FrameCase c = SizedCase(&random, CaseRandomBetween(&random, 1, 40),
                                        CaseRandomBetween(&random, 1, 40));
                SetSwitches(&c, NextCaseRandom(&random) & kAllSwitches);
                c.pitchPad = pad;
                if (pad == 0)  // every row at the same address
                    c.pitchPad = -4 * c.frameWidth;
                else if (pad < 0 && 4 * c.frameWidth + pad < 0)
                    c.pitchPad = -4 * c.frameWidth + 1;
                c.topDown = topDown != 0;
                cases.push_back(c);
            }

    // Frames outside every range and its fade windows, and ranges that start
    // or end on the frame with no fade.
    for (int i = 0; i < 8; i++) {
        FrameCase c = SizedCase(&random, CaseRandomBetween(&random, 1, 30),
                                CaseRandomBetween(&random, 1, 30));
        SetSwitches(&c, NextCaseRandom(&random) & kAllSwitches);
        c.numbers[kConfigFadeFrames] = i % 2 ? 0 : 5;
        c.frameNumber = (i / 2) % 2 ? 100 : 94;
        cases.push_back(c);
    }

    // Larger rectangles.
    for (int i = 0; i < options.largeCases; i++) {
        int32_t w = CaseRandomBetween(&random, 65, 700);
        int32_t h = CaseRandomBetween(&random, 65, 700);
        FrameCase c = NewCase(&random, w, h, w + CaseRandomBetween(&random, 0, 300),
                              h + CaseRandomBetween(&random, 0, 300));
        SetSwitches(&c, NextCaseRandom(&random) & kAllSwitches);
        cases.push_back(c);
    }

    // Sides at and beyond the longest the multiplying kernels take.
    if (options.longSides)
        for (int32_t side : { 8191, 8192, 8193, 9001 })
            for (int tall = 0; tall < 2; tall++) {
                int32_t other = CaseRandomBetween(&random, 1, 5);
                int32_t w = tall ? other : side, h = tall ? side : other;
                FrameCase c = NewCase(&random, w, h, w + 1, h + 1);
                SetSwitches(&c, NextCaseRandom(&random) & kAllSwitches);
                c.numbers[kConfigFeatherWidth] = CaseRandomBetween(&random, 0, 5000);
                cases.push_back(c);
            }
    return cases;
}

#endif
