#include "objects/object_neighbours.h"

#include "gfx/library/object_types.h"
#include "objects/brush.h"
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

}  // namespace qv::objects
