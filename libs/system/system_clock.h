// Time as the system library sees it: a monotonic clock for timers and waits (a step of the
// system clock must not make them jump), the wall clock for dates, and the sleep, behind one
// seam that tests replace with a virtual clock. Also the timed wait that keeps the input pump
// running.
#pragma once

#include <cstdint>
#include <ctime>

#include "engine/vm.h"

namespace qv {

struct SystemClock {
    int64_t (*monotonicMicros)();
    // Seconds since 1970.
    time_t (*wallSeconds)();
    // Returns once the monotonic clock has reached deadline (microseconds).
    void (*sleepUntil)(int64_t deadline);
};

const SystemClock& Clock();
// Replaces the clock; nullptr restores the system's.
void SetSystemClock(const SystemClock* clock);

// Waits milliseconds in slices of at most 20 ms, running the input pump before each slice.
// Returns 0, or ERR_USERABORT when the pump asks the program to stop.
int TimedWaitWithEvents(qvVmState* L, int64_t milliseconds);

}  // namespace qv
