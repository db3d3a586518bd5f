// Shape geometry: the effective style of a shape, its outline and border ring as integer
// points, turned by its matrix and laid out with its shadow inside one image; the point
// transform shared with the layer compositor; and the conversions of script numbers to
// pixels.
#pragma once

#include <cstdint>

#include "gfx/geometry.h"
#include "objects/draw/outline.h"
#include "objects/draw/shape_records.h"

namespace qv::draw {

// A double as the nearest int32 (lrint), saturated; NaN gives 0.
int32_t RoundSaturate(double value);

// How a matrix scales widths: |a| when b = c = 0, else sqrt(|ad - bc|), so that a turned
// line or outline keeps its width.
double WidthScale(const double matrix[4]);
// width x WidthScale, rounded (not clamped).
int32_t ScaleWidth(int32_t width, const double matrix[4]);

// (x, y) turned by the matrix about the pivot: (lrint(a dx + c dy + pivot x), lrint(b dx +
// d dy + pivot y)) with (dx, dy) its offset from the pivot, saturated.
qvVertex TurnPoint(const double matrix[4], double pivotX, double pivotY, double x, double y);

// Whether the matrix only enlarges or reduces (no turn, no flip): b = c = 0, a and d above 0.
bool IsPlainScale(const double matrix[4]);

// Where a shape of that side turns under the matrix, in its pixels' frame (pixel i's centre
// at i): for a turn, flip or shear the anchor point itself, size x anchor - 0.5, as brushes
// and paths turn about it, so that a box turned about its middle lies on itself; for a plain
// scale trunc(size x anchor), the pixel the span is scaled about (SpanTransform).
double ShapePivot(const double matrix[4], int64_t size, double anchor);

// A plain scale as the shape's outline takes it: each factor made to carry the outline's
// extreme pixels (0 and size - 1) onto the ends of trunc(size x factor) pixels, the span that
// the picture of the shape's box has when the layers scale it. A side of 1 keeps its factor.
// Other transforms are returned as they are.
ShapeTransform SpanTransform(const ShapeTransform& transform, int64_t width, int64_t height);

// How far the span of a side scaled by SpanTransform moves so that it lies where the picture
// of the side, scaled about its anchor point, lies: its first pixel at trunc(size x anchor) -
// trunc(span x anchor) of the side's frame (0 for anchor 0), as a scaled brush is placed.
int64_t SpanShift(double factor, int64_t size, double anchor);

// How far a mitred corner may move a border vertex, in border sizes: a spike sharper than
// about 11 degrees is cut there instead of reaching out without bound.
inline constexpr double kMitreLimit = 10;

}  // namespace qv::draw

// Maps points by the matrix about the pivot (cx, cy) (ShapePivot), as TurnPoint does. With
// normalise, the minimum is then taken from every point. Returns the bounds of the mapped
// points (before normalising): minimum x and y (+100000 with no point) and the size
// maximum + 1 - minimum (64 bits; 0 with no point). Any out pointer may be null.
void TransformPoints(const double matrix[4], double cx, double cy, qvVertex* points, int32_t count,
                     bool normalise, int32_t* minX, int32_t* minY, int64_t* outWidth,
                     int64_t* outHeight);

// The shadow's extents on each side of a shape for a direction 0 (north) ... 7 (north-west):
// left for 5-7, top for 7, 0, 1, right for 1-3, bottom for 3-5; all 0 for size 0.
void ShadowDirectionMasks(int32_t size, uint32_t direction, int32_t* left, int32_t* top,
                          int32_t* right, int32_t* bottom);

// Prepares the shape of the descriptor (type, box, corner levels, angles, clockwise flag,
// points, draw state) for rendering: the effective style (border and shadow only for filled
// shapes), the outline and the border ring (the outline of the box grown by the border, or
// for a polygon its mitred offset, a rectangle when the polygon is degenerate), both turned
// by the transform about its anchor, and the image that holds ring, fill and shadow. Writes
// the layout and point lists into the descriptor. 0, ERR_WRONGUSAGE for a box side below 1,
// or ERR_MEM when the image would exceed the largest bitmap. An unknown type gives empty
// lists and an empty image.
int PrepareShapeGeometry(const qvShapeWork& work, qvShapeDesc* desc,
                         const qv::draw::ShapeTransform& transform);
