// Filters, shadows and borders of layers: the filter pass's order, argument mapping and
// failures (watched by a kernel spy), the caches the compositor keeps, where shadows lie, the
// border and shadow planes against the graphics engine's kernels called directly, and the
// pixels of shadowed and bordered layers against the reference compositor.
#include <cmath>
#include <limits>

#include "gfx/blit_frontends.h"
#include "gfx/library/object_types.h"
#include "gfx/spatial_filters.h"
#include "platform/linux/memory.h"
#include "scene/layers/filter_pass.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/layer_effects.h"
#include "scene/layers/transform_matrix.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

// Records every kernel call of the filter pass; the call numbered failAt (from 1) fails with
// ERR_MEM instead of running.
struct KernelSpy {
    std::vector<qvFilterCall> calls;
    size_t failAt = 0;

    KernelSpy() {
        active = this;
        scene::SetFilterKernel(Run);
    }
    ~KernelSpy() {
        scene::SetFilterKernel(nullptr);
        active = nullptr;
    }
    std::vector<int> Slots() const {
        std::vector<int> slots;
        for (const qvFilterCall& c : calls) slots.push_back(c.slot);
        return slots;
    }

private:
    static int Run(const qvFilterCall& call, qvDisplayBitMap* b, qvPlaneBitMap* m, qvPlaneBitMap* a,
                   int32_t w, int32_t h) {
        active->calls.push_back(call);
        if (active->calls.size() == active->failAt) return ERR_MEM;
        return RunFilterKernel(call, b, m, a, w, h);
    }
    static inline KernelSpy* active = nullptr;
};

qvLayerFilter Slot(uint8_t priority, std::initializer_list<int32_t> ints = {},
                   std::initializer_list<float> reals = {}) {
    qvLayerFilter f{1, priority, {}, {}};
    std::copy(ints.begin(), ints.end(), f.ints);
    std::copy(reals.begin(), reals.end(), f.reals);
    return f;
}

std::vector<uint8_t> PlaneBytes(const qvPlaneBitMap* plane) {
    std::vector<uint8_t> bytes;
    for (int32_t y = 0; y < plane->height; ++y) {
        const uint8_t* row = plane->plane + ptrdiff_t(y) * plane->bytesPerRow;
        bytes.insert(bytes.end(), row, row + plane->width);
    }
    return bytes;
}

TEST(FilterPass, EachSlotCallsItsKernelWithItsArguments) {
    const qvLayerFilter f = Slot(0, {7, 3, 9}, {6.0f, 2.0f, 150.0f});
    const struct {
        int slot;
        std::array<int32_t, 3> ints;
        std::array<double, 3> reals;
    } cases[] = {
        {kFilterBlur, {}, {6, 2, 0}},
        {kFilterCharcoal, {}, {6, 1, 0}},
        {kFilterContrast, {7, 3}, {}},
        {kFilterEdge, {}, {6, 0, 0}},
        {kFilterEmboss, {}, {6, 1, 0}},
        {kFilterGamma, {}, {6, 2, 150}},
        {kFilterGrayscale, {}, {}},
        {kFilterInvert, {}, {}},
        {kFilterModulate, {}, {0.06, 0.02, 1.5}},
        {kFilterMonochrome, {7}, {}},
        {kFilterOilPaint, {}, {6, 0, 0}},
        {kFilterPixelate, {7}, {}},
        {kFilterSepia, {7}, {}},
        {kFilterSharpen, {}, {6, 1, 0}},
        {kFilterSolarize, {7}, {}},
        {kFilterSwirl, {7}, {}},
        {kFilterTint, {7, 3}, {}},
        {kFilterWaterRipple, {7, 3, 9}, {6, 2, 0}},
        {kFilterXFlip, {}, {}},
        {kFilterYFlip, {}, {}},
    };
    for (const auto& c : cases) {
        const qvFilterCall call = MapLayerFilter(c.slot, f, 16, 16);
        EXPECT_EQ(call.slot, c.slot);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(call.ints[i], c.ints[size_t(i)]) << qvLayerFilterNames[c.slot] << " " << i;
            EXPECT_NEAR(call.reals[i], c.reals[size_t(i)], 1e-6)
                << qvLayerFilterNames[c.slot] << " " << i;
        }
    }
    // Every slot runs its kernel once, in slot order when the priorities are equal.
    qvLayerFilter all[kLayerFilterCount];
    for (qvLayerFilter& slot : all) slot = Slot(0, {2, 1, 0}, {1.0f, 1.0f, 1.0f});
    OwnedBitMap bitmap(AllocDisplayBitMap(6, 6));
    KernelSpy spy;
    EXPECT_EQ(ApplyLayerFilters(all, bitmap.get(), nullptr, nullptr, 6, 6), 0);
    std::vector<int> order(kLayerFilterCount);
    for (int i = 0; i < kLayerFilterCount; ++i) order[size_t(i)] = i;
    EXPECT_EQ(spy.Slots(), order);
}

TEST(FilterPass, RunsByPriorityThenSlotOrderAndStopsAtTheFirstFailure) {
    OwnedBitMap bitmap(AllocDisplayBitMap(4, 4));
    const struct {
        uint8_t blur, invert, sepia;
        std::vector<int> order;
    } cases[] = {
        {10, 200, 0, {kFilterInvert, kFilterBlur, kFilterSepia}},
        {50, 50, 50, {kFilterBlur, kFilterInvert, kFilterSepia}},
        {0, 0, 255, {kFilterSepia, kFilterBlur, kFilterInvert}},
    };
    for (const auto& c : cases) {
        qvLayerFilter slots[kLayerFilterCount]{};
        slots[kFilterBlur] = Slot(c.blur, {}, {1.0f});
        slots[kFilterInvert] = Slot(c.invert);
        slots[kFilterSepia] = Slot(c.sepia, {80});
        {
            KernelSpy spy;
            EXPECT_EQ(ApplyLayerFilters(slots, bitmap.get(), nullptr, nullptr, 4, 4), 0);
            EXPECT_EQ(spy.Slots(), c.order);
        }
        KernelSpy failing;
        failing.failAt = 2;
        EXPECT_EQ(ApplyLayerFilters(slots, bitmap.get(), nullptr, nullptr, 4, 4), ERR_MEM);
        EXPECT_EQ(failing.Slots(), (std::vector<int>{c.order[0], c.order[1]}));
    }
}

// The slots keep what was given; the kernels see only what they can take.
TEST(FilterPass, ArgumentsAreBroughtIntoTheKernelsRange) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        int slot;
        qvLayerFilter filter;
        int32_t width, height;
        int32_t int0, int1;
        double real0;
    } cases[] = {
        {kFilterPixelate, Slot(0, {0}), 8, 4, 1, 0, 0},
        {kFilterPixelate, Slot(0, {100}), 8, 4, 4, 0, 0},
        {kFilterPixelate, Slot(0, {-3}), 8, 4, 1, 0, 0},
        {kFilterBlur, Slot(0, {}, {-5.0f}), 8, 8, 0, 0, 0},
        {kFilterBlur, Slot(0, {}, {nan}), 8, 8, 0, 0, 0},
        {kFilterOilPaint, Slot(0, {}, {-1.0f}), 8, 8, 0, 0, 0},
        {kFilterContrast, Slot(0, {1, 0}), 8, 8, 1, 1, 0},
        {kFilterSepia, Slot(0, {300}), 8, 8, 255, 0, 0},
        {kFilterSolarize, Slot(0, {-4}), 8, 8, 0, 0, 0},
        {kFilterTint, Slot(0, {0xFF, 999}), 8, 8, 0xFF, 256, 0},
        {kFilterModulate, Slot(0, {}, {-50.0f}), 8, 8, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const qvFilterCall call = MapLayerFilter(c.slot, c.filter, c.width, c.height);
        EXPECT_EQ(call.ints[0], c.int0) << qvLayerFilterNames[c.slot];
        EXPECT_EQ(call.ints[1], c.int1) << qvLayerFilterNames[c.slot];
        EXPECT_EQ(call.reals[0], c.real0) << qvLayerFilterNames[c.slot];
    }
    // Pixelate 0 and blur -5 run on a picture and leave it whole.
    OwnedBitMap bitmap(AllocDisplayBitMap(8, 4));
    RectFill(bitmap.get(), 0, 0, 8, 4, 0x336699);
    qvLayerFilter slots[kLayerFilterCount]{};
    slots[kFilterPixelate] = Slot(0, {0});
    slots[kFilterBlur] = Slot(0, {}, {-5.0f});
    EXPECT_EQ(ApplyLayerFilters(slots, bitmap.get(), nullptr, nullptr, 8, 4), 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 3, 2), ReadBitMapPixel(bitmap.get(), 0, 0));
}

class LayerEffects : public LayerFixture {
protected:
    // A style with the shadow and the border as asked, everything else off.
    static qvDrawStyle Styled(bool shadow, bool border) {
        qvDrawStyle style = Style();
        style.shadow = {shadow ? 1 : 0, 0x40102030, 3, 3, 4.0, 4.0 / 3.0};
        style.border = {border ? 1 : 0, 0xF0E010, 2};
        return style;
    }

    qvLayerItem* Item(qvLayer* layer) { return layer->displayItem; }

    // A 12 x 10 picture whose mask keeps a diamond.
    static Planes Diamond() {
        return Masked(Solid(12, 10, 0x2080F0),
                      [](int32_t x, int32_t y) { return std::abs(x - 6) + std::abs(y - 5) < 5; });
    }
    static Planes AlphaRamp() {
        Planes p = Solid(12, 10, 0xE04010);
        p.alpha.resize(size_t(12) * 10);
        for (size_t i = 0; i < p.alpha.size(); ++i) p.alpha[i] = uint8_t((i % 12) * 20);
        return p;
    }
};

TEST_F(LayerEffects, AShadowLiesWhereItsDirectionAndTheDisplayScaleSay) {
    qvDrawStyle style = Styled(true, false);
    style.shadow.size = 4, style.shadow.radius = 5.0;
    qvLayer* layer = scene.AddLayer(L, Solid(4, 4, 0xFF0000), 10, 10, &style);
    ASSERT_NE(layer, nullptr);
    const int32_t s = 4, r = 5;
    const int32_t dx[8] = {0, s, s, s, 0, -s, -s, -s}, dy[8] = {-s, -s, 0, s, s, s, 0, -s};
    for (int32_t direction = 0; direction < 8; ++direction) {
        layer->shadow.direction = direction;
        const scene::LayerRect shadow = scene::ShadowRect(layer, Item(layer), {});
        EXPECT_EQ(shadow.x, 10 - r + dx[direction]) << direction;
        EXPECT_EQ(shadow.y, 10 - r + dy[direction]) << direction;
        EXPECT_EQ(shadow.width, 4 + 2 * r);
        EXPECT_EQ(shadow.height, 4 + 2 * r);
    }
    // Direction 3, size 4 on a display scaled 2.0 x 1.0: 8 right, 4 down.
    layer->shadow.direction = 3;
    scene.scale = {2.0, 1.0, true};
    int32_t x, y, w, h;
    GetLayerBounds(L, layer, Item(layer), &x, &y, &w, &h);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 10 - r + 4);
    EXPECT_EQ(x + w, 10 - r + 8 + 4 + 2 * r);
    EXPECT_EQ(y + h, 10 - r + 4 + 4 + 2 * r);
}

// The border's plane is the silhouette dilated by the size, softened again from size 4, for
// a mask and for an alpha plane alike; the bounds grow by the border and then the shadow.
TEST_F(LayerEffects, BorderPlanesAreTheDilatedSilhouette) {
    for (const bool alpha : {false, true}) {
        for (const int32_t size : {2, 5}) {
            const Planes planes = alpha ? AlphaRamp() : Diamond();
            qvDrawStyle style = Styled(true, true);
            style.border.size = size;
            qvLayer* layer = scene.AddLayer(L, planes, 20, 15, &style);
            ASSERT_NE(layer, nullptr);
            int32_t x, y, w, h;
            GetLayerBounds(L, layer, Item(layer), &x, &y, &w, &h);
            const qvLayerItem* item = Item(layer);
            ASSERT_NE(item->border.alpha, nullptr);
            EXPECT_EQ(item->borderDX, size);
            EXPECT_EQ(item->borderWidth, 12 + 2 * size);
            OwnedPlanes own = MakePlanes(planes);
            OwnedPlane expected(MakeShadowPlane(own.alpha.get(), own.mask.get(), 0, 0, 12, 10, 255,
                                                1, 0, size, size / 3.0));
            if (size >= 4) {
                ConvolveBitmap(QV_CONVOLVE_BLUR, nullptr, expected.get(), 12 + 2 * size,
                               10 + 2 * size, nullptr, size / 2.0, size / 6.0);
            }
            EXPECT_EQ(PlaneBytes(item->border.alpha), PlaneBytes(expected.get()))
                << alpha << " " << size;
            // Bounds: the border rectangle grown by the shadow (radius 4, 3 to the lower right).
            EXPECT_EQ(x, 20 - size - 4 + 3);
            EXPECT_EQ(y, 15 - size - 4 + 3);
            EXPECT_EQ(x + w, 20 - size - 4 + 3 + 12 + 2 * size + 8);
            EXPECT_EQ(y + h, 15 - size - 4 + 3 + 10 + 2 * size + 8);
            RemoveLayerRecord(L, layer, 1, nullptr, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

TEST_F(LayerEffects, ABorderColoursTransparencyScalesItsPlane) {
    qvDrawStyle style = Styled(false, true);
    style.border.colour = 0x80F0E010;
    qvLayer* opaque = scene.AddLayer(L, Solid(6, 4, 0x112233), 2, 2, &style);
    qvLayer* shaped = scene.AddLayer(L, Diamond(), 30, 20, &style);
    ASSERT_TRUE(opaque != nullptr && shaped != nullptr);
    ASSERT_TRUE(scene::EnsureLayerBorder(L, opaque, Item(opaque)));
    ASSERT_TRUE(scene::EnsureLayerBorder(L, shaped, Item(shaped)));
    // A rectangle gets a plane of 255 - 0x80 everywhere.
    const std::vector<uint8_t> flat = PlaneBytes(Item(opaque)->border.alpha);
    EXPECT_EQ(flat, std::vector<uint8_t>(size_t(10) * 8, 127));
    OwnedPlanes own = MakePlanes(Diamond());
    OwnedPlane expected(
        MakeShadowPlane(nullptr, own.mask.get(), 0, 0, 12, 10, 255, 1, 0, 2, 2 / 3.0));
    CopyPlane8(expected.get(), expected.get(), expected->height, 127);
    EXPECT_EQ(PlaneBytes(Item(shaped)->border.alpha), PlaneBytes(expected.get()));
    // Without a transparency a rectangle needs no plane.
    style.border.colour = 0xF0E010;
    qvLayer* plain = scene.AddLayer(L, Solid(6, 4, 0x112233), 40, 2, &style);
    ASSERT_TRUE(scene::EnsureLayerBorder(L, plain, Item(plain)));
    EXPECT_EQ(Item(plain)->border.alpha, nullptr);
    EXPECT_EQ(Item(plain)->border.mask, nullptr);
}

// The shadow of a bordered layer is made from the border's plane; both are painted through
// their planes, then the layer. Blends of the coverage kernel round by up to 2 per channel
// (a 16-bit format by up to one step of its channels).
TEST_F(LayerEffects, ShadowedAndBorderedLayersMatchTheReference) {
    const Planes diamond = Diamond();
    qvDrawStyle style = Styled(true, true);
    ASSERT_NE(scene.AddLayer(L, diamond, 20, 15, &style), nullptr);
    qvDrawStyle shadowOnly = Styled(true, false);
    const Planes ramp = AlphaRamp();
    ASSERT_NE(scene.AddLayer(L, ramp, 40, 4, &shadowOnly), nullptr);

    ReferenceCompositor reference(ScreenFormat(), Background());
    OwnedPlanes own = MakePlanes(diamond);
    OwnedPlane border(
        MakeShadowPlane(nullptr, own.mask.get(), 0, 0, 12, 10, 255, 1, 0, 2, 2 / 3.0));
    OwnedPlane shadow(
        MakeShadowPlane(border.get(), nullptr, 0, 0, 16, 14, 255 - 0x40, 0, 0, 4.0, 4.0 / 3.0));
    reference.PaintCoverage(PlaneBytes(shadow.get()), shadow->width, 18 - 4 + 3, 13 - 4 + 3,
                            0x102030);
    reference.PaintCoverage(PlaneBytes(border.get()), border->width, 18, 13, 0xF0E010);
    reference.Paint({&diamond, 20, 15});
    OwnedPlanes rampOwn = MakePlanes(ramp);
    OwnedPlane rampShadow(MakeShadowPlane(rampOwn.alpha.get(), nullptr, 0, 0, 12, 10, 255 - 0x40, 0,
                                          0, 4.0, 4.0 / 3.0));
    reference.PaintCoverage(PlaneBytes(rampShadow.get()), rampShadow->width, 40 - 4 + 3, 4 - 4 + 3,
                            0x102030);
    reference.Paint({&ramp, 40, 4});

    const std::vector<uint32_t> shown = Shown();
    const int tolerance = ScreenFormat() < 8 ? 8 : 2;
    for (size_t i = 0; i < shown.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            const int got = int(shown[i] >> shift & 0xFF);
            const int want = int(reference.Pixels()[i] >> shift & 0xFF);
            ASSERT_LE(std::abs(got - want), tolerance)
                << "at " << i % size_t(scene.width) << "," << i / size_t(scene.width);
        }
    }
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
}

// Ordinary radii blur the silhouette exactly as asked. A radius of 100000 composes at once,
// blurred no wider than the widest shadow; with a narrow sigma that is the very shadow asked
// for (the plane of radius 30 with nothing but zeros around it).
TEST_F(LayerEffects, ShadowRadiiKeepTheirPixelsAndTheWidestIsBounded) {
    const Planes diamond = Diamond();
    OwnedPlanes own = MakePlanes(diamond);
    auto shadowed = [&](double radius, double sigma) {
        qvDrawStyle style = Styled(true, false);
        style.shadow.radius = radius, style.shadow.sigma = sigma;
        qvLayer* layer = scene.AddLayer(L, diamond, 20, 15, &style);
        EXPECT_NE(layer, nullptr);
        return layer;
    };
    auto plane = [&](double radius, double sigma) {
        return OwnedPlane(MakeShadowPlane(nullptr, own.mask.get(), 0, 0, 12, 10, 255 - 0x40, 0, 0,
                                          radius, sigma));
    };
    for (int32_t r = 1; r <= 20; ++r) {
        qvLayer* layer = shadowed(r, r / 3.0);
        ASSERT_NE(layer, nullptr);
        Shown();
        ASSERT_NE(Item(layer)->shadowPlane, nullptr) << r;
        EXPECT_EQ(PlaneBytes(Item(layer)->shadowPlane), PlaneBytes(plane(r, r / 3.0).get())) << r;
        EXPECT_EQ(scene::ShadowRect(layer, Item(layer), {}).width, 12 + 2 * r);
        RemoveLayerRecord(L, layer, 1, nullptr, nullptr, nullptr, nullptr, nullptr);
    }

    constexpr int32_t kWidest = 256;
    qvLayer* wide = shadowed(100000, 100000 / 3.0);
    ASSERT_NE(wide, nullptr);
    Shown();
    ASSERT_NE(Item(wide)->shadowPlane, nullptr);
    EXPECT_EQ(Item(wide)->shadowPlane->width, 12 + 2 * kWidest);
    int32_t x, y, w, h;
    GetLayerBounds(L, wide, Item(wide), &x, &y, &w, &h);
    EXPECT_EQ(w, 12 + 2 * kWidest);
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
    EXPECT_EQ(Shown()[size_t(20) * size_t(scene.width) + 26],
              ReadBitMapPixel(own.bitmap.get(), 6, 5));
    RemoveLayerRecord(L, wide, 1, nullptr, nullptr, nullptr, nullptr, nullptr);

    qvLayer* narrow = shadowed(100000, 1.5);
    ASSERT_NE(narrow, nullptr);
    Shown();
    const qvPlaneBitMap* made = Item(narrow)->shadowPlane;
    ASSERT_NE(made, nullptr);
    const OwnedPlane asked = plane(30, 1.5);
    const int32_t inset = kWidest - 30;
    for (int32_t py = 0; py < made->height; ++py) {
        for (int32_t px = 0; px < made->width; ++px) {
            const int32_t ax = px - inset, ay = py - inset;
            const bool inside = ax >= 0 && ay >= 0 && ax < asked->width && ay < asked->height;
            const uint8_t want = inside ? asked->plane[ay * asked->bytesPerRow + ax] : 0;
            ASSERT_EQ(made->plane[py * made->bytesPerRow + px], want) << px << "," << py;
        }
    }
}

// An item that says that its border is all it shows, as an unfilled shape whose outline has
// the border's colour.
struct OutlineItem : qvImageItem {
    bool HiddenUnderBorder(uint32_t colour) const override { return colour == 0xF0E010; }
};

TEST_F(LayerEffects, AnOutlineInTheBorderColourShowsOnlyBorderAndShadow) {
    for (const bool outline : {true, false}) {
        void* block = AllocMemBlock(outline ? sizeof(OutlineItem) : sizeof(qvImageItem), 0);
        qvLayerItem* item = outline ? new (block) OutlineItem() : new (block) qvImageItem();
        OwnedPlanes planes = MakePlanes(Solid(10, 10, 0xFF00FF));
        qvDrawStyle style = Styled(true, true);
        ASSERT_EQ(AddLayer(L, gfx::kTypeBox, nullptr, 20, 20, 10, 10, nullptr, &style,
                           planes.bitmap.release(), nullptr, nullptr, item, -1, 0),
                  0);
        const std::vector<uint32_t> shown = Shown();
        const auto at = [&](int32_t x, int32_t y) { return shown[size_t(y) * scene.width + x]; };
        const auto stored = [](uint32_t rgb) {
            return ReferenceCompositor(ScreenFormat(), Solid(1, 1, rgb)).Pixels()[0];
        };
        // The border's rectangle (2 around the box) in its colour; the box itself only
        // without the outline rule.
        EXPECT_EQ(at(18, 25), stored(0xF0E010));
        EXPECT_EQ(at(25, 25), stored(outline ? 0xF0E010 : 0xFF00FF)) << outline;
        // The shadow darkens the background beyond the border.
        const ReferenceCompositor plain(ScreenFormat(), Background());
        EXPECT_NE(at(33, 33), plain.Pixels()[size_t(33) * scene.width + 33]);
        RemoveLayerRecord(L, reinterpret_cast<qvLayer*>(scene.picture->layers.tailPred), 1, nullptr,
                          nullptr, nullptr, nullptr, nullptr);
    }
}

TEST_F(LayerEffects, EachCacheIsBuiltOnceAndAFailingFilterIsTriedAgain) {
    qvDrawStyle style = Styled(true, true);
    style.filters[kFilterInvert] = Slot(0);
    KernelSpy spy;
    spy.failAt = 1;
    qvLayer* layer = scene.AddLayer(L, Solid(6, 6, 0x00FF00), 30, 20, &style);
    ASSERT_NE(layer, nullptr);
    // The pass failed while the new layer was shown: its image was skipped (its border, made
    // without filters, shows under it), nothing filtered kept.
    const size_t inside = size_t(22) * scene.width + 32;
    EXPECT_EQ(scene.Window()[inside],
              ReferenceCompositor(ScreenFormat(), Solid(1, 1, 0xF0E010)).Pixels()[0]);
    EXPECT_EQ(Item(layer)->filtered.bitmap, nullptr);
    const size_t failed = spy.calls.size();
    EXPECT_EQ(failed, 1u);
    // The next redraw tries again; later ones reuse every cache.
    EXPECT_EQ(Shown()[inside],
              ReferenceCompositor(ScreenFormat(), Solid(1, 1, 0xFF00FF)).Pixels()[0]);
    const qvLayerItem* item = Item(layer);
    const void* caches[3] = {item->filtered.bitmap, item->border.bitmap, item->shadowPlane};
    for (const void* cache : caches) EXPECT_NE(cache, nullptr);
    const size_t built = spy.calls.size();
    EXPECT_EQ(built, failed + 1);
    for (int i = 0; i < 3; ++i) Shown();
    EXPECT_EQ(spy.calls.size(), built);
    EXPECT_EQ(item->filtered.bitmap, caches[0]);
    EXPECT_EQ(item->border.bitmap, caches[1]);
    EXPECT_EQ(item->shadowPlane, caches[2]);
}

TEST_F(LayerEffects, AMovingFilterOnATransformedLayerShowsTheFilteredImage) {
    qvDrawTransform turn = kInitialDrawTransform;
    turn.rotate = 90;
    MakeTransformMatrix(turn.matrix, 0, 0, 6, 4, 90, 1, 1);
    turn.hasTransform = 1;
    for (const int slot : {int(kFilterXFlip), int(kFilterInvert)}) {
        qvDrawStyle style = Style();
        style.filters[slot] = Slot(0);
        OwnedPlanes planes = MakePlanes(Solid(6, 4, 0x204060));
        ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, 10, 10, 6, 4, &turn, &style,
                                planes.bitmap.release(), nullptr, nullptr, -1, 0),
                  0);
        qvLayer* layer = reinterpret_cast<qvLayer*>(scene.picture->layers.tailPred);
        qvLayerItem* item = layer->pictureItem;
        ASSERT_NE(item->transformed.bitmap, nullptr);
        EXPECT_EQ(item->drawWidth, 4);
        EXPECT_EQ(item->drawHeight, 6);
        qvLayerPicture image;
        ASSERT_EQ(GetLayerImage(L, layer, item, 1, 1, -1, &image), 0);
        // Every filter runs on a copy of the transformed image, which a change of the filters
        // drops; the transformed image itself stays unfiltered.
        EXPECT_EQ(image.bitmap, item->filtered.bitmap) << qvLayerFilterNames[slot];
        EXPECT_NE(image.bitmap, item->transformed.bitmap) << qvLayerFilterNames[slot];
    }
}

}  // namespace
}  // namespace qv::testing
