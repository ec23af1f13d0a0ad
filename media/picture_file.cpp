#include "picture_file.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "av_owners.h"
#include "encoder_setup.h"
#include "frame_convert.h"
#include "output_file.h"
#include "stop_request.h"

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
    FramePtr converted(av_frame_alloc());
    CodecContextPtr context(avcodec_alloc_context3(png));
    PacketPtr packet(av_packet_alloc());
    if (!converted || !context || !packet) return FailedAv(error, kStepEncoding, "encoding", AVERROR(ENOMEM));
    const AVFrame* frame = picture;
    if (picture->format != plan.pixelFormat) {
        if (!ConvertFrame(&converter, picture, converted.get(), plan.pixelFormat, picture->width, picture->height,
                          error))
            return false;
        frame = converted.get();
    }
    context->width = frame->width;
    context->height = frame->height;
    context->pix_fmt = plan.pixelFormat;
    context->time_base = AVRational{1, 25};
    context->sample_aspect_ratio = frame->sample_aspect_ratio;
    int ret = avcodec_open2(context.get(), png, nullptr);
    if (ret >= 0) ret = avcodec_send_frame(context.get(), frame);
    if (ret >= 0) ret = avcodec_send_frame(context.get(), nullptr);
    while (ret >= 0) {
        ret = avcodec_receive_packet(context.get(), packet.get());
        if (ret >= 0) bytes->insert(bytes->end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    if (ret != AVERROR_EOF) return FailedAv(error, kStepEncoding, "encoding the picture as PNG", ret);
    return true;
}

}  // namespace

bool WritePngFile(const AVFrame* picture, const std::string& path, MediaError* error) {
    std::vector<uint8_t> bytes;
    if (!EncodePng(picture, &bytes, error)) return false;
    if (IsStandardStream(path)) {
        if (fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size() || fflush(stdout) != 0)
            return Failed(error, kStepWriting, std::string("writing the picture to standard output: ") +
                                                   strerror(errno));
        return true;
    }
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
    const std::string disk = DiskRefusal(temporary, errno);
    const std::string reason = disk.empty() ? strerror(errno) : disk;
    unlink(temporary.c_str());
    return Failed(error, kStepWriting, "writing " + path + ": " + reason);
}
