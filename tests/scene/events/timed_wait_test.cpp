// The timed wait of Wait and WaitTimer serves the event handlers, on the virtual clock:
// timers end its slices at their due times, a thousand handlers in one wait leave no values
// behind on the stack, and a legacy label found while it waits continues the script there.
#include <string>
#include <vector>

#include "libs/system/system_library.h"
#include "scene/events/event_library.h"
#include "scene/events/poll_events.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

// The libraries with the player's input poll as the line hook (also in listings' engines).
void OpenWithInputPoll(qvVmState* L) {
    OpenLibraries<RegisterEventLibrary, RegisterSystemLibrary>(L);
    VmSetHook(L, PollEventsHook, VM_MASKLINE, 0);
}

class TimedWait : public EventFixture {
protected:
    TimedWait() : EventFixture(OpenWithInputPoll) {}
    static constexpr int64_t kStart = 1000000;
};

TEST_F(TimedWait, HandlersRunAtTheirTimesWithinTheWait) {
    std::vector<std::string> times;
    const auto at = [&](const char* what) {
        return Handler([&times, what](qvVmState*) {
            times.push_back(what + std::to_string(NowMs() - kStart));
            return 0;
        });
    };
    ASSERT_EQ(Call("SetInterval", {Num(1), at("i"), Num(30)}).code, 0);
    ASSERT_EQ(Install({{"onkeydown", at("k")}}).code, 0);
    HostEvent key{};
    key.kind = HostEventKind::kKey, key.key = 'a', key.down = true;
    InputAt(NowMs() + 70, key);
    ASSERT_EQ(Call("Wait", {Num(130), Num(1)}).code, 0);
    EXPECT_EQ(times, (std::vector<std::string>{"i30", "i60", "k70", "i90", "i120"}));
    EXPECT_EQ(NowMs() - kStart, 130);
}

TEST_F(TimedWait, AThousandHandlersLeaveTheStackAsItWas) {
    std::vector<ptrdiff_t> depths;
    ASSERT_EQ(Call("SetInterval", {Num(1), Handler([&depths](qvVmState* S) {
                                       depths.push_back(S->top - S->stack);
                                       return 0;
                                   }),
                                   Num(1)})
                  .code,
              0);
    ASSERT_EQ(Call("Wait", {Num(1), Num(0)}).code, 0);
    ASSERT_EQ(depths.size(), 1000u);
    EXPECT_EQ(depths.front(), depths.back());
}

TEST_F(TimedWait, ALegacyLabelFoundWhileWaitingContinuesTheScriptThere) {
    HostEvent click{};
    click.kind = HostEventKind::kButton, click.button = 0, click.down = true;
    click.x = click.y = 10;
    InputAt(NowMs() + 100, click);
    EXPECT_EQ(CheckListing(SourceDir() / "tests/scene/events/label_listings/wait_label.qvs"), "");
}

}  // namespace
}  // namespace qv::testing
