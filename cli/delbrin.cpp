// delbrin: the Tavrel filter applied to video files, driven by the same
// Config(...) line the host saves in its processing scripts.
//
// Every frame goes through the filter core as the module's run callback sends
// it: one settings record made by InitSettings and the Config line, and the
// core's frame call with the frame's number counted from 0 in decode order.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "config_text.h"
#include "detect_command.h"
#include "frame_ranges.h"
#include "frame_run.h"
#include "patch_settings.h"
#include "script_line.h"
#include "video_pipe.h"

namespace {

// The exit codes, as --help documents them.
enum ExitCode {
    kExitOk          = 0,
    kExitFailed      = 1,    // ffmpeg failed while decoding or encoding
    kExitUsage       = 2,    // bad command line, Config line or script
    kExitBadInput    = 3,    // input unreadable or without video
    kExitRefused     = 4,    // output equals input, exists, or cannot be created
    kExitNoFfmpeg    = 5,    // ffmpeg or ffprobe not on PATH
    kExitInterrupted = 130,  // stopped by a signal; output untouched
};

const char kUsage[] =
    "usage:\n"
    "  delbrin apply INPUT OUTPUT [settings] [--codec NAME] [--crf N] [--pix-fmt FMT]\n"
    "                             [--force] [--quiet] [--print-config]\n"
    "  delbrin preview INPUT --frame N -o OUT.png [settings]\n"
    "  delbrin preview --print-config [settings]\n"
    "  delbrin demo [DIR]\n"
    "  delbrin detect INPUT [--frames N] [--margin PX] [--ranges] [--preview OUT.png] [--json]\n"
    "                 finds the logo and prints its rectangle and Config line; exits\n"
    "                 6 (no stable region), 7 (too short) or 8 (static picture)\n"
    "                 when it cannot; see delbrin detect --help\n"
    "\n"
    "Hides a rectangle of every frame (a logo, a watermark) under a patch\n"
    "interpolated from the rectangle's edges, exactly as the Tavrel filter does\n"
    "in the host. Frames are numbered from 0 in decode order.\n"
    "\n"
    "settings (a rectangle is required; later settings override earlier ones):\n"
    "  --config 'Config(...)'   the line the host saved for the filter\n"
    "  --script FILE            a saved host processing script; its Tavrel\n"
    "                           filter's Config line is used\n"
    "  --rect X,Y,W,H           the rectangle, in pixels from the top left\n"
    "  --feather N              feather the patch's edges over N pixels\n"
    "  --fade N                 fade in and out over N frames around the ranges\n"
    "  --ranges \"100 200, ...\"  patch only these frame ranges (start end pairs),\n"
    "                           widened on each side by the fade length (5 unless\n"
    "                           set by --fade or the Config line)\n"
    "  --cancel SIDES           stop the gradient from top,bottom,left,right\n"
    "  --border                 draw the dotted border (always on in preview)\n"
    "\n"
    "apply:\n"
    "  The audio and the other streams are copied unchanged; the video is\n"
    "  encoded with --codec (default libx264 at --crf 18). OUTPUT is written\n"
    "  beside itself under a temporary name and renamed only when complete.\n"
    "  --force replaces an existing OUTPUT. --quiet hides the progress bar.\n"
    "preview:\n"
    "  Writes frame N with the dotted border to OUT.png. --print-config prints\n"
    "  the Config line and the host's summary for the settings given.\n"
    "demo:\n"
    "  Makes a sample clip with a logo in DIR (default delbrin-demo), removes\n"
    "  the logo and writes the clip and before/after pictures.\n"
    "\n"
    "exit codes:\n"
    "  0    success\n"
    "  1    ffmpeg failed while decoding or encoding\n"
    "  2    bad command line, Config line or script\n"
    "  3    the input cannot be read or holds no video\n"
    "  4    OUTPUT is INPUT, already exists (without --force), or cannot be created\n"
    "  5    ffmpeg or ffprobe not found on PATH\n"
    "  130  interrupted; OUTPUT was not touched\n";

struct Options {
    std::string command;
    std::vector<std::string> positional;
    ConfigCall  config;
    bool        haveSettings = false;  // a Config line, a script or --rect was given
    bool        border = false;
    std::string codec;
    std::string crf;
    std::string pixelFormat;
    bool        force = false;
    bool        quiet = false;
    bool        verbose = false;
    bool        printConfig = false;
    long long   frame = -1;
    std::string previewPath;
};

// One filter instance: its settings record and the frame it works on.
struct FilterInstance {
    PatchSettings settings;
    FrameView     frame;
};

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal) { g_stopSignal = signal; }

void InstallStopHandlers() {
    // No SA_RESTART: a blocked read or write returns, so the loop sees the stop.
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A dead encoder shows up as a failed write, not as a killed command.
    signal(SIGPIPE, SIG_IGN);
}

int Fail(int code, const std::string& message) {
    fprintf(stderr, "delbrin: %s\n", message.c_str());
    return code;
}

double Now() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

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

// ---------------------------------------------------------------------------
// Command line

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
    options->config = DefaultConfigCall();
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
        auto needValue = [&](void) -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        bool ok = true;
        if (arg == "--config" || arg == "--script" || arg == "--rect") options->haveSettings = true;
        if (arg == "--config") {
            if (!needValue()) return false;
            if (!ParseConfigCall(value.c_str(), &options->config, error)) {
                *error = "--config: " + *error;
                return false;
            }
        } else if (arg == "--script") {
            if (!needValue()) return false;
            std::string script, call, warning;
            if (!ReadTextFile(value, &script)) {
                *error = "cannot read the script " + value + ": " + strerror(errno);
                return false;
            }
            if (!FindScriptConfig(script.c_str(), &call, error, &warning) ||
                !ParseConfigCall(call.c_str(), &options->config, error)) {
                *error = value + ": " + *error;
                return false;
            }
            if (!warning.empty()) fprintf(stderr, "delbrin: warning: %s: %s\n", value.c_str(), warning.c_str());
        } else if (arg == "--rect") {
            ok = needValue() && ApplyRectOption(value.c_str(), &options->config, error);
        } else if (arg == "--feather") {
            ok = needValue() && ApplyFeatherOption(value.c_str(), &options->config, error);
        } else if (arg == "--fade") {
            ok = needValue() && ApplyFadeOption(value.c_str(), &options->config, error);
        } else if (arg == "--ranges") {
            ok = needValue();
            options->config.rangeText = value;
        } else if (arg == "--cancel") {
            ok = needValue() && ApplyCancelOption(value.c_str(), &options->config, error);
        } else if (arg == "--border") {
            options->border = true;
        } else if (arg == "--codec") {
            ok = needValue();
            options->codec = value;
        } else if (arg == "--crf") {
            ok = needValue();
            options->crf = value;
        } else if (arg == "--pix-fmt") {
            ok = needValue();
            options->pixelFormat = value;
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
    return true;
}

// ---------------------------------------------------------------------------
// The filter instance

void InitInstance(FilterInstance* instance, const Options& options) {
    memset(instance, 0, sizeof *instance);  // the host hands out zero-filled records
    InitSettings(&instance->settings, nullptr);
    StoreConfig(&instance->settings, options.config.numbers, options.config.rangeText.c_str());
    instance->settings.showBorder = options.border ? 1 : 0;
}

// Hands a decoded frame to the instance. The decoder writes rows top-down and
// the core reads bitmaps bottom-up, so the view starts at the last decoded
// row and steps backwards: the core's pitch is signed, the frame needs no
// copy or flip, and the patched rows go to the encoder in the decoder's order.
void BindFrame(FilterInstance* instance, uint8_t* topRow, int32_t width, int32_t height) {
    ptrdiff_t rowBytes = static_cast<ptrdiff_t>(width) * 4;
    instance->frame = FrameView{topRow + (height - 1) * rowBytes, width, height,
                                static_cast<int32_t>(-rowBytes)};
}

void RunInstance(FilterInstance* instance, int32_t frameNumber) {
    PatchFrame(&instance->settings, instance->frame, frameNumber);
}

// A rectangle from a script is not checked by the host; the core patches only
// the part inside the frame. Say what that part is.
void WarnAboutRectangle(const PatchSettings& s, int32_t frameWidth, int32_t frameHeight) {
    const PatchRect inside = RectInFrame(&s, frameWidth, frameHeight);
    if (inside.width > 0 && inside.x == s.x && inside.y == s.y && inside.width == s.width &&
        inside.height == s.height)
        return;
    fprintf(stderr, "delbrin: warning: the rectangle %d,%d %dx%d does not lie inside the %dx%d frame; ",
            s.x, s.y, s.width, s.height, frameWidth, frameHeight);
    if (inside.width == 0 || inside.height == 0)
        fprintf(stderr, "nothing will be patched\n");
    else
        fprintf(stderr, "patching %d,%d %dx%d, the part inside\n", inside.x, inside.y, inside.width,
                inside.height);
}

void PrintConfig(const PatchSettings& settings) {
    char line[2048];
    char summary[kSummaryMaxLength + 1];
    FormatConfigLine(&settings, line, sizeof line);
    FormatSummary(&settings, summary);
    printf("%s\n", line);
    printf("summary:%s\n", summary);
}

// ---------------------------------------------------------------------------
// Progress

struct Progress {
    bool    shown;
    int64_t total;
    double  started;
    double  drawn;
};

Progress StartProgress(bool quiet, int64_t total) {
    Progress p = {!quiet && isatty(2), total, Now(), 0};
    return p;
}

void DrawProgress(Progress* p, int64_t done, bool last) {
    if (!p->shown) return;
    double now = Now();
    if (!last && now - p->drawn < 0.1) return;
    p->drawn = now;
    double elapsed = now - p->started;
    double fps = elapsed > 0 ? done / elapsed : 0;
    char bar[31] = "";
    char eta[32] = "--:--";
    if (p->total > 0) {
        int64_t total = done > p->total ? done : p->total;
        int filled = static_cast<int>(30 * done / total);
        for (int i = 0; i < 30; i++) bar[i] = i < filled ? '#' : '.';
        bar[30] = '\0';
        if (fps > 0) {
            long seconds = static_cast<long>((total - done) / fps + 0.5);
            snprintf(eta, sizeof eta, "%ld:%02ld", seconds / 60, seconds % 60);
        }
        fprintf(stderr, "\r[%s] %lld/%lld frames  %.1f fps  ETA %s ", bar, (long long)done,
                (long long)total, fps, eta);
    } else {
        fprintf(stderr, "\r%lld frames  %.1f fps ", (long long)done, fps);
    }
    if (last) fputc('\n', stderr);
}

// ---------------------------------------------------------------------------
// apply

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A fresh file beside OUTPUT, keeping its extension so that ffmpeg picks the
// same container: out.mp4 -> .out.delbrin-XXXXXX.mp4.
bool MakeTemporaryBeside(const std::string& output, std::string* path) {
    size_t slash = output.rfind('/');
    std::string dir = slash == std::string::npos ? "" : output.substr(0, slash + 1);
    std::string name = output.substr(dir.size());
    size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    std::string stem = name.substr(0, name.size() - extension.size());
    std::string pattern = dir + "." + stem + ".delbrin-XXXXXX" + extension;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemps(buffer.data(), static_cast<int>(extension.size()));
    if (fd < 0) return false;
    // mkstemps makes the file private; the finished output gets the usual mode.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    close(fd);
    *path = buffer.data();
    return true;
}

std::vector<std::string> EncoderOptions(const Options& options, const VideoTools& tools,
                                        const VideoInfo& info) {
    std::string codec = options.codec;
    std::vector<std::string> args;
    if (codec.empty()) codec = HasEncoder(tools, "libx264") ? "libx264" : "mpeg4";
    args = {"-c:v:0", codec};
    bool takesCrf = codec == "libx264" || codec == "libx265" || codec == "libvpx-vp9" ||
                    codec == "libvpx" || codec == "libaom-av1" || codec == "libsvtav1";
    if (!options.crf.empty() || takesCrf) {
        args.push_back("-crf");
        args.push_back(options.crf.empty() ? "18" : options.crf);
    }
    if (codec == "mpeg4" && options.crf.empty()) {
        args.push_back("-q:v");
        args.push_back("2");
    }
    std::string format = options.pixelFormat;
    if (format.empty() && (codec == "libx264" || codec == "libx265")) {
        // Keep the input's chroma layout where the encoder has it; 4:2:0
        // needs even sizes.
        const char* kept[] = {"yuv420p", "yuv422p", "yuv444p", "yuv420p10le", "yuv422p10le", "yuv444p10le"};
        for (const char* k : kept)
            if (info.pixelFormat == k) format = k;
        if (info.pixelFormat == "yuvj420p") format = "yuv420p";
        if (format.empty()) format = "yuv420p";
        if (format.compare(0, 7, "yuv420p") == 0 && (info.width % 2 || info.height % 2)) format = "yuv444p";
    }
    if (!format.empty()) {
        args.push_back("-pix_fmt");
        args.push_back(format);
    }
    return args;
}

int Apply(const Options& options, const VideoTools& tools, const std::string& input,
          const std::string& output) {
    if (access(input.c_str(), R_OK) != 0)
        return Fail(kExitBadInput, "cannot read " + input + ": " + strerror(errno));
    if (input == output || SameFile(input, output))
        return Fail(kExitRefused, "OUTPUT is the same file as INPUT; write to another file");
    if (!options.force && access(output.c_str(), F_OK) == 0)
        return Fail(kExitRefused, output + " already exists; add --force to replace it");

    VideoInfo info;
    std::string error;
    if (!ProbeVideo(tools, input, &info, &error))
        return Fail(kExitBadInput, input + " is not a video file ffmpeg can read: " + error);

    static FilterInstance instance;
    InitInstance(&instance, options);
    WarnAboutRectangle(instance.settings, info.width, info.height);

    std::string temporary;
    if (!MakeTemporaryBeside(output, &temporary))
        return Fail(kExitRefused, "cannot create a file beside " + output + ": " + strerror(errno));
    if (options.verbose) fprintf(stderr, "delbrin: writing %s\n", temporary.c_str());

    char size[32];
    snprintf(size, sizeof size, "%dx%d", info.width, info.height);
    std::vector<std::string> decoder = {
        tools.ffmpeg, "-hide_banner", "-nostdin", "-v", "error", "-i", input,
        "-map", "0:v:0", "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "bgra", "pipe:1"};
    // The fourth byte of a patched pixel is 0 and of a border pixel 0xFF;
    // neither is transparency, so the encoder reads it as padding (bgr0).
    std::vector<std::string> encoder = {
        tools.ffmpeg, "-hide_banner", "-nostdin", "-v", "error",
        "-f", "rawvideo", "-pix_fmt", "bgr0", "-s", size, "-r", info.frameRate};
    for (const char* a : {"-i", "pipe:0", "-i"}) encoder.push_back(a);
    encoder.push_back(input);
    // The patched video replaces the first video stream; everything else is
    // copied as it is, metadata and chapters included.
    for (const char* a : {"-map", "0:v:0", "-map", "1", "-map", "-1:v:0", "-map_metadata", "1",
                          "-map_chapters", "1", "-c", "copy"})
        encoder.push_back(a);
    for (const std::string& a : EncoderOptions(options, tools, info)) encoder.push_back(a);
    // Every frame that comes in goes out, none duplicated or dropped; a video
    // that starts after the file's other streams keeps its delay (to the
    // nearest frame), which an input offset would lose to ffmpeg's own
    // alignment of the inputs' start times.
    for (const char* a : {"-fps_mode:v:0", "passthrough"}) encoder.push_back(a);
    if (info.startOffset > 0) {
        encoder.push_back("-filter:v:0");
        encoder.push_back("setpts=PTS+round(" + std::to_string(info.startOffset) + "/TB)");
    }
    encoder.push_back("-y");
    encoder.push_back(temporary);

    ChildProcess reader = {-1, -1}, writer = {-1, -1};
    if (!StartChild(decoder, kReadFromChild, &reader) || !StartChild(encoder, kWriteToChild, &writer)) {
        std::string reason = strerror(errno);
        if (reader.pid > 0) {
            StopChild(&reader);
            FinishChild(&reader);
        }
        unlink(temporary.c_str());
        return Fail(kExitFailed, "cannot start ffmpeg: " + reason);
    }

    size_t frameBytes = static_cast<size_t>(info.width) * info.height * 4;
    std::vector<uint8_t> frame(frameBytes);
    Progress progress = StartProgress(options.quiet, info.frameCount);
    int64_t done = 0;
    bool readFailed = false, writeFailed = false;
    while (!g_stopSignal) {
        int got = ReadFully(reader.fd, frame.data(), frameBytes);
        if (got == 0 || g_stopSignal) break;
        if (got < 0) {
            readFailed = true;
            break;
        }
        if (done > INT32_MAX) {  // the host's frame numbers are 32-bit
            readFailed = true;
            break;
        }
        BindFrame(&instance, frame.data(), info.width, info.height);
        RunInstance(&instance, static_cast<int32_t>(done));
        if (!WriteFully(writer.fd, frame.data(), frameBytes)) {
            writeFailed = true;
            break;
        }
        done++;
        DrawProgress(&progress, done, false);
    }
    if (g_stopSignal || readFailed || writeFailed) {
        StopChild(&reader);
        if (g_stopSignal) StopChild(&writer);
    }
    int decoderStatus = FinishChild(&reader);
    int encoderStatus = FinishChild(&writer);  // closing its stdin ends its input
    DrawProgress(&progress, done, true);

    if (g_stopSignal) {
        unlink(temporary.c_str());
        return Fail(kExitInterrupted, "interrupted after " + std::to_string(done) + " frames; " +
                                          output + " was not written");
    }
    if (readFailed || writeFailed || decoderStatus != 0 || encoderStatus != 0 || done == 0) {
        unlink(temporary.c_str());
        std::string what = decoderStatus != 0 || readFailed ? "decoding " + input
                           : done == 0                      ? "decoding " + input + " gave no frames"
                                                            : "encoding " + output;
        std::string hint = what.compare(0, 8, "encoding") == 0
                               ? " (the other streams are copied as they are: the OUTPUT container "
                                 "must be able to hold them, .mkv holds nearly anything)"
                               : "";
        return Fail(kExitFailed, "ffmpeg failed " + what + " (after " + std::to_string(done) +
                                     " frames); " + output + " was not written" + hint);
    }
    if (rename(temporary.c_str(), output.c_str()) != 0) {
        std::string reason = strerror(errno);
        unlink(temporary.c_str());
        return Fail(kExitRefused, "cannot rename the finished file to " + output + ": " + reason);
    }
    if (!options.quiet && !progress.shown)
        fprintf(stderr, "delbrin: %lld frames written to %s\n", (long long)done, output.c_str());
    return kExitOk;
}

// ---------------------------------------------------------------------------
// preview

// Decodes frame number `number` (from 0, decode order) as top-down BGRA rows.
int DecodeOneFrame(const VideoTools& tools, const std::string& input, const VideoInfo& info,
                   long long number, std::vector<uint8_t>* frame) {
    std::string select = "select=eq(n\\," + std::to_string(number) + ")";
    ChildProcess reader;
    if (!StartChild({tools.ffmpeg, "-hide_banner", "-nostdin", "-v", "error", "-i", input,
                     "-map", "0:v:0", "-vf", select, "-fps_mode", "passthrough", "-frames:v", "1",
                     "-f", "rawvideo", "-pix_fmt", "bgra", "pipe:1"},
                    kReadFromChild, &reader))
        return Fail(kExitFailed, std::string("cannot start ffmpeg: ") + strerror(errno));
    frame->resize(static_cast<size_t>(info.width) * info.height * 4);
    int got = ReadFully(reader.fd, frame->data(), frame->size());
    if (g_stopSignal) StopChild(&reader);
    int status = FinishChild(&reader);
    if (g_stopSignal) return Fail(kExitInterrupted, "interrupted");
    if (status != 0) return Fail(kExitFailed, "ffmpeg failed decoding " + input);
    if (got != 1)
        return Fail(kExitUsage, input + " has no frame " + std::to_string(number) +
                                    " (frames count from 0)");
    return kExitOk;
}

int WritePng(const VideoTools& tools, const std::vector<uint8_t>& frame, const VideoInfo& info,
             const std::string& path) {
    char size[32];
    snprintf(size, sizeof size, "%dx%d", info.width, info.height);
    ChildProcess writer;
    if (!StartChild({tools.ffmpeg, "-hide_banner", "-nostdin", "-v", "error", "-f", "rawvideo",
                     "-pix_fmt", "bgr0", "-s", size, "-i", "pipe:0", "-frames:v", "1",
                     "-update", "1", "-y", path},
                    kWriteToChild, &writer))
        return Fail(kExitFailed, std::string("cannot start ffmpeg: ") + strerror(errno));
    bool written = WriteFully(writer.fd, frame.data(), frame.size());
    int status = FinishChild(&writer);
    if (!written || status != 0) return Fail(kExitFailed, "ffmpeg failed writing " + path);
    return kExitOk;
}

int Preview(const Options& options, const VideoTools& tools, const std::string& input) {
    if (access(input.c_str(), R_OK) != 0)
        return Fail(kExitBadInput, "cannot read " + input + ": " + strerror(errno));
    if (SameFile(input, options.previewPath))
        return Fail(kExitRefused, "the picture would overwrite INPUT; choose another -o");
    VideoInfo info;
    std::string error;
    if (!ProbeVideo(tools, input, &info, &error))
        return Fail(kExitBadInput, input + " is not a video file ffmpeg can read: " + error);

    static FilterInstance instance;
    Options bordered = options;
    bordered.border = true;  // the preview is for placing the rectangle
    InitInstance(&instance, bordered);
    WarnAboutRectangle(instance.settings, info.width, info.height);
    if (FrameAlpha(&instance.settings, static_cast<int32_t>(options.frame)) == 0)
        fprintf(stderr, "delbrin: note: frame %lld lies outside the frame ranges, so it is not patched\n",
                options.frame);

    std::vector<uint8_t> frame;
    int rc = DecodeOneFrame(tools, input, info, options.frame, &frame);
    if (rc != kExitOk) return rc;
    BindFrame(&instance, frame.data(), info.width, info.height);
    RunInstance(&instance, static_cast<int32_t>(options.frame));
    return WritePng(tools, frame, info, options.previewPath);
}

// ---------------------------------------------------------------------------
// demo

int ExtractPng(const VideoTools& tools, const std::string& input, long long number,
               const std::string& path) {
    VideoInfo info;
    std::string error;
    if (!ProbeVideo(tools, input, &info, &error)) return Fail(kExitFailed, input + ": " + error);
    std::vector<uint8_t> frame;
    int rc = DecodeOneFrame(tools, input, info, number, &frame);
    return rc != kExitOk ? rc : WritePng(tools, frame, info, path);
}

int Demo(const VideoTools& tools, const std::string& dir, bool quiet) {
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail(kExitRefused, "cannot create " + dir + ": " + strerror(errno));
    const bool x264 = HasEncoder(tools, "libx264");
    const std::string sample = dir + "/sample.mp4";
    const std::string patched = dir + "/patched.mp4";

    // Four seconds of a moving test picture with a tone, and a station logo
    // in the top right corner: a translucent plate with a mark on it.
    const char* logo =
        "drawbox=x=548:y=22:w=80:h=44:color=white@0.6:t=fill,"
        "drawbox=x=556:y=30:w=24:h=28:color=red@0.9:t=fill,"
        "drawbox=x=586:y=34:w=34:h=8:color=navy@0.9:t=fill,"
        "drawbox=x=586:y=46:w=26:h=8:color=navy@0.9:t=fill";
    std::vector<std::string> make = {
        tools.ffmpeg, "-hide_banner", "-nostdin", "-v", "error",
        "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=4",
        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=4",
        "-vf", logo, "-c:a", "aac", "-shortest"};
    if (x264) {
        for (const char* a : {"-c:v", "libx264", "-crf", "18", "-pix_fmt", "yuv420p"}) make.push_back(a);
    } else {
        for (const char* a : {"-c:v", "mpeg4", "-q:v", "2"}) make.push_back(a);
    }
    make.push_back("-y");
    make.push_back(sample);
    std::string log;
    if (RunAndCollect(make, &log) != 0) return Fail(kExitFailed, "ffmpeg failed making the sample: " + log);

    Options options;
    options.config = DefaultConfigCall();
    std::string error;
    // Config order: width, height, x, y, feather on, fade on, cancel top,
    // bottom, left, right, feather width, fade frames, ranges.
    const char* config = "Config(92, 56, 542, 16, 1, 0, 0, 0, 0, 0, 4, 5, \"\")";
    if (!ParseConfigCall(config, &options.config, &error)) return Fail(kExitUsage, error);
    options.force = true;
    options.quiet = quiet;
    int rc = Apply(options, tools, sample, patched);
    if (rc != kExitOk) return rc;

    const long long shown = 50;
    rc = ExtractPng(tools, sample, shown, dir + "/before.png");
    if (rc == kExitOk) rc = ExtractPng(tools, patched, shown, dir + "/after.png");
    if (rc != kExitOk) return rc;
    printf("settings:  %s\n", config);
    printf("clip:      %s (with logo)\n", sample.c_str());
    printf("result:    %s (logo removed)\n", patched.c_str());
    printf("frame %lld: %s/before.png, %s/after.png\n", shown, dir.c_str(), dir.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "detect") == 0) return RunDetectCommand(argc, argv);
    if (argc < 2 || strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0 ||
        strcmp(argv[1], "help") == 0) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitOk;
    }
    Options options;
    options.command = argv[1];
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) return Fail(kExitUsage, error);
    InstallStopHandlers();
    const std::vector<std::string>& args = options.positional;

    if (options.printConfig && options.command != "demo") {
        static FilterInstance instance;
        InitInstance(&instance, options);
        PrintConfig(instance.settings);
        if (options.command == "preview" && args.empty()) return kExitOk;
    }

    if (options.command != "apply" && options.command != "preview" && options.command != "demo")
        return Fail(kExitUsage, "unknown command \"" + options.command + "\"; see delbrin --help");
    if (options.command == "apply" && args.size() != 2)
        return Fail(kExitUsage, "apply takes INPUT and OUTPUT; see delbrin --help");
    if (options.command == "preview" && (args.size() != 1 || options.frame < 0 || options.previewPath.empty()))
        return Fail(kExitUsage, "preview takes INPUT, --frame N and -o OUT.png; see delbrin --help");
    // A fresh instance patches one pixel in the corner, which in the host
    // only marks settings the dialog has not seen yet; a run without a
    // rectangle is a forgotten option, not a wish.
    if (options.command != "demo" && !options.haveSettings)
        return Fail(kExitUsage, "no rectangle given: use --config, --script or --rect; see delbrin --help");
    if (options.command == "demo" && args.size() > 1)
        return Fail(kExitUsage, "demo takes at most a directory; see delbrin --help");

    VideoTools tools;
    if (!FindVideoTools(&tools))
        return Fail(kExitNoFfmpeg, "ffmpeg and ffprobe are needed but were not found on PATH "
                                   "(on Debian: apt-get install ffmpeg)");
    if (options.command == "apply") return Apply(options, tools, args[0], args[1]);
    if (options.command == "preview") return Preview(options, tools, args[0]);
    return Demo(tools, args.empty() ? "delbrin-demo" : args[0], options.quiet);
}
