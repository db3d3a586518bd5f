// Path rendering on a display over a headless window, with the cairo back end: where the
// picture lands, strokes and fills, transforms with and without layers, edge and shadow,
// layer borders, shapes drawn as paths, scaled displays and running out of memory.
#include "objects/vector/path_render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/gradient.h"
#include "gfx/library/object_types.h"
#include "objects/brush.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/scene_seam.h"
#include "objects/vector/path_list.h"
#include "objects/vector/path_queries.h"
#include "platform/linux/memory.h"
#include "scene/layers/layer_cache.h"
#include "tests/objects/vector/vector_test_support.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

using namespace qv::test;
using draw::ANTIALIAS;
using draw::EDGE;
using draw::FILLCOLOR;
using draw::FILLNONE;
using draw::SHADOW;

constexpr int32_t kWidth = 100, kHeight = 80;
constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// The bounding box and pixel count of a mask.
struct Found {
    cv::Rect box;
    int count;
};
Found Measure(const cv::Mat& mask) {
    std::vector<cv::Point> points;
    cv::findNonZero(mask, points);
    return {points.empty() ? cv::Rect() : cv::boundingRect(points), int(points.size())};
}

double IoU(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat both, either;
    cv::bitwise_and(a, b, both);
    cv::bitwise_or(a, b, either);
    const int u = cv::countNonZero(either);
    return u == 0 ? 0 : double(cv::countNonZero(both)) / u;
}

class PathDrawing : public LibFixture {
protected:
    PathDrawing() : LibFixture(OpenLibraries<RegisterDrawLibrary, RegisterVectorGraphicsLibrary>) {
        UseVectorBackend(&kCairoBackend);
        Fresh(false);
    }
    ~PathDrawing() override {
        FreeAllPaths(L);
        display_.reset();
        FreeDrawBuffers(L);
    }

    SceneDisplay& Fresh(bool layers) {
        display_.reset();
        display_.emplace(Solid(kWidth, kHeight, 0));
        display_->view.layersEnabled = layers;
        return *display_;
    }
    SceneDisplay& Scene() { return *display_; }

    // 255 where the pixels hold the colour.
    static cv::Mat Where(const std::vector<uint32_t>& pixels, uint32_t colour) {
        cv::Mat image(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x) {
                if (pixels[size_t(y) * kWidth + x] == colour) image.at<uint8_t>(y, x) = 255;
            }
        }
        return image;
    }
    cv::Mat Shown(uint32_t colour) {
        return Where(ReadPixels(Scene().displayBitmap.get(), kWidth, kHeight), colour);
    }
    cv::Mat Composed(uint32_t colour) { return Where(Scene().Recomposed(L), colour); }

    void Box(double id, double x, double y, double w, double h) {
        Start(id);
        ASSERT_EQ(Call("AddBoxToPath", {Num(id), Num(x), Num(y), Num(w), Num(h)}).code, 0);
    }
    void Start(double id) { ASSERT_EQ(Call("StartPath", {Num(id)}).code, 0); }
    int Draw(double id, double x, double y, uint32_t colour, std::optional<Arg> table = {}) {
        std::vector<Arg> args{Num(id), Num(x), Num(y), Num(colour)};
        if (table) args.push_back(*table);
        return Call("DrawPath", args).code;
    }
    std::vector<qvLayer*> Layers() {
        std::vector<qvLayer*> layers;
        scene::ForEachLayer(&Scene().picture->layers, [&](qvLayer* l) { layers.push_back(l); });
        return layers;
    }

    SceneObjects objects;
    std::optional<SceneDisplay> display_;
};

TEST_F(PathDrawing, ThePictureLandsWhereTheExtentsStart) {
    struct Case {
        const char* name;
        int32_t fillStyle, lineWidth;
        double x, y;
        cv::Rect box;
        int count;
    };
    // A box fills exactly its pixels; a single line strokes at the line width, and filled it
    // has no area, so a hairline stroke is drawn.
    const Case cases[] = {
        {"box at 20, 30", FILLCOLOR, 1, 0, 0, {20, 30, 10, 10}, 100},
        {"moved by x, y", FILLCOLOR, 1, 5, -10, {25, 20, 10, 10}, 100},
        {"centred", FILLCOLOR, 1, -100000 - 20, -100000 - 30, {45, 35, 10, 10}, 100},
        {"line stroked", FILLNONE, 4, 0, 0, {10, 48, 60, 4}, 240},
        {"line filled", FILLCOLOR, 4, 0, 0, {10, 49, 60, 2}, 60},
    };
    for (const Case& c : cases) {
        Fresh(false);
        GetDrawState()->fillStyle = c.fillStyle;
        GetDrawState()->lineWidth = c.lineWidth;
        if (c.box.height == 10) {
            Box(1, 20, 30, 10, 10);
        } else {
            Start(1);
            ASSERT_EQ(Call("MoveTo", {Num(1), Num(10), Num(50)}).code, 0);
            ASSERT_EQ(Call("LineTo", {Num(1), Num(70), Num(50)}).code, 0);
        }
        ASSERT_EQ(Draw(1, c.x, c.y, kRed), 0) << c.name;
        const Found found = Measure(Shown(kRed));
        if (c.count == 60) {
            // A hairline across the pixel rows 49 and 50: one row of full coverage.
            EXPECT_EQ(found.box.width, 60) << c.name;
            EXPECT_GE(found.count, 60) << c.name;
            continue;
        }
        EXPECT_EQ(found.box, c.box) << c.name;
        EXPECT_EQ(found.count, c.count) << c.name;
        EXPECT_FALSE(Scene().TakeWindowDamage().empty()) << c.name;
    }
}

TEST_F(PathDrawing, EmptyPathsMissingBackEndsAndBadTables) {
    Start(1);
    EXPECT_EQ(Draw(1, 0, 0, kRed), ERR_EMPTYPATH);
    EXPECT_EQ(Draw(2, 0, 0, kRed), ERR_FINDPATH);
    // A path of a single point covers nothing.
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(5), Num(5)}).code, 0);
    EXPECT_EQ(Draw(1, 0, 0, kRed), ERR_EMPTYPATH);
    Box(3, 0, 0, 4, 4);
    EXPECT_EQ(Draw(3, 0, 0, kRed, Str("not a table")), 0) << "only a table is read";
    UseVectorBackend(nullptr);
    EXPECT_EQ(Draw(3, 0, 0, kRed), ERR_VECGFXPLUGIN);
}

TEST_F(PathDrawing, ARotatedPathOnLayersRendersUprightAndTheLayerTurnsIt) {
    Fresh(true);
    GetDrawState()->fillStyle = FILLCOLOR;
    Box(1, 30, 35, 40, 10);
    ASSERT_EQ(Draw(1, 0, 0, kRed,
                   Table({{Str("rotate"), Num(90)},
                          {Str("anchorx"), Num(0.5)},
                          {Str("anchory"), Num(0.5)}})),
              0);
    const std::vector<qvLayer*> layers = Layers();
    ASSERT_EQ(layers.size(), 1u);
    const qvLayer* layer = layers[0];
    EXPECT_EQ(layer->type, uint32_t(gfx::kTypeVectorPath));
    EXPECT_NE(layer->transform.matrix[1], 0) << "the layer carries the turn";
    const qvLayerItem* source = layer->sourceItem;
    EXPECT_EQ(source->image.bitmap->width, 40);
    EXPECT_EQ(source->image.bitmap->height, 10);
    // The anchor point (the box's centre) lies at the position, where the extents start
    // (30, 35), and the picture the layer shows is turned about it.
    const Found shown = Measure(Composed(kRed));
    EXPECT_NEAR(shown.count, 400, 40);
    EXPECT_NEAR(shown.box.width, 10, 1);
    EXPECT_NEAR(shown.box.height, 40, 1);
    EXPECT_NEAR(shown.box.x + shown.box.width / 2.0, 30, 1.5);
    EXPECT_NEAR(shown.box.y + shown.box.height / 2.0, 35, 1.5);
    EXPECT_EQ(Composed(kRed).at<uint8_t>(35, 45), 0) << "nothing of the upright box is left";
}

TEST_F(PathDrawing, ATurnedAnchoredPathStaysInsideItsPlane) {
    GetDrawState()->fillStyle = FILLCOLOR;
    Box(1, 30, 35, 40, 10);
    struct Case {
        double rotate, anchor;
    };
    for (const Case& c : {Case{90, 0.5}, {90, 1}, {45, 0.5}, {180, 0.5}, {270, 0}}) {
        Fresh(false);
        ASSERT_EQ(Draw(1, 0, 0, kRed,
                       Table({{Str("rotate"), Num(c.rotate)},
                              {Str("anchorx"), Num(c.anchor)},
                              {Str("anchory"), Num(c.anchor)}})),
                  0);
        // Every pixel of the turned box arrives: none is cut off by its plane.
        EXPECT_NEAR(Measure(Shown(kRed)).count, 400, 40) << c.rotate << " " << c.anchor;
    }
}

TEST_F(PathDrawing, EdgeAndShadowSurroundTheFill) {
    qvDrawState& state = *GetDrawState();
    state.fillStyle = FILLCOLOR;
    state.formStyle = EDGE | SHADOW;
    state.borderSize = 2, state.borderColour = kGreen;
    state.shadowSize = 4, state.shadowDirection = 3, state.shadowColour = kBlue;
    Box(1, 20, 20, 20, 20);
    ASSERT_EQ(Draw(1, 0, 0, kRed), 0);
    const Found fill = Measure(Shown(kRed)), edge = Measure(Shown(kGreen)),
                shadow = Measure(Shown(kBlue));
    EXPECT_EQ(fill.box, cv::Rect(20, 20, 20, 20));
    EXPECT_EQ(fill.count, 400);
    EXPECT_EQ(edge.box, cv::Rect(18, 18, 24, 24));
    EXPECT_EQ(edge.count, 24 * 24 - 400);
    // South-east by 4, showing beyond the edge on the right and at the bottom.
    EXPECT_EQ(shadow.box, cv::Rect(22, 22, 24, 24)) << "shadow " << shadow.box;
    EXPECT_EQ(shadow.count, 4 * 24 + 4 * 20);

    // With layers on the layer draws them: its style has them, its image has neither.
    Fresh(true);
    ASSERT_EQ(Draw(1, 0, 0, kRed), 0);
    const std::vector<qvLayer*> layers = Layers();
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0]->border.on, 1);
    EXPECT_EQ(layers[0]->border.size, 2);
    EXPECT_EQ(layers[0]->shadow.on, 1);
    EXPECT_EQ(layers[0]->sourceItem->image.bitmap->width, 20);
    const auto* item = static_cast<const qvPathItem*>(layers[0]->sourceItem);
    EXPECT_EQ(item->drawState.formStyle & (EDGE | SHADOW), 0u);
    EXPECT_EQ(Measure(Composed(kRed)).count, 400);
    EXPECT_GT(Measure(Composed(kGreen)).count, 0) << "the layer's border";
}

TEST_F(PathDrawing, GradientsSpanTheFillAndAMissingTextureIsAnError) {
    qvDrawState& state = *GetDrawState();
    state.fillStyle = draw::FILLGRADIENT;
    state.gradient.style = gfx::LINEAR;
    state.gradient.startColour = kRed, state.gradient.endColour = kBlue;
    state.gradient.angle = 0;
    state.borderColour = kGreen, state.borderSize = 2;
    Box(1, 20, 20, 40, 40);
    for (uint32_t form : {draw::NORMAL, EDGE}) {
        Fresh(false);
        state.formStyle = form;
        ASSERT_EQ(Draw(1, 0, 0, 0), 0) << form;
        // From the start colour at one corner of the fill to the end colour at the other.
        const uint32_t left = ReadBitMapPixel(Scene().displayBitmap.get(), 20, 20);
        const uint32_t right = ReadBitMapPixel(Scene().displayBitmap.get(), 59, 59);
        EXPECT_GT(left >> 16, (left & 0xFF)) << form;
        EXPECT_GT((right & 0xFF), right >> 16) << form;
    }
    state.fillStyle = draw::FILLTEXTURE;
    state.textureBrush = {77, nullptr};
    for (uint32_t form : {draw::NORMAL, EDGE}) {
        state.formStyle = form;
        EXPECT_EQ(Draw(1, 0, 0, 0), ERR_FINDBRUSH) << form;
    }
}

// The longest run of the colour along the rows of the display.
int32_t LongestRun(const qvDisplayBitMap* bitmap, uint32_t colour) {
    int32_t longest = 0;
    for (int32_t y = 0; y < kHeight; ++y) {
        int32_t run = 0;
        for (int32_t x = 0; x < kWidth; ++x) {
            run = ReadBitMapPixel(bitmap, x, y) == colour ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    return longest;
}

TEST_F(PathDrawing, TheTextureScalesWithTheShape) {
    // Columns of two red and two blue pixels.
    qvBrush* brush = nullptr;
    ASSERT_EQ(CreateBrushBitmaps({5, nullptr}, 4, 4, kRed, false, false, false, false, &brush), 0);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 2; x < 4; ++x) PlotPixel(brush->bitmap, x, y, kBlue);
    }
    qvDrawState& state = *GetDrawState();
    state.fillStyle = draw::FILLTEXTURE;
    state.textureBrush = {5, nullptr};
    Box(1, 20, 20, 20, 20);
    struct Case {
        double scale, rotate;
        int32_t run;
    };
    // A turn keeps the texture at its size; a scale scales it.
    for (const Case& c : {Case{1, 0, 2}, {2, 0, 4}, {1, 90, 2}}) {
        Fresh(false);
        ASSERT_EQ(Draw(1, 0, 0, 0,
                       Table({{Str("scalex"), Num(c.scale)},
                              {Str("scaley"), Num(c.scale)},
                              {Str("rotate"), Num(c.rotate)},
                              {Str("anchorx"), Num(0.5)},
                              {Str("anchory"), Num(0.5)}})),
                  0);
        EXPECT_EQ(LongestRun(Scene().displayBitmap.get(), kRed), c.run)
            << c.scale << " " << c.rotate;
    }
    FreeAllBrushes(L);
}

TEST_F(PathDrawing, TheLayerBorderCoversTheFilledShape) {
    Fresh(true);
    GetDrawState()->fillStyle = FILLCOLOR;
    Box(1, 10, 10, 20, 20);
    ASSERT_EQ(Draw(1, 0, 0, kRed), 0);
    qvLayer* layer = Layers().at(0);
    for (bool filled : {true, false}) {
        auto* item = static_cast<qvPathItem*>(layer->sourceItem);
        item->drawState.fillStyle = filled ? FILLCOLOR : FILLNONE;
        qvLayerBorder border{};
        ASSERT_EQ(LayerBorderRenderer(gfx::kTypeVectorPath)(L, layer, item, kGreen, 3, &border), 0);
        OwnedBitMap bitmap(border.image.bitmap);
        OwnedPlane alpha(border.image.alpha);
        // A stroke of 6 around the 20 x 20 box: 3 beyond it on every side.
        EXPECT_EQ(border.dx, 3);
        EXPECT_EQ(border.dy, 3);
        EXPECT_EQ(border.width, 26);
        EXPECT_EQ(border.height, 26);
        const uint8_t centre = alpha->plane[size_t(13) * alpha->bytesPerRow + 13];
        EXPECT_EQ(centre, filled ? 255 : 0) << "filled " << filled;
        EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 1, 1), kGreen);
    }
}

TEST_F(PathDrawing, ShapesDrawnAsPathsKeepTheirBoxAtThePosition) {
    GetDrawState()->fillStyle = FILLCOLOR;
    PathShape circle{gfx::kTypeCircle};
    circle.a = 10;
    ASSERT_EQ(ShapeToPath(L, circle, 30, 20, kRed, 0), 0);
    const cv::Mat drawn = Shown(kRed);
    const Found found = Measure(drawn);
    EXPECT_EQ(found.box.x, 30);
    EXPECT_EQ(found.box.y, 20);
    cv::Mat disk(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
    cv::circle(disk, {40, 30}, 10, cv::Scalar(255), cv::FILLED);
    EXPECT_GE(IoU(drawn, disk), 0.85);

    const double points[] = {0, 0, 20, 0, 0, 20};
    PathShape polygon{gfx::kTypePolygon};
    polygon.a = 3, polygon.points = points;
    const int32_t corners[4] = {100, 0, 0, 0};
    PathShape box{gfx::kTypeBox};
    box.a = 20, box.b = 10, box.corners = corners;
    PathShape arc{gfx::kTypeArc};
    arc.a = 10, arc.b = 10, arc.c = 0, arc.d = 90, arc.e = 1;
    struct Case {
        const PathShape* shape;
        int low, high;
    };
    for (const Case& c : {Case{&polygon, 190, 230}, {&box, 185, 200}, {&arc, 70, 90}}) {
        Fresh(false);
        ASSERT_EQ(ShapeToPath(L, *c.shape, 50, 40, kBlue, 0), 0) << c.shape->type;
        const Found shape = Measure(Shown(kBlue));
        EXPECT_GE(shape.count, c.low) << c.shape->type;
        EXPECT_LE(shape.count, c.high) << c.shape->type;
    }
    // The temporary paths are gone.
    int paths = 0;
    for (qvObjectHeader* h = *PathListHead(); h != nullptr; h = h->next) ++paths;
    EXPECT_EQ(paths, 0);
    PathShape unknown{gfx::kTypeLine};
    EXPECT_EQ(ShapeToPath(L, unknown, 0, 0, kRed, 0), ERR_WRONGUSAGE);
}

// While path use is forced, the draw library's shape commands draw through paths: the same
// box and disk, and the command's table of points for a polygon.
TEST_F(PathDrawing, ForcedPathUseRoutesTheShapeCommands) {
    GetDrawState()->fillStyle = FILLCOLOR;
    ASSERT_EQ(Call("ForcePathUse", {Bool(true)}).code, 0);
    ASSERT_EQ(Call("Circle", {Num(30), Num(20), Num(10), Num(kRed)}).code, 0);
    cv::Mat disk(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
    cv::circle(disk, {40, 30}, 10, cv::Scalar(255), cv::FILLED);
    EXPECT_GE(IoU(Shown(kRed), disk), 0.85);
    ASSERT_EQ(Call("Box", {Num(50), Num(40), Num(20), Num(10), Num(kBlue)}).code, 0);
    const Found box = Measure(Shown(kBlue));
    EXPECT_EQ(box.box.x, 50);
    EXPECT_EQ(box.box.y, 40);
    EXPECT_NEAR(box.count, 200, 15);
    Fresh(false);
    const CallResult polygon =
        Call("Polygon", {Num(10), Num(10), List({Num(0), Num(0), Num(20), Num(0), Num(0), Num(20)}),
                         Num(3), Num(kBlue)});
    ASSERT_EQ(polygon.code, 0);
    EXPECT_NEAR(Measure(Shown(kBlue)).count, 210, 20);
    ASSERT_EQ(Call("ForcePathUse", {Bool(false)}).code, 0);
}

// A polygon of the most points a command takes, open or closed, keeps its closing point on
// the way into a path.
TEST_F(PathDrawing, ForcedPathUseTakesAPolygonOfTheMostPoints) {
    GetDrawState()->fillStyle = FILLCOLOR;
    ASSERT_EQ(Call("ForcePathUse", {Bool(true)}).code, 0);
    for (const bool closed : {false, true}) {
        Fresh(false);
        std::vector<Arg> points;
        for (int i = 0; i < 999; ++i) {
            // Around a circle, the last point on the first when closed.
            const double turn = 2 * M_PI * i / (closed ? 998 : 999);
            points.push_back(Num(40 + 30 * std::cos(turn)));
            points.push_back(Num(40 + 30 * std::sin(turn)));
        }
        EXPECT_EQ(Call("Polygon", {Num(0), Num(0), List(points), Num(999), Num(kBlue)}).code, 0)
            << closed;
        cv::Mat disk(kHeight, kWidth, CV_8UC1, cv::Scalar(0));
        cv::circle(disk, {40, 40}, 30, cv::Scalar(255), cv::FILLED);
        EXPECT_GE(IoU(Shown(kBlue), disk), 0.85) << closed;
    }
    ASSERT_EQ(Call("ForcePathUse", {Bool(false)}).code, 0);
}

// A display that scales its layers by a factor.
class ScalingScene final : public objects::SceneSeam {
public:
    ScalingScene() { objects::SetSceneSeam(this); }
    ~ScalingScene() override { objects::SetSceneSeam(nullptr); }
    ScalingScene(const ScalingScene&) = delete;
    ScalingScene& operator=(const ScalingScene&) = delete;
    bool LayerScaling(objects::DisplayScaling* out) override {
        *out = {2, 2, 2 * kWidth, 2 * kHeight, kWidth, kHeight};
        return true;
    }
};

TEST_F(PathDrawing, LayerScalingLeavesTheBlitToTheCompositor) {
    GetDrawState()->fillStyle = FILLCOLOR;
    Box(1, 20, 30, 10, 10);
    {
        Fresh(true);
        ScalingScene scaling;
        ASSERT_EQ(Draw(1, 0, 0, kRed), 0);
        EXPECT_EQ(Measure(Shown(kRed)).count, 0) << "no direct blit";
        EXPECT_EQ(Layers().size(), 1u);
    }
    // Autoscale is no scaled mode: the blit goes ahead.
    SceneDisplay& display = Fresh(false);
    display.view.autoscale = true;
    display.view.autoscaleWidth = 2 * kWidth, display.view.autoscaleHeight = 2 * kHeight;
    ASSERT_EQ(Draw(1, 0, 0, kRed), 0);
    EXPECT_EQ(Measure(Shown(kRed)).count, 100);
}

// A path drawn again reuses what it measured only for the same stream, stroke state and
// coverage: drawn twice in turn, every variant lands where its own extents say.
TEST_F(PathDrawing, RedrawsMeasureEachStrokeStateAndStreamOnItsOwn) {
    Start(1);
    for (auto [code, x, y] : {std::tuple{"MoveTo", 10, 60}, {"LineTo", 30, 20}, {"LineTo", 50, 60}})
        ASSERT_EQ(Call(code, {Num(1), Num(x), Num(y)}).code, 0);
    qvPath* path = nullptr;
    ASSERT_EQ(FindPath({1, nullptr}, &path), 0);
    std::vector<uint8_t> moved(path->segments, path->segments + UsedBytes(*path));
    const qvPathTranslateRequest move{moved.data(), moved.size(), 7.25, -3.5};
    ASSERT_EQ(kCairoBackend.translatePath(&move), 1);
    const double shortDash[] = {2, 100}, longDash[] = {100, 2};
    struct Variant {
        const char* name;
        int32_t join, cap, fillStyle, lineWidth, dashCount;
        bool moved;
        const double* dashes = nullptr;
    };
    const Variant variants[] = {
        {"miter", QV_JOIN_MITER, QV_CAP_BUTT, FILLNONE, 6, 0, false},
        {"round join", QV_JOIN_ROUND, QV_CAP_BUTT, FILLNONE, 6, 0, false},
        {"bevel", QV_JOIN_BEVEL, QV_CAP_BUTT, FILLNONE, 6, 0, false},
        {"square cap", QV_JOIN_BEVEL, QV_CAP_SQUARE, FILLNONE, 6, 0, false},
        {"wider", QV_JOIN_BEVEL, QV_CAP_SQUARE, FILLNONE, 9, 0, false},
        {"dashed", QV_JOIN_BEVEL, QV_CAP_SQUARE, FILLNONE, 9, 2, false, shortDash},
        {"dashed longer", QV_JOIN_BEVEL, QV_CAP_SQUARE, FILLNONE, 9, 2, false, longDash},
        {"filled", QV_JOIN_BEVEL, QV_CAP_SQUARE, FILLCOLOR, 9, 0, false},
        {"moved", QV_JOIN_MITER, QV_CAP_BUTT, FILLNONE, 6, 0, true},
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (const Variant& v : variants) {
            qvPathItem item;
            item.segments = v.moved ? moved.data() : path->segments;
            item.length = moved.size();
            item.join = v.join, item.cap = v.cap;
            item.dashCount = v.dashCount, item.dashes = v.dashes;
            ResetDrawState(&item.drawState);
            item.drawState.fillStyle = v.fillStyle;
            item.drawState.lineWidth = v.lineWidth;
            item.colour = kRed;
            qvPathRenderCall call{};
            ASSERT_EQ(RenderPath(L, &item, call), 0) << v.name;
            const qvPathStrokeStyle style{v.join, v.cap, 0, 0, 0, v.dashes, v.dashCount};
            PathBounds b{};
            ASSERT_EQ(MeasureStream(kCairoBackend, item.segments, item.length, style,
                                    v.fillStyle != FILLNONE, v.lineWidth, 0, 0, &b),
                      0);
            const std::string what = std::string(v.name) + " pass " + std::to_string(pass);
            EXPECT_EQ(item.originX, b.left) << what;
            EXPECT_EQ(item.originY, b.top) << what;
            EXPECT_EQ(item.width, int32_t(b.right - b.left + 0.5)) << what;
            EXPECT_EQ(item.height, int32_t(b.bottom - b.top + 0.5)) << what;
        }
    }
}

TEST_F(PathDrawing, RunningOutOfMemoryLeavesNothingBehind) {
    qvDrawState& state = *GetDrawState();
    state.fillStyle = FILLCOLOR;
    state.formStyle = EDGE | SHADOW | ANTIALIAS;
    Box(1, 20, 20, 20, 20);
    for (bool layers : {false, true}) {
        for (uint64_t n = 1;; ++n) {
            Fresh(layers);
            const size_t live = GetMemoryStats().liveBlocks;
            int code;
            {
                AllocationFault fault(n, false);
                code = DrawPathEx(L, {1, nullptr}, 0, 0, kRed, 0);
            }
            if (code == 0) break;
            EXPECT_EQ(code, ERR_MEM) << n;
            EXPECT_EQ(GetMemoryStats().liveBlocks, live) << "layers " << layers << ", fault " << n;
            EXPECT_TRUE(Layers().empty());
            ASSERT_LT(n, 200u);
        }
    }
}

TEST(TransformBoundsPoints, TurnsAboutTheAnchorPointAndClamps) {
    struct Case {
        double m[4];
        double ox, oy;
        std::vector<double> points, turned;
        double minX, minY, width, height;
    };
    const Case cases[] = {
        // A quarter turn of a 10 x 4 box about its top-left corner.
        {{0, 1, -1, 0}, 0, 0, {0, 0, 10, 0, 10, 4}, {0, 0, 0, 10, -4, 10}, -4, 0, 5, 11},
        // About its centre.
        {{0, 1, -1, 0}, 5, 2, {0, 0, 10, 4}, {7, -3, 3, 7}, 3, -3, 5, 11},
        // Doubled: results clamped to +-100000.
        {{1e6, 0, 0, 1}, 0, 0, {1, 1, -1, 2}, {100000, 1, -100000, 2}, -100000, 1, 200001, 2},
    };
    for (const Case& c : cases) {
        std::vector<double> points = c.points;
        double minX, minY, width, height;
        TransformBoundsPoints(c.m, c.ox, c.oy, points.data(), int(points.size() / 2), false, &minX,
                              &minY, &width, &height);
        EXPECT_EQ(points, c.turned);
        EXPECT_EQ((std::vector{minX, minY, width, height}),
                  (std::vector{c.minX, c.minY, c.width, c.height}));
    }
    std::vector<double> points = {0, 0, 10, 0, 10, 4};
    const double quarter[4] = {0, 1, -1, 0};
    TransformBoundsPoints(quarter, 0, 0, points.data(), 3, true, nullptr, nullptr, nullptr,
                          nullptr);
    EXPECT_EQ(points, (std::vector<double>{4, 0, 4, 10, 0, 10}));
}

}  // namespace
}  // namespace qv::testing
