// Shape and line layers redrawn by the layer engine: a turned shape with layers on shows the
// same pixels as the shape drawn straight with layers off, a redraw that replaces its layer
// equals a fresh drawing, and the borders the compositor lays under shape layers.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

#include "engine/error_codes.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_output.h"
#include "objects/draw/shape_redraw.h"
#include "scene/layers/layer_cache.h"
#include "scene/layers/transform_matrix.h"
#include "tests/objects/draw/draw_display_fixture.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

constexpr int32_t kWidth = 80, kHeight = 64;
constexpr uint32_t kBack = 0x000000, kRed = 0xFF0000, kGreen = 0x00FF00;

// The box of the pixels that are not the background.
struct Box {
    int32_t x, y, width, height;
};
Box Bounds(const std::vector<uint32_t>& image) {
    int32_t left = kWidth, top = kHeight, right = -1, bottom = -1;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            if (image[size_t(y) * kWidth + x] == kBack) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    return {left, top, right - left + 1, bottom - top + 1};
}

class ShapeLayers : public DrawDisplayFixture {
protected:
    ShapeLayers() : DrawDisplayFixture(kWidth, kHeight) {}
};

TEST_F(ShapeLayers, TurnedShapesShowTheirTurnedPixels) {
    // Every layer turns by one road: a turned shape layer shows the shape's upright picture
    // turned as a brush layer's picture is, so that a thin shape keeps its area. Expected: a
    // brush layer of what the shape draws upright, under the same turn about the same point.
    const std::vector<std::pair<const char*, std::vector<Arg>>> filled = {
        {"SetFillStyle", {Num(FILLCOLOR)}}};
    const std::vector<std::pair<const char*, std::vector<Arg>>> outline = {
        {"SetFillStyle", {Num(FILLNONE), Num(1)}}};
    struct Case {
        const char* name;
        std::vector<Arg> args;  // the rotation follows
        int32_t angle;
        Box box;
        std::vector<std::pair<const char*, std::vector<Arg>>> setup;
    };
    const Case cases[] = {
        {"Box",
         {Num(20), Num(15), Num(30), Num(12), Num(kRed), Num(0)},
         30,
         {20, 15, 30, 12},
         filled},
        {"Box",
         {Num(20), Num(15), Num(30), Num(20), Num(kRed), Num(40)},
         90,
         {20, 15, 30, 20},
         filled},
        {"Box",
         {Num(30), Num(20), Num(2), Num(30), Num(kRed), Num(0)},
         -29,
         {30, 20, 2, 30},
         filled},
        {"Ellipse", {Num(20), Num(20), Num(20), Num(8), Num(kGreen)}, 45, {20, 20, 41, 17}, filled},
        {"Arc",
         {Num(20), Num(20), Num(15), Num(10), Num(0), Num(90), Num(kRed), Num(1)},
         60,
         {20, 20, 31, 21},
         filled},
        {"Polygon",
         {Num(30), Num(20), List({Num(0), Num(0), Num(20), Num(0), Num(10), Num(15)}), Num(3),
          Num(kGreen)},
         120,
         {30, 20, 21, 16},
         filled},
        {"Ellipse", {Num(20), Num(20), Num(20), Num(10), Num(kRed)}, 30, {20, 20, 41, 21}, outline},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.name << " turned by " << c.angle);
        Fresh(false);
        for (const auto& [command, values] : c.setup) ASSERT_EQ(Run(command, values), 0);
        ASSERT_EQ(Run(c.name, c.args), 0);
        const std::vector<uint32_t> upright = display_->Window();
        Planes picture{c.box.width, c.box.height, {}, {}, {}};
        for (int32_t y = 0; y < c.box.height; ++y) {
            for (int32_t x = 0; x < c.box.width; ++x) {
                const uint32_t pixel = upright[size_t(c.box.y + y) * kWidth + c.box.x + x];
                picture.rgb.push_back(pixel);
                picture.mask.push_back(pixel != kBack ? 1 : 0);
            }
        }
        qvDrawTransform turn = kInitialDrawTransform;
        turn.rotate = c.angle;
        MakeTransformMatrix(turn.matrix, 0, 0, c.box.width, c.box.height, c.angle, 1, 1);
        turn.hasTransform = 1;
        Fresh(true);
        OwnedPlanes planes = MakePlanes(picture);
        ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, c.box.x, c.box.y, c.box.width,
                                c.box.height, &turn, nullptr, planes.bitmap.release(),
                                planes.mask.release(), nullptr, -1, 0),
                  0);
        const std::vector<uint32_t> expected = display_->Recomposed(L);

        Fresh(true);
        for (const auto& [command, values] : c.setup) ASSERT_EQ(Run(command, values), 0);
        std::vector<Arg> turned = c.args;
        turned.push_back(Num(c.angle));
        ASSERT_EQ(Run(c.name, turned), 0);
        qvLayer* layer = TopLayer();
        ASSERT_NE(layer, nullptr);
        EXPECT_EQ(layer->sourceItem->image.bitmap, nullptr) << "added without image";
        ASSERT_NE(layer->displayItem->image.bitmap, nullptr) << "rendered";
        EXPECT_EQ(display_->Recomposed(L), expected);
        EXPECT_EQ(display_->Window(), expected) << "shown";
    }
    // Anti-aliased, the soft edge turns with the shape: the layer covers what the shape turned
    // with layers off covers, within a pixel.
    std::vector<Box> bounds;
    for (bool layers : {false, true}) {
        Fresh(layers);
        ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
        ASSERT_EQ(Run("SetFormStyle", {Num(ANTIALIAS)}), 0);
        ASSERT_EQ(Run("Ellipse", {Num(20), Num(20), Num(20), Num(10), Num(kRed), Num(30)}), 0);
        bounds.push_back(Bounds(layers ? display_->Recomposed(L) : display_->Window()));
    }
    EXPECT_NEAR(bounds[1].x, bounds[0].x, 1);
    EXPECT_NEAR(bounds[1].y, bounds[0].y, 1);
    EXPECT_NEAR(bounds[1].width, bounds[0].width, 2);
    EXPECT_NEAR(bounds[1].height, bounds[0].height, 2);
}

// A scaled outline is stroked at its line width times the scale: a one-pixel box outline
// drawn at 2x, 3x or 4x shows what an outline of that width drawn at the scaled size shows,
// with layers off and as a layer alike.
TEST_F(ShapeLayers, ScaledOutlinesAreStrokedAtTheScaledWidth) {
    for (int32_t scale : {2, 3, 4}) {
        SCOPED_TRACE(scale);
        Fresh(false);
        ASSERT_EQ(Run("SetFillStyle", {Num(FILLNONE), Num(scale)}), 0);
        ASSERT_EQ(Run("Box", {Num(8), Num(6), Num(10 * scale), Num(6 * scale), Num(kRed)}), 0);
        const std::vector<uint32_t> wide = display_->Window();
        const auto tags = Table({{Str("scalex"), Num(scale)}, {Str("scaley"), Num(scale)}});
        for (bool layers : {false, true}) {
            Fresh(layers);
            ASSERT_EQ(Run("Box", {Num(8), Num(6), Num(10), Num(6), Num(kRed), tags}), 0);
            EXPECT_EQ(layers ? display_->Recomposed(L) : display_->Window(), wide)
                << (layers ? "as a layer" : "layers off");
        }
    }
}

// The redraw that replaces a layer (at its insert position) after a change of size draws what
// a fresh drawing of that size draws.
TEST_F(ShapeLayers, RedrawReplacingALayerEqualsAFreshDrawing) {
    Fresh(true);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Circle", {Num(30), Num(30), Num(10), Num(kRed)}), 0);
    ASSERT_EQ(Run("Circle", {Num(60), Num(20), Num(4), Num(kGreen)}), 0);
    auto* item = dynamic_cast<qvShapeItem*>(
        reinterpret_cast<qvLayer*>(display_->picture->layers.head)->sourceItem);
    ASSERT_NE(item, nullptr);
    qvShapeItem bigger;
    bigger.drawState = item->drawState;
    bigger.x = item->x, bigger.y = item->y;
    bigger.colour = item->colour;
    bigger.radiusX = bigger.radiusY = 15;
    const qvShapeRedraw call{nullptr, nullptr, nullptr, nullptr, 1, QV_DRAW_REDRAW};
    ASSERT_EQ(RedrawShapeItem(L, CIRCLE, bigger, call), 0);
    display_->view.layersEnabled = true;
    const std::vector<uint32_t> redrawn = display_->Recomposed(L);
    EXPECT_EQ(reinterpret_cast<qvLayer*>(display_->picture->layers.head)->type, uint32_t(CIRCLE));

    Fresh(true);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("Circle", {Num(30), Num(30), Num(15), Num(kRed)}), 0);
    ASSERT_EQ(Run("Circle", {Num(60), Num(20), Num(4), Num(kGreen)}), 0);
    EXPECT_EQ(display_->Recomposed(L), redrawn);
}

TEST_F(ShapeLayers, RedrawRefusesBadItems) {
    Fresh(true);
    qvShapeItem item;
    ResetDrawState(&item.drawState);
    item.radiusX = 0, item.radiusY = 5;
    const qvShapeRedraw call{nullptr, nullptr, nullptr, nullptr, 0, 0};
    EXPECT_EQ(RedrawShapeItem(L, CIRCLE, item, call), ERR_WRONGUSAGE);
    item.radiusX = 5, item.startAngle = -1;
    EXPECT_EQ(RedrawShapeItem(L, ARC, item, call), ERR_WRONGUSAGE);
    item.startAngle = item.endAngle = 40;
    EXPECT_EQ(RedrawShapeItem(L, ARC, item, call), 0);
    EXPECT_TRUE(IsListEmpty(&display_->picture->layers)) << "an arc to its start draws nothing";
    EXPECT_EQ(RedrawShapeItem(L, 99, item, call), ERR_WRONGUSAGE);
}

// The compositor's border of a shape layer: around a filled box the rectangle of the size (the
// box itself inside it), around an outline the outline widened to twice the size.
TEST_F(ShapeLayers, BordersOfShapeLayers) {
    Fresh(true);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
    ASSERT_EQ(Run("SetFormStyle", {Num(EDGE), Num(kGreen), Num(3)}), 0);
    ASSERT_EQ(Run("Box", {Num(20), Num(20), Num(10), Num(6), Num(kRed)}), 0);
    qvLayer* box = TopLayer();
    ASSERT_NE(LayerBorderRenderer(box->type), nullptr);
    qvLayerBorder border{};
    ASSERT_EQ(LayerBorderRenderer(box->type)(L, box, box->displayItem, kGreen, 3, &border), 0);
    OwnedBitMap bitmap(border.image.bitmap);
    OwnedPlane mask(border.image.mask), alpha(border.image.alpha);
    EXPECT_EQ(border.width, 16);
    EXPECT_EQ(border.height, 12);
    EXPECT_EQ(border.dx, 3);
    EXPECT_EQ(border.dy, 3);
    ASSERT_NE(border.image.bitmap, nullptr);
    EXPECT_EQ(ReadBitMapPixel(border.image.bitmap, 8, 6), kGreen);
    // The composed picture: border around the box, the box over it.
    const std::vector<uint32_t> shown = display_->Recomposed(L);
    const auto at = [&](int32_t x, int32_t y) { return shown[size_t(y) * kWidth + x]; };
    EXPECT_EQ(at(17, 17), kGreen);
    EXPECT_EQ(at(25, 22), kRed);
    EXPECT_EQ(at(16, 22), kBack);
    // A layer's border keeps its size beyond the draw state's 64, as every layer's does.
    qvLayerBorder wide{};
    ASSERT_EQ(LayerBorderRenderer(box->type)(L, box, box->displayItem, kGreen, 70, &wide), 0);
    OwnedBitMap wideBitmap(wide.image.bitmap);
    OwnedPlane wideMask(wide.image.mask), wideAlpha(wide.image.alpha);
    EXPECT_EQ(wide.width, 150);
    EXPECT_EQ(wide.dx, 70);

    // An outline circle of width 6: a one-pixel circle, and a border 6 wide around it.
    Fresh(true);
    ASSERT_EQ(Run("SetFillStyle", {Num(FILLNONE), Num(6)}), 0);
    ASSERT_EQ(Run("Circle", {Num(40), Num(30), Num(12), Num(kRed)}), 0);
    const std::vector<uint32_t> ring = display_->Recomposed(L);
    const auto ringAt = [&](int32_t x, int32_t y) { return ring[size_t(y) * kWidth + x]; };
    // The circle's box starts at (40, 30): its left side at x 40, on row 42.
    for (int32_t dx = -2; dx <= 2; ++dx) EXPECT_EQ(ringAt(40 + dx, 42), kRed) << dx;
    EXPECT_EQ(ringAt(35, 42), kBack);
    EXPECT_EQ(ringAt(45, 42), kBack);
    EXPECT_EQ(ringAt(52, 42), kBack);
}

// A turned image without mask or alpha is bordered as the outline of a box of its size (a
// 5-pixel line under this turn, half of it outside): the border closes round the turned
// rectangle on every side and stays within half the line plus a pixel of rounding for each
// of the two rasterisations, so a border shifted off the image fails on one side or the other.
TEST_F(ShapeLayers, ATurnedOpaqueImageIsBorderedAsABoxOutline) {
    Fresh(true);
    qvDrawTransform turn = kInitialDrawTransform;
    turn.rotate = 30;
    MakeTransformMatrix(turn.matrix, 0, 0, 20, 10, 30, 1, 1);
    turn.hasTransform = 1;
    qvDrawStyle style = kInitialDrawStyle;
    style.border = {1, kGreen, 2};
    style.anyStyle = 1;
    OwnedPlanes planes = MakePlanes(Solid(20, 10, kRed));
    ASSERT_EQ(AddBrushLayer(L, gfx::kTypeBrush, nullptr, 0, 0, 30, 25, 20, 10, &turn, &style,
                            planes.bitmap.release(), nullptr, nullptr, -1, 0),
              0);
    qvLayer* layer = TopLayer();
    const std::vector<uint32_t> shown = display_->Recomposed(L);
    const qvLayerItem* item = layer->displayItem;
    ASSERT_NE(item->border.bitmap, nullptr);
    // The outline drawn without anti-aliasing gives a mask; a dilation would give an alpha plane.
    EXPECT_NE(item->border.mask, nullptr);
    EXPECT_EQ(item->border.alpha, nullptr);

    // Distance of every pixel to the nearest pixel of the image.
    std::vector<std::pair<int32_t, int32_t>> image;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            if (shown[size_t(y) * kWidth + x] == kRed) image.emplace_back(x, y);
        }
    }
    ASSERT_GT(image.size(), 180u);
    int32_t near = 0;
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            const uint32_t pixel = shown[size_t(y) * kWidth + x];
            if (pixel == kRed) continue;
            double distance = 1e9;
            for (const auto& [ix, iy] : image) {
                distance = std::min(distance, std::hypot(double(x - ix), double(y - iy)));
            }
            SCOPED_TRACE(::testing::Message() << x << "," << y << " at " << distance);
            if (distance <= 1.0) {
                EXPECT_EQ(pixel, kGreen) << "the border closes round the image";
                ++near;
            }
            if (distance > 4.5) {
                EXPECT_EQ(pixel, kBack) << "the border stays near the image";
            }
        }
    }
    EXPECT_GT(near, 40);
}

// A line layer under a turn: its ends turned about the anchor of its box.
TEST_F(ShapeLayers, TurnedLineLayer) {
    Fresh(true);
    ASSERT_EQ(Run("Line", {Num(10), Num(30), Num(50), Num(30), Num(kRed), Num(1), Num(90)}), 0);
    qvLayer* line = TopLayer();
    ASSERT_NE(line, nullptr);
    const std::vector<uint32_t> shown = display_->Recomposed(L);
    Fresh(false);
    ASSERT_EQ(Run("Line", {Num(10), Num(30), Num(50), Num(30), Num(kRed), Num(1), Num(90)}), 0);
    EXPECT_EQ(display_->Window(), shown);
}

// A shape is placed so that the anchor point of its own box lies at x, y, whatever its image
// adds (a soft edge) and however it is scaled or turned, as a brush of that size is placed:
// turned about its middle a box stays centred on the point, a half turn lays it on itself.
TEST_F(ShapeLayers, ShapesAreAnchoredByTheirOwnBox) {
    const auto centred = [](std::vector<std::pair<Arg, Arg>> more) {
        more.push_back({Str("anchorx"), Num(0.5)});
        more.push_back({Str("anchory"), Num(0.5)});
        return Table(more);
    };
    struct Case {
        const char* what;
        uint32_t form;
        std::vector<Arg> box;
        Box ink;
    };
    const Case cases[] = {
        {"upright",
         NORMAL,
         {Num(40), Num(30), Num(16), Num(9), Num(kRed), centred({})},
         {32, 26, 16, 9}},
        {"half turn",
         NORMAL,
         {Num(40), Num(30), Num(16), Num(9), Num(kRed), centred({{Str("rotate"), Num(180)}})},
         {32, 26, 16, 9}},
        {"quarter turn",
         NORMAL,
         {Num(40), Num(30), Num(16), Num(10), Num(kRed), centred({{Str("rotate"), Num(90)}})},
         {35, 22, 10, 16}},
        {"scaled",
         NORMAL,
         {Num(40), Num(30), Num(6), Num(4), Num(kRed),
          centred({{Str("scalex"), Num(2)}, {Str("scaley"), Num(2)}})},
         {34, 26, 12, 8}},
        {"soft edge",
         ANTIALIAS,
         {Num(40), Num(30), Num(16), Num(10), Num(kRed), centred({})},
         {31, 24, 18, 12}},
    };
    for (const Case& c : cases) {
        for (bool layers : {false, true}) {
            Fresh(layers);
            ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
            ASSERT_EQ(Run("SetFormStyle", {Num(c.form)}), 0);
            ASSERT_EQ(Run("Box", c.box), 0) << c.what;
            const Box ink = Bounds(layers ? display_->Recomposed(L) : display_->Window());
            EXPECT_EQ(ink.x, c.ink.x) << c.what << (layers ? " as a layer" : "");
            EXPECT_EQ(ink.y, c.ink.y) << c.what << (layers ? " as a layer" : "");
            EXPECT_EQ(ink.width, c.ink.width) << c.what << (layers ? " as a layer" : "");
            EXPECT_EQ(ink.height, c.ink.height) << c.what << (layers ? " as a layer" : "");
        }
    }
    // Turned by 30 degrees about its middle, the ink is centred on the point.
    for (bool layers : {false, true}) {
        Fresh(layers);
        ASSERT_EQ(Run("SetFillStyle", {Num(FILLCOLOR)}), 0);
        ASSERT_EQ(Run("Box", {Num(40), Num(30), Num(40), Num(20), Num(kRed),
                              centred({{Str("rotate"), Num(30)}})}),
                  0);
        const Box ink = Bounds(layers ? display_->Recomposed(L) : display_->Window());
        EXPECT_NEAR(ink.x + (ink.width - 1) / 2.0, 39.5, 0.5) << (layers ? "as a layer" : "");
        EXPECT_NEAR(ink.y + (ink.height - 1) / 2.0, 29.5, 0.5) << (layers ? "as a layer" : "");
    }
}

// Whether the pixel at (x, y) lies within reach of an edge of the image: a pixel that far
// differs from it.
bool NearEdge(const std::vector<uint32_t>& image, int32_t x, int32_t y, int32_t reach) {
    const uint32_t own = image[size_t(y) * kWidth + x];
    for (int32_t dy = -reach; dy <= reach; ++dy) {
        for (int32_t dx = -reach; dx <= reach; ++dx) {
            const int32_t nx = x + dx, ny = y + dy;
            if (nx >= 0 && ny >= 0 && nx < kWidth && ny < kHeight &&
                image[size_t(ny) * kWidth + nx] != own) {
                return true;
            }
        }
    }
    return false;
}

// On a display that scales its layers, a shape or line layer covers what the picture of its
// logical drawing covers once the layers scale that picture (nearest). At 2x boxes, frames
// and lines (drawn at the picture's size and scaled as it is) match pixel for pixel; circles
// and ellipses, drawn again at the scale, cover the same box and differ only within a logical
// pixel of the picture's staircase edge. At 1.5, where the picture's samples and the shape's own
// span may round apart, everything covers the same box within a pixel.
TEST_F(ShapeLayers, ScaledDisplaysShowShapesAsTheirScaledPictures) {
    using Setup = std::vector<std::pair<const char*, std::vector<Arg>>>;
    const Setup filled = {{"SetFillStyle", {Num(FILLCOLOR)}}};
    const Setup outline = {{"SetFillStyle", {Num(FILLNONE)}}};
    const Setup smooth = {{"SetFormStyle", {Num(ANTIALIAS)}}};
    enum Match { kPixels, kEdges };
    struct Case {
        const char* name;
        std::vector<Arg> args;
        const Setup& setup;
        Match match;
    };
    const Case cases[] = {
        {"Box", {Num(10), Num(10), Num(6), Num(4), Num(kRed)}, filled, kPixels},
        {"Box", {Num(4), Num(2), Num(30), Num(20), Num(kRed), Num(0)}, filled, kPixels},
        {"Box", {Num(20), Num(6), Num(8), Num(6), Num(kGreen)}, outline, kPixels},
        {"Box", {Num(2), Num(4), Num(1), Num(5), Num(kGreen)}, outline, kPixels},
        {"Circle", {Num(8), Num(6), Num(8), Num(kRed)}, filled, kEdges},
        {"Ellipse", {Num(4), Num(10), Num(12), Num(6), Num(kGreen)}, filled, kEdges},
        {"Box", {Num(3), Num(5), Num(20), Num(12), Num(kRed), Num(60)}, filled, kEdges},
        {"Line", {Num(6), Num(4), Num(6), Num(20), Num(kRed)}, filled, kPixels},
        {"Line", {Num(3), Num(9), Num(30), Num(9), Num(kGreen)}, filled, kPixels},
        {"Line", {Num(4), Num(25), Num(33), Num(3), Num(kRed)}, filled, kPixels},
        {"Line", {Num(5), Num(6), Num(30), Num(20), Num(kGreen), Num(5)}, filled, kPixels},
        {"Line", {Num(8), Num(28), Num(26), Num(5), Num(kRed)}, smooth, kPixels},
        {"Line",
         {Num(6), Num(12), Num(26), Num(12), Num(kGreen), Num(3), Num(30)},
         filled,
         kPixels},
    };
    constexpr int32_t kLogicalWidth = kWidth / 2, kLogicalHeight = kHeight / 2;
    for (const double factor : {2.0, 1.5}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.name << " " << &c - cases << " at " << factor);
            Fresh(false);
            for (const auto& [command, values] : c.setup) ASSERT_EQ(Run(command, values), 0);
            ASSERT_EQ(Run(c.name, c.args), 0);
            const std::vector<uint32_t> logical = display_->Window();
            Planes drawn = Solid(kLogicalWidth, kLogicalHeight, kBack);
            for (int32_t y = 0; y < kLogicalHeight; ++y) {
                for (int32_t x = 0; x < kLogicalWidth; ++x) {
                    drawn.rgb[size_t(y) * kLogicalWidth + x] = logical[size_t(y) * kWidth + x];
                }
            }
            // The expectation: the logical drawing as a picture layer that the display scales.
            Fresh(true).scale = {factor, factor, true};
            ASSERT_NE(display_->AddLayer(L, drawn, 0, 0, nullptr, -1, QV_ADDLAYER_DISPLAYITEM),
                      nullptr);
            const std::vector<uint32_t> picture = display_->Recomposed(L);

            Fresh(true).scale = {factor, factor, true};
            for (const auto& [command, values] : c.setup) ASSERT_EQ(Run(command, values), 0);
            ASSERT_EQ(Run(c.name, c.args), 0);
            ASSERT_NE(TopLayer()->displayItem, TopLayer()->pictureItem) << "drawn at the scale";
            const std::vector<uint32_t> shown = display_->Recomposed(L);
            const Box expected = Bounds(picture), got = Bounds(shown);
            if (factor == 2.0 && c.match == kPixels) {
                EXPECT_EQ(shown, picture);
                continue;
            }
            if (factor == 2.0) {
                EXPECT_EQ(got.x, expected.x);
                EXPECT_EQ(got.y, expected.y);
                EXPECT_EQ(got.width, expected.width);
                EXPECT_EQ(got.height, expected.height);
                for (int32_t y = 0; y < kHeight; ++y) {
                    for (int32_t x = 0; x < kWidth; ++x) {
                        const size_t at = size_t(y) * kWidth + x;
                        if (shown[at] != picture[at]) {
                            EXPECT_TRUE(NearEdge(picture, x, y, 2)) << x << ", " << y;
                        }
                    }
                }
                continue;
            }
            EXPECT_NEAR(got.x, expected.x, 1);
            EXPECT_NEAR(got.y, expected.y, 1);
            EXPECT_NEAR(got.width, expected.width, 1);
            EXPECT_NEAR(got.height, expected.height, 1);
        }
    }
}

}  // namespace
}  // namespace qv::testing
