// Bitmaps with a mask or an alpha plane turned into ARGB arrays for saving: the four alpha
// rules, a pixel hidden by the mask becoming exactly the given colour with alpha 0, one of
// alpha 0 keeping its colour with the given one OR-ed in, and the array's memory on failure.
#include <gtest/gtest.h>

#include "engine/error_codes.h"
#include "gfx/save_picture.h"
#include "platform/linux/memory.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;

constexpr int32_t kWidth = 21, kHeight = 5;

// Pixels with every colour channel set somewhere, so that an OR would show.
uint32_t Colour(int32_t x, int32_t y) {
    return (uint32_t(x) * 0x0B1357 + uint32_t(y) * 0x2A0F31) & 0xFFFFFF;
}

bool Shown(int32_t x, int32_t y) {
    return (x + 2 * y) % 3 != 0;
}

struct Pictures {
    BitMapPtr bitmap{AllocDisplayBitMap(kWidth, kHeight)};
    PlanePtr mask{AllocMaskBitMap(nullptr, kWidth, kHeight, 1)};
    PlanePtr alpha{AllocAlphaBitMap(kWidth, kHeight, 1)};

    Pictures() {
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                PlotPixel(bitmap.get(), x, y, Colour(x, y));
                if (Shown(x, y)) mask->plane[y * mask->bytesPerRow + x / 8] |= 0x80 >> (x & 7);
                alpha->plane[y * alpha->bytesPerRow + x] = Shown(x, y) ? uint8_t(x * 12 + 1) : 0;
            }
        }
    }
};

enum class Source { kMaskAlpha, kMaskColour, kAlphaPlane, kNone };

struct Case {
    const char* name;
    Source source;
    uint32_t colour;
};

class BitmapToPixelArrayTest : public ::testing::TestWithParam<Case> {};

TEST_P(BitmapToPixelArrayTest, AppliesItsAlphaRule) {
    const Case& c = GetParam();
    Pictures p;
    const qvPlaneBitMap* mask =
        c.source == Source::kMaskAlpha || c.source == Source::kMaskColour ? p.mask.get() : nullptr;
    const qvPlaneBitMap* alpha = c.source == Source::kAlphaPlane ? p.alpha.get() : nullptr;
    qvARGB* pixels = BitmapToPixelArray(p.bitmap.get(), kWidth, kHeight, mask, alpha, c.colour,
                                        c.source == Source::kMaskAlpha);
    ASSERT_NE(pixels, nullptr);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const qvARGB rgb = ReadBitMapPixel(p.bitmap.get(), x, y);  // as the format holds it
            qvARGB expected = 0xFF000000 | rgb;
            if (c.source == Source::kMaskAlpha && !Shown(x, y)) expected = rgb;
            if (c.source == Source::kAlphaPlane)
                expected = qvARGB(p.alpha->plane[y * p.alpha->bytesPerRow + x]) << 24 | rgb;
            if (c.source == Source::kMaskColour && !Shown(x, y)) expected = c.colour & 0xFFFFFF;
            if (c.source == Source::kAlphaPlane && !Shown(x, y))
                expected = rgb | (c.colour & 0xFFFFFF);
            EXPECT_EQ(pixels[y * kWidth + x], expected) << x << "," << y;
        }
    }
    FreeMemBlock(pixels);
}

INSTANTIATE_TEST_SUITE_P(Rules, BitmapToPixelArrayTest,
                         ::testing::Values(Case{"MaskGivesAlpha", Source::kMaskAlpha, QV_NOCOLOR},
                                           Case{"MaskNoColour", Source::kMaskColour, QV_NOCOLOR},
                                           Case{"MaskBlack", Source::kMaskColour, 0},
                                           Case{"MaskBlue", Source::kMaskColour, 0x0000FF},
                                           Case{"AlphaNoColour", Source::kAlphaPlane, QV_NOCOLOR},
                                           Case{"AlphaBlack", Source::kAlphaPlane, 0},
                                           Case{"AlphaBlue", Source::kAlphaPlane, 0x0000FF},
                                           Case{"AlphaRed", Source::kAlphaPlane, 0xFF0000},
                                           Case{"Neither", Source::kNone, 0x123456}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SaveBitmap, ArrayAllocationFailureIsErrMem) {
    Pictures p;
    qv::AllocationFault fault(1, true);
    EXPECT_EQ(SaveBitmap(IMGFMT_BMP, p.bitmap.get(), kWidth, kHeight, "T:never.bmp", p.mask.get(),
                         QV_NOCOLOR, nullptr, 90, 256, 0),
              ERR_MEM);
}

}  // namespace
