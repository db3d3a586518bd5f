// The instruction set: field layout, encoders and decoders, and one table that describes every
// operation. The verifier, the interpreter, the assembler and the disassembler all read this
// table, so adding or checking an operation touches one place.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qv {

// --- Field layout of a 32-bit instruction (bit 0 least significant) ---

inline constexpr int kOpBits = 6;  // OP: bits 0-5
inline constexpr int kCBits = 9;   // C: bits 6-14
inline constexpr int kBBits = 9;   // B: bits 15-23
inline constexpr int kABits = 8;   // A: bits 24-31
inline constexpr int kCShift = kOpBits;
inline constexpr int kBShift = kCShift + kCBits;
inline constexpr int kAShift = kBShift + kBBits;
inline constexpr int kBxBits = kBBits + kCBits;   // B and C read together, B high
inline constexpr int kJBits = 24;                 // J: bits 6-29
inline constexpr int kMShift = kCShift + kJBits;  // M: bits 30-31

inline constexpr uint32_t kMaxA = (1u << kABits) - 1;
inline constexpr uint32_t kMaxB = (1u << kBBits) - 1;
inline constexpr uint32_t kMaxC = (1u << kCBits) - 1;
inline constexpr uint32_t kMaxBx = (1u << kBxBits) - 1;
inline constexpr uint32_t kMaxJ = (1u << kJBits) - 1;
inline constexpr uint32_t kMaxM = 3;
inline constexpr int32_t kSBxBias = 131071;     // sBx = Bx - 131071
inline constexpr int32_t kJBias = 8388607;      // jump offset = J - 8388607
inline constexpr uint32_t kJumpSubroutine = 2;  // M value of a subroutine jump

// Registers 0-249; an RK operand of 250-511 names constant (x - 250).
inline constexpr int kMaxRegisters = 250;
inline constexpr uint32_t kRKConstBase = 250;
inline constexpr uint32_t kMaxRKConst = kMaxB - kRKConstBase;  // 261

constexpr uint32_t GetOp(uint32_t i) {
    return i & ((1u << kOpBits) - 1);
}
constexpr uint32_t GetA(uint32_t i) {
    return i >> kAShift;
}
constexpr uint32_t GetB(uint32_t i) {
    return (i >> kBShift) & kMaxB;
}
constexpr uint32_t GetC(uint32_t i) {
    return (i >> kCShift) & kMaxC;
}
constexpr uint32_t GetBx(uint32_t i) {
    return (i >> kCShift) & kMaxBx;
}
constexpr int32_t GetSBx(uint32_t i) {
    return static_cast<int32_t>(GetBx(i)) - kSBxBias;
}
constexpr uint32_t GetJ(uint32_t i) {
    return (i >> kCShift) & kMaxJ;
}
// The jump distance of JMP, relative to the instruction after it.
constexpr int32_t GetJOffset(uint32_t i) {
    return static_cast<int32_t>(GetJ(i)) - kJBias;
}
constexpr uint32_t GetM(uint32_t i) {
    return i >> kMShift;
}

constexpr bool IsRKConst(uint32_t x) {
    return x >= kRKConstBase;
}
constexpr uint32_t RKConstIndex(uint32_t x) {
    return x - kRKConstBase;
}
constexpr uint32_t RKOfConst(uint32_t k) {
    return k + kRKConstBase;
}

// Encoders take field values already in range; the assembler checks ranges first.
constexpr uint32_t CreateABC(uint32_t op, uint32_t a, uint32_t b, uint32_t c) {
    return op | (c << kCShift) | (b << kBShift) | (a << kAShift);
}
constexpr uint32_t CreateABx(uint32_t op, uint32_t a, uint32_t bx) {
    return op | (bx << kCShift) | (a << kAShift);
}
constexpr uint32_t CreateAsBx(uint32_t op, uint32_t a, int32_t sbx) {
    return CreateABx(op, a, static_cast<uint32_t>(sbx + kSBxBias));
}
constexpr uint32_t CreateJ(uint32_t op, int32_t offset, uint32_t m) {
    return op | (static_cast<uint32_t>(offset + kJBias) << kCShift) | (m << kMShift);
}

// NEWTABLE: slots of the array part asked for by B, saturated where the shift leaves 64 bits.
constexpr uint64_t TableArraySize(uint32_t b) {
    const uint64_t mantissa = b & 7;
    const uint32_t shift = (b >> 3) & 63;
    if (mantissa == 0) return 0;
    if (shift > 60) return UINT64_MAX;
    return mantissa << shift;
}

// SETLIST/SETLISTO: Bx = 32k + m stores under the keys 32k ... 32k + m.
inline constexpr uint32_t kFieldsPerFlush = 32;
constexpr uint32_t SetListFirstKey(uint32_t bx) {
    return bx - bx % kFieldsPerFlush;
}
constexpr uint32_t SetListCount(uint32_t bx) {
    return bx % kFieldsPerFlush + 1;
}

// --- The operations ---

enum OpCode : uint8_t {
    OP_MOVE,
    OP_LOADK,
    OP_LOADBOOL,
    OP_LOADNIL,
    OP_GETUPVAL,
    OP_GETGLOBAL,
    OP_GETTABLE,
    OP_SETGLOBAL,
    OP_SETUPVAL,
    OP_SETTABLE,
    OP_NEWTABLE,
    OP_ADD,
    OP_SUB,
    OP_MUL,
    OP_DIV,
    OP_DIVINT,
    OP_MOD,
    OP_LSH,
    OP_RSH,
    OP_BOR,
    OP_BAND,
    OP_BXOR,
    OP_POW,
    OP_UNM,
    OP_NOT,
    OP_BNOT,
    OP_CONCAT,
    OP_JMP,
    OP_EQ,
    OP_LT,
    OP_LE,
    OP_TEST,
    OP_CALL,
    OP_TAILCALL,
    OP_RETURN,
    OP_FORLOOP,
    OP_TFORLOOP,
    OP_TFORPREP,
    OP_SETLIST,
    OP_SETLISTO,
    OP_CLOSE,
    OP_CLOSURE,
    OP_SELF,
};
inline constexpr int kNumOpcodes = OP_SELF + 1;  // 43; opcodes 43-63 do nothing

enum class OpFormat : uint8_t { ABC, ABx, AsBx, Jump };  // Jump: the 24-bit J and M of JMP

// What the verifier checks of B and C (ABC) or of Bx (ABx).
enum class ArgKind : uint8_t {
    Unused,      // not an index, or checked by a rule of its own
    Register,    // must lie inside the frame
    RegOrConst,  // RK: a register inside the frame or an existing constant
    Constant,    // Bx: an existing constant
};

// How the assembler and disassembler write an operand.
enum class Field : uint8_t { A, B, C, Bx, SBx, J };
enum class Syntax : uint8_t {
    Reg,     // rN
    RK,      // rN, kN or a literal constant
    Const,   // kN or a literal constant
    Upval,   // uN
    Int,     // a plain integer
    OptInt,  // a plain integer that may be left out (0)
    Label,   // a code label: the jump target
    Proto,   // the name of a nested function
};
struct Operand {
    Field field;
    Syntax syntax;
};

struct OpInfo {
    std::string_view name;
    OpFormat format;
    ArgKind b;  // B (ABC) or Bx (ABx)
    ArgKind c;
    bool setsA;
    bool test;  // must be followed by a JMP, which it takes or skips
    uint8_t noperands;
    std::array<Operand, 3> operands;
};

namespace op_table {
using enum OpFormat;
using enum ArgKind;
using enum Field;
using enum Syntax;
inline constexpr bool kSets = true;
inline constexpr bool kTest = true;

constexpr OpInfo Row(std::string_view name, OpFormat f, ArgKind b, ArgKind c, bool setsA, bool test,
                     Operand o1, Operand o2 = {A, Reg}, Operand o3 = {A, Reg}, uint8_t n = 3) {
    return {name, f, b, c, setsA, test, n, {o1, o2, o3}};
}
constexpr OpInfo Row1(std::string_view name, OpFormat f, ArgKind b, ArgKind c, bool setsA,
                      bool test, Operand o1) {
    return Row(name, f, b, c, setsA, test, o1, {}, {}, 1);
}
constexpr OpInfo Row2(std::string_view name, OpFormat f, ArgKind b, ArgKind c, bool setsA,
                      bool test, Operand o1, Operand o2) {
    return Row(name, f, b, c, setsA, test, o1, o2, {}, 2);
}
// Arithmetic and bit operations: R(A) := RK(B) op RK(C).
constexpr OpInfo Arith(std::string_view name) {
    return Row(name, ABC, RegOrConst, RegOrConst, kSets, false, {A, Reg}, {B, RK}, {C, RK});
}
// Comparisons: compare RK(B) with RK(C); a result different from A skips the following JMP.
constexpr OpInfo Compare(std::string_view name) {
    return Row(name, ABC, RegOrConst, RegOrConst, false, kTest, {A, Int}, {B, RK}, {C, RK});
}

inline constexpr std::array<OpInfo, kNumOpcodes> kOpInfo = {{
    // R(A) := R(B)
    Row2("MOVE", ABC, Register, Unused, kSets, false, {A, Reg}, {B, Reg}),
    // R(A) := K(Bx)
    Row2("LOADK", ABx, Constant, Unused, kSets, false, {A, Reg}, {Bx, Const}),
    // R(A) := the number B; if C is not 0, skip the next instruction
    Row("LOADBOOL", ABC, Unused, Unused, kSets, false, {A, Reg}, {B, Int}, {C, Int}),
    // R(A) ... R(B) := nil
    Row2("LOADNIL", ABC, Register, Unused, kSets, false, {A, Reg}, {B, Reg}),
    // R(A) := U(B)
    Row2("GETUPVAL", ABC, Unused, Unused, kSets, false, {A, Reg}, {B, Upval}),
    // R(A) := globals[K(Bx)]
    Row2("GETGLOBAL", ABx, Constant, Unused, kSets, false, {A, Reg}, {Bx, Const}),
    // R(A) := R(B)[RK(C)]
    Row("GETTABLE", ABC, Register, RegOrConst, kSets, false, {A, Reg}, {B, Reg}, {C, RK}),
    // globals[K(Bx)] := R(A)
    Row2("SETGLOBAL", ABx, Constant, Unused, false, false, {A, Reg}, {Bx, Const}),
    // U(B) := R(A)
    Row2("SETUPVAL", ABC, Unused, Unused, false, false, {A, Reg}, {B, Upval}),
    // R(A)[RK(B)] := RK(C)
    Row("SETTABLE", ABC, RegOrConst, RegOrConst, false, false, {A, Reg}, {B, RK}, {C, RK}),
    // R(A) := new table: array part (B & 7) << (B >> 3), hash part 2^C (none when C is 0)
    Row("NEWTABLE", ABC, Unused, Unused, kSets, false, {A, Reg}, {B, Int}, {C, Int}),
    Arith("ADD"),     // R(A) := RK(B) + RK(C)
    Arith("SUB"),     // R(A) := RK(B) - RK(C)
    Arith("MUL"),     // R(A) := RK(B) * RK(C)
    Arith("DIV"),     // R(A) := RK(B) / RK(C)
    Arith("DIVINT"),  // R(A) := integer quotient of RK(B) by RK(C)
    Arith("MOD"),     // R(A) := integer remainder of RK(B) by RK(C)
    Arith("LSH"),     // R(A) := RK(B) shifted left by RK(C)
    Arith("RSH"),     // R(A) := RK(B) shifted right (logical) by RK(C)
    Arith("BOR"),     // R(A) := RK(B) bitwise-or RK(C)
    Arith("BAND"),    // R(A) := RK(B) bitwise-and RK(C)
    Arith("BXOR"),    // R(A) := RK(B) bitwise-exclusive-or RK(C)
    Arith("POW"),     // R(A) := RK(B) raised to RK(C)
    // R(A) := -R(B)
    Row2("UNM", ABC, Register, Unused, kSets, false, {A, Reg}, {B, Reg}),
    // R(A) := 1 if R(B) is false, else 0
    Row2("NOT", ABC, Register, Unused, kSets, false, {A, Reg}, {B, Reg}),
    // R(A) := bitwise complement of R(B)
    Row2("BNOT", ABC, Register, Unused, kSets, false, {A, Reg}, {B, Reg}),
    // R(A) := R(B) .. ... .. R(C)
    Row("CONCAT", ABC, Register, RegOrConst, kSets, false, {A, Reg}, {B, Reg}, {C, Reg}),
    // continue at next + J - 8388607; M = 2 first pushes next on the subroutine stack
    Row1("JMP", Jump, Unused, Unused, false, false, {J, Label}),
    Compare("EQ"),  // if (RK(B) == RK(C)) differs from A, skip; else take the following jump
    Compare("LT"),  // as EQ with RK(B) < RK(C)
    Compare("LE"),  // as EQ with RK(B) <= RK(C)
    // if (R(B) is false) equals C, skip; else R(A) := R(B) and take the following jump
    Row("TEST", ABC, Register, Unused, kSets, kTest, {A, Reg}, {B, Reg}, {C, Int}),
    // R(A) ... R(A+C-2) := R(A)(R(A+1) ... R(A+B-1)); B = 0: up to the top; C = 0: all
    Row("CALL", ABC, Unused, Unused, false, false, {A, Reg}, {B, Int}, {C, Int}),
    // return R(A)(R(A+1) ... R(A+B-1)) in the caller's frame
    Row("TAILCALL", ABC, Unused, Unused, false, false, {A, Reg}, {B, Int}, {C, Int}),
    // C not 1: return R(A) ... R(A+B-2) (B = 0: up to the top); C = 1: return from a JSR
    Row("RETURN", ABC, Unused, Unused, false, false, {A, Reg}, {B, Int}, {C, OptInt}),
    // R(A) += R(A+2); if R(A) has not passed R(A+1), continue at next + sBx
    Row2("FORLOOP", AsBx, Unused, Unused, false, false, {A, Reg}, {SBx, Label}),
    // R(A+2) ... R(A+2+C) := R(A)(R(A+1), R(A+2)); R(A+2) nil: skip; else take the jump
    Row2("TFORLOOP", ABC, Unused, Unused, false, kTest, {A, Reg}, {C, Int}),
    // R(A) a table: R(A+1) := R(A), R(A) := globals["next"]; continue at next + sBx
    Row2("TFORPREP", AsBx, Unused, Unused, false, false, {A, Reg}, {SBx, Label}),
    // R(A)[Bx - Bx % 32 + j] := R(A+1+j) for j = 0 ... Bx % 32
    Row2("SETLIST", ABx, Unused, Unused, false, false, {A, Reg}, {Bx, Int}),
    // as SETLIST, the count taken from the stack top left by the previous call
    Row2("SETLISTO", ABx, Unused, Unused, false, false, {A, Reg}, {Bx, Int}),
    // close every open upvalue at or above R(A)
    Row1("CLOSE", ABC, Unused, Unused, false, false, {A, Reg}),
    // R(A) := closure of P(Bx); its upvalues come from the MOVE/GETUPVAL words that follow
    Row2("CLOSURE", ABx, Unused, Unused, kSets, false, {A, Reg}, {Bx, Proto}),
    // R(A+1) := R(B); R(A) := R(B)[RK(C)]
    Row("SELF", ABC, Register, RegOrConst, kSets, false, {A, Reg}, {B, Reg}, {C, RK}),
}};
}  // namespace op_table

using op_table::kOpInfo;

// The highest register an instruction reaches beyond the registers its operands name: call
// arguments and results, returned values, SETLIST ranges and the hidden registers of SELF and
// the loops; -1 when none. The verifier keeps it inside the frame and the assembler sizes
// frames by it.
constexpr int32_t ImpliedRegister(uint32_t i) {
    const auto a = static_cast<int32_t>(GetA(i));
    const auto b = static_cast<int32_t>(GetB(i));
    const auto c = static_cast<int32_t>(GetC(i));
    switch (GetOp(i)) {
        case OP_CALL:
        case OP_TAILCALL: {
            const int32_t args = b != 0 ? a + b - 1 : -1;
            const int32_t results = c > 1 ? a + c - 2 : -1;
            return args > results ? args : results;
        }
        case OP_RETURN:
            return c != 1 && b > 1 ? a + b - 2 : -1;
        case OP_SETLIST:
            return a + 1 + static_cast<int32_t>(GetBx(i) % kFieldsPerFlush);
        case OP_SELF:
        case OP_TFORPREP:
            return a + 1;
        case OP_FORLOOP:
            return a + 2;
        case OP_TFORLOOP:
            return a + c + 5;
        default:
            return -1;
    }
}

// The description of op, or nullptr for 43-63.
constexpr const OpInfo* GetOpInfo(uint32_t op) {
    return op < kOpInfo.size() ? &kOpInfo[op] : nullptr;
}

}  // namespace qv
