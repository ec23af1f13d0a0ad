// delbrin preview: one frame, patched with the dotted border, as a PNG
// picture, for placing the rectangles.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "commands.h"
#include "filter_setup.h"
#include "frame_run.h"
#include "output_check.h"
#include "output_file.h"
#include "stop_signal.h"
#include "video_input.h"

namespace {

bool EncodePng(const AVFrame* picture, std::vector<uint8_t>* bytes, MediaError* error) {
    const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!png) return Failed(error, kStepEncoding, "encoding: this FFmpeg has no PNG encoder");
    EncoderPlan plan;
    plan.codec = png;
    InputTraits traits = {AV_CODEC_ID_NONE, static_cast<AVPixelFormat>(picture->format), picture->width,
                          picture->height};
    std::string usage;
    if (!ChoosePixelFormat(EncoderRequest(), traits, &plan, &usage)) return Failed(error, kStepEncoding, usage);

    FrameConverter converter;
    AVFrame* converted = av_frame_alloc();
    AVCodecContext* context = avcodec_alloc_context3(png);
    AVPacket* packet = av_packet_alloc();
    bool ok = converted && context && packet;
    if (!ok) Failed(error, kStepEncoding, "encoding: out of memory");
    const AVFrame* frame = picture;
    if (ok && picture->format != plan.pixelFormat) {
        ok = ConvertFrame(&converter, picture, converted, plan.pixelFormat, picture->width, picture->height, error);
        frame = converted;
    }
    if (ok) {
        context->width = frame->width;
        context->height = frame->height;
        context->pix_fmt = plan.pixelFormat;
        context->time_base = AVRational{1, 25};
        context->sample_aspect_ratio = frame->sample_aspect_ratio;
        int ret = avcodec_open2(context, png, nullptr);
        if (ret >= 0) ret = avcodec_send_frame(context, frame);
        if (ret >= 0) ret = avcodec_send_frame(context, nullptr);
        while (ret >= 0) {
            ret = avcodec_receive_packet(context, packet);
            if (ret >= 0) bytes->insert(bytes->end(), packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
        if (ret != AVERROR_EOF) ok = FailedAv(error, kStepEncoding, "encoding the picture as PNG", ret);
    }
    FreeFrameConverter(&converter);
    av_frame_free(&converted);
    avcodec_free_context(&context);
    av_packet_free(&packet);
    return ok;
}

}  // namespace

bool WritePngFile(const AVFrame* picture, const std::string& path, MediaError* error) {
    std::vector<uint8_t> bytes;
    if (!EncodePng(picture, &bytes, error)) return false;
    std::string temporary;
    if (!MakeTemporaryBeside(path, &temporary))
        return Failed(error, kStepWriting, "writing " + path + ": " + strerror(errno));
    FILE* f = fopen(temporary.c_str(), "wb");
    bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f && fclose(f) != 0) ok = false;
    if (ok && g_stopSignal) {
        unlink(temporary.c_str());
        return Failed(error, kStepInterrupted, "interrupted; " + path + " was not written");
    }
    if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
    std::string reason = strerror(errno);
    unlink(temporary.c_str());
    return Failed(error, kStepWriting, "writing " + path + ": " + reason);
}

int RunPreview(const Options& options) {
    const std::string& input = options.positional[0];
    if (SameFile(input, options.previewPath))
        return Fail(kExitRefused, "the picture would overwrite INPUT; choose another -o");
    std::string refusal;
    if (int code = CheckOutputName(input, options.previewPath, options.force, &refusal))
        return Fail(code, refusal);
    const std::vector<PatchSettings> instances = MakeInstances(options, true);  // the border, to place them
    bool anyPatched = false;
    for (const PatchSettings& s : instances) anyPatched |= FrameAlpha(&s, static_cast<int32_t>(options.frame)) != 0;
    if (!anyPatched)
        fprintf(stderr, "delbrin: note: frame %lld lies outside the frame ranges, so it is not patched\n", options.frame);

    VideoInput in;
    RegionPatcher patcher;
    FrameConverter converter;
    AVFrame* frame = av_frame_alloc();
    AVFrame* work = av_frame_alloc();
    MediaError error;
    int code = kExitOk;
    int64_t number = -1;
    int got = 0;
    if (!frame || !work) {
        code = Fail(kExitFiltering, "out of memory");
    } else if (!OpenVideoInput(input, kReadVideo, &in, &error)) {
        code = Fail(ExitCodeFor(error.step), error.message);
    } else {
        WarnAboutRectangles(instances, in.info.width, in.info.height);
        while ((got = ReadVideoFrame(&in, frame, &number, &error)) == 1 && number < options.frame) {
        }
        AVFrame* patched = nullptr;
        if (got < 0)
            code = Fail(ExitCodeFor(error.step), error.message);
        else if (got == 0)
            code = Fail(kExitUsage, input + " has no frame " + std::to_string(options.frame) + " (it has " +
                                        std::to_string(number + 1) + "; frames count from 0)");
        else if (!PatchDecodedFrame(&patcher, &converter, frame, work, AV_PIX_FMT_NONE, instances, number, &patched,
                                    &error) ||
                 !WritePngFile(patched, options.previewPath, &error))
            code = Fail(ExitCodeFor(error.step), error.message);
    }
    CloseVideoInput(&in);
    FreeRegionPatcher(&patcher);
    FreeFrameConverter(&converter);
    av_frame_free(&frame);
    av_frame_free(&work);
    return code;
}
