// The object subsystem's answers to the scene's object hooks: the brushes and text objects
// that layers show (their images, where brushes keep their planes, the collection of
// orphaned ones). The player
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
};

}  // namespace qv::objects
