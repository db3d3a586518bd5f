// The receive engine into a caller's buffer and into a file, and the error codes that those
// destinations turn its statuses into.
#include <fstream>
#include <iterator>

#include "platform/linux/files.h"
#include "runtime/runtime_state.h"
#include "tests/libs/network/network_test_support.h"

namespace qv::testing {
namespace {

class ReceiveSinks : public NetworkLib {
protected:
    qvNetObject* Open(int port) {
        const CallResult r = Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(port)});
        EXPECT_EQ(r.code, 0) << r.errorText;
        return reinterpret_cast<qvNetObject*>(*NetworkList(QV_OBJ_CLIENT));
    }
    // The engine's outcome as the transfers see it.
    int Receive(qvNetObject* node, int mode, size_t count, ReceiveSink& sink) {
        int status = 0;
        size_t delivered = 0;
        const int error = ReceiveIntoBuffer(L, node, mode, count, true, sink, &status, &delivered);
        return error != 0 ? error : ReceiveStatusCode(status);
    }
};

void HoldOpen(int fd) {
    char c;
    recv(fd, &c, 1, 0);
}

TEST_F(ReceiveSinks, ACallerBufferKeepsRoomForTheZeroOfALine) {
    TcpPeer peer([](int fd) {
        SendAll(fd, "abcd\nwxyz");
        HoldOpen(fd);
    });
    qvNetObject* node = Open(peer.port());
    uint8_t buffer[8];
    BufferSink tooSmall(buffer, 4);
    EXPECT_EQ(Receive(node, RECEIVELINE, 0, tooSmall), ERR_MEM);
    BufferSink exact(buffer, 5);
    ASSERT_EQ(Receive(node, RECEIVELINE, 0, exact), 0) << "the line stayed buffered";
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "abcd");
    // Byte counts need no terminator: four bytes fill four.
    BufferSink bytes(buffer, 4);
    ASSERT_EQ(Receive(node, RECEIVEBYTES, 4, bytes), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), bytes.used()), "wxyz");
    Call("CloseConnection", {Num(1)});  // lets the peer end
}

TEST_F(ReceiveSinks, AFileGetsEveryByteAndTheCloseIsReported) {
    const std::string data(100000, 'q');
    TcpPeer peer([&](int fd) { SendAll(fd, data); });
    qvNetObject* node = Open(peer.port());
    const std::string path = TempDir() + "/received";
    qvFile* file = FileOpen(path.c_str(), QV_FILE_WRITE);
    ASSERT_NE(file, nullptr);
    FileSink sink(file, path.c_str());
    EXPECT_EQ(Receive(node, RECEIVEBYTES, data.size(), sink), 0);
    EXPECT_EQ(Receive(node, RECEIVEBYTES, 1, sink), ERR_RECVCLOSED);
    ASSERT_EQ(FileClose(file), 0);
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == data);
}

TEST_F(ReceiveSinks, TimeOutsAbortsAndSocketErrorsBecomeErrorCodes) {
    TcpPeer peer(HoldOpen);
    qvNetObject* node = Open(peer.port());
    uint8_t buffer[4];
    BufferSink sink(buffer, sizeof buffer);
    Call("SetNetworkTimeout", {Num(100)});
    EXPECT_EQ(Receive(node, RECEIVEBYTES, 1, sink), ERR_RECVTIMEOUT);
    Abort();
    EXPECT_EQ(Receive(node, RECEIVEBYTES, 1, sink), ERR_USERABORT);
    Runtime().abortFlag.store(0);
    const std::pair<int, int> statuses[] = {{0, 0}, {-3, ERR_RECVUNKNOWN}, {54, ERR_SOCKET}};
    for (auto [status, code] : statuses) EXPECT_EQ(ReceiveStatusCode(status), code) << status;
    Call("CloseConnection", {Num(1)});
}

}  // namespace
}  // namespace qv::testing
