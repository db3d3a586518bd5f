// The applet builder: its bytes against the container layout written out by hand, and its
// command line against the library.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>

#include "tests/platform/file_test_support.h"
#include "tools/qvmkapplet/applet_builder.h"

namespace qv {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;
using testing::ToBytes;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kHead = {'Q', 'V', 'A', 0, 0, 0, 0, 0};

TEST(AppletBuilder, SectionsInOrderThenChunkThenNames) {
    AppletBuilder b;
    b.SetChunk(ToBytes("CH"));
    b.AddFlag("sizeable", true);
    b.AddTitle("Hi");
    b.AddLabel("go", 7);
    PreloadSpec brush;
    brush.type = 1;
    brush.id = 3;
    brush.name = "b.png";
    brush.width = 16;
    brush.height = 8;
    brush.x = -1;
    brush.hardware = 1;
    b.AddPreload(brush);
    b.SetVersion(4, 0);  // a later version call still decides the item's layout
    Bytes expected = Concat({
        kHead,
        {10, 4, 0},
        {20, 1},
        {4, 0, 2, 'H', 'i'},
        {9, 0, 0, 0, 1, 0, 0, 0, 7, 'g', 'o', 0},
        {2, 0, 0, 0, 1, 1, 0, 0, 0, 3},
        {0, 0, 0, 85, 0, 0, 0, 5},                         // name at offset 85, 5 bytes
        {0, 0, 0, 0, 0, 0, 0, 0},                          // no linked data
        {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0},  // no transparent colour
        {0, 16, 0, 8, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF},  // no global alpha, no hardware byte (4.0)
        {1, 0, 0, 0, 2, 'C', 'H'},
        ToBytes("b.png"),
    });
    Bytes built = b.Build();
    EXPECT_EQ(built, expected);
    EXPECT_EQ(std::string(built.begin() + 85, built.end()), "b.png");
}

TEST(AppletBuilder, LinkedFilesConstantsAndLineMaps) {
    AppletBuilder b;
    b.AddLink("in.txt", ToBytes("xy"), false);
    b.AddLink("out.txt", ToBytes("z"), true);
    b.AddConstant("N", 1.5);
    b.AddConstant("S", "t");
    b.AddLineMap(1, 2, 3, "s.hws", std::nullopt);
    b.AddLineMap(4, 5, 6, "t.hws", "inc");
    Bytes expected = Concat({
        kHead,
        {10, 5, 0},
        {26, 0, 0, 0, 1, 0, 0, 0, 0, 'i', 'n', '.', 't', 'x', 't', 0, 0, 0, 0, 2, 'x', 'y'},
        {26, 0, 0, 0, 1, 0, 0, 0, 0, 'o', 'u', 't', '.', 't', 'x', 't', 0},
        {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0, 0, 0, 137},
        {31, 'N', 0, 0, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0, 0},
        {31, 'S', 0, 1, 't', 0, 0},
        {8, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 's', '.', 'h', 'w', 's', 0},
        {27, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 't', '.', 'h', 'w', 's', 0},
        {'i', 'n', 'c', 0},
        {1, 0, 0, 0, 0},
        {'z'},
    });
    EXPECT_EQ(b.Build(), expected);
}

TEST(AppletBuilder, CompressedAndBrokenForms) {
    AppletBuilder b;
    b.SetChunk(Bytes(1000, 'c'));
    Bytes plain = b.Build();
    b.SetCompressed(true);
    Bytes packed = b.Build();
    ASSERT_GT(packed.size(), 8u);
    EXPECT_EQ(Bytes(packed.begin(), packed.begin() + 8), Bytes({'Q', 'V', 'Z', 0, 0, 0, 0, 0}));
    Bytes unpacked(plain.size());
    uLongf size = unpacked.size();
    ASSERT_EQ(uncompress(unpacked.data(), &size, packed.data() + 8, packed.size() - 8), Z_OK);
    EXPECT_EQ(unpacked, plain);

    b.SetCompressed(false);
    b.SetMagic("XY");
    b.SetTruncate(6);
    EXPECT_EQ(b.Build(), Bytes({'X', 'Y', 0, 0, 0, 0}));
}

TEST(AppletBuilder, AppendToPlayerNeedsExactlyOneLinkRecord) {
    Bytes marker(std::begin(kAppletLinkMarker), std::end(kAppletLinkMarker));
    Bytes record = Concat({ToBytes("company"), {0xDE, 0xAD, 0xC0, 0xDE}, marker, {0}});
    Bytes player = Concat({ToBytes("ELF..."), record, ToBytes("tail")});
    Bytes applet = ToBytes("QVA applet");
    Bytes out;
    std::string error;
    ASSERT_TRUE(AppendAppletToPlayer(player, applet, &out, &error)) << error;
    uint32_t size = static_cast<uint32_t>(player.size());
    Bytes expected = player;
    size_t word = 6 + 7;
    for (int i = 0; i < 4; ++i) expected[word + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    expected.insert(expected.end(), applet.begin(), applet.end());
    EXPECT_EQ(out, expected);

    EXPECT_FALSE(AppendAppletToPlayer(ToBytes("no record"), applet, &out, &error));
    EXPECT_FALSE(AppendAppletToPlayer(Concat({player, record}), applet, &out, &error));
    EXPECT_NE(error.find("more than one"), std::string::npos);
}

int RunTool(const std::vector<std::string>& args) {
    std::string command = QVMKAPPLET_PATH;
    for (const std::string& a : args) command += " '" + a + "'";
    int status = std::system((command + " 2>/dev/null").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(QvmkappletCli, ToolAndLibraryWriteIdenticalBytes) {
    ScratchDir dir;
    std::string chunk = dir.Write("chunk.bin", ToBytes("\x1bQVB chunk"));
    std::string data = dir.Write("data.txt", ToBytes("linked data"));
    auto recipe = [&](const std::string& out) {
        std::vector<std::string> args = {
            "-o",           out, "--chunk", chunk, "--link", "a.txt=" + data, "--link-external",
            "b.txt=" + data};
        for (const char* word : {"--flag",    "borderless=1",
                                 "--title",   "T",
                                 "--version", "4.7",
                                 "--info",    "2=about",
                                 "--screen",  "320:200",
                                 "--preload", "1:5:pic.png:1:0:12",
                                 "--display", "2:800:600:Second",
                                 "--const",   "ANSWER=42",
                                 "--const",   "NAME=@text",
                                 "--label",   "start=0x10",
                                 "--linemap", "1:9:0:main.hws",
                                 "--linemap", "10:20:3:inc.hws:app",
                                 "--section", "0:00000002abcd",
                                 "--qvz"}) {
            args.push_back(word);
        }
        return args;
    };
    std::string error;
    ASSERT_EQ(RunMakeApplet(recipe(dir / "lib.qva"), &error), 0) << error;
    ASSERT_EQ(RunTool(recipe(dir / "tool.qva")), 0);
    EXPECT_EQ(ReadBytes(dir / "tool.qva"), ReadBytes(dir / "lib.qva"));
    EXPECT_GT(ReadBytes(dir / "tool.qva").size(), 8u);
}

TEST(QvmkappletCli, RefusesBadRecipes) {
    ScratchDir dir;
    std::string chunk = dir.Write("chunk.bin", ToBytes("c"));
    std::string out = dir / "out";
    const std::vector<std::vector<std::string>> bad = {
        {"--chunk", chunk},
        {"-o", out},
        {"-o", out, "--chunk", dir / "missing"},
        {"-o", out, "--chunk", chunk, "--flag", "wobbly=1"},
        {"-o", out, "--chunk", chunk, "--flag", "fixed=2"},
        {"-o", out, "--chunk", chunk, "--info", "6=x"},
        {"-o", out, "--chunk", chunk, "--version", "5"},
        {"-o", out, "--chunk", chunk, "--section", "1:abc"},
        {"-o", out, "--chunk", chunk, "--preload", "1:2"},
        {"-o", out, "--chunk", chunk, "--append-to", chunk},  // no link record
        {"-o", out, "--chunk", chunk, "--unknown", "x"},
        {"-o", out, "--chunk", chunk, "--truncate"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_EQ(RunMakeApplet(args, &error), 1) << args.back();
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(RunTool(bad.back()), 1);
}

// An item given on the command line is laid out as the builder lays out the same record.
TEST(QvmkappletCli, ItemFieldsFillTheRecord) {
    ScratchDir dir;
    std::string chunk = dir.Write("chunk.bin", ToBytes("c"));
    std::string data = dir.Write("data.bin", ToBytes("linked"));
    auto spec = [](uint8_t type, uint32_t id, std::string name) {
        PreloadSpec item;
        item.type = type;
        item.id = id;
        item.name = std::move(name);
        return item;
    };
    struct Case {
        std::vector<std::string> args;
        PreloadSpec item;
    };
    std::vector<Case> cases;
    {
        PreloadSpec brush = spec(1, 2, "a,b.png");  // "," without a field stays in the name
        brush.arg1 = 0xFF00FF;
        brush.arg2 = 1;
        brush.width = 5, brush.height = 4, brush.x = -2, brush.y = 1;
        brush.globalAlpha = 128, brush.hardware = 1;
        cases.push_back({{"--preload",
                          "1:2:a,b.png,transparency=0xFF00FF,loadalpha=1,width=5,"
                          "height=4,x=-2,y=1,globalalpha=128,hardware=1"},
                         brush});
    }
    {
        PreloadSpec font = spec(9, 3, ":::default_sans");
        font.arg1 = 20, font.arg2 = 4, font.line = 7;
        cases.push_back({{"--preload", "9:3::::default_sans:20:4:7"}, font});
        cases.push_back({{"--preload", "9:3::::default_sans,arg1=20,arg2=4,line=7"}, font});
    }
    {
        PreloadSpec linked = spec(8, 1, "data.bin");
        linked.linked = ToBytes("linked");
        cases.push_back({{"--preload", "8:1:data.bin,linked=" + data}, linked});
        cases.push_back({{"--preload", "8:1:a:b"}, spec(8, 1, "a:b")});
    }
    {
        PreloadSpec anim = spec(2, 4, "x.gif");
        anim.fromDisk = 1, anim.frames = 6, anim.framesPerRow = 3;
        cases.push_back({{"--preload", "2:4:x.gif,fromdisk=1,frames=6,fpr=3"}, anim});
        PreloadSpec button = spec(5, 5, "");
        button.x = 1, button.y = 2, button.right = 30, button.bottom = 40;
        cases.push_back({{"--preload", "5:5:,x=1,y=2,right=30,bottom=40"}, button});
    }
    {
        PreloadSpec bg = spec(0, 1, "bg.png");
        bg.fillStyle = 2, bg.colour = 0x10, bg.gradientEnd = 0x20, bg.angle = 90;
        bg.gradient.style = 3, bg.gradient.centerX = 250000, bg.gradient.centerY = 750000;
        bg.gradient.balance = 100000, bg.gradient.border = 1000000;
        bg.gradient.stops = {{0xFF, 0}, {0xFF00, 500000}};
        bg.textureBrush = 4, bg.textureX = 5, bg.textureY = 6;
        cases.push_back({{"--preload",
                          "0:1:bg.png,fillstyle=2,color=0x10,gradientendcolor=0x20,"
                          "gradientangle=90,gradientstyle=3,gradientcenterx=0.25,"
                          "gradientcentery=0.75,gradientbalance=0.1,"
                          "gradientborder=1,gradientcolor=0xFF/0,"
                          "gradientcolor=0xFF00/0.5,texturebrush=4,texturex=5,"
                          "texturey=6"},
                         bg});
    }
    {
        PreloadSpec display = DisplayItem(2, 320, 200, "A: b, c");
        display.x = 10, display.y = -20, display.colour = 0xFF;
        display.styleFlags = 0x601, display.givenFlags = 1, display.bgpic = 3;
        display.scaleWidth = 640, display.scaleHeight = 400;
        display.dragRegions = {{1, 0, 0, 320, 20}, {1, 0, 180, 320, 20}};
        display.sizeRegions = {{2, 300, 180, 20, 20}};
        display.fillStyle = 3, display.textureBrush = 9;
        cases.push_back({{"--display",
                          "2:320:200:A: b, c,x=10,y=-20,color=0xFF,flags=0x601,"
                          "givenflags=1,bgpic=3,scalewidth=640,scaleheight=400,"
                          "dragregion=1/0/0/320/20,dragregion=1/0/180/320/20,"
                          "sizeregion=2/300/180/20/20,fillstyle=3,texturebrush=9"},
                         display});
        display.title = "New";
        cases.push_back({{"--preload",
                          "10:2:,width=320,height=200,x=10,y=-20,color=0xFF,"
                          "flags=0x601,givenflags=1,bgpic=3,scalewidth=640,"
                          "scaleheight=400,dragregion=1/0/0/320/20,"
                          "dragregion=1/0/180/320/20,sizeregion=2/300/180/20/20,"
                          "fillstyle=3,texturebrush=9,title=New"},
                         display});
        // Without fields a display is the display item's defaults.
        cases.push_back({{"--preload", "10:4:"}, DisplayItem(4, 640, 480, "")});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args = {"-o", dir / "cli.qva", "--chunk", chunk};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string error;
        ASSERT_EQ(RunMakeApplet(args, &error), 0) << error;
        AppletBuilder b;
        b.SetChunk(ToBytes("c"));
        b.AddPreload(c.item);
        EXPECT_EQ(ReadBytes(dir / "cli.qva"), b.Build());
    }
}

// A field of another type, an unknown field, a value that does not fit and a broken list are
// refused rather than dropped.
TEST(QvmkappletCli, RefusesBadItemFields) {
    ScratchDir dir;
    std::string chunk = dir.Write("chunk.bin", ToBytes("c"));
    for (const char* bad : {
             "1:1:a.png,frames=3",       // brushes have no frames
             "7:1:a.png,globalalpha=1",  // sprites have no global alpha
             "8:1:f,transparency=1",     // files have no transparent colour
             "5:1:,width=3",             // buttons have edges, not sizes
             "1:1:a.png,hardware=256",   // one byte
             "0:1:a.png,gradientangle=70000",
             "0:1:a.png,gradientstyle=300",
             "0:1:a.png,gradientcenterx=-0.5",
             "0:1:a.png,gradientcolor=1",
             "10:1:,dragregion=1/2/3/4",
             "1:1:a.png,width=",
             "1:1:a.png,width=4,",
             "8:1:f,linked=/no/such/file",
             "1:1:a.png,width=4,wobble=1",  // a known field first: the rest must be fields
             "1:1:pic.png,widht=5",         // a misspelt field is not part of the name
             "1:1:a.png,width=70000",
             "7:1:a.png,x=-40000",
             "5:1:,bottom=65536",  // 16 bits
             "13:1:a",
             "255:1:a",  // types the player does not preload
         }) {
        std::string error;
        EXPECT_EQ(RunMakeApplet({"-o", dir / "out", "--chunk", chunk, "--preload", bad}, &error), 1)
            << bad;
    }
    std::string error;
    EXPECT_EQ(RunMakeApplet({"-o", dir / "out", "--chunk", chunk, "--display", "1:2:3:T,frames=1"},
                            &error),
              1);
    // The message names the word and the fields the item takes.
    EXPECT_EQ(
        RunMakeApplet({"-o", dir / "out", "--chunk", chunk, "--preload", "7:1:a,fps=3"}, &error),
        1);
    EXPECT_EQ(error,
              "bad value for --preload: no field fps here: the fields of type 7 are arg1, arg2, "
              "line, linked, transparency, loadalpha, width, height, x, y, frames, fpr");
    // 16-bit fields take what fits, negative numbers wrapping.
    EXPECT_EQ(RunMakeApplet(
                  {"-o", dir / "out", "--chunk", chunk, "--preload", "7:1:a,width=65535,x=-32768"},
                  &error),
              0)
        << error;
}

// The tool's status and what it wrote to the stream fd (1 or 2).
std::pair<int, std::string> ToolOutput(const std::string& args, int fd) {
    const std::string command =
        std::string(QVMKAPPLET_PATH) + " " + args + (fd == 1 ? " 2>/dev/null" : " 2>&1 >/dev/null");
    FILE* pipe = popen(command.c_str(), "r");
    std::string text;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) text.push_back(char(c));
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text};
}

// Asked for, the help goes to standard output with status 0; without any argument it answers
// a mistake, on standard error with status 1. Either way every option has its line.
TEST(QvmkappletCli, HelpNamesEveryOption) {
    const auto [asked, help] = ToolOutput("--help", 1);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(help, MakeAppletHelp());
    const auto [bare, usage] = ToolOutput("", 2);
    EXPECT_EQ(bare, 1);
    EXPECT_EQ(usage, help);
    for (const char* word :
         {"-o OUT",    "--chunk FILE",    "--qvz",      "--version",   "--info",
          "--title",   "--flag",          "--screen",   "--preload",   "--display",
          "--link ",   "--link-external", "--const",    "--label",     "--linemap",
          "--section", "--magic",         "--truncate", "--append-to", "--help"}) {
        EXPECT_NE(help.find(std::string("\n  ") + word), std::string::npos) << word;
    }
}

TEST(QvmkappletCli, AppendedProgramIsExecutable) {
    ScratchDir dir;
    Bytes marker(std::begin(kAppletLinkMarker), std::end(kAppletLinkMarker));
    std::string player =
        dir.Write("player", Concat({ToBytes("#!/bin/sh\n"), {0xDE, 0xAD, 0xC0, 0xDE}, marker}));
    std::string chunk = dir.Write("chunk.bin", ToBytes("c"));
    std::string out = dir / "linked";
    std::string error;
    ASSERT_EQ(RunMakeApplet({"-o", out, "--chunk", chunk, "--append-to", player}, &error), 0)
        << error;
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    Bytes linked = ReadBytes(out);
    EXPECT_EQ(Bytes(linked.begin() + 10, linked.begin() + 14), Bytes({0, 0, 0, 22}));
}

}  // namespace
}  // namespace qv
