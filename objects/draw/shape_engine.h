// The shape engine: one box with rounded corners, circle, ellipse, arc or polygon rendered
// with the draw state into an image of its own (mask or alpha plane), which then becomes a
// shape layer or is blitted into the current output. The style effects that the compositor
// draws for a layer move from the draw state into the layer's style first.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw/shape_output.h"
#include "objects/draw/shape_records.h"
#include "objects/draw_tags.h"
#include "platform/linux/bitmap.h"

namespace qv::draw {

// Moves EDGE and SHADOW from the state into the style's border and shadow, a thick outline
// (FILLNONE, line width above 1) into a one-pixel outline with a border of the shape's
// colour and half the width, and the colour's transparency byte into the style's
// transparency; each marks the style as set.
void MoveStyleToLayerStyle(qvDrawState* state, qvDrawStyle* style, uint32_t* colour);

// Adds the shadow's size to the width unless it falls north or south (0, 4), to the height
// unless it falls east or west (2, 6).
void GrowByShadow(uint32_t direction, int32_t size, int32_t* width, int32_t* height);

// Each level to 0 ... 100.
void ClampCornerLevels(int32_t levels[4]);

// How the matrix scales a texture: |a| and |d| when it does not turn, else sqrt(|ad - bc|)
// both ways, so that a turned shape shows its texture at its size.
void TextureScale(const double matrix[4], double* scaleX, double* scaleY);

// Tiles the draw state's texture brush into the rectangle at the state's offsets, scaled by
// TextureScale first when that is not 1. 0, the brush lookup's error, or ERR_MEM.
int FillWithTexture(qvVmState* L, qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width,
                    int32_t height, const qvDrawState& state, const double matrix[4]);

// Paints the fill source of a FILLGRADIENT or FILLTEXTURE shape into the rectangle of a new
// bitmap of width x height; none is made for other fill styles. 0 or an error code.
int MakeFillSource(qvVmState* L, const qvDrawState& state, const double matrix[4], int32_t width,
                   int32_t height, int32_t x, int32_t y, int32_t fillWidth, int32_t fillHeight,
                   OwnedBitMap* out);

// Line width (at least 1) and shadow size as the matrix scales them, then the draw state's
// clamps.
void ScaleStyle(qvDrawState* state, const double matrix[4]);

// Whether the shape is a hard one-pixel outline under a plain scale. On a display that scales
// its layers such an outline is drawn at its own size and scaled as the layers scale a
// picture (ScaleImageAsPicture, QV_DRAW_ASPICTURE), so that it covers what the scaled picture
// shows; under the drawing's own scale it is stroked at the scaled width, as every outline is.
bool IsScaledHairline(const qvDrawState& state, const ShapeTransform& transform);

// An image drawn at its own size for the shape at (x, y) of width x height (such an outline,
// or a line layer's picture), scaled by the transform's factors (nearest) about the anchor
// point of that box. 0 or ERR_MEM.
int ScaleImageAsPicture(const ShapeTransform& transform, int32_t x, int32_t y, int32_t width,
                        int32_t height, ShapeImage* image);

// The matrix and anchor of a transform; the identity for none.
ShapeTransform TransformOf(const qvDrawTransform* transform);

// How far the prepared shape's image reaches beyond its layout's image at the top left: 2
// with anti-aliasing, and half the line width of a thick outline.
int32_t ShapeImageMargin(const qvShapeDesc& desc);

// Where the image of the prepared shape drawn at (x, y) lies and its size, as
// RenderPreparedShape makes it (no bitmap); ERR_MEM when it is too large.
int PlaceShapeImage(const qvShapeDesc& desc, int32_t x, int32_t y, ShapeImage* image);

// Renders the prepared shape (geometry written, draw state private) into a new image placed
// at (x, y) plus the image offset less ShapeImageMargin: shadow, ring and fill, or the
// outline; an image blitted once starts uncleared. 0, ERR_MEM, or the texture lookup's error.
int RenderPreparedShape(qvVmState* L, const qvShapeDesc& desc, const ShapeTransform& transform,
                        int32_t x, int32_t y, ShapeImage* out, ImageUse use = ImageUse::kKept);

// Whether the prepared shape paints one layer of one flat colour: an outline, or a fill
// without ring and shadow.
bool IsOneColourLayer(const qvShapeDesc& desc);

// Such a shape painted straight into the output (PaintsStraight allowed it), with the pixels
// and refreshes of RenderPreparedShape's image going out. 0, ERR_MEM or ERR_WRONGUSAGE.
int PaintPreparedShapeStraight(qvVmState* L, const qvShapeDesc& desc, int32_t x, int32_t y,
                               const ShapeOutput& output);

// Whether the prepared shape is filled in flat colours (its fill under a ring or shadow) and
// its image would carry an alpha plane: anti-aliased, or not all opaque.
bool IsFlatLayered(const qvShapeDesc& desc);

// Such a shape painted straight into the output (PaintsStraight allowed it, and the output's
// bitmap is in the screen's format), with the pixels and refreshes of RenderPreparedShape's
// image going out. 0, ERR_MEM or ERR_WRONGUSAGE.
int PaintLayeredShapeStraight(qvVmState* L, const qvShapeDesc& desc, int32_t x, int32_t y,
                              const ShapeOutput& output);

}  // namespace qv::draw

// Draws the shape of the descriptor (QV_DRAW_* flags) into the current output; the caller's
// draw state is copied first, so the shape never sees later changes of it. 0 or an error
// code (ERR_WRONGUSAGE for a box side below 1, ERR_MEM, the output fetch's, the texture
// lookup's or the layers' error).
int DrawShapeEx(qvVmState* L, const qvShapeDesc* desc, int flags);
