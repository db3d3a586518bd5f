// The frames that the headless back end keeps (QV_HEADLESS_FRAMES) against Python PIL: each
// present of a changed window is one PNG whose pixels equal the framebuffer's.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/linux/testing.h"
#include "tests/platform/video_test_support.h"

namespace qv::testing {
namespace {

constexpr char kPython[] = "/usr/bin/python3";

// Prints "W H" and then every pixel as "r,g,b" separated by spaces.
constexpr char kDump[] = R"(
import sys
from PIL import Image
image = Image.open(sys.argv[1])
print(image.mode, *image.size)
print(" ".join("%d,%d,%d" % p[:3] for p in image.getdata()))
)";

bool HavePil() {
    return std::system((std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// The framebuffer as PIL prints an RGB picture.
std::string Expected(const qvDisplayBitMap* fb) {
    std::ostringstream text;
    text << "RGB " << fb->width << " " << fb->height << "\n";
    for (int32_t y = 0; y < fb->height; ++y) {
        for (int32_t x = 0; x < fb->width; ++x) {
            const uint32_t c = ReadBitMapPixel(fb, x, y);
            text << (x + y > 0 ? " " : "") << (c >> 16) << "," << ((c >> 8) & 255) << ","
                 << (c & 255);
        }
    }
    text << "\n";
    return text.str();
}

class Frames : public HeadlessVideo, public ::testing::WithParamInterface<uint32_t> {
protected:
    void SetUp() override {
        if (!HavePil()) {
            const char* ci = std::getenv("CI");
            if (ci != nullptr && std::string(ci) == "true") FAIL() << "python3-pil missing";
            GTEST_SKIP() << "python3-pil missing";
        }
        framesEnv_.emplace("QV_HEADLESS_FRAMES", dir_.path());
        HeadlessVideo::SetUp();
        std::ofstream(dir_ / "dump.py") << kDump;
    }
    std::string Decode(const std::string& name) {
        return RunCommand(std::string(kPython) + " " + (dir_ / "dump.py") + " " + (dir_ / name));
    }
    bool Exists(const std::string& name) { return PathExists(dir_ / name); }

    VirtualClock clock_{1000000};  // frames follow it
    ScratchDir dir_;
    std::optional<ScopedEnv> framesEnv_;
};

TEST_P(Frames, EachPresentOfAChangedWindowIsAPngOfItsFramebuffer) {
    platform::testing::ScopedScreenFormat format(GetParam());
    qvPlatformDisplay* first = Open(0, 0, 19, 7);
    qvPlatformDisplay* second = Open(30, 0, 5, 3);
    for (int32_t y = 0; y < 7; ++y) {
        for (int32_t x = 0; x < 19; ++x) {
            WriteWindowPixel(first, x, y, uint32_t(x * 13) << 16 | uint32_t(y * 37) << 8 | 0x5A);
        }
    }
    Present();
    ASSERT_TRUE(Exists("frame-000001-w1.png"));
    ASSERT_TRUE(Exists("frame-000001-w2.png")) << "a new window is all damage";
    EXPECT_EQ(Decode("frame-000001-w1.png"), Expected(first->framebuffer));
    EXPECT_EQ(Decode("frame-000001-w2.png"), Expected(second->framebuffer));

    WaitVerticalBlank();  // refresh 1 shows frame 1
    WaitVerticalBlank();  // refresh 2
    FillWindowRect(second, 1, 1, 2, 1, 0xC0FFEE);
    Present();  // shown at refresh 3
    EXPECT_FALSE(Exists("frame-000002-w1.png"));
    EXPECT_FALSE(Exists("frame-000002-w2.png")) << "nothing changed";
    EXPECT_FALSE(Exists("frame-000003-w1.png"));
    ASSERT_TRUE(Exists("frame-000003-w2.png"));
    EXPECT_EQ(Decode("frame-000003-w2.png"), Expected(second->framebuffer));
}

INSTANTIATE_TEST_SUITE_P(ScreenFormats, Frames, ::testing::Values(10u, 4u, 8u, 1u));

}  // namespace
}  // namespace qv::testing
