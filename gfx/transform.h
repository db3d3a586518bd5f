// Transformation of picture triples through a 2x2 matrix, copies of a rectangle into new
// bitmaps, and mirroring in place.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"

// A matrix m0..m3 maps the source point (x, y) to (m0 x + m2 y, m1 x + m3 y).

// The kernel's parameters; absent planes are none. Field order of the kernel interface.
struct qvTransformBlock {
    const uint8_t* source;       // the source rectangle's top-left pixel
    uint8_t* dest;               // the destination's top-left pixel
    const uint8_t* sourceMask;   // the rectangle's first row; sourceX is its bit offset
    uint8_t* destMask;           // the destination's first row, from bit 0
    const uint8_t* sourceAlpha;  // the rectangle's top-left byte
    uint8_t* destAlpha;
    int32_t sourceX, sourceY;
    int32_t sourceWidth, sourceHeight;
    int32_t destWidth;
    int32_t destRowLength;  // pixels
    int32_t sourceMaskBytesPerRow, destMaskBytesPerRow;
    int32_t sourceAlphaBytesPerRow, destAlphaBytesPerRow;
    const double* matrix;  // m0..m3, then minus the x and y offsets of TransformBounds
    int32_t smooth;
    int32_t sourceRowLength;  // pixels
    uint32_t format;          // of source and destination alike
    int32_t bytesPerPixel;
    int32_t destHeight;
};

// The size of a width x height rectangle mapped by the matrix, each side the integer part
// of ceil(extent - 0.5), and the offsets of its top-left corner (either may be null).
void TransformBounds(const double matrix[4], int32_t width, int32_t height, int32_t* newWidth,
                     int32_t* newHeight, double* offsetX, double* offsetY);

// Renders the width x height rectangle at (x, y) of a picture triple through the matrix into
// new bitmaps of the transformed size (at least 1 x 1): colour when there is a source bitmap,
// an alpha plane when the source has one, else a mask that marks the covered pixels. A
// singular matrix gives that size fully transparent. The rectangle must lie inside the
// source bitmap and its planes. Returns 0, ERR_MEM (also for sizes beyond any bitmap),
// ERR_LOCKBMAP, ERR_BADDIMENSIONS (a side below 1) or ERR_COORDSRANGE.
int TransformBitmap(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                    int32_t x, int32_t y, int32_t width, int32_t height, const double matrix[4],
                    int smooth, qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask,
                    qvPlaneBitMap** outAlpha, int32_t* outWidth, int32_t* outHeight);

// The software kernel: inverse mapping at pixel centres over the spans of each row that
// fall inside the source; pixels outside the spans are not touched.
void TransformPixels(const qvTransformBlock& block);

// Copies the width x height rectangle at (x, y) of a triple into new bitmaps (a screen
// friend first when displayable). The rectangle must lie inside the source bitmap and its
// planes. Returns 0, ERR_MEM or ERR_COORDSRANGE.
int CopyBitmapArea(qvDisplayBitMap* source, const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha,
                   int32_t x, int32_t y, int32_t width, int32_t height, int displayable,
                   qvDisplayBitMap** outBitmap, qvPlaneBitMap** outMask, qvPlaneBitMap** outAlpha);

// Flip directions.
enum : int32_t {
    QV_FLIP_VERTICAL = 0,
    QV_FLIP_HORIZONTAL = 1,  // any value but 0
};

struct qvFlipBlock {
    uint8_t* base;
    int32_t width, height;
    int32_t rowLength;  // pixels
    uint8_t* mask;      // or none
    int32_t maskBytesPerRow;
    uint8_t* alpha;  // or none
    int32_t alphaBytesPerRow;
    int32_t direction;
    int32_t bytesPerPixel;
    uint8_t* scratch;  // a mask row; a horizontal flip leaves the mask alone without it
};

// Mirrors the width x height top-left part of a triple in place. Returns 0, ERR_MEM,
// ERR_LOCKBMAP or ERR_COORDSRANGE (a size beyond the bitmap or its planes).
int FlipBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width,
               int32_t height, int32_t direction);

void FlipPixels(const qvFlipBlock& block);
