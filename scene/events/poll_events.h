// The engine's line hook and every waiting loop's pass: pumps host input into the event queue
// while the video back end has flagged input as due. Its idle path is one relaxed load of
// that word and one of the abort flag: no system call, no allocation, since it runs at every
// new line, backward jump and function entry of the script.
#pragma once

#include "engine/vm.h"

// Sets *status to 0 and pumps input once when it is due (PumpEvents). Returns non-zero when
// the program is to stop.
int PollEvents(qvVmState* L, qvDebugRecord* ar, int* status);

namespace qv {

// PollEvents in the shape of a line hook, which need not report the stop: the engine sets
// *status to 0 before the call and reads the abort flag at every instruction.
void PollEventsHook(qvVmState* L, qvDebugRecord* ar, int* status);

}  // namespace qv
