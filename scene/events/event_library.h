// The "event" command library: handler installation, the dispatcher's commands, intervals
// and timeouts, buttons, the input queries and waits, quit keys, user ports, the legacy
// labels, and the library's constants. Its registration makes the dispatcher's record and
// empties the global handler slots; FreeEventObjects frees everything again at shutdown.
#pragma once

#include "engine/vm.h"

// Registers the commands as globals and under "event", the constants and the interval and
// timeout lists. Returns 0 or ERR_MEM.
int RegisterEventLibrary(qvVmState* L);
// Shutdown: frees the intervals and timeouts with their timer entries, the global slots'
// references, the legacy label records, the user port and the dispatcher's record. Safe when
// the library never registered.
void FreeEventObjects(qvVmState* L);
