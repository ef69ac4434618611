// The command texts: templates filled exactly or refused, and the paths that may stand in them.
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

#include "system/command_text.h"
#include "system/decimal.h"

// The filler behind every command and the temporary path: exact at its limits, never cut short.
TEST(FillTemplate, FitsExactlyOrRefuses) {
    const char *const words[] = {"ab", "c"};
    char text[12];
    ASSERT_TRUE(fill_template(text, "%s/%d%%s", 0, words));
    EXPECT_STREQ(text, "ab/0%c");
    ASSERT_TRUE(fill_template(text, "%d-%s-%s!", 65535, words));
    EXPECT_STREQ(text, "65535-ab-c!");
    EXPECT_FALSE(fill_template(text, "%d-%s-%s!!", 65535, words));
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(fill_template(text, "%s%s%s", 1, words));
    EXPECT_STREQ(text, "");
}

TEST(FillTemplate, NumbersAre64BitAndSigned) {
    const char *const none[] = {""};
    char text[32];
    ASSERT_TRUE(fill_template(text, "/proc/self/fd/%d", 65536, none));
    EXPECT_STREQ(text, "/proc/self/fd/65536");
    ASSERT_TRUE(fill_template(text, "%d", -1, none));
    EXPECT_STREQ(text, "-1");
    ASSERT_TRUE(fill_template(text, "[%d]", INT64_MIN, none));
    EXPECT_STREQ(text, "[-9223372036854775808]");
}

TEST(DecimalWriter, PrintsEveryMagnitudeWithoutLeadingZeros) {
    struct example {
        std::int64_t value;
        const char *text;
    };
    const example examples[] = {
        {0, "0"},
        {9, "9"},
        {10, "10"},
        {65535, "65535"},
        {-2026, "-2026"},
        {4294967295, "4294967295"},
        {4294967296, "4294967296"},
        {1099511627776, "1099511627776"},
        {INT64_MAX, "9223372036854775807"},
        {INT64_MIN, "-9223372036854775808"},
    };
    for (const example &each : examples) {
        decimal_text text;
        EXPECT_EQ(write_decimal(each.value, text), std::strlen(each.text)) << each.text;
        EXPECT_STREQ(text, each.text);
    }
}

TEST(DecimalWriter, LengthsSizeBuffersAtCompileTime) {
    static_assert(decimal_length(0) == 1 && decimal_length(65535) == 5, "unsigned lengths");
    static_assert(decimal_length(-1) == 2 && decimal_length(INT64_MIN) == 20, "signed lengths");
    // "%s/%d.CFG": the literal part, a word and a number.
    static_assert(filled_capacity("%s/%d.CFG", 10, 5) == 5 + 10 + 5 + 1, "the room of a template");
    char text[filled_capacity("%s/%d.CFG", 3, decimal_length(65535))];
    const char *const words[] = {"abc"};
    EXPECT_TRUE(fill_template(text, "%s/%d.CFG", 65535, words));
    EXPECT_STREQ(text, "abc/65535.CFG");
    EXPECT_EQ(sizeof text, std::strlen(text) + 1);
}

TEST(PlainPath, OnlyOneUnquotedShellWordOfBoundedLength) {
    EXPECT_TRUE(is_plain_path("/tmp/Quarvane/6170.CFG", 255));
    EXPECT_TRUE(is_plain_path("a-b_c.d", 7));
    EXPECT_FALSE(is_plain_path("a-b_c.d", 6));
    for (const char *path :
         {"", "/tmp/a b", "/tmp/$(reboot)", "/tmp/x;y", "/tmp/'q'", "/t\\x", "/tmp/\xC3\xA9"})
        EXPECT_FALSE(is_plain_path(path, 255)) << path;
}
