// Reading chosen frames of a video file: the frames' numbers are those
// `delbrin apply` gives them (counted from 0 in presentation order), found by
// demuxing the whole file once without decoding, so that a frame can be
// reached by seeking to the keyframe before it and decoding from there.
#ifndef DELBRIN_CLI_FRAME_SAMPLER_H
#define DELBRIN_CLI_FRAME_SAMPLER_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// A keyframe packet, enough to seek to it and to know it when it comes by.
struct SamplerKeyframe {
    int64_t frameNumber;  // the frame the packet decodes to
    int64_t pts;
    int64_t dts;          // AV_NOPTS_VALUE when the container has none
    int64_t position;     // byte position in the file, -1 when unknown
};

struct FrameSampler {
    std::string      path;
    AVFormatContext* format = nullptr;
    AVCodecContext*  decoder = nullptr;
    AVPacket*        packet = nullptr;
    AVFrame*         frame = nullptr;
    SwsContext*      scaler = nullptr;   // to luma or to BGRA, made when needed
    int              streamIndex = -1;
    int32_t          width = 0;
    int32_t          height = 0;
    double           frameRate = 0;      // frames per second, 0 when unknown

    // Frame n's presentation timestamp is framePts[n] (ascending). Empty when
    // the file's timestamps cannot be trusted (missing or repeated): frames
    // are then counted as the decoder gives them, reading from the start.
    std::vector<int64_t>         framePts;
    std::vector<SamplerKeyframe> keyframes;  // ascending frame numbers
    int64_t                      frameCount = 0;

    // Where decoding stands: the number of the next frame the decoder can
    // give without a seek, or -1 when the next read must seek.
    int64_t nextFrame = -1;
    bool    draining = false;   // the decoder was sent the end of the stream
};

// Opens the file (always as a file, never as a protocol), picks the first
// video stream and demuxes it once to number its frames.
bool OpenFrameSampler(const std::string& path, FrameSampler* sampler, std::string* error);
void CloseFrameSampler(FrameSampler* sampler);

// About count frame numbers spread evenly over the file, ascending and
// distinct; each is moved to a keyframe where one lies close, so that reading
// it needs no decoding beyond the keyframe itself.
std::vector<int64_t> SpreadFrameNumbers(const FrameSampler* sampler, int count);

// One decoded frame as 8-bit luma, rows top-down.
using LumaSink = std::function<bool(int64_t frameNumber, const uint8_t* luma, int32_t pitch)>;

// Decodes the frames with the given numbers (ascending) and hands each to
// sink as luma; a frame the decoder does not give is left out. The sink
// returns false to stop early. False with *error when reading fails.
bool ReadLumaFrames(FrameSampler* sampler, const std::vector<int64_t>& frameNumbers,
                    const LumaSink& sink, std::string* error);

// Decodes frame frameNumber as 32-bit BGRA (byte order blue, green, red,
// 0xFF), rows top-down, 4 * width bytes a row.
bool ReadBgraFrame(FrameSampler* sampler, int64_t frameNumber, std::vector<uint8_t>* pixels,
                   std::string* error);

#endif
