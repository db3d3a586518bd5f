// The graphics library's questions about layers and sprites, answered from the picture
// list. The other subsystems that the graphics library reads through gfx::Neighbours add
// their answers to this one object, which the "bgpic" library installs.
#pragma once

#include "gfx/library/neighbours.h"

namespace qv::scene {

class SceneNeighbours : public gfx::Neighbours {
public:
    // object begins with its object header (a clip region, or any object a layer shows).
    bool ObjectInUseByLayers(uint32_t type, const void* object) override;
    void ClearLayerClipRegionRefs(const qvClipRegion* region) override;
    void ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region) override;
};

// Installs the scene's answers (tests install fakes built on them afterwards).
void InstallSceneNeighbours();

}  // namespace qv::scene
