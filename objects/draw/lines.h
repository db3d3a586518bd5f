// Lines: the clipping of the direct road, the thickness rules, the turn of a line's ends by
// its transform, and the image road, which renders a line into an image of its own. The
// brush road paints straight into the output's planes with RenderShapeImage's line mode.
#pragma once

#include <cstdint>

#include "objects/draw/outline.h"
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

// A line rendered into an image of its own, with a 1-bit mask, or an 8-bit alpha plane when
// it is anti-aliased or transparent; (x, y) is where the image goes.
struct LineImage {
    OwnedBitMap bitmap;
    OwnedPlane mask, alpha;
    int32_t x, y, width, height;
};

// The image road: the line moved into its box, which grows by 5 with anti-aliasing (ends
// moved by 2) and by the thickness t above 1 (ends moved by t >> 1). The colour is
// 0xAARRGGBB, its top byte a transparency. 0, or ERR_MEM when the image would exceed the
// largest bitmap or cannot be allocated (nothing is kept then).
int MakeLineImage(int32_t x1, int32_t y1, int32_t x2, int32_t y2, int32_t thickness,
                  uint32_t colour, bool antialias, LineImage* out);

}  // namespace qv::draw

// Clips a segment along one axis to [low, high]: 0 when it lies wholly outside, else 1 with
// each end outside moved onto the bound, its b interpolated along the segment and truncated.
// Called for x (a = x, b = y), then for y (a = y, b = x). Coordinates up to 2^40 in size.
int ClipLineAxis(int64_t* a1, int64_t* b1, int64_t* a2, int64_t* b2, int64_t low, int64_t high);
