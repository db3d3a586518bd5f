#include "libs/system/system_library.h"

#include <string_view>

#include "platform/linux/debug_output.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/messages.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr qvCommandEntry kSystemCommands[] = {
    {"DebugOutput", DebugOutput},
    {"DebugPrint", DebugPrint},
    {"DebugStr", DebugPrint},
    {"DebugVal", DebugPrint},
    {"End", End},
    {"Error", Error},
    {"ExitOnError", ExitOnError},
    {"GetLastError", GetLastError},
    {nullptr, nullptr},
};

// Adds the script's own text of argument idx (its global "tostring") to the buffer.
void AddScriptText(qvVmState* L, StrBuf* buffer, int idx) {
    VmPushString(L, "tostring");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushValue(L, idx);
    VmCall(L, 1, 1);
    if (VmType(L, -1) != VM_TSTRING) RaiseError(L, ERR_STRINGEXPECTED);
    StrBufAddValue(buffer);
}

bool ArgFlag(qvVmState* L, int idx) {
    return VmType(L, idx) == VM_TBOOLEAN ? VmToBoolean(L, idx) != 0 : GetArgNumber(L, idx) != 0;
}

}  // namespace
}  // namespace qv

int RegisterSystemLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kSystemCommands, 0);
    RegisterConstants(L, qvErrorConstants, 0);
    qv::Runtime().getLastError = GetLastError;
    return RegisterCommandTable(qv::kSystemCommands, "system");
}

// The arguments as the script writes them, one blank apart, as one line.
int DebugPrint(qvVmState* L) {
    CheckArgCount(L, 1, 0);
    int count = VmGetTop(L);
    StrBuf buffer;
    StrBufInit(L, &buffer);
    for (int i = 1; i <= count; ++i) {
        if (i > 1) StrBufAddString(&buffer, " ");
        qv::AddScriptText(L, &buffer, i);
    }
    StrBufAddString(&buffer, "\n");
    StrBufPushResult(&buffer);
    qv::WriteDebugPlain(std::string_view(VmToString(L, -1), VmStrLen(L, -1)));
    return 0;
}

int DebugOutput(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qv::Runtime().debugTrace = qv::ArgFlag(L, 1);
    return 0;
}

int End(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    qv::Runtime().abortFlag.store(1);
    return 0;
}

int Error(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    SetErrorString(GetArgString(L, 1, nullptr));
    return ERR_ERRORCALLED;
}

int ExitOnError(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvAttrSet tags[] = {{QV_ATTR_EXITONERROR, qv::ArgFlag(L, 1) ? 1 : 0}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, tags);
    return 0;
}

int GetLastError(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, qv::Runtime().error.lastError);
    return 1;
}
