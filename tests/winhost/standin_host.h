// A stand-in for the video host, for tests of Delbrin.vdf under wine.
//
// It plays the host's part of the plug-in interface: loads the module,
// registers its filter, makes filter instances and calls every callback the
// way the host does, with records laid out as the host lays them out. What it
// owns is guarded, so that a test can tell whether the module wrote where it
// must not:
//   - each frame is a bottom-up 32-bit bitmap whose pitch is wider than its
//     rows; the row ends, a band before the first row and a band after the
//     last are filled with a guard pattern, and beyond them lie pages that
//     fault on any access;
//   - the instance data (the settings record) sits between guard bands and
//     no-access pages too;
//   - a fault anywhere (also one wine would swallow inside a dialog
//     procedure) ends the program with kStandinFaultExit;
//   - instances and guarded blocks come from the top of the address space,
//     above 4 GB in a 64-bit program, as a 64-bit host's records do.
//
// Typical use:
//   StandinInstallFaultHandler();
//   StandinHost host;
//   if (!StandinLoad(&host, nullptr) || StandinInitModule(&host) != 0) return 1;
//   StandinInstance* inst = StandinCreateInstance(&host, 320, 240);
//   StandinCallInit(inst);
//   StandinPaintFrame(inst, 7);
//   StandinCallStart(inst);
//   StandinCallRun(inst, 0);
//   ...
//   StandinDestroyInstance(inst);
//   StandinDeinitModule(&host);
//   StandinUnload(&host);
//
// To play a host whose definition copy has no module slot, set
// host.registered.module to null after StandinInitModule.
//
// One host at a time: the host's add and remove filter operations take no
// context, so they reach the loaded StandinHost through a global.
#ifndef DELBRIN_STANDIN_HOST_H
#define DELBRIN_STANDIN_HOST_H

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include "host_interface.h"
#include "patch_settings.h"
#include "script_line.h"

enum {
    kStandinFaultExit = 70,    // exit code after a fault
    kStandinGuardBytes = 64,   // guard band before and after each block
    kStandinRowSlack = 12,     // guard bytes at the end of every frame row
};

// Installs a vectored exception handler that reports a fault (access
// violation, division by zero, stack overflow, illegal instruction, heap
// corruption) on stderr and ends the process with kStandinFaultExit. Call it
// once, first thing in main.
void StandinInstallFaultHandler(void);

// Memory with guard bands on both sides and no-access pages beyond them.
struct StandinBlock {
    uint8_t* base;      // the whole reservation, for freeing
    uint8_t* data;      // size usable bytes, zero-filled when allocated
    size_t   size;
};

bool StandinAllocBlock(StandinBlock* block, size_t size);
void StandinFreeBlock(StandinBlock* block);
// True when both guard bands still hold the guard pattern.
bool StandinBlockIntact(const StandinBlock* block);

// The module as the host sees it.
struct StandinHost {
    HMODULE          library;
    ModuleRecord     module;      // handed to both entry points
    HostFunctions    functions;   // add filter, remove filter, seven unused
    FilterDefinition registered;  // the host's copy of the filter's record
    int              version;            // written by module init, else -1
    int              compatibleVersion;  // likewise
    int              initResult;

    // Set before StandinInitModule to have add filter fail (answer null).
    bool refuseAddFilter;

    // What the module did through the functions table.
    int               addFilterCalls;
    int               addFilterLength;    // record length passed to add filter
    ModuleRecord*     addFilterModule;    // module record passed to add filter
    FilterDefinition* addFilterSource;    // the module's own record
    int               removeFilterCalls;
    FilterDefinition* removedDefinition;  // last record passed to remove filter
};

// Loads the module (path null: Delbrin.vdf beside the running program) and
// registers the common controls, as the host does before any dialog opens.
// The host is reset first. False, with a message on stderr, when the module
// does not load or lacks an entry point.
bool StandinLoad(StandinHost* host, const char* path);
// Calls module init, fills the registered copy's module slot when add filter
// succeeded, and returns init's result.
int  StandinInitModule(StandinHost* host);
void StandinDeinitModule(StandinHost* host);
void StandinUnload(StandinHost* host);

// The host's preview window. It counts the calls the filter makes and can
// tell a test about them; a test driving a dialog uses the hook to act once
// the dialog is up (InitButton comes from the dialog's initialisation).
enum StandinPreviewEvent {
    kPreviewToggle,
    kPreviewRedoFrame,
    kPreviewInitButton,
};

struct StandinInstance;

struct StandinPreview : PreviewInterface {
    StandinInstance* instance;
    int  toggleCalls;
    int  redoFrameCalls;
    int  initButtonCalls;
    int  otherCalls;         // any of the nine the filter never needs
    HWND lastToggleWindow;
    HWND lastButton;
    bool redoRunsFilter;     // RedoFrame re-runs the filter on the current frame
    void (*hook)(StandinPreviewEvent event, HWND window, void* context);
    void* hookContext;

    void SetButtonCallback(void (*)(bool, void*), void*) override;
    void SetSampleCallback(void (*)(HostBitmap*, long, long, void*), void*) override;
    bool isPreviewEnabled() override;
    void Toggle(HWND parent) override;
    void Display(HWND, bool) override;
    void RedoFrame() override;
    void RedoSystem() override;
    void UndoSystem() override;
    void InitButton(HWND button) override;
    void Close() override;
    bool SampleCurrentFrame() override;
    long SampleFrames() override;
};

// A frame bitmap with its guarded pixel storage.
struct StandinFrame {
    HostBitmap   bitmap;
    uint8_t      hostTail[32];  // host members beyond those the filter knows
    StandinBlock pixels;        // height rows of pitch bytes
    int32_t      width;
    int32_t      height;
    int32_t      pitch;         // 4 * width + kStandinRowSlack
};

// The frame-state record: the current frame number, then timing members.
struct StandinFrameState {
    FrameState state;
    int32_t    timing[8];
};

// One filter instance with its own source and destination frames.
struct StandinInstance {
    StandinHost*      host;
    Activation        activation;
    StandinBlock      settingsBlock;  // instance data, the registered size
    PatchSettings*    settings;       // = settingsBlock.data
    StandinFrame      source;
    StandinFrame      destination;
    StandinFrameState frameState;
    StandinPreview    preview;
    uint32_t          paintSeed;      // the pattern last painted into the source
};

// Makes an instance over frames of the given size: zero-filled instance data
// of the size the filter declared, both bitmaps describing their frames (the
// source painted with StandinPaintFrame(instance, 0)), the activation's
// definition pointing at the host's registered copy. Null when out of memory.
StandinInstance* StandinCreateInstance(StandinHost* host, int32_t width, int32_t height);
void StandinDestroyInstance(StandinInstance* instance);

// Some hosts hand over all-zero bitmap records during init and the script
// function; these switch the records between that and describing the frames.
void StandinBlankBitmaps(StandinInstance* instance);
void StandinFillBitmaps(StandinInstance* instance);

// Fills the source frame with a deterministic pattern that depends on seed;
// the fourth byte of every pixel is 0xFF. StandinPatternPixel gives the
// pattern's value at (x, y), y counted from the top.
void     StandinPaintFrame(StandinInstance* instance, uint32_t seed);
uint32_t StandinPatternPixel(uint32_t seed, int32_t x, int32_t y);
// The source pixels that differ from the pattern last painted, inside and
// outside the rectangle of the given position and size.
struct StandinChanges {
    long inside;
    long outside;
};
StandinChanges StandinCountChanges(StandinInstance* instance, int64_t x, int64_t y, int64_t width,
                                   int64_t height);
// The address of pixel (x, y) of a frame, y counted from the top.
uint32_t* StandinPixel(StandinFrame* frame, int32_t x, int32_t y);
// True when the frame's guard bands and row ends are untouched.
bool StandinFrameIntact(const StandinFrame* frame);
// True when both frames and the instance data are untouched outside.
bool StandinInstanceIntact(const StandinInstance* instance);

// The callbacks, called as the host calls them.
int  StandinCallInit(StandinInstance* instance);
int  StandinCallConfig(StandinInstance* instance, HWND parent);
void StandinCallString(StandinInstance* instance, char* buffer);
bool StandinCallScriptString(StandinInstance* instance, char* buffer, int capacity);
long StandinCallParam(StandinInstance* instance);
int  StandinCallStart(StandinInstance* instance);
// Sets the current frame number, points the destination bitmap back at its
// own storage (the filter must point it at the source's) and calls run.
int  StandinCallRun(StandinInstance* instance, int32_t frameNumber);
int  StandinCallEnd(StandinInstance* instance);

// Replays a Config script line: finds "Config" in the filter's script
// function table and calls it with twelve integer arguments and the text.
// wideIntegers passes the integers as 64-bit values, as some hosts do.
// False when the table has no such function.
bool StandinCallConfigFunction(StandinInstance* instance, const int32_t numbers[kConfigNumberCount],
                               const char* text, bool wideIntegers);

#endif
