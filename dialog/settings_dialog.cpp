#include "settings_dialog.h"

// The dialog is not built yet: report it as unavailable.
int ShowSettingsDialog(Activation*, HWND)
{
    return -1;
}
