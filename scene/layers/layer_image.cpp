// A layer turned into a private image that drawing can go into (SelectLayer's target).
#include <new>

#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "gfx/transform.h"
#include "platform/linux/memory.h"
#include "scene/bgpic.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer_cache.h"
#include "scene/object_hooks.h"

using namespace qv::gfx;
using qv::scene::Objects;

namespace {

bool IsDrawnType(uint32_t type) {
    return type == kTypeTextObject || DrawsOwnImage(type);
}

struct Answer {
    qvDisplayBitMap** bitmap;
    qvPlaneBitMap** mask;
    qvPlaneBitMap** alpha;
    int32_t* width;
    int32_t* height;

    int Give(const PictureView& view) const {
        *bitmap = view.bitmap, *mask = view.mask, *alpha = view.alpha;
        *width = view.width, *height = view.height;
        return 0;
    }
};

// The drawn image of the display item: a text object's copied, others their item's own,
// rendered upright at scale 1.0 first when missing. The planes are new (owned by *out).
int DrawnImage(qvVmState* L, qvLayer* layer, qvLayerImage* out) {
    qvLayerItem* item = layer->displayItem;
    if (layer->type == kTypeTextObject) {
        PictureView view{};
        if (int code = Objects().TextObjectImage(L, layer->objectId, &view)) return code;
        if (view.bitmap == nullptr) return ERR_WRONGUSAGE;
        return CopyBitmapArea(view.bitmap, view.mask, view.alpha, 0, 0, view.width, view.height, 1,
                              &out->bitmap, &out->mask, &out->alpha);
    }
    if (item->image.bitmap == nullptr) {
        if (int code = RenderUprightContent(L, layer)) return code;
    }
    const qvLayerImage& drawn = item->image.bitmap != nullptr ? item->image : item->transformed;
    if (drawn.bitmap == nullptr) return ERR_WRONGUSAGE;
    return CopyBitmapArea(drawn.bitmap, drawn.mask, drawn.alpha, 0, 0, item->drawWidth,
                          item->drawHeight, 1, &out->bitmap, &out->mask, &out->alpha);
}

// A drawn layer becomes a brush layer of a new private brush of its drawn image. The brush
// and the new item are made before the old items go, so a failure changes nothing.
int DrawnToBrush(qvVmState* L, qvLayer* layer) {
    qvLayerImage drawn{};
    if (int code = DrawnImage(L, layer, &drawn)) return code;
    qv::OwnedBitMap bitmap(drawn.bitmap);
    qv::OwnedPlane mask(drawn.mask), alpha(drawn.alpha);
    const qvLayerItem* old = layer->displayItem;
    void* block = AllocMemBlock(sizeof(qvImageItem), 0);
    if (block == nullptr) return ERR_MEM;
    auto* item = new (block) qvImageItem();
    item->x = old->x, item->y = old->y;
    item->width = item->drawWidth = old->drawWidth;
    item->height = item->drawHeight = old->drawHeight;
    item->drawX = old->drawX, item->drawY = old->drawY;
    item->anchoredX = old->anchoredX, item->anchoredY = old->anchoredY;
    qvObjectId id{};
    if (int code = Objects().AddLayerBrush(L, bitmap.get(), mask.get(), alpha.get(), item->width,
                                           item->height, &id)) {
        FreeLayerItem(item);
        return code;
    }
    bitmap.release(), mask.release(), alpha.release();
    FreeLayerItems(layer);
    layer->type = kTypeBrush;
    layer->objectId = id;
    layer->sourceItem = layer->pictureItem = layer->displayItem = item;
    return 0;
}

// A picture part shows its item's own image, else its picture, made the layer's own.
int PrivatePicture(qvVmState* L, qvLayer* layer, const Answer& answer) {
    const qvLayerImage& own = layer->sourceItem->image;
    if (own.bitmap != nullptr) {
        return answer.Give(
            {own.bitmap, own.mask, own.alpha, own.bitmap->width, own.bitmap->height});
    }
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, layer->objectId, &picture, QV_BGPIC_ORPHANS)) return code;
    if (picture->orphan == 0 ||
        ObjectInUseByOtherLayers(kTypeBGPic, layer->objectId, picture, layer)) {
        qvObjectId id = qv::scene::AutomaticId();
        qvBGPic* copy = nullptr;
        if (int code = CopyBGPicEx(L, picture, &id, &copy)) return code;
        copy->orphan = 1;
        layer->objectId = id;
        picture = copy;
    }
    if (int code = qv::scene::LayerDisplays().ShowUnscaled(nullptr, picture, 0)) return code;
    const qvBGPicSet& shown = picture->shown;
    return answer.Give({shown.bitmap, shown.mask, shown.alpha, picture->width, picture->height});
}

}  // namespace

int LayerToImage(qvVmState* L, qvLayer* layer, int32_t frame, qvDisplayBitMap** bitmap,
                 qvPlaneBitMap** mask, qvPlaneBitMap** alpha, int32_t* width, int32_t* height) {
    const Answer answer{bitmap, mask, alpha, width, height};
    if (IsObjectUsedByAsyncDraw(layer) != 0) return ERR_RENDERADLAYER;
    if (IsDrawnType(layer->type)) {
        if (int code = DrawnToBrush(L, layer)) return code;
    }
    PictureView view{};
    switch (layer->type) {
        case kTypeBrush:
        case kTypeBrushPart:
            if (int code = Objects().PrivateLayerBrush(L, layer, &view)) return code;
            return answer.Give(view);
        case kTypeAnim: {
            if (frame == -1) {
                const auto* anim = dynamic_cast<const qvAnimItem*>(layer->sourceItem);
                frame = anim != nullptr ? anim->frame : 0;
            }
            if (int code = Objects().PrivateLayerAnim(L, layer, frame, &view)) return code;
            return answer.Give(view);
        }
        case kTypeBGPicPart:
            return PrivatePicture(L, layer, answer);
        default:
            return ERR_WRONGUSAGE;
    }
}
