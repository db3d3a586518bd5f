#include "objects/draw/shape_records.h"

#include <algorithm>

#include "engine/error_codes.h"

int CloneShapeItem(const qvShapeItem& from, qvShapeItem* to) {
    qv::draw::PolygonPoints points;
    const int32_t count = from.points != nullptr ? std::max(from.pointCount, 0) : 0;
    if (count > 0) {
        points = qv::draw::AllocPolygonPoints(count);
        if (points == nullptr) return ERR_MEM;
        std::copy(from.points.get(), from.points.get() + count, points.get());
    }
    qvShapeItem copy{from.x,         from.y,         from.width,
                     from.height,    from.drawState, from.x1,
                     from.y1,        from.x2,        from.y2,
                     from.thickness, from.colour,    {},
                     from.radiusX,   from.radiusY,   from.startAngle,
                     from.endAngle,  from.clockwise, std::move(points),
                     count};
    std::copy(std::begin(from.cornerLevels), std::end(from.cornerLevels), copy.cornerLevels);
    *to = std::move(copy);
    return 0;
}
