// Software pixel kernels, one per depth (32 / 24 / 16 bits). Kernels never clip: callers
// pass rectangles inside every plane involved. Rows run top to bottom; a width or height
// below 1 does nothing. Colour planes are addressed by row length in pixels, 1-bit and 8-bit
// planes by bytes per row; 1-bit planes hold the most significant bit first.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"

// Parameter blocks keep the field order of the kernel interface.
struct qvTemplateBlock {
    const uint8_t* templatePlane;
    void* destBase;
    int32_t templateX, templateY;
    int32_t destX, destY;
    int32_t width, height;
    int32_t templateBytesPerRow;
    int32_t destRowLength;
    uint32_t colour;  // pixel value in the destination's format
};

// Conversions of BltMaskPixels32.
enum : uint32_t {
    QV_MASK_PLAIN = 0,
    QV_MASK_TO_BGRA = 1,  // into format 11 byte order, alpha dropped
    QV_MASK_SHIFT8 = 2,   // shifted left 8, for format 12
};

struct qvMaskBlock {
    const void* sourceBase;
    void* destBase;
    const uint8_t* maskPlane;
    int32_t sourceX, sourceY;
    int32_t destX, destY;
    int32_t width, height;
    int32_t sourceRowLength;
    int32_t maskBytesPerRow;
    int32_t destRowLength;
    uint32_t conversion;
};

struct qvBitMapBlock {
    const void* sourceBase;
    void* destBase;
    int32_t sourceX, sourceY;
    int32_t destX, destY;
    int32_t width, height;
    int32_t sourceRowLength;
    int32_t destRowLength;
    uint32_t convert;  // 32-bit only: reorder the colour bytes from source to dest format
    uint32_t sourceFormat;
    uint32_t destFormat;
};

struct qvConversionBlock {
    const qvARGB* sourceBase;
    void* destBase;
    int32_t sourceX, sourceY;
    int32_t destX, destY;
    int32_t width, height;
    int32_t sourceRowLength;
    int32_t destRowLength;
    uint32_t destFormat;
};

// A YUV 4:2:0 frame (chroma shared by 2 x 2 pixels) and its destination.
struct qvYUVFrameBlock {
    const uint8_t* planeY;
    const uint8_t* planeU;
    const uint8_t* planeV;
    int32_t strideY, strideU, strideV;  // bytes
    void* destBase;
    int32_t width, height;  // of the frame
    int32_t destRowLength;
    uint32_t destFormat;
    int32_t bytesPerPixel;          // must match destFormat, else nothing is drawn
    int32_t destWidth, destHeight;  // ConvertYUVFrame only: the scaled size
};

void RectFillPixels32(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width,
                      int32_t height, uint32_t value);
void RectFillPixels24(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width,
                      int32_t height, uint32_t value);
void RectFillPixels16(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width,
                      int32_t height, uint32_t value);

void BltTemplatePixels32(const qvTemplateBlock& block);
void BltTemplatePixels24(const qvTemplateBlock& block);
void BltTemplatePixels16(const qvTemplateBlock& block);

void BltMaskPixels32(const qvMaskBlock& block);
void BltMaskPixels24(const qvMaskBlock& block);
void BltMaskPixels16(const qvMaskBlock& block);

// Rows are moved with memmove, so a rectangle may overlap itself horizontally.
void BltBitMapPixels32(const qvBitMapBlock& block);
void BltBitMapPixels24(const qvBitMapBlock& block);
void BltBitMapPixels16(const qvBitMapBlock& block);

// ARGB into the destination format of the block's depth; other formats draw nothing.
void ConvertARGBPixels32(const qvConversionBlock& block);
void ConvertARGBPixels24(const qvConversionBlock& block);
void ConvertARGBPixels16(const qvConversionBlock& block);

// HAM pictures (mode 6 or 8; other modes map every byte through the palette) into
// 0x00RRGGBB pixels, width per destination row. Palette indices at or beyond paletteCount
// read as black.
void HAMToARGB(const uint8_t* source, qvARGB* dest, const qvARGB* palette, int32_t paletteCount,
               int32_t width, int32_t height, int32_t sourceRowLength, int32_t mode);

// Scales the frame to destWidth x destHeight (16.16 steps held in 64 bits).
void ConvertYUVFrame(const qvYUVFrameBlock& block);
void ConvertYUVFrameUnscaled(const qvYUVFrameBlock& block);

// ARGB rows of width pixels (packed) to their alpha bytes.
void ExtractAlphaPlane(const qvARGB* argb, uint8_t* plane, int32_t width, int32_t height,
                       int32_t planeBytesPerRow);

// Copies a 4:2:0 frame into one buffer: the Y plane (destStrideY per row), then U, then V
// ((height + 1) / 2 rows of destStrideUV bytes, (width + 1) / 2 used).
void CopyYUVPlanes(const uint8_t* planeY, const uint8_t* planeU, const uint8_t* planeV,
                   int32_t strideY, int32_t strideU, int32_t strideV, uint8_t* dest,
                   int32_t destStrideY, int32_t destStrideUV, int32_t width, int32_t height);

// Copies rows of 16-bit pixels; strides in bytes.
void CopyRows16(const void* source, int32_t sourceStride, void* dest, int32_t destStride,
                int32_t width, int32_t height);

namespace qv {

// Decodes count pixels of a format into 0x00RRGGBB (the general path under conversions
// that have no kernel of their own). Unknown formats decode to black.
void DecodePixelsToARGB(const void* source, uint32_t format, qvARGB* dest, int32_t count);

// The integer YUV to RGB formula of both frame converters, as 0x00RRGGBB.
uint32_t YUVToRGB(int32_t y, int32_t u, int32_t v);

}  // namespace qv
