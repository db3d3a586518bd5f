#include <gtest/gtest.h>

#include <memory>

#include "engine/error_codes.h"
#include "engine/internal.h"
#include "engine/opcodes.h"
#include "tools/qvasm/chunk_image.h"
#include "tools/qvasm/qvasm.h"

namespace qv {
namespace {

// A prototype made straight from an assembled function, without an engine: constants carry
// only their tags, which is all the verifier reads.
class TestProto {
public:
    explicit TestProto(const ChunkFunction& f)
        : code_(f.code), lines_(f.lineinfo.begin(), f.lineinfo.end()) {
        for (const ChunkConstant& c : f.constants) {
            qvValue v{};
            v.tag = c.tag == chunk::kTagString   ? VM_TSTRING
                    : c.tag == chunk::kTagNumber ? VM_TNUMBER
                                                 : VM_TNIL;
            k_.push_back(v);
        }
        for (const ChunkFunction& child : f.protos) {
            children_.push_back(std::make_unique<TestProto>(child));
            p_.push_back(&children_.back()->proto_);
        }
        proto_.code = code_.data();
        proto_.sizecode = static_cast<int32_t>(code_.size());
        proto_.lineinfo = lines_.data();
        proto_.sizelineinfo = static_cast<int32_t>(lines_.size());
        proto_.k = k_.data();
        proto_.sizek = static_cast<int32_t>(k_.size());
        proto_.p = p_.data();
        proto_.sizep = static_cast<int32_t>(p_.size());
        proto_.nups = f.nups;
        proto_.maxstacksize = f.maxstack;
    }
    const qvProto* get() const { return &proto_; }

private:
    qvProto proto_{};
    std::vector<qvInstruction> code_;
    std::vector<int32_t> lines_;
    std::vector<qvValue> k_;
    std::vector<std::unique_ptr<TestProto>> children_;
    std::vector<qvProto*> p_;
};

ChunkFunction Assembled(const std::string& text) {
    const AssembleResult r = Assemble(text);
    for (const AsmDiagnostic& d : r.diagnostics)
        ADD_FAILURE() << d.line << ": " << d.message << "\n" << text;
    std::string error;
    return ReadChunkImage(r.bytes, &error).value_or(ChunkImage{}).main;
}

bool Verifies(const std::string& text) {
    return VmVerifyFunction(TestProto(Assembled(text)).get()) != 0;
}

struct Case {
    const char* what;
    const char* listing;  // the main function's attributes and body
    bool ok;
};

void RunCases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        EXPECT_EQ(Verifies(std::string(".function main ") + c.listing + "\n.end"), c.ok) << c.what;
    }
}

TEST(Verifier, FunctionRules) {
    RunCases({
        {"maxstack 250", "maxstack=250\nRETURN r0 1", true},
        {"maxstack 251", "maxstack=251\nRETURN r0 1", false},
        {"no code", "", false},
        {"last is not RETURN", "\nRETURN r0 1\nMOVE r0 r0", false},
        {"line info for every instruction", "\n.line 3\nMOVE r0 r0\nRETURN r0 1", true},
    });
    ChunkFunction f = Assembled(".function main\nMOVE r0 r0\nRETURN r0 1\n.end");
    f.lineinfo = {1};
    EXPECT_FALSE(VmVerifyFunction(TestProto(f).get()));
    f.lineinfo = {1, 2, 3};
    EXPECT_FALSE(VmVerifyFunction(TestProto(f).get()));
}

TEST(Verifier, RegistersAndConstants) {
    RunCases({
        {"A inside", "maxstack=2\nMOVE r1 r0\nRETURN r0 1", true},
        {"A outside", "maxstack=2\nMOVE r2 r0\nRETURN r0 1", false},
        {"JMP has no A", "maxstack=2\nJMP x\nx: RETURN r0 1", true},
        {"opcode 43 with A inside", "maxstack=2\n.word 0x0100002B\nRETURN r0 1", true},
        {"opcode 63 with A outside", "maxstack=2\n.word 0x0200003F\nRETURN r0 1", false},
        {"B register inside", "maxstack=2\nMOVE r0 r1\nRETURN r0 1", true},
        {"B register outside", "maxstack=2\nMOVE r0 r2\nRETURN r0 1", false},
        {"LOADNIL range end outside", "maxstack=2\nLOADNIL r0 r2\nRETURN r0 1", false},
        {"TEST B outside", "maxstack=2\nTEST r0 r2 0\nJMP x\nx: RETURN r0 1", false},
        {"Bx constant present", "\n.const 1\nLOADK r0 k0\nRETURN r0 1", true},
        {"Bx constant missing", "\n.const 1\nLOADK r0 k1\nRETURN r0 1", false},
        {"RK register 249", "maxstack=250\nADD r0 r249 r0\nRETURN r0 1", true},
        {"RK register outside", "maxstack=2\nADD r0 r2 r0\nRETURN r0 1", false},
        {"RK C register outside", "maxstack=2\nSETTABLE r0 r0 r2\nRETURN r0 1", false},
        {"RK constant present", "\n.const 1\nGETTABLE r0 r0 k0\nRETURN r0 1", true},
        {"RK constant missing", "\n.const 1\nGETTABLE r0 r0 k1\nRETURN r0 1", false},
        {"RK B constant missing", "\nSUB r0 k0 r0\nRETURN r0 1", false},
    });
}

TEST(Verifier, Jumps) {
    RunCases({
        {"JMP forward", "\nJMP x\nx: RETURN r0 1", true},
        {"JMP to itself", "\nx: JMP x\nRETURN r0 1", true},
        {"JMP past the end", "\nJMP x\nRETURN r0 1\nx:", false},
        {"JMP before the start", "\n.word 0x1FFFFF5B\nRETURN r0 1", false},  // offset -2
        {"FORLOOP inside", "\nx: FORLOOP r0 x\nRETURN r0 1", true},
        {"FORLOOP past the end", "\nFORLOOP r0 x\nRETURN r0 1\nx:", false},
        {"FORLOOP before the start", "\n.word 0x007FFF63\nRETURN r0 1", false},  // sBx = -2
        {"TFORPREP inside", "\nTFORPREP r0 x\nx: RETURN r0 1", true},
        {"TFORPREP past the end", "\nTFORPREP r0 x\nRETURN r0 1\nx:", false},
        {"test followed by JMP", "\nEQ 0 r0 r0\nJMP x\nx: RETURN r0 1", true},
        {"test not followed by JMP", "\nLT 0 r0 r0\nMOVE r0 r0\nRETURN r0 1", false},
        {"test just before RETURN", "\nLE 1 r0 r0\nRETURN r0 1", false},
        {"TFORLOOP needs its JMP", "maxstack=9\nTFORLOOP r0 1\nRETURN r0 1", false},
        {"LOADBOOL skip with room", "\nLOADBOOL r0 1 1\nMOVE r0 r0\nRETURN r0 1", true},
        {"LOADBOOL skip past the end", "\nLOADBOOL r0 1 1\nRETURN r0 1", false},
        {"LOADBOOL without skip", "\nLOADBOOL r0 1 0\nRETURN r0 1", true},
    });
}

TEST(Verifier, OperationRules) {
    RunCases({
        {"GETUPVAL inside", "\n.nups 1\nGETUPVAL r0 u0\nRETURN r0 1", true},
        {"GETUPVAL outside", "\n.nups 1\nGETUPVAL r0 u1\nRETURN r0 1", false},
        {"SETUPVAL outside", "\nSETUPVAL r0 u0\nRETURN r0 1", false},
        {"GETGLOBAL string", "\n.const \"x\"\nGETGLOBAL r0 k0\nRETURN r0 1", true},
        {"GETGLOBAL number", "\n.const 1\nGETGLOBAL r0 k0\nRETURN r0 1", false},
        {"SETGLOBAL nil", "\n.const nil\nSETGLOBAL r0 k0\nRETURN r0 1", false},
        {"CONCAT B < C", "\nCONCAT r0 r0 r1\nRETURN r0 1", true},
        {"CONCAT B = C", "\nCONCAT r0 r1 r1\nRETURN r0 1", false},
        {"CONCAT C 249", "maxstack=250\nCONCAT r0 r0 r249\nRETURN r0 1", true},
        {"CONCAT C constant", "maxstack=250\n.const 1\nCONCAT r0 r0 r250\nRETURN r0 1", false},
        {"CALL arguments inside", "maxstack=4\nCALL r1 3 1\nRETURN r0 1", true},
        {"CALL arguments outside", "maxstack=4\nCALL r1 4 1\nRETURN r0 1", false},
        {"CALL results inside", "maxstack=4\nCALL r1 1 4\nRETURN r0 1", true},
        {"CALL results outside", "maxstack=4\nTAILCALL r1 1 5\nRETURN r0 1", false},
        {"all results to RETURN", "\nCALL r0 1 0\nRETURN r0 0", true},
        {"all results to CALL", "\nCALL r1 1 0\nCALL r0 0 1\nRETURN r0 1", true},
        {"all results to TAILCALL", "\nTAILCALL r1 1 0\nTAILCALL r0 0 0\nRETURN r0 0", true},
        {"all results to SETLISTO", "\nCALL r1 1 0\nSETLISTO r0 0\nRETURN r0 1", true},
        // With no results the top is the call's register: a consumer at or above it would
        // take a negative count.
        {"all results to CALL at the call", "\nCALL r0 1 0\nCALL r0 0 1\nRETURN r0 1", false},
        {"all results to TAILCALL above", "\nTAILCALL r0 1 0\nTAILCALL r1 0 0\nRETURN r0 0", false},
        {"all results to SETLISTO at the call", "\nCALL r0 1 0\nSETLISTO r0 0\nRETURN r0 1", false},
        {"all results to RETURN above", "\nCALL r0 1 0\nRETURN r1 0", false},
        {"all results to RETURN B 1", "\nCALL r0 1 0\nRETURN r0 1", false},
        {"all results to CALL B 2", "\nCALL r0 1 0\nCALL r0 2 1\nRETURN r0 1", false},
        {"all results to MOVE", "\nCALL r0 1 0\nMOVE r0 r0\nRETURN r0 1", false},
        {"RETURN values inside", "maxstack=2\nRETURN r0 3", true},
        {"RETURN values outside", "maxstack=2\nRETURN r0 4", false},
        {"RETURN C 2 values outside", "maxstack=2\nRETURN r1 3 2", false},
        {"RETURN C 511 values outside", "maxstack=2\nRETURN r0 4 511", false},
        {"RETURN from JSR names no values", "maxstack=2\nRETURN r0 4 1", true},
        {"SETLIST inside", "maxstack=4\nSETLIST r0 34\nRETURN r0 1", true},
        {"SETLIST outside", "maxstack=4\nSETLIST r0 3\nRETURN r0 1", false},
        {"SELF A+1 inside", "maxstack=2\nSELF r0 r0 r0\nRETURN r0 1", true},
        {"SELF A+1 outside", "maxstack=2\nSELF r1 r0 r0\nRETURN r0 1", false},
        {"FORLOOP A+2 inside", "maxstack=3\nx: FORLOOP r0 x\nRETURN r0 1", true},
        {"FORLOOP A+2 outside", "maxstack=3\nx: FORLOOP r1 x\nRETURN r0 1", false},
        {"TFORPREP A+1 inside", "maxstack=2\nx: TFORPREP r0 x\nRETURN r0 1", true},
        {"TFORPREP A+1 outside", "maxstack=2\nx: TFORPREP r1 x\nRETURN r0 1", false},
        {"TFORLOOP A+C+5 inside", "maxstack=8\nTFORLOOP r0 2\nJMP x\nx: RETURN r0 1", true},
        {"TFORLOOP A+C+5 outside", "maxstack=8\nTFORLOOP r0 3\nJMP x\nx: RETURN r0 1", false},
        {"TFORLOOP C 511", "maxstack=250\nTFORLOOP r0 511\nJMP x\nx: RETURN r0 1", false},
    });
}

TEST(Verifier, Closures) {
    const char* f = "\n.function f\n.upval a\n.upval b\nRETURN r0 1\n.end\n";
    RunCases({
        {"captures", (std::string(f) + ".nups 1\nCLOSURE r0 f r1 u0\nRETURN r0 1").c_str(), true},
        {"no such prototype", "\n.word 0x00000069\nRETURN r0 1", false},
        {"capture that is no capture",
         (std::string(f) + ".word 0x00000029\nMOVE r0 r1\nLOADNIL r0 r0\nRETURN r0 1").c_str(),
         false},
        {"captures run into RETURN",
         (std::string(f) + ".word 0x00000029\nMOVE r0 r1\nRETURN r0 1").c_str(), false},
    });
    // The captures are checked as instructions too: GETUPVAL needs the upvalue.
    EXPECT_FALSE(Verifies(std::string(".function main\n.nups 0") + f +
                          "CLOSURE r0 f r1 u0\nRETURN r0 1\n.end"));
}

// Tracking mode: the pc of the last instruction before lastpc that set a register.
TEST(Verifier, TrackingFindsTheSetter) {
    const TestProto p(Assembled(R"(.function main maxstack=10
.const "m"
    LOADK r0 k0         ; 0
    LOADNIL r2 r4       ; 1
    JMP skip            ; 2
    LOADK r0 k0         ; 3
    MOVE r1 r1          ; 4
skip:
    SELF r6 r1 k0       ; 5
    CALL r3 1 1         ; 6
    JMP skip            ; 7 (backward: never followed)
    RETURN r0 1         ; 8
.end)"));
    struct Case {
        int lastpc;
        int reg;
        int setter;
    };
    const Case cases[] = {
        {1, 0, 0}, {9, 2, 1},  {6, 4, 1},
        {9, 4, 6}, {9, 9, 6},   // CALL sets every register from A up
        {6, 7, 5}, {6, 6, 5},   // SELF sets A and A+1
        {4, 0, 3},              // the jump's target lies beyond lastpc: not followed
        {5, 0, 0}, {5, 1, -1},  // at or before lastpc: the jumped-over code set nothing
        {9, 0, 0}, {9, 8, 6},
    };
    for (const Case& c : cases) {
        int setter = -2;
        EXPECT_EQ(VmVerifyCode(p.get(), c.lastpc, c.reg, &setter), 1);
        EXPECT_EQ(setter, c.setter) << "lastpc " << c.lastpc << " register " << c.reg;
    }
}

TEST(Verifier, TrackingChecksOnlyUpToLastPc) {
    const TestProto p(
        Assembled(".function main maxstack=2\nMOVE r0 r1\nMOVE r9 r0\nRETURN r0 1\n.end"));
    int setter = -2;
    EXPECT_EQ(VmVerifyCode(p.get(), 1, 0, &setter), 1);
    EXPECT_EQ(setter, 0);
    EXPECT_EQ(VmVerifyCode(p.get(), 2, 0, &setter), 0);
    EXPECT_EQ(VmVerifyFunction(p.get()), 0);
}

// Each rule names its own reason and the instruction it refuses, so that tools can say why.
TEST(Verifier, DiagnosisNamesTheReasonAndTheInstruction) {
    const struct {
        const char* listing;
        int reason;
        int pc;
    } cases[] = {
        {"", VM_VERIFY_NOCODE, -1},
        {"maxstack=251\nRETURN r0 1", VM_VERIFY_STACKSIZE, -1},
        {"\nRETURN r0 1\nMOVE r0 r0", VM_VERIFY_NORETURN, 1},
        {"maxstack=2\nMOVE r0 r0\nMOVE r2 r0\nRETURN r0 1", VM_VERIFY_REGISTER, 1},
        {"\n.const 1\nLOADK r0 k1\nRETURN r0 1", VM_VERIFY_OPERAND, 0},
        {"\nEQ 1 r0 r0\nMOVE r0 r0\nRETURN r0 1", VM_VERIFY_TESTJUMP, 0},
        {"\nLOADBOOL r0 1 1\nRETURN r0 1", VM_VERIFY_LOADBOOLSKIP, 0},
        {"\nGETUPVAL r0 u0\nRETURN r0 1", VM_VERIFY_UPVALUE, 0},
        {"\nGETGLOBAL r0 1\nRETURN r0 1", VM_VERIFY_GLOBALNAME, 0},
        {"maxstack=4\nCONCAT r0 r2 r1\nRETURN r0 1", VM_VERIFY_CONCAT, 0},
        {"\nJMP x\nRETURN r0 1\nx:", VM_VERIFY_JUMP, 0},
        {"\nCALL r0 1 0\nRETURN r0 1", VM_VERIFY_CALLRESULTS, 0},
        {"\nMOVE r0 r0\nRETURN r0 1", VM_VERIFY_OK, -1},
    };
    for (const auto& c : cases) {
        const std::string listing = std::string(".function main ") + c.listing + "\n.end";
        int pc = -2;
        EXPECT_EQ(VmVerifyDiagnose(TestProto(Assembled(listing)).get(), &pc), c.reason) << listing;
        EXPECT_EQ(pc, c.pc) << listing;
        EXPECT_STRNE(VmVerifyReasonText(c.reason), VmVerifyReasonText(-1)) << listing;
    }
}

// A load that the verifier refuses leaves its reason, the function in chunk order and the pc;
// the next load forgets it.
TEST(Verifier, ARefusedLoadKeepsItsReasonUntilTheNextLoad) {
    const AssembleResult bad = Assemble(R"(.function main
.function first
    RETURN r0 1
.end
.function second
.function inner
    MOVE r0 r0
.end
    RETURN r0 1
.end
    RETURN r0 1
.end)");
    const AssembleResult good = Assemble(".function main\nRETURN r0 1\n.end");
    ASSERT_TRUE(bad.ok() && good.ok());
    qvVmState* L = VmOpen();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(LoadChunk(L, bad.bytes, "=bad"), ERR_BADBYTECODE);
    const qvVerifyFailure failure = VmLastVerifyFailure(L);
    EXPECT_EQ(failure.reason, VM_VERIFY_NORETURN);
    EXPECT_EQ(failure.function, 3) << "main 0, first 1, second 2, inner 3";
    EXPECT_EQ(failure.pc, 0);
    ASSERT_EQ(bad.functions.size(), 4u);
    EXPECT_EQ(bad.functions[3].begin, 6);
    EXPECT_EQ(bad.functions[3].code, std::vector<int>{7});
    VmSetTop(L, 0);
    EXPECT_EQ(LoadChunk(L, good.bytes, "=good"), 0);
    EXPECT_EQ(VmLastVerifyFailure(L).reason, VM_VERIFY_OK);
    VmClose(L);
}

}  // namespace
}  // namespace qv
