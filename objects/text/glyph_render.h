// Rasterising laid-out text: each run drawn in its own style into one display-format bitmap
// with a 1-bit mask or an 8-bit alpha plane; bold, italic and underline made synthetically
// where the font does not do them, shadows in eight directions, edges by dilation (also
// anti-aliased) and colours with a transparency byte. Also the transformation of such a
// picture and the border that the layer compositor draws around text layers.
#pragma once

#include <cstdint>

#include "objects/draw_tags.h"
#include "objects/text/layout.h"
#include "platform/linux/bitmap.h"
#include "scene/layers/layer.h"

struct qvGlyphResult {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;   // 1-bit, or none
    qvPlaneBitMap* alpha;  // 8-bit, or none
    int32_t left;          // the block's left and top edges from the text's origin (<= 0)
    int32_t top;
    int32_t width;
    int32_t height;
    int32_t xOffset;  // a single line keeps its start x here instead of inside the bitmap
};

// Shifts the lines of a run list right within the widest line: qv::gfx::CENTER by half the
// difference (toward zero), qv::gfx::RIGHT by all of it; other values leave them.
void AlignTextLines(qvTextRun* runs, int32_t alignment);

// Draws the runs (moving them: a single line loses the start x, lines are aligned) in the
// record's font and encoding. With a wrap width the bitmap is cut to it; with measureOnly only
// the sizes are reported. No run gives a cleared 1 x line height bitmap with a 1-bit mask.
// Returns 0 or ERR_MEM (nothing is left then).
int RenderGlyphs(const qvTextParams* record, int32_t startX, int32_t wrapWidth, bool antiAlias,
                 int32_t alignment, bool measureOnly, qvTextRun* runs, qvGlyphResult* result);
void FreeGlyphResult(qvGlyphResult* result);

// A rendered text picture and where it goes.
struct qvTextPicture {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t x, y;
    int32_t width, height;
};

// Applies the transform to the picture, whose (x, y) is where its anchor point is to land,
// and places it there by the layers' pivot rule (PlaceAtPivot), so that a text lands alike
// with layers off and as a layer. Untransformed, or in a scalable font under a pure positive
// scale (rendered at that size already), the picture is only placed. Otherwise the planes are
// transformed into new ones, which replace those of the picture (the old ones stay the
// caller's) and *made is set. Returns 0 or the transformation's error.
int TransformTextBitmaps(qvTextPicture* picture, const qvDrawTransform& transform,
                         const qvTextParams& record, bool* made);

struct qvTextBorder {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t offset;  // the border's top-left lies this far up and left of the image
    int32_t width, height;
};

// The border of a text layer's image, (width + 1 + 2 size) x (height + 1 + 2 size) in the
// colour: the anti-aliased edge of an alpha image, the mask's edge square of a masked one (an
// image with neither is bordered as its rectangle). Returns 0 or ERR_MEM.
int RenderTextBorder(const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, int32_t width,
                     int32_t height, int32_t size, uint32_t colour, qvTextBorder* border);
void FreeTextBorder(qvTextBorder* border);
