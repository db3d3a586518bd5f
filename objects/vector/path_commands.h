// The handlers of the "vectorgraphics" commands, and the library state they share.
#pragma once

#include "engine/vm.h"

namespace qv {

// The library's commands in their published order, ending in an empty row.
extern const qvCommandEntry kVectorCommands[];

// Join, cap and fill rule back to their initial values, no forced path use.
void ResetPathState();
// Frees the dash pattern: lines are solid again.
void ClearDashPattern();

int AddTextToPath(qvVmState* L);

}  // namespace qv
