// The abort flag raises the attention bytes that watch it: at once when watching starts on a
// set flag, never after Unwatch has returned (also when another thread keeps setting it), and
// it tells a watcher that finds no free slot to read the flag itself.
#include "platform/linux/abort_flag.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace qv::testing {
namespace {

TEST(AbortFlag, SettingRaisesEveryWatcherAndClearingLeavesTheirBits) {
    AbortFlag flag;
    std::atomic<uint8_t> a{0x10}, b{0};
    ASSERT_TRUE(flag.Watch(&a));
    ASSERT_TRUE(flag.Watch(&b));
    EXPECT_EQ(a.load(), 0x10);  // a clear flag raises nothing

    flag.store(1);
    EXPECT_EQ(flag.load(), 1u);
    EXPECT_EQ(a.load(), 0x10 | AbortFlag::kRaised);
    EXPECT_EQ(b.load(), AbortFlag::kRaised);

    b = 0;
    flag = 0;
    EXPECT_EQ(b.load(), 0);
    EXPECT_EQ(a.load(), 0x10 | AbortFlag::kRaised);  // the watcher lowers its own bit

    EXPECT_EQ(flag.exchange(2), 0u);
    EXPECT_EQ(b.load(), AbortFlag::kRaised);
    EXPECT_EQ(flag.exchange(0), 2u);
    flag.Unwatch(&a);
    flag.Unwatch(&b);
}

TEST(AbortFlag, WatchingASetFlagRaisesAtOnceAndUnwatchedBytesStayUntouched) {
    AbortFlag flag;
    flag.store(1);
    std::atomic<uint8_t> a{0};
    ASSERT_TRUE(flag.Watch(&a));
    EXPECT_EQ(a.load(), AbortFlag::kRaised);

    flag.Unwatch(&a);
    a = 0;
    flag.store(1);
    EXPECT_EQ(a.load(), 0);
}

TEST(AbortFlag, EightWatchersFitAndAWatcherCountsOnce) {
    AbortFlag flag;
    std::atomic<uint8_t> bytes[9] = {};
    ASSERT_TRUE(flag.Watch(&bytes[0]));
    ASSERT_TRUE(flag.Watch(&bytes[0]));
    for (int i = 1; i < 8; ++i) ASSERT_TRUE(flag.Watch(&bytes[i]));
    EXPECT_FALSE(flag.Watch(&bytes[8]));

    flag.Unwatch(&bytes[3]);
    EXPECT_TRUE(flag.Watch(&bytes[8]));
    flag.store(1);
    EXPECT_EQ(bytes[3].load(), 0);
    EXPECT_EQ(bytes[8].load(), AbortFlag::kRaised);
    for (auto& byte : bytes) flag.Unwatch(&byte);
}

// A byte that has been unwatched may be freed at once, while another thread sets the flag
// over and over: the address sanitizer reports any raise that lands after Unwatch.
TEST(AbortFlag, NoRaiseLandsAfterUnwatchReturns) {
    AbortFlag flag;
    std::atomic<bool> done{false};
    std::thread setter([&] {
        while (!done.load()) flag.store(1);
    });
    for (int i = 0; i < 100000; ++i) {
        auto byte = std::make_unique<std::atomic<uint8_t>>(0);
        ASSERT_TRUE(flag.Watch(byte.get()));
        flag.Unwatch(byte.get());
    }
    done = true;
    setter.join();
}

}  // namespace
}  // namespace qv::testing
