#include "objects/draw/shape_redraw.h"

#include <algorithm>

#include "engine/error_codes.h"
#include "gfx/clip.h"
#include "gfx/graphics_state.h"
#include "gfx/library/object_types.h"
#include "objects/draw/box.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/lines.h"
#include "objects/draw/shape_engine.h"
#include "objects/draw/shape_geometry.h"
#include "objects/draw/shape_output.h"
#include "objects/draw/shape_style_rows.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layer_transform.h"

namespace qv::draw {

int32_t SideOfRadius(int32_t radius) {
    return Saturate32(2 * int64_t(radius) + 1);
}

namespace {

// A cleared descriptor of the item's shape with the draw state; circles, ellipses and arcs
// take their box from the radii.
int DescOf(int32_t type, const qvShapeItem& item, qvDrawState* state, qvShapeDesc* desc) {
    *desc = {};
    desc->type = type;
    desc->x = item.x, desc->y = item.y;
    desc->width = item.width, desc->height = item.height;
    desc->colour = item.colour;
    std::copy(std::begin(item.cornerLevels), std::end(item.cornerLevels), desc->cornerLevels);
    desc->radiusX = item.radiusX, desc->radiusY = item.radiusY;
    desc->startAngle = item.startAngle, desc->endAngle = item.endAngle;
    desc->clockwise = item.clockwise;
    desc->points = item.points.get(), desc->pointCount = item.pointCount;
    desc->drawState = state;
    switch (type) {
        case ARC:
            if (item.startAngle < 0 || item.endAngle < 0) return ERR_WRONGUSAGE;
            [[fallthrough]];
        case CIRCLE:
        case ELLIPSE:
            if (item.radiusX < 1 || item.radiusY < 1) return ERR_WRONGUSAGE;
            desc->width = SideOfRadius(item.radiusX), desc->height = SideOfRadius(item.radiusY);
            return 0;
        case BOX:
        case POLYGON:
            return 0;
        default:
            return ERR_WRONGUSAGE;
    }
}

// A line layer keeps its unturned ends. Redrawn in place, the ends are turned and the
// thickness scaled here, since DrawLineEx leaves an in-place line as it is given.
int RedrawLine(qvVmState* L, const qvShapeItem& item, const qvShapeRedraw& call) {
    int32_t x1 = item.x1, y1 = item.y1, x2 = item.x2, y2 = item.y2;
    int32_t thickness = item.thickness;
    const qvDrawTransform* transform = call.transform;
    if ((call.flags & QV_DRAW_INPLACE) != 0 && transform != nullptr) {
        ShapeTransform turn = TransformOf(transform);
        if (!turn.IsIdentity()) {
            TurnLineEnds(turn, &x1, &y1, &x2, &y2);
            thickness = ScaleWidth(thickness, turn.matrix);
        }
        transform = nullptr;
    }
    const qvLineDesc line{x1,
                          y1,
                          x2,
                          y2,
                          item.colour,
                          thickness,
                          &item.drawState,
                          transform,
                          call.style,
                          call.layer,
                          call.insertPosition,
                          call.previous};
    return DrawLineEx(L, line, call.flags);
}

// The display item of a line layer on a display that scales its layers: the line as the
// picture shows it, scaled as the layers scale a picture. Drawn again at the scale, its ends
// would turn about a pivot of the picture's coordinates, off the scaled place, and its stroke
// would widen about the line instead of covering the scaled pixels.
int RenderScaledLine(qvVmState* L, qvLayer* layer, const qvShapeItem& item, qvLayerArea* previous) {
    ShapeTransform own = TransformOf(&layer->transform);
    own.anchorX = layer->anchorX, own.anchorY = layer->anchorY;
    int32_t x1 = item.x1, y1 = item.y1, x2 = item.x2, y2 = item.y2;
    int32_t thickness = item.thickness;
    if (!own.IsIdentity()) {
        TurnLineEnds(own, &x1, &y1, &x2, &y2);
        thickness = ScaleWidth(thickness, own.matrix);
    }
    const bool antialias = (item.drawState.formStyle & ANTIALIAS) != 0;
    ShapeImage image;
    if (const int code = MakeLineImage(x1, y1, x2, y2, thickness, item.colour, antialias, &image)) {
        return code;
    }
    const scene::DisplayScale scale =
        scene::LayerDisplays().Scale(gfx::Graphics().Host().CurrentDisplay());
    ShapeTransform factors;
    factors.matrix[0] = scale.x, factors.matrix[3] = scale.y;
    if (const int code = ScaleImageAsPicture(factors, 0, 0, 0, 0, &image)) return code;
    const ShapeOutput out{LINE,  nullptr, &item,           nullptr, nullptr,
                          layer, -1,      QV_DRAW_INPLACE, previous};
    return OutputShapeImage(L, out, std::move(image));
}

// Whether the transform turns, flips or shears: a shape layer under it is drawn upright at its
// own size and turned as a brush layer's picture is (TransformLayerPicture), the one road of
// every layer that turns, so that a thin shape keeps its area instead of thinning to a
// staircase of rounded points.
bool TurnsAsPicture(const ShapeTransform& transform) {
    return !transform.IsIdentity() && !IsPlainScale(transform.matrix);
}

// The item's shape, with the draw state given, prepared upright at its own size.
int PrepareUpright(int32_t type, const qvShapeItem& item, qvDrawState* state, qvShapeDesc* desc) {
    if (const int code = DescOf(type, item, state, desc)) return code;
    ClampStyleParams(state);
    return PrepareShapeGeometry(DrawShapeWork(), desc, ShapeTransform{});
}

// An upright image of the item's shape (placed from its box's origin) turned by the transform
// as a brush layer's picture, and where the box's anchor point lies in the result.
int TurnUpright(const ShapeImage& upright, const qvShapeItem& item,
                const qvDrawTransform& transform, qvTurnedLayerPicture* out) {
    qvLayerPicture source{};
    source.bitmap = upright.bitmap.get(), source.mask = upright.mask.get();
    source.alpha = upright.alpha.get();
    source.width = upright.width, source.height = upright.height;
    return TransformLayerPicture(source, item.width * transform.anchorx - upright.x,
                                 item.height * transform.anchory - upright.y, transform, out);
}

// Where the box's anchor point lies, not yet truncated, in the turned picture of an upright
// image placed (x, y, width, height) from the box's origin.
void TurnedAnchor(const ShapeImage& upright, const qvShapeItem& item,
                  const qvDrawTransform& transform, double* x, double* y) {
    TransformedPivot(transform.matrix, upright.width, upright.height,
                     item.width * transform.anchorx - upright.x,
                     item.height * transform.anchory - upright.y, x, y);
}

// A turned shape layer: the shape drawn upright and turned, its anchor point on the item's
// position, into the layer in place.
int RenderTurnedShape(qvVmState* L, qvLayer* layer, int32_t type, const qvShapeItem& item,
                      const qvDrawTransform& transform, qvLayerArea* previous) {
    if (type == ARC && item.startAngle == item.endAngle) return 0;
    qvDrawState state = item.drawState;
    qvShapeDesc desc;
    if (const int code = PrepareUpright(type, item, &state, &desc)) return code;
    ShapeImage upright;
    if (const int code = RenderPreparedShape(L, desc, ShapeTransform{}, 0, 0, &upright)) {
        return code;
    }
    qvTurnedLayerPicture made;
    if (const int code = TurnUpright(upright, item, transform, &made)) return code;
    ShapeImage image;
    image.bitmap.reset(made.image.bitmap), image.mask.reset(made.image.mask);
    image.alpha.reset(made.image.alpha);
    // The layer anchors the position by the item's box.
    image.x = Saturate32(int64_t(item.x) - made.pivotX +
                         scene::AnchorShift(item.width, transform.anchorx));
    image.y = Saturate32(int64_t(item.y) - made.pivotY +
                         scene::AnchorShift(item.height, transform.anchory));
    image.width = made.width, image.height = made.height;
    const ShapeOutput out{type,  nullptr, &item,           nullptr, nullptr,
                          layer, -1,      QV_DRAW_INPLACE, previous};
    return OutputShapeImage(L, out, std::move(image));
}

// Whether the layer's outline is drawn as its picture and scaled as the layers scale a
// picture: a hard one-pixel outline of a layer without a transform of its own, which only the
// display scales.
bool DrawnAsPicture(const qvLayer* layer, const qvDrawState& state, const ShapeTransform& total) {
    return TransformOf(&layer->transform).IsIdentity() && IsScaledHairline(state, total);
}

// The layer engine's content renderer of shape and line layers: the item drawn again under
// the work transform, turning about the layer's anchor, into the layer in place.
int RenderShapeContent(qvVmState* L, qvLayer* layer, int32_t insertPos, qvLayerItem* item,
                       qvLayerImage*, const qvWorkTransform* work, qvLayerArea* previous,
                       int flags) {
    const auto* shape = dynamic_cast<const qvShapeItem*>(item);
    if (shape == nullptr) return ERR_WRONGUSAGE;
    // Only the display item keeps its given position.
    if (layer->type == LINE && (flags & QV_CONTENT_KEEPPOS) != 0) {
        return RenderScaledLine(L, layer, *shape, previous);
    }
    qvDrawTransform transform = work->transform;
    transform.anchorx = layer->anchorX, transform.anchory = layer->anchorY;
    if (layer->type != LINE && TurnsAsPicture(TransformOf(&transform))) {
        return RenderTurnedShape(L, layer, int32_t(layer->type), *shape, transform, previous);
    }
    int drawFlags = QV_DRAW_INPLACE;
    if ((flags & QV_CONTENT_KEEPPOS) != 0 &&
        DrawnAsPicture(layer, shape->drawState, TransformOf(&transform))) {
        drawFlags |= QV_DRAW_ASPICTURE;
    }
    const qvShapeRedraw call{&transform, nullptr, layer, previous, insertPos, drawFlags};
    return RedrawShapeItem(L, int32_t(layer->type), *shape, call);
}

int RenderShapeLayerBorder(qvVmState* L, qvLayer* layer, qvLayerItem* item, uint32_t colour,
                           int32_t size, qvLayerBorder* out) {
    const auto* shape = dynamic_cast<const qvShapeItem*>(item);
    if (shape == nullptr) return ERR_WRONGUSAGE;
    return RenderShapeBorder(L, layer, *shape, colour, size, out);
}

// The draw state of a border: a ring of the size around a filled shape, or the outline
// widened to twice the size.
qvDrawState BorderState(const qvShapeItem& item, const ShapeTransform& turn, uint32_t colour,
                        int32_t size) {
    qvDrawState state;
    ResetDrawState(&state);
    const bool antialias = (item.drawState.formStyle & ANTIALIAS) != 0;
    uint32_t form = antialias ? uint32_t(ANTIALIAS) : 0u;
    if (item.drawState.fillStyle != FILLNONE) {
        state.fillStyle = FILLCOLOR;
        form |= EDGE;
        state.borderColour = colour & 0xFFFFFF;
    } else {
        const int32_t doubled = Saturate32(2 * int64_t(size));
        const int32_t width = turn.IsIdentity() ? doubled
                                                : GetTransformedBorderWidth(turn.matrix, item.width,
                                                                            item.height, doubled);
        state.lineWidth = std::max(2, width);
    }
    state.formStyle = form != 0 ? form : NORMAL;
    ClampStyleParams(&state);
    // The layer's border size as the layer keeps it, not the draw state's 1 ... 64.
    if (item.drawState.fillStyle != FILLNONE) state.borderSize = std::max(1, size);
    return state;
}

}  // namespace
}  // namespace qv::draw

using namespace qv;
using namespace qv::draw;

int RedrawShapeItem(qvVmState* L, int32_t type, const qvShapeItem& item,
                    const qvShapeRedraw& call) {
    if (type == LINE) return RedrawLine(L, item, call);
    qvDrawState state = item.drawState;
    qvShapeDesc desc;
    if (const int code = DescOf(type, item, &state, &desc)) return code;
    if (type == ARC && item.startAngle == item.endAngle) return 0;
    desc.transform = call.transform, desc.style = call.style;
    desc.layer = call.layer, desc.previous = call.previous;
    desc.insertPosition = call.insertPosition;
    return type == BOX ? DrawBoxEx(L, desc, call.flags) : DrawShapeEx(L, &desc, call.flags);
}

namespace {

// The border's prepared shape for the item (DescOf's descriptor with the border's state): a
// filled shape's ring is the border whole, filled as the shape's fill would be.
int PrepareBorder(int32_t type, const qvShapeItem& item, qvDrawState* state, uint32_t colour,
                  const ShapeTransform& turn, qvShapeDesc* border) {
    if (const int code = DescOf(type, item, state, border)) return code;
    border->colour = colour;
    if (const int code = PrepareShapeGeometry(DrawShapeWork(), border, turn)) return code;
    if (border->borderOn != 0) {
        border->fillPoints = border->borderPoints, border->fillCount = border->borderCount;
        border->fillX = border->borderX, border->fillY = border->borderY;
        border->fillWidth = border->borderWidth, border->fillHeight = border->borderHeight;
        border->borderOn = 0, border->shadowOn = 0;
    }
    return 0;
}

// The border of a turned shape layer: drawn upright around the upright shape and turned as
// the layer's shape is (RenderTurnedShape), so that the two lie as they lie upright.
int TurnedShapeBorder(qvVmState* L, int32_t type, const qvShapeItem& item, uint32_t colour,
                      int32_t size, const qvDrawTransform& transform, qvLayerBorder* out) {
    qvDrawState own = item.drawState;
    qvShapeDesc shape;
    if (const int code = PrepareUpright(type, item, &own, &shape)) return code;
    ShapeImage shown;
    if (const int code = PlaceShapeImage(shape, 0, 0, &shown)) return code;
    double shownX = 0, shownY = 0, borderX = 0, borderY = 0;
    TurnedAnchor(shown, item, transform, &shownX, &shownY);
    qvDrawState state = BorderState(item, ShapeTransform{}, colour, size);
    qvShapeDesc border;
    if (const int code = PrepareBorder(type, item, &state, colour, ShapeTransform{}, &border)) {
        return code;
    }
    ShapeImage upright;
    if (const int code = RenderPreparedShape(L, border, ShapeTransform{}, 0, 0, &upright)) {
        return code;
    }
    qvTurnedLayerPicture made;
    if (const int code = TurnUpright(upright, item, transform, &made)) return code;
    // The two turned pictures lie as they lie upright, within the rounding of their offset.
    TurnedAnchor(upright, item, transform, &borderX, &borderY);
    out->dx = RoundSaturate(borderX - shownX), out->dy = RoundSaturate(borderY - shownY);
    out->width = made.width, out->height = made.height;
    out->image = made.image;
    return 0;
}

int ShapeBorder(qvVmState* L, int32_t type, qvLayer* layer, const qvShapeItem& item,
                uint32_t colour, int32_t size, qvLayerBorder* out) {
    *out = {};
    // The layer's transform as the display shows it, turning about the layer's anchor.
    qvDrawTransform transform = layer->transform;
    const scene::DisplayScale scale =
        scene::LayerDisplays().Scale(gfx::Graphics().Host().CurrentDisplay());
    scene::ScaleMatrix(transform.matrix, scale.x, scale.y);
    transform.anchorx = layer->anchorX, transform.anchory = layer->anchorY;
    const ShapeTransform turn = TransformOf(&transform);
    if (TurnsAsPicture(turn)) {
        return TurnedShapeBorder(L, type, item, colour, size, transform, out);
    }

    // Where the layer's own image lies: its shape laid out as a redraw lays it out.
    qvDrawState own = item.drawState;
    if (!DrawnAsPicture(layer, own, turn)) ScaleStyle(&own, turn.matrix);
    qvShapeDesc shape;
    if (const int code = DescOf(type, item, &own, &shape)) return code;
    if (const int code = PrepareShapeGeometry(DrawShapeWork(), &shape, turn)) return code;

    qvDrawState state = BorderState(item, turn, colour, size);
    qvShapeDesc border;
    if (const int code = PrepareBorder(type, item, &state, colour, turn, &border)) return code;
    ShapeImage image;
    if (const int code = RenderPreparedShape(L, border, turn, 0, 0, &image)) return code;
    const int64_t shapeX = int64_t(shape.imageX) - ShapeImageMargin(shape);
    const int64_t shapeY = int64_t(shape.imageY) - ShapeImageMargin(shape);
    out->dx = Saturate32(shapeX - image.x), out->dy = Saturate32(shapeY - image.y);
    out->width = image.width, out->height = image.height;
    out->image = {image.bitmap.release(), image.mask.release(), image.alpha.release()};
    return 0;
}

// A turned image without mask or alpha is bordered as the outline of a box of its size.
int RenderBoxOutlineBorder(qvVmState* L, qvLayer* layer, int32_t width, int32_t height,
                           uint32_t colour, int32_t size, qvLayerBorder* out) {
    qvShapeItem box;
    ResetDrawState(&box.drawState);
    box.drawState.fillStyle = FILLNONE;
    box.width = width, box.height = height;
    return ShapeBorder(L, BOX, layer, box, colour, size, out);
}

}  // namespace

int RenderShapeBorder(qvVmState* L, qvLayer* layer, const qvShapeItem& item, uint32_t colour,
                      int32_t size, qvLayerBorder* out) {
    return ShapeBorder(L, int32_t(layer->type), layer, item, colour, size, out);
}

void InstallShapeLayerRenderers() {
    using namespace qv::gfx;
    for (uint32_t type : {kTypeBox, kTypeCircle, kTypeEllipse, kTypePolygon, kTypeArc}) {
        SetLayerRenderers(type, RenderShapeContent, RenderShapeLayerBorder);
    }
    SetLayerRenderers(kTypeLine, RenderShapeContent, nullptr);
    SetBoxBorderRenderer(RenderBoxOutlineBorder);
    InstallShapeStyleRows();
}
