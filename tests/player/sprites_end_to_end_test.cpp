// Sprites shown, moved and removed by an applet on a headless display: the last frame the back
// end keeps (QV_HEADLESS_FRAMES), read through netpbm's pngtopnm, holds the moved sprite
// only, with the background back where it was and where the removed one stood.
#include <cstdlib>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class SpritesEndToEnd : public EndToEndTest {};

TEST_F(SpritesEndToEnd, TheLastFrameHoldsTheMovedSpriteOnly) {
    if (std::system("command -v pngtopnm >/dev/null 2>&1") != 0) {
        const char* ci = std::getenv("CI");
        if (ci != nullptr && std::string(ci) == "true") FAIL() << "pngtopnm missing";
        GTEST_SKIP() << "pngtopnm missing";
    }
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

}  // namespace
}  // namespace qv::testing
