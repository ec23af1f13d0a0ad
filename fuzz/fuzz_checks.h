// Invariant checks shared by the fuzz targets. A failed check aborts, which
// libFuzzer reports as a crash with the input that caused it.
#ifndef DELBRIN_FUZZ_CHECKS_H
#define DELBRIN_FUZZ_CHECKS_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "config_line_reader.h"
#include "patch_settings.h"
#include "script_line.h"

#define FUZZ_CHECK(condition)                                                       \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                \
        }                                                                           \
    } while (0)

// A settings record between guard bytes, to catch writes just outside it.
struct GuardedSettings {
    unsigned char before[64];
    PatchSettings settings;
    unsigned char after[64];
};

inline void FillGuards(GuardedSettings* guarded)
{
    memset(guarded->before, 0xA5, sizeof guarded->before);
    memset(guarded->after, 0xA5, sizeof guarded->after);
}

inline void CheckGuards(const GuardedSettings* guarded)
{
    for (unsigned char byte : guarded->before) {
        FUZZ_CHECK(byte == 0xA5);
    }
    for (unsigned char byte : guarded->after) {
        FUZZ_CHECK(byte == 0xA5);
    }
}

// The table and its text agree: every range has start < end and its line in
// the text, in table order, and the text holds nothing else.
inline bool RangeTableAgrees(const PatchSettings* settings)
{
    if (settings->rangeCount < 0 || settings->rangeCount > kMaxRanges ||
        memchr(settings->rangeText, '\0', kRangeTextSize) == NULL) {
        return false;
    }
    std::string normal;
    for (int i = 0; i < settings->rangeCount; ++i) {
        if (settings->rangeStart[i] >= settings->rangeEnd[i]) {
            return false;
        }
        normal += std::to_string(settings->rangeStart[i]) + " " +
                  std::to_string(settings->rangeEnd[i]) + "\r\n";
    }
    return normal == settings->rangeText;
}

inline void CheckRangeTable(const PatchSettings* settings)
{
    FUZZ_CHECK(RangeTableAgrees(settings));
}

#endif
