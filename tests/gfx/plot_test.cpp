// The pixel plotters: blending, textures, the optional clip, the destination bounds, thick
// lines, anti-aliased lines and coverage maps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "gfx/line_walk.h"
#include "gfx/plot.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/guarded_bitmap.h"

namespace {

using qv::test::BitMapPtr;

qvPlotContext ContextFor(qvDisplayBitMap* bitmap, uint32_t rgb, int32_t alpha) {
    qvPlotContext c{};
    c.base = bitmap->pixels, c.rowLength = bitmap->rowLength;
    c.bytesPerPixel = bitmap->bytesPerPixel, c.format = bitmap->format;
    c.red = uint8_t(rgb >> 16), c.green = uint8_t(rgb >> 8), c.blue = uint8_t(rgb);
    c.alpha = alpha, c.globalAlpha = 255, c.thickness = 1;
    c.width = bitmap->width, c.height = bitmap->height;
    return c;
}

// A white 8-bit-channel canvas: plotting black, the red channel reads 255 - coverage.
BitMapPtr WhiteCanvas(int32_t width, int32_t height) {
    BitMapPtr canvas(qv::AllocBitMapInFormat(width, height, QV_FMT_A8R8G8B8, false));
    RectFill(canvas.get(), 0, 0, width, height, 0xFFFFFF);
    return canvas;
}

int32_t Coverage(const qvDisplayBitMap* canvas, int32_t x, int32_t y) {
    return 255 - int32_t(ReadBitMapPixel(canvas, x, y) >> 16);
}

uint32_t Blend(uint32_t under, uint32_t colour, int32_t alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const int32_t d = int32_t((under >> shift) & 255), c = int32_t((colour >> shift) & 255);
        out |= uint32_t(d + (((c - d) * alpha) >> 8)) << shift;
    }
    return out;
}

TEST(PlotClippedPixel, BlendsWritesAndTakesTheTexture) {
    BitMapPtr bitmap(AllocDisplayBitMap(4, 1)), texture(AllocDisplayBitMap(4, 1));
    const uint32_t format = bitmap->format;
    RectFill(bitmap.get(), 0, 0, 4, 1, 0x4080C0);
    RectFill(texture.get(), 0, 0, 4, 1, 0x102030);
    const uint32_t under = ReadBitMapPixel(bitmap.get(), 0, 0);
    qvPlotContext c = ContextFor(bitmap.get(), 0xF0E0D0, 128);
    PlotClippedPixel(c, 0, 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 0, 0),
              qv::test::AsStored(format, Blend(under, 0xF0E0D0, 128)));
    c.noBlend = true;
    PlotClippedPixel(c, 1, 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 1, 0), qv::test::AsStored(format, 0xF0E0D0));
    c.noBlend = false, c.alpha = 255;
    c.texture = texture->pixels, c.textureRowLength = texture->rowLength;
    PlotClippedPixel(c, 2, 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 2, 0), ReadBitMapPixel(texture.get(), 2, 0));
    c.alpha = 0;  // a transparent plot leaves the pixel
    PlotClippedPixel(c, 3, 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 3, 0), under);
}

TEST(Plotters, HonourTheClipRectangleAndMask) {
    BitMapPtr canvas = WhiteCanvas(10, 10);
    qvPlotContext c = ContextFor(canvas.get(), 0, 255);
    // A 4 x 4 clip at (2, 3) whose mask shows every other column.
    const uint8_t mask[4 * 2] = {0xA0, 0, 0xA0, 0, 0xA0, 0, 0xA0, 0};
    c.clip = true, c.clipX = 2, c.clipY = 3, c.clipWidth = 4, c.clipHeight = 4;
    c.clipMask = mask, c.clipMaskBytesPerRow = 2;
    const std::vector<uint8_t> full(100, 255);
    PlotCoverageMap(full.data(), 0, 0, c, 10, 10, 10, false);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 3 && y < 7;
            const bool shown = inside && (x - 2) % 2 == 0;
            EXPECT_EQ(Coverage(canvas.get(), x, y), shown ? 255 : 0) << x << "," << y;
        }
    }
}

TEST(Plotters, NeverWriteOutsideTheDestination) {
    qv::test::GuardedBitMap guarded(6, 5, QV_FMT_A8R8G8B8);
    qvPlotContext c = ContextFor(guarded.get(), 0x123456, 200);
    c.thickness = 5;
    PlotThickLine(c, -10, -10, 20, 15);
    PlotThickLine(c, -2000000000, 2, 2000000000, 3);
    PlotAALine(c, -3, -7, 12, 9);
    PlotAALine(c, -2000000000, -1, 2000000000, 4);
    const std::vector<uint8_t> full(144, 255);
    PlotCoverageMap(full.data(), -3, -3, c, 12, 12, 12, false);
    PlotCoverageMap(full.data(), 2147483600, 0, c, 12, 12, 12, true);
    for (auto [x, y] : {std::pair{6, 0}, std::pair{-1, 0}, std::pair{0, 5}, std::pair{0, -1}}) {
        PlotClippedPixel(c, x, y);
    }
    EXPECT_TRUE(guarded.rows().GuardsIntact());
    EXPECT_TRUE(guarded.rows().PaddingIntact());
    // The part inside was drawn.
    EXPECT_EQ(ReadBitMapPixel(guarded.get(), 5, 4) & 0xFFFFFF,
              ReadBitMapPixel(guarded.get(), 0, 0) & 0xFFFFFF);
}

// The walker steps its minor offset by a remainder; it visits the pixels of the rounding
// formula (2 i minor + major) / (2 major) exactly, also for far ends cut to the area.
TEST(WalkLine, StepsAsTheRoundingFormulaDoes) {
    if (!qv::test::DefaultScreenFormat()) GTEST_SKIP() << "independent of the format";
    std::mt19937 random(17);
    std::uniform_int_distribution<int64_t> near(-40, 80), far(-3000000000LL, 3000000000LL);
    std::uniform_int_distribution<int64_t> side(1, 80);
    for (int n = 0; n < 3000; ++n) {
        const bool distant = n % 4 == 0;
        const int64_t x1 = distant ? far(random) : near(random), y1 = near(random);
        const int64_t x2 = near(random), y2 = distant ? far(random) : near(random);
        const int64_t width = side(random), height = side(random);
        std::vector<std::pair<int64_t, int64_t>> walked, expected;
        qv::WalkLine(x1, y1, x2, y2, width, height,
                     [&](int64_t x, int64_t y) { walked.emplace_back(x, y); });
        const int64_t dx = x2 - x1, dy = y2 - y1;
        const bool xMajor = std::abs(dx) >= std::abs(dy);
        const int64_t major = std::max(std::abs(dx), std::abs(dy));
        const int64_t minor = std::min(std::abs(dx), std::abs(dy));
        const int64_t start = xMajor ? x1 : y1, sign = (xMajor ? dx : dy) < 0 ? -1 : 1;
        // Every step whose major coordinate lies inside the area.
        for (int64_t m = 0; m < (xMajor ? width : height); ++m) {
            const int64_t i = (m - start) * sign;
            if (i < 0 || i > major) continue;
            const auto offset =
                int64_t(major == 0 ? 0 : (2 * __int128(i) * minor + major) / (2 * major));
            const int64_t b = (xMajor ? y1 : x1) + ((xMajor ? dy : dx) < 0 ? -offset : offset);
            const int64_t x = xMajor ? m : b, y = xMajor ? b : m;
            if (x >= 0 && y >= 0 && x < width && y < height) expected.emplace_back(x, y);
        }
        std::sort(walked.begin(), walked.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(walked, expected) << x1 << "," << y1 << " - " << x2 << "," << y2;
    }
}

TEST(PlotThickLine, RunsOfTheThicknessAcrossTheMajorAxis) {
    const struct {
        int32_t x1, y1, x2, y2, thickness;
        int32_t left, top, right, bottom;  // the covered box, inclusive
    } rows[] = {
        {2, 5, 8, 5, 3, 2, 4, 8, 6},  // horizontal: rows 4..6
        {4, 1, 4, 7, 2, 4, 1, 5, 7},  // vertical, even: columns 4 and 5
        {8, 5, 2, 5, 0, 2, 5, 8, 5},  // reversed; thickness below 1 draws one pixel
        {1, 1, 1, 1, 1, 1, 1, 1, 1},  // one point
    };
    for (const auto& row : rows) {
        BitMapPtr canvas = WhiteCanvas(12, 10);
        qvPlotContext c = ContextFor(canvas.get(), 0, 255);
        c.thickness = row.thickness;
        PlotThickLine(c, row.x1, row.y1, row.x2, row.y2);
        for (int32_t y = 0; y < 10; ++y) {
            for (int32_t x = 0; x < 12; ++x) {
                const bool in = x >= row.left && x <= row.right && y >= row.top && y <= row.bottom;
                ASSERT_EQ(Coverage(canvas.get(), x, y), in ? 255 : 0)
                    << row.x1 << "," << row.y1 << " at " << x << "," << y;
            }
        }
    }
}

TEST(PlotAALine, CoveragesOfEachStepAddUpTo255) {
    const struct {
        int32_t x1, y1, x2, y2, global;
    } rows[] = {
        {2, 3, 17, 9, 255},
        {17, 9, 2, 3, 255},
        {5, 1, 9, 18, 255},
        {3, 15, 15, 2, 255},
        {0, 0, 12, 12, 255},
        {1, 18, 18, 17, 255},
        {2, 3, 17, 9, 100},
        {5, 1, 9, 18, 7},
        // |dx| >= 32768 along a steep line: the 16.16 step needs 64 bits.
        {0, 0, 40000, 40001, 255},
    };
    for (const auto& row : rows) {
        BitMapPtr canvas = WhiteCanvas(20, 20);
        qvPlotContext c = ContextFor(canvas.get(), 0, 255);
        c.globalAlpha = row.global;
        PlotAALine(c, row.x1, row.y1, row.x2, row.y2);
        const bool yMajor = std::abs(row.y2 - row.y1) >= std::abs(row.x2 - row.x1);
        const int32_t from = std::min(yMajor ? row.y1 : row.x1, yMajor ? row.y2 : row.x2);
        const int32_t to =
            std::min(std::max(yMajor ? row.y1 : row.x1, yMajor ? row.y2 : row.x2), 19);
        for (int32_t m = 0; m < 20; ++m) {
            int32_t sum = 0, pixels = 0;
            for (int32_t n = 0; n < 20; ++n) {
                const int32_t coverage =
                    yMajor ? Coverage(canvas.get(), n, m) : Coverage(canvas.get(), m, n);
                sum += coverage, pixels += coverage != 0;
            }
            const bool onLine = m >= from && m <= to;
            if (!onLine) {
                EXPECT_EQ(sum, 0) << row.x1 << "," << row.y1 << " step " << m;
                continue;
            }
            // Each coverage is scaled by itself, so the pair may lose 1 to rounding.
            EXPECT_GE(sum, row.global - 1) << row.x1 << "," << row.y1 << " step " << m;
            EXPECT_LE(sum, row.global) << row.x1 << "," << row.y1 << " step " << m;
            EXPECT_LE(pixels, 2);
        }
    }
    // The steep long line stays on the diagonal.
    BitMapPtr canvas = WhiteCanvas(20, 20);
    qvPlotContext c = ContextFor(canvas.get(), 0, 255);
    PlotAALine(c, 0, 0, 40000, 40001);
    for (int32_t y = 0; y < 20; ++y) EXPECT_GT(Coverage(canvas.get(), y, y), 128) << y;
}

TEST(PlotAALine, EqualEndPointsDrawNothing) {
    BitMapPtr canvas = WhiteCanvas(8, 8);
    qvPlotContext c = ContextFor(canvas.get(), 0, 255);
    PlotAALine(c, 3, 3, 3, 3);
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(Coverage(canvas.get(), x, y), 0);
    }
}

TEST(PlotCoverageMap, CoverageGlobalAlphaAndAllOrNothing) {
    const uint8_t map[2 * 4] = {0, 255, 128, 64, 1, 0, 200, 255};
    const struct {
        bool allOrNothing;
        int32_t alpha, global;
    } rows[] = {{false, 255, 255}, {false, 255, 128}, {true, 90, 255}, {true, 255, 10}};
    for (const auto& row : rows) {
        BitMapPtr canvas(qv::AllocBitMapInFormat(4, 2, QV_FMT_A8R8G8B8, false));
        RectFill(canvas.get(), 0, 0, 4, 2, 0);
        qvPlotContext c = ContextFor(canvas.get(), 0xFFFFFF, row.alpha);
        c.globalAlpha = row.global;
        PlotCoverageMap(map, 0, 0, c, 4, 2, 4, row.allOrNothing);
        for (int32_t i = 0; i < 8; ++i) {
            const int32_t coverage = map[i];
            int32_t alpha = row.allOrNothing    ? row.alpha
                            : row.global != 255 ? coverage * row.global / 255
                                                : coverage;
            if (coverage == 0) alpha = 0;
            const uint32_t want = alpha >= 255 ? 255 : (255 * uint32_t(alpha)) >> 8;
            EXPECT_EQ(ReadBitMapPixel(canvas.get(), i % 4, i / 4) & 255, want)
                << row.allOrNothing << " " << row.global << " byte " << i;
        }
    }
}

}  // namespace
