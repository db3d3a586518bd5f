// Memory running out at each allocation of SetInterval, InstallEventHandler and a handler's
// call gives ERR_MEM and leaves no record, timer entry or registry reference behind; and a
// wait that nothing could end fails through the wait's seam instead of hanging.
#include <string>

#include "platform/linux/memory.h"
#include "platform/linux/timers.h"
#include "platform/linux/video/headless.h"
#include "runtime/runtime_state.h"
#include "scene/events/event_slots.h"
#include "scene/events/intervals.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

// Allocations beyond the last one a call makes succeed; the sweep stops there.
constexpr uint64_t kMaxFaults = 400;

class Allocation : public EventFixture {
protected:
    // After prepare, calls run with allocation n = 1, 2, ... failing until it succeeds; each
    // failing run must give ERR_MEM and pass check. Returns the number of failing runs.
    template <typename Prepare, typename Run, typename Check>
    int Sweep(Prepare prepare, Run run, Check check) {
        for (uint64_t n = 1; n <= kMaxFaults; ++n) {
            SCOPED_TRACE("allocation " + std::to_string(n));
            prepare();
            CallResult r;
            {
                AllocationFault fault(n, false);
                r = run();
            }
            if (r.code == 0) return static_cast<int>(n - 1);
            EXPECT_EQ(r.code, ERR_MEM);
            check();
        }
        ADD_FAILURE() << "the call never succeeded";
        return 0;
    }
};

TEST_F(Allocation, SetIntervalLeavesNothingWhenMemoryRunsOut) {
    const int refs = LiveRefs();
    const int failures =
        Sweep([] {},
              [&] {
                  return Call("SetInterval", {Num(3), Handler(), Num(10), Str("ud")});
              },
              [&] {
                  qvInterval* interval = nullptr;
                  EXPECT_EQ(FindInterval({3, nullptr}, &interval), ERR_FINDINTERVAL);
                  EXPECT_EQ(FindTimerEntry(QV_TIMER_INTERVAL, {3, nullptr}, nullptr), nullptr);
                  EXPECT_EQ(LiveRefs(), refs);
              });
    EXPECT_GE(failures, 2) << "the record and its timer entry";
    Advance(10);
    EXPECT_EQ(ActionOf(Check()), "Interval");
}

TEST_F(Allocation, InstallEventHandlerChangesNoSlotWhenMemoryRunsOut) {
    ASSERT_EQ(Install({{"onkeyup", Handler()}}, Str("kept")).code, 0);
    const qvEventHandler before = display->handlers[events::kOnKeyUp];
    const int refs = LiveRefs();
    Sweep([] {},
          [&] {
              return Install({{"onkeydown", Handler()},
                              {"onkeyup", Num(0)},
                              {"onconnect", Handler()},
                              {"fillmusicbuffer", Handler()}},
                             Str("new"));
          },
          [&] {
              EXPECT_EQ(display->handlers[events::kOnKeyDown].function, -1);
              EXPECT_EQ(display->handlers[events::kOnKeyUp].function, before.function);
              EXPECT_EQ(display->handlers[events::kOnKeyUp].userData, before.userData);
              EXPECT_EQ(events::GlobalEventSlots()[events::kOnConnect].function, -1);
              EXPECT_EQ(FireTaskUsers(), 0);
              EXPECT_EQ(LiveRefs(), refs);
          });
    EXPECT_NE(display->handlers[events::kOnKeyDown].function, -1);
}

// A run may fail before the dispatcher took the timeout (it then keeps its two references) or
// after (they went with it); none stays behind either way.
TEST_F(Allocation, AHandlersCallGivesBackItsReferencesWhenMemoryRunsOut) {
    const int refs = LiveRefs();
    int calls = 0;
    const auto counted = [&](qvVmState*) {
        ++calls;
        return 0;
    };
    Sweep(
        [&] {
            ASSERT_EQ(Call("SetTimeout", {Num(1), Handler(counted), Num(1), Str("ud")}).code, 0);
            Advance(1);
        },
        [&] { return Check(); },
        [&] {
            qvTimeout* timeout = nullptr;
            const bool kept = FindTimeout({1, nullptr}, &timeout) == 0;
            EXPECT_EQ(LiveRefs(), refs + (kept ? 2 : 0));
        });
    EXPECT_GE(calls, 1) << "runs that failed after the handler count too";
    EXPECT_EQ(LiveRefs(), refs);
}

TEST_F(Allocation, ADropEventsNamesAreFreedWhenItsCallFails) {
    ASSERT_EQ(Install({{"ondropfile", Handler()}}).code, 0);
    Sweep(
        [&] {
            ASSERT_TRUE(platform::testing::InjectDrop(display->window->number, 1, 2, {"a.txt"}));
            Pump();
        },
        [&] { return Check(); }, [] {});
    EXPECT_GE(trace.size(), 1u);
}

TEST_F(Allocation, AWaitThatNothingCanEndFailsInsteadOfHanging) {
    ExpectBlockedWaits();
    const CallResult r = Wait();
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.results.empty()) << "the program is to end";
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(BlockedWaits(), 1);

    // A timer, a tick or scripted input can end a wait: the clock jumps there instead.
    ASSERT_EQ(Call("SetTimeout", {Nil(), Handler(), Num(2500)}).code, 0);
    EXPECT_EQ(ActionOf(Wait()), "Timeout");
    ASSERT_EQ(Install({{"onkeydown", Handler()}}).code, 0);
    HostEvent key{};
    key.kind = HostEventKind::kKey, key.key = 'q', key.down = true;
    InputAt(NowMs() + 700, key);
    EXPECT_EQ(ActionOf(Wait()), "OnKeyDown");
    EXPECT_EQ(BlockedWaits(), 1);
}

}  // namespace
}  // namespace qv::testing
