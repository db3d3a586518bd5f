// Argument getters of command handlers. On failure they store the argument index (or the
// table field name) in the run-time's error state and raise the code: they never return then,
// so handlers keep their resources in RAII.
#include <cstring>

#include "engine/api_internal.h"
#include "engine/convert.h"
#include "engine/host.h"

namespace qv {
namespace {

[[noreturn]] void ArgumentError(qvVmState* L, int idx, int code) {
    Host(L).SetErrorNumber(static_cast<uint32_t>(idx));
    RaiseError(L, code);
}

[[noreturn]] void TableArgumentError(qvVmState* L, const char* field, int code) {
    Host(L).SetErrorText(field != nullptr ? field : "");
    RaiseError(L, code);
}

// The number at idx when the getters accept it: a number, a numeric string or nil (as 0).
bool ArgumentNumber(qvVmState* L, int idx, double* out) {
    const qvValue* v = IndexToValue(L, idx);
    qvValue scratch;
    const qvValue* n = v != nullptr ? VmToNumberObj(v, &scratch) : nullptr;
    if (n == nullptr) return false;
    *out = n->value.n;
    return true;
}

// A string or a number (converted in place) at idx, or nullptr.
const char* ArgumentString(qvVmState* L, int idx, size_t* len) {
    const qvString* s = StringAt(L, idx);  // one lookup for the text and its length
    if (len != nullptr) *len = s != nullptr ? s->length : 0;
    return s != nullptr ? s->Data() : nullptr;
}

bool IsAbsent(qvVmState* L, int idx) {
    return VmType(L, idx) == VM_TNONE;
}

int TypeErrorCode(int tag) {
    switch (tag) {
        case VM_TNUMBER:
            return ERR_NUMEXPECTED;
        case VM_TSTRING:
            return ERR_STREXPECTED;
        case VM_TTABLE:
            return ERR_TABEXPECTED;
        case VM_TFUNCTION:
            return ERR_FUNCEXPECTED;
        default:
            return ERR_UDEXPECTED;
    }
}

}  // namespace
}  // namespace qv

using namespace qv;

double GetArgNumber(qvVmState* L, int idx) {
    double n;
    if (!ArgumentNumber(L, idx, &n)) ArgumentError(L, idx, ERR_NUMEXPECTED);
    return n;
}

double GetOptArgNumber(qvVmState* L, int idx, double def) {
    return IsAbsent(L, idx) ? def : GetArgNumber(L, idx);
}

uint32_t GetArgUInt32(qvVmState* L, int idx) {
    return Bits32(GetArgNumber(L, idx));
}

uint32_t GetOptArgUInt32(qvVmState* L, int idx, uint32_t def) {
    return IsAbsent(L, idx) ? def : GetArgUInt32(L, idx);
}

const char* GetArgString(qvVmState* L, int idx, size_t* len) {
    const char* s = ArgumentString(L, idx, len);
    if (s == nullptr) ArgumentError(L, idx, ERR_STREXPECTED);
    return s;
}

const char* GetOptArgString(qvVmState* L, int idx, const char* def, size_t* len) {
    if (!IsAbsent(L, idx)) return GetArgString(L, idx, len);
    if (len != nullptr) *len = def != nullptr ? std::strlen(def) : 0;
    return def;
}

void* GetArgUserdata(qvVmState* L, int idx) {
    if (!VmIsUserdata(L, idx)) ArgumentError(L, idx, ERR_UDEXPECTED);
    return VmToUserdata(L, idx);
}

int CheckArgType(qvVmState* L, int idx, int tag) {
    if (VmType(L, idx) != tag) ArgumentError(L, idx, TypeErrorCode(tag));
    return tag;
}

int CheckArgTable(qvVmState* L, int idx) {
    return CheckArgType(L, idx, VM_TTABLE);
}

int CheckArgFunction(qvVmState* L, int idx) {
    return CheckArgType(L, idx, VM_TFUNCTION);
}

double GetTableArgNumber(qvVmState* L, int idx, const char* field) {
    double n;
    if (!ArgumentNumber(L, idx, &n)) TableArgumentError(L, field, ERR_NUMTABLEARG);
    return n;
}

uint32_t GetTableArgUInt32(qvVmState* L, int idx, const char* field) {
    return Bits32(GetTableArgNumber(L, idx, field));
}

const char* GetTableArgString(qvVmState* L, int idx, size_t* len, const char* field) {
    const char* s = ArgumentString(L, idx, len);
    if (s == nullptr) TableArgumentError(L, field, ERR_STRTABLEARG);
    return s;
}

double GetCallbackNumber(qvVmState* L, int idx, int* err) {
    double n = 0;
    *err = ArgumentNumber(L, idx, &n) ? 0 : ERR_NUMCALLBACK;
    return n;
}

const char* GetCallbackString(qvVmState* L, int idx, size_t* len, int* err) {
    const char* s = ArgumentString(L, idx, len);
    *err = s != nullptr ? 0 : ERR_STRCALLBACK;
    return s;
}

int FindStringInList(const char* s, const char* const* list) {
    for (int i = 0; list[i] != nullptr; ++i) {
        if (std::strcmp(list[i], s) == 0) return i;
    }
    return -1;
}
