// The host's conventions around the filter core: how a run callback finds its
// frame and frame number, and how the Config script function hands over its
// arguments. No window system is needed here.
#ifndef DELBRIN_HOST_BINDING_H
#define DELBRIN_HOST_BINDING_H

#include "host_records.h"
#include "patch_settings.h"

// The name and signature under which the host knows the script function.
extern const char kConfigFunctionName[];       // "Config"
extern const char kConfigFunctionSignature[];  // "0iiiiiiiiiiiis"

// Remembers the source frame size in the settings. Returns 0.
int CacheFrameSize(PatchSettings* settings, const Activation* activation);

// The run callback's work: the activation's settings adopt it, remember its
// source size, make the destination share the source's pixels and patch the
// current frame in place. Returns 0, the host's success code.
int RunFrame(const Activation* activation);

// The script function Config, as the host calls it: activation is the
// instance's Activation, arguments the line's thirteen values.
void ApplyConfig(void* interpreter, void* activation, const ScriptValue* arguments, int count);

#endif
