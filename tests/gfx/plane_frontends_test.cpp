// The plane front-ends: combination modes, alpha to mask bits, mask expansion, whole-plane
// copies between planes of different row lengths, duplicates, polygon filling, and the
// clipping to the planes given.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/guarded_bitmap.h"

namespace {

using qv::test::GuardedPlane;
using qv::test::PlanePtr;

// Source and destination bytes of the combination table, and the value 128.
constexpr std::array<std::array<uint8_t, 2>, 7> kPairs = {
    {{0, 0}, {0, 77}, {100, 0}, {100, 77}, {255, 0}, {255, 77}, {255, 255}}};

struct CombineRow {
    int32_t mode;
    std::array<uint8_t, 7> result;
};

TEST(CopyPlane8Rect, CombinesInEveryMode) {
    const CombineRow rows[] = {
        {0, {0, 0, 100, 100, 255, 255, 255}},   // copy
        {1, {0, 77, 100, 100, 255, 255, 255}},  // s where s != 0
        {2, {0, 77, 155, 155, 0, 0, 0}},        // 255 - s where s != 0
        {3, {0, 77, 255, 255, 255, 255, 255}},  // 255 where s != 0
        {4, {0, 77, 50, 50, 128, 128, 128}},    // s x value / 255 where s != 0
        {5, {0, 77, 0, 155, 0, 0, 0}},          // 255 - s where s and d != 0
        {6, {0, 77, 128, 128, 128, 128, 128}},  // value where s != 0
        {7, {0, 0, 0, 100, 0, 255, 255}},       // s where s and d != 0, else 0
        {8, {0, 77, 0, 77, 255, 255, 255}},     // 255 where s = 255
        {9, {0, 0, 100, 100, 255, 255, 255}},   // any other mode copies
        {-1, {0, 0, 100, 100, 255, 255, 255}},
    };
    for (const CombineRow& row : rows) {
        GuardedPlane source(7, 1, 8), dest(9, 2, 8);
        for (int32_t i = 0; i < 7; ++i) {
            source.Byte(i, 0) = kPairs[i][0];
            dest.Byte(i + 1, 1) = kPairs[i][1];
        }
        CopyPlane8Rect(source.get(), 0, 0, dest.get(), 1, 1, 7, 1, row.mode, 128);
        for (int32_t i = 0; i < 7; ++i) {
            EXPECT_EQ(dest.Byte(i + 1, 1), row.result[i])
                << "mode " << row.mode << " s " << int(kPairs[i][0]) << " d " << int(kPairs[i][1]);
        }
    }
}

// Rows long enough for the vector loops, in every mode, give what the same bytes give one
// at a time.
TEST(CopyPlane8Rect, WideRowsCombineAsSingleBytes) {
    std::mt19937 random(5);
    for (int32_t mode = 0; mode <= 9; ++mode) {
        for (int32_t width : {9, 16, 31, 70}) {
            GuardedPlane source(width, 2, 8), wide(width, 2, 8), single(width, 2, 8);
            for (int32_t y = 0; y < 2; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    const uint32_t pick = random() % 3;
                    source.Byte(x, y) = pick == 0 ? 0 : pick == 1 ? 255 : uint8_t(random());
                    wide.Byte(x, y) = single.Byte(x, y) = random() % 2 == 0 ? 0 : uint8_t(random());
                }
            }
            CopyPlane8Rect(source.get(), 0, 0, wide.get(), 0, 0, width, 2, mode, 90);
            for (int32_t y = 0; y < 2; ++y) {
                for (int32_t x = 0; x < width; ++x)
                    CopyPlane8Rect(source.get(), x, y, single.get(), x, y, 1, 1, mode, 90);
            }
            for (int32_t y = 0; y < 2; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    ASSERT_EQ(wide.Byte(x, y), single.Byte(x, y))
                        << "mode " << mode << " width " << width << " at " << x << "," << y;
                }
            }
        }
    }
}

TEST(CopyPlane8Rect, StaysInsideBothPlanes) {
    GuardedPlane source(5, 3, 8), dest(4, 4, 8);
    std::fill_n(source.rows().base(), source.get()->bytesPerRow * 3, 200);
    for (auto [sx, sy, dx, dy] : {std::array{-2, -1, 0, 0}, std::array{0, 0, -3, 2},
                                  std::array{3, 2, 3, 3}, std::array{0, 0, 5, 0}}) {
        CopyPlane8Rect(source.get(), sx, sy, dest.get(), dx, dy, 10, 10, 0, 0);
    }
    EXPECT_TRUE(dest.rows().GuardsIntact());
}

TEST(CopyPlane8RectClipped, ANegativeSourceMovesTheDestination) {
    GuardedPlane source(6, 1, 8), dest(6, 1, 8);
    for (int32_t x = 0; x < 6; ++x) source.Byte(x, 0) = uint8_t(10 + x), dest.Byte(x, 0) = 0;
    CopyPlane8RectClipped(source.get(), -2, 0, dest.get(), 1, 0, 4, 1, 6, 1, 6, 1, 0, 0);
    const std::array<uint8_t, 6> want = {0, 0, 0, 10, 11, 0};
    for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(dest.Byte(x, 0), want[x]) << x;
}

struct MaskRow {
    int32_t mode;
    bool opaqueSetsTo[2];  // before 0, before 1
    bool otherSetsTo[2];
};

TEST(AlphaToMaskRect, SetsBitsByMaskModeAndOpacity) {
    const MaskRow rows[] = {
        {0, {true, true}, {false, false}}, {1, {false, false}, {true, true}},
        {2, {true, true}, {false, false}}, {3, {true, false}, {false, true}},
        {4, {false, true}, {false, true}}, {5, {true, true}, {false, true}},
        {6, {false, true}, {false, true}},  // no such mode: bits stay
    };
    for (const MaskRow& row : rows) {
        GuardedPlane alpha(4, 1, 8), mask(6, 1, 1);
        const uint8_t bytes[4] = {255, 255, 128, 128};
        const bool before[4] = {false, true, false, true};
        for (int32_t x = 0; x < 4; ++x)
            alpha.Byte(x, 0) = bytes[x], mask.SetBit(x + 2, 0, before[x]);
        AlphaToMaskRect(alpha.get(), 0, 0, mask.get(), 2, 0, 4, 1, row.mode);
        EXPECT_EQ(mask.Bit(2, 0), row.opaqueSetsTo[0]) << "mode " << row.mode;
        EXPECT_EQ(mask.Bit(3, 0), row.opaqueSetsTo[1]) << "mode " << row.mode;
        EXPECT_EQ(mask.Bit(4, 0), row.otherSetsTo[0]) << "mode " << row.mode;
        EXPECT_EQ(mask.Bit(5, 0), row.otherSetsTo[1]) << "mode " << row.mode;
    }
}

TEST(ExpandMaskToPlane8, ClearBitsWriteZeroWhereTheRectFormLeavesThem) {
    for (bool rect : {true, false}) {
        GuardedPlane mask(11, 2, 1), plane(12, 3, 8);
        for (int32_t x = 0; x < 11; ++x) mask.SetBit(x, 1, x % 3 == 0);
        for (int32_t x = 0; x < 12; ++x) plane.Byte(x, 2) = 9;
        (rect ? ExpandMaskToPlane8Rect : ExpandMaskToPlane8)(mask.get(), 1, 1, plane.get(), 2, 2,
                                                             10, 1, 200);
        for (int32_t x = 0; x < 12; ++x) {
            bool inside = x >= 2, bit = inside && (x - 1) % 3 == 0;
            uint8_t want = !inside ? 9 : bit ? 200 : rect ? 9 : 0;
            EXPECT_EQ(plane.Byte(x, 2), want) << (rect ? "rect " : "") << x;
        }
    }
}

TEST(CopyPlane8, ScalesWholeRowsOfPlanesWithOtherRowLengths) {
    // A source with longer rows than the destination: only the rows both have are copied.
    GuardedPlane source(16, 3, 8, 4), dest(4, 2, 8);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 16; ++x) source.Byte(x, y) = 200;
    }
    CopyPlane8(source.get(), dest.get(), 3, 128);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(dest.Byte(x, y), 100);  // 200 x 128 / 255
    }
    EXPECT_TRUE(dest.rows().GuardsIntact());
    // In place.
    CopyPlane8(dest.get(), dest.get(), 2, 255);
    EXPECT_EQ(dest.Byte(3, 1), 100);
}

TEST(DuplicatePlanes, CopyRowByRowAndClearTheRest) {
    // A mask whose rows come from a wider friend bitmap.
    qv::test::BitMapPtr wide(AllocDisplayBitMap(100, 2));
    PlanePtr mask(AllocMaskBitMap(wide.get(), 9, 2, 1));
    ASSERT_GT(mask->bytesPerRow, 2);
    PlotPixel(mask.get(), 0, 1, 0);
    PlotPixel(mask.get(), 8, 1, 0);
    PlotPixel(mask.get(), 60, 1, 0);  // beyond the width, inside the friend's rows
    PlanePtr copy(DuplicateMaskBitmap(mask.get(), 9, 3));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(ReadBitMapPixel(copy.get(), 0, 1), 1u);
    EXPECT_EQ(ReadBitMapPixel(copy.get(), 8, 1), 1u);
    EXPECT_EQ(ReadBitMapPixel(copy.get(), 0, 2), 0u) << "a row the source does not have";

    PlanePtr alpha(AllocAlphaBitMap(5, 2, 1));
    alpha->plane[alpha->bytesPerRow + 4] = 77;
    PlanePtr alphaCopy(DuplicatePlane8Bitmap(alpha.get(), 3, 2));
    ASSERT_NE(alphaCopy, nullptr);
    EXPECT_EQ(alphaCopy->plane[alphaCopy->bytesPerRow + 4], 77) << "padding of the copy";
    {
        qv::AllocationFault fault(1, true);
        EXPECT_EQ(DuplicateMaskBitmap(mask.get(), 9, 2), nullptr);
        EXPECT_EQ(DuplicatePlane8Bitmap(alpha.get(), 5, 2), nullptr);
    }
}

TEST(FillMaskPolygon, FillsPixelCentresInsideAndStaysInTheMask) {
    GuardedPlane mask(10, 8, 1);
    for (int32_t y = 0; y < 8; ++y) std::fill_n(mask.rows().row(y), 2, 0);
    const int32_t square[] = {2, 2, 6, 2, 6, 6, 2, 6};
    EXPECT_EQ(FillMaskPolygon(mask.get(), square, 4), 0);
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 0; x < 10; ++x) {
            EXPECT_EQ(mask.Bit(x, y), x >= 2 && x < 6 && y >= 2 && y < 6) << x << "," << y;
        }
    }
    // A triangle far beyond every edge: rows and spans are cut to the mask.
    const int32_t huge[] = {-1000, -1000, 5000, 4, -1000, 3000};
    EXPECT_EQ(FillMaskPolygon(mask.get(), huge, 3), 0);
    EXPECT_TRUE(mask.rows().GuardsIntact() && mask.rows().PaddingIntact());
    EXPECT_TRUE(mask.Bit(0, 7) && mask.Bit(9, 0));
    {
        qv::AllocationFault fault(1, false);
        EXPECT_EQ(FillMaskPolygon(mask.get(), square, 4), ERR_MEM);
    }
}

TEST(FillPlane8Rect, IsCutToThePlane) {
    GuardedPlane plane(5, 4, 8);
    FillPlane8Rect(plane.get(), -3, 2, 100, 100, 55);
    EXPECT_EQ(plane.Byte(0, 2), 55);
    EXPECT_EQ(plane.Byte(4, 3), 55);
    EXPECT_EQ(plane.Byte(0, 1), qv::test::kGuardByte);
    EXPECT_TRUE(plane.rows().GuardsIntact());
}

}  // namespace
