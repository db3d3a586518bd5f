// The filter pass: runs the enabled filters of a slot table over a picture in place, the
// highest priority first and, among equal priorities, in slot order.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"
#include "scene/layers/filter_table.h"

// The mask and the alpha plane (either may be none) move with the pixels where a filter
// moves pixels. Returns the result of the last filter run (0, ERR_MEM or ERR_LOCKBMAP).
int ApplyLayerFilters(const qvLayerFilter slots[kLayerFilterCount], qvDisplayBitMap* bitmap,
                      qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width, int32_t height);
