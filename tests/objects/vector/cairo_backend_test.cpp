// The cairo back end on its own: streams that do not parse, planes that cairo cannot take as
// they are, matrices, translation of relative segments, and hostile numbers.
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include "tests/objects/vector/vector_test_support.h"

namespace qv::testing {
namespace {

namespace vg = vectorgraphics;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

StreamBytes Square(double x, double y, double side) {
    StreamBytes s;
    s.Move(x, y).Line(x + side, y).Line(x + side, y + side).Line(x, y + side).Close();
    return s;
}

struct Plane {
    int32_t width, height;
    uint32_t bytesPerRow;
    std::vector<uint8_t> bytes;

    Plane(int32_t w, int32_t h, uint32_t stride = 0)
        : width(w),
          height(h),
          bytesPerRow(stride != 0 ? stride : static_cast<uint32_t>(w)),
          bytes(static_cast<size_t>(bytesPerRow) * h + 1) {}

    uint8_t At(int32_t x, int32_t y) const { return bytes[y * bytesPerRow + x]; }
    double Area() const {
        double sum = 0;
        for (int32_t y = 0; y < height; ++y) {
            for (int32_t x = 0; x < width; ++x) sum += At(x, y);
        }
        return sum / 255;
    }
};

// Draws the stream into the plane (starting at byte offset shift of its buffer).
int Draw(const StreamBytes& s, Plane* plane, bool fill = true, const qvPathMatrix* m = nullptr,
         double x = 0, double y = 0, size_t shift = 0, int32_t strokeWidth = 1) {
    const qvPathStrokeStyle style{
        QV_JOIN_MITER, QV_CAP_BUTT, QV_FILLRULE_WINDING, 1, 0, nullptr, 0};
    qvPathDrawRequest r{};
    r.stream = s.data();
    r.length = s.size();
    r.style = &style;
    r.fill = fill ? 1 : 0;
    r.strokeWidth = strokeWidth;
    r.plane = plane->bytes.data() + shift;
    r.bytesPerRow = plane->bytesPerRow;
    r.width = plane->width;
    r.height = plane->height;
    r.offsetX = x;
    r.offsetY = y;
    r.matrix = m;
    return vg::DrawPath(&r);
}

bool Extents(const StreamBytes& s, bool fill, double out[4], int32_t width = 1) {
    qvPathExtentsRequest r{};
    r.stream = s.data();
    r.length = s.size();
    r.fill = fill ? 1 : 0;
    r.lineWidth = width;
    if (vg::GetPathExtents(&r) == 0) return false;
    out[0] = r.left, out[1] = r.top, out[2] = r.right, out[3] = r.bottom;
    return true;
}

TEST(CairoBackend, StreamsThatDoNotParseAreRefusedWithoutEffect) {
    const StreamBytes good = Square(1, 1, 4);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"cut inside a number", {good.bytes().begin(), good.bytes().begin() + 12}},
        {"cut inside a code", {good.bytes().begin(), good.bytes().begin() + 26}},
        {"code 4", StreamBytes().Code(4).bytes()},
        {"code 10", StreamBytes().Move(1, 1).Code(10).Num(0).bytes()},
        {"text without its zero",
         StreamBytes().Code(QV_PATH_TEXT).Int(1).Int(9).Code(0x41424344).bytes()},
        // "ABC" and its zero, without the padding to 8 bytes.
        {"text padding cut",
         StreamBytes().Code(QV_PATH_TEXT).Int(1).Int(9).Int(0x00434241).bytes()},
    };
    for (const Case& c : cases) {
        StreamBytes s;
        s.bytes() = c.bytes;
        Plane plane(8, 8);
        double bounds[4];
        EXPECT_EQ(Draw(s, &plane), 0) << c.what;
        EXPECT_EQ(plane.Area(), 0) << c.what;
        EXPECT_FALSE(Extents(s, true, bounds)) << c.what;
        double x, y;
        EXPECT_EQ(vg::GetCurrentPoint(s.data(), s.size(), nullptr, &x, &y), 0) << c.what;
        const std::vector<uint8_t> before = s.bytes();
        const qvPathTranslateRequest move{s.bytes().data(), s.size(), 5, 5};
        EXPECT_EQ(vg::TranslatePath(&move), 0) << c.what;
        EXPECT_EQ(s.bytes(), before) << c.what;
    }
    // A zero word ends the stream early; nothing after it is read.
    StreamBytes early = Square(1, 1, 4);
    early.Code(0).Code(99);
    Plane plane(8, 8);
    EXPECT_EQ(Draw(early, &plane), 1);
    EXPECT_EQ(plane.Area(), 16);
    // Text of a font the back end does not know fails.
    StreamBytes text;
    text.Move(0, 0).Code(QV_PATH_TEXT).Int(12345).Int(20).Text("A");
    double bounds[4];
    EXPECT_FALSE(Extents(text, true, bounds));
}

TEST(CairoBackend, PlanesCairoCannotTakeAsTheyAreAreDrawnThroughTiles) {
    const StreamBytes square = Square(3, 2, 30);
    Plane direct(37, 40, 40);
    ASSERT_EQ(Draw(square, &direct), 1);
    struct Case {
        const char* what;
        uint32_t stride;
        size_t shift;
    };
    const Case cases[] = {{"odd rows", 37, 0}, {"rows of 38", 38, 0}, {"misaligned", 40, 1}};
    for (const Case& c : cases) {
        Plane plane(37, 40, c.stride);
        plane.bytes.resize(plane.bytes.size() + c.shift);
        // Bytes already in the plane stay where the path does not cover them.
        plane.bytes[c.shift + 39 * c.stride + 36] = 77;
        ASSERT_EQ(Draw(square, &plane, true, nullptr, 0, 0, c.shift), 1) << c.what;
        for (int32_t y = 0; y < 40; ++y) {
            for (int32_t x = 0; x < 37; ++x) {
                const uint8_t got = plane.bytes[c.shift + y * c.stride + x];
                const uint8_t want = x == 36 && y == 39 ? 77 : direct.At(x, y);
                ASSERT_EQ(got, want) << c.what << " " << x << "," << y;
            }
        }
    }
    // Wider than any cairo surface: the line crosses the tiles' seams unbroken.
    StreamBytes line;
    line.Move(0, 2).Line(40000, 2);
    Plane wide(40000, 4);
    ASSERT_EQ(Draw(line, &wide, false, nullptr, 0, 0, 0, 2), 1);
    for (int32_t x : {0, 2047, 2048, 32767, 32768, 39999}) {
        EXPECT_EQ(wide.At(x, 1), 255) << x;
        EXPECT_EQ(wide.At(x, 2), 255) << x;
        EXPECT_EQ(wide.At(x, 0), 0) << x;
    }
}

TEST(CairoBackend, TheMatrixPlacesThePathAndTheOffsetsMoveIt) {
    // A quarter turn about the anchor (10, 10): e, f = A - M A.
    const StreamBytes box = StreamBytes().Box(5, 5, 10, 4);
    const qvPathMatrix quarter{{0, 1, -1, 0, 20, 0}};
    Plane plane(24, 24);
    ASSERT_EQ(Draw(box, &plane, true, &quarter), 1);
    EXPECT_EQ(plane.Area(), 40);
    for (int32_t y = 0; y < 24; ++y) {
        for (int32_t x = 0; x < 24; ++x) {
            const bool inside = x >= 11 && x < 15 && y >= 5 && y < 15;
            ASSERT_EQ(plane.At(x, y), inside ? 255 : 0) << x << "," << y;
        }
    }
    // The offsets are subtracted after the matrix.
    Plane shifted(24, 24);
    ASSERT_EQ(Draw(box, &shifted, true, &quarter, 11, 5), 1);
    EXPECT_EQ(shifted.At(0, 0), 255);
    EXPECT_EQ(shifted.At(3, 9), 255);
    EXPECT_EQ(shifted.At(4, 10), 0);
    // A matrix that flattens everything covers nothing; one that is not finite fails.
    const qvPathMatrix flat{{0, 0, 0, 0, 0, 0}};
    const qvPathMatrix broken{{kNaN, 0, 0, 1, 0, 0}};
    Plane other(24, 24);
    EXPECT_EQ(Draw(box, &other, true, &flat), 1);
    EXPECT_EQ(Draw(box, &other, true, &broken), 0);
    EXPECT_EQ(Draw(box, &other, true, nullptr, kInf, 0), 0);
    EXPECT_EQ(other.Area(), 0);
    // Requests without a plane fail.
    Plane empty(0, 4);
    EXPECT_EQ(Draw(box, &empty), 0);
    Plane narrowRows(8, 8, 4);
    EXPECT_EQ(Draw(box, &narrowRows), 0);
}

TEST(CairoBackend, TranslationMovesAbsolutePointsAndStartingRelativeMoves) {
    StreamBytes s;
    s.Move(1, 2, 1);  // relative, but with no current point: from the origin
    s.Line(3, 4, 1).Line(5, 6);
    s.Code(QV_PATH_NEWSUBPATH).Move(7, 8, 1);
    s.Arc(10, 20, 3, 4, 0, 90).Box(1, 1, 2, 2, 50, 0, 0, 0);
    s.Code(QV_PATH_CURVETO).Int(0).Num(1).Num(2).Num(3).Num(4).Num(5).Num(6);
    s.Code(QV_PATH_CURVETO).Int(1).Num(1).Num(2).Num(3).Num(4).Num(5).Num(6);
    const qvPathTranslateRequest move{s.bytes().data(), s.size(), 10, -1};
    ASSERT_EQ(vg::TranslatePath(&move), 1);
    StreamBytes expected;
    expected.Move(11, 1).Line(3, 4, 1).Line(15, 5);
    expected.Code(QV_PATH_NEWSUBPATH).Move(17, 7);
    expected.Arc(20, 19, 3, 4, 0, 90).Box(11, 0, 2, 2, 50, 0, 0, 0);
    expected.Code(QV_PATH_CURVETO).Int(0).Num(11).Num(1).Num(13).Num(3).Num(15).Num(5);
    expected.Code(QV_PATH_CURVETO).Int(1).Num(1).Num(2).Num(3).Num(4).Num(5).Num(6);
    EXPECT_EQ(s.bytes(), expected.bytes());
    const qvPathTranslateRequest bad{s.bytes().data(), s.size(), kNaN, 0};
    EXPECT_EQ(vg::TranslatePath(&bad), 0);
    EXPECT_EQ(s.bytes(), expected.bytes());
}

TEST(CairoBackend, HostileNumbersGiveBoundedResults) {
    struct Case {
        const char* what;
        StreamBytes stream;
    };
    std::vector<Case> cases;
    cases.push_back({"NaN point", StreamBytes().Move(kNaN, 1).Line(5, kInf)});
    cases.push_back({"huge coordinates", StreamBytes().Move(-1e300, 0).Line(1e300, 1e300)});
    cases.push_back({"arc of a billion turns", StreamBytes().Arc(0, 0, 1e6, 1e6, 0, 3.6e11)});
    cases.push_back({"backward arc", StreamBytes().Arc(0, 0, 5, 5, 1e300, -1e300, 0)});
    cases.push_back({"flat ellipse", StreamBytes().Arc(3, 3, 10, 0, 0, 360)});
    cases.push_back({"tiny ellipse", StreamBytes().Arc(3, 3, 1e-300, 1e-300, 0, 360)});
    cases.push_back({"NaN radius", StreamBytes().Arc(3, 3, kNaN, 4, 0, 360)});
    cases.push_back({"negative box", StreamBytes().Box(10, 10, -5, -5, 100, 100, 100, 100)});
    cases.push_back({"box corners out of range", StreamBytes().Box(0, 0, 5, 5, -9, 900, 0, 0)});
    for (const Case& c : cases) {
        double bounds[4];
        for (bool fill : {true, false}) {
            ASSERT_TRUE(Extents(c.stream, fill, bounds, 3)) << c.what;
            for (double b : bounds) {
                EXPECT_TRUE(std::isfinite(b)) << c.what;
                EXPECT_LE(std::fabs(b), 1e7) << c.what;
            }
        }
        Plane plane(16, 16);
        EXPECT_EQ(Draw(c.stream, &plane, false), 1) << c.what;
    }
    // A negative box is the same box drawn from its other corner.
    double a[4], b[4];
    ASSERT_TRUE(Extents(StreamBytes().Box(10, 10, -5, -5), true, a));
    ASSERT_TRUE(Extents(StreamBytes().Box(5, 5, 5, 5), true, b));
    EXPECT_EQ(std::vector<double>(a, a + 4), std::vector<double>(b, b + 4));
}

TEST(CairoBackend, VectorFontsNeedAScalableFace) {
    EXPECT_EQ(vg::CreateVectorFont(nullptr), 0u);
    vg::FreeVectorFont(0);
    vg::FreeVectorFont(99);
}

}  // namespace
}  // namespace qv::testing
