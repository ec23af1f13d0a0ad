// The frame-range text: "100 200, 300 400" and the like, typed by the user or
// replayed from a script line, turned into the range table and rewritten in
// its normal form, one "start end\r\n" line a range, in the order accepted.
//
// The text is tokenised in place: it may be a script's text of any length
// that belongs to the host, so it is neither copied nor modified.
#include "frame_ranges.h"

#include <stdio.h>
#include <string.h>

// The characters that separate numbers. A tab is not one: "1\t2" is a single
// token that reads as 1.
static bool IsRangeDelimiter(char c)
{
    return c == ',' || c == ' ' || c == '\r' || c == '\n';
}

// The white space atol skips before a number. Spelled out rather than
// isspace() so that the locale cannot change what a saved script means.
static bool IsLeadingSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the token [begin, end) as atol would: leading white space, an optional
// sign, then digits up to the first non-digit; a token that does not start
// with a number reads as 0 ("abc" 0, "12abc" 12, "1.5" 1).
//
// Unlike atol the result does not depend on the build: the Windows module's
// long is 32 bits and the native build's is 64, and atol's behaviour beyond
// either is undefined. Here a number past the signed 32-bit range reads as
// INT32_MAX or INT32_MIN, on every build, however many digits it has.
static int32_t ReadRangeNumber(const char* begin, const char* end)
{
    const char* p = begin;
    while (p < end && IsLeadingSpace(*p)) {
        ++p;
    }
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    // The magnitude is kept at most one past INT32_MAX, which is exactly
    // the magnitude of INT32_MIN, so it never overflows.
    const int64_t limit = negative ? -(int64_t)INT32_MIN : (int64_t)INT32_MAX;
    int64_t magnitude = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) {
            magnitude = limit;
        }
    }
    return (int32_t)(negative ? -magnitude : magnitude);
}

// The first token at or after *cursor: returns false when only delimiters
// remain, else sets [*begin, *end) and moves *cursor past it.
static bool NextRangeToken(const char** cursor, const char** begin, const char** end)
{
    const char* p = *cursor;
    while (*p != '\0' && IsRangeDelimiter(*p)) {
        ++p;
    }
    if (*p == '\0') {
        *cursor = p;
        return false;
    }
    *begin = p;
    while (*p != '\0' && !IsRangeDelimiter(*p)) {
        ++p;
    }
    *end = p;
    *cursor = p;
    return true;
}

void ParseRanges(PatchSettings* settings, const char* text)
{
    if (settings == NULL) {
        return;
    }
    if (text == NULL) {
        text = "";
    }

    // The normal form is built aside and copied in at the end, because the
    // text being read may be rangeText itself and the normal form can run
    // ahead of it ("1 2" becomes "1 2\r\n").
    char normal[kRangeTextSize];
    int normalLength = 0;
    int count = 0;

    // Tokens alternate between the start and the end role, whether or not
    // the pair they make is kept; a start without an end is dropped.
    bool startRole = true;
    int32_t pendingStart = 0;
    const char* cursor = text;
    const char* begin;
    const char* end;
    while (NextRangeToken(&cursor, &begin, &end)) {
        int32_t value = ReadRangeNumber(begin, end);
        if (startRole) {
            pendingStart = value;
            startRole = false;
            continue;
        }
        startRole = true;
        if (value <= pendingStart) {
            continue;  // the end must lie strictly after the start
        }

        // The table and the text have fixed room. Input stops at the first
        // range for which either is full, so that every range in the table
        // has its line in the text and the text has no other line.
        char line[32];
        int lineLength = snprintf(line, sizeof line, "%d %d\r\n", (int)pendingStart, (int)value);
        if (count == kMaxRanges || normalLength + lineLength > kRangeTextSize - 1) {
            break;
        }
        memcpy(normal + normalLength, line, (size_t)lineLength);
        normalLength += lineLength;
        settings->rangeStart[count] = pendingStart;
        settings->rangeEnd[count] = value;
        ++count;
    }

    normal[normalLength] = '\0';
    memcpy(settings->rangeText, normal, (size_t)normalLength + 1);
    settings->rangeCount = count;
}

size_t RangeTextLength(const PatchSettings* settings)
{
    const void* terminator = memchr(settings->rangeText, '\0', kRangeTextSize);
    return terminator ? (size_t)((const char*)terminator - settings->rangeText)
                      : (size_t)kRangeTextSize;
}
