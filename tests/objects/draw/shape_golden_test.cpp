// Golden pixels of filled circles and rounded boxes painted through the shape engine into a
// patterned brush: sizes on both sides of the narrow paint rows' width, odd radii, hard and
// anti-aliased edges, opaque and transparent colours, shapes cut at each edge of the brush or
// by a clip region, in 16-, 24- and both kinds of 32-bit pixels. The brush's bytes after each
// case are hashed; the hashes pin today's output to the byte, so that a faster road is proven
// to paint the same. A changed hash is printed with its case; pin a new one only for a meant
// change.
#include <gtest/gtest.h>

#include <algorithm>

#include "gfx/kernels/rows.h"
#include "gfx/pixel_format.h"
#include "objects/draw/draw_library.h"
#include "objects/draw/draw_state.h"
#include "objects/draw/shape_engine.h"
#include "objects/draw/shape_geometry.h"
#include "objects/scene_seam.h"
#include "platform/linux/testing.h"
#include "tests/gfx/support/fnv_hash.h"
#include "tests/objects/draw/pattern_brush.h"
#include "tests/scene/support/layer_scene.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

using namespace qv::draw;
using namespace qv::test;

constexpr int32_t kWidth = 230, kHeight = 150;
constexpr uint32_t kFormats[] = {QV_FMT_R5G6B5, QV_FMT_R8G8B8, QV_FMT_A8R8G8B8, QV_FMT_B8G8R8A8};

struct Shape {
    int32_t type;  // CIRCLE (size: the radius) or BOX (size: width; corner level 50)
    int32_t x, y, size, height;
    bool antialias;
    uint32_t colour;  // 0xAARRGGBB
};

struct Case {
    const char* name;
    Shape shapes[3];
    int32_t count;
    bool clipped;  // a clip region cuts every shape
    uint64_t hash;
};

class ShapeGolden : public LibFixture {
protected:
    ShapeGolden() : LibFixture(OpenLibraries<RegisterDrawLibrary>) {}
    ~ShapeGolden() override { FreeDrawBuffers(L); }

    void Draw(const Shape& s) {
        qvDrawState state{};
        ResetDrawState(&state);
        state.fillStyle = FILLCOLOR;
        state.formStyle = s.antialias ? ANTIALIAS : NORMAL;
        qvShapeDesc d{};
        d.type = s.type, d.x = s.x, d.y = s.y, d.colour = s.colour, d.drawState = &state;
        if (s.type == CIRCLE) {
            d.radiusX = d.radiusY = s.size, d.width = d.height = 2 * s.size + 1;
        } else {
            d.width = s.size, d.height = s.height;
            std::fill(std::begin(d.cornerLevels), std::end(d.cornerLevels), 50);
        }
        ASSERT_EQ(DrawShapeEx(L, &d, 0), 0);
    }

    // The case in every format, one hash over all of them.
    uint64_t HashOf(const Case& c) {
        qv::test::FnvHash hash;
        for (uint32_t format : kFormats) {
            platform::testing::ScopedScreenFormat screen(format);
            SceneDisplay scene(Solid(kWidth, kHeight, 0));
            scene.view.layersEnabled = false;
            scene.view.outputType = gfx::kTargetBrush;
            qvClipRegion region{};
            region.x = 31, region.y = 17, region.width = 150, region.height = 101;
            if (c.clipped) scene.output->clipRegion = &region;
            brush.Fill();
            for (int32_t i = 0; i < c.count; ++i) Draw(c.shapes[i]);
            hash.Add(brush.bitmap.get());
            scene.output->clipRegion = nullptr;
        }
        return hash.value;
    }

    SceneObjects objects;
    PatternBrush brush{kWidth, kHeight};
};

TEST_F(ShapeGolden, FilledCirclesAndRoundedBoxesKeepTheirPixels) {
    constexpr uint32_t kOpaque = 0x00E0A020, kSeeThrough = 0x6020C040;
    const Case cases[] = {
        {"small circles",
         {{CIRCLE, 10, 10, 7, 0, true, kOpaque}, {CIRCLE, 40, 12, 9, 0, false, kSeeThrough}},
         2,
         false,
         0x7b7524f7c019119c},
        {"narrow circle aa",
         {{CIRCLE, 60, 40, 29, 0, true, kOpaque}},
         1,
         false,
         0xb7826ca3eb97a773},
        {"wide circle aa", {{CIRCLE, 50, 5, 67, 0, true, kOpaque}}, 1, false, 0x6eeb6d28a1063b7c},
        {"wide circle hard",
         {{CIRCLE, 50, 5, 67, 0, false, kOpaque}},
         1,
         false,
         0x665220ab0e93296b},
        {"wide circle aa transparent",
         {{CIRCLE, 45, 3, 71, 0, true, kSeeThrough}},
         1,
         false,
         0x960f61731b114bbc},
        {"wide circle hard transparent",
         {{CIRCLE, 45, 3, 71, 0, false, kSeeThrough}},
         1,
         false,
         0x46a43e245993126f},
        {"rounded boxes",
         {{BOX, 7, 9, 131, 57, true, kOpaque}, {BOX, 60, 70, 97, 61, false, kOpaque}},
         2,
         false,
         0x002fc5ff2bfa4e50},
        {"rounded boxes transparent",
         {{BOX, 7, 9, 131, 57, true, kSeeThrough}, {BOX, 60, 70, 97, 61, false, kSeeThrough}},
         2,
         false,
         0x3baaec5063439a5c},
        {"cut left",
         {{CIRCLE, -40, 20, 55, 0, true, kOpaque}, {BOX, -50, 90, 120, 40, false, kSeeThrough}},
         2,
         false,
         0xe517c7f9a3f118b6},
        {"cut top",
         {{CIRCLE, 30, -60, 61, 0, true, kSeeThrough}, {BOX, 140, -20, 77, 50, false, kOpaque}},
         2,
         false,
         0x09454daf3d828fdb},
        {"cut right",
         {{CIRCLE, 170, 20, 45, 0, false, kOpaque}, {BOX, 150, 90, 150, 41, true, kOpaque}},
         2,
         false,
         0x4e560c32adec1992},
        {"cut bottom",
         {{CIRCLE, 40, 100, 49, 0, false, kSeeThrough}, {BOX, 120, 120, 99, 80, true, kSeeThrough}},
         2,
         false,
         0x5a22551fa1af8be1},
        {"clip region",
         {{CIRCLE, 20, 0, 73, 0, true, kOpaque},
          {BOX, 5, 60, 210, 75, false, kSeeThrough},
          {CIRCLE, 120, 30, 40, 0, false, kOpaque}},
         3,
         true,
         0x194119a990aed399},
    };
    for (const Case& c : cases) {
        const uint64_t hash = HashOf(c);
        EXPECT_EQ(hash, c.hash) << c.name << " hashes to 0x" << std::hex << hash;
    }
}

}  // namespace
}  // namespace qv::testing
