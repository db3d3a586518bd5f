// Time of the platform layer: the system time as {seconds, microseconds} with the in-place
// arithmetic on such pairs, the time of day as a double, a monotonic clock for stamps,
// timers and waits (a step of the system clock must not move them), and the sleep.
//
// Every reader of time goes through one seam, SystemClock, so that a test replaces all
// clocks and the sleep with one call to SetSystemClock.
#pragma once

#include <cstdint>
#include <ctime>

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

struct SystemClock {
    // A clock that only moves forward, in microseconds (its origin is arbitrary).
    int64_t (*monotonicMicros)();
    // The wall clock in microseconds since 1970.
    int64_t (*wallMicros)();
    // Returns once the monotonic clock has reached deadline (microseconds).
    void (*sleepUntil)(int64_t deadline);
};

const SystemClock& Clock();
// Replaces the clocks and the sleep; nullptr restores the system's. Safe to call while other
// threads read the clock; the record must outlive its use.
void SetSystemClock(const SystemClock* clock);
// Whether the system's clock is in use (false while a test's clock is installed).
bool UsingSystemClock();

inline int64_t MonotonicMicros() {
    return Clock().monotonicMicros();
}
inline double MonotonicSeconds() {
    return static_cast<double>(MonotonicMicros()) / 1e6;
}
// The monotonic clock as {seconds, microseconds}.
void MonotonicTime(qvTimeVal* out);
// The wall clock in whole seconds since 1970.
inline time_t WallSeconds() {
    return static_cast<time_t>(Clock().wallMicros() / 1000000);
}

}  // namespace qv
