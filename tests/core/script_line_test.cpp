// The Config script line, the script function and the summary.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "frame_ranges.h"
#include "config_line_reader.h"
#include "frame_run.h"
#include "host_binding.h"
#include "script_line.h"
#include "test_frames.h"

namespace {

// A new instance as the host creates and the init callback sets it up.
PatchSettings FreshSettings()
{
    PatchSettings settings = {};
    InitSettings(&settings, NULL);
    return settings;
}

std::string ConfigLine(const PatchSettings& settings)
{
    char buffer[4096];
    EXPECT_TRUE(FormatConfigLine(&settings, buffer, sizeof buffer));
    return buffer;
}

// The thirteen arguments of a Config line as the host hands them over.
struct ScriptCall {
    ScriptValue arguments[kConfigNumberCount + 1];  // the numbers, then the text
    std::string text;
    char* textPointer;
};

void SetArguments(ScriptCall* call, const int32_t numbers[kConfigNumberCount], const std::string& text)
{
    call->text = text;
    memset(call->arguments, 0, sizeof call->arguments);
    for (int i = 0; i < kConfigNumberCount; ++i) {
        call->arguments[i].type = kScriptInt;
        call->arguments[i].value.number = numbers[i];
    }
    call->arguments[kConfigNumberCount].type = kScriptString;
    call->textPointer = &call->text[0];
    call->arguments[kConfigNumberCount].value.text = &call->textPointer;
}

// Reads a saved line back into the arguments the host would pass.
bool ReadConfigLine(const std::string& line, ScriptCall* call)
{
    int32_t numbers[kConfigNumberCount];
    std::string text;
    if (!::ReadConfigLine(line.c_str(), numbers, &text))
        return false;
    SetArguments(call, numbers, text);
    return true;
}

// The host calls the script function with the argument count it read.
void Apply(PatchSettings* settings, ScriptCall* call, int count = 13)
{
    Activation activation = {};
    activation.settings = settings;
    ApplyConfig(NULL, &activation, call->arguments, count);
}

TEST(FormatConfigLine, WritesTheSavedLine)
{
    PatchSettings settings = FreshSettings();
    EXPECT_EQ(ConfigLine(settings), "Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")");

    SetRectangle(&settings, 64, 48, 10, 20);
    settings.featherOn = 1;
    settings.showBorder = 1;  // not saved
    ParseRanges(&settings, "100 200 300 400");
    EXPECT_EQ(ConfigLine(settings),
              "Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, 300 400, \")");

    // Each switch has its own place in the line.
    settings = FreshSettings();
    settings.fadeOn = 1;
    settings.cancelBottom = 1;
    settings.cancelRight = 1;
    settings.featherWidth = -4;
    settings.fadeFrames = 300;
    EXPECT_EQ(ConfigLine(settings), "Config(1, 1, 0, 0, 0, 1, 0, 1, 0, 1, -4, 300, \"\")");
}

// The host's buffer gets at most capacity bytes, always terminated; the host
// is not told about a cut.
TEST(FormatConfigLine, CutsToTheCapacityAndTerminates)
{
    PatchSettings settings = FreshSettings();
    ParseRanges(&settings, "100 200 300 400 10000 20000 30000 40000");
    const std::string full = ConfigLine(settings);
    ASSERT_GT(full.size(), 80u);

    for (int capacity : {-1, 0, 1, 10, 80, (int)full.size(), (int)full.size() + 1}) {
        char buffer[256];
        memset(buffer, 0x5A, sizeof buffer);
        EXPECT_TRUE(FormatConfigLine(&settings, buffer + 8, capacity));
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(buffer[i], 0x5A) << capacity;
        }
        int written = capacity > 0 ? capacity : 0;
        for (int i = 8 + written; i < (int)sizeof buffer; ++i) {
            ASSERT_EQ(buffer[i], 0x5A) << capacity;
        }
        if (capacity >= 1) {
            size_t kept = std::min(full.size(), (size_t)capacity - 1);
            EXPECT_EQ(std::string(buffer + 8), full.substr(0, kept)) << capacity;
        }
    }
}

// Records that ParseRanges did not write (a host that does not zero-fill new
// records, a damaged copy) still give a bounded, well-formed line.
TEST(FormatConfigLine, KeepsOddRangeTextInsideTheQuotes)
{
    PatchSettings settings = FreshSettings();
    memset(settings.rangeText, '7', sizeof settings.rangeText);  // no terminator
    std::string line = ConfigLine(settings);
    ScriptCall call;
    ASSERT_TRUE(ReadConfigLine(line, &call)) << line;
    EXPECT_EQ(call.text, std::string(1024, '7'));

    strcpy(settings.rangeText, "1 2\") Quit(\"\\\t3 4");
    line = ConfigLine(settings);
    ASSERT_TRUE(ReadConfigLine(line, &call)) << line;
    EXPECT_EQ(call.text, "1 2 ) Quit(   3 4");
}

TEST(ApplyConfig, StoresNumbersUnclampedAndSwitchesAsZeroOrOne)
{
    const int32_t numbers[kConfigNumberCount] = {5000, 48, -3, 20, 7, -1, 1, 0, 255, 256, 99, -2};
    ScriptCall call;
    SetArguments(&call, numbers, "100 200, 300 400, ");
    // A host passing 64-bit integers: the low half is where the int would be.
    call.arguments[3].type = kScriptInt64;
    call.arguments[3].value.wide = 20;
    call.arguments[2].type = kScriptInt64;
    call.arguments[2].value.wide = -3;

    PatchSettings settings = FreshSettings();
    Apply(&settings, &call);
    // The last switch is 1: 256 is not 0, whatever its low byte.
    EXPECT_EQ(SavedNumbersOf(settings),
              (SavedNumbers{ 5000, 48, -3, 20, 1, 1, 1, 0, 1, 1, 99, -2 }));
    EXPECT_EQ(settings.rangeCount, 2);
    EXPECT_STREQ(settings.rangeText, "100 200\r\n300 400\r\n");
}

TEST(ApplyConfig, ReadsAMissingTextAsEmpty)
{
    const int32_t numbers[kConfigNumberCount] = {1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5};
    ScriptCall call;
    SetArguments(&call, numbers, "");

    PatchSettings settings = FreshSettings();
    ParseRanges(&settings, "1 2");
    call.textPointer = NULL;
    Apply(&settings, &call);
    EXPECT_EQ(settings.rangeCount, 0);
    EXPECT_STREQ(settings.rangeText, "");

    ParseRanges(&settings, "1 2");
    call.arguments[kConfigNumberCount].value.text = NULL;
    Apply(&settings, &call);
    EXPECT_EQ(settings.rangeCount, 0);
    EXPECT_STREQ(settings.rangeText, "");

    // The count a host passes is not looked at.
    ParseRanges(&settings, "1 2");
    SetArguments(&call, numbers, "3 4");
    Apply(&settings, &call, 0);
    EXPECT_STREQ(settings.rangeText, "3 4\r\n");
}

int32_t RandomNumber(std::mt19937& random)
{
    switch (random() % 4) {
    case 0:
        return (int32_t)random();  // anything, the extremes included
    case 1:
        return random() % 2 ? INT32_MIN : INT32_MAX;
    default:
        return (int32_t)(random() % 2001) - 1000;
    }
}

std::string RandomRangeText(std::mt19937& random)
{
    static const char* const pieces[] = {" ", ",", "\r\n", ", ", "\t", "abc", "-", "1.5"};
    std::string text;
    int tokens = (int)(random() % 400);
    for (int i = 0; i < tokens; ++i) {
        if (random() % 8 == 0) {
            text += pieces[random() % 8];
        } else {
            text += std::to_string(RandomNumber(random));
        }
        text += pieces[random() % 4];
    }
    return text;
}

// Any record, written and replayed into a new instance, comes back with the
// same saved fields and the same range text and table.
TEST(ConfigLineRoundTrip, RestoresEverySavedField)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 2000; ++round) {
        PatchSettings saved = FreshSettings();
        saved.width = RandomNumber(random);
        saved.height = RandomNumber(random);
        saved.x = RandomNumber(random);
        saved.y = RandomNumber(random);
        saved.showBorder = random() % 2;
        saved.featherOn = random() % 2;
        saved.fadeOn = random() % 2;
        saved.cancelTop = random() % 2;
        saved.cancelBottom = random() % 2;
        saved.cancelLeft = random() % 2;
        saved.cancelRight = random() % 2;
        saved.featherWidth = RandomNumber(random);
        saved.fadeFrames = RandomNumber(random);
        ParseRanges(&saved, RandomRangeText(random).c_str());

        std::string line = ConfigLine(saved);
        ScriptCall call;
        ASSERT_TRUE(ReadConfigLine(line, &call)) << line;
        PatchSettings restored = FreshSettings();
        Apply(&restored, &call);

        ASSERT_EQ(SavedNumbersOf(restored), SavedNumbersOf(saved)) << line;
        ASSERT_EQ(restored.showBorder, 0) << line;
        ASSERT_STREQ(restored.rangeText, saved.rangeText) << line;
        ASSERT_EQ(restored.rangeCount, saved.rangeCount) << line;
        for (int i = 0; i < saved.rangeCount; ++i) {
            ASSERT_EQ(restored.rangeStart[i], saved.rangeStart[i]);
            ASSERT_EQ(restored.rangeEnd[i], saved.rangeEnd[i]);
        }
    }
}

// The ranges of a replayed line decide which frames the run patches.
TEST(ApplyConfig, RangesFromTheLineGateTheFrameRun)
{
    TestFrame frame;
    InitTestFrame(&frame, 16, 12);
    const int32_t numbers[kConfigNumberCount] = {4, 4, 3, 2, 0, 1, 0, 0, 0, 0, 10, 5};
    ScriptCall call;
    SetArguments(&call, numbers, "100,200\r\n300, 250\r\n400 500, 7");
    Apply(&frame.settings, &call);
    ASSERT_STREQ(frame.settings.rangeText, "100 200\r\n400 500\r\n");

    // Fade in before 100, full inside, nothing around the dropped 300/250
    // pair or the lone 7, fade out after 500.
    const struct {
        int32_t frame;
        int alpha;
    } expected[] = {{7, 0},   {95, 0},    {96, 51},  {99, 204}, {100, 255},
                    {150, 255}, {250, 0}, {300, 0},  {450, 255}, {504, 51}, {505, 0}};
    for (const auto& e : expected) {
        EXPECT_EQ(FrameAlpha(&frame.settings, e.frame), e.alpha) << e.frame;

        std::vector<uint8_t> before = frame.bytes;
        frame.frameNumber = e.frame;
        PatchTestFrame(&frame);
        EXPECT_EQ(BytesChangedOutside(&frame, before, 3, 2, 4, 4), 0) << e.frame;
        EXPECT_EQ(frame.bytes != before, e.alpha != 0) << e.frame;
        frame.bytes = before;
    }

    // An empty text opens every frame again.
    SetArguments(&call, numbers, ", ");
    Apply(&frame.settings, &call);
    EXPECT_EQ(FrameAlpha(&frame.settings, 250), 255);
}

TEST(FormatSummary, PutsHeightBeforeWidthAndStaysWithin50Characters)
{
    PatchSettings settings = FreshSettings();
    SetRectangle(&settings, 64, 48, 10, 20);
    char buffer[64];
    FormatSummary(&settings, buffer);
    EXPECT_STREQ(buffer, " 48x64 @ 10,20");

    SetRectangle(&settings, INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN);
    memset(buffer, 0x5A, sizeof buffer);
    FormatSummary(&settings, buffer);
    EXPECT_STREQ(buffer, " -2147483648x-2147483648 @ -2147483648,-2147483648");
    EXPECT_EQ(strlen(buffer), 50u);
    for (size_t i = 51; i < sizeof buffer; ++i) {
        ASSERT_EQ(buffer[i], 0x5A);
    }
}

}  // namespace
