// Geometry: scaling, rotating and transforming, flipping, cropping, trimming and the four
// distortions. Every new set of planes is made whole before it replaces the brush's.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/distort.h"
#include "gfx/transform.h"
#include "objects/brush_library/commands.h"
#include "objects/display_engine.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/layers/transform_matrix.h"

namespace qv::brushes {
namespace {

// The planes of a bitmap brush under the matrix, pixel by pixel: every matrix, a pure scale
// or the identity included, takes the one transform road, whose output marks the pixels it
// covers.
int TransformBitmapPlanes(const qvBrush* b, const double matrix[4], int smooth,
                          qvTransformedPicture* out) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    const int code =
        TransformBitmap(b->bitmap, b->mask, b->alpha, 0, 0, b->width, b->height, matrix, smooth,
                        &bitmap, &mask, &alpha, &out->width, &out->height);
    out->planes.bitmap.reset(bitmap), out->planes.mask.reset(mask);
    out->planes.alpha.reset(alpha);
    return code;
}

// A vector brush is rendered again from its source under the matrix; others are transformed
// pixel by pixel.
int TransformPlanes(qvVmState* L, qvBrush* b, const double matrix[4], int smooth) {
    qvTransformedPicture done;
    if (b->type == kVectorBrush) {
        const qvTransformSource source{b->imageSource,
                                       {b->bitmap, b->mask, b->alpha, b->width, b->height},
                                       0,
                                       0,
                                       0,
                                       0,
                                       b->width,
                                       b->height};
        if (const int code = TransformBrushBitmaps(L, QV_TRANSFORM_VECTOR, source, 0, 0, matrix,
                                                   smooth, &done)) {
            return code;
        }
    } else if (const int code = TransformBitmapPlanes(b, matrix, smooth, &done)) {
        return code;
    }
    const bool hadMask = b->mask != nullptr;
    ReplacePlanes(b, &done.planes, done.width, done.height);
    if (b->type == kVectorBrush) b->transformedVector = 1;
    // A transformation gives a plain brush a mask of the pixels it covers.
    if (b->mask == nullptr) {
        b->transparentColour = kNoTransparency;
    } else if (!hadMask) {
        b->transparentColour = kMaskWithoutKey;
    }
    return 0;
}

// TransformBrushEx: the common lookup (vector and hardware brushes accepted), then the matrix.
int TransformBrushEx(qvVmState* L, const double matrix[4], int smooth) {
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b, QV_BRUSH_HARDWARE)) return code;
    return TransformPlanes(L, b, matrix, smooth);
}

// A side of ScaleBrush: a number or a percentage of the old side; KEEPASPRAT passes.
int SideArg(qvVmState* L, int idx, int32_t old, int32_t* side) {
    const double value = GetNumberOrPercentArg(L, idx, old, 1, nullptr);
    if (value == KEEPASPRAT) {
        *side = KEEPASPRAT;
        return 0;
    }
    if (value > kMaxBitMapSide) return ERR_MEM;
    *side = Trunc32(value);
    return 0;
}

// The distortion by a method of the brush's planes.
int DistortWith(qvBrush* b, int32_t method, int count, const double* arguments, int smooth) {
    gfx::NewPicture planes;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    int32_t width = 0, height = 0;
    if (const int code =
            DistortBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, method, count,
                          arguments, smooth, &bitmap, &mask, &alpha, &width, &height)) {
        return code;
    }
    planes.bitmap.reset(bitmap), planes.mask.reset(mask), planes.alpha.reset(alpha);
    ReplacePlanes(b, &planes, width, height);
    if (b->mask != nullptr && b->transparentColour == kNoTransparency) {
        b->transparentColour = kMaskWithoutKey;
    }
    return 0;
}

// The bounding box {x, y, width, height} of the pixels that the mask or the alpha plane shows;
// false when none is visible.
bool VisibleBounds(const qvBrush* b, int32_t box[4]) {
    int32_t left = b->width, top = b->height, right = -1, bottom = -1;
    for (int32_t y = 0; y < b->height; ++y) {
        for (int32_t x = 0; x < b->width; ++x) {
            const bool visible =
                b->mask != nullptr ? (b->mask->plane[size_t(y) * b->mask->bytesPerRow + (x >> 3)] &
                                      (0x80 >> (x & 7))) != 0
                                   : b->alpha->plane[size_t(y) * b->alpha->bytesPerRow + x] != 0;
            if (!visible) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    if (right < 0) return false;
    box[0] = left, box[1] = top, box[2] = right - left + 1, box[3] = bottom - top + 1;
    return true;
}

// The brush cut to the rectangle, which lies inside it.
int CutBrush(qvBrush* b, int32_t x, int32_t y, int32_t width, int32_t height) {
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (const int code = CopyBitmapArea(b->bitmap, b->mask, b->alpha, x, y, width, height, 0,
                                        &bitmap, &mask, &alpha)) {
        return code;
    }
    gfx::NewPicture planes;
    planes.bitmap.reset(bitmap), planes.mask.reset(mask), planes.alpha.reset(alpha);
    ReplacePlanes(b, &planes, width, height);
    return 0;
}

// DistortBrushEx: the numbers given from argument 2 on (at most count) and the smooth flag
// after the last of them.
int DistortBrushEx(qvVmState* L, int32_t method, int count) {
    double arguments[16];
    const int given = std::clamp(VmGetTop(L) - 1, 0, count);
    for (int i = 0; i < given; ++i) arguments[i] = GetArgNumber(L, 2 + i);
    const int smooth = GetOptIntArg(L, 2 + count, nullptr) != 0 ? 1 : 0;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return DistortWith(b, method, given, arguments, smooth);
}

}  // namespace

int ScaleBrush(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b, QV_BRUSH_HARDWARE)) return code;
    int32_t width = 0, height = 0;
    if (const int code = SideArg(L, 2, b->width, &width)) return code;
    if (const int code = SideArg(L, 3, b->height, &height)) return code;
    const int smooth = GetOptIntArg(L, 4, nullptr) != 0 ? 1 : 0;
    if (const int code = ScaleKeepAspect(b->width, b->height, &width, &height)) return code;
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    if (width == b->width && height == b->height) return 0;
    if (b->type == kVectorBrush) {
        const double matrix[4] = {double(width) / b->width, 0, 0, double(height) / b->height};
        return TransformPlanes(L, b, matrix, smooth);
    }
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (const int code =
            ScaleBitmap(b->bitmap, b->mask, b->alpha, 0, 0, nullptr, b->width, b->height, width,
                        height, smooth, &bitmap, b->mask != nullptr ? &mask : nullptr,
                        b->alpha != nullptr ? &alpha : nullptr)) {
        return code;
    }
    gfx::NewPicture planes;
    planes.bitmap.reset(bitmap), planes.mask.reset(mask), planes.alpha.reset(alpha);
    ReplacePlanes(b, &planes, width, height);
    return 0;
}

int RotateBrush(qvVmState* L) {
    CheckArgCount(L, 2, 5);
    const int32_t angle = Trunc32(GetArgNumber(L, 2));
    const double scaleX = GetOptArgNumber(L, 3, 1), scaleY = GetOptArgNumber(L, 4, 1);
    const int smooth = GetOptIntArg(L, 5, nullptr) != 0 ? 1 : 0;
    if (scaleX == 0 || scaleY == 0 || !std::isfinite(scaleX) || !std::isfinite(scaleY)) {
        return ERR_WRONGUSAGE;
    }
    double matrix[4];
    MakeTransformMatrix(matrix, 0, 0, 0, 0, angle % 360, scaleX, scaleY);
    return TransformBrushEx(L, matrix, smooth);
}

int TransformBrush(qvVmState* L) {
    CheckArgCount(L, 5, 6);
    const double matrix[4] = {GetArgNumber(L, 2), GetArgNumber(L, 3), GetArgNumber(L, 4),
                              GetArgNumber(L, 5)};
    const int smooth = GetOptIntArg(L, 6, nullptr) != 0 ? 1 : 0;
    if (matrix[0] == 0 || matrix[3] == 0 ||
        !std::all_of(std::begin(matrix), std::end(matrix),
                     [](double v) { return std::isfinite(v); })) {
        return ERR_WRONGUSAGE;
    }
    return TransformBrushEx(L, matrix, smooth);
}

int FlipBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t direction = Trunc32(GetArgNumber(L, 2));
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return FlipBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, direction);
}

int CropBrush(qvVmState* L) {
    CheckArgCount(L, 5, 5);
    int32_t width = GetOptIntArg(L, 4, nullptr), height = GetOptIntArg(L, 5, nullptr);
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    const int32_t x = PositionArg(L, 2, width, b->width, false);
    const int32_t y = PositionArg(L, 3, height, b->height, true);
    if (x < 0 || y < 0) return ERR_NEGCOORDS;
    if (x >= b->width || y >= b->height) return ERR_COORDSRANGE;
    width = std::min(width, b->width - x), height = std::min(height, b->height - y);
    return CutBrush(b, x, y, width, height);
}

int TrimBrush(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    int32_t box[4] = {0, 0, b->width, b->height};
    if (b->mask != nullptr || b->alpha != nullptr) {
        if (!VisibleBounds(b, box)) return ERR_TRANSBRUSH;
    }
    const auto [x, y, width, height] = box;
    if (width != b->width || height != b->height) {
        if (const int code = CutBrush(b, x, y, width, height)) return code;
    }
    VmPushNumber(L, x);
    VmPushNumber(L, y);
    return 2;
}

int PerspectiveDistortBrush(qvVmState* L) {
    CheckArgCount(L, 9, 10);
    double corners[8];
    for (int i = 0; i < 8; ++i) corners[i] = GetArgNumber(L, 2 + i);
    const int smooth = GetOptIntArg(L, 10, nullptr) != 0 ? 1 : 0;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    // Each new corner goes with its source corner: top left, top right, bottom right, bottom
    // left, in the edge coordinates of the distortion.
    const double w = b->width, h = b->height;
    const double source[8] = {0, 0, w, 0, w, h, 0, h};
    double arguments[16];
    for (int p = 0; p < 4; ++p) {
        arguments[4 * p] = source[2 * p], arguments[4 * p + 1] = source[2 * p + 1];
        arguments[4 * p + 2] = corners[2 * p], arguments[4 * p + 3] = corners[2 * p + 1];
    }
    return DistortWith(b, QV_DISTORT_PERSPECTIVE, 16, arguments, smooth);
}

int ArcDistortBrush(qvVmState* L) {
    CheckArgCount(L, 1, 6);
    return DistortBrushEx(L, QV_DISTORT_ARC, 4);
}

int PolarDistortBrush(qvVmState* L) {
    CheckArgCount(L, 1, 8);
    return DistortBrushEx(L, QV_DISTORT_POLAR, 6);
}

int BarrelDistortBrush(qvVmState* L) {
    CheckArgCount(L, 4, 12);
    return DistortBrushEx(L, QV_DISTORT_BARREL, 10);
}

}  // namespace qv::brushes
