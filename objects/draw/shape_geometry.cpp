#include "objects/draw/shape_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "objects/draw/draw_state.h"
#include "platform/linux/bitmap.h"

namespace qv::draw {
namespace {

struct Bounds {
    int64_t minX = std::numeric_limits<int64_t>::max(), minY = minX;
    int64_t maxX = std::numeric_limits<int64_t>::min(), maxY = maxX;

    void Add(const qvVertex& p) {
        minX = std::min<int64_t>(minX, p.x), maxX = std::max<int64_t>(maxX, p.x);
        minY = std::min<int64_t>(minY, p.y), maxY = std::max<int64_t>(maxY, p.y);
    }
    void Add(const Bounds& other) {
        minX = std::min(minX, other.minX), maxX = std::max(maxX, other.maxX);
        minY = std::min(minY, other.minY), maxY = std::max(maxY, other.maxY);
    }
    int64_t Width() const { return maxX - minX + 1; }
    int64_t Height() const { return maxY - minY + 1; }
};

Bounds BoundsOf(const qvVertex* points, int32_t count) {
    Bounds bounds;
    for (int32_t i = 0; i < count; ++i) bounds.Add(points[i]);
    return bounds;
}

void Translate(qvVertex* points, int32_t count, int64_t dx, int64_t dy) {
    for (int32_t i = 0; i < count; ++i) {
        points[i] = {Saturate32(points[i].x + dx), Saturate32(points[i].y + dy)};
    }
}

void ToIntegers(const qvOutlinePoint* points, int32_t count, qvVertex* out) {
    for (int32_t i = 0; i < count; ++i)
        out[i] = {RoundSaturate(points[i].x), RoundSaturate(points[i].y)};
}

struct Vector {
    double x, y;
};

// The unit vector from b to a; false for a zero or non-finite length.
bool UnitFrom(const qvOutlinePoint& a, const qvOutlinePoint& b, Vector* out) {
    const double dx = a.x - b.x, dy = a.y - b.y, length = std::hypot(dx, dy);
    if (!(length > 0) || !std::isfinite(length)) return false;
    *out = {dx / length, dy / length};
    return true;
}

constexpr double kCollinear = 0.001;

// The sine of the corner at p between its neighbours; false where a neighbour coincides.
bool CornerSine(const qvOutlinePoint& before, const qvOutlinePoint& p, const qvOutlinePoint& after,
                Vector* fromBefore, Vector* fromAfter, double* cross) {
    if (!UnitFrom(p, before, fromBefore) || !UnitFrom(p, after, fromAfter)) return false;
    *cross = fromAfter->y * fromBefore->x - fromBefore->y * fromAfter->x;
    return true;
}

// The outline as an open list without repeated points and without vertices on a straight
// line (or a reversal) between their neighbours; returns its count.
int32_t Simplify(const qvOutlinePoint* points, int32_t count, qvOutlinePoint* out) {
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (n == 0 || !(points[i] == out[n - 1])) out[n++] = points[i];
    }
    while (n > 1 && out[n - 1] == out[0]) --n;
    for (bool removed = true; removed && n >= 3;) {
        removed = false;
        for (int32_t i = 0; i < n && n >= 3;) {
            Vector before, after;
            double cross = 0;
            const bool corner =
                CornerSine(out[(i + n - 1) % n], out[i], out[(i + 1) % n], &before, &after, &cross);
            if (corner && std::fabs(cross) >= kCollinear) {
                ++i;
                continue;
            }
            std::copy(out + i + 1, out + n, out + i);
            --n;
            removed = true;
        }
    }
    return n;
}

// The mitred ring of a polygon b pixels outside it, closed; 0 when the polygon is degenerate.
int32_t MitreRing(const qvShapeWork& work, const qvOutlinePoint* points, int32_t count, int32_t b,
                  qvOutlinePoint* out) {
    qvOutlinePoint* simple = work.simplified.get();
    const int32_t n = Simplify(points, count, simple);
    if (n < 3) return 0;
    double area = 0;
    for (int32_t i = 0; i < n; ++i) {
        const qvOutlinePoint& p = simple[i];
        const qvOutlinePoint& q = simple[(i + 1) % n];
        area += p.x * q.y - q.x * p.y;
    }
    const int orientation = area > 0 ? 1 : -1;
    const double limit = kMitreLimit * b;
    for (int32_t i = 0; i < n; ++i) {
        Vector before, after;
        double cross = 0;
        if (!CornerSine(simple[(i + n - 1) % n], simple[i], simple[(i + 1) % n], &before, &after,
                        &cross) ||
            std::fabs(cross) < kCollinear) {
            return 0;
        }
        const double dot = before.x * after.x + before.y * after.y;
        const double sine = std::sqrt(std::max(0.0, 1 - dot * dot));
        const double sign =
            (orientation < 0 && cross > 0) || (orientation >= 0 && cross < 0) ? 1 : -1;
        double dx = sign * b * (before.x + after.x) / sine,
               dy = sign * b * (before.y + after.y) / sine;
        const double length = std::hypot(dx, dy);
        if (length > limit) dx *= limit / length, dy *= limit / length;
        out[i] = {simple[i].x + dx, simple[i].y + dy};
    }
    out[n] = out[0];
    return n + 1;
}

// The five-point rectangle of the bounds grown by b.
int32_t GrownRectangle(const Bounds& bounds, int32_t b, qvVertex* out) {
    const int32_t x0 = Saturate32(bounds.minX - b), y0 = Saturate32(bounds.minY - b);
    const int32_t x1 = Saturate32(bounds.maxX + b), y1 = Saturate32(bounds.maxY + b);
    const qvVertex corners[] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
    std::copy(std::begin(corners), std::end(corners), out);
    return 5;
}

// The effective style of the shape: border and shadow belong to filled shapes only.
void ApplyEffectiveStyle(qvShapeDesc* desc) {
    const qvDrawState& state = *desc->drawState;
    const int32_t fill = uint32_t(state.fillStyle) > FILLTEXTURE ? FILLNONE : state.fillStyle;
    const bool filled = fill != FILLNONE;
    desc->fillStyle = fill;
    desc->borderOn = filled && (state.formStyle & EDGE) != 0;
    desc->borderSize =
        desc->borderOn ? std::clamp(state.borderSize, kMinEffectSize, qv::kMaxBitMapSide) : 0;
    desc->borderColour = state.borderColour & 0xFFFFFF;
    desc->borderTransparency = int32_t(state.borderColour >> 24);
    desc->shadowOn = filled && (state.formStyle & SHADOW) != 0;
    desc->shadowSize =
        desc->shadowOn ? std::clamp(state.shadowSize, kMinEffectSize, kMaxEffectSize) : 0;
    desc->shadowDirection =
        int32_t(state.shadowDirection > 7 ? kDefaultShadowDirection : state.shadowDirection);
    desc->shadowColour = state.shadowColour & 0xFFFFFF;
    desc->shadowTransparency = int32_t(state.shadowColour >> 24);
    desc->antialias = (state.formStyle & ANTIALIAS) != 0;
}

qvOutlineSpec OutlineSpecOf(const qvShapeDesc& desc, const ShapeTransform& transform) {
    qvOutlineSpec spec{};
    spec.type = desc.type;
    spec.width = desc.width, spec.height = desc.height;
    std::copy(std::begin(desc.cornerLevels), std::end(desc.cornerLevels), spec.cornerLevels);
    spec.start = desc.startAngle, spec.end = desc.endAngle;
    spec.clockwise = desc.clockwise != 0;
    spec.points = desc.points, spec.pointCount = desc.pointCount;
    spec.matrix = transform.matrix;
    spec.pivotX = ShapePivot(transform.matrix, desc.width, transform.anchorX);
    spec.pivotY = ShapePivot(transform.matrix, desc.height, transform.anchorY);
    return spec;
}

// Builds the border ring into work.border in the shape's frame; returns its count.
int32_t BuildRing(const qvShapeWork& work, const qvShapeDesc& desc, const qvOutlineSpec& fill,
                  int32_t fillCount, const Bounds& fillBounds) {
    const int32_t b = desc.borderSize;
    qvOutlinePoint* ring = work.offsets.get();
    if (desc.type == POLYGON) {
        const int32_t count = MitreRing(work, work.outline.get(), fillCount, b, ring);
        if (count == 0) return GrownRectangle(fillBounds, b, work.border.get());
        ToIntegers(ring, count, work.border.get());
        return count;
    }
    // The same outline for the box grown by b on every side, turning about the same point.
    qvOutlineSpec grown = fill;
    grown.width += 2 * int64_t(b), grown.height += 2 * int64_t(b);
    grown.pivotX += b, grown.pivotY += b;
    const int32_t count = BuildShapeOutline(work, grown, ring);
    ToIntegers(ring, count, work.border.get());
    Translate(work.border.get(), count, -b, -b);
    return count;
}

// Where the shape and its shadow copy lie in the image for a shadow of size s.
struct ShadowLayout {
    int64_t shapeX = 0, shapeY = 0, shadowX = 0, shadowY = 0, growX = 0, growY = 0;
};

ShadowLayout LayOutShadow(int32_t s, uint32_t direction) {
    int32_t left, top, right, bottom;
    ShadowDirectionMasks(s, direction, &left, &top, &right, &bottom);
    ShadowLayout layout;
    layout.shapeX = left, layout.shapeY = top;
    layout.shadowX = right, layout.shadowY = bottom;
    layout.growX = left + right, layout.growY = top + bottom;
    return layout;
}

}  // namespace

int32_t RoundSaturate(double value) {
    if (std::isnan(value)) return 0;
    const double clamped = std::clamp(value, double(std::numeric_limits<int32_t>::min()),
                                      double(std::numeric_limits<int32_t>::max()));
    return int32_t(std::lrint(clamped));
}

qvVertex TurnPoint(const double matrix[4], double pivotX, double pivotY, double x, double y) {
    const double dx = x - pivotX, dy = y - pivotY;
    return {RoundSaturate(matrix[0] * dx + matrix[2] * dy + pivotX),
            RoundSaturate(matrix[1] * dx + matrix[3] * dy + pivotY)};
}

bool IsPlainScale(const double matrix[4]) {
    return matrix[1] == 0 && matrix[2] == 0 && matrix[0] > 0 && matrix[3] > 0;
}

double ShapePivot(const double matrix[4], int64_t size, double anchor) {
    const double point = double(size) * anchor;
    return IsPlainScale(matrix) ? std::trunc(point) : point - 0.5;
}

namespace {

// The pixels a side of size takes at the factor: trunc(size x factor), at least 1. The small
// allowance keeps a factor made as new size / old size from truncating to one pixel less.
double ScaledSpan(double factor, int64_t size) {
    return std::max(1.0, std::trunc(double(size) * factor + 1e-9));
}

// The factor that carries size - 1 onto trunc(size x factor) - 1.
double SpanFactor(double factor, int64_t size) {
    if (size < 2 || !std::isfinite(factor)) return factor;
    return (ScaledSpan(factor, size) - 1) / double(size - 1);
}

}  // namespace

int64_t SpanShift(double factor, int64_t size, double anchor) {
    if (!std::isfinite(factor) || !std::isfinite(anchor)) return 0;
    const double pivot = std::trunc(double(size) * anchor);
    const double wanted = pivot - std::trunc(ScaledSpan(factor, size) * anchor);
    const double first = double(RoundSaturate(pivot * (1 - SpanFactor(factor, size))));
    return int64_t(std::clamp(wanted - first, -1e9, 1e9));
}

ShapeTransform SpanTransform(const ShapeTransform& transform, int64_t width, int64_t height) {
    ShapeTransform out = transform;
    if (!IsPlainScale(transform.matrix) || transform.IsIdentity()) return out;
    out.matrix[0] = SpanFactor(transform.matrix[0], width);
    out.matrix[3] = SpanFactor(transform.matrix[3], height);
    return out;
}

double WidthScale(const double matrix[4]) {
    if (matrix[1] == 0 && matrix[2] == 0) return std::fabs(matrix[0]);
    return std::sqrt(std::fabs(matrix[0] * matrix[3] - matrix[1] * matrix[2]));
}

int32_t ScaleWidth(int32_t width, const double matrix[4]) {
    return RoundSaturate(width * WidthScale(matrix));
}

}  // namespace qv::draw

using namespace qv::draw;

void TransformPoints(const double matrix[4], double cx, double cy, qvVertex* points, int32_t count,
                     bool normalise, int32_t* minX, int32_t* minY, int64_t* outWidth,
                     int64_t* outHeight) {
    int32_t lowX = 100000, lowY = 100000;
    int64_t highX = -100000, highY = -100000;
    for (int32_t i = 0; i < count; ++i) {
        const qvVertex p = TurnPoint(matrix, cx, cy, points[i].x, points[i].y);
        const int32_t x = p.x, y = p.y;
        points[i] = p;
        lowX = std::min(lowX, x), lowY = std::min(lowY, y);
        highX = std::max<int64_t>(highX, x), highY = std::max<int64_t>(highY, y);
    }
    if (normalise && count > 0) Translate(points, count, -int64_t(lowX), -int64_t(lowY));
    if (minX != nullptr) *minX = lowX;
    if (minY != nullptr) *minY = lowY;
    if (outWidth != nullptr) *outWidth = count > 0 ? highX + 1 - lowX : 0;
    if (outHeight != nullptr) *outHeight = count > 0 ? highY + 1 - lowY : 0;
}

void ShadowDirectionMasks(int32_t size, uint32_t direction, int32_t* left, int32_t* top,
                          int32_t* right, int32_t* bottom) {
    *left = direction >= 5 && direction <= 7 ? size : 0;
    *top = direction == 7 || direction <= 1 ? size : 0;
    *right = direction >= 1 && direction <= 3 ? size : 0;
    *bottom = direction >= 3 && direction <= 5 ? size : 0;
}

int PrepareShapeGeometry(const qvShapeWork& work, qvShapeDesc* desc, const ShapeTransform& given) {
    desc->fillPoints = desc->borderPoints = nullptr;
    desc->fillCount = desc->borderCount = 0;
    desc->imageX = desc->imageY = desc->imageWidth = desc->imageHeight = 0;
    desc->fillX = desc->fillY = desc->fillWidth = desc->fillHeight = 0;
    desc->borderX = desc->borderY = desc->borderWidth = desc->borderHeight = 0;
    desc->shadowX = desc->shadowY = 0;
    if (desc->width < 1 || desc->height < 1) return ERR_WRONGUSAGE;
    // Scaled, a shape covers what the picture of it would cover once scaled.
    const ShapeTransform transform = SpanTransform(given, desc->width, desc->height);
    ApplyEffectiveStyle(desc);
    const qvOutlineSpec spec = OutlineSpecOf(*desc, transform);
    const int32_t count = BuildShapeOutline(work, spec, work.outline.get());
    if (count == 0) return 0;

    qvVertex* fill = work.fill.get();
    ToIntegers(work.outline.get(), count, fill);
    const int32_t ringCount =
        desc->borderOn ? BuildRing(work, *desc, spec, count, BoundsOf(fill, count)) : 0;
    qvVertex* ring = work.border.get();
    if (!transform.IsIdentity() && !OutlineCarriesTransform(spec)) {
        std::copy(fill, fill + count, work.transformed.get());
        fill = work.transformed.get();
        for (qvVertex* points : {fill, ring}) {
            TransformPoints(transform.matrix, spec.pivotX, spec.pivotY, points,
                            points == ring ? ringCount : count, false, nullptr, nullptr, nullptr,
                            nullptr);
        }
    }

    const Bounds fillBounds = BoundsOf(fill, count);
    const Bounds ringBounds = BoundsOf(ring, ringCount);
    Bounds all = fillBounds;
    if (ringCount > 0) all.Add(ringBounds);
    const ShadowLayout shadow = LayOutShadow(desc->shadowSize, uint32_t(desc->shadowDirection));
    const int64_t imageWidth = all.Width() + shadow.growX,
                  imageHeight = all.Height() + shadow.growY;
    if (imageWidth > qv::kMaxBitMapSide || imageHeight > qv::kMaxBitMapSide) return ERR_MEM;

    // Everything fits one bitmap from here on: the sizes and offsets below are small.
    Translate(fill, count, -fillBounds.minX, -fillBounds.minY);
    Translate(ring, ringCount, -ringBounds.minX, -ringBounds.minY);
    desc->imageWidth = int32_t(imageWidth), desc->imageHeight = int32_t(imageHeight);
    int64_t spanX = 0, spanY = 0;
    if (IsPlainScale(given.matrix) && !given.IsIdentity()) {
        spanX = SpanShift(given.matrix[0], desc->width, given.anchorX);
        spanY = SpanShift(given.matrix[3], desc->height, given.anchorY);
    }
    desc->imageX = qv::Saturate32(all.minX - shadow.shapeX + spanX);
    desc->imageY = qv::Saturate32(all.minY - shadow.shapeY + spanY);
    desc->fillX = int32_t(fillBounds.minX - all.minX + shadow.shapeX);
    desc->fillY = int32_t(fillBounds.minY - all.minY + shadow.shapeY);
    desc->fillWidth = int32_t(fillBounds.Width()), desc->fillHeight = int32_t(fillBounds.Height());
    desc->shadowX = int32_t(shadow.shadowX - shadow.shapeX);
    desc->shadowY = int32_t(shadow.shadowY - shadow.shapeY);
    const int32_t skipped = desc->type == ARC ? 2 : 0;
    desc->fillPoints = fill + skipped, desc->fillCount = count - skipped;
    if (ringCount > 0) {
        desc->borderX = int32_t(ringBounds.minX - all.minX + shadow.shapeX);
        desc->borderY = int32_t(ringBounds.minY - all.minY + shadow.shapeY);
        desc->borderWidth = int32_t(ringBounds.Width());
        desc->borderHeight = int32_t(ringBounds.Height());
        const int32_t ringSkipped = desc->type == ARC && ringCount > 2 ? 2 : 0;
        desc->borderPoints = ring + ringSkipped, desc->borderCount = ringCount - ringSkipped;
    }
    return 0;
}
