// A video file opened for reading: its first video stream decoded frame by
// frame, in presentation order, each frame numbered from 0 as the filter
// counts frames. Every other stream's packets can be handed to a sink as
// they are read (apply copies them), or skipped.
//
// The decoder runs FFmpeg's own frame and slice threads; frames come back on
// the calling thread. Nothing here buffers more than the decoder itself.
#ifndef DELBRIN_CLI_VIDEO_INPUT_H
#define DELBRIN_CLI_VIDEO_INPUT_H

#include <stdint.h>

#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "run_error.h"

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
};

// Receives a packet of a stream other than the video; may take its
// reference. Returns false with *error to stop reading.
typedef bool (*OtherPacketSink)(void* context, AVPacket* packet, RunError* error);

struct VideoInput {
    AVFormatContext* format = nullptr;
    AVCodecContext*  decoder = nullptr;
    AVPacket*        packet = nullptr;
    VideoStreamInfo  info;
    std::string      path;
    int64_t          nextFrameNumber = 0;   // -1 after a seek: numbers are then estimated
    bool             demuxerEnded = false;  // the decoder is being drained
    int64_t          damagedPackets = 0;    // packets the decoder rejected as invalid data
    OtherPacketSink  otherPackets = nullptr;
    void*            otherPacketsContext = nullptr;
};

// Opens path as a file (never as a URL or protocol, whatever it contains),
// finds its first video stream that is not a cover picture and opens a
// decoder for it. With keepOtherStreams false the other streams are not
// even read. Fails with kStepReading (or kStepDecoding: no decoder).
bool OpenVideoInput(const std::string& path, bool keepOtherStreams, VideoInput* input,
                    RunError* error);

// The next decoded frame into frame (unreferenced first), its pts the
// decoder's best effort timestamp in info.timeBase, and its number. Returns
// 1 for a frame, 0 at the end of the video, -1 on failure or a stop signal.
int ReadVideoFrame(VideoInput* input, AVFrame* frame, int64_t* frameNumber, RunError* error);

// Moves to the last key frame at or before timestamp (in info.timeBase).
// Frames read after a seek are numbered from their pts and the nominal
// frame rate: exact for a constant rate, an estimate otherwise.
bool SeekVideoInput(VideoInput* input, int64_t timestamp, RunError* error);

void CloseVideoInput(VideoInput* input);

#endif
