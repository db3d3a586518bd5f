// Path rendering: a path measured and rasterised by the vector back end into an 8-bit
// coverage plane, coloured with the draw state's fill (colour, gradient or texture), given
// its edge and shadow, and sent out as the draw library sends its shapes: a VECTORPATH layer,
// an update of such a layer in place, or a blit into the current output. The same renderer
// rebuilds path layers and draws their borders, and draws the draw library's shapes while
// ForcePathUse is on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"
#include "objects/draw/shape_records.h"
#include "objects/draw_tags.h"
#include "objects/vector/vector_library.h"
#include "platform/linux/bitmap.h"
#include "scene/layers/dirty_rects.h"

// The item of a VECTORPATH layer: the shape item (draw state and colour) with the path's
// stream and stroke state. A drawing's own item borrows the path's stream and the library's
// dash lengths; a layer's copy owns copies of both.
struct qvPathItem : qvShapeItem {
    const uint8_t* segments = nullptr;
    size_t length = 0;  // used bytes, the terminator not counted
    int32_t join = 0, cap = 0, fillRule = 0;
    double dashOffset = 0;
    int32_t dashCount = 0;
    const double* dashes = nullptr;
    double originX = 0, originY = 0;  // left and top of the extents, written by the renderer
    bool placeByExtents = false;      // the extents' left and top are added to the position once
    double planeX = 0, planeY = 0;    // where the picture's pixel 0, 0 lies in path coordinates
    int32_t areaWidth = 0, areaHeight = 0;  // the filled area, as the drawing tags measure it

    qvPathItem() = default;
    // Every field, borrowing the arrays and no images: a drawing's variant of the item (a
    // border's). Copy() gives a copy its own arrays.
    qvPathItem(const qvPathItem& other);
    ~qvPathItem() override;
    qvLayerItem* Copy() const override;
    // The item's own copy of a stream of length used bytes (the terminator added), or of dash
    // lengths; 0, or ERR_MEM with the item unchanged.
    int SetStream(const uint8_t* stream, size_t length);
    int SetDashes(const double* lengths, int32_t count);
    bool HiddenUnderBorder(uint32_t borderColour) const override;
    // The filled area: a transform scales the path by it, as its drawing tags did.
    void OwnSize(int32_t* ownWidth, int32_t* ownHeight) const override;

private:
    void* ownedStream_ = nullptr;
    void* ownedDashes_ = nullptr;
};

// A border image of a path layer, placed relative to the layer's item position.
struct qvPathBorder {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* alpha;
    int32_t x, y, width, height;
};

// How RenderPath is called; a layer given turns the path about the layer's anchor. The flags are
// those of shapes (QV_DRAW_*, shape_output.h).
struct qvPathRenderCall {
    int32_t x, y;                      // position constants allowed
    const qvDrawTransform* transform;  // none: the drawing tags are read from tableIndex
    qvDrawStyle* style;                // with a transform: the layer style, or none
    qvLayer* layer;                    // QV_DRAW_INPLACE: the layer updated
    int32_t insertPosition;            // QV_DRAW_REDRAW: the layer replaced
    int flags;
    qvPathBorder* border;   // asked for a border image instead of output; none
    bool coverFill;         // with border: the stroke covers the filled area too
    const double* pivot;    // with border: the point (x, y) the layer's picture turns about
    int tableIndex;         // of the drawing-tags table argument
    qvLayerArea* previous;  // QV_DRAW_INPLACE from the layer engine: the area to repaint
};

// Measures the item as RenderPath does: its picture's size and its filled area. 0, or
// ERR_EMPTYPATH, ERR_VECGFXPLUGIN or ERR_MEM.
int MeasurePathItem(qvPathItem* item);

// Renders the item (its place-by-extents flag is cleared) and outputs it. 0, or
// ERR_EMPTYPATH, ERR_VECGFXPLUGIN, ERR_DRAWPATH, ERR_MEM, or the error of the drawing tags,
// the texture, the output's bitmaps or the layers.
int RenderPath(qvVmState* L, qvPathItem* item, const qvPathRenderCall& call);

// DrawPath's work: an item of the path with the current stroke and draw state, placed by
// its extents at (x, y), drawing tags from the table argument at tableIndex.
int DrawPathEx(qvVmState* L, qvObjectId id, int32_t x, int32_t y, uint32_t colour, int tableIndex);

// The border of a VECTORPATH layer: the outline stroked at twice the size in the colour,
// covering the filled area too when the path is filled. 0 or RenderPath's error.
int RenderPathBorder(qvVmState* L, qvLayer* layer, const qvPathItem& item, uint32_t colour,
                     int32_t size, qvPathBorder* out);

// The points mapped by x' = m0 (x - ox) + m2 (y - oy) + ox, y' = m1 (x - ox) + m3 (y - oy) + oy
// about the anchor point (ox, oy); the minimum starts at 100000 and the maximum at -100000,
// each result clamped to that range. With normalise the points are moved so that the
// minimum becomes (0, 0). Out: the minimum and the size (maximum - minimum + 1); each out
// pointer may be null.
void TransformBoundsPoints(const double matrix[4], double anchorPointX, double anchorPointY,
                           double* points, int count, bool normalise, double* minX, double* minY,
                           double* width, double* height);

namespace qv {

// A draw-library shape as a path: BOX (a, b: width, height; corners: the four levels),
// CIRCLE (a: radius), ELLIPSE (a, b: radii), POLYGON (a: the point count; points: x, y
// pairs), ARC (a, b: radii; c, d: start and end angle; e: clockwise). Its bounding box starts
// at (0, 0).
struct PathShape {
    int32_t type;
    double a = 0, b = 0, c = 0, d = 0;
    int32_t e = 1;
    const int32_t* corners = nullptr;  // BOX: four levels, none for square corners
    const double* points = nullptr;    // POLYGON
};

// Draws the shape through a temporary path with DrawPathEx at (x, y) in the colour, drawing
// tags from tableIndex: what the draw library's shape commands do while PathUseForced().
// DrawPathEx's result, or ERR_MEM when the path cannot be made.
int ShapeToPath(qvVmState* L, const PathShape& shape, int32_t x, int32_t y, uint32_t colour,
                int tableIndex);

// Installs the renderer: DrawPath's drawer and the VECTORPATH layer renderers.
void InstallPathRendering();

}  // namespace qv
