#include "scene/events/poll_events.h"

#include "platform/linux/video/video.h"
#include "runtime/input_pump.h"
#include "runtime/runtime_state.h"

namespace qv {

void PollEventsHook(qvVmState* L, qvDebugRecord*, int*) {
    if (InputDue().load(std::memory_order_relaxed) != 0) PumpEvents(L);
}

}  // namespace qv

int PollEvents(qvVmState* L, qvDebugRecord*, int* status) {
    *status = 0;
    if (qv::InputDue().load(std::memory_order_relaxed) != 0) return PumpEvents(L);
    return qv::Runtime().abortFlag.load(std::memory_order_relaxed) != 0 ? 1 : 0;
}
