// The shape and pixel commands of the draw library on a display over a headless window:
// argument rules, the box's rectangle path and direct road, shapes with layers on, and the
// routing of forced path use.
#include <gtest/gtest.h>

#include <optional>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "objects/draw/box.h"
#include "objects/draw/draw_commands.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_engine.h"
#include "platform/linux/memory.h"
#include "tests/objects/draw/draw_display_fixture.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

constexpr int32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kBack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

class ShapeCommands : public DrawDisplayFixture {
protected:
    ShapeCommands() : DrawDisplayFixture(kWidth, kHeight) {}
};

TEST_F(ShapeCommands, ArgumentRules) {
    const auto points = List({Num(0), Num(0), Num(10), Num(0), Num(5), Num(8)});
    struct Case {
        const char* name;
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {"Polygon", {Num(0), Num(0), points, Num(1)}, ERR_WRONGUSAGE},
        {"Polygon", {Num(0), Num(0), points, Num(1000)}, ERR_WRONGUSAGE},
        {"Polygon",
         {Num(0), Num(0), List({Num(1), Str("x"), Num(3), Num(4)}), Num(2)},
         ERR_NUMTABLEARG},
        {"Polygon", {Num(0), Num(0), points, Num(3), Num(kRed)}, 0},
        {"Circle", {Num(10), Num(10), Num(0)}, ERR_WRONGUSAGE},
        {"Ellipse", {Num(10), Num(10), Num(4), Num(0)}, ERR_WRONGUSAGE},
        {"Arc", {Num(10), Num(10), Num(5), Num(5), Num(-1), Num(90)}, ERR_WRONGUSAGE},
        {"Arc", {Num(10), Num(10), Num(5), Num(5), Num(2147483000), Num(90)}, 0},
        {"Box", {Num(0), Num(0), Num(0), Num(5)}, ERR_WRONGUSAGE},
        {"ReadPixel", {Num(kWidth), Num(0)}, ERR_PIXELRANGE},
        {"ReadPixel", {Num(-1), Num(0)}, ERR_PIXELRANGE},
    };
    for (const Case& c : cases) EXPECT_EQ(Run(c.name, c.args), c.code) << c.name;
}

TEST_F(ShapeCommands, ArcWithEqualAnglesDrawsNothing) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Arc", {Num(0), Num(0), Num(10), Num(10), Num(90), Num(90), Num(kRed)}), 0);
    for (int32_t y = 0; y < 21; ++y) {
        for (int32_t x = 0; x < 21; ++x) ASSERT_EQ(At(x, y), kBack);
    }
}

// Decision: clockwise 0 to 90 is the quarter below and right of the centre; anticlockwise
// draws the other three quarters.
TEST_F(ShapeCommands, ArcQuartersByDirection) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Arc", {Num(0), Num(0), Num(20), Num(20), Num(0), Num(90), Num(kRed)}), 0);
    EXPECT_EQ(At(30, 30), kRed);
    EXPECT_EQ(At(10, 10), kBack);
    EXPECT_EQ(At(30, 10), kBack);
    Fresh(false);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Arc", {Num(0), Num(0), Num(20), Num(20), Num(0), Num(90), Num(kRed), Num(0)}),
              0);
    EXPECT_EQ(At(30, 30), kBack);
    EXPECT_EQ(At(10, 10), kRed);
    EXPECT_EQ(At(30, 10), kRed);
}

TEST_F(ShapeCommands, FilledShapesCoverTheirInside) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Circle", {Num(10), Num(10), Num(8), Num(kRed)}), 0);
    EXPECT_EQ(At(18, 18), kRed);
    EXPECT_EQ(At(10, 10), kBack) << "the box's corner lies outside the circle";
    ASSERT_EQ(Run("Ellipse", {Num(40), Num(0), Num(10), Num(5), Num(kGreen)}), 0);
    EXPECT_EQ(At(50, 5), kGreen);
    EXPECT_EQ(At(40, 0), kBack);
    // A rounded box keeps its corners clear; a square corner is filled.
    ASSERT_EQ(Run("Box", {Num(0), Num(30), Num(16), Num(16), Num(kBlue),
                          Table({{Str("roundlevel"), Num(100)}, {Str("cornerb"), Num(0)}})}),
              0);
    EXPECT_EQ(At(0, 30), kBack);
    EXPECT_EQ(At(0, 45), kBlue) << "cornerb (bottom-left) is square";
    EXPECT_EQ(At(15, 30), kBack) << "the corners after it keep the round level";
    EXPECT_EQ(At(15, 45), kBack);
    EXPECT_EQ(At(8, 38), kBlue);
}

TEST_F(ShapeCommands, BoxNumberRoundsEveryCorner) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Box", {Num(0), Num(0), Num(20), Num(20), Num(kRed), Num(50)}), 0);
    for (auto [x, y] : {std::pair{0, 0}, {19, 0}, {0, 19}, {19, 19}}) {
        EXPECT_EQ(At(x, y), kBack) << x << "," << y;
    }
    EXPECT_EQ(At(10, 10), kRed);
}

TEST_F(ShapeCommands, DirectRoadFillsWithoutAllocating) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    qvDrawTransform transform = kInitialDrawTransform;
    qvShapeDesc box{};
    box.x = 4, box.y = 5, box.width = 10, box.height = 6, box.colour = kRed;
    box.drawState = GetDrawState(), box.transform = &transform;
    const uint64_t before = GetMemoryStats().requests;
    ASSERT_EQ(DrawBoxEx(L, box, 0), 0);
    EXPECT_EQ(GetMemoryStats().requests - before, 0u);
    EXPECT_EQ(At(4, 5), kRed);
    EXPECT_EQ(At(13, 10), kRed);
    EXPECT_EQ(At(14, 10), kBack);
    EXPECT_EQ(display_->Window(), ReadPixels(display_->displayBitmap.get(), kWidth, kHeight));
    // Under a sprite the image road gives the same pixels.
    Fresh(false).AddSprite(1, 0, 0, 8, 8);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    box.drawState = GetDrawState();
    const uint64_t second = GetMemoryStats().requests;
    ASSERT_EQ(DrawBoxEx(L, box, 0), 0);
    EXPECT_GT(GetMemoryStats().requests - second, 0u);
    EXPECT_EQ(At(4, 5), kRed);
    EXPECT_EQ(At(13, 10), kRed);
}

TEST_F(ShapeCommands, ClippedFrameSkipsItsCutSides) {
    // The left and top sides lie beyond the display: only right and bottom are drawn.
    ASSERT_EQ(Run("Box", {Num(-5), Num(-5), Num(20), Num(20), Num(kRed)}), 0);
    EXPECT_EQ(At(0, 0), kBack);
    EXPECT_EQ(At(14, 3), kRed);
    EXPECT_EQ(At(3, 14), kRed);
    EXPECT_EQ(At(5, 5), kBack);
    // Entirely outside: nothing.
    ASSERT_EQ(Run("Box", {Num(100), Num(100), Num(5), Num(5), Num(kRed)}), 0);
}

TEST_F(ShapeCommands, RectanglePathLaysShadowBorderAndBox) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("SetFormStyle", {Num(SHADOW), Num(kBlue), Num(4), Num(3)}), 0);
    ASSERT_EQ(Run("SetFormStyle", {Num(EDGE), Num(kGreen), Num(2)}), 0);
    ASSERT_EQ(Run("Box", {Num(10), Num(10), Num(10), Num(10), Num(kRed)}), 0);
    EXPECT_EQ(At(8, 8), kGreen) << "border's top-left corner";
    EXPECT_EQ(At(10, 10), kRed);
    EXPECT_EQ(At(19, 19), kRed);
    EXPECT_EQ(At(21, 21), kGreen) << "the border lies over the shadow";
    EXPECT_EQ(At(24, 24), kBlue) << "the shadow's far corner";
    EXPECT_EQ(At(8, 24), kBack);
}

TEST_F(ShapeCommands, TransparentBoxBlends) {
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    Fresh(false);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Box", {Num(0), Num(0), Num(4), Num(4), Num(0x80FFFFFFu)}), 0);
    const uint32_t p = At(1, 1);
    EXPECT_GT(p & 0xFF, 0x60u);
    EXPECT_LT(p & 0xFF, 0xA0u);
}

TEST_F(ShapeCommands, LayersTakeTheStyleEffects) {
    Fresh(true);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("SetFormStyle", {Num(SHADOW)}), 0);
    ASSERT_EQ(Run("SetFormStyle", {Num(EDGE)}), 0);
    ASSERT_EQ(Run("Box", {Num(5), Num(5), Num(10), Num(8), Num(0x40FF0000u)}), 0);
    ASSERT_EQ(LayerCount(), 1u);
    qvLayer* layer = TopLayer();
    EXPECT_EQ(layer->type, uint32_t(BOX));
    EXPECT_NE(layer->border.on, 0);
    EXPECT_NE(layer->shadow.on, 0);
    EXPECT_EQ(layer->transparency, 0x40);
    EXPECT_EQ(layer->sourceItem->drawWidth, 10) << "the image holds neither border nor shadow";
    EXPECT_EQ(layer->sourceItem->drawHeight, 8);
    EXPECT_EQ(Run("Plot", {Num(1), Num(1)}), ERR_LAYERSUPPORT2);
    // An outline circle of width 6 is a one-pixel circle with a border of 3.
    ASSERT_EQ(Run("SetFormStyle", {Num(NORMAL)}), 0);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLNONE), Num(6)}), 0);
    ASSERT_EQ(Run("Circle", {Num(20), Num(20), Num(10), Num(kGreen)}), 0);
    ASSERT_EQ(LayerCount(), 2u);
    EXPECT_EQ(TopLayer()->border.on, 1);
    EXPECT_EQ(TopLayer()->border.size, 3);
    EXPECT_EQ(TopLayer()->sourceItem->drawWidth, 21);
    // Cls frees every layer.
    ASSERT_EQ(Run("Cls", {}), 0);
    EXPECT_EQ(LayerCount(), 0u);
}

TEST_F(ShapeCommands, PlotAndReadPixelOnTheDisplay) {
    ASSERT_EQ(Run("Plot", {Num(3), Num(4), Num(kRed)}), 0);
    CallResult read = Call("ReadPixel", {Num(3), Num(4)});
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.Number(0), double(kRed));
    EXPECT_EQ(display_->Window(), ReadPixels(display_->displayBitmap.get(), kWidth, kHeight));
    // A transparent plot blends with what lies under it.
    ASSERT_EQ(Run("Plot", {Num(3), Num(4), Num(0x80000000u | kGreen)}), 0);
    EXPECT_EQ(At(3, 4), BlendRGB(kGreen, kRed, 0x80) & 0xFFFFFF);
    // Outside: nothing, and no error.
    EXPECT_EQ(Run("Plot", {Num(-1), Num(4), Num(kRed)}), 0);
}

TEST_F(ShapeCommands, PlotUnderASpriteMaskDoesNothing) {
    SceneDisplay& display = Fresh(false);
    display.AddSprite(1, 0, 0, 8, 8);
    Planes frame = Solid(8, 8, kBlue);
    frame.mask.assign(64, 1);
    objects.sprites[1] = MakePlanes(frame);
    ASSERT_EQ(Run("Plot", {Num(2), Num(2), Num(kRed)}), 0);
    EXPECT_EQ(At(2, 2), kBack);
    ASSERT_EQ(Run("Plot", {Num(20), Num(2), Num(kRed)}), 0);
    EXPECT_EQ(At(20, 2), kRed);
}

TEST_F(ShapeCommands, ClsWithLayersOffRemovesSprites) {
    SceneDisplay& display = Fresh(false);
    display.AddSprite(1, 0, 0, 8, 8);
    ASSERT_EQ(Run("Plot", {Num(20), Num(2), Num(kRed)}), 0);
    ASSERT_EQ(Run("Cls", {}), 0);
    EXPECT_EQ(display.picture->sprites, nullptr);
    EXPECT_EQ(At(20, 2), kBack) << "the picture is shown again";
}

// A 90-degree turn keeps a texture at its size and an outline at its width.
TEST_F(ShapeCommands, TurnedScalesKeepTheirSize) {
    const double turn[4] = {0, 1, -1, 0};
    double sx = 0, sy = 0;
    TextureScale(turn, &sx, &sy);
    EXPECT_DOUBLE_EQ(sx, 1);
    EXPECT_DOUBLE_EQ(sy, 1);
    const double scale[4] = {2, 0, 0, 3};
    TextureScale(scale, &sx, &sy);
    EXPECT_DOUBLE_EQ(sx, 2);
    EXPECT_DOUBLE_EQ(sy, 3);
    int32_t w = 10, h = 10;
    GrowByShadow(0, 4, &w, &h);
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 14);
}

qvShapePathRequest lastRequest{};
int pathCalls = 0;
int FakeShapeToPath(qvVmState*, const qvShapePathRequest& request) {
    lastRequest = request;
    ++pathCalls;
    return ERR_VECGFXPLUGIN;
}
bool Forced() {
    return true;
}

TEST_F(ShapeCommands, ForcedPathUseHandsShapesOver) {
    SetShapeToPath(FakeShapeToPath);
    SetPathForcedQuery(Forced);
    struct Case {
        const char* name;
        std::vector<Arg> args;
        int32_t type;
    };
    const Case cases[] = {
        {"Box", {Num(1), Num(2), Num(3), Num(4), Num(kRed), Num(30)}, BOX},
        {"Circle", {Num(1), Num(2), Num(0)}, CIRCLE},
        {"Ellipse", {Num(1), Num(2), Num(3), Num(4)}, ELLIPSE},
        {"Arc", {Num(1), Num(2), Num(3), Num(4), Num(0), Num(90), Num(0), Num(0)}, ARC},
        {"Polygon", {Num(1), Num(2), List({Num(0), Num(0), Num(4), Num(4)}), Num(2)}, POLYGON},
    };
    for (const Case& c : cases) {
        pathCalls = 0;
        EXPECT_EQ(Run(c.name, c.args), ERR_VECGFXPLUGIN) << c.name;
        EXPECT_EQ(pathCalls, 1) << c.name;
        EXPECT_EQ(lastRequest.type, c.type) << c.name;
    }
    EXPECT_EQ(lastRequest.pointCount, 3) << "closed";
    pathCalls = 0;
    EXPECT_EQ(Run("Line", {Num(0), Num(0), Num(5), Num(5)}), 0) << "lines always draw";
    EXPECT_EQ(pathCalls, 0);
    SetShapeToPath(nullptr);
    SetPathForcedQuery(nullptr);
}

}  // namespace
}  // namespace qv::testing
