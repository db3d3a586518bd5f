#include "scene/layers/display_seam.h"

namespace qv::scene {
namespace {

DisplaySeam defaults;
DisplaySeam* installed = &defaults;

}  // namespace

DisplaySeam& LayerDisplays() {
    return *installed;
}

void SetDisplaySeam(DisplaySeam* seam) {
    installed = seam != nullptr ? seam : &defaults;
}

}  // namespace qv::scene
