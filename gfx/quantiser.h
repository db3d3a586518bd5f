// The colour quantiser: reduces a true-colour picture to at most 256 palette colours and an
// index per pixel by two-pass median cut (a 32 x 64 x 32 histogram, boxes split at the middle
// of their longest weighted side, an inverse colour map filled lazily per box of cells and
// optional serpentine Floyd-Steinberg dithering). An optional transparent colour keeps an
// entry of its own after the box colours.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"

// No transparent colour.
inline constexpr uint32_t QV_NO_TRANSPARENT = 0xFFFFFFFF;

// The twelve values of a request, in order.
struct qvQuantizeRequest {
    const void* pixels;  // the first source pixel
    uint32_t format;     // 0-13
    int32_t bytesPerPixel;
    int32_t width, height;
    int32_t rowLength;     // pixels
    uint8_t* indices;      // out: width x height bytes, rows packed
    uint32_t* palette;     // out: up to 256 entries 0xRRGGBB
    int32_t colourCount;   // in: the number wanted (0 or less counts as 1); out: entries written
    uint32_t transparent;  // 0xRRGGBB or QV_NO_TRANSPARENT
    int32_t extraEntry;    // without a transparent colour: reserve a black last entry
    int32_t dither;
};

// 1 on success; 0 when the request is malformed or memory runs out, with nothing written to
// the palette.
int QuantizeBitmap(qvQuantizeRequest* request);

// The same engine over the width x height pixels of a lock (which must hold them): the number
// of palette entries written, or 0 on failure.
int32_t QuantizeColors(const qvBitMapLock& lock, int32_t width, int32_t height, uint8_t* indices,
                       uint32_t* palette, int32_t wanted, int32_t dither);
