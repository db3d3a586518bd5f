// Sprites shown, moved and removed by an applet on a headless display: the last frame the back
// end keeps (QV_HEADLESS_FRAMES), read through netpbm's pngtopnm, holds the moved sprite
// only, with the background back where it was and where the removed one stood. A preloaded
// sprite sheet and a brush of one picture that PIL writes start in either order.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

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
    QV_REQUIRE_TOOL("pngtopnm");
    Applet("sprites.qva", "show_sprites", {"--display", "1:64:48:Sprites"});
    scratch.MakeDir("frames");
    scratch.Write("input.txt", ToBytes("3 close\n"));
    const Outcome o =
        Player({"sprites.qva", "-QUIET"}, "",
               {"QV_HEADLESS_INPUT=" + (scratch / "input.txt"),
                "QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"});
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
