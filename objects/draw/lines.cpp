#include "objects/draw/lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "objects/draw/coverage.h"
#include "objects/draw/shape_geometry.h"

namespace qv::draw {
namespace {

// Where an end outside [low, high] along a comes to lie on the bound.
void MoveOntoBound(int64_t* a, int64_t* b, int64_t bound, int64_t a1, int64_t b1, int64_t a2,
                   int64_t b2) {
    *b = b1 + int64_t(__int128(bound - a1) * (b2 - b1) / (a2 - a1));
    *a = bound;
}

}  // namespace

int32_t ClampLineThickness(int32_t thickness) {
    return std::clamp(thickness, 1, kMaxLineThickness);
}

LineBox LineBoxOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return {std::min(x1, x2), std::min(y1, y2), std::abs(int64_t(x2) - x1) + 1,
            std::abs(int64_t(y2) - y1) + 1};
}

void TurnLineEnds(const ShapeTransform& transform, int32_t* x1, int32_t* y1, int32_t* x2,
                  int32_t* y2) {
    const LineBox box = LineBoxOf(*x1, *y1, *x2, *y2);
    const double pivotX = double(box.x) + std::trunc(double(box.width) * transform.anchorX);
    const double pivotY = double(box.y) + std::trunc(double(box.height) * transform.anchorY);
    const qvVertex first = TurnPoint(transform.matrix, pivotX, pivotY, *x1, *y1);
    const qvVertex second = TurnPoint(transform.matrix, pivotX, pivotY, *x2, *y2);
    *x1 = first.x, *y1 = first.y, *x2 = second.x, *y2 = second.y;
}

int MakeLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                  uint32_t colour, bool antialias, LineImage* out) {
    const int32_t t = ClampLineThickness(thickness);
    const LineBox box = LineBoxOf(x1, y1, x2, y2);
    const int64_t grow = (antialias ? 5 : 0) + (t > 1 ? t : 0);
    const int64_t shift = (antialias ? 2 : 0) + (t > 1 ? t >> 1 : 0);
    const int64_t width = box.width + grow, height = box.height + grow;
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    LineImage image;
    image.width = int32_t(width), image.height = int32_t(height);
    image.x = Saturate32(box.x - shift), image.y = Saturate32(box.y - shift);
    image.bitmap.reset(AllocDisplayBitMap(image.width, image.height));
    if (image.bitmap == nullptr) return ERR_MEM;
    const int32_t transparency = int32_t(colour >> 24);
    if (antialias || transparency != 0) {
        image.alpha.reset(AllocAlphaBitMap(image.width, image.height, 1));
    } else {
        image.mask.reset(AllocMaskBitMap(image.bitmap.get(), image.width, image.height, 1));
    }
    if (image.alpha == nullptr && image.mask == nullptr) return ERR_MEM;
    const qvShapeTarget target{image.bitmap.get(),
                               image.mask.get(),
                               image.alpha.get(),
                               image.width,
                               image.height,
                               nullptr,
                               0,
                               0};
    const int64_t dx = shift - box.x, dy = shift - box.y;
    const qvLineSegment line{int32_t(x1 + dx), int32_t(y1 + dy), int32_t(x2 + dx), int32_t(y2 + dy),
                             t};
    if (const int code =
            RenderShapeImage(target, line, {colour & 0xFFFFFF, transparency, antialias})) {
        return code;
    }
    *out = std::move(image);
    return 0;
}

}  // namespace qv::draw

int ClipLineAxis(int64_t* a1, int64_t* b1, int64_t* a2, int64_t* b2, int64_t low, int64_t high) {
    if ((*a1 < low && *a2 < low) || (*a1 > high && *a2 > high)) return 0;
    const int64_t ends[4] = {*a1, *b1, *a2, *b2};
    for (auto [a, b] : {std::pair{a1, b1}, std::pair{a2, b2}}) {
        if (*a < low) qv::draw::MoveOntoBound(a, b, low, ends[0], ends[1], ends[2], ends[3]);
        if (*a > high) qv::draw::MoveOntoBound(a, b, high, ends[0], ends[1], ends[2], ends[3]);
    }
    return 1;
}
