#include "runtime/input_pump.h"

#include <algorithm>

#include "platform/linux/time.h"
#include "runtime/runtime_state.h"

namespace qv {

bool RunInputPump(qvVmState* L) {
    if (L != nullptr && L->hook != nullptr) {
        int status = 0;
        L->hook(L, nullptr, &status);
        if (status != 0) return true;
    }
    return Runtime().abortFlag.load(std::memory_order_relaxed) != 0;
}

}  // namespace qv

int TimedWaitWithEvents(qvVmState* L, int64_t milliseconds) {
    constexpr int64_t kSliceMicros = 20000;
    const qv::SystemClock& clock = qv::Clock();
    int64_t now = clock.monotonicMicros();
    const int64_t deadline = now + milliseconds * 1000;
    while (now < deadline) {
        if (qv::RunInputPump(L)) return ERR_USERABORT;
        // The event dispatcher joins the pump here, so that handlers run during waits.
        clock.sleepUntil(std::min(deadline, now + kSliceMicros));
        now = clock.monotonicMicros();
    }
    return 0;
}

void ResetDisplayInput(qvVmState*) {}
