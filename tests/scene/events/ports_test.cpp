// User ports in one process: the checks of CreatePort and SendMessage, the name space shared
// with ARexx ports, and what another program's packet becomes for "onusermessage".
#include <string>

#include "libs/arexx/arexx_library.h"
#include "platform/linux/rexx_ports.h"
#include "platform/linux/user_port.h"
#include "scene/events/event_library.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

class Ports : public EventFixture {
protected:
    Ports()
        : EventFixture(OpenLibraries<RegisterEventLibrary, RegisterARexxLibrary>),
          rexxDir_("QV_REXX_DIR", dir_.path()) {}
    ~Ports() override { CloseRexxPort(L); }

    ScratchDir dir_;

private:
    ScopedEnv rexxDir_;
};

TEST_F(Ports, SendMessageRefusesWhatWouldArriveAsOtherWords) {
    ASSERT_EQ(Call("CreatePort", {Str("ME")}).code, 0);
    RexxConnection peer;
    ASSERT_TRUE(peer.Open("ME")) << "the port listens";
    struct Case {
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {{Str("ME"), Str("two words")}, ERR_WRONGUSAGE},
        {{Str("ME"), Str("")}, ERR_WRONGUSAGE},
        {{Str("ME"), Str(std::string("nul\0", 4))}, ERR_WRONGUSAGE},
        {{Str("ME"), Str("word"), Str("say \"hi\"")}, ERR_WRONGUSAGE},
        {{Str("ME"), Str("word"), Str("fine")}, ERR_WRONGUSAGE},  // the program's own port
        {{Str("NOPE"), Str("word")}, ERR_FINDPORT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call("SendMessage", c.args).code, c.code) << c.args[1].text;
    }
    const CallResult missing = Call("SendMessage", {Str("NOPE"), Str("word")});
    EXPECT_EQ(missing.errorText, "NOPE");
}

TEST_F(Ports, CreatePortChecksItsNameAndTheDisplay) {
    EXPECT_EQ(Call("CreatePort", {Str(std::string(128, 'p'))}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CreatePort", {Str(std::string(127, 'p'))}).code, 0);
    ASSERT_EQ(Call("CreateRexxPort", {Str("TAKEN")}).code, 0);
    const CallResult taken = Call("CreatePort", {Str("TAKEN")});
    EXPECT_EQ(taken.code, ERR_PORTNOTAVAIL) << "ARexx and user ports share their names";
    EXPECT_EQ(taken.errorText, "TAKEN");
    EXPECT_EQ(Call("CreatePort", {Str("AGAIN")}).code, 0) << "replaces the program's port";
    EXPECT_EQ(Call("CreatePort", {Str("AGAIN")}).code, 0);
    display->open = false;
    EXPECT_EQ(Call("CreatePort", {Str("CLOSED")}).code, ERR_WRONGUSAGE);
}

TEST_F(Ports, AnotherProgramsPacketReachesOnUserMessage) {
    ASSERT_EQ(Call("CreatePort", {Str("ME")}).code, 0);
    ASSERT_EQ(Install({{"onusermessage", Handler()}}).code, 0);
    RexxConnection peer;
    ASSERT_TRUE(peer.Open("ME"));
    ASSERT_TRUE(peer.Send(kRexxNonReturn, "go \"x y\" z"));
    const CallResult r = Wait();
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(ActionOf(r), "OnUserMessage");
    const Value& table = r.results[0];
    EXPECT_EQ(table.Field("command")->text, "go");
    EXPECT_EQ(table.Field("argc")->number, 2);
    EXPECT_EQ(table.Field("args")->text, std::string("x y\0z", 5));
    EXPECT_EQ(table.Field("rawargs")->text, "\"x y\" z");

    // A sender that asks for a reply is answered, not left waiting.
    RexxConnection asking;
    ASSERT_TRUE(asking.Open("ME"));
    ASSERT_TRUE(asking.Send(kRexxCommand, "ask"));
    EXPECT_EQ(ActionOf(Wait()), "OnUserMessage");
    int32_t rc1 = -1, rc2 = -1;
    std::string result;
    EXPECT_EQ(asking.TakeReply(&rc1, &rc2, &result), RexxConnection::Reply::kArrived);
    EXPECT_EQ(rc1, 0);
}

}  // namespace
}  // namespace qv::testing
