// Activation levels of a thread: the current instruction and line of a call record, the
// level walk of VmGetStack, and the hook installation.
#include "engine/api_internal.h"

namespace qv {

int CurrentPc(qvCallRecord* ci) {
    if ((ci->state & VM_CI_RUNNING) != 0) ci->savedpc = *ci->pc;
    const qvProto* p = LClosureOf(ci->base - 1)->proto;
    return static_cast<int>(ci->savedpc - p->code) - 1;
}

int CurrentLine(qvCallRecord* ci) {
    if ((ci->state & VM_CI_NATIVE) != 0) return -1;
    const qvProto* p = LClosureOf(ci->base - 1)->proto;
    int pc = CurrentPc(ci);
    return pc >= 0 && pc < p->sizelineinfo ? p->lineinfo[pc] : 0;
}

namespace {

// The call record of activation level, or nullptr when there is none or it is a lost tail
// call.
qvCallRecord* LevelRecord(qvVmState* L, int level) {
    qvDebugRecord ar;
    if (VmGetStack(L, level, &ar) == 0 || ar.callRecord == 0) return nullptr;
    return L->baseCi + ar.callRecord;
}

}  // namespace

const qvValue* LevelFunction(qvVmState* L, int level) {
    qvCallRecord* ci = LevelRecord(L, level);
    return ci != nullptr ? ci->base - 1 : nullptr;
}

int LevelLine(qvVmState* L, int level) {
    qvCallRecord* ci = LevelRecord(L, level);
    return ci != nullptr ? CurrentLine(ci) : -1;
}

void UpdateHookAttention(qvVmState* L) {
    const int trace = L->hookmask & (VM_MASKLINE | VM_MASKCOUNT);
    uint8_t bits = 0;
    if (trace != 0)
        bits = trace == VM_MASKLINE && L->hookinit != 0 ? kAttentionLine : kAttentionHooks;
    // Atomic steps: the abort flag's setter may raise its own bit at any moment.
    L->attention.fetch_and(static_cast<uint8_t>(~(kAttentionLine | kAttentionHooks)));
    if (bits != 0) L->attention.fetch_or(bits);
}

const char* GlobalFunctionName(qvVmState* L, const qvValue* fn) {
    if (!IsTable(&L->globals)) return nullptr;
    qvTable* globals = TableOf(&L->globals);
    qvValue entry[2];  // key, value
    SetNil(&entry[0]);
    while (VmTableNext(L, globals, entry) != 0) {
        if (IsString(&entry[0]) && VmRawEqualObj(&entry[1], fn)) return StringOf(&entry[0])->Data();
    }
    return nullptr;
}

}  // namespace qv

using namespace qv;

int VmSetHook(qvVmState* L, qvHook func, int mask, int count) {
    if (func == nullptr || mask == 0) {
        func = nullptr;
        mask = 0;
    }
    L->hook = func;
    L->basehookcount = count;
    L->hookcount = count;
    L->hookmask = static_cast<uint8_t>(mask);
    UpdateHookAttention(L);
    return 1;
}

// Tail calls a script record absorbed count as levels of their own, with no record.
int VmGetStack(qvVmState* L, int level, qvDebugRecord* ar) {
    qvCallRecord* ci = L->ci;
    for (; level > 0 && ci > L->baseCi; --ci) {
        --level;
        if ((ci->state & VM_CI_NATIVE) == 0) level -= ci->tailcalls;
    }
    if (level == 0 && ci > L->baseCi) {
        ar->callRecord = static_cast<int>(ci - L->baseCi);
        return 1;
    }
    if (level < 0) {
        ar->callRecord = 0;
        return 1;
    }
    return 0;
}
