// The frame-range text: tokens, number reading, pairing and the normal form.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "frame_ranges.h"

namespace {

typedef std::vector<std::pair<int32_t, int32_t>> RangeList;

RangeList TableOf(const PatchSettings& settings)
{
    RangeList ranges;
    for (int i = 0; i < settings.rangeCount; ++i) {
        ranges.push_back({settings.rangeStart[i], settings.rangeEnd[i]});
    }
    return ranges;
}

// The table's normal form, built independently of the parser.
std::string NormalFormOf(const PatchSettings& settings)
{
    std::string text;
    for (int i = 0; i < settings.rangeCount; ++i) {
        text += std::to_string(settings.rangeStart[i]) + " " +
                std::to_string(settings.rangeEnd[i]) + "\r\n";
    }
    return text;
}

struct RangeCase {
    const char* text;
    RangeList table;
    const char* normal;
};

// Each text parsed into a fresh record gives its table and normal form.
void ExpectParsed(const std::vector<RangeCase>& cases)
{
    for (const RangeCase& c : cases) {
        PatchSettings settings = {};
        ParseRanges(&settings, c.text);
        EXPECT_EQ(TableOf(settings), c.table) << '"' << c.text << '"';
        EXPECT_STREQ(settings.rangeText, c.normal) << '"' << c.text << '"';
    }
}

TEST(ParseRanges, PairsTokensAndWritesTheNormalForm)
{
    ExpectParsed({
        {"100 200", {{100, 200}}, "100 200\r\n"},
        // The dropped pair 300/250 does not shift the roles of what follows.
        {"100,200\r\n300, 250\r\n400 500", {{100, 200}, {400, 500}}, "100 200\r\n400 500\r\n"},
        {"5 10 20", {{5, 10}}, "5 10\r\n"},
        {"7 7", {}, ""},
        {"-5 3", {{-5, 3}}, "-5 3\r\n"},
        {"", {}, ""},
        {" ,\r\n,, \n", {}, ""},
        // The script form, trailing ", " included.
        {"100 200, 300 400, ", {{100, 200}, {300, 400}}, "100 200\r\n300 400\r\n"},
        // Accepted order, overlaps and repeats are kept.
        {"50 60 10 20 10 20 15 55", {{50, 60}, {10, 20}, {10, 20}, {15, 55}},
         "50 60\r\n10 20\r\n10 20\r\n15 55\r\n"},
        // A tab is not a delimiter: "1\t2" is one token reading 1.
        {"1\t2 3", {{1, 3}}, "1 3\r\n"},
    });
}

TEST(ParseRanges, ReadsNumbersAsAtolDoes)
{
    ExpectParsed({
        {"abc 5", {{0, 5}}, "0 5\r\n"},
        {"1 12abc", {{1, 12}}, "1 12\r\n"},
        {"0 1.5", {{0, 1}}, "0 1\r\n"},
        {"+3 -2 -9 +0004", {{-9, 4}}, "-9 4\r\n"},
        {"-abc 2 - 1", {{0, 2}, {0, 1}}, "0 2\r\n0 1\r\n"},
        {"\t\v-7 \f8", {{-7, 8}}, "-7 8\r\n"},
    });
}

TEST(ParseRanges, ClampsNumbersToTheInt32Range)
{
    PatchSettings settings = {};
    ParseRanges(&settings,
                "-2147483648 2147483647 "
                "-2147483649 2147483648 "
                "-99999999999999999999999999 99999999999999999999999999");
    RangeList expected(3, {INT32_MIN, INT32_MAX});
    EXPECT_EQ(TableOf(settings), expected);
    EXPECT_EQ(NormalFormOf(settings), settings.rangeText);
}

TEST(ParseRanges, ReplacesTheWholeTableEveryTime)
{
    PatchSettings settings = {};
    ParseRanges(&settings, "1 2 3 4 5 6");
    ASSERT_EQ(settings.rangeCount, 3);
    ParseRanges(&settings, "10 20");
    EXPECT_EQ(TableOf(settings), RangeList({{10, 20}}));
    EXPECT_STREQ(settings.rangeText, "10 20\r\n");
    ParseRanges(&settings, NULL);
    EXPECT_EQ(settings.rangeCount, 0);
    EXPECT_STREQ(settings.rangeText, "");
}

TEST(ParseRanges, ReparsesItsOwnText)
{
    PatchSettings settings = {};
    ParseRanges(&settings, "1 2");  // the normal form is longer than the input
    ParseRanges(&settings, settings.rangeText);
    EXPECT_EQ(TableOf(settings), RangeList({{1, 2}}));
    EXPECT_STREQ(settings.rangeText, "1 2\r\n");
}

// Input beyond the table's 512 slots or the text's 1023 characters stops at
// the first range that does not fit, and the table and text still agree.
TEST(ParseRanges, CutsOverlongInputKeepingTableAndTextInAgreement)
{
    struct Overlong {
        std::string text;
        int count;
    };
    std::vector<Overlong> inputs;
    {
        // 600 of the shortest ranges: five bytes a line, so the text is
        // full after 204 of them, long before the table's 512 slots.
        std::string text;
        for (int i = 0; i < 600; ++i) {
            text += "1 2 ";
        }
        inputs.push_back({text, 1023 / 5});
    }
    {
        // Ranges of ten-digit frames: the text fills first (23 bytes a line).
        std::string text;
        for (int i = 0; i < 100; ++i) {
            text += "1000000000,2000000000,";
        }
        inputs.push_back({text, 1023 / 23});
    }
    {
        // A 5000-character script text of mixed ranges.
        std::string text;
        for (int i = 0; text.size() < 5000; ++i) {
            text += std::to_string(i * 7) + " " + std::to_string(i * 7 + 3 + i % 5) + ", ";
        }
        inputs.push_back({text, -1});
    }
    for (const Overlong& input : inputs) {
        // Guard bytes on both sides of the record catch any write outside it.
        struct Guarded {
            unsigned char before[64];
            PatchSettings settings;
            unsigned char after[64];
        } guarded;
        memset(&guarded, 0xA5, sizeof guarded);
        ParseRanges(&guarded.settings, input.text.c_str());

        const PatchSettings& settings = guarded.settings;
        if (input.count >= 0) {
            EXPECT_EQ(settings.rangeCount, input.count);
        }
        EXPECT_GT(settings.rangeCount, 0);
        EXPECT_LE(settings.rangeCount, 512);
        EXPECT_LE(strlen(settings.rangeText), 1023u);
        EXPECT_EQ(NormalFormOf(settings), settings.rangeText);
        for (int i = 0; i < settings.rangeCount; ++i) {
            EXPECT_LT(settings.rangeStart[i], settings.rangeEnd[i]);
        }
        // The kept ranges are a prefix of the input's, nothing is skipped.
        PatchSettings reference = {};
        std::string prefix;
        for (int i = 0; i < settings.rangeCount; ++i) {
            prefix += std::to_string(settings.rangeStart[i]) + " " +
                      std::to_string(settings.rangeEnd[i]) + " ";
        }
        ParseRanges(&reference, prefix.c_str());
        EXPECT_STREQ(reference.rangeText, settings.rangeText);
        for (unsigned char byte : guarded.before) {
            ASSERT_EQ(byte, 0xA5);
        }
        for (unsigned char byte : guarded.after) {
            ASSERT_EQ(byte, 0xA5);
        }
    }
}

}  // namespace
