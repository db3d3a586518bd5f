// The stack interface: command handlers, the run-time and plugins push, read, store and call
// values through the current frame. Queries never raise; an invalid index reads as "none".
#include <algorithm>
#include <cstring>

#include "engine/api_internal.h"
#include "engine/convert.h"
#include "engine/host.h"

namespace qv {

qvValue* IndexToValue(qvVmState* L, int idx) {
    if (idx > 0) return idx - 1 < L->top - L->base ? L->base + (idx - 1) : nullptr;
    if (idx > VM_REGISTRYINDEX)
        return idx != 0 && -idx <= L->top - L->base ? L->top + idx : nullptr;
    if (idx == VM_REGISTRYINDEX) return &L->g->registry;
    if (idx == VM_GLOBALSINDEX) return &L->globals;
    qvValue* fn = L->ci->base - 1;
    int n = VM_GLOBALSINDEX - idx;
    if (!IsFunction(fn) || !ClosureOf(fn)->isNative || n > ClosureOf(fn)->nupvalues) {
        return nullptr;
    }
    return &CClosureOf(fn)->Upvalues()[n - 1];
}

namespace {

// A slot of the frame itself (not a pseudo-index), or nullptr.
qvValue* FrameSlot(qvVmState* L, int idx) {
    return idx > VM_REGISTRYINDEX ? IndexToValue(L, idx) : nullptr;
}

// The value at idx, with "none" read as nil.
const qvValue* ValueOrNil(qvVmState* L, int idx) {
    const qvValue* v = IndexToValue(L, idx);
    return v != nullptr ? v : &kNilObject;
}

// Makes room for one value and returns its slot; the caller fills it at once.
qvValue* NewSlot(qvVmState* L) {
    CheckStack(L, 1);
    return L->top++;
}

void PushNewString(qvVmState* L, const char* s, size_t length) {
    qvString* str = VmNewString(L, s, length);
    SetString(NewSlot(L), str);
}

void PushNewTable(qvVmState* L) {
    qvTable* t = VmTableNew(L, 0, 0);
    SetTable(NewSlot(L), t);
}

// Upvalue n of the function at funcidx: its slot and its name, or a null slot.
struct UpvalueRef {
    qvValue* slot = nullptr;
    const char* name = nullptr;
};

UpvalueRef FindUpvalue(qvVmState* L, int funcidx, int n) {
    const qvValue* fn = IndexToValue(L, funcidx);
    if (fn == nullptr || !IsFunction(fn) || n < 1 || n > ClosureOf(fn)->nupvalues) return {};
    if (ClosureOf(fn)->isNative) return {&CClosureOf(fn)->Upvalues()[n - 1], ""};
    qvLClosure* c = LClosureOf(fn);
    const qvProto* p = c->proto;
    const char* name = n <= p->sizeupvalues ? p->upvalues[n - 1]->Data() : "";
    return {c->Upvalues()[n - 1]->v, name};
}

struct CallArgs {
    qvValue* func;
    int nResults;
};

void CallBody(qvVmState* L, void* ud) {
    auto* c = static_cast<CallArgs*>(ud);
    CallValue(L, c->func, c->nResults);
}

struct NativeCallArgs {
    qvCFunction f;
    void* ud;
};

void NativeCallBody(qvVmState* L, void* ud) {
    auto* c = static_cast<NativeCallArgs*>(ud);
    VmPushCClosure(L, c->f, 0);
    VmPushLightUserdata(L, c->ud);
    CallValue(L, L->top - 2, 0);
}

class VaListEnd {
public:
    explicit VaListEnd(va_list& args) : args_(args) {}
    ~VaListEnd() { va_end(args_); }
    VaListEnd(const VaListEnd&) = delete;
    VaListEnd& operator=(const VaListEnd&) = delete;

private:
    va_list& args_;
};

// Pushes the piece a directive stands for; returns the characters it used up.
int PushDirective(qvVmState* L, const char* d, va_list& args) {
    switch (d[0]) {
        case 's': {
            const char* s = va_arg(args, const char*);
            if (s == nullptr) s = "(null)";
            PushNewString(L, s, std::strlen(s));
            return 1;
        }
        case 'd':
            VmPushNumber(L, va_arg(args, int));
            return 1;
        case 'f':
            VmPushNumber(L, va_arg(args, double));
            return 1;
        case 'c': {
            char c = static_cast<char>(va_arg(args, int));
            PushNewString(L, &c, 1);
            return 1;
        }
        case '%':
            PushNewString(L, "%", 1);
            return 1;
        default:  // not a directive: kept as written
            PushNewString(L, d - 1, d[0] != '\0' ? 2 : 1);
            return d[0] != '\0' ? 1 : 0;
    }
}

}  // namespace

// Converts a number at idx to its text in place (a collection may run first); the string
// there, or nullptr for any other value.
qvString* StringAt(qvVmState* L, int idx) {
    qvValue* v = IndexToValue(L, idx);
    if (v == nullptr) return nullptr;
    if (IsString(v)) return StringOf(v);
    if (!IsNumber(v)) return nullptr;
    CheckGC(L);
    v = IndexToValue(L, idx);  // the collection may have moved the stack
    VmNumberToString(L, v);
    return StringOf(v);
}

}  // namespace qv

using namespace qv;

// --- Stack management ---

int VmGetTop(qvVmState* L) {
    return static_cast<int>(L->top - L->base);
}

void VmSetTop(qvVmState* L, int idx) {
    ptrdiff_t count = L->top - L->base;
    if (idx >= 0) {
        if (idx > count) CheckStack(L, static_cast<int>(idx - count));
        while (L->top < L->base + idx) SetNil(L->top++);
        L->top = L->base + idx;
    } else {
        // Never below the frame, however many values are asked to go.
        L->top -= std::min<ptrdiff_t>(-static_cast<ptrdiff_t>(idx) - 1, count);
    }
}

void VmPushValue(qvVmState* L, int idx) {
    PushValue(L, ValueOrNil(L, idx));
}

void VmRemove(qvVmState* L, int idx) {
    qvValue* p = FrameSlot(L, idx);
    if (p == nullptr) return;
    for (; p + 1 < L->top; ++p) p[0] = p[1];
    --L->top;
}

void VmInsert(qvVmState* L, int idx) {
    qvValue* p = FrameSlot(L, idx);
    if (p == nullptr) return;
    qvValue moved = L->top[-1];
    for (qvValue* q = L->top - 1; q > p; --q) q[0] = q[-1];
    *p = moved;
}

void VmReplace(qvVmState* L, int idx) {
    if (L->top == L->base) return;
    qvValue* p = IndexToValue(L, idx);
    const qvValue* v = L->top - 1;
    // The registry and the globals must stay tables.
    bool keepsTable = idx == VM_REGISTRYINDEX || idx == VM_GLOBALSINDEX;
    if (p != nullptr && (!keepsTable || IsTable(v))) *p = *v;
    --L->top;
}

int VmCheckStack(qvVmState* L, int n) {
    if ((L->top - L->base) + n > VM_MAXFRAME) return 0;
    if (n <= 0) return 1;
    CheckStack(L, n);
    if (L->ci->top < L->top + n) L->ci->top = L->top + n;
    return 1;
}

int VmPushUpvalues(qvVmState* L) {
    qvValue* fn = L->ci->base - 1;
    if (!IsFunction(fn) || !ClosureOf(fn)->isNative) return 0;
    int n = ClosureOf(fn)->nupvalues;
    ptrdiff_t fnOffset = SaveStack(L, fn);
    CheckStack(L, n + 20);
    qvCClosure* c = CClosureOf(RestoreStack(L, fnOffset));
    for (int i = 0; i < n; ++i) *L->top++ = c->Upvalues()[i];
    return n;
}

// --- Queries ---

int VmType(qvVmState* L, int idx) {
    const qvValue* v = IndexToValue(L, idx);
    return v != nullptr ? v->tag : VM_TNONE;
}

int VmIsNumber(qvVmState* L, int idx) {
    const qvValue* v = IndexToValue(L, idx);
    qvValue scratch;
    return v != nullptr && VmToNumberObj(v, &scratch) != nullptr;
}

int VmIsString(qvVmState* L, int idx) {
    int t = VmType(L, idx);
    return t == VM_TSTRING || t == VM_TNUMBER;
}

int VmIsCFunction(qvVmState* L, int idx) {
    const qvValue* v = ValueOrNil(L, idx);
    return IsFunction(v) && ClosureOf(v)->isNative;
}

int VmIsUserdata(qvVmState* L, int idx) {
    int t = VmType(L, idx);
    return t == VM_TUSERDATA || t == VM_TLIGHTUSERDATA;
}

qvNumber VmToNumber(qvVmState* L, int idx) {
    qvValue scratch;
    const qvValue* n = VmToNumberObj(ValueOrNil(L, idx), &scratch);
    return n != nullptr ? n->value.n : 0;
}

int VmToBoolean(qvVmState* L, int idx) {
    const qvValue* v = ValueOrNil(L, idx);
    return !IsNil(v) && !(v->tag == VM_TBOOLEAN && v->value.b == 0);
}

const char* VmToString(qvVmState* L, int idx) {
    qvString* s = StringAt(L, idx);
    return s != nullptr ? s->Data() : nullptr;
}

size_t VmStrLen(qvVmState* L, int idx) {
    qvString* s = StringAt(L, idx);
    return s != nullptr ? s->length : 0;
}

qvCFunction VmToCFunction(qvVmState* L, int idx) {
    return VmIsCFunction(L, idx) ? CClosureOf(IndexToValue(L, idx))->f : nullptr;
}

void* VmToUserdata(qvVmState* L, int idx) {
    const qvValue* v = ValueOrNil(L, idx);
    if (v->tag == VM_TUSERDATA) return UserdataOf(v)->Data();
    if (v->tag == VM_TLIGHTUSERDATA) return v->value.p;
    return nullptr;
}

qvVmState* VmToThread(qvVmState* L, int idx) {
    const qvValue* v = ValueOrNil(L, idx);
    return v->tag == VM_TTHREAD ? ThreadOf(v) : nullptr;
}

const void* VmToPointer(qvVmState* L, int idx) {
    const qvValue* v = ValueOrNil(L, idx);
    switch (v->tag) {
        case VM_TTABLE:
        case VM_TFUNCTION:
        case VM_TTHREAD:
            return v->value.gc;
        case VM_TUSERDATA:
        case VM_TLIGHTUSERDATA:
            return VmToUserdata(L, idx);
        default:
            return nullptr;
    }
}

int VmRawEqual(qvVmState* L, int i1, int i2) {
    const qvValue* a = IndexToValue(L, i1);
    const qvValue* b = IndexToValue(L, i2);
    return a != nullptr && b != nullptr && VmRawEqualObj(a, b);
}

int VmEqual(qvVmState* L, int i1, int i2) {
    const qvValue* a = IndexToValue(L, i1);
    const qvValue* b = IndexToValue(L, i2);
    return a != nullptr && b != nullptr && VmEqualObj(L, a, b);
}

int VmCompare(qvVmState* L, int i1, int i2, int caseSensitive) {
    const qvValue* a = IndexToValue(L, i1);
    const qvValue* b = IndexToValue(L, i2);
    return a != nullptr && b != nullptr && VmCompareValues(L, a, b, caseSensitive);
}

// --- Pushing ---

void VmPushNil(qvVmState* L) {
    SetNil(NewSlot(L));
}

void VmPushNumber(qvVmState* L, qvNumber n) {
    SetNumber(NewSlot(L), n);
}

void VmPushBoolean(qvVmState* L, int b) {
    SetBoolean(NewSlot(L), b != 0);
}

void VmPushLightUserdata(qvVmState* L, void* p) {
    SetLightUserdata(NewSlot(L), p);
}

void VmPushLString(qvVmState* L, const char* s, size_t length) {
    CheckGC(L);
    PushNewString(L, s, length);
}

void VmPushString(qvVmState* L, const char* s) {
    if (s == nullptr) {
        VmPushNil(L);
        return;
    }
    VmPushLString(L, s, std::strlen(s));
}

void VmPushStringNoGC(qvVmState* L, const char* s) {
    PushNewString(L, s, std::strlen(s));
}

// The pieces go onto the stack (numbers as numbers, so that joining writes them "%.14g") and
// are joined at the end.
const char* VmPushVFString(qvVmState* L, const char* format, va_list args) {
    CheckGC(L);
    va_list rest;  // a copy the directives can consume through a reference
    va_copy(rest, args);
    VaListEnd end(rest);
    int pieces = 0;
    const char* p = format;
    for (const char* d; (d = std::strchr(p, '%')) != nullptr; ++pieces) {
        PushNewString(L, p, static_cast<size_t>(d - p));
        ++pieces;
        p = d + 1 + PushDirective(L, d + 1, rest);
    }
    PushNewString(L, p, std::strlen(p));
    VmConcat(L, pieces + 1);
    return StringOf(L->top - 1)->Data();
}

const char* VmPushFString(qvVmState* L, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VaListEnd end(args);
    return VmPushVFString(L, format, args);
}

void VmPushCClosure(qvVmState* L, qvCFunction f, int n) {
    CheckGC(L);
    qvCClosure* c = VmNewCClosure(L, n);
    c->f = f;
    L->top -= n;
    for (int i = 0; i < n; ++i) c->Upvalues()[i] = L->top[i];
    SetFunction(NewSlot(L), c);
}

void VmPushObject(qvVmState* L, const qvValue* v) {
    PushValue(L, v);
}

void VmNewTable(qvVmState* L) {
    CheckGC(L);
    PushNewTable(L);
}

void VmNewTableNoGC(qvVmState* L) {
    PushNewTable(L);
}

void* VmNewUserdata(qvVmState* L, size_t size) {
    CheckGC(L);
    qvUserdata* u = VmNewUserdataBlock(L, size);
    SetUserdata(NewSlot(L), u);
    return u->Data();
}

qvVmState* VmNewThread(qvVmState* L) {
    CheckGC(L);
    qvVmState* L1 = VmNewThreadState(L);
    SetThread(NewSlot(L), L1);
    return L1;
}

void VmConcat(qvVmState* L, int n) {
    if (n >= 2) {
        CheckGC(L);
        VmConcatValues(L, n, static_cast<int>(L->top - L->base) - 1);
        L->top -= n - 1;
    } else if (n == 0) {
        CheckGC(L);
        PushNewString(L, "", 0);
    }
}

// --- Tables and metatables ---

void VmGetTable(qvVmState* L, int idx) {
    qvValue t = *ValueOrNil(L, idx);
    const qvValue* v = VmGetTableChain(L, &t, L->top - 1, 0);
    L->top[-1] = *v;
}

void VmRawGet(qvVmState* L, int idx) {
    qvTable* t = TableAtIndex(L, idx);
    L->top[-1] = t != nullptr ? *VmTableGet(t, L->top - 1) : kNilObject;
}

void VmRawGetI(qvVmState* L, int idx, int n) {
    qvTable* t = TableAtIndex(L, idx);
    PushValue(L, t != nullptr ? VmTableGetNum(t, n) : &kNilObject);
}

void VmSetTable(qvVmState* L, int idx) {
    qvValue t = *ValueOrNil(L, idx);
    VmSetTableChain(L, &t, L->top - 2, L->top - 1);
    L->top -= 2;
}

void VmRawSet(qvVmState* L, int idx) {
    qvTable* t = TableAtIndex(L, idx);
    if (t != nullptr) *VmTableSet(L, t, L->top - 2) = L->top[-1];
    L->top -= 2;
}

void VmRawSetI(qvVmState* L, int idx, int n) {
    qvTable* t = TableAtIndex(L, idx);
    if (t != nullptr) *VmTableSetNum(L, t, n) = L->top[-1];
    --L->top;
}

int VmNext(qvVmState* L, int idx) {
    qvTable* t = TableAtIndex(L, idx);
    CheckStack(L, 1);  // the value goes into the slot above the key
    if (t != nullptr && VmTableNext(L, t, L->top - 1) != 0) {
        ++L->top;
        return 1;
    }
    --L->top;
    return 0;
}

int VmGetMetatable(qvVmState* L, int idx) {
    qvTable* mt = MetatableOf(ValueOrNil(L, idx));
    if (mt == nullptr || mt == TableOf(&L->g->defaultMeta)) return 0;
    SetTable(NewSlot(L), mt);
    return 1;
}

int VmSetMetatable(qvVmState* L, int idx) {
    qvValue* v = IndexToValue(L, idx);
    const qvValue* mt = L->top - 1;
    qvTable* table =
        IsNil(mt) ? TableOf(&L->g->defaultMeta) : (IsTable(mt) ? TableOf(mt) : nullptr);
    int done = 0;
    if (v != nullptr && table != nullptr) {
        if (IsTable(v)) {
            TableOf(v)->metatable = table;
            done = 1;
        } else if (v->tag == VM_TUSERDATA) {
            UserdataOf(v)->metatable = table;
            done = 1;
        }
    }
    --L->top;
    return done;
}

void VmGetFEnv(qvVmState* L, int idx) {
    const qvValue* v = ValueOrNil(L, idx);
    bool script = IsFunction(v) && !ClosureOf(v)->isNative;
    PushValue(L, script ? &LClosureOf(v)->env : &L->globals);
}

int VmSetFEnv(qvVmState* L, int idx) {
    qvValue* v = IndexToValue(L, idx);
    const qvValue* env = L->top - 1;
    int done = 0;
    if (v != nullptr && IsFunction(v) && !ClosureOf(v)->isNative && IsTable(env)) {
        LClosureOf(v)->env = *env;
        done = 1;
    }
    --L->top;
    return done;
}

const char* VmGetUpvalue(qvVmState* L, int funcidx, int n) {
    UpvalueRef up = FindUpvalue(L, funcidx, n);
    if (up.slot != nullptr) PushValue(L, up.slot);
    return up.name;
}

// Pops only when the upvalue exists.
const char* VmSetUpvalue(qvVmState* L, int funcidx, int n) {
    UpvalueRef up = FindUpvalue(L, funcidx, n);
    if (up.slot != nullptr) *up.slot = *--L->top;
    return up.name;
}

// --- Calls ---

void VmCall(qvVmState* L, int nargs, int nresults) {
    CallValue(L, L->top - (nargs + 1), nresults);
}

int VmPCall(qvVmState* L, int nargs, int nresults, int errfunc) {
    CallArgs args{L->top - (nargs + 1), nresults};
    const qvValue* handler = errfunc != 0 ? FrameSlot(L, errfunc) : nullptr;
    ptrdiff_t handlerOffset = handler != nullptr ? SaveStack(L, handler) : 0;
    return VmDoPCall(L, CallBody, &args, SaveStack(L, args.func), handlerOffset);
}

int VmCPCall(qvVmState* L, qvCFunction f, void* ud) {
    NativeCallArgs args{f, ud};
    return VmDoPCall(L, NativeCallBody, &args, SaveStack(L, L->top), 0);
}
