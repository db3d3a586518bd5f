#include "libs/arexx/arexx_library.h"

#include <cstdio>
#include <string>

#include "platform/linux/debug_output.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/input_pump.h"
#include "scene/events/dispatcher.h"

namespace qv {
namespace {

constexpr size_t kMaxPortName = 127;

struct ARexxState {
    std::unique_ptr<RexxPort> port;
    bool portCreated = false;  // only one per run, even after a failure to create
};
ARexxState state;

constexpr qvCommandEntry kARexxCommands[] = {
    {"CreateRexxPort", CreateRexxPort},
    {"SendRexxCommand", SendRexxCommand},
    {"RunRexxScript", RunRexxScript},
    {nullptr, nullptr},
};

int PortError(int code, const std::string& name) {
    SetErrorString(name.c_str());
    return code;
}

// Waits for the reply of connection, answering the program's own port meanwhile. The first
// handler error of the whole wait is the result once the reply is in.
int AwaitReply(qvVmState* L, RexxConnection& connection, const std::string& port) {
    int firstError = 0;
    int32_t rc1 = 0, rc2 = 0;
    std::string result;
    while (true) {
        WaitSignals(L, connection.Fd());
        int code = CallOnARexx(L, 1, 0);
        if (firstError == 0) firstError = code;
        RexxConnection::Reply reply = connection.TakeReply(&rc1, &rc2, &result);
        if (reply == RexxConnection::Reply::kArrived) break;
        if (reply == RexxConnection::Reply::kClosed) return PortError(ERR_FINDPORT, port);
        if (RunInputPump(L)) return ERR_USERABORT;  // a late reply is dropped with the socket
    }
    if (firstError != 0) return firstError;
    if (rc1 != 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%ld/%ld", long{rc1}, long{rc2});
        return ErrorWithText(ERR_REXXERR, text);
    }
    VmPushLString(L, result.data(), result.size());
    return 1;
}

int SendRexxMessage(qvVmState* L, const std::string& port, std::string_view text, bool script) {
    if (!RexxPortExists("REXX")) return ERR_NOREXX;
    RexxConnection connection;
    if (!connection.Open(port)) return PortError(ERR_FINDPORT, port);
    if (text.size() > kMaxRexxArgument) return ERR_MEM;  // no message can be made to carry it
    if (!connection.Send(script ? kRexxScript : kRexxCommand, text)) {
        return PortError(ERR_FINDPORT, port);
    }
    return AwaitReply(L, connection, port);
}

std::string ArgText(qvVmState* L, int idx) {
    size_t length = 0;
    const char* text = GetArgString(L, idx, &length);
    return std::string(text, length);
}

}  // namespace

RexxCommandText SplitRexxCommand(std::string_view text) {
    RexxCommandText split;
    size_t space = text.find(' ');
    split.command.assign(text.substr(0, space));
    if (space == std::string_view::npos) return split;
    split.rawArgs.assign(text.substr(space + 1));
    split.argc = 1;
    bool quoted = false;
    for (char c : split.rawArgs) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            split.args.push_back('\0');
            ++split.argc;
        } else {
            split.args.push_back(c);
        }
    }
    return split;
}

std::vector<int> RexxPortDescriptors() {
    return state.port ? state.port->Descriptors() : std::vector<int>();
}

void SendRexxDebugText(const char* port, std::string_view text) {
    RexxConnection connection;
    if (connection.Open(port)) connection.Send(kRexxCommand | kRexxNonReturn, text);
}

}  // namespace qv

int RegisterARexxLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kARexxCommands, 0);
    VmSetTop(L, -2);
    qv::SetRexxDebugSink(qv::SendRexxDebugText);
    return RegisterCommandTable(qv::kARexxCommands, "arexx");
}

void CloseRexxPort(qvVmState*) {
    qv::state = {};
    qv::SetRexxDebugSink(nullptr);
}

int CreateRexxPort(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    std::string name = qv::ArgText(L, 1);
    if (name.size() > qv::kMaxPortName || qv::state.portCreated) return ERR_WRONGUSAGE;
    int code = qv::RexxPort::Create(name, &qv::state.port);
    if (code == ERR_PORTNOTAVAIL) return qv::PortError(code, name);
    if (code == 0) qv::state.portCreated = true;
    return code;
}

int SendRexxCommand(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    std::string port = qv::ArgText(L, 1);
    return qv::SendRexxMessage(L, port, qv::ArgText(L, 2), true);
}

int RunRexxScript(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    std::string script = qv::ArgText(L, 1);
    bool isString =
        VmType(L, 2) > VM_TNIL &&
        (VmType(L, 2) == VM_TBOOLEAN ? VmToBoolean(L, 2) != 0 : GetArgNumber(L, 2) != 0);
    return qv::SendRexxMessage(L, "REXX", script, isString);
}

std::unique_ptr<qv::RexxMessage> GetRexxPortMessage() {
    if (!qv::state.port) return nullptr;
    qv::state.port->Receive();
    return qv::state.port->Next();
}

const std::string& GetRexxArg0(const qv::RexxMessage& message) {
    return message.argument;
}

void ReplyRexxMessage(std::unique_ptr<qv::RexxMessage> message, std::string_view result) {
    qv::RexxPort::Reply(std::move(message), result);
}
