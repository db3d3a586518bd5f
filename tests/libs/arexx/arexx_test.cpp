// The arexx library: its port, sends to Python peers, delivery to the "OnARexx" handler,
// the wire format and the debug sink.
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "runtime/runtime_state.h"
#include "tests/libs/arexx/arexx_test_support.h"

namespace qv::testing {
namespace {

std::span<const uint8_t> AsSpan(const std::string& s) {
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(RexxWire, MessagesAndRepliesRoundTrip) {
    uint32_t action = 0;
    std::string argument;
    std::string packet = EncodeRexxMessage(kRexxScript, std::string("say 'a'\0b", 9));
    ASSERT_EQ(packet.substr(0, 4), std::string("\x00\x00\x06\x01", 4)) << "little-endian";
    ASSERT_TRUE(DecodeRexxMessage(AsSpan(packet), &action, &argument));
    EXPECT_EQ(action, kRexxScript);
    EXPECT_EQ(argument, std::string("say 'a'\0b", 9));
    EXPECT_FALSE(DecodeRexxMessage(AsSpan(packet.substr(0, 3)), &action, &argument));
    EXPECT_FALSE(
        DecodeRexxMessage(AsSpan(std::string(4 + kMaxRexxArgument + 1, 'x')), &action, &argument));

    int32_t rc1 = 0, rc2 = 0;
    ASSERT_TRUE(DecodeRexxReply(AsSpan(EncodeRexxReply(-3, 5, "res")), &rc1, &rc2, &argument));
    EXPECT_EQ(rc1, -3);
    EXPECT_EQ(rc2, 5);
    EXPECT_EQ(argument, "res");
    EXPECT_FALSE(DecodeRexxReply(AsSpan(std::string(7, '\0')), &rc1, &rc2, &argument));
}

TEST(RexxWire, NamesThatCannotBeSocketNamesAreHashed) {
    const std::string dir = "/run/user/1000/quorvella/rexx";
    EXPECT_EQ(RexxSocketPath(dir, "MyApp"), dir + "/MyApp");
    EXPECT_NE(RexxSocketPath(dir, "MyApp"), RexxSocketPath(dir, "myapp")) << "case-sensitive";
    for (const std::string& name : {std::string(127, 'n'), std::string("a/b"), std::string("#x"),
                                    std::string(".."), std::string("")}) {
        std::string path = RexxSocketPath(dir, name);
        EXPECT_LT(path.size(), sizeof(sockaddr_un::sun_path)) << name;
        EXPECT_EQ(path.find('/', dir.size() + 1), std::string::npos) << name;
        EXPECT_EQ(path[dir.size() + 1], '#') << name;
    }
    EXPECT_NE(RexxSocketPath(dir, std::string(127, 'n')),
              RexxSocketPath(dir, std::string(126, 'n')));
}

TEST(RexxCommandText, SplitsAsTheHandlerSeesIt) {
    struct Case {
        std::string text, command, args, raw;
        int argc;
    };
    const Case cases[] = {
        {"SAY \"two words\" more", "SAY", std::string("two words\0more", 14), "\"two words\" more",
         2},
        {"QUIT", "QUIT", "", "", 0},
        {"A  b", "A", std::string("\0b", 2), " b", 2},
        {"A ", "A", "", "", 1},
    };
    for (const Case& c : cases) {
        RexxCommandText split = SplitRexxCommand(c.text);
        EXPECT_EQ(split.command, c.command) << c.text;
        EXPECT_EQ(split.args, c.args) << c.text;
        EXPECT_EQ(split.rawArgs, c.raw) << c.text;
        EXPECT_EQ(split.argc, c.argc) << c.text;
    }
}

TEST_F(ARexxLib, CreateRexxPortChecksNameAndCount) {
    EXPECT_EQ(Call("CreateRexxPort", {Str(std::string(128, 'p'))}).code, ERR_WRONGUSAGE);
    ASSERT_EQ(Call("CreateRexxPort", {Str(std::string(127, 'p'))}).code, 0);
    EXPECT_TRUE(RexxPortExists(std::string(127, 'p')));
    EXPECT_EQ(Call("CreateRexxPort", {Str("OTHER")}).code, ERR_WRONGUSAGE) << "one per run";
}

TEST_F(ARexxLib, ATakenNameIsRefusedAndAStaleSocketReclaimed) {
    std::unique_ptr<RexxPort> taken;
    ASSERT_EQ(RexxPort::Create("TAKEN", &taken), 0);
    CallResult r = Call("CreateRexxPort", {Str("TAKEN")});
    EXPECT_EQ(r.code, ERR_PORTNOTAVAIL);
    EXPECT_EQ(r.errorText, "TAKEN");

    // A program that died left its socket behind: nobody listens on it.
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string stale = SocketOf("STALE");
    std::memcpy(address.sun_path, stale.c_str(), stale.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    EXPECT_FALSE(RexxPortExists("STALE"));
    ASSERT_EQ(Call("CreateRexxPort", {Str("STALE")}).code, 0);
    EXPECT_TRUE(RexxPortExists("STALE"));
}

TEST_F(ARexxLib, SendsReachAPythonPeer) {
    StartPeer("PEER", "echo");
    EXPECT_EQ(Call("SendRexxCommand", {Str("PEER"), Str("x")}).code, ERR_NOREXX)
        << "no REXX port, although the target exists";
    OpenRexxServer();
    EXPECT_EQ(Call("SendRexxCommand", {Str("PEER"), Str("hello world")}).Text(),
              "01060000:hello world");
    const std::string big(200000, 'b');
    EXPECT_EQ(Call("SendRexxCommand", {Str("PEER"), Str(big)}).Text(), "01060000:" + big);
    const std::string tooBig(kMaxRexxArgument + 1, 't');  // no message can carry it
    EXPECT_EQ(Call("SendRexxCommand", {Str("PEER"), Str(tooBig)}).code, ERR_MEM);
    CallResult missing = Call("SendRexxCommand", {Str("NOBODY"), Str("x")});
    EXPECT_EQ(missing.code, ERR_FINDPORT);
    EXPECT_EQ(missing.errorText, "NOBODY");
}

TEST_F(ARexxLib, RunRexxScriptSendsNameOrTextToTheRexxPort) {
    StartPeer("REXX", "echo");
    EXPECT_EQ(Call("RunRexxScript", {Str("s.rexx")}).Text(), "01020000:s.rexx");
    EXPECT_EQ(Call("RunRexxScript", {Str("say 1"), Bool(true)}).Text(), "01060000:say 1");
    EXPECT_EQ(Call("RunRexxScript", {Str("say 1"), Num(0)}).Text(), "01020000:say 1");
}

TEST_F(ARexxLib, FailedRepliesAndVanishingPeers) {
    OpenRexxServer();
    StartPeer("ERR", "error");
    StartPeer("DIES", "die");
    CallResult error = Call("SendRexxCommand", {Str("ERR"), Str("x")});
    EXPECT_EQ(error.code, ERR_REXXERR);
    EXPECT_EQ(error.errorText, "10/5");
    CallResult died = Call("SendRexxCommand", {Str("DIES"), Str("x")});
    EXPECT_EQ(died.code, ERR_FINDPORT);
    EXPECT_EQ(died.errorText, "DIES");
}

TEST_F(ARexxLib, APendingSendEndsOnAStopOrCtrlC) {
    OpenRexxServer();
    StartPeer("SILENT", "silent");
    InstallFakePump(3);
    EXPECT_EQ(Call("SendRexxCommand", {Str("SILENT"), Str("x")}).code, ERR_USERABORT);
    EXPECT_GE(PumpCalls(), 3);
    VmSetHook(L, nullptr, 0, 0);
    std::thread interrupt([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Runtime().abortFlag.store(1);  // what the SIGINT handler does
    });
    EXPECT_EQ(Call("SendRexxCommand", {Str("SILENT"), Str("x")}).code, ERR_USERABORT);
    interrupt.join();
}

// The peer calls back while our send waits; the handler's error of that earlier pass is the
// send's result once the reply is in.
TEST_F(ARexxLib, PeersCallBackWhileASendWaits) {
    OpenRexxServer();
    ASSERT_EQ(Call("CreateRexxPort", {Str("ME")}).code, 0);
    StartPeer("CB", "callback");
    std::vector<std::string> seen;
    SetHandler([&](qvVmState* S) {
        VmPushString(S, "rawargs");
        VmRawGet(S, 1);
        seen.emplace_back(VmToString(S, -1));
        if (seen.back() == "fail") return int{ERR_WRONGUSAGE};
        VmPushString(S, ("handled " + seen.back()).c_str());
        return 1;
    });
    EXPECT_EQ(Call("SendRexxCommand", {Str("CB"), Str("one")}).Text(), "handled one");
    EXPECT_EQ(Call("SendRexxCommand", {Str("CB"), Str("fail")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(seen, (std::vector<std::string>{"one", "fail"}));
}

// A second program built the same way (this test, forked): each one's handler sends to the
// other while the other's send is still waiting for it.
TEST_F(ARexxLib, TwoProgramsCallEachOtherWhileBothSendsWait) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool quit = false;
        SetHandler([&](qvVmState* S) {
            VmPushString(S, "command");
            VmRawGet(S, 1);
            quit = std::string(VmToString(S, -1)) == "quit";
            VmPushString(S, "sendrexxcommand");  // commands are stored lower-cased
            VmGetTable(S, VM_GLOBALSINDEX);
            VmPushString(S, "A");
            VmPushString(S, "inner");
            if (quit || VmPCall(S, 2, 1, 0) != 0) return 0;
            VmPushFString(S, "B got <%s>", VmToString(S, -1));
            return 1;
        });
        if (Call("CreateRexxPort", {Str("B")}).code != 0) _exit(1);
        for (int i = 0; i < 1000 && !quit; ++i) {
            WaitSignals(L, -1);
            CallOnARexx(L, 1, 0);
        }
        _exit(quit ? 0 : 2);
    }
    OpenRexxServer();
    ASSERT_EQ(Call("CreateRexxPort", {Str("A")}).code, 0);
    SetHandler([](qvVmState* S) {
        VmPushString(S, "A answered");
        return 1;
    });
    ASSERT_TRUE(WaitFor([] { return RexxPortExists("B"); }));
    EXPECT_EQ(Call("SendRexxCommand", {Str("B"), Str("outer")}).Text(), "B got <A answered>");
    Call("SendRexxCommand", {Str("B"), Str("quit")});
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(ARexxLib, IncomingCommandsReachTheHandlerWithTheirTable) {
    ASSERT_EQ(Call("CreateRexxPort", {Str("ME")}).code, 0);
    PushArg(Str("the user data"));
    OnARexxSlot().userData = MakeRef(L, VM_REGISTRYINDEX);
    std::string fields;
    SetHandler([&](qvVmState* S) {
        for (const char* key : {"action", "command", "rawargs", "argc", "userdata"}) {
            VmPushString(S, key);
            VmRawGet(S, 1);
            fields += std::string(key) + "=" + VmToString(S, -1) + ";";
            VmSetTop(S, -2);
        }
        VmPushNumber(S, 42);
        return 1;
    });
    RexxConnection sender;
    ASSERT_TRUE(sender.Open("ME"));
    ASSERT_TRUE(sender.Send(kRexxCommand, "SAY \"two words\" more"));
    ASSERT_EQ(CallOnARexx(L, 1, 1), 0);
    EXPECT_EQ(fields,
              "action=OnARexx;command=SAY;rawargs=\"two words\" more;argc=2;"
              "userdata=the user data;");
    int32_t rc1 = -1, rc2 = -1;
    std::string result;
    ASSERT_TRUE(WaitFor(
        [&] { return sender.TakeReply(&rc1, &rc2, &result) == RexxConnection::Reply::kArrived; }));
    EXPECT_EQ(result, "42");
    EXPECT_EQ(rc1, 0);
}

TEST_F(ARexxLib, NonReturningMessagesGetNoReplyAndWaitingOnesAnEmptyOneAtExit) {
    ASSERT_EQ(Call("CreateRexxPort", {Str("ME")}).code, 0);
    int32_t rc1 = -1, rc2 = -1;
    std::string result = "stale";
    RexxConnection silent;
    ASSERT_TRUE(silent.Open("ME"));
    ASSERT_TRUE(silent.Send(kRexxCommand | kRexxNonReturn, "fire and forget"));
    ASSERT_EQ(CallOnARexx(L, 1, 0), 0);  // no handler: answered with ""
    EXPECT_EQ(silent.TakeReply(&rc1, &rc2, &result), RexxConnection::Reply::kClosed);

    RexxConnection waiting;
    ASSERT_TRUE(waiting.Open("ME"));
    ASSERT_TRUE(waiting.Send(kRexxCommand, "pending"));
    CloseRexxPort(L);
    ASSERT_EQ(waiting.TakeReply(&rc1, &rc2, &result), RexxConnection::Reply::kArrived);
    EXPECT_EQ(result, "");
    EXPECT_EQ(rc1, 0);
    EXPECT_FALSE(RexxPortExists("ME")) << "the socket is gone";
}

TEST_F(ARexxLib, DebugTextGoesToTheNamedPortAsNonReturningCommands) {
    StartPeer("REC", "record");
    SendRexxDebugText("REC", "first line\n");
    SendRexxDebugText("ABSENT", "dropped");
    SendRexxDebugText("REC", "50%");
    std::string log = SocketOf("REC") + ".log";
    std::string text;
    ASSERT_TRUE(WaitFor([&] {
        std::ifstream in(log, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
        return text.find("50%") != std::string::npos;
    }));
    EXPECT_EQ(text, "01120000:first line\n\n01120000:50%\n");
}

}  // namespace
}  // namespace qv::testing
