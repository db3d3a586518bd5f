// The character classes of the input filters: ISO 8859-1 whatever the host's locale.
#include <gtest/gtest.h>

#include "platform/linux/locale.h"

namespace {

TEST(LocaleClasses, VisibleLettersAndDigitsOfLatin1) {
    struct Case {
        int c;
        int graph, alpha, alnum;
    };
    const Case cases[] = {
        {' ', 0, 0, 0},  {'!', 1, 0, 0},  {'~', 1, 0, 0},  {0x7F, 0, 0, 0},
        {0x1F, 0, 0, 0}, {'0', 1, 0, 1},  {'z', 1, 1, 1},  {0xA0, 0, 0, 0},
        {0xA1, 1, 0, 0}, {0xAA, 1, 1, 1}, {0xD7, 1, 0, 0}, {0xE4, 1, 1, 1},
        {0xFF, 1, 1, 1}, {0x80, 0, 0, 0}, {-1, 0, 0, 0},   {256, 0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LocaleIsGraph(c.c) != 0, c.graph != 0) << c.c;
        EXPECT_EQ(LocaleIsAlpha(c.c) != 0, c.alpha != 0) << c.c;
        EXPECT_EQ(LocaleIsAlNum(c.c) != 0, c.alnum != 0) << c.c;
    }
}

}  // namespace
