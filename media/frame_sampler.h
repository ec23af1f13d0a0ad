// Frames for finding a logo: frame numbers spread over a file opened for
// sampling (video_input.h), and those frames as the analysis' planes.
#ifndef DELBRIN_MEDIA_FRAME_SAMPLER_H
#define DELBRIN_MEDIA_FRAME_SAMPLER_H

#include <stdint.h>

#include <functional>
#include <vector>

#include "media_error.h"
#include "sample_planes.h"
#include "video_input.h"

// About count frame numbers spread evenly over the file, ascending and
// distinct; each is moved to a keyframe where one lies close, so that reading
// it needs no decoding beyond the keyframe itself.
std::vector<int64_t> SpreadFrameNumbers(const VideoFrameIndex& index, int count);

// The size frames are analysed at: the stream's, halved until it is at most
// kMaxAnalysisWidth wide (the logo's rectangle is then scaled back up).
enum { kMaxAnalysisWidth = 1024 };
int AnalysisFactor(int32_t width);

// One decoded frame as planes of the analysis' size: luma and chroma, 8 bits,
// chroma brought to the luma's grid.
using PlanesSink = std::function<bool(const SamplePlanes& frame)>;

// Decodes the frames with the given numbers (ascending), scales each down by
// factor and hands it to sink; a frame the decoder does not give, or of
// another size than the stream's, is left out. The sink returns false to
// stop early.
bool ReadSamplePlanes(VideoInput* input, const std::vector<int64_t>& frameNumbers, int factor,
                      const PlanesSink& sink, MediaError* error);

#endif
