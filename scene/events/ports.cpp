#include "scene/events/ports.h"

#include <string>
#include <string_view>

#include "platform/linux/blocks.h"
#include "platform/linux/user_port.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "scene/events/event_displays.h"

namespace qv::events {
namespace {

constexpr size_t kMaxPortName = 127;

std::string_view StringArg(qvVmState* L, int idx) {
    size_t length = 0;
    const char* text = GetArgString(L, idx, &length);
    return {text, length};
}

int PortError(int code, std::string_view name) {
    if (code == ERR_PORTNOTAVAIL || code == ERR_FINDPORT) SetErrorString(std::string(name).c_str());
    return code;
}

// The text of a message: the word, then each argument as a space and the argument in double
// quotes. An argument holding a double quote would arrive split into others, and one holding
// NUL cut short: both are refused.
int BuildMessage(qvVmState* L, std::string* text) {
    const std::string_view word = StringArg(L, 2);
    if (word.empty() || word.find_first_of(std::string_view(" \0", 2)) != std::string_view::npos) {
        return ERR_WRONGUSAGE;
    }
    const int count = VmGetTop(L);
    for (int idx = 3; idx <= count; ++idx) {
        const std::string_view argument = StringArg(L, idx);
        if (argument.find_first_of(std::string_view("\"\0", 2)) != std::string_view::npos) {
            return ERR_WRONGUSAGE;
        }
    }
    const bool built = CatchAllocFailure(false, [&] {
        text->assign(word);
        for (int idx = 3; idx <= count; ++idx) {
            text->append(" \"").append(StringArg(L, idx)).push_back('"');
        }
        return true;
    });
    return built ? 0 : ERR_MEM;
}

}  // namespace
}  // namespace qv::events

using namespace qv::events;

int CreatePort(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const std::string_view name = StringArg(L, 1);
    const qvDisplay* display = Displays().CurrentDisplay();
    if (name.size() > kMaxPortName || display == nullptr || !Displays().IsOpen(display)) {
        return ERR_WRONGUSAGE;
    }
    return PortError(CreatePublicPort(name), name);
}

int SendMessage(qvVmState* L) {
    CheckArgCount(L, 2, 0);
    const std::string_view port = StringArg(L, 1);
    std::string text;
    if (const int code = BuildMessage(L, &text)) return code;
    return PortError(SendPortMessage(port, text), port);
}
