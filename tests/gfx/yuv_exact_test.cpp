// The frame converters against the integer formula itself, written out here in 64 bits:
// every (Y, U, V) once, and rows of every width class in every format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "gfx/kernels/kernels.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::Canvas;
using qv::test::DefaultScreenFormat;

uint32_t Formula(int64_t y, int64_t u, int64_t v) {
    auto channel = [](int64_t numerator, int64_t divisor) {
        return uint32_t(std::clamp<int64_t>(numerator / divisor, 0, 255));  // truncating
    };
    return channel(1904000 * y + 2609823 * v - 363703744, 1635200) << 16 |
           channel(3827562 * y - 1287801 * u - 2672387 * v + 447306710, 3287200) << 8 |
           channel(952000 * y + 1649289 * u - 225932192, 817600);
}

TEST(YUVExact, EveryInputTripleMatchesTheFormula) {
    if (!DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    // One row per V: Y counts through 0..255 under every U, so chroma sample x holds
    // U = x >> 7 for luma pixels 2x and 2x + 1.
    constexpr int32_t kWidth = 256 * 256;
    std::vector<uint8_t> y(kWidth), u(kWidth / 2), v(kWidth / 2);
    for (int32_t x = 0; x < kWidth; ++x) y[x] = uint8_t(x);
    for (int32_t x = 0; x < kWidth / 2; ++x) u[x] = uint8_t(x >> 7);
    std::vector<uint32_t> row(kWidth);
    for (int32_t chromaV = 0; chromaV < 256; ++chromaV) {
        std::fill(v.begin(), v.end(), uint8_t(chromaV));
        ConvertYUVFrameUnscaled({y.data(), u.data(), v.data(), kWidth, kWidth / 2, kWidth / 2,
                                 row.data(), kWidth, 1, kWidth, QV_FMT_A8R8G8B8, 4, kWidth, 1});
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint32_t expected = Formula(x & 255, x >> 8, chromaV);
            ASSERT_EQ(row[x], expected)
                << "Y " << (x & 255) << " U " << (x >> 8) << " V " << chromaV;
            ASSERT_EQ(qv::YUVToRGB(x & 255, x >> 8, chromaV), expected)
                << "Y " << (x & 255) << " U " << (x >> 8) << " V " << chromaV;
        }
    }
}

// Widths around the 16-pixel steps and the 512-pixel scratch rows of the packed formats,
// with odd heights, padded strides and canaries around the destination.
TEST(YUVExact, RowsOfEveryWidthAndFormatMatchTheFormula) {
    const int32_t widths[] = {1, 2, 15, 16, 17, 31, 32, 33, 47, 511, 512, 513, 1039};
    std::mt19937 random(21);
    for (int32_t width : widths) {
        const int32_t height = 3, strideY = width + 7, strideUV = (width + 1) / 2 + 3;
        std::vector<uint8_t> y(size_t(strideY) * height), u(size_t(strideUV) * 2), v(u.size());
        for (auto* plane : {&y, &u, &v}) {
            for (auto& byte : *plane) byte = uint8_t(random());
        }
        for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
            for (auto convert : {ConvertYUVFrameUnscaled, ConvertYUVFrame}) {
                Canvas canvas(qv::BytesPerPixel(format), width, height);
                convert({y.data(), u.data(), v.data(), strideY, strideUV, strideUV, canvas.base(),
                         width, height, canvas.rowLength, format, qv::BytesPerPixel(format), width,
                         height});
                for (int32_t j = 0; j < height; ++j) {
                    for (int32_t i = 0; i < width; ++i) {
                        const size_t chroma = size_t(j / 2) * strideUV + i / 2;
                        const uint32_t rgb =
                            Formula(y[size_t(j) * strideY + i], u[chroma], v[chroma]);
                        ASSERT_EQ(canvas.pixel(i, j), RGBToPixelFormat(rgb, format))
                            << "width " << width << " format " << format << " at " << i << "," << j;
                    }
                }
                EXPECT_TRUE(canvas.CanariesIntact()) << "width " << width << " format " << format;
            }
        }
    }
}

}  // namespace
