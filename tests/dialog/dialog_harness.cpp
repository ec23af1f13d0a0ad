#include "dialog_harness.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

static int failureCount;

void Fail(const char* file, int line, const std::string& what)
{
    ++failureCount;
    fprintf(stderr, "%s:%d: %s\n", file, line, what.c_str());
    fflush(stderr);
}

int FailureCount()
{
    return failureCount;
}

void ExpectRectangle(const PatchSettings* settings, int width, int height, int x, int y)
{
    EXPECT_EQ_INT(settings->width, width);
    EXPECT_EQ_INT(settings->height, height);
    EXPECT_EQ_INT(settings->x, x);
    EXPECT_EQ_INT(settings->y, y);
}

void MakeTestFrame(TestFrame* frame, int32_t width, int32_t height)
{
    frame->width = width;
    frame->height = height;
    frame->original.assign(static_cast<size_t>(width) * height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            // Sky over a field, and a bright station logo in the middle.
            uint32_t r, g, b;
            if (y < height / 2) {
                r = 60 + 80 * y / height;
                g = 110 + 100 * y / height;
                b = 200 + 40 * x / width;
            } else {
                r = 40 + 60 * x / width;
                g = 150 - 60 * (y - height / 2) / height;
                b = 50;
            }
            const bool logo = x >= width * 9 / 20 && x < width * 11 / 20 &&
                              y >= height * 9 / 20 && y < height * 11 / 20;
            const bool mark = logo && (x - width / 2) * (x - width / 2) +
                                          (y - height / 2) * (y - height / 2) <
                                      (width / 60 + 1) * (width / 60 + 1);
            if (mark) {
                r = 220; g = 30; b = 30;
            } else if (logo) {
                r = 245; g = 245; b = 245;
            }
            frame->original[static_cast<size_t>(height - 1 - y) * width + x] =
                (r << 16) | (g << 8) | b;
        }
    }
    frame->pixels = frame->original;

    HostBitmap bitmap{};
    bitmap.data = frame->pixels.data();
    bitmap.depth = 32;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.pitch = static_cast<ptrdiff_t>(width) * 4;
    bitmap.size = bitmap.pitch * height;
    frame->source = bitmap;
    frame->destination = bitmap;
    frame->state.currentFrame = 0;
}

uint32_t FramePixel(const TestFrame* frame, int32_t x, int32_t y)
{
    return frame->pixels[static_cast<size_t>(frame->height - 1 - y) * frame->width + x];
}

// Writes bottom-up 32-bit pixels as a 24-bit BMP file.
static bool WritePixelsBmp(const uint32_t* pixels, int32_t width, int32_t height, const char* path)
{
    const int32_t rowBytes = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;  // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<DWORD>(rowBytes) * height;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;

    FILE* out = fopen(path, "wb");
    if (!out)
        return false;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes), 0);
    for (int32_t stored = 0; stored < height; ++stored) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t pixel = pixels[static_cast<size_t>(stored) * width + x];
            row[3 * x + 0] = static_cast<uint8_t>(pixel);
            row[3 * x + 1] = static_cast<uint8_t>(pixel >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(pixel >> 16);
        }
        fwrite(row.data(), row.size(), 1, out);
    }
    return fclose(out) == 0;
}

bool WriteFrameBmp(const TestFrame* frame, const char* path)
{
    return WritePixelsBmp(frame->pixels.data(), frame->width, frame->height, path);
}

bool CaptureWindowBmp(HWND window, const char* path)
{
    RECT box;
    GetWindowRect(window, &box);
    const int32_t width = box.right - box.left;
    const int32_t height = box.bottom - box.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool written = false;
    if (bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
        GdiFlush();
        written = WritePixelsBmp(static_cast<const uint32_t*>(bits), width, height, path);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return written;
}

static BOOL CALLBACK KeepIfSettingsDialog(HWND window, LPARAM found)
{
    char className[16], caption[16];
    GetClassNameA(window, className, sizeof className);
    GetWindowTextA(window, caption, sizeof caption);
    if (strcmp(className, "#32770") != 0 || strcmp(caption, "Tavrel") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Only this thread's: tests running side by side share one window system.
HWND FindSettingsDialog()
{
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), KeepIfSettingsDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The script being run; one at a time, on the dialog's own thread.
static const std::vector<std::function<void(HWND)>>* scriptSteps;
static size_t scriptNext;
static bool   scriptBusy;

static void CALLBACK OnStepTimer(HWND, UINT, UINT_PTR, DWORD)
{
    // The modal loop shows the dialog the first time it finds no message;
    // until then the user could not act on it either.
    HWND dialog = FindSettingsDialog();
    if (!dialog || !IsWindowVisible(dialog) || scriptBusy)
        return;
    scriptBusy = true;
    if (scriptNext < scriptSteps->size()) {
        (*scriptSteps)[scriptNext++](dialog);
    } else {
        Fail(__FILE__, __LINE__, "the script ended with the dialog still open");
        EndDialog(dialog, 99);
    }
    scriptBusy = false;
}

int RunDialogScript(const std::function<int()>& open,
                    const std::vector<std::function<void(HWND)>>& steps)
{
    scriptSteps = &steps;
    scriptNext = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, OnStepTimer);
    const int result = open();
    KillTimer(nullptr, timer);
    if (result != -1 && scriptNext != steps.size())
        Fail(__FILE__, __LINE__, "the dialog closed before the script ended");
    scriptSteps = nullptr;
    return result;
}

void RunOkScript(const std::function<int()>& open,
                 const std::vector<std::function<void(HWND)>>& steps)
{
    EXPECT_EQ_INT(RunDialogScript(open, steps), 0);
}

void OpenAndPressOk(const std::function<int()>& open, const std::function<void(HWND)>& beforeOk)
{
    RunOkScript(open, { [&](HWND dialog) {
        if (beforeOk)
            beforeOk(dialog);
        Click(dialog, IDOK);
    } });
}

std::string ControlText(HWND dialog, int id)
{
    char text[2048];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void TypeText(HWND dialog, int id, const char* text)
{
    SetDlgItemTextA(dialog, id, text);
}

void TypeKeys(HWND dialog, int id, const char* keys)
{
    HWND edit = GetDlgItem(dialog, id);
    SetFocus(edit);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    for (const char* key = keys; *key; ++key)
        SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(*key)), 1);
}

void Click(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

bool IsChecked(HWND dialog, int id)
{
    return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SpinRange(HWND dialog, int id, int* lower, int* upper)
{
    SendDlgItemMessageA(dialog, id, UDM_GETRANGE32, reinterpret_cast<WPARAM>(lower),
                        reinterpret_cast<LPARAM>(upper));
}
