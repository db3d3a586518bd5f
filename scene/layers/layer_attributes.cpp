// GetAttribute of a layer of the current output picture (the dispatcher has checked that
// layers are on and that the position is in range): where and how large it is painted and
// was given, what it shows, its frames, its font and text, its group.
#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "objects/text/text_attributes.h"
#include "runtime/arguments.h"
#include "scene/attribute_providers.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"

namespace qv::scene {
namespace {

using namespace qv::gfx;

// The frames of an anim layer; none for other layers.
const qvAnimItem* AnimOf(const qvLayer* layer) {
    return layer->type == kTypeAnim ? dynamic_cast<const qvAnimItem*>(layer->sourceItem) : nullptr;
}

// A layer's size and place as the compositor paints it (the picture item: anchor and transform
// applied, the same rule for every kind), as given (the source item), and what it is.
double NumberOf(const qvBGPic* picture, const qvLayer* layer, int32_t attribute) {
    const qvLayerItem* painted = layer->pictureItem;
    const qvLayerItem* given = layer->sourceItem;
    const qvAnimItem* anim = AnimOf(layer);
    switch (attribute) {
        case ATTRWIDTH:
            return painted->drawWidth;
        case ATTRHEIGHT:
            return painted->drawHeight;
        case ATTRLAYERS:
            return CountLayers(picture);
        case ATTRXPOS:
            return painted->drawX;
        case ATTRYPOS:
            return painted->drawY;
        case ATTRTYPE:
            return layer->type;
        case ATTRVISIBLE:
            return layer->hidden == 0 ? 1 : 0;
        case ATTRNUMFRAMES:  // a layer that shows no anim shows one picture
            return anim != nullptr ? anim->frameCount : 1;
        case ATTRCURFRAME:  // counted from 1, as scripts count frames
            return anim->frame + 1;
        case ATTRFRAMEDELAY:  // anims keep no frame delays
            return 0;
        case ATTRRAWXPOS:
            return given->x;
        case ATTRRAWYPOS:
            return given->y;
        case ATTRRAWWIDTH:
            return given->width;
        default:  // ATTRRAWHEIGHT
            return given->height;
    }
}

int LayerAttribute(const AttributeRequest& r) {
    const qvBGPic* picture = LayerDisplays().OutputPicture();
    const qvLayer* layer = GetLayerByIndex(picture, r.layer);
    if (layer == nullptr) return ERR_LAYERRANGE;
    if (text::IsFontAttribute(r.attribute) || r.attribute == ATTRTEXT) {
        const qvTextParams* layout = text::TextLayerLayout(r.L, layer);
        if (layout == nullptr) return ERR_NOTXTLAYER;
        return text::PushLayoutAttribute(r.L, *layout, r.attribute);
    }
    switch (r.attribute) {
        case ATTRLAYERID:  // the object it was made with; 0 for a drawing
            PushObjectId(r.L, layer->creationId);
            return 1;
        case ATTRGROUP:
            VmPushString(r.L, layer->group);
            return 1;
        case ATTRCURFRAME:
            if (AnimOf(layer) == nullptr) return ERR_NOANMLAYER;
            break;
        default:
            break;
    }
    VmPushNumber(r.L, NumberOf(picture, layer, r.attribute));
    return 1;
}

}  // namespace

void RegisterLayerAttributes() {
    RegisterAttributeProvider(kTypeLayer, LayerAttribute);
}

}  // namespace qv::scene
