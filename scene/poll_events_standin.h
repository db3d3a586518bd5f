// The input poll until the event dispatcher exists: the engine's line hook pumps input while
// the video back end has flagged it as due.
#pragma once

#include "engine/vm.h"

// The engine's line hook: pumps input (PumpEvents) while the video back end has flagged input
// as due. Sets *status to 0; returns non-zero when the program is to stop. Its idle path
// makes no system call and allocates nothing.
int PollEvents(qvVmState* L, qvDebugRecord* ar, int* status);

namespace qv {

// PollEvents in the shape of a line hook, which need not report the stop: the engine sets
// *status to 0 before the call and reads the abort flag at every instruction.
void PollEventsHook(qvVmState* L, qvDebugRecord* ar, int* status);

}  // namespace qv
