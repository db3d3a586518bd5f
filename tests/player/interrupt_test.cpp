// Ctrl-C: the platform's SIGINT handler sets the abort flag it was given while run-time option
// 8 ("Ctrl-C quits") is on, from start-up to shutdown, which restores the previous handling.
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>

#include "platform/linux/bitmap.h"
#include "platform/linux/program.h"

namespace qv::testing {
namespace {

std::atomic<int> previousHandlerCalls{0};

TEST(Interrupt, SetsTheAbortFlagWhileCtrlCQuits) {
    struct sigaction previous = {};
    struct sigaction mine = {};
    mine.sa_handler = [](int) { ++previousHandlerCalls; };
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &mine, &previous), 0);
    AbortFlag flag;
    SetInterruptTarget(&flag);
    ASSERT_EQ(PlatformStartup(), 0);

    raise(SIGINT);
    EXPECT_EQ(flag.load(), 1u);
    flag = 0;
    SetRuntimeOption(nullptr, 8, 0);  // the run-time option reaches the handler
    raise(SIGINT);
    EXPECT_EQ(flag.load(), 0u);
    // Every start-up turns the option on again.
    PlatformShutdown();
    ASSERT_EQ(PlatformStartup(), 0);
    raise(SIGINT);
    EXPECT_EQ(flag.load(), 1u);
    EXPECT_EQ(previousHandlerCalls.load(), 0);

    PlatformShutdown();
    raise(SIGINT);
    EXPECT_EQ(previousHandlerCalls.load(), 1);
    SetInterruptTarget(nullptr);
    sigaction(SIGINT, &previous, nullptr);
}

}  // namespace
}  // namespace qv::testing
