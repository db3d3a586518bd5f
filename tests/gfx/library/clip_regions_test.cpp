// Clip regions: boxes and brush masks with resolved positions, the active region and its
// span, orphans that layers keep, the lookup flags, the mask clipping and transformed copies.
#include <deque>

#include "gfx/library/async_draw.h"
#include "gfx/library/clip_regions.h"
#include "platform/linux/memory.h"
#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

class ClipRegions : public GraphicsLib {
protected:
    qvClipRegion* Region(qvObjectId id, int flags = 0) {
        qvClipRegion* region = nullptr;
        FindClipRegion(L, id, &region, flags);
        return region;
    }
    CallResult Box(const Arg& id, double x, double y, double w, double h) {
        return Call("CreateClipRegion", {id, Num(14), Num(x), Num(y), Num(w), Num(h)});
    }
};

TEST_F(ClipRegions, BoxesResolvePositionsAgainstThePicture) {
    ASSERT_EQ(Box(Num(1), -100000, -100000, 100, 50).code, 0);
    const qvClipRegion* r = Region({1, nullptr});
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->x, 270);
    EXPECT_EQ(r->y, 215);
    EXPECT_EQ(r->width, 100);
    EXPECT_EQ(r->height, 50);
    EXPECT_EQ(r->mask, nullptr);

    CallResult automatic = Box(Nil(), -80000, 5, 40, 10);  // RIGHT
    ASSERT_EQ(automatic.code, 0);
    ASSERT_EQ(automatic.results.size(), 1u);
    const void* handle = automatic.results[0].pointer;
    const qvClipRegion* a = Region({0, const_cast<void*>(handle)});
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->x, 600);
    EXPECT_EQ(Call("CreateClipRegion", {Num(2), Num(99)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("GetAttribute", {Num(35), Num(1), Num(7)}).Number(), 270);
    EXPECT_EQ(Call("GetAttribute", {Num(35), Num(1), Num(1)}).Number(), 50);
}

TEST_F(ClipRegions, MaskRegionsCopyTheBrushMask) {
    scene.AddBrush(1, 20, 10, 0xFF0000, false);
    scene.AddBrush(2, 20, 10, 0xFF0000, true);
    EXPECT_EQ(Call("CreateClipRegion", {Num(1), Num(28), Num(1), Num(0), Num(0)}).code,
              ERR_NOMASKBRUSH);
    CallResult missing = Call("CreateClipRegion", {Num(1), Num(28), Num(7), Num(0), Num(0)});
    EXPECT_EQ(missing.code, ERR_FINDBRUSH);
    EXPECT_EQ(missing.errorNumber, 7u);
    ASSERT_EQ(Call("CreateClipRegion", {Num(1), Num(28), Num(2), Num(3), Num(4)}).code, 0);
    const qvClipRegion* r = Region({1, nullptr});
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->mask, nullptr);
    EXPECT_NE(r->mask, scene.brushes[2].mask) << "the region owns a copy";
    EXPECT_EQ(r->maskBytesPerRow, r->mask->bytesPerRow);
    EXPECT_EQ(ReadBitMapPixel(r->mask, 9, 5), 1u);
    EXPECT_EQ(ReadBitMapPixel(r->mask, 10, 5), 0u);

    // Positions far beyond the left and top edge cut the whole mask away.
    ASSERT_EQ(
        Call("CreateClipRegion", {Num(2), Num(28), Num(2), Num(-2147483648.0), Num(-2147483648.0)})
            .code,
        0);
    const qvClipRegion* gone = Region({2, nullptr});
    ASSERT_NE(gone, nullptr);
    EXPECT_EQ(gone->x, 0);
    EXPECT_EQ(gone->y, 0);
    EXPECT_EQ(gone->width, 0);
    EXPECT_EQ(gone->height, 0);
}

TEST_F(ClipRegions, TheActiveRegionSetsTheSpanAndNilRestoresIt) {
    ASSERT_EQ(Box(Num(1), 10, 20, 100, 50).code, 0);
    ASSERT_EQ(Box(Num(2), 600, 0, 41, 10).code, 0);
    ASSERT_EQ(Call("SetClipRegion", {Num(1)}).code, 0);
    EXPECT_EQ(scene.active, Region({1, nullptr}));
    EXPECT_EQ(scene.span, std::make_pair(10, 109));
    EXPECT_EQ(Call("SetClipRegion", {Num(2)}).code, ERR_WRONGCLIPREG) << "beyond the picture";
    EXPECT_EQ(Call("SetClipRegion", {Num(3)}).code, ERR_FINDCLIPREGION);
    // A box far to the left with a negative width: its span ends saturated, not wrapped.
    ASSERT_EQ(Box(Num(3), -2147483648.0, 0, -2147483648.0, 10).code, 0);
    ASSERT_EQ(Call("SetClipRegion", {Num(3)}).code, 0);
    EXPECT_EQ(scene.span, std::make_pair(INT32_MIN, INT32_MIN));
    ASSERT_EQ(Call("SetClipRegion", {Num(1)}).code, 0);
    for (int32_t output : {gfx::kTargetMask, gfx::kTargetAlphaChannel}) {
        scene.view.outputType = output;
        EXPECT_EQ(Call("SetClipRegion", {Num(1)}).code, ERR_WRONGUSAGE);
        EXPECT_EQ(Call("SetClipRegion", {Nil()}).code, ERR_WRONGUSAGE);
    }
    scene.view.outputType = gfx::kTargetDisplay;
    ASSERT_EQ(Call("SetClipRegion", {Nil()}).code, 0);
    EXPECT_EQ(scene.active, nullptr);
    EXPECT_EQ(scene.span, std::make_pair(0, 639));

    ASSERT_EQ(Call("SetClipRegion", {Num(1)}).code, 0);
    ASSERT_EQ(Call("FreeClipRegion", {Num(1)}).code, 0);
    EXPECT_EQ(scene.active, nullptr) << "freeing the active region clears it";
    EXPECT_EQ(scene.span, std::make_pair(0, 639));
}

TEST_F(ClipRegions, ARegionLayersStillUseStaysAsAnOrphan) {
    ASSERT_EQ(Box(Num(1), 0, 0, 10, 10).code, 0);
    qvClipRegion* r = Region({1, nullptr});
    scene.layerUsers.insert(r);
    ASSERT_EQ(Call("FreeClipRegion", {Num(1)}).code, 0);
    EXPECT_EQ(Region({1, nullptr}), nullptr);
    EXPECT_EQ(Call("FreeClipRegion", {Num(1)}).code, ERR_FINDCLIPREGION);
    EXPECT_EQ(r->orphan, 1);
    EXPECT_EQ(Region({0, r}), nullptr) << "orphans are skipped";
    EXPECT_EQ(Region({0, r}, QV_CLIP_ORPHANS), r) << "the layers still reach it";

    FreeUnusedClipRegions(L);
    EXPECT_EQ(Region({0, r}, QV_CLIP_ORPHANS), r) << "still used";
    scene.layerUsers.clear();
    FreeUnusedClipRegions(L);
    EXPECT_EQ(Call("GetAttribute", {Num(35), Nil(), Num(60)}).Number(), 0);
}

TEST_F(ClipRegions, MakingARegionOverAnIdFreesTheOldOne) {
    ASSERT_EQ(Box(Num(1), 0, 0, 10, 10).code, 0);
    qvClipRegion* old = Region({1, nullptr});
    scene.layerUsers.insert(old);
    ASSERT_EQ(Box(Num(1), 5, 5, 20, 20).code, 0);
    EXPECT_EQ(Region({1, nullptr})->width, 20);
    EXPECT_EQ(old->orphan, 1) << "a layer keeps the old one";
    EXPECT_EQ(Call("GetAttribute", {Num(35), Nil(), Num(60)}).Number(), 2);
    ASSERT_EQ(Box(Num(1), 0, 0, 30, 30).code, 0);
    EXPECT_EQ(Call("GetAttribute", {Num(35), Nil(), Num(60)}).Number(), 2) << "freed at once";
}

intptr_t DrawsTheRegion(int32_t message, void* argument, void* region) {
    if (message == 6) *static_cast<void**>(argument) = region;
    return 0;
}

TEST_F(ClipRegions, LookupFlags) {
    ASSERT_EQ(Box(Num(1), 0, 0, 10, 10).code, 0);
    qvClipRegion* r = Region({1, nullptr});
    qvClipRegion* found = r;
    EXPECT_EQ(FindClipRegion(L, {0, r}, &found, 0), ERR_FINDARRAY) << "a handle that is no id";
    EXPECT_EQ(found, nullptr);
    ASSERT_EQ(FindClipRegion(L, {1, nullptr}, &found, QV_CLIP_MODIFY), 0);
    EXPECT_EQ(scene.detaches, 1) << "layers get private copies first";
    ASSERT_EQ(FindClipRegion(L, {1, nullptr}, &found, QV_CLIP_MODIFY | QV_CLIP_NODETACH), 0);
    EXPECT_EQ(scene.detaches, 1);

    ASSERT_EQ(AddAsyncDraw(ADF_FX, nullptr, 0, nullptr, nullptr, DrawsTheRegion, r, nullptr), 0);
    EXPECT_EQ(FindClipRegion(L, {1, nullptr}, &found, QV_CLIP_MODIFY), ERR_LOCKEDOBJ);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(Call("FreeClipRegion", {Num(1)}).code, ERR_LOCKEDOBJ);
    ASSERT_EQ(FindClipRegion(L, {1, nullptr}, &found, 0), 0) << "reading is allowed";
    FreeAsyncDraws(L);
}

TEST_F(ClipRegions, NegativePositionsOfAMaskAreCutAway) {
    qvClipRegion region{};
    region.x = -3;
    region.y = -2;
    region.width = 10;
    region.height = 8;
    qvPlaneBitMap* mask = AllocMaskBitMap(nullptr, 10, 8, 1);
    PlotPixel(mask, 3, 2, 0);  // the new corner
    PlotPixel(mask, 9, 7, 0);
    PlotPixel(mask, 1, 1, 0);  // cut away
    ASSERT_EQ(ClipRegionMask(&region, mask, false, true), 0);
    EXPECT_EQ(region.x, 0);
    EXPECT_EQ(region.y, 0);
    EXPECT_EQ(region.width, 7);
    EXPECT_EQ(region.height, 6);
    int bits = 0;
    for (int32_t y = 0; y < 6; ++y) {
        for (int32_t x = 0; x < 7; ++x) bits += ReadBitMapPixel(region.mask, x, y);
    }
    EXPECT_EQ(bits, 2);
    EXPECT_EQ(ReadBitMapPixel(region.mask, 0, 0), 1u);
    EXPECT_EQ(ReadBitMapPixel(region.mask, 6, 5), 1u);
    ReleaseItemResources(L, &region);

    // Without a move the mask is kept, or copied when asked.
    qvClipRegion kept{};
    kept.width = kept.height = 4;
    qvPlaneBitMap* own = AllocMaskBitMap(nullptr, 4, 4, 1);
    ASSERT_EQ(ClipRegionMask(&kept, own, false, true), 0);
    EXPECT_EQ(kept.mask, own);
    qvClipRegion copied{};
    copied.width = copied.height = 4;
    ASSERT_EQ(ClipRegionMask(&copied, own, true, false), 0);
    EXPECT_NE(copied.mask, own);
    ReleaseItemResources(L, &kept);
    ReleaseItemResources(L, &copied);
}

TEST_F(ClipRegions, ScaledBoxesAndFailures) {
    ASSERT_EQ(Box(Num(1), 10, 20, 30, 41).code, 0);
    const qvClipRegion* r = Region({1, nullptr});
    const double scale[4] = {2, 0, 0, 0.5};
    qvClipRegion* copy = TransformClipRegion(L, r, scale, 0.5, 0.5);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->x, 20);
    EXPECT_EQ(copy->width, 60);
    EXPECT_EQ(copy->y, 10);
    EXPECT_EQ(copy->height, 20);
    EXPECT_EQ(copy->orphan, 1) << "marked as a derived copy";
    EXPECT_EQ(copy->header.id, 0u);
    ReleaseItemResources(L, copy);
    FreeMemBlock(copy);

    const double turn[4] = {0, 1, -1, 0};
    for (uint64_t n = 1; n <= 3; ++n) {
        AllocationFault fault(n, false);
        EXPECT_EQ(TransformClipRegion(L, r, turn, 0.5, 0.5), nullptr) << "allocation " << n;
    }
    scene.AddBrush(2, 8, 8, 0, true);
    ASSERT_EQ(Call("CreateClipRegion", {Num(3), Num(28), Num(2), Num(0), Num(0)}).code, 0);
    EXPECT_EQ(TransformClipRegion(L, Region({3, nullptr}), turn, 0.5, 0.5), nullptr)
        << "the object code that transforms masks is not there";
}

TEST_F(ClipRegions, ShutdownClearsEveryRegionFromTheLayers) {
    ASSERT_EQ(Box(Num(1), 0, 0, 10, 10).code, 0);
    ASSERT_EQ(Box(Num(2), 0, 0, 10, 10).code, 0);
    FreeGraphicsObjects(L);
    EXPECT_EQ(scene.clearedFromLayers.size(), 2u);
    EXPECT_EQ(Call("GetAttribute", {Num(35), Nil(), Num(60)}).Number(), 0);
}

TEST_F(ClipRegions, CreatingWithoutMemoryLeavesNothing) {
    scene.AddBrush(2, 8, 8, 0, true);
    for (uint64_t n = 1; n <= 2; ++n) {
        AllocationFault fault(n, false);
        EXPECT_EQ(Call("CreateClipRegion", {Num(1), Num(28), Num(2), Num(0), Num(0)}).code,
                  ERR_MEM);
    }
    EXPECT_EQ(Call("GetAttribute", {Num(35), Nil(), Num(60)}).Number(), 0);
}

}  // namespace
}  // namespace qv::testing
