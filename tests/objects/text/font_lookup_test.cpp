// Fonts found and opened by name: the scanned list by full name, family, weight and slant;
// collection members through temporary files; ".font" files in the font folders; the native
// and built-in engines of OpenFontByName, the Linux platform engine, and fonts linked into the
// applet behind their header.
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font_loading.h"
#include "objects/fonts/font_lookup.h"
#include "objects/fonts/font_scan.h"
#include "objects/fonts/truetype.h"
#include "runtime/plugin_api/service_adapters.h"
#include "runtime/runtime_state.h"
#include "tests/objects/text/text_test_support.h"

namespace qv::testing {
namespace {

struct FontCloser {
    void operator()(qvFont* font) const { CloseFontObject(font); }
};
using FontPtr = std::unique_ptr<qvFont, FontCloser>;

class FontLookupTest : public TextLibTest {
protected:
    ~FontLookupTest() override { FreeTrueTypeFontList(); }

    struct Opened {
        int code;
        FontPtr font;
    };
    Opened Open(const std::string& name, int32_t size, int engine, int linked = 0) {
        qvFont* font = nullptr;
        const int code = OpenFontByName(name.c_str(), size, engine, 1, linked, &font);
        return {code, FontPtr(font)};
    }
    std::string Folder(const std::string& rel) const { return "FONTS:" + rel; }
};

TEST_F(FontLookupTest, FacesAreFoundByFullNameOrByFamilyWeightAndSlant) {
    struct Case {
        const char* name;
        int weight, slant, plainFileOnly;
        const char* file;  // below the folder; nullptr: none
    };
    const Case cases[] = {
        {"Foo Regular", -1, -1, 0, "foo/FooRegular.ttf"},
        {"foo", -1, -1, 0, "foo/FooRegular.ttf"},  // the family alone for a regular style
        {"FOO", 80, 0, 0, "foo/FooRegular.ttf"},
        {"Foo", 200, 100, 0, "foo/FooBoldItalic.ttf"},
        {"Foo Bold Italic", -1, -1, 0, "foo/FooBoldItalic.ttf"},
        {"Foo", 200, 0, 0, nullptr},
        {"Foo Bold", -1, -1, 0, nullptr},
        {"Oddity", 80, 0, 0, "foo/Odd.ttf"},
        {"Oddity", -1, -1, 0, nullptr},  // "Wibble" is not regular-like
        {"Early Bird", 100, 110, 0, "_TrueType/Early.ttf"},
        {"Deep", -1, -1, 0, "deep/a/b/Deep.ttf"},
        {"Deeper", -1, -1, 0, nullptr},  // four folders down
        {"Short Regular", -1, -1, 0, nullptr},
        {"pix", -1, -1, 0, nullptr},  // bitmap fonts never match
        {"Unicode Face Light", -1, -1, 1, "foo/Unicode.otf"},
        {"Resource Face Italic", -1, -1, 0, "mac/Resource.dfont"},
        {"Resource Face Italic", -1, -1, 1, nullptr},
        {"Pair Mono Bold", -1, -1, 1, nullptr},
        {"LLLL", -1, -1, 0, nullptr},
    };
    for (const Case& c : cases) {
        int64_t base = -1, length = -1;
        int temporary = -1;
        const std::string path = FindTrueTypeFont(c.name, c.weight, c.slant, c.plainFileOnly, &base,
                                                  &length, &temporary);
        EXPECT_EQ(path, c.file != nullptr ? Folder(c.file) : "") << c.name;
        EXPECT_EQ(temporary, 0) << c.name;
        const bool resource = c.file != nullptr && std::strstr(c.file, ".dfont") != nullptr;
        EXPECT_EQ(base, resource ? 256 + 4 + 10 + 4 : 0) << c.name;
        EXPECT_EQ(length > 0, resource) << c.name;
    }
    EXPECT_TRUE(TempFiles().empty());
}

// Plugins open the file with FreeType or the C library, which know no "FONTS:".
TEST_F(FontLookupTest, PluginsGetTheHostPathOfAFontFile) {
    const auto find = ServiceHooks().findTrueTypeFont;
    ASSERT_NE(find, nullptr);
    char path[1024];
    ASSERT_EQ(find("Foo Regular", path, sizeof path), 1);
    EXPECT_EQ(std::filesystem::path(path),
              std::filesystem::path(FontFolder()) / "foo/FooRegular.ttf");
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    // A face inside a resource file is no file of its own; a path must fit with its NUL.
    EXPECT_EQ(find("Resource Face Italic", path, sizeof path), 0);
    EXPECT_EQ(find("Foo Regular", path, std::strlen(path)), 0);
    EXPECT_EQ(find("Nothing Like It", path, sizeof path), 0);
}

TEST_F(FontLookupTest, ACollectionMemberOpensFromATemporaryFileDeletedWithTheFont) {
    for (const char* name : {"Pair Mono Regular", "Pair Mono Bold"}) {
        FontPtr font(NewFontRecord());
        ASSERT_EQ(OpenTrueTypeFont(name, 20, 1, font.get()), 1) << name;
        EXPECT_STREQ(font->name, std::strcmp(name, "Pair Mono Bold") == 0 ? name : "Pair Mono");
        const auto* record = static_cast<qvTrueTypeFont*>(font->engineData);
        EXPECT_EQ(record->temporary, 1u);
        EXPECT_EQ(TempFiles().size(), 1u);
        qvTextExtent extent{};
        FontTextExtent(font.get(), "Mono", 4, QV_FONTSTYLE_ANTIALIAS, 0, &extent);
        EXPECT_GT(extent.width, 20);
        font.reset();
        EXPECT_TRUE(TempFiles().empty()) << name;
    }
}

TEST_F(FontLookupTest, AResourceFaceOpensInsideItsFile) {
    FontPtr font(NewFontRecord());
    ASSERT_EQ(OpenTrueTypeFont("Resource Face Italic", 16, 1, font.get()), 1);
    EXPECT_STREQ(font->name, "Resource Face Italic");
    EXPECT_TRUE(TempFiles().empty());
}

TEST_F(FontLookupTest, BitmapFontFilesAreFoundInTheFolders) {
    char path[1024];
    ASSERT_EQ(FindFontFile("pix", path), 1);
    EXPECT_STREQ(path, "FONTS:pix.font");
    ASSERT_EQ(FindFontFile("PIX.font", path), 1);
    EXPECT_EQ(FindFontFile("outline", path), 0) << "subfolders are not searched";
    ASSERT_EQ(AddFontSearchPath((FontFolder() + "/bitmap").c_str()), 0);
    ASSERT_EQ(FindFontFile("outline", path), 1);
    EXPECT_EQ(std::string(path), FontFolder() + "/bitmap/outline.font");
    EXPECT_EQ(FindFontFile(std::string(1020, 'x').c_str(), path), 0);
}

TEST_F(FontLookupTest, EnginesOpenWhatTheyCan) {
    struct Case {
        const char* name;
        int32_t size;
        int engine;
        int expectedEngine;  // 0: refused with ERR_OPENFONT
        const char* displayName;
    };
    const Case cases[] = {
        {"DejaVu Sans", 20, 0, QV_FONTENGINE_PLATFORM, "DejaVu Sans"},
        {"DejaVu Sans Bold", 20, 4, QV_FONTENGINE_TRUETYPE, "DejaVu Sans Bold"},
        {"Bitstream Vera Serif", 12, 0, QV_FONTENGINE_PLATFORM, "Bitstream Vera Serif"},
        {"pix", 5, 0, QV_FONTENGINE_BITMAP, "pix"},
        {"pix.font", 7, 0, QV_FONTENGINE_BITMAP, "pix.font"},
        {"pix", 6, 0, 0, nullptr},
        {"pix", 5, 4, 0, nullptr},
        {"topaz", 9, 0, 0, nullptr},
        {"topaz", 8, 4, 0, nullptr},
        {"Blank Face", 20, 0, 0, nullptr},
        {"Blank Face", 20, 4, 0, nullptr},
        {"Foo", 0, 0, 0, nullptr},
        {"Foo", -3, 4, 0, nullptr},
        {"Foo", 20, 2, 0, nullptr},
        {"No Such Face", 20, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        Opened opened = Open(c.name, c.size, c.engine);
        if (c.expectedEngine == 0) {
            EXPECT_EQ(opened.code, ERR_OPENFONT) << c.name << " " << c.size;
            EXPECT_EQ(opened.font, nullptr);
            const std::string text = "Cannot open font " + std::string(c.name) + " with size " +
                                     std::to_string(c.size) + "!";
            EXPECT_EQ(Runtime().error.text, text);
            continue;
        }
        ASSERT_EQ(opened.code, 0) << c.name;
        EXPECT_EQ(opened.font->engine, c.expectedEngine) << c.name;
        EXPECT_STREQ(opened.font->name, c.displayName) << c.name;
        EXPECT_EQ(opened.font->size, c.size) << c.name;
    }
}

TEST_F(FontLookupTest, TopazAtEightIsTheDefaultFont) {
    Opened opened = Open("TOPAZ", 8, 0);
    ASSERT_EQ(opened.code, 0);
    EXPECT_EQ(opened.font.get(), DefaultFont());
}

// The platform engine slants by itself; its bold is as thin as the built-in engine's, so it
// leaves bold to the one-pixel smear as the built-in engine does.
TEST_F(FontLookupTest, ThePlatformEngineDoesItalicItselfButNotBold) {
    Opened outline = Open("DejaVu Sans", 20, 0);
    Opened builtIn = Open("DejaVu Sans", 20, 4);
    ASSERT_EQ(outline.code, 0);
    ASSERT_EQ(builtIn.code, 0);
    EXPECT_EQ(FontStyleSupported(outline.font.get(), QV_FONTSTYLE_ITALIC), 1);
    for (uint32_t style : {QV_FONTSTYLE_BOLD, QV_FONTSTYLE_ITALIC})
        EXPECT_EQ(FontStyleSupported(builtIn.font.get(), style), 0);
    EXPECT_EQ(FontStyleSupported(outline.font.get(), QV_FONTSTYLE_BOLD), 0);
    EXPECT_EQ(FontStyleSupported(outline.font.get(), QV_FONTSTYLE_ANTIALIAS), 0);
    // Measured, kerned and resized by the TrueType code, without a glyph cache.
    const auto* record = static_cast<qvTrueTypeFont*>(outline.font->engineData);
    EXPECT_EQ(record->cacheEnabled, 0u);
    for (const char* text : {"Type AV", "To"}) {
        qvTextExtent a{}, b{};
        FontTextExtent(outline.font.get(), text, int32_t(std::strlen(text)), 16, 0, &a);
        FontTextExtent(builtIn.font.get(), text, int32_t(std::strlen(text)), 16, 0, &b);
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << text;
    }
    EXPECT_EQ(GetKerningPairByFont(outline.font.get(), "AV", 2, 0),
              GetKerningPairByFont(builtIn.font.get(), "AV", 2, 0));
    SetFontSize(outline.font.get(), 2.0, 2.0);
    EXPECT_EQ(outline.font->height, 40);
    qvTextExtent wide{};
    FontTextExtent(outline.font.get(), "m", 1, 16, 0, &wide);
    qvTextExtent narrow{};
    FontTextExtent(builtIn.font.get(), "m", 1, 16, 0, &narrow);
    EXPECT_GE(wide.width, 2 * narrow.width - 1);
}

// A container of linked fonts as the applet compiler writes them: each font behind its flags
// word (and, with extra data, their length and bytes).
class LinkedFonts : public FontLookupTest {
protected:
    LinkedFonts() { Runtime().linkOffset = 0; }

    // Appends a linked font; its virtual name.
    std::string Link(uint32_t flags, const Bytes& data, std::optional<Bytes> extra = {},
                     std::optional<size_t> cutTo = {}) {
        const size_t at = container_.size();
        Bytes chunk;
        for (int i = 3; i >= 0; --i) chunk.push_back(uint8_t(flags >> (8 * i)));
        if (extra) {
            for (int i = 3; i >= 0; --i) chunk.push_back(uint8_t(extra->size() >> (8 * i)));
            chunk.insert(chunk.end(), extra->begin(), extra->end());
        }
        chunk.insert(chunk.end(), data.begin(), data.end());
        container_.insert(container_.end(), chunk.begin(), chunk.end());
        container_.insert(container_.end(), 5, 0xEE);
        const size_t size = cutTo.value_or(chunk.size());
        return ":::chunk" + std::to_string(at) + ":" + std::to_string(size) + "*:font:Linked/" +
               ContainerPath();
    }
    // The contents file of pix at 5 pixels, its entry naming the size file in the container.
    Bytes PixContents() {
        const Bytes sizeFile = ReadBytes(FontFolder() + "/pix/5");
        const size_t sizeAt = container_.size();
        container_.insert(container_.end(), sizeFile.begin(), sizeFile.end());
        Bytes contents = {0x0F, 0x00, 0x00, 0x01};
        const std::string entry =
            ":::chunk" + std::to_string(sizeAt) + ":" + std::to_string(sizeFile.size()) + "*5/";
        contents.resize(4 + 260, 0);
        std::memcpy(contents.data() + 4, entry.data(), entry.size());
        contents[4 + 256 + 1] = 5;
        return contents;
    }
    std::string ContainerPath() const { return scratch_.path() + "/applet.qva"; }
    void Save() { WriteBytes(ContainerPath(), container_); }

    Bytes container_ = Bytes(64, 0xAA);
};

TEST_F(LinkedFonts, BitmapAndOutlineFontsOpenBehindTheirHeader) {
    const Bytes vera = ReadBytes(FontFolder() + "/truetype/vera/Vera.ttf");
    const std::string bitmap = Link(0, PixContents());
    const std::string outline = Link(2, vera);
    const std::string extra = Link(6, vera, Bytes(7, 0x42));
    const std::string tagged = Link(4, PixContents());  // bit 4 alone: still a bitmap font
    Save();
    struct Case {
        std::string name;
        int32_t size;
        int engine;
        int expectedEngine;  // 0: ERR_OPENFONT
    };
    const Case cases[] = {
        {bitmap, 5, 0, QV_FONTENGINE_BITMAP},     {bitmap, 5, 4, 0},
        {tagged, 5, 0, QV_FONTENGINE_BITMAP},     {outline, 18, 0, QV_FONTENGINE_PLATFORM},
        {outline, 18, 4, QV_FONTENGINE_TRUETYPE}, {extra, 18, 0, QV_FONTENGINE_PLATFORM},
        {extra, 18, 4, QV_FONTENGINE_TRUETYPE},
    };
    for (const Case& c : cases) {
        Opened opened = Open(c.name, c.size, c.engine, 1);
        if (c.expectedEngine == 0) {
            EXPECT_EQ(opened.code, ERR_OPENFONT) << c.name;
            continue;
        }
        ASSERT_EQ(opened.code, 0) << c.name << " engine " << c.engine;
        EXPECT_EQ(opened.font->engine, c.expectedEngine) << c.name;
        if (c.expectedEngine != QV_FONTENGINE_BITMAP) {
            EXPECT_STREQ(opened.font->name, "Bitstream Vera Sans");
        }
    }
}

TEST_F(LinkedFonts, HeadersThatDoNotFitTheirChunkAreReadErrors) {
    const Bytes vera = ReadBytes(FontFolder() + "/truetype/vera/Vera.ttf");
    const std::string cut = Link(2, vera, {}, 3);
    const std::string empty = Link(2, {}, {}, 0);
    const std::string longExtra = Link(6, Bytes(20, 1), Bytes(30, 2), 37);  // 38 header bytes
    const std::string beyond = ":::chunk99999999:100*:font:Far/" + ContainerPath();
    Save();
    for (const std::string& name : {cut, empty, longExtra, beyond}) {
        Opened opened = Open(name, 18, 0, 1);
        EXPECT_EQ(opened.code, ERR_READFILE) << name;
        EXPECT_EQ(Runtime().error.text, name);
    }
    // Without the linked flag the name is a file like any other: no header is read.
    Opened plain = Open(cut, 18, 4, 0);
    EXPECT_EQ(plain.code, ERR_OPENFONT);
}

}  // namespace
}  // namespace qv::testing
