// The graphics library's questions about layers and sprites, answered from the picture
// list. The player joins these answers with the other subsystems' into the one object it
// installs (runtime/library_table.cpp).
#pragma once

#include "gfx/library/neighbours.h"

namespace qv::scene {

class SceneNeighbours : public virtual gfx::Neighbours {
public:
    // object begins with its object header (a clip region, or any object a layer shows).
    bool ObjectInUseByLayers(uint32_t type, const void* object) override;
    void ClearLayerClipRegionRefs(const qvClipRegion* region) override;
    void ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region) override;
};

}  // namespace qv::scene
