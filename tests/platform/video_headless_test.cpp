// The headless back end and the window model over it: the screen and its modes, the own
// screen, window operations and writes with their damage, the desktop grab, the vertical
// blank and the waits under a virtual clock, the input schedule of player runs, joysticks.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/error_codes.h"
#include "platform/linux/joystick.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"
#include "platform/linux/wait.h"
#include "tests/platform/video_test_support.h"

// SDL2 opens D-Bus when it looks for a desktop, which leaks inside that library.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace qv::testing {
namespace {

using platform::testing::InjectHostEvent;
using platform::testing::OperationLog;

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

class Headless : public HeadlessVideo {
protected:
    static std::string LastLog() {
        const std::vector<std::string> log = OperationLog();
        return log.empty() ? "" : log.back();
    }
    static bool Damaged(const qvPlatformDisplay* w, DamageRect r) {
        for (int i = 0; i < w->damage.count; ++i) {
            const DamageRect& d = w->damage.rects[i];
            if (d.x == r.x && d.y == r.y && d.width == r.width && d.height == r.height) return true;
        }
        return false;
    }
};

TEST_F(Headless, TheScreenComesFromTheEnvironmentAndTheHooks) {
    EXPECT_EQ(ScreenWidth(), 1920);
    EXPECT_EQ(ScreenHeight(), 1080);
    EXPECT_EQ(ScreenRefresh(), 60);
    EXPECT_EQ(ScreenTitleBar(), 0);
    const ScreenArea whole = UsableScreenArea();
    EXPECT_EQ(whole.width, 1920);
    EXPECT_EQ(whole.height, 1080);

    platform::testing::SetUsableArea({0, 24, 1920, 1000});
    platform::testing::SetTitleBar(24);
    const auto* area = reinterpret_cast<const ScreenArea*>(QueryBitMapAttr(nullptr, 23));
    EXPECT_EQ(area->y, 24);
    EXPECT_EQ(area->height, 1000);
    EXPECT_EQ(ScreenTitleBar(), 24);
}

TEST_F(Headless, ModesAreTheScreenAndTheStandardOnesThatFit) {
    ASSERT_EQ(EnumDisplayModes(nullptr, 0), 5);
    ScreenMode all[8]{};
    ASSERT_EQ(EnumDisplayModes(all, 8), 5);
    std::vector<std::pair<int32_t, int32_t>> sizes;
    for (int i = 0; i < 5; ++i) sizes.emplace_back(all[i].width, all[i].height);
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<std::pair<int32_t, int32_t>>{
                         {640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1920, 1080}}));
    std::vector<int64_t> areas;
    for (int i = 0; i < 5; ++i) areas.push_back(int64_t(all[i].width) * all[i].height);
    EXPECT_FALSE(std::is_sorted(areas.begin(), areas.end())) << "callers must not rely on order";

    // A capacity below the count writes only that many pairs and says so.
    ScreenMode two[3] = {{-1, -1}, {-1, -1}, {-1, -1}};
    EXPECT_EQ(EnumDisplayModes(two, 2), 2);
    EXPECT_EQ(two[2].width, -1) << "nothing beyond the capacity";
    EXPECT_EQ(EnumDisplayModes(two, 0), 0);
}

TEST_F(Headless, AWindowFitsUpToTheScreenSizeWithItsFrame) {
    struct Case {
        int32_t outerWidth, outerHeight;
        bool fits;
    };
    for (const Case& c : {Case{1920, 1080, true},
                          {1921, 1080, false},
                          {1920, 1081, false},
                          {1, 1, true},
                          {0, 0, true}}) {
        EXPECT_EQ(DisplayFitsScreen(0, 0, c.outerWidth, c.outerHeight), c.fits ? 1 : 0)
            << c.outerWidth << "x" << c.outerHeight;
    }
    // The frame counts: the display side passes the inner size plus the frame.
    platform::testing::SetFrameSizes({4, 20, 4, 4});
    qvPlatformDisplay* window = Open(0, 0, 8, 8);
    const FrameSizes f = NewSysIImage(window, 0);
    EXPECT_EQ(DisplayFitsScreen(0, 0, 1912 + f.left + f.right, 1056 + f.top + f.bottom), 1);
    EXPECT_EQ(DisplayFitsScreen(0, 0, 1913 + f.left + f.right, 1056 + f.top + f.bottom), 0);
    EXPECT_EQ(NewSysIImage(window, QV_WINDOW_BORDERLESS).top, 0) << "no frame without a border";
    // Off the desktop still fits: the position only picks the screen.
    EXPECT_EQ(DisplayFitsScreen(-500, 3000, 640, 480), 1);
}

TEST_F(Headless, TheScreenModeForTheFirstDisplay) {
    struct Case {
        int mode;
        int32_t fittedWidth, fittedHeight;
        int32_t width, height;
    };
    const Case cases[] = {
        {QV_SCREENMODE_WINDOWED, 800, 600, 1920, 1080},
        {QV_SCREENMODE_BESTFIT, 800, 600, 800, 600},
        {QV_SCREENMODE_BESTFIT, 0, 0, 1920, 1080},
        {QV_SCREENMODE_MANUAL, 700, 500, 800, 600},
        {QV_SCREENMODE_MANUAL, 1024, 768, 1024, 768},
        {QV_SCREENMODE_MANUAL, 4000, 3000, 1920, 1080},
    };
    for (const Case& c : cases) {
        int32_t width = 0, height = 0, depth = 0;
        EXPECT_EQ(SelectScreenModeForDisplay(c.mode, c.fittedWidth, c.fittedHeight, &width, &height,
                                             &depth),
                  0);
        EXPECT_EQ(width, c.width) << c.mode << " " << c.fittedWidth;
        EXPECT_EQ(height, c.height) << c.mode << " " << c.fittedWidth;
        EXPECT_EQ(depth, int32_t(QueryBitMapAttr(nullptr, 21)));
    }
}

TEST_F(Headless, TheOwnScreenIsTheScreenUntilItClosesAtOnce) {
    EXPECT_EQ(OpenDisplayScreen(0, 600, 32), ERR_SCREENSIZE);
    ASSERT_EQ(OpenDisplayScreen(800, 600, 32), 0);
    EXPECT_TRUE(OwnScreenOpen());
    EXPECT_EQ(QueryBitMapAttr(nullptr, 14), 800u);
    EXPECT_EQ(QueryBitMapAttr(nullptr, 15), 600u);
    EXPECT_EQ(UsableScreenArea().height, 600);
    EXPECT_EQ(LastLog(), "screen open 800x600");
    Open(10, 10, 100, 100);  // a window of our own on it does not keep it open
    CloseDisplayScreen();
    EXPECT_FALSE(OwnScreenOpen());
    EXPECT_EQ(ScreenWidth(), 1920);
    EXPECT_EQ(LastLog(), "screen close");
    CloseDisplayScreen();  // closing twice is nothing
    EXPECT_EQ(LastLog(), "screen close");
}

TEST_F(Headless, OpeningRecordsTheWindowAndNumbersIt) {
    platform::testing::SetFrameSizes({2, 18, 2, 2});
    qvPlatformDisplay* first = Open(10, 20, 64, 48, QV_WINDOW_SIZEABLE);
    EXPECT_EQ(LastLog(), "open 1 10,20 64x48 flags=0x2 title=test shape=0");
    EXPECT_EQ(first->frame.top, 18);
    qvPlatformDisplay* second = Open(0, 0, 8, 8, QV_WINDOW_BORDERLESS);
    EXPECT_EQ(second->number, 2u);
    EXPECT_EQ(second->frame.top, 0);
    EXPECT_EQ(FindOpenWindow(1), first);
    EXPECT_EQ(OpenWindows(), first) << "bottom first";
    EXPECT_EQ(first->next, second);

    CloseDisplayWindow(first);
    EXPECT_EQ(LastLog(), "close 1");
    EXPECT_EQ(FindOpenWindow(1), nullptr);
    EXPECT_EQ(first->framebuffer, nullptr);
    ASSERT_EQ(OpenPlatformWindow(first, {0, 0, 4, 4, 0, nullptr}, 0, nullptr, nullptr), 0);
    EXPECT_EQ(first->number, 3u) << "a reopened window gets a new number";

    EXPECT_EQ(OpenPlatformWindow(second, {0, 0, 0, 4, 0, "x"}, 0, nullptr, nullptr), ERR_WINDOW);
    EXPECT_FALSE(WindowIsOpen(second)) << "a failed opening leaves the window closed";
    const std::string longTitle(400, 'T');
    SetDisplayWindowTitle(first, longTitle.c_str());
    EXPECT_EQ(std::string(first->title), std::string(255, 'T'));
}

TEST_F(Headless, OperationsOfAnOpenWindowReachTheBackEnd) {
    qvPlatformDisplay* w = Open(0, 0, 16, 16);
    struct Case {
        std::function<void()> call;
        std::string line;
    };
    const std::vector<Case> cases = {
        {[&] { MoveDisplayWindow(w, 5, -7); }, "place 1 5,-7 16x16"},
        {[&] { SetDisplayWindowTitle(w, "Hello"); }, "title 1 Hello"},
        {[&] { ActivateDisplayWindow(w, 1); }, "activate 1 front"},
        {[&] { IconifyDisplay(w, 1); }, "iconify 1"},
        {[&] { RestoreIconifiedDisplay(); }, "restore 1"},
        {[&] { UpdateDisplayAppWindow(w, 1); }, "input 1 drop=1 clipboard=0"},
        {[&] { SetClipboardChangeHook(w, 1); }, "input 1 drop=1 clipboard=1"},
        {[&] { ChangeDisplayWindowBox(w, 1, 2, 20, 10); }, "place 1 1,2 20x10"},
    };
    for (const Case& c : cases) {
        c.call();
        EXPECT_EQ(LastLog(), c.line);
    }
    EXPECT_FALSE(w->iconified);
    // A minimised window keeps its drop registration.
    IconifyDisplay(w, 1);
    UpdateDisplayAppWindow(w, 0);
    EXPECT_TRUE(w->dropTarget);

    // A closed window's operations change the record only.
    CloseDisplayWindow(w);
    const size_t logged = OperationLog().size();
    MoveDisplayWindow(w, 9, 9);
    SetDisplayWindowTitle(w, "Closed");
    ActivateDisplayWindow(w, 1);
    EXPECT_EQ(IconifyDisplay(w, 1), 0);
    EXPECT_EQ(ChangeDisplayWindowBox(w, 0, 0, 5, 5), 0);
    EXPECT_EQ(OperationLog().size(), logged);
    EXPECT_STREQ(w->title, "Closed");
    RefreshTitleGadgets(w);
    RefreshTitleGadgets(w);
    EXPECT_EQ(platform::testing::TitleGadgetRefreshes(), 2u);
}

TEST_F(Headless, WindowWritesLandAtInnerCoordinatesWithTheirDamage) {
    platform::testing::SetFrameSizes({3, 11, 3, 3});
    qvPlatformDisplay* w = Open(100, 50, 40, 30);
    OwnedBitMap source(AllocDisplayBitMap(4, 4));
    RectFill(source.get(), 0, 0, 4, 4, kBlue);
    struct Case {
        const char* name;
        std::function<void()> write;
        int32_t x, y;  // a pixel that must change
        uint32_t rgb;
        DamageRect damage;
    };
    const std::vector<Case> cases = {
        {"fill", [&] { FillWindowRect(w, 5, 6, 3, 2, kRed); }, 7, 7, kRed, {5, 6, 3, 2}},
        {"pixel", [&] { WriteWindowPixel(w, 39, 29, kGreen); }, 39, 29, kGreen, {39, 29, 1, 1}},
        {"line", [&] { DrawWindowLine(w, 10, 20, 2, 12, kGreen); }, 6, 16, kGreen, {2, 12, 9, 9}},
        {"blit",
         [&] { WindowBlit(source.get(), 0, 0, w, 30, 1, 4, 4, 0, 0); },
         33,
         4,
         kBlue,
         {30, 1, 4, 4}},
        {"scaled",
         [&] { WindowBlit(source.get(), 0, 0, w, 0, 20, 4, 4, 8, 8); },
         7,
         27,
         kBlue,
         {0, 20, 8, 8}},
        {"cut", [&] { FillWindowRect(w, 36, -2, 10, 4, kRed); }, 39, 0, kRed, {36, 0, 4, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w->damage.count = 0;
        c.write();
        EXPECT_EQ(ReadBitMapPixel(w->framebuffer, c.x, c.y), c.rgb);
        EXPECT_EQ(w->damage.count, 1);
        EXPECT_TRUE(Damaged(w, c.damage));
    }
    // The desktop shows the inner area inside the frame.
    OwnedBitMap desktop(GrabScreenToBitMap(nullptr, 0, 0, 200, 100));
    ASSERT_TRUE(desktop);
    EXPECT_EQ(ReadBitMapPixel(desktop.get(), 100 + 3 + 7, 50 + 11 + 7), kRed);
    EXPECT_EQ(ReadBitMapPixel(desktop.get(), 100 + 7, 50 + 7), 0u);

    // Writes outside the framebuffer add no damage; a closed window takes no writes at all.
    w->damage.count = 0;
    FillWindowRect(w, 40, 0, 5, 5, kRed);
    WriteWindowPixel(w, -1, 3, kRed);
    EXPECT_EQ(w->damage.count, 0);
    CloseDisplayWindow(w);
    FillWindowRect(w, 0, 0, 5, 5, kRed);
    WindowBlit(source.get(), 0, 0, w, 0, 0, 4, 4, 0, 0);
    DrawWindowLine(w, 0, 0, 3, 3, kRed);
    EXPECT_EQ(w->damage.count, 0);
}

TEST_F(Headless, DamageBeyondTheSlotsBecomesItsBoundingBox) {
    qvPlatformDisplay* w = Open(0, 0, 100, 100);
    w->damage.count = 0;
    for (int32_t i = 0; i < DamageList::kSlots; ++i) WriteWindowPixel(w, i * 10, i, kRed);
    EXPECT_EQ(w->damage.count, DamageList::kSlots);
    WriteWindowPixel(w, 70, 7, kRed);
    EXPECT_EQ(w->damage.count, DamageList::kSlots) << "contained in a slot already";
    WriteWindowPixel(w, 99, 99, kRed);
    ASSERT_EQ(w->damage.count, 1);
    EXPECT_TRUE(Damaged(w, {0, 0, 100, 100}));
    FillWindowRect(w, 10, 10, 2, 2, kRed);
    EXPECT_EQ(w->damage.count, 1) << "inside the box already";
    EXPECT_EQ(TakeDamage(w).count, 1);
    EXPECT_EQ(w->damage.count, 0);
}

TEST_F(Headless, ResizingKeepsTheTopLeftAndTheShape) {
    qvPlatformDisplay* w = AllocPlatformDisplay(nullptr);
    OwnedPlane mask(AllocMaskBitMap(nullptr, 8, 8, 1));
    FillMaskRect(mask.get(), 0, 0, 4, 8, 0);  // the left half shows
    ASSERT_EQ(OpenPlatformWindow(w, {0, 0, 8, 8, 0, "s"}, 0, mask.get(), nullptr), 0);
    FillWindowRect(w, 0, 0, 8, 8, kRed);
    ASSERT_EQ(ChangeDisplayWindowBox(w, 0, 0, 12, 4), 0);
    EXPECT_EQ(w->framebuffer->width, 12);
    EXPECT_EQ(ReadBitMapPixel(w->framebuffer, 7, 3), kRed);
    EXPECT_EQ(ReadBitMapPixel(w->framebuffer, 8, 0), 0u) << "the new area is black";
    EXPECT_EQ(ReadBitMapPixel(w->shape, 3, 0), 1u);
    EXPECT_EQ(ReadBitMapPixel(w->shape, 5, 0), 0u);
    EXPECT_EQ(ReadBitMapPixel(w->shape, 10, 0), 1u) << "beyond the old shape it shows";
    EXPECT_TRUE(Damaged(w, {0, 0, 12, 4}));
    {
        AllocationFault fault(1, false);
        EXPECT_EQ(ChangeDisplayWindowBox(w, 0, 0, 30, 30), ERR_MEM);
    }
    EXPECT_EQ(w->framebuffer->width, 12) << "a failed resize changes nothing";
    FreePlatformDisplay(w);
}

TEST_F(Headless, TheDesktopShowsShapesAndLeavesOutMinimisedWindows) {
    qvPlatformDisplay* shaped = AllocPlatformDisplay(nullptr);
    OwnedPlane alpha(AllocAlphaBitMap(4, 4, 1));
    alpha->plane[0] = 1;  // the faintest alpha still shows
    alpha->plane[alpha->bytesPerRow + 1] = 255;
    ASSERT_EQ(
        OpenPlatformWindow(shaped, {2, 2, 4, 4, QV_WINDOW_BORDERLESS, ""}, 0, nullptr, alpha.get()),
        0);
    FillWindowRect(shaped, 0, 0, 4, 4, kGreen);
    qvPlatformDisplay* hidden = Open(20, 0, 4, 4);
    FillWindowRect(hidden, 0, 0, 4, 4, kRed);
    IconifyDisplay(hidden, 1);

    OwnedBitMap desktop(GrabScreenToBitMap(nullptr, 0, 0, 30, 10));
    ASSERT_TRUE(desktop);
    EXPECT_EQ(ReadBitMapPixel(desktop.get(), 2, 2), kGreen);
    EXPECT_EQ(ReadBitMapPixel(desktop.get(), 3, 3), kGreen);
    EXPECT_EQ(ReadBitMapPixel(desktop.get(), 3, 2), 0u) << "outside the shape";
    EXPECT_EQ(ReadBitMapPixel(desktop.get(), 21, 1), 0u) << "minimised";
    EXPECT_TRUE(OwnedBitMap(GrabScreenToBitMap(hidden, 0, 0, 4, 4))) << "its own grab works";
    CloseDisplayWindow(shaped);
    EXPECT_FALSE(OwnedBitMap(GrabScreenToBitMap(shaped, 0, 0, 4, 4))) << "closed";
    FreePlatformDisplay(shaped);
}

TEST_F(Headless, TheVerticalBlankWaitsForTheNextSixtiethAndPresents) {
    VirtualClock clock(1000005);
    const uint64_t presents = PresentCount(), vblanks = VBlankCount();
    // 1000005 us is in frame 60; the next boundaries are 61/60 s, 62/60 s, ... rounded up.
    for (int64_t frame = 61; frame <= 64; ++frame) {
        PlatformWaitVBlank(nullptr, nullptr);
        EXPECT_EQ(VirtualClock::Now(), (frame * 1000000 + 59) / 60);
    }
    EXPECT_EQ(VBlankCount(), vblanks + 4);
    EXPECT_EQ(PresentCount(), presents + 4);
    // On a boundary, the next one is a whole frame away.
    VirtualClock::Set(2000000);
    PlatformWaitVBlank(nullptr, nullptr);
    EXPECT_EQ(VirtualClock::Now(), 2016667);
    platform::testing::SetRefresh(50);
    PlatformWaitVBlank(nullptr, nullptr);
    EXPECT_EQ(VirtualClock::Now(), 2020000);
}

TEST_F(Headless, AWaitEndsAtItsDeadlineOrAtInput) {
    VirtualClock clock(5000000);
    InputDue().store(0);
    EXPECT_FALSE(WaitForHostEvent(5250000));
    EXPECT_EQ(VirtualClock::Now(), 5250000) << "nothing woke it";
    EXPECT_EQ(InputDue().load(), 0u);

    HostEvent close{};
    close.kind = HostEventKind::kClose;
    ASSERT_TRUE(InjectHostEvent(close));
    InputDue().store(0);
    EXPECT_TRUE(WaitForHostEvent(9000000));
    EXPECT_EQ(VirtualClock::Now(), 5250000) << "pending input wakes it at once";
    EXPECT_EQ(InputDue().load(), 1u);
}

TEST_F(Headless, TheInjectionQueueHoldsAThousandAndFreesWhatItRefuses) {
    HostEvent event{};
    event.kind = HostEventKind::kMotion;
    int queued = 0;
    while (InjectHostEvent(event)) ++queued;
    EXPECT_EQ(queued, 1024);
    const uint64_t live = GetMemoryStats().liveBlocks;
    EXPECT_FALSE(platform::testing::InjectDrop(1, 0, 0, {"a", "b"}));
    EXPECT_EQ(GetMemoryStats().liveBlocks, live) << "the refused drop's names are freed";
}

TEST_F(Headless, JoysticksAnswerOnTheirPorts) {
    platform::testing::SetJoystick(1, true, 3, 0x5);
    int32_t direction = -1, count = -1;
    uint32_t buttons = 0;
    EXPECT_EQ(ReadJoystick(1, &direction, &buttons), 0);
    EXPECT_EQ(direction, 3);
    EXPECT_EQ(buttons, 0x5u);
    EXPECT_EQ(ReadJoystick(1, nullptr, nullptr), 0);
    EXPECT_EQ(ReadJoystick(0, &direction, &buttons), ERR_JOYSTICK);
    EXPECT_EQ(ReadJoystick(4, &direction, &buttons), ERR_NOJOYATPORT);
    EXPECT_EQ(ReadJoystick(-1, &direction, &buttons), ERR_NOJOYATPORT);
    EXPECT_EQ(CountJoyPorts(&count), 0);
    EXPECT_EQ(count, 1);
}

// QV_HEADLESS_INPUT, read when the back end starts.
class HeadlessInput : public HeadlessVideo {
protected:
    void SetUp() override {}  // each test starts the back end with its own file
    int Start(const std::string& text, std::string* detail) {
        file_ = scratch_ / "input.txt";
        std::ofstream(file_) << text;
        input_env_.emplace("QV_HEADLESS_INPUT", file_);
        return StartVideo(detail);
    }
    VirtualClock clock_{1000000};  // frames follow it: frame 1 begins at 1 s
    ScratchDir scratch_;
    std::string file_;
    std::optional<ScopedEnv> input_env_;
};

TEST_F(HeadlessInput, AMalformedLineEndsStartUpNamingIt) {
    const char* bad[] = {
        "12 clack 1 2",
        "0 close",
        "x close",
        "12 click 1",
        "12 click 1 2 3",
        "12 key",
        "12 key -1",
        "12 key 4294967296",
        "12 move a b",
        "12 close now",
        "-3 close",
        "12",
        "99999999999999999999 close",
        "12 press 1",
        "12 release 1 2 3",
        "12 keydown",
        "12 keyup x",
        "12 keydown 1 2",
        "12 movewindow 1",
        "12 sizewindow 0 10",
        "12 sizewindow 10 32769",
        "12 activate 2",
        "12 deactivate x",
        "12 key 97 @0",
        "12 key 97 @",
        "12 close @4294967296",
        "12 close @x",
        "12 key 97 @2 @3",
        "12 @2 key 97",
    };
    for (const char* line : bad) {
        SCOPED_TRACE(line);
        std::string detail;
        EXPECT_EQ(Start(std::string("1 close\n\n") + line + "\n", &detail), ERR_READFILE);
        EXPECT_EQ(detail, file_ + " (line 3)");
    }
    std::string detail;
    input_env_.emplace("QV_HEADLESS_INPUT", scratch_ / "missing.txt");
    EXPECT_EQ(StartVideo(&detail), ERR_READFILE);
    EXPECT_EQ(detail, scratch_ / "missing.txt (cannot be opened)");
}

TEST_F(HeadlessInput, AMalformedLineIsDescribedWithItsTextAndWhatWasExpected) {
    const std::string any =
        "FRAME click|press|release|move|movewindow X Y, FRAME sizewindow W H, FRAME "
        "key|keydown|keyup CODE or FRAME close|activate|deactivate, each with an optional "
        "@DISPLAY";
    const struct {
        const char* line;
        std::string expected;
    } cases[] = {
        {"12 clack 1 2", any},
        {"x close", any},
        {"12", any},
        {"12 press 1", "FRAME press X Y [@DISPLAY]"},
        {"12 keyup x", "FRAME keyup CODE [@DISPLAY]"},
        {"12 close now", "FRAME close [@DISPLAY]"},
        {"12 sizewindow 0 5", "FRAME sizewindow W H [@DISPLAY]"},
        {"12 key 97 @0", "FRAME key CODE [@DISPLAY]"},
        {"12 @2 close", any},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string detail;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Start(std::string("1 close\n") + c.line + "\n", &detail), ERR_READFILE);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "QV_HEADLESS_INPUT " + file_ + " line 2 \"" + c.line + "\": expected " +
                      c.expected + "\n");
    }
}

// A key or a button held over frames: each line gives one edge, so the state between them can
// be seen.
TEST_F(HeadlessInput, HeldKeysAndButtonsArriveAsSingleEdges) {
    std::string detail;
    ASSERT_EQ(Start("2 keydown 65\n2 press 10 20\n4 keyup 65\n4 release 11 21\n", &detail), 0)
        << detail;
    Open(0, 0, 200, 100);
    const struct {
        HostEventKind kind;
        bool down;
        int32_t x, y;
        uint32_t key;
    } frames[][2] = {
        {{HostEventKind::kKey, true, 0, 0, 65}, {HostEventKind::kButton, true, 10, 20, 0}},
        {{HostEventKind::kKey, false, 0, 0, 65}, {HostEventKind::kButton, false, 11, 21, 0}},
    };
    HostEvent e{};
    for (const auto& frame : frames) {
        WaitVerticalBlank();  // frame 1, then 3
        EXPECT_FALSE(Video().pollEvent(&e)) << "nothing between the edges";
        WaitVerticalBlank();  // frame 2, then 4
        for (const auto& want : frame) {
            ASSERT_TRUE(Video().pollEvent(&e));
            EXPECT_EQ(e.kind, want.kind);
            EXPECT_EQ(e.down, want.down);
            EXPECT_EQ(e.x, want.x);
            EXPECT_EQ(e.y, want.y);
            EXPECT_EQ(e.key, want.key);
        }
        EXPECT_FALSE(Video().pollEvent(&e)) << "no release follows a press";
    }
}

TEST_F(HeadlessInput, EventsArriveAtTheirFramesInTheFirstWindow) {
    std::string detail;
    ASSERT_EQ(Start("3 key 97\n2 click 100 80\n  \n3 move 5 7\n4 close\n", &detail), 0) << detail;
    Open(0, 0, 200, 100);
    HostEvent e{};
    Present();            // frame 1, shown at the first refresh
    WaitVerticalBlank();  // that refresh
    EXPECT_FALSE(Video().pollEvent(&e));
    InputDue().store(0);
    WaitVerticalBlank();  // frame 2: the click
    EXPECT_EQ(InputDue().load(), 1u);
    ASSERT_TRUE(Video().pollEvent(&e));
    EXPECT_EQ(e.kind, HostEventKind::kButton);
    EXPECT_EQ(e.window, 1u);
    EXPECT_EQ(e.x, 100);
    EXPECT_EQ(e.y, 80);
    EXPECT_TRUE(e.down);
    ASSERT_TRUE(Video().pollEvent(&e));
    EXPECT_FALSE(e.down);
    WaitVerticalBlank();  // frame 3: the key down and up, then the move, in the file's order
    const HostEventKind kinds[] = {HostEventKind::kKey, HostEventKind::kKey,
                                   HostEventKind::kMotion};
    for (HostEventKind kind : kinds) {
        ASSERT_TRUE(Video().pollEvent(&e));
        EXPECT_EQ(e.kind, kind);
    }
    WaitVerticalBlank();
    ASSERT_TRUE(Video().pollEvent(&e));
    EXPECT_EQ(e.kind, HostEventKind::kClose);
    EXPECT_FALSE(Video().pollEvent(&e));
}

// The host events that wait, one word group each: "focus W in|out", "key W CODE", "moved W X Y",
// "sized W WIDTH HEIGHT" (W the window's number; a key's up edge is left out).
std::vector<std::string> Pending() {
    std::vector<std::string> out;
    for (HostEvent e{}; Video().pollEvent(&e);) {
        const std::string w = std::to_string(e.window) + " ";
        const std::string xy = std::to_string(e.x) + " " + std::to_string(e.y);
        if (e.kind == HostEventKind::kFocus) out.push_back("focus " + w + (e.down ? "in" : "out"));
        if (e.kind == HostEventKind::kKey && e.down)
            out.push_back("key " + w + std::to_string(e.key));
        if (e.kind == HostEventKind::kMoved) out.push_back("moved " + w + xy);
        if (e.kind == HostEventKind::kResized) out.push_back("sized " + w + xy);
    }
    return out;
}

// Input goes to the display a line names, else to the active window, else to the topmost
// window shown; every change of the active window is reported, the loser first, and moves
// and sizes that change nothing are no events.
TEST_F(HeadlessInput, InputFollowsTheActiveWindowAndFocusChangesAreReported) {
    std::string detail;
    ASSERT_EQ(Start("2 key 97\n3 key 98 @7\n4 activate @5\n5 deactivate\n6 key 99\n"
                    "7 movewindow 0 0 @5\n8 movewindow 4 5 @5\n9 sizewindow 8 8\n"
                    "10 sizewindow 9 8\n11 key 100 @6\n13 key 101\n",
                    &detail),
              0)
        << detail;
    qvPlatformDisplay* one = Open(0, 0, 8, 8);
    qvPlatformDisplay* two = Open(0, 0, 8, 8);
    one->displayId = 5, two->displayId = 7;
    ActivateDisplayWindow(two, 0);
    using Events = std::vector<std::string>;
    const Events frames[] = {
        {"focus 2 in"},                 // 1: activated by the run-time
        {"key 2 97"},                   // 2: to the active window
        {"key 2 98"},                   // 3: to display 7
        {"focus 2 out", "focus 1 in"},  // 4: display 5 activated, and to the front
        {"focus 1 out"},                // 5: another program has the focus
        {"key 1 99"},                   // 6: to the topmost window
        {},                             // 7: where it is already
        {"moved 1 4 5"},                // 8
        {},                             // 9: the size it has
        {"sized 1 9 8"},                // 10
        {},                             // 11: display 6 has no window
    };
    for (const Events& want : frames) {
        WaitVerticalBlank();
        EXPECT_EQ(Pending(), want) << "frame " << Refreshes();
    }
    ActivateDisplayWindow(two, 1);
    IconifyDisplay(two, 1);
    WaitVerticalBlank();  // 12
    EXPECT_EQ(Pending(), (Events{"focus 2 in", "focus 2 out"})) << "a minimised window loses it";
    WaitVerticalBlank();  // 13
    EXPECT_EQ(Pending(), Events{"key 1 101"}) << "the topmost window shown";
    OpenPlatformWindow(two, {0, 0, 8, 8, 0, "again"}, 1, nullptr, nullptr);
    CloseDisplayWindow(two);
    EXPECT_EQ(Pending(), Events{"focus 3 in"}) << "a closed window hands the focus to none";
}

// QV_HEADLESS_FRAMES: where the frames go, read when the back end starts.
class HeadlessFrames : public HeadlessVideo {
protected:
    void SetUp() override {}  // each test starts the back end with its own folder
    int Start(const std::string& dir, std::string* detail) {
        frames_env_.emplace("QV_HEADLESS_FRAMES", dir);
        return StartVideo(detail);
    }
    ScratchDir scratch_;
    std::optional<ScopedEnv> frames_env_;
};

// Changes the current directory for one scope.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::string& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~ScopedCurrentDir() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

TEST_F(HeadlessFrames, ARelativeFolderIsTakenFromTheStartDirectoryAndMade) {
    scratch_.MakeDir("start");
    scratch_.MakeDir("applet");
    {
        ScopedCurrentDir start(scratch_ / "start");
        std::string detail;
        ASSERT_EQ(Start("frames/run1", &detail), 0) << detail;
    }
    // The player changes to the applet's folder after start-up.
    ScopedCurrentDir applet(scratch_ / "applet");
    FillWindowRect(Open(0, 0, 8, 8), 0, 0, 8, 8, kRed);
    Present();
    EXPECT_TRUE(PathExists(scratch_ / "start/frames/run1/frame-000001-w1.png"));
    EXPECT_FALSE(PathExists(scratch_ / "applet/frames"));
}

TEST_F(HeadlessFrames, AFolderThatCannotBeMadeEndsStartUpNamingIt) {
    const std::string file = scratch_.Write("file", ToBytes("x"));
    for (const std::string& dir : {file, file + "/sub", std::string("/proc/no/such")}) {
        SCOPED_TRACE(dir);
        std::string detail;
        EXPECT_EQ(Start(dir, &detail), ERR_CREATEDIR);
        EXPECT_EQ(detail.rfind(dir + " (", 0), 0u) << detail;
    }
}

// A flip copies after the vertical blank: its picture is what the window shows at that
// present, so it is written under that present's frame.
TEST_F(HeadlessFrames, ChangesShownWithoutANewPresentKeepItsNumber) {
    VirtualClock clock(1000000);
    std::string detail;
    ASSERT_EQ(Start(scratch_.path(), &detail), 0) << detail;
    qvPlatformDisplay* w = Open(0, 0, 4, 4);
    Present();
    FillWindowRect(w, 0, 0, 4, 4, kGreen);
    PresentChanges();
    EXPECT_EQ(PresentCount(), 1u);
    const Bytes shown = ReadBytes(scratch_ / "frame-000001-w1.png");
    WaitVerticalBlank();
    WaitVerticalBlank();
    EXPECT_FALSE(PathExists(scratch_ / "frame-000002-w1.png")) << "nothing changed since";
    FillWindowRect(w, 0, 0, 4, 4, kRed);
    Present();
    EXPECT_NE(ReadBytes(scratch_ / "frame-000003-w1.png"), shown);
}

// A frame is what a refresh shows: a present shows at the next refresh, the vertical blank's
// own at the refresh it waited for, however often the run presents between two blanks (the
// last picture wins).
TEST_F(HeadlessFrames, AFrameIsWhatARefreshShows) {
    VirtualClock clock(1000000);
    std::string detail;
    ASSERT_EQ(Start(scratch_.path(), &detail), 0) << detail;
    qvPlatformDisplay* w = Open(0, 0, 4, 4);
    FillWindowRect(w, 0, 0, 4, 4, kGreen);
    Present();
    Present();
    FillWindowRect(w, 0, 0, 4, 4, kRed);
    Present();
    WaitVerticalBlank();  // refresh 1, nothing new
    FillWindowRect(w, 0, 0, 4, 4, kGreen);
    Present();
    WaitVerticalBlank();  // refresh 2
    FillWindowRect(w, 0, 0, 4, 4, kRed);
    WaitVerticalBlank();  // refresh 3 shows what was drawn before it
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path()))
        written.push_back(entry.path().filename().string());
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, (std::vector<std::string>{"frame-000001-w1.png", "frame-000002-w1.png",
                                                 "frame-000003-w1.png"}));
    EXPECT_EQ(ReadBytes(scratch_ / "frame-000001-w1.png"),
              ReadBytes(scratch_ / "frame-000003-w1.png"));
    EXPECT_NE(ReadBytes(scratch_ / "frame-000001-w1.png"),
              ReadBytes(scratch_ / "frame-000002-w1.png"));
    EXPECT_EQ(PresentCount(), 7u) << "every present counts";
}

// QV_HEADLESS_CLOCK=virtual: time moves only by waits, at once to their end.
class HeadlessClock : public HeadlessVideo {
protected:
    void SetUp() override {
        clock_env_.emplace("QV_HEADLESS_CLOCK", "virtual");
        HeadlessVideo::SetUp();
        ASSERT_FALSE(UsingSystemClock());
    }
    std::optional<ScopedEnv> clock_env_;
};

TEST_F(HeadlessClock, WaitsMoveTheClockToTheirEndAtOnce) {
    constexpr int64_t kWallAtStart = 1767225600LL * 1000000;  // 2026-01-01 00:00:00 UTC
    const int64_t start = MonotonicMicros();
    EXPECT_EQ(Clock().wallMicros(), kWallAtStart + start);
    EXPECT_EQ(MonotonicMicros(), start) << "reading does not move it";
    WaitVerticalBlank();
    const int64_t blank = MonotonicMicros();
    EXPECT_GT(blank, start);
    EXPECT_LE(blank, start + 1000000 / 60 + 1);
    Clock().sleepUntil(blank + 5000000);
    EXPECT_EQ(MonotonicMicros(), blank + 5000000);
    Clock().sleepUntil(blank);
    EXPECT_EQ(MonotonicMicros(), blank + 5000000) << "never backwards";
    StopVideo();
    EXPECT_TRUE(UsingSystemClock());
}

TEST_F(HeadlessClock, AWaitOnScheduledInputEndsAtItsFrame) {
    StopVideo();
    ScratchDir dir;
    std::ofstream(dir / "input.txt") << "40 key 97\n";
    ScopedEnv input("QV_HEADLESS_INPUT", dir / "input.txt");
    std::string detail;
    ASSERT_EQ(StartVideo(&detail), 0) << detail;
    Open(0, 0, 10, 10);
    AbortFlag abort;
    uint32_t signals = 0;
    const int64_t start = MonotonicMicros();
    for (int wait = 0; wait < 100 && signals == 0; ++wait) signals = BuildWaitMask({}, &abort);
    EXPECT_EQ(signals, uint32_t{QV_WAIT_INPUT});
    EXPECT_EQ(abort.load(), 0u);
    // Frame 40 comes with the 40th refresh after the start, and the wait ends there.
    EXPECT_EQ(Refreshes(), 40u);
    EXPECT_EQ(MonotonicMicros() - start, 666667);
    // With nothing left to come and no timer, the wait could never end.
    HostEvent e{};
    while (Video().pollEvent(&e)) {
    }
    InputDue().store(0);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(BuildWaitMask({}, &abort), uint32_t{QV_WAIT_BREAK});
    EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(abort.load(), 1u);
}

// Refresh N comes N / refresh seconds after a start on a boundary; the time of a refresh to
// come counts at the rate of the moment.
TEST_F(HeadlessClock, RefreshesFollowTheClock) {
    const int64_t start = MonotonicMicros();  // 1 s, on a boundary
    EXPECT_EQ(Refreshes(), 0u);
    EXPECT_EQ(RefreshTime(1), start + 16667) << "61/60 s, rounded up";
    Clock().sleepUntil(start + 16666);
    EXPECT_EQ(Refreshes(), 0u);
    Clock().sleepUntil(start + 16667);
    EXPECT_EQ(Refreshes(), 1u);
    EXPECT_EQ(RefreshTime(1), start + 16667) << "now, once it came";
    EXPECT_EQ(RefreshTime(30), start + 500000);
    Clock().sleepUntil(start + 1000000);
    EXPECT_EQ(Refreshes(), 60u);
    WaitVerticalBlank();
    EXPECT_EQ(Refreshes(), 61u);
    platform::testing::SetRefresh(50);
    EXPECT_EQ(RefreshTime(62), start + 1020000) << "the next boundary at 50 Hz";
    Clock().sleepUntil(start + 1040000);
    EXPECT_EQ(Refreshes(), 63u);
}

TEST(VideoChoice, AnUnknownClockEndsStartUp) {
    ScopedEnv video("QV_VIDEO", "headless");
    ScopedEnv clock("QV_HEADLESS_CLOCK", "fast");
    std::string detail;
    EXPECT_EQ(StartVideo(&detail), ERR_OPENLIB);
    EXPECT_EQ(detail, "QV_HEADLESS_CLOCK=fast");
    EXPECT_TRUE(UsingSystemClock());
}

TEST(VideoChoice, AnUnknownBackEndEndsStartUp) {
    ScopedEnv video("QV_VIDEO", "vga");
    std::string detail;
    EXPECT_EQ(StartVideo(&detail), ERR_OPENLIB);
    EXPECT_EQ(detail, "QV_VIDEO=vga");
}

// A desktop that cannot be reached leaves SDL only drivers that show nothing: the run goes
// headless, where its input and its end are its own, and says why.
TEST(VideoChoice, AnUnreachableDesktopRunsHeadlessAndSaysSo) {
    ScopedEnv video("QV_VIDEO", std::nullopt);
    ScopedEnv sdlDriver("SDL_VIDEODRIVER", std::nullopt);
    ScopedEnv x11("DISPLAY", ":4093");
    ScopedEnv wayland("WAYLAND_DISPLAY", std::nullopt);
    std::string detail;
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(StartVideo(&detail), 0) << detail;
    const std::string notice = ::testing::internal::GetCapturedStderr();
    EXPECT_STREQ(Video().name, "headless");
    EXPECT_EQ(notice.rfind("QuorvellaPlayer: no desktop at DISPLAY=:4093 (", 0), 0u) << notice;
    EXPECT_TRUE(notice.ends_with("), running headless\n")) << notice;
    EXPECT_EQ(std::count(notice.begin(), notice.end(), '\n'), 1);
    StopVideo();
}

TEST(VideoChoice, WithoutADesktopTheRunIsHeadlessAndSaysSo) {
    ScopedEnv video("QV_VIDEO", std::nullopt);
    ScopedEnv x11("DISPLAY", std::nullopt);
    ScopedEnv wayland("WAYLAND_DISPLAY", "");
    std::string detail;
    ASSERT_EQ(StartVideo(&detail), 0);
    EXPECT_STREQ(Video().name, "headless");
    EXPECT_STREQ(getenv("QV_VIDEO"), "headless");
    StopVideo();
}

}  // namespace
}  // namespace qv::testing
