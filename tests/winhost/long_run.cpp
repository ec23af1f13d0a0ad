// A long processing job through the module, as the host runs one: frame
// after frame, with the settings replaced through the script function every
// few hundred frames (rectangles also outside the frame, random ranges,
// feather and fade). Every frame is checked: no pixel outside the rectangle,
// no guard byte and no byte around the settings record may change, and the
// patch must be freed. At the end the process's private memory must not have
// grown since the warm-up.
//
//   long_run.exe [frames] [seed]     (defaults 100000 and 1)
//
// Prints its figures and exits 0 on success, 1 on a failed check.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "standin_host.h"

namespace {

enum {
    kFrameWidth = 96,
    kFrameHeight = 64,
    kWarmUpFrames = 2000,
    kAllowedGrowth = 512 * 1024,  // bytes of private memory after the warm-up
};

uint32_t NextRandom(uint32_t* state)
{
    // xorshift32: deterministic, the same on every run of a seed.
    uint32_t x = *state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return *state = x;
}

int32_t RandomBetween(uint32_t* state, int32_t low, int32_t high)
{
    return low + (int32_t)(NextRandom(state) % (uint32_t)(high - low + 1));
}

// New settings for the frames from `frame` on, as a replayed Config line.
void ReplaceSettings(StandinInstance* instance, uint32_t* random, int32_t frame)
{
    int32_t numbers[kConfigNumberCount];
    numbers[kConfigWidth] = RandomBetween(random, -4, kFrameWidth + 40);
    numbers[kConfigHeight] = RandomBetween(random, -4, kFrameHeight + 40);
    numbers[kConfigX] = RandomBetween(random, -40, kFrameWidth + 8);
    numbers[kConfigY] = RandomBetween(random, -40, kFrameHeight + 8);
    for (int i = kConfigFeatherOn; i <= kConfigCancelRight; ++i) {  // the six switches
        numbers[i] = RandomBetween(random, 0, 3) == 0 ? RandomBetween(random, -2, 9) : 0;
    }
    numbers[kConfigFeatherWidth] = RandomBetween(random, -5, 60);
    numbers[kConfigFadeFrames] = RandomBetween(random, -5, 60);
    if (NextRandom(random) % 16 == 0) {
        numbers[kConfigWidth] = (int32_t)NextRandom(random);  // anything a script may hold
        numbers[kConfigX] = (int32_t)NextRandom(random);
    }

    // Ranges around the frames to come, some of them dropped by the parser.
    std::string text;
    int ranges = RandomBetween(random, 0, 6);
    for (int i = 0; i < ranges; ++i) {
        int32_t start = frame + RandomBetween(random, -100, 500);
        int32_t end = start + RandomBetween(random, -10, 200);
        text += std::to_string(start) + " " + std::to_string(end) + ", ";
    }
    if (NextRandom(random) % 32 == 0) {
        // Now and then a script text longer than the table and its text hold.
        for (int i = 0; i < 600; ++i) {
            int32_t start = frame + RandomBetween(random, -1000, 100000);
            text += std::to_string(start) + "," + std::to_string(start + 7) + "\r\n";
        }
    }
    StandinCallConfigFunction(instance, numbers, text.c_str(), NextRandom(random) % 2 == 0);
    instance->settings->showBorder = NextRandom(random) % 4 == 0;
}

// The process's committed private memory. Windows reports it as both the
// page-file and the private usage; wine fills in only the first.
size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters;
    memset(&counters, 0, sizeof counters);
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS*)&counters,
                         sizeof counters);
    return counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage
                                                          : counters.PagefileUsage;
}

// True when every pixel outside the settings' rectangle, cut to the frame,
// still holds the painted pattern. Counts the frames with a pixel changed
// inside, so the figures show how much of the run was patched.
bool OutsideUntouched(StandinInstance* instance, long* patchedFrames)
{
    const PatchSettings* s = instance->settings;
    StandinChanges changes = StandinCountChanges(instance, s->x, s->y, s->width, s->height);
    if (changes.outside > 0) {
        fprintf(stderr, "%ld pixels outside the rectangle changed\n", changes.outside);
        return false;
    }
    *patchedFrames += changes.inside > 0;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    StandinInstallFaultHandler();
    const long frames = argc > 1 ? atol(argv[1]) : 100000;
    uint32_t random = argc > 2 ? (uint32_t)atol(argv[2]) : 1;
    if (random == 0) {
        random = 1;
    }

    StandinHost host;
    if (!StandinLoad(&host, nullptr) || StandinInitModule(&host) != 0) {
        fprintf(stderr, "the module did not load\n");
        return 1;
    }
    StandinInstance* instance = StandinCreateInstance(&host, kFrameWidth, kFrameHeight);
    if (instance == nullptr || StandinCallInit(instance) != 0) {
        fprintf(stderr, "no instance\n");
        return 1;
    }
    StandinCallParam(instance);
    StandinCallStart(instance);

    DWORD startTicks = GetTickCount();
    size_t warmBytes = 0;
    size_t peakBytes = 0;
    long changes = 0;
    long patchedFrames = 0;
    long nextChange = 0;
    for (long frame = 0; frame < frames; ++frame) {
        if (frame == nextChange) {
            // A new pass: the host ends the old one and starts a new one.
            StandinCallEnd(instance);
            ReplaceSettings(instance, &random, (int32_t)frame);
            StandinCallParam(instance);
            StandinCallStart(instance);
            nextChange = frame + RandomBetween(&random, 100, 500);
            ++changes;
        }
        uint32_t seed = (uint32_t)frame * 2654435761u;
        StandinPaintFrame(instance, seed);
        if (StandinCallRun(instance, (int32_t)frame) != 0) {
            fprintf(stderr, "frame %ld: run failed\n", frame);
            return 1;
        }
        if (!StandinInstanceIntact(instance) || instance->settings->patchPixels != nullptr ||
            !OutsideUntouched(instance, &patchedFrames)) {
            fprintf(stderr, "frame %ld: written outside the rectangle or the patch kept\n", frame);
            return 1;
        }
        // A patch left allocated every frame would add its bytes at this
        // rate; the memory is sampled now and then, which is plenty for that.
        if (frame == kWarmUpFrames) {
            warmBytes = PrivateBytes();
        }
        if (frame >= kWarmUpFrames && frame % 100 == 0) {
            size_t now = PrivateBytes();
            peakBytes = now > peakBytes ? now : peakBytes;
        }
    }
    StandinCallEnd(instance);
    size_t endBytes = PrivateBytes();
    DWORD elapsed = GetTickCount() - startTicks;

    printf("frames %ld (%ld patched), settings changes %ld, %lu ms\n", frames, patchedFrames,
           changes, (unsigned long)elapsed);
    printf("private bytes after warm-up %lu, peak %lu, at the end %lu\n",
           (unsigned long)warmBytes, (unsigned long)peakBytes, (unsigned long)endBytes);

    StandinDestroyInstance(instance);
    StandinDeinitModule(&host);
    StandinUnload(&host);
    if (frames > kWarmUpFrames && peakBytes > warmBytes + kAllowedGrowth) {
        fprintf(stderr, "private memory grew by %lu bytes\n",
                (unsigned long)(peakBytes - warmBytes));
        return 1;
    }
    // A run that patches nothing proves nothing about the frames it passed.
    if (patchedFrames == 0) {
        fprintf(stderr, "no frame was patched\n");
        return 1;
    }
    return 0;
}
