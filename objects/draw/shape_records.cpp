#include "objects/draw/shape_records.h"

#include <algorithm>

#include "gfx/clip.h"
#include "platform/linux/blocks.h"

qvShapeItem::qvShapeItem(const qvShapeItem& other)
    : qvLayerItem(other),
      drawState(other.drawState),
      x1(other.x1),
      y1(other.y1),
      x2(other.x2),
      y2(other.y2),
      thickness(other.thickness),
      colour(other.colour),
      radiusX(other.radiusX),
      radiusY(other.radiusY),
      startAngle(other.startAngle),
      endAngle(other.endAngle),
      clockwise(other.clockwise),
      pointCount(0) {
    std::copy(std::begin(other.cornerLevels), std::end(other.cornerLevels), cornerLevels);
}

qvLayerItem* qvShapeItem::Copy() const {
    const int32_t count = points != nullptr ? std::max(pointCount, 0) : 0;
    qv::draw::PolygonPoints copied;
    if (count > 0) {
        copied = qv::draw::AllocPolygonPoints(count);
        if (copied == nullptr) return nullptr;
        std::copy(points.get(), points.get() + count, copied.get());
    }
    qvShapeItem* copy =
        InBlock<qvShapeItem>([this](void* block) { return new (block) qvShapeItem(*this); });
    if (copy == nullptr) return nullptr;
    copy->points = std::move(copied);
    copy->pointCount = count;
    return copy;
}

void qvShapeItem::Translate(int32_t dx, int32_t dy) {
    using qv::Saturate32;
    x1 = Saturate32(int64_t(x1) + dx), y1 = Saturate32(int64_t(y1) + dy);
    x2 = Saturate32(int64_t(x2) + dx), y2 = Saturate32(int64_t(y2) + dy);
}
