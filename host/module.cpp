// The module's entry points: DLL load, and the two exports by which the host
// registers and unregisters the filter.
#include <windows.h>

#include "filter_callbacks.h"

enum {
    kFilterDefinitionLength = sizeof(FilterDefinition),  // 72, or 144 for 64-bit hosts
    kInterfaceVersion       = 7,
    kCompatibleVersion      = 4,
};

// The host's copy of the registered record, from init to deinit. The host
// may free it before it calls deinit, so it is only ever handed back.
static FilterDefinition* gRegisteredDefinition;

// Nothing in the module cares about threads, so the per-thread attach and
// detach calls are switched off.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" int VirtualdubFilterModuleInit2(ModuleRecord* module, const HostFunctions* functions,
                                           int& version, int& compatibleVersion)
{
    gRegisteredDefinition = functions->addFilter(module, &gFilterDefinition,
                                                 kFilterDefinitionLength);
    if (!gRegisteredDefinition)
        return 1;
    version = kInterfaceVersion;
    compatibleVersion = kCompatibleVersion;
    return 0;
}

// A failed init left nothing registered: the host must not be handed a null
// record to remove. Forgetting the record after removal keeps a repeated
// deinit from removing it twice.
extern "C" void VirtualdubFilterModuleDeinit(ModuleRecord*, const HostFunctions* functions)
{
    if (!gRegisteredDefinition)
        return;
    functions->removeFilter(gRegisteredDefinition);
    gRegisteredDefinition = nullptr;
}
