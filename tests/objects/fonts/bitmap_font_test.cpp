// Bitmap fonts: the built-in font, disk fonts made by qvmkfont (fixed, proportional, colour),
// their refusal of malformed files, and the plane modes cut to the plane.
#include <gtest/gtest.h>

#include <cstring>

#include "objects/fonts/bitmap_font.h"
#include "runtime/runtime_state.h"
#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {
namespace {

const char kFixed[] =
    "name fixed\nheight 5\nbaseline 3\nwidth 4\n"
    "glyph 'A'\n.##.\n#..#\n####\n#..#\n#..#\n"
    "glyph 'B'\n###.\n#..#\n###.\n#..#\n###.\n"
    "default\n####\n#..#\n#..#\n#..#\n####\n";

const char kProportional[] =
    "name prop\nheight 3\nbaseline 2\nproportional\n"
    "glyph 'i' spacing 2\n#\n#\n#\n"
    "glyph 'w' spacing 6 kerning -1\n#...#\n#.#.#\n.#.#.\n"
    "default spacing 3\n##\n##\n##\n";

const char kColour[] =
    "name colour\nheight 2\nbaseline 1\ncolours 0x000 0xF80 0x0F0 0x00F\n"
    "glyph 'a'\n0123\n3210\ndefault\n..\n..\n";

using BitmapFontTest = FontTest;

// Draws the text with the pen -1 into a cleared mask of the given width.
std::vector<std::string> DrawIntoMask(qvFont* font, const std::string& text, int32_t width) {
    OwnedPlane mask(AllocMaskBitMap(nullptr, width, font->height, 1));
    RenderFontText(font, {nullptr, mask.get()}, 0, 0, text.data(), int32_t(text.size()), 0, 0,
                   Everywhere(), kFontPenPlane);
    return MaskRows(mask.get());
}

TEST_F(BitmapFontTest, TopazIsTheDefaultFont) {
    qvFont* topaz = DefaultFont();
    EXPECT_STREQ(topaz->name, "topaz");
    EXPECT_EQ(topaz->engine, QV_FONTENGINE_BITMAP);
    EXPECT_EQ(topaz->height, 8);
    EXPECT_EQ(topaz->baseline, 6);
    const qvTextExtent abc = Extent(topaz, "ABC");
    EXPECT_EQ(abc.width, 24);
    EXPECT_EQ(abc.height, 8);
    EXPECT_EQ(abc.minX, 0);
    EXPECT_EQ(abc.maxX, 23);
    EXPECT_EQ(abc.minY, -6);
    EXPECT_EQ(abc.maxY, 1);
    // Closing the default font through the front end leaves it open.
    CloseFontObject(topaz);
    EXPECT_EQ(Extent(DefaultFont(), "A").width, 8);
}

TEST_F(BitmapFontTest, TopazGlyphOfAIsTheCommittedOne) {
    const std::vector<std::string> expected = {"...##...", "..####..", "..####..", ".##..##.",
                                               ".######.", "##....##", "##....##", "........"};
    EXPECT_EQ(DrawIntoMask(DefaultFont(), "A", 8), expected);
    // The same bits, straight from the strip.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int bit = ('A' - 32) * 8 + x;
            EXPECT_EQ((kTopazGlyphs[y * kTopazModulo + bit / 8] >> (7 - bit % 8) & 1) != 0,
                      expected[y][x] == '#');
        }
    }
}

TEST_F(BitmapFontTest, TopazCodesOutsideTheRangeDrawTheLastGlyph) {
    auto* topaz = static_cast<qvBitmapFont*>(DefaultFont()->engineData);
    EXPECT_EQ(topaz->glyphCount, 225);
    EXPECT_EQ(topaz->locations[224] >> 16, 768u);
    EXPECT_EQ(topaz->locations[224] & 0xFFFF, 8u);
    // Code 10 is below the range; it draws what 0xA0 (bit 768) draws, and moves the pen 8.
    EXPECT_EQ(DrawIntoMask(DefaultFont(), "\nA", 16), DrawIntoMask(DefaultFont(),
                                                                   "\xA0"
                                                                   "A",
                                                                   16));
    EXPECT_EQ(Extent(DefaultFont(), "\n").width, 8);
    EXPECT_EQ(DrawIntoMask(DefaultFont(), "\x7F", 8), DrawIntoMask(DefaultFont(), " ", 8));
}

TEST_F(BitmapFontTest, FixedFontDrawsIntoAMaskAndInAColour) {
    const std::string path = MakeFont(kFixed);
    FontPtr font = LoadBitmap(path, 5);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->name, path);  // named by the name asked for
    EXPECT_EQ(font->engine, QV_FONTENGINE_BITMAP);
    EXPECT_EQ(font->height, 5);
    EXPECT_EQ(font->baseline, 3);
    EXPECT_EQ(font->size, 5);
    const std::vector<std::string> expected = {".##.###.####", "#..##..##..#", "#######.#..#",
                                               "#..##..##..#", "#..####.####"};
    EXPECT_EQ(DrawIntoMask(font.get(), "AB?", 12), expected);
    const qvTextExtent extent = Extent(font.get(), "AB?");
    EXPECT_EQ(extent.width, 12);
    EXPECT_EQ(extent.maxX, 11);
    EXPECT_EQ(extent.minY, -3);
    EXPECT_EQ(extent.maxY, 1);

    // In a colour, cut to the clip rectangle (the first column and the last row are outside).
    OwnedBitMap bitmap = BlackBitMap(12, 5);
    RenderFontText(font.get(), {bitmap.get(), nullptr}, 0, 0, "AB?", 3, 0, 0, {1, 0, 11, 4},
                   0x3366CC);
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 12; ++x) {
            const bool inked = expected[y][x] == '#' && x >= 1 && y < 4;
            EXPECT_EQ(ReadBitMapPixel(bitmap.get(), x, y), inked ? 0x3366CCu : 0u) << x << "," << y;
        }
    }
}

TEST_F(BitmapFontTest, ProportionalFontPlacesWithSpacingAndKerning) {
    FontPtr font = LoadBitmap(MakeFont(kProportional), 3);
    ASSERT_NE(font, nullptr);
    const std::vector<std::string> expected = {"##...#.#..", "##.#.#.#..", "#.#.#..#.."};
    EXPECT_EQ(DrawIntoMask(font.get(), "iwi", 10), expected);
    const qvTextExtent extent = Extent(font.get(), "iwi");
    EXPECT_EQ(extent.width, 9);
    EXPECT_EQ(extent.minX, 0);
    EXPECT_EQ(extent.maxX, 8);
    // A kerning that moves the first glyph left of the pen widens the bounds to the left.
    const qvTextExtent w = Extent(font.get(), "w");
    EXPECT_EQ(w.minX, -1);
    EXPECT_EQ(w.width, 5);
    EXPECT_EQ(w.maxX, 4);
}

TEST_F(BitmapFontTest, ColourFontKeepsItsPixelsUntilADisplayIsOpen) {
    Runtime().displayOpen = 0;
    FontPtr font = LoadBitmap(MakeFont(kColour), 2);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->engine, QV_FONTENGINE_COLOUR);
    ASSERT_NE(font->pendingPixels, nullptr);
    EXPECT_EQ(font->colourGlyphs, nullptr);
    EXPECT_EQ(font->pendingWidth, 16);  // modulo x 8
    EXPECT_EQ(font->pendingPixels[1] & 0xFFFFFF, 0xFF8800u);
    EXPECT_EQ(font->pendingPixels[0] & 0xFFFFFF, kColourFontKey);
    // Nothing to draw with yet.
    OwnedBitMap bitmap = BlackBitMap(4, 2);
    RenderFontText(font.get(), {bitmap.get(), nullptr}, 0, 0, "a", 1, 0, 0, Everywhere(), 0xFFFFFF);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 1, 0), 0u);
    ASSERT_EQ(ConvertColourFontPixels(font.get()), 0);
    EXPECT_EQ(font->pendingPixels, nullptr);
    EXPECT_NE(font->colourGlyphs, nullptr);
}

struct ColourCase {
    const char* broken;
    uint32_t lastOfRow0;  // index 3: blue, or transparent when the table is short
};

class ColourFontTest : public BitmapFontTest, public ::testing::WithParamInterface<ColourCase> {};

TEST_P(ColourFontTest, DrawsItsOwnColoursWithColourZeroTransparent) {
    Runtime().displayOpen = 1;
    FontPtr font = LoadBitmap(MakeFont(kColour, GetParam().broken), 2);
    Runtime().displayOpen = 0;
    ASSERT_NE(font, nullptr);
    ASSERT_NE(font->colourGlyphs, nullptr);  // converted at once
    EXPECT_EQ(font->pendingPixels, nullptr);
    const uint32_t last = GetParam().lastOfRow0;
    const uint32_t row0[4] = {0x112233, 0xFF8800, 0x00FF00, last};
    const uint32_t row1[4] = {last, 0x00FF00, 0xFF8800, 0x112233};

    // In a colour: the pen does not matter, colour 0 leaves the destination.
    OwnedBitMap bitmap = BlackBitMap(4, 2);
    RectFill(bitmap.get(), 0, 0, 4, 2, 0x112233);
    RenderFontText(font.get(), {bitmap.get(), nullptr}, 0, 0, "a", 1, 0, 0, Everywhere(), 0xFFFFFF);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(ReadBitMapPixel(bitmap.get(), x, 0), row0[x]) << x;
        EXPECT_EQ(ReadBitMapPixel(bitmap.get(), x, 1), row1[x]) << x;
    }
    // Pen -1: the colours go into the bitmap and the glyph's mask into the mask.
    OwnedBitMap pixels = BlackBitMap(4, 2);
    RectFill(pixels.get(), 0, 0, 4, 2, 0x112233);
    OwnedPlane mask(AllocMaskBitMap(nullptr, 4, 2, 1));
    RenderFontText(font.get(), {pixels.get(), mask.get()}, 0, 0, "a", 1, 0, 0, Everywhere(),
                   kFontPenPlane);
    const bool opaque = last != 0x112233;
    EXPECT_EQ(MaskRows(mask.get()),
              (std::vector<std::string>{opaque ? ".###" : ".##.", opaque ? "###." : ".##."}));
    for (int x = 0; x < 4; ++x) EXPECT_EQ(ReadBitMapPixel(pixels.get(), x, 0), row0[x]) << x;
}

INSTANTIATE_TEST_SUITE_P(Tables, ColourFontTest,
                         ::testing::Values(ColourCase{"", 0x0000FF},
                                           ColourCase{"colour-index", 0x112233}));

TEST_F(BitmapFontTest, SizeChangesAndStylesDoNothing) {
    FontPtr font = LoadBitmap(MakeFont(kFixed), 5);
    ASSERT_NE(font, nullptr);
    SetFontSize(font.get(), 2.0, 3.0);
    EXPECT_EQ(font->scaleX, 1.0);
    EXPECT_EQ(font->height, 5);
    EXPECT_EQ(font->baseline, 3);
    EXPECT_EQ(GetKerningPairByFont(font.get(), "AB", 2, 0), 0);
    EXPECT_EQ(FontStyleSupported(font.get(), QV_FONTSTYLE_BOLD), 0);
    EXPECT_EQ(Extent(font.get(), "A", QV_FONTSTYLE_BOLD).width, 4);
}

TEST_F(BitmapFontTest, MalformedFontsAreRefused) {
    for (const char* broken :
         {"contents-id", "contents-empty", "contents-short", "incomplete", "size-id", "size-short",
          "lowest-above-highest", "location-outside", "table-outside"}) {
        const size_t live = GetMemoryStats().liveBlocks;
        for (const char* description : {kFixed, kProportional, kColour}) {
            const std::string path = MakeFont(description, broken);
            qvFont* font = NewFontRecord();
            const int size = description == kFixed ? 5 : description == kProportional ? 3 : 2;
            EXPECT_EQ(LoadBitmapFont(path.c_str(), size, font, nullptr), 0) << broken;
            EXPECT_EQ(font->engineData, nullptr);
            FreeFontRecord(font);
        }
        EXPECT_EQ(GetMemoryStats().liveBlocks, live) << broken;
    }
}

TEST_F(BitmapFontTest, MissingFilesAndSizesAreRefused) {
    const std::string path = MakeFont(kFixed);
    EXPECT_EQ(LoadBitmap(path, 6), nullptr);  // no entry of that size
    EXPECT_EQ(LoadBitmap(scratch_ / "absent.font", 5), nullptr);
    // ".font" is added to a name without it.
    EXPECT_NE(LoadBitmap(path.substr(0, path.size() - 5), 5), nullptr);
}

TEST_F(BitmapFontTest, LinkedFontIsReadFromItsContainer) {
    const std::string path = MakeFont(kFixed);
    const Bytes contents = ReadBytes(path);
    const Bytes sizeFile = ReadBytes(path.substr(0, path.size() - 5) + "/5");
    // A container with some bytes before each file; the entry names the size file by its
    // place in the container, as the applet compiler writes it.
    Bytes container(100, 0xAB);
    const size_t sizeAt = container.size();
    container.insert(container.end(), sizeFile.begin(), sizeFile.end());
    container.insert(container.end(), 7, 0xCD);
    const size_t contentsAt = container.size();
    Bytes linked = contents;
    const std::string entry =
        ":::chunk" + std::to_string(sizeAt) + ":" + std::to_string(sizeFile.size()) + "*5/";
    std::memset(linked.data() + 4, 0, 256);
    std::memcpy(linked.data() + 4, entry.data(), entry.size());
    container.insert(container.end(), linked.begin(), linked.end());
    const std::string containerPath = scratch_.Write("applet.qva", container);
    const std::string name = ":::chunk" + std::to_string(contentsAt) + ":" +
                             std::to_string(linked.size()) + "*fixed.font/" + containerPath;
    Runtime().linkOffset = 0;
    FontPtr font = LoadBitmap(name, 5);
    ASSERT_NE(font, nullptr);
    EXPECT_STREQ(font->name, "fixed.font");
    EXPECT_EQ(DrawIntoMask(font.get(), "A", 4)[0], ".##.");
}

TEST_F(BitmapFontTest, PlaneModeIsCutToThePlane) {
    // A mask one pixel narrower than "ABC" whose rows hold exactly 24 bits: the bit of column
    // 23 stays clear, the others are those of a wide enough mask.
    const std::vector<std::string> wide = DrawIntoMask(DefaultFont(), "ABC", 24);
    std::vector<uint8_t> buffer(3 * 8, 0);
    qvPlaneBitMap narrow{23, 8, 3, 1, kPlaneWrapped, buffer.data()};
    RenderFontText(DefaultFont(), {nullptr, &narrow}, 0, 0, "ABC", 3, 0, 0, Everywhere(),
                   kFontPenPlane);
    qvPlaneBitMap whole = narrow;
    whole.width = 24;
    const std::vector<std::string> drawn = MaskRows(&whole);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(drawn[y].substr(0, 23), wide[y].substr(0, 23));
        EXPECT_EQ(drawn[y][23], '.');
    }
    // Text that starts left of or below the plane draws only what lies inside.
    std::vector<uint8_t> small(2 * 4, 0);
    qvPlaneBitMap corner{16, 4, 2, 1, kPlaneWrapped, small.data()};
    RenderFontText(DefaultFont(), {nullptr, &corner}, -4, 2, "AB", 2, 0, 0, Everywhere(),
                   kFontPenPlane);
    EXPECT_EQ(MaskRows(&corner)[2].substr(0, 4), wide[0].substr(4, 4));
}

TEST_F(BitmapFontTest, AllocationFailureAtEverySiteLeavesNothing) {
    const std::string fixed = MakeFont(kFixed);
    const std::string colour = MakeFont(kColour);
    for (const auto& [path, size] : {std::pair{fixed, 5}, std::pair{colour, 2}}) {
        qvFont* font = nullptr;
        SweepAllocationFailures(
            [&] {
                font = NewFontRecord();
                if (font == nullptr) return false;
                if (LoadBitmapFont(path.c_str(), size, font, nullptr) != 0) return true;
                FreeFontRecord(font);
                return false;
            },
            [&] { CloseFontObject(font); });
    }
}

}  // namespace
}  // namespace qv::testing
