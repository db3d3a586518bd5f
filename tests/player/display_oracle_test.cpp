// A picture shown end to end: a PPM made here becomes a PNG through netpbm's pnmtopng, the
// applet preloads it as picture 1, which display 1 shows, and the last frame the headless
// back end keeps (QV_HEADLESS_FRAMES) must equal the PPM pixel for pixel, both read by PIL.
#include <cstdio>
#include <cstdlib>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

// Prints the number of pixels that differ between the two pictures (or their sizes).
constexpr char kCompare[] = R"(
import sys
from PIL import Image
a = Image.open(sys.argv[1]).convert("RGB")
b = Image.open(sys.argv[2]).convert("RGB")
if a.size != b.size:
    print("sizes", a.size, b.size)
else:
    print(sum(1 for p, q in zip(a.getdata(), b.getdata()) if p != q))
)";

bool Available(const std::string& check) {
    return std::system((check + " >/dev/null 2>&1").c_str()) == 0;
}

class DisplayOracle : public EndToEndTest {};

TEST_F(DisplayOracle, TheLastFrameIsThePicture) {
    if (!Available("command -v pnmtopng") ||
        !Available(std::string(kPython) + " -c 'import PIL'")) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "pnmtopng or PIL missing";
        GTEST_SKIP() << "pnmtopng or PIL missing";
    }
    constexpr int kWidth = 37, kHeight = 21;
    std::string ppm = "P3\n" + std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n255\n";
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            for (int k = 0; k < 3; ++k)
                ppm += std::to_string((x * 7 + y * 13 + k * 101) % 256) + " ";
        }
        ppm += "\n";
    }
    scratch.Write("pic.ppm", ToBytes(ppm));
    ASSERT_EQ(std::system(("pnmtopng " + (scratch / "pic.ppm") + " > " + (scratch / "pic.png") +
                           " 2>/dev/null")
                              .c_str()),
              0);
    Applet("show.qva", "vblank_forever",
           {"--preload", "0:1:pic.png", "--display",
            "1:" + std::to_string(kWidth) + ":" + std::to_string(kHeight) + ":Shown"});
    scratch.MakeDir("frames");
    scratch.Write("input.txt", ToBytes("3 close\n"));
    const Outcome o =
        Player({"show.qva", "-QUIET"}, "",
               {"QV_HEADLESS_INPUT=" + (scratch / "input.txt"),
                "QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"});
    Expect(o, "", "", 0);
    const std::string lastFrame = LastFileIn(scratch / "frames");
    ASSERT_FALSE(lastFrame.empty());
    scratch.Write("compare.py", ToBytes(kCompare));
    EXPECT_EQ(CommandOutput(std::string(kPython) + " " + (scratch / "compare.py") + " " +
                            (scratch / "pic.ppm") + " " + lastFrame),
              "0\n");
}

}  // namespace
}  // namespace qv::testing
