#include "objects/output.h"

#include "gfx/blit_frontends.h"
#include "gfx/blit_host.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "objects/brush.h"
#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/output_redirect.h"

using namespace qv::gfx;
using qv::scene::Displays;

namespace qv::objects {
namespace {

// Planes handed out with their size.
struct Planes {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t width, height;
};

// What a selection lends: the object and its planes at its size, and the brush or picture
// whose plane slots hold them (a layer's planes live in the private brush or picture it
// shows; none: they cannot be replaced).
struct Target {
    void* object = nullptr;
    qvObjectId id{};
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;
    int32_t width = 0, height = 0;
    int32_t slotKind = 0;  // kTypeBrush or kTypeBGPic
    void* slots = nullptr;
};

bool SameObject(const qvBGPic* record, uint32_t type, qvObjectId id, int32_t frame) {
    return record->outputKind == int32_t(type) && record->outputFrame == frame &&
           record->header.id == id.number && record->header.handle == id.handle;
}

// The display draws into the object the selection record names (not into its double buffer
// or its shown picture).
bool Selecting(const qvDisplay* display) {
    const int32_t mode = display->outputType;
    return (mode == kTargetBrush || mode == kTargetMask || mode == kTargetAlphaChannel) &&
           display->outputPseudoPicture != nullptr &&
           Displays().outputPicture == display->outputPseudoPicture;
}

Target OfBrush(qvBrush* brush) {
    return {brush,         {brush->header.id, brush->header.handle},
            brush->bitmap, brush->mask,
            brush->alpha,  brush->width,
            brush->height, kTypeBrush,
            brush};
}

// Drawing goes into the base set, from which the displayed sets are made again at the end.
Target OfPicture(qvBGPic* picture) {
    return {picture,
            {picture->header.id, picture->header.handle},
            picture->base.bitmap,
            picture->base.mask,
            picture->base.alpha,
            picture->baseWidth,
            picture->baseHeight,
            kTypeBGPic,
            picture};
}

// The layer's planes as LayerToImage made them private, and where they live: the brush a
// brush layer (or a drawn layer made one) shows, or the picture a picture part shows.
Target OfLayer(qvVmState* L, qvLayer* layer, qvObjectId id, const Planes& planes) {
    Target target{layer, id, planes.bitmap, planes.mask, planes.alpha, planes.width, planes.height};
    qvBrush* brush = nullptr;
    qvBGPic* picture = nullptr;
    if ((layer->type == kTypeBrush || layer->type == kTypeBrushPart) &&
        GetBrush(L, layer->objectId, &brush, QV_BRUSH_ORPHANS) == 0 &&
        brush->bitmap == planes.bitmap) {
        target.slotKind = kTypeBrush, target.slots = brush;
    } else if (layer->type == kTypeBGPicPart &&
               GetBGPic(L, layer->objectId, &picture, QV_BGPIC_ORPHANS) == 0 &&
               picture->shown.bitmap == planes.bitmap) {
        target.slotKind = kTypeBGPic, target.slots = picture;
    }
    return target;
}

// The layer of that position in the current output picture, made drawable; an anim layer
// needs a frame (from 1), other layers take none.
int FindLayer(qvVmState* L, qvObjectId id, int32_t frame, Target* out) {
    qvLayer* layer = id.handle == nullptr
                         ? GetLayerByIndex(Displays().outputPicture, int32_t(id.number))
                         : nullptr;
    if (layer == nullptr) return ERR_LAYERRANGE;
    const bool anim = layer->type == kTypeAnim;
    if (frame != 0 && !anim) return ERR_NOANMLAYER;
    if (frame == 0 && anim) return ERR_MISSINGPARAMTR;
    Planes planes{};
    if (int code = LayerToImage(L, layer, frame - 1, &planes.bitmap, &planes.mask, &planes.alpha,
                                &planes.width, &planes.height)) {
        return code;
    }
    *out = OfLayer(L, layer, id, planes);
    return 0;
}

int FindTarget(qvVmState* L, uint32_t type, qvObjectId id, int32_t frame, Target* out) {
    switch (type) {
        case kTypeBrush: {
            qvBrush* brush = nullptr;
            if (int code = GetBrush(L, id, &brush, QV_BRUSH_NOVECTOR)) return code;
            *out = OfBrush(brush);
            return 0;
        }
        case kTypeBGPic: {
            qvBGPic* picture = nullptr;
            if (int code = GetBGPic(L, id, &picture, 0)) return code;
            // A vector picture is made again from its source at every size: drawing would be lost.
            if (picture->vector != 0) return ERR_BGPICTYPE;
            if (scene::Host().ShownByDisplay(picture)) return ERR_SELECTBGPIC2;
            *out = OfPicture(picture);
            return 0;
        }
        case kTypeAnim:
            // No animation is kept yet: every id is missing.
            return ObjectNotFound(id, ERR_FINDANIM);
        case kTypeLayer:
            return FindLayer(L, id, frame, out);
        default:
            return ERR_WRONGUSAGE;
    }
}

// Step 6 of a selection: the planes the output mode lends, and the alpha-combine switch.
void LendPlanes(qvDisplay* display, const qvBGPic* record) {
    const qvBGPicSet& set = record->base;
    display->outputBitmap = nullptr, display->outputMask = nullptr, display->outputAlpha = nullptr;
    switch (display->outputType) {
        case kTargetMask:
            display->outputMask = set.mask;
            break;
        case kTargetAlphaChannel:
            display->outputAlpha = set.alpha;
            break;
        default:
            display->outputBitmap = set.bitmap;
            if (record->outputSelection == 1) {
                display->outputMask = set.mask, display->outputAlpha = set.alpha;
            }
            break;
    }
    Graphics().alphaCombine = display->outputType == kTargetBrush && record->outputSelection == 1 &&
                              record->outputCombo != 0;
}

// The object found again as the drawing needs it: copy-on-write for the layers showing it.
int RefetchTarget(qvVmState* L, const qvBGPic* record, Target* out) {
    const qvObjectId id{record->header.id, record->header.handle};
    switch (record->outputKind) {
        case kTypeBrush: {
            qvBrush* brush = nullptr;
            if (int code = GetBrush(L, id, &brush, QV_BRUSH_MODIFY | QV_BRUSH_NOVECTOR)) {
                return code;
            }
            *out = OfBrush(brush);
            return 0;
        }
        case kTypeBGPic: {
            qvBGPic* picture = nullptr;
            if (int code = GetBGPic(L, id, &picture, QV_BGPIC_MODIFY)) return code;
            *out = OfPicture(picture);
            return 0;
        }
        case kTypeLayer: {
            // Private since the selection; layer commands are refused while it lasts.
            const qvBGPicSet& set = record->base;
            const Planes planes{set.bitmap, set.mask, set.alpha, record->width, record->height};
            *out = OfLayer(L, static_cast<qvLayer*>(record->outputObject), id, planes);
            return 0;
        }
        default:
            return ERR_WRONGUSAGE;
    }
}

// The target's plane slots. A picture's displayed sets that share the base bitmap share its
// planes too and take the new ones; a set of its own loses a plane freed here (the end of
// the selection makes those sets again).
void ReplacePlanes(const Target& target, qvPlaneBitMap* mask, qvPlaneBitMap* alpha) {
    if (target.slotKind == kTypeBrush) {
        auto* brush = static_cast<qvBrush*>(target.slots);
        brush->mask = mask, brush->alpha = alpha;
        brush->transparentColour = mask != nullptr ? kMaskWithoutKey : kNoTransparency;
        return;
    }
    auto* picture = static_cast<qvBGPic*>(target.slots);
    for (qvBGPicSet* set : {&picture->shown, &picture->scaled, &picture->base}) {
        const bool shared = set->bitmap == target.bitmap;
        if (shared || (target.mask != nullptr && set->mask == target.mask)) {
            set->mask = shared ? mask : nullptr;
        }
        if (shared || (target.alpha != nullptr && set->alpha == target.alpha)) {
            set->alpha = shared ? alpha : nullptr;
        }
    }
}

// A mask selected where the object has none: an all-visible one replaces its alpha plane;
// an alpha channel selected where it has none: one of 255 replaces its mask.
int MakeMissingPlane(int32_t mode, Target* target) {
    const bool missing = (mode == kTargetMask && target->mask == nullptr) ||
                         (mode == kTargetAlphaChannel && target->alpha == nullptr);
    if (missing && target->slots == nullptr) return ERR_WRONGUSAGE;
    if (mode == kTargetMask && target->mask == nullptr) {
        qvPlaneBitMap* mask = AllocMaskBitMap(target->bitmap, target->width, target->height, 0);
        if (mask == nullptr) return ERR_MEM;
        FillMaskRect(mask, 0, 0, target->width, target->height, kMaskVisible);
        qvPlaneBitMap* old = target->alpha;
        ReplacePlanes(*target, mask, nullptr);
        FreePlaneBitMap(old);
        target->mask = mask, target->alpha = nullptr;
    } else if (mode == kTargetAlphaChannel && target->alpha == nullptr) {
        qvPlaneBitMap* alpha = AllocAlphaBitMap(target->width, target->height, 0);
        if (alpha == nullptr) return ERR_MEM;
        FillPlane8Rect(alpha, 0, 0, target->width, target->height, 255);
        qvPlaneBitMap* old = target->mask;
        ReplacePlanes(*target, nullptr, alpha);
        FreePlaneBitMap(old);
        target->mask = nullptr, target->alpha = alpha;
    }
    return 0;
}

}  // namespace

int SelectOutputObject(qvVmState* L, uint32_t type, qvObjectId id, int32_t outputMode,
                       int32_t frame, int32_t selMode, int32_t combo) {
    qvDisplay* display = Displays().current;
    if (display == nullptr) {
        SetErrorNumber(0);
        return ERR_FINDDISPLAY;
    }
    const int32_t recordFrame = frame > 0 ? frame - 1 : 0;
    qvBGPic* record = display->outputPseudoPicture;
    if (display->outputType == outputMode && Selecting(display) &&
        SameObject(record, type, id, recordFrame)) {
        // The same object again: only a new selection mode or combo flag changes the planes.
        if (record->outputSelection != selMode || record->outputCombo != combo) {
            record->outputSelection = selMode, record->outputCombo = combo;
            LendPlanes(display, record);
        }
        return 0;
    }
    if (display->outputType != kTargetDisplay && display->doubleBufferOutput == 0) {
        SetOutputBGPic(L, display, 0);
    }
    Target target;
    if (int code = FindTarget(L, type, id, frame, &target)) return code;
    if (record == nullptr) {
        record = static_cast<qvBGPic*>(AllocMemBlock(sizeof(qvBGPic), 1));
        if (record == nullptr) return ERR_MEM;
        display->outputPseudoPicture = record;
    }
    FillOutputRecord(record, int32_t(type), target.object, recordFrame, &target.id, target.bitmap,
                     target.mask, target.alpha, target.width, target.height, 1);
    record->outputWriteBack = type == kTypeBGPic ? 1 : 0;
    record->outputSelection = selMode, record->outputCombo = combo;
    Displays().outputPicture = record;
    SaveDisplayRenderState(display, 0, target.width);
    display->outputType = outputMode;
    if (display->doubleBufferOutput != 0) {
        display->doubleBufferOutput = 0, display->doubleBufferPending = 1;
    }
    LendPlanes(display, record);
    return 0;
}

int GetOutputBitmaps(qvVmState* L, qvDisplayBitMap** bitmap) {
    *bitmap = nullptr;
    qvDisplay* display = Displays().current;
    if (display == nullptr) return 0;
    qvBGPic* record = Displays().outputPicture;
    if (display->doubleBufferOutput != 0 && record == display->doubleBufferPicture) {
        *bitmap = display->outputBitmap;
        return 0;
    }
    if (!Selecting(display)) return 0;
    if (record->outputFetched == 0) {
        Target target;
        if (int code = RefetchTarget(L, record, &target)) return code;
        if (int code = MakeMissingPlane(display->outputType, &target)) return code;
        record->outputObject = target.object;
        record->shown = record->scaled = record->base = {target.bitmap, target.mask, target.alpha};
        LendPlanes(display, record);
        record->outputFetched = 1;
    }
    *bitmap = display->outputBitmap;
    return 0;
}

bool SelectedOutputObject(uint32_t* type, qvObjectId* id) {
    const qvDisplay* display = Displays().current;
    if (display == nullptr || !Selecting(display)) return false;
    const qvBGPic* record = display->outputPseudoPicture;
    *type = uint32_t(record->outputKind);
    *id = {record->header.id, record->header.handle};
    return true;
}

}  // namespace qv::objects
