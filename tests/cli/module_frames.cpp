// Runs raw frames through Delbrin.vdf in the stand-in host, as the host's run
// callback sees them, so that the delbrin command's output can be compared
// with the module's:
//
//   module_frames IN.raw OUT.raw WIDTH HEIGHT 'Config(...)'
//
// IN.raw holds whole frames of top-down BGRA rows; OUT.raw receives the
// module's frames the same way. The instance's script line and summary,
// once the line is replayed, go to standard output, so that the 32-bit and
// the 64-bit module can be compared too. Exit code 0 on success, 1 on a bad
// argument or file, 2 when the module wrote outside the host's records, and
// the stand-in's fault code after a fault.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "config_text.h"
#include "standin_host.h"

static int Fail(const char* message) {
    fprintf(stderr, "module_frames: %s\n", message);
    return 1;
}

int main(int argc, char** argv) {
    StandinInstallFaultHandler();
    if (argc != 6) return Fail("usage: module_frames IN.raw OUT.raw WIDTH HEIGHT 'Config(...)'");
    const int32_t width = atoi(argv[3]), height = atoi(argv[4]);
    ConfigCall call = DefaultConfigCall();
    std::string error;
    if (width < 1 || height < 1) return Fail("bad frame size");
    if (!ParseConfigCall(argv[5], &call, &error)) return Fail(error.c_str());

    FILE* in = fopen(argv[1], "rb");
    FILE* out = fopen(argv[2], "wb");
    if (!in || !out) return Fail("cannot open the frame files");

    StandinHost host;
    if (!StandinLoad(&host, nullptr) || StandinInitModule(&host) != 0) return Fail("the module does not load");
    StandinInstance* instance = StandinCreateInstance(&host, width, height);
    if (!instance) return Fail("out of memory");
    StandinCallInit(instance);
    // The host replays the saved line through the script function; a 64-bit
    // host passes the integers as 64-bit values.
    if (!StandinCallConfigFunction(instance, call.numbers, call.rangeText.c_str(),
                                   sizeof(void*) == 8))
        return Fail("the module has no Config script function");
    std::vector<char> line(8192);
    char summary[kSummaryMaxLength + 1] = "";
    StandinCallScriptString(instance, line.data(), static_cast<int>(line.size()));
    StandinCallString(instance, summary);
    printf("script line: %s\nsummary: %s\n", line.data(), summary);
    StandinCallParam(instance);
    StandinCallStart(instance);

    std::vector<uint32_t> frame(static_cast<size_t>(width) * height);
    int result = 0;
    for (int32_t n = 0; fread(frame.data(), 4, frame.size(), in) == frame.size(); n++) {
        for (int32_t y = 0; y < height; y++)
            for (int32_t x = 0; x < width; x++)
                *StandinPixel(&instance->source, x, y) = frame[static_cast<size_t>(y) * width + x];
        StandinCallRun(instance, n);
        // The output is whatever the destination bitmap designates after run.
        const HostBitmap& output = instance->destination.bitmap;
        for (int32_t y = 0; y < height; y++) {
            const uint8_t* row = reinterpret_cast<const uint8_t*>(output.data) + (height - 1 - y) * output.pitch;
            fwrite(row, 4, width, out);
        }
        if (!StandinInstanceIntact(instance)) {
            fprintf(stderr, "module_frames: frame %d: the module wrote outside its records\n", n);
            result = 2;
            break;
        }
    }
    StandinCallEnd(instance);
    StandinDestroyInstance(instance);
    StandinDeinitModule(&host);
    StandinUnload(&host);
    fclose(in);
    if (fclose(out) != 0) return Fail("cannot write the output frames");
    return result;
}
