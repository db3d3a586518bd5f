// The text state commands on the fixture's display record, and measuring in a style: the
// synthetic styles where the engine has none, the edge and the shadow by direction, kerning
// pairs and the registration's defaults.
#include <cstring>
#include <string>
#include <vector>

#include "objects/fonts/font_loading.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_extent.h"
#include "runtime/exports.h"
#include "tests/objects/text/text_test_support.h"

namespace qv::testing {
namespace {

class TextStateTest : public TextLibTest {
protected:
    qvTextCursor& Cursor() { return display_.cursor; }
    std::vector<int32_t> Tabs() {
        return std::vector<int32_t>(Cursor().tabs, Cursor().tabs + Cursor().tabCount);
    }
};

TEST_F(TextStateTest, RegistrationSetsTheDefaults) {
    const qvTextStyle expected = {QV_STYLE_NORMAL, 0xFFFFFF, 0x000000, 0x0093DD, 4, 3, 2,
                                  DefaultFont()};
    EXPECT_EQ(*GetTextDefaults(), expected);
    EXPECT_EQ(GetDefaultFont(), DefaultFont());
    EXPECT_EQ(GetDefaultEncoding(), QV_ENCODING_ISO8859_1);
    const char* strings[][2] = {{"SANS", ":::default_sans"},
                                {"SERIF", ":::default_serif"},
                                {"MONOSPACE", ":::default_mono"},
                                {"BITMAP_DEFAULT", ":::default_bitmap"},
                                {"TRUETYPE_DEFAULT", ":::default_truetype"}};
    for (const auto& [name, text] : strings) {
        const char* string = nullptr;
        double number = 0;
        ASSERT_TRUE(LookupConstant(L, name, &string, &number)) << name;
        EXPECT_STREQ(string, text) << name;
    }
    const char* string = nullptr;
    double number = 0;
    ASSERT_TRUE(LookupConstant(L, "FONTWEIGHT_EXTRABLACK", &string, &number));
    EXPECT_EQ(number, 215);
    EXPECT_EQ(FindCommandSpelling("getkerningpair"), std::string("GetKerningPair"));
    EXPECT_EQ(FindCommandSpelling("print"), std::string("Print"));
}

TEST_F(TextStateTest, SetFontStyleAccumulatesClampsAndRefuses) {
    struct Step {
        std::vector<Arg> args;
        int code;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        uint32_t flags;
        uint32_t shadowColour, edgeColour;
        int32_t shadowSize, shadowDirection, edgeSize;
    };
    const Case cases[] = {
        {"bold, then italic", {{{Num(2)}, 0}, {{Num(4)}, 0}}, 7, 0, 0x93DD, 4, 3, 2},
        {"NORMAL with BOLD", {{{Num(2)}, 0}, {{Num(3)}, 0}}, 1, 0, 0x93DD, 4, 3, 2},
        {"NORMAL ignores the rest", {{{Num(1), Num(5), Num(6)}, 0}}, 1, 0, 0x93DD, 4, 3, 2},
        {"shadow size 100", {{{Num(32), Num(0xFF), Num(100)}, 0}}, 33, 0xFF, 0x93DD, 64, 3, 2},
        {"shadow size 0 and direction 7",
         {{{Num(32), Num(0x80FF0000), Num(0), Num(7)}, 0}},
         33,
         0x80FF0000,
         0x93DD,
         1,
         7,
         2},
        {"shadow direction 9", {{{Num(32), Num(1), Num(4), Num(9)}, 0}}, 33, 1, 0x93DD, 4, 3, 2},
        {"shadow direction -1", {{{Num(32), Num(1), Num(4), Num(-1)}, 0}}, 33, 1, 0x93DD, 4, 3, 2},
        {"edge colour and size 70", {{{Num(64), Num(7), Num(70)}, 0}}, 65, 0, 7, 4, 3, 64},
        {"edge ignores a third value", {{{Num(64), Num(7), Num(3), Num(1)}, 0}}, 65, 0, 7, 4, 3, 3},
        {"bold with a colour", {{{Num(2), Num(5)}, ERR_TOOMANYARGS}}, 1, 0, 0x93DD, 4, 3, 2},
        {"shadow and edge together", {{{Num(96), Num(5)}, ERR_TOOMANYARGS}}, 1, 0, 0x93DD, 4, 3, 2},
        {"five arguments",
         {{{Num(32), Num(1), Num(2), Num(3), Num(4)}, ERR_TOOMANYARGS}},
         1,
         0,
         0x93DD,
         4,
         3,
         2},
    };
    for (const Case& c : cases) {
        *GetTextDefaults() = {QV_STYLE_NORMAL, 0xFFFFFF, 0, 0x93DD, 4, 3, 2, DefaultFont()};
        for (const Step& step : c.steps)
            EXPECT_EQ(Call("SetFontStyle", step.args).code, step.code) << c.what;
        const qvTextStyle& s = *GetTextDefaults();
        EXPECT_EQ(s.styleFlags, c.flags) << c.what;
        EXPECT_EQ(s.shadowColour, c.shadowColour) << c.what;
        EXPECT_EQ(s.edgeColour, c.edgeColour) << c.what;
        EXPECT_EQ(s.shadowSize, c.shadowSize) << c.what;
        EXPECT_EQ(s.shadowDirection, c.shadowDirection) << c.what;
        EXPECT_EQ(s.edgeSize, c.edgeSize) << c.what;
    }
}

TEST_F(TextStateTest, ColourAndEncoding) {
    ASSERT_EQ(Call("SetFontColor", {Num(0xC0112233u)}).code, 0);
    EXPECT_EQ(GetTextDefaults()->colour, 0xC0112233u);
    ASSERT_EQ(Call("SetDefaultEncoding", {Num(1)}).code, 0);
    EXPECT_EQ(GetDefaultEncoding(), QV_ENCODING_UTF8);
    for (double bad : {2.0, -1.0, 256.0})
        EXPECT_EQ(Call("SetDefaultEncoding", {Num(bad)}).code, ERR_WRONGUSAGE) << bad;
    EXPECT_EQ(GetDefaultEncoding(), QV_ENCODING_UTF8);
}

TEST_F(TextStateTest, LocateKeepsTheCursorBetweenTheMargins) {
    Cursor().leftMargin = 20;
    Cursor().rightMargin = 200;
    struct Case {
        double x, y;
        int code;
        int32_t cursorX, cursorY;
    };
    const Case cases[] = {
        {-5, 10, 0, 20, 10},
        {100, -7, 0, 100, -7},
        {20, 1, 0, 20, 1},
        {200, 2, 0, 200, 2},
        {201, 3, 0, 20, 3},
        {-100000, 0, ERR_NOCOORDCST, 20, 3},
        {-90000, 0, ERR_NOCOORDCST, 20, 3},
        {-80000, 0, ERR_NOCOORDCST, 20, 3},
        {0, -100000, ERR_NOCOORDCST, 20, 3},
        {0, -70000, ERR_NOCOORDCST, 20, 3},
        {0, -60000, ERR_NOCOORDCST, 20, 3},
        {-70000, -90000, 0, 20, -90000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call("Locate", {Num(c.x), Num(c.y)}).code, c.code) << c.x << "," << c.y;
        EXPECT_EQ(Cursor().x, c.cursorX) << c.x << "," << c.y;
        EXPECT_EQ(Cursor().y, c.cursorY) << c.x << "," << c.y;
    }
}

TEST_F(TextStateTest, MarginsAreClampedToThePictureAndMustNotCross) {
    struct Case {
        double left, right;
        int code;
        int32_t leftMargin, rightMargin;
    };
    const Case cases[] = {
        {10, 300, 0, 10, 300},
        {-5, 1000, 0, 0, 319},
        {319, 400, 0, 319, 319},
        {500, 600, ERR_WRONGUSAGE, 319, 319},  // 500 and 319 once clamped
        {40, 40, ERR_WRONGUSAGE, 319, 319},
        {60, 50, ERR_WRONGUSAGE, 319, 319},
    };
    for (const Case& c : cases) {
        Cursor().x = Cursor().y = 77;
        const int code = Call("SetMargins", {Num(c.left), Num(c.right)}).code;
        EXPECT_EQ(code, c.code) << c.left << "," << c.right;
        EXPECT_EQ(Cursor().leftMargin, c.leftMargin) << c.left << "," << c.right;
        EXPECT_EQ(Cursor().rightMargin, c.rightMargin) << c.left << "," << c.right;
        EXPECT_EQ(Cursor().x, code == 0 ? c.leftMargin : 77);
        EXPECT_EQ(Cursor().y, code == 0 ? 0 : 77);
    }
    display_.width = 0;  // no picture: every pair crosses
    EXPECT_EQ(Call("SetMargins", {Num(0), Num(10)}).code, ERR_WRONGUSAGE);
}

TEST_F(TextStateTest, TabStopsStaySortedUpToThirtyTwo) {
    ASSERT_EQ(Call("AddTab", {Num(100), Num(50), Num(100)}).code, 0);
    EXPECT_EQ(Tabs(), (std::vector<int32_t>{50, 100, 100}));
    EXPECT_EQ(Call("AddTab", {Num(75), Num(-1), Num(80)}).code, ERR_NEGCOORDS);
    EXPECT_EQ(Tabs(), (std::vector<int32_t>{50, 75, 100, 100})) << "stops before it stay";
    ASSERT_EQ(Call("ResetTabs").code, 0);
    EXPECT_TRUE(Tabs().empty());
    std::vector<Arg> many;
    for (int i = 31; i >= 0; --i) many.push_back(Num(i * 3));
    ASSERT_EQ(Call("AddTab", many).code, 0);
    EXPECT_EQ(Cursor().tabCount, 32);
    EXPECT_TRUE(std::is_sorted(Cursor().tabs, Cursor().tabs + 32));
    EXPECT_EQ(Call("AddTab", {Num(1)}).code, ERR_INTERNAL);
    EXPECT_EQ(Cursor().tabCount, 32);
    EXPECT_EQ(Call("AddTab").code, ERR_MISSINGPARAMTR);
}

TEST_F(TextStateTest, WithoutADisplayTheCursorCommandsFail) {
    text::SetTextDisplayHost(nullptr);
    for (const auto& [command, args] :
         std::vector<std::pair<const char*, std::vector<Arg>>>{{"Locate", {Num(1), Num(2)}},
                                                               {"SetMargins", {Num(1), Num(2)}},
                                                               {"AddTab", {Num(1)}},
                                                               {"ResetTabs", {}}}) {
        const CallResult r = Call(command, args);
        EXPECT_EQ(r.code, ERR_FINDDISPLAY) << command;
        EXPECT_EQ(r.errorNumber, 1u) << command;
    }
    text::SetTextDisplayHost(&display_);
}

TEST_F(TextStateTest, MeasuringCommandsUseTheCurrentFontAndStyle) {
    EXPECT_EQ(Call("TextWidth", {Str("ABC")}).Number(), 24);
    EXPECT_EQ(Call("TextHeight", {Str("")}).Number(), 8);
    EXPECT_EQ(Call("TextHeight", {Num(5)}).Number(), 8) << "the text is not looked at";
    ASSERT_EQ(Call("SetFont", {Str("DejaVu Sans"), Num(20)}).code, 0);
    EXPECT_EQ(Call("TextHeight", {Str("x")}).Number(), 20);
    const std::string utf8 = "\xC3\xA9t\xC3\xA9";  // "été"
    const double bytes = Call("TextWidth", {Str(utf8)}).Number();
    const double characters = Call("TextWidth", {Str(utf8), Num(1)}).Number();
    EXPECT_GT(bytes, characters);
    ASSERT_EQ(Call("SetDefaultEncoding", {Num(1)}).code, 0);
    EXPECT_EQ(Call("TextWidth", {Str(utf8)}).Number(), characters);
    EXPECT_EQ(Call("TextWidth", {Str(utf8), Num(0)}).Number(), bytes);
    EXPECT_EQ(Call("TextWidth", {Str(utf8), Num(3)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("TextExtent", {Str(utf8), Num(-1)}).code, ERR_WRONGUSAGE);
}

TEST_F(TextStateTest, KerningOfAPair) {
    ASSERT_EQ(Call("SetFont", {Str(":::default_sans"), Num(40)}).code, 0);
    const int32_t av = GetKerningPairByFont(GetDefaultFont(), "AV", 2, 0);
    ASSERT_LT(av, 0) << "Vera kerns A and V";
    EXPECT_EQ(Call("GetKerningPair", {Str("A"), Str("V")}).Number(), av);
    EXPECT_EQ(Call("GetKerningPair", {Str("A"), Str("")}).Number(), 0);
    EXPECT_EQ(Call("GetKerningPair", {Str(""), Str("V")}).Number(), 0);
    EXPECT_EQ(Call("GetKerningPair", {Str("AV"), Str("A")}).Number(), 0) << "three characters";
    EXPECT_EQ(
        Call("GetKerningPair", {Str(std::string(150, 'A')), Str(std::string(150, 'V'))}).Number(),
        0);
    EXPECT_EQ(Call("GetKerningPair", {Str("A"), Str("V"), Num(2)}).code, ERR_WRONGUSAGE);
    // In UTF-8 a pair of characters may take more bytes; in ISO-8859-1 each byte is one.
    EXPECT_EQ(Call("GetKerningPair", {Str("A"), Str("V"), Num(1)}).Number(), av);
    const std::string aRing = "\xC3\x85";  // Å
    EXPECT_EQ(Call("GetKerningPair", {Str(aRing), Str("V"), Num(1)}).Number(),
              GetKerningPairByFont(GetDefaultFont(), "\xC3\x85V", 3, 1));
    EXPECT_EQ(Call("GetKerningPair", {Str("V"), Str(aRing), Num(0)}).Number(), 0);
}

// TextExtentRaw on a font of the built-in engine (no bold or italic of its own) and of the
// platform's engine (both of its own).
TEST_F(TextStateTest, SyntheticStylesWidenOnlyWhatTheEngineDoesNotDo) {
    qvFont* builtIn = nullptr;
    qvFont* platform = nullptr;
    ASSERT_EQ(LoadFont("DejaVu Sans", 30, 4, 1, 0, &builtIn), 0);
    ASSERT_EQ(LoadFont("DejaVu Sans", 30, 0, 1, 0, &platform), 0);
    ASSERT_EQ(platform->engine, QV_FONTENGINE_PLATFORM);
    auto measure = [](qvFont* font, uint32_t flags) {
        qvStyledExtent extent;
        qvTextStyle style = *GetTextDefaults();
        style.styleFlags = flags;
        style.font = font;
        EXPECT_EQ(TextExtentRaw("Wx", 2, 0, &extent, style), 0);
        return extent;
    };
    for (qvFont* font : {builtIn, platform}) {
        const bool own = font == platform;
        for (uint32_t aa : {0u, uint32_t(QV_STYLE_ANTIALIAS)}) {
            const qvStyledExtent plain = measure(font, aa);
            qvTextExtent engine{};
            FontTextExtent(font, "Wx", 2, QV_STYLE_BOLD | aa, 0, &engine);
            const qvStyledExtent bold = measure(font, QV_STYLE_BOLD | aa);
            // Neither engine makes bold itself: the one-bit smear widens both.
            EXPECT_EQ(bold.maxX, engine.maxX + (aa == 0 ? 1 : 0)) << own << aa;
            EXPECT_EQ(bold.minX, engine.minX);
            EXPECT_EQ(bold.inkWidth, std::max(bold.advance, bold.maxX + 1));
            FontTextExtent(font, "Wx", 2, QV_STYLE_ITALIC | aa, 0, &engine);
            const qvStyledExtent italic = measure(font, QV_STYLE_ITALIC | aa);
            const int32_t right = own ? 0 : font->baseline / 2;
            const int32_t left = own ? 0 : (font->height - font->baseline) / 2;
            EXPECT_EQ(italic.maxX, engine.maxX + right) << own;
            EXPECT_EQ(italic.minX, engine.minX - left) << own;
            EXPECT_EQ(italic.height, font->height);
            EXPECT_EQ(plain.minXExtension, 0);
        }
    }
}

TEST_F(TextStateTest, EdgeAndShadowExtendTheSidesTheyReach) {
    struct Case {
        int32_t direction;
        int32_t minX, maxX, minY, maxY;  // extensions of a shadow of 5 over an edge of 2
    };
    const Case cases[] = {
        {0, -2, 2, -7, 2}, {1, -2, 7, -7, 2},  {2, -2, 7, -2, 2}, {3, -2, 7, -2, 7},
        {4, -2, 2, -2, 7}, {5, -7, 2, -2, 7},  {6, -7, 2, -2, 2}, {7, -7, 2, -7, 2},
        {8, -2, 7, -2, 7}, {-3, -2, 7, -2, 7},
    };
    for (const Case& c : cases) {
        qvTextStyle style = *GetTextDefaults();
        style.styleFlags = QV_STYLE_NORMAL | QV_STYLE_EDGE | QV_STYLE_SHADOW;
        style.edgeSize = 2;
        style.shadowSize = 5;
        style.shadowDirection = c.direction;
        qvStyledExtent e;
        ASSERT_EQ(TextExtentRaw("ABC", 3, 0, &e, style), 0);
        EXPECT_EQ(e.minXExtension, c.minX) << c.direction;
        EXPECT_EQ(e.maxXExtension, c.maxX) << c.direction;
        EXPECT_EQ(e.minYExtension, c.minY) << c.direction;
        EXPECT_EQ(e.maxYExtension, c.maxY) << c.direction;
        EXPECT_EQ(e.advance, 24);
        EXPECT_EQ(e.inkWidth, 24);
    }
    qvTextStyle shadowOnly = *GetTextDefaults();
    shadowOnly.styleFlags = QV_STYLE_SHADOW;
    qvStyledExtent e;
    ASSERT_EQ(TextExtentRaw("ABC", 3, 0, &e, shadowOnly), 0);
    EXPECT_EQ(e.minXExtension, 0);
    EXPECT_EQ(e.maxXExtension, 4);
    EXPECT_EQ(e.maxYExtension, 4);
}

TEST_F(TextStateTest, ClampFontStyleBoundsSizesAndDirection) {
    struct Case {
        int32_t shadowSize, edgeSize, direction;
        int32_t shadowSizeOut, edgeSizeOut, directionOut;
    };
    const Case cases[] = {{0, 65, 8, 1, 64, 3},
                          {64, 1, 7, 64, 1, 7},
                          {-9, 30, -1, 1, 30, 3},
                          {1000, -1000, 0, 64, 1, 0}};
    for (const Case& c : cases) {
        qvTextStyle style{};
        style.shadowSize = c.shadowSize;
        style.edgeSize = c.edgeSize;
        style.shadowDirection = c.direction;
        ClampFontStyle(&style);
        EXPECT_EQ(style.shadowSize, c.shadowSizeOut);
        EXPECT_EQ(style.edgeSize, c.edgeSizeOut);
        EXPECT_EQ(style.shadowDirection, c.directionOut);
    }
}

}  // namespace
}  // namespace qv::testing
