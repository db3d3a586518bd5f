#include "platform/linux/wait.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

#include "platform/linux/blocks.h"
#include "platform/linux/time.h"
#include "platform/linux/timers.h"
#include "platform/linux/video/video.h"

namespace qv {
namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
constexpr int64_t kSliceMicros = 20000;
// Under a test's clock only another process can end a wait on descriptors alone; it gets
// this much real time before the wait counts as one that would block forever.
constexpr int kPeerPatienceSlices = 500;

const platform::testing::VirtualWaitHooks* hooks = nullptr;

// Polls the descriptors for up to timeoutMs; true when one is readable, closed or failed.
bool DescriptorsReady(std::span<const int> descriptors, int timeoutMs) {
    if (descriptors.empty()) return false;
    std::vector<pollfd> fds;
    if (!CatchAllocFailure(false, [&] {
            for (int fd : descriptors) fds.push_back({fd, POLLIN, 0});
            return true;
        })) {
        return true;  // the caller's next look at its ports finds what is there
    }
    return poll(fds.data(), fds.size(), timeoutMs) > 0;
}

// What has happened already, without waiting (a look at host input presents).
uint32_t Ready(std::span<const int> descriptors, const qv::AbortFlag* abortFlag, int64_t now) {
    uint32_t signals = 0;
    if (abortFlag->load() != 0) signals |= QV_WAIT_BREAK;
    if (TakeDueTimerSignal(now)) signals |= QV_WAIT_TIMER;
    if (DescriptorsReady(descriptors, 0)) signals |= QV_WAIT_DESCRIPTOR;
    if (WaitForHostEvent(now)) signals |= QV_WAIT_INPUT;
    return signals;
}

int64_t Deadline(int64_t now, int64_t until) {
    int64_t deadline = std::min({NextTimerSignal(), NextFireTick(now), until});
    if (hooks != nullptr && hooks->nextScriptedInput != nullptr) {
        deadline = std::min(deadline, hooks->nextScriptedInput());
    }
    return deadline;
}

uint32_t BlockedForever(qv::AbortFlag* abortFlag) {
    if (hooks != nullptr && hooks->blockedForever != nullptr) hooks->blockedForever();
    abortFlag->store(1);
    return QV_WAIT_BREAK;
}

// Under a test's clock: jump to the deadline, or give a peer process its real time.
uint32_t VirtualWait(std::span<const int> descriptors, qv::AbortFlag* abortFlag, int64_t until) {
    const SystemClock& clock = Clock();
    int64_t now = clock.monotonicMicros();
    if (uint32_t signals = Ready(descriptors, abortFlag, now)) return signals;
    const int64_t deadline = Deadline(now, until);
    const int64_t tick = NextFireTick(now);
    if (deadline == kNever) {
        if (descriptors.empty()) return BlockedForever(abortFlag);
        for (int slice = 0; slice < kPeerPatienceSlices; ++slice) {
            if (abortFlag->load() != 0) return QV_WAIT_BREAK;
            if (DescriptorsReady(descriptors, kSliceMicros / 1000)) return QV_WAIT_DESCRIPTOR;
        }
        return BlockedForever(abortFlag);
    }
    if (now < deadline) clock.sleepUntil(deadline);
    now = clock.monotonicMicros();
    return Ready(descriptors, abortFlag, now) | (tick <= now ? uint32_t{QV_WAIT_TICK} : 0u);
}

// On the system's clock: one slice of at most 20 ms, so that the caller sees the abort flag
// and runs its input pump at least that often.
uint32_t RealWait(std::span<const int> descriptors, qv::AbortFlag* abortFlag, int64_t until) {
    const SystemClock& clock = Clock();
    int64_t now = clock.monotonicMicros();
    if (uint32_t signals = Ready(descriptors, abortFlag, now)) return signals;
    const int64_t tick = NextFireTick(now);
    const int64_t sliceEnd = std::min({NextTimerSignal(), tick, now + kSliceMicros, until});
    if (descriptors.empty()) {
        WaitForHostEvent(sliceEnd);
    } else if (sliceEnd > now) {
        DescriptorsReady(descriptors, int((sliceEnd - now + 999) / 1000));
    }
    now = clock.monotonicMicros();
    return Ready(descriptors, abortFlag, now) | (tick <= now ? uint32_t{QV_WAIT_TICK} : 0u);
}

// Under a test's clock: the microseconds until its next scripted input, at most limit.
int64_t UntilScriptedInput(int64_t now, int64_t limit) {
    if (UsingSystemClock() || hooks == nullptr || hooks->nextScriptedInput == nullptr) return limit;
    return std::clamp<int64_t>(hooks->nextScriptedInput() - now, 0, limit);
}

}  // namespace

int WaitOnDescriptor(int fd, short events, int timeoutMs) {
    const SystemClock& clock = Clock();
    const int64_t start = clock.monotonicMicros();
    const int64_t limit = UntilScriptedInput(start, int64_t{timeoutMs} * 1000);
    const auto realStart = std::chrono::steady_clock::now();
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, int((limit + 999) / 1000));
    if (ready < 0) return -1;
    const int64_t real = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - realStart)
                             .count();
    // On the system's clock that time has passed already.
    clock.sleepUntil(start + (ready > 0 ? std::min(real, limit) : limit));
    Present();
    return ready > 0 ? entry.revents : 0;
}

namespace platform::testing {

void SetVirtualWaitHooks(const VirtualWaitHooks* waitHooks) {
    hooks = waitHooks;
}

}  // namespace platform::testing
}  // namespace qv

uint32_t BuildWaitMask(std::span<const int> descriptors, qv::AbortFlag* abortFlag, int64_t until) {
    return qv::UsingSystemClock() ? qv::RealWait(descriptors, abortFlag, until)
                                  : qv::VirtualWait(descriptors, abortFlag, until);
}
