// Boxes: plain axis-aligned boxes are drawn as rectangles (straight into the display's
// window and bitmap when nothing stands in the way), every other box goes through the shape
// engine.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/draw/shape_records.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/window.h"

// Which sides of a frame are left out.
enum : int {
    QV_FRAME_SKIPLEFT = 1,
    QV_FRAME_SKIPRIGHT = 2,
    QV_FRAME_SKIPTOP = 4,
    QV_FRAME_SKIPBOTTOM = 8
};

// The one-pixel sides of the box into the bitmap and, when given, the window, but those the
// skip flags name.
void DrawBoxFrame(qvDisplayBitMap* bitmap, qvPlatformDisplay* window, int32_t x, int32_t y,
                  int32_t width, int32_t height, uint32_t rgb, int skip);

// Draws the box of the descriptor (type BOX: x, y, width, height, colour, corner levels, draw
// state, transform, style, layer and insert position) with the QV_DRAW_* flags. 0,
// ERR_WRONGUSAGE for a side below 1, or the errors of DrawShapeEx.
int DrawBoxEx(qvVmState* L, const qvShapeDesc& box, int flags);
