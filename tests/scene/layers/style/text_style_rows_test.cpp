// The style row of TEXTOUT and PRINT layers: font style switches, layout and cursor keys, tab
// stops, fonts, the text, retypes and the keys GetLayerStyle gives.
#include "gfx/geometry.h"
#include "objects/text/render_text.h"
#include "tests/scene/layers/style/style_rows_fixture.h"

namespace qv::testing {
namespace {

// Layer 1 is TextOut's "Hello" at (10, 5), layer 2 a Print of "abc" at (20, 8) with the
// margins 4 and 60.
class TextStyleRows : public StyleRowsFixture {
protected:
    TextStyleRows() {
        EXPECT_EQ(Call("TextOut", {Num(10), Num(5), Str("Hello")}).code, 0);
        EXPECT_EQ(Call("SetMargins", {Num(4), Num(60)}).code, 0);
        EXPECT_EQ(Call("Locate", {Num(20), Num(8)}).code, 0);
        EXPECT_EQ(Call("Print", {Str("abc")}).code, 0);
    }
    static qvTextRender* Record(const qvLayer* layer) {
        return dynamic_cast<qvTextRender*>(layer->sourceItem);
    }
};

TEST_F(TextStyleRows, FontStyleNormalReplacesAndShadowOrEdgeOnlySwitch) {
    Record(Layer(1))->style.styleFlags = QV_STYLE_BOLD;
    struct Case {
        const char* key;
        uint32_t bits;
        uint32_t flags;
        int shadow, border;
        bool rebuild, refresh;
    } cases[] = {
        {"fontstyle", QV_STYLE_NORMAL | QV_STYLE_ITALIC, QV_STYLE_NORMAL, 0, 0, true, false},
        {"fontstyle", QV_STYLE_SHADOW, QV_STYLE_BOLD, 1, 0, false, true},
        {"fontstyle", QV_STYLE_EDGE | QV_STYLE_ITALIC, QV_STYLE_BOLD | QV_STYLE_ITALIC, 0, 1, true,
         true},
        {"fontstyleclear", QV_STYLE_BOLD, 0, 1, 1, true, false},
        {"fontstyleclear", QV_STYLE_SHADOW | QV_STYLE_EDGE, QV_STYLE_BOLD, 0, 0, false, true},
    };
    for (const Case& c : cases) {
        Layer(1)->shadow.on = Layer(1)->border.on = c.key[9] == 'c' ? 1 : 0;
        StyleWork s;
        ASSERT_EQ(Read(1, Table({{Str(c.key), Num(c.bits)}}), &s), 0);
        SCOPED_TRACE(std::string(c.key) + " " + std::to_string(c.bits));
        EXPECT_EQ(s.ItemAs<qvTextRender>()->style.styleFlags, c.flags);
        EXPECT_EQ(s.work.layer.shadow.on, c.shadow);
        EXPECT_EQ(s.work.layer.border.on, c.border);
        EXPECT_EQ(s.work.rebuild, c.rebuild);
        EXPECT_EQ(s.work.refresh, c.refresh);
    }
}

TEST_F(TextStyleRows, BadLayoutValuesAreRefused) {
    std::vector<Arg> tooManyTabs;
    for (int i = 0; i < 32; ++i) tooManyTabs.push_back(Num(10 * i));
    struct Case {
        int32_t layer;
        Arg table;
        int code;
    } cases[] = {
        {1, Table({{Str("encoding"), Num(2)}}), ERR_WRONGUSAGE},
        {1, Table({{Str("encoding"), Num(-1)}}), ERR_WRONGUSAGE},
        {1, Table({{Str("rightmargin"), Num(-1)}}), ERR_WRONGUSAGE},
        {2, Table({{Str("leftmargin"), Num(-5)}}), ERR_WRONGUSAGE},
        {2, Table({{Str("tabs"), List(tooManyTabs)}}), ERR_INTERNAL},
        {2, Table({{Str("tabs"), List({Num(5), Str("x")})}}), ERR_NUMTABLEARG},
        {2, Table({{Str("tabs"), Num(5)}}), ERR_TABEXPECTED},
        {2, Table({{Str("cursorx"), Num(gfx::RIGHT)}}), ERR_NOCOORDCST},
        {2, Table({{Str("cursory"), Num(gfx::BOTTOM)}}), ERR_NOCOORDCST},
        {1, Table({{Str("font"), Str("no such font anywhere")}, {Str("fontsize"), Num(9)}}), -1},
    };
    for (const Case& c : cases) {
        StyleWork s;
        const int code = Read(c.layer, c.table, &s);
        if (c.code == -1) {
            EXPECT_NE(code, 0);
        } else {
            EXPECT_EQ(code, c.code) << &c - cases;
        }
    }
    tooManyTabs.pop_back();
    StyleWork s;
    EXPECT_EQ(Read(2, Table({{Str("tabs"), List(tooManyTabs)}}), &s), 0);
    EXPECT_EQ(s.ItemAs<qvTextRender>()->tabCount, 31);
}

TEST_F(TextStyleRows, PrintCursorMarginsAndTabs) {
    StyleWork s;
    ASSERT_EQ(Read(2,
                   Table({{Str("leftmargin"), Num(8)},
                          {Str("cursorx"), Num(2)},
                          {Str("cursory"), Num(30)},
                          {Str("tabs"), List({Num(300), Num(100), Num(200)})}}),
                   &s),
              0);
    const qvTextRender* record = s.ItemAs<qvTextRender>();
    EXPECT_EQ(record->cursorX, 8) << "outside the margins: the left margin";
    EXPECT_EQ(record->cursorY, 30);
    EXPECT_EQ(record->tabCount, 3);
    EXPECT_EQ(std::vector<int32_t>(record->tabs, record->tabs + 3),
              (std::vector<int32_t>{100, 200, 300}));
    EXPECT_TRUE(s.work.cursorSet);
    EXPECT_TRUE(s.work.relayout);
    EXPECT_TRUE(s.work.rebuild);
    StyleWork inside;
    ASSERT_EQ(Read(2, Table({{Str("cursorx"), Num(40)}}), &inside), 0);
    EXPECT_EQ(inside.ItemAs<qvTextRender>()->cursorX, 40);
    EXPECT_FALSE(inside.work.relayout);
}

// A relayout drops the recorded layout and keeps the text; a new text replaces it.
TEST_F(TextStyleRows, ARelayoutDropsTheRecordedLayout) {
    qvTextRender* live = Record(Layer(1));
    live->style.shadowSize = 100;
    StyleWork s;
    ASSERT_EQ(Read(1, Table({{Str("rightmargin"), Num(30)}, {Str("align"), Num(1)}}), &s), 0);
    const qvTextRender* record = s.ItemAs<qvTextRender>();
    EXPECT_TRUE(s.work.relayout);
    EXPECT_EQ(record->wordBreaks, nullptr);
    EXPECT_EQ(record->wordBreakCount, 0);
    EXPECT_EQ(record->tabResults, nullptr);
    EXPECT_STREQ(record->text, "Hello");
    EXPECT_EQ(record->rightMargin, 30);
    EXPECT_EQ(record->alignment, 1);
    EXPECT_EQ(record->style.shadowSize, 64) << "clamped";

    StyleWork text;
    ASSERT_EQ(Read(1, Table({{Str("text"), Str("New")}, {Str("color"), Num(0xFF00FF)}}), &text), 0);
    EXPECT_STREQ(text.ItemAs<qvTextRender>()->text, "New");
    EXPECT_EQ(text.ItemAs<qvTextRender>()->style.colour, 0xFF00FFu);
    EXPECT_TRUE(text.work.rebuild);
}

TEST_F(TextStyleRows, FontKeysOpenTheFontThroughTheCache) {
    StyleWork s;
    ASSERT_EQ(
        Read(1, Table({{Str("font"), Str(":::default_sans")}, {Str("fontsize"), Num(20)}}), &s), 0);
    const qvFont* font = s.ItemAs<qvTextRender>()->style.font;
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->size, 20);
    EXPECT_EQ(font->engine, int32_t(QV_FONTENGINE_TRUETYPE));
    EXPECT_TRUE(s.work.relayout);
    // A size alone opens the record's font at that size.
    Record(Layer(1))->style.font = const_cast<qvFont*>(font);
    StyleWork size;
    ASSERT_EQ(Read(1, Table({{Str("fontsize"), Num(12)}}), &size), 0);
    const qvFont* smaller = size.ItemAs<qvTextRender>()->style.font;
    EXPECT_EQ(smaller->size, 12);
    EXPECT_STREQ(smaller->requestedName, font->requestedName);
}

// From another type the record starts from the text defaults (and for PRINT the display's
// cursor and margins) at the old position and needs a text; between TEXTOUT and PRINT the
// record goes on.
TEST_F(TextStyleRows, RetypesStartFromTheDefaultsOrKeepTheRecord) {
    Plain(1, 4, 3, 0xFF0000);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(12), Num(13)}).code, 0);
    ASSERT_EQ(Call("SetFontColor", {Num(0x123456)}).code, 0);
    ASSERT_EQ(Call("Locate", {Num(33), Num(22)}).code, 0);
    StyleWork missing;
    EXPECT_EQ(Read(3, Table({{Str("color"), Num(1)}}), &missing, gfx::kTypeTextOut),
              ERR_MISSINGPARAMTR);
    for (uint32_t type : {uint32_t(gfx::kTypeTextOut), uint32_t(gfx::kTypePrint)}) {
        StyleWork s;
        ASSERT_EQ(Read(3, Table({{Str("text"), Str("from a brush")}}), &s, type), 0);
        const qvTextRender* record = s.ItemAs<qvTextRender>();
        EXPECT_STREQ(record->text, "from a brush");
        EXPECT_EQ(record->x, 12);
        EXPECT_EQ(record->y, 13);
        EXPECT_EQ(record->style.colour, 0x123456u);
        EXPECT_EQ(record->cursorX, type == gfx::kTypePrint ? 33 : 0);
        EXPECT_EQ(record->cursorY, type == gfx::kTypePrint ? 22 : 0);
        EXPECT_EQ(record->leftMargin, type == gfx::kTypePrint ? 4 : 0);
    }
    StyleWork print;
    ASSERT_EQ(Read(1, Table({}), &print, gfx::kTypePrint), 0);
    EXPECT_STREQ(print.ItemAs<qvTextRender>()->text, "Hello");
    EXPECT_EQ(print.work.layer.type, uint32_t(gfx::kTypePrint));
}

TEST_F(TextStyleRows, GetLayerStyleGivesTheTextKeys) {
    ASSERT_EQ(Call("SetFont", {Str(":::default_sans"), Num(14)}).code, 0);
    ASSERT_EQ(Call("SetFontColor", {Num(0x00FF00)}).code, 0);
    ASSERT_EQ(
        Call("TextOut", {Num(1), Num(2), Str("Keys"), Table({{Str("wordwrap"), Num(50)}})}).code,
        0);
    const Value style = Style(3);
    EXPECT_EQ(NumberAt(style, "color"), 0x00FF00);
    EXPECT_EQ(NumberAt(style, "fontstyle"), QV_STYLE_NORMAL);
    EXPECT_EQ(NumberAt(style, "rightmargin"), 50);
    EXPECT_EQ(NumberAt(style, "fontsize"), 14);
    EXPECT_EQ(NumberAt(style, "encoding"), 0);
    EXPECT_EQ(NumberAt(style, "align"), gfx::LEFT);
    ASSERT_NE(style.Field("text"), nullptr);
    EXPECT_EQ(style.Field("text")->text, "Keys");
    ASSERT_NE(style.Field("font"), nullptr);
    EXPECT_EQ(style.Field("font")->text, "Bitstream Vera Sans");
    EXPECT_EQ(NumberAt(Style(2), "leftmargin"), 4);
}

}  // namespace
}  // namespace qv::testing
