// The "layers" library on a real display: switching layers on and off with the display's
// own checks, and layers made by CreateLayer showing in the window.
#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
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

}  // namespace
}  // namespace qv::testing
