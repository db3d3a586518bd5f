#include "objects/vector/path_render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "objects/draw/coverage_paint.h"
#include "objects/draw/draw_commands.h"
#include "objects/draw/shape_engine.h"
#include "objects/draw/shape_geometry.h"
#include "objects/draw/shape_output.h"
#include "objects/scene_seam.h"
#include "objects/vector/path_list.h"
#include "objects/vector/path_queries.h"
#include "objects/vector/path_style_rows.h"
#include "objects/vector/vector_backend.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layer_transform.h"

namespace qv {
namespace {

using draw::ShapeImage;

// Transformed bounds are kept inside this range, so that every size fits an int.
constexpr double kBoundsLimit = 100000;
// Room left beyond a transformed path's bounds for the anti-aliased edge and rounding.
constexpr int32_t kTransformMargin = 32;

// What the back end rasterises: the fill, or the stroke of a width.
struct Coverage {
    bool fill;
    int32_t width;
};

// The path's stream and stroke state as the back end takes them.
struct PathSource {
    const VectorBackend& backend;
    const qvPathItem& item;
    qvPathStrokeStyle style;
};

int Measure(const PathSource& s, Coverage c, double dx, double dy, PathBounds* bounds) {
    return MeasureStream(s.backend, s.item.segments, s.item.length, s.style, c.fill, c.width, dx,
                         dy, bounds);
}

bool NoArea(const PathBounds& b) {
    return b.left == 0 && b.top == 0 && b.right == 0 && b.bottom == 0;
}

// A side of extents in whole pixels, rounded; 0 when there is nothing, -1 when it is too
// large for a bitmap.
int32_t RoundedSide(double low, double high) {
    const double side = std::fabs(high - low) + 0.5;
    if (!(side >= 1)) return 0;
    return side > kMaxBitMapSide ? -1 : int32_t(side);
}

int32_t TruncatedSide(double low, double high) {
    const double side = std::fabs(high - low);
    return side >= 0 && side <= kMaxBitMapSide ? int32_t(side) : 0;
}

// Where a plane lies in path coordinates (its pixel 0, 0 before the matrix's offsets), its
// size, and the room it leaves beyond the picture at its right and bottom.
struct PlaneBox {
    double x, y;
    int32_t width, height;
    int32_t spareWidth = 0, spareHeight = 0;
};

// The measured path: the main coverage's box, and the filled area's box.
struct PathLayout {
    Coverage main;
    PlaneBox box;
    PlaneBox fill;
    int32_t fillWidth, fillHeight;  // truncated: for position constants and anchors
};

// Step by step as the renderer measures: the main coverage's extents (a fill of no area falls
// back to a hairline stroke), then for a stroke the filled area inside them (a path without
// area measured as a hairline).
int MeasureLayout(const PathSource& s, Coverage main, PathLayout* out) {
    PathBounds b{};
    if (int code = Measure(s, main, 0, 0, &b)) return code;
    if (main.fill && NoArea(b)) {
        main = {false, 1};
        if (int code = Measure(s, main, 0, 0, &b)) return code;
    }
    PathBounds f{0, 0, b.right - b.left, b.bottom - b.top};
    if (!main.fill) {
        if (int code = Measure(s, {true, 0}, -b.left, -b.top, &f)) return code;
        if (NoArea(f)) {
            if (int code = Measure(s, {false, 1}, -b.left, -b.top, &f)) return code;
        }
    }
    const int32_t width = RoundedSide(b.left, b.right), height = RoundedSide(b.top, b.bottom);
    if (width == 0 || height == 0) return ERR_EMPTYPATH;
    if (width < 0 || height < 0) return ERR_MEM;
    int32_t fillWidth = RoundedSide(f.left, f.right), fillHeight = RoundedSide(f.top, f.bottom);
    if (fillWidth < 0 || fillHeight < 0) return ERR_MEM;
    // The filled area lies inside the main box; a plane of it covers at least a pixel.
    fillWidth = std::max(fillWidth, 1), fillHeight = std::max(fillHeight, 1);
    *out = {main,
            {b.left, b.top, width, height},
            {b.left + f.left, b.top + f.top, fillWidth, fillHeight},
            TruncatedSide(f.left, f.right),
            TruncatedSide(f.top, f.bottom)};
    return 0;
}

// The layouts of the last paths measured for drawing. A path drawn again (each frame, a
// layer's redraw and its border, a shape drawn through a path) asks the back end the same
// questions, and the same back end gives the same answers to the same stream, stroke state
// and coverage: those, byte for byte, are the key. Comparing them costs little beside
// measuring. The memo is no object of a script's: it lives outside the run-time's allocator
// and is passed by when memory is short.
class LayoutMemo {
public:
    // The layout kept for the path's measuring in that coverage, else false: then the request
    // is remembered for Keep.
    bool Find(const PathSource& s, Coverage main, PathLayout* out) {
        asked_ = false;
        if (s.item.length > kLargestStream) return false;
        try {
            BuildKey(s, main);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (const Entry& e : entries_) {
            if (e.key == key_) {
                *out = e.layout;
                return true;
            }
        }
        asked_ = true;
        return false;
    }

    // Keeps the layout measured for the request that Find did not hold, in place of the
    // oldest.
    void Keep(const PathLayout& layout) {
        if (!asked_) return;
        Entry& e = entries_[next_];
        next_ = (next_ + 1) % entries_.size();
        e.key.swap(key_);
        e.layout = layout;
        asked_ = false;
    }

private:
    static constexpr size_t kLargestStream = 256 * 1024;

    template <typename T>
    void Add(const T& value) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
        key_.insert(key_.end(), bytes, bytes + sizeof value);
    }

    void BuildKey(const PathSource& s, Coverage main) {
        const qvPathStrokeStyle& style = s.style;
        key_.clear();
        Add(s.backend.getPathExtents), Add(main.fill), Add(main.width);
        Add(style.join), Add(style.cap), Add(style.fillRule), Add(style.antiAlias);
        Add(style.dashOffset), Add(style.dashCount);
        if (style.dashes != nullptr) {
            for (int32_t i = 0; i < style.dashCount; ++i) Add(style.dashes[i]);
        }
        Add(s.item.length);
        key_.insert(key_.end(), s.item.segments, s.item.segments + s.item.length);
    }

    struct Entry {
        std::vector<uint8_t> key;
        PathLayout layout;
    };
    std::array<Entry, 4> entries_;
    std::vector<uint8_t> key_;  // the request Find did not hold
    bool asked_ = false;
    size_t next_ = 0;
};

LayoutMemo layoutMemo;

// MeasureLayout, or its answer for the same request before.
int MeasureLayoutOnce(const PathSource& s, Coverage main, PathLayout* out) {
    if (layoutMemo.Find(s, main, out)) return 0;
    if (int code = MeasureLayout(s, main, out)) return code;
    layoutMemo.Keep(*out);
    return 0;
}

// What the back end covers for the item's picture: the stroke of an unfilled path, the edge
// stroke of a filled one with an edge, else the fill.
Coverage MainCoverage(const qvPathItem& item) {
    const qvDrawState& ds = item.drawState;
    if (ds.fillStyle == draw::FILLNONE) return {false, std::max(ds.lineWidth, 1)};
    if ((ds.formStyle & draw::EDGE) != 0) return {false, 2 * std::clamp(ds.borderSize, 1, 64)};
    return {true, 1};
}

PathSource SourceOf(const VectorBackend& backend, const qvPathItem& item) {
    const PathStrokeState state{item.join,       item.cap,       item.fillRule,
                                item.dashOffset, item.dashCount, item.dashes};
    return {backend, item, StrokeStyleOf(state, (item.drawState.formStyle & draw::ANTIALIAS) != 0)};
}

// The item's size is its upright picture's; its own size, the filled area's.
void TakeLayoutSize(const PathLayout& layout, qvPathItem* item) {
    item->width = layout.box.width, item->height = layout.box.height;
    item->areaWidth = layout.fillWidth, item->areaHeight = layout.fillHeight;
}

bool IsIdentity(const double m[4]) {
    return m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 1;
}

// The pixels of a plane's side that the picture takes when its far side lies reach beyond the
// plane's corner: rounded up (rounding errors of a turn by a quarter aside), at least 1 and at
// most the side.
int32_t PictureSide(double reach, int32_t planeSide) {
    constexpr double kSlack = 1e-6;
    return int32_t(std::clamp(std::ceil(reach - kSlack), 1.0, double(planeSide)));
}

// The box turned by the matrix about the anchor point: the plane that holds it, with room
// for the edge. The plane's corner keeps the box's sub-pixel phase.
PlaneBox TurnBox(const double m[4], double pivotX, double pivotY, const PlaneBox& box) {
    double corners[8] = {box.x,
                         box.y,
                         box.x + box.width,
                         box.y,
                         box.x,
                         box.y + box.height,
                         box.x + box.width,
                         box.y + box.height};
    double minX = 0, minY = 0, width = 0, height = 0;
    TransformBoundsPoints(m, pivotX, pivotY, corners, 4, false, &minX, &minY, &width, &height);
    const double x = box.x + std::floor(minX - box.x), y = box.y + std::floor(minY - box.y);
    const int32_t planeWidth = int32_t(width) + kTransformMargin;
    const int32_t planeHeight = int32_t(height) + kTransformMargin;
    // The sizes measured are max - min + 1: the turned box's far sides lie at min + size - 1.
    return {x,
            y,
            planeWidth,
            planeHeight,
            planeWidth - PictureSide(minX + width - 1 - x, planeWidth),
            planeHeight - PictureSide(minY + height - 1 - y, planeHeight)};
}

// Asks the back end for the coverage of the path into the plane.
int DrawCoverage(const PathSource& s, Coverage c, qvPlaneBitMap* plane, const PlaneBox& box,
                 const qvPathMatrix* matrix, uint32_t colour) {
    qvPathDrawRequest request{};
    request.stream = s.item.segments;
    request.length = s.item.length;
    request.style = &s.style;
    request.fill = c.fill ? 1 : 0;
    request.strokeWidth = c.width;
    request.colour = colour & 0xFFFFFF;
    request.plane = plane->plane;
    request.bytesPerRow = uint32_t(plane->bytesPerRow);
    request.width = plane->width;
    request.height = plane->height;
    request.offsetX = box.x;
    request.offsetY = box.y;
    request.originX = s.item.originX;
    request.originY = s.item.originY;
    request.matrix = matrix;
    return s.backend.drawPath(&request) != 0 ? 0 : ERR_DRAWPATH;
}

// The fill's colours into the rectangle: the gradient, the texture (scaled as the matrix
// scales the path; none for the identity) or the colour.
int PaintFill(qvVmState* L, qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width,
              int32_t height, const qvDrawState& ds, uint32_t colour, const qvPathMatrix* matrix) {
    switch (ds.fillStyle) {
        case draw::FILLGRADIENT:
            DrawGradient(bitmap, x, y, width, height, &ds.gradient);
            return 0;
        case draw::FILLTEXTURE: {
            static constexpr double kIdentity[4] = {1, 0, 0, 1};
            return draw::FillWithTexture(L, bitmap, x, y, width, height, ds,
                                         matrix != nullptr ? matrix->m : kIdentity);
        }
        default:
            RectFill(bitmap, x, y, width, height, colour & 0xFFFFFF);
            return 0;
    }
}

// With layers on, a new layer draws the edge and the shadow itself: they move from the
// item's draw state into the layer style.
void MoveEffectsToStyle(qvDrawState* ds, qvDrawStyle* style) {
    if ((ds->formStyle & draw::EDGE) != 0) {
        style->border = {1, ds->borderColour, std::clamp(ds->borderSize, 1, 64)};
        style->anyStyle = 1;
    }
    if ((ds->formStyle & draw::SHADOW) != 0) {
        style->shadow.on = 1;
        style->shadow.colour = ds->shadowColour;
        style->shadow.size = std::clamp(ds->shadowSize, 1, 64);
        style->shadow.direction = int32_t(ds->shadowDirection);
        style->anyStyle = 1;
    }
    ds->formStyle &= ~uint32_t(draw::EDGE | draw::SHADOW);
}

// Edge and shadow painted bottom-up into the image around the planes: the shadow (a moved
// copy of the edge's coverage, else the fill's), the edge, then the fill in its colour or
// from the fill source. The shape lies at (shapeX, shapeY) of the image; the fill plane at
// (fillX, fillY) inside the shape.
struct Composition {
    const qvPlaneBitMap* fill;
    const qvPlaneBitMap* edge;  // none without edge
    int32_t shapeX, shapeY, fillX, fillY;
    int32_t shadowX, shadowY;
    bool shadow;
};

int Composite(const ShapeImage& image, qvDisplayBitMap* fillSource, const Composition& c,
              const qvPathItem& item) {
    const qvDrawState& ds = item.drawState;
    const bool antialias = (ds.formStyle & draw::ANTIALIAS) != 0;
    qvShapeTarget plain{
        image.bitmap.get(), nullptr, image.alpha.get(), image.width, image.height, nullptr, 0, 0};
    const auto paintOf = [&](uint32_t colour) {
        return qvShapePaint{colour & 0xFFFFFF, int32_t(colour >> 24), antialias};
    };
    const draw::Rect shape{c.shapeX, c.shapeY, 0, 0};
    const auto at = [](const qvPlaneBitMap* p, int64_t x, int64_t y) {
        return draw::Rect{x, y, p->width, p->height};
    };
    const qvPlaneBitMap* under = c.edge != nullptr ? c.edge : c.fill;
    const int64_t underX = shape.x + (c.edge != nullptr ? 0 : c.fillX);
    const int64_t underY = shape.y + (c.edge != nullptr ? 0 : c.fillY);
    if (c.shadow) {
        if (int code = draw::PaintCoverage(plain, *under,
                                           at(under, underX + c.shadowX, underY + c.shadowY),
                                           paintOf(ds.shadowColour))) {
            return code;
        }
    }
    if (c.edge != nullptr) {
        if (int code = draw::PaintCoverage(plain, *c.edge, at(c.edge, shape.x, shape.y),
                                           paintOf(ds.borderColour))) {
            return code;
        }
    }
    qvShapeTarget filled = plain;
    filled.fill = fillSource;
    return draw::PaintCoverage(filled, *c.fill, at(c.fill, shape.x + c.fillX, shape.y + c.fillY),
                               paintOf(item.colour));
}

// Coverage of the filled area in a plane of its own, for the compositor and for borders.
int DrawFillPlane(const PathSource& s, const PathLayout& layout, const qvPathMatrix* matrix,
                  OwnedPlane* out) {
    out->reset(AllocAlphaBitMap(layout.fill.width, layout.fill.height, 1));
    if (!*out) return ERR_MEM;
    return DrawCoverage(s, {true, 1}, out->get(), layout.fill, matrix, s.item.colour);
}

// The fill's fully covered pixels join the stroke plane (plane copy mode 8), so that an
// edge or border covers the whole shape.
void MergeFill(const qvPlaneBitMap& fill, const PathLayout& layout, qvPlaneBitMap* plane) {
    CopyPlane8RectClipped(&fill, 0, 0, plane, int32_t(layout.fill.x - layout.box.x),
                          int32_t(layout.fill.y - layout.box.y), fill.width, fill.height,
                          fill.width, fill.height, plane->width, plane->height, 8, 0);
}

// Steps 7 to 9 of a rendering: the image of the measured path with its fill, edge and shadow.
int MakePathImage(qvVmState* L, const PathSource& s, const PathLayout& layout,
                  const qvPathMatrix* matrix, bool edge, bool shadow, bool coverFill,
                  ShapeImage* out) {
    const qvDrawState& ds = s.item.drawState;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    if (shadow) {
        ShadowDirectionMasks(std::clamp(ds.shadowSize, 1, 64), ds.shadowDirection, &left, &top,
                             &right, &bottom);
    }
    // The image grows by the shadow, so that it is never cut off.
    const int64_t width = int64_t(layout.box.width) + left + right;
    const int64_t height = int64_t(layout.box.height) + top + bottom;
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    ShapeImage image;
    image.width = int32_t(width), image.height = int32_t(height);
    image.x = -left, image.y = -top;
    image.bitmap.reset(AllocDisplayBitMap(image.width, image.height));
    image.alpha.reset(AllocAlphaBitMap(image.width, image.height, 1));
    if (!image.bitmap || !image.alpha) return ERR_MEM;
    if (!edge && !shadow) {
        if (int code = PaintFill(L, image.bitmap.get(), 0, 0, image.width, image.height, ds,
                                 s.item.colour, matrix)) {
            return code;
        }
        if (int code = DrawCoverage(s, layout.main, image.alpha.get(), layout.box, matrix,
                                    s.item.colour)) {
            return code;
        }
        if (coverFill) {
            OwnedPlane fill;
            if (int code = DrawFillPlane(s, layout, matrix, &fill)) return code;
            MergeFill(*fill, layout, image.alpha.get());
        }
        *out = std::move(image);
        return 0;
    }
    OwnedPlane fill, edgePlane;
    if (int code = DrawFillPlane(s, layout, matrix, &fill)) return code;
    if (edge) {
        edgePlane.reset(AllocAlphaBitMap(layout.box.width, layout.box.height, 1));
        if (!edgePlane) return ERR_MEM;
        if (int code =
                DrawCoverage(s, layout.main, edgePlane.get(), layout.box, matrix, s.item.colour)) {
            return code;
        }
        MergeFill(*fill, layout, edgePlane.get());
    }
    const int32_t fillX = int32_t(layout.fill.x - layout.box.x);
    const int32_t fillY = int32_t(layout.fill.y - layout.box.y);
    OwnedBitMap source;
    if (ds.fillStyle == draw::FILLGRADIENT || ds.fillStyle == draw::FILLTEXTURE) {
        source.reset(AllocDisplayBitMap(image.width, image.height));
        if (!source) return ERR_MEM;
        if (int code = PaintFill(L, source.get(), left + fillX, top + fillY, fill->width,
                                 fill->height, ds, s.item.colour, matrix)) {
            return code;
        }
    }
    const Composition c{fill.get(), edgePlane.get(), left,         top,   fillX,
                        fillY,      right - left,    bottom - top, shadow};
    if (int code = Composite(image, source.get(), c, s.item)) return code;
    *out = std::move(image);
    return 0;
}

bool HasTable(qvVmState* L, int idx) {
    return idx > 0 && VmGetTop(L) >= idx && VmType(L, idx) == VM_TTABLE;
}

// The drawing tags of the table argument, for the filled area's size; the defaults without
// a table.
int ReadTags(qvVmState* L, int idx, const PathLayout& layout, qvDrawTransform* transform,
             qvDrawStyle* style) {
    const int32_t w = layout.fillWidth, h = layout.fillHeight;
    if (!HasTable(L, idx)) {
        ResetDrawTags(transform, style, w, h, 0, 0);
        return 0;
    }
    return ParseDrawTags(L, idx, w, h, w, h, 0, transform, style, QV_DRAWTAGS_RESET);
}

// Both boxes turned by the matrix (its first four entries) about the anchor of the main box;
// the back end turns about that point too: e, f = A - M A.
void TurnLayout(double pivotX, double pivotY, PathLayout* layout, qvPathMatrix* matrix) {
    const double* m = matrix->m;
    layout->box = TurnBox(m, pivotX, pivotY, layout->box);
    layout->fill = TurnBox(m, pivotX, pivotY, layout->fill);
    matrix->m[4] = pivotX - (m[0] * pivotX + m[2] * pivotY);
    matrix->m[5] = pivotY - (m[1] * pivotX + m[3] * pivotY);
}

// Where a rendered picture goes, and how it is placed.
struct PathOutput {
    qvDisplayBitMap* target;  // the output's bitmap as fetched; none: the display
    const qvDrawTransform* transform;
    qvDrawStyle* style;
    bool layersOn, layerTurns;
    int32_t fillWidth, fillHeight;
    int32_t spareWidth, spareHeight;  // the room the image leaves beyond its picture
};

// The border result: the image relative to the item's position, as large as its picture.
void ReturnBorder(ShapeImage image, const PathOutput& o, qvPathBorder* out) {
    *out = {image.bitmap.release(),     image.alpha.release(),       image.x, image.y,
            image.width - o.spareWidth, image.height - o.spareHeight};
}

// The border result, an update of the layer in place, a new turned layer, or the shapes'
// output step.
int SendPathImage(qvVmState* L, qvPathItem* item, const qvPathRenderCall& call, const PathOutput& o,
                  ShapeImage image) {
    if (call.border != nullptr) {
        ReturnBorder(std::move(image), o, call.border);
        return 0;
    }
    const bool inPlace = (call.flags & QV_DRAW_INPLACE) != 0;
    if (inPlace && call.previous != nullptr) {
        if (call.layer == nullptr) return ERR_WRONGUSAGE;
        // The layer is as large as its picture: what it shows, is hit and collides, and the
        // area repainted for it, leave out the plane's spare room.
        UpdateLayerGeometry(L, call.layer, call.previous, image.x, image.y,
                            image.width - o.spareWidth, image.height - o.spareHeight,
                            image.bitmap.release(), nullptr, image.alpha.release(), 0);
        return 0;
    }
    if (o.layerTurns) {
        // The new layer renders its turned picture and repaints it itself.
        const int32_t insert = (call.flags & QV_DRAW_REDRAW) != 0 ? call.insertPosition : -1;
        return AddShapeLayer(L, gfx::kTypeVectorPath, image.x, image.y, image.width, image.height,
                             o.transform, o.style, image.bitmap.release(), nullptr,
                             image.alpha.release(), *item, insert, call.flags | QV_DRAW_FROMLAYER);
    }
    if (!o.layersOn) {
        // The blit places the picture by the anchor of its filled area, not of the item's box.
        using scene::AnchorShift;
        const double ax = o.transform->anchorx, ay = o.transform->anchory;
        image.x = Saturate32(int64_t(image.x) + AnchorShift(item->width, ax) -
                             AnchorShift(o.fillWidth, ax));
        image.y = Saturate32(int64_t(image.y) + AnchorShift(item->height, ay) -
                             AnchorShift(o.fillHeight, ay));
    }
    const draw::ShapeOutput out{
        int32_t(gfx::kTypeVectorPath), o.target,   item,   o.transform, o.style, call.layer,
        call.insertPosition,           call.flags, nullptr};
    return draw::OutputShapeImage(L, out, std::move(image));
}

// The layer engine's renderers of VECTORPATH layers.
int RenderPathContent(qvVmState* L, qvLayer* layer, int32_t insertPos, qvLayerItem* item,
                      qvLayerImage*, const qvWorkTransform* work, qvLayerArea* previous, int) {
    qvPathRenderCall call{};
    call.x = item->x, call.y = item->y;
    call.transform = &work->transform;
    call.layer = layer;
    call.insertPosition = insertPos;
    call.flags = QV_DRAW_INPLACE;
    call.previous = previous;
    return RenderPath(L, static_cast<qvPathItem*>(item), call);
}

int RenderPathLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, uint32_t colour,
                          int32_t size, qvLayerBorder* out) {
    qvPathBorder border{};
    if (int code = RenderPathBorder(L, layer, *static_cast<const qvPathItem*>(item), colour, size,
                                    &border)) {
        return code;
    }
    if (const uint32_t transparency = colour >> 24; transparency != 0) {
        CopyPlane8(border.alpha, border.alpha, border.height, uint8_t(255 - transparency));
    }
    out->image = {border.bitmap, nullptr, border.alpha};
    out->dx = -border.x, out->dy = -border.y;
    out->width = border.width, out->height = border.height;
    return 0;
}

}  // namespace
}  // namespace qv

using namespace qv;

qvPathItem::qvPathItem(const qvPathItem& other)
    : qvShapeItem(other),
      segments(other.segments),
      length(other.length),
      join(other.join),
      cap(other.cap),
      fillRule(other.fillRule),
      dashOffset(other.dashOffset),
      dashCount(other.dashCount),
      dashes(other.dashes),
      originX(other.originX),
      originY(other.originY),
      placeByExtents(other.placeByExtents),
      planeX(other.planeX),
      planeY(other.planeY),
      areaWidth(other.areaWidth),
      areaHeight(other.areaHeight) {
    ForgetImages();
}

qvPathItem::~qvPathItem() {
    FreeMemBlock(ownedStream_);
    FreeMemBlock(ownedDashes_);
}

qvLayerItem* qvPathItem::Copy() const {
    qvPathItem* copy =
        InBlock<qvPathItem>([this](void* block) { return new (block) qvPathItem(*this); });
    if (copy == nullptr) return nullptr;
    if (copy->SetStream(segments, length) != 0 || copy->SetDashes(dashes, dashCount) != 0) {
        FreeLayerItem(copy);
        return nullptr;
    }
    return copy;
}

int qvPathItem::SetStream(const uint8_t* stream, size_t length) {
    void* copy = AllocMemBlock(length + sizeof(uint32_t), 1);
    if (copy == nullptr) return ERR_MEM;
    if (length != 0) std::memcpy(copy, stream, length);
    FreeMemBlock(ownedStream_);
    ownedStream_ = copy, segments = static_cast<const uint8_t*>(copy), this->length = length;
    return 0;
}

int qvPathItem::SetDashes(const double* lengths, int32_t count) {
    const size_t bytes = sizeof(double) * size_t(std::max(count, 0));
    void* copy = bytes != 0 ? AllocMemBlock(bytes, 0) : nullptr;
    if (bytes != 0 && copy == nullptr) return ERR_MEM;
    if (bytes != 0) std::memcpy(copy, lengths, bytes);
    FreeMemBlock(ownedDashes_);
    ownedDashes_ = copy, dashes = static_cast<const double*>(copy), dashCount = std::max(count, 0);
    return 0;
}

bool qvPathItem::HiddenUnderBorder(uint32_t borderColour) const {
    return drawState.fillStyle == draw::FILLNONE &&
           (colour & 0xFFFFFF) == (borderColour & 0xFFFFFF);
}

void qvPathItem::OwnSize(int32_t* ownWidth, int32_t* ownHeight) const {
    *ownWidth = areaWidth > 0 ? areaWidth : width;
    *ownHeight = areaHeight > 0 ? areaHeight : height;
}

int MeasurePathItem(qvPathItem* item) {
    if (item->segments == nullptr || item->length == 0) return ERR_EMPTYPATH;
    const VectorBackend* backend = FindVectorBackend();
    if (backend == nullptr) return ERR_VECGFXPLUGIN;
    PathLayout layout{};
    if (int code = MeasureLayoutOnce(SourceOf(*backend, *item), MainCoverage(*item), &layout)) {
        return code;
    }
    TakeLayoutSize(layout, item);
    return 0;
}

int RenderPath(qvVmState* L, qvPathItem* item, const qvPathRenderCall& call) {
    if (item->segments == nullptr || item->length == 0) return ERR_EMPTYPATH;
    const VectorBackend* backend = FindVectorBackend();
    if (backend == nullptr) return ERR_VECGFXPLUGIN;
    gfx::GraphicsState& graphics = gfx::Graphics();
    qvDisplay* display = graphics.Host().CurrentDisplay();
    const bool layersOn = display != nullptr && graphics.View(display).layersEnabled;
    const bool forBorder = call.border != nullptr;
    const bool inPlace = (call.flags & QV_DRAW_INPLACE) != 0;
    qvDisplayBitMap* output = nullptr;
    if (!forBorder) {
        if (int code = objects::Scene().FetchOutputBitmaps(L, &output)) return code;
    }
    // A new layer draws edge and shadow itself.
    qvDrawState effects = item->drawState;
    const bool moveEffects =
        !forBorder && layersOn && (call.flags & (QV_DRAW_REDRAW | QV_DRAW_INPLACE)) == 0;
    if (moveEffects) item->drawState.formStyle &= ~uint32_t(draw::EDGE | draw::SHADOW);

    const qvDrawState& ds = item->drawState;
    const bool filled = ds.fillStyle != draw::FILLNONE;
    const bool edge = filled && (ds.formStyle & draw::EDGE) != 0;
    const bool shadow = filled && (ds.formStyle & draw::SHADOW) != 0;
    const PathSource source = SourceOf(*backend, *item);
    PathLayout layout{};
    if (int code = MeasureLayoutOnce(source, MainCoverage(*item), &layout)) return code;
    item->originX = layout.box.x, item->originY = layout.box.y;
    int32_t x = call.x, y = call.y;
    if (item->placeByExtents) {
        x = Saturate32(int64_t(x) + gfx::TruncSaturate(layout.box.x));
        y = Saturate32(int64_t(y) + gfx::TruncSaturate(layout.box.y));
        item->placeByExtents = false;
    }
    x = ResolvePosX(x, layout.fillWidth, 0, 0);
    y = ResolvePosY(y, layout.fillHeight, 0, 0);

    qvDrawTransform tags;
    qvDrawStyle tagStyle;
    const qvDrawTransform* transform = call.transform;
    qvDrawStyle* style = call.style;
    if (transform == nullptr) {
        if (int code = ReadTags(L, call.tableIndex, layout, &tags, &tagStyle)) return code;
        transform = &tags, style = &tagStyle;
    }
    if (moveEffects && style != nullptr) MoveEffectsToStyle(&effects, style);
    // With layers on, the layer carries the transform and the path renders upright.
    const bool layerTurns = layersOn && !inPlace && !forBorder && !IsIdentity(transform->matrix);
    const double* m = transform->matrix;
    qvPathMatrix matrix{{m[0], m[1], m[2], m[3], 0, 0}};
    const qvPathMatrix* turn = nullptr;
    // The item's position: where the upright picture goes.
    item->x = x, item->y = y;
    TakeLayoutSize(layout, item);
    if (!layerTurns && !IsIdentity(m)) {
        const double anchorX = call.layer != nullptr ? call.layer->anchorX : transform->anchorx;
        const double anchorY = call.layer != nullptr ? call.layer->anchorY : transform->anchory;
        const PlaneBox upright = layout.box;
        // A border turns about the point its layer's picture turns about, so that the two
        // stay in place beside each other.
        const bool own = call.pivot == nullptr;
        const double pivotX = own ? upright.x + anchorX * upright.width : call.pivot[0];
        const double pivotY = own ? upright.y + anchorY * upright.height : call.pivot[1];
        TurnLayout(pivotX, pivotY, &layout, &matrix);
        turn = &matrix;
        x = Saturate32(int64_t(x) + int64_t(layout.box.x - upright.x));
        y = Saturate32(int64_t(y) + int64_t(layout.box.y - upright.y));
    }

    ShapeImage image;
    if (int code = MakePathImage(L, source, layout, turn, edge, shadow, call.coverFill, &image)) {
        return code;
    }
    item->planeX = layout.box.x, item->planeY = layout.box.y;
    image.x = Saturate32(int64_t(image.x) + x);
    image.y = Saturate32(int64_t(image.y) + y);
    const PathOutput out{output,
                         transform,
                         style,
                         layersOn,
                         layerTurns,
                         layout.fillWidth,
                         layout.fillHeight,
                         layout.box.spareWidth,
                         layout.box.spareHeight};
    return SendPathImage(L, item, call, out, std::move(image));
}

int DrawPathEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y, uint32_t colour, int tableIndex) {
    qvPath* path = nullptr;
    if (int code = FindPath(id, &path)) return code;
    if (FindVectorBackend() == nullptr) return ERR_VECGFXPLUGIN;
    qvPathItem item;
    item.segments = path->segments;
    item.length = UsedBytes(*path);
    const PathStrokeState state = CurrentStrokeState();
    item.join = state.join, item.cap = state.cap, item.fillRule = state.fillRule;
    item.dashOffset = state.dashOffset;
    item.dashCount = state.dashCount, item.dashes = state.dashes;
    item.drawState = *GetDrawState();
    item.colour = colour;
    item.placeByExtents = true;
    qvPathRenderCall call{};
    call.x = x, call.y = y;
    call.tableIndex = tableIndex;
    return RenderPath(L, &item, call);
}

int RenderPathBorder(qvVmState* L, qvLayer* layer, const qvPathItem& item, uint32_t colour,
                     int32_t size, qvPathBorder* out) {
    qvDrawTransform transform = layer->transform;
    const scene::DisplayScale scale =
        scene::LayerDisplays().Scale(gfx::Graphics().Host().CurrentDisplay());
    scene::ScaleMatrix(transform.matrix, scale.x, scale.y);
    transform.anchorx = layer->anchorX, transform.anchory = layer->anchorY;
    qvPathItem border(item);
    border.drawState.lineWidth = 2 * std::max(size, 1);
    border.drawState.fillStyle = draw::FILLNONE;
    border.colour = colour;
    border.placeByExtents = false;
    const double pivot[2] = {item.originX + transform.anchorx * item.width,
                             item.originY + transform.anchory * item.height};
    qvPathRenderCall call{};
    call.transform = &transform;
    call.layer = layer;
    call.border = out;
    call.pivot = pivot;
    call.coverFill = item.drawState.fillStyle != draw::FILLNONE;
    if (int code = RenderPath(L, &border, call)) return code;
    // Relative to where the item's own picture lies.
    out->x = Saturate32(int64_t(std::lrint(border.planeX - item.planeX)));
    out->y = Saturate32(int64_t(std::lrint(border.planeY - item.planeY)));
    return 0;
}

void TransformBoundsPoints(const double m[4], double ox, double oy, double* points, int count,
                           bool normalise, double* minX, double* minY, double* width,
                           double* height) {
    double lowX = kBoundsLimit, lowY = kBoundsLimit, highX = -kBoundsLimit, highY = -kBoundsLimit;
    const auto clamp = [](double v) {
        return std::isnan(v) ? 0 : std::clamp(v, -kBoundsLimit, kBoundsLimit);
    };
    for (int i = 0; i < count; ++i) {
        const double dx = points[2 * i] - ox, dy = points[2 * i + 1] - oy;
        const double px = clamp(m[0] * dx + m[2] * dy + ox);
        const double py = clamp(m[1] * dx + m[3] * dy + oy);
        points[2 * i] = px, points[2 * i + 1] = py;
        lowX = std::min(lowX, px), lowY = std::min(lowY, py);
        highX = std::max(highX, px), highY = std::max(highY, py);
    }
    if (normalise) {
        for (int i = 0; i < count; ++i) points[2 * i] -= lowX, points[2 * i + 1] -= lowY;
    }
    if (minX != nullptr) *minX = lowX;
    if (minY != nullptr) *minY = lowY;
    if (width != nullptr) *width = count > 0 ? highX - lowX + 1 : 0;
    if (height != nullptr) *height = count > 0 ? highY - lowY + 1 : 0;
}

namespace qv {
namespace {

// The segments of a shape, its box at (0, 0), closed.
int AddShapeSegments(qvObjectId id, const PathShape& s) {
    const auto arc = [&](double cx, double cy, double rx, double ry, double a1, double a2,
                         int32_t clockwise) {
        const PathOperand operands[] = {PathOperand::Num(cx),       PathOperand::Num(cy),
                                        PathOperand::Num(rx),       PathOperand::Num(ry),
                                        PathOperand::Num(a1),       PathOperand::Num(a2),
                                        PathOperand::Int(clockwise)};
        return AddPathSegment(id, QV_PATH_ARC, operands);
    };
    int code = 0;
    switch (s.type) {
        case gfx::kTypeBox: {
            std::array<int32_t, 4> corners{};
            if (s.corners != nullptr) std::copy(s.corners, s.corners + 4, corners.begin());
            for (int32_t& c : corners) c = std::clamp(c, 0, 100);
            const PathOperand operands[] = {
                PathOperand::Num(0),          PathOperand::Num(0),
                PathOperand::Num(s.a),        PathOperand::Num(s.b),
                PathOperand::Int(corners[0]), PathOperand::Int(corners[1]),
                PathOperand::Int(corners[2]), PathOperand::Int(corners[3])};
            code = AddPathSegment(id, QV_PATH_BOX, operands);
            break;
        }
        case gfx::kTypeCircle:
            code = arc(s.a, s.a, s.a, s.a, 0, 360, 1);
            break;
        case gfx::kTypeEllipse:
            code = arc(s.a, s.b, s.a, s.b, 0, 360, 1);
            break;
        case gfx::kTypePolygon: {
            const auto count = int32_t(s.a);
            if (s.points == nullptr || count < 1) return ERR_WRONGUSAGE;
            for (int32_t i = 0; i < count && code == 0; ++i) {
                const double point[2] = {s.points[2 * i], s.points[2 * i + 1]};
                code = AddPointSegment(id, i == 0 ? QV_PATH_MOVETO : QV_PATH_LINETO, 0, point);
            }
            break;
        }
        case gfx::kTypeArc: {
            const double centre[2] = {s.a, s.b};
            code = AddPointSegment(id, QV_PATH_MOVETO, 0, centre);
            if (code == 0) code = arc(s.a, s.b, s.a, s.b, s.c, s.d, s.e);
            break;
        }
        default:
            return ERR_WRONGUSAGE;
    }
    if (code != 0) return code;
    return AddPathSegment(id, QV_PATH_CLOSE, {});
}

// A shape command's request, as the draw library hands it over while path use is forced.
int ShapeRequestToPath(qvVmState* L, const qvShapePathRequest& r);

}  // namespace

int ShapeToPath(qvVmState* L, const PathShape& shape, int32_t x, int32_t y, uint32_t colour,
                int tableIndex) {
    qvPath* path = NewPath(0, true);
    if (path == nullptr) return ERR_MEM;
    const qvObjectId id{0, path->header.handle};
    int code = AddShapeSegments(id, shape);
    if (code == 0) code = DrawPathEx(L, id, x, y, colour, tableIndex);
    FreePath(L, path);
    return code;
}

namespace {

int ShapeRequestToPath(qvVmState* L, const qvShapePathRequest& r) {
    PathShape shape{r.type};
    // A polygon of the most points keeps its closing point.
    constexpr int32_t kMostPoints = draw::kMaxPolygonPoints + 1;
    std::array<double, 2 * kMostPoints> points;
    switch (r.type) {
        case gfx::kTypeBox:
            shape.a = r.width, shape.b = r.height, shape.corners = r.cornerLevels;
            break;
        case gfx::kTypeArc:
            shape.c = r.startAngle, shape.d = r.endAngle, shape.e = r.clockwise;
            [[fallthrough]];
        case gfx::kTypeCircle:
        case gfx::kTypeEllipse:
            shape.a = r.radiusX, shape.b = r.radiusY;
            break;
        case gfx::kTypePolygon:
            if (r.pointCount > kMostPoints) return ERR_WRONGUSAGE;
            for (int32_t i = 0; i < r.pointCount; ++i) {
                points[2 * i] = r.points[i].x, points[2 * i + 1] = r.points[i].y;
            }
            shape.a = r.pointCount, shape.points = points.data();
            break;
        default:
            break;
    }
    return ShapeToPath(L, shape, r.x, r.y, r.colour, r.tagsIndex);
}

}  // namespace

void InstallPathRendering() {
    SetPathDrawer(DrawPathEx);
    draw::SetShapeToPath(ShapeRequestToPath);
    SetLayerRenderers(gfx::kTypeVectorPath, RenderPathContent, RenderPathLayerBorder);
    InstallPathStyleRow();
}

}  // namespace qv
