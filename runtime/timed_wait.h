// The run-time's timed wait (Wait, WaitTimer): until its time has passed it keeps the program's
// events flowing, the input pump and, outside handlers, the event handlers, and it presents.
#pragma once

#include <cstdint>

#include "engine/vm.h"

namespace qv {

// What a timed wait serves beyond input; the event library installs it when it registers.
struct WaitService {
    // Runs the handlers of what is pending, never from inside a handler: 0, a handler's error
    // code (ERR_USERABORT when it ended the program), or -1 after a legacy label jump.
    int (*serveEvents)(qvVmState* L);
    // Waits for the program's signals until the monotonic time until at the latest.
    void (*waitSignals)(qvVmState* L, int64_t until);
};
// nullptr removes it: waits then pump input and wait for the platform's signals only.
void SetWaitService(const WaitService* service);

}  // namespace qv

// Waits milliseconds of the monotonic clock in slices of at most 20 ms, running the input pump
// and the event handlers before each slice; timers, host input and the ports end a slice
// early. Returns 0, ERR_USERABORT when the pump asks the program to stop, or what serving
// the handlers returned (a handler's error, -1 after a legacy label jump).
int TimedWaitWithEvents(qvVmState* L, int64_t milliseconds);
