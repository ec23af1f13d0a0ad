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
#include "output_check.h"
#include "output_file.h"
#include "pixel_traits.h"
#include "progress.h"
#include "stop_signal.h"
#include "video_input.h"
#include "video_output.h"

namespace {

// Everything one run holds; each part frees itself.
struct ApplyRun {
    VideoInput*    input = nullptr;
    VideoOutput    output;
    EncoderPlan    plan;
    RegionPatcher  patcher;
    FrameConverter toWork;
    FrameConverter toEncoder;
    FramePtr       decoded{av_frame_alloc()};
    FramePtr       work{av_frame_alloc()};
    FramePtr       encoded{av_frame_alloc()};
    std::vector<PacketPtr> pending;  // other streams' packets read before the first frame
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
        return Failed(error, kStepDecoding, "decoding " + run->input->path + ": no video frame within the first " +
                                                std::to_string(kMaxPendingPackets) + " packets");
    PacketPtr copy(av_packet_clone(packet));
    if (!copy) return FailedAv(error, kStepReading, "reading", AVERROR(ENOMEM));
    run->pending.push_back(std::move(copy));
    return true;
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

// What reading found damaged, and the copied packets the muxer refused as
// damaged (a bitstream filter that cannot parse them).
InputDamage RunDamage(const ApplyRun* run) {
    InputDamage damage = run->input->damage;
    damage.damagedPackets += run->output.refusedPackets;
    damage.droppedPackets += run->output.refusedPackets;
    return damage;
}

// With --strict, damage found so far ends the run.
bool CheckStrict(const ApplyRun* run, const Options& options, MediaError* error) {
    const InputDamage damage = RunDamage(run);
    if (!options.strict || !AnyDamage(damage)) return true;
    return Failed(error, kStepDecoding, "decoding " + run->input->path + ": the input is damaged (" +
                                            DescribeDamage(damage) + "); --strict refuses it");
}

// The pixel format was chosen from what the container said about the video;
// the first frame decides it (its format can differ, and a palette's alpha
// shows only there), and the choice is said then.
bool SettlePixelFormat(ApplyRun* run, const Options& options, const AVFrame* first, MediaError* error) {
    const VideoStreamInfo& info = run->input->info;
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
    if (ReadVideoFrame(run->input, run->decoded.get(), &number, error) > 0 && !options.quiet)
        fprintf(stderr, "delbrin: note: the output is a picture: frame 0 written; "
                        "`delbrin preview --frame N -o OUT` writes another\n");
}

bool ApplyLoop(ApplyRun* run, const Options& options, const std::vector<PatchSettings>& instances,
               const std::string& output, int64_t* done, MediaError* error) {
    Progress progress = StartProgress(options.quiet, run->input->info.frameCount);
    int64_t number = 0;
    for (;;) {
        int got = ReadVideoFrame(run->input, run->decoded.get(), &number, error);
        if (got < 0) return false;
        if (!CheckStrict(run, options, error)) return false;
        if (got == 0) break;
        if (!run->outputOpen && !SettlePixelFormat(run, options, run->decoded.get(), error)) return false;

        AVFrame* patched = nullptr;
        if (!PatchDecodedFrame(&run->patcher, &run->toWork, run->decoded.get(), run->work.get(), run->plan.pixelFormat,
                               instances, number, &patched, error))
            return false;
        AVFrame* frame = patched;
        const int width = run->outputOpen ? run->output.encoder->width : patched->width;
        const int height = run->outputOpen ? run->output.encoder->height : patched->height;
        if (patched->format != run->plan.pixelFormat || patched->width != width || patched->height != height) {
            if (!ConvertFrame(&run->toEncoder, patched, run->encoded.get(), run->plan.pixelFormat, width, height, error))
                return false;
            frame = run->encoded.get();
        }

        if (!run->outputOpen) {
            if (!OpenVideoOutput(&run->output, run->temporary, output, run->plan, run->input->info, frame,
                                 run->input, error))
                return false;
            run->outputOpen = true;
            if (options.verbose) fprintf(stderr, "delbrin: writing %s\n", run->temporary.c_str());
            for (PacketPtr& p : run->pending)
                if (!CopyPacket(&run->output, p.get(), error)) return false;
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
    if (*done == 0) return Failed(error, kStepDecoding, "decoding " + run->input->path + " gave no frames");
    return FinishVideoOutput(&run->output, error);
}

}  // namespace

bool ApplyVideo(VideoInput* input, const EncoderPlan& plan, const Options& options,
                const std::vector<PatchSettings>& instances, const std::string& path, const std::string& name,
                ApplyCounts* counts, MediaError* error) {
    ApplyRun run;
    run.input = input;
    run.plan = plan;
    run.temporary = path;
    input->otherPackets = TakeOtherPacket;
    input->otherPacketsContext = &run;
    const bool ok = run.decoded && run.work && run.encoded
                        ? ApplyLoop(&run, options, instances, name, &counts->frames, error)
                        : Failed(error, kStepFiltering, "filtering: out of memory");
    input->otherPackets = nullptr;
    input->otherPacketsContext = nullptr;
    counts->damage = RunDamage(&run);
    counts->movedFrames = run.output.reorderedFrames;
    return ok;
}

int RunApply(const Options& options) {
    const std::string& inputName = options.positional[0];
    const std::string& output = options.positional[1];
    std::string message;
    int code = CheckOutputName(inputName, output, options.force, &message);
    if (code != kExitOk) return Fail(code, message);
    const std::vector<PatchSettings> instances = MakeInstances(options, options.border);

    VideoInput input;
    MediaError error;
    if (!OpenVideoInput(inputName, kReadAllStreams, &input, &error))
        return Fail(ExitCodeFor(error.step), error.message);
    const VideoStreamInfo& info = input.info;
    EncoderPlan plan;
    std::string usage;
    InputTraits traits = {info.codecId, info.pixelFormat, info.width, info.height};
    if (!ChooseContainer(output, &plan, &usage) || !ChooseEncoder(options.encoder, output, traits, &plan, &usage) ||
        !ChooseQuality(options.encoder, &plan, &usage))
        return Fail(kExitUsage, usage);
    SayNotes(plan.notes, options.quiet);
    plan.notes.clear();
    // Checked now so that a format that cannot be is a usage error; said
    // once the first frame has settled it.
    if (!ChoosePixelFormat(options.encoder, traits, &plan, &usage)) return Fail(kExitUsage, usage);
    WarnAboutRectangles(instances, info.width, info.height);
    if (info.hasDisplayMatrix && info.rotation != 0 && !options.quiet)
        fprintf(stderr, "delbrin: note: players show this video turned by %g degrees; the rectangles are in the "
                        "stored %dx%d picture, as preview shows it\n", info.rotation, info.width, info.height);

    std::string temporary;
    if (!MakeTemporaryBeside(output, &temporary))
        return Fail(kExitRefused, "cannot create a file beside " + output + ": " + strerror(errno));
    // The output is closed (by ApplyVideo) before the temporary file is
    // removed or renamed.
    ApplyCounts counts;
    const bool ok = ApplyVideo(&input, plan, options, instances, temporary, output, &counts, &error);
    const int64_t done = counts.frames;

    if (!ok || g_stopSignal) {
        unlink(temporary.c_str());
        if (g_stopSignal || error.step == kStepInterrupted)
            return Fail(kExitInterrupted, "interrupted after " + std::to_string(done) + " frames; " + output +
                                              " was not written");
        return Fail(ExitCodeFor(error.step), error.message + " (after " + std::to_string(done) + " frames); " +
                                                 output + " was not written");
    }
    if (counts.movedFrames > 0)
        fprintf(stderr, "delbrin: warning: %lld frames had a timestamp that did not increase and were moved "
                        "one tick after the previous frame\n", (long long)counts.movedFrames);
    if (rename(temporary.c_str(), output.c_str()) != 0) {
        std::string reason = strerror(errno);
        unlink(temporary.c_str());
        return Fail(kExitRefused, "cannot rename the finished file to " + output + ": " + reason);
    }
    // Damage is told even on a terminal and with --quiet: the file lacks
    // what the input lost.
    if (AnyDamage(counts.damage))
        fprintf(stderr, "delbrin: warning: %lld frame%s written to %s; the input is damaged: %s\n", (long long)done,
                done == 1 ? "" : "s", output.c_str(), DescribeDamage(counts.damage).c_str());
    else if (!options.quiet && !isatty(2))
        fprintf(stderr, "delbrin: %lld frame%s written to %s\n", (long long)done, done == 1 ? "" : "s", output.c_str());
    return kExitOk;
}
