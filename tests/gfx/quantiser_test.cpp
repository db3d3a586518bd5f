// The quantiser's own cases: single colours, the transparent entry, colour limits, cells
// sharing an index, failures, and box sums beyond 32 bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gfx/kernels/rows.h"
#include "gfx/quantiser.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::AsStored;

// A picture in a format with its request.
struct Picture {
    Picture(int32_t width, int32_t height, uint32_t format)
        : width(width),
          height(height),
          format(format),
          pixels(size_t(width) * height * qv::BytesPerPixel(format) + 4),
          indices(size_t(width) * height, 0xEE) {}

    void Set(int32_t x, int32_t y, uint32_t rgb) {
        qv::StorePixel(qv::PixelAt(pixels.data(), width, qv::BytesPerPixel(format), x, y),
                       qv::BytesPerPixel(format), RGBToPixelFormat(rgb, format));
    }
    void Fill(uint32_t rgb) {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) Set(x, y, rgb);
        }
    }
    qvQuantizeRequest Request(int32_t wanted, uint32_t transparent = QV_NO_TRANSPARENT,
                              int32_t extra = 0, int32_t dither = 0) {
        return {pixels.data(),  format,  qv::BytesPerPixel(format),
                width,          height,  width,
                indices.data(), palette, wanted,
                transparent,    extra,   dither};
    }

    int32_t width, height;
    uint32_t format;
    std::vector<uint8_t> pixels;
    std::vector<uint8_t> indices;
    uint32_t palette[257] = {};
};

// The box colour of cells holding one colour: the mean of their centres is the centre.
uint32_t CellCentre(uint32_t rgb) {
    return ((rgb >> 16 & 0xF8) + 4) << 16 | ((rgb >> 8 & 0xFC) + 2) << 8 | ((rgb & 0xF8) + 4);
}

TEST(Quantiser, OneColourGivesOneEntry) {
    for (int32_t dither : {0, 1}) {
        Picture p(7, 5, qv::ScreenFormat());
        p.Fill(0x3060C0);
        qvQuantizeRequest q = p.Request(16, QV_NO_TRANSPARENT, 0, dither);
        ASSERT_EQ(QuantizeBitmap(&q), 1);
        ASSERT_EQ(q.colourCount, 1);
        EXPECT_EQ(p.palette[0], CellCentre(AsStored(p.format, 0x3060C0)));
        EXPECT_TRUE(
            std::all_of(p.indices.begin(), p.indices.end(), [](uint8_t i) { return i == 0; }));
        // With a transparent colour (not in the picture) one entry more, the colour itself.
        q = p.Request(16, 0x123456, 0, dither);
        ASSERT_EQ(QuantizeBitmap(&q), 1);
        ASSERT_EQ(q.colourCount, 2);
        EXPECT_EQ(p.palette[1], 0x123456u);
    }
}

// Only the transparent colour: one empty box (white), then the transparent entry.
TEST(Quantiser, OnlyTheTransparentColour) {
    for (int32_t dither : {0, 1}) {
        Picture p(6, 4, QV_FMT_R8G8B8);
        p.Fill(0x00FF00);
        qvQuantizeRequest q = p.Request(8, 0x00FF00, 0, dither);
        ASSERT_EQ(QuantizeBitmap(&q), 1);
        ASSERT_EQ(q.colourCount, 2);
        EXPECT_EQ(p.palette[0], 0xFFFFFFu);
        EXPECT_EQ(p.palette[1], 0x00FF00u);
        EXPECT_TRUE(
            std::all_of(p.indices.begin(), p.indices.end(), [](uint8_t i) { return i == 1; }));
    }
}

Picture Random(int32_t width, int32_t height, uint32_t format, uint32_t seed) {
    Picture p(width, height, format);
    std::mt19937 random(seed);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) p.Set(x, y, random() & 0xFFFFFF);
    }
    return p;
}

struct LimitCase {
    int32_t wanted;
    uint32_t transparent;
    int32_t extra;
    int32_t maximum;  // entries written
};

TEST(Quantiser, ColourLimits) {
    const LimitCase cases[] = {
        {300, QV_NO_TRANSPARENT, 0, 256},
        {300, 0x010203, 0, 256},
        {300, QV_NO_TRANSPARENT, 1, 256},
        {256, 0x010203, 0, 256},
        {0, QV_NO_TRANSPARENT, 0, 1},
        {-5, QV_NO_TRANSPARENT, 0, 1},
        {0, 0x010203, 0, 2},
        {2, QV_NO_TRANSPARENT, 1, 3},
    };
    Picture p = Random(64, 64, QV_FMT_A8R8G8B8, 1);
    p.Set(5, 5, 0x010203);
    for (const LimitCase& c : cases) {
        qvQuantizeRequest q = p.Request(c.wanted, c.transparent, c.extra);
        ASSERT_EQ(QuantizeBitmap(&q), 1);
        EXPECT_EQ(q.colourCount, c.maximum) << c.wanted << " " << c.transparent << " " << c.extra;
        const bool reserved = c.transparent != QV_NO_TRANSPARENT || c.extra != 0;
        if (reserved) {
            EXPECT_EQ(p.palette[q.colourCount - 1],
                      c.transparent != QV_NO_TRANSPARENT ? c.transparent : 0u);
        }
        const int32_t boxes = q.colourCount - (reserved ? 1 : 0);
        for (uint8_t index : p.indices) ASSERT_LT(index, q.colourCount);
        EXPECT_EQ(p.indices[5 * 64 + 5],
                  c.transparent != QV_NO_TRANSPARENT ? boxes : p.indices[5 * 64 + 5]);
    }
}

// Without dithering two pixels of one histogram cell get one index.
TEST(Quantiser, PixelsOfOneCellShareAnIndex) {
    Picture p = Random(97, 31, qv::ScreenFormat(), 2);
    qvQuantizeRequest q = p.Request(50);
    ASSERT_EQ(QuantizeBitmap(&q), 1);
    std::map<uint32_t, uint8_t> byCell;
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            uint8_t c[3];
            ReadPixelRGB(qv::PixelAt(p.pixels.data(), p.width, qv::BytesPerPixel(p.format), x, y),
                         p.format, c);
            const uint32_t cell =
                uint32_t(c[0] >> 3) << 11 | uint32_t(c[1] >> 2) << 5 | (c[2] >> 3);
            const uint8_t index = p.indices[size_t(y) * p.width + x];
            auto [it, inserted] = byCell.emplace(cell, index);
            ASSERT_EQ(it->second, index) << x << "," << y;
        }
    }
}

TEST(Quantiser, FailuresWriteNoPalette) {
    Picture p = Random(33, 9, QV_FMT_R5G6B5, 3);
    for (int32_t dither : {0, 1}) {
        for (uint64_t n = 1;; ++n) {
            std::fill(std::begin(p.palette), std::end(p.palette), 0xABCDEF);
            qvQuantizeRequest q = p.Request(16, QV_NO_TRANSPARENT, 0, dither);
            int result;
            {
                qv::AllocationFault fault(n, false);
                result = QuantizeBitmap(&q);
            }
            if (result == 1) break;
            EXPECT_EQ(result, 0);
            EXPECT_EQ(q.colourCount, 16);
            EXPECT_TRUE(std::all_of(std::begin(p.palette), std::end(p.palette),
                                    [](uint32_t v) { return v == 0xABCDEF; }));
            ASSERT_LT(n, 10u);
        }
    }
    qvQuantizeRequest q = p.Request(16);
    q.bytesPerPixel = 4;  // not the format's
    EXPECT_EQ(QuantizeBitmap(&q), 0);
    q = p.Request(16);
    q.format = 14;
    EXPECT_EQ(QuantizeBitmap(&q), 0);
    EXPECT_EQ(QuantizeBitmap(nullptr), 0);
}

// Dithering keeps every index valid and the transparent pixels on their entry.
TEST(Quantiser, DitheredTransparentPixels) {
    Picture p = Random(41, 17, qv::ScreenFormat(), 4);
    const uint32_t key = AsStored(p.format, 0x0000FF);
    for (int32_t x = 0; x < p.width; x += 3) p.Set(x, x % p.height, key);
    qvQuantizeRequest q = p.Request(8, key, 0, 1);
    ASSERT_EQ(QuantizeBitmap(&q), 1);
    ASSERT_EQ(p.palette[q.colourCount - 1], key);
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t x = 0; x < p.width; ++x) {
            const uint8_t index = p.indices[size_t(y) * p.width + x];
            const bool keyed = x % 3 == 0 && y == x % p.height;
            EXPECT_EQ(index == q.colourCount - 1, keyed) << x << "," << y;
        }
    }
}

// One box of some 16.8 million counted pixels whose red sum passes 2^32: rows of 256 colours,
// each 16 times, read 4100 times through a row length of 0.
TEST(Quantiser, BoxSumsBeyond32Bits) {
    const char* format = std::getenv("QV_SCREEN_FORMAT");
    if (format != nullptr && std::string(format) != "10") GTEST_SKIP() << "format independent";
    Picture p(4096, 1, QV_FMT_R8G8B8);
    for (int32_t x = 0; x < 4096; ++x) {
        const int32_t colour = x % 256;
        p.Set(x, 0, 0xFF0000 | uint32_t(colour % 64) * 4 << 8 | uint32_t(colour / 64) * 8);
    }
    qvQuantizeRequest q = p.Request(1);
    q.height = 4100, q.rowLength = 0;
    std::vector<uint8_t> indices(size_t(4096) * 4100);
    q.indices = indices.data();
    ASSERT_EQ(QuantizeBitmap(&q), 1);
    ASSERT_EQ(q.colourCount, 1);
    EXPECT_EQ(p.palette[0], uint32_t(252 << 16 | 128 << 8 | 16));
}

}  // namespace
