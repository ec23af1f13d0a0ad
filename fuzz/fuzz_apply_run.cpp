// A replayed Config call of any numbers and any range text, then one frame
// of any small size, row pitch and frame number: the filter may change only
// the pixels of its rectangle cut to the frame, and none at all on a frame
// outside every range; it must leave the row ends, the bytes around the
// frame and the bytes around its record alone, and free its patch. Frames
// come in both row orders.
//
// Input: frame width, height and row slack (1 byte each), a mode byte, the
// frame number and the twelve numbers (4 bytes each), then the range text.
// In mode 1 the rectangle, feather and fade numbers are folded into -16..80,
// so that most runs land near the frame rather than far outside it.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "frame_run.h"
#include "fuzz_checks.h"
#include "script_line.h"

enum { kFrameGuard = 64 };

static const uint8_t kGuardByte = 0xC3;

static uint32_t PatternPixel(int32_t x, int32_t y)
{
    return 0xFF000000u | (uint32_t)(x * 37 + y * 101) * 2654435761u >> 8;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 56) {
        return 0;
    }
    const int32_t frameWidth = 1 + data[0] % 48;
    const int32_t frameHeight = 1 + data[1] % 48;
    const int32_t pitch = 4 * frameWidth + data[2] % 16;
    const bool fold = data[3] & 1;
    int32_t frameNumber;
    memcpy(&frameNumber, data + 4, 4);
    int32_t numbers[kConfigNumberCount];
    memcpy(numbers, data + 8, sizeof numbers);
    if (fold) {
        for (int i : {kConfigWidth, kConfigHeight, kConfigX, kConfigY, kConfigFeatherWidth,
                      kConfigFadeFrames}) {
            numbers[i] = (int32_t)((uint32_t)numbers[i] % 97) - 16;
        }
    }
    std::string text(reinterpret_cast<const char*>(data + 56), size - 56);

    // The frame, bottom-up, with guard bytes before and after it and at the
    // end of every row.
    const size_t frameBytes = (size_t)pitch * frameHeight;
    std::vector<uint8_t> storage(kFrameGuard + frameBytes + kFrameGuard, kGuardByte);
    uint8_t* pixels = storage.data() + kFrameGuard;
    for (int32_t y = 0; y < frameHeight; ++y) {
        uint8_t* row = pixels + (size_t)(frameHeight - 1 - y) * pitch;
        for (int32_t x = 0; x < frameWidth; ++x) {
            uint32_t value = PatternPixel(x, y);
            memcpy(row + 4 * x, &value, 4);
        }
    }
    const std::vector<uint8_t> before = storage;

    GuardedSettings guarded;
    FillGuards(&guarded);
    memset(&guarded.settings, 0, sizeof guarded.settings);
    PatchSettings* settings = &guarded.settings;
    InitSettings(settings, NULL);
    StoreConfig(settings, numbers, text.c_str());
    CheckRangeTable(settings);
    settings->showBorder = data[3] >> 1 & 1;

    // Stored bottom-up as the host keeps frames, or seen top-down through
    // the last row and a negative pitch.
    const bool topDown = data[3] >> 2 & 1;
    FrameView frame = { pixels, frameWidth, frameHeight, pitch };
    if (topDown) {
        frame.data = pixels + (size_t)(frameHeight - 1) * pitch;
        frame.pitch = -pitch;
    }

    const int alpha = FrameAlpha(settings, frameNumber);
    FUZZ_CHECK(alpha >= 0 && alpha <= 255);
    const bool patched = PatchFrame(settings, frame, frameNumber);
    CheckGuards(&guarded);
    FUZZ_CHECK(!patched || settings->patchPixels == NULL);
    FUZZ_CHECK(patched || storage == before);

    // The rectangle cut to the frame: the only pixels that may change.
    const int64_t left = settings->x < 0 ? 0 : settings->x;
    const int64_t top = settings->y < 0 ? 0 : settings->y;
    const int64_t right = (int64_t)settings->x + settings->width;
    const int64_t bottom = (int64_t)settings->y + settings->height;
    for (size_t i = 0; i < storage.size(); ++i) {
        if (storage[i] == before[i]) {
            continue;
        }
        // A changed byte must be a pixel byte inside the rectangle of a
        // frame that is processed.
        FUZZ_CHECK(alpha != 0);
        FUZZ_CHECK(i >= kFrameGuard && i < kFrameGuard + frameBytes);
        size_t offset = i - kFrameGuard;
        int64_t x = (int64_t)(offset % pitch) / 4;
        int64_t storedRow = (int64_t)(offset / pitch);
        int64_t y = topDown ? storedRow : frameHeight - 1 - storedRow;
        FUZZ_CHECK(x < frameWidth);
        FUZZ_CHECK(x >= left && x < right && y >= top && y < bottom);
    }
    return 0;
}
