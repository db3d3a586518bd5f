#include "scene/layers/layer_cache.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/clip_regions.h"
#include "gfx/library/object_types.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/display_seam.h"
#include "scene/object_hooks.h"

using namespace qv::gfx;
using qv::scene::LayerDisplays;

namespace {

constexpr uint32_t kRendererTypes = 64;

// The layers' own renderer of the image kinds: the image the layer's source shows, scaled or
// turned by the work transform into the item's transformed image, placed so that the anchor
// point lands on the item's position. Its filters are not baked in: the compositor's filtered
// image is made from it, and is dropped whenever the filters change, which a baked-in copy
// would outlive.
int RenderImageContent(qvVmState* L, qvLayer* layer, int32_t, qvLayerItem* item, qvLayerImage* out,
                       const qvWorkTransform* work, qvLayerArea* previous, int) {
    qvLayerPicture source;
    if (int code = GetLayerImage(L, layer, layer->sourceItem, 0, 0, -1, &source)) return code;
    const int32_t width = std::min(item->width, source.width - source.offsetX);
    const int32_t height = std::min(item->height, source.height - source.offsetY);
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    source.width = width, source.height = height;
    qvTurnedLayerPicture made;
    if (int code = TransformLayerPicture(source, layer->anchorX * width, layer->anchorY * height,
                                         work->transform, &made)) {
        return code;
    }
    const int32_t drawX = qv::Saturate32(int64_t(item->x) - made.pivotX);
    const int32_t drawY = qv::Saturate32(int64_t(item->y) - made.pivotY);
    qvLayerArea placed = *previous;
    placed.skip = 1;
    UpdateLayerGeometry(
        L, layer, &placed,
        qv::Saturate32(int64_t(drawX) + qv::scene::AnchorShift(item->width, layer->anchorX)),
        qv::Saturate32(int64_t(drawY) + qv::scene::AnchorShift(item->height, layer->anchorY)),
        made.width, made.height, nullptr, nullptr, nullptr, 0);
    *previous = {placed.x, placed.y, placed.width, placed.height, previous->skip};
    FreeLayerImage(out);
    *out = made.image;
    RefreshLayerChange(L, layer, *previous);
    return 0;
}

struct Renderers {
    qvLayerContentRenderer content;
    qvLayerBorderRenderer border;
};

std::array<Renderers, kRendererTypes>& RendererTable() {
    static std::array<Renderers, kRendererTypes> table = [] {
        std::array<Renderers, kRendererTypes> t{};
        for (uint32_t type : {kTypeBrush, kTypeBrushPart, kTypeBGPicPart, kTypeAnim}) {
            t[type].content = RenderImageContent;
        }
        return t;
    }();
    return table;
}

qvBoxBorderRenderer boxBorderRenderer = nullptr;

bool IsTextType(uint32_t type) {
    return type == kTypeTextObject || type == kTypeTextOut || type == kTypePrint;
}

qvLayerArea DrawArea(const qvLayerItem* item, int skip) {
    return {item->drawX, item->drawY, item->drawWidth, item->drawHeight, skip};
}

int32_t ScaledPosition(int32_t value, double scale) {
    return qv::Saturate32(std::lrint(std::clamp(value * scale, -2e9, 2e9)));
}

// The work transform of a build: the layer's own, for the display item scaled by the
// display's factors (then uneven factors count as a turn).
qvWorkTransform WorkTransform(const qvLayer* layer, bool displayItem,
                              const qv::scene::DisplayScale& scale) {
    qvWorkTransform work{layer->transform, 0};
    if (IsTextType(layer->type) && CheckUniformTransform(&work.transform)) work.rotated = 1;
    if (displayItem) {
        qvDrawTransform& t = work.transform;
        t.scalex *= scale.x, t.scaley *= scale.y;
        qv::scene::ScaleMatrix(t.matrix, scale.x, scale.y);
        t.anchorx *= scale.x, t.anchory *= scale.y;
        t.smoothscale = scale.smooth ? 1 : 0;
        if (std::fabs(scale.x - scale.y) > 0.01) work.rotated = 1;
    }
    return work;
}

// Whether the picture item of the current output needs a display item of its own: the
// current display scales its layers by a factor other than 1 and shows the output picture.
bool NeedsDisplayItem(const qvDisplay* display, const qv::scene::DisplayScale& scale) {
    auto& seam = LayerDisplays();
    return scale.layerScaling && (scale.x != 1.0 || scale.y != 1.0) &&
           seam.ShownPicture(display) != nullptr &&
           seam.ShownPicture(display) == seam.OutputPicture();
}

void FreeUnlessUsed(qvLayer* layer, qvLayerItem* item) {
    if (item != nullptr && item != layer->sourceItem && item != layer->pictureItem &&
        item != layer->displayItem) {
        FreeLayerItem(item);
    }
}

}  // namespace

int TransformLayerPicture(const qvLayerPicture& source, double pivotX, double pivotY,
                          const qvDrawTransform& transform, qvTurnedLayerPicture* out) {
    const double* m = transform.matrix;
    const int smooth = transform.smoothscale != 0 ? 1 : 0;
    const int32_t width = source.width, height = source.height;
    qvLayerImage& made = out->image;
    made = {};
    int code;
    if (m[1] == 0 && m[2] == 0 && m[0] > 0 && m[3] > 0) {
        out->width = std::max(TruncSaturate(width * m[0]), 1);
        out->height = std::max(TruncSaturate(height * m[3]), 1);
        if (out->width > qv::kMaxBitMapSide || out->height > qv::kMaxBitMapSide) return ERR_MEM;
        code = ScaleBitmap(source.bitmap, source.mask, source.alpha, source.offsetX, source.offsetY,
                           nullptr, width, height, out->width, out->height, smooth, &made.bitmap,
                           source.mask != nullptr ? &made.mask : nullptr,
                           source.alpha != nullptr ? &made.alpha : nullptr);
    } else {
        code = TransformBitmap(source.bitmap, source.mask, source.alpha, source.offsetX,
                               source.offsetY, width, height, m, smooth, &made.bitmap, &made.mask,
                               &made.alpha, &out->width, &out->height);
    }
    if (code != 0) return code;
    double x = 0, y = 0;
    TransformedPivot(m, width, height, pivotX, pivotY, &x, &y);
    out->pivotX = TruncSaturate(x), out->pivotY = TruncSaturate(y);
    return 0;
}

void SetLayerRenderers(uint32_t type, qvLayerContentRenderer content,
                       qvLayerBorderRenderer border) {
    if (type >= kRendererTypes) return;
    RendererTable()[type] = {content, border};
}

qvLayerContentRenderer LayerContentRenderer(uint32_t type) {
    return type < kRendererTypes ? RendererTable()[type].content : nullptr;
}

qvLayerBorderRenderer LayerBorderRenderer(uint32_t type) {
    return type < kRendererTypes ? RendererTable()[type].border : nullptr;
}

void SetBoxBorderRenderer(qvBoxBorderRenderer render) {
    boxBorderRenderer = render;
}

qvBoxBorderRenderer BoxBorderRenderer() {
    return boxBorderRenderer;
}

int BuildLayerContent(qvVmState* L, qvLayer* layer, int32_t insertPos, qvLayerItem* item,
                      qvLayerImage* out, const qvWorkTransform* transform, qvLayerArea* previous,
                      int flags) {
    const qvLayerContentRenderer render = LayerContentRenderer(layer->type);
    if (render == nullptr) return 0;
    return render(L, layer, insertPos, item, out, transform, previous, flags);
}

bool DrawsOwnImage(uint32_t type) {
    switch (type) {
        case kTypeTextOut:
        case kTypePrint:
        case kTypeBox:
        case kTypeCircle:
        case kTypeEllipse:
        case kTypeLine:
        case kTypePolygon:
        case kTypeArc:
        case kTypeVectorPath:
            return true;
        default:
            return false;
    }
}

int RenderUprightContent(qvVmState* L, qvLayer* layer) {
    qvLayerItem* item = layer->displayItem;
    qvWorkTransform upright{qv::kInitialDrawTransform, 0};
    upright.transform.anchorx = layer->anchorX, upright.transform.anchory = layer->anchorY;
    qvLayerArea place = DrawArea(item, 1);
    return BuildLayerContent(L, layer, -1, item, &item->transformed, &upright, &place,
                             QV_CONTENT_RENDER);
}

int BuildLayerCache(qvVmState* L, qvLayer* layer, int mode) {
    qvDisplay* display = Graphics().Host().CurrentDisplay();
    const qv::scene::DisplayScale scale = LayerDisplays().Scale(display);
    const bool displayItem = (mode & QV_CACHE_DISPLAYITEM) != 0;
    qvWorkTransform work = WorkTransform(layer, displayItem, scale);
    qvLayerItem* const source = layer->sourceItem;
    qvLayerItem* const oldPicture = layer->pictureItem;
    qvLayerItem* const oldDisplay = layer->displayItem;
    qvLayerItem* fresh = source->Copy();
    if (fresh == nullptr) return ERR_MEM;
    const int skip = (mode & QV_CACHE_NOREPAINT) != 0 ? 1 : 0;
    qvLayerArea previous = DrawArea(oldPicture, skip);
    if (displayItem) {
        previous = DrawArea(oldDisplay != oldPicture ? oldDisplay : oldPicture, skip);
        if ((mode & QV_CACHE_NOPREVIOUS) != 0) previous.width = -1;
    }
    int code = 0;
    if (!displayItem && layer->noClipTransform != 0) {
        fresh->clipRegion = source->clipRegion;
    } else if (source->clipRegion != nullptr) {
        fresh->clipRegion = TransformClipRegion(L, source->clipRegion, work.transform.matrix,
                                                layer->anchorX, layer->anchorY);
        fresh->ownsClipRegion = fresh->clipRegion != nullptr;
        if (fresh->clipRegion == nullptr) code = ERR_MEM;
    }
    if (code == 0 && displayItem) {
        if (layer->type == kTypeLine) {
            fresh->drawX = ScaledPosition(oldPicture->drawX, scale.x);
            fresh->drawY = ScaledPosition(oldPicture->drawY, scale.y);
        } else {
            fresh->x = ScaledPosition(oldPicture->x, scale.x);
            fresh->y = ScaledPosition(oldPicture->y, scale.y);
        }
    }
    bool nested = false;
    if (code == 0 && displayItem) {
        layer->displayItem = fresh;
        code = BuildLayerContent(L, layer, -1, fresh, &fresh->transformed, &work, &previous,
                                 QV_CONTENT_RENDER | QV_CONTENT_KEEPPOS);
    } else if (code == 0) {
        layer->pictureItem = layer->displayItem = fresh;
        code = BuildLayerContent(L, layer, -1, fresh, &fresh->transformed, &work, &previous,
                                 QV_CONTENT_RENDER);
        if (code == 0 && NeedsDisplayItem(display, scale)) {
            nested = true;
            layer->displayItem = oldDisplay;
            code = BuildLayerCache(L, layer, skip != 0 ? 3 : QV_CACHE_DISPLAYITEM);
        }
    }
    if (code != 0) {
        // The old items are untouched: the layer keeps them.
        layer->pictureItem = oldPicture, layer->displayItem = oldDisplay;
        FreeLayerItem(fresh);
        return code;
    }
    // The new item rendered into buffers of its own; the source item that stood as the
    // display item gives up the transformed image of that role.
    if (oldDisplay == source && oldDisplay != layer->displayItem &&
        oldDisplay != layer->pictureItem) {
        FreeLayerImage(&oldDisplay->transformed);
    }
    // A nested build replaced (and freed) the old display item itself.
    if (!nested && oldDisplay != oldPicture) FreeUnlessUsed(layer, oldDisplay);
    if (!displayItem) FreeUnlessUsed(layer, oldPicture);
    return 0;
}

int RebuildLayerCache(qvVmState* L, qvLayer* layer) {
    return BuildLayerCache(L, layer, QV_CACHE_DISPLAYITEM | QV_CACHE_NOREPAINT);
}

int RebuildPictureLayers(qvVmState* L, qvDisplay* display, qvBGPic* picture) {
    qvDisplay* current = display;
    qvBGPic* output = picture;
    LayerDisplays().SwapCurrent(&current, &output);
    int code = 0;
    qv::scene::ForEachLayer(&picture->layers, [&](qvLayer* layer) {
        if (code == 0) code = RebuildLayerCache(L, layer);
    });
    LayerDisplays().SwapCurrent(&current, &output);
    return code;
}

int RebuildLayersForDisplay(qvVmState*, qvDisplay* display, qvBGPic* picture, int reallocate) {
    if (int code = LayerDisplays().ShowUnscaled(display, picture, reallocate)) return code;
    qv::scene::ForEachLayer(&picture->layers, [&](qvLayer* layer) {
        qvLayerItem* dropped = layer->displayItem;
        if (dropped == layer->pictureItem || dropped == layer->sourceItem) return;
        const bool hadPlanes =
            dropped->transformed.mask != nullptr || dropped->transformed.alpha != nullptr;
        layer->displayItem = layer->pictureItem;
        FreeLayerItem(dropped);
        // An owner that draws into the layer renders it again for the new size.
        if ((hadPlanes || layer->displayRebuild != 0) && IsObjectUsedByAsyncDraw(layer) != 0) {
            BroadcastAsyncDraws(kAsyncLayerChanged, layer);
        }
    });
    return 0;
}

int RebuildLayersOnDisplay(qvVmState* L, qvDisplay* display, qvBGPic* picture) {
    const qv::scene::DisplayScale scale = LayerDisplays().Scale(display);
    if (scale.layerScaling && (scale.x != 1.0 || scale.y != 1.0)) {
        return RebuildPictureLayers(L, display, picture);
    }
    return RebuildLayersForDisplay(L, display, picture, 0);
}

void ScaleRect(int32_t x, int32_t y, int32_t width, int32_t height, int32_t* outX, int32_t* outY,
               int32_t* outWidth, int32_t* outHeight, double scaleX, double scaleY) {
    *outX = ScaledPosition(x, scaleX);
    *outY = ScaledPosition(y, scaleY);
    *outWidth = qv::Saturate32(
        int64_t(ScaledPosition(qv::Saturate32(int64_t(x) + width - 1), scaleX)) - *outX + 1);
    *outHeight = qv::Saturate32(
        int64_t(ScaledPosition(qv::Saturate32(int64_t(y) + height - 1), scaleY)) - *outY + 1);
}
