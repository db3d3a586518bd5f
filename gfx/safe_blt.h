// SafeBlt, the one clipped blit through which brushes, pictures, layers, text, sprites and
// transitions reach a bitmap or the display. It clips against the source, the destination
// and a clip region, keeps the sprites of the output picture on top, carries the source's
// mask or alpha plane along, keeps the output target's own mask and alpha plane current and
// refreshes the window when it drew into the display.
//
// Not reentrant beyond its own recursion: it shares one temporary plane (GraphicsState).
#pragma once

#include <cstdint>

#include "gfx/clip_region.h"
#include "platform/linux/bitmap.h"

struct qvVmState;

enum qvBlitFlags : uint32_t {
    QV_BLIT_NOREGION = 1,      // clip against the destination size only
    QV_BLIT_NOSPRITES = 2,     // the caller composes under the sprites itself
    QV_BLIT_BACKBUFFER = 4,    // draw through the first back buffer
    QV_BLIT_RECOMPOSE = 8,     // onto the display with layers on: recompose from the layers
    QV_BLIT_OFFSCREEN = 16,    // allowed without a display; the target's planes stay alone
    QV_BLIT_NOREFRESH = 32,    // after drawing into the first back buffer, leave the window
    QV_BLIT_FIRSTBUFFER = 64,  // onto the display: draw into the first back buffer
};

// Draws width x height pixels from (sx, sy) of the source to (dx, dy) of the destination,
// or of the current display's output when dest is none. sourceWidth/Height and
// destWidth/Height are the usable sizes; mask wins over alpha when both are given.
void SafeBlt(qvVmState* L, qvDisplayBitMap* source, int32_t sx, int32_t sy, qvDisplayBitMap* dest,
             int32_t dx, int32_t dy, int32_t width, int32_t height, int32_t sourceWidth,
             int32_t sourceHeight, int32_t destWidth, int32_t destHeight, uint32_t flags,
             const qvPlaneBitMap* mask, const qvPlaneBitMap* alpha, const qvClipRegion* region);

// SafeBlt's clipping for callers that build their own blits: a negative source position
// draws nothing; the destination rectangle is cut to the destination size and, with
// useRegion and a region, to the region's rectangle. Updates the six values in place; a
// width or height of 0 (or less) means nothing to draw.
void ClipBlitRect(const qvClipRegion* region, int32_t* sx, int32_t* sy, int32_t* dx, int32_t* dy,
                  int32_t* width, int32_t* height, int32_t sourceWidth, int32_t sourceHeight,
                  int32_t destWidth, int32_t destHeight, int useRegion);
