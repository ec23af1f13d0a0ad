// The per-instance settings record and the core's view of a frame.
#ifndef DELBRIN_PATCH_SETTINGS_H
#define DELBRIN_PATCH_SETTINGS_H

#include <stddef.h>
#include <stdint.h>

// The host's activation record: the settings only keep a reference to it,
// which the core never follows.
struct Activation;

enum {
    kMaxRanges     = 512,   // slots of the frame-range table
    kRangeTextSize = 1024,  // bytes of the range text, terminator included
};

// The host allocates this record with the size the filter declares, copies it
// byte for byte when it duplicates an instance, and owns it. Booleans are
// single bytes holding 0 or 1. The field order is the record's binary layout.
struct PatchSettings {
    Activation* activation;   // this instance's activation record
    uint32_t*   patchPixels;  // a row of the patch, only while a frame is processed
    int32_t     width;        // the rectangle, in frame pixels
    int32_t     height;
    int32_t     x;            // 0 = the frame's leftmost column
    int32_t     y;            // 0 = the frame's top row
    uint8_t     showBorder;   // draw the dotted border into the patch
    int32_t     frameWidth;   // the source frame size last seen
    int32_t     frameHeight;
    uint8_t     cancelTop;    // take the top edge sample from the bottom row
    uint8_t     cancelBottom; // take the bottom edge sample from the top row
    uint8_t     cancelLeft;   // take the left sample from the right
    uint8_t     cancelRight;  // take the right sample from the left
    uint8_t     featherOn;
    int32_t     featherWidth; // pixels
    uint8_t     fadeOn;
    int32_t     fadeFrames;   // also widens every frame range
    char        rangeText[kRangeTextSize];  // the ranges in normal form
    int32_t     rangeStart[kMaxRanges];
    int32_t     rangeEnd[kMaxRanges];
    int32_t     rangeCount;
};

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(PatchSettings) == 5180, "settings layout");
static_assert(offsetof(PatchSettings, activation) == 0, "settings layout");
static_assert(offsetof(PatchSettings, patchPixels) == 4, "settings layout");
static_assert(offsetof(PatchSettings, width) == 8, "settings layout");
static_assert(offsetof(PatchSettings, height) == 12, "settings layout");
static_assert(offsetof(PatchSettings, x) == 16, "settings layout");
static_assert(offsetof(PatchSettings, y) == 20, "settings layout");
static_assert(offsetof(PatchSettings, showBorder) == 24, "settings layout");
static_assert(offsetof(PatchSettings, frameWidth) == 28, "settings layout");
static_assert(offsetof(PatchSettings, frameHeight) == 32, "settings layout");
static_assert(offsetof(PatchSettings, cancelTop) == 36, "settings layout");
static_assert(offsetof(PatchSettings, cancelBottom) == 37, "settings layout");
static_assert(offsetof(PatchSettings, cancelLeft) == 38, "settings layout");
static_assert(offsetof(PatchSettings, cancelRight) == 39, "settings layout");
static_assert(offsetof(PatchSettings, featherOn) == 40, "settings layout");
static_assert(offsetof(PatchSettings, featherWidth) == 44, "settings layout");
static_assert(offsetof(PatchSettings, fadeOn) == 48, "settings layout");
static_assert(offsetof(PatchSettings, fadeFrames) == 52, "settings layout");
static_assert(offsetof(PatchSettings, rangeText) == 56, "settings layout");
static_assert(offsetof(PatchSettings, rangeStart) == 1080, "settings layout");
static_assert(offsetof(PatchSettings, rangeEnd) == 3128, "settings layout");
static_assert(offsetof(PatchSettings, rangeCount) == 5176, "settings layout");
#elif INTPTR_MAX == INT64_MAX
// The 64-bit module: the two pointers take 8 bytes each and the record is
// padded to a multiple of 8.
static_assert(sizeof(PatchSettings) == 5192, "settings layout");
static_assert(offsetof(PatchSettings, activation) == 0, "settings layout");
static_assert(offsetof(PatchSettings, patchPixels) == 8, "settings layout");
static_assert(offsetof(PatchSettings, width) == 16, "settings layout");
static_assert(offsetof(PatchSettings, showBorder) == 32, "settings layout");
static_assert(offsetof(PatchSettings, frameWidth) == 36, "settings layout");
static_assert(offsetof(PatchSettings, cancelTop) == 44, "settings layout");
static_assert(offsetof(PatchSettings, featherOn) == 48, "settings layout");
static_assert(offsetof(PatchSettings, featherWidth) == 52, "settings layout");
static_assert(offsetof(PatchSettings, fadeOn) == 56, "settings layout");
static_assert(offsetof(PatchSettings, fadeFrames) == 60, "settings layout");
static_assert(offsetof(PatchSettings, rangeText) == 64, "settings layout");
static_assert(offsetof(PatchSettings, rangeStart) == 1088, "settings layout");
static_assert(offsetof(PatchSettings, rangeEnd) == 3136, "settings layout");
static_assert(offsetof(PatchSettings, rangeCount) == 5184, "settings layout");
#endif

// A frame as the core sees it: 32-bit pixels, rows stored bottom-up. A
// picture stored top-down is seen through its last row and a negative pitch.
struct FrameView {
    uint8_t* data;    // the first stored row, the bottom row of the image
    int32_t  width;
    int32_t  height;
    int32_t  pitch;   // bytes from one stored row to the next
};

// The address of pixel (x, y), y counted from the top of the image.
uint32_t* PixelAt(const FrameView* view, int32_t x, int32_t y);

// Gives a new instance its defaults; the range text is left alone (a new
// record from the host is zero-filled, so it reads as empty). Returns 0.
int InitSettings(PatchSettings* settings, Activation* activation);

// Whether the rectangle is still a new instance's 1 x 1 at (0, 0): nobody has
// placed it yet.
bool IsUnplacedRect(const PatchSettings* settings);

#endif
