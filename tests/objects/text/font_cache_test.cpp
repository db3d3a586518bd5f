// Fonts as scripts name them: the cache (one font per key, the built-in names, the fallback to
// the native engine), font objects, the font search paths, the glyph caches, fonts linked into
// the applet, the progress line, and memory running out anywhere on the way.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "engine/testsupport/listing.h"
#include "objects/fonts/font_loading.h"
#include "objects/fonts/font_lookup.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/truetype.h"
#include "platform/linux/memory.h"
#include "runtime/runtime_state.h"
#include "tests/objects/text/text_test_support.h"

namespace qv::testing {
namespace {

class FontCacheTest : public TextLibTest {
protected:
    qvFont* FontOf(const Arg& id) {
        qvFontObject* object = nullptr;
        EXPECT_EQ(FindFont(id.kind == Arg::Kind::Number ? qvObjectId{uint32_t(id.number), nullptr}
                                                        : qvObjectId{0, id.pointer},
                           &object),
                  0);
        return object != nullptr ? object->font : nullptr;
    }
    int CacheNodes() {
        int n = 0;
        for (const qvFontCacheNode* node = FontCache(); node != nullptr; node = node->next) ++n;
        return n;
    }
    const qvFontCacheNode* LastNode() {
        const qvFontCacheNode* last = FontCache();
        while (last != nullptr && last->next != nullptr) last = last->next;
        return last;
    }
    int32_t Width(const std::string& text) {
        return int32_t(Call("TextWidth", {Str(text)}).Number());
    }
};

TEST_F(FontCacheTest, OneFontPerNameSizeEngineAndCacheFlag) {
    ASSERT_EQ(Call("OpenFont", {Num(1), Str("DejaVu Sans"), Num(20)}).code, 0);
    ASSERT_EQ(Call("OpenFont", {Num(2), Str("dejavu SANS"), Num(20.9)}).code, 0);
    EXPECT_EQ(FontOf(Num(1)), FontOf(Num(2)));
    SetFontSize(FontOf(Num(1)), 2.0, 3.0);
    struct Case {
        const char* name;
        double size;
        std::vector<std::pair<Arg, Arg>> options;
        bool same;
    };
    const Case cases[] = {
        {"DejaVu Sans", 20, {}, true},
        {"DejaVu Sans", 20, {{Str("engine"), Num(0)}, {Str("cache"), Num(1)}}, true},
        {"DejaVu Sans", 21, {}, false},
        {"DejaVu Sans", 20, {{Str("cache"), Num(0)}}, false},
        {"DejaVu Sans", 20, {{Str("cache"), Bool(false)}}, false},
        {"DejaVu Sans", 20, {{Str("engine"), Num(4)}}, false},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call("OpenFont", {Num(3), Str(c.name), Num(c.size), Table(c.options)}).code, 0);
        EXPECT_EQ(FontOf(Num(3)) == FontOf(Num(1)), c.same) << c.size;
    }
    // A hit sets the font back to its own size.
    EXPECT_EQ(FontOf(Num(1))->scaleX, 1.0);
    EXPECT_EQ(FontOf(Num(1))->height, 20);
    EXPECT_EQ(CacheNodes(), 4);
    EXPECT_STREQ(FontOf(Num(1))->requestedName, "DejaVu Sans");
}

TEST_F(FontCacheTest, BuiltInNamesOpenTheBuiltInFonts) {
    struct Case {
        const char* name;
        double size;
        int engine;
        const char* opened;  // the cache node's name
        int nodeEngine;
        const char* fontName;  // nullptr: the default font
    };
    const Case cases[] = {
        {":::default_serif", 20, 0, "Bitstream Vera Serif", 4, "Bitstream Vera Serif"},
        {":::default_sans", 20, 0, "Bitstream Vera Sans", 4, "Bitstream Vera Sans"},
        {":::default_truetype", 16, 4, "Bitstream Vera Sans", 4, "Bitstream Vera Sans"},
        {":::default_mono", 12, 0, "Bitstream Vera Sans Mono", 4, "Bitstream Vera Sans Mono"},
        {":::default_bitmap", 8, 0, "topaz", 0, nullptr},
        // "topaz" is no TrueType face: the native engine takes it.
        {":::default_bitmap", 8, 4, "topaz", 0, nullptr},
    };
    for (const Case& c : cases) {
        Arg options = Table({{Str("engine"), Num(c.engine)}});
        ASSERT_EQ(Call("SetFont", {Str(c.name), Num(c.size), options}).code, 0) << c.name;
        const qvFont* font = GetDefaultFont();
        const qvFontCacheNode* node = LastNode();
        EXPECT_STREQ(node->name, c.opened) << c.name;
        EXPECT_EQ(node->engine, c.nodeEngine) << c.name;
        EXPECT_EQ(node->font, font);
        if (c.fontName == nullptr) {
            EXPECT_EQ(font, DefaultFont()) << c.name;
        } else {
            EXPECT_STREQ(font->name, c.fontName) << c.name;
            EXPECT_EQ(font->engine, QV_FONTENGINE_TRUETYPE) << c.name;
        }
    }
    EXPECT_EQ(CacheNodes(), 5) << ":::default_sans and :::default_truetype at 20 share a node";
}

TEST_F(FontCacheTest, WhatTheBuiltInEngineCannotOpenFallsBackToTheNativeOne) {
    Arg inbuilt = Table({{Str("engine"), Num(4)}});
    ASSERT_EQ(Call("SetFont", {Str("pix"), Num(5), inbuilt}).code, 0);
    EXPECT_EQ(GetDefaultFont()->engine, QV_FONTENGINE_BITMAP);
    EXPECT_EQ(LastNode()->engine, 0);
    ASSERT_EQ(Call("SetFont", {Str("pix"), Num(5), inbuilt}).code, 0);
    EXPECT_EQ(CacheNodes(), 1) << "found under engine 0 the second time";
    const CallResult missing = Call("SetFont", {Str("No Such Face"), Num(9), inbuilt});
    EXPECT_EQ(missing.code, ERR_OPENFONT);
    EXPECT_EQ(missing.errorText, "Cannot open font No Such Face with size 9!");
    EXPECT_EQ(Call("SetFont", {Str("Foo"), Num(0.5)}).code, ERR_OPENFONT);
}

TEST_F(FontCacheTest, FontObjectsNameCachedFonts) {
    ASSERT_EQ(Call("OpenFont", {Num(1), Str("DejaVu Sans"), Num(20)}).code, 0);
    ASSERT_EQ(Call("SetFontStyle", {Num(QV_STYLE_BOLD)}).code, 0);
    ASSERT_EQ(Call("UseFont", {Num(1)}).code, 0);
    EXPECT_EQ(GetTextDefaults()->styleFlags, QV_STYLE_NORMAL);
    const int32_t width = Width("abc");
    EXPECT_GT(width, 20);
    // Closing the current font's object leaves the font current and in the cache.
    ASSERT_EQ(Call("CloseFont", {Num(1)}).code, 0);
    EXPECT_EQ(Width("abc"), width);
    const CallResult gone = Call("UseFont", {Num(1)});
    EXPECT_EQ(gone.code, ERR_FINDFONT2);
    EXPECT_EQ(gone.errorNumber, 1u);
    // An automatic id.
    const CallResult opened = Call("OpenFont", {Nil(), Str("topaz"), Num(8)});
    ASSERT_EQ(opened.code, 0);
    ASSERT_EQ(opened.results.size(), 1u);
    const Arg handle = LightUserdata(const_cast<void*>(opened.results[0].pointer));
    ASSERT_EQ(Call("UseFont", {handle}).code, 0);
    EXPECT_EQ(GetDefaultFont(), DefaultFont());
    ASSERT_EQ(Call("CloseFont", {handle}).code, 0);
    EXPECT_EQ(Call("CloseFont", {handle}).code, ERR_FINDARRAY);
}

// The font object of an id goes only once the new font is open.
TEST_F(FontCacheTest, AFailedOpenFontKeepsTheFontOfItsId) {
    ASSERT_EQ(Call("OpenFont", {Num(1), Str("DejaVu Sans"), Num(20)}).code, 0);
    EXPECT_EQ(Call("OpenFont", {Num(1), Str("No Such Face"), Num(20)}).code, ERR_OPENFONT);
    EXPECT_EQ(Call("UseFont", {Num(1)}).code, 0);
    EXPECT_EQ(CountObjectsOfType(QV_OBJ_FONT), 1);
}

TEST_F(FontCacheTest, OpenFontTellsItsProgressAndSetFontDoesNot) {
    ASSERT_EQ(Call("SetFont", {Str("DejaVu Sans"), Num(20)}).code, 0);
    ASSERT_EQ(Call("OpenFont", {Num(1), Str("DejaVu Sans"), Num(20)}).code, 0);
    EXPECT_NE(Call("OpenFont", {Num(2), Str("Nothing"), Num(20)}).code, 0);
    EXPECT_EQ(DebugText(), "Opening font DejaVu Sans done\nOpening font Nothing failed\n");
}

TEST_F(FontCacheTest, FontPathsAreAddedOnceAndSearchedFirst) {
    const std::string folder = scratch_.MakeDir("more");
    WriteBytes(folder + "/Mine.ttf", ReadBytes(FontFolder() + "/foo/Odd.ttf"));
    ASSERT_EQ(ScanTrueTypeFonts(0), 0);
    ASSERT_EQ(Call("AddFontPath", {Str(folder)}).code, 0);
    EXPECT_EQ(ScannedFonts(), nullptr) << "the next lookup scans again";
    ASSERT_EQ(Call("AddFontPath", {Str(folder + "/")}).code, 0);
    ASSERT_EQ(Call("AddFontPath", {Str("T:MORE")}).code, 0);
    int paths = 0;
    for (const qvFontPath* p = FontSearchPaths(); p != nullptr; p = p->next) ++paths;
    EXPECT_EQ(paths, 1);
    EXPECT_STREQ(FontSearchPaths()->path, folder.c_str());
    int64_t base = 0, length = 0;
    int temporary = 0;
    EXPECT_EQ(FindTrueTypeFont("Oddity", 80, 0, 0, &base, &length, &temporary),
              folder + "/Mine.ttf");
    const CallResult missing = Call("AddFontPath", {Str("FONTS:nowhere")});
    EXPECT_EQ(missing.code, ERR_LOCK2);
    EXPECT_EQ(missing.errorText, "FONTS:nowhere");
}

TEST_F(FontCacheTest, GlyphCachesAreFreedForAllFontsOrForOne) {
    ASSERT_EQ(Call("OpenFont", {Num(1), Str(":::default_sans"), Num(20)}).code, 0);
    ASSERT_EQ(Call("OpenFont", {Num(2), Str(":::default_serif"), Num(20)}).code, 0);
    auto cached = [&](int id) {
        const auto* record = static_cast<qvTrueTypeFont*>(FontOf(Num(id))->engineData);
        return record->antiAliasedCache['a'].glyph != nullptr;
    };
    auto fill = [&] {
        for (int id : {1, 2}) {
            qvTextExtent extent{};
            FontTextExtent(FontOf(Num(id)), "a", 1, QV_STYLE_ANTIALIAS, 0, &extent);
        }
    };
    fill();
    ASSERT_TRUE(cached(1) && cached(2));
    ASSERT_EQ(Call("FreeGlyphCache", {Num(1), Num(2)}).code, 0);
    EXPECT_TRUE(cached(1));
    EXPECT_FALSE(cached(2));
    ASSERT_EQ(Call("FreeGlyphCache", {Num(0)}).code, 0);
    EXPECT_FALSE(cached(1));
    EXPECT_EQ(Call("FreeGlyphCache", {Num(1), Num(7)}).code, ERR_FINDFONT2);
}

TEST_F(FontCacheTest, LinkedFontPathsAreRefusedOnTheNativeEngine) {
    qvFont* font = nullptr;
    const std::string named = ":::chunk10:20*:font:DH0:fonts/" + scratch_.path() + "/applet.qva";
    EXPECT_EQ(LoadFont(named.c_str(), 10, 0, 1, 1, &font), ERR_FONTPATH);
    EXPECT_NE(LoadFont(named.c_str(), 10, 4, 1, 1, &font), ERR_FONTPATH);
}

TEST_F(FontCacheTest, ColourFontsOfFontObjectsConvertOnceADisplayIsOpen) {
    const std::string desc = scratch_.Write(
        "colour.desc", ToBytes("name colour\nheight 2\nbaseline 1\ncolours 0x000 0xF80\n"
                               "glyph 'a'\n01\n10\ndefault\n..\n..\n"));
    const std::string command =
        std::string(QVMKFONT_PATH) + " --describe " + desc + " " + scratch_.path();
    ASSERT_EQ(std::system(command.c_str()), 0);
    Runtime().displayOpen = 0;
    ASSERT_EQ(Call("OpenFont", {Num(1), Str(scratch_.path() + "/colour"), Num(2)}).code, 0);
    qvFont* font = FontOf(Num(1));
    ASSERT_EQ(font->engine, QV_FONTENGINE_COLOUR);
    ASSERT_NE(font->pendingPixels, nullptr);
    EXPECT_EQ(RefreshFontObjects(), 0);
    EXPECT_EQ(font->pendingPixels, nullptr);
    EXPECT_NE(font->colourGlyphs, nullptr);
    EXPECT_EQ(RefreshFontObjects(), 0) << "nothing left to convert";
}

TEST_F(FontCacheTest, OutlinesAreReleasedForEveryCachedFont) {
    ASSERT_EQ(Call("SetFont", {Str(":::default_sans"), Num(10)}).code, 0);
    ASSERT_EQ(Call("SetFont", {Str(":::default_sans"), Num(11)}).code, 0);
    ASSERT_EQ(Call("SetFont", {Str("topaz"), Num(8)}).code, 0);
    static std::vector<qvFont*> released;
    released.clear();
    ReleaseFontOutlines([](qvFont* font) { released.push_back(font); });
    std::vector<qvFont*> cached;
    for (const qvFontCacheNode* node = FontCache(); node != nullptr; node = node->next)
        cached.push_back(node->font);
    EXPECT_EQ(released, cached);
    EXPECT_EQ(released.size(), 3u);
}

// Fonts linked into the applet, found by name through the applet's list of linked files.
class LinkedFontCommands : public FontCacheTest {
protected:
    LinkedFontCommands() {
        Runtime().linkOffset = 0;
        SetRegistryPointer(L, "applet", &header_);
    }
    ~LinkedFontCommands() override {
        SetRegistryPointer(L, "applet", nullptr);
        for (qvLinkedFile& file : files_) file.next = nullptr;
    }
    void Link(const std::string& name, uint32_t flags, const Bytes& data, size_t cut = 0) {
        Bytes linked;
        for (int i = 3; i >= 0; --i) linked.push_back(uint8_t(flags >> (8 * i)));
        linked.insert(linked.end(), data.begin(), data.end());
        LinkFile("::font:" + name, linked, cut);
    }
    // A file linked under its own name, as any file an applet links.
    void LinkFile(const std::string& name, const Bytes& data, size_t cut = 0) {
        qvLinkedFile& file = files_[count_++];
        std::snprintf(file.name, sizeof file.name, "%s", name.c_str());
        std::snprintf(file.containerPath, sizeof file.containerPath, "%s/applet.qva",
                      scratch_.path().c_str());
        file.offset = uint32_t(container_.size());
        container_.insert(container_.end(), data.begin(), data.end());
        file.size = uint32_t(cut != 0 ? cut : container_.size() - file.offset);
        file.next = header_.linkedFiles;
        header_.linkedFiles = &file;
        WriteBytes(file.containerPath, container_);
    }

    qvScriptHeader header_{};
    qvLinkedFile files_[6]{};
    int count_ = 0;
    Bytes container_ = Bytes(16, 0);
};

TEST_F(LinkedFontCommands, LinkedFontsOpenByTheirNames) {
    const Bytes vera = ReadBytes(FontFolder() + "/truetype/vera/VeraSe.ttf");
    Link("Linked Serif", 2, vera);
    Link("Cut", 2, vera, 3);
    ASSERT_EQ(Call("SetFont", {Str("Linked Serif"), Num(18)}).code, 0);
    EXPECT_EQ(GetDefaultFont()->engine, QV_FONTENGINE_PLATFORM);
    EXPECT_STREQ(GetDefaultFont()->name, "Bitstream Vera Serif");
    EXPECT_NE(std::strstr(LastNode()->name, "*Linked Serif/"), nullptr) << LastNode()->name;
    ASSERT_EQ(Call("SetFont", {Str("linked serif.font"), Num(18)}).code, 0);
    EXPECT_EQ(CacheNodes(), 1);
    ASSERT_EQ(
        Call("OpenFont", {Num(1), Str("Linked Serif"), Num(18), Table({{Str("engine"), Num(4)}})})
            .code,
        0);
    EXPECT_EQ(FontOf(Num(1))->engine, QV_FONTENGINE_TRUETYPE);
    // Messages name the font as the script did, not by the virtual path that tells where the
    // applet lies.
    const CallResult cut = Call("SetFont", {Str("Cut"), Num(18)});
    EXPECT_EQ(cut.code, ERR_READFILE);
    EXPECT_EQ(cut.errorText.find(":::chunk"), std::string::npos) << cut.errorText;
    EXPECT_NE(cut.errorText.find("Cut"), std::string::npos) << cut.errorText;
}

// A TrueType file linked as a plain file opens on either engine as the same file on disk
// does; a broken one is named in the message as the script named it.
TEST_F(LinkedFontCommands, PlainLinkedTrueTypeFilesOpenAsOnDisk) {
    const std::string disk = FontFolder() + "/truetype/vera/Vera.ttf";
    LinkFile("sub/vera.ttf", ReadBytes(disk));
    LinkFile("sub/junk.ttf", ToBytes("not a font at all"));
    const std::string text = "A damp cellar somewhere in the north";
    ASSERT_EQ(Call("SetFont", {Str(disk), Num(16)}).code, 0);
    const int32_t expected = Width(text);
    for (int32_t engine : {0, 4}) {
        const Arg options = Table({{Str("engine"), Num(engine)}});
        ASSERT_EQ(Call("SetFont", {Str("SUB\\Vera.TTF"), Num(16), options}).code, 0) << engine;
        EXPECT_EQ(GetDefaultFont()->engine,
                  engine == 0 ? QV_FONTENGINE_PLATFORM : QV_FONTENGINE_TRUETYPE);
        EXPECT_STREQ(GetDefaultFont()->name, "Bitstream Vera Sans");
        EXPECT_EQ(Width(text), expected) << engine;
        const CallResult junk = Call("SetFont", {Str("sub/junk.ttf"), Num(16), options});
        EXPECT_EQ(junk.code, ERR_OPENFONT) << engine;
        EXPECT_EQ(junk.errorText, "Cannot open font sub/junk.ttf with size 16!") << engine;
    }
}

// Memory running out anywhere: every attempt ends with an error or succeeds, nothing stays
// allocated and no temporary file stays behind. Opening a face asks for a few thousand
// blocks, so the failures are a sample of them.
TEST_F(FontCacheTest, MemoryRunningOutWhileLoadingAndScanning) {
    struct Case {
        const char* name;
        int32_t size;
        int engine;
    };
    const Case cases[] = {{"Pair Mono Bold", 12, 4},
                          {"Resource Face Italic", 12, 0},
                          {"pix", 5, 4},
                          {":::default_mono", 12, 0},
                          {"TOPAZ", 8, 0}};
    auto sweep = [&](const char* what, const std::function<int()>& attempt,
                     const std::function<void()>& undo) {
        uint64_t total = 0;
        {
            AllocationFault count(UINT64_MAX, false);
            ASSERT_EQ(attempt(), 0) << what;
            total = AllocationRequestsSinceArm();
        }
        undo();
        for (uint64_t n : FailurePoints(total, FailureSweep::Sample)) {
            const size_t before = GetMemoryStats().liveBlocks;
            int code;
            {
                AllocationFault fault(n, false);
                code = attempt();
            }
            EXPECT_TRUE(code == 0 || code == ERR_MEM || code == ERR_OPENFONT)
                << what << " at " << n << ": " << code;
            if (code == 0) undo();
            EXPECT_EQ(GetMemoryStats().liveBlocks, before) << what << " at " << n;
            EXPECT_TRUE(TempFiles().empty()) << what << " at " << n;
        }
    };
    // The scan is swept on its own.
    ASSERT_EQ(ScanTrueTypeFonts(0), 0);
    for (const Case& c : cases) {
        qvFont* font = nullptr;
        sweep(
            c.name, [&] { return LoadFont(c.name, c.size, c.engine, 1, 0, &font); }, FreeFontCache);
    }
    FreeTrueTypeFontList();
    sweep(
        "the scan",
        [] {
            const int code = ScanTrueTypeFonts(0);
            EXPECT_TRUE(code == 0 || ScannedFonts() == nullptr);
            return code;
        },
        FreeTrueTypeFontList);
}

TEST_F(FontCacheTest, MemoryRunningOutInTheCommands) {
    const std::vector<std::pair<const char*, std::vector<Arg>>> calls = {
        {"GetAvailableFonts", {}},
        {"OpenFont", {Num(1), Str("Pair Mono Regular"), Num(14)}},
        {"SetFont", {Str("DejaVu Sans Bold"), Num(15), Table({{Str("engine"), Num(4)}})}},
        {"AddFontPath", {Str("FONTS:foo")}},
    };
    for (const auto& [command, args] : calls) {
        uint64_t total = 0;
        {
            AllocationFault count(UINT64_MAX, false);
            ASSERT_EQ(Call(command, args).code, 0) << command;
            total = AllocationRequestsSinceArm();
        }
        FreeFontSearchPaths();
        for (uint64_t n : FailurePoints(total, FailureSweep::Sample)) {
            CallResult r;
            {
                AllocationFault fault(n, false);
                r = Call(command, args);
            }
            // The file layer reports a lock it could not make as a path it cannot open.
            const bool layer = std::strcmp(command, "AddFontPath") == 0 && r.code == ERR_LOCK2;
            EXPECT_TRUE(r.code == 0 || r.code == ERR_MEM || r.code == ERR_OPENFONT || layer)
                << command << " at " << n << ": " << r.code;
            FreeFontSearchPaths();
        }
        EXPECT_EQ(Call(command, args).code, 0) << command;
    }
}

}  // namespace
}  // namespace qv::testing
