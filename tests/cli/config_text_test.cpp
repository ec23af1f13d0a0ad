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
    EXPECT_NE(ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, \"\")").find("this line has 12"), std::string::npos);
    EXPECT_NE(ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, 6, \"\")").find("this line has 14"), std::string::npos);
    EXPECT_NE(ErrorOf("Config()").find("this line has 0"), std::string::npos);

    std::string e = ErrorOf("Config(1, 1, abc, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")");
    EXPECT_NE(e.find("argument 3 (x)"), std::string::npos) << e;
    EXPECT_NE(e.find("\"abc\""), std::string::npos) << e;
    e = ErrorOf("Config(1, 1, 0, 0, \"1\", 0, 0, 0, 0, 0, 10, 5, \"\")");
    EXPECT_NE(e.find("argument 5 (feather switch)"), std::string::npos) << e;
    e = ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1.5, 5, \"\")");
    EXPECT_NE(e.find("argument 11 (feather width)"), std::string::npos) << e;
    e = ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 2147483648, \"\")");
    EXPECT_NE(e.find("argument 12 (fade frames)"), std::string::npos) << e;
    e = ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, 100)");
    EXPECT_NE(e.find("argument 13 (frame ranges)"), std::string::npos) << e;
    e = ErrorOf("Config(1, 1, , 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\")");
    EXPECT_NE(e.find("argument 3"), std::string::npos) << e;

    EXPECT_NE(ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"100 200)").find("not closed"), std::string::npos);
    EXPECT_NE(ErrorOf("Config(1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 10, 5, \"\") x").find("after the call"), std::string::npos);
    EXPECT_NE(ErrorOf("Config(1, 1").find("after argument 2"), std::string::npos);
    EXPECT_NE(ErrorOf("Configure(1)").find("expected a call"), std::string::npos);
    EXPECT_NE(ErrorOf("64, 48, 10").find("expected a call"), std::string::npos);
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
