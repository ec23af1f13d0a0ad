// The Config script line the host saves and replays, and the summary text.
#ifndef DELBRIN_SCRIPT_LINE_H
#define DELBRIN_SCRIPT_LINE_H

#include <stdint.h>

#include "patch_settings.h"

enum {
    kConfigNumberCount = 12,  // integers of a Config line, before its text
    kSummaryMaxLength  = 50,  // characters of the summary, terminator not counted
};

// The name and signature under which the host knows the script function.
extern const char kConfigFunctionName[];       // "Config"
extern const char kConfigFunctionSignature[];  // "0iiiiiiiiiiiis"

// Writes the settings' Config line into buffer, at most capacity bytes and
// always terminated when capacity >= 1. Returns true.
bool FormatConfigLine(const PatchSettings* settings, char* buffer, int capacity);

// Stores the twelve numbers of a Config line (width, height, x, y, featherOn,
// fadeOn, cancelTop, cancelBottom, cancelLeft, cancelRight, featherWidth,
// fadeFrames; switches as 0/1, nothing clamped) and parses its range text.
void StoreConfig(PatchSettings* settings, const int32_t numbers[kConfigNumberCount],
                 const char* rangeText);

// The script function Config, as the host calls it: activation is the
// instance's Activation, arguments the line's thirteen values.
void ApplyConfig(void* interpreter, void* activation, const ScriptValue* arguments, int count);

// Writes the summary the host shows in its filter list, at most 50
// characters plus the terminator.
void FormatSummary(const PatchSettings* settings, char* buffer);

#endif
