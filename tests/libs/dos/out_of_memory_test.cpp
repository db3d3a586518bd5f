// Every allocation of a command failing in turn: the command ends with ERR_MEM (or with the
// code by which the file layer reports a handle it could not make), never with a crash or a
// leak, and succeeds once memory suffices.
#include "platform/linux/memory.h"
#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

using DosOutOfMemory = DosLib;

TEST_F(DosOutOfMemory, CommandsFailCleanly) {
    std::string file = MakeFile("f.txt", std::string(40000, 'x') + "\nlast");
    std::string dir = scratch.MakeDir("d");
    MakeFile("d/a", "a");
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int openFailure;  // the code of a handle the layer could not make, or 0
    } cases[] = {
        {"OpenFile", {Nil(), Str(file)}, ERR_READFILE},
        {"FileToString", {Str(file)}, ERR_READFILE},
        {"StringToFile", {Str("data"), Str(scratch / "out.txt")}, ERR_WRITEFILE},
        {"FullPath", {Str(std::string(2000, 'p')), Str("name")}, 0},
        {"GetTempFileName", {}, 0},
        {"DefineVirtualFileFromString", {Str("bytes"), Str("v.txt")}, 0},
        {"OpenDirectory", {Nil(), Str(dir)}, ERR_LOCK2},
        {"ReadDirectory", {Str(dir), Table({}), Table({})}, ERR_LOCK2},
        {"GetFileAttributes", {Str(file)}, ERR_LOCK2},
        {"FileLines", {Str(file)}, ERR_READFILE},
        {"MakeDirectory", {Str(scratch / "m/n")}, ERR_CREATEDIR},
    };
    for (const Case& c : cases) {
        bool succeeded = false;
        for (uint64_t n = 1; n < 100 && !succeeded; ++n) {
            CallResult r;
            {
                AllocationFault fault(n, false);
                r = Call(c.command, c.args);
            }
            ASSERT_TRUE(r.code == 0 || r.code == ERR_MEM || r.code == c.openFailure)
                << c.command << " at " << n << ": " << r.code;
            succeeded = r.code == 0;
        }
        EXPECT_TRUE(succeeded) << c.command;
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
