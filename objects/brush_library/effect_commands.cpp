// The colour effects: each changes a brush's planes in place through one operation of the
// graphics engine, after the common lookup of a change.
#include <algorithm>

#include "engine/convert.h"
#include "gfx/colour_filters.h"
#include "gfx/spatial_filters.h"
#include "objects/brush_library/commands.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"

namespace qv::brushes {
namespace {

// A radius argument that may not be negative.
int RadiusArg(qvVmState* L, int idx, double* radius) {
    *radius = GetOptArgNumber(L, idx, 0);
    return *radius < 0 ? ERR_WRONGUSAGE : 0;
}

// BlurBrush, EmbossBrush, EdgeBrush and SharpenBrush: a convolution of the colour and the
// alpha plane.
int Convolve(qvVmState* L, int32_t type, double sigma) {
    CheckArgCount(L, 1, 2);
    double radius = 0;
    if (const int code = RadiusArg(L, 2, &radius)) return code;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return ConvolveBitmap(type, b->bitmap, b->alpha, b->width, b->height, nullptr, radius, sigma);
}

}  // namespace

int TintBrush(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const uint32_t colour = GetArgUInt32(L, 2);
    const int32_t level = std::clamp(LevelArg(L, 3), 0, 255);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return TintBitmap(b->bitmap, 0, 0, b->width, b->height, colour, level);
}

int MixBrush(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const qvObjectId sourceId = GetObjectIdArg(L, 2);
    const int32_t level = LevelArg(L, 3);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    qvBrush* source = nullptr;
    if (const int code = GetBrush(L, sourceId, &source, 0)) return code;
    const int32_t width = std::min(b->width, source->width);
    const int32_t height = std::min(b->height, source->height);
    return MixBitmaps(b->bitmap, source->bitmap, source->mask, 0, 0, 0, 0, width, height, level,
                      source->alpha, source->width, source->height);
}

int BrushToGray(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return GrayBitmap(b->bitmap, b->width, b->height, 0, nullptr);
}

int InvertBrush(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return InvertBitmap(b->bitmap, b->width, b->height, nullptr);
}

int BrushToMonochrome(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const int32_t dither = Trunc32(GetOptArgNumber(L, 2, 1));
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return MonochromeBitmap(b->bitmap, b->width, b->height, dither);
}

int SepiaToneBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t level = LevelArg(L, 2);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return SepiaBitmap(b->bitmap, b->width, b->height, level);
}

int SolarizeBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t level = LevelArg(L, 2);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return SolarizeBitmap(b->bitmap, b->width, b->height, level);
}

int ModulateBrush(qvVmState* L) {
    CheckArgCount(L, 4, 4);
    const double brightness = GetArgNumber(L, 2), saturation = GetArgNumber(L, 3);
    const double hue = GetArgNumber(L, 4);
    if (brightness < 0 || saturation < 0 || hue < 0) return ERR_WRONGUSAGE;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return ModulateBitmap(b->bitmap, b->width, b->height, brightness, saturation, hue);
}

int ContrastBrush(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const int32_t increase = Trunc32(GetArgNumber(L, 2));
    const int32_t count = Trunc32(GetOptArgNumber(L, 3, 1));
    if (count < 1) return ERR_WRONGUSAGE;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return ContrastBitmap(b->bitmap, b->width, b->height, increase, count, nullptr);
}

int GammaBrush(qvVmState* L) {
    CheckArgCount(L, 4, 4);
    const double red = GetArgNumber(L, 2), green = GetArgNumber(L, 3);
    const double blue = GetArgNumber(L, 4);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return GammaBitmap(b->bitmap, b->width, b->height, red, green, blue);
}

int PixelateBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t size = Trunc32(GetArgNumber(L, 2));
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    if (size < 1 || size > b->width || size > b->height) return ERR_WRONGUSAGE;
    return PixelateBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, size);
}

int SwirlBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const double degrees = GetArgNumber(L, 2);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return SwirlBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, degrees);
}

int OilPaintBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    double radius = 0;
    if (const int code = RadiusArg(L, 2, &radius)) return code;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return OilPaintBitmap(b->bitmap, b->width, b->height, radius);
}

int CharcoalBrush(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    double radius = 0;
    if (const int code = RadiusArg(L, 2, &radius)) return code;
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return CharcoalBitmap(b->bitmap, b->alpha, b->width, b->height, radius, 1);
}

int WaterRippleBrush(qvVmState* L) {
    CheckArgCount(L, 1, 6);
    const double wavelength = GetOptArgNumber(L, 2, 32), amplitude = GetOptArgNumber(L, 3, 1);
    const double phase = GetOptArgNumber(L, 4, 0);
    const double centreX = GetOptArgNumber(L, 5, 0.5), centreY = GetOptArgNumber(L, 6, 0.5);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return WaterRippleBitmap(b->bitmap, b->mask, b->alpha, b->width, b->height, wavelength,
                             amplitude, phase, centreX, centreY);
}

int BlurBrush(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    double radius = 0;
    if (const int code = RadiusArg(L, 2, &radius)) return code;
    const double sigma = GetOptArgNumber(L, 3, radius / 3);
    qvBrush* b = nullptr;
    if (const int code = BrushToChange(L, 1, &b)) return code;
    return ConvolveBitmap(QV_CONVOLVE_BLUR, b->bitmap, b->alpha, b->width, b->height, nullptr,
                          radius, sigma);
}

int EmbossBrush(qvVmState* L) {
    return Convolve(L, QV_CONVOLVE_EMBOSS, 1);
}

int EdgeBrush(qvVmState* L) {
    return Convolve(L, QV_CONVOLVE_EDGE, 0);
}

int SharpenBrush(qvVmState* L) {
    return Convolve(L, QV_CONVOLVE_SHARPEN, 1);
}

}  // namespace qv::brushes
