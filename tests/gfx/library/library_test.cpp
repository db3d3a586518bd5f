// The graphics library's registration, colours, limits, draw-tag defaults, counts and
// attributes, over the fake scene.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "gfx/library/commands.h"
#include "gfx/library/get_attribute.h"
#include "gfx/save_picture.h"
#include "platform/linux/memory.h"
#include "platform/linux/testing.h"
#include "runtime/attributes.h"
#include "runtime/exports.h"
#include "runtime/random.h"
#include "tests/gfx/library/graphics_test_support.h"

namespace qv::testing {
namespace {

using GraphicsLibrary = GraphicsLib;

TEST_F(GraphicsLibrary, CommandsAndConstantsKeepTheirOrder) {
    const char* const commands[] = {"Red",
                                    "Green",
                                    "Blue",
                                    "RGB",
                                    "ARGB",
                                    "MovePointer",
                                    "HidePointer",
                                    "SetPointer",
                                    "ShowPointer",
                                    "GetAttribute",
                                    "GetPen",
                                    "VWait",
                                    "SetFPSLimit",
                                    "GetFPSLimit",
                                    "IsPicture",
                                    "GetRealColor",
                                    "SaveSnapshot",
                                    "MixRGB",
                                    "CreateClipRegion",
                                    "SetClipRegion",
                                    "FreeClipRegion",
                                    "CreatePointer",
                                    "FreePointer",
                                    "AsyncDrawFrame",
                                    "CancelAsyncDraw",
                                    "FinishAsyncDraw",
                                    "DumpVideoTime",
                                    "GetRandomColor",
                                    "SetDrawTagsDefault"};
    ASSERT_EQ(gfx::GraphicsCommands().size(), std::size(commands));
    for (size_t i = 0; i < std::size(commands); ++i) {
        EXPECT_STREQ(gfx::GraphicsCommands()[i].name, commands[i]) << i;
    }

    const auto constants = gfx::GraphicsConstants();
    ASSERT_EQ(constants.size(), 156u);
    struct Row {
        size_t index;
        const char* name;
        double value;
    };
    for (const Row& row : {Row{0, "CENTER", -100000},
                           {10, "KEEPASPRAT", 100000},
                           {11, "BGPIC", 1},
                           {26, "SHAPE", 28},
                           {27, "MASK", 28},
                           {53, "UDPOBJECT", 56},
                           {58, "NOTRANSPARENCY", 4294967295.0},
                           {60, "NONE", -1},
                           {81, "IMAGETYPE_VECTOR", 1}}) {
        EXPECT_STREQ(constants[row.index].name, row.name);
        EXPECT_EQ(constants[row.index].value, row.value) << row.name;
    }
    // The attribute numbers close the table, 0 to 73 in order.
    for (int a = 0; a <= gfx::ATTRHARDWARE; ++a) {
        EXPECT_EQ(constants[82 + a].value, a) << constants[82 + a].name;
    }
    EXPECT_STREQ(constants[82].name, "ATTRWIDTH");
    EXPECT_STREQ(constants[82 + 64].name, "ATTRALPHAINTENSITY");
    std::set<std::string> names;
    for (const qvConstant& c : constants) names.insert(c.name);
    EXPECT_EQ(names.size(), constants.size()) << "a name is registered twice";
}

std::string ReadText(const std::string& file) {
    std::ifstream in(file);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

TEST_F(GraphicsLibrary, TheExportListsShowTheLibrary) {
    const std::string commands = TempDir() + "/commands.txt";
    ASSERT_EQ(ExportCommands(commands.c_str()), 0);
    const std::string text = ReadText(commands);
    EXPECT_EQ(text.rfind("::graphics\n29\nRed\nGreen\nBlue\nRGB\n", 0), 0u) << text;
    EXPECT_NE(text.find("GetRandomColor\nSetDrawTagsDefault\n::end\n"), std::string::npos);

    const std::string constants = TempDir() + "/constants.txt";
    ASSERT_EQ(ExportConstants(L, constants.c_str()), 0);
    std::set<std::string> listed;
    for (const std::string& line : SplitLines(ReadText(constants))) listed.insert(line);
    for (const qvConstant& c : gfx::GraphicsConstants()) {
        std::string name = c.name;
        for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(listed.contains(name)) << name;
    }
}

TEST_F(GraphicsLibrary, RealColoursFollowTheScreenDepth) {
    struct Case {
        uint32_t format;
        double white;
    };
    for (const Case& c :
         {Case{0, 0xF8F8F8}, {4, 0xF8FCF8}, {7, 0xF8FCF8}, {8, 0xFFFFFF}, {10, 0xFFFFFF}}) {
        platform::testing::ScopedScreenFormat format(c.format);
        CallResult r = Call("GetRealColor", {Num(0xFFFFFF)});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.Number(), c.white) << "format " << c.format;
    }
    platform::testing::ScopedScreenFormat format(4);
    const double white = Call("GetRealColor", {Num(0xFFFFFF)}).Number();
    EXPECT_EQ(Call("Red", {Num(white)}).Number(), 248);
    EXPECT_EQ(Call("Green", {Num(white)}).Number(), 252);
    EXPECT_EQ(Call("Blue", {Num(white)}).Number(), 248);
}

TEST_F(GraphicsLibrary, PensComeFromThePictureWithTheIndexClamped) {
    EXPECT_EQ(Call("GetPen", {Num(3)}).Number(), 4294967295.0) << "no palette";
    qvARGB palette[256];
    for (int i = 0; i < 256; ++i) palette[i] = 0x010101u * static_cast<uint32_t>(i) + 7;
    scene.palette = palette;
    for (auto [index, entry] :
         {std::pair{-5.0, 0}, {0.0, 0}, {7.0, 7}, {255.0, 255}, {300.0, 255}}) {
        EXPECT_EQ(Call("GetPen", {Num(index)}).Number(), palette[entry]) << index;
    }
}

TEST_F(GraphicsLibrary, RandomColoursComeFromTheFirst246OfTheTable) {
    EXPECT_EQ(gfx::RandomColorCount(), 246);
    struct Entry {
        int32_t index;
        uint32_t colour;
    };
    // The explicit head, the yellow ramp's ends, the blue ramp down to 002, the greys' end.
    for (const Entry& e : {Entry{0, 0xCCCCCC},
                           {1, 0x000000},
                           {2, 0xFFFFFF},
                           {4, 0xAA2200},
                           {64, 0xFFFF00},
                           {78, 0x111100},
                           {109, 0x0000FF},
                           {122, 0x000022},
                           {153, 0xFFFFFF},
                           {168, 0xFFFF00},
                           {183, 0x111111},
                           {184, 0xFF7777},
                           {245, 0xAA00FF}}) {
        EXPECT_EQ(gfx::RandomColorAt(e.index), e.colour) << e.index;
    }
    std::set<double> reachable;
    for (int32_t i = 0; i < 246; ++i) reachable.insert(gfx::RandomColorAt(i));
    SeedRandom48(12345);
    std::set<double> seen;
    for (int i = 0; i < 100000; ++i) {
        CallResult r = Call("GetRandomColor");
        ASSERT_EQ(r.code, 0);
        ASSERT_TRUE(reachable.contains(r.Number())) << r.Number();
        seen.insert(r.Number());
    }
    EXPECT_FALSE(seen.contains(0xCC00FF)) << "the 247th entry is never drawn";
    EXPECT_GT(seen.size(), 200u);
}

TEST_F(GraphicsLibrary, FrameLimitAndVideoDumpTime) {
    ASSERT_EQ(Call("SetFPSLimit", {Num(-5)}).code, 0);
    EXPECT_EQ(Call("GetFPSLimit").Number(), 0);
    ASSERT_EQ(Call("SetFPSLimit", {Num(30)}).code, 0);
    EXPECT_EQ(Call("GetFPSLimit").Number(), 30);
    Call("SetFPSLimit", {Num(0)});

    EXPECT_EQ(Call("DumpVideoTime").Number(), -1);
    scene.recording = true;
    VideoDumpState().elapsedSeconds = 2;
    VideoDumpState().elapsedMicroseconds = 345678;
    EXPECT_EQ(Call("DumpVideoTime").Number(), 2345);
    VideoDumpState() = {};
}

TEST_F(GraphicsLibrary, MaskModeAndAlphaIntensityAreRuntimeAttributes) {
    ASSERT_EQ(AddSetAttrHandler(GraphicsSetAttr), 0);
    ASSERT_EQ(AddGetAttrHandler(GraphicsGetAttr), 0);
    int32_t mode = -1, intensity = -1;
    const qvAttrGet get[] = {{5, &mode}, {7, &intensity}, {QV_ATTR_END, nullptr}};
    GetGlobalAttrs(L, get);
    EXPECT_EQ(mode, 0);
    EXPECT_EQ(intensity, 128);
    const qvAttrSet set[] = {{5, 3}, {7, -1}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, set);
    GetGlobalAttrs(L, get);
    EXPECT_EQ(mode, 3);
    EXPECT_EQ(intensity, -1);
    EXPECT_EQ(GraphicsGetAttr(L, 4, &mode), 0) << "other tags are not the library's";
}

TEST_F(GraphicsLibrary, DrawTagDefaultsChangeOnlyWhenTheTableParses) {
    auto colour = [] {
        return static_cast<const FakeDrawStyle*>(gfx::DefaultDrawTags().style)->colour;
    };
    EXPECT_EQ(colour(), 0xFFFFFF) << "the drawing code's initial values";
    ASSERT_EQ(Call("SetDrawTagsDefault", {Table({{Str("colour"), Num(5)}})}).code, 0);
    EXPECT_EQ(colour(), 5);
    EXPECT_EQ(scene.parseFlags, 4) << "sizes are never defaults";
    EXPECT_EQ(Call("SetDrawTagsDefault", {Table({{Str("colour"), Num(-1)}})}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(colour(), 5);
    EXPECT_NE(Call("SetDrawTagsDefault", {Num(1)}).code, 0);
    for (uint64_t n = 1; n <= 2; ++n) {
        AllocationFault fault(n, false);
        EXPECT_EQ(Call("SetDrawTagsDefault", {Table({{Str("colour"), Num(9)}})}).code, ERR_MEM);
    }
    EXPECT_EQ(colour(), 5);
}

TEST_F(GraphicsLibrary, ObjectCountsAreWrittenLineByLine) {
    ASSERT_EQ(Call("CreateClipRegion", {Num(1), Num(14), Num(0), Num(0), Num(4), Num(4)}).code, 0);
    ASSERT_EQ(Call("CreateClipRegion", {Nil(), Num(14), Num(0), Num(0), Num(4), Num(4)}).code, 0);
    ASSERT_EQ(Call("CreatePointer", {Num(1), Num(36), Num(0)}).code, 0);
    scene.layerCount = 3;
    scene.allLayers = 5;  // every picture's, counted as they are
    scene.spritesOnScreen = 2;
    char text[1024];
    const int length = DumpObjectCounts(text, sizeof text);
    EXPECT_EQ(std::string(text),
              "Anims               0\nAsync draws         0\nBGPics              0\n"
              "Brushes             0\nClip regions        2\nDirectories         0\n"
              "Displays            0\nFiles               0\nFonts               0\n"
              "Layers (on screen)  3\nLayers (total)      5\nMemory blocks       0\n"
              "Musics              0\nPointer images      1\nSamples             0\n"
              "Sprites (on screen) 2\nSprites (total)     0\nText objects        0\n"
              "Timers              0\nVector paths        0\nVideos              0\n");
    EXPECT_EQ(length, static_cast<int>(std::string(text).size()));
}

TEST_F(GraphicsLibrary, IsPictureAnswersWithTheSize) {
    const std::string png = TempDir() + "/p.png";
    const qvARGB pixels[6] = {0xFF000000, 0x80FFFFFF, 0xFF00FF00, 0xFF0000FF, 0, 0xFFFF0000};
    ASSERT_EQ(SavePicture(IMGFMT_PNG, pixels, 3, 2, png.c_str(), QV_NOCOLOR, 1, 90, 256, 0), 0);
    CallResult r = Call("IsPicture", {Str(png)});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.Number(0), 1);
    ASSERT_EQ(r.results.size(), 2u);
    EXPECT_EQ(r.results[1].Field("width")->number, 3);
    EXPECT_EQ(r.results[1].Field("height")->number, 2);
    EXPECT_EQ(r.results[1].Field("vector")->number, 0);
    EXPECT_EQ(r.results[1].Field("alpha")->number, 1) << "saved with its alpha channel";

    const std::string text = TempDir() + "/t.txt";
    std::ofstream(text) << "not a picture";
    r = Call("IsPicture", {Str(text)});
    EXPECT_EQ(r.Number(0), 0);
    EXPECT_EQ(r.results[1].Field("width")->number, 0);
}

class GraphicsWithLibraries : public GraphicsLib {
protected:
    GraphicsWithLibraries() : GraphicsLib(OpenGraphicsWithObjectLibraries) {}
    ~GraphicsWithLibraries() override {
        FreeAllMemBlocks(L);
        FreeDosObjects(L);
        FreeSystemObjects(L);
    }
};

TEST_F(GraphicsWithLibraries, CountsNeedNoObjectOfThatId) {
    ASSERT_EQ(Call("StartTimer", {Num(1)}).code, 0);
    ASSERT_EQ(Call("StartTimer", {Num(2)}).code, 0);
    for (const Arg& id : {Num(99), Nil(), Num(1)}) {
        CallResult r = Call("GetAttribute", {Num(53), id, Num(gfx::ATTRCOUNT)});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(r.Number(), 2);
    }
}

TEST_F(GraphicsWithLibraries, MemoryBlocksAndFilesAnswerTheirAttributes) {
    ASSERT_EQ(Call("AllocMem", {Num(1), Num(100)}).code, 0);
    EXPECT_EQ(Call("GetAttribute", {Num(39), Num(1), Num(gfx::ATTRSIZE)}).Number(), 100);
    CallResult missing = Call("GetAttribute", {Num(39), Num(2), Num(gfx::ATTRSIZE)});
    EXPECT_EQ(missing.code, ERR_FINDMEMBLK);
    EXPECT_EQ(missing.errorNumber, 2u);

    const std::string file = TempDir() + "/attributes.txt";
    ASSERT_EQ(Call("OpenFile", {Num(1), Str(file), Num(QV_MODE_WRITE)}).code, 0);
    EXPECT_EQ(Call("GetAttribute", {Num(44), Num(1), Num(gfx::ATTRMODE)}).Number(), QV_MODE_WRITE);
    EXPECT_EQ(Call("GetAttribute", {Num(44), Num(1), Num(gfx::ATTRCOUNT)}).Number(), 1);
    EXPECT_EQ(Call("GetAttribute", {Num(44), Num(3), Num(gfx::ATTRMODE)}).code, ERR_FINDFILE);
}

}  // namespace
}  // namespace qv::testing
