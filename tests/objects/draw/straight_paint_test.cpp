// Shapes of one colour and one layer blitted into a redirected bitmap skip their image: the
// coverage goes straight into the bitmap. Each case is drawn both ways, over a patterned
// bitmap, and must leave the same pixels.
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <span>

#include "engine/error_codes.h"
#include "gfx/kernels/rows.h"
#include "gfx/pixel_format.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_engine.h"
#include "objects/draw/shape_geometry.h"
#include "objects/draw/shape_output.h"
#include "objects/scene_seam.h"
#include "platform/linux/testing.h"
#include "tests/objects/draw/draw_test_support.h"
#include "tests/objects/draw/pattern_brush.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

constexpr int32_t kWidth = 80, kHeight = 60;

struct Case {
    const char* name;
    int32_t type;  // BOX (rounded) or CIRCLE
    int32_t x, y;
    int32_t fillStyle, lineWidth;
    bool antialias;
    uint32_t colour;  // 0xAARRGGBB
    // A ring and a shadow (0: none), 0xAARRGGBB, and the shadow's direction.
    uint32_t border = 0, shadow = 0;
    uint32_t direction = 3;
    int32_t boxWidth = 36;
};

class StraightPaint : public LibFixture {
protected:
    StraightPaint() : LibFixture(OpenLibraries<RegisterDrawLibrary>) {}
    ~StraightPaint() override { FreeDrawBuffers(L); }

    qvShapeDesc Desc(const Case& c, qvDrawState* state) {
        ResetDrawState(state);
        state->fillStyle = c.fillStyle, state->lineWidth = c.lineWidth;
        state->formStyle = uint32_t(c.antialias ? ANTIALIAS : NORMAL) |
                           (c.border != 0 ? uint32_t(EDGE) : 0u) |
                           (c.shadow != 0 ? uint32_t(SHADOW) : 0u);
        state->borderColour = c.border, state->borderSize = 3;
        state->shadowColour = c.shadow, state->shadowSize = 5;
        state->shadowDirection = c.direction;
        qvShapeDesc d{};
        d.type = c.type, d.x = c.x, d.y = c.y, d.colour = c.colour, d.drawState = state;
        if (c.type == CIRCLE) {
            d.radiusX = d.radiusY = 15, d.width = d.height = 31;
        } else {
            d.width = c.boxWidth, d.height = 24;
            for (int32_t& level : d.cornerLevels) level = 50;
        }
        return d;
    }
    // The image road, as the engine takes it for a shape that must keep its image.
    void DrawThroughImage(const Case& c) {
        qvDrawState state{};
        qvShapeDesc d = Desc(c, &state);
        const ShapeTransform identity;
        ScaleStyle(&state, identity.matrix);
        ClampStyleParams(&state);
        ASSERT_EQ(PrepareShapeGeometry(DrawShapeWork(), &d, identity), 0);
        ShapeImage image;
        ASSERT_EQ(RenderPreparedShape(L, d, identity, c.x, c.y, &image, ImageUse::kBlittedOnce), 0);
        BlitShapeImage(L, brush.bitmap.get(), image.bitmap.get(), image.mask.get(),
                       image.alpha.get(), image.x, image.y, image.width, image.height);
    }
    void DrawStraight(const Case& c) {
        qvDrawState state{};
        const qvShapeDesc d = Desc(c, &state);
        ASSERT_EQ(DrawShapeEx(L, &d, 0), 0);
    }
    std::vector<uint32_t> Pixels() const {
        std::vector<uint32_t> out;
        for (int32_t y = 0; y < kHeight; ++y) {
            for (int32_t x = 0; x < kWidth; ++x)
                out.push_back(ReadBitMapPixel(brush.bitmap.get(), x, y));
        }
        return out;
    }

    // Each case both ways over the patterned bitmap, in every depth, with and without a
    // rectangular clip region.
    void ExpectBothRoadsAlike(const Case* cases, size_t count) {
        for (uint32_t format : {QV_FMT_R5G6B5, QV_FMT_R8G8B8, QV_FMT_A8R8G8B8}) {
            platform::testing::ScopedScreenFormat screen(format);
            for (const bool clipped : {false, true}) {
                SceneDisplay scene(Solid(kWidth, kHeight, 0));
                scene.view.layersEnabled = false;
                scene.view.outputType = gfx::kTargetBrush;
                qvClipRegion region{};
                region.x = 14, region.y = 9, region.width = 30, region.height = 25;
                if (clipped) scene.output->clipRegion = &region;
                for (const Case& c : std::span(cases, count)) {
                    SCOPED_TRACE(::testing::Message()
                                 << c.name << " format " << format << (clipped ? " clipped" : ""));
                    brush.Fill();
                    DrawThroughImage(c);
                    const std::vector<uint32_t> expected = Pixels();
                    brush.Fill();
                    DrawStraight(c);
                    EXPECT_EQ(Pixels(), expected);
                }
                scene.output->clipRegion = nullptr;
            }
        }
    }

    SceneObjects objects;
    PatternBrush brush{kWidth, kHeight};
};

TEST_F(StraightPaint, GivesThePixelsOfTheImageRoad) {
    const Case cases[] = {
        {"aa fill", CIRCLE, 20, 15, FILLCOLOR, 1, true, 0x00E0A020},
        {"hard fill", CIRCLE, 20, 15, FILLCOLOR, 1, false, 0x00E0A020},
        {"transparent aa fill", BOX, 20, 15, FILLCOLOR, 1, true, 0x7020C040},
        {"transparent hard fill", BOX, 20, 15, FILLCOLOR, 1, false, 0x7020C040},
        {"aa outline", CIRCLE, 20, 15, FILLNONE, 1, true, 0x00FF0000},
        {"thick outline", BOX, 20, 15, FILLNONE, 5, false, 0x300000FF},
        {"thick aa outline", CIRCLE, 20, 15, FILLNONE, 6, true, 0x00FFFFFF},
        {"cut left", CIRCLE, -12, 10, FILLCOLOR, 1, true, 0x00E0A020},
        {"cut top", BOX, 30, -10, FILLCOLOR, 1, true, 0x2020C040},
        {"cut right", BOX, 60, 20, FILLNONE, 3, true, 0x00E0A020},
        {"cut bottom", CIRCLE, 40, 45, FILLCOLOR, 1, false, 0x00E0A020},
        {"outside", CIRCLE, 200, 200, FILLCOLOR, 1, true, 0x00E0A020},
    };
    ExpectBothRoadsAlike(cases, std::size(cases));
}

// Fills under a ring or a shadow: the layers are composed per pixel as the image holds them.
TEST_F(StraightPaint, LayeredShapesGiveThePixelsOfTheImageRoad) {
    const Case cases[] = {
        {"ring and shadow", CIRCLE, 20, 15, FILLCOLOR, 1, true, 0x00E0A020, 0x002040C0, 0x00202020},
        {"ring", BOX, 20, 15, FILLCOLOR, 1, true, 0x00E0A020, 0x002040C0, 0},
        {"shadow", CIRCLE, 20, 15, FILLCOLOR, 1, true, 0x00E0A020, 0, 0x00202020, 5},
        {"transparent fill", BOX, 20, 15, FILLCOLOR, 1, true, 0x8020C040, 0x002040C0, 0x00404040},
        {"transparent ring and shadow", CIRCLE, 20, 15, FILLCOLOR, 1, true, 0x00E0A020, 0x602040C0,
         0xA0202020, 7},
        {"hard, transparent", BOX, 20, 15, FILLCOLOR, 1, false, 0x4020C040, 0x002040C0, 0x00202020},
        {"hard, transparent shadow", CIRCLE, 20, 15, FILLCOLOR, 1, false, 0x00E0A020, 0x002040C0,
         0x80202020, 1},
        {"invisible fill", CIRCLE, 20, 15, FILLCOLOR, 1, true, 0xFFE0A020, 0x002040C0, 0x00202020},
        {"cut left", CIRCLE, -12, 10, FILLCOLOR, 1, true, 0x00E0A020, 0x002040C0, 0x00202020},
        {"cut top", BOX, 30, -10, FILLCOLOR, 1, true, 0x2020C040, 0x002040C0, 0x00202020, 0},
        {"cut right", BOX, 60, 20, FILLCOLOR, 1, true, 0x00E0A020, 0x302040C0, 0x00202020, 2},
        {"cut bottom", CIRCLE, 40, 45, FILLCOLOR, 1, true, 0x00E0A020, 0x002040C0, 0x00202020, 4},
        {"outside", CIRCLE, 200, 200, FILLCOLOR, 1, true, 0x00E0A020, 0x002040C0, 0x00202020},
        {"wide", BOX, 3, 20, FILLCOLOR, 1, true, 0x00E0A020, 0x002040C0, 0x00202020, 3, 70},
    };
    ExpectBothRoadsAlike(cases, std::size(cases));
    // Rows longer than the width, in the brush and in every plane.
    platform::testing::SetExtraRowPadding(3);
    ExpectBothRoadsAlike(cases, 1);
    platform::testing::SetExtraRowPadding(0);
}

// Shapes wider than the glyph rows take the wide paint rows, which must give the pixels of
// the image's alpha blit too.
TEST_F(StraightPaint, WideShapesGiveThePixelsOfTheImageRoad) {
    const Case cases[] = {
        {"aa fill", BOX, 3, 20, FILLCOLOR, 1, true, 0x00E0A020, 0, 0, 3, 70},
        {"hard fill", BOX, 3, 20, FILLCOLOR, 1, false, 0x00E0A020, 0, 0, 3, 70},
        {"transparent aa fill", BOX, 5, 18, FILLCOLOR, 1, true, 0x7020C040, 0, 0, 3, 69},
        {"transparent hard fill", BOX, 5, 18, FILLCOLOR, 1, false, 0x7020C040, 0, 0, 3, 69},
        {"cut left", BOX, -9, 25, FILLCOLOR, 1, true, 0x00E0A020, 0, 0, 3, 77},
        {"cut right", BOX, 10, 5, FILLCOLOR, 1, true, 0x3020C040, 0, 0, 3, 73},
    };
    ExpectBothRoadsAlike(cases, std::size(cases));
}

// Every allocation of the layered road failing in turn gives ERR_MEM and leaves the brush as
// it was.
TEST_F(StraightPaint, LayeredShapeOutOfMemoryChangesNothing) {
    SceneDisplay scene(Solid(kWidth, kHeight, 0));
    scene.view.layersEnabled = false;
    scene.view.outputType = gfx::kTargetBrush;
    const Case layered{"ring and shadow", CIRCLE,     20,        15, FILLCOLOR, 1, true,
                       0x00E0A020,        0x002040C0, 0x00202020};
    brush.Fill();
    const std::vector<uint32_t> before = Pixels();
    int failures = 0;
    for (uint64_t n = 1; n < 20; ++n) {
        qvDrawState state{};
        const qvShapeDesc d = Desc(layered, &state);
        int code = 0;
        {
            AllocationFault fault(n, false);
            code = DrawShapeEx(L, &d, 0);
        }
        if (code == 0) break;
        EXPECT_EQ(code, ERR_MEM) << n;
        EXPECT_EQ(Pixels(), before) << n;
        ++failures;
    }
    EXPECT_GE(failures, 3) << "two coverage planes and the scratch rows at least";
}

}  // namespace
}  // namespace qv::testing
