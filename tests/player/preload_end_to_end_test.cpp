// Resources that an applet made by qvmkapplet declares are loaded before its program runs,
// with the sizes and options the declaration gives.
#include <fstream>
#include <sstream>

#include "tests/platform/picture_test_support.h"
#include "tests/player/end_to_end.h"

namespace qv::testing {
namespace {

class PreloadEndToEnd : public EndToEndTest {
protected:
    // The folder whose Quorvella/ holds the test plugin, which with QVTEST_RECORD=1 stands in
    // for the preload commands and prints each call.
    const std::string plugins = std::filesystem::path(QV_TEST_PLUGIN_DIR).parent_path().string();

    void Picture(const std::string& name, int width, int height) {
        ASSERT_TRUE(
            WritePng(scratch / name, width, height, PatternPixels(width, height, false), false));
    }
};

// A brush declared without a transparent colour or a global alpha gets neither: the two
// together would be refused.
TEST_F(PreloadEndToEnd, ABrushDeclaredWithDefaultsStarts) {
    Picture("pic.png", 12, 7);
    Applet("brush.qva", "brush_size", {"--preload", "1:1:pic.png", "--display", "1:16:16:B"});
    Expect(Player({"brush.qva", "-QUIET"}), "12 7\n", "", 0);
}

// One item of every type that has a library, each with options of its own; the program reads
// back what start-up made of them, and the one frame shows display 1 at its declared size.
TEST_F(PreloadEndToEnd, EveryKindOfItemStartsWithItsOptions) {
    Picture("pic.png", 12, 7);
    Picture("strip.png", 9, 4);
    scratch.Write("notes.txt", ToBytes("first line\nsecond\n"));
    Applet(
        "all.qva", "preloaded_objects",
        {"--preload", "1:1:pic.png,width=5,height=4,x=2,y=1,globalalpha=128", "--preload",
         "0:2:pic.png,fillstyle=2,gradientcolor=0xFF0000/0,gradientcolor=0xFF/1", "--preload",
         "7:1:strip.png", "--preload", "8:1:notes.txt", "--preload", "9:1::::default_sans:20:0:0",
         "--preload", "5:1:,x=1,y=2,right=10,bottom=20", "--preload", "6:1:a", "--display",
         "1:40:30:All,color=0x00FF00,flags=0x401,givenflags=1"});
    scratch.MakeDir("frames");
    const Outcome o =
        Player({"all.qva", "-QUIET"}, "", {"QV_HEADLESS_FRAMES=" + (scratch / "frames")});
    Expect(o,
           "brush 5 4\npicture 12 7\nsprite 9 4\nfile first line\nfont 20\n"
           "attributes of picture 2 12 7\nattributes of display 1 40 30\n"
           "attributes of font 1 20\n",
           "", 0);
    const struct Picture frame = ReadPpm("pngtopnm " + LastFileIn(scratch / "frames"));
    EXPECT_EQ(frame.width, 40);
    EXPECT_EQ(frame.height, 30);
    EXPECT_EQ(frame.rgb.empty() ? 0u : frame.At(39, 29), 0x00FF00u);
}

// A preloaded button and key are the legacy label records of their area and key: a click
// outside the button and another key reach no label; the click inside and the key do.
TEST_F(PreloadEndToEnd, AButtonAndAKeyReachTheirLabels) {
    std::ifstream in(std::filesystem::path(QV_SOURCE_DIR) /
                     "tests/player/fixtures/preloaded_inputs.qvs");
    std::stringstream text;
    text << in.rdbuf();
    const AssembleResult chunk = Assemble(text.str());
    ASSERT_TRUE(chunk.ok());
    std::vector<std::string> recipe = {"-o",        scratch / "inputs.qva",
                                       "--chunk",   scratch.Write("inputs.qvb", chunk.bytes),
                                       "--preload", "5:1:,x=10,y=20,right=19,bottom=29",
                                       "--preload", "6:1:a",
                                       "--display", "1:64:48:Inputs"};
    for (const auto& [name, pc] : chunk.labels) {
        recipe.insert(recipe.end(), {"--label", name + "=" + std::to_string(pc)});
    }
    std::string error;
    ASSERT_EQ(RunMakeApplet(recipe, &error), 0) << error;
    scratch.Write("input.txt", ToBytes("3 click 20 30\n5 key 98\n7 click 19 29\n9 key 97\n"));
    Expect(Player({"inputs.qva", "-QUIET"}, "", {"QV_HEADLESS_INPUT=" + (scratch / "input.txt")}),
           "button 19 29\nkey\n", "", 0);
}

// Items of one name share their picture only where they load the same file: a linked item
// reads its own stretch of the applet, so pairing it with another item of its name would ask
// the cache for a picture it never kept. Every pairing starts and gets the picture's size.
TEST_F(PreloadEndToEnd, LinkedAndPlainItemsOfOneNameEachGetTheirPicture) {
    Picture("pic.png", 12, 7);
    Picture("strip.png", 9, 4);
    const std::string linked = ",linked=" + (scratch / "pic.png");
    const std::string brush = "1:1:pic.png", linkedBrush = brush + linked;
    const std::string other = "1:2:pic.png", linkedOther = other + linked;
    const std::vector<std::vector<std::string>> pairs = {
        {linkedBrush, linkedOther}, {linkedBrush, other}, {brush, linkedOther}, {brush, other}};
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair[0] + " and " + pair[1]);
        Applet("pair.qva", "brush_pair", {"--preload", pair[0], "--preload", pair[1]});
        Expect(Player({"pair.qva", "-QUIET"}), "12 7 12 7\n", "", 0);
    }
    Applet("sprites.qva", "sprite_pair",
           {"--preload", "7:1:strip.png,frames=1", "--preload",
            "7:2:strip.png,frames=1,linked=" + (scratch / "strip.png")});
    Expect(Player({"sprites.qva", "-QUIET"}), "9 4 9 4\n", "", 0);
}

// The gfx cache keeps no name of 1024 characters or more, so two items of such a name each
// load the file.
TEST_F(PreloadEndToEnd, ItemsOfANameTooLongForTheCacheLoadTheirFileEach) {
    std::string path;
    for (int i = 0; i < 5; ++i) {
        path += std::string(205, char('a' + i)) + "/";
        scratch.MakeDir(path);
    }
    path += "pic.png";
    ASSERT_GT(path.size(), 1023u);
    Picture(path, 12, 7);
    Applet("long.qva", "brush_pair", {"--preload", "1:1:" + path, "--preload", "1:2:" + path});
    Expect(Player({"long.qva", "-QUIET"}), "12 7 12 7\n", "", 0);
}

// A picture declared without a fill keeps its alpha channel and its mask: qvmkapplet's
// default is no fill.
TEST_F(PreloadEndToEnd, APictureDeclaredWithoutAFillKeepsItsPlanes) {
    ASSERT_TRUE(WritePng(scratch / "half.png", 8, 6, PatternPixels(8, 6, true), true));
    std::vector<uint32_t> keyed = PatternPixels(8, 6, false);
    keyed[0] = 0xFFFF00FF;
    ASSERT_TRUE(WritePng(scratch / "keyed.png", 8, 6, keyed, false));
    Applet("planes.qva", "bgpic_planes",
           {"--preload", "0:3:half.png,loadalpha=1", "--preload",
            "0:4:keyed.png,transparency=0xFF00FF"});
    Expect(Player({"planes.qva", "-QUIET"}), "0 1 1 0\n", "", 0);
}

// A built-in font's name in any case is no linked file, whatever data the item carries.
TEST_F(PreloadEndToEnd, ABuiltInFontNameInCapitalsIsNeverLinked) {
    scratch.Write("font.bin", ToBytes("not a font"));
    Applet("font.qva", "three_lines",
           {"--preload", "9:1::::DEFAULT_MONO:12:0:0,linked=" + (scratch / "font.bin")});
    Expect(Player({"font.qva", "-QUIET"}), kThreeLines, "", 0);
}

// A failing item is reported at its line in the listing that the program's default line map
// names, with the command that failed.
TEST_F(PreloadEndToEnd, AFailingItemIsReportedAtItsLineInTheListing) {
    Applet("fail.qva", "brush_pair", {"--preload", "1:1:missing.png,line=7"});
    Expect(Player({"fail.qva", "-QUIET"}), "",
           "[QuorvellaPlayer] Cannot load picture missing.png!\n"
           "File: brush_pair.qvs (current line: 7 - In function: LoadBrush)\n",
           20);
    Expect(Player({"fail.qva", "-QUIET", "-DEBUGDEVICE", "@stdout"}),
           "brush_pair.qvs:7: Cannot load picture missing.png!\n", "", 20);
}

// Every field qvmkapplet takes reaches the option table (or the arguments) of its command.
TEST_F(PreloadEndToEnd, EveryFieldReachesItsCommand) {
    Applet("fields.qva", "three_lines",
           {"--preload",
            "0:2:/bg.png,transparency=0xFF00FF,loadalpha=1,fillstyle=3,"
            "texturebrush=4,texturex=5,texturey=-6",
            "--preload",
            "0:3:/bg.png,fillstyle=2,gradientstyle=1,gradientangle=45,"
            "color=0xFF,gradientendcolor=0xFF00,gradientcenterx=0.25,"
            "gradientcolor=1/0,gradientcolor=2/0.5",
            "--preload",
            "1:3:/pic.png,width=5,height=4,x=2,y=1,globalalpha=128,hardware=1",
            "--preload",
            "7:4:/strip.png,transparency=0,width=3,height=2,frames=5,fpr=3,x=1,y=1",
            "--preload",
            "7:5:/Strip.png,frames=1,loadalpha=1",
            "--preload",
            "5:6:,x=1,y=2,right=10,bottom=-20",
            "--preload",
            "6:7:ESC",
            "--preload",
            "8:8:/notes.txt",
            "--preload",
            "9:9::::default_sans,arg1=20,arg2=0x10004",
            "--preload",
            "12:0:qvtest,arg1=1,arg2=2",
            "--display",
            "1:320:200:Shown, or not,x=10,y=-20,flags=0x4C01,givenflags=1,"
            "scalewidth=640,scaleheight=400,dragregion=1/0/0/320/20,"
            "sizeregion=2/300/180/20/20,fillstyle=3,texturebrush=2",
            "--display",
            "2:64:48:Two,flags=0x600,bgpic=3"});
    // The later sprite of the same file (names compare without case) takes the first one's
    // picture from the cache, and its alpha makes the first one cache alpha too. The plugin
    // stands in for CreateDisplay, so there is no display 1 to open.
    Expect(Player({"fields.qva", "-QUIET"}, plugins, {"QVTEST_RECORD=1"}),
           "CALL LoadBGPic 2 /bg.png {fillstyle=3 loadalpha=1 texturebrush=4 texturex=5 "
           "texturey=-6 transparency=16711935}\n"
           "CALL LoadBGPic 3 /bg.png {fillstyle=2 gradientangle=45 gradientbalance=0.5 "
           "gradientborder=0 gradientcenterx=0.25 gradientcentery=0.5 gradientcolors={0=1 1=0 "
           "2=2 3=0.5} gradientendcolor=65280 gradientstartcolor=255 gradientstyle=1 "
           "loadalpha=0}\n"
           "CALL LoadBrush 3 /pic.png {globalalpha=128 hardware=1 height=4 loadalpha=0 width=5 "
           "x=2 y=1}\n"
           "CALL LoadSprite 4 /strip.png {cache=1 cachealpha=1 fpr=3 frames=5 height=2 "
           "loadalpha=0 transparency=0 width=3 x=1 y=1}\n"
           "CALL LoadSprite 5 /Strip.png {cachedload=1 frames=1 loadalpha=1 x=0 y=0}\n"
           "CALL CreateButton 6 1 2 10 -20\n"
           "CALL CreateKeyDown 7 ESC\n"
           "CALL OpenFile 8 /notes.txt 1005\n"
           "CALL OpenFont 9 :::default_sans 20 {cache=0 engine=4}\n"
           "CALL CreateDisplay 1 {active=1 borderless=1 dragregion={0={height=20 type=1 "
           "width=320 x=0 y=0}} fillstyle=3 height=200 hidden=1 noclose=1 scaleheight=400 "
           "scalewidth=640 sizeregion={0={height=20 type=2 width=20 x=300 y=180}} "
           "texturebrush=2 texturex=0 texturey=0 title=Shown, or not width=320 x=10 y=-20}\n"
           "CALL CreateDisplay 2 {active=1 bgpic=3 title=Two x=-100000 y=-100000}\n"
           "qvtest: freelibrary\nqvtest: closeplugin\n",
           "[QuorvellaPlayer] Could not find display 1!\n", 20);
}

}  // namespace
}  // namespace qv::testing
