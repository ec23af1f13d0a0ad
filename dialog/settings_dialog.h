// The modal settings dialog, template 107, editing an instance's settings
// in place while the host's preview shows the result.
#ifndef DELBRIN_SETTINGS_DIALOG_H
#define DELBRIN_SETTINGS_DIALOG_H

#include <windows.h>

#include "host_interface.h"
#include "patch_settings.h"

// Runs the dialog over the activation's settings. Returns the dialog call's
// result unchanged: 0 after OK, -1 when the dialog cannot be created.
int ShowSettingsDialog(Activation* activation, HWND parent);

// The dialog's message handler; the settings arrive as WM_INITDIALOG's lParam.
INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Fills the controls from the settings, proposing a centred rectangle for
// untouched settings; every number written runs the change handling below.
void InitDialogControls(HWND dialog, PatchSettings* settings);

// Reads the number of edit id, clamps it into the settings and redraws.
void OnEditChanged(HWND dialog, int id, PatchSettings* settings);

// Gives the six up-downs the ranges that keep the rectangle inside the frame.
void UpdateSpinRanges(HWND dialog, const PatchSettings* settings);

#endif
