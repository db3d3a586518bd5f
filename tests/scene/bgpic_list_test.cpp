// The picture list: ids, replacement, lookups and their errors, locks, copy-on-write for the
// layers that show a picture, orphans and their collection, and the layer and sprite walks
// that the other object libraries ask.
#include <array>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/exports.h"
#include "tests/scene/scene_fixture.h"

namespace qv::testing {
namespace {

using gfx::kTypeAnim;
using gfx::kTypeBGPic;
using gfx::kTypeBGPicPart;
using gfx::kTypeBrush;
using gfx::kTypeBrushPart;
using gfx::kTypeClipRegion;
using gfx::kTypeNoObject;

std::string ErrorText(int code) {
    char text[1024];
    FormatErrorMessage(code, text, sizeof text);
    return text;
}

qvObjectId IdOf(const qvBGPic* picture) {
    return {picture->header.id, picture->header.handle};
}

class BGPicList : public SceneFixture {};

// The registration order is what the command list shows.
TEST_F(BGPicList, TheCommandTableKeepsThePublishedOrder) {
    const std::vector<std::string> published = {
        "DisplayBGPic",        "DisplayBGPicPart",   "ScaleBGPic",
        "CreateGradientBGPic", "CreateRainbowBGPic", "CreateTexturedBGPic",
        "BrushToBGPic",        "BGPicToBrush",       "CreateBGPic",
        "FreeBGPic",           "LoadBGPic",          "SelectBGPic",
        "EndSelect",           "CopyBGPic"};
    std::vector<std::string> rows;
    for (const CommandTable& table : RegisteredCommandTables()) {
        if (std::strcmp(table.libraryName, "bgpic") != 0) continue;
        for (const qvCommandEntry* row = table.rows; row->name != nullptr; ++row) {
            rows.push_back(row->name);
        }
    }
    EXPECT_EQ(rows, published);
}

TEST_F(BGPicList, NilIdGivesAHandleThatOnlyFindsItsPicture) {
    CallResult made = Call("CreateBGPic", {Nil(), Num(4), Num(3)});
    ASSERT_EQ(made.code, 0);
    ASSERT_EQ(made.results.size(), 1u);
    ASSERT_EQ(made.results[0].type, VM_TLIGHTUSERDATA);
    void* handle = const_cast<void*>(made.results[0].pointer);
    EXPECT_EQ(Find(qvObjectId{0, handle}), handle);
    EXPECT_EQ(Find(0u), nullptr);
    // A numeric id 0 is a picture of its own.
    EXPECT_TRUE(Call("CreateBGPic", {Num(0), Num(2), Num(2)}).results.empty());
    qvBGPic* zero = Find(0u);
    ASSERT_NE(zero, nullptr);
    EXPECT_NE(zero, handle);
    EXPECT_EQ(Find(qvObjectId{0, handle}), handle);
    EXPECT_EQ(PictureCount(), 2u);
}

TEST_F(BGPicList, ANumericIdInUseIsReplaced) {
    Create(5, 4, 3, 0xFF0000);
    qvBGPic* second = Create(5, 6, 2, 0x0000FF);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(PictureCount(), 1u);
    EXPECT_EQ(second->width, 6);
    EXPECT_EQ(Pixels(second->shown.bitmap), std::vector<uint32_t>(12, Stored(0x0000FF)));
}

TEST_F(BGPicList, MissingPicturesAreReportedByIdOrHandle) {
    int marker = 0;
    const struct {
        const char* command;
        std::vector<Arg> args;
        int code;
    } cases[] = {
        {"FreeBGPic", {Num(7)}, ERR_FINDBGPIC},
        {"FreeBGPic", {LightUserdata(&marker)}, ERR_FINDARRAY},
        {"ScaleBGPic", {Num(7), Num(2), Num(2)}, ERR_FINDBGPIC},
        {"CopyBGPic", {Num(7), Num(8)}, ERR_FINDBGPIC},
        {"CopyBGPic", {LightUserdata(&marker), Nil()}, ERR_FINDARRAY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Call(c.command, c.args).code, c.code);
        if (c.code == ERR_FINDBGPIC) {
            EXPECT_EQ(ErrorText(c.code), "Could not find BGPic 7!");
        }
    }
    EXPECT_EQ(ErrorText(ERR_FINDARRAY), "Requested object not found!");
}

TEST_F(BGPicList, ALockedPictureRefusesChangeFreeingAndReplacement) {
    qvBGPic* locked = Create(5, 4, 3, 0x123456);
    Create(1, 2, 2, 0);
    locked->locked = 1;
    const std::vector<std::pair<const char*, std::vector<Arg>>> calls = {
        {"ScaleBGPic", {Num(5), Num(8), Num(8)}},
        {"FreeBGPic", {Num(5)}},
        {"CreateBGPic", {Num(5), Num(9), Num(9)}},
        {"CopyBGPic", {Num(1), Num(5)}},
        {"CreateGradientBGPic", {Num(5), Num(2), Num(0), Num(0xFFFFFF), Num(8), Num(8)}},
        {"LoadBGPic", {Num(5), Str("nothing.png")}},
    };
    for (const auto& [command, args] : calls) {
        SCOPED_TRACE(command);
        EXPECT_EQ(Call(command, args).code, ERR_LOCKEDOBJ);
        EXPECT_EQ(Find(5u), locked);
        EXPECT_EQ(locked->width, 4);
        EXPECT_EQ(PictureCount(), 2u);
    }
    // Refused before anything was loaded.
    EXPECT_EQ(DebugText(), "");
}

TEST_F(BGPicList, ThePictureDrawnIntoAndShownPicturesRefuseTheirChanges) {
    Create(5, 4, 3, 0);
    displays.drawingInto = qvObjectId{5, nullptr};
    EXPECT_EQ(Call("FreeBGPic", {Num(5)}).code, ERR_MODIFYABGPIC);
    EXPECT_EQ(Call("CreateBGPic", {Num(5), Num(2), Num(2)}).code, ERR_MODIFYABGPIC);
    EXPECT_EQ(Call("ScaleBGPic", {Num(5), Num(2), Num(2)}).code, ERR_MODIFYABGPIC);
    displays.drawingInto.reset();
    displays.shown = {Find(5u)};
    EXPECT_EQ(Call("ScaleBGPic", {Num(5), Num(2), Num(2)}).code, ERR_SCALEBGPIC);
    EXPECT_EQ(Find(5u)->width, 4);
}

TEST_F(BGPicList, AFreedPictureThatALayerShowsIsAnOrphanTheLayerStillReaches) {
    qvBGPic* shown = Create(3, 4, 2, 0x00FF00);
    qvLayer* layer = ShowPart(Create(1, 8, 8, 0), shown);
    ASSERT_EQ(Call("FreeBGPic", {Num(3)}).code, 0);
    qvBGPic* found = nullptr;
    EXPECT_EQ(GetBGPic(L, {3, nullptr}, &found, 0), ERR_FINDBGPIC);
    EXPECT_EQ(GetBGPic(L, {0, shown}, &found, 0), ERR_FINDARRAY);
    EXPECT_EQ(layer->objectId.number, 0u);
    EXPECT_EQ(layer->objectId.handle, shown);
    ASSERT_EQ(GetBGPic(L, layer->objectId, &found, QV_BGPIC_ORPHANS), 0);
    EXPECT_EQ(found, shown);
    EXPECT_EQ(shown->orphan, 1);
    EXPECT_EQ(Pixels(shown->shown.bitmap), std::vector<uint32_t>(8, Stored(0x00FF00)));
    // A new picture may take the id.
    EXPECT_NE(Create(3, 1, 1, 0), shown);
}

TEST_F(BGPicList, ChangingAShownPictureLeavesTheLayerOnTheOldPixels) {
    qvBGPic* picture = Create(3, 4, 2, 0xFF00FF);
    qvLayer* layer = ShowPart(Create(1, 8, 8, 0), picture);
    // An unchanged size changes nothing and copies nothing.
    ASSERT_EQ(Call("ScaleBGPic", {Num(3), Num(4), Num(2)}).code, 0);
    EXPECT_EQ(PictureCount(), 2u);
    ASSERT_EQ(Call("ScaleBGPic", {Num(3), Num(8), Num(6)}).code, 0);
    EXPECT_EQ(picture->width, 8);
    EXPECT_EQ(layer->objectId.number, 0u);
    qvBGPic* copy = Find(layer->objectId);
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy, picture);
    EXPECT_EQ(copy->orphan, 1);
    EXPECT_EQ(copy->width, 4);
    EXPECT_EQ(Pixels(copy->shown.bitmap), std::vector<uint32_t>(8, Stored(0xFF00FF)));
    // Nothing shows the original any more: a second change copies nothing.
    ASSERT_EQ(Call("ScaleBGPic", {Num(3), Num(2), Num(2)}).code, 0);
    EXPECT_EQ(PictureCount(), 3u);
}

TEST_F(BGPicList, AFailedCopyForTheLayersChangesNothing) {
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        FreeAllBGPics(L);
        qvBGPic* picture = Create(3, 4, 2, 0xFF00FF);
        qvLayer* layer = ShowPart(Create(1, 8, 8, 0), picture);
        CallResult result;
        {
            AllocationFault fault(n, false);
            result = Call("ScaleBGPic", {Num(3), Num(8), Num(6)});
        }
        if (result.code == 0) break;
        ASSERT_EQ(result.code, ERR_MEM);
        EXPECT_EQ(picture->width, 4);
        EXPECT_EQ(Pixels(picture->shown.bitmap), std::vector<uint32_t>(8, Stored(0xFF00FF)));
        // The layer shows the picture, or a complete copy of it.
        const qvBGPic* shown = Find(layer->objectId);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(Pixels(shown->shown.bitmap), std::vector<uint32_t>(8, Stored(0xFF00FF)));
        EXPECT_EQ(PictureCount(), shown == picture ? 2u : 3u);
    }
}

TEST_F(BGPicList, TheCurrentDisplaysPictureIsCollectedOnceItShowsAnotherOne) {
    qvBGPic* picture = Create(2, 4, 4, 0);
    qvBGPic* other = Create(1, 4, 4, 0);
    qvLayer* layer = ShowPart(other, picture);
    displays.shown = {picture};
    ASSERT_EQ(Call("FreeBGPic", {Num(2)}).code, 0);
    EXPECT_EQ(picture->orphan, 1);
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 2u);
    // The display shows another picture; the layer still shows this one.
    displays.shown = {other};
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 2u);
    RemoveNode(&layer->node);
    FreeMemBlock(layer->sourceItem);
    FreeMemBlock(layer);
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 1u);
    EXPECT_EQ(Find(1u), other);
}

TEST_F(BGPicList, AnOrphanThatAnyDisplayShowsStays) {
    qvBGPic* first = Create(1, 4, 4, 0);
    qvBGPic* second = Create(2, 4, 4, 0);
    displays.shown = {first, second};  // the second display is not the current one
    ASSERT_EQ(Call("FreeBGPic", {Num(2)}).code, 0);
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 2u);
    EXPECT_EQ(second->orphan, 1);
    // Nor is one that drawing goes into collected.
    displays.shown = {first};
    displays.drawingInto = IdOf(second);
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 2u);
    displays.drawingInto.reset();
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 1u);
}

TEST_F(BGPicList, OrphansThatOnlyOtherOrphansShowAreCollectedTogether) {
    qvBGPic* a = Create(1, 2, 2, 0);
    qvBGPic* b = Create(2, 2, 2, 0);
    ShowPart(b, a);  // b's layer shows a
    ShowPart(Create(3, 2, 2, 0), b);
    ASSERT_EQ(Call("FreeBGPic", {Num(1)}).code, 0);
    ASSERT_EQ(Call("FreeBGPic", {Num(2)}).code, 0);
    ASSERT_EQ(Call("FreeBGPic", {Num(3)}).code, 0);
    EXPECT_EQ(PictureCount(), 2u);
    FreeOrphanBGPics(L);
    EXPECT_EQ(PictureCount(), 0u);
}

TEST_F(BGPicList, AMissingPictureIsSilentForInternalCallers) {
    EXPECT_EQ(FreeBGPicById(L, {9, nullptr}, 0), 0);
    EXPECT_EQ(FreeBGPicById(L, {9, nullptr}, 1), ERR_FINDBGPIC);
}

// Which layers show an object: its type, the part type of brushes and pictures, and for all
// but brushes a layer being removed, all with the same id pair.
TEST_F(BGPicList, LayersShowAnObjectByTypeAndIdPair) {
    const struct {
        uint32_t objectType;
        uint32_t layerType;
        uint32_t layerId;
        bool shows;
    } cases[] = {
        {kTypeBrush, kTypeBrush, 4, true},      {kTypeBrush, kTypeBrushPart, 4, true},
        {kTypeBrush, kTypeNoObject, 4, false},  {kTypeBrush, kTypeBGPicPart, 4, false},
        {kTypeBrush, kTypeBrush, 5, false},     {kTypeBGPic, kTypeBGPicPart, 4, true},
        {kTypeBGPic, kTypeNoObject, 4, true},   {kTypeBGPic, kTypeBrushPart, 4, false},
        {kTypeBGPic, kTypeBGPicPart, 5, false}, {kTypeAnim, kTypeAnim, 4, true},
        {kTypeAnim, kTypeNoObject, 4, true},
    };
    qvBGPic* canvas = Create(1, 2, 2, 0);
    int orphan = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.objectType << " on " << c.layerType);
        qvLayer* layer = AddLayer(canvas, c.layerType, {c.layerId, nullptr});
        qvLayer* other = AddLayer(canvas, c.layerType, {c.layerId, nullptr});
        EXPECT_EQ(ObjectInUseByOtherLayers(c.objectType, {4, nullptr}, nullptr, layer), c.shows);
        EXPECT_EQ(ObjectInUseByLayers(c.objectType, {4, nullptr}, &orphan), c.shows);
        const qvObjectId expected =
            c.shows ? qvObjectId{0, &orphan} : qvObjectId{c.layerId, nullptr};
        for (const qvLayer* l : {layer, other}) {
            EXPECT_EQ(l->objectId.number, expected.number);
            EXPECT_EQ(l->objectId.handle, expected.handle);
        }
        EXPECT_FALSE(ObjectInUseByOtherLayers(c.objectType, {4, nullptr}, nullptr, layer));
        FreeLayerList(L, canvas);
    }
}

TEST_F(BGPicList, ClipRegionsAreUsedThroughTheItemsOfLayers) {
    qvBGPic* canvas = Create(1, 2, 2, 0);
    qvClipRegion region{};
    region.header.id = 6;
    qvLayer* layer = AddLayer(canvas, kTypeBrush, {1, nullptr});
    qvLayer* other = AddLayer(canvas, kTypeBrush, {1, nullptr});
    auto* display = NewBlock<qvLayerItem>();
    layer->displayItem = display;  // a separate display item
    display->clipRegion = &region;
    gfx::Neighbours& neighbours = gfx::Neighbour();
    EXPECT_TRUE(neighbours.ObjectInUseByLayers(kTypeClipRegion, &region));
    EXPECT_FALSE(ObjectInUseByOtherLayers(kTypeClipRegion, {6, nullptr}, &region, layer));
    EXPECT_TRUE(ObjectInUseByOtherLayers(kTypeClipRegion, {6, nullptr}, &region, other));
    // Using a region is no showing: nothing was repointed.
    EXPECT_EQ(layer->objectId.number, 1u);
    neighbours.ClearLayerClipRegionRefs(&region);
    EXPECT_EQ(display->clipRegion, nullptr);
    EXPECT_FALSE(neighbours.ObjectInUseByLayers(kTypeClipRegion, &region));
}

TEST_F(BGPicList, LayersOfAllPicturesAreCounted) {
    EXPECT_EQ(CountAllLayers(), 0);
    qvBGPic* a = Create(1, 2, 2, 0);
    qvBGPic* b = Create(2, 2, 2, 0);
    ShowPart(a, b);
    ShowPart(b, a);
    AddLayer(b, kTypeBrush, {1, nullptr});
    EXPECT_EQ(CountAllLayers(), 3);
}

TEST_F(BGPicList, ACopyThatFailsRepointsNoLayer) {
    qvBGPic* canvas = Create(1, 2, 2, 0);
    qvLayer* layer = AddLayer(canvas, kTypeBrush, {4, nullptr});
    void* clone = &clone;
    const auto failing = [](qvVmState*, void*, void**) { return int(ERR_MEM); };
    EXPECT_EQ(DetachObjectFromLayers(L, kTypeBrush, {4, nullptr}, failing, nullptr, &clone),
              ERR_MEM);
    EXPECT_EQ(layer->objectId.number, 4u);
    EXPECT_EQ(clone, &clone);
    static int made = 0;
    const auto cloning = [](qvVmState*, void*, void** handle) {
        *handle = &made;
        return 0;
    };
    EXPECT_EQ(DetachObjectFromLayers(L, kTypeBrush, {5, nullptr}, cloning, nullptr, &clone), 0);
    EXPECT_EQ(clone, &clone);  // nothing shows brush 5
    EXPECT_EQ(DetachObjectFromLayers(L, kTypeBrush, {4, nullptr}, cloning, nullptr, &clone), 0);
    EXPECT_EQ(clone, &made);
    EXPECT_EQ(layer->objectId.handle, &made);
}

TEST_F(BGPicList, RectanglesHitSpritesWhereTheyOverlap) {
    qvBGPic* picture = Create(1, 64, 64, 0);
    qvSpriteInstance sprite{};
    sprite.x = 10, sprite.y = 20, sprite.width = 5, sprite.height = 4;
    picture->sprites = &sprite;
    const struct {
        int32_t x, y, width, height;
        bool hits;
    } cases[] = {
        {10, 20, 1, 1, true},
        {14, 23, 1, 1, true},
        {15, 20, 3, 3, false},
        {5, 20, 5, 4, false},
        {5, 16, 6, 5, true},
        {10, 24, 5, 1, false},
        {0, 0, 64, 64, true},
        {12, 21, 0, 3, false},
        {-2147483647, -2147483647, 2147483647, 2147483647, false},
    };
    std::vector<bool> hits;
    for (const auto& c : cases)
        hits.push_back(RectHitsSprite(picture, c.x, c.y, c.width, c.height));
    picture->sprites = nullptr;
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(hits[i], cases[i].hits) << i;
}

TEST_F(BGPicList, AFreedClipRegionLeavesTheSpritesOfTheShownPicture) {
    qvBGPic* picture = Create(1, 64, 64, 0);
    qvClipRegion region{}, other{};
    std::array<qvSpriteInstance, 3> sprites{};
    sprites[0] = {&sprites[1], {1, nullptr}, 10, 20, 5, 4, 1, nullptr, &region};
    sprites[1] = {&sprites[2], {2, nullptr}, 30, 2, 2, 2, 1, nullptr, &other};
    sprites[2] = {nullptr, {3, nullptr}, 0, 30, 3, 3, 1, nullptr, &region};
    picture->sprites = sprites.data();
    gfx::Neighbour().ClearSpriteClipRegionRefs(L, &region);
    EXPECT_TRUE(displays.refreshed.empty());  // no display shows the picture
    displays.shown = {picture};
    gfx::Neighbour().ClearSpriteClipRegionRefs(L, &region);
    picture->sprites = nullptr;
    EXPECT_EQ(sprites[0].clipRegion, nullptr);
    EXPECT_EQ(sprites[1].clipRegion, &other);
    EXPECT_EQ(sprites[2].clipRegion, nullptr);
    ASSERT_EQ(displays.refreshed.size(), 1u);
    const FakeDisplays::Rect& r = displays.refreshed[0];
    EXPECT_EQ((std::array{r.x, r.y, r.width, r.height}), (std::array{0, 20, 15, 13}));
}

// Every way the scaled and shown parts can share the base's or each other's: freeing the
// scaled and shown sets, then the base set, frees each bitmap once (AddressSanitizer checks).
TEST(FreeScaledBGPicBitmaps, FreesEachSharedPartOnce) {
    for (int pattern = 0; pattern < 216; ++pattern) {
        const size_t live = GetMemoryStats().liveBlocks;
        qvBGPic picture{};
        picture.base = {AllocDisplayBitMap(2, 2), AllocMaskBitMap(nullptr, 2, 2, 1),
                        AllocAlphaBitMap(2, 2, 1)};
        int code = pattern;
        // Scaled parts: the base's or new; shown parts: the base's, the scaled ones' or new.
        const auto scaledFrom = [&code](auto base, auto fresh) {
            const int choice = code % 2;
            code /= 2;
            return choice == 0 ? base : fresh();
        };
        picture.scaled.bitmap =
            scaledFrom(picture.base.bitmap, [] { return AllocDisplayBitMap(2, 2); });
        picture.scaled.mask =
            scaledFrom(picture.base.mask, [] { return AllocMaskBitMap(nullptr, 2, 2, 1); });
        picture.scaled.alpha =
            scaledFrom(picture.base.alpha, [] { return AllocAlphaBitMap(2, 2, 1); });
        const auto shownFrom = [&code](auto base, auto scaled, auto fresh) {
            const int choice = code % 3;
            code /= 3;
            return choice == 0 ? base : choice == 1 ? scaled : fresh();
        };
        picture.shown.bitmap = shownFrom(picture.base.bitmap, picture.scaled.bitmap,
                                         [] { return AllocDisplayBitMap(2, 2); });
        picture.shown.mask = shownFrom(picture.base.mask, picture.scaled.mask,
                                       [] { return AllocMaskBitMap(nullptr, 2, 2, 1); });
        picture.shown.alpha = shownFrom(picture.base.alpha, picture.scaled.alpha,
                                        [] { return AllocAlphaBitMap(2, 2, 1); });
        FreeScaledBGPicBitmaps(&picture);
        FreeDisplayBitMap(picture.base.bitmap);
        FreePlaneBitMap(picture.base.mask);
        FreePlaneBitMap(picture.base.alpha);
        EXPECT_EQ(GetMemoryStats().liveBlocks, live) << pattern;
    }
}

}  // namespace
}  // namespace qv::testing
