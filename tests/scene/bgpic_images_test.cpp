// The bitmaps of pictures: making them from pixels and fills, converting preloaded pictures,
// scaling (vector sources are made again, not stretched), copying, and the pictures made
// from brushes.
#include <string>

#include "gfx/blit_frontends.h"
#include "gfx/scale.h"
#include "runtime/attributes.h"
#include "runtime/option_tables.h"
#include "tests/platform/picture_test_support.h"
#include "tests/scene/scene_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kKey = 0x00FF00;  // the transparent colour of the tests
constexpr double kKeepAspect = KEEPASPRAT;

class BGPicImages : public SceneFixture {
protected:
    // A picture as preloading leaves it: its ARGB pixels in an image handle, no bitmaps.
    qvBGPic* AddPreloaded(uint32_t id, const std::vector<uint32_t>& pixels, int32_t width,
                          int32_t height, int32_t transparent) {
        scene::BGPicParts parts;
        parts.image.reset(NewImageHandle(width, height));
        std::copy(pixels.begin(), pixels.end(), GetImageHandlePixels(parts.image.get()));
        parts.width = width, parts.height = height;
        parts.transparentColour = transparent;
        qvObjectId pair{id, nullptr};
        qvBGPic* picture = nullptr;
        EXPECT_EQ(AddBGPic(&pair, &parts, &picture), 0);
        return picture;
    }

    qvBGPic* MakeGradient(uint32_t id, std::vector<Arg> rest) {
        std::vector<Arg> args = {Num(id)};
        args.insert(args.end(), rest.begin(), rest.end());
        EXPECT_EQ(Call("CreateGradientBGPic", args).code, 0);
        return Find(id);
    }
};

// Four pixels of one colour with the transparent colour first.
std::vector<uint32_t> KeyedPixels(uint32_t colour) {
    return {0xFF000000 | kKey, 0xFF000000 | colour, 0xFF000000 | colour, 0xFF000000 | colour};
}

std::vector<uint32_t> StoredAll(std::vector<uint32_t> rgb) {
    for (uint32_t& c : rgb) c = Stored(c & 0xFFFFFF);
    return rgb;
}

TEST_F(BGPicImages, RebuildStopsAtTheFirstFailureAndLeavesTheRestAsTheyWere) {
    const uint32_t colours[] = {0x112233, 0x445566, 0x778899, 0xAABBCC, 0xDDEEFF};
    bool stoppedAtTheThird = false;
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE(n);
        FreeAllBGPics(L);
        std::vector<qvBGPic*> pictures;
        for (uint32_t i = 0; i < 5; ++i) {
            pictures.push_back(AddPreloaded(i + 1, KeyedPixels(colours[i]), 2, 2,
                                            i % 2 == 0 ? int32_t(kKey) : -1));
        }
        int code = 0;
        {
            AllocationFault fault(n, false);
            code = RebuildBGPics(L);
        }
        size_t converted = 0;
        while (converted < 5 && pictures[converted]->image == nullptr) ++converted;
        for (size_t i = 0; i < 5; ++i) {
            const qvBGPic* p = pictures[i];
            if (i >= converted) {
                EXPECT_NE(p->image, nullptr) << i;
                EXPECT_EQ(p->base.bitmap, nullptr) << i;
                continue;
            }
            ASSERT_NE(p->base.bitmap, nullptr) << i;
            EXPECT_EQ(p->shown.bitmap, p->base.bitmap);
            EXPECT_EQ(Pixels(p->base.bitmap), StoredAll(KeyedPixels(colours[i])));
            if (i % 2 != 0) {
                EXPECT_EQ(p->base.mask, nullptr);
                continue;
            }
            ASSERT_NE(p->base.mask, nullptr);
            EXPECT_EQ(ReadBitMapPixel(p->base.mask, 0, 0), 0u);
            EXPECT_EQ(ReadBitMapPixel(p->base.mask, 1, 1), 1u);
        }
        if (code == 0) {
            EXPECT_EQ(converted, 5u);
            break;
        }
        EXPECT_EQ(code, ERR_MEM);
        if (converted == 2) stoppedAtTheThird = true;
    }
    EXPECT_TRUE(stoppedAtTheThird);
}

// A picture over a fill, worked out by hand: the fill shows where the picture is transparent.
TEST_F(BGPicImages, ATransparentPictureIsDrawnOverItsFill) {
    constexpr uint32_t kFill = 0x3050A0, kColour = 0xC08040;
    const std::vector<uint32_t> pixels = KeyedPixels(kColour);
    qvBGPicFill fill{};
    fill.style = QV_FILL_COLOUR;
    fill.colour = kFill;
    const std::vector<uint32_t> expected = StoredAll({kFill, kColour, kColour, kColour});

    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    ASSERT_EQ(MakeBGPicImage(L, pixels.data(), &fill, kKey, 2, 2, &bitmap, &mask, &alpha), 0);
    OwnedBitMap made(bitmap);
    EXPECT_EQ(mask, nullptr);
    EXPECT_EQ(Pixels(bitmap), expected);

    // Through an alpha plane: alpha 0 leaves the fill.
    alpha = AllocAlphaBitMap(2, 2, 1);
    FillPlane8Rect(alpha, 1, 0, 1, 2, 255);
    FillPlane8Rect(alpha, 0, 1, 1, 1, 255);
    ASSERT_EQ(MakeBGPicImage(L, pixels.data(), &fill, -1, 2, 2, &bitmap, &mask, &alpha), 0);
    made.reset(bitmap);
    EXPECT_EQ(alpha, nullptr);  // drawn and freed
    EXPECT_EQ(mask, nullptr);
    EXPECT_EQ(ReadBitMapPixel(bitmap, 0, 0), expected[0]);

    // An opaque picture ignores its fill; a transparent one without a fill keeps its mask.
    const std::vector<uint32_t> opaque(4, 0xFF000000 | kColour);
    ASSERT_EQ(MakeBGPicImage(L, opaque.data(), &fill, -1, 2, 2, &bitmap, &mask, &alpha), 0);
    made.reset(bitmap);
    EXPECT_EQ(Pixels(bitmap), StoredAll({kColour, kColour, kColour, kColour}));
    fill.style = QV_FILL_NONE;
    ASSERT_EQ(MakeBGPicImage(L, pixels.data(), &fill, kKey, 2, 2, &bitmap, &mask, &alpha), 0);
    made.reset(bitmap);
    OwnedPlane keyed(mask);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(Pixels(bitmap), StoredAll({kKey, kColour, kColour, kColour}));
}

TEST_F(BGPicImages, AMissingTextureBrushMakesNothing) {
    qvBGPicFill fill{};
    fill.style = QV_FILL_TEXTURE;
    fill.textureBrush = {42, nullptr};
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    const size_t live = GetMemoryStats().liveBlocks;
    EXPECT_EQ(MakeBGPicImage(L, nullptr, &fill, -1, 4, 4, &bitmap, &mask, &alpha), ERR_FINDBRUSH);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(GetMemoryStats().liveBlocks, live);
}

TEST_F(BGPicImages, AScaledGradientIsDrawnAgainNotStretched) {
    const struct {
        const char* name;
        std::vector<Arg> args;
    } cases[] = {
        {"linear", {Num(gfx::LINEAR), Num(0xFF0000), Num(0x0000FF), Num(40), Num(30), Num(45)}},
        {"radial",
         {Num(gfx::RADIAL), Num(0xFFFF00), Num(0x000080), Num(40), Num(30), Nil(),
          Table({{Str("centerx"), Num(0.25)},
                 {Str("colors"), List({Num(0xFF0000), Num(0), Num(0x00FF00), Num(0.5),
                                       Num(0x0000FF), Num(1)})}})}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvBGPic* picture = MakeGradient(1, c.args);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->vector, 1);
        OwnedBitMap stretched;
        {
            qvDisplayBitMap* out = nullptr;
            ASSERT_EQ(ScaleBitmap(picture->shown.bitmap, nullptr, nullptr, 0, 0, nullptr, 40, 30,
                                  80, 50, 0, &out, nullptr, nullptr),
                      0);
            stretched.reset(out);
        }
        ASSERT_EQ(Call("ScaleBGPic", {Num(1), Num(80), Num(50)}).code, 0);
        OwnedBitMap drawn(AllocDisplayBitMap(80, 50));
        DrawGradient(drawn.get(), 0, 0, 80, 50, &picture->fill.gradient);
        ASSERT_EQ(picture->shown.bitmap->width, 80);
        EXPECT_EQ(Pixels(picture->shown.bitmap), Pixels(drawn.get()));
        EXPECT_NE(Pixels(picture->shown.bitmap), Pixels(stretched.get()));
        // The base set stays for the next scale.
        EXPECT_EQ(picture->base.bitmap->width, 40);
    }
}

TEST_F(BGPicImages, AScaledTexturedPictureIsTiledAgain) {
    brushes.Add(9, 3, 2, {0x100000, 0x200000, 0x300000, 0x000010, 0x000020, 0x000030});
    ASSERT_EQ(Call("CreateTexturedBGPic", {Num(1), Num(9), Num(10), Num(7), Num(2), Num(1)}).code,
              0);
    qvBGPic* picture = Find(1u);
    ASSERT_NE(picture, nullptr);
    // The brush may change or go: the picture keeps its own texture.
    brushes.brushes.clear();
    ASSERT_EQ(Call("ScaleBGPic", {Num(1), Num(17), Num(11)}).code, 0);
    OwnedBitMap tile(AllocDisplayBitMap(3, 2));
    const uint32_t colours[] = {0x100000, 0x200000, 0x300000, 0x000010, 0x000020, 0x000030};
    for (int i = 0; i < 6; ++i) PlotPixel(tile.get(), i % 3, i / 3, colours[i]);
    OwnedBitMap tiled(AllocDisplayBitMap(17, 11));
    TileFill(tiled.get(), 0, 0, 17, 11, tile.get(), 2, 1, 3, 2);
    EXPECT_EQ(Pixels(picture->shown.bitmap), Pixels(tiled.get()));
}

TEST_F(BGPicImages, SizesAreNumbersPercentagesOrKeepTheAspectRatio) {
    const struct {
        Arg width, height;
        int code;
        int32_t newWidth, newHeight;
    } cases[] = {
        {Str("50%"), Num(kKeepAspect), 0, 20, 15},
        {Num(kKeepAspect), Str("10%"), 0, 4, 3},
        {Str("200%"), Num(30), 0, 80, 30},
        {Num(7), Num(9), 0, 7, 9},
        {Num(kKeepAspect), Num(kKeepAspect), ERR_WRONGUSAGE, 40, 30},
        {Num(0), Num(10), ERR_BADDIMENSIONS, 40, 30},
        {Num(10), Num(-3), ERR_BADDIMENSIONS, 40, 30},
        {Str("-5%"), Num(10), ERR_PERCENTFORMAT, 40, 30},
        {Str("wide"), Num(10), ERR_PERCENTFORMAT, 40, 30},
        {Num(40000), Num(10), ERR_MEM, 40, 30},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.newWidth << "x" << c.newHeight << " " << c.code);
        qvBGPic* picture = Create(1, 40, 30, 0x808080);
        EXPECT_EQ(Call("ScaleBGPic", {Num(1), c.width, c.height}).code, c.code);
        EXPECT_EQ(picture->width, c.newWidth);
        EXPECT_EQ(picture->height, c.newHeight);
        EXPECT_EQ(picture->shown.bitmap->width, c.newWidth);
        EXPECT_EQ(picture->base.bitmap->width, 40);
    }
}

TEST_F(BGPicImages, MakersRefuseBadArguments) {
    const struct {
        const char* command;
        std::vector<Arg> args;
        int code;
    } cases[] = {
        {"CreateBGPic", {Num(1), Num(0), Num(5)}, ERR_WRONGUSAGE},
        {"CreateBGPic", {Num(1), Num(5), Num(-1)}, ERR_WRONGUSAGE},
        {"CreateBGPic", {Num(1), Num(40000), Num(2)}, ERR_MEM},
        {"CreateBGPic", {Num(1), Num(5)}, ERR_MISSINGPARAMTR},
        {"CreateGradientBGPic", {Num(1), Num(9), Num(0), Num(0), Num(4), Num(4)}, ERR_WRONGUSAGE},
        {"CreateGradientBGPic",
         {Num(1), Num(2), Num(0), Num(0), Num(0), Num(4)},
         ERR_BADDIMENSIONS},
        // Without a display there is no output picture to take the size from.
        {"CreateGradientBGPic", {Num(1), Num(2), Num(0), Num(0)}, ERR_BADDIMENSIONS},
        {"CreateTexturedBGPic", {Num(1), Num(9)}, ERR_BADDIMENSIONS},
        {"CreateTexturedBGPic", {Num(1), Num(9), Num(4), Num(4)}, ERR_FINDBRUSH},
        {"BrushToBGPic", {Num(9)}, ERR_FINDBRUSH},
        {"LoadBGPic",
         {Num(1), Str("a.png"),
          Table({{Str("loadalpha"), Num(1)}, {Str("transparency"), Num(kKey)}})},
         ERR_MASKNALPHA},
        {"LoadBGPic", {Num(1), Str("a.png"), Table({{Str("fillstyle"), Num(4)}})}, ERR_WRONGUSAGE},
        {"LoadBGPic", {Num(1), Str("a.png"), Num(0), Str("palette")}, ERR_TABEXPECTED},
        {"LoadBGPic", {Num(1), Str("a.png"), Num(0), List({Num(0), Str("red")})}, ERR_NUMTABLEARG},
        {"LoadBGPic", {Num(1), Str("no such picture.png")}, ERR_LOADPICTURE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(Call(c.command, c.args).code, c.code);
        EXPECT_EQ(PictureCount(), 0u);
    }
}

TEST_F(BGPicImages, CopiesHaveEveryPartAndShareAsTheOriginalDoes) {
    qvBGPic* picture = Create(1, 6, 4, 0x405060);
    ASSERT_EQ(Call("ScaleBGPic", {Num(1), Num(3), Num(2)}).code, 0);
    VmPushString(L, "kept");
    ASSERT_EQ(SetObjectDataEntry(L, "note", -1, &picture->header.data), 0);
    VmSetTop(L, -2);
    EXPECT_EQ(Call("CopyBGPic", {Num(1), Num(1)}).code, ERR_WRONGUSAGE);
    CallResult copied = Call("CopyBGPic", {Num(1), Nil()});
    ASSERT_EQ(copied.code, 0);
    ASSERT_EQ(copied.results.size(), 1u);
    qvBGPic* copy = Find(qvObjectId{0, const_cast<void*>(copied.results[0].pointer)});
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->width, 3);
    EXPECT_EQ(copy->baseWidth, 6);
    EXPECT_EQ(copy->shown.bitmap, copy->scaled.bitmap);
    EXPECT_NE(copy->shown.bitmap, picture->shown.bitmap);
    EXPECT_NE(copy->base.bitmap, copy->shown.bitmap);
    EXPECT_EQ(Pixels(copy->shown.bitmap), Pixels(picture->shown.bitmap));
    EXPECT_EQ(Pixels(copy->base.bitmap), Pixels(picture->base.bitmap));
    ASSERT_NE(FindObjectDataEntry(copy->header.data, "note"), nullptr);
    // A numeric destination in use is replaced.
    Create(2, 1, 1, 0);
    ASSERT_EQ(Call("CopyBGPic", {Num(1), Num(2)}).code, 0);
    EXPECT_EQ(Find(2u)->baseWidth, 6);
    EXPECT_EQ(PictureCount(), 3u);
}

TEST_F(BGPicImages, BrushesBecomePicturesUnlessTransformedVectorBrushes) {
    brushes.Add(4, 2, 1, {0xABCDEF, 0x123456});
    ASSERT_EQ(Call("BrushToBGPic", {Num(4), Num(1)}).code, 0);
    qvBGPic* picture = Find(1u);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->vector, 0);
    EXPECT_EQ(Pixels(picture->shown.bitmap), StoredAll({0xABCDEF, 0x123456}));

    FakeBrushes::Brush& vector = brushes.Add(5, 2, 1, {0x010203, 0x040506});
    vector.vectorSource = NewImageHandle(2, 1);
    vector.transformed = true;
    EXPECT_EQ(Call("BrushToBGPic", {Num(5), Num(2)}).code, ERR_TFVBRUSHBGPIC);
    vector.transformed = false;
    ASSERT_EQ(Call("BrushToBGPic", {Num(5), Num(2)}).code, 0);
    qvBGPic* rendered = Find(2u);
    EXPECT_EQ(rendered->vector, 1);
    EXPECT_EQ(rendered->image, vector.vectorSource);
    EXPECT_EQ(vector.vectorSource->refCount, 2u);
    // The source has no loader to render it again at another size: nothing changes.
    EXPECT_EQ(Call("ScaleBGPic", {Num(2), Num(4), Num(2)}).code, ERR_TFIMAGE);
    EXPECT_EQ(rendered->width, 2);
    ASSERT_EQ(Call("FreeBGPic", {Num(2)}).code, 0);
    EXPECT_EQ(vector.vectorSource->refCount, 1u);
}

TEST_F(BGPicImages, PreloadedPicturesKeepTheirPixelsUntilTheFirstDisplay) {
    const std::string file = TempDir() + "/p.png";
    const std::vector<uint32_t> pixels = PatternPixels(5, 3, false);
    ASSERT_TRUE(WritePng(file, 5, 3, pixels, false));
    const qvAttrSet on[] = {{QV_ATTR_PRELOADING, 1}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, on);
    ASSERT_EQ(Call("LoadBGPic", {Num(1), Str(file)}).code, 0);
    qvBGPic* picture = Find(1u);
    ASSERT_NE(picture, nullptr);
    EXPECT_NE(picture->image, nullptr);
    EXPECT_EQ(picture->base.bitmap, nullptr);
    const qvAttrSet off[] = {{QV_ATTR_PRELOADING, 0}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, off);
    ASSERT_EQ(RebuildBGPics(L), 0);
    EXPECT_EQ(picture->image, nullptr);
    ASSERT_NE(picture->shown.bitmap, nullptr);
    EXPECT_EQ(Pixels(picture->shown.bitmap), StoredAll(pixels));
    // After start-up a picture gets its bitmaps at once.
    ASSERT_EQ(Call("LoadBGPic", {Num(2), Str(file)}).code, 0);
    EXPECT_EQ(Find(2u)->image, nullptr);
    EXPECT_EQ(Pixels(Find(2u)->shown.bitmap), StoredAll(pixels));
}

TEST_F(BGPicImages, PositionsComeFromATrailingTable) {
    VmSetTop(L, 0);
    VmPushNumber(L, 1);
    VmNewTable(L);
    SetTableFieldInt(L, "x", 12);
    int32_t x = 0, y = 0;
    scene::GetXYOptions(L, 2, &x, &y);
    EXPECT_EQ(x, 12);
    EXPECT_EQ(y, 99999);
    scene::GetXYOptions(L, 1, &x, &y);  // not a table
    EXPECT_EQ(x, 99999);
    VmPushNumber(L, 3);
    scene::GetXYOptions(L, 2, &x, &y);  // not the last argument
    EXPECT_EQ(x, 99999);
    VmSetTop(L, 0);
}

TEST_F(BGPicImages, PlainPicturesForOtherLibraries) {
    qvObjectId id = scene::AutomaticId();
    ASSERT_EQ(AddPlainBGPic(&id, 3, 2, 0x102030), 0);
    qvBGPic* picture = Find(id);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(id.handle, picture);
    EXPECT_EQ(Pixels(picture->shown.bitmap), StoredAll(std::vector<uint32_t>(6, 0x102030)));
    id = {7, nullptr};
    ASSERT_EQ(AddPlainBGPic(&id, 1, 1, 0), 0);
    EXPECT_NE(Find(7u), nullptr);
}

}  // namespace
}  // namespace qv::testing
