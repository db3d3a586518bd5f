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

// Until the object libraries install theirs, nothing can be made private or selected.
int ObjectHooks::AddLayerBrush(qvVmState*, qvDisplayBitMap*, qvPlaneBitMap*, qvPlaneBitMap*,
                               int32_t, int32_t, qvObjectId*) {
    return ERR_WRONGUSAGE;
}

int ObjectHooks::PrivateLayerBrush(qvVmState*, qvLayer*, gfx::PictureView*) {
    return ERR_WRONGUSAGE;
}

int ObjectHooks::PrivateLayerAnim(qvVmState*, qvLayer*, int32_t, gfx::PictureView*) {
    return ERR_WRONGUSAGE;
}

int ObjectHooks::SelectOutputObject(qvVmState*, uint32_t, qvObjectId, int32_t, int32_t, int32_t) {
    return ERR_WRONGUSAGE;
}

ObjectHooks& Objects() {
    return *installed;
}

void SetObjectHooks(ObjectHooks* hooks) {
    installed = hooks != nullptr ? hooks : &defaults;
}

}  // namespace qv::scene
