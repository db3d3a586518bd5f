#include "objects/draw/outline.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/error_codes.h"

namespace qv::draw {
namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;
constexpr double kFixedOne = 65536;
constexpr int32_t kTableEntries = 361;

// A double as the nearest int64, saturated; NaN gives 0.
int64_t RoundToInt64(double value) {
    constexpr double kLimit = 9.2e18;
    if (std::isnan(value)) return 0;
    if (value >= kLimit) return std::numeric_limits<int64_t>::max();
    if (value <= -kLimit) return std::numeric_limits<int64_t>::min();
    return std::llrint(value);
}

int64_t TruncToInt64(double value) {
    return RoundToInt64(std::trunc(value));
}

// The integer part of a 16.16 value held in a double, floored as an arithmetic shift does.
int64_t FixedFloor(double value) {
    return RoundToInt64(value) >> 16;
}

template <typename T>
std::unique_ptr<T[], BlockFree> AllocArray(int32_t count) {
    return std::unique_ptr<T[], BlockFree>(
        static_cast<T*>(AllocMemBlock(sizeof(T) * size_t(count), 1)));
}

// How the arc's angles are walked: start <= end, start at or above -360 and the span at most
// 360 degrees, in closed form so that any whole degrees take the same few steps.
void NormaliseAngles(int64_t* start, int64_t* end) {
    if (*start > *end) std::swap(*start, *end);
    __int128 from = *start, to = *end;
    if (to - from > 360) {
        *start = 0, *end = 360;
        return;
    }
    if (from < 0) {
        const __int128 turns = (-from + 359) / 360;
        from += 360 * turns, to += 360 * turns;
    }
    if (to > 360) {
        const __int128 turns = (to - 360 + 359) / 360;
        from -= 360 * turns, to -= 360 * turns;
    }
    *start = int64_t(from), *end = int64_t(to);
}

// Adds whole turns to value until it is at least floor (32-bit inputs cannot overflow).
int64_t RaiseByTurns(int64_t value, int64_t floor) {
    if (value >= floor) return value;
    return value + 360 * ((floor - value + 359) / 360);
}

class ArcWalker {
public:
    ArcWalker(const qvShapeWork& work, const qvArcSpec& arc) : work_(work), arc_(arc) {
        const double* m = arc.matrix;
        const int64_t centreX = FixedFloor(arc.cx), centreY = FixedFloor(arc.cy);
        centreX_ = double(centreX), centreY_ = double(centreY);
        if (m != nullptr && !(m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1)) {
            // The points turn about the centre; they move by how far the matrix carries the
            // centre about the pivot. In doubles, so that no matrix overflows.
            const double dx = centreX_ - arc.pivotX, dy = centreY_ - arc.pivotY;
            const double movedX = m[0] * dx + m[2] * dy, movedY = m[1] * dx + m[3] * dy;
            if (m[1] == 0 && m[2] == 0) {
                // A plain scale may carry the centre onto a half pixel (the factors that fit
                // the shape onto its scaled span are rarely whole): the points keep that
                // fraction until they are floored, so the curve stays centred on its span
                // instead of a pixel up and left of it.
                fixedShiftX_ = (arc.pivotX + movedX - centreX_) * kFixedOne;
                fixedShiftY_ = (arc.pivotY + movedY - centreY_) * kFixedOne;
            } else {
                // Turned, the centre lands on the nearest pixel to where the matrix carries it
                // (a pivot between pixels carries a box's corners onto pixels).
                shiftX_ = double(RoundToInt64(arc.pivotX + movedX)) - centreX_;
                shiftY_ = double(RoundToInt64(arc.pivotY + movedY)) - centreY_;
            }
            a_ = m[0], b_ = m[1], c_ = m[2], d_ = m[3];
        }
    }

    // The point at table angle k (0 ... 360).
    qvOutlinePoint At(int64_t k) const {
        const double cosine = work_.cosine[k], sine = work_.sine[k];
        const double x = arc_.cx + fixedShiftX_ + arc_.rx * cosine * a_ - (arc_.ry * -sine) * c_;
        const double y = arc_.cy + fixedShiftY_ + arc_.rx * cosine * b_ - (arc_.ry * -sine) * d_;
        return {double(RoundToInt64(x) >> 16) + shiftX_, double(RoundToInt64(y) >> 16) + shiftY_};
    }

    qvOutlinePoint Centre() const {
        return {double(FixedFloor(arc_.cx + fixedShiftX_)) + shiftX_,
                double(FixedFloor(arc_.cy + fixedShiftY_)) + shiftY_};
    }

private:
    const qvShapeWork& work_;
    const qvArcSpec& arc_;
    double centreX_ = 0, centreY_ = 0, shiftX_ = 0, shiftY_ = 0;
    double fixedShiftX_ = 0, fixedShiftY_ = 0;  // 16.16, added before the points are floored
    double a_ = 1, b_ = 0, c_ = 0, d_ = 1;
};

// Appends p unless it repeats the point before it; returns the new count.
int32_t AppendDistinct(qvOutlinePoint* out, int32_t count, int32_t first, qvOutlinePoint p) {
    if (count > first && out[count - 1] == p) return count;
    out[count] = p;
    return count + 1;
}

int32_t BoxOutline(const qvShapeWork& work, const qvOutlineSpec& spec, qvOutlinePoint* out) {
    const int64_t w = spec.width, h = spec.height;
    const int32_t* levels = spec.cornerLevels;
    if (levels[0] == 0 && levels[1] == 0 && levels[2] == 0 && levels[3] == 0) {
        const qvOutlinePoint corners[] = {
            {0, 0}, {double(w - 1), 0}, {double(w - 1), double(h - 1)}, {0, double(h - 1)}, {0, 0}};
        std::copy(std::begin(corners), std::end(corners), out);
        return 5;
    }
    const int64_t half = std::min(w, h) / 2;
    int32_t count = 0;
    for (int corner = 0; corner < 4; ++corner) {
        const int64_t level = std::clamp<int64_t>(levels[corner], 1, 100);
        const int64_t r = half * level / 100;
        // Top-left, bottom-left, bottom-right, top-right, anticlockwise from the top.
        const bool right = corner >= 2, bottom = corner == 1 || corner == 2;
        const int64_t cx = right ? w - 1 - r : r, cy = bottom ? h - 1 - r : r;
        const int64_t start = (corner + 1) % 4 * 90;
        qvArcSpec arc{spec.matrix,
                      start,
                      start + 90,
                      CurveStep(r),
                      false,
                      false,
                      double(cx) * kFixedOne,
                      double(cy) * kFixedOne,
                      double(r) * kFixedOne,
                      double(r) * kFixedOne,
                      spec.pivotX,
                      spec.pivotY};
        qvOutlinePoint points[kOutlineCapacity];
        const int32_t n = GenerateArcPoints(work, arc, points);
        for (int32_t i = 0; i < n; ++i) count = AppendDistinct(out, count, 0, points[i]);
    }
    return count;
}

int32_t EllipseOutline(const qvShapeWork& work, const qvOutlineSpec& spec, qvOutlinePoint* out) {
    const int64_t rx = spec.width >> 1, ry = spec.height >> 1;
    int64_t start = 0, end = 360;
    const bool isArc = spec.type == ARC;
    if (isArc) {
        start = spec.start, end = spec.end;
        if (spec.clockwise) {
            end = RaiseByTurns(end, start);
        } else {
            start = RaiseByTurns(start, end);
        }
        // The script's angles run clockwise on the screen, the table's anticlockwise.
        start = -start, end = -end;
    }
    qvArcSpec arc{spec.matrix,
                  start,
                  end,
                  CurveStep(std::max(rx, ry)),
                  true,
                  isArc,
                  double(rx) * kFixedOne,
                  double(ry) * kFixedOne,
                  double(rx) * kFixedOne,
                  double(ry) * kFixedOne,
                  spec.pivotX,
                  spec.pivotY};
    return GenerateArcPoints(work, arc, out);
}

}  // namespace

PolygonPoints AllocPolygonPoints(int32_t count) {
    return AllocArray<qvOutlinePoint>(count);
}

bool ShapeTransform::IsIdentity() const {
    return matrix[0] == 1 && matrix[1] == 0 && matrix[2] == 0 && matrix[3] == 1;
}

int32_t CurveStep(int64_t size) {
    if (size <= 2) return 90;
    if (size <= 9) return 30;
    if (size <= 14) return 18;
    return 5;
}

}  // namespace qv::draw

using namespace qv::draw;

int AllocShapeWork(qvShapeWork* work) {
    qvShapeWork made;
    made.outline = AllocPolygonPoints(kOutlineCapacity);
    made.simplified = AllocPolygonPoints(kOutlineCapacity);
    made.offsets = AllocPolygonPoints(kOutlineCapacity);
    made.fill = AllocArray<qvVertex>(kOutlineCapacity);
    made.transformed = AllocArray<qvVertex>(kOutlineCapacity);
    made.border = AllocArray<qvVertex>(kOutlineCapacity);
    made.sine = AllocArray<double>(kTableEntries);
    made.cosine = AllocArray<double>(kTableEntries);
    if (!made.outline || !made.simplified || !made.offsets || !made.fill || !made.transformed ||
        !made.border || !made.sine || !made.cosine) {
        return ERR_MEM;
    }
    for (int32_t k = 0; k < kTableEntries; ++k) {
        const double angle = (360 - k) * kRadiansPerDegree;
        made.sine[k] = std::sin(angle);
        made.cosine[k] = std::cos(angle);
    }
    *work = std::move(made);
    return 0;
}

void FreeShapeWork(qvShapeWork* work) {
    *work = qvShapeWork{};
}

void ArcPivot(double cx, double cy, double rx, double ry, double anchorX, double anchorY,
              int64_t* pivotX, int64_t* pivotY) {
    const int64_t radiusX = FixedFloor(rx), radiusY = FixedFloor(ry);
    *pivotX = FixedFloor(cx) - radiusX + TruncToInt64(double(2 * radiusX + 1) * anchorX);
    *pivotY = FixedFloor(cy) - radiusY + TruncToInt64(double(2 * radiusY + 1) * anchorY);
}

int32_t GenerateArcPoints(const qvShapeWork& work, const qvArcSpec& arc, qvOutlinePoint* out) {
    const ArcWalker walker(work, arc);
    const int64_t step = std::clamp(arc.step, 1, 360);
    int64_t start = arc.start, end = arc.end;
    NormaliseAngles(&start, &end);
    int32_t count = 0;
    if (arc.bounds) {
        qvOutlinePoint low = walker.At(0), high = low;
        for (int64_t k = step; k <= 360; k += step) {
            const qvOutlinePoint p = walker.At(k);
            low = {std::min(low.x, p.x), std::min(low.y, p.y)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y)};
        }
        out[count++] = low;
        out[count++] = high;
    }
    const int32_t first = count;
    for (int64_t angle = start; angle < end + step; angle += step) {
        int64_t k = std::min(angle, end);
        if (k < 0) k += 360;
        count = AppendDistinct(out, count, first, walker.At(k));
    }
    if (arc.pie && end - start < 360) out[count++] = walker.Centre();
    while (count - first < 2) {
        out[count] = out[count - 1];
        ++count;
    }
    return count;
}

bool OutlineCarriesTransform(const qvOutlineSpec& spec) {
    switch (spec.type) {
        case CIRCLE:
        case ELLIPSE:
        case ARC:
            return true;
        case BOX:
            return std::any_of(std::begin(spec.cornerLevels), std::end(spec.cornerLevels),
                               [](int32_t level) { return level != 0; });
        default:
            return false;
    }
}

int32_t BuildShapeOutline(const qvShapeWork& work, const qvOutlineSpec& spec, qvOutlinePoint* out) {
    if (spec.width < 1 || spec.height < 1) return 0;
    int32_t count = 0;
    switch (spec.type) {
        case BOX:
            count = BoxOutline(work, spec, out);
            break;
        case CIRCLE:
        case ELLIPSE:
        case ARC:
            count = EllipseOutline(work, spec, out);
            break;
        case POLYGON:
            count = std::clamp(spec.pointCount, 0, kOutlineCapacity - 1);
            if (spec.points != nullptr) std::copy(spec.points, spec.points + count, out);
            break;
        default:
            return 0;
    }
    const int32_t first = spec.type == ARC ? 2 : 0;
    if (count > first && !(out[count - 1] == out[first])) out[count++] = out[first];
    return count;
}
