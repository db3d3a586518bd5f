// Helpers shared by the engine's own files: value accessors, object casts and the collector
// check point. Not part of the public interface.
#pragma once

#include <cstring>

#include "engine/vm.h"
#include "platform/linux/abort_flag.h"

namespace qv {

inline constexpr int kNativeFrameSlots = 20;  // free slots a command is guaranteed

// --- Attention ---

// Bits of a thread's attention byte (qvVmState::attention), which is non-zero exactly when
// something may be due before the thread's next instruction. Setting the abort flag raises
// kAttentionAbort in the engine's main thread, which watches the host's flag; the bit stays
// until the interpreter finds the flag clear again.
inline constexpr uint8_t kAttentionAbort = AbortFlag::kRaised;
// The thread reads the abort flag itself before every instruction: it is not the main
// thread, or the flag had no room for another watcher.
inline constexpr uint8_t kAttentionPoll = 2;
inline constexpr uint8_t kAttentionLine = 4;   // a line hook alone, the hooks initialised
inline constexpr uint8_t kAttentionHooks = 8;  // any other line or count hook

// Sets the hook bits of L's attention from its hook mask and hooks-initialised flag.
void UpdateHookAttention(qvVmState* L);

// --- Values ---

inline bool IsCollectable(const qvValue* v) {
    return v->tag >= VM_TSTRING;
}
inline bool IsNil(const qvValue* v) {
    return v->tag == VM_TNIL;
}
inline bool IsNumber(const qvValue* v) {
    return v->tag == VM_TNUMBER;
}
inline bool IsString(const qvValue* v) {
    return v->tag == VM_TSTRING;
}
inline bool IsTable(const qvValue* v) {
    return v->tag == VM_TTABLE;
}
inline bool IsFunction(const qvValue* v) {
    return v->tag == VM_TFUNCTION;
}

// Copies the tag and the payload of a value, the two parts that stores of values write apart
// (a number's tag and payload, for one): a copy read as one 16-byte block right after such
// stores cannot take its bytes from them and waits until they reach the cache. The spare word
// between them is padding in every value that a copy writes.
inline void CopyValue(qvValue* dst, const qvValue* src) {
    dst->tag = src->tag;
    dst->value = src->value;
}

inline void SetNil(qvValue* v) {
    v->tag = VM_TNIL;
}
inline void SetNumber(qvValue* v, qvNumber n) {
    v->tag = VM_TNUMBER;
    v->value.n = n;
}
inline void SetBoolean(qvValue* v, bool b) {
    v->tag = VM_TBOOLEAN;
    v->value.b = b ? 1 : 0;
}
inline void SetLightUserdata(qvValue* v, void* p) {
    v->tag = VM_TLIGHTUSERDATA;
    v->value.p = p;
}
inline void SetObject(qvValue* v, qvGCHeader* o) {
    v->tag = o->tag;
    v->value.gc = o;
}
inline void SetObject(qvValue* v, qvGCHeader* o, int32_t tag) {
    v->tag = tag;
    v->value.gc = o;
}
inline void SetString(qvValue* v, qvString* s) {
    SetObject(v, s, VM_TSTRING);
}
inline void SetTable(qvValue* v, qvTable* t) {
    SetObject(v, t, VM_TTABLE);
}
inline void SetFunction(qvValue* v, qvClosureHeader* c) {
    SetObject(v, c, VM_TFUNCTION);
}
inline void SetThread(qvValue* v, qvVmState* th) {
    SetObject(v, th, VM_TTHREAD);
}
inline void SetUserdata(qvValue* v, qvUserdata* u) {
    SetObject(v, u, VM_TUSERDATA);
}

inline qvString* StringOf(const qvValue* v) {
    return static_cast<qvString*>(v->value.gc);
}
inline qvTable* TableOf(const qvValue* v) {
    return static_cast<qvTable*>(v->value.gc);
}
inline qvClosureHeader* ClosureOf(const qvValue* v) {
    return static_cast<qvClosureHeader*>(v->value.gc);
}
inline qvCClosure* CClosureOf(const qvValue* v) {
    return static_cast<qvCClosure*>(v->value.gc);
}
inline qvLClosure* LClosureOf(const qvValue* v) {
    return static_cast<qvLClosure*>(v->value.gc);
}
inline qvUserdata* UserdataOf(const qvValue* v) {
    return static_cast<qvUserdata*>(v->value.gc);
}
inline qvVmState* ThreadOf(const qvValue* v) {
    return static_cast<qvVmState*>(v->value.gc);
}

// The truth rule: nil, false, the number 0 (either sign) and the empty string are false;
// everything else (NaN included) is true.
inline bool IsFalse(const qvValue* v) {
    switch (v->tag) {
        case VM_TNIL:
            return true;
        case VM_TBOOLEAN:
            return v->value.b == 0;
        case VM_TNUMBER:
            return v->value.n == 0;
        case VM_TSTRING:
            return StringOf(v)->length == 0;
        default:
            return false;
    }
}

// The rule for the results of __eq, __lt and __le: nil is false, a number is true when it is
// not 0, and any other value (false and "" too) is true.
inline bool MetamethodTrue(const qvValue* v) {
    if (v->tag == VM_TNIL) return false;
    return v->tag != VM_TNUMBER || v->value.n != 0;
}

// --- Frames and the stack ---

// Stack positions kept across anything that may move the stack are offsets.
inline ptrdiff_t SaveStack(qvVmState* L, const qvValue* p) {
    return p - L->stack;
}
inline qvValue* RestoreStack(qvVmState* L, ptrdiff_t n) {
    return L->stack + n;
}

// Makes room for n more slots above the top.
inline void CheckStack(qvVmState* L, int n) {
    if (L->stackLast - L->top <= n) VmGrowStack(L, n);
}

inline void IncrementTop(qvVmState* L) {
    CheckStack(L, 1);
    ++L->top;
}

// Size in bytes of a native closure with n upvalues, and of a script closure.
inline size_t CClosureSize(int n) {
    return sizeof(qvCClosure) + sizeof(qvValue) * n;
}
inline size_t LClosureSize(int n) {
    return sizeof(qvLClosure) + sizeof(qvUpVal*) * n;
}
inline size_t StringSize(size_t length) {
    return sizeof(qvString) + length + 1;
}
inline size_t UserdataSize(size_t length) {
    return sizeof(qvUserdata) + length;
}

// A closed upvalue holding nil, linked as an object of its own.
qvUpVal* NewClosedUpvalue(qvVmState* L);

// --- Collector check point ---

// Runs f under protection as an economy (a shrink whose failure leaves things as they
// were): an error inside it is nobody's, so it records no location with the host.
void RunEconomy(qvVmState* L, qvProtectedFunction f, void* ud);

// Stack torture: moves the value stack and the call records to fresh blocks and frees the
// old ones, so that a pointer kept across a check point or a call is caught as a use after
// free.
void MoveStacks(qvVmState* L);

inline void CheckGC(qvVmState* L) {
    if (L->g->stackTorture) MoveStacks(L);
    if (L->g->nblocks >= L->g->GCthreshold || L->g->gcTorture) VmCollectGarbage(L);
}

// The shared nil value: lookups that find nothing return it (compare by address).
extern const qvValue kNilObject;

// --- Table reads the interpreter inlines ---

// The key as an integer in 1..limit, or 0 when it is none.
inline uint32_t IntegerKey(double n, uint32_t limit) {
    if (n >= 1 && n <= limit) {
        const auto i = static_cast<uint32_t>(n);
        if (i == n) return i;
    }
    return 0;
}

// Interned keys compare by address along the chain of their main position.
inline const qvValue* TableGetString(const qvTable* t, const qvString* key) {
    for (const qvNode* node = &t->node[key->hash & ((1u << t->lsizenode) - 1)]; node != nullptr;
         node = node->next) {
        if (node->key.tag == VM_TSTRING && node->key.value.gc == key) return &node->val;
    }
    return &kNilObject;
}

// A global's lookup through the hint its name constant keeps: the node at the hinted index
// when it holds the name with a value, else a full lookup that renews the hint.
inline const qvValue* GlobalGet(const qvTable* globals, qvValue* name) {
    const qvString* key = StringOf(name);
    if (name->hint < (1u << globals->lsizenode)) {
        const qvNode* node = &globals->node[name->hint];
        if (node->key.value.gc == key && node->key.tag == VM_TSTRING && !IsNil(&node->val))
            return &node->val;
    }
    for (const qvNode* node = &globals->node[key->hash & ((1u << globals->lsizenode) - 1)];
         node != nullptr; node = node->next) {
        if (node->key.tag == VM_TSTRING && node->key.value.gc == key) {
            name->hint = static_cast<uint32_t>(node - globals->node);
            return &node->val;
        }
    }
    return &kNilObject;
}

// VmTableSet for a key that a lookup has just failed to find: no second lookup.
qvValue* InsertMissing(qvVmState* L, qvTable* t, const qvValue* key);

// VmTableGet with the string and array-part cases in line.
inline const qvValue* TableGetFast(qvTable* t, const qvValue* key) {
    if (IsString(key)) return TableGetString(t, StringOf(key));
    if (IsNumber(key)) {
        if (const uint32_t i = IntegerKey(key->value.n, t->sizearray)) return &t->array[i - 1];
    }
    return VmTableGet(t, key);
}

}  // namespace qv

// Every collector check point calls this.
inline void VmCheckGC(qvVmState* L) {
    qv::CheckGC(L);
}
