// The Config line of any record, cut to any capacity: nothing is written past
// the capacity, the cut line is a terminated prefix of the whole line, the
// whole line is well formed, and replaying it restores every saved field.
//
// Input: 4 bytes of capacity, 1 byte of mode, then the record's bytes; in
// mode 1 the bytes after the record are range text parsed into it, so the
// record is one the filter itself could hold.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "frame_ranges.h"
#include "fuzz_checks.h"
#include "script_line.h"

static std::string LineOf(const PatchSettings* settings)
{
    std::vector<char> line(4096, 0x5A);
    FUZZ_CHECK(FormatConfigLine(settings, line.data(), (int)line.size()));
    const char* end = (const char*)memchr(line.data(), '\0', line.size());
    FUZZ_CHECK(end != NULL && end < line.data() + line.size() - 1);
    return std::string(line.data(), (size_t)(end - line.data()));
}

static void Replay(const std::string& line, PatchSettings* restored)
{
    int32_t numbers[kConfigNumberCount];
    std::string text;
    FUZZ_CHECK(ReadConfigLine(line.c_str(), numbers, &text));
    StoreConfig(restored, numbers, text.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5) {
        return 0;
    }
    int32_t raw;
    memcpy(&raw, data, 4);
    int capacity = raw <= 0 ? raw : 1 + raw % 1500;
    bool parseTail = data[4] & 1;
    data += 5;
    size -= 5;

    PatchSettings settings;
    memset(&settings, 0, sizeof settings);
    size_t recordBytes = size < sizeof settings ? size : sizeof settings;
    memcpy(&settings, data, recordBytes);
    if (parseTail) {
        std::string tail(reinterpret_cast<const char*>(data + recordBytes), size - recordBytes);
        ParseRanges(&settings, tail.c_str());
    }

    // The cut line: exactly capacity bytes of room.
    std::vector<char> buffer(capacity > 0 ? capacity : 1, 0x5A);
    FUZZ_CHECK(FormatConfigLine(&settings, buffer.data(), capacity));
    std::string whole = LineOf(&settings);
    if (capacity <= 0) {
        FUZZ_CHECK(buffer[0] == 0x5A);
    } else {
        size_t kept = whole.size() < (size_t)capacity - 1 ? whole.size() : (size_t)capacity - 1;
        FUZZ_CHECK(buffer[kept] == '\0');
        FUZZ_CHECK(memcmp(buffer.data(), whole.data(), kept) == 0);
    }

    // The round trip.
    GuardedSettings restored;
    FillGuards(&restored);
    memset(&restored.settings, 0, sizeof restored.settings);
    Replay(whole, &restored.settings);
    CheckGuards(&restored);
    const PatchSettings& r = restored.settings;
    FUZZ_CHECK(r.width == settings.width && r.height == settings.height);
    FUZZ_CHECK(r.x == settings.x && r.y == settings.y);
    FUZZ_CHECK(r.featherOn == (settings.featherOn != 0) && r.fadeOn == (settings.fadeOn != 0));
    FUZZ_CHECK(r.cancelTop == (settings.cancelTop != 0));
    FUZZ_CHECK(r.cancelBottom == (settings.cancelBottom != 0));
    FUZZ_CHECK(r.cancelLeft == (settings.cancelLeft != 0));
    FUZZ_CHECK(r.cancelRight == (settings.cancelRight != 0));
    FUZZ_CHECK(r.featherWidth == settings.featherWidth && r.fadeFrames == settings.fadeFrames);
    FUZZ_CHECK(r.showBorder == 0);
    CheckRangeTable(&r);
    if (RangeTableAgrees(&settings)) {
        // A record the filter could hold comes back exactly.
        FUZZ_CHECK(strcmp(r.rangeText, settings.rangeText) == 0);
        FUZZ_CHECK(LineOf(&r) == whole);
    } else {
        // Any other settles after one replay.
        std::string second = LineOf(&r);
        PatchSettings again;
        memset(&again, 0, sizeof again);
        Replay(second, &again);
        FUZZ_CHECK(LineOf(&again) == second);
    }
    return 0;
}
