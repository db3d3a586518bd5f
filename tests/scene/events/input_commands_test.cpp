// The direct input commands over the fake displays and the headless back end's input: keys by
// character and by name, qualifiers, joysticks, the waits on the virtual clock, the quit keys,
// the event time-out and the queue cleared.
#include <string>
#include <vector>

#include "platform/linux/video/headless.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "scene/events/event_library.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

HostEvent Key(uint32_t code, bool down) {
    HostEvent e{};
    e.kind = HostEventKind::kKey, e.key = code, e.down = down;
    return e;
}

HostEvent Button(int button, bool down) {
    HostEvent e{};
    e.kind = HostEventKind::kButton, e.button = button, e.down = down, e.x = 5, e.y = 5;
    return e;
}

double Triggered(const CallResult& r) {
    const Value* v = r.results.empty() ? nullptr : r.results[0].Field("triggered");
    return v != nullptr ? v->number : -1;
}

class InputCommands : public EventFixture {
protected:
    ~InputCommands() override { ResetInputPump(); }

    void Press(uint32_t code) {
        Input(Key(code, true));
        Pump();
    }
    // Whether anything waits in the queue for an "onkeydown" or "onmousedown" handler.
    bool QueueHolds() {
        EXPECT_EQ(Install({{"onkeydown", Handler()}, {"onmousedown", Handler()}}).code, 0);
        return Triggered(Check()) == 1;
    }
};

TEST_F(InputCommands, IsKeyDownNamesKeysByCharacterOrByTableName) {
    Press('a');
    Press(KeyCode("ESC"));
    Press(KeyCode("LSHIFT"));
    struct Case {
        const char* name;
        int code;  // the command's error, else its result
        double down;
    };
    const Case cases[] = {
        {"a", 0, 1},
        {"A", 0, 0},
        {"esc", 0, 1},
        {"Esc", 0, 1},
        {"F1", 0, 0},
        {"lshift", 0, 1},
        {"RSHIFT", 0, 0},
        {"", ERR_WRONGUSAGE, 0},
        {"escape", ERR_WRONGUSAGE, 0},
        {"ONKEYDOWNALL", ERR_WRONGUSAGE, 0},
        {" ", ERR_WRONGUSAGE, 0},
        {"\xA0", ERR_WRONGUSAGE, 0},
        {"\xE9", 0, 0},
    };
    for (const Case& c : cases) {
        const CallResult r = Call("IsKeyDown", {Str(c.name)});
        EXPECT_EQ(r.code, c.code) << c.name;
        if (c.code == 0) {
            EXPECT_EQ(r.Number(), c.down) << c.name;
        }
    }
    EXPECT_EQ(Call("IsKeyDown", {Str(std::string("esc\0x", 5))}).code, ERR_WRONGUSAGE);

    ASSERT_EQ(Call("ResetKeyStates").code, 0);
    EXPECT_EQ(Call("IsKeyDown", {Str("a")}).Number(), 0);
    display->open = false;
    EXPECT_EQ(Call("IsKeyDown", {Str("a")}).code, ERR_CLOSEDDISPDRAW);
    EXPECT_EQ(Call("MouseX").Number(), 0) << "a closed display's mouse is at 0, 0";
}

TEST_F(InputCommands, JoysticksAnswerByPortAndButton) {
    platform::testing::SetJoystick(0, true, 2, 0x80000005u);
    platform::testing::SetJoystick(2, true, 8, 0);
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
        double result;
    };
    const Case cases[] = {
        {"JoyDir", {Num(0)}, 0, 2},
        {"JoyDir", {Num(1)}, ERR_JOYSTICK, 0},
        {"JoyDir", {Num(4)}, ERR_NOJOYATPORT, 0},
        {"JoyFire", {Num(0)}, 0, 1},
        {"JoyFire", {Num(0), Num(2)}, 0, 0},
        {"JoyFire", {Num(0), Num(32)}, 0, 1},
        {"JoyFire", {Num(0), Num(0)}, 0, 0x80000005u},
        {"JoyFire", {Num(0), Num(33)}, ERR_WRONGUSAGE, 0},
        {"JoyFire", {Num(0), Num(-1)}, ERR_WRONGUSAGE, 0},
        {"JoyFire", {Num(-1)}, ERR_NOJOYATPORT, 0},
        {"CountJoysticks", {}, 0, 2},
    };
    for (const Case& c : cases) {
        const CallResult r = Call(c.command, c.args);
        EXPECT_EQ(r.code, c.code) << c.command << " " << c.args[0].number;
        if (c.code == 0) {
            EXPECT_EQ(r.Number(), c.result) << c.command;
        }
    }
}

TEST_F(InputCommands, WaitLeftMouseEndsAfterPressAndReleaseAndEmptiesTheQueue) {
    InputAt(NowMs() + 30, Button(0, true));
    InputAt(NowMs() + 60, Button(0, false));
    InputAt(NowMs() + 60, Key('q', true));
    const CallResult r = Call("WaitLeftMouse");
    EXPECT_EQ(r.code, 0);
    EXPECT_GE(NowMs(), 1000000 + 60);
    EXPECT_FALSE(QueueHolds());
}

// A press and its release that one pump reads leave nothing held: the waits still see the
// press. A click read before the wait began does not count.
TEST_F(InputCommands, PressesReleasedWithinOnePumpEndTheWaits) {
    const struct {
        const char* command;
        std::vector<Arg> args;
        HostEvent down, up;
    } cases[] = {
        {"WaitLeftMouse", {}, Button(0, true), Button(0, false)},
        {"WaitRightMouse", {}, Button(1, true), Button(1, false)},
        {"WaitMidMouse", {}, Button(2, true), Button(2, false)},
        {"WaitKeyDown", {Str("k")}, Key('k', true), Key('k', false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Input(c.down);
        Input(c.up);
        Pump();
        const int64_t start = NowMs();
        InputAt(start + 40, c.down);
        InputAt(start + 40, c.up);
        EXPECT_EQ(Call(c.command, c.args).code, 0);
        EXPECT_EQ(NowMs(), start + 40);
    }
}

TEST_F(InputCommands, LeftMouseQuitTakesAClickWithinOnePump) {
    ASSERT_EQ(Call("LeftMouseQuit", {Num(1)}).code, 0);
    InputAt(NowMs() + 5, Button(0, true));
    InputAt(NowMs() + 5, Button(0, false));
    const CallResult r = Wait();
    EXPECT_TRUE(r.aborted);
    ASSERT_EQ(Call("LeftMouseQuit", {Num(0)}).code, 0);
}

TEST_F(InputCommands, WaitKeyDownTakesNoQualifierKeys) {
    EXPECT_EQ(Call("WaitKeyDown", {Str("LSHIFT")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("WaitKeyDown", {Str("nokey")}).code, ERR_WRONGUSAGE);
    InputAt(NowMs() + 10, Key(KeyCode("F2"), true));
    InputAt(NowMs() + 20, Key(KeyCode("F2"), false));
    EXPECT_EQ(Call("WaitKeyDown", {Str("f2")}).code, 0);
    EXPECT_EQ(NowMs(), 1000000 + 20);
    display->open = false;
    EXPECT_EQ(Call("WaitKeyDown", {Str("nokey")}).code, ERR_CLOSEDDISPDRAW)
        << "the display is checked before the key";
    EXPECT_EQ(Call("WaitLeftMouse").code, ERR_CLOSEDDISPDRAW);
}

TEST_F(InputCommands, EscapeQuitEndsAWaitEventRun) {
    ASSERT_EQ(Install({{"onkeydown", Handler()}}).code, 0);
    Press(KeyCode("ESC"));
    EXPECT_EQ(ActionOf(Wait()), "OnKeyDown") << "off by default";
    ASSERT_EQ(Call("EscapeQuit", {Num(1)}).code, 0);
    InputAt(NowMs() + 5, Key(KeyCode("ESC"), true));
    const CallResult r = Wait();
    EXPECT_TRUE(r.aborted);
    EXPECT_TRUE(r.results.empty());
    ASSERT_EQ(Call("EscapeQuit", {Num(0)}).code, 0);
}

TEST_F(InputCommands, TheEventTimeOutDropsOlderEvents) {
    ASSERT_EQ(Call("SetEventTimeout", {Num(100)}).code, 0);
    Press('x');
    Advance(150);
    EXPECT_FALSE(QueueHolds()) << "150 ms old";
    Press('y');
    Advance(50);
    EXPECT_EQ(ActionOf(Check()), "OnKeyDown") << "50 ms old";
    ASSERT_EQ(Call("SetEventTimeout", {Num(1500)}).code, 0);
}

TEST_F(InputCommands, FreeEventCacheEmptiesTheQueue) {
    Press('x');
    Input(Button(0, true));
    Pump();
    ASSERT_EQ(Call("FreeEventCache").code, 0);
    EXPECT_FALSE(QueueHolds());
}

}  // namespace
}  // namespace qv::testing
