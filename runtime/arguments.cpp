#include "runtime/arguments.h"

#include <cstdarg>
#include <cstring>

#include "engine/convert.h"
#include "runtime/errors.h"
#include "runtime/number_literal.h"
#include "runtime/strings.h"

namespace qv {
namespace {

// Longest constant name after the "#".
constexpr size_t kConstantNameMax = 64;
// Room for a command name and its NUL; command names are short identifiers.
constexpr size_t kCommandNameSize = 128;

[[noreturn]] void ArgumentError(qvVmState* L, int idx, int code) {
    SetErrorNumber(static_cast<uint32_t>(idx));
    RaiseError(L, code);
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsConstantNameChar(char c) {
    return IsLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '!';
}

struct ScriptCall {
    const char* name;
    int nresults;
    int nargs;
    va_list* args;
};

void PushCallArgument(qvVmState* L, va_list& args) {
    switch (va_arg(args, int)) {
        case QV_CALLARG_INT:
            VmPushNumber(L, va_arg(args, int));
            break;
        case QV_CALLARG_UINT:
            VmPushNumber(L, va_arg(args, unsigned int));
            break;
        case QV_CALLARG_STRING:
            VmPushString(L, va_arg(args, const char*));
            break;
        case QV_CALLARG_NIL:
            VmPushNil(L);
            break;
        case QV_CALLARG_POINTER:
            VmPushLightUserdata(L, va_arg(args, void*));
            break;
        case QV_CALLARG_ID:
            PushObjectId(L, *va_arg(args, const qvObjectId*));
            break;
        case QV_CALLARG_VALUE:
            VmPushValue(L, va_arg(args, int));
            break;
        default:
            // The values after an unknown type word cannot be told apart.
            VmThrow(L, ERR_WRONGUSAGE);
    }
}

// Everything that may fail, the pushes included, runs under the protected call: during
// preload there is no other protection, and an error must come back as a code.
void ScriptCallBody(qvVmState* L, void* ud) {
    auto* call = static_cast<ScriptCall*>(ud);
    char name[kCommandNameSize];
    size_t length = std::strlen(call->name);
    if (length >= sizeof name) VmThrow(L, ERR_NAMETOOLONG);
    std::memcpy(name, call->name, length + 1);
    ToLowerStr(name);
    if (VmCheckStack(L, call->nargs + 1) == 0) VmThrow(L, ERR_STACK);
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    for (int i = 0; i < call->nargs; ++i) PushCallArgument(L, *call->args);
    VmCall(L, call->nargs, call->nresults);
}

}  // namespace

void PushObjectId(qvVmState* L, const qvObjectId& id) {
    if (id.handle != nullptr) {
        VmPushLightUserdata(L, id.handle);
    } else {
        VmPushNumber(L, static_cast<int32_t>(id.number));
    }
}

qvObjectId ReadObjectId(qvVmState* L, int idx, const char* field) {
    if (VmType(L, idx) == VM_TLIGHTUSERDATA) return {0, VmToUserdata(L, idx)};
    double n = field != nullptr ? GetTableArgNumber(L, idx, field) : GetArgNumber(L, idx);
    return {static_cast<uint32_t>(Trunc32(n)), nullptr};
}

double ReadNumberOrPercent(qvVmState* L, int idx, int reportIdx, double base, int allowOver100,
                           int* isFraction) {
    if (isFraction != nullptr) *isFraction = 0;
    int type = VmType(L, idx);
    if (type == VM_TNUMBER || type == VM_TNIL) return VmToNumber(L, idx);
    if (type != VM_TSTRING) ArgumentError(L, reportIdx, ERR_STRORNUM);
    const char* text = VmToString(L, idx);
    size_t sign = text[0] == '-' ? 1 : 0;
    double value;
    size_t digits = ReadDecimal(text + sign, &value);
    if (digits == 0) ArgumentError(L, reportIdx, ERR_PERCENTFORMAT);
    if (sign != 0) value = -value;
    if (text[sign + digits] != '%') return value;
    if (value < 0 || (value > 100 && allowOver100 == 0)) {
        ArgumentError(L, reportIdx, ERR_PERCENTFORMAT);
    }
    if (base != 0) return value * base / 100;
    if (isFraction != nullptr) *isFraction = 1;
    return value / 100;
}

void AddScriptText(qvVmState* L, StrBuf* buffer, int idx) {
    VmPushString(L, "tostring");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushValue(L, idx);
    VmCall(L, 1, 1);
    if (VmType(L, -1) != VM_TSTRING) RaiseError(L, ERR_STRINGEXPECTED);
    StrBufAddValue(buffer);
}

}  // namespace qv

void CheckArgCount(qvVmState* L, int min, int max) {
    int count = VmGetTop(L);
    if (min == 0 && max == 0) {
        if (count > 0) RaiseError(L, ERR_TOOMANYARGS);
        return;
    }
    if (count < min) RaiseError(L, ERR_MISSINGPARAMTR);
    if (max >= 1 && count > max) RaiseError(L, ERR_TOOMANYARGS);
}

int32_t GetOptIntArg(qvVmState* L, int idx, int* wasNil) {
    bool nil = VmType(L, idx) <= VM_TNIL;
    if (wasNil != nullptr) *wasNil = nil ? 1 : 0;
    return nil ? 0 : qv::Trunc32(GetArgNumber(L, idx));
}

qvNewObjectId GetNewObjectIdArg(qvVmState* L, int idx) {
    int wasNil = 0;
    const auto number = static_cast<uint32_t>(GetOptIntArg(L, idx, &wasNil));
    return {number, wasNil != 0};
}

qvObjectId GetObjectIdArg(qvVmState* L, int idx) {
    return qv::ReadObjectId(L, idx, nullptr);
}

double GetNumberOrPercentArg(qvVmState* L, int idx, double base, int allowOver100,
                             int* isFraction) {
    return qv::ReadNumberOrPercent(L, idx, idx, base, allowOver100, isFraction);
}

int GetConstantValue(qvVmState* L, const char* text, int* length, const char** string,
                     double* number) {
    if (text[0] != '#') return ERR_WRONGUSAGE;
    const char* name = text + 1;
    if (!qv::IsLetter(name[0]) && name[0] != '_') return ERR_SYNTAXERROR;
    size_t n = 1;
    while (n < qv::kConstantNameMax && qv::IsConstantNameChar(name[n])) ++n;
    char key[qv::kConstantNameMax + 1];
    std::memcpy(key, name, n);
    key[n] = '\0';
    const char* s = nullptr;
    double value = 0;
    if (LookupConstant(L, key, &s, &value) == 0) return ERR_FINDCST;
    *length = static_cast<int>(n + 1);
    *string = s;
    *number = value;
    return 0;
}

int CallScriptFunction(qvVmState* L, const char* name, int nresults, int nargs, ...) {
    va_list args;
    va_start(args, nargs);
    qv::ScriptCall call{name, nresults, nargs, &args};
    int status = VmDoPCall(L, qv::ScriptCallBody, &call, L->top - L->stack, 0);
    va_end(args);
    return status;
}
