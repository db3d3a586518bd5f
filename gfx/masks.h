// Masks from colour keys, the platform's conversion of pixel arrays with a colour key,
// clearing 4-byte pixels and the integer square root. The kernels (colour keys, colour
// replacement, thresholds, flood fill) are in gfx/kernels/filters.h.
#pragma once

#include <cstdint>

#include "gfx/kernels/filters.h"
#include "platform/linux/bitmap.h"

// A new mask of width x height whose bits are clear where the pixel equals the colour
// 0xRRGGBB (4-byte pixels regardless of alpha) and set elsewhere; none when the bitmap cannot
// be locked or memory runs out. Columns and rows beyond the bitmap stay clear.
qvPlaneBitMap* ColorKeyToMask(qvDisplayBitMap* bitmap, int32_t width, int32_t height,
                              uint32_t colour);

// Zeroes whole 4-byte pixels: with rowTail those from the width to the row length of every
// row, else the whole buffer. Other depths and failed locks are left alone.
void ClearAlphaArea(qvDisplayBitMap* bitmap, int rowTail);

// The largest r with r x r <= n; -1 when n < 0.
int32_t IntSqrt(int32_t n);

// A display bitmap (screen-friend when asked) from width x height ARGB pixels, rows of
// rowLength, and, unless transparent is 0xFFFFFFFF, a mask in which pixels whose RGB equals
// transparent are invisible (else *mask is none). 0, or ERR_MEM with nothing made.
int PixelArrayToBitMap(const qvARGB* pixels, uint32_t transparent, int32_t width, int32_t height,
                       int32_t rowLength, int screenFriend, qvDisplayBitMap** bitmap,
                       qvPlaneBitMap** mask);
