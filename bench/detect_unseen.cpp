// `delbrin detect` judged on clips drawn at random: footage of the kinds
// detect's tests make (tests/cli/footage_clip.h), from pictures the tests
// never use, each clip drawn from a seed.
//
//   detect_unseen DELBRIN PICTURES WORK SEED COUNT
//
// PICTURES is a folder of pictures (bench/detect-unseen.sh fills it); the
// clips are made in WORK (kept there: the same seed makes the same clips,
// which are made once). Each clip is drawn from SEED and its number, so
// clip 7 of seed 1 is the same clip whatever COUNT is. A clip with a logo
// is right when the logo is found, its region's IoU is at least 0.9 (0.8
// for a translucent logo), the proposed rectangle covers it and the Config
// line's ranges, read by the filter core, patch every frame that shows it;
// a clip without one when nothing is proposed. Prints a line a clip and a
// summary; the commands that make each wrong clip go to WORK/wrong.txt.
// Exits 0 when all are right, 1 when any is wrong.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "config_text.h"
#include "footage_clip.h"
#include "patch_settings.h"
#include "shell_run.h"

namespace {

std::vector<std::string> PicturesIn(const std::string& dir) {
    std::vector<std::string> found;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.') found.push_back(dir + "/" + e->d_name);
        closedir(d);
    }
    std::sort(found.begin(), found.end());  // the order readdir gives varies
    return found;
}

struct Draw {
    std::mt19937 random;
    double uniform(double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); }
    int whole(int a, int b) { return std::uniform_int_distribution<int>(a, b)(random); }
    bool chance(double p) { return uniform(0, 1) < p; }
};

// The logo's picture's height for its width: the text fits its letters.
double Aspect(FootageLogo logo) {
    switch (logo) {
    case kLogoPlateWithText: return 0.38;
    case kLogoBug: return 0.7;
    case kLogoOutlinedText: return 0.32;
    case kLogoWatermark: return 0.4;
    default: return 0.45;
    }
}

FootageClip DrawClip(uint32_t seed, int number, const std::vector<std::string>& pictures) {
    Draw d{std::mt19937(seed * 100003u + (uint32_t)number)};
    FootageClip c = {};
    const int sizes[][2] = {{720, 576}, {1024, 576}, {1280, 720}, {1920, 1080}};
    const int* size = sizes[d.whole(0, 3)];
    c.width = size[0], c.height = size[1];
    c.interlaced = c.width != 1024 && c.height != 720 && d.chance(0.5);
    c.codec = (Codec)d.whole(0, 2);
    c.seconds = d.whole(6, 12);

    const double motion = d.uniform(0, 1);
    c.motion = motion < 0.5 ? kPan : motion < 0.65 ? kZoom : kCuts;
    c.zoom = d.uniform(1.2, 2.0);
    c.x0 = d.uniform(0, 1), c.y0 = d.uniform(0, 1), c.x1 = d.uniform(0, 1), c.y1 = d.uniform(0, 1);
    if (motion >= 0.4 && motion < 0.5) c.x1 = c.x0 + (c.x0 < 0.5 ? 0.15 : -0.15), c.y1 = c.y0;  // a slow pan
    const int count = c.motion == kCuts ? d.whole(3, 5) : 1;
    for (int i = 0; i < count; i++) c.pictures.push_back(pictures[d.whole(0, (int)pictures.size() - 1)]);

    if (d.chance(0.3)) c.grain = d.whole(4, 14);
    if (d.chance(0.2)) c.bars = c.height * d.whole(10, 15) / 200 * 2;
    c.fades = d.chance(0.25);
    if (d.chance(0.15)) c.blackFrom = d.uniform(1.5, c.seconds - 3), c.blackTo = c.blackFrom + d.uniform(0.5, 1.5);
    const bool stillThird = d.chance(0.1);

    char name[64];
    if (d.chance(0.15)) {
        c.logo = kLogoNone;
    } else {
        c.logo = (FootageLogo)d.whole(kLogoPlateWithText, kLogoRedText);
        c.w = std::max(12, (int)(c.width * d.uniform(0.03, 0.15)));
        c.h = std::max(8, (int)(c.w * Aspect(c.logo)));
        // A corner or the middle of an edge, inside the picture between the bars.
        const int inX = (int)(c.width * d.uniform(0.02, 0.06)), inY = c.bars + (int)(c.height * d.uniform(0.02, 0.06));
        const int place = d.whole(0, 7);
        const int across[] = {inX, (c.width - c.w) / 2, c.width - c.w - inX};
        const int down[] = {inY, (c.height - c.h) / 2, c.height - c.h - inY};
        const int column[] = {0, 1, 2, 0, 2, 0, 1, 2}, row[] = {0, 0, 0, 1, 1, 2, 2, 2};
        c.x = across[column[place]], c.y = down[row[place]];
        c.opacity = c.logo == kLogoWatermark ? d.uniform(0.25, 0.45) : d.chance(0.4) ? 1.0 : d.uniform(0.25, 0.95);
        const int frames = FrameCount(c);
        if (d.chance(0.5)) {
            // Shown in part: 15 % to nearly all of the clip, in one stretch
            // or around an ad break of 1.5 to 3 seconds.
            const int shown = (int)(frames * d.uniform(0.15, 0.95));
            const int gap = (int)(kFootageRate * d.uniform(1.5, 3));
            if (d.chance(0.5) && shown + gap < frames) {
                // Each side of the break at least a second, or half of it.
                const int least = std::min(kFootageRate, shown / 2);
                const int first = d.whole(0, frames - shown - gap), before = d.whole(least, shown - least);
                c.shown = {{first, first + before - 1}, {first + before + gap, first + shown + gap - 1}};
            } else {
                const int first = d.whole(0, frames - shown);
                c.shown = {{first, first + shown - 1}};
            }
        }
    }
    // A logo over a part of the picture that holds still cannot be told
    // from it: the still third goes only to clips without one.
    c.stillThird = stillThird && c.logo == kLogoNone;
    snprintf(name, sizeof name, "unseen-%u-%03d", seed, number);
    c.name = name;
    return c;
}

std::string Describe(const FootageClip& c) {
    const char* motions[] = {"pan", "zoom", "cuts", "still"};
    const char* logos[] = {"none", "plate", "bug", "text", "outlined", "shadow", "watermark", "red-text"};
    const char* codecs[] = {"crf20", "crf30", "mpeg2"};
    int shown = 0;
    for (const Span& s : c.shown) shown += s.last - s.first + 1;
    char text[256];
    snprintf(text, sizeof text, "%dx%d%s %s %s %s%s%s%s%s %s %dx%d@%d,%d a%.2f %d%%%s", c.width, c.height,
             c.interlaced ? "i" : "p", codecs[c.codec], motions[c.motion], c.grain ? "grain " : "",
             c.bars ? "bars " : "", c.fades ? "fades " : "", c.blackTo > c.blackFrom ? "black " : "",
             c.stillThird ? "third " : "", logos[c.logo], c.w, c.h, c.x, c.y, c.opacity,
             c.shown.empty() ? 100 : shown * 100 / FrameCount(c), c.shown.size() > 1 ? " break" : "");
    return text;
}

// The text of a JSON string after "key": , unescaped; "" when absent.
std::string JsonText(const std::string& json, const std::string& key) {
    size_t at = json.find("\"" + key + "\": \"");
    if (at == std::string::npos) return "";
    std::string text;
    for (at += key.size() + 5; at < json.size() && json[at] != '"'; at++) {
        if (json[at] == '\\' && at + 1 < json.size()) {
            at++;
            text += json[at] == 'n' ? '\n' : json[at] == 'r' ? '\r' : json[at] == 't' ? '\t' : json[at];
        } else {
            text += json[at];
        }
    }
    return text;
}

bool JsonRect(const std::string& json, const std::string& key, PixelRect* r) {
    const size_t at = json.find("\"" + key + "\": {");
    return at != std::string::npos &&
           sscanf(json.c_str() + at + key.size() + 4, "{\"x\": %d, \"y\": %d, \"width\": %d, \"height\": %d}", &r->x,
                  &r->y, &r->width, &r->height) == 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        fprintf(stderr, "usage: detect_unseen DELBRIN PICTURES WORK SEED COUNT\n");
        return 2;
    }
    const std::string delbrin = argv[1], work = argv[3];
    const uint32_t seed = (uint32_t)strtoul(argv[4], nullptr, 10);
    const int count = atoi(argv[5]);
    const std::vector<std::string> pictures = PicturesIn(argv[2]);
    if (pictures.empty()) {
        fprintf(stderr, "no pictures in %s\n", argv[2]);
        return 2;
    }
    FILE* wrongFile = fopen((work + "/wrong.txt").c_str(), "w");
    if (!wrongFile) {
        fprintf(stderr, "cannot write in %s\n", work.c_str());
        return 2;
    }

    int logos = 0, found = 0, rangesHeld = 0, covered = 0, iouHeld = 0, alone = 0, proposed = 0, right = 0;
    double worstIou = 1;
    for (int i = 0; i < count; i++) {
        const FootageClip c = DrawClip(seed, i, pictures);
        std::string logoPath, error, json;
        const std::string clip = MakeFootageClip(c, work, &logoPath, &error);
        if (clip.empty()) {
            fprintf(stderr, "%s\n", error.c_str());
            return 2;
        }
        const int code = Shell(Quote(delbrin) + " detect " + Quote(clip) + " --ranges --json 2>/dev/null", &json);
        const std::string verdict = JsonText(json, "verdict");
        std::string said;
        if (c.logo == kLogoNone) {
            alone++;
            if (code == 0) said = "a logo proposed", proposed++;
            printf("%-18s %-62s %-8s%s\n", c.name.c_str(), Describe(c).c_str(), verdict.c_str(),
                   said.empty() ? "" : ("  WRONG: " + said).c_str());
        } else {
            logos++;
            PixelRect truth, region, rectangle;
            if (!LogoTruth(c, logoPath, &truth)) {
                fprintf(stderr, "%s: the logo's picture cannot be read\n", c.name.c_str());
                return 2;
            }
            ConfigCall call;
            std::string configError;
            if (code != 0 || !JsonRect(json, "region", &region) || !JsonRect(json, "rectangle", &rectangle) ||
                !ParseConfigCall(JsonText(json, "config").c_str(), &call, &configError)) {
                said = "not found (exit " + std::to_string(code) + ")";
                printf("%-18s %-62s %-8s  WRONG: %s\n", c.name.c_str(), Describe(c).c_str(), verdict.c_str(),
                       said.c_str());
            } else {
                found++;
                static PatchSettings settings;
                SettingsFromCall(call, &settings);
                const Judgement j = JudgeFound(c, truth, region, rectangle, settings, 8);
                worstIou = std::min(worstIou, j.iou);
                iouHeld += j.iouHeld, covered += j.covers, rangesHeld += j.ranges.missed == 0;
                char line[256];
                if (!j.iouHeld)
                    snprintf(line, sizeof line, "IoU %.3f (found %d,%d %dx%d, logo %d,%d %dx%d); ", j.iou, region.x,
                             region.y, region.width, region.height, truth.x, truth.y, truth.width, truth.height),
                        said += line;
                if (!j.covers)
                    snprintf(line, sizeof line, "rectangle %d,%d %dx%d misses the logo %d,%d %dx%d; ", rectangle.x,
                             rectangle.y, rectangle.width, rectangle.height, truth.x, truth.y, truth.width,
                             truth.height),
                        said += line;
                if (j.ranges.missed)
                    said += std::to_string(j.ranges.missed) + " frames showing it unpatched (ranges \"" +
                            JsonText(json, "ranges") + "\"); ";
                printf("%-18s %-62s %-8s IoU %.3f covers %-3s missed %3d extra %3d%s\n", c.name.c_str(),
                       Describe(c).c_str(), verdict.c_str(), j.iou, j.covers ? "yes" : "NO", j.ranges.missed,
                       j.ranges.extra, said.empty() ? "" : "  WRONG");
            }
        }
        fflush(stdout);
        if (said.empty()) {
            right++;
        } else {
            const std::string made = c.name + (c.codec == kMpeg2 ? ".mpg" : ".mp4");
            const FootageCommands commands = FootageCommandsFor(c, "logo.png", made);
            std::string shown = c.shown.empty() ? "all" : "";
            for (const Span& s : c.shown)
                shown += (shown.empty() ? "" : ", ") + std::to_string(s.first) + "-" + std::to_string(s.last);
            fprintf(wrongFile, "%s: %s\n  %s; %d frames, the logo in %s\n", c.name.c_str(), said.c_str(),
                    Describe(c).c_str(), FrameCount(c), shown.c_str());
            if (!commands.logo.empty()) fprintf(wrongFile, "  %s\n", commands.logo.c_str());
            fprintf(wrongFile, "  %s\n  delbrin detect %s --ranges\n\n", commands.clip.c_str(), made.c_str());
            fflush(wrongFile);
        }
    }
    fclose(wrongFile);
    printf("\nseed %u, %d clips: %d right\n", seed, count, right);
    printf("logos found %d/%d, IoU held %d/%d (worst %.3f), rectangle covers %d/%d, ranges held %d/%d; "
           "false proposals %d/%d clips without a logo\n",
           found, logos, iouHeld, found, found ? worstIou : 0.0, covered, found, rangesHeld, found, proposed, alone);
    return right == count ? 0 : 1;
}
