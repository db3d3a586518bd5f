// Helpers shared by the call machinery, the stack interface, the argument interface and the
// engine's host: stack-index resolution, calls from native code and call-level queries.
#pragma once

#include <algorithm>
#include <initializer_list>

#include "engine/internal.h"

namespace qv {

// The value an index denotes (positive, top-relative, registry, globals or upvalue), or
// nullptr for "none": 0, a position at or above the top, below the frame, or an upvalue the
// running command does not have.
qvValue* IndexToValue(qvVmState* L, int idx);

// The string at idx, converting a number there to its text in place (a collection may run
// first), or nullptr for any other value.
qvString* StringAt(qvVmState* L, int idx);

// The table an index denotes, or nullptr.
inline qvTable* TableAtIndex(qvVmState* L, int idx) {
    const qvValue* v = IndexToValue(L, idx);
    return v != nullptr && IsTable(v) ? TableOf(v) : nullptr;
}

// The metatable of a table or full user data, or nullptr for every other value.
inline qvTable* MetatableOf(const qvValue* v) {
    if (IsTable(v)) return TableOf(v)->metatable;
    if (v->tag == VM_TUSERDATA) return UserdataOf(v)->metatable;
    return nullptr;
}

// Turns a top-relative index into one that stays valid across pushes.
inline int AbsIndex(qvVmState* L, int idx) {
    return (idx <= 0 && idx > VM_REGISTRYINDEX) ? static_cast<int>(L->top - L->base) + idx + 1
                                                : idx;
}

// Pushes a copy of v (which may lie on the stack), growing the stack when it is full.
inline void PushValue(qvVmState* L, const qvValue* v) {
    qvValue copy;
    CopyValue(&copy, v);
    CheckStack(L, 1);
    CopyValue(L->top++, &copy);
}

// --- Script frames, shared by the call machinery and the interpreter's own call path ---

// The prototype of func when it is a script function whose frame can open at once above
// values that end before argsEnd: a spare call record, room for its registers, no varargs to
// gather; else nullptr. Stack torture moves the stacks at every call, so it always takes the
// general path.
inline const qvProto* ScriptFrameFits(const qvVmState* L, const qvValue* func,
                                      const qvValue* argsEnd) {
    if (!IsFunction(func) || ClosureOf(func)->isNative) return nullptr;
    const qvProto* p = LClosureOf(func)->proto;
    bool fits = p->isVararg == 0 && L->ci + 1 != L->endCi &&
                L->stackLast - argsEnd > p->maxstacksize && !L->g->stackTorture;
    return fits ? p : nullptr;
}

// Opens the frame of script function p whose value is at func and whose arguments end before
// argsEnd: a record above the current one, the registers from argsEnd nil up to the frame's
// top. The caller has made room for both, and sets the record's position fields (saved
// position, position pointer, state) itself, so that each is written once.
// The registers are cleared before the record is written: the compiler cannot tell that the
// stores to values miss the record.
inline qvCallRecord* PushFrameRecord(qvVmState* L, qvValue* func, const qvValue* argsEnd,
                                     const qvProto* p) {
    qvValue* base = func + 1;
    qvValue* top = base + p->maxstacksize;
    for (qvValue* v = const_cast<qvValue*>(argsEnd); v < top; ++v) SetNil(v);
    qvCallRecord* ci = ++L->ci;
    L->base = ci->base = base;
    L->top = ci->top = top;
    ci->proto = p;
    ci->tailcalls = 0;
    return ci;
}

// The frame as native code opens it, its arguments up to the stack top: the position saved at
// the start of the code.
inline void PushScriptFrame(qvVmState* L, qvValue* func, const qvProto* p) {
    qvCallRecord* ci = PushFrameRecord(L, func, L->top, p);
    ci->savedpc = p->code;
    ci->pc = nullptr;
    ci->state = VM_CI_SAVEDPC;
}

// Drops the current record and moves up to wanted results (all for -1) from firstResult to the
// function's slot, filling missing ones with nil; the top ends just past them. A firstResult
// of null (or at or above the top) copies nothing.
inline void CloseFrame(qvVmState* L, int wanted, const qvValue* firstResult) {
    qvValue* res = L->ci->base - 1;
    --L->ci;
    L->base = L->ci->base;
    ptrdiff_t available = firstResult != nullptr && firstResult < L->top ? L->top - firstResult : 0;
    ptrdiff_t copied = wanted < 0 ? available : std::min<ptrdiff_t>(wanted, available);
    for (ptrdiff_t j = 0; j < copied; ++j) CopyValue(res + j, firstResult + j);
    for (ptrdiff_t j = copied; j < wanted; ++j) SetNil(res + j);
    L->top = res + std::max<ptrdiff_t>(copied, wanted);
}

// VmPostCall with its hook test in line.
inline void PostCall(qvVmState* L, int wanted, qvValue* firstResult) {
    if ((L->hookmask & VM_MASKRET) != 0)
        VmPostCall(L, wanted, firstResult);
    else
        CloseFrame(L, wanted, firstResult);
}

// A hook's record: what the hook is given. The debug queries fill the rest on demand.
inline qvDebugRecord HookRecord(int event, int line, int callRecord) {
    qvDebugRecord ar;
    ar.event = event;
    ar.name = nullptr;
    ar.namewhat = "";
    ar.what = nullptr;
    ar.source = nullptr;
    ar.currentline = line;
    ar.nups = 0;
    ar.linedefined = -1;
    ar.shortSource[0] = '\0';
    ar.callRecord = callRecord;
    return ar;
}

// Runs the installed hook with ar, whose event, current line and call-record index the caller
// has filled: more than a command's share of free slots above the top for it, no hook inside
// it, its non-zero status thrown. The stack positions are kept as offsets: the hook may grow
// the stack. In line for the interpreter's line hook, which production installs and which
// therefore runs at every backward jump and function entry.
inline void RunHook(qvVmState* L, qvDebugRecord* ar) {
    ptrdiff_t top = SaveStack(L, L->top);
    ptrdiff_t ciTop = SaveStack(L, L->ci->top);
    if (L->stackLast - L->top <= kNativeFrameSlots) [[unlikely]]
        VmGrowStack(L, kNativeFrameSlots);
    L->ci->top = L->top + kNativeFrameSlots;
    L->allowhook = 0;
    int status = 0;
    L->hook(L, ar, &status);
    if (status != 0) [[unlikely]]
        VmThrow(L, status);
    L->allowhook = 1;
    L->ci->top = RestoreStack(L, ciTop);
    L->top = RestoreStack(L, top);
}

// One more native call level (metamethods count as one too): ERR_STACK at the limit, thrown
// at once beyond the hard limit that error handling may still use.
void EnterNativeCall(qvVmState* L);

// VmDoCall for the engine's own native callers (stack interface, metamethods, iterators): a
// command's error code goes to the host's error hook, exactly as a script's CALL hands it.
void CallValue(qvVmState* L, qvValue* func, int nResults);

// Calls the metamethod tm with args (copies: pushing may move the stack) and nResults
// results, which the caller finds on top.
void CallMetamethod(qvVmState* L, const qvValue* tm, std::initializer_list<qvValue> args,
                    int nResults);
// tm(a, b) with one result, popped: valid until the next push. Comparison metamethods read it
// by their own rule (MetamethodTrue).
const qvValue* CallBinary(qvVmState* L, const qvValue* tm, const qvValue* a, const qvValue* b);

// Index of the instruction a script call record is executing (-1 before the first); the
// live position is read first when the interpreter runs the record.
int CurrentPc(qvCallRecord* ci);
// Line of that instruction: -1 for a native call record, 0 when the function has no line
// information.
int CurrentLine(qvCallRecord* ci);
// The function of activation level (0 = the current one), or nullptr when there is none or
// the level is a lost tail call.
const qvValue* LevelFunction(qvVmState* L, int level);
// The current line of activation level, -1 when there is none.
int LevelLine(qvVmState* L, int level);
// Name of a global whose value is fn, or nullptr.
const char* GlobalFunctionName(qvVmState* L, const qvValue* fn);

}  // namespace qv
