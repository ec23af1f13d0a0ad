// Range text of any bytes and any length: the table and its text must agree,
// nothing outside the record may be written, the normal form must parse back
// to itself, and the script line must carry it unchanged.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "frame_ranges.h"
#include "fuzz_checks.h"
#include "script_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The text ends at its first NUL, as the host's would.
    std::string text(reinterpret_cast<const char*>(data), size);

    GuardedSettings guarded;
    FillGuards(&guarded);
    memset(&guarded.settings, 0x5C, sizeof guarded.settings);  // stale table and text
    ParseRanges(&guarded.settings, text.c_str());
    CheckGuards(&guarded);
    CheckRangeTable(&guarded.settings);

    // The normal form is a fixed point.
    GuardedSettings again;
    FillGuards(&again);
    ParseRanges(&again.settings, guarded.settings.rangeText);
    CheckGuards(&again);
    FUZZ_CHECK(again.settings.rangeCount == guarded.settings.rangeCount);
    FUZZ_CHECK(strcmp(again.settings.rangeText, guarded.settings.rangeText) == 0);

    // And so is the text as the script line carries it.
    char line[2048];
    FormatConfigLine(&guarded.settings, line, sizeof line);
    int32_t numbers[kConfigNumberCount];
    std::string saved;
    FUZZ_CHECK(ReadConfigLine(line, numbers, &saved));
    ParseRanges(&again.settings, saved.c_str());
    FUZZ_CHECK(strcmp(again.settings.rangeText, guarded.settings.rangeText) == 0);
    return 0;
}
