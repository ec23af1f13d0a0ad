// Reading the filter's settings from text: a Config(...) call as the host
// saves it, a whole host processing script, and the command's plain options.
#ifndef DELBRIN_CLI_CONFIG_TEXT_H
#define DELBRIN_CLI_CONFIG_TEXT_H

#include <stdint.h>

#include <string>

#include "script_line.h"

// The thirteen arguments of a Config call.
struct ConfigCall {
    int32_t     numbers[kConfigNumberCount];  // width, height, x, y, ... fadeFrames
    std::string rangeText;                     // the quoted text, unescaped
};

// The numbers a fresh instance would save, and an empty range text.
ConfigCall DefaultConfigCall();

// Parses "Config(12 integers, "text")", optionally prefixed by the host's
// object path (VirtualDub.video.filters.instance[0].) and followed by ";".
// On failure returns false and says, in *error, which argument is wrong.
bool ParseConfigCall(const char* text, ConfigCall* call, std::string* error);

// Finds the Config call of the Tavrel instance in a host processing script
// and returns its text from "Config(" on. *warning is set, without failing,
// when the script holds more than one Tavrel instance (the first is used).
bool FindScriptConfig(const char* script, std::string* callText, std::string* error,
                      std::string* warning);

// The plain options, each "--name value" (or "--border"), applied on top of
// *call. Returns false with *error for a malformed value.
bool ApplyRectOption(const char* value, ConfigCall* call, std::string* error);
bool ApplyCancelOption(const char* value, ConfigCall* call, std::string* error);
// --feather N and --fade N switch the feature on and set its amount.
bool ApplyFeatherOption(const char* value, ConfigCall* call, std::string* error);
bool ApplyFadeOption(const char* value, ConfigCall* call, std::string* error);

#endif
