// A brush end to end: the player runs an applet that makes, tints, turns, shows and saves a
// brush on a headless display; PIL reads the saved PNG, and the last frame shows the brush.
#include <cstdio>
#include <cstdlib>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

// Prints the size of a picture and its distinct RGBA pixels, and the pixels of a frame at two
// places (inside and outside where the brush was shown).
constexpr char kRead[] = R"(
import sys
from PIL import Image
saved = Image.open(sys.argv[1]).convert("RGBA")
print(saved.size, sorted(set(saved.getdata())))
frame = Image.open(sys.argv[2]).convert("RGB")
print(frame.getpixel((2, 3)), frame.getpixel((7, 10)), frame.getpixel((8, 11)))
)";

class BrushEndToEnd : public EndToEndTest {};

TEST_F(BrushEndToEnd, AnAppletSavesTheBrushItShows) {
    if (std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "PIL missing";
        GTEST_SKIP() << "PIL missing";
    }
    Applet("brush.qva", "brush_save", {"--display", "1:16:16:Shown"});
    scratch.MakeDir("frames");
    const Outcome o = Player({"brush.qva", "-QUIET"}, "",
                             {"QV_SCREEN_FORMAT=10", "QV_HEADLESS_FRAMES=" + (scratch / "frames"),
                              "QV_HEADLESS_CLOCK=virtual"});
    Expect(o, "", "", 0);
    const std::string lastFrame = LastFileIn(scratch / "frames");
    ASSERT_FALSE(lastFrame.empty());
    scratch.Write("read.py", ToBytes(kRead));
    // Red 248 tinted by 128 towards blue 248 is 124 in both channels; a quarter turn of the
    // 8 x 6 brush is 6 x 8, every pixel covered.
    EXPECT_EQ(CommandOutput(std::string(kPython) + " " + (scratch / "read.py") + " " +
                            (scratch / "brush.png") + " " + lastFrame),
              "(6, 8) [(124, 0, 124, 255)]\n(124, 0, 124) (124, 0, 124) (0, 0, 0)\n");
}

}  // namespace
}  // namespace qv::testing
