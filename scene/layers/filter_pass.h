// The filter pass: runs the enabled filters of a slot table over a picture in place, the
// highest priority first and, among equal priorities, in slot order. The slots keep their
// arguments as given; each call hands its kernel only values the kernel can take.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"
#include "scene/layers/filter_table.h"

// One kernel call of the pass: the slot and the kernel's arguments in the kernel's order.
struct qvFilterCall {
    int slot;
    int32_t ints[3];
    double reals[3];
};

// The call the slot makes on a width x height picture: its arguments mapped to the kernel's
// and brought into the kernel's range (a pixelate block 1..min(width, height), radii and
// sigmas finite and not negative, counts at least 1, levels 0..255, modulate factors not
// negative).
qvFilterCall MapLayerFilter(int slot, const qvLayerFilter& filter, int32_t width, int32_t height);

// Runs one call's kernel; 0 or the kernel's error.
using qvFilterKernel = int (*)(const qvFilterCall& call, qvDisplayBitMap* bitmap,
                               qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width,
                               int32_t height);
int RunFilterKernel(const qvFilterCall& call, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                    qvPlaneBitMap* alpha, int32_t width, int32_t height);

// The mask and the alpha plane (either may be none) move with the pixels where a filter
// moves pixels. The first kernel that fails ends the pass with its error (ERR_MEM or
// ERR_LOCKBMAP), the picture then half filtered; 0 when every filter ran.
int ApplyLayerFilters(const qvLayerFilter slots[kLayerFilterCount], qvDisplayBitMap* bitmap,
                      qvPlaneBitMap* mask, qvPlaneBitMap* alpha, int32_t width, int32_t height);

namespace qv::scene {

// Tests watch the kernels the pass calls: the installed runner (none: RunFilterKernel).
void SetFilterKernel(qvFilterKernel kernel);

}  // namespace qv::scene
