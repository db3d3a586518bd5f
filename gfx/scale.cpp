#include "gfx/scale.h"

#include <cstring>

#include "engine/error_codes.h"
#include "gfx/graphics_state.h"
#include "gfx/kernels/rows.h"

namespace qv::gfx {
namespace {

struct ScaleSizes {
    int32_t sourceWidth, sourceHeight, destWidth, destHeight;
};

// The compositor scales a screen-friend source into a new screen-friend bitmap, which
// carries the picture's alpha in its pixels when the source does. False when it cannot.
bool HardwareScale(qvDisplayBitMap* source, const ScaleSizes& s, int smooth, NewPicture& out) {
    if (source == nullptr || QueryBitMapAttr(source, 25) == 0 ||
        CompositingSupported(kCompositeScale) == 0) {
        return false;
    }
    OwnedBitMap result(AllocDisplayBitMapAlt(s.destWidth, s.destHeight));
    if (!result) return false;
    if (QueryBitMapAttr(source, 26) != 0 && !ClearForCompositing(result.get())) return false;
    if (CompositeScaleBlit(source, result.get(), s.sourceWidth, s.sourceHeight, s.destWidth,
                           s.destHeight, 1, smooth) == 0) {
        return false;
    }
    out.bitmap = std::move(result);
    return true;
}

// The kernel over the locked source and destination; the planes need no lock.
int RunScale(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
             int32_t x, int32_t y, const ScaleSizes& s, int smooth, qvDisplayBitMap* dest,
             qvPlaneBitMap* destMask, qvPlaneBitMap* destAlpha) {
    const ScaleMaps& maps = Graphics().scaleMaps;
    qvScaleBlock k{};
    k.sourceX = x, k.sourceY = y;
    k.sourceWidth = s.sourceWidth, k.sourceHeight = s.sourceHeight;
    k.destWidth = s.destWidth, k.destHeight = s.destHeight;
    k.smooth = smooth != 0 ? 1 : 0;
    k.xSteps = maps.Steps(ScaleMaps::kX), k.xFractions = maps.Fractions(ScaleMaps::kX);
    k.ySteps = maps.Steps(ScaleMaps::kY), k.yFractions = maps.Fractions(ScaleMaps::kY);
    k.rows = maps.Rows();
    if (mask != nullptr && destMask != nullptr) {
        k.sourceMask = PlaneRow(mask->plane, mask->bytesPerRow, y);
        k.destMask = destMask->plane;
        k.sourceMaskBytesPerRow = mask->bytesPerRow;
        k.destMaskBytesPerRow = destMask->bytesPerRow;
    }
    if (alpha != nullptr && destAlpha != nullptr) {
        k.sourceAlpha = PlaneRow(alpha->plane, alpha->bytesPerRow, y) + x;
        k.destAlpha = destAlpha->plane;
        k.sourceAlphaBytesPerRow = alpha->bytesPerRow;
        k.destAlphaBytesPerRow = destAlpha->bytesPerRow;
    }
    return RunPictureKernel(ScalePixels, k, source, dest, x, y);
}

// New bitmaps for the planes the source has, the colour one in the source's format (the
// screen's, for every display bitmap).
int AllocateResult(const qvDisplayBitMap* source, const qvPlaneBitMap* mask,
                   const qvPlaneBitMap* alpha, const ScaleSizes& s, NewPicture& out) {
    if (source != nullptr) {
        out.bitmap.reset(AllocBitMapInFormat(s.destWidth, s.destHeight, source->format, false));
        if (!out.bitmap) return ERR_MEM;
    }
    if (mask != nullptr) {
        out.mask.reset(AllocMaskBitMap(out.bitmap.get(), s.destWidth, s.destHeight, 0));
        if (!out.mask) return ERR_MEM;
    }
    if (alpha != nullptr) {
        out.alpha.reset(AllocAlphaBitMap(s.destWidth, s.destHeight, 0));
        if (!out.alpha) return ERR_MEM;
    }
    return 0;
}

}  // namespace

void NewPicture::HandOut(qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask,
                         qvPlaneBitMap** outAlpha) {
    if (outBitmap != nullptr) *outBitmap = bitmap.release();
    if (outMask != nullptr) *outMask = mask.release();
    if (outAlpha != nullptr) *outAlpha = alpha.release();
    bitmap.reset(), mask.reset(), alpha.reset();
}

bool ClearForCompositing(qvDisplayBitMap* bitmap) {
    {
        ScopedBitMapLock lock(bitmap);
        if (!lock) return false;
        if (lock->bytesPerPixel == 4) {
            std::memset(lock->base, 0, size_t(lock->rowLength) * size_t(lock->height) * 4);
        }
    }
    SetRuntimeOption(bitmap, 26, 1);
    return true;
}

bool RectInPicture(const qvDisplayBitMap* bitmap, const qvPlaneBitMap* mask,
                   const qvPlaneBitMap* alpha, int32_t x, int32_t y, int32_t width,
                   int32_t height) {
    auto holds = [&](int64_t w, int64_t h) {
        return x >= 0 && y >= 0 && width >= 0 && height >= 0 && int64_t(x) + width <= w &&
               int64_t(y) + height <= h;
    };
    auto planeHolds = [&](const qvPlaneBitMap* plane) {
        return plane == nullptr ||
               (PlaneUsable(plane) && holds(PlaneExtentX(plane), plane->height));
    };
    return (bitmap == nullptr || holds(bitmap->width, bitmap->height)) && planeHolds(mask) &&
           planeHolds(alpha);
}

}  // namespace qv::gfx

int ScaleBitmap(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                int32_t x, int32_t y, qvDisplayBitMap* dest, int32_t sourceWidth,
                int32_t sourceHeight, int32_t destWidth, int32_t destHeight, int smooth,
                qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha) {
    using namespace qv::gfx;
    // An empty destination is checked first, so that it produces nothing on either path.
    if (destWidth < 1 || destHeight < 1) return 0;
    if (sourceWidth < 1 || sourceHeight < 1) return ERR_BADDIMENSIONS;
    if (!RectInPicture(source, mask, alpha, x, y, sourceWidth, sourceHeight)) {
        return ERR_COORDSRANGE;
    }
    if (dest == nullptr && (destWidth > qv::kMaxBitMapSide || destHeight > qv::kMaxBitMapSide)) {
        return ERR_MEM;  // no picture that size can be made: nothing is reserved for it
    }
    const ScaleSizes sizes{sourceWidth, sourceHeight, destWidth, destHeight};
    NewPicture result;
    if (dest == nullptr && HardwareScale(source, sizes, smooth, result)) {
        result.HandOut(outBitmap, outMask, outAlpha);
        return 0;
    }
    if (dest != nullptr) {
        // A given destination receives the colour pixels only.
        if (source == nullptr) return 0;
        if (dest->format != source->format) return ERR_PIXELFORMAT;
        if (dest->width < destWidth || dest->height < destHeight) return ERR_COORDSRANGE;
    }
    ScaleMaps& maps = Graphics().scaleMaps;
    if (smooth != 0 &&
        (!maps.Reserve(ScaleMaps::kX, destWidth) || !maps.Reserve(ScaleMaps::kY, destHeight))) {
        return ERR_MEM;
    }
    if (dest != nullptr) {
        return RunScale(source, nullptr, nullptr, x, y, sizes, smooth, dest, nullptr, nullptr);
    }
    int error = AllocateResult(source, mask, alpha, sizes, result);
    if (error == 0) {
        error = RunScale(source, mask, alpha, x, y, sizes, smooth, result.bitmap.get(),
                         result.mask.get(), result.alpha.get());
    }
    if (error == 0) result.HandOut(outBitmap, outMask, outAlpha);
    return error;
}

void FreeScaleTables() {
    qv::gfx::Graphics().scaleMaps.Free();
}
