// The interpreter loop: runs script functions, following calls and returns between them
// without nesting, and carries the run-time's ways of steering a script (abort flag, line
// hook, command error codes, subroutine jumps to labels).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <type_traits>

#include "engine/api_internal.h"
#include "engine/arith.h"
#include "engine/host.h"
#include "engine/opcodes.h"

namespace qv {
namespace {

// Calls tm(a, b) with one result and stores it at the stack offset resultOffset.
void CallMetamethodInto(qvVmState* L, ptrdiff_t resultOffset, const qvValue* tm, const qvValue* a,
                        const qvValue* b) {
    const qvValue* result = CallBinary(L, tm, a, b);
    CopyValue(RestoreStack(L, resultOffset), result);
}

// The "__index" of metatable mt, or nullptr when it has none.
const qvValue* IndexMetamethod(qvVmState* L, qvTable* mt) {
    if (mt == nullptr || (mt->flags & (1u << TM_INDEX))) return nullptr;
    return VmFastTagMethod(mt, TM_INDEX, L->g->tmname[TM_INDEX]);
}

// The 1159 parameter names the key: a string between double quotation marks (cut so that
// the closing mark stays inside the 511-byte text store), a number by "%g", a boolean as
// "true" or "false", anything else by its type name.
[[noreturn]] void RaiseMissingField(qvVmState* L, const qvValue* key) {
    char text[kErrorTextMax + 1];
    switch (key->tag) {
        case VM_TSTRING: {
            size_t n = std::min<size_t>(StringOf(key)->length, kErrorTextMax - 2);
            text[0] = '"';
            std::memcpy(text + 1, StringOf(key)->Data(), n);
            text[n + 1] = '"';
            Host(L).SetErrorText(std::string_view(text, n + 2));
            break;
        }
        case VM_TNUMBER:
            std::snprintf(text, sizeof text, "%g", key->value.n);
            Host(L).SetErrorText(text);
            break;
        case VM_TBOOLEAN:
            Host(L).SetErrorText(key->value.b ? "true" : "false");
            break;
        default:
            Host(L).SetErrorText(TypeName(key->tag));
    }
    RaiseError(L, ERR_FIELDINIT);
}

// R(A) := t[key] for GETTABLE (missing fields are errors) and SELF (missing methods are nil).
void IndexInto(qvVmState* L, ptrdiff_t resultOffset, const qvValue* t, const qvValue* key,
               bool missingIsError) {
    if (IsTable(t)) {
        const qvValue* v = VmTableGet(TableOf(t), key);
        if (!IsNil(v)) {
            CopyValue(RestoreStack(L, resultOffset), v);
            return;
        }
        const qvValue* tm = IndexMetamethod(L, TableOf(t)->metatable);
        if (tm == nullptr) {
            if (missingIsError) RaiseMissingField(L, key);
            SetNil(RestoreStack(L, resultOffset));
            return;
        }
        if (IsFunction(tm)) return CallMetamethodInto(L, resultOffset, tm, t, key);
        qvValue chainStart = *tm;
        v = VmGetTableChain(L, &chainStart, key, 0);
        if (v == &kNilObject && missingIsError) RaiseMissingField(L, key);
        CopyValue(RestoreStack(L, resultOffset), v);
        return;
    }
    const qvValue* tm = VmGetTagMethod(L, t, TM_INDEX);
    if (IsNil(tm)) VmTypeError(L, t, ERR_TABLEDECLA, "{}");
    if (IsFunction(tm)) return CallMetamethodInto(L, resultOffset, tm, t, key);
    qvValue chainStart = *tm;
    CopyValue(RestoreStack(L, resultOffset), VmGetTableChain(L, &chainStart, key, 0));
}

void GetGlobal(qvVmState* L, ptrdiff_t resultOffset, const qvValue* globals, const qvValue* key) {
    if (!IsTable(globals)) {
        CopyValue(RestoreStack(L, resultOffset), VmGetTableChain(L, globals, key, 0));
        return;
    }
    const qvValue* v = VmTableGetStr(TableOf(globals), StringOf(key));
    if (!IsNil(v)) {
        CopyValue(RestoreStack(L, resultOffset), v);
        return;
    }
    const qvValue* tm = IndexMetamethod(L, TableOf(globals)->metatable);
    if (tm == nullptr) {
        SetNil(RestoreStack(L, resultOffset));
    } else if (IsFunction(tm)) {
        CallMetamethodInto(L, resultOffset, tm, globals, key);
    } else {
        qvValue chainStart = *tm;
        CopyValue(RestoreStack(L, resultOffset), VmGetTableChain(L, &chainStart, key, 0));
    }
}

// UNM and BNOT on a value that is not a number: conversion, else the metamethod(x, nil).
void UnaryArith(qvVmState* L, ptrdiff_t resultOffset, const qvValue* x, int event) {
    qvValue scratch;
    const qvValue* n = VmToNumberObj(x, &scratch);
    if (n != nullptr) {
        qvNumber r = event == TM_UNM ? -n->value.n : static_cast<qvNumber>(~Bits32(n->value.n));
        SetNumber(RestoreStack(L, resultOffset), r);
        return;
    }
    const qvValue* tm = VmGetTagMethod(L, x, event);
    if (!IsFunction(tm)) RaiseError(L, ERR_WRONGOP);
    CallMetamethodInto(L, resultOffset, tm, x, &kNilObject);
}

bool LessThan(qvVmState* L, const qvValue* l, const qvValue* r) {
    return VmCompareValues(L, l, r, 1);
}

bool LessEqual(qvVmState* L, const qvValue* l, const qvValue* r) {
    if (IsNumber(l) && IsNumber(r)) return l->value.n <= r->value.n;
    if (IsNil(l)) {
        if (IsNumber(r)) return 0 <= r->value.n;
        if (IsString(r)) return false;
        if (IsNil(r)) return true;
        RaiseError(L, ERR_WRONGOP);
    }
    if (IsNil(r)) {
        if (IsNumber(l)) return l->value.n <= 0;
        if (IsString(l)) return false;
        RaiseError(L, ERR_WRONGOP);
    }
    if (l->tag != r->tag) {
        bool numberWithString = (IsNumber(l) && IsString(r)) || (IsString(l) && IsNumber(r));
        RaiseError(L, numberWithString ? ERR_NUMSTRCMP : ERR_WRONGOP);
    }
    if (IsString(l)) return !VmCompareValues(L, r, l, 1);
    const qvValue* le = VmGetTagMethod(L, l, TM_LE);
    if (!IsNil(le) && VmRawEqualObj(le, VmGetTagMethod(L, r, TM_LE)))
        return MetamethodTrue(CallBinary(L, le, l, r));
    const qvValue* lt = VmGetTagMethod(L, r, TM_LT);
    if (!IsNil(lt) && VmRawEqualObj(lt, VmGetTagMethod(L, l, TM_LT)))
        return !MetamethodTrue(CallBinary(L, lt, r, l));
    RaiseError(L, ERR_WRONGOP);
}

// FORLOOP's limit or step: nil becomes 0 and a numeric string its number, in place.
void LoopNumber(qvVmState* L, qvValue* v) {
    if (IsNumber(v)) return;
    qvValue scratch;
    const qvValue* n = VmToNumberObj(v, &scratch);
    if (n == nullptr) RaiseError(L, ERR_VALUEEXPECTED);
    SetNumber(v, n->value.n);
}

// FORLOOP's operands when they are not all numbers: the index must be one; the limit and the
// step are made numbers in place.
[[gnu::noinline]] void ForLoopOperands(qvVmState* L, qvValue* ra) {
    if (!IsNumber(ra)) RaiseError(L, ERR_VALUEEXPECTED);
    LoopNumber(L, ra + 1);
    LoopNumber(L, ra + 2);
}

// The engine's own iterator for generic loops over a table: the next key and value, or a
// single nil at the end.
int EngineNext(qvVmState* L) {
    VmSetTop(L, 2);
    if (VmNext(L, 1)) return 2;
    VmPushNil(L);
    return 1;
}

qvValue NextFunction(qvVmState* L) {
    const qvValue* own = VmTableGetStr(TableOf(&L->globals), VmNewString(L, "next", 4));
    if (!IsNil(own)) return *own;
    qvValue& iterator = L->g->nextIterator;
    if (IsNil(&iterator)) {
        qvCClosure* c = VmNewCClosure(L, 0);
        c->f = EngineNext;
        SetFunction(&iterator, c);
    }
    return iterator;
}

void SetList(qvVmState* L, qvValue* ra, uint32_t bx, bool countFromTop) {
    if (!IsTable(ra)) VmTypeError(L, ra, ERR_TABLEDECLA, "{}");
    int n;
    if (countFromTop) {
        n = static_cast<int>(L->top - ra - 1);
        L->top = L->ci->top;
    } else {
        n = static_cast<int>(SetListCount(bx));
    }
    qvTable* h = TableOf(ra);
    int first = static_cast<int>(SetListFirstKey(bx));
    for (int j = n - 1; j >= 0; --j) CopyValue(VmTableSetNum(L, h, first + j), ra + 1 + j);
}

int CallRecordIndex(qvVmState* L) {
    return static_cast<int>(L->ci - L->baseCi);
}

void PushSubroutine(qvVmState* L, const qvProto* p, int returnPc) {
    qvVmGlobalState* g = L->g;
    if (g->subroutineDepth >= kSubroutineStackSize) RaiseError(L, ERR_INTERNAL);
    g->subroutineStack[g->subroutineDepth++] = {CallRecordIndex(L), p, returnPc};
}

// A return from a subroutine goes back only into the frame that jumped.
int PopSubroutine(qvVmState* L, const qvProto* p) {
    qvVmGlobalState* g = L->g;
    if (g->subroutineDepth == 0) RaiseError(L, ERR_RETWOGOSUB);
    const qvSubroutineEntry& top = g->subroutineStack[g->subroutineDepth - 1];
    if (top.callRecord != CallRecordIndex(L) || top.proto != p) RaiseError(L, ERR_RETWOGOSUB);
    --g->subroutineDepth;
    return top.pc;
}

// Where a command's -1/-2 request continues: only inside the main chunk's own code.
int LabelJumpTarget(qvVmState* L, const qvProto* p, int next, int request) {
    int destination = next + L->g->labelJumpDistance;
    bool valid = p->lineDefined == 0 && destination >= 0 && destination < p->sizecode &&
                 (request == -1 || next >= 2);
    if (!valid) RaiseError(L, ERR_FUNCJMP);
    PushSubroutine(L, p, request == -1 ? next : next - 2);
    return destination;
}

int LineOf(const qvProto* p, int pcIndex) {
    if (p->lineinfo == nullptr || pcIndex < 0 || pcIndex >= p->sizelineinfo) return 0;
    return p->lineinfo[pcIndex];
}

// Operand fields are decoded straight into byte offsets of values: a shift and a mask each,
// where the field's index would take a shift, a mask and a scaling.
static_assert(sizeof(qvValue) == 16);
inline constexpr int kValueShift = 4;
inline constexpr uint32_t kConstOffset = kRKConstBase << kValueShift;

inline uint32_t OffsetB(uint32_t i) {
    return (i >> (kBShift - kValueShift)) & (kMaxB << kValueShift);
}
inline uint32_t OffsetC(uint32_t i) {
    return (i >> (kCShift - kValueShift)) & (kMaxC << kValueShift);
}

template <typename Value>
inline Value* ValueAt(Value* origin, uint32_t offset) {
    using Byte = std::conditional_t<std::is_const_v<Value>, const char, char>;
    return reinterpret_cast<Value*>(reinterpret_cast<Byte*>(origin) + offset);
}

// An RK operand, by its byte offset: a register, or a constant from 250 on.
inline const qvValue* RegisterOrConstant(uint32_t offset, const qvValue* base, const qvValue* k) {
    return offset >= kConstOffset ? ValueAt(k, offset - kConstOffset) : ValueAt(base, offset);
}

// The left operand of arithmetic and comparisons, which compiled code mostly keeps in a
// register: that case falls through.
inline const qvValue* LeftOperand(uint32_t offset, const qvValue* base, const qvValue* k) {
    if (offset >= kConstOffset) [[unlikely]]
        return ValueAt(k, offset - kConstOffset);
    return ValueAt(base, offset);
}

// The end of an operation whose script metamethod the interpreter ran in its own loop: as
// after a metamethod called from native code, its native level ends and the collector check
// runs; then its one result, on top, goes to R(A) of the waiting instruction.
void FinishOperation(qvVmState* L, qvInstruction pending) {
    --L->nCcalls;
    VmCheckGC(L);
    CopyValue(L->ci->base + GetA(pending), L->top - 1);
    L->top = L->ci->top;
}

// What the attention step before an instruction came to: nothing ran, something ran (the
// stack may have moved), or the frame stops (the abort flag is set, or a hook suspended the
// thread).
enum class HookOutcome { kNone, kRan, kStop };

// After a hook ran: when it suspended the thread, the instruction is fetched again when the
// frame resumes.
HookOutcome AfterHook(qvVmState* L, const qvInstruction* pc) {
    if (!(L->ci->state & VM_CI_SUSPENDED)) return HookOutcome::kRan;
    L->ci->savedpc = pc - 1;
    L->ci->state = VM_CI_SAVEDPC | VM_CI_SUSPENDED;
    return HookOutcome::kStop;
}

// The line step of initialised hooks, in the loop: the position is recorded, and the hook is
// due on a backward jump or a restart, and on a new line. pc already points past the
// instruction. A running frame that has not fetched its first instruction yet keeps
// FirstInstructionMark as its saved position, so that its first instruction counts as a
// restart.
inline bool LineHookDue(qvVmState* L, const qvProto* p, const qvInstruction* pc) {
    qvCallRecord* ci = L->ci;
    const qvInstruction* last = ci->savedpc;
    ci->savedpc = pc;
    if (pc <= last) return true;
    return p->lineinfo != nullptr && LineOf(p, static_cast<int>(pc - p->code) - 1) !=
                                         LineOf(p, static_cast<int>(last - p->code) - 1);
}

// The saved position a running frame keeps until its first fetch (see LineHookDue).
inline const qvInstruction* FirstInstructionMark(const qvProto* p) {
    return p->code + 1;
}

// The line of the instruction just fetched. A loaded function's line table, when it has one,
// covers all its code.
inline int FetchedLine(const qvProto* p, const qvInstruction* pc) {
    if (p->lineinfo == nullptr) return 0;
    return p->lineinfo[pc - 1 - p->code];
}

// The line hook that LineHookDue found due, on the instruction just fetched. In line in the
// loop: production runs it at every backward jump and function entry. The loop keeps one
// record for its line hooks, filled in full at the first (its event is not yet the line
// event) and then written only where it changes; fields a debug query filled in keep their
// values until the next query fills them again.
inline HookOutcome RunLineHook(qvVmState* L, qvDebugRecord* ar, const qvProto* p,
                               const qvInstruction* pc) {
    if (L->allowhook == 0) [[unlikely]]
        return HookOutcome::kNone;
    if (ar->event != VM_HOOKLINE) [[unlikely]]
        *ar = HookRecord(VM_HOOKLINE, 0, 0);
    ar->currentline = FetchedLine(p, pc);
    ar->callRecord = CallRecordIndex(L);
    RunHook(L, ar);
    return AfterHook(L, pc);
}

// Any hook mix other than a plain line hook: the count runs down first, then the count hook
// or else the line step.
[[gnu::noinline]] HookOutcome RunTraceHooks(qvVmState* L, const qvProto* p,
                                            const qvInstruction* pc) {
    if ((L->hookmask & VM_MASKCOUNT) && --L->hookcount == 0) {
        L->hookcount = L->basehookcount;
        VmCallHook(L, VM_HOOKCOUNT, -1);
        return AfterHook(L, pc);
    }
    if (!(L->hookmask & VM_MASKLINE)) return HookOutcome::kNone;
    if (!L->hookinit) {
        // The first line step only initialises the hooks, recording every running frame's
        // position.
        VmInitHooks(L);
        return HookOutcome::kRan;
    }
    if (!LineHookDue(L, p, pc)) return HookOutcome::kNone;
    VmCallHook(L, VM_HOOKLINE, FetchedLine(p, pc));
    return AfterHook(L, pc);
}

// Whether the host's abort flag is set. A raised bit whose flag has been cleared since is
// lowered, and the flag read once more, so that a setter in between is not missed.
bool AbortRequested(qvVmState* L, uint8_t attention) {
    const AbortFlag& flag = Host(L).AbortFlag();
    if (flag.load(std::memory_order_relaxed) != 0) return true;
    if ((attention & kAttentionAbort) == 0) return false;
    L->attention.fetch_and(static_cast<uint8_t>(~kAttentionAbort));
    return flag.load() != 0;
}

// Whatever the thread's attention asks for before the instruction just fetched, other than a
// line hook alone: the abort test first, then the hooks.
[[gnu::noinline]] HookOutcome Attend(qvVmState* L, const qvProto* p, const qvInstruction* pc) {
    const uint8_t attention = L->attention.load(std::memory_order_relaxed);
    if ((attention & (kAttentionAbort | kAttentionPoll)) != 0 && AbortRequested(L, attention))
        return HookOutcome::kStop;
    if ((attention & (kAttentionLine | kAttentionHooks)) == 0) return HookOutcome::kNone;
    return RunTraceHooks(L, p, pc);
}

// The call hook on entering a script function, with the frame's position published.
[[gnu::noinline]] void RunCallHook(qvVmState* L, const qvInstruction** publishedPc,
                                   const qvInstruction* position) {
    L->ci->pc = publishedPc;
    *publishedPc = position;
    VmCallHook(L, VM_HOOKCALL, -1);
}

}  // namespace

void SetLabelJump(qvVmState* L, int labelPc) {
    L->g->labelJumpDistance = labelPc - L->g->currentInstruction;
}

}  // namespace qv

void VmInitHooks(qvVmState* L) {
    for (qvCallRecord* ci = L->ci; ci != L->baseCi; --ci) {
        if (ci->state & VM_CI_RUNNING) ci->savedpc = *ci->pc;
    }
    L->hookinit = 1;
    qv::UpdateHookAttention(L);
}

qvValue* VmExecute(qvVmState* L) {
    using namespace qv;
    // pc stays in a register. Hooks, error reports and the debug interface read the copy
    // published through the call record, which is written only before something can read
    // it (VM_PUBLISH): a call out of the loop, an error, a hook.
    const qvInstruction* pc;
    const qvInstruction* publishedPc = nullptr;
    const qvProto* proto;  // the running function's
    const qvValue* k;
    qvValue* base;
    qvValue* ra;
    qvInstruction i;
    qvDebugRecord lineRecord;  // see RunLineHook
    lineRecord.event = VM_HOOKCALL;

callentry:
    if (L->hookmask & VM_MASKCALL) RunCallHook(L, &publishedPc, L->ci->savedpc);
resume:  // the current record's frame runs from its saved position
    L->ci->pc = &publishedPc;
    L->ci->state = VM_CI_RUNNING;
    pc = L->ci->savedpc;
    base = L->base;
    proto = LClosureOf(base - 1)->proto;
    k = proto->k;
    if (pc == proto->code) {
        // A frame that starts here: its first instruction counts as a restart.
        L->ci->savedpc = FirstInstructionMark(proto);
    }
    // Operand access is spelled as macros, not lambdas: a lambda capturing pc, base or k by
    // reference takes their addresses, and the compiler then keeps them in memory.
    // After anything that may call out: the stack may have moved.
#define VM_RELOAD() (base = L->base)
    // The running closure sits just below the frame; read where needed rather than held.
#define VM_CLOSURE() LClosureOf(base - 1)

    // The running frame's position, for whatever reads it next: every operation publishes it
    // before it can call out of the loop, raise an error or run a hook.
#define VM_PUBLISH() (publishedPc = pc)
    // Fetch: the instruction and one test of the thread's attention byte. A line hook alone
    // (what production installs) decides in line whether it is due; whatever else the byte
    // asks for (the abort test, other hooks) is done at `attend`. Both then dispatch. Each
    // handler decodes its own A.
#define VM_FETCH()                                                                  \
    do {                                                                            \
        i = *pc++;                                                                  \
        if (const uint8_t attention = L->attention.load(std::memory_order_relaxed); \
            attention != 0) [[unlikely]] {                                          \
            if (attention != kAttentionLine) goto attend;                           \
            if (LineHookDue(L, proto, pc)) goto line_hook;                          \
        }                                                                           \
    } while (0)

#if defined(QV_COMPUTED_GOTO)
    // Every handler ends in a fetch and an indirect jump of its own, so that the branch
    // predictor learns which operation follows which. The table is indexed by the
    // instruction's low byte, the operation code and the two bits above it, which saves the
    // mask of every dispatch: its 64 entries in the order of the operation codes, four times.
    // Codes 43-63 do nothing.
    static_assert(kNumOpcodes == 43 && OP_SELF == 42 && kOpBits == 6);
#define VM_DISPATCH_ROW                                                                            \
    &&L_OP_MOVE, &&L_OP_LOADK, &&L_OP_LOADBOOL, &&L_OP_LOADNIL, &&L_OP_GETUPVAL, &&L_OP_GETGLOBAL, \
        &&L_OP_GETTABLE, &&L_OP_SETGLOBAL, &&L_OP_SETUPVAL, &&L_OP_SETTABLE, &&L_OP_NEWTABLE,      \
        &&L_OP_ADD, &&L_OP_SUB, &&L_OP_MUL, &&L_OP_DIV, &&L_OP_DIVINT, &&L_OP_MOD, &&L_OP_LSH,     \
        &&L_OP_RSH, &&L_OP_BOR, &&L_OP_BAND, &&L_OP_BXOR, &&L_OP_POW, &&L_OP_UNM, &&L_OP_NOT,      \
        &&L_OP_BNOT, &&L_OP_CONCAT, &&L_OP_JMP, &&L_OP_EQ, &&L_OP_LT, &&L_OP_LE, &&L_OP_TEST,      \
        &&L_OP_CALL, &&L_OP_TAILCALL, &&L_OP_RETURN, &&L_OP_FORLOOP, &&L_OP_TFORLOOP,              \
        &&L_OP_TFORPREP, &&L_OP_SETLIST, &&L_OP_SETLISTO, &&L_OP_CLOSE, &&L_OP_CLOSURE,            \
        &&L_OP_SELF, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP,       \
        &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP, &&L_NOP,  \
        &&L_NOP, &&L_NOP, &&L_NOP
    static const void* const kDispatch[256] = {VM_DISPATCH_ROW, VM_DISPATCH_ROW, VM_DISPATCH_ROW,
                                               VM_DISPATCH_ROW};
#undef VM_DISPATCH_ROW
#define VM_DISPATCH() goto* kDispatch[i & 0xFF];
#define VM_LABEL(op) L_##op:
#define VM_DEFAULT \
    L_NOP:
#define VM_BREAK       \
    do {               \
        VM_FETCH();    \
        VM_DISPATCH(); \
    } while (0)
#else
#define VM_DISPATCH() switch (GetOp(i))
#define VM_LABEL(op) case op:
#define VM_DEFAULT default:
#define VM_BREAK break
#endif
// A handler's entry; operations that share a handler name all but its last with VM_LABEL.
#define VM_CASE(op) \
    VM_LABEL(op)    \
    ra = base + GetA(i);

    // Opens the frame of script function callee, whose value is at func and arguments end
    // before argsEnd, above the current record, which waits in the instruction just run; the
    // callee's code runs next.
#define VM_ENTER_SCRIPT_FRAME(func, callee, argsEnd)                            \
    do {                                                                        \
        L->ci->savedpc = pc;                                                    \
        L->ci->state = VM_CI_SAVEDPC | VM_CI_CALLING;                           \
        qvCallRecord* calleeRecord = PushFrameRecord(L, func, argsEnd, callee); \
        calleeRecord->savedpc = FirstInstructionMark(callee);                   \
        calleeRecord->pc = &publishedPc;                                        \
        calleeRecord->state = VM_CI_RUNNING;                                    \
        base = L->base;                                                         \
        proto = (callee);                                                       \
        k = proto->k;                                                           \
        pc = proto->code;                                                       \
        if (L->hookmask & VM_MASKCALL) {                                        \
            RunCallHook(L, &publishedPc, pc);                                   \
            L->ci->savedpc = FirstInstructionMark(callee);                      \
            VM_RELOAD();                                                        \
        }                                                                       \
    } while (0)
    // A binary operation on operands that are not both numbers: converted numbers, else the
    // metamethod; a script metamethod runs in this loop, and its return finishes the
    // operation (see OP_RETURN). The operands are copied aside first: they may lie at the top.
#define VM_ARITH_SLOW(rb, rc, event)                                    \
    do {                                                                \
        VM_PUBLISH();                                                   \
        if (ArithConverted(L, ra, rb, rc, event)) break;                \
        const qvValue* tm = ArithMetamethod(L, rb, rc, event);          \
        qvValue* func = L->top;                                         \
        if (const qvProto* callee = ScriptFrameFits(L, tm, func + 3)) { \
            qvValue x, y;                                               \
            CopyValue(&x, rb);                                          \
            CopyValue(&y, rc);                                          \
            CopyValue(func, tm);                                        \
            CopyValue(func + 1, &x);                                    \
            CopyValue(func + 2, &y);                                    \
            L->top = func + 3;                                          \
            EnterNativeCall(L);                                         \
            VM_ENTER_SCRIPT_FRAME(func, callee, func + 3);              \
            VM_BREAK;                                                   \
        }                                                               \
        VmArith(L, ra, rb, rc, event);                                  \
        VM_RELOAD();                                                    \
    } while (0)

    // ADD and SUB: numbers in line, anything else as VM_ARITH_SLOW.
#define VM_ARITH(op, event)                            \
    do {                                               \
        const qvValue* rb = VM_LEFT();                 \
        const qvValue* rc = VM_RKC();                  \
        if (IsNumber(rb) && IsNumber(rc)) [[likely]] { \
            SetNumber(ra, rb->value.n op rc->value.n); \
        } else {                                       \
            VM_ARITH_SLOW(rb, rc, event);              \
        }                                              \
    } while (0)
    // EQ, LT and LE: numbers in line, anything else through the generic test (metamethods
    // included); then the following jump is skipped or taken.
#define VM_COMPARE(op, otherTest)                      \
    do {                                               \
        const qvValue* rb = VM_LEFT();                 \
        const qvValue* rc = VM_RKC();                  \
        uint32_t a = GetA(i);                          \
        bool result;                                   \
        if (IsNumber(rb) && IsNumber(rc)) [[likely]] { \
            result = rb->value.n op rc->value.n;       \
        } else {                                       \
            VM_PUBLISH();                              \
            result = otherTest(L, rb, rc);             \
            VM_RELOAD();                               \
        }                                              \
        VM_BRANCH_ON_TEST(result, a);                  \
    } while (0)

#define VM_RB() ValueAt(base, OffsetB(i))
#define VM_RKB() RegisterOrConstant(OffsetB(i), base, k)
#define VM_LEFT() LeftOperand(OffsetB(i), base, k)
#define VM_RKC() RegisterOrConstant(OffsetC(i), base, k)
#define VM_TAKE_FOLLOWING_JUMP() (pc += GetJOffset(*pc) + 1)
    // A test's outcome: skip the following jump when it differs from a, else take it.
#define VM_BRANCH_ON_TEST(result, a)              \
    do {                                          \
        if (static_cast<uint32_t>(result) != (a)) \
            ++pc;                                 \
        else                                      \
            VM_TAKE_FOLLOWING_JUMP();             \
    } while (0)

    for (;;) {
        VM_FETCH();
    dispatch:
        VM_DISPATCH() {
            VM_CASE(OP_MOVE) {
                CopyValue(ra, VM_RB());
                VM_BREAK;
            }
            VM_CASE(OP_LOADK) {
                *ra = k[GetBx(i)];
                VM_BREAK;
            }
            VM_CASE(OP_LOADBOOL) {
                SetNumber(ra, GetB(i));
                if (GetC(i) != 0) ++pc;
                VM_BREAK;
            }
            VM_CASE(OP_LOADNIL) {
                for (qvValue* r = ra; r <= VM_RB(); ++r) SetNil(r);
                VM_BREAK;
            }
            VM_CASE(OP_GETUPVAL) {
                CopyValue(ra, VM_CLOSURE()->Upvalues()[GetB(i)]->v);
                VM_BREAK;
            }
            VM_CASE(OP_GETGLOBAL) {
                const qvValue* key = k + GetBx(i);
                if (IsTable(&VM_CLOSURE()->env)) {
                    const qvValue* v =
                        GlobalGet(TableOf(&VM_CLOSURE()->env), const_cast<qvValue*>(key));
                    if (!IsNil(v)) {
                        CopyValue(ra, v);
                        VM_BREAK;
                    }
                }
                VM_PUBLISH();
                GetGlobal(L, SaveStack(L, ra), &VM_CLOSURE()->env, key);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_GETTABLE) {
                const qvValue* rb = VM_RB();
                const qvValue* key = VM_RKC();
                if (IsTable(rb)) {
                    const qvValue* v = TableGetFast(TableOf(rb), key);
                    if (!IsNil(v)) {
                        CopyValue(ra, v);
                        VM_BREAK;
                    }
                }
                VM_PUBLISH();
                IndexInto(L, SaveStack(L, ra), rb, key, true);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_SETGLOBAL) {
                VM_PUBLISH();
                VmSetTableChain(L, &VM_CLOSURE()->env, k + GetBx(i), ra);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_SETUPVAL) {
                CopyValue(VM_CLOSURE()->Upvalues()[GetB(i)]->v, ra);
                VM_BREAK;
            }
            VM_CASE(OP_SETTABLE) {
                const qvValue* key = VM_RKB();
                if (IsTable(ra)) {
                    // A key already present, or any key when the metatable is known to lack
                    // "__newindex", takes the value at once; a store always clears the
                    // absent-metamethod cache. Nothing here can move the stack.
                    qvTable* h = TableOf(ra);
                    auto* slot = const_cast<qvValue*>(TableGetFast(h, key));
                    qvTable* mt = h->metatable;
                    if (!IsNil(slot) || mt == nullptr || (mt->flags & (1u << TM_NEWINDEX))) {
                        if (slot == &kNilObject) {
                            VM_PUBLISH();
                            slot = InsertMissing(L, h, key);
                        }
                        h->flags = 0;
                        CopyValue(slot, VM_RKC());
                        VM_BREAK;
                    }
                }
                VM_PUBLISH();
                VmSetTableChain(L, ra, key, VM_RKC());
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_NEWTABLE) {
                uint64_t narray = TableArraySize(GetB(i));
                int size = narray > (1u << 24) ? (1 << 24) + 1 : static_cast<int>(narray);
                ptrdiff_t raOffset = SaveStack(L, ra);
                VM_PUBLISH();
                qvTable* t = VmTableNew(L, size, static_cast<int>(GetC(i)));
                SetTable(RestoreStack(L, raOffset), t);
                VmCheckGC(L);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_ADD) {
                VM_ARITH(+, TM_ADD);
                VM_BREAK;
            }
            VM_CASE(OP_SUB) {
                VM_ARITH(-, TM_SUB);
                VM_BREAK;
            }
            VM_LABEL(OP_MUL)
            VM_LABEL(OP_DIV)
            VM_LABEL(OP_DIVINT)
            VM_LABEL(OP_MOD)
            VM_LABEL(OP_LSH)
            VM_LABEL(OP_RSH)
            VM_LABEL(OP_BOR)
            VM_LABEL(OP_BAND)
            VM_LABEL(OP_BXOR)
            VM_CASE(OP_POW) {
                int event = TM_ADD + static_cast<int>(GetOp(i) - OP_ADD);
                VM_PUBLISH();  // a division by zero raises
                const qvValue* rb = VM_LEFT();
                const qvValue* rc = VM_RKC();
                if (IsNumber(rb) && IsNumber(rc)) {
                    SetNumber(ra, ArithNumbers(L, event, rb->value.n, rc->value.n));
                } else {
                    VM_ARITH_SLOW(rb, rc, event);
                }
                VM_BREAK;
            }
            VM_LABEL(OP_UNM)
            VM_CASE(OP_BNOT) {
                const qvValue* rb = VM_RB();
                int event = GetOp(i) == OP_UNM ? TM_UNM : TM_NOT;
                if (IsNumber(rb) && event == TM_UNM) {
                    SetNumber(ra, -rb->value.n);
                } else {
                    VM_PUBLISH();
                    UnaryArith(L, SaveStack(L, ra), rb, event);
                    VM_RELOAD();
                }
                VM_BREAK;
            }
            VM_CASE(OP_NOT) {
                SetNumber(ra, IsFalse(VM_RB()) ? 1 : 0);
                VM_BREAK;
            }
            VM_CASE(OP_CONCAT) {
                int b = static_cast<int>(GetB(i));
                int c = static_cast<int>(GetC(i));
                ptrdiff_t raOffset = SaveStack(L, ra);
                VM_PUBLISH();
                VmConcatValues(L, c - b + 1, c);
                VM_RELOAD();
                *RestoreStack(L, raOffset) = base[b];
                VmCheckGC(L);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_JMP) {
                int offset = GetJOffset(i);
                if (GetM(i) == kJumpSubroutine) {
                    VM_PUBLISH();
                    PushSubroutine(L, proto, static_cast<int>(pc - proto->code));
                }
                pc += offset;
                VM_BREAK;
            }
            VM_CASE(OP_EQ) {
                VM_COMPARE(==, VmEqualObj);
                VM_BREAK;
            }
            VM_CASE(OP_LT) {
                VM_COMPARE(<, LessThan);
                VM_BREAK;
            }
            VM_CASE(OP_LE) {
                VM_COMPARE(<=, LessEqual);
                VM_BREAK;
            }
            VM_CASE(OP_TEST) {
                const qvValue* rb = VM_RB();
                if (static_cast<uint32_t>(IsFalse(rb)) == GetC(i)) {
                    ++pc;
                } else {
                    CopyValue(ra, rb);
                    VM_TAKE_FOLLOWING_JUMP();
                }
                VM_BREAK;
            }
            VM_CASE(OP_CALL) {
                uint32_t b = GetB(i);
                qvValue* argsEnd = b != 0 ? ra + b : L->top;
                // A script function called from script opens its frame and runs right here
                // when the frame fits without growing anything.
                if (const qvProto* callee = ScriptFrameFits(L, ra, argsEnd)) {
                    VM_ENTER_SCRIPT_FRAME(ra, callee, argsEnd);
                    VM_BREAK;
                }
                L->top = argsEnd;
                goto call;
            }
            VM_CASE(OP_TAILCALL) {
                if (GetB(i) != 0) L->top = ra + GetB(i);
            }
        call : {
            // Only a command reads the current-instruction index (to place a label jump): a
            // script function opened in line above makes its own CALLs before any command runs,
            // and a call from native code keeps the index of the command's CALL (DoCall).
            L->g->currentInstruction = static_cast<int>(pc - proto->code);
            VM_PUBLISH();
            const qvProto* p = proto;
            int next = static_cast<int>(pc - p->code);
            int wanted = static_cast<int>(GetC(i)) - 1;
            bool tailCall = GetOp(i) == OP_TAILCALL;
            int code = 0;
            qvValue* firstResult = VmPreCall(L, ra, &code);
            if (firstResult == nullptr) {
                qvCallRecord* caller = L->ci - 1;
                if (!tailCall) {
                    caller->savedpc = pc;
                    caller->state = VM_CI_SAVEDPC | VM_CI_CALLING;
                } else {
                    // The callee takes the caller's place in its frame and record.
                    base = caller->base;
                    ra = L->ci->base - 1;
                    if (L->openupval != nullptr) VmCloseUpvalues(L, base);
                    int n = 0;
                    for (; ra + n < L->top; ++n) CopyValue(base + n - 1, ra + n);
                    caller->top = L->top = base + n - 1;
                    caller->savedpc = L->ci->savedpc;
                    caller->proto = L->ci->proto;
                    ++caller->tailcalls;
                    caller->state = VM_CI_SAVEDPC;
                    --L->ci;
                    L->base = L->ci->base;
                }
                goto callentry;
            }
            bool jumpRequest = code == -1 || code == -2;
            if (code != 0 && !jumpRequest) Host(L).HandleCommandError(L, code);
            PostCall(L, wanted, firstResult);
            // A label's code runs with the frame's full top, whatever the call wanted.
            if (wanted >= 0 || jumpRequest) L->top = L->ci->top;
            VM_RELOAD();
            if (jumpRequest) pc = p->code + LabelJumpTarget(L, p, next, code);
            VM_BREAK;
        }
            VM_CASE(OP_RETURN) {
                if (GetC(i) == 1) {
                    VM_PUBLISH();
                    pc = proto->code + PopSubroutine(L, proto);
                    VM_BREAK;
                }
                uint32_t b = GetB(i);
                if (L->openupval != nullptr) VmCloseUpvalues(L, base);
                qvCallRecord* ci = L->ci;
                qvCallRecord* caller = ci - 1;
                if ((caller->state & VM_CI_CALLING) && !(L->hookmask & VM_MASKRET)) [[likely]] {
                    // Back into a calling script function, in line: its record, frame and
                    // position are at hand. One result for a CALL that wants one is the
                    // common case, told by the CALL's operation and C at once. B - 1 results
                    // start at R(A), all up to the top for B = 0; the top is set only where
                    // they are not moved at once.
                    const qvInstruction call = *(caller->savedpc - 1);
                    constexpr qvInstruction kOpAndC = CreateABC((1u << kOpBits) - 1, 0, 0, kMaxC);
                    if (b == 2 && (call & kOpAndC) == CreateABC(OP_CALL, 0, 0, 2)) {
                        CopyValue(base - 1, ra);
                        L->ci = caller;
                        L->base = caller->base;
                        L->top = caller->top;
                    } else if (GetOp(call) == OP_CALL) {
                        int wanted = static_cast<int>(GetC(call)) - 1;
                        if (b != 0) L->top = ra + b - 1;
                        CloseFrame(L, wanted, ra);
                        if (wanted >= 0) L->top = caller->top;
                    } else {
                        goto leave_loop_frame;
                    }
                    // A record that waits in a CALL of this loop still points at its
                    // position here.
                    caller->state = VM_CI_RUNNING;
                    pc = caller->savedpc;
                    base = caller->base;
                    proto = caller->proto;
                    k = proto->k;
                    VM_BREAK;
                }
            leave_loop_frame:
                // Native code, a return hook or the operation that waits for this metamethod
                // sees the record after the loop lets go of it: its position is kept in it.
                if (b != 0) L->top = ra + b - 1;
                ci->state = VM_CI_SAVEDPC;
                ci->savedpc = pc;
                if (!(caller->state & VM_CI_CALLING)) return ra;
                qvInstruction pending = *(caller->savedpc - 1);
                if (GetOp(pending) != OP_CALL) {
                    PostCall(L, 1, ra);
                    FinishOperation(L, pending);
                } else {
                    int wanted = static_cast<int>(GetC(pending)) - 1;
                    VmPostCall(L, wanted, ra);
                    if (wanted >= 0) L->top = L->ci->top;
                }
                goto resume;
            }
            VM_CASE(OP_FORLOOP) {
                if (!IsNumber(ra) || !IsNumber(ra + 1) || !IsNumber(ra + 2)) [[unlikely]] {
                    VM_PUBLISH();
                    ForLoopOperands(L, ra);
                }
                const qvNumber step = ra[2].value.n;
                const qvNumber index = ra->value.n + step;
                const qvNumber limit = ra[1].value.n;
                // Two tests rather than one of a chosen comparison: each branch then follows
                // its own test. The loop goes on in a straight line; a NaN ends it.
                if (step > 0) {
                    if (!(index <= limit)) [[unlikely]]
                        goto for_loop_done;
                } else if (!(index >= limit)) [[unlikely]] {
                    goto for_loop_done;
                }
                ra->value.n = index;
                pc += static_cast<ptrdiff_t>(GetBx(i)) - kSBxBias;
            for_loop_done:
                VM_BREAK;
            }
            VM_CASE(OP_TFORLOOP) {
                int nvar = static_cast<int>(GetC(i)) + 1;
                qvValue* cb = ra + nvar + 2;
                CopyValue(cb, ra);
                CopyValue(cb + 1, ra + 1);
                CopyValue(cb + 2, ra + 2);
                L->top = cb + 3;
                ptrdiff_t raOffset = SaveStack(L, ra);
                VM_PUBLISH();
                CallValue(L, cb, nvar);
                L->top = L->ci->top;
                VM_RELOAD();
                ra = RestoreStack(L, raOffset) + 2;
                cb = ra + nvar;
                for (int j = nvar - 1; j >= 0; --j) CopyValue(ra + j, cb + j);
                if (IsNil(ra))
                    ++pc;
                else
                    VM_TAKE_FOLLOWING_JUMP();
                VM_BREAK;
            }
            VM_CASE(OP_TFORPREP) {
                int jump = GetSBx(i);
                if (IsTable(ra)) {
                    ptrdiff_t raOffset = SaveStack(L, ra);
                    VM_PUBLISH();
                    qvValue next = NextFunction(L);
                    VM_RELOAD();
                    ra = RestoreStack(L, raOffset);
                    CopyValue(ra + 1, ra);
                    ra[0] = next;
                }
                pc += jump;
                VM_BREAK;
            }
            VM_LABEL(OP_SETLIST)
            VM_CASE(OP_SETLISTO) {
                VM_PUBLISH();
                SetList(L, ra, GetBx(i), GetOp(i) == OP_SETLISTO);
                VM_BREAK;
            }
            VM_CASE(OP_CLOSE) {
                VmCloseUpvalues(L, ra);
                VM_BREAK;
            }
            VM_CASE(OP_CLOSURE) {
                qvProto* p = proto->p[GetBx(i)];
                ptrdiff_t raOffset = SaveStack(L, ra);
                VM_PUBLISH();
                qvLClosure* ncl = VmNewScriptClosure(L, p->nups, &VM_CLOSURE()->env);
                ncl->proto = p;
                for (int j = 0; j < p->nups; ++j, ++pc) {
                    uint32_t b = GetB(*pc);
                    ncl->Upvalues()[j] = GetOp(*pc) == OP_GETUPVAL ? VM_CLOSURE()->Upvalues()[b]
                                                                   : VmFindUpvalue(L, base + b);
                }
                SetFunction(RestoreStack(L, raOffset), ncl);
                VmCheckGC(L);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_CASE(OP_SELF) {
                // Only A + 1 is written here, with R(B)'s own value: an error can still name
                // the object by register B.
                CopyValue(ra + 1, VM_RB());
                VM_PUBLISH();
                IndexInto(L, SaveStack(L, ra), VM_RB(), VM_RKC(), false);
                VM_RELOAD();
                VM_BREAK;
            }
            VM_DEFAULT {
                VM_BREAK;  // operations 43-63 do nothing
            }
        }
    }

    // The instruction i has been fetched; the fetch found something due before it runs.
    HookOutcome outcome;
attend:
    VM_PUBLISH();
    outcome = Attend(L, proto, pc);
    goto attended;
line_hook:
    VM_PUBLISH();
    outcome = RunLineHook(L, &lineRecord, proto, pc);
attended:
    if (outcome == HookOutcome::kStop) return nullptr;
    if (outcome == HookOutcome::kRan) VM_RELOAD();
    goto dispatch;
#undef VM_FETCH
#undef VM_PUBLISH
#undef VM_ENTER_SCRIPT_FRAME
#undef VM_ARITH_SLOW
#undef VM_ARITH
#undef VM_COMPARE
#undef VM_RELOAD
#undef VM_CLOSURE
#undef VM_RB
#undef VM_RKB
#undef VM_LEFT
#undef VM_RKC
#undef VM_TAKE_FOLLOWING_JUMP
#undef VM_BRANCH_ON_TEST
#undef VM_DISPATCH
#undef VM_CASE
#undef VM_LABEL
#undef VM_DEFAULT
#undef VM_BREAK
}
