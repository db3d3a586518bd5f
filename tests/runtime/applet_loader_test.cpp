#include "runtime/applet_loader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>

#include "platform/linux/debug_output.h"
#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/preload_items.h"
#include "tests/platform/file_test_support.h"
#include "tests/runtime/loader_records.h"
#include "tests/runtime/runtime_test_support.h"
#include "tools/qvmkapplet/applet_builder.h"

namespace qv {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;
using testing::ToBytes;

const Bytes kChunk = ToBytes("\x1bQVB program chunk");

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        char cwd[kPathBufferSize];
        ASSERT_TRUE(GetCurrentDirName(cwd, sizeof cwd));
        cwd_ = cwd;
        L_ = VmOpen();
        Runtime().quiet = 1;
        records_.emplace(L_);
    }
    void TearDown() override {
        records_.reset();
        VmClose(L_);
        ResetRuntimeState();
        PlatformShutdown();
        ASSERT_EQ(chdir(cwd_.c_str()), 0);  // the loader moves to the applet's directory
    }
    int LoadFile(const std::string& path) {
        std::strcpy(records_->options->appletPath, path.c_str());
        return LoadApplet(L_, records_->options, records_->header);
    }
    int Load(const Bytes& applet, const std::string& name = "test.qva") {
        return LoadFile(dir_.Write(name, applet));
    }
    int Load(const AppletBuilder& b) { return Load(b.Build()); }
    // A fresh run's records, for loading again.
    void Renew() {
        records_.reset();
        records_.emplace(L_);
    }
    Bytes ReadVirtual(const std::string& name) {
        qvFile* f = FileOpen(name.c_str(), QV_FILE_READ);
        Bytes out;
        if (f == nullptr) return ToBytes("<cannot open>");
        for (int c; (c = FileReadChar(f)) >= 0;) out.push_back(static_cast<uint8_t>(c));
        FileClose(f);
        return out;
    }
    Bytes LoadedChunk() const {
        return Bytes(records_->header->programChunk,
                     records_->header->programChunk + records_->header->programChunkSize);
    }
    std::string Resolve(const char* name, int font = 0) {
        int found;
        return ResolveAppletFile(L_, name, font, &found);
    }
    qvPreloadItem* Item(int index) {
        qvPreloadItem* item = records_->header->preloadItems;
        while (item != nullptr && index-- > 0) item = item->next;
        return item;
    }
    template <typename T>
    T* Data(int index) {
        return static_cast<T*>(Item(index)->data);
    }
    ScratchDir dir_;
    std::string cwd_;
    qvVmState* L_;
    std::optional<testing::LoaderRecords> records_;
};

// A builder with the program chunk set.
AppletBuilder Builder() {
    AppletBuilder b;
    b.SetChunk(kChunk);
    return b;
}

Bytes BuildWith(std::initializer_list<std::function<void(AppletBuilder&)>> steps) {
    AppletBuilder b = Builder();
    for (const auto& step : steps) step(b);
    return b.Build();
}

TEST_F(Loader, PlainAppletFillsTheHeader) {
    AppletBuilder b = Builder();
    b.AddInfo(1, "name");
    b.AddInfo(5, "version");
    b.AddScreen(800, 600);
    b.AddRawSection(16, {2});                   // display mode
    b.AddRawSection(21, {1});                   // hide title bar
    b.AddRawSection(23, {24});                  // depth
    b.AddRawSection(7, {});                     // whole screen
    b.AddRawSection(0, {0, 0, 0, 3, 9, 9, 9});  // skipped
    Runtime().quiet = 0;
    DebugCapture capture;
    ASSERT_EQ(Load(b), 0);
    EXPECT_EQ(LoadedChunk(), kChunk);
    EXPECT_EQ(records_->options->appletFlag, 1u);
    EXPECT_EQ(std::string(records_->options->appletPath), dir_ / "test.qva");
    EXPECT_STREQ(records_->header->info[0], "name");
    EXPECT_STREQ(records_->header->info[4], "version");
    EXPECT_EQ(records_->header->display.screenWidth, 800);
    EXPECT_EQ(records_->header->display.screenHeight, 600);
    EXPECT_EQ(records_->header->display.displayMode, 2u);
    EXPECT_EQ(records_->header->display.hideTitleBar, 1);
    EXPECT_EQ(records_->header->display.depth, 24);
    EXPECT_EQ(records_->header->wholeScreenFirstDisplay, 1u);
    EXPECT_STREQ(GetRegistryString(L_, "script"), ":none:");
    EXPECT_EQ(capture.Text(), "Opening script test.qva... done\n");
    char cwd[kPathBufferSize];
    GetCurrentDirName(cwd, sizeof cwd);
    EXPECT_EQ(std::string(cwd), dir_.path());
}

TEST_F(Loader, CompressedAppletIsUnpackedIntoATemporaryFile) {
    AppletBuilder b = Builder();
    b.AddLink("data.txt", ToBytes("linked data"), false);
    b.SetCompressed(true);
    ASSERT_EQ(Load(b), 0);
    EXPECT_EQ(LoadedChunk(), kChunk);
    ASSERT_NE(Runtime().tempFiles, nullptr);
    EXPECT_STREQ(Runtime().tempFiles->path, records_->options->appletPath);
    EXPECT_EQ(std::string(records_->options->appletPath).rfind("T:", 0), 0u);
    EXPECT_EQ(ReadVirtual(Resolve("DATA.TXT")), ToBytes("linked data"));

    Renew();  // a cut stream fails, and its temporary file is listed all the same
    Bytes cut = b.Build();
    cut.resize(cut.size() - 5);
    EXPECT_EQ(Load(cut), ERR_ZLIBDATA);
    ASSERT_NE(Runtime().tempFiles, nullptr);
    EXPECT_NE(Runtime().tempFiles->next, nullptr);
}

TEST_F(Loader, AppendedAppletIsReadFromTheLinkOffset) {
    Bytes program = ToBytes("#!program image of some bytes\n");
    for (bool compressed : {false, true}) {
        AppletBuilder b = Builder();
        b.AddLink("inline.txt", ToBytes("in"), false);
        b.AddLink("outside.txt", ToBytes("out"), true);
        b.SetCompressed(compressed);
        Bytes file = program;
        Bytes applet = b.Build();
        file.insert(file.end(), applet.begin(), applet.end());
        Runtime().appletLinked = 1;
        Runtime().linkOffset = static_cast<uint32_t>(program.size());
        ASSERT_EQ(Load(file, "program"), 0) << compressed;
        EXPECT_EQ(LoadedChunk(), kChunk);
        EXPECT_EQ(Runtime().linkOffset, compressed ? 0u : program.size());
        EXPECT_EQ(ReadVirtual(Resolve("inline.txt")), ToBytes("in"));
        EXPECT_EQ(ReadVirtual(Resolve("outside.txt")), ToBytes("out"));
        Renew();
    }
}

// One item of each type; the item after the typed ones shows that each was read whole.
struct VersionCase {
    uint8_t major, minor;
    bool fill, gradient, hardware, fromDisk, animSizes;
};

TEST_F(Loader, PreloadItemsFollowTheVersion) {
    const VersionCase versions[] = {
        {3, 1, false, false, false, true, false}, {3, 2, false, false, false, true, false},
        {4, 0, false, false, false, true, false}, {4, 6, false, false, false, true, true},
        {4, 7, true, false, false, true, true},   {5, 0, true, true, true, true, true},
    };
    for (const VersionCase& v : versions) {
        SCOPED_TRACE(std::to_string(v.major) + "." + std::to_string(v.minor));
        AppletBuilder b = Builder();
        b.SetVersion(v.major, v.minor);
        PreloadSpec bg;
        bg.type = 0;
        bg.id = 1;
        bg.name = "bg.png";
        bg.arg1 = 0xFFFFFFFF;
        bg.fillStyle = 2;
        bg.colour = 0x112233;
        bg.gradientEnd = 0x445566;
        bg.angle = 45;
        bg.textureX = 7;
        bg.gradient.stops = {{0xFF0000, 250000}, {0x00FF00, 1000000}};
        b.AddPreload(bg);
        PreloadSpec brush;
        brush.type = 1;
        brush.id = 2;
        brush.name = "brush.png";
        brush.width = 32;
        brush.height = 16;
        brush.x = -5;
        brush.y = 3;
        brush.globalAlpha = 200;
        brush.hardware = 1;
        b.AddPreload(brush);
        PreloadSpec anim = brush;
        anim.type = 2;
        anim.id = 3;
        anim.fromDisk = 1;
        anim.frames = 9;
        anim.framesPerRow = 3;
        b.AddPreload(anim);
        PreloadSpec button;
        button.type = 5;
        button.id = 4;
        button.x = 1;
        button.y = 2;
        button.right = 30;
        button.bottom = 40;
        b.AddPreload(button);
        PreloadSpec sprite = anim;
        sprite.type = 7;
        sprite.id = 5;
        b.AddPreload(sprite);
        PreloadSpec display;
        display.type = 10;
        display.id = 2;
        display.x = -100000;
        display.width = 320;
        display.height = 200;
        display.colour = 0xABCDEF;
        display.styleFlags = 0x401;
        display.givenFlags = 0x1;
        display.dragRegions = {{1, 2, 3, 4, 5}};
        display.title = "Second";
        display.fillStyle = 3;
        display.textureBrush = 9;
        display.gradient.stops = {{1, 2}};
        b.AddPreload(display);
        for (uint8_t type : {3, 4, 6, 8, 9, 11, 12}) {
            PreloadSpec plain;
            plain.type = type;
            plain.id = 100 + type;
            plain.name = "file" + std::to_string(type);
            plain.arg1 = 2;
            plain.arg2 = 1;
            plain.line = 77;
            b.AddPreload(plain);
        }
        ASSERT_EQ(Load(b), 0);

        auto* f = Data<qvFillRecord>(0);
        EXPECT_STREQ(Item(0)->name, "bg.png");
        EXPECT_EQ(Item(0)->arg1, 0xFFFFFFFFu);
        EXPECT_EQ(Item(0)->flags, 1u);
        EXPECT_EQ(std::string(Item(0)->containerPath), dir_ / "test.qva");
        EXPECT_EQ(f->fillStyle, v.fill ? 2u : 0u);
        EXPECT_EQ(f->fillColour, v.fill ? 0x112233u : 0u);
        EXPECT_EQ(f->gradient.startColour, v.fill ? 0x112233u : 0u);
        EXPECT_EQ(f->gradient.endColour, v.fill ? 0x445566u : 0u);
        EXPECT_EQ(f->gradient.angle, v.fill ? 45u : 0u);
        EXPECT_EQ(f->textureX, v.fill ? 7 : 0);
        EXPECT_EQ(f->gradient.stopCount, v.gradient ? 2u : 0u);
        EXPECT_EQ(f->gradient.stops[0].position, v.gradient ? 0.25 : 0.0);
        EXPECT_EQ(f->gradient.centerX, 0.5);
        EXPECT_EQ(f->gradient.style, 2u);

        auto* p = Data<qvPictureRecord>(1);
        EXPECT_EQ(p->width, 32);
        EXPECT_EQ(p->x, -5);
        EXPECT_EQ(p->globalAlpha, 200);
        EXPECT_EQ(p->hardware, v.hardware ? 1u : 0u);

        auto* a = Data<qvPictureRecord>(2);
        EXPECT_EQ(a->fromDisk, v.fromDisk ? 1u : 0u);
        EXPECT_EQ(a->frames, v.animSizes ? 9 : 0);
        EXPECT_EQ(a->width, v.animSizes ? 32 : 0);
        EXPECT_EQ(a->y, v.animSizes ? 3 : 0);

        auto* btn = Data<qvButtonRecord>(3);
        EXPECT_EQ(btn->left, 1);
        EXPECT_EQ(btn->bottom, 40);

        auto* s = Data<qvPictureRecord>(4);
        EXPECT_EQ(s->framesPerRow, 3);
        EXPECT_EQ(s->y, 3);

        auto* d = Data<qvDisplaySettings>(5);
        EXPECT_EQ(Item(5)->id, 2u);
        EXPECT_EQ(d->x, -100000);
        EXPECT_EQ(d->width, 320);
        EXPECT_EQ(d->colour, 0xABCDEFu);
        EXPECT_EQ(d->styleFlags, 0x401u);
        EXPECT_EQ(d->givenFlags, 0x1u);
        EXPECT_EQ(d->dragRegionCount, 1u);
        EXPECT_EQ(d->dragRegions[0].height, 5);
        EXPECT_STREQ(d->title, "Second");
        EXPECT_EQ(d->fillStyle, v.fill ? 3u : 1u);
        EXPECT_EQ(d->textureBrush, v.fill ? 9u : 0u);
        EXPECT_EQ(d->gradient.stopCount, v.gradient ? 1u : 0u);

        int index = 6;
        for (uint32_t type : {3, 4, 6, 8, 9, 11, 12}) {
            qvPreloadItem* item = Item(index++);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(item->type, type);
            EXPECT_EQ(item->id, 100 + type);
            EXPECT_EQ(std::string(item->name), "file" + std::to_string(type));
            EXPECT_EQ(item->line, 77);
            EXPECT_EQ(item->data, nullptr);
        }
        EXPECT_EQ(Item(index), nullptr);
        Renew();
    }
}

TEST_F(Loader, LinkedFilesFontsLabelsConstantsAndLineMaps) {
    AppletBuilder b = Builder();
    b.AddLink("Pics\\Title.PNG", ToBytes("picture bytes"), false);
    b.AddLink("::font:Vera Sans", ToBytes("font bytes"), true);
    b.AddLabel("Start", 12);
    b.AddConstant("Answer", 42.5);
    b.AddConstant("Greeting", "hello");
    b.AddLineMap(1, 10, 0, "main.hws", std::nullopt);
    b.AddLineMap(11, 20, 5, "inc.hws", "lib.qva");
    PreloadSpec linked;
    linked.type = 1;
    linked.name = "pic.png";
    linked.linked = ToBytes("linked picture");
    b.AddPreload(linked);
    PreloadSpec font;
    font.type = 9;
    font.name = ":::default_sans";
    font.linked = ToBytes("x");
    b.AddPreload(font);
    ASSERT_EQ(Load(b), 0);

    std::string applet = dir_ / "test.qva";
    EXPECT_EQ(ReadVirtual(Resolve("pics/title.png")), ToBytes("picture bytes"));
    EXPECT_EQ(Resolve("pics/title.png").substr(Resolve("pics/title.png").find('*')),
              "*Title.PNG/" + applet);
    EXPECT_EQ(ReadVirtual(Resolve("Vera Sans.font", 1)), ToBytes("font bytes"));
    EXPECT_EQ(Resolve("Vera Sans"), "Vera Sans");
    EXPECT_EQ(LookupLabel(L_, "START"), 12);
    const char* text = nullptr;
    double number = 0;
    EXPECT_TRUE(LookupConstant(L_, "answer", &text, &number));
    EXPECT_EQ(number, 42.5);
    EXPECT_TRUE(LookupConstant(L_, "GREETING", &text, &number));
    EXPECT_STREQ(text, "hello");

    qvLineMapEntry* first = records_->header->lineMap;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->lastLine, 10u);
    EXPECT_STREQ(first->sourceName, "main.hws");
    EXPECT_EQ(std::string(first->containerName), applet);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(first->next->lineOffset, 5u);
    EXPECT_STREQ(first->next->containerName, "lib.qva");

    qvPreloadItem* item = Item(0);
    ASSERT_EQ(item->linkedSize, 14u);
    EXPECT_EQ(ReadVirtual(MakeChunkPath(item->name, item->linkedOffset, item->linkedSize, 0,
                                        item->containerPath)),
              ToBytes("linked picture"));
    EXPECT_EQ(Item(1)->linkedSize, 0u);  // built-in fonts are never linked
}

TEST_F(Loader, SectionsAfterTheChunkAreNotRead) {
    Bytes applet = BuildWith({});
    applet.insert(applet.end(), {32, 1, 2, 3, 99});
    EXPECT_EQ(Load(applet), 0);
}

TEST_F(Loader, DefaultDisplayItemAndPendingTitle) {
    struct Case {
        const char* label;
        std::function<void(AppletBuilder&)> steps;
        int items;
        const char* title;
        uint32_t flags, given;
        int32_t width;
    } cases[] = {
        {"title alone stays pending", [](AppletBuilder& b) { b.AddTitle("Pending"); }, 0, "", 0, 0,
         0},
        {"title then flag",
         [](AppletBuilder& b) {
             b.AddTitle("Mine");
             b.AddFlag("borderless", true);
         },
         1, "Mine", 0x401, 0x1, 640},
        {"flag then title",
         [](AppletBuilder& b) {
             b.AddFlag("fixed", false);
             b.AddTitle("Late");
         },
         1, "Late", 0x400, 0x4, 640},
        {"declared display 1 takes the group",
         [](AppletBuilder& b) {
             b.AddDisplay(1, 800, 600, "Declared");
             b.AddFlag("sizeable", true);
             b.AddRawSection(6, {0, 0, 4, 0, 0, 0, 3, 0});
         },
         1, "Declared", 0x402, 0x2, 1024},
        {"scaling",
         [](AppletBuilder& b) {
             b.AddRawSection(28, {1, 0, 0, 1, 0, 0, 0, 0, 200, 1});
         },
         1, "Quorvella", 0x400 | 0x100 | 0x80, 0x1C0, 640},
        {"every flag",
         [](AppletBuilder& b) {
             for (const char* flag :
                  {"borderless", "fixed", "sizeable", "hidepointer", "nomodeswitch", "nohide"}) {
                 b.AddFlag(flag, true);
             }
         },
         1, "Quorvella", 0x43F, 0x3F, 640},
    };
    for (const Case& c : cases) {
        AppletBuilder b = Builder();
        c.steps(b);
        ASSERT_EQ(Load(b), 0) << c.label;
        int items = 0;
        for (qvPreloadItem* i = records_->header->preloadItems; i != nullptr; i = i->next) ++items;
        EXPECT_EQ(items, c.items) << c.label;
        if (c.items > 0) {
            auto* d = Data<qvDisplaySettings>(0);
            EXPECT_EQ(Item(0)->id, 1u);
            EXPECT_STREQ(d->title, c.title) << c.label;
            EXPECT_EQ(d->styleFlags, c.flags) << c.label;
            EXPECT_EQ(d->givenFlags, c.given) << c.label;
            EXPECT_EQ(d->width, c.width) << c.label;
            EXPECT_EQ(d->height, c.width == 640 ? 480 : 768) << c.label;
            EXPECT_EQ(d->x, -100000);
        }
        Renew();
    }
    // The preload at start-up makes the default display item with the pending title.
    ASSERT_EQ(Load(BuildWith({[](AppletBuilder& b) { b.AddTitle("Pending"); }})), 0);
    ASSERT_EQ(AddDefaultDisplayItem(records_->header, nullptr), 0);
    EXPECT_STREQ(Data<qvDisplaySettings>(0)->title, "Pending");
}

TEST_F(Loader, BackfillAndLockedSettings) {
    AppletBuilder b = Builder();
    b.SetVersion(3, 2);
    b.AddRawSection(17, {4,    0,    0, 0,    9,    0,    0, 0,    10,   0xFF, 0xFF,
                         0xFF, 0xF6, 0, 0x11, 0x22, 0x33, 0, 0x44, 0x55, 0x66, 1});
    ASSERT_EQ(Load(b), 0);
    const qvBackfill& f = records_->header->display.backfill;
    EXPECT_EQ(f.mode, 4u);
    EXPECT_EQ(f.brushId, 9u);
    EXPECT_EQ(f.pictureX, 10);
    EXPECT_EQ(f.pictureY, -10);
    EXPECT_EQ(f.startColour, 0x112233);
    EXPECT_EQ(f.endColour, 0x445566);
    EXPECT_EQ(f.scalePicture, 1u);

    Renew();
    records_->options->masterVolume = 64;
    ASSERT_EQ(Load(BuildWith({[](AppletBuilder& b) {
                  b.AddScreen(100, 100);
                  b.AddRawSection(29, {});
              }})),
              0);
    EXPECT_EQ(records_->header->display.screenWidth, -1);
    EXPECT_EQ(records_->header->settingsLocked, 1u);
    EXPECT_EQ(records_->options->masterVolume, 64);  // only the display settings go back
}

TEST_F(Loader, ErrorsWithTheirTexts) {
    struct Case {
        const char* label;
        Bytes applet;
        int code;
        std::string text;
    } cases[] = {
        {"four bytes", ToBytes(std::string("QVA\0", 4)), ERR_NOAPPLET,
         "test.qva is no Quorvella applet!"},
        {"other magic", ToBytes("QVB\0\0\0\0\0\1\0\0\0\0"), ERR_NOAPPLET,
         "test.qva is no Quorvella applet!"},
        {"unknown section", BuildWith({[](AppletBuilder& b) { b.AddRawSection(32, {}); }}),
         ERR_UNKNOWNSEC, "Unknown section in applet!"},
        {"version 5.1", BuildWith({[](AppletBuilder& b) { b.SetVersion(5, 1); }}),
         ERR_APPLETVERSION, "This applet requires at least Quorvella 5.1!"},
        {"version 6.0", BuildWith({[](AppletBuilder& b) { b.SetVersion(6, 0); }}),
         ERR_APPLETVERSION, "This applet requires at least Quorvella 6.0!"},
        {"no chunk", ToBytes(std::string("QVA\0\0\0\0\0\x0a\x05\x00", 11)), ERR_UNEXPECTEDEOF,
         "Unexpected end of file!"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Load(c.applet), c.code) << c.label;
        EXPECT_EQ(testing::ErrorText(c.code), c.text) << c.label;
        Renew();
    }
    EXPECT_EQ(LoadFile("nothere.qva"), ERR_FILEEXIST);
    EXPECT_EQ(testing::ErrorText(ERR_FILEEXIST), "File nothere.qva does not exist!");
    EXPECT_EQ(LoadFile("Nowhere:app.qva"), ERR_FILEEXIST);
    EXPECT_EQ(LoadFile(std::string(2000, 'a')), ERR_NAMETOOLONG);
}

TEST_F(Loader, AppletThatExistsButCannotBeReadGivesReadFileError) {
    std::string path = dir_.MakeDir("folder.qva");
    EXPECT_EQ(LoadFile(path), ERR_READFILE);
    EXPECT_EQ(testing::ErrorText(ERR_READFILE), "Cannot read file folder.qva !");
}

// Every section kind at once, for the cut and allocation tests.
Bytes FullApplet() {
    AppletBuilder b = Builder();
    b.AddInfo(2, "info");
    b.AddTitle("Title");
    b.AddFlag("borderless", true);
    b.AddRawSection(3, {0, 10, 0, 20});
    b.AddRawSection(5, {0, 1, 2, 3});
    b.AddRawSection(17, {2, 0, 0, 0, 1, 0, 0, 0, 2});
    b.AddScreen(640, 480);
    PreloadSpec bg;
    bg.name = "bg.png";
    bg.gradient.stops = {{1, 2}, {3, 4}};
    b.AddPreload(bg);
    b.AddDisplay(2, 320, 240, "Two");
    PreloadSpec brush;
    brush.type = 1;
    brush.name = "b.png";
    brush.linked = ToBytes("brush data");
    b.AddPreload(brush);
    b.AddLink("file.txt", ToBytes("inline"), false);
    b.AddLink("other.txt", ToBytes("external"), true);
    b.AddLabel("lab", 3);
    b.AddConstant("NUM", 1.0);
    b.AddConstant("STR", "text");
    b.AddLineMap(1, 2, 3, "a.hws", std::nullopt);
    b.AddLineMap(4, 5, 6, "b.hws", "c");
    b.AddRawSection(28, {0, 0, 0, 0, 1, 0, 0, 0, 1, 1});
    b.AddRawSection(0, {0, 0, 0, 1, 0});
    return b.Build();
}

TEST_F(Loader, EveryCutEndsWithAnErrorNeverAnOverrun) {
    Bytes full = FullApplet();
    ASSERT_EQ(Load(full), 0);
    // Names and external data follow the chunk: a cut there leaves stretches outside.
    for (size_t n = 0; n < full.size(); ++n) {
        Renew();
        int result = Load(Bytes(full.begin(), full.begin() + n));
        EXPECT_TRUE(result == ERR_UNEXPECTEDEOF || result == ERR_NOAPPLET) << n << ": " << result;
    }
}

TEST_F(Loader, OversizedCountsFailBeforeAnythingIsAllocated) {
    auto section = [](uint8_t type, Bytes data) {
        return BuildWith({[=](AppletBuilder& b) { b.AddRawSection(type, data); }});
    };
    const Bytes kHuge = {0xFF, 0xFF, 0xFF, 0xF0};
    Bytes item(33, 0);
    item[0] = 1;
    Bytes farName = item;
    farName[5] = 0x7F;  // name offset far beyond the file
    farName[12] = 1;
    Bytes farLinked = item;
    farLinked[13] = 0x7F;  // linked data far beyond the file
    farLinked[20] = 1;
    struct Case {
        const char* label;
        Bytes applet;
    } cases[] = {
        {"chunk size", ToBytes(std::string("QVA\0\0\0\0\0\x01\xFF\xFF\xFF\xF0xyz", 16))},
        {"skipped section", section(0, kHuge)},
        {"preload count", section(2, kHuge)},
        {"preload name", section(2, Concat({0, 0, 0, 1}, farName))},
        {"preload linked data", section(2, Concat({0, 0, 0, 1}, farLinked))},
        {"title length", section(4, {0xFF, 0xFF, 'a'})},
        {"label count", section(9, kHuge)},
        {"line map count", section(8, kHuge)},
        {"linked file count", section(26, Concat(kHuge, {0, 0, 0, 0}))},
        {"linked file size", section(26, {0, 0, 0, 1, 0, 0, 0, 0, 'x', 0, 0x7F, 0, 0, 0})},
        {"external stretch", section(26, {0,    0,    0,    1, 0, 0, 0, 0,    'x', 0, 0xFF,
                                          0xFF, 0xFF, 0xFF, 0, 0, 0, 9, 0x7F, 0,   0, 0})},
        {"region count",
         section(2, Concat(Concat({0, 0, 0, 1, 10}, Bytes(32, 0)), Concat(Bytes(40, 0), kHuge)))},
        {"unended constant text", section(31, Concat({'S', 0, 1}, Bytes(70000, 'x')))},
    };
    size_t cap = GetMemoryStats().liveBytes + (1 << 20);
    for (const Case& c : cases) {
        SetMemoryCap(cap);  // a runaway allocation would fail with ERR_MEM instead
        int result = Load(c.applet);
        SetMemoryCap(0);
        EXPECT_EQ(result, ERR_UNEXPECTEDEOF) << c.label;
        Renew();
    }
}

TEST_F(Loader, LongStringsKeepWhatTheirFieldsHold) {
    std::string longText(2000, 't');
    AppletBuilder b = Builder();
    b.AddTitle(longText);
    b.AddFlag("fixed", true);
    b.AddInfo(1, longText);
    b.AddLink(longText, ToBytes("x"), false);
    PreloadSpec display;
    display.type = 10;
    display.id = 3;
    display.title = longText;
    for (uint32_t i = 0; i < 100; ++i) display.dragRegions.push_back({i, 1, 2, 3, 4});
    display.sizeRegions = {{7, 8, 9, 10, 11}};
    for (uint32_t i = 0; i < 255; ++i) display.gradient.stops.push_back({i, i});
    b.AddPreload(display);
    b.AddLabel(longText, 5);
    ASSERT_EQ(Load(b), 0);
    EXPECT_EQ(std::string(Data<qvDisplaySettings>(0)->title), longText.substr(0, 255));
    EXPECT_EQ(std::string(records_->header->info[0]), longText.substr(0, 255));
    EXPECT_EQ(std::string(records_->header->linkedFiles->name), longText.substr(0, 1023));
    auto* d = Data<qvDisplaySettings>(1);
    EXPECT_EQ(std::string(d->title), longText.substr(0, 255));
    EXPECT_EQ(d->dragRegionCount, 64u);
    EXPECT_EQ(d->dragRegions[63].type, 63u);
    EXPECT_EQ(d->sizeRegionCount, 1u);
    EXPECT_EQ(d->sizeRegions[0].type, 7u);  // read after the skipped regions
    EXPECT_EQ(d->gradient.stopCount, 64u);
    EXPECT_EQ(LookupLabel(L_, longText.substr(0, 1023).c_str()), 5);
}

TEST_F(Loader, AllocationFailuresGiveErrMemAndLeakNothing) {
    Bytes full = FullApplet();
    std::string path = dir_.Write("full.qva", full);
    for (uint64_t n = 1;; ++n) {
        int result;
        {
            AllocationFault fault(n, false);
            result = LoadFile(path);
        }
        FreeAppletData(records_->header);
        if (result == 0) break;
        EXPECT_EQ(result, ERR_MEM) << n;  // leaks show up in the sanitizer's report
        Renew();
        ASSERT_LT(n, 500u);
    }
}

}  // namespace
}  // namespace qv
