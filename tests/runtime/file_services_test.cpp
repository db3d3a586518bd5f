#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include "runtime/files.h"
#include "tests/platform/file_test_support.h"
#include "tests/runtime/linked_applet.h"

namespace qv {
namespace {

using testing::Bytes;
using testing::ReadBytes;
using testing::ScratchDir;
using testing::ToBytes;

using File = FilePtr;

TEST(MakeChunkPath, FileAndMemoryForms) {
    EXPECT_EQ(MakeChunkPath("dir/sub/pic.png", 100, 4000, 20, "/data/app.qva"),
              ":::chunk120:4000*pic.png//data/app.qva");
    EXPECT_EQ(MakeChunkPath("pic.png", 0, 0, 0, "T:qv1-1"), ":::chunk0:0*pic.png/T:qv1-1");
    EXPECT_EQ(MakeChunkPath("vol:name.txt", -1, 12, 7, reinterpret_cast<const void*>(0xABCDEF0)),
              ":::chunkS7:12*name.txt/abcdef0");
}

class AppletFiles : public ::testing::Test {
protected:
    void SetUp() override {
        L_ = VmOpen();
        applet_.emplace(L_);
        Link("Data\\Levels\\One.DAT", 10, 4);
        Link("::font:Vera", 20, 5);
        Link("music.mod", 30, 6);
        Link("::font:Extra.ttf", 40, 7);
        Link("Extra.ttf", 50, 8);
    }
    void TearDown() override {
        applet_.reset();
        VmClose(L_);
    }
    void Link(const char* name, uint32_t offset, uint32_t size) {
        applet_->Link(name, "/apps/game.qva", offset, size);
    }
    qvVmState* L_;
    std::optional<testing::LinkedApplet> applet_;
};

TEST_F(AppletFiles, ResolvesLinkedNamesByTheLookupRules) {
    Runtime().linkOffset = 1000;
    // A font's virtual name is the file part of "::font:Vera": the text after the first ":".
    struct Case {
        const char* name;
        int font;
        std::string expected;  // "" : not linked
    } cases[] = {
        {"data/levels/one.dat", 0, ":::chunk1010:4*One.DAT//apps/game.qva"},
        {"DATA\\LEVELS\\ONE.DAT", 0, ":::chunk1010:4*One.DAT//apps/game.qva"},
        {"one.dat", 0, ""},
        {"Vera", 0, ""},  // plain lookups skip fonts
        {"::font:Vera", 0, ""},
        {"vera.font", 1, ":::chunk1020:5*:font:Vera//apps/game.qva"},
        {"VERA", 1, ":::chunk1020:5*:font:Vera//apps/game.qva"},
        {"music.mod", 1, ""},                                         // font lookups see only fonts
        {"extra.TTF", 1, ":::chunk1050:8*Extra.ttf//apps/game.qva"},  // looked up plainly
        {"Music.MOD", 0, ":::chunk1030:6*music.mod//apps/game.qva"},
    };
    for (const Case& c : cases) {
        int found = -1;
        std::string resolved = ResolveAppletFile(L_, c.name, c.font, &found);
        EXPECT_EQ(found, c.expected.empty() ? 0 : 1) << c.name;
        EXPECT_EQ(resolved, c.expected.empty() ? c.name : c.expected) << c.name;
    }
    ResetRuntimeState();
}

TEST_F(AppletFiles, StringArgumentIsReplacedByItsVirtualPath) {
    VmPushString(L_, "first");
    VmPushString(L_, "Music.mod");
    int found = 0;
    const char* name = GetStringArgResolved(L_, 2, 0, &found);
    EXPECT_EQ(found, 1);
    EXPECT_STREQ(name, ":::chunk30:6*music.mod//apps/game.qva");
    EXPECT_STREQ(VmToString(L_, 2), name);
    EXPECT_EQ(VmGetTop(L_), 2);
    EXPECT_STREQ(GetStringArgResolved(L_, 1, 0, &found), "first");
    EXPECT_EQ(found, 0);
}

TEST(FileHandleEx, VirtualFilesAnswerExamineAndNames) {
    qvFileHandle* handle = OpenFileEx(":::chunk100:4000*pic.png/data/app.qva", QV_LOCK_SHARED);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(handle->lock, nullptr);
    qvFileAttributes info;
    ASSERT_TRUE(ExamineEx(handle, &info));
    EXPECT_EQ(info.size, 4000);
    EXPECT_EQ(info.type, 15);
    EXPECT_STREQ(info.comment, "");
    // 16 August 1982: 1688 days after 1 January 1978.
    EXPECT_EQ(info.date.days, 1688);
    EXPECT_EQ(info.date.minutes, 0);
    EXPECT_EQ(info.date.ticks, 0);
    qvDirScan* scan = reinterpret_cast<qvDirScan*>(1);
    EXPECT_EQ(ExamineDirEx(handle, &scan), ERR_NOTADIR);
    EXPECT_EQ(scan, nullptr);
    EXPECT_STREQ(Runtime().error.text, ":::chunk100:4000*pic.png/data/app.qva");
    char cwd[kPathBufferSize], name[kPathBufferSize];
    ASSERT_TRUE(GetCurrentDirName(cwd, sizeof cwd));
    ASSERT_TRUE(NameFromFileEx(handle, name, sizeof name));
    EXPECT_EQ(std::string(name), std::string(cwd) + "/pic.png");
    EXPECT_FALSE(NameFromFileEx(handle, name, std::strlen(cwd) + 3));
    CloseFileEx(handle);

    handle = OpenFileEx(":::chunk1:2*/x", QV_LOCK_SHARED);
    ASSERT_TRUE(NameFromFileEx(handle, name, sizeof name));
    EXPECT_EQ(std::string(name), std::string(cwd) + "/unknown");
    CloseFileEx(handle);
    ResetRuntimeState();
}

TEST(FileHandleEx, RealFilesAreLockedExaminedAndScanned) {
    ScratchDir dir;
    dir.Write("a.bin", Bytes(10));
    EXPECT_EQ(OpenFileEx((dir / "missing").c_str(), QV_LOCK_SHARED), nullptr);
    qvFileHandle* handle = OpenFileEx(dir.path().c_str(), QV_LOCK_SHARED);
    ASSERT_NE(handle, nullptr);
    char name[kPathBufferSize];
    ASSERT_TRUE(NameFromFileEx(handle, name, sizeof name));
    EXPECT_EQ(std::string(name), dir.path());
    qvDirScan* scan;
    ASSERT_EQ(ExamineDirEx(handle, &scan), 0);
    qvFileAttributes info;
    ASSERT_TRUE(ExamineNextEx(handle, scan, &info));
    EXPECT_STREQ(info.name, "a.bin");
    EXPECT_EQ(info.size, 10);
    EXPECT_FALSE(ExamineNextEx(handle, scan, &info));
    FreeDirContext(scan);
    CloseFileEx(handle);
}

TEST(CopyFileEx, CopiesAndNamesTheFailingSide) {
    ScratchDir dir;
    Bytes data(40000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31);
    std::string source = dir.Write("src", data);
    EXPECT_EQ(CopyFileEx(source.c_str(), (dir / "dst").c_str()), 0);
    EXPECT_EQ(ReadBytes(dir / "dst"), data);
    struct Case {
        std::string from, to;
        int code;
        std::string argument;
    } cases[] = {
        {dir / "missing", dir / "dst", ERR_READFILE, dir / "missing"},
        {source, dir / "no/dir/dst", ERR_WRITEFILE, dir / "no/dir/dst"},
        {source, "/dev/full", ERR_WRITEFILE, "/dev/full"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CopyFileEx(c.from.c_str(), c.to.c_str()), c.code) << c.to;
        EXPECT_EQ(std::string(Runtime().error.text), c.argument);
    }
    {
        AllocationFault fault(1, false);
        EXPECT_EQ(CopyFileEx(source.c_str(), (dir / "dst").c_str()), ERR_MEM);
    }
    ResetRuntimeState();
}

TEST(AddPart, JoinsWithinTheBuffer) {
    struct Case {
        const char* path;
        const char* name;
        size_t size;
        const char* expected;
        int result;
    } cases[] = {
        {"", "x", 16, "x", 1},
        {"dh0:", "x", 16, "dh0:x", 1},
        {"dir", "x", 16, "dir/x", 1},
        {"dir/", "x", 16, "dir/x", 1},
        {"dir\\", "x", 16, "dir\\x", 1},
        {"dir", "xy", 7, "dir/xy", 1},  // exactly fits with its NUL
        {"dir", "xyz", 7, "dir", 0},    // one byte short: unchanged
        {"dir", "x", 4, "dir", 0},
    };
    for (const Case& c : cases) {
        char buffer[32];
        std::strcpy(buffer, c.path);
        EXPECT_EQ(AddPart(buffer, c.name, c.size), c.result) << c.path << "+" << c.name;
        EXPECT_STREQ(buffer, c.expected);
    }
}

TEST(ByteOrder, ReadersAndWriters) {
    File f(FileOpen(":::memory", QV_FILE_READWRITE));
    ASSERT_TRUE(WriteBE16(f.get(), 0xFFFE));
    ASSERT_TRUE(WriteLE16(f.get(), 0xFFFE));
    ASSERT_TRUE(WriteBE32(f.get(), 0x12345678));
    ASSERT_TRUE(WriteLE32(f.get(), 0x12345678));
    EXPECT_EQ(FileWriteString(f.get(), "ok"), 2);
    FileSeek(f.get(), 0, QV_SEEK_BEGINNING);
    EXPECT_EQ(ReadBE16(f.get()), -2);
    EXPECT_EQ(ReadLE16(f.get()), -2);
    EXPECT_EQ(ReadBE32(f.get()), 0x12345678u);
    EXPECT_EQ(ReadLE32(f.get()), 0x12345678u);
    uint32_t v = 0;
    FileSeek(f.get(), 0, QV_SEEK_BEGINNING);
    EXPECT_TRUE(ReadBEU16(f.get(), &v));
    EXPECT_EQ(v, 0xFFFEu);
    FileSeek(f.get(), -3, QV_SEEK_END);
    EXPECT_FALSE(ReadBE(f.get(), 4, &v));  // cut: the end is reported
    FileSeek(f.get(), -1, QV_SEEK_END);
    EXPECT_EQ(ReadBE32(f.get()), 0x6BFFFFFFu);  // 'k' and three missing bytes
    File readOnly(FileOpen(":::clipboard", QV_FILE_READ));
    EXPECT_FALSE(WriteBE32(readOnly.get(), 1));
}

TEST(BuiltInFonts, AreKnownByName) {
    for (const char* name : {":::default_sans", ":::default_serif", ":::default_mono",
                             ":::default_bitmap", ":::default_truetype"}) {
        EXPECT_TRUE(IsBuiltInFontName(name)) << name;
    }
    // The font commands take them in any case, so linking must not claim them either.
    EXPECT_TRUE(IsBuiltInFontName(":::DEFAULT_MONO"));
    EXPECT_TRUE(IsBuiltInFontName(":::default_Sans"));
    EXPECT_FALSE(IsBuiltInFontName("default_sans"));
    EXPECT_FALSE(IsBuiltInFontName(":::default_sans2"));
}

}  // namespace
}  // namespace qv
