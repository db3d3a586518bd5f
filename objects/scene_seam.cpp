#include "objects/scene_seam.h"

namespace qv::objects {
namespace {

SceneSeam* installed = nullptr;

}  // namespace

int SceneSeam::AddObjectLayer(qvVmState*, const ObjectLayer& layer) {
    FreeDisplayBitMap(layer.bitmap);
    FreePlaneBitMap(layer.mask);
    FreePlaneBitMap(layer.alpha);
    return ERR_NOLAYERS;
}

SceneSeam& Scene() {
    static SceneSeam defaults;
    return installed != nullptr ? *installed : defaults;
}

void SetSceneSeam(SceneSeam* seam) {
    installed = seam;
}

}  // namespace qv::objects
