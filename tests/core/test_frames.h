// Frames for the core's tests: a frame with a wider pitch than its pixels
// need and guard bytes on both sides, with its own settings record, so a test
// can check that nothing outside the rectangle was written.
#ifndef DELBRIN_TEST_FRAMES_H
#define DELBRIN_TEST_FRAMES_H

#include <stdint.h>
#include <string.h>

#include <array>
#include <vector>

#include "frame_run.h"
#include "patch_settings.h"
#include "script_line.h"

enum { kGuardBytes = 64 };

struct TestFrame {
    TestFrame() = default;
    TestFrame(const TestFrame&) = delete;  // the view points into it
    TestFrame& operator=(const TestFrame&) = delete;

    std::vector<uint8_t> bytes;  // guard, stored rows, guard
    PatchSettings settings{};
    FrameView     view{};
    int32_t       frameNumber = 0;
};

// A width x height frame whose rows are padBytes longer than the pixels
// need, filled with a fixed pseudo-random pattern (guards and padding too).
// The settings hold a fresh record's defaults.
inline void InitTestFrame(TestFrame* f, int32_t width, int32_t height, int32_t padBytes = 12)
{
    int32_t pitch = 4 * width + padBytes;
    f->bytes.assign((size_t)kGuardBytes * 2 + (size_t)pitch * height, 0);
    uint32_t seed = 12345;
    for (uint8_t& b : f->bytes) {
        seed = seed * 1103515245u + 12345u;
        b = (uint8_t)(seed >> 16);
    }
    uint8_t* data = f->bytes.data() + kGuardBytes;

    f->frameNumber = 0;
    memset(&f->settings, 0, sizeof f->settings);
    InitSettings(&f->settings, nullptr);
    f->view = FrameView{ data, width, height, pitch };
}

inline bool PatchTestFrame(TestFrame* f)
{
    return PatchFrame(&f->settings, f->view, f->frameNumber);
}

inline void SetRectangle(PatchSettings* s, int32_t width, int32_t height, int32_t x, int32_t y)
{
    s->width = width;
    s->height = height;
    s->x = x;
    s->y = y;
}

// The twelve numbers a Config line saves, in the line's order.
using SavedNumbers = std::array<int32_t, kConfigNumberCount>;

inline SavedNumbers SavedNumbersOf(const PatchSettings& s)
{
    SavedNumbers numbers;
    SaveConfigNumbers(&s, numbers.data());
    return numbers;
}

// Pixel (x, y), y counted from the top of the image.
inline uint32_t GetPixel(const TestFrame* f, int32_t x, int32_t y)
{
    uint32_t v;
    memcpy(&v, PixelAt(&f->view, x, y), sizeof v);
    return v;
}

inline void SetPixel(TestFrame* f, int32_t x, int32_t y, uint32_t v)
{
    memcpy(PixelAt(&f->view, x, y), &v, sizeof v);
}

// Whether byte index i of f->bytes belongs to a pixel of the rectangle
// [x, x + w) x [y, y + h) of the image.
inline bool ByteInRect(const TestFrame* f, size_t i, int32_t x, int32_t y, int32_t w, int32_t h)
{
    const uint8_t* first = f->bytes.data() + i;
    for (int32_t r = y; r < y + h; r++) {
        const uint8_t* row = (const uint8_t*)PixelAt(&f->view, x, r);
        if (first >= row && first < row + 4 * (size_t)w)
            return true;
    }
    return false;
}

// The number of bytes outside the rectangle that differ from before.
inline int BytesChangedOutside(const TestFrame* f, const std::vector<uint8_t>& before,
                               int32_t x, int32_t y, int32_t w, int32_t h)
{
    int changed = 0;
    for (size_t i = 0; i < before.size(); i++)
        if (before[i] != f->bytes[i] && !ByteInRect(f, i, x, y, w, h))
            changed++;
    return changed;
}

#endif
