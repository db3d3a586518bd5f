// The compositor's effects: the filtered image, the border image and the shadow plane an
// item caches, where a shadow lies, and the painting of shadows and borders. Each cache is
// built once and kept until the code that changes the layer frees it.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "scene/layers/display_seam.h"

struct qvClipRegion;
struct qvLayer;
struct qvLayerItem;

namespace qv::scene {

struct LayerRect {
    int32_t x, y, width, height;
};

// The item's filtered image, built when missing from its image (transformed when asked):
// 0, or the error of the image or of the filter pass (then nothing is kept, so the next
// request tries again).
int BuildFilteredImage(qvVmState* L, qvLayer* layer, qvLayerItem* item, int withTransform);
// Builds the item's border image when the border is on and none is cached; true when the
// item has one.
bool EnsureLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item);
// Where the item's border image lies.
LayerRect BorderRect(const qvLayerItem* item);
// Where the item's shadow lies for a display of the scale: around the border (when on) or
// the draw rectangle, grown by the blur radius (at most the widest a shadow is blurred) and
// moved by the shadow size in its direction.
LayerRect ShadowRect(const qvLayer* layer, const qvLayerItem* item, const DisplayScale& scale);

// The shadow and the border of one layer painted into the area of dest (the clip region's
// shape honoured). PaintLayerShadow is false when the layer's image cannot be had (the layer
// is skipped); PaintLayerBorder is true when the border is all the layer shows.
bool PaintLayerShadow(qvVmState* L, qvLayer* layer, qvLayerItem* item, qvDisplayBitMap* dest,
                      const LayerRect& area, const DisplayScale& scale, const qvClipRegion* region);
bool PaintLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, qvDisplayBitMap* dest,
                      const LayerRect& area, const qvClipRegion* region);

// Cuts the area to the rectangle; false when nothing is left.
bool CutRect(LayerRect* area, const LayerRect& rect);

}  // namespace qv::scene
