// Owning pointers for the FFmpeg objects the media layer holds: each frees
// its object with the library's own function when it goes, on every path.
#ifndef DELBRIN_MEDIA_AV_OWNERS_H
#define DELBRIN_MEDIA_AV_OWNERS_H

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
// A demuxer's context, opened by avformat_open_input.
struct InputFormatClose {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
// A muxer's context: its file (when it opened one) is closed, then the
// context freed.
struct OutputFormatFree {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};
struct ScalerFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatClose>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatFree>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFree>;

#endif
