// Sprites shown, moved and removed by an applet on a headless display: the last frame the back
// end keeps (QV_HEADLESS_FRAMES), read through netpbm's pngtopnm, holds the moved sprite
// only, with the background back where it was and where the removed one stood. Sprites cut
// from pictures that PIL writes: every frame the back end keeps shows the frames in turn;
// preloaded sprites and brushes of one picture start in either order.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

#define REQUIRE_TOOLS()                                                                       \
    do {                                                                                      \
        if (const std::string missing = MissingTool(); !missing.empty()) {                    \
            const char* ci = std::getenv("CI");                                               \
            if (ci != nullptr && std::string(ci) == "true") FAIL() << "missing: " << missing; \
            GTEST_SKIP() << "missing: " << missing;                                           \
        }                                                                                     \
    } while (0)

class SpritesEndToEnd : public EndToEndTest {
protected:
    // The first check of a tool the tests need that fails, or none.
    static std::string MissingTool() {
        for (const char* check : {"command -v pngtopnm >/dev/null 2>&1",
                                  "/usr/bin/python3 -c 'import PIL' >/dev/null 2>&1"}) {
            if (std::system(check) != 0) return check;
        }
        return "";
    }
    // The pictures of the sprite tests, in the scratch folder.
    void WritePictures() {
        const std::string script =
            std::string(QV_SOURCE_DIR) + "/tests/objects/sprite/scripts/sprite_pictures.py";
        ASSERT_EQ(
            std::system(("/usr/bin/python3 '" + script + "' '" + scratch.path() + "'").c_str()), 0);
    }
    // Every frame the back end kept, in order.
    std::vector<Picture> Frames() {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(scratch / "frames")) {
            names.push_back(entry.path().string());
        }
        std::sort(names.begin(), names.end());
        std::vector<Picture> frames;
        for (const std::string& name : names) {
            frames.push_back(ReadPpm("pngtopnm " + name + " 2>/dev/null"));
        }
        return frames;
    }
};

TEST_F(SpritesEndToEnd, TheLastFrameHoldsTheMovedSpriteOnly) {
    if (std::system("command -v pngtopnm >/dev/null 2>&1") != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "pngtopnm missing";
        GTEST_SKIP() << "pngtopnm missing";
    }
    Applet("sprites.qva", "show_sprites", {"--display", "1:64:48:Sprites"});
    scratch.MakeDir("frames");
    scratch.Write("input.txt", ToBytes("3 close\n"));
    const Outcome o = Player({"sprites.qva", "-QUIET"}, "",
                             {"QV_HEADLESS_INPUT=" + (scratch / "input.txt"),
                              "QV_HEADLESS_FRAMES=" + (scratch / "frames")});
    Expect(o, "", "", 0);
    const std::string lastFrame = LastFileIn(scratch / "frames");
    ASSERT_FALSE(lastFrame.empty());
    const Picture frame = ReadPpm("pngtopnm " + lastFrame + " 2>/dev/null");
    ASSERT_EQ(frame.width, 64);
    ASSERT_EQ(frame.height, 48);
    struct Probe {
        int x, y;
        uint32_t rgb;
    };
    const Probe probes[] = {
        {40, 20, 0xFF0000}, {47, 27, 0xFF0000},  // the moved sprite, corner to corner
        {39, 20, 0},        {48, 27, 0},         // and nothing beside it
        {4, 4, 0},          {11, 11, 0},         // where it stood first
        {20, 30, 0},        {27, 37, 0},         // where the removed one stood
    };
    for (const Probe& p : probes) EXPECT_EQ(frame.At(p.x, p.y), p.rgb) << p.x << "," << p.y;
}

// Sheet and GIF frames in turn with frame 0, then a still picture of every kind of sprite; the
// debug output holds collisions, attributes and the codes of the failures.
TEST_F(SpritesEndToEnd, FramesCutFromPicturesShowInTurn) {
    REQUIRE_TOOLS();
    WritePictures();
    Applet("sheets.qva", "sprite_sheets", {"--display", "1:64:48:Sprites"});
    scratch.MakeDir("frames");
    const Outcome o =
        Player({"sheets.qva", "-QUIET"}, "", {"QV_HEADLESS_FRAMES=" + (scratch / "frames")});
    Expect(o,
           "0 1 0\n"                        // apart, opaque on opaque, on the masked half
           "0 1\n"                          // the masked half and the opaque one, as boxes
           "1\n"                            // moved onto the opaque half
           "4 1 8 1 1 16711935 16 4 0 9\n"  // attributes
           "1220\n1217\n1218\n1219\n",      // not shown, bad cuts, nothing left behind
           "", 0);
    const std::vector<Picture> frames = Frames();
    ASSERT_FALSE(frames.empty());
    // (the sheet's pixel, the GIF's top-left corner, its last pixel), each change once.
    using State = std::tuple<uint32_t, uint32_t, uint32_t>;
    std::vector<State> states;
    for (const Picture& f : frames) {
        ASSERT_EQ(f.width, 64);
        const State state{f.At(4, 4), f.At(11, 1), f.At(17, 7)};
        if (state == State{0, 0, 0} || (!states.empty() && states.back() == state)) continue;
        states.push_back(state);
    }
    constexpr uint32_t R = 0xFF0000, G = 0x00FF00, B = 0x0000FF, W = 0xFFFFFF;
    const std::vector<State> expected = {
        {R, 0, 0}, {G, 0, 0}, {B, 0, 0}, {W, 0, 0}, {R, 0, 0},  // the sheet: 1, 2, 3, 4, 1
        {R, R, R}, {R, G, R}, {R, B, B}, {R, B, W}, {R, R, R},  // the GIF, composed
    };
    EXPECT_EQ(states, expected);
    const Picture& last = frames.back();
    EXPECT_NEAR(double(last.At(22, 2) >> 16), 128, 2) << "half alpha over black";
    EXPECT_EQ(last.At(22, 2) & 0xFFFF, 0u);
    struct Probe {
        int x, y;
        uint32_t rgb;
    };
    const Probe probes[] = {
        {31, 1, 0},  {37, 7, 0xFFFF00},  // the keyed picture: its magenta half masked
        {34, 3, R},                      // the 2 x 2 sprite over it
        {1, 21, B},  {11, 31, W},        // frame 3 of the six-number cut, a copy's frame 4
        {21, 21, R}, {35, 21, G},       {21, 35, B}, {35, 35, W},  // the whole brush
    };
    for (const Probe& p : probes) EXPECT_EQ(last.At(p.x, p.y), p.rgb) << p.x << "," << p.y;
}

// A preloaded sprite sheet and a brush of one picture start in either order and show the
// picture. Start-up makes the later item a cached load, which never reads the file: a start
// means the file was read once.
TEST_F(SpritesEndToEnd, PreloadedSpriteAndBrushOfOnePicture) {
    REQUIRE_TOOLS();
    WritePictures();
    const std::string sprite = "7:1:sheet.png,frames=4,fpr=2", brush = "1:2:sheet.png";
    for (const auto& [first, second] : {std::pair{sprite, brush}, std::pair{brush, sprite}}) {
        Applet("preload.qva", "preloaded_sheet",
               {"--display", "1:64:48:Sprites", "--preload", first, "--preload", second});
        std::filesystem::remove_all(scratch / "frames");
        scratch.MakeDir("frames");
        const Outcome o =
            Player({"preload.qva", "-QUIET"}, "", {"QV_HEADLESS_FRAMES=" + (scratch / "frames")});
        Expect(o, "8 4 16\n", "", 0);
        const std::vector<Picture> frames = Frames();
        ASSERT_FALSE(frames.empty());
        EXPECT_EQ(frames.back().At(4, 4), 0xFF0000u) << first;
        EXPECT_EQ(frames.back().At(32, 12), 0xFFFFFFu) << first;
    }
}

}  // namespace
}  // namespace qv::testing
