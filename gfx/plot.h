// The pixel plotters that the shape rasteriser drives: single pixels through an optional
// clip rectangle and clip mask, coverage maps, thick lines and anti-aliased lines. They
// write colour pixels only; callers keep the destination's mask or alpha plane themselves.
#pragma once

#include <cstdint>

struct qvPlotContext {
    uint8_t* base;  // the locked destination
    int32_t rowLength;
    int32_t bytesPerPixel;
    // When set, the colour comes from the texture at the plotted position; it has the
    // destination's format and covers its width x height.
    const uint8_t* texture;
    int32_t textureRowLength;
    bool noBlend;  // write the colour whatever the alpha
    uint32_t format;
    uint8_t red, green, blue;
    int32_t alpha;        // of the current plot, 0-255
    int32_t globalAlpha;  // scales coverages, 0-255
    // The optional clip: a rectangle and, inside it, a 1-bit mask read at (x - clipX,
    // y - clipY).
    bool clip;
    int32_t clipX, clipY, clipWidth, clipHeight;
    const uint8_t* clipMask;
    int32_t clipMaskBytesPerRow;
    // The destination's size: no plotter writes outside it.
    int32_t width, height;
    int32_t thickness;  // of PlotThickLine, at least 1
};

// Plots (x, y) with the context's alpha: written as it is at alpha 255 or with the no-blend
// flag, else each channel d + ((c - d) x alpha >> 8).
void PlotClippedPixel(const qvPlotContext& context, int32_t x, int32_t y);

// Plots each non-zero coverage byte c of a width x height map at (x + column, y + row) with
// alpha c (c x global alpha / 255 when the global alpha is not 255), or with the context's
// alpha under the all-or-nothing flag.
void PlotCoverageMap(const uint8_t* coverage, int32_t x, int32_t y, const qvPlotContext& context,
                     int32_t width, int32_t height, int32_t bytesPerRow, bool allOrNothing);

// A line from (x1, y1) to (x2, y2) inclusive; at each step along the major axis a run of
// thickness pixels across it, centred on the line (an even run reaches further right or
// down).
void PlotThickLine(const qvPlotContext& context, int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// An anti-aliased one-pixel line in 16.16 fixed point: at each step along the major axis
// the two pixels that straddle the line get coverages 255 - f and f, scaled by the global
// alpha. Equal end points draw nothing.
void PlotAALine(const qvPlotContext& context, int32_t x1, int32_t y1, int32_t x2, int32_t y2);
