#include "objects/scene_hooks.h"

#include "gfx/library/object_types.h"
#include "objects/brush.h"
#include "objects/text/text_objects.h"

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

}  // namespace qv::objects
