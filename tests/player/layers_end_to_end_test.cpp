// Layers driven by an applet on a headless display: the last frame (read with PIL) shows the
// stack the script built, and the debug output holds the listing and the lookups' answers.
#include <cstdio>
#include <cstdlib>
#include <regex>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

// The colours of the last frame at the named points.
constexpr char kRead[] = R"(
import sys
from PIL import Image
frame = Image.open(sys.argv[1]).convert("RGB")
for point in [(2, 2), (7, 7), (12, 12), (27, 27), (45, 5), (31, 20)]:
    print(point, "%06x" % (frame.getpixel(point)[0] << 16 | frame.getpixel(point)[1] << 8 | frame.getpixel(point)[2]))
)";

class LayersEndToEnd : public EndToEndTest {};

TEST_F(LayersEndToEnd, TheLastFrameShowsTheStackTheScriptBuilt) {
    if (std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "PIL missing";
        GTEST_SKIP() << "PIL missing";
    }
    Applet("layers.qva", "layers_drive", {"--display", "1:64:48:Layers"});
    scratch.MakeDir("frames");
    const Outcome o = Player({"layers.qva", "-QUIET"}, "",
                             {"QV_SCREEN_FORMAT=10", "QV_HEADLESS_FRAMES=" + (scratch / "frames"),
                              "QV_HEADLESS_CLOCK=virtual"});
    // Automatic ids print their handles, which differ from run to run.
    const std::string out = std::regex_replace(o.out, std::regex("0x[0-9a-f]+"), "P");
    Expect({o.status, out, o.err, o.hung},
           "LAYER SYSTEM INFO - BGPIC: 1 ((nil))\nsizeof(qvLayer): 1080\nLayers: 3\n"
           "(1) BRUSH #0 (P / \"green\") - X: 10 (10) - Y: 10 (10) - Width: 20 (20) - Height: "
           "20 (20) - Visible: 1\n"
           "(2) BRUSH #0 (P / \"red\") - X: 5 (5) - Y: 5 (5) - Width: 20 (20) - Height: 20 (20) "
           "- Visible: 1\n"
           "(3) BRUSH #0 (P / \"\") - X: 40 (40) - Y: 0 (0) - Width: 10 (10) - Height: 10 (10) "
           "- Visible: 0\n"
           "1\n2 red\n",
           "", 0);
    const std::string lastFrame = LastFileIn(scratch / "frames");
    ASSERT_FALSE(lastFrame.empty());
    scratch.Write("read.py", ToBytes(kRead));
    // Red (moved to 5..24) lies over green (10..29); blue is hidden.
    EXPECT_EQ(CommandOutput(std::string(kPython) + " " + (scratch / "read.py") + " " + lastFrame),
              "(2, 2) 000000\n(7, 7) ff0000\n(12, 12) ff0000\n(27, 27) 00ff00\n(45, 5) 000000\n"
              "(31, 20) 000000\n");
}

}  // namespace
}  // namespace qv::testing
