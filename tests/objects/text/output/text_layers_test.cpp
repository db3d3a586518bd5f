// Text layers rendered again by the layer caches: on a display that scales its layers, under
// a text object's own scale, and their thin borders drawn as the glyphs' edge.
#include "objects/text/text_commands.h"
#include "tests/objects/text/output/output_fixture.h"

namespace qv::testing {
namespace {

using TextLayers = TextOutputFixture;

// Outline text is rendered again at the display's scale (the pixels of the font at twice its
// size), bitmap text is scaled; both stand where the picture item's place scales to.
TEST_F(TextLayers, ALayerScaledDisplayRendersTheTextAtItsScale) {
    StartLayerScaled();
    UseVera(12);
    ASSERT_EQ(Call("SetFontStyle", {Num(16)}).code, 0);
    ASSERT_EQ(Call("TextOut", {Num(5), Num(6), Str("Sharp")}).code, 0);
    const qvLayerItem* shown = Layer(1)->displayItem;
    ASSERT_NE(shown, Layer(1)->pictureItem);
    ASSERT_NE(shown->image.bitmap, nullptr);
    EXPECT_EQ(shown->drawX, 10);
    EXPECT_EQ(shown->drawY, 12);
    SetFontSize(GetDefaultFont(), 2, 2);
    const int code = Call("CreateTextObject", {Num(1), Str("Sharp")}).code;
    SetFontSize(GetDefaultFont(), 1, 1);
    ASSERT_EQ(code, 0);
    qvTextObject* big = nullptr;
    ASSERT_EQ(FindTextObject(L, {1, nullptr}, &big, 0), 0);
    ASSERT_EQ(shown->drawWidth, big->width);
    ASSERT_EQ(shown->drawHeight, big->height);
    EXPECT_EQ(Pixels(shown->image.bitmap), Pixels(big->bitmap));
    EXPECT_EQ(AlphaBytes(shown->image.alpha, big->width, big->height),
              AlphaBytes(big->alpha, big->width, big->height));

    UseTopaz();
    ASSERT_EQ(Call("TextOut", {Num(20), Num(40), Str("layer")}).code, 0);
    const qvLayerItem* picture = Layer(2)->pictureItem;
    const qvLayerItem* scaled = Layer(2)->displayItem;
    EXPECT_EQ(scaled->drawX, 40);
    EXPECT_EQ(scaled->drawY, 80);
    EXPECT_EQ(scaled->drawWidth, 2 * picture->drawWidth);
    EXPECT_EQ(scaled->drawHeight, 2 * picture->drawHeight);
}

// A wrapped text keeps the line breaks of its first layout at every scale: a text layer on a
// display that shows its layers at half their size, a text object scaled to half its size and
// that object's layer have as many lines as the text had when it was drawn (the font's
// measures at another size would break them elsewhere).
TEST_F(TextLayers, WrappedTextKeepsItsLineBreaksAtEveryScale) {
    Start(
        320, 200,
        {{Str("scalemode"), Num(2)}, {Str("scalewidth"), Num(160)}, {Str("scaleheight"), Num(100)}})
        ->layersEnabled = 1;
    UseVera(12);
    ASSERT_EQ(Call("SetFontStyle", {Num(16)}).code, 0);
    const char* text = "A damp cellar somewhere in the north of the town, under the old mill";
    for (int32_t wrap = 40; wrap <= 150; wrap += 5) {
        const Arg options = Table({{Str("wordwrap"), Num(wrap)}});
        ASSERT_EQ(Call("TextOut", {Num(0), Num(0), Str(text), options}).code, 0);
        const qvLayer* layer = Layer(LayerCount());
        const int32_t height = layer->pictureItem->drawHeight;
        EXPECT_NEAR(layer->displayItem->drawHeight, height / 2, 2) << wrap;

        ASSERT_EQ(Call("CreateTextObject", {Num(1), Str(text), options}).code, 0);
        qvTextObject* object = nullptr;
        ASSERT_EQ(FindTextObject(L, {1, nullptr}, &object, 0), 0);
        EXPECT_EQ(object->height, height) << wrap;
        ASSERT_EQ(Call("ScaleTextObject", {Num(1), Str("50%"), Str("50%")}).code, 0);
        EXPECT_NEAR(object->height, height / 2, 2) << wrap;
        ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(0), Num(0)}).code, 0);
        EXPECT_NEAR(Layer(LayerCount())->displayItem->drawHeight, height / 4, 2) << wrap;
    }
}

// A Print layer is laid out again as it was printed: from the cursor it started at (the first
// line indented), and with the tags off when it was printed so (a lone "]" is text then).
TEST_F(TextLayers, APrintLayerIsLaidOutAgainAsItWasPrinted) {
    StartLayerScaled();
    UseTopaz();
    ASSERT_EQ(Call("Locate", {Num(100), Num(30)}).code, 0);
    ASSERT_EQ(Call("Print", {Str("ab\ncd")}).code, 0);
    ASSERT_EQ(LayerCount(), 1);
    const qvLayerItem* picture = Layer(1)->pictureItem;
    const qvLayerItem* shown = Layer(1)->displayItem;
    EXPECT_EQ(picture->drawWidth, 116) << "the first line indented by 100";
    EXPECT_EQ(shown->drawX, 0);
    EXPECT_EQ(shown->drawY, 60);
    EXPECT_EQ(shown->drawWidth, 232);

    ASSERT_EQ(PrintText(L, "a]b", true), 0);
    ASSERT_EQ(LayerCount(), 2);
    EXPECT_EQ(Layer(2)->pictureItem->drawWidth, 24);
    EXPECT_EQ(Layer(2)->displayItem->drawWidth, 48);
}

// A text object's layer shows the object's layout under the object's own scale and then the
// display's.
TEST_F(TextLayers, ATextObjectLayerTakesTheObjectsScaleAndTheDisplays) {
    StartLayerScaled();
    UseTopaz();
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("obj")}).code, 0);
    ASSERT_EQ(Call("ScaleTextObject", {Num(1), Str("200%"), Str("200%")}).code, 0);
    qvTextObject* object = nullptr;
    ASSERT_EQ(FindTextObject(L, {1, nullptr}, &object, 0), 0);
    ASSERT_EQ(object->width, 2 * object->baseWidth);
    ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(10), Num(10)}).code, 0);
    const qvLayerItem* shown = Layer(1)->displayItem;
    ASSERT_NE(shown->image.bitmap, nullptr);
    EXPECT_EQ(shown->drawX, 20);
    EXPECT_EQ(shown->drawWidth, 2 * object->width);
    EXPECT_EQ(shown->drawHeight, 2 * object->height);
}

// An edge thinner than 8 moved to the layer's border is the glyphs' edge, one pixel wider than
// the text plus the edge on each side; a thicker one is the dilated silhouette.
TEST_F(TextLayers, ThinBordersAreTheGlyphsEdge) {
    Start();
    UseTopaz();
    Current()->layersEnabled = 1;
    struct Case {
        int32_t size, extra;
    };
    for (const Case c : {Case{3, 7}, Case{9, 18}}) {
        ASSERT_EQ(Call("SetFontStyle", {Num(64), Num(0x00FF00), Num(c.size)}).code, 0);
        ASSERT_EQ(Call("TextOut", {Num(20), Num(40), Str("edge")}).code, 0);
        const qvLayer* layer = Layer(LayerCount());
        ASSERT_EQ(layer->border.size, c.size);
        const qvLayerItem* item = layer->displayItem;
        ASSERT_NE(item->border.bitmap, nullptr) << c.size;
        EXPECT_EQ(item->borderWidth, item->drawWidth + c.extra) << c.size;
        EXPECT_EQ(item->borderHeight, item->drawHeight + c.extra) << c.size;
        EXPECT_EQ(item->border.mask != nullptr, c.size < 8) << c.size;
    }
}

// Text drawn into a picture selected with SelectBGPic becomes its layers: into the shown
// picture the window waits for EndSelect, which shows the text; into another picture the
// window is left alone and the picture shows the text once displayed.
TEST_F(TextLayers, TextIntoASelectedPictureWaitsForTheEnd) {
    Start();
    UseTopaz();
    Current()->layersEnabled = 1;
    TakeWindowDamage();
    const std::vector<uint32_t> before = Window();
    ASSERT_EQ(Call("SelectBGPic").code, 0);
    ASSERT_EQ(Call("TextOut", {Num(20), Num(40), Str("later")}).code, 0);
    ASSERT_EQ(Call("Print", {Str("too")}).code, 0);
    EXPECT_EQ(LayerCount(), 2);
    EXPECT_TRUE(TakeWindowDamage().empty());
    EXPECT_EQ(Window(), before);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_FALSE(TakeWindowDamage().empty());
    const std::vector<uint32_t> shown = Window();
    EXPECT_NE(shown, before);

    ASSERT_EQ(Call("CreateBGPic", {Num(2), Num(320), Num(200), Num(0)}).code, 0);
    ASSERT_EQ(Call("SelectBGPic", {Num(2)}).code, 0);
    ASSERT_EQ(Call("TextOut", {Num(100), Num(100), Str("elsewhere")}).code, 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_EQ(Window(), shown);
    qvBGPic* other = nullptr;
    ASSERT_EQ(GetBGPic(L, {2, nullptr}, &other, 0), 0);
    ASSERT_EQ(CountLayers(other), 1);
    ASSERT_EQ(Call("DisplayBGPic", {Num(2)}).code, 0);
    const std::vector<uint32_t> elsewhere = Window();
    bool inked = false;
    for (int32_t y = 100; y < 108; ++y) {
        for (int32_t x = 100; x < 172; ++x) inked = inked || elsewhere[size_t(y) * 320 + x] != 0;
    }
    EXPECT_TRUE(inked);
}

}  // namespace
}  // namespace qv::testing
