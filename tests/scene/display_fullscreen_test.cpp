// Full screen and the backfill: ChangeDisplayMode and the mode-switch hotkey between windows
// and the own screen, what the screen shows then, the start-up display modes, the desktop in
// display 1, the backfill kinds against RectFill and DrawGradient of the screen's size, and
// memory running out while the mode switches.
#include <memory>

#include "gfx/gradient.h"
#include "runtime/input_pump.h"
#include "runtime/key_table.h"
#include "scene/display_modes.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kModeSwitchEvent = 13;

// The displays with an applet's header in the registry, as a player run has it.
class FullScreen : public DisplayFixture {
protected:
    FullScreen()
        : header_(std::make_unique<qvScriptHeader>()),
          options_(std::make_unique<qvStartupOptions>()) {
        SetDisplayDefaults(header_.get(), options_.get());
        SetRegistryPointer(L, "applet", header_.get());
        platform::testing::SetScreenSize({1024, 768});
    }
    ~FullScreen() override { SetRegistryPointer(L, "applet", nullptr); }

    qvScriptHeader& Header() { return *header_; }

    // Display 1 of 320 x 200 showing a patterned picture 1, opened by start-up.
    int StartUp(std::vector<std::pair<Arg, Arg>> options = {}) {
        EXPECT_EQ(Call("CreateBGPic", {Num(1), Num(320), Num(200)}).code, 0);
        Patterned(Find(1));
        options.emplace_back(Str("bgpic"), Num(1));
        EXPECT_EQ(Call("CreateDisplay", {Num(1), Table(std::move(options))}).code, 0);
        return OpenFirstDisplay(L, header_.get(), options_.get());
    }

    // The run-time's own display at the head of the list, or none.
    static qvDisplay* Backfill() {
        qvDisplay* head = scene::FirstDisplay();
        return head != nullptr && head->settings.private1 != 0 ? head : nullptr;
    }

    // The screen as the desktop shows it: this program's windows over black.
    static std::vector<uint32_t> Screen() {
        OwnedBitMap grab(GrabScreenToBitMap(nullptr, 0, 0, ScreenWidth(), ScreenHeight()));
        return Pixels(grab.get());
    }

    // Black with the picture at (x, y).
    static std::vector<uint32_t> PictureOnBlack(const qvBGPic* picture, int32_t x, int32_t y) {
        const int32_t width = ScreenWidth(), height = ScreenHeight();
        std::vector<uint32_t> pixels(size_t(width) * height, 0);
        const std::vector<uint32_t> shown = Pixels(picture->shown.bitmap);
        for (int32_t j = 0; j < picture->shownHeight; ++j) {
            for (int32_t i = 0; i < picture->shownWidth; ++i) {
                pixels[size_t(y + j) * width + x + i] = shown[size_t(j) * picture->shownWidth + i];
            }
        }
        return pixels;
    }

    void AltEnter(const qvDisplay* display) {
        for (auto [key, down] : {std::pair{KeyCode("LALT"), true},
                                 {KeyCode("RETURN"), true},
                                 {KeyCode("RETURN"), false},
                                 {KeyCode("LALT"), false}}) {
            HostEvent event{};
            event.kind = HostEventKind::kKey;
            event.window = display->window->number;
            event.key = key, event.down = down;
            ASSERT_TRUE(platform::testing::InjectHostEvent(event));
        }
        ASSERT_EQ(PumpEvents(L), 0);
    }

private:
    std::unique_ptr<qvScriptHeader> header_;
    std::unique_ptr<qvStartupOptions> options_;
};

TEST_F(FullScreen, ChangeDisplayModeRefusesOtherModesAndSizesBelowOne) {
    ASSERT_EQ(StartUp(), 0);
    SetExitOnError(false);
    const std::vector<std::vector<Arg>> refused = {
        {Num(3)}, {Num(0)}, {Num(2)}, {Num(2), Num(0), Num(600)}, {Num(2), Num(800), Num(0)}};
    for (const std::vector<Arg>& args : refused) {
        EXPECT_EQ(Call("ChangeDisplayMode", args).code, ERR_WRONGUSAGE);
    }
    // Windowed while windowed: nothing happens.
    ClearLog();
    EXPECT_EQ(Call("ChangeDisplayMode", {Num(1)}).code, 0);
    EXPECT_TRUE(Log().empty());
    neighbours.recording = true;
    EXPECT_EQ(Call("ChangeDisplayMode", {Num(2), Num(800), Num(600)}).code, ERR_WRONGCMDRECVIDEO);
}

TEST_F(FullScreen, TheOwnScreenShowsTheDisplayCentredOnABlackBackfill) {
    ASSERT_EQ(StartUp({{Str("sizeable"), Num(1)}}), 0);
    qvDisplay* display = Display(1);
    const size_t pictures = PictureCount();
    ASSERT_EQ(Call("ChangeDisplayMode", {Num(2), Num(800), Num(600)}).code, 0);
    EXPECT_TRUE(OwnScreenOpen());
    EXPECT_EQ(ScreenWidth(), 800);
    qvDisplay* backfill = Backfill();
    ASSERT_NE(backfill, nullptr);
    EXPECT_EQ(DisplayCount(), 2u);
    EXPECT_EQ(backfill->state, DISPSTATE_OPEN);
    EXPECT_FALSE(IsPrimaryDisplay(backfill));
    EXPECT_TRUE(IsPrimaryDisplay(display));
    EXPECT_TRUE(backfill->window->pointer.hidden);
    const uint32_t flags = display->settings.flags;
    EXPECT_EQ(flags & (scene::kFlagBorderless | scene::kFlagFixed | scene::kFlagSizeable),
              scene::kFlagBorderless | scene::kFlagFixed);
    EXPECT_EQ(display->state, DISPSTATE_OPEN);
    EXPECT_EQ(display->window->x, 240);
    EXPECT_EQ(display->window->y, 200);
    EXPECT_EQ(Screen(), PictureOnBlack(Find(1), 240, 200));
    // The same size again changes nothing.
    ClearLog();
    EXPECT_EQ(Call("ChangeDisplayMode", {Num(2), Num(800), Num(600)}).code, 0);
    EXPECT_TRUE(Log().empty());

    // Back to windows: the backfill goes with its picture, the display gets its frame again.
    platform::testing::SetFrameSizes({4, 20, 4, 4});
    ASSERT_EQ(Call("ChangeDisplayMode", {Num(1)}).code, 0);
    EXPECT_FALSE(OwnScreenOpen());
    EXPECT_EQ(Backfill(), nullptr);
    EXPECT_EQ(DisplayCount(), 1u);
    EXPECT_EQ(PictureCount(), pictures);
    EXPECT_EQ(display->settings.flags & (scene::kFlagBorderless | scene::kFlagFixed), 0u);
    EXPECT_EQ(display->state, DISPSTATE_OPEN);
    EXPECT_EQ(display->window->x, (1024 - 328) / 2);
    EXPECT_EQ(display->window->y, (768 - 224) / 2);
    EXPECT_EQ(WindowPixels(display), Pixels(Find(1)->shown.bitmap));
}

TEST_F(FullScreen, TheHotkeySwitchesThePrimaryDisplayAndTellsTheScript) {
    ASSERT_EQ(StartUp(), 0);
    qvDisplay* display = Display(1);
    ASSERT_EQ(PumpEvents(L), 0);  // the start-up's activation of the display
    TakeEvents();
    AltEnter(display);
    EXPECT_TRUE(OwnScreenOpen());
    EXPECT_EQ(ScreenWidth(), 320) << "the display's size";
    EXPECT_EQ(display->window->x, 0);
    std::vector<QueuedEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].type, kModeSwitchEvent);
    AltEnter(display);
    EXPECT_FALSE(OwnScreenOpen());
    EXPECT_EQ(Backfill(), nullptr);
    EXPECT_EQ(display->state, DISPSTATE_OPEN);
    // Not while a video is recorded.
    neighbours.recording = true;
    AltEnter(display);
    EXPECT_FALSE(OwnScreenOpen());
}

TEST_F(FullScreen, StartUpModes) {
    struct Case {
        uint32_t mode;
        bool ownScreen;
        int32_t screenWidth;
        uint32_t flags;  // set on display 1
    };
    const Case cases[] = {
        {2, true, 320, 0x5},        // best fit: the display's size
        {4, true, 640, 0x5},        // manual: the smallest listed mode that holds it
        {6, false, 1024, 0x20005},  // on the desktop's screen, as a window
        {1, false, 1024, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        Header().display.displayMode = c.mode;
        platform::testing::SetScreenModes({{1024, 768}, {640, 480}, {800, 600}});
        ASSERT_EQ(StartUp(), 0);
        EXPECT_EQ(OwnScreenOpen(), c.ownScreen);
        EXPECT_EQ(ScreenWidth(), c.screenWidth);
        EXPECT_EQ(Display(1)->settings.flags & c.flags, c.flags);
        EXPECT_EQ(Display(1)->state, DISPSTATE_OPEN);
        EXPECT_EQ(Backfill() != nullptr, c.mode != 1);
        if (Backfill() != nullptr) {
            EXPECT_EQ(Backfill()->state, DISPSTATE_OPEN);
            EXPECT_EQ(Pixels(Backfill()->settings.picture->shown.bitmap),
                      std::vector<uint32_t>(size_t(ScreenWidth()) * ScreenHeight(), 0));
        }
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    }
}

// A backfill the applet declares is shown in windows too, below the screen's title bar unless
// it covers it; its kinds equal RectFill and DrawGradient of that size.
TEST_F(FullScreen, DeclaredBackfills) {
    platform::testing::SetTitleBar(20);
    struct Case {
        uint32_t kind;
        uint32_t cover;
        int32_t top;
    };
    // The kinds that start from a brush are tested with the brush library.
    for (const Case& c : {Case{1, 0, 20}, Case{2, 1, 0}}) {
        SCOPED_TRACE(c.kind);
        qvBackfill& declared = Header().display.backfill;
        declared.mode = c.kind;
        declared.startColour = 0x336699;
        declared.endColour = 0xFF8000;
        declared.coverTitleBar = c.cover;
        ASSERT_EQ(StartUp(), 0);
        qvDisplay* backfill = Backfill();
        ASSERT_NE(backfill, nullptr);
        EXPECT_EQ(backfill->window->y, c.top);
        const int32_t height = 768 - c.top;
        OwnedBitMap expected(AllocDisplayBitMap(1024, height));
        qvGradient gradient{};
        gradient.startColour = 0x336699, gradient.endColour = 0xFF8000;
        if (c.kind != 2) {
            RectFill(expected.get(), 0, 0, 1024, height, 0x336699);
        } else {
            DrawGradient(expected.get(), 0, 0, 1024, height, &gradient);
        }
        EXPECT_EQ(Pixels(backfill->settings.picture->shown.bitmap), Pixels(expected.get()));
        EXPECT_EQ(WindowPixels(backfill), Pixels(expected.get()));
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    }
}

// Full-screen start-up covers the desktop in black whatever the applet declared; a window
// keeps the declared backfill.
TEST_F(FullScreen, FullScreenStartUpModesGiveABlackBackfill) {
    Header().display.backfill.mode = 1;
    Header().display.backfill.startColour = 0x336699;
    platform::testing::SetScreenModes({{1024, 768}, {640, 480}, {800, 600}});
    for (auto [mode, colour] : {std::pair{2u, 0u}, {4u, 0u}, {6u, 0u}, {1u, 0x336699u}}) {
        SCOPED_TRACE(mode);
        Header().display.displayMode = mode;
        ASSERT_EQ(StartUp(), 0);
        ASSERT_NE(Backfill(), nullptr);
        const qvBGPic* picture = Backfill()->settings.picture;
        OwnedBitMap expected(AllocDisplayBitMap(picture->shownWidth, picture->shownHeight));
        RectFill(expected.get(), 0, 0, picture->shownWidth, picture->shownHeight, colour);
        EXPECT_EQ(Pixels(picture->shown.bitmap), Pixels(expected.get()));
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    }
}

TEST_F(FullScreen, TheDesktopInDisplayOne) {
    Header().wholeScreenFirstDisplay = 1;
    // A window of this program that the desktop shows.
    qvPlatformDisplay* other = OpenHeadlessWindow(100, 50, 8, 4);
    ASSERT_NE(other, nullptr);
    RectFill(other->framebuffer, 0, 0, 8, 4, 0x00FF00);
    ASSERT_EQ(Call("CreateDisplay", {Num(1), Table({{Str("width"), Num(1024)},
                                                    {Str("height"), Num(768)},
                                                    {Str("color"), Num(0x800000)}})})
                  .code,
              0);
    ASSERT_EQ(OpenFirstDisplay(L, &Header(), nullptr), 0);
    qvDisplay* display = Display(1);
    EXPECT_EQ(display->settings.flags, 0x42du);
    EXPECT_FALSE(OwnScreenOpen());
    EXPECT_EQ(DisplayCount(), 1u) << "no backfill";
    const std::vector<uint32_t> shown = Pixels(display->settings.picture->shown.bitmap);
    EXPECT_EQ(shown[size_t(51) * 1024 + 101], Stored(0x00FF00));
    EXPECT_EQ(shown[0], 0u);
    EXPECT_EQ(WindowPixels(display), shown);
    CloseHeadlessWindow(other);
}

TEST_F(FullScreen, TheDesktopRefusesRecordingScalingAndAnInitialPicture) {
    Header().wholeScreenFirstDisplay = 1;
    SetExitOnError(false);
    ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(10), Num(10)}).code, 0);
    EXPECT_EQ(Call("CreateDisplay", {Num(1)}).code, ERR_DISPLAYDESKTOP);
    EXPECT_EQ(Call("CreateDisplay", {Num(1), Table({{Str("bgpic"), Num(1)}})}).code,
              ERR_DISPLAYDESKTOP);
    ASSERT_EQ(Call("FreeBGPic", {Num(1)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(1), Table({{Str("scalemode"), Num(1)}})}).code, 0);
    EXPECT_EQ(OpenFirstDisplay(L, &Header(), nullptr), ERR_DDAUTOSCALE);
    // The display made its own picture 1: it goes with it.
    ASSERT_EQ(Call("FreeDisplay", {Num(1)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(1)}).code, 0);
    neighbours.recording = true;
    EXPECT_EQ(OpenFirstDisplay(L, &Header(), nullptr), ERR_DDRECVIDEO);
}

TEST(FitDisplaySizeToScreen, TheScreenOrTheOuterSize) {
    struct Case {
        scene::ScreenCache cache;
        uint32_t flags;
        int32_t width, height;
        bool borderless;  // the fit took the frame away
    };
    platform::testing::ResetHeadless();
    platform::testing::SetFrameSizes({4, 20, 4, 4});
    platform::testing::SetScreenSize({1000, 700});
    const Case cases[] = {
        {{1024, 768}, 0, 1024, 768, false},  // the framed window fits
        {{648, 500}, 0, 648, 500, true},     // only the frame does not fit
        {{648, 500}, scene::kFlagBorderless, 648, 500, false},
        {{600, 400}, 0, 648, 504, false},  // does not fit at all: the outer size
        {{-1, -1}, 0, 648, 504, false},    // no screen: never a size
        {{0, 0}, 0, 1000, 700, false},     // read from the screen
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.cache.width << "x" << c.cache.height);
        qvDisplay display{};
        display.settings.width = 640, display.settings.height = 480;
        display.settings.flags = c.flags;
        scene::ScreenCache cache = c.cache;
        int32_t width = 0, height = 0;
        scene::FitDisplaySizeToScreen(&cache, &display, &width, &height);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ((display.settings.flags & scene::kFlagBorderless) != 0,
                  c.borderless || c.flags != 0);
    }
    platform::testing::ResetHeadless();
}

// Memory running out at each allocation in turn while the mode switches: ERR_MEM, the
// displays closed from the failing step on (a switch back and an OpenDisplay bring display 1
// back), and nothing leaks (LeakSanitizer).
TEST_F(FullScreen, MemoryRunningOutWhileTheModeSwitches) {
    ASSERT_EQ(StartUp(), 0);
    SetExitOnError(false);
    int failures = 0;
    for (uint64_t n = 1; n < 10000; ++n) {
        CallResult result;
        {
            AllocationFault fault(n, false);
            result = Call("ChangeDisplayMode", {Num(2), Num(800), Num(600)});
        }
        if (result.code == 0) break;
        ++failures;
        ASSERT_EQ(result.code, ERR_MEM) << n << " " << DebugText();
        ASSERT_EQ(Call("ChangeDisplayMode", {Num(1)}).code, 0) << n;
        if (Display(1)->state == DISPSTATE_CLOSED) {
            ASSERT_EQ(Call("OpenDisplay", {Num(1)}).code, 0) << n;
        }
        ASSERT_EQ(Backfill(), nullptr) << n;
    }
    EXPECT_GE(failures, 3);
    EXPECT_TRUE(OwnScreenOpen());
    EXPECT_EQ(Screen(), PictureOnBlack(Find(1), 240, 200));
}

}  // namespace
}  // namespace qv::testing
