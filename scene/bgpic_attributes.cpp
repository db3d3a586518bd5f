// GetAttribute of a background picture: its logical size, transparent colour, layer count,
// kind (bitmap or vector), planes and the clip region in force for drawing into it.
#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "runtime/arguments.h"
#include "scene/attribute_providers.h"
#include "scene/bgpic.h"
#include "scene/layers/layer.h"

namespace qv::scene {
namespace {

using namespace qv::gfx;

constexpr double kNoTransparentColour = 4294967295.0;

// The id of the region in force, -1 for none (as GetLayerStyle reports a layer's region).
void PushClipRegion(qvVmState* L, const qvClipRegion* region) {
    if (region == nullptr) {
        VmPushNumber(L, -1);
    } else {
        PushObjectId(L, {region->header.id, region->header.handle});
    }
}

double NumberOf(const qvBGPic* picture, int32_t attribute) {
    switch (attribute) {
        case ATTRWIDTH:
            return picture->width;
        case ATTRHEIGHT:
            return picture->height;
        case ATTRTRANSPARENTCOLOR:
            // No colour reads as #NOTRANSPARENCY, as for brushes and sprites.
            return picture->transparentColour < 0 ? kNoTransparentColour
                                                  : picture->transparentColour;
        case ATTRLAYERS:
            return CountLayers(picture);
        case ATTRTYPE:
            return picture->vector != 0 ? 1 : 0;  // as brushes: 0 bitmap, 1 vector
        case ATTRHASMASK:
            return picture->base.mask != nullptr ? 1 : 0;
        default:  // ATTRHASALPHA
            return picture->base.alpha != nullptr ? 1 : 0;
    }
}

int BGPicAttribute(const AttributeRequest& r) {
    qvBGPic* picture = nullptr;
    if (const int code = GetBGPic(r.L, r.id, &picture, 0)) return code;
    if (r.attribute == ATTRCLIPREGION) {
        PushClipRegion(r.L, picture->clipRegion);
    } else {
        VmPushNumber(r.L, NumberOf(picture, r.attribute));
    }
    return 1;
}

}  // namespace

void RegisterBGPicAttributes() {
    RegisterAttributeProvider(kTypeBGPic, BGPicAttribute);
}

}  // namespace qv::scene
