#include "scene/output_redirect.h"

#include "gfx/blit_host.h"
#include "gfx/library/object_types.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/layers/compositor.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layer_transform.h"
#include "scene/object_hooks.h"

using namespace qv::gfx;
using namespace qv::scene;

namespace {

// The double buffer's buffers: [0] the front buffer, [1] the back buffer drawing goes to.
constexpr int kBackBuffer = 1;

bool IsIdentityTransform(const qvDrawTransform& t) {
    return IsIdentityMatrix(t.matrix) && t.scalex == 1.0 && t.scaley == 1.0 && t.rotate == 0;
}

// A layer drawn into shows its new pixels: an untransformed layer on an unscaled display
// only needs its caches dropped, any other has its items built again.
int RefreshDrawnLayer(qvVmState* L, qvDisplay* display, const qvBGPic* record) {
    auto* layer = static_cast<qvLayer*>(record->outputObject);
    if (layer->type == kTypeAnim) {
        const auto* anim = dynamic_cast<const qvAnimItem*>(layer->sourceItem);
        if (anim != nullptr && anim->frame != record->outputFrame) return 0;
    }
    const qvDisplaySettings& s = display->settings;
    const bool unscaled = (s.scaleX == 1.0 && s.scaleY == 1.0) || s.autoscale == 0;
    if (IsIdentityTransform(layer->transform) && unscaled) {
        const qvLayerImage& image = layer->displayItem->image;
        if (image.mask != nullptr || image.alpha != nullptr) FreeLayerGeometryBitmaps(layer);
        FreeLayerBorderCache(layer);
        FreeLayerCaches(layer);
        RefreshLayer(L, layer);
        return 0;
    }
    // The rebuild leaves the repaint to its caller: the new pixels are shown here.
    const int code = BuildLayerCache(L, layer, QV_CACHE_DISPLAYITEM | QV_CACHE_NOREPAINT);
    if (code == 0) RefreshLayer(L, layer);
    return code;
}

// A picture drawn into directly: its derived sets are made again from the drawn base set, and
// a derived set sharing the base's bitmap takes the plane it lacks from the base.
int WriteBackPicture(qvVmState* L, qvBGPic* picture) {
    int code = 0;
    if (picture->scaled.bitmap != picture->base.bitmap) {
        code = RescaleBGPic(L, picture, picture->width, picture->height, 0);
    }
    for (qvBGPicSet* set : {&picture->scaled, &picture->shown}) {
        if (set->bitmap != picture->base.bitmap) continue;
        if (set->mask == nullptr) set->mask = picture->base.mask;
        if (set->alpha == nullptr) set->alpha = picture->base.alpha;
    }
    return code;
}

bool DrewIntoObject(int32_t outputType) {
    return outputType == kTargetBrush || outputType == kTargetMask ||
           outputType == kTargetAlphaChannel;
}

// A picture drawn into directly is made again from what was drawn.
int WriteBackDrawnPicture(qvVmState* L, const qvBGPic* output, int32_t outputType) {
    if (output == nullptr || !DrewIntoObject(outputType) || output->outputKind != kTargetBGPic ||
        output->outputWriteBack == 0 || output->outputObject == nullptr) {
        return 0;
    }
    return WriteBackPicture(L, static_cast<qvBGPic*>(output->outputObject));
}

}  // namespace

void RepaintRedirectedPicture(qvVmState* L, qvBGPic* picture, qvRectList* dirty, int keepDirty) {
    ForEachLayer(&picture->layers, [](qvLayer* layer) { layer->deferred = 0; });
    if (keepDirty != 0) return;
    if (RectListWhole(dirty)) {
        RefreshDisplayArea(L, 0, 0, picture->shownWidth, picture->shownHeight);
    } else {
        MergeDirtyRects(dirty);
        RedrawLayerArea(L, dirty);
    }
    ResetRectList(dirty);
}

void FillOutputRecord(qvBGPic* record, int32_t kind, void* object, int32_t frame,
                      const qvObjectId* id, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                      qvPlaneBitMap* alpha, int32_t width, int32_t height, int clear) {
    if (clear != 0) {
        *record = {};
        NewList(&record->layers);
    }
    record->header.type = kTypeBGPic;
    record->header.id = id != nullptr ? id->number : 0;
    record->header.handle = id != nullptr ? id->handle : nullptr;
    record->shown = record->scaled = record->base = {bitmap, mask, alpha};
    record->shownWidth = record->width = record->baseWidth = width;
    record->shownHeight = record->height = record->baseHeight = height;
    record->outputKind = kind;
    record->outputFrame = frame;
    record->outputObject = object;
}

int SetOutputBGPic(qvVmState* L, qvDisplay* display, int keepDirty) {
    DisplayState& state = Displays();
    const qvBGPic* output = state.outputPicture;
    const int32_t previous = display->outputType;
    if (display->doubleBufferPending != 0) {
        // What was drawn into a picture is kept before drawing returns to the back buffer.
        const int code = WriteBackDrawnPicture(L, output, previous);
        state.outputPicture = display->doubleBufferPicture;
        display->outputBitmap = display->backBuffers[kBackBuffer];
        display->outputMask = nullptr, display->outputAlpha = nullptr;
        display->outputType = kTargetBrush;
        display->doubleBufferOutput = 1, display->doubleBufferPending = 0;
        RestoreDisplayRenderState(display);
        return code;
    }
    display->outputBitmap = nullptr, display->outputMask = nullptr, display->outputAlpha = nullptr;
    display->outputType = kTargetDisplay;
    qvBGPic* own = display->settings.picture;
    if (output == own && previous == kTargetBGPic) {
        RepaintRedirectedPicture(L, own, &display->dirtyRects, keepDirty);
        RestoreDisplayRenderState(display);
        return 0;
    }
    int code = WriteBackDrawnPicture(L, output, previous);
    state.outputPicture = own;
    if (code == 0 && output != nullptr && output != own && output->outputKind == kTargetLayer &&
        output->outputObject != nullptr) {
        code = RefreshDrawnLayer(L, display, output);
    }
    RestoreDisplayRenderState(display);
    return code;
}

int EndDisplayRedirection(qvVmState* L, qvDisplay* display) {
    return SetOutputBGPic(L, display, 0);
}

int SelectBGPic(qvVmState* L) {
    CheckArgCount(L, 0, 3);
    qvDisplay* display = Displays().current;
    if (display == nullptr) {
        SetErrorNumber(0);
        return ERR_FINDDISPLAY;
    }
    const bool current = VmType(L, 1) == VM_TNIL || VmType(L, 1) == VM_TNONE;
    qvBGPic* picture = display->settings.picture;
    const qvObjectId id =
        current ? qvObjectId{picture->header.id, picture->header.handle} : GetObjectIdArg(L, 1);
    int wasNil = 0;
    const int32_t mode = GetOptIntArg(L, 2, &wasNil);
    if (wasNil == 0 && (mode == SELMODE_NORMAL || mode == SELMODE_COMBO)) {
        return Objects().SelectOutputObject(L, kTypeBGPic, id, mode, GetOptIntArg(L, 3, nullptr),
                                            0);
    }
    if (wasNil == 0 && mode != SELMODE_LAYERS) return ERR_WRONGUSAGE;
    if (!current) {
        if (int code = GetBGPic(L, id, &picture, 0)) return code;
    }
    if (display->outputType == kTargetBGPic && Displays().outputPicture == picture) return 0;
    if (display->outputType != kTargetDisplay && display->doubleBufferOutput == 0) {
        SetOutputBGPic(L, display, 0);
    }
    if (display->layersEnabled == 0) return ERR_NOLAYERS;
    if (picture != display->settings.picture && Host().ShownByDisplay(picture)) {
        return ERR_SELECTBGPIC;
    }
    qvRectList* dirty = &display->dirtyRects;
    if (dirty->rects == nullptr && InitRectList(dirty, kRectListGrowth) != 0) return ERR_MEM;
    ResetRectList(dirty);
    display->outputBitmap = nullptr, display->outputMask = nullptr, display->outputAlpha = nullptr;
    SaveDisplayRenderState(display, 1, picture->width);
    Displays().outputPicture = picture;
    display->outputType = kTargetBGPic;
    return 0;
}

int EndSelect(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    qvDisplay* display = Displays().current;
    if (display == nullptr) return 0;
    if (display->doubleBufferOutput != 0) return ERR_WRONGUSAGE;
    return SetOutputBGPic(L, display, 0);
}
