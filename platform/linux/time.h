// Time of the platform layer: the system time as {seconds, microseconds} with the in-place
// arithmetic on such pairs, the time of day as a double, and a monotonic clock for stamps
// that never leave the process (a change of the system clock must not move them).
#pragma once

#include <cstdint>

struct qvTimeVal {
    uint32_t seconds;
    uint32_t microseconds;  // 0 to 999999
};

// The system time (seconds since 1970).
void TimerGetSysTime(qvTimeVal* out);
// time += operand and time -= operand, carrying and borrowing between the two fields.
void TimerAddTime(qvTimeVal* time, const qvTimeVal* operand);
void TimerSubTime(qvTimeVal* time, const qvTimeVal* operand);
// The current time as seconds since 1970.
double TimeOfDaySeconds();

namespace qv {

// Seconds and microseconds of a clock that only moves forward (its origin is arbitrary).
void MonotonicTime(qvTimeVal* out);

// Replaces the monotonic clock (tests make time pass at will); nullptr restores it. Safe to
// call while other threads read the clock.
using ClockReader = void (*)(qvTimeVal* out);
void SetMonotonicClock(ClockReader reader);

}  // namespace qv
