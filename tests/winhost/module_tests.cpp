// Tests of Delbrin.vdf through the stand-in host: registration, the whole
// life cycle of an instance, bad saved settings, the host's text buffers and
// the version record. The first argument names the test; the exit code is
// its result (0 passed, 1 failed, kStandinFaultExit after a fault).
#include <windows.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "standin_host.h"

static int gFailures;

#define CHECK(condition)                                                             \
    do {                                                                             \
        if (!(condition)) {                                                          \
            fprintf(stderr, "FAIL line %d: %s\n", __LINE__, #condition);             \
            gFailures++;                                                             \
        }                                                                            \
    } while (0)

enum {
    kDialogTemplate = 107,
    kSummaryCapacity = 51,  // the summary is at most 50 characters
    // 18 slots of a pointer's size: 72 bytes for a 32-bit host, 144 for a
    // 64-bit one.
    kDefinitionLength = 18 * sizeof(void*),
};

// Whether an address lies above 4 GB, where a 64-bit host keeps its records
// and the module: true for every address in a 32-bit program, which cannot
// tell.
static bool HighEnough(const void* address)
{
    return sizeof(void*) == 4 || (uintptr_t)address > UINT32_MAX;
}

// A Config line's twelve numbers, in the line's order.
struct ConfigNumbers {
    int32_t values[kConfigNumberCount];
};

// The numbers of a line with every cancel switch off.
static ConfigNumbers Numbers(int32_t width, int32_t height, int32_t x, int32_t y,
                             int32_t featherOn, int32_t fadeOn, int32_t featherWidth,
                             int32_t fadeFrames)
{
    ConfigNumbers numbers = {};
    numbers.values[kConfigWidth] = width;
    numbers.values[kConfigHeight] = height;
    numbers.values[kConfigX] = x;
    numbers.values[kConfigY] = y;
    numbers.values[kConfigFeatherOn] = featherOn;
    numbers.values[kConfigFadeOn] = fadeOn;
    numbers.values[kConfigFeatherWidth] = featherWidth;
    numbers.values[kConfigFadeFrames] = fadeFrames;
    return numbers;
}

// Loads the module and, when asked, registers its filter; a module that
// does not load or refuses to register fails the test.
static bool LoadModule(StandinHost* host, bool registerFilter)
{
    if (!StandinLoad(host, nullptr)) {
        gFailures++;
        return false;
    }
    if (registerFilter && StandinInitModule(host) != 0) {
        fprintf(stderr, "FAIL: module init refused\n");
        gFailures++;
        return false;
    }
    return true;
}

// Deinit hands the host back the record add filter returned, once.
static void DeinitRemovingFilter(StandinHost* host)
{
    StandinDeinitModule(host);
    CHECK(host->removeFilterCalls == 1);
    CHECK(host->removedDefinition == &host->registered);
}

static void Configure(StandinInstance* instance, const ConfigNumbers& numbers, const char* ranges,
                      bool wideIntegers = false)
{
    CHECK(StandinCallConfigFunction(instance, numbers.values, ranges, wideIntegers));
}

// Paints the frame's own pattern into the source and runs the filter on it;
// the filter patches in place and hands the source on as the destination.
static void RunOnFrame(StandinInstance* instance, int32_t frame)
{
    StandinPaintFrame(instance, (uint32_t)frame);
    CHECK(StandinCallRun(instance, frame) == 0);
    CHECK(instance->destination.bitmap.data == instance->source.bitmap.data);
}

// The summary goes into a buffer of exactly the longest summary's size.
static std::string Summary(StandinInstance* instance)
{
    StandinBlock buffer;
    if (!StandinAllocBlock(&buffer, kSummaryCapacity))
        return "";
    StandinCallString(instance, (char*)buffer.data);
    CHECK(StandinBlockIntact(&buffer));
    CHECK(memchr(buffer.data, 0, kSummaryCapacity) != nullptr);
    std::string text((char*)buffer.data, strnlen((char*)buffer.data, kSummaryCapacity));
    StandinFreeBlock(&buffer);
    return text;
}

static std::string ScriptLine(StandinInstance* instance)
{
    std::vector<char> buffer(8192, 0);
    CHECK(StandinCallScriptString(instance, buffer.data(), (int)buffer.size()));
    return buffer.data();
}

// ---- registration -------------------------------------------------------------

// Module init hands the host the full record once and answers the interface
// versions; deinit hands back what add filter returned, once.
static void TestRegistration(StandinHost* host)
{
    CHECK(StandinInitModule(host) == 0);
    CHECK(host->version == 7);
    CHECK(host->compatibleVersion == 4);
    CHECK(host->addFilterCalls == 1);
    CHECK(host->addFilterLength == kDefinitionLength);
    CHECK(host->addFilterModule == &host->module);
    // The module's code and its records (definition, texts, script table)
    // lie where a 64-bit host puts them.
    CHECK(HighEnough(host->library));

    const FilterDefinition* record = host->addFilterSource;
    CHECK(record->next == nullptr);
    CHECK(record->previous == nullptr);
    CHECK(record->module == nullptr);
    CHECK(record->name && strcmp(record->name, "Tavrel") == 0);
    CHECK(record->description != nullptr);
    CHECK(record->maker != nullptr);
    CHECK(record->privateData == nullptr);
    CHECK(record->instanceDataSize == (int)sizeof(PatchSettings));
    printf("definition record length %d, instance size %d\n", host->addFilterLength,
           record->instanceDataSize);
    CHECK(record->init && record->run && record->param && record->config);
    CHECK(record->string && record->start && record->end && record->scriptString);
    CHECK(record->deinit == nullptr);

    const ScriptObject* script = record->script;
    CHECK(script != nullptr);
    if (script) {
        CHECK(script->lookup == nullptr);
        CHECK(script->objects == nullptr);
        CHECK(script->reserved == nullptr);
        const ScriptFunctionEntry* entry = script->functions;
        CHECK(entry != nullptr);
        if (entry) {
            CHECK(entry[0].handler != nullptr);
            CHECK(entry[0].name && strcmp(entry[0].name, "Config") == 0);
            CHECK(entry[0].signature && strcmp(entry[0].signature, "0iiiiiiiiiiiis") == 0);
            CHECK(!entry[1].handler && !entry[1].name && !entry[1].signature);
        }
    }

    DeinitRemovingFilter(host);
    // A second deinit finds nothing left to remove.
    StandinDeinitModule(host);
    CHECK(host->removeFilterCalls == 1);
}

// When add filter fails, init says so and writes nothing else, and a later
// deinit does not hand the host a null record.
static void TestFailedInit(StandinHost* host)
{
    host->refuseAddFilter = true;
    CHECK(StandinInitModule(host) == 1);
    CHECK(host->addFilterCalls == 1);
    CHECK(host->version == -1);
    CHECK(host->compatibleVersion == -1);
    StandinDeinitModule(host);
    CHECK(host->removeFilterCalls == 0);

    // The module can still register after the failure.
    host->refuseAddFilter = false;
    CHECK(StandinInitModule(host) == 0);
    DeinitRemovingFilter(host);
}

// The definition's three texts as hex bytes, one per line, for a comparison
// with their GBK encoding outside wine.
static void DumpTexts(StandinHost* host)
{
    const char* texts[3] = { host->registered.name, host->registered.maker,
                             host->registered.description };
    const char* labels[3] = { "name", "maker", "description" };
    for (int i = 0; i < 3; i++) {
        printf("%s ", labels[i]);
        for (const unsigned char* p = (const unsigned char*)texts[i]; *p; p++)
            printf("%02x", *p);
        printf("\n");
    }
}

// The dialog reaches the host's preview through v-table slots 3, 5 and 8;
// calling those slots as the host numbers them, with the host's calling
// convention, reaches the stand-in's Toggle, RedoFrame and InitButton. The
// 32-bit host passes the object in ECX; x86-64 has one convention.
#if defined(__i386__)
#define HOST_MEMBER_CALL __attribute__((thiscall))
#else
#define HOST_MEMBER_CALL
#endif
typedef void (HOST_MEMBER_CALL *WindowSlot)(void* self, HWND window);
typedef void (HOST_MEMBER_CALL *PlainSlot)(void* self);

static void TestPreviewSlots(StandinHost*)
{
    StandinPreview preview = StandinPreview();
    void** vtable = *(void***)&preview;
    HWND window = (HWND)0x1234;
    ((WindowSlot)vtable[3])(&preview, window);
    ((PlainSlot)vtable[5])(&preview);
    ((WindowSlot)vtable[8])(&preview, window);
    CHECK(preview.toggleCalls == 1 && preview.lastToggleWindow == window);
    CHECK(preview.redoFrameCalls == 1);
    CHECK(preview.initButtonCalls == 1 && preview.lastButton == window);
    CHECK(preview.otherCalls == 0);
}

// ---- the life cycle -----------------------------------------------------------

static bool IsPatchedFrame(int32_t frame)
{
    // Ranges 100-200 and 300-400 widened by the 5 fade frames on each side.
    return (frame > 95 && frame < 205) || (frame > 295 && frame < 405);
}

// init, Config, string, script string, param, start, run over many frames,
// end, and deinit, the way the host calls them.
static void TestLifeCycle(StandinHost* host)
{
    StandinInstance* instance = StandinCreateInstance(host, 320, 240);
    CHECK(instance != nullptr);
    if (!instance)
        return;
    PatchSettings* settings = instance->settings;
    CHECK(HighEnough(settings) && HighEnough(&instance->activation));

    // Some hosts fill the bitmaps only after init and the script function.
    StandinBlankBitmaps(instance);
    CHECK(StandinCallInit(instance) == 0);
    CHECK(settings->activation == &instance->activation);
    CHECK(settings->width == 1 && settings->height == 1 && settings->x == 0 && settings->y == 0);
    CHECK(settings->featherWidth == 10 && settings->fadeFrames == 5);
    CHECK(settings->rangeCount == 0);
    CHECK(ScriptLine(instance) == "Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")");

    // Hosts that pass the integers as 64-bit values restore the same settings.
    const ConfigNumbers numbers = Numbers(64, 48, 10, 20, 1, 0, 10, 5);
    Configure(instance, numbers, "100 200, 300 400, ", true);
    std::string wideLine = ScriptLine(instance);
    Configure(instance, numbers, "100 200, 300 400, ");
    CHECK(ScriptLine(instance) == wideLine);
    CHECK(settings->width == 64 && settings->height == 48);
    CHECK(settings->x == 10 && settings->y == 20);
    CHECK(settings->featherOn == 1 && settings->fadeOn == 0);
    CHECK(settings->rangeCount == 2);
    CHECK(strcmp(settings->rangeText, "100 200\r\n300 400\r\n") == 0);
    StandinFillBitmaps(instance);

    CHECK(Summary(instance) == " 48x64 @ 10,20");
    CHECK(ScriptLine(instance) ==
          "Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, 300 400, \")");

    instance->source.bitmap.offset = 1234;
    instance->destination.bitmap.offset = 0;
    CHECK(StandinCallParam(instance) == 0);
    CHECK(instance->destination.bitmap.offset == 1234);
    CHECK(instance->source.bitmap.offset == 1234);
    instance->source.bitmap.offset = 0;
    instance->destination.bitmap.offset = 0;

    CHECK(StandinCallStart(instance) == 0);
    CHECK(settings->frameWidth == 320 && settings->frameHeight == 240);

    int patchedFrames = 0;
    for (int32_t frame = 0; frame < 450; frame++) {
        RunOnFrame(instance, frame);
        CHECK(settings->patchPixels == nullptr);
        StandinChanges changes = StandinCountChanges(instance, 10, 20, 64, 48);
        CHECK(changes.outside == 0);
        if (IsPatchedFrame(frame)) {
            CHECK(changes.inside > 0);
            patchedFrames++;
        } else {
            CHECK(changes.inside == 0);
        }
        if (gFailures) {
            fprintf(stderr, "  at frame %d\n", (int)frame);
            break;
        }
    }
    CHECK(patchedFrames == 218);
    CHECK(StandinCallEnd(instance) == 0);
    CHECK(StandinInstanceIntact(instance));

    // The host duplicates an instance by copying its data byte for byte; the
    // copy patches a frame exactly as the original does.
    StandinInstance* copy = StandinCreateInstance(host, 320, 240);
    CHECK(copy != nullptr);
    if (copy) {
        memcpy(copy->settings, settings, sizeof(PatchSettings));
        StandinPaintFrame(instance, 77);
        StandinPaintFrame(copy, 77);
        CHECK(StandinCallStart(copy) == 0);
        CHECK(StandinCallRun(instance, 150) == 0);
        CHECK(StandinCallRun(copy, 150) == 0);
        bool same = true;
        for (int32_t y = 0; y < 240; y++)
            for (int32_t x = 0; x < 320; x++)
                same = same && *StandinPixel(&instance->source, x, y) ==
                                   *StandinPixel(&copy->source, x, y);
        CHECK(same);
        CHECK(StandinInstanceIntact(copy));
        StandinDestroyInstance(copy);
    }

    StandinDestroyInstance(instance);
    DeinitRemovingFilter(host);
}

// The config callback passes the dialog's result through unchanged: 0 after
// OK when the module carries the dialog, -1 when it cannot be created.
static void PressOkWhenReady(StandinPreviewEvent event, HWND window, void*)
{
    if (event == kPreviewInitButton)
        PostMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

static void TestConfigCallback(StandinHost* host)
{
    StandinInstance* instance = StandinCreateInstance(host, 352, 288);
    CHECK(StandinCallInit(instance) == 0);
    instance->preview.hook = PressOkWhenReady;
    bool hasDialog = FindResourceA(host->library, MAKEINTRESOURCEA(kDialogTemplate),
                                   RT_DIALOG) != nullptr;
    int result = StandinCallConfig(instance, nullptr);
    if (hasDialog) {
        CHECK(result == 0);
        CHECK(instance->preview.initButtonCalls == 1);
    } else {
        CHECK(result == -1);
    }
    CHECK(instance->preview.otherCalls == 0);
    CHECK(StandinInstanceIntact(instance));
    StandinDestroyInstance(instance);
}

// ---- bad saved settings -----------------------------------------------------------

struct BadConfig {
    const char*   what;
    ConfigNumbers numbers;
    const char*   ranges;
};

// Applies a Config line (with 32-bit and with 64-bit integers), then shows
// the summary and script line and runs frames across the ranges, all over a
// small frame; nothing may fault or write outside the frames, the record or
// the host's buffers.
static void RunBadConfig(StandinHost* host, const BadConfig& bad, bool wideIntegers)
{
    StandinInstance* instance = StandinCreateInstance(host, 64, 48);
    CHECK(instance != nullptr);
    if (!instance)
        return;
    int before = gFailures;
    StandinBlankBitmaps(instance);
    CHECK(StandinCallInit(instance) == 0);
    Configure(instance, bad.numbers, bad.ranges, wideIntegers);
    StandinFillBitmaps(instance);

    PatchSettings* settings = instance->settings;
    CHECK(settings->rangeCount >= 0 && settings->rangeCount <= kMaxRanges);
    CHECK(memchr(settings->rangeText, 0, kRangeTextSize) != nullptr);
    Summary(instance);
    ScriptLine(instance);
    CHECK(StandinCallParam(instance) == 0);
    CHECK(StandinCallStart(instance) == 0);
    const int32_t frames[] = { INT_MIN, -1, 0, 1, 2, 99, 100, 150, 200, 203, 1000, INT_MAX };
    for (int32_t frame : frames)
        RunOnFrame(instance, frame);
    CHECK(StandinCallEnd(instance) == 0);
    CHECK(StandinInstanceIntact(instance));
    if (gFailures != before)
        fprintf(stderr, "  in case: %s%s\n", bad.what, wideIntegers ? " (64-bit integers)" : "");
    StandinDestroyInstance(instance);
}

static void TestBadConfig(StandinHost* host)
{
    std::string pairs;        // far more pairs than the table holds
    while (pairs.size() < 10000)
        pairs += "1 2, ";
    std::string widePairs;    // many ranges, each with many digits
    for (int i = 0; widePairs.size() < 10000; i++)
        widePairs += std::to_string(1000000000 + i) + " " + std::to_string(2000000000 - i) + ", ";
    std::string digits(10000, '7');  // one enormous number
    std::string noise;               // delimiters and junk
    for (int i = 0; noise.size() < 10000; i++)
        noise += (i % 7 == 0) ? "\r\n,, -x9 \t" : "12abc ";

    const BadConfig cases[] = {
        { "rectangle past the right and bottom edges", Numbers(30, 20, 50, 40, 0, 0, 10, 5), "" },
        { "negative position", Numbers(10, 10, -5, -7, 1, 0, 10, 5), "" },
        { "rectangle larger than the frame", Numbers(5000, 5000, 0, 0, 1, 1, 10, 5), "" },
        { "zero and negative size", Numbers(-3, 0, 5, 5, 1, 0, 3, 5), "" },
        { "largest numbers", Numbers(INT_MAX, INT_MAX, INT_MAX, INT_MAX, 1, 1, INT_MAX, INT_MAX),
          "100 200" },
        { "smallest numbers", Numbers(INT_MIN, INT_MIN, INT_MIN, INT_MIN, -1, -1, INT_MIN, INT_MIN),
          "100 200" },
        { "position near the largest number", Numbers(8, 8, INT_MAX - 4, INT_MAX - 4, 1, 0, 2, 5),
          "" },
        { "negative feather", Numbers(20, 20, 5, 5, 1, 0, -5, 5), "" },
        { "huge feather", Numbers(20, 20, 5, 5, 1, 0, INT_MAX, 5), "" },
        { "smallest feather", Numbers(20, 20, 5, 5, 1, 0, INT_MIN, 5), "" },
        { "negative fade", Numbers(20, 20, 5, 5, 0, 1, 10, -5), "100 200" },
        { "huge fade", Numbers(20, 20, 5, 5, 0, 1, 10, INT_MAX), "100 200" },
        { "smallest fade", Numbers(20, 20, 5, 5, 0, 1, 10, INT_MIN), "100 200" },
        { "fade longer than the alpha scale", Numbers(20, 20, 5, 5, 1, 1, 10, 1000), "100 200" },
        { "10,000 characters of short ranges", Numbers(20, 20, 5, 5, 1, 1, 10, 5), pairs.c_str() },
        { "10,000 characters of long ranges", Numbers(20, 20, 5, 5, 1, 1, 10, 5),
          widePairs.c_str() },
        { "a 10,000-digit number", Numbers(20, 20, 5, 5, 1, 1, 10, 5), digits.c_str() },
        { "10,000 characters of junk", Numbers(20, 20, 5, 5, 1, 1, 10, 5), noise.c_str() },
    };
    for (const BadConfig& bad : cases) {
        RunBadConfig(host, bad, false);
        RunBadConfig(host, bad, true);
    }
}

// The host duplicates an instance byte for byte, so the copy's record still
// designates the original's activation and its larger frame. Run over a
// smaller frame, the copy must keep to the frame it is given.
static void TestCopyOverSmallerFrame(StandinHost* host)
{
    StandinInstance* original = StandinCreateInstance(host, 320, 240);
    StandinInstance* copy = StandinCreateInstance(host, 64, 48);
    CHECK(original && copy);
    if (original && copy) {
        CHECK(StandinCallInit(original) == 0);
        Configure(original, Numbers(60, 30, 250, 200, 1, 0, 10, 5), "");
        CHECK(StandinCallStart(original) == 0);
        CHECK(StandinCallRun(original, 0) == 0);

        memcpy(copy->settings, original->settings, sizeof(PatchSettings));
        CHECK(StandinCallParam(copy) == 0);
        CHECK(StandinCallStart(copy) == 0);
        for (int32_t frame = 0; frame < 3; frame++)
            RunOnFrame(copy, frame);
        CHECK(StandinCallEnd(copy) == 0);
        CHECK(StandinInstanceIntact(copy));
        CHECK(StandinInstanceIntact(original));
    }
    StandinDestroyInstance(copy);
    StandinDestroyInstance(original);
}

// The script line goes into the host's buffer with at most capacity bytes,
// cut short when it does not fit.
static void TestScriptStringCapacity(StandinHost* host)
{
    StandinInstance* instance = StandinCreateInstance(host, 320, 240);
    CHECK(StandinCallInit(instance) == 0);
    std::string ranges;
    for (int i = 0; i < 40; i++)
        ranges += std::to_string(1000 * i) + " " + std::to_string(1000 * i + 500) + ", ";
    Configure(instance, Numbers(64, 48, 10, 20, 1, 1, 10, 5), ranges.c_str());
    std::string full = ScriptLine(instance);
    CHECK(full.size() > 300);

    const int capacities[] = { 0, 1, 10, 300 };
    for (int capacity : capacities) {
        StandinBlock buffer;
        CHECK(StandinAllocBlock(&buffer, (size_t)capacity));
        memset(buffer.data, 'Q', (size_t)capacity);
        CHECK(StandinCallScriptString(instance, (char*)buffer.data, capacity));
        CHECK(StandinBlockIntact(&buffer));
        if (capacity > 0) {
            const char* text = (const char*)buffer.data;
            size_t length = strnlen(text, (size_t)capacity);
            CHECK(length < (size_t)capacity);
            CHECK(full.compare(0, length, text, length) == 0);
        }
        StandinFreeBlock(&buffer);
    }
    CHECK(StandinInstanceIntact(instance));
    StandinDestroyInstance(instance);
}

// ---- the version record ---------------------------------------------------------

// One node of the version record: length, value length, type, UTF-16 key,
// value, children, each part aligned to 4 bytes.
struct VersionNode {
    const uint8_t* start;
    uint16_t       length;
    uint16_t       valueLength;
    std::wstring   key;
    const uint8_t* value;
    const uint8_t* children;
    const uint8_t* end;
};

static const uint8_t* Align4(const uint8_t* base, const uint8_t* p)
{
    return base + ((p - base + 3) & ~3);
}

static VersionNode ReadVersionNode(const uint8_t* base, const uint8_t* at)
{
    VersionNode node;
    node.start = at;
    memcpy(&node.length, at, 2);
    memcpy(&node.valueLength, at + 2, 2);
    uint16_t type;
    memcpy(&type, at + 4, 2);
    const uint8_t* p = at + 6;
    for (;;) {
        wchar_t c;
        memcpy(&c, p, 2);
        p += 2;
        if (!c)
            break;
        node.key += c;
    }
    node.value = Align4(base, p);
    // Text values count UTF-16 units, binary values bytes.
    size_t valueBytes = type == 1 ? 2 * (size_t)node.valueLength : node.valueLength;
    node.children = Align4(base, node.value + valueBytes);
    node.end = at + node.length;
    return node;
}

// The names in the string table "0c0904b0", read from the raw record, so that
// an extra or missing name shows.
static std::vector<std::wstring> StringTableNames(const uint8_t* record)
{
    std::vector<std::wstring> names;
    VersionNode root = ReadVersionNode(record, record);
    for (const uint8_t* p = root.children; p < root.end;) {
        VersionNode block = ReadVersionNode(record, p);
        if (block.length == 0)
            break;
        if (block.key == L"StringFileInfo") {
            for (const uint8_t* q = block.children; q < block.end;) {
                VersionNode table = ReadVersionNode(record, q);
                if (table.length == 0)
                    break;
                if (table.key == L"0c0904b0")
                    for (const uint8_t* r = table.children; r < table.end;) {
                        VersionNode value = ReadVersionNode(record, r);
                        if (value.length == 0)
                            break;
                        names.push_back(value.key);
                        r = Align4(record, value.end);
                    }
                q = Align4(record, table.end);
            }
        }
        p = Align4(record, block.end);
    }
    return names;
}

static void TestVersionRecord(StandinHost* host)
{
    char path[MAX_PATH];
    GetModuleFileNameA(host->library, path, sizeof(path));
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    CHECK(size > 0);
    std::vector<uint8_t> info(size ? size : 1);
    CHECK(GetFileVersionInfoA(path, 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    CHECK(VerQueryValueA(info.data(), "\\", (void**)&fixed, &length) && fixed);
    if (fixed) {
        CHECK(fixed->dwFileVersionMS == 0x00010001 && fixed->dwFileVersionLS == 0x0000001C);
        CHECK(fixed->dwProductVersionMS == 0x00010001 && fixed->dwProductVersionLS == 0x0000001C);
    }

    WORD* translation = nullptr;
    CHECK(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", (void**)&translation,
                         &length) && translation && length >= 4);
    if (translation && length >= 4)
        CHECK(translation[0] == 0x0c09 && translation[1] == 0x04b0);

    struct Expected {
        const char* name;
        const char* value;
    };
    const Expected expected[] = {
        { "Comments", "" },
        { "CompanyName", "none" },
        { "FileDescription", "Delbrin" },
        { "FileVersion", "1, 2, 0, 18" },
        { "InternalName", "Delbrin" },
        { "LegalTrademarks", "" },
        { "OriginalFilename", "Delbrin.vdf" },
        { "PrivateBuild", "" },
        { "ProductName", "none Delbrin" },
        { "ProductVersion", "1, 2, 0, 18" },
        { "SpecialBuild", "" },
    };
    for (const Expected& e : expected) {
        std::string query = std::string("\\StringFileInfo\\0c0904b0\\") + e.name;
        char* value = nullptr;
        UINT chars = 0;
        BOOL found = VerQueryValueA(info.data(), query.c_str(), (void**)&value, &chars);
        bool matches = found && value && strcmp(value, e.value) == 0;
        if (!matches)
            fprintf(stderr, "  version value %s: %s\n", e.name, found && value ? value : "(none)");
        CHECK(matches);
    }

    std::vector<std::wstring> names = StringTableNames(info.data());
    CHECK(names.size() == sizeof(expected) / sizeof(expected[0]));
    for (const Expected& e : expected) {
        std::wstring wide(e.name, e.name + strlen(e.name));
        bool listed = false;
        for (const std::wstring& name : names)
            listed = listed || name == wide;
        CHECK(listed);
    }
}

// ---- main -------------------------------------------------------------------------

// What a test needs done before it runs; main undoes it afterwards.
enum Setup {
    kNoModule,
    kLoaded,      // the module loaded, not yet initialised
    kRegistered,  // the module loaded and its filter registered
};

struct NamedTest {
    const char* name;
    Setup       setup;
    void (*run)(StandinHost* host);
};

static const NamedTest kTests[] = {
    { "registration", kLoaded, TestRegistration },
    { "failed-init", kLoaded, TestFailedInit },
    { "preview-slots", kNoModule, TestPreviewSlots },
    { "life-cycle", kRegistered, TestLifeCycle },
    { "config-callback", kRegistered, TestConfigCallback },
    { "bad-config", kRegistered, TestBadConfig },
    { "copy-over-smaller-frame", kRegistered, TestCopyOverSmallerFrame },
    { "script-string-capacity", kRegistered, TestScriptStringCapacity },
    { "version-record", kLoaded, TestVersionRecord },
    { "dump-texts", kRegistered, DumpTexts },
};

static void RunTest(const NamedTest& test)
{
    StandinHost host;
    if (test.setup != kNoModule && !LoadModule(&host, test.setup == kRegistered))
        return;
    test.run(&host);
    if (test.setup == kRegistered)
        StandinDeinitModule(&host);  // after the test's own deinit, a no-op
    if (test.setup != kNoModule)
        StandinUnload(&host);
}

int main(int argc, char** argv)
{
    StandinInstallFaultHandler();
    if (argc == 2)
        for (const NamedTest& test : kTests)
            if (strcmp(argv[1], test.name) == 0) {
                RunTest(test);
                fflush(stdout);
                return gFailures ? 1 : 0;
            }
    fprintf(stderr, "usage: module_tests TEST, one of:");
    for (const NamedTest& test : kTests)
        fprintf(stderr, " %s", test.name);
    fprintf(stderr, "\n");
    return 2;
}
