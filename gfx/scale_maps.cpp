#include "gfx/scale_maps.h"

#include "platform/linux/memory.h"

namespace qv::gfx {

bool ScaleMaps::Reserve(Axis axis, int32_t size) {
    AxisMaps& maps = axes_[axis];
    if (size <= maps.capacity) return true;
    Release(axis);
    const size_t entries = size_t(size) + 1;
    maps.steps = static_cast<int32_t*>(AllocMemBlock(entries * sizeof(int32_t), 0));
    maps.fractions = static_cast<int32_t*>(AllocMemBlock(entries * sizeof(int32_t), 0));
    bool ok = maps.steps != nullptr && maps.fractions != nullptr;
    if (ok && axis == kX) {
        rows_ = static_cast<uint32_t*>(AllocMemBlock(3 * entries * sizeof(uint32_t), 0));
        ok = rows_ != nullptr;
    }
    if (!ok) {
        Release(axis);
        return false;
    }
    maps.capacity = size;
    return true;
}

void ScaleMaps::Free() {
    Release(kX);
    Release(kY);
}

void ScaleMaps::Release(Axis axis) {
    AxisMaps& maps = axes_[axis];
    FreeMemBlock(maps.steps);
    FreeMemBlock(maps.fractions);
    maps = {};
    if (axis == kX) {
        FreeMemBlock(rows_);
        rows_ = nullptr;
    }
}

}  // namespace qv::gfx
