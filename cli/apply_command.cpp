// delbrin apply: decode, patch, encode, in one process. The input's video is
// decoded in presentation order, each frame patched in its own pixel format
// (see region_patch.h), converted only if the encoder needs another format,
// and encoded with the input's timestamps; every other stream is copied in
// the order it is read. Decoding, patching and encoding each run in a thread
// of their own, so that one stage works while another waits on its codec;
// the queues between them hold a few frames, which bounds memory, and the
// first failure stops all three.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "apply_video.h"
#include "commands.h"
#include "run_error.h"
#include "frame_convert.h"
#include "filter_setup.h"
#include "output_check.h"
#include "output_file.h"
#include "progress.h"
#include "stage_queue.h"
#include "stop_signal.h"
#include "video_input.h"
#include "video_output.h"

namespace {

// Frames waiting between two stages, and frames and packets together: a few
// frames keep every stage busy; the packets of other streams between two
// frames are few in any file interleaved for playing.
const size_t kQueueFrames = 4;
const size_t kQueueItems = 1024;

// Packets read before the first frame is patched wait for the output; a
// video that yields no frame for this long is not one the command can use.
const size_t kMaxPendingPackets = 4096;

// One run: the input belongs to the decoding stage, the output to the
// encoding stage; the plan is settled by the patching stage on the first
// frame, before the encoding stage sees that frame. Each part frees itself.
struct ApplyRun {
    const Options*                    options = nullptr;
    const std::vector<PatchSettings>* instances = nullptr;
    VideoInput* input = nullptr;
    VideoOutput output;
    EncoderPlan plan;
    std::string outputName;  // OUTPUT, for messages
    std::string temporary;   // the file written: beside OUTPUT, or "-"
    bool        onePicture = false;  // the container holds the first frame alone
    StageQueue  decoded{kQueueFrames, kQueueItems};
    StageQueue  patched{kQueueFrames, kQueueItems};

    // Written by the stages, read once they are joined.
    bool    moreFrames = false;  // onePicture: the input has frames after the first
    int64_t written = 0;         // frames encoded

    std::mutex mutex;  // guards failed, error and outputOpen
    std::condition_variable changed;
    bool       failed = false;
    MediaError error;  // the first failure: what the command reports
    // Opening the output copies the input's streams, metadata and chapters,
    // which reading may update; so decoding waits after the first frame
    // until the output is open.
    bool       outputOpen = false;
};

// The first failure wins; every stage then stops at its next wait.
void StageFailed(ApplyRun* run, const MediaError& error) {
    {
        std::lock_guard<std::mutex> lock(run->mutex);
        if (run->failed) return;
        run->failed = true;
        run->error = error;
        run->changed.notify_all();
    }
    run->decoded.Abandon();
    run->patched.Abandon();
}

// With --strict the first damage found ends the run: damage reading found,
// or copied packets the muxer would have refused. True when it did.
bool StrictRefuses(ApplyRun* run, const InputDamage& damage) {
    if (!run->options->strict || !AnyDamage(damage)) return false;
    StageFailed(run, {kStepDecoding, "decoding " + run->input->path + ": the input is damaged (" +
                                         DescribeDamage(damage) + "); --strict refuses it"});
    return true;
}

void SayOutputOpen(ApplyRun* run) {
    std::lock_guard<std::mutex> lock(run->mutex);
    run->outputOpen = true;
    run->changed.notify_all();
}

// False when the run failed or was stopped instead.
bool WaitForOutput(ApplyRun* run) {
    std::unique_lock<std::mutex> lock(run->mutex);
    // A signal handler cannot wake the wait, hence the timeout.
    while (!run->outputOpen && !run->failed && !g_stopSignal)
        run->changed.wait_for(lock, std::chrono::milliseconds(50));
    return run->outputOpen;
}

bool RunStopped(ApplyRun* run) {
    std::lock_guard<std::mutex> lock(run->mutex);
    return run->failed || g_stopSignal;
}

// The other streams' packets join the frames in the order they are read.
bool QueueOtherPacket(void* context, AVPacket* packet, MediaError* error) {
    ApplyRun* run = static_cast<ApplyRun*>(context);
    StageItem item;
    item.packet.reset(av_packet_alloc());
    if (!item.packet) return FailedAv(error, kStepReading, "reading", AVERROR(ENOMEM));
    av_packet_move_ref(item.packet.get(), packet);
    if (!run->decoded.Push(std::move(item))) return Failed(error, kStepInterrupted, "interrupted");
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

// The pixel format was chosen from what the container said about the video;
// the first frame decides it (its format can differ, and a palette's alpha
// shows only there), and the choice is said then.
bool SettlePixelFormat(ApplyRun* run, const AVFrame* first, MediaError* error) {
    const VideoStreamInfo& info = run->input->info;
    InputTraits traits = {info.codecId, static_cast<AVPixelFormat>(first->format), first->width, first->height,
                          OpaquePalette(first)};
    std::string usage;
    run->plan.notes.clear();
    if (!ChoosePixelFormat(run->options->encoder, traits, &run->plan, &usage))
        return Failed(error, kStepEncoding, usage);
    SayNotes(run->plan.notes, run->options->quiet);
    run->plan.notes.clear();
    return true;
}

// Decoding: every frame in order, with the other streams' packets between
// them. A picture file takes the first frame; the next is only looked for.
void DecodeStage(ApplyRun* run) {
    MediaError error;
    int64_t frames = 0;
    for (;;) {
        StageItem item;
        item.frame.reset(av_frame_alloc());
        if (!item.frame) return StageFailed(run, {kStepDecoding, "decoding: out of memory"});
        const int got = ReadVideoFrame(run->input, item.frame.get(), &item.frameNumber, &error);
        if (got < 0) return StageFailed(run, error);
        if (StrictRefuses(run, run->input->damage)) return;
        if (got == 0) break;
        if (run->onePicture && frames == 1) {
            run->moreFrames = true;
            break;
        }
        if (!run->decoded.Push(std::move(item))) return;
        if (++frames == 1 && !WaitForOutput(run)) return;
    }
    run->decoded.Finish();
}

// Patching: each frame in its own format (or converted for the filter
// first), then converted if the encoder takes another format or the size
// changed from the first frame's.
void PatchStage(ApplyRun* run) {
    MediaError error;
    RegionPatcher patcher;
    FrameConverter toWork, toEncoder;
    int width = 0, height = 0;  // the first frame's, the encoder's
    StageItem item;
    while (run->decoded.Pop(&item)) {
        if (item.frame) {
            if (width == 0) {
                if (!SettlePixelFormat(run, item.frame.get(), &error)) return StageFailed(run, error);
                width = item.frame->width;
                height = item.frame->height;
            }
            const AVPixelFormat format = run->plan.pixelFormat;
            FramePtr work(av_frame_alloc());
            AVFrame* result = nullptr;
            if (!work) return StageFailed(run, {kStepFiltering, "filtering: out of memory"});
            if (!PatchDecodedFrame(&patcher, &toWork, item.frame.get(), work.get(), format, *run->instances,
                                   item.frameNumber, &result, &error))
                return StageFailed(run, error);
            if (result == work.get()) item.frame = std::move(work);
            if (result->format != format || result->width != width || result->height != height) {
                FramePtr converted(av_frame_alloc());
                if (!converted) return StageFailed(run, {kStepFiltering, "filtering: out of memory"});
                if (!ConvertFrame(&toEncoder, item.frame.get(), converted.get(), format, width, height, &error))
                    return StageFailed(run, error);
                item.frame = std::move(converted);
            }
        }
        if (!run->patched.Push(std::move(item))) return;
    }
    run->patched.Finish();
}

// Encoding and writing: the output is opened with the first frame, the
// packets read before it are written then, every later one as it comes.
void EncodeStage(ApplyRun* run) {
    MediaError error;
    const Options& options = *run->options;
    Progress progress = StartProgress(options.quiet, run->input->info.frameCount);
    std::vector<PacketPtr> pending;
    bool open = false;
    StageItem item;
    while (run->patched.Pop(&item)) {
        if (item.packet) {
            if (open) {
                if (!CopyPacket(&run->output, item.packet.get(), &error)) return StageFailed(run, error);
                InputDamage refused;
                refused.damagedPackets = refused.droppedPackets = run->output.refusedPackets;
                if (StrictRefuses(run, refused)) return;
            } else if (pending.size() < kMaxPendingPackets) {
                pending.push_back(std::move(item.packet));
            } else {
                return StageFailed(run, {kStepDecoding, "decoding " + run->input->path +
                                                            ": no video frame within the first " +
                                                            std::to_string(kMaxPendingPackets) + " packets"});
            }
            continue;
        }
        if (!open) {
            if (!OpenVideoOutput(&run->output, run->temporary, run->outputName, run->plan, run->input->info,
                                 item.frame.get(), run->input, &error))
                return StageFailed(run, error);
            open = true;
            SayOutputOpen(run);
            if (options.verbose) fprintf(stderr, "delbrin: writing %s\n", run->temporary.c_str());
            for (PacketPtr& p : pending)
                if (!CopyPacket(&run->output, p.get(), &error)) return StageFailed(run, error);
            pending.clear();
        }
        if (!EncodeVideoFrame(&run->output, item.frame.get(), &error)) return StageFailed(run, error);
        DrawProgress(&progress, ++run->written, false);
    }
    if (RunStopped(run)) return;
    DrawProgress(&progress, run->written, true);
    if (run->written == 0)
        return StageFailed(run, {kStepDecoding, "decoding " + run->input->path + " gave no frames"});
    if (!FinishVideoOutput(&run->output, &error)) StageFailed(run, error);
}

// The three stages, each in its own thread; returns once all have ended.
void RunStages(ApplyRun* run) {
    run->input->otherPackets = QueueOtherPacket;
    run->input->otherPacketsContext = run;
    std::thread decoding(DecodeStage, run);
    std::thread patching(PatchStage, run);
    EncodeStage(run);
    patching.join();
    decoding.join();
    run->input->otherPackets = nullptr;
    run->input->otherPacketsContext = nullptr;
}

}  // namespace

bool ApplyVideo(VideoInput* input, const EncoderPlan& plan, const Options& options,
                const std::vector<PatchSettings>& instances, const std::string& path, const std::string& name,
                ApplyCounts* counts, MediaError* error) {
    ApplyRun run;
    run.input = input;
    run.plan = plan;
    run.options = &options;
    run.instances = &instances;
    run.outputName = name;
    run.temporary = path;
    run.onePicture = WritesOnePicture(plan.container);
    RunStages(&run);
    counts->frames = run.written;
    counts->moreFrames = run.moreFrames;
    counts->damage = input->damage;
    // Copied packets the muxer would have refused are damage too.
    counts->damage.damagedPackets += run.output.refusedPackets;
    counts->damage.droppedPackets = run.output.refusedPackets;
    counts->movedFrames = run.output.reorderedFrames;
    if (run.failed) *error = run.error;
    return !run.failed;
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

    // Standard output is written as it goes; a file under a temporary name
    // beside OUTPUT, renamed when complete.
    const bool toStandardOutput = IsStandardStream(output);
    std::string temporary = output;
    if (!toStandardOutput && !MakeTemporaryBeside(output, &temporary))
        return Fail(kExitRefused, "cannot create a file beside " + output + ": " + strerror(errno));
    // The output is closed (by ApplyVideo) before the temporary file is
    // removed or renamed.
    ApplyCounts counts;
    const bool ok = ApplyVideo(&input, plan, options, instances, temporary, output, &counts, &error);
    const int64_t done = counts.frames;

    if (!ok || g_stopSignal) {
        if (!toStandardOutput) unlink(temporary.c_str());
        const std::string left = toStandardOutput ? "standard output got an unfinished file"
                                                  : output + " was not written";
        if (g_stopSignal || error.step == kStepInterrupted)
            return Fail(kExitInterrupted, "interrupted after " + std::to_string(done) + " frames; " + left);
        return Fail(ExitCodeFor(error.step), error.message + " (after " + std::to_string(done) + " frames); " + left);
    }
    if (counts.moreFrames && !options.quiet)
        fprintf(stderr, "delbrin: note: the output is a picture: frame 0 written; "
                        "`delbrin preview --frame N -o OUT` writes another\n");
    if (counts.movedFrames > 0)
        fprintf(stderr, "delbrin: warning: %lld frames had a timestamp that did not increase and were moved "
                        "one tick after the previous frame\n", (long long)counts.movedFrames);
    if (!toStandardOutput && rename(temporary.c_str(), output.c_str()) != 0) {
        std::string reason = strerror(errno);
        unlink(temporary.c_str());
        return Fail(kExitRefused, "cannot rename the finished file to " + output + ": " + reason);
    }
    // Damage is told even on a terminal and with --quiet: the file lacks
    // what the input lost.
    const char* written = toStandardOutput ? "standard output" : output.c_str();
    if (AnyDamage(counts.damage))
        fprintf(stderr, "delbrin: warning: %lld frame%s written to %s; the input is damaged: %s\n", (long long)done,
                done == 1 ? "" : "s", written, DescribeDamage(counts.damage).c_str());
    else if (!options.quiet && !isatty(2))
        fprintf(stderr, "delbrin: %lld frame%s written to %s\n", (long long)done, done == 1 ? "" : "s", written);
    return kExitOk;
}
