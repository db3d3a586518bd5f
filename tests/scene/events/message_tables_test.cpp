// The message tables that handlers get and the result tables of CheckEvent, field by field in
// the order a traversal with next() visits them: scripts that walk a message see its fields
// in that order, so the order is part of what they observe.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/video/headless.h"
#include "scene/events/buttons.h"
#include "scene/events/event_library.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

// "key=value" for each field of the table at idx, in traversal order.
std::string Traversal(qvVmState* L, int idx) {
    std::string text;
    VmPushNil(L);
    while (VmNext(L, idx) != 0) {
        if (!text.empty()) text += ' ';
        text += VmToString(L, -2);
        text += '=';
        switch (VmType(L, -1)) {
            case VM_TNUMBER: {
                char number[32];
                std::snprintf(number, sizeof number, "%g", VmToNumber(L, -1));
                text += number;
                break;
            }
            case VM_TSTRING:
                text += '"' + std::string(VmToString(L, -1), VmStrLen(L, -1)) + '"';
                break;
            case VM_TTABLE:
                text += "table";
                break;
            default:
                text += "?";
        }
        VmSetTop(L, -2);
    }
    return text;
}

std::string Traversal(const Value& table) {
    std::string text;
    for (const auto& [key, value] : table.entries) {
        if (!text.empty()) text += ' ';
        text += key.text + '=';
        if (value.type == VM_TNUMBER) {
            char number[32];
            std::snprintf(number, sizeof number, "%g", value.number);
            text += number;
        } else if (value.type == VM_TSTRING) {
            text += '"' + value.text + '"';
        } else {
            text += value.type == VM_TTABLE ? "table" : "?";
        }
    }
    return text;
}

HostEvent Host(HostEventKind kind, bool down, uint32_t key = 0, int32_t x = 0, int32_t y = 0) {
    HostEvent e{};
    e.kind = kind, e.down = down, e.key = key, e.x = x, e.y = y;
    return e;
}

class MessageTables : public EventFixture {
protected:
    // A handler that records its message's traversal and returns two results.
    Arg Recorder() {
        return Native([this](qvVmState* S) {
            seen = Traversal(S, 1);
            VmPushString(S, "r");
            VmPushNumber(S, 7);
            return 2;
        });
    }
    std::string seen;
};

TEST_F(MessageTables, FieldsAreVisitedInTheOrderScriptsHaveAlwaysSeen) {
    struct Case {
        const char* what;
        std::function<void()> cause;  // installs the handler and makes its event happen
        const char* message;          // the handler's table
        const char* result;           // CheckEvent's table
    };
    const Case cases[] = {
        {"key down with user data",
         [&] {
             ASSERT_EQ(Install({{"onkeydown", Recorder()}}, Str("ud")).code, 0);
             Input(Host(HostEventKind::kKey, true, 'a'));
         },
         R"(action="OnKeyDown" id=1 userdata="ud" key="a")",
         R"(triggered=1 action="OnKeyDown" userdata="ud" id=1 key="a" nresults=2 results=table)"},
        {"key up",
         [&] {
             ASSERT_EQ(Install({{"onkeyup", Recorder()}}).code, 0);
             Input(Host(HostEventKind::kKey, false, 'b'));
         },
         R"(action="OnKeyUp" id=1 key="b")",
         R"(action="OnKeyUp" triggered=1 id=1 key="b" nresults=2 results=table)"},
        {"button press",
         [&] {
             ASSERT_EQ(
                 Call("MakeButton", {Num(3), Num(QV_SIMPLEBUTTON), Num(0), Num(0), Num(9), Num(8),
                                     Table({{Str("onmousedown"), Recorder()}}), Str("bu")})
                     .code,
                 0);
             Input(Host(HostEventKind::kButton, true, 0, 2, 2));
         },
         R"(action="OnMouseDown" id=3 midmousedown=0 width=9 y=0 x=0 userdata="bu" height=8 )"
         R"(display=1 rightmousedown=0 mousedown=1)",
         R"(action="OnMouseDown" triggered=1 id=3 rightmousedown=0 midmousedown=0 width=9 y=0 )"
         R"(x=0 userdata="bu" mousedown=1 height=8 display=1 nresults=2 results=table)"},
        {"window moved",
         [&] {
             ASSERT_EQ(Install({{"movewindow", Recorder()}}).code, 0);
             display->facts.x = 70, display->facts.y = 80;
             Input(Host(HostEventKind::kMoved, false, 0, 70, 80));
         },
         R"(y=80 x=70 action="MoveWindow" id=1)",
         R"(y=80 x=70 action="MoveWindow" id=1 triggered=1 nresults=2 results=table)"},
        {"files dropped",
         [&] {
             ASSERT_EQ(Install({{"ondropfile", Recorder()}}).code, 0);
             ASSERT_TRUE(platform::testing::InjectDrop(display->window->number, 12, 34, {"a.txt"}));
         },
         R"(y=34 x=12 action="OnDropFile" numdropfiles=1 id=1 dropfiles=table)",
         R"(action="OnDropFile" id=1 dropfiles=table y=34 x=12 numdropfiles=1 triggered=1 )"
         R"(nresults=2 results=table)"},
        {"interval",
         [&] {
             ASSERT_EQ(Call("SetInterval", {Num(5), Recorder(), Num(10), Str("iv")}).code, 0);
             Advance(10);
         },
         R"(action="Interval" id=5 userdata="iv")",
         R"(action="Interval" triggered=1 id=5 userdata="iv" nresults=2 results=table)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        seen.clear();
        VmCollectGarbage(L);  // the names the tables are made of outlive collections
        c.cause();
        Pump();
        const CallResult r = Check();
        ASSERT_EQ(r.code, 0);
        ASSERT_EQ(r.results.size(), 1u);
        EXPECT_EQ(seen, c.message);
        EXPECT_EQ(Traversal(r.results[0]), c.result);
    }
}

// The fields CheckEvent adds after the call are assignments: a metatable the handler gave its
// message catches the new ones.
std::vector<std::string> caught;

TEST_F(MessageTables, AHandlersMetatableCatchesTheFieldsAddedAfterTheCall) {
    caught.clear();
    const Arg handler = Native([](qvVmState* S) {
        VmNewTable(S);
        VmPushString(S, "__newindex");
        VmPushCClosure(
            S,
            [](qvVmState* T) {
                caught.emplace_back(VmToString(T, 2));
                return 0;
            },
            0);
        VmRawSet(S, -3);
        VmSetMetatable(S, 1);
        return 0;
    });
    ASSERT_EQ(Install({{"onkeydown", handler}}).code, 0);
    Input(Host(HostEventKind::kKey, true, 'c'));
    Pump();
    const CallResult r = Check();
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(caught, (std::vector<std::string>{"nresults", "triggered"}));
    EXPECT_EQ(Traversal(r.results[0]), R"(action="OnKeyDown" id=1 key="c")");
}

TEST_F(MessageTables, TheResultOfACallThatRanNothingHasItsFourFields) {
    const CallResult r = Check();
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(Traversal(r.results[0]), R"(action="" triggered=0 nresults=0 id=0)");
}

}  // namespace
}  // namespace qv::testing
