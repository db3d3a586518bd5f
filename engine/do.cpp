// Calls, stack growth and protected execution.
#include <cstdlib>
#include <new>

#include "engine/internal.h"

namespace qv {
namespace {

// The engine's one exception type: thrown by VmThrow, caught only by VmProtectedRun.
struct VmUnwind {
    int status;
};

constexpr int kNativeFrameSlots = 20;

}  // namespace
}  // namespace qv

void VmThrow(qvVmState* L, int status) {
    if (L->errorJmp != nullptr) {
        L->errorJmp->status = status;
        throw qv::VmUnwind{status};
    }
    if (L->g != nullptr && L->g->panic != nullptr) L->g->panic(L);
    std::exit(20);
}

void RaiseError(qvVmState* L, int code) {
    VmThrow(L, code);
}

int VmProtectedRun(qvVmState* L, qvProtectedFunction f, void* ud) {
    qvErrorCatcher catcher{L->errorJmp, 0};
    L->errorJmp = &catcher;
    try {
        f(L, ud);
    } catch (const qv::VmUnwind& unwind) {
        catcher.status = unwind.status;
    } catch (const std::bad_alloc&) {
        // Standard containers used inside the engine report exhaustion this way.
        catcher.status = ERR_MEM;
    }
    L->errorJmp = catcher.previous;
    return catcher.status;
}

// Moves the stack to a fresh block of size slots and re-points everything that refers into
// it. Copying into a new block (rather than resizing in place) keeps every move visible to
// the address sanitizer when a stale pointer survives one.
void VmResizeStack(qvVmState* L, int size) {
    qvValue* oldstack = L->stack;
    auto* stack = static_cast<qvValue*>(VmRealloc(L, nullptr, 0, size * sizeof(qvValue)));
    int keep = L->stacksize < size ? L->stacksize : size;
    for (int i = 0; i < keep; ++i) stack[i] = oldstack[i];
    for (int i = keep; i < size; ++i) qv::SetNil(&stack[i]);
    auto move = [&](qvValue* p) { return stack + (p - oldstack); };
    L->top = move(L->top);
    for (qvGCHeader* up = L->openupval; up != nullptr; up = up->next) {
        auto* uv = static_cast<qvUpVal*>(up);
        uv->v = move(uv->v);
    }
    for (qvCallRecord* ci = L->baseCi; ci <= L->ci; ++ci) {
        ci->base = move(ci->base);
        ci->top = move(ci->top);
    }
    L->base = L->ci->base;
    VmRealloc(L, oldstack, L->stacksize * sizeof(qvValue), 0);
    L->stack = stack;
    L->stacksize = size;
    L->stackLast = stack + size - 6;
}

void VmGrowStack(qvVmState* L, int n) {
    if (n <= L->stacksize)
        VmResizeStack(L, 2 * L->stacksize);
    else
        VmResizeStack(L, L->stacksize + n + 5);
}

void VmResizeCallInfo(qvVmState* L, int n) {
    auto* records = static_cast<qvCallRecord*>(VmRealloc(L, nullptr, 0, n * sizeof(qvCallRecord)));
    int keep = L->sizeCi < n ? L->sizeCi : n;
    for (int i = 0; i < keep; ++i) records[i] = L->baseCi[i];
    ptrdiff_t current = L->ci - L->baseCi;
    VmRealloc(L, L->baseCi, L->sizeCi * sizeof(qvCallRecord), 0);
    L->baseCi = records;
    L->ci = records + current;
    L->sizeCi = static_cast<uint16_t>(n);
    L->endCi = records + n;
}

namespace {

qvCallRecord* NextCallRecord(qvVmState* L) {
    if (L->ci + 1 == L->endCi) VmResizeCallInfo(L, 2 * L->sizeCi);
    return ++L->ci;
}

qvValue* CallNative(qvVmState* L, qvValue* func, int* code) {
    ptrdiff_t funcr = qv::SaveStack(L, func);
    if (L->stackLast - L->top <= qv::kNativeFrameSlots) VmGrowStack(L, qv::kNativeFrameSlots);
    qvCallRecord* ci = NextCallRecord(L);
    L->base = ci->base = qv::RestoreStack(L, funcr) + 1;
    ci->top = L->top + qv::kNativeFrameSlots;
    ci->state = VM_CI_NATIVE;
    ci->savedpc = nullptr;
    ci->pc = nullptr;
    ci->tailcalls = 0;
    int n = qv::CClosureOf(qv::RestoreStack(L, funcr))->f(L);
    if (n >= 0 && n <= 999) {
        // A handler may claim more results than it pushed: never copy from below its frame.
        ptrdiff_t inFrame = L->top - L->base;
        if (n > inFrame) n = static_cast<int>(inFrame);
        *code = 0;
        return L->top - n;
    }
    *code = n;
    return L->top;
}

qvValue* OpenScriptFrame(qvVmState* L, qvValue* func) {
    ptrdiff_t funcr = qv::SaveStack(L, func);
    qvProto* p = qv::LClosureOf(func)->proto;
    if (L->stackLast - L->top <= p->maxstacksize) VmGrowStack(L, p->maxstacksize);
    qvCallRecord* ci = NextCallRecord(L);
    func = qv::RestoreStack(L, funcr);
    L->base = ci->base = func + 1;
    ci->top = L->base + p->maxstacksize;
    ci->savedpc = p->code;
    ci->pc = nullptr;
    ci->tailcalls = 0;
    ci->state = VM_CI_SAVEDPC;
    while (L->top < ci->top) qv::SetNil(L->top++);
    L->top = ci->top;
    return nullptr;
}

}  // namespace

qvValue* VmPreCall(qvVmState* L, qvValue* func, int* code) {
    *code = 0;
    if (!qv::IsFunction(func)) VmThrow(L, ERR_FUNCDECLA);
    if (qv::ClosureOf(func)->isNative) return CallNative(L, func, code);
    return OpenScriptFrame(L, func);
}

void VmPostCall(qvVmState* L, int wanted, qvValue* firstResult) {
    qvValue* res = L->ci->base - 1;
    --L->ci;
    L->base = L->ci->base;
    while (wanted != 0 && firstResult != nullptr && firstResult < L->top) {
        *res++ = *firstResult++;
        --wanted;
    }
    while (wanted-- > 0) qv::SetNil(res++);
    L->top = res;
}

int VmDoCall(qvVmState* L, qvValue* func, int nResults) {
    if (++L->nCcalls >= 200) {
        if (L->nCcalls == 200) RaiseError(L, ERR_STACK);
        if (L->nCcalls > 224) VmThrow(L, ERR_STACK);
    }
    int code = 0;
    qvValue* firstResult = VmPreCall(L, func, &code);
    if (firstResult == nullptr) firstResult = VmExecute(L);
    if (code < 0) firstResult = nullptr;  // no jump is made outside the interpreter
    VmPostCall(L, nResults, firstResult);
    --L->nCcalls;
    VmCheckGC(L);
    return code;
}
