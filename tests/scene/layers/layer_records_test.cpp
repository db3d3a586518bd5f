// The item records (their copies and their release), where layers find the planes of what
// they show, the collection of orphans, and the answers the layers give the graphics
// library and the option tables.
#include <cstring>

#include "objects/brush.h"
#include "objects/object_neighbours.h"
#include "objects/scene_hooks.h"
#include "platform/linux/memory.h"
#include "runtime/option_tables.h"
#include "scene/scene_neighbours.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

class LayerRecords : public LayerFixture {};

TEST_F(LayerRecords, CopiesKeepTheParametersAndNoImages) {
    OwnedPlanes planes = MakePlanes(Solid(4, 4, 0xF80000));
    qvClipRegion region{};
    auto* item = NewBlock<qvImageItem>();
    item->image.bitmap = planes.bitmap.release();
    item->clipRegion = &region;
    item->x = 3, item->drawWidth = 9, item->partX = 5, item->partY = 6;
    qvLayerItem* copy = item->Copy();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->image.bitmap, nullptr);
    EXPECT_EQ(copy->clipRegion, nullptr);
    EXPECT_EQ(copy->x, 3);
    EXPECT_EQ(copy->drawWidth, 9);
    // A copy renders the part at its own origin.
    const auto* part = dynamic_cast<const qvImageItem*>(copy);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(part->partX, 0);
    FreeLayerItem(copy);
    auto* anim = NewBlock<qvAnimItem>();
    anim->frame = 4, anim->frameCount = 9;
    qvLayerItem* animCopy = CopyShapeRecord(anim);
    EXPECT_EQ(dynamic_cast<qvAnimItem*>(animCopy)->frame, 4);
    FreeLayerItem(animCopy);
    FreeLayerItem(anim);
    FreeLayerItem(item);  // its bitmap with it, not the region it does not own
}

TEST_F(LayerRecords, TextRenderCopiesOwnTheirTextAndTables) {
    auto* render = NewBlock<qvTextRender>();
    render->text = static_cast<char*>(AllocMemBlock(6, 0));
    std::memcpy(render->text, "hello", 6);
    render->wordBreakCount = 2;
    render->wordBreaks = static_cast<int32_t*>(AllocMemBlock(3 * sizeof(int32_t), 1));
    render->wordBreaks[0] = 1, render->wordBreaks[1] = 3;
    render->tabResultCount = 1;
    render->tabResults = static_cast<int32_t*>(AllocMemBlock(sizeof(int32_t), 0));
    render->tabResults[0] = -1;
    render->cursorX = 17;
    render->image.bitmap = AllocDisplayBitMap(2, 2);
    qvTextRender* copy = NewTextRenderRecord(render);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->text, render->text);
    EXPECT_STREQ(copy->text, "hello");
    EXPECT_NE(copy->wordBreaks, render->wordBreaks);
    EXPECT_EQ(copy->wordBreaks[1], 3);
    EXPECT_EQ(copy->tabResults[0], -1);
    EXPECT_EQ(copy->cursorX, 17);
    EXPECT_EQ(copy->image.bitmap, nullptr);
    FreeTextRender(copy);
    // Any allocation that fails leaves nothing behind.
    for (uint64_t n = 1; n <= 4; ++n) {
        const size_t blocks = GetMemoryStats().liveBlocks;
        AllocationFault fault(n, false);
        EXPECT_EQ(NewTextRenderRecord(render), nullptr) << n;
        EXPECT_EQ(GetMemoryStats().liveBlocks, blocks) << n;
    }
    FreeTextRender(render);
}

TEST_F(LayerRecords, EachDistinctItemIsFreedOnce) {
    qvLayer* layer = scene.AddLayer(L, Solid(4, 4, 0xF80000), 0, 0);
    layer->displayItem = layer->sourceItem->Copy();
    layer->displayItem->filtered.bitmap = AllocDisplayBitMap(4, 4);
    FreeLayerGeometryBitmaps(layer);
    EXPECT_EQ(layer->displayItem->filtered.bitmap, nullptr);
    EXPECT_NE(layer->sourceItem->image.bitmap, nullptr);
    const auto items = scene::DistinctItems(layer);
    EXPECT_EQ(items[0], layer->sourceItem);
    EXPECT_EQ(items[1], nullptr);
    EXPECT_EQ(items[2], layer->displayItem);
    // Freed with the list: the shared source and picture item once, the display item once.
    FreeLayerList(L, scene.picture);
    EXPECT_EQ(CountLayers(scene.picture), 0);
}

TEST_F(LayerRecords, LayersFindThePlanesOfWhatTheyShow) {
    objects::SceneHooks brushes;
    scene::SetObjectHooks(&brushes);
    qvBrush* brush = nullptr;
    ASSERT_EQ(CreateBrushBitmaps({2, nullptr}, 4, 4, 0, true, false, false, false, &brush), 0);
    qvLayer* brushLayer = scene.AddBrushPart(L, 2, 0, 0, 0, 0, 4, 4);
    qvLayer* own = scene.AddLayer(L, Solid(4, 4, 0), 0, 0);
    qvPlaneBitMap **mask = nullptr, **alpha = nullptr;
    GetLayerMaskAlphaSlots(brushLayer, 0, &mask, &alpha);
    EXPECT_EQ(mask, &brush->mask);
    EXPECT_EQ(alpha, &brush->alpha);
    GetLayerMaskAlphaSlots(own, 0, &mask, &alpha);  // a brush layer of no brush
    EXPECT_EQ(mask, nullptr);
    own->type = gfx::kTypeBGPicPart;  // a picture part holding its own snapshot
    GetLayerMaskAlphaSlots(own, 0, &mask, &alpha);
    EXPECT_EQ(mask, &own->sourceItem->image.mask);
    own->type = gfx::kTypeBox;
    GetLayerMaskAlphaSlots(own, 0, &mask, &alpha);
    EXPECT_EQ(alpha, nullptr);
    FreeAllBrushes(L);
    scene::SetObjectHooks(nullptr);
}

TEST_F(LayerRecords, ABrushAboutToChangeLeavesItsLayersAPrivateCopy) {
    objects::SceneHooks brushes;
    scene::SetObjectHooks(&brushes);
    objects::ObjectNeighbours neighbours;
    gfx::SetNeighbours(&neighbours);
    const qvObjectId id{2, nullptr};
    qvBrush* brush = nullptr;
    ASSERT_EQ(CreateBrushBitmaps(id, 4, 4, 0xFF0000, false, false, false, false, &brush), 0);
    qvLayer* layer = scene.AddBrushPart(L, 2, 0, 0, 0, 0, 4, 4);
    ASSERT_NE(layer, nullptr);
    const std::vector<uint32_t> before = Shown();

    qvBrush* changed = nullptr;
    ASSERT_EQ(GetBrush(L, id, &changed, QV_BRUSH_MODIFY), 0);
    EXPECT_EQ(changed, brush);
    EXPECT_EQ(layer->objectId.number, 0u);
    ASSERT_NE(layer->objectId.handle, nullptr);
    EXPECT_NE(layer->objectId.handle, brush);
    PlotPixel(brush->bitmap, 0, 0, 0x0000FF);
    EXPECT_EQ(Shown(), before);
    // The layer shows the copy now: a second change copies nothing.
    const void* copy = layer->objectId.handle;
    ASSERT_EQ(GetBrush(L, id, &changed, QV_BRUSH_MODIFY), 0);
    EXPECT_EQ(layer->objectId.handle, copy);
    gfx::SetNeighbours(nullptr);
    FreeAllBrushes(L);
    scene::SetObjectHooks(nullptr);
}

TEST_F(LayerRecords, OrphansOfTheKindsAskedForAreCollected) {
    const struct {
        int flags;
        int brushCollections;
    } cases[] = {{0, 0}, {QV_CACHE_ANIMS | QV_CACHE_BGPICS, 0}, {QV_CACHE_BRUSHES, 1}};
    for (const auto& c : cases) {
        objects.brushCollections = 0;
        FreeUnusedCaches(L, c.flags);
        EXPECT_EQ(objects.brushCollections, c.brushCollections) << c.flags;
    }
    objects.brushCollections = 0;
    scene.AddLayer(L, Solid(2, 2, 0), 0, 0);
    FreeLayerList(L, scene.picture, true);
    EXPECT_EQ(objects.brushCollections, 1);
}

TEST_F(LayerRecords, TheGraphicsLibraryAndOptionTablesSeeTheOutputPicturesLayers) {
    scene::SceneNeighbours neighbours;
    gfx::Neighbours& asked = neighbours;
    qvLayer* first = scene.AddLayer(L, Solid(4, 4, 0xF80000), 1, 2);
    scene.AddLayer(L, Solid(4, 4, 0x00FC00), 10, 10);
    SetLayerNameString(first, "first");
    EXPECT_EQ(asked.CountLayers(), 2);
    EXPECT_EQ(asked.CountLayersOnScreen(), 2);
    EXPECT_EQ(asked.CountAllLayers(), 2);
    int32_t found = 0, fromTable = 0;
    Define("asklayer", [&](qvVmState* L) {
        found = asked.FindLayerArg(L, 1);
        return 0;
    });
    Define("tablelayer", [&](qvVmState* L) {
        GetTableFieldLayer(L, 1, "layer", &fromTable, nullptr);
        return 0;
    });
    EXPECT_EQ(Call("asklayer", {Str("FIRST")}).code, 0);
    EXPECT_EQ(found, 1);
    ASSERT_EQ(InitLayerLists(), 0);
    EXPECT_EQ(Call("tablelayer", {Table({{Str("layer"), Str("First")}})}).code, 0);
    EXPECT_EQ(fromTable, 1);
    FreeLayerLists(L);
    EXPECT_EQ(Call("tablelayer", {Table({{Str("layer"), Str("First")}})}).code, ERR_FINDLAYER);
    // An object's layers go to the display's dirty list.
    first->objectId = {8, nullptr};
    qvObjectHeader object{gfx::kTypeBrush, 8, nullptr, nullptr, nullptr};
    asked.AddLayerBoundsToRectList(L, scene.Display(), &object);
    ASSERT_EQ(scene.dirty.count, 1);
    EXPECT_EQ(scene.dirty.rects[0].x1, 1);
    EXPECT_EQ(scene.dirty.rects[0].y2, 5);
    scene.current = false;  // no display: no output picture
    EXPECT_EQ(asked.CountLayers(), 0);
    EXPECT_EQ(asked.CountAllLayers(), 2) << "every picture's layers";
}

}  // namespace
}  // namespace qv::testing
