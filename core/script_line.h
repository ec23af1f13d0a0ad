// The Config script line the host saves and replays, and the summary text.
#ifndef DELBRIN_SCRIPT_LINE_H
#define DELBRIN_SCRIPT_LINE_H

#include <stdint.h>

#include "patch_settings.h"

// The twelve numbers of a Config line, in the line's order; the range text
// follows them as the thirteenth argument.
enum ConfigNumber {
    kConfigWidth,
    kConfigHeight,
    kConfigX,
    kConfigY,
    kConfigFeatherOn,     // switches are saved as 0/1, any non-zero reads as 1
    kConfigFadeOn,
    kConfigCancelTop,
    kConfigCancelBottom,
    kConfigCancelLeft,
    kConfigCancelRight,
    kConfigFeatherWidth,
    kConfigFadeFrames,
    kConfigNumberCount,
};

enum {
    kSummaryMaxLength = 50,  // characters of the summary, terminator not counted
};

// What each number means to a user, for messages: "width", "feather switch"...
extern const char* const kConfigNumberNames[kConfigNumberCount];

// The twelve numbers the settings save, switches as 0/1.
void SaveConfigNumbers(const PatchSettings* settings, int32_t numbers[kConfigNumberCount]);

// Stores the twelve numbers of a Config line (switches as 0/1, nothing
// clamped: only the dialog keeps the rectangle inside the frame) and parses
// its range text.
void StoreConfig(PatchSettings* settings, const int32_t numbers[kConfigNumberCount],
                 const char* rangeText);

// Writes the settings' Config line into buffer, at most capacity bytes and
// always terminated when capacity >= 1. Returns true.
bool FormatConfigLine(const PatchSettings* settings, char* buffer, int capacity);

// Writes the summary the host shows in its filter list, at most 50
// characters plus the terminator.
void FormatSummary(const PatchSettings* settings, char* buffer);

#endif
