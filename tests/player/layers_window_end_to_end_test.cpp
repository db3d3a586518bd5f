// Drawing with the layers on reaches the window in the present after the command: the real
// player runs applets headless, and the frames it writes (QV_HEADLESS_FRAMES) are read back
// through netpbm's pngtopnm.
#include <cstdlib>
#include <filesystem>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class LayersWindowEndToEnd : public EndToEndTest {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("pngtopnm"); }

    // Runs the applet with the vector back end in its LIBS:, on the virtual clock (so that a
    // frame is one VWait's); its frames by number, an empty picture for a present that changed
    // nothing.
    std::vector<Picture> Frames(const std::string& applet, int presents, const std::string& report,
                                std::vector<std::string> args = {}) {
        std::filesystem::copy_file(std::filesystem::path(QV_TEST_PLUGIN_DIR) / "vectorgraphics.qvp",
                                   scratch / "libs/Quorvella/vectorgraphics.qvp");
        scratch.MakeDir("frames");
        args.insert(args.begin(), {applet, "-QUIET"});
        const Outcome o = Player(
            args, "", {"QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"});
        Expect(o, report, "", 0);
        std::vector<Picture> frames(size_t(presents) + 1);
        for (int n = 1; n <= presents; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%06d-w1.png", n);
            const std::string path = scratch / ("frames/" + std::string(name));
            if (std::filesystem::exists(path))
                frames[n] = ReadPpm("pngtopnm " + path + " 2>/dev/null");
        }
        return frames;
    }
};

// What the fixture draws, in its order: the n-th lies in cell n (40 x 40, eight to a row) and
// has at least `least` pixels of its colour there (the inner pixels of anti-aliased shapes and
// text keep the colour whole).
struct Drawn {
    const char* what;
    uint32_t colour;
    int least;
};
constexpr Drawn kDrawn[] = {
    {"opaque brush", 0xFF8000, 900},  {"masked brush", 0x00FF80, 900},
    {"alpha brush", 0x8000FF, 900},   {"box", 0xFF0000, 900},
    {"circle", 0x00FF00, 600},        {"ellipse", 0x0000FF, 400},
    {"arc", 0xFFFF00, 450},           {"polygon", 0xFF00FF, 400},
    {"line", 0x00FFFF, 25},           {"smooth box", 0xC04000, 800},
    {"smooth circle", 0x40C000, 600}, {"smooth ellipse", 0x0040C0, 400},
    {"smooth arc", 0xC0C000, 450},    {"smooth polygon", 0xC000C0, 400},
    {"smooth line", 0x00C0C0, 25},    {"text", 0xFFFFFF, 40},
    {"printed text", 0xC0C0C0, 40},   {"vector path", 0x40C040, 800},
};
constexpr int kCell = 40, kCellsPerRow = 8;

// Unscaled, and autoscaled to twice the size (nearest scaling: every pixel becomes four).
class EveryDrawing : public LayersWindowEndToEnd, public ::testing::WithParamInterface<int> {};

TEST_P(EveryDrawing, ShowsInThePresentAfterIt) {
    const int scale = GetParam();
    Applet("reach.qva", "layers_reach_window", {"--display", "1:320:160:Reach"});
    std::vector<std::string> args;
    if (scale != 1) {
        const std::string size = std::to_string(100 * scale) + "%";
        args = {"-AUTOSCALE", "-SCALEWIDTH", size, "-SCALEHEIGHT", size};
    }
    const int count = int(std::size(kDrawn));
    const std::vector<Picture> frames =
        Frames("reach.qva", count + 1, "drawn " + std::to_string(count) + "\n", args);
    const int width = 320 * scale, cell = kCell * scale;
    ASSERT_EQ(frames[1].width, width);
    for (int n = 0; n < count; ++n) {
        const Drawn& d = kDrawn[n];
        SCOPED_TRACE(d.what);
        const Picture& before = frames[n + 1];
        const Picture& after = frames[n + 2];
        ASSERT_EQ(after.width, width) << "the window did not change";
        const int x0 = n % kCellsPerRow * cell, y0 = n / kCellsPerRow * cell;
        int coloured = 0, stray = 0;
        for (int y = 0; y < after.height; ++y) {
            for (int x = 0; x < after.width; ++x) {
                const bool inCell = x >= x0 && x < x0 + cell && y >= y0 && y < y0 + cell;
                coloured += inCell && after.At(x, y) == d.colour;
                stray += !inCell && after.At(x, y) != before.At(x, y);
            }
        }
        EXPECT_GE(coloured, d.least * scale * scale);
        EXPECT_EQ(stray, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Scale, EveryDrawing, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("Unscaled")
                                                    : "Autoscaled" + std::to_string(info.param);
                         });

// Cls into the shown picture frees its layers; the end of the selection repaints where they
// were.
TEST_F(LayersWindowEndToEnd, ClsIntoTheShownPictureTakesItsLayersOffTheWindow) {
    Applet("cls.qva", "cls_selected_picture", {"--display", "1:64:48:Cls"});
    const std::vector<Picture> frames = Frames("cls.qva", 2, "");
    ASSERT_EQ(frames[1].width, 64);
    EXPECT_EQ(frames[1].At(20, 20), 0xFF0000u);
    ASSERT_EQ(frames[2].width, 64) << "the window did not change";
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) ASSERT_EQ(frames[2].At(x, y), 0u) << x << "," << y;
    }
}

}  // namespace
}  // namespace qv::testing
