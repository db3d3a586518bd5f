// The style rows of shape layers: their keys read into the working item, the retype items,
// and round trips through GetLayerStyle onto another layer of the type.
#include <gtest/gtest.h>

#include <optional>

#include "engine/error_codes.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_records.h"
#include "scene/layers/layers_library.h"
#include "tests/objects/draw/style_rows/style_row_support.h"
#include "tests/scene/support/layer_scene.h"

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

class ShapeStyleRows : public LibFixture {
protected:
    ShapeStyleRows() : LibFixture(OpenLibraries<RegisterDrawLibrary, RegisterLayersLibrary>) {
        display_.emplace(Solid(120, 100, 0));
        ResetDrawState(GetDrawState());
    }
    ~ShapeStyleRows() override {
        display_.reset();
        FreeDrawBuffers(L);
    }

    // The top layer after the drawing command.
    qvLayer* Draw(const char* command, const std::vector<Arg>& args) {
        EXPECT_EQ(Call(command, args).code, 0) << command;
        return reinterpret_cast<qvLayer*>(display_->picture->layers.tailPred);
    }
    qvLayer* Brush() { return display_->AddLayer(L, Solid(8, 8, 0xFF), 30, 40); }
    static const qvShapeItem& ItemOf(const qvLayer* layer) {
        return *dynamic_cast<const qvShapeItem*>(layer->sourceItem);
    }
    // GetLayerStyle of the layer at the position.
    Value StyleOf(int position) {
        const CallResult result = Call("GetLayerStyle", {Num(position)});
        EXPECT_EQ(result.code, 0);
        return result.results.empty() ? Value{} : result.results[0];
    }
    static double Number(const Value& table, const char* key) {
        const Value* v = table.Field(key);
        return v != nullptr ? v->number : -12345;
    }

    SceneObjects objects;
    std::optional<SceneDisplay> display_;
};

TEST_F(ShapeStyleRows, BoxRoundTripCarriesSizeAndCorners) {
    Draw("Box", {Num(5), Num(6), Num(40), Num(30), Num(0xFF0000),
                 Table({{Str("cornera"), Num(10)},
                        {Str("cornerb"), Num(20)},
                        {Str("cornerc"), Num(30)},
                        {Str("cornerd"), Num(40)}})});
    qvLayer* other = Draw("Box", {Num(50), Num(50), Num(10), Num(10), Num(0x00FF00)});
    const Value style = StyleOf(1);
    EXPECT_EQ(style.Field("roundlevel"), nullptr) << "corners differ";
    EXPECT_EQ(Number(style, "cornerc"), 30);

    StyleWork work(L, other, BOX);
    ASSERT_EQ(ReadRow(*this, work, ArgOf(style)), 0);
    const auto& item = work.As<qvShapeItem>();
    EXPECT_EQ(item.width, 40);
    EXPECT_EQ(item.height, 30);
    EXPECT_EQ(item.colour, 0xFF0000u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(item.cornerLevels[i], 10 * (i + 1)) << i;
    EXPECT_TRUE(work.work.rebuild);

    // Equal corners come back as one roundlevel.
    Draw("Box", {Num(5), Num(6), Num(20), Num(20), Num(0), Table({{Str("roundlevel"), Num(25)}})});
    const Value round = StyleOf(3);
    EXPECT_EQ(Number(round, "roundlevel"), 25);
    EXPECT_EQ(round.Field("cornera"), nullptr);
}

TEST_F(ShapeStyleRows, LineRoundTripMovesThePositionToThePointsMinimum) {
    Draw("Line", {Num(50), Num(40), Num(10), Num(70), Num(0xFF)});
    qvLayer* other = Draw("Line", {Num(0), Num(0), Num(5), Num(5), Num(0)});
    StyleWork work(L, other, LINE);
    ASSERT_EQ(ReadRow(*this, work, ArgOf(StyleOf(1))), 0);
    const auto& item = work.As<qvShapeItem>();
    EXPECT_EQ(item.x1, 50);
    EXPECT_EQ(item.y2, 70);
    EXPECT_EQ(item.colour, 0xFFu);
    EXPECT_EQ(item.width, ItemOf(other).width + 35) << "the box follows the points";
    EXPECT_TRUE(work.work.linePoints);
    EXPECT_EQ(work.work.lineX, 10);
    EXPECT_EQ(work.work.lineY, 40);

    StyleWork thick(L, other, LINE);
    ASSERT_EQ(ReadRow(*this, thick, Table({{Str("thickness"), Num(4)}})), 0);
    EXPECT_FALSE(thick.work.linePoints) << "no points given";
    EXPECT_EQ(thick.As<qvShapeItem>().thickness, 4);
}

TEST_F(ShapeStyleRows, PolygonRoundTripAndNewVertices) {
    Draw("Polygon", {Num(20), Num(10), List({Num(0), Num(0), Num(30), Num(0), Num(15), Num(20)}),
                     Num(3), Num(0xFF)});
    qvLayer* other =
        Draw("Polygon", {Num(0), Num(0), List({Num(0), Num(0), Num(5), Num(5)}), Num(2), Num(0)});
    const Value style = StyleOf(1);
    EXPECT_EQ(Number(style, "numvertices"), 4) << "with the closing point";
    StyleWork work(L, other, POLYGON);
    ASSERT_EQ(ReadRow(*this, work, ArgOf(style)), 0);
    const auto& item = work.As<qvShapeItem>();
    const qvShapeItem& first = ItemOf(GetLayerByIndex(display_->picture, 1));
    ASSERT_EQ(item.pointCount, first.pointCount);
    for (int i = 0; i < item.pointCount; ++i) EXPECT_EQ(item.points[i], first.points[i]) << i;
    EXPECT_EQ(item.width, first.width);
    EXPECT_EQ(item.height, first.height);

    // Vertices away from the origin: the box's origin becomes the position.
    StyleWork moved(L, other, POLYGON);
    ASSERT_EQ(
        ReadRow(
            *this, moved,
            Table({{Str("vertices"), List({Num(5), Num(7), Num(25), Num(7), Num(15), Num(22)})}})),
        0);
    const auto& shifted = moved.As<qvShapeItem>();
    EXPECT_TRUE(moved.work.hasOrigin);
    EXPECT_EQ(moved.work.originX, 5);
    EXPECT_EQ(moved.work.originY, 7);
    EXPECT_EQ(shifted.x, 5);
    EXPECT_EQ(shifted.width, 21);
    EXPECT_EQ(shifted.height, 16);
    EXPECT_EQ(shifted.points[0], (qvOutlinePoint{0, 0}));
}

TEST_F(ShapeStyleRows, BadVerticesAreRefused) {
    qvLayer* layer =
        Draw("Polygon", {Num(0), Num(0), List({Num(0), Num(0), Num(5), Num(5)}), Num(2), Num(0)});
    const struct {
        Arg vertices;
        int code;
    } cases[] = {
        {Str("0,0,5,5"), ERR_TABEXPECTED},
        {Num(3), ERR_TABEXPECTED},
        {List({Num(1), Num(2), Str("x"), Num(4)}), ERR_NUMTABLEARG},
        {List({Num(1), Num(2)}), ERR_WRONGUSAGE},
    };
    for (const auto& c : cases) {
        StyleWork work(L, layer, POLYGON);
        EXPECT_EQ(ReadRow(*this, work, Table({{Str("vertices"), c.vertices}})), c.code);
        EXPECT_EQ(work.As<qvShapeItem>().pointCount, ItemOf(layer).pointCount) << "kept";
        EXPECT_FALSE(work.work.hasOrigin);
    }
}

TEST_F(ShapeStyleRows, RetypesNeedTheirGeometryUnlessTheOldShapeCarriesIt) {
    qvLayer* ellipse = Draw("Ellipse", {Num(40), Num(40), Num(12), Num(7), Num(0xFF)});
    qvLayer* box = Draw("Box", {Num(5), Num(5), Num(10), Num(10), Num(0xFF)});
    qvLayer* brush = Brush();
    const Arg none = Table({});
    const struct {
        qvLayer* from;
        int32_t to;
        Arg table;
        int code;
    } cases[] = {
        {ellipse, CIRCLE, none, 0},
        {brush, CIRCLE, none, ERR_MISSINGPARAMTR},
        {box, CIRCLE, none, ERR_MISSINGPARAMTR},
        {brush, CIRCLE, Table({{Str("radius"), Num(10)}}), 0},
        {ellipse, ARC, Table({{Str("startangle"), Num(0)}, {Str("endangle"), Num(90)}}), 0},
        {ellipse, ARC, Table({{Str("startangle"), Num(0)}}), ERR_MISSINGPARAMTR},
        {box, ELLIPSE, Table({{Str("radiusa"), Num(4)}}), ERR_MISSINGPARAMTR},
        {box, POLYGON, none, ERR_MISSINGPARAMTR},
        {brush, BOX, none, 0},
        {brush, LINE, none, 0},
    };
    for (const auto& c : cases) {
        StyleWork work(L, c.from, uint32_t(c.to));
        EXPECT_EQ(ReadRow(*this, work, c.table), c.code) << c.from->type << " -> " << c.to;
    }

    // A shape keeps its whole item; another layer starts from the draw state at its place.
    StyleWork circle(L, ellipse, CIRCLE);
    EXPECT_EQ(circle.As<qvShapeItem>().radiusX, 12);
    EXPECT_EQ(circle.As<qvShapeItem>().colour, 0xFFu);
    GetDrawState()->fillStyle = FILLCOLOR;
    StyleWork fresh(L, brush, CIRCLE);
    ASSERT_EQ(ReadRow(*this, fresh, Table({{Str("radius"), Num(10)}})), 0);
    const auto& item = fresh.As<qvShapeItem>();
    EXPECT_EQ(item.drawState.fillStyle, FILLCOLOR);
    EXPECT_EQ(item.x, 30);
    EXPECT_EQ(item.y, 40);
    EXPECT_EQ(item.width, 21) << "the box of the radius";
}

TEST_F(ShapeStyleRows, KeysAskForARebuildAndTheStyleIsClamped) {
    qvLayer* layer = Draw("Circle", {Num(30), Num(30), Num(8), Num(0xFF)});
    StyleWork empty(L, layer, CIRCLE);
    ASSERT_EQ(ReadRow(*this, empty, Table({})), 0);
    EXPECT_FALSE(empty.work.rebuild);

    StyleWork work(L, layer, CIRCLE);
    ASSERT_EQ(
        ReadRow(*this, work, Table({{Str("fillstyle"), Num(9)}, {Str("formstyle"), Num(SHADOW)}})),
        0);
    EXPECT_TRUE(work.work.rebuild);
    EXPECT_TRUE(work.work.refresh) << "the shadow switched";
    EXPECT_EQ(work.work.layer.shadow.on, 1);
    EXPECT_EQ(work.As<qvShapeItem>().drawState.fillStyle, FILLNONE) << "clamped";
}

}  // namespace
}  // namespace qv::testing

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

// Through SetLayerStyle: the engine places and rebuilds what the rows read.
using ShapeRestyle = ShapeStyleRows;

TEST_F(ShapeRestyle, PolygonWithNewVerticesLandsAtXPlusTheirOrigin) {
    Draw("Polygon", {Num(0), Num(0), List({Num(0), Num(0), Num(5), Num(5)}), Num(2), Num(0)});
    const Arg vertices = List({Num(5), Num(7), Num(25), Num(7), Num(15), Num(22)});
    ASSERT_EQ(
        Call("SetLayerStyle", {Num(1), Table({{Str("vertices"), vertices}, {Str("x"), Num(10)}})})
            .code,
        0);
    const Value style = StyleOf(1);
    EXPECT_EQ(Number(style, "x"), 15);
    EXPECT_EQ(Number(style, "y"), 7) << "without y the origin is the position";
    EXPECT_EQ(Number(style, "numvertices"), 4);
}

TEST_F(ShapeRestyle, RestyledShapesTakeTheirNewGeometry) {
    GetDrawState()->fillStyle = FILLCOLOR;
    Draw("Box", {Num(5), Num(5), Num(10), Num(10), Num(0xFF0000)});
    ASSERT_EQ(Call("SetLayerStyle", {Num(1), Table({{Str("sizex"), Num(40)},
                                                    {Str("sizey"), Num(30)},
                                                    {Str("color"), Num(0x00FF00)}})})
                  .code,
              0);
    EXPECT_EQ(Number(StyleOf(1), "width"), 40) << "the own size follows the shape";

    // A circle retyped from it keeps the style and takes its radius.
    ASSERT_EQ(Call("SetLayerStyle",
                   {Num(1), Table({{Str("type"), Num(CIRCLE)}, {Str("radius"), Num(10)}})})
                  .code,
              0);
    const Value circle = StyleOf(1);
    EXPECT_EQ(Number(circle, "radius"), 10);
    EXPECT_EQ(Number(circle, "color"), 0x00FF00);
    EXPECT_EQ(Number(circle, "width"), 21);

    // A line moved with its layer shifts its points.
    Draw("Line", {Num(10), Num(60), Num(30), Num(80), Num(0xFF)});
    ASSERT_EQ(Call("SetLayerStyle",
                   {Num(2), Table({{Str("thickness"), Num(3)}, {Str("translatex"), Num(5)}})})
                  .code,
              0);
    const Value line = StyleOf(2);
    EXPECT_EQ(Number(line, "x1"), 15);
    EXPECT_EQ(Number(line, "x2"), 35);
    EXPECT_EQ(Number(line, "thickness"), 3);
}

}  // namespace
}  // namespace qv::testing
