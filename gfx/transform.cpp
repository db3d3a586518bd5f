#include "gfx/transform.h"

#include <algorithm>
#include <cmath>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/geometry.h"
#include "gfx/kernels/rows.h"
#include "gfx/scale.h"
#include "platform/linux/blocks.h"
#include "platform/linux/window.h"

namespace qv::gfx {
namespace {

struct Bounds {
    int32_t width, height;
    double offsetX, offsetY;
};

// The compositor renders a screen-friend source into a new screen-friend bitmap whose
// pixels carry the alpha. False when it cannot.
bool HardwareTransform(qvDisplayBitMap* source, int32_t width, int32_t height,
                       const double matrix[4], int smooth, const Bounds& b, NewPicture& out) {
    if (source == nullptr || QueryBitMapAttr(source, 25) == 0 ||
        CompositingSupported(kCompositeTransform) == 0) {
        return false;
    }
    OwnedBitMap result(AllocDisplayBitMapAlt(b.width, b.height));
    if (!result || !ClearForCompositing(result.get()) ||
        CompositeTransformBlit(source, result.get(), width, height, matrix, smooth) == 0) {
        return false;
    }
    out.bitmap = std::move(result);
    return true;
}

// The result: colour in the source's format, and an alpha plane for a source with one, else
// a mask, since the corners of a rotated picture are transparent. Both start cleared.
int AllocateResult(const qvDisplayBitMap* source, const qvPlaneBitMap* alpha, const Bounds& b,
                   NewPicture& out) {
    if (source != nullptr) {
        out.bitmap.reset(AllocBitMapInFormat(b.width, b.height, source->format, false));
        if (!out.bitmap) return ERR_MEM;
    }
    if (alpha != nullptr) {
        out.alpha.reset(AllocAlphaBitMap(b.width, b.height, 1));
    } else {
        out.mask.reset(AllocMaskBitMap(out.bitmap.get(), b.width, b.height, 1));
    }
    return out.alpha || out.mask ? 0 : ERR_MEM;
}

int RunTransform(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                 int32_t x, int32_t y, int32_t width, int32_t height, const double matrix[4],
                 int smooth, const Bounds& b, NewPicture& out) {
    const double sixDoubles[6] = {matrix[0], matrix[1],  matrix[2],
                                  matrix[3], -b.offsetX, -b.offsetY};
    qvTransformBlock k{};
    k.sourceX = x, k.sourceY = y;
    k.sourceWidth = width, k.sourceHeight = height;
    k.destWidth = b.width, k.destHeight = b.height;
    k.matrix = sixDoubles;
    k.smooth = smooth != 0 ? 1 : 0;
    if (mask != nullptr) {
        k.sourceMask = PlaneRow(mask->plane, mask->bytesPerRow, y);
        k.sourceMaskBytesPerRow = mask->bytesPerRow;
    }
    if (out.mask) k.destMask = out.mask->plane, k.destMaskBytesPerRow = out.mask->bytesPerRow;
    if (alpha != nullptr) {
        k.sourceAlpha = PlaneRow(alpha->plane, alpha->bytesPerRow, y) + x;
        k.sourceAlphaBytesPerRow = alpha->bytesPerRow;
        k.destAlpha = out.alpha->plane, k.destAlphaBytesPerRow = out.alpha->bytesPerRow;
    }
    // A colour source has its colour result (AllocateResult).
    return RunPictureKernel(TransformPixels, k, source, out.bitmap.get(), x, y);
}

}  // namespace
}  // namespace qv::gfx

void TransformBounds(const double matrix[4], int32_t width, int32_t height, int32_t* newWidth,
                     int32_t* newHeight, double* offsetX, double* offsetY) {
    const double w = width, h = height;
    const double xs[4] = {0, matrix[0] * w, matrix[2] * h, matrix[0] * w + matrix[2] * h};
    const double ys[4] = {0, matrix[1] * w, matrix[3] * h, matrix[1] * w + matrix[3] * h};
    const auto [minX, maxX] = std::minmax({xs[0], xs[1], xs[2], xs[3]});
    const auto [minY, maxY] = std::minmax({ys[0], ys[1], ys[2], ys[3]});
    using qv::gfx::TruncSaturate;
    if (newWidth != nullptr) *newWidth = TruncSaturate(std::ceil(maxX - minX - 0.5));
    if (newHeight != nullptr) *newHeight = TruncSaturate(std::ceil(maxY - minY - 0.5));
    if (offsetX != nullptr) *offsetX = minX;
    if (offsetY != nullptr) *offsetY = minY;
}

int TransformBitmap(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                    int32_t x, int32_t y, int32_t width, int32_t height, const double matrix[4],
                    int smooth, qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask,
                    qvPlaneBitMap** outAlpha, int32_t* outWidth, int32_t* outHeight) {
    using namespace qv::gfx;
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (!RectInPicture(source, mask, alpha, x, y, width, height)) return ERR_COORDSRANGE;
    Bounds b{};
    TransformBounds(matrix, width, height, &b.width, &b.height, &b.offsetX, &b.offsetY);
    // Sizes beyond any bitmap fail to allocate below (ERR_MEM).
    b.width = std::max(b.width, 1), b.height = std::max(b.height, 1);
    NewPicture result;
    int error = 0;
    if (!HardwareTransform(source, width, height, matrix, smooth, b, result)) {
        error = AllocateResult(source, alpha, b, result);
        if (error == 0) {
            error =
                RunTransform(source, mask, alpha, x, y, width, height, matrix, smooth, b, result);
        }
    }
    if (error != 0) return error;
    result.HandOut(outBitmap, outMask, outAlpha);
    if (outWidth != nullptr) *outWidth = b.width;
    if (outHeight != nullptr) *outHeight = b.height;
    return 0;
}

namespace {

// Whether the rectangle is the whole of each part, the bitmap in the screen's format.
bool WholePicture(const qvDisplayBitMap* source, const qvPlaneBitMap* mask,
                  const qvPlaneBitMap* alpha, int32_t x, int32_t y, int32_t width, int32_t height) {
    auto whole = [&](const auto* part) {
        return part == nullptr || (part->width == width && part->height == height);
    };
    return x == 0 && y == 0 && whole(source) && whole(mask) && whole(alpha) &&
           (source == nullptr || source->format == qv::ScreenFormat());
}

// A whole picture copied buffer by buffer: nothing to clear, convert or cut.
int DuplicatePicture(const qvDisplayBitMap* source, const qvPlaneBitMap* mask,
                     const qvPlaneBitMap* alpha, int displayable, qvDisplayBitMap** outBitmap,
                     qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha) {
    qv::gfx::NewPicture copy;
    if (source != nullptr) copy.bitmap.reset(qv::DuplicateBitMap(source, displayable != 0));
    if (mask != nullptr) copy.mask.reset(qv::DuplicatePlane(mask));
    if (alpha != nullptr) copy.alpha.reset(qv::DuplicatePlane(alpha));
    if ((source != nullptr && !copy.bitmap) || (mask != nullptr && !copy.mask) ||
        (alpha != nullptr && !copy.alpha)) {
        return ERR_MEM;
    }
    copy.HandOut(outBitmap, outMask, outAlpha);
    return 0;
}

}  // namespace

int CopyBitmapArea(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                   int32_t x, int32_t y, int32_t width, int32_t height, int displayable,
                   qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha) {
    if (!qv::gfx::RectInPicture(source, mask, alpha, x, y, width, height)) return ERR_COORDSRANGE;
    if (WholePicture(source, mask, alpha, x, y, width, height)) {
        return DuplicatePicture(source, mask, alpha, displayable, outBitmap, outMask, outAlpha);
    }
    qv::gfx::NewPicture copy;
    if (source != nullptr) {
        // Every pixel is copied below: no need to clear them first.
        const uint32_t format = qv::ScreenFormat();
        if (displayable != 0) {
            copy.bitmap.reset(qv::AllocBitMapInFormat(width, height, format, true, true));
        }
        if (!copy.bitmap) {
            copy.bitmap.reset(qv::AllocBitMapInFormat(width, height, format, false, true));
        }
        if (!copy.bitmap) return ERR_MEM;
    }
    if (mask != nullptr) {
        copy.mask.reset(AllocMaskBitMap(copy.bitmap.get(), width, height, 0));
        if (!copy.mask) return ERR_MEM;
        CombineMaskRect(mask, x, y, copy.mask.get(), 0, 0, width, height, 2);
    }
    if (alpha != nullptr) {
        copy.alpha.reset(AllocAlphaBitMap(width, height, 0));
        if (!copy.alpha) return ERR_MEM;
        CopyPlane8Rect(alpha, x, y, copy.alpha.get(), 0, 0, width, height, 0, 0);
    }
    if (source != nullptr) BltBitMap(source, x, y, copy.bitmap.get(), 0, 0, width, height);
    copy.HandOut(outBitmap, outMask, outAlpha);
    return 0;
}

int FlipBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width,
               int32_t height, int32_t direction) {
    if (!qv::gfx::RectInPicture(bitmap, mask, alpha, 0, 0, width, height)) return ERR_COORDSRANGE;
    qvFlipBlock k{};
    k.width = width, k.height = height, k.direction = direction;
    if (mask != nullptr) k.mask = mask->plane, k.maskBytesPerRow = mask->bytesPerRow;
    if (alpha != nullptr) k.alpha = alpha->plane, k.alphaBytesPerRow = alpha->bytesPerRow;
    qv::BlockPtr<uint8_t> scratch;
    if (direction != QV_FLIP_VERTICAL && mask != nullptr) {
        scratch.reset(static_cast<uint8_t*>(AllocMemBlock(size_t(k.maskBytesPerRow), 0)));
        if (!scratch) return ERR_MEM;
        k.scratch = scratch.get();
    }
    qv::ScopedBitMapLock lock(bitmap);
    if (!lock) return ERR_LOCKBMAP;
    k.base = lock->base, k.rowLength = lock->rowLength, k.bytesPerPixel = lock->bytesPerPixel;
    FlipPixels(k);
    return 0;
}
