#include "objects/scene_hooks.h"

#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/output.h"
#include "objects/text/text_objects.h"
#include "scene/bgpic.h"
#include "scene/layers/layer.h"

namespace qv::objects {

int SceneHooks::BrushImage(qvVmState* L, qvObjectId id, gfx::PictureView* out,
                           qvImageHandle** source) {
    qvBrush* brush = nullptr;
    if (const int code = GetBrush(L, id, &brush, QV_BRUSH_ORPHANS)) return code;
    *out = {brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height};
    *source = brush->imageSource;
    return 0;
}

bool SceneHooks::PlaneSlots(uint32_t type, qvObjectId id, int32_t frame, qvPlaneBitMap*** mask,
                            qvPlaneBitMap*** alpha) {
    if (type == gfx::kTypeAnim) {
        qvAnim* anim = nullptr;
        if (FindAnimById(nullptr, id, &anim, QV_ANIM_ORPHANS) != 0 || frame < 0 ||
            frame >= anim->frameCount) {
            return false;
        }
        *mask = &anim->masks[frame], *alpha = &anim->alphas[frame];
        return true;
    }
    if (type != gfx::kTypeBrush) return ObjectHooks::PlaneSlots(type, id, frame, mask, alpha);
    qvBrush* brush = nullptr;
    if (GetBrush(nullptr, id, &brush, QV_BRUSH_ORPHANS) != 0) return false;
    *mask = &brush->mask, *alpha = &brush->alpha;
    return true;
}

void SceneHooks::FreeOrphanBrushes(qvVmState* L) {
    ::FreeOrphanBrushes(L);
}

int SceneHooks::TextObjectImage(qvVmState* L, qvObjectId id, gfx::PictureView* out) {
    qvTextObject* object = nullptr;
    if (const int code = FindTextObject(L, id, &object, QV_TEXTOBJECT_ORPHANS)) return code;
    *out = {object->bitmap, object->mask, object->alpha, object->width, object->height};
    return 0;
}

void SceneHooks::FreeOrphanTextObjects(qvVmState* L) {
    ::FreeOrphanTextObjects(L);
}

int SceneHooks::AddLayerBrush(qvVmState*, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                              qvPlaneBitMap* alpha, int32_t width, int32_t height, qvObjectId* id) {
    qvBrush* brush = nullptr;
    const int code =
        AddBrush(AutomaticBrushId(), kBitmapBrush, width, height, 0, 0, nullptr, bitmap,
                 mask != nullptr ? kMaskWithoutKey : kNoTransparency, mask, alpha, &brush);
    if (code != 0) return code;
    // Made for the layer alone: private from the start, collected when the layer goes.
    brush->orphan = 1;
    *id = {brush->header.id, brush->header.handle};
    return 0;
}

// A private brush is an orphan copy that only this layer shows; drawing into it no longer
// matches the picture it was loaded from.
int SceneHooks::PrivateLayerBrush(qvVmState* L, qvLayer* layer, gfx::PictureView* out) {
    qvBrush* brush = nullptr;
    if (const int code = GetBrush(L, layer->objectId, &brush, QV_BRUSH_ORPHANS)) return code;
    if (brush->orphan == 0 ||
        ObjectInUseByOtherLayers(gfx::kTypeBrush, layer->objectId, brush, layer)) {
        qvObjectId copy{};
        if (const int code = CloneBrushForLayers(L, brush, &copy)) return code;
        if (const int code = GetBrush(L, copy, &brush, QV_BRUSH_ORPHANS)) return code;
        layer->objectId = copy;
    }
    ReleaseImageHandle(brush->imageSource);
    brush->imageSource = nullptr;
    *out = {brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height};
    return 0;
}

// SelectBGPic's pixel modes and SelectLayer: the object's pixels (with combo its planes too).
int SceneHooks::SelectOutputObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t selMode,
                                   int32_t combo, int32_t frame) {
    return objects::SelectOutputObject(L, type, id, gfx::kTypeBrush, frame, selMode, combo);
}

int SceneHooks::AnimFrame(qvVmState* L, qvObjectId id, int32_t frame, gfx::PictureView* out) {
    qvAnim* anim = nullptr;
    if (const int code = FindAnimById(L, id, &anim, QV_ANIM_ORPHANS)) return code;
    *out = {nullptr, nullptr, nullptr, anim->width, anim->height};
    return GetAnimFrameBitmap(anim, frame, &out->bitmap, &out->mask, &out->alpha);
}

void SceneHooks::FreeOrphanAnims(qvVmState* L) {
    ::FreeOrphanAnims(L);
}

// As for brushes: an orphan copy of every frame that only this layer shows.
int SceneHooks::PrivateLayerAnim(qvVmState* L, qvLayer* layer, int32_t frame,
                                 gfx::PictureView* out) {
    qvAnim* anim = nullptr;
    if (const int code = FindAnimById(L, layer->objectId, &anim, QV_ANIM_ORPHANS)) return code;
    // A frame outside the anim is refused before anything is copied.
    if (frame < 0 || frame >= anim->frameCount) return ERR_ANIMFRAME;
    if (anim->orphan == 0 ||
        ObjectInUseByOtherLayers(gfx::kTypeAnim, layer->objectId, anim, layer)) {
        qvObjectId copy{};
        if (const int code = CopyAnimFrames(L, anim, &copy)) return code;
        if (const int code = FindAnimById(L, copy, &anim, QV_ANIM_ORPHANS)) return code;
        anim->orphan = 1;
        layer->objectId = copy;
    }
    return AnimFrame(L, layer->objectId, frame, out);
}

}  // namespace qv::objects
