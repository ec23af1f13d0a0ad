// The rules that keep edited settings usable: the proposal for settings
// nobody has placed, the clamps of each field, the up-down ranges and the
// reading of a typed number.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include "settings_rules.h"

namespace {

PatchSettings Settings(int32_t frameWidth, int32_t frameHeight, int32_t width, int32_t height,
                       int32_t x, int32_t y)
{
    PatchSettings s;
    memset(&s, 0, sizeof s);
    InitSettings(&s, nullptr);
    s.frameWidth = frameWidth;
    s.frameHeight = frameHeight;
    s.width = width;
    s.height = height;
    s.x = x;
    s.y = y;
    return s;
}

void ExpectRect(const PatchSettings& s, int32_t width, int32_t height, int32_t x, int32_t y)
{
    EXPECT_EQ(s.width, width);
    EXPECT_EQ(s.height, height);
    EXPECT_EQ(s.x, x);
    EXPECT_EQ(s.y, y);
}

TEST(SettingsRules, OnlyTheDefaultRectangleIsUnplaced)
{
    const PatchSettings fresh = Settings(720, 576, 1, 1, 0, 0);
    EXPECT_TRUE(IsUnplacedRect(&fresh));
    for (const PatchSettings& placed : { Settings(720, 576, 2, 1, 0, 0), Settings(720, 576, 1, 2, 0, 0),
                                         Settings(720, 576, 1, 1, 1, 0), Settings(720, 576, 1, 1, 0, 1) })
        EXPECT_FALSE(IsUnplacedRect(&placed));

    // Unplaced settings get a centred fifth of the frame; a placed rectangle stays.
    PatchSettings s = Settings(352, 288, 1, 1, 0, 0);
    ProposeRect(&s);
    ExpectRect(s, 70, 57, 141, 116);
    s = Settings(720, 576, 1, 1, 0, 0);
    ProposeRect(&s);
    ExpectRect(s, 144, 115, 288, 231);
    s = Settings(4, 3, 1, 1, 0, 0);  // a fifth is 0: the width field raises it to 1
    ProposeRect(&s);
    ExpectRect(s, 0, 0, 2, 1);
    s = Settings(720, 576, 1, 1, 0, 1);
    ProposeRect(&s);
    ExpectRect(s, 1, 1, 0, 1);
}

TEST(SettingsRules, EachFieldIsClampedUpperBoundFirst)
{
    struct Case {
        PatchSettings before;
        SettingsField field;
        int32_t value;
        int32_t stored;
    };
    const Case cases[] = {
        { Settings(720, 576, 144, 115, 288, 231), kFieldX, 1000, 576 },
        { Settings(720, 576, 800, 115, 288, 231), kFieldX, 5, 0 },       // wider than the frame
        { Settings(720, 576, 0, 115, 288, 231), kFieldX, 1000, 719 },    // width 0 counts as 1
        { Settings(720, 576, 144, 115, 288, 231), kFieldY, 600, 461 },
        { Settings(720, 576, 144, 115, 288, 231), kFieldY, -5, 0 },
        { Settings(720, 576, 144, 115, 288, 231), kFieldWidth, 0, 1 },
        { Settings(720, 576, 144, 115, 720, 231), kFieldWidth, 50, 1 },  // no room left
        { Settings(720, 576, 144, 115, 288, 231), kFieldWidth, 1000, 432 },
        { Settings(720, 576, 144, 115, 288, 231), kFieldHeight, 1000, 345 },
        { Settings(720, 576, 144, 115, 288, INT32_MIN), kFieldHeight, INT32_MAX, INT32_MAX },
        { Settings(720, 576, 144, 115, 288, 231), kFieldFeatherWidth, 99, 50 },
        { Settings(720, 576, 144, 115, 288, 231), kFieldFeatherWidth, -3, 0 },
        { Settings(720, 576, 144, 115, 288, 231), kFieldFadeFrames, 7, 7 },
        { Settings(720, 576, 144, 115, 288, 231), kFieldFadeFrames, 51, 50 },
    };
    for (const Case& c : cases) {
        PatchSettings s = c.before;
        StoreFieldValue(&s, c.field, c.value);
        const int32_t fields[] = { s.x, s.y, s.width, s.height, s.featherWidth, s.fadeFrames };
        EXPECT_EQ(fields[c.field], c.stored) << "field " << c.field << " value " << c.value;
    }
}

TEST(SettingsRules, SpinRangesKeepThirtyTwoBits)
{
    const PatchSettings s = Settings(40000, 33000, 8000, 6600, 16000, 13200);
    const struct {
        SettingsField field;
        int32_t lower, upper;
    } expected[] = {
        { kFieldX, 0, 32000 },        { kFieldY, 26400, 0 },
        { kFieldWidth, 1, 24000 },    { kFieldHeight, 19800, 1 },
        { kFieldFeatherWidth, 0, 50 }, { kFieldFadeFrames, 0, 50 },
    };
    for (const auto& e : expected) {
        const SpinRange range = FieldSpinRange(&s, e.field);
        EXPECT_EQ(range.lower, e.lower) << e.field;
        EXPECT_EQ(range.upper, e.upper) << e.field;
    }
    // Script values whose differences leave 32 bits saturate.
    const PatchSettings extreme = Settings(INT32_MAX, 10, INT32_MIN, 1, INT32_MIN, 0);
    EXPECT_EQ(FieldSpinRange(&extreme, kFieldX).upper, INT32_MAX);
    EXPECT_EQ(FieldSpinRange(&extreme, kFieldWidth).upper, INT32_MAX);
}

TEST(SettingsRules, OnlyPlainUnsignedNumbersRead)
{
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        { "1000", 1000 }, { " 115 ", 115 }, { "0", 0 },     { "4294967295", -1 },
        { "4294967296", 0 }, { "-3", 0 },   { "+3", 0 },    { "abc", 0 },
        { "12abc", 0 },   { "1 2", 0 },     { "", 0 },      { "\t5", 0 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadFieldNumber(c.text), c.value) << '"' << c.text << '"';
}

}  // namespace
