#include "objects/draw/lines.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "media/video_display.h"
#include "objects/draw/coverage.h"
#include "objects/draw/shape_geometry.h"
#include "objects/draw_tags.h"
#include "objects/scene_seam.h"
#include "platform/linux/window.h"
#include "scene/bgpic.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"

namespace qv::draw {
namespace {

// Where an end outside [low, high] along a comes to lie on the bound.
void MoveOntoBound(int64_t* a, int64_t* b, int64_t bound, int64_t a1, int64_t b1, int64_t a2,
                   int64_t b2) {
    *b = b1 + int64_t(__int128(bound - a1) * (b2 - b1) / (a2 - a1));
    *a = bound;
}

// A segment in the output's coordinates, 64 bits wide while it is clipped.
struct Segment {
    int64_t x1, y1, x2, y2;
};

// x first, then y; false when nothing is left.
bool ClipToArea(Segment* s, const Area& area) {
    return ClipLineAxis(&s->x1, &s->y1, &s->x2, &s->y2, area.left, area.right) != 0 &&
           ClipLineAxis(&s->y1, &s->x1, &s->y2, &s->x2, area.top, area.bottom) != 0;
}

enum class Direct { kDone, kUnderSprite };

// The direct road into the display's bitmap and window, the line clipped in place. A line
// whose clipped box touches a sprite is left to the image road.
Direct DrawDirect(qvDisplay* display, const gfx::DisplayView& view, Segment* s, uint32_t rgb) {
    if (!ClipToArea(s, DrawingArea())) return Direct::kDone;
    const int32_t x1 = int32_t(s->x1), y1 = int32_t(s->y1), x2 = int32_t(s->x2),
                  y2 = int32_t(s->y2);
    const LineBox box = LineBoxOf(x1, y1, x2, y2);
    const int32_t bx = int32_t(box.x), by = int32_t(box.y), bw = int32_t(box.width),
                  bh = int32_t(box.height);
    if (RectHitsSprite(scene::LayerDisplays().OutputPicture(), bx, by, bw, bh)) {
        return Direct::kUnderSprite;
    }
    qvDisplayBitMap* second = view.backBuffers[1];
    DrawBitMapLine(view.backBuffers[0], x1, y1, x2, y2, rgb);
    if (view.AutoscaleActive() && second != nullptr) {
        // The window shows the second buffer scaled.
        DrawBitMapLine(second, x1, y1, x2, y2, rgb);
        BltToDisplay(second, bx, by, display, bx, by, bw, bh, QV_REFRESH_AUTOSCALE);
    } else {
        DrawWindowLine(view.window, x1, y1, x2, y2, rgb);
    }
    return Direct::kDone;
}

// The brush road: a one-pixel line into the redirected bitmap and its planes, or into a mask
// or an alpha channel alone with the run-time's mask mode or alpha value.
int DrawIntoPlanes(qvVmState* L, const gfx::DisplayView& view, qvDisplayBitMap* output, Segment s,
                   uint32_t colour, bool antialias) {
    const gfx::OutputPicture picture = gfx::Graphics().Host().CurrentOutputPicture();
    if (picture.clipRegion != nullptr && !ClipToArea(&s, DrawingArea())) return 0;
    const gfx::GraphicsState& graphics = gfx::Graphics();
    qvShapeTarget target{nullptr,        nullptr, nullptr,           picture.width,
                         picture.height, nullptr, graphics.maskMode, 255};
    switch (view.outputType) {
        case gfx::kTargetMask:
            target.mask = view.targetMask;
            break;
        case gfx::kTargetAlphaChannel:
            target.alpha = view.targetAlpha;
            // Only the value of a plain copy keeps the soft edges.
            if (graphics.alphaIntensity != gfx::kAlphaVanillaCopy) {
                target.alphaValue = std::clamp(graphics.alphaIntensity, 0, 255);
                antialias = false;
            }
            break;
        default:
            target.bitmap = output, target.mask = view.targetMask, target.alpha = view.targetAlpha;
            if (output == nullptr) return 0;
            break;
    }
    const qvLineSegment line{int32_t(s.x1), int32_t(s.y1), int32_t(s.x2), int32_t(s.y2), 1};
    if (const int code =
            RenderShapeImage(target, line, {colour & 0xFFFFFF, int32_t(colour >> 24), antialias})) {
        return code;
    }
    if (view.doubleBuffered) {
        const LineBox box = LineBoxOf(line.x1, line.y1, line.x2, line.y2);
        AddDirtyRect(L, int32_t(box.x), int32_t(box.y), Saturate32(box.width),
                     Saturate32(box.height));
    }
    return 0;
}

bool IsPlaneTarget(int32_t type) {
    return type == gfx::kTargetBrush || type == gfx::kTargetMask ||
           type == gfx::kTargetAlphaChannel;
}

}  // namespace

int32_t ClampLineThickness(int32_t thickness) {
    return std::clamp(thickness, 1, kMaxLineThickness);
}

LineBox LineBoxOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    return {std::min(x1, x2), std::min(y1, y2), std::abs(int64_t(x2) - x1) + 1,
            std::abs(int64_t(y2) - y1) + 1};
}

void TurnLineEnds(const ShapeTransform& transform, int32_t* x1, int32_t* y1, int32_t* x2,
                  int32_t* y2) {
    const LineBox box = LineBoxOf(*x1, *y1, *x2, *y2);
    const double pivotX = double(box.x) + std::trunc(double(box.width) * transform.anchorX);
    const double pivotY = double(box.y) + std::trunc(double(box.height) * transform.anchorY);
    const qvVertex first = TurnPoint(transform.matrix, pivotX, pivotY, *x1, *y1);
    const qvVertex second = TurnPoint(transform.matrix, pivotX, pivotY, *x2, *y2);
    *x1 = first.x, *y1 = first.y, *x2 = second.x, *y2 = second.y;
}

int MakeLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                  uint32_t colour, bool antialias, ShapeImage* out, ImageUse use) {
    const int32_t t = ClampLineThickness(thickness);
    const LineBox box = LineBoxOf(x1, y1, x2, y2);
    const int64_t grow = (antialias ? 5 : 0) + (t > 1 ? t : 0);
    const int64_t shift = (antialias ? 2 : 0) + (t > 1 ? t >> 1 : 0);
    const int64_t width = box.width + grow, height = box.height + grow;
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    ShapeImage image;
    image.width = int32_t(width), image.height = int32_t(height);
    image.x = Saturate32(box.x - shift), image.y = Saturate32(box.y - shift);
    image.bitmap.reset(AllocShapeBitMap(image.width, image.height, use));
    if (image.bitmap == nullptr) return ERR_MEM;
    const int32_t transparency = int32_t(colour >> 24);
    if (antialias || transparency != 0) {
        image.alpha.reset(AllocAlphaBitMap(image.width, image.height, 1));
    } else {
        image.mask.reset(AllocMaskBitMap(image.bitmap.get(), image.width, image.height, 1));
    }
    if (image.alpha == nullptr && image.mask == nullptr) return ERR_MEM;
    const qvShapeTarget target{image.bitmap.get(),
                               image.mask.get(),
                               image.alpha.get(),
                               image.width,
                               image.height,
                               nullptr,
                               0,
                               0,
                               true};
    const int64_t dx = shift - box.x, dy = shift - box.y;
    const qvLineSegment line{int32_t(x1 + dx), int32_t(y1 + dy), int32_t(x2 + dx), int32_t(y2 + dy),
                             t};
    if (const int code =
            RenderShapeImage(target, line, {colour & 0xFFFFFF, transparency, antialias})) {
        return code;
    }
    *out = std::move(image);
    return 0;
}

}  // namespace qv::draw

int DrawLineEx(qvVmState* L, const qvLineDesc& line, int flags) {
    using namespace qv;
    using namespace qv::draw;
    DrawTarget target;
    if (const int code = FetchDrawTarget(L, &target); code != 0 || target.display == nullptr) {
        return code;
    }
    const gfx::DisplayView& view = target.view;
    // Each end is a point of the output picture.
    int32_t x1 = ResolvePosX(line.x1, 1, 0, 0), y1 = ResolvePosY(line.y1, 1, 0, 0);
    int32_t x2 = ResolvePosX(line.x2, 1, 0, 0), y2 = ResolvePosY(line.y2, 1, 0, 0);
    qvShapeItem item;
    item.drawState = *line.drawState;
    const LineBox box = LineBoxOf(x1, y1, x2, y2);
    item.x = int32_t(box.x), item.y = int32_t(box.y);
    item.width = Saturate32(box.width), item.height = Saturate32(box.height);
    item.x1 = x1, item.y1 = y1, item.x2 = x2, item.y2 = y2;
    item.thickness = line.thickness;
    item.colour = line.colour;
    ShapeTransform transform;
    if (line.transform != nullptr) {
        std::copy(std::begin(line.transform->matrix), std::end(line.transform->matrix),
                  transform.matrix);
        transform.anchorX = line.transform->anchorx, transform.anchorY = line.transform->anchory;
    }
    int32_t thickness = line.thickness;
    const bool inPlace = view.layersEnabled && (flags & QV_DRAW_INPLACE) != 0;
    if (!transform.IsIdentity() && !inPlace) {
        TurnLineEnds(transform, &x1, &y1, &x2, &y2);
        thickness = ScaleWidth(thickness, transform.matrix);
    }
    thickness = ClampLineThickness(thickness);
    const bool antialias = (line.drawState->formStyle & ANTIALIAS) != 0;
    const uint32_t transparency = line.colour >> 24;
    Segment s{x1, y1, x2, y2};
    if (!view.layersEnabled && view.outputType == gfx::kTargetDisplay &&
        view.targetMask == nullptr && transparency == 0 && !antialias && thickness == 1 &&
        VideoPlayingOnDisplay(target.display) == 0) {
        if (DrawDirect(target.display, view, &s, line.colour & 0xFFFFFF) == Direct::kDone) return 0;
        // Under a sprite: the clipped line through an image, the same pixels.
        x1 = int32_t(s.x1), y1 = int32_t(s.y1), x2 = int32_t(s.x2), y2 = int32_t(s.y2);
    } else if (IsPlaneTarget(view.outputType) && thickness == 1) {
        return DrawIntoPlanes(L, view, target.output, s, line.colour, antialias);
    }
    ShapeImage image;
    const ImageUse use = ImageUseFor(line.style, flags);
    if (const int code =
            MakeLineImage(x1, y1, x2, y2, thickness, line.colour, antialias, &image, use)) {
        return code;
    }
    const ShapeOutput out{LINE,       target.output,       &item, line.transform, line.style,
                          line.layer, line.insertPosition, flags, line.previous};
    return OutputShapeImage(L, out, std::move(image));
}

int ClipLineAxis(int64_t* a1, int64_t* b1, int64_t* a2, int64_t* b2, int64_t low, int64_t high) {
    if ((*a1 < low && *a2 < low) || (*a1 > high && *a2 > high)) return 0;
    const int64_t ends[4] = {*a1, *b1, *a2, *b2};
    for (auto [a, b] : {std::pair{a1, b1}, std::pair{a2, b2}}) {
        if (*a < low) qv::draw::MoveOntoBound(a, b, low, ends[0], ends[1], ends[2], ends[3]);
        if (*a > high) qv::draw::MoveOntoBound(a, b, high, ends[0], ends[1], ends[2], ends[3]);
    }
    return 1;
}
