// What HTTP and FTP servers answer is untrusted: any reply, cut into reads of any size, must
// end in a result or an error code without touching memory it does not own. Input: a
// selector byte (0 an HTTP reply into memory, 1 FTP replies, 2 a PASV and a 150 line), a
// segmentation seed byte, then the reply bytes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string_view>

#include "libs/network/net_objects.h"
#include "libs/network/transfer.h"
#include "tests/fuzz/piecewise_transport.h"

namespace {

using qv::fuzz::transport;

void HttpReply(qv::Transfer& t, qvNetObject* node) {
    const std::string name;
    qv::DownloadSink sink(name);
    qv::HttpReply reply;
    qv::ReadHttpReply(t, node, "/", true, sink, &reply);
    if (sink.count() != sink.memory().size()) std::abort();
}

void FtpReplies(qv::Transfer& t, qvNetObject* node) {
    int code = 0;
    std::string last;
    while (qv::ReadFtpReply(t, node, &code, &last) == 0) {
        if (last.size() > qv::kUrlPartMax) std::abort();
    }
}

void FtpLines(std::string_view text) {
    const size_t split = text.find('\n');
    int port = 0;
    if (qv::ParsePasvReply(text.substr(0, split), &port) == 0 && (port < 1 || port > 65535))
        std::abort();
    if (split != std::string_view::npos) qv::FtpAnnouncedSize(text.substr(split + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);
    transport = {stream, 0, std::minstd_rand(data[1] + 1u)};
    if (data[0] % 3 == 2) {
        FtpLines(stream);
        return 0;
    }
    qv::TransferOptions options;
    qv::Transfer t(nullptr, options, false, false);
    qvNetObject* node = qv::NewNetObject(QV_OBJ_CLIENT);
    node->connection.hookBlock.receive = qv::fuzz::ReadPiece<512>;
    if (data[0] % 3 == 0)
        HttpReply(t, node);
    else
        FtpReplies(t, node);
    qv::FreeNetObject(nullptr, node);
    return 0;
}
