// qvrx PORT COMMAND...: sends the words of COMMAND, joined by spaces, to the ARexx port PORT,
// prints the result and exits with the reply's rc1 (20 when the port is missing or ends
// without a reply). For shells and for REXX scripts through ADDRESS SYSTEM.
#include <poll.h>

#include <cstdio>
#include <string>

#include "platform/linux/rexx_ports.h"

int main(int argc, char** argv) {
    constexpr int kFailure = 20;
    if (argc < 3) {
        std::fprintf(stderr, "usage: qvrx PORT COMMAND...\n");
        return kFailure;
    }
    std::string command = argv[2];
    for (int i = 3; i < argc; ++i) command += std::string(" ") + argv[i];
    qv::RexxConnection connection;
    if (!connection.Open(argv[1]) || !connection.Send(qv::kRexxCommand, command)) {
        std::fprintf(stderr, "qvrx: port \"%s\" could not be found\n", argv[1]);
        return kFailure;
    }
    int32_t rc1 = 0, rc2 = 0;
    std::string result;
    qv::RexxConnection::Reply reply;
    while ((reply = connection.TakeReply(&rc1, &rc2, &result)) ==
           qv::RexxConnection::Reply::kPending) {
        pollfd fd{connection.Fd(), POLLIN, 0};
        poll(&fd, 1, -1);
    }
    if (reply == qv::RexxConnection::Reply::kClosed) {
        std::fprintf(stderr, "qvrx: port \"%s\" closed without a reply\n", argv[1]);
        return kFailure;
    }
    std::fwrite(result.data(), 1, result.size(), stdout);
    std::fputc('\n', stdout);
    return rc1;
}
