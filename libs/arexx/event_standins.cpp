#include "libs/arexx/event_standins.h"

#include <poll.h>

#include <vector>

#include "libs/arexx/arexx_library.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

constexpr int kWaitSliceMs = 20;

qvEventHandler onARexx;

void SetField(qvVmState* L, const char* key, std::string_view text) {
    VmPushString(L, key);
    VmPushLString(L, text.data(), text.size());
    VmRawSet(L, -3);
}

void PushMessageTable(qvVmState* L, std::string_view text, int32_t userData) {
    RexxCommandText split = SplitRexxCommand(text);
    VmNewTable(L);
    SetField(L, "action", "OnARexx");
    SetField(L, "command", split.command);
    SetField(L, "args", split.args);
    SetField(L, "rawargs", split.rawArgs);
    VmPushString(L, "argc");
    VmPushNumber(L, split.argc);
    VmRawSet(L, -3);
    if (userData != -1) {
        VmPushString(L, "userdata");
        VmRawGetI(L, VM_REGISTRYINDEX, userData);
        VmRawSet(L, -3);
    }
}

// Calls the handler with the message table; its first result, as text, is the reply.
int CallHandler(qvVmState* L, std::string_view text, std::string* reply) {
    int base = VmGetTop(L);
    VmRawGetI(L, VM_REGISTRYINDEX, onARexx.function);
    PushMessageTable(L, text, onARexx.userData);
    int32_t& nested = Runtime().error.nestedCalls;
    ++nested;
    int code = VmPCall(L, 1, -1, 0);
    --nested;
    if (code == 0 && VmGetTop(L) > base) {
        size_t length = 0;
        int error = 0;
        const char* result = GetCallbackString(L, base + 1, &length, &error);
        if (error == 0 && result != nullptr) reply->assign(result, length);
    }
    VmSetTop(L, base);
    if (Runtime().abortFlag.load() != 0) return ERR_USERABORT;
    return code;
}

}  // namespace

qvEventHandler& OnARexxSlot() {
    return onARexx;
}

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

}  // namespace qv

int CallOnARexx(qvVmState* L, int deliver, int single) {
    int result = 0;
    while (std::unique_ptr<qv::RexxMessage> message = GetRexxPortMessage()) {
        std::string reply;
        bool delivered = deliver != 0 && qv::onARexx.function != -1;
        if (delivered) result = qv::CallHandler(L, GetRexxArg0(*message), &reply);
        ReplyRexxMessage(std::move(message), reply);
        if (delivered && (single != 0 || result != 0)) break;
    }
    return result;
}

int WaitSignals(qvVmState*, int extraFd) {
    std::vector<pollfd> fds;
    for (int fd : qv::RexxPortDescriptors()) fds.push_back({fd, POLLIN, 0});
    if (extraFd >= 0) fds.push_back({extraFd, POLLIN, 0});
    poll(fds.data(), fds.size(), qv::kWaitSliceMs);
    return 0;
}
