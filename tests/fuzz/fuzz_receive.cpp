// The receive engine's delivery is what a hostile peer controls: the bytes and how they are
// cut into reads. An in-memory transport feeds the engine in pieces chosen by the input, and
// every call must deliver exactly what a plain split of the whole stream gives: lines without
// carriage returns, byte counts, everything up to the close; into a caller's buffer only what
// fits (else ERR_MEM). Input: a mode byte, a count byte, a buffer-size byte, a segmentation
// seed byte, then the stream.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "libs/network/net_objects.h"
#include "tests/fuzz/piecewise_transport.h"

namespace {

using qv::fuzz::transport;

// The expected result of one request at pos of the whole stream: the text, whether a caller
// buffer of `room` bytes (0: a script string) overflows, and where the next request starts.
struct Expected {
    std::string text;
    bool overflow;
    size_t next;
};

Expected Reference(std::string_view s, size_t pos, int mode, size_t count, size_t room) {
    if (mode == RECEIVELINE) {
        const size_t end = s.find('\n', pos);
        const bool terminated = end != std::string_view::npos;
        const size_t stop = terminated ? end : s.size();
        std::string line;
        for (size_t i = pos; i < stop; ++i) {
            if (s[i] != '\r') line += s[i];
        }
        const bool overflow =
            room != 0 && (line.size() > room || (terminated && line.size() >= room));
        return {line, overflow, terminated ? end + 1 : s.size()};
    }
    const size_t take = mode == RECEIVEBYTES ? std::min(count, s.size() - pos) : s.size() - pos;
    return {std::string(s.substr(pos, take)), room != 0 && take > room, pos + take};
}

class TextSink : public qv::ReceiveSink {
public:
    int Put(const uint8_t* bytes, size_t length) override {
        text.append(reinterpret_cast<const char*>(bytes), length);
        return 0;
    }
    std::string text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int mode = data[0] % 3;
    const size_t count = data[1] + 1;
    const size_t room = data[2];  // 0: deliver as a script string
    transport = {std::string_view(reinterpret_cast<const char*>(data + 4), size - 4), 0,
                 std::minstd_rand(data[3] + 1)};
    qvNetObject* node = qv::NewNetObject(QV_OBJ_CLIENT);
    node->connection.hookBlock.receive = qv::fuzz::ReadPiece<64>;
    const std::string_view s = transport.stream;
    size_t pos = 0;
    for (;;) {
        const Expected want = Reference(s, pos, mode, count, room);
        uint8_t buffer[256];
        qv::BufferSink bufferSink(buffer, room);
        TextSink textSink;
        qv::ReceiveSink& sink = room != 0 ? static_cast<qv::ReceiveSink&>(bufferSink)
                                          : static_cast<qv::ReceiveSink&>(textSink);
        int status = 0;
        size_t delivered = 0;
        const int error =
            ReceiveIntoBuffer(nullptr, node, mode, count, true, sink, &status, &delivered);
        if (want.overflow) {
            if (error != ERR_MEM) std::abort();
            break;
        }
        const std::string got =
            room != 0 ? std::string(reinterpret_cast<char*>(buffer), bufferSink.used())
                      : textSink.text;
        if (error != 0 || got != want.text || delivered < got.size()) std::abort();
        pos = want.next;
        if (status != 0 || pos >= s.size()) break;
    }
    qv::FreeNetObject(nullptr, node);
    return 0;
}
