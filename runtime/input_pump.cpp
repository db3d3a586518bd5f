#include "runtime/input_pump.h"

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
