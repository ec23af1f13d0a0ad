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
#include <vector>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "apply_video.h"
#include "commands.h"
#include "run_error.h"
#include "frame_convert.h"
#include "filter_setup.h"
#include "frame_deblend.h"
#include "frame_run.h"
#include "logo_mask_file.h"
#include "output_check.h"
#include "output_file.h"
#include "palette_frame.h"
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

// Says the notes the choices left (unless quiet) and clears them, so that
// each is said once.
void SayNotes(std::vector<std::string>* notes, bool quiet) {
    if (!quiet)
        for (const std::string& n : *notes) fprintf(stderr, "delbrin: note: %s\n", n.c_str());
    notes->clear();
}

// Whether a frame with alpha shows none: every colour of a palette is
// opaque (the palette, not the pixels: a later frame may use the rest), or
// every pixel of the frame is.
bool Opaque(const AVFrame* frame) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame->format));
    if (!d || !(d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_ALPHA))) return false;
    if (d->flags & AV_PIX_FMT_FLAG_PAL) {
        if (!frame->data[1]) return false;
        const uint32_t* palette = reinterpret_cast<const uint32_t*>(frame->data[1]);
        for (int i = 0; i < 256; i++)
            if ((palette[i] >> 24) != 0xFF) return false;
        return true;
    }
    const int alpha = d->nb_components - 1;
    const uint32_t opaque = (1u << d->comp[alpha].depth) - 1;
    std::vector<uint32_t> row(frame->width);
    for (int y = 0; y < frame->height; y++) {
        av_read_image_line2(row.data(), const_cast<const uint8_t**>(frame->data), frame->linesize, d, 0, y, alpha,
                            frame->width, 0, 4);
        for (uint32_t a : row)
            if (a != opaque) return false;
    }
    return true;
}

// The pixel format was chosen from what the container said about the video;
// the first frame decides it (its format can differ, and a palette's alpha
// shows only there), and the choice is said then.
bool SettlePixelFormat(ApplyRun* run, const AVFrame* first, MediaError* error) {
    InputTraits traits = InputTraitsOf(run->input->info);
    traits.pixelFormat = static_cast<AVPixelFormat>(first->format);
    traits.width = first->width;
    traits.height = first->height;
    traits.opaque = Opaque(first);
    std::string usage;
    run->plan.notes.clear();
    if (!ChoosePixelFormat(run->options->encoder, traits, &run->plan, &usage))
        return Failed(error, kStepEncoding, usage);
    SayNotes(&run->plan.notes, run->options->quiet);
    return true;
}

// --deblend: the learned logo, read once the first frame has told the
// video's coding; the frames to de-blend; the patch over the logo's nearly
// opaque parts, where it has any.
struct Deblending {
    bool          active = false;
    LogoModel     logo{};
    PatchSettings frames{};
    bool          patchingOpaquePart = false;
    PatchSettings opaquePart{};
    RegionPatcher patcher;
};

// Pixels of picture kept around the box of the logo's nearly opaque parts
// for the patch there: the patch takes its samples from the rectangle's
// second pixel in, which then lies past them.
const int kOpaquePartMargin = 2;

// Settings of an instance over rect (at least 1 x 1) without feathering,
// patching the frames of rangeText (all when empty) at full strength.
void PlainInstance(PixelRect rect, const std::string& rangeText, PatchSettings* settings) {
    ConfigCall call = DefaultConfigCall();
    int32_t* numbers = call.numbers;
    numbers[kConfigX] = rect.x;
    numbers[kConfigY] = rect.y;
    numbers[kConfigWidth] = rect.width > 0 ? rect.width : 1;
    numbers[kConfigHeight] = rect.height > 0 ? rect.height : 1;
    numbers[kConfigFeatherOn] = 0;
    // Fade length 1 with fading off: a range "s t" covers frames s to t.
    numbers[kConfigFadeOn] = 0;
    numbers[kConfigFadeFrames] = 1;
    call.rangeText = rangeText;
    SettingsFromCall(call, settings);
}

// Reads the mask for frames like the first one and sets up the frames to
// de-blend and the patch over the nearly opaque parts.
bool StartDeblending(Deblending* d, const Options& options, const AVFrame* first, MediaError* error) {
    if (!CanDeblendInPlace(first->format)) {
        const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(first->format));
        return Failed(error, kStepFiltering, std::string("--deblend: frames in ") + (name ? name : "this format") +
                                                 " are not planar YUV, grey or planar RGB");
    }
    if (!ReadLogoMask(options.deblendMask, first->width, first->height, CodingOf(first), &d->logo, error))
        return false;
    const PixelRect box = d->logo.planes[0].box;
    if (IsEmptyRect(box) && !options.quiet)
        fprintf(stderr, "delbrin: note: the mask %s shows no logo (its alpha is 0 everywhere)\n",
                options.deblendMask.c_str());
    d->active = !IsEmptyRect(box);
    PlainInstance(box, options.deblendRanges, &d->frames);
    const PixelRect opaque = PatchedBox(d->logo, kDeblendLimitDefault / 100.0f);
    d->patchingOpaquePart = !IsEmptyRect(opaque);
    PlainInstance(ClipRectToFrame(PixelRect{opaque.x - kOpaquePartMargin, opaque.y - kOpaquePartMargin,
                                            opaque.width + 2 * kOpaquePartMargin, opaque.height + 2 * kOpaquePartMargin},
                                  first->width, first->height),
                  options.deblendRanges, &d->opaquePart);
    return true;
}

// De-blends frame where the ranges say so.
bool DeblendDecodedFrame(Deblending* d, AVFrame* frame, int64_t frameNumber, MediaError* error) {
    if (!d->active || frameNumber > INT32_MAX || FrameAlpha(&d->frames, static_cast<int32_t>(frameNumber)) == 0)
        return true;  // a number past 32 bits is refused by the patching that follows
    return DeblendFrame(d->logo, d->patchingOpaquePart ? &d->opaquePart : nullptr, &d->patcher, frame,
                        static_cast<int32_t>(frameNumber), error);
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
    Deblending deblending;
    FrameConverter toWork, toEncoder;
    FrameConverter readColours, mapColours;  // to RGB32 for a palette output: before and after patching
    int width = 0, height = 0;  // the first frame's, the encoder's
    bool saidFixedPalette = false;
    StageItem item;
    while (run->decoded.Pop(&item)) {
        if (item.frame) {
            if (width == 0) {
                if (!SettlePixelFormat(run, item.frame.get(), &error)) return StageFailed(run, error);
                if (!run->options->deblendMask.empty() &&
                    !StartDeblending(&deblending, *run->options, item.frame.get(), &error))
                    return StageFailed(run, error);
                width = item.frame->width;
                height = item.frame->height;
            }
            if (!DeblendDecodedFrame(&deblending, item.frame.get(), item.frameNumber, &error))
                return StageFailed(run, error);
            const AVPixelFormat format = run->plan.pixelFormat;
            // The palette is taken before the patch changes the frame.
            const bool toPalette = format == AV_PIX_FMT_PAL8;
            const FramePalette palette = toPalette ? PaletteOf(&readColours, item.frame.get()) : FramePalette();
            if (toPalette && !palette.own && !saidFixedPalette) {
                saidFixedPalette = true;
                if (!run->options->quiet)
                    fprintf(stderr, "delbrin: note: frame %lld has more than 256 colours: it is written in 256 "
                                    "fixed colours, and so are others like it\n", (long long)item.frameNumber);
            }
            FramePtr work(av_frame_alloc());
            AVFrame* result = nullptr;
            if (!work) return StageFailed(run, {kStepFiltering, "filtering: out of memory"});
            if (!PatchDecodedFrame(&patcher, &toWork, item.frame.get(), work.get(), format, *run->instances,
                                   item.frameNumber, &result, &error))
                return StageFailed(run, error);
            if (result == work.get()) item.frame = std::move(work);
            if (toPalette) {
                FramePtr mapped(av_frame_alloc());
                if (!mapped) return StageFailed(run, {kStepFiltering, "filtering: out of memory"});
                if (!MapToPalette(&mapColours, item.frame.get(), palette, mapped.get(), &error)) return StageFailed(run, error);
                item.frame = std::move(mapped);
            } else if (result->format != format || result->width != width || result->height != height) {
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
    counts->roundedFrames = run.output.roundedFrames;
    counts->encoderName = run.plan.codec ? run.plan.codec->name : "";
    counts->encoderTime = run.output.encoder ? run.output.encoder->time_base : AVRational{0, 1};
    counts->outputVideo = run.output.video ? run.output.video->index : -1;
    if (run.failed) *error = run.error;
    return !run.failed;
}

int RunApply(const Options& options) {
    const std::string& inputName = options.positional[0];
    const std::string& output = options.positional[1];
    std::string message;
    int code = CheckOutputName(inputName, output, "OUTPUT", options.force, &message);
    if (code != kExitOk) return Fail(code, message);
    const std::vector<PatchSettings> instances = MakeInstances(options, options.border);

    VideoInput input;
    MediaError error;
    if (!OpenVideoInput(inputName, kReadAllStreams, &input, &error))
        return Fail(ExitCodeFor(error.step), error.message);
    const VideoStreamInfo& info = input.info;
    EncoderPlan plan;
    std::string usage;
    InputTraits traits = InputTraitsOf(info);
    // Standard input cannot be read twice: its GOP is the encoder's own.
    if (info.codecId == AV_CODEC_ID_MPEG2VIDEO && !IsStandardStream(inputName)) {
        const GopStructure gop = ProbeGopStructure(inputName, info.streamIndex);
        traits.gopSize = gop.gopSize;
        traits.maxBFrames = gop.maxBFrames;
    }
    if (!ChooseContainer(output, &plan, &usage) || !ChooseEncoder(options.encoder, output, traits, &plan, &usage) ||
        !ChooseQuality(options.encoder, &plan, &usage))
        return Fail(kExitUsage, usage);
    SayNotes(&plan.notes, options.quiet);
    // Checked now so that a format that cannot be is a usage error; said
    // once the first frame has settled it.
    if (!ChoosePixelFormat(options.encoder, traits, &plan, &usage)) return Fail(kExitUsage, usage);
    WarnAboutRectangles(instances, info.width, info.height);
    if (info.alphaLost)
        fprintf(stderr, "delbrin: warning: the input's alpha is lost: this FFmpeg has no libvpx decoder, the only "
                        "one that reads %s's alpha\n", avcodec_get_name(info.codecId));
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
    if (counts.roundedFrames > 0)
        fprintf(stderr, "delbrin: warning: %s counts time in %d/%d s: the timestamps of %lld frames were rounded "
                        "to it\n", counts.encoderName.c_str(), counts.encoderTime.num, counts.encoderTime.den,
                (long long)counts.roundedFrames);
    // Containers differ, and differ across FFmpeg versions, in whether they
    // store the turn: the file written is asked (standard output cannot be).
    if (!toStandardOutput && info.hasDisplayMatrix && info.rotation != 0 &&
        !StoresDisplayMatrix(temporary, counts.outputVideo))
        fprintf(stderr, "delbrin: warning: the turn by %g degrees is lost: the %s container does not store it, so "
                        "players show %s unturned; .mp4 and .mov keep it\n", info.rotation, plan.container->name,
                output.c_str());
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
