// Real peers wake WaitEvent: qvrx sends a command to the program's ARexx port and prints the
// handler's reply, and a Python client's connection and data reach "OnConnect" and
// "OnReceiveData" through the network library's sockets, polled at the fire task's tick.
#include <string>
#include <thread>

#include "libs/arexx/arexx_library.h"
#include "libs/network/network_library.h"
#include "platform/linux/timers.h"
#include "scene/events/event_library.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

class Peers : public EventFixture {
protected:
    Peers()
        : EventFixture(
              OpenLibraries<RegisterEventLibrary, RegisterARexxLibrary, RegisterNetworkLibrary>),
          rexxDir_("QV_REXX_DIR", dir_.path()) {}
    ~Peers() override {
        CloseRexxPort(L);
        ShutdownNetwork(L);
    }

    std::string Field(const CallResult& r, const char* name) {
        const Value* v = r.results.empty() ? nullptr : r.results[0].Field(name);
        if (v == nullptr) return "<none>";
        if (v->type == VM_TLIGHTUSERDATA) return "auto";
        if (v->type == VM_TNUMBER) return std::to_string(int(v->number));
        return v->text;
    }

    ScratchDir dir_;

private:
    ScopedEnv rexxDir_;
};

TEST_F(Peers, QvrxGetsTheReplyOfTheHandlerThatWaitEventRan) {
    ASSERT_EQ(Call("CreateRexxPort", {Str("EVENTS")}).code, 0);
    ASSERT_EQ(Install({{"onarexx", Handler([](qvVmState* S) {
                            VmPushString(S, "rawargs");
                            VmRawGet(S, 1);
                            VmPushFString(S, "pong %s", VmToString(S, -1));
                            return 1;
                        })}})
                  .code,
              0);
    ToolRun qvrx;
    std::thread sender([&] {
        qvrx = RunTool("QV_REXX_DIR='" + dir_.path() + "' '" QVRX_PATH "' EVENTS PING the port");
    });
    const CallResult r = Wait();
    sender.join();
    EXPECT_EQ(ActionOf(r), "OnARexx");
    EXPECT_EQ(Field(r, "command"), "PING");
    EXPECT_EQ(qvrx.status, 0);
    EXPECT_EQ(qvrx.output, "pong the port\n");
}

TEST_F(Peers, APythonClientsConnectionAndDataReachTheirHandlers) {
    QV_REQUIRE_TOOL("python3");
    ASSERT_EQ(Call("CreateServer", {Num(1), Num(0), Str("127.0.0.1")}).code, 0);
    const int port = int(Call("GetLocalPort", {Num(1), Num(115)}).Number(0));
    ASSERT_EQ(Install({{"onconnect", Handler()}, {"onreceivedata", Handler()}}).code, 0);
    EXPECT_EQ(FireTaskUsers(), 1);
    const std::string client =
        "import socket\n"
        "s = socket.create_connection(('127.0.0.1', " +
        std::to_string(port) +
        "), timeout=10)\n"
        "s.sendall(b'hello')\n"
        "print(s.recv(100).decode())\n";
    ToolRun python;
    std::thread peer([&] { python = RunPython(client, ""); });

    const CallResult connected = Wait();
    EXPECT_EQ(ActionOf(connected), "OnConnect");
    EXPECT_EQ(Field(connected, "serverid"), "1");
    EXPECT_EQ(Field(connected, "clientid"), "auto");
    const CallResult data = Wait();
    EXPECT_EQ(ActionOf(data), "OnReceiveData");
    ASSERT_EQ(Field(data, "id"), "auto");
    const Arg clientId = LightUserdata(const_cast<void*>(data.results[0].Field("id")->pointer));
    EXPECT_EQ(Call("ReceiveData", {clientId, Num(RECEIVEBYTES), Num(5)}).Text(), "hello");
    EXPECT_EQ(Call("SendData", {clientId, Str("welcome")}).Number(), 7);
    peer.join();
    EXPECT_EQ(python.status, 0);
    EXPECT_EQ(python.output, "welcome\n");
}

}  // namespace
}  // namespace qv::testing
