#include "platform/linux/time.h"

#include <atomic>
#include <ctime>

namespace qv {
namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000;

void ReadClock(clockid_t clock, qvTimeVal* out) {
    timespec now{};
    clock_gettime(clock, &now);
    out->seconds = static_cast<uint32_t>(now.tv_sec);
    out->microseconds = static_cast<uint32_t>(now.tv_nsec / 1000);
}

void SystemMonotonicTime(qvTimeVal* out) {
    ReadClock(CLOCK_MONOTONIC, out);
}

std::atomic<ClockReader> monotonicClock{SystemMonotonicTime};

}  // namespace

void MonotonicTime(qvTimeVal* out) {
    monotonicClock.load(std::memory_order_acquire)(out);
}

void SetMonotonicClock(ClockReader reader) {
    monotonicClock.store(reader != nullptr ? reader : SystemMonotonicTime,
                         std::memory_order_release);
}

}  // namespace qv

void TimerGetSysTime(qvTimeVal* out) {
    qv::ReadClock(CLOCK_REALTIME, out);
}

void TimerAddTime(qvTimeVal* time, const qvTimeVal* operand) {
    time->seconds += operand->seconds;
    time->microseconds += operand->microseconds;
    if (time->microseconds >= qv::kMicrosecondsPerSecond) {
        time->microseconds -= qv::kMicrosecondsPerSecond;
        ++time->seconds;
    }
}

void TimerSubTime(qvTimeVal* time, const qvTimeVal* operand) {
    time->seconds -= operand->seconds;
    if (time->microseconds < operand->microseconds) {
        time->microseconds += qv::kMicrosecondsPerSecond;
        --time->seconds;
    }
    time->microseconds -= operand->microseconds;
}

double TimeOfDaySeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
