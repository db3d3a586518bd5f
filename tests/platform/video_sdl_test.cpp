// The sdl back end without an X server, on SDL's offscreen video driver: what the renderer
// shows after a present, SDL's events as host events, the own screen, game controllers (a
// virtual one) and the requester's fallback.
#include <SDL.h>

#include <functional>

#include "engine/error_codes.h"
#include "platform/linux/joystick.h"
#include "platform/linux/requester.h"
#include "platform/linux/testing.h"
#include "platform/linux/video/sdl.h"
#include "runtime/key_table.h"
#include "tests/platform/video_test_support.h"

namespace qv::testing {
namespace {

class Sdl : public ::testing::Test {
protected:
    void SetUp() override {
        std::string detail;
        ASSERT_EQ(StartVideo(&detail), 0) << detail;
        ASSERT_STREQ(Video().name, "sdl");
    }
    void TearDown() override {
        for (qvPlatformDisplay* w : windows_) FreePlatformDisplay(w);
        StopVideo();
    }

    qvPlatformDisplay* Open(int32_t width, int32_t height, uint32_t flags = QV_WINDOW_BORDERLESS) {
        qvPlatformDisplay* w = AllocPlatformDisplay(nullptr);
        windows_.push_back(w);
        EXPECT_EQ(
            OpenPlatformWindow(w, {20, 10, width, height, flags, "sdl test"}, 1, nullptr, nullptr),
            0);
        return w;
    }
    static std::vector<HostEvent> Drain() {
        std::vector<HostEvent> events;
        for (HostEvent e; Video().pollEvent(&e);) events.push_back(e);
        return events;
    }
    // The SDL window with that title (the own screen's is "Quorvella").
    static Uint32 IdOf(const std::string& title) {
        for (Uint32 id = 1; id < 64; ++id) {
            SDL_Window* sdlWindow = SDL_GetWindowFromID(id);
            if (sdlWindow != nullptr && title == SDL_GetWindowTitle(sdlWindow)) return id;
        }
        return 0;
    }

    ScopedEnv video_{"QV_VIDEO", "sdl"};
    ScopedEnv driver_{"SDL_VIDEODRIVER", "offscreen"};
    std::vector<qvPlatformDisplay*> windows_;
};

class SdlFormats : public Sdl, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SdlFormats, TheRendererShowsTheFramebufferAfterAPresent) {
    platform::testing::ScopedScreenFormat format(GetParam());
    qvPlatformDisplay* w = Open(37, 23);
    for (int32_t y = 0; y < 23; ++y) {
        for (int32_t x = 0; x < 37; ++x) {
            WriteWindowPixel(w, x, y, uint32_t(x * 7) << 16 | uint32_t(y * 11) << 8 | (x ^ y) * 5);
        }
    }
    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        std::vector<uint32_t> shown;
        ASSERT_TRUE(platform::testing::ReadPresentedPixels(w, &shown));
        ASSERT_EQ(shown.size(), size_t(37 * 23));
        int wrong = 0;
        for (int32_t y = 0; y < 23; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                wrong +=
                    (shown[size_t(y) * 37 + x] & 0xFFFFFF) != ReadBitMapPixel(w->framebuffer, x, y);
            }
        }
        EXPECT_EQ(wrong, 0);
    };
    Present();
    check("whole");
    FillWindowRect(w, 3, 4, 5, 6, 0x123456);
    DrawWindowLine(w, 36, 0, 0, 22, 0xABCDEF);
    Present();
    check("damaged");
}

INSTANTIATE_TEST_SUITE_P(ScreenFormats, SdlFormats, ::testing::Values(10u, 4u, 8u));

TEST_F(Sdl, TheScreenIsTheDesktopsAndItsModesAreDistinct) {
    SDL_DisplayMode desktop{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    EXPECT_EQ(ScreenWidth(), desktop.w);
    EXPECT_EQ(ScreenHeight(), desktop.h);
    const int32_t count = EnumDisplayModes(nullptr, 0);
    ASSERT_GE(count, 1);
    std::vector<ScreenMode> modes(static_cast<size_t>(count));
    EXPECT_EQ(EnumDisplayModes(modes.data(), count), count);
    for (const ScreenMode& m : modes) {
        EXPECT_GT(m.width, 0);
        EXPECT_GT(m.height, 0);
    }
}

TEST_F(Sdl, SdlEventsBecomeHostEventsOfTheirWindows) {
    qvPlatformDisplay* w = Open(64, 48);
    UpdateDisplayAppWindow(w, 1);
    SetClipboardChangeHook(w, 1);
    const Uint32 id = IdOf(w->title);
    ASSERT_NE(id, 0u);
    Drain();

    auto push = [](SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); };
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button = {SDL_MOUSEBUTTONDOWN, 0, id, 0, SDL_BUTTON_RIGHT, SDL_PRESSED, 1, 0, 5, 6};
    push(e);
    e.button.button = SDL_BUTTON_X1;  // no such button here
    push(e);
    e = {};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = id, e.motion.x = 7, e.motion.y = 8;
    push(e);
    e = {};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = id, e.wheel.y = -1, e.wheel.mouseX = 9, e.wheel.mouseY = 10;
    push(e);
    const std::pair<SDL_Keycode, uint32_t> keys[] = {
        {SDLK_ESCAPE, KeyCode("ESC")},
        {SDLK_a, 'a'},
        {SDLK_KP_5, '5'},
        {SDLK_F13, KeyCode("F13")},
        {0xE9, 0xE9},
        {0x3A9, 0},
        {SDLK_RCTRL, KeyCode("RCONTROL")},
        {SDLK_SPACE, KeyCode("SPACE")},
    };
    for (const auto& [sym, code] : keys) {
        e = {};
        e.type = SDL_KEYDOWN;
        e.key.windowID = id, e.key.keysym.sym = sym, e.key.keysym.mod = KMOD_CAPS;
        push(e);
    }
    e = {};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = id;
    for (Uint8 what :
         {SDL_WINDOWEVENT_CLOSE, SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_MINIMIZED}) {
        e.window.event = what;
        push(e);
    }
    e.window.event = SDL_WINDOWEVENT_MOVED, e.window.data1 = 300, e.window.data2 = 200;
    push(e);
    e.window.event = SDL_WINDOWEVENT_RESIZED, e.window.data1 = 64, e.window.data2 = 48;
    push(e);  // its own size: no resize
    e.window.event = SDL_WINDOWEVENT_RESIZED, e.window.data1 = 70, e.window.data2 = 50;
    push(e);
    e = {};
    e.type = SDL_DROPBEGIN, e.drop.windowID = id;
    push(e);
    for (const char* name : {"/tmp/a", "/tmp/b c"}) {
        e.type = SDL_DROPFILE, e.drop.file = SDL_strdup(name);
        push(e);
    }
    e.type = SDL_DROPCOMPLETE, e.drop.file = nullptr;
    push(e);
    e = {};
    e.type = SDL_CLIPBOARDUPDATE;
    push(e);

    const std::vector<HostEvent> events = Drain();
    std::vector<HostEventKind> kinds;
    for (const HostEvent& h : events) {
        EXPECT_EQ(h.window, w->number);
        kinds.push_back(h.kind);
    }
    using K = HostEventKind;
    const std::vector<K> expected = {K::kButton,  K::kMotion, K::kWheel,    K::kKey,     K::kKey,
                                     K::kKey,     K::kKey,    K::kKey,      K::kKey,     K::kKey,
                                     K::kKey,     K::kClose,  K::kFocus,    K::kIconify, K::kMoved,
                                     K::kResized, K::kDrop,   K::kClipboard};
    ASSERT_EQ(kinds, expected);
    EXPECT_EQ(events[0].button, 1) << "SDL's right button";
    EXPECT_TRUE(events[0].down);
    EXPECT_EQ(events[0].x, 5);
    EXPECT_EQ(events[2].x, 9);
    EXPECT_TRUE(events[2].down) << "wheel down";
    for (size_t i = 0; i < std::size(keys); ++i) {
        EXPECT_EQ(events[3 + i].key, keys[i].second) << keys[i].first;
        EXPECT_TRUE(events[3 + i].capsLock);
    }
    EXPECT_EQ(events[14].x, 300);
    EXPECT_EQ(events[15].x, 70);
    const char* names = events[16].names;
    ASSERT_NE(names, nullptr);
    EXPECT_STREQ(names, "/tmp/a");
    EXPECT_STREQ(names + 7, "/tmp/b c");
    EXPECT_EQ(names[16], '\0') << "ended by an empty name";
    FreeMemBlock(events[16].names);
}

TEST_F(Sdl, TheOwnScreenShowsTheWindowsAndHitsTheTopmost) {
    SDL_DisplayMode desktop{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    qvPlatformDisplay* bottom = Open(100, 100);
    ASSERT_EQ(OpenDisplayScreen(desktop.w, desktop.h, 32), 0);
    qvPlatformDisplay* top = AllocPlatformDisplay(nullptr);
    windows_.push_back(top);
    ASSERT_EQ(
        OpenPlatformWindow(top, {50, 40, 30, 30, QV_WINDOW_BORDERLESS, "top"}, 1, nullptr, nullptr),
        0);
    FillWindowRect(top, 0, 0, 30, 30, 0xFF0000);
    Present();
    std::vector<uint32_t> shown;
    ASSERT_TRUE(platform::testing::ReadPresentedPixels(top, &shown));
    EXPECT_EQ(shown[size_t(45) * desktop.w + 55] & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown[size_t(15) * desktop.w + 25] & 0xFFFFFF, 0u) << "the bottom window is black";

    Drain();
    const Uint32 screen = IdOf("Quorvella");
    ASSERT_NE(screen, 0u);
    EXPECT_EQ(IdOf("sdl test"), 0u) << "the window now lives on the screen";
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button = {SDL_MOUSEBUTTONDOWN, 0, screen, 0, SDL_BUTTON_LEFT, SDL_PRESSED, 1, 0, 55, 45};
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e.button.x = 25, e.button.y = 15;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    const std::vector<HostEvent> events = Drain();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].window, top->number);
    EXPECT_EQ(events[0].x, 5);
    EXPECT_EQ(events[0].y, 5);
    EXPECT_EQ(events[1].window, bottom->number);
    EXPECT_EQ(events[1].x, 5);

    CloseDisplayScreen();
    FillWindowRect(bottom, 0, 0, 100, 100, 0x00FF00);
    Present();
    ASSERT_TRUE(platform::testing::ReadPresentedPixels(bottom, &shown));
    EXPECT_EQ(shown.size(), size_t(100 * 100)) << "back in a window of its own";
    EXPECT_EQ(shown[0] & 0xFFFFFF, 0x00FF00u);
}

TEST_F(Sdl, AVirtualControllerGivesDirectionsAndButtons) {
    const int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 0);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    ASSERT_NE(joystick, nullptr);
    Drain();  // the device arrives as an event
    int32_t count = 0;
    EXPECT_EQ(CountJoyPorts(&count), 0);
    EXPECT_EQ(count, 1);

    enum : int { kUp = 11, kDown = 12, kLeft = 13, kRight = 14 };
    struct Case {
        std::vector<int> pad;
        Sint16 stickX, stickY;
        int32_t direction;
    };
    const Case cases[] = {
        {{}, 0, 0, 8},
        {{kUp}, 0, 0, 0},
        {{kUp, kRight}, 0, 0, 1},
        {{kRight}, 0, 0, 2},
        {{kDown, kRight}, 0, 0, 3},
        {{kDown}, 0, 0, 4},
        {{kDown, kLeft}, 0, 0, 5},
        {{kLeft}, 0, 0, 6},
        {{kUp, kLeft}, 0, 0, 7},
        {{}, 32767, 0, 2},
        {{}, 0, -32768, 0},
        {{}, -20000, 20000, 5},
        {{}, 10000, 0, 8},
        {{kUp, kDown}, 0, 0, 8},
    };
    for (const Case& c : cases) {
        for (int b = kUp; b <= kRight; ++b) {
            const bool on = std::find(c.pad.begin(), c.pad.end(), b) != c.pad.end();
            SDL_JoystickSetVirtualButton(joystick, b, on ? SDL_PRESSED : SDL_RELEASED);
        }
        SDL_JoystickSetVirtualAxis(joystick, 0, c.stickX);
        SDL_JoystickSetVirtualAxis(joystick, 1, c.stickY);
        int32_t direction = -1;
        uint32_t buttons = 1;
        ASSERT_EQ(ReadJoystick(0, &direction, &buttons), 0);
        EXPECT_EQ(direction, c.direction) << c.pad.size() << " " << c.stickX << " " << c.stickY;
        EXPECT_EQ(buttons, 0u) << "the pad is no button";
    }
    // Buttons A, Back and the right shoulder: SDL's order without the pad.
    for (int b : {0, 4, 10}) SDL_JoystickSetVirtualButton(joystick, b, SDL_PRESSED);
    uint32_t buttons = 0;
    ASSERT_EQ(ReadJoystick(0, nullptr, &buttons), 0);
    EXPECT_EQ(buttons, 0x411u);

    EXPECT_EQ(ReadJoystick(1, nullptr, nullptr), ERR_JOYSTICK);
    EXPECT_EQ(ReadJoystick(4, nullptr, nullptr), ERR_NOJOYATPORT);
    SDL_JoystickClose(joystick);
    SDL_JoystickDetachVirtual(index);
    Drain();
    EXPECT_EQ(ReadJoystick(0, nullptr, nullptr), ERR_JOYSTICK) << "unplugged";
}

TEST_F(Sdl, WithoutAMessageBoxTheRequesterAnswersHeadless) {
    ScopedEnv answers("QV_REQUESTER_ANSWERS", std::nullopt);
    EXPECT_EQ(ShowMessageRequester("Title", "Text", "Yes|No", 0), 1);
}

}  // namespace
}  // namespace qv::testing
