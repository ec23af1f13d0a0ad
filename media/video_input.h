// A video file opened for reading: its first video stream decoded frame by
// frame, in presentation order, each frame numbered from 0 as the filter
// counts frames. Every other stream's packets can be handed to a sink as
// they are read (apply copies them), or skipped.
//
// Opened for sampling, the file is first demuxed once, packets only, to list
// every frame's timestamp; chosen frames are then reached by seeking to the
// keyframe before them, and numbered by finding their timestamps in that
// list, so that a frame gets the number reading from the start gives it.
//
// The decoder runs FFmpeg's own threads; frames come back on the calling
// thread. Nothing here buffers more than the decoder itself.
#ifndef DELBRIN_MEDIA_VIDEO_INPUT_H
#define DELBRIN_MEDIA_VIDEO_INPUT_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "av_owners.h"
#include "media_error.h"

// The largest frame read, in pixels (8192x8192): twice what the largest
// level of any video codec allows (8K is 33 million). A damaged file can
// claim frames of hundreds of millions of pixels in a few bytes, and every
// stage and the encoder's lookahead hold several frames; bigger frames are
// refused by name rather than allowed to take the machine's memory.
const int64_t kMaxFramePixels = int64_t(8192) * 8192;

// What the caller may want to know about the video stream before decoding.
// The colour fields are the stream's; each frame carries its own as well.
struct VideoStreamInfo {
    int            streamIndex = -1;
    int            width = 0;
    int            height = 0;
    AVPixelFormat  pixelFormat = AV_PIX_FMT_NONE;
    AVRational     timeBase = {0, 1};      // the unit of every frame's pts
    AVRational     frameRate = {0, 1};     // the nominal rate; 0/1 when unknown
    AVRational     sampleAspect = {0, 1};  // 0/1 when unknown
    AVFieldOrder   fieldOrder = AV_FIELD_UNKNOWN;
    AVColorPrimaries              primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
    AVColorSpace                  matrix = AVCOL_SPC_UNSPECIFIED;
    AVColorRange                  range = AVCOL_RANGE_UNSPECIFIED;
    AVChromaLocation              chromaLocation = AVCHROMA_LOC_UNSPECIFIED;
    bool           hasDisplayMatrix = false;
    double         rotation = 0;           // degrees a player turns the picture, counterclockwise
    int64_t        startTime = AV_NOPTS_VALUE;  // in timeBase
    int64_t        frameCount = -1;        // as the container says, -1 when it does not
    double         duration = -1;          // seconds, -1 when unknown
    AVCodecID      codecId = AV_CODEC_ID_NONE;
    int            profile = -99;          // the codec's profile, the libraries' "unknown" when not known
    bool           picture = false;        // the file is a picture (an image demuxer), not a video
    bool           alphaLost = false;      // the video's alpha channel has no decoder in this FFmpeg
};

// What reading found damaged. A damaged file still gives every frame the
// decoder can make of it; these say what was lost on the way.
struct InputDamage {
    int64_t damagedPackets = 0;   // packets the demuxer found damaged, the decoder rejected or
                                  // made a frame with damage of (one flagged twice counts twice)
    int64_t lostFrames = 0;       // video packets the decoder rejected, and frames missing from
                                  // the timestamps next to damage
    int64_t concealedFrames = 0;  // frames decoded with damage the decoder patched over
    int64_t demuxerErrors = 0;    // errors the demuxer reported and read past (a broken
                                  // element skipped, a file that ends early)
    int64_t droppedPackets = 0;   // damaged packets of other streams, left out of a copy
                                  // (counted by the copy: reading hands every packet on)
};

// Whether anything was found damaged.
bool AnyDamage(const InputDamage& damage);

// "5 packets damaged, 3 frames lost, ...", for the end line.
std::string DescribeDamage(const InputDamage& damage);

// Receives a packet of a stream other than the video, damaged or not; may
// take its reference.
// Returns false with *error to stop reading.
typedef bool (*OtherPacketSink)(void* context, AVPacket* packet, MediaError* error);

// What the file is opened for.
enum VideoInputUse {
    kReadVideo,       // every frame in order; the other streams are not read
    kReadAllStreams,  // every frame in order, the other streams' packets to otherPackets
    kSampleFrames,    // chosen frames by seeking: the file is indexed first and
                      // decoded with slice threads only, which hold no frame back
};

// A keyframe's packet: enough to seek to it and to know it when it comes by.
struct VideoKeyframe {
    int64_t frameNumber;  // the frame the packet decodes to
    int64_t pts;
    int64_t dts;          // AV_NOPTS_VALUE when the container keeps none
    int64_t position;     // byte position in the file, -1 when unknown
};

// The frames of the video as demuxing alone finds them. framePts[n] is the
// timestamp of frame n: the packets' timestamps in ascending order, less the
// packets the decoder drops (those an edit list discards, and those before
// the first frame it gives, as in a file that starts in the middle of a
// group of pictures). Empty when timestamps are missing or repeat: frames
// are then counted as they are decoded, reading from the start.
struct VideoFrameIndex {
    std::vector<int64_t>       framePts;
    std::vector<VideoKeyframe> keyframes;  // ascending frame numbers
    int64_t                    frameCount = 0;
};

struct VideoInput {
    InputFormatPtr   format;
    CodecContextPtr  decoder;
    PacketPtr        packet;
    VideoStreamInfo  info;
    std::string      url;                   // what libavformat opens: "file:PATH", or "pipe:0" for "-"
    std::string      path;                  // for messages: PATH, or "standard input"
    VideoInputUse    use = kReadVideo;
    VideoFrameIndex  index;                 // for kSampleFrames
    int64_t          nextFrameNumber = 0;   // of the next frame decoding gives without a seek
    bool             holdingPacket = false; // packet holds a video packet found by a seek, not yet decoded
    int64_t          drainAfterPts = AV_NOPTS_VALUE;  // drain the decoder once this packet is in
    bool             demuxerEnded = false;  // the decoder is being drained
    InputDamage      damage;
    int64_t          lastFramePts = AV_NOPTS_VALUE;  // of the frame decoded last
    int64_t          demuxerErrorsAtOpen = 0;        // of every input read, before this one opened
    int64_t          damageAtLastFrame = 0;          // damage.damagedPackets + demuxerErrors then
    int64_t          lostAtLastFrame = 0;            // damage.lostFrames then
    bool             endCounted = false;             // frames missing at the end are counted
    int              framesSinceDamage = 0;          // frames decoded since it last grew
    OtherPacketSink  otherPackets = nullptr;
    void*            otherPacketsContext = nullptr;
    AVIOContext*     io = nullptr;  // when set, read instead of the file at path (the caller owns
                                    // it; path then only names it in messages)
};

// Opens path as a file (never as a URL or protocol, whatever it contains;
// "-" is standard input, which cannot be sampled), finds its first video stream that is not a cover picture and opens a
// decoder for it; for kSampleFrames it also fills input->index. Fails with
// kStepReading (or kStepDecoding: no decoder, no frame), or kStepInterrupted.
bool OpenVideoInput(const std::string& path, VideoInputUse use, VideoInput* input, MediaError* error);

// The next decoded frame into frame (unreferenced first), its pts the
// decoder's best effort timestamp in info.timeBase, and its number: counted
// as frames come, or, with an index, found by its timestamp there (a frame
// the index lacks is passed over). Returns 1 for a frame, 0 at the end of
// the video (or of a drain), -1 on failure or a stop signal.
int ReadVideoFrame(VideoInput* input, AVFrame* frame, int64_t* frameNumber, MediaError* error);

// Receives a chosen frame; returns false to stop reading.
typedef std::function<bool(int64_t frameNumber, AVFrame* frame)> ChosenFrameSink;

// Decodes the frames with the given numbers (ascending; others are passed
// over) of a file opened for sampling and hands each to take. Each is
// reached by seeking to the keyframe at or before it, unless decoding on
// from where the decoder stands reaches it without passing a keyframe; a
// keyframe needs no more than its own packet decoded. A frame the decoder
// does not give is left out. False on failure or a stop signal.
bool ReadChosenFrames(VideoInput* input, const std::vector<int64_t>& frameNumbers,
                      const ChosenFrameSink& take, MediaError* error);

// Whether the container of the file at path stores a display matrix (the
// turn players give the picture) for its stream streamIndex: read back from
// a file just written, it tells whether the container kept the turn.
bool StoresDisplayMatrix(const std::string& path, int streamIndex);

// How the video's pictures are grouped, as its first packets show.
struct GopStructure {
    int gopSize = 0;      // frames from the first keyframe to the next; 0 when none came
    int maxBFrames = -1;  // the longest run of frames shown before one decoded earlier; -1 without timestamps
};

// Reads the first packets of the video stream streamIndex of the file at
// path, opened anew (the input being read is left where it stands).
GopStructure ProbeGopStructure(const std::string& path, int streamIndex);

#endif
