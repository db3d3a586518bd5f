// The "layers" command library over the layered test scene: the guard and its order, the
// reordering, showing, hiding and removing of layers and groups, names, collisions against a
// per-pixel reference, move queues, Undo, FreeLayers and the listing.
#include <cmath>
#include <cstring>
#include <regex>

#include "engine/error_codes.h"
#include "gfx/library/object_types.h"
#include "objects/draw/draw_state.h"
#include "scene/layers/layers_library.h"
#include "scene/layers/style_table.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

class LayersLibraryTest : public LayerFixture {
protected:
    LayersLibraryTest()
        : LayerFixture(OpenLibraries<RegisterBGPicLibrary, RegisterLayersLibrary>) {}
    ~LayersLibraryTest() override { scene::FreeMoveLists(); }

    // n solid layers of 8 x 8, the i-th (from 1) at (8 i, 4).
    std::vector<qvLayer*> Stack(int n) {
        std::vector<qvLayer*> layers;
        for (int i = 1; i <= n; ++i) {
            layers.push_back(scene.AddLayer(L, Solid(8, 8, 0x102030u * uint32_t(i)), 8 * i, 4));
        }
        Shown();  // layers added on top are drawn by their drawing commands
        return layers;
    }
    qvLayer* At(int32_t position) { return GetLayerByIndex(scene.picture, position); }
    // The window equals the picture recomposed from scratch; the first differing pixel.
    void ExpectWindowRecomposed() {
        const std::vector<uint32_t> window = scene.Window(), fresh = scene.Recomposed(L);
        for (size_t i = 0; i < window.size(); ++i) {
            if (window[i] != fresh[i]) {
                ADD_FAILURE() << "differs at (" << i % scene.width << ", " << i / scene.width
                              << ")";
                return;
            }
        }
    }
};

struct GuardCase {
    const char* command;
    std::vector<Arg> args;
    int minArgs;
    bool takesPosition;  // the first argument is a layer position
};

std::vector<GuardCase> GuardCases() {
    return {
        {"SwapLayers", {Num(1), Num(2)}, 2, true},
        {"LayerToFront", {Num(1)}, 1, true},
        {"LayerToBack", {Num(1)}, 1, true},
        {"SetLayerZPos", {Num(1), Num(2)}, 2, true},
        {"ShowLayer", {Num(1)}, 1, true},
        {"HideLayer", {Num(1)}, 1, true},
        {"RemoveLayer", {Num(1)}, 1, true},
        {"TranslateLayer", {Num(1), Num(1), Num(1)}, 3, true},
        {"SetLayerBorder", {Num(1), Num(1)}, 2, true},
        {"SetLayerShadow", {Num(1), Num(1)}, 2, true},
        {"Collision", {Num(22), Num(1), Num(2)}, 3, true},
        {"LayerExists", {Str("x")}, 1, false},
        {"GetLayerAtPos", {Num(0), Num(0)}, 2, false},
        {"DumpLayers", {Num(0)}, 0, false},
        {"FreeLayers", {Num(1)}, 0, false},
        {"Undo", {Num(3)}, 1, false},
        {"CreateLayer", {Num(0), Num(0), Num(4), Num(4)}, 4, false},
        {"InsertLayer", {Num(0), Num(3), Num(1), Num(0), Num(0)}, 5, false},
        {"SetLayerName", {Num(1), Str("n")}, 2, false},
    };
}

TEST_F(LayersLibraryTest, EveryCommandChecksCountThenGuardThenRange) {
    Stack(2);
    for (const GuardCase& c : GuardCases()) {
        SCOPED_TRACE(c.command);
        if (c.minArgs > 0) {
            std::vector<Arg> few(c.args.begin(), c.args.begin() + (c.minArgs - 1));
            EXPECT_EQ(Call(c.command, few).code, ERR_MISSINGPARAMTR);
        }
        std::vector<Arg> many = c.args;
        many.resize(9, Num(0));
        many.push_back(Num(0));
        EXPECT_EQ(Call(c.command, many).code, ERR_TOOMANYARGS);

        const struct {
            int32_t outputType;
            int32_t outputKind;
            bool layers;
            int code;
        } targets[] = {{gfx::kTypeBrush, gfx::kTypeAnim, true, ERR_SELECTANIM},
                       {gfx::kTypeBrush, gfx::kTypeBrush, true, ERR_SELECTBRUSH},
                       {gfx::kTypeMask, 0, true, ERR_SELECTMASK},
                       {gfx::kTypeAlphaChannel, 0, true, ERR_SELECTALPHACHANNEL},
                       {gfx::kTypeBrush, 0, false, ERR_SELECTBRUSH},
                       {gfx::kTypeDisplay, 0, false, ERR_NOLAYERS}};
        for (const auto& t : targets) {
            scene.view.outputType = t.outputType;
            scene.view.layersEnabled = t.layers;
            scene.picture->outputKind = t.outputKind;
            EXPECT_EQ(Call(c.command, c.args).code, t.code) << t.outputType;
        }
        scene.view.outputType = gfx::kTypeDisplay;
        scene.view.layersEnabled = true;
        scene.picture->outputKind = 0;
        if (c.takesPosition) {
            for (double position : {0.0, 3.0}) {
                std::vector<Arg> args = c.args;
                args[c.command == std::string("Collision") ? 1 : 0] = Num(position);
                EXPECT_EQ(Call(c.command, args).code, ERR_LAYERRANGE) << position;
            }
        }
    }
    EXPECT_EQ(CountLayers(scene.picture), 2);
}

TEST_F(LayersLibraryTest, RangeErrorsOfBorderAndShadowComeBeforeTheGuard) {
    scene.view.layersEnabled = false;
    const std::vector<std::vector<Arg>> border = {{Num(9), Num(1), Num(0), Num(0)}};
    EXPECT_EQ(Call("SetLayerBorder", border[0]).code, ERR_WRONGUSAGE);
    for (const std::vector<Arg>& args :
         {std::vector<Arg>{Num(9), Num(1), Num(0), Num(5), Num(-1)},
          std::vector<Arg>{Num(9), Num(1), Num(0), Num(0.5)},
          std::vector<Arg>{Num(9), Num(1), Num(0), Num(5), Num(4), Num(3), Num(0)}}) {
        EXPECT_EQ(Call("SetLayerShadow", args).code, ERR_WRONGUSAGE);
    }
    EXPECT_EQ(Call("SetLayerBorder", {Num(9), Num(1)}).code, ERR_NOLAYERS);
}

TEST_F(LayersLibraryTest, ReorderingExchangesOrMovesAndRepaints) {
    std::vector<qvLayer*> l = Stack(5);
    EXPECT_EQ(Call("LayerToBack", {Num(3)}).code, 0);
    EXPECT_EQ(At(1), l[2]);
    EXPECT_EQ(At(3), l[0]);
    EXPECT_EQ(Call("LayerToFront", {Num(1)}).code, 0);
    EXPECT_EQ(At(5), l[2]);
    EXPECT_EQ(At(1), l[4]);
    EXPECT_EQ(Call("SwapLayers", {Num(2), Num(2)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SwapLayers", {Num(2), Num(3)}).code, 0);  // neighbours
    EXPECT_EQ(At(2), l[0]);
    EXPECT_EQ(At(3), l[1]);

    EXPECT_EQ(Call("SetLayerZPos", {Num(2), Num(2)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SetLayerZPos", {Num(2), Num(-1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SetLayerZPos", {Num(2), Num(0)}).code, 0);
    EXPECT_EQ(At(5), l[0]);
    EXPECT_EQ(Call("SetLayerZPos", {Num(5), Num(2)}).code, 0);  // down: before the one at 2
    EXPECT_EQ(At(2), l[0]);
    EXPECT_EQ(Call("SetLayerZPos", {Num(1), Num(3)}).code, 0);  // up: after the one at 3
    EXPECT_EQ(At(3), l[4]);
    EXPECT_EQ(CountLayers(scene.picture), 5);
    ExpectWindowRecomposed();
}

// An exchange with a layer wholly outside still moves the other past the layers between.
TEST_F(LayersLibraryTest, ExchangeWithALayerOutsideRepaintsTheOneInside) {
    std::vector<qvLayer*> l = Stack(3);
    ASSERT_EQ(Call("TranslateLayer", {Num(1), Num(100), Num(0)}).code, 0);
    ASSERT_EQ(Call("TranslateLayer", {Num(3), Num(-4), Num(0)}).code, 0);  // over the second
    ExpectWindowRecomposed();
    EXPECT_EQ(Call("LayerToBack", {Num(3)}).code, 0);
    EXPECT_EQ(At(1), l[2]);
    ExpectWindowRecomposed();
}

TEST_F(LayersLibraryTest, GroupsAreHiddenShownAndRemovedMemberByMember) {
    std::vector<qvLayer*> l = Stack(4);
    for (int i : {0, 2, 3}) std::strcpy(l[i]->group, "Team");
    EXPECT_EQ(Call("HideLayer", {Str("team"), Table({})}).code, 0);
    EXPECT_EQ(l[0]->hidden + l[1]->hidden + l[2]->hidden + l[3]->hidden, 3);
    EXPECT_EQ(l[1]->hidden, 0);
    ExpectWindowRecomposed();

    // The box of the members starts at (8, 4); moving it to (0, 20) moves each by (-8, 16).
    EXPECT_EQ(Call("ShowLayer", {Str("Team"), Num(0), Num(20)}).code, 0);
    EXPECT_EQ(l[0]->hidden + l[2]->hidden + l[3]->hidden, 0);
    EXPECT_EQ(l[0]->sourceItem->x, 0);
    EXPECT_EQ(l[3]->sourceItem->x, 24);
    EXPECT_EQ(l[3]->sourceItem->y, 20);
    EXPECT_EQ(l[1]->sourceItem->y, 4);
    ExpectWindowRecomposed();

    scene.TakeWindowDamage();
    EXPECT_EQ(Call("RemoveLayer", {Str("TEAM")}).code, 0);
    EXPECT_EQ(CountLayers(scene.picture), 1);
    EXPECT_EQ(At(1), l[1]);
    const std::vector<DamageRect> damage = scene.TakeWindowDamage();
    ASSERT_EQ(damage.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(damage[i].x, int32_t(i) * 8 + (i == 0 ? 0 : 8));
        EXPECT_EQ(damage[i].width, 8);
    }
    ExpectWindowRecomposed();
}

TEST_F(LayersLibraryTest, ShowLayerResolvesPositionConstantsAgainstTheLayer) {
    qvLayer* layer = Stack(1)[0];
    layer->hidden = 1;
    EXPECT_EQ(Call("ShowLayer", {Num(1), Num(-100000)}).code, 0);
    EXPECT_EQ(layer->hidden, 0);
    EXPECT_EQ(layer->sourceItem->x, (64 - 8) / 2);
    EXPECT_EQ(layer->sourceItem->y, 4);
    EXPECT_EQ(Call("TranslateLayer", {Num(1), Num(-3), Num(5)}).code, 0);
    EXPECT_EQ(layer->sourceItem->x, 25);
    EXPECT_EQ(layer->sourceItem->y, 9);
    ExpectWindowRecomposed();
}

// A layer sent to the far ends of the coordinate range leaves its old place repainted: the
// area of old and new place is longer than 32 bits, and only its part far from the picture
// may be cut.
TEST_F(LayersLibraryTest, ALayerMovedToTheFarEndsLeavesItsOldPlaceRepainted) {
    Stack(2);
    const double far[] = {-INFINITY, -2147483648.0, 2147483647.0, INFINITY, -1e12};
    for (double y : far) {
        ASSERT_EQ(Call("ShowLayer", {Num(2), Num(100000), Num(y)}).code, 0) << y;
        ExpectWindowRecomposed();
        ASSERT_EQ(Call("ShowLayer", {Num(2), Num(16), Num(4)}).code, 0) << y;
        ExpectWindowRecomposed();
        ASSERT_EQ(Call("ShowLayer", {Num(1), Num(y), Num(100000)}).code, 0) << y;
        ExpectWindowRecomposed();
        ASSERT_EQ(Call("ShowLayer", {Num(1), Num(8), Num(4)}).code, 0) << y;
    }
    ASSERT_EQ(Call("TranslateLayer", {Num(1), Num(0), Num(-2147483648.0)}).code, 0);
    ExpectWindowRecomposed();
}

TEST_F(LayersLibraryTest, NamesAreValidatedBeforeTheOldOneGoes) {
    std::vector<qvLayer*> l = Stack(2);
    EXPECT_EQ(Call("SetLayerName", {Num(1), Str("Foo")}).code, 0);
    EXPECT_EQ(Call("SetLayerName", {Num(0), Str("Bar")}).code, 0);  // below 1: the top
    EXPECT_STREQ(l[1]->name, "Bar");
    EXPECT_EQ(Call("SetLayerName", {Num(1), Str("foo")}).code, 0);  // its own name, new case
    EXPECT_STREQ(l[0]->name, "foo");
    EXPECT_EQ(Call("SetLayerName", {Num(1), Str("BAR")}).code, ERR_NAMEUSED);
    EXPECT_EQ(Call("SetLayerName", {Num(1), Str(std::string(256, 'x'))}).code, ERR_NAMETOOLONG);
    EXPECT_STREQ(l[0]->name, "foo");
    EXPECT_EQ(Call("LayerExists", {Str("FOO")}).Number(), 1);
    EXPECT_EQ(Call("SetLayerName", {Num(1), Str("")}).code, 0);
    EXPECT_EQ(l[0]->name, nullptr);
    EXPECT_EQ(Call("LayerExists", {Str("foo")}).Number(), 0);
    EXPECT_EQ(Call("SetLayerName", {Num(3), Str("z")}).code, ERR_LAYERRANGE);
}

TEST_F(LayersLibraryTest, GetLayerAtPosFindsTheTopmostHiddenOrNot) {
    std::vector<qvLayer*> l = Stack(2);
    Call("TranslateLayer", {Num(2), Num(-12), Num(0)});  // at 4..11, over the first's left half
    SetLayerNameString(l[1], "top");
    l[1]->hidden = 1;
    const CallResult hit = Call("GetLayerAtPos", {Num(9), Num(5)});
    EXPECT_EQ(hit.Number(0), 2);
    EXPECT_EQ(hit.Text(1), "top");
    EXPECT_EQ(Call("GetLayerAtPos", {Num(13), Num(5)}).Number(0), 1);
    const CallResult none = Call("GetLayerAtPos", {Num(0), Num(0)});
    EXPECT_EQ(none.Number(0), 0);
    EXPECT_EQ(none.Text(1), "");
}

// The reference: two sides collide when some pixel of both rectangles is solid on each.
int ReferenceCollision(const Planes& a, int ax, int ay, const Planes& b, int bx, int by) {
    const auto solid = [](const Planes& p, int x, int y) {
        if (x < 0 || y < 0 || x >= p.width || y >= p.height) return false;
        const size_t i = size_t(y) * p.width + x;
        return (p.mask.empty() || p.mask[i] != 0) && (p.alpha.empty() || p.alpha[i] != 0);
    };
    for (int y = -64; y < 64; ++y) {
        for (int x = -64; x < 128; ++x) {
            if (solid(a, x - ax, y - ay) && solid(b, x - bx, y - by)) return 1;
        }
    }
    return 0;
}

TEST_F(LayersLibraryTest, CollisionsMatchAPerPixelReference) {
    const Planes checker = Masked(Solid(8, 8, 0xFF0000), [](int x, int y) { return (x + y) % 2; });
    Planes holed = Solid(8, 8, 0x00FF00);
    holed.alpha.assign(64, 255);
    holed.mask.assign(64, 1);
    for (int i = 0; i < 8; ++i)
        holed.alpha[size_t(i) * 8 + 3] = 0, holed.mask[size_t(i) * 8 + 5] = 0;
    const Planes solid = Solid(1, 8, 0x0000FF);
    struct Case {
        const Planes* a;
        int ax;
        const Planes* b;
        int bx;
    } cases[] = {{&checker, 0, &checker, 0}, {&checker, 0, &checker, 1}, {&checker, 0, &solid, 3},
                 {&holed, 0, &solid, 3},     {&holed, 0, &solid, 5},     {&holed, 0, &solid, 4},
                 {&holed, 0, &checker, 2},   {&solid, 0, &solid, 1}};
    for (const Case& c : cases) {
        FreeLayerList(L, scene.picture);
        scene.AddLayer(L, *c.a, c.ax, 0);
        scene.AddLayer(L, *c.b, c.bx, 0);
        EXPECT_EQ(Call("Collision", {Num(22), Num(1), Num(2)}).Number(),
                  ReferenceCollision(*c.a, c.ax, 0, *c.b, c.bx, 0))
            << c.ax << " " << c.bx;
    }
}

TEST_F(LayersLibraryTest, BoxCollisionsIncludeTheirLastPixels) {
    EXPECT_EQ(Call("Collision",
                   {Num(14), Num(0), Num(0), Num(11), Num(5), Num(10), Num(0), Num(4), Num(4)})
                  .Number(),
              1);
    EXPECT_EQ(Call("Collision",
                   {Num(14), Num(0), Num(0), Num(11), Num(5), Num(11), Num(0), Num(4), Num(4)})
                  .Number(),
              0);
    EXPECT_EQ(Call("Collision", {Num(99)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("Collision", {Num(32), Num(1), Num(2)}).code, ERR_FINDSPRITE);
}

TEST_F(LayersLibraryTest, LayerAgainstBoxUsesTheDisplayScale) {
    Stack(1);  // at (8, 4), 8 x 8
    EXPECT_EQ(Call("Collision", {Num(47), Num(1), Num(4), Num(0), Num(3), Num(3)}).Number(), 0);
    scene.scale.x = 2.0;
    EXPECT_EQ(Call("Collision", {Num(47), Num(1), Num(4), Num(0), Num(3), Num(6)}).Number(), 1);
}

TEST_F(LayersLibraryTest, MoveQueuesGrowToTheirLimit) {
    Stack(1);
    const CallResult first = Call("AddMove", {Nil(), Num(22), Num(1), Num(5), Num(6)});
    const CallResult second = Call("AddMove", {Nil(), Num(22), Num(1)});
    ASSERT_EQ(first.results.size(), 1u);
    EXPECT_EQ(first.results[0].type, VM_TLIGHTUSERDATA);
    EXPECT_NE(first.results[0].pointer, second.results[0].pointer);

    for (int i = 0; i < scene::kMoveEntries; ++i) {
        ASSERT_EQ(Call("AddMove", {Num(7), Num(3), Num(1), Num(i)}).code, 0);
    }
    EXPECT_EQ(Call("AddMove", {Num(7), Num(3), Num(1)}).code, ERR_INTERNAL);
    scene::qvMoveList* list = scene::FindMoveList({7, nullptr});
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->x[511], 511);
    EXPECT_EQ(list->x1[0], scene::kNoMoveRect);
    EXPECT_EQ(list->hasRect[0], 0);

    EXPECT_EQ(Call("ClearMove", {Num(7)}).code, 0);
    const CallResult missing = Call("ClearMove", {Num(7)});
    EXPECT_EQ(missing.code, ERR_FINDMOVE);
    EXPECT_EQ(missing.errorNumber, 7u);
    EXPECT_EQ(Call("ClearMove", {LightUserdata(list)}).code, ERR_FINDARRAY);
    EXPECT_EQ(Call("AddMove", {LightUserdata(list), Num(3), Num(1)}).code, ERR_FINDARRAY);
    EXPECT_EQ(Call("ClearMove", {first.results[0].pointer == nullptr
                                     ? Nil()
                                     : LightUserdata(const_cast<void*>(first.results[0].pointer))})
                  .code,
              0);
}

TEST_F(LayersLibraryTest, DoMoveLayerStepRecordsTheRepaintRectangle) {
    qvLayer* layer = Stack(1)[0];
    Call("AddMove", {Num(1), Num(22), Num(1), Num(20), Num(10), Num(1)});
    // A rectangle starting at the old marker value must still count as one.
    Call("AddMove", {Num(1), Num(22), Num(1), Num(-200), Num(-200)});
    scene::qvMoveList* list = scene::FindMoveList({1, nullptr});
    ASSERT_EQ(scene::DoMoveLayerStep(L, list, 0, true), 0);
    EXPECT_EQ(layer->hidden, 1);
    EXPECT_EQ(list->done[0], 1);
    EXPECT_EQ(list->hasRect[0], 1);  // the old bounds lay inside
    EXPECT_EQ(list->x1[0], 8);
    EXPECT_EQ(list->x2[0], 15);
    layer->hidden = 0;
    ASSERT_EQ(scene::DoMoveLayerStep(L, list, 1, false), 0);
    EXPECT_EQ(list->hasRect[1], 1);
    EXPECT_EQ(list->x1[1], 20);
    EXPECT_EQ(list->y2[1], 17);
}

TEST_F(LayersLibraryTest, UndoTakesTheNthMatchFromTheTop) {
    std::vector<qvLayer*> l = Stack(3);
    EXPECT_EQ(Call("Undo", {Num(4)}).code, 0);  // no anim layer: nothing happens
    EXPECT_EQ(Call("Undo", {Num(3), Nil(), Num(2)}).code, 0);
    EXPECT_EQ(CountLayers(scene.picture), 2);
    EXPECT_EQ(At(1), l[0]);
    EXPECT_EQ(At(2), l[2]);
    int32_t x = 0, y = 0, w = 0, h = 0;
    EXPECT_EQ(UndoLayerByObject(L, gfx::kTypeBrush, {0, nullptr}, 1, &x, &y, &w, &h), 0);
    EXPECT_EQ(x, 24);
    EXPECT_EQ(w, 8);
    EXPECT_EQ(UndoLayerByObject(L, gfx::kTypeAnim, {0, nullptr}, 1, &x, &y, &w, &h), 1);
    ExpectWindowRecomposed();
    // A count of 1 or less, down to the lowest integer, names the topmost match.
    EXPECT_EQ(Call("Undo", {Num(3), Nil(), Num(-2147483648.0)}).code, 0);
    EXPECT_EQ(CountLayers(scene.picture), 0);
}

TEST_F(LayersLibraryTest, FreeLayersKeepsTheLookOrRepaints) {
    Stack(3);
    const std::vector<uint32_t> look = Shown();
    EXPECT_EQ(Call("FreeLayers").code, 0);
    EXPECT_EQ(CountLayers(scene.picture), 0);
    EXPECT_EQ(ReadPixels(scene.displayBitmap.get(), scene.width, scene.height), look);

    // Into a picture the display does not show: keeping the image is refused.
    qvObjectId id{0, nullptr};
    scene::BGPicParts parts;
    parts.bitmap.reset(AllocDisplayBitMap(16, 16));
    parts.width = parts.height = 16;
    qvBGPic* other = nullptr;
    ASSERT_EQ(AddBGPic(&id, &parts, &other), 0);
    scene.output = other;
    scene.view.outputType = gfx::kTypeBGPic;
    EXPECT_EQ(Call("FreeLayers").code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("FreeLayers", {Num(0)}).code, 0);
    scene.output = scene.picture;
    scene.view.outputType = gfx::kTypeDisplay;
}

TEST_F(LayersLibraryTest, BorderAndShadowAreClampedAndRepainted) {
    qvLayer* layer = Stack(1)[0];
    EXPECT_EQ(Call("SetLayerBorder", {Num(1), Num(1), Num(0xFFFFFF), Num(1e9)}).code, 0);
    EXPECT_EQ(layer->border.on, 1);
    // Sizes are kept as given (saturated to 32 bits): the renderer bounds a wide border.
    EXPECT_EQ(layer->border.size, 1000000000);
    ExpectWindowRecomposed();
    EXPECT_EQ(Call("SetLayerShadow", {Num(1), Num(1), Num(0), Num(6), Num(1e12), Num(9)}).code, 0);
    EXPECT_EQ(layer->shadow.size, INT32_MAX);
    EXPECT_EQ(layer->shadow.direction, 3);
    EXPECT_DOUBLE_EQ(layer->shadow.sigma, 2.0);
    ExpectWindowRecomposed();
    EXPECT_EQ(Call("SetLayerBorder", {Num(1), Num(0)}).code, 0);
    EXPECT_EQ(Call("SetLayerShadow", {Num(1), Num(0)}).code, 0);
    EXPECT_EQ(layer->border.on + layer->shadow.on, 0);
    ExpectWindowRecomposed();
}

// A shadow of size 0 lies right under its layer; sizes are truncated, not capped.
TEST_F(LayersLibraryTest, ShadowAndBorderSizesAreKeptAsGiven) {
    qvLayer* layer = Stack(1)[0];
    for (auto [given, kept] : {std::pair{0.0, 0}, {0.9, 0}, {100.0, 100}, {65.5, 65}}) {
        SCOPED_TRACE(given);
        ASSERT_EQ(Call("SetLayerShadow", {Num(1), Num(1), Num(0), Num(5), Num(given)}).code, 0);
        EXPECT_EQ(layer->shadow.size, kept);
        const CallResult style = Call("GetLayerStyle", {Num(1)});
        ASSERT_EQ(style.code, 0);
        const Value* size = style.results.at(0).Field("shadowsize");
        ASSERT_NE(size, nullptr);
        EXPECT_EQ(size->number, kept);
        ExpectWindowRecomposed();
    }
    ASSERT_EQ(Call("SetLayerBorder", {Num(1), Num(1), Num(0xFFFFFF), Num(100)}).code, 0);
    EXPECT_EQ(layer->border.size, 100);
    ExpectWindowRecomposed();
}

// The lookup of a layer or group comes after the guard, and its errors are returned: with
// errors off the script goes on.
TEST_F(LayersLibraryTest, LayerOrGroupLookupsReturnTheirErrorsAfterTheGuard) {
    Stack(2);
    SetExitOnError(false);
    const struct {
        const char* command;
        Arg layer;
        int code;
    } cases[] = {
        {"HideLayer", Str("nosuch"), ERR_FINDLAYER},   {"ShowLayer", Str("nosuch"), ERR_FINDLAYER},
        {"RemoveLayer", Str("nosuch"), ERR_FINDLAYER}, {"HideLayer", Table({}), ERR_STRORNUM},
        {"RemoveLayer", Num(3), ERR_LAYERRANGE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        scene.view.layersEnabled = true;
        CallResult r = Call(c.command, {c.layer});
        EXPECT_EQ(r.code, c.code);
        EXPECT_FALSE(r.ended);
        if (c.code == ERR_FINDLAYER) {
            EXPECT_EQ(r.errorText, "nosuch");
        }
        if (c.code == ERR_STRORNUM) {
            EXPECT_EQ(r.errorNumber, 1u);
        }
        scene.view.layersEnabled = false;
        r = Call(c.command, {c.layer});
        EXPECT_EQ(r.code, ERR_NOLAYERS);
        EXPECT_FALSE(r.ended);
    }
    scene.view.layersEnabled = true;
    EXPECT_EQ(CountLayers(scene.picture), 2);
}

TEST_F(LayersLibraryTest, DumpLayersListsTheChosenItem) {
    std::vector<qvLayer*> l = Stack(2);
    SetLayerNameString(l[1], "Hero");
    l[0]->hidden = 1;
    const size_t start = DebugText().size();
    EXPECT_EQ(Call("DumpLayers").code, 0);
    const std::string text =
        std::regex_replace(DebugText().substr(start), std::regex("0x[0-9a-f]+|\\(nil\\)"), "P");
    EXPECT_EQ(text,
              "LAYER SYSTEM INFO - BGPIC: 0 (P)\nsizeof(qvLayer): 1080\nLayers: 2\n"
              "(1) BRUSH #0 (P / \"\") - X: 8 (8) - Y: 4 (4) - Width: 8 (8) - Height: 8 (8) - "
              "Visible: 0\n"
              "(2) BRUSH #0 (P / \"Hero\") - X: 16 (16) - Y: 4 (4) - Width: 8 (8) - Height: 8 "
              "(8) - Visible: 1\n");
}

TEST_F(LayersLibraryTest, GetLayerStyleListsTheCommonKeys) {
    std::vector<qvLayer*> l = Stack(2);
    qvLayer* layer = l[1];
    SetLayerNameString(layer, "Hero");
    std::strcpy(layer->group, "Team");
    layer->transparency = 40;
    layer->shadow = {1, 0x80112233u, 6, 5, 7.5, 2.5};
    layer->border = {1, 0x445566, 3};
    layer->filters[kFilterTint] = {1, 0, {0x00FF00, 128, 0, 0}, {}};
    layer->filters[kFilterBlur] = {1, 9, {3, 0, 0, 0}, {1.5f, 0, 0, 0}};
    const CallResult style = Call("GetLayerStyle", {Str("hero")});
    ASSERT_EQ(style.code, 0);
    const Value& t = style.results.at(0);
    const auto number = [&](const char* key) {
        const Value* v = t.Field(key);
        return v != nullptr ? v->number : -12345.0;
    };
    EXPECT_EQ(number("x"), 16);
    EXPECT_EQ(number("y"), 4);
    EXPECT_EQ(number("scalex"), 1);
    EXPECT_EQ(number("transparency"), 40);
    EXPECT_EQ(number("tint"), 128);
    EXPECT_EQ(number("tintcolor"), 0x00FF00);
    EXPECT_EQ(number("clipregion"), -1);
    EXPECT_EQ(number("shadowdir"), 5);
    EXPECT_EQ(number("shadowsigma"), 2.5);
    EXPECT_EQ(number("shadowcolor"), double(0x80112233u));
    EXPECT_EQ(number("edgesize"), 3);
    EXPECT_EQ(number("outlinethickness"), 3);
    EXPECT_EQ(t.Field("name")->text, "Hero");
    EXPECT_EQ(t.Field("group")->text, "Team");
    ASSERT_NE(t.Field("transform"), nullptr);
    EXPECT_EQ(t.Field("transform")->At(3)->number, 1);
    const Value* filters = t.Field("filters");
    ASSERT_NE(filters, nullptr);
    ASSERT_NE(filters->At(1), nullptr);
    EXPECT_EQ(filters->At(0)->Field("name")->text, "blur");
    EXPECT_EQ(filters->At(0)->Field("priority")->number, 9);
    EXPECT_EQ(filters->At(1)->Field("name")->text, "tint");
    EXPECT_EQ(filters->At(2), nullptr);

    layer->shadow.on = 0;
    const Value plain = Call("GetLayerStyle", {Num(1)}).results.at(0);
    EXPECT_EQ(plain.Field("shadowcolor"), nullptr);  // only while the shadow is on
    EXPECT_EQ(plain.Field("name")->text, "");
    EXPECT_EQ(Call("GetLayerStyle", {Num(3)}).code, ERR_LAYERRANGE);
    scene.view.layersEnabled = false;
    EXPECT_EQ(Call("GetLayerStyle", {Num(1)}).code, ERR_NOLAYERS);
}

TEST_F(LayersLibraryTest, FormStyleKeysRoundTrip) {
    qvDrawState block{};
    block.formStyle = draw::NORMAL;
    qvShadowBlock shadow{};
    qvBorderBlock border{1, 0, 2};
    scene::FormStyleChanges changes;
    int code = -1;
    Define("readform", [&](qvVmState* L) {
        code = scene::ParseLayerFormStyle(L, 1, &block, &shadow, &border, &changes);
        VmNewTable(L);
        scene::PushFormStyle(L, &block);
        return 1;
    });
    const CallResult read = Call(
        "ReadForm", {Table({{Str("formstyle"), Num(2 | 32)},
                            {Str("formstyleclear"), Num(64 | 1)},
                            {Str("fillstyle"), Num(2)},
                            {Str("gradientstartcolor"), Num(0xFF0000)},
                            {Str("gradientcolors"), List({Num(0xFF), Num(0), Num(0xFF00), Num(1)})},
                            {Str("texturex"), Num(7)}})});
    ASSERT_EQ(read.code, 0) << read.errorText;
    ASSERT_EQ(code, 0);
    EXPECT_TRUE(changes.refresh && changes.rebuild);
    EXPECT_EQ(shadow.on, 1);
    EXPECT_EQ(border.on, 0);
    EXPECT_EQ(block.formStyle, uint32_t(2));  // NORMAL cleared, the switches not kept
    EXPECT_EQ(block.gradient.stopCount, 2);
    const Value& t = read.results.at(0);
    EXPECT_EQ(t.Field("fillstyle")->number, 2);
    EXPECT_EQ(t.Field("gradientstartcolor")->number, 0xFF0000);
    EXPECT_EQ(t.Field("texturex")->number, 7);

    changes = {};
    Call("ReadForm", {Table({{Str("formstyle"), Num(1 | 64)}})});
    EXPECT_EQ(block.formStyle, uint32_t(draw::NORMAL));
    EXPECT_EQ(border.on, 0);  // NORMAL replaces the style; the switch bits are not read
    EXPECT_FALSE(changes.refresh);
    Call("ReadForm",
         {Table({{Str("fillstyle"), Num(2)}, {Str("gradientcolors"), List({Num(0xFF), Num(3)})}})});
    EXPECT_NE(code, 0);
}

}  // namespace
}  // namespace qv::testing
