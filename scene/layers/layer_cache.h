// The layer content caches: a layer's picture item (its content under the layer's transform)
// and display item (scaled to the display by the layer scaling engine).
#pragma once

#include "engine/vm.h"

struct qvLayer;

// Mode bits of BuildLayerCache.
enum : int {
    QV_CACHE_DISPLAYITEM = 1,  // build the display item, else the picture item
    QV_CACHE_NOREPAINT = 2,    // the caller repaints
    QV_CACHE_NOPREVIOUS = 4,   // with QV_CACHE_DISPLAYITEM: no previous area to repaint
};

// Builds the item the mode names. 0 or an error code, the layer keeping its items on error.
// The items are not built yet: every layer shows its source item.
int BuildLayerCache(qvVmState* L, qvLayer* layer, int mode);
