// Lines: axis clipping, the thickness rules, turned ends, the image road's images and the
// brush road's painting into a bitmap, a mask alone and an alpha plane alone.
#include "objects/draw/lines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "objects/draw/coverage.h"
#include "objects/draw/shape_geometry.h"
#include "tests/objects/draw/draw_test_support.h"

namespace qv::test {
namespace {

using namespace qv::draw;

TEST(ClipLineAxis, EndsOutsideMoveOntoTheBounds) {
    struct Case {
        int64_t a1, b1, a2, b2, low, high;
        int inside;
        int64_t ca1, cb1, ca2, cb2;
    };
    const Case cases[] = {
        {0, 0, 10, 5, 0, 20, 1, 0, 0, 10, 5},                      // inside: unchanged
        {-5, 0, -1, 3, 0, 20, 0, -5, 0, -1, 3},                    // wholly below
        {21, 0, 40, 3, 0, 20, 0, 21, 0, 40, 3},                    // wholly above
        {-10, 0, 10, 20, 0, 20, 1, 0, 10, 10, 20},                 // the first end moves
        {-10, 0, 30, 40, 0, 20, 1, 0, 10, 20, 30},                 // both ends move
        {30, 40, -10, 0, 0, 20, 1, 20, 30, 0, 10},                 // the same, reversed
        {5, -100, 5, 100, 0, 20, 1, 5, -100, 5, 100},              // along b only: unchanged
        {25, -100, 25, 100, 0, 20, 0, 25, -100, 25, 100},          // along b, outside
        {-3, 0, 4, 10, 0, 20, 1, 0, 4, 4, 10},                     // 30/7 truncated
        {-3, 0, 4, -10, 0, 20, 1, 0, -4, 4, -10},                  // toward zero
        {-2000000000, 0, 2000000000, 5, 0, 639, 1, 0, 2, 639, 2},  // extreme ends
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 0, 99, 1, 0, 0, 99, 99},
    };
    for (const Case& c : cases) {
        int64_t a1 = c.a1, b1 = c.b1, a2 = c.a2, b2 = c.b2;
        EXPECT_EQ(ClipLineAxis(&a1, &b1, &a2, &b2, c.low, c.high), c.inside) << c.a1 << " " << c.b1;
        EXPECT_EQ((std::vector{a1, b1, a2, b2}), (std::vector{c.ca1, c.cb1, c.ca2, c.cb2}))
            << c.a1 << " " << c.b1 << " " << c.a2 << " " << c.b2;
    }
}

TEST(Lines, ThicknessIsClampedToOneToSixtyFour) {
    struct Case {
        int32_t given, used;
    };
    for (const Case& c :
         {Case{0, 1}, {-3, 1}, {1, 1}, {8, 8}, {64, 64}, {100, 64}, {INT32_MIN, 1}}) {
        EXPECT_EQ(ClampLineThickness(c.given), c.used) << c.given;
    }
}

TEST(Lines, BoxesAndTurnedEnds) {
    const LineBox box = LineBoxOf(20, 5, 10, 15);
    EXPECT_EQ((std::vector{box.x, box.y, box.width, box.height}),
              (std::vector<int64_t>{10, 5, 11, 11}));
    const LineBox wide = LineBoxOf(INT32_MIN, 0, INT32_MAX, 0);
    EXPECT_EQ(wide.width, int64_t(1) << 32);
    // A quarter turn about the box's top-left corner.
    ShapeTransform quarter;
    quarter.matrix[0] = 0, quarter.matrix[1] = 1, quarter.matrix[2] = -1, quarter.matrix[3] = 0;
    int32_t x1 = 10, y1 = 10, x2 = 110, y2 = 10;
    TurnLineEnds(quarter, &x1, &y1, &x2, &y2);
    EXPECT_EQ((std::vector{x1, y1, x2, y2}), (std::vector{10, 10, 10, 110}));
    // About the middle of the box.
    quarter.anchorX = quarter.anchorY = 0.5;
    x1 = 10, y1 = 10, x2 = 110, y2 = 10;
    TurnLineEnds(quarter, &x1, &y1, &x2, &y2);
    EXPECT_EQ((std::vector{x1, y1, x2, y2}), (std::vector{60, -40, 60, 60}));
}

TEST(ShapeImage, EqualEndsDrawOnePixelOnEveryRoad) {
    for (bool antialias : {false, true}) {
        ShapeImage image;
        ASSERT_EQ(MakeLineImage(10, 10, 10, 10, 1, 0x336699, antialias, &image), 0);
        const int32_t margin = antialias ? 2 : 0;
        EXPECT_EQ(image.x, 10 - margin);
        EXPECT_EQ(image.width, 1 + 2 * margin + (antialias ? 1 : 0));
        const cv::Mat plane =
            PlaneImage(antialias ? image.alpha.get() : image.mask.get(), image.width, image.height);
        EXPECT_EQ(cv::countNonZero(plane), 1) << "antialias " << antialias;
        EXPECT_EQ(plane.at<uint8_t>(margin, margin), 255);
        EXPECT_EQ(ReadBitMapPixel(image.bitmap.get(), margin, margin), AsStored(0x336699));
    }
    // Straight into a brush's bitmap and mask.
    TestImage brush(5, 5, false);
    ASSERT_EQ(RenderShapeImage(brush.Target(), qvLineSegment{2, 3, 2, 3, 1}, {0xFF0000, 0, true}),
              0);
    EXPECT_EQ(cv::countNonZero(brush.Plane()), 1);
    EXPECT_EQ(ReadBitMapPixel(brush.bitmap.get(), 2, 3), AsStored(0xFF0000));
}

TEST(ShapeImage, ImagesGrowForAntialiasingAndThickness) {
    struct Case {
        int32_t thickness;
        bool antialias;
        uint32_t colour;
        int32_t x, y, width, height;
        bool alpha;
    };
    // The line (10, 10) - (20, 15): an 11 x 6 box.
    const Case cases[] = {
        {1, false, 0x00123456, 10, 10, 11, 6, false}, {1, false, 0x80123456, 10, 10, 11, 6, true},
        {1, true, 0x00123456, 8, 8, 16, 11, true},    {0, false, 0, 10, 10, 11, 6, false},
        {6, false, 0, 7, 7, 17, 12, false},           {7, true, 0, 5, 5, 23, 18, true},
        {100, false, 0, -22, -22, 75, 70, false},
    };
    for (const Case& c : cases) {
        ShapeImage image;
        ASSERT_EQ(MakeLineImage(10, 10, 20, 15, c.thickness, c.colour, c.antialias, &image), 0);
        EXPECT_EQ((std::vector{image.x, image.y, image.width, image.height}),
                  (std::vector{c.x, c.y, c.width, c.height}))
            << "thickness " << c.thickness << " antialias " << c.antialias;
        EXPECT_EQ(image.alpha != nullptr, c.alpha);
        EXPECT_EQ(image.mask == nullptr, c.alpha);
    }
}

TEST(ShapeImage, ATransparentLineCarriesItsOpacityInTheAlphaPlane) {
    ShapeImage image;
    ASSERT_EQ(MakeLineImage(0, 0, 6, 0, 1, 0x40FFFFFF, false, &image), 0);
    const cv::Mat alpha = PlaneImage(image.alpha.get(), image.width, image.height);
    EXPECT_EQ(Grid(alpha), "+++++++\n");
    EXPECT_EQ(alpha.at<uint8_t>(0, 3), 255 - 0x40);
    EXPECT_EQ(ReadBitMapPixel(image.bitmap.get(), 3, 0), AsStored(0xFFFFFF)) << "not darkened";
}

TEST(ShapeImage, AntialiasedEdgesKeepTheirColour) {
    // Every pixel the line touches has the line's colour; only the alpha fades, so that the
    // blit shows no dark fringe. In a 16, a 24 and a 32-bit format.
    for (uint32_t format : {QV_FMT_R5G6B5, QV_FMT_R8G8B8, QV_FMT_A8R8G8B8}) {
        platform::testing::ScopedScreenFormat screen(format);
        ShapeImage image;
        ASSERT_EQ(MakeLineImage(3, 2, 40, 17, 1, 0x20F08040, true, &image), 0);
        const cv::Mat alpha = PlaneImage(image.alpha.get(), image.width, image.height);
        int partial = 0;
        for (int32_t y = 0; y < image.height; ++y) {
            for (int32_t x = 0; x < image.width; ++x) {
                const uint8_t a = alpha.at<uint8_t>(y, x);
                if (a == 0) continue;
                partial += a < 200;
                ASSERT_LE(a, 255 - 0x20);
                ASSERT_EQ(ReadBitMapPixel(image.bitmap.get(), x, y), AsStored(format, 0xF08040))
                    << x << ", " << y << " in format " << format;
            }
        }
        EXPECT_GT(partial, 10) << "the edges are soft";
    }
}

TEST(ShapeImage, ATurnedThickLineKeepsItsWidth) {
    // Thickness 8, a quarter turn: the width scale of the matrix is 1, not |a| = 0.
    ShapeTransform quarter;
    quarter.matrix[0] = 0, quarter.matrix[1] = 1, quarter.matrix[2] = -1, quarter.matrix[3] = 0;
    int32_t x1 = 0, y1 = 0, x2 = 100, y2 = 0;
    TurnLineEnds(quarter, &x1, &y1, &x2, &y2);
    const int32_t thickness = ClampLineThickness(ScaleWidth(8, quarter.matrix));
    EXPECT_EQ(thickness, 8);
    ShapeImage turned, upright;
    ASSERT_EQ(MakeLineImage(x1, y1, x2, y2, thickness, 0xFFFFFF, false, &turned), 0);
    ASSERT_EQ(MakeLineImage(0, 0, 100, 0, 8, 0xFFFFFF, false, &upright), 0);
    const cv::Mat across = PlaneImage(turned.mask.get(), turned.width, turned.height).row(50);
    const cv::Mat along = PlaneImage(upright.mask.get(), upright.width, upright.height).col(50);
    EXPECT_GE(cv::countNonZero(across), 8);
    EXPECT_EQ(cv::countNonZero(across), cv::countNonZero(along));
}

TEST(ShapeImage, ALineBeyondTheLargestBitmapFailsAndKeepsNothing) {
    ShapeImage image;
    EXPECT_EQ(MakeLineImage(-2000000000, 0, 2000000000, 5, 1, 0, true, &image), ERR_MEM);
    EXPECT_EQ(image.bitmap, nullptr);
    EXPECT_EQ(MakeLineImage(0, 0, kMaxBitMapSide - 1, 0, 1, 0, false, &image), 0);
    EXPECT_EQ(MakeLineImage(0, 0, kMaxBitMapSide - 1, 0, 1, 0, true, &image), ERR_MEM)
        << "5 more for the anti-aliased edge";
    for (uint64_t n = 1; n <= 2; ++n) {
        AllocationFault fault(n, false);
        EXPECT_EQ(MakeLineImage(0, 0, 30, 20, 1, 0, false, &image), ERR_MEM) << n;
    }
    AllocationFault thick(3, false);
    EXPECT_EQ(MakeLineImage(0, 0, 30, 20, 5, 0, false, &image), ERR_MEM) << "the coverage";
}

TEST(BrushRoad, ALineIntoABitmapSetsItsMask) {
    TestImage brush(10, 5, false);
    const qvShapeTarget target = brush.Target();
    ASSERT_EQ(RenderShapeImage(target, qvLineSegment{1, 1, 8, 3, 1}, {0x00FF00, 0, false}), 0);
    EXPECT_EQ(Grid(brush.Plane()),
              "..........\n"
              ".##.......\n"
              "...####...\n"
              ".......##.\n"
              "..........\n");
    EXPECT_EQ(ReadBitMapPixel(brush.bitmap.get(), 5, 2), AsStored(0x00FF00));
    // A line far outside is cut to the brush.
    ASSERT_EQ(RenderShapeImage(target, qvLineSegment{-100000, 4, 100000, 4, 1}, {0, 0, true}), 0);
    EXPECT_EQ(cv::countNonZero(brush.Plane().row(4)), 10);
}

TEST(BrushRoad, AMaskAloneTakesTheMaskMode) {
    TestImage brush(8, 3, false);
    FillMaskRect(brush.mask.get(), 0, 0, 8, 3, 2);
    qvShapeTarget target = brush.Target();
    target.bitmap = nullptr;
    target.maskMode = gfx::kMaskInvisible;
    ASSERT_EQ(RenderShapeImage(target, qvLineSegment{0, 1, 7, 1, 1}, {0, 0, false}), 0);
    EXPECT_EQ(Grid(brush.Plane()), "########\n........\n########\n");
}

TEST(BrushRoad, AnAlphaPlaneAloneTakesTheAlphaValue) {
    TestImage brush(8, 3, true);
    FillPlane8Rect(brush.alpha.get(), 0, 0, 8, 3, 200);
    qvShapeTarget target = brush.Target();
    target.bitmap = nullptr;
    target.alphaValue = 77;
    ASSERT_EQ(RenderShapeImage(target, qvLineSegment{0, 1, 7, 1, 1}, {0, 0, false}), 0);
    EXPECT_EQ(brush.Plane().at<uint8_t>(1, 4), 77) << "drawn as it is";
    EXPECT_EQ(brush.Plane().at<uint8_t>(0, 4), 200);
    // Anti-aliased at full value: the coverage, never below what is there.
    FillPlane8Rect(brush.alpha.get(), 0, 0, 8, 3, 100);
    target.alphaValue = 255;
    ASSERT_EQ(RenderShapeImage(target, qvLineSegment{0, 0, 7, 2, 1}, {0, 0, true}), 0);
    double lowest = 0;
    cv::minMaxLoc(brush.Plane(), &lowest);
    EXPECT_EQ(lowest, 100);
    EXPECT_EQ(brush.Plane().at<uint8_t>(0, 0), 255) << "the first end is fully covered";
    EXPECT_GT(cv::countNonZero(brush.Plane() != 100), 8);
}

TEST(BrushRoad, ColourGoesStraightWhereTheBrushIsTransparent) {
    TestImage brush(6, 2, true);
    RectFill(brush.bitmap.get(), 0, 0, 6, 2, 0x000000);
    FillPlane8Rect(brush.alpha.get(), 0, 1, 6, 1, 255);
    ASSERT_EQ(
        RenderShapeImage(brush.Target(), qvLineSegment{0, 0, 5, 0, 1}, {0xFFFFFF, 128, false}), 0);
    ASSERT_EQ(
        RenderShapeImage(brush.Target(), qvLineSegment{0, 1, 5, 1, 1}, {0xFFFFFF, 128, false}), 0);
    EXPECT_EQ(ReadBitMapPixel(brush.bitmap.get(), 2, 0), AsStored(0xFFFFFF));
    EXPECT_EQ(brush.Plane().at<uint8_t>(0, 2), 127);
    EXPECT_EQ(ReadBitMapPixel(brush.bitmap.get(), 2, 1), AsStored(0x7E7E7E)) << "blended";
    EXPECT_EQ(brush.Plane().at<uint8_t>(1, 2), 255);
}

}  // namespace
}  // namespace qv::test
