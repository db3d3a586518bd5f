// The layer list: insertion and its refresh rule, replacement, lookups by position, name and
// group, names, the orphans removed layers leave, and running out of memory.
#include <cstring>
#include <string>

#include "objects/brush.h"
#include "objects/scene_hooks.h"
#include "platform/linux/memory.h"
#include "scene/scene_neighbours.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

// Colours that every screen format keeps exactly.
constexpr uint32_t kColours[] = {0xF80000, 0x00FC00, 0x0000F8, 0xF8FC00, 0x00FCF8, 0xF800F8};
constexpr uint32_t kNew = 0xF8FCF8;

class LayerList : public LayerFixture {
protected:
    // Five 4 x 4 layers, colours 0 to 4 from the bottom.
    void AddFive() {
        for (int i = 0; i < 5; ++i) scene.AddLayer(L, Solid(4, 4, kColours[i]), i * 5, i * 3);
    }

    struct Found {
        int code = -1;
        qvLayer* layer = nullptr;
        int32_t match = 0;
        int32_t group = -1;
    };
    Found FindOrGroup(const Arg& arg, int32_t match = 0) {
        Found f;
        f.match = match;
        Define("findlayer", [&](qvVmState* L) {
            f.code = FindLayerOrGroup(L, 1, scene.picture, &f.layer, &f.match, &f.group);
            return 0;
        });
        Call("findlayer", {arg});
        return f;
    }
};

TEST_F(LayerList, AnEmptyListHasNoLayers) {
    for (int32_t n : {-1, 0, 1, 2}) EXPECT_EQ(GetLayerByIndex(scene.picture, n), nullptr) << n;
    EXPECT_EQ(CountLayers(scene.picture), 0);
    qvLayer stranger{};
    EXPECT_EQ(IndexOfLayer(&stranger), -1);
    EXPECT_EQ(FindOrGroup(Num(1)).code, ERR_LAYERRANGE);
    EXPECT_EQ(IndexOfLayerByName(scene.picture, "a"), 0);
}

TEST_F(LayerList, InsertPositionsAndWhichOfThemRepaint) {
    const struct {
        int32_t position;
        int32_t at;  // the new layer's place, from 1 at the bottom
        bool repainted;
    } cases[] = {
        {1, 1, true},  {2, 2, true},  {3, 3, true},   {5, 5, true},
        {6, 6, false}, {9, 6, false}, {-1, 6, false}, {0, 6, false},
    };
    for (const auto& c : cases) {
        FreeLayerList(L, scene.picture);
        AddFive();
        scene.TakeWindowDamage();
        ASSERT_NE(scene.AddLayer(L, Solid(4, 4, kNew), 30, 30, nullptr, c.position), nullptr);
        std::vector<uint32_t> expected(kColours, kColours + 5);
        expected.insert(expected.begin() + (c.at - 1), kNew);
        EXPECT_EQ(Order(), expected) << c.position;
        EXPECT_EQ(!scene.TakeWindowDamage().empty(), c.repainted) << c.position;
    }
}

TEST_F(LayerList, APlainLayerOnTopIsLeftToTheDrawingCommand) {
    const struct {
        const char* what;
        uint32_t transparency;
        bool shadow, border, filter, hidden, scaled;
        bool repainted;
        int32_t x, width;  // of the bounds repainted
    } cases[] = {
        {"plain", 0, false, false, false, false, false, false, 10, 4},
        {"transparency 128", 128, false, false, false, false, false, true, 10, 4},
        // The default shadow: radius 5, moved 4 to the lower right; the border 2 wide.
        {"shadow", 0, true, false, false, false, false, true, 9, 14},
        {"border", 0, false, true, false, false, false, true, 8, 8},
        {"filter", 0, false, false, true, false, false, true, 10, 4},
        {"hidden and transparent", 128, false, false, false, true, false, false, 10, 4},
        {"plain on a display scaling its layers", 0, false, false, false, false, true, true, 10, 4},
    };
    for (const auto& c : cases) {
        scene.scale = {c.scaled ? 2.0 : 1.0, 1.0, c.scaled};
        qvDrawStyle style = Style(c.transparency);
        style.shadow.on = c.shadow;
        style.border.on = c.border;
        style.filters[kFilterInvert].enabled = c.filter;
        style.hidden = c.hidden;
        scene.TakeWindowDamage();
        qvLayer* layer = scene.AddLayer(L, Solid(4, 4, kNew), 10, 10, &style);
        ASSERT_NE(layer, nullptr) << c.what;
        EXPECT_EQ(layer->hidden, c.hidden ? 1 : 0) << c.what;
        const std::vector<DamageRect> damage = scene.TakeWindowDamage();
        EXPECT_EQ(!damage.empty(), c.repainted) << c.what;
        if (c.repainted) {
            EXPECT_EQ(damage.front().x, c.x) << c.what;
            EXPECT_EQ(damage.front().width, c.width) << c.what;
        }
    }
}

TEST_F(LayerList, LayersAddedWhileDrawingGoesIntoTheShownPictureWait) {
    scene.view.outputType = gfx::kTargetBGPic;
    qvDrawStyle style = Style(1);
    qvLayer* waiting = scene.AddLayer(L, Solid(4, 4, kNew), 5, 6, &style);
    style.hidden = 1;
    qvLayer* hidden = scene.AddLayer(L, Solid(4, 4, kNew), 5, 6, &style);
    EXPECT_EQ(waiting->deferred, 1);
    EXPECT_EQ(hidden->deferred, 0);
    // Recorded for the end of the redirection, not shown, and skipped until then.
    ASSERT_EQ(scene.dirty.count, 1);
    EXPECT_EQ(scene.dirty.rects[0].x1, 5);
    EXPECT_TRUE(scene.TakeWindowDamage().empty());
    EXPECT_EQ(Shown(), ReferenceCompositor(ScreenFormat(), Background()).Pixels());
}

TEST_F(LayerList, TheStyleIsTakenFromTheTagsOrTheDefaults) {
    qvLayer* plain = scene.AddLayer(L, Solid(2, 2, kNew), 0, 0);
    EXPECT_EQ(plain->shadow.colour, 0x80000000u);
    EXPECT_EQ(plain->shadow.size, 4);
    EXPECT_EQ(plain->shadow.direction, 3);
    EXPECT_EQ(plain->border.size, 2);
    EXPECT_EQ(plain->transparency, 0u);
    AddFive();
    qvDrawStyle style = Style(64);
    style.insertpos = 20;
    style.filters[kFilterSwirl].enabled = 1;
    std::strcpy(style.name, "swirled");
    qvLayer* styled = scene.AddLayer(L, Solid(2, 2, kNew), 0, 0, &style, 2);
    // "insertpos" replaces the position, held to one past the count.
    EXPECT_EQ(style.insertpos, 7);
    EXPECT_EQ(IndexOfLayer(styled), 7);
    EXPECT_EQ(styled->transparency, 64u);
    EXPECT_EQ(styled->movingFilter, 1);
    EXPECT_STREQ(styled->name, "swirled");
    EXPECT_TRUE(LayerHasFilter(styled));
    EXPECT_FALSE(LayerHasFilter(plain));
}

TEST_F(LayerList, AnAnchorShiftAtTheLeftLimitSaturates) {
    qvDrawTransform transform = kInitialDrawTransform;
    transform.anchorx = transform.anchory = 1;
    OwnedPlanes own = MakePlanes(Solid(4, 4, kNew));
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, INT32_MIN, INT32_MIN + 2, 4, 4,
                            &transform, nullptr, own.bitmap.release(), own.mask.release(),
                            own.alpha.release(), -1, 0),
              0);
    const qvLayer* layer = GetLayerByIndex(scene.picture, 1);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->sourceItem->anchoredX, INT32_MIN);
    EXPECT_EQ(layer->sourceItem->anchoredY, INT32_MIN);
    EXPECT_EQ(layer->sourceItem->drawX, INT32_MIN);
}

TEST_F(LayerList, AReplacementTakesThePlaceAndTheClipRegionOfTheLayerItReplaces) {
    qvClipRegion region{};
    region.width = region.height = 100;
    for (int i = 0; i < 3; ++i) scene.AddLayer(L, Solid(4, 4, kColours[i]), 0, 0);
    GetLayerByIndex(scene.picture, 2)->sourceItem->clipRegion = &region;
    GetLayerByIndex(scene.picture, 2)->noClipTransform = 1;
    qvLayer* layer = scene.AddLayer(L, Solid(4, 4, kNew), 0, 0, nullptr, 2, QV_ADDLAYER_REPLACE);
    EXPECT_EQ(Order(), (std::vector<uint32_t>{kColours[0], kNew, kColours[2]}));
    EXPECT_EQ(layer->sourceItem->clipRegion, &region);
    EXPECT_EQ(layer->noClipTransform, 1);
    // Without a layer at the position the replacement is a plain add.
    for (int32_t position : {-1, 0, 9}) {
        const int32_t count = CountLayers(scene.picture);
        ASSERT_NE(
            scene.AddLayer(L, Solid(4, 4, kNew), 0, 0, nullptr, position, QV_ADDLAYER_REPLACE),
            nullptr);
        EXPECT_EQ(CountLayers(scene.picture), count + 1) << position;
    }
}

TEST_F(LayerList, NamesAreUniqueIgnoringCaseAmongNamesAndGroups) {
    qvLayer* named = scene.AddLayer(L, Solid(2, 2, kColours[0]), 0, 0);
    qvLayer* grouped = scene.AddLayer(L, Solid(2, 2, kColours[1]), 0, 0);
    qvLayer* layer = scene.AddLayer(L, Solid(2, 2, kColours[2]), 0, 0);
    ASSERT_EQ(SetLayerNameString(named, "Alpha"), 0);
    std::strcpy(grouped->group, "team");
    const struct {
        std::string name;
        int code;
        const char* after;
    } cases[] = {
        {"ALPHA", ERR_NAMEUSED, nullptr},
        {"Team", ERR_NAMEUSED, nullptr},
        {std::string(256, 'n'), ERR_NAMETOOLONG, nullptr},
        {std::string(255, 'n'), 0, nullptr},
        {"beta", 0, "beta"},
        {"", 0, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SetLayerNameString(layer, c.name.c_str()), c.code) << c.name.size();
        if (c.code == 0 && c.after != nullptr) {
            EXPECT_STREQ(layer->name, c.after);
        }
    }
    EXPECT_EQ(layer->name, nullptr);  // the empty name removed it
    EXPECT_EQ(IndexOfLayerByName(scene.picture, "aLpHa"), 1);
    EXPECT_EQ(IndexOfLayerByName(scene.picture, "team"), 0);  // groups are not names
}

TEST_F(LayerList, LayerArgumentsByNumberAndName) {
    AddFive();
    SetLayerNameString(GetLayerByIndex(scene.picture, 2), "Second");
    int32_t found = 0;
    Define("layerarg", [&](qvVmState* L) {
        found = FindLayerArg(L, 1, scene.picture);
        return 0;
    });
    const struct {
        Arg arg;
        int code;
        int32_t position;
    } cases[] = {
        {Num(99), 0, 99},  // the range is the caller's check
        {Str("SECOND"), 0, 2},
        {Str("missing"), ERR_FINDLAYER, 0},
        {Table({}), ERR_STRORNUM, 0},
    };
    for (const auto& c : cases) {
        found = 0;
        const CallResult r = Call("layerarg", {c.arg});
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(found, c.position);
    }
    EXPECT_EQ(Call("layerarg", {Str("missing")}).errorText, "missing");
}

TEST_F(LayerList, AGroupIsWalkedMemberByMember) {
    AddFive();
    for (int32_t n : {1, 3, 4}) std::strcpy(GetLayerByIndex(scene.picture, n)->group, "Gang");
    std::vector<int32_t> members;
    int32_t match = 0;
    do {
        const Found f = FindOrGroup(Str("gang"), match);
        ASSERT_EQ(f.code, 0);
        EXPECT_EQ(f.group, 1);
        members.push_back(IndexOfLayer(f.layer));
        match = f.match;
    } while (match != -1 && members.size() < 10);
    EXPECT_EQ(members, (std::vector<int32_t>{1, 3, 4}));
    // A name wins over a group of the same name.
    SetLayerNameString(GetLayerByIndex(scene.picture, 5), "crew");
    std::strcpy(GetLayerByIndex(scene.picture, 2)->group, "crew");
    EXPECT_EQ(SetLayerNameString(GetLayerByIndex(scene.picture, 5), "crew"), ERR_NAMEUSED);
    const Found named = FindOrGroup(Str("CREW"));
    EXPECT_EQ(IndexOfLayer(named.layer), 5);
    EXPECT_EQ(named.group, 0);
    EXPECT_EQ(named.match, -1);
    EXPECT_EQ(FindOrGroup(Num(6)).code, ERR_LAYERRANGE);
    EXPECT_EQ(FindOrGroup(Str("nobody")).code, ERR_FINDLAYER);
    EXPECT_EQ(FindOrGroup(Bool(true)).code, ERR_STRORNUM);
}

TEST_F(LayerList, RemovingTheLastLayerOfAFreedBrushCollectsIt) {
    objects::SceneHooks brushes;
    scene::SetObjectHooks(&brushes);
    scene::SceneNeighbours neighbours;
    gfx::SetNeighbours(&neighbours);
    ASSERT_EQ(CreateBrushBitmaps({7, nullptr}, 6, 6, 0xF80000, false, false, false, false), 0);
    qvLayer* first = scene.AddBrushPart(L, 7, 0, 0, 2, 2, 6, 6);
    qvLayer* second = scene.AddBrushPart(L, 7, 0, 0, 20, 2, 6, 6);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    auto brushCount = [] {
        int n = 0;
        for (qvObjectHeader* h = *BrushList(); h != nullptr; h = h->next) ++n;
        return n;
    };
    ASSERT_EQ(FreeBrushById(L, {7, nullptr}, true), 0);
    EXPECT_EQ(brushCount(), 1);  // an orphan the layers still show
    const size_t corner = size_t(2) * scene.width + 20;
    EXPECT_EQ(Shown()[corner], 0xF80000u);
    RemoveLayerRecord(L, first, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(brushCount(), 1);
    RemoveLayerRecord(L, second, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(brushCount(), 0);
    EXPECT_EQ(Shown()[corner], ReferenceCompositor(ScreenFormat(), Background()).Pixels()[corner]);
    FreeAllBrushes(L);
    gfx::SetNeighbours(nullptr);
}

TEST_F(LayerList, RunningOutOfMemoryLeavesTheListAsItWas) {
    AddFive();
    qvDrawStyle style = Style();
    std::strcpy(style.name, "late");
    bool added = false;
    for (uint64_t n = 1; !added && n < 100; ++n) {
        const size_t blocks = GetMemoryStats().liveBlocks;
        OwnedPlanes planes = MakePlanes(Solid(4, 4, kNew));
        int code;
        {
            AllocationFault fault(n, false);
            code = AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, 1, 1, 4, 4, nullptr, &style,
                                 planes.bitmap.release(), nullptr, nullptr, 3, 0);
        }
        added = code == 0;
        if (added) break;
        EXPECT_EQ(code, ERR_MEM) << n;
        EXPECT_EQ(CountLayers(scene.picture), 5) << n;
        EXPECT_EQ(IndexOfLayerByName(scene.picture, "late"), 0) << n;
        EXPECT_EQ(GetMemoryStats().liveBlocks, blocks) << n;
    }
    EXPECT_TRUE(added);
    EXPECT_EQ(IndexOfLayerByName(scene.picture, "late"), 3);
    qvLayer* layer = GetLayerByIndex(scene.picture, 3);
    {
        AllocationFault fault(1, false);
        EXPECT_EQ(SetLayerNameString(layer, "later"), ERR_MEM);
    }
    EXPECT_STREQ(layer->name, "late");
}

}  // namespace
}  // namespace qv::testing
