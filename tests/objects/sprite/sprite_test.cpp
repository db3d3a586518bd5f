// Sprites on a display over a headless window: frames, placing and refreshing, linked
// sprites, freeing, the screen guard, and the changes of frames that must never leave a
// picture showing freed or mismatched frames.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "media/anim_store.h"
#include "objects/brush.h"
#include "objects/scene_hooks.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_library.h"
#include "platform/linux/memory.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

using namespace qv::test;

constexpr int32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kBack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

struct Rect {
    int32_t x, y, width, height;
    bool operator==(const Rect&) const = default;
};
std::vector<Rect> refreshed;

void SpyRefresh(qvVmState*, int32_t x, int32_t y, int32_t width, int32_t height) {
    refreshed.push_back({x, y, width, height});
}

class SpriteFrames final : public objects::SceneHooks {
public:
    bool SpriteFrame(const qvSpriteInstance& s, int32_t frame, gfx::PictureView* out) override {
        return sprites::InstanceFrame(s, frame, out);
    }
};

class Sprites : public LibFixture {
protected:
    Sprites() : LibFixture(OpenLibraries<RegisterSpriteLibrary>) {
        scene::SetObjectHooks(&hooks_);
        display_.emplace(Solid(kWidth, kHeight, kBack));
        display_->view.layersEnabled = false;
    }
    ~Sprites() override {
        SetSpriteRefresh(nullptr);
        FreeAllSprites(L);
        display_.reset();
        scene::SetObjectHooks(nullptr);
    }

    // A sprite numbered id of solid frames, 8x8 unless given.
    qvSprite* Make(uint32_t id, std::vector<uint32_t> colours, int32_t size = 8) {
        const int32_t n = int32_t(colours.size());
        auto* bitmaps = static_cast<qvDisplayBitMap**>(AllocMemBlock(sizeof(void*) * n, 1));
        for (int32_t i = 0; i < n; ++i) {
            bitmaps[i] = AllocDisplayBitMap(size, size);
            RectFill(bitmaps[i], 0, 0, size, size, colours[size_t(i)]);
        }
        qvObjectId oid{id, nullptr};
        qvSprite* sprite = nullptr;
        EXPECT_EQ(AddSprite(&oid, size, size, {nullptr, bitmaps, nullptr, nullptr, n},
                            kNoTransparency, nullptr, &sprite),
                  0);
        return sprite;
    }
    qvSprite* Link(uint32_t id, std::vector<qvSprite*> sources) {
        sources.push_back(nullptr);
        qvObjectId oid{id, nullptr};
        qvSprite* sprite = nullptr;
        EXPECT_EQ(AddSprite(&oid, sources[0]->width, sources[0]->height, {}, kNoTransparency,
                            sources.data(), &sprite),
                  0);
        return sprite;
    }
    int Run(const char* name, std::vector<Arg> args) { return Call(name, args).code; }
    uint32_t WindowAt(int32_t x, int32_t y) const {
        return display_->Window()[size_t(y) * kWidth + x];
    }
    const qvSpriteInstance* Shown() const { return display_->picture->sprites; }

    SpriteFrames hooks_;
    std::optional<SceneDisplay> display_;
};

TEST_F(Sprites, FrameZeroCyclesAndNewSpritesStartAtOne) {
    Make(1, {kRed, kGreen, kBlue});
    std::vector<int32_t> frames;
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
        frames.push_back(Shown()->frame);
    }
    EXPECT_EQ(frames, (std::vector<int32_t>{1, 2, 3, 1}));
    EXPECT_EQ(WindowAt(2, 2), kRed);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0), Num(3)}), 0);
    EXPECT_EQ(WindowAt(2, 2), kBlue);
    EXPECT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0), Num(4)}), ERR_ANIMFRAME);
    EXPECT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0), Num(-1)}), ERR_ANIMFRAME);
}

TEST_F(Sprites, MovesRefreshOnlyWhatTheyTouched) {
    Make(1, {kRed});
    SetSpriteRefresh(SpyRefresh);
    refreshed.clear();
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(10), Num(10)}), 0);
    EXPECT_EQ(refreshed, (std::vector<Rect>{{10, 10, 8, 8}}));
    refreshed.clear();
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(12), Num(13)}), 0);
    EXPECT_EQ(refreshed, (std::vector<Rect>{{10, 10, 10, 11}})) << "one union";
    refreshed.clear();
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(40), Num(30)}), 0);
    EXPECT_EQ(refreshed, (std::vector<Rect>{{12, 13, 8, 8}, {40, 30, 8, 8}}));
    refreshed.clear();
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(40), Num(30), Num(1)}), 0);
    EXPECT_TRUE(refreshed.empty()) << "nothing changed";
}

TEST_F(Sprites, MovedSpriteLeavesTheBackgroundBehind) {
    Make(1, {kRed});
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(30), Num(20)}), 0);
    EXPECT_EQ(WindowAt(2, 2), kBack);
    EXPECT_EQ(WindowAt(32, 22), kRed);
    ASSERT_EQ(Run("RemoveSprite", {Num(1)}), 0);
    EXPECT_EQ(WindowAt(32, 22), kBack);
    EXPECT_EQ(Run("RemoveSprite", {Num(1)}), ERR_SPRITEONSCREEN);
}

TEST_F(Sprites, LinkedSpriteMapsIndexesToItsSources) {
    qvSprite* a = Make(1, {kRed, kGreen});
    qvSprite* b = Make(2, {kBlue, kGreen, kRed});
    qvSprite* linked = Link(3, {a, b});
    EXPECT_EQ(linked->frameCount, 5);
    qvDisplayBitMap* bitmap = nullptr;
    GetSpriteFrame(linked, 3, &bitmap, nullptr, nullptr);
    EXPECT_EQ(bitmap, b->bitmaps[1]);
    qvPlaneBitMap* mask = reinterpret_cast<qvPlaneBitMap*>(&bitmap);
    GetSpriteFrame(linked, 5, &bitmap, &mask, nullptr);
    EXPECT_EQ(bitmap, nullptr) << "beyond the last source: none, never left unset";
    EXPECT_EQ(mask, nullptr);
    // Linked sprites and their sources keep their frames.
    EXPECT_EQ(Run("ScaleSprite", {Num(3), Num(4), Num(4)}), ERR_MODIFYSPRITE2);
    EXPECT_EQ(Run("FlipSprite", {Num(2), Num(1)}), ERR_MODIFYSPRITE2);
    // Freeing a source frees the sprite that shows it.
    ASSERT_EQ(Run("DisplaySprite", {Num(3), Num(0), Num(0)}), 0);
    ASSERT_EQ(Run("FreeSprite", {Num(2)}), 0);
    qvSprite* found = nullptr;
    EXPECT_EQ(GetSprite({3, nullptr}, &found, 0), ERR_FINDSPRITE);
    EXPECT_EQ(Shown(), nullptr);
    EXPECT_EQ(WindowAt(2, 2), kBack);
}

TEST_F(Sprites, RemoveSpritesKeepBakesTheImages) {
    Make(1, {kRed});
    Make(2, {kGreen});
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
    ASSERT_EQ(Run("DisplaySprite", {Num(2), Num(20), Num(20)}), 0);
    ASSERT_EQ(Run("RemoveSprites", {Num(1)}), 0);
    EXPECT_EQ(Shown(), nullptr);
    EXPECT_EQ(ReadBitMapPixel(display_->displayBitmap.get(), 2, 2), kRed);
    EXPECT_EQ(display_->Recomposed(L)[size_t(22) * kWidth + 22], kGreen);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(40), Num(0)}), 0);
    ASSERT_EQ(Run("RemoveSprites", {}), 0);
    EXPECT_EQ(WindowAt(42, 2), kBack);
}

TEST_F(Sprites, ScreenGuardOrder) {
    Make(1, {kRed});
    struct Case {
        int32_t output;
        bool doubleBuffered, layers;
        int code;
    };
    const Case cases[] = {
        {gfx::kTargetBrush, true, true, ERR_ENDDOUBLEBUFFER},
        {gfx::kTargetAnim, false, true, ERR_SELECTANIM},
        {gfx::kTargetBrush, false, true, ERR_SELECTBRUSH},
        {gfx::kTargetMask, false, true, ERR_SELECTMASK},
        {gfx::kTargetAlphaChannel, false, true, ERR_SELECTALPHACHANNEL},
        {gfx::kTargetBGPic, false, true, ERR_SELECTBG},
        {gfx::kTargetDisplay, false, true, ERR_LAYERSOFF},
        {gfx::kTargetDisplay, false, false, 0},
    };
    for (const Case& c : cases) {
        display_->view.outputType = c.output;
        display_->view.doubleBuffered = c.doubleBuffered;
        display_->view.layersEnabled = c.layers;
        EXPECT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), c.code) << c.output;
        EXPECT_EQ(Run("RemoveSprites", {}), c.code) << c.output;
    }
}

TEST_F(Sprites, CommandErrors) {
    Make(1, {kRed, kGreen});
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
    EXPECT_EQ(Run("ScaleSprite", {Num(1), Num(16), Num(16)}), ERR_MODIFYSPRITE);
    EXPECT_EQ(Run("FlipSprite", {Num(1), Num(0)}), ERR_MODIFYSPRITE);
    EXPECT_EQ(Run("CopySprite", {Num(1), Num(1)}), ERR_WRONGUSAGE);
    EXPECT_EQ(Run("FreeSprite", {Num(9)}), ERR_FINDSPRITE);
    EXPECT_EQ(Run("DisplaySprite", {Num(9), Num(0), Num(0)}), ERR_FINDSPRITE);
    EXPECT_EQ(Run("RemoveSprite", {LightUserdata(this)}), ERR_FINDARRAY);
    Make(2, {kRed});
    EXPECT_EQ(Run("RemoveSprite", {Num(2)}), ERR_SPRITEONSCREEN);
    EXPECT_EQ(Run("ScaleSprite", {Num(2), Num(0), Num(4)}), ERR_BADDIMENSIONS);
    qvSprite* two = nullptr;
    ASSERT_EQ(GetSprite({2, nullptr}, &two, 0), 0);
    two->locked = 1;
    EXPECT_EQ(Run("FreeSprite", {Num(2)}), ERR_LOCKEDOBJ);
    EXPECT_EQ(Run("CopySprite", {Num(1), Num(2)}), ERR_LOCKEDOBJ);
    two->locked = 0;
    EXPECT_EQ(Run("CreateSprite", {Num(3), Num(gfx::kTypeAnim), Num(1)}), ERR_FINDANIM);
    EXPECT_EQ(Run("CreateSprite", {Num(3), Num(gfx::kTypeBrush), Num(1), Num(2)}), ERR_FINDBRUSH)
        << "the numbers after the source are a cut";
}

// A sprite of an anim copies every frame with its planes, so the anim may go at once; running
// out of memory part-way makes nothing.
TEST_F(Sprites, AnimSpriteCopiesEveryFrame) {
    Planes masked = Solid(8, 8, kGreen);
    masked.mask.assign(64, 0);
    for (int32_t y = 0; y < 8; ++y) std::fill_n(masked.mask.begin() + y * 8, 4, uint8_t{1});
    qvAnimFrames frames;
    for (const Planes& planes : {Solid(8, 8, kRed), masked}) {
        OwnedPlanes own = MakePlanes(planes);
        frames.bitmaps.push_back(own.bitmap.release());
        frames.masks.push_back(own.mask.release());
        frames.alphas.push_back(own.alpha.release());
    }
    qvObjectId animId{5, nullptr};
    ASSERT_EQ(AddAnim(&animId, 8, 8, &frames, -1, nullptr), 0);
    const std::vector<Arg> create{Num(3), Num(gfx::kTypeAnim), Num(5)};
    int failures = 0;
    for (uint64_t n = 1; n < 100; ++n) {
        InjectAllocationFault(n, false);
        const int code = Run("CreateSprite", create);
        ClearAllocationFault();
        if (code == 0) break;
        ++failures;
        ASSERT_EQ(code, ERR_MEM);
        ASSERT_EQ(*SpriteList(), nullptr) << "nothing made after failure " << n;
    }
    EXPECT_GT(failures, 2);
    FreeAllAnims(L);
    qvSprite* sprite = nullptr;
    ASSERT_EQ(GetSprite({3, nullptr}, &sprite, 0), 0);
    EXPECT_EQ(sprite->frameCount, 2);
    EXPECT_EQ(sprite->transparentColour, kNoTransparency);
    ASSERT_EQ(Run("DisplaySprite", {Num(3), Num(0), Num(0)}), 0);
    EXPECT_EQ(WindowAt(6, 6), kRed);
    ASSERT_EQ(Run("DisplaySprite", {Num(3), Num(0), Num(0)}), 0);
    EXPECT_EQ(WindowAt(1, 6), kGreen);
    EXPECT_EQ(WindowAt(6, 6), kBack) << "the second frame's mask came along";
    EXPECT_EQ(Run("CreateSprite", {Num(4), Num(gfx::kTypeAnim), Num(5)}), ERR_FINDANIM);
}

TEST_F(Sprites, CopyAndScaleMakeIndependentFrames) {
    Make(1, {kRed, kGreen});
    const CallResult copy = Call("CopySprite", {Num(1), Nil()});
    ASSERT_EQ(copy.code, 0);
    ASSERT_EQ(copy.results.size(), 1u);
    ASSERT_EQ(Run("ScaleSprite", {Num(1), Str("200%"), Num(KEEPASPRAT)}), 0);
    qvSprite* one = nullptr;
    ASSERT_EQ(GetSprite({1, nullptr}, &one, 0), 0);
    EXPECT_EQ(one->width, 16);
    EXPECT_EQ(one->height, 16);
    EXPECT_EQ(one->bitmaps[1]->width, 16);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0), Num(2)}), 0);
    EXPECT_EQ(WindowAt(15, 15), kGreen);
}

// A failure part-way through leaves every frame and the size as they were.
TEST_F(Sprites, ScaleFailureLeavesTheSpriteWhole) {
    qvSprite* sprite = Make(1, {kRed, kGreen, kBlue});
    const std::vector<qvDisplayBitMap*> before(sprite->bitmaps, sprite->bitmaps + 3);
    int failures = 0;
    for (uint64_t n = 1; n < 200; ++n) {
        InjectAllocationFault(n, false);
        const int code = ScaleSpriteEx(sprite, 20, 12, false);
        ClearAllocationFault();
        if (code == 0) break;
        ++failures;
        ASSERT_EQ(code, ERR_MEM);
        ASSERT_EQ(sprite->width, 8);
        ASSERT_EQ(std::vector<qvDisplayBitMap*>(sprite->bitmaps, sprite->bitmaps + 3), before);
    }
    EXPECT_GT(failures, 3) << "failures reached the later frames";
    EXPECT_EQ(sprite->width, 20);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sprite->bitmaps[i]->width, 20);
}

// A sprite freed while another picture shows it leaves nothing behind there.
TEST_F(Sprites, FreeingRemovesInstancesFromEveryPicture) {
    Make(1, {kRed});
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(4), Num(4)}), 0);
    {
        SceneDisplay second(Solid(32, 32, kBlue));
        second.view.layersEnabled = false;
        ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
        ASSERT_NE(second.picture->sprites, nullptr);
        EXPECT_EQ(Run("ScaleSprite", {Num(1), Num(4), Num(4)}), ERR_MODIFYSPRITE);
        ASSERT_EQ(Run("FreeSprite", {Num(1)}), 0);
        EXPECT_EQ(second.picture->sprites, nullptr);
        EXPECT_EQ(display_->picture->sprites, nullptr);
        EXPECT_EQ(second.Recomposed(L)[0], kBlue);
        EXPECT_EQ(display_->Recomposed(L)[size_t(5) * kWidth + 5], kBack);
    }
}

TEST_F(Sprites, RebuildKeysOutTheTransparentColour) {
    auto* pixels = static_cast<qvARGB**>(AllocMemBlock(sizeof(void*), 1));
    pixels[0] = static_cast<qvARGB*>(AllocMemBlock(sizeof(qvARGB) * 4, 0));
    const qvARGB frame[4] = {0xFFFF0000, 0xFF00FF00, 0xFF00FF00, 0xFFFF0000};
    std::copy_n(frame, 4, pixels[0]);
    qvObjectId id{1, nullptr};
    qvSprite* sprite = nullptr;
    ASSERT_EQ(
        AddSprite(&id, 2, 2, {pixels, nullptr, nullptr, nullptr, 1}, kGreen, nullptr, &sprite), 0);
    ASSERT_EQ(RebuildSprites(L), 0);
    EXPECT_EQ(sprite->pixels[0], nullptr);
    ASSERT_NE(sprite->bitmaps[0], nullptr);
    ASSERT_NE(sprite->masks[0], nullptr);
    EXPECT_NE(ReadBitMapPixel(sprite->masks[0], 0, 0), 0u);
    EXPECT_EQ(ReadBitMapPixel(sprite->masks[0], 1, 0), 0u);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
    EXPECT_EQ(WindowAt(0, 0), kRed);
    EXPECT_EQ(WindowAt(1, 0), kBack);
}

}  // namespace
}  // namespace qv::testing
