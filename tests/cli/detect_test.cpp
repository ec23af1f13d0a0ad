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

std::string ShownExpression(const Clip& c) {
    if (c.shown.empty()) return "1";
    std::string e;
    for (const Span& s : c.shown)
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
                 c.x, c.y, ShownExpression(c).c_str());
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

// The bounding box of the picture's pixels that are not clear.
bool OpaqueBox(const std::string& picture, const Clip& c, DetectRect* box) {
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(picture) +
                     " -vf alphaextract -f rawvideo -pix_fmt gray -").c_str(), "r");
    if (!p) return false;
    std::vector<uint8_t> alpha((size_t)c.w * c.h);
    bool read = fread(alpha.data(), 1, alpha.size(), p) == alpha.size();
    pclose(p);
    int x0 = c.w, y0 = c.h, x1 = -1, y1 = -1;
    for (int y = 0; y < c.h; y++)
        for (int x = 0; x < c.w; x++)
            if (alpha[(size_t)y * c.w + x]) x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
    *box = {c.x + x0, c.y + y0, x1 - x0 + 1, y1 - y0 + 1};
    return read && x1 >= 0;
}

double Iou(const DetectRect& a, const DetectRect& b) {
    int w = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    int h = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (w <= 0 || h <= 0) return 0;
    double inter = (double)w * h;
    return inter / ((double)a.width * a.height + (double)b.width * b.height - inter);
}

bool Covers(const DetectRect& outer, const DetectRect& inner) {
    return outer.x <= inner.x && outer.y <= inner.y && outer.x + outer.width >= inner.x + inner.width &&
           outer.y + outer.height >= inner.y + inner.height;
}

const Clip& ClipNamed(const char* name) {
    for (const Clip& c : kClips)
        if (std::string(c.name) == name) return c;
    abort();
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

        DetectRect truth;
        ASSERT_TRUE(OpaqueBox(logoPath, c, &truth));
        const FoundLogo& best = report.logos[0];
        const double iou = Iou(best.region, truth);
        EXPECT_GE(iou, c.opacity >= 1.0 ? 0.9 : 0.8) << "found " << best.region.x << "," << best.region.y << " "
                                                       << best.region.width << "x" << best.region.height;
        const bool covers = Covers(best.rectangle, truth);
        EXPECT_TRUE(covers);

        // Shown spans against the overlay's, end by end.
        std::vector<Span> shown = c.shown;
        const int frames = (int)report.frameCount;
        if (shown.empty()) shown.push_back({0, frames - 1});
        std::string offBy;
        EXPECT_EQ(report.shown.size(), shown.size());
        for (size_t i = 0; i < std::min(shown.size(), report.shown.size()); i++) {
            long first = (long)(report.shown[i].first - shown[i].first);
            long last = (long)(report.shown[i].last - shown[i].last);
            EXPECT_LE(labs(first), 2) << "span " << i;
            EXPECT_LE(labs(last), 2) << "span " << i;
            offBy += (offBy.empty() ? "" : ", ") + std::to_string(first) + "/" + std::to_string(last);
        }

        // The filter, given the Config line's settings, patches every frame
        // that shows the logo, and none further than the widening away.
        static PatchSettings settings;
        SettingsForLogo(best, options.margin, report.rangeText, &settings);
        for (int n = 0; n < frames; n++) {
            bool showing = false, near = false;
            for (const Span& s : shown) {
                showing |= n >= s.first && n <= s.last;
                near |= n >= s.first - 4 && n <= s.last + 4;
            }
            if (showing) EXPECT_GT(FrameAlpha(&settings, n), 0) << "frame " << n;
            if (!near) EXPECT_EQ(FrameAlpha(&settings, n), 0) << "frame " << n;
        }
        printf("%-28s %-8s %6.3f %-18s %s\n", c.name, verdicts[report.verdict], iou, covers ? "yes" : "NO",
               offBy.c_str());
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
            ASSERT_TRUE(ReadLumaFrames(&sampled, wanted, [&](int64_t n, const uint8_t* y, int32_t pitch) {
                numbers.push_back(n);
                EXPECT_TRUE(n <= last && lumaOf(y, pitch) == inOrder[n]) << "frame " << n;
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
