// ScaleBitmap and ScalePixels in the screen format: edge cases, the cached maps, planes,
// supplied destinations, the compositor, failures, float drift and the autoscaled window.
#include <gtest/gtest.h>
#include <utility>

#include <random>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/scale.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/coordinate_picture.h"
#include "tests/gfx/support/fake_blit_host.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::Outputs;
using qv::test::PlanePtr;
namespace hooks = qv::platform::testing;

using Source = qv::test::CoordinatePicture;

class ScaleBitmapTest : public ::testing::Test {
protected:
    void SetUp() override { FreeScaleTables(); }
    void TearDown() override { FreeScaleTables(); }
};

TEST_F(ScaleBitmapTest, EmptyDestinationsAndBadSourcesProduceNothing) {
    Source source(8, 8, true, false);
    hooks::GrantCompositing(qv::kCompositeScale, true);
    for (auto [w, h] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{-3, 5}}) {
        Outputs out;
        EXPECT_EQ(ScaleBitmap(source.bitmap.get(), source.mask.get(), nullptr, 0, 0, nullptr, 8, 8,
                              w, h, 0, &out.bitmap, &out.mask, &out.alpha),
                  0);
        EXPECT_EQ(out.bitmap, nullptr);
        EXPECT_EQ(out.mask, nullptr);
    }
    EXPECT_EQ(hooks::CompositeCallCounts().scale, 0);
    const struct {
        int32_t x, y, w, h, result;
    } rows[] = {
        {0, 0, 0, 8, ERR_BADDIMENSIONS}, {0, 0, 8, -1, ERR_BADDIMENSIONS},
        {1, 0, 8, 8, ERR_COORDSRANGE},   {-1, 0, 4, 4, ERR_COORDSRANGE},
        {0, 7, 8, 2, ERR_COORDSRANGE},   {0, 0, 8, 8, 0},
    };
    for (const auto& row : rows) {
        Outputs out;
        EXPECT_EQ(ScaleBitmap(source.bitmap.get(), source.mask.get(), nullptr, row.x, row.y,
                              nullptr, row.w, row.h, 4, 4, 1, &out.bitmap, &out.mask, nullptr),
                  row.result)
            << row.x << "," << row.y << " " << row.w << "x" << row.h;
    }
}

TEST_F(ScaleBitmapTest, NearestPicksTheSameSourceForColourMaskAndAlpha) {
    Source source(13, 9, true, true);
    Outputs out;
    ASSERT_EQ(ScaleBitmap(source.bitmap.get(), source.mask.get(), source.alpha.get(), 2, 1, nullptr,
                          10, 7, 23, 5, 0, &out.bitmap, &out.mask, &out.alpha),
              0);
    ASSERT_NE(out.mask, nullptr);
    ASSERT_NE(out.alpha, nullptr);
    EXPECT_EQ(out.bitmap->width, 23);
    EXPECT_EQ(out.bitmap->height, 5);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 23; ++x) {
            const auto [sx, sy] = qv::test::SourceOf(out.bitmap, x, y, 13);
            ASSERT_TRUE(sx >= 2 && sx < 12 && sy >= 1 && sy < 8) << x << "," << y;
            EXPECT_EQ(ReadBitMapPixel(out.mask, x, y), qv::test::CoordinateBit(sx, sy) ? 1u : 0u);
            EXPECT_EQ(out.alpha->plane[y * out.alpha->bytesPerRow + x],
                      qv::test::CoordinateAlpha(sx, sy));
        }
    }
}

TEST_F(ScaleBitmapTest, SmoothingInterpolatesPixelsButTakesMaskBitsWhole) {
    // A source of two colours side by side: the interpolated row runs from one to the other,
    // while the mask follows the integer source column of each destination column.
    BitMapPtr source(AllocDisplayBitMap(4, 2));
    PlanePtr mask(AllocMaskBitMap(source.get(), 4, 2, 1));
    RectFill(source.get(), 0, 0, 2, 2, 0x000000);
    RectFill(source.get(), 2, 0, 2, 2, 0xF8F8F8);
    FillMaskRect(mask.get(), 1, 0, 1, 2, 0);
    Outputs out;
    ASSERT_EQ(ScaleBitmap(source.get(), mask.get(), nullptr, 0, 0, nullptr, 4, 2, 16, 2, 1,
                          &out.bitmap, &out.mask, nullptr),
              0);
    const int64_t step = (3 * 65536) / 16;
    uint32_t previous = 0;
    int levels = 0;
    for (int32_t x = 0; x < 16; ++x) {
        const int64_t column = x * step >> 16;
        EXPECT_EQ(ReadBitMapPixel(out.mask, x, 0), column == 1 ? 1u : 0u) << x;
        const uint32_t red = ReadBitMapPixel(out.bitmap, x, 0) >> 16;
        EXPECT_GE(red, previous) << x;
        levels += red != previous;
        previous = red;
    }
    EXPECT_GT(levels, 2);  // more than the two source colours
}

// The bilinear rule pixel by pixel: column i samples at i x step / 65536 with step =
// floor((w - 1) x 65536 / dw), rows alike; top, bottom and value truncate in turn.
uint32_t Bilinear(const qvDisplayBitMap* source, int32_t dw, int32_t dh, int32_t i, int32_t j) {
    const auto stepX = int64_t(double(source->width - 1) * 65536.0 / dw);
    const auto stepY = int64_t(double(source->height - 1) * 65536.0 / dh);
    const int64_t ax = i * stepX, ay = j * stepY;
    const auto x = int32_t(ax >> 16), y = int32_t(ay >> 16);
    const auto fx = int32_t(ax & 0xFFFF), fy = int32_t(ay & 0xFFFF);
    const int32_t right = x + (source->width > 1), below = y + (source->height > 1);
    uint32_t rgb = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        auto at = [&](int32_t px, int32_t py) {
            return int32_t((ReadBitMapPixel(source, px, py) >> shift) & 255);
        };
        const int32_t top = at(x, y) + (((at(right, y) - at(x, y)) * fx) >> 16);
        const int32_t bottom = at(x, below) + (((at(right, below) - at(x, below)) * fx) >> 16);
        rgb |= uint32_t(top + (((bottom - top) * fy) >> 16)) << shift;
    }
    return qv::test::AsStored(source->format, rgb);
}

TEST_F(ScaleBitmapTest, BilinearFollowsTheRuleExactly) {
    const struct {
        int32_t sw, sh, dw, dh;
    } rows[] = {{13, 9, 31, 23}, {13, 9, 6, 4}, {1, 9, 5, 7}, {13, 1, 29, 3}, {7, 7, 7, 7}};
    std::mt19937 random(5);
    for (const auto& row : rows) {
        BitMapPtr source(AllocDisplayBitMap(row.sw, row.sh));
        for (int32_t y = 0; y < row.sh; ++y) {
            for (int32_t x = 0; x < row.sw; ++x) PlotPixel(source.get(), x, y, random() & 0xFFFFFF);
        }
        Outputs out;
        ASSERT_EQ(ScaleBitmap(source.get(), nullptr, nullptr, 0, 0, nullptr, row.sw, row.sh, row.dw,
                              row.dh, 1, &out.bitmap, nullptr, nullptr),
                  0);
        for (int32_t j = 0; j < row.dh; ++j) {
            for (int32_t i = 0; i < row.dw; ++i) {
                ASSERT_EQ(ReadBitMapPixel(out.bitmap, i, j),
                          Bilinear(source.get(), row.dw, row.dh, i, j))
                    << row.sw << "x" << row.sh << " to " << row.dw << "x" << row.dh << " at " << i
                    << "," << j;
            }
        }
    }
}

TEST_F(ScaleBitmapTest, OnePixelWideSourceAtTheEdgeReadsNothingBeyondIt) {
    // An exact-size buffer: the pixel right of the last one is outside the allocation, so
    // AddressSanitizer reports any read of it.
    const uint32_t format = qv::ScreenFormat();
    const int bytes = qv::BytesPerPixel(format);
    std::vector<uint8_t> pixels(size_t(5) * 3 * bytes);
    qvDisplayBitMap bitmap{5, 3, 5, format, bytes, false, false, pixels.data(), 0};
    std::vector<uint8_t> alphaBytes(5 * 3, 200);
    qvPlaneBitMap alpha{5, 3, 5, 8, kPlaneWrapped, alphaBytes.data()};
    PlotPixel(&bitmap, 4, 0, 0xF80000);
    PlotPixel(&bitmap, 4, 2, 0x0000F8);
    for (auto [w, h] : {std::pair{1, 3}, std::pair{1, 1}}) {
        Outputs out;
        ASSERT_EQ(ScaleBitmap(&bitmap, nullptr, &alpha, 4, 3 - h, nullptr, w, h, 7, 9, 1,
                              &out.bitmap, nullptr, &out.alpha),
                  0);
        for (int32_t x = 0; x < 7; ++x) {
            EXPECT_EQ(ReadBitMapPixel(out.bitmap, x, 0), ReadBitMapPixel(&bitmap, 4, 3 - h)) << x;
            EXPECT_EQ(out.alpha->plane[8 * out.alpha->bytesPerRow + x], 200);
        }
    }
}

TEST_F(ScaleBitmapTest, TheMapsAreReusedAndRegrownPerAxis) {
    Source source(6, 6, false, false);
    auto scale = [&](int32_t w, int32_t h) {
        Outputs out;
        return ScaleBitmap(source.bitmap.get(), nullptr, nullptr, 0, 0, nullptr, 6, 6, w, h, 1,
                           &out.bitmap, nullptr, nullptr);
    };
    const qv::gfx::ScaleMaps& maps = qv::gfx::Graphics().scaleMaps;
    using Axis = qv::gfx::ScaleMaps;
    ASSERT_EQ(scale(20, 30), 0);
    const int32_t* xSteps = maps.Steps(Axis::kX);
    const int32_t* ySteps = maps.Steps(Axis::kY);
    EXPECT_EQ(maps.Capacity(Axis::kX), 20);
    EXPECT_EQ(maps.Capacity(Axis::kY), 30);
    ASSERT_EQ(scale(10, 12), 0);  // smaller: reused
    EXPECT_EQ(maps.Steps(Axis::kX), xSteps);
    EXPECT_EQ(maps.Steps(Axis::kY), ySteps);
    EXPECT_EQ(maps.Capacity(Axis::kX), 20);
    ASSERT_EQ(scale(40, 12), 0);  // wider: only the x maps regrow
    EXPECT_EQ(maps.Capacity(Axis::kX), 40);
    EXPECT_EQ(maps.Steps(Axis::kY), ySteps);
    EXPECT_EQ(maps.Capacity(Axis::kY), 30);
    // Nearest scaling does not need them.
    Outputs out;
    ASSERT_EQ(ScaleBitmap(source.bitmap.get(), nullptr, nullptr, 0, 0, nullptr, 6, 6, 100, 100, 0,
                          &out.bitmap, nullptr, nullptr),
              0);
    EXPECT_EQ(maps.Capacity(Axis::kX), 40);
}

// A picture wider or taller than any bitmap can be is refused before its maps are reserved:
// a width near 2^31 asked for 8 GB of maps first.
TEST_F(ScaleBitmapTest, AnImpossibleSizeIsRefusedBeforeItsMapsAreMade) {
    Source source(6, 6, false, false);
    const qv::gfx::ScaleMaps& maps = qv::gfx::Graphics().scaleMaps;
    using Axis = qv::gfx::ScaleMaps;
    for (const auto& [w, h] : {std::pair{qv::kMaxBitMapSide + 1, 4}, {4, INT32_MAX}}) {
        Outputs out;
        EXPECT_EQ(ScaleBitmap(source.bitmap.get(), nullptr, nullptr, 0, 0, nullptr, 6, 6, w, h, 1,
                              &out.bitmap, nullptr, nullptr),
                  ERR_MEM);
        EXPECT_EQ(out.bitmap, nullptr);
        EXPECT_LE(maps.Capacity(Axis::kX), qv::kMaxBitMapSide);
        EXPECT_LE(maps.Capacity(Axis::kY), qv::kMaxBitMapSide);
    }
}

TEST_F(ScaleBitmapTest, AFailedRegrowLeavesNoMapToReadLater) {
    Source source(6, 6, false, false);
    auto scale = [&](int32_t w) {
        Outputs out;
        return ScaleBitmap(source.bitmap.get(), nullptr, nullptr, 0, 0, nullptr, 6, 6, w, 4, 1,
                           &out.bitmap, nullptr, nullptr);
    };
    using Axis = qv::gfx::ScaleMaps;
    const qv::gfx::ScaleMaps& maps = qv::gfx::Graphics().scaleMaps;
    ASSERT_EQ(scale(10), 0);
    for (uint64_t n : {1, 2}) {  // the step map or the fraction map fails
        {
            qv::AllocationFault fault(n, false);
            EXPECT_EQ(scale(30), ERR_MEM);
        }
        EXPECT_EQ(maps.Capacity(Axis::kX), 0);
        EXPECT_EQ(maps.Steps(Axis::kX), nullptr);
        EXPECT_EQ(maps.Fractions(Axis::kX), nullptr);
        EXPECT_EQ(scale(5), 0);  // smaller than before: allocates again
        EXPECT_EQ(maps.Capacity(Axis::kX), 5);
    }
}

TEST_F(ScaleBitmapTest, EveryAllocationFailureIsErrMemWithNothingLeft) {
    Source source(7, 5, false, true);
    PlanePtr mask(AllocMaskBitMap(nullptr, 7, 5, 1));
    for (int smooth : {0, 1}) {
        for (uint64_t n = 1;; ++n) {
            FreeScaleTables();
            const size_t live = qv::GetMemoryStats().liveBlocks;
            Outputs out;
            int result;
            {
                qv::AllocationFault fault(n, false);
                result =
                    ScaleBitmap(source.bitmap.get(), mask.get(), source.alpha.get(), 0, 0, nullptr,
                                7, 5, 9, 3, smooth, &out.bitmap, &out.mask, &out.alpha);
            }
            if (result == 0) break;
            ASSERT_EQ(result, ERR_MEM) << n;
            EXPECT_EQ(out.bitmap, nullptr);
            FreeScaleTables();
            EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live) << n;
        }
    }
}

TEST_F(ScaleBitmapTest, ALockFailureFreesWhatTheCallMade) {
    Source source(4, 4, true, false);
    for (uint64_t n : {1, 2}) {
        const size_t live = qv::GetMemoryStats().liveBlocks;
        Outputs out;
        hooks::LockFault fault(n);
        EXPECT_EQ(ScaleBitmap(source.bitmap.get(), source.mask.get(), nullptr, 0, 0, nullptr, 4, 4,
                              8, 8, 0, &out.bitmap, &out.mask, nullptr),
                  ERR_LOCKBMAP);
        EXPECT_EQ(out.bitmap, nullptr);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, live);
    }
}

TEST_F(ScaleBitmapTest, ASuppliedDestinationReceivesColourOnly) {
    Source source(5, 5, true, true);
    BitMapPtr dest = qv::test::Filled(12, 12, 0);
    // Marks that no call may write (nor free).
    auto* const bitmapMark = reinterpret_cast<qvDisplayBitMap*>(0x1);
    auto* const maskMark = reinterpret_cast<qvPlaneBitMap*>(0x2);
    qvDisplayBitMap* outBitmap = bitmapMark;
    qvPlaneBitMap* outMask = maskMark;
    ASSERT_EQ(ScaleBitmap(source.bitmap.get(), source.mask.get(), source.alpha.get(), 0, 0,
                          dest.get(), 5, 5, 10, 10, 0, &outBitmap, &outMask, nullptr),
              0);
    EXPECT_EQ(outBitmap, bitmapMark);
    EXPECT_EQ(outMask, maskMark);
    EXPECT_EQ(qv::test::SourceOf(dest.get(), 9, 9, 5).x, 4);
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 10, 10), 0u);  // beyond the scaled size
    // A destination too small for the size, or in another format, is refused.
    EXPECT_EQ(ScaleBitmap(source.bitmap.get(), nullptr, nullptr, 0, 0, dest.get(), 5, 5, 13, 4, 0,
                          nullptr, nullptr, nullptr),
              ERR_COORDSRANGE);
    const uint32_t other = dest->format == QV_FMT_R8G8B8 ? QV_FMT_B8G8R8 : QV_FMT_R8G8B8;
    BitMapPtr foreign(qv::AllocBitMapInFormat(12, 12, other, false));
    EXPECT_EQ(ScaleBitmap(source.bitmap.get(), nullptr, nullptr, 0, 0, foreign.get(), 5, 5, 4, 4, 0,
                          nullptr, nullptr, nullptr),
              ERR_PIXELFORMAT);
}

TEST_F(ScaleBitmapTest, PlanesWithoutColourAreScaledAlone) {
    PlanePtr mask(AllocMaskBitMap(nullptr, 6, 4, 1)), alpha(AllocAlphaBitMap(6, 4, 1));
    FillMaskRect(mask.get(), 3, 0, 3, 4, 0);
    FillPlane8Rect(alpha.get(), 0, 0, 3, 4, 90);
    for (int smooth : {0, 1}) {
        Outputs out;
        ASSERT_EQ(ScaleBitmap(nullptr, mask.get(), alpha.get(), 0, 0, nullptr, 6, 4, 12, 8, smooth,
                              &out.bitmap, &out.mask, &out.alpha),
                  0);
        EXPECT_EQ(out.bitmap, nullptr);
        EXPECT_EQ(ReadBitMapPixel(out.mask, 0, 0), 0u);
        EXPECT_EQ(ReadBitMapPixel(out.mask, 11, 7), 1u);
        EXPECT_EQ(out.alpha->plane[0], 90);
    }
}

TEST_F(ScaleBitmapTest, TheCompositorScalesScreenFriendsOrFallsBack) {
    BitMapPtr source(AllocDisplayBitMapAlt(6, 6));
    PlanePtr mask(AllocMaskBitMap(source.get(), 6, 6, 1));
    qv::test::PaintCoordinates(source.get(), mask.get());
    SetRuntimeOption(source.get(), 26, 1);
    for (bool succeed : {true, false}) {
        hooks::GrantCompositing(qv::kCompositeScale, succeed);
        Outputs out;
        ASSERT_EQ(ScaleBitmap(source.get(), mask.get(), nullptr, 0, 0, nullptr, 6, 6, 9, 3, 0,
                              &out.bitmap, &out.mask, nullptr),
                  0);
        EXPECT_EQ(hooks::CompositeCallCounts().scale, 1);
        ASSERT_NE(out.bitmap, nullptr);
        EXPECT_EQ(out.bitmap->width, 9);
        if (succeed) {
            // The alpha travels in the pixels: no planes, the result marked and cleared.
            EXPECT_EQ(out.mask, nullptr);
            EXPECT_EQ(QueryBitMapAttr(out.bitmap, 25), 1u);
            EXPECT_EQ(QueryBitMapAttr(out.bitmap, 26), 1u);
            if (out.bitmap->bytesPerPixel == 4) {
                EXPECT_EQ(ReadBitMapPixel(out.bitmap, 8, 2), 0u);
            }
        } else {
            EXPECT_NE(out.mask, nullptr);
            EXPECT_EQ(QueryBitMapAttr(out.bitmap, 25), 0u);
            EXPECT_EQ(qv::test::SourceOf(out.bitmap, 8, 2, 6).x, 5);
        }
    }
}

// ScalePixels straight on a one-pixel-wide column: sizes beyond any bitmap, where the row
// accumulator of single precision drifts onto the row after the last.
TEST(ScalePixels, FloatDriftStaysOnTheLastSourceRow) {
    for (auto [sourceHeight, destHeight] : {std::pair{8191, 65535}, std::pair{100, 30001}}) {
        std::vector<uint16_t> source(static_cast<size_t>(sourceHeight));
        for (int32_t y = 0; y < sourceHeight; ++y) source[size_t(y)] = uint16_t(y);
        std::vector<uint16_t> dest(static_cast<size_t>(destHeight));
        qvScaleBlock block{};
        block.source = reinterpret_cast<const uint8_t*>(source.data());
        block.dest = reinterpret_cast<uint8_t*>(dest.data());
        block.sourceWidth = 1, block.sourceHeight = sourceHeight;
        block.destWidth = 1, block.destHeight = destHeight;
        block.sourceRowLength = 1, block.destRowLength = 1;
        block.format = QV_FMT_R5G6B5, block.bytesPerPixel = 2;
        ScalePixels(block);
        EXPECT_EQ(dest.back(), sourceHeight - 1);
        for (int32_t y = 1; y < destHeight; ++y) {
            ASSERT_GE(dest[size_t(y)], dest[size_t(y) - 1]) << y;
            ASSERT_NEAR(dest[size_t(y)], int64_t(y) * sourceHeight / destHeight, 1) << y;
        }
    }
}

// One row of 40000 pixels, each holding its column: 16.16 positions and the bilinear step
// (s - 1) x 65536 pass 2^31 here.
TEST(ScalePixels, WideSourcesKeepTheirPositions) {
    constexpr int32_t kWidth = 40000;
    std::vector<uint16_t> source(kWidth);
    for (int32_t x = 0; x < kWidth; ++x) source[size_t(x)] = uint16_t(x / 2);  // red and green
    for (auto [destWidth, smooth] : {std::pair{40001, 0}, std::pair{3, 0}, std::pair{2, 1}}) {
        std::vector<uint16_t> dest(static_cast<size_t>(destWidth));
        std::vector<int32_t> maps[4];
        for (auto& map : maps) map.resize(size_t(destWidth) + 1);
        std::vector<uint32_t> rows(3 * (size_t(destWidth) + 1));
        qvScaleBlock block{};
        block.source = reinterpret_cast<const uint8_t*>(source.data());
        block.dest = reinterpret_cast<uint8_t*>(dest.data());
        block.sourceWidth = kWidth, block.sourceHeight = 1;
        block.destWidth = destWidth, block.destHeight = 1;
        block.sourceRowLength = kWidth, block.destRowLength = destWidth;
        block.format = QV_FMT_R5G6B5, block.bytesPerPixel = 2, block.smooth = smooth;
        block.xSteps = maps[0].data(), block.xFractions = maps[1].data();
        block.ySteps = maps[2].data(), block.yFractions = maps[3].data();
        block.rows = rows.data();
        ScalePixels(block);
        // The last column comes from near the end of the row, not from a wrapped position.
        const int64_t exact = int64_t(destWidth - 1) * (kWidth - smooth) / destWidth;
        const uint32_t last = dest.back() & 0xF800;
        EXPECT_NEAR(double(last), double(source[size_t(exact)] & 0xF800), 2048.0)
            << destWidth << " smooth " << smooth;
        for (int32_t x = 1; x < destWidth; ++x) {
            ASSERT_GE(dest[size_t(x)] & 0xF800, dest[size_t(x) - 1] & 0xF800);
        }
    }
}

TEST(ScalePixels, SmoothingWithoutMapsDrawsNothing) {
    std::vector<uint32_t> source(4, 0xFFFFFF), dest(4, 7);
    qvScaleBlock block{};
    block.source = reinterpret_cast<const uint8_t*>(source.data());
    block.dest = reinterpret_cast<uint8_t*>(dest.data());
    block.sourceWidth = 2, block.sourceHeight = 2, block.destWidth = 2, block.destHeight = 2;
    block.sourceRowLength = 2, block.destRowLength = 2;
    block.format = QV_FMT_A8R8G8B8, block.bytesPerPixel = 4, block.smooth = 1;
    ScalePixels(block);
    EXPECT_EQ(dest, std::vector<uint32_t>(4, 7));
}

TEST(WindowBlit, TheAutoscaledRefreshLandsScaledInTheFramebuffer) {
    qv::test::FakeBlitHost host;
    BitMapPtr framebuffer = qv::test::Filled(8, 6, 0);
    qvPlatformDisplay window{};
    window.framebuffer = framebuffer.get();
    host.view.window = &window;
    host.view.autoscale = true;
    host.view.autoscaleWidth = 8, host.view.autoscaleHeight = 6;
    BitMapPtr picture(AllocDisplayBitMap(4, 3));
    qv::test::PaintCoordinates(picture.get());
    BltToDisplay(picture.get(), 0, 0, host.Display(), 0, 0, 4, 3, QV_REFRESH_AUTOSCALE);
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            const auto [sx, sy] = qv::test::SourceOf(framebuffer.get(), x, y, 4);
            EXPECT_EQ(sx, x / 2);
            EXPECT_EQ(sy, y / 2);
        }
    }
    // A scaled size beyond the window draws the part that fits.
    host.view.autoscaleWidth = 16, host.view.autoscaleHeight = 12;
    RectFill(framebuffer.get(), 0, 0, 8, 6, 0);
    BltToDisplay(picture.get(), 0, 0, host.Display(), 0, 0, 4, 3, QV_REFRESH_AUTOSCALE);
    EXPECT_EQ(qv::test::SourceOf(framebuffer.get(), 7, 5, 4).x, 1);
    EXPECT_EQ(qv::test::SourceOf(framebuffer.get(), 7, 5, 4).y, 1);
}

}  // namespace
