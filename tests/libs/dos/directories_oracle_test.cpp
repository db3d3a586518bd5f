// Directory listings against find and sort, attributes against stat, date and getfattr, and
// attribute round trips.
#include <sys/stat.h>

#include <algorithm>

#include "runtime/errors.h"
#include "tests/libs/dos/dos_test_support.h"
#include "tests/runtime/linked_applet.h"

namespace qv::testing {
namespace {

class Directories : public DosLib {
protected:
    Directories() : tz_("TZ", "UTC") { tzset(); }
    ~Directories() override { tzset(); }

    // A directory with files and subdirectories whose names sort differently in byte order
    // and in letter order.
    std::string Populate() {
        std::string dir = scratch.MakeDir("tree");
        for (const char* name : {"b.txt", "B.txt", "a", "_x", "Z9", ".hidden", "\xE9t\xE9"}) {
            MakeFile(std::string("tree/") + name, name);
        }
        for (const char* name : {"sub", "Sub2", "a.dir"})
            scratch.MakeDir(std::string("tree/") + name);
        return dir;
    }
    std::vector<std::string> Find(const std::string& dir, char type) {
        return SplitLines(RunTool("find " + dir + " -mindepth 1 -maxdepth 1 -type " + type +
                                  " -printf '%f\\n' | LC_ALL=C sort")
                              .output);
    }
    ScopedEnv tz_;
};

TEST_F(Directories, ReadDirectoryAgreesWithFind) {
    QV_REQUIRE_TOOL("find");
    std::string dir = Populate();
    for (int sort : {1, 0}) {
        VmSetTop(L, 0);
        VmNewTable(L);
        VmNewTable(L);
        VmPushString(L, "readdirectory");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushString(L, dir.c_str());
        VmPushValue(L, 1);
        VmPushValue(L, 2);
        VmPushNumber(L, sort);
        ASSERT_EQ(VmPCall(L, 4, 2, 0), 0);
        EXPECT_EQ(VmToNumber(L, 3), 7);
        EXPECT_EQ(VmToNumber(L, 4), 3);
        // Entries from index 0 to the "" that ends them.
        auto read = [&](int table) {
            std::vector<std::string> out;
            for (int i = 0;; ++i) {
                VmRawGetI(L, table, i);
                std::string s(VmToString(L, -1), VmStrLen(L, -1));
                VmSetTop(L, -2);
                if (s.empty()) break;
                out.push_back(s);
            }
            return out;
        };
        std::vector<std::string> files = read(1), dirs = read(2);
        VmSetTop(L, 0);
        std::vector<std::string> expectedFiles = Find(dir, 'f'), expectedDirs = Find(dir, 'd');
        if (!sort) {
            std::sort(files.begin(), files.end());
            std::sort(dirs.begin(), dirs.end());
        }
        EXPECT_EQ(files, expectedFiles) << "sort " << sort;
        EXPECT_EQ(dirs, expectedDirs) << "sort " << sort;
    }
}

TEST_F(Directories, EmptyDirectoryAndErrors) {
    std::string empty = scratch.MakeDir("empty");
    CallResult r = Call("ReadDirectory", {Str(empty), Table({}), Table({})});
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.Number(0), 0);
    EXPECT_EQ(r.Number(1), 0);
    EXPECT_EQ(Call("ReadDirectory", {Str(empty), Num(1), Table({})}).code, ERR_TABEXPECTED);
    EXPECT_EQ(Call("ReadDirectory", {Str(scratch / "none"), Table({}), Table({})}).code, ERR_LOCK2);
    EXPECT_EQ(Call("ReadDirectory", {Str(MakeFile("f", "")), Table({}), Table({})}).code,
              ERR_NOTADIR);
}

// A file linked into the applet is found under its own name, and it is no directory.
TEST_F(Directories, LinkedFilesAreNoDirectories) {
    LinkedApplet applet(L);
    applet.Link("data/Notes.txt", MakeFile("container.bin", "0123456789").c_str(), 2, 5);
    EXPECT_EQ(Call("OpenDirectory", {Num(1), Str("data/notes.txt")}).code, ERR_NOTADIR);
    EXPECT_EQ(Call("ReadDirectory", {Str("data/notes.txt"), Table({}), Table({})}).code,
              ERR_NOTADIR);
}

TEST_F(Directories, DirectoryObjectsWalkToTheEndAndStayThere) {
    std::string dir = Populate();
    CallResult opened = Call("OpenDirectory", {Nil(), Str(dir)});
    ASSERT_EQ(opened.code, 0);
    Arg handle = LightUserdata(const_cast<void*>(opened.results[0].pointer));
    std::vector<std::string> files, dirs;
    for (int i = 0; i < 20; ++i) {
        CallResult entry = Call("NextDirectoryEntry", {handle});
        ASSERT_EQ(entry.code, 0);
        if (entry.results.empty()) break;
        const Value& t = entry.results[0];
        bool isDir = t.Field("type")->number == 1;
        (isDir ? dirs : files).push_back(t.Field("name")->text);
        EXPECT_EQ(t.Field("size") != nullptr, !isDir);
        ASSERT_NE(t.Field("time"), nullptr);
        EXPECT_EQ(t.Field("time")->text.size(), 20u);
    }
    EXPECT_EQ(files.size(), 7u);
    EXPECT_EQ(dirs.size(), 3u);
    EXPECT_TRUE(Call("NextDirectoryEntry", {handle}).results.empty());
    EXPECT_EQ(Call("CloseDirectory", {handle}).code, 0);
    EXPECT_EQ(Call("CloseDirectory", {handle}).code, ERR_FINDARRAY);
    EXPECT_EQ(Call("NextDirectoryEntry", {Num(4)}).code, ERR_FINDDIR);
    EXPECT_EQ(Call("OpenDirectory", {Num(4), Str(scratch / "none")}).code, ERR_LOCK2);
    EXPECT_EQ(Call("OpenDirectory", {Num(4), Str(":::chunk0:1*x/y")}).code, ERR_NOTADIR);
    const std::string plain = MakeFile("z_plain.txt", "x");  // listed after "tree"
    EXPECT_EQ(Call("OpenDirectory", {Num(4), Str(plain)}).code, ERR_NOTADIR);
    char text[1024];
    FormatErrorMessage(ERR_NOTADIR, text, sizeof text);
    EXPECT_EQ(text, plain + " is not a directory!");
    ASSERT_EQ(Call("OpenDirectory", {Num(4), Str(dir)}).code, 0);
    ASSERT_EQ(Call("OpenDirectory", {Num(4), Str(scratch.path())}).code, 0);  // replaces
    EXPECT_EQ(Call("NextDirectoryEntry", {Num(4)}).results[0].Field("name")->text, "tree");
}

TEST_F(Directories, GetFileAttributesAgreesWithStatDateAndGetfattr) {
    QV_REQUIRE_TOOL("stat");
    QV_REQUIRE_TOOL("getfattr");
    QV_REQUIRE_TOOL("setfattr");
    std::string file = MakeFile("attr.txt", "twelve bytes");
    chmod(file.c_str(), 0640);
    ASSERT_EQ(RunTool("setfattr -n user.xdg.comment -v 'a comment' " + file).status, 0);
    ASSERT_EQ(RunTool("touch -d '2021-03-04 05:06:07' " + file).status, 0);
    CallResult r = Call("GetFileAttributes", {Str(file)});
    ASSERT_EQ(r.code, 0);
    const Value& t = r.results[0];
    std::vector<std::string> st = SplitLines(RunTool("stat -c '%s\n%a\n%Y' " + file).output);
    ASSERT_EQ(st.size(), 3u);
    EXPECT_EQ(t.Field("size")->number, std::stod(st[0]));
    EXPECT_EQ(t.Field("path")->text, file);
    EXPECT_EQ(t.Field("type")->number, 0);
    int mode = std::stoi(st[1], nullptr, 8);
    static constexpr struct {
        int bit;
        uint32_t flags;
    } kMap[] = {{0400, 1},   {0200, 2 | 4}, {0100, 8},  {040, 512}, {020, 1024},
                {010, 2048}, {04, 4096},    {02, 8192}, {01, 16384}};
    uint32_t expected = 0;
    for (const auto& m : kMap) expected |= (mode & m.bit) ? m.flags : 0;
    EXPECT_EQ(t.Field("flags")->number, expected);
    std::string date =
        SplitLines(RunTool("TZ=UTC date -d @" + st[2] + " +'%d-%b-%Y %H:%M:%S'").output)[0];
    EXPECT_EQ(t.Field("time")->text, date);
    std::string comment = SplitLines(
        RunTool("getfattr --absolute-names --only-values -n user.xdg.comment " + file).output)[0];
    EXPECT_EQ(t.Field("comment")->text, comment);
    EXPECT_EQ(Call("GetFileAttributes", {Str(scratch / "none")}).code, ERR_LOCK2);
    CallResult dir = Call("GetFileAttributes", {Str(scratch.path())});
    EXPECT_EQ(dir.results[0].Field("type")->number, 1);
    EXPECT_EQ(dir.results[0].Field("size"), nullptr);
}

TEST_F(Directories, SetFileAttributesRoundTrips) {
    std::string file = MakeFile("rt.txt", "x");
    struct Case {
        double flags;
        const char* time;
        const char* comment;
    } cases[] = {
        {1 | 2 | 4 | 8 | 512 | 4096, "31-dec-2020 23:59:59", "first"},
        {1 | 16 | 32 | 64 | 128 | 256 | 32768, "01-Jan-1978 00:00:00", ""},
        {1 | 2 | 1024 | 8192 | 16384, "29-Feb-2024 12:00:01", "with: odd ; chars"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call("SetFileAttributes", {Str(file), Table({{Str("flags"), Num(c.flags)},
                                                               {Str("time"), Str(c.time)},
                                                               {Str("comment"), Str(c.comment)}})})
                      .code,
                  0)
            << c.time;
        CallResult read = Call("GetFileAttributes", {Str(file)});
        const Value& t = read.results[0];
        EXPECT_EQ(t.Field("flags")->number, c.flags) << c.time;
        std::string expected = c.time;
        expected[3] = static_cast<char>(std::toupper(expected[3]));
        EXPECT_EQ(t.Field("time")->text, expected);
        EXPECT_EQ(t.Field("comment")->text, c.comment);
    }
    // FILEATTR_NORMAL: owner read and write, no stored bits left.
    ASSERT_EQ(Call("SetFileAttributes", {Str(file), Table({{Str("flags"), Num(65536)}})}).code, 0);
    uint32_t flags = static_cast<uint32_t>(
        Call("GetFileAttributes", {Str(file)}).results[0].Field("flags")->number);
    EXPECT_EQ(flags & (1 | 2 | 4 | 16 | 32 | 64 | 128 | 256 | 32768), 1u | 2u | 4u);
}

TEST_F(Directories, SetFileAttributesRefusesBadDates) {
    std::string file = MakeFile("d.txt", "x");
    for (const char* bad : {"32-Dec-2020 10:00:00", "31-Feb-2021 10:00:00", "01-Foo-2020 10:00:00",
                            "01-Jan-2020 24:00:00", "01-Jan-2020 10:60:00", "01/Jan/2020 10:00:00",
                            "00-Jan-2020 10:00:00", "01-Jan-2020 10:00", "", "1-Jan-2020 10:00:00",
                            "31-Dec-1977 23:59:59", "31-dec-0124 10:59:59"}) {
        EXPECT_EQ(Call("SetFileAttributes", {Str(file), Table({{Str("time"), Str(bad)}})}).code,
                  ERR_INVALIDDATE)
            << bad;
    }
    EXPECT_EQ(Call("SetFileAttributes", {Str(file), Table({{Str("time"), Num(5)}})}).code,
              ERR_INVALIDDATE);
    EXPECT_EQ(Call("SetFileAttributes", {Str(":::chunk1:1*a/b"), Table({})}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SetFileAttributes", {Str(scratch / "none"), Table({})}).code, ERR_LOCK2);
}

// A FIFO takes no user attributes, like a file system without them: comments and stored
// bits fail, plain mode bits still work and the comment reads "".
TEST_F(Directories, ObjectsWithoutUserAttributes) {
    std::string fifo = scratch / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(Call("SetFileAttributes", {Str(fifo), Table({{Str("comment"), Str("c")}})}).code,
              ERR_SETFILECOMMENT);
    EXPECT_EQ(Call("SetFileAttributes", {Str(fifo), Table({{Str("flags"), Num(1 | 2 | 16)}})}).code,
              ERR_SETFILEATTR);
    EXPECT_EQ(Call("SetFileAttributes", {Str(fifo), Table({{Str("flags"), Num(1 | 2 | 4)}})}).code,
              0);
    CallResult read = Call("GetFileAttributes", {Str(fifo)});
    const Value& t = read.results[0];
    EXPECT_EQ(t.Field("comment")->text, "");
    EXPECT_EQ(t.Field("flags")->number, 1 | 2 | 4);
}

}  // namespace
}  // namespace qv::testing
