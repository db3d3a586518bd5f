// Arithmetic and bit operations on operands that are not both numbers.
#include "engine/arith.h"

#include "engine/api_internal.h"

void VmArith(qvVmState* L, qvValue* result, const qvValue* x, const qvValue* y, int event) {
    qvValue xs, ys;
    const qvValue* xn = VmToNumberObj(x, &xs);
    const qvValue* yn = xn != nullptr ? VmToNumberObj(y, &ys) : nullptr;
    if (xn != nullptr && yn != nullptr) {
        qv::SetNumber(result, qv::ArithNumbers(L, event, xn->value.n, yn->value.n));
        return;
    }
    const qvValue* tm = VmGetTagMethod(L, x, event);
    if (qv::IsNil(tm)) tm = VmGetTagMethod(L, y, event);
    if (!qv::IsFunction(tm)) RaiseError(L, ERR_WRONGOP);
    ptrdiff_t resultOffset = qv::SaveStack(L, result);
    const qvValue* r = qv::CallBinary(L, tm, x, y);
    *qv::RestoreStack(L, resultOffset) = *r;
}
