// Scaled displays through the real player, headless: the window's size and where the layers'
// edges land under layer scaling, read back from the frames (QV_HEADLESS_FRAMES) through
// netpbm's pngtopnm.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class ScaledDisplayEndToEnd : public EndToEndTest {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("pngtopnm"); }

    // The frames that a run wrote, in present order, by the window's opening number.
    std::map<int, std::vector<Picture>> Run(const std::string& applet,
                                            std::vector<std::string> args,
                                            const std::string& report) {
        std::filesystem::copy_file(std::filesystem::path(QV_TEST_PLUGIN_DIR) / "vectorgraphics.qvp",
                                   scratch / "libs/Quorvella/vectorgraphics.qvp",
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::remove_all(scratch / "frames");
        scratch.MakeDir("frames");
        args.insert(args.begin(), {applet, "-QUIET"});
        const Outcome o = Player(args, "", {"QV_HEADLESS_FRAMES=" + (scratch / "frames")});
        Expect(o, report, "", 0);
        std::vector<std::string> names = FilesIn(scratch / "frames");
        std::sort(names.begin(), names.end());
        std::map<int, std::vector<Picture>> frames;
        for (const std::string& name : names) {
            const int window = std::atoi(name.substr(name.rfind("-w") + 2).c_str());
            frames[window].push_back(ReadPpm("pngtopnm " + name + " 2>/dev/null"));
        }
        return frames;
    }
};

// A stretch of one colour along a row or a column: where it starts and how long it is.
struct Stretch {
    uint32_t colour;
    int start, length;
};

std::vector<Stretch> StretchesAlong(const Picture& p, bool row, int at) {
    std::vector<Stretch> runs;
    const int count = row ? p.width : p.height;
    for (int i = 0; i < count; ++i) {
        const uint32_t c = row ? p.At(i, at) : p.At(at, i);
        if (runs.empty() || runs.back().colour != c) {
            runs.push_back({c, i, 1});
        } else {
            ++runs.back().length;
        }
    }
    return runs;
}

// Two 40 x 40 red box paths with a white edge of 4 (one from the form style, one from the
// drawing tags' border), at (5, 5) and (55, 55) of a 100 x 100 display scaled by its layers:
// along the rows and columns through their middles, the edge is 4 pixels scaled on each side
// of the scaled fill, and begins 4 scaled pixels before it.
TEST_F(ScaledDisplayEndToEnd, PathEdgesKeepTheirWidthOnEverySideUnderLayerScaling) {
    Applet("edges.qva", "path_edges_scaled", {"--display", "1:100:100:Edges"});
    for (int percent : {200, 150}) {
        SCOPED_TRACE(percent);
        const std::string size = std::to_string(percent);
        const std::vector<Picture> frames =
            Run("edges.qva", {"-LAYERSCALE", "-SCALEWIDTH", size, "-SCALEHEIGHT", size}, "")[1];
        ASSERT_FALSE(frames.empty());
        const Picture& frame = frames.back();
        ASSERT_EQ(frame.width, percent);
        const auto scaled = [&](int v) { return v * percent / 100; };
        for (int origin : {5, 55}) {
            for (bool row : {true, false}) {
                SCOPED_TRACE(std::to_string(origin) + (row ? " row" : " column"));
                const std::vector<Stretch> runs = StretchesAlong(frame, row, scaled(origin + 20));
                // The line meets one box: the edge, the fill and the edge between black.
                std::vector<Stretch> shape;
                for (const Stretch& r : runs) {
                    if (r.colour != 0) shape.push_back(r);
                }
                ASSERT_EQ(shape.size(), 3u);
                const Stretch &before = shape[0], &fill = shape[1], &after = shape[2];
                EXPECT_EQ(before.colour, 0xFFFFFFu);
                EXPECT_EQ(fill.colour, 0xFF0000u);
                EXPECT_EQ(after.colour, 0xFFFFFFu);
                EXPECT_NEAR(before.start, scaled(origin - 4), 1);
                EXPECT_NEAR(before.length, scaled(4), 1);
                EXPECT_NEAR(fill.length, scaled(40), 1);
                EXPECT_NEAR(after.length, scaled(4), 1);
            }
        }
    }
}

// The bounding box of the pixels of one colour: x0, y0, x1, y1 (exclusive); and their count.
struct ColourBox {
    int x0 = INT32_MAX, y0 = INT32_MAX, x1 = 0, y1 = 0, count = 0;
};

ColourBox BoxOf(const Picture& p, uint32_t colour) {
    ColourBox b;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            if (p.At(x, y) != colour) continue;
            b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
            b.x1 = std::max(b.x1, x + 1), b.y1 = std::max(b.y1, y + 1);
            ++b.count;
        }
    }
    return b;
}

// A turned box path with a border of 4 as a layer of a display that its layers scale: the
// border is a ring of the border's width around the fill (its area that of a 48-pixel square
// less the 40-pixel fill, scaled), as wide beyond the fill on one side as on the other.
TEST_F(ScaledDisplayEndToEnd, ATurnedPathLayerKeepsItsBorderAroundItUnderLayerScaling) {
    Applet("turned.qva", "path_border_turned", {"--display", "1:100:100:Turned"});
    for (int percent : {100, 150, 200}) {
        SCOPED_TRACE(percent);
        const std::string size = std::to_string(percent);
        const std::vector<Picture> frames =
            Run("turned.qva", {"-LAYERSCALE", "-SCALEWIDTH", size, "-SCALEHEIGHT", size}, "")[1];
        ASSERT_FALSE(frames.empty());
        const ColourBox fill = BoxOf(frames.back(), 0xFF0000);
        const ColourBox border = BoxOf(frames.back(), 0xFFFFFF);
        const double area = percent * percent / 10000.0;
        EXPECT_NEAR(fill.count, 40 * 40 * area, 40 * area);
        EXPECT_NEAR(border.count, (48 * 48 - 40 * 40) * area, 40 * area);
        const int left = fill.x0 - border.x0, right = border.x1 - fill.x1;
        const int top = fill.y0 - border.y0, bottom = border.y1 - fill.y1;
        EXPECT_GT(left, 0);
        EXPECT_GT(top, 0);
        EXPECT_NEAR(left, right, 2);
        EXPECT_NEAR(top, bottom, 2);
    }
}

// How many pixels of the picture have the colour in the rectangle [x0, x1) x [y0, y1).
int CountColour(const Picture& p, uint32_t colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) n += p.At(x, y) == colour;
    }
    return n;
}

// A display created 40 x 30 with a scale size of 80 x 60 (autoscaled, then scaled by its
// layers) opens an 80 x 60 window whose picture fills it: a box over the top left quarter of
// the display covers the top left quarter of the window.
TEST_F(ScaledDisplayEndToEnd, ACreatedDisplayOpensAtItsScaleSize) {
    Applet("created.qva", "created_scaled_displays", {"--display", "1:64:48:First"});
    std::map<int, std::vector<Picture>> windows = Run("created.qva", {}, "");
    for (int window : {2, 3}) {
        SCOPED_TRACE(window);
        const std::vector<Picture>& frames = windows[window];
        ASSERT_FALSE(frames.empty());
        const Picture& frame = frames.back();
        ASSERT_EQ(frame.width, 80);
        ASSERT_EQ(frame.height, 60);
        EXPECT_EQ(CountColour(frame, 0x00FF00, 0, 0, 40, 30), 40 * 30);
        EXPECT_EQ(CountColour(frame, 0xFF0000, 0, 0, 80, 60), 80 * 60 - 40 * 30);
    }
}

// A 64 x 48 display letterboxed into a 64 x 36 window (48 x 36 between strips of 8), then
// "keepproportions" turned off: the window stays 64 x 36 and the picture stretches over it.
TEST_F(ScaledDisplayEndToEnd, KeepProportionsOffStretchesThePictureOverTheWindow) {
    Applet("keep.qva", "keepproportions_off", {"--display", "1:64:48:Keep"});
    for (const char* mode : {"-LAYERSCALE", "-AUTOSCALE"}) {
        SCOPED_TRACE(mode);
        std::map<int, std::vector<Picture>> windows = Run(
            "keep.qva", {mode, "-SCALEWIDTH", "64", "-SCALEHEIGHT", "36", "-KEEPPROPORTIONS"}, "");
        const std::vector<Picture>& before = windows[1];
        ASSERT_EQ(before.size(), 1u);
        EXPECT_EQ(CountColour(before[0], 0xFF0000, 8, 0, 56, 36), 48 * 36);
        EXPECT_EQ(CountColour(before[0], 0, 0, 0, 64, 36), 2 * 8 * 36);
        // The window reopens.
        const std::vector<Picture>& after = windows[2];
        ASSERT_EQ(after.size(), 1u);
        ASSERT_EQ(after[0].width, 64);
        ASSERT_EQ(after[0].height, 36);
        EXPECT_EQ(CountColour(after[0], 0xFF0000, 0, 0, 64, 36), 64 * 36);
    }
}

}  // namespace
}  // namespace qv::testing
