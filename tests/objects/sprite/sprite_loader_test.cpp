// Sprites made from pictures on a display over a headless window: frames cut from sheets and
// strips, GIF animations composed image by image, colour keys and alpha channels per frame,
// cuts that do not fit, sprites made from brushes and sprites, declared pictures shared through
// the gfx cache, collisions of shown sprites and what GetAttribute reads of a sprite. PIL
// (/usr/bin/python3) writes the pictures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/gfx_cache.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/object_types.h"
#include "media/frame_cut.h"
#include "objects/brush_library/brush_library.h"
#include "objects/scene_hooks.h"
#include "objects/sprite/sprite.h"
#include "objects/sprite/sprite_library.h"
#include "runtime/attributes.h"
#include "scene/layers/layers_library.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

using namespace qv::test;

constexpr int32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kBack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF,
                   kWhite = 0xFFFFFF, kYellow = 0xFFFF00;
constexpr double kSprite = gfx::kTypeSprite, kBrush = gfx::kTypeBrush, kVsBox = 48;

// ResolveFrameCut fills in what a cut leaves out and refuses what does not fit.
TEST(FrameCut, DefaultsAndRefusals) {
    using Opt = std::optional<int32_t>;
    struct Case {
        Opt width, height, frames, perRow;
        int32_t x, y, pictureWidth, pictureHeight;
        int code;
        qvFrameGrid grid;
    };
    const Case cases[] = {
        {{}, {}, {}, {}, 0, 0, 16, 16, 0, {16, 16, 1, 1, 0, 0}},
        {{}, {}, 4, {}, 0, 0, 32, 8, 0, {8, 8, 4, 4, 0, 0}},       // a strip shared by frames
        {{}, {}, 4, 2, 0, 0, 16, 16, 0, {8, 8, 4, 2, 0, 0}},       // a sheet by rows too
        {8, 8, 3, {}, 0, 0, 16, 16, 0, {8, 8, 3, 2, 0, 0}},        // as many per row as fit
        {{}, {}, 2, {}, 4, 2, 20, 10, 0, {8, 8, 2, 2, 4, 2}},      // the rest from (x, y)
        {8, 8, 4, 2, 0, 0, 16, 16, 0, {8, 8, 4, 2, 0, 0}},         // exactly the picture
        {8, 8, 5, 2, 0, 0, 16, 16, ERR_COORDSRANGE, {}},           // a third row
        {8, 8, 4, {}, 0, 0, 24, 8, ERR_COORDSRANGE, {}},           // a second row
        {17, {}, {}, {}, 0, 0, 16, 16, ERR_COORDSRANGE, {}},       // wider than the picture
        {8, 8, 2, {}, 16, 0, 16, 16, ERR_COORDSRANGE, {}},         // x at the edge
        {{}, {}, {}, {}, -1, 0, 16, 16, ERR_COORDSRANGE, {}},      // before the picture
        {{}, {}, 0, {}, 0, 0, 16, 16, ERR_BADDIMENSIONS, {}},      // no frames
        {0, 8, {}, {}, 0, 0, 16, 16, ERR_BADDIMENSIONS, {}},       // zero width
        {8, -1, {}, {}, 0, 0, 16, 16, ERR_BADDIMENSIONS, {}},      // negative height
        {8, 8, 2, 0, 0, 0, 16, 16, ERR_BADDIMENSIONS, {}},         // no frames per row
        {{}, {}, 17, {}, 0, 0, 16, 16, ERR_BADDIMENSIONS, {}},     // narrower than a pixel
        {8, 8, 0x7FFFFFFF, 1, 0, 0, 16, 16, ERR_COORDSRANGE, {}},  // rows beyond any picture
    };
    for (const Case& c : cases) {
        const qvFrameCut cut{c.width, c.height, c.frames, c.perRow, c.x, c.y};
        qvFrameGrid grid{};
        const int code = ResolveFrameCut(cut, c.pictureWidth, c.pictureHeight, &grid);
        EXPECT_EQ(code, c.code) << &c - cases;
        if (code != 0 || c.code != 0) continue;
        EXPECT_EQ(grid.width, c.grid.width) << &c - cases;
        EXPECT_EQ(grid.height, c.grid.height) << &c - cases;
        EXPECT_EQ(grid.frames, c.grid.frames) << &c - cases;
        EXPECT_EQ(grid.perRow, c.grid.perRow) << &c - cases;
    }
    const qvFrameGrid sheet{8, 8, 4, 2, 4, 2};
    int32_t x = 0, y = 0;
    FrameOrigin(sheet, 3, &x, &y);
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, 10);
}

class SpriteFrames final : public objects::SceneHooks {
public:
    bool SpriteFrame(const qvSpriteInstance& s, int32_t frame, gfx::PictureView* out) override {
        return sprites::InstanceFrame(s, frame, out);
    }
};

class SpriteLoading : public LibFixture {
protected:
    SpriteLoading()
        : LibFixture(OpenLibraries<RegisterGraphicsLibrary, RegisterBrushLibrary,
                                   RegisterLayersLibrary, RegisterSpriteLibrary>) {
        scene::SetObjectHooks(&hooks_);
        gfx::SetNeighbours(&neighbours_);
        display_.emplace(Solid(kWidth, kHeight, kBack));
        display_->view.layersEnabled = false;
    }
    ~SpriteLoading() override {
        FreeAllSprites(L);
        display_.reset();
        gfx::SetNeighbours(nullptr);
        scene::SetObjectHooks(nullptr);
    }

    // The pictures of scripts/sprite_pictures.py, written once per test.
    std::string Pictures() {
        if (!pictures_.empty()) return pictures_;
        const std::string dir = TempDir();
        const std::string script =
            (SourceDir() / "tests/objects/sprite/scripts/sprite_pictures.py").string();
        EXPECT_EQ(std::system(("/usr/bin/python3 '" + script + "' '" + dir + "'").c_str()), 0);
        pictures_ = dir;
        return dir;
    }
    std::string File(const char* name) { return Pictures() + "/" + name; }

    int Run(const char* name, std::vector<Arg> args) { return Call(name, args).code; }
    int Load(double id, const char* file, std::vector<std::pair<Arg, Arg>> options) {
        return Run("LoadSprite", {Num(id), Str(File(file)), Table(std::move(options))});
    }
    uint32_t WindowAt(int32_t x, int32_t y) const {
        return display_->Window()[size_t(y) * kWidth + x];
    }
    qvSprite* Sprite(double id) {
        qvSprite* sprite = nullptr;
        GetSprite({uint32_t(id), nullptr}, &sprite, 0);
        return sprite;
    }
    double Attribute(double type, Arg id, int32_t attribute) {
        const CallResult r = Call("GetAttribute", {Num(type), id, Num(attribute)});
        EXPECT_EQ(r.code, 0) << attribute;
        return r.code == 0 ? r.Number() : -1;
    }

    SpriteFrames hooks_;
    sprites::SpriteNeighbours neighbours_;
    std::optional<SceneDisplay> display_;
    std::string pictures_;
};

#define REQUIRE_PIL() QV_REQUIRE_TOOL("/usr/bin/python3")

// Each file and cut shows its frames in turn with frame 0, back to the first after the last.
TEST_F(SpriteLoading, LoadedFramesShowInTurn) {
    REQUIRE_PIL();
    struct Probe {
        int32_t x, y;
        uint32_t rgb;
    };
    struct Case {
        const char* file;
        std::vector<std::pair<Arg, Arg>> options;
        std::vector<std::vector<Probe>> frames;
    };
    const std::vector<std::vector<Probe>> fourColours = {
        {{0, 0, kRed}, {7, 7, kRed}},
        {{0, 0, kGreen}, {7, 7, kGreen}},
        {{0, 0, kBlue}, {7, 7, kBlue}},
        {{0, 0, kWhite}, {7, 7, kWhite}},
    };
    const Case cases[] = {
        {"sheet.png",
         {{Str("width"), Num(8)},
          {Str("height"), Num(8)},
          {Str("frames"), Num(4)},
          {Str("fpr"), Num(2)}},
         fourColours},
        {"sheet.png", {{Str("frames"), Num(4)}, {Str("fpr"), Num(2)}}, fourColours},
        {"strip.png", {{Str("frames"), Num(4)}}, fourColours},
        // The later images hold only what changed; each frame is the whole picture.
        {"anim.gif",
         {},
         {{{0, 0, kRed}, {7, 7, kRed}},
          {{1, 1, kGreen}, {2, 2, kRed}, {7, 7, kRed}},
          {{0, 0, kBlue}, {7, 7, kBlue}},
          {{6, 6, kBlue}, {7, 7, kWhite}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(Load(1, c.file, c.options), 0);
        ASSERT_EQ(Sprite(1)->frameCount, int32_t(c.frames.size()));
        EXPECT_EQ(Sprite(1)->width, 8);
        for (size_t shown = 0; shown <= c.frames.size(); ++shown) {
            ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(10), Num(10), Num(0)}), 0);
            for (const Probe& p : c.frames[shown % c.frames.size()]) {
                EXPECT_EQ(WindowAt(10 + p.x, 10 + p.y), p.rgb)
                    << shown << ": " << p.x << "," << p.y;
            }
        }
        EXPECT_EQ(WindowAt(18, 10), kBack);
        ASSERT_EQ(Run("FreeSprite", {Num(1)}), 0);
    }
}

// A colour key masks every frame, "loadalpha" keeps the alpha channel, a GIF's clear pixels
// are masked; a key together with the alpha channel is refused.
TEST_F(SpriteLoading, KeysAndAlphaChannelsPerFrame) {
    REQUIRE_PIL();
    ASSERT_EQ(Load(1, "keyed.png", {{Str("transparency"), Num(0xFF00FF)}}), 0);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
    EXPECT_EQ(WindowAt(1, 1), kBack);
    EXPECT_EQ(WindowAt(6, 6), kYellow);

    ASSERT_EQ(Load(2, "half.png", {{Str("loadalpha"), Bool(true)}}), 0);
    ASSERT_NE(Sprite(2)->alphas[0], nullptr);
    EXPECT_EQ(Sprite(2)->alphas[0]->plane[0], 128);
    ASSERT_EQ(Run("DisplaySprite", {Num(2), Num(20), Num(0)}), 0);
    const uint32_t blended = WindowAt(22, 2);
    EXPECT_NEAR(double(blended >> 16), 128.0, 2.0) << std::hex << blended;
    EXPECT_EQ(blended & 0xFFFF, 0u);

    ASSERT_EQ(Load(3, "half.png", {}), 0);
    EXPECT_EQ(Sprite(3)->alphas[0], nullptr) << "without loadalpha the picture is opaque";

    ASSERT_EQ(Load(4, "clear.gif", {}), 0);
    ASSERT_EQ(Sprite(4)->frameCount, 2);
    ASSERT_EQ(Run("DisplaySprite", {Num(4), Num(40), Num(20)}), 0);
    EXPECT_EQ(WindowAt(41, 21), kBack);
    EXPECT_EQ(WindowAt(46, 21), kRed);
    ASSERT_EQ(Run("DisplaySprite", {Num(4), Num(40), Num(20)}), 0);
    EXPECT_EQ(WindowAt(41, 21), kGreen);
    EXPECT_EQ(WindowAt(40, 20), kBack);
    // Cut, a GIF's first image keeps its clear pixels masked.
    ASSERT_EQ(Load(6, "clear.gif", {{Str("frames"), Num(2)}}), 0);
    ASSERT_EQ(Sprite(6)->frameCount, 2);
    ASSERT_NE(Sprite(6)->masks[0], nullptr);
    ASSERT_NE(Sprite(6)->masks[1], nullptr);
    EXPECT_EQ(ReadBitMapPixel(Sprite(6)->masks[0], 1, 1), 0u) << "the clear half";
    EXPECT_NE(ReadBitMapPixel(Sprite(6)->masks[1], 1, 1), 0u) << "the red half";

    EXPECT_EQ(Load(5, "half.png", {{Str("loadalpha"), Bool(true)}, {Str("transparency"), Num(0)}}),
              ERR_MASKNALPHA);
    EXPECT_EQ(Load(5, "keyed.png", {{Str("loadalpha"), Bool(true)}}), ERR_NOALPHA);
}

// With a colour key a GIF's clear pixels stay masked beside the keyed ones, in every frame and
// in the frames cut from its first image (clear.gif: a clear left half beside red, then green
// with a clear top-left pixel).
TEST_F(SpriteLoading, AColourKeyKeepsAGifsClearPixelsMasked) {
    REQUIRE_PIL();
    struct Probe {
        int32_t frame, x, y;
        bool visible;
    };
    struct Case {
        uint32_t key;
        bool cut;
        std::vector<Probe> probes;
    };
    const Case cases[] = {
        {0x123456, false, {{0, 1, 1, false}, {0, 5, 1, true}, {1, 0, 0, false}, {1, 1, 1, true}}},
        {kRed, false, {{0, 1, 1, false}, {0, 5, 1, false}, {1, 0, 0, false}, {1, 1, 1, true}}},
        {0x123456, true, {{0, 1, 1, false}, {1, 1, 1, true}}},
        {kRed, true, {{0, 1, 1, false}, {1, 1, 1, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.key << " cut " << c.cut);
        std::vector<std::pair<Arg, Arg>> options = {{Str("transparency"), Num(c.key)}};
        if (c.cut) options.emplace_back(Str("frames"), Num(2));
        ASSERT_EQ(Load(7, "clear.gif", options), 0);
        for (const Probe& p : c.probes) {
            ASSERT_NE(Sprite(7)->masks[p.frame], nullptr) << p.frame;
            EXPECT_EQ(ReadBitMapPixel(Sprite(7)->masks[p.frame], p.x, p.y) != 0, p.visible)
                << p.frame << ": " << p.x << "," << p.y;
        }
        EXPECT_EQ(Sprite(7)->transparentColour, c.key);
        ASSERT_EQ(Run("FreeSprite", {Num(7)}), 0);
    }
}

// A cut that does not fit returns its code and makes nothing; a sprite under the id stays.
TEST_F(SpriteLoading, BadCutsLeaveNoSprite) {
    REQUIRE_PIL();
    ASSERT_EQ(Load(1, "strip.png", {{Str("frames"), Num(4)}}), 0);
    struct Case {
        std::vector<std::pair<Arg, Arg>> options;
        int code;
    };
    const Case cases[] = {
        {{{Str("frames"), Num(5)}, {Str("width"), Num(8)}}, ERR_COORDSRANGE},
        {{{Str("frames"), Num(4)}, {Str("x"), Num(1)}, {Str("width"), Num(8)}}, ERR_COORDSRANGE},
        {{{Str("y"), Num(8)}}, ERR_COORDSRANGE},
        {{{Str("width"), Num(0)}}, ERR_BADDIMENSIONS},
        {{{Str("height"), Num(0)}}, ERR_BADDIMENSIONS},
        {{{Str("frames"), Num(0)}}, ERR_BADDIMENSIONS},
        {{{Str("frames"), Num(-3)}}, ERR_BADDIMENSIONS},
        {{{Str("fpr"), Num(0)}, {Str("frames"), Num(2)}}, ERR_BADDIMENSIONS},
    };
    SetExitOnError(false);
    for (const Case& c : cases) {
        EXPECT_EQ(Load(1, "strip.png", c.options), c.code) << &c - cases;
        EXPECT_EQ(Load(2, "anim.gif", c.options), c.code) << "a GIF cuts its first image";
        EXPECT_EQ(Call("LoadSprite", {Nil(), Str(File("strip.png")), Table(c.options)}).code,
                  c.code);
    }
    ASSERT_NE(Sprite(1), nullptr);
    EXPECT_EQ(Sprite(1)->frameCount, 4);
    EXPECT_EQ((*SpriteList())->next, nullptr) << "only the first sprite";
    EXPECT_EQ(Load(2, "missing.png", {}), ERR_LOADPICTURE);
}

// CreateSprite cuts a brush by its six numbers (or takes it whole), with the mask along, and
// copies a sprite's frames.
TEST_F(SpriteLoading, CreateSpriteCutsBrushesAndCopiesSprites) {
    REQUIRE_PIL();
    ASSERT_EQ(Run("LoadBrush", {Num(1), Str(File("sheet.png"))}), 0);
    ASSERT_EQ(Run("CreateSprite",
                  {Num(1), Num(kBrush), Num(1), Num(8), Num(8), Num(4), Num(2), Num(0), Num(0)}),
              0);
    EXPECT_EQ(Sprite(1)->frameCount, 4);
    ASSERT_EQ(Run("CreateSprite", {Num(2), Num(kBrush), Num(1)}), 0);
    EXPECT_EQ(Sprite(2)->frameCount, 1);
    EXPECT_EQ(Sprite(2)->width, 16);
    // Numbers left out (nil too) take their defaults: two frames across, from the second row.
    ASSERT_EQ(Run("CreateSprite",
                  {Num(3), Num(kBrush), Num(1), Nil(), Num(8), Num(2), Nil(), Num(0), Num(8)}),
              0);
    EXPECT_EQ(Sprite(3)->width, 8);
    ASSERT_EQ(Run("CreateSprite", {Num(4), Num(kSprite), Num(1)}), 0);
    EXPECT_EQ(Sprite(4)->frameCount, 4);
    EXPECT_NE(Sprite(4)->bitmaps[3], Sprite(1)->bitmaps[3]);
    for (double frame : {1, 2, 3, 4}) {
        ASSERT_EQ(Run("DisplaySprite", {Num(4), Num(0), Num(0), Num(frame)}), 0);
        ASSERT_EQ(Run("DisplaySprite", {Num(3), Num(20), Num(0), Num(frame < 3 ? frame : 1)}), 0);
        const uint32_t expected[] = {kRed, kGreen, kBlue, kWhite};
        EXPECT_EQ(WindowAt(4, 4), expected[int(frame) - 1]);
        EXPECT_EQ(WindowAt(24, 4), expected[frame < 3 ? int(frame) + 1 : 2]);
    }

    ASSERT_EQ(Run("LoadBrush",
                  {Num(2), Str(File("keyed.png")), Table({{Str("transparency"), Num(0xFF00FF)}})}),
              0);
    ASSERT_EQ(Run("CreateSprite", {Num(5), Num(kBrush), Num(2), Num(4), Nil(), Num(2)}), 0);
    EXPECT_NE(Sprite(5)->masks[0], nullptr);
    ASSERT_EQ(Run("DisplaySprite", {Num(5), Num(40), Num(0), Num(2)}), 0);
    EXPECT_EQ(WindowAt(41, 1), kYellow) << "the second frame is the right half";
    ASSERT_EQ(Run("DisplaySprite", {Num(5), Num(40), Num(0), Num(1)}), 0);
    EXPECT_EQ(WindowAt(41, 1), kBack) << "the first frame is masked";

    SetExitOnError(false);
    EXPECT_EQ(Run("CreateSprite", {Num(6), Num(kBrush), Num(1), Num(8), Num(8), Num(5), Num(2)}),
              ERR_COORDSRANGE);
    EXPECT_EQ(Run("CreateSprite", {Num(6), Num(kBrush), Num(1), Num(0)}), ERR_BADDIMENSIONS);
    EXPECT_EQ(Run("CreateSprite", {Num(6), Num(kSprite), Num(1), Num(8)}), ERR_WRONGUSAGE);
    EXPECT_EQ(Run("CreateSprite", {Num(6), Num(kSprite), Num(9)}), ERR_FINDSPRITE);
    EXPECT_EQ(Sprite(6), nullptr);
    // A numeric id in use is taken over, unless its sprite is locked.
    ASSERT_EQ(Run("RemoveSprites", {}), 0);
    ASSERT_EQ(Run("CreateSprite", {Num(4), Num(kBrush), Num(1), Num(16), Num(8)}), 0);
    EXPECT_EQ(Sprite(4)->height, 8);
    Sprite(4)->locked = 1;
    EXPECT_EQ(Run("CreateSprite", {Num(4), Num(kBrush), Num(1)}), ERR_LOCKEDOBJ);
    Sprite(4)->locked = 0;
}

// Declarations of one file decode it once: the first loads it into the gfx cache, a later
// one takes it from there, whether a brush or a sprite comes first.
TEST_F(SpriteLoading, DeclaredPicturesShareOneDecode) {
    REQUIRE_PIL();
    const qvAttrSet preloading[] = {{QV_ATTR_PRELOADING, 1}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, preloading);
    namespace fs = std::filesystem;
    struct Step {
        const char* command;
        const char* file;
        std::vector<std::pair<Arg, Arg>> options;
    };
    const std::vector<std::pair<Arg, Arg>> sheetCut = {{Str("frames"), Num(4)},
                                                       {Str("fpr"), Num(2)}};
    auto with = [](std::vector<std::pair<Arg, Arg>> options, const char* flag) {
        options.push_back({Str(flag), Num(1)});
        return options;
    };
    const std::vector<std::vector<Step>> orders = {
        {{"LoadSprite", "sheet.png", with(sheetCut, "cache")}, {"LoadBrush", "sheet.png", {}}},
        {{"LoadBrush", "strip.png", {{Str("cache"), Num(1)}}},
         {"LoadSprite", "strip.png", {{Str("frames"), Num(4)}}}},
        {{"LoadSprite", "anim.gif", {{Str("cache"), Num(1)}}},
         {"LoadSprite", "anim.gif", {{Str("frames"), Num(2)}, {Str("width"), Num(4)}}}},
    };
    double id = 1;
    for (const std::vector<Step>& order : orders) {
        ASSERT_EQ(
            Run(order[0].command, {Num(id++), Str(File(order[0].file)), Table(order[0].options)}),
            0);
        // Gone from the disk, the file still serves the later declaration.
        fs::remove(File(order[1].file));
        ASSERT_EQ(Run(order[1].command, {Num(id++), Str(File(order[1].file)),
                                         Table(with(order[1].options, "cachedload"))}),
                  0)
            << order[1].command << " " << order[1].file;
    }
    EXPECT_EQ(Sprite(4)->frameCount, 4);
    EXPECT_EQ(Sprite(6)->frameCount, 2);
    EXPECT_EQ(
        Run("LoadSprite", {Num(7), Str(File("nothing.png")), Table({{Str("cachedload"), Num(1)}})}),
        ERR_CACHEERROR);
    FlushGfxCache();
}

// Collision of shown sprites tests the pixels of their current frames; a sprite that is not
// shown gives the code RemoveSprite gives.
TEST_F(SpriteLoading, CollisionsOfShownSprites) {
    REQUIRE_PIL();
    // Sprite 1: its left half masked; sprite 2: a solid 2 x 2.
    ASSERT_EQ(Load(1, "keyed.png", {{Str("transparency"), Num(0xFF00FF)}}), 0);
    ASSERT_EQ(Run("CreateBrush", {Num(1), Num(2), Num(2), Num(kRed)}), 0);
    ASSERT_EQ(Run("CreateSprite", {Num(2), Num(kBrush), Num(1)}), 0);
    ASSERT_EQ(Run("CreateSprite", {Num(3), Num(kBrush), Num(1)}), 0);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(10), Num(10)}), 0);
    struct Case {
        int32_t x, y;
        double collided;
    };
    const Case cases[] = {
        {11, 11, 0},  // over the masked half only
        {13, 13, 1},  // its right pixel on the first opaque column
        {17, 17, 1},  // the last pixel
        {18, 10, 0},  // beside
        {30, 30, 0},  // far apart
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Run("DisplaySprite", {Num(2), Num(c.x), Num(c.y)}), 0);
        EXPECT_EQ(Call("Collision", {Num(kSprite), Num(1), Num(2)}).Number(), c.collided) << c.x;
        EXPECT_EQ(Call("Collision", {Num(kSprite), Num(2), Num(1)}).Number(), c.collided) << c.x;
    }
    EXPECT_EQ(Call("Collision", {Num(kVsBox), Num(1), Num(10), Num(10), Num(4), Num(8)}).Number(),
              0);
    EXPECT_EQ(Call("Collision", {Num(kVsBox), Num(1), Num(0), Num(0), Num(15), Num(11)}).Number(),
              1);
    EXPECT_EQ(Call("Collision", {Num(kVsBox), Num(1), Num(18), Num(0), Num(9), Num(40)}).Number(),
              0);

    SetExitOnError(false);
    EXPECT_EQ(Call("Collision", {Num(kSprite), Num(1), Num(3)}).code, ERR_SPRITEONSCREEN);
    EXPECT_EQ(Call("Collision", {Num(kVsBox), Num(3), Num(0), Num(0), Num(1), Num(1)}).code,
              ERR_SPRITEONSCREEN);
    EXPECT_EQ(Call("Collision", {Num(kSprite), Num(9), Num(1)}).code, ERR_FINDSPRITE);
    EXPECT_EQ(Call("Collision", {Num(kSprite), LightUserdata(this), Num(1)}).code, ERR_FINDARRAY);
    const CallResult made = Call("CreateSprite", {Nil(), Num(kBrush), Num(1)});
    ASSERT_EQ(made.code, 0);
    ASSERT_FALSE(made.results.empty());
    const Arg handle = LightUserdata(const_cast<void*>(made.results[0].pointer));
    EXPECT_EQ(Call("Collision", {Num(kSprite), Num(1), handle}).code, ERR_SPRITEONSCREEN2);
}

// GetAttribute reads the sprite record and, while it is shown, its on-screen record.
TEST_F(SpriteLoading, GetAttributeReadsTheRecords) {
    REQUIRE_PIL();
    ASSERT_EQ(Load(1, "sheet.png", {{Str("frames"), Num(4)}, {Str("fpr"), Num(2)}}), 0);
    ASSERT_EQ(Load(2, "keyed.png", {{Str("transparency"), Num(0xFF00FF)}}), 0);
    ASSERT_EQ(Load(3, "half.png", {{Str("loadalpha"), Num(1)}}), 0);
    struct Case {
        double id;
        int32_t attribute;
        double value;
    };
    const Case before[] = {
        {1, 0, 8}, {1, 1, 8},  {1, 5, 4294967295.0}, {1, 11, 4}, {1, 16, 0}, {1, 17, 0}, {1, 23, 0},
        {1, 7, 0}, {1, 12, 0}, {2, 5, 0xFF00FF},     {2, 16, 1}, {3, 17, 1}, {1, 60, 3},
    };
    for (const Case& c : before) {
        EXPECT_EQ(Attribute(kSprite, Num(c.id), c.attribute), c.value)
            << c.id << " " << c.attribute;
    }
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(10), Num(12), Num(3)}), 0);
    const Case shown[] = {{1, 7, 10}, {1, 8, 12}, {1, 12, 3}, {1, 23, 1}, {2, 23, 0}};
    for (const Case& c : shown) {
        EXPECT_EQ(Attribute(kSprite, Num(c.id), c.attribute), c.value)
            << c.id << " " << c.attribute;
    }
    SetExitOnError(false);
    EXPECT_EQ(Call("GetAttribute", {Num(kSprite), Num(9), Num(0)}).code, ERR_FINDSPRITE);
    EXPECT_EQ(Call("GetAttribute", {Num(kSprite), LightUserdata(this), Num(0)}).code,
              ERR_FINDARRAY);
    EXPECT_EQ(Call("GetAttribute", {Num(kSprite), Num(1), Num(9)}).code, ERR_UNKNOWNATTR);
}

// ScaleSprite refuses a sprite it may not change before it looks at the size.
TEST_F(SpriteLoading, ScaleSpriteChecksTheSpriteBeforeTheSize) {
    REQUIRE_PIL();
    ASSERT_EQ(Load(1, "strip.png", {{Str("frames"), Num(4)}}), 0);
    ASSERT_EQ(Load(2, "strip.png", {}), 0);
    ASSERT_EQ(Run("DisplaySprite", {Num(1), Num(0), Num(0)}), 0);
    SetExitOnError(false);
    EXPECT_EQ(Run("ScaleSprite", {Num(1), Num(0), Num(4)}), ERR_MODIFYSPRITE);
    Sprite(2)->locked = 1;
    EXPECT_EQ(Run("ScaleSprite", {Num(2), Num(0), Num(4)}), ERR_LOCKEDOBJ);
    Sprite(2)->locked = 0;
    EXPECT_EQ(Run("ScaleSprite", {Num(9), Num(0), Num(4)}), ERR_FINDSPRITE);
    EXPECT_EQ(Run("ScaleSprite", {Num(2), Num(0), Num(4)}), ERR_BADDIMENSIONS);
    EXPECT_EQ(Run("ScaleSprite", {Num(2), Num(16), Num(4)}), 0);
}

}  // namespace
}  // namespace qv::testing
