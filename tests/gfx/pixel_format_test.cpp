#include "gfx/pixel_format.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tests/gfx/support.h"

namespace {

struct PackCase {
    uint32_t rgb;
    uint32_t format;
    uint32_t pixel;
};

TEST(PixelFormat, PacksEveryCodeAsTheTableSays) {
    const PackCase cases[] = {
        {0xFFFFFF, QV_FMT_R5G6B5, 0xFFFF},
        {0xFFFFFF, QV_FMT_R5G5B5, 0x7FFF},
        {0xFFFFFF, QV_FMT_R5G5B5_SWAPPED, 0xFF7F},
        {0xFFFFFF, 14, 0},
        {0xFFFFFF, 0xFFFFFFFF, 0},
        {0xFF0000, QV_FMT_R5G5B5, 0x7C00},
        {0xFF0000, QV_FMT_B5G5R5, 0x001F},
        {0xFF0000, QV_FMT_B5G5R5_SWAPPED, 0x1F00},
        {0x00FF00, QV_FMT_R5G5B5, 0x03E0},
        {0x00FF00, QV_FMT_R5G6B5, 0x07E0},
        {0x0000FF, QV_FMT_B5G6R5, 0xF800},
        {0xFF0000, QV_FMT_R5G6B5_SWAPPED, 0x00F8},
        {0x0000FF, QV_FMT_B5G6R5_SWAPPED, 0x00F8},
        {0x080408, QV_FMT_R5G6B5, 0x0821},  // lowest significant bits of each field
        {0xFF123456, QV_FMT_R8G8B8, 0x123456},
        {0x123456, QV_FMT_B8G8R8, 0x563412},
        {0xFF123456, QV_FMT_A8R8G8B8, 0x123456},
        {0xFF123456, QV_FMT_B8G8R8A8, 0x56341200},
        {0xFF123456, QV_FMT_R8G8B8A8, 0x12345600},
        {0xFF123456, QV_FMT_A8B8G8R8, 0x563412},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RGBToPixelFormat(c.rgb, c.format), c.pixel)
            << std::hex << "rgb 0x" << c.rgb << " format " << std::dec << c.format;
    }
}

TEST(PixelFormat, UnknownCodesReadAsBlack) {
    uint32_t any = 0xFFFFFFFF;
    uint8_t rgb[3] = {1, 1, 1};
    ReadPixelRGB(&any, 14, rgb);
    EXPECT_EQ(rgb[0] | rgb[1] | rgb[2], 0);
}

TEST(PixelFormat, ThirtyTwoBitFormatsCarryAlphaOnlyInTen) {
    EXPECT_EQ(ARGBToPixel32(QV_FMT_A8R8G8B8, 0x80112233), 0x80112233u);
    EXPECT_EQ(ARGBToPixel32(QV_FMT_B8G8R8A8, 0x80112233), 0x33221100u);
    EXPECT_EQ(ARGBToPixel32(QV_FMT_R8G8B8A8, 0x80112233), 0x11223300u);
    EXPECT_EQ(ARGBToPixel32(QV_FMT_A8B8G8R8, 0x80112233), 0x00332211u);
    EXPECT_EQ(ARGBToPixel32(QV_FMT_R5G6B5, 0x80112233), 0x80112233u);
    EXPECT_EQ(Pixel32ToARGB(QV_FMT_A8R8G8B8, 0x80112233), 0x80112233u);
    EXPECT_EQ(Pixel32ToARGB(QV_FMT_B8G8R8A8, 0x332211FF), 0x00112233u);
    EXPECT_EQ(Pixel32ToARGB(QV_FMT_R8G8B8A8, 0x112233FF), 0x00112233u);
    EXPECT_EQ(Pixel32ToARGB(QV_FMT_A8B8G8R8, 0xFF332211), 0x00112233u);
    EXPECT_EQ(Pixel32ToARGB(14, 0xFF332211), 0xFF332211u);
}

TEST(PixelFormat, SixteenBitConversionsDropOnlyTheLowGreenBit) {
    for (uint32_t format = 0; format < 8; ++format) {
        for (uint32_t v = 0; v < 0x10000; ++v) {
            uint32_t back = Pixel16ToRGB565(format, RGB565ToPixel16(format, v));
            uint32_t expected = format & 4 ? v : v & ~0x20u;
            ASSERT_EQ(back, expected) << "format " << format << " value " << v;
        }
    }
    EXPECT_EQ(RGB565ToPixel16(QV_FMT_R5G6B5, 0x12345), 0x12345u);
    EXPECT_EQ(RGB565ToPixel16(QV_FMT_R8G8B8, 0x12345), 0x12345u);
    EXPECT_EQ(Pixel16ToRGB565(QV_FMT_A8R8G8B8, 0x12345), 0x12345u);
    EXPECT_EQ(RGB565ToPixel16(QV_FMT_R5G5B5_SWAPPED, 0xF800), 0x007Cu);
}

// The channel precision of each code: what a write followed by a read keeps (low bits are not
// replicated).
uint32_t Kept(uint32_t rgb, uint32_t format) {
    if (format >= 8) return rgb & 0xFFFFFF;
    uint32_t green = format & 4 ? 0xFC : 0xF8;
    return rgb & (0xF80000 | green << 8 | 0xF8);
}

std::vector<uint32_t> TestColours() {
    std::vector<uint32_t> colours;
    const uint8_t edges[] = {0, 1, 3, 4, 7, 8, 127, 128, 247, 248, 251, 252, 254, 255};
    for (uint8_t r : edges) {
        for (uint8_t g : edges) {
            for (uint8_t b : edges) colours.push_back(uint32_t(r) << 16 | uint32_t(g) << 8 | b);
        }
    }
    std::mt19937 random(18);
    for (int i = 0; i < 1 << 18; ++i) colours.push_back(random() & 0xFFFFFF);
    return colours;
}

TEST(PixelFormat, EveryCodeRoundTripsItsChannels) {
    const std::vector<uint32_t> colours = TestColours();
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        for (uint32_t rgb : colours) {
            uint8_t in[3] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
            uint8_t pixel[4] = {0xEE, 0xEE, 0xEE, 0xEE}, out[3];  // 32-bit writes clear alpha
            WritePixelRGB(pixel, format, in);
            ReadPixelRGB(pixel, format, out);
            uint32_t read = uint32_t(out[0]) << 16 | uint32_t(out[1]) << 8 | out[2];
            ASSERT_EQ(read, Kept(rgb, format)) << "format " << format << " rgb " << rgb;
            uint32_t stored = qv::LoadPixel(pixel, qv::BytesPerPixel(format));
            ASSERT_EQ(stored, RGBToPixelFormat(rgb, format)) << "format " << format;
            ASSERT_EQ(RGBToPixelFormat(read, format), stored) << "format " << format;
        }
    }
}

TEST(PixelFormat, ThreeBytePixelsAreByteOrders) {
    uint8_t pixel[3];
    const uint8_t rgb[3] = {0x12, 0x34, 0x56};
    WritePixelRGB(pixel, QV_FMT_R8G8B8, rgb);
    EXPECT_EQ(pixel[0], 0x12);
    EXPECT_EQ(pixel[2], 0x56);
    WritePixelRGB(pixel, QV_FMT_B8G8R8, rgb);
    EXPECT_EQ(pixel[0], 0x56);
    EXPECT_EQ(pixel[2], 0x12);
}

}  // namespace
