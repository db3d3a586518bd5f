// Lines drawn by an applet on a headless display: the last frame the back end keeps
// (QV_HEADLESS_FRAMES), read through netpbm's pngtopnm, holds the line of the direct road and
// the lines that went through images of their own.
#include <cstdlib>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class LinesEndToEnd : public EndToEndTest {};

TEST_F(LinesEndToEnd, TheLastFrameHoldsEveryRoadsLines) {
    QV_REQUIRE_TOOL("pngtopnm");
    Applet("lines.qva", "draw_lines", {"--display", "1:64:48:Lines"});
    scratch.MakeDir("frames");
    scratch.Write("input.txt", ToBytes("3 close\n"));
    const Outcome o =
        Player({"lines.qva", "-QUIET"}, "",
               {"QV_HEADLESS_INPUT=" + (scratch / "input.txt"),
                "QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"});
    Expect(o, "", "", 0);
    const std::string lastFrame = LastFileIn(scratch / "frames");
    ASSERT_FALSE(lastFrame.empty());
    const Picture frame = ReadPpm("pngtopnm " + lastFrame + " 2>/dev/null");
    ASSERT_EQ(frame.width, 64);
    ASSERT_EQ(frame.height, 48);
    // The direct road: exactly its ends.
    EXPECT_EQ(frame.At(2, 2), 0xFF0000u);
    EXPECT_EQ(frame.At(60, 2), 0xFF0000u);
    EXPECT_EQ(frame.At(1, 2), 0u);
    EXPECT_EQ(frame.At(61, 2), 0u);
    // Thickness 5 across rows 8 to 12.
    for (int y : {8, 10, 12}) EXPECT_EQ(frame.At(30, y), 0x00FF00u) << y;
    EXPECT_EQ(frame.At(30, 5), 0u);
    // White at transparency 0x80 over black.
    const uint32_t grey = frame.At(30, 20);
    for (int shift : {0, 8, 16}) {
        EXPECT_NEAR(double((grey >> shift) & 0xFF), 127, 1) << std::hex << grey;
    }
    // Anti-aliased: the middle of the line blue, its equal-ended twin one full pixel.
    EXPECT_GT(frame.At(31, 35) & 0xFF, 100u) << std::hex << frame.At(31, 35);
    EXPECT_EQ(frame.At(31, 25), 0u);
    EXPECT_EQ(frame.At(50, 44), 0x0000FFu);
    EXPECT_EQ(frame.At(51, 44), 0u);
}

}  // namespace
}  // namespace qv::testing
