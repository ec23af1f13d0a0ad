// The module's frame run held against the oracle, inside the 32-bit module
// with its own code generation: every case of the shared list is replayed
// into an instance as a Config line (the border switched in the record, as
// the dialog does), its frame handed to the run callback, called with the
// stack at each 4-byte offset from a 16-byte boundary in turn, and the result
// compared byte for byte, guards included, with the oracle's on a copy of the
// frame and of the instance's settings record.
//
//   module_kernels_test.exe [MODULE]   (default: Delbrin.vdf beside the program)
//
// Exits 0 when every case matches, 1 at the first that does not, and
// kStandinFaultExit after a fault.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "frame_cases.h"
#include "frame_run.h"
#include "patch_oracle.h"
#include "standin_host.h"

// Calls the run callback as StandinCallRun does, but with the stack pointer
// `offset` bytes off a 16-byte boundary at the call: a host built for the
// 32-bit Windows convention keeps the stack aligned to 4 bytes only. The
// 64-bit convention always keeps 16 bytes, so there the offset is ignored.
static int CallRunAtStackOffset(StandinInstance* instance, int32_t frameNumber, int32_t offset)
{
    instance->frameState.state.currentFrame = frameNumber;
    instance->destination.bitmap.data = (uint32_t*)instance->destination.pixels.data;
    struct {
        FilterRunProc run;
        const Activation* activation;
        const HostFunctions* functions;
        int32_t offset;
        int32_t result;
    } call = { instance->host->registered.run, &instance->activation, &instance->host->functions,
               offset, 0 };
#if defined(__i386__)
    __asm__ volatile(
        "mov %%esp, %%esi\n\t"
        "and $-16, %%esp\n\t"
        "sub 12(%%edi), %%esp\n\t"
        "pushl 8(%%edi)\n\t"
        "pushl 4(%%edi)\n\t"
        "call *(%%edi)\n\t"
        "mov %%esi, %%esp\n\t"
        "mov %%eax, 16(%%edi)\n\t"
        :
        : "D"(&call)
        : "eax", "ecx", "edx", "esi", "memory", "cc");
#else
    call.result = call.run(call.activation, call.functions);
#endif
    return call.result;
}

// Hands the case's frame to the instance as its source bitmap.
static void HandOverCaseFrame(StandinInstance* instance, const CaseFrame& frame)
{
    HostBitmap* source = &instance->source.bitmap;
    source->data = (uint32_t*)frame.view.data;
    source->width = frame.view.width;
    source->height = frame.view.height;
    source->pitch = frame.view.pitch;
    source->modulo = frame.view.pitch - 4 * frame.view.width;
    source->size = (ptrdiff_t)frame.view.pitch * frame.view.height;
}

int main(int argc, char** argv)
{
    StandinInstallFaultHandler();
    const char* module = argc > 1 ? argv[1] : nullptr;

    StandinHost host;
    if (!StandinLoad(&host, module) || StandinInitModule(&host) != 0) {
        fprintf(stderr, "the module did not load\n");
        return 1;
    }
    StandinInstance* instance = StandinCreateInstance(&host, 64, 64);
    if (instance == nullptr || StandinCallInit(instance) != 0) {
        fprintf(stderr, "no instance\n");
        return 1;
    }

    const std::vector<FrameCase> cases = MakeFrameCases({ 4, true });
    size_t patched = 0, calls = 0;
    for (const FrameCase& c : cases) {
        if (!StandinCallConfigFunction(instance, c.numbers, c.ranges.c_str(), false)) {
            fprintf(stderr, "the module has no Config function\n");
            return 1;
        }
        instance->settings->showBorder = c.showBorder;

        CaseFrame expected, actual;
        MakeCaseFrame(c, &expected);
        MakeCaseFrame(c, &actual);
        PatchSettings oracleSettings;
        memcpy(&oracleSettings, instance->settings, sizeof oracleSettings);
        bool oracleAnswer = OraclePatchFrame(&oracleSettings, expected.view, c.frameNumber);

        HandOverCaseFrame(instance, actual);
        CallRunAtStackOffset(instance, c.frameNumber, 4 * (int32_t)(calls++ % 4));
        if (actual.bytes != expected.bytes) {
            size_t i = 0;
            while (actual.bytes[i] == expected.bytes[i])
                i++;
            fprintf(stderr, "FAIL: byte %u is %d, not %d; %s\n", (unsigned)i, actual.bytes[i],
                    expected.bytes[i], DescribeFrameCase(c).c_str());
            return 1;
        }
        if (instance->settings->patchPixels != nullptr ||
            !StandinBlockIntact(&instance->settingsBlock)) {
            fprintf(stderr, "FAIL: the settings record was left dirty; %s\n",
                    DescribeFrameCase(c).c_str());
            return 1;
        }
        patched += oracleAnswer;
    }

    StandinFillBitmaps(instance);  // the bitmaps describe the instance's own frames again
    StandinCallEnd(instance);
    StandinDestroyInstance(instance);
    StandinDeinitModule(&host);
    StandinUnload(&host);
    printf("%u cases, %u of them patched, alike in %s, on a processor %s AVX2\n",
           (unsigned)cases.size(), (unsigned)patched, module ? module : "Delbrin.vdf",
           FindPatchKernels(kPatchKernelsAvx2) ? "with" : "without");
    return 0;
}
