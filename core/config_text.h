// Reading the filter's settings from text: a Config(...) call as the host
// saves it, a whole host processing script, and the command's plain options.
#ifndef DELBRIN_CONFIG_TEXT_H
#define DELBRIN_CONFIG_TEXT_H

#include <stdint.h>

#include <string>
#include <vector>

#include "script_line.h"

// The thirteen arguments of a Config call.
struct ConfigCall {
    int32_t     numbers[kConfigNumberCount];  // width, height, x, y, ... fadeFrames
    std::string rangeText;                     // the quoted text, unescaped
};

// The numbers a fresh instance would save, and an empty range text.
ConfigCall DefaultConfigCall();

// The settings of an instance made as the host makes one and then replays
// its Config line: zero-filled, the defaults, then the call.
void SettingsFromCall(const ConfigCall& call, PatchSettings* settings);

// Parses "Config(12 integers, "text")", optionally prefixed by the host's
// object path (VirtualDub.video.filters.instance[0].) and followed by ";".
// On failure returns false and says, in *error, which argument is wrong.
bool ParseConfigCall(const char* text, ConfigCall* call, std::string* error);

// The Config calls of every Tavrel instance in a host processing script's
// video filter chain ("VirtualDub.video.filters.", the root name optional),
// in the order the script adds them after the chain's last Clear(), each
// from "Config(" on; the audio filter chain and other objects are passed by. "//" starts a comment to the end of the line, as in the host's script
// language (not inside double-quoted text); statements end at ";". Fails
// when the script adds no Tavrel instance or one without a Config line.
bool FindScriptConfigs(const char* script, std::vector<std::string>* calls, std::string* error);

// Whether a frame-range text reads strictly as start/end pairs the filter
// keeps: whole numbers only, an end for every start, every end after its
// start, at least one pair, and within the record's 512 ranges and 1023
// characters of normal text. Otherwise false with the reason. The filter
// itself reads any text (dropping what does not fit); this says when it
// would drop something.
bool CheckRangeText(const char* text, std::string* reason);

// The ranges the filter keeps from a text, for messages: "100 200, 300 400",
// or "none (every frame is patched)".
std::string DescribeKeptRanges(const char* text);

// The plain options, each "--name value" (or "--border"), applied on top of
// *call. Returns false with *error for a malformed value.
bool ApplyRectOption(const char* value, ConfigCall* call, std::string* error);
bool ApplyCancelOption(const char* value, ConfigCall* call, std::string* error);
// --feather N and --fade N switch the feature on and set its amount.
bool ApplyFeatherOption(const char* value, ConfigCall* call, std::string* error);
bool ApplyFadeOption(const char* value, ConfigCall* call, std::string* error);

#endif
