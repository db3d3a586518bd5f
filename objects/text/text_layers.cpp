#include "objects/text/text_layers.h"

#include <algorithm>

#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "objects/text/glyph_render.h"
#include "objects/text/render_text.h"
#include "objects/text/text_objects.h"
#include "platform/linux/blocks.h"
#include "scene/layers/compositor.h"
#include "scene/layers/layer_cache.h"

namespace {

constexpr int kRedraw = QV_RENDERTEXT_ONLY | QV_RENDERTEXT_SCALECURSOR;

// The work transform with the layer's anchor: a fraction of the text's size, which the
// display's scale leaves as it is.
qvDrawTransform AnchoredTransform(const qvLayer* layer, const qvWorkTransform* work) {
    qvDrawTransform transform = work->transform;
    transform.anchorx = layer->anchorX, transform.anchory = layer->anchorY;
    return transform;
}

int RenderTextLayer(qvVmState* L, qvLayer* layer, int32_t, qvLayerItem* item, qvLayerImage*,
                    const qvWorkTransform* work, qvLayerArea* previous, int) {
    auto* record = dynamic_cast<qvTextRender*>(item);
    if (record == nullptr) return ERR_WRONGUSAGE;
    const qvDrawTransform transform = AnchoredTransform(layer, work);
    return RenderText(L, layer, record, layer->type, record->tagsOff, &transform, nullptr, kRedraw,
                      nullptr, previous);
}

// The object's layout placed at the item's position under the layer's and then the object's
// own scale and rotation; the object keeps its own record.
int RenderTextObjectLayer(qvVmState* L, qvLayer* layer, int32_t, qvLayerItem* item, qvLayerImage*,
                          const qvWorkTransform* work, qvLayerArea* previous, int) {
    qvTextObject* object = nullptr;
    if (int code = FindTextObject(L, layer->objectId, &object, QV_TEXTOBJECT_ORPHANS)) return code;
    qv::BlockPtr<qvTextRender> record(NewTextRenderRecord(object->layout));
    if (record == nullptr) return ERR_MEM;
    record->x = item->x, record->y = item->y;
    qvDrawTransform transform = AnchoredTransform(layer, work);
    MultiplyTextMatrix(transform.matrix, object->transform.matrix, transform.matrix);
    return RenderText(L, layer, record.get(), layer->type, false, &transform, nullptr, kRedraw,
                      nullptr, previous);
}

// The edge of the item's image (as the layer shows it) in the colour.
int RenderTextLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, uint32_t colour,
                          int32_t size, qvLayerBorder* out) {
    qvLayerPicture image;
    if (int code = GetLayerImage(L, layer, item, 0, 1, -1, &image)) return code;
    const int32_t width = std::min(item->drawWidth, image.width);
    const int32_t height = std::min(item->drawHeight, image.height);
    if (width < 1 || height < 1) return 0;
    qvTextBorder border{};
    if (int code = RenderTextBorder(image.mask, image.alpha, width, height, size, colour, &border))
        return code;
    out->image = {border.bitmap, border.mask, border.alpha};
    out->dx = out->dy = border.offset;
    out->width = border.width, out->height = border.height;
    return 0;
}

}  // namespace

void InstallTextLayerRenderers() {
    SetLayerRenderers(qv::gfx::kTypeTextOut, RenderTextLayer, RenderTextLayerBorder);
    SetLayerRenderers(qv::gfx::kTypePrint, RenderTextLayer, RenderTextLayerBorder);
    SetLayerRenderers(qv::gfx::kTypeTextObject, RenderTextObjectLayer, RenderTextLayerBorder);
    InstallTextStyleRows();
}
