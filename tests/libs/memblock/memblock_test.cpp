// Memory blocks: values in every width against Python struct, ranges near the 32-bit limits
// (checked without wrapping), transfers to and from file objects, and the dump's text.
#include <cstdint>
#include <random>

#include "libs/dos/dos_library.h"
#include "libs/memblock/memblock_library.h"
#include "tests/support/lib_fixture.h"

namespace qv::testing {
namespace {

constexpr double kLong = 1, kString = 3, kShort = 6, kByte = 7;

class MemBlocks : public LibFixture {
protected:
    MemBlocks() : LibFixture(OpenLibraries<RegisterDosLibrary, RegisterMemBlockLibrary>) {}
    ~MemBlocks() override {
        FreeDosObjects(L);
        FreeAllMemBlocks(L);
    }
    void Alloc(double id, double size) {
        ASSERT_EQ(Call("AllocMem", {Num(id), Num(size)}).code, 0);
    }
    ScratchDir scratch;
};

TEST_F(MemBlocks, DocumentedCases) {
    Alloc(1, 4);
    ASSERT_EQ(Call("Poke", {Num(1), Num(0), Num(0x12345678)}).code, 0);
    EXPECT_EQ(Call("Peek", {Num(1), Num(0), Num(kByte)}).Number(), 0x12);
    EXPECT_EQ(Call("Peek", {Num(1), Num(2), Num(kShort)}).Number(), 0x5678);
    EXPECT_EQ(Call("Peek", {Num(1), Num(0)}).Number(), 0x12345678);
    EXPECT_EQ(Call("Peek", {Num(1), Num(1)}).code, ERR_MEMRANGE);
    EXPECT_EQ(Call("Poke", {Num(1), Num(2), Str("ab"), Num(kString)}).code, ERR_MEMRANGE);
    EXPECT_EQ(Call("Poke", {Num(1), Num(1), Str("ab"), Num(kString)}).code, 0);
    EXPECT_EQ(Call("Peek", {Num(1), Num(1), Num(kString), Num(2)}).Text(), "ab");
    ASSERT_EQ(Call("FillMem", {Num(1), Num(0xABCD), Num(4), Num(0), Num(kShort)}).code, 0);
    EXPECT_EQ(Call("Peek", {Num(1), Num(0)}).Number(), 0xABCDABCD);
    EXPECT_EQ(Call("FillMem", {Num(1), Num(1), Num(3), Num(0), Num(kShort)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("FillMem", {Num(1), Num(1), Num(4), Num(2), Num(kLong)}).code, ERR_MEMRANGE);
    EXPECT_EQ(Call("FillMem", {Num(1), Num(1), Num(0)}).code, 0);  // nothing to do
    EXPECT_EQ(Call("CopyMem", {Num(1), Num(1), Num(4)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("DumpMem", {Num(1), Num(0), Num(4)}).code, ERR_MEMRANGE);
    EXPECT_EQ(Call("DumpMem", {Num(1), Num(4), Num(0)}).code, 0);
    EXPECT_EQ(Call("Peek", {Num(1), Num(0), Num(2)}).code, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("Poke", {Num(1), Num(-1), Num(1)}).code, ERR_MEMRANGE);
    EXPECT_EQ(Call("Peek", {Num(99), Num(0)}).code, ERR_FINDMEMBLK);
    EXPECT_EQ(Call("Peek", {Num(99), Num(-1)}).code, ERR_MEMRANGE);  // before the lookup
    for (double size : {0.0, -5.0}) {
        EXPECT_EQ(Call("AllocMem", {Num(2), Num(size)}).code, ERR_WRONGUSAGE) << size;
    }
}

#ifndef NDEBUG
TEST_F(MemBlocks, FreshBlocksArePoisonedInTheTestBuild) {
    Alloc(1, 6);
    EXPECT_EQ(Call("Peek", {Num(1), Num(2)}).Number(), 0xA5A5A5A5);
}
#endif

TEST_F(MemBlocks, IdsHandlesAndReplacement) {
    CallResult made = Call("AllocMem", {Nil(), Num(8)});
    ASSERT_EQ(made.code, 0);
    Arg handle = LightUserdata(const_cast<void*>(made.results[0].pointer));
    EXPECT_EQ(Call("Poke", {handle, Num(4), Num(7)}).code, 0);
    EXPECT_EQ(Call("Peek", {Num(0), Num(4)}).code, ERR_FINDMEMBLK);
    Alloc(3, 2);
    Alloc(3, 16);  // replaces the first block 3
    EXPECT_EQ(Call("Poke", {Num(3), Num(12), Num(1)}).code, 0);
    EXPECT_EQ(Call("FreeMem", {handle}).code, 0);
    EXPECT_EQ(Call("FreeMem", {handle}).code, ERR_FINDARRAY);
    CallResult missing = Call("FreeMem", {Num(4)});
    EXPECT_EQ(missing.code, ERR_FINDMEMBLK);
    EXPECT_EQ(missing.errorNumber, 4u);
}

// Offsets and counts near the 32-bit limits would wrap in 32-bit sums and pass.
TEST_F(MemBlocks, RangesDoNotWrap) {
    Alloc(1, 64);
    Alloc(2, 64);
    const double big = 2147483632.0;  // 0x7FFFFFF0
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    } cases[] = {
        {"Peek", {Num(1), Num(big), Num(kString), Num(32)}, ERR_MEMRANGE},
        {"Peek", {Num(1), Num(big), Num(kLong)}, ERR_MEMRANGE},
        {"Peek", {Num(1), Num(10), Num(kString), Num(2147483647.0)}, ERR_MEMRANGE},
        {"Poke", {Num(1), Num(big), Str("x"), Num(kString)}, ERR_MEMRANGE},
        {"Poke", {Num(1), Num(2147483647.0), Num(1), Num(kByte)}, ERR_MEMRANGE},
        {"FillMem", {Num(1), Num(0), Num(32), Num(big)}, ERR_MEMRANGE},
        {"FillMem", {Num(1), Num(0), Num(2147483647.0), Num(8)}, ERR_MEMRANGE},
        {"CopyMem", {Num(1), Num(2), Num(32), Num(big), Num(0)}, ERR_MEMRANGE},
        {"CopyMem", {Num(1), Num(2), Num(32), Num(0), Num(big)}, ERR_MEMRANGE},
        {"CopyMem", {Num(1), Num(2), Num(8), Num(-1), Num(0)}, ERR_MEMRANGE},
        {"DumpMem", {Num(1), Num(32), Num(big)}, ERR_MEMRANGE},
        {"DumpMem", {Num(1), Num(2147483647.0), Num(1)}, ERR_MEMRANGE},
        {"DumpMem", {Num(1), Num(8), Num(-1)}, ERR_WRONGUSAGE},
        {"Peek", {Num(1), Num(60), Num(kString), Num(-1)}, ERR_WRONGUSAGE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command << " " << c.args[1].number;
    }
}

TEST_F(MemBlocks, ValuesAgreeWithStruct) {
    QV_REQUIRE_TOOL("python3");
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> value(-5e9, 5e9);
    const int count = 500;
    Alloc(1, count * 7);
    std::string input;
    for (int i = 0; i < count; ++i) {
        double v = i < 4 ? std::vector<double>{2147483648.0, -1, 4294967295.0, 70000}[i]
                         : std::trunc(value(rng));
        ASSERT_EQ(Call("Poke", {Num(1), Num(i * 7), Num(v), Num(kLong)}).code, 0);
        ASSERT_EQ(Call("Poke", {Num(1), Num(i * 7 + 4), Num(v), Num(kShort)}).code, 0);
        ASSERT_EQ(Call("Poke", {Num(1), Num(i * 7 + 6), Num(v), Num(kByte)}).code, 0);
        input += std::to_string(static_cast<long long>(v)) + "\n";
    }
    std::string bytes = Call("Peek", {Num(1), Num(0), Num(kString), Num(count * 7)}).Text();
    ToolRun py = RunPython(R"(
import struct, sys
out = b''
for line in sys.stdin.read().split():
    v = int(line)
    # the unsigned 32-bit argument rule: negative values wrap after saturating at -2^31
    u = max(v, -2**31) % 2**32 if v < 2**32 else 2**32 - 1
    out += struct.pack('>I', u) + struct.pack('>H', u & 0xFFFF) + struct.pack('B', u & 0xFF)
sys.stdout.write(out.hex())
)",
                           input);
    ASSERT_EQ(py.status, 0);
    std::string hex;
    for (unsigned char c : bytes) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        hex += two;
    }
    EXPECT_EQ(hex, py.output);
    for (int i = 0; i < 20; ++i) {
        uint32_t expected = std::stoul(py.output.substr(i * 14, 8), nullptr, 16);
        EXPECT_EQ(Call("Peek", {Num(1), Num(i * 7), Num(kLong)}).Number(), expected);
    }
}

TEST_F(MemBlocks, ReadMemAndWriteMemMoveBytesAndPositions) {
    QV_REQUIRE_TOOL("cmp");
    QV_REQUIRE_TOOL("xxd");
    std::string source = scratch.Write("in.bin", ToBytes("0123456789abcdef"));
    std::string target = scratch / "out.bin";
    Alloc(1, 32);
    for (int mode : {QV_IO_BUFFERED, QV_IO_UNBUFFERED}) {
        ASSERT_EQ(Call("SetIOMode", {Num(mode)}).code, 0);
        ASSERT_EQ(Call("OpenFile", {Num(1), Str(source)}).code, 0);
        ASSERT_EQ(Call("OpenFile", {Num(2), Str(target), Num(QV_MODE_WRITE)}).code, 0);
        EXPECT_EQ(Call("Seek", {Num(1), Num(4)}).code, 0);
        EXPECT_EQ(Call("ReadMem", {Num(1), Num(1), Num(8), Num(10)}).code, 0);
        EXPECT_EQ(Call("FilePos", {Num(1)}).Number(), 12);
        EXPECT_EQ(Call("ReadMem", {Num(1), Num(1), Num(8)}).code, ERR_READ);  // 4 bytes left
        EXPECT_EQ(Call("FilePos", {Num(1)}).Number(), 16);
        EXPECT_EQ(Call("WriteMem", {Num(2), Num(1), Num(8), Num(10)}).code, 0);
        EXPECT_EQ(Call("WriteMem", {Num(2), Num(1), Num(4), Num(0)}).code, 0);
        EXPECT_EQ(Call("FilePos", {Num(2)}).Number(), 12);
        EXPECT_EQ(Call("FileLength", {Num(2)}).Number(), 12);
        EXPECT_EQ(Call("WriteMem", {Num(1), Num(1), Num(4)}).code, ERR_READONLY);
        EXPECT_EQ(Call("ReadMem", {Num(2), Num(1), Num(4)}).code, ERR_WRITEONLY);
        EXPECT_EQ(Call("ReadMem", {Num(1), Num(1), Num(4), Num(-1)}).code, ERR_WRONGUSAGE);
        EXPECT_EQ(Call("WriteMem", {Num(2), Num(1), Num(4), Num(30)}).code, ERR_MEMRANGE);
        EXPECT_EQ(Call("ReadMem", {Num(7), Num(1), Num(4)}).code, ERR_FINDFILE);
        ASSERT_EQ(Call("CloseFile", {Num(2)}).code, 0);
        ASSERT_EQ(Call("CloseFile", {Num(1)}).code, 0);
        std::string expected = scratch.Write("expected.bin", ToBytes("456789ab"));
        ToolRun head = RunTool("xxd -p -l 8 " + target);
        EXPECT_EQ(head.output, "3435363738396162\n");
        EXPECT_EQ(RunTool("cmp -n 8 " + expected + " " + target).status, 0) << mode;
    }
}

TEST_F(MemBlocks, DumpText) {
    Alloc(1, 20);
    ASSERT_EQ(Call("Poke", {Num(1), Num(0), Str("Hello, dump!\t\x01"), Num(kString)}).code, 0);
    ASSERT_EQ(Call("FillMem", {Num(1), Num(0xFF), Num(5), Num(15)}).code, 0);
    std::string before = DebugText();
    ASSERT_EQ(Call("DumpMem", {Num(1)}).code, 0);
    EXPECT_EQ(DebugText().substr(before.size()),
              "00000000: 48 65 6c 6c 6f 2c 20 64 75 6d 70 21 09 01 00 ff Hello, dump!...\xff\n"
              "00000010: ff ff ff ff                                     \xff\xff\xff\xff\n");
    before = DebugText();
    ASSERT_EQ(Call("DumpMem", {Num(1), Num(2), Num(4)}).code, 0);
    EXPECT_EQ(DebugText().substr(before.size()),
              "00000004: 6f 2c                                           o,\n");
}

}  // namespace
}  // namespace qv::testing
