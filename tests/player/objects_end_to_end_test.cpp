// Objects shown by applets on headless displays, read back from the last frame (pngtopnm) or
// from the debug output: a brush drawn into the shown picture while it is selected, a scaled
// and anchored brush with layers off and on, a turned brush with layers off and on, vector and
// bitmap brushes turned, anti-aliased text over its own shadow and edge, and the transparency a
// text layer keeps.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class ObjectsEndToEnd : public EndToEndTest {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("pngtopnm"); }

    // Runs the fixture on a display of that size; the last frame, or an empty picture.
    Picture LastFrame(const std::string& fixture, int width, int height,
                      const std::string& out = "") {
        Applet("a.qva", fixture,
               {"--display", "1:" + std::to_string(width) + ":" + std::to_string(height) + ":T"});
        scratch.MakeDir("frames");
        const Outcome o =
            Player({"a.qva", "-QUIET"}, "",
                   {"QV_SCREEN_FORMAT=10", "QV_HEADLESS_FRAMES=" + (scratch / "frames")});
        EXPECT_FALSE(o.hung);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.out.substr(0, out.size()), out);
        const std::string frame = LastFileIn(scratch / "frames");
        if (frame.empty()) return {};
        return ReadPpm("pngtopnm " + frame + " 2>/dev/null");
    }
};

// The pixels of a square's corners just inside and just outside it.
void ExpectSquare(const Picture& p, int x0, int y0, int x1, int y1, uint32_t colour,
                  const char* what) {
    EXPECT_EQ(p.At(x0, y0), colour) << what;
    EXPECT_EQ(p.At(x1, y1), colour) << what;
    EXPECT_EQ(p.At(x0 - 1, y0 - 1), 0u) << what;
    EXPECT_EQ(p.At(x1 + 1, y1 + 1), 0u) << what;
}

TEST_F(ObjectsEndToEnd, ABrushDrawnIntoTheSelectedShownPictureReachesTheWindow) {
    const Picture p = LastFrame("shown_picture_selection", 32, 32);
    ASSERT_EQ(p.width, 32);
    ExpectSquare(p, 10, 10, 17, 17, 0xFF0000, "brush at 10, 10");
}

TEST_F(ObjectsEndToEnd, TheAnchorTakesTheSizeBeforeScalingWithLayersOffAndOn) {
    const Picture p = LastFrame("anchored_scaled_brush", 160, 80);
    ASSERT_EQ(p.width, 160);
    // 20 x 20 doubled about its centre: 40 - 10 - 10 = 20 to 59 (not 10 to 49).
    ExpectSquare(p, 20, 20, 59, 59, 0x00FF00, "layers off");
    ExpectSquare(p, 100, 20, 139, 59, 0x00FF00, "layers on");
}

// A brush turned or scaled by its drawing tags lands where the layer of the same call does:
// the row drawn with layers off (y 0 to 49) and the row of layers (y 50 to 99) are alike
// pixel for pixel, for quarter, half and three-quarter turns and a 2 x 3 scale about the
// middle, a half turn about the corner and an eighth turn.
TEST_F(ObjectsEndToEnd, ATurnedBrushLandsAlikeWithLayersOffAndOn) {
    const Picture p = LastFrame("turned_brush_roads", 240, 100);
    ASSERT_EQ(p.width, 240);
    for (int x0 = 0; x0 < 240; x0 += 40) {
        int differing = 0, inked = 0;
        for (int y = 0; y < 50; ++y) {
            for (int x = x0; x < x0 + 40; ++x) {
                differing += p.At(x, y) != p.At(x, y + 50) ? 1 : 0;
                inked += p.At(x, y) != 0 ? 1 : 0;
            }
        }
        EXPECT_EQ(differing, 0) << "the case at x = " << x0 + 20;
        EXPECT_GE(inked, 35) << "the case at x = " << x0 + 20;
    }
}

TEST_F(ObjectsEndToEnd, AVectorBrushTurnsLikeABitmapBrushAndKeepsItsPixels) {
    std::filesystem::copy_file(std::filesystem::path(QV_PLUGIN_VARIANT_DIR) / "picture.qvp",
                               scratch / "libs/Quorvella/picture.qvp");
    const Picture p = LastFrame("vector_brush_turns", 200, 200);
    ASSERT_EQ(p.width, 200);
    const auto red = [&](int x0, int y0) {
        int n = 0;
        for (int y = y0; y < y0 + 100; ++y) {
            for (int x = x0; x < x0 + 100; ++x) n += p.At(x, y) == 0xFF0000 ? 1 : 0;
        }
        return n;
    };
    // A quarter turn of 80 x 60 covers 60 x 80; the eighth turns cover the same count.
    EXPECT_EQ(red(0, 0), 4800);
    EXPECT_EQ(red(100, 0), 4800);
    EXPECT_EQ(red(0, 100), red(100, 100));
    EXPECT_GT(red(100, 100), 4700);
}

// Four rows of 50 pixels: the text alone, over a shadow 2 to the south-east, with an edge, with
// both; all white over black, so a pixel's grey is its opacity. Drawing more under a text
// never makes a pixel darker than what lies there without it.
TEST_F(ObjectsEndToEnd, AntiAliasedTextComposesOverItsShadowAndEdge) {
    const Picture p = LastFrame("text_over_shadow", 120, 200);
    ASSERT_EQ(p.width, 120);
    const auto grey = [&](int x, int y) { return x < 0 || y < 0 ? 0 : int(p.At(x, y) & 0xFF); };
    int darkerOverShadow = 0, darkerOverEdge = 0, inked = 0;
    for (int y = 0; y < 50; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const int alone = grey(x, y), shadowAlone = grey(x - 2, y - 2);
            inked += alone == 255 ? 1 : 0;
            if (grey(x, y + 50) < std::max(alone, shadowAlone) - 1) ++darkerOverShadow;
            if (grey(x, y + 150) < grey(x, y + 100) - 1) ++darkerOverEdge;
        }
    }
    EXPECT_GT(inked, 50);
    EXPECT_EQ(darkerOverShadow, 0);
    EXPECT_EQ(darkerOverEdge, 0);
}

TEST_F(ObjectsEndToEnd, ATextLayerKeepsTheTagTransparencyUnlessTheColourHasOne) {
    const Picture p = LastFrame("text_layer_transparency", 100, 60, "128\n64\n");
    ASSERT_EQ(p.width, 100);
    // White at transparency 128 over black.
    int half = 0, brighter = 0;
    for (int y = 20; y < 38; ++y) {
        for (int x = 20; x < 60; ++x) {
            half += p.At(x, y) == 0x7F7F7F ? 1 : 0;
            brighter += (p.At(x, y) & 0xFF) > 0x80 ? 1 : 0;
        }
    }
    EXPECT_GT(half, 10);
    EXPECT_EQ(brighter, 0);
}

}  // namespace
}  // namespace qv::testing
