// The TrueType engine: opening (built-in faces, files, linked files), metrics against the
// font's own tables, kerning, scaling, the glyph cache's rules, plane drawing and
// allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "gfx/blit_frontends.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/freetype_library.h"
#include "objects/fonts/truetype.h"
#include "platform/linux/byte_order.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {
namespace {

using TrueTypeTest = FontTest;

const char kSans[] = "Bitstream Vera Sans";

// The offset of a table of an sfnt file, or 0.
size_t TableOffset(std::span<const unsigned char> font, const char* tag) {
    const int tables = int(LoadBigEndian(font.data() + 4, 2));
    for (int i = 0; i < tables; ++i) {
        const unsigned char* record = font.data() + 12 + 16 * i;
        if (std::memcmp(record, tag, 4) == 0) return LoadBigEndian32(record + 8);
    }
    return 0;
}

// The advance width of a glyph from hhea and hmtx, in font units.
int HmtxAdvance(std::span<const unsigned char> font, FT_UInt glyph) {
    const size_t hhea = TableOffset(font, "hhea"), hmtx = TableOffset(font, "hmtx");
    const FT_UInt metrics = FT_UInt(LoadBigEndian(font.data() + hhea + 34, 2));
    const FT_UInt entry = std::min(glyph, metrics - 1);
    return int(LoadBigEndian(font.data() + hmtx + 4 * entry, 2));
}

int UnitsPerEm(std::span<const unsigned char> font) {
    return int(LoadBigEndian(font.data() + TableOffset(font, "head") + 18, 2));
}

TEST_F(TrueTypeTest, BuiltInFacesOpenWithTheirDisplayNames) {
    struct {
        std::string asked;
        int32_t size;
        const char* name;
    } cases[] = {{kSans, 16, "Bitstream Vera Sans"},
                 {"bitstream vera serif", 20, "Bitstream Vera Serif"},
                 {"Bitstream Vera Sans Mono", 12, "Bitstream Vera Sans Mono"},
                 {kVeraDir + "VeraBd.ttf", 16, "Bitstream Vera Sans Bold"},
                 {kVeraDir + "VeraMoBI.ttf", 16, "Bitstream Vera Sans Mono Bold Oblique"}};
    for (const auto& c : cases) {
        FontPtr font = OpenTrueType(c.asked, c.size);
        ASSERT_NE(font, nullptr) << c.asked;
        EXPECT_STREQ(font->name, c.name);
        EXPECT_EQ(font->engine, QV_FONTENGINE_TRUETYPE);
        EXPECT_EQ(font->scalable, 1u);
        EXPECT_EQ(font->antiAlias, 1u);
        EXPECT_EQ(font->height, c.size);
        EXPECT_EQ(font->nominalHeight, c.size);
        EXPECT_EQ(font->baseline, font->nominalBaseline);
        EXPECT_GT(font->baseline, c.size / 2);
        EXPECT_LT(font->baseline, c.size);
        EXPECT_NE(GetFontFace(font.get()), nullptr);
        // The pixel size is calibrated so that the printable glyphs span the size.
        EXPECT_GE(TrueTypeRecord(font)->pixelSize, c.size * 2 / 3);
        EXPECT_LT(TrueTypeRecord(font)->pixelSize, c.size);
    }
    EXPECT_EQ(GetFontFace(DefaultFont()), nullptr);
}

TEST_F(TrueTypeTest, NamesThatDoNotOpenAndSizesBelowOneFail) {
    const size_t live = GetMemoryStats().liveBlocks;
    EXPECT_EQ(OpenTrueType(kSans, 0), nullptr);
    EXPECT_EQ(OpenTrueType(kSans, -5), nullptr);
    EXPECT_EQ(OpenTrueType("No Such Face", 16), nullptr);
    EXPECT_EQ(OpenTrueType(scratch_ / "missing.ttf", 16), nullptr);
    EXPECT_EQ(OpenTrueType(scratch_.Write("junk.ttf", ToBytes("not a font at all")), 16), nullptr);
    // Looking "No Such Face" up scanned the installed fonts; the list is kept for the next
    // lookup.
    FreeTrueTypeFontList();
    EXPECT_EQ(GetMemoryStats().liveBlocks, live);
    // The smallest size still sets a pixel size of at least 1.
    FontPtr tiny = OpenTrueType(kSans, 1);
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(TrueTypeRecord(tiny)->pixelSize, 1);
}

TEST_F(TrueTypeTest, FilesAndLinkedFilesMeasureLikeTheBuiltInFace) {
    const std::span<const unsigned char> sans = BuiltInFontSans();
    Bytes container(333, 0x5A);
    container.insert(container.end(), sans.begin(), sans.end());
    const std::string containerPath = scratch_.Write("applet.qva", container);
    const std::string linked =
        ":::chunk333:" + std::to_string(sans.size()) + "*Vera.ttf/" + containerPath;
    FontPtr memory = OpenTrueType(kSans, 24);
    FontPtr file = OpenTrueType(kVeraDir + "Vera.ttf", 24);
    FontPtr chunk = OpenTrueType(linked, 24);
    ASSERT_NE(memory, nullptr);
    ASSERT_NE(file, nullptr);
    ASSERT_NE(chunk, nullptr);
    const std::string text = "The quick brown fox jumps over the lazy dog";
    const uint32_t style = QV_FONTSTYLE_ANTIALIAS;
    const qvTextExtent expected = Extent(memory.get(), text, style);
    for (const FontPtr* font : {&file, &chunk}) {
        const qvTextExtent extent = Extent(font->get(), text, style);
        EXPECT_EQ(std::memcmp(&extent, &expected, sizeof extent), 0);
        EXPECT_EQ((*font)->baseline, memory->baseline);
        EXPECT_STREQ((*font)->name, memory->name);
    }
}

TEST_F(TrueTypeTest, AdvancesFollowTheHorizontalMetrics) {
    struct Face {
        const char* name;
        std::span<const unsigned char> (*data)();
    };
    for (const Face& face :
         {Face{kSans, BuiltInFontSans}, Face{"Bitstream Vera Serif", BuiltInFontSerif},
          Face{"Bitstream Vera Sans Mono", BuiltInFontMono}}) {
        for (int32_t size : {12, 24, 48}) {
            FontPtr font = OpenTrueType(face.name, size);
            ASSERT_NE(font, nullptr);
            const int pixels = TrueTypeRecord(font)->pixelSize;
            for (char c : std::string("AVWaegimw@.,1 ")) {
                const FT_UInt glyph = FT_Get_Char_Index(GetFontFace(font.get()), FT_ULong(c));
                const double exact =
                    double(HmtxAdvance(face.data(), glyph)) * pixels / UnitsPerEm(face.data());
                for (uint32_t style : {0u, uint32_t(QV_FONTSTYLE_ANTIALIAS)}) {
                    EXPECT_NEAR(Extent(font.get(), std::string(1, c), style).width,
                                std::round(exact), 1)
                        << face.name << " " << size << " '" << c << "'";
                }
            }
        }
    }
}

// The face's hinted advance of a character in whole pixels at the face's current size.
int32_t HintedAdvance(FT_Face face, char c) {
    EXPECT_EQ(FT_Load_Char(face, FT_ULong(static_cast<unsigned char>(c)), FT_LOAD_NO_AUTOHINT), 0);
    EXPECT_EQ(face->glyph->metrics.horiAdvance % 64, 0);
    return int32_t(face->glyph->metrics.horiAdvance / 64);
}

// The pixel size set on the face is its pixels per em, so the pen steps by the face's own
// hinted advance, and before a kerned pair by that plus the pair's kerning scaled to the
// pixel size, truncated once: no step comes out short.
TEST_F(TrueTypeTest, StepsAreTheHintedAdvancesAtThePixelSize) {
    for (const char* name : {kSans, "Bitstream Vera Serif"}) {
        for (int32_t size : {12, 16, 23, 40}) {
            FontPtr font = OpenTrueType(name, size);
            ASSERT_NE(font, nullptr);
            const FT_Face face = GetFontFace(font.get());
            ASSERT_EQ(face->size->metrics.x_ppem, TrueTypeRecord(font)->pixelSize);
            for (int c = 32; c < 127; ++c) {
                const std::string text(1, char(c));
                EXPECT_EQ(Extent(font.get(), text, QV_FONTSTYLE_ANTIALIAS).width,
                          HintedAdvance(face, char(c)))
                    << name << " " << size << " '" << text << "'";
            }
            const std::string sentence = "A damp cellar somewhere in the north. AV To";
            const double pixels = TrueTypeRecord(font)->pixelSize;
            int32_t expected = 0;
            for (size_t i = 0; i < sentence.size(); ++i) {
                FT_Vector kerning{};
                if (i + 1 < sentence.size()) {
                    FT_Get_Kerning(face, FT_Get_Char_Index(face, FT_ULong(sentence[i])),
                                   FT_Get_Char_Index(face, FT_ULong(sentence[i + 1])),
                                   FT_KERNING_UNSCALED, &kerning);
                }
                expected += int32_t(std::trunc(HintedAdvance(face, sentence[i]) +
                                               kerning.x * pixels / face->units_per_EM));
            }
            EXPECT_EQ(Extent(font.get(), sentence).width, expected) << name << " " << size;
        }
    }
}

TEST_F(TrueTypeTest, PairKerningIsTheTruncatedUnscaledKerning) {
    FontPtr font = OpenTrueType(kSans, 40);
    ASSERT_NE(font, nullptr);
    const FT_Face face = GetFontFace(font.get());
    ASSERT_TRUE(FT_HAS_KERNING(face));
    const int pixels = TrueTypeRecord(font)->pixelSize;
    for (const char* pair : {"AV", "To", "AB"}) {
        FT_Vector unscaled{};
        FT_Get_Kerning(face, FT_Get_Char_Index(face, FT_ULong(pair[0])),
                       FT_Get_Char_Index(face, FT_ULong(pair[1])), FT_KERNING_UNSCALED, &unscaled);
        const int32_t expected = int32_t(unscaled.x * pixels / face->units_per_EM);
        EXPECT_EQ(GetKerningPairByFont(font.get(), pair, 2, 0), expected) << pair;
        if (std::strcmp(pair, "AB") != 0) {
            EXPECT_LT(expected, 0) << pair;
        }
    }
    EXPECT_EQ(GetKerningPairByFont(font.get(), "AVA", 3, 0), 0);
    EXPECT_EQ(GetKerningPairByFont(font.get(), "A", 1, 0), 0);
    // Two characters in UTF-8 are a pair too.
    EXPECT_EQ(GetKerningPairByFont(font.get(), "\xC3\x80V", 3, 1),
              GetKerningPairByFont(font.get(), "\xC0V", 2, 0));
    // Kerning narrows the text it applies to.
    EXPECT_LT(Extent(font.get(), "AV").width,
              Extent(font.get(), "A").width + Extent(font.get(), "V").width);
}

TEST_F(TrueTypeTest, BlankAloneHasItsAdvanceAndNoBounds) {
    FontPtr font = OpenTrueType(kSans, 20);
    ASSERT_NE(font, nullptr);
    const qvTextExtent blank = Extent(font.get(), " ", QV_FONTSTYLE_ANTIALIAS);
    EXPECT_GT(blank.width, 0);
    EXPECT_EQ(blank.height, 20);
    EXPECT_EQ(blank.minX, 0);
    EXPECT_EQ(blank.minY, 0);
    EXPECT_EQ(blank.maxX, 0);
    EXPECT_EQ(blank.maxY, 0);
    const qvTextExtent empty = Extent(font.get(), "");
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.minX, 0);
    // Ink: above the baseline negative, the box inside the width.
    const qvTextExtent ink = Extent(font.get(), "Hg", QV_FONTSTYLE_ANTIALIAS);
    EXPECT_LT(ink.minY, -10);
    EXPECT_GT(ink.maxY, 0);
    EXPECT_GE(ink.minX, 0);
    EXPECT_LE(ink.maxX, ink.width);
}

TEST_F(TrueTypeTest, HorizontalScaleAppliesOnce) {
    FontPtr font = OpenTrueType(kSans, 24);
    ASSERT_NE(font, nullptr);
    const std::string text = "Scaling the advance twice was a fault";
    const int32_t single = Extent(font.get(), text, QV_FONTSTYLE_ANTIALIAS).width;
    const int32_t top = Extent(font.get(), "H", QV_FONTSTYLE_ANTIALIAS).minY;
    SetFontSize(font.get(), 2.0, 1.0);
    EXPECT_EQ(font->scaleX, 2.0);
    EXPECT_EQ(font->height, 24);
    const int32_t twice = Extent(font.get(), text, QV_FONTSTYLE_ANTIALIAS).width;
    EXPECT_NEAR(twice, 2 * single, int32_t(text.size()));
    // The vertical scale changes height and baseline, and the glyphs grow.
    SetFontSize(font.get(), 1.0, 1.5);
    EXPECT_EQ(font->height, 36);
    EXPECT_GT(font->baseline, font->nominalBaseline);
    EXPECT_LT(Extent(font.get(), "H", QV_FONTSTYLE_ANTIALIAS).minY, top * 13 / 10);
    // Back at scale 1 everything is as it was; the same scales again change nothing.
    SetFontSize(font.get(), 1.0, 1.0);
    EXPECT_EQ(Extent(font.get(), text, QV_FONTSTYLE_ANTIALIAS).width, single);
    EXPECT_EQ(font->baseline, font->nominalBaseline);
    SetFontSize(font.get(), 1.0, 1.0);
    EXPECT_EQ(font->height, 24);
    // Scales that are no positive number are ignored.
    SetFontSize(font.get(), 0.0, 1.0);
    SetFontSize(font.get(), std::nan(""), 2.0);
    EXPECT_EQ(font->scaleX, 1.0);
}

// A scale far past any glyph FreeType renders leaves the baseline to the height's estimate,
// which must hold for heights near the int32 limit.
TEST_F(TrueTypeTest, HugeVerticalScaleKeepsTheBaselineInsideTheHeight) {
    FontPtr font = OpenTrueType(kSans, 24);
    ASSERT_NE(font, nullptr);
    for (double scale : {1e7, 1e8, 1e12}) {
        SetFontSize(font.get(), 1.0, scale);
        EXPECT_GT(font->height, 0) << scale;
        EXPECT_GT(font->baseline, 0) << scale;
        EXPECT_LE(font->baseline, font->height) << scale;
    }
    SetFontSize(font.get(), 1.0, 1.0);
    EXPECT_EQ(font->baseline, font->nominalBaseline);
}

// A glyph stretched to FreeType's raster limit is left out rather than handed to the one-bit
// rasteriser, which never finished on it.
TEST_F(TrueTypeTest, GlyphsBeyondTheRasterLimitAreLeftOut) {
    FontPtr font = OpenTrueType(kSans, 1);
    ASSERT_NE(font, nullptr);
    SetFontSize(font.get(), 1.0, 2147483648.0);
    const std::string text = "\xAC";
    for (uint32_t style : {0u, uint32_t(QV_FONTSTYLE_ANTIALIAS)}) {
        qvTextExtent extent{};
        EXPECT_EQ(FontTextExtent(font.get(), text.data(), 1, style, 0, &extent), 0) << style;
    }
}

int CachedEntries(const qvTrueTypeFont* record) {
    int entries = 0;
    for (int i = 0; i < kGlyphCacheSize; ++i) {
        entries += record->antiAliasedCache[i].glyph != nullptr;
        entries += record->monoCache[i].glyph != nullptr;
    }
    return entries;
}

// The summed coverage of a text drawn into an 8-bit plane.
int Ink(qvFont* font, const std::string& text, uint32_t style) {
    OwnedPlane plane(AllocAlphaBitMap(64, font->height, 1));
    RenderFontText(font, {nullptr, plane.get()}, 8, 0, text.data(), int32_t(text.size()), style, 0,
                   Everywhere(), kFontPenPlane);
    int sum = 0;
    for (uint8_t byte : PlaneBytes(plane.get())) sum += byte;
    return sum;
}

TEST_F(TrueTypeTest, CacheHoldsOnlyPlainCharactersBelow256) {
    FontPtr font = OpenTrueType(kSans, 16);
    ASSERT_NE(font, nullptr);
    qvTrueTypeFont* record = TrueTypeRecord(font);
    const uint32_t aa = QV_FONTSTYLE_ANTIALIAS;
    EXPECT_EQ(CachedEntries(record), 0);
    Extent(font.get(), "\xC3\xA9", aa, 1);
    EXPECT_NE(record->antiAliasedCache[0xE9].glyph, nullptr);
    EXPECT_EQ(record->monoCache[0xE9].glyph, nullptr);
    Extent(font.get(), "\xC3\xA9", 0, 1);
    EXPECT_NE(record->monoCache[0xE9].glyph, nullptr);
    EXPECT_EQ(CachedEntries(record), 2);
    Extent(font.get(), "\xE2\x82\xAC\xC5\x93", aa, 1);  // U+20AC, U+0153
    EXPECT_EQ(CachedEntries(record), 2);
    for (uint32_t style : {uint32_t(QV_FONTSTYLE_BOLD), uint32_t(QV_FONTSTYLE_ITALIC)}) {
        Extent(font.get(), "B", aa | style);
        Extent(font.get(), "B", style);
    }
    EXPECT_EQ(CachedEntries(record), 2);
    // Bold glyphs carry more ink than plain ones: they were rendered, not taken from the cache.
    EXPECT_GT(Ink(font.get(), "B", aa | QV_FONTSTYLE_BOLD), Ink(font.get(), "B", aa));
    EXPECT_NE(Ink(font.get(), "B", aa | QV_FONTSTYLE_ITALIC), Ink(font.get(), "B", aa));
    FreeFontGlyphCache(font.get());
    EXPECT_EQ(CachedEntries(record), 0);
    Extent(font.get(), "abc", aa);
    EXPECT_EQ(CachedEntries(record), 3);
    SetFontSize(font.get(), 1.5, 1.5);
    EXPECT_EQ(CachedEntries(record), 0);
    // Without the cache option nothing is kept.
    FontPtr uncached = OpenTrueType(kSans, 16, 0);
    Extent(uncached.get(), "abc", aa);
    EXPECT_EQ(CachedEntries(TrueTypeRecord(uncached)), 0);
}

// Bold and italic glyphs are kept in the font's cache of their style, else (no cache, or the
// style's cache refused its memory) for the one text they draw, so a repeated character is
// rendered once: the pixels equal those drawn the other way (with the font's cache, from the
// text's glyphs; without it, each rendered again), and the plain caches stay without them.
TEST_F(TrueTypeTest, SyntheticGlyphsKeptForOneTextDrawAsRenderedAgain) {
    const std::string text = "bookkeeper's level, Mississippi";
    const uint32_t aa = QV_FONTSTYLE_ANTIALIAS, bold = QV_FONTSTYLE_BOLD;
    for (int cache : {1, 0}) {
        FontPtr font = OpenTrueType(kSans, 16, cache);
        ASSERT_NE(font, nullptr);
        for (uint32_t style : {aa | bold, aa | QV_FONTSTYLE_ITALIC, bold | QV_FONTSTYLE_ITALIC}) {
            auto draw = [&](bool refuse) {
                FreeFontGlyphCache(font.get());
                OwnedPlane plane((style & aa) != 0 ? AllocAlphaBitMap(320, 20, 1)
                                                   : AllocMaskBitMap(nullptr, 320, 20, 1));
                {
                    // The first request is for the style's cache, else the text's glyphs.
                    AllocationFault fault(refuse ? 1 : 0, false);
                    RenderFontText(font.get(), {nullptr, plane.get()}, 1, 0, text.data(),
                                   int32_t(text.size()), style, 0, Everywhere(), kFontPenPlane);
                    if (refuse) {
                        EXPECT_GE(AllocationRequestsSinceArm(), 1u);
                    }
                }
                return std::vector<uint8_t>(plane->plane,
                                            plane->plane + plane->bytesPerRow * plane->height);
            };
            const std::vector<uint8_t> kept = draw(false);
            EXPECT_EQ(kept, draw(true)) << "cache " << cache << " style " << style;
            EXPECT_GT(std::count_if(kept.begin(), kept.end(), [](uint8_t b) { return b != 0; }),
                      50);
            EXPECT_EQ(CachedEntries(TrueTypeRecord(font)), 0);
        }
    }
}

// Every style and mode keeps its own glyphs: drawn in turn (each twice, so the second comes
// from the cache) a cached font gives the pixels of a font without a cache, also after a size
// change, which releases the styles' glyphs of the old size.
TEST_F(TrueTypeTest, StyleCachesNeverLendGlyphsToOtherStyles) {
    FontPtr cached = OpenTrueType(kSans, 16), uncached = OpenTrueType(kSans, 16, 0);
    ASSERT_NE(cached, nullptr);
    ASSERT_NE(uncached, nullptr);
    const std::string text = "Bold, italic & both";
    const uint32_t aa = QV_FONTSTYLE_ANTIALIAS, bold = QV_FONTSTYLE_BOLD,
                   italic = QV_FONTSTYLE_ITALIC;
    auto draw = [&](qvFont* font, uint32_t style) {
        OwnedPlane plane((style & aa) != 0 ? AllocAlphaBitMap(320, 40, 1)
                                           : AllocMaskBitMap(nullptr, 320, 40, 1));
        RenderFontText(font, {nullptr, plane.get()}, 1, 0, text.data(), int32_t(text.size()), style,
                       0, Everywhere(), kFontPenPlane);
        return std::vector<uint8_t>(plane->plane,
                                    plane->plane + plane->bytesPerRow * plane->height);
    };
    for (double scale : {1.0, 1.5}) {
        SetFontSize(cached.get(), scale, scale);
        SetFontSize(uncached.get(), scale, scale);
        for (int pass = 0; pass < 2; ++pass) {
            for (uint32_t mode : {aa, 0u}) {
                for (uint32_t style : {0u, bold, italic, bold | italic}) {
                    EXPECT_EQ(draw(cached.get(), mode | style), draw(uncached.get(), mode | style))
                        << "scale " << scale << " pass " << pass << " style " << (mode | style);
                }
            }
        }
    }
    // The styles' glyphs go with the cache.
    EXPECT_NE(TrueTypeRecord(cached)->syntheticCaches[2][1], nullptr);
    FreeFontGlyphCache(cached.get());
    for (auto& modes : TrueTypeRecord(cached)->syntheticCaches) {
        EXPECT_EQ(modes[0], nullptr);
        EXPECT_EQ(modes[1], nullptr);
    }
}

TEST_F(TrueTypeTest, PlaneDrawingKeepsBytesWhereTheGlyphHasNoCoverage) {
    FontPtr font = OpenTrueType(kSans, 24);
    ASSERT_NE(font, nullptr);
    const std::string text = "Wave";
    const uint32_t aa = QV_FONTSTYLE_ANTIALIAS;
    OwnedPlane coverage(AllocAlphaBitMap(80, 24, 1));
    OwnedPlane filled(AllocAlphaBitMap(80, 24, 1));
    FillPlane8Rect(filled.get(), 0, 0, 80, 24, 77);
    for (qvPlaneBitMap* plane : {coverage.get(), filled.get()}) {
        RenderFontText(font.get(), {nullptr, plane}, 2, 0, text.data(), 4, aa, 0, Everywhere(),
                       kFontPenPlane);
    }
    const std::vector<uint8_t> ink = PlaneBytes(coverage.get()), over = PlaneBytes(filled.get());
    int inked = 0;
    for (size_t i = 0; i < ink.size(); ++i) {
        EXPECT_EQ(over[i], ink[i] != 0 ? ink[i] : 77) << i;
        inked += ink[i] != 0;
    }
    EXPECT_GT(inked, 50);
}

TEST_F(TrueTypeTest, PlaneDrawingIsCutToThePlane) {
    FontPtr font = OpenTrueType(kSans, 24);
    ASSERT_NE(font, nullptr);
    const std::string text = "MW";
    for (uint32_t style : {uint32_t(QV_FONTSTYLE_ANTIALIAS), 0u}) {
        const qvTextExtent extent = Extent(font.get(), text, style);
        const int32_t width = extent.maxX + 1, height = 24;
        const bool grey = style != 0;
        OwnedPlane whole(grey ? AllocAlphaBitMap(width, height, 1)
                              : AllocMaskBitMap(nullptr, width, height, 1));
        RenderFontText(font.get(), {nullptr, whole.get()}, 0, 0, text.data(), 2, style, 0,
                       Everywhere(), kFontPenPlane);
        // One pixel narrower, its rows exactly as long as the plane is wide (for the mask:
        // a width of a whole number of bytes).
        const int32_t narrow = grey ? width - 1 : ((width - 1) / 8) * 8;
        const int32_t rowBytes = grey ? narrow : narrow / 8;
        std::vector<uint8_t> buffer(size_t(rowBytes) * height, 0);
        qvPlaneBitMap cut{narrow,        height,       rowBytes, uint8_t(grey ? 8 : 1),
                          kPlaneWrapped, buffer.data()};
        RenderFontText(font.get(), {nullptr, &cut}, 0, 0, text.data(), 2, style, 0, Everywhere(),
                       kFontPenPlane);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < narrow; ++x) {
                if (grey) {
                    ASSERT_EQ(buffer[size_t(y) * rowBytes + x],
                              whole->plane[size_t(y) * whole->bytesPerRow + x]);
                } else {
                    ASSERT_EQ(ReadBitMapPixel(&cut, x, y), ReadBitMapPixel(whole.get(), x, y));
                }
            }
        }
    }
}

TEST_F(TrueTypeTest, ColourDrawingIsCutToTheClipRectangle) {
    FontPtr font = OpenTrueType(kSans, 24);
    ASSERT_NE(font, nullptr);
    OwnedBitMap full = BlackBitMap(60, 24), clipped = BlackBitMap(60, 24);
    for (uint32_t style : {uint32_t(QV_FONTSTYLE_ANTIALIAS), 0u}) {
        RectFill(full.get(), 0, 0, 60, 24, 0);
        RectFill(clipped.get(), 0, 0, 60, 24, 0);
        RenderFontText(font.get(), {full.get(), nullptr}, 0, 0, "Hox", 3, style, 0, Everywhere(),
                       0xFFFFFF);
        RenderFontText(font.get(), {clipped.get(), nullptr}, 0, 0, "Hox", 3, style, 0,
                       {5, 4, 20, 10}, 0xFFFFFF);
        int inked = 0;
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 60; ++x) {
                const bool inside = x >= 5 && x < 25 && y >= 4 && y < 14;
                const uint32_t expected = inside ? ReadBitMapPixel(full.get(), x, y) : 0;
                ASSERT_EQ(ReadBitMapPixel(clipped.get(), x, y), expected) << x << "," << y;
                inked += expected != 0;
            }
        }
        EXPECT_GT(inked, 10);
    }
}

TEST_F(TrueTypeTest, EnginesOutsideTheKnownOnesAnswerNothing) {
    qvFont* font = NewFontRecord();
    font->engine = 9;
    qvTextExtent extent{7, 7, 7, 7, 7, 7};
    EXPECT_EQ(FontTextExtent(font, "abc", 3, 0, 0, &extent), 0);
    EXPECT_EQ(extent.width, 7);
    EXPECT_EQ(GetKerningPairByFont(font, "AV", 2, 0), 0);
    SetFontSize(font, 2, 2);
    FreeFontGlyphCache(font);
    CloseFontObject(font);
}

TEST_F(TrueTypeTest, AllocationFailureWhileOpeningFreeType) {
    CloseAllFonts();
    SweepAllocationFailures([] { return OpenFreeType() == 0; }, [] { CloseFreeType(); });
    // A failure after the default font opened is undone by the shutdown's CloseAllFonts.
    SweepAllocationFailures(
        [] {
            qvFont* font = nullptr;
            if (OpenDefaultFont(&font) == 0) return true;
            CloseAllFonts();
            return false;
        },
        [] { CloseAllFonts(); });
}

TEST_F(TrueTypeTest, AllocationFailureWhileOpeningAFace) {
    for (const std::string& name : {std::string(kSans), kVeraDir + "VeraSe.ttf"}) {
        qvFont* font = nullptr;
        SweepAllocationFailures(
            [&] {
                font = NewFontRecord();
                if (font == nullptr) return false;
                if (OpenTrueTypeFont(name.c_str(), 16, 1, font) != 0) {
                    Extent(font, "Abc", QV_FONTSTYLE_ANTIALIAS);
                    return true;
                }
                FreeFontRecord(font);
                return false;
            },
            [&] { CloseFontObject(font); });
    }
}

}  // namespace
}  // namespace qv::testing
