// The compositor in the screen format of the run: a stack of every kind of layer against the
// reference compositor, blends worked out by hand, the debug texts, the background's source,
// parts of objects, sprites, and the geometry helpers.
#include <cstring>
#include <functional>

#include "platform/linux/debug_output.h"
#include "scene/layers/transform_matrix.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

struct Area {
    int32_t x, y, w, h;
};

// A picture whose colour follows its coordinates.
Planes Pattern(int32_t width, int32_t height, uint32_t seed) {
    Planes p = Solid(width, height, 0);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            p.rgb[size_t(y) * width + x] =
                (seed + uint32_t(x) * 0x0B0301 + uint32_t(y) * 0x010D07) & 0xFFFFFF;
        }
    }
    return p;
}

class Compositor : public LayerFixture {
protected:
    // A clip region of the rectangle, shaped when shape has bits (one byte per pixel).
    qvClipRegion* Region(const RefRegion& r) {
        auto* region = static_cast<qvClipRegion*>(AllocMemBlock(sizeof(qvClipRegion), 1));
        region->x = r.x, region->y = r.y, region->width = r.width, region->height = r.height;
        if (!r.shape.empty()) {
            region->mask = AllocMaskBitMap(nullptr, r.width, r.height, 1);
            region->maskBytesPerRow = region->mask->bytesPerRow;
            for (int32_t y = 0; y < r.height; ++y) {
                for (int32_t x = 0; x < r.width; ++x) {
                    if (r.shape[size_t(y) * r.width + x] != 0) PlotPixel(region->mask, x, y, 0);
                }
            }
        }
        regions_.emplace_back(region);
        return region;
    }

    // Adds the layer to the scene and to the reference.
    void Add(const RefLayer& ref) {
        qvDrawStyle style = Style(ref.transparency);
        style.hidden = ref.hidden;
        qvLayer* layer = scene.AddLayer(L, *ref.planes, ref.x, ref.y, &style);
        ASSERT_NE(layer, nullptr);
        if (ref.region != nullptr) layer->sourceItem->clipRegion = Region(*ref.region);
        reference.Paint(ref);
    }

    ReferenceCompositor reference{ScreenFormat(), Background()};

private:
    struct RegionFree {
        void operator()(qvClipRegion* r) const {
            FreePlaneBitMap(r->mask);
            FreeMemBlock(r);
        }
    };
    std::vector<std::unique_ptr<qvClipRegion, RegionFree>> regions_;
};

TEST_F(Compositor, AStackOfEveryKindMatchesTheReference) {
    const Planes opaque = Pattern(20, 16, 0x204060);
    const Planes checker =
        Masked(Pattern(16, 16, 0xC08020), [](int32_t x, int32_t y) { return (x + y) % 2 == 0; });
    const Planes half = Masked(Pattern(12, 10, 0x30F0A0), [](int32_t x, int32_t) { return x < 6; });
    Planes ramp = Pattern(16, 8, 0xF02010);
    ramp.alpha.resize(size_t(16) * 8);
    for (size_t i = 0; i < ramp.alpha.size(); ++i) ramp.alpha[i] = uint8_t((i % 16) * 17);
    const Planes white = Solid(16, 16, 0xFFFFFF);
    const Planes hidden = Solid(10, 10, 0x123456);
    Planes shapedSource = Pattern(20, 20, 0x55AA33);
    RefRegion diagonal{46, 28, 12, 12, {}};
    diagonal.shape.resize(size_t(12) * 12);
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 12; ++x) diagonal.shape[size_t(y) * 12 + x] = x >= y ? 1 : 0;
    }
    const RefRegion box{4, 36, 9, 5, {}};
    Planes fadedRamp = ramp;

    Add({&opaque, 2, 2});
    Add({&checker, 10, 6});
    Add({&half, 30, 4});
    Add({&ramp, 40, 20});
    Add({&white, 20, 24, 0, 0, -1, -1, 128});
    Add({&shapedSource, 44, 26, 0, 0, -1, -1, 0, false, &diagonal});
    Add({&hidden, 0, 30, 0, 0, -1, -1, 0, true});
    Add({&checker, 2, 32, 0, 0, -1, -1, 64});
    Add({&fadedRamp, 1, 34, 0, 0, -1, -1, 100, false, &box});
    Add({&opaque, 40, 22, 0, 0, -1, -1, 77, false, &diagonal});
    Add({&half, 58, 44});  // partly outside the picture
    // A sprite on top, through its mask.
    const Planes sprite =
        Masked(Pattern(6, 6, 0x0F0F0F), [](int32_t x, int32_t y) { return x != y; });
    objects.sprites[1] = MakePlanes(sprite);
    scene.AddSprite(1, 25, 27, 6, 6);
    reference.Paint({&sprite, 25, 27});

    EXPECT_EQ(Shown(), reference.Pixels());
    // Any rectangle recomposes to the same pixels.
    OwnedBitMap part(AllocDisplayBitMap(scene.width, scene.height));
    for (const Area& a : {Area{0, 0, 64, 48}, Area{41, 27, 9, 9}, Area{5, 33, 1, 1}}) {
        RectFill(part.get(), 0, 0, scene.width, scene.height, 0);
        Redraw(L, scene.Display(), scene.picture, part.get(), a.x, a.y, a.w, a.h, 0, 0);
        for (int32_t y = a.y; y < a.y + a.h; ++y) {
            for (int32_t x = a.x; x < a.x + a.w; ++x) {
                ASSERT_EQ(ReadBitMapPixel(part.get(), x, y),
                          reference.Pixels()[size_t(y) * scene.width + x])
                    << x << "," << y;
            }
        }
    }
}

TEST_F(Compositor, TransparencyBlendsAsWorkedOutByHand) {
    scene.AddLayer(L, Solid(4, 4, 0x000080), 0, 0, nullptr, -1);
    scene.AddLayer(L, Solid(4, 4, 0xFF0000), 4, 0, nullptr, -1);
    qvDrawStyle style = Style(128);
    ASSERT_NE(scene.AddLayer(L, Solid(8, 4, 0xFFFFFF), 0, 0, &style), nullptr);
    const std::vector<uint32_t> shown = Shown();
    // s + (((d - s) x 128) >> 8) per channel, on the channels the format keeps: white over
    // blue is 255 - 128 and 255 - 64; over red 255 and 255 - 128.
    const struct {
        uint32_t format;
        uint32_t overBlue, overRed;
    } cases[] = {
        {4, 0x787CB8, 0xF87C78},  // 248, 252, 248 over 0, 0, 128 and over 248, 0, 0
        {8, 0x7F7FBF, 0xFF7F7F},
        {10, 0x7F7FBF, 0xFF7F7F},
    };
    for (const auto& c : cases) {
        if (c.format != ScreenFormat()) continue;
        EXPECT_EQ(shown[size_t(1) * scene.width + 1], c.overBlue);
        EXPECT_EQ(shown[size_t(2) * scene.width + 6], c.overRed);
    }
}

TEST_F(Compositor, BadRectanglesWriteTheirTextAndPaintNothing) {
    const char* kSize = "ERROR! REDRAW CALLED WITH WIDTH/HEIGHT <= 0\n";
    const char* kNegative = "ERROR! REDRAW CALLED WITH NEGATIVE X/Y COORDINATES\n";
    const char* kNoDest = "ERROR! REDRAW CALLED WITHOUT DSTBM\n";
    OwnedBitMap dest(AllocDisplayBitMap(64, 48));
    const struct {
        int32_t x, y, width, height;
        bool withDest;
        std::string text;
    } cases[] = {
        {0, 0, 0, 5, true, kSize},      {-1, 0, 0, 5, true, kSize},
        {-1, 0, 5, 5, true, kNegative}, {0, -3, 5, 5, false, kNegative},
        {0, 0, 5, 5, false, kNoDest},   {64, 0, 5, 5, true, ""},  // starts beyond the picture
        {10, 48, 5, 5, true, ""},                                 // below it
    };
    for (const auto& c : cases) {
        RectFill(dest.get(), 0, 0, 64, 48, 0x0000F8);
        DebugCapture capture;
        EXPECT_EQ(Redraw(L, scene.Display(), scene.picture, c.withDest ? dest.get() : nullptr, c.x,
                         c.y, c.width, c.height, 0, 0),
                  0);
        EXPECT_EQ(capture.Text(), c.text) << c.x << "," << c.y << " " << c.width;
        EXPECT_EQ(ReadPixels(dest.get(), 64, 48), std::vector<uint32_t>(64 * 48, 0x0000F8));
    }
}

TEST_F(Compositor, ALayerOutsideItsClipRegionIsSkippedAlone) {
    const Planes red = Solid(10, 10, 0xF80000), blue = Solid(10, 10, 0x0000F8);
    const RefRegion far{100, 100, 5, 5, {}};
    Add({&red, 0, 0, 0, 0, -1, -1, 0, false, &far});
    Add({&blue, 5, 5});
    EXPECT_EQ(Shown(), reference.Pixels());
    EXPECT_EQ(scene.Window()[0], reference.Stored(Background().At(0, 0)));
}

TEST_F(Compositor, PartsOfBrushesAndPicturesShowTheirPart) {
    // A brush of four quadrants; the part from (8, 0) is its top right quadrant.
    Planes quadrants = Solid(16, 16, 0);
    for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 16; ++x) {
            quadrants.rgb[size_t(y) * 16 + x] =
                x < 8 ? (y < 8 ? 0xF80000u : 0x00FC00u) : (y < 8 ? 0x0000F8u : 0xF8FC00u);
        }
    }
    objects.brushes[3] = MakePlanes(quadrants);
    ASSERT_NE(scene.AddBrushPart(L, 3, 8, 0, 1, 1, 8, 8), nullptr);
    ASSERT_NE(scene.AddBrushPart(L, 3, 0, 0, 20, 1, 16, 16), nullptr);
    // A picture part: the bottom half of another picture.
    scene::BGPicParts parts;
    parts.bitmap = MakePlanes(Solid(10, 10, 0x00FCF8)).bitmap;
    RectFill(parts.bitmap.get(), 0, 0, 10, 5, 0xF800F8);
    parts.width = parts.height = 10;
    qvObjectId id{42, nullptr};
    qvBGPic* other = nullptr;
    ASSERT_EQ(AddBGPic(&id, &parts, &other), 0);
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBGPicPart, &id, 0, 5, 40, 1, 10, 5, nullptr, nullptr,
                            nullptr, nullptr, nullptr, -1, 0),
              0);
    const std::vector<uint32_t> shown = Shown();
    auto at = [&](int32_t x, int32_t y) { return shown[size_t(y) * scene.width + x]; };
    EXPECT_EQ(at(1, 1), 0x0000F8u);
    EXPECT_EQ(at(8, 8), 0x0000F8u);
    EXPECT_EQ(at(20, 1), 0xF80000u);
    EXPECT_EQ(at(35, 16), 0xF8FC00u);
    EXPECT_EQ(at(40, 1), 0x00FCF8u);
    EXPECT_EQ(at(49, 5), 0x00FCF8u);
    EXPECT_EQ(at(40, 6), reference.Stored(Background().At(40, 6)));
}

TEST_F(Compositor, LayersThatCannotShowAnImageAreSkipped) {
    scene.AddBrushPart(L, 99, 0, 0, 0, 0, 8, 8);  // no such brush
    qvLayerPicture image;
    qvLayer* missing = GetLayerByIndex(scene.picture, 1);
    EXPECT_EQ(GetLayerImage(L, missing, missing->displayItem, 1, 1, -1, &image), ERR_FINDBRUSH);
    missing->type = gfx::kTypeNoObject;
    EXPECT_EQ(GetLayerImage(L, missing, missing->displayItem, 1, 1, -1, &image), ERR_WRONGUSAGE);
    missing->type = gfx::kTypeBox;
    EXPECT_EQ(GetLayerImage(L, missing, missing->displayItem, 1, 1, -1, &image), ERR_WRONGUSAGE);
    EXPECT_EQ(Shown(), reference.Pixels());
}

TEST_F(Compositor, TheBackgroundComesFromWhereTheFlagsSay) {
    RectFill(scene.displayBitmap.get(), 0, 0, 64, 48, 0x00FC00);
    OwnedPlanes scaled = MakePlanes(Solid(64, 48, 0xF800F8));
    scene.picture->scaled.bitmap = scaled.bitmap.get();
    OwnedBitMap dest(AllocDisplayBitMap(64, 48));
    const uint32_t picture = reference.Stored(Background().At(3, 3));
    const struct {
        int flags;
        uint32_t expected;
    } cases[] = {
        {0, 0x00FC00},
        {QV_REDRAW_DISPLAYBACKGROUND, 0x00FC00},
        {QV_REDRAW_PICTUREBACKGROUND, picture},
        {QV_REDRAW_PICTURESIZE, 0xF800F8},
    };
    for (const auto& c : cases) {
        RectFill(dest.get(), 0, 0, 64, 48, 0);
        Redraw(L, scene.Display(), scene.picture, dest.get(), 0, 0, 64, 48, 0, c.flags);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 3, 3), c.expected) << c.flags;
    }
    // A picture the display does not show takes its own background unless asked.
    Redraw(L, nullptr, scene.picture, dest.get(), 0, 0, 64, 48, 0, 0);
    EXPECT_EQ(ReadBitMapPixel(dest.get(), 3, 3), picture);
    scene.picture->scaled.bitmap = scene.picture->base.bitmap;
}

TEST_F(Compositor, SpritesArePaintedOverTheLayersUnlessTheFlagsSayOtherwise) {
    scene.AddLayer(L, Solid(10, 10, 0xF80000), 0, 0);
    objects.sprites[5] = MakePlanes(Solid(4, 4, 0x0000F8));
    scene.AddSprite(5, 2, 2, 4, 4);
    OwnedBitMap dest(AllocDisplayBitMap(64, 48));
    const struct {
        int flags;
        uint32_t underSprite, besideSprite;
    } cases[] = {
        {0, 0x0000F8, 0xF80000},
        {QV_REDRAW_NOSPRITES, 0xF80000, 0xF80000},
        {QV_REDRAW_SPRITESONLY, 0x0000F8, 0x00FC00},
    };
    for (const auto& c : cases) {
        RectFill(dest.get(), 0, 0, 64, 48, 0x00FC00);
        Redraw(L, scene.Display(), scene.picture, dest.get(), 0, 0, 64, 48, 0, c.flags);
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 3, 3), c.underSprite) << c.flags;
        EXPECT_EQ(ReadBitMapPixel(dest.get(), 8, 8), c.besideSprite) << c.flags;
    }
}

TEST_F(Compositor, ALayerIsUncoveredWhenNoVisibleLayerAboveMeetsIt) {
    qvLayer* base = scene.AddLayer(L, Solid(10, 10, 0xF80000), 0, 0);
    qvLayer* touching = scene.AddLayer(L, Solid(5, 5, 0x00FC00), 9, 9);
    EXPECT_EQ(IsLayerUncovered(scene.picture, base), 0);
    EXPECT_EQ(IsLayerUncovered(scene.picture, touching), 1);
    touching->hidden = 1;
    EXPECT_EQ(IsLayerUncovered(scene.picture, base), 1);
    touching->hidden = 0;
    MoveLayerTo(L, touching, nullptr, 10, 0, 1, 0, nullptr);
    EXPECT_EQ(IsLayerUncovered(scene.picture, base), 1);
}

// A layer that covers the redrawn area opaquely lets Redraw start from it; every case
// composes into a poisoned destination and must give what full composition gives, and the
// near misses must fall through to the opaque layer below (built caches stay unbuilt).
TEST_F(Compositor, ComposingFromAnOpaqueCoverGivesThePixelsOfEverything) {
    const scene::LayerRect area{10, 10, 20, 16};
    const Planes whole = Pattern(20, 16, 0x204060);
    objects.brushes[7] = MakePlanes(whole);
    enum Result { kCandidate, kBelow };
    const struct {
        const char* name;
        Result cover;
        Planes planes;
        int32_t x = 10, y = 10;
        uint32_t transparency = 0;
        bool hidden = false, shadow = false, border = false, turned = false, brush = false;
    } cases[] = {
        {"opaque", kCandidate, whole},
        {"larger", kCandidate, Pattern(30, 30, 0x601020), 5, 2},
        {"brush lookup", kCandidate, whole, 10, 10, 0, false, false, false, false, true},
        {"mask", kBelow, Masked(whole, [](int32_t x, int32_t y) { return x != 3 || y != 4; })},
        {"alpha", kBelow,
         [&] {
             Planes p = whole;
             p.alpha.assign(p.rgb.size(), 255);
             return p;
         }()},
        {"transparency 1", kBelow, whole, 10, 10, 1},
        {"shadow", kBelow, whole, 10, 10, 0, false, true},
        {"border", kBelow, whole, 10, 10, 0, false, false, true},
        {"one pixel short", kBelow, Pattern(19, 16, 0x204060)},
        {"one pixel late", kBelow, whole, 10, 11},
        {"hidden", kBelow, whole, 10, 10, 0, true},
        {"turned", kBelow, whole, 10, 10, 0, false, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreeLayerList(L, scene.picture);
        qvLayer* below = scene.AddLayer(L, Pattern(40, 40, 0x103050), 0, 0);
        qvDrawStyle style = Style(c.transparency);
        style.hidden = c.hidden ? 1 : 0;
        style.shadow.on = c.shadow ? 1 : 0;
        style.border.on = c.border ? 1 : 0;
        qvLayer* candidate = nullptr;
        if (c.brush) {
            candidate = scene.AddBrushPart(L, 7, 0, 0, c.x, c.y, 20, 16, &style);
        } else if (c.turned) {
            qvDrawTransform turn = kInitialDrawTransform;
            turn.rotate = 90, turn.hasTransform = 1;
            MakeTransformMatrix(turn.matrix, 0, 0, 30, 30, 90, 1, 1);
            OwnedPlanes own = MakePlanes(Pattern(30, 30, 0x601020));
            ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, 5, 2, 30, 30, &turn, &style,
                                    own.bitmap.release(), nullptr, nullptr, -1, 0),
                      0);
            candidate = reinterpret_cast<qvLayer*>(scene.picture->layers.tailPred);
        } else {
            candidate = scene.AddLayer(L, c.planes, c.x, c.y, &style);
        }
        ASSERT_NE(candidate, nullptr);
        // Painted over whatever start is taken.
        scene.AddLayer(L, Masked(Solid(8, 8, 0x0000F8), [](int32_t x, int32_t) { return x < 4; }),
                       14, 14);
        // Adding painted the layer; the decision must not build what that built.
        FreeLayerBorderCache(candidate);
        FreeLayerCaches(candidate);
        EXPECT_EQ(scene::TopOpaqueCover(L, scene.picture, area, false),
                  c.cover == kCandidate ? candidate : below);
        EXPECT_EQ(candidate->displayItem->shadowPlane, nullptr);
        EXPECT_EQ(candidate->displayItem->border.bitmap, nullptr);

        OwnedBitMap dest(AllocDisplayBitMap(64, 48));
        RectFill(dest.get(), 0, 0, 64, 48, 0xF800F8);
        Redraw(L, scene.Display(), scene.picture, dest.get(), area.x, area.y, area.width,
               area.height, 0, 0);
        const std::vector<uint32_t> full = scene.Recomposed(L);
        for (int32_t y = area.y; y < area.y + area.height; ++y) {
            for (int32_t x = area.x; x < area.x + area.width; ++x) {
                ASSERT_EQ(ReadBitMapPixel(dest.get(), x, y), full[size_t(y) * 64 + x])
                    << x << "," << y;
            }
        }
    }
}

// Composing an area gives a bitmap's pixels unchanged only where the top layer shows exactly
// that bitmap from that place, opaque, with no sprite over it.
TEST_F(Compositor, TheTopLayerShowsABitmapAloneOnlyWhereNothingElsePaints) {
    objects.brushes[7] = MakePlanes(Pattern(20, 16, 0x204060));
    const qvDisplayBitMap* brush = objects.brushes[7].bitmap.get();
    const OwnedBitMap other(AllocDisplayBitMap(20, 16));
    const auto brushOnTop = [&] { scene.AddBrushPart(L, 7, 0, 0, 10, 10, 20, 16); };
    const struct {
        const char* name;
        std::function<void()> arrange;
        scene::LayerRect area;
        int32_t srcX, srcY;
        bool otherBitmap, shows;
    } cases[] = {
        {"whole", brushOnTop, {10, 10, 20, 16}, 0, 0, false, true},
        {"inside", brushOnTop, {12, 11, 5, 4}, 2, 1, false, true},
        {"another place", brushOnTop, {12, 11, 5, 4}, 0, 0, false, false},
        {"another bitmap", brushOnTop, {10, 10, 20, 16}, 0, 0, true, false},
        {"reaching out", brushOnTop, {10, 10, 21, 16}, 0, 0, false, false},
        {"a part",
         [&] { scene.AddBrushPart(L, 7, 3, 2, 10, 10, 10, 8); },
         {10, 10, 10, 8},
         3,
         2,
         false,
         true},
        {"a layer above elsewhere",
         [&] {
             brushOnTop();
             scene.AddLayer(L, Solid(4, 4, 0xF80000), 40, 30);
         },
         {10, 10, 20, 16},
         0,
         0,
         false,
         false},
        {"masked",
         [&] {
             scene.AddLayer(
                 L, Masked(Pattern(20, 16, 0x204060), [](int32_t, int32_t) { return true; }), 10,
                 10);
         },
         {10, 10, 20, 16},
         0,
         0,
         false,
         false},
        {"only the layer below", [] {}, {10, 10, 20, 16}, 0, 0, false, false},
        {"under a sprite",
         [&] {
             brushOnTop();
             objects.sprites[1] = MakePlanes(Solid(4, 4, 0x0000F8));
             scene.AddSprite(1, 28, 24, 4, 4);
         },
         {10, 10, 20, 16},
         0,
         0,
         false,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreeLayerList(L, scene.picture);
        scene.AddLayer(L, Pattern(40, 40, 0x103050), 0, 0);
        c.arrange();
        EXPECT_EQ(scene::TopLayerShowsAlone(L, scene.picture, c.area,
                                            c.otherBitmap ? other.get() : brush, c.srcX, c.srcY),
                  c.shows);
    }
}

TEST(Geometry, RectanglesOverlapAndUnite) {
    EXPECT_TRUE(RectsOverlap(0, 0, 9, 9, 9, 9, 20, 20));
    EXPECT_FALSE(RectsOverlap(0, 0, 9, 9, 10, 0, 20, 9));
    EXPECT_FALSE(RectsOverlap(0, 10, 9, 19, 0, 0, 9, 9));
    int32_t x = 5, y = 5, w = 2, h = 2;
    UnionRects(&x, &y, &w, &h, -3, 6, 1, 10);
    EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{-3, 5, 10, 11}));
}

}  // namespace
}  // namespace qv::testing
