#include "objects/object_neighbours.h"

#include "gfx/library/object_types.h"
#include "objects/brush.h"
#include "objects/display_engine.h"
#include "objects/draw_tags.h"
#include "scene/bgpic.h"

namespace qv::objects {
namespace {

int CloneBrush(qvVmState* L, void* object, void** cloneHandle) {
    qvObjectId copy{};
    const int code = CloneBrushForLayers(L, static_cast<const qvBrush*>(object), &copy);
    if (code == 0) *cloneHandle = copy.handle;
    return code;
}

}  // namespace

int ObjectNeighbours::GetBrush(qvVmState* L, qvObjectId id, gfx::PictureView* out) {
    qvBrush* brush = nullptr;
    if (const int code = ::GetBrush(L, id, &brush, 0)) return code;
    *out = {brush->bitmap, brush->mask, brush->alpha, brush->width, brush->height};
    return 0;
}

qvImageHandle* ObjectNeighbours::BrushVectorSource(qvObjectId id, bool* transformed) {
    return VectorBrushSource(id, transformed);
}

int ObjectNeighbours::DetachObjectFromLayers(qvVmState* L, qvObjectId id, void* object) {
    if (static_cast<const qvObjectHeader*>(object)->type != uint32_t(gfx::kTypeBrush)) return 0;
    void* clone = nullptr;
    return ::DetachObjectFromLayers(L, gfx::kTypeBrush, id, CloneBrush, object, &clone);
}

size_t ObjectNeighbours::DrawStyleSize() {
    return sizeof(qvDrawStyle);
}

size_t ObjectNeighbours::DrawTransformSize() {
    return sizeof(qvDrawTransform);
}

void ObjectNeighbours::InitDrawTags(void* style, void* transform) {
    InitDrawTagBlocks(static_cast<qvDrawTransform*>(transform), static_cast<qvDrawStyle*>(style));
}

int ObjectNeighbours::ParseDrawTags(qvVmState* L, int idx, void* style, void* transform,
                                    int flags) {
    auto* styleBlock = static_cast<qvDrawStyle*>(style);
    const int code = ::ParseDrawTags(L, idx, 0, 0, 0, 0, 0,
                                     static_cast<qvDrawTransform*>(transform), styleBlock, flags);
    if (styleBlock != nullptr) styleBlock->name[0] = '\0';
    return code;
}

int ObjectNeighbours::TransformBrushBitmaps(qvVmState* L, const qvPlaneBitMap* mask, int32_t width,
                                            int32_t height, const double matrix[4], double anchorX,
                                            double anchorY, qvPlaneBitMap** outMask, int32_t* outX,
                                            int32_t* outY, int32_t* outWidth, int32_t* outHeight) {
    const qvTransformSource source{
        nullptr, {nullptr, const_cast<qvPlaneBitMap*>(mask), nullptr, width, height},
        0,       0,
        0,       0,
        width,   height};
    qvTransformedPicture done;
    if (const int code = ::TransformBrushBitmaps(L, QV_TRANSFORM_BITMAPS, source, anchorX, anchorY,
                                                 matrix, 0, &done)) {
        return code;
    }
    // A mask transformed without colour comes back as a mask, or as coverage in a mask.
    if (!done.planes.mask) return ERR_MEM;
    *outMask = done.planes.mask.release();
    *outX = done.x, *outY = done.y;
    *outWidth = done.width, *outHeight = done.height;
    return 0;
}

}  // namespace qv::objects
