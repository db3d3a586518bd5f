// Clip regions (object type CLIPREGION 35): a rectangle of the output picture, optionally
// shaped by a 1-bit mask, that SafeBlt clips against. The list and the commands belong to
// the graphics library.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"
#include "runtime/objects.h"

struct qvClipRegion {
    qvObjectHeader header;
    int32_t x, y;
    int32_t width, height;
    qvPlaneBitMap* mask;  // the region's shape, none for a box; (0, 0) is the region's corner
    int32_t maskBytesPerRow;
    int32_t orphan;  // freed by the script while a layer still uses it
};
