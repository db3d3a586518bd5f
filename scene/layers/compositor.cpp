#include "scene/layers/compositor.h"

#include <algorithm>

#include "gfx/colour_filters.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "gfx/safe_blt.h"
#include "platform/linux/debug_output.h"
#include "runtime/lists.h"
#include "scene/bgpic.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_effects.h"
#include "scene/object_hooks.h"

using namespace qv::gfx;
using qv::scene::LayerDisplays;
using qv::scene::Objects;

namespace {

using qv::scene::CutRect;
using Area = qv::scene::LayerRect;

bool Cut(Area* a, int32_t x, int32_t y, int32_t width, int32_t height) {
    return CutRect(a, {x, y, width, height});
}

// Where the background comes from: the scaled set at the picture's size; else the display
// bitmap (the picture as the display shows it) when asked or when the display shows this
// picture, unless that is ruled out; else the picture's shown bitmap.
qvDisplayBitMap* Background(qvDisplay* display, const qvBGPic* picture, int flags) {
    if ((flags & QV_REDRAW_PICTURESIZE) != 0) return picture->scaled.bitmap;
    if ((flags & QV_REDRAW_PICTUREBACKGROUND) == 0 && display != nullptr &&
        ((flags & QV_REDRAW_DISPLAYBACKGROUND) != 0 ||
         LayerDisplays().ShownPicture(display) == picture)) {
        if (qvDisplayBitMap* bitmap = Graphics().View(display).backBuffers[0]) return bitmap;
    }
    return picture->shown.bitmap;
}

qvLayerPicture PictureOf(const qvLayerImage& image) {
    return {image.bitmap,         image.mask, image.alpha, image.bitmap->width,
            image.bitmap->height, nullptr,    0,           0};
}

qvLayerPicture PictureOf(const PictureView& view) {
    return {view.bitmap, view.mask, view.alpha, view.width, view.height, nullptr, 0, 0};
}

// The image of the object the layer shows; part layers read their part of it.
int ObjectImage(qvVmState* L, const qvLayer* layer, qvLayerItem* item, int32_t frame,
                qvLayerPicture* out) {
    PictureView view{};
    int code = ERR_WRONGUSAGE;
    switch (layer->type) {
        case kTypeBrush:
        case kTypeBrushPart:
            code = Objects().BrushImage(L, layer->objectId, &view, &out->source);
            break;
        case kTypeAnim: {
            const auto* anim = dynamic_cast<const qvAnimItem*>(item);
            if (frame == -1) frame = anim != nullptr ? anim->frame : 0;
            code = Objects().AnimFrame(L, layer->objectId, frame, &view);
            break;
        }
        case kTypeTextObject:
            code = Objects().TextObjectImage(L, layer->objectId, &view);
            break;
        case kTypeBGPicPart: {
            qvBGPic* picture = nullptr;
            code = GetBGPic(L, layer->objectId, &picture, QV_BGPIC_ORPHANS);
            if (code == 0) {
                view = {picture->shown.bitmap, picture->shown.mask, picture->shown.alpha,
                        picture->shownWidth, picture->shownHeight};
            }
            break;
        }
        default:
            break;
    }
    if (code != 0) return code;
    if (view.bitmap == nullptr) return ERR_WRONGUSAGE;
    qvImageHandle* source = out->source;
    *out = PictureOf(view);
    out->source = source;
    if (layer->type == kTypeBrushPart || layer->type == kTypeBGPicPart) {
        if (const auto* part = dynamic_cast<const qvImageItem*>(item)) {
            out->offsetX = part->partX, out->offsetY = part->partY;
        }
    }
    return 0;
}

// Paints the part of one layer that lies in the area: its shadow, its border, its image;
// 0 or the paint's error. Skipped layers paint nothing.
int PaintLayer(qvVmState* L, qvLayer* layer, qvLayerItem* item, qvDisplayBitMap* dest, Area area,
               const qv::scene::DisplayScale& scale) {
    if (layer->type == kTypeNoObject || item == nullptr) return 0;
    const qvClipRegion* region = item->clipRegion;
    if (region != nullptr && !Cut(&area, region->x, region->y, region->width, region->height)) {
        return 0;
    }
    // A layer at full transparency shows nothing, its shadow and border included; a mix at
    // opacity 0 would still round the background down.
    if (layer->hidden != 0 || layer->deferred != 0 || layer->transparency >= 255) return 0;
    if (layer->shadow.on != 0 &&
        !qv::scene::PaintLayerShadow(L, layer, item, dest, area, scale, region)) {
        return 0;
    }
    if (layer->border.on != 0 && qv::scene::PaintLayerBorder(L, layer, item, dest, area, region)) {
        return 0;
    }
    if (!Cut(&area, item->drawX, item->drawY, item->drawWidth, item->drawHeight)) return 0;
    qvLayerPicture image;
    if (GetLayerImage(L, layer, item, 1, 1, -1, &image) != 0) return 0;
    const int32_t sx = int32_t(int64_t(area.x) - item->drawX + image.offsetX);
    const int32_t sy = int32_t(int64_t(area.y) - item->drawY + image.offsetY);
    return BlendLayerImage(L, image.bitmap, sx, sy, dest, area.x, area.y, area.width, area.height,
                           image.width, image.height, dest->width, dest->height, image.mask,
                           image.alpha, layer->transparency, region);
}

// Whether the layer's own paint alone decides every pixel of the area: shown, upright, whole
// (no mask, alpha plane, clip region, transparency, filter, shadow or border) and with an
// image that reaches over all of it. Reads only what the layer holds now: its own or
// transformed image, or the brush or picture it shows; no cache is built. The image looked
// up is left in *image, for a caller that reads it too.
bool CoversOpaquely(qvVmState* L, qvLayer* layer, qvLayerItem* item, const Area& area,
                    qvLayerPicture* image) {
    // The draw rectangle first: most layers miss most areas.
    if (item == nullptr || int64_t(item->drawX) > area.x || int64_t(item->drawY) > area.y ||
        int64_t(item->drawX) + item->drawWidth < int64_t(area.x) + area.width ||
        int64_t(item->drawY) + item->drawHeight < int64_t(area.y) + area.height) {
        return false;
    }
    if (layer->type == kTypeNoObject || item->clipRegion != nullptr || layer->hidden != 0 ||
        layer->deferred != 0 || layer->transparency != 0 || layer->shadow.on != 0 ||
        layer->border.on != 0 || LayerHasFilter(layer)) {
        return false;
    }
    const double* matrix = layer->transform.matrix;
    if (matrix[1] != 0.0 || matrix[2] != 0.0) return false;
    // Anims and text objects may render on request; only plain lookups are asked.
    const bool held = item->transformed.bitmap != nullptr || item->image.bitmap != nullptr;
    if (!held && layer->type != kTypeBrush && layer->type != kTypeBrushPart &&
        layer->type != kTypeBGPicPart) {
        return false;
    }
    if (GetLayerImage(L, layer, item, 0, 1, -1, image) != 0 || image->mask != nullptr ||
        image->alpha != nullptr) {
        return false;
    }
    const int64_t sx = int64_t(area.x) - item->drawX + image->offsetX;
    const int64_t sy = int64_t(area.y) - item->drawY + image->offsetY;
    return sx >= 0 && sy >= 0 && sx + area.width <= image->width &&
           sy + area.height <= image->height;
}

void PaintSprites(qvVmState* L, const qvBGPic* picture, qvDisplayBitMap* dest, const Area& area) {
    for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
        Area part = area;
        if (!Cut(&part, s->x, s->y, s->width, s->height)) continue;
        const qvClipRegion* region = s->clipRegion;
        if (region != nullptr && !Cut(&part, region->x, region->y, region->width, region->height)) {
            continue;
        }
        PictureView frame{};
        if (!Objects().SpriteFrame(*s, s->frame - 1, &frame) || frame.bitmap == nullptr) continue;
        SafeBlt(L, frame.bitmap, part.x - s->x, part.y - s->y, dest, part.x, part.y, part.width,
                part.height, frame.width, frame.height, dest->width, dest->height,
                QV_BLIT_OFFSCREEN | QV_BLIT_NOSPRITES, frame.mask, frame.alpha, region);
    }
}

}  // namespace

qvLayer* qv::scene::TopOpaqueCover(qvVmState* L, qvBGPic* picture, const LayerRect& area,
                                   bool pictureItems) {
    for (qvListNode* node = picture->layers.tailPred; node->pred != nullptr; node = node->pred) {
        auto* layer = reinterpret_cast<qvLayer*>(node);
        qvLayerPicture image;
        if (CoversOpaquely(L, layer, pictureItems ? layer->pictureItem : layer->displayItem, area,
                           &image)) {
            return layer;
        }
    }
    return nullptr;
}

bool qv::scene::TopLayerShowsAlone(qvVmState* L, qvBGPic* picture, const LayerRect& area,
                                   const qvDisplayBitMap* bitmap, int32_t srcX, int32_t srcY) {
    if (IsListEmpty(&picture->layers) ||
        RectHitsSprite(picture, area.x, area.y, area.width, area.height)) {
        return false;
    }
    auto* top = reinterpret_cast<qvLayer*>(picture->layers.tailPred);
    qvLayerItem* item = top->displayItem;
    qvLayerPicture image;
    if (!CoversOpaquely(L, top, item, area, &image)) return false;
    return image.bitmap == bitmap && int64_t(area.x) - item->drawX + image.offsetX == srcX &&
           int64_t(area.y) - item->drawY + image.offsetY == srcY;
}

int Redraw(qvVmState* L, qvDisplay* display, qvBGPic* picture, qvDisplayBitMap* dest, int32_t x,
           int32_t y, int32_t width, int32_t height, int32_t, int flags) {
    if (width < 1 || height < 1) {
        qv::WriteDebugPlain("ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n");
        return 0;
    }
    if (x < 0 || y < 0) {
        qv::WriteDebugPlain("ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n");
        return 0;
    }
    if (dest == nullptr) {
        qv::WriteDebugPlain("ERROR! REDRAW CALLED WITHOUT DSTBM\n");
        return 0;
    }
    if (picture == nullptr) return 0;
    const bool pictureSize = (flags & QV_REDRAW_PICTURESIZE) != 0;
    const int32_t pictureWidth = pictureSize ? picture->width : picture->shownWidth;
    const int32_t pictureHeight = pictureSize ? picture->height : picture->shownHeight;
    // A rectangle that starts beyond the picture leaves nothing to paint.
    Area area{x, y, std::min<int32_t>(width, pictureWidth - x),
              std::min<int32_t>(height, pictureHeight - y)};
    if (area.width < 1 || area.height < 1) return 0;
    int code = 0;
    if ((flags & QV_REDRAW_SPRITESONLY) == 0) {
        qvLayer* cover = qv::scene::TopOpaqueCover(L, picture, area, pictureSize);
        qvDisplayBitMap* background =
            cover == nullptr ? Background(display, picture, flags) : nullptr;
        if (background != nullptr) {
            SafeBlt(L, background, x, y, dest, x, y, area.width, area.height, pictureWidth,
                    pictureHeight, dest->width, dest->height,
                    QV_BLIT_OFFSCREEN | QV_BLIT_NOSPRITES | QV_BLIT_NOREGION, nullptr, nullptr,
                    nullptr);
        }
        // Picture items are not scaled to the display.
        const qv::scene::DisplayScale scale =
            pictureSize ? qv::scene::DisplayScale{} : LayerDisplays().Scale(display);
        qv::scene::ForEachLayer(
            &picture->layers,
            [&](qvLayer* layer) {
                const int result =
                    PaintLayer(L, layer, pictureSize ? layer->pictureItem : layer->displayItem,
                               dest, area, scale);
                if (result != 0) code = result;
            },
            cover);
    }
    if ((flags & QV_REDRAW_NOSPRITES) == 0) PaintSprites(L, picture, dest, area);
    return code;
}

void RedrawShownPicture(qvVmState* L, qvDisplay* display, qvDisplayBitMap* dest, int32_t x,
                        int32_t y, int32_t width, int32_t height, int flags) {
    Redraw(L, display, LayerDisplays().ShownPicture(display), dest, x, y, width, height, 0, flags);
}

int GetLayerImage(qvVmState* L, qvLayer* layer, qvLayerItem* item, int withFilters,
                  int withTransform, int32_t frame, qvLayerPicture* out) {
    *out = {};
    if (layer->type == kTypeNoObject) return ERR_WRONGUSAGE;
    if (withFilters != 0 && LayerHasFilter(layer)) {
        if (item->filtered.bitmap == nullptr) {
            if (int code = qv::scene::BuildFilteredImage(L, layer, item, withTransform)) {
                return code;
            }
        }
        *out = PictureOf(item->filtered);
        return 0;
    }
    if (withTransform != 0 && item->transformed.bitmap != nullptr) {
        *out = PictureOf(item->transformed);
        return 0;
    }
    if (item->image.bitmap != nullptr) {
        *out = PictureOf(item->image);
        return 0;
    }
    return ObjectImage(L, layer, item, frame, out);
}

void GetLayerBounds(qvVmState* L, qvLayer* layer, qvLayerItem* item, int32_t* x, int32_t* y,
                    int32_t* width, int32_t* height) {
    *x = item->drawX, *y = item->drawY;
    *width = item->drawWidth, *height = item->drawHeight;
    if (qv::scene::EnsureLayerBorder(L, layer, item)) {
        const Area border = qv::scene::BorderRect(item);
        UnionRects(x, y, width, height, border.x, border.y, border.width, border.height);
    }
    if (layer->shadow.on != 0) {
        const qv::scene::DisplayScale scale =
            item == layer->displayItem ? LayerDisplays().Scale(Graphics().Host().CurrentDisplay())
                                       : qv::scene::DisplayScale{};
        const Area shadow = qv::scene::ShadowRect(layer, item, scale);
        UnionRects(x, y, width, height, shadow.x, shadow.y, shadow.width, shadow.height);
    }
}

int BlendLayerImage(qvVmState* L, qvDisplayBitMap* source, int32_t sx, int32_t sy,
                    qvDisplayBitMap* dest, int32_t dx, int32_t dy, int32_t width, int32_t height,
                    int32_t sourceWidth, int32_t sourceHeight, int32_t destWidth,
                    int32_t destHeight, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                    uint32_t transparency, const qvClipRegion* region) {
    constexpr uint32_t kMasked = QV_BLIT_OFFSCREEN | QV_BLIT_NOSPRITES;
    if (transparency == 0) {
        SafeBlt(L, source, sx, sy, dest, dx, dy, width, height, sourceWidth, sourceHeight,
                destWidth, destHeight, kMasked, mask, alpha, region);
        return 0;
    }
    ClipBlitRect(region, &sx, &sy, &dx, &dy, &width, &height, sourceWidth, sourceHeight, destWidth,
                 destHeight, 1);
    if (width < 1 || height < 1) return 0;
    const int32_t opacity = 255 - int32_t(std::min<uint32_t>(transparency, 255));
    // The scaled alpha plane needs to reach only as far as the rectangle.
    const int32_t alphaWidth = sx + width, alphaHeight = sy + height;
    if (region == nullptr || !qv::PlaneUsable(region->mask)) {
        return MixBitmaps(dest, source, mask, dx, dy, sx, sy, width, height, opacity, alpha,
                          alphaWidth, alphaHeight);
    }
    // A shaped region: mix into a copy of the destination, then put the copy back through
    // the region's shape.
    qv::OwnedBitMap copy(qv::AllocBitMapInFormat(width, height, dest->format, false, true));
    if (!copy) return ERR_MEM;
    BltBitMap(dest, dx, dy, copy.get(), 0, 0, width, height);
    const int code = MixBitmaps(copy.get(), source, mask, 0, 0, sx, sy, width, height, opacity,
                                alpha, alphaWidth, alphaHeight);
    SafeBlt(L, copy.get(), 0, 0, dest, dx, dy, width, height, width, height, destWidth, destHeight,
            kMasked, nullptr, nullptr, region);
    return code;
}

int IsLayerUncovered(const qvBGPic*, const qvLayer* layer) {
    // The last column or row of a side, inclusive.
    auto last = [](int32_t start, int32_t size) {
        return int32_t(std::clamp<int64_t>(int64_t(start) + size - 1, INT32_MIN, INT32_MAX));
    };
    const qvLayerItem* a = layer->displayItem;
    for (qvListNode* node = layer->node.succ; node != nullptr && node->succ != nullptr;
         node = node->succ) {
        const auto* above = reinterpret_cast<const qvLayer*>(node);
        const qvLayerItem* b = above->displayItem;
        if (above->hidden != 0 || above->deferred != 0) continue;
        if (RectsOverlap(a->drawX, a->drawY, last(a->drawX, a->drawWidth),
                         last(a->drawY, a->drawHeight), b->drawX, b->drawY,
                         last(b->drawX, b->drawWidth), last(b->drawY, b->drawHeight))) {
            return 0;
        }
    }
    return 1;
}

bool RectsOverlap(int32_t ax1, int32_t ay1, int32_t ax2, int32_t ay2, int32_t bx1, int32_t by1,
                  int32_t bx2, int32_t by2) {
    return !(ay2 < by1 || ay1 > by2 || ax2 < bx1 || ax1 > bx2);
}

void SpanExtent(int64_t low, int64_t high, int32_t* start, int32_t* length) {
    constexpr int64_t kFar = int64_t(1) << 30;
    low = std::clamp(low, -kFar, kFar), high = std::clamp(high, -kFar, kFar);
    *start = int32_t(low);
    *length = int32_t(std::max<int64_t>(high - low, 0));
}

void UnionRects(int32_t* x, int32_t* y, int32_t* width, int32_t* height, int32_t x2, int32_t y2,
                int32_t width2, int32_t height2) {
    const int64_t left = std::min(*x, x2), top = std::min(*y, y2);
    const int64_t right = std::max(int64_t(*x) + *width, int64_t(x2) + width2);
    const int64_t bottom = std::max(int64_t(*y) + *height, int64_t(y2) + height2);
    SpanExtent(left, right, x, width);
    SpanExtent(top, bottom, y, height);
}
