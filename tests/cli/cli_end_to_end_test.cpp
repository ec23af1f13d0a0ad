// The delbrin command run on small generated clips. The expected frames come
// from the filter core itself, fed the decoded input the way the host feeds it:
// copied into a bottom-up bitmap with a positive pitch, an orientation the
// command does not use, so a frame turned upside down anywhere shows. Then
// what a file carries besides its pictures, and every way a run can fail.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "frame_run.h"
#include "script_line.h"
#include "shell_run.h"
#include "test_frames.h"

namespace {

const std::string kDelbrin = DELBRIN_COMMAND;
const std::string kDir = DELBRIN_TEST_DIR;
const int kWidth = 48, kHeight = 32, kFrames = 12;

// Config order: width, height, x, y, feather on, fade on, cancel top, bottom,
// left, right, feather width, fade frames, ranges.
const char kConfig[] = "Config(20, 14, 9, 5, 1, 1, 0, 0, 0, 0, 3, 2, \"3 6, \")";
const char kConfigOptions[] = "--rect 9,5,20,14 --feather 3 --fade 2 --ranges '3 6'";

using Frame = std::vector<uint8_t>;

std::string Delbrin(const std::string& args) { return Quote(kDelbrin) + " " + args; }

std::string Path(const std::string& name) { return kDir + "/" + name; }

// The command line "delbrin apply INPUT OUTPUT OPTIONS", both files in the test directory.
std::string Apply(const std::string& input, const std::string& output, const std::string& options = "") {
    return Delbrin("apply " + Quote(Path(input)) + " " + Quote(Path(output)) + (options.empty() ? "" : " " + options));
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The decoded video of a file, frame by frame, as top-down BGRA rows,
// without any rotation applied.
std::vector<Frame> Decode(const std::string& file, int width = kWidth, int height = kHeight) {
    std::vector<Frame> frames;
    FILE* p = popen(("ffmpeg -v error -nostdin -noautorotate -i " + Quote(file) +
                     " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt bgra -").c_str(), "r");
    if (!p) return frames;
    Frame frame(static_cast<size_t>(width) * height * 4);
    while (fread(frame.data(), 1, frame.size(), p) == frame.size()) frames.push_back(frame);
    pclose(p);
    return frames;
}

std::string StreamDigest(const std::string& file, const char* stream) {
    std::string out;
    Shell("ffmpeg -v error -nostdin -i " + Quote(file) + " -map 0:" + stream + " -c copy -f md5 -", &out);
    return out;
}

std::string Probe(const std::string& file, const char* entries) {
    std::string out;
    Shell("ffprobe -v error -count_frames -show_entries " + std::string(entries) + " -of compact " + Quote(file), &out);
    return out;
}

// What the host would give: frame n through RunFrame on a bottom-up bitmap.
Frame CoreResult(const Frame& topDown, const char* config, int32_t n) {
    TestFrame frame;
    InitTestFrame(&frame, kWidth, kHeight, 0);
    frame.frameNumber = n;

    // The test's own reading of the line: numbers between the parentheses.
    int32_t numbers[kConfigNumberCount];
    const char* p = strchr(config, '(') + 1;
    for (int i = 0; i < kConfigNumberCount; i++) numbers[i] = static_cast<int32_t>(strtol(p, const_cast<char**>(&p), 10)), p++;
    std::string ranges(strchr(config, '"') + 1, strrchr(config, '"'));
    StoreConfig(&frame.settings, numbers, ranges.c_str());

    const int rowBytes = kWidth * 4;
    for (int r = 0; r < kHeight; r++)
        memcpy(PixelAt(&frame.view, 0, r), &topDown[r * rowBytes], rowBytes);
    PatchTestFrame(&frame);
    Frame result(topDown.size());
    for (int r = 0; r < kHeight; r++)
        memcpy(&result[r * rowBytes], PixelAt(&frame.view, 0, r), rowBytes);
    return result;
}

// Blue, green and red of every pixel; the fourth byte is padding in a file.
bool SameColours(const Frame& a, const Frame& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (i % 4 != 3 && a[i] != b[i]) return false;
    return true;
}

bool SameOutsideRect(const Frame& a, const Frame& b, int x, int y, int w, int h) {
    for (int r = 0; r < kHeight; r++)
        for (int c = 0; c < kWidth; c++) {
            if (c >= x && c < x + w && r >= y && r < y + h) continue;
            if (memcmp(&a[(r * kWidth + c) * 4], &b[(r * kWidth + c) * 4], 3) != 0) return false;
        }
    return true;
}

std::vector<std::string> LeftoverTemporaries() {
    std::vector<std::string> names;
    DIR* d = opendir(kDir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr)
        if (strstr(e->d_name, ".delbrin-")) names.push_back(e->d_name);
    if (d) closedir(d);
    return names;
}

class CommandTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Shell("command -v ffmpeg && command -v ffprobe") != 0) return;
        Shell("rm -rf " + Quote(kDir) + " && mkdir -p " + Quote(kDir));
        // Twelve lossless frames with a tone beside them.
        ready_ = Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=48x32:rate=10:duration=1.2"
                     " -f lavfi -i sine=frequency=300:duration=1.2 -c:v ffv1 -pix_fmt bgr0"
                     " -c:a pcm_s16le -shortest -y " + Quote(Path("clip.mkv"))) == 0;
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "ffmpeg is not available";
    }
    static bool ready_;
};
bool CommandTest::ready_ = false;

TEST_F(CommandTest, FramesEqualTheCoreAndRangesGateTheRightFrames) {
    std::string log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "out.mkv", "--codec ffv1 --quiet --config " + Quote(kConfig)), &log), 0) << log;
    std::vector<Frame> in = Decode(Path("clip.mkv"));
    std::vector<Frame> out = Decode(Path("out.mkv"));
    ASSERT_EQ(in.size(), static_cast<size_t>(kFrames));
    ASSERT_EQ(out.size(), in.size());
    for (int n = 0; n < kFrames; n++) {
        EXPECT_TRUE(SameColours(out[n], CoreResult(in[n], kConfig, n))) << "frame " << n;
        // The range 3 6 widened by two fade frames: 2 to 7 are patched, and
        // only inside the rectangle.
        bool patched = n >= 2 && n <= 7;
        EXPECT_EQ(!SameColours(out[n], in[n]), patched) << "frame " << n;
        EXPECT_TRUE(SameOutsideRect(out[n], in[n], 9, 5, 20, 14)) << "frame " << n;
    }

    // The same settings given as a saved script and as plain options.
    FILE* f = fopen(Path("job.vcf").c_str(), "w");
    fprintf(f, "VirtualDub.video.filters.Clear();\r\nVirtualDub.video.filters.Add(\"resize\");\r\n"
               "VirtualDub.video.filters.instance[0].Config(48, 32, 0);\r\n"
               "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
               "VirtualDub.video.filters.instance[1].%s;\r\n", kConfig);
    fclose(f);
    ASSERT_EQ(Shell(Apply("clip.mkv", "script.mkv", "--codec ffv1 -q --script " + Quote(Path("job.vcf"))), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "options.mkv", std::string("--codec ffv1 -q ") + kConfigOptions), &log), 0) << log;
    EXPECT_TRUE(Decode(Path("script.mkv")) == out);
    EXPECT_TRUE(Decode(Path("options.mkv")) == out);
}

TEST_F(CommandTest, StreamsTimingAndPicturePropertiesSurvive) {
    std::string log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "kept.mkv", "--codec ffv1 -q --rect 0,0,10,10"), &log), 0) << log;
    std::string audio = StreamDigest(Path("clip.mkv"), "a:0");
    EXPECT_NE(audio.find("MD5="), std::string::npos) << audio;
    EXPECT_EQ(StreamDigest(Path("kept.mkv"), "a:0"), audio);
    const char* entries = "stream=codec_type,r_frame_rate,nb_read_frames";
    EXPECT_EQ(Probe(Path("kept.mkv"), entries), Probe(Path("clip.mkv"), entries));

    // Chapters, metadata, a subtitle stream and an attachment go through.
    FILE* meta = fopen(Path("meta.txt").c_str(), "w");
    fprintf(meta, ";FFMETADATA1\ntitle=My Show\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=Intro\n");
    fclose(meta);
    FILE* srt = fopen(Path("s.srt").c_str(), "w");
    fprintf(srt, "1\n00:00:00,000 --> 00:00:00,800\nHello\n");
    fclose(srt);
    Shell("echo fontdata > " + Quote(Path("f.ttf")));
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -i " + Quote(Path("clip.mkv")) + " -i " + Quote(Path("s.srt")) + " -i " +
                    Quote(Path("meta.txt")) + " -map 0 -map 1 -map_metadata 2 -map_chapters 2 -c copy "
                    "-metadata:s:a:0 language=fra -attach " + Quote(Path("f.ttf")) +
                    " -metadata:s:t mimetype=application/x-truetype-font -y " + Quote(Path("all.mkv")), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("all.mkv", "all-out.mkv", "--codec ffv1 -q --rect 0,0,10,10"), &log), 0) << log;
    const char* kept = "format_tags=title:chapter=start_time,end_time:chapter_tags=title:"
                       "stream=index,codec_type,codec_name:stream_tags=language,filename";
    EXPECT_EQ(Probe(Path("all-out.mkv"), kept), Probe(Path("all.mkv"), kept));
    EXPECT_NE(Probe(Path("all.mkv"), kept).find("Intro"), std::string::npos);

    // A video that starts half a second after its sound still does.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i sine=duration=2 -itsoffset 0.5 -i " +
                    Quote(Path("clip.mkv")) + " -map 1:v -map 0:a -c:v copy -c:a pcm_s16le -y " +
                    Quote(Path("late.mkv")), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("late.mkv", "late-out.mkv", "--codec ffv1 -q --rect 0,0,10,10"), &log), 0) << log;
    const char* timing = "stream=codec_type,start_time,nb_read_frames";
    EXPECT_EQ(Probe(Path("late-out.mkv"), timing), Probe(Path("late.mkv"), timing));

    // A phone clip shown turned by 90 degrees: the frames stay as stored,
    // the turn stays in the file, the default encoder writes H.264 in the
    // input's yuv420p.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=64x36:duration=0.4 -pix_fmt yuv420p -y " +
                    Quote(Path("t.mp4")) + " && ffmpeg -v error -nostdin -i " + Quote(Path("t.mp4")) +
                    " -c copy -metadata:s:v:0 rotate=90 -y " + Quote(Path("r.mp4")), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("r.mp4", "r-out.mp4", "-q --rect 10,10,20,12"), &log), 0) << log;
    const char* shape = "stream=codec_name,width,height,pix_fmt:stream_side_data=rotation";
    EXPECT_EQ(Probe(Path("r-out.mp4"), shape), Probe(Path("r.mp4"), shape));
    EXPECT_NE(Probe(Path("r-out.mp4"), shape).find("rotation"), std::string::npos);
    EXPECT_EQ(Decode(Path("r-out.mp4"), 64, 36).size(), 10u);

    // Colour tags, aspect ratio, field order and alpha.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=96x64:duration=0.4 "
                    "-vf setsar=32/27,setfield=tff,format=yuv420p -color_primaries bt709 -color_trc bt709 "
                    "-colorspace bt709 -color_range pc -field_order tt -c:v ffv1 -y " + Quote(Path("tags.mkv")),
                    &log), 0) << log;
    // (H.264 decoders report full-range 4:2:0 as yuvj420p, so the default
    // encoder's output is compared without the format.)
    ASSERT_EQ(Shell(Apply("tags.mkv", "tags-out.mkv", "-q --rect 10,10,20,12"), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("tags.mkv", "tags-ffv1.mkv", "-q --codec ffv1 --rect 10,10,20,12"), &log), 0) << log;
    const char* tags = "stream=sample_aspect_ratio,field_order,color_range,color_space,color_transfer,color_primaries";
    EXPECT_EQ(Probe(Path("tags-out.mkv"), tags), Probe(Path("tags.mkv"), tags));
    const char* formatAndTags = "stream=pix_fmt,sample_aspect_ratio,field_order,color_range,color_space,"
                                "color_transfer,color_primaries";
    EXPECT_EQ(Probe(Path("tags-ffv1.mkv"), formatAndTags), Probe(Path("tags.mkv"), formatAndTags));
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=64x48:duration=0.2 "
                    "-vf \"format=argb,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='4*X'\" -c:v qtrle -y " +
                    Quote(Path("alpha.mov")), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("alpha.mov", "alpha-out.mov", "-q --rect 10,10,30,20 --feather 4"), &log), 0) << log;
    auto alphaOf = [](const std::string& file) {
        std::string out;
        Shell("ffmpeg -v error -nostdin -i " + Quote(file) + " -vf alphaextract -f framemd5 - | grep -v '^#'", &out);
        return out;
    };
    EXPECT_EQ(alphaOf(Path("alpha-out.mov")), alphaOf(Path("alpha.mov")));
    const char* codec = "stream=codec_name,pix_fmt";
    EXPECT_EQ(Probe(Path("alpha-out.mov"), codec), Probe(Path("alpha.mov"), codec));

    // A picture in, a picture out.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=48x32 -frames:v 1 -y " + Quote(Path("img.png"))), 0);
    ASSERT_EQ(Shell(Apply("img.png", "img-out.png", "-q --rect 9,5,20,14"), &log), 0) << log;
    const char* image = "stream=codec_name,pix_fmt,width";
    EXPECT_EQ(Probe(Path("img-out.png"), image), Probe(Path("img.png"), image));
    std::vector<Frame> picture = Decode(Path("img.png")), patched = Decode(Path("img-out.png"));
    ASSERT_EQ(patched.size(), 1u);
    EXPECT_TRUE(SameOutsideRect(patched[0], picture[0], 9, 5, 20, 14));
    EXPECT_FALSE(SameColours(patched[0], picture[0]));

    // A video to a picture: frame 0 alone (the ranges leave it unpatched),
    // without the sound, both said.
    ASSERT_EQ(Shell(Apply("clip.mkv", "first.png", kConfigOptions), &log), 0) << log;
    EXPECT_NE(log.find("left out: 1 (audio)"), std::string::npos) << log;
    EXPECT_NE(log.find("frame 0 written"), std::string::npos) << log;
    EXPECT_EQ(Probe(Path("first.png"), "stream=codec_type"), "stream|codec_type=video\n");
    std::vector<Frame> first = Decode(Path("first.png"));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(SameColours(first[0], Decode(Path("clip.mkv"))[0]));
    // A palette picture becomes RGB (its colours are all opaque); untagged
    // 4:2:0 video stays limited-range YUV in a JPEG, tagged so.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=48x32 -frames:v 1 -pix_fmt pal8 -y " +
                    Quote(Path("p8.png"))), 0);
    const struct { const char* input; const char* output; const char* probed; } pictures[] = {
        {"p8.png", "p8-out.png", "pix_fmt=rgb24"},
        {"t.mp4", "t.jpg", "pix_fmt=yuv420p|color_range=tv"},
    };
    for (const auto& p : pictures) {
        ASSERT_EQ(Shell(Apply(p.input, p.output, "-q --rect 9,5,20,14"), &log), 0) << log;
        EXPECT_NE(Probe(Path(p.output), "stream=pix_fmt,color_range").find(p.probed), std::string::npos) << p.output;
    }
}

TEST_F(CommandTest, ScriptInstancesAreAppliedInOrder) {
    // Two Tavrel instances after a Clear(), a commented-out line between;
    // the same as the two Config lines given on the command line.
    const char* second = "Config(10, 8, 30, 20, 0, 0, 1, 0, 0, 0, 10, 5, \"\")";
    FILE* f = fopen(Path("two.vcf").c_str(), "w");
    fprintf(f, "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
               "VirtualDub.video.filters.instance[0].Config(4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
               "VirtualDub.video.filters.Clear();\r\n"
               "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
               "// VirtualDub.video.filters.instance[0].Config(40, 30, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
               "VirtualDub.video.filters.instance[0].%s;\r\n"
               "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
               "VirtualDub.video.filters.instance[1].%s; // the second logo\r\n", kConfig, second);
    fclose(f);
    std::string log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "two-script.mkv", "--codec ffv1 -q --script " + Quote(Path("two.vcf"))), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "two-lines.mkv", "--codec ffv1 -q --config " + Quote(kConfig) + " --config " +
                          Quote(second)), &log), 0) << log;
    std::vector<Frame> in = Decode(Path("clip.mkv")), out = Decode(Path("two-script.mkv"));
    ASSERT_EQ(out.size(), in.size());
    EXPECT_TRUE(Decode(Path("two-lines.mkv")) == out);
    // The script read from standard input gives the same instances, in the
    // same place among the others.
    std::string fromFile, fromPipe;
    ASSERT_EQ(Shell(Delbrin("preview --print-config --rect 1,1,2,2 --script " + Quote(Path("two.vcf")) +
                            " --rect 3,3,4,4"), &fromFile), 0);
    ASSERT_EQ(Shell(Delbrin("preview --print-config --rect 1,1,2,2 --script - --rect 3,3,4,4") + " < " +
                    Quote(Path("two.vcf")), &fromPipe), 0);
    EXPECT_EQ(fromPipe, fromFile);
    EXPECT_NE(fromFile.find(second), std::string::npos) << fromFile;
    for (int n = 0; n < kFrames; n++)
        EXPECT_TRUE(SameColours(out[n], CoreResult(CoreResult(in[n], kConfig, n), second, n))) << n;
}

TEST_F(CommandTest, PreviewDrawsTheBorderAndPrintsTheConfigLine) {
    std::string log;
    ASSERT_EQ(Shell(Delbrin("preview " + Quote(Path("clip.mkv")) + " --frame 4 -o " + Quote(Path("p.png")) +
                          " --rect 9,5,20,14"), &log), 0) << log;
    std::vector<Frame> picture = Decode(Path("p.png"));
    ASSERT_EQ(picture.size(), 1u);
    // Without feathering the border's top row alternates white and black
    // from the rectangle's corner.
    const uint8_t* corner = &picture[0][(5 * kWidth + 9) * 4];
    EXPECT_EQ(corner[0] + corner[1] + corner[2], 3 * 255);
    EXPECT_EQ(corner[4] + corner[5] + corner[6], 0);
    // An existing picture is replaced only with --force, as apply's OUTPUT.
    EXPECT_EQ(Shell(Delbrin("preview " + Quote(Path("clip.mkv")) + " --frame 4 -o " + Quote(Path("p.png")) +
                          " --rect 1,1,4,4"), &log), 4);
    EXPECT_NE(log.find("already exists; add --force"), std::string::npos) << log;
    ASSERT_EQ(Shell(Delbrin("preview " + Quote(Path("clip.mkv")) + " --frame 4 -o " + Quote(Path("p.png")) +
                          " --rect 1,1,4,4 --force"), &log), 0) << log;
    EXPECT_EQ(Decode(Path("p.png")).size(), 1u);

    ASSERT_EQ(Shell(Delbrin("preview --print-config --rect 10,20,64,48 --feather 10 --ranges '100 200, 300 400'"),
                  &log), 0) << log;
    EXPECT_EQ(log, "Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, 300 400, \")\nsummary: 48x64 @ 10,20\n");

    EXPECT_EQ(Shell(Delbrin("preview " + Quote(Path("clip.mkv")) + " --frame 99 -o " + Quote(Path("q.png")) +
                          " --rect 1,1,4,4"), &log), 2);
    EXPECT_NE(log.find("no frame 99"), std::string::npos) << log;
}

TEST_F(CommandTest, EveryFailureNamesItsSideAndExitCode) {
    std::string log;
    // Reading: 3.
    EXPECT_EQ(Shell(Apply("missing.mkv", "x.mkv", "--rect 0,0,4,4"), &log), 3);
    EXPECT_NE(log.find("reading " + Path("missing.mkv") + ": No such file"), std::string::npos) << log;
    Shell("echo not a video > " + Quote(Path("notes.txt")));
    EXPECT_EQ(Shell(Apply("notes.txt", "x.mkv", "--rect 0,0,4,4"), &log), 3) << log;
    Shell("ffmpeg -v error -nostdin -f lavfi -i sine=duration=0.2 -y " + Quote(Path("tone.wav")));
    EXPECT_EQ(Shell(Apply("tone.wav", "x.mkv", "--rect 0,0,4,4"), &log), 3);
    EXPECT_NE(log.find("no video"), std::string::npos) << log;

    // Usage: 2, before any file is written.
    const struct { const char* options; const char* says; } usage[] = {
        {"--config 'Config(1, 1, abc, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")'", "argument 3 (x)"},
        {"--rect 0,0,4,4 --bogus", "unknown option"},
        {"", "no rectangle"},
        {"--rect 0,0,4,4 --ranges 100-200", "not a whole frame number"},
        {"--rect 0,0,4,4 --codec no_such_codec", "no video encoder named"},
        {"--rect 0,0,4,4 --codec ffv1 --crf 18", "lossless"},
        {"--rect 0,0,4,4 --pix-fmt rgb24 --codec mpeg4", "does not take rgb24"},
    };
    for (const auto& u : usage) {
        EXPECT_EQ(Shell(Apply("clip.mkv", "x.mkv", u.options), &log), 2) << u.options;
        EXPECT_NE(log.find(u.says), std::string::npos) << log;
    }
    // Encoding: 5, with the encoder's own words (MPEG-2 has no 10 fps).
    EXPECT_EQ(Shell(Apply("clip.mkv", "x.mkv", "--rect 0,0,4,4 --codec mpeg2video"), &log), 5);
    EXPECT_NE(log.find("encoding with mpeg2video"), std::string::npos) << log;
    // Writing: 6, MP4 does not hold PCM sound.
    EXPECT_EQ(Shell(Apply("clip.mkv", "x.mp4", "--rect 0,0,4,4"), &log), 6);
    EXPECT_NE(log.find("writing " + Path("x.mp4")), std::string::npos) << log;
    EXPECT_FALSE(Exists(Path("x.mkv")));
    EXPECT_FALSE(Exists(Path("x.mp4")));

    // A name with a colon is a file, not a protocol.
    Shell("cp " + Quote(Path("clip.mkv")) + " " + Quote(Path("12:30 news.mkv")));
    EXPECT_EQ(Shell(Apply("12:30 news.mkv", "13:00 out.mkv", "-q --codec ffv1 --rect 0,0,4,4"), &log), 0) << log;
    EXPECT_EQ(Decode(Path("13:00 out.mkv")).size(), static_cast<size_t>(kFrames));

    // A rectangle reaching out of the 48x32 frame is cut to it, with a warning.
    EXPECT_EQ(Shell(Apply("clip.mkv", "edge.mkv", "--codec ffv1 -q --rect 40,30,20,20"), &log), 0);
    EXPECT_NE(log.find("patching 40,30 8x2"), std::string::npos) << log;
    // A Config line's range text that is not pairs: a warning with what is used.
    EXPECT_EQ(Shell(Apply("clip.mkv", "ranges.mkv",
                          "--codec ffv1 -q --config 'Config(4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"20 10\")'"), &log), 0);
    EXPECT_NE(log.find("the filter uses: none"), std::string::npos) << log;
}

TEST_F(CommandTest, OutputIsNeverLostOrHalfWritten) {
    std::string log;
    EXPECT_EQ(Shell(Apply("clip.mkv", "clip.mkv", "--force --rect 0,0,4,4"), &log), 4);
    Shell("ln -sf clip.mkv " + Quote(Path("link.mkv")));
    EXPECT_EQ(Shell(Apply("clip.mkv", "link.mkv", "--force --rect 0,0,4,4"), &log), 4);

    Shell("echo precious > " + Quote(Path("taken.mkv")));
    EXPECT_EQ(Shell(Apply("clip.mkv", "taken.mkv", "--rect 0,0,4,4"), &log), 4);
    EXPECT_NE(log.find("--force"), std::string::npos) << log;
    // An encoder that fails leaves the existing file as it was.
    EXPECT_EQ(Shell(Apply("clip.mkv", "taken.mkv", "--force -q --codec mpeg2video --rect 0,0,4,4"), &log), 5);
    std::string content;
    Shell("cat " + Quote(Path("taken.mkv")), &content);
    EXPECT_EQ(content, "precious\n");
    EXPECT_EQ(Shell(Apply("clip.mkv", "taken.mkv", "--force -q --codec ffv1 --rect 0,0,4,4"), &log), 0) << log;
    EXPECT_EQ(Decode(Path("taken.mkv")).size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(LeftoverTemporaries().empty());
}

TEST_F(CommandTest, InterruptedRunLeavesNoOutput) {
    // The input comes through a pipe that the test keeps open and half fed,
    // so the run cannot end before the signal, which is sent once the
    // command says it has started writing.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=320x240:rate=25:duration=8"
                    " -c:v ffv1 -y " + Quote(Path("long.mkv"))), 0);
    std::string clip;
    Shell("cat " + Quote(Path("long.mkv")), &clip);
    ASSERT_GT(clip.size(), 400000u);
    std::string said;
    const int code = RunInterrupted({kDelbrin, "apply", Path("feed.mkv"), Path("cut.mkv"), "--codec", "ffv1",
                                     "--verbose", "--rect", "0,0,40,40"},
                                    Path("feed.mkv"), clip, 300000, "writing", &said);
    EXPECT_EQ(code, 130) << said;
    EXPECT_NE(said.find("interrupted"), std::string::npos) << said;
    EXPECT_FALSE(Exists(Path("cut.mkv")));
    EXPECT_TRUE(LeftoverTemporaries().empty());
}

// "-" reads standard input and writes standard output, giving what files
// give; "--" lets a name start with a dash; detect, which seeks, says that a
// pipe cannot be read so.
TEST_F(CommandTest, StandardStreamsAndDashNamesGiveWhatFilesGive) {
    std::string log;
    const std::string settings = " --codec=ffv1 -q " + std::string(kConfigOptions);
    ASSERT_EQ(Shell(Apply("clip.mkv", "by-name.mkv", settings), &log), 0) << log;
    ASSERT_EQ(Shell(Delbrin("apply - -" + settings) + " < " + Quote(Path("clip.mkv")) + " > " +
                    Quote(Path("piped.mkv")), &log), 0) << log;
    const std::vector<Frame> byName = Decode(Path("by-name.mkv")), piped = Decode(Path("piped.mkv"));
    EXPECT_EQ(byName.size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(byName == piped);
    EXPECT_EQ(StreamDigest(Path("piped.mkv"), "a"), StreamDigest(Path("clip.mkv"), "a"));

    ASSERT_EQ(Shell("cd " + Quote(kDir) + " && " + Delbrin("apply clip.mkv" + settings + " -- -dash.mkv"), &log), 0)
        << log;
    EXPECT_TRUE(Decode(Path("-dash.mkv")) == byName);

    ASSERT_EQ(Shell(Delbrin("preview " + Quote(Path("clip.mkv")) + " --frame=3 -o " + Quote(Path("named.png")) +
                            " --rect 9,5,20,14"), &log), 0) << log;
    ASSERT_EQ(Shell(Delbrin("preview - --frame 3 -o - --rect 9,5,20,14") + " < " + Quote(Path("clip.mkv")) + " > " +
                    Quote(Path("piped.png")), &log), 0) << log;
    std::string named, pipedPicture;
    Shell("cat " + Quote(Path("named.png")), &named);
    Shell("cat " + Quote(Path("piped.png")), &pipedPicture);
    EXPECT_EQ(named.compare(0, 4, "\x89PNG"), 0);
    EXPECT_EQ(named, pipedPicture);

    EXPECT_EQ(Shell(Delbrin("detect -") + " < " + Quote(Path("clip.mkv")), &log), 3);
    EXPECT_NE(log.find("standard input cannot"), std::string::npos) << log;
    EXPECT_TRUE(LeftoverTemporaries().empty());
}

// detect's samples are held in memory at the analysis size: a count that
// would not fit is refused before any frame is read, with what it would take.
TEST_F(CommandTest, DetectSamplesAreBoundedByTheMemoryTheyTake) {
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=1024x576:rate=25:duration=0.2"
                    " -c:v ffv1 -y " + Quote(Path("wide.mkv"))), 0);
    std::string log;
    EXPECT_EQ(Shell(Delbrin("detect " + Quote(Path("wide.mkv")) + " --frames=5000"), &log), 2);
    EXPECT_NE(log.find("5000 pictures of 1024x576"), std::string::npos) << log;
    EXPECT_NE(log.find("at most 1820 fit"), std::string::npos) << log;
    // A count that fits goes on to the analysis, which finds the clip too short.
    EXPECT_EQ(Shell(Delbrin("detect " + Quote(Path("wide.mkv")) + " --frames 1820"), &log), 11) << log;
}

}  // namespace
