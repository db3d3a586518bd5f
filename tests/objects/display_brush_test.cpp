// The object display engine on a headless display: where a brush lands (position constants,
// the anchor, clipping), how it is drawn (mask, alpha, transparency), the refusals, what the
// layer list and the double buffer are told, and memory running out at every allocation of a
// transformed, filtered and transparent display.
#include <gtest/gtest.h>

#include "gfx/geometry.h"
#include "gfx/graphics_state.h"
#include "platform/linux/memory.h"
#include "scene/layers/dirty_rects.h"
#include "scene/layers/transform_matrix.h"
#include "tests/objects/support/brush_display_fixture.h"

namespace qv::testing {
namespace {

constexpr uint32_t kRed = 0xF80000, kGreen = 0x00FC00, kBlue = 0x0000F8, kGrey = 0x808080;

class DisplayBrushTest : public BrushDisplayFixture {
protected:
    void WriteBrushPixelFor(uint32_t id, int32_t x, int32_t y, uint32_t colour) {
        ASSERT_EQ(Call("WriteBrushPixel", {Num(id), Num(x), Num(y), Num(colour)}).code, 0);
    }
};

TEST_F(DisplayBrushTest, MaskedBrushIsClippedAtTheCorner) {
    Open(8, 8);
    const uint32_t colours[3] = {kRed, kGreen, kBlue};
    std::vector<uint32_t> pixels;
    std::vector<uint8_t> mask;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            pixels.push_back(colours[(x + y) % 3]);
            mask.push_back((x + y) % 2 == 0 ? 1 : 0);
        }
    }
    MakeBrush(1, 4, 4, pixels, mask);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(-2), Num(6)}).code, 0);
    // Brush pixel (bx, by) lands on (bx - 2, by + 6); only columns 2-3 and rows 0-1 fall inside.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int bx = x + 2, by = y - 6;
            uint32_t expected = 0;
            if (by >= 0 && by < 4 && bx < 4 && (bx + by) % 2 == 0) {
                expected = Stored(colours[(bx + by) % 3]);
            }
            EXPECT_EQ(At(x, y), expected) << x << "," << y;
        }
    }
}

TEST_F(DisplayBrushTest, AlphaBrushBlendsByTheShiftFormula) {
    Open(4, 1, kGrey);
    MakeBrush(1, 4, 1, {kRed, kGreen, kBlue, kRed}, {}, {0, 64, 200, 255});
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(0), Num(0)}).code, 0);
    EXPECT_EQ(At(0, 0), Stored(kGrey));
    EXPECT_EQ(At(1, 0), Blend(kGreen, kGrey, 64));
    EXPECT_EQ(At(2, 0), Blend(kBlue, kGrey, 200));
    EXPECT_EQ(At(3, 0), Stored(kRed));  // an opaque pixel is copied
}

struct Placement {
    const char* name;
    double x, y;
    std::vector<std::pair<Arg, Arg>> tags;
    int32_t left, top;  // where the 100 x 10 brush's top-left pixel lands
};

TEST_F(DisplayBrushTest, PositionConstantsAndTheAnchorPlaceTheBrush) {
    Open(640, 40);
    Plain(1, 100, 10, kRed);
    const Placement cases[] = {
        {"centred on 640", gfx::CENTER, 0, {}, 270, 0},
        {"right edge", gfx::RIGHT, 5, {}, 540, 5},
        {"anchor at the middle",
         60,
         20,
         {{Str("anchorx"), Num(0.5)}, {Str("anchory"), Num(0.5)}},
         10,
         15},
        {"anchor at the far corner",
         150,
         30,
         {{Str("anchorx"), Num(1)}, {Str("anchory"), Num(1)}},
         50,
         20},
        {"centred with an anchor", gfx::CENTER, 0, {{Str("anchorx"), Num(0.5)}}, 270, 0},
    };
    Plain(9, 640, 40, 0);
    for (const Placement& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Call("DisplayBrush", {Num(9), Num(0), Num(0)}).code, 0);
        std::vector<Arg> args = {Num(1), Num(c.x), Num(c.y)};
        if (!c.tags.empty()) args.push_back(Table(c.tags));
        ASSERT_EQ(Call("DisplayBrush", args).code, 0);
        EXPECT_EQ(At(c.left, c.top), Stored(kRed));
        EXPECT_EQ(At(c.left + 99, c.top + 9), Stored(kRed));
        if (c.left > 0) {
            EXPECT_EQ(At(c.left - 1, c.top), 0u);
        }
        if (c.top > 0) {
            EXPECT_EQ(At(c.left, c.top - 1), 0u);
        }
    }
    // Anchored beyond the left and top limit: nothing drawn, nothing wrapped.
    ASSERT_EQ(Call("DisplayBrush", {Num(9), Num(0), Num(0)}).code, 0);
    const std::vector<std::pair<Arg, Arg>> corner = {{Str("anchorx"), Num(1)},
                                                     {Str("anchory"), Num(1)}};
    ASSERT_EQ(
        Call("DisplayBrush", {Num(1), Num(-2147483648.0), Num(-2147483648.0), Table(corner)}).code,
        0);
    EXPECT_EQ(At(0, 0), 0u);
}

TEST_F(DisplayBrushTest, PartsAreCheckedAndCutToTheBrush) {
    Open(8, 2);
    MakeBrush(1, 4, 1, {kRed, kGreen, kBlue, kRed});
    EXPECT_EQ(
        Call("DisplayBrushPart", {Num(1), Num(4), Num(0), Num(0), Num(0), Num(1), Num(1)}).code,
        ERR_COORDSRANGE);
    EXPECT_EQ(
        Call("DisplayBrushPart", {Num(1), Num(-1), Num(0), Num(0), Num(0), Num(1), Num(1)}).code,
        ERR_NEGCOORDS);
    EXPECT_EQ(
        Call("DisplayBrushPart", {Num(1), Num(0), Num(0), Num(0), Num(0), Num(0), Num(1)}).code,
        ERR_BADDIMENSIONS);
    // A width past the edge is cut: two pixels from column 2, nothing after them.
    ASSERT_EQ(
        Call("DisplayBrushPart", {Num(1), Num(2), Num(0), Num(3), Num(1), Num(10), Num(5)}).code,
        0);
    EXPECT_EQ(At(3, 1), Stored(kBlue));
    EXPECT_EQ(At(4, 1), Stored(kRed));
    EXPECT_EQ(At(5, 1), 0u);
    EXPECT_EQ(At(3, 0), 0u);
}

TEST_F(DisplayBrushTest, FullTransparencyDrawsWithAlphaZero) {
    Open(4, 4, kGrey);
    Plain(1, 2, 2, kRed);
    const std::vector<uint32_t> before = Window();
    ASSERT_EQ(
        Call("DisplayBrush", {Num(1), Num(1), Num(1), Table({{Str("transparency"), Num(255)}})})
            .code,
        0);
    EXPECT_EQ(Window(), before);
    ASSERT_EQ(
        Call("DisplayBrush", {Num(1), Num(1), Num(1), Table({{Str("transparency"), Num(128)}})})
            .code,
        0);
    EXPECT_EQ(At(1, 1), Blend(kRed, kGrey, 127));
    // The brush itself keeps no trace of the transparency.
    qvBrush* b = nullptr;
    ASSERT_EQ(GetBrush(L, {1, nullptr}, &b, 0), 0);
    EXPECT_EQ(b->alpha, nullptr);
}

TEST_F(DisplayBrushTest, TransformedBrushesLandAboutTheirAnchor) {
    Open(16, 16);
    Plain(1, 4, 2, kRed);
    // Twice the size from (3, 3): 8 x 4 pixels.
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(3), Num(3),
                                    Table({{Str("scalex"), Num(2)}, {Str("scaley"), Num(2)}})})
                  .code,
              0);
    EXPECT_EQ(At(3, 3), Stored(kRed));
    EXPECT_EQ(At(10, 6), Stored(kRed));
    EXPECT_EQ(At(11, 6), 0u);
    EXPECT_EQ(At(10, 7), 0u);
}

TEST_F(DisplayBrushTest, DisplayingTheSelectedBrushEndsTheSelectionFirst) {
    Open(4, 4);
    Plain(1, 1, 1, kRed);
    Plain(2, 1, 1, kBlue);
    SceneSpy spy;
    spy.redirected = true, spy.output = {1, nullptr};
    ASSERT_EQ(Call("DisplayBrush", {Num(2), Num(0), Num(0)}).code, 0);
    EXPECT_EQ(spy.endedRedirections, 0);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(1), Num(0)}).code, 0);
    EXPECT_EQ(spy.endedRedirections, 1);
    EXPECT_EQ(At(1, 0), Stored(kRed));
}

TEST_F(DisplayBrushTest, HardwareBrushesNeedTheHardwareDoubleBuffer) {
    Open(4, 4);
    qvBrush* b = Plain(1, 2, 2, kRed);
    b->hardware = 1;
    EXPECT_EQ(Call("DisplayBrush", {Num(1), Num(0), Num(0)}).code, ERR_HWBRUSH);
    SceneSpy spy;
    spy.hardwareDoubleBuffer = true;
    EXPECT_EQ(Call("DisplayBrush", {Num(1), Num(0), Num(0)}).code, 0);
    const Arg invert = List({Table({{Str("name"), Str("invert")}})});
    EXPECT_EQ(
        Call("DisplayBrush", {Num(1), Num(0), Num(0), Table({{Str("filters"), invert}})}).code,
        ERR_HWBRUSHFUNC);
    EXPECT_EQ(
        Call("DisplayBrush", {Num(1), Num(0), Num(0), Table({{Str("transparency"), Num(9)}})}).code,
        ERR_HWBRUSHFUNC);
}

TEST_F(DisplayBrushTest, WithLayersOnATransformedBrushIsOnlyALayer) {
    Open(8, 8);
    Plain(1, 2, 2, kRed);
    SceneSpy spy;
    display->layersEnabled = 1;
    const std::vector<uint32_t> before = Window();
    ASSERT_EQ(
        Call("DisplayBrush", {Num(1), Num(2), Num(2), Table({{Str("rotate"), Num(30)}})}).code, 0);
    ASSERT_EQ(spy.layers.size(), 1u);
    EXPECT_EQ(spy.layers[0].kind, gfx::kTypeBrush);
    EXPECT_EQ(spy.layers[0].insertPosition, -1);
    EXPECT_EQ(Window(), before);
    // An unrotated one is shown at once: its rectangle of the window is composed again from
    // the picture and its layers. The spy keeps no layer, so there the window shows what the
    // display's bitmap got behind its back, and elsewhere what it showed.
    RectFill(display->displayBitmap, 0, 0, 8, 8, kBlue);
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(2), Num(2)}).code, 0);
    ASSERT_EQ(spy.layers.size(), 2u);
    EXPECT_EQ(spy.layers[1].x, 2);
    EXPECT_EQ(spy.layers[1].width, 2);
    EXPECT_EQ(At(3, 3), Stored(kBlue));
    EXPECT_EQ(At(4, 4), before[4 * 8 + 4]);
    display->layersEnabled = 0;
}

TEST_F(DisplayBrushTest, DoubleBufferingRecordsWhatWasDrawn) {
    Open(16, 16);
    Plain(1, 3, 2, kRed);
    Plain(2, 16, 16, kBlue);
    display->doubleBufferOutput = 1;
    ASSERT_EQ(Call("DisplayBrush", {Num(1), Num(5), Num(6)}).code, 0);
    const qvRectList& dirty = display->dirtyRects;
    ASSERT_EQ(dirty.count, 1);
    EXPECT_EQ(dirty.rects[0].x1, 5);
    EXPECT_EQ(dirty.rects[0].y1, 6);
    EXPECT_EQ(dirty.rects[0].x2, 7);
    EXPECT_EQ(dirty.rects[0].y2, 7);
    // A brush that covers the whole picture marks it whole.
    ASSERT_EQ(Call("DisplayBrush", {Num(2), Num(0), Num(0)}).code, 0);
    EXPECT_TRUE(RectListWhole(&dirty));
    display->doubleBufferOutput = 0;
}

TEST_F(DisplayBrushTest, MemoryRunningOutDrawsNothingAndLeaksNothing) {
    Open(24, 24, kGrey);
    MakeBrush(1, 6, 5, std::vector<uint32_t>(30, kRed), std::vector<uint8_t>(30, 1));
    qvDrawTransform transform;
    qvDrawStyle style;
    ResetDrawTags(&transform, &style, 6, 5, 1, 0);
    MakeTransformMatrix(transform.matrix, 0, 0, 6, 5, 30, 1.5, 1);
    style.transparency = 100;
    style.filters[kFilterInvert].enabled = 1;
    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBrush;
    args.id = {1, nullptr};
    args.x = 4, args.y = 4;
    args.transform = &transform, args.style = &style;
    const std::vector<uint32_t> before = Window();
    int code = ERR_MEM;
    uint64_t n = 1;
    for (; code == ERR_MEM && n < 200; ++n) {
        const size_t live = GetMemoryStats().liveBlocks;
        {
            AllocationFault fault(n, false);
            code = DisplayBrushEx(L, args);
        }
        if (code == ERR_MEM) {
            EXPECT_EQ(Window(), before) << "allocation " << n;
            EXPECT_EQ(GetMemoryStats().liveBlocks, live) << "allocation " << n;
        }
    }
    EXPECT_EQ(code, 0);
    EXPECT_GT(n, 3u);  // the copies and planes of the call were reached
    EXPECT_NE(Window(), before);
}

TEST_F(DisplayBrushTest, PictureParts) {
    Open(8, 8);
    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(8), Num(8), Num(kBlue)}).code, 0);
    qvDisplayBrushArgs args{};
    args.kind = gfx::kTypeBGPicPart;
    args.id = {5, nullptr};
    args.srcX = 2, args.srcY = 3, args.x = -1, args.y = -1, args.width = 3, args.height = 2;
    // At -1 the part goes where it lies in the picture.
    ASSERT_EQ(DisplayBrushEx(L, args), 0);
    EXPECT_EQ(At(2, 3), Stored(kBlue));
    EXPECT_EQ(At(4, 4), Stored(kBlue));
    EXPECT_EQ(At(5, 4), 0u);
    EXPECT_EQ(At(1, 3), 0u);
    // For the transitions: the whole picture is the picture's own bitmap, a part a copy.
    qvDisplayBitMap* bitmap = nullptr;
    int owned = -1;
    args.outBitmap = &bitmap, args.outOwned = &owned;
    ASSERT_EQ(DisplayBrushEx(L, args), 0);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(owned, 1);
    EXPECT_EQ(bitmap->width, 3);
    FreeDisplayBitMap(bitmap);
    args.srcX = args.srcY = 0, args.width = args.height = 8;
    ASSERT_EQ(DisplayBrushEx(L, args), 0);
    EXPECT_EQ(owned, 0);
    EXPECT_NE(bitmap, nullptr);
    // The shown picture's number is -1.
    args.outBitmap = nullptr, args.outOwned = nullptr;
    args.id = {0xFFFFFFFF, nullptr};
    EXPECT_EQ(DisplayBrushEx(L, args), 0);
    args.id = {6, nullptr};
    EXPECT_EQ(DisplayBrushEx(L, args), ERR_FINDBGPIC);
}

// The command: the part goes to (dx, dy), by default where it lies; sizes below 1 and
// missing pictures are refused.
TEST_F(DisplayBrushTest, DisplayBGPicPartCommand) {
    struct Case {
        const char* name;
        std::vector<Arg> args;
        int code;
        int32_t left, top, width, height;  // where blue lands
    };
    const Case cases[] = {
        {"at its own place", {Num(5), Num(2), Num(3), Num(3), Num(2)}, 0, 2, 3, 3, 2},
        {"moved", {Num(5), Num(0), Num(0), Num(2), Num(2), Num(5), Num(6)}, 0, 5, 6, 2, 2},
        {"as shown, by flag",
         {Num(5), Num(1), Num(1), Num(2), Num(1), Num(4), Num(4), Num(1)},
         0,
         4,
         4,
         2,
         1},
        {"as shown, by table",
         {Num(5), Num(1), Num(1), Num(1), Num(2), Num(0), Num(0), Table({{Str("layers"), Num(1)}})},
         0,
         0,
         0,
         1,
         2},
        {"no width", {Num(5), Num(0), Num(0), Num(0), Num(2)}, ERR_BADDIMENSIONS, 0, 0, 0, 0},
        {"no picture", {Num(6), Num(0), Num(0), Num(2), Num(2)}, ERR_FINDBGPIC, 0, 0, 0, 0},
    };
    SetExitOnError(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open(8, 8);
        ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(8), Num(8), Num(kBlue)}).code, 0);
        EXPECT_EQ(Call("DisplayBGPicPart", c.args).code, c.code);
        for (int32_t y = 0; y < 8; ++y) {
            for (int32_t x = 0; x < 8; ++x) {
                const bool inside =
                    x >= c.left && x < c.left + c.width && y >= c.top && y < c.top + c.height;
                EXPECT_EQ(At(x, y), inside ? Stored(kBlue) : 0u) << x << "," << y;
            }
        }
        CloseDisplayLibrary(L);
        FreeAllBGPics(L);
        ASSERT_EQ(RegisterDisplayLibrary(L), 0);
    }
}

TEST_F(DisplayBrushTest, BrushesFromPicturesGradientsAndTextures) {
    Open(8, 6);
    ASSERT_EQ(Call("CreateBGPic", {Num(5), Num(4), Num(3), Num(kGreen)}).code, 0);
    ASSERT_EQ(Call("ConvertToBrush", {Num(1), Num(5), Num(1)}).code, 0);
    ASSERT_EQ(Call("BGPicToBrush", {Num(5), Num(2)}).code, 0);
    for (uint32_t id : {1u, 2u}) {
        qvBrush* b = nullptr;
        ASSERT_EQ(GetBrush(L, {id, nullptr}, &b, 0), 0);
        EXPECT_EQ(b->width, 4);
        EXPECT_EQ(b->height, 3);
        EXPECT_EQ(ReadBitMapPixel(b->bitmap, 3, 2), Stored(kGreen));
    }
    // The makers take the output picture's size when none is given.
    ASSERT_EQ(Call("CreateGradientBrush", {Num(3), Num(2), Num(kRed), Num(kBlue)}).code, 0);
    qvBrush* gradient = nullptr;
    ASSERT_EQ(GetBrush(L, {3, nullptr}, &gradient, 0), 0);
    EXPECT_EQ(gradient->width, 8);
    EXPECT_EQ(gradient->height, 6);
    EXPECT_NE(ReadBitMapPixel(gradient->bitmap, 0, 0), ReadBitMapPixel(gradient->bitmap, 0, 5));
    Plain(7, 2, 1, kRed);
    WriteBrushPixelFor(7, 1, 0, kBlue);
    ASSERT_EQ(Call("CreateTexturedBrush", {Num(4), Num(7), Num(5), Num(2)}).code, 0);
    qvBrush* texture = nullptr;
    ASSERT_EQ(GetBrush(L, {4, nullptr}, &texture, 0), 0);
    EXPECT_EQ(texture->width, 5);
    EXPECT_EQ(ReadBitMapPixel(texture->bitmap, 4, 1), Stored(kRed));
    EXPECT_EQ(ReadBitMapPixel(texture->bitmap, 3, 1), Stored(kBlue));
    // A picture under a brush id stays a picture: both lists keep their own.
    EXPECT_EQ(Call("CreateGradientBrush", {Num(5), Num(2), Num(0), Num(0), Num(0), Num(4)}).code,
              ERR_BADDIMENSIONS);
}

// Clip regions transform their masks through the same routine as brushes.
TEST_F(DisplayBrushTest, MasksTransformForClipRegions) {
    OwnedPlane mask(AllocMaskBitMap(nullptr, 4, 2, 1));
    FillMaskRect(mask.get(), 0, 0, 1, 2, gfx::kMaskVisible);  // the left column
    struct Case {
        const char* name;
        double matrix[4];
        int32_t width, height;
        std::pair<int32_t, int32_t> set, clear;
    };
    const Case cases[] = {
        {"twice the size", {2, 0, 0, 2}, 8, 4, {1, 3}, {2, 0}},
        {"a quarter turn", {0, -1, 1, 0}, 2, 4, {0, 3}, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qvPlaneBitMap* out = nullptr;
        int32_t x = 0, y = 0, width = 0, height = 0;
        ASSERT_EQ(neighbours.TransformBrushBitmaps(L, mask.get(), 4, 2, c.matrix, 0, 0, &out, &x,
                                                   &y, &width, &height),
                  0);
        OwnedPlane held(out);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ(ReadBitMapPixel(out, c.set.first, c.set.second), 1u);
        EXPECT_EQ(ReadBitMapPixel(out, c.clear.first, c.clear.second), 0u);
    }
}

}  // namespace
}  // namespace qv::testing
