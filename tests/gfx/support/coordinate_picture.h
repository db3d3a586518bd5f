// Coordinate pictures: every pixel encodes its own position as the index y x width + x in
// the bits that its format keeps (15 for 5-5-5, 16 for 5-6-5, 24 otherwise), so that a test
// reads off which source pixel each destination pixel came from. Their planes are functions
// of the position too. Header-only and free of GoogleTest, so that the fuzz targets use it.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"
#include "platform/linux/bitmap.h"

namespace qv::test {

struct ChannelBits {
    int red, green, blue;
};

inline ChannelBits BitsOf(uint32_t format) {
    if (format >= 8) return {8, 8, 8};
    return format & 4 ? ChannelBits{5, 6, 5} : ChannelBits{5, 5, 5};
}

// How many distinct indices a format holds.
inline uint32_t IndexCapacity(uint32_t format) {
    const ChannelBits b = BitsOf(format);
    return 1u << (b.red + b.green + b.blue);
}

// The colour 0xRRGGBB whose kept bits carry the index: red the high bits, blue the low ones.
inline uint32_t IndexColour(uint32_t format, uint32_t index) {
    const ChannelBits b = BitsOf(format);
    auto field = [](uint32_t value, int bits) {
        return (value & ((1u << bits) - 1)) << (8 - bits);
    };
    return field(index >> (b.green + b.blue), b.red) << 16 | field(index >> b.blue, b.green) << 8 |
           field(index, b.blue);
}

inline uint32_t ColourIndex(uint32_t format, uint32_t rgb) {
    const ChannelBits b = BitsOf(format);
    auto field = [](uint32_t channel, int bits) { return (channel & 255) >> (8 - bits); };
    return field(rgb >> 16, b.red) << (b.green + b.blue) | field(rgb >> 8, b.green) << b.blue |
           field(rgb, b.blue);
}

// The plane values of a position: an alpha byte and a mask bit that vary from pixel to
// pixel, so that a plane that moves differently from the colour shows.
inline uint8_t CoordinateAlpha(int32_t x, int32_t y) {
    return uint8_t(x * 7 + y * 13 + 1);
}
inline bool CoordinateBit(int32_t x, int32_t y) {
    return ((x * 5 + y * 3) % 7) < 4;
}

struct Position {
    int32_t x, y;
};

// Paints the bitmap (at most IndexCapacity pixels) and any planes given.
inline void PaintCoordinates(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask = nullptr,
                             qvPlaneBitMap* alpha = nullptr) {
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) {
            PlotPixel(bitmap, x, y, IndexColour(bitmap->format, uint32_t(y * bitmap->width + x)));
            if (mask != nullptr) PlotPixel(mask, x, y, CoordinateBit(x, y) ? 0 : 1);
            if (alpha != nullptr) {
                alpha->plane[ptrdiff_t(y) * alpha->bytesPerRow + x] = CoordinateAlpha(x, y);
            }
        }
    }
}

// The source position that pixel (x, y) of a picture made from a coordinate picture of the
// given width shows.
inline Position SourceOf(const qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t sourceWidth) {
    const uint32_t index = ColourIndex(bitmap->format, ReadBitMapPixel(bitmap, x, y));
    return {int32_t(index % uint32_t(sourceWidth)), int32_t(index / uint32_t(sourceWidth))};
}

}  // namespace qv::test
