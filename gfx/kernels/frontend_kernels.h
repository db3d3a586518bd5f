// Kernels under the blit, plane and fill front-ends: alpha blending, coverage painting,
// masked and alpha-gated copies (one function per depth, templated over the format), and
// the 1-bit and 8-bit plane operations. Like every kernel they never clip (callers pass
// rectangles inside every plane involved); a width or height below 1 does nothing.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"

// Blends a source through an alpha plane read at (alphaX, alphaY); also the block of the
// alpha-gated copy. Field order of the kernel interface.
struct qvAlphaBitmapBlock {
    const void* sourceBase;
    int32_t sourceX, sourceY;
    int32_t alphaX, alphaY;
    int32_t sourceRowLength;
    void* destBase;
    int32_t destX, destY;
    int32_t destRowLength;
    int32_t width, height;
    const uint8_t* alphaBase;
    int32_t alphaBytesPerRow;
    uint32_t format;  // of source and destination alike
};

// Paints a colour (or a texture) through coverage bytes read at (sourceX, sourceY); the
// second plane (the destination's alpha) is addressed at the destination position.
struct qvAlphaChannelBlock {
    int32_t sourceX, sourceY;
    void* destBase;
    int32_t destX, destY;
    int32_t destRowLength;
    int32_t width, height;
    const uint8_t* coverageBase;
    uint8_t* secondBase;  // none: modes 2 and 3 leave the plane out
    int32_t coverageBytesPerRow;
    int32_t secondBytesPerRow;
    uint32_t format;
    uint32_t colour;  // raw 0xRRGGBB for 3-byte pixels, else a pixel value of the format
    int32_t mode;
    uint32_t modeValue1;         // modes 2 and 3: opacity of the second plane, 0-255
    const uint16_t* modeValue2;  // mode 3: the 16-bit coverage buffer
    int32_t modeValue3;          // mode 3: its row length in 16-bit units
    const void* textureBase;     // none: paint the colour
    int32_t textureRowLength;    // pixels; the texture is read at the source position
};

// Coverage modes of the alpha-channel kernels.
enum : int32_t {
    QV_COVERAGE_WRITE = 0,    // the colour unblended wherever the coverage is non-zero
    QV_COVERAGE_BLEND = 1,    // coverage bytes 0-255
    QV_COVERAGE_SECOND = 2,   // as 1, and the second plane is combined
    QV_COVERAGE_WIDE = 3,     // as 2, coverage from the 16-bit buffer
    QV_COVERAGE_SCALE64 = 4,  // coverage bytes 0-64
};

// A line copy between two locked bitmaps carrying the mask or alpha plane along.
struct qvRectMaskedBlock {
    const void* sourceBase;
    int32_t sourceX, sourceY;
    int32_t sourceRowLength;
    void* destBase;
    int32_t destX, destY;
    int32_t destRowLength;
    int32_t width, height;
    const uint8_t* sourceMask;  // read at the source position
    int32_t sourceMaskBytesPerRow;
    uint8_t* destMask;  // written at the destination position; may be none
    int32_t destMaskBytesPerRow;
    const uint8_t* sourceAlpha;
    int32_t sourceAlphaBytesPerRow;
    uint8_t* destAlpha;
    int32_t destAlphaBytesPerRow;
};

// Combines two 8-bit planes.
struct qvPlaneBlock {
    const uint8_t* sourceBase;
    int32_t sourceX, sourceY;
    uint8_t* destBase;
    int32_t destX, destY;
    int32_t width, height;
    int32_t sourceBytesPerRow;
    int32_t destBytesPerRow;
    int32_t mode;
    uint8_t value;
};

// Per alpha byte a: a = 0 leaves the destination, a = 255 copies the source pixel, else each
// channel becomes d + ((s - d) x a >> 8) and a 32-bit pixel gets alpha 0. 16-bit channels
// blend as read (low bits 0) and keep their top bits.
void BltAlphaBitmapPixels32(const qvAlphaBitmapBlock& block);
void BltAlphaBitmapPixels24(const qvAlphaBitmapBlock& block);
void BltAlphaBitmapPixels16(const qvAlphaBitmapBlock& block);

void BltAlphaChannelPixels32(const qvAlphaChannelBlock& block);
void BltAlphaChannelPixels24(const qvAlphaChannelBlock& block);
void BltAlphaChannelPixels16(const qvAlphaChannelBlock& block);

// A shape's layers painted into a fresh image and blitted through its alpha plane, in one
// pass over a row: per pixel the layers (bottom first) go over one another as the image's
// painter lays them (OverAlpha, the colour blended by each layer's share), and the result is
// blended into the row by the alpha they leave, as BltAlphaBitmapPixels blends it.
struct qvShapeLayerRow {
    const uint8_t* coverage[3];  // per layer, width bytes from the row's first pixel
    uint32_t colour[3];          // raw 0xRRGGBB for 3-byte pixels, else a pixel value of the format
    uint32_t opacity[3];         // 0-255
    int32_t count;               // 1-3
    bool antialias;              // else any coverage counts in full
    void* dest;                  // the row's first pixel
    int32_t width;
    uint32_t format;
};
void PaintShapeLayerRow(const qvShapeLayerRow& row);

// Copies the pixels whose alpha byte is non-zero.
void CopyWhereAlphaPixels32(const qvAlphaBitmapBlock& block);
void CopyWhereAlphaPixels24(const qvAlphaBitmapBlock& block);
void CopyWhereAlphaPixels16(const qvAlphaBitmapBlock& block);

// With a source mask: copies where the bit is set and sets the destination bit, clears it
// elsewhere (pixel left); else with a source alpha plane: copies where the byte is non-zero
// together with the byte, writes 0 elsewhere; else copies.
void CopyRectMaskedPixels32(const qvRectMaskedBlock& block);
void CopyRectMaskedPixels24(const qvRectMaskedBlock& block);
void CopyRectMaskedPixels16(const qvRectMaskedBlock& block);

void FillPlane8RectBytes(uint8_t* plane, int32_t bytesPerRow, int32_t x, int32_t y, int32_t width,
                         int32_t height, uint8_t value);
// Where the mask bit at (sx + i, sy + j) is set the plane byte at (dx + i, dy + j) becomes
// the value; clear bits write 0 with clearToZero, else leave the byte.
void ExpandMaskToPlane8Bytes(const uint8_t* mask, int32_t maskBytesPerRow, int32_t sx, int32_t sy,
                             uint8_t* plane, int32_t planeBytesPerRow, int32_t dx, int32_t dy,
                             int32_t width, int32_t height, uint8_t value, bool clearToZero);
// Modes 0-8 of the plane combination; other modes copy.
void CombinePlane8Rect(const qvPlaneBlock& block);
// d = s x value / 255 over width bytes of each row; source and destination may be one plane.
void ScalePlane8Bytes(const uint8_t* source, int32_t sourceBytesPerRow, uint8_t* dest,
                      int32_t destBytesPerRow, int32_t width, int32_t height, uint8_t value);
// Mask bits from alpha bytes in a mask mode (0-5; others leave the bits).
void AlphaToMaskBits(const uint8_t* alpha, int32_t alphaBytesPerRow, int32_t sx, int32_t sy,
                     uint8_t* mask, int32_t maskBytesPerRow, int32_t dx, int32_t dy, int32_t width,
                     int32_t height, int32_t maskMode);
// Sets the bits of the polygon (x, y pairs, even-odd rule, pixel centres) in a
// width x height mask; crossings holds at least count entries.
void FillMaskPolygonBits(uint8_t* mask, int32_t bytesPerRow, int32_t width, int32_t height,
                         const int32_t* vertices, int32_t count, double* crossings);

// The shape of a clip region laid over a source rectangle: region bits are read at
// (regionX + i, regionY + j); outside the region's mask they are clear.
struct qvRegionShape {
    const uint8_t* mask;
    int32_t bytesPerRow;
    int32_t width, height;  // of the mask's memory, in pixels
    int32_t regionX, regionY;
};

// Fills the rectangle (sx, sy, width, height) of a temporary plane: a 1-bit plane gets
// region bit AND source-mask bit (the region bit alone without a source mask); an 8-bit
// plane gets the source alpha byte where the region bit is set and 0 elsewhere.
void ClipRegionMaskBits(const qvRegionShape& region, const uint8_t* source,
                        int32_t sourceBytesPerRow, uint8_t* temp, int32_t tempBytesPerRow,
                        int depth, int32_t sx, int32_t sy, int32_t width, int32_t height);
