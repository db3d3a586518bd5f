// Dirty rectangles and refresh: the merge, the display list's whole-picture state, what is
// repainted for a rectangle, a move, a removal and a geometry change, and lists that cannot
// grow.
#include <cstring>
#include <random>
#include <vector>

#include "platform/linux/memory.h"
#include "tests/scene/layers/layer_fixture.h"

inline bool operator==(const qvRect& a, const qvRect& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

inline std::ostream& operator<<(std::ostream& out, const qvRect& r) {
    return out << "(" << r.x1 << ", " << r.y1 << ")-(" << r.x2 << ", " << r.y2 << ")";
}

namespace qv {

inline bool operator==(const DamageRect& a, const DamageRect& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

inline std::ostream& operator<<(std::ostream& out, const DamageRect& r) {
    return out << "{" << r.x << ", " << r.y << ", " << r.width << " x " << r.height << "}";
}

}  // namespace qv

namespace qv::testing {
namespace {

class DirtyRects : public LayerFixture {
protected:
    ~DirtyRects() override { FreeRectList(&work); }

    // The damage as one bounding box; empty when there was none.
    DamageRect Damage() {
        const std::vector<DamageRect> all = scene.TakeWindowDamage();
        if (all.empty()) return {0, 0, 0, 0};
        int32_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
        for (const DamageRect& r : all) {
            x1 = std::min(x1, r.x), y1 = std::min(y1, r.y);
            x2 = std::max(x2, r.x + r.width), y2 = std::max(y2, r.y + r.height);
        }
        return {x1, y1, x2 - x1, y2 - y1};
    }

    qvRectList work{};
};

TEST_F(DirtyRects, MergeJoinsOverlappingTouchingAndAdjacentRectangles) {
    const qvRect away{kMergedAway, 0, 9, 9};
    const struct {
        const char* what;
        std::vector<qvRect> in, out;
    } cases[] = {
        {"side by side", {{0, 0, 9, 9}, {10, 0, 19, 9}}, {{0, 0, 19, 9}, away}},
        {"one column apart", {{0, 0, 9, 9}, {11, 0, 19, 9}}, {{0, 0, 9, 9}, {11, 0, 19, 9}}},
        {"corners touching",
         {{0, 0, 9, 9}, {10, 10, 19, 19}},
         {{0, 0, 19, 19}, {kMergedAway, 10, 19, 19}}},
        {"overlapping", {{0, 0, 9, 9}, {5, 5, 14, 14}}, {{0, 0, 14, 14}, {kMergedAway, 5, 14, 14}}},
        // A (0-9), B (30-39), C (10-29) in rows 0-9. A's pass meets B first (apart), then C
        // (adjacent): A becomes 0-29 and C is merged away; A is not compared with B again.
        // B's pass meets A (now adjacent): B becomes 0-39 and A is merged away.
        {"order decides",
         {{0, 0, 9, 9}, {30, 0, 39, 9}, {10, 0, 29, 9}},
         {{kMergedAway, 0, 29, 9}, {0, 0, 39, 9}, {kMergedAway, 0, 29, 9}}},
        {"merged away takes no part", {away, {10, 0, 19, 9}}, {away, {10, 0, 19, 9}}},
    };
    for (const auto& c : cases) {
        FreeRectList(&work);
        ASSERT_EQ(InitRectList(&work, 4), 0);
        for (const qvRect& r : c.in) {
            AppendRect(&work, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, false);
            work.rects[work.count - 1] = r;
        }
        MergeDirtyRects(&work);
        ASSERT_EQ(work.count, int32_t(c.out.size())) << c.what;
        for (size_t i = 0; i < c.out.size(); ++i) {
            if (c.out[i].x1 == kMergedAway) {
                EXPECT_EQ(work.rects[i].x1, kMergedAway) << c.what << " " << i;
            } else {
                EXPECT_EQ(work.rects[i], c.out[i]) << c.what << " " << i;
            }
        }
    }
}

// The merge as written, one rectangle's pass after another over every other one in order.
std::vector<qvRect> MergedByScan(std::vector<qvRect> r) {
    for (size_t i = 0; i < r.size(); ++i) {
        for (size_t j = 0; j < r.size(); ++j) {
            qvRect& a = r[i];
            const qvRect& b = r[j];
            if (j == i || a.x1 == kMergedAway || b.x1 == kMergedAway) continue;
            if (int64_t(b.x1) - a.x2 < 2 && int64_t(a.x1) - b.x2 < 2 && int64_t(b.y1) - a.y2 < 2 &&
                int64_t(a.y1) - b.y2 < 2) {
                a = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2),
                     std::max(a.y2, b.y2)};
                r[j].x1 = kMergedAway;
            }
        }
    }
    return r;
}

// Long lists take an indexed road; it must give the same list, entry for entry, whatever the
// density, with entries already merged away, far-off and inverted rectangles among them.
TEST_F(DirtyRects, LongListsMergeExactlyAsTheScanDoes) {
    const struct {
        const char* what;
        int count;
        int32_t area, side;
        bool oddEntries;
    } cases[] = {
        {"sparse", 512, 1920, 64, false},
        {"dense", 300, 200, 40, false},
        {"chains of neighbours", 1024, 4000, 3, false},
        {"odd entries", 200, 500, 30, true},
    };
    for (const auto& c : cases) {
        for (uint32_t seed = 1; seed <= 4; ++seed) {
            std::mt19937 random(seed);
            std::vector<qvRect> rects(size_t(c.count));
            for (qvRect& r : rects) {
                const int32_t x = int32_t(random() % uint32_t(c.area)) - 8;
                const int32_t y = int32_t(random() % uint32_t(c.area / 2)) - 8;
                r = {x, y, x + int32_t(random() % uint32_t(c.side)),
                     y + int32_t(random() % uint32_t(c.side))};
                if (c.oddEntries && random() % 16 == 0) r.x1 = kMergedAway;
                if (c.oddEntries && random() % 32 == 0) r.x2 = INT32_MAX;
            }
            if (c.oddEntries && seed == 4) rects[7] = {50, 50, 40, 60};  // inverted
            FreeRectList(&work);
            ASSERT_EQ(InitRectList(&work, c.count), 0);
            std::copy(rects.begin(), rects.end(), work.rects);
            work.count = c.count;
            MergeDirtyRects(&work);
            const std::vector<qvRect> expected = MergedByScan(rects);
            for (size_t i = 0; i < expected.size(); ++i) {
                ASSERT_EQ(work.rects[i], expected[i]) << c.what << " seed " << seed << " " << i;
            }
        }
    }
}

TEST_F(DirtyRects, WorkListsGrowByBlocks) {
    ASSERT_EQ(InitRectList(&work, kRectListGrowth), 0);
    for (int i = 0; i < kRectListGrowth; ++i) ASSERT_TRUE(AppendRect(&work, i, 0, 1, 1, true));
    EXPECT_FALSE(AppendRect(&work, 0, 0, 1, 1, false));
    ASSERT_TRUE(AppendRect(&work, 7, 8, 2, 3, true));
    EXPECT_EQ(work.capacity, 2 * kRectListGrowth);
    EXPECT_EQ(work.rects[kRectListGrowth], (qvRect{7, 8, 8, 10}));
    EXPECT_EQ(work.rects[5], (qvRect{5, 0, 5, 0}));
}

TEST_F(DirtyRects, TheWholePictureStateStaysUntilAConsumerResetsIt) {
    scene.view.outputType = gfx::kTargetBGPic;
    AddDirtyRect(L, 3, 3, 5, 5);
    EXPECT_EQ(scene.dirty.count, 1);
    AddDirtyRect(L, 0, 0, scene.width, scene.height);
    EXPECT_TRUE(RectListWhole(&scene.dirty));
    // Appends to a whole list are dropped, whichever road they take.
    AddDirtyRect(L, 1, 1, 2, 2);
    RefreshRect(L, 1, 1, 2, 2);
    scene.AddLayer(L, Solid(4, 4, 0xF80000), 1, 1, nullptr, 1);
    EXPECT_TRUE(RectListWhole(&scene.dirty));
    EXPECT_EQ(scene.dirty.capacity, kRectListGrowth);
    ResetRectList(&scene.dirty);
    RefreshRect(L, -5, 40, 10, 20);  // cut to the picture
    ASSERT_EQ(scene.dirty.count, 1);
    EXPECT_EQ(scene.dirty.rects[0], (qvRect{0, 40, 4, 47}));
    RefreshRect(L, 64, 0, 5, 5);  // outside
    EXPECT_EQ(scene.dirty.count, 1);
    EXPECT_EQ(Damage().width, 0);  // recorded, never shown
}

TEST_F(DirtyRects, ARefreshRepaintsThePartInsideThePicture) {
    const struct {
        int32_t target;
        int32_t x, y, width, height;
        DamageRect shown;
    } cases[] = {
        {gfx::kTargetDisplay, -5, -5, 10, 10, {0, 0, 5, 5}},
        {gfx::kTargetDisplay, 60, 40, 10, 10, {60, 40, 4, 8}},
        {gfx::kTargetDisplay, 64, 0, 4, 4, {0, 0, 0, 0}},
        {gfx::kTargetDisplay, -4, 0, 4, 4, {0, 0, 0, 0}},
        {gfx::kTargetBrush, 0, 0, 8, 8, {0, 0, 0, 0}},
        {gfx::kTargetBGPic, 0, 0, 8, 8, {0, 0, 0, 0}},
    };
    scene.AddLayer(L, Solid(64, 48, 0x00FC00), 0, 0);
    for (const auto& c : cases) {
        scene.view.outputType = c.target;
        RefreshRect(L, c.x, c.y, c.width, c.height);
        EXPECT_EQ(Damage(), c.shown) << c.x << "," << c.y << " target " << c.target;
    }
    scene.view.outputType = gfx::kTargetBGPic;
    RefreshDisplayArea(L, 1, 2, 3, 4);  // whatever the output
    EXPECT_EQ(Damage(), (DamageRect{1, 2, 3, 4}));
    EXPECT_EQ(ReadBitMapPixel(scene.window->framebuffer, 1, 2), 0x00FC00u);
}

TEST_F(DirtyRects, MovesRepaintTheOldAndTheNewPlace) {
    qvLayer* layer = scene.AddLayer(L, Solid(4, 4, 0xF80000), 10, 10);
    const struct {
        const char* what;
        int32_t x, y;
        int flags;
        int32_t toX, toY;
        DamageRect shown;
    } cases[] = {
        {"keep x, relative y", KEEPPOSITION, 5, QV_MOVE_RELATIVEY, 10, 15, {10, 10, 4, 9}},
        {"keep both", KEEPPOSITION, KEEPPOSITION, 0, 10, 15, {10, 15, 4, 4}},
        {"absolute", 30, 2, 0, 30, 2, {10, 2, 24, 17}},
        {"relative x", -40, KEEPPOSITION, QV_MOVE_RELATIVEX, -10, 2, {0, 2, 34, 4}},
    };
    for (const auto& c : cases) {
        scene.TakeWindowDamage();
        MoveLayerTo(L, layer, nullptr, c.x, c.y, 0, c.flags, nullptr);
        EXPECT_EQ(layer->sourceItem->x, c.toX) << c.what;
        EXPECT_EQ(layer->sourceItem->y, c.toY) << c.what;
        EXPECT_EQ(layer->displayItem->drawX, c.toX) << c.what;
        EXPECT_EQ(Damage(), c.shown) << c.what;
    }
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
    const qvLayerSize larger{20, 6};
    MoveLayerTo(L, layer, &larger, KEEPPOSITION, KEEPPOSITION, 0, 0, nullptr);
    EXPECT_EQ(Damage(), (DamageRect{0, 2, 10, 6}));
    MoveLayerTo(L, layer, nullptr, 1, 1, 1, 0, nullptr);
    EXPECT_EQ(Damage().width, 0);  // no refresh asked
}

TEST_F(DirtyRects, AnAnchoredLayerMovesItsDrawPositionWithIt) {
    qvDrawTransform transform = kInitialDrawTransform;
    transform.anchorx = 0.5, transform.anchory = 1.0;
    auto* item = NewBlock<qvImageItem>();
    item->x = 20, item->y = 20, item->width = 8, item->height = 6;
    OwnedPlanes planes = MakePlanes(Solid(8, 6, 0x0000F8));
    ASSERT_EQ(AddLayer(L, gfx::kTypeBrush, nullptr, 20, 20, 8, 6, &transform, nullptr,
                       planes.bitmap.release(), nullptr, nullptr, item, -1, 0),
              0);
    EXPECT_EQ(item->drawX, 16);
    EXPECT_EQ(item->drawY, 14);
    qvLayer* layer = GetLayerByIndex(scene.picture, 1);
    MoveLayerTo(L, layer, nullptr, 30, 10, 0, 0, nullptr);
    EXPECT_EQ(item->anchoredX, 26);
    EXPECT_EQ(item->drawX, 26);
    EXPECT_EQ(item->drawY, 4);
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
}

TEST_F(DirtyRects, AMovedLayerWithAShadowRepaintsBothBounds) {
    qvDrawStyle style = Style();
    style.shadow.on = 1;
    qvLayer* layer = scene.AddLayer(L, Solid(4, 4, 0xF80000), 2, 2, &style);
    scene.TakeWindowDamage();
    MoveLayerTo(L, layer, nullptr, 40, 30, 0, 0, nullptr);
    const DamageRect shown = Damage();
    EXPECT_LE(shown.x, 2);
    EXPECT_LE(shown.y, 2);
    EXPECT_GE(shown.x + shown.width, 44);
    EXPECT_GE(shown.y + shown.height, 34);
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
}

TEST_F(DirtyRects, AreasGoToAListOrAreRepaintedWhenItCannotGrow) {
    qvLayer* moved = scene.AddLayer(L, Solid(4, 4, 0xF80000), 10, 10);
    qvLayer* removed = scene.AddLayer(L, Solid(5, 5, 0x00FC00), 40, 20);
    ASSERT_EQ(InitRectList(&work, 1), 0);
    MoveLayerTo(L, moved, nullptr, 12, 10, 0, 0, &work);
    EXPECT_EQ(work.rects[0], (qvRect{10, 10, 15, 13}));
    scene.TakeWindowDamage();
    {
        AllocationFault fault(1, true);
        RemoveLayerRecord(L, removed, 0, nullptr, nullptr, nullptr, nullptr, &work);
        EXPECT_EQ(Damage(), (DamageRect{40, 20, 5, 5}));  // not lost: repainted now
        MoveLayerTo(L, moved, nullptr, 20, 10, 0, 0, &work);
        EXPECT_EQ(Damage(), (DamageRect{12, 10, 12, 4}));
    }
    EXPECT_EQ(work.count, 1);
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
}

TEST_F(DirtyRects, ADirtyListThatCannotBeMadeRepaintsAtOnce) {
    scene.AddLayer(L, Solid(4, 4, 0xF80000), 3, 3);
    scene.view.outputType = gfx::kTargetBGPic;
    {
        AllocationFault fault(1, true);
        RefreshRect(L, 3, 3, 4, 4);
    }
    EXPECT_EQ(Damage(), (DamageRect{3, 3, 4, 4}));
    EXPECT_EQ(ReadBitMapPixel(scene.window->framebuffer, 3, 3), 0xF80000u);
}

TEST_F(DirtyRects, AGeometryChangeRepaintsTheOldAndTheNewArea) {
    qvLayer* layer = scene.AddLayer(L, Solid(4, 4, 0xF80000), 10, 10);
    const struct {
        const char* what;
        qvLayerArea previous;
        int32_t x, y, width, height;
        DamageRect shown;
    } cases[] = {
        {"grown in place", {-1, -1, -1, -1, 0}, 10, 10, 8, 6, {10, 10, 8, 6}},
        {"moved and shrunk", {10, 10, 8, 6, 0}, 20, 12, 2, 2, {10, 10, 18, 8}},
        {"the caller repaints", {10, 10, 8, 6, 1}, 20, 12, 2, 2, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        qvLayerArea previous = c.previous;
        OwnedPlanes planes = MakePlanes(Solid(c.width, c.height, 0x0000F8));
        scene.TakeWindowDamage();
        UpdateLayerGeometry(L, layer, &previous, c.x, c.y, c.width, c.height,
                            planes.bitmap.release(), nullptr, nullptr, 0);
        EXPECT_EQ(Damage(), c.shown) << c.what;
        if (c.previous.width == -1) {
            EXPECT_EQ(previous.x, c.x) << c.what;
            EXPECT_EQ(previous.width, c.width) << c.what;
        }
    }
    EXPECT_EQ(layer->displayItem->drawWidth, 2);
    EXPECT_EQ(ReadBitMapPixel(layer->displayItem->image.bitmap, 0, 0), 0x0000F8u);
}

TEST_F(DirtyRects, RectanglesAreCutToASize) {
    const struct {
        int32_t x, y, width, height;
        int32_t cx, cy, cw, ch;
    } cases[] = {
        {-5, -5, 10, 10, 0, 0, 5, 5},
        {60, 40, 10, 10, 60, 40, 4, 8},
        {0, 0, 64, 48, 0, 0, 64, 48},
        {-10, 0, 5, 5, 0, 0, -5, 5},
    };
    for (const auto& c : cases) {
        int32_t x = c.x, y = c.y, w = c.width, h = c.height;
        ClipRectToSize(64, 48, &x, &y, &w, &h);
        EXPECT_EQ((std::vector<int32_t>{x, y, w, h}),
                  (std::vector<int32_t>{c.cx, c.cy, c.cw, c.ch}));
    }
}

}  // namespace
}  // namespace qv::testing
