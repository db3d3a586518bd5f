// The text render record that text layers keep: it owns its text and break tables, a copy owns
// its own and shares no clip region with its source; memory running out leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "objects/fonts/font.h"
#include "objects/text/layout.h"
#include "platform/linux/blocks.h"
#include "platform/linux/memory.h"
#include "scene/layers/layer.h"

namespace qv::testing {
namespace {

// A block holding the values, as the records own their text and tables.
template <typename T>
T* Owned(std::initializer_list<T> values) {
    auto* block = static_cast<T*>(AllocMemBlock(values.size() * sizeof(T), 0));
    std::copy(values.begin(), values.end(), block);
    return block;
}

TEST(TextRenderRecord, CopiesOwnTheirTextAndTables) {
    char* text = Owned({'a', '\t', 'b', ' ', 'c', '\0'});
    int32_t* breaks = Owned<int32_t>({1, 2});
    int32_t* tabs = Owned<int32_t>({-1});
    qvClipRegion region{};
    qvTextRender source;
    source.clipRegion = &region;
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
    EXPECT_EQ(copy->clipRegion, nullptr);
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
    FreeMemBlock(source.text);
    source.text = nullptr;
    FreeMemBlock(source.tabResults);
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
    qvTextRender source;
    source.text = Owned({'t', 'e', 'x', 't', '\0'});
    source.wordBreaks = Owned<int32_t>({3});
    source.wordBreakCount = 1;
    source.tabResults = Owned<int32_t>({3});
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

// A layout of a text layer's item records the line breaks into the item; kept, they are the
// item's and go with it, together with its images.
TEST(TextRenderRecord, TheTablesALayoutKeptGoWithTheItem) {
    qvFont* font = nullptr;
    ASSERT_EQ(OpenDefaultFont(&font), 0);  // every advance 8
    auto layOut = [](qvTextParams* record) {
        record->style = {QV_STYLE_NORMAL, 0xFFFFFF, 0, 0, 4, 3, 2, DefaultFont()};
        text::TextLayout layout;
        text::LayoutOptions options;
        options.wrapWidth = 24;
        const int code = layout.Run(nullptr, record, options);
        layout.KeepTables();
        return code;
    };
    char words[] = "ab cd ef";
    qvTextParams borrowed{};
    borrowed.text = words;
    ASSERT_EQ(layOut(&borrowed), 0);  // the font's caches filled before the count
    FreeMemBlock(borrowed.wordBreaks);

    const size_t before = GetMemoryStats().liveBlocks;
    auto* render = NewBlock<qvTextRender>();
    render->text = Owned({'a', 'b', ' ', 'c', 'd', ' ', 'e', 'f', '\0'});
    ASSERT_EQ(layOut(render), 0);
    ASSERT_EQ(render->wordBreakCount, 2);
    EXPECT_EQ(render->wordBreaks[1], 2);
    render->image.bitmap = AllocDisplayBitMap(8, 24);
    render->transformed.alpha = AllocAlphaBitMap(8, 24, 1);
    FreeTextRender(render);
    EXPECT_EQ(GetMemoryStats().liveBlocks, before);
    CloseAllFonts();
}

}  // namespace
}  // namespace qv::testing
