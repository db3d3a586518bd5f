// Alpha blending and coverage painting in every format: the blend formula and its fast
// paths, the coverage modes with and without a texture, the second plane, clipping to the
// records given, conversions, failed locks and missing destinations.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "gfx/blit_frontends.h"
#include "gfx/kernels/frontend_kernels.h"
#include "platform/linux/debug_output.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/guarded_bitmap.h"

namespace {

using qv::test::GuardedBitMap;
using qv::test::GuardedPlane;

uint32_t Pixel(GuardedBitMap& b, int32_t x, int32_t y) {
    return qv::LoadPixel(b.at(x, y), b.get()->bytesPerPixel);
}

// Each channel as the format reads it, d + ((s - d) x a >> 8), written back (alpha 0).
uint32_t NaiveBlend(uint32_t format, uint32_t source, uint32_t dest, uint32_t a) {
    const int bytes = qv::BytesPerPixel(format);
    uint8_t s[4], d[4], rs[3], rd[3];
    qv::StorePixel(s, bytes, source), qv::StorePixel(d, bytes, dest);
    ReadPixelRGB(s, format, rs), ReadPixelRGB(d, format, rd);
    for (int k = 0; k < 3; ++k) rd[k] = uint8_t(rd[k] + ((rs[k] - rd[k]) * int(a) >> 8));
    WritePixelRGB(d, format, rd);
    return qv::LoadPixel(d, bytes);
}

void Randomise(GuardedBitMap& b, std::mt19937& random) {
    b.rows().Randomise(random);
}

// Alpha bytes in runs of 0, 255 and partial values that straddle the 8-byte groups.
void AlphaRuns(GuardedPlane& plane, std::mt19937& random) {
    for (int32_t y = 0; y < plane.get()->height; ++y) {
        for (int32_t x = 0; x < plane.get()->width;) {
            int32_t run = 1 + int32_t(random() % 11);
            uint32_t kind = random() % 3, value = random() % 256;
            for (; run > 0 && x < plane.get()->width; --run, ++x) {
                plane.Byte(x, y) = uint8_t(kind == 0 ? 0 : kind == 1 ? 255 : value);
            }
        }
    }
}

TEST(BltAlphaBitmap, WhiteOverBlackAtHalfAlphaIs127) {
    for (uint32_t format : {8u, 9u, 10u, 11u, 12u, 13u}) {
        GuardedBitMap source(1, 1, format), dest(1, 1, format);
        GuardedPlane alpha(1, 1, 8);
        const uint8_t white[3] = {255, 255, 255}, black[3] = {0, 0, 0};
        WritePixelRGB(source.at(0, 0), format, white), WritePixelRGB(dest.at(0, 0), format, black);
        alpha.Byte(0, 0) = 128;
        BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, 1, 1, alpha.get());
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 0, 0), 0x7F7F7Fu) << format;
    }
}

TEST(BltAlphaBitmap, BlendsEveryFormatByTheFormula) {
    std::mt19937 random(7);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        GuardedBitMap source(37, 5, format), dest(41, 7, format), before(41, 7, format);
        GuardedPlane alpha(37, 5, 8);
        Randomise(source, random), Randomise(dest, random), AlphaRuns(alpha, random);
        before.rows().CopyFrom(dest.rows());
        // Odd offsets on both sides; the rectangle runs over the source's right edge.
        BltAlphaBitmap(source.get(), 3, 1, dest.get(), 1, 2, 40, 4, alpha.get());
        for (int32_t y = 0; y < 7; ++y) {
            for (int32_t x = 0; x < 41; ++x) {
                const int32_t sx = x - 1 + 3, sy = y - 2 + 1;
                uint32_t want = Pixel(before, x, y);
                if (x >= 1 && y >= 2 && y < 6 && sx < 37) {
                    uint32_t a = alpha.Byte(sx, sy), s = Pixel(source, sx, sy);
                    want = a == 255 ? s : a == 0 ? want : NaiveBlend(format, s, want, a);
                }
                ASSERT_EQ(Pixel(dest, x, y), want)
                    << "format " << format << " at " << x << "," << y;
            }
        }
        EXPECT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact());
    }
}

// Runs of opaque groups long and short, next to transparent and mixed ones and long
// transparent and opaque stretches, at every alignment: the scan hands out each run once.
TEST(BltAlphaBitmap, OpaqueRunsOfManyGroupsAreCopiedWhole) {
    const std::vector<std::pair<int, uint8_t>> pattern = {
        {8, 0}, {24, 255}, {3, 128}, {40, 0}, {13, 255}, {5, 0},   {16, 255},
        {8, 0}, {9, 255},  {33, 0},  {7, 1},  {72, 255}, {2, 200}, {45, 255}};
    std::mt19937 random(9);
    for (uint32_t format : {QV_FMT_R5G6B5, QV_FMT_R8G8B8, QV_FMT_A8R8G8B8}) {
        for (int32_t shift = 0; shift < 8; ++shift) {
            GuardedBitMap source(320, 1, format), dest(320, 1, format), before(320, 1, format);
            GuardedPlane alpha(320, 1, 8);
            Randomise(source, random), Randomise(dest, random);
            before.rows().CopyFrom(dest.rows());
            int32_t x = shift;
            for (auto [run, value] : pattern) {
                for (int k = 0; k < run; ++k) alpha.Byte(x++, 0) = value;
            }
            BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, 320, 1, alpha.get());
            for (int32_t i = 0; i < 320; ++i) {
                const uint32_t a = alpha.Byte(i, 0), s = Pixel(source, i, 0);
                const uint32_t old = Pixel(before, i, 0);
                const uint32_t want = a == 255 ? s : a == 0 ? old : NaiveBlend(format, s, old, a);
                ASSERT_EQ(Pixel(dest, i, 0), want)
                    << "format " << format << " shift " << shift << " at " << i;
            }
        }
    }
}

// 32-bit rows blend eight pixels a step: every alpha value at every place of a step, in both
// colour layouts, at widths that leave every tail, over random pixels on both sides.
TEST(BltAlphaBitmap, EveryAlphaValueInEveryStepPlaceAndTail) {
    std::mt19937 random(21);
    for (uint32_t format = QV_FMT_A8R8G8B8; format < QV_FMT_COUNT; ++format) {
        for (int32_t width : {1, 5, 8, 13, 16, 23, 64, 263}) {
            GuardedBitMap source(width, 9, format), dest(width, 9, format),
                before(width, 9, format);
            GuardedPlane alpha(width, 9, 8);
            Randomise(source, random), Randomise(dest, random);
            before.rows().CopyFrom(dest.rows());
            for (int32_t y = 0; y < 9; ++y) {
                for (int32_t x = 0; x < width; ++x) alpha.Byte(x, y) = uint8_t(x * 9 + y * 29);
            }
            BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, width, 9, alpha.get());
            for (int32_t y = 0; y < 9; ++y) {
                for (int32_t x = 0; x < width; ++x) {
                    const uint32_t a = alpha.Byte(x, y), s = Pixel(source, x, y);
                    const uint32_t old = Pixel(before, x, y);
                    const uint32_t want = a == 255 ? s
                                          : a == 0 ? old
                                                   : NaiveBlend(format, s, old, a);
                    ASSERT_EQ(Pixel(dest, x, y), want)
                        << "format " << format << " width " << width << " at " << x << "," << y;
                }
            }
            EXPECT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact());
        }
    }
}

// 16-bit spans blend sixteen pixels a step: every 16-bit layout, every alpha value at every
// place of a step, widths that leave every kind of tail, odd offsets on both sides.
TEST(BltAlphaBitmap, SixteenBitSpansBlendEveryAlphaInEveryStepPlaceAndTail) {
    std::mt19937 random(23);
    for (uint32_t format = 0; format < 8; ++format) {
        for (int32_t width : {1, 15, 16, 17, 31, 32, 47, 263}) {
            GuardedBitMap source(width + 1, 9, format), dest(width + 3, 9, format),
                before(width + 3, 9, format);
            GuardedPlane alpha(width + 1, 9, 8);
            Randomise(source, random), Randomise(dest, random);
            before.rows().CopyFrom(dest.rows());
            for (int32_t y = 0; y < 9; ++y) {
                for (int32_t x = 0; x <= width; ++x) alpha.Byte(x, y) = uint8_t(x * 9 + y * 29);
            }
            BltAlphaBitmap(source.get(), 1, 0, dest.get(), 3, 0, width, 9, alpha.get());
            for (int32_t y = 0; y < 9; ++y) {
                for (int32_t x = 0; x < width + 3; ++x) {
                    uint32_t want = Pixel(before, x, y);
                    if (x >= 3) {
                        const uint32_t a = alpha.Byte(x - 2, y), s = Pixel(source, x - 2, y);
                        want = a == 255 ? s : a == 0 ? want : NaiveBlend(format, s, want, a);
                    }
                    ASSERT_EQ(Pixel(dest, x, y), want)
                        << "format " << format << " width " << width << " at " << x << "," << y;
                }
            }
            EXPECT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact());
        }
    }
}

// A bitmap blended onto itself one pixel to the right reads each source pixel after the pixel
// before it has been written, in every depth, as pixel-by-pixel blending does.
TEST(BltAlphaBitmap, OntoItselfShiftedRightBlendsPixelAfterPixel) {
    std::mt19937 random(29);
    for (uint32_t format :
         {uint32_t(QV_FMT_R5G6B5), 0u, uint32_t(QV_FMT_R8G8B8), uint32_t(QV_FMT_A8R8G8B8)}) {
        constexpr int32_t kWidth = 70;
        GuardedBitMap bitmap(kWidth, 3, format), want(kWidth, 3, format);
        GuardedPlane alpha(kWidth, 3, 8);
        Randomise(bitmap, random);
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) alpha.Byte(x, y) = uint8_t(1 + random() % 254);
        }
        want.rows().CopyFrom(bitmap.rows());
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x + 1 < kWidth; ++x) {
                const uint32_t blended =
                    NaiveBlend(format, Pixel(want, x, y), Pixel(want, x + 1, y), alpha.Byte(x, y));
                qv::StorePixel(want.at(x + 1, y), qv::BytesPerPixel(format), blended);
            }
        }
        BltAlphaBitmap(bitmap.get(), 0, 0, bitmap.get(), 1, 0, kWidth, 3, alpha.get());
        EXPECT_EQ(bitmap.rows().bytes(), want.rows().bytes()) << "format " << format;
    }
}

TEST(BltAlphaBitmap, ConvertsASourceOfAnotherFormat) {
    GuardedBitMap source(4, 1, QV_FMT_A8R8G8B8), dest(4, 1, QV_FMT_R5G6B5);
    GuardedPlane alpha(4, 1, 8);
    const uint8_t alphas[4] = {0, 255, 128, 64};
    for (int32_t x = 0; x < 4; ++x) {
        qv::StorePixel(source.at(x, 0), 4, 0xFF10F080u);
        qv::StorePixel(dest.at(x, 0), 2, RGBToPixelFormat(0x2040C0, QV_FMT_R5G6B5));
        alpha.Byte(x, 0) = alphas[x];
    }
    BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, 4, 1, alpha.get());
    const uint32_t converted = RGBToPixelFormat(0x10F080, QV_FMT_R5G6B5);
    const uint32_t old = RGBToPixelFormat(0x2040C0, QV_FMT_R5G6B5);
    EXPECT_EQ(Pixel(dest, 0, 0), old);
    EXPECT_EQ(Pixel(dest, 1, 0), converted);
    EXPECT_EQ(Pixel(dest, 2, 0), NaiveBlend(QV_FMT_R5G6B5, converted, old, 128));
    EXPECT_EQ(Pixel(dest, 3, 0), NaiveBlend(QV_FMT_R5G6B5, converted, old, 64));
}

TEST(BltAlphaBitmap, StaysInsideTheBitmapsAndThePlane) {
    // An alpha plane smaller than the source, rectangles over every edge.
    GuardedBitMap source(10, 10, QV_FMT_A8R8G8B8), dest(6, 6, QV_FMT_A8R8G8B8);
    GuardedPlane alpha(5, 4, 8);
    std::mt19937 random(3);
    Randomise(source, random), Randomise(dest, random), AlphaRuns(alpha, random);
    for (auto [sx, sy, dx, dy] : {std::array{-3, -2, 0, 0}, std::array{0, 0, -4, -4},
                                  std::array{2, 1, 3, 3}, std::array{0, 0, 5, 5}}) {
        BltAlphaBitmap(source.get(), sx, sy, dest.get(), dx, dy, 20, 20, alpha.get());
    }
    EXPECT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact());
}

TEST(BltAlphaBitmap, NullDestinationAndFailedLocksDrawNothing) {
    GuardedBitMap source(2, 2, QV_FMT_A8R8G8B8), dest(2, 2, QV_FMT_A8R8G8B8);
    GuardedPlane alpha(2, 2, 8);
    alpha.Byte(0, 0) = 255;
    {
        qv::DebugCapture capture;
        BltAlphaBitmap(source.get(), 0, 0, nullptr, 0, 0, 2, 2, alpha.get());
        EXPECT_EQ(capture.Text(), "ERROR! BLTALPHABITMAP() CALLED WITH DST=NULL!\n");
    }
    const auto before = dest.rows().bytes();
    for (uint64_t n : {1, 2}) {
        qv::platform::testing::LockFault fault(n);
        BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, 2, 2, alpha.get());
        EXPECT_EQ(dest.rows().bytes(), before) << "lock " << n << " failing";
    }
}

// One pixel painted through the coverage kernels at format 10 over black with white.
struct CoverageRow {
    const char* name;
    int32_t mode;
    uint8_t coverage;
    uint16_t wide;
    bool second;
    uint8_t secondBefore;
    uint32_t opacity;
    uint32_t pixel;
    uint8_t secondAfter;
};

TEST(BltAlphaChannel, ModesPaintAndCombineTheSecondPlane) {
    const CoverageRow rows[] = {
        {"mode 1 partial", 1, 128, 0, false, 0, 0, 0x7F7F7F, 0},
        {"mode 1 full", 1, 255, 0, false, 0, 0, 0xFFFFFF, 0},
        {"mode 1 none", 1, 0, 0, false, 0, 0, 0x000000, 0},
        {"mode 2 onto empty alpha", 2, 128, 0, true, 0, 255, 0xFFFFFF, 128},
        // Composed over: 128 + 64 x 127 / 255 = 159, the colour's share 128 / 159.
        {"mode 2 onto alpha", 2, 128, 0, true, 64, 255, 0xCCCCCC, 159},
        // Never below what was there: 32 + 200 x 223 / 255 = 206.
        {"mode 2 lower coverage", 2, 64, 0, true, 200, 128, 0x262626, 206},
        {"mode 2 none", 2, 0, 0, true, 77, 255, 0x000000, 77},
        {"mode 2 nearly full", 2, 254, 0, true, 255, 255, 0xFDFDFD, 255},
        {"mode 2 without plane", 2, 128, 0, false, 0, 255, 0x7F7F7F, 0},
        {"mode 3 low byte", 3, 0, 0x0180, true, 64, 255, 0xCCCCCC, 159},
        {"mode 4 full at 64", 4, 64, 0, false, 0, 0, 0xFFFFFF, 0},
        {"mode 4 scaled", 4, 32, 0, false, 0, 0, 0x7F7F7F, 0},
        {"mode 4 above 64", 4, 65, 0, false, 0, 0, 0x030303, 0},
        {"mode 0 any coverage", 0, 1, 0, false, 0, 0, 0xFFFFFF, 0},
        {"mode 0 none", 0, 0, 0, false, 0, 0, 0x000000, 0},
        {"mode 7 any coverage", 7, 1, 0, false, 0, 0, 0xFFFFFF, 0},
        {"mode 7 none", 7, 0, 0, false, 0, 0, 0x000000, 0},
    };
    for (const CoverageRow& row : rows) {
        GuardedBitMap dest(3, 2, QV_FMT_A8R8G8B8);
        GuardedPlane coverage(4, 3, 8), second(3, 2, 8);
        coverage.Byte(2, 1) = row.coverage;
        second.Byte(1, 1) = row.secondBefore;
        const uint16_t wide[12] = {0, 0, 0, 0, 0, 0, row.wide, 0, 0, 0, 0, 0};  // (2, 1), rows of 4
        qv::StorePixel(dest.at(1, 1), 4, 0);
        BltAlphaChannel(coverage.get(), 2, 1, dest.get(), 1, 1, 1, 1, 0xFFFFFF, row.mode,
                        row.second ? second.get() : nullptr, row.opacity, wide, 4, nullptr);
        EXPECT_EQ(Pixel(dest, 1, 1) & 0xFFFFFF, row.pixel) << row.name;
        if (row.second) {
            EXPECT_EQ(second.Byte(1, 1), row.secondAfter) << row.name;
        }
    }
}

TEST(BltAlphaChannel, PaintsEveryFormatLikeTheBlend) {
    std::mt19937 random(11);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        GuardedBitMap dest(19, 3, format), before(19, 3, format);
        GuardedPlane coverage(19, 3, 8);
        Randomise(dest, random), AlphaRuns(coverage, random);
        before.rows().CopyFrom(dest.rows());
        const uint32_t colour = 0x3C9AE1;
        BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, 19, 3, colour, 1, nullptr, 0,
                        nullptr, 0, nullptr);
        // 3-byte pixels too: the value of the format's byte order.
        const uint32_t pixel = RGBToPixelFormat(colour, format);
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 19; ++x) {
                uint32_t c = coverage.Byte(x, y), old = Pixel(before, x, y);
                uint32_t want = c == 0 ? old : c == 255 ? pixel : NaiveBlend(format, pixel, old, c);
                ASSERT_EQ(Pixel(dest, x, y), want)
                    << "format " << format << " at " << x << "," << y;
            }
        }
    }
}

// Mode 2 at one pixel: coverage c over the old pixel with the second plane's byte p; the
// pixel and the plane byte after it.
struct ModeTwoResult {
    uint32_t pixel;
    uint32_t plane;
};
ModeTwoResult ModeTwo(uint32_t format, uint32_t pixel, uint32_t old, int32_t c, int32_t p,
                      uint32_t opacity) {
    if (c == 0) return {old, uint32_t(p)};
    // Composed over: the alpha a + p (1 - a), the colour weighted by a's share of it.
    const uint32_t a = uint32_t(c) * opacity / 255;
    const uint32_t alpha = a + uint32_t(p) * (255 - a) / 255;
    const uint32_t share = alpha == 0 ? 255 : a * 255 / alpha;
    return {share == 255 ? pixel : NaiveBlend(format, pixel, old, share), alpha};
}

TEST(BltAlphaChannel, ModeTwoCombinesTheSecondPlaneInEveryFormat) {
    std::mt19937 random(13);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        GuardedBitMap dest(37, 3, format), before(37, 3, format);
        GuardedPlane coverage(37, 3, 8), second(37, 3, 8), secondBefore(37, 3, 8);
        Randomise(dest, random), AlphaRuns(coverage, random), AlphaRuns(second, random);
        before.rows().CopyFrom(dest.rows());
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 37; ++x) secondBefore.Byte(x, y) = second.Byte(x, y);
        }
        const uint32_t colour = 0x3C9AE1, opacity = 200;
        BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, 37, 3, colour, 2, second.get(),
                        opacity, nullptr, 0, nullptr);
        const uint32_t pixel = RGBToPixelFormat(colour, format);
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                const ModeTwoResult want =
                    ModeTwo(format, pixel, Pixel(before, x, y), coverage.Byte(x, y),
                            secondBefore.Byte(x, y), opacity);
                ASSERT_EQ(Pixel(dest, x, y), want.pixel)
                    << "format " << format << " at " << x << "," << y;
                ASSERT_EQ(second.Byte(x, y), want.plane)
                    << "format " << format << " at " << x << "," << y;
            }
        }
    }
}

// A text line's coverage is blank for long stretches, and blank groups of eight are skipped:
// every width around the groups' ends, with one inked pixel at every place (or none) among
// blank ones, paints exactly the inked pixel.
TEST(BltAlphaChannel, ModeTwoSkipsOnlyBlankGroups) {
    std::mt19937 random(17);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        if (qv::BytesPerPixel(format) != 4) continue;
        for (int32_t width : {1, 7, 8, 9, 15, 16, 17, 24, 31, 33, 70}) {
            for (int32_t ink = -1; ink < width; ++ink) {
                GuardedBitMap dest(width, 1, format), before(width, 1, format);
                GuardedPlane coverage(width, 1, 8), second(width, 1, 8);
                Randomise(dest, random);
                before.rows().CopyFrom(dest.rows());
                std::vector<uint8_t> secondBefore(static_cast<size_t>(width));
                for (int32_t x = 0; x < width; ++x) {
                    coverage.Byte(x, 0) = 0;
                    second.Byte(x, 0) = secondBefore[size_t(x)] = uint8_t(random() % 256);
                }
                if (ink >= 0) coverage.Byte(ink, 0) = uint8_t(1 + random() % 255);
                const uint32_t colour = 0x3C9AE1, opacity = 180;
                BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, width, 1, colour, 2,
                                second.get(), opacity, nullptr, 0, nullptr);
                const uint32_t pixel = RGBToPixelFormat(colour, format);
                for (int32_t x = 0; x < width; ++x) {
                    const ModeTwoResult want =
                        ModeTwo(format, pixel, Pixel(before, x, 0), coverage.Byte(x, 0),
                                secondBefore[size_t(x)], opacity);
                    ASSERT_EQ(Pixel(dest, x, 0), want.pixel)
                        << "format " << format << " width " << width << " ink " << ink << " at "
                        << x;
                    ASSERT_EQ(second.Byte(x, 0), want.plane)
                        << "format " << format << " width " << width << " ink " << ink << " at "
                        << x;
                }
            }
        }
    }
}

// A fresh text block's second plane is blank, and stretches of covered groups of eight whose
// second bytes are all zero take a shorter rule: every choice of groups with one set second
// byte (at each place in the group), over covered groups in one stretch or split by blank
// ones, gives the formula's pixels.
TEST(BltAlphaChannel, ModeTwoOverBlankSecondGroups) {
    std::mt19937 random(19);
    constexpr int32_t kWidth = 43, kGroups = 5;
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        if (qv::BytesPerPixel(format) != 4) continue;
        for (uint32_t set = 0; set < (1u << kGroups); ++set) {
            for (int32_t place = 0; place < 8; ++place) {
                for (bool split : {false, true}) {
                    GuardedBitMap dest(kWidth, 1, format), before(kWidth, 1, format);
                    GuardedPlane coverage(kWidth, 1, 8), second(kWidth, 1, 8);
                    Randomise(dest, random);
                    before.rows().CopyFrom(dest.rows());
                    std::vector<uint8_t> secondBefore(kWidth, 0);
                    for (int32_t x = 0; x < kWidth; ++x) {
                        const uint32_t pick = random() % 4;
                        const bool blank = split && (x / 8) % 2 == 1;
                        coverage.Byte(x, 0) = blank || pick == 0 ? 0
                                              : pick == 1        ? 255
                                                                 : uint8_t(random());
                        if (x % 8 == place && (set >> (x / 8) & 1) != 0)
                            secondBefore[size_t(x)] = uint8_t(1 + random() % 255);
                        second.Byte(x, 0) = secondBefore[size_t(x)];
                    }
                    const uint32_t colour = 0xE13C9A, opacity = split ? 255 : 97;
                    BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, kWidth, 1, colour, 2,
                                    second.get(), opacity, nullptr, 0, nullptr);
                    const uint32_t pixel = RGBToPixelFormat(colour, format);
                    for (int32_t x = 0; x < kWidth; ++x) {
                        const ModeTwoResult want =
                            ModeTwo(format, pixel, Pixel(before, x, 0), coverage.Byte(x, 0),
                                    secondBefore[size_t(x)], opacity);
                        ASSERT_EQ(Pixel(dest, x, 0), want.pixel)
                            << "format " << format << " set " << set << " place " << place
                            << " split " << split << " at " << x;
                        ASSERT_EQ(second.Byte(x, 0), want.plane)
                            << "format " << format << " set " << set << " place " << place
                            << " split " << split << " at " << x;
                    }
                }
            }
        }
    }
}

// Mode 3 reads the low byte of 16-bit entries and skips blank groups as mode 2 does: groups
// blank, covered, covered with only a high byte set (which covers nothing), over second
// groups blank or holding one set byte, give mode 2's formula on the low bytes.
TEST(BltAlphaChannel, ModeThreeSkipsOnlyBlankGroupsOfTheLowBytes) {
    std::mt19937 random(23);
    constexpr int32_t kWidth = 45;
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        if (qv::BytesPerPixel(format) != 4) continue;
        for (int trial = 0; trial < 200; ++trial) {
            GuardedBitMap dest(kWidth, 1, format), before(kWidth, 1, format);
            GuardedPlane second(kWidth, 1, 8);
            Randomise(dest, random);
            before.rows().CopyFrom(dest.rows());
            std::vector<uint16_t> wide(kWidth);
            std::vector<uint8_t> secondBefore(kWidth, 0);
            for (int32_t group = 0; group * 8 < kWidth; ++group) {
                const uint32_t kind = random() % 4, secondPlace = random() % 10;
                for (int32_t x = group * 8; x < std::min(kWidth, group * 8 + 8); ++x) {
                    const uint16_t low = random() % 3 == 0 ? 0 : uint16_t(1 + random() % 255);
                    wide[size_t(x)] = kind == 0 ? 0 : kind == 1 ? uint16_t(0x100 | low) : low;
                    if (x % 8 == int32_t(secondPlace)) secondBefore[size_t(x)] = uint8_t(random());
                    second.Byte(x, 0) = secondBefore[size_t(x)];
                }
            }
            const uint32_t colour = 0x9AE13C, opacity = 150;
            BltAlphaChannel(nullptr, 0, 0, dest.get(), 0, 0, kWidth, 1, colour, 3, second.get(),
                            opacity, wide.data(), kWidth, nullptr);
            const uint32_t pixel = RGBToPixelFormat(colour, format);
            for (int32_t x = 0; x < kWidth; ++x) {
                const ModeTwoResult want =
                    ModeTwo(format, pixel, Pixel(before, x, 0), wide[size_t(x)] & 255,
                            secondBefore[size_t(x)], opacity);
                ASSERT_EQ(Pixel(dest, x, 0), want.pixel)
                    << "format " << format << " trial " << trial << " at " << x;
                ASSERT_EQ(second.Byte(x, 0), want.plane)
                    << "format " << format << " trial " << trial << " at " << x;
            }
        }
    }
}

// Coverage rows of a glyph's pitch whose last row ends the buffer, so that a read past the
// block is a sanitizer error.
class TightCoverage {
public:
    TightCoverage(int32_t width, int32_t height, int32_t pitch)
        : bytes_(size_t(pitch) * (height - 1) + size_t(width)),
          plane_{width, height, pitch, 8, kPlaneWrapped, bytes_.data()} {}
    qvPlaneBitMap* get() { return &plane_; }
    uint8_t& Byte(int32_t x, int32_t y) { return bytes_[size_t(y) * plane_.bytesPerRow + x]; }

private:
    std::vector<uint8_t> bytes_;
    qvPlaneBitMap plane_;
};

// Paints the colour in mode 1 through the whole coverage at (x, y) of a copy of `before`
// and expects each pixel of the block by the formula and every other pixel unchanged.
void ExpectPaintedByTheFormula(TightCoverage& coverage, GuardedBitMap& dest, GuardedBitMap& before,
                               int32_t x, int32_t y, uint32_t colour, const std::string& what) {
    const qvPlaneBitMap& plane = *coverage.get();
    const qvDisplayBitMap& bitmap = *dest.get();
    dest.rows().CopyFrom(before.rows());
    BltAlphaChannel(coverage.get(), 0, 0, dest.get(), x, y, plane.width, plane.height, colour, 1,
                    nullptr, 0, nullptr, 0, nullptr);
    const uint32_t pixel = RGBToPixelFormat(colour, bitmap.format);
    for (int32_t j = 0; j < bitmap.height; ++j) {
        for (int32_t i = 0; i < bitmap.width; ++i) {
            const bool inside = i >= x && i < x + plane.width && j >= y && j < y + plane.height;
            const uint32_t c = inside ? coverage.Byte(i - x, j - y) : 0, old = Pixel(before, i, j);
            const uint32_t want = c == 0     ? old
                                  : c == 255 ? pixel
                                             : NaiveBlend(bitmap.format, pixel, old, c);
            ASSERT_EQ(Pixel(dest, i, j), want) << what << " at " << i << "," << j;
        }
    }
    ASSERT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact()) << what;
}

// Row j of coverage as random runs of 1 to longest bytes, each run 0, 255 or partial.
void FillRuns(TightCoverage& coverage, int32_t j, int32_t width, uint32_t longest,
              std::mt19937& random) {
    for (int32_t i = 0; i < width;) {
        uint32_t run = 1 + random() % longest, kind = random() % 3;
        for (; run > 0 && i < width; --run, ++i) {
            coverage.Byte(i, j) = uint8_t(kind == 0 ? 0 : kind == 1 ? 255 : 1 + random() % 254);
        }
    }
}

// Rows of random runs (row j's up to longest(j) bytes) in coverage of the given stride,
// painted at column x of a random destination in the format, against the formula.
template <typename Longest>
void ExpectRunsPaintedByTheFormula(uint32_t format, int32_t width, int32_t x, int32_t rows,
                                   int32_t stride, Longest&& longest, std::mt19937& random) {
    TightCoverage coverage(width, rows, stride);
    for (int32_t j = 0; j < rows; ++j) FillRuns(coverage, j, width, longest(j), random);
    GuardedBitMap dest(x + width + 1, rows + 2, format, 0),
        before(x + width + 1, rows + 2, format, 0);
    Randomise(before, random);
    ExpectPaintedByTheFormula(coverage, dest, before, x, 1, random() & 0xFFFFFF,
                              "format " + std::to_string(format) + " width " +
                                  std::to_string(width) + " x " + std::to_string(x));
}

// Glyph-sized blocks take their own rows in 32-bit formats: every width up to past the
// widest of them, at every alignment of the destination, with runs of 0, 255 and partial
// coverage that straddle the steps.
TEST(BltAlphaChannel, GlyphSizedBlocksPaintLikeTheFormulaAtEveryWidthAndAlignment) {
    std::mt19937 random(13);
    for (uint32_t format = QV_FMT_A8R8G8B8; format < QV_FMT_COUNT; ++format) {
        for (int32_t width = 1; width <= 72; ++width) {
            for (int32_t x = 0; x < 8; ++x) {
                ExpectRunsPaintedByTheFormula(
                    format, width, x, 3, width + 5, [](int32_t) { return 11u; }, random);
            }
        }
    }
}

// Every coverage value over random pixels, in a block as wide as the glyph rows go.
TEST(BltAlphaChannel, GlyphSizedBlocksPaintEveryCoverageValueByTheFormula) {
    std::mt19937 random(14);
    for (uint32_t format = QV_FMT_A8R8G8B8; format < QV_FMT_COUNT; ++format) {
        for (uint32_t colour : {0x000000u, 0xFFFFFFu, 0x2060C0u, 0xFE0180u}) {
            TightCoverage coverage(64, 4, 64);
            for (int32_t k = 0; k < 256; ++k) coverage.Byte(k % 64, k / 64) = uint8_t(k);
            GuardedBitMap dest(66, 6, format), before(66, 6, format);
            Randomise(before, random);
            ExpectPaintedByTheFormula(
                coverage, dest, before, 1, 1, colour,
                "format " + std::to_string(format) + " colour " + std::to_string(colour));
        }
    }
}

// Blocks wider than the glyph rows (shapes) pass over blank stretches and write covered runs
// whole: runs from one pixel to past the 32-byte tests, at widths either side of the steps
// and every alignment of the destination.
TEST(BltAlphaChannel, WideBlocksPaintLikeTheFormulaAtEveryWidthAndAlignment) {
    std::mt19937 random(15);
    for (uint32_t format = QV_FMT_A8R8G8B8; format < QV_FMT_COUNT; ++format) {
        for (int32_t width : {65, 71, 72, 73, 95, 96, 97, 103, 129, 200, 257}) {
            for (int32_t x = 0; x < 8; ++x) {
                ExpectRunsPaintedByTheFormula(
                    format, width, x, 4, width + 3, [](int32_t j) { return j < 2 ? 12u : 90u; },
                    random);
            }
        }
    }
}

TEST(BltAlphaChannel, ModeZeroWritesTheColourWhereverThereIsCoverage) {
    std::mt19937 random(12);
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        GuardedBitMap dest(37, 3, format), before(37, 3, format);
        GuardedPlane coverage(37, 3, 8);
        Randomise(dest, random), AlphaRuns(coverage, random);
        before.rows().CopyFrom(dest.rows());
        const uint32_t colour = 0x3C9AE1;
        BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, 37, 3, colour, 0, nullptr, 0,
                        nullptr, 0, nullptr);
        const uint32_t pixel = RGBToPixelFormat(colour, format);
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                const uint32_t want = coverage.Byte(x, y) == 0 ? Pixel(before, x, y) : pixel;
                ASSERT_EQ(Pixel(dest, x, y), want)
                    << "format " << format << " at " << x << "," << y;
            }
        }
    }
}

// Rows too wide for the narrow blocks, with long full-coverage runs between partial and empty
// ones, at every coverage alignment and at destination offsets that move the pixels against
// the wide stores: modes 0 and 1 write the colour over each run exactly, and nothing beside.
TEST(BltAlphaChannel, LongFullRunsInWideRowsPaintExactlyAtEveryAlignment) {
    constexpr int32_t kWidth = 220;
    std::mt19937 random(31);
    for (uint32_t format : {uint32_t(QV_FMT_A8R8G8B8), uint32_t(QV_FMT_B8G8R8A8),
                            uint32_t(QV_FMT_R8G8B8), uint32_t(QV_FMT_R5G6B5)}) {
        for (int32_t mode : {0, 1}) {
            for (int32_t shift = 0; shift < 8; ++shift) {
                const int32_t dx = shift % 4;
                GuardedBitMap dest(kWidth + dx, 2, format), before(kWidth + dx, 2, format);
                GuardedPlane coverage(kWidth, 2, 8);
                Randomise(dest, random);
                before.rows().CopyFrom(dest.rows());
                for (int32_t y = 0; y < 2; ++y) {
                    int32_t x = 0;
                    for (int32_t k = 0; x < kWidth; ++k) {
                        const int32_t run = k % 3 == 0 ? 8 + shift * 9 : 1 + int32_t(random() % 5);
                        const uint8_t value = k % 3 == 0 ? 255 : k % 3 == 1 ? 0 : uint8_t(random());
                        for (int32_t i = 0; i < run && x < kWidth; ++i)
                            coverage.Byte(x++, y) = value;
                    }
                }
                const uint32_t colour = 0x3C9AE1;
                BltAlphaChannel(coverage.get(), 0, 0, dest.get(), dx, 0, kWidth, 2, colour, mode,
                                nullptr, 0, nullptr, 0, nullptr);
                const uint32_t pixel = RGBToPixelFormat(colour, format);
                for (int32_t y = 0; y < 2; ++y) {
                    for (int32_t x = 0; x < kWidth + dx; ++x) {
                        const uint32_t old = Pixel(before, x, y);
                        const uint32_t c = x < dx ? 0 : coverage.Byte(x - dx, y);
                        const uint32_t want = c == 0 ? old
                                              : c == 255 || mode == 0
                                                  ? pixel
                                                  : NaiveBlend(format, pixel, old, c);
                        ASSERT_EQ(Pixel(dest, x, y), want)
                            << "format " << format << " mode " << mode << " shift " << shift
                            << " at " << x << "," << y;
                    }
                }
                EXPECT_TRUE(dest.rows().GuardsIntact() && dest.rows().PaddingIntact());
            }
        }
    }
}

TEST(BltAlphaChannel, ATextureIsReadAtTheCoveragePosition) {
    for (uint32_t format : {QV_FMT_A8R8G8B8, QV_FMT_B8G8R8, QV_FMT_R5G6B5_SWAPPED}) {
        GuardedBitMap dest(4, 2, format), texture(6, 3, format);
        GuardedPlane coverage(6, 3, 8);
        for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < 6; ++x) {
                PlotPixel(texture.get(), x, y, uint32_t(x * 0x300000 + y * 0x60));
                coverage.Byte(x, y) = 255;
            }
        }
        coverage.Byte(4, 2) = 0;
        for (int32_t x = 0; x < 4; ++x) PlotPixel(dest.get(), x, 1, 0x0000F8);
        BltAlphaChannel(coverage.get(), 3, 2, dest.get(), 1, 1, 3, 1, 0xFFFFFF, 7, nullptr, 0,
                        nullptr, 0, texture.get());
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 0, 1), 0xF8u) << "outside";
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 1, 1), ReadBitMapPixel(texture.get(), 3, 2))
            << format;
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 2, 1), 0xF8u) << "no coverage";
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 3, 1), ReadBitMapPixel(texture.get(), 5, 2))
            << format;
    }
}

TEST(BltAlphaChannel, ConvertsATextureOfAnotherFormat) {
    GuardedBitMap dest(2, 1, QV_FMT_R5G6B5), texture(12, 1, QV_FMT_A8R8G8B8);
    GuardedPlane coverage(12, 1, 8);
    for (int32_t x = 0; x < 12; ++x) {
        PlotPixel(texture.get(), x, 0, uint32_t(0x100000 * x));
        coverage.Byte(x, 0) = 255;
    }
    BltAlphaChannel(coverage.get(), 9, 0, dest.get(), 0, 0, 2, 1, 0, 1, nullptr, 0, nullptr, 0,
                    texture.get());
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 0, 0), 0x900000u & 0xF80000);
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 1, 0), 0xA00000u & 0xF80000);
}

TEST(BltAlphaChannel, CompositingTakesPlainModeOneCalls) {
    namespace hooks = qv::platform::testing;
    GuardedBitMap dest(2, 1, QV_FMT_A8R8G8B8), texture(2, 1, QV_FMT_A8R8G8B8);
    GuardedPlane coverage(2, 1, 8), second(2, 1, 8);
    coverage.Byte(0, 0) = coverage.Byte(1, 0) = 255;
    hooks::GrantCompositing(qv::kCompositeAlphaChannel, true);
    auto paint = [&](int32_t mode, qvPlaneBitMap* plane, qvDisplayBitMap* tex) {
        PlotPixel(dest.get(), 0, 0, 0);
        BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, 1, 1, 0xF80000, mode, plane, 0,
                        nullptr, 0, tex);
        return ReadBitMapPixel(dest.get(), 0, 0);
    };
    EXPECT_EQ(paint(1, nullptr, nullptr), 0u) << "handed to the compositing hook";
    EXPECT_EQ(paint(2, nullptr, nullptr), 0xF80000u);
    EXPECT_EQ(paint(1, second.get(), nullptr), 0xF80000u);
    PlotPixel(texture.get(), 0, 0, 0x0000F8);
    EXPECT_EQ(paint(1, nullptr, texture.get()), 0x0000F8u);
    hooks::GrantCompositing(0, false);
    EXPECT_EQ(paint(1, nullptr, nullptr), 0xF80000u);
}

TEST(BltAlphaChannel, NullDestinationIsReported) {
    GuardedPlane coverage(1, 1, 8);
    qv::DebugCapture capture;
    BltAlphaChannel(coverage.get(), 0, 0, nullptr, 0, 0, 1, 1, 0, 1, nullptr, 0, nullptr, 0,
                    nullptr);
    EXPECT_EQ(capture.Text(), "ERROR! BLTALPHACHANNEL() CALLED WITH DST=NULL!\n");
}

TEST(BltAlphaChannelClipped, NegativePositionsOnEitherSideMoveTheOther) {
    struct Row {
        int32_t sx, dx, first, count;
    };
    // A full coverage row and a destination, both 8 wide; 6 pixels asked.
    const Row rows[] = {{-3, 2, 5, 3}, {0, -2, 0, 4}, {6, 0, 0, 2}, {-8, 0, 0, 0}};
    for (const Row& row : rows) {
        GuardedBitMap dest(8, 1, QV_FMT_A8R8G8B8);
        GuardedPlane coverage(8, 1, 8);
        for (int32_t x = 0; x < 8; ++x) coverage.Byte(x, 0) = 255, PlotPixel(dest.get(), x, 0, 0);
        BltAlphaChannelClipped(coverage.get(), row.sx, 0, dest.get(), row.dx, 0, 6, 1, 8, 1, 8, 1,
                               0xF8, 1, nullptr, 0, nullptr, 0, nullptr);
        for (int32_t x = 0; x < 8; ++x) {
            bool painted = x >= row.first && x < row.first + row.count;
            EXPECT_EQ(ReadBitMapPixel(dest.get(), x, 0), painted ? 0xF8u : 0u)
                << row.sx << " -> " << row.dx << " at " << x;
        }
    }
}

// Rolls the block; the result is the number of lines drawn that the block reports.
qvRollBlock Roll(qvRollBlock block) {
    const int32_t drawn = RollCopyLines(&block);
    EXPECT_EQ(drawn, block.linesDrawn);
    return block;
}

TEST(RollCopyLines, CopiesDisplacedLinesWithTheirMaskAndAlpha) {
    GuardedBitMap source(3, 4, QV_FMT_A8R8G8B8), dest(3, 5, QV_FMT_A8R8G8B8);
    GuardedPlane sourceMask(3, 4, 1), destMask(3, 5, 1);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            PlotPixel(source.get(), x, y, 0x100000u * uint32_t(y + 1));
            sourceMask.SetBit(x, y, x != 1);
        }
    }
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 3; ++x)
            PlotPixel(dest.get(), x, y, 0xF8), destMask.SetBit(x, y, true);
    }
    // Period 1: an offset of k x 2 pi displaces by k lines.
    const double twoPi = 2 * 3.14159265358979323846;
    const double offsets[4] = {0, 0, 5 * twoPi, -1.5 * twoPi};
    const qvRollBlock block = Roll({source.get(), sourceMask.get(), nullptr, dest.get(),
                                    destMask.get(), nullptr, 0, 4, offsets, 1.0, 1, 0, 0, 0});
    EXPECT_EQ(block.linesDrawn, 3);
    EXPECT_EQ(block.firstLine, 1);
    EXPECT_EQ(block.endPosition, 5);
    // Line 0 to 1, line 1 to 2, line 2 to 8 (outside), line 3 to 3 (-1.5 truncated to -1).
    const uint32_t rows[5] = {0xF8, 0x100000, 0x200000, 0x400000, 0xF8};
    for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < 3; ++x) {
            bool copied = y >= 1 && y <= 3 && x != 1;
            EXPECT_EQ(ReadBitMapPixel(dest.get(), x, y), copied ? rows[y] : 0xF8u) << x << "," << y;
            EXPECT_EQ(destMask.Bit(x, y), !(y >= 1 && y <= 3 && x == 1)) << x << "," << y;
        }
    }
}

TEST(RollCopyLines, HorizontalRollsCarryTheAlphaPlane) {
    GuardedBitMap source(2, 2, QV_FMT_R5G6B5), dest(4, 2, QV_FMT_R5G6B5);
    GuardedPlane sourceAlpha(2, 2, 8), destAlpha(4, 2, 8);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 2; ++x) {
            PlotPixel(source.get(), x, y, 0xF80000);
            sourceAlpha.Byte(x, y) = uint8_t(y == 0 ? 200 : 0);
        }
        for (int32_t x = 0; x < 4; ++x)
            PlotPixel(dest.get(), x, y, 0x0000F8), destAlpha.Byte(x, y) = 9;
    }
    const double offsets[2] = {0, 0};
    const qvRollBlock block = Roll({source.get(), nullptr, sourceAlpha.get(), dest.get(), nullptr,
                                    destAlpha.get(), 1, 2, offsets, 1.0, 2, 0, 0, 0});
    EXPECT_EQ(block.linesDrawn, 2);
    for (int32_t x = 0; x < 4; ++x) {
        bool line = x >= 2;
        EXPECT_EQ(ReadBitMapPixel(dest.get(), x, 0), line ? 0xF80000u : 0xF8u);
        EXPECT_EQ(destAlpha.Byte(x, 0), line ? 200 : 9);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), x, 1), 0xF8u);
        EXPECT_EQ(destAlpha.Byte(x, 1), line ? 0 : 9);
    }
}

TEST(RollCopyLines, ConvertsLinesOfAnotherFormatWithTheirMaskBits) {
    GuardedBitMap source(12, 2, QV_FMT_A8R8G8B8), dest(12, 2, QV_FMT_R5G6B5);
    GuardedPlane sourceMask(12, 2, 1), destMask(12, 2, 1);
    for (int32_t y = 0; y < 2; ++y) {
        for (int32_t x = 0; x < 12; ++x) {
            PlotPixel(source.get(), x, y, 0x080000u * uint32_t(x + 1));
            PlotPixel(dest.get(), x, y, 0x0000F8);
            sourceMask.SetBit(x, y, x % 3 != 0);
        }
    }
    const std::vector<double> offsets(12, 0.0);
    const qvRollBlock block =
        Roll({source.get(), sourceMask.get(), nullptr, dest.get(), destMask.get(), nullptr, 1, 12,
              offsets.data(), 1.0, 0, 0, 0, 0});
    EXPECT_EQ(block.linesDrawn, 12);
    for (int32_t x = 0; x < 12; ++x) {
        bool visible = x % 3 != 0;
        EXPECT_EQ(ReadBitMapPixel(dest.get(), x, 1), visible ? 0x080000u * uint32_t(x + 1) : 0xF8u)
            << x;
        EXPECT_EQ(destMask.Bit(x, 1), visible) << x;
    }
}

TEST(RollCopyLines, NoLineInsideReportsNone) {
    GuardedBitMap source(2, 2, QV_FMT_A8R8G8B8), dest(2, 2, QV_FMT_A8R8G8B8);
    const double offsets[2] = {NAN, 1e300};
    const qvRollBlock block = Roll({source.get(), nullptr, nullptr, dest.get(), nullptr, nullptr, 0,
                                    2, offsets, 1.0, -5, 0, 0, 0});
    EXPECT_EQ(block.linesDrawn, 0);
    EXPECT_EQ(block.firstLine, -100000);
    EXPECT_EQ(block.endPosition, -3);
}

}  // namespace
