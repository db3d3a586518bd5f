// The rows of 4-byte pixels to and from channel planes, against each format's byte order
// written out by hand: widths about the 32-pixel step, rows off the vector alignment, every
// byte value in every channel, and nothing written beside the row.
#include "gfx/kernels/channel_planes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Where a format keeps red, green, blue and alpha within a pixel's bytes.
struct ByteOrder {
    uint32_t format;
    int red, green, blue, alpha;
};

constexpr ByteOrder kOrders[] = {
    {QV_FMT_A8R8G8B8, 2, 1, 0, 3},
    {QV_FMT_B8G8R8A8, 1, 2, 3, 0},
    {QV_FMT_R8G8B8A8, 3, 2, 1, 0},
    {QV_FMT_A8B8G8R8, 0, 1, 2, 3},
};

constexpr int32_t kGuard = 40;  // pixels kept beside a row to see stray writes
constexpr uint8_t kUntouched = 0xA5;

// Each format over widths below, at and about the step and a wide row (whose pattern steps
// each channel by an odd amount, so every byte value comes up), each starting a few pixels
// from a 32-byte boundary, as block rows may. fn(order, width, row) gets a row with kGuard
// untouched pixels on each side.
template <typename Fn>
void ForEachRow(Fn&& fn) {
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 70; ++w) widths.push_back(w);
    widths.push_back(1000);
    for (const ByteOrder& order : kOrders) {
        for (int32_t width : widths) {
            for (int32_t offset : {0, 1, 3, 7}) {
                SCOPED_TRACE(testing::Message() << "format " << order.format << " width " << width
                                                << " offset " << offset);
                std::vector<uint8_t> bytes(size_t(2 * kGuard + width + 8) * 4 + 32, kUntouched);
                const auto address = reinterpret_cast<uintptr_t>(bytes.data());
                uint8_t* aligned = bytes.data() + (32 - address % 32) % 32;
                fn(order, width, aligned + (kGuard + offset) * 4);
            }
        }
    }
}

uint8_t PatternByte(int32_t x, int channel) {
    return uint8_t(x * 7 + channel * 85 + 3);
}

template <typename Fn>
void ForFormat(uint32_t format, Fn&& fn) {
    qv::VisitFormat(format, [&](auto f) {
        if constexpr (decltype(f)::bytes == 4) fn(f);
    });
}

bool Untouched(const uint8_t* from, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        if (from[i] != kUntouched) return false;
    }
    return true;
}

TEST(ChannelPlanes, SplitTakesEachChannelFromItsByte) {
    ForEachRow([](const ByteOrder& order, int32_t width, uint8_t* pixels) {
        for (int32_t x = 0; x < width; ++x) {
            for (int byte = 0; byte < 4; ++byte) pixels[x * 4 + byte] = PatternByte(x, byte);
        }
        std::vector<uint8_t> planes(3 * size_t(width + kGuard), kUntouched);
        uint8_t* red = planes.data();
        uint8_t *green = red + width + kGuard, *blue = green + width + kGuard;
        ForFormat(order.format,
                  [&](auto f) { qv::SplitRow<decltype(f)>(pixels, width, red, green, blue); });
        for (int32_t x = 0; x < width; ++x) {
            ASSERT_EQ(red[x], PatternByte(x, order.red)) << "x " << x;
            ASSERT_EQ(green[x], PatternByte(x, order.green)) << "x " << x;
            ASSERT_EQ(blue[x], PatternByte(x, order.blue)) << "x " << x;
        }
        EXPECT_TRUE(Untouched(red + width, kGuard));
        EXPECT_TRUE(Untouched(green + width, kGuard));
        EXPECT_TRUE(Untouched(blue + width, kGuard));
    });
}

TEST(ChannelPlanes, JoinPlacesChannelsWithAlphaZeroAndWritesNothingBeside) {
    ForEachRow([](const ByteOrder& order, int32_t width, uint8_t* pixels) {
        std::vector<uint8_t> planes(3 * size_t(width));
        uint8_t* red = planes.data();
        uint8_t *green = red + width, *blue = green + width;
        for (int32_t x = 0; x < width; ++x) {
            red[x] = PatternByte(x, 0), green[x] = PatternByte(x, 1), blue[x] = PatternByte(x, 2);
        }
        ForFormat(order.format,
                  [&](auto f) { qv::JoinRow<decltype(f)>(red, green, blue, width, pixels); });
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* pixel = pixels + x * 4;
            ASSERT_EQ(pixel[order.red], red[x]) << "x " << x;
            ASSERT_EQ(pixel[order.green], green[x]) << "x " << x;
            ASSERT_EQ(pixel[order.blue], blue[x]) << "x " << x;
            ASSERT_EQ(pixel[order.alpha], 0) << "x " << x;
        }
        EXPECT_TRUE(Untouched(pixels - kGuard * 4, kGuard * 4));
        EXPECT_TRUE(Untouched(pixels + width * 4, kGuard * 4));
    });
}

}  // namespace
