// Shape and line layers seen from the layer engine: the redraw entries that draw a layer's
// shape again from its item (under the layer's transform, at any size), and the border image
// that the compositor lays under a shape layer.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw/shape_records.h"
#include "scene/layers/compositor.h"

// How a layer's shape is drawn again: under the transform, into the layer in place (with the
// area to repaint) or as its replacement at the insert position, by the QV_DRAW_* flags.
struct qvShapeRedraw {
    const qvDrawTransform* transform;  // none: the identity
    qvDrawStyle* style;                // none: no effects
    qvLayer* layer;                    // QV_DRAW_INPLACE: the layer updated
    qvLayerArea* previous;             // QV_DRAW_INPLACE: the area to repaint; none: shown
    int32_t insertPosition;            // QV_DRAW_REDRAW: the layer replaced
    int flags;
};

// The shape of the item drawn again as the layer type says (BOX, LINE, CIRCLE, ELLIPSE, ARC,
// POLYGON): circles, ellipses and arcs take their box from the radii. ERR_WRONGUSAGE for
// radii below 1, negative arc angles or another type; an arc from an angle to itself draws
// nothing. Else the errors of DrawBoxEx, DrawLineEx and DrawShapeEx.
int RedrawShapeItem(qvVmState* L, int32_t type, const qvShapeItem& item, const qvShapeRedraw& call);

// The border of the colour (0xAARRGGBB, the top byte a transparency) and size (any size from
// 1, as the layer keeps it) that the compositor lays under the layer's shape as the item
// describes it: for a filled shape the ring around it, for an outline the outline widened to
// twice the size (as the layer's transform scales it), anti-aliased when the shape is; under
// a turn drawn upright and turned as the layer's shape is. out->dx, dy is where the shape's
// own image lies in it. 0, ERR_MEM (nothing kept), or ERR_WRONGUSAGE for a line or bad radii.
int RenderShapeBorder(qvVmState* L, qvLayer* layer, const qvShapeItem& item, uint32_t colour,
                      int32_t size, qvLayerBorder* out);

// Makes these the layer engine's renderers of the shape and line layer types and of the
// borders of turned images without mask or alpha (box outlines), and installs the shape
// types' style rows.
void InstallShapeLayerRenderers();

namespace qv::draw {

// The side of the box of a circle, ellipse or arc of the radius: 2r + 1.
int32_t SideOfRadius(int32_t radius);

}  // namespace qv::draw
