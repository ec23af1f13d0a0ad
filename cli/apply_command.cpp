// delbrin apply: decode, patch, encode, in one process. The input's video is
// decoded in presentation order, each frame patched in its own pixel format
// (see region_patch.h), converted only if the encoder needs another format,
// and encoded with the input's timestamps; every other stream is copied as
// it is read. Memory stays bounded: frames go through one at a time, and
// libavformat interleaves the packets.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "commands.h"
#include "filter_setup.h"
#include "frame_deblend.h"
#include "frame_run.h"
#include "logo_mask_file.h"
#include "output_check.h"
#include "output_file.h"
#include "pixel_traits.h"
#include "progress.h"
#include "stop_signal.h"
#include "video_input.h"
#include "video_output.h"

namespace {

// Everything one run holds, freed in one place.
struct ApplyRun {
    VideoInput     input;
    VideoOutput    output;
    EncoderPlan    plan;
    RegionPatcher  patcher;
    // --deblend: the learned logo, once the first frame has told the
    // video's coding, the frames to de-blend, and the patch over its nearly
    // opaque parts where it has any.
    bool           deblending = false;
    LogoModel      logo{};
    PatchSettings  deblendFrames{};
    bool           patchingOpaquePart = false;
    PatchSettings  opaquePart{};
    RegionPatcher  opaquePatcher;
    FrameConverter toWork;
    FrameConverter toEncoder;
    AVFrame*       decoded = nullptr;
    AVFrame*       work = nullptr;
    AVFrame*       encoded = nullptr;
    std::vector<AVPacket*> pending;  // other streams' packets read before the first frame
    bool           outputOpen = false;
    std::string    temporary;
};

// Packets read before the first frame decodes wait for the output; a video
// that yields no frame for this long is not one the command can use.
const size_t kMaxPendingPackets = 4096;

bool TakeOtherPacket(void* context, AVPacket* packet, MediaError* error) {
    ApplyRun* run = static_cast<ApplyRun*>(context);
    if (run->outputOpen) return CopyPacket(&run->output, packet, error);
    if (run->pending.size() >= kMaxPendingPackets)
        return Failed(error, kStepDecoding, "decoding " + run->input.path + ": no video frame within the first " +
                                                std::to_string(kMaxPendingPackets) + " packets");
    AVPacket* copy = av_packet_clone(packet);
    if (!copy) return FailedAv(error, kStepReading, "reading", AVERROR(ENOMEM));
    run->pending.push_back(copy);
    return true;
}

void FreeRun(ApplyRun* run) {
    CloseVideoInput(&run->input);
    CloseVideoOutput(&run->output);
    FreeRegionPatcher(&run->patcher);
    FreeRegionPatcher(&run->opaquePatcher);
    FreeFrameConverter(&run->toWork);
    FreeFrameConverter(&run->toEncoder);
    av_frame_free(&run->decoded);
    av_frame_free(&run->work);
    av_frame_free(&run->encoded);
    for (AVPacket* p : run->pending) av_packet_free(&p);
    run->pending.clear();
}

void SayNotes(const std::vector<std::string>& notes, bool quiet) {
    if (quiet) return;
    for (const std::string& n : notes) fprintf(stderr, "delbrin: note: %s\n", n.c_str());
}

// Whether every colour of a palette frame is opaque.
bool OpaquePalette(const AVFrame* frame) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!d || !(d->flags & AV_PIX_FMT_FLAG_PAL) || !frame->data[1]) return false;
    const uint32_t* palette = reinterpret_cast<const uint32_t*>(frame->data[1]);
    for (int i = 0; i < 256; i++)
        if ((palette[i] >> 24) != 0xFF) return false;
    return true;
}

// The pixel format was chosen from what the container said about the video;
// the first frame decides it (its format can differ, and a palette's alpha
// shows only there), and the choice is said then.
bool SettlePixelFormat(ApplyRun* run, const Options& options, const AVFrame* first, MediaError* error) {
    const VideoStreamInfo& info = run->input.info;
    InputTraits traits = {info.codecId, static_cast<AVPixelFormat>(first->format), first->width, first->height,
                          OpaquePalette(first)};
    std::string usage;
    run->plan.notes.clear();
    if (!ChoosePixelFormat(options.encoder, traits, &run->plan, &usage)) return Failed(error, kStepEncoding, usage);
    SayNotes(run->plan.notes, options.quiet);
    run->plan.notes.clear();
    return true;
}

// A picture file holds the first frame; says so when the input has more.
void SayFirstFrameOnly(ApplyRun* run, const Options& options, MediaError* error) {
    int64_t number = 0;
    if (ReadVideoFrame(&run->input, run->decoded, &number, error) > 0 && !options.quiet)
        fprintf(stderr, "delbrin: note: the output is a picture: frame 0 written; "
                        "`delbrin preview --frame N -o OUT` writes another\n");
}

// Pixels of picture kept around the box of the logo's nearly opaque parts
// for the patch there: the patch takes its samples from the rectangle's
// second pixel in, which then lies past them.
const int kOpaquePartMargin = 2;

// Settings of an instance over rect (at least 1 x 1) without feathering,
// patching the frames of rangeText (all when empty) at full strength.
void PlainInstance(PixelRect rect, const std::string& rangeText, PatchSettings* settings) {
    InitSettings(settings, nullptr);
    int32_t numbers[kConfigNumberCount];
    SaveConfigNumbers(settings, numbers);
    numbers[kConfigX] = rect.x;
    numbers[kConfigY] = rect.y;
    numbers[kConfigWidth] = rect.width > 0 ? rect.width : 1;
    numbers[kConfigHeight] = rect.height > 0 ? rect.height : 1;
    numbers[kConfigFeatherOn] = 0;
    // Fade length 1 with fading off: a range "s t" covers frames s to t.
    numbers[kConfigFadeOn] = 0;
    numbers[kConfigFadeFrames] = 1;
    StoreConfig(settings, numbers, rangeText.c_str());
}

// Reads the mask for frames like the first one and sets up the patch over
// the logo's box, with the frames to de-blend.
bool StartDeblending(ApplyRun* run, const Options& options, const AVFrame* first, MediaError* error) {
    if (!CanDeblendInPlace(first->format)) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(first->format));
        return Failed(error, kStepFiltering, std::string("--deblend: frames in ") + (name ? name : "this format") +
                                                 " are not planar YUV, grey or planar RGB");
    }
    if (!ReadLogoMask(options.deblendMask, first->width, first->height, CodingOf(first), &run->logo, error))
        return false;
    const PixelRect box = run->logo.planes[0].box;
    if (IsEmptyRect(box) && !options.quiet)
        fprintf(stderr, "delbrin: note: the mask %s shows no logo (its alpha is 0 everywhere)\n",
                options.deblendMask.c_str());
    run->deblending = !IsEmptyRect(box);
    PlainInstance(box, options.deblendRanges, &run->deblendFrames);
    const PixelRect opaque = PatchedBox(run->logo, kDeblendLimitDefault / 100.0f);
    run->patchingOpaquePart = !IsEmptyRect(opaque);
    PlainInstance(ClipRectToFrame(PixelRect{opaque.x - kOpaquePartMargin, opaque.y - kOpaquePartMargin,
                                            opaque.width + 2 * kOpaquePartMargin, opaque.height + 2 * kOpaquePartMargin},
                                  first->width, first->height),
                  options.deblendRanges, &run->opaquePart);
    return true;
}

bool ApplyLoop(ApplyRun* run, const Options& options, const std::vector<PatchSettings>& instances,
               const std::string& output, int64_t* done, MediaError* error) {
    Progress progress = StartProgress(options.quiet, run->input.info.frameCount);
    int64_t number = 0;
    for (;;) {
        int got = ReadVideoFrame(&run->input, run->decoded, &number, error);
        if (got < 0) return false;
        if (got == 0) break;
        if (!run->outputOpen && !SettlePixelFormat(run, options, run->decoded, error)) return false;
        if (!run->outputOpen && !options.deblendMask.empty() && !StartDeblending(run, options, run->decoded, error))
            return false;
        if (run->deblending && number <= INT32_MAX && FrameAlpha(&run->deblendFrames, static_cast<int32_t>(number)) != 0 &&
            !DeblendFrame(run->logo, run->patchingOpaquePart ? &run->opaquePart : nullptr, &run->opaquePatcher,
                          run->decoded, static_cast<int32_t>(number), error))
            return false;

        AVFrame* patched = nullptr;
        if (!PatchDecodedFrame(&run->patcher, &run->toWork, run->decoded, run->work, run->plan.pixelFormat,
                               instances, number, &patched, error))
            return false;
        AVFrame* frame = patched;
        const int width = run->outputOpen ? run->output.encoder->width : patched->width;
        const int height = run->outputOpen ? run->output.encoder->height : patched->height;
        if (patched->format != run->plan.pixelFormat || patched->width != width || patched->height != height) {
            if (!ConvertFrame(&run->toEncoder, patched, run->encoded, run->plan.pixelFormat, width, height, error))
                return false;
            frame = run->encoded;
        }

        if (!run->outputOpen) {
            if (!OpenVideoOutput(&run->output, run->temporary, output, run->plan, run->input.info, frame,
                                 &run->input, error))
                return false;
            run->outputOpen = true;
            if (options.verbose) fprintf(stderr, "delbrin: writing %s\n", run->temporary.c_str());
            for (AVPacket*& p : run->pending) {
                if (!CopyPacket(&run->output, p, error)) return false;
                av_packet_free(&p);
            }
            run->pending.clear();
        }
        if (!EncodeVideoFrame(&run->output, frame, error)) return false;
        ++*done;
        DrawProgress(&progress, *done, false);
        if (WritesOnePicture(run->plan.container)) {
            SayFirstFrameOnly(run, options, error);
            break;
        }
    }
    DrawProgress(&progress, *done, true);
    if (*done == 0) return Failed(error, kStepDecoding, "decoding " + run->input.path + " gave no frames");
    return FinishVideoOutput(&run->output, error);
}

}  // namespace

bool PatchDecodedFrame(RegionPatcher* patcher, FrameConverter* converter, AVFrame* frame, AVFrame* work,
                       AVPixelFormat preferred, const std::vector<PatchSettings>& instances, int64_t frameNumber,
                       AVFrame** result, MediaError* error) {
    if (frameNumber > INT32_MAX)
        return Failed(error, kStepFiltering, "filtering: the filter counts frames in 32 bits; this video has more");
    *result = frame;
    if (!CanPatchInPlace(static_cast<AVPixelFormat>(frame->format))) {
        const bool alpha = HasAlpha(frame->format) || IsPalette(frame->format);
        const AVPixelFormat target = CanPatchInPlace(preferred) ? preferred : alpha ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGB24;
        if (!ConvertFrame(converter, frame, work, target, frame->width, frame->height, error)) return false;
        *result = work;
    }
    return PatchFrameRegions(patcher, *result, instances.data(), static_cast<int>(instances.size()),
                             static_cast<int32_t>(frameNumber), error);
}

int RunApply(const Options& options) {
    const std::string& inputName = options.positional[0];
    const std::string& output = options.positional[1];
    std::string message;
    int code = CheckOutputName(inputName, output, options.force, &message);
    if (code != kExitOk) return Fail(code, message);
    const std::vector<PatchSettings> instances = MakeInstances(options, options.border);

    ApplyRun run;
    MediaError error;
    if (!OpenVideoInput(inputName, kReadAllStreams, &run.input, &error)) {
        FreeRun(&run);
        return Fail(ExitCodeFor(error.step), error.message);
    }
    const VideoStreamInfo& info = run.input.info;
    std::string usage;
    InputTraits traits = {info.codecId, info.pixelFormat, info.width, info.height};
    if (!ChooseContainer(output, &run.plan, &usage) || !ChooseEncoder(options.encoder, output, traits, &run.plan, &usage) ||
        !ChooseQuality(options.encoder, &run.plan, &usage)) {
        FreeRun(&run);
        return Fail(kExitUsage, usage);
    }
    SayNotes(run.plan.notes, options.quiet);
    run.plan.notes.clear();
    // Checked now so that a format that cannot be is a usage error; said
    // once the first frame has settled it.
    if (!ChoosePixelFormat(options.encoder, traits, &run.plan, &usage)) {
        FreeRun(&run);
        return Fail(kExitUsage, usage);
    }
    WarnAboutRectangles(instances, info.width, info.height);
    if (info.hasDisplayMatrix && info.rotation != 0 && !options.quiet)
        fprintf(stderr, "delbrin: note: players show this video turned by %g degrees; the rectangles are in the "
                        "stored %dx%d picture, as preview shows it\n", info.rotation, info.width, info.height);

    if (!MakeTemporaryBeside(output, &run.temporary)) {
        FreeRun(&run);
        return Fail(kExitRefused, "cannot create a file beside " + output + ": " + strerror(errno));
    }
    run.decoded = av_frame_alloc();
    run.work = av_frame_alloc();
    run.encoded = av_frame_alloc();
    run.input.otherPackets = TakeOtherPacket;
    run.input.otherPacketsContext = &run;

    int64_t done = 0;
    bool ok = run.decoded && run.work && run.encoded
                  ? ApplyLoop(&run, options, instances, output, &done, &error)
                  : Failed(&error, kStepFiltering, "filtering: out of memory");
    const int64_t damaged = run.input.damagedPackets, moved = run.output.reorderedFrames;
    FreeRun(&run);

    if (!ok || g_stopSignal) {
        unlink(run.temporary.c_str());
        if (g_stopSignal || error.step == kStepInterrupted)
            return Fail(kExitInterrupted, "interrupted after " + std::to_string(done) + " frames; " + output +
                                              " was not written");
        return Fail(ExitCodeFor(error.step), error.message + " (after " + std::to_string(done) + " frames); " +
                                                 output + " was not written");
    }
    if (damaged > 0)
        fprintf(stderr, "delbrin: warning: the decoder rejected %lld damaged video packets; the frames it could "
                        "decode were written\n", (long long)damaged);
    if (moved > 0)
        fprintf(stderr, "delbrin: warning: %lld frames had a timestamp that did not increase and were moved "
                        "one tick after the previous frame\n", (long long)moved);
    if (rename(run.temporary.c_str(), output.c_str()) != 0) {
        std::string reason = strerror(errno);
        unlink(run.temporary.c_str());
        return Fail(kExitRefused, "cannot rename the finished file to " + output + ": " + reason);
    }
    if (!options.quiet && !isatty(2))
        fprintf(stderr, "delbrin: %lld frame%s written to %s\n", (long long)done, done == 1 ? "" : "s", output.c_str());
    return kExitOk;
}
