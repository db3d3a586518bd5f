// The bundled demo end to end: the packed demo runs headless with a click and a key injected
// (QV_HEADLESS_INPUT), its frames (QV_HEADLESS_FRAMES) are read back through netpbm's
// pngtopnm and checked scene by scene; text is placed by the font front end (qvtext).
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

// Presents at which the demo's input arrives. Each CheckEvent runs one handler and the
// interval's steps compete with the input, so an answer shows a present or two later than
// the event came: the click's answer is the last frame written before the key came, the
// key's the last frame of all (nothing moves after the click).
constexpr int kClickPresent = 10, kKeyPresent = 18;
constexpr int kClickX = 560, kClickY = 400;
// The column the interval moves the layer "mover" in (its brush is 120 x 120).
constexpr int kTrackX0 = 500, kTrackY0 = 20, kTrackX1 = 620, kTrackY1 = 460;
// The path scene's heart (drawn only with the vector back end): its bounding box, with room
// for the outline and anti-aliasing, and its colours.
constexpr int kHeartX0 = 495, kHeartY0 = 145, kHeartX1 = 635, kHeartY1 = 268;
constexpr uint32_t kHeartFill = 0xE02040, kHeartOutline = 0x600010;

// Scene 3's shapes: points inside them and their colours.
constexpr struct {
    int x, y;
    uint32_t colour;
} kShapes[] = {{205, 55, 0xE04848},  {160, 30, 0xE04848}, {205, 112, 0x48C060}, {300, 60, 0xFFC830},
               {300, 115, 0x4080FF}, {420, 82, 0xA060FF}, {420, 40, 0xA060FF}};
// The brush layers of scene 2 (120 x 120, their centres the gradient's start colour): the one
// that stays at the top left, and "mover", whose centre runs down the middle of its column.
constexpr int kBrushCentreX = 80, kBrushCentreY = 80, kMoverCentreX = 560;
constexpr uint32_t kBrushCentre = 0xFFF080;

// The presents of the scenes that change the window (7 only when the path is drawn); every
// later frame comes from the interval, the click or the key.
std::vector<int> SceneFrames(bool path) {
    std::vector<int> frames = {1, 2, 3, 4, 5, 6};
    if (path) frames.push_back(7);
    return frames;
}

bool InTrack(int x, int y) {
    return x >= kTrackX0 && x < kTrackX1 && y >= kTrackY0 && y < kTrackY1;
}

std::string Report(bool path) {
    std::string out;
    for (int scene = 1; scene <= 7; ++scene) {
        if (scene == 7 && !path) out += "Demo: no vector back end, the path is not drawn\n";
        out += "Demo: scene " + std::to_string(scene) + " shown\n";
    }
    return out;
}

// The rectangle of a text block as qvtext lays it out and renders it (with --out, a PAM).
struct Rect {
    int x0, y0, x1, y1;  // x1 and y1 exclusive
    bool Holds(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

Rect TextBlock(int x, int y, const std::string& fontArgs, const std::string& text,
               const std::string& pam) {
    const std::string command = std::string(QVTEXT_PATH) + " " + fontArgs + " --layout '" + text +
                                "' --out " + pam + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(pam);
    std::string word;
    int width = 0, height = 0;
    while (in >> word && word != "ENDHDR") {
        if (word == "WIDTH") in >> width;
        if (word == "HEIGHT") in >> height;
    }
    EXPECT_GT(width * height, 0) << text;
    return {x, y, x + width, y + height};
}

int Channel(uint32_t rgb, int shift) {
    return int((rgb >> shift) & 0xFF);
}

void ExpectNear(uint32_t got, uint32_t want, int tolerance, const std::string& what) {
    for (int shift : {0, 8, 16}) {
        EXPECT_NEAR(Channel(got, shift), Channel(want, shift), tolerance)
            << what << ": " << std::hex << got << " for " << want;
    }
}

class Demo : public EndToEndTest {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("pngtopnm"); }

    // Runs the demo with the click and the key, with the vector back end when path is set;
    // the frames it wrote, by present number. On a window scaled by percent (given in args)
    // the click lands where the window shows the demo's click position.
    std::map<int, Picture> Run(bool path, const std::vector<std::string>& env = {},
                               const std::vector<std::string>& args = {}, int percent = 100) {
        scratch.MakeDir("frames");
        scratch.Write("input.txt", ToBytes(std::to_string(kClickPresent) + " click " +
                                           std::to_string(kClickX * percent / 100) + " " +
                                           std::to_string(kClickY * percent / 100) + "\n" +
                                           std::to_string(kKeyPresent) + " key 97\n"));
        std::vector<std::string> all = {"QV_HEADLESS_INPUT=" + (scratch / "input.txt"),
                                        "QV_HEADLESS_FRAMES=" + (scratch / "frames"),
                                        "QV_HEADLESS_CLOCK=virtual"};
        all.insert(all.end(), env.begin(), env.end());
        if (path) {
            // LIBS: of the run's own with the vector back end alone (the test plugin beside it
            // in the build would print).
            const std::filesystem::path plugin =
                std::filesystem::path(QV_TEST_PLUGIN_DIR) / "vectorgraphics.qvp";
            std::filesystem::copy_file(plugin, scratch / "libs/Quorvella/vectorgraphics.qvp");
        }
        std::vector<std::string> command = {QV_DEMO_APPLET, "-QUIET"};
        command.insert(command.end(), args.begin(), args.end());
        const Outcome o = Player(command, "", all);
        Expect(o,
               Report(path) + "Demo: click at " + std::to_string(kClickX) + " " +
                   std::to_string(kClickY) + "\nDemo: key a\nDemo: ended\n",
               "", 0);
        std::map<int, Picture> frames;
        for (const std::string& path : FilesIn(scratch / "frames")) {
            const int number = std::atoi(path.substr(path.rfind("frame-") + 6).c_str());
            frames[number] = ReadPpm("pngtopnm " + path + " 2>/dev/null");
        }
        return frames;
    }
};

// Scene 7 with the vector back end: the heart's fill inside, its outline around, and nothing
// drawn outside its box.
void ExpectHeart(const Picture& before, const Picture& after) {
    EXPECT_EQ(after.At(565, 215), kHeartFill);
    bool outline = false;
    for (int x = kHeartX0; x < 565; ++x) outline |= after.At(x, 200) == kHeartOutline;
    EXPECT_TRUE(outline);
    int stray = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const bool inBox = x >= kHeartX0 && x < kHeartX1 && y >= kHeartY0 && y < kHeartY1;
            stray += !inBox && before.At(x, y) != after.At(x, y);
        }
    }
    EXPECT_EQ(stray, 0);
}

class DemoRun : public Demo, public ::testing::WithParamInterface<bool> {};

TEST_P(DemoRun, EveryFrameShowsItsScene) {
    const bool path = GetParam();
    std::map<int, Picture> frames = Run(path);
    std::vector<int> scenes, later;
    for (const auto& [number, picture] : frames) {
        (number <= 7 ? scenes : later).push_back(number);
        EXPECT_EQ(picture.width, 640) << number;
        EXPECT_EQ(picture.height, 480) << number;
    }
    ASSERT_EQ(scenes, SceneFrames(path));
    ASSERT_FALSE(later.empty());
    int clickFrame = 0;
    for (int number : later) clickFrame = number < kKeyPresent ? number : clickFrame;
    const int keyFrame = later.back();
    ASSERT_GT(clickFrame, 0);

    // Scene 1: a horizontal gradient from 0x102040 to 0x20A0A0 over 640 columns; the last
    // column is one step short of the end colour.
    const Picture& background = frames[1];
    for (int y : {0, 479}) {
        EXPECT_EQ(background.At(0, y), 0x102040u) << y;
        EXPECT_EQ(background.At(639, y), 0x1F9F9Fu) << y;
    }

    // Scene 2: the radial brush's centres are its start colour, its corners near its end.
    for (int x : {kBrushCentreX, kMoverCentreX}) {
        ExpectNear(frames[2].At(x, kBrushCentreY), kBrushCentre, 2, "brush centre");
        ExpectNear(frames[2].At(x - 59, 21), 0xC03000, 40, "brush corner");
        // The outer ring drawn into the brush, 45 pixels above its centre.
        EXPECT_EQ(frames[2].At(x, 35), 0x802000u) << x;
    }

    // Scene 3: each shape's colour at its centre; the rounded box leaves its corner to the
    // background, the plain box does not.
    for (const auto& s : kShapes) EXPECT_EQ(frames[3].At(s.x, s.y), s.colour) << s.x << "," << s.y;
    EXPECT_EQ(frames[3].At(160, 90), background.At(160, 90));
    EXPECT_EQ(frames[3].At(395, 35), background.At(395, 35));

    // Scene 4: the fan's middle line is white where anti-aliasing leaves it whole, the thick
    // line gold across its rows.
    EXPECT_EQ(frames[4].At(320, 200), 0xFFFFFFu);
    for (int y : {269, 270, 271}) EXPECT_EQ(frames[4].At(320, y), 0xFFD700u) << y;

    // Scene 5: text ink only inside the blocks the font front end lays out at the positions
    // the demo gives, and some ink in each; the outline text is anti-aliased (style 16).
    // With the layers on, the title's shadow is its layer's soft shadow, which reaches a few
    // pixels past the hard one that the font front end renders, and the faint fringe of its
    // anti-aliased edge (the layer's border) one pixel left of the block.
    Rect title = TextBlock(160, 290, "--font 'Bitstream Vera Sans' --size 40 --style 112",
                           "QuorvellaPlayer", scratch / "title.pam");
    title.x0 -= 1, title.x1 += 4, title.y1 += 4;
    const std::vector<Rect> blocks = {
        title,
        TextBlock(160, 345, "--font 'Bitstream Vera Serif' --size 22 --style 16",
                  "Tags: [b]bold[/b] and [color=$FFD700]golden[/color] text", scratch / "tags.pam"),
        TextBlock(160, 385, "--bitmap-font topaz --size 8", "Printed in the 8-pixel font.",
                  scratch / "print.pam"),
    };
    std::vector<int> ink(blocks.size(), 0);
    int stray = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            if (frames[4].At(x, y) == frames[5].At(x, y)) continue;
            bool inside = false;
            for (size_t i = 0; i < blocks.size(); ++i) {
                if (blocks[i].Holds(x, y)) ink[i] += 1, inside = true;
            }
            if (!inside) ++stray;
        }
    }
    EXPECT_EQ(stray, 0);
    for (size_t i = 0; i < blocks.size(); ++i) EXPECT_GT(ink[i], 20) << i;
    // The tag's colour reaches the frame.
    bool gold = false;
    for (int y = blocks[1].y0; y < blocks[1].y1; ++y) {
        for (int x = blocks[1].x0; x < blocks[1].x1; ++x) gold |= frames[5].At(x, y) == 0xFFD700u;
    }
    EXPECT_TRUE(gold);

    // Scene 6: the turned text lies left of the title, below the brush.
    int turned = 0;
    for (int y = 140; y < 480; ++y) {
        for (int x = 0; x < 160; ++x) turned += frames[5].At(x, y) != frames[6].At(x, y);
    }
    EXPECT_GT(turned, 50);

    if (path) ExpectHeart(frames[6], frames[7]);

    // The interval: a frame before the click's shows the layer "mover" moved in its column
    // and nothing else changed.
    const Picture& lastScene = frames[scenes.back()];
    bool moved = false;
    for (int number : later) {
        if (number >= clickFrame) break;
        int inside = 0, outside = 0;
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                if (frames[number].At(x, y) != lastScene.At(x, y))
                    ++(InTrack(x, y) ? inside : outside);
            }
        }
        EXPECT_EQ(outside, 0) << number;
        moved |= inside > 0;
    }
    EXPECT_TRUE(moved);

    // The click: the layer "mover" centred on the mouse, where the background showed before,
    // and gone from the top of its column.
    ExpectNear(frames[clickFrame].At(kClickX, kClickY), kBrushCentre, 2, "clicked brush");
    EXPECT_EQ(frames[6].At(kClickX, kClickY), background.At(kClickX, kClickY));
    EXPECT_EQ(frames[clickFrame].At(560, 80), background.At(560, 80));

    // The key: its text at the bottom, inside its block.
    const Rect keyBlock = TextBlock(20, 448, "--font 'Bitstream Vera Sans' --size 20 --style 16",
                                    "Key pressed: a", scratch / "key.pam");
    int keyInk = 0, keyStray = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            if (frames[clickFrame].At(x, y) == frames[keyFrame].At(x, y)) continue;
            (keyBlock.Holds(x, y) ? keyInk : keyStray) += 1;
        }
    }
    EXPECT_GT(keyInk, 20);
    EXPECT_EQ(keyStray, 0);
}

INSTANTIATE_TEST_SUITE_P(VectorBackEnd, DemoRun, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Loaded" : "Missing";
                         });

bool Near(uint32_t got, uint32_t want, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(Channel(got, shift) - Channel(want, shift)) > tolerance) return false;
    }
    return true;
}

// The demo on a window autoscaled by a percentage (nearest scaling): every frame from the
// layers' scene on shows both brush layers at their scaled places (the mover somewhere down
// its column until the click puts it under the mouse), and from the shapes' scene on the
// shapes; a layer drawn unscaled or lost from the window fails.
class DemoAutoscaled : public Demo, public ::testing::WithParamInterface<int> {};

TEST_P(DemoAutoscaled, EveryLayerStaysAtItsScaledPlace) {
    const int percent = GetParam();
    const auto scaled = [&](int v) { return v * percent / 100; };
    const std::string size = std::to_string(percent) + "%";
    std::map<int, Picture> frames =
        Run(false, {}, {"-AUTOSCALE", "-SCALEWIDTH", size, "-SCALEHEIGHT", size}, percent);
    ASSERT_GE(frames.size(), 4u);
    // Nothing moves after the click: its answer is the last frame before the key's.
    int clickFrame = 0;
    for (const auto& entry : frames)
        clickFrame = entry.first < kKeyPresent ? entry.first : clickFrame;
    // The mover's centre colour lies near the middle of its scaled column (the gradient moves
    // about three steps a pixel: a tolerance of a few pixels for the sampling).
    const auto moverIn = [&](const Picture& frame) {
        for (int y = scaled(kTrackY0); y < scaled(kTrackY1); ++y) {
            if (Near(frame.At(scaled(kMoverCentreX), y), kBrushCentre, 8)) return true;
        }
        return false;
    };
    for (const auto& [number, frame] : frames) {
        SCOPED_TRACE("frame " + std::to_string(number));
        ASSERT_EQ(frame.width, scaled(640));
        ASSERT_EQ(frame.height, scaled(480));
        if (number < 2) continue;
        ExpectNear(frame.At(scaled(kBrushCentreX), scaled(kBrushCentreY)), kBrushCentre, 8,
                   "brush centre");
        if (number < clickFrame) {
            EXPECT_TRUE(moverIn(frame));
        } else {
            ExpectNear(frame.At(scaled(kClickX), scaled(kClickY)), kBrushCentre, 8, "clicked");
        }
        if (number < 3) continue;
        // The window pixel nearest the middle of the logical one: a point on a shape's edge
        // stays on the shape.
        const auto middle = [&](int v) { return ((2 * v + 1) * percent + 100) / 200; };
        for (const auto& s : kShapes) {
            EXPECT_EQ(frame.At(middle(s.x), middle(s.y)), s.colour) << s.x << "," << s.y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Percent, DemoAutoscaled, ::testing::Values(50, 150),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Scale" + std::to_string(info.param);
                         });

// On the virtual clock the interval's steps fall on the same frames each time, so two runs
// write the same files byte for byte and reference pictures can be kept.
TEST_F(Demo, TwoRunsOnTheVirtualClockWriteIdenticalFrames) {
    std::map<std::string, size_t> hashes[2];
    for (auto& run : hashes) {
        std::filesystem::remove_all(scratch / "frames");
        Run(false);
        for (const std::string& path : FilesIn(scratch / "frames")) {
            const Bytes bytes = ReadBytes(path);
            run[std::filesystem::path(path).filename()] = std::hash<std::string_view>()(
                {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
        }
    }
    EXPECT_GT(hashes[0].size(), SceneFrames(false).size());
    EXPECT_EQ(hashes[0], hashes[1]);
}

// The README's example: a relative folder is made in the directory the player starts in, not
// in the applet's.
TEST_F(Demo, AFramesFolderIsMadeInTheStartDirectory) {
    const Outcome o = Player({QV_DEMO_APPLET, "-QUIET"}, "",
                             {"QV_HEADLESS_FRAMES=made/frames", "QV_HEADLESS_CLOCK=virtual"});
    EXPECT_EQ(o.status, 0) << o.err;
    ASSERT_TRUE(std::filesystem::is_directory(scratch / "made/frames"));
    EXPECT_GT(FilesIn(scratch / "made/frames").size(), SceneFrames(false).size());
}

TEST_F(Demo, AFramesFolderThatCannotBeMadeEndsStartUp) {
    scratch.Write("taken", ToBytes("a file"));
    const Outcome o = Player({QV_DEMO_APPLET, "-QUIET"}, "", {"QV_HEADLESS_FRAMES=taken/frames"});
    Expect(o, "",
           "[QuorvellaPlayer] Error creating directory " + (scratch / "taken/frames") +
               " (Not a directory) !\n",
           20);
}

// How much of a pixel that changed from before to after the colour covers, from the channel
// in which the colour stands out most from what was there: 0 to 1.
double Coverage(uint32_t before, uint32_t after, uint32_t colour, int shift) {
    const int from = Channel(before, shift), to = Channel(colour, shift);
    return to == from ? 0 : double(Channel(after, shift) - from) / (to - from);
}

// The number of 4-connected pieces of a set of pixels.
int Pieces(std::set<std::pair<int, int>> pixels) {
    int pieces = 0;
    while (!pixels.empty()) {
        ++pieces;
        std::vector<std::pair<int, int>> open = {*pixels.begin()};
        pixels.erase(pixels.begin());
        while (!open.empty()) {
            const auto [x, y] = open.back();
            open.pop_back();
            for (const auto& next : {std::pair{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}}) {
                if (pixels.erase(next) != 0) open.push_back(next);
            }
        }
    }
    return pieces;
}

// What a user sees first shows what the system draws: the outline text anti-aliased (pixels
// that its colours only partly cover), and the turned text turned smoothly, so that its
// strokes are whole: the pixels it covers at least half make no more pieces than "Turned
// text" has letters.
TEST_F(Demo, ItsTextIsAntiAliasedAndItsTurnedTextWhole) {
    std::map<int, Picture> frames = Run(false);
    const Picture &before = frames[4], &tags = frames[5], &turned = frames[6];
    int partial = 0;
    for (int y = 345; y < 368; ++y) {
        for (int x = 160; x < 386; ++x) {
            const uint32_t got = tags.At(x, y);
            partial += got != before.At(x, y) && got != 0xFFFFFFu && got != 0xFFD700u;
        }
    }
    EXPECT_GT(partial, 100);
    std::set<std::pair<int, int>> ink;
    for (int y = 140; y < 480; ++y) {
        for (int x = 0; x < 160; ++x) {
            if (Coverage(tags.At(x, y), turned.At(x, y), 0xFF8040, 16) >= 0.5) ink.insert({x, y});
        }
    }
    EXPECT_GT(ink.size(), 200u);
    EXPECT_LE(Pieces(ink), 10);
}

TEST_F(Demo, CompletesOnAScreenOfFormat4) {
    std::map<int, Picture> frames = Run(true, {"QV_SCREEN_FORMAT=4"});
    EXPECT_GT(frames.size(), SceneFrames(true).size());
}

}  // namespace
}  // namespace qv::testing
