// Coverage rasterisation: outlines and lines become 8-bit coverage images through OpenCV's
// drawing functions (over planes of ours), which are then painted into a shape's image or
// straight into a brush: colour through the coverage, the mask bit where anything is
// covered, and the alpha byte.
//
// Painting keeps the colour straight (not premultiplied) and lays the shape over what the
// destination holds: where its alpha is still 0 the colour is written as it is and the alpha
// carries the coverage; over an opaque pixel the colour is blended by the coverage; between,
// both combine as one layer over another. A shape painted into a fresh image and blitted
// through its alpha plane therefore shows no dark fringe, and shadow, ring and fill painted
// bottom-up lie over one another as they would on the screen.
#pragma once

#include <cstdint>

#include "gfx/geometry.h"
#include "objects/draw/shape_records.h"
#include "platform/linux/bitmap.h"

// Where a shape or line is painted.
struct qvShapeTarget {
    qvDisplayBitMap* bitmap;  // none for a mask or an alpha plane alone
    qvPlaneBitMap* mask;      // gets a bit wherever the shape covers; none
    qvPlaneBitMap* alpha;     // none
    int32_t width, height;    // the usable size (cut further to the planes given)
    // Colour per pixel (a gradient or texture) in the bitmap's format, read at the painted
    // position; none for the flat colour.
    qvDisplayBitMap* fill;
    int32_t maskMode;    // a mask alone: how bits are drawn (the run-time's mask mode)
    int32_t alphaValue;  // an alpha plane alone: the value drawn, 0-255
    // The bitmap and its planes were just made (the planes clear) and nothing is painted yet,
    // which the caller knows and need not be proved by reading the planes.
    bool fresh = false;
};

struct qvShapePaint {
    uint32_t colour;       // 0xRRGGBB
    int32_t transparency;  // 0 opaque ... 255 invisible
    bool antialias;
};

// An outline placed in the target: its (0, 0) at (x, y).
struct qvShapeOutline {
    const qvVertex* points;
    int32_t count;
    int32_t x, y;
    int32_t width, height;  // its box
    bool filled;            // else a closed outline of lineWidth
    int32_t lineWidth;
};

struct qvLineSegment {
    int32_t x1, y1, x2, y2;  // inclusive, in the target
    int32_t thickness;       // 1 ... 64
};

namespace qv::draw {

// Converts OpenCV's failures: allocation gives ERR_MEM, anything else ERR_WRONGUSAGE.
int CoverageError(int openCvCode);

}  // namespace qv::draw

// Shape mode: fills the outline (OpenCV's polygon filling) or draws it as a closed polyline
// of the line width, anti-aliased (line type 16) or 8-connected, and paints the coverage.
// Anti-aliased coverage reaches 2 pixels beyond the box, a thick outline half its width.
// 0, ERR_MEM or ERR_WRONGUSAGE.
int RenderShapeImage(const qvShapeTarget& target, const qvShapeOutline& outline,
                     const qvShapePaint& paint);

// Line mode: a one-pixel line through PlotThickLine or PlotAALine (equal end points give one
// fully covered pixel), a thicker one through OpenCV's line drawing. 0, ERR_MEM or
// ERR_WRONGUSAGE.
int RenderShapeImage(const qvShapeTarget& target, const qvLineSegment& line,
                     const qvShapePaint& paint);

// The alpha plane that one outline painted alone in one colour leaves in a fresh image of
// width x height: its coverage, scaled by the opacity as the painter scales it. Only the
// returned plane, lying at (x, y) of the image, may be non-zero; none when nothing is
// covered. 0, ERR_MEM or ERR_WRONGUSAGE.
int OneColourStrength(int32_t width, int32_t height, const qvShapeOutline& outline,
                      const qvShapePaint& paint, qv::OwnedPlane* strength, int32_t* x, int32_t* y);

// The layers a filled shape of flat colours paints into a fresh image of width x height,
// bottom first, as CompositeShapeCoverage lays them: each one's coverage plane (the shadow's
// is the ring's or the fill's), where it lies in the image and its paint. Layers that cover
// nothing are left out.
struct qvShapeLayers {
    struct Layer {
        const qvPlaneBitMap* coverage;
        int32_t x, y;
        qvShapePaint paint;
    };
    qv::OwnedPlane fill, ring;
    Layer layers[3];
    int32_t count = 0;
};

// Those layers for the prepared descriptor, its image origin at (originX, originY). 0,
// ERR_MEM or ERR_WRONGUSAGE.
int ShapeLayerCoverage(int32_t width, int32_t height, const qvShapeDesc& desc, int32_t originX,
                       int32_t originY, qvShapeLayers* out);

// A filled shape of the prepared descriptor painted bottom-up into its image: the shadow
// (in the shadow colour, through the ring's coverage when there is a border, else the
// fill's), the ring in the border colour, then the fill in the shape's colour (or the
// target's fill source), each with its own transparency. The geometry's image origin lies
// at (originX, originY) of the target (2, 2 for an anti-aliased image). 0, ERR_MEM or
// ERR_WRONGUSAGE.
int CompositeShapeCoverage(const qvShapeTarget& target, const qvShapeDesc& desc, int32_t originX,
                           int32_t originY);
