// The commands a listing calls: logging, protected calls, the run-time's error switches,
// aborting, collecting, type queries and label jumps.
#include "engine/testsupport/commands.h"

#include <initializer_list>

#include "engine/api_internal.h"
#include "engine/convert.h"

namespace qv {
namespace {

constexpr char kContextKey[] = "qv.listing";

HarnessContext& Context(qvVmState* L) {
    return *static_cast<HarnessContext*>(GetRegistryPointer(L, kContextKey));
}

// Numbers by "%.14g", strings raw, nil and booleans by name, other values by type name.
std::string ValueText(qvVmState* L, int idx) {
    const qvValue* v = IndexToValue(L, idx);
    switch (v->tag) {
        case VM_TNUMBER: {
            char text[kNumberTextSize];
            size_t length = FormatNumber(v->value.n, text);
            return std::string(text, length);
        }
        case VM_TSTRING:
            return std::string(StringOf(v)->Data(), StringOf(v)->length);
        case VM_TBOOLEAN:
            return v->value.b != 0 ? "true" : "false";
        default:
            return TypeName(v->tag);
    }
}

void Log(qvVmState* L, std::string line) {
    std::vector<std::string>* log = Context(L).log;
    if (log != nullptr) log->push_back(std::move(line));
}

int Report(qvVmState* L) {
    std::string line;
    for (int i = 1; i <= VmGetTop(L); ++i) {
        if (i > 1) line += ' ';
        line += ValueText(L, i);
    }
    Log(L, std::move(line));
    return 0;
}

// pcall(f, ...): the status, then f's results; the run-time counts the call as a nested
// protected call, so an error inside it does not stop the script.
int ProtectedCall(qvVmState* L) {
    if (VmGetTop(L) == 0) VmPushNil(L);
    ListingHost& host = *Context(L).host;
    host.AddNestedCalls(1);
    int status = VmPCall(L, VmGetTop(L) - 1, -1, 0);
    host.AddNestedCalls(-1);
    VmPushNumber(L, status);
    VmInsert(L, 1);
    return VmGetTop(L);
}

int Fail(qvVmState* L) {
    return Trunc32(GetArgNumber(L, 1));
}

int SetExitOnError(qvVmState* L) {
    Context(L).host->SetExitOnError(GetArgUInt32(L, 1));
    return 0;
}

int ErrorLine(qvVmState* L) {
    VmPushNumber(L, Context(L).host->ErrorLine());
    return 1;
}

int ErrorText(qvVmState* L) {
    std::string text = Context(L).host->ErrorText();
    VmPushLString(L, text.data(), text.size());
    return 1;
}

// Logs "@where N", N being the current line of the level below it as the debug interface
// reports it: the script function that called it, or whose operation called it as a
// metamethod or iterator. Returns nothing (nil where a result is wanted).
int Where(qvVmState* L) {
    qvDebugRecord ar{};
    int line = -1;
    if (VmGetStack(L, 1, &ar) != 0 && VmGetInfo(L, "l", &ar) != 0) line = ar.currentline;
    Log(L, "@where " + std::to_string(line));
    return 0;
}

int Globals(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    return 1;
}

int Abort(qvVmState* L) {
    Context(L).host->Engine().AbortFlag().store(1);
    return 0;
}

int Collect(qvVmState* L) {
    VmCollectGarbage(L);
    return 0;
}

int TypeOf(qvVmState* L) {
    VmPushString(L, TypeName(VmType(L, 1)));
    return 1;
}

// By the script's truth rule, not the stack interface's: 0 and "" are false too.
int Boolean(qvVmState* L) {
    const qvValue* v = IndexToValue(L, 1);
    VmPushBoolean(L, v != nullptr && !IsFalse(v));
    return 1;
}

int SetMetatable(qvVmState* L) {
    VmSetTop(L, 2);
    VmSetMetatable(L, 1);
    VmSetTop(L, 1);
    return 1;
}

int NewUserdata(qvVmState* L) {
    VmNewUserdata(L, 0);
    return 1;
}

// Continues the main chunk at the label; RETSUB comes back after the call.
int JumpLabel(qvVmState* L) {
    SetLabelJump(L, LookupLabel(L, GetArgString(L, 1, nullptr)));
    return -1;
}

// Jumps to the label so that its RETSUB calls this command again, which then returns 0.
int RejumpLabel(qvVmState* L) {
    HarnessContext& context = Context(L);
    context.rejumpDone = !context.rejumpDone;
    if (!context.rejumpDone) return 0;
    SetLabelJump(L, LookupLabel(L, GetArgString(L, 1, nullptr)));
    return -2;
}

constexpr qvCommandEntry kCommands[] = {
    {"report", Report},
    {"pcall", ProtectedCall},
    {"fail", Fail},
    {"setexitonerror", SetExitOnError},
    {"errline", ErrorLine},
    {"errtext", ErrorText},
    {"abort", Abort},
    {"gc", Collect},
    {"typeof", TypeOf},
    {"boolean", Boolean},
    {"setmetatable", SetMetatable},
    {"newuserdata", NewUserdata},
    {"jumplabel", JumpLabel},
    {"rejumplabel", RejumpLabel},
    {"where", Where},
    {"globals", Globals},
    {nullptr, nullptr},
};

}  // namespace

void RegisterHarnessCommands(qvVmState* L, HarnessContext* context) {
    SetRegistryPointer(L, kContextKey, context);
    const qvCommandEntry getLastError[] = {
        {"getlasterror", context->host->GetLastErrorHandler()},
        {nullptr, nullptr},
    };
    for (const qvCommandEntry* rows : {kCommands, getLastError}) {
        VmPushValue(L, VM_GLOBALSINDEX);
        RegisterLibrary(L, nullptr, rows, 0);  // leaves the table
        VmSetTop(L, -2);
    }
}

void HarnessLineHook(qvVmState* L, qvDebugRecord* ar, int*) {
    Log(L, "@line " + std::to_string(ar->currentline));
}

}  // namespace qv
