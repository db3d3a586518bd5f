// Drawn layers rebuilt by SetLayerStyle on a real display: the window shows the new content,
// as a full redraw of the picture does and as the same thing drawn afresh does.
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/vector/vector_library.h"
#include "scene/layers/compositor.h"
#include "tests/objects/vector/vector_test_support.h"
#include "tests/scene/layers/style/style_rows_fixture.h"

namespace qv::testing {
namespace {

inline constexpr LibraryOpener OpenDrawnLayerLibraries =
    OpenLibraries<RegisterGraphicsLibrary, RegisterStringLibrary, RegisterTextLibrary,
                  RegisterDisplayLibrary, RegisterBGPicLibrary, RegisterBrushLibrary,
                  RegisterDrawLibrary, RegisterVectorGraphicsLibrary>;

class DrawnLayerRebuild : public StyleRowsFixture {
protected:
    DrawnLayerRebuild() : StyleRowsFixture(OpenDrawnLayerLibraries) {
        UseVectorBackend(&kCairoBackend);
    }
    ~DrawnLayerRebuild() override {
        FreeAllPaths(L);
        UseVectorBackend(nullptr);
        FreeDrawBuffers(L);
    }

    // The window after a restyle, checked against a full redraw of the picture.
    std::vector<uint32_t> Restyled(const Arg& table) {
        EXPECT_EQ(Call("SetLayerStyle", {Num(1), table}).code, 0);
        std::vector<uint32_t> shown = Window();
        EXPECT_EQ(shown, Recomposed());
        return shown;
    }
    // The window once the layer is gone and draw() has drawn the same thing afresh.
    template <typename Draw>
    std::vector<uint32_t> DrawnAfresh(Draw draw) {
        EXPECT_EQ(Call("RemoveLayer", {Num(1)}).code, 0);
        draw();
        return Window();
    }
    std::vector<uint32_t> Recomposed() {
        qvBGPic* picture = display->settings.picture;
        OwnedBitMap fresh(AllocDisplayBitMap(picture->width, picture->height));
        ::Redraw(L, display, picture, fresh.get(), 0, 0, picture->width, picture->height, 0, 0);
        std::vector<uint32_t> pixels;
        for (int32_t y = 0; y < picture->height; ++y) {
            for (int32_t x = 0; x < picture->width; ++x)
                pixels.push_back(ReadBitMapPixel(fresh.get(), x, y));
        }
        return pixels;
    }
};

TEST_F(DrawnLayerRebuild, ABoxTakesItsNewSizeAndColour) {
    ASSERT_EQ(Call("Box", {Num(4), Num(5), Num(10), Num(8), Num(0xFF0000)}).code, 0);
    const std::vector<uint32_t> shown =
        Restyled(Table({{Str("sizex"), Num(20)}, {Str("color"), Num(0x00FF00)}}));
    EXPECT_EQ(At(20, 5), Stored(0x00FF00));  // the new top edge
    EXPECT_EQ(shown, DrawnAfresh([&] {
                  EXPECT_EQ(Call("Box", {Num(4), Num(5), Num(20), Num(8), Num(0x00FF00)}).code, 0);
              }));
}

TEST_F(DrawnLayerRebuild, ATextLayerShowsItsNewText) {
    ASSERT_EQ(Call("TextOut", {Num(3), Num(10), Str("ii")}).code, 0);
    const std::vector<uint32_t> before = Window();
    const std::vector<uint32_t> shown = Restyled(Table({{Str("text"), Str("WMW")}}));
    EXPECT_NE(shown, before);
    EXPECT_EQ(shown, DrawnAfresh([&] {
                  EXPECT_EQ(Call("TextOut", {Num(3), Num(10), Str("WMW")}).code, 0);
              }));
}

// A restyled text is as large as the same text drawn afresh, so that a position constant and
// the anchor place it by its new size.
TEST_F(DrawnLayerRebuild, ARestyledTextTakesTheSizeOfItsNewLayout) {
    const struct {
        const char* what;
        std::vector<std::pair<Arg, Arg>> style;
        std::vector<Arg> font;  // set before the same text is drawn afresh
        const char* text;
    } cases[] = {
        {"longer text", {{Str("text"), Str("Hello World")}}, {}, "Hello World"},
        {"larger font",
         {{Str("font"), Str(":::default_sans")}, {Str("fontsize"), Num(30)}},
         {Str(":::default_sans"), Num(30)},
         "Hi"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Call("TextOut", {Num(3), Num(10), Str("Hi")}).code, 0);
        ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table(c.style)}).code, 0);
        if (!c.font.empty()) {
            ASSERT_EQ(Call("SetFont", c.font).code, 0);
        }
        ASSERT_EQ(Call("TextOut", {Num(0), Num(0), Str(c.text)}).code, 0);
        const int32_t width = Layer(2)->sourceItem->width, height = Layer(2)->sourceItem->height;
        ASSERT_EQ(Call("RemoveLayer", {Num(2)}).code, 0);

        const qvLayerItem* item = Layer(1)->sourceItem;
        EXPECT_EQ(item->width, width);
        EXPECT_EQ(item->height, height);
        ASSERT_EQ(Call("ShowLayer", {Num(1), Num(gfx::RIGHT), Num(0)}).code, 0);
        EXPECT_EQ(Layer(1)->displayItem->drawX + width, display->settings.picture->width);
        ASSERT_EQ(Call("SetLayerAnchor", {Num(1), Num(0.5), Num(0.5)}).code, 0);
        ASSERT_EQ(Call("ShowLayer", {Num(1), Num(40), Num(30)}).code, 0);
        EXPECT_EQ(Layer(1)->displayItem->drawX, 40 - width / 2);
        EXPECT_EQ(Layer(1)->displayItem->drawY, 30 - height / 2);
        EXPECT_EQ(Window(), Recomposed());
        ASSERT_EQ(Call("RemoveLayer", {Num(1)}).code, 0);
    }
}

// A transformed text given a new text keeps the size of its upright layout, as the same text
// drawn afresh and transformed alike does: the transform, a position constant and an
// explicit size all go by the new size.
TEST_F(DrawnLayerRebuild, ATransformedRestyledTextTakesTheSizeOfItsNewLayout) {
    const struct {
        const char* what;
        std::vector<std::pair<Arg, Arg>> transform;
    } cases[] = {
        {"scaled", {{Str("scalex"), Num(2)}}},
        {"turned", {{Str("rotate"), Num(90)}}},
        {"explicit width", {{Str("width"), Num(100)}}},
        {"matrix, anchored in the middle",
         {{Str("transform"),
           Table({{Num(0), Num(1)}, {Num(1), Num(0.5)}, {Num(2), Num(0)}, {Num(3), Num(2)}})},
          {Str("anchorx"), Num(0.5)},
          {Str("anchory"), Num(0.5)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(Call("TextOut", {Num(3), Num(10), Str("Hi")}).code, 0);
        ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table(c.transform)}).code, 0);
        ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("text"), Str("Hello World")}})}).code,
                  0);
        ASSERT_EQ(Call("TextOut", {Num(3), Num(10), Str("Hello World")}).code, 0);
        ASSERT_EQ(Call("SetLayerStyle", {Num(2), Table(c.transform)}).code, 0);
        for (int layer : {1, 2})
            ASSERT_EQ(Call("ShowLayer", {Num(layer), Num(gfx::RIGHT), Num(gfx::CENTER)}).code, 0);

        const qvLayerItem* restyled = Layer(1)->sourceItem;
        const qvLayerItem* afresh = Layer(2)->sourceItem;
        EXPECT_EQ(restyled->width, afresh->width);
        EXPECT_EQ(restyled->height, afresh->height);
        EXPECT_EQ(restyled->x, afresh->x);
        EXPECT_EQ(restyled->anchoredX, afresh->anchoredX);
        const qvLayerItem* shown = Layer(1)->displayItem;
        const qvLayerItem* twin = Layer(2)->displayItem;
        EXPECT_EQ(shown->drawX, twin->drawX);
        EXPECT_EQ(shown->drawY, twin->drawY);
        EXPECT_EQ(shown->drawWidth, twin->drawWidth);
        EXPECT_EQ(shown->drawHeight, twin->drawHeight);
        EXPECT_EQ(Window(), Recomposed());
        ASSERT_EQ(Call("RemoveLayer", {Num(2)}).code, 0);
        ASSERT_EQ(Call("RemoveLayer", {Num(1)}).code, 0);
    }
}

TEST_F(DrawnLayerRebuild, APathTakesItsNewDashes) {
    ASSERT_EQ(Call("StartPath", {Num(1)}).code, 0);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("LineTo", {Num(1), Num(40), Num(0)}).code, 0);
    ASSERT_EQ(Call("DrawPath", {Num(1), Num(8), Num(20), Num(0xFFFFFF)}).code, 0);
    const std::vector<uint32_t> before = Window();
    const std::vector<uint32_t> shown = Restyled(Table({{Str("dashes"), List({Num(4), Num(4)})}}));
    EXPECT_NE(shown, before);
    EXPECT_EQ(shown, DrawnAfresh([&] {
                  EXPECT_EQ(Call("SetDash", {Num(0), Num(4), Num(4)}).code, 0);
                  EXPECT_EQ(Call("DrawPath", {Num(1), Num(8), Num(20), Num(0xFFFFFF)}).code, 0);
              }));
}

// A shown brush carries its size as the transform's explicit size; a larger brush given by id
// shows at its own size, not scaled down to the old one, unless the table sizes it.
TEST_F(DrawnLayerRebuild, ABrushLayerFollowsTheSizeOfANewBrush) {
    Plain(1, 4, 3, 0xFF0000);
    Plain(2, 12, 10, 0x00FF00);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(5), Num(6)}).code, 0);
    Restyled(Table({{Str("id"), Num(2)}}));
    EXPECT_EQ(Layer(1)->transform.width, 12);
    EXPECT_EQ(Layer(1)->transform.height, 10);
    EXPECT_EQ(At(16, 15), Stored(0x00FF00));
    EXPECT_EQ(At(17, 16), Stored(0));

    Restyled(Table({{Str("id"), Num(1)}, {Str("width"), Num(8)}}));
    EXPECT_EQ(Layer(1)->transform.width, 8);
    EXPECT_EQ(Layer(1)->transform.height, 3);
    EXPECT_EQ(At(12, 6), Stored(0xFF0000));
}

// The short commands on layers whose objects only the layers know: the private brush of
// CreateLayer (an orphan from the start) and the private anim of CreateLayer with frames, and
// a layer of an anim of the store. Each turns through the transform road and composes as a
// full redraw does.
TEST_F(DrawnLayerRebuild, ShortCommandsTurnOrphanAndAnimLayers) {
    MakeAnim(9, 6, 5, 3);
    ASSERT_EQ(Call("CreateLayer",
                   {Num(2), Num(2), Num(8), Num(6), Table({{Str("color"), Num(0xFF0000)}})})
                  .code,
              0);
    ASSERT_EQ(Call("CreateLayer", {Num(20), Num(4), Num(7), Num(5),
                                   Table({{Str("frames"), Num(2)}, {Str("color"), Num(0x0000FF)}})})
                  .code,
              0);
    ASSERT_EQ(Call("InsertLayer", {Num(3), Num(gfx::kTypeAnim), Num(9), Num(40), Num(20)}).code, 0);
    for (int32_t n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(Call("RotateLayer", {Num(n), Num(30)}).code, 0);
        EXPECT_EQ(Layer(n)->transform.rotate, 30);
        EXPECT_EQ(Window(), Recomposed());
        EXPECT_EQ(Call("ScaleLayer", {Num(n), Num(12), Num(9)}).code, 0);
        EXPECT_EQ(Window(), Recomposed());
    }
    EXPECT_EQ(Call("NextFrame", {Num(2)}).code, 0);
    EXPECT_EQ(Window(), Recomposed());
}

}  // namespace
}  // namespace qv::testing
