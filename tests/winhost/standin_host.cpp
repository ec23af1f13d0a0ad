// The stand-in host: the host's side of the plug-in interface, for tests.
#include "standin_host.h"

#include <commctrl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <new>

enum {
    kGuardByte = 0xCD,
    kHeapCorruption = 0xC0000374,  // the heap's own fault code
};

typedef int  (*ModuleInitProc)(ModuleRecord*, const HostFunctions*, int&, int&);
typedef void (*ModuleDeinitProc)(ModuleRecord*, const HostFunctions*);

// add filter and remove filter carry no context.
static StandinHost* gHost;

// ---- faults ---------------------------------------------------------------

static bool IsFault(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_STACK_OVERFLOW:
    case kHeapCorruption:
        return true;
    default:
        return false;
    }
}

// Runs before any handler that would swallow the fault, so a fault never
// reads as a pass.
static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!IsFault(record->ExceptionCode))
        return EXCEPTION_CONTINUE_SEARCH;
    fprintf(stderr, "FAULT: exception 0x%08lx at %p", record->ExceptionCode,
            record->ExceptionAddress);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2)
        fprintf(stderr, " (%s %p)", record->ExceptionInformation[0] ? "writing" : "reading",
                (void*)record->ExceptionInformation[1]);
    fprintf(stderr, "\n");
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), kStandinFaultExit);
    return EXCEPTION_CONTINUE_SEARCH;
}

void StandinInstallFaultHandler(void)
{
    AddVectoredExceptionHandler(1, OnException);
}

// ---- guarded memory ---------------------------------------------------------

static size_t PageSize(void)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// Memory from the top of the address space: a 64-bit host's records lie
// above 4 GB, where a pointer kept in 32 bits anywhere in the module faults.
static void* AllocHigh(size_t size)
{
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT | MEM_TOP_DOWN, PAGE_READWRITE);
}

// Layout: a no-access page, the guard pattern, the data (16-byte aligned,
// ending as close to the next page as alignment allows), the guard pattern,
// a no-access page.
bool StandinAllocBlock(StandinBlock* block, size_t size)
{
    size_t page = PageSize();
    size_t inner = (size + 2 * kStandinGuardBytes + 16 + page - 1) / page * page;
    uint8_t* base = (uint8_t*)AllocHigh(inner + 2 * page);
    if (!base)
        return false;
    DWORD old;
    VirtualProtect(base, page, PAGE_NOACCESS, &old);
    VirtualProtect(base + page + inner, page, PAGE_NOACCESS, &old);
    memset(base + page, kGuardByte, inner);
    size_t offset = (inner - kStandinGuardBytes - size) & ~(size_t)15;
    block->base = base;
    block->data = base + page + offset;
    block->size = size;
    memset(block->data, 0, size);
    return true;
}

void StandinFreeBlock(StandinBlock* block)
{
    if (block->base)
        VirtualFree(block->base, 0, MEM_RELEASE);
    block->base = nullptr;
    block->data = nullptr;
    block->size = 0;
}

static bool HoldsGuard(const uint8_t* from, const uint8_t* to)
{
    for (const uint8_t* p = from; p < to; p++)
        if (*p != kGuardByte)
            return false;
    return true;
}

bool StandinBlockIntact(const StandinBlock* block)
{
    size_t page = PageSize();
    size_t inner = (block->size + 2 * kStandinGuardBytes + 16 + page - 1) / page * page;
    const uint8_t* innerStart = block->base + page;
    return HoldsGuard(innerStart, block->data) &&
           HoldsGuard(block->data + block->size, innerStart + inner);
}

// ---- the module -------------------------------------------------------------

static FilterDefinition* StandinAddFilter(ModuleRecord* module, FilterDefinition* definition,
                                          int recordLength)
{
    StandinHost* host = gHost;
    host->addFilterCalls++;
    host->addFilterLength = recordLength;
    host->addFilterModule = module;
    host->addFilterSource = definition;
    if (host->refuseAddFilter)
        return nullptr;
    size_t length = recordLength > 0 ? (size_t)recordLength : 0;
    if (length > sizeof(FilterDefinition))
        length = sizeof(FilterDefinition);
    memset(&host->registered, 0, sizeof(host->registered));
    memcpy(&host->registered, definition, length);
    host->registered.module = module;
    return &host->registered;
}

static void StandinRemoveFilter(FilterDefinition* definition)
{
    gHost->removeFilterCalls++;
    gHost->removedDefinition = definition;
}

// The seven host services the filter has no business calling.
static void UnexpectedService(void)
{
    fprintf(stderr, "FAIL: the module called a host service it does not use\n");
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
}

// Wine hands a program Unix paths as they were typed; its Z: drive is the
// Unix root.
static void WindowsPath(const char* path, char* out, size_t capacity)
{
    if (path[0] == '/')
        snprintf(out, capacity, "Z:%s", path);
    else
        snprintf(out, capacity, "%s", path);
    for (char* p = out; *p; p++)
        if (*p == '/')
            *p = '\\';
}

static void ModuleBesideProgram(char* out, size_t capacity)
{
    DWORD length = GetModuleFileNameA(nullptr, out, (DWORD)capacity);
    if (length == 0 || length >= capacity) {
        snprintf(out, capacity, "Delbrin.vdf");
        return;
    }
    char* slash = strrchr(out, '\\');
    char* name = slash ? slash + 1 : out;
    snprintf(name, capacity - (size_t)(name - out), "Delbrin.vdf");
}

bool StandinLoad(StandinHost* host, const char* path)
{
    memset(host, 0, sizeof(*host));
    host->version = -1;
    host->compatibleVersion = -1;
    gHost = host;

    INITCOMMONCONTROLSEX controls = { sizeof(controls), ICC_WIN95_CLASSES };
    InitCommonControlsEx(&controls);

    char file[MAX_PATH];
    if (path)
        WindowsPath(path, file, sizeof(file));
    else
        ModuleBesideProgram(file, sizeof(file));
    host->library = LoadLibraryA(file);
    if (!host->library) {
        fprintf(stderr, "FAIL: cannot load %s (error %lu)\n", file, GetLastError());
        return false;
    }
    FARPROC init = GetProcAddress(host->library, "VirtualdubFilterModuleInit2");
    FARPROC deinit = GetProcAddress(host->library, "VirtualdubFilterModuleDeinit");
    if (!init || !deinit) {
        fprintf(stderr, "FAIL: %s lacks an entry point\n", file);
        return false;
    }
    host->module.instance = host->library;
    host->module.initEntry = (void*)init;
    host->module.deinitEntry = (void*)deinit;

    host->functions.addFilter = StandinAddFilter;
    host->functions.removeFilter = StandinRemoveFilter;
    for (void*& service : host->functions.otherServices)
        service = (void*)UnexpectedService;
    return true;
}

int StandinInitModule(StandinHost* host)
{
    gHost = host;
    ModuleInitProc init = (ModuleInitProc)host->module.initEntry;
    host->initResult = init(&host->module, &host->functions, host->version,
                            host->compatibleVersion);
    return host->initResult;
}

void StandinDeinitModule(StandinHost* host)
{
    gHost = host;
    ModuleDeinitProc deinit = (ModuleDeinitProc)host->module.deinitEntry;
    deinit(&host->module, &host->functions);
}

void StandinUnload(StandinHost* host)
{
    if (host->library)
        FreeLibrary(host->library);
    host->library = nullptr;
    if (gHost == host)
        gHost = nullptr;
}

// ---- the preview --------------------------------------------------------------

static void Notify(StandinPreview* preview, StandinPreviewEvent event, HWND window)
{
    if (preview->hook)
        preview->hook(event, window, preview->hookContext);
}

void StandinPreview::SetButtonCallback(void (*)(bool, void*), void*) { otherCalls++; }
void StandinPreview::SetSampleCallback(void (*)(HostBitmap*, long, long, void*), void*)
{
    otherCalls++;
}
bool StandinPreview::isPreviewEnabled() { otherCalls++; return false; }
void StandinPreview::Display(HWND, bool) { otherCalls++; }
void StandinPreview::RedoSystem() { otherCalls++; }
void StandinPreview::UndoSystem() { otherCalls++; }
void StandinPreview::Close() { otherCalls++; }
bool StandinPreview::SampleCurrentFrame() { otherCalls++; return false; }
long StandinPreview::SampleFrames() { otherCalls++; return 0; }

void StandinPreview::Toggle(HWND parent)
{
    toggleCalls++;
    lastToggleWindow = parent;
    Notify(this, kPreviewToggle, parent);
}

// The preview renders the current frame afresh from the source, with the
// settings as they are now.
void StandinPreview::RedoFrame()
{
    redoFrameCalls++;
    if (redoRunsFilter && instance) {
        StandinPaintFrame(instance, instance->paintSeed);
        StandinCallRun(instance, instance->frameState.state.currentFrame);
    }
    Notify(this, kPreviewRedoFrame, nullptr);
}

void StandinPreview::InitButton(HWND button)
{
    initButtonCalls++;
    lastButton = button;
    Notify(this, kPreviewInitButton, button);
}

// ---- frames ---------------------------------------------------------------------

// Stands in for the host's own v-table pointer, which the filter never touches.
static const void* const kBitmapVtable[4] = {};

static bool MakeFrame(StandinFrame* frame, int32_t width, int32_t height)
{
    frame->width = width;
    frame->height = height;
    frame->pitch = 4 * width + kStandinRowSlack;
    if (!StandinAllocBlock(&frame->pixels, (size_t)frame->pitch * (size_t)height))
        return false;
    for (int32_t row = 0; row < height; row++)
        memset(frame->pixels.data + (size_t)row * frame->pitch + 4 * width, kGuardByte,
               kStandinRowSlack);
    return true;
}

static void DescribeFrame(StandinFrame* frame)
{
    HostBitmap* bitmap = &frame->bitmap;
    memset(bitmap, 0, sizeof(*bitmap));
    bitmap->hostVtable = (void*)kBitmapVtable;
    bitmap->data = (uint32_t*)frame->pixels.data;
    bitmap->depth = 32;
    bitmap->width = frame->width;
    bitmap->height = frame->height;
    bitmap->pitch = frame->pitch;
    bitmap->modulo = frame->pitch - 4 * frame->width;
    bitmap->size = (ptrdiff_t)frame->pitch * frame->height;
    bitmap->offset = 0;
}

uint32_t* StandinPixel(StandinFrame* frame, int32_t x, int32_t y)
{
    return (uint32_t*)(frame->pixels.data + (size_t)(frame->height - 1 - y) * frame->pitch +
                       4 * (size_t)x);
}

bool StandinFrameIntact(const StandinFrame* frame)
{
    if (!StandinBlockIntact(&frame->pixels))
        return false;
    for (int32_t row = 0; row < frame->height; row++) {
        const uint8_t* slack = frame->pixels.data + (size_t)row * frame->pitch + 4 * frame->width;
        if (!HoldsGuard(slack, slack + kStandinRowSlack))
            return false;
    }
    return true;
}

bool StandinInstanceIntact(const StandinInstance* instance)
{
    return StandinFrameIntact(&instance->source) && StandinFrameIntact(&instance->destination) &&
           StandinBlockIntact(&instance->settingsBlock);
}

uint32_t StandinPatternPixel(uint32_t seed, int32_t x, int32_t y)
{
    uint32_t h = seed * 0x9E3779B1u ^ (uint32_t)x * 0x85EBCA77u ^ (uint32_t)y * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h | 0xFF000000u;
}

void StandinPaintFrame(StandinInstance* instance, uint32_t seed)
{
    StandinFrame* frame = &instance->source;
    instance->paintSeed = seed;
    for (int32_t y = 0; y < frame->height; y++)
        for (int32_t x = 0; x < frame->width; x++)
            *StandinPixel(frame, x, y) = StandinPatternPixel(seed, x, y);
}

StandinChanges StandinCountChanges(StandinInstance* instance, int64_t x, int64_t y, int64_t width,
                                   int64_t height)
{
    StandinChanges changes = { 0, 0 };
    StandinFrame* frame = &instance->source;
    for (int32_t row = 0; row < frame->height; row++)
        for (int32_t column = 0; column < frame->width; column++) {
            if (*StandinPixel(frame, column, row) ==
                StandinPatternPixel(instance->paintSeed, column, row))
                continue;
            bool inside = column >= x && column < x + width && row >= y && row < y + height;
            (inside ? changes.inside : changes.outside)++;
        }
    return changes;
}

// ---- instances ---------------------------------------------------------------------

StandinInstance* StandinCreateInstance(StandinHost* host, int32_t width, int32_t height)
{
    // The activation record, the bitmaps, the frame state and the preview
    // object lie high too.
    void* memory = AllocHigh(sizeof(StandinInstance));
    if (!memory)
        return nullptr;
    StandinInstance* instance = new (memory) StandinInstance();
    instance->host = host;
    size_t dataSize = host->registered.instanceDataSize > 0
                          ? (size_t)host->registered.instanceDataSize : 0;
    if (!StandinAllocBlock(&instance->settingsBlock, dataSize) ||
        !MakeFrame(&instance->source, width, height) ||
        !MakeFrame(&instance->destination, width, height)) {
        StandinDestroyInstance(instance);
        return nullptr;
    }
    instance->settings = (PatchSettings*)instance->settingsBlock.data;
    instance->preview.instance = instance;

    Activation* activation = &instance->activation;
    activation->definition = &host->registered;
    activation->settings = instance->settings;
    activation->destination = &instance->destination.bitmap;
    activation->source = &instance->source.bitmap;
    activation->frameState = &instance->frameState.state;
    activation->preview = &instance->preview;
    StandinFillBitmaps(instance);
    StandinPaintFrame(instance, 0);
    return instance;
}

void StandinDestroyInstance(StandinInstance* instance)
{
    if (!instance)
        return;
    StandinFreeBlock(&instance->settingsBlock);
    StandinFreeBlock(&instance->source.pixels);
    StandinFreeBlock(&instance->destination.pixels);
    instance->~StandinInstance();
    VirtualFree(instance, 0, MEM_RELEASE);
}

void StandinBlankBitmaps(StandinInstance* instance)
{
    memset(&instance->source.bitmap, 0, sizeof(instance->source.bitmap));
    memset(&instance->destination.bitmap, 0, sizeof(instance->destination.bitmap));
}

void StandinFillBitmaps(StandinInstance* instance)
{
    DescribeFrame(&instance->source);
    DescribeFrame(&instance->destination);
}

// ---- callbacks ---------------------------------------------------------------------

static const HostFunctions* Functions(StandinInstance* instance)
{
    return &instance->host->functions;
}

int StandinCallInit(StandinInstance* instance)
{
    return instance->host->registered.init(&instance->activation, Functions(instance));
}

int StandinCallConfig(StandinInstance* instance, HWND parent)
{
    return instance->host->registered.config(&instance->activation, Functions(instance), parent);
}

void StandinCallString(StandinInstance* instance, char* buffer)
{
    instance->host->registered.string(&instance->activation, Functions(instance), buffer);
}

bool StandinCallScriptString(StandinInstance* instance, char* buffer, int capacity)
{
    return instance->host->registered.scriptString(&instance->activation, Functions(instance),
                                                   buffer, capacity);
}

long StandinCallParam(StandinInstance* instance)
{
    return instance->host->registered.param(&instance->activation, Functions(instance));
}

int StandinCallStart(StandinInstance* instance)
{
    return instance->host->registered.start(&instance->activation, Functions(instance));
}

int StandinCallRun(StandinInstance* instance, int32_t frameNumber)
{
    instance->frameState.state.currentFrame = frameNumber;
    instance->destination.bitmap.data = (uint32_t*)instance->destination.pixels.data;
    return instance->host->registered.run(&instance->activation, Functions(instance));
}

int StandinCallEnd(StandinInstance* instance)
{
    return instance->host->registered.end(&instance->activation, Functions(instance));
}

bool StandinCallConfigFunction(StandinInstance* instance, const int32_t numbers[kConfigNumberCount],
                               const char* text, bool wideIntegers)
{
    const ScriptObject* script = instance->host->registered.script;
    if (!script || !script->functions)
        return false;
    const ScriptFunctionEntry* entry = script->functions;
    while (entry->handler && !(entry->name && strcmp(entry->name, "Config") == 0))
        entry++;
    if (!entry->handler)
        return false;

    // The host keeps the text in its own storage and passes a pointer to its
    // pointer to it.
    char* hostText = _strdup(text);
    // The twelve numbers, then the text.
    ScriptValue arguments[kConfigNumberCount + 1];
    memset(arguments, 0, sizeof(arguments));
    for (int i = 0; i < kConfigNumberCount; i++) {
        if (wideIntegers) {
            arguments[i].type = kScriptInt64;
            arguments[i].value.wide = numbers[i];
        } else {
            arguments[i].type = kScriptInt;
            arguments[i].value.number = numbers[i];
        }
    }
    arguments[kConfigNumberCount].type = kScriptString;
    arguments[kConfigNumberCount].value.text = &hostText;

    int interpreter = 0;  // opaque to the filter
    entry->handler(&interpreter, &instance->activation, arguments, kConfigNumberCount + 1);
    free(hostText);
    return true;
}
