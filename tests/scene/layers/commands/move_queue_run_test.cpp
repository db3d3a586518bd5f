// DoMove and NextFrame over the layered test scene: DoMove's guard order and queue lookup, its
// three passes, the one-pass merge of the rectangles (each refreshed once, spied on through
// the window's damage), a failure half-way, and new layers of anims, brushes and text
// objects; NextFrame's guards.
#include "engine/error_codes.h"
#include "gfx/library/async_draw.h"
#include "gfx/library/object_types.h"
#include "media/anim_store.h"
#include "scene/layers/layers_commands.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/layers/commands/layer_commands_fixture.h"

namespace qv::testing {
namespace {

using MoveQueueRunTest = LayerCommandsFixture;

TEST_F(MoveQueueRunTest, DoMoveRefusesLayersOffFirstThenTheOutputThenAMissingQueue) {
    Stack(1);
    Call("AddMove", {Num(1), Num(22), Num(1)});
    EXPECT_EQ(Call("DoMove").code, ERR_MISSINGPARAMTR);
    EXPECT_EQ(Call("DoMove", {Num(1), Num(1)}).code, ERR_TOOMANYARGS);
    const struct {
        int32_t outputType, outputKind;
        bool layers;
        int code;
    } cases[] = {
        // Unlike the other layer commands, layers off come before the selected brush.
        {gfx::kTypeBrush, gfx::kTypeBrush, false, ERR_NOLAYERS},
        {gfx::kTypeBrush, gfx::kTypeBrush, true, ERR_SELECTBRUSH},
        {gfx::kTypeBrush, gfx::kTypeAnim, true, ERR_SELECTANIM},
        {gfx::kTypeMask, 0, true, ERR_SELECTMASK},
        {gfx::kTypeAlphaChannel, 0, true, ERR_SELECTALPHACHANNEL},
    };
    for (const auto& c : cases) {
        scene.view.outputType = c.outputType;
        scene.view.layersEnabled = c.layers;
        scene.picture->outputKind = c.outputKind;
        EXPECT_EQ(Call("DoMove", {Num(1)}).code, c.code) << c.outputType << " " << c.layers;
    }
    scene.view.outputType = gfx::kTypeDisplay;
    scene.view.layersEnabled = true;
    scene.picture->outputKind = 0;
    const CallResult missing = Call("DoMove", {Num(9)});
    EXPECT_EQ(missing.code, ERR_FINDMOVE);
    EXPECT_EQ(missing.errorNumber, 9u);
    int unrelated = 0;
    EXPECT_EQ(Call("DoMove", {LightUserdata(&unrelated)}).code, ERR_FINDARRAY);
    EXPECT_EQ(At(1)->sourceItem->x, 8);  // nothing moved
}

TEST_F(MoveQueueRunTest, OverlappingRectanglesAreMergedAndEachRefreshedOnce) {
    scene.AddLayer(L, Solid(8, 8, 0x112233), 0, 0);
    scene.AddLayer(L, Solid(8, 8, 0x445566), 6, 0);
    scene.AddLayer(L, Solid(8, 8, 0x778899), 40, 30);
    Shown();
    Call("AddMove", {Num(1), Num(22), Num(1), Num(2), Num(0)});    // 0..9 x 0..7
    Call("AddMove", {Num(1), Num(22), Num(2), Num(8), Num(0)});    // 6..15 x 0..7
    Call("AddMove", {Num(1), Num(22), Num(3), Num(50), Num(36)});  // 40..57 x 30..43
    scene.TakeWindowDamage();
    ASSERT_EQ(Call("DoMove", {Num(1)}).code, 0);

    const std::vector<DamageRect> damage = scene.TakeWindowDamage();
    ASSERT_EQ(damage.size(), 2u);
    EXPECT_EQ(damage[0].x, 0);
    EXPECT_EQ(damage[0].width, 16);
    EXPECT_EQ(damage[1].x, 40);
    scene::qvMoveList* list = scene::FindMoveList({1, nullptr});
    EXPECT_EQ(list->hasRect[1], 0);
    EXPECT_EQ(list->x1[1], scene::kNoMoveRect);
    EXPECT_EQ(list->done[0] + list->done[1] + list->done[2], 3);
    EXPECT_EQ(list->count, 3);  // the queue stays
    EXPECT_EQ(At(3)->sourceItem->x, 50);
    ExpectWindowRecomposed();

    // A second run moves nothing and still refreshes what it recorded.
    ASSERT_EQ(Call("DoMove", {Num(1)}).code, 0);
    EXPECT_FALSE(scene.TakeWindowDamage().empty());
}

TEST_F(MoveQueueRunTest, FirstPassHidesRemovesInsertsAndUndoesByPosition) {
    std::vector<qvLayer*> l = Stack(4);
    objects.brushes[5] = MakePlanes(Solid(6, 6, 0xABCDEF));
    Call("AddMove", {Num(1), Num(25), Num(1)});                           // hide l0
    Call("AddMove", {Num(1), Num(26), Num(2)});                           // remove l1: l0 l2 l3
    Call("AddMove", {Num(1), Num(24), Num(5), Num(0), Num(30), Num(1)});  // brush 5 at the bottom
    // The second brush layer of no object from the top: l2.
    Call("AddMove", {Num(1), Num(10), Num(gfx::kTypeBrush), Num(0), Num(2)});
    ASSERT_EQ(Call("DoMove", {Num(1)}).code, 0);

    ASSERT_EQ(CountLayers(scene.picture), 3);
    EXPECT_EQ(At(1)->creationId.number, 5u);
    EXPECT_EQ(At(1)->sourceItem->y, 30);
    EXPECT_EQ(At(2), l[0]);
    EXPECT_EQ(At(2)->hidden, 1);
    EXPECT_EQ(At(3), l[3]);
    ExpectWindowRecomposed();
}

// Reports the layer it was given as the object it draws.
intptr_t DrawsLayer(int32_t message, void* argument, void* userData) {
    if (message == kAsyncDrawnObject) *static_cast<void**>(argument) = userData;
    return 0;
}

TEST_F(MoveQueueRunTest, AFailureHalfWayKeepsAndRefreshesWhatWasCarriedOut) {
    std::vector<qvLayer*> l = Stack(2);
    ASSERT_EQ(AddAsyncDraw(ADF_MOVEOBJECT, nullptr, 0, nullptr, nullptr, DrawsLayer, l[1], nullptr),
              0);
    Call("AddMove", {Num(1), Num(22), Num(1), Num(30), Num(30)});
    Call("AddMove", {Num(1), Num(26), Num(2)});
    scene.TakeWindowDamage();
    EXPECT_EQ(Call("DoMove", {Num(1)}).code, ERR_REMADLAYER);
    EXPECT_EQ(CountLayers(scene.picture), 2);
    EXPECT_EQ(l[0]->sourceItem->x, 30);
    EXPECT_FALSE(scene.TakeWindowDamage().empty());
    ExpectWindowRecomposed();
    FreeAsyncDraws(L);
}

TEST_F(MoveQueueRunTest, ObjectEntriesMoveEveryMatchingLayerOrAddOne) {
    objects.brushes[7] = MakePlanes(Solid(4, 4, 0x00FF00));
    objects.brushes[8] = MakePlanes(Solid(4, 4, 0x0000FF));
    qvLayer* a = scene.AddBrushPart(L, 7, 0, 0, 0, 0, 4, 4);
    qvLayer* b = scene.AddBrushPart(L, 7, 0, 0, 10, 0, 4, 4);
    a->hidden = 1;
    Shown();
    Call("AddMove", {Num(1), Num(3), Num(7), Num(20), Num(20)});       // both layers of brush 7
    Call("AddMove", {Num(1), Num(3), Num(8), Num(-100000), Num(40)});  // no layer: a new one
    ASSERT_EQ(Call("DoMove", {Num(1)}).code, 0);
    EXPECT_EQ(a->hidden, 0);
    EXPECT_EQ(a->sourceItem->x, 20);
    EXPECT_EQ(b->sourceItem->y, 20);
    ASSERT_EQ(CountLayers(scene.picture), 3);
    EXPECT_EQ(At(3)->creationId.number, 8u);
    EXPECT_EQ(At(3)->sourceItem->x, 30);  // centred
    ExpectWindowRecomposed();

    Call("AddMove", {Num(2), Num(23), Num(7)});
    ASSERT_EQ(Call("DoMove", {Num(2)}).code, 0);
    EXPECT_EQ(a->hidden + b->hidden, 2);
    ExpectWindowRecomposed();

    Call("AddMove", {Num(3), Num(8), Num(77)});
    EXPECT_EQ(Call("DoMove", {Num(3)}).code, ERR_FINDTEXTOBJECT);
    Call("AddMove", {Num(4), Num(99), Num(1)});
    EXPECT_EQ(Call("DoMove", {Num(4)}).code, ERR_WRONGUSAGE);
}

TEST_F(MoveQueueRunTest, NextFrameEntryWithoutALayerAddsOneAtTheChosenFrame) {
    const struct {
        int frames;
        int32_t frame;
        int code;
        int32_t shown;
    } cases[] = {
        {3, 0, 0, 1},
        {1, 0, 0, 0},
        {3, -1, 0, 2},
        {3, 3, 0, 2},
        {3, 4, ERR_ANIMFRAME, 0},
        {3, -2, ERR_ANIMFRAME, 0},
    };
    uint32_t number = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frame);
        const qvObjectId anim = MakeAnim(++number, c.frames);
        Call("AddMove", {Num(number), Num(29), Num(number), Num(1), Num(2), Num(c.frame)});
        ASSERT_EQ(Call("DoMove", {Num(number)}).code, c.code);
        if (c.code != 0) continue;
        qvLayer* top = At(CountLayers(scene.picture));
        EXPECT_EQ(top->creationId.number, anim.number);
        EXPECT_EQ(static_cast<qvAnimItem*>(top->sourceItem)->frame, c.shown);
    }
    ExpectWindowRecomposed();
}

TEST_F(MoveQueueRunTest, NextFrameChecksItsArgumentsThenTheGuardThenTheLayer) {
    Stack(1);
    EXPECT_EQ(Call("NextFrame").code, ERR_MISSINGPARAMTR);
    EXPECT_EQ(Call("NextFrame", {Num(1), Num(0), Num(0), Num(0), Num(0)}).code, ERR_TOOMANYARGS);
    EXPECT_EQ(Call("NextFrame", {Str("nobody")}).code, ERR_FINDLAYER);
    scene.view.layersEnabled = false;
    EXPECT_EQ(Call("NextFrame", {Num(1)}).code, ERR_NOLAYERS);
    scene.view.layersEnabled = true;
    EXPECT_EQ(Call("NextFrame", {Num(2)}).code, ERR_LAYERRANGE);
    EXPECT_EQ(Call("NextFrame", {Num(1)}).code, ERR_NOANMLAYER);
}

TEST_F(MoveQueueRunTest, NextFrameWrapsFromTheLastFrameAndMoves) {
    const qvObjectId anim = MakeAnim(3, 3);
    AnimLayer(anim, 0, 0, 2);
    ASSERT_EQ(Call("NextFrame", {Num(1)}).code, 0);
    EXPECT_EQ(FrameOf(1), 0);
    ASSERT_EQ(Call("NextFrame", {Num(1), Num(20), Num(100000), Num(-1)}).code, 0);
    EXPECT_EQ(FrameOf(1), 2);
    EXPECT_EQ(At(1)->sourceItem->x, 20);
    EXPECT_EQ(At(1)->sourceItem->y, 0);
    ExpectWindowRecomposed();
}

TEST_F(MoveQueueRunTest, AFrameChangeAddressesTheLayerByPositionNotByName) {
    const qvObjectId anim = MakeAnim(3, 3);
    AnimLayer(anim, 0, 0);
    AnimLayer(anim, 20, 0);
    // Names are unique within the output picture; two alike come only from elsewhere.
    scene.current = false;
    ASSERT_EQ(SetLayerNameString(At(1), "twin"), 0);
    ASSERT_EQ(SetLayerNameString(At(2), "twin"), 0);
    scene.current = true;
    ASSERT_EQ(Call("NextFrame", {Num(2)}).code, 0);
    EXPECT_EQ(FrameOf(1), 0);
    EXPECT_EQ(FrameOf(2), 1);
    Call("AddMove", {Num(1), Num(34), Num(2), Num(30), Num(10), Num(3)});
    ASSERT_EQ(Call("DoMove", {Num(1)}).code, 0);
    EXPECT_EQ(FrameOf(1), 0);
    EXPECT_EQ(FrameOf(2), 2);
    ExpectWindowRecomposed();
}

// Each frame change rebuilds the layer record; the walks must never touch the old one (ASan).
TEST_F(MoveQueueRunTest, FrameEntriesFetchTheRebuiltLayersAgain) {
    const qvObjectId anim = MakeAnim(3, 3), other = MakeAnim(4, 2);
    AnimLayer(anim, 0, 0);
    AnimLayer(other, 10, 10);
    AnimLayer(anim, 20, 0, 1);
    AnimLayer(anim, 40, 30, 1)->hidden = 1;
    Call("AddMove", {Num(1), Num(34), Num(2), Num(12), Num(12), Num(0)});      // NEXTFRAME2
    Call("AddMove", {Num(1), Num(29), Num(3), Num(100000), Num(30), Num(0)});  // both of anim 3
    Call("AddMove", {Num(1), Num(22), Num(1), Num(2), Num(2)});
    ASSERT_EQ(Call("DoMove", {Num(1)}).code, 0);
    ASSERT_EQ(CountLayers(scene.picture), 4);
    EXPECT_EQ(FrameOf(1), 1);
    EXPECT_EQ(FrameOf(2), 1);
    EXPECT_EQ(FrameOf(3), 2);
    EXPECT_EQ(FrameOf(4), 2);
    EXPECT_EQ(At(4)->hidden, 0);
    EXPECT_EQ(At(1)->sourceItem->x, 2);
    EXPECT_EQ(At(2)->sourceItem->x, 12);
    EXPECT_EQ(At(3)->sourceItem->y, 30);
    EXPECT_EQ(At(4)->sourceItem->x, 40);
    ExpectWindowRecomposed();

    Stack(1);
    Call("AddMove", {Num(3), Num(34), Num(CountLayers(scene.picture))});
    EXPECT_EQ(Call("DoMove", {Num(3)}).code, ERR_WRONGUSAGE);  // not an anim layer
}

}  // namespace
}  // namespace qv::testing
