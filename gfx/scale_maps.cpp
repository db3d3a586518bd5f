#include "gfx/scale_maps.h"

#include "platform/linux/memory.h"

namespace qv::gfx {

bool ScaleMaps::Reserve(Axis axis, int32_t size) {
    AxisMaps& maps = axes_[axis];
    if (size <= maps.capacity) return true;
    Release(maps);
    const size_t bytes = (size_t(size) + 1) * sizeof(int32_t);
    maps.steps = static_cast<int32_t*>(AllocMemBlock(bytes, 0));
    maps.fractions = static_cast<int32_t*>(AllocMemBlock(bytes, 0));
    if (maps.steps == nullptr || maps.fractions == nullptr) {
        Release(maps);
        return false;
    }
    maps.capacity = size;
    return true;
}

void ScaleMaps::Free() {
    Release(axes_[kX]);
    Release(axes_[kY]);
}

void ScaleMaps::Release(AxisMaps& maps) {
    FreeMemBlock(maps.steps);
    FreeMemBlock(maps.fractions);
    maps = {};
}

}  // namespace qv::gfx
