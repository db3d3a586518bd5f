// Output redirection into a background picture: SelectBGPic with its layers mode and
// EndSelect over displays on the headless back end, the layers drawn meanwhile repainted
// from the merged dirty rectangles (or whole), the objects drawn into, and the refusals.
#include <mutex>

#include "gfx/blit_frontends.h"
#include "gfx/blit_host.h"
#include "gfx/library/object_types.h"
#include "platform/linux/memory.h"
#include "scene/bgpic.h"
#include "scene/layers/compositor.h"
#include "scene/layers/layer.h"
#include "scene/layers/transform_matrix.h"
#include "scene/output_redirect.h"
#include "tests/scene/display_fixture.h"

namespace qv::testing {
namespace {

class OutputRedirect : public DisplayFixture {
protected:
    void SetUp() override {
        display =
            Start({{Str("width"), Num(80)}, {Str("height"), Num(60)}, {Str("layers"), Num(1)}});
        ASSERT_NE(display, nullptr);
        picture = Patterned(display->settings.picture);
        RefreshDisplay(L, display, 0);
        TakeDamage();
    }

    std::vector<DamageRect> TakeDamage() {
        std::lock_guard<std::recursive_mutex> hold(display->window->lock);
        const DamageList damage = qv::TakeDamage(display->window);
        return {damage.rects, damage.rects + damage.count};
    }

    // A layer of one colour on the current output picture.
    int AddSolid(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
        return AddSolidLayer(L, x, y, width, height, colour);
    }

    std::vector<uint32_t> Recomposed() {
        OwnedBitMap fresh(AllocDisplayBitMap(80, 60));
        Redraw(L, display, picture, fresh.get(), 0, 0, 80, 60, 0, 0);
        return Pixels(fresh.get());
    }

    qvDisplay* display = nullptr;
    qvBGPic* picture = nullptr;
};

TEST_F(OutputRedirect, SelectingTheShownPictureTwiceDoesNothingTheSecondTime) {
    display->text.x = 7;
    ASSERT_EQ(Call("SelectBGPic").code, 0);
    EXPECT_EQ(display->outputType, gfx::kTargetBGPic);
    EXPECT_EQ(scene::Displays().outputPicture, picture);
    EXPECT_EQ(display->savedRenderState.saved, 1);
    EXPECT_EQ(display->text.x, 0);
    AddDirtyRect(L, 3, 4, 5, 6);
    display->text.x = 42;
    ASSERT_EQ(Call("SelectBGPic", {Nil(), Num(SELMODE_LAYERS)}).code, 0);
    EXPECT_EQ(display->dirtyRects.count, 1);
    EXPECT_EQ(display->text.x, 42);
    EXPECT_EQ(display->savedRenderState.cursorX, 7);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(display->text.x, 7);
    EXPECT_EQ(display->dirtyRects.count, 0);
}

TEST_F(OutputRedirect, EndingNoRedirectionChangesNothing) {
    display->text = {7, 8, 2, 70, {}, 0};
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(display->outputType, gfx::kTargetDisplay);
    EXPECT_EQ(display->layersEnabled, 1);
    EXPECT_EQ(display->text.x, 7);
    EXPECT_EQ(display->text.rightMargin, 70);
    EXPECT_TRUE(TakeDamage().empty());
}

// Layers drawn meanwhile wait; the end repaints the merged rectangles only, and the window
// then shows what a full recomposition gives.
TEST_F(OutputRedirect, TheEndRepaintsTheMergedRectangles) {
    ASSERT_EQ(Call("SelectBGPic").code, 0);
    ASSERT_EQ(AddSolid(2, 2, 10, 10, 0xFF0000), 0);
    ASSERT_EQ(AddSolid(12, 2, 10, 10, 0x00FF00), 0);  // touches the first: merged
    ASSERT_EQ(AddSolid(50, 40, 8, 6, 0x0000FF), 0);
    const qvLayer* waiting = GetLayerByIndex(picture, 1);
    EXPECT_EQ(waiting->deferred, 1);
    EXPECT_TRUE(TakeDamage().empty());
    EXPECT_EQ(display->dirtyRects.count, 3);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(waiting->deferred, 0);
    const std::vector<DamageRect> damage = TakeDamage();
    ASSERT_EQ(damage.size(), 2u);
    EXPECT_EQ(damage[0].x, 2);
    EXPECT_EQ(damage[0].width, 20);
    EXPECT_EQ(damage[0].height, 10);
    EXPECT_EQ(damage[1].x, 50);
    EXPECT_EQ(damage[1].width, 8);
    EXPECT_EQ(WindowPixels(display), Recomposed());
    EXPECT_EQ(display->dirtyRects.count, 0);
}

TEST_F(OutputRedirect, MoreRectanglesThanTheListHoldsRepaintTheWholePicture) {
    ASSERT_EQ(Call("SelectBGPic").code, 0);
    for (int32_t i = 0; i < 1100; ++i) RefreshRect(L, i % 40, i % 30, 2, 2);
    EXPECT_TRUE(RectListWhole(&display->dirtyRects));
    ASSERT_EQ(AddSolid(30, 20, 10, 10, 0xFFFF00), 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
    const std::vector<DamageRect> damage = TakeDamage();
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(damage[0].width, 80);
    EXPECT_EQ(damage[0].height, 60);
    EXPECT_EQ(display->dirtyRects.count, 0);
    EXPECT_EQ(WindowPixels(display), Recomposed());
}

TEST_F(OutputRedirect, Refusals) {
    // Modes without the object selector, and unknown ones.
    EXPECT_EQ(Call("SelectBGPic", {Nil(), Num(SELMODE_NORMAL)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SelectBGPic", {Nil(), Num(7)}).code, ERR_WRONGUSAGE);
    // A picture that another display shows.
    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(30), Num(20)}).code, 0);
    ASSERT_EQ(Call("CreateDisplay", {Num(2), Table({{Str("bgpic"), Num(5)}})}).code, 0);
    EXPECT_EQ(Call("SelectBGPic", {Num(5)}).code, ERR_SELECTBGPIC);
    EXPECT_EQ(display->outputType, gfx::kTargetDisplay);
    // No dirty list and no memory for one.
    FreeRectList(&display->dirtyRects);
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Call("SelectBGPic").code, ERR_MEM);
    }
    EXPECT_EQ(display->outputType, gfx::kTargetDisplay);
    EXPECT_EQ(display->savedRenderState.saved, 0);
    // While the double buffer is the output.
    display->doubleBufferOutput = 1;
    EXPECT_EQ(Call("EndSelect").code, ERR_WRONGUSAGE);
    display->doubleBufferOutput = 0;
    // Layers off.
    display->layersEnabled = 0;
    EXPECT_EQ(Call("SelectBGPic").code, ERR_NOLAYERS);
    EXPECT_EQ(display->outputType, gfx::kTargetDisplay);
}

// The end of drawing into an object's pixels: a picture's derived sets are made again from
// its drawn base set; a layer drawn into is refreshed, or built again under a transform.
TEST_F(OutputRedirect, TheEndShowsWhatWasDrawnIntoAnObject) {
    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(30), Num(20)}).code, 0);
    ASSERT_EQ(Call("ScaleBGPic", {Num(5), Num(60), Num(40)}).code, 0);
    qvBGPic* drawn = Find(5);
    ASSERT_NE(drawn->scaled.bitmap, drawn->base.bitmap);
    RectFill(drawn->base.bitmap, 0, 0, drawn->baseWidth, drawn->baseHeight, 0x00FF00);
    qvBGPic record;
    FillOutputRecord(&record, gfx::kTargetBGPic, drawn, 0, nullptr, drawn->base.bitmap, nullptr,
                     nullptr, drawn->baseWidth, drawn->baseHeight, 1);
    record.outputWriteBack = 1;
    scene::Displays().outputPicture = &record;
    display->outputType = gfx::kTargetBrush;
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(scene::Displays().outputPicture, picture);
    EXPECT_EQ(drawn->width, 60);
    EXPECT_EQ(ReadBitMapPixel(drawn->scaled.bitmap, 59, 39),
              ReadBitMapPixel(drawn->base.bitmap, 0, 0));
    EXPECT_EQ(drawn->shown.bitmap, drawn->scaled.bitmap);

    // A turned layer whose pixels changed is built again and shown.
    qvDrawTransform turn = kInitialDrawTransform;
    turn.rotate = 90, turn.hasTransform = 1;
    MakeTransformMatrix(turn.matrix, 0, 0, 6, 4, 90, 1, 1);
    OwnedBitMap bitmap(AllocDisplayBitMap(6, 4));
    RectFill(bitmap.get(), 0, 0, 6, 4, 0xFF0000);
    qvDisplayBitMap* pixels = bitmap.get();
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, 10, 10, 6, 4, &turn, nullptr,
                            bitmap.release(), nullptr, nullptr, -1, 0),
              0);
    qvLayer* layer = GetLayerByIndex(picture, 1);
    const qvLayerItem* before = layer->pictureItem;
    RectFill(pixels, 0, 0, 6, 4, 0x0000FF);
    FillOutputRecord(&record, gfx::kTargetLayer, layer, 0, nullptr, pixels, nullptr, nullptr, 6, 4,
                     1);
    scene::Displays().outputPicture = &record;
    display->outputType = gfx::kTargetBrush;
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_NE(layer->displayItem, before);
    EXPECT_EQ(ReadBitMapPixel(layer->displayItem->transformed.bitmap, 0, 0),
              ReadBitMapPixel(pixels, 0, 0));
    EXPECT_EQ(WindowPixels(display), Recomposed());
}

}  // namespace
}  // namespace qv::testing
