// Packets that arrive at the program's user port come from any process of the user: each input
// is sent as one packet to the live port, taken with GetPortMessage and split as the
// "onusermessage" handler would see it.
#include <stdlib.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "libs/arexx/arexx_library.h"
#include "platform/linux/memory.h"
#include "platform/linux/rexx_ports.h"
#include "platform/linux/user_port.h"

namespace {

bool PortOpen() {
    static const bool open = [] {
        char dir[] = "/tmp/qvfuzz-user-XXXXXX";
        setenv("QV_REXX_DIR", mkdtemp(dir), 1);
        return CreatePublicPort("FUZZUSER") == 0;
    }();
    return open;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::RexxConnection sender;
    if (!PortOpen() || !sender.Open("FUZZUSER")) return 0;
    send(sender.Fd(), data, size, MSG_NOSIGNAL);
    size_t length = 0;
    while (char* block = GetPortMessage(&length)) {
        if (length < 2) __builtin_trap();
        const std::string_view text(block + 2, length - 2);
        const qv::RexxCommandText split = qv::SplitRexxCommand(text);
        if (split.args.size() > text.size() || split.command.size() > text.size()) {
            __builtin_trap();
        }
        FreeMemBlock(block);
    }
    int32_t rc1 = 0, rc2 = 0;
    std::string reply;
    sender.TakeReply(&rc1, &rc2, &reply);
    return 0;
}
