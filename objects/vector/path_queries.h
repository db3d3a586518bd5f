// The questions a path puts to the vector back end, for the library's commands and for path
// rendering: each hands over the stream with its used length.
#pragma once

#include <cstdint>

#include "objects/vector/vector_backend.h"
#include "objects/vector/vector_library.h"

namespace qv {

struct PathBounds {
    double left, top, right, bottom;
};

// The bounds of the filled area (fill) or of the stroke of lineWidth of the non-empty path
// moved by (dx, dy); 0 or ERR_DRAWPATH when the back end fails.
int MeasurePath(const VectorBackend& backend, const qvPath& path, const qvPathStrokeStyle& style,
                bool fill, int32_t lineWidth, double dx, double dy, PathBounds* bounds);
// The same for a stream of length used bytes.
int MeasureStream(const VectorBackend& backend, const uint8_t* stream, size_t length,
                  const qvPathStrokeStyle& style, bool fill, int32_t lineWidth, double dx,
                  double dy, PathBounds* bounds);
// Moves the non-empty path's coordinates, the starts it leaves at the origin included
// (AnchorLooseStarts); 0, ERR_MEM or ERR_DRAWPATH.
int MovePath(const VectorBackend& backend, qvPath* path, double dx, double dy);
// The point a next relative segment of the non-empty path would start from; 0 or
// ERR_DRAWPATH.
int PathCurrentPoint(const VectorBackend& backend, const qvPath& path,
                     const qvPathStrokeStyle& style, double* x, double* y);

// The stroke state with the anti-alias bit of the draw library's form style, as the queries
// pass it.
qvPathStrokeStyle QueryStrokeStyle();

}  // namespace qv
