#include "platform/linux/video/virtual_clock.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/linux/time.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/video/video.h"
#include "platform/linux/wait.h"

namespace qv {
namespace {

constexpr int64_t kMicrosPerSecond = 1000000;
constexpr int64_t kWallOrigin = 1767225600 * kMicrosPerSecond;  // 2026-01-01 00:00:00 UTC
constexpr int64_t kStart = kMicrosPerSecond;

std::atomic<int64_t> now{kStart};
bool installed = false;

int64_t Now() {
    return now.load(std::memory_order_relaxed);
}

int64_t Wall() {
    return kWallOrigin + Now();
}

void SleepUntil(int64_t deadline) {
    int64_t current = Now();
    while (current < deadline && !now.compare_exchange_weak(current, deadline)) {
    }
}

int64_t NextInput() {
    const uint64_t frame = HeadlessNextInputFrame();
    return frame != 0 ? RefreshTime(frame) : std::numeric_limits<int64_t>::max();
}

void BlockedForever() {
    std::fputs("QV_HEADLESS_CLOCK=virtual: nothing can end the wait, the run ends\n", stderr);
}

constexpr SystemClock kVirtualClock = {Now, Wall, SleepUntil};
constexpr platform::testing::VirtualWaitHooks kHooks = {NextInput, BlockedForever};

}  // namespace

bool StartHeadlessClock() {
    StopHeadlessClock();
    const char* mode = std::getenv("QV_HEADLESS_CLOCK");
    if (mode == nullptr || *mode == '\0') return true;
    if (std::strcmp(mode, "virtual") != 0) return false;
    now.store(kStart, std::memory_order_relaxed);
    SetSystemClock(&kVirtualClock);
    platform::testing::SetVirtualWaitHooks(&kHooks);
    installed = true;
    return true;
}

void StopHeadlessClock() {
    if (!installed) return;
    platform::testing::SetVirtualWaitHooks(nullptr);
    SetSystemClock(nullptr);
    installed = false;
}

}  // namespace qv
