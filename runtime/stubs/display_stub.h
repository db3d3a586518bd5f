// The least of the display library until it is built: a stand-in CreateDisplay that checks
// its arguments and records what it was given, the first display opened as a headless window
// (so that the screen counts as open), and the input poll with nothing to pump yet.
#pragma once

#include "engine/vm.h"
#include "runtime/runtime_state.h"

// Registers "display" with its one command.
int RegisterDisplayLibrary(qvVmState* L);
// CreateDisplay(id [, options]): the fields "title", "width" and "height" are kept.
int CreateDisplay(qvVmState* L);
// Prints "And Action!" unless quiet and opens display 1 (else the first one created, else a
// default 640 x 480 one) as the screen. 0 or ERR_MEM.
int OpenFirstDisplay(qvVmState* L, qvScriptHeader* header, qvStartupOptions* options);
// The engine's line hook: one pass of the input pump. Sets *status to 0; returns non-zero when
// the program is to stop. Its idle path makes no system call and allocates nothing.
int PollEvents(qvVmState* L, qvDebugRecord* ar, int* status);
void FreeAllDisplays(qvVmState* L);

namespace qv {

// PollEvents in the shape of a hook.
void PollEventsHook(qvVmState* L, qvDebugRecord* ar, int* status);

}  // namespace qv
