#include "platform/linux/time.h"

#include <atomic>
#include <cerrno>

namespace qv {
namespace {

constexpr int64_t kMicrosPerSecond = 1000000;

int64_t ReadClock(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return int64_t{now.tv_sec} * kMicrosPerSecond + now.tv_nsec / 1000;
}

int64_t ReadMonotonic() {
    return ReadClock(CLOCK_MONOTONIC);
}

int64_t ReadWall() {
    return ReadClock(CLOCK_REALTIME);
}

// An absolute deadline keeps a signal from stretching the sleep.
void SleepUntil(int64_t deadline) {
    timespec until{static_cast<time_t>(deadline / kMicrosPerSecond),
                   static_cast<long>(deadline % kMicrosPerSecond) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

constexpr SystemClock kSystemClock = {ReadMonotonic, ReadWall, SleepUntil};
std::atomic<const SystemClock*> current{&kSystemClock};

void SplitMicros(int64_t micros, qvTimeVal* out) {
    out->seconds = static_cast<uint32_t>(micros / kMicrosPerSecond);
    out->microseconds = static_cast<uint32_t>(micros % kMicrosPerSecond);
}

}  // namespace

const SystemClock& Clock() {
    return *current.load(std::memory_order_acquire);
}

void SetSystemClock(const SystemClock* clock) {
    current.store(clock != nullptr ? clock : &kSystemClock, std::memory_order_release);
}

bool UsingSystemClock() {
    return current.load(std::memory_order_acquire) == &kSystemClock;
}

void MonotonicTime(qvTimeVal* out) {
    SplitMicros(MonotonicMicros(), out);
}

}  // namespace qv

void TimerGetSysTime(qvTimeVal* out) {
    qv::SplitMicros(qv::Clock().wallMicros(), out);
}

void TimerAddTime(qvTimeVal* time, const qvTimeVal* operand) {
    time->seconds += operand->seconds;
    time->microseconds += operand->microseconds;
    if (time->microseconds >= qv::kMicrosPerSecond) {
        time->microseconds -= qv::kMicrosPerSecond;
        ++time->seconds;
    }
}

void TimerSubTime(qvTimeVal* time, const qvTimeVal* operand) {
    time->seconds -= operand->seconds;
    if (time->microseconds < operand->microseconds) {
        time->microseconds += qv::kMicrosPerSecond;
        --time->seconds;
    }
    time->microseconds -= operand->microseconds;
}

double TimeOfDaySeconds() {
    return static_cast<double>(qv::Clock().wallMicros()) / 1e6;
}
