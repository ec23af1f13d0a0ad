// delbrin detect on clips the test makes itself with ffmpeg: moving pictures
// (a pan over a fractal, a panned test pattern, noise, a cellular automaton,
// a chaotic game of life, a fractal zoom) with logos laid over them (opaque
// and translucent plates, text and a disc, in the corners and at the middles
// of the edges, 2 to 15 percent of the frame's width), some shown only in
// part of the clip, some over a picture that stands still for a while; and
// clips without a logo, a still clip and a clip too short to tell.
//
// Each logo's true rectangle is the bounding box of its picture's opaque
// pixels; the frames it shows in are the overlay's. Clips are kept in the
// test directory under a name that carries a digest of the commands that
// made them, so a changed table makes new ones.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "detect_command.h"
#include "frame_run.h"
#include "frame_sampler.h"
#include "patch_settings.h"
#include "run_error.h"
#include "shell_run.h"
#include "video_input.h"

namespace {

const std::string kDir = DELBRIN_TEST_DIR;
const std::string kDelbrin = DELBRIN_COMMAND;
const int kWidth = 480, kHeight = 270, kRate = 25;

enum Background { kFractalPan, kPatternPan, kNoise, kCells, kLife, kFractalZoom, kStill };
enum LogoKind { kNoLogo, kPlate, kText, kPlateText, kDisc };
enum Expect { kFound, kNothing, kStatic, kShort };

struct Span {
    int first, last;
};

struct Clip {
    const char*       name;
    Background        background;
    LogoKind          logo;
    int               w, h, x, y;   // the logo's picture and where it goes
    double            opacity;
    std::vector<Span> shown;        // frames the logo shows in; empty: all
    Span              still;        // frames the picture stands still; {0, 0}: none
    int               sampled;      // --frames
    double            seconds;
    Expect            expect;
};

// clang-format off
const Clip kClips[] = {
    // name                          background    logo        w   h   x    y  opacity shown            still     N  secs
    {"fractal-plate-top-right",      kFractalPan,  kPlate,     60, 30, 400,  20, 1.0, {},                {0, 0},  300, 6, kFound},
    {"pattern-plate-text-top",       kPatternPan,  kPlateText, 60, 24, 210,   8, 0.5, {},                {0, 0},  300, 6, kFound},
    {"noise-text-bottom-left",       kNoise,       kText,      40, 24,  16, 230, 1.0, {},                {0, 0},  300, 6, kFound},
    {"cells-disc-bottom-right",      kCells,       kDisc,      24, 24, 440, 230, 1.0, {},                {0, 0},  300, 6, kFound},
    {"life-plate-top-left",          kLife,        kPlate,     30, 16,  12,  12, 0.6, {},                {0, 0},  300, 6, kFound},
    {"zoom-text-right",              kFractalZoom, kText,      40, 30, 420, 120, 0.6, {},                {0, 0},  300, 6, kFound},
    {"pattern-disc-part",            kPatternPan,  kDisc,      16, 16,   8,   8, 1.0, {{40, 110}},       {0, 0},  300, 6, kFound},
    {"fractal-plate-text-bottom",    kFractalPan,  kPlateText, 72, 30, 204, 230, 1.0, {},                {60, 120}, 300, 6, kFound},
    {"noise-plate-small",            kNoise,       kPlate,     10,  8, 458,   6, 1.0, {},                {0, 0},  300, 6, kFound},
    {"fractal-text-leaves",          kFractalPan,  kText,      36, 24, 430, 236, 0.4, {{0, 79}},         {0, 0},  300, 6, kFound},
    {"pattern-plate-left-arrives",   kPatternPan,  kPlate,     72, 40,  10, 115, 0.5, {{30, 149}},       {0, 0},  300, 6, kFound},
    {"cells-plate-text-still",       kCells,       kPlateText, 48, 20,  10,  10, 1.0, {},                {30, 90}, 300, 6, kFound},
    {"life-text-top-right",          kLife,        kText,      36, 24, 430,  10, 0.5, {},                {0, 0},  300, 6, kFound},
    {"fractal-text-tiny",            kFractalPan,  kText,      12, 10,   8, 250, 0.5, {},                {0, 0},  300, 6, kFound},
    {"pattern-plate-tiny-left",      kPatternPan,  kPlate,     10,  6,   4, 132, 0.5, {},                {0, 0},  300, 6, kFound},
    {"fractal-sparse-twice",         kFractalPan,  kPlateText, 56, 22, 412,  16, 1.0, {{0, 99}, {180, 299}}, {0, 0}, 60, 12, kFound},
    {"noise-sparse-text",            kNoise,       kText,      40, 24,  16, 230, 0.7, {{50, 200}},       {0, 0},   48, 12, kFound},
    {"fractal-pan-alone",            kFractalPan,  kNoLogo,     0,  0,   0,   0, 0.0, {},                {0, 0},  300, 6, kNothing},
    {"pattern-pan-alone",            kPatternPan,  kNoLogo,     0,  0,   0,   0, 0.0, {},                {0, 0},  300, 6, kNothing},
    {"noise-alone",                  kNoise,       kNoLogo,     0,  0,   0,   0, 0.0, {},                {0, 0},  300, 6, kNothing},
    {"cells-alone",                  kCells,       kNoLogo,     0,  0,   0,   0, 0.0, {},                {0, 0},  300, 6, kNothing},
    {"life-alone",                   kLife,        kNoLogo,     0,  0,   0,   0, 0.0, {},                {0, 0},  300, 6, kNothing},
    {"zoom-alone",                   kFractalZoom, kNoLogo,     0,  0,   0,   0, 0.0, {},                {0, 0},  300, 6, kNothing},
    {"still-with-plate",             kStill,       kPlate,     40, 20, 400,  20, 1.0, {},                {0, 0},  300, 6, kStatic},
    {"too-short",                    kPatternPan,  kPlate,     40, 20, 400,  20, 1.0, {},                {0, 0},  300, 0.3, kShort},
};
// clang-format on

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string BackgroundSource(Background b) {
    // Every source that draws at random has its seed fixed: the clips, and
    // so the test, are the same on every run.
    switch (b) {
    case kFractalPan:
        return "mandelbrot=s=1280x720:r=25,trim=end_frame=1,loop=-1:1:0,"
               "crop=480:270:x='400+380*sin(t*0.7)':y='225+200*cos(t*0.9)'";
    case kPatternPan:
        return "testsrc2=s=640x360:r=25,crop=480:270:x='80+80*sin(t*0.8)':y='45+45*cos(t*1.1)'";
    case kNoise: return "gradients=s=480x270:r=25:speed=0.05:seed=2,noise=alls=40:allf=t:all_seed=2";
    case kCells: return "cellauto=s=480x270:r=25:rule=30:random_fill_ratio=0.5:scroll=1:start_full=1:seed=2";
    // Seeds (birth on two, no survival) never settles into still shapes.
    case kLife:
        return "life=s=240x135:r=25:rule=B2/S:ratio=0.1:mold=8:seed=2:death_color=#203040:"
               "life_color=#c0c080,scale=480:270:flags=neighbor";
    case kFractalZoom: return "mandelbrot=s=480x270:r=25";
    case kStill: return "mandelbrot=s=480x270:r=25,trim=end_frame=1,loop=-1:1:0,noise=alls=3:allf=t:all_seed=2";
    }
    return "";
}

// The logo's picture, RGBA: plates fill it, text and the disc leave parts
// of it clear.
std::string LogoPicture(const Clip& c) {
    const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
    switch (c.logo) {
    case kPlate:
        return "color=c=white:s=" + size + ",format=rgba,drawbox=x=" + std::to_string(c.w / 6) +
               ":y=" + std::to_string(c.h / 4) + ":w=" + std::to_string(c.w / 3) + ":h=" +
               std::to_string(c.h / 2) + ":color=red:t=fill";
    case kText:
        return "color=c=black@0:s=" + size + ",format=rgba,drawtext=text='TV5':fontcolor=white:fontsize=" +
               std::to_string(c.h) + ":borderw=1:bordercolor=black:x=0:y=0";
    case kPlateText:
        return "color=c=navy:s=" + size + ",format=rgba,drawtext=text='NEWS':fontcolor=yellow:fontsize=" +
               std::to_string(c.h * 2 / 3) + ":x=(w-text_w)/2:y=(h-text_h)/2";
    case kDisc:
        return "color=c=black@0:s=" + size +
               ",format=rgba,geq=r=250:g=200:b=40:a='255*lt(hypot(X-W/2+0.5,Y-H/2+0.5),W/2)'";
    case kNoLogo: break;
    }
    return "";
}

std::string ShownExpression(const std::vector<Span>& shown) {
    if (shown.empty()) return "1";
    std::string e;
    for (const Span& s : shown)
        e += (e.empty() ? "" : "+") + std::string("between(n,") + std::to_string(s.first) + "," +
             std::to_string(s.last) + ")";
    return e;
}

const char kFfmpeg[] = "ffmpeg -hide_banner -v error -nostdin -y ";

// Makes the clip (and the logo's picture) unless made before; returns its path.
std::string MakeClip(const Clip& c, std::string* logoPath) {
    std::string logo = c.logo == kNoLogo ? "" : "-f lavfi -i " + Quote(LogoPicture(c)) + " -frames:v 1";
    std::string video = BackgroundSource(c.background);
    if (c.still.last > c.still.first)
        video += ",split[a][b];[a][b]freezeframes=first=" + std::to_string(c.still.first) +
                 ":last=" + std::to_string(c.still.last) + ":replace=" + std::to_string(c.still.first);
    video += ",trim=duration=" + std::to_string(c.seconds);
    const std::string encode = " -c:v libx264 -preset veryfast -crf 22 -g 50 -pix_fmt yuv420p ";
    std::string stem = kDir + "/" + c.name + "-" + std::to_string(std::hash<std::string>()(logo + video));
    *logoPath = stem + "-logo.png";
    const std::string clip = stem + ".mp4";
    if (Exists(clip)) return clip;
    std::string make;
    if (c.logo == kNoLogo) {
        make = kFfmpeg + std::string("-f lavfi -i ") + Quote(video) + encode + Quote(clip + ".part.mp4");
    } else {
        if (Shell(kFfmpeg + logo + " " + Quote(*logoPath)) != 0) return "";
        char overlay[512];
        snprintf(overlay, sizeof overlay,
                 "[1]format=rgba,colorchannelmixer=aa=%.2f[l];[0][l]overlay=x=%d:y=%d:enable='%s'", c.opacity,
                 c.x, c.y, ShownExpression(c.shown).c_str());
        make = kFfmpeg + std::string("-f lavfi -i ") + Quote(video) + " -i " + Quote(*logoPath) +
               " -filter_complex " + Quote(overlay) + encode + Quote(clip + ".part.mp4");
    }
    std::string output;
    if (Shell(make, &output) != 0) {
        ADD_FAILURE() << "making " << c.name << " failed: " << output;
        return "";
    }
    rename((clip + ".part.mp4").c_str(), clip.c_str());
    return clip;
}

// The bounding box of the pixels of a w x h picture, laid at x, y, that are
// not clear.
bool OpaqueBox(const std::string& picture, int w, int h, int x, int y, PixelRect* box) {
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(picture) +
                     " -vf alphaextract -f rawvideo -pix_fmt gray -").c_str(), "r");
    if (!p) return false;
    std::vector<uint8_t> alpha((size_t)w * h);
    bool read = fread(alpha.data(), 1, alpha.size(), p) == alpha.size();
    pclose(p);
    int x0 = w, y0 = h, x1 = -1, y1 = -1;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            if (alpha[(size_t)j * w + i]) x0 = std::min(x0, i), x1 = std::max(x1, i), y0 = std::min(y0, j), y1 = std::max(y1, j);
    *box = {x + x0, y + y0, x1 - x0 + 1, y1 - y0 + 1};
    return read && x1 >= 0;
}

double Iou(const PixelRect& a, const PixelRect& b) {
    int w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    int h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (w <= 0 || h <= 0) return 0;
    double inter = (double)w * h;
    return inter / ((double)a.width * a.height + (double)b.width * b.height - inter);
}

bool Covers(const PixelRect& outer, const PixelRect& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && outer.x + outer.width >= inner.x + inner.width &&
           outer.y + outer.height >= inner.y + inner.height;
}

const Clip& ClipNamed(const char* name) {
    for (const Clip& c : kClips)
        if (std::string(c.name) == name) return c;
    abort();
}

struct Checked {
    double      iou;
    bool        covers;
    std::string offBy;
};

// A found logo against the truth: the region's IoU, the proposed rectangle
// covering the logo, the shown spans' ends within `ends` frames of the
// overlay's, and the Config line's ranges, read by the filter core,
// patching every frame that shows the logo and none further than `near`
// frames away.
Checked CheckFound(const DetectReport& report, int margin, PixelRect truth, double leastIou,
                   std::vector<Span> shown, int ends, int near) {
    const FoundLogo& best = report.logos[0];
    Checked checked;
    checked.iou = Iou(best.region, truth);
    EXPECT_GE(checked.iou, leastIou) << "found " << best.region.x << "," << best.region.y << " " << best.region.width
                                     << "x" << best.region.height << ", truth " << truth.x << "," << truth.y << " "
                                     << truth.width << "x" << truth.height;
    checked.covers = Covers(best.rectangle, truth);
    EXPECT_TRUE(checked.covers);

    const int frames = (int)report.frameCount;
    if (shown.empty()) shown.push_back({0, frames - 1});
    EXPECT_EQ(report.shown.size(), shown.size());
    for (size_t i = 0; i < std::min(shown.size(), report.shown.size()); i++) {
        long first = (long)(report.shown[i].first - shown[i].first);
        long last = (long)(report.shown[i].last - shown[i].last);
        EXPECT_LE(labs(first), ends) << "span " << i;
        EXPECT_LE(labs(last), ends) << "span " << i;
        checked.offBy += (checked.offBy.empty() ? "" : ", ") + std::to_string(first) + "/" + std::to_string(last);
    }
    static PatchSettings settings;
    SettingsForLogo(best, margin, report.rangeText, &settings);
    int missed = 0, extra = 0;
    for (int n = 0; n < frames; n++) {
        bool showing = false, close = false;
        for (const Span& s : shown) {
            showing |= n >= s.first && n <= s.last;
            close |= n >= s.first - near && n <= s.last + near;
        }
        missed += showing && FrameAlpha(&settings, n) == 0;
        extra += !close && FrameAlpha(&settings, n) > 0;
    }
    EXPECT_EQ(missed, 0) << "frames showing the logo left unpatched";
    EXPECT_EQ(extra, 0) << "frames patched further than " << near << " from the logo";
    return checked;
}

class DetectTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        mkdir(kDir.c_str(), 0777);
        av_log_set_level(AV_LOG_FATAL);  // a file cut mid-GOP makes the decoder complain
    }
};

// The whole table: the region found against the logo's, the proposed
// rectangle covering it, the shown spans against the overlay's, and the
// Config line's ranges, read by the filter core, patching every frame that
// shows the logo. Prints one line a clip.
TEST_F(DetectTest, GeneratedClips) {
    printf("%-28s %-8s %6s %-18s %s\n", "clip", "verdict", "IoU", "rectangle covers", "range ends off by (frames)");
    for (const Clip& c : kClips) {
        SCOPED_TRACE(c.name);
        std::string logoPath;
        const std::string clip = MakeClip(c, &logoPath);
        if (clip.empty()) {
            // drawtext needs a font; without one the text rows cannot be made.
            printf("%-28s skipped: the clip could not be made\n", c.name);
            continue;
        }
        DetectOptions options;
        options.input = clip;
        options.frames = c.sampled;
        options.ranges = true;
        DetectReport report;
        const int code = AnalyseVideo(options, &report);
        const char* verdicts[] = {"found", "nothing", "too-short", "static", "too-small"};
        const DetectVerdict wanted[] = {kDetectFound, kDetectNothing, kDetectStatic, kDetectTooShort};
        EXPECT_EQ(report.verdict, wanted[c.expect]) << report.error;
        if (c.expect != kFound) {
            EXPECT_NE(code, 0);
            EXPECT_TRUE(report.logos.empty());
            printf("%-28s %-8s\n", c.name, verdicts[report.verdict]);
            continue;
        }
        EXPECT_EQ(code, 0);
        if (report.logos.empty()) continue;

        PixelRect truth;
        ASSERT_TRUE(OpaqueBox(logoPath, c.w, c.h, c.x, c.y, &truth));
        const Checked checked = CheckFound(report, options.margin, truth, c.opacity >= 1.0 ? 0.9 : 0.8, c.shown, 2, 4);
        printf("%-28s %-8s %6.3f %-18s %s\n", c.name, verdicts[report.verdict], checked.iou,
               checked.covers ? "yes" : "NO", checked.offBy.c_str());
    }
}

// Clips made from pictures Debian ships (ukui-wallpapers: flat graphics and
// smooth gradients, the hard case for telling a logo from what lies under
// it), panned, zoomed and cut, with fades, grain and letterbox bars, the
// logos rendered with alpha through a font, encoded with x264 at CRF 20 and
// 30 and as low-rate MPEG-2, from 576 to 1080 lines.
const char kPictures[] = "/usr/share/backgrounds/";
const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

enum Motion { kPan, kSlowPan, kZoom, kCuts, kStillPicture };
enum FootageLogo { kNone, kBorderedText, kPlateWithText, kShadowText, kRedPlate, kRedText };
enum Codec { kCrf20, kCrf30, kMpeg2 };

struct Footage {
    const char*       name;
    const char*       picture;    // in kPictures; the cuts show four
    Motion            motion;
    int               width, height;
    const char*       finish;     // filters after the motion: fades, grain, bars, a still third
    FootageLogo       logo;
    int               w, h, x, y;
    double            opacity;
    std::vector<Span> shown;      // empty: all frames
    Codec             codec;
    double            seconds;
    Expect            expect;
};

// clang-format off
const Footage kFootage[] = {
    {"string-pan-text-576",      "string.jpg",   kPan,     1024,  576, "",                                  kBorderedText,  84, 44, 912,  24, 1.0, {},                    kCrf20,  6, kFound},
    {"fluent-zoom-plate-720",    "fluent-color.png", kZoom, 1280, 720, ",noise=alls=10:allf=t:all_seed=3",   kPlateWithText, 150, 48,  40,  30, 0.6, {},                    kCrf30,  6, kFound},
    {"cuts-shadow-break-576",    "",             kCuts,    1024,  576, "",                                  kShadowText,   110, 44, 880, 508, 1.0, {{0, 99}, {160, 249}}, kMpeg2, 10, kFound},
    {"string-bars-plate-15pc",   "string.jpg",   kPan,     1280,  720, ",scale=1280:540,pad=1280:720:0:90", kRedPlate,      64, 32, 1180, 110, 1.0, {{160, 199}},          kCrf20, 10, kFound},
    {"string-text-1080-grain",   "string.jpg",   kPan,     1920, 1080, ",noise=alls=12:allf=t:all_seed=4",   kBorderedText, 120, 64, 1740,  60, 0.5, {},                    kCrf30,  4, kFound},
    {"calla-black-red-text-576", "calla.png",    kPan,     1024,  576, ",drawbox=c=black:t=fill:enable='between(t,3,4)'", kRedText, 72, 36, 40, 520, 1.0, {}, kCrf20, 8, kFound},
    {"rhythm-bars-alone",        "rhythm.jpg",   kPan,     1024,  576, ",scale=1024:432,pad=1024:576:0:72", kNone,           0,  0,   0,   0, 0.0, {},                    kCrf20,  6, kNothing},
    {"string-still-third-alone", "string.jpg",   kPan,     1280,  720, "[m];[m][s]overlay=0:0",             kNone,           0,  0,   0,   0, 0.0, {},                    kCrf20,  6, kNothing},
    {"goldfish-slow-pan-alone",  "goldfish.png", kSlowPan, 1024,  576, "",                                  kNone,           0,  0,   0,   0, 0.0, {},                    kCrf20,  6, kNothing},
    {"desert-still-grain",       "desert.png",   kStillPicture, 1024, 576, ",noise=alls=4:allf=t:all_seed=5", kNone,         0,  0,   0,   0, 0.0, {},                    kCrf20,  6, kStatic},
};
// clang-format on

std::string FootageLogoPicture(const Footage& c) {
    const std::string size = std::to_string(c.w) + "x" + std::to_string(c.h);
    const std::string font = std::string("fontfile=") + kFont + ":";
    const std::string fontSize = std::to_string(c.h * 3 / 4);
    switch (c.logo) {
    case kBorderedText:
        return "color=c=black@0:s=" + size + ",format=rgba,drawtext=" + font + "text='TV5':fontcolor=white:fontsize=" +
               fontSize + ":borderw=2:bordercolor=black:x=2:y=2";
    case kPlateWithText:
        return "color=c=white:s=" + size + ",format=rgba,drawtext=" + font + "text='NEWS':fontcolor=navy:fontsize=" +
               fontSize + ":x=(w-text_w)/2:y=(h-text_h)/2";
    case kShadowText:
        return "color=c=black@0:s=" + size + ",format=rgba,drawtext=" + font +
               "text='ARTE':fontcolor=yellow:fontsize=" + fontSize + ":shadowcolor=black@0.7:shadowx=3:shadowy=3:x=0:y=0";
    case kRedPlate:
        return "color=c=red:s=" + size + ",format=rgba,drawbox=x=iw/4:y=ih/4:w=iw/2:h=ih/2:color=white:t=fill";
    case kRedText:
        return "color=c=black@0:s=" + size + ",format=rgba,drawtext=" + font + "text='RED':fontcolor=red:fontsize=" +
               fontSize + ":x=0:y=0";
    case kNone: break;
    }
    return "";
}

// The moving picture: ffmpeg inputs and the filter graph up to [v].
void FootageVideo(const Footage& c, std::string* inputs, std::string* graph) {
    const std::string W = std::to_string(c.width), H = std::to_string(c.height);
    const std::string T = std::to_string(c.seconds);
    auto picture = [&](const char* name, double seconds) {
        *inputs += " -loop 1 -framerate 25 -t " + std::to_string(seconds) + " -i " + Quote(std::string(kPictures) + name);
    };
    switch (c.motion) {
    case kPan:
    case kSlowPan: {
        picture(c.picture, c.seconds);
        const std::string travel = c.motion == kSlowPan ? "500*t/" + T : "(iw-ow)*t/" + T;
        *graph = "[0]scale=" + std::to_string(c.width * 2) + ":-2,crop=" + W + ":" + H + ":x='" + travel +
                 "':y='(ih-oh)*(0.3+0.2*t/" + T + ")',setsar=1";
        break;
    }
    case kZoom:
        picture(c.picture, c.seconds);
        *graph = "[0]scale=" + std::to_string(c.width * 5 / 4) + ":-2,scale=w='" + std::to_string(c.width * 5 / 4) +
                 "*(1+0.004*n)':h=-2:eval=frame,crop=" + W + ":" + H + ",setsar=1";
        break;
    case kCuts: {
        const char* names[] = {"city.png", "desert.png", "string.jpg", "goldfish.png"};
        const double each = c.seconds / 4;
        std::string joined;
        for (int i = 0; i < 4; i++) {
            picture(names[i], each);
            *graph += "[" + std::to_string(i) + "]scale=" + std::to_string(c.width * 3 / 2) + ":-2,crop=" + W + ":" + H +
                      ":x='(iw-ow)*t/" + std::to_string(each) + "',setsar=1[p" + std::to_string(i) + "];";
            joined += "[p" + std::to_string(i) + "]";
        }
        *graph += joined + "concat=n=4";
        break;
    }
    case kStillPicture:
        picture(c.picture, c.seconds);
        *graph = "[0]scale=" + W + ":" + H + ",setsar=1";
        break;
    }
    // The still third: the first picture's left third, held.
    if (std::string(c.finish).find("[s]") != std::string::npos) {
        picture(c.picture, c.seconds);
        *graph = *graph + c.finish;
        *graph = "[1]scale=" + std::to_string(c.width * 2) + ":-2,crop=" + std::to_string(c.width / 3) + ":" + H +
                 ":0:0,setsar=1[s];" + *graph;
    } else {
        *graph += c.finish;
    }
    *graph += ",trim=duration=" + T + ",format=yuv420p[v]";
}

std::string MakeFootage(const Footage& c, std::string* logoPath) {
    for (const char* needed : {kFont, "/usr/share/backgrounds/string.jpg"})
        if (!Exists(needed)) return "";
    std::string inputs, graph;
    FootageVideo(c, &inputs, &graph);
    const char* encodes[] = {" -c:v libx264 -preset veryfast -crf 20 -g 50 -pix_fmt yuv420p ",
                             " -c:v libx264 -preset veryfast -crf 30 -g 50 -pix_fmt yuv420p ",
                             " -c:v mpeg2video -b:v 2500k -maxrate 2500k -bufsize 1835k -g 12 -pix_fmt yuv420p "};
    const std::string encode = encodes[c.codec];
    const std::string logo = c.logo == kNone ? "" : FootageLogoPicture(c);
    const std::string stem = kDir + "/" + c.name + "-" + std::to_string(std::hash<std::string>()(inputs + graph + logo + encode));
    const std::string clip = stem + (c.codec == kMpeg2 ? ".mpg" : ".mp4");
    *logoPath = stem + "-logo.png";
    if (Exists(clip)) return clip;
    if (!logo.empty()) {
        if (Shell(kFfmpeg + std::string("-f lavfi -i ") + Quote(logo) + " -frames:v 1 " + Quote(*logoPath)) != 0) return "";
        int count = 0;  // the logo is the input after the pictures
        for (size_t at = inputs.find(" -i "); at != std::string::npos; at = inputs.find(" -i ", at + 1)) count++;
        inputs += " -i " + Quote(*logoPath);
        char overlay[512];
        snprintf(overlay, sizeof overlay, ";[%d]format=rgba,colorchannelmixer=aa=%.2f[l];[v][l]overlay=x=%d:y=%d:enable='%s'[o]",
                 count, c.opacity, c.x, c.y, ShownExpression(c.shown).c_str());
        graph += overlay;
    } else {
        graph += ";[v]null[o]";
    }
    std::string output;
    const std::string part = clip + ".part" + (c.codec == kMpeg2 ? ".mpg" : ".mp4");
    if (Shell(kFfmpeg + inputs + " -filter_complex " + Quote(graph) + " -map '[o]'" + encode + Quote(part), &output) != 0) {
        ADD_FAILURE() << "making " << c.name << " failed: " << output;
        return "";
    }
    rename(part.c_str(), clip.c_str());
    return clip;
}

TEST_F(DetectTest, FootageClips) {
    printf("%-28s %-8s %6s %-18s %s\n", "clip", "verdict", "IoU", "rectangle covers", "range ends off by (frames)");
    for (const Footage& c : kFootage) {
        SCOPED_TRACE(c.name);
        std::string logoPath;
        const std::string clip = MakeFootage(c, &logoPath);
        if (clip.empty()) {
            printf("%-28s skipped: the clip could not be made (ukui-wallpapers and fonts-dejavu-core installed?)\n", c.name);
            continue;
        }
        DetectOptions options;
        options.input = clip;
        options.ranges = true;
        DetectReport report;
        const int code = AnalyseVideo(options, &report);
        const char* verdicts[] = {"found", "nothing", "too-short", "static", "too-small"};
        const DetectVerdict wanted[] = {kDetectFound, kDetectNothing, kDetectStatic, kDetectTooShort};
        EXPECT_EQ(report.verdict, wanted[c.expect]) << report.error;
        if (c.expect != kFound || report.logos.empty()) {
            EXPECT_EQ(code != 0, c.expect != kFound);
            if (c.expect != kFound && !report.logos.empty())
                ADD_FAILURE() << "proposed " << report.logos[0].region.x << "," << report.logos[0].region.y << " "
                              << report.logos[0].region.width << "x" << report.logos[0].region.height;
            printf("%-28s %-8s\n", c.name, verdicts[report.verdict]);
            continue;
        }
        PixelRect truth;
        ASSERT_TRUE(OpaqueBox(logoPath, c.w, c.h, c.x, c.y, &truth));
        const Checked checked = CheckFound(report, options.margin, truth, c.opacity >= 1.0 ? 0.9 : 0.8, c.shown, 3, 8);
        printf("%-28s %-8s %6.3f %-18s %s\n", c.name, verdicts[report.verdict], checked.iou,
               checked.covers ? "yes" : "NO", checked.offBy.c_str());
    }
}

// Frames read by seeking carry the numbers apply gives them: each frame a
// file opened for sampling hands out is the frame with that number read in
// order, as apply reads. The clips have B-frames and a keyframe every 25
// frames: MP4 (seeks by decoding time), Matroska (by presentation time), an
// MP4 whose first packets an edit list discards, and a Matroska file cut in
// the middle of a group of pictures, whose first frames the decoder drops;
// all under a name with a colon that must not be taken for a protocol.
TEST_F(DetectTest, ChosenFramesCarryTheNumbersOfReadingInOrder) {
    const std::string stem = kDir + "/12:30 seeking";
    const std::string make[][2] = {
        {".mp4", "-f lavfi -i testsrc=s=96x64:r=25:d=8 -c:v libx264 -preset veryfast -bf 3 -g 25 -pix_fmt yuv420p"},
        {".mkv", "-f lavfi -i testsrc=s=96x64:r=25:d=8 -c:v libx264 -preset veryfast -bf 3 -g 25 -pix_fmt yuv420p"},
        {"-edit-list.mp4", "-ss 1.3 -i " + Quote(stem + ".mp4") + " -c copy"},
        {"-mid-gop.mkv", "-i " + Quote(stem + ".mkv") + " -ss 1.3 -c copy -copyinkf"},
    };
    for (const auto& m : make) {
        const std::string clip = stem + m[0];
        SCOPED_TRACE(clip);
        if (!Exists(clip)) ASSERT_EQ(Shell(kFfmpeg + m[1] + " " + Quote(clip)), 0);
        auto lumaOf = [](const uint8_t* y, int32_t pitch) {
            std::vector<uint8_t> rows;
            for (int r = 0; r < 64; r++) rows.insert(rows.end(), y + r * pitch, y + r * pitch + 96);
            return rows;
        };
        MediaError error;
        std::vector<std::vector<uint8_t>> inOrder;
        {
            VideoInput reader;
            ASSERT_TRUE(OpenVideoInput(clip, kReadVideo, &reader, &error)) << error.message;
            FramePtr frame(av_frame_alloc());
            int64_t number;
            while (ReadVideoFrame(&reader, frame.get(), &number, &error) == 1)
                inOrder.push_back(lumaOf(frame->data[0], frame->linesize[0]));
        }
        ASSERT_GE(inOrder.size(), 100u);

        VideoInput sampled;
        ASSERT_TRUE(OpenVideoInput(clip, kSampleFrames, &sampled, &error)) << error.message;
        EXPECT_EQ(sampled.index.frameCount, (int64_t)inOrder.size());
        const int64_t last = (int64_t)inOrder.size() - 1;
        // Keyframes, frames just after and before them, a frame in mid-GOP,
        // backward jumps, the last frame, and a spread as detect samples.
        for (std::vector<int64_t> wanted : {std::vector<int64_t>{0, 24, 25, 26, 49, 77, last}, std::vector<int64_t>{95},
                                            std::vector<int64_t>{3, 51}, SpreadFrameNumbers(sampled.index, 30)}) {
            std::vector<int64_t> numbers;
            ASSERT_TRUE(ReadSamplePlanes(&sampled, wanted, 1, [&](const SamplePlanes& frame) {
                const int64_t n = frame.frameNumber;
                numbers.push_back(n);
                EXPECT_TRUE(n <= last && lumaOf(frame.plane[0], frame.pitch[0]) == inOrder[n]) << "frame " << n;
                return true;
            }, &error)) << error.message;
            EXPECT_EQ(numbers, wanted);
        }
    }
}

// The command itself: its JSON, its preview and its exit codes.
TEST_F(DetectTest, CommandReportsAndExitCodes) {
    std::string logoPath;
    const std::string withLogo = MakeClip(ClipNamed("pattern-disc-part"), &logoPath);
    const std::string without = MakeClip(ClipNamed("pattern-pan-alone"), &logoPath);
    const std::string still = MakeClip(ClipNamed("still-with-plate"), &logoPath);
    const std::string tooShort = MakeClip(ClipNamed("too-short"), &logoPath);
    ASSERT_FALSE(withLogo.empty() || without.empty() || still.empty() || tooShort.empty());
    const std::string preview = kDir + "/preview.png";
    FILE* taken = fopen(preview.c_str(), "w");  // a file the preview may replace only with --force
    ASSERT_TRUE(taken);
    fclose(taken);

    std::string out;
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(withLogo) + " --preview " + Quote(preview), &out),
              kExitRefused);
    EXPECT_NE(out.find("already exists; add --force"), std::string::npos) << out;
    ASSERT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(withLogo) + " --ranges --json --force --preview " +
                    Quote(preview), &out), 0)
        << out;
    // The numbers are the table's business; here they must all be there.
    for (const char* key : {"\"verdict\": \"found\"", "\"region\": {\"x\": ", "\"rectangle\": {\"x\": ",
                            "\"summary\": \" ", "\"config\": \"Config(", ", 1, 0, 0, 0, 0, 0, 4, 1, \\\"",
                            "\"shown\": [[", "\"candidates\": ["})
        EXPECT_NE(out.find(key), std::string::npos) << key << " in " << out;
    std::string kind;
    Shell("ffprobe -v error -show_entries stream=codec_name,width,height -of csv=p=0 " + Quote(preview), &kind);
    EXPECT_EQ(kind, "png,480,270\n");

    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(without)), kExitNoLogo);
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(tooShort)), kExitTooShort);
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(still), &out), kExitStillPicture);
    EXPECT_NE(out.find("cannot tell a logo from the picture"), std::string::npos) << out;
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(kDir + "/missing.mp4")), kExitReading);
    // Frames lower than the analysis takes: a verdict of their own, not "too short".
    const std::string tiny = kDir + "/tiny.mkv";
    ASSERT_EQ(Shell("ffmpeg -v error -y -f lavfi -i testsrc2=s=64x6:r=25:d=1 -c:v ffv1 " + Quote(tiny)), 0);
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(tiny), &out), kExitTooSmall);
    EXPECT_NE(out.find("the picture is too small to analyse: 64x6; at least 8x8 needed"), std::string::npos) << out;
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(withLogo) + " --frames 2"), kExitUsage);
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(withLogo) + " --preview " + Quote(withLogo)), kExitRefused);
    EXPECT_EQ(Shell(Quote(kDelbrin) + " detect " + Quote(withLogo) + " --preview " + Quote(kDir + "/no/p.png")),
              kExitWriting);
    EXPECT_NE(Shell("ls -A " + Quote(kDir) + " | grep -q delbrin-"), 0) << "a temporary file was left";
}

// Ctrl-C: exit code 130 and no preview. The input comes through a pipe that
// the test keeps open and half fed, so the command is still reading when
// the signal comes; the pipe opens only once the command has its handlers.
TEST_F(DetectTest, InterruptedRunLeavesNoPreview) {
    const std::string clip = kDir + "/long.mkv", fifo = kDir + "/feed.mkv", preview = kDir + "/cut.png";
    if (!Exists(clip))
        ASSERT_EQ(Shell(kFfmpeg + std::string("-f lavfi -i testsrc2=s=320x240:r=25:d=8 -c:v ffv1 ") + Quote(clip)), 0);
    std::string bytes;
    Shell("cat " + Quote(clip), &bytes);
    ASSERT_GT(bytes.size(), 300000u);
    std::string message;
    const int code = RunInterrupted({kDelbrin, "detect", fifo, "--preview", preview}, fifo, bytes, 300000, "",
                                    &message);
    EXPECT_EQ(code, kExitInterrupted) << message;
    EXPECT_NE(message.find("interrupted"), std::string::npos) << message;
    EXPECT_FALSE(Exists(preview));
    EXPECT_NE(Shell("ls -A " + Quote(kDir) + " | grep -q delbrin-"), 0) << "a temporary file was left";
}

}  // namespace
