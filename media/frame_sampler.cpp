// Frames for finding a logo, read through the shared decoder.
#include "frame_sampler.h"

#include <algorithm>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "frame_convert.h"

namespace {

// Frames whose first plane is 8-bit luma, one byte a pixel, are read as they
// are; everything else goes through libswscale.
bool HasPlainLuma(int format) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BE)))
        return false;
    const AVComponentDescriptor& y = d->comp[0];
    return y.plane == 0 && y.depth == 8 && y.step == 1 && y.shift == 0 && y.offset == 0;
}

}  // namespace

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

bool ReadLumaFrames(VideoInput* input, const std::vector<int64_t>& frameNumbers, const LumaSink& sink,
                    MediaError* error) {
    const VideoStreamInfo& info = input->info;
    FrameConverter converter;
    FramePtr gray(av_frame_alloc());
    if (!gray) return FailedAv(error, kStepFiltering, "filtering", AVERROR(ENOMEM));
    bool converted = true;
    bool ok = ReadChosenFrames(input, frameNumbers, [&](int64_t number, AVFrame* f) {
        if (f->width != info.width || f->height != info.height) return true;  // a size change mid-file
        if (HasPlainLuma(f->format)) return sink(number, f->data[0], f->linesize[0]);
        converted = ConvertFrame(&converter, f, gray.get(), AV_PIX_FMT_GRAY8, f->width, f->height, error);
        return converted && sink(number, gray->data[0], gray->linesize[0]);
    }, error);
    return ok && converted;
}
