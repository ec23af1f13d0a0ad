// The rules that keep settings a person edits usable: the rectangle inside
// the frame, the feather width and fade length within 0...50, a centred
// rectangle proposed for settings nobody has placed yet, and how a number
// typed into a field reads.
#ifndef DELBRIN_SETTINGS_RULES_H
#define DELBRIN_SETTINGS_RULES_H

#include <stdint.h>

#include "patch_settings.h"

enum {
    kMaxAmount = 50,  // the largest feather width and fade length a person can set
};

// The six numbers a person edits.
enum SettingsField {
    kFieldX,
    kFieldY,
    kFieldWidth,
    kFieldHeight,
    kFieldFeatherWidth,
    kFieldFadeFrames,
};

// The limits an up-down control gives a field. For y and height the lower
// limit is the larger number, so the upper arrow moves the top edge up and
// shrinks the height.
struct SpinRange {
    int32_t lower;
    int32_t upper;
};

// Replaces an unplaced rectangle (see IsUnplacedRect) by a centred one of a
// fifth of the frame size the settings last saw; any other rectangle stays.
void ProposeRect(PatchSettings* settings);

// Stores value into field, clamped against the frame size the settings last
// saw and the other fields: the upper bound first, so a width wider than the
// frame drives x to 0, and a position that leaves no room drives the width
// or height to 1.
void StoreFieldValue(PatchSettings* settings, SettingsField field, int32_t value);

// The range of field's up-down control, saturated to 32 bits.
SpinRange FieldSpinRange(const PatchSettings* settings, SettingsField field);

// A field's text as an unsigned decimal number seen as a signed 32-bit value:
// digits with optional spaces around them. Anything else (a sign, other
// characters, more than 32 bits) reads as 0.
int32_t ReadFieldNumber(const char* text);

#endif
