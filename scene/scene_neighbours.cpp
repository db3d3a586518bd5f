#include "scene/scene_neighbours.h"

#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"

namespace qv::scene {

bool SceneNeighbours::ObjectInUseByLayers(uint32_t type, const void* object) {
    const auto* header = static_cast<const qvObjectHeader*>(object);
    return ::ObjectInUseByLayers(type, {header->id, header->handle}, const_cast<void*>(object));
}

void SceneNeighbours::SetActiveClipRegion(const qvClipRegion* region) {
    if (qvBGPic* picture = Displays().outputPicture) {
        picture->clipRegion = const_cast<qvClipRegion*>(region);
    }
}

void SceneNeighbours::ClearPictureClipRegionRefs(const qvClipRegion* region) {
    const auto forget = [region](qvBGPic* picture) {
        if (picture != nullptr && picture->clipRegion == region) picture->clipRegion = nullptr;
    };
    ::ClearPictureClipRegionRefs(region);
    // Records that no list holds: the double buffer and the output of a redirection.
    for (qvDisplay* display = FirstDisplay(); display != nullptr; display = NextDisplay(display)) {
        forget(display->doubleBufferPicture);
        forget(display->outputPseudoPicture);
    }
}

void SceneNeighbours::ClearLayerClipRegionRefs(const qvClipRegion* region) {
    ::ClearLayerClipRegionRefs(region);
}

void SceneNeighbours::ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region) {
    ::ClearSpriteClipRegionRefs(L, region);
}

int32_t SceneNeighbours::FindLayerArg(qvVmState* L, int idx) {
    return ::FindLayerArg(L, idx, LayerDisplays().OutputPicture());
}

int32_t SceneNeighbours::CountLayers() {
    return ::CountLayers(LayerDisplays().OutputPicture());
}

int SceneNeighbours::CountLayersOnScreen() {
    return ::CountLayers(LayerDisplays().OutputPicture());
}

int SceneNeighbours::CountAllLayers() {
    return ::CountAllLayers();
}

void SceneNeighbours::AddLayerBoundsToRectList(qvVmState* L, qvDisplay* display, void* object) {
    qvBGPic* picture = LayerDisplays().ShownPicture(display);
    if (picture == nullptr) return;
    const auto* header = static_cast<const qvObjectHeader*>(object);
    const qvObjectId id{header->id, header->handle};
    ForEachLayer(&picture->layers, [&](qvLayer* layer) {
        if (layer->objectId.number != id.number || layer->objectId.handle != id.handle) return;
        int32_t x, y, width, height;
        GetLayerBounds(L, layer, layer->displayItem, &x, &y, &width, &height);
        AddDisplayDirtyRect(L, display, x, y, width, height);
    });
}

}  // namespace qv::scene
