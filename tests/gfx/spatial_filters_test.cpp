// Spatial filters: kernel widths, the no-op cases, visibility through masks and alpha, the
// oil-paint tie rule, shadow planes, the frame mode of the displacement kernels, and hostile
// radii, sigmas, angles and phases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"
#include "gfx/spatial_filters.h"
#include "platform/linux/memory.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;
using qv::test::RandomRawBitMap;
using qv::test::Raw;
namespace hooks = qv::platform::testing;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr uint32_t kFormats[] = {QV_FMT_R5G6B5, QV_FMT_R8G8B8, QV_FMT_A8R8G8B8, QV_FMT_R8G8B8A8};

BitMapPtr Copy(const qvDisplayBitMap* b) {
    BitMapPtr c(qv::AllocBitMapInFormat(b->width, b->height, b->format, false));
    CopyWholeBitMap(b, c.get(), b->width, b->height);
    return c;
}

bool SameRaw(const qvDisplayBitMap* a, const qvDisplayBitMap* b) {
    for (int32_t y = 0; y < a->height; ++y) {
        for (int32_t x = 0; x < a->width; ++x) {
            if (Raw(a, x, y) != Raw(b, x, y)) return false;
        }
    }
    return true;
}

PlanePtr RandomAlpha(int32_t width, int32_t height, uint32_t seed) {
    PlanePtr p(AllocAlphaBitMap(width, height, 1));
    std::mt19937 random(seed);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) p->plane[y * p->bytesPerRow + x] = uint8_t(random());
    }
    return p;
}

uint8_t AlphaAt(const qvPlaneBitMap* p, int32_t x, int32_t y) {
    return p->plane[y * p->bytesPerRow + x];
}

// Widths computed once from the formula (literal sums over u, v = -j..j) outside the project,
// with Python 3 (import math as m, itertools as i):
// w1=lambda r,s: 2*m.ceil(r)+1 if r>0 else 1 if abs(s)<=1e-10 else next(n-2 for n in
//   i.count(5,2) if int(255*m.exp(-(n//2)**2/(2*s*s))/(s*m.sqrt(2*m.pi))/sum(m.exp(-u*u/(2*s*s))
//   /(s*m.sqrt(2*m.pi)) for u in range(-(n//2),n//2+1)))<1)
// w2=lambda r,s: 2*m.ceil(r)+1 if r>0 else next(n-2 for n in i.count(5,2) if
//   m.exp(-(n//2)**2/(2*s*s))/(s*m.sqrt(2*m.pi))/sum(m.exp(-(u*u+v*v)/(2*s*s))/(2*m.pi*s*s)
//   for u in range(-(n//2),n//2+1) for v in range(-(n//2),n//2+1))<1/255)
// Rows with a sigma that is tiny or not finite, or a radius below 0 or NaN, follow this
// project's rule.
TEST(SpatialFilters, KernelWidthsMatchTheFormula) {
    const struct {
        double radius, sigma;
        int64_t width1, width2;
    } rows[] = {
        {0, 0.5, 3, 3}, {0, 1, 7, 7},    {0, 2, 11, 11},  {0, 3, 15, 15},
        {0, 8, 37, 37}, {0, 0.3, 3, 3},  {0, 20, 73, 75}, {0, -2, 11, 3},
        {0.5, 1, 3, 3}, {2.2, 1, 7, 7},  {3, 0, 7, 7},    {0, 1e-11, 1, 1},
        {-4, 1, 7, 7},  {0, kNaN, 1, 1}, {0, kInf, 1, 1}, {kNaN, 1, 7, 7},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(KernelWidth1D(r.radius, r.sigma), r.width1) << r.radius << " " << r.sigma;
        EXPECT_EQ(KernelWidth2D(r.radius, r.sigma), r.width2) << r.radius << " " << r.sigma;
    }
    // Widths of huge radii stay in 64 bits and odd; the 2-D search stops past its limit.
    EXPECT_EQ(KernelWidth1D(3e9, 1), 6000000001);
    EXPECT_GT(KernelWidth1D(1e300, 1), int64_t(1) << 61);
    EXPECT_EQ(KernelWidth1D(1e300, 1) % 2, 1);
    EXPECT_EQ(KernelWidth2D(0, 1e300, 40), 41);
}

// The cases in which a filter leaves every pixel as it was, in every depth.
TEST(SpatialFilters, NoOpCases) {
    using Run = std::function<int(qvDisplayBitMap*)>;
    const struct {
        const char* name;
        Run run;
    } cases[] = {
        {"pixelate 1", [](auto b) { return PixelateBitmap(b, nullptr, nullptr, 19, 13, 1); }},
        {"blur sigma 0",
         [](auto b) { return ConvolveBitmap(98, b, nullptr, 19, 13, nullptr, 3, 0); }},
        {"swirl 0", [](auto b) { return SwirlBitmap(b, nullptr, nullptr, 19, 13, 0); }},
        {"ripple amplitude 0",
         [](auto b) { return WaterRippleBitmap(b, nullptr, nullptr, 19, 13, 5, 0, 1, 0.3, 0.6); }},
        {"ripple centre 0, 0",
         [](auto b) { return WaterRippleBitmap(b, nullptr, nullptr, 19, 13, 5, 9, 1, 0, 0); }},
        {"ripple wavelength 0",
         [](auto b) { return WaterRippleBitmap(b, nullptr, nullptr, 19, 13, 0, 9, 1, .5, .5); }},
        {"ripple phase NaN",
         [](auto b) { return WaterRippleBitmap(b, nullptr, nullptr, 19, 13, 4, 9, kNaN, .5, .5); }},
        {"ripple amplitude inf",
         [](auto b) { return WaterRippleBitmap(b, nullptr, nullptr, 19, 13, 4, kInf, 0, .5, .5); }},
        {"swirl NaN", [](auto b) { return SwirlBitmap(b, nullptr, nullptr, 19, 13, kNaN); }},
        {"unknown convolution",
         [](auto b) { return ConvolveBitmap(99, b, nullptr, 19, 13, nullptr, 1, 1); }},
        {"sharpen wider than the picture",
         [](auto b) { return ConvolveBitmap(115, b, nullptr, 19, 13, nullptr, 7, 1); }},
    };
    for (uint32_t format : kFormats) {
        for (const auto& c : cases) {
            BitMapPtr b = RandomRawBitMap(19, 13, 7, format);
            BitMapPtr before = Copy(b.get());
            EXPECT_EQ(c.run(b.get()), 0) << c.name;
            EXPECT_TRUE(SameRaw(b.get(), before.get())) << c.name << " format " << format;
        }
    }
}

// The block side is the smallest of size, width and height: a 9 x 6 picture makes two blocks.
// Pixelate samples a copy in the screen's format, as display bitmaps are.
TEST(SpatialFilters, PixelateBeyondThePictureUsesTheSmallerSide) {
    for (uint32_t format : kFormats) {
        hooks::ScopedScreenFormat screen(format);
        BitMapPtr b = RandomRawBitMap(9, 6, 3, format);
        const uint32_t left = ReadBitMapPixel(b.get(), 0, 0),
                       right = ReadBitMapPixel(b.get(), 6, 0);
        ASSERT_EQ(PixelateBitmap(b.get(), nullptr, nullptr, 9, 6, 1000), 0);
        for (int32_t y = 0; y < 6; ++y) {
            for (int32_t x = 0; x < 9; ++x) {
                ASSERT_EQ(ReadBitMapPixel(b.get(), x, y), x < 6 ? left : right);
            }
        }
    }
}

// Blocks of 4: the sample of each block is its top-left pixel; hidden samples hide their
// block and keep its pixels.
TEST(SpatialFilters, PixelateVisibilityFollowsTheMaskElseTheAlpha) {
    for (const bool withMask : {true, false}) {
        BitMapPtr b = RandomRawBitMap(10, 7, 5, qv::ScreenFormat());
        BitMapPtr before = Copy(b.get());
        PlanePtr mask(AllocMaskBitMap(b.get(), 10, 7, 1));
        PlanePtr alpha = RandomAlpha(10, 7, 9);
        alpha->plane[0] = 0;             // block (0, 0) hidden by alpha
        alpha->plane[4] = 200;           // block (1, 0) visible
        PlotPixel(mask.get(), 4, 0, 0);  // mask: only block (1, 0) visible
        ASSERT_EQ(PixelateBitmap(b.get(), withMask ? mask.get() : nullptr, alpha.get(), 10, 7, 4),
                  0);
        // Block (0, 0) is hidden either way and keeps its pixels.
        EXPECT_EQ(Raw(b.get(), 1, 1), Raw(before.get(), 1, 1));
        EXPECT_EQ(Raw(b.get(), 7, 3), Raw(before.get(), 4, 0));
        if (withMask) {
            EXPECT_EQ(ReadBitMapPixel(mask.get(), 1, 1), 0u);
            EXPECT_EQ(ReadBitMapPixel(mask.get(), 7, 3), 1u);
            EXPECT_EQ(ReadBitMapPixel(mask.get(), 9, 6), 0u);  // cut block, sample hidden
            EXPECT_EQ(Raw(b.get(), 9, 6), Raw(before.get(), 9, 6));
        } else {
            EXPECT_EQ(AlphaAt(alpha.get(), 1, 1), 0);
            EXPECT_EQ(AlphaAt(alpha.get(), 7, 3), 200);
        }
    }
}

// Window in scan order: A(10) B(20) B'(20) / A'(10) and five other intensities. The bin of
// 20 is the first to reach 2, at B', which is taken whole.
TEST(SpatialFilters, OilPaintTakesThePixelThatFirstRaisesTheLargestCount) {
    BitMapPtr b(qv::AllocBitMapInFormat(3, 3, QV_FMT_A8R8G8B8, false));
    const uint32_t pixels[9] = {0x0A0A0A, 0x141414, 0x77141414, 0x110A0A0A, 0x505050,
                                0x606060, 0x707070, 0x808080,   0x909090};
    const uint32_t pick = 0x77141414;
    for (int32_t i = 0; i < 9; ++i) {
        qv::StorePixel(qv::PixelAt(b->pixels, b->rowLength, 4, i % 3, i / 3), 4, pixels[i]);
    }
    ASSERT_EQ(OilPaintBitmap(b.get(), 3, 3, 1), 0);
    EXPECT_EQ(Raw(b.get(), 1, 1), pick);
}

// The tie rule, straight from its wording, over the edge-replicated picture.
uint32_t OilPaintReference(const qvDisplayBitMap* b, int32_t x, int32_t y, int32_t half) {
    uint32_t histogram[256] = {}, most = 0, pick = 0;
    for (int32_t s = y - half; s <= y + half; ++s) {
        for (int32_t t = x - half; t <= x + half; ++t) {
            const uint32_t pixel =
                Raw(b, std::clamp(t, 0, b->width - 1), std::clamp(s, 0, b->height - 1));
            const uint32_t count = ++histogram[qv::IntensityOf(pixel & 0xFFFFFF)];
            if (count > most) most = count, pick = pixel;
        }
    }
    return pick;
}

// Large windows slide their histograms; pictures of few intensities, with colours that share
// an intensity but differ in alpha, make ties everywhere.
TEST(SpatialFilters, OilPaintOfLargeWindowsKeepsTheTieRule) {
    const uint32_t palette[] = {0x10203040, 0x20203040, 0xFF808080, 0x00808080, 0x7F0000FF};
    std::mt19937 random(9);
    for (const double radius : {7.5, 8.0, 12.0, 40.0}) {
        BitMapPtr b(qv::AllocBitMapInFormat(23, 19, QV_FMT_A8R8G8B8, false));
        for (int32_t y = 0; y < 19; ++y) {
            for (int32_t x = 0; x < 23; ++x) {
                const uint32_t colour = palette[random() % (y < 9 ? 2 : 5)];
                qv::StorePixel(qv::PixelAt(b->pixels, b->rowLength, 4, x, y), 4, colour);
            }
        }
        const BitMapPtr before = Copy(b.get());
        const auto half = int32_t(std::ceil(radius));
        ASSERT_EQ(OilPaintBitmap(b.get(), 23, 19, radius), 0);
        for (int32_t y = 0; y < 19; ++y) {
            for (int32_t x = 0; x < 23; ++x) {
                ASSERT_EQ(Raw(b.get(), x, y), OilPaintReference(before.get(), x, y, half))
                    << "radius " << radius << " at " << x << "," << y;
            }
        }
    }
}

// A window far wider than the picture counts every copy of its replicated edges: in the 9 x 9
// window of radius 4 the black edge pixels outnumber the white ones everywhere.
TEST(SpatialFilters, OilPaintCountsTheWholeWindowBeyondASmallPicture) {
    BitMapPtr b(qv::AllocBitMapInFormat(3, 2, QV_FMT_A8R8G8B8, false));
    const uint32_t pixels[6] = {0x000000, 0x000000, 0xFFFFFF, 0x000000, 0xFFFFFF, 0x808080};
    for (int32_t i = 0; i < 6; ++i) {
        qv::StorePixel(qv::PixelAt(b->pixels, b->rowLength, 4, i % 3, i / 3), 4, pixels[i]);
    }
    const BitMapPtr before = Copy(b.get());
    ASSERT_EQ(OilPaintBitmap(b.get(), 3, 2, 4), 0);
    EXPECT_EQ(Raw(b.get(), 2, 0), 0u);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(Raw(b.get(), x, y), OilPaintReference(before.get(), x, y, 4))
                << x << "," << y;
        }
    }
}

// Radii far beyond any picture finish, and every pixel becomes one of the picture's.
TEST(SpatialFilters, OilPaintOfHugeRadiiKeepsThePicturesPixels) {
    for (const double radius : {1e6, 1e12, std::numeric_limits<double>::infinity()}) {
        BitMapPtr b(qv::AllocBitMapInFormat(5, 4, QV_FMT_A8R8G8B8, false));
        for (int32_t i = 0; i < 20; ++i) {
            qv::StorePixel(qv::PixelAt(b->pixels, b->rowLength, 4, i % 5, i / 5), 4,
                           uint32_t(i * 0x0B0A09));
        }
        ASSERT_EQ(OilPaintBitmap(b.get(), 5, 4, radius), 0) << radius;
        for (int32_t i = 0; i < 20; ++i) {
            const uint32_t pixel = Raw(b.get(), i % 5, i / 5);
            EXPECT_EQ(pixel % 0x0B0A09, 0u) << radius;
            EXPECT_LT(pixel / 0x0B0A09, 20u) << radius;
        }
    }
}

TEST(SpatialFilters, EdgeOfAUniformPictureIsBlack) {
    for (uint32_t format : kFormats) {
        for (const double radius : {0.0, 1.0, 2.5}) {
            BitMapPtr b(qv::AllocBitMapInFormat(12, 9, format, false));
            RectFill(b.get(), 0, 0, 12, 9, 0x8040C0);
            ASSERT_EQ(ConvolveBitmap(103, b.get(), nullptr, 12, 9, nullptr, radius, 0), 0);
            for (int32_t y = 0; y < 9; ++y) {
                for (int32_t x = 0; x < 12; ++x) ASSERT_EQ(ReadBitMapPixel(b.get(), x, y), 0u);
            }
        }
    }
}

// A kernel summing to 1 over a flat picture gives the same level, although the sum of the
// normalised weights may fall a rounding step short of 1.
TEST(SpatialFilters, BlurAndSharpenKeepAFlatPicture) {
    for (const uint32_t level : {1u, 77u, 200u, 255u}) {
        for (const double radius : {0.0, 1.5, 3.0, 7.0, 40.0}) {
            for (const int32_t type : {98, 115, 101}) {
                BitMapPtr b(qv::AllocBitMapInFormat(17, 15, QV_FMT_A8R8G8B8, false));
                RectFill(b.get(), 0, 0, 17, 15, level * 0x010101u);
                ASSERT_EQ(ConvolveBitmap(type, b.get(), nullptr, 17, 15, nullptr, radius,
                                         radius / 3 + 0.3),
                          0);
                for (int32_t y = 0; y < 15; ++y) {
                    for (int32_t x = 0; x < 17; ++x) {
                        ASSERT_EQ(ReadBitMapPixel(b.get(), x, y), level * 0x010101u)
                            << type << " radius " << radius << " level " << level;
                    }
                }
            }
        }
    }
}

// A radius of 0 means sigma 1; the 24-bit and 32-bit depths decode to the same channels.
TEST(SpatialFilters, ConvolutionsAgreeAcrossDepthsAndRadiusZeroIsSigmaOne) {
    for (const int32_t type : {98, 101, 103, 115}) {
        BitMapPtr wide = RandomRawBitMap(23, 17, 11, QV_FMT_A8R8G8B8);
        BitMapPtr narrow(qv::AllocBitMapInFormat(23, 17, QV_FMT_B8G8R8, false));
        CopyWholeBitMap(wide.get(), narrow.get(), 23, 17);
        BitMapPtr other = Copy(wide.get());
        ConvolveBitmap(type, wide.get(), nullptr, 23, 17, nullptr, 0, 7.5);
        ConvolveBitmap(type, narrow.get(), nullptr, 23, 17, nullptr, 0, 0);
        ConvolveBitmap(type, other.get(), nullptr, 23, 17, nullptr, 0, 1);
        EXPECT_TRUE(qv::test::SameBitMap(narrow.get(), wide.get())) << type;
        EXPECT_TRUE(qv::test::SameBitMap(other.get(), wide.get())) << type;
    }
}

TEST(SpatialFilters, BlurOfTheAlphaPlaneAloneMatchesTheColourBlur) {
    BitMapPtr b(qv::AllocBitMapInFormat(21, 14, QV_FMT_A8R8G8B8, false));
    PlanePtr alpha = RandomAlpha(21, 14, 4);
    for (int32_t y = 0; y < 14; ++y) {
        for (int32_t x = 0; x < 21; ++x) PlotPixel(b.get(), x, y, AlphaAt(alpha.get(), x, y));
    }
    ASSERT_EQ(ConvolveBitmap(98, nullptr, alpha.get(), 21, 14, nullptr, 2, 1.3), 0);
    ASSERT_EQ(ConvolveBitmap(98, b.get(), nullptr, 21, 14, nullptr, 2, 1.3), 0);
    for (int32_t y = 0; y < 14; ++y) {
        for (int32_t x = 0; x < 21; ++x) {
            ASSERT_EQ(ReadBitMapPixel(b.get(), x, y) & 255, AlphaAt(alpha.get(), x, y));
        }
    }
}

TEST(SpatialFilters, ShadowPlaneSizePlacementAndBlurs) {
    // No blur (sigma below the limit): the value rectangle sits at (r, r).
    PlanePtr plain(MakeShadowPlane(nullptr, nullptr, 0, 0, 5, 3, 77, 0, 0, 2.9, 1e-11));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->width, 9);
    EXPECT_EQ(plain->height, 7);
    for (int32_t y = 0; y < 7; ++y) {
        for (int32_t x = 0; x < 9; ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 2 && y < 5;
            ASSERT_EQ(AlphaAt(plain.get(), x, y), inside ? 77 : 0) << x << "," << y;
        }
    }
    // Hard edge: every byte the blur reached becomes 255. The second blur softens that only
    // for an alpha source.
    PlanePtr alpha(AllocAlphaBitMap(8, 8, 1));
    PlanePtr mask(AllocMaskBitMap(nullptr, 8, 8, 1));
    FillPlane8Rect(alpha.get(), 2, 2, 4, 4, 255);
    FillMaskRect(mask.get(), 2, 2, 4, 4, 0);
    PlanePtr fromMask(MakeShadowPlane(nullptr, mask.get(), 0, 0, 8, 8, 200, 1, 1, 3, 1));
    PlanePtr fromAlpha(MakeShadowPlane(alpha.get(), nullptr, 0, 0, 8, 8, 200, 1, 1, 3, 1));
    ASSERT_TRUE(fromMask && fromAlpha);
    bool softened = false;
    for (int32_t y = 0; y < 14; ++y) {
        for (int32_t x = 0; x < 14; ++x) {
            const uint8_t m = AlphaAt(fromMask.get(), x, y), a = AlphaAt(fromAlpha.get(), x, y);
            ASSERT_TRUE(m == 0 || m == 255);
            softened |= a != 0 && a != 255;
        }
    }
    EXPECT_TRUE(softened);
    EXPECT_EQ(AlphaAt(fromMask.get(), 7, 7), 255);
}

// A negative radius once shrank the plane and wrote before it; sizes beyond any plane give
// none.
TEST(SpatialFilters, ShadowPlaneWithHostileRadii) {
    PlanePtr negative(MakeShadowPlane(nullptr, nullptr, 0, 0, 6, 4, 9, 1, 1, -5, 1));
    ASSERT_TRUE(negative);
    EXPECT_EQ(negative->width, 6);
    EXPECT_EQ(negative->height, 4);
    for (const double radius : {1e300, kInf, 40000.0}) {
        EXPECT_EQ(MakeShadowPlane(nullptr, nullptr, 0, 0, 6, 4, 9, 1, 1, radius, 1), nullptr);
    }
    PlanePtr nan(MakeShadowPlane(nullptr, nullptr, 0, 0, 6, 4, 9, 0, 0, kNaN, kNaN));
    ASSERT_TRUE(nan);
    EXPECT_EQ(nan->width, 6);
}

// Every filter finishes on hostile numbers, and the picture stays inside its buffer (the
// listener's padded, poisoned rows and ASan watch the rest).
TEST(SpatialFilters, HostileNumbersFinish) {
    const double values[] = {1e300, -1e300, kInf, -kInf, kNaN, 0, -5, 1e-300, 4e9};
    for (uint32_t format : {QV_FMT_R5G6B5, QV_FMT_B8G8R8, QV_FMT_A8B8G8R8}) {
        BitMapPtr b = RandomRawBitMap(11, 7, 2, format);
        PlanePtr alpha = RandomAlpha(11, 7, 3);
        PlanePtr mask(AllocMaskBitMap(b.get(), 11, 7, 1));
        for (const double v : values) {
            for (const double w : {v, 2.0}) {
                EXPECT_EQ(WaterRippleBitmap(b.get(), mask.get(), alpha.get(), 11, 7, v, w, v, v, w),
                          0);
                EXPECT_EQ(WaterRippleBitmap(b.get(), nullptr, alpha.get(), 11, 7, w, v, w, .5, v),
                          0);
                for (const int32_t type : {98, 101, 103, 115}) {
                    EXPECT_EQ(ConvolveBitmap(type, b.get(), alpha.get(), 11, 7, nullptr, v, w), 0);
                    EXPECT_EQ(ConvolveBitmap(type, b.get(), alpha.get(), 11, 7, nullptr, w, v), 0);
                }
            }
            EXPECT_EQ(SwirlBitmap(b.get(), mask.get(), nullptr, 11, 7, v), 0);
            EXPECT_EQ(OilPaintBitmap(b.get(), 11, 7, v), 0);
            EXPECT_EQ(CharcoalBitmap(b.get(), alpha.get(), 11, 7, v, v), 0);
            EXPECT_EQ(
                PixelateBitmap(b.get(), mask.get(), alpha.get(), 11, 7, qv::gfx::TruncSaturate(v)),
                0);
        }
    }
}

// A radius far beyond a small picture: the blur folds its outer taps into the edge tap, and
// the whole picture tends to the average of its edge pixels along each pass.
TEST(SpatialFilters, BlurWithARadiusFarBeyondThePicture) {
    BitMapPtr b = RandomRawBitMap(6, 5, 8, QV_FMT_A8R8G8B8);
    ASSERT_EQ(ConvolveBitmap(98, b.get(), nullptr, 6, 5, nullptr, 1e12, 1e12), 0);
    const uint32_t first = ReadBitMapPixel(b.get(), 0, 0);
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            const uint32_t p = ReadBitMapPixel(b.get(), x, y);
            for (int shift = 0; shift < 24; shift += 8) {
                EXPECT_NEAR(int(p >> shift & 255), int(first >> shift & 255), 2);
            }
        }
    }
}

TEST(SpatialFilters, FailuresLeaveThePictureAsItWas) {
    using Run = std::function<int(qvDisplayBitMap*, qvPlaneBitMap*)>;
    const struct {
        const char* name;
        Run run;
    } cases[] = {
        {"ripple",
         [](auto b, auto a) { return WaterRippleBitmap(b, nullptr, a, 15, 9, 4, 3, 1, .4, .6); }},
        {"swirl", [](auto b, auto a) { return SwirlBitmap(b, nullptr, a, 15, 9, 200); }},
        {"pixelate", [](auto b, auto a) { return PixelateBitmap(b, nullptr, a, 15, 9, 3); }},
    };
    for (const auto& c : cases) {
        BitMapPtr b = RandomRawBitMap(15, 9, 1, QV_FMT_R8G8B8);
        PlanePtr alpha = RandomAlpha(15, 9, 2);
        BitMapPtr before = Copy(b.get());
        int code = ERR_MEM;
        for (uint64_t n = 1; code == ERR_MEM && n < 50; ++n) {
            {
                qv::AllocationFault fault(n, false);
                code = c.run(b.get(), alpha.get());
            }
            if (code == ERR_MEM) {
                EXPECT_TRUE(SameRaw(b.get(), before.get())) << c.name << " " << n;
            }
        }
        EXPECT_EQ(code, 0) << c.name;
        b = Copy(before.get());
        {
            hooks::LockFault fault(1);
            EXPECT_EQ(c.run(b.get(), alpha.get()), ERR_LOCKBMAP) << c.name;
        }
        EXPECT_TRUE(SameRaw(b.get(), before.get())) << c.name;
    }
    hooks::LockFault fault(1);
    EXPECT_EQ(OilPaintBitmap(RandomRawBitMap(4, 4, 1, 10).get(), 4, 4, 1), ERR_LOCKBMAP);
}

// Frame mode: with a still wave the blend is second + ((first - second) x w >> 8), and an
// alpha source moves pixels where its byte is set, fading the destination alpha by w.
TEST(SpatialFilters, RippleFrameModeBlendsAndFades) {
    BitMapPtr dest(qv::AllocBitMapInFormat(4, 2, QV_FMT_R8G8B8, false));
    BitMapPtr first(qv::AllocBitMapInFormat(4, 2, QV_FMT_R8G8B8, false));
    BitMapPtr second(qv::AllocBitMapInFormat(4, 2, QV_FMT_R8G8B8, false));
    RectFill(first.get(), 0, 0, 4, 2, 0xC86400);
    RectFill(second.get(), 0, 0, 4, 2, 0x0064C8);
    std::vector<int32_t> distances(8);
    std::vector<double> sine(qv::kTrigTableSize);
    InitWaterRippleTables(distances.data(), sine.data(), 4, 2, 2, 1);
    qvWaterRippleBlock r{};
    r.pictures.dest = dest->pixels, r.pictures.destRowLength = dest->rowLength;
    r.pictures.source = first->pixels, r.pictures.sourceRowLength = first->rowLength;
    r.pictures.second = second->pixels, r.pictures.secondRowLength = second->rowLength;
    r.pictures.width = 4, r.pictures.height = 2, r.pictures.format = QV_FMT_R8G8B8;
    r.pictures.frame = 10;
    r.distances = distances.data(), r.sine = sine.data();
    r.centreX = 2, r.centreY = 1, r.wavelength = 8;
    r.halfPeriod = 20, r.amplitudeStep = 0;  // w = 10 x 255 / 40 = 63
    ASSERT_EQ(WaterRipplePixels24(r), 0);
    const uint32_t expected =
        uint32_t(0 + ((200 * 63) >> 8)) << 16 | 100 << 8 | uint32_t(200 + ((-200 * 63) >> 8));
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 3, 1), expected);

    PlanePtr from(AllocAlphaBitMap(4, 2, 1)), to(AllocAlphaBitMap(4, 2, 1));
    from->plane[1] = 200;
    to->plane[0] = 99;
    r.pictures.second = nullptr;
    r.pictures.alphaSource = from->plane, r.pictures.alphaSourceBytesPerRow = from->bytesPerRow;
    r.pictures.destAlpha = to->plane, r.pictures.destAlphaBytesPerRow = to->bytesPerRow;
    RectFill(dest.get(), 0, 0, 4, 2, 0x010203);
    for (const int32_t direction : {0, 1}) {
        r.pictures.direction = direction;
        ASSERT_EQ(WaterRipplePixels24(r), 0);
        EXPECT_EQ(AlphaAt(to.get(), 1, 0), direction ? 200 * (255 - 63) / 255 : 200 * 63 / 255);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 1, 0), 0xC86400u);
        EXPECT_EQ(AlphaAt(to.get(), 0, 0), 0);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 0, 0), 0x010203u);
    }
}

}  // namespace
