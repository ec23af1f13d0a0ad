#include "filter_setup.h"

#include <stdio.h>
#include <string.h>

#include "frame_run.h"
#include "script_line.h"

std::vector<PatchSettings> MakeInstances(const Options& options, bool border) {
    std::vector<PatchSettings> instances(options.instances.size());
    for (size_t i = 0; i < instances.size(); i++) {
        PatchSettings* s = &instances[i];
        SettingsFromCall(options.instances[i].call, s);
        s->showBorder = border ? 1 : 0;
    }
    return instances;
}

void WarnAboutRectangles(const std::vector<PatchSettings>& instances, int frameWidth, int frameHeight) {
    for (const PatchSettings& s : instances) {
        const PixelRect inside = RectInFrame(&s, frameWidth, frameHeight);
        if (inside.width > 0 && inside.x == s.x && inside.y == s.y && inside.width == s.width &&
            inside.height == s.height)
            continue;
        fprintf(stderr, "delbrin: warning: the rectangle %d,%d %dx%d does not lie inside the %dx%d frame; ", s.x, s.y,
                s.width, s.height, frameWidth, frameHeight);
        if (inside.width == 0 || inside.height == 0)
            fprintf(stderr, "nothing will be patched there\n");
        else
            fprintf(stderr, "patching %d,%d %dx%d, the part inside\n", inside.x, inside.y, inside.width, inside.height);
    }
}

void PrintConfigs(const std::vector<PatchSettings>& instances) {
    for (const PatchSettings& s : instances) {
        char line[2048];
        char summary[kSummaryMaxLength + 1];
        FormatConfigLine(&s, line, sizeof line);
        FormatSummary(&s, summary);
        printf("%s\n", line);
        printf("summary:%s\n", summary);
    }
}
