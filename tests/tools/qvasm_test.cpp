#include "tools/qvasm/qvasm.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "tools/qvasm/chunk_image.h"
#include "tools/qvasm/literals.h"

namespace qv {
namespace {

ChunkImage Image(const AssembleResult& r) {
    std::string error;
    auto image = ReadChunkImage(r.bytes, &error);
    EXPECT_TRUE(image) << error;
    return image.value_or(ChunkImage{});
}

ChunkFunction AssembleMain(const std::string& text) {
    const AssembleResult r = Assemble(text);
    for (const AsmDiagnostic& d : r.diagnostics) ADD_FAILURE() << d.line << ": " << d.message;
    return Image(r).main;
}

// The code of a main function holding the given lines.
std::vector<uint32_t> Code(const std::string& body, const std::string& attributes = "") {
    return AssembleMain(".function main " + attributes + "\n" + body + "\n.end\n").code;
}

TEST(Qvasm, GoldenBytes) {
    const AssembleResult r =
        Assemble(".function main maxstack=2\n.source \"=test\"\nRETURN r0 1\n.end\n");
    const std::vector<uint8_t> expected = {
        0x1B, 0x51, 0x56, 0x42, 0x00, 0x04, 0x04, 0x04, 0x06, 0x08, 0x09, 0x09, 0x08, 0x41, 0x7D,
        0xF5, 0xE7, 0x68, 0x93, 0x09, 0xB6,      // header
        0, 0, 0, 6, '=', 't', 'e', 's', 't', 0,  // source
        0, 0, 0, 0,                              // line defined
        0, 0, 0, 2,                              // upvalues, parameters, vararg, maxstack
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,      // line info, locals,
                                                 // upvalue names
        0, 0, 0, 0, 0, 0, 0, 0,                  // constants, nested functions
        0, 0, 0, 1, 0x00, 0x00, 0x80, 0x22,      // code
    };
    EXPECT_EQ(r.bytes, expected);
    // Little-endian: the same fields with their bytes reversed.
    const AssembleResult le =
        Assemble(".function main maxstack=2\n.source \"=test\"\nRETURN r0 1\n.end\n",
                 {.littleEndian = true});
    ASSERT_EQ(le.bytes.size(), 67u);
    EXPECT_EQ(le.bytes[4], 1);
    EXPECT_EQ(std::vector<uint8_t>(le.bytes.end() - 4, le.bytes.end()),
              (std::vector<uint8_t>{0x22, 0x80, 0x00, 0x00}));
}

TEST(Qvasm, InstructionForms) {
    struct Case {
        const char* line;
        uint32_t word;
    };
    const Case cases[] = {
        {"MOVE r1 r2", CreateABC(OP_MOVE, 1, 2, 0)},
        {"move R1 r300", CreateABC(OP_MOVE, 1, 300, 0)},
        {"LOADK r0 k7", CreateABx(OP_LOADK, 0, 7)},
        {"LOADK r0 k262143", CreateABx(OP_LOADK, 0, 262143)},
        {"LOADBOOL r2 1 1", CreateABC(OP_LOADBOOL, 2, 1, 1)},
        {"LOADNIL r0 r3", CreateABC(OP_LOADNIL, 0, 3, 0)},
        {"GETUPVAL r0 u3", CreateABC(OP_GETUPVAL, 0, 3, 0)},
        {"GETTABLE r0 r1 k261", CreateABC(OP_GETTABLE, 0, 1, 511)},
        {"GETTABLE r0 r1 r249", CreateABC(OP_GETTABLE, 0, 1, 249)},
        {"SETTABLE r0 k0 r1", CreateABC(OP_SETTABLE, 0, 250, 1)},
        {"NEWTABLE r0 11 3", CreateABC(OP_NEWTABLE, 0, 11, 3)},
        {"POW r255 r1 r2", CreateABC(OP_POW, 255, 1, 2)},
        {"BNOT r0 r1", CreateABC(OP_BNOT, 0, 1, 0)},
        {"CONCAT r0 r1 r3", CreateABC(OP_CONCAT, 0, 1, 3)},
        {"EQ 1 r0 k1", CreateABC(OP_EQ, 1, 0, 251)},
        {"TEST r0 r1 1", CreateABC(OP_TEST, 0, 1, 1)},
        {"CALL r0 0 0", CreateABC(OP_CALL, 0, 0, 0)},
        {"TAILCALL r1 2 0", CreateABC(OP_TAILCALL, 1, 2, 0)},
        {"RETURN r0 1", CreateABC(OP_RETURN, 0, 1, 0)},
        {"RETURN r1 2 3", CreateABC(OP_RETURN, 1, 2, 3)},
        {"RETSUB", CreateABC(OP_RETURN, 0, 0, 1)},
        {"TFORLOOP r0 2", CreateABC(OP_TFORLOOP, 0, 0, 2)},
        {"SETLIST r0 33", CreateABx(OP_SETLIST, 0, 33)},
        {"SETLISTO r0 262143", CreateABx(OP_SETLISTO, 0, 262143)},
        {"CLOSE r4", CreateABC(OP_CLOSE, 4, 0, 0)},
        {"SELF r0 r1 k2", CreateABC(OP_SELF, 0, 1, 252)},
        {".word 0xDEADBEEF", 0xDEADBEEF},
        {"here: JMP here", CreateJ(OP_JMP, -1, 0)},
        {"JMP next m=3\nnext:", CreateJ(OP_JMP, 0, 3)},
        {"JSR next\nnext:", CreateJ(OP_JMP, 0, kJumpSubroutine)},
        {"FORLOOP r0 next\nnext:", CreateAsBx(OP_FORLOOP, 0, 0)},
        {"back: TFORPREP r1 back", CreateAsBx(OP_TFORPREP, 1, -1)},
    };
    for (const Case& c : cases) {
        const auto code = Code(c.line, "maxstack=9");
        ASSERT_FALSE(code.empty()) << c.line;
        EXPECT_EQ(code[0], c.word) << c.line;
    }
}

TEST(Qvasm, LiteralConstantsFollowExplicitOnesAndAreShared) {
    const ChunkFunction f = AssembleMain(R"(.function main
        LOADK r0 "x"
        ADD r0 r0 2
        SUB r0 r0 -0
        MUL r0 r0 0
        LOADK r1 "x"
        LOADK r1 nil
        .const 2
        .rawconst 9
        .const 2
        LOADK r1 0x10
        RETURN r0 1
        .end)");
    ASSERT_EQ(f.constants.size(), 8u);
    // Explicit constants first, in order, duplicates kept; a raw record is never shared.
    EXPECT_EQ(f.constants[0].number, 2);
    EXPECT_FALSE(f.constants[1].payload);
    EXPECT_EQ(f.constants[1].tag, 9);
    EXPECT_EQ(f.constants[2].number, 2);
    EXPECT_EQ(f.constants[3].text, "x");
    EXPECT_TRUE(std::signbit(f.constants[4].number));  // -0 and 0 differ by bit pattern
    EXPECT_FALSE(std::signbit(f.constants[5].number));
    EXPECT_EQ(f.constants[6].tag, chunk::kTagNil);
    EXPECT_EQ(f.constants[7].number, 16);
    EXPECT_EQ(f.code[0], CreateABx(OP_LOADK, 0, 3));
    EXPECT_EQ(f.code[1], CreateABC(OP_ADD, 0, 0, RKOfConst(0)));
    EXPECT_EQ(f.code[4], CreateABx(OP_LOADK, 1, 3));
}

TEST(Qvasm, DefaultMaxStackCoversImpliedRegisters) {
    struct Case {
        const char* body;
        int maxstack;
    };
    const Case cases[] = {
        {"RETURN r0 1", 2},
        {"MOVE r0 r5", 6},
        {"CALL r3 4 1", 7},  // arguments up to r6
        {"CALL r3 1 5", 7},  // results up to r6
        {"TAILCALL r1 0 0", 2},
        {"RETURN r2 5", 6},
        {"RETURN r2 5 1", 3},  // a subroutine return names no values
        {"CONCAT r0 r1 r9", 10},
        {"LOADNIL r0 r7", 8},
        {"SETLIST r1 35", 6},
        {"SELF r4 r0 k0", 6},
        {"L: FORLOOP r3 L", 6},
        {"L: TFORPREP r3 L", 5},
        {"TFORLOOP r2 3", 11},
        {"GETTABLE r0 r0 r12", 13},
        {"EQ 9 r0 r0", 2},  // EQ's A is a flag, not a register
        {".function f\n.upval a\n.end\nCLOSURE r0 f r20", 21},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AssembleMain(std::string(".function main\n") + c.body + "\n.end").maxstack,
                  c.maxstack)
            << c.body;
    }
}

TEST(Qvasm, FunctionAttributesAndNesting) {
    const AssembleResult r = Assemble(R"(.function main line=7 params=2 vararg
.source "@app"
.label start
.function a
.source "@app"
.nups 2
.upval x
RETURN r0 1
.end
.function b line=3 maxstack=40
.source "@other"
.function c
RETURN r0 1
.end
RETURN r0 1
.end
.label body
CLOSURE r0 b
.line 12
RETURN r0 1
.end
)");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.labels, (std::map<std::string, int>{{"body", 0}, {"start", 0}}));
    const ChunkFunction main = Image(r).main;
    EXPECT_EQ(main.source, "@app");
    EXPECT_EQ(main.lineDefined, 7u);
    EXPECT_EQ(main.numparams, 2);
    EXPECT_EQ(main.isVararg, 1);
    EXPECT_EQ(main.lineinfo, (std::vector<uint32_t>{0, 12}));
    ASSERT_EQ(main.protos.size(), 2u);
    const ChunkFunction& a = main.protos[0];
    EXPECT_FALSE(a.source);  // equal to the parent's: not written
    EXPECT_EQ(a.lineDefined, 4u);
    EXPECT_EQ(a.nups, 2);  // .nups wins over the names
    EXPECT_EQ(a.upvalueNames, (std::vector<ChunkString>{"x"}));
    const ChunkFunction& b = main.protos[1];
    EXPECT_EQ(b.source, "@other");
    EXPECT_EQ(b.lineDefined, 3u);
    EXPECT_EQ(b.maxstack, 40);
    ASSERT_EQ(b.protos.size(), 1u);
    EXPECT_FALSE(b.protos[0].source);
    EXPECT_EQ(main.code[0], CreateABx(OP_CLOSURE, 0, 1));
}

TEST(Qvasm, LocalsTakeLabelsOrPcs) {
    const ChunkFunction f = AssembleMain(R"(.function main
.local i first 5
.local "odd name" -1 last
first: LOADNIL r0 r1
last:
RETURN r0 1
.end)");
    ASSERT_EQ(f.locals.size(), 2u);
    EXPECT_EQ(f.locals[0].name, "i");
    EXPECT_EQ(f.locals[0].startpc, 0u);
    EXPECT_EQ(f.locals[0].endpc, 5u);
    EXPECT_EQ(f.locals[1].name, "odd name");
    EXPECT_EQ(f.locals[1].startpc, 0xFFFFFFFFu);
    EXPECT_EQ(f.locals[1].endpc, 1u);
}

TEST(Qvasm, ClosureCaptures) {
    const ChunkFunction f = AssembleMain(R"(.function main
.upval outer
.function inner
.upval a
.upval b
RETURN r0 1
.end
CLOSURE r1 inner r3 u0
RETURN r0 1
.end)");
    ASSERT_EQ(f.code.size(), 4u);
    EXPECT_EQ(f.code[1], CreateABC(OP_MOVE, 0, 3, 0));
    EXPECT_EQ(f.code[2], CreateABC(OP_GETUPVAL, 0, 0, 0));
}

TEST(Qvasm, Diagnostics) {
    struct Case {
        const char* text;
        int line;
        const char* message;
    };
    const Case cases[] = {
        {".function main\nFOO r0\n.end", 2, "unknown instruction FOO"},
        {".function main\nMOVE r256 r0\n.end", 2, "does not fit"},
        {".function main\nMOVE r0 r512\n.end", 2, "does not fit"},
        {".function main\nADD r0 r250 r0\n.end", 2, "RK operand"},
        {".function main\nADD r0 k262 r0\n.end", 2, "beyond k261"},
        {".function main\nJMP nowhere\n.end", 2, "unknown label"},
        {".function main\nMOVE r0\n.end", 2, "takes 2 operands"},
        {".function main\nLOADBOOL r0 512 0\n.end", 2, "out of range"},
        {".function main\nJMP x m=4\nx:\n.end", 2, "out of range"},
        {".function main\n.function f\n.upval a\n.end\nCLOSURE r0 f\n.end", 5, "needs 1 captures"},
        {".function main\nCLOSURE r0 g\n.end", 2, "no nested function 'g'"},
        {".function main\nx:\nx:\n.end", 3, "defined twice"},
        {".function main\n.function f\n.label l\n.end\n.end", 3, "main function"},
        {".function main\n.end\n.header int=5", 3, "before the first"},
        {".function main\n.end\n.function again\n.end", 3, "one main function"},
        {".function main\nLOADK r0 \"abc\n.end", 2, "unterminated string"},
        {".function main\nLOADK r0 \"a\\q\"\n.end", 2, "unknown escape"},
        {".function main\nLOADK r0 \"\\x4\"\n.end", 2, "two hexadecimal digits"},
        {".function main\nLOADK r0 abc\n.end", 2, "expected a constant"},
        {".function main\nMOVE r0 r300\n.end", 3, "give maxstack="},
        {".function main\nRETURN r0 1", 2, "has no .end"},
        {"MOVE r0 r1", 1, "outside a function"},
        {".function main params=256\n.end", 1, "out of range"},
        {".function main\n.bogus 1\n.end", 2, "unknown directive"},
    };
    for (const Case& c : cases) {
        const AssembleResult r = Assemble(c.text);
        ASSERT_FALSE(r.ok()) << c.text;
        EXPECT_TRUE(r.bytes.empty());
        EXPECT_EQ(r.diagnostics[0].line, c.line) << c.text;
        EXPECT_NE(r.diagnostics[0].message.find(c.message), std::string::npos)
            << c.text << " -> " << r.diagnostics[0].message;
    }
}

TEST(Qvasm, JumpReach) {
    // A jump offset must fit J (24 bits) and a loop's sBx (18 bits).
    std::string body = "FORLOOP r0 end\n";
    for (int i = 0; i < 131072; ++i) body += ".word 0\n";
    body += "end: RETURN r0 1\n";
    EXPECT_TRUE(Assemble(".function main\n" + body + ".end").ok());
    const AssembleResult r =
        Assemble(".function main\nFORLOOP r0 end\n.word 0\n" + body.substr(15) + ".end");
    ASSERT_FALSE(r.ok());
    EXPECT_NE(r.diagnostics[0].message.find("out of reach"), std::string::npos);
}

TEST(Qvasm, HeaderOverrides) {
    const AssembleResult r =
        Assemble(".header order=le num=4 testnum=31415926.9 a=7\n.function main\n.end");
    ASSERT_TRUE(r.ok());
    const ChunkImage image = Image(r);
    EXPECT_EQ(image.header.order, chunk::kOrderLittle);
    EXPECT_EQ(image.header.sizes[7], 4);
    EXPECT_EQ(image.header.sizes[4], 7);
    EXPECT_EQ(image.header.testNumber, 31415926.9);
}

// Text that disassembles to itself and assembles back to the same bytes.
TEST(Qvasm, DisassemblyRoundTrips) {
    const char* listings[] = {
        R"(.header order=le int=5 testnum=-0
.function main params=1 vararg maxstack=12 line=0
.source "=t\0\n"
.nups 3
.upval a
.upval "two words"
.const nil
.const -0
.const nan
.const -inf
.const 1e+300
.const 5e-324
.const "s"
.rawconst 9
.local i 0 9
.local nil -3 4
.function p0 params=0 maxstack=2 line=4
.upval x
.function p0_0 params=0 vararg=7 maxstack=2 line=-1
.source "=other"
    RETURN r0 1
.end
    CLOSURE r0 p0_0
    RETURN r0 1
.end
L0:
.line 0
    CLOSURE r1 p0 r2
.line 5
    EQ 0 k1 r3
    JMP L0 m=1
    JSR L12
    FORLOOP r4 L0
L6:
    TFORPREP r4 L6
    TFORLOOP r1 3
    RETSUB
    RETURN r0 0 2
    .word 0x000000FF
    .word 0x00000040
L12:
    RETURN r0 1
.end
)",
        R"(.function main params=0 maxstack=2 line=0
.source nil
.function p0 params=0 maxstack=2 line=0
.upval a
    RETURN r0 1
.end
    CLOSURE r0 p0 u1
    JMP L4
    RETURN r0 1
L4:
.end
)",
    };
    for (const char* text : listings) {
        const AssembleResult r = Assemble(text);
        for (const AsmDiagnostic& d : r.diagnostics) ADD_FAILURE() << d.line << ": " << d.message;
        const DisassembleResult d = Disassemble(r.bytes);
        ASSERT_TRUE(d.ok()) << d.error;
        EXPECT_EQ(d.text, text);
        EXPECT_EQ(Assemble(d.text).bytes, r.bytes);
    }
}

// Words that no form can write come out as .word, so the bytes still round trip.
TEST(Qvasm, DisassemblyFallsBackToWords) {
    const AssembleResult r = Assemble(R"(.function main maxstack=9
.function f
.upval a
.end
.word 0x00000040      ; MOVE with C set
.word 0x0000002B      ; opcode 43
.word 0x0000001B      ; JMP far before the code
.word 0x00000029      ; CLOSURE f ...
cap: MOVE r0 r1       ; ... whose capture is a jump target
JMP cap
.word 0x00000069      ; CLOSURE of a missing function
.word 0x00000029      ; CLOSURE f followed by a non-capture
.word 0x00004001
RETURN r0 1
.end)");
    ASSERT_TRUE(r.ok());
    const DisassembleResult d = Disassemble(r.bytes);
    ASSERT_TRUE(d.ok());
    EXPECT_NE(d.text.find(".word 0x00000040"), std::string::npos) << d.text;
    EXPECT_NE(d.text.find(".word 0x0000002B"), std::string::npos);
    EXPECT_NE(d.text.find(".word 0x0000001B"), std::string::npos);
    EXPECT_NE(d.text.find(".word 0x00000069"), std::string::npos);
    EXPECT_NE(d.text.find(".word 0x00000029"), std::string::npos);
    EXPECT_EQ(Assemble(d.text).bytes, r.bytes);
}

TEST(Qvasm, DisassemblerRefusesBrokenStructure) {
    const AssembleResult r = Assemble(".function main\n.const \"abc\"\nRETURN r0 1\n.end");
    ASSERT_TRUE(r.ok());
    for (size_t n : {size_t{0}, size_t{3}, size_t{21}, r.bytes.size() - 1}) {
        const DisassembleResult d = Disassemble(std::span<const uint8_t>(r.bytes).first(n));
        EXPECT_FALSE(d.ok()) << n;
    }
    std::vector<uint8_t> lie = r.bytes;
    lie[lie.size() - 8] = 0x7F;  // code count far beyond the input
    EXPECT_NE(Disassemble(lie).error.find("beyond"), std::string::npos);
}

TEST(Literals, Numbers) {
    struct Case {
        const char* text;
        uint64_t bits;
        const char* canonical;
    };
    const Case cases[] = {
        {"12", std::bit_cast<uint64_t>(12.0), "12"},
        {"-3.5", std::bit_cast<uint64_t>(-3.5), "-3.5"},
        {"0x1F", std::bit_cast<uint64_t>(31.0), "31"},
        {"-0x10", std::bit_cast<uint64_t>(-16.0), "-16"},
        {"1e300", std::bit_cast<uint64_t>(1e300), "1e+300"},
        {"-0", 0x8000000000000000, "-0"},
        {"nan", 0x7FF8000000000000, "nan"},
        {"-nan", 0xFFF8000000000000, "-nan"},
        {"inf", 0x7FF0000000000000, "inf"},
        {"-inf", 0xFFF0000000000000, "-inf"},
        {"5e-324", 1, "5e-324"},
        {"0.1", std::bit_cast<uint64_t>(0.1), "0.1"},
        {".5", std::bit_cast<uint64_t>(0.5), "0.5"},
    };
    for (const Case& c : cases) {
        const auto n = ParseNumber(c.text);
        ASSERT_TRUE(n) << c.text;
        EXPECT_EQ(std::bit_cast<uint64_t>(*n), c.bits) << c.text;
        EXPECT_EQ(FormatNumber(*n), c.canonical);
    }
    for (const char* bad : {"", "-", "0x", "1e", "1e400", "infinity", "nan(1)", "12abc", "r1"}) {
        EXPECT_FALSE(ParseNumber(bad)) << bad;
    }
}

TEST(Literals, StringsQuoteEveryByte) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string quoted = QuoteString(all);
    const AssembleResult r = Assemble(".function main\n.const " + quoted + "\n.end");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(Image(r).main.constants[0].text, all);
}

}  // namespace
}  // namespace qv
