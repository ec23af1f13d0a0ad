// The file written: the patched video encoded in place of the input's video
// stream, every other stream of the input copied packet for packet, the
// input's chapters and metadata kept, packets interleaved by libavformat.
#ifndef DELBRIN_MEDIA_VIDEO_OUTPUT_H
#define DELBRIN_MEDIA_VIDEO_OUTPUT_H

#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "av_owners.h"
#include "encoder_setup.h"
#include "media_error.h"
#include "video_input.h"

struct VideoOutput {
    OutputFormatPtr  format;
    CodecContextPtr  encoder;
    AVStream*        video = nullptr;     // belongs to format
    PacketPtr        packet;
    std::vector<int> streamMap;          // input stream -> output stream, -1 when not copied
    std::vector<AVRational> inputTimeBases;
    AVRational       frameTimeBase = {0, 1};  // the unit of the pts of frames handed in
    int64_t          ptsOrigin = AV_NOPTS_VALUE;  // the first frame's pts, in frameTimeBase
    int64_t          lastPts = AV_NOPTS_VALUE;  // in the encoder's time base, from ptsOrigin
    int64_t          reorderedFrames = 0;     // frames whose pts did not increase, moved on
    int64_t          roundedFrames = 0;       // frames whose pts the encoder's coarser time base rounded
    std::vector<int64_t> lastCopiedDts;   // by input stream, in the output stream's time base
    int64_t          refusedPackets = 0;      // copied packets the muxer would refuse (damaged, or
                                              // a clock that steps back), left out
    std::string      name;               // OUTPUT, for messages
    std::string      path;               // the file written
};

// Creates the file at path (always a file) in plan's container, with the
// video stream encoded per plan from frames like firstFrame, whose pts count
// in video.timeBase, and, when copyFrom is given, every other stream of it
// copied (streams whose codec the libraries do not know are left out, with a
// note on stderr; a picture file gets none of them, with a note saying
// which). Writes the header. name is OUTPUT, for messages. Whatever is open
// is freed with the record; a file left behind is the caller's to remove.
bool OpenVideoOutput(VideoOutput* output, const std::string& path, const std::string& name,
                     const EncoderPlan& plan, const VideoStreamInfo& video, const AVFrame* firstFrame,
                     const VideoInput* copyFrom, MediaError* error);

// Encodes one frame (its pts in video.timeBase) and writes what the encoder
// gives back.
bool EncodeVideoFrame(VideoOutput* output, AVFrame* frame, MediaError* error);

// Writes a packet of a copied input stream; packets of streams not copied
// are dropped.
bool CopyPacket(VideoOutput* output, AVPacket* packet, MediaError* error);

// Drains the encoder, writes the trailer and closes the file.
bool FinishVideoOutput(VideoOutput* output, MediaError* error);

#endif
