// The frame run on full frames, to measure speed work against.
#include <benchmark/benchmark.h>

#include "frame_run.h"
#include "test_frames.h"

// Frame width, frame height, rectangle width, rectangle height, and whether
// feather and fade are on.
static void BM_PatchFrame(benchmark::State& state)
{
    const int32_t fw = (int32_t)state.range(0), fh = (int32_t)state.range(1);
    const int32_t rw = (int32_t)state.range(2), rh = (int32_t)state.range(3);
    const bool blended = state.range(4) != 0;

    TestFrame frame;
    InitTestFrame(&frame, fw, fh, 0);  // rows exactly as long as their pixels
    uint32_t* pixels = (uint32_t*)frame.view.data;
    for (size_t i = 0; i < (size_t)fw * fh; i++)
        pixels[i] = (uint32_t)(i * 2654435761u);
    frame.frameNumber = 150;
    PatchSettings& settings = frame.settings;
    SetRectangle(&settings, rw, rh, fw / 2 - rw / 2, fh / 2 - rh / 2);
    settings.featherOn = settings.fadeOn = blended;
    settings.rangeCount = 1;
    settings.rangeStart[0] = 0;
    settings.rangeEnd[0] = 152;  // frame 150 is inside, at full strength

    for (auto _ : state) {
        PatchTestFrame(&frame);
        benchmark::DoNotOptimize(pixels);
        benchmark::ClobberMemory();
    }
    state.counters["ns_per_rect_pixel"] = benchmark::Counter(
        (double)state.iterations() * rw * rh,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_PatchFrame)
    ->ArgNames({ "fw", "fh", "rw", "rh", "feather_fade" })
    ->Args({ 1920, 1080, 480, 270, 1 })
    ->Args({ 1920, 1080, 480, 270, 0 })
    ->Args({ 720, 576, 144, 115, 1 })
    ->Args({ 720, 576, 144, 115, 0 })
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
