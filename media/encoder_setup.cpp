#include "encoder_setup.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "av_owners.h"
#include "output_file.h"
#include "palette_frame.h"
#include "pixel_traits.h"

namespace {

std::string Format(double v) {
    char text[32];
    snprintf(text, sizeof text, "%g", v);
    return text;
}

// The encoders whose quality is a fixed quantiser, the MPEG family's q.
bool TakesQscale(const AVCodec* codec) {
    switch (codec->id) {
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_H263:
    case AV_CODEC_ID_H263P:
    case AV_CODEC_ID_FLV1:
    case AV_CODEC_ID_MSMPEG4V2:
    case AV_CODEC_ID_MSMPEG4V3:
    case AV_CODEC_ID_WMV1:
    case AV_CODEC_ID_WMV2:
    case AV_CODEC_ID_MJPEG:
        return true;
    default:
        return false;
    }
}

// The encoder's own option of this name, null when it has none.
const AVOption* PrivateOption(const AVCodec* codec, const char* name) {
    if (!codec->priv_class) return nullptr;
    return av_opt_find(const_cast<const AVClass**>(&codec->priv_class), name, nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ);
}

bool IsLossless(const AVCodec* codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    return d && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY);
}

// Whether the muxer, set up for a stream of this codec, refuses it: some
// say they take a codec they then refuse for a reason of their own (VP9 in
// .mov), so the muxer is set up, without writing anything.
bool MuxerRefuses(const AVOutputFormat* container, AVCodecID id) {
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, container, nullptr, nullptr) < 0) return false;
    OutputFormatPtr muxer(context);
    AVStream* st = avformat_new_stream(context, nullptr);
    uint8_t* written = nullptr;
    if (!st || avio_open_dyn_buf(&context->pb) < 0) return false;
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = id;
    st->codecpar->width = 64;
    st->codecpar->height = 48;
    st->time_base = AVRational{1, 25};
    st->avg_frame_rate = AVRational{25, 1};
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    const int ret = avformat_init_output(context, nullptr);
    av_log_set_level(level);
    avio_close_dyn_buf(context->pb, &written);
    context->pb = nullptr;
    av_free(written);
    return ret < 0;
}

bool ContainerRefuses(const AVOutputFormat* container, AVCodecID id) {
    return avformat_query_codec(container, id, FF_COMPLIANCE_NORMAL) == 0 || MuxerRefuses(container, id);
}

// The animated picture containers (.gif, .webp, .apng) hold their own codec
// only, though they do not say so when asked about others.
bool TakesOnlyItsOwnCodec(const AVOutputFormat* container) {
    const AVCodecDescriptor* own = avcodec_descriptor_get(container->video_codec);
    return own && own->mime_types && strncmp(own->mime_types[0], "image/", 6) == 0 &&
           avformat_query_codec(container, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) < 0;
}

bool Lists(const AVPixelFormat* formats, AVPixelFormat format) {
    if (!formats) return true;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; f++)
        if (*f == format) return true;
    return false;
}

// Every frame the encoder gets has come through libswscale (a patched
// frame is converted into the encoder's format), so only the formats it
// writes can be chosen.
bool SwscaleWrites(AVPixelFormat format) { return sws_isSupportedOutput(format) > 0; }

// The 256-colour RGB formats, into which libswscale dithers.
bool IsFewColours(AVPixelFormat format) {
    return format == AV_PIX_FMT_RGB8 || format == AV_PIX_FMT_BGR8 || format == AV_PIX_FMT_RGB4_BYTE ||
           format == AV_PIX_FMT_BGR4_BYTE;
}

// Sets the profile the encoder writes: prores_ks and dnxhd take it as an
// option of their own, the others from the context.
void SetProfile(const AVCodec* codec, int profile, AVCodecContext* context, AVDictionary** options) {
    if (profile == kUnknownProfile) return;
    if (PrivateOption(codec, "profile"))
        av_dict_set_int(options, "profile", profile, 0);
    else
        context->profile = profile;
}

// Whether the encoder opens for this format at this size (and profile):
// encoders differ in which subsampled formats they take at odd sizes, and
// some in which sizes they take at all; only trying tells.
bool OpensAt(const AVCodec* codec, AVPixelFormat format, int width, int height, int profile = kUnknownProfile) {
    CodecContextPtr c(avcodec_alloc_context3(codec));
    if (!c) return false;
    c->width = width;
    c->height = height;
    c->pix_fmt = format;
    c->time_base = AVRational{1, 25};
    c->framerate = AVRational{25, 1};
    AllowInputRange(codec, c.get());
    AVDictionary* options = nullptr;
    SetProfile(codec, profile, c.get(), &options);
    const int level = av_log_get_level();
    av_log_set_level(AV_LOG_QUIET);
    const bool opened = avcodec_open2(c.get(), codec, &options) >= 0;
    av_log_set_level(level);
    av_dict_free(&options);
    return opened;
}

bool GridDivides(AVPixelFormat format, int width, int height) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    return d && width % (1 << d->log2_chroma_w) == 0 && height % (1 << d->log2_chroma_h) == 0;
}

AVPixelFormat Nearest(const std::vector<AVPixelFormat>& candidates, AVPixelFormat to) {
    std::vector<AVPixelFormat> list = candidates;
    list.push_back(AV_PIX_FMT_NONE);
    return avcodec_find_best_pix_fmt_of_list(list.data(), to, HasAlpha(to), nullptr);
}

// The encoder this FFmpeg prefers for a codec: its own choice, but for
// ProRes the encoder that writes every profile, and never one that needs
// hardware or is experimental.
const AVCodec* EncoderFor(AVCodecID id) {
    if (id == AV_CODEC_ID_PRORES)
        if (const AVCodec* ks = avcodec_find_encoder_by_name("prores_ks")) return ks;
    const AVCodec* codec = avcodec_find_encoder(id);
    if (codec && (codec->capabilities & (AV_CODEC_CAP_HARDWARE | AV_CODEC_CAP_EXPERIMENTAL))) return nullptr;
    return codec;
}

// The profile kept with the codec: a ProRes or DNxHR file is made for its
// profile (proxy, HQ, 4444...); elsewhere the encoder chooses by the pixel
// format, which may change.
int KeptProfile(const AVCodec* codec, const InputTraits& input) {
    return codec->id == AV_CODEC_ID_PRORES || codec->id == AV_CODEC_ID_DNXHD ? input.profile : kUnknownProfile;
}

// The input's own codec, when the output can keep it; else null and *why
// tells what stands in the way (empty when the input is a picture, whose
// codec a video does not follow).
const AVCodec* OwnEncoder(const InputTraits& input, const AVOutputFormat* container, std::string* why) {
    if (input.picture || input.codecId == AV_CODEC_ID_NONE) return nullptr;
    const std::string name = avcodec_get_name(input.codecId);
    const AVCodec* own = EncoderFor(input.codecId);
    if (!own) {
        *why = "this FFmpeg has no encoder for the input's " + name;
        return nullptr;
    }
    if (ContainerRefuses(container, own->id)) {
        *why = std::string("the ") + container->name + " container does not take the input's " + name;
        return nullptr;
    }
    // FFmpeg's own encoders are the ones held to fixed sizes, rates or
    // levels (DV, H.263, MPEG-2), and open quickly: one is tried at the
    // input's size. The external libraries take any size.
    if (strncmp(own->name, "lib", 3) != 0) {
        const AVPixelFormat* formats = EncoderPixelFormats(own);
        const AVPixelFormat format = Lists(formats, input.pixelFormat) || !formats ? input.pixelFormat : formats[0];
        if (format != AV_PIX_FMT_NONE && input.width > 0 &&
            !OpensAt(own, format, input.width, input.height, KeptProfile(own, input))) {
            *why = std::string(own->name) + " does not open for the input's " + std::to_string(input.width) + "x" +
                   std::to_string(input.height) + " " + av_get_pix_fmt_name(format) + " picture";
            return nullptr;
        }
    }
    return own;
}

// MXF keeps the order frames are shown in for MPEG-2 alone: any other codec
// with B-frames reads back with its frames out of order.
void LimitReordering(const AVOutputFormat* container, EncoderPlan* plan) {
    if (strcmp(container->name, "mxf") == 0 || strncmp(container->name, "mxf_", 4) == 0)
        if (plan->codec->id != AV_CODEC_ID_MPEG2VIDEO) plan->maxBFrames = 0;
}

// VP8 and VP9 write alpha as a second picture that only Matroska and WebM
// store; an encoder that takes no alpha format drops it.
void SayWhereAlphaIsLost(const InputTraits& input, EncoderPlan* plan) {
    if (!HasAlpha(input.pixelFormat) || input.opaque) return;
    const AVCodecID id = plan->codec->id;
    // A picture encoded on its own (preview's PNG) has no container.
    const char* container = plan->container ? plan->container->name : nullptr;
    if (!HasAlpha(plan->pixelFormat))
        plan->notes.push_back(std::string("the input's alpha is dropped: ") + plan->codec->name +
                              " writes none here; --codec ffv1 (.mkv), prores_ks or qtrle (.mov) keep it");
    else if ((id == AV_CODEC_ID_VP8 || id == AV_CODEC_ID_VP9) && container && strcmp(container, "matroska") != 0 &&
             strcmp(container, "webm") != 0)
        plan->notes.push_back(std::string("the input's alpha is dropped: the ") + container + " container does not "
                              "store " + avcodec_get_name(id) + "'s alpha; .webm and .mkv do");
}

bool TakesOnly256Colours(const std::vector<AVPixelFormat>& formats) {
    for (AVPixelFormat f : formats)
        if (av_get_bits_per_pixel(av_pix_fmt_desc_get(f)) > 8) return false;
    return !formats.empty();
}

}  // namespace

bool WritesOnePicture(const AVOutputFormat* container) {
    return strcmp(container->name, "image2") == 0 || strcmp(container->name, "image2pipe") == 0 ||
           strcmp(container->name, "ico") == 0;
}

const AVPixelFormat* EncoderPixelFormats(const AVCodec* codec) {
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100)
    const void* formats = nullptr;
    if (avcodec_get_supported_config(nullptr, codec, AV_CODEC_CONFIG_PIX_FORMAT, 0, &formats, nullptr) < 0)
        return nullptr;
    return static_cast<const AVPixelFormat*>(formats);
#else
    return codec->pix_fmts;
#endif
}

double QscaleForCrf(double crf) {
    double q = pow(2.0, (crf - 4) / 6) / 2;
    return q < 1 ? 1 : (q > 31 ? 31 : q);
}

bool ChooseContainer(const std::string& outputName, EncoderPlan* plan, std::string* error) {
    // Standard output has no name to tell by: Matroska, which streams and
    // holds nearly anything.
    plan->container = IsStandardStream(outputName) ? av_guess_format("matroska", nullptr, nullptr)
                                                   : av_guess_format(nullptr, outputName.c_str(), nullptr);
    if (!plan->container) {
        *error = "cannot tell the container from the name " + outputName +
                 "; end it in .mkv, .mp4, .mov, .png or another known extension";
        return false;
    }
    if ((plan->container->flags & AVFMT_NOFILE) && !WritesOnePicture(plan->container)) {
        *error = std::string("the ") + plan->container->name + " container writes more than one file; "
                 "choose an OUTPUT such as .mkv or .mp4";
        return false;
    }
    return true;
}

bool ChooseEncoder(const EncoderRequest& request, const std::string& outputName, const InputTraits& input,
                   EncoderPlan* plan, std::string* error) {
    const AVOutputFormat* container = plan->container;
    if (!request.codec.empty()) {
        const AVCodec* codec = avcodec_find_encoder_by_name(request.codec.c_str());
        if (!codec) {
            const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(request.codec.c_str());
            if (d) codec = avcodec_find_encoder(d->id);
        }
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) {
            *error = "--codec: no video encoder named \"" + request.codec + "\" in this FFmpeg";
            return false;
        }
        if (ContainerRefuses(container, codec->id)) {
            *error = std::string("--codec: the ") + container->name + " container cannot hold " +
                     avcodec_get_name(codec->id) + " video";
            return false;
        }
        plan->codec = codec;
        LimitReordering(container, plan);
        return true;
    }

    if (WritesOnePicture(container)) {
        AVCodecID id = av_guess_codec(container, nullptr, outputName.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
        plan->codec = id == AV_CODEC_ID_NONE ? nullptr : avcodec_find_encoder(id);
        if (!plan->codec) {
            *error = "no encoder for the picture format " + outputName + " asks for";
            return false;
        }
        return true;
    }

    if (TakesOnlyItsOwnCodec(container)) {
        plan->codec = avcodec_find_encoder(container->video_codec);
        if (!plan->codec) {
            *error = std::string("no encoder for the ") + container->name + " container's " +
                     avcodec_get_name(container->video_codec) + " in this FFmpeg";
            return false;
        }
        return true;
    }

    std::string why;
    if (const AVCodec* own = OwnEncoder(input, container, &why)) {
        plan->codec = own;
        plan->profile = KeptProfile(own, input);
        if (own->id == AV_CODEC_ID_MPEG2VIDEO) {
            plan->gopSize = input.gopSize;
            plan->maxBFrames = input.maxBFrames;
        }
        LimitReordering(container, plan);
        return true;
    }
    for (const char* name : {"libx264", "mpeg4"}) {
        const AVCodec* codec = avcodec_find_encoder_by_name(name);
        if (codec && !ContainerRefuses(container, codec->id)) {
            plan->codec = codec;
            if (strcmp(name, "libx264") != 0)
                why += std::string(why.empty() ? "" : "; ") + "libx264 is " +
                       (avcodec_find_encoder_by_name("libx264") ? "not taken by this container" : "not in this FFmpeg");
            if (!why.empty()) plan->notes.push_back(std::string("encoding with ") + name + ": " + why);
            LimitReordering(container, plan);
            return true;
        }
    }
    plan->codec = avcodec_find_encoder(container->video_codec);
    if (!plan->codec) {
        *error = std::string("no video encoder for the ") + container->name + " container";
        return false;
    }
    plan->notes.push_back(std::string("encoding with ") + plan->codec->name + ", the " + container->name +
                          " container's own codec" + (why.empty() ? "" : ": " + why));
    LimitReordering(container, plan);
    return true;
}

// --crf is libx264's scale: 0...51, 18 looking nearly like the source.
// Encoders with a crf option take it unchanged where their scale is the same
// (libx264, libx265), stretched to 0...63 where theirs is (libvpx, libaom,
// SVT-AV1); the MPEG family takes the quantiser of the same step size.
// --quality is the encoder's own number and is passed as it is.
bool ChooseQuality(const EncoderRequest& request, EncoderPlan* plan, std::string* error) {
    const AVCodec* codec = plan->codec;
    const AVOption* crf = PrivateOption(codec, "crf");
    const bool qscale = !crf && TakesQscale(codec);
    const std::string name = codec->name;

    const bool asked = request.crf || request.quality;
    const std::string option = request.crf ? "--crf" : "--quality";
    const double value = request.crf ? *request.crf : request.quality ? *request.quality : double(kDefaultCrf);
    if (!crf && !qscale) {
        if (asked) {
            *error = option + ": " + name +
                     (IsLossless(codec) ? " is lossless and takes no quality setting"
                                        : " takes neither a crf nor a fixed quantiser");
            return false;
        }
        plan->scale = kQualityNone;
        return true;
    }
    const bool native = request.quality.has_value();
    if (!native && (value < 0 || value > 51)) {
        *error = "--crf takes 0 to 51 (libx264's scale), not " + Format(value);
        return false;
    }
    if (crf) {
        plan->scale = kQualityCrf;
        // libx264 and libx265 declare no upper bound (51 is theirs); the
        // others declare 63.
        const double top = crf->max <= 1000 ? crf->max : 51;
        plan->value = native || top != 63 ? value : value * 63 / 51;
        if (plan->value < 0 || plan->value > top) {
            *error = option + ": " + name + " takes a crf from 0 to " + Format(top) + ", not " + Format(plan->value);
            return false;
        }
    } else {
        plan->scale = kQualityQscale;
        plan->value = native ? value : QscaleForCrf(value);
        if (plan->value < 1 || plan->value > 31) {
            *error = option + ": " + name + " takes a quantiser q from 1 to 31, not " + Format(plan->value);
            return false;
        }
    }
    return true;
}

bool ChoosePixelFormat(const EncoderRequest& request, const InputTraits& input, EncoderPlan* plan,
                       std::string* error) {
    const AVCodec* codec = plan->codec;
    const AVPixelFormat* listed = EncoderPixelFormats(codec);
    std::vector<AVPixelFormat> candidates;
    for (const AVPixelFormat* f = listed; f && *f != AV_PIX_FMT_NONE; f++)
        if (SwscaleWrites(*f)) candidates.push_back(*f);
    const int w = input.width, h = input.height;

    if (!request.pixelFormat.empty()) {
        AVPixelFormat format = av_get_pix_fmt(request.pixelFormat.c_str());
        if (format == AV_PIX_FMT_NONE) {
            *error = "--pix-fmt: no pixel format named \"" + request.pixelFormat + "\"";
            return false;
        }
        if (!Lists(listed, format)) {
            std::string names;
            for (AVPixelFormat f : candidates) names += std::string(names.empty() ? "" : " ") + av_get_pix_fmt_name(f);
            *error = "--pix-fmt: " + std::string(codec->name) + " does not take " + request.pixelFormat +
                     "; it takes " + names;
            return false;
        }
        if (!SwscaleWrites(format)) {
            *error = "--pix-fmt: libswscale cannot write " + request.pixelFormat + "; choose another format";
            return false;
        }
        if (!GridDivides(format, w, h) && !OpensAt(codec, format, w, h)) {
            *error = "--pix-fmt: " + std::string(codec->name) + " cannot encode " + request.pixelFormat + " at " +
                     std::to_string(w) + "x" + std::to_string(h) + "; choose a format without chroma subsampling";
            return false;
        }
        plan->pixelFormat = format;
        return true;
    }

    // A palette's colours are kept in RGB (with alpha unless every colour is
    // opaque): libswscale cannot make a palette.
    const AVPixelFormat wanted = !IsPalette(input.pixelFormat) ? input.pixelFormat
                                 : input.opaque                ? AV_PIX_FMT_RGB24
                                                               : AV_PIX_FMT_RGBA;
    AVPixelFormat format = input.pixelFormat;
    // An encoder of 256-colour pictures (GIF) gets a palette picture of the
    // input's own colours, where the input has them (a GIF's frames), so
    // that only the rectangles change; see palette_frame.h.
    if ((!Lists(listed, format) || !SwscaleWrites(format)) && GivesPalette(format) &&
        Lists(listed, AV_PIX_FMT_PAL8) && TakesOnly256Colours(candidates)) {
        plan->pixelFormat = AV_PIX_FMT_PAL8;
        return true;
    }
    if (!Lists(listed, format) || !SwscaleWrites(format)) {
        if (!listed) {
            format = SwscaleWrites(wanted) ? wanted : HasAlpha(wanted) ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
        } else if (candidates.empty()) {
            *error = std::string(codec->name) + " takes no pixel format libswscale can write; choose another --codec";
            return false;
        } else {
            format = Nearest(candidates, wanted);
        }
        const std::string why = Lists(listed, input.pixelFormat) ? "libswscale cannot write the input's "
                                                                  : std::string(codec->name) + " does not take the input's ";
        plan->notes.push_back(std::string("writing ") + av_get_pix_fmt_name(format) + ": " + why +
                              av_get_pix_fmt_name(input.pixelFormat));
    }
    if (IsFewColours(format) && !IsFewColours(input.pixelFormat))
        plan->notes.push_back(std::string(codec->name) + " takes only 256-colour pictures and libswscale makes no "
                              "palette: the whole picture is dithered to " + av_get_pix_fmt_name(format));
    if (!GridDivides(format, w, h) && !OpensAt(codec, format, w, h)) {
        std::vector<AVPixelFormat> fitting;
        for (AVPixelFormat f : candidates)
            if (GridDivides(f, w, h)) fitting.push_back(f);
        if (fitting.empty()) {
            *error = std::string(codec->name) + " takes no pixel format at the odd size " + std::to_string(w) + "x" +
                     std::to_string(h) + "; try --codec ffv1";
            return false;
        }
        AVPixelFormat chosen = Nearest(fitting, wanted);
        plan->notes.push_back(std::string("writing ") + av_get_pix_fmt_name(chosen) + ": " + codec->name +
                              " cannot encode " + av_get_pix_fmt_name(format) + " at the odd size " +
                              std::to_string(w) + "x" + std::to_string(h));
        format = chosen;
    }
    plan->pixelFormat = format;
    SayWhereAlphaIsLost(input, plan);
    return true;
}

void ApplyEncoderSettings(const EncoderPlan& plan, AVCodecContext* context, AVDictionary** options) {
    SetProfile(plan.codec, plan.profile, context, options);
    // libvpx makes no alternate reference frames with transparency.
    if (HasAlpha(plan.pixelFormat) && (plan.codec->id == AV_CODEC_ID_VP8 || plan.codec->id == AV_CODEC_ID_VP9) &&
        PrivateOption(plan.codec, "auto-alt-ref"))
        av_dict_set(options, "auto-alt-ref", "0", 0);
    if (plan.gopSize > 0) context->gop_size = plan.gopSize;
    if (plan.maxBFrames >= 0) context->max_b_frames = plan.maxBFrames;
    if (plan.scale == kQualityCrf) {
        av_dict_set(options, "crf", Format(plan.value).c_str(), 0);
        context->bit_rate = 0;  // a bit rate would cap the constant quality
    } else if (plan.scale == kQualityQscale) {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality = static_cast<int>(lround(plan.value * FF_QP2LAMBDA));
    }
}

void AllowInputRange(const AVCodec* codec, AVCodecContext* context) {
    if (codec->id == AV_CODEC_ID_MJPEG) context->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
}

InputTraits InputTraitsOf(const VideoStreamInfo& info) {
    InputTraits traits;
    traits.codecId = info.codecId;
    traits.pixelFormat = info.pixelFormat;
    traits.width = info.width;
    traits.height = info.height;
    traits.picture = info.picture;
    traits.profile = info.profile;
    return traits;
}
