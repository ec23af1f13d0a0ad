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

TEST(HostScript, TakesTheTavrelInstancesConfigLine) {
    const char* script =
        "VirtualDub.video.filters.Clear();\r\n"
        "VirtualDub.video.filters.Add(\"resize\");\r\n"
        "VirtualDub.video.filters.instance[0].Config(320, 240, 0);\r\n"
        "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.video.filters.instance[1].Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, \");\r\n"
        "VirtualDub.video.filters.Add(\"Tavrel\");\r\n"
        "VirtualDub.video.filters.instance[2].Config(8, 8, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\r\n";
    std::string call, error, warning;
    ASSERT_TRUE(FindScriptConfig(script, &call, &error, &warning)) << error;
    EXPECT_EQ(call, "Config(64, 48, 10, 20, 1, 0, 0, 0, 0, 0, 10, 5, \"100 200, \");");
    EXPECT_NE(warning.find("2 Tavrel filters"), std::string::npos);

    // Clear() starts the numbering again.
    const char* cleared =
        "VirtualDub.video.filters.Add(\"resize\");\n"
        "VirtualDub.video.filters.Clear();\n"
        "VirtualDub.video.filters.Add(\"Tavrel\");\n"
        "VirtualDub.video.filters.instance[0].Config(2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");\n";
    warning.clear();
    ASSERT_TRUE(FindScriptConfig(cleared, &call, &error, &warning)) << error;
    EXPECT_EQ(call, "Config(2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\");");
    EXPECT_TRUE(warning.empty());

    EXPECT_FALSE(FindScriptConfig("VirtualDub.video.filters.Add(\"resize\");\n", &call, &error, &warning));
    EXPECT_NE(error.find("no Tavrel"), std::string::npos);
    EXPECT_FALSE(FindScriptConfig("VirtualDub.video.filters.Add(\"Tavrel\");\n", &call, &error, &warning));
    EXPECT_NE(error.find("no Config line"), std::string::npos);
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
