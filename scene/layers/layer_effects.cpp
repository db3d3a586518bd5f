#include "scene/layers/layer_effects.h"

#include <algorithm>
#include <cmath>

#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "gfx/kernels/frontend_kernels.h"
#include "gfx/library/object_types.h"
#include "gfx/spatial_filters.h"
#include "gfx/transform.h"
#include "scene/layers/compositor.h"
#include "scene/layers/filter_pass.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layer_transform.h"

using namespace qv::gfx;

namespace qv::scene {
namespace {

// A border this size or larger is softened by a second, finer blur.
constexpr int32_t kSoftBorderSize = 4;
// Texts with a thinner border draw it with their glyphs.
constexpr int32_t kTextBorderLimit = 8;
// The widest a shadow's blur or a border's dilation reaches on the display. Their planes grow
// by the reach on every side and each pixel costs a tap per pixel of reach, so a reach of
// thousands (a huge shadow radius, a border on a much enlarged layer) would stall every repaint
// for minutes or exhaust memory. Reaches up to this are unchanged, and so are wider shadows of
// sigma up to 3, whose Gaussian has no weight left this far out.
constexpr int32_t kMaxBlurReach = 256;

// The shadow's blur radius as drawn (NaN as the largest).
double ShadowRadius(const qvLayer* layer) {
    const double radius = layer->shadow.radius;
    return radius <= kMaxBlurReach ? radius : kMaxBlurReach;
}

bool HasBorderRenderer(uint32_t type, int32_t size) {
    switch (type) {
        case kTypeTextObject:
        case kTypeTextOut:
        case kTypePrint:
            return size < kTextBorderLimit;
        case kTypeBox:
        case kTypeCircle:
        case kTypeEllipse:
        case kTypePolygon:
        case kTypeArc:
        case kTypeVectorPath:
            return true;
        default:
            return false;
    }
}

// A level scaled by a fade word: 0 leaves it, else it is multiplied by (fade - 1) / 255.
int32_t Faded(int32_t level, uint32_t fade) {
    return fade == 0 ? level : int32_t(int64_t(level) * (int64_t(fade) - 1) / 255);
}

// The shadow's opacity: its colour's, scaled by its fade word and by the layer's transparency,
// so that the shadow fades with the layer as the border does.
uint8_t ShadowOpacity(const qvLayer* layer) {
    const int32_t own = Faded(255 - int32_t(layer->shadow.colour >> 24), layer->shadowFade);
    const int32_t shown = 255 - int32_t(std::min<uint32_t>(layer->transparency, 255));
    return uint8_t(own * shown / 255);
}

// The width x height rectangle of the image at its offset, cut to the image.
LayerRect DrawnPart(const qvLayerPicture& image, const qvLayerItem* item) {
    return {image.offsetX, image.offsetY, std::min(item->drawWidth, image.width - image.offsetX),
            std::min(item->drawHeight, image.height - image.offsetY)};
}

// The border of an image drawn through its silhouette: a plane of the silhouette dilated by
// t (blurred, every touched pixel made solid), softened again for thicker borders; an image
// without mask or alpha is a rectangle and needs no plane.
int DilatedBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, const qvLayerPicture& source,
                  uint32_t colour, int32_t size, qvLayerBorder* out) {
    qvLayerPicture image;
    if (int code = GetLayerImage(L, layer, item, 0, 1, -1, &image)) return code;
    const LayerRect part = DrawnPart(image, item);
    if (part.width < 1 || part.height < 1) return 0;
    const DisplayScale scale = LayerDisplays().Scale(Graphics().Host().CurrentDisplay());
    double matrix[4];
    std::copy(layer->transform.matrix, layer->transform.matrix + 4, matrix);
    ScaleMatrix(matrix, scale.x, scale.y);
    const int32_t t = std::min(
        IsIdentityMatrix(matrix) ? size
                                 : GetTransformedBorderWidth(matrix, source.width - source.offsetX,
                                                             source.height - source.offsetY, size),
        kMaxBlurReach);
    const int64_t width = int64_t(part.width) + 2 * int64_t(std::max(t, 0));
    const int64_t height = int64_t(part.height) + 2 * int64_t(std::max(t, 0));
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    const auto w = int32_t(width), h = int32_t(height);
    OwnedBitMap bitmap(AllocDisplayBitMap(w, h));
    if (!bitmap) return ERR_MEM;
    RectFill(bitmap.get(), 0, 0, w, h, colour & 0xFFFFFF);
    OwnedPlane plane;
    if (image.mask != nullptr || image.alpha != nullptr) {
        plane.reset(MakeShadowPlane(image.alpha, image.mask, part.x, part.y, part.width,
                                    part.height, 255, 1, 0, t, t / 3.0));
        if (!plane) return ERR_MEM;
        if (size >= kSoftBorderSize) {
            ConvolveBitmap(QV_CONVOLVE_BLUR, nullptr, plane.get(), w, h, nullptr, t / 2.0, t / 6.0);
        }
    }
    const uint32_t transparency = colour >> 24;
    if (transparency != 0) {
        const auto opacity = uint8_t(255 - transparency);
        if (plane) {
            CopyPlane8(plane.get(), plane.get(), h, opacity);
        } else {
            plane.reset(AllocAlphaBitMap(w, h, 1));
            if (!plane) return ERR_MEM;
            FillPlane8Rect(plane.get(), 0, 0, w, h, opacity);
        }
    }
    out->image = {bitmap.release(), nullptr, plane.release()};
    out->dx = out->dy = t;
    out->width = w, out->height = h;
    return 0;
}

// The shadow's silhouette: the border image when there is one, else the layer's image.
// 0 with *plane (none when it cannot be made), or the error of the layer's image.
int MakeLayerShadowPlane(qvVmState* L, qvLayer* layer, qvLayerItem* item, qvPlaneBitMap** plane) {
    const uint8_t opacity = ShadowOpacity(layer);
    const double radius = ShadowRadius(layer), sigma = layer->shadow.sigma;
    const qvLayerImage& border = item->border;
    *plane = nullptr;
    if (layer->border.on != 0 && border.bitmap != nullptr) {
        *plane = MakeShadowPlane(border.alpha, border.mask, 0, 0, item->borderWidth,
                                 item->borderHeight, opacity, 0, 0, radius, sigma);
        return 0;
    }
    qvLayerPicture image;
    if (int code = GetLayerImage(L, layer, item, 1, 1, -1, &image)) return code;
    const LayerRect part = DrawnPart(image, item);
    if (part.width < 1 || part.height < 1) return 0;
    *plane = MakeShadowPlane(image.alpha, image.mask, part.x, part.y, part.width, part.height,
                             opacity, 0, 0, radius, sigma);
    return 0;
}

}  // namespace

bool CutRect(LayerRect* a, const LayerRect& r) {
    const int64_t left = std::max<int64_t>(a->x, r.x), top = std::max<int64_t>(a->y, r.y);
    const int64_t right = std::min(int64_t(a->x) + a->width, int64_t(r.x) + r.width);
    const int64_t bottom = std::min(int64_t(a->y) + a->height, int64_t(r.y) + r.height);
    if (right <= left || bottom <= top) return false;
    *a = {int32_t(left), int32_t(top), int32_t(right - left), int32_t(bottom - top)};
    return true;
}

int BuildFilteredImage(qvVmState* L, qvLayer* layer, qvLayerItem* item, int withTransform) {
    qvLayerPicture image;
    if (int code = GetLayerImage(L, layer, item, 0, withTransform, -1, &image)) return code;
    const LayerRect part = DrawnPart(image, item);
    if (part.width < 1 || part.height < 1) return ERR_BADDIMENSIONS;
    qvLayerImage made{};
    if (int code = CopyBitmapArea(image.bitmap, image.mask, image.alpha, part.x, part.y, part.width,
                                  part.height, 1, &made.bitmap, &made.mask, &made.alpha)) {
        return code;
    }
    OwnedBitMap bitmap(made.bitmap);
    OwnedPlane mask(made.mask), alpha(made.alpha);
    if (int code = ApplyLayerFilters(layer->filters, made.bitmap, made.mask, made.alpha, part.width,
                                     part.height)) {
        return code;
    }
    item->filtered = {bitmap.release(), mask.release(), alpha.release()};
    return 0;
}

bool EnsureLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item) {
    if (layer->border.on == 0) return false;
    if (item->border.bitmap != nullptr) return true;
    qvLayerBorder border;
    if (RenderLayerBorder(L, layer, item, layer->border.colour, layer->border.size, &border) != 0 ||
        border.image.bitmap == nullptr) {
        return false;
    }
    item->border = border.image;
    item->borderDX = border.dx, item->borderDY = border.dy;
    item->borderWidth = border.width, item->borderHeight = border.height;
    return true;
}

LayerRect BorderRect(const qvLayerItem* item) {
    return {Saturate32(int64_t(item->drawX) - item->borderDX),
            Saturate32(int64_t(item->drawY) - item->borderDY), item->borderWidth,
            item->borderHeight};
}

LayerRect ShadowRect(const qvLayer* layer, const qvLayerItem* item, const DisplayScale& scale) {
    const LayerRect base =
        layer->border.on != 0 && item->border.bitmap != nullptr
            ? BorderRect(item)
            : LayerRect{item->drawX, item->drawY, item->drawWidth, item->drawHeight};
    const int64_t r = std::clamp<int64_t>(TruncSaturate(ShadowRadius(layer)), 0, kMaxBitMapSide);
    const int64_t sx = TruncSaturate(layer->shadow.size * scale.x);
    const int64_t sy = TruncSaturate(layer->shadow.size * scale.y);
    const int32_t direction = layer->shadow.direction;
    int64_t x = int64_t(base.x) - r, y = int64_t(base.y) - r;
    if (direction >= 1 && direction <= 3) x += sx;
    if (direction >= 5 && direction <= 7) x -= sx;
    if (direction == 0 || direction == 1 || direction == 7) y -= sy;
    if (direction >= 3 && direction <= 5) y += sy;
    return {Saturate32(x), Saturate32(y), Saturate32(int64_t(base.width) + 2 * r),
            Saturate32(int64_t(base.height) + 2 * r)};
}

bool PaintLayerShadow(qvVmState* L, qvLayer* layer, qvLayerItem* item, qvDisplayBitMap* dest,
                      const LayerRect& area, const DisplayScale& scale,
                      const qvClipRegion* region) {
    EnsureLayerBorder(L, layer, item);
    if (item->shadowPlane == nullptr) {
        // Without its image the layer is skipped; without a plane it paints unshadowed.
        if (MakeLayerShadowPlane(L, layer, item, &item->shadowPlane) != 0) return false;
        if (item->shadowPlane == nullptr) return true;
    }
    const LayerRect shadow = ShadowRect(layer, item, scale);
    LayerRect part = area;
    if (!CutRect(&part, shadow)) return true;
    const qvPlaneBitMap* plane = item->shadowPlane;
    const int32_t sx = part.x - shadow.x, sy = part.y - shadow.y;
    const uint32_t colour = layer->shadow.colour & 0xFFFFFF;
    if (region != nullptr && PlaneUsable(region->mask)) {
        OwnedBitMap filled(AllocBitMapInFormat(shadow.width, shadow.height, dest->format, false));
        if (!filled) return true;
        RectFill(filled.get(), sx, sy, part.width, part.height, colour);
        BlendLayerImage(L, filled.get(), sx, sy, dest, part.x, part.y, part.width, part.height,
                        shadow.width, shadow.height, dest->width, dest->height, nullptr, plane, 0,
                        region);
        return true;
    }
    BltAlphaChannelClipped(plane, sx, sy, dest, part.x, part.y, part.width, part.height,
                           plane->width, plane->height, dest->width, dest->height, colour,
                           QV_COVERAGE_BLEND, nullptr, 0, nullptr, 0, nullptr);
    return true;
}

bool PaintLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, qvDisplayBitMap* dest,
                      const LayerRect& area, const qvClipRegion* region) {
    if (!EnsureLayerBorder(L, layer, item)) return false;
    const LayerRect border = BorderRect(item);
    LayerRect part = area;
    if (CutRect(&part, border)) {
        const int32_t opacity =
            Faded(255 - int32_t(std::min<uint32_t>(layer->transparency, 255)), layer->borderFade);
        const qvLayerImage& image = item->border;
        BlendLayerImage(L, image.bitmap, part.x - border.x, part.y - border.y, dest, part.x, part.y,
                        part.width, part.height, border.width, border.height, dest->width,
                        dest->height, image.mask, image.alpha, uint32_t(255 - opacity), region);
    }
    return item->HiddenUnderBorder(layer->border.colour);
}

}  // namespace qv::scene

int RenderLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, uint32_t colour,
                      int32_t size, qvLayerBorder* out) {
    *out = {};
    if (qv::scene::HasBorderRenderer(layer->type, size)) {
        if (qvLayerBorderRenderer render = LayerBorderRenderer(layer->type)) {
            return render(L, layer, item, colour, size, out);
        }
    }
    qvLayerPicture source;
    if (int code = GetLayerImage(L, layer, layer->sourceItem, 0, 0, -1, &source)) return code;
    const double* matrix = layer->transform.matrix;
    const bool turned = matrix[1] != 0.0 || matrix[2] != 0.0;
    qvBoxBorderRenderer box = BoxBorderRenderer();
    if (turned && source.mask == nullptr && source.alpha == nullptr && box != nullptr) {
        // A turned rectangle: its border is that of a box outline of the source's size. The
        // renderer's offsets already say where the turned box lies in the border, which is
        // where the turned bitmap lies: no further shift.
        const qv::scene::LayerRect part = qv::scene::DrawnPart(source, layer->sourceItem);
        return box(L, layer, part.width, part.height, colour, size, out);
    }
    return qv::scene::DilatedBorder(L, layer, item, source, colour, size, out);
}
