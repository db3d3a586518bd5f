// Text layout in the 8-pixel font: the tag grammar as one table, word wrap, tabs, recorded and
// replayed breaks, line ends, alignment, and memory running out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "tests/objects/text/layout_test_support.h"

namespace qv::testing {
namespace {

struct TagCase {
    const char* text;
    bool tagsOff;
    std::string runs;  // Styled()
};

class TagGrammarTest : public LayoutTest, public ::testing::WithParamInterface<TagCase> {};

TEST_P(TagGrammarTest, GivesRunsOrError) {
    text::LayoutOptions options;
    options.tagsOff = GetParam().tagsOff;
    EXPECT_EQ(Styled(Lay(GetParam().text, options)), GetParam().runs) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Tags, TagGrammarTest,
    ::testing::Values(
        TagCase{"a[[b]]c", false, "a[b]c"}, TagCase{"a[[b]]c", true, "a[b]c"},
        TagCase{"a]b", false, "error 1252"}, TagCase{"a]b", true, "a]b"},
        TagCase{"[b]x", true, "[b]x"}, TagCase{"a[", false, "error 1251"},
        TagCase{"[/color]", false, "error 1252"}, TagCase{"[B]x[/b]y", false, "x+b | y"},
        TagCase{"[ i ]x[ / I\t]y", false, "x+i | y"}, TagCase{"[i]a[u]b", false, "a+i | b+i+u"},
        TagCase{"[shadow=$FF0000,65]x", false, "error 1055"},
        TagCase{"[shadow=1,0]x", false, "error 1055"},
        TagCase{"[shadow=$FF0000]x", false, "x+s(ff0000,4,3)"},
        TagCase{"[shadow]x[/shadow]y", false, "x+s(0,4,3) | y"},
        TagCase{"[shadow=$80FF0000 , 7 , 300]x", false, "x+s(80ff0000,7,44)"},
        TagCase{"[shadow=1,2,3,4]x", false, "error 1108"},
        TagCase{"[edge=#RED,9]x", false, "error 1055"},
        TagCase{"[edge=$FF00,8]x[/edge]y", false, "x+e(ff00,8) | y"},
        TagCase{"[edge=1,2,3]x", false, "error 1108"},
        TagCase{"[color=1]a[color=2]b[/color]c[/color]d", false, "a#1 | b#2 | c#1 | d"},
        TagCase{"[color=#RED]a[color=#red]b[/color]c", false, "abc#ff0000"},
        TagCase{"[color= #RED ]x", false, "x#ff0000"}, TagCase{"[color=-1]x", false, "x#ffffffff"},
        TagCase{"[color=4294967296]x", false, "x#ffffffff"},
        TagCase{"[color=0x80000000]x", false, "x#80000000"},
        TagCase{"[color=#NAME]x", false, "error 1024"},
        TagCase{"[color=\"x\"]", false, "error 1024"}, TagCase{"[color=]x", false, "error 1024"},
        TagCase{"[color=#NOSUCH]x", false, "error " + std::to_string(ERR_FINDCST)},
        TagCase{"[color=$]x", false, "error " + std::to_string(ERR_SYNTAXERROR)},
        TagCase{"[color=1x]x", false, "error 1108"}, TagCase{"[b", false, "error 1108"},
        TagCase{"[u x]", false, "error 1108"}, TagCase{"[bold]", false, "error 1251"},
        TagCase{"[/]", false, "error 1251"}, TagCase{"[colorx=1]", false, "error 1253"},
        TagCase{"[color]", false, "error 1253"}, TagCase{"[/color=1]", false, "error 1108"},
        TagCase{"[/shadow=1]", false, "error 1108"},
        // Pushes counted with tabs between "[" and the word: the stack has room for both.
        TagCase{"[\tcolor=1][\tcolor=2]x", false, "x#2"}));

TEST_F(LayoutTest, OnlyTextWithoutBracketsIsFreeOfTags) {
    for (const char* text : {"[b]x", "a]b", "a[[b", "[", "x ]"}) EXPECT_TRUE(TextMayHoldTags(text));
    for (const char* text : {"", "plain text", "a\tb\n(c){d}"}) EXPECT_FALSE(TextMayHoldTags(text));
}

TEST_F(LayoutTest, ColourStackCountsEveryOpening) {
    EXPECT_EQ(CountColourTags("[\tcolor=1][ \r\nCOLOR=2][/color][[color"), 3);
    // A stack that is full refuses the push instead of writing past its end.
    uint32_t entries[1];
    qvColourStack stack{entries, 1, 0};
    qvTextStyle style = record_.style;
    int32_t used = 0;
    EXPECT_EQ(ParseTextTag(L, "[color=1]", &style, &stack, &used), 0);
    EXPECT_EQ(used, 9);
    EXPECT_EQ(ParseTextTag(L, "[color=2]", &style, &stack, &used), ERR_INTERNAL);
    EXPECT_EQ(style.colour, 1u);
}

struct WrapCase {
    const char* text;
    int32_t wrap;
    const char* placed;
};

class WrapTest : public LayoutTest, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(WrapTest, PlacesRuns) {
    text::LayoutOptions options;
    options.wrapWidth = GetParam().wrap;
    ASSERT_EQ(Lay(GetParam().text, options), 0);
    EXPECT_EQ(Placed(), GetParam().placed) << GetParam().text << " at " << GetParam().wrap;
}

INSTANTIATE_TEST_SUITE_P(
    Goldens, WrapTest,
    ::testing::Values(
        WrapCase{"aaa bbb ccc", 40, "0,0:aaa  | 0,8:bbb  | 0,16:ccc"},
        WrapCase{"aaa bbb ccc", 64, "0,0:aaa bbb  | 0,8:ccc"},
        WrapCase{"aaa bbb ccc", 0, "0,0:aaa bbb ccc"},
        // An over-long word that opens its line overflows it; the next word starts a new one.
        WrapCase{"abcdefghij k", 40, "0,0:abcdefghij  | 0,8:k"},
        WrapCase{"a\r\nb", 0, "0,0:a | 0,8:b"}, WrapCase{"a\n\nb", 0, "0,0:a | 0,16:b"},
        // A style change inside the word that moves: the run before it splits at the word.
        WrapCase{"aaa bb[b]bb[/b]b", 40, "0,0:aaa  | 0,8:bb | 16,8:bb | 32,8:b"},
        WrapCase{"aaa [b]bbbb", 40, "0,0:aaa  | 0,8:bbbb"},
        WrapCase{"a[b]bbbbbbbbb", 40, "0,0:a | 8,0:bbbbbbbbb"},
        // Only a change of style closes a run.
        WrapCase{"[color=#RED]a[color=#RED]b[/color]c", 0, "0,0:abc"}));

TEST_F(LayoutTest, BreaksAreRecordedAndReplayed) {
    text::LayoutOptions narrow;
    narrow.wrapWidth = 40;
    ASSERT_EQ(Lay("aaa bbb ccc", narrow), 0);
    ASSERT_EQ(record_.wordBreakCount, 2);
    EXPECT_EQ(record_.wordBreaks[0], 1);
    EXPECT_EQ(record_.wordBreaks[1], 2);
    layout_.reset();
    EXPECT_EQ(record_.wordBreaks, nullptr);  // the layout's own table went with it

    struct {
        std::vector<int32_t> breaks;
        const char* placed;
    } cases[] = {
        {{1, 2}, "0,0:aaa  | 0,8:bbb  | 0,16:ccc"},
        {{2}, "0,0:aaa bbb  | 0,8:ccc"},
        // An entry for a word that opens its line is used up and changes nothing.
        {{0, 2}, "0,0:aaa bbb  | 0,8:ccc"},
        // An entry behind the words already read is never reached.
        {{1, 1, 2}, "0,0:aaa  | 0,8:bbb ccc"},
    };
    for (auto& c : cases) {
        record_.wordBreaks = c.breaks.data();
        record_.wordBreakCount = int32_t(c.breaks.size());
        ASSERT_EQ(Lay("aaa bbb ccc", narrow), 0);  // the width does not apply in replay
        EXPECT_EQ(Placed(), c.placed);
        layout_.reset();
    }
    record_.wordBreaks = nullptr;
}

TEST_F(LayoutTest, TabsGoToStopsOrBreakAndAreReplayed) {
    record_.leftMargin = 10;
    record_.tabCount = 3;
    record_.tabs[0] = 20, record_.tabs[1] = 50, record_.tabs[2] = 100;
    text::LayoutOptions print;
    print.tabsAsSpaces = false;
    ASSERT_EQ(Lay("a\tb\tc\td", print), 0);
    EXPECT_EQ(Placed(), "0,0:a | 10,0:b | 40,0:c | 90,0:d");
    // The stop itself (100), not reduced by the margin, is held against the wrap width.
    print.wrapWidth = 100;
    ASSERT_EQ(Lay("a\tb\tc\td", print), 0);
    EXPECT_EQ(Placed(), "0,0:a | 10,0:b | 40,0:c | 0,8:d");
    ASSERT_EQ(record_.tabResultCount, 3);
    EXPECT_EQ(std::vector<int32_t>(record_.tabResults, record_.tabResults + 3),
              (std::vector<int32_t>{0, 1, -1}));
    layout_->KeepTables();
    int32_t* kept = record_.tabResults;
    EXPECT_NE(kept, nullptr);
    FreeMemBlock(record_.wordBreaks);
    record_.wordBreaks = nullptr;

    int32_t replay[] = {2, -1};
    record_.tabResults = replay;
    record_.tabResultCount = 2;
    ASSERT_EQ(Lay("a\tb\tc", print), 0);
    EXPECT_EQ(Placed(), "0,0:a | 90,0:b | 0,8:c");
    layout_.reset();
    record_.tabResults = nullptr;
    FreeMemBlock(kept);
    // As spaces (TextOut): a tab is a space.
    ASSERT_EQ(Lay("a\tb"), 0);
    EXPECT_EQ(Placed(), "0,0:a b");
}

TEST_F(LayoutTest, LineEndsAlignmentAndEndPosition) {
    struct {
        const char* text;
        int32_t alignment;
        const char* placed;
    } cases[] = {
        // No underline under trailing blanks, also when left-aligned.
        {"[u]ab  [/u]", gfx::LEFT, "0,0:ab"},
        {"[u]ab \ncd[/u]", gfx::LEFT, "0,0:ab | 0,8:cd"},
        {"[u]ab[/u]  ", gfx::LEFT, "0,0:ab | 16,0:  "},
        // Centred and right-aligned lines lose their trailing blanks, runs of blanks too.
        {"ab  \nc[b] [/b] ", gfx::CENTER, "0,0:ab | 0,8:c"},
        {"ab  \nc ", gfx::RIGHT, "0,0:ab | 0,8:c"},
        // So does any alignment other than LEFT, which lays out as left.
        {"ab  \nc ", 5, "0,0:ab | 0,8:c"},
        {"ab  \nc ", gfx::TOP, "0,0:ab | 0,8:c"},
        {"ab  \nc ", gfx::LEFT, "0,0:ab   | 0,8:c "},
        {"", gfx::CENTER, ""},
        {"", gfx::LEFT, "0,0: "},
    };
    for (const auto& c : cases) {
        text::LayoutOptions options;
        options.alignment = c.alignment;
        ASSERT_EQ(Lay(c.text, options), 0);
        EXPECT_EQ(Placed(), c.placed) << c.text;
    }
    ASSERT_EQ(Lay("ab\ncde"), 0);
    EXPECT_EQ(layout_->endX(), 24);
    EXPECT_EQ(layout_->endY(), 8);
    ASSERT_EQ(Lay("ab\n"), 0);
    EXPECT_EQ(layout_->endX(), 0);
    EXPECT_EQ(layout_->endY(), 8);

    // Lines shift within the widest line: by half the room, toward zero, or by all of it.
    ASSERT_EQ(Lay("aaaa\nb\nbb"), 0);
    AlignTextLines(Runs(), gfx::CENTER);
    EXPECT_EQ(Placed(), "0,0:aaaa | 12,8:b | 8,16:bb");
    ASSERT_EQ(Lay("aaaa\nb[b]b"), 0);
    AlignTextLines(Runs(), gfx::RIGHT);
    EXPECT_EQ(Placed(), "0,0:aaaa | 15,8:b | 23,8:b");
}

TEST_F(LayoutTest, PositionsPassSixteenBits) {
    text::LayoutOptions options;
    options.startX = 40000;
    ASSERT_EQ(Lay(std::string(5000, 'a') + "[b]b", options), 0);
    ASSERT_NE(Runs()->next, nullptr);
    EXPECT_EQ(Runs()->x, 40000);
    EXPECT_EQ(Runs()->next->x, 80000);
}

TEST_F(LayoutTest, MemoryRunningOutLeavesNothing) {
    record_.tabCount = 1;
    record_.tabs[0] = 30;
    text::LayoutOptions options;
    options.wrapWidth = 40;
    options.tabsAsSpaces = false;
    text_ = "aa[color=1]a bb[b]b\tc[/b]cc[/color] ddd eee";
    record_.text = text_.data();
    SweepAllocationFailures(
        [&] {
            text::TextLayout layout;
            const int error = layout.Run(L, &record_, options);
            EXPECT_TRUE(error == 0 || error == ERR_MEM) << error;
            return error == 0;
        },
        [] {});
}

TEST_F(LayoutTest, WordWrapTableKeepsAtMost32766Entries) {
    for (const int32_t entries : {0, 3, 32766, 32767, 32768, 40000}) {
        VmNewTable(L);
        for (int32_t i = 0; i < entries; ++i) {
            VmPushNumber(L, i * 2.75);
            VmRawSetI(L, -2, i);
        }
        const int32_t* table = nullptr;
        int32_t count = -1;
        const int error = ReadWordWrapTable(L, -1, &table, &count);
        if (entries <= 32766) {
            ASSERT_EQ(error, 0);
            ASSERT_EQ(count, entries);
            if (entries > 2) {
                EXPECT_EQ(table[2], 5);
            }
        } else {
            EXPECT_EQ(error, ERR_INTERNAL) << entries;
        }
        VmSetTop(L, 0);
    }
    FreeWordWrapTable();
}

}  // namespace
}  // namespace qv::testing
