// Item lists (consecutive values from key 0), copying, iteration, raw access and metatables.
#include <cstdint>

#include "engine/convert.h"
#include "libs/system/commands.h"
#include "runtime/arguments.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr int kMaxCopyDepth = 200;

// Values from key 0 up to the first nil, read raw.
int32_t CountItems(qvVmState* L, int t) {
    int32_t n = 0;
    for (;; ++n) {
        VmRawGetI(L, t, n);
        bool end = VmType(L, -1) == VM_TNIL;
        VmSetTop(L, -2);
        if (end) return n;
    }
}

// t[to] = t[from], raw.
void MoveItem(qvVmState* L, int32_t from, int32_t to) {
    VmRawGetI(L, 1, from);
    VmRawSetI(L, 1, to);
}

int32_t OptInt(qvVmState* L, int idx, int32_t def) {
    return VmGetTop(L) >= idx ? Trunc32(GetArgNumber(L, idx)) : def;
}

// Calls the function at idx with the two values on top in protected mode, counted as a
// script callback; leaves its result on top. Returns 0 or the callback's error.
int CallCounted(qvVmState* L, int f) {
    VmPushValue(L, f);
    VmInsert(L, -3);
    int32_t& nested = Runtime().error.nestedCalls;
    ++nested;
    int code = VmPCall(L, 2, 1, 0);
    --nested;
    return code;
}

// Pushes a copy of the table at src. A table is copied each time it is met; map holds
// {source → copy} of the tables on the current path only, so that a cycle closes on the copy
// that is being made.
void PushCopy(qvVmState* L, int src, int map, int depth) {
    if (depth > kMaxCopyDepth || !VmCheckStack(L, 8)) RaiseError(L, ERR_STACK);
    VmNewTable(L);
    int copy = VmGetTop(L);
    VmPushValue(L, src);
    VmPushValue(L, copy);
    VmRawSet(L, map);
    VmPushNil(L);
    while (VmNext(L, src)) {
        if (VmType(L, -1) == VM_TTABLE) {
            VmPushValue(L, -1);
            VmRawGet(L, map);
            if (VmType(L, -1) == VM_TNIL) {
                VmSetTop(L, -2);
                PushCopy(L, VmGetTop(L), map, depth + 1);
            }
            VmReplace(L, -2);
        }
        VmPushValue(L, -2);
        VmInsert(L, -2);
        VmSetTable(L, copy);
    }
    VmPushValue(L, src);
    VmPushNil(L);
    VmRawSet(L, map);
}

}  // namespace

int ListItems(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    CheckArgTable(L, 1);
    VmPushNumber(L, CountItems(L, 1));
    return 1;
}

int InsertItem(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    CheckArgTable(L, 1);
    int32_t n = CountItems(L, 1);
    int32_t pos = OptInt(L, 3, -1);
    if (pos < 0 || pos > n) pos = n;
    for (int32_t i = n; i > pos; --i) MoveItem(L, i - 1, i);
    VmPushValue(L, 2);
    VmRawSetI(L, 1, pos);
    return 0;
}

int RemoveItem(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    CheckArgTable(L, 1);
    int32_t n = CountItems(L, 1);
    int32_t pos = OptInt(L, 2, -1);
    if (n == 0) return 0;
    if (pos < 0 || pos > n - 1) pos = n - 1;
    VmRawGetI(L, 1, pos);
    for (int32_t i = pos; i < n - 1; ++i) MoveItem(L, i + 1, i);
    VmPushNil(L);
    VmRawSetI(L, 1, n - 1);
    return 1;
}

int Concat(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    CheckArgTable(L, 1);
    size_t sepLength = 0;
    const char* sep = GetOptArgString(L, 2, "", &sepLength);
    int32_t start = OptInt(L, 3, 0);
    int32_t end = OptInt(L, 4, 0);
    if (end == 0) end = CountItems(L, 1) - 1;
    StrBuf buffer;
    StrBufInit(L, &buffer);
    for (int32_t i = start; i <= end; ++i) {
        VmRawGetI(L, 1, i);
        if (VmType(L, -1) != VM_TSTRING && VmType(L, -1) != VM_TNUMBER) return ERR_STRINGEXPECTED;
        StrBufAddValue(&buffer);
        if (i < end) StrBufAddLString(&buffer, sep, sepLength);
    }
    StrBufPushResult(&buffer);
    return 1;
}

int Unpack(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    CheckArgTable(L, 1);
    int32_t n = CountItems(L, 1);
    // More would read as an error code.
    if (n > VM_MAXRESULTS || !VmCheckStack(L, n)) return ERR_STACK;
    for (int32_t i = 0; i < n; ++i) VmRawGetI(L, 1, i);
    return n;
}

int CopyTable(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    CheckArgTable(L, 1);
    VmNewTable(L);
    PushCopy(L, 1, VmGetTop(L), 0);
    return 1;
}

int ForEach(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    CheckArgTable(L, 1);
    CheckArgFunction(L, 2);
    VmSetTop(L, 2);
    VmPushNil(L);
    while (VmNext(L, 1)) {
        VmPushValue(L, -2);
        VmPushValue(L, -2);
        if (int code = CallCounted(L, 2)) return code;
        if (VmType(L, -1) != VM_TNIL) return 1;
        VmSetTop(L, -3);
    }
    return 0;
}

int ForEachI(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    CheckArgTable(L, 1);
    CheckArgFunction(L, 2);
    VmSetTop(L, 2);
    for (int32_t i = 0;; ++i) {
        VmRawGetI(L, 1, i);
        if (VmType(L, -1) == VM_TNIL) return 0;
        VmPushNumber(L, i);
        VmInsert(L, -2);
        if (int code = CallCounted(L, 2)) return code;
        if (VmType(L, -1) != VM_TNIL) return 1;
        VmSetTop(L, 2);
    }
}

int NextItem(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    CheckArgTable(L, 1);
    VmSetTop(L, 2);
    if (VmNext(L, 1)) return 2;
    VmPushNil(L);
    return 1;
}

int Pairs(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    CheckArgTable(L, 1);
    VmPushString(L, "nextitem");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushValue(L, 1);
    VmPushNil(L);
    return 3;
}

int IPairs(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    CheckArgTable(L, 1);
    if (VmGetTop(L) == 1) {
        VmPushString(L, "ipairs");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushValue(L, 1);
        VmPushNumber(L, -1);
        return 3;
    }
    int32_t next = Trunc32(GetArgNumber(L, 2)) + 1;
    VmPushNumber(L, next);
    VmRawGetI(L, 1, next);
    return VmType(L, -1) == VM_TNIL ? 0 : 2;
}

int RawGet(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    CheckArgTable(L, 1);
    VmRawGet(L, 1);
    return 1;
}

int RawSet(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    CheckArgTable(L, 1);
    VmRawSet(L, 1);
    return 1;
}

int RawEqual(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    VmPushNumber(L, VmRawEqual(L, 1, 2) ? 1 : 0);
    return 1;
}

int GetMetaTable(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (!VmGetMetatable(L, 1)) {
        VmPushNil(L);
        return 1;
    }
    VmPushString(L, "__metatable");
    VmRawGet(L, -2);
    if (VmType(L, -1) == VM_TNIL) VmSetTop(L, -2);
    return 1;
}

int SetMetaTable(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    CheckArgTable(L, 1);
    if (VmType(L, 2) != VM_TNIL && VmType(L, 2) != VM_TTABLE) return ERR_TABLEORNIL;
    if (VmGetMetatable(L, 1)) {
        VmPushString(L, "__metatable");
        VmRawGet(L, -2);
        if (VmType(L, -1) != VM_TNIL) return ERR_PROTMETATABLE;
        VmSetTop(L, 2);
    }
    VmSetMetatable(L, 1);
    return 1;
}

}  // namespace qv
