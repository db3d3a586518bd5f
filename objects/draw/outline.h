// Shape outlines: the points of boxes with rounded corners, circles, ellipses, arcs and
// polygons, built into the fixed work buffers from whole-degree angle tables. Curves are
// generated through the shape's matrix, so that a turned ellipse is as exact as an upright
// one; plain boxes and polygons are turned later, with their integer points.
#pragma once

#include <cstdint>
#include <memory>

#include "gfx/geometry.h"
#include "platform/linux/memory.h"

struct qvOutlinePoint {
    double x, y;
    bool operator==(const qvOutlinePoint&) const = default;
};

namespace qv::draw {

// Shape types, which are also the layer types of drawn shapes.
enum : int32_t {
    BOX = 14,
    CIRCLE = 15,
    ELLIPSE = 16,
    LINE = 17,
    PLOT = 18,
    POLYGON = 27,
    ARC = 31
};

// Points of any outline, a polygon's 999 and its closing point included.
inline constexpr int32_t kOutlineCapacity = 1001;
inline constexpr int32_t kMaxPolygonPoints = 999;

struct BlockFree {
    void operator()(void* block) const { FreeMemBlock(block); }
};
// A polygon's point array (kMaxPolygonPoints + 1 points), owned by its reader or its item.
using PolygonPoints = std::unique_ptr<qvOutlinePoint[], BlockFree>;
PolygonPoints AllocPolygonPoints(int32_t count);

// A 2x2 matrix {a, b, c, d} mapping (x, y) to (a x + c y, b x + d y), and the anchor about
// which it turns a shape, as fractions of the shape's box.
struct ShapeTransform {
    double matrix[4] = {1, 0, 0, 1};
    double anchorX = 0, anchorY = 0;
    bool IsIdentity() const;
};

// The curve step in whole degrees for a governing size (a corner radius, or the larger half
// side of an ellipse's box): 90 up to 2, 30 up to 9, 18 up to 14, else 5.
int32_t CurveStep(int64_t size);

}  // namespace qv::draw

// The work of one shape: six point buffers of kOutlineCapacity and the two angle tables of
// 361 entries, made once (by the library's registration) and never grown.
struct qvShapeWork {
    qv::draw::PolygonPoints outline;     // the outline as built
    qv::draw::PolygonPoints simplified;  // the outline without repeated and collinear points
    qv::draw::PolygonPoints offsets;     // the mitred border ring
    std::unique_ptr<qvVertex[], qv::draw::BlockFree> fill;         // the fill, integer
    std::unique_ptr<qvVertex[], qv::draw::BlockFree> transformed;  // a fill copy to turn
    std::unique_ptr<qvVertex[], qv::draw::BlockFree> border;       // the ring, integer
    // sin((360 - k) degrees) = -sin k and cos((360 - k) degrees) = cos k for k = 0 ... 360.
    std::unique_ptr<double[], qv::draw::BlockFree> sine, cosine;
};

// Allocates the buffers and fills the tables; ERR_MEM, with nothing kept, when one fails.
int AllocShapeWork(qvShapeWork* work);
void FreeShapeWork(qvShapeWork* work);

// What GenerateArcPoints draws: an elliptic arc in whole degrees of the angle tables (0
// right, 90 up), its centre and radii in 16.16 fixed point held in doubles.
struct qvArcSpec {
    const double* matrix;  // {a, b, c, d}
    int64_t start, end;
    int32_t step;
    bool pie;     // close an arc below 360 degrees through the centre
    bool bounds;  // two leading points: the whole ellipse's minimum and maximum
    double cx, cy, rx, ry;
    // The point the matrix turns about, in the frame of the centre; ArcPivot gives the
    // anchor's point of the ellipse's own box.
    double pivotX, pivotY;
};

// The pivot of anchor fractions over the box of the full ellipse, 2 (rx >> 16) + 1 wide and
// 2 (ry >> 16) + 1 high, around the integer centre.
void ArcPivot(double cx, double cy, double rx, double ry, double anchorX, double anchorY,
              int64_t* pivotX, int64_t* pivotY);

// Writes the arc's points to out (room for kOutlineCapacity) and returns their number, the
// bounding entries included. Each point is lrint(centre + M (rx cos k, -ry sin k)) >> 16
// (floored), moved by how far the matrix carries the centre about the pivot; a point equal
// to the one before it is left out, and a single point is repeated.
int32_t GenerateArcPoints(const qvShapeWork& work, const qvArcSpec& arc, qvOutlinePoint* out);

// The shape an outline is built for. Angles are the script's (clockwise from the right).
struct qvOutlineSpec {
    int32_t type;
    int64_t width, height;         // the outline's box
    int32_t cornerLevels[4];       // BOX: top-left, bottom-left, bottom-right, top-right
    int32_t start, end;            // ARC
    bool clockwise;                // ARC
    const qvOutlinePoint* points;  // POLYGON, relative to its box
    int32_t pointCount;
    const double* matrix;   // {a, b, c, d}; curves are generated through it
    double pivotX, pivotY;  // where it turns, in the box's frame (ShapePivot)
};

// Whether the outline of a shape comes out of BuildShapeOutline turned by its matrix.
bool OutlineCarriesTransform(const qvOutlineSpec& spec);

// Builds the closed outline (last point equal to the first) into out and returns its count;
// 0 for other types. ARC begins with its two bounding entries and closes through the
// centre below 360 degrees.
int32_t BuildShapeOutline(const qvShapeWork& work, const qvOutlineSpec& spec, qvOutlinePoint* out);
