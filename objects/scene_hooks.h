// The object subsystem's answers to the scene's object hooks: the brushes, anims and text
// objects that layers show (their images, where brushes keep their planes, the collection of
// orphaned ones, the brushes that drawing into a layer makes and makes private, the object
// selector). The player
// installs them with its neighbours (runtime/library_table.cpp).
#pragma once

#include "scene/object_hooks.h"

namespace qv::objects {

class SceneHooks : public scene::ObjectHooks {
public:
    int BrushImage(qvVmState* L, qvObjectId id, gfx::PictureView* out,
                   qvImageHandle** source) override;
    bool PlaneSlots(uint32_t type, qvObjectId id, int32_t frame, qvPlaneBitMap*** mask,
                    qvPlaneBitMap*** alpha) override;
    void FreeOrphanBrushes(qvVmState* L) override;
    int TextObjectImage(qvVmState* L, qvObjectId id, gfx::PictureView* out) override;
    void FreeOrphanTextObjects(qvVmState* L) override;
    int AddLayerBrush(qvVmState* L, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                      qvPlaneBitMap* alpha, int32_t width, int32_t height, qvObjectId* id) override;
    int PrivateLayerBrush(qvVmState* L, qvLayer* layer, gfx::PictureView* out) override;
    int SelectOutputObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t selMode,
                           int32_t combo, int32_t frame) override;
    // Anims, from the anim store.
    int AnimFrame(qvVmState* L, qvObjectId id, int32_t frame, gfx::PictureView* out) override;
    void FreeOrphanAnims(qvVmState* L) override;
    int PrivateLayerAnim(qvVmState* L, qvLayer* layer, int32_t frame,
                         gfx::PictureView* out) override;
};

}  // namespace qv::objects
