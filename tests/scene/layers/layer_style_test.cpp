// SetLayerStyle over the layered test scene: the common keys and their errors, the road each
// change takes (seen in the items and caches it keeps or replaces), groups, the final
// refresh against a picture composed from scratch, and the faults around errors, clip regions
// and allocation failures.
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/error_codes.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "platform/linux/memory.h"
#include "scene/layers/layers_library.h"
#include "scene/layers/style_engine.h"
#include "scene/layers/style_table.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

class LayerStyle : public LayerFixture {
protected:
    LayerStyle() : LayerFixture(OpenLibraries<RegisterBGPicLibrary, RegisterLayersLibrary>) {}
    ~LayerStyle() override { scene::FreeMoveLists(); }

    // n layers of brush 1 (8 x 8), the i-th (from 1) at (10 i, 8).
    std::vector<qvLayer*> Stack(int n) {
        objects.brushes[1] = MakePlanes(Solid(8, 8, 0xC08040));
        std::vector<qvLayer*> layers;
        for (int i = 1; i <= n; ++i) {
            layers.push_back(scene.AddBrushPart(L, 1, 0, 0, 10 * i, 8, 8, 8));
        }
        Shown();
        scene.TakeWindowDamage();
        return layers;
    }
    qvLayer* At(int32_t position) { return GetLayerByIndex(scene.picture, position); }
    CallResult Style(double position, std::vector<std::pair<Arg, Arg>> keys) {
        return Call("SetLayerStyle", {Num(position), Table(std::move(keys))});
    }
    void ExpectWindowRecomposed() { EXPECT_EQ(scene.Window(), scene.Recomposed(L)); }
};

TEST_F(LayerStyle, EmptyTableChangesAndRedrawsNothing) {
    qvLayer* layer = Stack(1)[0];
    qvLayerItem* item = layer->sourceItem;
    const CallResult r = Style(1, {});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.results.empty());
    EXPECT_EQ(At(1), layer);
    EXPECT_EQ(layer->sourceItem, item);
    EXPECT_TRUE(scene.TakeWindowDamage().empty());
}

TEST_F(LayerStyle, CommonKeyErrors) {
    Stack(2);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* key;
        Arg value;
        int code;
    } cases[] = {
        {"width", Num(-1), ERR_BADDIMENSIONS},
        {"scalex", Num(0), ERR_BADDIMENSIONS},
        {"scaley", Num(INFINITY), ERR_BADDIMENSIONS},
        {"transform", List({Num(1), Num(0), Num(0), Num(0)}), ERR_WRONGUSAGE},
        {"transform", List({Num(1), Num(0), Num(0)}), ERR_MISSINGPARAMTR},
        {"anchorx", Num(1.5), ERR_WRONGUSAGE},
        {"anchory", Num(nan), ERR_WRONGUSAGE},
        {"transparency", Str("150%"), ERR_PERCENTFORMAT},
        {"z", Num(-1), ERR_WRONGUSAGE},
        {"z", Str("nolayer"), ERR_FINDLAYER},
        {"type", Num(99), ERR_WRONGUSAGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(Style(1, {{Str(c.key), c.value}}).code, c.code);
    }
    EXPECT_EQ(Call("SetLayerStyle", {Num(3), Table({})}).code, ERR_LAYERRANGE);
    EXPECT_EQ(Call("SetLayerStyle", {Str("nobody"), Table({})}).code, ERR_FINDLAYER);
    EXPECT_EQ(Call("SetLayerStyle", {Bool(true), Table({})}).code, ERR_STRORNUM);
    const CallResult odd = Call("SetLayerStyle", {Num(1), Table({}), Num(2)});
    EXPECT_EQ(odd.code, ERR_TABEXPECTED);
    EXPECT_EQ(odd.errorNumber, 4u);
}

// The engine's errors come back to the script, which goes on with errors off; a percentage
// refused by the argument reader is raised, naming the argument the script gave the value in,
// also through the short commands that restyle by a table of their own.
TEST_F(LayerStyle, ReturnedAndRaisedErrorsNameWhatTheScriptGave) {
    Stack(2);
    SetExitOnError(false);
    const Arg filters =
        List({Table({{Str("name"), Str("sepiatone")}, {Str("args"), List({Str("200%")})}})});
    const struct {
        const char* what;
        const char* command;
        std::vector<Arg> args;
        int code;
        bool raised;
        const char* text;   // the message's text argument, when it has one
        uint32_t argument;  // the message's argument number, when it has one
    } cases[] = {
        {"z names no layer",
         "SetLayerStyle",
         {Num(1), Table({{Str("z"), Str("nosuch")}})},
         ERR_FINDLAYER,
         false,
         "nosuch",
         0},
        {"z of another kind",
         "SetLayerStyle",
         {Num(1), Table({{Str("z"), Bool(true)}})},
         ERR_WRONGUSAGE,
         false,
         nullptr,
         0},
        {"short matrix",
         "SetLayerStyle",
         {Num(1), Table({{Str("transform"), List({Num(1), Num(0), Num(0)})}})},
         ERR_MISSINGPARAMTR,
         false,
         nullptr,
         0},
        {"matrix with a word",
         "SetLayerStyle",
         {Num(1), Table({{Str("transform"), List({Num(1), Num(0), Str("x"), Num(1)})}})},
         ERR_NUMTABLEARG,
         false,
         "transform",
         0},
        {"matrix that is no table",
         "SetLayerStyle",
         {Num(1), Table({}), Num(2), Table({{Str("transform"), Num(1)}})},
         ERR_TABEXPECTED,
         false,
         nullptr,
         4},
        {"percent in the second pair",
         "SetLayerStyle",
         {Num(1), Table({}), Num(2), Table({{Str("transparency"), Str("150%")}})},
         ERR_PERCENTFORMAT,
         true,
         nullptr,
         4},
        {"SetLayerTransparency",
         "SetLayerTransparency",
         {Num(1), Str("150%")},
         ERR_PERCENTFORMAT,
         true,
         nullptr,
         2},
        {"SetLayerFilter",
         "SetLayerFilter",
         {Num(1), filters},
         ERR_PERCENTFORMAT,
         true,
         nullptr,
         2},
        {"SetLayerTint",
         "SetLayerTint",
         {Num(1), Num(0xFF0000), Str("101%")},
         ERR_PERCENTFORMAT,
         true,
         nullptr,
         3},
        {"ScaleLayer height",
         "ScaleLayer",
         {Num(1), Num(10), Str("x%")},
         ERR_PERCENTFORMAT,
         true,
         nullptr,
         3},
        {"short command, no such layer",
         "SetLayerTransparency",
         {Bool(true), Num(10)},
         ERR_STRORNUM,
         false,
         nullptr,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CallResult r = Call(c.command, c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.ended, c.raised);
        if (c.text != nullptr) {
            EXPECT_EQ(r.errorText, c.text);
        }
        if (c.argument != 0) {
            EXPECT_EQ(r.errorNumber, c.argument);
        }
    }
    EXPECT_EQ(At(1)->transparency, 0u);
    EXPECT_EQ(At(1)->transform.matrix[0], 1.0);
}

TEST_F(LayerStyle, CommonKeysStoreTheirRules) {
    qvLayer* layer = Stack(1)[0];
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto style = [&](const char* key, Arg value) {
        EXPECT_EQ(Style(1, {{Str(key), value}}).code, 0) << key;
    };
    style("rotate", Num(370));
    EXPECT_EQ(layer->transform.rotate, 10);
    style("rotate", Num(-370));
    EXPECT_EQ(layer->transform.rotate, -10);
    style("rotate", Num(0));
    style("width", Str("50%"));
    EXPECT_EQ(layer->transform.scalex, 0.5);
    EXPECT_EQ(layer->transform.width, 0);
    style("width", Num(0));
    EXPECT_EQ(layer->transform.scalex, 1.0);
    style("transparency", Num(300));
    EXPECT_EQ(layer->transparency, 255u);
    style("transparency", Num(nan));
    EXPECT_EQ(layer->transparency, 0u);
    style("tint", Num(999));
    EXPECT_EQ(layer->filters[kFilterTint].ints[1], 255);
    EXPECT_EQ(layer->filters[kFilterTint].enabled, 1);
    style("tint", Num(0));
    EXPECT_EQ(layer->filters[kFilterTint].enabled, 0);
    EXPECT_EQ(Style(1, {{Str("filters"), List({Table({{Str("name"), Str("invert")}}),
                                               Table({{Str("name"), Str("xflip")}})})},
                        {Str("clearfilters"), Num(1)}})
                  .code,
              0);
    EXPECT_FALSE(LayerHasFilter(layer));
    EXPECT_EQ(layer->movingFilter, 0);
    style("x", Num(KEEPPOSITION));
    EXPECT_EQ(layer->sourceItem->x, 10);
    style("translatex", Num(10));
    EXPECT_EQ(layer->sourceItem->x, 20);
    // The anchor keeps the position and moves the picture.
    style("anchorx", Num(0.5));
    EXPECT_EQ(layer->sourceItem->x, 20);
    EXPECT_EQ(layer->displayItem->drawX, 16);
    ExpectWindowRecomposed();
    // At the left limit the anchored position stays there rather than wrap.
    style("x", Num(-2147483648.0));
    style("anchorx", Num(1));
    EXPECT_EQ(layer->sourceItem->anchoredX, INT32_MIN);
}

TEST_F(LayerStyle, RoadsKeepWhatTheChangeDoesNotTouch) {
    qvLayer* layer = Stack(1)[0];
    ASSERT_EQ(Style(1, {{Str("rotate"), Num(90)}}).code, 0);
    qvLayerItem* turned = layer->pictureItem;
    ASSERT_NE(turned, layer->sourceItem);  // the transformed cache
    // A move reuses the transformed cache.
    ASSERT_EQ(Style(1, {{Str("x"), Num(30)}, {Str("y"), Num(20)}}).code, 0);
    EXPECT_EQ(layer->pictureItem, turned);
    EXPECT_EQ(layer->sourceItem->x, 30);
    // Style-only keys keep every cache.
    qvDisplayBitMap* image = turned->transformed.bitmap;
    ASSERT_EQ(Style(1, {{Str("transparency"), Num(100)}, {Str("hidden"), Num(0)}}).code, 0);
    EXPECT_EQ(layer->pictureItem, turned);
    EXPECT_EQ(turned->transformed.bitmap, image);
    // The same rotation again leaves the transform alone.
    ASSERT_EQ(Style(1, {{Str("rotate"), Num(90)}}).code, 0);
    EXPECT_EQ(layer->pictureItem, turned);
    // A scale makes a new transformed cache.
    ASSERT_EQ(Style(1, {{Str("scalex"), Num(2)}}).code, 0);
    EXPECT_NE(layer->pictureItem, turned);
    ExpectWindowRecomposed();
    // "type" rebuilds the layer in its place.
    qvLayer* before = layer;
    ASSERT_EQ(Style(1, {{Str("type"), Num(gfx::kTypeBrush)}}).code, 0);
    EXPECT_NE(At(1), before);
    EXPECT_EQ(At(1)->transparency, 100u);
    EXPECT_EQ(At(1)->transform.scalex, 2.0);
    ExpectWindowRecomposed();
}

TEST_F(LayerStyle, FilterAndEffectCachesGoOnlyWhenTheyChange) {
    qvLayer* layer = Stack(1)[0];
    const Arg invert = List({Table({{Str("name"), Str("invert")}})});
    ASSERT_EQ(Style(1, {{Str("filters"), invert}, {Str("shadow"), Num(1)}}).code, 0);
    Shown();
    qvDisplayBitMap* filtered = layer->sourceItem->filtered.bitmap;
    qvPlaneBitMap* shadow = layer->sourceItem->shadowPlane;
    ASSERT_NE(filtered, nullptr);
    ASSERT_NE(shadow, nullptr);
    ASSERT_EQ(Style(1, {{Str("filters"), invert}, {Str("shadow"), Num(1)}}).code, 0);
    EXPECT_EQ(layer->sourceItem->filtered.bitmap, filtered);
    EXPECT_EQ(layer->sourceItem->shadowPlane, shadow);
    // Deferred, so that no repaint makes the filtered image again.
    Define("deferred", [](qvVmState* L) { return scene::SetLayerProperties(L, 2, 1); });
    ASSERT_EQ(Call("deferred", {Num(1), Table({{Str("tint"), Num(50)}})}).code, 0);
    EXPECT_EQ(layer->sourceItem->filtered.bitmap, nullptr);
    EXPECT_EQ(layer->sourceItem->shadowPlane, nullptr);
    Shown();
    ExpectWindowRecomposed();
}

TEST_F(LayerStyle, NamesBeatGroupsAndGroupsVisitEachMemberOnce) {
    std::vector<qvLayer*> l = Stack(4);
    for (int i = 0; i < 3; ++i) std::strcpy(l[i]->group, "g");
    ASSERT_EQ(Call("SetLayerStyle", {Str("g"), Table({{Str("z"), Num(0)}})}).code, 0);
    EXPECT_EQ(At(1), l[3]);
    EXPECT_EQ(At(2), l[0]);
    EXPECT_EQ(At(3), l[1]);
    EXPECT_EQ(At(4), l[2]);
    ASSERT_EQ(Call("SetLayerStyle", {Str("G"), Table({{Str("translatey"), Num(5)}})}).code, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(l[i]->sourceItem->y, 13);
    // A layer whose name is the group's name is addressed alone.
    l[3]->name = static_cast<char*>(AllocMemBlock(2, 0));
    std::strcpy(l[3]->name, "g");
    ASSERT_EQ(Call("SetLayerStyle", {Str("g"), Table({{Str("hidden"), Num(1)}})}).code, 0);
    EXPECT_EQ(l[3]->hidden, 1);
    EXPECT_EQ(l[0]->hidden, 0);
    ExpectWindowRecomposed();
}

TEST_F(LayerStyle, AnErrorRedrawsWhatEarlierPairsChanged) {
    qvLayer* first = Stack(2)[0];
    const CallResult r = Call("SetLayerStyle", {Num(1), Table({{Str("x"), Num(40)}}), Num(2),
                                                Table({{Str("anchorx"), Num(2)}})});
    EXPECT_EQ(r.code, ERR_WRONGUSAGE);
    EXPECT_EQ(first->sourceItem->x, 40);
    ExpectWindowRecomposed();
}

// A transformed cache that cannot be built (a width no bitmap can have) leaves the layer with
// the cache and transform it had, moved and shown where the same table put it.
TEST_F(LayerStyle, AFailedTransformKeepsTheOldCacheAndShowsTheMove) {
    qvLayer* layer = Stack(1)[0];
    const qvDrawTransform before = layer->transform;
    const CallResult r = Style(1, {{Str("width"), Num(1e300)}, {Str("x"), Num(0)}});
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(layer->sourceItem->x, 0);
    EXPECT_EQ(std::memcmp(&layer->transform, &before, sizeof before), 0);
    ExpectWindowRecomposed();
}

TEST_F(LayerStyle, DeferralHoldAndPictureTargetLeaveTheRepaint) {
    qvLayer* layer = Stack(1)[0];
    Define("deferred", [](qvVmState* L) { return scene::SetLayerProperties(L, 2, 1); });
    ASSERT_EQ(Call("deferred", {Num(1), Table({{Str("x"), Num(30)}})}).code, 0);
    EXPECT_TRUE(scene.TakeWindowDamage().empty());
    EXPECT_EQ(layer->sourceItem->x, 30);
    layer->refreshHold = 1;
    ASSERT_EQ(Style(1, {{Str("x"), Num(40)}}).code, 0);
    EXPECT_TRUE(scene.TakeWindowDamage().empty());
    layer->refreshHold = 0;
    scene.view.outputType = gfx::kTargetBGPic;
    ASSERT_EQ(Style(1, {{Str("x"), Num(20)}}).code, 0);
    EXPECT_TRUE(scene.TakeWindowDamage().empty());
    EXPECT_GT(scene.dirty.count, 0);
    scene.view.outputType = gfx::kTargetDisplay;
    ASSERT_EQ(Style(1, {{Str("x"), Num(10)}}).code, 0);
    EXPECT_FALSE(scene.TakeWindowDamage().empty());
}

TEST_F(LayerStyle, RemovedClipRegionIsFreedOnce) {
    qvLayer* layer = Stack(1)[0];
    auto* region = static_cast<qvClipRegion*>(AllocMemBlock(sizeof(qvClipRegion), 1));
    *region = {{}, 8, 4, 20, 20, nullptr, 0, 0};
    layer->sourceItem->clipRegion = region;
    ASSERT_EQ(Style(1, {{Str("rotate"), Num(45)}}).code, 0);
    ASSERT_TRUE(layer->pictureItem->ownsClipRegion);
    ASSERT_EQ(Style(1, {{Str("clipregion"), Num(-1)}}).code, 0);
    EXPECT_EQ(layer->sourceItem->clipRegion, nullptr);
    EXPECT_EQ(layer->pictureItem->clipRegion, nullptr);
    EXPECT_EQ(Call("RemoveLayer", {Num(1)}).code, 0);
    FreeMemBlock(region);
}

TEST_F(LayerStyle, SingularTransformGivesAnEmptyLayer) {
    Stack(1);
    EXPECT_EQ(Style(1, {{Str("transform"), List({Num(1), Num(1), Num(1), Num(1)})}}).code, 0);
    ExpectWindowRecomposed();
}

TEST_F(LayerStyle, AllocationFailuresLeaveTheScreenCurrent) {
    qvLayer* layer = Stack(2)[0];
    for (uint64_t n = 1; n <= 40; ++n) {
        SCOPED_TRACE(n);
        scene::FreeLayerStyleRects();
        const int32_t x = n % 2 == 0 ? 40 : 10;
        Define("faulty", [n](qvVmState* L) {
            AllocationFault fault(n, false);
            return SetLayerStyle(L);
        });
        const int code = Call("faulty", {Num(1), Table({{Str("x"), Num(x)}})}).code;
        EXPECT_TRUE(code == 0 || code == ERR_MEM) << code;
        if (code == 0) {
            EXPECT_EQ(layer->sourceItem->x, x);
        }
        ExpectWindowRecomposed();
    }
}

// Every move goes from 10 to 40, so the old place must be repainted; some n fails exactly
// the growth of the emptied rectangle list that should have recorded it.
TEST_F(LayerStyle, ARectangleThatCannotBeStoredRepaintsTheWholePicture) {
    qvLayer* layer = Stack(1)[0];
    for (uint64_t n = 1; n <= 12; ++n) {
        SCOPED_TRACE(n);
        ASSERT_EQ(Style(1, {{Str("x"), Num(10)}}).code, 0);
        scene::FreeLayerStyleRects();
        Define("faulty", [n](qvVmState* L) {
            AllocationFault fault(n, false);
            return SetLayerStyle(L);
        });
        const int code = Call("faulty", {Num(1), Table({{Str("x"), Num(40)}})}).code;
        ASSERT_TRUE(code == 0 || code == ERR_MEM) << code;
        if (code == 0) {
            EXPECT_EQ(layer->sourceItem->x, 40);
        }
        ExpectWindowRecomposed();
    }
}

// An asynchronous drawer of one layer: counts the change messages naming that layer.
struct LayerDrawer {
    qvLayer* layer;
    int changes = 0;
    static intptr_t Handle(int32_t message, void* argument, void* userData) {
        auto* self = static_cast<LayerDrawer*>(userData);
        if (message == kAsyncDrawnObject) *static_cast<void**>(argument) = self->layer;
        if (message == kAsyncLayerChanged && argument == self->layer) ++self->changes;
        return 0;
    }
};

TEST_F(LayerStyle, AnAsyncDrawerHearsOfNewFilterImagesOnly) {
    LayerDrawer drawer{Stack(1)[0]};
    ASSERT_EQ(
        AddAsyncDraw(ADF_FX, nullptr, 0, nullptr, nullptr, LayerDrawer::Handle, &drawer, nullptr),
        0);
    const struct {
        const char* key;
        Arg value;
        int changes;  // messages since the previous row
    } rows[] = {
        {"tint", Num(100), 1},         // the tint slot changes: filter images made anew
        {"tint", Num(100), 0},         // the same slot bytes: the images stay
        {"transparency", Num(50), 0},  // no filter images involved
        {"clearfilters", Num(1), 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.key);
        drawer.changes = 0;
        ASSERT_EQ(Style(1, {{Str(row.key), row.value}}).code, 0);
        EXPECT_EQ(drawer.changes, row.changes);
    }
    FreeAsyncDraws(L);
}

TEST_F(LayerStyle, GetLayerStyleGivesBackTheCommonKeys) {
    Stack(1);
    const std::vector<std::pair<Arg, Arg>> keys = {
        {Str("x"), Num(12)},           {Str("y"), Num(9)},          {Str("rotate"), Num(30)},
        {Str("scalex"), Num(1.5)},     {Str("anchory"), Num(0.25)}, {Str("smoothscale"), Num(1)},
        {Str("transparency"), Num(7)}, {Str("tint"), Num(40)},      {Str("tintcolor"), Num(0xFF00)},
        {Str("hidden"), Num(1)},       {Str("border"), Num(1)},     {Str("bordersize"), Num(3)},
    };
    ASSERT_EQ(Style(1, keys).code, 0);
    const CallResult r = Call("GetLayerStyle", {Num(1)});
    ASSERT_EQ(r.results.size(), 1u);
    for (const auto& [key, value] : keys) {
        const Value* got = r.results[0].Field(key.text);
        ASSERT_NE(got, nullptr) << key.text;
        EXPECT_EQ(got->number, value.number) << key.text;
    }
}

}  // namespace
}  // namespace qv::testing
