// The settings dialog: every change goes straight into the instance's
// settings and is followed by a redraw of the host's preview frame. There is
// no Cancel and no undo; OK only closes the dialog.
#include "settings_dialog.h"

#include <commctrl.h>
#include <stdio.h>

#include "dialog_ids.h"
#include "frame_ranges.h"

// The module's own image: the dialog template lives here when the host has
// not filled in the module record.
extern "C" IMAGE_DOS_HEADER __ImageBase;

enum {
    kMaxAmount         = 50,    // feather width and fade length, 0...50
    kRangeFieldChars   = 1019,  // Update reads at most this much of the range field
};

static void RedoPreview(const PatchSettings* settings)
{
    settings->activation->preview->RedoFrame();
}

static HINSTANCE TemplateModule(const Activation* activation)
{
    const FilterDefinition* definition = activation->definition;
    if (definition && definition->module && definition->module->instance)
        return definition->module->instance;
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

int ShowSettingsDialog(Activation* activation, HWND parent)
{
    PatchSettings* settings = activation->settings;
    settings->activation = activation;
    return static_cast<int>(DialogBoxParamA(TemplateModule(activation),
                                            MAKEINTRESOURCEA(IDD_SETTINGS), parent,
                                            SettingsDialogProc,
                                            reinterpret_cast<LPARAM>(settings)));
}

// An edit's text as an unsigned decimal number, seen as a signed 32-bit
// value. Anything else (a sign, other characters, more than 32 bits) reads
// as 0, the same on every system: the platform's own reading differs between
// implementations for texts such as "-3".
static int32_t ReadEditNumber(HWND dialog, int id)
{
    char text[32];
    const int length = GetDlgItemTextA(dialog, id, text, sizeof text);
    if (length >= static_cast<int>(sizeof text) - 1)
        return 0;  // longer than any 32-bit number with spaces around it
    const char* p = text;
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return 0;
    uint64_t value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > UINT32_MAX)
            return 0;
        ++p;
    }
    while (*p == ' ')
        ++p;
    if (*p != '\0')
        return 0;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

static int32_t Clamp(int32_t value, int32_t lowest, int32_t highest)
{
    // The upper bound first: when the two cross, the lower one wins.
    if (value > highest)
        value = highest;
    if (value < lowest)
        value = lowest;
    return value;
}

// The extent the rectangle will have at least once its own field is clamped,
// so that a width or height of 0 restored from a script cannot leave room for
// a position past the frame's last column or row.
static int32_t AtLeastOne(int32_t extent)
{
    return extent < 1 ? 1 : extent;
}

void OnEditChanged(HWND dialog, int id, PatchSettings* settings)
{
    if (!settings)
        return;  // the settings arrive only once the dialog is initialised
    const int32_t v = ReadEditNumber(dialog, id);
    switch (id) {
    case IDC_X:
        settings->x = Clamp(v, 0, settings->frameWidth - AtLeastOne(settings->width));
        break;
    case IDC_Y:
        settings->y = Clamp(v, 0, settings->frameHeight - AtLeastOne(settings->height));
        break;
    case IDC_WIDTH:
        settings->width = Clamp(v, 1, settings->frameWidth - settings->x);
        break;
    case IDC_HEIGHT:
        settings->height = Clamp(v, 1, settings->frameHeight - settings->y);
        break;
    case IDC_FEATHER_WIDTH:
        settings->featherWidth = Clamp(v, 0, kMaxAmount);
        RedoPreview(settings);
        return;
    case IDC_FADE_FRAMES:
        settings->fadeFrames = Clamp(v, 0, kMaxAmount);
        RedoPreview(settings);
        return;
    default:
        return;
    }
    // The clamped value is not written back: the field keeps what was typed.
    UpdateSpinRanges(dialog, settings);
    RedoPreview(settings);
}

// The limits are differences of values a script may have set to anything, so
// they are taken in 64 bits; the message keeps 16 bits of each.
static void SetSpinRange(HWND dialog, int id, int64_t lowest, int64_t highest)
{
    SendDlgItemMessageA(dialog, id, UDM_SETRANGE, 0,
                        MAKELPARAM(static_cast<WORD>(highest), static_cast<WORD>(lowest)));
}

void UpdateSpinRanges(HWND dialog, const PatchSettings* settings)
{
    // The y and height up-downs count the other way round, so that their
    // upper arrow moves the top edge up and shrinks the height.
    SetSpinRange(dialog, IDC_WIDTH_SPIN, 1, int64_t{settings->frameWidth} - settings->x);
    SetSpinRange(dialog, IDC_HEIGHT_SPIN, int64_t{settings->frameHeight} - settings->y, 1);
    SetSpinRange(dialog, IDC_X_SPIN, 0, int64_t{settings->frameWidth} - settings->width);
    SetSpinRange(dialog, IDC_Y_SPIN, int64_t{settings->frameHeight} - settings->height, 0);
    SetSpinRange(dialog, IDC_FEATHER_SPIN, 0, kMaxAmount);
    SetSpinRange(dialog, IDC_FADE_SPIN, 0, kMaxAmount);
}

static void WriteEditNumber(HWND dialog, int id, int32_t value)
{
    char text[16];
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
    SetDlgItemTextA(dialog, id, text);
}

static void CheckBox(HWND dialog, int id, uint8_t on)
{
    CheckDlgButton(dialog, id, on ? BST_CHECKED : BST_UNCHECKED);
}

void InitDialogControls(HWND dialog, PatchSettings* settings)
{
    const HostBitmap* source = settings->activation->source;
    settings->frameHeight = source->height;
    settings->frameWidth = source->width;

    // 1 x 1 at (0, 0) are a new instance's defaults: propose a centred
    // rectangle of a fifth of the frame instead.
    if (settings->width == 1 && settings->height == 1 && settings->x == 0 && settings->y == 0) {
        settings->width = settings->frameWidth / 5;
        settings->height = settings->frameHeight / 5;
        settings->x = settings->frameWidth / 2 - settings->width / 2;
        settings->y = settings->frameHeight / 2 - settings->height / 2;
    }
    UpdateSpinRanges(dialog, settings);

    // Each write reports a change, so these also clamp values restored from a
    // script, in this order, and redraw the preview.
    WriteEditNumber(dialog, IDC_X, settings->x);
    WriteEditNumber(dialog, IDC_Y, settings->y);
    WriteEditNumber(dialog, IDC_WIDTH, settings->width);
    WriteEditNumber(dialog, IDC_HEIGHT, settings->height);
    WriteEditNumber(dialog, IDC_FEATHER_WIDTH, settings->featherWidth);
    WriteEditNumber(dialog, IDC_FADE_FRAMES, settings->fadeFrames);

    CheckBox(dialog, IDC_FEATHER_ON, settings->featherOn);
    CheckBox(dialog, IDC_FADE_ON, settings->fadeOn);
    CheckBox(dialog, IDC_BORDER, settings->showBorder);
    CheckBox(dialog, IDC_CANCEL_TOP, settings->cancelTop);
    CheckBox(dialog, IDC_CANCEL_BOTTOM, settings->cancelBottom);
    CheckBox(dialog, IDC_CANCEL_LEFT, settings->cancelLeft);
    CheckBox(dialog, IDC_CANCEL_RIGHT, settings->cancelRight);

    settings->activation->preview->InitButton(GetDlgItem(dialog, IDC_PREVIEW));
    SetDlgItemTextA(dialog, IDC_RANGES, settings->rangeText);
}

// Parses the range field into the table and shows the normal form back.
static void OnUpdateRanges(HWND dialog, PatchSettings* settings)
{
    char text[kRangeFieldChars + 1];
    GetDlgItemTextA(dialog, IDC_RANGES, text, sizeof text);
    ParseRanges(settings, text);
    SetDlgItemTextA(dialog, IDC_RANGES, settings->rangeText);
    RedoPreview(settings);
}

// The field a check box switches, or null for any other control.
static uint8_t* CheckBoxField(PatchSettings* settings, int id)
{
    switch (id) {
    case IDC_BORDER:        return &settings->showBorder;
    case IDC_CANCEL_TOP:    return &settings->cancelTop;
    case IDC_CANCEL_BOTTOM: return &settings->cancelBottom;
    case IDC_CANCEL_LEFT:   return &settings->cancelLeft;
    case IDC_CANCEL_RIGHT:  return &settings->cancelRight;
    case IDC_FEATHER_ON:    return &settings->featherOn;
    case IDC_FADE_ON:       return &settings->fadeOn;
    default:                return nullptr;
    }
}

// control is the window that sent the click, the Preview button for IDC_PREVIEW.
static INT_PTR OnClick(HWND dialog, int id, HWND control, PatchSettings* settings)
{
    switch (id) {
    case IDOK:
        // The border only helps placing the rectangle; output never keeps it.
        settings->showBorder = 0;
        EndDialog(dialog, 0);
        return TRUE;
    case IDC_PREVIEW:
        settings->activation->preview->Toggle(control);
        return FALSE;
    case IDC_UPDATE:
        OnUpdateRanges(dialog, settings);
        return FALSE;
    default:
        break;
    }
    if (uint8_t* field = CheckBoxField(settings, id)) {
        *field = SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        RedoPreview(settings);
    }
    // Anything else, IDCANCEL included, does nothing: Escape keeps the dialog open.
    return FALSE;
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    PatchSettings* settings =
        reinterpret_cast<PatchSettings*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitDialogControls(dialog, reinterpret_cast<PatchSettings*>(lParam));
        return TRUE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        const int notification = HIWORD(wParam);
        if (notification == EN_CHANGE) {
            OnEditChanged(dialog, id, settings);
            return FALSE;
        }
        if (notification != 0 || !settings)
            return FALSE;
        return OnClick(dialog, id, reinterpret_cast<HWND>(lParam), settings);
    }
    default:
        return FALSE;
    }
}
