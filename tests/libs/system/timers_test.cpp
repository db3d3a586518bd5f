// Timers and waits on the virtual clock (the real clock only for lower bounds), and the input
// pump during waits.
#include <chrono>
#include <utility>
#include <vector>

#include "platform/linux/memory.h"
#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

using Clock = VirtualClock;

double Elapsed(SystemLib& f, const Arg& id) {
    return f.Call("GetTimer", {id}).Number();
}

class Timers : public SystemLib {};

TEST_F(Timers, PausedStretchesAreNotCounted) {
    ASSERT_EQ(Call("StartTimer", {Num(1)}).code, 0);
    Clock::AdvanceMillis(100);
    Call("PauseTimer", {Num(1)});
    Call("PauseTimer", {Num(1)});
    Clock::AdvanceMillis(500);
    EXPECT_EQ(Elapsed(*this, Num(1)), 100);
    Call("ResumeTimer", {Num(1)});
    Call("ResumeTimer", {Num(1)});
    Clock::AdvanceMillis(50);
    EXPECT_EQ(Elapsed(*this, Num(1)), 150);
}

TEST_F(Timers, ResetStartsFromTheGivenValueAlsoBelowZero) {
    Call("StartTimer", {Num(2)});
    Clock::AdvanceMillis(70);
    Call("ResetTimer", {Num(2), Num(5000)});
    EXPECT_EQ(Elapsed(*this, Num(2)), 5000);
    Call("ResetTimer", {Num(2), Num(-500)});
    EXPECT_EQ(Elapsed(*this, Num(2)), -500);
    Clock::AdvanceMillis(700);
    EXPECT_EQ(Elapsed(*this, Num(2)), 200);
    Call("ResetTimer", {Num(2)});
    EXPECT_EQ(Elapsed(*this, Num(2)), 0);
}

TEST_F(Timers, AutomaticIdsAndRestarts) {
    CallResult started = Call("StartTimer", {Nil()});
    ASSERT_EQ(started.results.size(), 1u);
    ASSERT_EQ(started.results[0].type, VM_TLIGHTUSERDATA);
    Arg id = LightUserdata(const_cast<void*>(started.results[0].pointer));
    Clock::AdvanceMillis(30);
    EXPECT_EQ(Elapsed(*this, id), 30);
    EXPECT_EQ(Call("GetObjectType", {id}).Number(), 53);
    Call("StartTimer", {Num(9)});
    Clock::AdvanceMillis(10);
    EXPECT_TRUE(Call("StartTimer", {Num(9)}).results.empty());
    EXPECT_EQ(Elapsed(*this, Num(9)), 0);
    EXPECT_EQ(Call("StopTimer", {id}).code, 0);
    EXPECT_EQ(Call("GetTimer", {id}).code, 1041);
    CallResult missing = Call("GetTimer", {Num(77)});
    EXPECT_EQ(missing.code, 1181);
    EXPECT_EQ(missing.errorNumber, 77u);
}

TEST_F(Timers, WaitTimerPacesWithoutDrift) {
    Call("StartTimer", {Num(1)});
    const int64_t begin = Clock::micros;
    for (int pass = 0; pass < 50; ++pass) {
        Clock::AdvanceMillis(pass % 40);  // the work of one pass
        ASSERT_EQ(Call("WaitTimer", {Num(1), Num(40)}).code, 0);
    }
    EXPECT_EQ(Clock::micros - begin, 2'000'000);
}

TEST_F(Timers, WaitTimerCases) {
    Call("StartTimer", {Num(1)});
    Clock::AdvanceMillis(90);
    const int64_t before = Clock::micros;
    EXPECT_EQ(Call("WaitTimer", {Num(1), Num(40)}).code, 0);
    EXPECT_EQ(Clock::micros, before) << "a time already passed returns at once";
    EXPECT_EQ(Elapsed(*this, Num(1)), 0) << "and restarts the timer";
    Clock::AdvanceMillis(10);
    EXPECT_EQ(Call("WaitTimer", {Num(1), Num(40), Num(0)}).code, 0);
    EXPECT_EQ(Elapsed(*this, Num(1)), 40) << "without reset the timer runs on";
    Call("PauseTimer", {Num(1)});
    EXPECT_EQ(Call("WaitTimer", {Num(1), Num(100)}).code, 1055);
}

TEST_F(Timers, TimerStoppedDuringTheWaitIsNotTouched) {
    Call("StartTimer", {Num(3)});
    Call("SetObjectData", {Num(53), Num(3), Str("k"), Str("v")});
    InstallFakePump();
    // The pump stands in for a handler that stops the timer.
    VmSetHook(
        L,
        [](qvVmState* S, qvDebugRecord*, int*) {
            static bool stopped = false;
            if (std::exchange(stopped, true)) return;
            VmPushString(S, "stoptimer");
            VmGetTable(S, VM_GLOBALSINDEX);
            VmPushNumber(S, 3);
            VmPCall(S, 1, 0, 0);
        },
        VM_MASKLINE, 0);
    EXPECT_EQ(Call("WaitTimer", {Num(3), Num(100)}).code, 0);
    EXPECT_EQ(Call("GetTimer", {Num(3)}).code, 1181);
}

TEST_F(Timers, WaitRunsThePumpEverySliceAndStopsOnRequest) {
    InstallFakePump();
    const int64_t before = Clock::micros;
    EXPECT_EQ(Call("Wait", {Num(5)}).code, 0);  // 5 ticks of 20 ms
    EXPECT_EQ(Clock::micros - before, 100'000);
    EXPECT_GE(PumpCalls(), 5);
    InstallFakePump(3);
    EXPECT_EQ(Call("Wait", {Num(10), Num(0)}).code, 1003);
    EXPECT_EQ(PumpCalls(), 3);
}

TEST_F(Timers, WaitUnits) {
    struct Case {
        std::vector<Arg> args;
        int64_t micros;
    };
    const Case cases[] = {{{Num(0)}, 0},
                          {{Num(-5)}, 0},
                          {{Num(50)}, 1'000'000},
                          {{Num(3), Num(1)}, 3000},
                          {{Num(1), Num(7)}, 1000},
                          {{Num(2), Num(0)}, 2'000'000}};
    for (const Case& c : cases) {
        const int64_t before = Clock::micros;
        EXPECT_EQ(Call("Wait", c.args).code, 0);
        EXPECT_EQ(Clock::micros - before, c.micros) << c.args[0].number;
    }
}

TEST_F(Timers, NoMemoryForANewTimerLeavesTheListAsItWas) {
    Call("StartTimer", {Num(1)});
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("StartTimer", {Num(2)}).code, 1000);
    }
    EXPECT_EQ(Call("GetTimer", {Num(2)}).code, 1181);
    EXPECT_EQ(Call("GetTimer", {Num(1)}).code, 0);
    EXPECT_EQ(Call("StartTimer", {Num(2)}).code, 0);
}

TEST_F(Timers, ArgumentErrors) {
    EXPECT_EQ(Call("StartTimer", {}).code, 1014);
    EXPECT_EQ(Call("StopTimer", {Num(1), Num(2)}).code, 1193);
    EXPECT_EQ(Call("Wait", {Str("x")}).code, 1138);
    EXPECT_EQ(Call("StopTimer", {Num(5)}).code, 1181);
}

TEST(RealClock, WaitsAtLeastTheirTime) {
    struct Real : LibFixture {
        Real() : LibFixture(OpenSystemLibrary) {}
        void TestBody() override {}
    } f;
    auto measure = [&](std::vector<Arg> args) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(f.Call("Wait", args).code, 0);
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_GE(measure({Num(5)}), std::chrono::milliseconds(100));
    EXPECT_GE(measure({Num(3), Num(1)}), std::chrono::milliseconds(3));
}

}  // namespace
}  // namespace qv::testing
