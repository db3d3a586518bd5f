// Tests of the video back ends: a virtual clock whose sleep jumps to its deadline, and a
// fixture that runs the headless back end from a clean start.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/linux/time.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "tests/platform/file_test_support.h"

namespace qv::testing {

// Installs a virtual monotonic clock for one scope; sleeping moves it to the deadline.
class VirtualClock {
public:
    explicit VirtualClock(int64_t start) {
        now_ = start;
        SetSystemClock(&kClock);
    }
    ~VirtualClock() { SetSystemClock(nullptr); }
    VirtualClock(const VirtualClock&) = delete;
    VirtualClock& operator=(const VirtualClock&) = delete;

    static int64_t Now() { return now_; }
    static void Set(int64_t micros) { now_ = micros; }

private:
    static int64_t Read() { return now_; }
    static void SleepUntil(int64_t deadline) {
        if (deadline > now_) now_ = deadline;
    }
    static inline int64_t now_ = 0;
    static constexpr SystemClock kClock = {Read, Read, SleepUntil};
};

// The headless back end started afresh (QV_VIDEO=headless), stopped at the end.
class HeadlessVideo : public ::testing::Test {
protected:
    void SetUp() override {
        platform::testing::ResetHeadless();
        std::string detail;
        ASSERT_EQ(StartVideo(&detail), 0) << detail;
        ASSERT_STREQ(Video().name, "headless");
    }
    void TearDown() override {
        StopVideo();
        platform::testing::ResetHeadless();
    }

    // A framed window (flags 0) at (x, y) with a black inner area; closed by the fixture.
    qvPlatformDisplay* Open(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags = 0,
                            void* owner = nullptr) {
        qvPlatformDisplay* window = AllocPlatformDisplay(owner);
        const qvWindowSpec spec{x, y, width, height, flags, "test"};
        EXPECT_EQ(OpenPlatformWindow(window, spec, 0, nullptr, nullptr), 0);
        records_.emplace_back(window);
        return window;
    }

    ScopedEnv video_{"QV_VIDEO", "headless"};
    ScopedEnv frames_{"QV_HEADLESS_FRAMES", std::nullopt};
    ScopedEnv input_{"QV_HEADLESS_INPUT", std::nullopt};
    ScopedEnv clock_{"QV_HEADLESS_CLOCK", std::nullopt};

private:
    struct WindowFree {
        void operator()(qvPlatformDisplay* window) const { FreePlatformDisplay(window); }
    };
    std::vector<std::unique_ptr<qvPlatformDisplay, WindowFree>> records_;
};

}  // namespace qv::testing
