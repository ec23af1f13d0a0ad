#include "options.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <cmath>

#include "logo_detect.h"

const char kUsage[] =
    "usage:\n"
    "  delbrin apply INPUT OUTPUT [settings] [--codec NAME] [--crf N | --quality Q]\n"
    "                             [--pix-fmt FMT] [--deblend M.png] [--strict]\n"
    "                             [--force] [--quiet] [--verbose]\n"
    "  delbrin preview INPUT --frame N -o OUT.png [settings] [--force] [--verbose]\n"
    "  delbrin preview --print-config [settings]\n"
    "  delbrin demo [DIR] [--quiet] [--verbose]\n"
    "  delbrin detect INPUT [--frames N] [--margin PX] [--ranges] [--preview OUT.png [--force]]\n"
    "                       [--json] [--mask M.png [--rect X,Y,W,H]]\n"
    "\n"
    "Hides rectangles of every frame (logos, watermarks) under patches\n"
    "interpolated from each rectangle's edges, exactly as the Tavrel filter does\n"
    "in the host. Frames are numbered from 0 in presentation order. Rectangles\n"
    "are in the stored picture, before any rotation a player applies (as preview\n"
    "shows it). Each command takes only the options shown for it; any other\n"
    "is a usage error.\n"
    "\n"
    "Options take their value as --opt VALUE or --opt=VALUE, anywhere among\n"
    "the files; -- ends the options, so that a file named -x.mp4 can follow.\n"
    "INPUT - reads standard input (apply and preview; detect seeks, which a\n"
    "pipe cannot); OUTPUT - writes Matroska to standard output as it goes, so\n"
    "a failure leaves it unfinished; preview -o - writes the picture there.\n"
    "\n"
    "settings (at least one rectangle is required):\n"
    "  --rect X,Y,W,H           a rectangle, in pixels from the top left; repeat\n"
    "                           it for more rectangles\n"
    "  --config 'Config(...)'   a rectangle with its settings, as the line the\n"
    "                           host saved for the filter; may be repeated\n"
    "  --script FILE            a saved host processing script: every Tavrel\n"
    "                           filter it adds after its last Clear(), in order\n"
    "                           (- reads it from standard input)\n"
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
    "  with --codec (default: the input's own codec where the container takes\n"
    "  it, ProRes and DNxHR in their profile, else libx264 or the container's\n"
    "  own codec, said; a picture file such as .png stays a picture) in the\n"
    "  input's pixel format where the encoder takes it. --crf N is on libx264's scale (default 18) and mapped\n"
    "  for other encoders (mpeg4 gets the quantiser of the same step size);\n"
    "  --quality Q is the encoder's own number (its crf, or mpeg4's q).\n"
    "  --deblend M.png removes a translucent logo learned by `delbrin detect\n"
    "  --mask`: where the logo lets the picture through, the picture under it\n"
    "  is recovered; where it is nearly opaque, the patch fills in. --ranges\n"
    "  limits it to those frames, as for the patches; rectangles given as well\n"
    "  are patched after it.\n"
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

// The whole of a text file; "-" is standard input.
bool ReadTextFile(const std::string& path, std::string* text) {
    const bool standardInput = path == "-";
    FILE* f = standardInput ? stdin : fopen(path.c_str(), "rb");
    if (!f) return false;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text->append(chunk, n);
    bool ok = !ferror(f);
    if (!standardInput) fclose(f);
    return ok;
}

// Every Tavrel instance of a script file ("-": standard input), inserted
// into instances at position at.
bool ReadScript(const std::string& path, size_t at, std::vector<InstanceSource>* instances, std::string* error) {
    const std::string name = path == "-" ? "standard input" : path;
    std::string script;
    std::vector<std::string> calls;
    if (!ReadTextFile(path, &script)) {
        *error = "cannot read the script " + name + ": " + strerror(errno);
        return false;
    }
    if (!FindScriptConfigs(script.c_str(), &calls, error)) {
        *error = name + ": " + *error;
        return false;
    }
    std::vector<InstanceSource> found;
    for (size_t k = 0; k < calls.size(); k++) {
        InstanceSource source = {DefaultConfigCall(), name + " Tavrel " + std::to_string(k + 1), true};
        if (!ParseConfigCall(calls[k].c_str(), &source.call, error)) {
            *error = source.origin + ": " + *error;
            return false;
        }
        found.push_back(source);
    }
    instances->insert(instances->begin() + static_cast<ptrdiff_t>(at), found.begin(), found.end());
    return true;
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

// The commands, and which of them each option belongs to: an option given
// to another command would be silently ignored, so it is refused.
enum {
    kApply   = 1 << 0,
    kPreview = 1 << 1,
    kDemo    = 1 << 2,
    kDetect  = 1 << 3,
    kFilterSettings = kApply | kPreview,
    kEveryCommand = kApply | kPreview | kDemo | kDetect,
};

const struct {
    const char* name;
    int         bit;
} kCommands[] = {{"apply", kApply}, {"preview", kPreview}, {"demo", kDemo}, {"detect", kDetect}};

enum OptionId {
    kOptConfig, kOptScript, kOptRect, kOptFeather, kOptFade, kOptRanges, kOptCancel, kOptBorder,
    kOptCodec, kOptCrf, kOptQuality, kOptPixFmt, kOptDeblend,
    kOptFrame, kOptOutput, kOptPrintConfig,
    kOptFrames, kOptMargin, kOptFindRanges, kOptPreview, kOptJson, kOptMask,
    kOptForce, kOptQuiet, kOptStrict, kOptVerbose, kOptHelp,
};

// The one table of options. A name may stand twice for different commands:
// detect's --ranges is a switch, the filter's takes the ranges.
const struct OptionSpec {
    const char* name;
    const char* shortName;
    int         commands;
    bool        takesValue;
    OptionId    id;
} kOptions[] = {
    {"--config", nullptr, kFilterSettings, true, kOptConfig},
    {"--script", nullptr, kFilterSettings, true, kOptScript},
    {"--rect", nullptr, kFilterSettings | kDetect, true, kOptRect},
    {"--feather", nullptr, kFilterSettings, true, kOptFeather},
    {"--fade", nullptr, kFilterSettings, true, kOptFade},
    {"--ranges", nullptr, kFilterSettings, true, kOptRanges},
    {"--cancel", nullptr, kFilterSettings, true, kOptCancel},
    {"--border", nullptr, kFilterSettings, false, kOptBorder},
    {"--codec", nullptr, kApply, true, kOptCodec},
    {"--crf", nullptr, kApply, true, kOptCrf},
    {"--quality", nullptr, kApply, true, kOptQuality},
    {"--pix-fmt", nullptr, kApply, true, kOptPixFmt},
    {"--deblend", nullptr, kApply, true, kOptDeblend},
    {"--frame", nullptr, kPreview, true, kOptFrame},
    {"--output", "-o", kPreview, true, kOptOutput},
    {"--print-config", nullptr, kPreview, false, kOptPrintConfig},
    {"--frames", nullptr, kDetect, true, kOptFrames},
    {"--margin", nullptr, kDetect, true, kOptMargin},
    {"--ranges", nullptr, kDetect, false, kOptFindRanges},
    {"--preview", nullptr, kDetect, true, kOptPreview},
    {"--json", nullptr, kDetect, false, kOptJson},
    {"--mask", nullptr, kDetect, true, kOptMask},
    {"--force", "-f", kApply | kPreview | kDetect, false, kOptForce},
    {"--quiet", "-q", kApply | kDemo, false, kOptQuiet},
    {"--strict", nullptr, kApply, false, kOptStrict},
    {"--verbose", "-v", kApply | kPreview | kDemo, false, kOptVerbose},
    {"--help", "-h", kEveryCommand, false, kOptHelp},
};

// The entry for arg under this command; null with a usage error when arg is
// no option, or one of other commands only.
const OptionSpec* FindOption(const std::string& command, int commandBit, const std::string& arg,
                             std::string* error) {
    bool known = false;
    for (const OptionSpec& o : kOptions) {
        if (arg != o.name && (!o.shortName || arg != o.shortName)) continue;
        if (o.commands & commandBit) return &o;
        known = true;
    }
    *error = known ? arg + " is not an option of " + command + "; see delbrin --help"
                   : "unknown option " + arg + "; see delbrin --help";
    return nullptr;
}

// A whole number within [low, high]; false for anything else ("12x", "",
// a number beyond long's range).
bool ParseBounded(const std::string& text, long long low, long long high, long long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long v = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *value = v;
    return true;
}

// A number in plain decimal or exponent form, finite.
bool ParseFiniteNumber(const std::string& text, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    *value = strtod(text.c_str(), &end);
    return *end == '\0' && errno == 0 && std::isfinite(*value);
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    int commandBit = 0;
    for (const auto& c : kCommands)
        if (options->command == c.name) commandBit = c.bit;
    if (commandBit == 0) {
        *error = "unknown command \"" + options->command + "\"; see delbrin --help";
        return false;
    }
    SharedSettings shared;
    int rects = 0, configs = 0;
    bool optionsEnded = false;
    long scriptFromStandardInputAt = -1;  // where --script -'s instances go among the others
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        // Plain files: everything after "--", "-" (standard input or
        // output), and whatever does not start with a dash.
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            options->positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string value;
        bool hasInlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasInlineValue = true;
        }
        const OptionSpec* spec = FindOption(options->command, commandBit, arg, error);
        if (!spec) return false;
        if (spec->takesValue && !hasInlineValue) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (!spec->takesValue && hasInlineValue) {
            *error = arg + " takes no value";
            return false;
        }

        const ConfigCall before = shared.values;
        bool ok = true;
        long long number = 0;
        switch (spec->id) {
        case kOptConfig: {
            InstanceSource source = {DefaultConfigCall(), "--config " + std::to_string(++configs), true};
            if (!ParseConfigCall(value.c_str(), &source.call, error)) {
                *error = "--config: " + *error;
                return false;
            }
            options->instances.push_back(source);
            break;
        }
        case kOptScript:
            // Standard input is read once the whole line is known, since
            // INPUT may be standard input too.
            if (value != "-") {
                if (!ReadScript(value, options->instances.size(), &options->instances, error)) return false;
            } else if (scriptFromStandardInputAt >= 0) {
                *error = "--script - can be given once: standard input is read once";
                return false;
            } else {
                scriptFromStandardInputAt = static_cast<long>(options->instances.size());
            }
            break;
        case kOptRect: {
            InstanceSource source = {DefaultConfigCall(), "--rect " + std::to_string(++rects), false};
            ok = ApplyRectOption(value.c_str(), &source.call, error);
            if (ok) options->instances.push_back(source);
            break;
        }
        case kOptFeather:
            ok = ApplyFeatherOption(value.c_str(), &shared.values, error);
            shared.given[kConfigFeatherOn] = shared.given[kConfigFeatherWidth] = ok;
            break;
        case kOptFade:
            ok = ApplyFadeOption(value.c_str(), &shared.values, error);
            shared.given[kConfigFadeOn] = shared.given[kConfigFadeFrames] = ok;
            break;
        case kOptRanges: {
            std::string reason;
            if (!CheckRangeText(value.c_str(), &reason)) {
                *error = "--ranges \"" + value + "\": " + reason;
                return false;
            }
            shared.values.rangeText = value;
            shared.rangesGiven = true;
            break;
        }
        case kOptCancel:
            ok = ApplyCancelOption(value.c_str(), &shared.values, error);
            MarkGiven(&shared, before);
            break;
        case kOptBorder: options->border = true; break;
        case kOptCodec: options->encoder.codec = value; break;
        case kOptCrf:
        case kOptQuality: {
            // The bounds depend on the encoder, and are checked once it is chosen.
            double quality = 0;
            ok = ParseFiniteNumber(value, &quality);
            if (!ok) *error = arg + " takes a number, not \"" + value + "\"";
            (spec->id == kOptCrf ? options->encoder.crf : options->encoder.quality) = quality;
            if (options->encoder.crf && options->encoder.quality) {
                *error = "--crf and --quality both set the quality; give one";
                return false;
            }
            break;
        }
        case kOptPixFmt: options->encoder.pixelFormat = value; break;
        case kOptDeblend:
            ok = !value.empty();
            if (!ok) *error = "--deblend needs the mask picture's file name";
            options->deblendMask = value;
            break;
        case kOptFrame:
            // The filter counts frames in 32 bits.
            ok = ParseBounded(value, 0, INT32_MAX, &number);
            if (!ok) *error = "--frame takes a frame number from 0 to 2147483647 (the filter counts frames in "
                              "32 bits), not \"" + value + "\"";
            options->frame = static_cast<int32_t>(number);
            break;
        case kOptOutput:
        case kOptPreview: options->picturePath = value; break;
        case kOptPrintConfig: options->printConfig = true; break;
        case kOptFrames:
            ok = ParseBounded(value, kMinDetectSamples, kMaxSampleFrames, &number);
            if (!ok) *error = "--frames takes " + std::to_string(kMinDetectSamples) + " to " +
                              std::to_string(kMaxSampleFrames) + " frames (fewer cannot tell a logo from the "
                              "picture), not \"" + value + "\"";
            options->sampleFrames = static_cast<int>(number);
            break;
        case kOptMargin:
            ok = ParseBounded(value, 0, kMaxMargin, &number);
            if (!ok) *error = "--margin takes 0 to " + std::to_string(kMaxMargin) + " pixels (the rectangle grows "
                              "by it on every side, within the frame), not \"" + value + "\"";
            options->margin = static_cast<int>(number);
            break;
        case kOptFindRanges: options->findRanges = true; break;
        case kOptJson: options->json = true; break;
        case kOptMask:
            ok = !value.empty();
            if (!ok) *error = "--mask needs a file name";
            options->maskPath = value;
            break;
        case kOptForce: options->force = true; break;
        case kOptQuiet: options->quiet = true; break;
        case kOptStrict: options->strict = true; break;
        case kOptVerbose: options->verbose = true; break;
        case kOptHelp: options->help = true; break;
        }
        if (!ok) return false;
    }
    if (scriptFromStandardInputAt >= 0) {
        if (!options->positional.empty() && options->positional[0] == "-") {
            *error = "--script - and INPUT - would both read standard input; give one of them as a file";
            return false;
        }
        if (!ReadScript("-", static_cast<size_t>(scriptFromStandardInputAt), &options->instances, error)) return false;
    }
    if (shared.rangesGiven) options->deblendRanges = shared.values.rangeText;

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
