// The plane front-ends: 8-bit planes filled, combined and scaled, masks expanded into
// planes and planes into masks, polygons filled into masks, planes duplicated.
#include <algorithm>
#include <cstring>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/kernels/frontend_kernels.h"
#include "platform/linux/memory.h"

namespace qv::gfx {
namespace {

// Cuts the rectangle to both planes (an empty rectangle when either is unusable).
bool ClipPlanes(BlitRect& r, const qvPlaneBitMap* source, const qvPlaneBitMap* dest) {
    if (!PlaneUsable(source) || !PlaneUsable(dest)) return false;
    return ClipBlit(r, PlaneExtentX(source), source->height, PlaneExtentX(dest), dest->height);
}

void ExpandMask(const qvPlaneBitMap* mask, int32_t sx, int32_t sy, qvPlaneBitMap* plane, int32_t dx,
                int32_t dy, int32_t width, int32_t height, uint8_t value, bool clearToZero) {
    BlitRect r{sx, sy, dx, dy, width, height};
    if (!ClipPlanes(r, mask, plane)) return;
    ExpandMaskToPlane8Bytes(mask->plane, mask->bytesPerRow, int32_t(r.sx), int32_t(r.sy),
                            plane->plane, plane->bytesPerRow, int32_t(r.dx), int32_t(r.dy),
                            int32_t(r.width), int32_t(r.height), value, clearToZero);
}

// A new plane holding the rows of the source that fit (row by row: the source's bytes per
// row may come from another bitmap than its width); the rest stays cleared.
qvPlaneBitMap* Duplicate(const qvPlaneBitMap* source, qvPlaneBitMap* copy) {
    if (copy == nullptr) return nullptr;
    const int32_t rows = std::min(source->height, copy->height);
    const int32_t bytes = std::min(source->bytesPerRow, copy->bytesPerRow);
    for (int32_t y = 0; y < rows; ++y) {
        std::memcpy(copy->plane + ptrdiff_t(y) * copy->bytesPerRow,
                    source->plane + ptrdiff_t(y) * source->bytesPerRow, size_t(bytes));
    }
    return copy;
}

}  // namespace
}  // namespace qv::gfx

void FillPlane8Rect(qvPlaneBitMap* plane, int32_t x, int32_t y, int32_t width, int32_t height,
                    uint8_t value) {
    if (!qv::PlaneUsable(plane)) return;
    qv::BlitRect r{x, y, x, y, width, height};
    if (!qv::ClipRect(r, qv::PlaneExtentX(plane), plane->height)) return;
    FillPlane8RectBytes(plane->plane, plane->bytesPerRow, int32_t(r.dx), int32_t(r.dy),
                        int32_t(r.width), int32_t(r.height), value);
}

void ExpandMaskToPlane8Rect(const qvPlaneBitMap* mask, int32_t sx, int32_t sy, qvPlaneBitMap* plane,
                            int32_t dx, int32_t dy, int32_t width, int32_t height, uint8_t value) {
    qv::gfx::ExpandMask(mask, sx, sy, plane, dx, dy, width, height, value, false);
}

void ExpandMaskToPlane8(const qvPlaneBitMap* mask, int32_t maskX, int32_t maskY,
                        qvPlaneBitMap* plane, int32_t planeX, int32_t planeY, int32_t width,
                        int32_t height, uint8_t value) {
    qv::gfx::ExpandMask(mask, maskX, maskY, plane, planeX, planeY, width, height, value, true);
}

void CopyPlane8Rect(const qvPlaneBitMap* source, int32_t sx, int32_t sy, qvPlaneBitMap* dest,
                    int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t mode,
                    uint8_t value) {
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::gfx::ClipPlanes(r, source, dest)) return;
    CombinePlane8Rect({source->plane, int32_t(r.sx), int32_t(r.sy), dest->plane, int32_t(r.dx),
                       int32_t(r.dy), int32_t(r.width), int32_t(r.height), source->bytesPerRow,
                       dest->bytesPerRow, mode, value});
}

void CopyPlane8RectClipped(const qvPlaneBitMap* source, int32_t sx, int32_t sy, qvPlaneBitMap* dest,
                           int32_t dx, int32_t dy, int32_t width, int32_t height,
                           int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth,
                           int32_t destHeight, int32_t mode, uint8_t value) {
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::ClipBlit(r, sourceWidth, sourceHeight, destWidth, destHeight)) return;
    CopyPlane8Rect(source, int32_t(r.sx), int32_t(r.sy), dest, int32_t(r.dx), int32_t(r.dy),
                   int32_t(r.width), int32_t(r.height), mode, value);
}

void CopyPlane8(const qvPlaneBitMap* source, qvPlaneBitMap* dest, int32_t height, uint8_t value) {
    if (!qv::PlaneUsable(source) || !qv::PlaneUsable(dest)) return;
    const int32_t rows = std::min({height, source->height, dest->height});
    ScalePlane8Bytes(source->plane, source->bytesPerRow, dest->plane, dest->bytesPerRow,
                     std::min(source->bytesPerRow, dest->bytesPerRow), rows, value);
}

void AlphaToMaskRect(const qvPlaneBitMap* alpha, int32_t sx, int32_t sy, qvPlaneBitMap* mask,
                     int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t maskMode) {
    qv::BlitRect r{sx, sy, dx, dy, width, height};
    if (!qv::gfx::ClipPlanes(r, alpha, mask)) return;
    AlphaToMaskBits(alpha->plane, alpha->bytesPerRow, int32_t(r.sx), int32_t(r.sy), mask->plane,
                    mask->bytesPerRow, int32_t(r.dx), int32_t(r.dy), int32_t(r.width),
                    int32_t(r.height), maskMode);
}

int FillMaskPolygon(qvPlaneBitMap* mask, const int32_t* vertices, int32_t count) {
    if (!qv::PlaneUsable(mask) || vertices == nullptr || count < 3) return 0;
    // Each edge crosses a row at most once.
    auto* crossings = static_cast<double*>(AllocMemBlock(size_t(count) * sizeof(double), 0));
    if (crossings == nullptr) return ERR_MEM;
    const auto width = int32_t(std::min<int64_t>(mask->width, qv::PlaneExtentX(mask)));
    FillMaskPolygonBits(mask->plane, mask->bytesPerRow, width, mask->height, vertices, count,
                        crossings);
    FreeMemBlock(crossings);
    return 0;
}

qvPlaneBitMap* DuplicateMaskBitmap(const qvPlaneBitMap* source, int32_t width, int32_t height) {
    if (!qv::PlaneUsable(source)) return nullptr;
    return qv::gfx::Duplicate(source, AllocMaskBitMap(nullptr, width, height, 1));
}

qvPlaneBitMap* DuplicatePlane8Bitmap(const qvPlaneBitMap* source, int32_t width, int32_t height) {
    if (!qv::PlaneUsable(source)) return nullptr;
    return qv::gfx::Duplicate(source, AllocAlphaBitMap(width, height, 1));
}
