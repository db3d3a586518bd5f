// The rows through SetLayerStyle: layers restyled and rebuilt from what the rows read.
#include "tests/scene/layers/style/style_rows_fixture.h"

namespace qv::testing {
namespace {

using StyleRowsEndToEnd = StyleRowsFixture;

TEST_F(StyleRowsEndToEnd, ABrushLayerShowsAnotherBrush) {
    Plain(1, 4, 3, 0xFF0000);
    Plain(2, 6, 5, 0x00FF00);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(5), Num(6)}).code, 0);
    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("id"), Num(2)}})}).code, 0);
    const qvLayer* layer = Layer(1);
    EXPECT_EQ(layer->objectId.number, 2u);
    EXPECT_EQ(layer->sourceItem->width, 6);
    EXPECT_EQ(At(6, 7), Stored(0x00FF00));
    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("partx"), Num(2)}})}).code, 0);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypeBrushPart));
    EXPECT_EQ(NumberAt(Style(1), "partx"), 2);
    EXPECT_EQ(NumberAt(Style(1), "partwidth"), 4);
}

TEST_F(StyleRowsEndToEnd, AnAnimLayerWrapsToItsFirstFrame) {
    MakeAnim(9, 5, 4, 3);
    ASSERT_EQ(Call("InsertLayer", {Num(1), Num(gfx::kTypeAnim), Num(9), Num(3), Num(2)}).code, 0);
    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("frame"), Num(-1)}})}).code, 0);
    EXPECT_EQ(NumberAt(Style(1), "frame"), 3);
    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("frame"), Num(0)}})}).code, 0);
    EXPECT_EQ(NumberAt(Style(1), "frame"), 1);
    SetExitOnError(false);
    EXPECT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("frame"), Num(4)}})}).code, ERR_ANIMFRAME);
}

TEST_F(StyleRowsEndToEnd, TextLayersAreRestyledAndRetyped) {
    ASSERT_EQ(Call("TextOut", {Num(10), Num(5), Str("Hello")}).code, 0);
    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{
                                                        Str("text"),
                                                        Str("Bye"),
                                                    },
                                                    {Str("color"), Num(0x00FF00)}})})
                  .code,
              0);
    Value style = Style(1);
    ASSERT_NE(style.Field("text"), nullptr);
    EXPECT_EQ(style.Field("text")->text, "Bye");
    EXPECT_EQ(NumberAt(style, "color"), 0x00FF00);
    EXPECT_EQ(NumberAt(style, "x"), 10);

    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("type"), Num(gfx::kTypePrint)}})}).code,
              0);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypePrint));
    EXPECT_EQ(Style(1).Field("text")->text, "Bye");

    // A brush without its id: refused, and the layer stays a text layer.
    SetExitOnError(false);
    EXPECT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("type"), Num(gfx::kTypeBrush)}})}).code,
              ERR_MISSINGPARAMTR);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypePrint));
}

}  // namespace
}  // namespace qv::testing
