// The callbacks the host calls for each filter instance. The settings are
// always the instance data of the activation passed in.
#include "filter_callbacks.h"

#include "host_binding.h"
#include "patch_settings.h"
#include "script_line.h"
#include "settings_dialog.h"

int FilterInit(Activation* activation, const HostFunctions*)
{
    return InitSettings(activation->settings, activation);
}

int FilterStart(Activation* activation, const HostFunctions*)
{
    return CacheFrameSize(activation->settings, activation);
}

int FilterRun(const Activation* activation, const HostFunctions*)
{
    return RunFrame(activation);
}

// The patch is written into the source's pixels, so the destination must
// start where the source does. No flags are requested.
long FilterParam(Activation* activation, const HostFunctions*)
{
    activation->destination->offset = activation->source->offset;
    return 0;
}

int FilterEnd(Activation*, const HostFunctions*)
{
    return 0;
}

// The dialog's own result goes back unchanged: 0 after OK, -1 when it could
// not be created.
int FilterConfig(Activation* activation, const HostFunctions*, HWND parent)
{
    return ShowSettingsDialog(activation, parent);
}

void FilterString(const Activation* activation, const HostFunctions*, char* buffer)
{
    FormatSummary(activation->settings, buffer);
}

bool FilterScriptString(Activation* activation, const HostFunctions*, char* buffer,
                        int capacity)
{
    FormatConfigLine(activation->settings, buffer, capacity);
    return true;
}
