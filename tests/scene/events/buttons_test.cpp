// Buttons on a display's picture through the dispatcher's click and hover passes: which
// button a click or a movement reaches, the handlers' order, buttons freed and replaced from
// inside handlers, the letterbox, the errors of the commands and DumpButtons' listing.
#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "platform/linux/memory.h"
#include "scene/events/buttons.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_library.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

HostEvent Button(int button, bool down, int32_t x, int32_t y) {
    HostEvent e{};
    e.kind = HostEventKind::kButton, e.button = button, e.down = down, e.x = x, e.y = y;
    return e;
}

HostEvent Motion(int32_t x, int32_t y) {
    HostEvent e{};
    e.kind = HostEventKind::kMotion, e.x = x, e.y = y;
    return e;
}

double Number(const CallResult& r, const char* field) {
    const Value* v = r.results.empty() ? nullptr : r.results[0].Field(field);
    return v != nullptr && v->type == VM_TNUMBER ? v->number : -999;
}

class Buttons : public EventFixture {
protected:
    // A rectangle button with these handler fields.
    CallResult Make(Arg id, int32_t x, int32_t y, int32_t width, int32_t height,
                    std::vector<std::pair<std::string, Arg>> handlers) {
        std::vector<std::pair<Arg, Arg>> fields;
        for (auto& [name, value] : handlers) fields.emplace_back(Str(name), std::move(value));
        return Call("MakeButton", {std::move(id), Num(QV_SIMPLEBUTTON), Num(x), Num(y), Num(width),
                                   Num(height), Table(std::move(fields))});
    }
    // A click (press and release) at window point (x, y), pumped.
    void Click(int32_t x, int32_t y, int button = 0) {
        Input(Button(button, true, x, y));
        Input(Button(button, false, x, y));
        Pump();
    }
    void MoveTo(int32_t x, int32_t y, FakeDisplay* target = nullptr) {
        Input(Motion(x, y), target);
        Pump();
    }
    // Runs what is pending; the trace tells what ran.
    void Drain() {
        for (int i = 0; i < 20 && Number(Check(), "triggered") == 1; ++i) {
        }
    }
    qvBGPicButton* Head() { return display->picture.buttons; }
};

TEST_F(Buttons, AClickReachesTheNewestButtonItHitsAndNoButtonBelowIt) {
    ASSERT_EQ(Make(Num(1), 0, 0, 100, 100, {{"onmousedown", Handler()}}).code, 0);
    ASSERT_EQ(Make(Num(2), 50, 50, 100, 100, {{"onmouseup", Handler()}}).code, 0);
    Click(10, 10);
    Click(60, 60);  // button 2 has no "onmousedown": button 1 below it gets nothing either
    Drain();
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseDown 1 -", "OnMouseUp 2 -"}));
}

// Fifty overlapping buttons, three disabled where the hits straddle the groups the click
// pass tests together: every click reaches the newest enabled button under it, edges
// included, and a row below them reaches none.
TEST_F(Buttons, AClickAmongManyOverlappingButtonsReachesTheNewestEnabledHit) {
    constexpr int kCount = 50, kStep = 10, kWidth = 25;
    for (int id = 1; id <= kCount; ++id) {
        ASSERT_EQ(Make(Num(id), id * kStep, 0, kWidth, 10, {{"onmousedown", Handler()}}).code, 0);
    }
    const std::vector<int> disabled = {18, 34, 35};
    for (int id : disabled) ASSERT_EQ(Call("DisableButton", {Num(id)}).code, 0);
    std::vector<std::string> expected;
    for (int32_t x = 0; x < (kCount + 4) * kStep; ++x) {
        for (int32_t y : {9, 10}) {
            Click(x, y);
            Drain();
            for (int id = kCount; id >= 1 && y < 10; --id) {
                const bool off = std::find(disabled.begin(), disabled.end(), id) != disabled.end();
                if (off || x < id * kStep || x >= id * kStep + kWidth) continue;
                expected.push_back("OnMouseDown " + std::to_string(id) + " -");
                break;
            }
        }
    }
    EXPECT_EQ(trace, expected);
}

TEST_F(Buttons, AOnePixelButtonIsHitOnItsOwnColumnOnly) {
    ASSERT_EQ(Make(Num(1), 10, 10, 1, 1, {{"onmousedown", Handler()}}).code, 0);
    for (int32_t x : {9, 10, 11}) Click(x, 10);
    Drain();
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseDown 1 -"}));
}

TEST_F(Buttons, AReleaseOutsideForgetsThePressWithoutOnMouseUp) {
    ASSERT_EQ(
        Make(Num(1), 0, 0, 20, 20, {{"onmousedown", Handler()}, {"onmouseup", Handler()}}).code, 0);
    Input(Button(0, true, 5, 5));
    Input(Button(0, false, 50, 50));
    Input(Button(0, false, 5, 5));  // a release inside without a press
    Pump();
    Drain();
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseDown 1 -"}));
    EXPECT_EQ(Head()->pressed[0], 0);
}

TEST_F(Buttons, TheMessageTableDescribesTheButtonAndItsPress) {
    ASSERT_EQ(Make(Num(4), 10, 20, 30, 40, {{"onrightmousedown", Handler()}}).code, 0);
    Input(Button(1, true, 15, 25));
    Pump();
    const CallResult r = Wait();
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(ActionOf(r), "OnRightMouseDown");
    const std::vector<std::pair<const char*, double>> expected = {
        {"id", 4},        {"x", 10},      {"y", 20},           {"width", 30},        {"height", 40},
        {"mousedown", 0}, {"display", 1}, {"midmousedown", 0}, {"rightmousedown", 1}};
    for (auto [field, value] : expected) EXPECT_EQ(Number(r, field), value) << field;
}

TEST_F(Buttons, TheDisplaysHandlerRunsFirstAndTheButtonsOnTheNextCall) {
    ASSERT_EQ(Install({{"onmousedown", Handler()}}).code, 0);
    ASSERT_EQ(Make(Num(3), 0, 0, 50, 50, {{"onmousedown", Handler()}}).code, 0);
    Input(Button(0, true, 5, 5));
    Pump();
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseDown 1 -", "OnMouseDown 3 -"}));
}

TEST_F(Buttons, HoverGoesOutOfTheOldButtonFirstAndStaysWithAHeldButton) {
    for (auto [id, x] : {std::pair{1, 0}, std::pair{2, 100}}) {
        ASSERT_EQ(
            Make(Num(id), x, 0, 50, 50, {{"onmouseover", Handler()}, {"onmouseout", Handler()}})
                .code,
            0);
    }
    for (auto [x, press] :
         {std::pair{10, false}, {110, false}, {10, true}, {110, false}, {10, false}}) {
        if (press) Input(Button(0, true, x, 10));
        MoveTo(x, 10);
        Drain();
    }
    // Pressed on button 1, only button 1 is considered: button 2 keeps its hover unheard.
    EXPECT_EQ(trace,
              (std::vector<std::string>{"OnMouseOver 1 -", "OnMouseOut 1 -", "OnMouseOver 2 -",
                                        "OnMouseOver 1 -", "OnMouseOut 1 -", "OnMouseOver 1 -"}))
        << "button 2 hears nothing while button 1 holds the press";
}

TEST_F(Buttons, ADisabledButtonKeepsItsHoverAndSendsNoOnMouseOut) {
    ASSERT_EQ(
        Make(Num(1), 0, 0, 50, 50, {{"onmouseover", Handler()}, {"onmouseout", Handler()}}).code,
        0);
    MoveTo(10, 10);
    Drain();
    ASSERT_EQ(Call("DisableButton", {Num(1)}).code, 0);
    MoveTo(200, 100);
    Drain();
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseOver 1 -"}));
    EXPECT_EQ(Head()->hover, 1);
    ASSERT_EQ(Call("EnableButton", {Num(1)}).code, 0);
    MoveTo(201, 100);
    Drain();
    EXPECT_EQ(trace.back(), "OnMouseOut 1 -");
}

TEST_F(Buttons, HandlersThatDeleteButtonsLetThePassGoOn) {
    FakeDisplay* second = displays.Add(2);
    // Display 1's button deletes itself and the other buttons of its picture.
    ASSERT_EQ(Make(Num(1), 0, 0, 50, 50, {{"onmouseout", Handler()}}).code, 0);
    ASSERT_EQ(Make(Num(2), 0, 0, 50, 50, {{"onmouseover", Handler([](qvVmState* S) {
                                               for (int id : {2, 1}) {
                                                   VmPushString(S, "deletebutton");
                                                   VmGetTable(S, VM_GLOBALSINDEX);
                                                   VmPushNumber(S, id);
                                                   EXPECT_EQ(VmPCall(S, 1, 0, 0), 0);
                                               }
                                               return 0;
                                           })}})
                  .code,
              0);
    displays.SetCurrent(second);
    ASSERT_EQ(Make(Num(7), 0, 0, 50, 50, {{"onmouseover", Handler()}}).code, 0);
    displays.SetCurrent(display);
    MoveTo(10, 10, display);
    MoveTo(10, 10, second);
    EXPECT_EQ(ActionOf(Wait()), "OnMouseOver");
    EXPECT_EQ(Head(), nullptr);
    EXPECT_EQ(ActionOf(Wait()), "OnMouseOver") << "the next display's pass follows";
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseOver 2 -", "OnMouseOver 7 -"}));
}

TEST_F(Buttons, ReplacingAButtonReleasesTheOldHandlers) {
    const int refs = LiveRefs();
    ASSERT_EQ(
        Make(Num(1), 0, 0, 10, 10, {{"onmousedown", Handler()}, {"onmouseup", Handler()}}).code, 0);
    EXPECT_EQ(LiveRefs(), refs + 2);
    ASSERT_EQ(Make(Num(1), 20, 0, 10, 10, {{"onmousedown", Handler()}}).code, 0);
    EXPECT_EQ(LiveRefs(), refs + 1);
    EXPECT_EQ(Head()->next, nullptr) << "one button of that id";
    EXPECT_EQ(Head()->x1, 20);
    ASSERT_EQ(Call("DeleteButton", {Num(1)}).code, 0);
    EXPECT_EQ(LiveRefs(), refs);
}

TEST_F(Buttons, AFailedMakeButtonKeepsTheOldButtonAndLeaksNothing) {
    ASSERT_EQ(Make(Num(1), 0, 0, 10, 10, {{"onmousedown", Handler()}}).code, 0);
    const int refs = LiveRefs();
    const auto unchanged = [&](const char* what) {
        SCOPED_TRACE(what);
        ASSERT_NE(Head(), nullptr);
        EXPECT_EQ(Head()->x2, 9);
        EXPECT_EQ(Head()->next, nullptr);
        EXPECT_EQ(LiveRefs(), refs);
    };
    EXPECT_EQ(Make(Num(1), 0, 0, 0, 10, {{"onmousedown", Handler()}}).code, ERR_WRONGUSAGE);
    unchanged("width 0");
    EXPECT_EQ(Make(Num(1), 0, 0, 20, 10, {}).code, ERR_WRONGUSAGE);
    unchanged("no handler");
    EXPECT_EQ(Make(Num(1), 0, 0, 20, 10, {{"onmousedown", Handler()}, {"onmouseup", Num(3)}}).code,
              ERR_FUNCEXPECTED);
    unchanged("a handler that is no function, after one that is");
    // Memory running out at each allocation in turn, until the call gets through.
    for (uint64_t n = 1; n < 200; ++n) {
        CallResult r;
        {
            AllocationFault fault(n, false);
            r = Make(Num(1), 0, 0, 20, 10, {{"onmousedown", Handler()}});
        }
        if (r.code == 0) break;
        EXPECT_EQ(r.code, ERR_MEM);
        unchanged(("allocation " + std::to_string(n)).c_str());
    }
    EXPECT_EQ(Head()->x2, 19) << "the call that got through replaced the button";
    EXPECT_EQ(LiveRefs(), refs);
}

TEST_F(Buttons, ALetterboxClickMissesColumnZeroWhileMouseXTruncates) {
    display->offsetX = 10, display->offsetY = 0;
    display->scale = 2.0;
    ASSERT_EQ(Make(Num(1), 0, 0, 5, 5, {{"onmousedown", Handler()}}).code, 0);
    Click(9, 4);  // half a picture pixel left of the picture
    Drain();
    EXPECT_TRUE(trace.empty());
    Click(10, 4);
    Drain();
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseDown 1 -"}));
    display->facts.mouseX = 9, display->facts.mouseY = 4;
    EXPECT_EQ(Call("MouseX").Number(), 0);
    EXPECT_EQ(Call("MouseY").Number(), 2);
}

TEST_F(Buttons, TheCommandsReportTheirErrors) {
    ASSERT_EQ(Make(Num(1), 0, 0, 10, 10, {{"onmousedown", Handler()}}).code, 0);
    const CallResult automatic = Make(Nil(), 0, 0, 10, 10, {{"onmousedown", Handler()}});
    ASSERT_EQ(automatic.results.size(), 1u);
    const Value handle = automatic.results[0];
    EXPECT_EQ(handle.type, VM_TLIGHTUSERDATA);

    const CallResult missing = Call("EnableButton", {Num(9)});
    EXPECT_EQ(missing.code, ERR_FINDBUTTON);
    EXPECT_EQ(missing.errorNumber, 9u);
    EXPECT_EQ(Call("DeleteButton", {LightUserdata(const_cast<CallResult*>(&missing))}).code,
              ERR_FINDARRAY);
    EXPECT_EQ(Call("DeleteButton", {LightUserdata(const_cast<void*>(handle.pointer))}).code, 0);
    EXPECT_EQ(Call("MakeButton", {Num(2), Num(QV_LAYERBUTTON), Num(1), Num(0), Num(0),
                                  Table({{Str("onmousedown"), Handler()}})})
                  .code,
              ERR_LAYERRANGE);
    EXPECT_EQ(Call("MakeButton", {Num(2), Num(5), Num(1), Num(0), Num(1), Num(1),
                                  Table({{Str("onmousedown"), Handler()}})})
                  .code,
              ERR_WRONGUSAGE);

    Head()->pressed[0] = 1;
    ASSERT_EQ(Call("EnableButton", {Num(1)}).code, 0);
    EXPECT_EQ(Head()->pressed[0], 0) << "enabling forgets a press";

    display->drawsIntoPicture = false;
    for (const char* command : {"EnableButton", "DisableButton", "DeleteButton"}) {
        EXPECT_EQ(Call(command, {Num(1)}).code, ERR_BGPICBUTTON) << command;
    }
    EXPECT_EQ(Make(Num(3), 0, 0, 10, 10, {{"onmousedown", Handler()}}).code, ERR_BGPICBUTTON);
    EXPECT_EQ(Call("DumpButtons").code, ERR_BGPICBUTTON);
}

TEST_F(Buttons, DumpButtonsListsTheButtonsNewestFirst) {
    ASSERT_EQ(Make(Num(1), 1, 2, 3, 4, {{"onmousedown", Handler()}}).code, 0);
    ASSERT_EQ(Make(Num(2), 10, 20, 5, 5, {{"onmouseup", Handler()}}).code, 0);
    ASSERT_EQ(Call("DumpButtons").code, 0);
    const std::string text =
        std::regex_replace(DebugText(), std::regex("\\(0x[0-9a-f]+\\)"), "(@)");
    EXPECT_EQ(text,
              "BUTTON SYSTEM INFO - BGPIC: 1 (@)\n"
              "sizeof(qvBGPicButton): 100\n"
              "Buttons: 2\n"
              "(1) Type: 0 - X1: 10 - Y1: 20 - X2: 14 - Y2: 24\n"
              "(2) Type: 0 - X1: 1 - Y1: 2 - X2: 3 - Y2: 5\n");
}

}  // namespace
}  // namespace qv::testing
