// delbrin detect: samples frames spread over a video file, finds the logo in
// them (logo_detect.h), and prints the rectangle, the filter's summary and a
// Config line to paste into a host script or to give `delbrin apply`. With
// --ranges it also finds the frames the logo shows in, to the frame, and
// puts them into the Config line; with --preview it writes a frame with the
// rectangle's dotted border drawn by the filter itself.
#include "detect_command.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "av_owners.h"
#include "commands.h"
#include "run_error.h"
#include "frame_convert.h"
#include "frame_ranges.h"
#include "frame_deblend.h"
#include "frame_sampler.h"
#include "logo_mask.h"
#include "logo_mask_file.h"
#include "output_check.h"
#include "picture_file.h"
#include "patch_settings.h"
#include "script_line.h"
#include "stop_signal.h"

namespace {

const char kHelp[] =
    "usage:\n"
    "  delbrin detect INPUT [--frames N] [--margin PX] [--ranges] [--preview OUT.png [--force]]\n"
    "                       [--json] [--mask M.png [--rect X,Y,W,H]]\n"
    "\n"
    "Finds a station logo or watermark: the pixels whose values and edges stay\n"
    "put while the picture around them moves. Samples N frames spread over the\n"
    "whole file (default 300), pads the logo by PX pixels (default 4) and prints\n"
    "the rectangle, the filter's summary and a Config line (feathered over the\n"
    "margin) for a host script or `delbrin apply --config`. Other candidates\n"
    "follow, best first.\n"
    "\n"
    "  --ranges   also find the frames the logo shows in (to within a frame or\n"
    "             two; frames numbered from 0 as `delbrin apply` numbers them)\n"
    "             and put them into the Config line, each range widened by two\n"
    "             frames on both sides and covered from its first to its last\n"
    "             frame (fade length 1, fading off); a break of under a second\n"
    "             between two showings is covered too\n"
    "  --preview  write a frame showing the logo, with the rectangle's dotted\n"
    "             border drawn by the filter (feathering off so that it shows);\n"
    "             an existing OUT.png is replaced only with --force\n"
    "  --mask     also learn the logo's alpha and colour per pixel, from the\n"
    "             sampled frames that show it, and write them as M.png: a\n"
    "             frame-sized RGBA picture, 16 bits a channel, alpha 0 outside\n"
    "             the logo, to touch up in an image editor and give to\n"
    "             `delbrin apply --deblend`\n"
    "  --rect     with --mask: learn the logo inside this rectangle instead of\n"
    "             finding it\n"
    "  --json     print the same as one JSON object: the detected region, the\n"
    "             proposed rectangle, summary, config, shown spans, candidates\n"
    "\n"
    "exit codes:\n"
    "  0    a logo was found\n"
    "  1    decoding the input's video failed\n"
    "  2    bad command line\n"
    "  3    INPUT cannot be opened or read, or holds no video\n"
    "  4    the preview would overwrite INPUT, or exists (without --force)\n"
    "  5    encoding the preview picture failed\n"
    "  6    writing the preview picture failed\n"
    "  7    converting a frame for the preview failed\n"
    "  10   no stable region found: nothing stays put like a logo\n"
    "  11   the file is too short to tell (fewer than 12 frames)\n"
    "  12   the picture hardly changes, so a logo cannot be told from it\n"
    "  13   the picture is too small to analyse (under 8 pixels wide or high)\n"
    "  130  interrupted; no preview was written\n";

const int kRangePad = 2;             // frames added to each end of a shown span
const int kMaxCandidates = 5;

// An analysis rectangle in frame pixels, rounded outwards.
PixelRect ToFrame(PixelRect r, int factor) {
    return {r.x * factor, r.y * factor, r.width * factor, r.height * factor};
}

PixelRect AddMargin(PixelRect r, int margin, int32_t width, int32_t height) {
    return ClipRectToFrame({r.x - margin, r.y - margin, r.width + 2 * margin, r.height + 2 * margin}, width, height);
}

// Where a logo appears or leaves between two samples: decodes the frames in
// between, each deciding by the signature where it can and by its
// neighbours where it cannot (the two samples' states at the ends), and puts
// the change where the fewest frames disagree with it. Returns the first
// frame of the new state.
bool FindChange(VideoInput* input, const LogoSignature& signature, int factor, int64_t before, int64_t after,
                bool appears, int64_t* change, MediaError* error) {
    std::vector<int64_t> between;
    for (int64_t n = before + 1; n < after; n++) between.push_back(n);
    std::vector<int64_t> numbers;
    std::vector<LogoShown> answers = {appears ? kLogoAbsent : kLogoShown};
    bool ok = ReadSamplePlanes(input, between, factor, [&](const SamplePlanes& frame) {
        numbers.push_back(frame.frameNumber);
        answers.push_back(MatchLogo(signature, frame).shown);
        return true;
    }, error);
    if (!ok) return false;
    answers.push_back(appears ? kLogoShown : kLogoAbsent);
    const std::vector<uint8_t> shown = ResolvePresence(answers);
    // Frames before the change should show the old state, frames from it
    // on the new one; count the ones that do not, for each place. A frame
    // that shows the logo is worth more than one that does not: the change
    // goes where no showing frame is left out.
    const int64_t kShownWorth = 4;
    auto cost = [&](size_t i, bool newState) -> int64_t {
        const bool shows = shown[i + 1] != 0;
        const bool covered = newState == appears;  // the logo is taken as shown there
        return shows == covered ? 0 : shows ? kShownWorth : 1;
    };
    int64_t wrong = 0;
    for (size_t i = 0; i < numbers.size(); i++) wrong += cost(i, false);  // all in the old state
    int64_t best = wrong, bestAt = after;
    for (size_t i = numbers.size(); i-- > 0;) {
        wrong += cost(i, true) - cost(i, false);  // frame i moves to the new state
        if (wrong < best || (wrong == best && appears)) {
            best = wrong;
            bestAt = numbers[i];
        }
    }
    *change = bestAt;
    return true;
}

// A broadcaster does not take its logo off for a moment: a break of less
// than a second between two showings is the match missing frames that show
// it (over a picture of the logo's own colour, after a cut the codec
// smears), and is taken as shown. An ad break lasts longer. A second is 25
// frames when the file gives no rate.
int64_t FramesInASecond(const VideoInput& input) {
    const AVRational rate = input.info.frameRate;
    if (rate.num <= 0 || rate.den <= 0) return 25;
    return std::max<int64_t>(1, (rate.num + rate.den / 2) / rate.den);
}

// Joins the spans whose break is shorter than `shortest` frames.
void JoinShortBreaks(int64_t shortest, std::vector<FrameSpan>* spans) {
    std::vector<FrameSpan> joined;
    for (const FrameSpan& s : *spans) {
        if (!joined.empty() && s.first - joined.back().last - 1 < shortest)
            joined.back().last = s.last;
        else
            joined.push_back(s);
    }
    *spans = std::move(joined);
}

// The spans of frames the candidate shows in, from its samples, each change
// found to the frame, short breaks joined. The frames before the first
// sample and after the last take the state of their nearest sample.
bool ShownSpans(VideoInput* input, const LogoDetection& detection, const LogoCandidate& logo, int factor,
                std::vector<FrameSpan>* spans, MediaError* error) {
    const std::vector<int64_t>& frames = detection.frameNumbers;
    const size_t count = frames.size();
    int64_t start = logo.present[0] ? 0 : -1;
    for (size_t k = 0; k + 1 < count; k++) {
        if (logo.present[k] == logo.present[k + 1]) continue;
        int64_t change;
        if (!FindChange(input, logo.signature, factor, frames[k], frames[k + 1], logo.present[k + 1] != 0, &change,
                        error))
            return false;
        if (logo.present[k + 1]) {
            start = change;
        } else {
            spans->push_back({start, change - 1});
            start = -1;
        }
    }
    if (start >= 0) spans->push_back({start, input->index.frameCount - 1});
    JoinShortBreaks(FramesInASecond(*input), spans);
    return true;
}

// The characters the ranges take in the record's normal form.
int NormalFormLength(const std::vector<FrameSpan>& ranges) {
    int length = 0;
    for (const FrameSpan& r : ranges)
        length += snprintf(nullptr, 0, "%lld %lld\r\n", (long long)r.first, (long long)r.last);
    return length;
}

// The Config line's ranges for the shown spans. The filter patches frames
// strictly between a range's two numbers, and with fade length f also the
// f - 1 frames before and after them (at full strength while fading is off).
// Fade length 1 therefore makes a range "s t" patch the frames s to t, both
// included, which reads plainly; each span is widened by two frames on both
// sides, so that a change found a frame or two off, or a logo fading in and
// out over a few frames, stays covered. Spans that then meet are merged,
// and when the record's table or text would overflow, the shortest gaps are
// closed (patching a few frames without a logo rather than missing one with).
std::string RangeTextFor(const std::vector<FrameSpan>& spans, int64_t frameCount) {
    std::vector<FrameSpan> ranges;
    for (const FrameSpan& s : spans) {
        FrameSpan r = {std::max<int64_t>(0, s.first - kRangePad),
                       std::min(frameCount - 1, s.last + kRangePad)};
        if (!ranges.empty() && r.first <= ranges.back().last + 1)
            ranges.back().last = std::max(ranges.back().last, r.last);
        else
            ranges.push_back(r);
    }
    while (ranges.size() > 1 &&
           ((int)ranges.size() > kMaxRanges || NormalFormLength(ranges) >= kRangeTextSize)) {
        size_t shortest = 1;
        for (size_t i = 2; i < ranges.size(); i++)
            if (ranges[i].first - ranges[i - 1].last < ranges[shortest].first - ranges[shortest - 1].last)
                shortest = i;
        ranges[shortest - 1].last = ranges[shortest].last;
        ranges.erase(ranges.begin() + shortest);
    }
    // Shown throughout: no ranges, every frame is patched.
    if (ranges.size() == 1 && ranges[0].first == 0 && ranges[0].last == frameCount - 1) return "";
    std::string text;
    for (const FrameSpan& r : ranges) text += std::to_string(r.first) + " " + std::to_string(r.last) + ", ";
    return text;
}

// ---------------------------------------------------------------------------
// Output

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += (char)c;
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += (char)c;
        }
    }
    return out + "\"";
}

std::string JsonRect(const PixelRect& r) {
    char text[128];
    snprintf(text, sizeof text, "{\"x\": %d, \"y\": %d, \"width\": %d, \"height\": %d}", r.x, r.y, r.width,
             r.height);
    return text;
}

const char* VerdictName(DetectVerdict verdict) {
    switch (verdict) {
    case kDetectFound: return "found";
    case kDetectNothing: return "no_logo";
    case kDetectTooShort: return "too_short";
    case kDetectStatic: return "static";
    case kDetectTooSmall: return "too_small";
    }
    return "?";
}

std::string VerdictMessage(const DetectReport& r) {
    switch (r.verdict) {
    case kDetectFound: return "";
    case kDetectNothing: return "no stable region found: nothing in the picture stays put like a logo";
    case kDetectTooShort:
        return "the file is too short to tell a logo from the picture (" + std::to_string(r.frameCount) +
               " frames; at least " + std::to_string(kMinDetectSamples) + " are needed)";
    case kDetectStatic:
        return "the picture hardly changes, so the file cannot tell a logo from the picture";
    case kDetectTooSmall:
        return "the picture is too small to analyse: " + std::to_string(r.width) + "x" + std::to_string(r.height) +
               "; at least " + std::to_string(r.neededWidth) + "x" + std::to_string(r.neededHeight) + " needed";
    }
    return "";
}

void PrintText(const DetectOptions& options, const DetectReport& r, const PatchSettings& settings) {
    const FoundLogo& best = r.logos[0];
    char summary[kSummaryMaxLength + 1];
    FormatSummary(&settings, summary);
    char config[2048];
    FormatConfigLine(&settings, config, sizeof config);
    printf("logo at %d,%d, %dx%d (the rectangle with a margin of %d: %d,%d %dx%d)\n", best.region.x,
           best.region.y, best.region.width, best.region.height, options.margin, best.rectangle.x,
           best.rectangle.y, best.rectangle.width, best.rectangle.height);
    printf("summary:%s\n", summary);
    if (options.ranges) {
        printf("shown in frames:");
        for (const FrameSpan& s : r.shown) printf(" %lld-%lld", (long long)s.first, (long long)s.last);
        printf(r.rangeText.empty() ? " (all of them: no ranges needed)\n" : "\n");
    }
    printf("%s\n", config);
    if (r.logos.size() > 1) {
        printf("other candidates, best first:\n");
        for (size_t i = 1; i < r.logos.size(); i++) {
            const FoundLogo& c = r.logos[i];
            printf("  %d,%d %dx%d (score %.0f against %.0f)\n", c.region.x, c.region.y, c.region.width,
                   c.region.height, c.score, best.score);
        }
    }
}

void PrintJson(const DetectOptions& options, const DetectReport& r, const PatchSettings* settings) {
    printf("{\n  \"input\": %s,\n", JsonString(options.input).c_str());
    printf("  \"width\": %d, \"height\": %d, \"frames\": %lld, \"frame_rate\": %.6g, \"sampled\": %d,\n",
           r.width, r.height, (long long)r.frameCount, r.frameRate, r.sampled);
    printf("  \"verdict\": \"%s\"", VerdictName(r.verdict));
    if (r.verdict != kDetectFound) {
        printf(",\n  \"message\": %s\n}\n", JsonString(VerdictMessage(r)).c_str());
        return;
    }
    const FoundLogo& best = r.logos[0];
    char summary[kSummaryMaxLength + 1];
    FormatSummary(settings, summary);
    char config[2048];
    FormatConfigLine(settings, config, sizeof config);
    printf(",\n  \"region\": %s,\n  \"rectangle\": %s,\n  \"margin\": %d,\n", JsonRect(best.region).c_str(),
           JsonRect(best.rectangle).c_str(), options.margin);
    printf("  \"score\": %.1f, \"opacity\": %.2f,\n", best.score, best.opacity);
    printf("  \"summary\": %s,\n  \"config\": %s", JsonString(summary).c_str(), JsonString(config).c_str());
    if (options.ranges) {
        printf(",\n  \"shown\": [");
        for (size_t i = 0; i < r.shown.size(); i++)
            printf("%s[%lld, %lld]", i ? ", " : "", (long long)r.shown[i].first, (long long)r.shown[i].last);
        printf("],\n  \"ranges\": %s", JsonString(r.rangeText).c_str());
    }
    printf(",\n  \"candidates\": [\n");
    for (size_t i = 0; i < r.logos.size(); i++) {
        const FoundLogo& c = r.logos[i];
        printf("    {\"region\": %s, \"rectangle\": %s, \"score\": %.1f, \"opacity\": %.2f}%s\n",
               JsonRect(c.region).c_str(), JsonRect(c.rectangle).c_str(), c.score, c.opacity,
               i + 1 < r.logos.size() ? "," : "");
    }
    printf("  ]\n}\n");
}

// Learns the logo inside rect from frames spread over the video (only those
// inside shown, when there are spans) and writes it to path as a mask
// picture.
bool WriteLogoMask(VideoInput* input, PixelRect rect, const std::vector<FrameSpan>& shown, int frames,
                   const std::string& path, MediaError* error) {
    std::vector<int64_t> numbers;
    for (int64_t n : SpreadFrameNumbers(input->index, frames)) {
        bool inside = shown.empty();
        for (const FrameSpan& s : shown) inside |= n >= s.first && n <= s.last;
        if (inside) numbers.push_back(n);
    }
    LogoLearner learner;
    ColourCoding coding{};
    bool started = false, refused = false;
    bool ok = ReadChosenFrames(input, numbers, [&](int64_t, AVFrame* f) {
        if (!started) {
            if (!CanDeblendInPlace(f->format)) {
                const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format));
                refused = true;
                return Failed(error, kStepFiltering, std::string("learning the logo: frames in ") +
                                                         (name ? name : "this format") +
                                                         " are not planar YUV, grey or planar RGB");
            }
            const FramePlanes planes = PlanesOf(f);
            coding = CodingOf(f);
            StartLogoLearning(&learner, rect, f->width, f->height, planes.chromaShiftX, planes.chromaShiftY,
                              planes.count, planes.planes[0].bitDepth);
            started = true;
        } else if (f->width != learner.frameWidth || f->height != learner.frameHeight || !CanDeblendInPlace(f->format)) {
            return true;  // a frame of another size or format tells nothing about this one's logo
        }
        AddLogoSample(&learner, PlanesOf(f).planes);
        return true;
    }, error);
    if (!ok || refused) return false;
    if (learner.frames < kMinLogoFrames)
        return Failed(error, kStepFiltering, "learning the logo: only " + std::to_string(learner.frames) +
                                                 " sampled frames show a new picture under it; at least " +
                                                 std::to_string(kMinLogoFrames) + " are needed (try more --frames)");
    FramePtr picture(MaskPicture(LearnedLogo(learner), coding));
    if (!picture) return Failed(error, kStepFiltering, "learning the logo: out of memory");
    if (!WritePngFile(picture.get(), path, error)) return false;
    fprintf(stderr, "delbrin: the logo, learned from %lld frames, written to %s\n", (long long)learner.frames,
            path.c_str());
    return true;
}

// The frame, patched by the filter with the border on, as the preview: what
// `delbrin preview` writes for the Config line, without the feathering.
bool WritePreview(VideoInput* input, const DetectReport& r, const PatchSettings& settings,
                  const std::string& path, MediaError* error) {
    // The border lies on the rectangle's outermost pixels, which feathering
    // gives no weight, so the preview is drawn without feathering.
    std::vector<PatchSettings> shown(1, settings);
    shown[0].showBorder = 1;
    shown[0].featherOn = 0;
    FramePtr frame(av_frame_alloc());
    FramePtr work(av_frame_alloc());
    if (!frame || !work) return Failed(error, kStepFiltering, "filtering: out of memory");
    bool got = false;
    if (!ReadChosenFrames(input, {r.previewFrame}, [&](int64_t, AVFrame* f) {
            got = av_frame_ref(frame.get(), f) >= 0;
            return false;
        }, error))
        return false;
    if (!got)
        return Failed(error, kStepDecoding, "decoding " + input->path + ": frame " + std::to_string(r.previewFrame) +
                                                " did not come out again");
    RegionPatcher patcher;
    FrameConverter converter;
    AVFrame* patched = nullptr;
    return PatchDecodedFrame(&patcher, &converter, frame.get(), work.get(), AV_PIX_FMT_NONE, shown, r.previewFrame,
                             &patched, error) &&
           WritePngFile(patched, path, error);
}

}  // namespace

// The filter's settings for a logo: the proposed rectangle, feathered over
// the margin (the feather ramp then ends where the logo begins), and the
// ranges when there are any.
void SettingsForLogo(const FoundLogo& logo, int margin, const std::string& rangeText,
                     PatchSettings* settings) {
    ConfigCall call = DefaultConfigCall();
    int32_t* numbers = call.numbers;
    numbers[kConfigWidth] = logo.rectangle.width;
    numbers[kConfigHeight] = logo.rectangle.height;
    numbers[kConfigX] = logo.rectangle.x;
    numbers[kConfigY] = logo.rectangle.y;
    numbers[kConfigFeatherOn] = margin > 0;
    numbers[kConfigFeatherWidth] = std::min(margin, 50);
    if (!rangeText.empty()) {
        numbers[kConfigFadeOn] = 0;
        numbers[kConfigFadeFrames] = 1;
    }
    call.rangeText = rangeText;
    SettingsFromCall(call, settings);
}

namespace {

int AnalyseInput(VideoInput* input, const DetectOptions& options, DetectReport* r) {
    const VideoStreamInfo& info = input->info;
    r->width = info.width;
    r->height = info.height;
    r->frameCount = input->index.frameCount;
    r->frameRate = info.frameRate.num > 0 && info.frameRate.den > 0 ? av_q2d(info.frameRate) : 0;

    const int factor = AnalysisFactor(info.width);
    // Told before any frame is read: a frame too small for the analysis
    // would otherwise pass for a file with too few frames.
    r->neededWidth = kMinDetectSide * factor;
    r->neededHeight = kMinDetectSide * factor;
    if (info.width / factor < kMinDetectSide || info.height / factor < kMinDetectSide) {
        r->verdict = kDetectTooSmall;
        return kExitTooSmall;
    }
    std::vector<int64_t> numbers = SpreadFrameNumbers(input->index, options.frames);
    MediaError error;
    SampleSource source;
    source.width = info.width / factor;
    source.height = info.height / factor;
    source.expected = (int64_t)numbers.size();
    source.read = [&](const SampleVisitor& visit) {
        return ReadSamplePlanes(input, numbers, factor, visit, &error);
    };
    LogoDetection detection;
    bool ok = DetectLogos(source, kMaxCandidates, &detection);
    r->sampled = static_cast<int>(detection.frameNumbers.size());
    r->verdict = detection.verdict;
    FineSamples fine;
    fine.width = info.width;
    fine.height = info.height;
    fine.factor = factor;
    fine.interlaced = info.fieldOrder != AV_FIELD_PROGRESSIVE && info.fieldOrder != AV_FIELD_UNKNOWN;
    fine.read = [&](const std::vector<int64_t>& frames, const SampleVisitor& visit) {
        return ReadSamplePlanes(input, frames, 1, visit, &error);
    };
    for (const LogoCandidate& c : detection.candidates) {
        FoundLogo logo;
        logo.region = ToFrame(c.region, factor);
        // The proposed one's region to the frame's pixel; the others' are
        // only listed.
        if (ok && r->logos.empty() && !RefineRegion(fine, detection, c, &logo.region)) ok = false;
        logo.rectangle = AddMargin(logo.region, options.margin, info.width, info.height);
        logo.score = c.score;
        logo.opacity = c.opacity;
        r->logos.push_back(logo);
    }
    if (ok && r->verdict == kDetectFound) {
        const LogoCandidate& best = detection.candidates[0];
        // The preview shows the sample in the middle of those showing the logo.
        std::vector<int64_t> showing;
        for (size_t k = 0; k < best.present.size(); k++)
            if (best.present[k]) showing.push_back(detection.frameNumbers[k]);
        r->previewFrame = showing.empty() ? detection.frameNumbers[0] : showing[showing.size() / 2];
        if (options.ranges) {
            ok = ShownSpans(input, detection, best, factor, &r->shown, &error);
            r->rangeText = RangeTextFor(r->shown, r->frameCount);
        }
    }
    if (ok && g_stopSignal) ok = Failed(&error, kStepInterrupted, "interrupted");
    if (!ok) {
        r->error = error.message;
        return ExitCodeFor(error.step);
    }
    switch (r->verdict) {
    case kDetectFound: return kExitOk;
    case kDetectNothing: return kExitNoLogo;
    case kDetectTooShort: return kExitTooShort;
    case kDetectStatic: return kExitStillPicture;
    case kDetectTooSmall: return kExitTooSmall;
    }
    return kExitNoLogo;
}

}  // namespace

int AnalyseVideo(const DetectOptions& options, DetectReport* report) {
    VideoInput input;
    MediaError error;
    int code = OpenVideoInput(options.input, kSampleFrames, &input, &error) ? AnalyseInput(&input, options, report)
                                                                             : ExitCodeFor(error.step);
    if (report->error.empty()) report->error = error.message;
    return code;
}

int RunDetect(const Options& command) {
    if (command.help) {
        fputs(kHelp, stdout);
        return kExitOk;
    }
    if (command.positional.size() != 1) {
        fputs(kHelp, stderr);
        return kExitUsage;
    }
    DetectOptions options;
    options.input = command.positional[0];
    options.frames = command.sampleFrames;
    options.margin = command.margin;
    options.ranges = command.findRanges;
    const std::string& previewPath = command.picturePath;
    const bool json = command.json;
    const std::string& maskPath = command.maskPath;
    const bool rectGiven = !command.instances.empty();
    if (previewPath == "-")
        return Fail(kExitUsage, "--preview - would mix the picture with the report on standard output; "
                                "name a file");
    if (rectGiven && (maskPath.empty() || command.instances.size() > 1 || options.ranges || !previewPath.empty() || json))
        return Fail(kExitUsage, "--rect goes with --mask alone: the logo is learned there, not searched for");
    if (maskPath == "-")
        return Fail(kExitUsage, "--mask - would mix the picture with the report on standard output; name a file");
    if (!maskPath.empty() && maskPath == previewPath)
        return Fail(kExitUsage, "--mask and --preview name the same file");
    std::string refusal;
    if (!maskPath.empty())
        if (int code = CheckOutputName(options.input, maskPath, "the mask", command.force, &refusal))
            return Fail(code, refusal);
    if (!previewPath.empty()) {
        if (int code = CheckOutputName(options.input, previewPath, "the preview", command.force, &refusal))
            return Fail(code, refusal);
    } else if (command.force && maskPath.empty()) {
        return Fail(kExitUsage, "--force belongs to --preview or --mask, neither of which is given; see delbrin detect --help");
    }

    VideoInput input;
    MediaError error;
    DetectReport report;
    if (!OpenVideoInput(options.input, kSampleFrames, &input, &error))
        return Fail(ExitCodeFor(error.step), error.message);
    if (rectGiven) {
        const ConfigCall& given = command.instances[0].call;
        const PixelRect rect = {given.numbers[kConfigX], given.numbers[kConfigY], given.numbers[kConfigWidth],
                                given.numbers[kConfigHeight]};
        if (IsEmptyRect(ClipRectToFrame(rect, input.info.width, input.info.height)))
            return Fail(kExitUsage, "--rect lies outside the " + std::to_string(input.info.width) + "x" +
                                        std::to_string(input.info.height) + " frame");
        if (!WriteLogoMask(&input, rect, {}, options.frames, maskPath, &error))
            return Fail(ExitCodeFor(error.step), error.message);
        return kExitOk;
    }
    int code = AnalyseInput(&input, options, &report);
    if (code != kExitOk && !report.error.empty()) {
        fprintf(stderr, "delbrin: %s\n", report.error.c_str());
    } else if (report.verdict != kDetectFound) {
        if (json) PrintJson(options, report, nullptr);
        fprintf(stderr, "delbrin: %s: %s\n", options.input.c_str(), VerdictMessage(report).c_str());
    } else {
        static PatchSettings settings;
        SettingsForLogo(report.logos[0], options.margin, report.rangeText, &settings);
        if (json)
            PrintJson(options, report, &settings);
        else
            PrintText(options, report, settings);
        if (!previewPath.empty() && !WritePreview(&input, report, settings, previewPath, &error))
            code = Fail(ExitCodeFor(error.step), error.message);
        if (code == kExitOk && !maskPath.empty() &&
            !WriteLogoMask(&input, report.logos[0].rectangle, report.shown, options.frames, maskPath, &error))
            code = Fail(ExitCodeFor(error.step), error.message);
    }
    return code;
}
