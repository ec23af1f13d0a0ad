// Opens the settings dialog the way the host does: through the config
// callback of Delbrin.vdf, loaded by the stand-in host, over a guarded frame.
#include <windows.h>

#include <stdio.h>

#include "dialog_harness.h"
#include "dialog_ids.h"
#include "standin_host.h"
#include "template_check.h"

namespace {

// Runs a check on a new instance over a frame of the given size; nothing
// outside the instance's frames and record may be written meanwhile.
void WithInstance(StandinHost* host, int32_t width, int32_t height,
                  void (*check)(StandinHost* host, StandinInstance* in))
{
    StandinInstance* in = StandinCreateInstance(host, width, height);
    EXPECT_TRUE(in != nullptr);
    if (!in)
        return;
    check(host, in);
    EXPECT_TRUE(StandinInstanceIntact(in));
    StandinDestroyInstance(in);
}

// A fresh instance: the centred proposal, every change one redraw of the
// filter's real output, the border while open, OK closing with 0.
void CheckFreshInstance(StandinHost*, StandinInstance* in)
{
    StandinCallInit(in);
    StandinCallStart(in);
    in->preview.redoRunsFilter = true;
    const PatchSettings* s = in->settings;

    OpenAndPressOk([&] { return StandinCallConfig(in, nullptr); }, [&](HWND dialog) {
        ExpectRectangle(s, 70, 57, 141, 116);
        EXPECT_EQ_INT(in->preview.redoFrameCalls, 6);
        EXPECT_EQ_INT(in->preview.initButtonCalls, 1);
        EXPECT_TRUE(in->preview.lastButton == GetDlgItem(dialog, IDC_PREVIEW));

        Click(dialog, IDC_BORDER);
        EXPECT_EQ_INT(in->preview.redoFrameCalls, 7);
        EXPECT_EQ_INT(*StandinPixel(&in->source, 141, 116), 0xFFFFFFFF);
        EXPECT_EQ_INT(*StandinPixel(&in->source, 142, 116), 0x00000000);

        TypeText(dialog, IDC_X, "1000");
        EXPECT_EQ_INT(s->x, 352 - 70);
        EXPECT_EQ_INT(in->preview.redoFrameCalls, 8);
        Click(dialog, IDC_PREVIEW);
        EXPECT_EQ_INT(in->preview.toggleCalls, 1);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        EXPECT_TRUE(IsWindowVisible(dialog));
    });
    EXPECT_EQ_INT(s->showBorder, 0);

    // Processed output after OK carries no border.
    StandinCallRun(in, 0);
    EXPECT_TRUE(*StandinPixel(&in->source, 282, 116) != 0xFFFFFFFF);
}

// Settings replayed from a script line are clamped on opening, and Update
// rewrites the range field in normal form.
void CheckRestoredInstance(StandinHost*, StandinInstance* in)
{
    StandinBlankBitmaps(in);  // some hosts hand over empty bitmaps here
    StandinCallInit(in);
    const int32_t line[12] = {300, 100, 600, 500, 1, 1, 0, 0, 0, 0, 60, 70};
    EXPECT_TRUE(StandinCallConfigFunction(in, line, "100 200, ", false));
    StandinFillBitmaps(in);
    const PatchSettings* s = in->settings;

    OpenAndPressOk([&] { return StandinCallConfig(in, nullptr); }, [&](HWND dialog) {
        ExpectRectangle(s, 300, 100, 420, 476);
        EXPECT_EQ_INT(s->featherWidth, 50);
        EXPECT_EQ_INT(s->fadeFrames, 50);
        EXPECT_TRUE(IsChecked(dialog, IDC_FEATHER_ON) && IsChecked(dialog, IDC_FADE_ON));
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "100 200\r\n");

        TypeText(dialog, IDC_RANGES, "100,200\r\n300, 250\r\n400 500");
        Click(dialog, IDC_UPDATE);
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "100 200\r\n400 500\r\n");
        EXPECT_EQ_INT(s->rangeCount, 2);
    });
}

// A host whose copy of the definition has no module record: the dialog still
// comes from the module's own resources.
void CheckWithoutModuleRecord(StandinHost* host, StandinInstance* in)
{
    StandinCallInit(in);
    ModuleRecord* kept = host->registered.module;
    host->registered.module = nullptr;
    OpenAndPressOk([&] { return StandinCallConfig(in, nullptr); });
    host->registered.module = kept;
    ExpectRectangle(in->settings, 64, 48, 128, 96);
}

}  // namespace

int main()
{
    StandinInstallFaultHandler();
    StandinHost host;
    if (!StandinLoad(&host, nullptr) || StandinInitModule(&host) != 0) {
        fprintf(stderr, "the module did not load\n");
        return 1;
    }
    CheckSettingsTemplate(host.library);
    WithInstance(&host, 352, 288, CheckFreshInstance);
    WithInstance(&host, 720, 576, CheckRestoredInstance);
    WithInstance(&host, 320, 240, CheckWithoutModuleRecord);
    StandinDeinitModule(&host);
    StandinUnload(&host);
    printf("dialog through the module: %d failure(s)\n", FailureCount());
    return FailureCount() ? 1 : 0;
}
