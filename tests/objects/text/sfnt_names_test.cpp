// The sfnt reader on faces built in memory: which name records it takes, where it stops, and
// that no offset, count or length of the file is used before it is checked; the style words;
// a collection member copied out as a font of its own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "objects/fonts/font_scan.h"
#include "objects/fonts/sfnt_names.h"
#include "platform/linux/byte_order.h"
#include "tests/platform/file_test_support.h"

namespace qv::testing {
namespace {

using fonts::ByteSink;
using fonts::CheckSfntFace;
using fonts::MemoryFontBytes;
using fonts::ReadSfntNames;
using fonts::SfntNames;

void Put(Bytes& out, uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) out.push_back(uint8_t(value >> (8 * i)));
}

void Set32(Bytes& out, size_t at, uint32_t value) {
    StoreBigEndian(value, out.data() + at, 4);
}

struct NameRecord {
    uint16_t platform, language, id;
    std::string text;
};

Bytes NameTable(const std::vector<NameRecord>& records) {
    Bytes out;
    Put(out, 0, 2);
    Put(out, records.size(), 2);
    Put(out, 6 + 12 * records.size(), 2);
    std::string strings;
    for (const NameRecord& r : records) {
        for (uint64_t v : {uint64_t(r.platform), uint64_t(1), uint64_t(r.language), uint64_t(r.id),
                           uint64_t(r.text.size()), uint64_t(strings.size())})
            Put(out, v, 2);
        strings += r.text;
    }
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

struct Table {
    std::string tag;
    Bytes data;
};

// A face: the header, the directory, then the tables in order, 4-byte aligned.
Bytes Face(const std::vector<Table>& tables, uint32_t version = 0x00010000) {
    Bytes out;
    Put(out, version, 4);
    Put(out, tables.size(), 2);
    Put(out, 0, 6);
    size_t offset = 12 + 16 * tables.size();
    for (const Table& t : tables) {
        out.insert(out.end(), t.tag.begin(), t.tag.end());
        Put(out, 0, 4);
        Put(out, offset, 4);
        Put(out, t.data.size(), 4);
        offset += (t.data.size() + 3) & ~size_t(3);
    }
    for (const Table& t : tables) {
        out.insert(out.end(), t.data.begin(), t.data.end());
        out.resize((out.size() + 3) & ~size_t(3));
    }
    return out;
}

std::string Utf16(const std::string& text) {
    std::string out;
    for (char c : text) out += std::string{'\0', c};
    return out;
}

// Family and style as read, or "refused".
std::string Names(Bytes face) {
    MemoryFontBytes bytes(face);
    const uint32_t tables = CheckSfntFace(bytes, 0);
    SfntNames names;
    if (tables == 0 || !ReadSfntNames(bytes, 0, tables, &names)) return "refused";
    return std::string(names.family) + "|" + names.style;
}

TEST(SfntNames, RecordsOfEnglishAndOfOtherPlatformsAreRead) {
    struct Case {
        const char* what;
        std::vector<NameRecord> records;
        const char* expected;
    };
    const Case cases[] = {
        {"Windows English, UTF-16",
         {{3, 0x409, 1, Utf16("Face")}, {3, 0x409, 2, Utf16("Bold")}},
         "Face|Bold"},
        {"each English Windows language",
         {{3, 0x4009, 1, Utf16("India")}, {3, 0x1C09, 2, Utf16("Cape")}},
         "India|Cape"},
        {"Windows German is skipped",
         {{3, 0x407, 1, Utf16("Schrift")}, {3, 0x407, 2, Utf16("Fett")}},
         "|"},
        {"Macintosh English only",
         {{1, 1, 1, "Police"}, {1, 0, 1, "Mac"}, {1, 0, 2, "Plain"}},
         "Mac|Plain"},
        {"any other platform", {{0, 5, 1, Utf16("Uni")}, {7, 99, 2, "Odd"}}, "Uni|Odd"},
        {"later records overwrite until both are known",
         {{3, 0x409, 1, Utf16("First")},
          {3, 0x409, 1, Utf16("Second")},
          {3, 0x409, 2, Utf16("Style")},
          {3, 0x409, 1, Utf16("Third")}},
         "Second|Style"},
        {"other name ids are ignored",
         {{3, 0x409, 4, Utf16("Full")}, {3, 0x409, 1, Utf16("Family")}},
         "Family|"},
        {"511 bytes are read", {{1, 0, 1, std::string(511, 'x')}}, nullptr},
        {"512 bytes refuse the face", {{1, 0, 1, std::string(512, 'x')}}, "refused"},
    };
    for (const Case& c : cases) {
        const std::string got = Names(Face({{"name", NameTable(c.records)}}));
        const std::string expected =
            c.expected != nullptr ? c.expected : std::string(511, 'x') + "|";
        EXPECT_EQ(got, expected) << c.what;
    }
}

TEST(SfntNames, TheNameTagMatchesInAnyCase) {
    const Bytes table = NameTable({{1, 0, 1, "Upper"}});
    EXPECT_EQ(Names(Face({{"glyf", Bytes(10, 1)}, {"NAME", table}})), "Upper|");
    EXPECT_EQ(Names(Face({{"glyf", Bytes(10, 1)}})), "refused");
}

TEST(SfntNames, OffsetsCountsAndLengthsAreCheckedAgainstTheFile) {
    const Bytes good = Face({{"name", NameTable({{1, 0, 1, "Fine"}})}});
    ASSERT_EQ(Names(good), "Fine|");
    constexpr size_t kTableRecord = 12, kNameTable = 28;
    struct Case {
        const char* what;
        size_t at;  // a 32-bit word of the face
        uint32_t value;
    };
    const Case cases[] = {
        {"a version of no sfnt", 0, 0x12345678},
        {"the table count past the end", 4, 0xFFFF0000},
        {"the table's offset past the end", kTableRecord + 8, 0x7FFFFFF0},
        {"the table's length past the end", kTableRecord + 12, 0x10000},
        {"the offset and length wrapping", kTableRecord + 8, 0xFFFFFFF0},
        {"the record count past the end", kNameTable, 0x0000FFFF},
        {"the string storage past the end", kNameTable + 2, 0x0001FFFF},
        {"the string past the end", kNameTable + 14, 0x0004FFFF},
    };
    for (const Case& c : cases) {
        Bytes face = good;
        Set32(face, c.at, c.value);
        EXPECT_EQ(Names(face), "refused") << c.what;
    }
    for (size_t cut = 0; cut < good.size(); ++cut) {
        const std::string got = Names(Bytes(good.begin(), good.begin() + cut));
        EXPECT_TRUE(got == "refused" || got == "Fine|") << "cut at " << cut;
    }
}

TEST(SfntNames, CollectionsAndResourceFilesAreBounded) {
    Bytes collection;
    collection.insert(collection.end(), {'t', 't', 'c', 'f'});
    Put(collection, 0x00010000, 4);
    Put(collection, 0x80000000, 4);
    Put(collection, 16, 4);
    MemoryFontBytes huge(collection);
    EXPECT_EQ(fonts::CollectionMemberCount(huge), 0u) << "2^31 members in 16 bytes";
    Set32(collection, 8, 1);
    MemoryFontBytes one(collection);
    EXPECT_EQ(fonts::CollectionMemberCount(one), 1u);

    Bytes resources(256, 0);
    Put(resources, 3, 4);
    Put(resources, 0xABCDEF, 3);
    Put(resources, 100, 4);  // runs past the end
    resources.resize(resources.size() + 10);
    MemoryFontBytes bytes(resources);
    uint64_t at = fonts::kFirstResource, base = 0, length = 0;
    ASSERT_TRUE(fonts::NextResourceFace(bytes, &at, &base, &length));
    EXPECT_EQ(base, 260u);
    EXPECT_EQ(length, 3u);
    EXPECT_FALSE(fonts::NextResourceFace(bytes, &at, &base, &length));
}

class MemorySink final : public ByteSink {
public:
    bool Write(const void* data, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        return true;
    }
    Bytes bytes;
};

// A collection of the faces, whose tables follow all the directories.
Bytes Collection(const std::vector<Bytes>& faces) {
    Bytes out;
    out.insert(out.end(), {'t', 't', 'c', 'f'});
    Put(out, 0x00010000, 4);
    Put(out, faces.size(), 4);
    size_t directories = 12 + 4 * faces.size(), at = directories;
    for (const Bytes& face : faces) {
        Put(out, at, 4);
        at += 12 + 16 * LoadBigEndian(face.data() + 4, 2);
    }
    size_t tables = at;
    for (const Bytes& face : faces) {
        Bytes directory(face.begin(), face.begin() + 12 + 16 * LoadBigEndian(face.data() + 4, 2));
        for (size_t r = 12; r < directory.size(); r += 16) {
            Set32(directory, r + 8, uint32_t(LoadBigEndian(directory.data() + r + 8, 4) + tables));
        }
        out.insert(out.end(), directory.begin(), directory.end());
        tables += face.size();
    }
    for (const Bytes& face : faces) out.insert(out.end(), face.begin(), face.end());
    return out;
}

TEST(SfntNames, AMemberIsCopiedWithItsTablesMoved) {
    const Bytes first = Face({{"glyf", Bytes(7, 0x11)}, {"name", NameTable({{1, 0, 1, "One"}})}});
    const Bytes second =
        Face({{"cmap", Bytes(5, 0x22)}, {"name", NameTable({{1, 0, 1, "Two"}, {1, 0, 2, "B"}})}});
    const Bytes collection = Collection({first, second});
    MemoryFontBytes bytes(collection);
    ASSERT_EQ(fonts::CollectionMemberCount(bytes), 2u);
    uint64_t directory = 0;
    ASSERT_TRUE(fonts::CollectionMember(bytes, 1, &directory));
    MemorySink sink;
    ASSERT_TRUE(fonts::ExtractSfntMember(bytes, directory, sink));
    EXPECT_EQ(sink.bytes, second) << "the face as it was before it joined the collection";
    EXPECT_EQ(Names(sink.bytes), "Two|B");
}

TEST(SfntNames, AMemberWhoseTablesOutgrowTheFileIsRefused) {
    // Forty records that all name the same large table: copied, they would be forty times
    // the file.
    std::vector<Table> tables(40, {"glyf", Bytes(4000, 0x33)});
    Bytes face = Face({{"glyf", Bytes(4000, 0x33)}});
    Bytes hostile;
    Put(hostile, 0x00010000, 4);
    Put(hostile, tables.size(), 2);
    Put(hostile, 0, 6);
    for (size_t i = 0; i < tables.size(); ++i) {
        hostile.insert(hostile.end(), {'g', 'l', 'y', 'f'});
        Put(hostile, 0, 4);
        Put(hostile, 12 + 16 * tables.size(), 4);
        Put(hostile, 4000, 4);
    }
    hostile.insert(hostile.end(), face.end() - 4000, face.end());
    MemoryFontBytes bytes(hostile);
    ASSERT_EQ(CheckSfntFace(bytes, 0), 40u);
    MemorySink sink;
    EXPECT_FALSE(fonts::ExtractSfntMember(bytes, 0, sink));
    EXPECT_LT(sink.bytes.size(), hostile.size());
}

TEST(StyleWords, WeightAndSlantComeFromTheWords) {
    struct Case {
        const char* style;
        int32_t weight, slant;
    };
    const Case cases[] = {
        {"", 80, 0},
        {"Wibble", 80, 0},
        {"Bold Italic", 200, 100},
        {"bold  ITALIC", 200, 100},
        {"Extra-Light Oblique", 40, 110},
        {"SemiBold", 180, 0},
        {"Demi", 180, 0},
        {"Ultra-black Roman", 215, 0},
        {"Book", 75, 0},
        {"Thin", 0, 0},
        {"Condensed Heavy", 210, 0},
        {"Bold Regular", 80, 0},
        {"Boldface", 80, 0},
    };
    for (const Case& c : cases) {
        int32_t weight = -1, slant = -1;
        fonts::StyleWeightSlant(c.style, &weight, &slant);
        EXPECT_EQ(weight, c.weight) << c.style;
        EXPECT_EQ(slant, c.slant) << c.style;
    }
    for (const char* style : {"Regular", "plain", "NORMAL", "Book", "roman"})
        EXPECT_TRUE(fonts::IsRegularLikeStyle(style)) << style;
    for (const char* style : {"", "Bold", "Regular Italic"})
        EXPECT_FALSE(fonts::IsRegularLikeStyle(style)) << style;
}

}  // namespace
}  // namespace qv::testing
