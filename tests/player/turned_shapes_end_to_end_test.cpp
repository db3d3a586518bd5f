// Scaled and turned shapes through the real player, headless, read back from its frames
// (QV_HEADLESS_FRAMES) through netpbm's pngtopnm: an outline drawn with a scale is an outline
// of the scaled width, a turned shape lies on the anchor point of its own box as a path and a
// brush do, and a turned box layer keeps its area as a brush layer of its size does.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <set>
#include <utility>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class TurnedShapesEndToEnd : public EndToEndTest {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("pngtopnm"); }

    // The frames of fixtures/turned_and_scaled_shapes.qvs in present order.
    std::vector<Picture> Frames() {
        Applet("shapes.qva", "turned_and_scaled_shapes", {"--display", "1:240:240:Shapes"});
        std::filesystem::copy_file(std::filesystem::path(QV_TEST_PLUGIN_DIR) / "vectorgraphics.qvp",
                                   scratch / "libs/Quorvella/vectorgraphics.qvp");
        scratch.MakeDir("frames");
        const Outcome o =
            Player({"shapes.qva", "-QUIET"}, "",
                   {"QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"});
        Expect(o, "", "", 0);
        std::vector<std::string> names = FilesIn(scratch / "frames");
        std::sort(names.begin(), names.end());
        std::vector<Picture> frames;
        for (const std::string& name : names) {
            frames.push_back(ReadPpm("pngtopnm " + name + " 2>/dev/null"));
        }
        return frames;
    }
};

struct Area {
    int x0, y0, x1, y1;  // x1, y1 exclusive
};

// The lit pixels of the area, relative to its top-left corner.
std::set<std::pair<int, int>> InkIn(const Picture& p, const Area& a) {
    std::set<std::pair<int, int>> ink;
    for (int y = a.y0; y < a.y1; ++y) {
        for (int x = a.x0; x < a.x1; ++x) {
            if (p.At(x, y) != 0) ink.emplace(x - a.x0, y - a.y0);
        }
    }
    return ink;
}

Area Moved(const Area& a, int dx) {
    return {a.x0 + dx, a.y0, a.x1 + dx, a.y1};
}

// The box of the lit pixels of the area: x0, y0 and x1, y1 exclusive, in frame coordinates.
Area BoxOfInk(const Picture& p, const Area& a) {
    Area box{a.x1, a.y1, a.x0, a.y0};
    for (const auto& [x, y] : InkIn(p, a)) {
        box.x0 = std::min(box.x0, a.x0 + x), box.x1 = std::max(box.x1, a.x0 + x + 1);
        box.y0 = std::min(box.y0, a.y0 + y), box.y1 = std::max(box.y1, a.y0 + y + 1);
    }
    return box;
}

// One-pixel box outlines drawn at 3x, 2x and 4x show exactly what outlines of 3, 2 and 4
// pixels drawn at the scaled sizes show: not the picture of the outline scaled, whose sides
// came out 4, 2, 3 and 2 pixels wide at 3x.
TEST_F(TurnedShapesEndToEnd, ScaledOutlinesAreOutlinesOfTheScaledWidth) {
    const std::vector<Picture> frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const Picture& frame = frames[0];
    ASSERT_EQ(frame.width, 240);
    const struct {
        Area scaled;
        int reference;
    } cases[] = {{{0, 0, 50, 40}, 50}, {{100, 0, 145, 40}, 40}, {{0, 40, 50, 80}, 50}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scaled.x0 + c.scaled.y0);
        const std::set<std::pair<int, int>> scaled = InkIn(frame, c.scaled);
        EXPECT_GT(scaled.size(), 100u);
        EXPECT_EQ(scaled, InkIn(frame, Moved(c.scaled, c.reference)));
    }
}

// A filled 40 x 20 box turned by 30 degrees about its middle at (40, 110) is centred on that
// point, as the same box through a path is on (120, 110); a 16 x 9 box turned by 180 degrees
// about its middle lies on the pixels it covers upright, and as a layer on the pixels of a
// brush layer of its size turned the same way.
TEST_F(TurnedShapesEndToEnd, TurnedShapesLieOnTheirAnchorPoint) {
    const std::vector<Picture> frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const Picture& frame = frames[0];
    const Area native = BoxOfInk(frame, {0, 80, 80, 140});
    const Area path = BoxOfInk(frame, {80, 80, 160, 140});
    EXPECT_NEAR((native.x0 + native.x1) / 2.0, 40, 0.5);
    EXPECT_NEAR((native.y0 + native.y1) / 2.0, 110, 0.5);
    EXPECT_NEAR((path.x0 + path.x1) / 2.0, 120, 0.5);
    EXPECT_NEAR((path.y0 + path.y1) / 2.0, 110, 0.5);
    EXPECT_NEAR(native.x1 - native.x0, path.x1 - path.x0, 1);
    EXPECT_NEAR(native.y1 - native.y0, path.y1 - path.y0, 1);

    const Area half = {180, 95, 230, 125};
    const Area upright = BoxOfInk(frame, half);
    EXPECT_EQ(upright.x0, 192);
    EXPECT_EQ(upright.y0, 106);
    EXPECT_EQ(upright.x1, 208);
    EXPECT_EQ(upright.y1, 115);
    EXPECT_EQ(InkIn(frame, half).size(), 16u * 9u);

    const Area layer = {20, 155, 60, 185};
    EXPECT_EQ(InkIn(frame, layer).size(), 16u * 9u);
    EXPECT_EQ(InkIn(frame, layer), InkIn(frame, Moved(layer, 40)));
}

// A 2 x 40 box layer turned by -29 degrees, then by -45 degrees (SetLayerStyle), about the
// middle of its bottom shows the pixels of a 2 x 40 brush layer turned the same way: about 80
// of them, not a staircase of 35.
TEST_F(TurnedShapesEndToEnd, TurnedBoxLayersKeepTheirArea) {
    const std::vector<Picture> frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const Area box = {120, 180, 180, 240};
    for (const Picture& frame : frames) {
        const std::set<std::pair<int, int>> ink = InkIn(frame, box);
        EXPECT_GE(ink.size(), 75u);
        EXPECT_EQ(ink, InkIn(frame, Moved(box, 60)));
    }
}

}  // namespace
}  // namespace qv::testing
