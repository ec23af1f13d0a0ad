// Opens the settings dialog in a real window and drives it with real window
// messages: a thread timer runs one scripted step each time the dialog's
// modal loop falls idle, so whatever a step posts (keys, clicks) has been
// handled before the next step looks at the result.
#ifndef DELBRIN_DIALOG_HARNESS_H
#define DELBRIN_DIALOG_HARNESS_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "host_interface.h"
#include "patch_settings.h"

// Counts the preview calls the dialog makes; each Redo also renders the
// frame through the test's render function, as the host's preview would.
struct CountingPreview : PreviewInterface {
    int  redoCount = 0;
    int  toggleCount = 0;
    int  initButtonCount = 0;
    int  redoCountAtInitButton = -1;
    HWND toggledWith = nullptr;
    HWND boundButton = nullptr;
    std::function<void()> render;

    void SetButtonCallback(void (*)(bool, void*), void*) override {}
    void SetSampleCallback(void (*)(HostBitmap*, long, long, void*), void*) override {}
    bool isPreviewEnabled() override { return true; }
    void Toggle(HWND window) override { ++toggleCount; toggledWith = window; }
    void Display(HWND, bool) override {}
    void RedoFrame() override
    {
        ++redoCount;
        if (render)
            render();
    }
    void RedoSystem() override {}
    void UndoSystem() override {}
    void InitButton(HWND button) override
    {
        ++initButtonCount;
        boundButton = button;
        redoCountAtInitButton = redoCount;
    }
    void Close() override {}
    bool SampleCurrentFrame() override { return false; }
    long SampleFrames() override { return 0; }
};

// A 32-bit bottom-up frame with the host's bitmaps over it. pixels is what
// the filter patches in place; original is restored before every render.
struct TestFrame {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> original;
    std::vector<uint32_t> pixels;
    HostBitmap source{};
    HostBitmap destination{};
    FrameState state{};
};

// Fills the frame with a smooth picture carrying a bright block in its centre.
void MakeTestFrame(TestFrame* frame, int32_t width, int32_t height);
// The pixel at (x, y) counted from the top, as last rendered.
uint32_t FramePixel(const TestFrame* frame, int32_t x, int32_t y);
// Writes the frame as a 24-bit BMP file.
bool WriteFrameBmp(const TestFrame* frame, const char* path);
// Writes what the screen shows of the window as a 24-bit BMP file.
bool CaptureWindowBmp(HWND window, const char* path);

// Records a failed expectation; the program's exit code reports them.
void Fail(const char* file, int line, const std::string& what);
int  FailureCount();

#define EXPECT_EQ_INT(actual, expected)                                              \
    do {                                                                             \
        const long long a_ = (long long)(actual), e_ = (long long)(expected);        \
        if (a_ != e_)                                                                \
            Fail(__FILE__, __LINE__, std::string(#actual) + " is " + std::to_string(a_) + \
                 ", expected " + std::to_string(e_));                                \
    } while (0)

#define EXPECT_EQ_STR(actual, expected)                                              \
    do {                                                                             \
        const std::string a_ = (actual), e_ = (expected);                            \
        if (a_ != e_)                                                                \
            Fail(__FILE__, __LINE__, std::string(#actual) + " is \"" + a_ +          \
                 "\", expected \"" + e_ + "\"");                                     \
    } while (0)

#define EXPECT_TRUE(condition)                                                       \
    do {                                                                             \
        if (!(condition))                                                            \
            Fail(__FILE__, __LINE__, std::string(#condition) + " is false");         \
    } while (0)

// Expects the settings' rectangle to be width x height at (x, y).
void ExpectRectangle(const PatchSettings* settings, int width, int height, int x, int y);

// Runs open() (which must show the dialog modally), then the steps, one per
// idle turn of the dialog's loop, each given the dialog window. A script that
// leaves the dialog open has it closed with code 99 and counts as a failure.
// Returns open()'s result.
int RunDialogScript(const std::function<int()>& open,
                    const std::vector<std::function<void(HWND)>>& steps);
// For a script whose last step presses OK: expects open() to return 0.
void RunOkScript(const std::function<int()>& open,
                 const std::vector<std::function<void(HWND)>>& steps);
// Opens the dialog and, once it is up, runs beforeOk (when given) and presses
// OK; expects open() to return 0.
void OpenAndPressOk(const std::function<int()>& open,
                    const std::function<void(HWND)>& beforeOk = nullptr);

// The settings dialog this thread has open, found by its caption.
HWND FindSettingsDialog();

// Control helpers in the terms a user would use.
std::string ControlText(HWND dialog, int id);
void TypeText(HWND dialog, int id, const char* text);   // the whole text at once
void TypeKeys(HWND dialog, int id, const char* keys);   // replaces the text key by key
void Click(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
// The up-down's range as set: lower and upper limit.
void SpinRange(HWND dialog, int id, int* lower, int* upper);

#endif
