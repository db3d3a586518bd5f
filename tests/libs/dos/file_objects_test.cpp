// File objects: ids and handles, modes, range checks, numbers, lines, and failures that
// must not pass for success (a full disk, negative lengths, iterators after their end).
#include <cmath>
#include <limits>

#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using FileObjects = DosLib;

TEST_F(FileObjects, ReadsBigEndianNumbersAndBytes) {
    struct Case {
        const char* command;
        std::string bytes;
        double expected;
    } cases[] = {
        {"ReadChr", "\xFF", 255},
        {"ReadShort", "\xFF\xFE", 65534},
        {"ReadInt", "\xFF\xFF\xFF\xFE", -2},
        {"ReadInt", "\x7F\xFF\xFF\xFF", 2147483647},
        {"ReadFloat", std::string("\x40\x09\x21\xFB\x54\x44\x2D\x18", 8), 3.141592653589793},
    };
    for (const Case& c : cases) {
        Open(1, MakeFile("n.bin", c.bytes));
        CallResult r = Call(c.command, {Num(1)});
        EXPECT_EQ(r.code, 0) << c.command;
        EXPECT_EQ(r.Number(), c.expected) << c.command;
        EXPECT_EQ(Call(c.command, {Num(1)}).code, ERR_READRANGE) << c.command;
        EXPECT_EQ(Call("Eof", {Num(1)}).Number(), 1);
    }
}

TEST_F(FileObjects, WritesTruncateAndSaturateLikeScriptIntegers) {
    struct Case {
        const char* command;
        double value;
        std::string bytes;
    } cases[] = {
        {"WriteShort", 70000, "\x11\x70"},
        {"WriteInt", 3e10, "\x7F\xFF\xFF\xFF"},
        {"WriteInt", -3e10, std::string("\x80\x00\x00\x00", 4)},
        {"WriteInt", kNaN, std::string("\x80\x00\x00\x00", 4)},
        {"WriteInt", -1.9, "\xFF\xFF\xFF\xFF"},
        {"WriteChr", 511.7, "\xFF"},
        {"WriteChr", kInf, "\xFF"},
        {"WriteFloat", -2, std::string("\xC0\x00\x00\x00\x00\x00\x00\x00", 8)},
    };
    std::string path = scratch / "w.bin";
    for (const Case& c : cases) {
        Open(2, path, QV_MODE_WRITE);
        EXPECT_EQ(Call(c.command, {Num(2), Num(c.value)}).code, 0) << c.command;
        EXPECT_EQ(Call("FileLength", {Num(2)}).Number(), c.bytes.size());
        ASSERT_EQ(Call("CloseFile", {Num(2)}).code, 0);
        EXPECT_EQ(FileText(path), c.bytes) << c.command << " " << c.value;
    }
}

TEST_F(FileObjects, SeekStaysInsideTheFile) {
    Open(1, MakeFile("s.txt", "abcdef"));
    struct Case {
        double target;
        int code;
        double position;
    } cases[] = {{-1, 0, 6},        {6, 0, 6}, {7, ERR_SEEK, 6},    {0, 0, 0},
                 {-2, ERR_SEEK, 0}, {3, 0, 3}, {kNaN, ERR_SEEK, 3}, {1e300, ERR_SEEK, 3}};
    for (const Case& c : cases) {
        EXPECT_EQ(Call("Seek", {Num(1), Num(c.target)}).code, c.code) << c.target;
        EXPECT_EQ(Call("FilePos", {Num(1)}).Number(), c.position) << c.target;
    }
    EXPECT_EQ(Call("ReadString", {Num(1), Num(3)}).Text(), "def");
}

TEST_F(FileObjects, ModesGateReadsAndWrites) {
    std::string path = MakeFile("m.txt", "keep me\n");
    Open(1, path, QV_MODE_READ);
    Open(2, scratch / "new.txt", QV_MODE_WRITE);
    for (const char* write : {"WriteChr", "WriteShort", "WriteInt", "WriteFloat"}) {
        EXPECT_EQ(Call(write, {Num(1), Num(1)}).code, ERR_READONLY) << write;
    }
    EXPECT_EQ(Call("WriteLine", {Num(1), Str("x")}).code, ERR_READONLY);
    EXPECT_EQ(Call("WriteString", {Num(1), Str("x")}).code, ERR_READONLY);
    for (const char* read : {"ReadChr", "ReadShort", "ReadInt", "ReadFloat", "ReadLine"}) {
        EXPECT_EQ(Call(read, {Num(2)}).code, ERR_WRITEONLY) << read;
    }
    EXPECT_EQ(Call("ReadString", {Num(2), Num(1)}).code, ERR_WRITEONLY);
    // Read-write keeps the content and allows both.
    Open(3, path, QV_MODE_READWRITE);
    EXPECT_EQ(Call("FileLength", {Num(3)}).Number(), 8);
    EXPECT_EQ(Call("ReadLine", {Num(3)}).Text(), "keep me");
    EXPECT_EQ(Call("WriteString", {Num(3), Str("more")}).code, 0);
    EXPECT_EQ(Call("Seek", {Num(3), Num(5)}).code, 0);
    EXPECT_EQ(Call("WriteChr", {Num(3), Num('M')}).code, 0);
    EXPECT_EQ(Call("CloseFile", {Num(3)}).code, 0);
    EXPECT_EQ(FileText(path), "keep Me\nmore");
}

TEST_F(FileObjects, OpenFileArgumentsAndFailures) {
    std::string path = MakeFile("o.txt", "x");
    struct Case {
        std::vector<Arg> args;
        int code;
    } cases[] = {
        {{Num(1), Str(path), Num(1007)}, ERR_WRONGUSAGE},
        {{Num(1), Str(""), Num(QV_MODE_READ)}, ERR_WRONGUSAGE},
        {{Num(1), Str(scratch / "missing")}, ERR_READFILE},
        {{Num(1), Str(scratch / "no/dir/file"), Num(QV_MODE_WRITE)}, ERR_WRITEFILE},
        {{Num(1), Str(scratch.path())}, ERR_READFILE},  // a directory is no file
        {{Num(1)}, ERR_MISSINGPARAMTR},
    };
    for (const Case& c : cases) {
        CallResult r = Call("OpenFile", c.args);
        EXPECT_EQ(r.code, c.code);
    }
    EXPECT_EQ(Call("OpenFile", {Num(1), Str(scratch / "missing")}).errorText, scratch / "missing");
}

TEST_F(FileObjects, IdsHandlesAndReplacement) {
    std::string first = MakeFile("a.txt", "first"), second = MakeFile("b.txt", "second!");
    CallResult opened = Call("OpenFile", {Nil(), Str(first)});
    ASSERT_EQ(opened.code, 0);
    ASSERT_EQ(opened.results.size(), 1u);
    Arg handle = LightUserdata(const_cast<void*>(opened.results[0].pointer));
    EXPECT_EQ(Call("FileLength", {handle}).Number(), 5);
    EXPECT_EQ(Call("ReadString", {handle, Num(5)}).Text(), "first");
    // The automatic record is not found by the number 0, nor once it is closed.
    CallResult byZero = Call("FileLength", {Num(0)});
    EXPECT_EQ(byZero.code, ERR_FINDFILE);
    EXPECT_EQ(Call("CloseFile", {handle}).code, 0);
    EXPECT_EQ(Call("FileLength", {handle}).code, ERR_FINDARRAY);
    // OpenFile(1, ...) twice: the second replaces the first.
    Open(1, first);
    Open(1, second);
    EXPECT_EQ(Call("FileLength", {Num(1)}).Number(), 7);
    EXPECT_EQ(Call("CloseFile", {Num(1)}).code, 0);
    CallResult gone = Call("CloseFile", {Num(1)});
    EXPECT_EQ(gone.code, ERR_FINDFILE);
    EXPECT_EQ(gone.errorNumber, 1u);
}

TEST_F(FileObjects, ReadStringLengthsAreCheckedBeforeAnyAllocation) {
    Open(1, MakeFile("r.txt", "abc"));
    struct Case {
        double length;
        int code;
        std::string text;
    } cases[] = {{-1, ERR_WRONGUSAGE, ""},
                 {-2147483648.0, ERR_WRONGUSAGE, ""},
                 {0, 0, ""},
                 {4, ERR_READRANGE, ""},
                 {2e9, ERR_READRANGE, ""},
                 {2, 0, "ab"},
                 {2, ERR_READRANGE, ""},
                 {1, 0, "c"}};
    for (const Case& c : cases) {
        CallResult r = Call("ReadString", {Num(1), Num(c.length)});
        EXPECT_EQ(r.code, c.code) << c.length;
        EXPECT_EQ(r.Text(), c.text) << c.length;
    }
}

TEST_F(FileObjects, ReadLineDropsCarriageReturnsAndEndsAtTheSize) {
    for (int mode : {QV_IO_BUFFERED, QV_IO_UNBUFFERED}) {
        ASSERT_EQ(Call("SetIOMode", {Num(mode)}).code, 0);
        Open(1, MakeFile("l.txt", std::string("ab\r\ncd\n\r\nx\ry\0z", 14)));
        for (const std::string& expected :
             {std::string("ab"), std::string("cd"), std::string(), std::string("xy\0z", 4)}) {
            EXPECT_EQ(Call("ReadLine", {Num(1)}).Text(), expected) << mode;
        }
        EXPECT_EQ(Call("ReadLine", {Num(1)}).code, ERR_READRANGE);
    }
    EXPECT_EQ(Call("SetIOMode", {Num(2)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("SetIOMode", {Num(-1)}).code, ERR_WRONGUSAGE);
}

TEST_F(FileObjects, WriteStringLengths) {
    std::string path = scratch / "ws.txt";
    Open(1, path, QV_MODE_WRITE);
    EXPECT_EQ(Call("WriteString", {Num(1), Str("abc"), Num(2)}).code, 0);
    EXPECT_EQ(Call("WriteString", {Num(1), Str("abc"), Num(4)}).code, ERR_STRTOOSHORT);
    EXPECT_EQ(Call("WriteString", {Num(1), Str("abc"), Num(-1)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("WriteString", {Num(1), Str("xyz")}).code, 0);
    EXPECT_EQ(Call("WriteLine", {Num(1), Str("")}).code, 0);
    EXPECT_EQ(Call("FilePos", {Num(1)}).Number(), 6);
    EXPECT_EQ(Call("CloseFile", {Num(1)}).code, 0);
    EXPECT_EQ(FileText(path), "abxyz\n");
}

// Every write path reports a full disk, whether it shows at the write, the flush or the close.
TEST_F(FileObjects, FullDiskIsAnError) {
    const std::string big(100000, 'x');
    struct Case {
        const char* what;
        std::function<int()> run;
    } cases[] = {
        {"WriteLine",
         [&] {
             return Call("WriteLine", {Num(1), Str(big)}).code;
         }},
        {"WriteString",
         [&] {
             return Call("WriteString", {Num(1), Str(big)}).code;
         }},
        {"FlushFile",
         [&] {
             EXPECT_EQ(Call("WriteLine", {Num(1), Str("short")}).code, 0);
             return Call("FlushFile", {Num(1)}).code;
         }},
        {"CloseFile",
         [&] {
             EXPECT_EQ(Call("WriteChr", {Num(1), Num(65)}).code, 0);
             return Call("CloseFile", {Num(1)}).code;
         }},
    };
    for (const Case& c : cases) {
        Open(1, "/dev/full", QV_MODE_WRITE);
        EXPECT_EQ(c.run(), ERR_WRITE) << c.what;
        Call("CloseFile", {Num(1)});
        EXPECT_EQ(Call("FileLength", {Num(1)}).code, ERR_FINDFILE) << c.what;
    }
    EXPECT_EQ(Call("StringToFile", {Str("data"), Str("/dev/full")}).code, ERR_WRITE);
    EXPECT_EQ(Call("StringToFile", {Str(big), Str("/dev/full")}).code, ERR_WRITE);
}

TEST_F(FileObjects, FileLinesSplitsAtLineFeedsAndAt1024Bytes) {
    std::string longLine(1030, 'q');
    std::string path =
        MakeFile("lines.txt", std::string("one\r\n\ntw\0o\n", 11) + longLine + "\nlast");
    std::vector<CallResult> calls = Iterate("FileLines", {Str(path)});
    std::vector<std::string> lines;
    for (const CallResult& c : calls) {
        ASSERT_EQ(c.code, 0);
        if (!c.results.empty()) lines.push_back(c.Text());
    }
    std::vector<std::string> expected = {"one", "", "tw", std::string(1024, 'q'), "qqqqqq", "last"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(Call("FileLines", {Str(scratch / "missing")}).code, ERR_READFILE);
}

// The iterator called again after its end returns nothing and touches no closed handle.
TEST_F(FileObjects, FileLinesIteratorAfterItsEnd) {
    std::string path = MakeFile("it.txt", "a\n");
    CallResult made = Call("FileLines", {Str(path)});
    ASSERT_EQ(made.code, 0);
    VmSetTop(L, 0);
    PushArg(Str(path));
    VmPushString(L, "filelines");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushValue(L, 1);
    ASSERT_EQ(VmPCall(L, 1, 1, 0), 0);
    for (int i = 0; i < 4; ++i) {
        VmPushValue(L, -1);
        int before = VmGetTop(L);
        ASSERT_EQ(VmPCall(L, 0, -1, 0), 0);
        int results = VmGetTop(L) - before + 1;
        EXPECT_EQ(results, i == 0 ? 1 : 0) << i;
        VmSetTop(L, before - 1);
    }
    VmSetTop(L, 0);
}

// Opening the destination truncates it, so packing a file onto itself would lose it.
TEST_F(FileObjects, PackingOntoItsSourceIsRefused) {
    std::string path = MakeFile("Same.txt", "precious data");
    for (const std::string& other : {path, scratch / "same.TXT", scratch / "./Same.txt"}) {
        EXPECT_EQ(Call("CompressFile", {Str(path), Str(other)}).code, ERR_WRONGUSAGE) << other;
    }
    EXPECT_EQ(FileText(path), "precious data");
    std::string packed = scratch / "packed.qvpk";
    ASSERT_EQ(Call("CompressFile", {Str(path), Str(packed)}).code, 0);
    std::string before = FileText(packed);
    EXPECT_EQ(Call("DecompressFile", {Str(packed), Str(packed)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(FileText(packed), before);
    EXPECT_EQ(Call("DecompressFile", {Str(packed), Str(scratch / "back.txt")}).Number(), 13);
    EXPECT_EQ(FileText(scratch / "back.txt"), "precious data");
}

}  // namespace
}  // namespace qv::testing
