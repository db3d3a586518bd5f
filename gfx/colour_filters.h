// Colour filters on display bitmaps: invert, grey, tint, mix, solarize, gamma, contrast,
// sepia, monochrome, modulate and normalize. Each front-end locks the bitmap, runs the kernel
// of the lock's depth (gfx/kernels/filters.h) over its rectangle, cut to the bitmap, and
// unlocks. Those that take a lock use the caller's lock when one is given and then neither
// lock nor unlock. All return 0, or ERR_LOCKBMAP when a lock they had to take failed.
#pragma once

#include <cstdint>

#include "gfx/kernels/filters.h"
#include "platform/linux/bitmap.h"

int InvertBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, const qvBitMapLock* lock);
// With threshold non-zero the pixels become black or white.
int GrayBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t threshold,
               const qvBitMapLock* lock);
// Moves the rectangle's channels towards the colour 0xRRGGBB by level / 256 (clamped to
// 0..256: 256 gives the colour).
int TintBitmap(qvDisplayBitMap* bitmap, int32_t x, int32_t y, int32_t width, int32_t height,
               uint32_t colour, int32_t level);
// Mixes the source rectangle into the destination at a ratio clamped to 0..255 (255 gives
// the source): through the source alpha plane scaled by the ratio when one is given, else
// where the source mask has bits (everywhere without a mask). ERR_MEM when the scaled plane
// cannot be made.
int MixBitmaps(qvDisplayBitMap* dest, qvDisplayBitMap* source, const qvPlaneBitMap* sourceMask,
               int32_t dx, int32_t dy, int32_t sx, int32_t sy, int32_t width, int32_t height,
               int32_t ratio, const qvPlaneBitMap* sourceAlpha, int32_t alphaWidth,
               int32_t alphaHeight);
// Channels above the level (clamped to 0..255) become 255 minus the channel.
int SolarizeBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t level);
// Per channel; a gamma of exactly 1 leaves the channel, one below 0 or NaN counts as 0 (the
// channel becomes 0). Returns without locking when every gamma is 1.
int GammaBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, double red, double green,
                double blue);
// count passes of the brightness curve, increasing or decreasing; none when count < 1, and at
// most kMaxContrastPasses.
inline constexpr int32_t kMaxContrastPasses = 4096;
int ContrastBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t increase,
                   int32_t count, const qvBitMapLock* lock);
// Sepia tone (threshold clamped to 0..255), then normalize and one increasing contrast pass.
int SepiaBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t threshold);
// Black and white: by the grey threshold, or with dither non-zero by two dithered colours
// from the quantiser, the darker shown black (ERR_MEM when that runs out of memory).
int MonochromeBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int32_t dither);
// Brightness, saturation and hue factors (1 leaves a component; below 0 or not finite counts
// as 0). Returns at once when all three are 1.
int ModulateBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height, double brightness,
                   double saturation, double hue);
// Stretches the intensity range between the points where 2 % of the pixels are darker and
// 1 % brighter; the Ex form takes the counts (black, and white from the bottom).
int NormalizeBitmap(qvDisplayBitMap* bitmap, int32_t width, int32_t height,
                    const qvBitMapLock* lock);
int NormalizeBitmapEx(qvDisplayBitMap* bitmap, int32_t width, int32_t height, int64_t blackCount,
                      int64_t whiteCount, const qvBitMapLock* lock);
// Complements every byte of the plane's first rows (cut to the plane).
void InvertPlaneBytes(qvPlaneBitMap* plane, int32_t rows, int32_t bytesPerRow);
