// The layer content caches: transform checks, picture and display items built as new items
// (exactly the transformed or scaled planes), rebuilds that stop at the first failure, every
// failure leaving the layer as it was, and layers turned into private images.
#include <cmath>
#include <new>

#include "gfx/library/object_types.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "objects/brush.h"
#include "objects/scene_hooks.h"
#include "platform/linux/memory.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/transform_matrix.h"
#include "scene/scene_neighbours.h"
#include "tests/scene/layers/layer_fixture.h"

namespace qv::testing {
namespace {

TEST(LayerTransform, MatricesTurnsAndBorderWidths) {
    const double c30 = std::cos(30 * std::numbers::pi / 180), s30 = 0.5;
    const struct {
        int32_t angle;
        double scaleX, scaleY;
        double matrix[4];
    } turns[] = {
        {0, 2, 3, {2, 0, 0, 3}},
        {90, 1, 1, {0, -1, 1, 0}},
        {-30, 1, 2, {c30, s30, -2 * s30, 2 * c30}},
        {370,
         1,
         1,
         {std::cos(350 * std::numbers::pi / 180), std::sin(350 * std::numbers::pi / 180),
          -std::sin(350 * std::numbers::pi / 180), std::cos(350 * std::numbers::pi / 180)}},
    };
    for (const auto& t : turns) {
        double m[4];
        MakeTransformMatrix(m, 0, 0, 8, 8, t.angle, t.scaleX, t.scaleY);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(m[i], t.matrix[i], 1e-12) << t.angle << " " << i;
    }
    // A turn by a whole degree is found with its factors; a shear and a mirror are not turns.
    double m[4], sx, sy;
    MakeTransformMatrix(m, 0, 0, 8, 8, 30, 2, 3);
    ASSERT_EQ(MatrixIsRotation(m, &sx, &sy), 1);
    EXPECT_NEAR(sx, 2, 1e-9);
    EXPECT_NEAR(sy, 3, 1e-9);
    const double shear[4] = {1, 0, 0.5, 1}, mirror[4] = {-1, 0, 0, 1};
    EXPECT_EQ(MatrixIsRotation(shear, &sx, &sy), 0);
    EXPECT_EQ(MatrixIsRotation(mirror, &sx, &sy), 0);
    // Rotated: an off-diagonal entry, unless a turn scales evenly.
    qvDrawTransform t = kInitialDrawTransform;
    EXPECT_FALSE(CheckUniformTransform(&t));
    MakeTransformMatrix(t.matrix, 0, 0, 8, 8, 30, 2, 2.005);
    EXPECT_FALSE(CheckUniformTransform(&t));
    MakeTransformMatrix(t.matrix, 0, 0, 8, 8, 30, 2, 3);
    EXPECT_TRUE(CheckUniformTransform(&t));
    std::copy(shear, shear + 4, t.matrix);
    EXPECT_TRUE(CheckUniformTransform(&t));
    // The border's thickness as the transform scales it.
    const double identity[4] = {1, 0, 0, 1}, doubled[4] = {2, 0, 0, 2};
    double quarter[4];
    MakeTransformMatrix(quarter, 0, 0, 10, 6, 90, 1, 1);
    EXPECT_EQ(GetTransformedBorderWidth(identity, 10, 6, 3), 3);
    EXPECT_EQ(GetTransformedBorderWidth(doubled, 10, 6, 3), 6);
    EXPECT_EQ(GetTransformedBorderWidth(quarter, 10, 6, 3), 3);
    // A "transform" tag's matrix stays; other transforms are made for the object's size.
    qvDrawTransform given = kInitialDrawTransform;
    const double tag[4] = {1, 0.25, 0, 2};
    std::copy(tag, tag + 4, given.matrix);
    std::copy(tag, tag + 4, given.transformInput);
    ApplyLayerTransform(&given, 40, 40);
    EXPECT_EQ(given.matrix[1], 0.25);
    qvDrawTransform sized = kInitialDrawTransform;
    sized.width = 20;
    ApplyLayerTransform(&sized, 10, 10);
    EXPECT_EQ(sized.matrix[0], 2);
    EXPECT_EQ(sized.matrix[3], 1);
}

TEST(LayerTransform, ScaleRectRoundsItsCorners) {
    const struct {
        int32_t x, y, w, h;
        double sx, sy;
        int32_t ox, oy, ow, oh;
    } cases[] = {
        {10, 20, 5, 5, 2.0, 0.5, 20, 10, 9, 3},
        {0, 0, 1, 1, 1.5, 1.5, 0, 0, 1, 1},
        {3, 3, 4, 4, 1.0, 1.0, 3, 3, 4, 4},
    };
    for (const auto& c : cases) {
        int32_t x, y, w, h;
        ScaleRect(c.x, c.y, c.w, c.h, &x, &y, &w, &h, c.sx, c.sy);
        EXPECT_EQ(x, c.ox);
        EXPECT_EQ(y, c.oy);
        EXPECT_EQ(w, c.ow);
        EXPECT_EQ(h, c.oh);
    }
}

class LayerCache : public LayerFixture {
protected:
    static Planes Picture() {
        Planes p = Masked(Solid(9, 7, 0), [](int32_t x, int32_t y) { return (x * y) % 3 != 1; });
        for (int32_t i = 0; i < 63; ++i) p.rgb[size_t(i)] = 0x102030u * uint32_t(i % 7 + 1);
        return p;
    }

    // A layer of the planes under the transform (its picture item built by AddLayer).
    qvLayer* AddTransformed(const Planes& planes, int32_t x, int32_t y,
                            const qvDrawTransform& transform, int flags = 0, int* code = nullptr) {
        OwnedPlanes own = MakePlanes(planes);
        const int result = AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, x, y, planes.width,
                                         planes.height, &transform, nullptr, own.bitmap.release(),
                                         own.mask.release(), own.alpha.release(), -1, flags);
        if (code != nullptr) *code = result;
        return result == 0 ? reinterpret_cast<qvLayer*>(scene.picture->layers.tailPred) : nullptr;
    }

    static qvDrawTransform Turned(int32_t angle, int32_t width, int32_t height) {
        qvDrawTransform t = kInitialDrawTransform;
        t.rotate = angle;
        t.hasTransform = 1;
        MakeTransformMatrix(t.matrix, 0, 0, width, height, angle, 1, 1);
        return t;
    }

    // Whether two images hold the same pixels and planes.
    static void ExpectSameImage(const qvLayerImage& got, qvDisplayBitMap* bitmap,
                                qvPlaneBitMap* mask, int32_t width, int32_t height) {
        ASSERT_NE(got.bitmap, nullptr);
        EXPECT_EQ(ReadPixels(got.bitmap, width, height), ReadPixels(bitmap, width, height));
        ASSERT_EQ(got.mask != nullptr, mask != nullptr);
        for (int32_t y = 0; mask != nullptr && y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                ASSERT_EQ(ReadBitMapPixel(got.mask, x, y), ReadBitMapPixel(mask, x, y));
            }
        }
    }
};

TEST_F(LayerCache, ItemsFollowTheTransformAndTheDisplayScale) {
    // A turned layer's picture item holds exactly what TransformBitmap makes of its planes;
    // no drawing command paints it directly, so adding it shows it.
    const qvDrawTransform turn = Turned(30, 9, 7);
    qvLayer* turned = AddTransformed(Picture(), 30, 20, turn);
    ASSERT_NE(turned, nullptr);
    EXPECT_NE(turned->pictureItem, turned->sourceItem);
    EXPECT_EQ(turned->displayItem, turned->pictureItem);
    OwnedPlanes own = MakePlanes(Picture());
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_EQ(TransformBitmap(own.bitmap.get(), own.mask.get(), nullptr, 0, 0, 9, 7, turn.matrix, 0,
                              &bitmap, &mask, &alpha, &w, &h),
              0);
    OwnedBitMap heldBitmap(bitmap);
    OwnedPlane heldMask(mask), heldAlpha(alpha);
    EXPECT_EQ(turned->pictureItem->drawWidth, w);
    EXPECT_EQ(turned->pictureItem->drawHeight, h);
    ExpectSameImage(turned->pictureItem->transformed, bitmap, mask, w, h);
    EXPECT_EQ(scene.Window(), scene.Recomposed(L));
    qvLayer* plain = scene.AddLayer(L, Picture(), 3, 3);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->pictureItem, plain->sourceItem);
    EXPECT_EQ(plain->displayItem, plain->sourceItem);

    // A display scaling its layers by 2 gets a display item of the scaled planes.
    scene.scale = {2.0, 2.0, true};
    qvLayer* scaled = scene.AddLayer(L, Picture(), 4, 5, nullptr, -1, QV_ADDLAYER_DISPLAYITEM);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->pictureItem, scaled->sourceItem);
    ASSERT_NE(scaled->displayItem, scaled->pictureItem);
    const qvLayerItem* item = scaled->displayItem;
    EXPECT_EQ(item->drawX, 8);
    EXPECT_EQ(item->drawY, 10);
    EXPECT_EQ(item->drawWidth, 18);
    EXPECT_EQ(item->drawHeight, 14);
    qvDisplayBitMap* big = nullptr;
    qvPlaneBitMap* bigMask = nullptr;
    ASSERT_EQ(ScaleBitmap(own.bitmap.get(), own.mask.get(), nullptr, 0, 0, nullptr, 9, 7, 18, 14, 0,
                          &big, &bigMask, nullptr),
              0);
    OwnedBitMap heldBig(big);
    OwnedPlane heldBigMask(bigMask);
    ExpectSameImage(item->transformed, big, bigMask, 18, 14);
}

// A renderer that fails for the layers whose item is 99 wide, else draws nothing.
int FailWide(qvVmState*, qvLayer*, int32_t, qvLayerItem* item, qvLayerImage*,
             const qvWorkTransform*, qvLayerArea*, int) {
    return item->width == 99 ? ERR_MEM : 0;
}

TEST_F(LayerCache, ARebuildStopsAtTheFirstFailure) {
    std::vector<qvLayer*> layers;
    for (int32_t i = 0; i < 4; ++i) {
        layers.push_back(scene.AddLayer(L, Picture(), 2 + 10 * i, 2));
        ASSERT_NE(layers.back(), nullptr);
    }
    layers[2]->type = gfx::kTypeBox;
    layers[2]->sourceItem->width = 99;
    SetLayerRenderers(gfx::kTypeBox, FailWide, nullptr);
    scene.scale = {2.0, 1.5, true};
    const size_t blocks = GetMemoryStats().liveBlocks;
    EXPECT_EQ(RebuildPictureLayers(L, scene.Display(), scene.picture), ERR_MEM);
    SetLayerRenderers(gfx::kTypeBox, nullptr, nullptr);
    EXPECT_NE(layers[0]->displayItem, layers[0]->pictureItem);
    EXPECT_NE(layers[1]->displayItem, layers[1]->pictureItem);
    EXPECT_EQ(layers[1]->displayItem->drawX, 24);
    EXPECT_EQ(layers[2]->displayItem, layers[2]->pictureItem);
    EXPECT_EQ(layers[3]->displayItem, layers[3]->pictureItem);
    EXPECT_GT(GetMemoryStats().liveBlocks, blocks);
    // Back at scale 1.0 every layer shows its picture item again.
    scene.scale = {};
    EXPECT_EQ(RebuildLayersOnDisplay(L, scene.Display(), scene.picture), 0);
    for (qvLayer* layer : layers) EXPECT_EQ(layer->displayItem, layer->pictureItem);
    EXPECT_EQ(GetMemoryStats().liveBlocks, blocks);
}

TEST_F(LayerCache, RunningOutOfMemoryLeavesTheItemsAsTheyWere) {
    qvLayer* layer = AddTransformed(Picture(), 20, 10, Turned(30, 9, 7));
    ASSERT_NE(layer, nullptr);
    scene.scale = {2.0, 2.0, true};
    bool built = false;
    for (uint64_t n = 1; !built && n < 200; ++n) {
        const qvLayerItem* items[3] = {layer->sourceItem, layer->pictureItem, layer->displayItem};
        const qvDisplayBitMap* transformed = layer->displayItem->transformed.bitmap;
        const size_t blocks = GetMemoryStats().liveBlocks;
        int code;
        {
            AllocationFault fault(n, false);
            code = BuildLayerCache(L, layer, QV_CACHE_DISPLAYITEM | QV_CACHE_NOREPAINT);
        }
        built = code == 0;
        if (built) break;
        EXPECT_EQ(code, ERR_MEM) << n;
        EXPECT_EQ(layer->sourceItem, items[0]) << n;
        EXPECT_EQ(layer->pictureItem, items[1]) << n;
        EXPECT_EQ(layer->displayItem, items[2]) << n;
        EXPECT_EQ(layer->displayItem->transformed.bitmap, transformed) << n;
        EXPECT_EQ(GetMemoryStats().liveBlocks, blocks) << n;
    }
    EXPECT_TRUE(built);
    EXPECT_NE(layer->displayItem, layer->pictureItem);
    EXPECT_NE(layer->pictureItem->transformed.bitmap, nullptr);
}

// The object libraries' part of LayerToImage: brushes made and kept by number.
class FakeBrushes final : public scene::ObjectHooks {
public:
    FakeBrushes() { scene::SetObjectHooks(this); }
    ~FakeBrushes() override { scene::SetObjectHooks(nullptr); }

    int AddLayerBrush(qvVmState*, qvDisplayBitMap* bitmap, qvPlaneBitMap* mask,
                      qvPlaneBitMap* alpha, int32_t width, int32_t height,
                      qvObjectId* id) override {
        ++made;
        if (refuse) return ERR_MEM;
        brushes.push_back({OwnedBitMap(bitmap), OwnedPlane(mask), OwnedPlane(alpha)});
        sizes.push_back({width, height});
        *id = {uint32_t(brushes.size()), nullptr};
        return 0;
    }
    int PrivateLayerBrush(qvVmState*, qvLayer* layer, gfx::PictureView* out) override {
        const OwnedPlanes& p = brushes.at(layer->objectId.number - 1);
        const auto& size = sizes.at(layer->objectId.number - 1);
        *out = {p.bitmap.get(), p.mask.get(), p.alpha.get(), size.first, size.second};
        return 0;
    }

    std::vector<OwnedPlanes> brushes;
    std::vector<std::pair<int32_t, int32_t>> sizes;
    int made = 0;
    bool refuse = false;
};

TEST_F(LayerCache, ADrawnLayerBecomesABrushLayerOnce) {
    FakeBrushes fakes;
    void* block = AllocMemBlock(sizeof(qvImageItem), 0);
    OwnedPlanes planes = MakePlanes(Picture());
    qvDisplayBitMap* drawn = planes.bitmap.get();
    ASSERT_EQ(AddLayer(L, gfx::kTypeTextOut, nullptr, 5, 6, 9, 7, nullptr, nullptr,
                       planes.bitmap.release(), planes.mask.release(), nullptr,
                       new (block) qvImageItem(), -1, 0),
              0);
    qvLayer* layer = GetLayerByIndex(scene.picture, 1);
    // A brush that cannot be made changes nothing.
    fakes.refuse = true;
    const qvLayerItem* before = layer->sourceItem;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    const size_t blocks = GetMemoryStats().liveBlocks;
    EXPECT_EQ(LayerToImage(L, layer, -1, &bitmap, &mask, &alpha, &w, &h), ERR_MEM);
    EXPECT_EQ(layer->type, uint32_t(gfx::kTypeTextOut));
    EXPECT_EQ(layer->sourceItem, before);
    EXPECT_EQ(layer->sourceItem->image.bitmap, drawn);
    EXPECT_EQ(GetMemoryStats().liveBlocks, blocks);
    fakes.refuse = false;
    for (int call = 0; call < 2; ++call) {
        ASSERT_EQ(LayerToImage(L, layer, -1, &bitmap, &mask, &alpha, &w, &h), 0);
        EXPECT_EQ(layer->type, uint32_t(gfx::kTypeBrush));
        EXPECT_EQ(layer->objectId.number, 1u);
        EXPECT_EQ(fakes.made, 2);
        EXPECT_EQ(bitmap, fakes.brushes[0].bitmap.get());
        EXPECT_NE(mask, nullptr);
        EXPECT_EQ(w, 9);
        EXPECT_EQ(h, 7);
        EXPECT_EQ(layer->sourceItem, layer->displayItem);
        EXPECT_EQ(layer->sourceItem->drawX, 5);
    }
    EXPECT_EQ(ReadPixels(bitmap, 9, 7), ReadPixels(MakePlanes(Picture()).bitmap.get(), 9, 7));
    layer->type = gfx::kTypeVideo;
    EXPECT_EQ(LayerToImage(L, layer, -1, &bitmap, &mask, &alpha, &w, &h), ERR_WRONGUSAGE);
    layer->type = gfx::kTypeBrush;
}

TEST_F(LayerCache, ABrushOtherLayersShowIsCopiedForThisLayerOnly) {
    objects::SceneHooks brushes;
    scene::SetObjectHooks(&brushes);
    scene::SceneNeighbours neighbours;
    gfx::SetNeighbours(&neighbours);
    ASSERT_EQ(CreateBrushBitmaps({7, nullptr}, 6, 6, 0x00F800, false, false, false, false), 0);
    qvLayer* first = scene.AddBrushPart(L, 7, 0, 0, 2, 2, 6, 6);
    qvLayer* second = scene.AddBrushPart(L, 7, 0, 0, 20, 2, 6, 6);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    int32_t w = 0, h = 0;
    ASSERT_EQ(LayerToImage(L, first, -1, &bitmap, &mask, &alpha, &w, &h), 0);
    const qvObjectId copy = first->objectId;
    EXPECT_NE(copy.handle, nullptr);
    EXPECT_EQ(second->objectId.number, 7u);
    EXPECT_EQ(w, 6);
    qvBrush* original = nullptr;
    ASSERT_EQ(GetBrush(L, {7, nullptr}, &original, 0), 0);
    EXPECT_NE(bitmap, original->bitmap);
    // The copy is this layer's alone: a second call keeps it.
    qvDisplayBitMap* again = nullptr;
    ASSERT_EQ(LayerToImage(L, first, -1, &again, &mask, &alpha, &w, &h), 0);
    EXPECT_EQ(first->objectId.handle, copy.handle);
    EXPECT_EQ(again, bitmap);
    // A drawn layer's brush is the layer's own from the start: no second copy is made.
    void* block = AllocMemBlock(sizeof(qvImageItem), 0);
    OwnedPlanes planes = MakePlanes(Picture());
    ASSERT_EQ(AddLayer(L, gfx::kTypePrint, nullptr, 30, 6, 9, 7, nullptr, nullptr,
                       planes.bitmap.release(), planes.mask.release(), nullptr,
                       new (block) qvImageItem(), -1, 0),
              0);
    qvLayer* drawn = GetLayerByIndex(scene.picture, 3);
    ASSERT_EQ(LayerToImage(L, drawn, -1, &bitmap, &mask, &alpha, &w, &h), 0);
    const qvObjectId made = drawn->objectId;
    qvBrush* brush = nullptr;
    ASSERT_EQ(GetBrush(L, made, &brush, QV_BRUSH_ORPHANS), 0);
    EXPECT_EQ(brush->orphan, 1);
    EXPECT_EQ(brush->bitmap, bitmap);
    ASSERT_EQ(LayerToImage(L, drawn, -1, &again, &mask, &alpha, &w, &h), 0);
    EXPECT_EQ(drawn->objectId.handle, made.handle);
    FreeLayerList(L, scene.picture, true);
    FreeAllBrushes(L);
    gfx::SetNeighbours(nullptr);
}

TEST_F(LayerCache, RunningOutOfMemoryInLayerToImageLeavesTheLayerAsItWas) {
    objects::SceneHooks brushes;
    scene::SetObjectHooks(&brushes);
    void* block = AllocMemBlock(sizeof(qvImageItem), 0);
    OwnedPlanes planes = MakePlanes(Picture());
    ASSERT_EQ(AddLayer(L, gfx::kTypeTextOut, nullptr, 5, 6, 9, 7, nullptr, nullptr,
                       planes.bitmap.release(), planes.mask.release(), nullptr,
                       new (block) qvImageItem(), -1, 0),
              0);
    qvLayer* layer = GetLayerByIndex(scene.picture, 1);
    bool made = false;
    for (uint64_t n = 1; !made && n < 100; ++n) {
        const qvLayerItem* item = layer->sourceItem;
        const size_t blocks = GetMemoryStats().liveBlocks;
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
        int32_t w = 0, h = 0;
        int code;
        {
            AllocationFault fault(n, false);
            code = LayerToImage(L, layer, -1, &bitmap, &mask, &alpha, &w, &h);
        }
        made = code == 0;
        if (made) break;
        EXPECT_EQ(code, ERR_MEM) << n;
        EXPECT_EQ(layer->type, uint32_t(gfx::kTypeTextOut)) << n;
        EXPECT_EQ(layer->sourceItem, item) << n;
        EXPECT_NE(layer->sourceItem->image.bitmap, nullptr) << n;
        EXPECT_EQ(GetMemoryStats().liveBlocks, blocks) << n;
    }
    EXPECT_TRUE(made);
    EXPECT_EQ(layer->type, uint32_t(gfx::kTypeBrush));
    FreeLayerList(L, scene.picture, true);
    FreeAllBrushes(L);
}

}  // namespace
}  // namespace qv::testing
