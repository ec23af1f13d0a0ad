// The modal settings dialog, template 107, editing an instance's settings
// in place while the host's preview shows the result.
#ifndef DELBRIN_SETTINGS_DIALOG_H
#define DELBRIN_SETTINGS_DIALOG_H

#include <windows.h>

#include "host_interface.h"

// Runs the dialog over the activation's settings. Returns the dialog call's
// result unchanged: 0 after OK, -1 when the dialog cannot be created.
int ShowSettingsDialog(Activation* activation, HWND parent);

#endif
