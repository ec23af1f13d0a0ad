// The command line and the encoder choices it leads to, natively, without
// any video file.
#include <gtest/gtest.h>

#include <vector>

#include "encoder_setup.h"
#include "options.h"

namespace {

bool Parse(std::vector<const char*> args, Options* options, std::string* error, const char* command = "apply") {
    options->command = command;
    args.insert(args.begin(), {"delbrin", command});
    return ParseOptions(static_cast<int>(args.size()), const_cast<char**>(args.data()), options, error);
}

TEST(Options, EveryRectangleIsAnInstanceAndPlainSettingsApplyToAll) {
    Options o;
    std::string error;
    ASSERT_TRUE(Parse({"in.mp4", "--rect", "1,2,30,40", "--config",
                       "Config(8, 9, 5, 6, 0, 1, 1, 0, 0, 0, 10, 3, \"100 200, \")", "--feather=7", "--rect",
                       "50,60,10,10", "--cancel", "left", "out.mkv", "--crf", "20", "--codec", "libx265"},
                      &o, &error))
        << error;
    ASSERT_EQ(o.instances.size(), 3u);
    EXPECT_EQ(o.positional, (std::vector<std::string>{"in.mp4", "out.mkv"}));
    // Config order: width, height, x, y, feather on, fade on, cancel top,
    // bottom, left, right, feather width, fade frames.
    const int32_t first[kConfigNumberCount] = {30, 40, 1, 2, 1, 0, 0, 0, 1, 0, 7, 5};
    const int32_t second[kConfigNumberCount] = {8, 9, 5, 6, 1, 1, 1, 0, 1, 0, 7, 3};
    for (int i = 0; i < kConfigNumberCount; i++) {
        EXPECT_EQ(o.instances[0].call.numbers[i], first[i]) << i;
        EXPECT_EQ(o.instances[1].call.numbers[i], second[i]) << i;
    }
    EXPECT_EQ(o.instances[1].call.rangeText, "100 200, ");
    EXPECT_EQ(o.instances[2].call.numbers[kConfigX], 50);
    EXPECT_EQ(o.encoder.crf, 20.0);
    EXPECT_FALSE(o.encoder.quality);
    EXPECT_EQ(o.encoder.codec, "libx265");
    EXPECT_TRUE(o.warnings.empty());

    // --ranges replaces every instance's ranges, and must read as pairs.
    Options r;
    ASSERT_TRUE(Parse({"--config", "Config(8, 9, 5, 6, 0, 0, 0, 0, 0, 0, 10, 5, \"1 2\")", "--ranges", "10 20"}, &r, &error));
    EXPECT_EQ(r.instances[0].call.rangeText, "10 20");
    // A Config line's text that does not read as pairs is used as the
    // filter reads it, with a warning naming what it keeps.
    Options w;
    ASSERT_TRUE(Parse({"--config", "Config(8, 9, 5, 6, 0, 0, 0, 0, 0, 0, 10, 5, \"100-200\")"}, &w, &error));
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_NE(w.warnings[0].find("none (every frame is patched)"), std::string::npos) << w.warnings[0];
}

TEST(Options, BadValuesAreUsageErrorsThatSayWhy) {
    const struct { std::vector<const char*> args; const char* says; const char* command = "apply"; } cases[] = {
        {{"--ranges", "100-200"}, "\"100-200\" is not a whole frame number"},
        {{"--ranges", "20 10"}, "20 10 does not end after it starts"},
        {{"--ranges", ""}, "no frame numbers"},
        {{"--rect", "1,2,3"}, "--rect takes X,Y,W,H"},
        {{"--feather"}, "--feather needs a value"},
        {{"--frame", "-1"}, "--frame takes a frame number", "preview"},
        {{"--config", "Config(1)"}, "--config: Config takes 13 arguments"},
        {{"--script", "/nonexistent/job.vcf"}, "cannot read the script"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--crf", "abc"}, "--crf takes a number, not \"abc\""},
        {{"--quality=1e999"}, "--quality takes a number"},
        {{"--crf", "20", "--quality", "3"}, "give one"},
        {{"-", "out.mkv", "--script", "-"}, "would both read standard input"},
        {{"--script", "-", "--script=-"}, "--script - can be given once"},
        {{"--bogus=1"}, "unknown option --bogus"},
    };
    for (const auto& c : cases) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error, c.command)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(Options, EachCommandTakesOnlyItsOwnOptions) {
    enum { A = 1, P = 2, D = 4, T = 8 };  // apply, preview, demo, detect
    const char* const commands[] = {"apply", "preview", "demo", "detect"};
    const struct { std::vector<const char*> args; int takenBy; } cases[] = {
        {{"--rect", "1,1,2,2"}, A | P},
        {{"--config", "Config(8, 9, 5, 6, 0, 0, 0, 0, 0, 0, 10, 5, \"\")"}, A | P},
        {{"--feather", "2"}, A | P}, {{"--fade", "3"}, A | P}, {{"--cancel", "top"}, A | P}, {{"--border"}, A | P},
        {{"--codec", "ffv1"}, A}, {{"--crf", "20"}, A}, {{"--quality", "3"}, A}, {{"--pix-fmt", "yuv420p"}, A},
        {{"--frame", "3"}, P}, {{"-o", "x.png"}, P}, {{"--output=x.png"}, P}, {{"--print-config"}, P},
        {{"--frames", "300"}, T}, {{"--frames=300"}, T}, {{"--margin", "4"}, T}, {{"--preview=x.png"}, T},
        {{"--json"}, T},
        {{"--force"}, A | P | T}, {{"-f"}, A | P | T},
        {{"--quiet"}, A | D}, {{"-q"}, A | D}, {{"--verbose"}, A | P | D}, {{"-v"}, A | P | D},
        {{"--help"}, A | P | D | T},
    };
    for (const auto& c : cases)
        for (int k = 0; k < 4; k++) {
            Options o;
            std::string error;
            const bool taken = (c.takenBy >> k) & 1;
            EXPECT_EQ(Parse(c.args, &o, &error, commands[k]), taken) << c.args[0] << " with " << commands[k];
            std::string name = c.args[0];
            name = name.substr(0, name.find('='));
            if (!taken)
                EXPECT_EQ(error, name + " is not an option of " + commands[k] + "; see delbrin --help");
        }
    // --ranges is the filter's ranges for apply and preview, a switch for
    // detect.
    Options filter, detect;
    std::string error;
    ASSERT_TRUE(Parse({"--ranges", "1 2", "in.mp4"}, &filter, &error)) << error;
    EXPECT_EQ(filter.positional, std::vector<std::string>{"in.mp4"});
    ASSERT_TRUE(Parse({"--ranges", "in.mp4"}, &detect, &error, "detect")) << error;
    EXPECT_TRUE(detect.findRanges);
    EXPECT_EQ(detect.positional, std::vector<std::string>{"in.mp4"});
    EXPECT_FALSE(Parse({"--ranges=1", "in.mp4"}, &detect, &error, "detect"));
    EXPECT_EQ(error, "--ranges takes no value");

    Options o;
    EXPECT_FALSE(Parse({"--rect", "1,1,2,2"}, &o, &error, "aply"));
    EXPECT_NE(error.find("unknown command \"aply\""), std::string::npos) << error;
}

// Both spellings of a value give the same result; "--" ends the options and
// "-" is a file (standard input or output), for every command alike.
TEST(Options, ValuesFilesAndTheEndOfOptions) {
    Options spaced, joined;
    std::string error;
    ASSERT_TRUE(Parse({"--frames", "40", "--margin", "7", "--preview", "p.png", "in.mp4"}, &spaced, &error, "detect"));
    ASSERT_TRUE(Parse({"--frames=40", "--margin=7", "--preview=p.png", "in.mp4"}, &joined, &error, "detect"));
    for (const Options* o : {&spaced, &joined}) {
        EXPECT_EQ(o->sampleFrames, 40);
        EXPECT_EQ(o->margin, 7);
        EXPECT_EQ(o->picturePath, "p.png");
    }
    // A value may itself start with a dash or hold "=".
    Options toStandardOutput;
    ASSERT_TRUE(Parse({"--frame", "5", "-o", "-", "-", "--rect=1,2,3,4"}, &toStandardOutput, &error, "preview"))
        << error;
    EXPECT_EQ(toStandardOutput.picturePath, "-");
    EXPECT_EQ(toStandardOutput.positional, std::vector<std::string>{"-"});
    EXPECT_EQ(toStandardOutput.frame, 5);

    Options o;
    ASSERT_TRUE(Parse({"--rect", "1,2,3,4", "--", "-dash.mp4", "--force"}, &o, &error)) << error;
    EXPECT_EQ(o.positional, (std::vector<std::string>{"-dash.mp4", "--force"}));
    EXPECT_FALSE(o.force);
    EXPECT_FALSE(Parse({"-dash.mp4"}, &o, &error));
    EXPECT_EQ(error, "unknown option -dash.mp4; see delbrin --help");
}

// Every number is bounded, and the message gives the bounds and the reason.
TEST(Options, NumbersOutsideTheirBoundsAreRefusedWithTheReason) {
    const struct { const char* command; std::vector<const char*> args; const char* says; } cases[] = {
        {"preview", {"--frame", "2147483648"}, "the filter counts frames in 32 bits"},
        {"preview", {"--frame", "99999999999999999999"}, "from 0 to 2147483647"},
        {"preview", {"--frame", "3x"}, "not \"3x\""},
        {"detect", {"--frames", "11"}, "fewer cannot tell a logo"},
        {"detect", {"--frames=100001"}, "takes 12 to 100000 frames"},
        {"detect", {"--frames", ""}, "takes 12 to 100000 frames"},
        {"detect", {"--margin", "-1"}, "--margin takes 0 to 1000 pixels"},
        {"detect", {"--margin", "1001"}, "grows by it on every side"},
        {"apply", {"--border=1"}, "--border takes no value"},
    };
    for (const auto& c : cases) {
        Options o;
        std::string error;
        EXPECT_FALSE(Parse(c.args, &o, &error, c.command)) << c.args[0];
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
    Options o;
    std::string error;
    EXPECT_TRUE(Parse({"--frame", "2147483647"}, &o, &error, "preview")) << error;
    EXPECT_TRUE(Parse({"--frames", "12", "--margin", "0"}, &o, &error, "detect")) << error;
}

EncoderPlan Plan(const EncoderRequest& request, const char* output, InputTraits input, std::string* error,
                 bool* ok) {
    EncoderPlan plan;
    *ok = ChooseContainer(output, &plan, error) && ChooseEncoder(request, output, input, &plan, error) &&
          ChooseQuality(request, &plan, error) && ChoosePixelFormat(request, input, &plan, error);
    return plan;
}

const InputTraits kH264 = {AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, 640, 360};

TEST(EncoderSetup, DefaultsFollowTheOutputAndTheInput) {
    if (!avcodec_find_encoder_by_name("libx264")) GTEST_SKIP() << "no libx264 in this FFmpeg";
    std::string error;
    bool ok;
    EncoderPlan p = Plan({}, "o.mkv", kH264, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_STREQ(p.codec->name, "libx264");
    EXPECT_EQ(p.scale, kQualityCrf);
    EXPECT_EQ(p.value, 18);
    EXPECT_EQ(p.pixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_TRUE(p.notes.empty());

    // A picture stays a picture; a format the encoder lacks is replaced by
    // the nearest one, and said.
    p = Plan({}, "o.png", {AV_CODEC_ID_PNG, AV_PIX_FMT_RGB24, 33, 17}, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_STREQ(p.codec->name, "png");
    EXPECT_EQ(p.pixelFormat, AV_PIX_FMT_RGB24);
    p = Plan({}, "o.mp4", {AV_CODEC_ID_PNG, AV_PIX_FMT_RGB24, 64, 48}, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(p.pixelFormat, AV_PIX_FMT_YUV444P);
    ASSERT_EQ(p.notes.size(), 1u);
    EXPECT_NE(p.notes[0].find("does not take the input's rgb24"), std::string::npos) << p.notes[0];

    // Odd sizes: 4:2:0 H.264 cannot be, so a format without subsampling.
    p = Plan({}, "o.mkv", {AV_CODEC_ID_FFV1, AV_PIX_FMT_YUV420P, 641, 361}, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(p.pixelFormat, AV_PIX_FMT_YUV444P);
    EXPECT_NE(p.notes.back().find("odd size 641x361"), std::string::npos) << p.notes.back();

    // Alpha in: the input's own codec where it keeps alpha.
    p = Plan({}, "o.mov", {AV_CODEC_ID_QTRLE, AV_PIX_FMT_ARGB, 64, 48}, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_STREQ(p.codec->name, "qtrle");
    EXPECT_EQ(p.pixelFormat, AV_PIX_FMT_ARGB);

    // A container that does not take H.264 gets its own codec.
    p = Plan({}, "o.webm", kH264, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_NE(p.codec->id, AV_CODEC_ID_H264);

    // Only formats libswscale writes: a palette becomes RGB, with alpha
    // unless every colour is opaque; GIF's 256 colours are dithered, and said.
    const InputTraits kPalette = {AV_CODEC_ID_PNG, AV_PIX_FMT_PAL8, 64, 48};
    const InputTraits kOpaquePalette = {AV_CODEC_ID_PNG, AV_PIX_FMT_PAL8, 64, 48, true};
    const struct { const char* output; InputTraits input; const char* codec; AVPixelFormat format; const char* says; } notWritable[] = {
        {"o.png", kPalette, "png", AV_PIX_FMT_RGBA, "writing rgba: libswscale cannot write the input's pal8"},
        {"o.png", kOpaquePalette, "png", AV_PIX_FMT_RGB24, "writing rgb24: libswscale cannot write the input's pal8"},
        {"o.gif", kH264, "gif", AV_PIX_FMT_BGR8, "the whole picture is dithered to bgr8"},
    };
    for (const auto& c : notWritable) {
        p = Plan({}, c.output, c.input, &error, &ok);
        ASSERT_TRUE(ok) << error;
        EXPECT_STREQ(p.codec->name, c.codec);
        EXPECT_EQ(p.pixelFormat, c.format) << c.output;
        EXPECT_NE(p.notes.back().find(c.says), std::string::npos) << p.notes.back();
    }
}

TEST(EncoderSetup, QualityIsMappedOntoEachEncodersScale) {
    std::string error;
    bool ok;
    // mpeg4 takes the quantiser of the same step size as the crf.
    EncoderPlan p = Plan({"mpeg4", "", {}, {}}, "o.avi", kH264, &error, &ok);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(p.scale, kQualityQscale);
    EXPECT_NEAR(p.value, 2.52, 0.01);
    p = Plan({"mpeg4", "", 30, {}}, "o.avi", kH264, &error, &ok);
    EXPECT_NEAR(p.value, 10.08, 0.01);
    p = Plan({"mpeg4", "", {}, 4}, "o.avi", kH264, &error, &ok);
    EXPECT_EQ(p.value, 4);
    AVCodecContext* context = avcodec_alloc_context3(p.codec);
    AVDictionary* options = nullptr;
    ApplyQuality(p, context, &options);
    EXPECT_TRUE(context->flags & AV_CODEC_FLAG_QSCALE);
    EXPECT_EQ(context->global_quality, 4 * FF_QP2LAMBDA);
    avcodec_free_context(&context);
    EXPECT_EQ(QscaleForCrf(0), 1);
    EXPECT_EQ(QscaleForCrf(51), 31);

    if (avcodec_find_encoder_by_name("libvpx-vp9")) {
        p = Plan({"libvpx-vp9", "", 51, {}}, "o.webm", kH264, &error, &ok);
        ASSERT_TRUE(ok) << error;
        EXPECT_EQ(p.value, 63);  // the top of libx264's scale is the top of vp9's
    }
    if (avcodec_find_encoder_by_name("libx264")) {
        p = Plan({"libx264", "", 23, {}}, "o.mkv", kH264, &error, &ok);
        context = avcodec_alloc_context3(p.codec);
        options = nullptr;
        ApplyQuality(p, context, &options);
        EXPECT_STREQ(av_dict_get(options, "crf", nullptr, 0)->value, "23");
        EXPECT_EQ(context->bit_rate, 0);
        av_dict_free(&options);
        avcodec_free_context(&context);
    }

    const struct { EncoderRequest request; const char* output; const char* says; } bad[] = {
        {{"ffv1", "", 20, {}}, "o.mkv", "ffv1 is lossless and takes no quality setting"},
        {{"mpeg4", "", {}, 40}, "o.avi", "q from 1 to 31"},
        {{"mpeg4", "", 60, {}}, "o.avi", "--crf takes 0 to 51"},
        {{"mpeg4", "", -1, {}}, "o.avi", "--crf takes 0 to 51"},
        {{"no_such_codec", "", {}, {}}, "o.mkv", "no video encoder named"},
        {{"aac", "", {}, {}}, "o.mkv", "no video encoder named"},
        {{"mpeg4", "yuv999", {}, {}}, "o.avi", "no pixel format named"},
        {{"mpeg4", "rgb24", {}, {}}, "o.avi", "mpeg4 does not take rgb24"},
        {{"png", "pal8", {}, {}}, "o.png", "libswscale cannot write pal8"},
        {{}, "o.unknownext", "cannot tell the container"},
        {{}, "o.m3u8", "writes more than one file"},
    };
    for (const auto& b : bad) {
        Plan(b.request, b.output, kH264, &error, &ok);
        EXPECT_FALSE(ok) << b.says;
        EXPECT_NE(error.find(b.says), std::string::npos) << error;
    }
}

}  // namespace
