#include "video_output.h"

#include <stdio.h>
#include <string.h>

extern "C" {
#include <libavutil/avstring.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "output_file.h"
#include "pixel_traits.h"
#include "stop_request.h"
#include "stream_side_data.h"

namespace {

// A re-encoded stream's metadata: the input's, less what described the old
// encoding (Matroska's statistics, the encoder's name), and less the alpha
// mode where the output has no alpha.
void CopyVideoMetadata(const AVStream* from, AVStream* to, bool keepsAlpha) {
    static const char* const kStale[] = {"encoder", "BPS", "DURATION", "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES",
                                         "_STATISTICS_WRITING_APP", "_STATISTICS_WRITING_DATE_UTC",
                                         "_STATISTICS_TAGS"};
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(from->metadata, "", e, AV_DICT_IGNORE_SUFFIX))) {
        bool stale = false;
        for (const char* k : kStale) stale |= strcmp(e->key, k) == 0 || (strncmp(e->key, k, strlen(k)) == 0 && e->key[strlen(k)] == '-');
        stale |= !keepsAlpha && av_strcasecmp(e->key, "alpha_mode") == 0;
        if (!stale) av_dict_set(&to->metadata, e->key, e->value, 0);
    }
}

bool CopyChapters(const AVFormatContext* from, AVFormatContext* to) {
    if (from->nb_chapters == 0) return true;
    to->chapters = static_cast<AVChapter**>(av_calloc(from->nb_chapters, sizeof(AVChapter*)));
    if (!to->chapters) return false;
    for (unsigned i = 0; i < from->nb_chapters; i++) {
        const AVChapter* c = from->chapters[i];
        AVChapter* copy = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!copy) return false;
        copy->id = c->id;
        copy->time_base = c->time_base;
        copy->start = c->start;
        copy->end = c->end;
        av_dict_copy(&copy->metadata, c->metadata, 0);
        to->chapters[to->nb_chapters++] = copy;
    }
    return true;
}

// The tag a copied stream keeps: the input's where the container knows it
// for this codec, else the container's own.
unsigned CopiedCodecTag(const AVOutputFormat* container, const AVCodecParameters* par) {
    unsigned tag = 0;
    if (!container->codec_tag || av_codec_get_id(container->codec_tag, par->codec_tag) == par->codec_id ||
        !av_codec_get_tag2(container->codec_tag, par->codec_id, &tag))
        return par->codec_tag;
    return 0;
}

// The HDR10 description of the picture: the display it was mastered on and
// its light levels. Containers keep it with the stream, HEVC and AV1 in
// every keyframe; an encoder writes it only when handed it.
struct HdrMetadata {
    AVMasteringDisplayMetadata mastering = {};
    AVContentLightMetadata     light = {};
    bool hasMastering = false;
    bool hasLight = false;
};

// The stream's description where it has one, else the first frame's.
HdrMetadata FindHdrMetadata(const AVStream* in, const AVFrame* first) {
    HdrMetadata hdr;
    const uint8_t* m = in ? StreamSideData(in, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, sizeof hdr.mastering) : nullptr;
    if (!m) {
        const AVFrameSideData* sd = av_frame_get_side_data(first, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
        m = sd && sd->size >= sizeof hdr.mastering ? sd->data : nullptr;
    }
    if (m) memcpy(&hdr.mastering, m, sizeof hdr.mastering);
    hdr.hasMastering = m && (hdr.mastering.has_primaries || hdr.mastering.has_luminance);
    const uint8_t* l = in ? StreamSideData(in, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, sizeof hdr.light) : nullptr;
    if (!l) {
        const AVFrameSideData* sd = av_frame_get_side_data(first, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
        l = sd && sd->size >= sizeof hdr.light ? sd->data : nullptr;
    }
    if (l) memcpy(&hdr.light, l, sizeof hdr.light);
    hdr.hasLight = l != nullptr;
    return hdr;
}

// Puts on the output stream what the input stream did not carry there.
bool StoreHdrMetadata(const HdrMetadata& hdr, AVStream* st) {
    if (hdr.hasMastering && !StreamSideData(st, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, sizeof hdr.mastering) &&
        !AddStreamSideData(st, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, &hdr.mastering, sizeof hdr.mastering))
        return false;
    if (hdr.hasLight && !StreamSideData(st, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, sizeof hdr.light) &&
        !AddStreamSideData(st, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, &hdr.light, sizeof hdr.light))
        return false;
    return true;
}

// x265's own parameters: quiet but for errors, and the HDR10 description
// it writes into every keyframe (chromaticities in 1/50000, luminance in
// 1/10000 cd/m2, primaries in x265's order green, blue, red).
std::string X265Params(const HdrMetadata& hdr) {
    std::string params = "log-level=error";
    const AVMasteringDisplayMetadata& m = hdr.mastering;
    auto at = [](AVRational q, int scale) { return std::to_string(q.den ? av_rescale(q.num, scale, q.den) : 0); };
    if (hdr.hasMastering && m.has_primaries && m.has_luminance) {
        params += ":master-display=";
        const int order[3] = {1, 2, 0};
        const char* names[3] = {"G", "B", "R"};
        for (int i = 0; i < 3; i++)
            params += std::string(names[i]) + "(" + at(m.display_primaries[order[i]][0], 50000) + "," +
                      at(m.display_primaries[order[i]][1], 50000) + ")";
        params += "WP(" + at(m.white_point[0], 50000) + "," + at(m.white_point[1], 50000) + ")";
        params += "L(" + at(m.max_luminance, 10000) + "," + at(m.min_luminance, 10000) + ")";
    }
    if (hdr.hasLight) params += ":max-cll=" + std::to_string(hdr.light.MaxCLL) + "," + std::to_string(hdr.light.MaxFALL);
    return params;
}

bool IsInterlaced(AVFieldOrder order) {
    return order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB || order == AV_FIELD_BT;
}

// The encoder's time base: the input stream's, so that every pts goes
// through unchanged. MPEG-4 and H.263 cannot count beyond 65535 ticks a
// second, and then take the nominal frame rate's; MPEG-1 and MPEG-2 count
// in frames of a standard rate, and MXF stores no time base but the frame
// rate's: both take the frame rate's.
AVRational EncoderTimeBase(const AVCodec* codec, const AVOutputFormat* container, const VideoStreamInfo& video) {
    AVRational tb = video.timeBase;
    const bool limited = codec->id == AV_CODEC_ID_MPEG4 || codec->id == AV_CODEC_ID_H263 ||
                         codec->id == AV_CODEC_ID_H263P || codec->id == AV_CODEC_ID_FLV1;
    const bool inFrames = codec->id == AV_CODEC_ID_MPEG1VIDEO || codec->id == AV_CODEC_ID_MPEG2VIDEO ||
                          strcmp(container->name, "mxf") == 0 || strncmp(container->name, "mxf_", 4) == 0;
    if (inFrames && video.frameRate.num > 0) {
        tb = av_inv_q(video.frameRate);
    } else if (limited && tb.den > 65535) {
        tb = video.frameRate.num > 0 ? av_inv_q(video.frameRate) : AVRational{1, 1000};
        if (tb.den > 65535) tb = AVRational{1, 1000};
    }
    return tb;
}

// Matroska stores attached files (fonts, covers, notes); WebM, its
// subset, does not, nor does any other container.
bool KeepsAttachments(const AVOutputFormat* container) { return strcmp(container->name, "matroska") == 0; }

std::string AttachmentName(const AVStream* st) {
    const AVDictionaryEntry* name = av_dict_get(st->metadata, "filename", nullptr, 0);
    return name ? name->value : "no name";
}

bool AddCopiedStreams(VideoOutput* out, const VideoInput& input, const EncoderPlan& plan, int videoIndex,
                      MediaError* error);

void SayLeftOutStreams(const VideoInput& input, int videoIndex) {
    std::string list;
    for (unsigned i = 0; i < input.format->nb_streams; i++) {
        if (static_cast<int>(i) == videoIndex) continue;
        const char* type = av_get_media_type_string(input.format->streams[i]->codecpar->codec_type);
        list += (list.empty() ? "" : ", ") + std::to_string(i) + " (" + (type ? type : "?") + ")";
    }
    if (!list.empty())
        fprintf(stderr, "delbrin: note: the output is a picture; the input's other streams are left out: %s\n",
                list.c_str());
}

bool OpenEncoder(VideoOutput* out, const EncoderPlan& plan, const VideoStreamInfo& video,
                 const AVFrame* first, const HdrMetadata& hdr, MediaError* error) {
    const AVCodec* codec = plan.codec;
    out->encoder.reset(avcodec_alloc_context3(codec));
    AVCodecContext* enc = out->encoder.get();
    if (!enc) return FailedAv(error, kStepEncoding, "encoding", AVERROR(ENOMEM));
    enc->width = first->width;
    enc->height = first->height;
    enc->pix_fmt = plan.pixelFormat;
    enc->time_base = EncoderTimeBase(codec, out->format->oformat, video);
    out->frameTimeBase = video.timeBase;
    if (video.frameRate.num > 0) enc->framerate = video.frameRate;
    enc->sample_aspect_ratio = first->sample_aspect_ratio.num > 0 ? first->sample_aspect_ratio : video.sampleAspect;
    enc->color_primaries = first->color_primaries != AVCOL_PRI_UNSPECIFIED ? first->color_primaries : video.primaries;
    enc->color_trc = first->color_trc != AVCOL_TRC_UNSPECIFIED ? first->color_trc : video.transfer;
    enc->colorspace = first->colorspace != AVCOL_SPC_UNSPECIFIED ? first->colorspace : video.matrix;
    enc->color_range = first->color_range != AVCOL_RANGE_UNSPECIFIED ? first->color_range : video.range;
    enc->chroma_sample_location =
        first->chroma_location != AVCHROMA_LOC_UNSPECIFIED ? first->chroma_location : video.chromaLocation;
    enc->field_order = video.fieldOrder;
    if (IsInterlaced(video.fieldOrder)) enc->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    enc->thread_count = 0;
    enc->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (out->format->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    AllowInputRange(codec, enc);
    AVDictionary* options = nullptr;
    ApplyEncoderSettings(plan, enc, &options);
    if (strcmp(codec->name, "libx265") == 0) av_dict_set(&options, "x265-params", X265Params(hdr).c_str(), 0);
    int ret = avcodec_open2(enc, codec, &options);
    av_dict_free(&options);
    if (ret < 0)
        return FailedAv(error, kStepEncoding,
                        std::string("encoding with ") + codec->name + " (" + av_get_pix_fmt_name(plan.pixelFormat) +
                            ", " + std::to_string(enc->width) + "x" + std::to_string(enc->height) + ")",
                        ret);
    return true;
}

// A failed write: the disk's own refusal said with what is full and where,
// else the library's words.
bool FailedWrite(const VideoOutput* out, int code, MediaError* error) {
    const std::string disk = code < 0 && !IsStandardStream(out->path) ? DiskRefusal(out->path, AVUNERROR(code)) : "";
    if (!disk.empty()) return Failed(error, kStepWriting, "writing " + out->name + ": " + disk);
    return FailedAv(error, kStepWriting, "writing " + out->name, code);
}

bool WriteEncoded(VideoOutput* out, MediaError* error) {
    for (;;) {
        int ret = avcodec_receive_packet(out->encoder.get(), out->packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return true;
        if (ret < 0) return FailedAv(error, kStepEncoding, std::string("encoding with ") + out->encoder->codec->name, ret);
        out->packet->stream_index = out->video->index;
        av_packet_rescale_ts(out->packet.get(), out->encoder->time_base, out->video->time_base);
        const int64_t origin = av_rescale_q(out->ptsOrigin, out->frameTimeBase, out->video->time_base);
        if (out->packet->pts != AV_NOPTS_VALUE) out->packet->pts += origin;
        if (out->packet->dts != AV_NOPTS_VALUE) out->packet->dts += origin;
        ret = av_interleaved_write_frame(out->format.get(), out->packet.get());
        if (ret < 0) {
            if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
            return FailedWrite(out, ret, error);
        }
    }
}

}  // namespace

bool OpenVideoOutput(VideoOutput* out, const std::string& path, const std::string& name, const EncoderPlan& plan,
                     const VideoStreamInfo& video, const AVFrame* firstFrame, const VideoInput* copyFrom,
                     MediaError* error) {
    out->name = name;
    out->path = path;
    out->packet.reset(av_packet_alloc());
    const std::string url = IsStandardStream(path) ? "pipe:1" : "file:" + path;
    AVFormatContext* format = nullptr;
    int ret = avformat_alloc_output_context2(&format, plan.container, nullptr, url.c_str());
    out->format.reset(format);
    if (ret < 0 || !out->packet) return FailedAv(error, kStepWriting, "writing " + name, ret < 0 ? ret : AVERROR(ENOMEM));
    out->format->interrupt_callback.callback = StopRequested;

    const HdrMetadata hdr =
        FindHdrMetadata(copyFrom ? copyFrom->format->streams[video.streamIndex] : nullptr, firstFrame);
    if (!OpenEncoder(out, plan, video, firstFrame, hdr, error)) return false;

    // A picture file holds the picture alone: the image muxer would take any
    // other stream's packets as pictures too, the last one written winning.
    if (copyFrom && WritesOnePicture(plan.container)) {
        SayLeftOutStreams(*copyFrom, video.streamIndex);
        copyFrom = nullptr;
    }
    // Streams keep the input's order, the patched video in its place.
    const int videoIndex = copyFrom ? video.streamIndex : 0;
    if (copyFrom) {
        if (!AddCopiedStreams(out, *copyFrom, plan, videoIndex, error)) return false;
        av_dict_copy(&out->format->metadata, copyFrom->format->metadata, 0);
        av_dict_set(&out->format->metadata, "encoder", nullptr, 0);
        if (!CopyChapters(copyFrom->format.get(), out->format.get())) return FailedAv(error, kStepWriting, "writing " + name, AVERROR(ENOMEM));
    } else {
        out->video = avformat_new_stream(out->format.get(), nullptr);
        if (!out->video) return FailedAv(error, kStepWriting, "writing " + name, AVERROR(ENOMEM));
    }
    AVStream* st = out->video;
    ret = avcodec_parameters_from_context(st->codecpar, out->encoder.get());
    if (ret < 0) return FailedAv(error, kStepWriting, "writing " + name, ret);
    st->time_base = out->encoder->time_base;
    st->avg_frame_rate = out->encoder->framerate;
    st->sample_aspect_ratio = out->encoder->sample_aspect_ratio;
    if (copyFrom) {
        const AVStream* in = copyFrom->format->streams[video.streamIndex];
        st->disposition = in->disposition;
        CopyVideoMetadata(in, st, HasAlpha(plan.pixelFormat));
        if (!CopyStreamSideData(in, st, true)) return FailedAv(error, kStepWriting, "writing " + name, AVERROR(ENOMEM));
    }
    if (!StoreHdrMetadata(hdr, st)) return FailedAv(error, kStepWriting, "writing " + name, AVERROR(ENOMEM));

    if (!(plan.container->flags & AVFMT_NOFILE)) {
        ret = avio_open2(&out->format->pb, url.c_str(), AVIO_FLAG_WRITE, &out->format->interrupt_callback, nullptr);
        if (ret < 0) return FailedWrite(out, ret, error);
    }
    // A picture file is one picture: the image muxer takes the name as it
    // is instead of as a numbered pattern.
    AVDictionary* options = nullptr;
    if (strcmp(plan.container->name, "image2") == 0) av_dict_set(&options, "update", "1", 0);
    ret = avformat_write_header(out->format.get(), &options);
    av_dict_free(&options);
    if (ret < 0) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
        // Muxers flush their header (MP4 does): a disk that is full says so
        // here, and the streams are not to blame.
        const int written = out->format->pb && out->format->pb->error < 0 ? out->format->pb->error : ret;
        if (!DiskRefusal(path, AVUNERROR(written)).empty()) return FailedWrite(out, written, error);
        return FailedAv(error, kStepWriting,
                        "writing " + name + ": the " + plan.container->name +
                            " container does not take these streams (.mkv holds nearly anything)",
                        ret);
    }
    return true;
}

namespace {

bool AddCopiedStreams(VideoOutput* out, const VideoInput& input, const EncoderPlan& plan, int videoIndex,
                      MediaError* error) {
    const AVFormatContext* in = input.format.get();
    out->streamMap.assign(in->nb_streams, -1);
    out->lastCopiedDts.assign(in->nb_streams, AV_NOPTS_VALUE);
    out->inputTimeBases.resize(in->nb_streams);
    for (unsigned i = 0; i < in->nb_streams; i++) {
        const AVStream* ist = in->streams[i];
        out->inputTimeBases[i] = ist->time_base;
        if (static_cast<int>(i) == videoIndex) {
            out->video = avformat_new_stream(out->format.get(), nullptr);
            if (!out->video) return FailedAv(error, kStepWriting, "writing " + out->name, AVERROR(ENOMEM));
            out->streamMap[i] = out->video->index;
            continue;
        }
        const char* type = av_get_media_type_string(ist->codecpar->codec_type);
        if (ist->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            // An attachment is a file, known by its MIME type whether or not
            // FFmpeg has a codec for it; Matroska alone stores them.
            if (!KeepsAttachments(plan.container)) {
                fprintf(stderr, "delbrin: note: attachment %u (%s) is left out: the %s container keeps no attachments\n",
                        i, AttachmentName(ist).c_str(), plan.container->name);
                continue;
            }
            if (ist->codecpar->codec_id == AV_CODEC_ID_NONE && !av_dict_get(ist->metadata, "mimetype", nullptr, 0)) {
                fprintf(stderr, "delbrin: note: attachment %u (%s) is left out: it has no MIME type\n", i,
                        AttachmentName(ist).c_str());
                continue;
            }
        } else if (ist->codecpar->codec_id == AV_CODEC_ID_NONE) {
            fprintf(stderr, "delbrin: note: stream %u (%s) is left out: its codec is unknown to FFmpeg\n", i,
                    type ? type : "?");
            continue;
        }
        AVStream* ost = avformat_new_stream(out->format.get(), nullptr);
        if (!ost) return FailedAv(error, kStepWriting, "writing " + out->name, AVERROR(ENOMEM));
        int ret = avcodec_parameters_copy(ost->codecpar, ist->codecpar);
        if (ret < 0) return FailedAv(error, kStepWriting, "writing " + out->name, ret);
        ost->codecpar->codec_tag = CopiedCodecTag(plan.container, ist->codecpar);
        ost->time_base = ist->time_base;
        ost->disposition = ist->disposition;
        ost->sample_aspect_ratio = ist->sample_aspect_ratio;
        ost->avg_frame_rate = ist->avg_frame_rate;
        ost->r_frame_rate = ist->r_frame_rate;
        av_dict_copy(&ost->metadata, ist->metadata, 0);
#if LIBAVCODEC_VERSION_INT < AV_VERSION_INT(60, 30, 100)
        if (!CopyStreamSideData(ist, ost, false)) return FailedAv(error, kStepWriting, "writing " + out->name, AVERROR(ENOMEM));
#endif
        out->streamMap[i] = ost->index;
    }
    return true;
}

}  // namespace

bool EncodeVideoFrame(VideoOutput* out, AVFrame* frame, MediaError* error) {
    if (frame) {
        // Every pts goes through as decoded; one that does not increase (a
        // damaged input, or two frames rounded to one tick of a coarser time
        // base) is moved just after the last, or the muxer refuses.
        // Counted from the first frame, so that a coarser encoder time base
        // rounds the steps between frames, not where the video starts.
        if (out->ptsOrigin == AV_NOPTS_VALUE) out->ptsOrigin = frame->pts != AV_NOPTS_VALUE ? frame->pts : 0;
        if (frame->pts != AV_NOPTS_VALUE) {
            const int64_t exact = frame->pts - out->ptsOrigin;
            frame->pts = av_rescale_q(exact, out->frameTimeBase, out->encoder->time_base);
            out->roundedFrames += av_rescale_q(frame->pts, out->encoder->time_base, out->frameTimeBase) != exact;
        }
        if (frame->pts == AV_NOPTS_VALUE || (out->lastPts != AV_NOPTS_VALUE && frame->pts <= out->lastPts)) {
            if (out->lastPts != AV_NOPTS_VALUE) {
                frame->pts = out->lastPts + 1;
                out->reorderedFrames++;
            } else {
                frame->pts = 0;
            }
        }
        out->lastPts = frame->pts;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        // The MPEG family's fixed quantiser is read from each frame.
        if (out->encoder->flags & AV_CODEC_FLAG_QSCALE) frame->quality = out->encoder->global_quality;
    }
    int ret = avcodec_send_frame(out->encoder.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF)
        return FailedAv(error, kStepEncoding, std::string("encoding with ") + out->encoder->codec->name, ret);
    return WriteEncoded(out, error);
}

bool CopyPacket(VideoOutput* out, AVPacket* packet, MediaError* error) {
    const int index = packet->stream_index;
    if (index < 0 || index >= static_cast<int>(out->streamMap.size()) || out->streamMap[index] < 0) return true;
    AVStream* ost = out->format->streams[out->streamMap[index]];
    av_packet_rescale_ts(packet, out->inputTimeBases[index], ost->time_base);
    packet->stream_index = ost->index;
    packet->pos = -1;
    // A damaged input can step a stream's clock back; the muxer refuses such
    // a packet (and equal ones, but for subtitles and data or where the
    // container allows) and would end the run.
    int64_t& last = out->lastCopiedDts[index];
    if (packet->dts != AV_NOPTS_VALUE && last != AV_NOPTS_VALUE) {
        const AVMediaType type = ost->codecpar->codec_type;
        const bool equalTaken = (out->format->oformat->flags & AVFMT_TS_NONSTRICT) ||
                                type == AVMEDIA_TYPE_SUBTITLE || type == AVMEDIA_TYPE_DATA;
        if (packet->dts < last || (packet->dts == last && !equalTaken)) {
            out->refusedPackets++;
            return true;
        }
    }
    if (packet->dts != AV_NOPTS_VALUE) last = packet->dts;
    int ret = av_interleaved_write_frame(out->format.get(), packet);
    if (ret == AVERROR_INVALIDDATA) {  // a damaged packet a bitstream filter refuses
        out->refusedPackets++;
        return true;
    }
    if (ret < 0) {
        if (g_stopSignal) return Failed(error, kStepInterrupted, "interrupted");
        return FailedWrite(out, ret, error);
    }
    return true;
}

bool FinishVideoOutput(VideoOutput* out, MediaError* error) {
    if (!EncodeVideoFrame(out, nullptr, error)) return false;
    int ret = av_write_trailer(out->format.get());
    if (ret < 0) return FailedWrite(out, ret, error);
    if (out->format->pb) {
        avio_flush(out->format->pb);
        ret = out->format->pb->error;
        int closed = avio_closep(&out->format->pb);
        if (ret < 0 || closed < 0) return FailedWrite(out, ret < 0 ? ret : closed, error);
    }
    return true;
}
