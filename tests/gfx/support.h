// Shared support of the graphics tests: a listener that puts every test under the strict
// hooks (padded rows, poisoned buffers) and fails a test that leaves a bitmap locked, bitmap
// comparisons that dump PPM pictures on failure, and the check for outside tools.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gfx/kernels/rows.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/testing.h"
#include "platform/linux/window.h"
#include "tests/gfx/support/coordinate_picture.h"
#include "tests/gfx/support/outputs.h"
#include "tests/support/tool_check.h"

namespace qv::test {

namespace hooks = qv::platform::testing;

class StrictBitMapListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        hooks::SetExtraRowPadding(3);
        hooks::SetPoisonFill(true);
        hooks::ResetLockBalance();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        if (hooks::LockBalance() != 0) {
            ADD_FAILURE() << "bitmap locks left held: " << hooks::LockBalance();
        }
        hooks::SetExtraRowPadding(0);
        hooks::SetPoisonFill(false);
        hooks::InjectLockFault(0);
        hooks::GrantCompositing(0, false);
    }
};

inline bool RegisterStrictBitMapListener() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new StrictBitMapListener);
    return true;
}

inline const bool kStrictBitMapListener = RegisterStrictBitMapListener();

struct BitMapDeleter {
    void operator()(qvDisplayBitMap* bitmap) const { FreeDisplayBitMap(bitmap); }
    void operator()(qvPlaneBitMap* plane) const { FreePlaneBitMap(plane); }
};
using BitMapPtr = std::unique_ptr<qvDisplayBitMap, BitMapDeleter>;
using PlanePtr = std::unique_ptr<qvPlaneBitMap, BitMapDeleter>;

// A coordinate picture of the format.
inline BitMapPtr CoordinateBitMap(int32_t width, int32_t height,
                                  uint32_t format = qv::ScreenFormat()) {
    BitMapPtr picture(qv::AllocBitMapInFormat(width, height, format, false));
    PaintCoordinates(picture.get());
    return picture;
}

// A coordinate picture in the screen format with the planes asked for.
struct CoordinatePicture {
    CoordinatePicture(int32_t width, int32_t height, bool withMask, bool withAlpha)
        : bitmap(AllocDisplayBitMap(width, height)),
          mask(withMask ? AllocMaskBitMap(bitmap.get(), width, height, 1) : nullptr),
          alpha(withAlpha ? AllocAlphaBitMap(width, height, 1) : nullptr) {
        PaintCoordinates(bitmap.get(), mask.get(), alpha.get());
    }
    BitMapPtr bitmap;
    PlanePtr mask, alpha;
};

// Compares two bitmaps pixel by pixel (as 0xRRGGBB); on a difference both are written as
// PPM pictures into the test output directory and the first difference is reported.
inline ::testing::AssertionResult SameBitMap(const qvDisplayBitMap* actual,
                                             const qvDisplayBitMap* expected) {
    if (actual->width != expected->width || actual->height != expected->height) {
        return ::testing::AssertionFailure() << "sizes differ";
    }
    for (int32_t y = 0; y < actual->height; ++y) {
        for (int32_t x = 0; x < actual->width; ++x) {
            uint32_t a = ReadBitMapPixel(actual, x, y), e = ReadBitMapPixel(expected, x, y);
            if (a == e) continue;
            const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
            std::string base = ::testing::TempDir() + info->test_suite_name() + "." + info->name();
            hooks::WriteBitMapPPM(actual, base + ".actual.ppm");
            hooks::WriteBitMapPPM(expected, base + ".expected.ppm");
            return ::testing::AssertionFailure()
                   << "pixel (" << x << ", " << y << ") is 0x" << std::hex << a << ", expected 0x"
                   << e << "; pictures in " << base << ".*.ppm";
        }
    }
    return ::testing::AssertionSuccess();
}

// A colour 0xRRGGBB as a pixel of the format reads back (narrow channels lose low bits).
inline uint32_t AsStored(uint32_t format, uint32_t rgb) {
    uint8_t pixel[4] = {}, channels[3] = {uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
    WritePixelRGB(pixel, format, channels);
    ReadPixelRGB(pixel, format, channels);
    return uint32_t(channels[0]) << 16 | uint32_t(channels[1]) << 8 | channels[2];
}

// A pixel's stored value, and storing one, without conversion.
inline uint32_t Raw(const qvDisplayBitMap* b, int32_t x, int32_t y) {
    return qv::LoadPixel(qv::PixelAt(b->pixels, b->rowLength, b->bytesPerPixel, x, y),
                         b->bytesPerPixel);
}
inline void SetRaw(qvDisplayBitMap* b, int32_t x, int32_t y, uint32_t v) {
    qv::StorePixel(qv::PixelAt(b->pixels, b->rowLength, b->bytesPerPixel, x, y), b->bytesPerPixel,
                   v);
}

// Whether this is the run in the default screen format: sweeps that do not depend on the
// format run in that one only.
inline bool DefaultScreenFormat() {
    const char* format = std::getenv("QV_SCREEN_FORMAT");
    return format == nullptr || std::string(format) == "10";
}

// What a colour reads back as from the screen format.
inline uint32_t AsStored(uint32_t rgb) {
    return AsStored(qv::ScreenFormat(), rgb);
}

// A bitmap of the screen format filled with one colour.
inline BitMapPtr Filled(int32_t width, int32_t height, uint32_t rgb) {
    BitMapPtr bitmap(AllocDisplayBitMap(width, height));
    RectFill(bitmap.get(), 0, 0, width, height, rgb);
    return bitmap;
}

// A bitmap of random colours (the screen format by default).
inline BitMapPtr RandomBitMap(int32_t width, int32_t height, uint32_t seed,
                              uint32_t format = qv::ScreenFormat()) {
    BitMapPtr bitmap(qv::AllocBitMapInFormat(width, height, format, false));
    std::mt19937 random(seed);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) PlotPixel(bitmap.get(), x, y, random() & 0xFFFFFF);
    }
    return bitmap;
}

// A bitmap of random stored values (alpha bytes and unused bits random too).
inline BitMapPtr RandomRawBitMap(int32_t width, int32_t height, uint32_t seed, uint32_t format) {
    BitMapPtr bitmap(qv::AllocBitMapInFormat(width, height, format, false));
    std::mt19937 random(seed);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) SetRaw(bitmap.get(), x, y, uint32_t(random()));
    }
    return bitmap;
}

// Every pixel of a bitmap as 0xRRGGBB, row by row.
inline std::vector<uint32_t> Snapshot(const qvDisplayBitMap* bitmap) {
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < bitmap->height; ++y) {
        for (int32_t x = 0; x < bitmap->width; ++x) pixels.push_back(ReadBitMapPixel(bitmap, x, y));
    }
    return pixels;
}

inline constexpr uint8_t kCanary = 0xC3;
inline constexpr size_t kGuard = 64;

// A pixel buffer with a padded stride and canary bytes before and after it.
struct Canvas {
    Canvas(int bytes, int32_t width, int32_t height)
        : bytes(bytes),
          rowLength(width + 5),
          height(height),
          data(kGuard * 2 + size_t(rowLength) * bytes * height, kCanary) {}

    uint8_t* base() { return data.data() + kGuard; }
    uint8_t* at(int32_t x, int32_t y) { return base() + (size_t(y) * rowLength + x) * bytes; }
    uint32_t pixel(int32_t x, int32_t y) { return qv::LoadPixel(at(x, y), bytes); }

    void Randomise(uint32_t seed) {
        std::mt19937 random(seed);
        for (size_t i = kGuard; i < data.size() - kGuard; ++i) data[i] = uint8_t(random());
    }
    bool CanariesIntact() const {
        for (size_t i = 0; i < kGuard; ++i) {
            if (data[i] != kCanary || data[data.size() - 1 - i] != kCanary) return false;
        }
        return true;
    }

    int bytes;
    int32_t rowLength, height;
    std::vector<uint8_t> data;
};

// The kernel of the depth (bytes per pixel) among the three of a family.
template <typename Kernel>
Kernel ByDepth(int bytes, Kernel k16, Kernel k24, Kernel k32) {
    return bytes == 2 ? k16 : bytes == 3 ? k24 : k32;
}

}  // namespace qv::test
