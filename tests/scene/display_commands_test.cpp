// The display commands on headless windows: the display states through the commands, the
// window events they post, the current display, the mode list, the size and position rules,
// titles, and the refusals (recording, videos, asynchronous drawing, missing displays).
#include "gfx/graphics_state.h"
#include "gfx/library/async_draw.h"
#include "runtime/errors.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

using DisplayCommands = DisplayFixture;

std::string Geometry(const qvPlatformDisplay* window) {
    return std::to_string(window->x) + "," + std::to_string(window->y) + " " +
           std::to_string(window->framebuffer->width) + "x" +
           std::to_string(window->framebuffer->height);
}

TEST_F(DisplayCommands, TheCommandsMoveADisplayThroughItsStates) {
    Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    struct Step {
        const char* command;
        std::vector<Arg> args;
        int code;
        int32_t state;  // of display 2 afterwards; -1: gone
    };
    const Step steps[] = {
        {"SelectDisplay", {Num(2)}, 0, DISPSTATE_CLOSED},
        {"HideDisplay", {}, ERR_WRONGUSAGE, DISPSTATE_CLOSED},
        {"ShowDisplay", {}, ERR_WRONGUSAGE, DISPSTATE_CLOSED},
        {"CloseDisplay", {Num(2)}, ERR_WRONGUSAGE, DISPSTATE_CLOSED},
        {"ActivateDisplay", {Num(2)}, ERR_WRONGUSAGE, DISPSTATE_CLOSED},
        {"OpenDisplay", {Num(2)}, 0, DISPSTATE_OPEN},
        {"OpenDisplay", {Num(2)}, ERR_WRONGUSAGE, DISPSTATE_OPEN},
        {"ShowDisplay", {}, ERR_WRONGUSAGE, DISPSTATE_OPEN},
        {"ActivateDisplay", {Num(2), Bool(true)}, 0, DISPSTATE_OPEN},
        {"HideDisplay", {}, 0, DISPSTATE_MINIMIZED},
        {"HideDisplay", {}, ERR_WRONGUSAGE, DISPSTATE_MINIMIZED},
        {"ShowDisplay", {}, 0, DISPSTATE_OPEN},
        {"CloseDisplay", {Num(2)}, 0, DISPSTATE_CLOSED},
        {"FreeDisplay", {Num(2)}, ERR_FREEADISPLAY, DISPSTATE_CLOSED},
        {"SelectDisplay", {Num(1)}, 0, DISPSTATE_CLOSED},
        {"FreeDisplay", {Num(2)}, 0, -1},
        {"OpenDisplay", {Num(2)}, ERR_FINDDISPLAY, -1},
    };
    SetExitOnError(false);
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.command) + " gives " + std::to_string(step.code));
        EXPECT_EQ(Call(step.command, step.args).code, step.code);
        qvDisplay* two = Display(2);
        EXPECT_EQ(two != nullptr ? two->state : -1, step.state);
    }
    // Closing clears the key and pointer states.
    EXPECT_EQ(Display(1)->state, DISPSTATE_OPEN);
}

TEST_F(DisplayCommands, HidingAndShowingPostTheWindowEvents) {
    qvDisplay* display = Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(3), Table({{Str("private3"), Num(1)}})}).code, 0);
    ASSERT_EQ(Call("OpenDisplay", {Num(3), Bool(true)}).code, 0);
    const std::string third = std::to_string(Display(3)->window->number);
    ClearLog();
    TakeEvents();
    ASSERT_EQ(Call("HideDisplay").code, 0);
    // Display 1 was the last ordinary display: the "private3" one goes with it.
    EXPECT_EQ(Log(), (std::vector<std::string>{"iconify 1", "iconify " + third}));
    EXPECT_EQ(Display(3)->state, DISPSTATE_MINIMIZED);
    ASSERT_EQ(Call("ShowDisplay").code, 0);
    const std::vector<QueuedEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, 9u);
    EXPECT_EQ(events[1].type, 10u);
    EXPECT_EQ(events[0].display, display);
    EXPECT_EQ(Display(3)->state, DISPSTATE_MINIMIZED) << "showing restores only the display";
}

TEST_F(DisplayCommands, OpenDisplayMakesTheDisplayCurrentUnlessAskedToStay) {
    qvDisplay* first = Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("width"), Num(50)}})}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(3), Table({{Str("width"), Num(60)}})}).code, 0);
    ASSERT_EQ(Call("OpenDisplay", {Num(2), Bool(true)}).code, 0);
    EXPECT_EQ(scene::Displays().current, first);
    EXPECT_EQ(scene::Displays().outputPicture, first->settings.picture);
    ASSERT_EQ(Call("OpenDisplay", {Num(3)}).code, 0);
    EXPECT_EQ(scene::Displays().current, Display(3));
    EXPECT_EQ(scene::Displays().outputPicture, Display(3)->settings.picture);
    EXPECT_EQ(gfx::Graphics().Host().CurrentOutputPicture().width, 60);
    ClearLog();
    ASSERT_EQ(Call("SelectDisplay", {Num(2)}).code, 0);
    EXPECT_EQ(Log(), std::vector<std::string>{"activate 2 front"});
    ClearLog();
    ASSERT_EQ(Call("SelectDisplay", {Num(1), Bool(true)}).code, 0);
    EXPECT_TRUE(Log().empty());
    EXPECT_EQ(scene::Displays().current, first);
}

TEST_F(DisplayCommands, GetDisplayModesSortsTheScreensModes) {
    Start();
    platform::testing::SetScreenModes({{800, 600}, {640, 512}, {1024, 768}, {640, 480}});
    const CallResult result = Call("GetDisplayModes");
    ASSERT_EQ(result.code, 0);
    std::vector<std::pair<double, double>> modes;
    for (double i = 0;; ++i) {
        const Value* mode = result.results[0].At(i);
        if (mode == nullptr) break;
        modes.emplace_back(mode->Field("width")->number, mode->Field("height")->number);
    }
    EXPECT_EQ(modes, (std::vector<std::pair<double, double>>{
                         {640, 480}, {640, 512}, {800, 600}, {1024, 768}}));
    platform::testing::SetScreenModes({});
    EXPECT_EQ(Call("GetDisplayModes").code, ERR_NODISPMODES);
}

TEST_F(DisplayCommands, ChangeDisplaySizeCentresOrKeepsThePosition) {
    platform::testing::SetScreenSize({1000, 800});
    qvDisplay* display = Start({{Str("x"), Num(10)},
                                {Str("y"), Num(20)},
                                {Str("width"), Num(200)},
                                {Str("height"), Num(100)}});
    EXPECT_EQ(Geometry(display->window), "10,20 200x100");
    struct Case {
        std::vector<Arg> args;
        std::string geometry;
    };
    const Case cases[] = {
        {{Num(300), Num(100), Table({{Str("y"), Num(KEEPPOSITION)}})}, "350,20 300x100"},
        {{Num(300), Str("200%"), Table({{Str("x"), Num(KEEPPOSITION)}})}, "350,300 300x200"},
        {{Num(100000), Num(100)}, "425,350 150x100"},  // KEEPASPRAT keeps 300 x 200
        {{Num(150), Num(100), Table({{Str("x"), Num(7)}, {Str("y"), Num(8)}})}, "7,8 150x100"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.geometry);
        ASSERT_EQ(Call("ChangeDisplaySize", c.args).code, 0);
        EXPECT_EQ(Geometry(display->window), c.geometry);
        EXPECT_EQ(display->settings.picture->width, display->settings.width);
        EXPECT_EQ(display->text.rightMargin, display->settings.width - 1);
    }
    EXPECT_EQ(Call("ChangeDisplaySize", {Num(0), Num(10)}).code, ERR_BADDIMENSIONS);
}

// A minimised window takes the changes, so that it shows the display when it comes back.
TEST_F(DisplayCommands, AMinimisedWindowFollowsTheDisplay) {
    qvDisplay* display = Start({{Str("width"), Num(40)}, {Str("height"), Num(30)}});
    ASSERT_EQ(Call("HideDisplay").code, 0);
    ASSERT_EQ(Call("ChangeDisplaySize", {Num(50), Num(20)}).code, 0);
    EXPECT_EQ(display->window->framebuffer->width, 50);
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("height"), Num(25)}})}).code, 0);
    EXPECT_EQ(display->window->framebuffer->height, 25);
    ASSERT_EQ(Call("ShowDisplay").code, 0);
    EXPECT_EQ(WindowPixels(display), Pixels(display->settings.picture->shown.bitmap));
}

TEST_F(DisplayCommands, DisplayBGPicKeepsThePositionOnlyAtTheSameSize) {
    platform::testing::SetScreenSize({1000, 800});
    qvDisplay* display = Start({{Str("x"), Num(10)},
                                {Str("y"), Num(20)},
                                {Str("width"), Num(200)},
                                {Str("height"), Num(100)}});
    ASSERT_EQ(Call("CreateBGPic", {Num(2), Num(200), Num(100), Num(0xFF0000)}).code, 0);
    ASSERT_EQ(Call("CreateBGPic", {Num(3), Num(100), Num(50), Num(0x00FF00)}).code, 0);
    ASSERT_EQ(Call("DisplayBGPic", {Num(2)}).code, 0);
    EXPECT_EQ(Geometry(display->window), "10,20 200x100");
    EXPECT_EQ(display->settings.picture, Find(2));
    ASSERT_EQ(Call("DisplayBGPic", {Num(3)}).code, 0);
    EXPECT_EQ(Geometry(display->window), "450,375 100x50");
    ASSERT_EQ(Call("DisplayBGPic", {Num(2), Table({{Str("x"), Num(KEEPPOSITION)}})}).code, 0);
    EXPECT_EQ(Geometry(display->window), "450,350 200x100");
    // The display's own first picture is no longer its own once another one shows.
    EXPECT_EQ(display->ownsPicture, 0);
    EXPECT_EQ(Call("DisplayBGPic", {Num(4)}).code, ERR_FINDBGPIC);
}

TEST_F(DisplayCommands, TitlesAreAtMost255Characters) {
    Start();
    ClearLog();
    EXPECT_EQ(Call("SetTitle", {Str(std::string(255, 'a'))}).code, 0);
    EXPECT_EQ(Log(), std::vector<std::string>{"title 1 " + std::string(255, 'a')});
    SetExitOnError(false);
    EXPECT_EQ(Call("SetTitle", {Str(std::string(256, 'b'))}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(
        Call("SetDisplayAttributes", {Table({{Str("title"), Str(std::string(256, 'c'))}})}).code,
        ERR_WRONGUSAGE);
    EXPECT_EQ(std::string(Display(1)->settings.title), std::string(255, 'a'));
}

TEST_F(DisplayCommands, MoveDisplayResolvesPositionsInTheUsableArea) {
    platform::testing::SetScreenSize({1000, 800});
    platform::testing::SetUsableArea({100, 50, 800, 600});
    platform::testing::SetFrameSizes({4, 20, 4, 4});
    qvDisplay* display = Start({{Str("width"), Num(320)}, {Str("height"), Num(200)}});
    // Centred in the usable area with the frame around the inner size.
    EXPECT_EQ(Log().front(), "open 1 336,238 320x200 flags=0x0 title=Quorvella shape=0");
    ASSERT_EQ(Call("MoveDisplay", {Num(5), Num(-100000 + 10)}).code, 0);
    EXPECT_EQ(Geometry(display->window), "5,248 320x200");
    ASSERT_EQ(Call("MoveDisplay", {Num(KEEPPOSITION), Num(7)}).code, 0);
    EXPECT_EQ(Geometry(display->window), "5,7 320x200");
}

TEST_F(DisplayCommands, RefusalsComeWithTheirCodes) {
    qvDisplay* display = Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    SetExitOnError(false);
    EXPECT_EQ(Call("CreateDisplay", {Num(1)}).code, ERR_FREEADISPLAY);
    EXPECT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("bgpic"), Num(1)}})}).code,
              ERR_MULTIBGPIC);
    EXPECT_NE(Display(2), nullptr) << "a refused replacement frees nothing";
    const CallResult missing = Call("SelectDisplay", {Num(7)});
    EXPECT_EQ(missing.code, ERR_FINDDISPLAY);
    EXPECT_EQ(missing.errorNumber, 7u);

    media::testing::SetVideoPlayingOn(display);
    EXPECT_EQ(Call("HideDisplay").code, ERR_VIDATTACHED);
    EXPECT_EQ(Call("CloseDisplay", {Num(1)}).code, ERR_VIDATTACHED);
    media::testing::SetVideoPlayingOn(nullptr);

    ASSERT_EQ(Call("SelectDisplay", {Num(2)}).code, 0);
    ASSERT_EQ(AddAsyncDraw(ADF_FX, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(Call("SelectDisplay", {Num(1)}).code, 0);
    EXPECT_EQ(Call("FreeDisplay", {Num(2)}).code, ERR_ADFFREEDISP);
    EXPECT_EQ(Call("CreateDisplay", {Num(2)}).code, ERR_ADFFREEDISP);
    FreeAsyncDraws(L);
    EXPECT_EQ(Call("FreeDisplay", {Num(2)}).code, 0);
}

// A display with the number goes first, and the picture it made goes with it: that picture
// is not found for the new display, and nothing is replaced. A picture the script made
// outlives the display that showed it and may go to the new one.
TEST_F(DisplayCommands, AReplacedDisplaysOwnPictureIsNotFound) {
    qvDisplay* one = Start();
    const qvBGPic* own = one->settings.picture;
    ASSERT_EQ(own->header.id, 1u) << "display 1 made at start-up owns picture 1";
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    ASSERT_EQ(Call("SelectDisplay", {Num(2)}).code, 0);
    SetExitOnError(false);
    const CallResult r = Call("CreateDisplay", {Num(1), Table({{Str("bgpic"), Num(1)}})});
    EXPECT_EQ(r.code, ERR_FINDBGPIC);
    EXPECT_FALSE(r.ended);
    EXPECT_EQ(r.errorNumber, 1u);
    EXPECT_EQ(Display(1), one);
    EXPECT_EQ(one->settings.picture, own);
    EXPECT_EQ(one->state, DISPSTATE_OPEN);

    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(16), Num(8)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(3), Table({{Str("bgpic"), Num(5)}})}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(3), Table({{Str("bgpic"), Num(5)}})}).code, 0);
    ASSERT_NE(Display(3), nullptr);
    EXPECT_EQ(Display(3)->settings.picture->header.id, 5u);
}

// While a video is recorded, the commands that make, open, close, hide, show, select or free
// displays are refused; the others go on.
TEST_F(DisplayCommands, RecordingRefusesDisplayChanges) {
    Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    neighbours.recording = true;
    SetExitOnError(false);
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {"CreateDisplay", {Num(3)}, ERR_VIDRECMULTI},
        {"OpenDisplay", {Num(2)}, ERR_WRONGCMDRECVIDEO},
        {"CloseDisplay", {Num(1)}, ERR_WRONGCMDRECVIDEO},
        {"HideDisplay", {}, ERR_WRONGCMDRECVIDEO},
        {"ShowDisplay", {}, ERR_WRONGCMDRECVIDEO},
        {"SelectDisplay", {Num(2)}, ERR_WRONGCMDRECVIDEO},
        {"FreeDisplay", {Num(2)}, ERR_WRONGCMDRECVIDEO},
        {"SetTitle", {Str("t")}, 0},
        {"MoveDisplay", {Num(0), Num(0)}, 0},
        {"ActivateDisplay", {Num(1)}, 0},
        {"GetDisplayModes", {}, 0},
        // A change reads only the picture, the size and the fill style.
        {"SetDisplayAttributes", {Table({{Str("title"), Num(1)}, {Str("width"), Num(64)}})}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Call(c.command, c.args).code, c.code);
    }
    EXPECT_EQ(Display(1)->settings.width, 64);
    EXPECT_STREQ(Display(1)->settings.title, "t");
    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(8), Num(8)}).code, 0);
    Find(5)->shown.alpha = AllocAlphaBitMap(8, 8, 1);
    EXPECT_EQ(Call("DisplayBGPic", {Num(5)}).code, ERR_VIDRECTRANS);
    FreePlaneBitMap2(Find(5)->shown.alpha);
    Find(5)->shown.alpha = nullptr;
}

TEST_F(DisplayCommands, ADropTargetTheDesktopRefusesFailsTheOpening) {
    Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    VmPushNumber(L, 1);
    Display(2)->handlers[17].function = MakeRef(L, VM_REGISTRYINDEX);
    platform::testing::RefuseAppWindows(true);
    SetExitOnError(false);
    EXPECT_EQ(Call("OpenDisplay", {Num(2)}).code, ERR_ADDAPPWIN);
    char text[256];
    FormatErrorMessage(ERR_ADDAPPWIN, text, sizeof text);
    EXPECT_STREQ(text, "Error adding app window to Workbench!");
}

}  // namespace
}  // namespace qv::testing
