#include "scene/object_hooks.h"

namespace qv::scene {
namespace {

ObjectHooks defaults;
ObjectHooks* installed = &defaults;

}  // namespace

int ObjectHooks::BrushImage(qvVmState*, qvObjectId id, gfx::PictureView*, qvImageHandle**) {
    return ObjectNotFound(id, ERR_FINDBRUSH);
}

int ObjectHooks::AnimFrame(qvVmState*, qvObjectId id, int32_t, gfx::PictureView*) {
    return ObjectNotFound(id, ERR_FINDANIM);
}

int ObjectHooks::TextObjectImage(qvVmState*, qvObjectId id, gfx::PictureView*) {
    return ObjectNotFound(id, ERR_FINDTEXTOBJECT);
}

ObjectHooks& Objects() {
    return *installed;
}

void SetObjectHooks(ObjectHooks* hooks) {
    installed = hooks != nullptr ? hooks : &defaults;
}

}  // namespace qv::scene
