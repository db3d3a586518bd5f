// One pass of the run-time's input pump, for commands that wait (network engines, timed
// waits): the pump is the engine's line hook.
#pragma once

#include "engine/vm.h"

namespace qv {

// Runs the line hook once; true when the program is to stop (the hook reported a status or
// the abort flag is set).
bool RunInputPump(qvVmState* L);

}  // namespace qv
