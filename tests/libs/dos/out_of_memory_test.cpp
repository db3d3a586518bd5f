// Every allocation of a command failing in turn: the command ends with ERR_MEM (or with the
// code by which the file layer reports a handle it could not make), never with a crash or a
// leak, and succeeds once memory suffices.
#include <algorithm>

#include "platform/linux/memory.h"
#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

using DosOutOfMemory = DosLib;

TEST_F(DosOutOfMemory, CommandsFailCleanly) {
    std::string file = MakeFile("f.txt", std::string(40000, 'x') + "\nlast");
    std::string dir = scratch.MakeDir("d");
    MakeFile("d/a", "a");
    const std::vector<int> kCopyLayer = {ERR_LOCK2, ERR_CREATEDIR, ERR_EXAMINE, ERR_READFILE,
                                         ERR_WRITEFILE};
    struct Case {
        const char* command;
        std::vector<Arg> args;
        std::vector<int> layerFailures;  // codes of handles or paths the layer could not make
    } cases[] = {
        {"OpenFile", {Nil(), Str(file)}, {ERR_READFILE}},
        {"FileToString", {Str(file)}, {ERR_READFILE}},
        {"StringToFile", {Str("data"), Str(scratch / "out.txt")}, {ERR_WRITEFILE}},
        {"FullPath", {Str(std::string(2000, 'p')), Str("name")}, {}},
        {"GetTempFileName", {}, {}},
        {"DefineVirtualFileFromString", {Str("bytes"), Str("v.txt")}, {}},
        {"OpenDirectory", {Nil(), Str(dir)}, {ERR_LOCK2}},
        {"ReadDirectory", {Str(dir), Table({}), Table({})}, {ERR_LOCK2}},
        {"GetFileAttributes", {Str(file)}, {ERR_LOCK2}},
        {"FileLines", {Str(file)}, {ERR_READFILE}},
        {"MakeDirectory", {Str(scratch / "m/n")}, {ERR_CREATEDIR}},
        {"CopyFile", {Str(file), Str(scratch / "copies")}, kCopyLayer},
        {"CopyFile",
         {Str(dir), Str(scratch / "tree"), Nil(), Native([](qvVmState* S) {
              VmPushNumber(S, 0);
              return 1;
          })},
         kCopyLayer},
        {"DeleteFile", {Str(scratch / "tree")}, {ERR_LOCK2, ERR_EXAMINE, ERR_DELETEFILE}},
    };
    for (const Case& c : cases) {
        bool succeeded = false;
        for (uint64_t n = 1; n < 100 && !succeeded; ++n) {
            CallResult r;
            {
                AllocationFault fault(n, false);
                r = Call(c.command, c.args);
            }
            bool layer = std::find(c.layerFailures.begin(), c.layerFailures.end(), r.code) !=
                         c.layerFailures.end();
            ASSERT_TRUE(r.code == 0 || r.code == ERR_MEM || layer)
                << c.command << " at " << n << ": " << r.code;
            succeeded = r.code == 0;
        }
        EXPECT_TRUE(succeeded) << c.command;
    }
    // The serialiser, writing and reading through file objects.
    Open(1, scratch / "table.bin", QV_MODE_WRITE);
    Arg table = Table({{Num(1), Str("one")}, {Str("t"), Table({{Num(2), Num(3)}})}});
    for (uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 100u);
        ASSERT_EQ(Call("Seek", {Num(1), Num(0)}).code, 0);
        CallResult r;
        {
            AllocationFault fault(n, false);
            r = Call("WriteTable", {Num(1), table});
        }
        ASSERT_TRUE(r.code == 0 || r.code == ERR_MEM) << n;
        if (r.code == 0) break;
    }
    ASSERT_EQ(Call("CloseFile", {Num(1)}).code, 0);
    for (uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 100u);
        Open(2, scratch / "table.bin");
        CallResult r;
        {
            AllocationFault fault(n, false);
            r = Call("ReadTable", {Num(2)});
        }
        ASSERT_TRUE(r.code == 0 || r.code == ERR_MEM) << n;
        if (r.code == 0) break;
    }
    // A record that could not be had leaves no file open behind it.
    {
        AllocationFault fault(1, true);
        EXPECT_NE(Call("OpenFile", {Num(9), Str(file)}).code, 0);
    }
    EXPECT_EQ(Call("FileLength", {Num(9)}).code, ERR_FINDFILE);
}

}  // namespace
}  // namespace qv::testing
