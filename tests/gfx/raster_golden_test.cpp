// Golden outputs of the blur, sharpen, shadow-plane, grey, modulate and contrast kernels: each
// case runs over pictures of many sizes (odd widths, one pixel, wider than a strip) that mix
// random stored values (every alpha), flat areas and ramps, and the bytes it leaves are hashed.
// The hashes pin today's output to the byte, so that a faster path is proven to compute the
// same thing. A changed hash is printed with its case; pin a new one only for a meant change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

#include "gfx/colour_filters.h"
#include "gfx/kernels/filters.h"
#include "gfx/pixel_format.h"
#include "gfx/spatial_filters.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/fnv_hash.h"
#include "tests/gfx/support/test_pictures.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;

struct Size {
    int32_t width, height;
};
constexpr Size kSizes[] = {{1, 1},   {2, 7},   {5, 3},    {17, 9},
                           {33, 31}, {67, 41}, {301, 23}, {260, 256}};
constexpr uint32_t kFormats[] = {QV_FMT_A8R8G8B8, QV_FMT_R8G8B8A8, QV_FMT_R5G6B5, QV_FMT_B8G8R8};

// Random values with a flat block (where sums land on whole levels) and a ramp (where a
// symmetric kernel gives whole levels too) across the middle.
uint32_t PictureValue(std::mt19937& random, int32_t x, int32_t y, const Size& s) {
    const uint32_t noise = uint32_t(random());
    if (x < s.width / 3 && y < s.height / 2) return 0x5A3C96C8u;
    if (y >= s.height / 2 && x >= s.width / 2) return uint32_t(x * 7 + y * 3) * 0x01010101u;
    return noise;
}

BitMapPtr Picture(const Size& s, uint32_t format, uint32_t seed) {
    BitMapPtr b(qv::AllocBitMapInFormat(s.width, s.height, format, false));
    std::mt19937 random(seed);
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x)
            qv::test::SetRaw(b.get(), x, y, PictureValue(random, x, y, s));
    }
    return b;
}

PlanePtr AlphaPlane(const Size& s, uint32_t seed) {
    PlanePtr p(AllocAlphaBitMap(s.width, s.height, 1));
    std::mt19937 random(seed);
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x)
            p->plane[y * p->bytesPerRow + x] = uint8_t(PictureValue(random, x, y, s) >> 8);
    }
    return p;
}

// Levels for the still windows of the blur (mirrored pairs summing to twice the centre),
// row by row: flat runs of 1 to 80 pixels stepping by -2..2, the row above again (still
// columns), ramps of slope -1..3 that saturate, and levels about a value whose pairs sum to
// twice it or one off it (the rounded-up mean alone would call those still).
std::vector<uint8_t> Stretches(const Size& s, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> levels(size_t(s.width) * size_t(s.height));
    auto pick = [&](int lowest, int highest) {
        return int(random() % uint32_t(highest - lowest + 1)) + lowest;
    };
    for (int32_t y = 0; y < s.height; ++y) {
        uint8_t* row = &levels[size_t(y) * size_t(s.width)];
        const int kind = y == 0 ? 0 : pick(0, 3);
        int level = pick(0, 255), run = 0;
        const int slope = pick(-1, 3), around = pick(1, 254);
        for (int32_t x = 0; x < s.width; ++x) {
            if (kind == 0 && run-- == 0)
                level = std::clamp(level + pick(-2, 2), 0, 255), run = pick(0, 79);
            if (kind == 1) level = row[x - s.width];
            if (kind == 2) level = std::clamp(level + slope, 0, 255);
            if (kind == 3) level = around + (x % 3 == 0 ? 0 : x % 3 == 1 ? -1 : pick(1, 2) - 1);
            row[x] = uint8_t(level);
        }
    }
    return levels;
}

// The stretches in each channel of a picture (green falling where red and blue rise), and
// in an alpha plane of their own.
BitMapPtr StretchPicture(const Size& s, uint32_t format, uint32_t seed) {
    BitMapPtr b(qv::AllocBitMapInFormat(s.width, s.height, format, false));
    const std::vector<uint8_t> levels = Stretches(s, seed);
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x) {
            const uint32_t l = levels[size_t(y) * size_t(s.width) + size_t(x)];
            qv::test::SetRaw(b.get(), x, y, l * 0x01010101u ^ 0x0000FF00u);
        }
    }
    return b;
}

PlanePtr StretchPlane(const Size& s, uint32_t seed) {
    PlanePtr p(AllocAlphaBitMap(s.width, s.height, 1));
    const std::vector<uint8_t> levels = Stretches(s, seed);
    for (int32_t y = 0; y < s.height; ++y)
        std::copy_n(&levels[size_t(y) * size_t(s.width)], s.width, p->plane + y * p->bytesPerRow);
    return p;
}

using Hash = qv::test::FnvHash;

// A filter of a picture and its alpha plane; each case runs on every size of one format. What
// it makes besides (a shadow plane) it adds to the hash.
using Filter = std::function<void(qvDisplayBitMap*, qvPlaneBitMap*, const Size&, Hash&)>;

uint64_t HashOf(const Filter& filter, uint32_t format) {
    Hash hash;
    uint32_t seed = 1;
    for (const Size& s : kSizes) {
        BitMapPtr picture = Picture(s, format, seed++);
        PlanePtr alpha = AlphaPlane(s, seed++);
        filter(picture.get(), alpha.get(), s, hash);
        hash.Add(picture.get());
        hash.Add(alpha.get(), s.width);
    }
    return hash.value;
}

struct Case {
    const char* name;
    Filter filter;
    uint64_t hashes[std::size(kFormats)];
};

Filter Convolution(int32_t type, double radius, double sigma) {
    return [=](qvDisplayBitMap* b, qvPlaneBitMap* alpha, const Size& s, Hash&) {
        ConvolveBitmap(type, b, alpha, s.width, s.height, nullptr, radius, sigma);
    };
}

// The shadow plane of the alpha plane, or of a mask of every third column, or of the box.
Filter Shadow(int source, int hardEdge, int secondBlur, double radius, double sigma) {
    return [=](qvDisplayBitMap* b, qvPlaneBitMap* alpha, const Size& s, Hash& hash) {
        PlanePtr mask(AllocMaskBitMap(b, s.width, s.height, 1));
        for (int32_t y = 0; y < s.height; ++y) {
            for (int32_t x = 0; x < s.width; x += 3)
                mask->plane[y * mask->bytesPerRow + x / 8] |= 1;
        }
        PlanePtr shadow(MakeShadowPlane(source == 0 ? alpha : nullptr,
                                        source == 1 ? mask.get() : nullptr, 0, 0, s.width, s.height,
                                        200, hardEdge, secondBlur, radius, sigma));
        ASSERT_NE(shadow, nullptr);
        hash.Add(shadow.get(), shadow->width);
    };
}

Filter Gray(int32_t threshold) {
    return [=](qvDisplayBitMap* b, qvPlaneBitMap*, const Size& s, Hash&) {
        GrayBitmap(b, s.width, s.height, threshold, nullptr);
    };
}

Filter Modulate(double brightness, double saturation, double hue) {
    return [=](qvDisplayBitMap* b, qvPlaneBitMap*, const Size& s, Hash&) {
        ModulateBitmap(b, s.width, s.height, brightness, saturation, hue);
    };
}

Filter Contrast(int32_t increase, int32_t count) {
    return [=](qvDisplayBitMap* b, qvPlaneBitMap*, const Size& s, Hash&) {
        ContrastBitmap(b, s.width, s.height, increase, count, nullptr);
    };
}

// Formats 10, 12, 4 and 9 in this order. The largest picture takes the table path of 2-byte
// pixels.
const Case kCases[] = {
    {"blur radius 0 (sigma 1)",
     Convolution(QV_CONVOLVE_BLUR, 0, 2),
     {0x4CFAA6E3BB3536CCu, 0x6E4ECB9246E07206u, 0x11F4914986CDF9AEu, 0x52D6AAD94716244Eu}},
    {"blur radius 6 sigma 2",
     Convolution(QV_CONVOLVE_BLUR, 6, 2),
     {0x86296ED7718B346Eu, 0x480534D867D9E9C5u, 0x0AE03696BEBB2F9Du, 0xA9E942AB4B865CFCu}},
    {"blur radius 24 sigma 8",
     Convolution(QV_CONVOLVE_BLUR, 24, 8),
     {0xAFDD567857744D01u, 0x862643652BF1BDDBu, 0xE42997FF136E4164u, 0xEDBA5EE8268BB8B9u}},
    {"blur radius 1.5 sigma 0.7",
     Convolution(QV_CONVOLVE_BLUR, 1.5, 0.7),
     {0x897005DC4A2790FBu, 0x0376A1362328112Du, 0x999C12560D7521B3u, 0xE64B6298119DE3E9u}},
    {"blur radius 0.3 sigma 2",
     Convolution(QV_CONVOLVE_BLUR, 0.3, 2),
     {0x93660A56A9DDBEB9u, 0xA6F7ED3B8ADA2226u, 0x2189BAF7A1777E89u, 0x0973F337C38F0C13u}},
    {"blur radius 3 sigma -3",
     Convolution(QV_CONVOLVE_BLUR, 3, -3),
     {0x02046C6CA033FA74u, 0x43B4F73C323EA59Au, 0xA9E4880D5EA20BCEu, 0x8922330F2959DB70u}},
    {"blur radius 40 sigma 30",
     Convolution(QV_CONVOLVE_BLUR, 40, 30),
     {0xEA601F1897B921F4u, 0x0B5B35477CB4490Au, 0x84035AD2C73AF9B0u, 0x81D3AAD8CDD3A1DAu}},
    {"sharpen radius 2 sigma 1",
     Convolution(QV_CONVOLVE_SHARPEN, 2, 1),
     {0xCF2066074F79969Bu, 0xD43E8F6D2C921411u, 0xBFD30CF221491385u, 0x328ADD04A7A16E0Cu}},
    {"sharpen sigma 0.8",
     Convolution(QV_CONVOLVE_SHARPEN, 0, 0.8),
     {0x5CF52DFC5B820443u, 0xA38962B4A7240119u, 0x475ACA31E963BF2Eu, 0xCB89F7E991B6A608u}},
    {"shadow of alpha radius 5",
     Shadow(0, 0, 0, 5, 5.0 / 3),
     {0x26E71F19EA91C7F6u, 0x26E71F19EA91C7F6u, 0xB3C6DB9E42B89AC3u, 0x31DBD755D4DF977Fu}},
    {"shadow of alpha hard twice",
     Shadow(0, 1, 1, 4, 2),
     {0x5CB379C29301FABBu, 0x5CB379C29301FABBu, 0x5D4D01FAA79BCEC6u, 0x3A438208D81AB020u}},
    {"shadow of mask radius 3",
     Shadow(1, 0, 0, 3, 1),
     {0x41AAE270C2B695E2u, 0x41AAE270C2B695E2u, 0x6EF648B69313D3DFu, 0x499D78A11A9A3603u}},
    {"shadow of box radius 7.5",
     Shadow(2, 0, 0, 7.5, 2.5),
     {0x303F08DDBD7454DAu, 0x303F08DDBD7454DAu, 0xAF5A1072F697457Fu, 0xDA7D3294D95040F5u}},
    {"grey",
     Gray(0),
     {0xC3B165A6F78D6CB1u, 0x7A39882C4C87F2DBu, 0xDF6B20BAF2D5FC77u, 0xB9AE56E08E2297ABu}},
    {"grey threshold",
     Gray(1),
     {0x881B53CDF17CFECCu, 0x977D58324482F3E5u, 0x5ABD7518D4331148u, 0x9F6723924605A997u}},
    {"modulate 0.8 1.3 1.5",
     Modulate(0.8, 1.3, 1.5),
     {0x2BC70C26CF5A47A3u, 0x9CABB06332F7661Cu, 0x995245E2C511223Cu, 0x7EA66960B9524525u}},
    {"modulate 1.7 0.4 0.25",
     Modulate(1.7, 0.4, 0.25),
     {0x315B927CA7680FDAu, 0x3195D8A13E85AF4Eu, 0xFF7466272A2794E4u, 0xEDA9FE3B378C32D3u}},
    {"modulate 1 0 2",
     Modulate(1, 0, 2),
     {0xE8789C3BA0DE27D8u, 0x65DD059CA97A25B2u, 0xE36B147852093737u, 0x7A566D14F12FC9E6u}},
    {"contrast up",
     Contrast(1, 1),
     {0x7D3A198000732372u, 0x8309778CCB8F7D0Du, 0x035263684EBE5F6Cu, 0x9C1DEC7511C56166u}},
    {"contrast down twice",
     Contrast(0, 2),
     {0x0B69D9773EA633F8u, 0x2C7C8737CA99B858u, 0xBDFE9E6AF5D0DC9Cu, 0xB72B7FDB04B3BA79u}},
};

TEST(RasterGolden, EveryKernelKeepsItsBytes) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    for (const Case& c : kCases) {
        for (size_t f = 0; f < std::size(kFormats); ++f) {
            const uint64_t hash = HashOf(c.filter, kFormats[f]);
            EXPECT_EQ(hash, c.hashes[f]) << c.name << " in format " << kFormats[f];
        }
    }
}

}  // namespace

// The intensity of 0x??RRGGBB by the formula, truncated.
uint32_t FormulaLevel(uint32_t rgb) {
    const double r = rgb >> 16 & 255, g = rgb >> 8 & 255, b = rgb & 255;
    return uint32_t(std::fma(0.114, b, std::fma(0.299, r, 0.587 * g)));
}

// The channels of an R5G6B5 value as 0x00RRGGBB, low bits clear.
uint32_t Rgb565Channels(uint32_t v) {
    return (v >> 8 & 0xF8) << 16 | (v >> 3 & 0xFC) << 8 | (v << 3 & 0xF8);
}

// Every colour through the vector path (and the threshold at 129) against the formula.
TEST(RasterGolden, GreyOfEveryColourIsTheTruncatedFormula) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    constexpr int32_t kSide = 4096;
    BitMapPtr b(qv::AllocBitMapInFormat(kSide, kSide, QV_FMT_A8R8G8B8, false));
    BitMapPtr threshold(qv::AllocBitMapInFormat(kSide, kSide, QV_FMT_A8R8G8B8, false));
    for (uint32_t rgb = 0; rgb < 1u << 24; ++rgb) {
        const int32_t x = int32_t(rgb % kSide), y = int32_t(rgb / kSide);
        qv::test::SetRaw(b.get(), x, y, rgb | 0xA5000000u);
        qv::test::SetRaw(threshold.get(), x, y, rgb);
    }
    ASSERT_EQ(GrayBitmap(b.get(), kSide, kSide, 0, nullptr), 0);
    ASSERT_EQ(GrayBitmap(threshold.get(), kSide, kSide, 1, nullptr), 0);
    int64_t wrong = 0;
    for (uint32_t rgb = 0; rgb < 1u << 24; ++rgb) {
        const uint32_t level = FormulaLevel(rgb);
        const int32_t x = int32_t(rgb % kSide), y = int32_t(rgb / kSide);
        wrong += qv::test::Raw(b.get(), x, y) != level * 0x010101u;
        wrong += qv::test::Raw(threshold.get(), x, y) != (level >= 129 ? 0xFFFFFFu : 0u);
    }
    EXPECT_EQ(wrong, 0);
}

// Contrast up and modulate by 75 %, 125 % and 150 % of one colour through the scalar
// conversions.
uint32_t ScalarContrast(uint32_t c) {
    const auto r = uint8_t(c >> 16), g = uint8_t(c >> 8), b = uint8_t(c);
    double h, s, v;
    uint8_t out[3];
    RGBToHSB(r, g, b, &h, &s, &v);
    v = std::max({r, g, b}) / 255.0;
    v = std::clamp(v + 0.5 * (0.5 * (std::sin(std::numbers::pi * (v - 0.5)) + 1) - v), 0.0, 1.0);
    HSBToRGB(h, s, v, &out[0], &out[1], &out[2]);
    return uint32_t(out[0]) << 16 | uint32_t(out[1]) << 8 | out[2];
}

// Percentages as ModulateBitmap passes them on.
struct Percents {
    int32_t brightness, saturation, hue;
};

uint32_t ScalarModulate(uint32_t c, const Percents& p) {
    double h, s, l;
    uint8_t out[3];
    RGBToHSL(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), &h, &s, &l);
    h += (p.hue * 0.01 - 1) * 0.5;
    h -= std::floor(h);
    HSLToRGB(h, s * p.saturation * 0.01, l * p.brightness * 0.01, &out[0], &out[1], &out[2]);
    return uint32_t(out[0]) << 16 | uint32_t(out[1]) << 8 | out[2];
}

uint32_t ScalarModulate(uint32_t c) {
    return ScalarModulate(c, {75, 125, 150});
}

// A quarter of all colours (every seventh) through the vector paths of contrast and
// modulate, against the scalar conversions.
TEST(RasterGolden, ContrastAndModulateOfManyColoursMatchTheScalarConversions) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    constexpr int32_t kSide = 2048;
    auto colour = [](int32_t x, int32_t y) { return uint32_t(y * kSide + x) * 7u & 0xFFFFFFu; };
    BitMapPtr contrast(qv::AllocBitMapInFormat(kSide, kSide, QV_FMT_A8R8G8B8, false));
    BitMapPtr modulate(qv::AllocBitMapInFormat(kSide, kSide, QV_FMT_A8R8G8B8, false));
    for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) {
            qv::test::SetRaw(contrast.get(), x, y, colour(x, y));
            qv::test::SetRaw(modulate.get(), x, y, colour(x, y) | 0x5A000000u);
        }
    }
    ASSERT_EQ(ContrastBitmap(contrast.get(), kSide, kSide, 1, 1, nullptr), 0);
    ASSERT_EQ(ModulateBitmap(modulate.get(), kSide, kSide, 0.75, 1.25, 1.5), 0);
    int64_t wrong = 0;
    for (int32_t y = 0; y < kSide; ++y) {
        for (int32_t x = 0; x < kSide; ++x) {
            wrong += qv::test::Raw(contrast.get(), x, y) != ScalarContrast(colour(x, y));
            wrong += qv::test::Raw(modulate.get(), x, y) != ScalarModulate(colour(x, y));
        }
    }
    EXPECT_EQ(wrong, 0);
}

// Rows of every length around the vector steps (four pixels) and their batches (64), of
// random colours with greys and black among them, against the scalar conversions.
TEST(RasterGolden, ContrastAndModulateKeepTheScalarResultAtEveryRowLength) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    constexpr int32_t kWidths[] = {1, 2, 3, 4, 5, 7, 8, 9, 63, 64, 65, 67, 68, 127, 128, 131, 257};
    std::mt19937 random(5);
    for (int32_t width : kWidths) {
        std::vector<uint32_t> colours(size_t(width) * 2);
        for (size_t i = 0; i < colours.size(); ++i) {
            const uint32_t value = uint32_t(random());
            colours[i] = i % 5 == 3 ? (value & 0xFF) * 0x010101u : value & 0xFFFFFFu;
        }
        colours[0] = 0;
        BitMapPtr contrast(qv::AllocBitMapInFormat(width, 2, QV_FMT_A8R8G8B8, false));
        BitMapPtr modulate(qv::AllocBitMapInFormat(width, 2, QV_FMT_A8R8G8B8, false));
        for (int32_t i = 0; i < width * 2; ++i) {
            qv::test::SetRaw(contrast.get(), i % width, i / width, colours[size_t(i)]);
            qv::test::SetRaw(modulate.get(), i % width, i / width, colours[size_t(i)]);
        }
        ASSERT_EQ(ContrastBitmap(contrast.get(), width, 2, 1, 1, nullptr), 0);
        ASSERT_EQ(ModulateBitmap(modulate.get(), width, 2, 0.75, 1.25, 1.5), 0);
        int64_t wrong = 0;
        for (int32_t i = 0; i < width * 2; ++i) {
            const uint32_t c = colours[size_t(i)];
            wrong += qv::test::Raw(contrast.get(), i % width, i / width) != ScalarContrast(c);
            wrong += qv::test::Raw(modulate.get(), i % width, i / width) != ScalarModulate(c);
        }
        EXPECT_EQ(wrong, 0) << "width " << width;
    }
}

// Colours for every branch of the conversions: any value (alpha too), greys, black and white,
// saturated colours (a channel at 0 and one at 255) and ties for the largest channel.
uint32_t BranchColour(std::mt19937& random, int32_t i) {
    const uint32_t value = uint32_t(random()), byte = value & 255, other = value >> 8 & 255;
    switch (i % 8) {
        case 0:
            return value;
        case 1:
            return byte * 0x010101u;
        case 2:
            return (value & 1) != 0 ? 0xFFFFFFu : 0u;
        case 3:
            return 0xFF0000u >> (8 * (value % 3)) | byte << (8 * ((value + 1) % 3));
        case 4:
            return byte * 0x010100u | std::min(byte, other);  // red and green tie
        case 5:
            return byte * 0x000101u | std::min(byte, other) << 16;  // green and blue tie
        case 6:
            return byte * 0x010001u | std::min(byte, other) << 8;  // red and blue tie
        default:
            return value | 0xFF000000u;
    }
}

// Every row length 1-40 and some past the vector batches, through modulations that reach
// every branch: lightness on either side of one half, no saturation, saturation and lightness
// far past 1 (clamped channels), black, hue shifts down, up and by whole turns.
TEST(RasterGolden, ModulateKeepsTheScalarResultInEveryBranchAndRowTail) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    struct Factors {
        double brightness, saturation, hue;
    };
    constexpr Factors kModulations[] = {
        {1, 1, 1.02},          {1.3, 1, 1}, {0.6, 0, 1.4},    {2.5, 3, 0.3},     {0, 1, 1.7},
        {1, 1.8, 0},           {1, 1, 3},   {0.9, 0.4, 1.99}, {1e4, 0.07, 0.01}, {0.03, 1e3, 0.55},
        {1e300, 1e300, 1e300},
    };
    auto percent = [](double f) { return int32_t(std::min(f * 100, 2147483647.0)); };
    std::vector<int32_t> widths;
    for (int32_t w = 1; w <= 40; ++w) widths.push_back(w);
    widths.insert(widths.end(), {63, 64, 65, 71, 129, 200});
    std::mt19937 random(11);
    for (const Factors& f : kModulations) {
        const Percents p{percent(f.brightness), percent(f.saturation), percent(f.hue)};
        for (int32_t width : widths) {
            std::vector<uint32_t> colours(size_t(width) * 2);
            for (size_t i = 0; i < colours.size(); ++i)
                colours[i] = BranchColour(random, int32_t(i + size_t(width)));
            BitMapPtr b(qv::AllocBitMapInFormat(width, 2, QV_FMT_A8R8G8B8, false));
            for (int32_t i = 0; i < width * 2; ++i)
                qv::test::SetRaw(b.get(), i % width, i / width, colours[size_t(i)]);
            ASSERT_EQ(ModulateBitmap(b.get(), width, 2, f.brightness, f.saturation, f.hue), 0);
            int64_t wrong = 0;
            for (int32_t i = 0; i < width * 2; ++i) {
                wrong += qv::test::Raw(b.get(), i % width, i / width) !=
                         ScalarModulate(colours[size_t(i)], p);
            }
            EXPECT_EQ(wrong, 0) << "width " << width << " modulation " << p.brightness << " "
                                << p.saturation << " " << p.hue;
        }
    }
}

// The grey (or at the threshold white or black) the formula gives a stored 16-bit value,
// computed on its channels as R5G6B5 and stored back in the format.
uint32_t GreyOf16BitValue(uint32_t format, uint32_t value, int32_t threshold) {
    uint32_t level = FormulaLevel(Rgb565Channels(Pixel16ToRGB565(format, value)));
    if (threshold != 0) level = level >= 129 ? 255 : 0;
    return RGB565ToPixel16(format, (level & 0xF8) << 8 | (level & 0xFC) << 3 | level >> 3);
}

// Every value of every 2-byte format, grey and threshold, against the formula on the channels
// of R5G6B5, in rows of odd width (the vector path's tails and its one-by-one lanes included).
TEST(RasterGolden, GreyOfEvery16BitValueIsTheTruncatedFormula) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    constexpr int32_t kWidth = 263, kHeight = 250;  // every value, some twice
    auto value = [](int32_t x, int32_t y) { return uint32_t(y * kWidth + x) & 0xFFFFu; };
    for (uint32_t format = QV_FMT_R5G5B5; format <= QV_FMT_B5G6R5_SWAPPED; ++format) {
        for (int32_t threshold : {0, 1}) {
            BitMapPtr b(qv::AllocBitMapInFormat(kWidth, kHeight, format, false));
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = 0; x < kWidth; ++x) qv::test::SetRaw(b.get(), x, y, value(x, y));
            }
            ASSERT_EQ(GrayBitmap(b.get(), kWidth, kHeight, threshold, nullptr), 0);
            int64_t wrong = 0;
            for (int32_t y = 0; y < kHeight; ++y) {
                for (int32_t x = 0; x < kWidth; ++x) {
                    wrong += qv::test::Raw(b.get(), x, y) !=
                             GreyOf16BitValue(format, value(x, y), threshold);
                }
            }
            EXPECT_EQ(wrong, 0) << "format " << format << " threshold " << threshold;
        }
    }
}

// Values that stress the lanes set right one by one: grey pixels, and colours whose weighted
// sum 299 R + 587 G + 114 B is a whole thousand, where the formula may truncate one level
// lower.
enum class Fill { kAnyValue, kGreys, kWholeSums, kMixed };

constexpr Fill kFills[] = {Fill::kAnyValue, Fill::kGreys, Fill::kWholeSums, Fill::kMixed};

// The values below count whose colour rgb(value) has a whole-thousand sum.
template <typename Rgb>
std::vector<uint32_t> WholeSumValues(uint32_t count, Rgb rgb) {
    std::vector<uint32_t> values;
    for (uint32_t v = 0; v < count; ++v) {
        const uint32_t c = rgb(v);
        if ((299 * (c >> 16 & 255) + 587 * (c >> 8 & 255) + 114 * (c & 255)) % 1000 == 0)
            values.push_back(v);
    }
    return values;
}

// A value of a 2-byte format (its channels taken as R5G6B5).
uint32_t FillValue16(Fill fill, uint32_t format, std::mt19937& random) {
    static const std::vector<uint32_t> wholeSums = WholeSumValues(65536, Rgb565Channels);
    if (fill == Fill::kMixed) fill = Fill(random() % 3);
    switch (fill) {
        case Fill::kGreys:
            return RGB565ToPixel16(format, (random() % 32) * 0x841u);
        case Fill::kWholeSums:
            return RGB565ToPixel16(format, wholeSums[random() % wholeSums.size()]);
        default:
            return random() & 0xFFFFu;
    }
}

// A format 10 value with any alpha.
uint32_t FillValue32(Fill fill, std::mt19937& random) {
    static const std::vector<uint32_t> wholeSums =
        WholeSumValues(1u << 24, [](uint32_t v) { return v; });
    if (fill == Fill::kMixed) fill = Fill(random() % 3);
    const uint32_t alpha = uint32_t(random()) << 24;
    switch (fill) {
        case Fill::kGreys:
            return alpha | (random() % 256) * 0x010101u;
        case Fill::kWholeSums:
            return alpha | wholeSums[random() % wholeSums.size()];
        default:
            return uint32_t(random());
    }
}

// A rectangle in a run of pixels: rows of rowLength from offset.
struct Rectangle {
    int32_t width, height, rowLength, offset;
};

// Rectangles of widths about the vector blocks (16 and 32 pixels of 2 bytes, 8 and 16 of 4)
// and their tails, rows contiguous or padded, first pixel at every alignment.
constexpr Rectangle kRectangles[] = {
    {1, 1, 1, 0},   {7, 3, 7, 2},    {8, 2, 8, 0},     {9, 3, 12, 1},
    {15, 3, 15, 0}, {16, 3, 16, 1},  {17, 4, 17, 0},   {24, 2, 25, 6},
    {31, 2, 40, 5}, {32, 5, 32, 0},  {33, 3, 35, 3},   {47, 4, 47, 15},
    {48, 2, 64, 8}, {64, 3, 64, 11}, {257, 9, 257, 0}, {100, 6, 130, 9}};

// Runs filter(first pixel) on the rectangle of pixels; the count of pixels inside that are
// not expected(value before) and of pixels around it that changed.
template <typename Pixel, typename Filter, typename Expected>
int64_t WrongPixels(std::vector<Pixel>& pixels, const Rectangle& r, Filter&& filter,
                    Expected&& expected) {
    const std::vector<Pixel> before = pixels;
    filter(&pixels[size_t(r.offset)]);
    int64_t wrong = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
        const ptrdiff_t at = ptrdiff_t(i) - r.offset;
        const bool inside = at >= 0 && at % r.rowLength < r.width && at / r.rowLength < r.height;
        wrong += pixels[i] != (inside ? expected(before[i]) : before[i]);
    }
    return wrong;
}

size_t PixelsAbout(const Rectangle& r) {
    return size_t(r.offset + r.rowLength * r.height + 16);
}

// Grey and threshold of every 2-byte format on the rectangles; the pixels around them keep
// their values.
TEST(RasterGolden, GreyOf16BitRowsIsTheFormulaAtEveryWidthAndAlignment) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    std::mt19937 random(11);
    for (uint32_t format = QV_FMT_R5G5B5; format <= QV_FMT_B5G6R5_SWAPPED; ++format) {
        for (Fill fill : kFills) {
            for (const Rectangle& r : kRectangles) {
                const auto threshold = int32_t(random() % 2);
                std::vector<uint16_t> pixels(PixelsAbout(r));
                for (uint16_t& p : pixels) p = uint16_t(FillValue16(fill, format, random));
                const int64_t wrong = WrongPixels(
                    pixels, r,
                    [&](uint16_t* first) {
                        GrayPixels16({first, r.width, r.height, r.rowLength, format}, threshold);
                    },
                    [&](uint16_t v) { return GreyOf16BitValue(format, v, threshold); });
                EXPECT_EQ(wrong, 0) << "format " << format << " fill " << int(fill) << " width "
                                    << r.width << " row " << r.rowLength << " offset " << r.offset
                                    << " threshold " << threshold;
            }
        }
    }
}

// The same for format 10 values.
TEST(RasterGolden, GreyOf32BitRowsIsTheFormulaAtEveryWidthAndAlignment) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    std::mt19937 random(12);
    for (Fill fill : kFills) {
        for (const Rectangle& r : kRectangles) {
            for (int32_t threshold : {0, 1}) {
                std::vector<uint32_t> pixels(PixelsAbout(r));
                for (uint32_t& p : pixels) p = FillValue32(fill, random);
                const int64_t wrong = WrongPixels(
                    pixels, r,
                    [&](uint32_t* first) {
                        GrayPixels32({first, r.width, r.height, r.rowLength, QV_FMT_A8R8G8B8},
                                     threshold);
                    },
                    [&](uint32_t v) {
                        const uint32_t level = FormulaLevel(v);
                        if (threshold != 0) return level >= 129 ? 0xFFFFFFu : 0u;
                        return level * 0x010101u;
                    });
                EXPECT_EQ(wrong, 0)
                    << "fill " << int(fill) << " width " << r.width << " row " << r.rowLength
                    << " offset " << r.offset << " threshold " << threshold;
            }
        }
    }
}

// The blur's still windows, partly still blocks and whole levels, at widths about its blocks
// of 32 and beyond a strip of the column pass, for every count of taps its fast path unrolls
// and beyond, with the other kernels that share its sums.
TEST(RasterGolden, StillStretchesKeepTheirBytes) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    constexpr Size kStretchSizes[] = {{31, 5},  {32, 33},  {33, 7}, {64, 64}, {65, 3},
                                      {97, 40}, {530, 24}, {1, 40}, {40, 1},  {5, 300}};
    const struct {
        const char* name;
        Filter filter;
        uint64_t hash;
    } cases[] = {
        {"blur radius 6 sigma 2", Convolution(QV_CONVOLVE_BLUR, 6, 2), 0xB9813220809AF18Du},
        {"blur radius 5 sigma 5/3", Convolution(QV_CONVOLVE_BLUR, 5, 5.0 / 3), 0x06EC40D37A09A7ECu},
        {"blur radius 24 sigma 8", Convolution(QV_CONVOLVE_BLUR, 24, 8), 0xA5CEA09A1FBCE800u},
        {"blur radius 1.5 sigma 0.7", Convolution(QV_CONVOLVE_BLUR, 1.5, 0.7), 0x69F9428BB314BF7Du},
        {"blur radius 2 sigma 40", Convolution(QV_CONVOLVE_BLUR, 2, 40), 0x439AD44237A736F9u},
        {"blur radius 1 sigma 1/3", Convolution(QV_CONVOLVE_BLUR, 1, 1 / 3.0), 0xED3D671BB2CB80DCu},
        {"blur radius 3 sigma 3/3", Convolution(QV_CONVOLVE_BLUR, 3, 3 / 3.0), 0xB77F5276578CDDA9u},
        {"blur radius 4 sigma 4/3", Convolution(QV_CONVOLVE_BLUR, 4, 4 / 3.0), 0x8C05A1EA1EB80FEEu},
        {"blur radius 7 sigma 7/3", Convolution(QV_CONVOLVE_BLUR, 7, 7 / 3.0), 0x27D47B6915B8DD05u},
        {"blur radius 8 sigma 8/3", Convolution(QV_CONVOLVE_BLUR, 8, 8 / 3.0), 0x44AF3FDE3B900AD4u},
        {"blur radius 9 sigma 9/3", Convolution(QV_CONVOLVE_BLUR, 9, 9 / 3.0), 0x69E6335C2C518577u},
        {"blur radius 10 sigma 10/3", Convolution(QV_CONVOLVE_BLUR, 10, 10 / 3.0),
         0x4A358D867E71F813u},
        {"blur radius 11 sigma 11/3", Convolution(QV_CONVOLVE_BLUR, 11, 11 / 3.0),
         0x85C0430C86B904ABu},
        {"blur radius 12 sigma 12/3", Convolution(QV_CONVOLVE_BLUR, 12, 12 / 3.0),
         0x8761E7DBA5A7CEFDu},
        {"blur radius 13 sigma 13/3", Convolution(QV_CONVOLVE_BLUR, 13, 13 / 3.0),
         0x80B5C7C6AC4A21F8u},
        {"blur radius 100 sigma 33", Convolution(QV_CONVOLVE_BLUR, 100, 33), 0xF875466357D4FF19u},
        {"sharpen radius 2 sigma 1", Convolution(QV_CONVOLVE_SHARPEN, 2, 1), 0x18319C0B963740FCu},
        {"sharpen sigma 0.8", Convolution(QV_CONVOLVE_SHARPEN, 0, 0.8), 0x5FA593FD64C55652u},
        {"sharpen radius 6 sigma 3", Convolution(QV_CONVOLVE_SHARPEN, 6, 3), 0xFE4B029F93FFD8F2u},
        {"sharpen radius 2 sigma 0.05", Convolution(QV_CONVOLVE_SHARPEN, 2, 0.05),
         0x32210C1DE8D257EFu},
        {"sharpen radius 20 sigma 9", Convolution(QV_CONVOLVE_SHARPEN, 20, 9), 0xE3F33900E53257BDu},
        {"emboss radius 2 sigma 1", Convolution(QV_CONVOLVE_EMBOSS, 2, 1), 0x2DE1755E12B8876Au},
        {"shadow of alpha hard twice", Shadow(0, 1, 1, 4, 2), 0x267600FBF9647D08u},
    };
    for (const auto& c : cases) {
        Hash hash;
        uint32_t seed = 1;
        for (const Size& s : kStretchSizes) {
            for (uint32_t format : {QV_FMT_A8R8G8B8, QV_FMT_R5G6B5}) {
                BitMapPtr picture = StretchPicture(s, format, seed++);
                PlanePtr alpha = StretchPlane(s, seed++);
                c.filter(picture.get(), alpha.get(), s, hash);
                hash.Add(picture.get());
                hash.Add(alpha.get(), s.width);
            }
        }
        EXPECT_EQ(hash.value, c.hash) << c.name << std::hex << " 0x" << hash.value;
    }
}

// The blur on pictures of the benchmarks' kinds: smooth channels (whose sums fall near whole
// levels in long runs without being still), rings and noise, as wide as two strips of the
// column pass and with an alpha plane of their green channel.
TEST(RasterGolden, PhotographsKeepTheirBytes) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    constexpr Size kPhotoSize = {700, 61};
    const struct {
        const char* name;
        Filter filter;
        uint64_t hash;
    } cases[] = {
        {"blur radius 6 sigma 2", Convolution(QV_CONVOLVE_BLUR, 6, 2), 0xB7696FA303BCBD6Fu},
        {"blur radius 24 sigma 8", Convolution(QV_CONVOLVE_BLUR, 24, 8), 0x226DF45907807ED6u},
        {"blur radius 5 sigma 5/3", Convolution(QV_CONVOLVE_BLUR, 5, 5.0 / 3), 0x718633C3A675F428u},
        {"blur radius 1.5 sigma 0.7", Convolution(QV_CONVOLVE_BLUR, 1.5, 0.7), 0x5FC92CA2C90E081Du},
    };
    for (const auto& c : cases) {
        Hash hash;
        for (int kind = 0; kind < 3; ++kind) {
            const qv::test::RgbPicture photo =
                qv::test::TestPicture(kind, kPhotoSize.width, kPhotoSize.height);
            for (uint32_t format : {QV_FMT_A8R8G8B8, QV_FMT_R5G6B5}) {
                BitMapPtr picture(
                    qv::AllocBitMapInFormat(photo.width, photo.height, format, false));
                PlanePtr alpha(AllocAlphaBitMap(photo.width, photo.height, 1));
                for (int32_t y = 0; y < photo.height; ++y) {
                    for (int32_t x = 0; x < photo.width; ++x) {
                        qv::test::SetRaw(picture.get(), x, y,
                                         RGBToPixelFormat(photo.At(x, y), format));
                        alpha->plane[y * alpha->bytesPerRow + x] = uint8_t(photo.At(x, y) >> 8);
                    }
                }
                c.filter(picture.get(), alpha.get(), kPhotoSize, hash);
                hash.Add(picture.get());
                hash.Add(alpha.get(), photo.width);
            }
        }
        EXPECT_EQ(hash.value, c.hash) << c.name << std::hex << " 0x" << hash.value;
    }
}
