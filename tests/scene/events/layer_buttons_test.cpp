// Layer buttons: hit where their layer is (its draw rectangle, half-open), inside its clip
// region and the region's mask, and, pixel-exact, on its solid pixels; hidden layers; the
// message fields that name the layer; the errors of MakeButton; buttons that go and move with
// their layers.
#include <string>
#include <vector>

#include "gfx/kernels/rows.h"
#include "gfx/library/object_types.h"
#include "scene/events/buttons.h"
#include "scene/layers/layer.h"
#include "tests/scene/support/event_fixture.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

HostEvent Press(bool down, int32_t x, int32_t y) {
    HostEvent e{};
    e.kind = HostEventKind::kButton, e.button = 0, e.down = down, e.x = x, e.y = y;
    return e;
}

// A 10 x 10 image whose left half is solid in its mask (or its alpha plane).
test::Planes HalfSolid(bool alpha) {
    test::Planes p = test::Solid(10, 10, 0x336699);
    std::vector<uint8_t>& plane = alpha ? p.alpha : p.mask;
    plane.assign(100, 0);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 5; ++x) plane[size_t(y) * 10 + x] = alpha ? 200 : 1;
    }
    return p;
}

class LayerButtons : public EventFixture {
protected:
    ~LayerButtons() override {
        FreeLayerList(L, &display->picture);
        FreePlaneBitMap(regionMask);
    }

    // A layer of the planes at (x, y) on top of the display's picture, its items one record.
    qvLayer* AddLayer(const test::Planes& planes, int32_t x, int32_t y) {
        test::OwnedPlanes own = test::MakePlanes(planes);
        auto* layer = static_cast<qvLayer*>(AllocMemBlock(sizeof(qvLayer), 1));
        auto* item = NewBlock<qvImageItem>();
        item->image = {own.bitmap.release(), own.mask.release(), own.alpha.release()};
        item->x = item->drawX = x, item->y = item->drawY = y;
        item->width = item->drawWidth = planes.width;
        item->height = item->drawHeight = planes.height;
        layer->type = gfx::kTypeBrush;
        layer->sourceItem = layer->pictureItem = layer->displayItem = item;
        AddTail(&display->picture.layers, &layer->node);
        return layer;
    }

    CallResult MakeLayerButton(Arg id, Arg layer, bool pixelExact, bool activeWhenHidden,
                               std::vector<Arg> rest = {}) {
        std::vector<Arg> args = {std::move(id),
                                 Num(QV_LAYERBUTTON),
                                 std::move(layer),
                                 Num(pixelExact ? 1 : 0),
                                 Num(activeWhenHidden ? 1 : 0),
                                 Table({{Str("onmousedown"), Handler()}})};
        for (Arg& a : rest) args.push_back(std::move(a));
        return Call("MakeButton", std::move(args));
    }

    // Whether a click at the window point reaches button 1's "onmousedown".
    bool Hits(int32_t x, int32_t y) {
        trace.clear();
        Input(Press(true, x, y));
        Input(Press(false, x, y));
        Pump();
        for (int i = 0; i < 5 && trace.empty(); ++i) Check();
        return !trace.empty();
    }

    qvPlaneBitMap* regionMask = nullptr;
};

TEST_F(LayerButtons, AClickHitsTheLayersShape) {
    // The layer at (20, 30), 10 x 10, its left half solid; a clip region (22, 30, 6, 10) whose
    // mask clears its column 1 (picture column 23).
    qvLayer* layer = AddLayer(HalfSolid(false), 20, 30);
    regionMask = AllocMaskBitMap(nullptr, 6, 10, 1);
    ASSERT_NE(regionMask, nullptr);
    for (int32_t y = 0; y < 10; ++y) {
        for (int32_t x = 0; x < 6; ++x) {
            SetMaskBit(regionMask->plane + ptrdiff_t(y) * regionMask->bytesPerRow, x, x != 1);
        }
    }
    qvClipRegion region{};
    region.x = 22, region.y = 30, region.width = 6, region.height = 10;
    region.mask = regionMask, region.maskBytesPerRow = regionMask->bytesPerRow;

    struct Case {
        const char* what;
        bool pixelExact, clipped;
        int32_t x, y;
        bool hit;
    };
    const Case cases[] = {
        {"top-left corner", false, false, 20, 30, true},
        {"last column", false, false, 29, 39, true},
        {"right edge is outside", false, false, 30, 35, false},
        {"bottom edge is outside", false, false, 25, 40, false},
        {"left of the layer", false, false, 19, 35, false},
        {"clear pixel without pixel-exact", false, false, 27, 35, true},
        {"solid pixel", true, false, 24, 35, true},
        {"clear pixel", true, false, 25, 35, false},
        {"left of the clip region", false, true, 21, 35, false},
        {"clip mask clear", false, true, 23, 35, false},
        {"clip mask set", false, true, 24, 35, true},
        {"clip mask set, pixel clear", true, true, 26, 35, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        layer->pictureItem->clipRegion = c.clipped ? &region : nullptr;
        ASSERT_EQ(MakeLayerButton(Num(1), Num(1), c.pixelExact, false).code, 0);
        EXPECT_EQ(Hits(c.x, c.y), c.hit);
    }
    layer->pictureItem->clipRegion = nullptr;
}

TEST_F(LayerButtons, PixelExactReadsTheAlphaPlaneAndTheLetterboxFloors) {
    AddLayer(HalfSolid(true), 0, 0);
    ASSERT_EQ(MakeLayerButton(Num(1), Num(1), true, false).code, 0);
    EXPECT_TRUE(Hits(4, 9));
    EXPECT_FALSE(Hits(5, 0));
    // A 2x display after a 10-pixel strip: the strip lies before column 0.
    display->offsetX = 10, display->scale = 2.0;
    EXPECT_FALSE(Hits(9, 4));
    EXPECT_TRUE(Hits(10, 4));
    EXPECT_TRUE(Hits(19, 19));
    EXPECT_FALSE(Hits(20, 4)) << "column 5 is clear";
}

TEST_F(LayerButtons, AHiddenLayersButtonReactsOnlyWhenActiveWhenHidden) {
    qvLayer* layer = AddLayer(test::Solid(10, 10, 0xFF0000), 0, 0);
    layer->hidden = 1;
    ASSERT_EQ(MakeLayerButton(Num(1), Num(1), false, false).code, 0);
    EXPECT_FALSE(Hits(5, 5));
    ASSERT_EQ(MakeLayerButton(Num(1), Num(1), false, true).code, 0);
    EXPECT_TRUE(Hits(5, 5));
    layer->hidden = 0;
    ASSERT_EQ(MakeLayerButton(Num(1), Num(1), false, false).code, 0);
    EXPECT_TRUE(Hits(5, 5));
}

TEST_F(LayerButtons, TheMessageNamesTheLayer) {
    AddLayer(test::Solid(10, 10, 0xFF0000), 0, 0);
    qvLayer* named = AddLayer(test::Solid(10, 10, 0x00FF00), 50, 0);
    ASSERT_EQ(SetLayerNameString(named, "Door"), 0);
    ASSERT_EQ(MakeLayerButton(Num(8), Str("door"), false, false).code, 0);
    ASSERT_EQ(MakeLayerButton(Num(9), Num(1), false, false).code, 0);
    const auto fieldsAt = [&](int32_t x) {
        Input(Press(true, x, 5));
        Pump();
        return Wait();
    };
    const CallResult door = fieldsAt(55);
    ASSERT_EQ(door.code, 0);
    ASSERT_FALSE(door.results.empty());
    const Value& table = door.results[0];
    EXPECT_EQ(table.Field("id")->number, 8);
    EXPECT_EQ(table.Field("layer")->number, 2);
    EXPECT_EQ(table.Field("layername")->text, "Door");
    EXPECT_EQ(table.Field("width")->number, 0);
    const CallResult plain = fieldsAt(5);
    ASSERT_FALSE(plain.results.empty());
    EXPECT_EQ(plain.results[0].Field("layer")->number, 1);
    EXPECT_EQ(plain.results[0].Field("layername")->text, "");
}

TEST_F(LayerButtons, MakeButtonRefusesAMissingOrTakenLayerAndKeepsTheOldButton) {
    AddLayer(test::Solid(10, 10, 0xFF0000), 0, 0);
    AddLayer(test::Solid(10, 10, 0xFF0000), 20, 0);
    EXPECT_EQ(MakeLayerButton(Num(1), Num(3), false, false).code, ERR_LAYERRANGE);
    EXPECT_EQ(MakeLayerButton(Num(1), Num(0), false, false).code, ERR_LAYERRANGE);
    ASSERT_EQ(MakeLayerButton(Num(1), Num(1), false, false, {Str("one")}).code, 0);
    const int refs = LiveRefs();
    EXPECT_EQ(MakeLayerButton(Num(2), Num(1), false, false).code, ERR_WRONGUSAGE)
        << "one button per layer";
    EXPECT_EQ(MakeLayerButton(Nil(), Num(1), false, false).code, ERR_WRONGUSAGE);
    EXPECT_EQ(LiveRefs(), refs);
    // The same id may move its button to another layer, or keep it on its own.
    ASSERT_EQ(MakeLayerButton(Num(1), Num(2), false, false).code, 0);
    ASSERT_EQ(MakeLayerButton(Num(1), Num(2), true, false).code, 0);
    ASSERT_EQ(MakeLayerButton(Num(3), Num(1), false, false).code, 0);
    EXPECT_EQ(LiveRefs(), refs);
    ASSERT_EQ(Call("DumpButtons").code, 0);
    EXPECT_NE(DebugText().find("(1) Type: 1 - X1: 0 - Y1: 0 - X2: -1 - Y2: -1\n"),
              std::string::npos);
}

TEST_F(LayerButtons, ButtonsGoAndMoveWithTheirLayers) {
    qvLayer* first = AddLayer(test::Solid(10, 10, 0xFF0000), 0, 0);
    qvLayer* second = AddLayer(test::Solid(10, 10, 0xFF0000), 20, 0);
    const int refs = LiveRefs();
    ASSERT_EQ(MakeLayerButton(Num(1), Num(1), false, false, {Str("data")}).code, 0);
    EXPECT_EQ(LiveRefs(), refs + 2);
    // A replacement of the first layer takes its button.
    MoveLayerButtons(&display->picture, first, second);
    EXPECT_FALSE(Hits(5, 5));
    EXPECT_TRUE(Hits(25, 5));
    FreeButtonOfLayer(L, &display->picture, first);
    EXPECT_NE(display->picture.buttons, nullptr);
    FreeButtonOfLayer(L, &display->picture, second);
    EXPECT_EQ(display->picture.buttons, nullptr);
    EXPECT_EQ(LiveRefs(), refs);
}

}  // namespace
}  // namespace qv::testing
