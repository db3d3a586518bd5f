// The shape and pixel commands of the "draw" library, and the seam through which forced path
// use hands shapes to the vector library's path rendering.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw/outline.h"

// A shape handed to path rendering instead of being drawn.
struct qvShapePathRequest {
    int32_t type;  // BOX, CIRCLE, ELLIPSE, ARC, POLYGON
    int32_t x, y;
    uint32_t colour;
    int tagsIndex;            // the argument holding the drawing tags; 0 for none
    int32_t width, height;    // BOX
    int32_t cornerLevels[4];  // BOX
    int32_t radiusX, radiusY;
    int32_t startAngle, endAngle, clockwise;  // ARC
    const qvOutlinePoint* points;             // POLYGON
    int32_t pointCount;
};

namespace qv::draw {

// Path rendering installs this; while it is installed and path use is forced, the shape
// commands hand their shape to it and return its result. None: shapes are always drawn.
using ShapeToPathFn = int (*)(qvVmState* L, const qvShapePathRequest& shape);
void SetShapeToPath(ShapeToPathFn fn);
ShapeToPathFn InstalledShapeToPath();
// Whether path use is forced; the vector library answers by default (tests replace it).
using PathForcedFn = bool (*)();
void SetPathForcedQuery(PathForcedFn fn);

int Box(qvVmState* L);
int Plot(qvVmState* L);
int Ellipse(qvVmState* L);
int Circle(qvVmState* L);
int Polygon(qvVmState* L);
int ReadPixel(qvVmState* L);
int Cls(qvVmState* L);
int Arc(qvVmState* L);

}  // namespace qv::draw
