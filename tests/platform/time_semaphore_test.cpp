// Time pairs and nestable semaphores of the platform layer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "platform/linux/memory.h"
#include "platform/linux/semaphore.h"
#include "platform/linux/time.h"
#include "platform/linux/time_services.h"

namespace {

TEST(PlatformTime, AddAndSubtractCarryBetweenTheFields) {
    struct Case {
        qvTimeVal a, b, sum, difference;
    };
    const Case cases[] = {
        {{5, 200}, {1, 100}, {6, 300}, {4, 100}},
        {{5, 900000}, {1, 200000}, {7, 100000}, {4, 700000}},
        {{5, 100000}, {1, 200000}, {6, 300000}, {3, 900000}},
        {{5, 999999}, {0, 1}, {6, 0}, {5, 999998}},
        {{2, 0}, {2, 0}, {4, 0}, {0, 0}},
    };
    for (const Case& c : cases) {
        qvTimeVal sum = c.a;
        TimerAddTime(&sum, &c.b);
        EXPECT_EQ(sum.seconds, c.sum.seconds);
        EXPECT_EQ(sum.microseconds, c.sum.microseconds);
        qvTimeVal difference = c.a;
        TimerSubTime(&difference, &c.b);
        EXPECT_EQ(difference.seconds, c.difference.seconds);
        EXPECT_EQ(difference.microseconds, c.difference.microseconds);
    }
}

TEST(PlatformTime, ClocksAgree) {
    qvTimeVal now;
    TimerGetSysTime(&now);
    EXPECT_LT(now.microseconds, 1000000u);
    EXPECT_NEAR(TimeOfDaySeconds(), now.seconds + now.microseconds / 1e6, 5.0);
    qvTimeVal a;
    qvTimeVal b;
    qv::MonotonicTime(&a);
    qv::MonotonicTime(&b);
    TimerSubTime(&b, &a);
    EXPECT_LT(b.seconds, 5u);  // never backwards (which would wrap)
}

// One replacement reaches every reader: both clocks in each of their forms and the sleeps.
TEST(PlatformTime, OneSeamReplacesEveryClock) {
    static int64_t monotonic = 42'000'007;
    static constexpr qv::SystemClock kClock = {
        [] { return monotonic; }, [] { return int64_t{1'700'000'000'250'000}; },
        [](int64_t deadline) { monotonic = std::max(monotonic, deadline); }};
    qv::SetSystemClock(&kClock);
    qvTimeVal a;
    qv::MonotonicTime(&a);
    EXPECT_EQ(a.seconds, 42u);
    EXPECT_EQ(a.microseconds, 7u);
    EXPECT_DOUBLE_EQ(qv::MonotonicSeconds(), 42.000007);
    TimerGetSysTime(&a);
    EXPECT_EQ(a.seconds, 1'700'000'000u);
    EXPECT_EQ(a.microseconds, 250'000u);
    EXPECT_DOUBLE_EQ(TimeOfDaySeconds(), 1'700'000'000.25);
    EXPECT_EQ(qv::WallSeconds(), 1'700'000'000);
    DelayMillis(1500);
    EXPECT_EQ(qv::MonotonicMicros(), 43'500'007);
    qv::SetSystemClock(nullptr);
    EXPECT_NE(&qv::Clock(), &kClock);
}

TEST(PlatformSemaphore, NestsOnOneThreadAndExcludesOthers) {
    qvSemaphore* semaphore = NewSemaphore();
    ASSERT_NE(semaphore, nullptr);
    std::atomic<bool> entered{false};
    ObtainSem(semaphore);
    ObtainSem(semaphore);  // the holder may obtain it again
    std::thread other([&] {
        qv::SemaphoreLock lock(semaphore);
        entered = true;
    });
    ReleaseSem(semaphore);
    std::this_thread::yield();
    EXPECT_FALSE(entered.load());  // still held once
    ReleaseSem(semaphore);
    other.join();
    EXPECT_TRUE(entered.load());
    FreeSemaphore(semaphore);
    FreeSemaphore(nullptr);
}

TEST(PlatformSemaphore, AllocationFailureGivesNone) {
    qv::AllocationFault fault(1, false);
    EXPECT_EQ(NewSemaphore(), nullptr);
}

}  // namespace
