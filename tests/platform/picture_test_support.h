// Small PNG pictures for tests, written with libpng.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv::testing {

// Writes width x height pixels 0xAARRGGBB as an 8-bit RGBA PNG, or RGB without alpha.
inline bool WritePng(const std::string& path, int width, int height,
                     const std::vector<uint32_t>& pixels, bool alpha) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    std::vector<uint8_t> bytes;
    for (uint32_t p : pixels) {
        bytes.push_back(static_cast<uint8_t>(p));
        bytes.push_back(static_cast<uint8_t>(p >> 8));
        bytes.push_back(static_cast<uint8_t>(p >> 16));
        if (alpha) bytes.push_back(static_cast<uint8_t>(p >> 24));
    }
    return png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, nullptr) != 0;
}

// A width x height picture whose pixels differ in every channel.
inline std::vector<uint32_t> PatternPixels(int width, int height, bool alpha) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t a = alpha ? static_cast<uint32_t>((x * 40 + y * 7) & 0xFF) : 0xFF;
            pixels.push_back(a << 24 | uint32_t(x * 30) << 16 | uint32_t(y * 50) << 8 |
                             uint32_t((x + y) * 11));
        }
    }
    return pixels;
}

}  // namespace qv::testing
