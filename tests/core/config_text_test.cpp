// Reading Config lines, host scripts and plain options.
#include <gtest/gtest.h>

#include "config_text.h"

namespace {

ConfigCall Parse(const char* text, std::string* error) {
    ConfigCall call = DefaultConfigCall();
    EXPECT_TRUE(ParseConfigCall(text, &call, error)) << *error;
    return call;
}

std::string ErrorOf(const char* text) {
    ConfigCall call = DefaultConfigCall();
    std::string error;
    EXPECT_FALSE(ParseConfigCall(text, &call, &error)) << text;
    return error;
}

TEST(ConfigLine, ReadsTheLineTheHostSaves) {
    std::string error;
    ConfigCall call = Parse("Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, 300 400, \")", &error);
    const int32_t expected[kConfigNumberCount] = {64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5};
    for (int i = 0; i < kConfigNumberCount; i++) EXPECT_EQ(call.numbers[i], expected[i]) << i;
    EXPECT_EQ(call.rangeText, "100 200, 300 400, ");

    // As it stands in a script: object path, negative numbers, semicolon.
    call = Parse("  VirtualDub.video.filters.instance[2].Config(-3,1,-2147483648,2147483647,7,-1,0,0,0,0,0,0,\"\");\r\n",
                 &error);
    EXPECT_EQ(call.numbers[0], -3);
    EXPECT_EQ(call.numbers[2], INT32_MIN);
    EXPECT_EQ(call.numbers[3], INT32_MAX);
    EXPECT_EQ(call.numbers[4], 7);  // switches are normalised by the core, not here
    EXPECT_EQ(call.rangeText, "");
}

TEST(ConfigLine, NamesTheArgumentThatIsWrong) {
    // Each broken line and what its error message must say.
    const struct { const char* line; const char* says; } cases[] = {
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, \"\")", "this line has 12"},
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, 6, \"\")", "this line has 14"},
        {"Config()", "this line has 0"},
        {"Config(1, 1, abc, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")", "argument 3 (x)"},
        {"Config(1, 1, abc, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")", "\"abc\""},
        {"Config(1, 1, 0, 0, \"1\", 0, 0, 0, 0, 0, 10, 5, \"\")", "argument 5 (feather switch)"},
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1.5, 5, \"\")", "argument 11 (feather width)"},
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 2147483648, \"\")", "argument 12 (fade frames)"},
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, 100)", "argument 13 (frame ranges)"},
        {"Config(1, 1, , 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")", "argument 3"},
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"100 200)", "not closed"},
        {"Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\") x", "after the call"},
        {"Config(1, 1", "after argument 2"},
        {"Configure(1)", "expected a call"},
        {"64, 48, 10", "expected a call"},
    };
    for (const auto& c : cases) {
        const std::string e = ErrorOf(c.line);
        EXPECT_NE(e.find(c.says), std::string::npos) << c.line << "\n" << e;
    }
}

TEST(HostScript, TakesEveryTavrelInstanceAfterTheLastClear) {
    const char* script =
        "VirtualDub.video.filters.Clear();\r\n"
        "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.video.filters.instance[0].Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
        "VirtualDub.video.filters.Clear();\r\n"
        "VirtualDub.video.filters.Add(\"resize\");\r\n"
        "VirtualDub.video.filters.instance[0].Config(320, 240, 0);\r\n"
        "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
        "// VirtualDub.video.filters.instance[1].Config(9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
        "VirtualDub.video.filters.instance[1].Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, \"); // top right\r\n"
        "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.video.filters.instance[2].Config(8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"a // b\");\r\n";
    std::vector<std::string> calls;
    std::string error;
    ASSERT_TRUE(FindScriptConfigs(script, &calls, &error)) << error;
    // The commented-out line and the instance before Clear() are not used;
    // "//" inside the quoted text is text.
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, \")");
    EXPECT_EQ(calls[1], "Config(8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"a // b\")");

    EXPECT_FALSE(FindScriptConfigs("VirtualDub.video.filters.Add(\"Tavrel\");\n"
                                   "VirtualDub.video.filters.instance[0].Config(1,1,0,0,0,0,0,0,0,0,10,5,\"\");\n"
                                   "VirtualDub.video.filters.Clear();\n", &calls, &error));
    EXPECT_NE(error.find("no Tavrel"), std::string::npos) << error;
    EXPECT_FALSE(FindScriptConfigs("VirtualDub.video.filters.Add(\"Tavrel\");\n"
                                   "// VirtualDub.video.filters.instance[0].Config(1,1,0,0,0,0,0,0,0,0,10,5,\"\");\n",
                                   &calls, &error));
    EXPECT_NE(error.find("no Config line"), std::string::npos) << error;
}

TEST(HostScript, ReadsOnlyTheVideoFilterChain) {
    // The audio chain has Clear, Add and instance[N].Config of its own, before
    // and after the video section; the subset and other objects say nothing.
    const char* script =
        "VirtualDub.audio.filters.Clear();\r\n"
        "VirtualDub.audio.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.audio.filters.instance[0].Config(9, 9, 9, 9, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
        "VirtualDub.video.filters.Clear();\r\n"
        "video.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.audio.filters.Add(\"gain\");\r\n"
        "VirtualDub.video.filters.instance[0].Config(64, 48, 10, 20, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
        "VirtualDub.audio.filters.instance[0].Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n"
        "VirtualDub.subset.Clear();\r\n"
        "VirtualDub.subset.AddRange(0, 100);\r\n"
        "VirtualDub.other.filters.Clear();\r\n"
        "VirtualDub.audio.filters.Clear();\r\n"
        "VirtualDub.audio.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.audio.filters.instance[0].Config(2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n";
    std::vector<std::string> calls;
    std::string error;
    ASSERT_TRUE(FindScriptConfigs(script, &calls, &error)) << error;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "Config(64, 48, 10, 20, 0, 0, 0, 0, 0, 0, 10, 5, \"\")");
}

TEST(RangeText, StrictReadingSaysWhatTheFilterWouldDrop) {
    std::string reason;
    EXPECT_TRUE(CheckRangeText("100 200, 300 400, ", &reason)) << reason;
    EXPECT_TRUE(CheckRangeText("-5 3\r\n7,9", &reason)) << reason;
    const struct { const char* text; const char* says; } bad[] = {
        {"100-200", "\"100-200\" is not a whole frame number"},
        {"abc", "\"abc\" is not"},
        {"20 10", "20 10 does not end after it starts"},
        {"7 7", "7 7 does not end"},
        {"5 10 20", "20, has no end frame"},
        {"", "no frame numbers"},
        {" , ", "no frame numbers"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(CheckRangeText(b.text, &reason)) << b.text;
        EXPECT_NE(reason.find(b.says), std::string::npos) << b.text << ": " << reason;
    }
    std::string many;
    for (int i = 0; i < 513; i++) many += std::to_string(2 * i) + " " + std::to_string(2 * i + 1) + " ";
    EXPECT_FALSE(CheckRangeText(many.c_str(), &reason));
    EXPECT_NE(reason.find("513 ranges"), std::string::npos) << reason;
    std::string long_text;  // 200 ranges of 11 characters each written out
    for (int i = 0; i < 200; i++) long_text += std::to_string(100000 + 2 * i) + " " + std::to_string(100001 + 2 * i) + ",";
    EXPECT_FALSE(CheckRangeText(long_text.c_str(), &reason));
    EXPECT_NE(reason.find("characters"), std::string::npos) << reason;

    EXPECT_EQ(DescribeKeptRanges("abc 5, 20 10, 30 40"), "0 5, 30 40");
    EXPECT_EQ(DescribeKeptRanges("100-200"), "none (every frame is patched)");
}

TEST(PlainOptions, MapOntoTheConfigArguments) {
    ConfigCall call = DefaultConfigCall();
    std::string error;
    ASSERT_TRUE(ApplyRectOption("10,20,64,48", &call, &error));
    ASSERT_TRUE(ApplyFeatherOption("7", &call, &error));
    ASSERT_TRUE(ApplyFadeOption("3", &call, &error));
    ASSERT_TRUE(ApplyCancelOption("left,bottom", &call, &error));
    const int32_t expected[kConfigNumberCount] = {64, 48, 10, 20, 1, 1, 0, 1, 1, 0, 7, 3};
    for (int i = 0; i < kConfigNumberCount; i++) EXPECT_EQ(call.numbers[i], expected[i]) << i;

    EXPECT_FALSE(ApplyRectOption("10,20,64", &call, &error));
    EXPECT_FALSE(ApplyRectOption("10,20,64,48,1", &call, &error));
    EXPECT_FALSE(ApplyRectOption("10,20,0,48", &call, &error));
    EXPECT_FALSE(ApplyRectOption("a,20,64,48", &call, &error));
    EXPECT_FALSE(ApplyCancelOption("top,middle", &call, &error));
    EXPECT_NE(error.find("middle"), std::string::npos);
    EXPECT_FALSE(ApplyFeatherOption("wide", &call, &error));
}

}  // namespace
