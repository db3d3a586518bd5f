// Gradients: linear at any angle, radial around a centre or conical around a centre,
// between two colours or through up to 64 colour stops, written straight into the pixels of
// a locked bitmap in its format (32-bit formats get alpha 0).
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"

namespace qv::gfx {

// Gradient styles.
inline constexpr int32_t LINEAR = 2;
inline constexpr int32_t RADIAL = 3;
inline constexpr int32_t CONICAL = 4;

inline constexpr int32_t kMaxGradientStops = 64;

}  // namespace qv::gfx

struct qvGradientStop {
    uint32_t colour;  // 0xRRGGBB
    double position;  // 0..1
};

// Filled from the script's gradient options.
struct qvGradient {
    int32_t style = qv::gfx::LINEAR;
    uint32_t startColour = 0;  // 0xRRGGBB
    uint32_t endColour = 0;
    int32_t stopCount = 0;  // 0: a two-colour gradient; at most kMaxGradientStops are used
    int32_t angle = 0;      // degrees
    qvGradientStop stops[qv::gfx::kMaxGradientStops] = {};  // in ascending position
    double centreX = 0.5;  // radial and conical: fractions of the rectangle's size
    double centreY = 0.5;
    double balance = 0.5;  // conical: where the start colour lies between the ends
    double border = 0;     // radial: the share of the radius given up (1 keeps 0.01)
};

struct qvGradientRequest {
    uint8_t* base;
    int32_t bytesPerPixel;
    uint32_t format;
    int32_t x, y, width, height;
    int32_t rowLength;  // pixels
    const qvGradient* gradient;
};

// Fills the rectangle of the bitmap; a missing destination writes a message to the debug
// output. A bitmap that cannot be locked, or a rectangle that is not inside it, is left
// unchanged.
void DrawGradient(qvDisplayBitMap* dest, int32_t x, int32_t y, int32_t width, int32_t height,
                  const qvGradient* gradient);

// Fills width x height pixels from base + (y x row length + x) x bytes per pixel. Draws
// nothing for a size below 1 or a depth that does not match the format.
void RenderGradient(const qvGradientRequest& request);
