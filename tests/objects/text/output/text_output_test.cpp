// TextOut, Print and NPrint on a headless display: the direct path against the general path,
// the window damage, the text cursor, tabs and wrapping, the "tostring" join, text as layers
// (geometry, effects moved to the layer style, outline text rendered again when scaled), the
// scaled displays, and memory running out.
#include "tests/objects/text/output/output_fixture.h"

namespace qv::testing {
namespace {

using TextOutput = TextOutputFixture;

// A fresh black picture in the window (the drawing so far gone).
void ClearWindow(LibFixture& f) {
    ASSERT_EQ(f.Call("CreateBGPic", {Num(9), Num(320), Num(200), Num(0)}).code, 0);
    ASSERT_EQ(f.Call("DisplayBGPic", {Num(9)}).code, 0);
}

// Plain text drawn straight by the font equals the laid-out picture of the same text, which a
// harmless tag forces; the window's damage is the drawn union.
TEST_F(TextOutput, TheDirectPathDrawsWhatTheGeneralPathDraws) {
    struct Case {
        const char* what;
        int32_t veraSize;  // 0: the built-in bitmap font
        bool antiAlias;
        const char* text;
    };
    const Case cases[] = {
        {"topaz", 0, false, "Hello, world! 0123"},
        {"topaz two lines", 0, false, "line one\nline two"},
        {"vera", 16, false, "Vera Sans gjpq"},
        // Anti-aliased glyphs whose boxes do not overlap (where they do, the laid-out line
        // keeps the later glyph's coverage while the font blends each glyph).
        {"vera anti-aliased", 16, true, "H 1 I 0 H"},
        {"vera anti-aliased lines", 12, true, "H I\r\nI H"},
    };
    Start();
    for (const Case& c : cases) {
        if (c.veraSize == 0) {
            UseTopaz();
        } else {
            UseVera(c.veraSize);
        }
        if (c.antiAlias) {
            ASSERT_EQ(Call("SetFontStyle", {Num(16)}).code, 0);
        }
        ASSERT_EQ(Call("SetFontColor", {Num(0xFFD040)}).code, 0);
        ClearWindow(*this);
        TakeWindowDamage();
        ASSERT_EQ(Call("TextOut", {Num(7), Num(30), Str(c.text)}).code, 0);
        const std::vector<int32_t> damage = TakeWindowDamage();
        const std::vector<uint32_t> direct = Window();
        ClearWindow(*this);
        ASSERT_EQ(Call("TextOut", {Num(7), Num(30), Str(std::string(c.text) + "[b][/b]")}).code, 0);
        EXPECT_EQ(Window(), direct) << c.what;
        // Damage: the union of the drawn lines, inside the block of the general path.
        ASSERT_EQ(damage.size(), 4u) << c.what;
        EXPECT_GE(damage[0], 0) << c.what;
        EXPECT_LE(damage[0], 7) << c.what;
        EXPECT_EQ(damage[1], 30) << c.what;
        int32_t inkLeft = 320, inkRight = -1;
        for (int32_t y = 0; y < 200; ++y) {
            for (int32_t x = 0; x < 320; ++x) {
                if (direct[size_t(y) * 320 + x] == 0) continue;
                inkLeft = std::min(inkLeft, x), inkRight = std::max(inkRight, x);
                EXPECT_TRUE(y >= damage[1] && y < damage[1] + damage[3]) << c.what;
            }
        }
        EXPECT_LE(damage[0], inkLeft) << c.what;
        EXPECT_GE(damage[0] + damage[2], inkRight + 1) << c.what;
        ASSERT_EQ(Call("SetFontStyle", {Num(1)}).code, 0);
    }
}

// The arguments as "tostring" gives them (the string library's nil is "Nil").
TEST_F(TextOutput, PrintJoinsItsArgumentsAndMovesTheCursor) {
    Start();
    UseTopaz();
    ASSERT_EQ(Call("Print", {Num(1), Nil(), Str("a")}).code, 0);
    const std::vector<uint32_t> printed = Window();
    const int32_t width = int32_t(Call("TextWidth", {Str("1 Nil a")}).Number());
    EXPECT_EQ(Current()->text.x, width);
    EXPECT_EQ(Current()->text.y, 0);
    ClearWindow(*this);
    ASSERT_EQ(Call("TextOut", {Num(0), Num(0), Str("1 Nil a")}).code, 0);
    EXPECT_EQ(Window(), printed);

    const int32_t lineHeight = int32_t(Call("TextHeight", {Str("")}).Number());
    ASSERT_EQ(Call("SetMargins", {Num(12), Num(300)}).code, 0);
    ASSERT_EQ(Call("Locate", {Num(50), Num(20)}).code, 0);
    ASSERT_EQ(Call("NPrint", {Str("")}).code, 0);
    EXPECT_EQ(Current()->text.x, 12);
    EXPECT_EQ(Current()->text.y, 20 + lineHeight);
    // A line feed inside the text starts the next line at the left margin.
    ASSERT_EQ(Call("Print", {Str("ab\ncd")}).code, 0);
    EXPECT_EQ(Current()->text.x, 12 + 2 * 8);
    EXPECT_EQ(Current()->text.y, 20 + 2 * lineHeight);
}

TEST_F(TextOutput, PrintHonoursTabStopsAndWrapsAtTheRightMargin) {
    Start();
    UseTopaz();
    ASSERT_EQ(Call("AddTab", {Num(64), Num(120)}).code, 0);
    ASSERT_EQ(Call("Print", {Str("a\tb\tc")}).code, 0);
    EXPECT_EQ(Current()->text.x, 128) << "c at the second stop";
    EXPECT_EQ(Current()->text.y, 0);
    ASSERT_EQ(Call("ResetTabs").code, 0);
    ClearWindow(*this);
    ASSERT_EQ(Call("SetMargins", {Num(0), Num(79)}).code, 0);
    // Ten characters fit 80 pixels: the words go on to new lines.
    ASSERT_EQ(Call("Print", {Str("aaaa bbbb cccc dddd")}).code, 0);
    EXPECT_GT(Current()->text.y, 0);
    EXPECT_LE(Current()->text.x, 80);
    const std::vector<uint32_t> shown = Window();
    int beyond = 0;
    for (int32_t y = 0; y < 200; ++y) {
        for (int32_t x = 80; x < 320; ++x) beyond += shown[size_t(y) * 320 + x] != 0;
    }
    EXPECT_EQ(beyond, 0) << "nothing right of the margin";
}

// A "__tostring" result longer than any size guessed beforehand is printed whole.
int HundredBytes(qvVmState* L) {
    VmPushString(L, std::string(100, 'x').c_str());
    return 1;
}
int PrintBig(qvVmState* L) {
    VmPushString(L, "print");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushString(L, "<");
    VmNewTable(L);
    VmNewTable(L);
    VmPushString(L, "__tostring");
    VmPushCClosure(L, HundredBytes, 0);
    VmSetTable(L, -3);
    VmSetMetatable(L, -2);
    VmCall(L, 2, 0);
    return 0;
}

TEST_F(TextOutput, PrintTakesLongScriptTextsWhole) {
    Start();
    UseTopaz();
    VmPushString(L, "printbig");
    VmPushCClosure(L, PrintBig, 0);
    VmSetTable(L, VM_GLOBALSINDEX);
    ASSERT_EQ(Call("printbig").code, 0);
    const std::vector<uint32_t> printed = Window();
    const qvTextCursor after = Current()->text;
    ClearWindow(*this);
    ASSERT_EQ(Call("Locate", {Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("Print", {Str("< " + std::string(100, 'x'))}).code, 0);
    EXPECT_EQ(Window(), printed);
    EXPECT_EQ(Current()->text.x, after.x);
    EXPECT_EQ(Current()->text.y, after.y);
    EXPECT_GT(after.y, 0) << "wrapped at the right margin";
}

// With layers on, a single-line Print starts its picture at the cursor, a longer one at the
// left margin with its first line indented.
TEST_F(TextOutput, APrintLayerStartsAtTheCursorOrTheMargin) {
    Start();
    UseTopaz();
    Current()->layersEnabled = 1;
    ASSERT_EQ(Call("Locate", {Num(100), Num(10)}).code, 0);
    ASSERT_EQ(Call("Print", {Str("one")}).code, 0);
    ASSERT_EQ(LayerCount(), 1);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypePrint));
    EXPECT_EQ(Layer(1)->sourceItem->drawX, 100);
    EXPECT_EQ(Layer(1)->sourceItem->drawY, 10);
    EXPECT_EQ(Layer(1)->sourceItem->drawWidth, 24);

    ASSERT_EQ(Call("Locate", {Num(100), Num(30)}).code, 0);
    ASSERT_EQ(Call("Print", {Str("ab\ncd")}).code, 0);
    ASSERT_EQ(LayerCount(), 2);
    const qvLayerItem* item = Layer(2)->sourceItem;
    EXPECT_EQ(item->drawX, 0);
    EXPECT_EQ(item->drawY, 30);
    EXPECT_EQ(item->drawWidth, 116) << "the first line indented by 100";
    // The window shows both lines where the cursor put them.
    const std::vector<uint32_t> shown = Window();
    auto inked = [&](int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
        for (int32_t y = y0; y < y1; ++y) {
            for (int32_t x = x0; x < x1; ++x) {
                if (shown[size_t(y) * 320 + x] != 0) return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(inked(100, 116, 30, 38));
    EXPECT_TRUE(inked(0, 16, 38, 46));
    EXPECT_FALSE(inked(0, 100, 30, 38));
}

TEST_F(TextOutput, TextLayersTakeTheBlockAndMoveEffectsToTheLayerStyle) {
    Start();
    UseTopaz();
    Current()->layersEnabled = 1;
    ASSERT_EQ(Call("SetFontColor", {Num(0x80FF0000)}).code, 0);
    ASSERT_EQ(Call("TextOut", {Num(20), Num(40), Str("layer")}).code, 0);
    ASSERT_EQ(LayerCount(), 1);
    const qvLayer* plain = Layer(1);
    EXPECT_EQ(plain->type, uint32_t(gfx::kTypeTextOut));
    EXPECT_EQ(plain->transparency, 128u);
    const auto* record = static_cast<const qvTextRender*>(plain->sourceItem);
    EXPECT_EQ(record->style.colour, 0xFF0000u) << "the colour opaque";
    EXPECT_EQ(plain->sourceItem->drawX, 20);
    EXPECT_EQ(plain->sourceItem->drawY, 40);
    EXPECT_EQ(plain->sourceItem->drawWidth, 40);
    EXPECT_EQ(plain->sourceItem->drawHeight, 9);
    EXPECT_EQ(record->width, 40);
    EXPECT_STREQ(record->text, "layer");

    ASSERT_EQ(Call("SetFontColor", {Num(0xFFFFFF)}).code, 0);
    ASSERT_EQ(Call("SetFontStyle", {Num(64), Num(0x00FF00), Num(3)}).code, 0);
    ASSERT_EQ(Call("SetFontStyle", {Num(32), Num(0x0000FF), Num(5), Num(2)}).code, 0);
    ASSERT_EQ(Call("Print", {Str("styled")}).code, 0);
    ASSERT_EQ(LayerCount(), 2);
    const qvLayer* styled = Layer(2);
    EXPECT_EQ(styled->type, uint32_t(gfx::kTypePrint));
    EXPECT_EQ(styled->border.on, 1);
    EXPECT_EQ(styled->border.colour, 0x00FF00u);
    EXPECT_EQ(styled->border.size, 3);
    EXPECT_EQ(styled->shadow.on, 1);
    EXPECT_EQ(styled->shadow.colour, 0x0000FFu);
    EXPECT_EQ(styled->shadow.size, 5);
    EXPECT_EQ(styled->shadow.direction, 2);
    EXPECT_EQ(styled->transparency, 0u);
    const uint32_t flags = static_cast<const qvTextRender*>(styled->sourceItem)->style.styleFlags;
    EXPECT_EQ(flags & (QV_STYLE_EDGE | QV_STYLE_SHADOW), 0u);
}

// A layer redraw of outline text under a scale renders the text at the scaled size: the same
// pixels as the text rendered at that size in the first place. A mirrored scale mirrors them.
TEST_F(TextOutput, ScaledOutlineTextIsRenderedAgainAtTheScaledSize) {
    Start();
    UseVera(12);
    ASSERT_EQ(Call("SetFontStyle", {Num(16)}).code, 0);
    Current()->layersEnabled = 1;
    ASSERT_EQ(Call("TextOut", {Num(5), Num(5), Str("Sharp")}).code, 0);
    auto* record = static_cast<qvTextRender*>(Layer(1)->sourceItem);
    qvDrawTransform twice = kInitialDrawTransform;
    twice.matrix[0] = twice.matrix[3] = 2;
    qvRenderedText scaled{}, flipped{};
    struct Free {
        qvRenderedText* a;
        qvRenderedText* b;
        ~Free() { FreeRenderedText(a), FreeRenderedText(b); }
    } release{&scaled, &flipped};
    ASSERT_EQ(RenderText(L, nullptr, record, gfx::kTypeTextOut, false, &twice, nullptr,
                         QV_RENDERTEXT_ONLY | QV_RENDERTEXT_KEEPGEOMETRY, &scaled),
              0);
    qvDrawTransform mirrored = twice;
    mirrored.matrix[0] = -2;
    ASSERT_EQ(RenderText(L, nullptr, record, gfx::kTypeTextOut, false, &mirrored, nullptr,
                         QV_RENDERTEXT_ONLY | QV_RENDERTEXT_KEEPGEOMETRY, &flipped),
              0);
    // The reference: the font at twice its size for a plain rendering.
    SetFontSize(GetDefaultFont(), 2, 2);
    const int code = Call("CreateTextObject", {Num(1), Str("Sharp")}).code;
    SetFontSize(GetDefaultFont(), 1, 1);
    ASSERT_EQ(code, 0);
    qvTextObject* big = nullptr;
    ASSERT_EQ(FindTextObject(L, {1, nullptr}, &big, 0), 0);
    ASSERT_EQ(scaled.width, big->width);
    ASSERT_EQ(scaled.height, big->height);
    EXPECT_EQ(Pixels(scaled.bitmap), Pixels(big->bitmap));
    EXPECT_EQ(AlphaBytes(scaled.alpha, scaled.width, scaled.height),
              AlphaBytes(big->alpha, big->width, big->height));
    ASSERT_GT(flipped.width, 0);
    EXPECT_EQ(flipped.width, scaled.width) << "no negative sizes";
    EXPECT_EQ(flipped.height, scaled.height);
    for (int32_t y = 0; y < scaled.height; ++y) {
        for (int32_t x = 0; x < scaled.width; ++x) {
            EXPECT_EQ(AlphaAt(flipped.alpha, scaled.width - 1 - x, y), AlphaAt(scaled.alpha, x, y));
        }
    }
}

TEST_F(TextOutput, TextOutRefusesBadLayoutsAndFontsWithoutAntiAliasing) {
    Start();
    SetExitOnError(false);
    UseTopaz();
    struct Case {
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {{Num(0), Num(0), Str("x"), Num(-90000), Num(-1)}, ERR_WRONGUSAGE},
        {{Num(0), Num(0), Str("x"), Table({{Str("wordwrap"), Num(-5)}})}, ERR_WRONGUSAGE},
        {{Num(0), Num(0), Str("x"), Table({{Str("encoding"), Num(2)}})}, ERR_WRONGUSAGE},
        {{Num(0), Num(0), Str("a ] b")}, ERR_TEXTSYNTAX},
        {{Num(0), Num(0), Str("x"), Table({{Str("align"), Num(-80000)}})}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Call("TextOut", c.args).code, c.code);
    ASSERT_EQ(Call("SetFontStyle", {Num(16)}).code, 0);
    const std::vector<uint32_t> before = Window();
    EXPECT_EQ(Call("TextOut", {Num(0), Num(0), Str("x")}).code, ERR_ANTIALIAS);
    EXPECT_EQ(Call("Print", {Str("x")}).code, ERR_ANTIALIAS);
    EXPECT_EQ(Window(), before);
}

// Autoscale draws straight and shows the picture scaled; layer scaling shows only what the
// compositor paints.
TEST_F(TextOutput, ScaledDisplaysShowTheText) {
    Start(160, 100,
          {{Str("scalemode"), Num(1)},
           {Str("scalewidth"), Num(320)},
           {Str("scaleheight"), Num(200)}});
    UseTopaz();
    ASSERT_EQ(Call("TextOut", {Num(10), Num(10), Str("auto")}).code, 0);
    const qvDisplayBitMap* window = Current()->window->framebuffer;
    ASSERT_EQ(window->width, 320);
    bool inked = false;
    for (int32_t y = 20; y < 36; ++y) {
        for (int32_t x = 20; x < 84; ++x)
            inked = inked || (ReadBitMapPixel(window, x, y) & 0xFFFFFF) != 0;
    }
    EXPECT_TRUE(inked) << "the text scaled into the window";
}

// (The layer caches that place a layer's display item at the scaled size are not built yet;
// the text is composed where its picture item lies.)
TEST_F(TextOutput, LayerScaledDisplaysComposeTheText) {
    Start(160, 100,
          {{Str("scalemode"), Num(2)},
           {Str("scalewidth"), Num(320)},
           {Str("scaleheight"), Num(200)}});
    UseTopaz();
    ASSERT_EQ(Call("TextOut", {Num(10), Num(10), Str("layer")}).code, 0);
    ASSERT_EQ(LayerCount(), 1);
    const qvDisplayBitMap* window = Current()->window->framebuffer;
    bool inked = false;
    for (int32_t y = 0; y < 200; ++y) {
        for (int32_t x = 0; x < 320; ++x) {
            inked = inked || (ReadBitMapPixel(window, x, y) & 0xFFFFFF) != 0;
        }
    }
    EXPECT_TRUE(inked) << "composed and shown by the refresh";
}

// Memory running out at each allocation of a laid-out TextOut, a layer and a text object:
// ERR_MEM and nothing left behind (LeakSanitizer checks the blocks).
TEST_F(TextOutput, MemoryRunningOutLeavesNothing) {
    Start();
    UseVera(14);
    SetExitOnError(false);
    struct Case {
        const char* what;
        bool layers;
        const char* command;
        std::vector<Arg> args;
    };
    const Case cases[] = {
        {"TextOut", false, "TextOut", {Num(3), Num(4), Str("[b]tagged[/b]\nsecond line")}},
        {"TextOut layer", true, "TextOut", {Num(3), Num(4), Str("a layer")}},
        {"Print layer", true, "Print", {Str("a\tb")}},
        {"CreateTextObject", false, "CreateTextObject", {Nil(), Str("[i]obj[/i]")}},
    };
    for (const Case& c : cases) {
        Current()->layersEnabled = c.layers ? 1 : 0;
        int failures = 0;
        for (uint64_t n = 1; n < 5000; ++n) {
            const int32_t layers = LayerCount();
            CallResult result;
            {
                AllocationFault fault(n, false);
                result = Call(c.command, c.args);
            }
            if (result.code == 0) break;
            ++failures;
            EXPECT_EQ(result.code, ERR_MEM) << c.what << " " << n;
            EXPECT_EQ(LayerCount(), layers) << c.what << " " << n;
        }
        EXPECT_GT(failures, 0) << c.what;
    }
}

}  // namespace
}  // namespace qv::testing
