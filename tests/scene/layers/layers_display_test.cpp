// The "layers" library on a real display: switching layers on and off with the display's
// own checks, and layers made by CreateLayer showing in the window.
#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "objects/scene_hooks.h"
#include "scene/layers/layers_library.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

class LayersDisplayTest : public BrushDisplayFixture {
protected:
    LayersDisplayTest() {
        scene::SetObjectHooks(&hooks);
        if (const int code = RegisterLayersLibrary(L)) ADD_FAILURE() << code;
        Open(32, 24, 0x000080);
    }
    ~LayersDisplayTest() override {
        CloseDisplayLibrary(L);  // the layers go with the pictures, then their anims
        FreeAllBGPics(L);
        FreeAllAnims(L);
        FreeLayersLibrary(L);
        scene::SetObjectHooks(nullptr);
    }

    objects::SceneHooks hooks;
};

TEST_F(LayersDisplayTest, SwitchingChecksTheDisplayFirst) {
    EXPECT_EQ(Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4)}).code, ERR_NOLAYERS);
    EXPECT_EQ(Call("EnableLayers", {Num(1)}).code, ERR_TOOMANYARGS);
    struct {
        void (*set)(qvDisplay*);
        int enable, disable;
    } cases[] = {
        {[](qvDisplay* d) { d->doubleBufferPending = 1; }, ERR_ENDDOUBLEBUFFER, 0},
        {[](qvDisplay* d) { d->outputType = gfx::kTypeBrush; }, ERR_LAYERSON, ERR_LAYERSON},
        {[](qvDisplay* d) { d->settings.layerScaling = 1; }, 0, ERR_NODISLAYERS},
        {[](qvDisplay*) {}, 0, 0},
    };
    for (const auto& c : cases) {
        qvDisplay saved = *display;
        c.set(display);
        EXPECT_EQ(Call("EnableLayers").code, c.enable);
        EXPECT_EQ(Call("DisableLayers").code, c.disable);
        *display = saved;
    }
    EXPECT_EQ(Call("EnableLayers").code, 0);
    EXPECT_EQ(display->layersEnabled, 1);
    EXPECT_EQ(Call("CreateLayer", {Num(2), Num(2), Num(4), Num(4)}).code, 0);
    EXPECT_EQ(Call("DisableLayers").code, 0);
    EXPECT_EQ(display->layersEnabled, 0);
    EXPECT_EQ(CountLayers(display->settings.picture), 1);  // the layers stay
}

TEST_F(LayersDisplayTest, CreateLayerShowsAPrivateBrush) {
    ASSERT_EQ(Call("EnableLayers").code, 0);
    EXPECT_EQ(
        Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4),
                             Table({{Str("mask"), Bool(true)}, {Str("alphachannel"), Bool(true)}})})
            .code,
        ERR_WRONGUSAGE);
    EXPECT_EQ(
        Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4), Table({{Str("frames"), Num(-1)}})})
            .code,
        ERR_WRONGUSAGE);
    ASSERT_EQ(Call("CreateLayer",
                   {Num(2), Num(3), Num(6), Num(5), Table({{Str("color"), Num(0xFF0000)}})})
                  .code,
              0);
    ASSERT_EQ(Call("CreateLayer", {Num(4), Num(4), Num(6), Num(5),
                                   Table({{Str("color"), Num(0x00FF00)},
                                          {Str("mask"), Bool(true)},
                                          {Str("clear"), Bool(true)}})})
                  .code,
              0);
    EXPECT_EQ(At(3, 4), Stored(0xFF0000));  // the cleared mask shows the layer below
    EXPECT_EQ(At(1, 1), Stored(0x000080));
    const qvObjectId id = GetLayerByIndex(display->settings.picture, 1)->objectId;
    qvBrush* brush = nullptr;
    ASSERT_EQ(GetBrush(L, id, &brush, QV_BRUSH_ORPHANS), 0);
    EXPECT_EQ(brush->orphan, 1);
    EXPECT_EQ(Call("FreeLayers", {Num(0)}).code, 0);
    EXPECT_EQ(At(3, 4), Stored(0x000080));
    EXPECT_NE(GetBrush(L, id, &brush, QV_BRUSH_ORPHANS), 0);  // collected with its layer
}

// The anim a layer shows, orphans included.
qvAnim* AnimOf(const qvLayer* layer) {
    qvAnim* anim = nullptr;
    EXPECT_EQ(FindAnimById(nullptr, layer->objectId, &anim, QV_ANIM_ORPHANS), 0);
    return anim;
}

bool AllMaskBits(const qvPlaneBitMap* mask, int32_t width, int32_t height, bool set) {
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const bool bit =
                (mask->plane[size_t(y) * mask->bytesPerRow + x / 8] >> (7 - x % 8)) & 1;
            if (bit != set) return false;
        }
    }
    return true;
}

TEST_F(LayersDisplayTest, CreateLayerWithFramesMakesAPrivateAnim) {
    ASSERT_EQ(Call("EnableLayers").code, 0);
    for (bool clear : {false, true}) {
        ASSERT_EQ(Call("CreateLayer", {Num(1), Num(1), Num(5), Num(3),
                                       Table({{Str("frames"), Num(3)},
                                              {Str("mask"), Bool(true)},
                                              {Str("clear"), Bool(clear)},
                                              {Str("color"), Num(0x00FF00)}})})
                      .code,
                  0);
        const qvLayer* layer = GetLayerByIndex(display->settings.picture, clear ? 2 : 1);
        ASSERT_EQ(layer->type, gfx::kTypeAnim);
        const qvAnim* anim = AnimOf(layer);
        ASSERT_EQ(anim->frameCount, 3);
        EXPECT_EQ(anim->orphan, 1);
        EXPECT_EQ(anim->transparentColour, 0xAFC0DE);
        for (int i = 0; i < 3; ++i) {
            ASSERT_NE(anim->masks[i], nullptr);
            EXPECT_TRUE(AllMaskBits(anim->masks[i], 5, 3, !clear)) << i;
        }
    }
    EXPECT_EQ(At(2, 2), Stored(0x00FF00));  // the first layer shows, the cleared one does not
    EXPECT_EQ(
        Call("CreateLayer", {Num(0), Num(0), Num(-3), Num(3), Table({{Str("frames"), Num(2)}})})
                .code != 0,
        true);
    EXPECT_EQ(CountLayers(display->settings.picture), 2);
}

TEST_F(LayersDisplayTest, ModifyLayerFramesKeepsTheShownFrame) {
    ASSERT_EQ(Call("EnableLayers").code, 0);
    ASSERT_EQ(Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4),
                                   Table({{Str("frames"), Num(3)}, {Str("color"), Num(0xFF)}})})
                  .code,
              0);
    qvLayer* layer = GetLayerByIndex(display->settings.picture, 1);
    auto* item = static_cast<qvAnimItem*>(layer->sourceItem);
    item->frame = 1;
    const qvDisplayBitMap* shown = AnimOf(layer)->bitmaps[1];
    EXPECT_EQ(Call("ModifyLayerFrames", {Num(1), Num(5)}).code, 0);
    EXPECT_EQ(AnimOf(layer)->frameCount, 5);
    EXPECT_EQ(item->frame, 1);
    EXPECT_EQ(item->frameCount, 5);
    EXPECT_EQ(AnimOf(layer)->bitmaps[1], shown);
    EXPECT_EQ(Call("ModifyLayerFrames", {Num(1), Num(1)}).code, 0);
    EXPECT_EQ(item->frame, 0);
    EXPECT_EQ(item->frameCount, 1);
    EXPECT_EQ(Call("ModifyLayerFrames", {Num(1), Num(0)}).code, ERR_WRONGUSAGE);
    ASSERT_EQ(Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4)}).code, 0);
    EXPECT_EQ(Call("ModifyLayerFrames", {Num(2), Num(2)}).code, ERR_FINDARRAY);  // no anim
}

TEST_F(LayersDisplayTest, InsertLayerPlacesObjectsAtTheirPosition) {
    ASSERT_EQ(Call("EnableLayers").code, 0);
    Plain(7, 4, 4, 0xFF0000);
    ASSERT_EQ(Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4)}).code, 0);
    ASSERT_EQ(Call("CreateLayer", {Num(0), Num(0), Num(4), Num(4)}).code, 0);
    EXPECT_EQ(Call("InsertLayer", {Num(-1), Num(3), Num(7), Num(0), Num(0)}).code, ERR_INVINSERT);
    EXPECT_EQ(Call("InsertLayer", {Num(1), Num(14), Num(7), Num(0), Num(0)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("InsertLayer", {Num(1), Num(3), Num(8), Num(0), Num(0)}).code, ERR_FINDBRUSH);
    EXPECT_EQ(Call("InsertLayer", {Num(2), Num(3), Num(7), Num(-100000), Num(0)}).code, 0);
    const qvLayer* inserted = GetLayerByIndex(display->settings.picture, 2);
    EXPECT_EQ(inserted->objectId.number, 7u);
    EXPECT_EQ(inserted->sourceItem->x, (32 - 4) / 2);
    EXPECT_EQ(At(15, 1), Stored(0xFF0000));
    EXPECT_EQ(Call("InsertLayer", {Num(99), Num(3), Num(7), Num(0), Num(0), Num(1)}).code, 0);
    const qvLayer* hidden = GetLayerByIndex(display->settings.picture, 4);
    ASSERT_NE(hidden, nullptr);
    EXPECT_EQ(hidden->hidden, 1);
    EXPECT_EQ(At(1, 1), Stored(0x000000));  // below it the black layers stay
}

// An anim of two solid frames, blue then green, under the number.
void TwoFrameAnim(uint32_t number) {
    qvAnimFrames frames;
    for (uint32_t colour : {0x0000FFu, 0x00FF00u}) {
        frames.bitmaps.push_back(AllocDisplayBitMap(4, 4));
        ASSERT_NE(frames.bitmaps.back(), nullptr);
        RectFill(frames.bitmaps.back(), 0, 0, 4, 4, colour);
    }
    qvObjectId id{number, nullptr};
    ASSERT_EQ(AddAnim(&id, 4, 4, &frames, -1, nullptr), 0);
}

// SelectLayer names an anim layer's frame (from 1) in its second argument; the layer draws
// into a private copy of the anim, and another layer showing the anim keeps its pixels.
TEST_F(LayersDisplayTest, DrawingIntoAnAnimLayerLeavesTheSharedAnimAlone) {
    ASSERT_EQ(Call("EnableLayers").code, 0);
    TwoFrameAnim(3);
    Plain(7, 2, 2, 0xFF0000);
    ASSERT_EQ(Call("InsertLayer", {Num(1), Num(gfx::kTypeAnim), Num(3), Num(0), Num(0)}).code, 0);
    ASSERT_EQ(Call("InsertLayer", {Num(2), Num(gfx::kTypeAnim), Num(3), Num(10), Num(0)}).code, 0);
    qvLayer* drawn = GetLayerByIndex(display->settings.picture, 1);
    const qvLayer* other = GetLayerByIndex(display->settings.picture, 2);
    EXPECT_EQ(Call("SelectLayer", {Num(1)}).code, ERR_MISSINGPARAMTR);
    EXPECT_EQ(Call("SelectLayer", {Num(1), Num(3)}).code, ERR_ANIMFRAME);
    EXPECT_EQ(drawn->objectId.number, 3u) << "a refused frame copies nothing";
    ASSERT_EQ(Call("SelectLayer", {Num(1), Num(1)}).code, 0);
    ASSERT_EQ(Call("DisplayBrush", {Num(7), Num(1), Num(1)}).code, 0);
    ASSERT_EQ(Call("EndSelect").code, 0);

    const qvAnim* own = AnimOf(drawn);
    const qvAnim* shared = AnimOf(other);
    ASSERT_NE(own, shared);
    EXPECT_EQ(other->objectId.number, 3u);
    EXPECT_EQ(ReadBitMapPixel(own->bitmaps[0], 1, 1), Stored(0xFF0000));
    EXPECT_EQ(ReadBitMapPixel(own->bitmaps[0], 0, 0), Stored(0x0000FF));
    EXPECT_EQ(ReadBitMapPixel(own->bitmaps[1], 1, 1), Stored(0x00FF00)) << "only frame 1";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(ReadBitMapPixel(shared->bitmaps[i], 1, 1), Stored(i == 0 ? 0x0000FF : 0x00FF00));
    }
    ASSERT_EQ(Call("SelectLayer", {Num(2), Num(2)}).code, 0);
    ASSERT_EQ(Call("EndSelect").code, 0);
    EXPECT_NE(AnimOf(other), shared) << "the last layer showing it copies it too";
    EXPECT_EQ(Call("SelectLayer", {Num(3), Num(1)}).code, ERR_LAYERRANGE);
}

}  // namespace
}  // namespace qv::testing

namespace qv::testing {
namespace {

// A border widens with its layer's scale up to a reach of 256 pixels: beyond that its
// dilation over a plane grown by the reach took minutes (a 64-pixel border at scale 60).
TEST_F(LayersDisplayTest, AScaledLayersBorderReachesAtMost256Pixels) {
    ASSERT_EQ(Call("EnableLayers").code, 0);
    ASSERT_EQ(
        Call("CreateLayer", {Num(2), Num(3), Num(4), Num(4),
                             Table({{Str("color"), Num(0x00FF00)}, {Str("mask"), Bool(true)}})})
            .code,
        0);
    ASSERT_EQ(Call("SetLayerBorder", {Num(1), Num(1), Num(0xFF0000), Num(8)}).code, 0);
    const qvLayer* layer = GetLayerByIndex(display->settings.picture, 1);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->displayItem->borderWidth, 4 + 2 * 8);
    struct {
        int scale, reach;
    } cases[] = {{8, 64}, {40, 256}};
    for (const auto& c : cases) {
        ASSERT_EQ(Call("ScaleLayer", {Num(1), Num(4 * c.scale), Num(4 * c.scale)}).code, 0)
            << c.scale;
        EXPECT_EQ(layer->displayItem->borderWidth, 4 * c.scale + 2 * c.reach) << c.scale;
    }
}

}  // namespace
}  // namespace qv::testing
