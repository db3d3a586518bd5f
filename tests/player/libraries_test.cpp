// The libraries of the player's table that do something before their own issues: the
// "system" library's program-control group, the first display's opening, the input poll, and
// the run-time attributes that the graphics library and the sound stub keep.
#include <functional>
#include <string>

#include "gfx/library/graphics_library.h"
#include "gfx/library/neighbours.h"
#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "objects/draw_tags.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/video/headless.h"
#include "platform/linux/video/video.h"
#include "platform/linux/window.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/library_table.h"
#include "runtime/stubs/sound_stub.h"
#include "scene/bgpic.h"
#include "scene/display.h"
#include "scene/display_library.h"
#include "scene/events/poll_events.h"
#include "tests/runtime/runtime_test_support.h"

namespace qv::testing {
namespace {

using Pusher = std::function<void(qvVmState*)>;

class LibrariesTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        for (qvCFunction init :
             {RegisterStringLibrary, RegisterSystemLibrary, RegisterDisplayLibrary,
              RegisterGraphicsLibrary, RegisterSoundLibrary}) {
            struct Call {
                qvCFunction init;
                int result;
            } call{init, 0};
            ASSERT_EQ(VmCPCall(
                          L,
                          [](qvVmState* L) {
                              auto* c = static_cast<Call*>(VmToUserdata(L, 1));
                              c->result = c->init(L);
                              return 0;
                          },
                          &call),
                      0);
            ASSERT_EQ(call.result, 0);
        }
        VmSetTop(L, 0);
        ASSERT_EQ(AddSetAttrHandler(GraphicsSetAttr), 0);
        ASSERT_EQ(AddSetAttrHandler(SoundSetAttr), 0);
        ASSERT_EQ(AddGetAttrHandler(GraphicsGetAttr), 0);
        ASSERT_EQ(AddGetAttrHandler(SoundGetAttr), 0);
    }
    void TearDown() override {
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        RuntimeTest::TearDown();
    }

    // Calls the global command with the arguments push leaves; the status, with the first
    // result (if any) left on the stack.
    int Call(
        const char* name, const Pusher& push = [](qvVmState*) {}) {
        VmSetTop(L, 0);
        VmPushString(L, name);
        VmGetTable(L, VM_GLOBALSINDEX);
        push(L);
        return VmPCall(L, VmGetTop(L) - 1, 1, 0);
    }
    int32_t Attr(uint32_t tag) {
        int32_t value = -12345;
        const qvAttrGet tags[] = {{tag, &value}, {QV_ATTR_END, nullptr}};
        GetGlobalAttrs(L, tags);
        return value;
    }
    void SetAttr(uint32_t tag, int32_t value) {
        const qvAttrSet tags[] = {{tag, value}, {QV_ATTR_END, 0}};
        SetGlobalAttrs(L, tags);
    }
};

Pusher Args(std::initializer_list<Pusher> args) {
    return [args = std::vector<Pusher>(args)](qvVmState* L) {
        for (const Pusher& p : args) p(L);
    };
}
Pusher Num(double n) {
    return [n](qvVmState* L) { VmPushNumber(L, n); };
}
Pusher Str(const char* s) {
    return [s](qvVmState* L) { VmPushString(L, s); };
}
Pusher Table(std::initializer_list<std::pair<const char*, Pusher>> fields) {
    return [fields = std::vector<std::pair<const char*, Pusher>>(fields)](qvVmState* L) {
        VmNewTable(L);
        for (const auto& [key, value] : fields) {
            VmPushString(L, key);
            value(L);
            VmRawSet(L, -3);
        }
    };
}

TEST_F(LibrariesTest, DebugPrintWritesTheScriptsTextsAsOneLine) {
    DebugCapture capture;
    ASSERT_EQ(Call("debugprint", Args({Str("100%"), Num(2.5), Num(7)})), 0);
    ASSERT_EQ(Call("debugstr", Args({Str("x")})), 0);
    EXPECT_EQ(capture.Text(), "100% 2.5 7\nx\n");
    EXPECT_EQ(Call("debugval"), ERR_MISSINGPARAMTR);
}

TEST_F(LibrariesTest, ErrorsCanBeRaisedSwallowedAndRead) {
    EXPECT_EQ(Call("error", Args({Str("my own failure")})), ERR_ERRORCALLED);
    char text[1024];
    FormatErrorMessage(ERR_ERRORCALLED, text, sizeof text);
    EXPECT_STREQ(text, "my own failure");
    Runtime().abortFlag = 0;

    ASSERT_EQ(Call("exitonerror", Args({Num(0)})), 0);
    EXPECT_EQ(Call("error", Args({Str("swallowed")})), 0);
    ASSERT_EQ(Call("getlasterror"), 0);
    EXPECT_EQ(VmToNumber(L, -1), ERR_ERRORCALLED);
    // Every other command clears the last error first.
    ASSERT_EQ(Call("debugoutput", Args({Num(0)})), 0);
    ASSERT_EQ(Call("getlasterror"), 0);
    EXPECT_EQ(VmToNumber(L, -1), 0);
    ASSERT_EQ(Call("exitonerror", Args({Num(1)})), 0);
    EXPECT_EQ(Runtime().error.exitOnError, 1u);
}

TEST_F(LibrariesTest, EndAndDebugOutputSwitchTheRunTime) {
    ASSERT_EQ(Call("debugoutput", Args({Num(1)})), 0);
    EXPECT_TRUE(Runtime().debugTrace);
    ASSERT_EQ(Call("debugoutput", Args({Num(0)})), 0);
    EXPECT_FALSE(Runtime().debugTrace);
    EXPECT_EQ(Call("end", Args({Num(1)})), ERR_TOOMANYARGS);
    ASSERT_EQ(Call("end"), 0);
    EXPECT_EQ(Runtime().abortFlag.load(), 1u);
}

TEST_F(LibrariesTest, CreateDisplayChecksItsArguments) {
    struct Case {
        const char* name;
        Pusher args;
        int status;
    };
    const Case cases[] = {
        {"no id", Args({}), ERR_MISSINGPARAMTR},
        {"id only", Args({Num(1)}), 0},
        {"full table", Args({Num(2), Table({{"title", Str("T")}, {"width", Num(320)}})}), 0},
        {"options no table", Args({Num(1), Str("wide")}), ERR_TABEXPECTED},
        {"bad width", Args({Num(1), Table({{"width", Str("wide")}})}), ERR_NUMTABLEARG},
        {"empty size", Args({Num(1), Table({{"height", Num(0)}})}), ERR_WRONGUSAGE},
        {"too many", Args({Num(1), Table({}), Num(3)}), ERR_TOOMANYARGS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Call("createdisplay", c.args), c.status);
        Runtime().abortFlag = 0;
    }
}

TEST_F(LibrariesTest, TheFirstDisplayOpensTheScreenUntilTheDisplaysAreFreed) {
    for (uint32_t quiet : {0u, 1u}) {
        SCOPED_TRACE(quiet);
        SetAttr(QV_ATTR_QUIET, static_cast<int32_t>(quiet));
        ASSERT_EQ(Call("createdisplay", Args({Num(1), Table({{"width", Num(64)}})})), 0);
        DebugCapture capture;
        EXPECT_EQ(QueryBitMapAttr(nullptr, 20), 0u);
        ASSERT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
        EXPECT_EQ(QueryBitMapAttr(nullptr, 20), 1u);
        EXPECT_EQ(capture.Text(), quiet != 0 ? "" : "Preparing display... done\nAnd Action!\n");
        FreeAllDisplays(L);
        FreeAllDisplays(L);
        EXPECT_EQ(QueryBitMapAttr(nullptr, 20), 0u);
    }
}

TEST_F(LibrariesTest, TheInputPollAsksToStopOnlyAfterAnAbort) {
    int status = 7;
    EXPECT_EQ(PollEvents(L, nullptr, &status), 0);
    EXPECT_EQ(status, 0);
    Runtime().abortFlag = 1;
    status = 7;
    EXPECT_EQ(PollEvents(L, nullptr, &status), 1);
    EXPECT_EQ(status, 0);
}

TEST_F(LibrariesTest, TheFirstDisplayTakesInputWhileItIsDue) {
    ASSERT_EQ(
        Call("createdisplay",
             Args({Num(1),
                   Table({{"width", Num(40)}, {"height", Num(30)}, {"color", Num(0x336699)}})})),
        0);
    ASSERT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
    qvDisplay* display = nullptr;
    ASSERT_EQ(FindDisplay({1, nullptr}, &display), 0);
    qvPlatformDisplay* window = display->window;
    ASSERT_TRUE(WindowIsOpen(window));
    EXPECT_EQ(ReadBitMapPixel(window->framebuffer, 39, 29), 0x336699u);
    EXPECT_EQ(window->x, (ScreenWidth() - 40) / 2) << "centred";
    EXPECT_EQ(window->y, (ScreenHeight() - 30) / 2);

    HostEvent event{};
    event.window = window->number;
    event.kind = HostEventKind::kButton, event.down = true;
    ASSERT_TRUE(platform::testing::InjectHostEvent(event));
    event.kind = HostEventKind::kKey, event.key = 'a';
    ASSERT_TRUE(platform::testing::InjectHostEvent(event));
    event.kind = HostEventKind::kMotion;
    ASSERT_TRUE(platform::testing::InjectHostEvent(event));
    int status = 7;
    InputDue().store(0);
    EXPECT_EQ(PollEvents(L, nullptr, &status), 0);
    EXPECT_EQ(display->buttons[0], 0) << "nothing pumps while no input is due";
    InputDue().store(1);
    EXPECT_EQ(PollEvents(L, nullptr, &status), 0);
    EXPECT_EQ(display->buttons[0], 1);
    EXPECT_EQ(display->keys['a'], 1);
    EXPECT_EQ(display->mouseMoved, 1);

    // Without a "closewindow" handler a close request ends the program.
    event.kind = HostEventKind::kClose;
    ASSERT_TRUE(platform::testing::InjectHostEvent(event));
    EXPECT_EQ(PollEvents(L, nullptr, &status), 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Runtime().abortFlag.load(), 1u);
}

TEST_F(LibrariesTest, GraphicsAndSoundKeepTheirAttributes) {
    struct Case {
        uint32_t tag;
        int32_t initial;
        int32_t set;
    };
    const Case cases[] = {{5, 0, 2}, {7, 128, -1}, {3, 0, 1}, {4, 30, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        EXPECT_EQ(Attr(c.tag), c.initial);
        SetAttr(c.tag, c.set);
        EXPECT_EQ(Attr(c.tag), c.set);
    }
    // Registering again starts from the initial values.
    ASSERT_EQ(VmCPCall(
                  L, [](qvVmState* L) { return RegisterGraphicsLibrary(L); }, nullptr),
              0);
    EXPECT_EQ(Attr(5), 0);
    EXPECT_EQ(Attr(7), 128);
}

// The graphics row installs the object code's neighbours before the library registers, so
// that the default draw tags are the drawing code's from the start.
TEST_F(LibrariesTest, TheGraphicsRowStartsWithTheDrawingCodesDefaults) {
    const qvLibraryRow& graphics = BuiltinLibraries().rows[2];
    ASSERT_STREQ(graphics.name, "graphics");
    ASSERT_EQ(
        VmCPCall(
            L, [](qvVmState* L) { return BuiltinLibraries().rows[2].initialise(L); }, nullptr),
        0);
    const auto* style = static_cast<const qvDrawStyle*>(gfx::DefaultDrawTags().style);
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->shadow.colour, 0x80000000u);
    EXPECT_EQ(style->shadow.direction, 3);
    EXPECT_EQ(style->border.size, 2);
    FreeGraphicsObjects(L);
    gfx::SetNeighbours(nullptr);
}

}  // namespace
}  // namespace qv::testing
