// Intervals and timeouts through their commands and the dispatcher, on the virtual clock:
// replacing, clearing (also from inside a handler), keeping the rhythm without catching up,
// the walk of the timer list within one cycle, and the lookups.
#include <string>
#include <vector>

#include "gfx/library/get_attribute.h"
#include "gfx/library/object_types.h"
#include "platform/linux/time.h"
#include "platform/linux/timers.h"
#include "platform/linux/user_port.h"
#include "scene/events/intervals.h"
#include "tests/scene/support/event_fixture.h"

namespace qv::testing {
namespace {

class Timers : public EventFixture {
protected:
    Timers() {
        VmPushString(L, "getattribute");
        VmPushCClosure(L, GetAttribute, 0);
        VmSetTable(L, VM_GLOBALSINDEX);
    }

    // The handler's call times in milliseconds of the clock, from its start.
    Arg Timed(std::vector<int64_t>* times, int64_t busyFor = 0) {
        return Handler([this, times, busyFor](qvVmState*) {
            times->push_back(NowMs() - kStart);
            if (busyFor != 0 && times->size() == 1) Advance(busyFor);
            return 0;
        });
    }
    // Runs CheckEvent until it finds nothing: the handlers that ran.
    int Drain() {
        int ran = 0;
        while (ActionOf(Check()) != "") ++ran;
        return ran;
    }
    void AdvanceTo(int64_t ms) { Advance(kStart + ms - NowMs()); }

    static constexpr int64_t kStart = 1000000;
};

TEST_F(Timers, ReplacingAnIntervalByIdSilencesTheOldOne) {
    ASSERT_EQ(Call("SetInterval", {Num(1), Handler(), Num(100), Str("old")}).code, 0);
    ASSERT_EQ(Call("SetInterval", {Num(1), Handler(), Num(100), Str("new")}).code, 0);
    for (int round = 0; round < 2; ++round) {
        Advance(100);
        Drain();
    }
    EXPECT_EQ(trace, (std::vector<std::string>{"Interval 1 new", "Interval 1 new"}));
    EXPECT_EQ(FindTimerEntry(QV_TIMER_INTERVAL, {1, nullptr}, nullptr)->period, 100000);
}

TEST_F(Timers, ATimeoutFiresOnceAndIsGone) {
    const CallResult made = Call("SetTimeout", {Nil(), Handler(), Num(1)});
    ASSERT_EQ(made.code, 0);
    ASSERT_EQ(made.results.size(), 1u);
    ASSERT_EQ(made.results[0].type, VM_TLIGHTUSERDATA);
    void* handle = const_cast<void*>(made.results[0].pointer);
    EXPECT_EQ(ActionOf(Wait()), "Timeout");
    EXPECT_EQ(trace, (std::vector<std::string>{"Timeout auto -"}));
    EXPECT_EQ(Call("ClearTimeout", {LightUserdata(handle)}).code, ERR_FINDARRAY);
    EXPECT_EQ(FindTimerEntry(QV_TIMER_TIMEOUT, {0, handle}, nullptr), nullptr);

    int inside = -1;
    ASSERT_EQ(Call("SetTimeout", {Num(8), Handler([&](qvVmState* S) {
                                      VmPushString(S, "cleartimeout");
                                      VmGetTable(S, VM_GLOBALSINDEX);
                                      VmPushNumber(S, 8);
                                      inside = VmPCall(S, 1, 0, 0);
                                      return 0;
                                  }),
                                  Num(5)})
                  .code,
              0);
    EXPECT_EQ(ActionOf(Wait()), "Timeout");
    EXPECT_EQ(inside, ERR_FINDTIMEOUT) << "the record is gone before its handler runs";
}

TEST_F(Timers, PeriodsBelowOneAreRefused) {
    for (const char* command : {"SetInterval", "SetTimeout"}) {
        for (double period : {0.0, -5.0, 0.5}) {
            SCOPED_TRACE(std::string(command) + " " + std::to_string(period));
            EXPECT_EQ(Call(command, {Num(1), Handler(), Num(period)}).code, ERR_WRONGUSAGE);
        }
        EXPECT_EQ(Call(command, {Num(1), Str("no function"), Num(10)}).code, ERR_FUNCEXPECTED);
        EXPECT_EQ(Call(command, {Num(1), Handler()}).code, ERR_MISSINGPARAMTR);
    }
    ASSERT_EQ(Call("SetInterval", {Num(3), Handler(), Num(10)}).code, 0);
    EXPECT_EQ(Call("ChangeInterval", {Num(3), Num(0)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ChangeInterval", {Num(4), Num(10)}).code, ERR_FINDINTERVAL);
}

TEST_F(Timers, ABusyHandlerDropsTheMissedPeriodsInsteadOfCatchingUp) {
    std::vector<int64_t> times;
    ASSERT_EQ(Call("SetInterval", {Num(1), Timed(&times, 350), Num(100)}).code, 0);
    AdvanceTo(100);
    EXPECT_EQ(Drain(), 2) << "once at 100 and once more after the busy call, not three more";
    AdvanceTo(549);
    EXPECT_EQ(Drain(), 0);
    AdvanceTo(550);
    EXPECT_EQ(Drain(), 1);
    AdvanceTo(650);
    EXPECT_EQ(Drain(), 1) << "the rhythm holds while the program keeps up";
    EXPECT_EQ(times, (std::vector<int64_t>{100, 450, 550, 650}));
}

TEST_F(Timers, ClearingFromAHandlerLetsTheWalkGoOn) {
    ASSERT_EQ(Call("SetInterval", {Num(1), Handler([](qvVmState* S) {
                                       VmPushString(S, "clearinterval");
                                       VmGetTable(S, VM_GLOBALSINDEX);
                                       VmPushNumber(S, 1);  // itself
                                       return VmPCall(S, 1, 0, 0);
                                   }),
                                   Num(10)})
                  .code,
              0);
    ASSERT_EQ(Call("SetInterval", {Num(2), Handler([](qvVmState* S) {
                                       VmPushString(S, "clearinterval");
                                       VmGetTable(S, VM_GLOBALSINDEX);
                                       VmPushNumber(S, 3);  // the next one in the walk
                                       VmPCall(S, 1, 0, 0);
                                       return 0;
                                   }),
                                   Num(10)})
                  .code,
              0);
    ASSERT_EQ(Call("SetInterval", {Num(3), Handler(), Num(10)}).code, 0);
    ASSERT_EQ(Call("SetInterval", {Num(4), Handler(), Num(10)}).code, 0);
    Advance(10);
    EXPECT_EQ(Drain(), 3);
    Advance(10);
    EXPECT_EQ(Drain(), 2);
    EXPECT_EQ(trace, (std::vector<std::string>{"Interval 1 -", "Interval 2 -", "Interval 4 -",
                                               "Interval 2 -", "Interval 4 -"}));
}

// Y's handler runs long enough for X (before it in the timer list) and Z (after it) to come
// due: Z is served in the same cycle, before the cycle's later sources, X in the next.
TEST_F(Timers, WhatComesDueDuringAHandlerWaitsForItsPlaceInTheWalk) {
    ASSERT_EQ(Install({{"onusermessage", Handler()}}).code, 0);
    std::vector<int64_t> unused;
    ASSERT_EQ(Call("SetInterval", {Num(1), Handler(), Num(300)}).code, 0);
    ASSERT_EQ(Call("SetInterval", {Num(2), Timed(&unused, 100), Num(200)}).code, 0);
    ASSERT_EQ(Call("SetInterval", {Num(3), Handler(), Num(300)}).code, 0);
    AdvanceTo(200);
    ASSERT_TRUE(platform::testing::PostUserMessage("between"));
    for (int i = 0; i < 4; ++i) ASSERT_EQ(Wait().code, 0);
    EXPECT_EQ(trace, (std::vector<std::string>{"Interval 2 -", "Interval 3 -", "OnUserMessage - -",
                                               "Interval 1 -"}));
}

TEST_F(Timers, ChangeIntervalKeepsThePendingDueTime) {
    std::vector<int64_t> times;
    ASSERT_EQ(Call("SetInterval", {Num(1), Timed(&times), Num(100)}).code, 0);
    AdvanceTo(50);
    ASSERT_EQ(Call("ChangeInterval", {Num(1), Num(500)}).code, 0);
    for (int64_t at : {99, 100, 599, 600}) {
        AdvanceTo(at);
        Drain();
    }
    EXPECT_EQ(times, (std::vector<int64_t>{100, 600}));
}

TEST_F(Timers, TheLookupsAndTheAttributesFindTheRecords) {
    ASSERT_EQ(Call("SetInterval", {Num(5), Handler(), Num(250), Str("five")}).code, 0);
    ASSERT_EQ(Call("ChangeInterval", {Num(5), Num(40)}).code, 0);
    const CallResult automatic = Call("SetTimeout", {Nil(), Handler(), Num(70)});
    ASSERT_EQ(automatic.code, 0);
    void* handle = const_cast<void*>(automatic.results[0].pointer);

    qvInterval* interval = nullptr;
    ASSERT_EQ(FindInterval({5, nullptr}, &interval), 0);
    EXPECT_EQ(interval->period, 250) << "ChangeInterval leaves the record's period";
    qvTimeout* timeout = nullptr;
    EXPECT_EQ(FindTimeout({0, handle}, &timeout), 0);
    EXPECT_EQ(FindInterval({6, nullptr}, &interval), ERR_FINDINTERVAL);
    EXPECT_EQ(interval, nullptr);
    EXPECT_EQ(FindTimeout({0, &timeout}, &timeout), ERR_FINDARRAY);

    struct Case {
        int32_t type;
        Arg id;
        int32_t attribute;
        double number;  // -1: a function
        const char* text;
    };
    const Case cases[] = {
        {gfx::kTypeInterval, Num(5), 14, 250, nullptr},
        {gfx::kTypeInterval, Num(5), gfx::ATTRUSERDATA, 0, "five"},
        {gfx::kTypeInterval, Num(5), gfx::ATTRFUNCTION, -1, nullptr},
        {gfx::kTypeTimeout, LightUserdata(handle), 14, 70, nullptr},
        {gfx::kTypeTimeout, LightUserdata(handle), gfx::ATTRUSERDATA, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attribute);
        const CallResult r = Call("GetAttribute", {Num(c.type), c.id, Num(c.attribute)});
        ASSERT_EQ(r.code, 0);
        if (c.text != nullptr) {
            EXPECT_EQ(r.Text(), c.text);
        } else if (c.number == -1) {
            EXPECT_EQ(r.results[0].type, VM_TFUNCTION);
        } else {
            EXPECT_EQ(r.Number(), c.number);
        }
    }
    EXPECT_EQ(Call("GetAttribute", {Num(gfx::kTypeInterval), Num(6), Num(14)}).code,
              ERR_FINDINTERVAL);
    EXPECT_EQ(Call("ClearInterval", {Num(6)}).errorNumber, 6u);
    EXPECT_EQ(Call("ClearTimeout", {Num(6)}).code, ERR_FINDTIMEOUT);
}

TEST_F(Timers, NothingIsWalkedWhileNothingIsDue) {
    ASSERT_EQ(Call("SetInterval", {Num(1), Handler(), Num(100)}).code, 0);
    ASSERT_EQ(Call("SetInterval", {Num(2), Handler(), Num(30)}).code, 0);
    EXPECT_EQ(BeginTimerWalk(MonotonicMicros()), nullptr);
    Advance(30);
    EXPECT_NE(BeginTimerWalk(MonotonicMicros()), nullptr);
    EXPECT_EQ(Drain(), 1);
    Advance(29);  // now 59: the next is 2 at 60
    EXPECT_EQ(BeginTimerWalk(MonotonicMicros()), nullptr) << "the finished walk learnt it";
    ASSERT_EQ(Call("SetTimeout", {Num(3), Handler(), Num(1)}).code, 0);
    Advance(1);
    EXPECT_NE(BeginTimerWalk(MonotonicMicros()), nullptr) << "a new entry lowers the bound";
    EXPECT_EQ(Drain(), 2);
}

}  // namespace
}  // namespace qv::testing
