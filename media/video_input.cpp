// Reading a video file with libavformat and decoding its video with
// libavcodec: in order for apply, preview and demo, chosen frames by
// seeking for detect.
#include "video_input.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include "output_file.h"
#include "pixel_traits.h"
#include "stop_request.h"
#include "stream_side_data.h"

namespace {

// The demuxers tell of damage they pass over (a broken element skipped, a
// file that ends early) only in their log messages: error messages from a
// demuxer are counted here, then printed as usual.
std::atomic<int64_t> g_demuxerErrors{0};

void CountDemuxerErrors(void* context, int level, const char* format, va_list arguments) {
    if (level <= AV_LOG_ERROR && context) {
        const AVClass* c = *static_cast<const AVClass**>(context);
        if (c && (c->get_category ? c->get_category(context) : c->category) == AV_CLASS_CATEGORY_DEMUXER)
            g_demuxerErrors++;
    }
    av_log_default_callback(context, level, format, arguments);
}

std::string LargestFrame() {
    return "delbrin reads frames of at most " + std::to_string(kMaxFramePixels) + " pixels (8192x8192)";
}

// A decoding failure. A decoder refuses a frame over kMaxFramePixels as an
// invalid argument, which it gives for little else.
int DecodingFailed(const VideoInput* input, int code, MediaError* error) {
    if (code == AVERROR(EINVAL))
        Failed(error, kStepDecoding, "decoding " + input->path + ": the decoder refused a frame, damaged or too large: " +
                                         LargestFrame());
    else
        FailedAv(error, kStepDecoding, "decoding " + input->path, code);
    return -1;
}

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
    info->fieldOrder = KnownOr(par->field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN);
    info->primaries = KnownOr(par->color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
    info->transfer = KnownOr(par->color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
    info->matrix = KnownOr(par->color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    info->range = KnownOr(par->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    info->chromaLocation = KnownOr(par->chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    const uint8_t* matrix = StreamSideData(st, AV_PKT_DATA_DISPLAYMATRIX, 36);
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
    info->profile = par->profile;
    const char* demuxer = format->iformat->name;
    const size_t length = strlen(demuxer);
    info->picture = strcmp(demuxer, "image2") == 0 || (length > 5 && strcmp(demuxer + length - 5, "_pipe") == 0);
}

bool NamesImageSequence(const std::string& path) {
    struct stat st;
    return path.find('%') != std::string::npos && stat(path.c_str(), &st) != 0 &&
           av_filename_number_test(path.c_str());
}

// The libraries' probe of the streams, which decodes a frame or two of
// each: held to the frame size the decoder will be held to.
int FindStreamInfo(AVFormatContext* format) {
    const unsigned count = format->nb_streams;
    std::vector<AVDictionary*> options(count, nullptr);
    for (AVDictionary*& streamOptions : options)
        av_dict_set_int(&streamOptions, "max_pixels", kMaxFramePixels, 0);
    const int ret = avformat_find_stream_info(format, count ? options.data() : nullptr);
    for (AVDictionary*& streamOptions : options) av_dict_free(&streamOptions);
    return ret;
}

// Opens the container (again, when reading starts over) and picks the
// video stream: the same one each time.
bool OpenContainer(VideoInput* input, MediaError* error) {
    const std::string& path = input->path;
    input->format.reset();
    AVFormatContext* format = avformat_alloc_context();
    if (!format) return FailedAv(error, kStepReading, "reading " + path, AVERROR(ENOMEM));
    format->interrupt_callback.callback = StopRequested;

    // A name with a number pattern (img%03d.png) that is no file itself
    // names an image sequence; a file that exists is that file, even when
    // its name holds a '%'.
    AVDictionary* options = nullptr;
    int ret;
    if (input->io) {
        format->pb = input->io;
        format->flags |= AVFMT_FLAG_CUSTOM_IO;
        ret = avio_seek(input->io, 0, SEEK_SET);
        // On failure avformat_open_input frees the context itself.
        if (ret >= 0) ret = avformat_open_input(&format, path.c_str(), nullptr, nullptr);
    } else {
        av_dict_set(&options, "pattern_type", NamesImageSequence(path) ? "sequence" : "none", 0);
        ret = avformat_open_input(&format, input->url.c_str(), nullptr, &options);
        av_dict_free(&options);
    }
    input->format.reset(format);
    if (ret >= 0) ret = FindStreamInfo(input->format.get());
    if (ret < 0) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
        return FailedAv(error, kStepReading, "reading " + path, ret);
    }

    int index = FindVideoStream(input->format.get());
    if (index < 0) return Failed(error, kStepReading, path + " holds no video stream");
    if (input->info.streamIndex >= 0 && index != input->info.streamIndex)
        return Failed(error, kStepReading, path + " changed while it was read");
    for (unsigned i = 0; i < input->format->nb_streams; i++)
        if (static_cast<int>(i) != index && input->use != kReadAllStreams)
            input->format->streams[i]->discard = AVDISCARD_ALL;
    input->info.streamIndex = index;
    return true;
}

// Whether the stream carries an alpha channel beside its pictures: VP8 and
// VP9 keep it as a second picture in Matroska's block additions, which the
// track's alpha mode announces.
bool CarriesSeparateAlpha(const AVStream* st) {
    const AVDictionaryEntry* mode = av_dict_get(st->metadata, "alpha_mode", nullptr, 0);
    return mode && atoi(mode->value) != 0 &&
           (st->codecpar->codec_id == AV_CODEC_ID_VP8 || st->codecpar->codec_id == AV_CODEC_ID_VP9);
}

// The decoder: FFmpeg's own, but for VP8 and VP9 with alpha libvpx's,
// which alone decodes the alpha picture; without it the alpha is lost.
const AVCodec* DecoderFor(const AVStream* st, bool* alphaLost) {
    *alphaLost = false;
    if (CarriesSeparateAlpha(st)) {
        const char* name = st->codecpar->codec_id == AV_CODEC_ID_VP9 ? "libvpx-vp9" : "libvpx";
        if (const AVCodec* libvpx = avcodec_find_decoder_by_name(name)) return libvpx;
        *alphaLost = true;
    }
    return avcodec_find_decoder(st->codecpar->codec_id);
}

bool OpenDecoder(VideoInput* input, MediaError* error) {
    const std::string& path = input->path;
    AVStream* st = input->format->streams[input->info.streamIndex];
    const AVCodec* codec = DecoderFor(st, &input->info.alphaLost);
    if (!codec)
        return Failed(error, kStepDecoding, "decoding " + path + ": no decoder for its video (" +
                                                avcodec_get_name(st->codecpar->codec_id) + ")");
    if (int64_t(st->codecpar->width) * st->codecpar->height > kMaxFramePixels)
        return Failed(error, kStepDecoding, "decoding " + path + ": its frames are " + std::to_string(st->codecpar->width) +
                                                "x" + std::to_string(st->codecpar->height) + "; " + LargestFrame());
    input->decoder.reset(avcodec_alloc_context3(codec));
    if (!input->decoder) return FailedAv(error, kStepDecoding, "decoding " + path, AVERROR(ENOMEM));
    int ret = avcodec_parameters_to_context(input->decoder.get(), st->codecpar);
    if (ret < 0) return FailedAv(error, kStepDecoding, "decoding " + path, ret);
    input->decoder->pkt_timebase = st->time_base;
    input->decoder->max_pixels = kMaxFramePixels;
    input->decoder->thread_count = 0;  // as many as the machine has
    // Frame threads hold every frame back by their number, which a seek to
    // decode a frame or two would pay each time; slice threads do not.
    input->decoder->thread_type = input->use == kSampleFrames ? FF_THREAD_SLICE : FF_THREAD_FRAME | FF_THREAD_SLICE;
    ret = avcodec_open2(input->decoder.get(), codec, nullptr);
    if (ret < 0)
        return FailedAv(error, kStepDecoding, std::string("decoding ") + path + " with " + codec->name, ret);
    return true;
}

// The timestamp that orders a packet's frame: its pts, or its dts where a
// container keeps no pts (and then has no reordering either).
int64_t PacketTime(const AVPacket* packet) {
    return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}

// The next packet of the video stream into input->packet. Returns 1, 0 at
// the end of the file, -1 on failure or a stop signal.
int ReadVideoPacket(VideoInput* input, MediaError* error) {
    for (;;) {
        av_packet_unref(input->packet.get());
        int ret = av_read_frame(input->format.get(), input->packet.get());
        if (ret == AVERROR(EAGAIN)) continue;
        if (ret == AVERROR_EOF) return 0;
        if (ret < 0) {
            if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted"), -1;
            return FailedAv(error, kStepReading, "reading " + input->path, ret), -1;
        }
        if (input->packet->stream_index == input->info.streamIndex) return 1;
    }
}

// One frame's time at the nominal rate, in the stream's time base; 0 when
// the rate is unknown.
int64_t FrameStep(const VideoStreamInfo& info) {
    if (info.frameRate.num <= 0 || info.frameRate.den <= 0) return 0;
    return av_rescale_q(1, av_inv_q(info.frameRate), info.timeBase);
}

// The frames of the nominal rate that fit between two timestamps, a < b,
// neither counted; 0 when the rate is unknown or the gap is longer than
// maxSeconds.
int64_t FramesMissingBetween(const VideoInput* input, int64_t a, int64_t b, double maxSeconds) {
    const AVRational rate = input->info.frameRate;
    const int64_t step = FrameStep(input->info);
    if (step <= 0 || b <= a) return 0;
    const uint64_t gap = static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
    const uint64_t frames = gap / static_cast<uint64_t>(step) + (gap % static_cast<uint64_t>(step) > static_cast<uint64_t>(step) / 2);
    if (frames < 2 || static_cast<double>(frames) > maxSeconds * av_q2d(rate) + 1) return 0;
    return static_cast<int64_t>(frames) - 1;
}

// Frames the demuxer never delivered (a transport stream that lost packets)
// leave a gap in the timestamps. A gap counts as lost frames only within a
// few frames of damage found, since a file of variable frame rate has gaps
// of its own.
void CountMissingFrames(VideoInput* input, int64_t pts) {
    const int kNearDamage = 16;  // frames; more than a decoder holds back
    InputDamage& damage = input->damage;
    const int64_t signs = damage.damagedPackets + damage.demuxerErrors;
    if (signs != input->damageAtLastFrame) {
        input->damageAtLastFrame = signs;
        input->framesSinceDamage = 0;
    } else if (input->framesSinceDamage <= kNearDamage) {
        input->framesSinceDamage++;
    }
    const int64_t last = input->lastFramePts;
    const int64_t rejected = damage.lostFrames - input->lostAtLastFrame;  // since the last frame
    input->lostAtLastFrame = damage.lostFrames;
    if (signs == 0 || input->framesSinceDamage > kNearDamage || last == AV_NOPTS_VALUE || pts == AV_NOPTS_VALUE)
        return;
    // The packets the decoder rejected left gaps too, and are counted.
    // A gap of more than ten seconds is a jump of the clock, not frames.
    damage.lostFrames += std::max<int64_t>(0, FramesMissingBetween(input, last, pts, 10) - rejected);
    input->lostAtLastFrame = damage.lostFrames;
}

// A damaged file can end early: the frames missing between the last one
// decoded and the end of the file as its header gives it.
void CountMissingAtEnd(VideoInput* input) {
    const AVFormatContext* format = input->format.get();
    const int64_t last = input->lastFramePts;
    if (input->endCounted || !AnyDamage(input->damage) || last == AV_NOPTS_VALUE ||
        format->duration == AV_NOPTS_VALUE || format->duration <= 0)
        return;
    input->endCounted = true;
    const int64_t start = format->start_time != AV_NOPTS_VALUE ? format->start_time : 0;
    if (start > INT64_MAX - format->duration) return;
    const int64_t end = av_rescale_q(start + format->duration, AV_TIME_BASE_Q, input->info.timeBase);
    input->damage.lostFrames += FramesMissingBetween(input, last, end, 1e9);
}

// Reading starts over from the beginning of the file.
bool StartOver(VideoInput* input, MediaError* error) {
    if (!OpenContainer(input, error)) return false;
    avcodec_flush_buffers(input->decoder.get());
    input->holdingPacket = false;
    input->demuxerEnded = false;
    input->nextFrameNumber = 0;
    input->lastFramePts = AV_NOPTS_VALUE;
    return true;
}

// Frame n's number by its timestamp, -1 when no frame of the index has it.
int64_t IndexedFrameNumber(const VideoFrameIndex& index, int64_t pts) {
    auto it = std::lower_bound(index.framePts.begin(), index.framePts.end(), pts);
    if (it == index.framePts.end() || *it != pts) return -1;
    return it - index.framePts.begin();
}

struct ScannedPacket {
    int64_t time;
    int64_t dts;
    int64_t position;
    bool    key;
};

// Lists every frame's timestamp and every keyframe, demuxing only; then
// decodes from the start up to the first frame the decoder gives, since the
// packets before it (a file cut in the middle of a group of pictures) give
// no frame that reading in order would count.
bool IndexFrames(VideoInput* input, MediaError* error) {
    std::vector<ScannedPacket> packets;
    bool trusted = true;
    int ret;
    while ((ret = ReadVideoPacket(input, error)) == 1) {
        const AVPacket* p = input->packet.get();
        // The decoder drops the frames of packets marked for discarding
        // (the part an edit list cuts away), so they get no number.
        if (p->flags & AV_PKT_FLAG_DISCARD) continue;
        ScannedPacket scanned = {PacketTime(p), p->dts, p->pos, (p->flags & AV_PKT_FLAG_KEY) != 0};
        if (scanned.time == AV_NOPTS_VALUE) trusted = false;
        packets.push_back(scanned);
    }
    av_packet_unref(input->packet.get());
    if (ret < 0) return false;
    VideoFrameIndex& index = input->index;
    index.frameCount = static_cast<int64_t>(packets.size());

    std::vector<int64_t> times;
    times.reserve(packets.size());
    for (const ScannedPacket& p : packets) times.push_back(p.time);
    std::sort(times.begin(), times.end());
    if (std::adjacent_find(times.begin(), times.end()) != times.end()) trusted = false;

    if (!StartOver(input, error)) return false;
    FramePtr frame(av_frame_alloc());
    if (!frame) return FailedAv(error, kStepDecoding, "decoding " + input->path, AVERROR(ENOMEM));
    int64_t number;
    int got = ReadVideoFrame(input, frame.get(), &number, error);
    const int64_t first = frame->pts;
    frame.reset();
    if (got < 0) return false;
    if (got == 0) return Failed(error, kStepDecoding, "decoding " + input->path + " gave no frames");
    const auto firstAt = std::lower_bound(times.begin(), times.end(), first);
    // Without trusted timestamps frames are counted as they come, reading
    // from the start, and the count is the packets'.
    if (!trusted || firstAt == times.end() || *firstAt != first) return true;

    times.erase(times.begin(), firstAt);
    index.framePts = times;
    index.frameCount = static_cast<int64_t>(times.size());
    for (const ScannedPacket& p : packets) {
        if (!p.key || p.time < first) continue;
        index.keyframes.push_back({IndexedFrameNumber(index, p.time), p.time, p.dts, p.position});
    }
    std::sort(index.keyframes.begin(), index.keyframes.end(),
              [](const VideoKeyframe& a, const VideoKeyframe& b) { return a.frameNumber < b.frameNumber; });
    return true;
}

// The last keyframe at or before frame n, or null.
const VideoKeyframe* KeyframeBefore(const VideoFrameIndex& index, int64_t n) {
    auto it = std::upper_bound(index.keyframes.begin(), index.keyframes.end(), n,
                               [](int64_t value, const VideoKeyframe& k) { return value < k.frameNumber; });
    return it == index.keyframes.begin() ? nullptr : &*(it - 1);
}

// Whether reaching frame n from frame `from` (the next one decoding gives)
// takes a seek: going back does, and so does a keyframe between the two.
bool NeedsSeekFrom(const VideoFrameIndex& index, int64_t from, int64_t n) {
    if (n < from) return true;
    const VideoKeyframe* key = KeyframeBefore(index, n);
    return key != nullptr && key->frameNumber > from;
}

bool IsPacketOf(const AVPacket* p, const VideoKeyframe* key) {
    if (key->position >= 0 && p->pos >= 0) return p->pos == key->position;
    return PacketTime(p) == key->pts;
}

bool IsPacketAfter(const AVPacket* p, const VideoKeyframe* key) {
    if (key->position >= 0 && p->pos >= 0) return p->pos > key->position;
    if (key->dts != AV_NOPTS_VALUE && p->dts != AV_NOPTS_VALUE) return p->dts > key->dts;
    return PacketTime(p) > key->pts;
}

// Reads on to the key packet and holds it for the decoder. 1 when found,
// 0 when a packet after it (or the end of the file) came first.
int ReadToKeyframe(VideoInput* input, const VideoKeyframe* key, MediaError* error) {
    int ret;
    while ((ret = ReadVideoPacket(input, error)) == 1) {
        if (IsPacketOf(input->packet.get(), key)) {
            input->holdingPacket = true;
            input->nextFrameNumber = key->frameNumber;
            return 1;
        }
        if (IsPacketAfter(input->packet.get(), key)) return 0;
    }
    return ret;
}

// Positions the demuxer on the key packet. Containers differ in whether a
// seek timestamp means pts or dts (and in how they shift them), so the seek
// aims at the key packet's pts, then at the smaller of its pts and dts, then
// at earlier keyframes, reading on to the key packet each time; should
// every aim land past it, reading starts over from the beginning.
bool SeekToKeyframe(VideoInput* input, const VideoKeyframe* key, MediaError* error) {
    avcodec_flush_buffers(input->decoder.get());
    input->holdingPacket = false;
    input->demuxerEnded = false;
    const VideoKeyframe* earlier = key;
    for (int attempt = 0; attempt < 4; attempt++) {
        int64_t target = key->pts;
        if (attempt > 0) {
            if (attempt > 1) earlier = earlier == &input->index.keyframes.front() ? nullptr : earlier - 1;
            if (!earlier) break;
            target = earlier->dts != AV_NOPTS_VALUE ? std::min(earlier->dts, earlier->pts) : earlier->pts;
        }
        if (av_seek_frame(input->format.get(), input->info.streamIndex, target, AVSEEK_FLAG_BACKWARD) < 0) {
            if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
            continue;
        }
        const int found = ReadToKeyframe(input, key, error);
        if (found != 0) return found > 0;
    }
    if (!StartOver(input, error)) return false;
    const int found = ReadToKeyframe(input, key, error);
    if (found == 0) Failed(error, kStepReading, "reading " + input->path + ": a keyframe cannot be found again");
    return found > 0;
}

}  // namespace

bool AnyDamage(const InputDamage& d) {
    return d.damagedPackets > 0 || d.lostFrames > 0 || d.concealedFrames > 0 || d.demuxerErrors > 0;
}

std::string DescribeDamage(const InputDamage& d) {
    auto count = [](int64_t n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    std::string text = count(d.damagedPackets, "packet damaged", "packets damaged") + ", " +
                       count(d.lostFrames, "frame lost", "frames lost");
    if (d.concealedFrames > 0)
        text += ", " + count(d.concealedFrames, "frame", "frames") + " patched over by the decoder";
    if (d.droppedPackets > 0)
        text += ", " + count(d.droppedPackets, "packet", "packets") + " of other streams left out";
    if (d.demuxerErrors > 0)
        text += ", " + count(d.demuxerErrors, "error", "errors") + " the demuxer read past";
    return text;
}

bool OpenVideoInput(const std::string& path, VideoInputUse use, VideoInput* input, MediaError* error) {
    // "file:" makes every name a file name: "12:30 news.mp4" is not a
    // protocol.
    const bool standardInput = IsStandardStream(path);
    input->url = standardInput ? "pipe:0" : "file:" + path;
    input->path = standardInput ? "standard input" : path;
    if (standardInput && use == kSampleFrames)
        return Failed(error, kStepReading, "sampling frames seeks back and forth, which standard input cannot do");
    input->use = use;
    input->packet.reset(av_packet_alloc());
    if (!input->packet) return FailedAv(error, kStepReading, "reading " + input->path, AVERROR(ENOMEM));
    av_log_set_callback(CountDemuxerErrors);
    input->demuxerErrorsAtOpen = g_demuxerErrors;
    if (!OpenContainer(input, error) || !OpenDecoder(input, error)) return false;
    FillInfo(input->format.get(), input->decoder.get(), input->info.streamIndex, &input->info);
    // Every choice before the first frame (encoder, pixel format, sizes)
    // rests on these; a file cut inside its header leaves them unknown.
    if (input->info.width <= 0 || input->info.height <= 0 || input->info.pixelFormat == AV_PIX_FMT_NONE)
        return Failed(error, kStepReading,
                      "reading " + input->path + ": FFmpeg cannot tell the video's frame size and pixel format "
                      "(a file cut short or damaged before its first picture?)");
    if (use != kSampleFrames) return true;
    return IndexFrames(input, error);
}

int ReadVideoFrame(VideoInput* input, AVFrame* frame, int64_t* frameNumber, MediaError* error) {
    const int video = input->info.streamIndex;
    const bool indexed = !input->index.framePts.empty();
    for (;;) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted"), -1;
        input->damage.demuxerErrors = g_demuxerErrors - input->demuxerErrorsAtOpen;
        av_frame_unref(frame);
        int ret = avcodec_receive_frame(input->decoder.get(), frame);
        if (ret == 0) {
            // The packet was damaged, though the decoder made a frame of it.
            if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) {
                input->damage.damagedPackets++;
                input->damage.concealedFrames++;
            }
            KeepKnownColourTags(frame);
            frame->pts = frame->best_effort_timestamp;
            // The last frames of an MPEG program stream can come without a
            // timestamp: one frame after the previous one.
            if (!indexed && frame->pts == AV_NOPTS_VALUE && input->lastFramePts != AV_NOPTS_VALUE) {
                const int64_t step = FrameStep(input->info);
                if (step > 0 && input->lastFramePts <= INT64_MAX - step) frame->pts = input->lastFramePts + step;
            }
            if (!indexed) CountMissingFrames(input, frame->pts);
            input->lastFramePts = frame->pts;
            int64_t number = input->nextFrameNumber;
            if (indexed) {
                number = IndexedFrameNumber(input->index, frame->pts);
                if (number < 0) continue;  // not a frame reading from the start gives
            }
            *frameNumber = number;
            input->nextFrameNumber = number + 1;
            return 1;
        }
        if (ret == AVERROR_EOF) {
            if (!indexed && input->demuxerEnded) CountMissingAtEnd(input);
            return 0;
        }
        if (ret == AVERROR_INVALIDDATA) {  // a damaged frame: later frames still decode
            input->damage.damagedPackets++;
            input->damage.lostFrames++;
            continue;
        }
        if (ret != AVERROR(EAGAIN))
            return DecodingFailed(input, ret, error);
        if (input->demuxerEnded)
            return Failed(error, kStepDecoding, "decoding " + input->path + ": the decoder stalled"), -1;

        if (input->holdingPacket) {
            input->holdingPacket = false;
            ret = 0;
        } else {
            ret = av_read_frame(input->format.get(), input->packet.get());
        }
        if (ret == AVERROR(EAGAIN)) continue;
        if (ret == AVERROR_EOF) {
            input->demuxerEnded = true;
            ret = avcodec_send_packet(input->decoder.get(), nullptr);
            if (ret < 0 && ret != AVERROR_EOF)
                return DecodingFailed(input, ret, error);
            continue;
        }
        if (ret < 0) {
            if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted"), -1;
            return FailedAv(error, kStepReading, "reading " + input->path, ret), -1;
        }
        if (input->packet->stream_index == video) {
            const bool drain = input->drainAfterPts != AV_NOPTS_VALUE &&
                               PacketTime(input->packet.get()) == input->drainAfterPts;
            const bool corrupt = input->packet->flags & AV_PKT_FLAG_CORRUPT;
            ret = avcodec_send_packet(input->decoder.get(), input->packet.get());
            av_packet_unref(input->packet.get());
            if (corrupt || ret == AVERROR_INVALIDDATA) input->damage.damagedPackets++;
            if (ret == AVERROR_INVALIDDATA) {
                input->damage.lostFrames++;
            } else if (ret < 0) {
                return DecodingFailed(input, ret, error);
            }
            if (drain) {
                input->drainAfterPts = AV_NOPTS_VALUE;
                input->demuxerEnded = true;
                ret = avcodec_send_packet(input->decoder.get(), nullptr);
                if (ret < 0 && ret != AVERROR_EOF)
                    return DecodingFailed(input, ret, error);
            }
        } else if (input->otherPackets) {
            // Copied as it is: the muxer may still take it, and what it
            // refuses the sink leaves out.
            if (input->packet->flags & AV_PKT_FLAG_CORRUPT) input->damage.damagedPackets++;
            bool ok = input->otherPackets(input->otherPacketsContext, input->packet.get(), error);
            av_packet_unref(input->packet.get());
            if (!ok) return -1;
        } else {
            av_packet_unref(input->packet.get());
        }
    }
}

bool ReadChosenFrames(VideoInput* input, const std::vector<int64_t>& wanted, const ChosenFrameSink& take,
                      MediaError* error) {
    const VideoFrameIndex& index = input->index;
    const bool indexed = !index.framePts.empty();
    FramePtr frame(av_frame_alloc());
    if (!frame) return FailedAv(error, kStepDecoding, "decoding " + input->path, AVERROR(ENOMEM));
    bool ok = true;
    size_t next = 0;
    while (ok && next < wanted.size()) {
        const int64_t want = wanted[next];
        if (want < 0 || want >= index.frameCount || (next > 0 && want <= wanted[next - 1])) {
            next++;
            continue;
        }
        if (input->demuxerEnded || (indexed ? NeedsSeekFrom(index, input->nextFrameNumber, want)
                                            : want < input->nextFrameNumber)) {
            const VideoKeyframe* key = indexed ? KeyframeBefore(index, want) : nullptr;
            ok = key ? SeekToKeyframe(input, key, error) : StartOver(input, error);
            if (!ok) break;
        }
        // A frame the decoder holds back for reordering comes out of a
        // drain at once; when the next wanted frame lies beyond a seek
        // anyway, the decoder is drained as soon as this frame's packet is in.
        input->drainAfterPts = AV_NOPTS_VALUE;
        if (indexed && (next + 1 == wanted.size() || NeedsSeekFrom(index, want + 1, wanted[next + 1])))
            input->drainAfterPts = index.framePts[want];
        while (next < wanted.size() && wanted[next] == want) {
            int64_t number;
            const int got = ReadVideoFrame(input, frame.get(), &number, error);
            if (got < 0) {
                ok = false;
            } else if (got == 0) {
                next++;  // the decoder did not give it
            } else {
                while (next < wanted.size() && wanted[next] < number) next++;  // nor these
                if (next < wanted.size() && wanted[next] == number) {
                    next++;
                    if (!take(number, frame.get())) next = wanted.size();
                }
            }
            if (!ok) break;
        }
    }
    input->drainAfterPts = AV_NOPTS_VALUE;
    return ok;
}

namespace {

// A second look at a file, beside the reading: its container opened again,
// or null. The name is a file's, as OpenContainer takes it.
InputFormatPtr OpenFileAgain(const std::string& path) {
    AVFormatContext* opened = avformat_alloc_context();
    if (!opened) return nullptr;
    opened->interrupt_callback.callback = StopRequested;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "pattern_type", "none", 0);
    // On failure avformat_open_input frees the context itself.
    const int ret = avformat_open_input(&opened, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    return InputFormatPtr(ret < 0 ? nullptr : opened);
}

}  // namespace

bool StoresDisplayMatrix(const std::string& path, int streamIndex) {
    InputFormatPtr format = OpenFileAgain(path);
    if (!format) return false;
    return streamIndex >= 0 && streamIndex < static_cast<int>(format->nb_streams) &&
           StreamSideData(format->streams[streamIndex], AV_PKT_DATA_DISPLAYMATRIX, 36) != nullptr;
}

GopStructure ProbeGopStructure(const std::string& path, int streamIndex) {
    // Two groups of pictures of the longest GOP broadcast uses, and then some.
    const int kMaxPackets = 600;
    GopStructure gop;
    InputFormatPtr format = OpenFileAgain(path);
    PacketPtr packet(av_packet_alloc());
    if (!format || !packet || FindStreamInfo(format.get()) < 0 ||
        streamIndex >= static_cast<int>(format->nb_streams))
        return gop;
    // The GOP is counted in the order frames are shown: the B-frames read
    // just after the second keyframe are shown before it.
    const int kReorderReach = 16;
    std::vector<int64_t> shown;
    int64_t firstKey = AV_NOPTS_VALUE, secondKey = AV_NOPTS_VALUE, latestShown = AV_NOPTS_VALUE;
    int count = 0, after = 0, run = 0, maxRun = 0;
    bool timed = true;
    while (count < kMaxPackets && after < kReorderReach && av_read_frame(format.get(), packet.get()) >= 0) {
        const AVPacket* p = packet.get();
        if (p->stream_index == streamIndex) {
            count++;
            if (p->pts == AV_NOPTS_VALUE) timed = false;
            if (secondKey != AV_NOPTS_VALUE) after++;
            if ((p->flags & AV_PKT_FLAG_KEY) && firstKey == AV_NOPTS_VALUE)
                firstKey = p->pts;
            else if ((p->flags & AV_PKT_FLAG_KEY) && secondKey == AV_NOPTS_VALUE)
                secondKey = p->pts;
            if (p->pts != AV_NOPTS_VALUE) shown.push_back(p->pts);
            // A frame shown before one already decoded is a B-frame.
            if (latestShown != AV_NOPTS_VALUE && p->pts != AV_NOPTS_VALUE && p->pts < latestShown) {
                maxRun = std::max(maxRun, ++run);
            } else {
                run = 0;
                latestShown = p->pts;
            }
        }
        av_packet_unref(packet.get());
    }
    if (!timed) return gop;
    gop.maxBFrames = maxRun;
    if (firstKey != AV_NOPTS_VALUE && secondKey != AV_NOPTS_VALUE)
        gop.gopSize = static_cast<int>(
            std::count_if(shown.begin(), shown.end(), [&](int64_t t) { return t >= firstKey && t < secondKey; }));
    return gop;
}

