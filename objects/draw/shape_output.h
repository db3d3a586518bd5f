// Where a rendered shape or line goes: the last step that shapes and lines share. With layers
// on it becomes a layer of the current output picture (and a plain one on top is painted at
// once); with layers off its image is blitted into the current output and freed; a layer
// redrawn in place takes the new image.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "gfx/blit_host.h"
#include "objects/draw/coverage.h"
#include "objects/draw/shape_records.h"
#include "platform/linux/bitmap.h"

// Flags of a drawing call (shapes and lines).
enum : int {
    QV_DRAW_NOBLIT = 1,     // nothing is blitted
    QV_DRAW_FROMLAYER = 2,  // the call comes from a layer being created
    QV_DRAW_REDRAW = 8,     // redrawn for an existing layer: it replaces that layer
    QV_DRAW_INPLACE = 16,   // the layer given is updated in place
    // A hard one-pixel outline under a plain scale is drawn at its own size and scaled as a
    // picture is: the display item of a layer that a display scales.
    QV_DRAW_ASPICTURE = 32,
};

namespace qv::draw {

// A rendered image with its 1-bit mask or 8-bit alpha plane, and where it goes.
struct ShapeImage {
    OwnedBitMap bitmap;
    OwnedPlane mask, alpha;
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// What becomes of a rendered image: kept (by a layer, by effects that read it whole, or
// copied whole into a brush with an alpha channel), or blitted once through its plane and
// freed. The blit reads the colour only where the plane says drawn, and drawing writes it
// there, so such an image need not start black.
enum class ImageUse { kKept, kBlittedOnce };

// How an image for the current output is used: blitted once when layers are off, the call
// neither keeps nor skips the blit (flags), the style has no effects (filters, transparency)
// and the output has no alpha channel.
ImageUse ImageUseFor(const qvDrawStyle* style, int flags);

// The bitmap of a shape's image, black unless blitted once. None on failure.
qvDisplayBitMap* AllocShapeBitMap(int32_t width, int32_t height, ImageUse use);

// The output picture's drawing area: its active clip region's rectangle, else the picture.
struct Area {
    int64_t left, top, right, bottom;  // inclusive
};
Area DrawingArea();

// Where a shape or line is drawn: the current display, its view, and the output's bitmap as
// fetched (none: the display).
struct DrawTarget {
    qvDisplay* display = nullptr;
    gfx::DisplayView view{};
    qvDisplayBitMap* output = nullptr;
};
// 0 with the target, where a display without one leaves nothing to draw into; or the error
// of fetching the output's bitmaps.
int FetchDrawTarget(qvVmState* L, DrawTarget* target);

// What the output step needs besides the image.
struct ShapeOutput {
    int32_t type;             // the layer type: BOX ... ARC, or LINE
    qvDisplayBitMap* target;  // the output's bitmap as fetched; none: the display
    const qvShapeItem* item;
    const qvDrawTransform* transform;  // none: the identity
    qvDrawStyle* style;                // none: no effects
    qvLayer* layer;                    // QV_DRAW_INPLACE: the layer updated
    int32_t insertPosition;            // QV_DRAW_REDRAW: the layer replaced
    int flags;
    qvLayerArea* previous;  // QV_DRAW_INPLACE: the area to repaint; none: the shown area
};

// The output step: QV_DRAW_INPLACE updates the layer's geometry with the image; with layers
// on the image and a copy of the item become a layer (AddShapeLayer), and unless
// QV_DRAW_NOBLIT, QV_DRAW_REDRAW or style effects (which the compositor draws) it is
// painted at once; with layers off, the style's effects are applied and the image is
// blitted into the current output (shapes other than lines placed by the anchor first).
// Without a current display nothing is drawn. The caller fetched the output's bitmaps. 0 or
// an error code; the image is used up.
int OutputShapeImage(qvVmState* L, const ShapeOutput& output, ShapeImage image);

// Paints a rectangle of the current output from the image: recorded for the shown picture
// while drawing goes into it, for the next flip while double-buffering, nothing on a display
// that scales its layers by a factor other than 1; else SafeBlt with the mask or alpha plane
// into the output bitmap (none: the display, recomposed when layers are on).
void BlitShapeImage(qvVmState* L, qvDisplayBitMap* output, qvDisplayBitMap* bitmap,
                    const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, int32_t x, int32_t y,
                    int32_t width, int32_t height);

// A shape of one colour painted straight into the output: its image's alpha plane (the
// strength), of which only the plane's rectangle at (strengthX, strengthY) is not 0, and
// where the image lies before the anchor places it.
struct StraightPaint {
    const qvPlaneBitMap* strength;  // none: nothing covered
    int32_t strengthX, strengthY;
    int32_t x, y, width, height;
    uint32_t colour;  // 0xRRGGBB
};

// Whether an image for the output may be skipped: it would be blitted once into a bitmap
// (a brush or picture the output is redirected to) that has no mask, under no sprite and
// without a shaped region, where the blit is one pass of the alpha plane over the bitmap.
bool PaintsStraight(const ShapeOutput& output);

// What OutputShapeImage does with such an image, drawn from its alpha plane alone: the same
// refreshes, and each pixel the same as the blit of a one-colour image.
void PaintStraight(qvVmState* L, const ShapeOutput& output, const StraightPaint& paint);

// The flat layers of a shape (bottom first) and where their image lies before the anchor
// places it.
struct LayeredPaint {
    const qvShapeLayers* layers;
    int32_t x, y, width, height;
};

// What OutputShapeImage does with the image such layers paint (PaintsStraight allowed it, and
// the output's bitmap is in the screen's format, the image's): the same refreshes, and each
// pixel composed from the layers as the image holds it and blended as its alpha blit blends
// it, in one pass. 0 or ERR_MEM.
int PaintLayersStraight(qvVmState* L, const ShapeOutput& output, const LayeredPaint& paint);

}  // namespace qv::draw

// Adds a layer of the shape type at (x, y) of width x height showing the planes, with a copy
// of the item; insertPos and flags as AddLayer takes them. The planes are the layer's from
// the call on (freed on failure). 0, ERR_MEM, or AddLayer's error.
int AddShapeLayer(qvVmState* L, int32_t type, int32_t x, int32_t y, int32_t width, int32_t height,
                  const qvDrawTransform* transform, qvDrawStyle* style, qvDisplayBitMap* bitmap,
                  qvPlaneBitMap* mask, qvPlaneBitMap* alpha, const qvShapeItem& item,
                  int32_t insertPos, int flags);
