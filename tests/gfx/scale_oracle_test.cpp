// ScaleBitmap against OpenCV in every pixel format: nearest neighbour against cv::resize,
// bilinear against cv::remap driven by the same sample positions.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

#include "gfx/scale.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/coordinate_picture.h"
#include "tests/gfx/support/cv_images.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::Channels;
using qv::test::CoordinateBitMap;
using qv::test::Outputs;

// The source indices of a coordinate picture scaled by ScaleBitmap.
cv::Mat ScaledIndices(const qvDisplayBitMap* source, int32_t destWidth, int32_t destHeight) {
    Outputs out;
    EXPECT_EQ(ScaleBitmap(const_cast<qvDisplayBitMap*>(source), nullptr, nullptr, 0, 0, nullptr,
                          source->width, source->height, destWidth, destHeight, 0, &out.bitmap,
                          nullptr, nullptr),
              0);
    cv::Mat indices(destHeight, destWidth, CV_32S);
    for (int32_t y = 0; y < destHeight; ++y) {
        for (int32_t x = 0; x < destWidth; ++x) {
            indices.at<int32_t>(y, x) =
                int32_t(qv::test::ColourIndex(source->format, ReadBitMapPixel(out.bitmap, x, y)));
        }
    }
    return indices;
}

TEST(ScaleOracle, NearestEqualsResizeForIntegerDownscalesAndPowerOfTwoUpscales) {
    constexpr int32_t kWidth = 48, kHeight = 36;
    cv::Mat sourceIndices(kHeight, kWidth, CV_32S);
    for (int32_t i = 0; i < kWidth * kHeight; ++i)
        sourceIndices.at<int32_t>(i / kWidth, i % kWidth) = i;
    const std::pair<int32_t, int32_t> sizes[] = {{24, 18}, {16, 12},   {12, 9},   {24, 12},
                                                 {96, 72}, {192, 144}, {384, 36}, {48, 36}};
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        BitMapPtr source = CoordinateBitMap(kWidth, kHeight, format);
        for (auto [w, h] : sizes) {
            cv::Mat expected;
            cv::resize(sourceIndices, expected, cv::Size(w, h), 0, 0, cv::INTER_NEAREST);
            const cv::Mat actual = ScaledIndices(source.get(), w, h);
            EXPECT_EQ(cv::countNonZero(actual != expected), 0)
                << "format " << format << " " << w << "x" << h;
        }
    }
}

TEST(ScaleOracle, NearestReadsWithinOneOfTheExactSourceIndex) {
    constexpr int32_t kWidth = 45, kHeight = 31;
    const std::pair<int32_t, int32_t> sizes[] = {{37, 50}, {100, 7}, {13, 29}, {44, 30}, {7, 211}};
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        BitMapPtr source = CoordinateBitMap(kWidth, kHeight, format);
        for (auto [w, h] : sizes) {
            const cv::Mat actual = ScaledIndices(source.get(), w, h);
            for (int32_t y = 0; y < h; ++y) {
                for (int32_t x = 0; x < w; ++x) {
                    const int32_t index = actual.at<int32_t>(y, x);
                    ASSERT_NEAR(index % kWidth, int64_t(x) * kWidth / w, 1) << format;
                    ASSERT_NEAR(index / kWidth, int64_t(y) * kHeight / h, 1) << format;
                }
            }
        }
    }
}

// A picture with smooth areas, edges and noise, so that the interpolation meets every kind
// of neighbourhood.
BitMapPtr TestPicture(uint32_t format, int32_t width, int32_t height) {
    BitMapPtr picture(qv::AllocBitMapInFormat(width, height, format, false));
    std::mt19937 random(7);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t r = uint32_t(x * 255 / width);
            const uint32_t g = (x / 8 + y / 8) % 2 != 0 ? 230 : 20;
            const uint32_t b = random() & 255;
            PlotPixel(picture.get(), x, y, r << 16 | g << 8 | b);
        }
    }
    return picture;
}

// Positions i x floor((size - 1) x 65536 / dest) / 65536: the samples of the bilinear maps.
cv::Mat SamplePositions(int32_t source, int32_t dest, bool rows, int32_t other) {
    const auto step = int64_t(double(source - 1) * 65536.0 / dest);
    cv::Mat map = rows ? cv::Mat(dest, other, CV_32F) : cv::Mat(other, dest, CV_32F);
    for (int32_t i = 0; i < dest; ++i) {
        const float position = float(double(i * step) / 65536.0);
        if (rows) {
            map.row(i).setTo(position);
        } else {
            map.col(i).setTo(position);
        }
    }
    return map;
}

// The sizes put every sample on OpenCV's grid of 1/32 pixel (its fixed-point remap
// coordinates), so that the reference samples exactly where we do; off the grid, its own
// rounding of the position moves a noisy picture by up to 8.
TEST(ScaleOracle, BilinearAgreesWithRemapOverTheSameSamples) {
    const struct {
        int32_t sw, sh, dw, dh;
    } rows[] = {{65, 49, 128, 96}, {64, 48, 96, 94}, {97, 41, 48, 20}, {33, 17, 128, 64}};
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        const qv::test::ChannelBits bits = qv::test::BitsOf(format);
        const int bitsOf[3] = {bits.red, bits.green, bits.blue};
        for (const auto& row : rows) {
            BitMapPtr source = TestPicture(format, row.sw, row.sh);
            Outputs out;
            ASSERT_EQ(ScaleBitmap(source.get(), nullptr, nullptr, 0, 0, nullptr, row.sw, row.sh,
                                  row.dw, row.dh, 1, &out.bitmap, nullptr, nullptr),
                      0);
            cv::Mat expected;
            cv::remap(Channels(source.get()), expected,
                      SamplePositions(row.sw, row.dw, false, row.dh),
                      SamplePositions(row.sh, row.dh, true, row.dw), cv::INTER_LINEAR,
                      cv::BORDER_REPLICATE);
            const cv::Mat actual = Channels(out.bitmap);
            int worst = 0;
            double total = 0;
            for (int32_t y = 0; y < row.dh; ++y) {
                for (int32_t x = 0; x < row.dw; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        // The reference stored as the format stores it: its top bits.
                        const int keep = 0xFF & (0xFF << (8 - bitsOf[c]));
                        const int want = expected.at<cv::Vec3b>(y, x)[c] & keep;
                        const int delta = std::abs(actual.at<cv::Vec3b>(y, x)[c] - want);
                        worst = std::max(worst, delta);
                        total += delta;
                    }
                }
            }
            // Our three truncating steps against OpenCV's rounding differ by up to 2 (the
            // spike: max 2, mean 0.39); a 5- or 6-bit channel may store such neighbours one
            // step apart.
            const int allowed = format < 8 ? 8 : 4;
            EXPECT_LE(worst, allowed) << "format " << format << " " << row.dw << "x" << row.dh;
            EXPECT_LE(total / (3.0 * row.dw * row.dh), 1.0)
                << "format " << format << " " << row.dw << "x" << row.dh;
        }
    }
}

}  // namespace
