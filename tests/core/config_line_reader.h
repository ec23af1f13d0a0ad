// Reads a saved Config line back the way the host's script reader does, for
// the tests and the fuzz targets that check the line's round trip.
#ifndef DELBRIN_CONFIG_LINE_READER_H
#define DELBRIN_CONFIG_LINE_READER_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "script_line.h"

// Reads a Config line back as the host's script reader would: twelve decimal
// integers and one quoted string. False if the line is malformed.
inline bool ReadConfigLine(const char* line, int32_t numbers[kConfigNumberCount], std::string* text)
{
    const char prefix[] = "Config(";
    if (strncmp(line, prefix, strlen(prefix)) != 0) {
        return false;
    }
    const char* p = line + strlen(prefix);
    for (int i = 0; i < 12; ++i) {
        char* end;
        long long value = strtoll(p, &end, 10);
        if (end == p || value < INT32_MIN || value > INT32_MAX || strncmp(end, ", ", 2) != 0) {
            return false;
        }
        numbers[i] = (int32_t)value;
        p = end + 2;
    }
    if (*p != '"') {
        return false;
    }
    const char* close = strchr(p + 1, '"');
    if (close == NULL || strcmp(close, "\")") != 0) {
        return false;
    }
    text->assign(p + 1, close);
    return true;
}

#endif
