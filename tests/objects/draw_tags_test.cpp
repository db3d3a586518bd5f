// Drawing tags: one table of tag tables and the blocks or errors they give, the flags, the
// defaults and SetDrawTagsDefault, sizes under a matrix and the effects of a style on a
// rendered picture.
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

#include "gfx/library/graphics_library.h"
#include "objects/draw_tags.h"
#include "platform/linux/testing.h"
#include "runtime/runtime_state.h"
#include "scene/layers/transform_matrix.h"
#include "tests/objects/support/object_fixture.h"

namespace qv::testing {
namespace {

constexpr int32_t kObjectWidth = 100, kObjectHeight = 50;

struct Parsed {
    int code = 0;
    qvDrawTransform transform{};
    qvDrawStyle style{};
};

using Check = std::function<void(const Parsed&)>;

bool Near(double a, double b) {
    return std::fabs(a - b) < 1e-12;
}

void ExpectMatrix(const Parsed& p, double a, double b, double c, double d) {
    EXPECT_TRUE(Near(p.transform.matrix[0], a) && Near(p.transform.matrix[1], b) &&
                Near(p.transform.matrix[2], c) && Near(p.transform.matrix[3], d))
        << p.transform.matrix[0] << " " << p.transform.matrix[1] << " " << p.transform.matrix[2]
        << " " << p.transform.matrix[3];
}

class DrawTags : public ObjectFixture {
protected:
    // Runs ParseDrawTags from the defaults (default size 0, smoothing 1) over the arguments,
    // the tags read at argIndex.
    Parsed Parse(const std::vector<Arg>& args, int flags = 0, int argIndex = 1,
                 bool withStyle = true) {
        Parsed p;
        Define("parsetags", [&](qvVmState* L) {
            p.code = ParseDrawTags(L, argIndex, kObjectWidth, kObjectHeight, 0, 0, 1, &p.transform,
                                   withStyle ? &p.style : nullptr, flags | QV_DRAWTAGS_RESET);
            return 0;
        });
        const CallResult r = Call("parsetags", args);
        if (r.code != 0) p.code = r.code;  // raised by a field reader
        return p;
    }
    Parsed ParseTable(std::vector<std::pair<Arg, Arg>> tags, int flags = 0) {
        return Parse({Table(std::move(tags))}, flags);
    }
};

TEST_F(DrawTags, TagTablesAndWhatTheyGive) {
    scene.layerCount = 3;
    const std::string name255(255, 'n');
    const struct {
        const char* what;
        std::vector<std::pair<Arg, Arg>> tags;
        int code;
        Check check;
    } cases[] = {
        {"empty",
         {},
         0,
         [](const Parsed& p) {
             ExpectMatrix(p, 1, 0, 0, 1);
             EXPECT_EQ(p.transform.hasTransform, 0);
             EXPECT_EQ(p.style.anyStyle, 0);
         }},
        {"scalex 0", {{Str("scalex"), Num(0)}}, ERR_WRONGUSAGE, nullptr},
        {"scaley infinite", {{Str("scaley"), Num(INFINITY)}}, ERR_WRONGUSAGE, nullptr},
        {"scalex 2",
         {{Str("scalex"), Num(2)}},
         0,
         [](const Parsed& p) {
             ExpectMatrix(p, 2, 0, 0, 1);
             EXPECT_EQ(p.transform.scaley, 1);
             EXPECT_EQ(p.transform.hasTransform, 1);
         }},
        {"width with a scale",
         {{Str("scaley"), Num(3)}, {Str("width"), Num(400)}},
         0,
         [](const Parsed& p) {
             ExpectMatrix(p, 1, 0, 0, 3);
             EXPECT_EQ(p.transform.width, 0);
         }},
        {"width alone",
         {{Str("width"), Num(200)}},
         0,
         [](const Parsed& p) { ExpectMatrix(p, 2, 0, 0, 1); }},
        {"rotate 370",
         {{Str("rotate"), Num(370)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.transform.rotate, 10);
             EXPECT_EQ(p.transform.smoothscale, 1);
         }},
        {"rotate -30",
         {{Str("rotate"), Num(-30)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.transform.rotate, -30); }},
        {"rotate 90",
         {{Str("rotate"), Num(90)}},
         0,
         [](const Parsed& p) { ExpectMatrix(p, 0, -1, 1, 0); }},
        {"transform",
         {{Str("transform"), List({Num(2), Num(0.5), Num(0), Num(3)})}, {Str("scalex"), Num(0)}},
         0,
         [](const Parsed& p) {
             ExpectMatrix(p, 2, 0.5, 0, 3);
             EXPECT_EQ(p.transform.transformInput[1], 0.5);
             EXPECT_EQ(p.transform.hasTransform, 1);
         }},
        {"transform with d 0",
         {{Str("transform"), List({Num(1), Num(0), Num(0), Num(0)})}},
         ERR_WRONGUSAGE,
         nullptr},
        {"transform of three",
         {{Str("transform"), List({Num(1), Num(0), Num(1)})}},
         ERR_MISSINGPARAMTR,
         nullptr},
        {"anchorx 1.5", {{Str("anchorx"), Num(1.5)}}, ERR_WRONGUSAGE, nullptr},
        {"anchory NaN", {{Str("anchory"), Num(NAN)}}, ERR_WRONGUSAGE, nullptr},
        {"anchors",
         {{Str("anchorx"), Num(0.25)}, {Str("anchory"), Num(1)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.transform.anchorx, 0.25);
             EXPECT_EQ(p.transform.anchory, 1);
         }},
        {"transparency 50%",
         {{Str("transparency"), Str("50%")}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.transparency, 127);
             EXPECT_EQ(p.style.anyStyle, 1);
         }},
        {"transparency 300",
         {{Str("transparency"), Num(300)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.style.transparency, 255); }},
        {"transparency -4",
         {{Str("transparency"), Num(-4)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.style.transparency, 0); }},
        {"transparency 150%", {{Str("transparency"), Str("150%")}}, ERR_PERCENTFORMAT, nullptr},
        {"tint",
         {{Str("tint"), Str("100%")}, {Str("tintcolor"), Num(0xFF8000)}},
         0,
         [](const Parsed& p) {
             const qvLayerFilter& tint = p.style.filters[kFilterTint];
             EXPECT_EQ(tint.enabled, 1);
             EXPECT_EQ(tint.ints[1], 255);
             EXPECT_EQ(tint.ints[0], 0xFF8000);
             EXPECT_EQ(p.style.anyStyle, 1);
         }},
        {"tint 0",
         {{Str("tint"), Num(0)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.style.filters[kFilterTint].enabled, 0); }},
        {"insertpos 99 on 3 layers",
         {{Str("insertpos"), Num(99)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.insertpos, 4);
             EXPECT_EQ(p.style.anyStyle, 0);
         }},
        {"insertpos 2",
         {{Str("insertpos"), Num(2)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.style.anyStyle, 1); }},
        {"insertpos -1", {{Str("insertpos"), Num(-1)}}, ERR_INVINSERT, nullptr},
        {"insertpos unknown name", {{Str("insertpos"), Str("nobody")}}, ERR_FINDLAYER, nullptr},
        {"shadow radius 0.5",
         {{Str("shadow"), Num(1)}, {Str("shadowradius"), Num(0.5)}},
         ERR_WRONGUSAGE,
         nullptr},
        {"no shadow, radius 0.5",
         {{Str("shadow"), Num(0)}, {Str("shadowradius"), Num(0.5)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.style.shadow.radius, 5.0); }},
        {"shadow size -1", {{Str("shadowsize"), Num(-1)}}, ERR_WRONGUSAGE, nullptr},
        {"shadow sigma 0", {{Str("shadowsigma"), Num(0)}}, ERR_WRONGUSAGE, nullptr},
        {"shadow out of range",
         {{Str("shadow"), Num(1)}, {Str("shadowdir"), Num(9)}, {Str("shadowsize"), Num(1000)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.shadow.on, 1);
             EXPECT_EQ(p.style.shadow.direction, 3);
             EXPECT_EQ(p.style.shadow.size, 1000) << "kept as SetLayerShadow keeps it";
             EXPECT_EQ(p.style.anyStyle, 1);
         }},
        {"shadow direction -2",
         {{Str("shadowdir"), Num(-2)}, {Str("shadowsize"), Num(0)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.shadow.direction, 3);
             EXPECT_EQ(p.style.shadow.size, 0) << "a shadow right under its object";
         }},
        {"border size 0",
         {{Str("border"), Num(1)}, {Str("bordersize"), Num(0)}},
         ERR_WRONGUSAGE,
         nullptr},
        {"border off, size 0",
         {{Str("border"), Num(0)}, {Str("bordersize"), Num(0)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.border.on, 0);
             EXPECT_EQ(p.style.border.size, 0);
         }},
        {"border",
         {{Str("border"), Num(1)},
          {Str("bordersize"), Num(99)},
          {Str("bordercolor"), Num(0xFF00FF)}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.border.size, 99) << "kept as SetLayerBorder keeps it";
             EXPECT_EQ(p.style.border.colour, 0xFF00FFu);
             EXPECT_EQ(p.style.anyStyle, 1);
         }},
        {"filters",
         {{Str("filters"), List({Table({{Str("name"), Str("Blur")}})})}},
         0,
         [](const Parsed& p) {
             EXPECT_EQ(p.style.filters[kFilterBlur].enabled, 1);
             EXPECT_EQ(p.style.filters[kFilterBlur].reals[0], 5.0f);
             EXPECT_EQ(p.style.anyStyle, 1);
         }},
        {"bad filter",
         {{Str("filters"), List({Table({{Str("name"), Str("glow")}})})}},
         ERR_UNKNOWNFILTER,
         nullptr},
        {"hidden",
         {{Str("hidden"), Num(1)}},
         0,
         [](const Parsed& p) { EXPECT_EQ(p.style.anyStyle, 1); }},
        {"name of 255",
         {{Str("name"), Str(name255)}},
         0,
         [&](const Parsed& p) { EXPECT_EQ(p.style.name, name255); }},
        {"name of 256", {{Str("name"), Str(name255 + "n")}}, ERR_NAMETOOLONG, nullptr},
        {"a number that is none", {{Str("scalex"), Str("wide")}}, ERR_NUMTABLEARG, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Parsed p = ParseTable(c.tags);
        EXPECT_EQ(p.code, c.code);
        if (c.check) c.check(p);
    }
}

TEST_F(DrawTags, OnlyALastTableCounts) {
    const Parsed notLast = Parse({Table({{Str("scalex"), Num(0)}}), Num(5)});
    EXPECT_EQ(notLast.code, 0);
    EXPECT_EQ(notLast.transform.scalex, 1);
    EXPECT_EQ(Parse({Num(1)}).code, 0);
    EXPECT_EQ(Parse({}).code, 0) << "no tags at all";
    const Parsed needed = Parse({Num(1)}, QV_DRAWTAGS_NEEDTABLE);
    EXPECT_EQ(needed.code, ERR_TABEXPECTED);
    EXPECT_EQ(Runtime().error.number, 1u);
    // Without a style block only the transform half is read.
    const Parsed bare = Parse({Table({{Str("transparency"), Str("bad")}})}, 0, 1, false);
    EXPECT_EQ(bare.code, 0);
}

TEST_F(DrawTags, FlagsChooseWhatIsRead) {
    const std::vector<std::pair<Arg, Arg>> tags = {{Str("width"), Num(300)},
                                                   {Str("rotate"), Num(45)}};
    EXPECT_EQ(ParseTable(tags, QV_DRAWTAGS_NOSIZE).transform.width, 0);
    EXPECT_EQ(ParseTable(tags, QV_DRAWTAGS_NOROTATE).transform.rotate, 0);
    EXPECT_EQ(ParseTable(tags, QV_DRAWTAGS_NOROTATE).transform.width, 300);
    // The default smoothing comes only with a rotation.
    EXPECT_EQ(ParseTable({{Str("width"), Num(5)}}, QV_DRAWTAGS_SMOOTHROTATE).transform.smoothscale,
              0);
    EXPECT_EQ(ParseTable(tags, QV_DRAWTAGS_SMOOTHROTATE).transform.smoothscale, 1);
    EXPECT_EQ(ParseTable({{Str("rotate"), Num(45)}, {Str("smoothscale"), Num(0)}},
                         QV_DRAWTAGS_SMOOTHROTATE)
                  .transform.smoothscale,
              0);
}

TEST_F(DrawTags, TheDefaultsStartAsDesignedAndSetDrawTagsDefaultChangesThem) {
    qvDrawTransform transform;
    qvDrawStyle style;
    ResetDrawTags(&transform, &style, 7, 8, 1, 0);
    EXPECT_EQ(transform.width, 7);
    EXPECT_EQ(transform.smoothscale, 1);
    EXPECT_EQ(style.shadow.colour, 0x80000000u);
    EXPECT_EQ(style.shadow.size, 4);
    EXPECT_EQ(style.shadow.direction, 3);
    EXPECT_EQ(style.shadow.radius, 5.0);
    EXPECT_EQ(style.shadow.sigma, 5.0 / 3.0);
    EXPECT_EQ(style.border.size, 2);
    EXPECT_EQ(style.shadow.on + style.border.on + style.transparency, 0);

    ASSERT_EQ(Call("SetDrawTagsDefault", {Table({{Str("shadow"), Num(1)},
                                                 {Str("shadowsize"), Num(9)},
                                                 {Str("name"), Str("kept?")},
                                                 {Str("width"), Num(33)},
                                                 {Str("scalex"), Num(2)}})})
                  .code,
              0);
    const auto* held = static_cast<const qvDrawStyle*>(gfx::DefaultDrawTags().style);
    ASSERT_NE(held, nullptr);
    EXPECT_STREQ(held->name, "") << "a default name is never kept";
    const Parsed p = ParseTable({{Str("border"), Num(1)}});
    EXPECT_EQ(p.style.shadow.on, 1);
    EXPECT_EQ(p.style.shadow.size, 9);
    EXPECT_EQ(p.style.border.on, 1);
    EXPECT_EQ(p.transform.scalex, 2);
    EXPECT_EQ(p.transform.width, 0) << "sizes are not defaults";

    // A table that fails leaves the defaults as they were.
    EXPECT_EQ(Call("SetDrawTagsDefault", {Table({{Str("anchorx"), Num(2)}})}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(static_cast<const qvDrawStyle*>(gfx::DefaultDrawTags().style)->shadow.size, 9);
}

TEST_F(DrawTags, TransformedSizes) {
    const double big = 1e12;
    const struct {
        double matrix[4];
        int32_t width, height;
        int code;
        int32_t newWidth, newHeight;
    } cases[] = {
        {{1, 0, 0, 1}, 10, 20, 0, 10, 20},
        {{2, 0, 0, 0.5}, 10, 20, 0, 20, 10},
        {{0.01, 0, 0, 0.01}, 10, 20, 0, 1, 1},
        {{big, 0, 0, 1}, 10, 20, ERR_MEM, 0, 0},
        {{1, 0, 0, INFINITY}, 10, 20, ERR_MEM, 0, 0},
        {{3276.8, 0, 0, 1}, 10, 20, 0, 32768, 20},
        {{3276.9, 0, 0, 1}, 10, 20, ERR_MEM, 0, 0},
        {{0, -1, 1, 0}, 10, 20, 0, 20, 10},
        {{-1, 0, 0, 1}, 10, 20, 0, 10, 20},
        {{big, big, big, big}, 10, 20, ERR_MEM, 0, 0},
        {{NAN, 0, 0, 1}, 10, 20, 0, 1, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.matrix[0] << " " << c.matrix[1] << " " << c.matrix[2]
                                          << " " << c.matrix[3]);
        int32_t w = 0, h = 0;
        EXPECT_EQ(TransformedSize(c.matrix, c.width, c.height, &w, &h), c.code);
        if (c.code == 0) {
            EXPECT_EQ(w, c.newWidth);
            EXPECT_EQ(h, c.newHeight);
        }
    }
    // A picture of the display's size scaled by the display's factors covers its scaled size.
    scene.scaling = objects::DisplayScaling{1.5, 1.5, 961, 721, 640, 480};
    const double display[4] = {1.5, 0, 0, 1.5};
    int32_t w = 0, h = 0;
    ASSERT_EQ(TransformedSize(display, 640, 480, &w, &h), 0);
    EXPECT_EQ(w, 961);
    EXPECT_EQ(h, 721);
    ASSERT_EQ(TransformedSize(display, 64, 48, &w, &h), 0);
    EXPECT_EQ(w, 96);
}

TEST(TransformMatrix, SizesScalesAndTurns) {
    const struct {
        int32_t newWidth, newHeight, oldWidth, oldHeight, angle;
        double scaleX, scaleY;
        double matrix[4];
    } cases[] = {
        {0, 0, 10, 20, 0, 2, 3, {2, 0, 0, 3}},     {10, 20, 10, 20, 0, 2, 3, {2, 0, 0, 3}},
        {20, 0, 10, 20, 0, 2, 3, {2, 0, 0, 1}},    {5, 5, 0, 0, 0, 1, 1, {1, 0, 0, 1}},
        {0, 0, 10, 10, 180, 1, 1, {-1, 0, 0, -1}}, {0, 0, 10, 10, -90, 2, 1, {0, 2, -1, 0}},
        {0, 0, 10, 10, 450, 1, 1, {0, -1, 1, 0}},
    };
    for (const auto& c : cases) {
        double m[4];
        MakeTransformMatrix(m, c.newWidth, c.newHeight, c.oldWidth, c.oldHeight, c.angle, c.scaleX,
                            c.scaleY);
        for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(m[i], c.matrix[i]) << c.angle << " " << i;
    }
    double m[4];
    MakeTransformMatrix(m, 0, 0, 10, 10, 30, 1, 1);
    EXPECT_DOUBLE_EQ(m[0], std::cos(330 * std::numbers::pi / 180));
    EXPECT_DOUBLE_EQ(m[1], std::sin(330 * std::numbers::pi / 180));
}

class ShapeEffects : public ObjectFixture {
protected:
    qvDrawStyle style{};
    OwnedBitMap bitmap{AllocDisplayBitMap(8, 2)};
    qvPlaneBitMap* mask = nullptr;
    qvPlaneBitMap* alpha = nullptr;

    void SetUp() override { RectFill(bitmap.get(), 0, 0, 8, 2, 0x102030); }
    void TearDown() override {
        if (mask != nullptr) FreePlaneBitMap(mask);
        if (alpha != nullptr) FreePlaneBitMap(alpha);
    }
    uint8_t Alpha(int32_t x, int32_t y) const { return alpha->plane[y * alpha->bytesPerRow + x]; }
};

TEST_F(ShapeEffects, TransparencyScalesOrMakesAnAlphaPlane) {
    style.transparency = 55;
    // Neither plane: one of 200.
    ASSERT_EQ(ApplyShapeEffects(&style, bitmap.get(), &mask, &alpha, 8, 2), 0);
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(Alpha(7, 1), 200);
    // An alpha plane is scaled.
    alpha->plane[0] = 128;
    ApplyShapeEffects(&style, bitmap.get(), &mask, &alpha, 8, 2);
    EXPECT_EQ(Alpha(0, 0), 128 * 200 / 255);
    EXPECT_EQ(Alpha(7, 1), 200 * 200 / 255);
    FreePlaneBitMap(alpha);
    alpha = nullptr;
    // A mask becomes an alpha plane of 200 where it was set.
    mask = AllocMaskBitMap(nullptr, 8, 2, 1);
    FillMaskRect(mask, 0, 0, 3, 2, 0);
    ApplyShapeEffects(&style, bitmap.get(), &mask, &alpha, 8, 2);
    EXPECT_EQ(mask, nullptr);
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(Alpha(2, 1), 200);
    EXPECT_EQ(Alpha(3, 1), 0);
}

TEST_F(ShapeEffects, NoPlaneLeavesThePictureOpaque) {
    style.transparency = 10;
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(ApplyShapeEffects(&style, bitmap.get(), &mask, &alpha, 8, 2), 0);
    }
    EXPECT_EQ(alpha, nullptr);
    EXPECT_EQ(ApplyShapeEffects(nullptr, bitmap.get(), &mask, &alpha, 8, 2), 0);
}

TEST_F(ShapeEffects, FiltersRunOnThePicture) {
    style.filters[kFilterInvert].enabled = 1;
    ASSERT_EQ(ApplyShapeEffects(&style, bitmap.get(), &mask, &alpha, 8, 2), 0);
    EXPECT_EQ(ReadBitMapPixel(bitmap.get(), 5, 1), Stored(0xEFDFCF));
    EXPECT_EQ(alpha, nullptr);
}

}  // namespace
}  // namespace qv::testing
