// The dispatcher through WaitEvent and CheckEvent: the order of the sources, one handler per
// call and the resumption where the last one ran, the tables that handlers and callers get,
// expiry by age and the abort flag.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "libs/arexx/arexx_library.h"
#include "media/sound_events.h"
#include "platform/linux/rexx_ports.h"
#include "platform/linux/user_port.h"
#include "platform/linux/video/headless.h"
#include "runtime/attributes.h"
#include "runtime/key_table.h"
#include "runtime/runtime_state.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_displays.h"
#include "scene/events/event_library.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

HostEvent Key(uint32_t code, bool down = true) {
    HostEvent e{};
    e.kind = HostEventKind::kKey, e.key = code, e.down = down;
    return e;
}

HostEvent Button(int button, bool down, int32_t x = 5, int32_t y = 6) {
    HostEvent e{};
    e.kind = HostEventKind::kButton, e.button = button, e.down = down, e.x = x, e.y = y;
    return e;
}

HostEvent Motion(int32_t x, int32_t y) {
    HostEvent e{};
    e.kind = HostEventKind::kMotion, e.x = x, e.y = y;
    return e;
}

std::string Text(const CallResult& r, const char* field) {
    const Value* v = r.results.empty() ? nullptr : r.results[0].Field(field);
    return v == nullptr ? "<none>" : v->type == VM_TSTRING ? v->text : "<not text>";
}

double Number(const CallResult& r, const char* field) {
    const Value* v = r.results.empty() ? nullptr : r.results[0].Field(field);
    return v != nullptr && v->type == VM_TNUMBER ? v->number : -999;
}

class Dispatcher : public EventFixture {
protected:
    Dispatcher()
        : EventFixture(OpenLibraries<RegisterEventLibrary, RegisterARexxLibrary>),
          rexxDir_("QV_REXX_DIR", dir_.path()) {}
    ~Dispatcher() override { CloseRexxPort(L); }

    // A command sent to the program's port "ME" by another program.
    void SendToPort(RexxConnection& sender, std::string_view text) {
        ASSERT_EQ(Call("CreateRexxPort", {Str("ME")}).code, 0);
        ASSERT_TRUE(sender.Open("ME"));
        ASSERT_TRUE(sender.Send(kRexxCommand, text));
    }

    ScratchDir dir_;

private:
    ScopedEnv rexxDir_;
};

TEST_F(Dispatcher, ConsecutiveWaitsVisitTheSourcesInTheirOrder) {
    ASSERT_EQ(Install({{"fillmusicbuffer", Handler([](qvVmState*) {
                            media::testing::SetMusicNeed({}, 0, 0);  // the buffer is full again
                            return 0;
                        })},
                       {"onsampleend", Handler()},
                       {"onmousemove", Handler()},
                       {"onarexx", Handler()},
                       {"onusermessage", Handler()},
                       {"onkeydown", Handler()}})
                  .code,
              0);
    ASSERT_EQ(Call("SetInterval", {Num(7), Handler(), Num(100)}).code, 0);
    media::testing::SetMusicNeed({9, nullptr}, 512, 2);
    Advance(100);
    ASSERT_TRUE(media::testing::PostSoundEvent(QV_SOUNDEVENT_SAMPLEEND, {3, nullptr}, 10, 2));
    display->facts.mouseX = 44, display->facts.mouseY = 55;
    Input(Key('a'));
    Input(Motion(44, 55));
    Pump();
    RexxConnection sender;
    SendToPort(sender, "SAY hello");
    ASSERT_TRUE(platform::testing::PostUserMessage("greet you all"));

    struct Expected {
        const char* action;
        std::vector<std::pair<const char*, double>> numbers;
        std::vector<std::pair<const char*, const char*>> texts;
    };
    const Expected expected[] = {
        {"FillMusicBuffer", {{"id", 9}, {"samples", 512}, {"count", 2}}, {}},
        {"Interval", {{"id", 7}}, {}},
        {"OnSampleEnd", {{"id", 3}, {"time", 10}, {"starts", 2}}, {}},
        {"OnMouseMove", {{"id", 1}, {"x", 44}, {"y", 55}}, {}},
        {"OnARexx", {{"argc", 1}, {"id", 0}}, {{"command", "SAY"}, {"rawargs", "hello"}}},
        {"OnUserMessage", {{"argc", 2}}, {{"command", "greet"}, {"rawargs", "you all"}}},
        {"OnKeyDown", {{"id", 1}}, {{"key", "a"}}},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.action);
        const CallResult r = Wait();
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(ActionOf(r), e.action);
        EXPECT_EQ(Number(r, "triggered"), 1);
        for (auto [field, value] : e.numbers) EXPECT_EQ(Number(r, field), value) << field;
        for (auto [field, value] : e.texts) EXPECT_EQ(Text(r, field), value) << field;
    }
    EXPECT_EQ(trace.size(), 7u);
    EXPECT_EQ(Number(Check(), "triggered"), 0) << "nothing is left";
}

TEST_F(Dispatcher, EachDisplayWhoseMouseMovedHasItsTurn) {
    FakeDisplay* second = displays.Add(2);
    ASSERT_EQ(Install({{"onmousemove", Handler()}}).code, 0);
    displays.SetCurrent(second);
    ASSERT_EQ(Install({{"onmousemove", Handler()}}).code, 0);
    displays.SetCurrent(display);
    Input(Motion(1, 1), display);
    Input(Motion(2, 2), second);
    Pump();
    ASSERT_EQ(Wait().code, 0);
    Input(Motion(3, 3), display);  // moves again before the cycle ends
    Pump();
    ASSERT_EQ(Wait().code, 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseMove 1 -", "OnMouseMove 2 -"}));
    EXPECT_EQ(Number(Check(), "triggered"), 0) << "the hover pass cleared the flags";
}

TEST_F(Dispatcher, ADisplayMouseHandlerRunsOnThisCallAndTheRestOfItsEventOnTheNext) {
    ASSERT_EQ(Install({{"onmousedown", Handler()}, {"onkeydown", Handler()}}).code, 0);
    Input(Button(0, true));
    Input(Key('k'));
    Pump();
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    ASSERT_NE(events::EventState(), nullptr);
    EXPECT_TRUE(events::EventState()->holdingEvent) << "the click waits for its second half";
    EXPECT_EQ(events::EventState()->resumeStep, 5);
    EXPECT_EQ(ActionOf(Wait()), "OnKeyDown");
    EXPECT_FALSE(events::EventState()->holdingEvent);
}

TEST_F(Dispatcher, AHandlerMayFreeTheDisplayOfTheEventItHandles) {
    FakeDisplay* second = displays.Add(2);
    ASSERT_EQ(Install({{"onmousedown", Handler([&](qvVmState* S) {
                            displays.Free(S, display);
                            display = nullptr;
                            return 0;
                        })}})
                  .code,
              0);
    displays.SetCurrent(second);
    ASSERT_EQ(Install({{"onkeydown", Handler()}}).code, 0);
    Input(Button(0, true), display);
    Input(Key('z'), second);
    Pump();
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    EXPECT_EQ(events::EventState()->currentEvent.display, nullptr) << "the held event forgot it";
    EXPECT_EQ(ActionOf(Wait()), "OnKeyDown") << "the click is dropped, the next event follows";
    EXPECT_EQ(trace.back(), "OnKeyDown 2 -");
}

TEST_F(Dispatcher, TheResultTableSaysWhatRanAndWhatItReturned) {
    const CallResult none = Check();
    ASSERT_EQ(none.code, 0);
    EXPECT_EQ(Number(none, "triggered"), 0);
    EXPECT_EQ(Number(none, "nresults"), 0);
    EXPECT_EQ(Text(none, "action"), "");
    EXPECT_EQ(Number(none, "id"), 0);
    EXPECT_EQ(none.results[0].Field("results"), nullptr);

    ASSERT_EQ(Call("SetTimeout", {Num(4), Handler([](qvVmState* S) {
                                      VmPushString(S, "first");
                                      VmPushNumber(S, 2);
                                      return 2;
                                  }),
                                  Num(10), Str("ud")})
                  .code,
              0);
    const CallResult two = Wait();
    ASSERT_EQ(two.code, 0);
    EXPECT_EQ(Number(two, "nresults"), 2);
    EXPECT_EQ(Number(two, "id"), 4);
    EXPECT_EQ(Text(two, "userdata"), "ud") << "the handler's own table comes back";
    const Value* results = two.results[0].Field("results");
    ASSERT_NE(results, nullptr);
    ASSERT_NE(results->At(0), nullptr);
    EXPECT_EQ(results->At(0)->text, "first");
    ASSERT_NE(results->At(1), nullptr);
    EXPECT_EQ(results->At(1)->number, 2);
    EXPECT_EQ(NowMs(), 1000000 + 10) << "the wait jumped the clock to the timeout";
}

TEST_F(Dispatcher, WaitingInsideAHandlerIsRefused) {
    std::vector<int> codes;
    const auto nested = [&codes](qvVmState* S) {
        for (const char* command : {"waitevent", "checkevent"}) {
            VmPushString(S, command);
            VmGetTable(S, VM_GLOBALSINDEX);
            codes.push_back(VmPCall(S, 0, 0, 0));
        }
        return 0;
    };
    ASSERT_EQ(Call("SetTimeout", {Nil(), Native(nested), Num(1)}).code, 0);
    const CallResult r = Wait();  // the inner errors stay the last error
    EXPECT_FALSE(r.ended);
    EXPECT_EQ(ActionOf(r), "Timeout");
    EXPECT_EQ(codes, (std::vector<int>{ERR_WRONGUSAGE, ERR_WRONGUSAGE}));
}

// A handler that leaves its callback level itself (attribute 11 set to 0) leaves the depth at
// 0 afterwards, not below: the script level may dispatch again.
TEST_F(Dispatcher, AHandlerLeavingItsLevelDoesNotLockDispatchingOut) {
    const auto leave = [](qvVmState* S) {
        const qvAttrSet tags[] = {{QV_ATTR_NESTEDCALLS, 0}, {QV_ATTR_END, 0}};
        SetGlobalAttrs(S, tags);
        return 0;
    };
    ASSERT_EQ(Call("SetTimeout", {Nil(), Native(leave), Num(1)}).code, 0);
    EXPECT_EQ(ActionOf(Wait()), "Timeout");
    EXPECT_EQ(Runtime().error.nestedCalls, 0);
    EXPECT_EQ(Check().code, 0);
}

TEST_F(Dispatcher, WaitEventNeedsAnOpenDisplayAndCheckEventDoesNot) {
    display->open = false;
    EXPECT_EQ(Wait().code, ERR_CLOSEDDISPDRAW);
    EXPECT_EQ(Check().code, 0);
    displays.SetCurrent(nullptr);
    EXPECT_EQ(Wait().code, ERR_CLOSEDDISPDRAW);
}

TEST_F(Dispatcher, KeyEventsNameTheirKeys) {
    ASSERT_EQ(Install({{"onkeydown", Handler()}, {"onkeyup", Handler()}}).code, 0);
    struct Case {
        uint32_t code;
        const char* name;
    };
    const Case cases[] = {{KeyCode("TAB"), "        "},
                          {KeyCode("ENTER"), "\n"},
                          {KeyCode("RETURN"), "\n"},
                          {KeyCode("SPACE"), " "},
                          {KeyCode("ESC"), "ESC"},
                          {KeyCode("F12"), "F12"},
                          {KeyCode("PAUSE"), "PAUSE"},
                          {KeyCode("UP"), "UP"},
                          {'a', "a"},
                          {'7', "7"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool down : {true, false}) {
            Input(Key(c.code, down));
            Pump();
            const CallResult r = Wait();
            EXPECT_EQ(ActionOf(r), down ? "OnKeyDown" : "OnKeyUp");
            EXPECT_EQ(Text(r, "key"), c.name);
            EXPECT_EQ(Number(r, "id"), 1);
        }
    }
}

TEST_F(Dispatcher, AnARexxCommandSplitsIntoItsArguments) {
    ASSERT_EQ(Install({{"onarexx", Handler([](qvVmState* S) {
                            VmPushString(S, "done");
                            return 1;
                        })}})
                  .code,
              0);
    RexxConnection sender;
    SendToPort(sender, "SAY \"a b\" c");
    const CallResult r = Wait();
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(Text(r, "command"), "SAY");
    EXPECT_EQ(Number(r, "argc"), 2);
    EXPECT_EQ(Text(r, "args"), std::string("a b\0c", 5));
    EXPECT_EQ(Text(r, "rawargs"), "\"a b\" c");
    int32_t rc1 = -1, rc2 = -1;
    std::string reply;
    ASSERT_EQ(sender.TakeReply(&rc1, &rc2, &reply), RexxConnection::Reply::kArrived);
    EXPECT_EQ(reply, "done");
}

TEST_F(Dispatcher, WindowEventsReachTheirSlotsWithTheirFields) {
    ASSERT_EQ(Install({{"movewindow", Handler()},
                       {"activewindow", Handler()},
                       {"inactivewindow", Handler()},
                       {"hidewindow", Handler()},
                       {"showwindow", Handler()},
                       {"closewindow", Handler()},
                       {"ondropfile", Handler()},
                       {"onwheelup", Handler()},
                       {"onwheeldown", Handler()},
                       {"onrightmouseup", Handler()},
                       {"onmidmousedown", Handler()}})
                  .code,
              0);
    ASSERT_TRUE(display->closeReporting);
    display->facts.x = 70, display->facts.y = 80;
    struct Case {
        HostEventKind kind;
        bool down;
        int button;
        const char* action;
        std::vector<std::pair<const char*, double>> numbers;
    };
    const Case cases[] = {
        {HostEventKind::kMoved, false, 0, "MoveWindow", {{"x", 70}, {"y", 80}, {"id", 1}}},
        {HostEventKind::kFocus, true, 0, "ActiveWindow", {{"id", 1}}},
        {HostEventKind::kFocus, false, 0, "InactiveWindow", {{"id", 1}}},
        {HostEventKind::kIconify, true, 0, "HideWindow", {{"id", 1}}},
        {HostEventKind::kIconify, false, 0, "ShowWindow", {{"id", 1}}},
        {HostEventKind::kClose, false, 0, "CloseWindow", {{"id", 1}}},
        {HostEventKind::kWheel, false, 0, "OnWheelUp", {{"id", 1}}},
        {HostEventKind::kWheel, true, 0, "OnWheelDown", {{"id", 1}}},
        {HostEventKind::kButton, false, 1, "OnRightMouseUp", {{"id", 1}}},
        {HostEventKind::kButton, true, 2, "OnMidMouseDown", {{"id", 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.action);
        HostEvent e{};
        e.kind = c.kind, e.down = c.down, e.button = c.button;
        Input(e);
        Pump();
        const CallResult r = Wait();
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(ActionOf(r), c.action);
        for (auto [field, value] : c.numbers) EXPECT_EQ(Number(r, field), value) << field;
    }
    EXPECT_FALSE(Runtime().abortFlag.load()) << "the close request was reported, not obeyed";

    ASSERT_TRUE(platform::testing::InjectDrop(display->window->number, 12, 34, {"a.txt", "b c"}));
    Pump();
    const CallResult drop = Wait();
    EXPECT_EQ(ActionOf(drop), "OnDropFile");
    EXPECT_EQ(Number(drop, "x"), 12);
    EXPECT_EQ(Number(drop, "numdropfiles"), 2);
    const Value* files = drop.results[0].Field("dropfiles");
    ASSERT_NE(files, nullptr);
    ASSERT_NE(files->At(1), nullptr);
    EXPECT_EQ(files->At(1)->text, "b c");
}

TEST_F(Dispatcher, QueuedEventsExpireByAgeAndOldMovementsStaySilent) {
    ASSERT_EQ(Install({{"onkeydown", Handler()}}).code, 0);
    Input(Key('x'));
    Pump();
    Advance(200);
    Input(Key('y'));
    Pump();
    Advance(1400);  // 'x' is 1.6 s old, 'y' 1.4 s
    EXPECT_EQ(Text(Wait(), "key"), "y");
    EXPECT_EQ(Number(Check(), "triggered"), 0) << "'x' was dropped";

    ASSERT_EQ(Install({{"onmousemove", Handler()}}).code, 0);
    struct Case {
        int64_t age;
        bool fires;
    };
    for (const Case& c : {Case{1500, true}, Case{1501, false}}) {
        SCOPED_TRACE(c.age);
        Input(Motion(3, 4));
        Pump();
        Advance(c.age);
        EXPECT_EQ(Number(Check(), "triggered"), c.fires ? 1 : 0);
        Check();  // the rest of the cycle clears the flag
    }
}

// Input carries the window's inner coordinates; handlers get them through the displays'
// conversion (these displays are unscaled: scaled ones are tested over the real records).
TEST_F(Dispatcher, PositionsReachHandlersThroughTheDisplays) {
    ASSERT_EQ(Install({{"onmousemove", Handler()}, {"ondropfile", Handler()}}).code, 0);
    display->facts.mouseX = 30, display->facts.mouseY = 25;
    Input(Motion(30, 25));
    ASSERT_TRUE(platform::testing::InjectDrop(display->window->number, 12, 34, {"a"}));
    Pump();
    const CallResult move = Wait();
    EXPECT_EQ(ActionOf(move), "OnMouseMove");
    EXPECT_EQ(Number(move, "x"), 30);
    EXPECT_EQ(Number(move, "y"), 25);
    const CallResult drop = Wait();
    EXPECT_EQ(ActionOf(drop), "OnDropFile");
    EXPECT_EQ(Number(drop, "x"), 12);
    EXPECT_EQ(Number(drop, "y"), 34);

    EXPECT_EQ(Number(Check(), "triggered"), 0) << "the cycle ends";
    display->open = false;
    Input(Motion(1, 1));
    Pump();
    EXPECT_EQ(Number(Check(), "x"), 0) << "a display without its window has no mouse";
}

TEST_F(Dispatcher, AnAbortWhileAHandlerRunsIsTheCallsResult) {
    ASSERT_EQ(Call("SetTimeout", {Nil(), Handler([](qvVmState*) {
                                      Runtime().abortFlag.store(1);
                                      return 0;
                                  }),
                                  Num(5)})
                  .code,
              0);
    Advance(5);
    EXPECT_EQ(Check().code, ERR_USERABORT);
}

TEST_F(Dispatcher, AHandlersErrorIsTheCallsAndTheCycleGoesOnFromThere) {
    SetExitOnError(false);
    ASSERT_EQ(
        Call("SetInterval", {Num(1), Handler([](qvVmState*) { return int{ERR_MEM}; }), Num(10)})
            .code,
        0);
    ASSERT_EQ(Call("SetInterval", {Num(2), Handler(), Num(10)}).code, 0);
    Advance(10);
    EXPECT_EQ(Check().code, ERR_MEM);
    EXPECT_EQ(ActionOf(Check()), "Interval");
    EXPECT_EQ(trace, (std::vector<std::string>{"Interval 1 -", "Interval 2 -"}));
}

TEST_F(Dispatcher, UserMessagesWithoutAHandlerAreDropped) {
    ASSERT_TRUE(platform::testing::PostUserMessage("lost"));
    EXPECT_EQ(Number(Check(), "triggered"), 0);
    ASSERT_EQ(Install({{"onusermessage", Handler()}}).code, 0);
    ASSERT_TRUE(platform::testing::PostUserMessage("kept"));
    const CallResult r = Check();
    EXPECT_EQ(Text(r, "command"), "kept");
    EXPECT_EQ(Number(r, "argc"), 0);
    EXPECT_EQ(Text(r, "args"), "");
}

TEST_F(Dispatcher, SoundEndsWithoutAHandlerAreDroppedAndMusicEndsCarryNoTimes) {
    ASSERT_EQ(Install({{"onmusicend", Handler()}}).code, 0);
    ASSERT_TRUE(media::testing::PostSoundEvent(QV_SOUNDEVENT_SAMPLELOOP, {1, nullptr}, 1, 1));
    ASSERT_TRUE(media::testing::PostSoundEvent(QV_SOUNDEVENT_MUSICEND, {2, nullptr}, 5, 6));
    const CallResult r = Check();
    EXPECT_EQ(ActionOf(r), "OnMusicEnd");
    EXPECT_EQ(Number(r, "id"), 2);
    EXPECT_EQ(r.results[0].Field("time"), nullptr);
    EXPECT_EQ(Number(Check(), "triggered"), 0);
}

// A message record that carried one handler's fields is blank again when the next handler's
// message starts (a network scan starts one per object it polls): nothing of the earlier
// one may reach the later table, and its reply block is freed.
TEST(EventMessage, StartingAgainLeavesNothingOfTheEarlierHandler) {
    qvEventMessage m;
    StartMessage(&m);
    int object = 0;
    auto* reply = static_cast<char*>(AllocMemBlock(4, 0));
    m.kind = QV_MSG_DROP, m.display = reinterpret_cast<qvDisplay*>(&object);
    m.function = 3, m.userData = 4, m.keyQualifiers = 5, m.x = 6, m.y = 7;
    m.action = events::MessageName::kOnDropFile;
    std::strcpy(m.keyName, "ESC");
    m.time = 8, m.starts = 9, m.command = "cmd", m.reply.reset(reply), m.replyLength = 3;
    m.dropList = "a\0", m.samples = 10, m.count = 11, m.hasId = true, m.id = {12, &object};
    m.server = m.connection = m.udp = reinterpret_cast<qvNetObject*>(&object);
    StartMessage(&m);
    const qvEventMessage blank;
    EXPECT_TRUE(m.started);
    EXPECT_EQ(
        std::tie(m.kind, m.display, m.function, m.userData, m.keyQualifiers, m.x, m.y, m.action,
                 m.time, m.starts, m.command, m.replyLength, m.dropList, m.samples, m.count,
                 m.hasId, m.id.number, m.id.handle, m.server, m.connection, m.udp),
        std::tie(blank.kind, blank.display, blank.function, blank.userData, blank.keyQualifiers,
                 blank.x, blank.y, blank.action, blank.time, blank.starts, blank.command,
                 blank.replyLength, blank.dropList, blank.samples, blank.count, blank.hasId,
                 blank.id.number, blank.id.handle, blank.server, blank.connection, blank.udp));
    EXPECT_STREQ(m.keyName, "");
    EXPECT_EQ(m.reply, nullptr);
}

}  // namespace
}  // namespace qv::testing
