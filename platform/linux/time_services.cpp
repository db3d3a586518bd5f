#include "platform/linux/time_services.h"

#include <cstdio>
#include <ctime>

int TimerCmpTime(const qvTimeVal* a, const qvTimeVal* b) {
    if (a->seconds != b->seconds) return a->seconds < b->seconds ? -1 : 1;
    if (a->microseconds != b->microseconds) return a->microseconds < b->microseconds ? -1 : 1;
    return 0;
}

void DelayMillis(uint32_t milliseconds) {
    qv::Clock().sleepUntil(qv::MonotonicMicros() + int64_t{milliseconds} * 1000);
}

void FormatFullDate(char* buffer, size_t size) {
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (size == 0) return;
    time_t now = qv::WallSeconds();
    tm local{};
    localtime_r(&now, &local);
    std::snprintf(buffer, size, "%02d-%s-%02d %02d:%02d:%02d", local.tm_mday, kMonths[local.tm_mon],
                  local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
}
