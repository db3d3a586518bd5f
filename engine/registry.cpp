// Registration of command libraries and constants, labels, named metatables and values in
// the registry, integer references and array sizes. Names of commands, constants and labels
// are stored lower-cased, so scripts find "LoadBrush" as "loadbrush".
#include <string>

#include "engine/api_internal.h"
#include "engine/convert.h"
#include "engine/host.h"

namespace qv {
namespace {

constexpr int kSizeTableKey = 2;
constexpr int kFreeListKey = 1;
constexpr int kFirstRef = 3;  // references 1 and 2 are the free list and the size table

std::string LowerName(qvVmState* L, const char* name) {
    std::string lower(name);
    Host(L).ToLowerStr(lower.data());
    return lower;
}

void PushLowerName(qvVmState* L, const char* name) {
    std::string lower = LowerName(L, name);
    VmPushLString(L, lower.data(), lower.size());
}

// Pushes registry[name].
void PushRegistryField(qvVmState* L, const char* name) {
    VmPushString(L, name);
    VmRawGet(L, VM_REGISTRYINDEX);
}

// Pushes registry[name], creating a table there when it is nil. Uses the no-collection
// variants: registration holds half-stored rows while it runs.
void PushRegistryTable(qvVmState* L, const char* name) {
    VmPushStringNoGC(L, name);
    VmRawGet(L, VM_REGISTRYINDEX);
    if (VmType(L, -1) != VM_TNIL) return;
    VmSetTop(L, -2);
    VmNewTableNoGC(L);
    VmPushStringNoGC(L, name);
    VmPushValue(L, -2);
    VmRawSet(L, VM_REGISTRYINDEX);
}

// Reads the constant on top of the stack into the caller's pointers; 0 when it is nil.
int ReadConstant(qvVmState* L, const char** string, double* number) {
    const qvValue* v = L->top - 1;
    if (IsNil(v)) return 0;
    if (IsNumber(v)) {
        if (string != nullptr) *string = nullptr;
        if (number != nullptr) *number = v->value.n;
    } else if (IsString(v) && string != nullptr) {
        *string = StringOf(v)->Data();  // the constants table keeps it alive
    }
    return 1;
}

// The size a value gives: its number truncated when numeric (nil as 0) and not negative,
// else -1.
int SizeFromTop(qvVmState* L) {
    int n = Trunc32(VmToNumber(L, -1));
    bool numeric = VmIsNumber(L, -1) != 0;
    VmSetTop(L, -2);
    return numeric && n >= 0 ? n : -1;
}

int CountArrayItems(qvTable* t) {
    int i = 1;
    while (!IsNil(VmTableGetNum(t, i))) ++i;
    return i - 1;
}

}  // namespace
}  // namespace qv

using namespace qv;

void RegisterLibrary(qvVmState* L, const char* libname, const qvCommandEntry* rows, int nup) {
    if (libname != nullptr) {
        VmPushString(L, libname);
        VmGetTable(L, VM_GLOBALSINDEX);
        if (VmType(L, -1) != VM_TTABLE) {
            VmSetTop(L, -2);
            VmNewTable(L);
            VmPushString(L, libname);
            VmPushValue(L, -2);
            VmSetTable(L, VM_GLOBALSINDEX);
        }
        VmInsert(L, -(nup + 1));
    }
    for (const qvCommandEntry* row = rows; row->name != nullptr; ++row) {
        PushLowerName(L, row->name);
        for (int i = 0; i < nup; ++i) VmPushValue(L, -(nup + 1));
        VmPushCClosure(L, row->func, nup);
        VmSetTable(L, -(nup + 3));
    }
    VmSetTop(L, -nup - 1);
}

void RegisterConstants(qvVmState* L, const qvConstant* rows, int user) {
    PushRegistryTable(L, user != 0 ? "userconstants" : "constants");
    for (const qvConstant* row = rows; row->name != nullptr; ++row) {
        VmPushStringNoGC(L, LowerName(L, row->name).c_str());
        if (row->string != nullptr) {
            VmPushStringNoGC(L, row->string);
        } else {
            VmPushNumber(L, row->value);
        }
        VmRawSet(L, -3);
    }
    VmSetTop(L, -2);
}

int LookupConstantIn(qvVmState* L, const char* name, const char** string, double* number,
                     const char* tablename) {
    int top = VmGetTop(L);
    PushRegistryField(L, tablename);
    int found = 0;
    if (VmType(L, -1) == VM_TTABLE) {
        PushLowerName(L, name);
        VmRawGet(L, -2);
        found = ReadConstant(L, string, number);
    }
    VmSetTop(L, top);
    return found;
}

int LookupConstant(qvVmState* L, const char* name, const char** string, double* number) {
    return LookupConstantIn(L, name, string, number, "constants") ||
           LookupConstantIn(L, name, string, number, "userconstants");
}

void DefineLabel(qvVmState* L, const char* name, int pc) {
    PushRegistryTable(L, "labels");
    PushLowerName(L, name);
    VmPushNumber(L, pc);
    VmRawSet(L, -3);
    VmSetTop(L, -2);
}

int LookupLabel(qvVmState* L, const char* name) {
    int top = VmGetTop(L);
    PushRegistryField(L, "labels");
    int pc = -1;
    if (VmType(L, -1) == VM_TTABLE) {
        PushLowerName(L, name);
        VmRawGet(L, -2);
        if (VmType(L, -1) == VM_TNUMBER) pc = Trunc32(VmToNumber(L, -1));
    }
    VmSetTop(L, top);
    return pc;
}

int AddLabelRef(qvVmState* L, const char* name, int pc) {
    PushRegistryTable(L, "labelrefs");
    VmPushString(L, "n");
    VmRawGet(L, -2);
    int n = Trunc32(VmToNumber(L, -1));
    VmSetTop(L, -2);
    VmNewTable(L);
    VmPushString(L, "name");
    PushLowerName(L, name);
    VmRawSet(L, -3);
    VmPushString(L, "pc");
    VmPushNumber(L, pc);
    VmRawSet(L, -3);
    VmRawSetI(L, -2, n);
    VmPushString(L, "n");
    VmPushNumber(L, n + 1.0);
    VmRawSet(L, -3);
    VmSetTop(L, -2);
    return n;
}

int NewRegistryMetatable(qvVmState* L, const char* name) {
    PushRegistryField(L, name);
    if (VmType(L, -1) != VM_TNIL) return 0;
    VmSetTop(L, -2);
    VmNewTable(L);
    VmPushString(L, name);
    VmPushValue(L, -2);
    VmRawSet(L, VM_REGISTRYINDEX);
    VmPushValue(L, -1);
    VmPushString(L, name);
    VmRawSet(L, VM_REGISTRYINDEX);
    return 1;
}

void GetRegistryMetatable(qvVmState* L, const char* name) {
    PushRegistryField(L, name);
}

void* CheckUserdataType(qvVmState* L, int idx, const char* name) {
    const qvValue* v = IndexToValue(L, idx);
    if (v == nullptr || v->tag != VM_TUSERDATA) return nullptr;
    qvUserdata* u = UserdataOf(v);
    PushRegistryField(L, name);
    bool matches = TableAtIndex(L, -1) == u->metatable;
    VmSetTop(L, -2);
    return matches ? u->Data() : nullptr;
}

void SetRegistryNumber(qvVmState* L, const char* name, double n) {
    VmPushString(L, name);
    VmPushNumber(L, n);
    VmRawSet(L, VM_REGISTRYINDEX);
}

void SetRegistryString(qvVmState* L, const char* name, const char* s) {
    VmPushString(L, name);
    VmPushString(L, s);
    VmRawSet(L, VM_REGISTRYINDEX);
}

void SetRegistryPointer(qvVmState* L, const char* name, void* p) {
    VmPushString(L, name);
    VmPushLightUserdata(L, p);
    VmRawSet(L, VM_REGISTRYINDEX);
}

double GetRegistryNumber(qvVmState* L, const char* name) {
    PushRegistryField(L, name);
    double n = VmToNumber(L, -1);
    VmSetTop(L, -2);
    return n;
}

// A number is converted in its registry entry, which then keeps the text alive.
const char* GetRegistryString(qvVmState* L, const char* name) {
    PushRegistryField(L, name);
    bool number = VmType(L, -1) == VM_TNUMBER;
    const char* s = VmToString(L, -1);
    if (number) {
        VmPushString(L, name);
        VmPushValue(L, -2);
        VmRawSet(L, VM_REGISTRYINDEX);
    }
    VmSetTop(L, -2);
    return s;
}

void* GetRegistryPointer(qvVmState* L, const char* name) {
    PushRegistryField(L, name);
    void* p = VmToUserdata(L, -1);
    VmSetTop(L, -2);
    return p;
}

int CallMetafield(qvVmState* L, int idx, const char* event) {
    const qvValue* v = IndexToValue(L, idx);
    qvTable* mt = v != nullptr ? MetatableOf(v) : nullptr;
    if (mt == nullptr) return 0;
    VmPushString(L, event);
    const qvValue* field = VmTableGet(mt, L->top - 1);
    if (IsNil(field)) {
        VmSetTop(L, -2);
        return 0;
    }
    L->top[-1] = *field;
    return 1;
}

int CallMetamethodOn(qvVmState* L, int idx, const char* event) {
    idx = AbsIndex(L, idx);
    if (!CallMetafield(L, idx, event)) return 0;
    VmPushValue(L, idx);
    VmCall(L, 1, 1);
    return 1;
}

// --- References and array sizes ---

int MakeRef(qvVmState* L, int t) {
    t = AbsIndex(L, t);
    if (VmType(L, -1) <= VM_TNIL) {
        VmSetTop(L, -2);
        return -1;
    }
    VmRawGetI(L, t, kFreeListKey);
    int ref = Trunc32(VmToNumber(L, -1));
    VmSetTop(L, -2);
    if (ref != 0) {
        VmRawGetI(L, t, ref);
        VmRawSetI(L, t, kFreeListKey);
    } else {
        int size = GetTableSize(L, t);
        ref = size > 1 ? size + 1 : kFirstRef;
        SetTableSize(L, t, ref);
    }
    VmRawSetI(L, t, ref);
    return ref;
}

// References below 3 were never handed out: freeing one would corrupt the free list (1),
// overwrite the size table (2) or drop the list (0, a record that never got a reference).
void FreeRef(qvVmState* L, int t, int ref) {
    if (ref < kFirstRef) return;
    t = AbsIndex(L, t);
    VmRawGetI(L, t, kFreeListKey);
    VmRawSetI(L, t, ref);
    VmPushNumber(L, ref);
    VmRawSetI(L, t, kFreeListKey);
}

void GetSizeTable(qvVmState* L) {
    VmRawGetI(L, VM_REGISTRYINDEX, kSizeTableKey);
    if (VmType(L, -1) == VM_TTABLE) return;
    VmSetTop(L, -2);
    VmNewTable(L);
    VmNewTable(L);
    VmPushString(L, "__mode");
    VmPushString(L, "k");
    VmRawSet(L, -3);
    VmSetMetatable(L, -2);
    VmPushValue(L, -1);
    VmRawSetI(L, VM_REGISTRYINDEX, kSizeTableKey);
}

int GetTableSize(qvVmState* L, int t) {
    t = AbsIndex(L, t);
    VmPushString(L, "n");
    VmRawGet(L, t);
    int size = SizeFromTop(L);
    if (size >= 0) return size;
    GetSizeTable(L);
    VmPushValue(L, t);
    VmRawGet(L, -2);
    size = SizeFromTop(L);
    VmSetTop(L, -2);
    if (size >= 0) return size;
    qvTable* table = TableAtIndex(L, t);
    return table != nullptr ? CountArrayItems(table) : 0;
}

void SetTableSize(qvVmState* L, int t, int n) {
    t = AbsIndex(L, t);
    VmPushString(L, "n");
    VmRawGet(L, t);
    bool inField = VmIsNumber(L, -1) && VmToNumber(L, -1) >= 0;
    VmSetTop(L, -2);
    if (inField) {
        VmPushString(L, "n");
        VmPushNumber(L, n);
        VmRawSet(L, t);
        return;
    }
    GetSizeTable(L);
    VmPushValue(L, t);
    VmPushNumber(L, n);
    VmRawSet(L, -3);
    VmSetTop(L, -2);
}
