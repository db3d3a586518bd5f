// Headless windows: the framebuffer, the desktop picture and the vertical blank.
#include "platform/linux/window.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>

#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::RandomBitMap;

struct WindowCloser {
    void operator()(qvPlatformDisplay* display) const { qv::CloseHeadlessWindow(display); }
};
using WindowPtr = std::unique_ptr<qvPlatformDisplay, WindowCloser>;

TEST(PlatformWindow, ScreenDefaultsAndEnvironment) {
    const char* format = std::getenv("QV_SCREEN_FORMAT");
    EXPECT_EQ(qv::ScreenFormat(), format != nullptr ? uint32_t(std::atoi(format)) : 10u);
    const char* size = std::getenv("QV_SCREEN_SIZE");
    if (size == nullptr) {
        EXPECT_EQ(qv::ScreenWidth(), 1920);
        EXPECT_EQ(qv::ScreenHeight(), 1080);
    }
    {
        qv::platform::testing::ScopedScreenFormat screen(QV_FMT_B8G8R8);
        EXPECT_EQ(BitMapPtr(AllocDisplayBitMap(1, 1))->format, uint32_t(QV_FMT_B8G8R8));
    }
    EXPECT_EQ(qv::ScreenFormat(), format != nullptr ? uint32_t(std::atoi(format)) : 10u);
}

TEST(PlatformWindow, WindowBlitAtOffsetsReadsBackThroughTheGrab) {
    WindowPtr window(qv::OpenHeadlessWindow(100, 50, 40, 30));
    ASSERT_TRUE(window);
    EXPECT_EQ(QueryBitMapAttr(nullptr, 20), 1u);
    BitMapPtr picture = RandomBitMap(25, 20, 1);
    const struct {
        int32_t sx, sy, dx, dy, width, height;
    } blits[] = {{0, 0, 0, 0, 25, 20}, {3, 2, 17, 11, 22, 18}, {5, 5, -3, 25, 10, 10}};
    for (const auto& b : blits) {
        WindowBlit(picture.get(), b.sx, b.sy, window.get(), b.dx, b.dy, b.width, b.height, 0, 0);
        BitMapPtr expected = qv::test::Filled(40, 30, 0);
        BltBitMap(window->framebuffer, 0, 0, expected.get(), 0, 0, 40, 30);
        BitMapPtr grab(GrabScreenToBitMap(window.get(), 0, 0, 40, 30));
        ASSERT_TRUE(grab);
        EXPECT_TRUE(qv::test::SameBitMap(grab.get(), expected.get()));
        for (int32_t j = 0; j < 5; ++j) {
            int32_t x = b.dx + j, y = b.dy + j;
            if (x < 0 || y < 0 || x >= 40 || y >= 30 || j >= b.width || j >= b.height) continue;
            EXPECT_EQ(ReadBitMapPixel(grab.get(), x, y),
                      ReadBitMapPixel(picture.get(), b.sx + j, b.sy + j));
        }
    }
    // A scaled request draws the rectangle at the scaled size, as far as the window reaches.
    WindowBlit(picture.get(), 0, 0, window.get(), 0, 0, 25, 20, 50, 40);
    BitMapPtr grab(GrabScreenToBitMap(window.get(), 0, 0, 40, 30));
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            ASSERT_EQ(ReadBitMapPixel(grab.get(), x, y),
                      ReadBitMapPixel(picture.get(), x / 2, y / 2));
        }
    }
}

TEST(PlatformWindow, GrabsAreCutToTheirSource) {
    WindowPtr window(qv::OpenHeadlessWindow(0, 0, 10, 8));
    BitMapPtr grab(GrabScreenToBitMap(window.get(), 6, -2, 10, 5));
    ASSERT_TRUE(grab);
    EXPECT_EQ(grab->width, 4);
    EXPECT_EQ(grab->height, 3);
    EXPECT_EQ(GrabScreenToBitMap(window.get(), 10, 0, 5, 5), nullptr);
    EXPECT_EQ(GrabScreenToBitMap(nullptr, 0, 0, 0, 5), nullptr);
}

TEST(PlatformWindow, TheDesktopShowsWindowsOverBlackInOpeningOrder) {
    WindowPtr bottom(qv::OpenHeadlessWindow(10, 10, 20, 20));
    WindowPtr top(qv::OpenHeadlessWindow(20, 15, 20, 20));
    WindowPtr offscreen(qv::OpenHeadlessWindow(-5, -5, 8, 8));
    RectFill(bottom->framebuffer, 0, 0, 20, 20, 0xFF0000);
    RectFill(top->framebuffer, 0, 0, 20, 20, 0x00FF00);
    RectFill(offscreen->framebuffer, 0, 0, 8, 8, 0x0000FF);
    BitMapPtr desktop(GrabScreenToBitMap(nullptr, 0, 0, 64, 48));
    ASSERT_TRUE(desktop);
    const uint32_t red = ReadBitMapPixel(bottom->framebuffer, 0, 0);
    const uint32_t green = ReadBitMapPixel(top->framebuffer, 0, 0);
    const uint32_t blue = ReadBitMapPixel(offscreen->framebuffer, 0, 0);
    const struct {
        int32_t x, y;
        uint32_t rgb;
    } probes[] = {{9, 9, 0},       {10, 10, red}, {19, 14, red}, {20, 15, green}, {29, 29, green},
                  {39, 34, green}, {40, 35, 0},   {2, 2, blue},  {3, 3, 0},       {63, 47, 0}};
    for (const auto& p : probes) {
        EXPECT_EQ(ReadBitMapPixel(desktop.get(), p.x, p.y), p.rgb) << p.x << "," << p.y;
    }
    top.reset();
    BitMapPtr after(GrabScreenToBitMap(nullptr, 25, 25, 10, 10));
    EXPECT_EQ(ReadBitMapPixel(after.get(), 0, 0), red);
    EXPECT_EQ(ReadBitMapPixel(after.get(), 9, 9), 0u);
}

int64_t MonotonicNanos() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TEST(PlatformWindow, VerticalBlankEndsAtTheNextSixtiethOfASecond) {
    int64_t before = MonotonicNanos();
    PlatformWaitVBlank(nullptr, nullptr);
    int64_t after = MonotonicNanos();
    EXPECT_GT(after * 60 / 1000000000, before * 60 / 1000000000);

    qv::platform::testing::SetInstantVBlank(true);
    for (int i = 0; i < 100; ++i) PlatformWaitVBlank(nullptr, nullptr);
    qv::platform::testing::SetInstantVBlank(false);
}

TEST(PlatformWindow, VideoDumpStateIsOneRecord) {
    qv::VideoDumpState().frameChanged = true;
    qv::VideoDumpState().pointerKind = 3;
    EXPECT_TRUE(qv::VideoDumpState().frameChanged);
    EXPECT_EQ(qv::VideoDumpState().pointerKind, 3);
    qv::VideoDumpState() = {};
}

}  // namespace
