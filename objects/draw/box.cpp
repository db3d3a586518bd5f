#include "objects/draw/box.h"

#include <algorithm>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/gradient.h"
#include "gfx/graphics_state.h"
#include "objects/draw/shape_engine.h"
#include "objects/draw/shape_geometry.h"
#include "objects/draw/shape_output.h"
#include "objects/scene_seam.h"
#include "platform/linux/window.h"
#include "scene/bgpic.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"

namespace qv::draw {
namespace {

struct Rect {
    int64_t x, y, width, height;
    bool Empty() const { return width < 1 || height < 1; }
};

// How a plain box lies with its border and shadow: all relative to the image's origin.
struct BoxLayout {
    Rect image, shadow, border, box;
    int32_t borderSize = 0, shadowSize = 0;
};

BoxLayout LayOutBox(const qvDrawState& state, int64_t width, int64_t height) {
    BoxLayout layout;
    const bool filled = state.fillStyle != FILLNONE;
    const int32_t b = filled && (state.formStyle & EDGE) != 0 ? state.borderSize : 0;
    const int32_t s = filled && (state.formStyle & SHADOW) != 0 ? state.shadowSize : 0;
    int32_t left, top, right, bottom;
    ShadowDirectionMasks(s, state.shadowDirection, &left, &top, &right, &bottom);
    layout.borderSize = b, layout.shadowSize = s;
    layout.border = {left, top, width + 2 * b, height + 2 * b};
    layout.shadow = {right, bottom, layout.border.width, layout.border.height};
    layout.box = {left + b, top + b, width, height};
    layout.image = {0, 0, layout.border.width + left + right, layout.border.height + top + bottom};
    return layout;
}

Rect Intersect(const Rect& r, const Area& area) {
    const int64_t left = std::max(r.x, area.left), top = std::max(r.y, area.top);
    const int64_t right = std::min(r.x + r.width - 1, area.right);
    const int64_t bottom = std::min(r.y + r.height - 1, area.bottom);
    return {left, top, right - left + 1, bottom - top + 1};
}

Rect Moved(const Rect& r, int64_t dx, int64_t dy) {
    return {r.x + dx, r.y + dy, r.width, r.height};
}

// The rectangle in a colour, into the image's colour and plane.
void PaintRect(const ShapeImage& image, const Rect& r, uint32_t colour) {
    if (r.Empty()) return;
    const int32_t x = int32_t(r.x), y = int32_t(r.y), w = int32_t(r.width), h = int32_t(r.height);
    RectFill(image.bitmap.get(), x, y, w, h, colour & 0xFFFFFF);
    if (image.mask != nullptr) FillMaskRect(image.mask.get(), x, y, w, h, 2);
    if (image.alpha != nullptr)
        FillPlane8Rect(image.alpha.get(), x, y, w, h, uint8_t(255 - (colour >> 24)));
}

// The image road of a plain box: shadow, border and box as rectangles, bottom-up.
int MakeBoxImage(qvVmState* L, const qvDrawState& state, const BoxLayout& layout, uint32_t colour,
                 const double matrix[4], ShapeImage* out) {
    if (layout.image.width > kMaxBitMapSide || layout.image.height > kMaxBitMapSide) return ERR_MEM;
    ShapeImage image;
    image.width = int32_t(layout.image.width), image.height = int32_t(layout.image.height);
    image.bitmap.reset(AllocDisplayBitMap(image.width, image.height));
    if (image.bitmap == nullptr) return ERR_MEM;
    if (layout.borderSize > 0 || layout.shadowSize > 0 || (colour >> 24) != 0) {
        image.alpha.reset(AllocAlphaBitMap(image.width, image.height, 1));
    } else {
        image.mask.reset(AllocMaskBitMap(image.bitmap.get(), image.width, image.height, 1));
    }
    if (image.mask == nullptr && image.alpha == nullptr) return ERR_MEM;
    if (layout.shadowSize > 0) PaintRect(image, layout.shadow, state.shadowColour);
    if (layout.borderSize > 0) PaintRect(image, layout.border, state.borderColour);
    const Rect& box = layout.box;
    const int32_t x = int32_t(box.x), y = int32_t(box.y), w = int32_t(box.width),
                  h = int32_t(box.height);
    if (state.fillStyle == FILLNONE) {
        for (const Rect& side : {Rect{x, y, w, 1}, Rect{x, y + h - 1, w, 1}, Rect{x, y, 1, h},
                                 Rect{x + w - 1, y, 1, h}}) {
            PaintRect(image, side, colour);
        }
    } else {
        PaintRect(image, box, colour);
    }
    if (state.fillStyle == FILLGRADIENT) {
        DrawGradient(image.bitmap.get(), x, y, w, h, &state.gradient);
    } else if (state.fillStyle == FILLTEXTURE) {
        if (const int code = FillWithTexture(L, image.bitmap.get(), x, y, w, h, state, matrix)) {
            return code;
        }
    }
    *out = std::move(image);
    return 0;
}

// A rectangle of the display filled in its bitmap and window (or, while autoscaling, in
// both bitmaps, the second then shown).
void FillDirect(qvDisplay* display, const gfx::DisplayView& view, const Rect& r, uint32_t rgb) {
    if (r.Empty()) return;
    const int32_t x = int32_t(r.x), y = int32_t(r.y), w = int32_t(r.width), h = int32_t(r.height);
    RectFill(view.backBuffers[0], x, y, w, h, rgb);
    if (view.AutoscaleActive() && view.backBuffers[1] != nullptr) {
        RectFill(view.backBuffers[1], x, y, w, h, rgb);
        BltToDisplay(view.backBuffers[1], x, y, display, x, y, w, h, QV_REFRESH_AUTOSCALE);
    } else {
        FillWindowRect(view.window, x, y, w, h, rgb);
    }
}

enum class Direct { kDone, kImage };

// The direct road: rectangles straight into the display, cut to the drawing area. A box
// under a sprite, a texture, or a gradient cut by the edge takes the image road.
Direct DrawDirect(qvVmState* L, qvDisplay* display, const gfx::DisplayView& view,
                  const qvDrawState& state, const BoxLayout& layout, int32_t x, int32_t y,
                  uint32_t colour) {
    const Area area = DrawingArea();
    const Rect all = Intersect(Moved(layout.image, x, y), area);
    if (all.Empty()) return Direct::kDone;
    if (RectHitsSprite(scene::LayerDisplays().OutputPicture(), int32_t(all.x), int32_t(all.y),
                       int32_t(all.width), int32_t(all.height))) {
        return Direct::kImage;
    }
    const Rect box = Moved(layout.box, x, y);
    const Rect cut = Intersect(box, area);
    if (state.fillStyle == FILLTEXTURE ||
        (state.fillStyle == FILLGRADIENT && (cut.x != box.x || cut.y != box.y ||
                                             cut.width != box.width || cut.height != box.height))) {
        return Direct::kImage;
    }
    if (layout.shadowSize > 0) {
        FillDirect(display, view, Intersect(Moved(layout.shadow, x, y), area),
                   state.shadowColour & 0xFFFFFF);
    }
    if (layout.borderSize > 0) {
        FillDirect(display, view, Intersect(Moved(layout.border, x, y), area),
                   state.borderColour & 0xFFFFFF);
    }
    const uint32_t rgb = colour & 0xFFFFFF;
    if (state.fillStyle == FILLNONE) {
        if (!cut.Empty()) {
            const int skip = (cut.x != box.x ? QV_FRAME_SKIPLEFT : 0) |
                             (cut.x + cut.width != box.x + box.width ? QV_FRAME_SKIPRIGHT : 0) |
                             (cut.y != box.y ? QV_FRAME_SKIPTOP : 0) |
                             (cut.y + cut.height != box.y + box.height ? QV_FRAME_SKIPBOTTOM : 0);
            const bool second = view.AutoscaleActive() && view.backBuffers[1] != nullptr;
            const int32_t cx = int32_t(cut.x), cy = int32_t(cut.y), cw = int32_t(cut.width),
                          ch = int32_t(cut.height);
            DrawBoxFrame(view.backBuffers[0], second ? nullptr : view.window, cx, cy, cw, ch, rgb,
                         skip);
            if (second) {
                DrawBoxFrame(view.backBuffers[1], nullptr, cx, cy, cw, ch, rgb, skip);
                BltToDisplay(view.backBuffers[1], cx, cy, display, cx, cy, cw, ch,
                             QV_REFRESH_AUTOSCALE);
            }
        }
    } else if (state.fillStyle == FILLGRADIENT) {
        const int32_t bx = int32_t(box.x), by = int32_t(box.y), bw = int32_t(box.width),
                      bh = int32_t(box.height);
        for (qvDisplayBitMap* buffer : view.backBuffers) {
            if (buffer != nullptr) DrawGradient(buffer, bx, by, bw, bh, &state.gradient);
            if (!view.AutoscaleActive()) break;
        }
        if (view.AutoscaleActive() && view.backBuffers[1] != nullptr) {
            BltToDisplay(view.backBuffers[1], bx, by, display, bx, by, bw, bh,
                         QV_REFRESH_AUTOSCALE);
        } else {
            WindowBlit(view.backBuffers[0], bx, by, view.window, bx, by, bw, bh, 0, 0);
        }
    } else {
        FillDirect(display, view, cut, rgb);
    }
    if (view.doubleBuffered) {
        AddDirtyRect(L, int32_t(all.x), int32_t(all.y), int32_t(all.width), int32_t(all.height));
    }
    return Direct::kDone;
}

bool TakesRectanglePath(const qvShapeDesc& box, const qvDrawTransform& transform) {
    const ShapeTransform t{
        {transform.matrix[0], transform.matrix[1], transform.matrix[2], transform.matrix[3]}, 0, 0};
    return std::all_of(std::begin(box.cornerLevels), std::end(box.cornerLevels),
                       [](int32_t level) { return level == 0; }) &&
           t.IsIdentity() &&
           (box.drawState->fillStyle != FILLNONE || box.drawState->lineWidth == 1) &&
           (box.drawState->formStyle & ANTIALIAS) == 0;
}

}  // namespace
}  // namespace qv::draw

void DrawBoxFrame(qvDisplayBitMap* bitmap, qvPlatformDisplay* window, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t rgb, int skip) {
    const struct {
        int flag;
        int32_t x, y, width, height;
    } sides[] = {{QV_FRAME_SKIPTOP, x, y, width, 1},
                 {QV_FRAME_SKIPBOTTOM, x, y + height - 1, width, 1},
                 {QV_FRAME_SKIPLEFT, x, y, 1, height},
                 {QV_FRAME_SKIPRIGHT, x + width - 1, y, 1, height}};
    for (const auto& side : sides) {
        if ((skip & side.flag) != 0) continue;
        RectFill(bitmap, side.x, side.y, side.width, side.height, rgb);
        if (window != nullptr) FillWindowRect(window, side.x, side.y, side.width, side.height, rgb);
    }
}

int DrawBoxEx(qvVmState* L, const qvShapeDesc& given, int flags) {
    using namespace qv;
    using namespace qv::draw;
    if (given.width < 1 || given.height < 1) return ERR_WRONGUSAGE;
    qvShapeDesc box = given;
    box.type = BOX;
    ClampCornerLevels(box.cornerLevels);
    const qvDrawTransform transform =
        box.transform != nullptr ? *box.transform : kInitialDrawTransform;
    if (!TakesRectanglePath(box, transform)) return DrawShapeEx(L, &box, flags);

    DrawTarget target;
    if (const int code = FetchDrawTarget(L, &target); code != 0 || target.display == nullptr) {
        return code;
    }
    const gfx::DisplayView& view = target.view;
    const int32_t x = ResolvePosX(box.x, box.width, 0, transform.anchorx);
    const int32_t y = ResolvePosY(box.y, box.height, 0, transform.anchory);
    qvShapeItem item;
    item.drawState = *box.drawState;
    ClampStyleParams(&item.drawState);
    qvDrawStyle noStyle = kInitialDrawStyle;
    qvDrawStyle* style = box.style != nullptr ? box.style : &noStyle;
    uint32_t colour = box.colour;
    if (view.layersEnabled && (flags & (QV_DRAW_REDRAW | QV_DRAW_INPLACE)) == 0) {
        MoveStyleToLayerStyle(&item.drawState, style, &colour);
    }
    const qvDrawState& state = item.drawState;
    item.x = x, item.y = y, item.width = box.width, item.height = box.height;
    item.colour = colour;
    const BoxLayout layout = LayOutBox(state, box.width, box.height);
    const int64_t left = int64_t(x) - layout.box.x, top = int64_t(y) - layout.box.y;
    const bool opaque = (colour >> 24) == 0 &&
                        (layout.borderSize == 0 || (state.borderColour >> 24) == 0) &&
                        (layout.shadowSize == 0 || (state.shadowColour >> 24) == 0);
    if (!view.layersEnabled && view.outputType == gfx::kTargetDisplay && opaque &&
        view.targetMask == nullptr && (flags & (QV_DRAW_NOBLIT | QV_DRAW_REDRAW)) == 0 &&
        DrawDirect(L, target.display, view, state, layout,
                   Saturate32(left - scene::AnchorShift(box.width, transform.anchorx)),
                   Saturate32(top - scene::AnchorShift(box.height, transform.anchory)),
                   colour) == Direct::kDone) {
        return 0;
    }
    ShapeImage image;
    if (const int code = MakeBoxImage(L, state, layout, colour, transform.matrix, &image)) {
        return code;
    }
    image.x = Saturate32(left), image.y = Saturate32(top);
    const ShapeOutput out{BOX,       target.output,      &item, &transform,  style,
                          box.layer, box.insertPosition, flags, box.previous};
    return OutputShapeImage(L, out, std::move(image));
}
