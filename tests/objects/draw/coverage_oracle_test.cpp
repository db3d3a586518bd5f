// Coverage against outside references: exactly OpenCV's polygon filling, polylines and lines
// for the same points (which pins the layout of the coverage images), and cairo for the
// ideal shapes (without anti-aliasing), for the same polygons (anti-aliased) and for shapes
// with border and shadow composited over a transparent surface.
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <vector>

#include "objects/draw/coverage.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/lines.h"
#include "objects/draw/shape_geometry.h"
#include "tests/objects/draw/cairo_support.h"
#include "tests/objects/draw/draw_test_support.h"

namespace qv::test {
namespace {

using namespace qv::draw;

// A path through integer points of ours: OpenCV's pixel centres are cairo's (x + 0.5).
void PolygonPath(cairo_t* cr, const qvVertex* points, int32_t count, double dx, double dy) {
    cairo_new_path(cr);
    for (int32_t i = 0; i < count; ++i) {
        cairo_line_to(cr, points[i].x + dx + 0.5, points[i].y + dy + 0.5);
    }
    cairo_close_path(cr);
}

// ---- distances to boundaries ---------------------------------------------------------------

double SegmentDistance(double px, double py, const qvVertex& a, const qvVertex& b) {
    const double dx = b.x - a.x, dy = b.y - a.y, length = dx * dx + dy * dy;
    const double t =
        length > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / length, 0.0, 1.0) : 0.0;
    return std::hypot(px - a.x - t * dx, py - a.y - t * dy);
}

// Distance from pixel (x, y) of the image to the polygon's edges (points in pixel centres).
double PolygonDistance(int x, int y, const qvVertex* points, int32_t count, int dx, int dy) {
    double best = 1e9;
    for (int32_t i = 0; i + 1 < count; ++i) {
        const qvVertex a{points[i].x + dx, points[i].y + dy};
        const qvVertex b{points[i + 1].x + dx, points[i + 1].y + dy};
        best = std::min(best, SegmentDistance(x, y, a, b));
    }
    return best;
}

double Perimeter(const qvVertex* points, int32_t count) {
    double sum = 0;
    for (int32_t i = 0; i + 1 < count; ++i) {
        sum += std::hypot(points[i + 1].x - points[i].x, points[i + 1].y - points[i].y);
    }
    return sum;
}

// ---- shapes through the geometry ------------------------------------------------------------

class Oracle : public ::testing::Test {
protected:
    Oracle() {
        ResetDrawState(&state);
        state.fillStyle = FILLCOLOR;
        desc.drawState = &state;
    }
    void Shape(int32_t type, int32_t width, int32_t height) {
        desc = qvShapeDesc{};
        desc.drawState = &state;
        desc.type = type, desc.width = width, desc.height = height;
    }
    void Corners(int32_t level) {
        std::fill(std::begin(desc.cornerLevels), std::end(desc.cornerLevels), level);
    }
    void Turn(double degrees) {
        const double radians = degrees * M_PI / 180;
        transform.matrix[0] = std::cos(radians), transform.matrix[1] = std::sin(radians);
        transform.matrix[2] = -std::sin(radians), transform.matrix[3] = std::cos(radians);
    }
    void Prepare() { ASSERT_EQ(PrepareShapeGeometry(shapes.work, &desc, transform), 0); }
    // The fill painted into a fresh image of the shape's image size (plus the margin).
    TestImage Paint(bool antialias, bool filled = true, int32_t lineWidth = 1, int32_t margin = 0) {
        TestImage image(desc.imageWidth + 2 * margin + (margin > 0),
                        desc.imageHeight + 2 * margin + (margin > 0), antialias);
        const qvShapeOutline outline{desc.fillPoints,
                                     desc.fillCount,
                                     desc.fillX + margin,
                                     desc.fillY + margin,
                                     desc.fillWidth,
                                     desc.fillHeight,
                                     filled,
                                     lineWidth};
        EXPECT_EQ(RenderShapeImage(image.Target(), outline, {0xFFFFFF, 0, antialias}), 0);
        return image;
    }
    std::vector<cv::Point> CvPoints(int dx, int dy) const {
        std::vector<cv::Point> points;
        for (int32_t i = 0; i < desc.fillCount; ++i) {
            points.emplace_back(desc.fillPoints[i].x + dx, desc.fillPoints[i].y + dy);
        }
        return points;
    }

    ShapeWork shapes;
    qvDrawState state{};
    qvShapeDesc desc{};
    ShapeTransform transform;
};

TEST_F(Oracle, CoverageIsOpenCvsForTheSamePoints) {
    struct Case {
        int32_t type, width, height, level;
        double turn;
        bool filled, antialias;
        int32_t lineWidth;
    };
    const Case cases[] = {
        {CIRCLE, 75, 75, 0, 0, true, false, 1},    {CIRCLE, 75, 75, 0, 0, true, true, 1},
        {ELLIPSE, 101, 41, 0, 30, true, false, 1}, {ELLIPSE, 101, 41, 0, 30, true, true, 1},
        {BOX, 60, 40, 40, 0, true, false, 1},      {BOX, 60, 40, 0, 20, true, true, 1},
        {CIRCLE, 31, 31, 0, 0, false, false, 1},   {ELLIPSE, 61, 31, 0, 0, false, false, 5},
        {BOX, 50, 30, 30, 10, false, true, 4},
    };
    for (const Case& c : cases) {
        Shape(c.type, c.width, c.height);
        Corners(c.level);
        Turn(c.turn);
        transform.anchorX = transform.anchorY = 0.5;
        Prepare();
        const int32_t margin = c.antialias || !c.filled ? 2 + c.lineWidth : 0;
        TestImage image = Paint(c.antialias, c.filled, c.lineWidth, margin);
        cv::Mat expected(image.height, image.width, CV_8UC1, cv::Scalar(0));
        const std::vector<cv::Point> points = CvPoints(desc.fillX + margin, desc.fillY + margin);
        const int lineType = c.antialias ? cv::LINE_AA : cv::LINE_8;
        if (c.filled) {
            cv::fillPoly(expected, std::vector{points}, cv::Scalar(255), lineType);
        } else {
            cv::polylines(expected, std::vector{points}, true, cv::Scalar(255), c.lineWidth,
                          lineType);
        }
        EXPECT_TRUE(SameImage(expected, image.Plane()))
            << "type " << c.type << " turned " << c.turn << " antialias " << c.antialias;
    }
}

// OpenCV's filling of the points (their (0, 0) at (x, y)) beside what the coverage gives for
// them in an image of width x height: long level and upright sides are filled through the
// columns and rows they leave alike, which must come out as the whole polygon filled at once.
::testing::AssertionResult FillsAsOpenCv(const std::vector<qvVertex>& points, int32_t width,
                                         int32_t height, int32_t x, int32_t y, bool antialias) {
    int32_t right = 0, bottom = 0;
    std::vector<cv::Point> shifted;
    for (const qvVertex& p : points) {
        right = std::max(right, p.x), bottom = std::max(bottom, p.y);
        shifted.emplace_back(p.x + x, p.y + y);
    }
    cv::Mat expected(height, width, CV_8UC1, cv::Scalar(0));
    cv::fillPoly(expected, std::vector{shifted}, cv::Scalar(255),
                 antialias ? cv::LINE_AA : cv::LINE_8);
    const qvShapeOutline outline{
        points.data(), int32_t(points.size()), x, y, right, bottom, true, 1};
    OwnedPlane strength;
    int32_t sx = 0, sy = 0;
    if (OneColourStrength(width, height, outline, {0xFFFFFF, 0, antialias}, &strength, &sx, &sy) !=
        0) {
        return ::testing::AssertionFailure() << "not filled";
    }
    cv::Mat actual(height, width, CV_8UC1, cv::Scalar(0));
    if (strength != nullptr) {
        PlaneImage(strength.get(), strength->width, strength->height)
            .copyTo(actual(cv::Rect(sx, sy, strength->width, strength->height)));
    }
    return SameImage(expected, actual);
}

TEST_F(Oracle, LongStraightSidesFillAsOpenCvFillsThem) {
    // Boxes through the geometry, square-cornered to round, upright or turned off level.
    struct Box {
        int32_t width, height, level;
        double turn;
    };
    for (const Box& b :
         {Box{300, 120, 0, 0}, Box{300, 120, 10, 0}, Box{400, 300, 50, 0}, Box{120, 260, 100, 0},
          Box{41, 33, 20, 0}, Box{300, 120, 30, 90}, Box{300, 120, 30, 0.5}}) {
        Shape(BOX, b.width, b.height);
        Corners(b.level);
        Turn(b.turn);
        Prepare();
        const std::vector<qvVertex> points(desc.fillPoints, desc.fillPoints + desc.fillCount);
        for (bool antialias : {false, true}) {
            EXPECT_TRUE(FillsAsOpenCv(points, desc.imageWidth + 5, desc.imageHeight + 5,
                                      desc.fillX + 2, desc.fillY + 2, antialias))
                << b.width << " x " << b.height << " level " << b.level << " turned " << b.turn
                << " antialias " << antialias;
        }
    }
    // Polygons of other shapes, placed inside the image or cut by any of its sides.
    struct Polygon {
        const char* name;
        std::vector<qvVertex> points;
        int32_t width, height, x, y;
    };
    const std::vector<qvVertex> rectangle{{0, 0}, {200, 0}, {200, 120}, {0, 120}};
    const Polygon polygons[] = {
        {"rectangle", rectangle, 220, 140, 5, 5},
        {"rectangle cut left and top", rectangle, 120, 80, -50, -30},
        {"rectangle cut right and bottom", rectangle, 150, 100, 40, 30},
        {"rectangle reaching past both sides", rectangle, 100, 60, -40, -20},
        {"L", {{0, 0}, {60, 0}, {60, 100}, {160, 100}, {160, 140}, {0, 140}}, 180, 160, 3, 4},
        {"nearly level top", {{0, 0}, {200, 1}, {200, 60}, {0, 60}}, 220, 80, 4, 4},
        {"hexagon", {{20, 0}, {180, 0}, {200, 40}, {180, 80}, {20, 80}, {0, 40}}, 220, 100, 6, 7},
        {"two level teeth",
         {{0, 0}, {150, 0}, {150, 30}, {20, 30}, {20, 60}, {150, 60}, {150, 90}, {0, 90}},
         170,
         110,
         2,
         9},
    };
    for (const Polygon& p : polygons) {
        for (bool antialias : {false, true}) {
            EXPECT_TRUE(FillsAsOpenCv(p.points, p.width, p.height, p.x, p.y, antialias))
                << p.name << " antialias " << antialias;
        }
    }
}

TEST_F(Oracle, ThickLinesAreOpenCvsLines) {
    struct Case {
        int32_t x1, y1, x2, y2, thickness;
        bool antialias;
    };
    for (const Case& c : {Case{10, 10, 90, 40, 8, false},
                          {10, 10, 90, 40, 8, true},
                          {50, 5, 50, 70, 3, false},
                          {80, 60, 5, 5, 17, true},
                          {30, 30, 30, 30, 12, false}}) {
        ShapeImage image;
        ASSERT_EQ(MakeLineImage(c.x1, c.y1, c.x2, c.y2, c.thickness, 0xFFFFFF, c.antialias, &image),
                  0);
        cv::Mat expected(image.height, image.width, CV_8UC1, cv::Scalar(0));
        cv::line(expected, {c.x1 - image.x, c.y1 - image.y}, {c.x2 - image.x, c.y2 - image.y},
                 cv::Scalar(255), c.thickness, c.antialias ? cv::LINE_AA : cv::LINE_8);
        const cv::Mat ours = PlaneImage(c.antialias ? image.alpha.get() : image.mask.get(),
                                        image.width, image.height);
        EXPECT_TRUE(SameImage(expected, ours)) << c.x1 << "," << c.y1 << " " << c.thickness;
    }
}

// Ideal shapes: the box of w x h pixels spans [0, w] x [0, h] in cairo's coordinates.
struct Ideal {
    std::function<void(cairo_t*)> path;
    std::function<double(double, double)> distance;  // from a pixel centre to the boundary
};

Ideal IdealEllipse(double rx, double ry) {
    const double cx = rx + 0.5, cy = ry + 0.5, a = rx + 0.5, b = ry + 0.5;
    return {[=](cairo_t* cr) {
                cairo_save(cr);
                cairo_translate(cr, cx, cy);
                cairo_scale(cr, a, b);
                cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
                cairo_restore(cr);
            },
            [=](double x, double y) {
                // First-order distance to the ellipse: |F| / |grad F|.
                const double u = (x - cx) / a, v = (y - cy) / b;
                const double f = u * u + v * v - 1;
                const double gx = 2 * u / a, gy = 2 * v / b;
                return std::fabs(f) / std::max(std::hypot(gx, gy), 1e-9);
            }};
}

Ideal IdealRoundedBox(double w, double h, double r) {
    return {[=](cairo_t* cr) {
                cairo_new_sub_path(cr);
                cairo_arc(cr, w - r, r, r, -M_PI / 2, 0);
                cairo_arc(cr, w - r, h - r, r, 0, M_PI / 2);
                cairo_arc(cr, r, h - r, r, M_PI / 2, M_PI);
                cairo_arc(cr, r, r, r, M_PI, 3 * M_PI / 2);
                cairo_close_path(cr);
            },
            [=](double x, double y) {
                const double qx = std::fabs(x - w / 2) - (w / 2 - r);
                const double qy = std::fabs(y - h / 2) - (h / 2 - r);
                const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
                return std::fabs(outside + std::min(std::max(qx, qy), 0.0) - r);
            }};
}

// Pixels that differ from the ideal shape lie within this distance of its boundary (pixel
// centres). Each curve point is floored from 16.16 fixed point, which pulls the polygon up to
// a pixel up and left of the ideal, and its chords cut inside the curve: the spike found at
// most 1.2 (a circle of radius 150), 1.1 for radius 40, under 0.9 for the rounded boxes.
constexpr double kIdealBand = 1.25;

TEST_F(Oracle, ShapesWithoutAntialiasingDifferFromTheIdealOnlyAtTheirEdge) {
    struct Case {
        int32_t type, width, height, level;
    };
    std::vector<Case> cases;
    for (int32_t r : {1, 2, 3, 5, 9, 10, 14, 15, 40, 99, 150})
        cases.push_back({CIRCLE, 2 * r + 1, 2 * r + 1, 0});
    for (auto [rx, ry] : {std::pair{20, 7}, {3, 40}, {149, 60}}) {
        cases.push_back({ELLIPSE, 2 * rx + 1, 2 * ry + 1, 0});
    }
    for (auto [w, h, level] :
         {std::tuple{2, 2, 100}, {40, 20, 100}, {120, 300, 30}, {300, 290, 8}}) {
        cases.push_back({BOX, w, h, level});
    }
    double worst = 0;
    for (const Case& c : cases) {
        Shape(c.type, c.width, c.height);
        Corners(c.level);
        Prepare();
        TestImage image = Paint(false);
        const int32_t radius = std::min(c.width, c.height) / 2 * c.level / 100;
        const Ideal ideal = c.type == BOX ? IdealRoundedBox(c.width, c.height, radius + 0.5)
                                          : IdealEllipse(c.width / 2, c.height / 2);
        CairoImage cairo(c.width, c.height, CAIRO_FORMAT_A8);
        cairo_set_antialias(cairo.get(), CAIRO_ANTIALIAS_NONE);
        ideal.path(cairo.get());
        cairo_fill(cairo.get());
        const EdgeStats stats = Compare(
            image.Plane(), cairo.Image(), kIdealBand,
            [&](int x, int y) { return ideal.distance(x + 0.5, y + 0.5); }, 0);
        worst = std::max(worst, stats.worstFar);
        EXPECT_EQ(stats.outsideBand, 0)
            << "type " << c.type << " " << c.width << " x " << c.height << ": " << stats.Describe()
            << "; " << SaveComparison(cairo.Image(), image.Plane());
    }
    RecordProperty("worst", std::to_string(worst));
}

// Anti-aliased coverage against cairo. OpenCV's anti-aliased fill counts the boundary's own
// one-pixel line as part of the shape, as its 8-connected fill counts the pixels on the
// boundary (so that plain and anti-aliased shapes have one size); cairo draws the same when
// the polygon's path is filled and stroked one pixel wide. (Filled alone, cairo's shape is
// half a pixel thinner all round: band mean 55, maximum 192, coverage 0.66 x the perimeter
// larger here.)
void CairoShape(cairo_t* cr, const qvVertex* points, int32_t count, double dx, double dy) {
    PolygonPath(cr, points, count, dx, dy);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

// Pixels further than this from every boundary must agree.
constexpr double kExactBeyond = 1.5;
// Within it, per channel: the mean and the largest difference, and the summed coverage
// (pixels) relative to the perimeter. The spike found mean 20, maximum 72 and 0.17 (boxes
// and circles of 5 to 301 pixels): the bounds leave room for other sizes and turns.
constexpr double kBandMean = 40, kBandMax = 160, kCoveragePerPerimeter = 0.5;

void ExpectWithinBounds(const EdgeStats& stats, const std::string& what) {
    EXPECT_EQ(stats.outsideBand, 0) << what << ": " << stats.Describe();
    EXPECT_LE(stats.meanBand, kBandMean) << what << ": " << stats.Describe();
    EXPECT_LE(stats.maxBand, kBandMax) << what << ": " << stats.Describe();
    EXPECT_LE(std::fabs(stats.sumDifference), kCoveragePerPerimeter * stats.perimeter)
        << what << ": " << stats.Describe();
}

TEST_F(Oracle, AntialiasedCoverageAgreesWithCairoForTheSamePolygon) {
    struct Case {
        int32_t type, width, height, level;
        double turn;
    };
    const Case cases[] = {{CIRCLE, 5, 5, 0, 0},     {CIRCLE, 21, 21, 0, 0},
                          {CIRCLE, 121, 121, 0, 0}, {ELLIPSE, 201, 61, 0, 20},
                          {BOX, 80, 50, 25, 0},     {BOX, 90, 40, 0, 15},
                          {CIRCLE, 301, 301, 0, 0}};
    for (const Case& c : cases) {
        Shape(c.type, c.width, c.height);
        Corners(c.level);
        Turn(c.turn);
        Prepare();
        TestImage image = Paint(true, true, 1, 2);
        CairoImage cairo(image.width, image.height, CAIRO_FORMAT_A8);
        CairoShape(cairo.get(), desc.fillPoints, desc.fillCount, desc.fillX + 2, desc.fillY + 2);
        const EdgeStats stats = Compare(
            image.Plane(), cairo.Image(), kExactBeyond,
            [&](int x, int y) {
                return PolygonDistance(x, y, desc.fillPoints, desc.fillCount, desc.fillX + 2,
                                       desc.fillY + 2);
            },
            Perimeter(desc.fillPoints, desc.fillCount));
        ExpectWithinBounds(stats, "type " + std::to_string(c.type) + " " + std::to_string(c.width) +
                                      " x " + std::to_string(c.height));
    }
}

// Our image as premultiplied B, G, R, A bytes (cairo's ARGB32 on this host).
cv::Mat Premultiplied(const TestImage& image) {
    cv::Mat out(image.height, image.width, CV_8UC4);
    const cv::Mat alpha = image.Plane();
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint32_t a = alpha.at<uint8_t>(y, x);
            const uint32_t rgb = ReadBitMapPixel(image.bitmap.get(), x, y);
            auto scaled = [&](uint32_t c) { return uint8_t((c * a + 127) / 255); };
            out.at<cv::Vec4b>(y, x) = {scaled(rgb & 255), scaled((rgb >> 8) & 255),
                                       scaled((rgb >> 16) & 255), uint8_t(a)};
        }
    }
    return out;
}

void CairoColour(cairo_t* cr, uint32_t rgb, int32_t transparency) {
    cairo_set_source_rgba(cr, ((rgb >> 16) & 255) / 255.0, ((rgb >> 8) & 255) / 255.0,
                          (rgb & 255) / 255.0, (255 - transparency) / 255.0);
}

TEST_F(Oracle, ShadowRingAndFillLieOverOneAnother) {
    // The blends round 8-bit values a little differently: far pixels may differ by 2.
    constexpr int kRounding = 2;
    struct Case {
        int32_t type;
        uint32_t colour, border, shadow;
    };
    const Case cases[] = {{CIRCLE, 0x00E0A020, 0x002040C0, 0x80000000},
                          {CIRCLE, 0x60E0A020, 0x002040C0, 0x00303030},
                          {BOX, 0x00E0A020, 0x902040C0, 0x80101010},
                          {POLYGON, 0x40FFFFFF, 0x00C02020, 0x40000000}};
    const std::vector<qvOutlinePoint> star = {{30, 0},  {38, 22}, {60, 22}, {42, 36}, {49, 58},
                                              {30, 44}, {11, 58}, {18, 36}, {0, 22},  {22, 22}};
    for (const Case& c : cases) {
        Shape(c.type, 61, 59);
        if (c.type == POLYGON) desc.points = star.data(), desc.pointCount = int32_t(star.size());
        Corners(c.type == BOX ? 30 : 0);
        state.formStyle = EDGE | SHADOW | ANTIALIAS;
        state.borderSize = 4, state.borderColour = c.border;
        state.shadowSize = 6, state.shadowDirection = 3, state.shadowColour = c.shadow;
        Prepare();
        desc.colour = c.colour;
        TestImage image(desc.imageWidth + 5, desc.imageHeight + 5, true);
        ASSERT_EQ(CompositeShapeCoverage(image.Target(), desc, 2, 2), 0);

        CairoImage cairo(image.width, image.height, CAIRO_FORMAT_ARGB32);
        const double ringX = 2 + desc.borderX, ringY = 2 + desc.borderY;
        CairoColour(cairo.get(), desc.shadowColour, desc.shadowTransparency);
        CairoShape(cairo.get(), desc.borderPoints, desc.borderCount, ringX + desc.shadowX,
                   ringY + desc.shadowY);
        CairoColour(cairo.get(), desc.borderColour, desc.borderTransparency);
        CairoShape(cairo.get(), desc.borderPoints, desc.borderCount, ringX, ringY);
        CairoColour(cairo.get(), c.colour & 0xFFFFFF, int32_t(c.colour >> 24));
        CairoShape(cairo.get(), desc.fillPoints, desc.fillCount, 2 + desc.fillX, 2 + desc.fillY);

        auto distance = [&](int x, int y) {
            return std::min(
                {PolygonDistance(x, y, desc.fillPoints, desc.fillCount, 2 + desc.fillX,
                                 2 + desc.fillY),
                 PolygonDistance(x, y, desc.borderPoints, desc.borderCount, int(ringX), int(ringY)),
                 PolygonDistance(x, y, desc.borderPoints, desc.borderCount,
                                 int(ringX) + desc.shadowX, int(ringY) + desc.shadowY)});
        };
        const double perimeter = Perimeter(desc.fillPoints, desc.fillCount) +
                                 2 * Perimeter(desc.borderPoints, desc.borderCount);
        std::vector<cv::Mat> ours, theirs;
        cv::split(Premultiplied(image), ours);
        cv::split(cairo.Image(), theirs);
        for (int channel = 0; channel < 4; ++channel) {
            cv::Mat a, b;
            ours[channel].convertTo(a, CV_16S);
            theirs[channel].convertTo(b, CV_16S);
            // Differences within the rounding count as none.
            cv::Mat close = cv::abs(a - b) <= kRounding;
            cv::Mat oursRounded = ours[channel].clone();
            theirs[channel].copyTo(oursRounded, close);
            const EdgeStats stats =
                Compare(oursRounded, theirs[channel], kExactBeyond, distance, perimeter);
            ExpectWithinBounds(stats, "type " + std::to_string(c.type) + " channel " +
                                          std::to_string(channel) + "; " +
                                          SaveComparison(cairo.Image(), Premultiplied(image)));
        }
    }
}

}  // namespace
}  // namespace qv::test
