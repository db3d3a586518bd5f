// Drawing redirected into brushes and pictures, and double buffering, on a headless display:
// the selection state machine, the planes made at the first drawing, copy-on-write for the
// layers that show a brush, what Flip copies into the window, and the refusals.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "gfx/graphics_state.h"
#include "media/video_display.h"
#include "objects/output.h"
#include "objects/scene_hooks.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"
#include "platform/linux/video/video.h"
#include "scene/bgpic.h"
#include "scene/double_buffer.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/layer.h"
#include "scene/object_hooks.h"
#include "scene/output_redirect.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kRed = 0xF80000, kGreen = 0x00FC00, kBlue = 0x0000F8;

class OutputTest : public BrushDisplayFixture {
protected:
    OutputTest() { scene::SetObjectHooks(&hooks); }
    ~OutputTest() override {
        platform::testing::SetInstantVBlank(false);
        scene::SetObjectHooks(nullptr);
    }

    int Draw(uint32_t brush, int32_t x, int32_t y) {
        return Call("DisplayBrush", {Num(brush), Num(x), Num(y)}).code;
    }
    static qvBrush* Find(uint32_t id) {
        qvBrush* brush = nullptr;
        GetBrush(nullptr, {id, nullptr}, &brush, QV_BRUSH_HARDWARE);
        return brush;
    }
    const qvBGPic* Output() const { return scene::Displays().outputPicture; }
    static bool AllSet(const qvPlaneBitMap* mask, int32_t width, int32_t height) {
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                if (ReadBitMapPixel(mask, x, y) != 1) return false;
            }
        }
        return true;
    }

    objects::SceneHooks hooks;
};

TEST_F(OutputTest, DrawingGoesIntoTheSelectedBrushUntilTheSelectionEnds) {
    Open(16, 16);
    Plain(5, 8, 8, kBlue);
    Plain(6, 2, 2, kRed);
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    EXPECT_EQ(display->outputType, gfx::kTypeBrush);
    EXPECT_EQ(Output(), display->outputPseudoPicture);
    EXPECT_EQ(Output()->width, 8);
    ASSERT_EQ(Draw(6, 3, 3), 0);
    EXPECT_EQ(ReadBitMapPixel(Find(5)->bitmap, 3, 3), Stored(kRed));
    EXPECT_EQ(At(3, 3), 0u);
    // The brush drawn into cannot be changed or freed meanwhile.
    EXPECT_EQ(Call("FreeBrush", {Num(5)}).code, ERR_MODIFYABR);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(display->outputType, gfx::kTypeDisplay);
    ASSERT_EQ(Draw(6, 3, 3), 0);
    EXPECT_EQ(At(3, 3), Stored(kRed));
}

// The same object again does nothing; a new selection mode or combo flag only lends other
// planes.
TEST_F(OutputTest, ReselectionChangesOnlyWhatTheModeLends) {
    Open(16, 16);
    MakeBrush(5, 4, 4, std::vector<uint32_t>(16, kBlue), {}, std::vector<uint8_t>(16, 128));
    Plain(6, 2, 2, kRed);
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    ASSERT_EQ(Draw(6, 0, 0), 0);
    ASSERT_EQ(Output()->outputFetched, 1);
    display->text.x = 3;
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    EXPECT_EQ(Output()->outputFetched, 1);
    EXPECT_EQ(display->text.x, 3);
    EXPECT_EQ(display->outputAlpha, nullptr);

    ASSERT_EQ(Call("SelectBrush", {Num(5), Num(SELMODE_COMBO), Num(1)}).code, 0);
    EXPECT_EQ(Output()->outputFetched, 1);
    EXPECT_EQ(display->text.x, 3);
    EXPECT_EQ(display->outputAlpha, Find(5)->alpha);
    EXPECT_TRUE(gfx::Graphics().alphaCombine);
    ASSERT_EQ(Call("SelectBrush", {Num(5), Num(SELMODE_COMBO)}).code, 0);
    EXPECT_FALSE(gfx::Graphics().alphaCombine);
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    EXPECT_EQ(display->outputAlpha, nullptr);
    ASSERT_EQ(Call("EndSelect").code, 0);
}

// The first drawing into a mask or alpha channel the brush lacks makes it, replacing the
// other plane.
TEST_F(OutputTest, AMissingPlaneIsMadeAtTheFirstDrawing) {
    Open(16, 16);
    MakeBrush(5, 4, 3, std::vector<uint32_t>(12, kBlue), {}, std::vector<uint8_t>(12, 7));
    Plain(6, 1, 1, kRed);
    ASSERT_EQ(Call("SelectMask", {Num(5)}).code, 0);
    EXPECT_EQ(display->outputType, gfx::kTypeMask);
    EXPECT_NE(Find(5)->alpha, nullptr);
    ASSERT_EQ(Draw(6, 0, 0), 0);
    qvBrush* brush = Find(5);
    ASSERT_NE(brush->mask, nullptr);
    EXPECT_EQ(brush->alpha, nullptr);
    EXPECT_EQ(display->outputMask, brush->mask);
    EXPECT_TRUE(AllSet(brush->mask, 4, 3));

    ASSERT_EQ(Call("SelectAlphaChannel", {Num(5)}).code, 0);
    ASSERT_EQ(Draw(6, 9, 9), 0);  // outside: only the planes are fetched
    ASSERT_NE(brush->alpha, nullptr);
    EXPECT_EQ(brush->mask, nullptr);
    EXPECT_EQ(brush->alpha->plane[0], 255);
    ASSERT_EQ(Call("EndSelect").code, 0);

    // Running out of memory leaves the brush as it was.
    ASSERT_EQ(Call("SelectMask", {Num(5)}).code, 0);
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Draw(6, 0, 0), ERR_MEM);
    }
    EXPECT_EQ(brush->mask, nullptr);
    EXPECT_NE(brush->alpha, nullptr);
    ASSERT_EQ(Call("EndSelect").code, 0);
}

TEST_F(OutputTest, SelectionRefusals) {
    Open(16, 16);
    Plain(5, 4, 4, kBlue);
    const struct {
        const char* command;
        std::vector<Arg> args;
        int code;
    } cases[] = {
        {"SelectBrush", {Num(9)}, ERR_FINDBRUSH},
        {"SelectMask", {Num(5), Num(gfx::kTypeAnim)}, ERR_MISSINGPARAMTR},
        {"SelectMask", {Num(5), Num(gfx::kTypeAnim), Num(1)}, ERR_FINDANIM},
        {"SelectAlphaChannel", {Num(5), Num(17)}, ERR_WRONGUSAGE},
        // The shown picture belongs to the display.
        {"SelectBGPic", {Nil(), Num(SELMODE_NORMAL)}, ERR_SELECTBGPIC2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command;
        EXPECT_EQ(display->outputType, gfx::kTypeDisplay) << c.command;
    }
}

// A picture drawn into through SelectBGPic's pixel mode shows the drawing at its size.
TEST_F(OutputTest, APictureIsDrawnIntoAndRescaled) {
    Open(16, 16);
    Plain(6, 2, 2, kRed);
    ASSERT_EQ(Call("CreateBGPic", {Num(7), Num(10), Num(10)}).code, 0);
    ASSERT_EQ(Call("SelectBGPic", {Num(7), Num(SELMODE_NORMAL)}).code, 0);
    EXPECT_EQ(Output()->outputKind, gfx::kTypeBGPic);
    ASSERT_EQ(Draw(6, 4, 4), 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
    qvBGPic* picture = nullptr;
    ASSERT_EQ(GetBGPic(L, {7, nullptr}, &picture, 0), 0);
    EXPECT_EQ(ReadBitMapPixel(picture->shown.bitmap, 5, 5), Stored(kRed));
    EXPECT_EQ(ReadBitMapPixel(picture->shown.bitmap, 6, 6), 0u);
}

// A layer that shows the brush keeps its pixels: the drawing gives it a copy first.
TEST_F(OutputTest, ALayerShowingTheBrushKeepsItsPixels) {
    Open(16, 16);
    display->layersEnabled = 1;
    Plain(5, 4, 4, kBlue);
    Plain(6, 2, 2, kRed);
    const qvObjectId id{5, nullptr};
    qvDrawStyle style = kInitialDrawStyle;
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, &id, 0, 0, 0, 0, 4, 4, nullptr, &style, nullptr,
                            nullptr, nullptr, -1, 0),
              0);
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    EXPECT_EQ(display->layersEnabled, 0);
    ASSERT_EQ(Draw(6, 0, 0), 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(display->layersEnabled, 1);
    const qvLayer* layer = GetLayerByIndex(display->settings.picture, 1);
    ASSERT_NE(layer, nullptr);
    EXPECT_NE(layer->objectId.handle, nullptr);
    EXPECT_EQ(ReadBitMapPixel(Find(5)->bitmap, 0, 0), Stored(kRed));
    qvBrush* shown = nullptr;
    ASSERT_EQ(GetBrush(L, layer->objectId, &shown, QV_BRUSH_ORPHANS), 0);
    EXPECT_EQ(ReadBitMapPixel(shown->bitmap, 0, 0), Stored(kBlue));
}

// A layer is made private before it is drawn into: the brush it showed keeps its planes.
TEST_F(OutputTest, ALayerIsDrawnIntoThroughItsPrivateBrush) {
    Open(16, 16);
    display->layersEnabled = 1;
    Plain(5, 4, 4, kBlue);
    Plain(6, 2, 2, kRed);
    const qvObjectId id{5, nullptr};
    qvDrawStyle style = kInitialDrawStyle;
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, &id, 0, 0, 0, 0, 4, 4, nullptr, &style, nullptr,
                            nullptr, nullptr, -1, 0),
              0);
    EXPECT_EQ(
        objects::SelectOutputObject(L, gfx::kTypeLayer, {2, nullptr}, gfx::kTypeMask, 0, 0, 0),
        ERR_LAYERRANGE);
    EXPECT_EQ(
        objects::SelectOutputObject(L, gfx::kTypeLayer, {1, nullptr}, gfx::kTypeMask, 3, 0, 0),
        ERR_NOANMLAYER);
    display->layersEnabled = 1;
    ASSERT_EQ(
        objects::SelectOutputObject(L, gfx::kTypeLayer, {1, nullptr}, gfx::kTypeMask, 0, 0, 0), 0);
    ASSERT_EQ(Draw(6, 0, 0), 0);
    const qvLayer* layer = GetLayerByIndex(display->settings.picture, 1);
    qvBrush* shown = nullptr;
    ASSERT_EQ(GetBrush(L, layer->objectId, &shown, QV_BRUSH_ORPHANS), 0);
    EXPECT_NE(shown, Find(5));
    EXPECT_NE(shown->mask, nullptr);
    EXPECT_EQ(display->outputMask, shown->mask);
    EXPECT_EQ(Find(5)->mask, nullptr);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(display->layersEnabled, 1);
}

class DoubleBufferTest : public OutputTest {
protected:
    void SetUp() override {
        Open(32, 24, kGreen);
        Plain(6, 4, 3, kRed);
        platform::testing::SetInstantVBlank(true);
    }
    qvDisplayBitMap* Back() const { return display->backBuffers[1]; }
    // The window's pixel equals the back buffer's inside the rectangle and the old green
    // picture outside it.
    void ExpectWindow(int32_t x0, int32_t y0, int32_t width, int32_t height) {
        for (int32_t y = 0; y < 24; ++y) {
            for (int32_t x = 0; x < 32; ++x) {
                const bool inside = x >= x0 && x < x0 + width && y >= y0 && y < y0 + height;
                EXPECT_EQ(At(x, y), inside ? ReadBitMapPixel(Back(), x, y) : Stored(kGreen))
                    << x << "," << y;
            }
        }
    }
};

TEST_F(DoubleBufferTest, FlipCopiesWhatChanged) {
    ASSERT_EQ(Call("BeginDoubleBuffer").code, 0);
    EXPECT_EQ(display->doubleBufferOutput, 1);
    EXPECT_EQ(Output(), display->doubleBufferPicture);
    ASSERT_EQ(Draw(6, 5, 7), 0);
    EXPECT_EQ(ReadBitMapPixel(Back(), 5, 7), Stored(kRed));
    EXPECT_EQ(At(5, 7), Stored(kGreen));
    const uint64_t blanks = VBlankCount();
    ASSERT_EQ(Call("Flip", {Num(0)}).code, 0);
    EXPECT_EQ(VBlankCount(), blanks);
    ExpectWindow(5, 7, 4, 3);
    EXPECT_EQ(display->dirtyRects.count, 0);
    ASSERT_EQ(Call("Flip").code, 0);
    EXPECT_EQ(VBlankCount(), blanks + 1);

    ASSERT_EQ(Call("EndDoubleBuffer").code, 0);
    EXPECT_EQ(display->outputType, gfx::kTypeDisplay);
    EXPECT_EQ(display->doubleBufferOutput, 0);
    EXPECT_EQ(display->backBuffers[0], nullptr);
    EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 5, 7), Stored(kRed));
    EXPECT_EQ(ReadBitMapPixel(display->displayBitmap, 0, 0), 0u);
    EXPECT_EQ(Call("Flip").code, ERR_NODOUBLEBUFFER);
    EXPECT_EQ(Call("EndDoubleBuffer").code, ERR_NODOUBLEBUFFER);
}

TEST_F(DoubleBufferTest, MoreRectanglesThanTheListHoldsCopyEverything) {
    ASSERT_EQ(Call("BeginDoubleBuffer").code, 0);
    for (int32_t i = 0; i < 1100; ++i) ASSERT_EQ(Draw(6, i % 28, i % 21), 0);
    EXPECT_TRUE(RectListWhole(&display->dirtyRects));
    ASSERT_EQ(Call("Flip", {Num(0)}).code, 0);
    ExpectWindow(0, 0, 32, 24);
}

// The list holds corners whoever reads it: the display refresh's copies agree with Flip's.
TEST_F(DoubleBufferTest, TheRefreshReadsCorners) {
    ASSERT_EQ(Call("BeginDoubleBuffer").code, 0);
    RectFill(display->backBuffers[0], 0, 0, 32, 24, kBlue);
    AddDirtyRect(L, 10, 10, 5, 4);
    scene::FlipBuffers(display, 0, 0);
    EXPECT_EQ(At(14, 13), Stored(kBlue));
    EXPECT_EQ(At(15, 13), Stored(kGreen));
    EXPECT_EQ(At(14, 14), Stored(kGreen));
    // Entries beyond the picture are cut to it.
    AddDirtyRect(L, 30, 22, 50, 50);
    scene::FlipBuffers(display, 0, 0);
    EXPECT_EQ(At(31, 23), Stored(kBlue));
}

// A selection suspends double buffering; its end resumes it.
TEST_F(DoubleBufferTest, ASelectionSuspendsDoubleBuffering) {
    Plain(5, 4, 4, kBlue);
    ASSERT_EQ(Call("BeginDoubleBuffer").code, 0);
    ASSERT_EQ(Call("SelectBrush", {Num(5)}).code, 0);
    EXPECT_EQ(display->doubleBufferOutput, 0);
    EXPECT_EQ(display->doubleBufferPending, 1);
    EXPECT_EQ(Call("Flip").code, ERR_NODOUBLEBUFFER);
    ASSERT_EQ(Draw(6, 0, 0), 0);
    EXPECT_EQ(ReadBitMapPixel(Find(5)->bitmap, 0, 0), Stored(kRed));
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(display->doubleBufferOutput, 1);
    EXPECT_EQ(Output(), display->doubleBufferPicture);
    ASSERT_EQ(Draw(6, 1, 1), 0);
    EXPECT_EQ(ReadBitMapPixel(Back(), 1, 1), Stored(kRed));
    ASSERT_EQ(Call("EndDoubleBuffer").code, 0);
}

TEST_F(DoubleBufferTest, BeginRefusals) {
    Plain(5, 4, 4, kBlue);
    qvBGPic* picture = display->settings.picture;
    qvSpriteInstance sprite{};
    const struct {
        std::function<void()> arrange, undo;
        int code;
    } cases[] = {
        {[&] { Call("SelectBrush", {Num(5)}); }, [&] { Call("EndSelect"); }, ERR_SELECTBRUSH},
        {[&] {
             Call("SelectBrush", {Num(5)});
             display->outputPseudoPicture->outputKind = gfx::kTypeAnim;
         },
         [&] { Call("EndSelect"); }, ERR_SELECTANIM},
        // A picture selected for its pixels is an object selection, as a brush is.
        {[&] {
             Call("CreateBGPic", {Num(7), Num(8), Num(8)});
             Call("SelectBGPic", {Num(7), Num(SELMODE_NORMAL)});
         },
         [&] {
             Call("EndSelect");
             Call("FreeBGPic", {Num(7)});
         },
         ERR_SELECTBRUSH},
        {[&] { Call("SelectMask", {Num(5)}); }, [&] { Call("EndSelect"); }, ERR_SELECTMASK},
        {[&] { Call("SelectAlphaChannel", {Num(5)}); }, [&] { Call("EndSelect"); },
         ERR_SELECTALPHACHANNEL},
        {[&] {
             display->layersEnabled = 1;
             Call("SelectBGPic", {Nil(), Num(SELMODE_LAYERS)});
         },
         [&] {
             Call("EndSelect");
             display->layersEnabled = 0;
         },
         ERR_SELECTBG},
        {[&] { display->layersEnabled = 1; }, [&] { display->layersEnabled = 0; }, ERR_LAYERSOFF},
        {[&] {
             Call("BeginDoubleBuffer");
             display->layersEnabled = 1;
         },
         [&] {
             display->layersEnabled = 0;
             Call("EndDoubleBuffer");
         },
         ERR_ENDDOUBLEBUFFER},
        {[&] { picture->sprites = &sprite; }, [&] { picture->sprites = nullptr; }, ERR_NOSPRITES},
        {[&] { picture->shown.mask = AllocMaskBitMap(nullptr, 32, 24, 1); },
         [&] {
             FreePlaneBitMap(picture->shown.mask);
             picture->shown.mask = nullptr;
         },
         ERR_DBTRANSWIN},
        {[&] { media::testing::SetVideoPlayingOn(display); },
         [&] { media::testing::SetVideoPlayingOn(nullptr); }, ERR_VIDATTACHED},
    };
    for (const auto& c : cases) {
        c.arrange();
        const qvDisplayBitMap* back = display->backBuffers[1];
        EXPECT_EQ(Call("BeginDoubleBuffer").code, c.code);
        EXPECT_EQ(display->backBuffers[1], back) << c.code;
        c.undo();
    }
    EXPECT_EQ(display->doubleBufferOutput, 0);
    // Memory running out leaves the display as it was.
    for (uint64_t n = 1; n <= 4; ++n) {
        AllocationFault fault(n, false);
        const int code = Call("BeginDoubleBuffer").code;
        if (code == 0) break;
        EXPECT_EQ(code, ERR_MEM);
        EXPECT_EQ(display->doubleBufferOutput, 0);
        EXPECT_EQ(display->backBuffers[0], nullptr);
        EXPECT_EQ(display->outputType, gfx::kTypeDisplay);
    }
}

// An autoscaled display flips the whole back buffer scaled into the front buffer, which
// has the window's size.
TEST_F(OutputTest, AnAutoscaledDisplayFlipsScaled) {
    ASSERT_EQ(Call("CreateDisplay", {Num(1), Table({{Str("width"), Num(16)},
                                                    {Str("height"), Num(12)},
                                                    {Str("scalemode"), Num(1)},
                                                    {Str("scalewidth"), Num(32)},
                                                    {Str("scaleheight"), Num(24)}})})
                  .code,
              0);
    ASSERT_EQ(OpenFirstDisplay(L, nullptr, nullptr), 0);
    FindDisplay({1, nullptr}, &display);
    platform::testing::SetInstantVBlank(true);
    Plain(6, 2, 2, kRed);
    ASSERT_EQ(Call("BeginDoubleBuffer").code, 0);
    EXPECT_EQ(display->backBuffers[0]->width, 32);
    EXPECT_EQ(display->backBuffers[1]->width, 16);
    ASSERT_EQ(Draw(6, 2, 3), 0);
    ASSERT_EQ(Call("Flip").code, 0);
    for (const auto& [x, y, colour] : std::vector<std::tuple<int, int, uint32_t>>{
             {4, 6, Stored(kRed)}, {7, 9, Stored(kRed)}, {8, 9, 0u}, {3, 6, 0u}, {31, 23, 0u}}) {
        EXPECT_EQ(At(x, y), colour) << x << "," << y;
    }
    ASSERT_EQ(Call("EndDoubleBuffer").code, 0);
    EXPECT_EQ(ReadBitMapPixel(display->compositionBitmap, 3, 4), Stored(kRed));
}

// Without the back end's veto a compositing back buffer is made when asked and granted.
TEST_F(DoubleBufferTest, HardwareBackBuffers) {
    ASSERT_EQ(Call("BeginDoubleBuffer", {Num(1)}).code, 0);
    EXPECT_EQ(display->hardwareDoubleBuffer, 0);
    platform::testing::GrantCompositing(8, true);
    ASSERT_EQ(Call("BeginDoubleBuffer", {Num(1)}).code, 0);
    EXPECT_EQ(display->hardwareDoubleBuffer, 1);
    SetScreenFriendVeto(true);
    ASSERT_EQ(Call("BeginDoubleBuffer", {Num(1)}).code, 0);
    EXPECT_EQ(display->hardwareDoubleBuffer, 0);
    SetScreenFriendVeto(false);
    platform::testing::GrantCompositing(0, true);
    ASSERT_EQ(Call("EndDoubleBuffer").code, 0);
}

}  // namespace
}  // namespace qv::testing
