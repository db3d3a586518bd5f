// The layout measures its pending bytes on from where their last measure stopped. Random
// paragraphs (tags, blanks, tabs to stops, line feeds, UTF-8 and broken bytes, wrap widths,
// alignments, styles, bitmap and outline fonts) must come out exactly as when every measure
// starts from the pending run's first byte: the same runs with the same extents, the same
// recorded breaks and tab results, the same replay, and the same pixels.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "gfx/geometry.h"
#include "objects/fonts/platform_fonts.h"
#include "tests/objects/text/layout_test_support.h"

namespace qv::testing {
namespace {

const char kProportional[] =
    "name prop\nheight 7\nbaseline 5\nproportional\n"
    "glyph 'i' spacing 2\n#\n.\n#\n#\n#\n#\n.\n"
    "glyph 'w' spacing 6 kerning -1\n#...#\n#...#\n#.#.#\n#.#.#\n.#.#.\n.....\n.....\n"
    "default spacing 4 kerning -2\n###\n#.#\n#.#\n#.#\n###\n...\n...\n";

// Measuring whole for the scope.
class WholeMeasures {
public:
    explicit WholeMeasures(bool whole) { fonts::testing::MeasureTextsWhole(whole); }
    ~WholeMeasures() { fonts::testing::MeasureTextsWhole(false); }
    WholeMeasures(const WholeMeasures&) = delete;
    WholeMeasures& operator=(const WholeMeasures&) = delete;
};

// What a layout and its rendering give, as text and bytes.
struct Outcome {
    std::string runs;
    std::vector<uint8_t> pixels;

    bool operator==(const Outcome&) const = default;
};

std::string Numbers(const int32_t* values, int32_t count) {
    std::string out;
    for (int32_t i = 0; i < count; ++i) out += std::to_string(values[i]) + " ";
    return out;
}

class LayoutMeasureTest : public LayoutTest {
protected:
    // A paragraph of random words, blanks, tags and escapes; colour tags are closed only
    // when one is open, so most paragraphs lay out.
    std::string Paragraph() {
        static const char* const kTags[] = {"[b]",
                                            "[/b]",
                                            "[i]",
                                            "[/i]",
                                            "[u]",
                                            "[/u]",
                                            "[[",
                                            "]]",
                                            "[shadow=$80000000,2,5]",
                                            "[/shadow]",
                                            "[edge=$00FF00,1]",
                                            "[/edge]",
                                            "[color=#RED]",
                                            "[/color]"};
        static const char* const kBlanks[] = {" ", "  ", "\t", "\n", "\r\n", "\r", " \t "};
        // Characters of two and three UTF-8 bytes, broken bytes, and kerning pairs that a
        // carriage return splits into two words with nothing between them.
        static const char* const kCharacters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xC3", "\xA9",
                                                  "\xFF",     "A\rV",         "T\ro", "Y\r.",
                                                  "L\rT",     "w\ri"};
        static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzAVWTYLPF0123456789.,;'\"-!?()";
        std::string text;
        int32_t open = 0;
        for (size_t n = 1 + Pick(80); n > 0; --n) {
            const size_t kind = Pick(20);
            if (kind < 11) {
                for (size_t letters = 1 + Pick(12); letters > 0; --letters) {
                    text += Pick(12) == 0 ? std::string(kCharacters[Pick(std::size(kCharacters))])
                                          : std::string(1, kLetters[Pick(sizeof kLetters - 1)]);
                }
            } else if (kind < 16) {
                text += kBlanks[Pick(std::size(kBlanks))];
            } else {
                const std::string tag = kTags[Pick(std::size(kTags))];
                if (tag == "[/color]" && open == 0) continue;
                open += tag == "[/color]" ? -1 : tag == "[color=#RED]" ? 1 : 0;
                text += tag;
            }
        }
        return text;
    }

    size_t Pick(size_t n) { return size_t(random_() % n); }

    // Lays the text out with the options (recording breaks and tab results), replays what
    // was recorded, and renders the first layout.
    Outcome LayReplayAndRender(const std::string& text, const text::LayoutOptions& options,
                               bool antiAlias) {
        Outcome outcome;
        const int error = Lay(text, options);
        outcome.runs = "error " + std::to_string(error) + "\n";
        if (error != 0) return outcome;
        Describe(&outcome);
        outcome.runs += "breaks " + Numbers(record_.wordBreaks, record_.wordBreakCount) + "tabs " +
                        Numbers(record_.tabResults, record_.tabResultCount) + "\n";
        Render(options, antiAlias, &outcome);
        // The recorded tables replayed.
        layout_->KeepTables();
        int32_t* breaks = record_.wordBreaks;
        int32_t* tabs = record_.tabResults;
        const int replayed = Lay(text, options);
        outcome.runs += "replay " + std::to_string(replayed) + "\n";
        if (replayed == 0) Describe(&outcome);
        layout_.reset();
        FreeMemBlock(breaks);
        FreeMemBlock(tabs);
        record_.wordBreaks = record_.tabResults = nullptr;
        record_.wordBreakCount = record_.tabResultCount = 0;
        return outcome;
    }

    void Describe(Outcome* outcome) const {
        for (const qvTextRun* run = Runs(); run != nullptr; run = run->next) {
            const qvStyledExtent& e = run->extent;
            const int32_t fields[] = {run->x,
                                      run->y,
                                      e.advance,
                                      e.height,
                                      e.minX,
                                      e.minY,
                                      e.maxX,
                                      e.maxY,
                                      e.inkWidth,
                                      e.minYExtension,
                                      e.maxYExtension,
                                      e.minXExtension,
                                      e.maxXExtension,
                                      int32_t(run->style.styleFlags),
                                      int32_t(run->style.colour)};
            outcome->runs += Numbers(fields, int32_t(std::size(fields))) + "\"" +
                             std::string(run->text, size_t(run->length)) + "\"\n";
        }
        outcome->runs +=
            "end " + std::to_string(layout_->endX()) + "," + std::to_string(layout_->endY()) + "\n";
    }

    void Render(const text::LayoutOptions& options, bool antiAlias, Outcome* outcome) {
        qvGlyphResult block{};
        const int error = RenderGlyphs(&record_, options.startX, options.wrapWidth, antiAlias,
                                       options.alignment, false, layout_->runs(), &block);
        const int32_t fields[] = {error,       block.left,   block.top,
                                  block.width, block.height, block.xOffset};
        outcome->runs += "block " + Numbers(fields, int32_t(std::size(fields))) + "\n";
        if (block.bitmap != nullptr) {
            ScopedBitMapLock lock(block.bitmap);
            ASSERT_TRUE(lock);
            for (int32_t y = 0; y < lock->height; ++y) {
                const uint8_t* row =
                    lock->base + ptrdiff_t(y) * lock->rowLength * lock->bytesPerPixel;
                outcome->pixels.insert(outcome->pixels.end(), row,
                                       row + ptrdiff_t(lock->width) * lock->bytesPerPixel);
            }
        }
        if (block.alpha != nullptr) {
            const std::vector<uint8_t> alpha = PlaneBytes(block.alpha);
            outcome->pixels.insert(outcome->pixels.end(), alpha.begin(), alpha.end());
        }
        if (block.mask != nullptr) {
            for (const std::string& row : MaskRows(block.mask)) outcome->runs += row + "\n";
        }
        FreeGlyphResult(&block);
    }

    std::mt19937 random_{7};
};

TEST_F(LayoutMeasureTest, RandomParagraphsLayOutAsWhenMeasuredWhole) {
    std::vector<FontPtr> fonts;
    fonts.push_back(LoadBitmap(MakeFont(kProportional), 7));
    fonts.push_back(OpenTrueType("Bitstream Vera Sans", 16));
    fonts.push_back(OpenTrueType("Bitstream Vera Serif", 13, 0));
    fonts.push_back(OpenTrueType("Bitstream Vera Sans Mono", 11));
    SetFontSize(fonts.back().get(), 1.5, 1.25);
    qvFont* platform = NewFontRecord();
    ASSERT_NE(OpenFontPlatform("Bitstream Vera Serif", 18, platform), 0);
    fonts.emplace_back(platform);
    for (const FontPtr& font : fonts) ASSERT_NE(font, nullptr);
    for (int sample = 0; sample < 200; ++sample) {
        const std::string text = Paragraph();
        const size_t font = Pick(fonts.size() + 1);
        record_.style.font = font == fonts.size() ? DefaultFont() : fonts[font].get();
        uint32_t flags = QV_STYLE_NORMAL;
        if (Pick(2) != 0) flags |= QV_STYLE_ANTIALIAS;
        if (Pick(5) == 0) flags |= QV_STYLE_BOLD;
        if (Pick(6) == 0) flags |= QV_STYLE_ITALIC;
        record_.style.styleFlags = flags;
        record_.encoding = int32_t(Pick(2));
        record_.leftMargin = int32_t(Pick(3)) * 7;
        record_.tabCount = int32_t(Pick(4));
        for (int32_t i = 0; i < record_.tabCount; ++i)
            record_.tabs[i] = 30 + i * (40 + int32_t(Pick(60)));
        text::LayoutOptions options;
        options.wrapWidth = Pick(4) == 0 ? 0 : 20 + int32_t(Pick(400));
        options.alignment = Pick(3) == 0 ? gfx::CENTER : Pick(2) != 0 ? gfx::RIGHT : gfx::LEFT;
        options.tabsAsSpaces = Pick(2) != 0;
        options.startX = Pick(3) == 0 ? int32_t(Pick(200)) : 0;
        const bool antiAlias = Pick(3) != 0;
        const Outcome carried = LayReplayAndRender(text, options, antiAlias);
        Outcome whole;
        {
            WholeMeasures measuredWhole(true);
            whole = LayReplayAndRender(text, options, antiAlias);
        }
        ASSERT_EQ(carried.runs, whole.runs) << "sample " << sample << ": " << text;
        ASSERT_TRUE(carried.pixels == whole.pixels) << "sample " << sample << ": " << text;
    }
}

}  // namespace
}  // namespace qv::testing
