// The item records of layers: their images, copies and release.
#include <cstring>

#include "gfx/library/clip_regions.h"
#include "platform/linux/blocks.h"
#include "scene/layers/layer.h"

namespace {

void FreeImage(qvLayerImage& image) {
    FreeDisplayBitMap(image.bitmap);
    FreePlaneBitMap(image.mask);
    FreePlaneBitMap2(image.alpha);
    image = {};
}

// A block holding count values of source; none for none or when memory is short (then
// *failed is set).
template <typename V>
V* CopyArray(const V* source, size_t count, size_t capacity, bool* failed) {
    if (source == nullptr) return nullptr;
    auto* copy = static_cast<V*>(AllocMemBlock(capacity * sizeof(V), 1));
    if (copy == nullptr) {
        *failed = true;
        return nullptr;
    }
    std::memcpy(copy, source, count * sizeof(V));
    return copy;
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

qvTextRender* NewTextRenderRecord(const qvTextRender* source) {
    return static_cast<qvTextRender*>(source->Copy());
}

qvLayerItem* qvTextRender::Copy() const {
    const qvTextRender* source = this;
    qvTextRender* copy =
        InBlock<qvTextRender>([this](void* block) { return new (block) qvTextRender(*this); });
    if (copy == nullptr) return nullptr;
    copy->text = nullptr, copy->wordBreaks = nullptr, copy->tabResults = nullptr;
    bool failed = false;
    copy->text = CopyArray(source->text, size_t(source->textLength) + 1,
                           size_t(source->textLength) + 1, &failed);
    // The word-break table keeps room for one entry more than it holds.
    copy->wordBreaks = CopyArray(source->wordBreaks, size_t(source->wordBreakCount),
                                 size_t(source->wordBreakCount) + 1, &failed);
    copy->tabResults = CopyArray(source->tabResults, size_t(source->tabResultCount),
                                 size_t(source->tabResultCount), &failed);
    if (failed) {
        FreeTextRender(copy);
        return nullptr;
    }
    return copy;
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

void FreeLayerRender(qvLayerItem* item) {
    FreeImage(item->image);
    FreeImage(item->transformed);
    FreeImage(item->filtered);
    FreeImage(item->border);
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
    FreeImage(item->filtered);
}

void FreeLayerGeometryBitmaps(qvLayer* layer) {
    for (qvLayerItem* item : qv::scene::DistinctItems(layer)) {
        if (item != nullptr) FreeRenderBitmaps(item);
    }
}

void FreeLayerBorderCache(qvLayer* layer) {
    for (qvLayerItem* item : qv::scene::DistinctItems(layer)) {
        if (item != nullptr) FreeImage(item->border);
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
