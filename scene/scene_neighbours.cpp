#include "scene/scene_neighbours.h"

#include "scene/bgpic.h"

namespace qv::scene {

bool SceneNeighbours::ObjectInUseByLayers(uint32_t type, const void* object) {
    const auto* header = static_cast<const qvObjectHeader*>(object);
    return ::ObjectInUseByLayers(type, {header->id, header->handle}, const_cast<void*>(object));
}

void SceneNeighbours::ClearLayerClipRegionRefs(const qvClipRegion* region) {
    ::ClearLayerClipRegionRefs(region);
}

void SceneNeighbours::ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region) {
    ::ClearSpriteClipRegionRefs(L, region);
}

}  // namespace qv::scene
