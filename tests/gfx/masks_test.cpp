// Colour keys, pixel arrays with a key, colour replacement, thresholds, clearing 4-byte pixels
// and the integer square root.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/kernels/rows.h"
#include "gfx/masks.h"
#include "platform/linux/memory.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/guarded_bitmap.h"

namespace {

using qv::test::AsStored;
using qv::test::BitMapPtr;
using qv::test::DefaultScreenFormat;
using qv::test::PlanePtr;
using qv::test::Raw;
using qv::test::SetRaw;
namespace hooks = qv::platform::testing;

bool Bit(const qvPlaneBitMap* mask, int32_t x, int32_t y) {
    return ReadBitMapPixel(mask, x, y) != 0;
}

TEST(ColorKeyToMask, KeyedPixelsAreInvisible) {
    BitMapPtr b = qv::test::Filled(19, 5, 0x102030);
    PlanePtr none(ColorKeyToMask(b.get(), 19, 5, 0xFF00FF));  // a key that no pixel has
    PlotPixel(b.get(), 18, 4, 0xFF00FF);
    PlotPixel(b.get(), 0, 0, 0xFF00FF);
    PlanePtr mask(ColorKeyToMask(b.get(), 19, 5, 0xFF00FF));
    ASSERT_TRUE(none && mask);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 19; ++x) {
            EXPECT_TRUE(Bit(none.get(), x, y)) << x << "," << y;
            bool keyed = (x == 0 && y == 0) || (x == 18 && y == 4);
            EXPECT_EQ(Bit(mask.get(), x, y), !keyed) << x << "," << y;
        }
    }
}

// Pixels that differ from the key only in their alpha byte count as equal.
TEST(ColorKeyToMask, AlphaIsIgnored) {
    for (uint32_t format = QV_FMT_A8R8G8B8; format < QV_FMT_COUNT; ++format) {
        BitMapPtr b(qv::AllocBitMapInFormat(4, 1, format, false));
        const uint32_t alpha = ~qv::CompareMask32(format);
        for (int32_t x = 0; x < 4; ++x) SetRaw(b.get(), x, 0, RGBToPixelFormat(0xFF00FF, format));
        SetRaw(b.get(), 1, 0, RGBToPixelFormat(0xFF00FF, format) | alpha);
        SetRaw(b.get(), 2, 0, RGBToPixelFormat(0xFF00FE, format) | alpha);
        PlanePtr mask(ColorKeyToMask(b.get(), 4, 1, 0xFF00FF));
        ASSERT_NE(mask, nullptr);
        EXPECT_FALSE(Bit(mask.get(), 0, 0)) << format;
        EXPECT_FALSE(Bit(mask.get(), 1, 0)) << format;
        EXPECT_TRUE(Bit(mask.get(), 2, 0)) << format;
    }
}

TEST(ColorKeyToMask, FailuresGiveNone) {
    BitMapPtr b(AllocDisplayBitMap(8, 8));
    {
        hooks::LockFault fault(1);
        EXPECT_EQ(ColorKeyToMask(b.get(), 8, 8, 0), nullptr);
    }
    {
        qv::AllocationFault fault(1, true);
        EXPECT_EQ(ColorKeyToMask(b.get(), 8, 8, 0), nullptr);
    }
    EXPECT_EQ(ColorKeyToMask(nullptr, 8, 8, 0), nullptr);
    EXPECT_EQ(ColorKeyToMask(b.get(), -1, 8, 0), nullptr);
    // A mask larger than the bitmap keeps the columns beyond it clear.
    PlanePtr mask(ColorKeyToMask(b.get(), 12, 9, 0x123456));
    ASSERT_NE(mask, nullptr);
    EXPECT_TRUE(Bit(mask.get(), 7, 7));
    EXPECT_FALSE(Bit(mask.get(), 9, 3));
    EXPECT_FALSE(Bit(mask.get(), 3, 8));
}

TEST(PixelArrayToBitMap, ConvertsAndKeys) {
    constexpr int32_t kWidth = 5, kHeight = 3, kRowLength = 7;
    std::vector<qvARGB> pixels(size_t(kRowLength) * kHeight, 0xFF123456);
    pixels[2] = 0x00FF00FF;               // the key without alpha
    pixels[kRowLength + 4] = 0x80FF00FF;  // the key with alpha
    pixels[2 * kRowLength] = 0xFFFF00FE;  // near the key
    pixels[kRowLength - 1] = 0xFFFF00FF;  // beyond the width
    for (int screenFriend : {0, 1}) {
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap* mask = nullptr;
        ASSERT_EQ(PixelArrayToBitMap(pixels.data(), 0xFF00FF, kWidth, kHeight, kRowLength,
                                     screenFriend, &bitmap, &mask),
                  0);
        BitMapPtr owned(bitmap);
        PlanePtr ownedMask(mask);
        EXPECT_EQ(bitmap->screenFriend, screenFriend != 0);
        EXPECT_EQ(bitmap->format, qv::ScreenFormat());
        EXPECT_EQ(ReadBitMapPixel(bitmap, 0, 0), AsStored(0x123456));
        EXPECT_FALSE(Bit(mask, 2, 0));
        EXPECT_FALSE(Bit(mask, 4, 1));
        EXPECT_TRUE(Bit(mask, 0, 2));
        EXPECT_TRUE(Bit(mask, 0, 0));
    }
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = reinterpret_cast<qvPlaneBitMap*>(1);
    ASSERT_EQ(PixelArrayToBitMap(pixels.data(), 0xFFFFFFFF, kWidth, kHeight, kRowLength, 0, &bitmap,
                                 &mask),
              0);
    EXPECT_EQ(mask, nullptr);
    FreeDisplayBitMap(bitmap);
}

TEST(PixelArrayToBitMap, OutOfMemoryMakesNothing) {
    std::vector<qvARGB> pixels(64, 0xFF00FF);
    for (uint64_t n = 1;; ++n) {
        const size_t live = qv::GetMemoryStats().liveBlocks;
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap* mask = nullptr;
        int result;
        {
            qv::AllocationFault fault(n, false);
            result = PixelArrayToBitMap(pixels.data(), 0xFF00FF, 8, 8, 8, 0, &bitmap, &mask);
        }
        if (result == 0) {
            FreeDisplayBitMap(bitmap);
            FreePlaneBitMap(mask);
            break;
        }
        EXPECT_EQ(result, ERR_MEM);
        EXPECT_EQ(bitmap, nullptr);
        EXPECT_EQ(mask, nullptr);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live) << n;
        ASSERT_LT(n, 20u);
    }
}

// Red to green and green to blue turn red pixels blue in one pass.
TEST(ReplaceColors, ChainedPairsApplyInOnePass) {
    BitMapPtr b = qv::test::Filled(6, 2, 0xFF0000);
    PlotPixel(b.get(), 1, 0, 0x00FF00);
    PlotPixel(b.get(), 2, 0, 0x808080);
    const uint32_t f = b->format;
    const uint32_t table[] = {RGBToPixelFormat(0xFF0000, f),
                              RGBToPixelFormat(0x00FF00, f),
                              RGBToPixelFormat(0x00FF00, f),
                              RGBToPixelFormat(0x0000FF, f),
                              0xFFFFFFFF,
                              0};
    if (b->bytesPerPixel == 4) {
        SetRaw(b.get(), 3, 0, Raw(b.get(), 3, 0) | ~qv::CompareMask32(f));  // alpha bits
    }
    switch (b->bytesPerPixel) {
        case 2:
            ReplaceColorsPixels16(5, 2, table, b->pixels, b->rowLength);
            break;
        case 3:
            ReplaceColorsPixels24(5, 2, table, b->pixels, b->rowLength);
            break;
        default:
            ReplaceColorsPixels32(5, 2, table, b->pixels, b->rowLength, qv::CompareMask32(f));
            break;
    }
    const uint32_t blue = AsStored(0x0000FF);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 0, 0), blue);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 4, 1), blue);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 1, 0), blue);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 3, 0), blue);  // alpha bits ignored
    EXPECT_EQ(ReadBitMapPixel(b.get(), 2, 0), AsStored(0x808080));
    EXPECT_EQ(Raw(b.get(), 5, 0), RGBToPixelFormat(0xFF0000, f));  // beyond the width
}

struct ThresholdCase {
    int32_t outputKind, invert;
    bool withSource;
    // Expected result for map bytes 10 (below the threshold 50) and 200 (above), over a source
    // bit or byte of 1 / 0x77.
    uint8_t below, above;
};

TEST(ThresholdToMask, BothOutputsAndInvertFlags) {
    const ThresholdCase cases[] = {
        {0, 0, true, 1, 0},  {0, 1, true, 0, 1},    {0, 0, false, 1, 0},
        {0, 1, false, 0, 1}, {1, 0, true, 0x77, 0}, {1, 1, true, 0, 0x77},
    };
    for (const ThresholdCase& c : cases) {
        qv::test::GuardedPlane source(6, 2, c.outputKind == 0 ? 1 : 8);
        qv::test::GuardedPlane dest(6, 2, c.outputKind == 0 ? 1 : 8);
        for (int32_t y = 0; y < 2; ++y) {
            for (int32_t x = 0; x < 6; ++x) {
                if (c.outputKind == 0) {
                    source.SetBit(x, y, true), dest.SetBit(x, y, x % 2 == 0);
                } else {
                    source.Byte(x, y) = 0x77, dest.Byte(x, y) = 0x33;
                }
            }
        }
        const uint8_t map[12] = {10, 200, 10, 200, 50, 49, 200, 10, 200, 10, 49, 50};
        const qvThresholdBlock block{c.withSource ? source.get()->plane : nullptr,
                                     dest.get()->plane,
                                     6,
                                     2,
                                     source.get()->bytesPerRow,
                                     dest.get()->bytesPerRow,
                                     map,
                                     c.outputKind,
                                     c.invert};
        ThresholdToMask(block, 50);
        for (int32_t i = 0; i < 12; ++i) {
            const int32_t x = i % 6, y = i / 6;
            const uint8_t expected = map[i] >= 50 ? c.above : c.below;
            const uint8_t actual = c.outputKind == 0 ? dest.Bit(x, y) : dest.Byte(x, y);
            EXPECT_EQ(actual, expected) << c.outputKind << c.invert << c.withSource << " " << i;
        }
        EXPECT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact());
    }
    // An 8-bit output without a source plane is left alone.
    qv::test::GuardedPlane dest(4, 1, 8);
    dest.Byte(0, 0) = 9;
    const uint8_t map[4] = {};
    ThresholdToMask({nullptr, dest.get()->plane, 4, 1, 0, dest.get()->bytesPerRow, map, 1, 0}, 1);
    EXPECT_EQ(dest.Byte(0, 0), 9);
}

TEST(ClearAlphaArea, RowTailsAndWholeBuffer) {
    // Row length = width: the row tails are empty.
    qv::test::GuardedBitMap exact(4, 3, QV_FMT_A8R8G8B8, 0);
    std::mt19937 random(1);
    exact.rows().Randomise(random);
    const auto before = exact.rows().bytes();
    ClearAlphaArea(exact.get(), 1);
    EXPECT_EQ(exact.rows().bytes(), before);
    // Padded rows: the tails are zeroed, whole pixels, the rest stays.
    qv::test::GuardedBitMap padded(4, 3, QV_FMT_A8R8G8B8, 2);
    padded.rows().Randomise(random);
    const uint32_t kept = *reinterpret_cast<uint32_t*>(padded.at(3, 2));
    std::memset(padded.at(4, 1), 0x5A, 8);
    ClearAlphaArea(padded.get(), 1);
    EXPECT_EQ(*reinterpret_cast<uint32_t*>(padded.at(3, 2)), kept);
    EXPECT_EQ(*reinterpret_cast<uint64_t*>(padded.at(4, 1)), 0u);
    ClearAlphaArea(padded.get(), 0);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(*reinterpret_cast<uint32_t*>(padded.at(x, y)), 0u);
    }
    EXPECT_TRUE(padded.rows().GuardsIntact());
    // Other depths are left alone.
    qv::test::GuardedBitMap narrow(4, 3, QV_FMT_R5G6B5, 2);
    narrow.rows().Randomise(random);
    const auto narrowBefore = narrow.rows().bytes();
    ClearAlphaArea(narrow.get(), 0);
    EXPECT_EQ(narrow.rows().bytes(), narrowBefore);
}

TEST(IntSqrt, FloorOfTheSquareRootAndMinusOneBelowZero) {
    for (auto [n, root] : {std::pair{-1, -1}, {INT32_MIN, -1}, {INT32_MAX, 46340}}) {
        EXPECT_EQ(IntSqrt(n), root) << n;
    }
    if (!DefaultScreenFormat()) GTEST_SKIP() << "independent of the screen format";
    for (int32_t n = 0; n < (1 << 24); ++n) {
        ASSERT_EQ(IntSqrt(n), int32_t(std::floor(std::sqrt(double(n))))) << n;
    }
    std::mt19937 random(3);
    for (int i = 0; i < 1000000; ++i) {
        const auto n = int32_t(random() >> 1);
        ASSERT_EQ(IntSqrt(n), int32_t(std::floor(std::sqrt(double(n))))) << n;
    }
}

}  // namespace
