// The one entry through which text reaches pixels. Plain text on a window without layers is
// drawn line by line by the font straight into the display; everything else is laid out,
// rasterised into a bitmap with a mask or an alpha plane, and then handed back (text objects,
// layer redraws), blitted into the current output, or added as a TEXTOUT or PRINT layer.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw_tags.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/layer.h"

// Flags of RenderText.
enum : int {
    QV_RENDERTEXT_LAYER = 2,           // the drawing becomes a layer
    QV_RENDERTEXT_LAYERTRANSFORM = 8,  // apply the transform the layer keeps first
    QV_RENDERTEXT_ONLY = 16,           // a redraw: keep recorded tables, draw nothing
    QV_RENDERTEXT_KEEPGEOMETRY = 32,   // with ONLY: hand the pictures back, leave the layer
    QV_RENDERTEXT_SCALECURSOR = 64,    // the cursor scales with the font
};

// A text rendered for a text object or a redraw: its planes (the caller's from then on), their
// size, and where the bitmap's top-left lies from the text's position (<= 0).
struct qvRenderedText {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* mask;
    qvPlaneBitMap* alpha;
    int32_t width, height;
    int32_t left, top;
};
void FreeRenderedText(qvRenderedText* text);

// Blits a text's planes (mask before alpha) at (x, y) into the current output through its
// clip region: a redirected output's bitmap (fetched first), else the display, recomposed
// from its layers, with the window following; a rectangle for the flip while double
// buffering. 0 or the output fetch's error.
int BlitTextIntoOutput(qvVmState* L, qvDisplayBitMap* bitmap, const qvPlaneBitMap* mask,
                       const qvPlaneBitMap* alpha, int32_t x, int32_t y, int32_t width,
                       int32_t height);

// The product a x b of two matrices in the (m0 x + m2 y, m1 x + m3 y) convention; out may be
// either of them.
void MultiplyTextMatrix(const double a[4], const double b[4], double out[4]);

// A layout record for one rendering whose text (and a replayed break table) stay the caller's:
// a command's argument or the script's "wordwraptable". A layer copies what it keeps.
class qvBorrowedTextRender final : public qvTextRender {
public:
    qvBorrowedTextRender() = default;
    ~qvBorrowedTextRender() override { text = nullptr, wordBreaks = nullptr; }
};

// Renders the record's text as a drawing of kind (TEXTOBJECT 8, TEXTOUT 9 or PRINT 11). The
// record's item x and y are the position (for PRINT, x = CENTER starts at the display's
// cursor, which then follows the text); its right margin is the wrap width of TEXTOUT and
// text objects. transform may be none (identity); style receives, with layers on, the edge,
// shadow and transparency of the whole text (none: the default drawing tags). layer is the
// layer a redraw (QV_RENDERTEXT_ONLY) or QV_RENDERTEXT_LAYERTRANSFORM is for. result receives
// the pictures of a text object or of a redraw with QV_RENDERTEXT_KEEPGEOMETRY. previous is
// the area a redraw repaints with the layer's new one (none: only the new one).
//
// Returns 0, ERR_ANTIALIAS (nothing drawn), ERR_MEM, or the layout's, the blit's or the
// layer code's error; nothing that was made stays behind after an error.
int RenderText(qvVmState* L, qvLayer* layer, qvTextRender* record, uint32_t kind, bool tagsOff,
               const qvDrawTransform* transform, qvDrawStyle* style, int flags,
               qvRenderedText* result, qvLayerArea* previous = nullptr);
