// Frames for finding a logo, read through the shared decoder.
#include "frame_sampler.h"

#include <algorithm>

#include "frame_convert.h"

int AnalysisFactor(int32_t width) {
    int factor = 1;
    while (width / factor > kMaxAnalysisWidth) factor *= 2;
    return factor;
}

std::vector<int64_t> SpreadFrameNumbers(const VideoFrameIndex& index, int count) {
    std::vector<int64_t> numbers;
    const int64_t total = index.frameCount;
    if (total <= 0 || count <= 0) return numbers;
    if (count >= total) {
        for (int64_t n = 0; n < total; n++) numbers.push_back(n);
        return numbers;
    }
    const std::vector<VideoKeyframe>& keys = index.keyframes;
    const double spacing = static_cast<double>(total) / count;
    for (int i = 0; i < count; i++) {
        int64_t target = static_cast<int64_t>((i + 0.5) * spacing);
        // A keyframe within half a spacing serves as well and costs one
        // packet's decoding instead of a run from the keyframe before it.
        auto it = std::lower_bound(keys.begin(), keys.end(), target,
                                   [](const VideoKeyframe& k, int64_t value) { return k.frameNumber < value; });
        int64_t best = target;
        double bestDistance = spacing / 2;
        if (it != keys.end() && it->frameNumber - target < bestDistance) {
            best = it->frameNumber;
            bestDistance = static_cast<double>(it->frameNumber - target);
        }
        if (it != keys.begin() && target - (it - 1)->frameNumber < bestDistance) best = (it - 1)->frameNumber;
        if (numbers.empty() || best > numbers.back()) numbers.push_back(best);
    }
    return numbers;
}

bool ReadSamplePlanes(VideoInput* input, const std::vector<int64_t>& frameNumbers, int factor,
                      const PlanesSink& sink, MediaError* error) {
    const VideoStreamInfo& info = input->info;
    const int32_t width = info.width / factor, height = info.height / factor;
    FrameConverter converter;
    FramePtr planes(av_frame_alloc());
    if (!planes) return FailedAv(error, kStepFiltering, "filtering", AVERROR(ENOMEM));
    bool converted = true;
    // Every frame goes through libswscale, which shrinks it and brings
    // chroma (or grey's missing chroma) to the luma's grid.
    bool ok = ReadChosenFrames(input, frameNumbers, [&](int64_t number, AVFrame* f) {
        if (f->width != info.width || f->height != info.height) return true;  // a size change mid-file
        converted = ConvertFrame(&converter, f, planes.get(), AV_PIX_FMT_YUV444P, width, height, error);
        if (!converted) return false;
        SamplePlanes sample = {number, {planes->data[0], planes->data[1], planes->data[2]},
                               {planes->linesize[0], planes->linesize[1], planes->linesize[2]}};
        return sink(sample);
    }, error);
    return ok && converted;
}
