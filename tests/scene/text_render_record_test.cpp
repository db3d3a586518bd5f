// The text render record that text layers keep: a copy owns its text and break tables and
// shares no clip region with its source; memory running out leaves nothing behind.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/memory.h"
#include "scene/layers/layer.h"

namespace qv::testing {
namespace {

TEST(TextRenderRecord, CopiesOwnTheirTextAndTables) {
    char text[] = "a\tb c";
    int32_t breaks[] = {1, 2};
    int32_t tabs[] = {-1};
    qvClipRegion region{};
    qvTextRender source{};
    source.item.clipRegion = &region;
    source.style.colour = 0x80FF0000;
    source.text = text;
    source.alignment = -100000;
    source.tabCount = 1;
    source.tabs[0] = 40;
    source.wordBreaks = breaks;
    source.wordBreakCount = 2;
    source.tabResults = tabs;
    source.tabResultCount = 1;
    source.encoding = 1;

    qvTextRender* copy = NewTextRenderRecord(&source);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->item.clipRegion, nullptr);
    EXPECT_NE(copy->text, text);
    EXPECT_STREQ(copy->text, text);
    ASSERT_NE(copy->wordBreaks, breaks);
    EXPECT_EQ(copy->wordBreaks[1], 2);
    EXPECT_EQ(copy->tabResults[0], -1);
    EXPECT_EQ(copy->style.colour, 0x80FF0000u);
    EXPECT_EQ(copy->tabs[0], 40);
    EXPECT_EQ(copy->encoding, 1);
    FreeTextRender(copy);

    // Without tables and text nothing is copied; an empty table keeps its one spare entry.
    source.text = nullptr;
    source.tabResults = nullptr;
    source.wordBreakCount = 0;
    copy = NewTextRenderRecord(&source);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text, nullptr);
    EXPECT_EQ(copy->tabResults, nullptr);
    EXPECT_NE(copy->wordBreaks, nullptr);
    FreeTextRender(copy);
    FreeTextRender(nullptr);
}

TEST(TextRenderRecord, MemoryRunningOutGivesNoneAndLeavesNothing) {
    char text[] = "text";
    int32_t breaks[] = {3};
    qvTextRender source{};
    source.text = text;
    source.wordBreaks = breaks;
    source.wordBreakCount = 1;
    source.tabResults = breaks;
    source.tabResultCount = 1;
    for (uint64_t n = 1; n <= 4; ++n) {
        const size_t before = GetMemoryStats().liveBlocks;
        qvTextRender* copy = nullptr;
        {
            AllocationFault fault(n, false);
            copy = NewTextRenderRecord(&source);
        }
        EXPECT_EQ(copy, nullptr) << n;
        EXPECT_EQ(GetMemoryStats().liveBlocks, before) << n;
    }
}

}  // namespace
}  // namespace qv::testing
