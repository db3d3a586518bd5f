// Path commands, renames, directories made along a path, environment variables, temporary
// names, volumes and virtual files (with the guards against made-up virtual paths).
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>

#include "platform/linux/paths.h"
#include "tests/libs/dos/dos_test_support.h"
#include "tests/runtime/linked_applet.h"

extern char** environ;

namespace qv::testing {
namespace {

using PathCommands = DosLib;

TEST_F(PathCommands, PathPartFilePartAndFullPath) {
    struct Case {
        const char* command;
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {"PathPart", {"dh0:dir/file"}, "dh0:dir/"},
        {"PathPart", {"dh0:file"}, "dh0:"},
        {"PathPart", {"file"}, ""},
        {"PathPart", {"/abs/dir/file"}, "/abs/dir/"},
        {"PathPart", {"//file"}, "//"},
        {"PathPart", {"a\\b"}, "a\\"},
        {"FilePart", {"dh0:dir/"}, ""},
        {"FilePart", {"dh0:dir/file.txt"}, "file.txt"},
        {"FilePart", {"dh0:file"}, "file"},
        {"FilePart", {"/"}, "/"},
        {"FilePart", {"a\\b"}, "b"},
        {"FilePart", {":::chunk10:20*name.txt/some/file"}, "name.txt"},
        {"FullPath", {"dh0:", "x"}, "dh0:x"},
        {"FullPath", {"dir", "x"}, "dir/x"},
        {"FullPath", {"dir/", "x"}, "dir/x"},
        {"FullPath", {"", "x"}, "x"},
        {"FullPath", {std::string(3000, 'd'), "x"}, std::string(3000, 'd') + "/x"},
    };
    for (const Case& c : cases) {
        std::vector<Arg> args;
        for (const std::string& a : c.args) args.push_back(Str(a));
        CallResult r = Call(c.command, args);
        EXPECT_EQ(r.code, 0) << c.command << " " << c.args[0];
        EXPECT_EQ(r.Text(), c.expected) << c.command << " " << c.args[0];
    }
    EXPECT_EQ(Call("PathPart", {Str(":::chunk1:2*a/b")}).code, ERR_WRONGUSAGE);
}

TEST_F(PathCommands, ExistsFileSizeAndIsDirectory) {
    scratch.MakeDir("Dir");
    std::string file = MakeFile("Dir/File.TXT", "12345");
    EXPECT_EQ(Call("Exists", {Str(scratch / "dir/file.txt")}).Number(), 1);
    EXPECT_EQ(Call("Exists", {Str(scratch / "dir/nothing")}).Number(), 0);
    EXPECT_EQ(Call("Exists", {Str("")}).Number(), 0);
    EXPECT_EQ(Call("Exists", {Str(":::chunk0:1*x/" + scratch / "gone")}).Number(), 0);
    EXPECT_EQ(Call("FileSize", {Str(scratch / "DIR/file.txt")}).Number(), 5);
    EXPECT_EQ(Call("FileSize", {Str(scratch / "missing")}).Number(), -1);
    EXPECT_EQ(Call("FileSize", {Str("")}).Number(), -1);
    EXPECT_EQ(Call("IsDirectory", {Str(scratch / "dir")}).Number(), 1);
    EXPECT_EQ(Call("IsDirectory", {Str(file)}).Number(), 0);
    CallResult missing = Call("IsDirectory", {Str(scratch / "missing")});
    EXPECT_EQ(missing.code, ERR_LOCK2);
    EXPECT_EQ(missing.errorText, scratch / "missing");
    // Letter case is folded like the original file systems did.
    Open(1, scratch / "DIR/file.txt");
    EXPECT_EQ(Call("ReadString", {Num(1), Num(5)}).Text(), "12345");
}

TEST_F(PathCommands, RenameNeverReplacesAndStaysInItsDirectory) {
    scratch.MakeDir("d");
    std::string a = MakeFile("d/a.txt", "A"), b = MakeFile("d/b.txt", "B");
    CallResult clash = Call("Rename", {Str(a), Str("b.txt")});
    EXPECT_EQ(clash.code, ERR_RENAME);
    EXPECT_EQ(FileText(a), "A");
    EXPECT_EQ(FileText(b), "B");
    // Only the file part of the new name counts.
    EXPECT_EQ(Call("Rename", {Str(a), Str("/elsewhere/c.txt")}).code, 0);
    EXPECT_EQ(FileText(scratch / "d/c.txt"), "A");
    EXPECT_FALSE(PathExists(a));
    for (const auto& args : std::vector<std::vector<Arg>>{
             {Str(""), Str("x")}, {Str(b), Str("")}, {Str(":::chunk1:1*a/b"), Str("x")}}) {
        EXPECT_EQ(Call("Rename", args).code, ERR_WRONGUSAGE);
    }
    EXPECT_EQ(Call("Rename", {Str(scratch / "d/none"), Str("y")}).code, ERR_RENAME);
}

TEST_F(PathCommands, MakeDirectoryWalksThePath) {
    std::string deep = scratch / "one/two/three";
    EXPECT_EQ(Call("MakeDirectory", {Str(deep)}).code, 0);  // absolute: no empty prefix
    struct stat st;
    ASSERT_EQ(stat(deep.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(Call("MakeDirectory", {Str(deep + "/")}).code, 0);  // existing levels are fine
    EXPECT_EQ(Call("MakeDirectory", {Str("T:made/here")}).code, 0);
    EXPECT_TRUE(PathExists(TempDir() + "/made/here"));
    std::string file = MakeFile("plain", "x");
    CallResult blocked = Call("MakeDirectory", {Str(file + "/sub")});
    EXPECT_EQ(blocked.code, ERR_CREATEDIR);
    EXPECT_EQ(blocked.errorText, file + "/sub");
    EXPECT_EQ(Call("MakeDirectory", {Str("")}).code, ERR_WRONGUSAGE);
    // A volume that does not exist cannot be made.
    for (const char* path : {"NOVOL:", "NOVOL:sub"}) {
        CallResult r = Call("MakeDirectory", {Str(path)});
        EXPECT_EQ(r.code, ERR_CREATEDIR) << path;
        EXPECT_EQ(r.errorText, path);
    }
    EXPECT_EQ(Call("MakeDirectory", {Str("T:")}).code, 0);
}

TEST_F(PathCommands, CurrentDirectoryChangesOnlyToDirectories) {
    std::string before = Call("GetCurrentDirectory").Text();
    scratch.MakeDir("cwd");
    EXPECT_EQ(Call("ChangeDirectory", {Str(scratch / "cwd")}).code, 0);
    EXPECT_EQ(Call("GetCurrentDirectory").Text(), scratch / "cwd");
    EXPECT_EQ(Call("ChangeDirectory", {Str(scratch / "nowhere")}).code, 0);
    EXPECT_EQ(Call("GetCurrentDirectory").Text(), scratch / "cwd");
    EXPECT_EQ(Call("ChangeDirectory", {Str(before)}).code, 0);
}

// What a child process sees of a variable, through posix_spawn of printenv.
std::string ChildSees(const char* name) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    char* argv[] = {const_cast<char*>("printenv"), const_cast<char*>(name), nullptr};
    pid_t pid;
    int spawned = posix_spawnp(&pid, "printenv", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, n);
    close(fds[0]);
    int status = 0;
    if (spawned == 0) waitpid(pid, &status, 0);
    return spawned != 0 ? "spawn failed" : WEXITSTATUS(status) != 0 ? "<unset>" : out;
}

TEST_F(PathCommands, EnvironmentReachesChildren) {
    const char* name = "QV_DOS_TEST_VARIABLE";
    ScopedEnv clean(name, std::nullopt);
    CallResult unset = Call("GetEnv", {Str(name)});
    EXPECT_EQ(unset.Text(0), "");
    EXPECT_EQ(unset.Number(1), 0);
    ASSERT_EQ(Call("SetEnv", {Str(name), Str("a value")}).code, 0);
    CallResult set = Call("GetEnv", {Str(name)});
    EXPECT_EQ(set.Text(0), "a value");
    EXPECT_EQ(set.Number(1), 1);
    EXPECT_EQ(ChildSees(name), "a value\n");
    ASSERT_EQ(Call("UnsetEnv", {Str(name)}).code, 0);
    EXPECT_EQ(ChildSees(name), "<unset>");
    EXPECT_EQ(Call("GetEnv", {Str(name)}).Number(1), 0);
    EXPECT_EQ(Call("SetEnv", {Str(""), Str("x")}).code, ERR_SETENV);
    EXPECT_EQ(Call("SetEnv", {Str("A=B"), Str("x")}).code, ERR_SETENV);
    EXPECT_EQ(Call("UnsetEnv", {Str("A=B")}).code, ERR_UNSETENV);
}

TEST_F(PathCommands, TemporaryNamesLieInThePrivateTAndGoAtShutdown) {
    std::string first = Call("GetTempFileName").Text(), second = Call("GetTempFileName").Text();
    ASSERT_EQ(first.rfind("T:", 0), 0u) << first;
    EXPECT_NE(first, second);
    std::string host = TempDir() + "/" + first.substr(2);
    EXPECT_FALSE(PathExists(host));  // only the name is made
    ASSERT_EQ(Call("StringToFile", {Str("temp"), Str(first)}).code, 0);
    EXPECT_EQ(FileText(host), "temp");
    FreeDosObjects(L);
    EXPECT_FALSE(PathExists(host));
}

TEST_F(PathCommands, TheRunsOwnTIsPrivate) {
    ScopedAssigns defaults(std::nullopt);  // the run's own T:, not the fixture's
    std::string name = Call("GetTempFileName").Text();
    ASSERT_EQ(Call("StringToFile", {Str("x"), Str(name)}).code, 0);
    char full[kPathBufferSize];
    ASSERT_EQ(MakeAbsolutePath(name.c_str(), full), 0);
    std::string dir(full);
    dir.resize(dir.rfind('/'));
    struct stat st;
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    FreeDosObjects(L);
    EXPECT_FALSE(PathExists(full));
}

TEST_F(PathCommands, VolumeNamesAndSpace) {
    EXPECT_EQ(Call("GetVolumeName", {Str("/")}).Text(), "SYS");
    EXPECT_EQ(Call("GetVolumeName", {Str("SYS:")}).Text(), "SYS");
    EXPECT_EQ(Call("GetVolumeName", {Str("/proc/self")}).Text(), "proc");
    EXPECT_EQ(Call("GetVolumeName", {Str(scratch / "missing")}).code, ERR_LOCK);
    EXPECT_EQ(Call("GetVolumeName", {Str("")}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("GetVolumeInfo", {Str(scratch / "missing"), Num(1)}).code, ERR_LOCK);
    EXPECT_EQ(Call("GetVolumeInfo", {Str(""), Num(1)}).code, ERR_WRONGUSAGE);
}

TEST_F(PathCommands, VolumeSpaceAgreesWithDf) {
    QV_REQUIRE_TOOL("df");
    ToolRun df = RunTool("df -B1 --output=avail,used " + scratch.path() + " | tail -1");
    ASSERT_EQ(df.status, 0);
    double avail = 0, used = 0;
    ASSERT_EQ(sscanf(df.output.c_str(), "%lf %lf", &avail, &used), 2);
    double free = Call("GetVolumeInfo", {Str(scratch.path()), Num(1)}).Number();
    double taken = Call("GetVolumeInfo", {Str(scratch.path()), Num(0)}).Number();
    EXPECT_NEAR(free, avail, avail * 0.01 + 1e6);
    EXPECT_NEAR(taken, used, used * 0.01 + 1e6);
}

TEST_F(PathCommands, VirtualFilesOverStretchesAndStrings) {
    std::string container = MakeFile("container.bin", "0123456789");
    CallResult stretch =
        Call("DefineVirtualFile", {Str(container), Num(3), Num(4), Str("x/in.txt")});
    ASSERT_EQ(stretch.code, 0);
    EXPECT_EQ(stretch.Text(), ":::chunk3:4*in.txt/" + container);
    EXPECT_EQ(Call("FileToString", {Str(stretch.Text())}).Text(), "3456");
    EXPECT_EQ(Call("DefineVirtualFile", {Str(container), Num(3), Num(0), Str("x")}).code,
              ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DefineVirtualFile", {Str(""), Num(3), Num(1), Str("x")}).code, ERR_WRONGUSAGE);

    CallResult defined = Call("DefineVirtualFileFromString", {Str("string data"), Str("s.txt")});
    ASSERT_EQ(defined.code, 0);
    std::string path = defined.Text();
    EXPECT_EQ(path.rfind(":::chunkS", 0), 0u);
    EXPECT_NE(path.find(":11*s.txt/"), std::string::npos) << path;
    VmCollectGarbage(L);  // the string is kept by its reference, not by a script variable
    EXPECT_EQ(Call("FileToString", {Str(path)}).Text(), "string data");
    EXPECT_EQ(Call("FileSize", {Str(path)}).Number(), 11);
    EXPECT_EQ(Call("DefineVirtualFileFromString", {Str(""), Str("e")}).code, ERR_WRONGUSAGE);

    // Made-up paths: another length or address than the library handed out.
    std::string forged = path;
    forged.replace(forged.find(":11*"), 4, ":4096*");
    for (const std::string& p : {forged, std::string(":::chunkS1:8*x/10")}) {
        EXPECT_EQ(Call("UndefineVirtualStringFile", {Str(p)}).code, ERR_WRONGUSAGE) << p;
        EXPECT_EQ(Call("FileToString", {Str(p)}).code, ERR_READFILE) << p;
    }
    EXPECT_EQ(Call("UndefineVirtualStringFile", {Str("plain")}).code, ERR_WRONGUSAGE);
    ASSERT_EQ(Call("UndefineVirtualStringFile", {Str(path)}).code, 0);
    VmCollectGarbage(L);
    EXPECT_EQ(Call("FileToString", {Str(path)}).code, ERR_READFILE);
    EXPECT_EQ(Call("OpenFile", {Num(1), Str(path)}).code, ERR_READFILE);
    EXPECT_EQ(Call("UndefineVirtualStringFile", {Str(path)}).code, ERR_WRONGUSAGE);
}

// Names of the applet's linked files open as stretches of the container, in any letter case.
TEST_F(PathCommands, LinkedFilesOpenThroughTheirVirtualPaths) {
    std::string container = MakeFile("applet.bin", "headerLINKED CONTENTtrailer");
    LinkedApplet applet(L);
    applet.Link("data\\Linked.txt", container.c_str(), 6, 14);
    Open(1, "DATA/linked.TXT");
    EXPECT_EQ(Call("ReadString", {Num(1), Num(14)}).Text(), "LINKED CONTENT");
    EXPECT_EQ(Call("Eof", {Num(1)}).Number(), 1);
    EXPECT_EQ(Call("Exists", {Str("data/linked.txt")}).Number(), 1);
    EXPECT_EQ(Call("FileSize", {Str("data/linked.txt")}).Number(), 14);
    EXPECT_EQ(Call("FileToString", {Str("data/linked.txt")}).Text(), "LINKED CONTENT");
    CallResult attributes = Call("GetFileAttributes", {Str("data/linked.txt")});
    ASSERT_EQ(attributes.code, 0);
    EXPECT_EQ(attributes.results[0].Field("size")->number, 14);
    EXPECT_EQ(attributes.results[0].Field("time")->text, "16-Aug-1982 00:00:00");
    EXPECT_EQ(Call("OpenDirectory", {Num(1), Str(":::chunk6:14*Linked.txt/" + container)}).code,
              ERR_NOTADIR);
    Call("CloseFile", {Num(1)});
}

// A path whose reference number belongs to someone else's value: undefining it is refused
// and the value stays referenced.
TEST_F(PathCommands, UndefineLeavesForeignReferencesAlone) {
    PushArg(Str("someone else's value"));
    int foreign = MakeRef(L, VM_REGISTRYINDEX);
    std::string path = ":::chunkS" + std::to_string(foreign) + ":5*x/1000";
    EXPECT_EQ(Call("UndefineVirtualStringFile", {Str(path)}).code, ERR_WRONGUSAGE);
    VmCollectGarbage(L);
    VmRawGetI(L, VM_REGISTRYINDEX, foreign);
    ASSERT_EQ(VmType(L, -1), VM_TSTRING);
    EXPECT_STREQ(VmToString(L, -1), "someone else's value");
    VmSetTop(L, 0);
    FreeRef(L, VM_REGISTRYINDEX, foreign);
}

}  // namespace
}  // namespace qv::testing
