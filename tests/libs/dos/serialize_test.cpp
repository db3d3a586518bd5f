// Serialised tables and functions: round trips, the byte layout (checked by an independent
// Python reader and writer and by coreutils base64), and files that are cut, crafted or
// cyclic.
#include <cstdio>

#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

constexpr const char* kAddOne = R"(.function main params=1
    ADD r0 r0 1
    RETURN r0 2
.end
)";

class Serializer : public DosLib {
protected:
    // Writes value with command to a fresh file and returns the file's bytes.
    std::string Write(const char* command, const Arg& value, double text = 0) {
        std::string path = scratch / "record.bin";
        Open(1, path, QV_MODE_WRITE);
        last = Call(command, {Num(1), value, Num(text)});
        EXPECT_EQ(Call("CloseFile", {Num(1)}).code, 0);
        return FileText(path);
    }
    // Reads one record of the bytes with command.
    CallResult Read(const char* command, const std::string& bytes) {
        Open(2, MakeFile("in.bin", bytes));
        CallResult r = Call(command, {Num(2)});
        Call("CloseFile", {Num(2)});
        return r;
    }
    CallResult last;
};

TEST_F(Serializer, TablesRoundTrip) {
    std::string longKey(100000, 'k');
    Arg table = Table({
        {Num(1), Num(1)},
        {Num(2), Str("a")},
        {Num(3), Table({{Str("x"), Num(2)}})},
        {Str(std::string(256, 'a')), Str(std::string("nul\0byte", 8))},
        {Str(std::string(257, 'b')), Num(-0.5)},
        {Str(longKey), Table({{Num(0), Table({{Num(1.5), Str("deep")}})}})},
        {Str("flag"), Bool(true)},  // left out
        {Str("handle"), LightUserdata(this)},
    });
    std::string bytes = Write("WriteTable", table);
    ASSERT_EQ(last.code, 0);
    CallResult r = Read("ReadTable", bytes);
    ASSERT_EQ(r.code, 0);
    const Value& t = r.results[0];
    EXPECT_EQ(t.At(1)->number, 1);
    EXPECT_EQ(t.At(2)->text, "a");
    EXPECT_EQ(t.At(3)->Field("x")->number, 2);
    EXPECT_EQ(t.Field(std::string(256, 'a'))->text, std::string("nul\0byte", 8));
    EXPECT_EQ(t.Field(std::string(257, 'b'))->number, -0.5);
    EXPECT_EQ(t.Field(longKey)->At(0)->At(1.5)->text, "deep");
    EXPECT_EQ(t.Field("flag"), nullptr);
    EXPECT_EQ(t.Field("handle")->number, 0);
    EXPECT_EQ(t.entries.size(), 7u);

    EXPECT_EQ(Write("WriteTable", Table({})), std::string("QVT0\0", 5));
    CallResult empty = Read("ReadTable", std::string("QVT0\0", 5));
    ASSERT_EQ(empty.code, 0);
    EXPECT_TRUE(empty.results[0].entries.empty());
}

TEST_F(Serializer, WriteErrors) {
    Write("WriteTable", Table({{Table({}), Num(1)}}));
    EXPECT_EQ(last.code, ERR_WRONGUSAGE);
    Write("WriteTable", Num(5));
    EXPECT_EQ(last.code, ERR_TABEXPECTED);
    Write("WriteTable", Table({{Str("f"), Native([](qvVmState*) { return 0; })}}));
    EXPECT_EQ(last.code, ERR_NOQVFUNC);
    Write("WriteFunction", Native([](qvVmState*) { return 0; }));
    EXPECT_EQ(last.code, ERR_NOQVFUNC);
    Write("WriteFunction", Num(1));
    EXPECT_EQ(last.code, ERR_FUNCEXPECTED);
    Open(3, MakeFile("ro.bin", ""));
    EXPECT_EQ(Call("WriteTable", {Num(3), Table({})}).code, ERR_READONLY);
    Open(4, scratch / "wo.bin", QV_MODE_WRITE);
    EXPECT_EQ(Call("ReadTable", {Num(4)}).code, ERR_WRITEONLY);
    EXPECT_EQ(Call("ReadFunction", {Num(4)}).code, ERR_WRITEONLY);
}

// A table that holds itself, and nesting deeper than 200 levels.
TEST_F(Serializer, CyclesAndDepth) {
    std::string path = scratch / "cycle.bin";
    Open(1, path, QV_MODE_WRITE);
    VmSetTop(L, 0);
    VmNewTable(L);
    VmPushString(L, "self");
    VmPushValue(L, 1);
    VmRawSet(L, 1);
    VmPushString(L, "writetable");
    VmGetTable(L, VM_GLOBALSINDEX);
    VmPushNumber(L, 1);
    VmPushValue(L, 1);
    EXPECT_EQ(VmPCall(L, 2, 0, 0), ERR_WRONGUSAGE);
    VmSetTop(L, 0);
    Arg deep = Table({});
    for (int i = 0; i < 201; ++i) deep = Table({{Num(1), deep}});
    EXPECT_EQ(Call("WriteTable", {Num(1), deep}).code, ERR_STACK);
    // The same depth, made by hand, is refused by the reader.
    std::string bytes = "QVT0";
    for (int i = 0; i < 202; ++i) bytes += std::string("\x02\x3f\xf0\0\0\0\0\0\0\x04", 10);
    bytes += std::string(203, '\0');
    EXPECT_EQ(Read("ReadTable", bytes).code, ERR_READTABLE);
}

TEST_F(Serializer, FunctionsBinaryAndText) {
    for (double text : {0.0, 1.0}) {
        std::string bytes = Write("WriteFunction", Script(kAddOne), text);
        ASSERT_EQ(last.code, 0);
        EXPECT_EQ(bytes.substr(0, 4), text ? "QVF1" : "QVF0");
        CallResult r = Read("ReadFunction", bytes);
        ASSERT_EQ(r.code, 0) << text;
        ASSERT_EQ(r.results[0].type, VM_TFUNCTION);
    }
    // Functions inside tables, in both forms, read back.
    for (double text : {0.0, 1.0}) {
        std::string bytes =
            Write("WriteTable", Table({{Str("f"), Script(kAddOne)}, {Num(1), Str("x")}}), text);
        ASSERT_EQ(last.code, 0);
        CallResult r = Read("ReadTable", bytes);
        ASSERT_EQ(r.code, 0) << text;
        EXPECT_EQ(r.results[0].Field("f")->type, VM_TFUNCTION);
        EXPECT_EQ(r.results[0].At(1)->text, "x");
    }
    EXPECT_EQ(Read("ReadFunction", "QVF2").code, ERR_READFUNC);
    EXPECT_EQ(Read("ReadTable", std::string("QVF0\0\0\0\0", 8)).code, ERR_READTABLE);
    EXPECT_EQ(Read("ReadFunction", "QVF100000004AB!=").code, ERR_BADBASE64);
    EXPECT_EQ(Read("ReadFunction", "QVF10000000xABCD").code, ERR_BADBASE64);
    EXPECT_EQ(Read("ReadFunction", "").code, ERR_READRANGE);
}

// The count of a text function is read as hexadecimal in either case; line feeds pad the
// text until the count has a letter digit.
TEST_F(Serializer, TextCountsInUpperCase) {
    std::string record = Write("WriteFunction", Script(kAddOne), 1);
    ASSERT_EQ(last.code, 0);
    std::string text = record.substr(12);
    while (text.size() % 16 < 10) text += '\n';
    char count[9];
    std::snprintf(count, sizeof count, "%.8lX", static_cast<unsigned long>(text.size()));
    CallResult r = Read("ReadFunction", "QVF1" + std::string(count) + text);
    ASSERT_EQ(r.code, 0) << count;
    EXPECT_EQ(r.results[0].type, VM_TFUNCTION);
}

// The text form is coreutils' base64 of the chunk in lines of 72 without the final line
// feed, and its count is that text's length.
TEST_F(Serializer, TextFormEqualsCoreutilsBase64) {
    QV_REQUIRE_TOOL("base64");
    std::string listing = ".function main params=1\n";
    for (int i = 0; i < 60; ++i) listing += "    LOADK r1 \"constant " + std::to_string(i) + "\"\n";
    listing += "    RETURN r0 2\n.end\n";
    std::string binary = Write("WriteFunction", Script(listing), 0);
    std::string text = Write("WriteFunction", Script(listing), 1);
    ASSERT_EQ(last.code, 0);
    std::string chunk = binary.substr(8);
    std::string chunkFile = MakeFile("chunk.bin", chunk);
    ToolRun encoded = RunTool("base64 -w 72 " + chunkFile);
    ASSERT_EQ(encoded.status, 0);
    std::string expected = encoded.output.substr(0, encoded.output.size() - 1);
    ASSERT_GT(expected.size(), 144u);  // several lines
    char count[9];
    std::snprintf(count, sizeof count, "%.8lx", static_cast<unsigned long>(expected.size()));
    EXPECT_EQ(text, "QVF1" + std::string(count) + expected);
}

// Cut at every length, a record reads as an error, never as a crash.
TEST_F(Serializer, TruncatedFilesFail) {
    std::string bytes =
        Write("WriteTable",
              Table({{Str("key"), Table({{Num(1), Str("value")}})}, {Num(2), Script(kAddOne)}}));
    ASSERT_EQ(last.code, 0);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        int code = Read("ReadTable", bytes.substr(0, cut)).code;
        EXPECT_TRUE(code == ERR_READRANGE || code == ERR_READ || code == ERR_READTABLE)
            << "cut at " << cut << ": " << code;
    }
    std::string function = Write("WriteFunction", Script(kAddOne), 1);
    for (size_t cut = 0; cut < function.size(); ++cut) {
        int code = Read("ReadFunction", function.substr(0, cut)).code;
        EXPECT_NE(code, 0) << "cut at " << cut;
    }
}

TEST_F(Serializer, CraftedLengthsAndTags) {
    struct Case {
        std::string bytes;
        int code;
    } cases[] = {
        {std::string("QVT0\x03\xff\xff\xff\xf0", 9), ERR_READRANGE},  // a key of 4 GiB
        {std::string("QVT0\x03\0\0\0\x01k\x03\x7f\xff\xff\xff", 15), ERR_READRANGE},
        {std::string("QVT0\x07", 5), ERR_READTABLE},                           // unknown key tag
        {std::string("QVT0\x02\x7f\xf8\0\0\0\0\0\0\x02", 14), ERR_READTABLE},  // NaN key
        {std::string("QVT0\x03\0\0\0\x01k\x09", 11), ERR_READTABLE},           // unknown value tag
        {std::string("QVT0\x03\0\0\0\x01k\x05\x7f\xff\xff\xff", 15), ERR_READRANGE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Read("ReadTable", c.bytes).code, c.code) << c.bytes.size();
    }
    EXPECT_EQ(Read("ReadFunction", std::string("QVF0\x7f\xff\xff\xff", 8)).code, ERR_READRANGE);
}

// The byte layout, read and written by a Python program built from the format alone.
TEST_F(Serializer, InteroperatesWithAnIndependentPythonCodec) {
    QV_REQUIRE_TOOL("python3");
    const char* codec = R"(
import struct, sys
def read_body(b, i):
    out = {}
    while True:
        tag = b[i]; i += 1
        if tag == 0:
            return out, i
        if tag == 2:
            key = struct.unpack('>d', b[i:i + 8])[0]; i += 8
        else:
            n = struct.unpack('>I', b[i:i + 4])[0]; key = b[i + 4:i + 4 + n].decode('latin-1'); i += 4 + n
        tag = b[i]; i += 1
        if tag == 2:
            val = struct.unpack('>d', b[i:i + 8])[0]; i += 8
        elif tag == 3:
            n = struct.unpack('>I', b[i:i + 4])[0]; val = b[i + 4:i + 4 + n].decode('latin-1'); i += 4 + n
        else:
            val, i = read_body(b, i)
        out[key] = val
def write_body(d):
    out = b''
    for k, v in d.items():
        out += (b'\x02' + struct.pack('>d', k)) if isinstance(k, float) else (b'\x03' + struct.pack('>I', len(k)) + k.encode('latin-1'))
        if isinstance(v, float): out += b'\x02' + struct.pack('>d', v)
        elif isinstance(v, str): out += b'\x03' + struct.pack('>I', len(v)) + v.encode('latin-1')
        else: out += b'\x04' + write_body(v)
    return out + b'\x00'
data = sys.stdin.buffer.read()
assert data[:4] == b'QVT0'
table, end = read_body(data, 4)
assert end == len(data)
table['python'] = {'answer': 42.0, 2.5: 'x'}
sys.stdout.buffer.write((b'QVT0' + write_body(table)).hex().encode())
)";
    std::string ours = Write(
        "WriteTable", Table({{Num(1), Str("one")}, {Str("nested"), Table({{Num(7), Num(-3)}})}}));
    ToolRun py = RunPython(codec, ours);
    ASSERT_EQ(py.status, 0);
    std::string theirs;
    for (size_t i = 0; i + 1 < py.output.size(); i += 2) {
        theirs += static_cast<char>(std::stoi(py.output.substr(i, 2), nullptr, 16));
    }
    CallResult r = Read("ReadTable", theirs);
    ASSERT_EQ(r.code, 0);
    const Value& t = r.results[0];
    EXPECT_EQ(t.At(1)->text, "one");
    EXPECT_EQ(t.Field("nested")->At(7)->number, -3);
    EXPECT_EQ(t.Field("python")->Field("answer")->number, 42);
    EXPECT_EQ(t.Field("python")->At(2.5)->text, "x");
}

// Several records follow one another in one file; positions and sizes follow every byte.
TEST_F(Serializer, RecordsFollowEachOther) {
    std::string path = scratch / "many.bin";
    for (int mode : {QV_IO_BUFFERED, QV_IO_UNBUFFERED}) {
        ASSERT_EQ(Call("SetIOMode", {Num(mode)}).code, 0);
        Open(1, path, QV_MODE_WRITE);
        ASSERT_EQ(Call("WriteTable", {Num(1), Table({{Num(1), Num(10)}})}).code, 0);
        ASSERT_EQ(Call("WriteFunction", {Num(1), Script(kAddOne), Num(1)}).code, 0);
        ASSERT_EQ(Call("WriteTable", {Num(1), Table({{Num(1), Num(20)}})}).code, 0);
        double size = Call("FileLength", {Num(1)}).Number();
        EXPECT_EQ(Call("FilePos", {Num(1)}).Number(), size);
        ASSERT_EQ(Call("CloseFile", {Num(1)}).code, 0);
        Open(2, path);
        EXPECT_EQ(Call("ReadTable", {Num(2)}).results[0].At(1)->number, 10);
        EXPECT_EQ(Call("ReadFunction", {Num(2)}).results[0].type, VM_TFUNCTION);
        EXPECT_EQ(Call("ReadTable", {Num(2)}).results[0].At(1)->number, 20);
        EXPECT_EQ(Call("Eof", {Num(2)}).Number(), 1);
        EXPECT_EQ(Call("ReadTable", {Num(2)}).code, ERR_READRANGE);
    }
}

}  // namespace
}  // namespace qv::testing
