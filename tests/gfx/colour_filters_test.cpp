// Colour filters: every filter in every format against the same filter in format 10, the
// edge cases of the filters, hostile arguments, locks and the exact intensity.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/colour_filters.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/window.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::AsStored;
using qv::test::BitMapPtr;
using qv::test::DefaultScreenFormat;
using qv::test::RandomRawBitMap;
using qv::test::Raw;
using qv::test::SetRaw;
namespace hooks = qv::platform::testing;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

BitMapPtr Make(int32_t width, int32_t height, uint32_t format) {
    return BitMapPtr(qv::AllocBitMapInFormat(width, height, format, false));
}

// The same picture in format 10, alpha 0x5A.
BitMapPtr AsFormat10(const qvDisplayBitMap* b) {
    BitMapPtr c = Make(b->width, b->height, QV_FMT_A8R8G8B8);
    for (int32_t y = 0; y < b->height; ++y) {
        for (int32_t x = 0; x < b->width; ++x)
            SetRaw(c.get(), x, y, 0x5A000000 | ReadBitMapPixel(b, x, y));
    }
    return c;
}

uint32_t Pack(uint32_t format, uint32_t rgb) {
    return RGBToPixelFormat(rgb, format);
}

using FilterFn = std::function<int(qvDisplayBitMap*, int32_t, int32_t)>;

struct FilterCase {
    const char* name;
    FilterFn run;
    // Later passes read what earlier ones stored, which 16-bit pixels narrow.
    bool multiPass = false;
};

std::vector<FilterCase> Filters() {
    return {
        {"gray", [](auto b, auto w, auto h) { return GrayBitmap(b, w, h, 0, nullptr); }},
        {"gray threshold", [](auto b, auto w, auto h) { return GrayBitmap(b, w, h, 1, nullptr); }},
        {"tint", [](auto b, auto w, auto h) { return TintBitmap(b, 1, 2, w, h, 0x3080F0, 100); }},
        {"solarize", [](auto b, auto w, auto h) { return SolarizeBitmap(b, w, h, 100); }},
        {"gamma", [](auto b, auto w, auto h) { return GammaBitmap(b, w, h, 0.5, 1, 2.2); }},
        {"contrast", [](auto b, auto w, auto h) { return ContrastBitmap(b, w, h, 1, 2, nullptr); },
         true},
        {"contrast down",
         [](auto b, auto w, auto h) { return ContrastBitmap(b, w, h, 0, 1, nullptr); }},
        {"sepia", [](auto b, auto w, auto h) { return SepiaBitmap(b, w, h, 200); }, true},
        {"monochrome", [](auto b, auto w, auto h) { return MonochromeBitmap(b, w, h, 0); }},
        {"modulate", [](auto b, auto w, auto h) { return ModulateBitmap(b, w, h, 1.2, 0.6, 1.4); }},
        {"normalize", [](auto b, auto w, auto h) { return NormalizeBitmap(b, w, h, nullptr); }},
        {"normalize ex",
         [](auto b, auto w, auto h) { return NormalizeBitmapEx(b, w, h, 10, 80, nullptr); }},
    };
}

// The format-independent tests sweep all formats in the default screen-format run only.
#define QV_FORMAT_SWEEP()       \
    if (!DefaultScreenFormat()) \
    GTEST_SKIP() << "independent of the screen format; swept in the format 10 run"

// In every format a filter gives what it gives in format 10 on the same (decoded) picture,
// written back with alpha 0; pixels outside the rectangle (width - 2 x height - 1, cut to the
// bitmap) stay as they were.
void CheckAgainstFormat10(const FilterCase& filter, uint32_t format, int32_t width,
                          int32_t height) {
    SCOPED_TRACE(std::string(filter.name) + " format " + std::to_string(format) + " " +
                 std::to_string(width) + "x" + std::to_string(height));
    BitMapPtr b = RandomRawBitMap(width, height, format * 7 + 1, format);
    BitMapPtr before = AsFormat10(b.get());
    BitMapPtr reference = AsFormat10(b.get());
    std::vector<uint32_t> raw;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) raw.push_back(Raw(b.get(), x, y));
    }
    ASSERT_EQ(filter.run(b.get(), width - 2, height - 1), 0);
    ASSERT_EQ(filter.run(reference.get(), width - 2, height - 1), 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t ref = Raw(reference.get(), x, y);
            if (ref == Raw(before.get(), x, y)) {  // untouched in format 10
                ASSERT_EQ(Raw(b.get(), x, y), raw[size_t(y) * width + x]) << x << "," << y;
            } else {
                ASSERT_EQ(ref >> 24, 0u) << x << "," << y;
                ASSERT_EQ(Raw(b.get(), x, y), Pack(format, ref)) << x << "," << y;
            }
        }
    }
}

// Small rectangles in every format; 16-bit rectangles of 65536 pixels and more also go
// through the table of all 16-bit values.
TEST(ColourFilters, EveryFormatMatchesFormat10) {
    QV_FORMAT_SWEEP();
    for (const FilterCase& filter : Filters()) {
        for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
            if (filter.multiPass && qv::BytesPerPixel(format) == 2) continue;
            CheckAgainstFormat10(filter, format, 37, 9);
            if (qv::BytesPerPixel(format) == 2) CheckAgainstFormat10(filter, format, 259, 256);
        }
    }
}

TEST(ColourFilters, InvertComplementsWholePixels) {
    QV_FORMAT_SWEEP();
    for (uint32_t format = 0; format < QV_FMT_COUNT; ++format) {
        BitMapPtr b = RandomRawBitMap(5, 3, format, format);
        const uint32_t all = qv::BytesPerPixel(format) == 4   ? 0xFFFFFFFF
                             : qv::BytesPerPixel(format) == 3 ? 0xFFFFFF
                                                              : 0xFFFF;
        const uint32_t first = Raw(b.get(), 0, 0), outside = Raw(b.get(), 4, 2);
        ASSERT_EQ(InvertBitmap(b.get(), 4, 3, nullptr), 0);
        EXPECT_EQ(Raw(b.get(), 0, 0), first ^ all) << format;
        EXPECT_EQ(Raw(b.get(), 4, 2), outside) << format;
    }
}

// A 4-byte pixel with alpha 0x80 has alpha 0 after every colour filter that writes it, 0x7F
// after invert.
TEST(ColourFilters, AlphaOfFourBytePixels) {
    QV_FORMAT_SWEEP();
    for (uint32_t format = QV_FMT_A8R8G8B8; format < QV_FMT_COUNT; ++format) {
        const uint32_t alphaShift = format == 11 || format == 12 ? 0 : 24;
        for (const FilterCase& filter : Filters()) {
            BitMapPtr b = Make(4, 4, format);
            for (uint32_t i = 0; i < 16; ++i) {
                SetRaw(b.get(), int32_t(i & 3), int32_t(i >> 2),
                       Pack(format, i * 0x0F0B07 + 0x102030) | 0x80u << alphaShift);
            }
            BitMapPtr before = AsFormat10(b.get());
            ASSERT_EQ(filter.run(b.get(), 4, 4), 0);
            int changed = 0;
            for (int32_t i = 0; i < 16; ++i) {
                const uint32_t alpha = Raw(b.get(), i & 3, i >> 2) >> alphaShift & 255;
                if (alpha == 0x80) continue;
                EXPECT_EQ(alpha, 0u) << filter.name << " " << format;
                ++changed;
            }
            EXPECT_GT(changed, 0) << filter.name << " " << format;
        }
        BitMapPtr b = Make(1, 1, format);
        SetRaw(b.get(), 0, 0, Pack(format, 0x406080) | 0x80u << alphaShift);
        ASSERT_EQ(InvertBitmap(b.get(), 1, 1, nullptr), 0);
        EXPECT_EQ(Raw(b.get(), 0, 0) >> alphaShift & 255, 0x7Fu) << format;
    }
}

// One pixel through a filter in format 10 and in format 8.
uint32_t Filtered(uint32_t rgb, const FilterFn& run) {
    uint32_t result = 0;
    for (uint32_t format : {QV_FMT_A8R8G8B8, QV_FMT_R8G8B8}) {
        BitMapPtr b = Make(1, 1, format);
        SetRaw(b.get(), 0, 0, Pack(format, rgb));
        EXPECT_EQ(run(b.get(), 1, 1), 0);
        if (format == QV_FMT_A8R8G8B8) {
            result = ReadBitMapPixel(b.get(), 0, 0);
        } else {
            EXPECT_EQ(ReadBitMapPixel(b.get(), 0, 0), result) << "format 8 differs";
        }
    }
    return result;
}

struct EdgeCase {
    const char* name;
    uint32_t colour;
    FilterFn run;
    uint32_t expected;
};

TEST(ColourFilters, EdgeCases) {
    const EdgeCase cases[] = {
        {"solarize 255 keeps", 0xFF8001,
         [](auto b, auto w, auto h) { return SolarizeBitmap(b, w, h, 255); }, 0xFF8001},
        {"solarize 0 inverts", 0xFF8001,
         [](auto b, auto w, auto h) { return SolarizeBitmap(b, w, h, 0); }, 0x007FFE},
        {"solarize 0 keeps zero", 0x00FF00,
         [](auto b, auto w, auto h) { return SolarizeBitmap(b, w, h, -7); }, 0x000000},
        {"solarize level clamped", 0xFF8001,
         [](auto b, auto w, auto h) { return SolarizeBitmap(b, w, h, 999); }, 0xFF8001},
        {"gamma 0 for red", 0xFF8040,
         [](auto b, auto w, auto h) { return GammaBitmap(b, w, h, 0, 1, 1); }, 0x008040},
        {"gamma below 0 counts as 0", 0xFF8040,
         [](auto b, auto w, auto h) { return GammaBitmap(b, w, h, 1, -3, 1); }, 0xFF0040},
        {"gamma NaN counts as 0", 0xFF8040,
         [](auto b, auto w, auto h) { return GammaBitmap(b, w, h, 1, 1, kNaN); }, 0xFF8000},
        {"gamma 2 for blue", 0x000040,
         [](auto b, auto w, auto h) { return GammaBitmap(b, w, h, 1, 1, 2); }, 0x000080},
        // Half a turn; green truncates 254.99... to 254.
        {"modulate hue 2.0 turns half way", 0xFF0000,
         [](auto b, auto w, auto h) { return ModulateBitmap(b, w, h, 1, 1, 2.0); }, 0x00FEFF},
        {"modulate brightness 0", 0x3366CC,
         [](auto b, auto w, auto h) { return ModulateBitmap(b, w, h, 0, 1, 1); }, 0x000000},
        {"modulate saturation 0", 0xFF0000,
         [](auto b, auto w, auto h) { return ModulateBitmap(b, w, h, 1, 0, 1); }, 0x7F7F7F},
        {"grey intensity 128 is black", 0x818080,
         [](auto b, auto w, auto h) { return GrayBitmap(b, w, h, 1, nullptr); }, 0x000000},
        {"grey intensity 129 is white", 0x818181,
         [](auto b, auto w, auto h) { return GrayBitmap(b, w, h, 1, nullptr); }, 0xFFFFFF},
        {"grey 128 has intensity 127", 0x808080,
         [](auto b, auto w, auto h) { return GrayBitmap(b, w, h, 0, nullptr); }, 0x7F7F7F},
        {"uniform normalize keeps", 0x406080,
         [](auto b, auto w, auto h) { return NormalizeBitmap(b, w, h, nullptr); }, 0x406080},
        {"contrast count 0 keeps", 0x406080,
         [](auto b, auto w, auto h) { return ContrastBitmap(b, w, h, 1, 0, nullptr); }, 0x406080},
        {"contrast keeps white", 0xFFFFFF,
         [](auto b, auto w, auto h) { return ContrastBitmap(b, w, h, 1, 5, nullptr); }, 0xFFFFFF},
        {"tint level 0 keeps", 0x406080,
         [](auto b, auto w, auto h) { return TintBitmap(b, 0, 0, w, h, 0xFF00FF, 0); }, 0x406080},
        {"tint level 256 gives the colour", 0x406080,
         [](auto b, auto w, auto h) { return TintBitmap(b, 0, 0, w, h, 0xFF00FF, 256); }, 0xFF00FF},
        {"tint level 128 half way", 0x000000,
         [](auto b, auto w, auto h) { return TintBitmap(b, 0, 0, w, h, 0xFF8002, 128); }, 0x7F4001},
        {"tint level above 256 clamped", 0x406080,
         [](auto b, auto w, auto h) { return TintBitmap(b, 0, 0, w, h, 0xFF00FF, 100000); },
         0xFF00FF},
        {"tint level below 0 clamped", 0x406080,
         [](auto b, auto w, auto h) { return TintBitmap(b, 0, 0, w, h, 0xFF00FF, -100000); },
         0x406080},
        {"monochrome threshold", 0x818181,
         [](auto b, auto w, auto h) { return MonochromeBitmap(b, w, h, 0); }, 0xFFFFFF},
    };
    for (const EdgeCase& c : cases) {
        EXPECT_EQ(Filtered(c.colour, c.run), c.expected) << c.name;
    }
}

// Hostile factors finish and keep every channel in range (the sanitizers catch undefined
// conversions).
TEST(ColourFilters, HostileFactorsFinish) {
    const double values[] = {1e300, -1e300, kInf, -kInf, kNaN, 1e-320, 0, 2.5};
    BitMapPtr b = RandomRawBitMap(16, 4, 5, qv::ScreenFormat());
    for (double v : values) {
        EXPECT_EQ(ModulateBitmap(b.get(), 16, 4, v, 1, 1), 0);
        EXPECT_EQ(ModulateBitmap(b.get(), 16, 4, 1, v, 1), 0);
        EXPECT_EQ(ModulateBitmap(b.get(), 16, 4, 1, 1, v), 0);
        EXPECT_EQ(ModulateBitmap(b.get(), 16, 4, v, v, v), 0);
        EXPECT_EQ(GammaBitmap(b.get(), 16, 4, v, v, v), 0);
    }
    // Hues beyond one turn are reduced to their fraction: factor 4 turns by 1.5.
    EXPECT_EQ(Filtered(0xFF0000,
                       [](auto bm, auto w, auto h) { return ModulateBitmap(bm, w, h, 1, 1, 4); }),
              0x00FEFF);
    for (int32_t level : {std::numeric_limits<int32_t>::min(), -1, 257, 1 << 30}) {
        EXPECT_EQ(TintBitmap(b.get(), 0, 0, 16, 4, 0xFFFFFF, level), 0);
        EXPECT_EQ(SolarizeBitmap(b.get(), 16, 4, level), 0);
        EXPECT_EQ(SepiaBitmap(b.get(), 16, 4, level), 0);
        EXPECT_EQ(ContrastBitmap(b.get(), 16, 4, 1, level > 1000 ? 3 : level, nullptr), 0);
    }
    // Rectangles beyond the bitmap are cut to it.
    EXPECT_EQ(TintBitmap(b.get(), -5, -5, 1 << 30, 1 << 30, 0x123456, 256), 0);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 15, 3), ReadBitMapPixel(b.get(), 0, 0));
    EXPECT_EQ(GrayBitmap(b.get(), 1 << 30, -3, 0, nullptr), 0);
    EXPECT_EQ(NormalizeBitmapEx(b.get(), 16, 4, 1LL << 40, -(1LL << 40), nullptr), 0);
}

TEST(ColourFilters, MixRatios) {
    const uint32_t format = qv::ScreenFormat();
    BitMapPtr source = Make(4, 2, format), dest = Make(6, 3, format);
    RectFill(source.get(), 0, 0, 4, 2, 0xF08010);
    struct Case {
        int32_t ratio;
        uint32_t expected;  // over a black destination
    } cases[] = {{255, 0xF08010}, {0, 0}, {1000, 0xF08010}, {-9, 0}};
    for (const Case& c : cases) {
        RectFill(dest.get(), 0, 0, 6, 3, 0);
        ASSERT_EQ(
            MixBitmaps(dest.get(), source.get(), nullptr, 1, 1, 0, 0, 4, 2, c.ratio, nullptr, 0, 0),
            0);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 1, 1), c.expected) << c.ratio;
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 4, 2), c.expected) << c.ratio;
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 0, 0), 0u);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 5, 2), 0u);
    }
}

TEST(ColourFilters, MixHonoursTheMaskThenTheAlphaPlane) {
    const uint32_t format = qv::ScreenFormat();
    BitMapPtr source = Make(8, 1, format), dest = Make(8, 1, format);
    RectFill(source.get(), 0, 0, 8, 1, 0xFFFFFF);
    RectFill(dest.get(), 0, 0, 8, 1, 0);
    qv::test::PlanePtr mask(AllocMaskBitMap(nullptr, 8, 1, 1));
    PlotPixel(mask.get(), 2, 0, 0);
    ASSERT_EQ(
        MixBitmaps(dest.get(), source.get(), mask.get(), 0, 0, 0, 0, 8, 1, 255, nullptr, 0, 0), 0);
    for (int32_t x = 0; x < 8; ++x) {
        EXPECT_EQ(ReadBitMapPixel(dest.get(), x, 0),
                  x == 2 ? ReadBitMapPixel(source.get(), 0, 0) : 0)
            << x;
    }
    // The alpha plane wins over the mask and is scaled by the ratio: 255 x 128 / 255 = 128.
    qv::test::PlanePtr alpha(AllocAlphaBitMap(8, 1, 1));
    alpha->plane[5] = 255;
    RectFill(dest.get(), 0, 0, 8, 1, 0);
    ASSERT_EQ(
        MixBitmaps(dest.get(), source.get(), mask.get(), 0, 0, 0, 0, 8, 1, 128, alpha.get(), 8, 1),
        0);
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 2, 0), 0u);
    const uint32_t white = ReadBitMapPixel(source.get(), 0, 0) & 255;
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 5, 0), AsStored((white * 128 >> 8) * 0x010101));
    {
        qv::AllocationFault fault(1, true);
        EXPECT_EQ(
            MixBitmaps(dest.get(), source.get(), nullptr, 0, 0, 0, 0, 8, 1, 128, alpha.get(), 8, 1),
            ERR_MEM);
    }
}

// A source in another format is converted before the mix.
TEST(ColourFilters, MixConvertsTheSource) {
    BitMapPtr source = Make(3, 1, QV_FMT_R8G8B8), dest = Make(3, 1, qv::ScreenFormat());
    RectFill(source.get(), 0, 0, 3, 1, 0xF8FCF8);
    RectFill(dest.get(), 0, 0, 3, 1, 0);
    ASSERT_EQ(MixBitmaps(dest.get(), source.get(), nullptr, 0, 0, 0, 0, 3, 1, 255, nullptr, 0, 0),
              0);
    BitMapPtr expected = Make(3, 1, qv::ScreenFormat());
    RectFill(expected.get(), 0, 0, 3, 1, 0xF8FCF8);
    EXPECT_TRUE(qv::test::SameBitMap(dest.get(), expected.get()));
}

struct LockingCase {
    const char* name;
    FilterFn run;
};

// Every front-end that locks reports a failed lock and leaves the bitmap; gamma and
// modulate with factors of 1 do not lock at all; a caller's lock is neither taken nor
// released again.
TEST(ColourFilters, Locks) {
    std::vector<LockingCase> locking = {
        {"invert", [](auto b, auto w, auto h) { return InvertBitmap(b, w, h, nullptr); }},
        {"tint", [](auto b, auto w, auto h) { return TintBitmap(b, 0, 0, w, h, 0, 9); }},
        {"mix",
         [](auto b, auto w, auto h) {
             return MixBitmaps(b, b, nullptr, 0, 0, 1, 0, w - 1, h, 9, nullptr, 0, 0);
         }},
        {"monochrome dither", [](auto b, auto w, auto h) { return MonochromeBitmap(b, w, h, 1); }},
    };
    for (const FilterCase& f : Filters()) locking.push_back({f.name, f.run});
    for (const LockingCase& c : locking) {
        BitMapPtr b = RandomRawBitMap(6, 4, 3, qv::ScreenFormat());
        BitMapPtr copy = RandomRawBitMap(6, 4, 3, qv::ScreenFormat());
        hooks::LockFault fault(1);
        EXPECT_EQ(c.run(b.get(), 6, 4), ERR_LOCKBMAP) << c.name;
        EXPECT_TRUE(qv::test::SameBitMap(b.get(), copy.get())) << c.name;
    }
    BitMapPtr b = RandomRawBitMap(6, 4, 3, qv::ScreenFormat());
    hooks::LockFault fault(1);
    EXPECT_EQ(GammaBitmap(b.get(), 6, 4, 1, 1, 1), 0);
    EXPECT_EQ(ModulateBitmap(b.get(), 6, 4, 1, 1, 1), 0);
    EXPECT_EQ(ContrastBitmap(b.get(), 6, 4, 1, 0, nullptr), 0);
}

TEST(ColourFilters, CallersLockIsUsedAsIs) {
    BitMapPtr b = RandomRawBitMap(6, 4, 3, qv::ScreenFormat());
    qvBitMapLock lock;
    ASSERT_NE(LockBitMapRecord(b.get(), &lock), 0);
    {
        hooks::LockFault fault(1);  // any lock of their own would fail
        EXPECT_EQ(InvertBitmap(nullptr, 6, 4, &lock), 0);
        EXPECT_EQ(GrayBitmap(nullptr, 6, 4, 0, &lock), 0);
        EXPECT_EQ(ContrastBitmap(nullptr, 6, 4, 1, 2, &lock), 0);
        EXPECT_EQ(NormalizeBitmap(nullptr, 6, 4, &lock), 0);
        EXPECT_EQ(NormalizeBitmapEx(nullptr, 6, 4, 1, 20, &lock), 0);
    }
    EXPECT_EQ(b->lockCount, 1);
    UnlockBitMapRecord(&lock);
    // The grey pass went through the caller's lock.
    const uint32_t pixel = ReadBitMapPixel(b.get(), 0, 0);
    EXPECT_EQ(pixel >> 16, pixel & 255);
}

// With dithering the darker of the two colours shows black, whatever its palette index.
TEST(ColourFilters, DitheredMonochrome) {
    for (uint32_t dark : {0x202020u, 0x302010u}) {
        BitMapPtr b = Make(8, 8, qv::ScreenFormat());
        RectFill(b.get(), 0, 0, 8, 8, 0xC0C0C0);
        RectFill(b.get(), 0, 0, 4, 8, dark);
        ASSERT_EQ(MonochromeBitmap(b.get(), 8, 8, 1), 0);
        EXPECT_EQ(ReadBitMapPixel(b.get(), 1, 1), 0u);
        EXPECT_EQ(ReadBitMapPixel(b.get(), 6, 1), ReadBitMapPixel(b.get(), 7, 7));
        EXPECT_NE(ReadBitMapPixel(b.get(), 6, 1), 0u);
    }
    // A single colour: white when light, black when dark.
    BitMapPtr b = Make(3, 3, qv::ScreenFormat());
    RectFill(b.get(), 0, 0, 3, 3, 0xF0F0F0);
    ASSERT_EQ(MonochromeBitmap(b.get(), 3, 3, 1), 0);
    EXPECT_NE(ReadBitMapPixel(b.get(), 2, 2), 0u);
    RectFill(b.get(), 0, 0, 3, 3, 0x101010);
    ASSERT_EQ(MonochromeBitmap(b.get(), 3, 3, 1), 0);
    EXPECT_EQ(ReadBitMapPixel(b.get(), 2, 2), 0u);
}

TEST(ColourFilters, DitheredMonochromeOutOfMemory) {
    BitMapPtr b = RandomRawBitMap(8, 8, 4, qv::ScreenFormat());
    BitMapPtr copy = RandomRawBitMap(8, 8, 4, qv::ScreenFormat());
    for (uint64_t n = 1;; ++n) {
        qv::AllocationFault fault(n, false);
        const int result = MonochromeBitmap(b.get(), 8, 8, 1);
        if (result == 0) break;
        EXPECT_EQ(result, ERR_MEM) << n;
        EXPECT_TRUE(qv::test::SameBitMap(b.get(), copy.get())) << n;
        ASSERT_LT(n, 20u);
    }
}

TEST(ColourFilters, InvertPlaneBytes) {
    qv::test::PlanePtr plane(AllocAlphaBitMap(5, 3, 1));
    plane->plane[0] = 0x0F;
    InvertPlaneBytes(plane.get(), 2, 1 << 20);
    EXPECT_EQ(plane->plane[0], 0xF0);
    EXPECT_EQ(plane->plane[plane->bytesPerRow + 4], 0xFF);
    EXPECT_EQ(plane->plane[2 * plane->bytesPerRow], 0);  // row 2 left alone
    InvertPlaneBytes(nullptr, 2, 2);
}

// The grey kernel's intensity equals the fused multiply-adds for every colour.
TEST(ColourFilters, IntensityOfEveryColourEqualsFusedMultiplyAdds) {
    QV_FORMAT_SWEEP();
    BitMapPtr b = Make(4096, 4096, QV_FMT_A8R8G8B8);
    for (uint32_t c = 0; c < (1u << 24); ++c)
        SetRaw(b.get(), int32_t(c & 4095), int32_t(c >> 12), c);
    ASSERT_EQ(GrayBitmap(b.get(), 4096, 4096, 0, nullptr), 0);
    for (uint32_t c = 0; c < (1u << 24); ++c) {
        const double r = c >> 16, g = (c >> 8) & 255, bl = c & 255;
        const auto expected = uint32_t(std::fma(0.114, bl, std::fma(0.299, r, 0.587 * g)));
        ASSERT_EQ(Raw(b.get(), int32_t(c & 4095), int32_t(c >> 12)), expected * 0x010101)
            << std::hex << c;
    }
}

}  // namespace
