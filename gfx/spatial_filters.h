// Spatial filters on display bitmaps, in which a pixel depends on its neighbours: pixelate,
// oil paint, water ripple, swirl, the convolutions (blur, emboss, edge, sharpen), charcoal,
// and the soft planes behind shadows and borders. Each front-end cuts its size to the bitmap
// and the planes it is given, locks, runs the kernel of the lock's depth
// (gfx/kernels/spatial.h) and unlocks.
#pragma once

#include <cstdint>

#include "gfx/kernels/spatial.h"
#include "platform/linux/bitmap.h"

// Blocks of size x size take their top-left pixel; a block whose sample is hidden (mask bit
// clear, else alpha byte 0) keeps its pixels and becomes hidden. A size below 2 does nothing.
// 0, or the error of the whole copy it samples from (ERR_MEM), or ERR_LOCKBMAP.
int PixelateBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
                   int32_t width, int32_t height, int32_t size);
// The window's half-width is at most the larger side. 0 or ERR_LOCKBMAP; nothing happens when
// the padded copy cannot be had.
int OilPaintBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, double radius);
// Ripples around the centre at the fractions (clamped to 0..1) of the size. Without a radius,
// with a wavelength not above 0, or with an amplitude, phase or wavelength that is not
// finite, nothing moves. 0, ERR_MEM or ERR_LOCKBMAP.
int WaterRippleBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha,
                      int32_t width, int32_t height, double wavelength, double amplitude,
                      double phase, double centreX, double centreY);
// Degrees are clamped to -359..359 (not finite: 0). 0, ERR_MEM or ERR_LOCKBMAP.
int SwirlBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width,
                int32_t height, double degrees);
// A convolution type (QV_CONVOLVE_*) over the picture and its alpha plane; without a bitmap
// only the plane. A caller's lock is used as it is. 0 or ERR_LOCKBMAP.
int ConvolveBitmap(int32_t type, qvDisplayBitMap* bitmap, qvPlaneBitMap* alpha, int32_t width,
                   int32_t height, const qvBitMapLock* lock, double radius, double sigma);
// Grey, edge, blur, normalize, invert and grey again, under one lock. 0 or ERR_LOCKBMAP.
int CharcoalBitmap(qvDisplayBitMap* bitmap, qvPlaneBitMap* alpha, int32_t width, int32_t height,
                   double radius, double sigma);
// A new 8-bit plane r = max(0, trunc(radius)) pixels larger on every side holding, at (r, r),
// the width x height rectangle at (x, y) of the alpha plane (its set bytes as the value), else
// of the mask (as the value), else a filled rectangle, blurred by radius and sigma. With
// hardEdge every set byte becomes 255, and with secondBlur as well, when an alpha plane was
// the source, it is blurred again by radius / 2 and radius / 6. None when it cannot be made.
qvPlaneBitMap* MakeShadowPlane(const qvPlaneBitMap* alpha, const qvPlaneBitMap* mask, int32_t x,
                               int32_t y, int32_t width, int32_t height, uint8_t value,
                               int hardEdge, int secondBlur, double radius, double sigma);
