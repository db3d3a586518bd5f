// The graphics library's questions about layers and sprites, answered from the picture
// list and the layer lists. The player joins these answers with the other subsystems' into
// the one object it installs (runtime/library_table.cpp).
#pragma once

#include "gfx/library/neighbours.h"

namespace qv::scene {

class SceneNeighbours : public virtual gfx::Neighbours {
public:
    // object begins with its object header (a clip region, or any object a layer shows).
    bool ObjectInUseByLayers(uint32_t type, const void* object) override;
    // The active clip region is kept by the output picture (or by the display's output
    // record while a brush or another object is the output).
    void SetActiveClipRegion(const qvClipRegion* region) override;
    void ClearPictureClipRegionRefs(const qvClipRegion* region) override;
    void ClearLayerClipRegionRefs(const qvClipRegion* region) override;
    void ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region) override;
    // The layers of the current output picture.
    int32_t FindLayerArg(qvVmState* L, int idx) override;
    int32_t CountLayers() override;
    int CountLayersOnScreen() override;
    int CountAllLayers() override;
    // The bounds of every layer of the display's picture that shows the object go to the
    // display's dirty list.
    void AddLayerBoundsToRectList(qvVmState* L, qvDisplay* display, void* object) override;
};

}  // namespace qv::scene
