// Errors, version and program information, constants and value types.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "gfx/geometry.h"
#include "libs/system/commands.h"
#include "platform/linux/debug_output.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

enum : int { kProgramScript = 0, kProgramApplet = 1, kProgramLinked = 2 };
constexpr size_t kErrorNameSize = 1024;
constexpr size_t kPromptLineSize = 16384;

void SetField(qvVmState* L, const char* key, const char* text) {
    VmPushString(L, key);
    VmPushString(L, text);
    VmSetTable(L, -3);
}

void SetField(qvVmState* L, const char* key, double n) {
    VmPushString(L, key);
    VmPushNumber(L, n);
    VmSetTable(L, -3);
}

// The start-up options; an empty record when none was stored (a library run without start-up).
const qvStartupOptions& Clargs(qvVmState* L) {
    static const qvStartupOptions kNone{};
    const qvStartupOptions* options = GetClargsRecord(L);
    return options != nullptr ? *options : kNone;
}

}  // namespace

bool ArgFlag(qvVmState* L, int idx) {
    return VmType(L, idx) == VM_TBOOLEAN ? VmToBoolean(L, idx) != 0 : GetArgNumber(L, idx) != 0;
}

int GetErrorName(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    // A number no code has (also beyond any integer) reads "Unknown error code!".
    const int code = gfx::TruncSaturate(GetArgNumber(L, 1));
    char text[kErrorNameSize];
    FormatErrorMessage(code, text, sizeof text);
    VmPushString(L, text);
    return 1;
}

int Assert(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int type = VmType(L, 1);
    if (type == VM_TNIL || (type == VM_TNUMBER && VmToNumber(L, 1) == 0)) return ERR_ASSERTFAILED;
    VmPushValue(L, 1);
    return 1;
}

// The end of the console input reads as an empty line.
int DebugPrompt(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    size_t length = 0;
    const char* prompt = GetArgString(L, 1, &length);
    if (length > 0) WriteDebugPlain(std::string_view(prompt, length));
    std::fflush(stdout);
    static char line[kPromptLineSize];
    if (std::fgets(line, sizeof line, stdin) == nullptr) line[0] = '\0';
    size_t end = std::strlen(line);
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) --end;
    VmPushLString(L, line, end);
    return 1;
}

int GetVersion(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    VmNewTable(L);
    SetField(L, "application", "QuorvellaPlayer");
    SetField(L, "version", "5.0");
    SetField(L, "version_date", "19.02.12");
    SetField(L, "kernel", "5.0");
    SetField(L, "kernel_date", "19.02.12");
    SetField(L, "beta", 0.0);
    SetField(L, "platform", "Linux");
    return 1;
}

int GetProgramInfo(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    const qvStartupOptions& options = Clargs(L);
    if (Runtime().appletLinked) {
        VmPushNumber(L, kProgramLinked);
        VmPushString(L, options.programPath);
        return 2;
    }
    VmPushNumber(L, options.appletFlag ? kProgramApplet : kProgramScript);
    VmPushString(L, options.appletPath);
    VmPushString(L, options.programPath);
    return 3;
}

// Without a desktop, every start is a start from a shell.
int GetCommandLine(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmNewTable(L);
    int n = 0;
    for (const qvUnknownOption* o = Clargs(L).unknownOptions; o != nullptr; o = o->next) {
        VmNewTable(L);
        SetField(L, "arg", o->name);
        SetField(L, "param", o->value != nullptr ? o->value : "");
        VmRawSetI(L, -2, n++);
    }
    VmPushNumber(L, n);
    VmPushNumber(L, 1);
    return 3;
}

int GetFileArgument(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushString(L, Clargs(L).scriptArgument);
    return 1;
}

int GetConstant(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetArgString(L, 1, nullptr);
    int length = 0;
    const char* text = nullptr;
    double number = 0;
    if (int code = GetConstantValue(L, name, &length, &text, &number)) return code;
    if (text != nullptr)
        VmPushString(L, text);
    else
        VmPushNumber(L, number);
    return 1;
}

int GetType(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int result = -1;
    switch (VmType(L, 1)) {
        case VM_TNIL:
            result = 0;
            break;
        case VM_TNUMBER:
            result = 2;
            break;
        case VM_TSTRING:
            result = 3;
            break;
        case VM_TTABLE:
            result = 4;
            break;
        case VM_TFUNCTION:
            result = 5;
            break;
        case VM_TUSERDATA:
            result = 8;
            break;
        case VM_TLIGHTUSERDATA:
            result = 9;
            break;
        case VM_TTHREAD:
            result = 10;
            break;
        default:
            break;
    }
    VmPushNumber(L, result);
    return 1;
}

// The handle is only compared with the registered records, never read.
int GetObjectType(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (VmType(L, 1) != VM_TLIGHTUSERDATA && VmType(L, 1) != VM_TUSERDATA) return ERR_UDEXPECTED;
    VmPushNumber(L, GetObjectTypeOf(VmToUserdata(L, 1)));
    return 1;
}

int IIf(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    bool pick = false;
    switch (VmType(L, 1)) {
        case VM_TNIL:
            break;
        case VM_TNUMBER:
            pick = VmToNumber(L, 1) != 0;
            break;
        case VM_TSTRING:
            pick = VmStrLen(L, 1) > 0;
            break;
        default:
            return ERR_WRONGDTYPE;
    }
    VmPushValue(L, pick ? 2 : 3);
    return 1;
}

}  // namespace qv
