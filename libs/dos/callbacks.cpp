#include "libs/dos/callbacks.h"

#include "engine/convert.h"
#include "runtime/runtime_state.h"

namespace qv {

CallbackResult CallDosCallback(qvVmState* L, int funcIdx, const std::function<void()>& fill) {
    int top = VmGetTop(L);
    VmPushValue(L, funcIdx);
    VmNewTable(L);
    fill();
    int32_t& nested = Runtime().error.nestedCalls;
    ++nested;
    CallbackResult result;
    result.code = VmPCall(L, 1, 1, 0);
    --nested;
    if (result.code == 0) {
        result.isNumber = VmType(L, -1) == VM_TNUMBER;
        result.value = result.isNumber ? Trunc32(VmToNumber(L, -1)) : 0;
    }
    VmSetTop(L, top);
    return result;
}

bool AbortRequested() {
    return Runtime().abortFlag.load() != 0;
}

void SetField(qvVmState* L, const char* key, double value) {
    VmPushString(L, key);
    VmPushNumber(L, value);
    VmRawSet(L, -3);
}

void SetField(qvVmState* L, const char* key, const char* value) {
    VmPushString(L, key);
    VmPushString(L, value);
    VmRawSet(L, -3);
}

}  // namespace qv
