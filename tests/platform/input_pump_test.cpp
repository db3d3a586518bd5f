// The input pump over the headless back end: host events become queued run-time events of
// the display that owns the window, display states and requests through the display seam,
// and the ends of the program (close requests, Escape, a held left button).
#include <functional>
#include <random>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "runtime/display_input.h"
#include "runtime/event_queue.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "tests/platform/video_test_support.h"

namespace qv::testing {
namespace {

using platform::testing::InjectDrop;
using platform::testing::InjectHostEvent;

// A display record of the seam and what the pump did to it.
struct FakeDisplay {
    qvDisplayPrefix prefix{};
    bool reportsClose = false;
    bool primary = true;
    uint32_t flags = 0;
    bool keys[kKeyStateCount]{};
    bool buttons[3]{};
    int mouseMoves = 0;
    qvTimeVal mouseTime{};
    std::vector<std::pair<int32_t, int32_t>> resizes;
    bool iconified = false;
    int modeSwitches = 0;

    qvDisplay* Record() { return DisplayOfPrefix(&prefix); }
};

class FakeInput final : public DisplayInput {
public:
    static FakeDisplay& Of(const qvDisplay* d) {
        return *reinterpret_cast<FakeDisplay*>(const_cast<qvDisplay*>(d));
    }
    bool ReportsClose(const qvDisplay* d) override { return Of(d).reportsClose; }
    bool IsPrimary(const qvDisplay* d) override { return Of(d).primary; }
    uint32_t Flags(const qvDisplay* d) override { return Of(d).flags; }
    void SetKeyState(qvDisplay* d, uint32_t code, bool down) override {
        ASSERT_LT(code, kKeyStateCount);
        Of(d).keys[code] = down;
    }
    void SetButtonState(qvDisplay* d, MouseButton b, bool down) override {
        Of(d).buttons[int(b)] = down;
    }
    void MouseMoved(qvDisplay* d, const qvTimeVal& when) override {
        ++Of(d).mouseMoves;
        Of(d).mouseTime = when;
    }
    void RequestResize(qvDisplay* d, int32_t w, int32_t h) override {
        Of(d).resizes.emplace_back(w, h);
    }
    void SetIconified(qvDisplay* d, bool on) override { Of(d).iconified = on; }
    void RequestModeSwitch(qvDisplay* d) override { ++Of(d).modeSwitches; }
};

struct Queued {
    uint32_t type;
    qvDisplay* display;
    uint32_t x, y, down;
    uint32_t keyDown, keyQualifiers, keyCode;
};

class Pump : public HeadlessVideo {
protected:
    void SetUp() override {
        ResetRuntimeState();
        ASSERT_EQ(InitSupport(), 0);
        HeadlessVideo::SetUp();
        SetDisplayInput(&input_);
        window_ = Open(0, 0, 200, 100, QV_WINDOW_SIZEABLE, display_.Record());
    }
    void TearDown() override {
        SetDisplayInput(nullptr);
        ResetInputPump();
        SetLeftMouseQuits(false);
        SetEscapeQuits(false);
        HeadlessVideo::TearDown();
        FreeSupport();
        ResetRuntimeState();
    }

    static HostEvent Event(HostEventKind kind, uint32_t window = 1) {
        HostEvent e{};
        e.kind = kind;
        e.window = window;
        return e;
    }
    static HostEvent Key(uint32_t key, bool down, bool capsLock = false) {
        HostEvent e = Event(HostEventKind::kKey);
        e.key = key, e.down = down, e.capsLock = capsLock;
        return e;
    }
    static void Inject(const HostEvent& e) { ASSERT_TRUE(InjectHostEvent(e)); }
    static bool Aborted() { return Runtime().abortFlag.load() != 0; }

    // Runs the pump once and takes everything it queued.
    std::vector<Queued> PumpAndTake(int expectedResult = 0) {
        EXPECT_EQ(PumpEvents(nullptr), expectedResult);
        std::vector<Queued> out;
        qvInputEvent e{};
        for (int i = 0; (i = GetEvent(nullptr, i, &e, 0)) != 0;) {
            out.push_back(
                {e.type, e.display, e.x, e.y, e.down, e.keyDown, e.keyQualifiers, e.keyCode});
            if (e.type == QV_EVENT_DROPFILES) lastDrop_ = Names(static_cast<const char*>(e.extra));
            e = {};
        }
        RemoveEvents(nullptr, -1, 1);
        return out;
    }
    static std::vector<std::string> Names(const char* list) {
        std::vector<std::string> names;
        for (; list != nullptr && *list != '\0'; list += names.back().size() + 1) {
            names.emplace_back(list);
        }
        return names;
    }
    std::vector<uint32_t> KeyCodes() {
        std::vector<uint32_t> codes;
        for (const Queued& q : PumpAndTake()) {
            if (q.type == QV_EVENT_KEY && q.keyDown == 1) codes.push_back(q.keyCode);
        }
        return codes;
    }

    FakeDisplay display_;
    FakeInput input_;
    qvPlatformDisplay* window_ = nullptr;
    std::vector<std::string> lastDrop_;
};

TEST_F(Pump, EveryHostEventBecomesItsQueuedEvent) {
    window_->dropTarget = window_->clipboardReports = true;
    display_.reportsClose = true;
    struct Case {
        HostEvent event;
        uint32_t type;
        uint32_t x, y, down;
    };
    auto with = [](HostEvent e, int32_t x, int32_t y, bool down, int32_t button = 0) {
        e.x = x, e.y = y, e.down = down, e.button = button;
        return e;
    };
    const Case cases[] = {
        {with(Event(HostEventKind::kButton), 10, 20, true), QV_EVENT_LEFTMOUSE, 10, 20, 1},
        {with(Event(HostEventKind::kButton), 11, 21, false), QV_EVENT_LEFTMOUSE, 11, 21, 0},
        {with(Event(HostEventKind::kButton), 1, 2, true, 1), QV_EVENT_RIGHTMOUSE, 1, 2, 1},
        {with(Event(HostEventKind::kButton), 3, 4, true, 2), QV_EVENT_MIDMOUSE, 3, 4, 1},
        {with(Event(HostEventKind::kWheel), 5, 5, false), 11, 0, 0, 0},
        {with(Event(HostEventKind::kWheel), 5, 5, true), 12, 0, 0, 0},
        {with(Event(HostEventKind::kMoved), 40, 50, false), 4, 0, 0, 0},
        {with(Event(HostEventKind::kResized), 300, 200, false), QV_EVENT_SIZEWINDOW, 0, 0, 0},
        {with(Event(HostEventKind::kFocus), 0, 0, false), 6, 0, 0, 0},
        {with(Event(HostEventKind::kClose), 0, 0, false), 7, 0, 0, 0},
        {with(Event(HostEventKind::kFocus), 0, 0, true), 8, 0, 0, 0},
        {with(Event(HostEventKind::kIconify), 0, 0, true), 9, 0, 0, 0},
        {with(Event(HostEventKind::kIconify), 0, 0, false), 10, 0, 0, 0},
        {with(Event(HostEventKind::kClipboard), 0, 0, false), 15, 0, 0, 0},
    };
    for (const Case& c : cases) Inject(c.event);
    ASSERT_TRUE(InjectDrop(1, 7, 8, {"/a/b.png", "c"}));
    const std::vector<Queued> queued = PumpAndTake();
    ASSERT_EQ(queued.size(), std::size(cases) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(queued[i].type, cases[i].type);
        EXPECT_EQ(queued[i].display, display_.Record());
        EXPECT_EQ(queued[i].x, cases[i].x);
        EXPECT_EQ(queued[i].y, cases[i].y);
        EXPECT_EQ(queued[i].down, cases[i].down);
    }
    EXPECT_EQ(queued.back().type, QV_EVENT_DROPFILES);
    EXPECT_EQ(queued.back().x, 7u);
    EXPECT_EQ(queued.back().y, 8u);
    EXPECT_EQ(lastDrop_, (std::vector<std::string>{"/a/b.png", "c"}));

    // What the display side was told on the way.
    EXPECT_TRUE(display_.buttons[2]);
    EXPECT_TRUE(display_.buttons[1]);
    EXPECT_FALSE(display_.buttons[0]);
    EXPECT_EQ(display_.resizes, (std::vector<std::pair<int32_t, int32_t>>{{300, 200}}));
    EXPECT_FALSE(display_.iconified);
    EXPECT_EQ(window_->x, 40) << "the window's outer position follows the desktop";
    EXPECT_EQ(window_->y, 50);
    EXPECT_FALSE(Aborted());
}

TEST_F(Pump, EventsOfUnknownOrUnownedWindowsAndUnwantedReportsAreDropped) {
    qvPlatformDisplay* unowned = Open(0, 0, 10, 10);  // number 2, no display
    HostEvent button = Event(HostEventKind::kButton);
    button.down = true;
    for (uint32_t window : {0u, 2u, 99u}) {
        button.window = window;
        Inject(button);
    }
    Inject(Event(HostEventKind::kClipboard));  // no clipboard reports
    Inject(Event(HostEventKind::kResized));    // not sizeable
    window_->flags = 0;
    ASSERT_TRUE(InjectDrop(1, 0, 0, {"x"}));  // no drop target: the names are freed
    ASSERT_TRUE(InjectDrop(unowned->number, 0, 0, {"y"}));
    ASSERT_TRUE(InjectDrop(42, 0, 0, {"z"}));
    EXPECT_TRUE(PumpAndTake().empty());
    EXPECT_TRUE(display_.resizes.empty());

    // Without a display side installed, nothing is queued either.
    SetDisplayInput(nullptr);
    button.window = 1;
    Inject(button);
    EXPECT_TRUE(PumpAndTake().empty());
    EXPECT_FALSE(display_.buttons[0]);
}

TEST_F(Pump, ACloseRequestIsQueuedOrEndsTheProgram) {
    display_.reportsClose = true;
    Inject(Event(HostEventKind::kClose));
    const std::vector<Queued> reported = PumpAndTake();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].type, 7u);
    EXPECT_FALSE(Aborted());

    display_.reportsClose = false;
    Inject(Event(HostEventKind::kClose));
    Inject(Key('x', true));
    EXPECT_TRUE(PumpAndTake(1).empty());
    EXPECT_TRUE(Aborted());
    // Once set, the flag alone ends every pass.
    EXPECT_EQ(PumpEvents(nullptr), 1);
}

TEST_F(Pump, EscapeAndAHeldLeftButtonEndTheProgramOnlyWhenAsked) {
    struct Case {
        const char* name;
        std::function<void()> option;
        std::vector<HostEvent> events;
    };
    HostEvent left = Event(HostEventKind::kButton);
    left.down = true;
    const Case cases[] = {
        {"escape", [] { SetEscapeQuits(true); }, {Key(KeyCode("ESC"), true)}},
        {"left held", [] { SetLeftMouseQuits(true); }, {left}},
        {"left held before the option", [] { SetLeftMouseQuits(true); }, {}},
    };
    // Without the options both are plain input.
    Inject(Key(KeyCode("ESC"), true));
    Inject(left);
    EXPECT_EQ(PumpAndTake().size(), 2u);
    EXPECT_FALSE(Aborted());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Runtime().abortFlag.store(0);
        c.option();
        for (const HostEvent& e : c.events) Inject(e);
        PumpAndTake(1);
        EXPECT_TRUE(Aborted());
        SetEscapeQuits(false);
        SetLeftMouseQuits(false);
    }
    // A released button ends nothing.
    Runtime().abortFlag.store(0);
    SetLeftMouseQuits(true);
    left.down = false;
    Inject(left);
    PumpAndTake(0);
}

TEST_F(Pump, KeysMapThroughTheTableAndTheLayout) {
    for (int row = kFirstKeyRow; row <= kLastSpecialKeyRow; ++row) {
        Inject(Key(kKeyTable[row].code, true));
    }
    std::vector<uint32_t> expected;
    for (int row = kFirstKeyRow; row <= kLastSpecialKeyRow; ++row) {
        expected.push_back(kKeyTable[row].code);
    }
    EXPECT_EQ(KeyCodes(), expected);
    EXPECT_TRUE(display_.keys[KeyCode("F16")]);

    struct Case {
        std::vector<HostEvent> events;
        std::vector<uint32_t> codes;
    };
    const Case cases[] = {
        {{Key('a', true)}, {'a'}},
        {{Key(KeyCode("LSHIFT"), true), Key('a', true), Key(0xE9, true),
          Key(KeyCode("LSHIFT"), false), Key('a', true)},
         {'A', 0xC9, 'a'}},
        {{Key('q', true, true), Key('1', true, true), Key(0xF7, true, true)}, {'Q', '1', 0xF7}},
        {{Key(KeyCode("RSHIFT"), true), Key(KeyCode("UP"), true), Key(KeyCode("RSHIFT"), false)},
         {KeyCode("UP")}},
        {{Key(300, true), Key(0xFFFF, true), Key(0x7FFFFFFF, true), Key(0, true),
          Key(0x80000001, true), Key(299, true)},
         {299}},
    };
    for (const Case& c : cases) {
        for (const HostEvent& e : c.events) Inject(e);
        EXPECT_EQ(KeyCodes(), c.codes);
    }
    // Key ups clear the state and are queued with keyDown 0.
    Inject(Key('b', true));
    Inject(Key('b', false));
    const std::vector<Queued> both = PumpAndTake();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[1].keyDown, 0u);
    EXPECT_EQ(both[1].keyCode, uint32_t('b'));
    EXPECT_FALSE(display_.keys['b']);
}

TEST_F(Pump, QualifierKeysQueueNothingAndMakeTheQualifierWord) {
    EXPECT_EQ(GetQualifierFlags(), 0u);
    Inject(Key(KeyCode("LCONTROL"), true));
    Inject(Key(KeyCode("RALT"), true));
    EXPECT_TRUE(PumpAndTake().empty());
    EXPECT_EQ(GetQualifierFlags(), 0x80480000u);
    Inject(Key('k', true));
    const std::vector<Queued> k = PumpAndTake();
    ASSERT_EQ(k.size(), 1u);
    EXPECT_EQ(k[0].keyQualifiers, 0x80480000u);
    Inject(Key(KeyCode("LCONTROL"), false));
    Inject(Key(KeyCode("LCONTROL"), false));  // a second release changes nothing
    PumpAndTake();
    EXPECT_EQ(GetQualifierFlags(), 0x80080000u);
    Inject(Key(KeyCode("RALT"), false));
    PumpAndTake();
    EXPECT_EQ(GetQualifierFlags(), 0u);
    // A requester had the input: what was held is forgotten.
    Inject(Key(KeyCode("LSHIFT"), true));
    PumpAndTake();
    ResetDisplayInput(nullptr);
    EXPECT_EQ(GetQualifierFlags(), 0u);
}

TEST_F(Pump, TheModeSwitchHotkeyOnlyOnThePrimaryDisplayWithoutNoModeSwitch) {
    struct Case {
        bool primary;
        uint32_t flags;
        uint32_t enter;
        bool switches;
    };
    for (const Case& c : {Case{true, 0, KeyCode("RETURN"), true},
                          {true, 0, KeyCode("ENTER"), true},
                          {false, 0, KeyCode("RETURN"), false},
                          {true, 0x8, KeyCode("RETURN"), false}}) {
        SCOPED_TRACE(std::to_string(c.primary) + " " + std::to_string(c.flags));
        display_.primary = c.primary;
        display_.flags = c.flags;
        display_.modeSwitches = 0;
        Inject(Key(KeyCode("LALT"), true));
        Inject(Key(c.enter, true));
        Inject(Key(KeyCode("LALT"), false));
        const std::vector<Queued> queued = PumpAndTake();
        ASSERT_EQ(queued.size(), 1u);
        EXPECT_EQ(display_.modeSwitches, c.switches ? 1 : 0);
        // Refused, the keys are plain input.
        EXPECT_EQ(queued[0].type, c.switches ? 13u : uint32_t(QV_EVENT_KEY));
    }
    // Enter without Alt is a key.
    display_.primary = true, display_.flags = 0;
    Inject(Key(KeyCode("RETURN"), true));
    EXPECT_EQ(KeyCodes(), std::vector<uint32_t>{KeyCode("RETURN")});
}

TEST_F(Pump, AMouseMoveSetsTheFlagAndTimeAndQueuesNothing) {
    VirtualClock clock(7250000);
    HostEvent move = Event(HostEventKind::kMotion);
    move.x = 33, move.y = 44;
    Inject(move);
    EXPECT_TRUE(PumpAndTake().empty());
    EXPECT_EQ(display_.mouseMoves, 1);
    EXPECT_EQ(display_.mouseTime.seconds, 7u);
    EXPECT_EQ(display_.mouseTime.microseconds, 250000u);
    EXPECT_EQ(window_->pointer.mouseX, 33);
    EXPECT_EQ(window_->pointer.mouseY, 44);
}

TEST_F(Pump, DropListsBelongToTheQueueOrAreFreed) {
    window_->dropTarget = true;
    ASSERT_TRUE(InjectDrop(1, 1, 2, {}));
    PumpAndTake();
    EXPECT_TRUE(lastDrop_.empty()) << "an empty drop is one empty name";
    // A full queue refuses the post; the pump frees the names (LeakSanitizer checks).
    HostEvent clip = Event(HostEventKind::kFocus);
    for (int i = 0; i < kEventQueueSize; ++i) Inject(clip);
    ASSERT_TRUE(InjectDrop(1, 1, 2, {"lost"}));
    const uint64_t live = GetMemoryStats().liveBlocks;
    EXPECT_EQ(PumpEvents(nullptr), 0);
    EXPECT_EQ(GetMemoryStats().liveBlocks, live - 1);
    RemoveEvents(nullptr, -1, 1);
}

TEST_F(Pump, APassPresentsAndClearsTheInputDueWord) {
    const uint64_t presents = PresentCount();
    InputDue().store(1);
    EXPECT_EQ(PumpEvents(nullptr), 0);
    EXPECT_EQ(InputDue().load(), 0u);
    EXPECT_EQ(PresentCount(), presents + 1);
}

TEST_F(Pump, TwoThousandRandomEventsNeverBreakIt) {
    display_.reportsClose = true;
    window_->dropTarget = window_->clipboardReports = true;
    qvPlatformDisplay* closed = Open(0, 0, 10, 10);
    const uint32_t closedNumber = closed->number;
    CloseDisplayWindow(closed);
    std::mt19937 random(20240611);
    const uint32_t windows[] = {1, 0, closedNumber, 77};
    auto any = [&](int32_t low, int32_t high) {
        return std::uniform_int_distribution<int32_t>(low, high)(random);
    };
    int queuedKeys = 0;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 100; ++i) {
            HostEvent e{};
            e.kind = HostEventKind(any(0, int(HostEventKind::kClipboard)));
            e.window = windows[any(0, 3)];
            e.x = any(INT32_MIN, INT32_MAX), e.y = any(-5, 5000);
            e.button = any(-2, 4);
            e.down = any(0, 1) != 0;
            e.key = uint32_t(any(INT32_MIN, INT32_MAX));
            if (any(0, 1) != 0) e.key &= 0x1FF;
            e.capsLock = any(0, 1) != 0;
            if (e.kind == HostEventKind::kDrop) {
                ASSERT_TRUE(InjectDrop(e.window, e.x, e.y, {"f"}));
            } else {
                Inject(e);
            }
        }
        for (const Queued& q : PumpAndTake()) {
            EXPECT_EQ(q.display, display_.Record());
            if (q.type != QV_EVENT_KEY) continue;
            ++queuedKeys;
            EXPECT_LT(q.keyCode, kKeyStateCount);
            EXPECT_NE(q.keyCode, 0u);
        }
        Runtime().abortFlag.store(0);
    }
    EXPECT_GT(queuedKeys, 0);
}

// A window the program minimised (IconifyDisplay) and the desktop's confirmation of it: the
// display side posted its own event, so the pump posts none; a restore by the user does.
TEST_F(Pump, AMinimisingTheProgramAskedForIsNotReportedAgain) {
    ASSERT_EQ(IconifyDisplay(window_, 1), 0);
    HostEvent e = Event(HostEventKind::kIconify);
    e.down = true;
    Inject(e);
    EXPECT_TRUE(PumpAndTake().empty());
    e.down = false;
    Inject(e);
    const std::vector<Queued> queued = PumpAndTake();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].type, 10u);
    EXPECT_FALSE(display_.iconified);
}

}  // namespace
}  // namespace qv::testing
