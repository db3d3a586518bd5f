// The network commands against peers in other processes: socat echoes, nc, and the Python
// peers (large and slow transfers, half-close, reset, empty datagrams); and the waits that
// must end: a full backlog, an abort during a connect, hundreds of open descriptors.
#include <fstream>
#include <random>

#include "libs/string/checksum.h"
#include "tests/libs/network/network_test_support.h"
#include "tests/support/network_walker.h"

namespace qv::testing {
namespace {

class NetworkPeers : public NetworkLib {
protected:
    // Opens client 1 to a peer on the port.
    void Open(int port) {
        const CallResult r = Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(port)});
        ASSERT_EQ(r.code, 0) << r.errorText;
    }
    qvNetObject* Client() { return reinterpret_cast<qvNetObject*>(*NetworkList(QV_OBJ_CLIENT)); }
};

std::string Md5Hex(const std::string& bytes) {
    qvMD5Context context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const uint8_t*>(bytes.data()), int64_t(bytes.size()));
    uint8_t digest[16];
    MD5Final(&context, digest);
    char text[kMD5TextSize];
    MD5ToText(digest, text);
    return text;
}

std::string RandomBytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& c : bytes) c = char(random());
    return bytes;
}

constexpr size_t kTenMiB = 10u << 20;

TEST_F(NetworkPeers, TenMebibytesThroughTheSocatEchoInByteCounts) {
    QV_REQUIRE_TOOL("socat");
    PeerProcess echo(SocatTcpEcho());
    ASSERT_TRUE(echo.running());
    Open(echo.port());
    const std::string data = RandomBytes(kTenMiB, 3);
    constexpr size_t kPiece = 256 << 10;
    std::string back;
    for (size_t at = 0; at < data.size(); at += kPiece) {
        const CallResult sent = Call("SendData", {Num(1), Str(data.substr(at, kPiece))});
        ASSERT_EQ(sent.Number(0), double(kPiece));
        const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVEBYTES), Num(kPiece)});
        ASSERT_EQ(r.Number(1), double(kPiece)) << "at " << at;
        back += r.Text(0);
    }
    EXPECT_EQ(Md5Hex(back), Md5Hex(data));
}

TEST_F(NetworkPeers, TenMebibytesUntilTheCloseInReceiveAll) {
    const std::string digestFile = TempDir() + "/digest";
    PeerProcess sender(PythonPeer("random", {std::to_string(kTenMiB), digestFile}));
    ASSERT_TRUE(sender.running());
    Open(sender.port());
    const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVEALL)});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.Number(1), double(kTenMiB));
    EXPECT_EQ(r.Number(2), 1) << "closed after the data is success";
    std::ifstream digest(digestFile);
    std::string expected;
    digest >> expected;
    EXPECT_EQ(Md5Hex(r.Text(0)), expected);
}

TEST_F(NetworkPeers, OneMebibyteInSingleByteWritesArrivesAsWholeLines) {
    constexpr int kLines = 1024, kWidth = 1023;
    PeerProcess sender(PythonPeer("slowlines", {std::to_string(kLines), std::to_string(kWidth)}));
    ASSERT_TRUE(sender.running());
    Open(sender.port());
    for (int i = 0; i < kLines; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "%06d", i);
        const std::string expected = number + std::string(kWidth - 6, char('a' + i % 26));
        const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVELINE)});
        ASSERT_EQ(r.Text(0), expected) << "line " << i;
    }
}

TEST_F(NetworkPeers, NetcatLinesAndNetcatAsAClientOfAServer) {
    QV_REQUIRE_TOOL("nc");
    {
        PeerProcess lines({"sh", "-c", "printf 'abc\\r\\ndef\\n' | exec nc -N -l 127.0.0.1 {port}"},
                          PeerProtocol::Tcp);
        ASSERT_TRUE(lines.running());
        Open(lines.port());
        EXPECT_EQ(Call("ReceiveData", {Num(1), Num(RECEIVELINE)}).Text(0), "abc");
        EXPECT_EQ(Call("ReceiveData", {Num(1), Num(RECEIVELINE)}).Text(0), "def");
        const CallResult rest = Call("ReceiveData", {Num(1), Num(RECEIVEALL)});
        EXPECT_EQ(rest.Text(0), "");
        EXPECT_EQ(rest.Number(2), 0) << "a close with nothing received is not done";
        Call("CloseConnection", {Num(1)});
    }
    ASSERT_EQ(Call("CreateServer", {Num(1), Num(0), Str("127.0.0.1")}).code, 0);
    const int port = int(Call("GetLocalPort", {Num(1), Num(115)}).Number(0));
    const std::string log = TempDir() + "/nc.log";
    PeerProcess client({"sh", "-c", "printf 'hello\\n' | exec nc -N 127.0.0.1 {port}"}, port,
                       PeerProtocol::Tcp, log);
    qvNetObject* accepted = nullptr;
    for (int i = 0; i < 500 && accepted == nullptr; ++i) {
        WalkNetworkOnce([&](qvNetObject* node) { accepted = node; });
        usleep(2000);
    }
    ASSERT_NE(accepted, nullptr);
    const Arg handle = LightUserdata(accepted);
    EXPECT_EQ(Call("ReceiveData", {handle, Num(RECEIVELINE)}).Text(0), "hello");
    EXPECT_EQ(Call("SendData", {handle, Str("back\n")}).Number(0), 5);
    EXPECT_EQ(Call("CloseConnection", {handle}).code, 0);
    EXPECT_TRUE(client.WaitExit(5000));
    std::ifstream in(log);
    std::string answer;
    std::getline(in, answer);
    EXPECT_EQ(answer, "back");
}

TEST_F(NetworkPeers, HalfCloseDeliversTheDataAsDoneAndReportsOneDisconnect) {
    PeerProcess peer(PythonPeer("halfclose", {"bye"}));
    ASSERT_TRUE(peer.running());
    Open(peer.port());
    const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVEALL)});
    EXPECT_EQ(r.Text(0), "bye");
    EXPECT_EQ(r.Number(2), 1);
    EXPECT_EQ(Call("SendData", {Num(1), Str("ping")}).Number(0), 4) << "the peer still reads";
    EXPECT_EQ(WalkNetworkOnce().disconnect, 1);
    EXPECT_EQ(WalkNetworkOnce().disconnect, 0);
}

TEST_F(NetworkPeers, AResetDuringASendEndsItAndTheProcessLives) {
    constexpr size_t kReadBeforeReset = 64 << 10;
    PeerProcess peer(PythonPeer("reset", {std::to_string(kReadBeforeReset)}));
    ASSERT_TRUE(peer.running());
    Open(peer.port());
    const std::string data = RandomBytes(32u << 20, 9);
    size_t sent = 0;
    const int status =
        SendBuffer(L, Client(), reinterpret_cast<const uint8_t*>(data.data()), data.size(), &sent);
    EXPECT_TRUE(status == 54 || status == kStatusClosed) << status;
    EXPECT_GE(sent, kReadBeforeReset);
    EXPECT_LT(sent, data.size());
    const CallResult again = Call("SendData", {Num(1), Str("more")});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.Number(0), 0);
}

TEST_F(NetworkPeers, UdpEchoAndEmptyDatagramsFromAnotherProcess) {
    QV_REQUIRE_TOOL("socat");
    PeerProcess echo(SocatUdpEcho(), PeerProtocol::Udp);
    ASSERT_TRUE(echo.running());
    ASSERT_EQ(Call("CreateUDPObject", {Num(1), Num(0), Str("127.0.0.1")}).code, 0);
    const int own = int(Call("GetLocalPort", {Num(1), Num(117)}).Number(0));
    EXPECT_EQ(
        Call("SendUDPData", {Num(1), Str("ping"), Str("127.0.0.1"), Num(echo.port())}).Number(0),
        4);
    int events = 0;
    for (int i = 0; i < 1000 && events == 0; ++i) {
        events = WalkNetworkOnce().udpData;
        usleep(2000);
    }
    ASSERT_EQ(events, 1);
    const CallResult pong = Call("ReceiveUDPData", {Num(1)});
    EXPECT_EQ(pong.Text(0), "ping");
    EXPECT_EQ(pong.Number(2), echo.port());

    const int from = FreeLoopbackPort(PeerProtocol::Udp);
    PeerProcess sender(PythonPeer("datagrams", {std::to_string(own)}), from, PeerProtocol::Udp, "",
                       0);
    ASSERT_TRUE(sender.WaitExit(10000));
    EXPECT_EQ(WalkNetworkOnce().udpData, 1);
    const CallResult empty = Call("ReceiveUDPData", {Num(1)});
    ASSERT_EQ(empty.code, 0);
    EXPECT_EQ(empty.Text(0), "");
    EXPECT_EQ(empty.Text(1), "127.0.0.1");
    EXPECT_EQ(empty.Number(2), from);
    EXPECT_EQ(WalkNetworkOnce().udpData, 1);
    EXPECT_EQ(Call("ReceiveUDPData", {Num(1)}).Text(0), "after");
}

TEST_F(NetworkPeers, AFullBacklogTimesOutAfterTheNetworkTimeout) {
    FullListener full = FillBacklog();
    Call("SetNetworkTimeout", {Num(300)});
    const double start = MonotonicSeconds();
    const CallResult r = Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(full.port)});
    EXPECT_GE(MonotonicSeconds() - start, 0.3);
    EXPECT_EQ(r.code, ERR_SOCKET);
    EXPECT_EQ(r.errorText, "timeout");
    EXPECT_EQ(*NetworkList(QV_OBJ_CLIENT), nullptr);
}

TEST_F(NetworkPeers, AStopRequestEndsAPendingConnectWithoutAnError) {
    FullListener full = FillBacklog();
    Call("SetNetworkTimeout", {Num(600000)});
    InstallFakePump(5);
    const CallResult r = Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(full.port)});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(PumpCalls(), 5);
    EXPECT_EQ(*NetworkList(QV_OBJ_CLIENT), nullptr);
}

TEST_F(NetworkPeers, EverythingWorksWithHundredsOfDescriptorsOpen) {
    std::vector<Fd> filler;
    for (int i = 0; i < 300; ++i) filler.emplace_back(dup(0));
    ASSERT_EQ(Call("CreateServer", {Num(1), Num(0), Str("127.0.0.1")}).code, 0);
    ASSERT_GT(reinterpret_cast<qvNetObject*>(*NetworkList(QV_OBJ_SERVER))->connection.socket, 256);
    const int port = int(Call("GetLocalPort", {Num(1), Num(115)}).Number(0));
    Open(port);
    qvNetObject* accepted = nullptr;
    for (int i = 0; i < 500 && accepted == nullptr; ++i) {
        WalkNetworkOnce([&](qvNetObject* node) {
            if (node->header.id == 0) accepted = node;
        });
    }
    ASSERT_NE(accepted, nullptr);
    const Arg handle = LightUserdata(accepted);
    EXPECT_EQ(Call("SendData", {Num(1), Str("up\n")}).Number(0), 3);
    int data = 0;
    for (int i = 0; i < 500 && data == 0; ++i) data = WalkNetworkOnce().data;
    EXPECT_EQ(data, 1);
    EXPECT_EQ(Call("ReceiveData", {handle, Num(RECEIVELINE)}).Text(0), "up");
    EXPECT_EQ(Call("SendData", {handle, Str("down")}).Number(0), 4);
    EXPECT_EQ(Call("ReceiveData", {Num(1), Num(RECEIVEBYTES), Num(4)}).Text(0), "down");
}

}  // namespace
}  // namespace qv::testing
