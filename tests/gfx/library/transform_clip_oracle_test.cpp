// A rotated box region becomes a mask of the rotated quadrilateral: compared with OpenCV's
// fillConvexPoly over the same corners, equal everywhere but within one pixel of the edges.
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <memory>
#include <vector>

#include "gfx/library/clip_regions.h"
#include "platform/linux/memory.h"
#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

using TransformedRegions = GraphicsLib;

struct RegionFree {
    qvVmState* L;
    void operator()(qvClipRegion* region) const {
        ReleaseItemResources(L, region);
        FreeMemBlock(region);
    }
};

// Corners far beyond any picture are held at the 32-bit ends, not wrapped.
TEST_F(TransformedRegions, CornersOfAHugeScaledBoxSaturate) {
    const double grow[4] = {1.5, 0, 0, 1.5};
    std::vector<qvVertex> corners = {
        {0, 0}, {INT32_MAX, 0}, {INT32_MAX, INT32_MAX}, {0, INT32_MAX}};
    scene.Neighbours::TransformPoints(grow, INT32_MAX, INT32_MAX, corners, 0.5, 0.5);
    EXPECT_EQ(corners[0].x, -536870911);
    EXPECT_EQ(corners[1].x, INT32_MAX);
    EXPECT_EQ(corners[2].x, INT32_MAX);
    EXPECT_EQ(corners[2].y, INT32_MAX);
    EXPECT_EQ(corners[3].y, INT32_MAX);
}

// A box turned far beyond the largest mask makes no region rather than a wrapped one.
TEST_F(TransformedRegions, ABoxTurnedBeyondAnyMaskIsOutOfMemory) {
    const double a = M_PI / 4;
    const double matrix[4] = {3 * std::cos(a), 3 * std::sin(a), -3 * std::sin(a), 3 * std::cos(a)};
    qvClipRegion box{};
    box.width = box.height = 1 << 30;
    EXPECT_EQ(TransformClipRegion(L, &box, matrix, 0.5, 0.5), nullptr);
}

TEST_F(TransformedRegions, ARotatedBoxMatchesTheFilledPolygon) {
    for (double degrees : {30.0, 45.0, 100.0, 200.0}) {
        const double a = degrees * M_PI / 180;
        const double matrix[4] = {std::cos(a), std::sin(a), -std::sin(a), std::cos(a)};
        qvClipRegion box{};
        box.x = 300;
        box.y = 200;
        box.width = 100;
        box.height = 60;
        std::unique_ptr<qvClipRegion, RegionFree> copy(
            TransformClipRegion(L, &box, matrix, 0.5, 0.5), RegionFree{L});
        ASSERT_NE(copy, nullptr);
        ASSERT_NE(copy->mask, nullptr);

        std::vector<qvVertex> corners = {{0, 0}, {100, 0}, {100, 60}, {0, 60}};
        scene.Neighbours::TransformPoints(matrix, 100, 60, corners, 0.5, 0.5);
        int32_t left = corners[0].x, top = corners[0].y;
        for (const qvVertex& p : corners) {
            left = std::min(left, p.x);
            top = std::min(top, p.y);
        }
        EXPECT_EQ(copy->x, 300 + left);
        EXPECT_EQ(copy->y, 200 + top);
        std::vector<cv::Point> polygon;
        for (const qvVertex& p : corners) polygon.emplace_back(p.x - left, p.y - top);
        cv::Mat expected = cv::Mat::zeros(copy->height, copy->width, CV_8U);
        cv::fillConvexPoly(expected, polygon, cv::Scalar(1));
        std::vector<cv::Point2f> contour(polygon.begin(), polygon.end());

        int compared = 0;
        for (int32_t y = 0; y < copy->height; ++y) {
            for (int32_t x = 0; x < copy->width; ++x) {
                if (std::abs(cv::pointPolygonTest(contour, cv::Point2f(x, y), true)) <= 1) continue;
                ++compared;
                ASSERT_EQ(ReadBitMapPixel(copy->mask, x, y), expected.at<uint8_t>(y, x))
                    << degrees << " degrees at " << x << "," << y;
            }
        }
        EXPECT_GT(compared, copy->width * copy->height / 2);
    }
}

TEST_F(TransformedRegions, PartsBeforeThePictureAreCutAway) {
    const double turn[4] = {0, 1, -1, 0};  // a quarter turn about the centre
    qvClipRegion box{};
    box.width = 100;
    box.height = 40;
    std::unique_ptr<qvClipRegion, RegionFree> copy(TransformClipRegion(L, &box, turn, 0.5, 0.5),
                                                   RegionFree{L});
    ASSERT_NE(copy, nullptr);
    // The turned box spans x 30..70 and y -30..70.
    EXPECT_EQ(copy->x, 30);
    EXPECT_EQ(copy->y, 0);
    EXPECT_EQ(copy->width, 40);
    EXPECT_EQ(copy->height, 70) << "the 30 rows above the picture are cut away";
    EXPECT_EQ(ReadBitMapPixel(copy->mask, 20, 0), 1u);
}

TEST_F(TransformedRegions, ABoxAtTheRightLimitStaysThere) {
    const double turn[4] = {0, 1, -1, 0};  // about the lower right corner: x 100..140, y -60..40
    qvClipRegion box{};
    box.x = INT32_MAX - 10;
    box.y = INT32_MAX - 10;
    box.width = 100;
    box.height = 40;
    std::unique_ptr<qvClipRegion, RegionFree> copy(TransformClipRegion(L, &box, turn, 1, 1),
                                                   RegionFree{L});
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->x, INT32_MAX);
    EXPECT_EQ(copy->y, INT32_MAX - 70);
    EXPECT_EQ(copy->width, 40);
}

}  // namespace
}  // namespace qv::testing
