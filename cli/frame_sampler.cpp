// Reading chosen frames of a video file through libavformat and libavcodec.
//
// Opening demuxes the video stream once, packets only, to list every frame's
// presentation timestamp: frame n is the frame with the n-th smallest one,
// which is the n-th frame the decoder hands out when it decodes the whole
// file. A wanted frame is then reached by seeking to the keyframe at or
// before it and decoding from there; a keyframe itself needs only its own
// packet. Frames are matched to their numbers by timestamp, never by counting
// after a seek, so a frame the decoder drops after a seek cannot shift them.
#include "frame_sampler.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

using FrameSink = std::function<bool(int64_t frameNumber, const AVFrame* frame)>;

std::string AvError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

// The timestamp that orders a packet's frame: its pts, or its dts where a
// container keeps no pts (and then has no reordering either).
int64_t PacketTime(const AVPacket* packet) {
    return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}

int64_t FrameTime(const AVFrame* frame) {
    return frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
}

// Opens the container (again). The "file:" prefix keeps a name such as
// "12:30 news.mp4" a file name instead of a protocol.
bool OpenContainer(FrameSampler* s, std::string* error) {
    if (s->format) avformat_close_input(&s->format);
    std::string url = "file:" + s->path;
    int rc = avformat_open_input(&s->format, url.c_str(), nullptr, nullptr);
    if (rc < 0) {
        *error = "cannot open " + s->path + ": " + AvError(rc);
        return false;
    }
    rc = avformat_find_stream_info(s->format, nullptr);
    if (rc < 0) {
        *error = "cannot read " + s->path + ": " + AvError(rc);
        return false;
    }
    if (s->streamIndex < 0) {
        for (unsigned i = 0; i < s->format->nb_streams; i++) {
            const AVStream* stream = s->format->streams[i];
            // Cover art is a video stream of one picture, not the video.
            if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
                !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                s->streamIndex = (int)i;
                break;
            }
        }
        if (s->streamIndex < 0) {
            *error = s->path + " holds no video stream";
            return false;
        }
    }
    if ((unsigned)s->streamIndex >= s->format->nb_streams) {
        *error = s->path + " changed while it was read";
        return false;
    }
    for (unsigned i = 0; i < s->format->nb_streams; i++)
        s->format->streams[i]->discard = (int)i == s->streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return true;
}

bool OpenDecoder(FrameSampler* s, std::string* error) {
    const AVStream* stream = s->format->streams[s->streamIndex];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        *error = std::string("no decoder for the video of ") + s->path + " (" +
                 avcodec_get_name(stream->codecpar->codec_id) + ")";
        return false;
    }
    s->decoder = avcodec_alloc_context3(codec);
    if (!s->decoder || avcodec_parameters_to_context(s->decoder, stream->codecpar) < 0) {
        *error = "out of memory";
        return false;
    }
    s->decoder->pkt_timebase = stream->time_base;
    // One thread: frame threads would hold back every frame of a seek by
    // their own delay, and the sampler decodes few frames in a row.
    s->decoder->thread_count = 1;
    int rc = avcodec_open2(s->decoder, codec, nullptr);
    if (rc < 0) {
        *error = "cannot open the decoder: " + AvError(rc);
        return false;
    }
    s->width = s->decoder->width;
    s->height = s->decoder->height;
    AVRational rate = av_guess_frame_rate(s->format, s->format->streams[s->streamIndex], nullptr);
    s->frameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
    return true;
}

// Reads the next packet of the video stream into s->packet. False at the
// end of the file or on a read error.
bool ReadVideoPacket(FrameSampler* s) {
    for (;;) {
        av_packet_unref(s->packet);
        if (av_read_frame(s->format, s->packet) < 0) return false;
        if (s->packet->stream_index == s->streamIndex) return true;
    }
}

struct ScannedPacket {
    int64_t time;
    int64_t dts;
    int64_t position;
    bool    key;
};

// Lists every frame's timestamp and every keyframe, demuxing only.
void ScanPackets(FrameSampler* s) {
    std::vector<ScannedPacket> packets;
    bool trusted = true;
    while (ReadVideoPacket(s)) {
        const AVPacket* p = s->packet;
        // The decoder drops the frames of packets marked for discarding
        // (the part an edit list cuts away), so they get no number.
        if (p->flags & AV_PKT_FLAG_DISCARD) continue;
        ScannedPacket scanned = {PacketTime(p), p->dts, p->pos, (p->flags & AV_PKT_FLAG_KEY) != 0};
        if (scanned.time == AV_NOPTS_VALUE) trusted = false;
        packets.push_back(scanned);
    }
    av_packet_unref(s->packet);
    s->frameCount = (int64_t)packets.size();

    std::vector<int64_t> times;
    times.reserve(packets.size());
    for (const ScannedPacket& p : packets) times.push_back(p.time);
    std::sort(times.begin(), times.end());
    if (std::adjacent_find(times.begin(), times.end()) != times.end()) trusted = false;
    if (!trusted) return;  // frames will be counted from the start instead

    s->framePts = times;
    for (const ScannedPacket& p : packets) {
        if (!p.key) continue;
        int64_t number = std::lower_bound(times.begin(), times.end(), p.time) - times.begin();
        s->keyframes.push_back({number, p.time, p.dts, p.position});
    }
    std::sort(
        s->keyframes.begin(), s->keyframes.end(),
        [](const SamplerKeyframe& a, const SamplerKeyframe& b) { return a.frameNumber < b.frameNumber; });
}

// The frame number of a decoded frame, -1 when it matches no frame.
int64_t FrameNumberOf(const FrameSampler* s, const AVFrame* frame) {
    int64_t time = FrameTime(frame);
    auto it = std::lower_bound(s->framePts.begin(), s->framePts.end(), time);
    if (it == s->framePts.end() || *it != time) return -1;
    return it - s->framePts.begin();
}

// The last keyframe at or before frame n, or null.
const SamplerKeyframe* KeyframeBefore(const FrameSampler* s, int64_t n) {
    auto it = std::upper_bound(s->keyframes.begin(), s->keyframes.end(), n,
                               [](int64_t value, const SamplerKeyframe& k) { return value < k.frameNumber; });
    return it == s->keyframes.begin() ? nullptr : &*(it - 1);
}

// Whether reaching frame n from where decoding stands takes a seek (or, with
// untrusted timestamps, a restart).
bool NeedsSeek(const FrameSampler* s, int64_t n) {
    if (s->nextFrame < 0 || s->draining || n < s->nextFrame) return true;
    if (s->framePts.empty()) return false;
    const SamplerKeyframe* key = KeyframeBefore(s, n);
    return key != nullptr && key->frameNumber > s->nextFrame;
}

// Starts reading from the beginning of the file again.
bool Restart(FrameSampler* s, std::string* error) {
    if (!OpenContainer(s, error)) return false;
    avcodec_flush_buffers(s->decoder);
    s->draining = false;
    s->nextFrame = 0;
    return true;
}

bool IsPacketOf(const AVPacket* p, const SamplerKeyframe* key) {
    if (key->position >= 0 && p->pos >= 0) return p->pos == key->position;
    return PacketTime(p) == key->pts;
}

bool IsPacketAfter(const AVPacket* p, const SamplerKeyframe* key) {
    if (key->position >= 0 && p->pos >= 0) return p->pos > key->position;
    if (key->dts != AV_NOPTS_VALUE && p->dts != AV_NOPTS_VALUE) return p->dts > key->dts;
    return PacketTime(p) > key->pts;
}

// Positions the demuxer so that s->packet holds the key packet. Containers
// differ in whether a seek timestamp means pts or dts (and in how they
// shift them), so the seek aims at the key packet's pts, then at the
// smaller of its pts and dts, then at earlier keyframes, skipping packets up
// to the key one each time; should every aim land past it, reading starts
// over from the beginning.
bool SeekToKeyframe(FrameSampler* s, const SamplerKeyframe* key, std::string* error) {
    avcodec_flush_buffers(s->decoder);
    s->draining = false;
    s->nextFrame = -1;
    const SamplerKeyframe* earlier = key;
    for (int attempt = 0; attempt < 4; attempt++) {
        int64_t target = key->pts;
        if (attempt > 0) {
            if (attempt > 1) earlier = earlier == &s->keyframes.front() ? nullptr : earlier - 1;
            if (!earlier) break;
            target = earlier->dts != AV_NOPTS_VALUE ? std::min(earlier->dts, earlier->pts) : earlier->pts;
        }
        if (av_seek_frame(s->format, s->streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0) continue;
        bool passed = false;
        while (ReadVideoPacket(s)) {
            if (IsPacketOf(s->packet, key)) {
                s->nextFrame = key->frameNumber;
                return true;
            }
            if (IsPacketAfter(s->packet, key)) {
                passed = true;
                break;
            }
        }
        if (!passed) break;  // the end of the file without the key packet
    }
    if (!Restart(s, error)) return false;
    while (ReadVideoPacket(s)) {
        if (IsPacketOf(s->packet, key)) {
            s->nextFrame = key->frameNumber;
            return true;
        }
    }
    *error = "cannot find a keyframe of " + s->path + " again";
    return false;
}

// Hands every frame the decoder has ready to `take`. wanted[*next] is the
// next frame to hand over; frames before it are passed by. Returns false
// when take asks to stop.
bool ReceiveFrames(FrameSampler* s, const std::vector<int64_t>& wanted, size_t* next,
                   const FrameSink& take) {
    while (avcodec_receive_frame(s->decoder, s->frame) >= 0) {
        int64_t number;
        if (s->framePts.empty()) {
            number = s->nextFrame;
            s->nextFrame++;
        } else {
            number = FrameNumberOf(s, s->frame);
            if (number >= 0) s->nextFrame = number + 1;
        }
        if (number >= 0) {
            while (*next < wanted.size() && wanted[*next] < number) (*next)++;
            if (*next < wanted.size() && wanted[*next] == number) {
                (*next)++;
                if (!take(number, s->frame)) {
                    av_frame_unref(s->frame);
                    return false;
                }
            }
        }
        av_frame_unref(s->frame);
    }
    return true;
}

// Sends the end of the stream and takes what the decoder still holds.
bool Drain(FrameSampler* s, const std::vector<int64_t>& wanted, size_t* next, const FrameSink& take) {
    avcodec_send_packet(s->decoder, nullptr);
    bool go_on = ReceiveFrames(s, wanted, next, take);
    s->draining = true;
    return go_on;
}

bool DecodeFrames(FrameSampler* s, const std::vector<int64_t>& wanted, const FrameSink& take,
                  std::string* error) {
    size_t next = 0;
    bool havePacket = false;  // s->packet holds a packet not yet sent
    while (next < wanted.size()) {
        const int64_t want = wanted[next];
        if (want < 0 || want >= s->frameCount || (next > 0 && want <= wanted[next - 1])) {
            next++;
            continue;
        }
        if (NeedsSeek(s, want)) {
            const SamplerKeyframe* key = s->framePts.empty() ? nullptr : KeyframeBefore(s, want);
            if (key) {
                if (!SeekToKeyframe(s, key, error)) return false;
                havePacket = true;
            } else {
                if (!Restart(s, error)) return false;
                havePacket = false;
            }
        }
        // Decode on until the wanted frame has been handed over.
        while (next < wanted.size() && wanted[next] == want) {
            if (!havePacket && !ReadVideoPacket(s)) {
                if (!Drain(s, wanted, &next, take)) return true;
                if (next < wanted.size() && wanted[next] == want) next++;  // the file ends early
                break;
            }
            havePacket = false;
            const bool holdsWanted = !s->framePts.empty() && PacketTime(s->packet) == s->framePts[want];
            int rc = avcodec_send_packet(s->decoder, s->packet);
            av_packet_unref(s->packet);
            if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) {
                *error = "decoding " + s->path + " failed: " + AvError(rc);
                return false;
            }
            if (!ReceiveFrames(s, wanted, &next, take)) return true;
            // The wanted frame's packet went in but the decoder holds the
            // frame back for reordering: when the next wanted frame lies
            // beyond a seek anyway, ask for it now instead of decoding on.
            if (holdsWanted && next < wanted.size() && wanted[next] == want) {
                bool seekAfter = next + 1 >= wanted.size() || NeedsSeek(s, wanted[next + 1]);
                if (seekAfter) {
                    if (!Drain(s, wanted, &next, take)) return true;
                    if (next < wanted.size() && wanted[next] == want) next++;  // not given
                }
            }
        }
    }
    return true;
}

// Frames whose first plane is 8-bit luma, one byte a pixel, are read as they
// are; everything else goes through libswscale.
bool HasPlainLuma(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get((AVPixelFormat)format);
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BE)))
        return false;
    const AVComponentDescriptor& y = d->comp[0];
    return y.plane == 0 && y.depth == 8 && y.step == 1 && y.shift == 0 && y.offset == 0;
}

// Converts a frame with libswscale, using the frame's own matrix and range.
bool Convert(FrameSampler* s, const AVFrame* f, AVPixelFormat to, uint8_t* out, int outPitch) {
    s->scaler = sws_getCachedContext(s->scaler, f->width, f->height, (AVPixelFormat)f->format,
                                     f->width, f->height, to, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!s->scaler) return false;
    int matrix = f->colorspace == AVCOL_SPC_UNSPECIFIED ? (f->height >= 720 ? SWS_CS_ITU709 : SWS_CS_DEFAULT)
                                                        : (int)f->colorspace;
    const int* coefficients = sws_getCoefficients(matrix);
    int srcRange = f->color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get((AVPixelFormat)f->format);
    if (d && (d->flags & AV_PIX_FMT_FLAG_RGB)) srcRange = 1;
    sws_setColorspaceDetails(s->scaler, coefficients, srcRange, coefficients, 1, 0, 1 << 16, 1 << 16);
    uint8_t* planes[4] = {out, nullptr, nullptr, nullptr};
    int pitches[4] = {outPitch, 0, 0, 0};
    return sws_scale(s->scaler, f->data, f->linesize, 0, f->height, planes, pitches) == f->height;
}

}  // namespace

bool OpenFrameSampler(const std::string& path, FrameSampler* s, std::string* error) {
    s->path = path;
    s->packet = av_packet_alloc();
    s->frame = av_frame_alloc();
    if (!s->packet || !s->frame) {
        *error = "out of memory";
        return false;
    }
    if (!OpenContainer(s, error) || !OpenDecoder(s, error)) return false;
    if (s->width <= 0 || s->height <= 0) {
        *error = s->path + ": the video has no frame size";
        return false;
    }
    ScanPackets(s);
    s->nextFrame = -1;  // the scan read the file to its end
    return true;
}

void CloseFrameSampler(FrameSampler* s) {
    sws_freeContext(s->scaler);
    s->scaler = nullptr;
    avcodec_free_context(&s->decoder);
    avformat_close_input(&s->format);
    av_packet_free(&s->packet);
    av_frame_free(&s->frame);
}

std::vector<int64_t> SpreadFrameNumbers(const FrameSampler* s, int count) {
    std::vector<int64_t> numbers;
    const int64_t total = s->frameCount;
    if (total <= 0 || count <= 0) return numbers;
    if (count >= total) {
        for (int64_t n = 0; n < total; n++) numbers.push_back(n);
        return numbers;
    }
    const double spacing = (double)total / count;
    for (int i = 0; i < count; i++) {
        int64_t target = (int64_t)((i + 0.5) * spacing);
        // A keyframe within half a spacing serves as well and costs one
        // packet's decoding instead of a run from the keyframe before it.
        auto it =
            std::lower_bound(s->keyframes.begin(), s->keyframes.end(), target,
                             [](const SamplerKeyframe& k, int64_t value) { return k.frameNumber < value; });
        int64_t best = target;
        double bestDistance = spacing / 2;
        if (it != s->keyframes.end() && it->frameNumber - target < bestDistance) {
            best = it->frameNumber;
            bestDistance = (double)(it->frameNumber - target);
        }
        if (it != s->keyframes.begin() && target - (it - 1)->frameNumber < bestDistance)
            best = (it - 1)->frameNumber;
        if (numbers.empty() || best > numbers.back()) numbers.push_back(best);
    }
    return numbers;
}

bool ReadLumaFrames(FrameSampler* s, const std::vector<int64_t>& frameNumbers, const LumaSink& sink,
                    std::string* error) {
    std::vector<uint8_t> converted;
    bool failed = false;
    bool ok = DecodeFrames(s, frameNumbers, [&](int64_t number, const AVFrame* f) {
        if (f->width != s->width || f->height != s->height) return true;  // a size change mid-file
        if (HasPlainLuma(f->format)) return sink(number, f->data[0], f->linesize[0]);
        converted.resize((size_t)f->width * f->height);
        if (!Convert(s, f, AV_PIX_FMT_GRAY8, converted.data(), f->width)) {
            failed = true;
            return false;
        }
        return sink(number, converted.data(), f->width);
    }, error);
    if (ok && failed) *error = "cannot convert the frames of " + s->path + " to luma";
    return ok && !failed;
}

bool ReadBgraFrame(FrameSampler* s, int64_t frameNumber, std::vector<uint8_t>* pixels, std::string* error) {
    bool got = false;
    bool ok = DecodeFrames(s, {frameNumber}, [&](int64_t, const AVFrame* f) {
        pixels->assign((size_t)f->width * f->height * 4, 0);
        got = f->width == s->width && f->height == s->height &&
              Convert(s, f, AV_PIX_FMT_BGRA, pixels->data(), f->width * 4);
        return false;
    }, error);
    if (ok && !got) *error = "cannot decode frame " + std::to_string(frameNumber) + " of " + s->path;
    return ok && got;
}
