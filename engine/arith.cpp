// Arithmetic and bit operations on operands that are not both numbers.
#include "engine/arith.h"

#include "engine/api_internal.h"

namespace qv {

bool ArithConverted(qvVmState* L, qvValue* result, const qvValue* x, const qvValue* y, int event) {
    qvValue xs, ys;
    const qvValue* xn = VmToNumberObj(x, &xs);
    const qvValue* yn = xn != nullptr ? VmToNumberObj(y, &ys) : nullptr;
    if (xn == nullptr || yn == nullptr) return false;
    SetNumber(result, ArithNumbers(L, event, xn->value.n, yn->value.n));
    return true;
}

const qvValue* ArithMetamethod(qvVmState* L, const qvValue* x, const qvValue* y, int event) {
    const qvValue* tm = VmGetTagMethod(L, x, event);
    if (IsNil(tm)) tm = VmGetTagMethod(L, y, event);
    if (!IsFunction(tm)) RaiseError(L, ERR_WRONGOP);
    return tm;
}

}  // namespace qv

void VmArith(qvVmState* L, qvValue* result, const qvValue* x, const qvValue* y, int event) {
    if (qv::ArithConverted(L, result, x, y, event)) return;
    const qvValue* tm = qv::ArithMetamethod(L, x, y, event);
    ptrdiff_t resultOffset = qv::SaveStack(L, result);
    const qvValue* r = qv::CallBinary(L, tm, x, y);
    qv::CopyValue(qv::RestoreStack(L, resultOffset), r);
}
