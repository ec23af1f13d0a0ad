// Any bytes as a media file, read from memory through the whole apply path:
// probed, its video decoded, every frame patched with a feathered rectangle
// over a frame range, encoded and written with the other streams to the null
// muxer. A file the libraries cannot read must end in a named error, never a
// crash, a leak or undefined behaviour; a run that succeeds must have
// written at least one frame.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include "apply_video.h"
#include "filter_setup.h"
#include "fuzz_checks.h"
#include "options.h"
#include "video_input.h"

namespace {

struct MemoryFile {
    const uint8_t* data;
    int64_t        size;
    int64_t        position;
};

int ReadMemory(void* opaque, uint8_t* buffer, int wanted) {
    MemoryFile* file = static_cast<MemoryFile*>(opaque);
    const int64_t left = file->size - file->position;
    if (left <= 0) return AVERROR_EOF;
    const int n = static_cast<int>(std::min<int64_t>(left, wanted));
    memcpy(buffer, file->data + file->position, n);
    file->position += n;
    return n;
}

int64_t SeekMemory(void* opaque, int64_t offset, int whence) {
    MemoryFile* file = static_cast<MemoryFile*>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return file->size;
    const int64_t base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->size : 0;
    if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return AVERROR(EINVAL);
    if (offset > file->size || offset < -file->size) return AVERROR(EINVAL);
    const int64_t target = base + offset;
    if (target < 0 || target > file->size) return AVERROR(EINVAL);
    file->position = target;
    return target;
}

Options FuzzOptions() {
    // The rectangle lies partly outside the smallest frames on purpose.
    const char* argv[] = {"delbrin", "apply", "--rect", "3,2,10,7", "--feather", "4",
                          "--fade", "2", "--ranges", "1 40", "--codec", "rawvideo", "--quiet", "in", "out.null"};
    Options options;
    options.command = "apply";
    std::string error;
    FUZZ_CHECK(ParseOptions(sizeof argv / sizeof argv[0], const_cast<char**>(argv), &options, &error));
    return options;
}

// The command's own steps, as apply takes them, ending in the null muxer.
void ApplyFrom(AVIOContext* io, const Options& options, const std::vector<PatchSettings>& instances) {
    VideoInput input;
    input.io = io;
    MediaError error;
    if (!OpenVideoInput("fuzz input", kReadAllStreams, &input, &error)) {
        FUZZ_CHECK(!error.message.empty());
        return;
    }
    EncoderPlan plan;
    plan.container = av_guess_format("null", nullptr, nullptr);
    FUZZ_CHECK(plan.container);
    const VideoStreamInfo& info = input.info;
    const InputTraits traits = InputTraitsOf(info);
    std::string usage;
    // rawvideo (asked for above) keeps the runs fast; every other choice is
    // the command's own.
    if (!ChooseEncoder(options.encoder, "out.null", traits, &plan, &usage) ||
        !ChooseQuality(options.encoder, &plan, &usage) || !ChoosePixelFormat(options.encoder, traits, &plan, &usage))
        return;
    ApplyCounts counts;
    if (ApplyVideo(&input, plan, options, instances, "", "out.null", &counts, &error))
        FUZZ_CHECK(counts.frames > 0);
    else
        FUZZ_CHECK(!error.message.empty());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    av_log_set_level(AV_LOG_QUIET);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Options options = FuzzOptions();
    static const std::vector<PatchSettings> instances = MakeInstances(options, false);

    MemoryFile file = {data, static_cast<int64_t>(size), 0};
    const int kBufferSize = 4096;
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(kBufferSize));
    FUZZ_CHECK(buffer);
    AVIOContext* io = avio_alloc_context(buffer, kBufferSize, 0, &file, ReadMemory, nullptr, SeekMemory);
    FUZZ_CHECK(io);

    ApplyFrom(io, options, instances);
    av_freep(&io->buffer);
    avio_context_free(&io);
    return 0;
}
