// End to end with the test plugin (in "LIBS:Quorvella") and its variants: the plugin line,
// errors raised by a plugin's command with the source file and line, the plugin list, a
// required plugin that is too old, a plugin for another platform, and the calls of preload
// recorded by the plugin's doubles of the preload commands.
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

// The plugin's own lines at shutdown: its library is freed before it is unloaded, after the
// exit report.
constexpr char kPluginShutdown[] = "qvtest: freelibrary\nqvtest: closeplugin\n";

class PluginsTest : public EndToEndTest {
protected:
    // The folder whose Quorvella/ holds qvtest.qvp (and the vector back end,
    // vectorgraphics.qvp).
    const std::string libs = std::filesystem::path(QV_TEST_PLUGIN_DIR).parent_path().string();
};

TEST_F(PluginsTest, ThePluginLineComesBeforeTheApplet) {
    Applet("app.qva", "three_lines");
    Expect(Player({"app.qva", "-QUIET"}, libs), std::string(kThreeLines) + kPluginShutdown, "", 0);
    Expect(Player({"app.qva"}, libs),
           Banner() + "Loading plugin qvtest.qvp... done\n" +
               "Loading plugin vectorgraphics.qvp... done\n" + Progress("app.qva") + kThreeLines +
               kPluginShutdown,
           "", 0);
}

TEST_F(PluginsTest, ACommandsErrorNamesTheSourceLine) {
    Applet("fail.qva", "fail_at_12", {"--linemap", "1:100:0:main.qvs:"});
    Expect(Player({"fail.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"}, libs),
           std::string("before\nmain.qvs:12: Could not find brush 5!\n") + kPluginShutdown, "", 20);
    Expect(Player({"fail.qva", "-QUIET"}, libs), std::string("before\n") + kPluginShutdown,
           "[QuorvellaPlayer] Could not find brush 5!\n"
           "File: main.qvs (current line: 12 - In function: TestFail)\n",
           20);
}

TEST_F(PluginsTest, ThePluginListHoldsTheTestPlugin) {
    Expect(Player({"-EXPORTPLUGINS", "plugins.txt", "-QUIET"}, libs), kPluginShutdown, "", 0);
    Bytes bytes = ReadBytes(scratch / "plugins.txt");
    std::string list(bytes.begin(), bytes.end());
    EXPECT_EQ(list.rfind("::plugin\n", 0), 0u) << list;
    EXPECT_NE(list.find("::commands\nTestPrint\n"), std::string::npos) << list;
    EXPECT_TRUE(list.ends_with("::end\n")) << list;
}

TEST_F(PluginsTest, ARequiredPluginMustBeNewEnough) {
    Applet("app.qva", "three_lines", {"--preload", "12:0:qvtest:2:0:0"});
    Expect(Player({"app.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"}, libs),
           std::string("Error: This program requires qvtest.qvp 2.0!\n") + kPluginShutdown, "", 20);
}

TEST_F(PluginsTest, APluginForAnotherPlatformIsSkipped) {
    std::filesystem::copy_file(std::filesystem::path(QV_PLUGIN_VARIANT_DIR) / "badarch.qvp",
                               scratch / "libs/Quorvella/badarch.qvp");
    Applet("app.qva", "three_lines");
    Expect(Player({"app.qva"}),
           Banner() +
               "Loading plugin badarch.qvp... failed\n"
               "(Reason: Plugin is incompatible with current platform! (Linux))\n" +
               Progress("app.qva") + kThreeLines,
           "", 0);
}

TEST_F(PluginsTest, PreloadCallsItsCommandsInOrder) {
    Applet(
        "app.qva", "three_lines",
        {"--preload", "4:7:snd.wav", "--preload", "1:3:pic.png", "--display", "1:320:200:Shown"});
    Outcome o = Player({"app.qva", "-QUIET"}, libs, {"QVTEST_RECORD=1"});
    // Relative names are taken from the applet's folder.
    for (size_t at; (at = o.out.find(scratch.path())) != std::string::npos;) {
        o.out.replace(at, scratch.path().size(), "DIR");
    }
    // The plugin stands in for CreateDisplay, so there is no display 1 to open.
    Expect(o,
           "CALL LoadSample 7 DIR/snd.wav\n"
           "CALL LoadBrush 3 DIR/pic.png {hardware=0 height=0 loadalpha=0 width=0 x=0 y=0}\n"
           "CALL CreateDisplay 1 {active=1 color=0 fillstyle=1 height=200 title=Shown width=320 "
           "x=-100000 y=-100000}\n" +
               std::string(kPluginShutdown),
           "[QuorvellaPlayer] Could not find display 1!\n", 20);
}

}  // namespace
}  // namespace qv::testing
