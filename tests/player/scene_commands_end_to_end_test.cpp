// Display, picture, layer and event commands through the player on the headless back end: a
// replaced display's own picture, double buffering dropped with the old picture, CreateLayer
// at position constants on plain and layer-scaled displays, clicks whose press and release
// come in one pump, and a restyled text layer placed by its new size. The frames are read
// with pngtopnm.
#include <cstdlib>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

constexpr uint32_t kRed = 0xFF0000;

class SceneCommandsEndToEnd : public EndToEndTest {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("pngtopnm"); }

    // Runs the applet with the headless input given, its frames in a folder of this run; the
    // last frame.
    Picture Run(const std::string& applet, const std::string& input, Outcome* outcome,
                std::vector<std::string> options = {}) {
        const std::string frames = "frames" + std::to_string(++runs_);
        scratch.MakeDir(frames);
        const std::string inputFile =
            scratch.Write("input" + std::to_string(runs_), ToBytes(input));
        options.insert(options.begin(), {applet, "-QUIET"});
        *outcome =
            Player(options, "",
                   {"QV_HEADLESS_INPUT=" + inputFile, "QV_HEADLESS_FRAMES=" + (scratch / frames)});
        const std::string last = LastFileIn(scratch / frames);
        return last.empty() ? Picture{} : ReadPpm("pngtopnm " + last + " 2>/dev/null");
    }

    // The points of the frame in the colour, as "x,y" texts in row order.
    static std::vector<std::string> PointsIn(const Picture& frame, uint32_t colour) {
        std::vector<std::string> points;
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                if (frame.At(x, y) == colour)
                    points.push_back(std::to_string(x) + "," + std::to_string(y));
            }
        }
        return points;
    }
    // Whether the frame is the colour exactly inside the box and black elsewhere.
    static bool FilledBoxOnly(const Picture& frame, int x0, int y0, int width, int height,
                              uint32_t colour) {
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                const bool inside = x >= x0 && x < x0 + width && y >= y0 && y < y0 + height;
                if (frame.At(x, y) != (inside ? colour : 0u)) return false;
            }
        }
        return true;
    }

private:
    int runs_ = 0;
};

// The old display 1 would go first and the picture it made with it: 1177, nothing replaced,
// and the display still draws into its own picture (under the sanitizers, no freed block is
// read).
TEST_F(SceneCommandsEndToEnd, ADisplayCannotTakeThePictureOfTheDisplayItReplaces) {
    Applet("replace.qva", "replace_own_picture", {"--display", "1:32:24:One"});
    Outcome o;
    const Picture frame = Run("replace.qva", "3 close\n", &o);
    Expect(o, "1177\n", "", 0);
    ASSERT_EQ(frame.width, 32);
    EXPECT_EQ(frame.At(0, 0), kRed);
    EXPECT_EQ(frame.At(7, 7), kRed);
    EXPECT_EQ(frame.At(20, 20), 0u);
}

// A box drawn past the old size after the new picture is shown lands on the display; Flip
// then finds no double buffer.
TEST_F(SceneCommandsEndToEnd, ANewPictureEndsDoubleBuffering) {
    Applet("buffered.qva", "double_buffer_new_picture", {"--display", "1:32:24:One"});
    Outcome o;
    const Picture frame = Run("buffered.qva", "3 close\n", &o);
    Expect(o, "1244\n", "", 0);
    ASSERT_EQ(frame.width, 64);
    ASSERT_EQ(frame.height, 48);
    const std::vector<std::string> red = PointsIn(frame, kRed);
    ASSERT_FALSE(red.empty());
    EXPECT_EQ(red.front(), "40,30");
    EXPECT_EQ(red.back(), "55,41");
    EXPECT_EQ(red.size(), 2u * 16 + 2u * 10) << "the outline of a 16 x 12 box";
}

// #CENTER is resolved against the layer's size, and a layer-scaled display shows the layer
// at its scale.
TEST_F(SceneCommandsEndToEnd, CreateLayerResolvesPositionsAndFollowsLayerScaling) {
    Applet("centred.qva", "centred_layer", {"--display", "1:40:30:One"});
    const struct {
        const char* what;
        std::vector<std::string> options;
        int width, x, y, w, h;
    } cases[] = {
        {"plain", {}, 40, 10, 10, 20, 10},
        {"layer scaling",
         {"-LAYERSCALE", "-SCALEWIDTH", "80", "-SCALEHEIGHT", "60"},
         80,
         20,
         20,
         40,
         20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o;
        const Picture frame = Run("centred.qva", "3 close\n", &o, c.options);
        Expect(o, "", "", 0);
        ASSERT_EQ(frame.width, c.width);
        EXPECT_TRUE(FilledBoxOnly(frame, c.x, c.y, c.w, c.h, kRed));
    }
}

// A headless click is pressed and released within one pump: WaitLeftMouse returns on it, and
// with LeftMouseQuit on the next one ends the program.
TEST_F(SceneCommandsEndToEnd, ClicksWithinOnePumpEndWaitsAndQuit) {
    Applet("clicks.qva", "click_waits", {"--display", "1:32:24:One"});
    Outcome o;
    Run("clicks.qva", "3 click 5 5\n6 click 5 5\n", &o);
    Expect(o, "clicked\n", "", 0);
}

// The restyled "Hello World" at #RIGHT (top half) looks like the one drawn afresh at #RIGHT
// (bottom half): its size followed its new text, upright or scaled; anchored in its middle,
// the restyled text keeps its middle on its place, as the fresh one has it.
TEST_F(SceneCommandsEndToEnd, ARestyledTextLayerIsPlacedByItsNewSize) {
    const struct {
        const char* fixture;
        int minLit;  // lit pixels of the text in the bottom half
    } cases[] = {{"restyled_text_layer", 100},
                 {"restyled_scaled_text_layer", 50},
                 {"restyled_anchored_text_layer", 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        Applet("text.qva", c.fixture, {"--display", "1:120:30:One"});
        Outcome o;
        const Picture frame = Run("text.qva", "3 close\n", &o);
        Expect(o, "", "", 0);
        ASSERT_EQ(frame.width, 120);
        ASSERT_EQ(frame.height, 30);
        int lit = 0, differing = 0;
        for (int y = 0; y < 15; ++y) {
            for (int x = 0; x < 120; ++x) {
                lit += frame.At(x, y + 15) != 0 ? 1 : 0;
                if (frame.At(x, y) != frame.At(x, y + 15) && ++differing <= 5) {
                    ADD_FAILURE() << "(" << x << ", " << y << ") differs from its twin below";
                }
            }
        }
        EXPECT_GT(lit, c.minLit);
        EXPECT_EQ(differing, 0);
    }
}

}  // namespace
}  // namespace qv::testing
