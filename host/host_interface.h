// The host's side of the plug-in interface: the records and operations that
// only the module and the dialog see. The records the core reads are in
// host_records.h. The layouts are the host's published ones, for the 32-bit
// host and for the 64-bit host (same members, 8-byte pointers, natural
// alignment); the asserts at the bottom pin both.
#ifndef DELBRIN_HOST_INTERFACE_H
#define DELBRIN_HOST_INTERFACE_H

#include <windows.h>

#include "host_records.h"

struct HostFunctions;

// The host's record of a loaded module.
struct ModuleRecord {
    ModuleRecord* next;
    ModuleRecord* previous;
    HINSTANCE     instance;   // the module's instance handle
    void*         initEntry;
    void*         extendedInitEntry;
    void*         deinitEntry;
};

typedef int  (*FilterInitProc)(Activation*, const HostFunctions*);
typedef void (*FilterDeinitProc)(Activation*, const HostFunctions*);
typedef int  (*FilterRunProc)(const Activation*, const HostFunctions*);
typedef long (*FilterParamProc)(Activation*, const HostFunctions*);
typedef int  (*FilterConfigProc)(Activation*, const HostFunctions*, HWND parent);
typedef void (*FilterStringProc)(const Activation*, const HostFunctions*, char* buffer);
typedef int  (*FilterStartProc)(Activation*, const HostFunctions*);
typedef int  (*FilterEndProc)(Activation*, const HostFunctions*);
typedef bool (*FilterScriptStringProc)(Activation*, const HostFunctions*, char* buffer, int capacity);
typedef void (*ScriptFunctionProc)(void* interpreter, void* activation,
                                   const ScriptValue* arguments, int count);

struct ScriptFunctionEntry {
    ScriptFunctionProc handler;
    const char*        name;
    const char*        signature;
};

struct ScriptObject {
    void*                lookup;
    ScriptFunctionEntry* functions;
    void*                objects;
    void*                reserved;
};

// The filter definition record: 18 slots the host reads.
struct FilterDefinition {
    FilterDefinition*      next;
    FilterDefinition*      previous;
    ModuleRecord*          module;
    const char*            name;
    const char*            description;
    const char*            maker;
    void*                  privateData;
    int                    instanceDataSize;
    FilterInitProc         init;
    FilterDeinitProc       deinit;
    FilterRunProc          run;
    FilterParamProc        param;
    FilterConfigProc       config;
    FilterStringProc       string;
    FilterStartProc        start;
    FilterEndProc          end;
    ScriptObject*          script;
    FilterScriptStringProc scriptString;
};

struct HostFunctions {
    FilterDefinition* (*addFilter)(ModuleRecord* module, FilterDefinition* definition,
                                   int recordLength);
    void (*removeFilter)(FilterDefinition* definition);
    void* otherServices[7];  // unused by the filter
};

// The host's preview window, a C++ object: the slots must line up with the
// host's v-table, so all twelve methods are declared, in the host's order.
// The 32-bit host calls its members with the this pointer in ECX (thiscall),
// which is what the compiler gives member functions on that target; x86-64
// has one calling convention.
struct PreviewInterface {
    virtual void SetButtonCallback(void (*callback)(bool, void*), void* data) = 0;
    virtual void SetSampleCallback(void (*callback)(HostBitmap*, long, long, void*), void* data) = 0;
    virtual bool isPreviewEnabled() = 0;
    virtual void Toggle(HWND parent) = 0;
    virtual void Display(HWND parent, bool show) = 0;
    virtual void RedoFrame() = 0;
    virtual void RedoSystem() = 0;
    virtual void UndoSystem() = 0;
    virtual void InitButton(HWND button) = 0;
    virtual void Close() = 0;
    virtual bool SampleCurrentFrame() = 0;
    virtual long SampleFrames() = 0;
};

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(ModuleRecord) == 24, "module record layout");
static_assert(offsetof(ModuleRecord, next) == 0, "module record layout");
static_assert(offsetof(ModuleRecord, previous) == 4, "module record layout");
static_assert(offsetof(ModuleRecord, instance) == 8, "module record layout");
static_assert(offsetof(ModuleRecord, initEntry) == 12, "module record layout");
static_assert(offsetof(ModuleRecord, extendedInitEntry) == 16, "module record layout");
static_assert(offsetof(ModuleRecord, deinitEntry) == 20, "module record layout");
static_assert(sizeof(FilterDefinition) == 72, "filter definition layout");
static_assert(offsetof(FilterDefinition, next) == 0, "filter definition layout");
static_assert(offsetof(FilterDefinition, previous) == 4, "filter definition layout");
static_assert(offsetof(FilterDefinition, module) == 8, "filter definition layout");
static_assert(offsetof(FilterDefinition, name) == 12, "filter definition layout");
static_assert(offsetof(FilterDefinition, description) == 16, "filter definition layout");
static_assert(offsetof(FilterDefinition, maker) == 20, "filter definition layout");
static_assert(offsetof(FilterDefinition, privateData) == 24, "filter definition layout");
static_assert(offsetof(FilterDefinition, instanceDataSize) == 28, "filter definition layout");
static_assert(offsetof(FilterDefinition, init) == 32, "filter definition layout");
static_assert(offsetof(FilterDefinition, deinit) == 36, "filter definition layout");
static_assert(offsetof(FilterDefinition, run) == 40, "filter definition layout");
static_assert(offsetof(FilterDefinition, param) == 44, "filter definition layout");
static_assert(offsetof(FilterDefinition, config) == 48, "filter definition layout");
static_assert(offsetof(FilterDefinition, string) == 52, "filter definition layout");
static_assert(offsetof(FilterDefinition, start) == 56, "filter definition layout");
static_assert(offsetof(FilterDefinition, end) == 60, "filter definition layout");
static_assert(offsetof(FilterDefinition, script) == 64, "filter definition layout");
static_assert(offsetof(FilterDefinition, scriptString) == 68, "filter definition layout");
static_assert(sizeof(ScriptObject) == 16, "script object layout");
static_assert(offsetof(ScriptObject, lookup) == 0, "script object layout");
static_assert(offsetof(ScriptObject, functions) == 4, "script object layout");
static_assert(offsetof(ScriptObject, objects) == 8, "script object layout");
static_assert(offsetof(ScriptObject, reserved) == 12, "script object layout");
static_assert(sizeof(ScriptFunctionEntry) == 12, "script function entry layout");
static_assert(offsetof(ScriptFunctionEntry, handler) == 0, "script function entry layout");
static_assert(offsetof(ScriptFunctionEntry, name) == 4, "script function entry layout");
static_assert(offsetof(ScriptFunctionEntry, signature) == 8, "script function entry layout");
static_assert(sizeof(HostFunctions) == 36, "functions table layout");
static_assert(offsetof(HostFunctions, addFilter) == 0, "functions table layout");
static_assert(offsetof(HostFunctions, removeFilter) == 4, "functions table layout");
static_assert(sizeof(PreviewInterface) == 4, "the preview object as the filter sees it: its v-table");
#elif INTPTR_MAX == INT64_MAX
// The 64-bit host: every slot of the definition is 8 bytes, the instance
// size's int padded to 8.
static_assert(sizeof(ModuleRecord) == 48, "module record layout");
static_assert(offsetof(ModuleRecord, next) == 0, "module record layout");
static_assert(offsetof(ModuleRecord, previous) == 8, "module record layout");
static_assert(offsetof(ModuleRecord, instance) == 16, "module record layout");
static_assert(offsetof(ModuleRecord, initEntry) == 24, "module record layout");
static_assert(offsetof(ModuleRecord, extendedInitEntry) == 32, "module record layout");
static_assert(offsetof(ModuleRecord, deinitEntry) == 40, "module record layout");
static_assert(sizeof(FilterDefinition) == 144, "filter definition layout");
static_assert(offsetof(FilterDefinition, next) == 0, "filter definition layout");
static_assert(offsetof(FilterDefinition, previous) == 8, "filter definition layout");
static_assert(offsetof(FilterDefinition, module) == 16, "filter definition layout");
static_assert(offsetof(FilterDefinition, name) == 24, "filter definition layout");
static_assert(offsetof(FilterDefinition, description) == 32, "filter definition layout");
static_assert(offsetof(FilterDefinition, maker) == 40, "filter definition layout");
static_assert(offsetof(FilterDefinition, privateData) == 48, "filter definition layout");
static_assert(offsetof(FilterDefinition, instanceDataSize) == 56, "filter definition layout");
static_assert(offsetof(FilterDefinition, init) == 64, "filter definition layout");
static_assert(offsetof(FilterDefinition, deinit) == 72, "filter definition layout");
static_assert(offsetof(FilterDefinition, run) == 80, "filter definition layout");
static_assert(offsetof(FilterDefinition, param) == 88, "filter definition layout");
static_assert(offsetof(FilterDefinition, config) == 96, "filter definition layout");
static_assert(offsetof(FilterDefinition, string) == 104, "filter definition layout");
static_assert(offsetof(FilterDefinition, start) == 112, "filter definition layout");
static_assert(offsetof(FilterDefinition, end) == 120, "filter definition layout");
static_assert(offsetof(FilterDefinition, script) == 128, "filter definition layout");
static_assert(offsetof(FilterDefinition, scriptString) == 136, "filter definition layout");
static_assert(sizeof(ScriptObject) == 32, "script object layout");
static_assert(offsetof(ScriptObject, lookup) == 0, "script object layout");
static_assert(offsetof(ScriptObject, functions) == 8, "script object layout");
static_assert(offsetof(ScriptObject, objects) == 16, "script object layout");
static_assert(offsetof(ScriptObject, reserved) == 24, "script object layout");
static_assert(sizeof(ScriptFunctionEntry) == 24, "script function entry layout");
static_assert(offsetof(ScriptFunctionEntry, handler) == 0, "script function entry layout");
static_assert(offsetof(ScriptFunctionEntry, name) == 8, "script function entry layout");
static_assert(offsetof(ScriptFunctionEntry, signature) == 16, "script function entry layout");
static_assert(sizeof(HostFunctions) == 72, "functions table layout");
static_assert(offsetof(HostFunctions, addFilter) == 0, "functions table layout");
static_assert(offsetof(HostFunctions, removeFilter) == 8, "functions table layout");
static_assert(sizeof(PreviewInterface) == 8, "the preview object as the filter sees it: its v-table");
#else
#error "the host is a 32-bit or a 64-bit program"
#endif

#endif
