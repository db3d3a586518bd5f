// The "brush" library's commands: one row per command with the checks and errors its
// arguments meet, then what the commands do to a brush's planes, ids and layers.
#include <cmath>

#include "gfx/blit_frontends.h"
#include "gfx/colour_filters.h"
#include "gfx/graphics_state.h"
#include "gfx/library/graphics_library.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "runtime/attributes.h"
#include "tests/objects/support/object_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kRed = 0xF80000, kBlue = 0x0000F8;

// Brushes every row finds: 1 plain 8 x 6, 2 masked 4 x 4, 3 with an alpha plane, 4 a hardware
// brush, 5 a vector brush, 6 fully masked out.
class BrushCommands : public ObjectFixture {
protected:
    BrushCommands() {
        NewBrush({1, nullptr}, 8, 6, kRed);
        NewBrush({2, nullptr}, 4, 4, kBlue, true);
        NewBrush({3, nullptr}, 4, 4, kBlue, false, true);
        NewBrush({4, nullptr}, 4, 4, kBlue)->hardware = 1;
        NewBrush({5, nullptr}, 4, 4, kBlue)->type = kVectorBrush;
        qvBrush* hidden = NewBrush({6, nullptr}, 4, 4, kBlue, true);
        FillMaskRect(hidden->mask, 0, 0, 4, 4, gfx::kMaskInvisible);
    }

    static qvBrush* Find(uint32_t id) {
        qvBrush* b = nullptr;
        GetBrush(nullptr, {id, nullptr}, &b, QV_BRUSH_HARDWARE);
        return b;
    }
};

struct Row {
    const char* command;
    std::vector<Arg> args;
    int code;
};

Arg Tags(std::vector<std::pair<Arg, Arg>> entries) {
    return Table(std::move(entries));
}

std::vector<Row> Rows() {
    const Arg unknownHandle = LightUserdata(reinterpret_cast<void*>(0x10));
    return {
        {"CreateBrush", {Nil(), Num(0), Num(5)}, ERR_BADDIMENSIONS},
        {"CreateBrush",
         {Num(7), Num(2), Num(2), Num(0),
          Tags({{Str("mask"), Num(1)}, {Str("alphachannel"), Num(1)}})},
         ERR_WRONGUSAGE},
        {"CreateBrush", {Num(7), Num(40000), Num(1)}, ERR_MEM},
        {"DisplayBrush", {Num(99), Num(0), Num(0)}, ERR_FINDBRUSH},
        {"DisplayBrushPart",
         {Num(1), Num(8), Num(0), Num(0), Num(0), Num(1), Num(1)},
         ERR_COORDSRANGE},
        {"ScaleBrush", {Num(1), Num(0), Num(5)}, ERR_BADDIMENSIONS},
        {"ScaleBrush", {Num(1), Str("1000000%"), Num(5)}, ERR_MEM},
        {"FreeBrush", {Num(99)}, ERR_FINDBRUSH},
        {"TintBrush", {Num(4), Num(0), Num(50)}, ERR_HWBRUSH},
        {"ReplaceColors", {Num(1), List({Num(0xFF0000)})}, ERR_WRONGUSAGE},
        {"ReplaceColors", {Num(1), List({Str("red"), Num(0)})}, ERR_NUMTABLEARG},
        {"InvertBrush", {Num(5)}, ERR_BRUSHTYPE},
        {"FlipBrush", {Num(99), Num(1)}, ERR_FINDBRUSH},
        {"MixBrush", {Num(1), Num(99), Num(128)}, ERR_FINDBRUSH},
        {"BrushToGray", {unknownHandle}, ERR_FINDARRAY},
        {"RotateBrush", {Num(1), Num(30), Num(0)}, ERR_WRONGUSAGE},
        {"GetBrushLink", {Num(7), Num(3), Num(7)}, ERR_WRONGUSAGE},
        {"GetBrushLink", {Num(7), Num(99), Num(1)}, ERR_WRONGUSAGE},
        {"CopyBrush", {Num(1), Num(1)}, ERR_WRONGUSAGE},
        {"CopyBrush", {Num(4), Num(7)}, ERR_WRONGUSAGE},
        {"SetBrushTransparency", {Num(99), Num(0)}, ERR_FINDBRUSH},
        {"LoadBrush",
         {Num(7), Str("x.png"), Tags({{Str("transparency"), Num(0)}, {Str("loadalpha"), Num(1)}})},
         ERR_MASKNALPHA},
        {"LoadBrush",
         {Num(7), Str("x.png"),
          Tags({{Str("transparency"), Num(0)}, {Str("globalalpha"), Num(9)}})},
         ERR_MASKNALPHA},
        {"SetMaskMode", {Num(gfx::kMaskXor)}, 0},
        {"SaveBrush", {Num(4), Str("x.png")}, ERR_HWBRUSH},
        {"SetAlphaIntensity", {Num(256)}, ERR_WRONGUSAGE},
        {"SetAlphaIntensity", {Num(-1)}, 0},
        {"SetAlphaIntensity", {Str("150%")}, ERR_PERCENTFORMAT},
        {"DeleteAlphaChannel", {Num(99)}, ERR_FINDBRUSH},
        {"CropBrush", {Num(1), Num(0), Num(0), Num(0), Num(1)}, ERR_BADDIMENSIONS},
        {"CropBrush", {Num(1), Num(-1), Num(0), Num(1), Num(1)}, ERR_NEGCOORDS},
        {"CropBrush", {Num(1), Num(8), Num(0), Num(1), Num(1)}, ERR_COORDSRANGE},
        {"InvertMask", {Num(1)}, ERR_WRONGUSAGE},
        {"InvertAlphaChannel", {Num(1)}, ERR_WRONGUSAGE},
        {"FloodFill", {Num(1), Num(8), Num(0), Num(0), Num(0)}, ERR_COORDSRANGE},
        {"FloodFill", {Num(1), Num(0), Num(-1), Num(0), Num(0)}, ERR_NEGCOORDS},
        {"DeleteMask", {Num(4)}, ERR_HWBRUSH},
        {"ConvertToBrush", {Num(22), Num(1), Num(7)}, ERR_NOLAYERS},
        {"ConvertToBrush", {Num(4), Num(1), Num(7)}, ERR_FINDANIM},
        {"ConvertToBrush", {Num(8), Num(1), Num(7)}, ERR_FINDTEXTOBJECT},
        {"ConvertToBrush", {Num(32), Num(1), Num(7)}, ERR_FINDSPRITE},
        {"ConvertToBrush", {Num(3), Num(4), Num(7)}, ERR_HWBRUSH},
        {"GrabDesktop", {Num(7), Tags({{Str("x"), Num(-1)}})}, ERR_WRONGUSAGE},
        {"GrabDesktop", {Num(7), Tags({{Str("width"), Num(0)}})}, ERR_WRONGUSAGE},
        {"TransformBrush", {Num(1), Num(0), Num(0), Num(0), Num(1)}, ERR_WRONGUSAGE},
        {"TrimBrush", {Num(6)}, ERR_TRANSBRUSH},
        {"RasterizeBrush", {Num(1)}, ERR_WRONGUSAGE},
        {"RasterizeBrush", {Num(4)}, ERR_HWBRUSH},
        {"BlurBrush", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"EmbossBrush", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"EdgeBrush", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"SharpenBrush", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"SolarizeBrush", {Num(1), Str("150%")}, ERR_PERCENTFORMAT},
        {"GammaBrush", {Num(4), Num(1), Num(1), Num(1)}, ERR_HWBRUSH},
        {"ContrastBrush", {Num(1), Num(1), Num(0)}, ERR_WRONGUSAGE},
        {"ModulateBrush", {Num(1), Num(1), Num(-1), Num(1)}, ERR_WRONGUSAGE},
        {"SepiaToneBrush", {Num(5), Num(50)}, ERR_BRUSHTYPE},
        {"CharcoalBrush", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"SwirlBrush", {Num(99), Num(1)}, ERR_FINDBRUSH},
        {"PixelateBrush", {Num(1), Num(7)}, ERR_WRONGUSAGE},
        {"PixelateBrush", {Num(1), Num(0)}, ERR_WRONGUSAGE},
        {"BrushToMonochrome", {Num(5)}, ERR_BRUSHTYPE},
        {"ChangeBrushTransparency", {Num(1), Num(5)}, ERR_WRONGUSAGE},
        {"CreateShadowBrush", {Num(7), Num(1), Num(0), Num(0.5)}, ERR_WRONGUSAGE},
        {"CreateShadowBrush", {Num(1), Num(1), Num(0)}, ERR_WRONGUSAGE},
        {"CreateShadowBrush", {Num(7), Num(4), Num(0)}, ERR_HWBRUSH},
        {"CreateShadowBrush", {Num(7), Num(1), Num(0), Num(20000)}, ERR_MEM},
        {"CreateBorderBrush", {Num(7), Num(99), Num(0)}, ERR_FINDBRUSH},
        {"CreateBorderBrush", {Num(7), Num(1), Num(0), Num(1e300)}, ERR_MEM},
        {"WaterRippleBrush", {Num(5)}, ERR_BRUSHTYPE},
        {"OilPaintBrush", {Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"BrushToRGBArray", {Num(4)}, ERR_HWBRUSH},
        {"RGBArrayToBrush",
         {Num(7), List({Num(1), Num(2), Num(3)}), Num(2), Num(2)},
         ERR_NOTENOUGHPIXELS},
        {"RGBArrayToBrush", {Num(7), List({Str("x")}), Num(1), Num(1)}, ERR_NUMCALLBACK},
        {"RGBArrayToBrush", {Num(7), List({}), Num(0), Num(2)}, ERR_BADDIMENSIONS},
        {"RGBArrayToBrush", {Num(7), List({}), Num(1e9), Num(1e9)}, ERR_MEM},
        {"RGBArrayToBrush", {Num(7), List({Num(0)}), Num(1), Num(1), Num(5)}, ERR_WRONGUSAGE},
        {"PerspectiveDistortBrush",
         {Num(5), Num(0), Num(0), Num(1), Num(0), Num(1), Num(1), Num(0), Num(1)},
         ERR_BRUSHTYPE},
        {"ArcDistortBrush", {Num(99)}, ERR_FINDBRUSH},
        {"PolarDistortBrush", {Num(4)}, ERR_HWBRUSH},
        {"BarrelDistortBrush", {Num(1), Num(1), Num(1)}, ERR_MISSINGPARAMTR},
        {"CreateGradientBrush", {Num(7), Num(2), Num(0), Num(0xFFFFFF)}, ERR_BADDIMENSIONS},
        {"CreateTexturedBrush", {Num(7), Num(99), Num(4), Num(4)}, ERR_FINDBRUSH},
        {"ReadBrushPixel", {Num(4), Num(0), Num(0)}, ERR_HWBRUSH},
        {"ReadBrushPixel", {Num(1), Num(8), Num(0)}, ERR_COORDSRANGE},
        {"WriteBrushPixel", {Num(1), Num(100), Num(100), Num(0)}, 0},
    };
}

TEST_F(BrushCommands, EveryCommandChecksItsArguments) {
    for (const Row& row : Rows()) {
        SCOPED_TRACE(row.command);
        EXPECT_EQ(Call(row.command, row.args).code, row.code);
        // A refused command makes no brush.
        if (row.code != 0) {
            EXPECT_EQ(Find(7), nullptr);
        }
    }
}

TEST_F(BrushCommands, ChangesRefuseTheOutputBrushAndLockedBrushes) {
    const char* const commands[] = {"InvertBrush", "BrushToGray", "TrimBrush", "DeleteMask"};
    scene.output = qvObjectId{1, nullptr};
    for (const char* command : commands) EXPECT_EQ(Call(command, {Num(1)}).code, ERR_MODIFYABR);
    EXPECT_EQ(Call("FreeBrush", {Num(1)}).code, ERR_MODIFYABR);
    EXPECT_EQ(Call("CreateBrush", {Num(1), Num(2), Num(2)}).code, ERR_MODIFYABR);
    scene.output.reset();
    Find(1)->lockCount = 1;
    for (const char* command : commands) EXPECT_EQ(Call(command, {Num(1)}).code, ERR_LOCKEDOBJ);
    EXPECT_EQ(Call("CreateBrush", {Num(1), Num(2), Num(2)}).code, ERR_LOCKEDOBJ);
    EXPECT_EQ(Find(1)->width, 8);
    Find(1)->lockCount = 0;
}

TEST_F(BrushCommands, LayersKeepTheirPixelsAndAFailedChangeKeepsTheBrush) {
    const size_t layer = scene.Show({1, nullptr});
    ASSERT_EQ(Call("TintBrush", {Num(1), Num(0x0000F8), Num(255)}).code, 0);
    EXPECT_EQ(ReadBitMapPixel(scene.Shown(L, layer)->bitmap, 0, 0), Stored(kRed));
    EXPECT_EQ(ReadBitMapPixel(Find(1)->bitmap, 0, 0) >> 8, 0u);  // 255/256 of the way to blue
    // Copy-on-write happens, then the change fails: the brush is as it was.
    qvBrush* before = Find(1);
    const size_t second = scene.Show({1, nullptr});
    EXPECT_EQ(Call("PixelateBrush", {Num(1), Num(9)}).code, ERR_WRONGUSAGE);
    EXPECT_NE(scene.Shown(L, second), before);
    EXPECT_EQ(Find(1), before);
    EXPECT_EQ(before->width, 8);
}

TEST_F(BrushCommands, ANumericIdReplacesItsBrushOnlyWhenTheNewOneIsMade) {
    qvBrush* old = Find(1);
    ASSERT_EQ(Call("CreateBrush", {Num(1), Num(3), Num(2), Num(kBlue)}).code, 0);
    EXPECT_NE(Find(1), old);
    EXPECT_EQ(Find(1)->width, 3);
    // A failed maker leaves the old brush under its id.
    EXPECT_EQ(Call("RGBArrayToBrush", {Num(1), List({Num(0)}), Num(2), Num(1)}).code,
              ERR_NOTENOUGHPIXELS);
    EXPECT_EQ(Find(1)->width, 3);
    const CallResult automatic = Call("CreateBrush", {Nil(), Num(2), Num(2)});
    ASSERT_EQ(automatic.results.size(), 1u);
    EXPECT_EQ(automatic.results[0].type, VM_TLIGHTUSERDATA);
}

TEST_F(BrushCommands, MasksAndAlphaChannels) {
    // "mask" with "clear" is invisible; "alphachannel" with "clear" is alpha 0.
    ASSERT_EQ(Call("CreateBrush", {Num(7), Num(3), Num(1), Num(0),
                                   Tags({{Str("mask"), Num(1)}, {Str("clear"), Num(1)}})})
                  .code,
              0);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(ReadBitMapPixel(Find(7)->mask, x, 0), 0u);
    EXPECT_EQ(Find(7)->transparentColour, kMaskWithoutKey);
    // Alpha to a mask keeps the pixels above 0; a mask to alpha gives 255 where it was set.
    qvBrush* alpha = Find(3);
    alpha->alpha->plane[0] = 0, alpha->alpha->plane[1] = 1;
    ASSERT_EQ(Call("ChangeBrushTransparency", {Num(3), Num(28)}).code, 0);
    EXPECT_EQ(alpha->alpha, nullptr);
    EXPECT_EQ(ReadBitMapPixel(alpha->mask, 0, 0), 0u);
    EXPECT_EQ(ReadBitMapPixel(alpha->mask, 1, 0), 1u);
    ASSERT_EQ(Call("ChangeBrushTransparency", {Num(3), Num(30)}).code, 0);
    EXPECT_EQ(alpha->mask, nullptr);
    EXPECT_EQ(alpha->alpha->plane[0], 0);
    EXPECT_EQ(alpha->alpha->plane[1], 255);
    ASSERT_EQ(Call("InvertAlphaChannel", {Num(3)}).code, 0);
    EXPECT_EQ(alpha->alpha->plane[0], 255);
    // SetBrushTransparency(-1) removes an alpha channel too.
    ASSERT_EQ(Call("SetBrushTransparency", {Num(3), Num(-1)}).code, 0);
    EXPECT_EQ(alpha->alpha, nullptr);
    EXPECT_EQ(alpha->transparentColour, kNoTransparency);
    // A colour key masks out exactly that colour.
    ASSERT_EQ(Call("WriteBrushPixel", {Num(3), Num(2), Num(0), Num(0xF8F8F8)}).code, 0);
    ASSERT_EQ(Call("SetBrushTransparency", {Num(3), Num(0xF8F8F8)}).code, 0);
    EXPECT_EQ(ReadBitMapPixel(alpha->mask, 2, 0), 0u);
    EXPECT_EQ(ReadBitMapPixel(alpha->mask, 1, 0), 1u);
    ASSERT_EQ(Call("InvertMask", {Num(3)}).code, 0);
    EXPECT_EQ(ReadBitMapPixel(alpha->mask, 2, 0), 1u);
}

TEST_F(BrushCommands, PixelTablesCarryAlphaBothWays) {
    const CallResult plain = Call("BrushToRGBArray", {Num(1)});
    ASSERT_EQ(plain.code, 0);
    EXPECT_EQ(plain.results[0].At(0)->number, double(0xFF000000u | Stored(kRed)));
    EXPECT_EQ(Call("BrushToRGBArray", {Num(1), Num(1)}).results[0].At(47)->number,
              double(Stored(kRed)));
    ASSERT_EQ(Call("RGBArrayToBrush",
                   {Num(7), List({Num(0x80F80000u), Num(0x0000F800)}), Num(2), Num(1), Num(30)})
                  .code,
              0);
    EXPECT_EQ(Find(7)->alpha->plane[0], 0x80);
    EXPECT_EQ(Find(7)->alpha->plane[1], 0);
    const CallResult back = Call("BrushToRGBArray", {Num(7)});
    EXPECT_EQ(back.results[0].At(0)->number, double(0x80000000u | Stored(0xF80000)));
    EXPECT_EQ(back.results[0].At(1)->number, double(Stored(0x00F800)));
    // A mask is visible where A is not 0; invert turns A around first.
    ASSERT_EQ(Call("RGBArrayToBrush",
                   {Num(8), List({Num(0xFF000000u), Num(0)}), Num(2), Num(1), Num(28), Num(1)})
                  .code,
              0);
    EXPECT_EQ(ReadBitMapPixel(Find(8)->mask, 0, 0), 0u);
    EXPECT_EQ(ReadBitMapPixel(Find(8)->mask, 1, 0), 1u);
}

TEST_F(BrushCommands, TrimCropAndScaleChangeTheSize) {
    qvBrush* b = Find(2);
    FillMaskRect(b->mask, 0, 0, 4, 4, gfx::kMaskInvisible);
    FillMaskRect(b->mask, 1, 2, 2, 1, gfx::kMaskVisible);
    const CallResult trimmed = Call("TrimBrush", {Num(2)});
    ASSERT_EQ(trimmed.code, 0);
    EXPECT_EQ(trimmed.Number(0), 1);
    EXPECT_EQ(trimmed.Number(1), 2);
    EXPECT_EQ(b->width, 2);
    EXPECT_EQ(b->height, 1);
    // A brush without planes is left as it is.
    EXPECT_EQ(Call("TrimBrush", {Num(1)}).Number(0), 0);
    EXPECT_EQ(Find(1)->width, 8);
    ASSERT_EQ(Call("CropBrush", {Num(1), Num(6), Num(4), Num(5), Num(5)}).code, 0);
    EXPECT_EQ(Find(1)->width, 2);
    EXPECT_EQ(Find(1)->height, 2);
    ASSERT_EQ(Call("ScaleBrush", {Num(1), Str("250%"), Num(KEEPASPRAT)}).code, 0);
    EXPECT_EQ(Find(1)->width, 5);
    EXPECT_EQ(Find(1)->height, 5);
    ASSERT_EQ(Call("RotateBrush", {Num(1), Num(90)}).code, 0);
    EXPECT_EQ(Find(1)->width, 5);
    EXPECT_NE(Find(1)->mask, nullptr);
}

// RotateBrush and TransformBrush take a bitmap brush through the transform, whatever the
// matrix: a stretch is sized as the transform sizes it and, as every turn, marks the pixels
// it covers in a new mask; so does the identity.
TEST_F(BrushCommands, EveryMatrixTakesTheTransformRoad) {
    struct Case {
        const char* command;
        std::vector<Arg> args;
        double matrix[4];
    };
    const Case cases[] = {
        {"RotateBrush", {Num(7), Num(0), Num(1.9), Num(1)}, {1.9, 0, 0, 1}},
        {"TransformBrush", {Num(7), Num(1.9), Num(0), Num(0), Num(1)}, {1.9, 0, 0, 1}},
        {"RotateBrush", {Num(7), Num(0)}, {1, 0, 0, 1}},
        {"RotateBrush", {Num(7), Num(360)}, {1, 0, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        qvBrush* b = NewBrush({7, nullptr}, 3, 2, kRed);
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
        int32_t width = 0, height = 0;
        ASSERT_EQ(TransformBitmap(b->bitmap, nullptr, nullptr, 0, 0, 3, 2, c.matrix, 0, &bitmap,
                                  &mask, &alpha, &width, &height),
                  0);
        gfx::NewPicture expected;
        expected.bitmap.reset(bitmap), expected.mask.reset(mask), expected.alpha.reset(alpha);
        ASSERT_EQ(Call(c.command, c.args).code, 0);
        b = Find(7);
        EXPECT_EQ(b->width, width);
        EXPECT_EQ(b->height, height);
        ASSERT_NE(b->mask, nullptr);
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) {
                EXPECT_EQ(ReadBitMapPixel(b->mask, x, y), ReadBitMapPixel(mask, x, y));
            }
        }
        ASSERT_EQ(Call("FreeBrush", {Num(7)}).code, 0);
    }
}

TEST_F(BrushCommands, PixelsAreReadWrittenFilledAndReplaced) {
    ASSERT_EQ(Call("WriteBrushPixel", {Num(2), Num(1), Num(1), Num(kRed), Num(0)}).code, 0);
    const CallResult pixel = Call("ReadBrushPixel", {Num(2), Num(1), Num(1)});
    EXPECT_EQ(pixel.Number(0), double(Stored(kRed)));
    EXPECT_EQ(pixel.Number(1), 0);
    EXPECT_EQ(Call("ReadBrushPixel", {Num(1), Num(0), Num(0)}).Number(1), -1);
    ASSERT_EQ(Call("WriteBrushPixel", {Num(3), Num(0), Num(0), Num(kRed), Num(77)}).code, 0);
    EXPECT_EQ(Call("ReadBrushPixel", {Num(3), Num(0), Num(0)}).Number(1), 77);
    // A blue column splits red brush 1; the fill from the left stops at it.
    for (int y = 0; y < 6; ++y) {
        ASSERT_EQ(Call("WriteBrushPixel", {Num(1), Num(3), Num(y), Num(kBlue)}).code, 0);
    }
    ASSERT_EQ(Call("FloodFill", {Num(1), Num(0), Num(0), Num(0x00FC00), Num(kBlue)}).code, 0);
    EXPECT_EQ(ReadBitMapPixel(Find(1)->bitmap, 2, 5), Stored(0x00FC00));
    EXPECT_EQ(ReadBitMapPixel(Find(1)->bitmap, 3, 5), Stored(kBlue));
    EXPECT_EQ(ReadBitMapPixel(Find(1)->bitmap, 4, 0), Stored(kRed));
    // Replacing colours goes pair by pair; an empty table looks nothing up.
    ASSERT_EQ(Call("ReplaceColors", {Num(1), List({Num(kRed), Num(0xF8F8F8), Num(-1)})}).code, 0);
    EXPECT_EQ(ReadBitMapPixel(Find(1)->bitmap, 4, 0), Stored(0xF8F8F8));
    EXPECT_EQ(ReadBitMapPixel(Find(1)->bitmap, 3, 0), Stored(kBlue));
    EXPECT_EQ(Call("ReplaceColors", {Num(99), List({})}).code, 0);
}

TEST_F(BrushCommands, ConstantsAndDrawingModes) {
    struct Constant {
        const char* name;
        double value;
    };
    const Constant constants[] = {
        {"MASKVISIBLE", 0},   {"MASKINVISIBLE", 1}, {"MASKVANILLACOPY", 2}, {"MASKXOR", 3},
        {"MASKAND", 4},       {"MASKOR", 5},        {"VANILLACOPY", -1},    {"SELMODE_NORMAL", 0},
        {"SELMODE_COMBO", 1}, {"SELMODE_LAYERS", 2}};
    for (const Constant& c : constants) {
        double value = 99;
        const char* text = nullptr;
        ASSERT_EQ(LookupConstant(L, c.name, &text, &value), 1) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
    }
    ASSERT_EQ(AddSetAttrHandler(GraphicsSetAttr), 0);
    ASSERT_EQ(Call("SetMaskMode", {Num(gfx::kMaskXor)}).code, 0);
    EXPECT_EQ(gfx::Graphics().maskMode, gfx::kMaskXor);
    ASSERT_EQ(Call("SetAlphaIntensity", {Str("50%")}).code, 0);
    EXPECT_EQ(gfx::Graphics().alphaIntensity, 127);
    ASSERT_EQ(Call("SetAlphaIntensity", {Num(-1)}).code, 0);
    EXPECT_EQ(gfx::Graphics().alphaIntensity, gfx::kAlphaVanillaCopy);
    gfx::Graphics().maskMode = gfx::kMaskVisible, gfx::Graphics().alphaIntensity = 128;
}

// A hostile pass count of ContrastBrush ends after the most passes a picture is given.
TEST_F(BrushCommands, ContrastPassesStopAtTheirLimit) {
    for (const int increase : {1, 0}) {
        const uint32_t id = 20 + uint32_t(increase);
        qvBrush* capped = NewBrush({id, nullptr}, 8, 8, 0);
        qvBrush* counted = NewBrush({id + 10, nullptr}, 8, 8, 0);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                const uint32_t rgb = (uint32_t(x * 32) << 16) | (uint32_t(y * 32) << 8) | 2;
                PlotPixel(capped->bitmap, x, y, rgb);
                PlotPixel(counted->bitmap, x, y, rgb);
            }
        }
        ASSERT_EQ(Call("ContrastBrush", {Num(id), Num(increase), Num(1e12)}).code, 0);
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(
                ContrastBitmap(counted->bitmap, 8, 8, increase, kMaxContrastPasses / 2, nullptr),
                0);
        }
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                ASSERT_EQ(ReadBitMapPixel(capped->bitmap, x, y),
                          ReadBitMapPixel(counted->bitmap, x, y))
                    << x << "," << y << " increase " << increase;
            }
        }
    }
}

}  // namespace
}  // namespace qv::testing
