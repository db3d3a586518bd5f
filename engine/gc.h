// Collector services that opening and closing the engine use.
#pragma once

#include "engine/vm.h"

namespace qv {

// Moves every user datum with a "__gc" metamethod (and not yet finalized) to the list of
// those awaiting their call, regardless of reachability.
void SeparateAllFinalizable(qvVmState* L);
// Calls the "__gc" of every awaiting user datum; an error propagates after unlinking the one
// that raised it, so calling again continues with the next.
void CloseFinalizers(qvVmState* L);
// Frees every object of the engine regardless of marks (the last step of closing).
void FreeAllObjects(qvVmState* L);

}  // namespace qv
