// TransformBitmap and FlipBitmap against OpenCV in every pixel format: quarter turns and
// mirrors against cv::rotate and cv::flip, a 30-degree turn against cv::warpAffine, and
// the covered area against cv::fillConvexPoly.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <opencv2/imgproc.hpp>

#include "gfx/transform.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/coordinate_picture.h"
#include "tests/gfx/support/cv_images.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::Channels;
using qv::test::CoordinateBitMap;
using qv::test::Outputs;

int Transform(qvDisplayBitMap* source, const double matrix[4], int smooth, Outputs& out) {
    return TransformBitmap(source, nullptr, nullptr, 0, 0, source->width, source->height, matrix,
                           smooth, &out.bitmap, &out.mask, nullptr, &out.width, &out.height);
}

// Source indices of a coordinate picture's pixels (as floats, exact below 2^24).
cv::Mat Indices(const qvDisplayBitMap* bitmap, uint32_t format) {
    cv::Mat indices(bitmap->height, bitmap->width, CV_32F);
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) {
            indices.at<float>(y, x) =
                float(qv::test::ColourIndex(format, ReadBitMapPixel(bitmap, x, y)));
        }
    }
    return indices;
}

TEST(TransformOracle, QuarterTurnsAndMirrorsEqualRotateAndFlip) {
    const struct {
        double m[4];
        int rotate;  // cv::RotateFlags, or -1 - flip code
    } rows[] = {
        {{0, 1, -1, 0}, cv::ROTATE_90_CLOCKWISE},
        {{-1, 0, 0, -1}, cv::ROTATE_180},
        {{0, -1, 1, 0}, cv::ROTATE_90_COUNTERCLOCKWISE},
        {{-1, 0, 0, 1}, -1 - 1},
        {{1, 0, 0, -1}, -1 - 0},
    };
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        BitMapPtr source = CoordinateBitMap(23, 14, format);
        const cv::Mat indices = Indices(source.get(), format);
        for (const auto& row : rows) {
            cv::Mat expected;
            if (row.rotate >= 0) {
                cv::rotate(indices, expected, row.rotate);
            } else {
                cv::flip(indices, expected, -1 - row.rotate);
            }
            for (int smooth : {0, 1}) {
                Outputs out;
                ASSERT_EQ(Transform(source.get(), row.m, smooth, out), 0);
                ASSERT_EQ(out.width, expected.cols);
                ASSERT_EQ(out.height, expected.rows);
                EXPECT_EQ(cv::countNonZero(Indices(out.bitmap, format) != expected), 0)
                    << "format " << format << " rotate " << row.rotate << " smooth " << smooth;
                for (int32_t y = 0; y < out.height; ++y) {
                    for (int32_t x = 0; x < out.width; ++x) {
                        ASSERT_EQ(ReadBitMapPixel(out.mask, x, y), 1u);
                    }
                }
            }
        }
        // FlipBitmap mirrors in place.
        for (int direction : {QV_FLIP_VERTICAL, QV_FLIP_HORIZONTAL}) {
            BitMapPtr flipped = CoordinateBitMap(23, 14, format);
            ASSERT_EQ(FlipBitmap(flipped.get(), nullptr, nullptr, 23, 14, direction), 0);
            cv::Mat expected;
            cv::flip(indices, expected, direction == QV_FLIP_VERTICAL ? 0 : 1);
            EXPECT_EQ(cv::countNonZero(Indices(flipped.get(), format) != expected), 0);
        }
    }
}

// OpenCV's inverse map for the same samples: our destination pixel (X, Y) samples the
// source at M^-1 (X + 0.5 + offset x, Y + 0.5 + offset y), and both read their neighbours
// from that point less half a pixel (OpenCV rounds the nearest one from there).
cv::Mat InverseMap(const double m[4], int32_t width, int32_t height) {
    double offsetX, offsetY;
    TransformBounds(m, width, height, nullptr, nullptr, &offsetX, &offsetY);
    const double det = m[0] * m[3] - m[1] * m[2];
    const double a = m[3] / det, b = -m[1] / det, c = -m[2] / det, d = m[0] / det;
    const double px = 0.5 + offsetX, py = 0.5 + offsetY;
    return (cv::Mat_<double>(2, 3) << a, c, a * px + c * py - 0.5, b, d, b * px + d * py - 0.5);
}

struct Turn {
    double m[4];
    Turn(double degrees) {
        const double r = degrees * std::numbers::pi / 180;
        m[0] = std::cos(r), m[1] = std::sin(r), m[2] = -std::sin(r), m[3] = std::cos(r);
    }
};

// Whether OpenCV's sample for (x, y) lies a pixel or more inside the source.
bool Interior(const cv::Mat& map, int32_t x, int32_t y, int32_t width, int32_t height) {
    const double u = map.at<double>(0, 0) * x + map.at<double>(0, 1) * y + map.at<double>(0, 2);
    const double v = map.at<double>(1, 0) * x + map.at<double>(1, 1) * y + map.at<double>(1, 2);
    return u >= 1 && v >= 1 && u <= width - 2 && v <= height - 2;
}

TEST(TransformOracle, ThirtyDegreesNearestAgreesWithWarpAffine) {
    constexpr int32_t kWidth = 64, kHeight = 48;
    const Turn turn(30);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        BitMapPtr source = CoordinateBitMap(kWidth, kHeight, format);
        Outputs out;
        ASSERT_EQ(Transform(source.get(), turn.m, 0, out), 0);
        const cv::Mat map = InverseMap(turn.m, kWidth, kHeight);
        cv::Mat expected(out.height, out.width, CV_32F, cv::Scalar(-1));
        cv::warpAffine(Indices(source.get(), format), expected, map, expected.size(),
                       cv::INTER_NEAREST | cv::WARP_INVERSE_MAP, cv::BORDER_TRANSPARENT);
        const cv::Mat actual = Indices(out.bitmap, format);
        int interior = 0, equal = 0;
        for (int32_t y = 0; y < out.height; ++y) {
            for (int32_t x = 0; x < out.width; ++x) {
                if (!Interior(map, x, y, kWidth, kHeight)) continue;
                ++interior;
                equal += actual.at<float>(y, x) == expected.at<float>(y, x);
            }
        }
        ASSERT_GT(interior, kWidth * kHeight / 2);
        EXPECT_GE(equal, interior * 0.995) << "format " << format;
    }
}

// A gentle picture: the channels change by a few steps per pixel, so that OpenCV's
// positions of 1/32 pixel cost it under a tenth of a step.
BitMapPtr GentlePicture(uint32_t format, int32_t width, int32_t height) {
    BitMapPtr picture(qv::AllocBitMapInFormat(width, height, format, false));
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            PlotPixel(picture.get(), x, y,
                      uint32_t(x * 3) << 16 | uint32_t(y * 4) << 8 | uint32_t((x + y) * 2));
        }
    }
    return picture;
}

TEST(TransformOracle, ThirtyDegreesSmoothedAgreesWithWarpAffine) {
    constexpr int32_t kWidth = 60, kHeight = 40;
    const Turn turn(30);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        const qv::test::ChannelBits bits = qv::test::BitsOf(format);
        const int keep[3] = {0xFF & (0xFF << (8 - bits.red)), 0xFF & (0xFF << (8 - bits.green)),
                             0xFF & (0xFF << (8 - bits.blue))};
        BitMapPtr source = GentlePicture(format, kWidth, kHeight);
        Outputs out;
        ASSERT_EQ(Transform(source.get(), turn.m, 1, out), 0);
        const cv::Mat map = InverseMap(turn.m, kWidth, kHeight);
        cv::Mat expected;
        cv::warpAffine(Channels(source.get()), expected, map, cv::Size(out.width, out.height),
                       cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
        const cv::Mat actual = Channels(out.bitmap);
        for (int32_t y = 0; y < out.height; ++y) {
            for (int32_t x = 0; x < out.width; ++x) {
                if (!Interior(map, x, y, kWidth, kHeight)) continue;
                for (int c = 0; c < 3; ++c) {
                    // Within 2, or the neighbouring step of a 5- or 6-bit channel.
                    const int want = expected.at<cv::Vec3b>(y, x)[c];
                    const int got = actual.at<cv::Vec3b>(y, x)[c];
                    const int step = 255 & ~keep[c];
                    ASSERT_LE(std::abs(got - (want & keep[c])), 2 + step)
                        << "format " << format << " at " << x << "," << y << " channel " << c;
                }
            }
        }
    }
}

TEST(TransformOracle, TheMaskCoversTheTurnedRectangle) {
    constexpr int32_t kWidth = 50, kHeight = 30;
    BitMapPtr source(AllocDisplayBitMap(kWidth, kHeight));
    for (double degrees : {30.0, 75.0, 200.0, -20.0}) {
        const Turn turn(degrees);
        for (int smooth : {0, 1}) {
            Outputs out;
            ASSERT_EQ(Transform(source.get(), turn.m, smooth, out), 0);
            double offsetX, offsetY;
            TransformBounds(turn.m, kWidth, kHeight, nullptr, nullptr, &offsetX, &offsetY);
            // The turned corners in destination pixels, in 1/256 for fillConvexPoly.
            std::vector<cv::Point> corners;
            for (auto [x, y] : {std::pair{0, 0}, std::pair{kWidth, 0}, std::pair{kWidth, kHeight},
                                std::pair{0, kHeight}}) {
                const double tx = turn.m[0] * x + turn.m[2] * y - offsetX;
                const double ty = turn.m[1] * x + turn.m[3] * y - offsetY;
                // fillConvexPoly covers pixel centres, which sit at +0.5 in our coordinates.
                corners.emplace_back(int(std::lround((tx - 0.5) * 256)),
                                     int(std::lround((ty - 0.5) * 256)));
            }
            cv::Mat polygon = cv::Mat::zeros(out.height, out.width, CV_8U);
            cv::fillConvexPoly(polygon, corners, cv::Scalar(255), cv::LINE_8, 8);
            cv::Mat inside, reach;
            cv::erode(polygon, inside, cv::Mat::ones(3, 3, CV_8U), {-1, -1}, 1, cv::BORDER_CONSTANT,
                      0);
            cv::dilate(polygon, reach, cv::Mat::ones(3, 3, CV_8U));
            for (int32_t y = 0; y < out.height; ++y) {
                for (int32_t x = 0; x < out.width; ++x) {
                    const uint32_t bit = ReadBitMapPixel(out.mask, x, y);
                    if (inside.at<uint8_t>(y, x) != 0) {
                        ASSERT_EQ(bit, 1u) << degrees << " at " << x << "," << y;
                    }
                    if (reach.at<uint8_t>(y, x) == 0) {
                        ASSERT_EQ(bit, 0u) << degrees << " at " << x << "," << y;
                    }
                }
            }
        }
    }
}

}  // namespace
