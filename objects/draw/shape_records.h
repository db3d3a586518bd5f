// The two records through which shapes travel: the descriptor that a shape command or a
// layer redraw hands to the shape engine, and the item a shape or line layer keeps to draw
// its shape again.
#pragma once

#include <cstdint>

#include "gfx/geometry.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/outline.h"
#include "runtime/objects.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/layer.h"

struct qvShapeDesc {
    int32_t type;  // BOX, CIRCLE, ELLIPSE, POLYGON, ARC
    int32_t x, y;  // as given: position constants allowed
    // Written by the geometry: where the image lies relative to the box's origin (the engine
    // adds the position), where the fill and the ring lie inside the image, and how far the
    // shadow copy lies from the shape.
    int32_t imageX, imageY;
    int32_t fillX, fillY;
    int32_t borderX, borderY;
    int32_t shadowX, shadowY;
    int32_t width, height;  // the shape's own box (CIRCLE and ELLIPSE: 2r + 1)
    int32_t fillWidth, fillHeight;
    int32_t borderWidth, borderHeight;
    int32_t imageWidth, imageHeight;
    int32_t radiusX, radiusY;      // CIRCLE, ELLIPSE, ARC
    int32_t startAngle, endAngle;  // ARC, degrees clockwise from the right
    int32_t cornerLevels[4];       // BOX: top-left, bottom-left, bottom-right, top-right
    const qvOutlinePoint* points;  // POLYGON, relative to its box
    int32_t pointCount;            // the closing point included
    // The effective style, written by the geometry.
    int32_t fillStyle;
    int32_t borderOn, borderTransparency, borderSize;
    int32_t shadowOn, shadowTransparency, shadowSize, shadowDirection;
    uint32_t colour;                      // 0xAARRGGBB, the top byte a transparency
    uint32_t borderColour, shadowColour;  // 0xRRGGBB
    int32_t antialias;
    int32_t clockwise;  // ARC
    qvDrawState* drawState;
    const qvDrawTransform* transform;
    qvDrawStyle* style;
    qvLayer* layer;         // the layer updated in place
    qvLayerArea* previous;  // in place for the layer engine: the area to repaint; none: the
                            // layer's shown area
    int32_t insertPosition;
    // The integer outlines of the geometry, in the work buffers, each relative to its own box
    // (fill and ring): closed lists that OpenCV fills. An ARC's bounding entries count for
    // the boxes and are not in the lists.
    const qvVertex* fillPoints;
    int32_t fillCount;
    const qvVertex* borderPoints;
    int32_t borderCount;
};

// The layer item of shape and line layers: what a redraw needs to draw the shape again. Its
// x, y, width and height (of the header) are the shape's box.
struct qvShapeItem : qvLayerItem {
    qvDrawState drawState{};                 // as it was when the shape was drawn
    int32_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // LINE
    int32_t thickness = 0;                   // LINE
    uint32_t colour = 0;
    int32_t cornerLevels[4] = {};
    int32_t radiusX = 0, radiusY = 0;
    int32_t startAngle = 0, endAngle = 0;
    int32_t clockwise = 0;
    qv::draw::PolygonPoints points;  // POLYGON: the item's own copy
    int32_t pointCount = 0;

    qvShapeItem() = default;
    // A copy in a fresh block with its own point array and no images; none when memory is
    // short.
    qvLayerItem* Copy() const override;
    // Moves a line's end points with its layer.
    void Translate(int32_t dx, int32_t dy) override;

protected:
    // Every field but the point array, which Copy() duplicates.
    qvShapeItem(const qvShapeItem& other);
};
