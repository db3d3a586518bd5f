#include "objects/scene_seam.h"

namespace qv::objects {
namespace {

SceneSeam* installed = nullptr;

}  // namespace

SceneSeam& Scene() {
    static SceneSeam defaults;
    return installed != nullptr ? *installed : defaults;
}

void SetSceneSeam(SceneSeam* seam) {
    installed = seam;
}

}  // namespace qv::objects
