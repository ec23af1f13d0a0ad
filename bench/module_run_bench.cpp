// The 32-bit module's frame run, timed through the stand-in host under wine:
// the host's run callback on full frames, as the host calls it, beside a copy
// of the rectangle's rows in the same program. Settings go in as a replayed
// Config line; the sizes and modes are those of the native benchmark.
//
//   module_run_bench.exe [MODULE [LABEL]]   (default: Delbrin.vdf beside it, "module")
//
// Prints one line per case in the native benchmark's summary form:
//   summary FWxFH/RWxRH LABEL MODE US_PER_FRAME NS_PER_PIXEL TIMES_COPY
// Each time is the best of several batches of frames, read with
// QueryPerformanceCounter.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "standin_host.h"

namespace {

struct Size {
    int32_t fw, fh, rw, rh;
    int frames;  // per batch
};

const Size kSizes[] = { { 1920, 1080, 480, 270, 100 }, { 720, 576, 144, 115, 600 } };
enum { kBatches = 7 };

// Feather 10 and fade on, on a frame inside the range 100...200 (full
// strength) or in its fade-in (153 of 255); or neither switch.
struct Mode {
    const char* name;
    int32_t on;
    int32_t frameNumber;
};
const Mode kModes[] = { { "feather_fade", 1, 150 }, { "feather_fade_ramp", 1, 98 },
                        { "plain_store", 0, 150 } };

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return (double)(to.QuadPart - from.QuadPart) / (double)frequency.QuadPart;
}

// Microseconds per frame, the best of the batches.
template <typename Work>
double BestMicroseconds(int frames, Work work)
{
    double best = 1e30;
    for (int batch = 0; batch < kBatches; batch++) {
        LARGE_INTEGER from, to;
        QueryPerformanceCounter(&from);
        for (int i = 0; i < frames; i++)
            work();
        QueryPerformanceCounter(&to);
        double us = Seconds(from, to) * 1e6 / frames;
        best = us < best ? us : best;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    StandinInstallFaultHandler();
    const char* module = argc > 1 ? argv[1] : nullptr;
    const char* label = argc > 2 ? argv[2] : "module";

    StandinHost host;
    if (!StandinLoad(&host, module) || StandinInitModule(&host) != 0) {
        fprintf(stderr, "the module did not load\n");
        return 1;
    }
    for (const Size& size : kSizes) {
        StandinInstance* instance = StandinCreateInstance(&host, size.fw, size.fh);
        if (instance == nullptr || StandinCallInit(instance) != 0) {
            fprintf(stderr, "no instance\n");
            return 1;
        }
        const int32_t x = size.fw / 2 - size.rw / 2, y = size.fh / 2 - size.rh / 2;
        const double pixels = (double)size.rw * size.rh;
        char name[64];
        snprintf(name, sizeof name, "%dx%d/%dx%d", size.fw, size.fh, size.rw, size.rh);

        double copy = BestMicroseconds(size.frames, [&] {
            for (int32_t r = y; r < y + size.rh; r++)
                memcpy(StandinPixel(&instance->destination, x, r),
                       StandinPixel(&instance->source, x, r), (size_t)4 * size.rw);
        });
        printf("summary %s copy - %.2f %.4f 1.00\n", name, copy, copy * 1000 / pixels);

        for (const Mode& mode : kModes) {
            int32_t numbers[kConfigNumberCount] = { size.rw, size.rh, x, y, mode.on, mode.on,
                                                    0, 0, 0, 0, 10, 5 };
            StandinCallConfigFunction(instance, numbers, "100 200", false);
            StandinCallParam(instance);
            StandinCallStart(instance);
            double us = BestMicroseconds(size.frames,
                                         [&] { StandinCallRun(instance, mode.frameNumber); });
            StandinCallEnd(instance);
            printf("summary %s %s %s %.2f %.4f %.2f\n", name, label, mode.name, us,
                   us * 1000 / pixels, us / copy);
        }
        StandinDestroyInstance(instance);
    }
    StandinDeinitModule(&host);
    StandinUnload(&host);
    return 0;
}
