// What the command writes, checked on small clips made with the ffmpeg
// program: the codec it chooses by itself, timestamps that never run
// backwards, and what a file carries beside its pictures (HDR10 metadata,
// alpha, rotation, attachments, a GIF's palette), kept or said to be lost.
#include <gtest/gtest.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "shell_run.h"

namespace {

const std::string kDelbrin = DELBRIN_COMMAND;
const std::string kDir = DELBRIN_TEST_DIR;
const char kRect[] = "--rect 8,6,20,14";

std::string Path(const std::string& name) { return kDir + "/" + name; }

// Makes a clip with ffmpeg: `source` the input options, `encode` the output's.
void MakeClip(const std::string& name, const std::string& source, const std::string& encode) {
    std::string log;
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -y " + source + " " + encode + " " + Quote(Path(name)), &log), 0)
        << name << ": " << log;
}

const char kSource[] = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=1.6";

// Runs apply; returns the exit code, stderr in *log.
int Apply(const std::string& input, const std::string& output, const std::string& options, std::string* log) {
    return Shell(Quote(kDelbrin) + " apply " + Quote(Path(input)) + " " + Quote(Path(output)) + " --force " +
                     options,
                 log);
}

std::string Probe(const std::string& file, const std::string& entries, const std::string& extra = "") {
    std::string out;
    Shell("ffprobe -v error " + extra + " -show_entries " + entries + " -of compact=p=0 " + Quote(Path(file)), &out);
    return out;
}

std::vector<long long> Numbers(const std::string& text) {
    std::vector<long long> numbers;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && (isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-'))
            numbers.push_back(atoll(line.c_str()));
    return numbers;
}

// The presentation times of the decoded frames, in the order they come out.
std::vector<long long> ShownTimes(const std::string& file) {
    std::string out;
    Shell("ffprobe -v error -show_entries frame=best_effort_timestamp -of csv=p=0 " + Quote(Path(file)) +
              " | cut -d, -f1",
          &out);
    return Numbers(out);
}

// Frames from the first keyframe to the second, in the order shown; 0 when
// there is one keyframe.
int FirstGop(const std::string& file) {
    std::string out;
    Shell("ffprobe -v error -select_streams v -show_entries frame=key_frame -of csv=p=0 " + Quote(Path(file)) +
              " | cut -d, -f1",
          &out);
    const std::vector<long long> keys = Numbers(out);
    int first = -1;
    for (size_t i = 0; i < keys.size(); i++)
        if (keys[i] == 1) {
            if (first >= 0) return static_cast<int>(i) - first;
            first = static_cast<int>(i);
        }
    return 0;
}

// The value of key=N or key=N/D in ffprobe's text, NaN when absent.
double Field(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) return NAN;
    const char* p = text.c_str() + at + key.size() + 1;
    char* end = nullptr;
    double value = strtod(p, &end);
    if (*end == '/') value /= strtod(end + 1, nullptr);
    return value;
}

// The HDR10 values the clips are made with, as ffprobe shows them.
void ExpectHdr10(const std::string& text, const std::string& where) {
    EXPECT_DOUBLE_EQ(Field(text, "red_x"), 0.68) << where << ": " << text;
    EXPECT_DOUBLE_EQ(Field(text, "green_y"), 0.69) << where << ": " << text;
    EXPECT_DOUBLE_EQ(Field(text, "white_point_x"), 0.3127) << where << ": " << text;
    EXPECT_DOUBLE_EQ(Field(text, "min_luminance"), 0.005) << where << ": " << text;
    EXPECT_DOUBLE_EQ(Field(text, "max_luminance"), 1000) << where << ": " << text;
    EXPECT_EQ(Field(text, "max_content"), 1000) << where << ": " << text;
    EXPECT_EQ(Field(text, "max_average"), 400) << where << ": " << text;
}

bool Have(const char* encoder) {
    std::string out;
    Shell("ffmpeg -v error -hide_banner -h encoder=" + std::string(encoder), &out);
    return out.find("Encoder " + std::string(encoder)) != std::string::npos;
}

class OutputFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Shell("mkdir -p " + Quote(kDir)); }
};

// Without --codec the video keeps its codec, profile, GOP and interlacing
// where the output can hold them; where it cannot, stderr says why.
TEST_F(OutputFaults, TheInputsOwnCodecIsKept) {
    for (const char* e : {"prores_ks", "libx265", "libx264", "libvpx-vp9"})
        if (!Have(e)) GTEST_SKIP() << "no " << e;
    MakeClip("hq.mov", kSource, "-c:v prores_ks -profile:v hq -pix_fmt yuv422p10le");
    MakeClip("lt.mkv", kSource, "-c:v prores_ks -profile:v lt -pix_fmt yuv422p10le");
    MakeClip("4444.mov", kSource, "-vf format=yuva444p10le -c:v prores_ks -profile:v 4444");
    MakeClip("hevc.mp4", kSource, "-c:v libx265 -x265-params log-level=error -pix_fmt yuv420p10le");
    MakeClip("interlaced.mxf", kSource, "-c:v mpeg2video -g 15 -bf 2 -flags +ilme+ildct -top 1");
    MakeClip("interlaced.ts", kSource, "-c:v mpeg2video -g 9 -bf 1 -flags +ilme+ildct -top 0");
    MakeClip("program.mpg", kSource, "-c:v mpeg2video -bf 2");  // starts between two frame ticks
    MakeClip("dnxhr.mov", "-f lavfi -i testsrc2=size=256x144:rate=25:duration=0.4",
             "-c:v dnxhd -profile:v dnxhr_sq -pix_fmt yuv422p");
    const struct { const char* in; const char* out; const char* says; } cases[] = {
        {"hq.mov", "hq-out.mov", nullptr},
        {"lt.mkv", "lt-out.mkv", nullptr},
        {"4444.mov", "4444-out.mov", nullptr},
        {"hevc.mp4", "hevc-out.mkv", nullptr},
        {"interlaced.mxf", "interlaced-out.mxf", nullptr},
        {"interlaced.ts", "interlaced-out.ts", nullptr},
        {"dnxhr.mov", "dnxhr-out.mov", nullptr},
        {"program.mpg", "program-out.mpg", nullptr},
        {"hq.mov", "hq-out.mp4", "encoding with libx264: the mp4 container does not take the input's prores"},
        {"hevc.mp4", "hevc-out.webm", "the webm container does not take the input's hevc"},
    };
    const std::string shape = "stream=codec_name,profile,pix_fmt,field_order,width,height";
    for (const auto& c : cases) {
        std::string log;
        ASSERT_EQ(Apply(c.in, c.out, kRect, &log), 0) << c.in << " -> " << c.out << ": " << log;
        if (c.says) {
            EXPECT_NE(log.find(c.says), std::string::npos) << log;
            continue;
        }
        EXPECT_EQ(log.find("encoding with"), std::string::npos) << log;
        EXPECT_EQ(Probe(c.out, shape, "-select_streams v"), Probe(c.in, shape, "-select_streams v")) << c.out;
        // The GOP: frames from the first keyframe to the next.
        EXPECT_EQ(FirstGop(c.out), FirstGop(c.in)) << c.out;
        // MPEG-2 and MXF count in frames; the times stay where they were.
        if (strcmp(strrchr(c.in, '.'), strrchr(c.out, '.')) == 0)
            EXPECT_EQ(ShownTimes(c.out), ShownTimes(c.in)) << c.out;
    }
}

// Whatever the container, frames read back in the order they are shown: a
// container that cannot store reordering (MXF but for MPEG-2) gets none.
TEST_F(OutputFaults, TimestampsNeverRunBackwards) {
    if (!Have("libx264")) GTEST_SKIP() << "no libx264";
    MakeClip("bframes.mkv", kSource, "-c:v libx264 -bf 3");
    MakeClip("bframes-mpeg2.mkv", kSource, "-c:v mpeg2video -bf 2");
    for (const char* in : {"bframes.mkv", "bframes-mpeg2.mkv"})
        for (const char* container : {"mxf", "avi", "mp4", "mkv", "ts", "mov", "mxf --codec libx264"}) {
            std::string out = std::string("order-") + in + "." + container;
            const size_t option = out.find(' ');
            const std::string options = kRect + (option == std::string::npos ? "" : out.substr(option));
            out = out.substr(0, option);
            std::string log;
            ASSERT_EQ(Apply(in, out, options, &log), 0) << out << ": " << log;
            // AVI keeps no time for the first frames a decoder holds back.
            const std::vector<long long> times = ShownTimes(out);
            ASSERT_GE(times.size(), strcmp(container, "avi") == 0 ? 36u : 40u) << out;
            for (size_t i = 1; i < times.size(); i++)
                ASSERT_LT(times[i - 1], times[i]) << out << " frame " << i;
        }
}

// HDR10's mastering display and light levels stay on the stream and, where
// the encoder writes them (libx265), in the frames, whether the input kept
// them in its frames (HEVC) or only in its container.
TEST_F(OutputFaults, HdrMetadataIsKept) {
    if (!Have("libx265") || !Have("libx264")) GTEST_SKIP() << "no libx265 or libx264";
    const std::string hdr = "-x265-params " +
                            Quote("log-level=error:hdr10=1:master-display=G(13250,34500)B(7500,3000)R(34000,16000)"
                                  "WP(15635,16450)L(10000000,50):max-cll=1000,400") +
                            " -pix_fmt yuv420p10le -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc";
    MakeClip("hdr.mkv", kSource, "-c:v libx265 " + hdr);
    const std::string mastering = "side_data=red_x,green_y,white_point_x,min_luminance,max_luminance,max_content,"
                                  "max_average";
    const std::string first = Probe("hdr.mkv", "frame_" + mastering, "-read_intervals %+#1");
    ExpectHdr10(first, "hdr.mkv");
    for (const char* out : {"hdr-out.mkv", "hdr-out.mp4", "hdr-out.mov"}) {
        std::string log;
        ASSERT_EQ(Apply("hdr.mkv", out, kRect, &log), 0) << out << ": " << log;
        EXPECT_EQ(Probe(out, "frame_" + mastering, "-read_intervals %+#1"), first) << out;
        ExpectHdr10(Probe(out, "stream_" + mastering, "-select_streams v"), out);
    }
    // Into an encoder that writes no HDR10 messages, the container keeps it.
    std::string log;
    ASSERT_EQ(Apply("hdr.mkv", "hdr-x264.mkv", std::string(kRect) + " --codec libx264", &log), 0) << log;
    ExpectHdr10(Probe("hdr-x264.mkv", "stream_" + mastering, "-select_streams v"), "hdr-x264.mkv");
}

// Attachments are copied by their MIME type whether or not FFmpeg knows a
// codec for them, byte for byte, into Matroska; elsewhere they are left out
// by name.
TEST_F(OutputFaults, AttachmentsAreCopiedByMimeType) {
    const std::string note = Path("note.txt"), blob = Path("blob.bin");
    Shell("printf 'a note\\n' > " + Quote(note) + " && printf '\\001\\002\\377' > " + Quote(blob));
    MakeClip("attached.mkv", kSource,
             "-c:v ffv1 -attach " + Quote(note) + " -metadata:s:t:0 mimetype=text/plain -attach " + Quote(blob) +
                 " -metadata:s:t:1 mimetype=application/octet-stream");
    std::string log;
    ASSERT_EQ(Apply("attached.mkv", "attached-out.mkv", kRect, &log), 0) << log;
    const std::string tags = "stream=codec_type:stream_tags=filename,mimetype";
    EXPECT_EQ(Probe("attached-out.mkv", tags), Probe("attached.mkv", tags));
    const std::string dump = Path("dumped");
    Shell("rm -rf " + Quote(dump) + " && mkdir " + Quote(dump));
    Shell("cd " + Quote(dump) + " && ffmpeg -v error -nostdin -dump_attachment:t '' -i ../attached-out.mkv");
    std::string same;
    EXPECT_EQ(Shell("cmp " + Quote(note) + " " + Quote(dump + "/note.txt") + " && cmp " + Quote(blob) + " " +
                        Quote(dump + "/blob.bin"),
                    &same),
              0)
        << same;

    for (const char* out : {"attached-out.mp4", "attached-out.webm"}) {
        ASSERT_EQ(Apply("attached.mkv", out, kRect, &log), 0)
            << out << ": " << log;
        EXPECT_NE(log.find("attachment 1 (note.txt) is left out"), std::string::npos) << log;
        EXPECT_NE(log.find("attachment 2 (blob.bin) is left out"), std::string::npos) << log;
    }
}

// A turn the output's container cannot store is said to be lost; where it
// can, it is kept without a word.
TEST_F(OutputFaults, ALostTurnIsSaid) {
    MakeClip("plain.mp4", kSource, "-c:v mpeg4");
    std::string log;
    ASSERT_EQ(Shell("ffmpeg -v error -nostdin -y -i " + Quote(Path("plain.mp4")) +
                        " -c copy -metadata:s:v:0 rotate=90 " + Quote(Path("turned.mp4")),
                    &log),
              0)
        << log;
    for (const char* out : {"turned-out.mp4", "turned-out.mov", "turned-out.mkv", "turned-out.avi"}) {
        ASSERT_EQ(Apply("turned.mp4", out, kRect, &log), 0) << out << ": " << log;
        const bool kept = Probe(out, "stream_side_data=rotation", "-select_streams v").find("rotation") !=
                          std::string::npos;
        const bool said = log.find("the turn by 90 degrees is lost") != std::string::npos;
        EXPECT_NE(kept, said) << out << ": " << log;
        if (strstr(out, ".mp4") || strstr(out, ".mov")) EXPECT_TRUE(kept) << out;
    }
}

// The alpha plane of every frame as the libvpx decoder gives it (FFmpeg's
// own VP8 and VP9 decoders skip it), one byte a pixel.
std::vector<uint8_t> VpxAlpha(const std::string& file, const char* decoder) {
    std::vector<uint8_t> alpha;
    FILE* p = popen(("ffmpeg -v error -nostdin -c:v " + std::string(decoder) + " -i " + Quote(Path(file)) +
                     " -vf alphaextract -f rawvideo -pix_fmt gray - 2>/dev/null")
                        .c_str(),
                    "r");
    if (!p) return alpha;
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) alpha.insert(alpha.end(), chunk, chunk + n);
    pclose(p);
    return alpha;
}

// VP8 and VP9 keep their alpha where the output can store it (through
// libvpx's decoder and encoder); where it cannot, it is said, and an opaque
// output carries no alpha-mode tag.
TEST_F(OutputFaults, VpxAlphaIsKeptOrSaidLost) {
    if (!Have("libvpx-vp9") || !Have("libvpx")) GTEST_SKIP() << "no libvpx";
    const std::string ramp = "-vf \"format=yuva420p,geq=lum='lum(X,Y)':cb='cb(X,Y)':cr='cr(X,Y)':a='64+2*X'\"";
    MakeClip("alpha-vp9.webm", kSource, ramp + " -c:v libvpx-vp9 -auto-alt-ref 0");
    MakeClip("alpha-vp8.webm", kSource, ramp + " -c:v libvpx -auto-alt-ref 0");
    const struct { const char* in; const char* decoder; } inputs[] = {{"alpha-vp9.webm", "libvpx-vp9"},
                                                                      {"alpha-vp8.webm", "libvpx"}};
    for (const auto& in : inputs) {
        const std::vector<uint8_t> original = VpxAlpha(in.in, in.decoder);
        ASSERT_EQ(original.size(), 40u * 64 * 48) << in.in;
        for (const char* container : {"webm", "mkv"}) {
            const std::string out = std::string(in.in) + "-out." + container;
            std::string log;
            ASSERT_EQ(Apply(in.in, out, kRect, &log), 0) << out << ": " << log;
            EXPECT_EQ(log.find("alpha is"), std::string::npos) << log;
            const std::vector<uint8_t> kept = VpxAlpha(out, in.decoder);
            ASSERT_EQ(kept.size(), original.size()) << out;
            // A lossy codec: the alpha is near the input's, not opaque.
            double difference = 0;
            for (size_t i = 0; i < kept.size(); i++) difference += abs(kept[i] - original[i]);
            EXPECT_LT(difference / kept.size(), 2.0) << out;
        }
        std::string log;
        const std::string mp4 = std::string(in.in) + "-out.mp4";
        ASSERT_EQ(Apply(in.in, mp4, kRect, &log), 0) << log;
        EXPECT_NE(log.find("the input's alpha is dropped"), std::string::npos) << log;
        const std::string opaque = std::string(in.in) + "-x264.mkv";
        ASSERT_EQ(Apply(in.in, opaque, kRect + std::string(" --codec libx264"), &log), 0) << log;
        EXPECT_NE(log.find("the input's alpha is dropped: libx264 writes none"), std::string::npos) << log;
        EXPECT_EQ(Probe(opaque, "stream_tags=alpha_mode", "-select_streams v").find("alpha_mode"), std::string::npos);
    }
}

// Every frame of a file decoded to BGRA, one after another.
std::vector<uint8_t> Bgra(const std::string& file) {
    std::vector<uint8_t> bytes;
    FILE* p = popen(("ffmpeg -v error -nostdin -i " + Quote(Path(file)) + " -f rawvideo -pix_fmt bgra - 2>/dev/null")
                        .c_str(),
                    "r");
    if (!p) return bytes;
    uint8_t chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, p)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    pclose(p);
    return bytes;
}

// A GIF written from a GIF (or a palette picture) keeps the input's colours:
// every pixel outside the rectangle is the input's, none of it dithered.
TEST_F(OutputFaults, GifKeepsItsColoursOutsideTheRectangle) {
    const std::string palette = "-vf \"split[a][b];[a]palettegen=max_colors=64[p];[b][p]paletteuse=dither=bayer\"";
    MakeClip("anim.gif", kSource, palette);
    MakeClip("palette.png", kSource, palette + " -frames:v 1");
    MakeClip("few.mov", kSource, palette + " -pix_fmt rgb24 -c:v qtrle");
    const int x = 8, y = 6, w = 20, h = 14, width = 64, height = 48;
    for (const char* in : {"anim.gif", "palette.png", "few.mov"}) {
        const std::string out = std::string(in) + "-out.gif";
        std::string log;
        ASSERT_EQ(Apply(in, out, kRect, &log), 0) << out << ": " << log;
        EXPECT_EQ(log.find("dithered"), std::string::npos) << log;
        const std::vector<uint8_t> before = Bgra(in), after = Bgra(out);
        ASSERT_EQ(after.size(), before.size()) << out;
        ASSERT_EQ(before.size() % (width * height * 4), 0u);
        size_t outside = 0, inside = 0;
        for (size_t i = 0; i < before.size(); i += 4) {
            const int pixel = static_cast<int>(i / 4 % (width * height)), px = pixel % width, py = pixel / width;
            const bool changed = memcmp(&before[i], &after[i], 3) != 0;
            (px >= x && px < x + w && py >= y && py < y + h ? inside : outside) += changed;
        }
        EXPECT_EQ(outside, 0u) << out;
        EXPECT_GT(inside, 0u) << out;
    }
    // GIF decodes with alpha; an opaque one loses nothing in a video.
    std::string log;
    ASSERT_EQ(Apply("anim.gif", "anim.mp4", kRect, &log), 0) << log;
    EXPECT_EQ(log.find("alpha"), std::string::npos) << log;
}

}  // namespace
