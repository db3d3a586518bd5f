// Support of the drawing tests: work buffers of their own, 8-bit images of what a shape
// painted (OpenCV matrices, small ones shown as ASCII grids), and comparisons that write the
// expected, actual and difference pictures as PNG into the build folder when they fail.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "gfx/kernels/rows.h"
#include "objects/draw/coverage.h"
#include "objects/draw/outline.h"
#include "platform/linux/bitmap.h"
#include "tests/gfx/support.h"
#include "tests/platform/picture_test_support.h"

namespace qv::test {

// Work buffers and angle tables for one test.
struct ShapeWork {
    ShapeWork() { EXPECT_EQ(AllocShapeWork(&work), 0); }
    ~ShapeWork() { FreeShapeWork(&work); }
    qvShapeWork work;
};

// A plane's bytes (an alpha plane) or bits (255 for a set mask bit) as an 8-bit image.
inline cv::Mat PlaneImage(const qvPlaneBitMap* plane, int32_t width, int32_t height) {
    cv::Mat image(height, width, CV_8UC1, cv::Scalar(0));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = PlaneRow(plane->plane, plane->bytesPerRow, y);
        for (int32_t x = 0; x < width; ++x) {
            image.at<uint8_t>(y, x) = plane->depth == 1 ? (MaskBit(row, x) ? 255 : 0) : row[x];
        }
    }
    return image;
}

// Rows of '#' for 255, '.' for 0 and '+' between, one line each.
inline std::string Grid(const cv::Mat& image) {
    std::string text;
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const uint8_t v = image.at<uint8_t>(y, x);
            text += v == 255 ? '#' : v == 0 ? '.' : '+';
        }
        text += '\n';
    }
    return text;
}

// The image drawn by a grid of '#' and '.'.
inline cv::Mat GridImage(const std::vector<std::string>& rows) {
    cv::Mat image(int(rows.size()), int(rows.empty() ? 0 : rows[0].size()), CV_8UC1);
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) image.at<uint8_t>(y, x) = rows[y][x] == '#' ? 255 : 0;
    }
    return image;
}

inline std::filesystem::path FailureDir() {
    std::filesystem::path dir = QV_DRAW_FAILURE_DIR;
    std::filesystem::create_directories(dir);
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return dir / name;
}

// Writes a grey or BGRA image as PNG.
inline void WriteImagePng(const cv::Mat& image, const std::filesystem::path& path) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            if (image.type() == CV_8UC1) {
                const uint32_t v = image.at<uint8_t>(y, x);
                pixels.push_back(0xFF000000u | v << 16 | v << 8 | v);
            } else {
                const cv::Vec4b p = image.at<cv::Vec4b>(y, x);
                pixels.push_back(uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 |
                                 p[0]);
            }
        }
    }
    qv::testing::WritePng(path.string(), image.cols, image.rows, pixels, image.type() != CV_8UC1);
}

// Saves expected, actual and their difference beside each other; returns where.
inline std::string SaveComparison(const cv::Mat& expected, const cv::Mat& actual) {
    const std::filesystem::path base = FailureDir();
    cv::Mat diff;
    cv::absdiff(expected, actual, diff);
    WriteImagePng(expected, base.string() + ".expected.png");
    WriteImagePng(actual, base.string() + ".actual.png");
    WriteImagePng(diff, base.string() + ".diff.png");
    return base.string() + ".*.png";
}

// Exactly equal images (grey or BGRA of one size).
inline ::testing::AssertionResult SameImage(const cv::Mat& expected, const cv::Mat& actual) {
    if (expected.size() != actual.size() || expected.type() != actual.type()) {
        return ::testing::AssertionFailure() << "sizes or types differ";
    }
    cv::Mat diff;
    cv::absdiff(expected, actual, diff);
    if (cv::countNonZero(diff.reshape(1)) == 0) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure()
                   << cv::countNonZero(diff.reshape(1)) << " bytes differ; pictures in "
                   << SaveComparison(expected, actual);
    if (expected.rows <= 40 && expected.cols <= 80 && expected.type() == CV_8UC1) {
        failure << "\nexpected:\n" << Grid(expected) << "actual:\n" << Grid(actual);
    }
    return failure;
}

// A fresh image of the screen format with a cleared mask or alpha plane as a target.
struct TestImage {
    TestImage(int32_t width, int32_t height, bool alphaPlane)
        : bitmap(AllocDisplayBitMap(width, height)),
          mask(alphaPlane ? nullptr : AllocMaskBitMap(bitmap.get(), width, height, 1)),
          alpha(alphaPlane ? AllocAlphaBitMap(width, height, 1) : nullptr),
          width(width),
          height(height) {}
    qvShapeTarget Target() {
        return {bitmap.get(), mask.get(), alpha.get(), width, height, nullptr, 0, 0};
    }
    // The plane as an 8-bit image: the mask as 0/255, or the alpha bytes.
    cv::Mat Plane() const {
        return PlaneImage(alpha != nullptr ? alpha.get() : mask.get(), width, height);
    }
    BitMapPtr bitmap;
    PlanePtr mask, alpha;
    int32_t width, height;
};

}  // namespace qv::test
