// The frame-range text: pairs of frame numbers parsed into the range table.
#ifndef DELBRIN_FRAME_RANGES_H
#define DELBRIN_FRAME_RANGES_H

#include "patch_settings.h"

// Parses text (NUL-terminated, any length) into the range table and writes
// the table's normal form, one "start end\r\n" line a range, to rangeText.
void ParseRanges(PatchSettings* settings, const char* text);

// The length of the settings' range text, read only within its 1024 bytes:
// a record that was not filled by ParseRanges may hold no terminator.
size_t RangeTextLength(const PatchSettings* settings);

#endif
