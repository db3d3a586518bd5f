// The style engine: the one routine through which an existing layer of the current output
// picture is restyled. It reads each (layer, style table) pair into working copies, writes
// them back, takes the cheapest of four roads (refresh, move, new transformed cache, rebuild)
// and redraws the rectangles it collected once at the end.
#pragma once

#include "engine/vm.h"

namespace qv::scene {

// Restyles the layers named by the pairs (layer, style table) in the argCount stack slots
// from firstSlot on (the command's own arguments: firstSlot 1). Argument numbers in error
// messages count from firstSlot. A non-zero deferred leaves the final redraw to the caller.
// 0 or an error code; the rectangles collected before an error are redrawn all the same.
int SetLayerProperties(qvVmState* L, int argCount, int deferred, int firstSlot = 1);

// Exit: the list the restyling collects its rectangles in.
void FreeLayerStyleRects();

}  // namespace qv::scene

// The command: SetLayerStyle(layer, table, [layer, table, ...]).
int SetLayerStyle(qvVmState* L);
