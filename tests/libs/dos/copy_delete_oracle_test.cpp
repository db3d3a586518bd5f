// CopyFile and DeleteFile on real trees, checked with diff -r, stat, getfattr, find and
// md5sum: patterns, callbacks, stops, and the cases that would destroy data (copying onto
// itself or into itself, links out of the tree, link loops).
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/paths.h"
#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

class CopyDelete : public DosLib {
protected:
    // src/{a.txt, b.dat, sub/{c.txt, deep/d.txt}, other/e.dat}
    std::string Tree() {
        std::string src = scratch.MakeDir("src");
        scratch.MakeDir("src/sub");
        scratch.MakeDir("src/sub/deep");
        scratch.MakeDir("src/other");
        MakeFile("src/a.txt", "alpha");
        MakeFile("src/b.dat", std::string(40000, 'b'));
        MakeFile("src/sub/c.txt", "gamma");
        MakeFile("src/sub/deep/d.txt", "delta");
        MakeFile("src/other/e.dat", "epsilon");
        return src;
    }
    std::vector<std::string> Find(const std::string& dir) {
        return SplitLines(RunTool("cd " + dir + " && find . -mindepth 1 | LC_ALL=C sort").output);
    }
    std::string Md5(const std::string& path) { return RunTool("md5sum < " + path).output; }
};

TEST_F(CopyDelete, CopiesFilesAndTreesWithTheirAttributes) {
    QV_REQUIRE_TOOL("diff");
    QV_REQUIRE_TOOL("getfattr");
    std::string src = Tree(), dst = scratch / "dst";
    chmod((src + "/a.txt").c_str(), 0640);
    ASSERT_EQ(RunTool("touch -d '2020-01-02 03:04:05' " + src + "/a.txt " + src + "/sub").status,
              0);
    ASSERT_EQ(
        Call("SetFileAttributes", {Str(src + "/sub/c.txt"), Table({{Str("comment"), Str("kept")}})})
            .code,
        0);
    ASSERT_EQ(Call("CopyFile", {Str(src + "/a.txt"), Str(dst)}).code, 0);  // dst is made
    ASSERT_EQ(Call("CopyFile", {Str(src + "/a.txt"), Str(dst), Str("x")}).code, 0);
    EXPECT_EQ(FileText(dst + "/a.txt"), "alpha");
    EXPECT_EQ(FileText(dst + "/x"), "alpha");
    std::string stamp = "stat -c '%a %Y' ";
    EXPECT_EQ(RunTool(stamp + dst + "/a.txt").output, RunTool(stamp + src + "/a.txt").output);
    std::string tree = scratch / "tree";
    ASSERT_EQ(Call("CopyFile", {Str(src), Str(tree)}).code, 0);  // contents land in tree
    EXPECT_EQ(RunTool("diff -r " + src + " " + tree).status, 0);
    EXPECT_EQ(RunTool(stamp + tree + "/sub").output, RunTool(stamp + src + "/sub").output);
    EXPECT_EQ(RunTool("getfattr --absolute-names --only-values -n user.xdg.comment " + tree +
                      "/sub/c.txt")
                  .output,
              "kept");
    EXPECT_EQ(Call("CopyFile", {Str(src), Str(tree), Str("name")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(
        Call("CopyFile", {Str(src + "/a.txt"), Str(tree), Nil(), Nil(), Nil(), Str("*.txt")}).code,
        ERR_NODIRPATTERN);
    EXPECT_EQ(Call("CopyFile", {Str(scratch / "none"), Str(tree)}).code, ERR_LOCK2);
    EXPECT_EQ(Call("CopyFile", {Str(""), Str("")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CopyFile", {Str(src), Str(tree), Nil(), Num(3)}).code, ERR_FUNCEXPECTED);
}

TEST_F(CopyDelete, PatternListsWithAndWithoutDirectoryFiltering) {
    QV_REQUIRE_TOOL("find");
    std::string src = Tree();
    for (int filtered : {1, 0}) {
        std::string dst = scratch / ("p" + std::to_string(filtered));
        ASSERT_EQ(Call("CopyFile", {Str(src + "/"), Str(dst), Nil(), Nil(), Nil(), Str("*.txt;sub"),
                                    Num(filtered)})
                      .code,
                  0);
        std::vector<std::string> expected =
            filtered ? std::vector<std::string>{"./a.txt", "./sub", "./sub/c.txt"}
                     : std::vector<std::string>{"./a.txt",     "./other",    "./sub",
                                                "./sub/c.txt", "./sub/deep", "./sub/deep/d.txt"};
        EXPECT_EQ(Find(dst), expected) << filtered;
    }
}

TEST_F(CopyDelete, CallbacksWatchSkipUnprotectAndStop) {
    std::string src = Tree(), dst = scratch / "dst";
    struct Seen {
        int action;
        double copied, filesize;
    };
    std::vector<Seen> seen;
    int answer = 2;
    Arg callback = Native([&](qvVmState* S) {
        auto number = [&](const char* key) {
            VmPushString(S, key);
            VmGetTable(S, 1);
            double v = VmToNumber(S, -1);
            VmSetTop(S, 1);
            return v;
        };
        seen.push_back({static_cast<int>(number("action")), number("copied"), number("filesize")});
        VmPushNumber(S, answer);
        return 1;
    });
    ASSERT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst), Nil(), callback}).code, 0);
    std::vector<double> steps;
    for (const Seen& s : seen) {
        EXPECT_EQ(s.action, 0);
        EXPECT_EQ(s.filesize, 40000);
        steps.push_back(s.copied);
    }
    EXPECT_EQ(steps, (std::vector<double>{16384, 32768, 40000}));
    // Overwrite: asked; 0 skips, so the file keeps its content.
    MakeFile("dst/b.dat", "old");
    seen.clear();
    answer = 0;
    ASSERT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst), Nil(), callback}).code, 0);
    EXPECT_EQ(FileText(dst + "/b.dat"), "old");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].action, 1);
    // A protected destination: without a callback it is skipped, with one unprotected.
    chmod((dst + "/b.dat").c_str(), 0444);
    ASSERT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst)}).code, 0);
    EXPECT_EQ(FileText(dst + "/b.dat"), "old");
    seen.clear();
    answer = 2;
    ASSERT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst), Nil(), callback}).code, 0);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[0].action, 1);
    EXPECT_EQ(seen[1].action, 2);
    EXPECT_EQ(FileText(dst + "/b.dat").size(), 40000u);
    // Stops: -1 to the overwrite question, 1 to a status, the abort flag; no partial file.
    for (int stop : {1, -1}) {
        DeleteFilePath((dst + "/b.dat").c_str());
        answer = stop;
        if (stop == -1) MakeFile("dst/b.dat", "old");
        ASSERT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst), Nil(), callback}).code, 0);
        EXPECT_EQ(PathExists(dst + "/b.dat"), stop == -1) << stop;
    }
    DeleteFilePath((dst + "/b.dat").c_str());
    Arg aborting = Native([&](qvVmState* S) {
        Abort();
        VmPushNumber(S, 0);
        return 1;
    });
    ASSERT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst), Nil(), aborting}).code, 0);
    EXPECT_FALSE(PathExists(dst + "/b.dat"));
    Arg notANumber = Native([](qvVmState* S) {
        VmPushString(S, "go");
        return 1;
    });
    EXPECT_EQ(Call("CopyFile", {Str(src + "/b.dat"), Str(dst), Nil(), notANumber}).code,
              ERR_NUMCALLBACK);
    EXPECT_FALSE(PathExists(dst + "/b.dat"));
}

// The cases that would lose data; every file inside and outside keeps its checksum.
TEST_F(CopyDelete, NothingIsDestroyedByItsOwnCopy) {
    QV_REQUIRE_TOOL("md5sum");
    std::string src = Tree();
    std::string outside = MakeFile("outside.txt", "outside data");
    std::string sums = Md5(src + "/a.txt") + Md5(outside);
    CallResult self = Call("CopyFile", {Str(src + "/a.txt"), Str(src)});
    EXPECT_EQ(self.code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CopyFile", {Str(src + "/a.txt"), Str(scratch / "SRC")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("CopyFile", {Str(src), Str(src + "/sub/inner")}).code, ERR_WRONGUSAGE);
    EXPECT_FALSE(PathExists(src + "/sub/inner"));
    EXPECT_EQ(Call("CopyFile", {Str(src), Str(src)}).code, ERR_WRONGUSAGE);
    // A loop and a link out of the tree: copied as links, never followed.
    ASSERT_EQ(symlink("..", (src + "/sub/loop").c_str()), 0);
    ASSERT_EQ(symlink(scratch.path().c_str(), (src + "/out").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (src + "/filelink").c_str()), 0);
    std::string copy = scratch / "copy";
    ASSERT_EQ(Call("CopyFile", {Str(src), Str(copy)}).code, 0);
    struct stat st;
    ASSERT_EQ(lstat((copy + "/sub/loop").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat((copy + "/filelink").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));  // a link to a file is copied as the file
    EXPECT_EQ(FileText(copy + "/filelink"), "outside data");
    // Deleting the copy removes the links as links: what they point at stays.
    ASSERT_EQ(Call("DeleteFile", {Str(copy)}).code, 0);
    EXPECT_FALSE(PathExists(copy));
    ASSERT_EQ(Call("DeleteFile", {Str(src + "/out")}).code, 0);
    EXPECT_FALSE(PathExists(src + "/out"));
    EXPECT_EQ(Md5(src + "/a.txt") + Md5(outside), sums);
    EXPECT_TRUE(PathExists(scratch / "src/sub/deep/d.txt"));
}

// Paths beyond the design's 1024-byte buffers work; beyond the system's limit they are 1373.
TEST_F(CopyDelete, LongPaths) {
    std::string deep = "long";
    for (int i = 0; i < 5; ++i) deep += "/" + std::string(250, static_cast<char>('a' + i));
    ASSERT_EQ(Call("MakeDirectory", {Str(scratch / deep)}).code, 0);
    MakeFile(deep + "/file.txt", "far down");
    ASSERT_EQ(Call("CopyFile", {Str(scratch / "long"), Str(scratch / "copy")}).code, 0);
    std::string copied = scratch / "copy" + deep.substr(4) + "/file.txt";
    ASSERT_GT(copied.size(), 1024u);
    EXPECT_EQ(FileText(copied), "far down");
    ASSERT_EQ(Call("DeleteFile", {Str(scratch / "copy")}).code, 0);
    EXPECT_FALSE(PathExists(scratch / "copy"));
    std::string tooLong(5000, 'n');
    EXPECT_EQ(
        Call("CopyFile", {Str(scratch / deep + "/file.txt"), Str(scratch / "x"), Str(tooLong)})
            .code,
        ERR_NAMETOOLONG);
}

TEST_F(CopyDelete, DeleteFileKeepsOrRemovesTheDirectory) {
    QV_REQUIRE_TOOL("find");
    std::string src = Tree();
    ASSERT_EQ(Call("DeleteFile", {Str(src + "/sub/")}).code, 0);
    EXPECT_TRUE(PathExists(src + "/sub"));
    EXPECT_TRUE(Find(src + "/sub").empty());
    ASSERT_EQ(Call("DeleteFile", {Str(src + "/sub")}).code, 0);
    EXPECT_FALSE(PathExists(src + "/sub"));
    EXPECT_EQ(Call("DeleteFile", {Str(scratch / "missing")}).code, 0);
    EXPECT_EQ(Call("DeleteFile", {Str(src + "/a.txt"), Nil(), Nil(), Str("*.txt")}).code,
              ERR_NODIRPATTERN);
    EXPECT_EQ(Call("DeleteFile", {Str("")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DeleteFile", {Str(":::chunk1:1*a/b")}).code, ERR_WRONGUSAGE);
    ASSERT_EQ(Call("DeleteFile", {Str(src), Nil(), Nil(), Str("*.dat")}).code, 0);
    // "other" matches no pattern, so its contents are not even looked at.
    EXPECT_EQ(Find(src), (std::vector<std::string>{"./a.txt", "./other", "./other/e.dat"}));
}

// A link to a directory named with a trailing "/" or given a pattern list stands for the
// directory: its contents are deleted and the link stays. Without either the link goes as a
// link.
TEST_F(CopyDelete, DeleteFileThroughALinkToADirectory) {
    QV_REQUIRE_TOOL("find");
    std::string src = Tree(), link = scratch / "link";
    ASSERT_EQ(symlink(src.c_str(), link.c_str()), 0);
    auto isLink = [&] {
        struct stat st;
        return lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    };
    ASSERT_EQ(Call("DeleteFile", {Str(link), Nil(), Nil(), Str("*.dat")}).code, 0);
    EXPECT_EQ(Find(src),
              (std::vector<std::string>{"./a.txt", "./other", "./other/e.dat", "./sub",
                                        "./sub/c.txt", "./sub/deep", "./sub/deep/d.txt"}));
    EXPECT_TRUE(isLink());
    ASSERT_EQ(Call("DeleteFile", {Str(link + "/")}).code, 0);
    EXPECT_TRUE(Find(src).empty());
    EXPECT_TRUE(isLink());
    ASSERT_EQ(Call("DeleteFile", {Str(link)}).code, 0);
    EXPECT_FALSE(isLink());
    EXPECT_TRUE(PathExists(src));
}

TEST_F(CopyDelete, DeleteCallbacks) {
    std::string src = Tree();
    chmod((src + "/a.txt").c_str(), 0444);
    std::vector<std::string> files;
    int answer = 0;
    Arg callback = Native([&](qvVmState* S) {
        VmPushString(S, "file");
        VmGetTable(S, 1);
        VmPushString(S, "action");
        VmGetTable(S, 1);
        files.push_back(std::to_string(static_cast<int>(VmToNumber(S, -1))) + " " +
                        VmToString(S, -2));
        VmPushNumber(S, answer);
        return 1;
    });
    // Without a callback a protected file stays; 0 to the unprotect question keeps it too.
    ASSERT_EQ(Call("DeleteFile", {Str(src + "/a.txt")}).code, 0);
    EXPECT_TRUE(PathExists(src + "/a.txt"));
    ASSERT_EQ(Call("DeleteFile", {Str(src + "/a.txt"), callback}).code, 0);
    EXPECT_TRUE(PathExists(src + "/a.txt"));
    EXPECT_EQ(files, (std::vector<std::string>{"1 " + src + "/a.txt"}));
    answer = 2;
    files.clear();
    ASSERT_EQ(Call("DeleteFile", {Str(src + "/a.txt"), callback}).code, 0);
    EXPECT_FALSE(PathExists(src + "/a.txt"));
    EXPECT_EQ(files, (std::vector<std::string>{"1 " + src + "/a.txt", "0 " + src + "/a.txt"}));
    // A status answer of 1 stops the walk, without an error; the directory itself is still
    // offered (and kept, since the answer stays 1).
    answer = 1;
    files.clear();
    ASSERT_EQ(Call("DeleteFile", {Str(src), callback}).code, 0);
    EXPECT_EQ(files, (std::vector<std::string>{"0 " + src + "/b.dat", "0 " + src}));
    EXPECT_TRUE(PathExists(src + "/b.dat"));
}

}  // namespace
}  // namespace qv::testing
