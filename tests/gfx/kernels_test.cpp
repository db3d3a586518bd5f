#include "gfx/kernels/kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/gfx/support.h"

namespace {

using qv::test::ByDepth;
using qv::test::Canvas;

// A 1-bit plane with random bits and a stride wider than needed.
struct Bits {
    Bits(int32_t width, int32_t height, uint32_t seed)
        : bytesPerRow((width + 7) / 8 + 3), data(size_t(bytesPerRow) * height) {
        std::mt19937 random(seed);
        for (auto& byte : data) byte = uint8_t(random());
    }
    bool at(int32_t x, int32_t y) const {
        return (data[size_t(y) * bytesPerRow + (x >> 3)] & (0x80 >> (x & 7))) != 0;
    }
    int32_t bytesPerRow;
    std::vector<uint8_t> data;
};

struct Rect {
    int32_t sx, sy, dx, dy, width, height;
};

// Odd offsets, single rows and columns, a rectangle that spans several mask bytes, and
// empty ones.
const Rect kRects[] = {
    {0, 0, 0, 0, 13, 7}, {3, 1, 5, 2, 9, 4},  {7, 5, 1, 0, 1, 1},
    {1, 0, 6, 3, 23, 1}, {0, 2, 2, 0, 1, 6},  {9, 3, 4, 4, 17, 5},
    {0, 0, 0, 0, 0, 4},  {0, 0, 0, 0, 8, -1}, {0, 1, 3, 2, 37, 3},
};
constexpr int32_t kCanvasWidth = 40, kCanvasHeight = 12;

// Draws each rectangle into a random canvas; `inside(before, r, i, j)` is the pixel expected
// at (dx + i, dy + j), and every pixel outside the rectangle keeps its old value.
template <typename Draw, typename Inside>
void CheckEveryRect(int bytes, uint32_t seed, Draw draw, Inside inside) {
    for (const Rect& r : kRects) {
        Canvas canvas(bytes, kCanvasWidth, kCanvasHeight), before = canvas;
        canvas.Randomise(seed), before.Randomise(seed);
        draw(canvas, r);
        for (int32_t y = 0; y < kCanvasHeight; ++y) {
            for (int32_t x = 0; x < canvas.rowLength; ++x) {
                bool in = x >= r.dx && x < r.dx + r.width && y >= r.dy && y < r.dy + r.height;
                uint32_t want = in ? inside(before, r, x - r.dx, y - r.dy) : before.pixel(x, y);
                ASSERT_EQ(canvas.pixel(x, y), want) << x << "," << y;
            }
        }
        EXPECT_TRUE(canvas.CanariesIntact());
    }
}

class DepthTest : public ::testing::TestWithParam<int> {};

TEST_P(DepthTest, RectFillWritesOnlyTheRectangle) {
    const int bytes = GetParam();
    auto fill = ByDepth(bytes, RectFillPixels16, RectFillPixels24, RectFillPixels32);
    const uint32_t expected = 0xA1B2C3D4 & (bytes == 4 ? ~0u : (1u << (8 * bytes)) - 1);
    CheckEveryRect(
        bytes, 1,
        [&](Canvas& c, const Rect& r) {
            fill(c.base(), c.rowLength, r.dx, r.dy, r.width, r.height, 0xA1B2C3D4);
        },
        [&](Canvas&, const Rect&, int32_t, int32_t) { return expected; });
}

TEST_P(DepthTest, TemplateWritesTheColourUnderSetBits) {
    const int bytes = GetParam();
    auto blt = ByDepth(bytes, BltTemplatePixels16, BltTemplatePixels24, BltTemplatePixels32);
    Bits bits(kCanvasWidth, kCanvasHeight, 2);
    CheckEveryRect(
        bytes, 3,
        [&](Canvas& c, const Rect& r) {
            blt({bits.data.data(), c.base(), r.sx, r.sy, r.dx, r.dy, r.width, r.height,
                 bits.bytesPerRow, c.rowLength, 0x00654321});
        },
        [&](Canvas& before, const Rect& r, int32_t i, int32_t j) {
            return bits.at(r.sx + i, r.sy + j) ? uint32_t(0x654321 & ((1ull << (8 * bytes)) - 1))
                                               : before.pixel(r.dx + i, r.dy + j);
        });
}

TEST_P(DepthTest, MaskCopiesWhereTheSourceBitIsSet) {
    const int bytes = GetParam();
    auto blt = ByDepth(bytes, BltMaskPixels16, BltMaskPixels24, BltMaskPixels32);
    Canvas source(bytes, kCanvasWidth, kCanvasHeight);
    source.Randomise(4);
    for (uint32_t seed : {5u, 6u, 7u}) {
        Bits mask(kCanvasWidth, kCanvasHeight, seed);
        // Runs of empty and full bytes take the whole-byte paths: single bytes, then runs of
        // three that a row's end cuts short.
        for (size_t i = 0; i < mask.data.size(); i += 3) mask.data[i] = seed == 5 ? 0 : 0xFF;
        if (seed == 7) {
            for (size_t i = 0; i < mask.data.size(); ++i) mask.data[i] = (i / 3) % 2 ? 0xFF : 0;
        }
        CheckEveryRect(
            bytes, 7,
            [&](Canvas& c, const Rect& r) {
                blt({source.base(), c.base(), mask.data.data(), r.sx, r.sy, r.dx, r.dy, r.width,
                     r.height, source.rowLength, mask.bytesPerRow, c.rowLength, QV_MASK_PLAIN});
            },
            [&](Canvas& before, const Rect& r, int32_t i, int32_t j) {
                return mask.at(r.sx + i, r.sy + j) ? source.pixel(r.sx + i, r.sy + j)
                                                   : before.pixel(r.dx + i, r.dy + j);
            });
    }
}

TEST_P(DepthTest, BitMapCopiesTheRectangle) {
    const int bytes = GetParam();
    auto blt = ByDepth(bytes, BltBitMapPixels16, BltBitMapPixels24, BltBitMapPixels32);
    Canvas source(bytes, kCanvasWidth, kCanvasHeight);
    source.Randomise(8);
    CheckEveryRect(
        bytes, 9,
        [&](Canvas& c, const Rect& r) {
            blt({source.base(), c.base(), r.sx, r.sy, r.dx, r.dy, r.width, r.height,
                 source.rowLength, c.rowLength, 0, 0, 0});
        },
        [&](Canvas&, const Rect& r, int32_t i, int32_t j) {
            return source.pixel(r.sx + i, r.sy + j);
        });
}

INSTANTIATE_TEST_SUITE_P(Kernels, DepthTest, ::testing::Values(2, 3, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "bytes";
                         });

TEST(Kernels, RectFill24WritesValueBytesInOrder) {
    uint8_t pixel[3] = {};
    RectFillPixels24(pixel, 1, 0, 0, 1, 1, 0x123456);
    EXPECT_EQ(pixel[0], 0x12);
    EXPECT_EQ(pixel[1], 0x34);
    EXPECT_EQ(pixel[2], 0x56);
}

// The 32-bit fill stores whole aligned blocks in the middle of a row and overlapping ones at
// its ends: every width at every alignment writes exactly its pixels.
TEST(Kernels, RectFill32WritesEveryWidthAtEveryAlignment) {
    constexpr int32_t kRow = 64;
    for (int32_t x = 0; x < 8; ++x) {
        for (int32_t width = 0; width <= 40; ++width) {
            Canvas canvas(4, kRow, 2), before = canvas;
            canvas.Randomise(7), before.Randomise(7);
            RectFillPixels32(canvas.base(), canvas.rowLength, x, 1, width, 1, 0xA1B2C3D4);
            for (int32_t y = 0; y < 2; ++y) {
                for (int32_t i = 0; i < canvas.rowLength; ++i) {
                    const bool in = y == 1 && i >= x && i < x + width;
                    ASSERT_EQ(canvas.pixel(i, y), in ? 0xA1B2C3D4 : before.pixel(i, y))
                        << "x " << x << " width " << width << " at " << i << "," << y;
                }
            }
            ASSERT_TRUE(canvas.CanariesIntact());
        }
    }
}

TEST(Kernels, MaskConversionsReorderThirtyTwoBitPixels) {
    uint32_t source[2] = {0x80112233, 0xFF445566}, dest[2] = {};
    uint8_t mask[2] = {0xC0, 0};
    BltMaskPixels32({source, dest, mask, 0, 0, 0, 0, 2, 1, 2, 2, 2, QV_MASK_TO_BGRA});
    EXPECT_EQ(dest[0], 0x33221100u);
    EXPECT_EQ(dest[1], 0x66554400u);
    BltMaskPixels32({source, dest, mask, 0, 0, 0, 0, 2, 1, 2, 2, 2, QV_MASK_SHIFT8});
    EXPECT_EQ(dest[0], 0x11223300u);
}

TEST(Kernels, BitMapReorderKeepsTheDestinationAlpha) {
    for (uint32_t from = QV_FMT_A8R8G8B8; from <= QV_FMT_A8B8G8R8; ++from) {
        for (uint32_t to = QV_FMT_A8R8G8B8; to <= QV_FMT_A8B8G8R8; ++to) {
            uint32_t source = ARGBToPixel32(from, 0x00ABCDEF);
            uint32_t alpha = to == QV_FMT_B8G8R8A8 || to == QV_FMT_R8G8B8A8 ? 0x5A : 0x5A000000;
            uint32_t dest = alpha | ARGBToPixel32(to, 0x00FFFFFF);
            BltBitMapPixels32({&source, &dest, 0, 0, 0, 0, 1, 1, 1, 1, 1, from, to});
            EXPECT_EQ(dest, alpha | ARGBToPixel32(to, 0x00ABCDEF)) << from << "->" << to;
        }
    }
}

TEST(Kernels, ConvertARGBMatchesThePixelFormat) {
    const qvARGB source[4] = {0x80123456, 0xFFFFFFFF, 0x00000000, 0x7F0A0B0C};
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        const int bytes = qv::BytesPerPixel(format);
        Canvas canvas(bytes, 4, 1);
        qvConversionBlock block{source, canvas.base(),    0,     0, 0, 0, 4, 1,
                                4,      canvas.rowLength, format};
        ByDepth(bytes, ConvertARGBPixels16, ConvertARGBPixels24, ConvertARGBPixels32)(block);
        for (int32_t x = 0; x < 4; ++x) {
            uint32_t expected =
                format == QV_FMT_A8R8G8B8 ? source[x] : RGBToPixelFormat(source[x], format);
            EXPECT_EQ(canvas.pixel(x, 0), expected) << "format " << format << " x " << x;
        }
        EXPECT_TRUE(canvas.CanariesIntact());
    }
}

TEST(Kernels, ConvertARGBIgnoresFormatsOfAnotherDepth) {
    const qvARGB source = 0x123456;
    Canvas canvas(4, 1, 1), before = canvas;
    ConvertARGBPixels32({&source, canvas.base(), 0, 0, 0, 0, 1, 1, 1, 1, QV_FMT_R5G6B5});
    EXPECT_EQ(canvas.data, before.data);
}

TEST(Kernels, DecodeGivesBlackForUnknownFormats) {
    uint32_t pixel = 0xFFFFFFFF;
    qvARGB out = 1;
    qv::DecodePixelsToARGB(&pixel, 14, &out, 1);
    EXPECT_EQ(out, 0u);
}

struct HAMCase {
    const char* name;
    int32_t mode;
    std::vector<qvARGB> palette;
    std::vector<uint8_t> row;
    std::vector<qvARGB> expected;
};

TEST(Kernels, HAMDecodesHeldColours) {
    const HAMCase cases[] = {
        {"ham6 red from entry 0", 6, {0x00ABCDEF}, {0x21}, {0x11CCEE}},
        {"ham6 modify chain",
         6,
         {0, 0x00F0F0F0},
         {0x01, 0x1A, 0x25, 0x3C},
         {0xFFFFFF, 0xFFFFAA, 0x55FFAA, 0x55CCAA}},
        {"ham6 short palette", 6, {0x00FFFFFF}, {0x05, 0x30 | 7}, {0, 0x007700}},
        {"ham8 keeps two low bits",
         8,
         {0x00030303},
         {0x7F, 0xBF, 0xC0},
         {0x0303FF, 0xFF03FF, 0xFF03FF}},
        {"ham8 palette unchanged", 8, {0, 0x00123457}, {0x01, 0x40}, {0x123457, 0x123403}},
        {"ham8 index past palette", 8, {0x00FFFFFF}, {0x3F}, {0}},
        {"palette mode", 0, {0x00112233, 0xFF445566}, {1, 0, 200}, {0x445566, 0x112233, 0}},
    };
    for (const auto& c : cases) {
        std::vector<qvARGB> out(c.row.size(), 0xDEADBEEF);
        HAMToARGB(c.row.data(), out.data(), c.palette.data(), int32_t(c.palette.size()),
                  int32_t(c.row.size()), 1, int32_t(c.row.size()), c.mode);
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(Kernels, HAMRowsStartFromPaletteEntryZero) {
    const qvARGB palette[2] = {0x00102030, 0x00FFFFFF};
    const uint8_t rows[4] = {0x01, 0x2F, 0x2F, 0x01};  // two rows of two, stride 2
    qvARGB out[4];
    HAMToARGB(rows, out, palette, 2, 2, 2, 2, 6);
    EXPECT_EQ(out[1], 0xFFFFFFu);
    EXPECT_EQ(out[2], 0xFF2233u);
}

// A 4:2:0 frame with random planes and padded strides.
struct Frame {
    Frame(int32_t width, int32_t height, uint32_t seed)
        : width(width),
          height(height),
          strideY(width + 3),
          strideUV((width + 1) / 2 + 5),
          y(size_t(strideY) * height),
          u(size_t(strideUV) * ((height + 1) / 2)),
          v(u.size()) {
        std::mt19937 random(seed);
        for (auto* plane : {&y, &u, &v}) {
            for (auto& byte : *plane) byte = uint8_t(random());
        }
    }
    uint32_t Expected(int32_t x, int32_t row) const {
        size_t chroma = size_t(row / 2) * strideUV + x / 2;
        return qv::YUVToRGB(y[size_t(row) * strideY + x], u[chroma], v[chroma]);
    }
    qvYUVFrameBlock Block(void* dest, int32_t destRowLength, uint32_t format) const {
        return {y.data(), u.data(), v.data(), strideY,       strideUV, strideUV,
                dest,     width,    height,   destRowLength, format,   qv::BytesPerPixel(format),
                width,    height};
    }
    int32_t width, height, strideY, strideUV;
    std::vector<uint8_t> y, u, v;
};

TEST(Kernels, YUVScalingPicksSourcePixelsBy16Dot16Steps) {
    const Frame frame(10, 4, 11);
    Canvas canvas(4, 7, 3);
    qvYUVFrameBlock block = frame.Block(canvas.base(), canvas.rowLength, QV_FMT_A8R8G8B8);
    block.destWidth = 7, block.destHeight = 3;
    ConvertYUVFrame(block);
    uint64_t stepX = (10ull << 16) / 7, stepY = (4ull << 16) / 3;
    for (int32_t j = 0; j < 3; ++j) {
        for (int32_t i = 0; i < 7; ++i) {
            auto sx = int32_t(i * stepX >> 16), sy = int32_t(j * stepY >> 16);
            EXPECT_EQ(canvas.pixel(i, j), frame.Expected(sx, sy)) << i << "," << j;
        }
    }
}

TEST(Kernels, YUVScalingOfWideSourcesDoesNotOverflow) {
    // 40000 << 16 does not fit 32 bits; the steps and positions must.
    const int32_t width = 40000;
    std::vector<uint8_t> y(width), chroma((width + 1) / 2, 128);
    for (int32_t x = 0; x < width; ++x)
        y[x] = x == 8000 * (x / 8000) ? uint8_t(16 + x / 8000 * 40) : 16;
    uint32_t out[5] = {};
    ConvertYUVFrame({y.data(), chroma.data(), chroma.data(), width, width, width, out, width, 1, 5,
                     QV_FMT_A8R8G8B8, 4, 5, 1});
    for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(out[i], qv::YUVToRGB(16 + i * 40, 128, 128)) << i;
}

TEST(Kernels, YUVRefusesADepthThatDisagreesWithTheFormat) {
    const Frame frame(4, 2, 12);
    Canvas canvas(4, 4, 2), before = canvas;
    qvYUVFrameBlock block = frame.Block(canvas.base(), canvas.rowLength, QV_FMT_A8R8G8B8);
    block.bytesPerPixel = 3;
    ConvertYUVFrameUnscaled(block);
    ConvertYUVFrame(block);
    EXPECT_EQ(canvas.data, before.data);
}

TEST(Kernels, PlainCopiesHonourTheirStrides) {
    const Frame frame(5, 3, 13);
    std::vector<uint8_t> packed(8 * 3 + 4 * 2 * 2, 0xEE);
    CopyYUVPlanes(frame.y.data(), frame.u.data(), frame.v.data(), frame.strideY, frame.strideUV,
                  frame.strideUV, packed.data(), 8, 4, 5, 3);
    EXPECT_EQ(packed[8 * 2 + 4], frame.y[size_t(frame.strideY) * 2 + 4]);
    EXPECT_EQ(packed[8 * 2 + 5], 0xEE);
    EXPECT_EQ(packed[24 + 4 + 2], frame.u[size_t(frame.strideUV) + 2]);
    EXPECT_EQ(packed[24 + 8 + 4 + 2], frame.v[size_t(frame.strideUV) + 2]);

    const uint16_t rows[6] = {1, 2, 3, 4, 5, 6};
    uint16_t dest[8] = {};
    CopyRows16(rows, 6, dest, 8, 2, 2);
    EXPECT_EQ(dest[0], 1);
    EXPECT_EQ(dest[4], 4);
    EXPECT_EQ(dest[2], 0);

    const qvARGB argb[4] = {0x11000000, 0x22000000, 0x33000000, 0x44000000};
    uint8_t plane[8] = {};
    ExtractAlphaPlane(argb, plane, 2, 2, 4);
    EXPECT_EQ(plane[1], 0x22);
    EXPECT_EQ(plane[4], 0x33);
    EXPECT_EQ(plane[2], 0);
}

}  // namespace
