// The command texts: templates filled exactly or refused, and the paths that may stand in them.
#include <gtest/gtest.h>

#include "system/command_text.h"

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
