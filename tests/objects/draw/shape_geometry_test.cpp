// Shape geometry: turned points, the border ring (grown outline, mitred polygon, its
// degenerate fallback and the mitre limit), the shadow layout, the effective style and the
// conversions of script numbers.
#include "objects/draw/shape_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "objects/draw/draw_state.h"
#include "tests/objects/draw/draw_test_support.h"

namespace qv::test {
namespace {

using namespace qv::draw;
using Vertices = std::vector<qvVertex>;

class Geometry : public ::testing::Test {
protected:
    Geometry() {
        ResetDrawState(&state);
        state.fillStyle = FILLCOLOR;
        desc.drawState = &state;
    }
    void Polygon(const std::vector<qvOutlinePoint>& points, int32_t width, int32_t height) {
        polygon = points;
        desc.type = POLYGON, desc.width = width, desc.height = height;
        desc.points = polygon.data(), desc.pointCount = int32_t(polygon.size());
    }
    void Border(int32_t size) {
        state.formStyle = EDGE;
        state.borderSize = size;
    }
    int Prepare() { return PrepareShapeGeometry(shapes.work, &desc, transform); }
    static Vertices List(const qvVertex* points, int32_t count) {
        return Vertices(points, points + count);
    }

    ShapeWork shapes;
    qvDrawState state{};
    qvShapeDesc desc{};
    ShapeTransform transform;
    std::vector<qvOutlinePoint> polygon;
};

// The pixels 0 ... 9 turn about the middle of their span, 4.5: a quarter turn lays the
// square on itself, as a brush or a path of that size turns.
TEST(TransformPoints, ASquareTurnsAQuarterAboutItsCentre) {
    const double quarter[4] = {0, 1, -1, 0};
    const double pivot = ShapePivot(quarter, 10, 0.5);
    EXPECT_EQ(pivot, 4.5);
    Vertices square = {{0, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}};
    int32_t minX = 0, minY = 0;
    int64_t width = 0, height = 0;
    TransformPoints(quarter, pivot, pivot, square.data(), 5, false, &minX, &minY, &width, &height);
    EXPECT_EQ(square, (Vertices{{9, 0}, {9, 9}, {0, 9}, {0, 0}, {9, 0}}));
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(minY, 0);
    EXPECT_EQ(width, 10);
    EXPECT_EQ(height, 10);
    // About the top-left corner of the span, (-0.5, -0.5), the square turns to the left of it.
    square = {{0, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}};
    const double corner = ShapePivot(quarter, 10, 0);
    TransformPoints(quarter, corner, corner, square.data(), 5, true, &minX, nullptr, nullptr,
                    nullptr);
    EXPECT_EQ(minX, -10);
    EXPECT_EQ(square, (Vertices{{9, 0}, {9, 9}, {0, 9}, {0, 0}, {9, 0}})) << "normalised";
}

TEST(TransformPoints, NoPointsGiveNoSize) {
    const double identity[4] = {1, 0, 0, 1};
    int32_t minX = 0;
    int64_t width = 7;
    TransformPoints(identity, 0, 0, nullptr, 0, true, &minX, nullptr, &width, nullptr);
    EXPECT_EQ(minX, 100000);
    EXPECT_EQ(width, 0);
}

TEST_F(Geometry, TheMitreRingOfASquareIsTheSquareGrown) {
    for (bool reversed : {false, true}) {
        std::vector<qvOutlinePoint> square = {{0, 0}, {9, 0}, {9, 9}, {0, 9}};
        if (reversed) std::reverse(square.begin(), square.end());
        Polygon(square, 10, 10);
        Border(2);
        ASSERT_EQ(Prepare(), 0);
        EXPECT_EQ(desc.borderWidth, 14) << "reversed " << reversed;
        EXPECT_EQ(desc.borderHeight, 14);
        EXPECT_EQ(desc.imageWidth, 14);
        EXPECT_EQ(desc.fillX, 2);
        EXPECT_EQ(desc.fillY, 2);
        EXPECT_EQ(desc.imageX, -2);
        EXPECT_EQ(desc.imageY, -2);
        Vertices ring = List(desc.borderPoints, desc.borderCount);
        std::sort(ring.begin(), ring.end() - 1, [](const qvVertex& a, const qvVertex& b) {
            return a.x != b.x ? a.x < b.x : a.y < b.y;
        });
        EXPECT_EQ(Vertices(ring.begin(), ring.end() - 1),
                  (Vertices{{0, 0}, {0, 13}, {13, 0}, {13, 13}}));
    }
}

TEST_F(Geometry, ACollinearPolygonGetsARectangularRing) {
    Polygon({{0, 0}, {5, 5}, {10, 10}}, 11, 11);
    Border(3);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(List(desc.borderPoints, desc.borderCount),
              (Vertices{{0, 0}, {16, 0}, {16, 16}, {0, 16}, {0, 0}}));
    EXPECT_EQ(desc.fillX, 3);
}

TEST_F(Geometry, RepeatedAndStraightPointsDoNotBreakTheMitre) {
    // A square drawn with a doubled corner and a point in the middle of a side.
    Polygon({{0, 0}, {0, 0}, {5, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}, {0, 0}}, 10, 10);
    Border(2);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.borderCount, 5);
    EXPECT_EQ(desc.borderWidth, 14);
}

TEST_F(Geometry, ASharpSpikeIsMitredNoFurtherThanTenBorders) {
    // The tip's angle is about 0.11 degrees: unlimited, its mitre would reach 58,000 pixels.
    Polygon({{0, 0}, {1000, 1}, {0, 2}}, 1001, 3);
    Border(64);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_LE(desc.imageWidth, 1001 + 2 * 10 * 64);
    EXPECT_LE(desc.imageHeight, 3 + 2 * 10 * 64);
    EXPECT_GT(desc.imageWidth, 1001 + 64) << "the tip still reaches beyond the border size";
}

TEST_F(Geometry, TheShadowFallsTowardsItsDirection) {
    struct Case {
        uint32_t direction;
        int32_t left, top, right, bottom;
    };
    const Case cases[] = {{0, 0, 4, 0, 0}, {1, 0, 4, 4, 0}, {2, 0, 0, 4, 0}, {3, 0, 0, 4, 4},
                          {4, 0, 0, 0, 4}, {5, 4, 0, 0, 4}, {6, 4, 0, 0, 0}, {7, 4, 4, 0, 0}};
    for (const Case& c : cases) {
        int32_t left, top, right, bottom;
        ShadowDirectionMasks(4, c.direction, &left, &top, &right, &bottom);
        EXPECT_EQ((std::vector{left, top, right, bottom}),
                  (std::vector{c.left, c.top, c.right, c.bottom}))
            << "direction " << c.direction;
        desc.type = BOX, desc.width = 10, desc.height = 6;
        state.formStyle = SHADOW, state.shadowSize = 4, state.shadowDirection = c.direction;
        ASSERT_EQ(Prepare(), 0);
        EXPECT_EQ(desc.imageWidth, 10 + c.left + c.right) << "direction " << c.direction;
        EXPECT_EQ(desc.imageHeight, 6 + c.top + c.bottom);
        EXPECT_EQ(desc.imageX, -c.left);
        EXPECT_EQ(desc.imageY, -c.top);
        EXPECT_EQ(desc.fillX, c.left);
        EXPECT_EQ(desc.fillY, c.top);
        // The shadow copy lies towards the direction named: north is up.
        EXPECT_EQ(desc.shadowX, c.right - c.left);
        EXPECT_EQ(desc.shadowY, c.bottom - c.top);
    }
    int32_t left = 1, top = 1, right = 1, bottom = 1;
    ShadowDirectionMasks(0, 3, &left, &top, &right, &bottom);
    EXPECT_EQ((std::vector{left, top, right, bottom}), (std::vector{0, 0, 0, 0}));
}

TEST_F(Geometry, OutlineShapesHaveNeitherBorderNorShadow) {
    state.fillStyle = FILLNONE;
    state.formStyle = EDGE | SHADOW;
    desc.type = CIRCLE, desc.width = desc.height = 21;
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.borderOn, 0);
    EXPECT_EQ(desc.shadowOn, 0);
    EXPECT_EQ(desc.borderCount, 0);
    EXPECT_EQ(desc.imageWidth, 21);
}

TEST_F(Geometry, TheEffectiveStyleIsClamped) {
    state.formStyle = EDGE | SHADOW | ANTIALIAS;
    state.borderSize = 100, state.borderColour = 0x80123456;
    state.shadowSize = -3, state.shadowDirection = 9, state.shadowColour = 0xFF654321;
    desc.type = CIRCLE, desc.width = desc.height = 11;
    ASSERT_EQ(Prepare(), 0);
    // The draw state's own sizes are 1 ... 64 (ClampStyleParams); a layer's border renders
    // through the ring at the size the layer keeps.
    EXPECT_EQ(desc.borderSize, 100);
    EXPECT_EQ(desc.borderColour, 0x123456u);
    EXPECT_EQ(desc.borderTransparency, 0x80);
    EXPECT_EQ(desc.shadowSize, 1);
    EXPECT_EQ(desc.shadowDirection, 3);
    EXPECT_EQ(desc.shadowTransparency, 255);
    EXPECT_EQ(desc.antialias, 1);
    state.fillStyle = 7;
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.fillStyle, FILLNONE);
}

TEST_F(Geometry, CurvedShapesGrowTheirBoxForTheRing) {
    desc.type = BOX, desc.width = 30, desc.height = 20;
    desc.cornerLevels[0] = desc.cornerLevels[2] = 50;
    Border(5);
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.borderWidth, 40);
    EXPECT_EQ(desc.borderHeight, 30);
    EXPECT_EQ(desc.fillWidth, 30);
    EXPECT_EQ(desc.fillX, 5);
    EXPECT_EQ(desc.imageX, -5);
}

TEST_F(Geometry, AnArcKeepsItsBoundsOutOfTheLists) {
    desc.type = ARC, desc.width = desc.height = 21;
    desc.startAngle = 0, desc.endAngle = 90, desc.clockwise = 1;
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.fillWidth, 21) << "the whole ellipse's box";
    EXPECT_EQ(desc.fillCount, 8);
    EXPECT_EQ(desc.fillPoints[0], (qvVertex{10, 20}));
    EXPECT_EQ(desc.fillPoints[6], (qvVertex{10, 10})) << "the centre";
}

TEST_F(Geometry, TurnedPlainShapesMoveByTheirAnchor) {
    // A quarter turn about the top-left corner carries a 10 x 20 box to the left of it: its
    // pixels 0 ... 9 wide become the 20 pixels -20 ... -1, as a brush's would.
    transform.matrix[0] = 0, transform.matrix[1] = 1, transform.matrix[2] = -1;
    transform.matrix[3] = 0;
    desc.type = BOX, desc.width = 10, desc.height = 20;
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.imageX, -20);
    EXPECT_EQ(desc.imageY, 0);
    EXPECT_EQ(desc.imageWidth, 20);
    EXPECT_EQ(desc.imageHeight, 10);
    EXPECT_EQ(List(desc.fillPoints, desc.fillCount),
              (Vertices{{19, 0}, {19, 9}, {0, 9}, {0, 0}, {19, 0}}));
    // About the centre (5, 10) the same box stays around it, turned: -5 ... 14 by 5 ... 14.
    transform.anchorX = transform.anchorY = 0.5;
    ASSERT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.imageX, -5);
    EXPECT_EQ(desc.imageY, 5);
}

TEST_F(Geometry, ShapesBeyondTheLargestBitmapFailAsAllocationsDo) {
    Polygon({{0, 0}, {40000, 0}, {0, 5}}, 40001, 6);
    EXPECT_EQ(Prepare(), ERR_MEM);
    Polygon({{0, 0}, {2e9, 0}, {-2e9, 5}}, 40001, 6);
    EXPECT_EQ(Prepare(), ERR_MEM);
    desc.type = BOX, desc.width = 0, desc.height = 5;
    EXPECT_EQ(Prepare(), ERR_WRONGUSAGE);
    desc.type = 99, desc.width = 5;
    EXPECT_EQ(Prepare(), 0);
    EXPECT_EQ(desc.fillCount, 0);
    EXPECT_EQ(desc.imageWidth, 0);
}

TEST(Numbers, RoundingSaturates) {
    struct Case {
        double value;
        int32_t rounded;
    };
    for (const Case& c : {Case{2.5, 2},
                          {3.5, 4},
                          {-2.5, -2},
                          {1e300, INT32_MAX},
                          {-1e300, INT32_MIN},
                          {std::nan(""), 0},
                          {2147483647.4, INT32_MAX}}) {
        EXPECT_EQ(RoundSaturate(c.value), c.rounded) << c.value;
    }
}

TEST(Numbers, WidthsScaleByTheMatrixArea) {
    struct Case {
        double matrix[4];
        double scale;
    };
    const double c30 = std::cos(M_PI / 6), s30 = std::sin(M_PI / 6);
    for (const Case& c : {Case{{1, 0, 0, 1}, 1},
                          {{2, 0, 0, 3}, 2},
                          {{-2, 0, 0, 1}, 2},
                          {{0, 1, -1, 0}, 1},
                          {{2 * c30, 2 * s30, -2 * s30, 2 * c30}, 2}}) {
        EXPECT_NEAR(WidthScale(c.matrix), c.scale, 1e-12);
    }
    const double quarter[4] = {0, 1, -1, 0};
    EXPECT_EQ(ScaleWidth(8, quarter), 8) << "a turned thick line keeps its width";
}

}  // namespace
}  // namespace qv::test
