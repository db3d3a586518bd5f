// Geometry of paths through the cairo back end against analytic answers: areas of fills and
// strokes, caps, dashes, fill rules, exact extents after translation, current points, and
// outline text against FreeType's own raster of the same face and size.
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <vector>

#include "objects/vector/path_queries.h"
#include "runtime/plugin_api/builtin_fonts.h"
#include "runtime/plugin_api/service_table.h"
#include "tests/objects/vector/vector_test_support.h"

namespace qv::testing {
namespace {

class Geometry : public VectorLib {
protected:
    Geometry() {
        UseVectorBackend(&kCairoBackend);
        vectorgraphics::UseFreeType(PluginAPI()->freetype);
    }
    ~Geometry() override {
        vectorgraphics::FreeAllVectorFonts();
        if (face_ != nullptr) FT_Done_Face(face_);
        if (library_ != nullptr) FT_Done_FreeType(library_);
    }

    // The built-in sans face at that pixel size as the text commands' current font, closed
    // with the fixture; none when FreeType cannot open it.
    FT_Face UseBuiltInSans(int pixels) {
        const std::span<const unsigned char> sans = BuiltInFontSans();
        if (FT_Init_FreeType(&library_) != 0 ||
            FT_New_Memory_Face(library_, sans.data(), static_cast<FT_Long>(sans.size()), 0,
                               &face_) != 0 ||
            FT_Set_Pixel_Sizes(face_, 0, FT_UInt(pixels)) != 0) {
            return nullptr;
        }
        neighbours.fontStatus = 0;
        neighbours.font = {face_, pixels, &fontHandle_};
        return face_;
    }

    // The coverage of path id drawn as the back end draws it (fill, or a stroke of width) into
    // a plane of w x h whose top-left is (x, y) in path coordinates.
    std::vector<uint8_t> Coverage(double id, bool fill, int32_t width, int32_t w, int32_t h,
                                  double x = 0, double y = 0, bool antiAlias = true) {
        const qvPath* path = PathOf(id);
        std::vector<uint8_t> plane(static_cast<size_t>(w) * h);
        const qvPathStrokeStyle style = StrokeStyleOf(CurrentStrokeState(), antiAlias);
        qvPathDrawRequest r{};
        r.stream = path->segments;
        r.length = UsedBytes(*path);
        r.style = &style;
        r.fill = fill;
        r.strokeWidth = width;
        r.plane = plane.data();
        r.bytesPerRow = static_cast<uint32_t>(w);
        r.width = w;
        r.height = h;
        r.offsetX = x;
        r.offsetY = y;
        EXPECT_EQ(vectorgraphics::DrawPath(&r), 1);
        return plane;
    }

    static double Area(const std::vector<uint8_t>& plane) {
        return std::accumulate(plane.begin(), plane.end(), 0.0) / 255.0;
    }

    std::vector<double> Extents(double id) {
        const CallResult r = Call("GetPathExtents", {Num(id)});
        EXPECT_EQ(r.code, 0);
        return {r.Number(0), r.Number(1), r.Number(2), r.Number(3)};
    }

    void Square(double id, double x, double y, double side) {
        ASSERT_EQ(Call("MoveTo", {Num(id), Num(x), Num(y)}).code, 0);
        ASSERT_EQ(Call("RelLineTo", {Num(id), Num(side), Num(0)}).code, 0);
        ASSERT_EQ(Call("RelLineTo", {Num(id), Num(0), Num(side)}).code, 0);
        ASSERT_EQ(Call("RelLineTo", {Num(id), Num(-side), Num(0)}).code, 0);
        ASSERT_EQ(Call("ClosePath", {Num(id)}).code, 0);
    }

    void HorizontalLine(double id, double length) {
        Start(id);
        ASSERT_EQ(Call("MoveTo", {Num(id), Num(20), Num(20)}).code, 0);
        ASSERT_EQ(Call("LineTo", {Num(id), Num(20 + length), Num(20)}).code, 0);
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    uint32_t fontHandle_ = 0;  // set by the back end when it takes the font
};

TEST_F(Geometry, ASquareOnWholePixelsCoversExactlyItsPixels) {
    for (bool antiAlias : {false, true}) {
        for (bool asBox : {false, true}) {
            Start(1);
            if (asBox) {
                ASSERT_EQ(Call("AddBoxToPath", {Num(1), Num(5), Num(7), Num(10), Num(10)}).code, 0);
            } else {
                Square(1, 5, 7, 10);
            }
            const std::vector<uint8_t> plane = Coverage(1, true, 1, 32, 32, 0, 0, antiAlias);
            for (int y = 0; y < 32; ++y) {
                for (int x = 0; x < 32; ++x) {
                    const bool inside = x >= 5 && x < 15 && y >= 7 && y < 17;
                    ASSERT_EQ(plane[y * 32 + x], inside ? 255 : 0)
                        << x << "," << y << " aa " << antiAlias << " box " << asBox;
                }
            }
        }
    }
}

TEST_F(Geometry, FilledShapesHaveTheirAnalyticArea) {
    struct Case {
        const char* what;
        std::vector<Arg> args;
        double area;
    };
    const Case cases[] = {
        {"circle r 20", {Num(1), Num(32), Num(32), Num(20)}, std::numbers::pi * 400},
        {"ellipse 25 x 10", {Num(1), Num(32), Num(32), Num(25), Num(10)}, std::numbers::pi * 250},
    };
    for (const Case& c : cases) {
        Start(1);
        const char* command = c.args.size() == 4 ? "AddCircleToPath" : "AddEllipseToPath";
        ASSERT_EQ(Call(command, c.args).code, 0);
        EXPECT_NEAR(Area(Coverage(1, true, 1, 64, 64)), c.area, c.area * 0.01) << c.what;
    }
    // A box rounded fully on every corner of a square is its inscribed circle.
    Start(1);
    const Arg round = Table({{Str("roundlevel"), Num(100)}});
    ASSERT_EQ(Call("AddBoxToPath", {Num(1), Num(12), Num(12), Num(40), Num(40), round}).code, 0);
    EXPECT_NEAR(Area(Coverage(1, true, 1, 64, 64)), std::numbers::pi * 400, 4);
    // One rounded corner (a, top-left) of radius 10 takes 100 - 25 pi from the square there.
    Start(1);
    const Arg cornerA = Table({{Str("cornera"), Num(100)}});
    ASSERT_EQ(Call("AddBoxToPath", {Num(1), Num(0), Num(0), Num(20), Num(20), cornerA}).code, 0);
    const std::vector<uint8_t> plane = Coverage(1, true, 1, 20, 20);
    EXPECT_EQ(plane[0], 0);               // top-left corner cut
    EXPECT_EQ(plane[19], 255);            // top-right
    EXPECT_EQ(plane[19 * 20], 255);       // bottom-left
    EXPECT_EQ(plane[19 * 20 + 19], 255);  // bottom-right
    EXPECT_NEAR(Area(plane), 400 - (100 - 25 * std::numbers::pi), 1);
}

TEST_F(Geometry, StrokesFollowWidthCapsAndDashes) {
    struct Case {
        const char* what;
        int32_t cap;
        std::vector<Arg> dash;
        double area, tolerance;
    };
    const Case cases[] = {
        {"butt", QV_CAP_BUTT, {}, 400, 0.5},
        {"round caps add a disc", QV_CAP_ROUND, {}, 400 + std::numbers::pi * 4, 1},
        {"square caps add a square", QV_CAP_SQUARE, {}, 416, 0.5},
        {"dashes 5, 5 halve it", QV_CAP_BUTT, {Num(0), Num(5), Num(5)}, 200, 0.5},
        {"one dash length repeats", QV_CAP_BUTT, {Num(0), Num(10)}, 200, 0.5},
        {"an offset shifts the pattern", QV_CAP_BUTT, {Num(5), Num(10), Num(10)}, 200, 0.5},
        {"zero lengths are solid", QV_CAP_BUTT, {Num(0), Num(0), Num(0)}, 400, 0.5},
        {"negative lengths are solid", QV_CAP_BUTT, {Num(0), Num(5), Num(-5)}, 400, 0.5},
        {"too fine a pattern is solid", QV_CAP_BUTT, {Num(0), Num(1e-9)}, 400, 0.5},
    };
    for (const Case& c : cases) {
        HorizontalLine(1, 100);
        ASSERT_EQ(Call("SetLineCap", {Num(c.cap)}).code, 0);
        ASSERT_EQ(Call("SetDash", c.dash.empty() ? std::vector<Arg>{Num(0), Num(-1)} : c.dash).code,
                  0);
        EXPECT_NEAR(Area(Coverage(1, false, 4, 160, 40)), c.area, c.tolerance) << c.what;
    }
}

TEST_F(Geometry, NestedSquaresLeaveAHoleOnlyUnderEvenOdd) {
    Start(1);
    Square(1, 0, 0, 40);
    Square(1, 10, 10, 20);
    EXPECT_NEAR(Area(Coverage(1, true, 1, 40, 40)), 1600, 0.5);
    ASSERT_EQ(Call("SetFillRule", {Num(QV_FILLRULE_EVENODD)}).code, 0);
    const std::vector<uint8_t> plane = Coverage(1, true, 1, 40, 40);
    EXPECT_NEAR(Area(plane), 1200, 0.5);
    EXPECT_EQ(plane[20 * 40 + 20], 0);
    EXPECT_EQ(plane[5 * 40 + 5], 255);
    // Unknown rules are the default.
    ASSERT_EQ(Call("SetFillRule", {Num(9)}).code, 0);
    EXPECT_NEAR(Area(Coverage(1, true, 1, 40, 40)), 1600, 0.5);
}

TEST_F(Geometry, TranslationShiftsTheExtentsExactly) {
    Start(1);
    ASSERT_EQ(Call("AddBoxToPath", {Num(1), Num(5), Num(7), Num(10), Num(12)}).code, 0);
    ASSERT_EQ(Call("RelMoveTo", {Num(1), Num(30), Num(-1)}).code, 0);
    ASSERT_EQ(Call("RelLineTo", {Num(1), Num(0), Num(20)}).code, 0);
    for (int32_t fillStyle : {kFillColour, kFillNone}) {
        neighbours.draw.fillStyle = fillStyle;
        for (const auto& [dx, dy] : {std::pair{3.0, -2.0}, {-100.5, 0.25}, {0.0, 1000.0}}) {
            const std::vector<double> was = Extents(1);
            ASSERT_EQ(Call("TranslatePath", {Num(1), Num(dx), Num(dy)}).code, 0);
            const std::vector<double> now = Extents(1);
            for (int i = 0; i < 4; ++i) EXPECT_EQ(now[i], was[i] + (i % 2 == 0 ? dx : dy)) << i;
        }
    }
    // Filled, the box alone counts; stroked, the line too.
    neighbours.draw.fillStyle = kFillColour;
    ASSERT_EQ(Call("NormalizePath", {Num(1)}).code, 0);
    EXPECT_EQ(Extents(1), (std::vector<double>{0, 0, 10, 12}));
    neighbours.draw.fillStyle = kFillNone;
    EXPECT_EQ(Extents(1), (std::vector<double>{-0.5, -1, 30.5, 19}));
    // Curves move with their points.
    Start(2);
    ASSERT_EQ(Call("AddCircleToPath", {Num(2), Num(40), Num(40), Num(8)}).code, 0);
    neighbours.draw.fillStyle = kFillColour;
    const std::vector<double> circle = Extents(2);
    EXPECT_NEAR(circle[0], 32, 1.0 / 256);
    EXPECT_NEAR(circle[3], 48, 1.0 / 256);
    ASSERT_EQ(Call("TranslatePath", {Num(2), Num(-40), Num(2.5)}).code, 0);
    const std::vector<double> moved = Extents(2);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(moved[i], circle[i] + (i % 2 == 0 ? -40 : 2.5), 1.0 / 256);
}

TEST_F(Geometry, StrokeExtentsAndPathsWithoutArea) {
    HorizontalLine(1, 100);
    neighbours.draw = {kFillColour, kFormNormal, 1};
    EXPECT_EQ(Extents(1), (std::vector<double>{0, 0, 0, 0}));  // a line has no area
    neighbours.draw = {kFillNone, kFormNormal, 4};
    EXPECT_EQ(Extents(1), (std::vector<double>{20, 18, 120, 22}));
    // The request's translation moves the measured box.
    PathBounds bounds{};
    const qvPathStrokeStyle style = QueryStrokeStyle();
    ASSERT_EQ(MeasurePath(kCairoBackend, *PathOf(1), style, false, 2, -20, 5, &bounds), 0);
    EXPECT_DOUBLE_EQ(bounds.left, 0);
    EXPECT_DOUBLE_EQ(bounds.top, 24);
    EXPECT_DOUBLE_EQ(bounds.right, 100);
    EXPECT_DOUBLE_EQ(bounds.bottom, 26);
}

TEST_F(Geometry, CurrentPointFollowsRelativeChainsClosesAndShapes) {
    struct Step {
        const char* command;
        std::vector<Arg> args;
        double x, y;
    };
    const Step steps[] = {
        {"RelMoveTo", {Num(1), Num(10), Num(10)}, 10, 10},
        {"RelLineTo", {Num(1), Num(5), Num(0)}, 15, 10},
        {"RelCurveTo", {Num(1), Num(1), Num(1), Num(2), Num(2), Num(3), Num(-4)}, 18, 6},
        {"ClosePath", {Num(1)}, 10, 10},
        {"RelLineTo", {Num(1), Num(-10), Num(0)}, 0, 10},
        {"StartSubPath", {Num(1)}, 0, 0},
        {"RelLineTo", {Num(1), Num(2), Num(3)}, 2, 3},
        {"AddArcToPath", {Num(1), Num(50), Num(50), Num(10), Num(20), Num(0), Num(90)}, 50, 70},
        {"AddArcToPath",
         {Num(1), Num(50), Num(50), Num(10), Num(10), Num(0), Num(90), Num(0)},
         50,
         60},
        {"AddBoxToPath", {Num(1), Num(2), Num(3), Num(10), Num(10)}, 2, 3},
        {"LineTo", {Num(1), Num(7), Num(8)}, 7, 8},
    };
    Start(1);
    for (const Step& s : steps) {
        ASSERT_EQ(Call(s.command, s.args).code, 0) << s.command;
        const CallResult r = Call("GetCurrentPoint", {Num(1)});
        ASSERT_EQ(r.code, 0);
        // cairo keeps points in 24.8 fixed point.
        EXPECT_NEAR(r.Number(0), s.x, 1.0 / 256) << s.command;
        EXPECT_NEAR(r.Number(1), s.y, 1.0 / 256) << s.command;
    }
}

// A path that starts with a relative segment starts at the origin alone, and continues from
// the destination's point once appended to another.
TEST_F(Geometry, AppendedRelativeSegmentsContinueFromTheDestinationsPoint) {
    const std::pair<const char*, std::vector<Arg>> firsts[] = {
        {"RelMoveTo", {Num(2), Num(10), Num(10)}},
        {"RelLineTo", {Num(2), Num(10), Num(10)}},
        {"RelCurveTo", {Num(2), Num(1), Num(2), Num(3), Num(4), Num(10), Num(10)}},
    };
    for (const auto& [command, args] : firsts) {
        Start(1);
        Start(2);
        ASSERT_EQ(Call("MoveTo", {Num(1), Num(50), Num(50)}).code, 0);
        ASSERT_EQ(Call(command, args).code, 0);
        const CallResult alone = Call("GetCurrentPoint", {Num(2)});
        ASSERT_EQ(alone.code, 0);
        EXPECT_NEAR(alone.Number(0), 10, 1.0 / 256) << command;
        EXPECT_NEAR(alone.Number(1), 10, 1.0 / 256) << command;
        ASSERT_EQ(Call("AppendPath", {Num(1), Num(2)}).code, 0);
        const CallResult joined = Call("GetCurrentPoint", {Num(1)});
        ASSERT_EQ(joined.code, 0);
        EXPECT_NEAR(joined.Number(0), 60, 1.0 / 256) << command;
        EXPECT_NEAR(joined.Number(1), 60, 1.0 / 256) << command;
    }
}

// TranslatePath moves every coordinate, also of a start that the path leaves at the origin
// (a relative line or curve, or text, at its start or after a start of a sub-path), and
// NormalizePath then puts the filled area at 0, 0. Moved, such a path keeps its place when
// appended; one that was never moved still continues from the destination's point.
TEST_F(Geometry, PathsThatStartAtTheOriginMoveWhole) {
    FT_Face face = UseBuiltInSans(32);
    ASSERT_NE(face, nullptr);
    using Steps = std::vector<std::pair<const char*, std::vector<Arg>>>;
    const std::pair<const char*, Steps> cases[] = {
        {"lines", {{"RelLineTo", {Num(10), Num(10)}}, {"RelLineTo", {Num(10), Num(0)}}}},
        {"curve", {{"RelCurveTo", {Num(0), Num(20), Num(20), Num(20), Num(20), Num(0)}}}},
        {"text", {{"AddTextToPath", {Str("Hi")}}}},
        {"sub-path first", {{"StartSubPath", {}}, {"RelLineTo", {Num(10), Num(10)}}}},
        {"sub-path after a point",
         {{"MoveTo", {Num(30), Num(40)}},
          {"LineTo", {Num(40), Num(45)}},
          {"StartSubPath", {}},
          {"RelLineTo", {Num(-10), Num(-10)}}}},
    };
    for (const auto& [what, steps] : cases) {
        Start(1);
        for (const auto& [command, args] : steps) {
            std::vector<Arg> withId = {Num(1)};
            withId.insert(withId.end(), args.begin(), args.end());
            ASSERT_EQ(Call(command, withId).code, 0) << what;
        }
        neighbours.draw.fillStyle = kFillNone;
        const std::vector<double> was = Extents(1);
        ASSERT_EQ(Call("TranslatePath", {Num(1), Num(50), Num(-30)}).code, 0) << what;
        const std::vector<double> now = Extents(1);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(now[i], was[i] + (i % 2 == 0 ? 50 : -30), 1.0 / 256) << what << " " << i;
        }
        neighbours.draw.fillStyle = kFillColour;
        if (Extents(1)[2] > Extents(1)[0]) {
            ASSERT_EQ(Call("NormalizePath", {Num(1)}).code, 0) << what;
            const std::vector<double> normal = Extents(1);
            EXPECT_NEAR(normal[0], 0, 1.0 / 256) << what;
            EXPECT_NEAR(normal[1], 0, 1.0 / 256) << what;
        }
    }
    // Once moved, the path starts where it was moved to, wherever it is appended.
    Start(1);
    Start(2);
    ASSERT_EQ(Call("MoveTo", {Num(1), Num(100), Num(100)}).code, 0);
    ASSERT_EQ(Call("RelLineTo", {Num(2), Num(10), Num(10)}).code, 0);
    ASSERT_EQ(Call("TranslatePath", {Num(2), Num(5), Num(5)}).code, 0);
    ASSERT_EQ(Call("AppendPath", {Num(1), Num(2)}).code, 0);
    const CallResult joined = Call("GetCurrentPoint", {Num(1)});
    ASSERT_EQ(joined.code, 0);
    EXPECT_NEAR(joined.Number(0), 15, 1.0 / 256);
    EXPECT_NEAR(joined.Number(1), 15, 1.0 / 256);
    FreeAllPaths(L);
}

// The ink of FreeType's own raster of a character and of the same character filled as path
// text, at the same size and place, overlap almost wholly.
TEST_F(Geometry, OutlineTextAgreesWithFreeTypesRaster) {
    FT_Face face = UseBuiltInSans(48);
    ASSERT_NE(face, nullptr);
    // Hinting moves the raster's stems a little (thin ones like those of "@" most); unhinted
    // the outlines agree all but exactly.
    struct Case {
        const char* text;
        FT_Int32 hinting;
        double iou;
    };
    const Case cases[] = {{"H", FT_LOAD_NO_AUTOHINT, 0.9},    {"g", FT_LOAD_NO_AUTOHINT, 0.9},
                          {"\xE9", FT_LOAD_NO_AUTOHINT, 0.9}, {"H", FT_LOAD_NO_HINTING, 0.98},
                          {"g", FT_LOAD_NO_HINTING, 0.98},    {"@", FT_LOAD_NO_HINTING, 0.98},
                          {"\xE9", FT_LOAD_NO_HINTING, 0.98}};
    for (const auto& [text, hinting, iou] : cases) {
        Start(1);
        ASSERT_EQ(Call("AddTextToPath", {Num(1), Str(text)}).code, 0);
        ASSERT_EQ(FT_Load_Char(face, static_cast<uint8_t>(text[0]), FT_LOAD_RENDER | hinting), 0);
        // The raster is copied: loading the outline reuses the face's glyph slot.
        const FT_Bitmap& slot = face->glyph->bitmap;
        const int gw = static_cast<int>(slot.width), gh = static_cast<int>(slot.rows);
        std::vector<uint8_t> raster(static_cast<size_t>(gw) * gh);
        for (int y = 0; y < gh; ++y) {
            std::memcpy(&raster[y * gw], slot.buffer + y * slot.pitch, gw);
        }
        const int margin = 3, w = gw + 2 * margin, h = gh + 2 * margin;
        const std::vector<uint8_t> path = Coverage(
            1, true, 1, w, h, face->glyph->bitmap_left - margin, -face->glyph->bitmap_top - margin);
        int both = 0, either = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int gx = x - margin, gy = y - margin;
                const bool inked =
                    gx >= 0 && gy >= 0 && gx < gw && gy < gh && raster[gy * gw + gx] >= 128;
                const bool ours = path[y * w + x] >= 128;
                both += inked && ours;
                either += inked || ours;
            }
        }
        ASSERT_GT(either, 0) << text;
        EXPECT_GE(static_cast<double>(both) / either, iou) << text << " " << hinting;
    }
    EXPECT_NE(fontHandle_, 0u);
    // The face keeps its size; its transform (the font's scale) applies to path text too.
    EXPECT_EQ(face->size->metrics.y_ppem, 48);
    neighbours.draw.fillStyle = kFillColour;
    Start(2);
    ASSERT_EQ(Call("AddTextToPath", {Num(2), Str("Wide")}).code, 0);
    const std::vector<double> plain = Extents(2);
    FT_Matrix stretch = {2 << 16, 0, 0, 1 << 16};
    FT_Set_Transform(face, &stretch, nullptr);
    const std::vector<double> stretched = Extents(2);
    EXPECT_NEAR(stretched[2] - stretched[0], 2 * (plain[2] - plain[0]), 1);
    EXPECT_NEAR(stretched[3] - stretched[1], plain[3] - plain[1], 1e-6);
    FT_Set_Transform(face, nullptr, nullptr);
    FreeAllPaths(L);
}

}  // namespace
}  // namespace qv::testing
