// Kernels of the colour filters, the colour keys, colour replacement, thresholds and flood
// fill, one function per depth (32 / 24 / 16 bits). A depth's kernel does nothing for a
// format of another depth. Like every kernel they never clip.
//
// Colour kernels decode pixels to 0x00RRGGBB (16-bit channels with their low bits 0) and
// write them back with alpha 0; only invert touches the whole pixel value.
#pragma once

#include <cmath>
#include <cstdint>

#include "gfx/pixel_format.h"

// A rectangle of a locked colour bitmap; base is its first pixel.
struct qvFilterBlock {
    void* base;
    int32_t width, height;
    int32_t rowLength;  // pixels
    uint32_t format;
};

// Two rectangles of one format walked together, gated by an optional source mask.
struct qvMixBlock {
    const void* sourceBase;  // first pixel of each rectangle
    int32_t sourceRowLength;
    void* destBase;
    int32_t destRowLength;
    const uint8_t* maskRow;  // first row of the source mask, or none
    int32_t maskX;           // the bit of the first pixel in that row
    int32_t maskBytesPerRow;
    int32_t width, height;
    int32_t ratio;  // 0-255
    uint32_t format;
};

// NormalizePixels in the field order of the kernel interface.
struct qvNormalizeBlock {
    void* base;
    int32_t width, height;
    int32_t rowLength;
    int64_t blackCount, whiteCount;
    uint32_t format;
    int32_t bytesPerPixel;
};

// Flood fill: the pixels, the limits (x in left..left + width - 1, y in top..top + height -
// 1) and two pixel values of the bitmap's format.
struct qvFloodFillContext {
    void* base;
    int32_t width, height;
    int32_t rowLength;
    uint32_t border;
    uint32_t fill;
    int32_t left, top;
};

// ThresholdToMask in the field order of the kernel interface.
struct qvThresholdBlock {
    const uint8_t* source;  // mask or 8-bit plane, or none
    uint8_t* dest;
    int32_t width, height;
    int32_t sourceBytesPerRow;
    int32_t destBytesPerRow;
    const uint8_t* map;  // width x height bytes, packed
    int32_t outputKind;  // 0: 1-bit mask, else 8-bit plane
    int32_t invert;
};

// Colour-space conversions (inputs 0-255). The channels of the way back are
// clamp(255 x value), truncated.
void RGBToHSB(uint8_t r, uint8_t g, uint8_t b, double* hue, double* saturation, double* brightness);
void HSBToRGB(double hue, double saturation, double brightness, uint8_t* r, uint8_t* g, uint8_t* b);
void RGBToHSL(uint8_t r, uint8_t g, uint8_t b, double* hue, double* saturation, double* lightness);
void HSLToRGB(double hue, double saturation, double lightness, uint8_t* r, uint8_t* g, uint8_t* b);

void InvertPixels32(const qvFilterBlock& block);
void InvertPixels24(const qvFilterBlock& block);
void InvertPixels16(const qvFilterBlock& block);

// With threshold non-zero: white where the intensity is 129 or more, else black.
void GrayPixels32(const qvFilterBlock& block, int32_t threshold);
void GrayPixels24(const qvFilterBlock& block, int32_t threshold);
void GrayPixels16(const qvFilterBlock& block, int32_t threshold);

// Level 0-256. The colour is 0xRRGGBB, for the 16-bit kernel an R5G6B5 value.
void TintPixels32(const qvFilterBlock& block, uint32_t colour, int32_t level);
void TintPixels24(const qvFilterBlock& block, uint32_t colour, int32_t level);
void TintPixels16(const qvFilterBlock& block, uint32_t colour, int32_t level);

void MixPixels32(const qvMixBlock& block);
void MixPixels24(const qvMixBlock& block);
void MixPixels16(const qvMixBlock& block);

// Level 0-255.
void SolarizePixels32(const qvFilterBlock& block, int32_t level);
void SolarizePixels24(const qvFilterBlock& block, int32_t level);
void SolarizePixels16(const qvFilterBlock& block, int32_t level);

// One table per channel (red, green, blue); none leaves the channel.
struct qvGammaTables {
    const uint8_t* channel[3];
};
void GammaPixels32(const qvFilterBlock& block, const qvGammaTables& tables);
void GammaPixels24(const qvFilterBlock& block, const qvGammaTables& tables);
void GammaPixels16(const qvFilterBlock& block, const qvGammaTables& tables);

// One pass; sign +1 increases, -1 decreases.
void ContrastPixels32(const qvFilterBlock& block, int32_t sign);
void ContrastPixels24(const qvFilterBlock& block, int32_t sign);
void ContrastPixels16(const qvFilterBlock& block, int32_t sign);

// Threshold 0-255.
void SepiaPixels32(const qvFilterBlock& block, int32_t threshold);
void SepiaPixels24(const qvFilterBlock& block, int32_t threshold);
void SepiaPixels16(const qvFilterBlock& block, int32_t threshold);

// One palette index per pixel (width per row); blackIndex shows black, any other index white.
void MonochromePixels32(const qvFilterBlock& block, const uint8_t* indices, int32_t blackIndex);
void MonochromePixels24(const qvFilterBlock& block, const uint8_t* indices, int32_t blackIndex);
void MonochromePixels16(const qvFilterBlock& block, const uint8_t* indices, int32_t blackIndex);

// Percentages of brightness, saturation and hue (100 leaves a component).
struct qvModulation {
    int32_t brightness, saturation, hue;
};
void ModulatePixels32(const qvFilterBlock& block, const qvModulation& modulation);
void ModulatePixels24(const qvFilterBlock& block, const qvModulation& modulation);
void ModulatePixels16(const qvFilterBlock& block, const qvModulation& modulation);

// Every depth; a low point at or above the high point changes nothing.
void NormalizePixels(const qvNormalizeBlock& block);

// Mask bits: cleared where the pixel equals the key, set elsewhere. 32-bit pixels compare
// under the compare mask, 24-bit ones as (b0 << 16) | (b1 << 8) | b2, 16-bit ones against the
// key's low 16 bits.
void ColorKeyToMaskPixels32(const void* base, uint8_t* mask, int32_t width, int32_t height,
                            int32_t maskBytesPerRow, uint32_t key, int32_t rowLength,
                            uint32_t compareMask);
void ColorKeyToMaskPixels24(const void* base, uint8_t* mask, int32_t width, int32_t height,
                            int32_t maskBytesPerRow, uint32_t key, int32_t rowLength);
void ColorKeyToMaskPixels16(const void* base, uint8_t* mask, int32_t width, int32_t height,
                            int32_t maskBytesPerRow, uint32_t key, int32_t rowLength);

// Pairs {from, to} ended by a from of 0xFFFFFFFF; every pixel walks all pairs in order, so
// that chained pairs apply in one pass.
void ReplaceColorsPixels32(int32_t width, int32_t height, const uint32_t* table, void* base,
                           int32_t rowLength, uint32_t compareMask);
void ReplaceColorsPixels24(int32_t width, int32_t height, const uint32_t* table, void* base,
                           int32_t rowLength);
void ReplaceColorsPixels16(int32_t width, int32_t height, const uint32_t* table, void* base,
                           int32_t rowLength);

// Per map byte m against the threshold t. Mask output: m >= t (with invert, m < t) clears the
// bit, else the source mask bit is copied (set without a source). 8-bit output needs a source
// plane: m < t (with invert, m >= t) copies the source byte, else writes 0.
void ThresholdToMask(const qvThresholdBlock& block, int32_t threshold);

// Boundary fill by spans from (x, y) with an explicit work list; 0, or ERR_MEM when the list
// cannot grow (the fill stops there). Seeds outside the limits or on the border do nothing.
int FloodFillPixels32(const qvFloodFillContext& context, int32_t x, int32_t y,
                      uint32_t compareMask);
int FloodFillPixels24(const qvFloodFillContext& context, int32_t x, int32_t y);
int FloodFillPixels16(const qvFloodFillContext& context, int32_t x, int32_t y);

namespace qv {

// The bits of a 4-byte pixel that comparisons see: all but the alpha byte.
constexpr uint32_t CompareMask32(uint32_t format) {
    return format == QV_FMT_B8G8R8A8 || format == QV_FMT_R8G8B8A8 ? 0xFFFFFF00u : 0x00FFFFFFu;
}

// The intensity 0.299 R + 0.587 G + 0.114 B as the filters compute it: 0.587 G first, then
// R and B added by fused multiply-adds. An unfused sum truncates differently for 2490
// colours, so the hot loops are cloned for FMA hardware (elsewhere std::fma is a library
// call, slow but exact).
// Signed channels convert to doubles in vector registers.
inline double Intensity(int32_t r, int32_t g, int32_t b) {
    return std::fma(0.114, double(b), std::fma(0.299, double(r), 0.587 * double(g)));
}

// The intensity of 0x??RRGGBB, truncated.
inline int32_t IntensityOf(uint32_t rgb) {
    return int32_t(
        Intensity(int32_t(rgb >> 16 & 255), int32_t(rgb >> 8 & 255), int32_t(rgb & 255)));
}

}  // namespace qv
