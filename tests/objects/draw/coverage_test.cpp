// Painting coverage: small goldens of filled and outlined shapes, transparency and layering
// in an image's planes, fill sources, cutting to the target, and failures.
#include "objects/draw/coverage.h"

#include <gtest/gtest.h>

#include "objects/draw/coverage_paint.h"

#include <functional>
#include <limits>
#include <opencv2/core.hpp>
#include <random>
#include <vector>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_geometry.h"
#include "tests/objects/draw/draw_test_support.h"

namespace qv::test {
namespace {

using namespace qv::draw;

const std::vector<qvVertex> kSquare = {{0, 0}, {4, 0}, {4, 3}, {0, 3}, {0, 0}};
const std::vector<qvVertex> kDiamond = {{4, 2}, {2, 0}, {0, 2}, {2, 4}, {4, 2}};

qvShapeOutline Outline(const std::vector<qvVertex>& points, int32_t x, int32_t y, bool filled,
                       int32_t lineWidth = 1) {
    return {points.data(), int32_t(points.size()), x, y, 5, 5, filled, lineWidth};
}

TEST(Coverage, FilledAndOutlinedShapesAsGrids) {
    struct Case {
        std::vector<qvVertex> points;
        bool filled;
        std::vector<std::string> grid;
    };
    const Case cases[] = {
        {kSquare, true, {".......", ".#####.", ".#####.", ".#####.", ".#####.", "......."}},
        {kSquare, false, {".......", ".#####.", ".#...#.", ".#...#.", ".#####.", "......."}},
        {kDiamond, true, {".......", "...#...", "..###..", ".#####.", "..###..", "...#..."}},
    };
    for (const Case& c : cases) {
        TestImage image(7, 6, false);
        ASSERT_EQ(RenderShapeImage(image.Target(), Outline(c.points, 1, 1, c.filled),
                                   {0x123456, 0, false}),
                  0);
        EXPECT_TRUE(SameImage(GridImage(c.grid), image.Plane()));
        for (int y = 0; y < 6; ++y) {
            for (int x = 0; x < 7; ++x) {
                if (c.grid[y][x] != '#') continue;
                EXPECT_EQ(ReadBitMapPixel(image.bitmap.get(), x, y), AsStored(0x123456));
            }
        }
    }
}

TEST(Coverage, ATransparentShapeKeepsItsColourAndCarriesItsOpacity) {
    TestImage image(7, 6, true);
    ASSERT_EQ(
        RenderShapeImage(image.Target(), Outline(kSquare, 1, 1, true), {0xFF8000, 100, false}), 0);
    EXPECT_EQ(image.Plane().at<uint8_t>(2, 2), 155);
    EXPECT_EQ(image.Plane().at<uint8_t>(0, 0), 0);
    EXPECT_EQ(ReadBitMapPixel(image.bitmap.get(), 2, 2), AsStored(0xFF8000)) << "not darkened";
}

TEST(Coverage, ATransparentFillOverAnOpaqueRingBlendsIntoIt) {
    // Non-anti-aliased layers in one image: a ring of 2 around a 5 x 4 fill.
    ShapeWork shapes;
    qvDrawState state{};
    ResetDrawState(&state);
    state.fillStyle = FILLCOLOR;
    state.formStyle = EDGE;
    state.borderSize = 2, state.borderColour = 0x0000FF;
    qvShapeDesc desc{};
    desc.drawState = &state;
    desc.type = BOX, desc.width = 5, desc.height = 4;
    ASSERT_EQ(PrepareShapeGeometry(shapes.work, &desc, ShapeTransform{}), 0);
    desc.colour = 0x80FF0000;
    TestImage image(desc.imageWidth, desc.imageHeight, true);
    ASSERT_EQ(CompositeShapeCoverage(image.Target(), desc, 0, 0), 0);
    EXPECT_EQ(image.Plane().at<uint8_t>(0, 0), 255) << "the ring";
    EXPECT_EQ(image.Plane().at<uint8_t>(3, 3), 255) << "the fill over the ring";
    EXPECT_EQ(ReadBitMapPixel(image.bitmap.get(), 0, 0), AsStored(0x0000FF));
    const uint32_t inside = ReadBitMapPixel(image.bitmap.get(), 3, 3);
    EXPECT_NEAR(double(inside >> 16), 127, 2) << std::hex << inside;
    EXPECT_NEAR(double(inside & 255), 128, 2);
}

TEST(Coverage, AFillSourceGivesEachPixelItsColour) {
    TestImage image(7, 6, false);
    BitMapPtr fill = CoordinateBitMap(7, 6);
    qvShapeTarget target = image.Target();
    target.fill = fill.get();
    ASSERT_EQ(RenderShapeImage(target, Outline(kDiamond, 1, 1, true), {0, 0, false}), 0);
    for (auto [x, y] : {std::pair{3, 1}, {1, 3}, {5, 3}, {3, 5}, {3, 3}}) {
        EXPECT_EQ(ReadBitMapPixel(image.bitmap.get(), x, y), ReadBitMapPixel(fill.get(), x, y));
    }
    BitMapPtr other(AllocBitMapInFormat(
        7, 6, ScreenFormat() == QV_FMT_R8G8B8 ? QV_FMT_A8R8G8B8 : QV_FMT_R8G8B8, false));
    target.fill = other.get();
    EXPECT_EQ(RenderShapeImage(target, Outline(kDiamond, 1, 1, true), {0, 0, false}),
              ERR_WRONGUSAGE);
}

TEST(Coverage, ShapesAreCutToTheTarget) {
    TestImage image(7, 6, false);
    ASSERT_EQ(RenderShapeImage(image.Target(), Outline(kSquare, -2, 4, true), {0, 0, false}), 0);
    EXPECT_EQ(Grid(image.Plane()), ".......\n.......\n.......\n.......\n###....\n###....\n");
    for (int32_t far :
         {std::numeric_limits<int32_t>::max() - 3, std::numeric_limits<int32_t>::min()}) {
        ASSERT_EQ(RenderShapeImage(image.Target(), Outline(kSquare, far, far, true), {0, 0, true}),
                  0);
        ASSERT_EQ(RenderShapeImage(image.Target(), qvLineSegment{far, 0, 3, far, 9}, {0, 0, true}),
                  0);
    }
    // The usable size is smaller than the planes.
    TestImage wide(7, 6, false);
    qvShapeTarget target = wide.Target();
    target.width = 3;
    ASSERT_EQ(RenderShapeImage(target, Outline(kSquare, 0, 0, true), {0, 0, false}), 0);
    EXPECT_EQ(cv::countNonZero(wide.Plane()), 12);
}

// Renders into a fresh image (marked fresh or not) and again into one whose alpha plane has a
// stray byte where the first shows nothing, which sends it through a coverage plane of its
// own and the general painter: both must show the same planes and colours. directRoad: the
// first takes the direct road, which allocates nothing.
void ExpectSameAsTheGeneralRoad(const std::function<int(const qvShapeTarget&)>& render,
                                int32_t width, int32_t height, bool withMask, bool fresh,
                                bool directRoad = false) {
    TestImage direct(width, height, true), general(width, height, true);
    PlanePtr directMask(withMask ? AllocMaskBitMap(direct.bitmap.get(), width, height, 1)
                                 : nullptr);
    PlanePtr generalMask(withMask ? AllocMaskBitMap(general.bitmap.get(), width, height, 1)
                                  : nullptr);
    qvShapeTarget directTarget = direct.Target(), generalTarget = general.Target();
    directTarget.mask = directMask.get(), generalTarget.mask = generalMask.get();
    directTarget.fresh = fresh;
    {
        AllocationFault first(directRoad ? 1 : 0, false);
        ASSERT_EQ(render(directTarget), 0);
    }
    const cv::Mat plane = direct.Plane();
    cv::Point stray;
    cv::minMaxLoc(plane, nullptr, nullptr, &stray, nullptr);
    ASSERT_EQ(plane.at<uint8_t>(stray), 0);
    general.alpha->plane[stray.y * general.alpha->bytesPerRow + stray.x] = 1;
    ASSERT_EQ(render(generalTarget), 0);
    cv::Mat generalPlane = general.Plane();
    generalPlane.at<uint8_t>(stray) = 0;
    EXPECT_TRUE(SameImage(generalPlane, plane));
    if (withMask) {
        EXPECT_TRUE(SameImage(PlaneImage(generalMask.get(), width, height),
                              PlaneImage(directMask.get(), width, height)));
    }
    int differing = 0;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            if (plane.at<uint8_t>(y, x) == 0) continue;
            differing += ReadBitMapPixel(direct.bitmap.get(), x, y) !=
                         ReadBitMapPixel(general.bitmap.get(), x, y);
        }
    }
    EXPECT_EQ(differing, 0);
}

// An opaque shape or thick line in a fresh image goes straight into its alpha plane; with
// one stray alpha byte where the shape does not reach, the same shape takes the road through a
// coverage plane of its own. Both show the same pixels over any background.
TEST(Coverage, AFreshAlphaPlaneTakesTheCoverageWithTheSamePixels) {
    const std::vector<qvVertex> octagon = {{10, 0},  {30, 0}, {40, 10}, {40, 30}, {30, 40},
                                           {10, 40}, {0, 30}, {0, 10},  {10, 0}};
    struct Case {
        const char* name;
        bool line;
        qvLineSegment segment;
        bool filled;
        int32_t lineWidth;
        bool antialias, mask;
    };
    const Case cases[] = {
        {"thick AA line", true, {6, 5, 50, 41, 8}, false, 1, true, false},
        {"steep AA line", true, {30, 44, 26, 3, 5}, false, 1, true, false},
        {"thick hard line", true, {4, 40, 55, 12, 2}, false, 1, false, false},
        {"widest line", true, {20, 20, 21, 22, 64}, false, 1, true, false},
        {"AA line with a mask too", true, {6, 5, 50, 41, 8}, false, 1, true, true},
        {"filled AA polygon", false, {}, true, 1, true, false},
        {"filled hard polygon with a mask", false, {}, true, 1, false, true},
        {"AA outline", false, {}, false, 3, true, false},
    };
    constexpr int32_t kW = 60, kH = 50;
    const qvShapeOutline outline{octagon.data(), int32_t(octagon.size()), 8, 4, 40, 40, true, 1};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qvShapeOutline shape = outline;
        shape.filled = c.filled, shape.lineWidth = c.lineWidth;
        const qvShapePaint paint{0x3080C0, 0, c.antialias};
        auto render = [&](const qvShapeTarget& target) {
            return c.line ? RenderShapeImage(target, c.segment, paint)
                          : RenderShapeImage(target, shape, paint);
        };
        ExpectSameAsTheGeneralRoad(render, kW, kH, c.mask, false, true);
    }
}

// A target its caller marks fresh is not read to prove it: thick lines of every slope, width
// and direction (whose rows are searched only near the line), shapes, masks and
// transparency show what the general road shows.
TEST(Coverage, AFreshTargetShowsWhatTheGeneralRoadShows) {
    constexpr int32_t kW = 90, kH = 70;
    std::mt19937 random(7);
    std::uniform_int_distribution<int32_t> x(-20, kW + 20), y(-20, kH + 20), width(2, 64);
    std::vector<qvLineSegment> lines = {
        {5, 30, 84, 30, 8},   {84, 31, 5, 31, 3},     {40, 2, 40, 66, 9},     {41, 66, 41, 2, 64},
        {3, 3, 86, 66, 8},    {86, 3, 3, 66, 5},      {10, 60, 80, 57, 12},   {45, 5, 47, 65, 2},
        {45, 35, 45, 35, 20}, {-500, 40, 900, 20, 8}, {30, -400, 50, 900, 6},
    };
    for (int i = 0; i < 60; ++i)
        lines.push_back({x(random), y(random), x(random), y(random), width(random)});
    const std::vector<qvVertex> star = {{20, 0}, {26, 16}, {40, 16}, {29, 26}, {33, 40}, {20, 31},
                                        {7, 40}, {11, 26}, {0, 16},  {14, 16}, {20, 0}};
    for (const bool antialias : {true, false}) {
        for (const int32_t transparency : {0, 100}) {
            for (const bool mask : {false, true}) {
                const qvShapePaint paint{0x3080C0, transparency, antialias};
                for (const qvLineSegment& line : lines) {
                    SCOPED_TRACE(::testing::Message()
                                 << line.x1 << "," << line.y1 << " to " << line.x2 << "," << line.y2
                                 << " width " << line.thickness << " AA " << antialias << " t "
                                 << transparency << " mask " << mask);
                    ExpectSameAsTheGeneralRoad(
                        [&](const qvShapeTarget& t) { return RenderShapeImage(t, line, paint); },
                        kW, kH, mask, true);
                }
                for (const bool filled : {true, false}) {
                    SCOPED_TRACE(::testing::Message() << "star filled " << filled << " AA "
                                                      << antialias << " t " << transparency);
                    const qvShapeOutline shape{
                        star.data(), int32_t(star.size()), 20, 10, 40, 40, filled, 4};
                    ExpectSameAsTheGeneralRoad(
                        [&](const qvShapeTarget& t) { return RenderShapeImage(t, shape, paint); },
                        kW, kH, mask, true);
                }
            }
        }
    }
}

// A fresh image's colour goes over each row's covered span, found from both ends of the
// coverage row a word at a time: polygons whose rows start and end at every byte of a word
// leave no covered pixel without the colour.
TEST(Coverage, EveryCoveredPixelOfAFreshImageHoldsTheColour) {
    constexpr int32_t kW = 48, kH = 20;
    for (int32_t left = 0; left < 9; ++left) {
        for (int32_t right = left + 1; right < kW - 4; right += 3) {
            for (const bool antialias : {true, false}) {
                SCOPED_TRACE(::testing::Message()
                             << "from " << left << " to " << right << " AA " << antialias);
                // A slanted quadrilateral: each row's span starts and ends elsewhere.
                const std::vector<qvVertex> quad = {
                    {left, 0}, {right, 2}, {right + 3, 14}, {left + 2, 12}, {left, 0}};
                TestImage image(kW, kH, true);
                qvShapeTarget target = image.Target();
                target.fresh = true;
                const qvShapeOutline shape{
                    quad.data(), int32_t(quad.size()), 0, 2, right + 3, 14, true, 1};
                ASSERT_EQ(RenderShapeImage(target, shape, {0x3080C0, 0, antialias}), 0);
                const cv::Mat plane = image.Plane();
                ASSERT_GT(cv::countNonZero(plane), 0);
                for (int32_t y = 0; y < kH; ++y) {
                    for (int32_t x = 0; x < kW; ++x) {
                        if (plane.at<uint8_t>(y, x) == 0) continue;
                        ASSERT_EQ(ReadBitMapPixel(image.bitmap.get(), x, y), AsStored(0x3080C0))
                            << x << "," << y;
                    }
                }
            }
        }
    }
}

TEST(Coverage, FailuresFreeWhatWasMade) {
    ShapeWork shapes;
    qvDrawState state{};
    ResetDrawState(&state);
    state.fillStyle = FILLCOLOR;
    state.formStyle = EDGE | SHADOW | ANTIALIAS;
    qvShapeDesc desc{};
    desc.drawState = &state;
    desc.type = CIRCLE, desc.width = desc.height = 31;
    ASSERT_EQ(PrepareShapeGeometry(shapes.work, &desc, ShapeTransform{}), 0);
    desc.colour = 0x40FFFFFF;
    TestImage image(desc.imageWidth + 5, desc.imageHeight + 5, true);
    int failures = 0;
    for (uint64_t n = 1; n < 40; ++n) {
        AllocationFault fault(n, false);
        const int code = CompositeShapeCoverage(image.Target(), desc, 2, 2);
        if (code == 0) break;
        EXPECT_EQ(code, ERR_MEM) << n;
        ++failures;
    }
    EXPECT_GE(failures, 3) << "two coverage images and a strength plane at least";
    EXPECT_EQ(CoverageError(cv::Error::StsNoMem), ERR_MEM);
    EXPECT_EQ(CoverageError(cv::Error::StsOutOfRange), ERR_WRONGUSAGE);
    std::vector<qvVertex> many(kOutlineCapacity + 1, qvVertex{1, 1});
    EXPECT_EQ(RenderShapeImage(image.Target(), Outline(many, 0, 0, true), {0, 0, false}),
              ERR_WRONGUSAGE);
}

// Rows of the image's alpha plane take the same alpha and strength as pixel by pixel, over
// clear, opaque and mixed stretches, opaque or transparent, with and without anti-aliasing.
TEST(Coverage, AlphaRowsPaintAsPixelByPixel) {
    constexpr int32_t kWidth = 203;  // not a multiple of 16
    std::mt19937 random(7);
    // Runs of one value (0, 255 or random) of random lengths.
    auto runs = [&](std::vector<uint8_t>& row) {
        for (size_t i = 0; i < row.size();) {
            const size_t n = std::min(row.size() - i, size_t(random() % 40 + 1));
            const uint32_t kind = random() % 3;
            for (size_t k = 0; k < n; ++k) {
                row[i + k] = kind == 0 ? 0 : kind == 1 ? 255 : uint8_t(random());
            }
            i += n;
        }
    };
    for (int32_t transparency : {0, 100}) {
        for (bool antialias : {true, false}) {
            TestImage image(kWidth, 1, true);
            const qvShapeTarget target = image.Target();
            std::vector<uint8_t> coverage(kWidth), under(kWidth);
            runs(coverage), runs(under);
            if (!antialias) {
                for (uint8_t& c : coverage) c = c != 0 ? 255 : 0;
            }
            PlanePainter painter(target, {0xFFFFFF, transparency, antialias});
            std::copy(under.begin(), under.end(), image.alpha->plane);
            std::vector<uint8_t> expected(kWidth);
            for (int32_t x = 0; x < kWidth; ++x) {
                if (coverage[size_t(x)] != 0)
                    expected[size_t(x)] = painter.Paint(x, 0, coverage[size_t(x)]);
            }
            const std::vector<uint8_t> expectedAlpha(image.alpha->plane,
                                                     image.alpha->plane + kWidth);
            std::copy(under.begin(), under.end(), image.alpha->plane);
            std::vector<uint8_t> strength(kWidth);
            painter.PaintOverAlpha(coverage.data(), image.alpha->plane, strength.data(), kWidth);
            EXPECT_EQ(strength, expected) << transparency << " " << antialias;
            EXPECT_EQ(std::vector<uint8_t>(image.alpha->plane, image.alpha->plane + kWidth),
                      expectedAlpha)
                << transparency << " " << antialias;
        }
    }
}

}  // namespace
}  // namespace qv::test
