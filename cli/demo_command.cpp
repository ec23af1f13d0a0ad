// delbrin demo: a sample clip with a station logo, made here, the logo
// removed by apply, and pictures of one frame before and after.
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commands.h"
#include "run_error.h"
#include "config_text.h"
#include "frame_convert.h"
#include "output_file.h"
#include "picture_file.h"
#include "stop_signal.h"
#include "video_input.h"
#include "video_output.h"

namespace {

const int kWidth = 640, kHeight = 360, kRate = 25, kFrames = 100;

// Config order: width, height, x, y, feather on, fade on, cancel top,
// bottom, left, right, feather width, fade frames, ranges.
const char kDemoConfig[] = "Config(92, 56, 542, 16, 1, 0, 0, 0, 0, 0, 4, 5, \"\")";

void Blend(uint8_t* pixel, int r, int g, int b, int alpha) {
    pixel[0] = static_cast<uint8_t>((pixel[0] * (255 - alpha) + b * alpha) / 255);
    pixel[1] = static_cast<uint8_t>((pixel[1] * (255 - alpha) + g * alpha) / 255);
    pixel[2] = static_cast<uint8_t>((pixel[2] * (255 - alpha) + r * alpha) / 255);
}

void FillBox(AVFrame* f, int x, int y, int w, int h, int r, int g, int b, int alpha) {
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++) Blend(f->data[0] + j * f->linesize[0] + 4 * i, r, g, b, alpha);
}

// A moving picture: drifting colour bands, a ball crossing the frame, and
// the logo, a translucent plate with a mark, in the top right corner.
void DrawFrame(AVFrame* f, int n) {
    for (int y = 0; y < kHeight; y++) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        for (int x = 0; x < kWidth; x++) {
            row[4 * x + 0] = static_cast<uint8_t>(128 + 100 * sin((x + 3 * n) / 60.0));
            row[4 * x + 1] = static_cast<uint8_t>(60 + y / 2);
            row[4 * x + 2] = static_cast<uint8_t>(128 + 100 * cos((y - 2 * n) / 45.0));
            row[4 * x + 3] = 255;
        }
    }
    const int cx = 40 + n * 5, cy = 200 + static_cast<int>(60 * sin(n / 8.0));
    for (int y = cy - 30; y < cy + 30; y++)
        for (int x = cx - 30; x < cx + 30; x++)
            if (x >= 0 && x < kWidth && y >= 0 && y < kHeight && (x - cx) * (x - cx) + (y - cy) * (y - cy) < 900)
                Blend(f->data[0] + y * f->linesize[0] + 4 * x, 250, 220, 40, 255);
    FillBox(f, 548, 22, 80, 44, 255, 255, 255, 153);
    FillBox(f, 556, 30, 24, 28, 255, 0, 0, 230);
    FillBox(f, 586, 34, 34, 8, 0, 0, 128, 230);
    FillBox(f, 586, 46, 26, 8, 0, 0, 128, 230);
}

// The clip's frames, drawn, converted and encoded into temporary.
bool WriteSample(const std::string& path, const std::string& temporary, const EncoderPlan& plan,
                 const VideoStreamInfo& info, MediaError* error) {
    VideoOutput output;
    FrameConverter converter;
    FramePtr picture(av_frame_alloc());
    FramePtr frame(av_frame_alloc());
    if (!picture || !frame) return FailedAv(error, kStepEncoding, "encoding", AVERROR(ENOMEM));
    picture->format = AV_PIX_FMT_BGRA;
    picture->width = kWidth;
    picture->height = kHeight;
    int ret = av_frame_get_buffer(picture.get(), 0);
    if (ret < 0) return FailedAv(error, kStepEncoding, "encoding", ret);
    for (int n = 0; n < kFrames; n++) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
        DrawFrame(picture.get(), n);
        picture->pts = n;
        if (!ConvertFrame(&converter, picture.get(), frame.get(), plan.pixelFormat, kWidth, kHeight, error) ||
            (n == 0 && !OpenVideoOutput(&output, temporary, path, plan, info, frame.get(), nullptr, error)) ||
            !EncodeVideoFrame(&output, frame.get(), error))
            return false;
    }
    return FinishVideoOutput(&output, error);
}

bool MakeSample(const std::string& path, MediaError* error) {
    EncoderPlan plan;
    std::string usage;
    InputTraits traits = {AV_CODEC_ID_NONE, AV_PIX_FMT_YUV420P, kWidth, kHeight};
    if (!ChooseContainer(path, &plan, &usage) || !ChooseEncoder(EncoderRequest(), path, traits, &plan, &usage) ||
        !ChooseQuality(EncoderRequest(), &plan, &usage) || !ChoosePixelFormat(EncoderRequest(), traits, &plan, &usage))
        return Failed(error, kStepEncoding, usage);
    VideoStreamInfo info;
    info.width = kWidth;
    info.height = kHeight;
    info.timeBase = AVRational{1, kRate};
    info.frameRate = AVRational{kRate, 1};
    info.sampleAspect = AVRational{1, 1};

    std::string temporary;
    if (!MakeTemporaryBeside(path, &temporary)) return Failed(error, kStepWriting, "writing " + path + ": " + strerror(errno));
    bool ok = WriteSample(path, temporary, plan, info, error);
    if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
    if (ok) Failed(error, kStepWriting, "writing " + path + ": " + strerror(errno));
    unlink(temporary.c_str());
    return false;
}

bool ExtractPng(const std::string& input, int64_t wanted, const std::string& path, MediaError* error) {
    VideoInput in;
    FramePtr frame(av_frame_alloc());
    if (!frame) return FailedAv(error, kStepDecoding, "decoding " + input, AVERROR(ENOMEM));
    if (!OpenVideoInput(input, kReadVideo, &in, error)) return false;
    int64_t number = -1;
    int got;
    while ((got = ReadVideoFrame(&in, frame.get(), &number, error)) == 1 && number < wanted) {
    }
    if (got < 0) return false;
    if (got == 0) return Failed(error, kStepDecoding, "decoding " + input + ": no frame " + std::to_string(wanted));
    return WritePngFile(frame.get(), path, error);
}

}  // namespace

int RunDemo(const Options& options) {
    const std::string dir = options.positional.empty() ? "delbrin-demo" : options.positional[0];
    if (IsStandardStream(dir))
        return Fail(kExitUsage, "demo writes a clip and two pictures into DIR; standard output cannot hold them");
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return Fail(kExitRefused, "cannot create " + dir + ": " + strerror(errno));
    const std::string sample = dir + "/sample.mp4";
    const std::string patched = dir + "/patched.mp4";
    MediaError error;
    if (!MakeSample(sample, &error)) return Fail(ExitCodeFor(error.step), error.message);

    Options apply;
    apply.command = "apply";
    apply.positional = {sample, patched};
    InstanceSource source = {DefaultConfigCall(), "demo", true};
    std::string message;
    if (!ParseConfigCall(kDemoConfig, &source.call, &message)) return Fail(kExitUsage, message);
    apply.instances.push_back(source);
    apply.force = true;
    apply.quiet = options.quiet;
    int code = RunApply(apply);
    if (code != kExitOk) return code;

    const int64_t shown = 50;
    if (!ExtractPng(sample, shown, dir + "/before.png", &error) || !ExtractPng(patched, shown, dir + "/after.png", &error))
        return Fail(ExitCodeFor(error.step), error.message);
    printf("settings:  %s\n", kDemoConfig);
    printf("clip:      %s (with logo)\n", sample.c_str());
    printf("result:    %s (logo removed)\n", patched.c_str());
    printf("frame %lld: %s/before.png, %s/after.png\n", (long long)shown, dir.c_str(), dir.c_str());
    return kExitOk;
}
