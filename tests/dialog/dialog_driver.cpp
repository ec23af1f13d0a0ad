// Opens the settings dialog directly (the dialog, the filter core and the
// template linked into this program) over a hand-made instance, and drives it
// with window messages. One case per run: dialog_driver CASE [ARGS].
#include <windows.h>

#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <memory>

#include "dialog_harness.h"
#include "dialog_ids.h"
#include "host_binding.h"
#include "patch_settings.h"
#include "script_line.h"
#include "settings_dialog.h"
#include "standin_host.h"
#include "template_check.h"

namespace {

// A filter instance as the host keeps it, over one frame.
struct Instance {
    TestFrame        frame;
    ModuleRecord     module{};
    FilterDefinition definition{};
    Activation       activation{};
    CountingPreview  preview;
    PatchSettings*   settings = nullptr;
    ~Instance() { free(settings); }
};

std::unique_ptr<Instance> NewInstance(int32_t width, int32_t height)
{
    std::unique_ptr<Instance> instance(new Instance);
    Instance* in = instance.get();
    MakeTestFrame(&in->frame, width, height);
    in->module.instance = GetModuleHandleA(nullptr);
    in->definition.module = &in->module;
    in->settings = static_cast<PatchSettings*>(calloc(1, sizeof(PatchSettings)));
    in->activation.definition = &in->definition;
    in->activation.settings = in->settings;
    in->activation.source = &in->frame.source;
    in->activation.destination = &in->frame.destination;
    in->activation.frameState = &in->frame.state;
    in->activation.preview = &in->preview;
    InitSettings(in->settings, &in->activation);
    // The preview shows the filter's output over the unpatched frame.
    in->preview.render = [in] {
        std::copy(in->frame.original.begin(), in->frame.original.end(), in->frame.pixels.begin());
        RunFrame(&in->activation);
    };
    return instance;
}

int Open(Instance* in)
{
    return ShowSettingsDialog(&in->activation, nullptr);
}

void ExpectSpinRange(HWND dialog, int id, int lower, int upper)
{
    int actualLower, actualUpper;
    SpinRange(dialog, id, &actualLower, &actualUpper);
    EXPECT_EQ_INT(actualLower, lower);
    EXPECT_EQ_INT(actualUpper, upper);
}

// Every number written on opening reports a change, each with one redraw, all
// before the Preview button is bound.
void ExpectOpenedOnce(const CountingPreview& preview, HWND dialog)
{
    EXPECT_EQ_INT(preview.redoCountAtInitButton, 6);
    EXPECT_EQ_INT(preview.initButtonCount, 1);
    EXPECT_TRUE(preview.boundButton == GetDlgItem(dialog, IDC_PREVIEW));
}

// Fresh settings get a centred rectangle of a fifth of the frame.
void CaseProposal()
{
    struct Proposal { int32_t frameWidth, frameHeight, width, height, x, y; };
    const Proposal proposals[] = {
        {352, 288, 70, 57, 141, 116},
        {720, 576, 144, 115, 288, 231},
        {4, 3, 1, 1, 2, 1},  // a fifth is 0 pixels: raised to 1 when written
    };
    for (const Proposal& p : proposals) {
        auto in = NewInstance(p.frameWidth, p.frameHeight);
        OpenAndPressOk([&] { return Open(in.get()); }, [&](HWND dialog) {
            const PatchSettings* s = in->settings;
            ExpectRectangle(s, p.width, p.height, p.x, p.y);
            EXPECT_EQ_INT(s->frameWidth, p.frameWidth);
            EXPECT_EQ_INT(s->frameHeight, p.frameHeight);
            EXPECT_EQ_STR(ControlText(dialog, IDC_X), std::to_string(p.x));
            EXPECT_EQ_STR(ControlText(dialog, IDC_Y), std::to_string(p.y));
            EXPECT_EQ_STR(ControlText(dialog, IDC_FEATHER_WIDTH), "10");
            EXPECT_EQ_STR(ControlText(dialog, IDC_FADE_FRAMES), "5");
            EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "");
            ExpectOpenedOnce(in->preview, dialog);
            // y and height count the other way round.
            ExpectSpinRange(dialog, IDC_WIDTH_SPIN, 1, p.frameWidth - p.x);
            ExpectSpinRange(dialog, IDC_HEIGHT_SPIN, p.frameHeight - p.y, 1);
            ExpectSpinRange(dialog, IDC_X_SPIN, 0, p.frameWidth - p.width);
            ExpectSpinRange(dialog, IDC_Y_SPIN, p.frameHeight - p.height, 0);
            ExpectSpinRange(dialog, IDC_FEATHER_SPIN, 0, 50);
            ExpectSpinRange(dialog, IDC_FADE_SPIN, 0, 50);
            for (int id : {IDC_BORDER, IDC_CANCEL_TOP, IDC_CANCEL_BOTTOM, IDC_CANCEL_LEFT,
                           IDC_CANCEL_RIGHT, IDC_FEATHER_ON, IDC_FADE_ON})
                EXPECT_TRUE(!IsChecked(dialog, id));
        });
    }

    // A host that leaves the module slot empty: the template comes from the
    // image the dialog code lives in.
    auto in = NewInstance(352, 288);
    in->definition.module = nullptr;
    OpenAndPressOk([&] { return Open(in.get()); });
    ExpectRectangle(in->settings, 70, 57, 141, 116);
}

// Typed numbers are clamped into the record; the fields keep what was typed.
void CaseClamping()
{
    auto in = NewInstance(720, 576);
    const PatchSettings* s = in->settings;
    CountingPreview& preview = in->preview;
    int redo = 0;
    RunOkScript([&] { return Open(in.get()); }, {
        [&](HWND dialog) {
            ExpectRectangle(s, 144, 115, 288, 231);
            redo = preview.redoCount;
            TypeText(dialog, IDC_X, "1000");
            EXPECT_EQ_INT(s->x, 576);
            EXPECT_EQ_STR(ControlText(dialog, IDC_X), "1000");
            EXPECT_EQ_INT(preview.redoCount, redo + 1);
            ExpectSpinRange(dialog, IDC_WIDTH_SPIN, 1, 144);

            TypeText(dialog, IDC_WIDTH, "0");
            EXPECT_EQ_INT(s->width, 1);
            ExpectSpinRange(dialog, IDC_X_SPIN, 0, 719);
            TypeText(dialog, IDC_WIDTH, "1000");
            EXPECT_EQ_INT(s->width, 144);
            TypeText(dialog, IDC_Y, "600");
            EXPECT_EQ_INT(s->y, 461);
            TypeText(dialog, IDC_HEIGHT, "abc");
            EXPECT_EQ_INT(s->height, 1);
            TypeText(dialog, IDC_HEIGHT, " 115 ");
            EXPECT_EQ_INT(s->height, 115);
            EXPECT_EQ_INT(preview.redoCount, redo + 6);

            // Typed key by key: every key is a change of its own.
            redo = preview.redoCount;
            TypeKeys(dialog, IDC_FEATHER_WIDTH, "99");
            EXPECT_EQ_INT(s->featherWidth, 50);
            EXPECT_EQ_STR(ControlText(dialog, IDC_FEATHER_WIDTH), "99");
            TypeKeys(dialog, IDC_FADE_FRAMES, "-3");
            EXPECT_EQ_INT(s->fadeFrames, 0);
            EXPECT_EQ_INT(preview.redoCount, redo + 4);
            TypeText(dialog, IDC_FEATHER_WIDTH, "-3");
            EXPECT_EQ_INT(s->featherWidth, 0);
            TypeText(dialog, IDC_FADE_FRAMES, "12abc");
            EXPECT_EQ_INT(s->fadeFrames, 0);
            TypeText(dialog, IDC_FADE_FRAMES, "4294967299");  // past 32 bits
            EXPECT_EQ_INT(s->fadeFrames, 0);

            // The arrow keys in the feather field step its up-down.
            TypeText(dialog, IDC_FEATHER_WIDTH, "20");
            redo = preview.redoCount;
            HWND edit = GetDlgItem(dialog, IDC_FEATHER_WIDTH);
            SetFocus(edit);
            PostMessageA(edit, WM_KEYDOWN, VK_UP, 1);
            PostMessageA(edit, WM_KEYUP, VK_UP, 0xC0000001);
        },
        [&](HWND dialog) {
            EXPECT_EQ_INT(s->featherWidth, 21);
            EXPECT_EQ_STR(ControlText(dialog, IDC_FEATHER_WIDTH), "21");
            EXPECT_EQ_INT(preview.redoCount, redo + 1);

            // The upper arrow of the y up-down moves the rectangle up. The
            // up-down steps from the field's number when that lies in its range.
            TypeText(dialog, IDC_Y, "300");
            redo = preview.redoCount;
            HWND spin = GetDlgItem(dialog, IDC_Y_SPIN);
            RECT box;
            GetClientRect(spin, &box);
            const LPARAM upperArrow = MAKELPARAM(box.right / 2, 2);
            SendMessageA(spin, WM_LBUTTONDOWN, MK_LBUTTON, upperArrow);
            SendMessageA(spin, WM_LBUTTONUP, 0, upperArrow);
            EXPECT_EQ_INT(s->y, 299);
            EXPECT_EQ_STR(ControlText(dialog, IDC_Y), "299");
            EXPECT_EQ_INT(preview.redoCount, redo + 1);
            ExpectSpinRange(dialog, IDC_HEIGHT_SPIN, 576 - 299, 1);

            // Escape, as a key and as the command it becomes, keeps the dialog open.
            redo = preview.redoCount;
            PostMessageA(GetDlgItem(dialog, IDC_X), WM_KEYDOWN, VK_ESCAPE, 1);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        },
        [&](HWND dialog) {
            EXPECT_TRUE(IsWindowVisible(dialog));
            EXPECT_EQ_INT(preview.redoCount, redo);
            Click(dialog, IDOK);
        },
    });
    EXPECT_EQ_INT(preview.toggleCount, 0);
}

// Each check box stores 0 or 1 and redraws; the border shows in the preview
// while the dialog is open, and OK takes it away.
void CaseCheckBoxes()
{
    auto in = NewInstance(352, 288);
    PatchSettings* s = in->settings;
    CountingPreview& preview = in->preview;
    struct Box { int id; uint8_t* field; };
    const Box boxes[] = {
        {IDC_CANCEL_TOP, &s->cancelTop},     {IDC_CANCEL_BOTTOM, &s->cancelBottom},
        {IDC_CANCEL_LEFT, &s->cancelLeft},   {IDC_CANCEL_RIGHT, &s->cancelRight},
        {IDC_FEATHER_ON, &s->featherOn},     {IDC_FADE_ON, &s->fadeOn},
        {IDC_BORDER, &s->showBorder},
    };
    OpenAndPressOk([&] { return Open(in.get()); }, [&](HWND dialog) {
        for (const Box& box : boxes) {
            const int redo = preview.redoCount;
            Click(dialog, box.id);
            EXPECT_EQ_INT(*box.field, 1);
            EXPECT_TRUE(IsChecked(dialog, box.id));
            Click(dialog, box.id);
            EXPECT_EQ_INT(*box.field, 0);
            EXPECT_EQ_INT(preview.redoCount, redo + 2);
        }
        Click(dialog, IDC_BORDER);
        // The dotted frame starts white at the rectangle's top-left corner.
        EXPECT_EQ_INT(FramePixel(&in->frame, 141, 116), 0xFFFFFFFF);
        EXPECT_EQ_INT(FramePixel(&in->frame, 142, 116), 0x00000000);
        EXPECT_EQ_INT(FramePixel(&in->frame, 141, 117), 0x00000000);
        EXPECT_EQ_INT(FramePixel(&in->frame, 141 + 70 - 1, 116 + 57 - 1), 0xFFFFFFFF);

        const int redo = preview.redoCount;
        Click(dialog, IDC_PREVIEW);
        EXPECT_EQ_INT(preview.toggleCount, 1);
        EXPECT_TRUE(preview.toggledWith == GetDlgItem(dialog, IDC_PREVIEW));
        EXPECT_EQ_INT(preview.redoCount, redo);
        // The toggle is handed the window the click came from.
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
        EXPECT_EQ_INT(preview.toggleCount, 2);
        EXPECT_TRUE(preview.toggledWith == GetDlgItem(dialog, IDOK));
    });
    EXPECT_EQ_INT(s->showBorder, 0);

    // The next opening shows the box unticked and the output has no border.
    OpenAndPressOk([&] { return Open(in.get()); }, [&](HWND dialog) {
        EXPECT_TRUE(!IsChecked(dialog, IDC_BORDER));
        EXPECT_TRUE(FramePixel(&in->frame, 141, 116) != 0xFFFFFFFF);
    });
}

// The range field is applied only by Update, which shows the normal form.
void CaseRanges()
{
    auto in = NewInstance(352, 288);
    const PatchSettings* s = in->settings;
    CountingPreview& preview = in->preview;
    OpenAndPressOk([&] { return Open(in.get()); }, [&](HWND dialog) {
        const int redo = preview.redoCount;
        TypeText(dialog, IDC_RANGES, "100,200\r\n300, 250\r\n400 500");
        EXPECT_EQ_INT(preview.redoCount, redo);
        EXPECT_EQ_INT(s->rangeCount, 0);
        Click(dialog, IDC_UPDATE);
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "100 200\r\n400 500\r\n");
        EXPECT_EQ_STR(s->rangeText, "100 200\r\n400 500\r\n");
        EXPECT_EQ_INT(s->rangeCount, 2);
        EXPECT_EQ_INT(s->rangeStart[1], 400);
        EXPECT_EQ_INT(s->rangeEnd[1], 500);
        EXPECT_EQ_INT(preview.redoCount, redo + 1);

        // Only the first 1019 characters of the field are read.
        const std::string longText = std::string(1016, ' ') + "1 2" + " 3 4";
        TypeText(dialog, IDC_RANGES, longText.c_str());
        Click(dialog, IDC_UPDATE);
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "1 2\r\n");
        EXPECT_EQ_INT(s->rangeCount, 1);

        TypeText(dialog, IDC_RANGES, "7 8");  // never applied
    });
    EXPECT_EQ_STR(s->rangeText, "1 2\r\n");
    EXPECT_EQ_INT(s->rangeCount, 1);

    OpenAndPressOk([&] { return Open(in.get()); }, [&](HWND dialog) {
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "1 2\r\n");
    });
}

// Settings restored from a script are clamped when the dialog opens.
void CaseRestored()
{
    auto in = NewInstance(720, 576);
    const PatchSettings* s = in->settings;
    // width, height, x, y, featherOn, fadeOn, cancelTop, cancelBottom,
    // cancelLeft, cancelRight, featherWidth, fadeFrames
    const int32_t line[kConfigNumberCount] = {0, 900, 1000, -5, 1, 0, 1, 0, 0, 1, 99, -2};
    StoreConfig(in->settings, line, "10 20");
    OpenAndPressOk([&] { return Open(in.get()); }, [&](HWND dialog) {
        // x against the old width (at least one pixel), y against the
        // old height, then width and height against the new position.
        ExpectRectangle(s, 1, 576, 719, 0);
        EXPECT_EQ_INT(s->featherWidth, 50);
        EXPECT_EQ_INT(s->fadeFrames, 0);
        EXPECT_EQ_STR(ControlText(dialog, IDC_X), "1000");
        EXPECT_EQ_STR(ControlText(dialog, IDC_Y), "-5");
        EXPECT_EQ_STR(ControlText(dialog, IDC_WIDTH), "0");
        EXPECT_EQ_STR(ControlText(dialog, IDC_HEIGHT), "900");
        EXPECT_TRUE(IsChecked(dialog, IDC_FEATHER_ON));
        EXPECT_TRUE(IsChecked(dialog, IDC_CANCEL_TOP));
        EXPECT_TRUE(IsChecked(dialog, IDC_CANCEL_RIGHT));
        EXPECT_TRUE(!IsChecked(dialog, IDC_FADE_ON));
        EXPECT_TRUE(!IsChecked(dialog, IDC_CANCEL_LEFT));
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), "10 20\r\n");
        ExpectOpenedOnce(in->preview, dialog);
    });

    // A rectangle wider than the frame: x is bounded first, and the bound
    // below it wins, then the width takes what is left.
    const int32_t wide[kConfigNumberCount] = {800, 2, 5, 7, 0, 0, 0, 0, 0, 0, 10, 5};
    StoreConfig(in->settings, wide, "");
    OpenAndPressOk([&] { return Open(in.get()); });
    ExpectRectangle(s, 720, 2, 0, 7);

    // A script that stored the defaults gets the centred proposal.
    const int32_t defaults[kConfigNumberCount] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5};
    StoreConfig(in->settings, defaults, "");
    OpenAndPressOk([&] { return Open(in.get()); });
    ExpectRectangle(s, 144, 115, 288, 231);
}

// Hosts and records the dialog must cope with: a frame wider and higher than
// 16 bits of spin range, a host without a preview or source bitmap, and a
// range text that fills its whole field with no terminator.
void CaseUnusualHost()
{
    auto wide = NewInstance(40000, 33000 / 1000);
    wide->frame.source.height = 33000;  // only the spin ranges see the height
    wide->preview.render = [] {};
    OpenAndPressOk([&] { return Open(wide.get()); }, [&](HWND dialog) {
        ExpectRectangle(wide->settings, 8000, 6600, 16000, 13200);
        ExpectSpinRange(dialog, IDC_WIDTH_SPIN, 1, 40000 - 16000);
        ExpectSpinRange(dialog, IDC_HEIGHT_SPIN, 33000 - 13200, 1);
        ExpectSpinRange(dialog, IDC_X_SPIN, 0, 40000 - 8000);
        ExpectSpinRange(dialog, IDC_Y_SPIN, 33000 - 6600, 0);
    });

    auto bare = NewInstance(352, 288);
    bare->activation.preview = nullptr;
    bare->activation.source = nullptr;
    bare->settings->frameWidth = 352;  // the size the host showed last
    bare->settings->frameHeight = 288;
    memset(bare->settings->rangeText, '7', kRangeTextSize);
    OpenAndPressOk([&] { return Open(bare.get()); }, [&](HWND dialog) {
        ExpectRectangle(bare->settings, 70, 57, 141, 116);
        EXPECT_EQ_STR(ControlText(dialog, IDC_RANGES), std::string(kRangeTextSize, '7'));
        TypeText(dialog, IDC_X, "1000");
        EXPECT_EQ_INT(bare->settings->x, 352 - 70);
        Click(dialog, IDC_BORDER);
        Click(dialog, IDC_PREVIEW);
        TypeText(dialog, IDC_RANGES, "5 9");
        Click(dialog, IDC_UPDATE);
        EXPECT_EQ_STR(bare->settings->rangeText, "5 9\r\n");
    });
    EXPECT_EQ_INT(bare->preview.redoCount + bare->preview.toggleCount, 0);
}

void CaseTemplate(const char* modulePath)
{
    HMODULE module = modulePath ? LoadLibraryExA(modulePath, nullptr, LOAD_LIBRARY_AS_DATAFILE)
                                : GetModuleHandleA(nullptr);
    EXPECT_TRUE(module != nullptr);
    if (module)
        CheckSettingsTemplate(module);
}

// Writes the open dialog and the frame before and after patching, with the
// border on, as BMP files for people to look at.
void CasePictures(const char* dialogPath, const char* beforePath, const char* afterPath)
{
    auto in = NewInstance(480, 270);
    EXPECT_TRUE(WriteFrameBmp(&in->frame, beforePath));
    RunOkScript([&] { return Open(in.get()); }, {
        [&](HWND dialog) {
            Click(dialog, IDC_BORDER);
            TypeText(dialog, IDC_RANGES, "0 100\r\n200 300");
            Click(dialog, IDC_UPDATE);
            SetFocus(GetDlgItem(dialog, IDOK));
            RedrawWindow(dialog, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
        },
        [&](HWND dialog) {
            EXPECT_TRUE(WriteFrameBmp(&in->frame, afterPath));
            EXPECT_TRUE(CaptureWindowBmp(dialog, dialogPath));
            Click(dialog, IDOK);
        },
    });
}

}  // namespace

int main(int argc, char** argv)
{
    // A dialog procedure's faults are otherwise swallowed by the message
    // dispatch on some systems.
    StandinInstallFaultHandler();
    InitCommonControls();
    const char* name = argc > 1 ? argv[1] : "";
    if (!strcmp(name, "proposal"))
        CaseProposal();
    else if (!strcmp(name, "clamping"))
        CaseClamping();
    else if (!strcmp(name, "checkboxes"))
        CaseCheckBoxes();
    else if (!strcmp(name, "ranges"))
        CaseRanges();
    else if (!strcmp(name, "restored"))
        CaseRestored();
    else if (!strcmp(name, "unusual_host"))
        CaseUnusualHost();
    else if (!strcmp(name, "template"))
        CaseTemplate(argc > 2 ? argv[2] : nullptr);
    else if (!strcmp(name, "pictures") && argc > 4)
        CasePictures(argv[2], argv[3], argv[4]);
    else {
        fprintf(stderr, "usage: dialog_driver proposal|clamping|checkboxes|ranges|restored|unusual_host|"
                        "template [module]|pictures dialog.bmp before.bmp after.bmp\n");
        return 2;
    }
    printf("%s: %d failure(s)\n", name, FailureCount());
    return FailureCount() ? 1 : 0;
}
