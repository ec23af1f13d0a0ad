// The settings dialog: every change goes straight into the instance's
// settings and is followed by a redraw of the host's preview frame. There is
// no Cancel and no undo; OK only closes the dialog.
#include "settings_dialog.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include "dialog_ids.h"
#include "frame_ranges.h"
#include "settings_rules.h"

// The module's own image: the dialog template lives here when the host has
// not filled in the module record.
extern "C" IMAGE_DOS_HEADER __ImageBase;

enum {
    kRangeFieldChars = 1019,  // Update reads at most this much of the range field
};

// A host may open the dialog without a preview: the settings are then edited
// without one.
static PreviewInterface* Preview(const PatchSettings* settings)
{
    return settings->activation ? settings->activation->preview : nullptr;
}

static void RedoPreview(const PatchSettings* settings)
{
    if (PreviewInterface* preview = Preview(settings))
        preview->RedoFrame();
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

// An edit's text as an unsigned decimal number; anything else reads as 0,
// the same on every system (the platform's own reading of texts such as "-3"
// differs between implementations).
static int32_t ReadEditNumber(HWND dialog, int id)
{
    char text[32];
    const int length = GetDlgItemTextA(dialog, id, text, sizeof text);
    if (length >= static_cast<int>(sizeof text) - 1)
        return 0;  // longer than any 32-bit number with spaces around it
    return ReadFieldNumber(text);
}

// The field an edit sets, or false for any other control.
static bool EditField(int id, SettingsField* field)
{
    switch (id) {
    case IDC_X:             *field = kFieldX; return true;
    case IDC_Y:             *field = kFieldY; return true;
    case IDC_WIDTH:         *field = kFieldWidth; return true;
    case IDC_HEIGHT:        *field = kFieldHeight; return true;
    case IDC_FEATHER_WIDTH: *field = kFieldFeatherWidth; return true;
    case IDC_FADE_FRAMES:   *field = kFieldFadeFrames; return true;
    default:                return false;
    }
}

void OnEditChanged(HWND dialog, int id, PatchSettings* settings)
{
    SettingsField field;
    if (!settings || !EditField(id, &field))
        return;  // the settings arrive only once the dialog is initialised
    // The clamped value is not written back: the field keeps what was typed.
    StoreFieldValue(settings, field, ReadEditNumber(dialog, id));
    if (field != kFieldFeatherWidth && field != kFieldFadeFrames)
        UpdateSpinRanges(dialog, settings);
    RedoPreview(settings);
}

// The 32-bit range message: frames wider or higher than 32,767 pixels keep
// their limits.
static void SetSpinRange(HWND dialog, int id, const PatchSettings* settings, SettingsField field)
{
    const SpinRange range = FieldSpinRange(settings, field);
    SendDlgItemMessageA(dialog, id, UDM_SETRANGE32, static_cast<WPARAM>(range.lower),
                        static_cast<LPARAM>(range.upper));
}

void UpdateSpinRanges(HWND dialog, const PatchSettings* settings)
{
    SetSpinRange(dialog, IDC_WIDTH_SPIN, settings, kFieldWidth);
    SetSpinRange(dialog, IDC_HEIGHT_SPIN, settings, kFieldHeight);
    SetSpinRange(dialog, IDC_X_SPIN, settings, kFieldX);
    SetSpinRange(dialog, IDC_Y_SPIN, settings, kFieldY);
    SetSpinRange(dialog, IDC_FEATHER_SPIN, settings, kFieldFeatherWidth);
    SetSpinRange(dialog, IDC_FADE_SPIN, settings, kFieldFadeFrames);
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

// The range text goes to the field within its 1024 bytes, terminated or not.
static void ShowRangeText(HWND dialog, const PatchSettings* settings)
{
    char text[kRangeTextSize + 1];
    const size_t length = RangeTextLength(settings);
    memcpy(text, settings->rangeText, length);
    text[length] = '\0';
    SetDlgItemTextA(dialog, IDC_RANGES, text);
}

void InitDialogControls(HWND dialog, PatchSettings* settings)
{
    // Without a source bitmap the frame size last seen stays.
    if (const HostBitmap* source = settings->activation ? settings->activation->source : nullptr) {
        settings->frameHeight = source->height;
        settings->frameWidth = source->width;
    }
    ProposeRect(settings);
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

    if (PreviewInterface* preview = Preview(settings))
        preview->InitButton(GetDlgItem(dialog, IDC_PREVIEW));
    ShowRangeText(dialog, settings);
}

// Parses the range field into the table and shows the normal form back.
static void OnUpdateRanges(HWND dialog, PatchSettings* settings)
{
    char text[kRangeFieldChars + 1];
    GetDlgItemTextA(dialog, IDC_RANGES, text, sizeof text);
    ParseRanges(settings, text);
    ShowRangeText(dialog, settings);
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
        if (PreviewInterface* preview = Preview(settings))
            preview->Toggle(control);
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
