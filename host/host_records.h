// The host's records that reach the filter's callbacks: the activation record,
// its bitmaps and frame state, and the script function's arguments.
//
// The host hands the filter pointers to records it owns; these declarations
// follow the host's published layout member for member, for the 32-bit and
// for the 64-bit host (the asserts at the bottom pin both). They need no
// window system, so the host binding's frame and script handling also builds
// natively for its tests. Only the members the filter uses are named; the
// others keep their places.
#ifndef DELBRIN_HOST_RECORDS_H
#define DELBRIN_HOST_RECORDS_H

#include <stddef.h>
#include <stdint.h>

struct PatchSettings;
struct FilterDefinition;  // host/host_interface.h
struct PreviewInterface;  // host/host_interface.h

// A frame bitmap: 32-bit pixels, rows stored bottom-up.
struct HostBitmap {
    void*     hostVtable;  // the host's own; never touched
    uint32_t* data;        // the first stored row, the bottom row of the image
    uint32_t* palette;
    int32_t   depth;       // bits per pixel, 32 here
    int32_t   width;
    int32_t   height;
    ptrdiff_t pitch;       // bytes from one stored row to the next
    ptrdiff_t modulo;
    ptrdiff_t size;
    ptrdiff_t offset;
    uint32_t  flags;       // more host members follow, unused by the filter
};

struct FrameState {
    int32_t currentFrame;  // the number of the frame being processed
    // timing members follow, unused by the filter
};

// One per filter instance, passed to every callback.
struct Activation {
    FilterDefinition* definition;  // the host's copy of the registered record
    PatchSettings*    settings;    // the instance data
    HostBitmap*       destination;
    HostBitmap*       source;
    HostBitmap*       reserved;
    HostBitmap*       previousFrame;
    uint32_t          crop[4];
    FrameState*       frameState;
    PreviewInterface* preview;
};

// One argument of a script function call. An integer is read from the
// union's first four bytes whatever the tag says.
enum ScriptValueType {
    kScriptVoid    = 0,
    kScriptInt     = 1,
    kScriptString  = 3,
    kScriptInt64   = 9,
};

struct ScriptValue {
    int32_t type;
    void*   object;
    union {
        int32_t number;  // also the low half of a 64-bit integer
        char**  text;    // the host's pointer to the text
        int64_t wide;
    } value;
};

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(HostBitmap) == 44, "bitmap layout");
static_assert(offsetof(HostBitmap, hostVtable) == 0, "bitmap layout");
static_assert(offsetof(HostBitmap, data) == 4, "bitmap layout");
static_assert(offsetof(HostBitmap, palette) == 8, "bitmap layout");
static_assert(offsetof(HostBitmap, depth) == 12, "bitmap layout");
static_assert(offsetof(HostBitmap, width) == 16, "bitmap layout");
static_assert(offsetof(HostBitmap, height) == 20, "bitmap layout");
static_assert(offsetof(HostBitmap, pitch) == 24, "bitmap layout");
static_assert(offsetof(HostBitmap, modulo) == 28, "bitmap layout");
static_assert(offsetof(HostBitmap, size) == 32, "bitmap layout");
static_assert(offsetof(HostBitmap, offset) == 36, "bitmap layout");
static_assert(offsetof(HostBitmap, flags) == 40, "bitmap layout");
static_assert(offsetof(FrameState, currentFrame) == 0, "frame state layout");
static_assert(sizeof(Activation) == 48, "activation layout");
static_assert(offsetof(Activation, definition) == 0, "activation layout");
static_assert(offsetof(Activation, settings) == 4, "activation layout");
static_assert(offsetof(Activation, destination) == 8, "activation layout");
static_assert(offsetof(Activation, source) == 12, "activation layout");
static_assert(offsetof(Activation, reserved) == 16, "activation layout");
static_assert(offsetof(Activation, previousFrame) == 20, "activation layout");
static_assert(offsetof(Activation, crop) == 24, "activation layout");
static_assert(sizeof(Activation::crop) == 16, "activation layout: four crop values at 24, 28, 32, 36");
static_assert(offsetof(Activation, frameState) == 40, "activation layout");
static_assert(offsetof(Activation, preview) == 44, "activation layout");
static_assert(sizeof(ScriptValue) == 16, "script value layout");
static_assert(offsetof(ScriptValue, type) == 0, "script value layout");
static_assert(offsetof(ScriptValue, object) == 4, "script value layout");
static_assert(offsetof(ScriptValue, value) == 8, "script value layout");
#elif INTPTR_MAX == INT64_MAX
// The 64-bit host: pointers and the pointer-sized pitch, modulo, size and
// offset are 8 bytes, the 32-bit integers stay 4, natural alignment.
static_assert(sizeof(HostBitmap) == 80, "bitmap layout");
static_assert(offsetof(HostBitmap, hostVtable) == 0, "bitmap layout");
static_assert(offsetof(HostBitmap, data) == 8, "bitmap layout");
static_assert(offsetof(HostBitmap, palette) == 16, "bitmap layout");
static_assert(offsetof(HostBitmap, depth) == 24, "bitmap layout");
static_assert(offsetof(HostBitmap, width) == 28, "bitmap layout");
static_assert(offsetof(HostBitmap, height) == 32, "bitmap layout");
static_assert(offsetof(HostBitmap, pitch) == 40, "bitmap layout");
static_assert(offsetof(HostBitmap, modulo) == 48, "bitmap layout");
static_assert(offsetof(HostBitmap, size) == 56, "bitmap layout");
static_assert(offsetof(HostBitmap, offset) == 64, "bitmap layout");
static_assert(offsetof(HostBitmap, flags) == 72, "bitmap layout");
static_assert(offsetof(FrameState, currentFrame) == 0, "frame state layout");
static_assert(sizeof(Activation) == 80, "activation layout");
static_assert(offsetof(Activation, definition) == 0, "activation layout");
static_assert(offsetof(Activation, settings) == 8, "activation layout");
static_assert(offsetof(Activation, destination) == 16, "activation layout");
static_assert(offsetof(Activation, source) == 24, "activation layout");
static_assert(offsetof(Activation, reserved) == 32, "activation layout");
static_assert(offsetof(Activation, previousFrame) == 40, "activation layout");
static_assert(offsetof(Activation, crop) == 48, "activation layout");
static_assert(sizeof(Activation::crop) == 16, "activation layout: four crop values at 48, 52, 56, 60");
static_assert(offsetof(Activation, frameState) == 64, "activation layout");
static_assert(offsetof(Activation, preview) == 72, "activation layout");
static_assert(sizeof(ScriptValue) == 24, "script value layout");
static_assert(offsetof(ScriptValue, type) == 0, "script value layout");
static_assert(offsetof(ScriptValue, object) == 8, "script value layout");
static_assert(offsetof(ScriptValue, value) == 16, "script value layout");
#endif

#endif
