#include "scene/object_layers.h"

#include <algorithm>

#include "gfx/library/object_types.h"
#include "runtime/errors.h"
#include "scene/layers/compositor.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"

namespace qv::scene {

int AddObjectLayer(qvVmState* L, const objects::ObjectLayer& layer) {
    // Anims are refused before they come here: none is kept in memory yet.
    return AddBrushLayer(L, uint32_t(layer.kind), &layer.id, layer.srcX, layer.srcY, layer.x,
                         layer.y, layer.width, layer.height, layer.transform, layer.style,
                         layer.bitmap, layer.mask, layer.alpha, layer.insertPosition, layer.flags);
}

int RenderObjectLayerAgain(qvVmState* L, qvLayer* layer, const qvDrawTransform* transform) {
    const qvDrawTransform kept = layer->transform;
    const double keptX = layer->anchorX, keptY = layer->anchorY;
    layer->transform = *transform;
    layer->anchorX = transform->anchorx, layer->anchorY = transform->anchory;
    const int code = BuildLayerCache(L, layer, 0);
    if (code != 0) {
        layer->transform = kept;
        layer->anchorX = keptX, layer->anchorY = keptY;
    }
    return code;
}

int ObjectLayerPicture(qvVmState* L, int idx, int32_t frame, objects::PicturePart* out) {
    qvBGPic* picture = LayerDisplays().OutputPicture();
    qvLayer* layer = GetLayerByIndex(picture, FindLayerArg(L, idx, picture));
    if (layer == nullptr) return ERR_LAYERRANGE;
    qvLayerItem* item = layer->pictureItem;
    const int32_t shown = layer->type == gfx::kTypeAnim ? frame - 1 : -1;
    qvLayerPicture image;
    if (const int code = GetLayerImage(L, layer, item, 1, 1, shown, &image)) return code;
    // A part layer reads its part of the object's own planes; made images are the part.
    out->planes = {image.bitmap, image.mask, image.alpha, image.width, image.height};
    out->x = image.offsetX, out->y = image.offsetY;
    out->width = std::min(item->drawWidth, image.width - image.offsetX);
    out->height = std::min(item->drawHeight, image.height - image.offsetY);
    return out->width < 1 || out->height < 1 ? ERR_BADDIMENSIONS : 0;
}

}  // namespace qv::scene
