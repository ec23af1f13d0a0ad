// The summary of any record fits the host's 50 characters and reads back as
// the record's height, width, x and y.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "fuzz_checks.h"
#include "script_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PatchSettings settings;
    memset(&settings, 0, sizeof settings);
    memcpy(&settings, data, size < sizeof settings ? size : sizeof settings);

    // Exactly the room the host is promised: a write past it is caught.
    std::vector<char> buffer(kSummaryMaxLength + 1);
    FormatSummary(&settings, buffer.data());
    FUZZ_CHECK(memchr(buffer.data(), '\0', buffer.size()) != NULL);

    int height, width, x, y;
    char rest;
    FUZZ_CHECK(sscanf(buffer.data(), " %dx%d @ %d,%d%c", &height, &width, &x, &y, &rest) == 4);
    FUZZ_CHECK(buffer[0] == ' ');
    FUZZ_CHECK(height == settings.height && width == settings.width);
    FUZZ_CHECK(x == settings.x && y == settings.y);
    return 0;
}
