// The clock of the command fuzzers: virtual, so that no wait takes real time. Each wait jumps
// the clock to its deadline; input that never comes is due a second from now, so a wait on
// the user port's descriptor alone jumps it too instead of giving a peer process seconds of
// real time. A step that waits more than kSleepsPerStep times ends as Ctrl-C would end it:
// an interval of 1 ms under WhileMouseDown would otherwise turn the clock for hours.
#pragma once

#include <cstdint>

#include "engine/vm.h"

#include "platform/linux/testing.h"
#include "platform/linux/wait.h"
#include "runtime/runtime_state.h"

namespace qv::fuzz {

inline constexpr int kSleepsPerStep = 200;

struct VirtualClock {
    static inline int64_t now = 0;
    static inline int sleeps = 0;

    static int64_t Now() { return now; }
    static int64_t Wall() { return now + 1700000000LL * 1000000; }
    static void SleepUntil(int64_t deadline) {
        if (deadline > now) now = deadline;
        if (++sleeps > kSleepsPerStep) qv::Runtime().abortFlag.store(1);
    }
    static int64_t NextInput() { return now + 1000000; }
    static void BlockedForever() {}

    // Installs the clock for a run, starting at start.
    static void Install(int64_t start) {
        static const qv::SystemClock clock{Now, Wall, SleepUntil};
        static const qv::platform::testing::VirtualWaitHooks hooks{NextInput, BlockedForever};
        now = start;
        sleeps = 0;
        qv::SetSystemClock(&clock);
        qv::platform::testing::SetVirtualWaitHooks(&hooks);
    }
    static void Remove() {
        qv::platform::testing::SetVirtualWaitHooks(nullptr);
        qv::SetSystemClock(nullptr);
    }
};

// Up to steps calls of step(run) under the engine's protection while input lasts, each with
// a fresh count of waits, handlers back at the first level and the abort flag lowered.
template <typename Run>
void RunSteps(qvVmState* L, qvCFunction step, Run* run, int steps) {
    for (int i = 0; i < steps && run->in->More(); ++i) {
        VirtualClock::sleeps = 0;
        VmCPCall(L, step, run);
        run->depth = 0;
        qv::Runtime().abortFlag.store(0);
    }
}

}  // namespace qv::fuzz
