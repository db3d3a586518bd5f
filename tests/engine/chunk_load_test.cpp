#include <gtest/gtest.h>

#include "engine/chunk.h"
#include "engine/opcodes.h"
#include "platform/linux/memory.h"
#include "tests/engine/chunk_test_support.h"
#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

using ChunkLoad = EngineTest;

std::string Main(const std::string& body, const std::string& attributes = "") {
    return ".function main " + attributes + "\n" + body + "\nRETURN r0 1\n.end\n";
}

// A listing that uses every part of the record.
const char* const kFullListing = R"(.function main params=1 vararg maxstack=6 line=0
.source "@full"
.const nil
.const -0
.const "text\0with NUL"
.local a first last
.local b 1 2
.function counter params=2 line=9
.upval n
.function deepest
.source "=elsewhere"
    RETURN r0 1
.end
    GETUPVAL r0 u0
    ADD r0 r0 1
    SETUPVAL r0 u0
    CLOSURE r1 deepest
    RETURN r0 2
.end
.line 4
first:
    CLOSURE r0 counter r1
.line 5
    GETGLOBAL r2 "print"
    EQ 1 r2 nil
    JMP last
    CALL r2 1 0
    RETURN r2 0
last:
    RETURN r0 1
.end
)";

TEST_F(ChunkLoad, PushesAScriptClosureOverTheGlobals) {
    const int top = static_cast<int>(L->top - L->base);
    ASSERT_EQ(Load(L, AssembleOrFail(kFullListing)), 0);
    ASSERT_EQ(L->top - L->base, top + 1);
    const qvValue* f = L->top - 1;
    ASSERT_TRUE(IsFunction(f));
    qvLClosure* cl = LClosureOf(f);
    EXPECT_FALSE(cl->isNative);
    EXPECT_EQ(cl->nupvalues, 0);
    EXPECT_EQ(cl->env.value.gc, L->globals.value.gc);
    const qvProto* p = cl->proto;
    EXPECT_STREQ(p->source->Data(), "@full");
    EXPECT_EQ(p->numparams, 1);
    EXPECT_EQ(p->isVararg, 1);
    EXPECT_EQ(p->sizecode, 8);
    EXPECT_EQ(p->sizelineinfo, 8);
    EXPECT_EQ(p->lineinfo[1], 4);
    EXPECT_EQ(p->lineinfo[2], 5);
    ASSERT_EQ(p->sizek, 4);  // the literal nil shares the explicit one
    EXPECT_EQ(p->k[2].tag, VM_TSTRING);
    EXPECT_EQ(StringOf(&p->k[2])->length, 13u);
    EXPECT_EQ(p->k[3].tag, VM_TSTRING);  // "print", after the explicit constants
    ASSERT_EQ(p->sizelocvars, 2);
    EXPECT_STREQ(p->locvars[0].name->Data(), "a");
    EXPECT_EQ(p->locvars[0].endpc, 7);
    ASSERT_EQ(p->sizep, 1);
    const qvProto* counter = p->p[0];
    EXPECT_EQ(counter->source, p->source);  // inherited
    EXPECT_EQ(counter->lineDefined, 9);
    EXPECT_EQ(counter->nups, 1);
    ASSERT_EQ(counter->sizeupvalues, 1);
    EXPECT_STREQ(counter->upvalues[0]->Data(), "n");
    EXPECT_STREQ(counter->p[0]->source->Data(), "=elsewhere");
}

TEST_F(ChunkLoad, DumpGivesTheSameBytesInEitherOrder) {
    const Bytes big = AssembleOrFail(kFullListing);
    EXPECT_EQ(LoadAndDump(L, big), big);
    EXPECT_EQ(LoadAndDump(L, AssembleOrFail(kFullListing, true)), big);
}

// A reader that hands out one byte per block.
const char* ByteByByte(void* ud, size_t* size) {
    auto* rest = static_cast<std::span<const uint8_t>*>(ud);
    *size = rest->empty() ? 0 : 1;
    const auto* p = reinterpret_cast<const char*>(rest->data());
    if (!rest->empty()) *rest = rest->subspan(1);
    return p;
}

TEST_F(ChunkLoad, ReadsAcrossBlocks) {
    const Bytes bytes = AssembleOrFail(kFullListing);
    std::span<const uint8_t> rest(bytes);
    ASSERT_EQ(VmLoad(L, ByteByByte, &rest, nullptr), 0);
    Bytes out;
    EXPECT_EQ(DumpFunction(L, -1, &out), 0);
    EXPECT_EQ(out, bytes);
}

struct LoadCase {
    const char* what;
    Bytes bytes;
    int status;
};

void ExpectStatuses(qvVmState* L, const std::vector<LoadCase>& cases) {
    for (const LoadCase& c : cases) {
        ptrdiff_t top = L->top - L->stack;  // an offset: loading may move the stack
        EXPECT_EQ(Load(L, c.bytes), c.status) << c.what;
        if (c.status != 0) {
            EXPECT_EQ(L->top - L->stack, top) << c.what << ": pushed after an error";
        }
        L->top = L->stack + top;
    }
}

TEST_F(ChunkLoad, HeaderErrors) {
    const Bytes good = AssembleOrFail(Main(""));
    auto header = [](const std::string& keys) {
        return AssembleOrFail(".header " + keys + "\n" + Main(""));
    };
    ExpectStatuses(
        L,
        {
            {"valid", good, 0},
            {"empty", {}, ERR_BADSIGNATURE},
            {"text", {'p', 'r', 'i', 'n', 't'}, ERR_BADSIGNATURE},
            {"cut in the signature", Bytes(good.begin(), good.begin() + 3), ERR_BADSIGNATURE},
            {"cut after the byte order", Bytes(good.begin(), good.begin() + 5), ERR_UNEXPECTEDEOF},
            {"number size 4", header("num=4"), ERR_VMMISMATCH},
            {"int size 8", header("int=8"), ERR_VMMISMATCH},
            {"size field 8", header("size=8"), ERR_VMMISMATCH},
            {"instruction size 8", header("insn=8"), ERR_VMMISMATCH},
            {"opcode bits 7", header("op=7"), ERR_VMMISMATCH},
            {"A bits 9", header("a=9"), ERR_VMMISMATCH},
            {"B bits 8", header("b=8"), ERR_VMMISMATCH},
            {"C bits 8", header("c=8"), ERR_VMMISMATCH},
            {"test number .9", header("testnum=31415926.9"), 0},
            {"test number +1", header("testnum=31415927"), ERR_UNKNUMFMT},
            {"test number -1", header("testnum=31415925.99"), ERR_UNKNUMFMT},
            {"test number negated", header("testnum=-31415926"), ERR_UNKNUMFMT},
            {"test number nan", header("testnum=nan"), ERR_UNKNUMFMT},
            {"test number huge", header("testnum=1e300"), ERR_UNKNUMFMT},
            {"little-endian header", header("order=le"), 0},
        });
    for (size_t i = 0; i < chunk::kSignature.size(); ++i) {
        Bytes bad = good;
        bad[i] ^= 0x20;
        EXPECT_EQ(Load(L, bad), ERR_BADSIGNATURE) << i;
    }
    // A byte order other than ours, whatever its value, means big-endian fields.
    Bytes odd = good;
    odd[4] = 7;
    EXPECT_EQ(Load(L, odd), 0);
}

TEST_F(ChunkLoad, EveryCutAfterTheSignatureIsAnEarlyEnd) {
    const Bytes bytes = AssembleOrFail(kFullListing);
    for (size_t n = 4; n < bytes.size(); ++n) {
        EXPECT_EQ(Load(L, Bytes(bytes.begin(), bytes.begin() + n)), ERR_UNEXPECTEDEOF) << n;
    }
}

TEST_F(ChunkLoad, RecordErrors) {
    ExpectStatuses(
        L,
        {
            {"negative line defined", AssembleOrFail(Main("", "line=-1")), ERR_BADINTEGER},
            {"negative line", AssembleOrFail(Main(".line -5")), ERR_BADINTEGER},
            {"negative start pc", AssembleOrFail(Main(".local x -1 1")), ERR_BADINTEGER},
            {"negative end pc", AssembleOrFail(Main(".local x 0 -1")), ERR_BADINTEGER},
            {"largest line", AssembleOrFail(Main(".line 2147483647")), 0},
            {"negative count", ChunkBytes().Header().FunctionStart().U32(0xFFFFFFFF).bytes,
             ERR_BADINTEGER},
            {"upvalue names match", AssembleOrFail(Main(".upval a\n.upval b")), 0},
            {"upvalues without names", AssembleOrFail(Main(".nups 2")), 0},
            {"fewer names", AssembleOrFail(Main(".nups 2\n.upval a")), ERR_BADUPVALUES},
            {"names without upvalues", AssembleOrFail(Main(".nups 0\n.upval a")), ERR_BADUPVALUES},
            {"upvalue without a name", AssembleOrFail(Main(".upval nil")), ERR_BADUPVALUES},
            {"nil tag", AssembleOrFail(Main(".rawconst 0")), 0},
            {"boolean tag", AssembleOrFail(Main(".rawconst 1")), ERR_BADCONSTANT},
            {"tag 2", AssembleOrFail(Main(".rawconst 2")), ERR_BADCONSTANT},
            {"tag 5", AssembleOrFail(Main(".rawconst 5")), ERR_BADCONSTANT},
            {"tag 255", AssembleOrFail(Main(".rawconst 255")), ERR_BADCONSTANT},
            // Tag 4 followed by the zero nested-function count: a string of size 0.
            {"string constant without a string", AssembleOrFail(Main(".rawconst 4")),
             ERR_BADCONSTANT},
            {"local without a name", AssembleOrFail(Main(".local nil 0 1")), ERR_BADBYTECODE},
            {"GETGLOBAL of a number", AssembleOrFail(Main("GETGLOBAL r0 1")), ERR_BADBYTECODE},
            {"last is not RETURN", AssembleOrFail(".function main\nMOVE r0 r0\n.end"),
             ERR_BADBYTECODE},
            {"nested function refused first", AssembleOrFail(Main(".function f\nMOVE r0 r0\n.end")),
             ERR_BADBYTECODE},
        });
}

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i <= depth; ++i) text += ".function f" + std::to_string(i) + "\n";
    for (int i = 0; i <= depth; ++i) text += "RETURN r0 1\n.end\n";
    return text;
}

TEST_F(ChunkLoad, NestingStopsAt200Levels) {
    const Bytes deepest = AssembleOrFail(Nested(200));
    EXPECT_EQ(LoadAndDump(L, deepest), deepest);
    EXPECT_EQ(Load(L, AssembleOrFail(Nested(201))), ERR_BADBYTECODE);
    // Hundreds of thousands of levels end just as early.
    ChunkBytes deep;
    deep.Header();
    for (int i = 0; i < 300000; ++i) deep.FunctionStart().U32(0).U32(0).U32(0).U32(0).U32(1);
    EXPECT_EQ(Load(L, deep.bytes), ERR_BADBYTECODE);
}

// Counts that promise more than the input holds end in an early end, not in a huge
// allocation: the memory cap turns any such allocation into ERR_MEM.
TEST_F(ChunkLoad, LyingCountsAllocateOnlyWhatArrives) {
    // Each lie is followed by one valid item and the end of input.
    auto lie = [](int field) {
        ChunkBytes c;
        c.Header();
        if (field == 0) return c.U32(0xC0000000).U32(0).bytes;  // a 3 GB source string
        c.FunctionStart();
        for (int i = 1; i < field; ++i) c.U32(0);
        c.U32(0x20000000);
        if (field == 2) return c.U32(2).U8('a').U8(0).U32(0).U32(0).bytes;  // a local
        return c.U32(0).U32(0).bytes;
    };
    const char* names[] = {"source",    "line info",        "locals", "upvalue names",
                           "constants", "nested functions", "code"};
    SetMemoryCap(GetMemoryStats().liveBytes + (4 << 20));
    for (int field = 0; field < 7; ++field) {
        if (field == 3) continue;  // bounded by the upvalue count instead
        const Bytes bytes = lie(field);
        EXPECT_EQ(Load(L, bytes), ERR_UNEXPECTEDEOF) << names[field];
        std::span<const uint8_t> rest(bytes);
        EXPECT_EQ(VmLoad(L, ByteByByte, &rest, nullptr), ERR_UNEXPECTEDEOF) << names[field];
    }
    SetMemoryCap(0);
}

TEST_F(ChunkLoad, EveryAllocationFailureGivesOutOfMemory) {
    const Bytes bytes = AssembleOrFail(kFullListing);
    LoadAndDump(L, bytes);  // the string table reaches its size
    VmCollectGarbage(L);
    const size_t baseline = GetMemoryStats().liveBlocks;
    uint64_t needed;
    {
        AllocationFault count(UINT64_MAX, false);
        ASSERT_EQ(Load(L, bytes), 0);
        needed = AllocationRequestsSinceArm();
    }
    --L->top;
    ASSERT_GT(needed, 10u);
    for (uint64_t n = 1; n <= needed; ++n) {
        {
            AllocationFault fault(n, false);
            EXPECT_EQ(Load(L, bytes), ERR_MEM) << "allocation " << n;
        }
        VmCollectGarbage(L);
        EXPECT_EQ(GetMemoryStats().liveBlocks, baseline) << "allocation " << n;
    }
    EXPECT_EQ(LoadAndDump(L, bytes), bytes);
}

TEST(ChunkName, MessageNames) {
    EXPECT_STREQ(ChunkMessageName(nullptr), "?");
    EXPECT_STREQ(ChunkMessageName("@dir/app.qvb"), "dir/app.qvb");
    EXPECT_STREQ(ChunkMessageName("=stdin"), "stdin");
    EXPECT_STREQ(ChunkMessageName("\x1BQVB\x00"), "binary string");
    EXPECT_STREQ(ChunkMessageName("plain"), "plain");
}

int NativeFunctionForDump(qvVmState*) {
    return 0;
}

TEST_F(ChunkLoad, DumpRefusesAnythingButAScriptFunction) {
    Bytes out;
    SetFunction(L->top, NativeFunction(L, NativeFunctionForDump));
    IncrementTop(L);
    EXPECT_EQ(DumpFunction(L, -1, &out), ERR_NOQVFUNC);
    SetNumber(L->top - 1, 1);
    EXPECT_EQ(DumpFunction(L, -1, &out), ERR_NOQVFUNC);
    EXPECT_EQ(DumpFunction(L, 5, &out), ERR_NOQVFUNC);  // no value there
    EXPECT_TRUE(out.empty());
}

// Every listing in the repository that loads: assemble, load and dump give the same bytes;
// disassembling and assembling again too; the little-endian chunk dumps big-endian.
TEST_F(ChunkLoad, ListingsRoundTrip) {
    int loaded = 0;
    for (const auto& path : RepositoryListings()) {
        const std::string text = ReadText(path);
        if (OverridesHeader(text)) continue;
        const AssembleResult r = Assemble(text);
        ASSERT_TRUE(r.ok()) << path << ":" << r.diagnostics[0].line << ": "
                            << r.diagnostics[0].message;
        if (Load(L, r.bytes) != 0) continue;
        --L->top;
        ++loaded;
        EXPECT_EQ(LoadAndDump(L, r.bytes), r.bytes) << path;
        const DisassembleResult d = Disassemble(r.bytes);
        ASSERT_TRUE(d.ok()) << path << ": " << d.error;
        EXPECT_EQ(Assemble(d.text).bytes, r.bytes) << path << "\n" << d.text;
        EXPECT_EQ(LoadAndDump(L, Assemble(text, {.littleEndian = true}).bytes), r.bytes) << path;
    }
    EXPECT_GT(loaded, 0);
}

}  // namespace
}  // namespace qv::testing
