// Calls, stack growth, hooks, error raising and protected execution. A command (a native
// function) returns its number of results, a subroutine jump request (-1, -2) or an error
// code; the code does not unwind by itself but goes back to the caller.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <new>
#include <string_view>

#include "engine/api_internal.h"
#include "engine/host.h"

namespace qv {
namespace {

// The engine's one exception type: thrown by VmThrow, caught only by VmProtectedRun.
struct VmUnwind {
    int status;
};

constexpr int kMaxCallRecords = 4096;
constexpr int kNativeCallLimit = 200;      // raises ERR_STACK
constexpr int kNativeCallHardLimit = 224;  // beyond it ERR_STACK is thrown at once

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

// While the engine is being opened there is no host to tell yet.
void RaiseError(qvVmState* L, int code) {
    if (L->g != nullptr && L->ci != nullptr && !L->g->inEconomy) {
        qv::EngineHost& host = qv::Host(L);
        host.SetErrorLine(qv::CurrentLine(L->ci));
        host.CaptureErrorLocation(L);
    }
    VmThrow(L, code);
}

// The value is named when it lies in a register of the current script frame; an unnamed
// value reads "??". The suffix ("{}", "()") tells what was expected of it.
void VmTypeError(qvVmState* L, const qvValue* value, int code, const char* suffix) {
    const char* name = nullptr;
    std::less_equal<const qvValue*> notAfter;
    if (notAfter(L->ci->base, value) && !notAfter(L->ci->top, value)) {
        VmGetObjectName(L->ci, static_cast<int>(value - L->ci->base), &name);
    }
    char text[qv::kErrorTextMax + 1];
    std::snprintf(text, sizeof text, "%s%s", name != nullptr ? name : "??", suffix);
    qv::Host(L).SetErrorText(text);
    RaiseError(L, code);
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

namespace qv {

void RunEconomy(qvVmState* L, qvProtectedFunction f, void* ud) {
    bool& inEconomy = L->g->inEconomy;
    bool outer = inEconomy;
    inEconomy = true;
    VmProtectedRun(L, f, ud);
    inEconomy = outer;
}

}  // namespace qv

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

namespace qv {

void MoveStacks(qvVmState* L) {
    VmResizeStack(L, L->stacksize);
    VmResizeCallInfo(L, L->sizeCi);
}

namespace {

// Makes sure a record follows the current one: the array doubles up to 4096 records, and
// once more so that error handling past the limit still has records to call with.
void ReserveCallRecord(qvVmState* L) {
    if (L->ci + 1 != L->endCi) return;
    if (L->sizeCi > kMaxCallRecords) VmThrow(L, ERR_STACK);
    VmResizeCallInfo(L, 2 * L->sizeCi);
    if (L->sizeCi > kMaxCallRecords) RaiseError(L, ERR_STACK);
}

// Puts the "__call" metamethod of the value at func in its place; the value itself becomes
// the first argument.
qvValue* CallThroughMetamethod(qvVmState* L, qvValue* func) {
    const qvValue* tm = VmGetTagMethod(L, func, TM_CALL);
    if (!IsFunction(tm)) VmTypeError(L, func, ERR_FUNCDECLA, "()");
    qvValue callee = *tm;
    ptrdiff_t funcOffset = SaveStack(L, func);
    CheckStack(L, 1);
    func = RestoreStack(L, funcOffset);
    for (qvValue* p = L->top; p > func; --p) p[0] = p[-1];
    ++L->top;
    *func = callee;
    return func;
}

void TraceArgument(EngineHost& host, int i, const qvValue* v) {
    char text[64];
    switch (v->tag) {
        case VM_TNIL:
            std::snprintf(text, sizeof text, "#%d=(NIL) ", i);
            break;
        case VM_TNUMBER:
            std::snprintf(text, sizeof text, "#%d=(NUMBER)%g ", i, v->value.n);
            break;
        case VM_TSTRING:
            // Script text is data: it never reaches a format.
            std::snprintf(text, sizeof text, "#%d=(STRING)\"", i);
            host.WriteDebug(text);
            host.WriteDebug(std::string_view(StringOf(v)->Data(), StringOf(v)->length));
            host.WriteDebug("\" ");
            return;
        case VM_TTABLE:
            std::snprintf(text, sizeof text, "#%d=(TABLE)%p ", i, static_cast<void*>(v->value.gc));
            break;
        case VM_TFUNCTION:
            std::snprintf(text, sizeof text, "#%d=(FUNCPTR)%p ", i,
                          static_cast<void*>(v->value.gc));
            break;
        default:
            std::snprintf(text, sizeof text, "#%d=(INTERNAL)%d ", i, v->tag);
            break;
    }
    host.WriteDebug(text);
}

// One line per command call: its name as the debug interface gives it for the current level,
// then its arguments by type.
void TraceCall(qvVmState* L) {
    EngineHost& host = Host(L);
    qvDebugRecord ar{};
    ar.callRecord = static_cast<int>(L->ci - L->baseCi);
    VmGetInfo(L, "n", &ar);
    const char* name = ar.name;
    host.WriteDebug("Now calling ");
    host.WriteDebug(name != nullptr ? name : "?");
    host.WriteDebug("()");
    int nargs = static_cast<int>(L->top - L->base);
    if (nargs > 0) host.WriteDebug(" with arguments ");
    for (int i = 0; i < nargs; ++i) TraceArgument(host, i + 1, L->base + i);
    host.WriteDebug("\n");
}

// The position of a command's first result, or the top (no results) with *code set.
qvValue* CommandResult(qvVmState* L, int n, int* code) {
    if (n < 0 || n > VM_MAXRESULTS) {
        *code = n;
        return L->top;
    }
    // A handler may claim more results than it pushed: never copy from below its frame.
    ptrdiff_t inFrame = L->top - L->base;
    if (n > inFrame) n = static_cast<int>(inFrame);
    return L->top - n;
}

qvValue* CallNative(qvVmState* L, qvValue* func, int* code) {
    ptrdiff_t funcOffset = SaveStack(L, func);
    if (L->stackLast - L->top <= kNativeFrameSlots) VmGrowStack(L, kNativeFrameSlots);
    qvCallRecord* ci = ++L->ci;
    L->base = ci->base = RestoreStack(L, funcOffset) + 1;
    ci->top = L->top + kNativeFrameSlots;
    ci->state = VM_CI_NATIVE;
    ci->savedpc = nullptr;
    ci->pc = nullptr;
    ci->tailcalls = 0;
    if ((L->hookmask & VM_MASKCALL) != 0) VmCallHook(L, VM_HOOKCALL, -1);
    EngineHost& host = Host(L);
    if (host.DebugTrace() && host.AbortFlag().load() == 0) TraceCall(L);
    qvCFunction f = CClosureOf(RestoreStack(L, funcOffset))->f;
    if (!host.IsGetLastError(f)) host.SetLastError(0);
    return CommandResult(L, f(L), code);
}

// Moves the arguments beyond the parameters into a table {[0] = first, ..., n = count}, which
// takes their place; missing parameters become nil first.
void CollectVarargs(qvVmState* L, ptrdiff_t funcOffset, int numparams) {
    ptrdiff_t nargs = L->top - (RestoreStack(L, funcOffset) + 1);
    if (nargs < numparams) {
        CheckStack(L, static_cast<int>(numparams - nargs));
        for (; nargs < numparams; ++nargs) SetNil(L->top++);
    }
    int nextra = static_cast<int>(nargs - numparams);
    qvTable* t = VmTableNew(L, nextra > 1 ? nextra - 1 : 0, 1);
    qvValue* extra = L->top - nextra;
    for (int i = 0; i < nextra; ++i) *VmTableSetNum(L, t, i) = extra[i];
    qvValue key;
    SetString(&key, VmNewString(L, "n", 1));
    SetNumber(VmTableSet(L, t, &key), nextra);
    L->top -= nextra;
    CheckStack(L, 1);
    SetTable(L->top++, t);
}

qvValue* OpenScriptFrame(qvVmState* L, qvValue* func) {
    ptrdiff_t funcOffset = SaveStack(L, func);
    qvProto* p = LClosureOf(func)->proto;
    if (p->isVararg != 0) CollectVarargs(L, funcOffset, p->numparams);
    if (L->stackLast - L->top <= p->maxstacksize) VmGrowStack(L, p->maxstacksize);
    PushScriptFrame(L, RestoreStack(L, funcOffset), p);
    return nullptr;
}

// Runs the script frame opened at funcOffset. When the interpreter ends without a position
// (abort, suspension) the call returns nothing: the frames it left open above are dropped,
// with the native levels of metamethods the interpreter ran in them and the subroutine
// entries pushed inside them, so that native code resumes on its own frame and no later
// RETSUB returns into them.
qvValue* RunScriptFrame(qvVmState* L, ptrdiff_t funcOffset) {
    ptrdiff_t record = L->ci - L->baseCi;
    int32_t subroutineDepth = L->g->subroutineDepth;
    uint16_t nCcalls = L->nCcalls;
    qvValue* firstResult = VmExecute(L);
    if (firstResult == nullptr) {
        VmCloseUpvalues(L, RestoreStack(L, funcOffset) + 1);
        L->ci = L->baseCi + record;
        L->base = L->ci->base;
        L->g->subroutineDepth = subroutineDepth;
        L->nCcalls = nCcalls;
    }
    return firstResult;
}

// Keeps the process-wide current-instruction index across a call made from native code, so
// that a command that calls back into script places its label jump from its own CALL, however
// the call ends.
class CurrentInstructionKept {
public:
    explicit CurrentInstructionKept(qvVmGlobalState* g) : g_(g), index_(g->currentInstruction) {}
    ~CurrentInstructionKept() { g_->currentInstruction = index_; }
    CurrentInstructionKept(const CurrentInstructionKept&) = delete;
    CurrentInstructionKept& operator=(const CurrentInstructionKept&) = delete;

private:
    qvVmGlobalState* g_;
    int32_t index_;
};

// A complete call from native code; with handleError a command's error code goes to the
// host's error hook while the command is still the current level, as a script's CALL does.
int DoCall(qvVmState* L, qvValue* func, int nResults, bool handleError) {
    const CurrentInstructionKept kept(L->g);
    EnterNativeCall(L);
    ptrdiff_t funcOffset = SaveStack(L, func);
    int code = 0;
    qvValue* firstResult;
    // Metamethods and iterators are mostly script functions whose frame fits at once.
    if (const qvProto* p = ScriptFrameFits(L, func, L->top)) {
        PushScriptFrame(L, func, p);
        firstResult = RunScriptFrame(L, funcOffset);
    } else {
        firstResult = VmPreCall(L, func, &code);
        if (firstResult == nullptr) firstResult = RunScriptFrame(L, funcOffset);
    }
    if (code == -1 || code == -2) {
        code = 0;  // no subroutine jump is made outside the interpreter
    } else if (code != 0 && handleError) {
        Host(L).HandleCommandError(L, code);
    }
    PostCall(L, nResults, firstResult);
    --L->nCcalls;
    VmCheckGC(L);
    return code;
}

void ShrinkCallRecords(qvVmState* L, void*) {
    VmResizeCallInfo(L, kMaxCallRecords);
}

}  // namespace

void EnterNativeCall(qvVmState* L) {
    if (++L->nCcalls < kNativeCallLimit) return;
    // Counts above the limit proceed up to the hard limit, so that error handling can call.
    if (L->nCcalls == kNativeCallLimit) RaiseError(L, ERR_STACK);
    if (L->nCcalls > kNativeCallHardLimit) VmThrow(L, ERR_STACK);
}

void CallValue(qvVmState* L, qvValue* func, int nResults) {
    DoCall(L, func, nResults, true);
}

}  // namespace qv

using namespace qv;

qvValue* VmPreCall(qvVmState* L, qvValue* func, int* code) {
    *code = 0;
    if (!IsFunction(func)) func = CallThroughMetamethod(L, func);
    ptrdiff_t funcOffset = SaveStack(L, func);
    if (L->g->stackTorture) MoveStacks(L);
    ReserveCallRecord(L);
    func = RestoreStack(L, funcOffset);
    if (ClosureOf(func)->isNative) return CallNative(L, func, code);
    return OpenScriptFrame(L, func);
}

void VmPostCall(qvVmState* L, int wanted, qvValue* firstResult) {
    if ((L->hookmask & VM_MASKRET) != 0) {
        ptrdiff_t resultOffset = firstResult != nullptr ? SaveStack(L, firstResult) : -1;
        VmCallHook(L, VM_HOOKRET, -1);
        if ((L->ci->state & VM_CI_NATIVE) == 0) {
            while (L->ci->tailcalls > 0) {
                --L->ci->tailcalls;
                VmCallHook(L, VM_HOOKTAILRET, -1);
            }
        }
        if (firstResult != nullptr) firstResult = RestoreStack(L, resultOffset);
    }
    CloseFrame(L, wanted, firstResult);
}

int VmDoCall(qvVmState* L, qvValue* func, int nResults) {
    return DoCall(L, func, nResults, false);
}

void VmCallHook(qvVmState* L, int event, int line) {
    if (L->hook == nullptr || L->allowhook == 0) return;
    qvDebugRecord ar =
        HookRecord(event, line, event == VM_HOOKTAILRET ? 0 : static_cast<int>(L->ci - L->baseCi));
    RunHook(L, &ar);
}

// After an error the top returns to oldTop, so the caller's next pushes stay inside its
// frame; no error value is pushed. The stack limit keeps its reserve throughout. Subroutine
// entries pushed by the frames the error ended are dropped with them.
int VmDoPCall(qvVmState* L, qvProtectedFunction f, void* ud, ptrdiff_t oldTop,
              ptrdiff_t errorFunction) {
    uint16_t nCcalls = L->nCcalls;
    int32_t subroutineDepth = L->g->subroutineDepth;
    ptrdiff_t record = L->ci - L->baseCi;
    uint8_t allowhook = L->allowhook;
    ptrdiff_t errfunc = L->errfunc;
    L->errfunc = errorFunction;
    int status = VmProtectedRun(L, f, ud);
    if (status != 0) {
        qvValue* top = RestoreStack(L, oldTop);
        VmCloseUpvalues(L, top);
        L->nCcalls = nCcalls;
        L->ci = L->baseCi + record;
        L->base = L->ci->base;
        L->allowhook = allowhook;
        L->top = top;
        L->g->subroutineDepth = subroutineDepth;
        // Shrinking may fail like any allocation; the larger array then stays.
        if (L->sizeCi > kMaxCallRecords && record + 1 <= kMaxCallRecords - 2) {
            qv::RunEconomy(L, ShrinkCallRecords, nullptr);
        }
    }
    L->errfunc = errfunc;
    return status;
}
