#include "runtime/timed_wait.h"

#include <algorithm>

#include "engine/error_codes.h"
#include "platform/linux/time.h"
#include "platform/linux/wait.h"
#include "runtime/input_pump.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr int64_t kSliceMicros = 20000;

const WaitService* service = nullptr;

int ServeEvents(qvVmState* L) {
    return service != nullptr ? service->serveEvents(L) : 0;
}

void WaitSignalsUntil(qvVmState* L, int64_t until) {
    if (service != nullptr) return service->waitSignals(L, until);
    BuildWaitMask({}, &Runtime().abortFlag, until);
}

}  // namespace

void SetWaitService(const WaitService* waitService) {
    service = waitService;
}

}  // namespace qv

int TimedWaitWithEvents(qvVmState* L, int64_t milliseconds) {
    const qv::SystemClock& clock = qv::Clock();
    const int64_t deadline = clock.monotonicMicros() + milliseconds * 1000;
    for (;;) {
        if (qv::RunInputPump(L)) return ERR_USERABORT;
        if (const int code = qv::ServeEvents(L)) return code;
        const int64_t now = clock.monotonicMicros();
        if (now >= deadline) return 0;
        qv::WaitSignalsUntil(L, std::min(deadline, now + qv::kSliceMicros));
    }
}
