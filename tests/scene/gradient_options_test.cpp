// Gradient options in both spellings: the styles and angles of the gradient commands, the
// centre, balance and border of radial and conical gradients, and the colour stops.
#include <string>

#include "runtime/errors.h"
#include "runtime/runtime_state.h"
#include "scene/gradient_options.h"
#include "tests/scene/scene_fixture.h"

namespace qv::testing {
namespace {

// {colour, position} pairs 0x000000 + i at i / (count - 1).
Arg Stops(int count) {
    std::vector<Arg> items;
    for (int i = 0; i < count; ++i) {
        items.push_back(Num(i));
        items.push_back(Num(count > 1 ? double(i) / (count - 1) : 0));
    }
    return List(items);
}

class GradientOptions : public SceneFixture {
protected:
    // CreateGradientBGPic(1, style, red, blue, 8, 4, angle, table).
    CallResult Make(double style, Arg angle, Arg table) {
        return Call("CreateGradientBGPic", {Num(1), Num(style), Num(0xFF0000), Num(0x0000FF),
                                            Num(8), Num(4), angle, table});
    }
    std::string NamedField() const { return Runtime().error.text; }
};

TEST_F(GradientOptions, StylesAndAnglesOfTheCommands) {
    const struct {
        double style;
        Arg angle;
        int32_t wantStyle, wantAngle;
    } cases[] = {
        {0, Num(45), gfx::LINEAR, 0},
        {1, Num(45), gfx::LINEAR, 90},
        {gfx::LINEAR, Num(30), gfx::LINEAR, 30},
        {gfx::LINEAR, Nil(), gfx::LINEAR, 0},
        {gfx::CONICAL, Num(-60), gfx::CONICAL, -60},
        {gfx::RADIAL, Num(45), gfx::RADIAL, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.style);
        ASSERT_EQ(Make(c.style, c.angle, Nil()).code, 0);
        const qvGradient& g = Find(1u)->fill.gradient;
        EXPECT_EQ(g.style, c.wantStyle);
        EXPECT_EQ(g.angle, c.wantAngle);
        EXPECT_EQ(g.startColour, 0xFF0000u);
        EXPECT_EQ(g.stopCount, 0);
    }
    EXPECT_EQ(Make(5, Num(0), Nil()).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Make(-1, Num(0), Nil()).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Make(gfx::LINEAR, Num(0), Str("colors")).code, ERR_TABEXPECTED);
}

TEST_F(GradientOptions, ColourStopsAndTheirLimits) {
    const struct {
        const char* name;
        Arg colours;
        int code;
        int32_t stops;
    } cases[] = {
        {"none", List({}), 0, 0},
        {"one pair", Stops(1), ERR_WRONGUSAGE, 0},
        {"two pairs", Stops(2), 0, 2},
        {"64 pairs", Stops(64), 0, 64},
        {"65 pairs", Stops(65), ERR_INTERNAL, 0},
        {"a text colour", List({Num(0), Num(0), Str("red"), Num(1)}), ERR_NUMTABLEARG, 0},
        {"a text position", List({Num(0), Num(0), Num(1), Str("end")}), ERR_NUMTABLEARG, 0},
        {"no position", List({Num(0), Num(0), Num(0xFF)}), ERR_MISSINGPARAMTR, 0},
        {"position 1.5", List({Num(0), Num(0), Num(0xFF), Num(1.5)}), ERR_WRONGUSAGE, 0},
        {"position -0.1", List({Num(0), Num(-0.1), Num(0xFF), Num(1)}), ERR_WRONGUSAGE, 0},
        {"not a table", Num(3), ERR_TABEXPECTED2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreeAllBGPics(L);
        EXPECT_EQ(Make(gfx::LINEAR, Num(0), Table({{Str("colors"), c.colours}})).code, c.code);
        if (c.code == ERR_NUMTABLEARG || c.code == ERR_TABEXPECTED2) {
            EXPECT_EQ(NamedField(), "colors");
        }
        if (c.code != 0) {
            EXPECT_EQ(PictureCount(), 0u);
            continue;
        }
        const qvGradient& g = Find(1u)->fill.gradient;
        ASSERT_EQ(g.stopCount, c.stops);
        if (c.stops == 64) {
            EXPECT_EQ(g.stops[63].colour, 63u);
            EXPECT_EQ(g.stops[63].position, 1.0);
        }
    }
}

TEST_F(GradientOptions, CentreBalanceAndBorderAreFractionsOfRadialAndConicalGradients) {
    const struct {
        double style;
        const char* key;
        double value;
        int code;
    } cases[] = {
        {gfx::RADIAL, "centerx", 0.25, 0},
        {gfx::RADIAL, "centery", 1, 0},
        {gfx::CONICAL, "balance", 0, 0},
        {gfx::RADIAL, "border", 0.5, 0},
        {gfx::RADIAL, "centerx", 1.5, ERR_WRONGUSAGE},
        {gfx::CONICAL, "border", -0.5, ERR_WRONGUSAGE},
        // Linear gradients do not read them.
        {gfx::LINEAR, "centerx", 7, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        FreeAllBGPics(L);
        ASSERT_EQ(Make(c.style, Nil(), Table({{Str(c.key), Num(c.value)}})).code, c.code);
        if (c.code != 0 || c.style == gfx::LINEAR) continue;
        const qvGradient& g = Find(1u)->fill.gradient;
        const std::string key = c.key;
        const double read = key == "centerx"   ? g.centreX
                            : key == "centery" ? g.centreY
                            : key == "balance" ? g.balance
                                               : g.border;
        EXPECT_EQ(read, c.value);
    }
    // A bad centre is found before the stops are read.
    EXPECT_EQ(
        Make(gfx::RADIAL, Nil(), Table({{Str("centerx"), Num(2)}, {Str("colors"), Stops(65)}}))
            .code,
        ERR_WRONGUSAGE);
}

// The option-table spelling, as LoadBGPic reads it for a gradient fill (refused before the
// file is opened).
TEST_F(GradientOptions, OptionTableKeysNameTheirFieldsInErrors) {
    const auto load = [this](std::vector<std::pair<Arg, Arg>> fields) {
        fields.push_back({Str("fillstyle"), Num(QV_FILL_GRADIENT)});
        return Call("LoadBGPic", {Num(1), Str("none.png"), Table(fields)}).code;
    };
    EXPECT_EQ(load({{Str("gradientcolors"), List({Num(0), Num(0), Str("x"), Num(1)})}}),
              ERR_NUMTABLEARG);
    EXPECT_EQ(NamedField(), "gradientcolors");
    EXPECT_EQ(load({{Str("gradientcolors"), Stops(1)}}), ERR_WRONGUSAGE);
    EXPECT_EQ(load({{Str("gradientstyle"), Num(1)}}), ERR_WRONGUSAGE);
    EXPECT_EQ(load({{Str("gradientstyle"), Num(gfx::RADIAL)}, {Str("gradientcenterx"), Num(3)}}),
              ERR_WRONGUSAGE);
    // The same keys under the other spelling are not read.
    EXPECT_EQ(load({{Str("gradientstyle"), Num(gfx::RADIAL)}, {Str("centerx"), Num(3)}}),
              ERR_LOADPICTURE);
}

TEST_F(GradientOptions, ParseGradientTagsFillsTheBlock) {
    VmSetTop(L, 0);
    PushArg(Table({{Str("gradientstyle"), Num(gfx::CONICAL)},
                   {Str("gradientstartcolor"), Num(0x102030)},
                   {Str("gradientendcolor"), Num(0xFFFFFFFF)},
                   {Str("gradientangle"), Num(33)},
                   {Str("gradientbalance"), Num(0.75)},
                   {Str("gradientcolors"), Stops(3)}}));
    qvGradient g{};
    ASSERT_EQ(ParseGradientTags(L, 1, &g), 0);
    EXPECT_EQ(g.style, gfx::CONICAL);
    EXPECT_EQ(g.startColour, 0x102030u);
    EXPECT_EQ(g.endColour, 0xFFFFFFFFu);
    EXPECT_EQ(g.angle, 33);
    EXPECT_EQ(g.balance, 0.75);
    EXPECT_EQ(g.centreX, 0.5);
    ASSERT_EQ(g.stopCount, 3);
    EXPECT_EQ(g.stops[1].position, 0.5);
    EXPECT_EQ(VmGetTop(L), 1);
    VmSetTop(L, 0);
}

}  // namespace
}  // namespace qv::testing
