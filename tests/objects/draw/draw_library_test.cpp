// The "draw" library's registration and its three state commands, called as a script calls
// them, and the vertex-table reader.
#include "objects/draw/draw_library.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/convert.h"
#include "engine/error_codes.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_records.h"
#include "platform/linux/memory.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

using namespace qv::draw;

// ReadPolygon(table, count) -> count, width, height, min x, min y, first x, first y, last x,
// last y: ReadPolygonTable seen from a script.
int ReadPolygon(qvVmState* L) {
    qvPolygonTable table{};
    if (const int code = ReadPolygonTable(L, 1, Trunc32(GetArgNumber(L, 2)), &table)) return code;
    for (double value :
         {double(table.count), double(table.width), double(table.height), double(table.minX),
          double(table.minY), table.points[0].x, table.points[0].y, table.points[table.count - 1].x,
          table.points[table.count - 1].y}) {
        VmPushNumber(L, value);
    }
    return 9;
}

int RegisterPolygonProbe(qvVmState* L) {
    static constexpr qvCommandEntry kProbe[] = {{"ReadPolygon", ReadPolygon}, {nullptr, nullptr}};
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kProbe, 0);
    VmSetTop(L, -2);
    return 0;
}

class DrawLibrary : public LibFixture {
protected:
    DrawLibrary() : LibFixture(OpenLibraries<RegisterDrawLibrary, RegisterPolygonProbe>) {}
    ~DrawLibrary() override { FreeDrawBuffers(L); }
    const qvDrawState& State() const { return *GetDrawState(); }
};

TEST_F(DrawLibrary, RegistrationSetsTheDefaults) {
    const qvDrawState& s = State();
    EXPECT_EQ(s.fillStyle, FILLNONE);
    EXPECT_EQ(s.formStyle, NORMAL);
    EXPECT_EQ(s.gradient.style, 2);
    EXPECT_EQ(s.gradient.startColour, 0x0000FFu);
    EXPECT_EQ(s.borderSize, 2);
    EXPECT_EQ(s.borderColour, 0x0093DDu);
    EXPECT_EQ(s.shadowSize, 4);
    EXPECT_EQ(s.shadowDirection, 3u);
    EXPECT_EQ(s.lineWidth, 1);
    ASSERT_NE(DrawShapeWork().cosine, nullptr);
    EXPECT_DOUBLE_EQ(DrawShapeWork().cosine[60], 0.5000000000000001);
    EXPECT_DOUBLE_EQ(DrawShapeWork().sine[90], -1);
}

TEST_F(DrawLibrary, TheConstantsAreRegistered) {
    struct Case {
        const char* name;
        double value;
    };
    for (const Case& c : {Case{"BLACK", 0},
                          {"SILVER", 0xC0C0C0},
                          {"AQUA", 0x00FFFF},
                          {"WHITE", 0xFFFFFF},
                          {"FILLTEXTURE", 3},
                          {"BOX", 14},
                          {"LINE", 17},
                          {"PLOT", 18},
                          {"POLYGON", 27},
                          {"ARC", 31}}) {
        const char* text = nullptr;
        double number = -1;
        ASSERT_NE(LookupConstant(L, c.name, &text, &number), 0) << c.name;
        EXPECT_EQ(number, c.value) << c.name;
    }
    EXPECT_EQ(DrawConstants().size(), 27u);
    EXPECT_EQ(DrawCommands().size(), 12u);
}

TEST_F(DrawLibrary, NormalTurnsEffectsOffButKeepsTheirSettings) {
    ASSERT_EQ(Call("SetFormStyle", {Num(SHADOW), Num(0xFF0000), Num(10), Num(5)}).code, 0);
    ASSERT_EQ(Call("SetFormStyle", {Num(EDGE), Num(0x00FF00), Num(7)}).code, 0);
    ASSERT_EQ(Call("SetFormStyle", {Num(ANTIALIAS)}).code, 0);
    EXPECT_EQ(State().formStyle, SHADOW | EDGE | ANTIALIAS);
    ASSERT_EQ(Call("SetFormStyle", {Num(NORMAL), Num(1), Num(2), Num(3)}).code, 0);
    const qvDrawState& s = State();
    EXPECT_EQ(s.formStyle, NORMAL);
    EXPECT_EQ(s.shadowColour, 0xFF0000u);
    EXPECT_EQ(s.shadowSize, 10);
    EXPECT_EQ(s.shadowDirection, 5u);
    EXPECT_EQ(s.borderColour, 0x00FF00u);
    EXPECT_EQ(s.borderSize, 7);
}

TEST_F(DrawLibrary, EffectSettingsAreClamped) {
    struct Case {
        std::vector<Arg> args;
        uint32_t colour;
        int32_t size;
        uint32_t direction;
    };
    const Case cases[] = {
        {{Num(SHADOW), Num(0x80112233)}, 0x80112233, 4, 3},
        {{Num(SHADOW), Num(0x445566), Num(100)}, 0x445566, 64, 3},
        {{Num(SHADOW), Num(0), Num(0), Num(9)}, 0, 1, 3},
        {{Num(SHADOW), Num(0), Num(3), Num(-1)}, 0, 3, 3},
        {{Num(SHADOW), Num(0), Num(3), Num(7)}, 0, 3, 7},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call("SetFormStyle", c.args).code, 0);
        EXPECT_EQ(State().shadowColour, c.colour);
        EXPECT_EQ(State().shadowSize, c.size);
        EXPECT_EQ(State().shadowDirection, c.direction);
        EXPECT_EQ(State().formStyle, SHADOW);
    }
    ASSERT_EQ(Call("SetFormStyle", {Num(EDGE), Num(0x123456), Num(-5)}).code, 0);
    EXPECT_EQ(State().borderSize, 1);
}

TEST_F(DrawLibrary, APlainFlagTakesNoArguments) {
    EXPECT_EQ(Call("SetFormStyle", {Num(ANTIALIAS), Num(1)}).code, ERR_TOOMANYARGS);
    EXPECT_EQ(State().formStyle, NORMAL) << "unchanged";
    EXPECT_EQ(Call("SetFormStyle", {Num(SHADOW), Num(1), Num(2), Num(3), Num(4)}).code,
              ERR_TOOMANYARGS)
        << "at most four arguments";
    EXPECT_NE(Call("SetFormStyle", {}).code, 0);
}

TEST_F(DrawLibrary, FillStyles) {
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLNONE), Num(0)}).code, 0);
    EXPECT_EQ(State().lineWidth, 1);
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLNONE), Num(6)}).code, 0);
    EXPECT_EQ(State().lineWidth, 6);
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLNONE)}).code, 0);
    EXPECT_EQ(State().lineWidth, 1) << "the default width";
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLCOLOR)}).code, 0);
    EXPECT_EQ(State().fillStyle, FILLCOLOR);
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLGRADIENT), Num(3), Num(0xFF0000), Num(0x00FF00)}).code,
              0);
    EXPECT_EQ(State().fillStyle, FILLGRADIENT);
    EXPECT_EQ(State().gradient.style, 3);
    EXPECT_EQ(State().gradient.startColour, 0xFF0000u);
    EXPECT_EQ(State().gradient.endColour, 0x00FF00u);
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLTEXTURE), Num(7), Num(-3), Num(4)}).code, 0);
    EXPECT_EQ(State().textureBrush.number, 7u);
    EXPECT_EQ(State().textureX, -3);
    EXPECT_EQ(State().textureY, 4);
    int handle = 0;
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLTEXTURE), LightUserdata(&handle)}).code, 0);
    EXPECT_EQ(State().textureBrush.handle, &handle);
    EXPECT_EQ(State().textureX, 0);
}

TEST_F(DrawLibrary, GradientOptionsFollowTheColours) {
    const Arg stops =
        Table({{Str("colors"),
                List({Num(0xFF0000), Num(0), Num(0x00FF00), Num(0.5), Num(0x0000FF), Num(1)})}});
    ASSERT_EQ(
        Call("SetFillStyle", {Num(FILLGRADIENT), Num(gfx::LINEAR), Num(1), Num(2), Num(45), stops})
            .code,
        0);
    EXPECT_EQ(State().gradient.angle, 45);
    EXPECT_EQ(State().gradient.stopCount, 3);
    EXPECT_EQ(State().gradient.stops[1].colour, 0x00FF00u);
    // A new gradient starts afresh: no stops kept; the old style 1 is linear at 90 degrees.
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLGRADIENT), Num(1), Num(1), Num(2)}).code, 0);
    EXPECT_EQ(State().gradient.style, gfx::LINEAR);
    EXPECT_EQ(State().gradient.angle, 90);
    EXPECT_EQ(State().gradient.stopCount, 0);
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLGRADIENT), Num(gfx::RADIAL), Num(1), Num(2), Nil(),
                                    Table({{Str("centerx"), Num(0.25)}})})
                  .code,
              0);
    EXPECT_EQ(State().gradient.centreX, 0.25);
    // Options that fail leave the fill as it was.
    ASSERT_EQ(Call("SetFillStyle", {Num(FILLCOLOR)}).code, 0);
    EXPECT_EQ(Call("SetFillStyle", {Num(FILLGRADIENT), Num(gfx::RADIAL), Num(1), Num(2), Nil(),
                                    Table({{Str("centerx"), Num(2)}})})
                  .code,
              ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SetFillStyle", {Num(FILLGRADIENT), Num(9), Num(1), Num(2)}).code,
              ERR_WRONGUSAGE)
        << "an unknown gradient style";
    EXPECT_EQ(State().fillStyle, FILLCOLOR);
    EXPECT_EQ(State().gradient.centreX, 0.25);
}

TEST_F(DrawLibrary, AnUnknownFillStyleIsRefusedAndLeavesNoFill) {
    for (double style : {4.0, -1.0, 100.0}) {
        ASSERT_EQ(Call("SetFillStyle", {Num(FILLCOLOR)}).code, 0);
        EXPECT_EQ(Call("SetFillStyle", {Num(style)}).code, ERR_WRONGUSAGE) << style;
        EXPECT_EQ(State().fillStyle, FILLNONE);
    }
    EXPECT_NE(Call("SetFillStyle", {Num(FILLGRADIENT), Num(2)}).code, 0) << "colours missing";
}

TEST_F(DrawLibrary, LineWidthsBelowOneAreRefused) {
    struct Case {
        double width;
        int code;
        int32_t stored;
    };
    for (const Case& c : {Case{3.7, 0, 3},
                          {1, 0, 1},
                          {0, ERR_WRONGUSAGE, 1},
                          {0.5, ERR_WRONGUSAGE, 1},
                          {-2, ERR_WRONGUSAGE, 1},
                          {std::nan(""), ERR_WRONGUSAGE, 1},
                          {1e12, 0, INT32_MAX}}) {
        ASSERT_EQ(Call("SetLineWidth", {Num(1)}).code, 0);
        EXPECT_EQ(Call("SetLineWidth", {Num(c.width)}).code, c.code) << c.width;
        EXPECT_EQ(State().lineWidth, c.stored) << c.width;
    }
}

TEST_F(DrawLibrary, AFailedRegistrationKeepsNothing) {
    for (uint64_t n = 1; n <= 8; ++n) {
        AllocationFault fault(n, false);
        EXPECT_EQ(RegisterDrawLibrary(L), ERR_MEM) << n;
    }
    EXPECT_EQ(RegisterDrawLibrary(L), 0);
}

TEST_F(DrawLibrary, PolygonTablesAreReadClosedAndMovedToTheirBox) {
    const CallResult open = Call(
        "ReadPolygon", {List({Num(10), Num(20), Num(14.6), Num(20), Num(10), Num(25)}), Num(3)});
    ASSERT_EQ(open.code, 0);
    EXPECT_EQ(open.Number(0), 4) << "closed";
    EXPECT_EQ(open.Number(1), 6) << "width of the rounded coordinates 10 ... 15";
    EXPECT_EQ(open.Number(2), 6);
    EXPECT_EQ(open.Number(3), 10);
    EXPECT_EQ(open.Number(4), 20);
    EXPECT_EQ(open.Number(7), 0) << "the closing point is the first";
    const CallResult closed =
        Call("ReadPolygon",
             {List({Num(1), Num(1), Num(5), Num(1), Num(3), Num(4), Num(1), Num(1)}), Num(0)});
    ASSERT_EQ(closed.code, 0);
    EXPECT_EQ(closed.Number(0), 4) << "read up to the first missing x, not closed again";
}

TEST_F(DrawLibrary, BadPolygonTables) {
    std::vector<Arg> many;
    for (int i = 0; i < 2000; ++i) many.push_back(Num(i % 50));
    EXPECT_EQ(Call("ReadPolygon", {List(many), Num(0)}).code, ERR_INTERNAL) << "1000 points";
    many.resize(1998);
    EXPECT_EQ(Call("ReadPolygon", {List(many), Num(0)}).code, 0) << "999 points";
    const CallResult text = Call("ReadPolygon", {List({Num(1), Num(2), Str("x"), Num(3)}), Num(2)});
    EXPECT_EQ(text.code, ERR_NUMTABLEARG);
    EXPECT_EQ(text.errorText, "polygon");
    EXPECT_EQ(Call("ReadPolygon", {List({Num(1), Num(2), Num(3)}), Num(2)}).code, ERR_NUMTABLEARG)
        << "a missing y";
    EXPECT_EQ(Call("ReadPolygon", {List({Num(1), Num(2), Num(3), Num(4)}), Num(3)}).code,
              ERR_NUMTABLEARG)
        << "fewer points than counted";
    EXPECT_EQ(Call("ReadPolygon", {List({Num(1), Num(2)}), Num(0)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("ReadPolygon", {Num(5), Num(2)}).code, ERR_TABEXPECTED);
}

TEST(ShapeItem, ACopyOwnsItsOwnPoints) {
    qvShapeItem item;
    item.x = 3, item.thickness = 7, item.cornerLevels[2] = 40, item.clockwise = 1;
    item.drawState.borderSize = 9;
    item.points = AllocPolygonPoints(3);
    item.points[0] = {1, 2}, item.points[1] = {3, 4}, item.points[2] = {1, 2};
    item.pointCount = 3;
    auto* copy = static_cast<qvShapeItem*>(item.Copy());
    ASSERT_NE(copy, nullptr);
    item.points[1] = {9, 9};
    EXPECT_EQ(copy->points[1], (qvOutlinePoint{3, 4}));
    EXPECT_EQ(copy->pointCount, 3);
    EXPECT_EQ(copy->x, 3);
    EXPECT_EQ(copy->thickness, 7);
    EXPECT_EQ(copy->cornerLevels[2], 40);
    EXPECT_EQ(copy->clockwise, 1);
    EXPECT_EQ(copy->drawState.borderSize, 9);
    FreeLayerItem(copy);
    for (uint64_t n = 1; n <= 2; ++n) {
        AllocationFault fault(n, false);
        EXPECT_EQ(item.Copy(), nullptr) << "points or block " << n;
    }
    // A line's ends move with its layer, saturating.
    item.x1 = 10, item.y1 = 20, item.x2 = INT32_MAX - 1, item.y2 = -5;
    item.Translate(5, -10);
    EXPECT_EQ((std::vector{item.x1, item.y1, item.x2, item.y2}),
              (std::vector<int32_t>{15, 10, INT32_MAX, -15}));
}

}  // namespace
}  // namespace qv::testing
