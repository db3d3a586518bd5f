// Lines: DrawLineEx and its three roads. Thin opaque lines on a display without layers go
// straight into the window and the display's bitmap (clipped), thin lines into a redirected
// brush, mask or alpha channel are painted into its planes, and every other line is
// rendered into an image of its own that becomes a line layer or is blitted.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw/outline.h"
#include "objects/draw/shape_output.h"
#include "platform/linux/bitmap.h"

namespace qv::draw {

inline constexpr int32_t kMaxLineThickness = 64;

// 1 ... 64; 0 or less gives 1.
int32_t ClampLineThickness(int32_t thickness);

// A line's box: from the smaller to the larger coordinate of its ends, inclusive.
struct LineBox {
    int64_t x, y, width, height;
};
LineBox LineBoxOf(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// Turns the ends through the matrix about the anchor point of the line's box (its width and
// height times the anchor fractions, truncated), rounding and saturating.
void TurnLineEnds(const ShapeTransform& transform, int32_t* x1, int32_t* y1, int32_t* x2,
                  int32_t* y2);

// The image road: the line rendered into an image of its own, with a 1-bit mask, or an 8-bit
// alpha plane when it is anti-aliased or transparent. The line is moved into its box, which
// grows by 5 with anti-aliasing (ends moved by 2) and by the thickness t above 1 (ends moved
// by t >> 1); (x, y) is where the image goes. The colour is 0xAARRGGBB, its top byte a
// transparency. 0, or ERR_MEM when the image would exceed the largest bitmap or cannot be
// allocated (nothing is kept then).
int MakeLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                  uint32_t colour, bool antialias, ShapeImage* out, ImageUse use = ImageUse::kKept);

}  // namespace qv::draw

// One line as a command or a layer redraw gives it.
struct qvLineDesc {
    int32_t x1, y1, x2, y2;  // position constants allowed
    uint32_t colour;         // 0xAARRGGBB, the top byte a transparency
    int32_t thickness;       // clamped to 1 ... 64
    const qvDrawState* drawState;
    const qvDrawTransform* transform;  // none: the identity
    qvDrawStyle* style;                // none: no effects
    qvLayer* layer;                    // QV_DRAW_INPLACE: the layer updated
    int32_t insertPosition;            // QV_DRAW_REDRAW: the layer replaced
    qvLayerArea* previous;             // QV_DRAW_INPLACE: the area to repaint; none: shown
};

// Draws the line into the current output (QV_DRAW_* flags). Each end is resolved as a point
// (position constants); the transform turns the ends about the anchor point of the line's
// box and scales the thickness (unless a layer is updated in place with layers on). Then the
// direct road, the brush road or the image road, whose image goes out as shapes do (a LINE
// layer keeping the unturned ends). 0, ERR_MEM, or the output fetch's or the layers' error.
int DrawLineEx(qvVmState* L, const qvLineDesc& line, int flags);

// Clips a segment along one axis to [low, high]: 0 when it lies wholly outside, else 1 with
// each end outside moved onto the bound, its b interpolated along the segment and truncated.
// Called for x (a = x, b = y), then for y (a = y, b = x). Coordinates up to 2^40 in size.
int ClipLineAxis(int64_t* a1, int64_t* b1, int64_t* a2, int64_t* b2, int64_t low, int64_t high);
