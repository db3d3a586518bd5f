#include "gfx/spatial_filters.h"

#include <algorithm>
#include <cmath>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/colour_filters.h"
#include "gfx/scale.h"
#include "gfx/transform.h"

namespace qv::gfx {
namespace {

uint8_t* PlaneOf(qvPlaneBitMap* plane) {
    return PlaneUsable(plane) ? plane->plane : nullptr;
}
int32_t BytesPerRowOf(const qvPlaneBitMap* plane) {
    return PlaneUsable(plane) ? plane->bytesPerRow : 0;
}

// The size cut to a bitmap's (or lock's) sides and to the planes given; false when nothing
// is left.
bool CutSize(int32_t sideX, int32_t sideY, std::initializer_list<const qvPlaneBitMap*> planes,
             int32_t& width, int32_t& height) {
    int64_t w = std::min(width, sideX), h = std::min(height, sideY);
    for (const qvPlaneBitMap* p : planes) {
        if (!PlaneUsable(p)) continue;
        w = std::min(w, PlaneExtentX(p));
        h = std::min<int64_t>(h, p->height);
    }
    width = int32_t(w), height = int32_t(h);
    return width > 0 && height > 0;
}

template <typename Block, typename Result>
Result ByDepth(int bytesPerPixel, Result (*k16)(const Block&), Result (*k24)(const Block&),
               Result (*k32)(const Block&), const Block& block) {
    switch (bytesPerPixel) {
        case 2:
            return k16(block);
        case 3:
            return k24(block);
        case 4:
            return k32(block);
        default:
            return Result();
    }
}

qvDisplaceBlock DisplaceTarget(const qvBitMapLock& lock, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
                               int32_t width, int32_t height) {
    qvDisplaceBlock b{};
    b.dest = lock.base, b.destRowLength = lock.rowLength;
    b.destMask = PlaneOf(mask), b.destMaskBytesPerRow = BytesPerRowOf(mask);
    b.destAlpha = PlaneOf(alpha), b.destAlphaBytesPerRow = BytesPerRowOf(alpha);
    b.width = width, b.height = height;
    b.format = lock.format;
    b.frame = -1;
    return b;
}

double Fraction(double f) {
    return f > 0 ? std::min(f, 1.0) : 0;  // NaN gives 0
}

// Non-negative, with NaN as 0.
double Radius(double radius) {
    return radius > 0 ? radius : 0;
}

}  // namespace
}  // namespace qv::gfx

using namespace qv;
using namespace qv::gfx;

int PixelateBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
                   int32_t width, int32_t height, int32_t size) {
    if (size < 2) return 0;
    if (bitmap == nullptr) return ERR_LOCKBMAP;
    if (!CutSize(bitmap->width, bitmap->height, {mask, alpha}, width, height)) return 0;
    NewPicture copy;
    qvDisplayBitMap* copyBitmap = nullptr;
    qvPlaneBitMap *copyMask = nullptr, *copyAlpha = nullptr;
    const int error = CopyBitmapArea(bitmap, PlaneUsable(mask) ? mask : nullptr,
                                     PlaneUsable(alpha) ? alpha : nullptr, 0, 0, width, height, 0,
                                     &copyBitmap, &copyMask, &copyAlpha);
    copy.bitmap.reset(copyBitmap), copy.mask.reset(copyMask), copy.alpha.reset(copyAlpha);
    if (error != 0) return error;
    ScopedBitMapLock lock(bitmap), copyLock(copy.bitmap.get());
    if (!lock || !copyLock) return ERR_LOCKBMAP;
    const qvPixelateBlock block{lock->base,
                                lock->rowLength,
                                PlaneOf(mask),
                                BytesPerRowOf(mask),
                                PlaneOf(alpha),
                                BytesPerRowOf(alpha),
                                copyLock->base,
                                copyLock->rowLength,
                                PlaneOf(copy.mask.get()),
                                BytesPerRowOf(copy.mask.get()),
                                PlaneOf(copy.alpha.get()),
                                BytesPerRowOf(copy.alpha.get()),
                                width,
                                height,
                                std::min({height, width, size}),
                                lock->format,
                                copyLock->format};
    ByDepth(lock->bytesPerPixel, PixelatePixels16, PixelatePixels24, PixelatePixels32, block);
    return 0;
}

int OilPaintBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, double radius) {
    ScopedBitMapLock lock(bitmap);
    if (!lock) return ERR_LOCKBMAP;
    if (!CutSize(lock->width, lock->height, {}, width, height)) return 0;
    // Beyond a window of 2^21 + 1 the edge copies' counts would outgrow 64 bits; far beyond
    // any picture, such windows all pick alike.
    constexpr int64_t kMaxHalf = int64_t(1) << 20;
    const auto half = int32_t(std::min(KernelWidth2D(Radius(radius), 0.5) / 2, kMaxHalf));
    ByDepth(lock->bytesPerPixel, OilPaintPixels16, OilPaintPixels24, OilPaintPixels32,
            qvOilPaintBlock{lock->base, lock->rowLength, width, height, half, lock->format});
    return 0;
}

int WaterRippleBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
                      int32_t width, int32_t height, double wavelength, double amplitude,
                      double phase, double centreX, double centreY) {
    if (bitmap == nullptr) return ERR_LOCKBMAP;
    if (!CutSize(bitmap->width, bitmap->height, {mask, alpha}, width, height)) return 0;
    qvWaterRippleBlock ripple{};
    ripple.centreX = int32_t(width * Fraction(centreX));
    ripple.centreY = int32_t(height * Fraction(centreY));
    auto distances = AllocArray<int32_t>(size_t(width) * size_t(height));
    auto sine = AllocArray<double>(kTrigTableSize);
    if (!distances || !sine) return ERR_MEM;
    InitWaterRippleTables(distances.get(), sine.get(), width, height, ripple.centreX,
                          ripple.centreY);
    ScopedBitMapLock lock(bitmap);
    if (!lock) return ERR_LOCKBMAP;
    ripple.pictures = DisplaceTarget(*lock, mask, alpha, width, height);
    ripple.distances = distances.get(), ripple.sine = sine.get();
    ripple.wavelength = wavelength, ripple.amplitude = amplitude, ripple.phase = phase;
    return ByDepth(lock->bytesPerPixel, WaterRipplePixels16, WaterRipplePixels24,
                   WaterRipplePixels32, ripple);
}

int SwirlBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width,
                int32_t height, double degrees) {
    if (bitmap == nullptr) return ERR_LOCKBMAP;
    if (!CutSize(bitmap->width, bitmap->height, {mask, alpha}, width, height)) return 0;
    auto tables = AllocArray<double>(2 * kTrigTableSize);
    if (!tables) return ERR_MEM;
    InitSwirlTables(tables.get(), tables.get() + kTrigTableSize);
    ScopedBitMapLock lock(bitmap);
    if (!lock) return ERR_LOCKBMAP;
    qvSwirlBlock swirl{DisplaceTarget(*lock, mask, alpha, width, height), tables.get(),
                       tables.get() + kTrigTableSize,
                       std::isfinite(degrees) ? std::clamp(degrees, -359.0, 359.0) : 0};
    return ByDepth(lock->bytesPerPixel, SwirlPixels16, SwirlPixels24, SwirlPixels32, swirl);
}

int ConvolveBitmap(int32_t type, qvDisplayBitMap* bitmap, qvPlaneBitMap* alpha, int32_t width,
                   int32_t height, const qvBitMapLock* lock, double radius, double sigma) {
    auto run = [&](const qvBitMapLock* l) {
        qvConvolveBlock block{type,  nullptr, 0,      0,    0, PlaneOf(alpha), BytesPerRowOf(alpha),
                              width, height,  radius, sigma};
        const int32_t sideX = l != nullptr ? l->width : INT32_MAX;
        const int32_t sideY = l != nullptr ? l->height : INT32_MAX;
        if (!CutSize(sideX, sideY, {alpha}, block.width, block.height)) return 0;
        if (l != nullptr) {
            block.base = l->base, block.rowLength = l->rowLength;
            block.format = l->format, block.bytesPerPixel = l->bytesPerPixel;
        }
        ConvolvePixels(block);
        return 0;
    };
    if (lock != nullptr) return run(lock);
    if (bitmap == nullptr) return PlaneUsable(alpha) ? run(nullptr) : 0;
    ScopedBitMapLock own(bitmap);
    return own ? run(&*own) : ERR_LOCKBMAP;
}

int CharcoalBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* alpha, int32_t width, int32_t height,
                   double radius, double sigma) {
    ScopedBitMapLock lock(bitmap);
    if (!lock) return ERR_LOCKBMAP;
    radius = Radius(radius);
    GrayBitmap(bitmap, width, height, 0, &*lock);
    ConvolveBitmap(QV_CONVOLVE_EDGE, bitmap, alpha, width, height, &*lock, radius, 0);
    ConvolveBitmap(QV_CONVOLVE_BLUR, bitmap, alpha, width, height, &*lock, radius, sigma);
    NormalizeBitmap(bitmap, width, height, &*lock);
    InvertBitmap(bitmap, width, height, &*lock);
    GrayBitmap(bitmap, width, height, 0, &*lock);
    return 0;
}

qvPlaneBitMap* MakeShadowPlane(const qvPlaneBitMap* alpha, const qvPlaneBitMap* mask, int32_t x,
                               int32_t y, int32_t width, int32_t height, uint8_t value,
                               int hardEdge, int secondBlur, double radius, double sigma) {
    // A negative radius would shrink the plane and place the picture outside it.
    const auto r = int64_t(std::min(Radius(radius), double(INT32_MAX)));
    const int64_t planeWidth = int64_t(width) + 2 * r, planeHeight = int64_t(height) + 2 * r;
    if (width < 0 || height < 0 || planeWidth > INT32_MAX || planeHeight > INT32_MAX) {
        return nullptr;
    }
    OwnedPlane plane(AllocAlphaBitMap(int32_t(planeWidth), int32_t(planeHeight), 1));
    if (!plane) return nullptr;
    const auto at = int32_t(r);
    if (PlaneUsable(alpha)) {
        CopyPlane8Rect(alpha, x, y, plane.get(), at, at, width, height, 6, value);
    } else if (PlaneUsable(mask)) {
        ExpandMaskToPlane8(mask, x, y, plane.get(), at, at, width, height, value);
    } else {
        FillPlane8Rect(plane.get(), at, at, width, height, value);
    }
    const auto w = int32_t(planeWidth), h = int32_t(planeHeight);
    ConvolveBitmap(QV_CONVOLVE_BLUR, nullptr, plane.get(), w, h, nullptr, radius, sigma);
    if (hardEdge != 0) {
        for (int32_t row = 0; row < h; ++row) {
            uint8_t* p = plane->plane + ptrdiff_t(row) * plane->bytesPerRow;
            for (int32_t i = 0; i < w; ++i) p[i] = p[i] != 0 ? 255 : 0;
        }
        if (secondBlur != 0 && PlaneUsable(alpha)) {
            ConvolveBitmap(QV_CONVOLVE_BLUR, nullptr, plane.get(), w, h, nullptr, radius / 2,
                           radius / 6);
        }
    }
    return plane.release();
}
