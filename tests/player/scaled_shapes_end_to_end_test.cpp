// Shapes drawn by an applet on a display scaled 2x into a 100 x 60 window with strips of 10
// at the sides, autoscaled (the drawing goes ahead at the logical size and the window shows
// it doubled) and layer-scaled (the shapes become layers painted from display items at the
// scale): in both modes the last frame equals the logical drawing doubled (nearest) between
// black strips, a golden derived by hand from the factor.
#include <cstdlib>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class ScaledShapesEndToEnd : public EndToEndTest {};

// What the applet draws at the logical size: a filled red box, a green one-pixel frame and a
// red vertical line.
uint32_t Logical(int x, int y) {
    if (x >= 10 && x < 16 && y >= 10 && y < 14) return 0xFF0000;
    if (x == 6 && y >= 3 && y <= 20) return 0xFF0000;
    const bool frameColumns = (x == 20 || x == 27) && y >= 5 && y < 11;
    const bool frameRows = (y == 5 || y == 10) && x >= 20 && x < 28;
    return frameColumns || frameRows ? 0x00FF00 : 0;
}

TEST_F(ScaledShapesEndToEnd, ShapesLandDoubledBetweenTheStrips) {
    QV_REQUIRE_TOOL("pngtopnm");
    Applet("shapes.qva", "scaled_shapes", {"--display", "1:40:30:Shapes"});
    for (const char* mode : {"-AUTOSCALE", "-LAYERSCALE"}) {
        SCOPED_TRACE(mode);
        const std::string frames = std::string("frames") + mode;
        scratch.MakeDir(frames);
        scratch.Write("input.txt", ToBytes("3 close\n"));
        const Outcome o =
            Player({"shapes.qva", "-QUIET", mode, "-SCALEWIDTH", "100", "-SCALEHEIGHT", "60",
                    "-KEEPPROPORTIONS"},
                   "",
                   {"QV_HEADLESS_INPUT=" + (scratch / "input.txt"),
                    "QV_HEADLESS_FRAMES=" + (scratch / frames), "QV_HEADLESS_CLOCK=virtual"});
        Expect(o, "", "", 0);
        const std::string lastFrame = LastFileIn(scratch / frames);
        ASSERT_FALSE(lastFrame.empty());
        const Picture frame = ReadPpm("pngtopnm " + lastFrame + " 2>/dev/null");
        ASSERT_EQ(frame.width, 100);
        ASSERT_EQ(frame.height, 60);
        const auto golden = [](int x, int y) {
            return x < 10 || x >= 90 || y < 0 || y >= 60 ? 0u : Logical((x - 10) / 2, y / 2);
        };
        int differing = 0;
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 100; ++x) {
                const uint32_t shown = frame.At(x, y);
                if (shown != golden(x, y) && ++differing <= 10) {
                    ADD_FAILURE() << "(" << x << ", " << y << "): " << std::hex << shown
                                  << " instead of " << golden(x, y);
                }
            }
        }
        EXPECT_EQ(differing, 0);
    }
}

}  // namespace
}  // namespace qv::testing
