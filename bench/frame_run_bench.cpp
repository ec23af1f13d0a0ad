// The frame run on full frames, per set of kernels, beside a plain copy of
// the rectangle's rows measured in the same run: the least any pass over the
// rectangle can cost. At the end a table gives, per frame and rectangle size,
// the CPU time per frame, per rectangle pixel and as a multiple of the copy;
// each figure is the best of the repetitions (--benchmark_repetitions), as
// the machine may be shared.
//
//   frame_run_bench [--benchmark_min_time=0.2] [--benchmark_repetitions=3]
//
// The table's lines start with "summary" for scripts:
//   summary FWxFH/RWxRH KERNELS SWITCHES US_PER_FRAME NS_PER_PIXEL TIMES_COPY
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "frame_run.h"
#include "test_frames.h"

namespace {

struct Size {
    int32_t fw, fh, rw, rh;
};

const Size kSizes[] = { { 1920, 1080, 480, 270 }, { 720, 576, 144, 115 } };

// How the rectangle is laid in: feather 10 and fade on, on a frame inside
// the range (full strength) or in its fade-in (strength 153 of 255); or
// neither switch, the patch stored as it is.
enum Mode { kFeatherFade, kFeatherFadeRamp, kPlainStore };
const char* const kModeNames[] = { "feather_fade", "feather_fade_ramp", "plain_store" };

// A frame of the given size with rows exactly as long as their pixels, the
// rectangle centred in it and the range 100...200 with 5 frames of fade.
void SetUpFrame(TestFrame* frame, const Size& size, Mode mode)
{
    InitTestFrame(frame, size.fw, size.fh, 0);
    uint32_t* pixels = (uint32_t*)frame->view.data;
    for (size_t i = 0; i < (size_t)size.fw * size.fh; i++)
        pixels[i] = (uint32_t)(i * 2654435761u);
    frame->frameNumber = mode == kFeatherFadeRamp ? 98 : 150;
    PatchSettings& settings = frame->settings;
    SetRectangle(&settings, size.rw, size.rh, size.fw / 2 - size.rw / 2, size.fh / 2 - size.rh / 2);
    settings.featherOn = settings.fadeOn = mode != kPlainStore;
    settings.featherWidth = 10;
    settings.fadeFrames = 5;
    settings.rangeCount = 1;
    settings.rangeStart[0] = 100;
    settings.rangeEnd[0] = 200;
}

void SetPixelCounter(benchmark::State& state, const Size& size)
{
    state.counters["ns_per_rect_pixel"] = benchmark::Counter(
        (double)state.iterations() * size.rw * size.rh,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void PatchFrames(benchmark::State& state, Size size, Mode mode, const PatchKernels* kernels)
{
    TestFrame frame;
    SetUpFrame(&frame, size, mode);
    for (auto _ : state) {
        PatchFrameWith(&frame.settings, frame.view, frame.frameNumber, kernels);
        benchmark::DoNotOptimize(frame.view.data);
        benchmark::ClobberMemory();
    }
    SetPixelCounter(state, size);
}

// Each row of the rectangle copied into the same place of a second frame:
// the rectangle read once and written once.
void CopyRectRows(benchmark::State& state, Size size)
{
    TestFrame from, to;
    SetUpFrame(&from, size, kPlainStore);
    SetUpFrame(&to, size, kPlainStore);
    const PatchSettings& s = from.settings;
    for (auto _ : state) {
        for (int32_t r = s.y; r < s.y + s.height; r++)
            memcpy(PixelAt(&to.view, s.x, r), PixelAt(&from.view, s.x, r), (size_t)4 * s.width);
        benchmark::DoNotOptimize(to.view.data);
        benchmark::ClobberMemory();
    }
    SetPixelCounter(state, size);
}

std::string SizeName(const Size& size)
{
    return std::to_string(size.fw) + "x" + std::to_string(size.fh) + "/" +
           std::to_string(size.rw) + "x" + std::to_string(size.rh);
}

// Keeps the best CPU time per benchmark (microseconds) while the console
// reporter prints as usual. CPU time, not wall time: the machine may be
// shared, and a frame run is one thread's work.
class BestTimeReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> best;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            double us = run.GetAdjustedCPUTime();  // every benchmark reports microseconds
            std::string name = run.run_name.function_name;
            if (!best.count(name) || us < best[name])
                best[name] = us;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv)
{
    std::vector<const PatchKernels*> kernels;
    for (PatchKernelSet set : { kPatchKernelsSse2, kPatchKernelsAvx2, kPatchKernelsPlain })
        if (const PatchKernels* k = FindPatchKernels(set))
            kernels.push_back(k);

    for (const Size& size : kSizes) {
        benchmark::RegisterBenchmark(("copy/" + SizeName(size)).c_str(), CopyRectRows, size)
            ->Unit(benchmark::kMicrosecond);
        for (const PatchKernels* k : kernels)
            for (Mode mode : { kFeatherFade, kFeatherFadeRamp, kPlainStore })
                benchmark::RegisterBenchmark(
                    ("patch/" + SizeName(size) + "/" + k->name + "/" + kModeNames[mode]).c_str(),
                    PatchFrames, size, mode, k)
                    ->Unit(benchmark::kMicrosecond);
    }

    benchmark::Initialize(&argc, argv);
    BestTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    printf("\nsummary frame/rectangle kernels switches us/frame ns/rect-pixel x-copy "
           "(CPU time, best of the repetitions)\n");
    for (const Size& size : kSizes) {
        std::string copyName = "copy/" + SizeName(size);
        if (!reporter.best.count(copyName))
            continue;
        const double copy = reporter.best[copyName];
        const double pixels = (double)size.rw * size.rh;
        printf("summary %s copy - %.2f %.4f 1.00\n", SizeName(size).c_str(), copy,
               copy * 1000 / pixels);
        for (const PatchKernels* k : kernels)
            for (const char* switches : kModeNames) {
                std::string name = "patch/" + SizeName(size) + "/" + k->name + "/" + switches;
                if (!reporter.best.count(name))
                    continue;
                double us = reporter.best[name];
                printf("summary %s %s %s %.2f %.4f %.2f\n", SizeName(size).c_str(), k->name,
                       switches, us, us * 1000 / pixels, us / copy);
            }
    }
    benchmark::Shutdown();
    return 0;
}
