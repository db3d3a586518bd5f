// End to end on the headless video back end: the back end a script sees, the frames of the
// first display, the input schedule reaching it and qvwin, and the display mode of start-up.
#include <algorithm>
#include <fstream>

#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

constexpr char kQuiet[] = "-QUIET";
// Leaks inside the desktop libraries that SDL2 opens when it looks for a desktop.
const std::string kDesktopLeaks = std::string(QV_SOURCE_DIR) + "/tests/platform/x11/lsan.supp";

// The size in a PNG's header chunk.
std::pair<uint32_t, uint32_t> PngSize(const std::string& file) {
    const Bytes bytes = ReadBytes(file);
    if (bytes.size() < 24) return {0, 0};
    auto word = [&](size_t at) {
        return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
               uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
    };
    return {word(16), word(20)};
}

class Video : public EndToEndTest {
protected:
    std::string Input(const std::string& text) {
        std::ofstream(scratch / "input.txt") << text;
        return "QV_HEADLESS_INPUT=" + (scratch / "input.txt");
    }
    Outcome Window(std::vector<std::string> args, const std::string& input) {
        args.insert(args.begin(), QVWIN_PATH);
        return Spawn(args, scratch.path(), {Input(input)});
    }
};

TEST_F(Video, AScriptReadsTheBackEndThePlayerChose) {
    Applet("name.qva", "video_name");
    Expect(Player({"name.qva", kQuiet}), "headless\n", "", 0);
}

TEST_F(Video, AnUnreachableDesktopRunsHeadlessWithANotice) {
    Applet("name.qva", "video_name");
    const Outcome o = Player({"name.qva", kQuiet}, "",
                             {"QV_VIDEO=", "DISPLAY=:4093", "WAYLAND_DISPLAY=",
                              "LSAN_OPTIONS=print_suppressions=0:suppressions=" + kDesktopLeaks});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "headless\n");
    EXPECT_EQ(o.err.rfind("QuorvellaPlayer: no desktop at DISPLAY=:4093 (", 0), 0u) << o.err;
    EXPECT_TRUE(o.err.ends_with("), running headless\n")) << o.err;
}

// Asked for SDL2 where no desktop is named, the player refuses at once: SDL's off-screen
// driver would show nothing while the run waits for input nobody can give.
TEST_F(Video, ForcedSdlWithoutADesktopIsRefused) {
    Applet("name.qva", "video_name");
    const Outcome o = Player({"name.qva", kQuiet}, "",
                             {"QV_VIDEO=sdl", "DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER="});
    Expect(o, "",
           "[QuorvellaPlayer] Cannot open SDL2 video (neither DISPLAY nor WAYLAND_DISPLAY names a "
           "desktop) !\n",
           20);
}

TEST_F(Video, TheFirstDisplayKeepsFramesAndACloseRequestEndsTheRun) {
    Applet("wait.qva", "vblank_forever", {"--display", "1:64:48:Frames"});
    scratch.MakeDir("frames");
    const Outcome o =
        Player({"wait.qva", kQuiet}, "",
               {Input("2 click 10 10\n3 key 97\n5 close\n"),
                "QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"});
    Expect(o, "", "", 0);
    // The window's first present shows it; nothing drew into it afterwards.
    EXPECT_EQ(FilesIn(scratch / "frames"),
              std::vector<std::string>{scratch / "frames/frame-000001-w1.png"});
    EXPECT_EQ(PngSize(scratch / "frames/frame-000001-w1.png"), std::make_pair(64u, 48u));
}

// Display mode 3 asks; the answer "Windowed" opens the displays as windows, a full-screen
// answer on the run-time's own screen.
TEST_F(Video, StartUpAsksForTheDisplayMode) {
    Applet("ask.qva", "three_lines", {"--section", "16:03", "--display", "1:32:16:Pick"});
    const std::string asked = "[Pick] Please select desired display mode!\n";
    Expect(Player({"ask.qva", kQuiet}, "", {"QV_REQUESTER_ANSWERS=Windowed"}), kThreeLines, asked,
           0);
    Expect(Player({"ask.qva", kQuiet}, "", {"QV_REQUESTER_ANSWERS=Full screen (best fit)"}),
           kThreeLines, asked, 0);
}

TEST_F(Video, AMalformedInputLineEndsStartUp) {
    Applet("wait.qva", "vblank_forever");
    const Outcome o = Player({"wait.qva", kQuiet}, "", {Input("1 close\n2 clack 1 1\n")});
    Expect(o, "",
           "QV_HEADLESS_INPUT " + (scratch / "input.txt") +
               " line 2 \"2 clack 1 1\": expected FRAME click|press|release|move|movewindow X "
               "Y, FRAME sizewindow W H, FRAME key|keydown|keyup CODE or FRAME "
               "close|activate|deactivate, each with an optional @DISPLAY\n"
               "[QuorvellaPlayer] Cannot read file input.txt (line 2) !\n",
           20);
}

// A flip copies after its vertical blank: the frame of that blank shows the flipped picture,
// so each flip is one frame and the last flip is written too.
TEST_F(Video, EachFlipIsTheFrameOfItsBlank) {
    Applet("flip.qva", "flip_twice", {"--display", "1:64:48:Flip"});
    scratch.MakeDir("frames");
    Expect(Player({"flip.qva", kQuiet}, "",
                  {"QV_HEADLESS_FRAMES=" + (scratch / "frames"), "QV_HEADLESS_CLOCK=virtual"}),
           "", "", 0);
    std::vector<std::string> frames = FilesIn(scratch / "frames");
    std::sort(frames.begin(), frames.end());
    ASSERT_EQ(frames.size(), 2u);
    const uint32_t colours[] = {0xFF0000, 0x00FF00};
    for (size_t i = 0; i < frames.size(); ++i) {
        const Picture picture = ReadPpm("pngtopnm " + frames[i] + " 2>/dev/null");
        ASSERT_EQ(picture.width, 64) << frames[i];
        EXPECT_EQ(picture.At(32, 24), colours[i]) << frames[i];
    }
}

// A key and a button held over frames are seen down between their edges by the state
// commands, which a press and release within one frame never show.
TEST_F(Video, HeldKeysAndButtonsAreSeenDown) {
    Applet("held.qva", "held_input", {"--display", "1:64:48:Held"});
    const Outcome o = Player({"held.qva", kQuiet}, "",
                             {Input("3 keydown 97\n6 keyup 97\n9 press 5 5\n12 release 5 5\n"),
                              "QV_HEADLESS_CLOCK=virtual"});
    Expect(o, "a down\na up\nleft down\nleft up\n", "", 0);
}

// Input of frame N comes with the N-th refresh after the start, N / 60 s on the virtual clock,
// whichever way the script waits: a key held from frame 30 to 60 is down for half a second.
TEST_F(Video, ScheduledInputComesAtItsFrameInEveryWait) {
    Applet("keys.qva", "timed_keys", {"--display", "1:64:48:Keys"});
    const Outcome o = Player({"keys.qva", kQuiet}, "",
                             {Input("30 keydown 97\n60 keyup 97\n90 keydown 98\n120 keyup 98\n"
                                    "150 keydown 99\n180 keyup 99\n"),
                              "QV_HEADLESS_CLOCK=virtual"});
    Expect(o,
           "OnKeyDown 500\nOnKeyUp 1000\nOnKeyDown 1500\nOnKeyUp 2000\nOnKeyDown 2500\n"
           "OnKeyUp 3000\n",
           "", 0);
}

TEST_F(Video, QvwinPrintsTheScheduledInputAtItsFrames) {
    const std::string input = "2 click 100 80\n3 key 97\n4 move 5 7\n6 close\n";
    // qvwin opens its window active: the desktop reports the activation (event 8) first.
    const std::string early =
        "READY 0 0 200 100\nEVENT 8 0 0 0\n"
        "EVENT 1 100 80 1\nEVENT 1 100 80 0\nEVENT 3 1 0 97\nEVENT 3 0 0 97\n";
    // Five presents end it before the close comes; ten let the close end it.
    Expect(Window({"--width", "200", "--height", "100", "--frames", "5"}, input), early, "", 0);
    Expect(Window({"--width", "200", "--height", "100", "--frames", "10"}, input),
           early + "EVENT 7 0 0 0\n", "", 0);
    Expect(Window({"--width", "0"}, ""), "",
           "qvwin: usage: qvwin [--x X] [--y Y] [--width W] [--height H] [--borderless] "
           "[--ppm FILE] [--shape FILE] [--frames N]\n",
           20);
}

}  // namespace
}  // namespace qv::testing
