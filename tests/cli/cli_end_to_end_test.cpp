// The delbrin command run on small generated clips. The expected frames come
// from the filter core itself, fed the decoded input the way the host feeds it:
// copied into a bottom-up bitmap with a positive pitch, an orientation the
// command does not use, so a frame turned upside down anywhere shows.
#include <gtest/gtest.h>

#include <dirent.h>
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

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command line; returns its exit code and its stdout and stderr.
int Shell(const std::string& command, std::string* output = nullptr) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) text.append(chunk, n);
    int status = pclose(p);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Delbrin(const std::string& args) { return Quote(kDelbrin) + " " + args; }

std::string Path(const std::string& name) { return kDir + "/" + name; }

// The command line "delbrin apply INPUT OUTPUT OPTIONS", both files in the test directory.
std::string Apply(const std::string& input, const std::string& output, const std::string& options = "") {
    return Delbrin("apply " + Quote(Path(input)) + " " + Quote(Path(output)) + (options.empty() ? "" : " " + options));
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The decoded video of a file, frame by frame, as top-down BGRA rows.
std::vector<Frame> Decode(const std::string& file) {
    std::vector<Frame> frames;
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(file) +
                     " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt bgra -").c_str(), "r");
    if (!p) return frames;
    Frame frame(kWidth * kHeight * 4);
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

TEST_F(CommandTest, AudioFrameCountAndRateSurvive) {
    std::string log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "kept.mkv", "--codec ffv1 -q --rect 0,0,10,10"), &log), 0) << log;
    std::string audio = StreamDigest(Path("clip.mkv"), "a:0");
    EXPECT_NE(audio.find("MD5="), std::string::npos) << audio;
    EXPECT_EQ(StreamDigest(Path("kept.mkv"), "a:0"), audio);
    const char* entries = "stream=codec_type,r_frame_rate,nb_read_frames";
    EXPECT_EQ(Probe(Path("kept.mkv"), entries), Probe(Path("clip.mkv"), entries));

    // A video that starts half a second after its sound still does.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i sine=duration=2 -itsoffset 0.5 -i " +
                    Quote(Path("clip.mkv")) + " -map 1:v -map 0:a -c:v copy -c:a pcm_s16le -y " +
                    Quote(Path("late.mkv")), &log), 0) << log;
    ASSERT_EQ(Shell(Apply("late.mkv", "late-out.mkv", "--codec ffv1 -q --rect 0,0,10,10"), &log), 0) << log;
    const char* timing = "stream=codec_type,start_time,nb_read_frames";
    EXPECT_EQ(Probe(Path("late-out.mkv"), timing), Probe(Path("late.mkv"), timing));
}

TEST_F(CommandTest, DefaultEncoderMakesAPlayableFile) {
    std::string log;
    ASSERT_EQ(Shell(Apply("clip.mkv", "default.mkv", "-q --rect 0,0,10,10"), &log), 0) << log;
    EXPECT_EQ(Decode(Path("default.mkv")).size(), static_cast<size_t>(kFrames));
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

    ASSERT_EQ(Shell(Delbrin("preview --print-config --rect 10,20,64,48 --feather 10 --ranges '100 200, 300 400'"),
                  &log), 0) << log;
    EXPECT_EQ(log, "Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, 300 400, \")\nsummary: 48x64 @ 10,20\n");

    EXPECT_EQ(Shell(Delbrin("preview " + Quote(Path("clip.mkv")) + " --frame 99 -o " + Quote(Path("q.png")) +
                          " --rect 1,1,4,4"), &log), 2);
    EXPECT_NE(log.find("no frame 99"), std::string::npos) << log;
}

TEST_F(CommandTest, BadInputIsReportedWithItsExitCode) {
    std::string log;
    EXPECT_EQ(Shell("PATH=/nonexistent " + Apply("clip.mkv", "x.mkv", "--rect 0,0,4,4"), &log), 5);
    EXPECT_NE(log.find("ffmpeg"), std::string::npos) << log;

    EXPECT_EQ(Shell(Apply("missing.mkv", "x.mkv", "--rect 0,0,4,4"), &log), 3);
    EXPECT_NE(log.find("cannot read"), std::string::npos) << log;
    Shell("echo not a video > " + Quote(Path("notes.txt")));
    EXPECT_EQ(Shell(Apply("notes.txt", "x.mkv", "--rect 0,0,4,4"), &log), 3) << log;
    Shell("ffmpeg -v error -nostdin -f lavfi -i sine=duration=0.2 -y " + Quote(Path("tone.wav")));
    EXPECT_EQ(Shell(Apply("tone.wav", "x.mkv", "--rect 0,0,4,4"), &log), 3);
    EXPECT_NE(log.find("no video"), std::string::npos) << log;

    EXPECT_EQ(Shell(Apply("clip.mkv", "x.mkv", "--config 'Config(1, 1, abc, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")'"), &log), 2);
    EXPECT_NE(log.find("argument 3 (x)"), std::string::npos) << log;
    EXPECT_EQ(Shell(Apply("clip.mkv", "x.mkv", "--rect 0,0,4,4 --bogus"), &log), 2);
    EXPECT_EQ(Shell(Apply("clip.mkv", "x.mkv"), &log), 2);
    EXPECT_NE(log.find("no rectangle"), std::string::npos) << log;
    EXPECT_FALSE(Exists(Path("x.mkv")));

    // A rectangle reaching out of the 48x32 frame is cut to it, with a warning.
    EXPECT_EQ(Shell(Apply("clip.mkv", "edge.mkv", "--codec ffv1 -q --rect 40,30,20,20"), &log), 0);
    EXPECT_NE(log.find("patching 40,30 8x2"), std::string::npos) << log;
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
    EXPECT_EQ(Shell(Apply("clip.mkv", "taken.mkv", "--force -q --codec no_such_codec --rect 0,0,4,4"), &log), 1);
    std::string content;
    Shell("cat " + Quote(Path("taken.mkv")), &content);
    EXPECT_EQ(content, "precious\n");
    EXPECT_EQ(Shell(Apply("clip.mkv", "taken.mkv", "--force -q --codec ffv1 --rect 0,0,4,4"), &log), 0) << log;
    EXPECT_EQ(Decode(Path("taken.mkv")).size(), static_cast<size_t>(kFrames));
    EXPECT_TRUE(LeftoverTemporaries().empty());
}

TEST_F(CommandTest, InterruptedRunLeavesNoOutput) {
    // A longer clip, so that the run is still going when the signal comes.
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=320x240:rate=25:duration=20"
                  " -c:v ffv1 -y " + Quote(Path("long.mkv"))), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 2);
        close(fds[0]);
        execl(kDelbrin.c_str(), "delbrin", "apply", Path("long.mkv").c_str(), Path("cut.mkv").c_str(),
              "--codec", "ffv1", "--verbose", "--rect", "0,0,40,40", (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    // The command says where it writes once the temporary file exists.
    std::string said;
    char c;
    while (said.find("writing") == std::string::npos && read(fds[0], &c, 1) == 1) said += c;
    kill(pid, SIGINT);
    std::string rest;
    while (read(fds[0], &c, 1) == 1) rest += c;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130) << said << rest;
    EXPECT_NE(rest.find("interrupted"), std::string::npos) << rest;
    EXPECT_FALSE(Exists(Path("cut.mkv")));
    EXPECT_TRUE(LeftoverTemporaries().empty());
}

}  // namespace
