#include "scene/layers/layer.h"

#include "platform/linux/memory.h"
#include "scene/bgpic.h"

namespace qv::scene {

std::array<qvLayerItem*, 3> DistinctItems(const qvLayer* layer) {
    std::array<qvLayerItem*, 3> items = {layer->sourceItem, nullptr, nullptr};
    if (layer->pictureItem != layer->sourceItem) items[1] = layer->pictureItem;
    if (layer->displayItem != layer->sourceItem && layer->displayItem != layer->pictureItem) {
        items[2] = layer->displayItem;
    }
    return items;
}

}  // namespace qv::scene

void FreeLayerList(qvVmState*, qvBGPic* picture) {
    while (qvListNode* node = RemHead(&picture->layers)) {
        auto* layer = reinterpret_cast<qvLayer*>(node);
        for (qvLayerItem* item : qv::scene::DistinctItems(layer)) FreeMemBlock(item);
        FreeMemBlock(layer);
    }
}
