// The command on inputs that are not what they should be: files cut short
// inside their header, image sequences named by a pattern, damaged files,
// and a disk that refuses the output. Every run must end in a result or a
// named error, never a signal; damage must be told, and refused with
// --strict.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "output_file.h"
#include "shell_run.h"

namespace {

const std::string kDelbrin = DELBRIN_COMMAND;
const std::string kDir = DELBRIN_TEST_DIR;
const int kClipFrames = 50;

std::string Path(const std::string& name) { return kDir + "/" + name; }

std::string ReadBytes(const std::string& path) {
    std::string bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.append(chunk, n);
    fclose(f);
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// "delbrin COMMAND INPUT ...": apply writes OUTPUT, preview a picture,
// detect only reads.
std::string CommandLine(const std::string& command, const std::string& input, const std::string& output = "") {
    const std::string in = Quote(Path(input));
    if (command == "apply")
        return Quote(kDelbrin) + " apply " + in + " " + Quote(Path(output)) + " --rect 8,6,24,16 --force --quiet";
    if (command == "preview")
        return Quote(kDelbrin) + " preview " + in + " --frame 0 -o " + Quote(Path(output)) + " --rect 8,6,24,16 --force";
    return Quote(kDelbrin) + " detect " + in;
}

int FramesIn(const std::string& file) {
    std::string out;
    Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
              Quote(file), &out);
    return atoi(out.c_str());
}

// The number before `what` in the text ("3 frames lost" -> 3), -1 when absent.
long long CountBefore(const std::string& text, const std::string& what) {
    const size_t at = text.find(" " + what);
    if (at == std::string::npos) return -1;
    size_t start = at;
    while (start > 0 && isdigit(static_cast<unsigned char>(text[start - 1]))) start--;
    return start == at ? -1 : atoll(text.c_str() + start);
}

class InputFaultTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        if (Shell("command -v ffmpeg && command -v ffprobe") != 0) return;
        Shell("rm -rf " + Quote(kDir) + " && mkdir -p " + Quote(kDir + "/seq"));
        const std::string source = "ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=160x120:rate=25:duration=2";
        ready_ = Shell(source + " -f lavfi -i sine=frequency=440:duration=2 -c:v libx264 -g 25 -c:a aac -y " +
                       Quote(Path("clip.mkv"))) == 0 &&
                 Shell(source + " -f lavfi -i sine=frequency=440:duration=2 -c:v mpeg2video -g 12 -c:a mp2 -y " +
                       Quote(Path("clip.ts"))) == 0 &&
                 Shell(source + " -frames:v 6 -y " + Quote(Path("seq/img%03d.png"))) == 0;
    }
    void SetUp() override {
        if (!ready_) GTEST_SKIP() << "ffmpeg is not available";
    }
    static bool ready_;
};
bool InputFaultTest::ready_ = false;

// Every prefix of a Matroska file and of a transport stream, through every
// command: a prefix that ends before the first cluster holds no picture and
// must be a named reading or decoding error; any other may give frames, but
// never a crash.
TEST_F(InputFaultTest, FilesCutShortGiveAResultOrANamedError) {
    struct Source {
        const char* name;
        size_t step;
    };
    for (const Source source : {Source{"clip.mkv", 500}, Source{"clip.ts", 376}}) {
        const std::string whole = ReadBytes(Path(source.name));
        ASSERT_GT(whole.size(), 8000u);
        const bool matroska = std::string(source.name).find(".mkv") != std::string::npos;
        const size_t firstCluster = matroska ? whole.find("\x1F\x43\xB6\x75") : 0;
        ASSERT_NE(firstCluster, std::string::npos);
        const std::string cutName = std::string("cut") + (matroska ? ".mkv" : ".ts");
        for (size_t size = 200; size < 7000; size += source.step) {
            WriteBytes(Path(cutName), whole.substr(0, size));
            for (const char* command : {"apply", "preview", "detect"}) {
                std::string log;
                const int code = Shell(CommandLine(command, cutName, std::string("cut-out.") + (strcmp(command, "apply") == 0 ? "mkv" : "png")), &log);
                SCOPED_TRACE(std::string(command) + " on the first " + std::to_string(size) + " bytes of " +
                             source.name + ":\n" + log);
                ASSERT_NE(code, -1) << "ended by a signal";
                if (code != 0) EXPECT_NE(log.find("delbrin: "), std::string::npos);
                if (matroska && size < firstCluster) {
                    EXPECT_TRUE(code == 1 || code == 3);
                    EXPECT_NE(log.find(Path(cutName)), std::string::npos);
                }
            }
        }
    }
}

TEST_F(InputFaultTest, NumberPatternsNameImageSequences) {
    std::string log;
    ASSERT_EQ(Shell(CommandLine("apply", "seq/img%03d.png", "seq.mkv"), &log), 0) << log;
    EXPECT_EQ(FramesIn(Path("seq.mkv")), 6);
    ASSERT_EQ(Shell(CommandLine("preview", "seq/img%03d.png", "seq-frame.png"), &log), 0) << log;
    EXPECT_NE(Shell(CommandLine("detect", "seq/img%03d.png"), &log), -1) << log;

    // A pattern no file matches is a reading error.
    EXPECT_EQ(Shell(CommandLine("apply", "seq/img%05d.png", "none.mkv"), &log), 3) << log;
    EXPECT_FALSE(Exists(Path("none.mkv")));

    // A file whose own name holds a pattern is that file, not a sequence.
    ASSERT_EQ(Shell("cp " + Quote(Path("seq/img001.png")) + " " + Quote(Path("seq/only%03d.png"))), 0);
    ASSERT_EQ(Shell("cp " + Quote(Path("seq/img002.png")) + " " + Quote(Path("seq/only001.png"))), 0);
    ASSERT_EQ(Shell(CommandLine("apply", "seq/only%03d.png", "one.mkv"), &log), 0) << log;
    EXPECT_EQ(FramesIn(Path("one.mkv")), 1);
}

// Damage: bytes overwritten inside the video of a Matroska file, and runs of
// transport stream packets gone. The run gives what the decoder can make of
// it and the end line says what was lost; the frames written and the frames
// lost account for the whole clip.
TEST_F(InputFaultTest, DamageIsToldAndStrictRefusesIt) {
    std::mt19937 random(17);
    std::string mkv = ReadBytes(Path("clip.mkv"));
    for (double at : {0.3, 0.5, 0.7})
        for (size_t i = 0; i < 300; i++) mkv[static_cast<size_t>(mkv.size() * at) + i] = static_cast<char>(random());
    WriteBytes(Path("garbled.mkv"), mkv);

    const std::string ts = ReadBytes(Path("clip.ts"));
    std::string dropped;
    for (size_t p = 0; p + 188 <= ts.size(); p += 188) {
        const size_t n = p / 188;
        if (!(n >= 150 && n < 190) && !(n >= 400 && n < 420)) dropped += ts.substr(p, 188);
    }
    WriteBytes(Path("dropped.ts"), dropped);

    std::string log;
    ASSERT_EQ(Shell(CommandLine("apply", "clip.mkv", "clean.mkv"), &log), 0) << log;
    EXPECT_EQ(log.find("damaged"), std::string::npos) << log;

    for (const char* name : {"garbled.mkv", "dropped.ts"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Shell(CommandLine("apply", name, "damaged.mkv"), &log), 0) << log;
        const size_t endLine = log.rfind("delbrin: warning: ");
        ASSERT_NE(endLine, std::string::npos) << log;
        const std::string end = log.substr(endLine);
        EXPECT_NE(end.find("the input is damaged: "), std::string::npos) << log;
        const long long lost = CountBefore(end, "frame lost") >= 0 ? CountBefore(end, "frame lost")
                                                                    : CountBefore(end, "frames lost");
        const long long written = CountBefore(end, "frame");
        ASSERT_GE(lost, 0) << log;
        EXPECT_EQ(written, FramesIn(Path("damaged.mkv"))) << log;
        EXPECT_EQ(written + lost, kClipFrames) << log;

        unlink(Path("strict.mkv").c_str());
        EXPECT_EQ(Shell(CommandLine("apply", name, "strict.mkv") + " --strict", &log), 1) << log;
        EXPECT_NE(log.find("--strict refuses it"), std::string::npos) << log;
        EXPECT_FALSE(Exists(Path("strict.mkv")));
    }
    EXPECT_EQ(Shell(CommandLine("apply", "clip.mkv", "strict-clean.mkv") + " --strict", &log), 0) << log;
}

// The last frames of an MPEG program stream come without a timestamp; each
// follows the one before at the frame rate, not a tick after it.
TEST_F(InputFaultTest, FramesWithoutATimestampFollowAtTheFrameRate) {
    std::string log;
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=64x48:rate=25 -frames:v 6 -c:v mpeg1video -y " +
                    Quote(Path("clip.mpg"))), 0);
    ASSERT_EQ(Shell(CommandLine("apply", "clip.mpg", "mpg.mkv") + " --codec ffv1", &log), 0) << log;
    EXPECT_EQ(log.find("did not increase"), std::string::npos) << log;
    std::string times;
    Shell("ffprobe -v error -show_entries frame=pts -of csv=p=0 " + Quote(Path("mpg.mkv")), &times);
    std::vector<long> pts;
    for (const char* p = times.c_str(); *p; p++)
        if (isdigit(static_cast<unsigned char>(*p)) && (p == times.c_str() || !isdigit(static_cast<unsigned char>(p[-1]))))
            pts.push_back(atol(p));
    ASSERT_EQ(pts.size(), 6u) << times;
    for (size_t i = 1; i < pts.size(); i++) EXPECT_EQ(pts[i] - pts[i - 1], 40) << times;  // milliseconds
}

// A VP8 stream declared 32x24 whose keyframe claims 12000x12000: damage can
// claim frames of a hundred million pixels in a few bytes, and every command
// must refuse them by name at once rather than fill memory with them.
TEST_F(InputFaultTest, FramesLargerThanAnyVideoAreRefusedByName) {
    if (Shell("ffmpeg -v error -nostdin -f lavfi -i testsrc2=size=32x24:rate=10 -frames:v 4 -c:v libvpx -y " +
              Quote(Path("small.ivf"))) != 0)
        GTEST_SKIP() << "ffmpeg has no VP8 encoder";
    std::string ivf = ReadBytes(Path("small.ivf"));
    const size_t startCode = ivf.find("\x9d\x01\x2a");  // a keyframe's, then its width and height
    ASSERT_NE(startCode, std::string::npos);
    const char claimed[4] = {'\xe0', '\x2e', '\xe0', '\x2e'};  // 12000, 12000
    ivf.replace(startCode + 3, 4, claimed, 4);
    WriteBytes(Path("huge.ivf"), ivf);
    for (const char* command : {"apply", "preview", "detect"}) {
        std::string log;
        EXPECT_EQ(Shell(CommandLine(command, "huge.ivf", strcmp(command, "apply") == 0 ? "huge.mkv" : "huge.png"), &log), 1)
            << command << ":\n" << log;
        EXPECT_NE(log.find("8192x8192"), std::string::npos) << command << ":\n" << log;
    }
    EXPECT_FALSE(Exists(Path("huge.mkv")));
}

// A disk that refuses the first write (here the file size limit of the
// process, which needs no special file system) is named as the reason, not
// the container; MP4 flushes its header at once.
TEST_F(InputFaultTest, ARefusingDiskIsNamedNotTheContainer) {
    std::string log;
    const std::string limited = "sh -c " + Quote("trap '' XFSZ; ulimit -f 0; exec " + CommandLine("apply", "clip.mkv", "full.mp4"));
    EXPECT_EQ(Shell(limited, &log), 6) << log;
    EXPECT_NE(log.find("size limit"), std::string::npos) << log;
    EXPECT_EQ(log.find("does not take these streams"), std::string::npos) << log;
    EXPECT_FALSE(Exists(Path("full.mp4")));
    const std::string picture =
        "sh -c " + Quote("trap '' XFSZ; ulimit -f 0; exec " + CommandLine("preview", "clip.mkv", "full.png"));
    EXPECT_EQ(Shell(picture, &log), 6) << log;
    EXPECT_NE(log.find("size limit"), std::string::npos) << log;
    EXPECT_FALSE(Exists(Path("full.png")));

    // A full disk, as the shim makes every write of the output fail: named
    // with where it is and what is left. (The sanitizers' runtime must not
    // insist on coming first.)
    const std::string shim = std::string("LD_PRELOAD=") + Quote(DELBRIN_FULL_DISK_SHIM) +
                             " ASAN_OPTIONS=exitcode=99:verify_asan_link_order=0 ";
    for (const char* name : {"full.mp4", "full.mkv"}) {
        EXPECT_EQ(Shell(shim + CommandLine("apply", "clip.mkv", name), &log), 6) << log;
        EXPECT_NE(log.find("is full: "), std::string::npos) << log;
        EXPECT_NE(log.find(kDir), std::string::npos) << log;
        EXPECT_EQ(log.find("does not take these streams"), std::string::npos) << log;
        EXPECT_FALSE(Exists(Path(name)));
    }

    // What a full disk is said to be: where it is and what is left.
    const std::string full = DiskRefusal(Path("out.mkv"), ENOSPC);
    EXPECT_NE(full.find("is full"), std::string::npos) << full;
    EXPECT_NE(full.find(kDir), std::string::npos) << full;
    EXPECT_NE(full.find("free of"), std::string::npos) << full;
    EXPECT_EQ(DiskRefusal(Path("out.mkv"), EINVAL), "");
}

}  // namespace
