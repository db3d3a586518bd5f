// What the displays answer the code built before them: the blits' view of a display, the
// picture list (shown pictures, orphans), the text library's cursor, the graphics library's
// pointer and rendering questions, and the input pump's request to forget the input.
#include "gfx/graphics_state.h"
#include "gfx/library/pointers.h"
#include "objects/text/text_display.h"
#include "runtime/input_pump.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

using DisplaySeams = DisplayFixture;

TEST_F(DisplaySeams, TheBlitsSeeTheWorkBitmapsAndTheShownPicture) {
    qvDisplay* display = Start({{Str("width"), Num(30)}, {Str("height"), Num(20)}});
    gfx::BlitHost& host = gfx::Graphics().Host();
    EXPECT_EQ(host.CurrentDisplay(), display);
    const gfx::DisplayView view = host.ViewDisplay(display);
    EXPECT_EQ(view.outputType, gfx::kTargetDisplay);
    EXPECT_EQ(view.backBuffers[0], display->displayBitmap);
    EXPECT_EQ(view.backBuffers[1], display->compositionBitmap);
    EXPECT_EQ(view.pictureWidth, 30);
    EXPECT_EQ(view.window, display->window);
    EXPECT_EQ(host.CurrentOutputPicture().height, 20);
    EXPECT_EQ(text::TextDisplay().CurrentTextCursor(), &display->text);
    EXPECT_EQ(text::TextDisplay().OutputPictureWidth(), 30);
    EXPECT_EQ(display->text.rightMargin, 29);
}

TEST_F(DisplaySeams, AFreedPictureThatADisplayShowsGoesWhenItIsNoLongerShown) {
    Start();
    ASSERT_EQ(Call("CreateBGPic", {Num(2), Num(10), Num(10)}).code, 0);
    ASSERT_EQ(Call("CreateBGPic", {Num(3), Num(10), Num(10)}).code, 0);
    ASSERT_EQ(Call("DisplayBGPic", {Num(2)}).code, 0);
    const qvBGPic* two = Find(2);
    ASSERT_EQ(Call("FreeBGPic", {Num(2)}).code, 0);
    EXPECT_EQ(two->orphan, 1) << "kept while the display shows it";
    const size_t pictures = PictureCount();
    ASSERT_EQ(Call("DisplayBGPic", {Num(3)}).code, 0);
    EXPECT_EQ(PictureCount(), pictures - 1);
}

TEST_F(DisplaySeams, TheGraphicsLibraryRendersTheShownPicture) {
    ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(12), Num(9), Num(0x204060)}).code, 0);
    qvDisplay* display = Start({{Str("bgpic"), Num(1)}});
    qvDisplayBitMap* rendered = nullptr;
    int32_t width = 0, height = 0;
    ASSERT_EQ(neighbours.RenderBGPicBitmap(L, &rendered, &width, &height), 0);
    OwnedBitMap owned(rendered);
    EXPECT_NE(rendered, display->compositionBitmap) << "the caller owns a copy";
    EXPECT_EQ(width, 12);
    EXPECT_EQ(height, 9);
    EXPECT_EQ(Pixels(rendered), Pixels(Find(1)->shown.bitmap));
}

TEST_F(DisplaySeams, APointerTheScriptHidStaysHiddenWhenTheWindowOpensAgain) {
    qvDisplay* display = Start();
    ASSERT_EQ(Call("HidePointer").code, 0);
    EXPECT_EQ(display->pointerHidden, 1);
    ClearLog();
    ASSERT_EQ(Call("SetDisplayAttributes", {Table({{Str("sizeable"), Num(1)}})}).code, 0);
    const std::vector<std::string> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "pointer 2 hidden kind 0"), log.end())
        << ::testing::PrintToString(log);
}

TEST_F(DisplaySeams, InputTheDisplayHadIsForgottenAfterAnotherProgram) {
    qvDisplay* display = Start();
    display->keys['a'] = 1;
    display->buttons[1] = 1;
    static const qvBGPic* reset;
    reset = nullptr;
    scene::Hooks().resetButtonStates = [](qvVmState*, qvBGPic* picture) { reset = picture; };
    ResetDisplayInput(L);
    scene::Hooks() = {};
    EXPECT_EQ(display->keys['a'], 0);
    EXPECT_EQ(display->buttons[1], 0);
    EXPECT_EQ(reset, display->settings.picture);
}

}  // namespace
}  // namespace qv::testing
