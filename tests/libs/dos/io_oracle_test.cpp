// File objects against Python: big-endian numbers (struct), lines, whole files (cmp) and
// random interleavings of reads, writes and seeks on read-write files (open(f, 'r+b')).
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>

#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string HexFloat(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    char text[64];
    std::snprintf(text, sizeof text, "%a", v);
    return text;
}

std::string RandomBytes(std::mt19937& rng, size_t n, const std::string& alphabet = "") {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out(n, '\0');
    for (char& c : out) {
        c = alphabet.empty() ? static_cast<char>(byte(rng))
                             : alphabet[static_cast<size_t>(byte(rng)) % alphabet.size()];
    }
    return out;
}

class IoOracle : public DosLib {
protected:
    void SetUp() override { QV_REQUIRE_TOOL("python3"); }
};

// The design's conversion (truncation toward zero, saturation, NaN as -2^31) is written out
// in Python; struct gives the bytes.
TEST_F(IoOracle, WrittenNumbersMatchStructPack) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> wide(-5e9, 5e9), narrow(-70000, 70000);
    std::vector<double> values = {std::numeric_limits<double>::quiet_NaN(),
                                  INFINITY,
                                  -INFINITY,
                                  2147483648.0,
                                  -2147483648.0,
                                  2147483647.5,
                                  -2147483649.0,
                                  70000,
                                  3e10,
                                  -0.0,
                                  0.99};
    for (int i = 0; i < 1200; ++i) values.push_back(i % 2 ? wide(rng) : narrow(rng));
    std::string path = scratch / "numbers.bin";
    Open(1, path, QV_MODE_WRITE);
    std::string input;
    for (double v : values) {
        for (const char* command : {"WriteShort", "WriteInt", "WriteFloat"}) {
            ASSERT_EQ(Call(command, {Num(1), Num(v)}).code, 0);
        }
        input += HexFloat(v) + "\n";
    }
    ASSERT_EQ(Call("CloseFile", {Num(1)}).code, 0);
    ToolRun py = RunPython(R"(
import math, struct, sys
out = []
for line in sys.stdin.read().split():
    v = float(line) if line in ('nan', 'inf', '-inf') else float.fromhex(line)
    if math.isnan(v): i = -2**31
    elif v >= 2**31: i = 2**31 - 1
    elif v <= -2**31: i = -2**31
    else: i = int(v)  # toward zero
    out.append(struct.pack('>H', i & 0xFFFF) + struct.pack('>i', i) + struct.pack('>d', v))
sys.stdout.write(b''.join(out).hex())
)",
                           input);
    ASSERT_EQ(py.status, 0);
    EXPECT_EQ(Hex(FileText(path)), py.output);
}

TEST_F(IoOracle, ReadNumbersMatchStructUnpack) {
    std::mt19937 rng(4);
    std::string bytes = RandomBytes(rng, 14 * 1000);
    std::string path = MakeFile("random.bin", bytes);
    for (int mode : {QV_IO_BUFFERED, QV_IO_UNBUFFERED}) {
        ASSERT_EQ(Call("SetIOMode", {Num(mode)}).code, 0);
        Open(1, path);
        std::vector<double> ours;
        for (int i = 0; i < 1000; ++i) {
            for (const char* command : {"ReadShort", "ReadInt", "ReadFloat"}) {
                ours.push_back(Call(command, {Num(1)}).Number());
            }
        }
        EXPECT_EQ(Call("Eof", {Num(1)}).Number(), 1);
        ToolRun py = RunPython(R"(
import struct, sys
data = bytes.fromhex(sys.stdin.read())
for k in range(0, len(data), 14):
    h, i, d = struct.unpack('>Hid', data[k:k + 14])
    print(h, i, d.hex())
)",
                               Hex(bytes));
        ASSERT_EQ(py.status, 0);
        std::vector<double> theirs;
        std::istringstream in(py.output);
        for (std::string word; in >> word;) theirs.push_back(std::strtod(word.c_str(), nullptr));
        ASSERT_EQ(ours.size(), theirs.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            bool same = ours[i] == theirs[i] || (std::isnan(ours[i]) && std::isnan(theirs[i]));
            ASSERT_TRUE(same) << "value " << i << ": " << ours[i] << " / " << theirs[i]
                              << " I/O mode " << mode;
        }
    }
}

// The lines of standard input as hexadecimal, one a line; with mode 'filelines' also cut at
// 1024 bytes (a line of a multiple of 1024 bytes ends with an empty piece when its line feed
// follows) and at the first NUL.
constexpr const char* kPythonLines = R"(
import sys
data = bytes.fromhex(sys.stdin.read())
d = data.replace(b'\r', b'')
lines = d.split(b'\n')
terminated = d.endswith(b'\n')
if terminated:
    lines.pop()
if data == b'':
    lines = []
out = []
for k, l in enumerate(lines):
    if mode == 'readline':
        out.append(l)
        continue
    ends = k < len(lines) - 1 or terminated
    pieces = [l[i:i + 1024] for i in range(0, len(l), 1024)] or [b'']
    if ends and len(l) > 0 and len(l) % 1024 == 0:
        pieces.append(b'')
    out += [p.split(b'\0')[0] for p in pieces]
print('\n'.join(x.hex() for x in out))
)";

TEST_F(IoOracle, LinesMatchPythonSplit) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> lineLength(0, 3000);
    for (int round = 0; round < 12; ++round) {
        std::string data;
        for (int l = 0; l < 20; ++l) {
            data += RandomBytes(rng, static_cast<size_t>(lineLength(rng) % (l % 3 ? 40 : 3000)),
                                std::string("ab\r\0xyz\r", 8)) +
                    "\n";
        }
        if (round % 2) data += "tail";  // a last line without its line feed
        if (round == 5) data = "q" + std::string(2047, 'r') + "\n" + std::string(1024, 's');
        std::string path = MakeFile("lines.txt", data);
        ToolRun readLines = RunPython("mode = 'readline'\n" + std::string(kPythonLines), Hex(data));
        ASSERT_EQ(readLines.status, 0);
        for (int mode : {QV_IO_BUFFERED, QV_IO_UNBUFFERED}) {
            ASSERT_EQ(Call("SetIOMode", {Num(mode)}).code, 0);
            Open(1, path);
            std::string ours;
            while (Call("Eof", {Num(1)}).Number() == 0)
                ours += Hex(Call("ReadLine", {Num(1)}).Text()) + "\n";
            EXPECT_EQ(ours, readLines.output) << "round " << round << " mode " << mode;
        }
        // FileLines: the same lines, cut at 1024 bytes and at the first NUL.
        ToolRun expected = RunPython("mode = 'filelines'\n" + std::string(kPythonLines), Hex(data));
        ASSERT_EQ(expected.status, 0);
        std::string ours;
        for (const CallResult& c : Iterate("FileLines", {Str(path)}, 100000)) {
            ASSERT_EQ(c.code, 0);
            if (!c.results.empty()) ours += Hex(c.Text()) + "\n";
        }
        EXPECT_EQ(ours, expected.output) << "round " << round;
    }
}

TEST_F(IoOracle, WholeFilesRoundTripAtBlockEdges) {
    QV_REQUIRE_TOOL("cmp");
    std::mt19937 rng(12);
    for (size_t size : {size_t{0}, size_t{16383}, size_t{16384}, size_t{16385}, size_t{5} << 20}) {
        std::string data = RandomBytes(rng, size);
        std::string source = MakeFile("source.bin", data), copy = scratch / "copy.bin";
        CallResult read = Call("FileToString", {Str(source)});
        ASSERT_EQ(read.code, 0);
        EXPECT_EQ(read.Number(1), size);
        EXPECT_TRUE(read.Text() == data) << size;
        ASSERT_EQ(Call("StringToFile", {Str(read.Text()), Str(copy)}).code, 0);
        EXPECT_EQ(RunTool("cmp " + source + " " + copy).status, 0) << size;
    }
    EXPECT_EQ(Call("FileToString", {Str(scratch / "none")}).code, ERR_READFILE);
    EXPECT_EQ(Call("StringToFile", {Str("x"), Str(scratch / "no/such/dir")}).code, ERR_WRITEFILE);
}

// Random reads, writes and seeks on a MODE_READWRITE file in both I/O modes: the bytes read
// and the file left behind equal Python's.
TEST_F(IoOracle, ReadWriteInterleavingsMatchPython) {
    std::mt19937 rng(21);
    for (int mode : {QV_IO_BUFFERED, QV_IO_UNBUFFERED}) {
        for (int round = 0; round < 4; ++round) {
            ASSERT_EQ(Call("SetIOMode", {Num(mode)}).code, 0);
            std::string initial = RandomBytes(rng, 30000);
            std::string ours = MakeFile("ours.bin", initial),
                        theirs = MakeFile("theirs.bin", initial);
            Open(1, ours, QV_MODE_READWRITE);
            int64_t size = 30000, pos = 0;
            std::ostringstream ops;
            std::string reads;
            std::uniform_int_distribution<int> op(0, 2), length(1, 20000);
            for (int i = 0; i < 200; ++i) {
                int kind = op(rng);
                if (kind == 0 && pos < size) {
                    int64_t n = std::min<int64_t>(length(rng) % 9000 + 1, size - pos);
                    reads += Hex(Call("ReadString", {Num(1), Num(static_cast<double>(n))}).Text()) +
                             "\n";
                    ops << "r " << n << "\n";
                    pos += n;
                } else if (kind == 1) {
                    std::string bytes = RandomBytes(
                        rng, static_cast<size_t>(length(rng) % (i % 5 ? 50 : 20000) + 1));
                    ASSERT_EQ(Call("WriteString", {Num(1), Str(bytes)}).code, 0);
                    ops << "w " << Hex(bytes) << "\n";
                    pos += static_cast<int64_t>(bytes.size());
                    size = std::max(size, pos);
                } else {
                    pos = std::uniform_int_distribution<int64_t>(0, size)(rng);
                    ASSERT_EQ(Call("Seek", {Num(1), Num(static_cast<double>(pos))}).code, 0);
                    ops << "s " << pos << "\n";
                }
            }
            EXPECT_EQ(Call("FileLength", {Num(1)}).Number(), size);
            ASSERT_EQ(Call("CloseFile", {Num(1)}).code, 0);
            MakeFile("ops.txt", ops.str());
            ToolRun python = RunTool("python3 " +
                                     MakeFile("replay.py",
                                              "import sys\n"
                                              "f = open(sys.argv[1], 'r+b')\n"
                                              "for line in open(sys.argv[2]):\n"
                                              "    op, arg = line.split()\n"
                                              "    if op == 'r': print(f.read(int(arg)).hex())\n"
                                              "    elif op == 'w': f.write(bytes.fromhex(arg))\n"
                                              "    else: f.seek(int(arg))\n"
                                              "f.close()\n") +
                                     " " + theirs + " " + scratch / "ops.txt");
            ASSERT_EQ(python.status, 0);
            EXPECT_EQ(reads, python.output) << "mode " << mode << " round " << round;
            EXPECT_TRUE(FileText(ours) == FileText(theirs))
                << "mode " << mode << " round " << round;
        }
    }
}

}  // namespace
}  // namespace qv::testing
