// The object subsystem's answers to the graphics library: brushes by id (clip-region masks,
// pointers) and the draw-tag records, so that the "graphics" library's default draw tags are
// the drawing code's. The player joins it with the other subsystems' answers into the one
// object it installs before the libraries register (runtime/library_table.cpp).
#pragma once

#include "gfx/library/neighbours.h"

namespace qv::objects {

class ObjectNeighbours : public virtual gfx::Neighbours {
public:
    int GetBrush(qvVmState* L, qvObjectId id, gfx::PictureView* out) override;
    qvImageHandle* BrushVectorSource(qvObjectId id, bool* transformed) override;
    // Gives the layers that show a brush about to change a private copy of it.
    int DetachObjectFromLayers(qvVmState* L, qvObjectId id, void* object) override;
    size_t DrawStyleSize() override;
    size_t DrawTransformSize() override;
    void InitDrawTags(void* style, void* transform) override;
    // Parses a table into the default records (object sizes 0); a name never becomes a default.
    int ParseDrawTags(qvVmState* L, int idx, void* style, void* transform, int flags) override;
    // A clip region's mask transformed as brushes are.
    int TransformBrushBitmaps(qvVmState* L, const qvPlaneBitMap* mask, int32_t width,
                              int32_t height, const double matrix[4], double anchorX,
                              double anchorY, qvPlaneBitMap** outMask, int32_t* outX, int32_t* outY,
                              int32_t* outWidth, int32_t* outHeight) override;
};

}  // namespace qv::objects
