// Frames for finding a logo: frame numbers spread over a file opened for
// sampling (video_input.h), and those frames as 8-bit luma.
#ifndef DELBRIN_MEDIA_FRAME_SAMPLER_H
#define DELBRIN_MEDIA_FRAME_SAMPLER_H

#include <stdint.h>

#include <functional>
#include <vector>

#include "media_error.h"
#include "video_input.h"

// About count frame numbers spread evenly over the file, ascending and
// distinct; each is moved to a keyframe where one lies close, so that reading
// it needs no decoding beyond the keyframe itself.
std::vector<int64_t> SpreadFrameNumbers(const VideoFrameIndex& index, int count);

// One decoded frame as 8-bit luma, rows top-down, info.width x info.height.
using LumaSink = std::function<bool(int64_t frameNumber, const uint8_t* luma, int32_t pitch)>;

// Decodes the frames with the given numbers (ascending) and hands each to
// sink as luma; a frame the decoder does not give, or of another size than
// the stream's, is left out. The sink returns false to stop early.
bool ReadLumaFrames(VideoInput* input, const std::vector<int64_t>& frameNumbers, const LumaSink& sink,
                    MediaError* error);

#endif
