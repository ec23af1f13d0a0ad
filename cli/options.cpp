#include "options.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char kUsage[] =
    "usage:\n"
    "  delbrin apply INPUT OUTPUT [settings] [--codec NAME] [--crf N | --quality Q]\n"
    "                             [--pix-fmt FMT] [--strict] [--force] [--quiet] [--verbose]\n"
    "  delbrin preview INPUT --frame N -o OUT.png [settings] [--force] [--verbose]\n"
    "  delbrin preview --print-config [settings]\n"
    "  delbrin demo [DIR] [--quiet] [--verbose]\n"
    "  delbrin detect INPUT [--frames N] [--margin PX] [--ranges] [--preview OUT.png [--force]]\n"
    "                       [--json]\n"
    "\n"
    "Hides rectangles of every frame (logos, watermarks) under patches\n"
    "interpolated from each rectangle's edges, exactly as the Tavrel filter does\n"
    "in the host. Frames are numbered from 0 in presentation order. Rectangles\n"
    "are in the stored picture, before any rotation a player applies (as preview\n"
    "shows it). Each command takes only the options shown for it; any other\n"
    "is a usage error.\n"
    "\n"
    "settings (at least one rectangle is required):\n"
    "  --rect X,Y,W,H           a rectangle, in pixels from the top left; repeat\n"
    "                           it for more rectangles\n"
    "  --config 'Config(...)'   a rectangle with its settings, as the line the\n"
    "                           host saved for the filter; may be repeated\n"
    "  --script FILE            a saved host processing script: every Tavrel\n"
    "                           filter it adds after its last Clear(), in order\n"
    "  --feather N              feather the patches' edges over N pixels\n"
    "  --fade N                 fade in and out over N frames around the ranges\n"
    "  --ranges \"100 200, ...\"  patch only these frame ranges (start end pairs),\n"
    "                           widened on each side by the fade length (5 unless\n"
    "                           set by --fade or the Config line)\n"
    "  --cancel SIDES           stop the gradient from top,bottom,left,right\n"
    "  --border                 draw the dotted border (always on in preview)\n"
    "  Every rectangle is applied to each frame, in the order given; --feather,\n"
    "  --fade, --ranges and --cancel apply to all of them, over what a Config\n"
    "  line or script says.\n"
    "\n"
    "apply:\n"
    "  Only the rectangles change: the rest of every frame keeps its decoded\n"
    "  pixels, and the frames their timestamps. Audio, subtitles and the other\n"
    "  streams, chapters and metadata are copied unchanged. The video is encoded\n"
    "  with --codec (default libx264, or the container's own codec; a picture\n"
    "  file such as .png stays a picture) in the input's pixel format where the\n"
    "  encoder takes it. --crf N is on libx264's scale (default 18) and mapped\n"
    "  for other encoders (mpeg4 gets the quantiser of the same step size);\n"
    "  --quality Q is the encoder's own number (its crf, or mpeg4's q).\n"
    "  OUTPUT is written beside itself under a temporary name and renamed only\n"
    "  when complete. --force replaces an existing OUTPUT. --quiet hides the\n"
    "  progress line, --verbose shows the libraries' messages.\n"
    "  A damaged input gives the frames the decoder can make of it; the last\n"
    "  line tells how many packets were damaged and frames lost. --strict\n"
    "  refuses a damaged input instead (exit 1).\n"
    "preview:\n"
    "  Writes frame N with the dotted border to OUT.png; --force replaces an\n"
    "  existing OUT.png. --print-config prints the Config line and the host's\n"
    "  summary of each rectangle.\n"
    "demo:\n"
    "  Makes a sample clip with a logo in DIR (default delbrin-demo), removes\n"
    "  the logo and writes the clip and before/after pictures.\n"
    "detect:\n"
    "  Finds a station logo or watermark and prints its rectangle and the Config\n"
    "  line for it; see delbrin detect --help.\n"
    "\n"
    "exit codes:\n"
    "  0    success\n"
    "  1    decoding the input's video failed\n"
    "  2    bad command line, Config line, script or range text\n"
    "  3    the input cannot be opened or read, or holds no video\n"
    "  4    OUTPUT (or the picture of preview or detect) is INPUT, already\n"
    "       exists (without --force), or cannot be created\n"
    "  5    encoding failed (the encoder refused its settings or broke down)\n"
    "  6    writing failed (the container cannot hold a stream, the disk is full)\n"
    "  7    converting a picture for the filter failed\n"
    "  10   detect: no stable region found, nothing stays put like a logo\n"
    "  11   detect: the file is too short to tell a logo from the picture\n"
    "  12   detect: the picture hardly changes, so a logo cannot be told from it\n"
    "  13   detect: the picture is too small to analyse\n"
    "  130  interrupted; OUTPUT was not touched\n";

namespace {

bool ReadTextFile(const std::string& path, std::string* text) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text->append(chunk, n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// The plain settings shared by every instance: their values in a Config
// call, and which of its numbers (and whether the ranges) were given.
struct SharedSettings {
    ConfigCall values = DefaultConfigCall();
    bool       given[kConfigNumberCount] = {};
    bool       rangesGiven = false;
};

void MarkGiven(SharedSettings* shared, const ConfigCall& before) {
    for (int i = 0; i < kConfigNumberCount; i++)
        if (shared->values.numbers[i] != before.numbers[i]) shared->given[i] = true;
}

// The commands ParseOptions reads, and which of them each option belongs
// to: an option given to another command would be silently ignored.
enum {
    kApply   = 1 << 0,
    kPreview = 1 << 1,
    kDemo    = 1 << 2,
    kFilterSettings = kApply | kPreview,
};

const struct {
    const char* name;
    int         commands;
} kCommands[] = {{"apply", kApply}, {"preview", kPreview}, {"demo", kDemo}};

const struct {
    const char* name;
    const char* shortName;
    int         commands;
} kOptionCommands[] = {
    {"--config", nullptr, kFilterSettings}, {"--script", nullptr, kFilterSettings},
    {"--rect", nullptr, kFilterSettings},   {"--feather", nullptr, kFilterSettings},
    {"--fade", nullptr, kFilterSettings},   {"--ranges", nullptr, kFilterSettings},
    {"--cancel", nullptr, kFilterSettings}, {"--border", nullptr, kFilterSettings},
    {"--codec", nullptr, kApply},           {"--crf", nullptr, kApply},
    {"--quality", nullptr, kApply},         {"--pix-fmt", nullptr, kApply},
    {"--frame", nullptr, kPreview},         {"--output", "-o", kPreview},
    {"--print-config", nullptr, kPreview},  {"--force", "-f", kApply | kPreview},
    {"--quiet", "-q", kApply | kDemo},      {"--verbose", "-v", kApply | kPreview | kDemo},
    {"--strict", nullptr, kApply},
};

// False with a usage error when arg is an option of other commands only.
// Unknown options are left to the caller.
bool BelongsTo(const std::string& command, int commandBit, const std::string& arg, std::string* error) {
    for (const auto& o : kOptionCommands) {
        if (arg != o.name && (!o.shortName || arg != o.shortName)) continue;
        if (o.commands & commandBit) return true;
        *error = arg + " is not an option of " + command + "; see delbrin --help";
        return false;
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    int commandBit = 0;
    for (const auto& c : kCommands)
        if (options->command == c.name) commandBit = c.commands;
    if (commandBit == 0) {
        *error = "unknown command \"" + options->command + "\"; see delbrin --help";
        return false;
    }
    SharedSettings shared;
    int rects = 0, configs = 0;
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        std::string value;
        bool hasInlineValue = false;
        size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        auto needValue = [&]() -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (!BelongsTo(options->command, commandBit, arg, error)) return false;
        const ConfigCall before = shared.values;
        bool ok = true;
        if (arg == "--config") {
            InstanceSource source = {DefaultConfigCall(), "--config " + std::to_string(++configs), true};
            if (!needValue()) return false;
            if (!ParseConfigCall(value.c_str(), &source.call, error)) {
                *error = "--config: " + *error;
                return false;
            }
            options->instances.push_back(source);
        } else if (arg == "--script") {
            if (!needValue()) return false;
            std::string script;
            std::vector<std::string> calls;
            if (!ReadTextFile(value, &script)) {
                *error = "cannot read the script " + value + ": " + strerror(errno);
                return false;
            }
            if (!FindScriptConfigs(script.c_str(), &calls, error)) {
                *error = value + ": " + *error;
                return false;
            }
            for (size_t k = 0; k < calls.size(); k++) {
                InstanceSource source = {DefaultConfigCall(), value + " Tavrel " + std::to_string(k + 1), true};
                if (!ParseConfigCall(calls[k].c_str(), &source.call, error)) {
                    *error = source.origin + ": " + *error;
                    return false;
                }
                options->instances.push_back(source);
            }
        } else if (arg == "--rect") {
            InstanceSource source = {DefaultConfigCall(), "--rect " + std::to_string(++rects), false};
            ok = needValue() && ApplyRectOption(value.c_str(), &source.call, error);
            if (ok) options->instances.push_back(source);
        } else if (arg == "--feather") {
            ok = needValue() && ApplyFeatherOption(value.c_str(), &shared.values, error);
            shared.given[kConfigFeatherOn] = shared.given[kConfigFeatherWidth] = ok;
        } else if (arg == "--fade") {
            ok = needValue() && ApplyFadeOption(value.c_str(), &shared.values, error);
            shared.given[kConfigFadeOn] = shared.given[kConfigFadeFrames] = ok;
        } else if (arg == "--ranges") {
            ok = needValue();
            std::string reason;
            if (ok && !CheckRangeText(value.c_str(), &reason)) {
                *error = "--ranges \"" + value + "\": " + reason;
                return false;
            }
            shared.values.rangeText = value;
            shared.rangesGiven = true;
        } else if (arg == "--cancel") {
            ok = needValue() && ApplyCancelOption(value.c_str(), &shared.values, error);
            MarkGiven(&shared, before);
        } else if (arg == "--border") {
            options->border = true;
        } else if (arg == "--codec") {
            ok = needValue();
            options->encoder.codec = value;
        } else if (arg == "--crf") {
            ok = needValue();
            options->encoder.crf = value;
        } else if (arg == "--quality") {
            ok = needValue();
            options->encoder.quality = value;
        } else if (arg == "--pix-fmt") {
            ok = needValue();
            options->encoder.pixelFormat = value;
        } else if (arg == "--frame") {
            ok = needValue();
            char* end = nullptr;
            options->frame = ok ? strtoll(value.c_str(), &end, 10) : -1;
            if (ok && (value.empty() || *end != '\0' || options->frame < 0 || options->frame > INT32_MAX)) {
                *error = "--frame takes a frame number from 0, not \"" + value + "\"";
                return false;
            }
        } else if (arg == "-o" || arg == "--output") {
            ok = needValue();
            options->previewPath = value;
        } else if (arg == "--force" || arg == "-f") {
            options->force = true;
        } else if (arg == "--quiet" || arg == "-q") {
            options->quiet = true;
        } else if (arg == "--strict") {
            options->strict = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options->verbose = true;
        } else if (arg == "--print-config") {
            options->printConfig = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else {
            options->positional.push_back(arg);
        }
        if (!ok) return false;
    }

    // The shared settings over every instance; then what the filter will
    // make of range texts that came from Config lines.
    for (InstanceSource& source : options->instances) {
        for (int n = 0; n < kConfigNumberCount; n++)
            if (shared.given[n] && n != kConfigX && n != kConfigY && n != kConfigWidth && n != kConfigHeight)
                source.call.numbers[n] = shared.values.numbers[n];
        if (shared.rangesGiven) {
            source.call.rangeText = shared.values.rangeText;
            source.fromText = false;
        }
        std::string reason;
        const char* text = source.call.rangeText.c_str();
        if (source.fromText && *text != '\0' && !CheckRangeText(text, &reason))
            options->warnings.push_back(source.origin + ": the frame ranges \"" + source.call.rangeText + "\": " +
                                        reason + "; the filter uses: " + DescribeKeptRanges(text));
    }
    return true;
}
