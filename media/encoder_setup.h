// Which encoder writes the patched video, in which pixel format, and at what
// quality: the choices the command makes from its options, the OUTPUT name
// and the input, before any frame is encoded.
#ifndef DELBRIN_MEDIA_ENCODER_SETUP_H
#define DELBRIN_MEDIA_ENCODER_SETUP_H

#include <optional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "video_input.h"

// What the user asks for; empty names and unset numbers ask for the
// defaults. At most one of crf and quality is set.
struct EncoderRequest {
    std::string codec;        // --codec: an encoder name (libx264) or a codec name (h264)
    std::string pixelFormat;  // --pix-fmt
    std::optional<double> crf;      // --crf, on libx264's scale, mapped for each encoder
    std::optional<double> quality;  // --quality, the encoder's own number (crf, or q for MPEG-4)
};

// The libraries' value for a profile not known (named differently across
// versions, the same number in all).
enum { kUnknownProfile = -99 };

// What the choice depends on about the input video.
struct InputTraits {
    AVCodecID     codecId = AV_CODEC_ID_NONE;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    int           width = 0;
    int           height = 0;
    bool          opaque = false;  // the input has alpha but shows none: a palette's colours, or the first frame's pixels, are all opaque
    bool          picture = false;        // the input is a picture file, not a video
    int           profile = kUnknownProfile;  // the input codec's profile
    int           gopSize = 0;            // frames from one keyframe to the next, 0 when unknown
    int           maxBFrames = -1;        // the longest run of B-frames, -1 when unknown
};

// What the stream's description tells; the rest is learnt from frames and
// packets by the caller.
InputTraits InputTraitsOf(const VideoStreamInfo& info);

// How an encoder's quality is set.
enum QualityScale {
    kQualityNone,    // lossless, or an encoder with neither scale: its defaults
    kQualityCrf,     // a constant rate factor ("crf" option), bit rate unset
    kQualityQscale,  // a fixed quantiser (global_quality with the qscale flag)
};

struct EncoderPlan {
    const AVOutputFormat* container = nullptr;
    const AVCodec*        codec = nullptr;
    AVPixelFormat         pixelFormat = AV_PIX_FMT_NONE;
    QualityScale          scale = kQualityNone;
    double                value = 0;  // the crf, or the quantiser
    int                   profile = kUnknownProfile;  // the input's, kept when its codec is
    int                   gopSize = 0;    // 0: the encoder's own
    int                   maxBFrames = -1;  // -1: the encoder's own
    std::vector<std::string> notes;   // what the choice did that the user did not ask for
};

enum { kDefaultCrf = 18 };

// Whether the container writes a picture file (.png, .jpg, .bmp, .tiff...):
// one picture, no timestamps, no other streams.
bool WritesOnePicture(const AVOutputFormat* container);

// The container OUTPUT's name asks for (Matroska for "-", standard output);
// false with a usage error when the name says none, or one that writes more
// than one file.
bool ChooseContainer(const std::string& outputName, EncoderPlan* plan, std::string* error);

// The encoder: --codec; else an image file's own codec (o.png: png); else
// the input's own codec where this FFmpeg has an encoder for it that opens at
// the input's size and the container takes it (keeping the input's profile,
// and for MPEG-2 its GOP and B-frames); else libx264 where the container
// takes H.264, mpeg4 where it takes that, else the container's own default,
// with a note saying why the codec changed. Where the container cannot
// store the order in which frames are shown (MXF, but for MPEG-2), the
// encoder writes no B-frames. False with a usage error.
bool ChooseEncoder(const EncoderRequest& request, const std::string& outputName, const InputTraits& input,
                   EncoderPlan* plan, std::string* error);

// The quality: --quality as the encoder's own number, --crf mapped onto the
// encoder's scale (see the .cpp), or CRF 18 mapped. False with a usage error
// for an out-of-range value, or a value for an encoder that takes none
// (lossless encoders).
bool ChooseQuality(const EncoderRequest& request, EncoderPlan* plan, std::string* error);

// The pixel format: --pix-fmt, else the input's where the encoder takes it,
// else the nearest it takes; at a size the format's chroma subsampling does
// not divide, one the encoder can take at that size. Only formats libswscale
// writes are chosen (the patched frames are converted into it): a palette
// input is written as RGBA, or RGB when its colours are all opaque. False
// with a usage error.
bool ChoosePixelFormat(const EncoderRequest& request, const InputTraits& input, EncoderPlan* plan,
                       std::string* error);

// The pixel formats the encoder lists, AV_PIX_FMT_NONE-terminated; null when
// it lists none (it takes any).
const AVPixelFormat* EncoderPixelFormats(const AVCodec* codec);

// Sets the plan's quality, profile and picture structure on a context
// about to be opened.
void ApplyEncoderSettings(const EncoderPlan& plan, AVCodecContext* context, AVDictionary** options);

// Lets the encoder keep the input's YUV range: mjpeg writes limited-range
// YUV (tagged so) only in files marked as going beyond the JPEG standard.
void AllowInputRange(const AVCodec* codec, AVCodecContext* context);

// The fixed quantiser that matches a crf on libx264's scale: the same
// quantiser step size (H.264's step doubles every 6 QP and is 1 at QP 4;
// MPEG-4's is 2q), within 1...31. CRF 18 gives q 2.5.
double QscaleForCrf(double crf);

#endif
