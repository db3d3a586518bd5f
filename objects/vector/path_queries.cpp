#include "objects/vector/path_queries.h"

#include "objects/vector/path_list.h"
#include "objects/vector/vector_neighbours.h"

namespace qv {

int MeasurePath(const VectorBackend& backend, const qvPath& path, const qvPathStrokeStyle& style,
                bool fill, int32_t lineWidth, double dx, double dy, PathBounds* bounds) {
    return MeasureStream(backend, path.segments, UsedBytes(path), style, fill, lineWidth, dx, dy,
                         bounds);
}

int MeasureStream(const VectorBackend& backend, const uint8_t* stream, size_t length,
                  const qvPathStrokeStyle& style, bool fill, int32_t lineWidth, double dx,
                  double dy, PathBounds* bounds) {
    qvPathExtentsRequest request{};
    request.stream = stream;
    request.length = length;
    request.style = &style;
    request.fill = fill ? 1 : 0;
    request.lineWidth = lineWidth;
    request.translateX = dx;
    request.translateY = dy;
    if (backend.getPathExtents(&request) == 0) return ERR_DRAWPATH;
    *bounds = {request.left, request.top, request.right, request.bottom};
    return 0;
}

int MovePath(const VectorBackend& backend, qvPath* path, double dx, double dy) {
    if (int code = AnchorLooseStarts(path)) return code;
    const qvPathTranslateRequest request{path->segments, UsedBytes(*path), dx, dy};
    return backend.translatePath(&request) != 0 ? 0 : ERR_DRAWPATH;
}

int PathCurrentPoint(const VectorBackend& backend, const qvPath& path,
                     const qvPathStrokeStyle& style, double* x, double* y) {
    return backend.getCurrentPoint(path.segments, UsedBytes(path), &style, x, y) != 0
               ? 0
               : ERR_DRAWPATH;
}

qvPathStrokeStyle QueryStrokeStyle() {
    const bool antiAlias = (PathNeighbours().DrawSettings().formStyle & kFormAntiAlias) != 0;
    return StrokeStyleOf(CurrentStrokeState(), antiAlias);
}

}  // namespace qv
