#include <random>

#include "runtime/errors.h"
#include "tests/libs/network/network_test_support.h"
#include "tests/support/network_walker.h"

namespace qv::testing {
namespace {

class Network : public NetworkLib {};

TEST_F(Network, LinesDropCarriageReturnsAndBytesStopAtTheCount) {
    TcpPeer peer([](int fd) {
        SendAll(fd, "abc\r\ndef\nXYZ");
        char c;
        recv(fd, &c, 1, 0);  // holds the connection until the client closes
    });
    const CallResult open = Call("OpenConnection", {Nil(), Str("127.0.0.1"), Num(peer.port())});
    ASSERT_EQ(open.code, 0) << open.errorText;
    const Arg id = LightUserdata(const_cast<void*>(open.results[0].pointer));
    const std::vector<std::pair<std::vector<Arg>, std::string>> reads = {
        {{id, Num(RECEIVELINE)}, "abc"},
        {{id, Num(RECEIVELINE)}, "def"},
        {{id, Num(RECEIVEBYTES), Num(2)}, "XY"},
    };
    for (const auto& [args, text] : reads) {
        const CallResult r = Call("ReceiveData", args);
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.Text(0), text);
        EXPECT_EQ(r.Number(1), double(text.size()));
        EXPECT_EQ(r.Number(2), 1);
    }
    // Without the wait flag RECEIVEALL returns what is there, not done while the peer is open.
    const CallResult all = Call("ReceiveData", {id, Num(RECEIVEALL), Bool(false)});
    EXPECT_EQ(all.Text(0), "Z");
    EXPECT_EQ(all.Number(2), 0);
    EXPECT_EQ(Call("CloseConnection", {id}).code, 0);
}

TEST_F(Network, EchoKeepsEveryByteAndRunsThePump) {
    TcpPeer peer(Echo);
    ASSERT_EQ(Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(peer.port())}).code, 0);
    std::string data(200 << 10, '\0');  // fits the loopback buffers both ways
    std::mt19937 random(5);
    for (char& c : data) c = char(random());
    InstallFakePump();
    const CallResult sent = Call("SendData", {Num(1), Str(data)});
    EXPECT_EQ(sent.Number(0), double(data.size()));
    const CallResult back =
        Call("ReceiveData", {Num(1), Num(RECEIVEBYTES), Num(double(data.size()))});
    EXPECT_EQ(back.Number(1), double(data.size()));
    EXPECT_TRUE(back.Text(0) == data);
    EXPECT_GT(PumpCalls(), 0);
    Call("CloseConnection", {Num(1)});
}

TEST_F(Network, ReceiveAllAfterACloseIsSuccess) {
    TcpPeer peer([](int fd) { SendAll(fd, "bye"); });
    ASSERT_EQ(Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(peer.port())}).code, 0);
    const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVEALL)});
    EXPECT_EQ(r.Text(0), "bye");
    EXPECT_EQ(r.Number(2), 1);
}

TEST_F(Network, AnIdlePeerEndsReceiveBytesWithWhatCame) {
    TcpPeer peer([](int fd) {
        SendAll(fd, "ab");
        char c;
        recv(fd, &c, 1, 0);
    });
    Call("SetNetworkTimeout", {Num(200)});
    ASSERT_EQ(Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(peer.port())}).code, 0);
    const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVEBYTES), Num(10)});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.Text(0), "ab");
    EXPECT_EQ(r.Number(1), 2);
    EXPECT_EQ(r.Number(2), 1);
    Call("CloseConnection", {Num(1)});
}

TEST_F(Network, AbortEndsALongReceiveWithoutAnError) {
    TcpPeer peer([](int fd) {
        char c;
        recv(fd, &c, 1, 0);
    });
    Call("SetNetworkTimeout", {Num(0)});
    ASSERT_EQ(Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(peer.port())}).code, 0);
    InstallFakePump(5);
    const CallResult r = Call("ReceiveData", {Num(1), Num(RECEIVELINE)});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.aborted);
    Call("CloseConnection", {Num(1)});
}

TEST_F(Network, ArgumentErrors) {
    int closedPort;
    {
        Fd probe = BoundSocket(SOCK_STREAM);
        closedPort = PortOf(probe.get());
    }
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    };
    ASSERT_EQ(Call("CreateUDPObject", {Num(7)}).code, 0);
    const Case cases[] = {
        {"OpenConnection", {Num(1), Str("127.0.0.1"), Num(0)}, ERR_WRONGUSAGE},
        {"OpenConnection", {Num(1), Str("127.0.0.1"), Num(65536)}, ERR_WRONGUSAGE},
        {"OpenConnection", {Num(1), Str("127.0.0.1"), Num(closedPort)}, ERR_SOCKET},
        {"CreateServer", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"CreateServer", {Num(1), Num(65536)}, ERR_WRONGUSAGE},
        {"CreateUDPObject", {Num(1), Num(-5)}, ERR_WRONGUSAGE},
        {"SendUDPData", {Num(7), Str(""), Str("127.0.0.1"), Num(9)}, ERR_WRONGUSAGE},
        {"SendUDPData", {Num(7), Str("x"), Str("localhost"), Num(9)}, ERR_BADIP},
        {"SendUDPData", {Num(7), Str("x"), Str("127.0.0.1"), Num(0)}, ERR_WRONGUSAGE},
        {"ReceiveUDPData", {Num(7), Num(0)}, ERR_WRONGUSAGE},
        {"ReceiveData", {Num(3), Num(RECEIVELINE)}, ERR_FINDCLIENT},
        {"CloseServer", {Num(3)}, ERR_FINDSERVER},
        {"CloseUDPObject", {Num(3)}, ERR_FINDUDPOBJECT},
        {"CloseConnection", {LightUserdata(this)}, ERR_FINDARRAY},
        {"SetNetworkTimeout", {Num(-1)}, ERR_WRONGUSAGE},
    };
    for (const Case& c : cases) EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command;
    const CallResult refused = Call("OpenConnection", {Num(1), Str("127.0.0.1"), Num(closedPort)});
    EXPECT_EQ(refused.errorText, "connection refused");
    char text[1024];
    FormatErrorMessage(ERR_SOCKET, text, sizeof text);
    EXPECT_STREQ(text, "The following network error occurred:\nconnection refused");
}

TEST_F(Network, DatagramsEmptyOnesIncluded) {
    ASSERT_EQ(Call("CreateUDPObject", {Num(1), Num(0), Str("127.0.0.1")}).code, 0);
    const int port = int(Call("GetLocalPort", {Num(1), Num(117)}).Number(0));
    const CallResult none = Call("ReceiveUDPData", {Num(1)});
    EXPECT_EQ(none.Text(0), "");
    EXPECT_EQ(none.Text(1), "");
    EXPECT_EQ(none.Number(2), 0);
    Fd sender(socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in to = Loopback(port);
    sendto(sender.get(), "", 0, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    sendto(sender.get(), "later", 5, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    usleep(20000);
    EXPECT_EQ(WalkNetworkOnce().udpData, 1);
    EXPECT_EQ(WalkNetworkOnce().udpData, 0) << "reported once until received";
    const CallResult empty = Call("ReceiveUDPData", {Num(1)});
    ASSERT_EQ(empty.code, 0);
    EXPECT_EQ(empty.Text(0), "");
    EXPECT_EQ(empty.Text(1), "127.0.0.1");
    EXPECT_EQ(empty.Number(2), PortOf(sender.get()));
    EXPECT_EQ(WalkNetworkOnce().udpData, 1);
    EXPECT_EQ(Call("ReceiveUDPData", {Num(1), Num(100000)}).Text(0), "later");
}

TEST_F(Network, PollersReportEachEventOnceAndAcceptedClientsWork) {
    const CallResult server = Call("CreateServer", {Num(1), Num(0), Str("127.0.0.1")});
    ASSERT_EQ(server.code, 0);
    const int port = int(Call("GetLocalPort", {Num(1), Num(115)}).Number(0));
    Fd client(socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in to = Loopback(port);
    ASSERT_EQ(connect(client.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    qvNetObject* accepted = nullptr;
    for (int i = 0; i < 200 && accepted == nullptr; ++i) {
        WalkNetworkOnce([&](qvNetObject* node) { accepted = node; });
        usleep(1000);
    }
    ASSERT_NE(accepted, nullptr);
    EXPECT_EQ(accepted->header.id, 0u);
    const Arg handle = LightUserdata(accepted);
    EXPECT_EQ(Call("SendData", {handle, Str("hello")}).Number(0), 5);
    EXPECT_EQ(Call("SendData", {Num(0), Str("x")}).code, ERR_FINDCLIENT);
    char buffer[8];
    EXPECT_EQ(recv(client.get(), buffer, sizeof buffer, 0), 5);
    SendAll(client.get(), "data");
    usleep(20000);
    EXPECT_EQ(WalkNetworkOnce().data, 1);
    EXPECT_EQ(WalkNetworkOnce().data, 0);
    EXPECT_EQ(Call("ReceiveData", {handle, Num(RECEIVEBYTES), Num(4)}).Text(0), "data");
    client.Reset();
    usleep(20000);
    NetworkEvents events = WalkNetworkOnce();
    EXPECT_EQ(events.data + events.disconnect, 1);
    Call("ReceiveData", {handle, Num(RECEIVEALL), Bool(false)});
    EXPECT_EQ(WalkNetworkOnce().disconnect, events.disconnect == 1 ? 0 : 1);
    EXPECT_EQ(WalkNetworkOnce().disconnect, 0);
}

TEST_F(Network, ClosingTheNodeAWalkPointsAtMovesThePosition) {
    TcpPeer a([](int fd) { SendAll(fd, "a"); });
    TcpPeer b([](int fd) { SendAll(fd, "b"); });
    TcpPeer c([](int fd) { SendAll(fd, "c"); });
    for (auto [n, port] : {std::pair{1, a.port()}, {2, b.port()}, {3, c.port()}})
        ASSERT_EQ(Call("OpenConnection", {Num(n), Str("127.0.0.1"), Num(port)}).code, 0);
    usleep(20000);
    // The handler of the first node closes the second, which the walk points at.
    const NetworkEvents events = WalkNetworkOnce([&](qvNetObject* node) {
        if (node->header.id == 1) Call("CloseConnection", {Num(2)});
    });
    EXPECT_EQ(events.data, 2);
    EXPECT_EQ(NetworkWalk().client, nullptr);
}

TEST_F(Network, NamesAndTheOnlineCheck) {
    const CallResult ip = Call("ToIP", {Str("localhost")});
    ASSERT_EQ(ip.code, 0) << ip.errorText;
    EXPECT_EQ(ip.Text(0), "127.0.0.1");
    ASSERT_NE(ip.results[1].Field("ip"), nullptr);
    const CallResult name = Call("ToHostName", {Str("127.0.0.1")});
    ASSERT_EQ(name.code, 0) << name.errorText;
    EXPECT_EQ(name.Text(0), "localhost");
    const ToolRun python = RunPython("import socket\nprint(socket.gethostname())", "");
    ASSERT_EQ(python.status, 0);
    EXPECT_EQ(Call("GetHostName").Text(0) + "\n", python.output);

    Fd listener = BoundSocket(SOCK_STREAM);
    const std::string target = "127.0.0.1:" + std::to_string(PortOf(listener.get()));
    setenv("QV_ONLINE_HOST", target.c_str(), 1);
    EXPECT_TRUE(Call("IsOnline").results[0].boolean);
    listener.Reset();
    EXPECT_FALSE(Call("IsOnline").results[0].boolean);
    unsetenv("QV_ONLINE_HOST");
}

// The delivery rules against a reference split of the same bytes, over random segmentation.
class CollectSink : public ReceiveSink {
public:
    int Put(const uint8_t* bytes, size_t length) override {
        text.append(reinterpret_cast<const char*>(bytes), length);
        return 0;
    }
    std::string text;
};

TEST(Delivery, RandomSegmentsGiveTheReferenceSplit) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        std::string stream;
        for (int i = 0; i < 300; ++i) stream += "ab\r\n"[random() % 4];
        std::vector<std::string> lines;
        std::string line;
        for (char ch : stream) {
            if (ch == '\n')
                lines.push_back(std::exchange(line, ""));
            else if (ch != '\r')
                line += ch;
        }
        std::vector<std::string> got;
        CollectSink sink;
        size_t pos = 0;
        while (pos < stream.size()) {
            const size_t segment = std::min(stream.size() - pos, size_t(random() % 9 + 1));
            size_t used = 0;
            while (used < segment) {
                const Delivery d = DeliverBuffered(
                    RECEIVELINE, reinterpret_cast<const uint8_t*>(stream.data()) + pos + used,
                    segment - used, 0, sink);
                used += d.consumed;
                if (d.done) got.push_back(std::exchange(sink.text, ""));
            }
            pos += segment;
        }
        ASSERT_EQ(got, lines) << "round " << round;
    }
}

}  // namespace
}  // namespace qv::testing
