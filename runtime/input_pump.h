// One pass of the run-time's input pump, for commands that wait (network engines, timed
// waits): the pump is the engine's line hook. Also the run-time's timed wait, which keeps the
// pump running while it waits.
#pragma once

#include <cstdint>

#include "engine/vm.h"

namespace qv {

// Runs the line hook once; true when the program is to stop (the hook reported a status or
// the abort flag is set).
bool RunInputPump(qvVmState* L);

}  // namespace qv

// Waits milliseconds of the monotonic clock in slices of at most 20 ms, running the input
// pump before each slice. Returns 0, or ERR_USERABORT when the pump asks the program to stop.
int TimedWaitWithEvents(qvVmState* L, int64_t milliseconds);

// Forgets the current display's key and pointer state after an external program or a
// requester had the input. Until the display library exists no display keeps such state.
void ResetDisplayInput(qvVmState* L);
