// The item records of layers: their images, copies and release.
#include <algorithm>
#include <cstring>

#include "gfx/library/clip_regions.h"
#include "platform/linux/blocks.h"
#include "scene/layers/layer.h"

namespace {

// A block with room for count + 1 entries holding the count entries of source (none for
// none); false when memory is short.
bool CopyTable(const int32_t* source, int32_t count, int32_t** copy) {
    *copy = nullptr;
    if (source == nullptr) return true;
    const size_t entries = size_t(std::max(count, 0));
    *copy = static_cast<int32_t*>(AllocMemBlock((entries + 1) * sizeof(int32_t), 1));
    if (*copy == nullptr) return false;
    if (entries > 0) std::memcpy(*copy, source, entries * sizeof(int32_t));
    return true;
}

bool CopyText(const char* source, char** copy) {
    *copy = nullptr;
    if (source == nullptr) return true;
    const size_t size = std::strlen(source) + 1;
    *copy = static_cast<char*>(AllocMemBlock(size, 0));
    if (*copy == nullptr) return false;
    std::memcpy(*copy, source, size);
    return true;
}

}  // namespace

qvLayerItem::~qvLayerItem() {
    FreeLayerRender(this);
}

void qvLayerItem::ForgetImages() {
    image = transformed = filtered = border = {};
    shadowPlane = nullptr;
    clipRegion = nullptr;
    ownsClipRegion = false;
}

qvLayerItem* qvLayerItem::Copy() const {
    return InBlock<qvLayerItem>([this](void* block) { return new (block) qvLayerItem(*this); });
}

qvLayerItem* qvImageItem::Copy() const {
    qvImageItem* copy =
        InBlock<qvImageItem>([this](void* block) { return new (block) qvImageItem(*this); });
    // The copy's image is rendered from the part, so it starts at its own origin.
    if (copy != nullptr) copy->partX = copy->partY = 0;
    return copy;
}

qvLayerItem* qvAnimItem::Copy() const {
    return InBlock<qvAnimItem>([this](void* block) { return new (block) qvAnimItem(*this); });
}

qvTextRender::~qvTextRender() {
    FreeMemBlock(text);
    FreeMemBlock(wordBreaks);
    FreeMemBlock(tabResults);
}

qvLayerItem* qvTextRender::Copy() const {
    qvTextRender* copy =
        InBlock<qvTextRender>([this](void* block) { return new (block) qvTextRender(*this); });
    if (copy == nullptr) return nullptr;
    copy->text = nullptr, copy->wordBreaks = nullptr, copy->tabResults = nullptr;
    if (!CopyText(text, &copy->text) || !CopyTable(wordBreaks, wordBreakCount, &copy->wordBreaks) ||
        !CopyTable(tabResults, tabResultCount, &copy->tabResults)) {
        FreeTextRender(copy);
        return nullptr;
    }
    return copy;
}

qvTextRender* NewTextRenderRecord(const qvTextRender* source) {
    return static_cast<qvTextRender*>(source->Copy());
}

void FreeTextRender(qvTextRender* render) {
    qv::DeleteBlock(render);
}

void FreeLayerItem(qvLayerItem* item) {
    qv::DeleteBlock(item);
}

void FreeLayerItems(qvLayer* layer) {
    for (qvLayerItem* item : qv::scene::DistinctItems(layer)) FreeLayerItem(item);
    layer->sourceItem = layer->pictureItem = layer->displayItem = nullptr;
}

void FreeLayerImage(qvLayerImage* image) {
    FreeDisplayBitMap(image->bitmap);
    FreePlaneBitMap(image->mask);
    FreePlaneBitMap2(image->alpha);
    *image = {};
}

void FreeLayerRender(qvLayerItem* item) {
    FreeLayerImage(&item->image);
    FreeLayerImage(&item->transformed);
    FreeLayerImage(&item->filtered);
    FreeLayerImage(&item->border);
    FreePlaneBitMap2(item->shadowPlane);
    item->shadowPlane = nullptr;
    if (item->ownsClipRegion && item->clipRegion != nullptr) {
        // A transformed copy is listed nowhere and holds no script data.
        ReleaseItemResources(nullptr, item->clipRegion);
        FreeMemBlock(item->clipRegion);
    }
    item->clipRegion = nullptr;
    item->ownsClipRegion = false;
}

void FreeRenderBitmaps(qvLayerItem* item) {
    FreeLayerImage(&item->filtered);
}

void FreeLayerGeometryBitmaps(qvLayer* layer) {
    for (qvLayerItem* item : qv::scene::DistinctItems(layer)) {
        if (item != nullptr) FreeRenderBitmaps(item);
    }
}

void FreeLayerBorderCache(qvLayer* layer) {
    for (qvLayerItem* item : qv::scene::DistinctItems(layer)) {
        if (item != nullptr) FreeLayerImage(&item->border);
    }
}

void FreeLayerCaches(qvLayer* layer) {
    for (qvLayerItem* item : qv::scene::DistinctItems(layer)) {
        if (item == nullptr) continue;
        FreePlaneBitMap2(item->shadowPlane);
        item->shadowPlane = nullptr;
    }
}

qvLayerItem* CopyShapeRecord(const qvLayerItem* item) {
    return item->Copy();
}

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
