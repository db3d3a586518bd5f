// Bitmaps as OpenCV images, for the tests that take OpenCV as their oracle.
#pragma once

#include <opencv2/core.hpp>

#include "platform/linux/bitmap.h"

namespace qv::test {

// The 8-bit image of a bitmap's pixels as read back, in R, G, B order.
inline cv::Mat Channels(const qvDisplayBitMap* bitmap) {
    cv::Mat image(bitmap->height, bitmap->width, CV_8UC3);
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) {
            const uint32_t rgb = ReadBitMapPixel(bitmap, x, y);
            image.at<cv::Vec3b>(y, x) = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
        }
    }
    return image;
}

}  // namespace qv::test
