// The display record and list: lookup by id, the primary-display rule, saving the render
// state, and freeing displays (their pictures, the window before the bitmaps, queued events
// and the dispatcher's cursor).
#include "runtime/errors.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

using DisplayList = DisplayFixture;

TEST_F(DisplayList, AnAutomaticIdIsFoundByItsHandleOnly) {
    Start();
    const CallResult automatic = Call("CreateDisplay", {Nil()});
    ASSERT_EQ(automatic.code, 0);
    ASSERT_EQ(automatic.results.size(), 1u);
    void* handle = const_cast<void*>(automatic.results[0].pointer);
    qvDisplay* found = nullptr;
    ASSERT_EQ(FindDisplay({0, handle}, &found), 0);
    EXPECT_EQ(found->prefix.header.handle, handle);

    // No display has the number 0 yet: the automatic one is not it.
    EXPECT_EQ(FindDisplay({0, nullptr}, &found), ERR_FINDDISPLAY);
    EXPECT_EQ(Runtime().error.number, 0u);
    ASSERT_EQ(Call("CreateDisplay", {Num(0)}).code, 0);
    ASSERT_EQ(FindDisplay({0, nullptr}, &found), 0);
    EXPECT_EQ(found->prefix.header.handle, nullptr);
    int marker = 0;
    EXPECT_EQ(FindDisplay({0, &marker}, &found), ERR_FINDARRAY);
    EXPECT_EQ(FindDisplay({7, nullptr}, &found), ERR_FINDDISPLAY);
    char text[256];
    FormatErrorMessage(ERR_FINDDISPLAY, text, sizeof text);
    EXPECT_STREQ(text, "Could not find display 7!");
}

TEST_F(DisplayList, ThePrimaryDisplayIsTheOnlyOneOrTheOneAfterThePrivateHead) {
    Start();
    qvDisplay* first = Display(1);
    EXPECT_TRUE(IsPrimaryDisplay(first));
    // Two ordinary displays: neither is primary.
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    EXPECT_FALSE(IsPrimaryDisplay(first));
    EXPECT_FALSE(IsPrimaryDisplay(Display(2)));
    ASSERT_EQ(Call("FreeDisplay", {Num(2)}).code, 0);
    // A "private1" display goes to the head; the applet's display after it is primary.
    ASSERT_EQ(Call("CreateDisplay", {Num(9), Table({{Str("private1"), Num(1)}})}).code, 0);
    EXPECT_EQ(scene::FirstDisplay(), Display(9));
    EXPECT_FALSE(IsPrimaryDisplay(Display(9)));
    EXPECT_TRUE(IsPrimaryDisplay(first));
    ASSERT_EQ(Call("CreateDisplay", {Num(3)}).code, 0);
    EXPECT_TRUE(IsPrimaryDisplay(first));
    EXPECT_FALSE(IsPrimaryDisplay(Display(3)));
}

TEST_F(DisplayList, RenderStateSavesDoNotNest) {
    qvDisplay* display = Start({{Str("width"), Num(100)}, {Str("layers"), Num(1)}});
    display->text = {7, 8, 2, 90, {}, 0};
    SaveDisplayRenderState(display, 0, 50);
    EXPECT_EQ(display->layersEnabled, 0);
    EXPECT_EQ(display->text.rightMargin, 49);
    display->text.x = 33;
    SaveDisplayRenderState(display, 1, 20);  // kept: the first state stays saved
    EXPECT_EQ(display->text.x, 33);
    RestoreDisplayRenderState(display);
    EXPECT_EQ(display->layersEnabled, 1);
    EXPECT_EQ(display->text.x, 7);
    EXPECT_EQ(display->text.y, 8);
    EXPECT_EQ(display->text.leftMargin, 2);
    EXPECT_EQ(display->text.rightMargin, 90);
}

TEST_F(DisplayList, FreeingADisplayFreesOnlyThePictureItMade) {
    Start();
    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(30), Num(20)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("bgpic"), Num(5)}})}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(3)}).code, 0);
    const qvBGPic* own = Display(3)->settings.picture;
    ASSERT_EQ(Display(3)->ownsPicture, 1);
    const size_t pictures = PictureCount();
    ASSERT_EQ(Call("FreeDisplay", {Num(2)}).code, 0);
    ASSERT_EQ(Call("FreeDisplay", {Num(3)}).code, 0);
    EXPECT_NE(Find(5), nullptr) << "the script's picture stays";
    EXPECT_EQ(PictureCount(), pictures - 1);
    for (qvObjectHeader* h = *scene::BGPicList(); h != nullptr; h = h->next) {
        EXPECT_NE(reinterpret_cast<qvBGPic*>(h), own);
    }
}

// Freeing a display closes its window and resets its input before its bitmaps go, drops it
// from queued events and moves the dispatcher's cursor on.
TEST_F(DisplayList, FreeingADisplayClosesItsWindowFirst) {
    Start();
    ASSERT_EQ(Call("CreateDisplay", {Num(2)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(3)}).code, 0);
    ASSERT_EQ(Call("OpenDisplay", {Num(2), Bool(true)}).code, 0);
    static qvDisplay* freed;
    static bool windowOpenAtReset, bitmapsAtReset;
    static qvDisplay *cursorFrom, *cursorTo;
    freed = Display(2);
    scene::Hooks().resetButtonStates = [](qvVmState*, qvBGPic*) {
        windowOpenAtReset = WindowIsOpen(freed->window);
        bitmapsAtReset = freed->displayBitmap != nullptr;
    };
    scene::Hooks().displayFreed = [](qvDisplay* display, qvDisplay* next) {
        cursorFrom = display, cursorTo = next;
    };
    PostEvent(freed, QV_EVENT_KEY, 1, 0, 'a', nullptr);
    ClearLog();
    const int window = int(freed->window->number);
    ASSERT_EQ(Call("FreeDisplay", {Num(2)}).code, 0);
    scene::Hooks() = {};
    EXPECT_FALSE(windowOpenAtReset);
    EXPECT_TRUE(bitmapsAtReset);
    EXPECT_EQ(Log(), std::vector<std::string>{"close " + std::to_string(window)});
    EXPECT_EQ(cursorFrom, freed);
    EXPECT_EQ(cursorTo, Display(3));
    const std::vector<QueuedEvent> events = TakeEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].display, nullptr);
    EXPECT_EQ(DisplayCount(), 2u);
}

}  // namespace
}  // namespace qv::testing
