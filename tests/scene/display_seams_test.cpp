// What the displays answer the code built before them: the blits' view of a display, the
// picture list (shown pictures, orphans), the text library's cursor, the graphics library's
// pointer and rendering questions, and the input pump's request to forget the input.
#include "gfx/graphics_state.h"
#include "gfx/library/pointers.h"
#include "objects/text/text_display.h"
#include "runtime/input_pump.h"
#include "scene/layers/display_seam.h"
#include "scene/layers/layer.h"
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

TEST_F(DisplaySeams, LayersOfTheShownPictureReachTheWindow) {
    ASSERT_EQ(Call("CreateBGPic", {Num(1), Num(30), Num(20), Num(0x204060)}).code, 0);
    qvDisplay* display = Start({{Str("bgpic"), Num(1)}, {Str("layers"), Bool(true)}});
    qvBGPic* picture = Find(1);
    scene::DisplaySeam& seam = scene::LayerDisplays();
    EXPECT_EQ(seam.OutputPicture(), picture);
    EXPECT_EQ(seam.ShownPicture(display), picture);
    EXPECT_EQ(seam.DirtyRects(display), &display->dirtyRects);
    EXPECT_EQ(seam.ShownPicture(gfx::Graphics().PseudoDisplay()), nullptr);
    EXPECT_EQ(seam.DirtyRects(nullptr), nullptr);

    const std::vector<uint32_t> background = WindowPixels(display);
    std::vector<uint32_t> withWhite = background, withRed = background;
    const auto add = [&](uint32_t colour, int32_t x, int32_t insertPos,
                         std::vector<uint32_t>* expected) {
        qvDisplayBitMap* bitmap = AllocDisplayBitMap(4, 3);
        ASSERT_NE(bitmap, nullptr);
        RectFill(bitmap, 0, 0, 4, 3, colour);
        const uint32_t stored = ReadBitMapPixel(bitmap, 0, 0);
        for (int32_t y = 4; y < 7; ++y) {
            for (int32_t dx = 0; dx < 4; ++dx) (*expected)[size_t(y) * 30 + x + dx] = stored;
        }
        ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, x, 4, 4, 3, nullptr, nullptr,
                                bitmap, nullptr, nullptr, insertPos, 0),
                  0);
    };
    // A plain layer on top is left to the drawing command that made it; a refresh of the
    // display composes it.
    add(0xFFFFFF, 5, -1, &withWhite);
    EXPECT_EQ(WindowPixels(display), background);
    gfx::Graphics().Host().Redraw(L, display, display->compositionBitmap, 0, 0, 30, 20, 0);
    EXPECT_EQ(Pixels(display->compositionBitmap), withWhite);
    // One below it is refreshed at once, and so is the area a removed layer leaves.
    add(0xFF0000, 20, 1, &withRed);
    EXPECT_EQ(WindowPixels(display), withRed);
    RemoveLayerRecord(L, GetLayerByIndex(picture, 1), 0, nullptr, nullptr, nullptr, nullptr,
                      nullptr);
    EXPECT_EQ(WindowPixels(display), background);
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
