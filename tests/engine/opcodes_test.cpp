#include "engine/opcodes.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qv {
namespace {

TEST(Opcodes, FieldsDecode) {
    // A = 0xAB, B = 0x155, C = 0x0AA, OP = 0x21.
    const uint32_t i = 0xABu << 24 | 0x155u << 15 | 0x0AAu << 6 | 0x21u;
    EXPECT_EQ(GetOp(i), 0x21u);
    EXPECT_EQ(GetA(i), 0xABu);
    EXPECT_EQ(GetB(i), 0x155u);
    EXPECT_EQ(GetC(i), 0x0AAu);
    EXPECT_EQ(GetBx(i), 0x155u << 9 | 0x0AAu);
    EXPECT_EQ(CreateABC(0x21, 0xAB, 0x155, 0x0AA), i);
    EXPECT_EQ(CreateABx(0x21, 0xAB, 0x155u << 9 | 0x0AAu), i);
}

TEST(Opcodes, RKOperands) {
    struct Case {
        uint32_t x;
        bool constant;
        uint32_t index;
    };
    for (const Case& c :
         {Case{0, false, 0}, Case{249, false, 249}, Case{250, true, 0}, Case{511, true, 261}}) {
        EXPECT_EQ(IsRKConst(c.x), c.constant) << c.x;
        EXPECT_EQ(c.constant ? RKConstIndex(c.x) : c.x, c.index) << c.x;
    }
    EXPECT_EQ(RKOfConst(kMaxRKConst), kMaxB);
}

TEST(Opcodes, JumpFields) {
    struct Case {
        uint32_t j;
        uint32_t m;
        int32_t offset;
    };
    // J = 8388607 continues at the next instruction; J = 0 goes 8388607 back.
    for (const Case& c : {Case{8388607, 0, 0}, Case{0, 1, -8388607}, Case{kMaxJ, 3, 8388608},
                          Case{8388608, 2, 1}}) {
        const uint32_t i = OP_JMP | c.j << 6 | c.m << 30;
        EXPECT_EQ(GetJ(i), c.j);
        EXPECT_EQ(GetM(i), c.m);
        EXPECT_EQ(GetJOffset(i), c.offset);
        EXPECT_EQ(CreateJ(OP_JMP, c.offset, c.m), i);
    }
}

TEST(Opcodes, SignedBx) {
    for (const auto& [bx, sbx] :
         {std::pair<uint32_t, int32_t>{0, -131071}, {131071, 0}, {kMaxBx, 131072}}) {
        const uint32_t i = CreateABx(OP_FORLOOP, 3, bx);
        EXPECT_EQ(GetSBx(i), sbx);
        EXPECT_EQ(CreateAsBx(OP_FORLOOP, 3, sbx), i);
    }
}

TEST(Opcodes, TableAndListSizes) {
    EXPECT_EQ(TableArraySize(0x0B), 6u);  // 3 << 1
    EXPECT_EQ(TableArraySize(0), 0u);
    EXPECT_EQ(TableArraySize(0xF8), 0u);  // no mantissa, whatever the shift
    EXPECT_EQ(TableArraySize(7 | 60 << 3), 7ull << 60);
    EXPECT_EQ(TableArraySize(1 | 63 << 3), UINT64_MAX);
    EXPECT_EQ(SetListFirstKey(33), 32u);
    EXPECT_EQ(SetListCount(33), 2u);  // keys 32 and 33
    EXPECT_EQ(SetListFirstKey(31), 0u);
    EXPECT_EQ(SetListCount(31), 32u);
}

TEST(Opcodes, ImpliedRegisters) {
    struct Case {
        uint32_t insn;
        int32_t top;
    };
    const Case cases[] = {
        {CreateABC(OP_CALL, 2, 3, 1), 4},         {CreateABC(OP_CALL, 2, 1, 5), 5},
        {CreateABC(OP_CALL, 2, 0, 0), -1},        {CreateABC(OP_TAILCALL, 1, 4, 0), 4},
        {CreateABC(OP_RETURN, 3, 4, 0), 5},       {CreateABC(OP_RETURN, 3, 4, 2), 5},
        {CreateABC(OP_RETURN, 3, 4, 1), -1},      {CreateABC(OP_RETURN, 3, 1, 0), -1},
        {CreateABx(OP_SETLIST, 1, 33), 3},        {CreateABC(OP_SELF, 4, 0, 0), 5},
        {CreateAsBx(OP_FORLOOP, 4, -2), 6},       {CreateAsBx(OP_TFORPREP, 4, 2), 5},
        {CreateABC(OP_TFORLOOP, 2, 0, 511), 518}, {CreateABC(OP_MOVE, 9, 9, 0), -1},
    };
    for (const Case& c : cases) EXPECT_EQ(ImpliedRegister(c.insn), c.top) << std::hex << c.insn;
}

// The mode table: 43 unique names, and every flagged row where its group says.
TEST(Opcodes, ModeTable) {
    std::set<std::string_view> names;
    for (const OpInfo& info : kOpInfo) names.insert(info.name);
    EXPECT_EQ(names.size(), 43u);
    EXPECT_EQ(GetOpInfo(43), nullptr);
    EXPECT_EQ(GetOpInfo(OP_SELF)->name, "SELF");
    EXPECT_EQ(GetOpInfo(OP_JMP)->format, OpFormat::Jump);

    std::set<int> test, setsA;
    for (int op = 0; op < kNumOpcodes; ++op) {
        if (kOpInfo[op].test) test.insert(op);
        if (kOpInfo[op].setsA) setsA.insert(op);
    }
    EXPECT_EQ(test, (std::set<int>{OP_EQ, OP_LT, OP_LE, OP_TEST, OP_TFORLOOP}));
    std::set<int> expectedSets = {OP_MOVE,     OP_LOADNIL,   OP_UNM,      OP_NOT,      OP_BNOT,
                                  OP_LOADK,    OP_GETGLOBAL, OP_LOADBOOL, OP_GETUPVAL, OP_NEWTABLE,
                                  OP_GETTABLE, OP_CONCAT,    OP_SELF,     OP_TEST,     OP_CLOSURE};
    for (int op = OP_ADD; op <= OP_POW; ++op) expectedSets.insert(op);
    EXPECT_EQ(setsA, expectedSets);

    EXPECT_EQ(kOpInfo[OP_GETGLOBAL].b, ArgKind::Constant);
    EXPECT_EQ(kOpInfo[OP_SETGLOBAL].b, ArgKind::Constant);
    EXPECT_EQ(kOpInfo[OP_CONCAT].c, ArgKind::RegOrConst);
    EXPECT_EQ(kOpInfo[OP_SETTABLE].b, ArgKind::RegOrConst);
    EXPECT_EQ(kOpInfo[OP_TEST].b, ArgKind::Register);
    EXPECT_EQ(kOpInfo[OP_FORLOOP].format, OpFormat::AsBx);
    EXPECT_EQ(kOpInfo[OP_SETLISTO].format, OpFormat::ABx);
}

}  // namespace
}  // namespace qv
