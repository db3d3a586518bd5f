// A picture's colour channels as three packed 8-bit planes (red, green, blue) and back, a row
// at a time: the convolutions filter each plane alone, so that one path serves every depth.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"

namespace qv {

// The leading 32-pixel steps of a row of 4-byte pixels of format (10-13), in AVX2 where the
// CPU has it: they return how many pixels they did, 0 for other formats and CPUs. The join
// writes alpha bits 0.
int32_t SplitPixels32(uint32_t format, const uint8_t* pixels, int32_t width, uint8_t* red,
                      uint8_t* green, uint8_t* blue);
int32_t JoinPixels32(uint32_t format, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                     int32_t width, uint8_t* pixels);

// A row of width pixels of format F into the planes' rows and back (alpha bits 0); the wide
// steps first where they apply, the portable formula for the rest.
template <typename F>
inline void SplitRow(const uint8_t* pixels, int32_t width, uint8_t* red, uint8_t* green,
                     uint8_t* blue) {
    int32_t x = F::bytes == 4 ? SplitPixels32(F::code, pixels, width, red, green, blue) : 0;
    for (; x < width; ++x) {
        const uint32_t rgb = F::Unpack(LoadPixel(pixels + x * F::bytes, F::bytes));
        red[x] = uint8_t(rgb >> 16), green[x] = uint8_t(rgb >> 8), blue[x] = uint8_t(rgb);
    }
}

template <typename F>
inline void JoinRow(const uint8_t* red, const uint8_t* green, const uint8_t* blue, int32_t width,
                    uint8_t* pixels) {
    int32_t x = F::bytes == 4 ? JoinPixels32(F::code, red, green, blue, width, pixels) : 0;
    for (; x < width; ++x) {
        const uint32_t rgb = uint32_t(red[x]) << 16 | uint32_t(green[x]) << 8 | blue[x];
        StorePixel(pixels + x * F::bytes, F::bytes, F::Pack(rgb));
    }
}

}  // namespace qv
