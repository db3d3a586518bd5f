// Brushes over the real layer list: what the display engine adds with layers on, a layer
// inserted again or made again under a new transform, and the pictures of layers and text
// objects turned into brushes.
#include <gtest/gtest.h>

#include <cstdio>

#include "objects/scene_hooks.h"
#include "objects/text/text_library.h"
#include "objects/text/text_objects.h"
#include "scene/layers/layer.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kRed = 0xF80000, kBlue = 0x0000F8, kGrey = 0x808080;
constexpr int32_t kLayerType = 22, kTextObjectType = 8;

inline constexpr LibraryOpener OpenWithText =
    OpenLibraries<RegisterStringLibrary, RegisterGraphicsLibrary, RegisterTextLibrary,
                  RegisterDisplayLibrary, RegisterBGPicLibrary, RegisterBrushLibrary>;

class BrushLayersTest : public BrushDisplayFixture {
protected:
    BrushLayersTest() : BrushDisplayFixture(OpenWithText) {
        scene::SetObjectHooks(&hooks);
        EXPECT_EQ(InitLayerLists(), 0);
    }
    ~BrushLayersTest() override {
        CloseDisplayLibrary(L);
        FreeAllTextObjects(L);
        FreeLayerLists(L);
        scene::SetObjectHooks(nullptr);
    }

    // A 16 x 16 grey display with layers on.
    void LayersOn() {
        Open(16, 16, kGrey);
        display->layersEnabled = 1;
    }
    qvBGPic* Picture() const { return display->settings.picture; }
    qvLayer* Layer(int32_t n) const { return GetLayerByIndex(Picture(), n); }
    // The window after the compositor painted the whole picture again.
    std::vector<uint32_t> Recomposed() {
        RefreshDisplayArea(L, 0, 0, 16, 16);
        return Window();
    }
    qvBrush* Brush(uint32_t id) {
        qvBrush* b = nullptr;
        return GetBrush(L, {id, nullptr}, &b, 0) == 0 ? b : nullptr;
    }
    // Brush 2 of four columns: red, blue, grey, red.
    void Striped() {
        MakeBrush(2, 4, 1, {Stored(kRed), Stored(kBlue), Stored(kGrey), Stored(kRed)});
    }

    objects::SceneHooks hooks;
};

TEST_F(BrushLayersTest, PlainBrushesAreALayerAndOneBlitTransformedOnesOnlyALayer) {
    LayersOn();
    Plain(1, 3, 2, kRed);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(4), Num(5)}).code, 0);
    ASSERT_EQ(CountLayers(Picture()), 1);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypeBrush));
    EXPECT_EQ(Layer(1)->objectId.number, 1u);
    EXPECT_EQ(At(6, 6), Stored(kRed));
    const std::vector<uint32_t> blitted = Window();
    EXPECT_EQ(Recomposed(), blitted);

    ASSERT_EQ(
        Call("DisplayBrush", {Num(1), Num(10), Num(2), Table({{Str("rotate"), Num(90)}})}).code, 0);
    ASSERT_EQ(CountLayers(Picture()), 2);
    const qvLayerItem* turned = Layer(2)->pictureItem;
    ASSERT_NE(turned->transformed.bitmap, nullptr);
    EXPECT_EQ(turned->drawWidth, 2);
    EXPECT_EQ(turned->drawHeight, 3);
    // What the layer list painted is what the compositor paints.
    const std::vector<uint32_t> shown = Window();
    EXPECT_EQ(Recomposed(), shown);
    EXPECT_NE(shown, blitted);
}

TEST_F(BrushLayersTest, PartLayersShowTheirPart) {
    LayersOn();
    Striped();
    ASSERT_EQ(
        Call("DisplayBrushPart", {Num(2), Num(1), Num(0), Num(3), Num(3), Num(2), Num(1)}).code, 0);
    ASSERT_EQ(CountLayers(Picture()), 1);
    EXPECT_EQ(Layer(1)->type, uint32_t(gfx::kTypeBrushPart));
    Recomposed();
    EXPECT_EQ(At(3, 3), Stored(kBlue));
    EXPECT_EQ(At(4, 3), Stored(kGrey));
    EXPECT_EQ(At(5, 3), Stored(kGrey));
}

// A brush drawn with layers on shows in the window exactly as the layers compose it; only an
// opaque one that lands on top alone is copied straight, leaving the composition bitmap alone.
TEST_F(BrushLayersTest, ABrushShowsAsTheLayersComposeIt) {
    LayersOn();
    Plain(1, 3, 2, kRed);
    Striped();
    MakeBrush(3, 2, 2, {Stored(kBlue), Stored(kRed), Stored(kBlue), Stored(kRed)}, {1, 0, 0, 1});
    MakeBrush(4, 2, 2, std::vector<uint32_t>(4, Stored(kBlue)), {}, {255, 128, 0, 64});
    struct Case {
        const char* name;
        std::vector<Arg> args;  // DisplayBrush's, or DisplayBrushPart's with seven
        int32_t x, y;           // a pixel the brush covers
        bool straight;
    };
    const Case cases[] = {
        {"opaque", {Num(1), Num(4), Num(5)}, 4, 5, true},
        {"over another layer", {Num(2), Num(3), Num(5)}, 3, 5, true},
        {"cut at the edges", {Num(1), Num(14), Num(15)}, 15, 15, true},
        {"a part", {Num(2), Num(1), Num(0), Num(2), Num(1), Num(6), Num(6)}, 7, 6, true},
        {"masked", {Num(3), Num(4), Num(5)}, 4, 5, false},
        {"alpha", {Num(4), Num(4), Num(5)}, 4, 5, false},
        {"below the top",
         {Num(1), Num(5), Num(5), Table({{Str("insertpos"), Num(1)}})},
         5,
         5,
         false},
    };
    const uint32_t kSentinel = Stored(0x123456);
    qvDisplayBitMap* composition = display->compositionBitmap;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RectFill(composition, 0, 0, 16, 16, kSentinel);
        const char* command = c.args.size() == 7 ? "DisplayBrushPart" : "DisplayBrush";
        ASSERT_EQ(Call(command, c.args).code, 0);
        EXPECT_EQ(ReadBitMapPixel(composition, c.x, c.y) == kSentinel, c.straight);
        const std::vector<uint32_t> shown = Window();
        EXPECT_EQ(Recomposed(), shown);
    }
}

// The layer takes the style the caller hands over, else the tags' style over the defaults;
// a brush that stays opaque on top shows its own pixels, and the window always shows what the
// layers compose.
TEST_F(BrushLayersTest, TheLayerTakesTheCallersStyleOrTheTags) {
    LayersOn();
    Plain(1, 3, 2, kRed);
    qvDrawStyle given = kInitialDrawStyle;
    given.transparency = 64;
    std::snprintf(given.name, sizeof given.name, "given");
    const qvDrawTransform upright = kInitialDrawTransform;
    struct Case {
        const char* name;
        const qvDrawStyle* style;  // with none of these two, the script's call with the tags
        const qvDrawTransform* transform;
        std::vector<Arg> tags;
        uint32_t transparency;
        const char* layerName;  // none: unnamed
    };
    const Case cases[] = {
        {"no tags", nullptr, nullptr, {}, 0, nullptr},
        {"tags",
         nullptr,
         nullptr,
         {Table({{Str("transparency"), Num(128)}, {Str("name"), Str("half")}})},
         128,
         "half"},
        {"an empty tag table", nullptr, nullptr, {Table({})}, 0, nullptr},
        {"a transform alone", nullptr, &upright, {}, 0, nullptr},
        {"a style and a transform", &given, &upright, {}, 64, "given"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreeLayerList(L, Picture());
        RefreshDisplayArea(L, 0, 0, 16, 16);
        if (c.style == nullptr && c.transform == nullptr) {
            std::vector<Arg> args{Num(1), Num(4), Num(5)};
            args.insert(args.end(), c.tags.begin(), c.tags.end());
            ASSERT_EQ(Call("DisplayBrush", args).code, 0);
        } else {
            qvDisplayBrushArgs args{};
            args.kind = gfx::kTypeBrush;
            args.id = {1, nullptr};
            args.x = 4, args.y = 5;
            args.style = c.style;
            args.transform = c.transform;
            ASSERT_EQ(DisplayBrushEx(L, args), 0);
        }
        ASSERT_EQ(CountLayers(Picture()), 1);
        EXPECT_EQ(Layer(1)->transparency, c.transparency);
        if (c.layerName == nullptr) {
            EXPECT_EQ(Layer(1)->name, nullptr);
        } else {
            ASSERT_NE(Layer(1)->name, nullptr);
            EXPECT_STREQ(Layer(1)->name, c.layerName);
        }
        EXPECT_EQ(At(5, 6) == Stored(kRed), c.transparency == 0);
        const std::vector<uint32_t> shown = Window();
        EXPECT_EQ(Recomposed(), shown);
    }
}

TEST_F(BrushLayersTest, ReinsertionFindsOrphansAndReplacesTheLayer) {
    LayersOn();
    Plain(1, 2, 2, kRed);
    Plain(3, 2, 2, kBlue);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("DisplayBrush", {Num(3), Num(8), Num(8)}).code, 0);
    // Freed while a layer shows it, brush 1 lives on for its layer only, under the id pair of
    // its record.
    ASSERT_EQ(Call("FreeBrush", {Num(1)}).code, 0);
    SetExitOnError(false);
    EXPECT_EQ(Call("DisplayBrush", {Num(1), Num(0), Num(0)}).code, ERR_FINDBRUSH);
    const qvObjectId orphan = Layer(1)->objectId;
    ASSERT_NE(orphan.handle, nullptr);

    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBrush;
    args.id = orphan;
    args.x = 8, args.y = 8;
    args.transform = &Layer(2)->transform;
    args.insertPosition = 2;
    args.flags = QV_SHOW_REINSERT;
    ASSERT_EQ(DisplayBrushEx(L, args), 0);
    ASSERT_EQ(CountLayers(Picture()), 2);
    EXPECT_EQ(Layer(2)->objectId.handle, orphan.handle);
    EXPECT_EQ(Layer(2)->pictureItem->drawX, 8);
    EXPECT_EQ(Recomposed()[8 * 16 + 8], Stored(kRed));
}

TEST_F(BrushLayersTest, ALayerIsMadeAgainUnderANewTransform) {
    LayersOn();
    Plain(1, 3, 2, kRed);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(2), Num(2)}).code, 0);
    qvLayer* layer = Layer(1);
    qvDrawTransform twice = kInitialDrawTransform;
    twice.matrix[0] = twice.matrix[3] = 2;
    twice.scalex = twice.scaley = 2;
    qvDisplayBrushArgs args{};
    args.layer = layer;
    args.transform = &twice;
    args.flags = QV_SHOW_RERENDER;
    ASSERT_EQ(DisplayBrushEx(L, args), 0);
    EXPECT_EQ(layer->transform.matrix[0], 2);
    EXPECT_EQ(layer->pictureItem->drawWidth, 6);
    EXPECT_EQ(layer->pictureItem->drawHeight, 4);
    const std::vector<uint32_t> shown = Window();
    EXPECT_EQ(At(7, 5), Stored(kRed));
    EXPECT_EQ(At(8, 6), Stored(kGrey));
    EXPECT_EQ(Recomposed(), shown);
}

TEST_F(BrushLayersTest, LayersBecomeBrushes) {
    SetExitOnError(false);
    Open(16, 16, kGrey);
    Striped();
    EXPECT_EQ(Call("ConvertToBrush", {Num(kLayerType), Num(1), Num(5)}).code, ERR_NOLAYERS);
    display->layersEnabled = 1;
    ASSERT_EQ(
        Call("DisplayBrushPart", {Num(2), Num(1), Num(0), Num(0), Num(0), Num(2), Num(1)}).code, 0);
    ASSERT_EQ(
        Call("DisplayBrush", {Num(2), Num(4), Num(4),
                              Table({{Str("rotate"), Num(90)}, {Str("name"), Str("turned")}})})
            .code,
        0);
    struct Case {
        Arg layer;
        int32_t width, height;
    };
    const Case cases[] = {{Num(1), 2, 1}, {Str("TURNED"), 1, 4}};
    for (const Case& c : cases) {
        ASSERT_EQ(Call("ConvertToBrush", {Num(kLayerType), c.layer, Num(5)}).code, 0);
        const qvBrush* made = Brush(5);
        ASSERT_NE(made, nullptr);
        EXPECT_EQ(made->width, c.width);
        EXPECT_EQ(made->height, c.height);
        // The part layer starts at the brush's second column; turned, the column is upright.
        EXPECT_EQ(ReadBitMapPixel(made->bitmap, 0, 0), c.width == 2 ? Stored(kBlue) : Stored(kRed));
        EXPECT_EQ(ReadBitMapPixel(made->bitmap, c.width - 1, c.height - 1),
                  c.width == 2 ? Stored(kGrey) : Stored(kRed));
    }
    EXPECT_EQ(Call("ConvertToBrush", {Num(kLayerType), Num(3), Num(5)}).code, ERR_LAYERRANGE);
    EXPECT_EQ(Call("ConvertToBrush", {Num(kLayerType), Str("nowhere"), Num(5)}).code,
              ERR_FINDLAYER);
}

TEST_F(BrushLayersTest, TextObjectsBecomeBrushes) {
    SetExitOnError(false);
    Open(64, 32);
    ASSERT_EQ(Call("SetFont", {Str(":::default_bitmap"), Num(8)}).code, 0);
    ASSERT_EQ(Call("CreateTextObject", {Num(1), Str("Hi")}).code, 0);
    qvTextObject* text = nullptr;
    ASSERT_EQ(FindTextObject(L, {1, nullptr}, &text, 0), 0);
    ASSERT_EQ(Call("ConvertToBrush", {Num(kTextObjectType), Num(1), Num(4)}).code, 0);
    const qvBrush* made = Brush(4);
    ASSERT_NE(made, nullptr);
    ASSERT_EQ(made->width, text->width);
    ASSERT_EQ(made->height, text->height);
    EXPECT_EQ(made->mask != nullptr, text->mask != nullptr);
    EXPECT_EQ(made->alpha != nullptr, text->alpha != nullptr);
    for (int32_t y = 0; y < text->height; ++y) {
        for (int32_t x = 0; x < text->width; ++x) {
            ASSERT_EQ(ReadBitMapPixel(made->bitmap, x, y), ReadBitMapPixel(text->bitmap, x, y));
        }
    }
    EXPECT_EQ(Call("ConvertToBrush", {Num(kTextObjectType), Num(2), Num(4)}).code,
              ERR_FINDTEXTOBJECT);
    // One that lives on only for its layer is no source any more.
    display->layersEnabled = 1;
    ASSERT_EQ(Call("DisplayTextObject", {Num(1), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("FreeTextObject", {Num(1)}).code, 0);
    EXPECT_EQ(Call("ConvertToBrush", {Num(kTextObjectType), Num(1), Num(4)}).code,
              ERR_FINDTEXTOBJECT);
}

}  // namespace
}  // namespace qv::testing
