// Compares the settings dialog's template, as stored in a module's resources,
// field by field with the layout the dialog is designed to.
#ifndef DELBRIN_TEMPLATE_CHECK_H
#define DELBRIN_TEMPLATE_CHECK_H

#include <windows.h>

// Records a failure for every field that differs; false when resource 107
// (language 0x0409) is missing.
bool CheckSettingsTemplate(HMODULE module);

#endif
