#include "platform/linux/paths.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <set>

#include "engine/error_codes.h"
#include "platform/linux/memory.h"
#include "platform/linux/program.h"
#include "tests/platform/file_test_support.h"

namespace qv {
namespace {

using testing::PathExists;
using testing::ScopedAssigns;
using testing::ScopedEnv;
using testing::ScratchDir;

std::string Resolve(const std::string& name, LeafLookup leaf = LeafLookup::kFold) {
    std::string out;
    return ResolvePath(name, leaf, &out) ? out : "<fail>";
}

std::string ProgramDir() {
    char path[kPathBufferSize];
    EXPECT_TRUE(GetProgramPath(path, sizeof path));
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

TEST(Assigns, OverridesAdditionsAndDefaults) {
    ScratchDir dir;
    ScopedAssigns assigns("T:=" + dir.path() + ";Data:=" + dir.path() + "/d;libs:=/opt/l;bad;=x");
    struct Case {
        const char* name;
        std::string expected;
    } cases[] = {
        {"data:x/y", dir.path() + "/d/x/y"},  // added, any letter case
        {"DATA:", dir.path() + "/d"},
        {"LIBS:a.qvp", "/opt/l/a.qvp"},  // overridden
        {"T:file", dir.path() + "/file"},
        {"progdir:x", ProgramDir() + "/x"},
        {"LOCALE:c", ProgramDir() + "/locale/c"},  // an assign naming another assign
        {"FONTS:a.ttf", "/usr/share/fonts/a.ttf"},
        {"NIL:", "/dev/null"},
        {"SYS:etc", "/etc"},
        {"/abs/name", "/abs/name"},
        {"rel/name", "rel/name"},
        {"dir/with:colon", "dir/with:colon"},
        {"Unknown:x", "<fail>"},
        {"BAD:x", "<fail>"},
        {":x", "<fail>"},
        {"", "<fail>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Resolve(c.name), c.expected) << c.name;
}

TEST(Assigns, PrivateTempDirIsMadeOnFirstUseAndRemovedAtShutdown) {
    ScratchDir tmp;
    ScopedEnv tmpdir("TMPDIR", tmp.path());
    ScopedAssigns assigns(std::nullopt);
    std::string t = AssignTarget("T:");
    ASSERT_EQ(t.rfind(tmp.path() + "/qv-", 0), 0u) << t;
    struct stat st;
    ASSERT_EQ(stat(t.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(AssignTarget("t"), t);  // one per run

    std::set<std::string> names;
    for (int i = 0; i < 3; ++i) {
        char name[kPathBufferSize];
        ASSERT_EQ(MakeTempPath(name), 0);
        EXPECT_EQ(std::string(name).rfind("T:", 0), 0u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 3u);
    testing::WriteBytes(Resolve(*names.begin()), {1, 2});
    PlatformShutdown();
    EXPECT_FALSE(PathExists(t));
}

TEST(Assigns, OverriddenTempDirKeepsEverythingButTheRunsFiles) {
    ScratchDir dir;
    testing::WriteBytes(dir / "foreign", {1});
    ScopedAssigns assigns("T:=" + dir.path());
    char name[kPathBufferSize];
    ASSERT_EQ(MakeTempPath(name), 0);
    std::string host = Resolve(name);
    testing::WriteBytes(host, {1});
    PlatformShutdown();
    EXPECT_FALSE(PathExists(host));
    EXPECT_TRUE(PathExists(dir / "foreign"));
    EXPECT_TRUE(PathExists(dir.path()));
}

TEST(Assigns, RuntimeDirectoriesArePrivate) {
    ScratchDir dir;
    ScopedEnv xdg("XDG_RUNTIME_DIR", dir.path());
    ScopedEnv home("HOME", dir.path());
    ScopedAssigns assigns(std::nullopt);
    struct Case {
        const char* assign;
        std::string expected;
    } cases[] = {
        {"RAM:", dir / "quorvella/ram"},
        {"ENV:", dir / "quorvella/env"},
        {"ENVARC:", dir / ".config/quorvella/envarc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AssignTarget(c.assign), c.expected);
        struct stat st;
        ASSERT_EQ(stat(c.expected.c_str(), &st), 0) << c.assign;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.assign;
    }
}

TEST(Assigns, RuntimeBaseOfSomeoneElseIsRefused) {
    ScratchDir dir;
    symlink("/", (dir / "quorvella").c_str());  // a planted link must not be followed
    ScopedEnv xdg("XDG_RUNTIME_DIR", dir.path());
    ScopedAssigns assigns(std::nullopt);
    EXPECT_EQ(AssignTarget("RAM:"), "");
    EXPECT_EQ(Resolve("RAM:x"), "<fail>");
}

class CaseFolding : public ::testing::Test {
protected:
    void SetUp() override {
        dir_.MakeDir("Dir");
        dir_.Write("Dir/File.TXT", {1});
        dir_.Write("Dir/exact.txt", {2});
        dir_.Write("Dir/EXACT.txt", {3});
        dir_.Write("Dir/b.TXT", {4});
        dir_.Write("Dir/B.txt", {5});
    }
    ScratchDir dir_;
};

TEST_F(CaseFolding, LooksUpEveryComponentWithoutRegardToCase) {
    struct Case {
        std::string name;
        LeafLookup leaf;
        std::string expected;
    } cases[] = {
        {"dir/file.txt", LeafLookup::kFold, "Dir/File.TXT"},
        {"DIR/FILE.txt", LeafLookup::kFold, "Dir/File.TXT"},
        {"dir/exact.txt", LeafLookup::kFold, "Dir/exact.txt"},  // an exact match wins
        {"dir/EXACT.txt", LeafLookup::kFold, "Dir/EXACT.txt"},
        {"dir/Exact.TXT", LeafLookup::kFold, "Dir/EXACT.txt"},  // first in byte order
        {"dir/b.txt", LeafLookup::kFold, "Dir/B.txt"},
        {"dir/new.txt", LeafLookup::kFold, "Dir/new.txt"},  // missing: as written
        {"dir/file.txt", LeafLookup::kAsWritten, "Dir/file.txt"},
        {"nodir/file.txt", LeafLookup::kFold, "nodir/file.txt"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Resolve(dir_ / c.name, c.leaf), dir_ / c.expected) << c.name;
    }
}

TEST_F(CaseFolding, WorksThroughAssignsAndRelativeNames) {
    ScopedAssigns assigns("WORK:=" + dir_.path());
    EXPECT_EQ(Resolve("work:dir/file.txt"), dir_ / "Dir/File.TXT");
    char old[kPathBufferSize];
    ASSERT_TRUE(GetCurrentDirName(old, sizeof old));
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    EXPECT_EQ(Resolve("dir/file.txt"), "Dir/File.TXT");
    ASSERT_EQ(chdir(old), 0);
}

TEST(Paths, AbsoluteNames) {
    ScratchDir dir;
    dir.Write("Name", {});
    char out[kPathBufferSize];
    char cwd[kPathBufferSize];
    ASSERT_TRUE(GetCurrentDirName(cwd, sizeof cwd));
    ASSERT_EQ(MakeAbsolutePath("./x/./y", out), 0);
    EXPECT_EQ(std::string(out), std::string(cwd) + "/x/y");
    ASSERT_EQ(MakeAbsolutePath((dir / "NAME").c_str(), out), 0);
    EXPECT_EQ(std::string(out), dir / "Name");
    ASSERT_EQ(MakeAbsolutePath("Nowhere:x", out), 0);
    EXPECT_STREQ(out, "Nowhere:x");
    std::string longName(kPathBufferSize, 'a');
    EXPECT_EQ(MakeAbsolutePath(longName.c_str(), out), ERR_NAMETOOLONG);
}

TEST(Paths, ChangeDirReturnsThePreviousDirectory) {
    ScratchDir dir;
    char before[kPathBufferSize];
    ASSERT_TRUE(GetCurrentDirName(before, sizeof before));
    EXPECT_EQ(ChangeDirPath((dir / "missing").c_str()), nullptr);
    char* previous = ChangeDirPath(dir.path().c_str());
    ASSERT_NE(previous, nullptr);
    EXPECT_STREQ(previous, before);
    char now[kPathBufferSize];
    ASSERT_TRUE(GetCurrentDirName(now, sizeof now));
    EXPECT_EQ(std::string(now), dir.path());
    char* back = ChangeDirPath(previous);
    ASSERT_NE(back, nullptr);
    FreeMemBlock(back);
    FreeMemBlock(previous);
}

TEST(Paths, CreateDeleteAndRename) {
    ScratchDir dir;
    EXPECT_EQ(MakeDirPath((dir / "sub").c_str(), nullptr), 0);
    EXPECT_EQ(MakeDirPath((dir / "SUB").c_str(), nullptr), ERR_CREATEDIR);  // exists, folded
    EXPECT_EQ(MakeDirPath((dir / "a/b").c_str(), nullptr), ERR_CREATEDIR);  // one level only
    dir.Write("sub/f", {1});
    EXPECT_FALSE(DeleteFilePath((dir / "sub").c_str()));  // not empty
    dir.Write("other", {2});
    EXPECT_FALSE(RenamePath((dir / "sub/f").c_str(), (dir / "other").c_str()));
    EXPECT_TRUE(RenamePath((dir / "sub/f").c_str(), (dir / "sub/g").c_str()));
    EXPECT_TRUE(RenamePath((dir / "sub/g").c_str(), (dir / "sub/G").c_str()));  // case only
    EXPECT_TRUE(PathExists(dir / "sub/G"));
    EXPECT_FALSE(PathExists(dir / "sub/g"));
    EXPECT_TRUE(DeleteFilePath((dir / "sub/g").c_str()));
    EXPECT_TRUE(DeleteFilePath((dir / "Sub").c_str()));
    EXPECT_FALSE(PathExists(dir / "sub"));
    EXPECT_FALSE(DeleteFilePath((dir / "sub").c_str()));
}

TEST(Paths, ExamineReportsTypeSizeAndDate) {
    ScopedEnv tz("TZ", "UTC");
    tzset();
    ScratchDir dir;
    std::string file = dir.Write("data.bin", std::vector<uint8_t>(1234, 7));
    struct Case {
        time_t seconds;
        long nanoseconds;
        qvDateStamp expected;
    } cases[] = {
        {252460800, 0, {0, 0, 0}},                     // 1978-01-01 00:00:00
        {252547261, 500000000, {1, 1, 75}},            // 1978-01-02 00:01:01.5
        {1582979696, 0, {15399, 12 * 60 + 34, 2800}},  // 2020-02-29 12:34:56
    };
    for (const Case& c : cases) {
        struct timespec times[2] = {{c.seconds, c.nanoseconds}, {c.seconds, c.nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
        qvLock* lock = LockPath(file.c_str(), QV_LOCK_SHARED);
        ASSERT_NE(lock, nullptr);
        qvFileAttributes info;
        ASSERT_TRUE(ExamineObjectInfo(lock, &info));
        EXPECT_EQ(info.type, QV_DOSTYPE_FILE);
        EXPECT_EQ(info.size, 1234);
        EXPECT_STREQ(info.name, "data.bin");
        EXPECT_EQ(info.date.days, c.expected.days) << c.seconds;
        EXPECT_EQ(info.date.minutes, c.expected.minutes) << c.seconds;
        EXPECT_EQ(info.date.ticks, c.expected.ticks) << c.seconds;
        char full[kPathBufferSize];
        ASSERT_TRUE(LockToPath(lock, full, sizeof full));
        EXPECT_EQ(std::string(full), file);
        EXPECT_FALSE(LockToPath(lock, full, 4));
        ReleaseLock(lock);
    }
    EXPECT_EQ(LockPath((dir / "missing").c_str(), QV_LOCK_SHARED), nullptr);
}

TEST(Paths, DirectoryScanListsEntriesInByteOrder) {
    ScratchDir dir;
    dir.Write("b.txt", {1, 2, 3});
    dir.Write("A.txt", {});
    dir.MakeDir("sub");
    dir.Write("sub/inner", {});
    qvLock* lock = LockPath(dir.path().c_str(), QV_LOCK_SHARED);
    ASSERT_NE(lock, nullptr);
    qvDirScan* scan;
    ASSERT_EQ(OpenDirScan(lock, &scan), 0);
    struct Entry {
        std::string name;
        int32_t type;
        int64_t size;
    };
    std::vector<Entry> seen;
    qvFileAttributes info;
    while (ExamineDirNext(scan, &info)) seen.push_back({info.name, info.type, info.size});
    EXPECT_FALSE(ExamineDirNext(scan, &info));  // stays at its end
    FreeDirContext(scan);
    ReleaseLock(lock);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].name, "A.txt");
    EXPECT_EQ(seen[1].name, "b.txt");
    EXPECT_EQ(seen[1].size, 3);
    EXPECT_EQ(seen[2].name, "sub");
    EXPECT_EQ(seen[2].type, QV_DOSTYPE_DIRECTORY);

    qvLock* fileLock = LockPath((dir / "b.txt").c_str(), QV_LOCK_SHARED);
    EXPECT_EQ(OpenDirScan(fileLock, &scan), ERR_NOTADIR);
    EXPECT_EQ(scan, nullptr);
    ReleaseLock(fileLock);
}

TEST(Paths, AllocationFailuresGiveNone) {
    ScratchDir dir;
    qv::AllocationFault fault(1, true);
    EXPECT_EQ(LockPath(dir.path().c_str(), QV_LOCK_SHARED), nullptr);
    EXPECT_EQ(ChangeDirPath(dir.path().c_str()), nullptr);
}

}  // namespace
}  // namespace qv
