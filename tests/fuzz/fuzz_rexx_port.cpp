// Packets that arrive at the program's ARexx port come from any process of the user: each
// input is sent as one packet to a live port, received, split as the handler would see it
// and answered.
#include <stdlib.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "libs/arexx/arexx_library.h"
#include "platform/linux/rexx_ports.h"

namespace {

qv::RexxPort* Port() {
    static std::unique_ptr<qv::RexxPort> port = [] {
        char dir[] = "/tmp/qvfuzz-rexx-XXXXXX";
        setenv("QV_REXX_DIR", mkdtemp(dir), 1);
        std::unique_ptr<qv::RexxPort> p;
        qv::RexxPort::Create("FUZZ", &p);
        return p;
    }();
    return port.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::RexxPort* port = Port();
    qv::RexxConnection sender;
    if (port == nullptr || !sender.Open("FUZZ")) return 0;
    send(sender.Fd(), data, size, MSG_NOSIGNAL);
    port->Receive();
    while (std::unique_ptr<qv::RexxMessage> message = port->Next()) {
        qv::RexxCommandText split = qv::SplitRexxCommand(message->argument);
        if (split.args.size() > message->argument.size()) __builtin_trap();
        std::string answer = split.command;
        qv::RexxPort::Reply(std::move(message), answer);
    }
    int32_t rc1 = 0, rc2 = 0;
    std::string reply;
    sender.TakeReply(&rc1, &rc2, &reply);
    return 0;
}
