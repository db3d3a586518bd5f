// The style engine's rows: per object type, how the type's own keys of a style table are read
// into a layer's working copies, what a retype to the type starts from, and the type's keys of
// GetLayerStyle. The library that draws a type registers its row when it registers itself.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw_tags.h"
#include "scene/layers/layer.h"

namespace qv::scene {

// What the restyling of one layer works on, and what its keys asked for.
struct LayerStyleWork {
    qvLayer layer{};                // working copy of the record; layer.type is the working type
    qvDrawTransform transform{};    // working copy of the transform block
    qvLayerItem* item = nullptr;    // working item, the engine's: a Copy() of the source item, or
                                    // on a retype what the row's retypeItem made
    const qvLayer* live = nullptr;  // the layer as it is (read only)
    uint32_t oldType = 0;
    bool retype = false;

    // Set by the readers.
    bool rebuild = false;    // content keys: the layer is rebuilt from the working copies
    bool refresh = false;    // style only: the layer's area is redrawn
    bool relayout = false;   // text layers: the cached layout is dropped
    bool cursorSet = false;  // PRINT: cursorx or cursory was given
    bool pathId = false;     // VECTORPATH: a path id was given (build flag 0x80)
    int cacheKinds = 0;      // QV_CACHE_* of the objects id keys assigned
    // LINE: x1, y1, x2 or y2 was given; the position becomes the points' minimum.
    bool linePoints = false;
    int32_t lineX = 0, lineY = 0;
    // POLYGON: new vertices were given; absolute x and y add their origin.
    bool hasOrigin = false;
    int32_t originX = 0, originY = 0;
};

// The working item of a retype to a row's type, made from work (live layer, old type, the
// working copies read so far); none when memory is short.
using LayerRetypeItem = qvLayerItem* (*)(qvVmState* L, const LayerStyleWork* work);
// Reads the type's keys of the style table at t into work; 0 or the error code the engine
// returns.
using LayerStyleReader = int (*)(qvVmState* L, int t, LayerStyleWork* work);
// Sets the type's keys of a layer into the table at the top of the stack (GetLayerStyle).
using LayerStylePusher = void (*)(qvVmState* L, const qvLayer* layer);

struct LayerStyleRow {
    LayerStyleReader read = nullptr;
    LayerRetypeItem retypeItem = nullptr;
    LayerStylePusher push = nullptr;
};

// The working item of a layer restyled as its own type: a copy of its source item that keeps
// the offset of the part it shows (a plain copy drops it, being rendered from the part). None
// when memory is short.
qvLayerItem* CopyWorkingItem(const qvLayer* layer);

// Installs the row of a type (an object type below 64); a row of nulls removes it.
void SetLayerStyleRow(uint32_t type, const LayerStyleRow& row);
// The row of a type; none when the type has no keys of its own.
const LayerStyleRow* FindLayerStyleRow(uint32_t type);

}  // namespace qv::scene
