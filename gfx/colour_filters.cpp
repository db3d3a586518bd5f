#include "gfx/colour_filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <type_traits>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/kernels/rows.h"
#include "gfx/quantiser.h"
#include "platform/linux/memory.h"

namespace qv::gfx {
namespace {

template <typename... Args>
struct Kernels {
    void (*pixels16)(const qvFilterBlock&, Args...);
    void (*pixels24)(const qvFilterBlock&, Args...);
    void (*pixels32)(const qvFilterBlock&, Args...);
};

constexpr Kernels<> kInvert{InvertPixels16, InvertPixels24, InvertPixels32};
constexpr Kernels<int32_t> kGray{GrayPixels16, GrayPixels24, GrayPixels32};
constexpr Kernels<uint32_t, int32_t> kTint{TintPixels16, TintPixels24, TintPixels32};
constexpr Kernels<int32_t> kSolarize{SolarizePixels16, SolarizePixels24, SolarizePixels32};
constexpr Kernels<const qvGammaTables&> kGamma{GammaPixels16, GammaPixels24, GammaPixels32};
constexpr Kernels<int32_t> kContrast{ContrastPixels16, ContrastPixels24, ContrastPixels32};
constexpr Kernels<int32_t> kSepia{SepiaPixels16, SepiaPixels24, SepiaPixels32};
constexpr Kernels<const uint8_t*, int32_t> kMonochrome{MonochromePixels16, MonochromePixels24,
                                                       MonochromePixels32};
constexpr Kernels<const qvModulation&> kModulate{ModulatePixels16, ModulatePixels24,
                                                 ModulatePixels32};

template <typename... Args>
void Run(const qvBitMapLock& lock, const qvFilterBlock& block, const Kernels<Args...>& k,
         std::type_identity_t<Args>... args) {
    switch (lock.bytesPerPixel) {
        case 2:
            k.pixels16(block, args...);
            break;
        case 3:
            k.pixels24(block, args...);
            break;
        case 4:
            k.pixels32(block, args...);
            break;
        default:
            break;
    }
}

// The rectangle cut to the lock; false when nothing is left.
bool RectOf(const qvBitMapLock& lock, int32_t x, int32_t y, int32_t width, int32_t height,
            qvFilterBlock* block) {
    BlitRect r{x, y, x, y, width, height};
    if (!ClipRect(r, lock.width, lock.height)) return false;
    *block = {PixelAt(lock.base, lock.rowLength, lock.bytesPerPixel, int32_t(r.dx), int32_t(r.dy)),
              int32_t(r.width), int32_t(r.height), lock.rowLength, lock.format};
    return true;
}

// fn(lock) on the caller's lock, or on a lock of the bitmap held for the call.
template <typename Fn>
int WithLock(qvDisplayBitMap* bitmap, const qvBitMapLock* callerLock, Fn&& fn) {
    if (callerLock != nullptr) return fn(*callerLock);
    ScopedBitMapLock lock(bitmap);
    return lock ? fn(*lock) : ERR_LOCKBMAP;
}

// The width x height rectangle at 0, 0 through one kernel.
template <typename... Args>
int Filter(qvDisplayBitMap* bitmap, const qvBitMapLock* callerLock, int32_t width, int32_t height,
           const Kernels<Args...>& k, std::type_identity_t<Args>... args) {
    return WithLock(bitmap, callerLock, [&](const qvBitMapLock& lock) {
        qvFilterBlock block;
        if (RectOf(lock, 0, 0, width, height, &block)) Run(lock, block, k, args...);
        return 0;
    });
}

// Non-finite and negative arguments count as 0.
double Sanitised(double v) {
    return std::isfinite(v) && v > 0 ? v : 0;
}

int32_t Percent(double factor) {
    return int32_t(std::min(factor * 100, 2147483647.0));
}

// v -> clamp(integer part of 255 x (v / 255) ^ (1 / gamma) + 0.5); all 0 for gamma 0.
void GammaTable(double gamma, uint8_t (&table)[256]) {
    for (int32_t v = 0; v < 256; ++v) {
        const double mapped = gamma == 0 ? 0 : 255 * std::pow(v / 255.0, 1 / gamma) + 0.5;
        table[v] = uint8_t(std::clamp(mapped, 0.0, 255.0));
    }
}

struct BlockDeleter {
    void operator()(void* block) const { FreeMemBlock(block); }
};

void Normalize(const qvBitMapLock& lock, const qvFilterBlock& block, int64_t black, int64_t white) {
    NormalizePixels({block.base, block.width, block.height, block.rowLength, black, white,
                     block.format, lock.bytesPerPixel});
}

// The default points: 2 % of the pixels darker, 1 % brighter.
void NormalizeDefault(const qvBitMapLock& lock, const qvFilterBlock& block) {
    const double pixels = double(block.width) * block.height;
    Normalize(lock, block, int64_t(0.02 * pixels), int64_t(0.99 * pixels));
}

// The index shown black: the darker of two entries (the first when equal); a single entry
// is black unless the grey threshold makes it white.
int32_t BlackIndex(const uint32_t* palette, int32_t count) {
    if (count < 2) return IntensityOf(palette[0]) >= 129 ? -1 : 0;
    return IntensityOf(palette[1]) < IntensityOf(palette[0]) ? 1 : 0;
}

int DitheredMonochrome(qvDisplayBitMap* bitmap, int32_t width, int32_t height) {
    if (bitmap == nullptr) return ERR_LOCKBMAP;
    width = std::clamp(width, 0, bitmap->width);
    height = std::clamp(height, 0, bitmap->height);
    std::unique_ptr<uint8_t, BlockDeleter> indices(
        static_cast<uint8_t*>(AllocMemBlock(size_t(width) * size_t(height) + 1, 0)));
    if (!indices) return ERR_MEM;
    ScopedBitMapLock lock(bitmap);
    if (!lock) return ERR_LOCKBMAP;
    qvFilterBlock block;
    if (!RectOf(*lock, 0, 0, width, height, &block)) return 0;
    uint32_t palette[256];
    const int32_t count = QuantizeColors(*lock, width, height, indices.get(), palette, 2, 1);
    if (count == 0) return ERR_MEM;
    Run(*lock, block, kMonochrome, indices.get(), BlackIndex(palette, count));
    return 0;
}

// The mix without an alpha plane: a source in another format than the destination is
// converted first.
int MixLocked(qvDisplayBitMap* dest, qvDisplayBitMap* source, const qvPlaneBitMap* mask, BlitRect r,
              int32_t ratio) {
    ScopedBitMapLock sourceLock(source);
    if (!sourceLock) return ERR_LOCKBMAP;
    ScopedBitMapLock destLock(dest);
    if (!destLock) return ERR_LOCKBMAP;
    int64_t sourceWidth = sourceLock->width, sourceHeight = sourceLock->height;
    if (mask != nullptr) {
        sourceWidth = std::min(sourceWidth, PlaneExtentX(mask));
        sourceHeight = std::min<int64_t>(sourceHeight, mask->height);
    }
    if (!ClipBlit(r, sourceWidth, sourceHeight, destLock->width, destLock->height)) return 0;
    std::unique_ptr<qvDisplayBitMap, decltype(&FreeDisplayBitMap)> converted(nullptr,
                                                                             FreeDisplayBitMap);
    const void* sourceBase = PixelAt(sourceLock->base, sourceLock->rowLength,
                                     sourceLock->bytesPerPixel, int32_t(r.sx), int32_t(r.sy));
    int32_t sourceRowLength = sourceLock->rowLength;
    if (sourceLock->format != destLock->format) {
        converted.reset(
            AllocBitMapInFormat(int32_t(r.width), int32_t(r.height), destLock->format, false));
        if (!converted) return ERR_MEM;
        BltBitMap(source, int32_t(r.sx), int32_t(r.sy), converted.get(), 0, 0, int32_t(r.width),
                  int32_t(r.height));
        sourceBase = converted->pixels, sourceRowLength = converted->rowLength;
    }
    const qvMixBlock block{
        sourceBase,
        sourceRowLength,
        PixelAt(destLock->base, destLock->rowLength, destLock->bytesPerPixel, int32_t(r.dx),
                int32_t(r.dy)),
        destLock->rowLength,
        mask != nullptr ? PlaneRow(mask->plane, mask->bytesPerRow, int32_t(r.sy)) : nullptr,
        int32_t(r.sx),
        mask != nullptr ? mask->bytesPerRow : 0,
        int32_t(r.width),
        int32_t(r.height),
        ratio,
        destLock->format};
    switch (destLock->bytesPerPixel) {
        case 2:
            MixPixels16(block);
            break;
        case 3:
            MixPixels24(block);
            break;
        default:
            MixPixels32(block);
            break;
    }
    return 0;
}

}  // namespace
}  // namespace qv::gfx

using namespace qv::gfx;

int InvertBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, const qvBitMapLock* lock) {
    return Filter(bitmap, lock, width, height, kInvert);
}

int GrayBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t threshold,
               const qvBitMapLock* lock) {
    return Filter(bitmap, lock, width, height, kGray, threshold);
}

int TintBitmap(qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
               uint32_t colour, int32_t level) {
    level = std::clamp(level, 0, 256);
    return WithLock(bitmap, nullptr, [&](const qvBitMapLock& lock) {
        qvFilterBlock block;
        if (!RectOf(lock, x, y, width, height, &block)) return 0;
        const uint32_t target =
            lock.bytesPerPixel == 2 ? RGBToPixelFormat(colour, QV_FMT_R5G6B5) : colour & 0xFFFFFF;
        Run(lock, block, kTint, target, level);
        return 0;
    });
}

int MixBitmaps(qvDisplayBitMap* dest, qvDisplayBitMap* source, const qvPlaneBitMap* sourceMask,
               int32_t dx, int32_t dy, int32_t sx, int32_t sy, int32_t width, int32_t height,
               int32_t ratio, const qvPlaneBitMap* sourceAlpha, int32_t alphaWidth,
               int32_t alphaHeight) {
    ratio = std::clamp(ratio, 0, 255);
    if (!qv::PlaneUsable(sourceAlpha)) {
        const qv::BlitRect r{sx, sy, dx, dy, width, height};
        return MixLocked(dest, source, qv::PlaneUsable(sourceMask) ? sourceMask : nullptr, r,
                         ratio);
    }
    qvPlaneBitMap* scaled = AllocAlphaBitMap(alphaWidth, alphaHeight, 1);
    if (scaled == nullptr) return ERR_MEM;
    CopyPlane8(sourceAlpha, scaled, alphaHeight, uint8_t(ratio));
    BltAlphaBitmap(source, sx, sy, dest, dx, dy, width, height, scaled);
    FreePlaneBitMap2(scaled);
    return 0;
}

int SolarizeBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t level) {
    return Filter(bitmap, nullptr, width, height, kSolarize, std::clamp(level, 0, 255));
}

int GammaBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, double red, double green,
                double blue) {
    const double gamma[3] = {Sanitised(red), Sanitised(green), Sanitised(blue)};
    uint8_t tables[3][256];
    qvGammaTables used{};
    for (int c = 0; c < 3; ++c) {
        if (gamma[c] == 1) continue;
        GammaTable(gamma[c], tables[c]);
        used.channel[c] = tables[c];
    }
    if (used.channel[0] == nullptr && used.channel[1] == nullptr && used.channel[2] == nullptr) {
        return 0;
    }
    return Filter(bitmap, nullptr, width, height, kGamma, used);
}

int ContrastBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t increase,
                   int32_t count, const qvBitMapLock* lock) {
    if (count < 1) return 0;
    // A script's count of 2^31 passes would keep the program busy for hours; no picture is
    // asked for that many.
    count = std::min(count, kMaxContrastPasses);
    return WithLock(bitmap, lock, [&](const qvBitMapLock& held) {
        qvFilterBlock block;
        if (!RectOf(held, 0, 0, width, height, &block)) return 0;
        for (int32_t pass = 0; pass < count; ++pass) {
            Run(held, block, kContrast, increase != 0 ? 1 : -1);
        }
        return 0;
    });
}

int SepiaBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t threshold) {
    return WithLock(bitmap, nullptr, [&](const qvBitMapLock& lock) {
        qvFilterBlock block;
        if (!RectOf(lock, 0, 0, width, height, &block)) return 0;
        Run(lock, block, kSepia, std::clamp(threshold, 0, 255));
        NormalizeDefault(lock, block);
        Run(lock, block, kContrast, 1);
        return 0;
    });
}

int MonochromeBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t dither) {
    if (dither != 0) return DitheredMonochrome(bitmap, width, height);
    return Filter(bitmap, nullptr, width, height, kGray, 1);
}

int ModulateBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, double brightness,
                   double saturation, double hue) {
    brightness = Sanitised(brightness), saturation = Sanitised(saturation), hue = Sanitised(hue);
    if (brightness == 1 && saturation == 1 && hue == 1) return 0;
    const qvModulation modulation{Percent(brightness), Percent(saturation), Percent(hue)};
    return Filter(bitmap, nullptr, width, height, kModulate, modulation);
}

int NormalizeBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height,
                    const qvBitMapLock* lock) {
    return WithLock(bitmap, lock, [&](const qvBitMapLock& held) {
        qvFilterBlock block;
        if (RectOf(held, 0, 0, width, height, &block)) NormalizeDefault(held, block);
        return 0;
    });
}

int NormalizeBitmapEx(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int64_t blackCount,
                      int64_t whiteCount, const qvBitMapLock* lock) {
    return WithLock(bitmap, lock, [&](const qvBitMapLock& held) {
        qvFilterBlock block;
        if (RectOf(held, 0, 0, width, height, &block)) {
            Normalize(held, block, blackCount, whiteCount);
        }
        return 0;
    });
}

void InvertPlaneBytes(qvPlaneBitMap* plane, int32_t rows, int32_t bytesPerRow) {
    if (!qv::PlaneUsable(plane)) return;
    rows = std::clamp(rows, 0, plane->height);
    bytesPerRow = std::clamp(bytesPerRow, 0, plane->bytesPerRow);
    for (int32_t y = 0; y < rows; ++y) {
        uint8_t* row = plane->plane + ptrdiff_t(y) * plane->bytesPerRow;
        for (int32_t i = 0; i < bytesPerRow; ++i) row[i] = uint8_t(~row[i]);
    }
}
