// The dispatcher's display sources over the real display records: windows of the headless back
// end opened by the display library, host input through the input pump, and handlers installed
// on the displays. Close requests with and without reporting, mouse and key input reaching a
// display's handlers, handlers that free their own display, the slots as the graphics
// library reads them, and a button on a display's picture.
#include <limits>
#include <string>
#include <vector>

#include "gfx/library/get_attribute.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/object_types.h"
#include "objects/object_neighbours.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/window.h"
#include "runtime/errors.h"
#include "runtime/event_queue.h"
#include "runtime/runtime_state.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"
#include "scene/display.h"
#include "scene/display_hosts.h"
#include "scene/display_library.h"
#include "scene/events/buttons.h"
#include "scene/events/dispatcher.h"
#include "scene/events/event_library.h"
#include "scene/events/event_neighbours.h"
#include "scene/events/event_slots.h"
#include "scene/layers/layer.h"
#include "scene/scene_neighbours.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

// The graphics library's neighbours as the player joins them.
class JoinedNeighbours final : public scene::SceneNeighbours,
                               public scene::DisplayNeighbours,
                               public objects::ObjectNeighbours,
                               public events::EventNeighbours {};

HostEvent Input(HostEventKind kind, bool down = true, int32_t x = 0, int32_t y = 0) {
    HostEvent e{};
    e.kind = kind, e.down = down, e.x = x, e.y = y;
    return e;
}

HostEvent Key(uint32_t code) {
    HostEvent e = Input(HostEventKind::kKey);
    e.key = code;
    return e;
}

double Triggered(const CallResult& r) {
    const Value* v = r.results.empty() ? nullptr : r.results[0].Field("triggered");
    return v != nullptr ? v->number : -1;
}

class DisplaySources : public EventClockFixture {
protected:
    DisplaySources()
        : EventClockFixture(OpenLibraries<RegisterGraphicsLibrary, RegisterDisplayLibrary,
                                          RegisterBGPicLibrary, RegisterEventLibrary>) {
        gfx::SetNeighbours(&neighbours_);
        RestartWindowNumbers();
        RemoveEvents(L, -1, 1);
        EXPECT_EQ(Call("CreateDisplay",
                       {Num(1), Table({{Str("width"), Num(64)}, {Str("height"), Num(48)}})})
                      .code,
                  0);
        EXPECT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
    }
    ~DisplaySources() override {
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        FreeGraphicsObjects(L);
        gfx::SetNeighbours(nullptr);
    }

    static qvDisplay* Display(uint32_t id) {
        qvDisplay* display = nullptr;
        FindDisplay({id, nullptr}, &display);
        return display;
    }
    // Another display (made with options), opened and current while its handlers are
    // installed; display 1 is current again afterwards.
    void OpenWithHandlers(uint32_t id, std::vector<std::pair<std::string, Arg>> handlers,
                          std::vector<std::pair<Arg, Arg>> options = {{Str("width"), Num(32)}}) {
        ASSERT_EQ(Call("CreateDisplay", {Num(id), Table(std::move(options))}).code, 0);
        ASSERT_EQ(Call("OpenDisplay", {Num(id)}).code, 0);
        ASSERT_EQ(Install(std::move(handlers)).code, 0);
        ASSERT_EQ(Call("SelectDisplay", {Num(1)}).code, 0);
    }
    // Host input for the display's window, released at once and pumped.
    void Send(HostEvent event, uint32_t id = 1) {
        InputAt(NowMs(), event, Display(id)->window);
        Pump();
    }
    // A handler that frees display id as FreeDisplay does.
    Arg Freeing(uint32_t id) {
        return Handler([id](qvVmState* S) {
            EXPECT_EQ(FreeDisplayById(S, {id, nullptr}), 0);
            return 0;
        });
    }

private:
    JoinedNeighbours neighbours_;
};

TEST_F(DisplaySources, ACloseRequestEndsTheProgramUnlessTheDisplayReportsIt) {
    const auto close = [this] {
        InputAt(NowMs(), Input(HostEventKind::kClose), Display(1)->window);
    };
    close();
    const CallResult unreported = Wait();
    EXPECT_TRUE(unreported.aborted) << "no closewindow handler: the program ends";
    EXPECT_TRUE(unreported.results.empty());

    ASSERT_EQ(Install({{"closewindow", Handler()}}).code, 0);
    EXPECT_EQ(Display(1)->closeReporting, 1);
    close();
    const CallResult reported = Wait();
    EXPECT_FALSE(reported.aborted);
    EXPECT_EQ(ActionOf(reported), "CloseWindow");
    EXPECT_EQ(trace, std::vector<std::string>{"CloseWindow 1 -"});

    ASSERT_EQ(Install({{"closewindow", Num(0)}}).code, 0);
    EXPECT_EQ(Display(1)->closeReporting, 0);
    close();
    EXPECT_TRUE(Wait().aborted);
}

TEST_F(DisplaySources, InputReachesTheHandlersOfItsDisplay) {
    ASSERT_EQ(
        Install({{"onmousedown", Handler()}, {"onkeydown", Handler()}, {"onmousemove", Handler()}})
            .code,
        0);
    EXPECT_NE(Display(1)->handlers[events::kOnKeyDown].function, -1);
    OpenWithHandlers(2, {{"onrightmouseup", Handler()}, {"onkeydown", Handler()}});

    HostEvent right = Input(HostEventKind::kButton, false, 3, 4);
    right.button = 1;
    Send(Input(HostEventKind::kButton, true, 5, 6));
    Send(Key('a'));
    Send(right, 2);
    Send(Key('b'), 2);
    Send(Input(HostEventKind::kMotion, true, 20, 30));
    const std::vector<std::string> actions = {"OnMouseMove", "OnMouseDown", "OnKeyDown",
                                              "OnRightMouseUp", "OnKeyDown"};
    std::vector<CallResult> results;
    for (const std::string& action : actions) {
        results.push_back(Wait());
        EXPECT_EQ(ActionOf(results.back()), action);
    }
    EXPECT_EQ(trace,
              (std::vector<std::string>{"OnMouseMove 1 -", "OnMouseDown 1 -", "OnKeyDown 1 -",
                                        "OnRightMouseUp 2 -", "OnKeyDown 2 -"}));
    EXPECT_EQ(results[0].results[0].Field("x")->number, 20);
    EXPECT_EQ(results[0].results[0].Field("y")->number, 30);
    EXPECT_EQ(results[2].results[0].Field("key")->text, "a");
    EXPECT_EQ(results[4].results[0].Field("key")->text, "b");
    EXPECT_EQ(Triggered(Check()), 0) << "nothing is left";
}

// Handlers get positions as the scaling engine maps the window: less the left and top
// letterbox strips, divided by the scale factors, truncated toward zero.
TEST_F(DisplaySources, PositionsReachHandlersInTheScaledDisplaysCoordinates) {
    // A 40 x 30 picture shown at 80 x 60 between 10-pixel strips of a 100 x 60 window, and an
    // 80 x 60 one at half its size.
    const auto open = [this](uint32_t id, int32_t width, int32_t scaleWidth, int32_t scaleHeight) {
        ASSERT_EQ(Call("CreateBGPic", {Num(id), Num(width), Num(width * 3 / 4)}).code, 0);
        OpenWithHandlers(id, {{"onmousemove", Handler()}, {"ondropfile", Handler()}},
                         {{Str("bgpic"), Num(id)},
                          {Str("scalemode"), Num(1)},
                          {Str("scalewidth"), Num(scaleWidth)},
                          {Str("scaleheight"), Num(scaleHeight)},
                          {Str("keepproportions"), Num(1)}});
    };
    open(2, 40, 100, 60);
    open(3, 80, 40, 30);
    ASSERT_EQ(Display(2)->settings.letterbox[0], 10);
    ASSERT_EQ(Display(3)->settings.scaleX, 0.5);

    struct Case {
        uint32_t display;
        int32_t x, y;
        double expectedX, expectedY;
    };
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    const Case cases[] = {
        {2, 31, 21, 10, 10},  // 10.5 each way
        {2, 9, 0, 0, 0},      // -0.5 on the left strip
        {2, 0, 59, -5, 29},   // nothing is clamped to the picture
        {3, 7, 3, 14, 6},
        {3, kMax, -kMax, kMax, -kMax - 1.0},  // beyond the coordinates: the nearest one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.display << ": " << c.x << "," << c.y);
        Send(Input(HostEventKind::kMotion, true, c.x, c.y), c.display);
        ASSERT_TRUE(
            platform::testing::InjectDrop(Display(c.display)->window->number, c.x, c.y, {"a"}));
        Pump();
        for (const char* action : {"OnMouseMove", "OnDropFile"}) {
            const CallResult r = Wait();
            ASSERT_EQ(ActionOf(r), action);
            EXPECT_EQ(r.results[0].Field("x")->number, c.expectedX);
            EXPECT_EQ(r.results[0].Field("y")->number, c.expectedY);
        }
        EXPECT_EQ(Triggered(Check()), 0) << "the cycle ends";
    }
}

TEST_F(DisplaySources, AHandlerMayFreeItsOwnDisplay) {
    ASSERT_EQ(Install({{"onkeydown", Handler()}, {"onmousemove", Handler()}}).code, 0);
    OpenWithHandlers(2, {{"onmousedown", Freeing(2)}});
    OpenWithHandlers(3, {{"onmousemove", Freeing(4)}});
    OpenWithHandlers(4, {{"onmousemove", Handler()}});
    OpenWithHandlers(5, {{"onmousemove", Handler()}});

    Send(Input(HostEventKind::kButton), 2);
    Send(Key('z'));
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    EXPECT_EQ(Display(2), nullptr);
    ASSERT_NE(events::EventState(), nullptr);
    EXPECT_EQ(events::EventState()->currentEvent.display, nullptr) << "the held event forgot it";
    EXPECT_EQ(ActionOf(Wait()), "OnKeyDown") << "the rest of the click is dropped";
    EXPECT_EQ(Triggered(Check()), 0) << "the cycle ends";

    // Display 3's handler frees display 4, where the mouse-move pass goes on; display 5 follows.
    Send(Input(HostEventKind::kMotion), 3);
    Send(Input(HostEventKind::kMotion), 4);
    Send(Input(HostEventKind::kMotion), 5);
    EXPECT_EQ(ActionOf(Wait()), "OnMouseMove");
    EXPECT_EQ(Display(4), nullptr);
    EXPECT_EQ(ActionOf(Wait()), "OnMouseMove");
    EXPECT_EQ(trace, (std::vector<std::string>{"OnMouseDown 2 -", "OnKeyDown 1 -",
                                               "OnMouseMove 3 -", "OnMouseMove 5 -"}));
}

TEST_F(DisplaySources, FreeingEveryDisplayForgetsTheHeldEvent) {
    ASSERT_EQ(Install({{"onmousedown", Handler()}}).code, 0);
    Send(Input(HostEventKind::kButton));
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    ASSERT_TRUE(events::EventState()->holdingEvent);
    CloseDisplayLibrary(L);
    EXPECT_EQ(events::EventState()->currentEvent.display, nullptr);
    EXPECT_EQ(Triggered(Check()), 0) << "the rest of the click is dropped";
}

TEST_F(DisplaySources, WaitEventNeedsAWindowOnTheCurrentDisplay) {
    ASSERT_EQ(Install({{"hidewindow", Handler()}}).code, 0);
    ASSERT_EQ(Call("HideDisplay").code, 0);
    EXPECT_EQ(ActionOf(Wait()), "HideWindow") << "a minimised display still waits";
    ASSERT_EQ(Call("ShowDisplay").code, 0);
    ASSERT_EQ(Call("CloseDisplay", {Num(1)}).code, 0);
    EXPECT_EQ(Wait().code, ERR_CLOSEDDISPDRAW);
}

TEST_F(DisplaySources, TheGraphicsLibraryReadsTheDisplaysSlots) {
    ASSERT_EQ(Install({{"onkeyup", Handler()}}, Num(42)).code, 0);
    const auto get = [this](const char* name, int32_t attribute) {
        return Call("GetAttribute", {Num(gfx::kTypeEventHandler), Str(name), Num(attribute)});
    };
    EXPECT_EQ(get("onkeyup", gfx::ATTRUSERDATA).Number(), 42);
    EXPECT_EQ(get("onkeydown", gfx::ATTRFUNCTION).Number(), 0);
}

TEST_F(DisplaySources, AButtonIsClickedOnTheDisplaysPictureAndGoesWithIt) {
    const int refs = LiveRefs();
    ASSERT_EQ(Call("MakeButton", {Num(1), Num(0), Num(0), Num(0), Num(10), Num(10),
                                  Table({{Str("onmousedown"), Handler()}})})
                  .code,
              0);
    Send(Input(HostEventKind::kButton, true, 5, 5));
    EXPECT_EQ(ActionOf(Wait()), "OnMouseDown");
    // At shutdown the displays go first; the pictures still take their buttons with them.
    CloseDisplayLibrary(L);
    FreeAllBGPics(L);
    EXPECT_EQ(LiveRefs(), refs);
}

// ResetKeyStates in a button's OnMouseDown handler forgets the press: the release of the same
// click reaches no OnMouseUp.
TEST_F(DisplaySources, ResetKeyStatesInOnMouseDownForgetsTheButtonsPress) {
    const Arg resetting = Handler([](qvVmState* S) {
        VmPushString(S, "resetkeystates");
        VmGetTable(S, VM_GLOBALSINDEX);
        VmCall(S, 0, 0);
        return 0;
    });
    ASSERT_EQ(Call("MakeButton",
                   {Num(1), Num(0), Num(0), Num(0), Num(10), Num(10),
                    Table({{Str("onmousedown"), resetting}, {Str("onmouseup"), Handler()}})})
                  .code,
              0);
    InputAt(NowMs(), Input(HostEventKind::kButton, true, 5, 5), Display(1)->window);
    InputAt(NowMs(), Input(HostEventKind::kButton, false, 5, 5), Display(1)->window);
    Pump();
    for (int i = 0; i < 4; ++i) Check();
    EXPECT_EQ(trace, std::vector<std::string>{"OnMouseDown 1 -"});
    EXPECT_EQ(Call("IsLeftMouse").Number(), 0);
}

// Buttons on scaled displays: the left strip of a letterboxed display lies before column 0;
// a layer-scaled display hits a layer button where its layer shows at the scale.
TEST_F(DisplaySources, ButtonsOnScaledDisplaysAreHitWhereTheWindowShowsThem) {
    const auto open = [this](uint32_t id, int32_t mode) {
        ASSERT_EQ(Call("CreateBGPic", {Num(id), Num(40), Num(30)}).code, 0);
        OpenWithHandlers(id, {},
                         {{Str("bgpic"), Num(id)},
                          {Str("scalemode"), Num(mode)},
                          {Str("scalewidth"), Num(100)},
                          {Str("scaleheight"), Num(60)},
                          {Str("keepproportions"), Num(1)}});
        ASSERT_EQ(Call("SelectDisplay", {Num(id)}).code, 0);
    };
    const auto clicked = [this](uint32_t id, int32_t x, int32_t y) {
        trace.clear();
        Send(Input(HostEventKind::kButton, true, x, y), id);
        for (int i = 0; i < 3 && trace.empty(); ++i) Check();
        return !trace.empty();
    };
    open(2, 1);
    ASSERT_EQ(Call("MakeButton", {Num(1), Num(0), Num(0), Num(0), Num(5), Num(5),
                                  Table({{Str("onmousedown"), Handler()}})})
                  .code,
              0);
    EXPECT_FALSE(clicked(2, 9, 4)) << "half a pixel left of column 0";
    EXPECT_TRUE(clicked(2, 10, 4));

    open(3, 2);
    qvDisplayBitMap* bitmap = AllocDisplayBitMap(4, 3);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, 6, 5, 4, 3, nullptr, nullptr, bitmap,
                            nullptr, nullptr, -1, QV_ADDLAYER_DISPLAYITEM),
              0);
    ASSERT_EQ(Call("MakeButton", {Num(2), Num(QV_LAYERBUTTON), Num(1), Num(0), Num(0),
                                  Table({{Str("onmousedown"), Handler()}})})
                  .code,
              0);
    // Picture (6, 5) to (9, 7) shows at window (22, 10) to (29, 15) after the 10-pixel strip.
    EXPECT_FALSE(clicked(3, 21, 12));
    EXPECT_TRUE(clicked(3, 22, 10));
    EXPECT_TRUE(clicked(3, 29, 15));
    EXPECT_FALSE(clicked(3, 30, 12));
    EXPECT_FALSE(clicked(3, 25, 16));
}

}  // namespace
}  // namespace qv::testing
