// Measuring a text as it grows: ExtendFontTextExtent goes on from the prefix it carries and
// must give exactly what FontTextExtent gives for the whole text, in every engine, style and
// encoding, wherever the seam falls (kerning pairs across it, UTF-8 sequences cut by it,
// malformed text on either side).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "objects/fonts/platform_fonts.h"
#include "tests/objects/fonts/font_test_support.h"

namespace qv::testing {
namespace {

const char kProportional[] =
    "name prop\nheight 7\nbaseline 5\nproportional\n"
    "glyph 'i' spacing 2\n#\n.\n#\n#\n#\n#\n.\n"
    "glyph 'w' spacing 6 kerning -1\n#...#\n#...#\n#.#.#\n#.#.#\n.#.#.\n.....\n.....\n"
    "glyph 'a' spacing 5 kerning 1\n.###\n#..#\n#..#\n#..#\n.###\n....\n....\n"
    "default spacing 4 kerning -2\n###\n#.#\n#.#\n#.#\n###\n...\n...\n";

const char kFixed[] =
    "name fixed\nheight 5\nbaseline 3\nwidth 4\n"
    "glyph 'A'\n.##.\n#..#\n####\n#..#\n#..#\n"
    "default\n####\n#..#\n#..#\n#..#\n####\n";

bool operator==(const qvTextExtent& a, const qvTextExtent& b) {
    return a.width == b.width && a.height == b.height && a.minX == b.minX && a.minY == b.minY &&
           a.maxX == b.maxX && a.maxY == b.maxY;
}

std::string Describe(const qvTextExtent& e) {
    return std::to_string(e.width) + "," + std::to_string(e.height) + " x " +
           std::to_string(e.minX) + ".." + std::to_string(e.maxX) + " y " + std::to_string(e.minY) +
           ".." + std::to_string(e.maxY);
}

std::string Hex(const std::string& text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c >= 32 && c < 127) {
            out += char(c);
        } else {
            out += std::string("\\x") + kDigits[c >> 4] + kDigits[c & 15];
        }
    }
    return out;
}

// Pieces that random texts are made of: kerning pairs, blanks, characters of two to four
// UTF-8 bytes, and bytes that do not decode (a lone lead, a lone continuation, a cut
// sequence, 0xFF).
const char* const kPieces[] = {"AV",
                               "To",
                               "Wa",
                               "Ty",
                               "LT",
                               "P.",
                               "r,",
                               "f",
                               "i",
                               "w",
                               "a",
                               "x",
                               " ",
                               "  ",
                               "0",
                               "'",
                               "\"",
                               "\xC3\xA9",
                               "\xE2\x82\xAC",
                               "\xF0\x9F\x98\x80",
                               "\xC3",
                               "\xA9",
                               "\xE2\x82",
                               "\xFF"};

class ExtendExtentTest : public FontTest {
protected:
    void SetUp() override {
        FontTest::SetUp();
        fonts_.push_back(FontPtr());  // the default font, never closed
        fonts_.push_back(LoadBitmap(MakeFont(kProportional), 7));
        fonts_.push_back(LoadBitmap(MakeFont(kFixed), 5));
        fonts_.push_back(OpenTrueType("Bitstream Vera Sans", 16));
        fonts_.push_back(OpenTrueType("Bitstream Vera Serif", 13, 0));
        fonts_.push_back(OpenTrueType("Bitstream Vera Sans Mono", 11));
        SetFontSize(fonts_.back().get(), 1.5, 1.25);
        qvFont* platform = NewFontRecord();
        ASSERT_NE(OpenFontPlatform("Bitstream Vera Serif", 18, platform), 0);
        fonts_.emplace_back(platform);
        for (size_t i = 1; i < fonts_.size(); ++i) ASSERT_NE(fonts_[i], nullptr) << i;
    }
    void TearDown() override {
        fonts_.clear();  // before FreeType closes
        FontTest::TearDown();
    }
    qvFont* Font(size_t i) const { return i == 0 ? DefaultFont() : fonts_[i].get(); }

    std::vector<FontPtr> fonts_;
};

TEST_F(ExtendExtentTest, GrowingTextMeasuresAsTheWhole) {
    const uint32_t kStyles[] = {0,
                                QV_FONTSTYLE_BOLD,
                                QV_FONTSTYLE_ITALIC,
                                QV_FONTSTYLE_BOLD | QV_FONTSTYLE_ITALIC,
                                QV_FONTSTYLE_ANTIALIAS,
                                QV_FONTSTYLE_BOLD | QV_FONTSTYLE_ANTIALIAS};
    std::mt19937 random(20240611);
    auto pick = [&](size_t n) { return size_t(random() % n); };
    for (size_t f = 0; f < fonts_.size(); ++f) {
        // One memo for every text and style of the font, as a layout keeps it.
        fonts::GlyphMemo memo;
        for (int sample = 0; sample < 24; ++sample) {
            std::string text;
            for (size_t n = 1 + pick(14); n > 0; --n) text += kPieces[pick(std::size(kPieces))];
            const uint32_t style = kStyles[pick(std::size(kStyles))];
            const int utf8 = int(pick(2));
            // Seams at random bytes, inside UTF-8 sequences too; some calls add nothing.
            qvMeasuredPrefix prefix{};
            prefix.memo = &memo;
            for (size_t length = 0;; length = std::min(text.size(), length + pick(6))) {
                qvTextExtent grown{-1, -1, -1, -1, -1, -1};
                ASSERT_EQ(ExtendFontTextExtent(Font(f), text.data(), int32_t(length), style, utf8,
                                               &prefix, &grown),
                          0);
                const qvTextExtent whole = Extent(Font(f), text.substr(0, length), style, utf8);
                ASSERT_TRUE(grown == whole)
                    << "font " << f << " style " << style << " utf8 " << utf8 << " \""
                    << Hex(text.substr(0, length)) << "\": " << Describe(grown) << " instead of "
                    << Describe(whole);
                if (length == text.size()) break;
            }
        }
    }
}

TEST_F(ExtendExtentTest, SeamsThatCannotBeCarriedAreMeasuredWhole) {
    qvFont* sans = Font(3);
    struct Step {
        std::string text;
        uint32_t style;
        int utf8;
    };
    // Each pair measures the first text into a prefix and then the second with it.
    const std::pair<Step, Step> cases[] = {
        // A sequence cut by the seam decodes with the bytes after it.
        {{"ab\xC3", 0, 1}, {"ab\xC3\xA9 cd", 0, 1}},
        // Bytes that do not decode make the whole text bytes, also when they come later.
        {{"ab\xC3\xA9", 0, 1}, {"ab\xC3\xA9\xFF", 0, 1}},
        {{"\xFF", 0, 1}, {"\xFFxy\xC3\xA9", 0, 1}},
        // Another style, encoding or a shorter text is not the prefix's.
        {{"AVAV", QV_FONTSTYLE_BOLD, 0}, {"AVAVA", 0, 0}},
        {{"ab\xC3\xA9", 0, 0}, {"ab\xC3\xA9x", 0, 1}},
        {{"AVAVAV", 0, 0}, {"AVA", 0, 0}},
    };
    for (const auto& [first, second] : cases) {
        std::string text;
        text.reserve(64);
        text = first.text;
        qvMeasuredPrefix prefix{};
        qvTextExtent extent{};
        ExtendFontTextExtent(sans, text.data(), int32_t(text.size()), first.style, first.utf8,
                             &prefix, &extent);
        text = second.text;  // the same buffer, so only the bytes tell the texts apart
        ExtendFontTextExtent(sans, text.data(), int32_t(text.size()), second.style, second.utf8,
                             &prefix, &extent);
        EXPECT_TRUE(extent == Extent(sans, text, second.style, second.utf8))
            << Hex(first.text) << " then " << Hex(second.text) << ": " << Describe(extent);
    }
    // Another font or another scale of the same font is not the prefix's either.
    const std::string text = "Wave To";
    qvMeasuredPrefix prefix{};
    qvTextExtent extent{};
    ExtendFontTextExtent(Font(4), text.data(), 4, 0, 0, &prefix, &extent);
    ExtendFontTextExtent(sans, text.data(), 7, 0, 0, &prefix, &extent);
    EXPECT_TRUE(extent == Extent(sans, text)) << Describe(extent);
    SetFontSize(sans, 2.0, 2.0);
    ExtendFontTextExtent(sans, text.data(), 7, 0, 0, &prefix, &extent);
    EXPECT_TRUE(extent == Extent(sans, text)) << Describe(extent);
}

TEST_F(ExtendExtentTest, GlyphMemoFollowsFontAndScale) {
    const std::string text = "Wave [AV] To";
    fonts::GlyphMemo memo;
    auto measure = [&](qvFont* font) {
        qvMeasuredPrefix prefix{};
        prefix.memo = &memo;
        qvTextExtent extent{};
        ExtendFontTextExtent(font, text.data(), int32_t(text.size()), QV_FONTSTYLE_BOLD, 0, &prefix,
                             &extent);
        return extent;
    };
    // Boxes of one font or size are never another's.
    for (size_t f : {3, 4, 6, 3}) {
        EXPECT_TRUE(measure(Font(f)) == Extent(Font(f), text, QV_FONTSTYLE_BOLD)) << f;
    }
    SetFontSize(Font(3), 1.75, 1.0);
    EXPECT_TRUE(measure(Font(3)) == Extent(Font(3), text, QV_FONTSTYLE_BOLD));
    // A memo whose boxes cannot be allocated (its first request fails) only costs loads.
    const qvTextExtent expected = Extent(Font(4), text, QV_FONTSTYLE_ITALIC);
    fonts::GlyphMemo starved;
    qvMeasuredPrefix prefix{};
    prefix.memo = &starved;
    qvTextExtent extent{};
    {
        AllocationFault fault(1, false);
        ExtendFontTextExtent(Font(4), text.data(), int32_t(text.size()), QV_FONTSTYLE_ITALIC, 0,
                             &prefix, &extent);
    }
    EXPECT_TRUE(extent == expected) << Describe(extent);
}

}  // namespace
}  // namespace qv::testing
