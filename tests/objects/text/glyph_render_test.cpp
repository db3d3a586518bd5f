// Glyph rendering: pictures of the 8-pixel font (1-bit) checked against the plain glyphs
// painted at the offsets each style asks for; anti-aliased Vera against the font front end
// and a reference edge from an integral image; transforms, borders and memory running out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "objects/fonts/platform_fonts.h"
#include "objects/text/text_blits.h"
#include "tests/objects/text/layout_test_support.h"

namespace qv::testing {
namespace {

// A colour as a display bitmap stores it.
uint32_t AsStored(uint32_t rgb) {
    OwnedBitMap pixel(AllocDisplayBitMap(1, 1));
    PlotPixel(pixel.get(), 0, 0, rgb);
    return ReadBitMapPixel(pixel.get(), 0, 0);
}

// The picture a block should show: the plain text painted layer by layer.
class Expected {
public:
    Expected(int32_t width, int32_t height)
        : width_(width), height_(height), colour_(size_t(width * height)), set_(colour_.size()) {}

    void Paint(const std::string& text, int32_t x, int32_t y, uint32_t rgb) {
        OwnedPlane mask(AllocMaskBitMap(nullptr, width_, height_, 1));
        RenderFontText(DefaultFont(), {nullptr, mask.get()}, x, y, text.data(),
                       int32_t(text.size()), 0, 0, Everywhere(), kFontPenPlane);
        for (int32_t py = 0; py < height_; ++py) {
            for (int32_t px = 0; px < width_; ++px) {
                if (!ReadBitMapPixel(mask.get(), px, py)) continue;
                colour_[size_t(py * width_ + px)] = AsStored(rgb);
                set_[size_t(py * width_ + px)] = true;
            }
        }
    }
    // At every offset of the square of the size around (x, y).
    void PaintSquare(const std::string& text, int32_t x, int32_t y, int32_t size, uint32_t rgb) {
        for (int32_t j = -size; j <= size; ++j) {
            for (int32_t i = -size; i <= size; ++i) Paint(text, x + i, y + j, rgb);
        }
    }

    // Every pixel of the block: in the mask exactly where painted, in the colour painted last.
    void Check(const qvGlyphResult& block) const {
        ASSERT_EQ(block.width, width_);
        ASSERT_EQ(block.height, height_);
        ASSERT_NE(block.mask, nullptr);
        for (int32_t py = 0; py < height_; ++py) {
            for (int32_t px = 0; px < width_; ++px) {
                const size_t i = size_t(py * width_ + px);
                ASSERT_EQ(ReadBitMapPixel(block.mask, px, py) != 0, bool(set_[i]))
                    << px << "," << py;
                if (set_[i]) {
                    ASSERT_EQ(ReadBitMapPixel(block.bitmap, px, py), colour_[i]) << px << "," << py;
                }
            }
        }
    }

private:
    int32_t width_, height_;
    std::vector<uint32_t> colour_;
    std::vector<bool> set_;
};

class GlyphTest : public LayoutTest {
protected:
    void TearDown() override {
        FreeGlyphResult(&block_);
        LayoutTest::TearDown();
    }

    // Lays out and draws the text; 0 or the first error.
    int Draw(const std::string& text, const text::LayoutOptions& options = {}, bool aa = false) {
        FreeGlyphResult(&block_);
        if (int error = Lay(text, options)) return error;
        return RenderGlyphs(&record_, options.startX, options.wrapWidth, aa, options.alignment,
                            false, Runs(), &block_);
    }

    qvGlyphResult block_{};
};

TEST_F(GlyphTest, BoldIsOnePixelWider) {
    ASSERT_EQ(Draw("l"), 0);
    const std::vector<std::string> plain = MaskRows(block_.mask);
    ASSERT_EQ(Draw("[b]l"), 0);
    ASSERT_EQ(block_.width, 9);
    const std::vector<std::string> bold = MaskRows(block_.mask);
    for (size_t r = 0; r < plain.size(); ++r) {
        std::string expected = plain[r] + ".";
        for (size_t c = 1; c < expected.size(); ++c) {
            if (plain[r][c - 1] == '#') expected[c] = '#';
        }
        EXPECT_EQ(bold[r], expected) << r;
    }
}

TEST_F(GlyphTest, ItalicShearsRowsAboutTheBaseline) {
    ASSERT_EQ(Draw("H"), 0);
    const std::vector<std::string> plain = MaskRows(block_.mask);
    // Half of the 2 rows below the baseline are reserved on the left: the block starts at -1.
    ASSERT_EQ(Draw("[i]H"), 0);
    EXPECT_EQ(block_.left, -1);
    ASSERT_EQ(block_.width, 12);
    const int shifts[9] = {2, 2, 1, 1, 0, 0, -1, -1, -2};
    const std::vector<std::string> italic = MaskRows(block_.mask);
    for (size_t r = 0; r < plain.size(); ++r) {
        std::string expected(12, '.');
        for (int c = 0; c < 8; ++c) {
            const int to = c + 1 + shifts[r];
            if (plain[r][size_t(c)] == '#' && to >= 0) expected[size_t(to)] = '#';
        }
        EXPECT_EQ(italic[r], expected) << r;
    }
}

TEST_F(GlyphTest, UnderlineAtRowSevenUnderTheAdvance) {
    ASSERT_EQ(Draw("ab"), 0);
    std::vector<std::string> expected = MaskRows(block_.mask);
    expected[7] = std::string(16, '#');
    ASSERT_EQ(Draw("[u]ab"), 0);
    EXPECT_EQ(MaskRows(block_.mask), expected);
}

TEST_F(GlyphTest, ShadowOffsetsForEveryDirection) {
    const int32_t steps[10][2] = {{0, -1}, {1, -1}, {1, 0},   {1, 1}, {0, 1},
                                  {-1, 1}, {-1, 0}, {-1, -1}, {1, 1}, {1, 1}};
    for (int32_t direction : {0, 1, 2, 3, 4, 5, 6, 7, 9}) {
        SCOPED_TRACE(direction);
        ASSERT_EQ(Draw("[shadow=$00FF00,2," + std::to_string(direction) + "]ab"), 0);
        const int32_t dx = steps[direction][0] * 2, dy = steps[direction][1] * 2;
        const int32_t x = std::max(0, -dx), y = std::max(0, -dy);
        EXPECT_EQ(block_.left, -x);
        EXPECT_EQ(block_.top, -y);
        Expected expected(16 + std::abs(dx), 9 + std::abs(dy));
        expected.Paint("ab", x + dx, y + dy, 0x00FF00);
        expected.Paint("ab", x, y, kStartColour);
        expected.Check(block_);
    }
}

TEST_F(GlyphTest, EdgeSquareAndShadowUnderIt) {
    // 49 positions for an edge of 3, the text on top.
    ASSERT_EQ(Draw("[edge=$0000FF,3]a"), 0);
    Expected edge(8 + 6, 9 + 6);
    edge.PaintSquare("a", 3, 3, 3, 0x0000FF);
    edge.Paint("a", 3, 3, kStartColour);
    edge.Check(block_);
    // With a shadow: the edged shape as shadow, then the edge, then the text.
    ASSERT_EQ(Draw("[edge=$0000FF,1][shadow=$00FF00,3,3]a"), 0);
    Expected both(8 + 2 + 3, 9 + 2 + 3);
    both.PaintSquare("a", 1 + 3, 1 + 3, 1, 0x00FF00);
    both.PaintSquare("a", 1, 1, 1, 0x0000FF);
    both.Paint("a", 1, 1, kStartColour);
    both.Check(block_);
}

TEST_F(GlyphTest, BlockSizesAndOffsets) {
    // Line height + 1 - top + bottom extension + the last line's y.
    ASSERT_EQ(Draw("[shadow=0,3,4]a\nb"), 0);
    EXPECT_EQ(block_.height, 8 + 1 + 3 + 8);
    EXPECT_EQ(block_.width, 8);
    // A run list without runs: 1 x line height, a clear mask.
    text::LayoutOptions centred;
    centred.alignment = gfx::CENTER;
    ASSERT_EQ(Draw("", centred), 0);
    EXPECT_EQ(Runs(), nullptr);
    EXPECT_EQ(block_.width, 1);
    EXPECT_EQ(block_.height, 8);
    EXPECT_EQ(MaskRows(block_.mask), std::vector<std::string>(8, "."));
    ASSERT_EQ(Draw(""), 0);  // one space
    EXPECT_EQ(block_.width, 8);
    // A single line keeps its start x aside; a second line starts at the left edge.
    text::LayoutOptions continued;
    continued.startX = 100;
    ASSERT_EQ(Draw("ab", continued), 0);
    EXPECT_EQ(block_.xOffset, 100);
    EXPECT_EQ(block_.width, 16);
    ASSERT_EQ(Draw("ab\nc", continued), 0);
    EXPECT_EQ(block_.xOffset, 0);
    EXPECT_EQ(block_.width, 116);
    // Ink beyond the wrap width is cut.
    text::LayoutOptions narrow;
    narrow.wrapWidth = 40;
    ASSERT_EQ(Draw("abcdefghij", narrow), 0);
    EXPECT_EQ(block_.width, 40);
    // Measuring only: the sizes, no bitmap.
    qvGlyphResult measured{};
    ASSERT_EQ(Lay("[edge=1,2]ab"), 0);
    ASSERT_EQ(RenderGlyphs(&record_, 0, 0, false, 0, true, Runs(), &measured), 0);
    EXPECT_EQ(measured.bitmap, nullptr);
    EXPECT_EQ(measured.width, 20);
    EXPECT_EQ(measured.left, -2);
}

TEST_F(GlyphTest, TransparentColoursGoIntoAnAlphaPlane) {
    ASSERT_EQ(Draw("[color=$80FF0000]a"), 0);
    ASSERT_EQ(block_.mask, nullptr);
    ASSERT_NE(block_.alpha, nullptr);
    OwnedPlane mask(AllocMaskBitMap(nullptr, 8, 9, 1));
    RenderFontText(DefaultFont(), {nullptr, mask.get()}, 0, 0, "a", 1, 0, 0, Everywhere(),
                   kFontPenPlane);
    for (int32_t y = 0; y < 9; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(block_.alpha->plane[y * block_.alpha->bytesPerRow + x],
                      ReadBitMapPixel(mask.get(), x, y) ? 127 : 0);
        }
    }
}

TEST_F(GlyphTest, ColourFontsCopyTheirOwnColoursWithoutShadowOrEdge) {
    FontPtr font = LoadBitmap(MakeFont("name colour\nheight 2\nbaseline 1\ncolours 0x000 0xF80 "
                                       "0x0F0 0x00F\nglyph 'a'\n0123\n3210\ndefault\n..\n..\n"),
                              2);
    ASSERT_NE(font, nullptr);
    ASSERT_EQ(ConvertColourFontPixels(font.get()), 0);
    record_.style.font = font.get();
    ASSERT_EQ(Draw("[edge=1,2][shadow=1,2]a"), 0);
    ASSERT_NE(block_.mask, nullptr);
    EXPECT_EQ(block_.left, -2);
    ASSERT_EQ(block_.width, 10);
    const std::vector<std::string> rows = MaskRows(block_.mask);
    for (size_t y = 0; y < rows.size(); ++y) {
        EXPECT_EQ(rows[y], y == 2 ? "...###...." : y == 3 ? "..###....." : "..........") << y;
    }
    EXPECT_EQ(ReadBitMapPixel(block_.bitmap, 3, 2), AsStored(0xFF8800));
    EXPECT_EQ(ReadBitMapPixel(block_.bitmap, 2, 3), AsStored(0x0000FF));
    record_.style.font = DefaultFont();
}

// Outline fonts make no bold of their own that shows at small sizes, whichever engine opened
// them: a TrueType file opened by the platform's engine is smeared as the built-in engine's.
TEST_F(GlyphTest, OutlineBoldIsSmearedWhicheverEngineOpenedTheFont) {
    const std::string path = kVeraDir + "Vera.ttf";
    FontPtr builtIn = OpenTrueType(path, 12);
    FontPtr platform(NewFontRecord());
    ASSERT_NE(builtIn, nullptr);
    ASSERT_EQ(OpenFontPlatform(path.c_str(), 12, platform.get()), 1);
    ASSERT_EQ(platform->engine, QV_FONTENGINE_PLATFORM);
    std::vector<std::string> bold[2];
    for (int i = 0; i < 2; ++i) {
        record_.style.font = i == 0 ? builtIn.get() : platform.get();
        ASSERT_EQ(Draw("damp"), 0);
        const std::vector<std::string> plain = MaskRows(block_.mask);
        ASSERT_EQ(Draw("[b]damp"), 0);
        bold[i] = MaskRows(block_.mask);
        EXPECT_EQ(bold[i].size(), plain.size());
        EXPECT_NE(bold[i], plain);
    }
    EXPECT_EQ(bold[1], bold[0]);
    record_.style.font = DefaultFont();
}

class SmoothGlyphTest : public GlyphTest {
protected:
    void SetUp() override {
        GlyphTest::SetUp();
        vera_ = OpenTrueType("Bitstream Vera Sans", 16);
        ASSERT_NE(vera_, nullptr);
        record_.style.font = vera_.get();
        record_.style.styleFlags |= QV_STYLE_ANTIALIAS;
    }
    void TearDown() override {
        FreeGlyphResult(&block_);
        vera_.reset();
        GlyphTest::TearDown();
    }

    // The front end's coverage of the text drawn at (x, y) into a plane of the block's size.
    OwnedPlane Coverage(const std::string& text, int32_t x, int32_t y) const {
        OwnedPlane plane(AllocAlphaBitMap(block_.width, block_.height, 1));
        RenderFontText(vera_.get(), {nullptr, plane.get()}, x, y, text.data(), int32_t(text.size()),
                       QV_STYLE_ANTIALIAS, 0, Everywhere(), kFontPenPlane);
        return plane;
    }

    FontPtr vera_;
};

TEST_F(SmoothGlyphTest, PlainRunsAreTheFrontEndsPixels) {
    ASSERT_EQ(Draw("Hi there", {}, true), 0);
    ASSERT_NE(block_.alpha, nullptr);
    OwnedPlane expected = Coverage("Hi there", -block_.left, -block_.top);
    EXPECT_EQ(PlaneBytes(block_.alpha), PlaneBytes(expected.get()));
    for (int32_t y = 0; y < block_.height; ++y) {
        for (int32_t x = 0; x < block_.width; ++x) {
            if (block_.alpha->plane[y * block_.alpha->bytesPerRow + x] != 0) {
                ASSERT_EQ(ReadBitMapPixel(block_.bitmap, x, y), AsStored(kStartColour));
            }
        }
    }
}

TEST_F(SmoothGlyphTest, TransparencyScalesTheCoverage) {
    // "H" has fully covered pixels; there the alpha is 127.
    ASSERT_EQ(Draw("[color=$80FFFFFF]H", {}, true), 0);
    OwnedPlane coverage = Coverage("H", -block_.left, -block_.top);
    std::vector<uint8_t> expected = PlaneBytes(coverage.get());
    for (uint8_t& c : expected) c = uint8_t(c * 127 / 255);
    const std::vector<uint8_t> alpha = PlaneBytes(block_.alpha);
    EXPECT_EQ(alpha, expected);
    EXPECT_EQ(*std::max_element(alpha.begin(), alpha.end()), 127);
}

// The edge as a 64-bit box sum from an integral image: no wrap is possible there.
std::vector<uint16_t> ReferenceEdge(const qvPlaneBitMap* coverage, int32_t width, int32_t height,
                                    int32_t size, int32_t firstColumn, int32_t firstRow) {
    const int32_t outWidth = width + 2 * size, outHeight = height + 2 * size;
    std::vector<uint64_t> integral(size_t((width + 1) * (height + 1)));
    auto at = [&](int32_t x, int32_t y) -> uint64_t& {
        return integral[size_t(y * (width + 1) + x)];
    };
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x)
            at(x + 1, y + 1) = coverage->plane[y * coverage->bytesPerRow + x] + at(x, y + 1) +
                               at(x + 1, y) - at(x, y);
    }
    // Sum of the coverage over columns [x0, x1] and rows [y0, y1], clipped to the plane.
    auto box = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) -> uint64_t {
        x0 = std::max(x0, 0), y0 = std::max(y0, 0);
        x1 = std::min(x1, width - 1), y1 = std::min(y1, height - 1);
        if (x0 > x1 || y0 > y1) return 0;
        return at(x1 + 1, y1 + 1) - at(x0, y1 + 1) - at(x1 + 1, y0) + at(x0, y0);
    };
    std::vector<uint16_t> edge;
    for (int32_t y = 0; y < outHeight; ++y) {
        for (int32_t x = 0; x < outWidth; ++x) {
            const uint64_t sum = box(x - 2 * size, y - 2 * size, x - firstColumn, y - firstRow);
            edge.push_back(uint16_t(std::min<uint64_t>(sum / uint64_t(2 * size + 1), 255)));
        }
    }
    return edge;
}

std::vector<uint16_t> BuiltEdge(const EdgeAccumulator& accumulator) {
    std::vector<uint16_t> edge;
    for (int32_t y = 0; y < accumulator.height(); ++y) {
        const uint16_t* row = accumulator.coverage() + ptrdiff_t(y) * accumulator.rowLength();
        edge.insert(edge.end(), row, row + accumulator.width());
    }
    return edge;
}

TEST_F(SmoothGlyphTest, EdgeSumsNeverWrapAndGrowWithTheSize) {
    ASSERT_EQ(Draw("WMg", {}, true), 0);
    const qvPlaneBitMap* coverage = block_.alpha;
    const int32_t width = block_.width, height = block_.height;
    EdgeAccumulator accumulator;
    ASSERT_EQ(accumulator.Allocate(width, height, 64), 0);
    for (int32_t size : {1, 2, 8, 20, 64}) {
        DrawEdgeAA(&accumulator, coverage, width, height, size, 0, 0);
        EXPECT_EQ(BuiltEdge(accumulator), ReferenceEdge(coverage, width, height, size, 0, 0))
            << size;
    }
    // Offsets skipped at the left and top.
    DrawEdgeAA(&accumulator, coverage, width, height, 3, 2, 5);
    EXPECT_EQ(BuiltEdge(accumulator), ReferenceEdge(coverage, width, height, 3, 2, 5));
    // A full plane reaches the largest sums: every cell within reach is opaque.
    OwnedPlane full(AllocAlphaBitMap(40, 30, 1));
    FillPlane8Rect(full.get(), 0, 0, 40, 30, 255);
    EdgeAccumulator large;
    ASSERT_EQ(large.Allocate(40, 30, 64), 0);
    DrawEdgeAA(&large, full.get(), 40, 30, 64, 0, 0);
    EXPECT_EQ(BuiltEdge(large), ReferenceEdge(full.get(), 40, 30, 64, 0, 0));
    // Each dilation step adds coverage.
    uint64_t previous = 0;
    for (int32_t size = 1; size <= 20; ++size) {
        DrawEdgeAA(&accumulator, coverage, width, height, size, 0, 0);
        const std::vector<uint16_t> edge = BuiltEdge(accumulator);
        uint64_t total = 0;
        for (uint16_t v : edge) total += v;
        EXPECT_GT(total, previous) << size;
        previous = total;
    }
}

TEST_F(SmoothGlyphTest, LargeEdgesStoreTheReferenceCoverage) {
    for (int32_t size : {8, 20}) {
        SCOPED_TRACE(size);
        record_.style.styleFlags |= QV_STYLE_EDGE;
        record_.style.edgeSize = size;
        record_.style.edgeColour = 0x0000FF;
        ASSERT_EQ(Draw("WMg", {}, true), 0);
        EXPECT_EQ(block_.left, -size);
        // The text's own coverage, then its edge: where the text has none, the alpha is the
        // edge's (the edge is stored first, into a cleared plane).
        const int32_t inset = -std::min(Runs()->extent.minX, 0);
        OwnedPlane text = Coverage("WMg", -block_.left, -block_.top);
        OwnedPlane line(AllocAlphaBitMap(block_.width, block_.height, 1));
        RenderFontText(vera_.get(), {nullptr, line.get()}, inset, 0, "WMg", 3, QV_STYLE_ANTIALIAS,
                       0, Everywhere(), kFontPenPlane);
        const std::vector<uint16_t> edge =
            ReferenceEdge(line.get(), block_.width, vera_->height + 1, size, 0, 0);
        const int32_t edgeWidth = block_.width + 2 * size;
        for (int32_t y = 0; y < block_.height; ++y) {
            for (int32_t x = 0; x < block_.width; ++x) {
                if (text->plane[y * text->bytesPerRow + x] != 0) continue;
                ASSERT_EQ(block_.alpha->plane[y * block_.alpha->bytesPerRow + x],
                          edge[size_t(y * edgeWidth + x)])
                    << x << "," << y;
            }
        }
    }
}

TEST(TextBlitsTest, RowShiftsAndDilationMatchBitByBit) {
    // A row of 5 bytes against its bits moved one at a time.
    const uint8_t pattern[5] = {0xA5, 0x3C, 0x81, 0xFF, 0x12};
    for (int32_t shift = -20; shift <= 20; ++shift) {
        for (bool keep : {false, true}) {
            uint8_t row[5];
            std::copy(pattern, pattern + 5, row);
            ShiftMaskRow(row, 5, shift, keep);
            for (int32_t bit = 0; bit < 40; ++bit) {
                const int32_t from = bit - shift;
                auto bitOf = [](const uint8_t* r, int32_t b) {
                    return (r[b >> 3] >> (7 - (b & 7))) & 1;
                };
                const int moved = from >= 0 && from < 40 ? bitOf(pattern, from) : 0;
                const int expected = keep ? (moved | bitOf(pattern, bit)) : moved;
                ASSERT_EQ(bitOf(row, bit), expected) << shift << " " << keep << " " << bit;
            }
        }
    }
    // The dilation of two pixels is the union of their squares, skipped offsets left out.
    OwnedPlane line(AllocMaskBitMap(nullptr, 12, 4, 1));
    PlotPixel(line.get(), 0, 0, 5);
    PlotPixel(line.get(), 11, 3, 5);
    OwnedPlane dest(AllocMaskBitMap(nullptr, 16, 8, 1));
    for (int32_t firstColumn : {0, 1, 3}) {
        DilateMask(line.get(), 12, 4, 2, firstColumn, 1, dest.get());
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 16; ++x) {
                auto covers = [&](int32_t px, int32_t py) {
                    return x - px >= firstColumn && x - px <= 4 && y - py >= 1 && y - py <= 4;
                };
                ASSERT_EQ(ReadBitMapPixel(dest.get(), x, y) != 0, covers(0, 0) || covers(11, 3))
                    << firstColumn << ": " << x << "," << y;
            }
        }
    }
}

TEST_F(GlyphTest, TransformsScaleOrMoveThePicture) {
    ASSERT_EQ(Draw("ab"), 0);
    qvDrawTransform transform{};
    transform.matrix[0] = transform.matrix[3] = 2;
    transform.anchorx = transform.anchory = 0.5;
    // A bitmap font is scaled as pixels; the picture's middle lands on (100, 50).
    qvTextPicture picture{block_.bitmap, block_.mask, block_.alpha, 100, 50, 16, 9};
    bool made = false;
    ASSERT_EQ(TransformTextBitmaps(&picture, transform, record_, &made), 0);
    ASSERT_TRUE(made);
    EXPECT_EQ(picture.width, 32);
    EXPECT_EQ(picture.height, 18);
    EXPECT_EQ(picture.x, 84);
    EXPECT_EQ(picture.y, 41);
    FreeDisplayBitMap(picture.bitmap);
    FreePlaneBitMap(picture.mask);
    // A scalable font was rendered at the size: only the place moves, the middle on the
    // position.
    FontPtr vera = OpenTrueType("Bitstream Vera Sans", 16);
    record_.style.font = vera.get();
    picture = {block_.bitmap, block_.mask, block_.alpha, 100, 50, 40, 20};
    ASSERT_EQ(TransformTextBitmaps(&picture, transform, record_, &made), 0);
    EXPECT_FALSE(made);
    EXPECT_EQ(picture.bitmap, block_.bitmap);
    EXPECT_EQ(picture.x, 80);
    EXPECT_EQ(picture.y, 40);
    // A quarter turn transforms the planes even for a scalable font; the turned middle
    // (4.5, 8) lands on the origin.
    transform.matrix[0] = transform.matrix[3] = 0;
    transform.matrix[1] = 1, transform.matrix[2] = -1;
    picture = {block_.bitmap, block_.mask, block_.alpha, 0, 0, 16, 9};
    ASSERT_EQ(TransformTextBitmaps(&picture, transform, record_, &made), 0);
    ASSERT_TRUE(made);
    EXPECT_EQ(picture.width, 9);
    EXPECT_EQ(picture.height, 16);
    EXPECT_EQ(picture.x, -4);
    EXPECT_EQ(picture.y, -8);
    FreeDisplayBitMap(picture.bitmap);
    FreePlaneBitMap(picture.mask);
    record_.style.font = DefaultFont();
}

TEST_F(GlyphTest, BordersOfMaskedAndAlphaImages) {
    OwnedPlane mask(AllocMaskBitMap(nullptr, 10, 8, 1));
    PlotPixel(mask.get(), 0, 0, 5);
    qvTextBorder border{};
    ASSERT_EQ(RenderTextBorder(mask.get(), nullptr, 10, 8, 2, 0x00FF00, &border), 0);
    EXPECT_EQ(border.width, 15);
    EXPECT_EQ(border.height, 13);
    EXPECT_EQ(border.offset, 2);
    ASSERT_NE(border.mask, nullptr);
    EXPECT_EQ(border.alpha, nullptr);
    const std::vector<std::string> rows = MaskRows(border.mask);
    for (int32_t y = 0; y < 13; ++y) {
        EXPECT_EQ(rows[size_t(y)], y < 5 ? "#####.........." : std::string(15, '.')) << y;
    }
    EXPECT_EQ(ReadBitMapPixel(border.bitmap, 4, 4), AsStored(0x00FF00));
    FreeTextBorder(&border);

    OwnedPlane alpha(AllocAlphaBitMap(10, 8, 1));
    FillPlane8Rect(alpha.get(), 2, 2, 3, 3, 255);
    ASSERT_EQ(RenderTextBorder(nullptr, alpha.get(), 10, 8, 4, 0x80FF0000, &border), 0);
    EXPECT_EQ(border.width, 19);
    EXPECT_EQ(border.height, 17);
    ASSERT_NE(border.alpha, nullptr);
    // The box sum of the 3 x 3 square over 9 x 9 offsets, divided by 9, at half opacity.
    const std::vector<uint16_t> edge = ReferenceEdge(alpha.get(), 10, 8, 4, 0, 0);
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 18; ++x) {
            ASSERT_EQ(border.alpha->plane[y * border.alpha->bytesPerRow + x],
                      edge[size_t(y * 18 + x)] * 127 / 255)
                << x << "," << y;
        }
    }
    FreeTextBorder(&border);
}

// An outline font scaled to the int32 limit (a layer scaled without bound) gives a block no
// machine holds: ERR_MEM and nothing made, in both paths and with an edge.
TEST_F(SmoothGlyphTest, FontAtTheIntLimitIsOutOfMemory) {
    SetFontSize(vera_.get(), 1.0, 1e12);
    ASSERT_EQ(vera_->height, INT32_MAX);
    for (const char* text : {"Hi", "[edge=$FF,8]Hi"}) {
        for (bool aa : {false, true}) {
            SCOPED_TRACE(std::string(text) + (aa ? " anti-aliased" : " 1-bit"));
            ASSERT_EQ(Lay(text), 0);
            qvGlyphResult result{};
            EXPECT_EQ(RenderGlyphs(&record_, 0, 0, aa, 0, false, Runs(), &result), ERR_MEM);
            EXPECT_EQ(result.bitmap, nullptr);
            EXPECT_EQ(result.mask, nullptr);
            EXPECT_EQ(result.alpha, nullptr);
        }
    }
}

TEST_F(SmoothGlyphTest, MemoryRunningOutLeavesNothing) {
    // Bold and italic outline glyphs are loaded anew every time, and FreeType keeps or drops
    // its slot's buffer as a load ends: the anti-aliased text sticks to cached glyphs.
    const std::string styles = "[edge=$FF,2]ab[/edge] [shadow=$80000000,2,5]cd [u]e";
    for (bool aa : {false, true}) {
        SCOPED_TRACE(aa ? "anti-aliased" : "1-bit");
        record_.style.font = aa ? vera_.get() : DefaultFont();
        ASSERT_EQ(Lay(aa ? styles : styles + "[b][i]f"), 0);
        // Once first, so that the font's own glyph caches are filled before counting blocks.
        qvGlyphResult warm{};
        ASSERT_EQ(RenderGlyphs(&record_, 0, 0, aa, 0, false, Runs(), &warm), 0);
        FreeGlyphResult(&warm);
        SweepAllocationFailures(
            [&] {
                qvGlyphResult result{};
                const int error = RenderGlyphs(&record_, 0, 0, aa, 0, false, Runs(), &result);
                EXPECT_TRUE(error == 0 || error == ERR_MEM) << error;
                FreeGlyphResult(&result);
                return error == 0;
            },
            [] {});
    }
}

}  // namespace
}  // namespace qv::testing
