#include "libs/system/system_clock.h"

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "runtime/input_pump.h"

namespace qv {
namespace {

constexpr int64_t kSliceMicros = 20000;

int64_t ReadMonotonic() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}

time_t ReadWall() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

// Absolute deadlines keep a signal from stretching the wait.
void SleepUntil(int64_t deadline) {
    timespec until{static_cast<time_t>(deadline / 1000000),
                   static_cast<long>(deadline % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

constexpr SystemClock kSystemClock = {ReadMonotonic, ReadWall, SleepUntil};
std::atomic<const SystemClock*> current{&kSystemClock};

}  // namespace

const SystemClock& Clock() {
    return *current.load();
}

void SetSystemClock(const SystemClock* clock) {
    current.store(clock != nullptr ? clock : &kSystemClock);
}

int TimedWaitWithEvents(qvVmState* L, int64_t milliseconds) {
    const SystemClock& clock = Clock();
    int64_t now = clock.monotonicMicros();
    const int64_t deadline = now + milliseconds * 1000;
    while (now < deadline) {
        if (RunInputPump(L)) return ERR_USERABORT;
        // The event dispatcher joins the pump here, so that handlers run during waits.
        clock.sleepUntil(std::min(deadline, now + kSliceMicros));
        now = clock.monotonicMicros();
    }
    return 0;
}

}  // namespace qv
