#include "scene/layers/layer_cache.h"

int BuildLayerCache(qvVmState*, qvLayer*, int) {
    return 0;
}
