// delbrin preview: one frame, patched with the dotted border, as a PNG
// picture, for placing the rectangles.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "commands.h"
#include "run_error.h"
#include "frame_convert.h"
#include "filter_setup.h"
#include "frame_run.h"
#include "output_check.h"
#include "picture_file.h"
#include "stop_signal.h"
#include "video_input.h"

int RunPreview(const Options& options) {
    const std::string& input = options.positional[0];
    std::string refusal;
    if (int code = CheckOutputName(input, options.picturePath, "the picture", options.force, &refusal))
        return Fail(code, refusal);
    const std::vector<PatchSettings> instances = MakeInstances(options, true);  // the border, to place them
    bool anyPatched = false;
    for (const PatchSettings& s : instances) anyPatched |= FrameAlpha(&s, static_cast<int32_t>(options.frame)) != 0;
    if (!anyPatched)
        fprintf(stderr, "delbrin: note: frame %d lies outside the frame ranges, so it is not patched\n", (int)options.frame);

    VideoInput in;
    MediaError error;
    if (!OpenVideoInput(input, kReadVideo, &in, &error)) return Fail(ExitCodeFor(error.step), error.message);
    WarnAboutRectangles(instances, in.info.width, in.info.height);
    FramePtr frame(av_frame_alloc());
    FramePtr work(av_frame_alloc());
    if (!frame || !work) return Fail(kExitFiltering, "out of memory");
    int64_t number = -1;
    int got;
    while ((got = ReadVideoFrame(&in, frame.get(), &number, &error)) == 1 && number < options.frame) {
    }
    if (got < 0) return Fail(ExitCodeFor(error.step), error.message);
    if (got == 0)
        return Fail(kExitUsage, input + " has no frame " + std::to_string(options.frame) + " (it has " +
                                    std::to_string(number + 1) + "; frames count from 0)");
    RegionPatcher patcher;
    FrameConverter converter;
    AVFrame* patched = nullptr;
    if (!PatchDecodedFrame(&patcher, &converter, frame.get(), work.get(), AV_PIX_FMT_NONE, instances, number,
                           &patched, &error) ||
        !WritePngFile(patched, options.picturePath, &error))
        return Fail(ExitCodeFor(error.step), error.message);
    return kExitOk;
}
