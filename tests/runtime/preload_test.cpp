// Preload with recording doubles under the command names: each double writes one line with
// its name and arguments, option tables with their keys in order.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/plugins/plugin_host.h"
#include "runtime/preload.h"
#include "runtime/preload_items.h"
#include "tests/runtime/runtime_test_support.h"

namespace qv::testing {
namespace {

std::vector<std::string> calls;

std::string Describe(qvVmState* L, int idx);

// Number keys in numeric order before string keys in text order.
struct KeyOrder {
    bool operator()(const std::pair<bool, std::string>& a,
                    const std::pair<bool, std::string>& b) const {
        if (a.first != b.first) return a.first;
        if (a.first) return std::stod(a.second) < std::stod(b.second);
        return a.second < b.second;
    }
};

std::string DescribeTable(qvVmState* L, int idx) {
    std::map<std::pair<bool, std::string>, std::string, KeyOrder> fields;
    VmPushNil(L);
    while (VmNext(L, idx) != 0) {
        bool numeric = VmType(L, -2) == VM_TNUMBER;
        fields[{numeric, Describe(L, VmGetTop(L) - 1)}] = Describe(L, VmGetTop(L));
        VmSetTop(L, -2);
    }
    std::string text = "{";
    for (const auto& [key, value] : fields) {
        text += (text.size() > 1 ? "," : "") + key.second + "=" + value;
    }
    return text + "}";
}

std::string Describe(qvVmState* L, int idx) {
    char number[64];
    switch (VmType(L, idx)) {
        case VM_TNUMBER:
            std::snprintf(number, sizeof number, "%.14g", VmToNumber(L, idx));
            return number;
        case VM_TSTRING:
            return VmToString(L, idx);
        case VM_TTABLE:
            return DescribeTable(L, idx);
        default:
            return TypeName(VmType(L, idx));
    }
}

int Record(qvVmState* L) {
    std::string line = VmToString(L, VmUpvalueIndex(1));
    for (int i = 1; i <= VmGetTop(L); ++i) line += " " + Describe(L, i);
    calls.push_back(line);
    return 0;
}

// A command whose argument check fails.
int Strict(qvVmState* L) {
    CheckArgCount(L, 9, 9);
    return 0;
}

const char* const kCommands[] = {"LoadBGPic",  "LoadBrush",    "LoadAnim",      "OpenMusic",
                                 "LoadSample", "CreateButton", "CreateKeyDown", "LoadSprite",
                                 "OpenFile",   "OpenFont",     "CreateDisplay", "OpenVideo"};

class PreloadTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        calls.clear();
        SetDisplayDefaults(header.get(), options.get());
        for (const char* name : kCommands) Install(name, Record);
    }
    void TearDown() override {
        FreePreloadItems(header.get());
        Runtime().plugins = nullptr;
        RuntimeTest::TearDown();
    }

    void Install(const char* command, qvCFunction f) {
        std::string lower = command;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        VmPushString(L, lower.c_str());
        VmPushString(L, command);
        VmPushCClosure(L, f, 1);
        VmSetTable(L, VM_GLOBALSINDEX);
    }

    qvPreloadItem* Add(uint32_t type, uint32_t id, const char* name, const void* data = nullptr,
                       uint32_t arg1 = 0xFFFFFFFF, uint32_t arg2 = 0, int32_t line = 0) {
        qvPreloadItem* item =
            AppendPreloadItem(header.get(), type, id, name, arg1, arg2, line, 1, data);
        item->directory[0] = '\0';
        return item;
    }
    qvPreloadItem* AddDisplay(uint32_t id, const qvDisplaySettings& settings) {
        return Add(QV_PRELOAD_DISPLAY, id, nullptr, &settings, 0, 0);
    }
    static qvDisplaySettings Settings(const char* title = "Window") {
        qvDisplaySettings s;
        InitDisplayDefaults(&s, title);
        return s;
    }
    int Preload() { return PreloadApplet(L, header.get(), options.get()); }
    // The recorded calls whose line starts with command.
    std::vector<std::string> CallsOf(const std::string& command) const {
        std::vector<std::string> out;
        for (const std::string& line : calls) {
            if (line.rfind(command + " ", 0) == 0) out.push_back(line);
        }
        return out;
    }

    std::unique_ptr<qvScriptHeader> header = std::make_unique<qvScriptHeader>();
    std::unique_ptr<qvStartupOptions> options = std::make_unique<qvStartupOptions>();
};

constexpr char kDefaultDisplay[] =
    "CreateDisplay 1 {active=1,color=0,fillstyle=1,height=480,title=Quorvella,width=640,"
    "x=-100000,y=-100000}";

TEST_F(PreloadTest, AnAppletWithoutDisplaysGetsTheDefaultWindowAfterItsOtherItems) {
    Add(QV_PRELOAD_SAMPLE, 3, "beep.wav");
    ASSERT_EQ(Preload(), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"LoadSample 3 beep.wav", kDefaultDisplay}));
}

TEST_F(PreloadTest, PicturesOfOneFileShareOneLoad) {
    struct Case {
        const char* name;
        uint32_t types[2];
        const char* files[2];
        uint32_t alpha[2];
        int32_t frames;
        const char* first;   // the first item's cache fields
        const char* second;  // the second's
    };
    const Case cases[] = {
        {"two brushes", {1, 1}, {"a.png", "A.PNG"}, {0, 0}, 0, "cache=1", "cachedload=1"},
        {"alpha only later",
         {1, 1},
         {"a.png", "a.png"},
         {0, 1},
         0,
         "cache=1,cachealpha=1",
         "cachedload=1"},
        {"alpha on both", {1, 1}, {"a.png", "a.png"}, {1, 1}, 0, "cache=1", "cachedload=1"},
        {"sprite then brush", {7, 1}, {"s.png", "s.png"}, {0, 0}, 4, "cache=1", "cachedload=1"},
        {"anim without frames", {2, 1}, {"s.gif", "s.gif"}, {0, 0}, 0, "", ""},
        {"other files", {1, 1}, {"a.png", "b.png"}, {0, 0}, 0, "", ""},
        // Items without a name have nothing to share.
        {"nameless", {1, 1}, {nullptr, nullptr}, {0, 0}, 0, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreePreloadItems(header.get());
        calls.clear();
        qvPictureRecord picture{};
        picture.frames = c.frames;
        picture.globalAlpha = -1;
        Add(c.types[0], 1, c.files[0], &picture, 0xFFFFFFFF, c.alpha[0]);
        Add(c.types[1], 2, c.files[1], &picture, 0xFFFFFFFF, c.alpha[1]);
        ASSERT_EQ(Preload(), 0);
        ASSERT_EQ(calls.size(), 3u);
        for (int i = 0; i < 2; ++i) {
            const std::string& line = calls[i];
            std::string cacheFields;
            for (const char* key : {"cache=", "cachealpha=", "cachedload="}) {
                size_t at = line.find(std::string(",") + key);
                if (at == std::string::npos) at = line.find(std::string("{") + key);
                if (at == std::string::npos) continue;
                size_t end = line.find_first_of(",}", at + 1);
                cacheFields += (cacheFields.empty() ? "" : ",") + line.substr(at + 1, end - at - 1);
            }
            EXPECT_EQ(cacheFields, i == 0 ? c.first : c.second) << line;
        }
    }
}

TEST_F(PreloadTest, ItemsCallTheirCommandsWithTheirArguments) {
    qvPictureRecord brush{10, 20, 3, 4, 0, 0, 200, 0, 0, 0, 0, 1};
    qvPictureRecord anim{0, 0, 0, 0, 8, 4, -1, 0, 0, 0, 1, 0};
    qvButtonRecord button{1, 2, 30, 40};
    Add(QV_PRELOAD_BRUSH, 2, "b.png", &brush, 0xFF00FF, 1, 5);
    Add(QV_PRELOAD_ANIM, 3, "a.gif", &anim, 0xFFFFFFFF, 0);
    Add(QV_PRELOAD_BUTTON, 4, nullptr, &button);
    Add(QV_PRELOAD_FILE, 5, "/data/f.txt");
    Add(QV_PRELOAD_FONT, 6, "Vera.ttf", nullptr, 24, 4 | 0x10000);
    Add(QV_PRELOAD_FONT, 7, "topaz.font", nullptr, 8, 0);
    Add(QV_PRELOAD_KEY, 8, "F1");
    Add(QV_PRELOAD_MUSIC, 9, "mod.song");
    Add(QV_PRELOAD_VIDEO, 10, "clip.avi");
    ASSERT_EQ(Preload(), 0);
    const std::vector<std::string> expected = {
        "LoadBrush 2 b.png {globalalpha=200,hardware=1,height=20,loadalpha=1,"
        "transparency=16711935,width=10,x=3,y=4}",
        "LoadAnim 3 a.gif {fpr=4,frames=8,fromdisk=1,height=0,loadalpha=0,width=0,x=0,y=0}",
        "CreateButton 4 1 2 30 40",
        "OpenFile 5 /data/f.txt 1005",
        "OpenFont 6 Vera.ttf 24 {cache=0,engine=4}",
        "OpenFont 7 topaz.font 8 {}",
        "CreateKeyDown 8 F1",
        "OpenMusic 9 mod.song",
        "OpenVideo 10 clip.avi",
        kDefaultDisplay,
    };
    EXPECT_EQ(calls, expected);
}

TEST_F(PreloadTest, RelativeNamesComeFromTheirDirectoryAndLinkedOnesFromTheApplet) {
    qvPreloadItem* plain = Add(QV_PRELOAD_SAMPLE, 1, "snd/a.wav");
    CopyText(plain->directory, sizeof plain->directory, "/applets");
    for (const char* complete : {"T:b.wav", "/data/b.wav"}) {
        qvPreloadItem* item = Add(QV_PRELOAD_SAMPLE, 2, complete);
        CopyText(item->directory, sizeof item->directory, "/applets");
    }
    qvPreloadItem* linked = Add(QV_PRELOAD_SAMPLE, 3, "dir/c.wav");
    linked->linkedOffset = 100;
    linked->linkedSize = 50;
    CopyText(linked->containerPath, sizeof linked->containerPath, "/x/app.qva");
    Runtime().linkOffset = 1000;
    ASSERT_EQ(Preload(), 0);
    EXPECT_EQ(CallsOf("LoadSample"),
              (std::vector<std::string>{"LoadSample 1 /applets/snd/a.wav", "LoadSample 2 T:b.wav",
                                        "LoadSample 2 /data/b.wav",
                                        "LoadSample 3 :::chunk1100:50*c.wav//x/app.qva"}));
}

TEST_F(PreloadTest, DisplayTablesCarryFillStylesRegionsAndStyleFields) {
    qvDisplaySettings colour = Settings("Colour");
    colour.colour = 0x123456;
    colour.styleFlags |= QV_DISPFLAG_BORDERLESS | QV_DISPFLAG_AUTOSCALE | QV_DISPFLAG_FITSCALE;
    colour.scaleWidth = -50;
    colour.dragRegionCount = 2;
    colour.dragRegions[0] = {1, 0, 0, 100, 20};
    colour.dragRegions[1] = {2, 5, 6, 7, 8};
    qvDisplaySettings gradient = Settings("Gradient");
    gradient.fillStyle = 2;
    gradient.gradient.startColour = 0xFF0000;
    gradient.gradient.endColour = 0x0000FF;
    gradient.gradient.angle = 90;
    gradient.gradient.stopCount = 2;
    gradient.gradient.stops[0] = {0x00FF00, 0.25};
    gradient.gradient.stops[1] = {0xFFFFFF, 0.75};
    gradient.styleFlags = QV_DISPFLAG_LAYERSCALE | QV_DISPFLAG_HIDDEN;
    gradient.sizeRegionCount = 1;
    gradient.sizeRegions[0] = {3, 1, 2, 3, 4};
    qvDisplaySettings texture = Settings("Texture");
    texture.fillStyle = 3;
    texture.textureBrush = 9;
    texture.textureX = -4;
    texture.textureY = 6;
    texture.styleFlags = QV_DISPFLAG_BGPIC;
    texture.bgpic = 12;
    AddDisplay(1, colour);
    AddDisplay(2, gradient);
    AddDisplay(3, texture);
    ASSERT_EQ(Preload(), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "CreateDisplay 1 {active=1,borderless=1,color=1193046,"
                         "dragregion={0={height=20,type=1,width=100,x=0,y=0},"
                         "1={height=8,type=2,width=7,x=5,y=6}},fillstyle=1,fitscale=1,"
                         "height=480,scalemode=1,scalewidth=-50,title=Colour,width=640,"
                         "x=-100000,y=-100000}",
                         "CreateDisplay 2 {fillstyle=2,gradientangle=90,gradientbalance=0.5,"
                         "gradientborder=0,gradientcenterx=0.5,gradientcentery=0.5,"
                         "gradientcolors={0=65280,1=0.25,2=16777215,3=0.75},"
                         "gradientendcolor=255,gradientstartcolor=16711680,gradientstyle=2,"
                         "height=480,hidden=1,scalemode=2,"
                         "sizeregion={0={height=4,type=3,width=3,x=1,y=2}},title=Gradient,"
                         "width=640,x=-100000,y=-100000}",
                         "CreateDisplay 3 {bgpic=12,title=Texture,x=-100000,y=-100000}",
                     }));
}

TEST_F(PreloadTest, TexturesAndBackgroundPictureOneReachTheFirstDisplay) {
    qvDisplaySettings texture = Settings("T");
    texture.fillStyle = 3;
    texture.textureBrush = 9;
    texture.textureX = -4;
    texture.textureY = 6;
    AddDisplay(2, texture);
    qvFillRecord fill{};
    fill.fillStyle = 1;
    fill.fillColour = 0xABCDEF;
    Add(QV_PRELOAD_BGPIC, 1, "back.png", &fill, 0x000000, 0);
    ASSERT_EQ(Preload(), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         "LoadBGPic 1 back.png {fillcolor=11259375,fillstyle=1,loadalpha=0,"
                         "transparency=0}",
                         "CreateDisplay 2 {active=1,fillstyle=3,height=480,texturebrush=9,"
                         "texturex=-4,texturey=6,title=T,width=640,x=-100000,y=-100000}",
                         "CreateDisplay 1 {active=1,bgpic=1,title=Quorvella,x=-100000,"
                         "y=-100000}",
                     }));
}

TEST_F(PreloadTest, WholeScreenModeGivesTheFirstDisplayTheScreenSize) {
    header->wholeScreenFirstDisplay = 1;
    AddDisplay(1, Settings("Full"));
    AddDisplay(2, Settings("Other"));
    ASSERT_EQ(Preload(), 0);
    std::string size = "height=" + std::to_string(ScreenHeight()) + ",private2=1," +
                       "title=Full,width=" + std::to_string(ScreenWidth());
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_NE(calls[0].find(size), std::string::npos) << calls[0];
    EXPECT_EQ(calls[1].find("private2"), std::string::npos);
    EXPECT_NE(calls[1].find("height=480"), std::string::npos);
}

TEST_F(PreloadTest, TheCommandLineStyleSparesWhatTheAppletDecided) {
    header->display.styleFlags = QV_DISPFLAG_BORDERLESS | QV_DISPFLAG_SIZEABLE;
    header->display.scaleWidth = 320;
    qvDisplaySettings decided = Settings("Decided");
    decided.givenFlags = QV_DISPFLAG_BORDERLESS;
    decided.scaleWidth = 100;
    AddDisplay(1, decided);
    AddDisplay(2, Settings("Open"));
    ASSERT_EQ(Preload(), 0);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].find("borderless"), std::string::npos);
    EXPECT_NE(calls[0].find("sizeable=1"), std::string::npos);
    EXPECT_NE(calls[0].find("scalewidth=100"), std::string::npos);
    EXPECT_NE(calls[1].find("borderless=1"), std::string::npos);
    EXPECT_NE(calls[1].find("scalewidth=320"), std::string::npos);

    // Locked settings take nothing from the command line.
    FreePreloadItems(header.get());
    calls.clear();
    header->settingsLocked = 1;
    AddDisplay(1, Settings("Locked"));
    ASSERT_EQ(Preload(), 0);
    EXPECT_EQ(calls[0].find("borderless"), std::string::npos) << calls[0];
}

// A loaded plugin as the plugin host keeps it.
struct FakePlugin {
    qvPluginRecord record{};
    qvPluginNode node{};
    FakePlugin(const char* name, uint32_t version, uint32_t revision) {
        record.functions.info.name = name;
        record.functions.info.pluginVersion = version;
        record.functions.info.pluginRevision = revision;
        node.record = &record;
    }
};

TEST_F(PreloadTest, RequiredPluginsMustBeLoadedAndNewEnough) {
    FakePlugin plugin("qvtest", 1, 9);
    Runtime().plugins = &plugin.node;
    struct Case {
        const char* name;
        uint32_t version, revision;
        int result;
        const char* argument;
    };
    const Case cases[] = {
        {"qvtest", 1, 9, 0, ""},
        {"QVTEST.qvp", 1, 0, 0, ""},
        {"qvtest", 2, 0, ERR_REQUIREPLUGIN, "qvtest.qvp 2.0"},
        {"qvtest", 1, 10, ERR_REQUIREPLUGIN, "qvtest.qvp 1.10"},
        {"other.qvp", 0, 0, ERR_REQUIREPLUGIN, "other.qvp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreePreloadItems(header.get());
        calls.clear();
        SetErrorString("");
        Add(QV_PRELOAD_PLUGIN, 0, c.name, nullptr, c.version, c.revision);
        EXPECT_EQ(Preload(), c.result);
        EXPECT_STREQ(Runtime().error.text, c.argument);
        // A missing plugin stops before any command runs.
        EXPECT_EQ(calls.empty(), c.result != 0);
    }
    char text[1024];
    FormatErrorMessage(ERR_REQUIREPLUGIN, text, sizeof text);
    EXPECT_STREQ(text, "This program requires other.qvp!");
}

TEST_F(PreloadTest, AFailingCommandReportsTheItemsLineAndCommand) {
    struct Case {
        const char* name;
        bool installStrict;
        int result;
    };
    const Case cases[] = {{"argument check", true, ERR_MISSINGPARAMTR},
                          {"missing command", false, ERR_FUNCDECLA}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreePreloadItems(header.get());
        calls.clear();
        if (c.installStrict) {
            Install("LoadBrush", Strict);
        } else {
            VmPushString(L, "loadbrush");
            VmPushNil(L);
            VmSetTable(L, VM_GLOBALSINDEX);
        }
        qvPictureRecord picture{};
        Add(QV_PRELOAD_SAMPLE, 1, "ok.wav");
        Add(QV_PRELOAD_BRUSH, 2, "b.png", &picture, 0xFFFFFFFF, 0, 42);
        Add(QV_PRELOAD_SAMPLE, 3, "never.wav");
        EXPECT_EQ(Preload(), c.result);
        EXPECT_EQ(Runtime().error.line, 42);
        EXPECT_STREQ(Runtime().error.command, "LoadBrush");
        EXPECT_EQ(calls, std::vector<std::string>{"LoadSample 1 ok.wav"});
        EXPECT_EQ(VmGetTop(L), 0);
    }
    char text[1024];
    FormatErrorMessage(ERR_FUNCDECLA, text, sizeof text);
    EXPECT_STREQ(text, "Function LoadBrush() not found!");
}

TEST_F(PreloadTest, CommandsRunQuietWithLocationsOnAndNoCommandNameLeft) {
    Install("LoadSample", [](qvVmState* L) -> int {
        int32_t quiet = 0, preloading = 0;
        const qvAttrGet tags[] = {
            {QV_ATTR_QUIET, &quiet}, {QV_ATTR_PRELOADING, &preloading}, {QV_ATTR_END, nullptr}};
        GetGlobalAttrs(L, tags);
        calls.push_back("quiet=" + std::to_string(quiet) +
                        " preloading=" + std::to_string(preloading) +
                        " locations=" + std::to_string(Runtime().error.reportLocations) +
                        " line=" + std::to_string(Runtime().error.line) +
                        " command=" + Runtime().error.command);
        return 0;
    });
    Add(QV_PRELOAD_SAMPLE, 1, "a.wav", nullptr, 0, 0, 7);
    ASSERT_EQ(Preload(), 0);
    EXPECT_EQ(calls[0], "quiet=1 preloading=1 locations=1 line=7 command=LoadSample");
    EXPECT_STREQ(Runtime().error.command, "----");
}

}  // namespace
}  // namespace qv::testing
