// Shape outlines: exact point lists of boxes, circles, arcs and polygons, the curve steps,
// the direction of arcs, and angles far beyond one turn.
#include "objects/draw/outline.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/objects/draw/draw_test_support.h"

namespace qv::test {
namespace {

using qv::draw::ARC;
using qv::draw::BOX;
using qv::draw::CIRCLE;
using qv::draw::ELLIPSE;
using qv::draw::POLYGON;

using Points = std::vector<qvOutlinePoint>;

class Outline : public ::testing::Test {
protected:
    Points Build(qvOutlineSpec spec) {
        std::vector<qvOutlinePoint> out(qv::draw::kOutlineCapacity);
        if (spec.matrix == nullptr) spec.matrix = kIdentity;
        out.resize(size_t(BuildShapeOutline(shapes.work, spec, out.data())));
        return out;
    }
    qvOutlineSpec Box(int64_t w, int64_t h, int32_t a, int32_t b, int32_t c, int32_t d) {
        qvOutlineSpec spec{};
        spec.type = BOX, spec.width = w, spec.height = h;
        spec.cornerLevels[0] = a, spec.cornerLevels[1] = b;
        spec.cornerLevels[2] = c, spec.cornerLevels[3] = d;
        return spec;
    }
    qvOutlineSpec Ellipse(int32_t type, int64_t w, int64_t h) {
        qvOutlineSpec spec{};
        spec.type = type, spec.width = w, spec.height = h;
        return spec;
    }
    qvOutlineSpec Arc(int64_t size, int32_t start, int32_t end, bool clockwise) {
        qvOutlineSpec spec = Ellipse(ARC, size, size);
        spec.start = start, spec.end = end, spec.clockwise = clockwise;
        return spec;
    }

    static constexpr double kIdentity[4] = {1, 0, 0, 1};
    ShapeWork shapes;
};

TEST_F(Outline, ASquareBoxHasFivePoints) {
    EXPECT_EQ(Build(Box(4, 3, 0, 0, 0, 0)), (Points{{0, 0}, {3, 0}, {3, 2}, {0, 2}, {0, 0}}));
}

TEST_F(Outline, RoundedCornersFollowTheShorterSideWithThirtyDegreeSteps) {
    // Level 100 on a 20 x 10 box: radius 5, whose corners take 30 degree steps, anticlockwise
    // from the top of the top-left corner; fixed-point values are floored.
    const Points expected = {{5, 0},  {2, 0},  {0, 2},  {0, 5},  {0, 4},  {0, 6},
                             {2, 8},  {5, 9},  {14, 9}, {16, 8}, {18, 6}, {19, 4},
                             {19, 5}, {18, 2}, {16, 0}, {14, 0}, {5, 0}};
    EXPECT_EQ(Build(Box(20, 10, 100, 100, 100, 100)), expected);
}

TEST_F(Outline, ALevelOfZeroBesideRoundedCornersKeepsATinyRounding) {
    // Levels above 100 count as 100; 0 beside a rounded corner counts as 1: on a 400 x 400
    // box that is radius 2, drawn with 90 degree steps.
    const Points points = Build(Box(400, 400, 0, 250, 0, 0));
    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points.front(), (qvOutlinePoint{2, 0}));
    EXPECT_EQ(points[1], (qvOutlinePoint{0, 2}));
    EXPECT_EQ(points.back(), points.front());
}

TEST_F(Outline, ACircleOfRadiusTwoIsADiamond) {
    EXPECT_EQ(Build(Ellipse(CIRCLE, 5, 5)), (Points{{4, 2}, {2, 0}, {0, 2}, {2, 4}, {4, 2}}));
}

TEST_F(Outline, CurveStepsGrowWithTheRadius) {
    struct Case {
        int64_t radius;
        size_t points;
    };
    for (const Case& c : {Case{2, 5}, {3, 13}, {9, 13}, {10, 21}, {14, 21}, {15, 73}, {150, 73}}) {
        const int64_t size = 2 * c.radius + 1;
        EXPECT_EQ(Build(Ellipse(CIRCLE, size, size)).size(), c.points) << "radius " << c.radius;
    }
    // An ellipse is governed by its larger half side: radii 15 and 3 take 5 degree steps,
    // though a flat ellipse repeats some points, which are left out.
    const size_t flat = Build(Ellipse(ELLIPSE, 31, 7)).size();
    EXPECT_GT(flat, 21u);
    EXPECT_LE(flat, 73u);
    EXPECT_EQ(qv::draw::CurveStep(0), 90);
    EXPECT_EQ(qv::draw::CurveStep(-5), 90);
}

TEST_F(Outline, AnArcBeginsWithItsBoundsAndClosesThroughItsCentre) {
    // 0 to 90 clockwise is the lower right quarter of the screen: table angles 270 to 360.
    const Points clockwise = Build(Arc(21, 0, 90, true));
    ASSERT_EQ(clockwise.size(), 10u);
    EXPECT_EQ(clockwise[0], (qvOutlinePoint{0, 0}));
    EXPECT_EQ(clockwise[1], (qvOutlinePoint{20, 20}));
    EXPECT_EQ(clockwise[2], (qvOutlinePoint{10, 20}));
    EXPECT_EQ(clockwise[7], (qvOutlinePoint{20, 10}));
    EXPECT_EQ(clockwise[8], (qvOutlinePoint{10, 10})) << "the centre";
    EXPECT_EQ(clockwise[9], clockwise[2]) << "closed at the first curve point";
    // Without the clockwise flag the same angles give the other 270 degrees.
    const Points other = Build(Arc(21, 0, 90, false));
    ASSERT_EQ(other.size(), 20u);
    EXPECT_EQ(other[2], (qvOutlinePoint{20, 10}));
    EXPECT_EQ(other[17], (qvOutlinePoint{10, 20}));
    EXPECT_EQ(other[18], (qvOutlinePoint{10, 10}));
}

TEST_F(Outline, AFullArcIsNotClosedThroughItsCentre) {
    const Points full = Build(Arc(21, 0, 360, true));
    ASSERT_EQ(full.size(), 2u + 21u);
    EXPECT_EQ(full[2], full.back());
    EXPECT_NE(full[full.size() - 2], (qvOutlinePoint{10, 10}));
}

TEST_F(Outline, AnglesFarBeyondOneTurnGiveTheSameArcAsTheirRemainder) {
    // 2147483000 = 5965230 x 360 + 200. The end is raised by whole turns to the start
    // (clockwise), or the start to the end; a span left above one turn is the full ellipse.
    struct Case {
        int32_t start, end, sameStart, sameEnd;
        bool clockwise;
    };
    for (const Case& c : {Case{2147483000, 2147483090, 200, 290, true},
                          {2147483000, 10, 200, 10, true},
                          {10, 2147483000, 10, 200, false},
                          {2147483000, 10, 360, 0, false},
                          {-2147483000, 45, 0, 360, true}}) {
        EXPECT_EQ(Build(Arc(41, c.start, c.end, c.clockwise)),
                  Build(Arc(41, c.sameStart, c.sameEnd, c.clockwise)))
            << c.start << ".." << c.end << " clockwise " << c.clockwise;
    }
}

TEST_F(Outline, PolygonsAreClosedOnce) {
    qvOutlineSpec spec{};
    spec.type = POLYGON, spec.width = 11, spec.height = 11;
    const qvOutlinePoint open[] = {{0, 0}, {10, 0}, {5, 10}};
    spec.points = open, spec.pointCount = 3;
    EXPECT_EQ(Build(spec), (Points{{0, 0}, {10, 0}, {5, 10}, {0, 0}}));
    const qvOutlinePoint closed[] = {{0, 0}, {10, 0}, {5, 10}, {0, 0}};
    spec.points = closed, spec.pointCount = 4;
    EXPECT_EQ(Build(spec), (Points{{0, 0}, {10, 0}, {5, 10}, {0, 0}}));
}

TEST_F(Outline, UnknownTypesAndEmptyBoxesHaveNoOutline) {
    EXPECT_TRUE(Build(Ellipse(17, 10, 10)).empty());
    EXPECT_TRUE(Build(Ellipse(CIRCLE, 0, 10)).empty());
    EXPECT_TRUE(Build(Box(10, -1, 0, 0, 0, 0)).empty());
}

TEST_F(Outline, ATurnedEllipseIsGeneratedTurned) {
    // A quarter turn about the box's centre: the 21 x 11 ellipse stands 11 wide and 21 high
    // around the same centre.
    const double quarter[4] = {0, 1, -1, 0};
    qvOutlineSpec spec = Ellipse(ELLIPSE, 21, 11);
    spec.matrix = quarter, spec.pivotX = 10, spec.pivotY = 5;
    ASSERT_TRUE(OutlineCarriesTransform(spec));
    double minX = 1e9, maxX = -1e9, minY = 1e9, maxY = -1e9;
    for (const qvOutlinePoint& p : Build(spec)) {
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    EXPECT_NEAR(maxX - minX, 10, 1);
    EXPECT_NEAR(maxY - minY, 20, 1);
    EXPECT_NEAR((minX + maxX) / 2, 10, 1);
    EXPECT_NEAR((minY + maxY) / 2, 5, 1);
}

TEST_F(Outline, TheMatrixTurnsAboutThePivot) {
    // A half turn about the top-left corner of a radius-2 circle's box moves its centre from
    // (2, 2) to (-2, -2).
    const double half[4] = {-1, 0, 0, -1};
    qvArcSpec arc{half,        0,           360,         90,          false, false,
                  2 * 65536.0, 2 * 65536.0, 2 * 65536.0, 2 * 65536.0, 0,     0};
    qvOutlinePoint out[qv::draw::kOutlineCapacity];
    const int32_t count = GenerateArcPoints(shapes.work, arc, out);
    ASSERT_EQ(count, 5);
    EXPECT_EQ(out[0], (qvOutlinePoint{-4, -2})) << "angle 0 points left after the turn";
    EXPECT_EQ(out[1], (qvOutlinePoint{-2, 0}));
    int64_t pivotX = 0, pivotY = 0;
    ArcPivot(2 * 65536.0, 2 * 65536.0, 2 * 65536.0, 2 * 65536.0, 0.5, 0.5, &pivotX, &pivotY);
    EXPECT_EQ(pivotX, 2);
    EXPECT_EQ(pivotY, 2);
}

TEST_F(Outline, AnArcOfOnePointRepeatsIt) {
    qvArcSpec arc{kIdentity, 90, 90, 5, false, false, 3 * 65536.0, 4 * 65536.0, 0, 0, 0, 0};
    qvOutlinePoint out[qv::draw::kOutlineCapacity];
    ASSERT_EQ(GenerateArcPoints(shapes.work, arc, out), 2);
    EXPECT_EQ(out[0], (qvOutlinePoint{3, 4}));
    EXPECT_EQ(out[1], out[0]);
}

TEST_F(Outline, EveryBufferFailsCleanly) {
    for (uint64_t n = 1; n <= 8; ++n) {
        qvShapeWork work;
        {
            qv::AllocationFault fault(n, false);
            EXPECT_EQ(AllocShapeWork(&work), ERR_MEM) << n;
        }
        EXPECT_EQ(work.outline, nullptr);
        EXPECT_EQ(work.cosine, nullptr);
    }
}

}  // namespace
}  // namespace qv::test
