// Reading a video file with libavformat and decoding its video with
// libavcodec.
#include "video_input.h"

#include <math.h>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include "stop_signal.h"

namespace {

// The first video stream that is a picture sequence, not a cover image.
int FindVideoStream(const AVFormatContext* format) {
    for (unsigned i = 0; i < format->nb_streams; i++) {
        const AVStream* st = format->streams[i];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return static_cast<int>(i);
    }
    return -1;
}

const uint8_t* StreamDisplayMatrix(const AVStream* st) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 30, 100)
    const AVPacketSideData* sd = av_packet_side_data_get(
        st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    return sd && sd->size >= 36 ? sd->data : nullptr;
#else
    size_t size = 0;
    const uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    return data && size >= 36 ? data : nullptr;
#endif
}

void FillInfo(AVFormatContext* format, AVCodecContext* decoder, int index, VideoStreamInfo* info) {
    AVStream* st = format->streams[index];
    const AVCodecParameters* par = st->codecpar;
    info->streamIndex = index;
    info->width = decoder->width;
    info->height = decoder->height;
    info->pixelFormat = decoder->pix_fmt;
    info->timeBase = st->time_base;
    info->frameRate = av_guess_frame_rate(format, st, nullptr);
    info->sampleAspect = av_guess_sample_aspect_ratio(format, st, nullptr);
    info->fieldOrder = par->field_order;
    info->primaries = par->color_primaries;
    info->transfer = par->color_trc;
    info->matrix = par->color_space;
    info->range = par->color_range;
    info->chromaLocation = par->chroma_location;
    const uint8_t* matrix = StreamDisplayMatrix(st);
    info->hasDisplayMatrix = matrix != nullptr;
    if (matrix) {
        double r = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        info->rotation = isnan(r) ? 0 : r;
    }
    info->startTime = st->start_time;
    info->frameCount = st->nb_frames > 0 ? st->nb_frames : -1;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        info->duration = st->duration * av_q2d(st->time_base);
    else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
        info->duration = format->duration / static_cast<double>(AV_TIME_BASE);
    if (info->frameCount < 0 && info->duration > 0 && info->frameRate.num > 0)
        info->frameCount = llround(info->duration * av_q2d(info->frameRate));
    info->codecId = par->codec_id;
}

}  // namespace

bool OpenVideoInput(const std::string& path, bool keepOtherStreams, VideoInput* input,
                    RunError* error) {
    input->path = path;
    input->format = avformat_alloc_context();
    if (!input->format) return FailedAv(error, kStepReading, "reading " + path, AVERROR(ENOMEM));
    input->format->interrupt_callback.callback = StopRequested;

    // "file:" makes every name a file name: "12:30 news.mp4" is not a
    // protocol, and an image sequence demuxer takes the name literally.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "pattern_type", "none", 0);
    int ret = avformat_open_input(&input->format, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    if (ret < 0) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
        return FailedAv(error, kStepReading, "reading " + path, ret);
    }
    ret = avformat_find_stream_info(input->format, nullptr);
    if (ret < 0) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
        return FailedAv(error, kStepReading, "reading " + path, ret);
    }

    int index = FindVideoStream(input->format);
    if (index < 0) return Failed(error, kStepReading, path + " holds no video stream");
    for (unsigned i = 0; i < input->format->nb_streams; i++)
        if (static_cast<int>(i) != index && !keepOtherStreams)
            input->format->streams[i]->discard = AVDISCARD_ALL;

    AVStream* st = input->format->streams[index];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return Failed(error, kStepDecoding, "decoding " + path + ": no decoder for its video (" +
                                                avcodec_get_name(st->codecpar->codec_id) + ")");
    input->decoder = avcodec_alloc_context3(codec);
    input->packet = av_packet_alloc();
    if (!input->decoder || !input->packet)
        return FailedAv(error, kStepDecoding, "decoding " + path, AVERROR(ENOMEM));
    ret = avcodec_parameters_to_context(input->decoder, st->codecpar);
    if (ret < 0) return FailedAv(error, kStepDecoding, "decoding " + path, ret);
    input->decoder->pkt_timebase = st->time_base;
    input->decoder->thread_count = 0;  // as many as the machine has
    input->decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    ret = avcodec_open2(input->decoder, codec, nullptr);
    if (ret < 0)
        return FailedAv(error, kStepDecoding, std::string("decoding ") + path + " with " + codec->name, ret);

    FillInfo(input->format, input->decoder, index, &input->info);
    return true;
}

int ReadVideoFrame(VideoInput* input, AVFrame* frame, int64_t* frameNumber, RunError* error) {
    const int video = input->info.streamIndex;
    for (;;) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted"), -1;
        av_frame_unref(frame);
        int ret = avcodec_receive_frame(input->decoder, frame);
        if (ret == 0) {
            frame->pts = frame->best_effort_timestamp;
            if (input->nextFrameNumber >= 0) {
                *frameNumber = input->nextFrameNumber++;
            } else {
                const VideoStreamInfo& i = input->info;
                int64_t start = i.startTime == AV_NOPTS_VALUE ? 0 : i.startTime;
                double seconds = frame->pts == AV_NOPTS_VALUE ? 0 : (frame->pts - start) * av_q2d(i.timeBase);
                *frameNumber = i.frameRate.num > 0 ? llround(seconds * av_q2d(i.frameRate)) : 0;
            }
            return 1;
        }
        if (ret == AVERROR_EOF) return 0;
        if (ret == AVERROR_INVALIDDATA) {  // a damaged frame: later frames still decode
            input->damagedPackets++;
            continue;
        }
        if (ret != AVERROR(EAGAIN))
            return FailedAv(error, kStepDecoding, "decoding " + input->path, ret), -1;
        if (input->demuxerEnded)
            return Failed(error, kStepDecoding, "decoding " + input->path + ": the decoder stalled"), -1;

        ret = av_read_frame(input->format, input->packet);
        if (ret == AVERROR(EAGAIN)) continue;
        if (ret == AVERROR_EOF) {
            input->demuxerEnded = true;
            ret = avcodec_send_packet(input->decoder, nullptr);
            if (ret < 0 && ret != AVERROR_EOF)
                return FailedAv(error, kStepDecoding, "decoding " + input->path, ret), -1;
            continue;
        }
        if (ret < 0) {
            if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted"), -1;
            return FailedAv(error, kStepReading, "reading " + input->path, ret), -1;
        }
        if (input->packet->stream_index == video) {
            ret = avcodec_send_packet(input->decoder, input->packet);
            av_packet_unref(input->packet);
            if (ret == AVERROR_INVALIDDATA) {
                input->damagedPackets++;
            } else if (ret < 0) {
                return FailedAv(error, kStepDecoding, "decoding " + input->path, ret), -1;
            }
        } else if (input->otherPackets) {
            bool ok = input->otherPackets(input->otherPacketsContext, input->packet, error);
            av_packet_unref(input->packet);
            if (!ok) return -1;
        } else {
            av_packet_unref(input->packet);
        }
    }
}

bool SeekVideoInput(VideoInput* input, int64_t timestamp, RunError* error) {
    int ret = av_seek_frame(input->format, input->info.streamIndex, timestamp, AVSEEK_FLAG_BACKWARD);
    if (ret < 0) return FailedAv(error, kStepReading, "seeking in " + input->path, ret);
    avcodec_flush_buffers(input->decoder);
    input->demuxerEnded = false;
    input->nextFrameNumber = -1;
    return true;
}

void CloseVideoInput(VideoInput* input) {
    avcodec_free_context(&input->decoder);
    av_packet_free(&input->packet);
    avformat_close_input(&input->format);
}
