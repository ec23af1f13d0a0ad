// The Config line the host saves in its processing script and replays through
// the script function, and the summary it shows in its filter list.
//
// A saved line reads
//   Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, "100 200, 300 400, ")
// The range text travels with each line break written as ", ": both are
// range delimiters, so replaying the line rebuilds the same table and the
// same normal form.
#include "script_line.h"

#include <stdio.h>
#include <string.h>

#include "frame_ranges.h"

const char* const kConfigNumberNames[kConfigNumberCount] = {
    "width", "height", "x", "y", "feather switch", "fade switch",
    "cancel top", "cancel bottom", "cancel left", "cancel right",
    "feather width", "fade frames",
};

enum {
    // Longest line of any record: "Config(" 7, twelve numbers of at most 11
    // characters each followed by ", " 156, the quote 1, the text 1024, "\")" 2.
    kConfigLineRoom = 7 + kConfigNumberCount * 13 + 1 + kRangeTextSize + 2 + 1,
};

// The saved text: line breaks become delimiters that fit on one script line.
// Anything else that the normal form never holds but that could end the quoted
// string or the line early (a quote, a backslash, a control character) is
// written as a space, so a record whose text was not set by ParseRanges still
// gives a well-formed line. The text is read only within its 1024 bytes,
// whether or not they hold a terminator.
static void ScriptRangeText(const PatchSettings* settings, char out[kRangeTextSize + 1])
{
    const char* text = settings->rangeText;
    const size_t length = RangeTextLength(settings);
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = (unsigned char)text[i];
        if (c == '\r') {
            out[i] = ',';
        } else if (c == '\n') {
            out[i] = ' ';
        } else if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            out[i] = ' ';
        } else {
            out[i] = (char)c;
        }
    }
    out[length] = '\0';
}

void SaveConfigNumbers(const PatchSettings* settings, int32_t numbers[kConfigNumberCount])
{
    numbers[kConfigWidth]        = settings->width;
    numbers[kConfigHeight]       = settings->height;
    numbers[kConfigX]            = settings->x;
    numbers[kConfigY]            = settings->y;
    numbers[kConfigFeatherOn]    = settings->featherOn ? 1 : 0;
    numbers[kConfigFadeOn]       = settings->fadeOn ? 1 : 0;
    numbers[kConfigCancelTop]    = settings->cancelTop ? 1 : 0;
    numbers[kConfigCancelBottom] = settings->cancelBottom ? 1 : 0;
    numbers[kConfigCancelLeft]   = settings->cancelLeft ? 1 : 0;
    numbers[kConfigCancelRight]  = settings->cancelRight ? 1 : 0;
    numbers[kConfigFeatherWidth] = settings->featherWidth;
    numbers[kConfigFadeFrames]   = settings->fadeFrames;
}

bool FormatConfigLine(const PatchSettings* settings, char* buffer, int capacity)
{
    if (buffer == NULL || capacity <= 0) {
        return true;
    }
    if (settings == NULL) {
        buffer[0] = '\0';
        return true;
    }

    char ranges[kRangeTextSize + 1];
    ScriptRangeText(settings, ranges);

    // The whole line is formatted aside, then cut to what the host's buffer
    // holds: the host is told nothing about a cut, so the copy always ends
    // in a terminator for the host to stop at.
    int32_t n[kConfigNumberCount];
    SaveConfigNumbers(settings, n);
    char line[kConfigLineRoom];
    int length = snprintf(line, sizeof line,
                          "Config(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, \"%s\")",
                          (int)n[0], (int)n[1], (int)n[2], (int)n[3], (int)n[4], (int)n[5],
                          (int)n[6], (int)n[7], (int)n[8], (int)n[9], (int)n[10], (int)n[11],
                          ranges);
    if (length < 0) {
        length = 0;
    }
    if (length > capacity - 1) {
        length = capacity - 1;
    }
    memcpy(buffer, line, (size_t)length);
    buffer[length] = '\0';
    return true;
}

void StoreConfig(PatchSettings* settings, const int32_t numbers[kConfigNumberCount],
                 const char* rangeText)
{
    if (settings == NULL || numbers == NULL) {
        return;
    }
    // Only the dialog clamps: a script may place the rectangle anywhere.
    settings->width        = numbers[kConfigWidth];
    settings->height       = numbers[kConfigHeight];
    settings->x            = numbers[kConfigX];
    settings->y            = numbers[kConfigY];
    settings->featherOn    = numbers[kConfigFeatherOn] != 0;
    settings->fadeOn       = numbers[kConfigFadeOn] != 0;
    settings->cancelTop    = numbers[kConfigCancelTop] != 0;
    settings->cancelBottom = numbers[kConfigCancelBottom] != 0;
    settings->cancelLeft   = numbers[kConfigCancelLeft] != 0;
    settings->cancelRight  = numbers[kConfigCancelRight] != 0;
    settings->featherWidth = numbers[kConfigFeatherWidth];
    settings->fadeFrames   = numbers[kConfigFadeFrames];
    ParseRanges(settings, rangeText != NULL ? rangeText : "");
}

void FormatSummary(const PatchSettings* settings, char* buffer)
{
    if (buffer == NULL) {
        return;
    }
    if (settings == NULL) {
        buffer[0] = '\0';
        return;
    }
    // Four numbers of at most 11 characters and six fixed ones: the summary
    // is at most 50 characters whatever the record holds, and the bound
    // below makes sure of it. Height comes before width.
    snprintf(buffer, kSummaryMaxLength + 1, " %dx%d @ %d,%d", (int)settings->height,
             (int)settings->width, (int)settings->x, (int)settings->y);
}
