#include "libs/math/math_library.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/convert.h"
#include "platform/linux/time.h"
#include "runtime/arguments.h"
#include "runtime/exports.h"
#include "runtime/random.h"

namespace qv {
namespace {

// Integer widths as the system library names them.
enum : int32_t { kWidthLong = 1, kWidthShort = 6, kWidthByte = 7 };

constexpr double kRadiansPerDegree = 0.017453292519943295;

double Num(qvVmState* L, int idx) {
    return GetArgNumber(L, idx);
}
int32_t Signed(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

int PushNumber(qvVmState* L, double x) {
    VmPushNumber(L, x);
    return 1;
}
int PushSigned(qvVmState* L, int32_t x) {
    return PushNumber(L, x);
}
int PushUnsigned(qvVmState* L, uint32_t x) {
    return PushNumber(L, x);
}

// Commands of one or two number arguments and one number result; F is a captureless lambda,
// since the standard functions' overload sets have no address to pass.
template <auto F>
int Unary(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushNumber(L, F(Num(L, 1)));
}

template <auto F>
int Binary(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    return PushNumber(L, F(Num(L, 1), Num(L, 2)));
}

double FracOf(double x) {
    double whole;
    return std::modf(x, &whole);
}
// Shift counts are taken modulo 64; 32..63 shift every bit out.
uint32_t ShiftLeft(uint32_t x, int32_t n) {
    uint32_t count = static_cast<uint32_t>(n) & 63;
    return count < 32 ? x << count : 0;
}

uint32_t ShiftRight(uint32_t x, int32_t n) {
    uint32_t count = static_cast<uint32_t>(n) & 63;
    return count < 32 ? x >> count : 0;
}

int32_t ShiftArithmetic(int32_t x, int32_t n) {
    uint32_t count = static_cast<uint32_t>(n) & 63;
    return x >> (count < 32 ? count : 31);
}

// The bit count of a narrow width (16 or 8); 0 for LONG and unknown widths.
int NarrowBits(int32_t width) {
    return width == kWidthShort ? 16 : width == kWidthByte ? 8 : 0;
}

bool KnownWidth(int32_t width) {
    return width == kWidthLong || width == kWidthShort || width == kWidthByte;
}

// The count of a rotation's second shift, bits - n, wrapping as 32-bit arithmetic does (no
// count overflows).
int32_t OtherShift(int bits, int32_t n) {
    return static_cast<int32_t>(static_cast<uint32_t>(bits) - static_cast<uint32_t>(n));
}

// Narrow rotations do not reduce the count modulo the width: larger counts leave what is left
// of the two shifts.
uint32_t RotateNarrow(uint32_t x, int32_t n, int bits, bool left) {
    uint32_t mask = (1u << bits) - 1;
    uint32_t v = x & mask;
    uint32_t r = left ? ShiftLeft(v, n) | ShiftRight(v, OtherShift(bits, n))
                      : ShiftRight(v, n) | ShiftLeft(v, OtherShift(bits, n));
    return r & mask;
}

uint32_t Rotate(uint32_t x, int32_t n, int32_t width, bool left) {
    if (int bits = NarrowBits(width)) return RotateNarrow(x, n, bits, left);
    if (left) {
        uint32_t count = static_cast<uint32_t>(n) & 31;
        return count == 0 ? x : (x << count) | (x >> (32 - count));
    }
    return ShiftRight(x, n) | ShiftLeft(x, OtherShift(32, n));
}

int RotateCommand(qvVmState* L, bool left) {
    CheckArgCount(L, 2, 3);
    uint32_t x = GetArgUInt32(L, 1);
    int32_t n = Signed(L, 2);
    int32_t width = VmGetTop(L) >= 3 ? Signed(L, 3) : kWidthLong;
    if (!KnownWidth(width)) return ERR_WRONGUSAGE;
    return PushUnsigned(L, Rotate(x, n, width, left));
}

// The bit number of BitSet, BitTest and BitClear, compared unsigned so negatives fail too.
bool BitNumber(qvVmState* L, int idx, uint32_t* bit) {
    *bit = static_cast<uint32_t>(Signed(L, idx));
    return *bit <= 31;
}

// Min and Max: the first of equal values wins, and a NaN first argument stays.
int Extreme(qvVmState* L, bool smallest) {
    CheckArgCount(L, 2, 0);
    double best = Num(L, 1);
    for (int i = 2, n = VmGetTop(L); i <= n; ++i) {
        double v = Num(L, i);
        if (smallest ? v < best : v > best) best = v;
    }
    return PushNumber(L, best);
}

// Mod and Div: a zero divisor is an error rather than an infinity or a NaN.
template <auto F>
int Divide(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    double a = Num(L, 1), b = Num(L, 2);
    if (b == 0) return ERR_ZERODIVISION;
    return PushNumber(L, F(a, b));
}

// The whole-number divisor of Rnd and Rt: zero divides by zero, a negative one is misuse.
int CheckWholeDivisor(int32_t n) {
    if (n == 0) return ERR_ZERODIVISION;
    return n < 0 ? ERR_WRONGUSAGE : 0;
}

int FrExp(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int exponent = 0;
    PushNumber(L, std::frexp(Num(L, 1), &exponent));
    PushSigned(L, exponent);
    return 2;
}

int LdExp(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    return PushNumber(L, std::ldexp(Num(L, 1), Signed(L, 2)));
}

int Min(qvVmState* L) {
    return Extreme(L, true);
}
int Max(qvVmState* L) {
    return Extreme(L, false);
}

int Rnd(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int32_t n = Signed(L, 1);
    if (int error = CheckWholeDivisor(n)) return error;
    return PushSigned(L, Trunc32(GetRandom48() * n));
}

int RndF(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    return PushNumber(L, GetRandom48());
}

// Halves go to the even neighbour: the default rounding mode of nearbyint.
int Round(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushSigned(L, Trunc32(std::nearbyint(Num(L, 1))));
}

int Int(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushSigned(L, Signed(L, 1));
}

template <uint32_t (*Shift)(uint32_t, int32_t)>
int ShiftCommand(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    return PushUnsigned(L, Shift(GetArgUInt32(L, 1), Signed(L, 2)));
}

int Rt(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    double x = Num(L, 1);
    int32_t n = Signed(L, 2);
    if (int error = CheckWholeDivisor(n)) return error;
    return PushNumber(L, std::pow(x, 1.0 / n));
}

// One step back into range, not a modulo.
int Wrap(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    double x = Num(L, 1), low = Num(L, 2), high = Num(L, 3);
    if (x < low) return PushNumber(L, high + (x - low));
    if (x >= high) return PushNumber(L, low + (x - high));
    return PushNumber(L, x);
}

int Limit(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    double x = Num(L, 1), low = Num(L, 2), high = Num(L, 3);
    return PushNumber(L, x < low ? low : x > high ? high : x);
}

// BitSet, BitTest and BitClear: F takes the value and a bit number already checked.
template <auto F>
int BitCommand(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    uint32_t x = GetArgUInt32(L, 1), bit;
    if (!BitNumber(L, 2, &bit)) return ERR_WRONGUSAGE;
    return PushUnsigned(L, F(x, bit));
}

int BitXor(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    return PushUnsigned(L, GetArgUInt32(L, 1) ^ GetArgUInt32(L, 2));
}

int BitComplement(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return PushUnsigned(L, ~GetArgUInt32(L, 1));
}

int Sgn(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    double x = Num(L, 1);
    return PushSigned(L, x < 0 ? -1 : x > 0 ? 1 : 0);
}

int Sar(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    auto x = static_cast<int32_t>(GetArgUInt32(L, 1));
    return PushSigned(L, ShiftArithmetic(x, Signed(L, 2)));
}

int Ror(qvVmState* L) {
    return RotateCommand(L, false);
}
int Rol(qvVmState* L) {
    return RotateCommand(L, true);
}

int Cast(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    uint32_t x = GetArgUInt32(L, 1);
    bool isSigned = Signed(L, 2) != 0;
    int32_t width = Signed(L, 3);
    if (!KnownWidth(width)) return ERR_WRONGUSAGE;
    switch (NarrowBits(width)) {
        case 8:
            return isSigned ? PushSigned(L, static_cast<int8_t>(x)) : PushUnsigned(L, x & 0xFF);
        case 16:
            return isSigned ? PushSigned(L, static_cast<int16_t>(x)) : PushUnsigned(L, x & 0xFFFF);
        default:
            return isSigned ? PushSigned(L, static_cast<int32_t>(x)) : PushUnsigned(L, x);
    }
}

// The order is the library's published command list.
constexpr qvCommandEntry kMathCommands[] = {
    {"Abs", Unary<[](double x) { return std::fabs(x); }>},
    {"Sin", Unary<[](double x) { return std::sin(x); }>},
    {"Cos", Unary<[](double x) { return std::cos(x); }>},
    {"Tan", Unary<[](double x) { return std::tan(x); }>},
    {"ASin", Unary<[](double x) { return std::asin(x); }>},
    {"ACos", Unary<[](double x) { return std::acos(x); }>},
    {"ATan", Unary<[](double x) { return std::atan(x); }>},
    {"ATan2", Binary<[](double y, double x) { return std::atan2(y, x); }>},
    {"Ceil", Unary<[](double x) { return std::ceil(x); }>},
    {"Floor", Unary<[](double x) { return std::floor(x); }>},
    {"Mod", Divide<[](double a, double b) { return std::fmod(a, b); }>},
    {"FrExp", FrExp},
    {"LdExp", LdExp},
    {"Sqrt", Unary<[](double x) { return std::sqrt(x); }>},
    {"Min", Min},
    {"Max", Max},
    {"Log", Binary<[](double x, double base) { return std::log10(x) / std::log10(base); }>},
    {"Ld", Unary<[](double x) { return std::log10(x) / std::log10(2.0); }>},
    {"Ln", Unary<[](double x) { return std::log(x); }>},
    {"Exp", Unary<[](double x) { return std::exp(x); }>},
    {"Deg", Unary<[](double x) { return x / kRadiansPerDegree; }>},
    {"Pow", Binary<[](double x, double y) { return std::pow(x, y); }>},
    {"Rad", Unary<[](double x) { return x * kRadiansPerDegree; }>},
    {"Rnd", Rnd},
    {"RndF", RndF},
    {"Add", Binary<[](double a, double b) { return a + b; }>},
    {"Sub", Binary<[](double a, double b) { return a - b; }>},
    {"Mul", Binary<[](double a, double b) { return a * b; }>},
    {"Div", Divide<[](double a, double b) { return a / b; }>},
    {"Round", Round},
    {"Int", Int},
    {"Frac", Unary<FracOf>},
    {"Shr", ShiftCommand<ShiftRight>},
    {"Shl", ShiftCommand<ShiftLeft>},
    {"Rt", Rt},
    {"Wrap", Wrap},
    {"Limit", Limit},
    {"BitSet", BitCommand<[](uint32_t x, uint32_t bit) { return x | (1u << bit); }>},
    {"BitTest", BitCommand<[](uint32_t x, uint32_t bit) { return (x >> bit) & 1; }>},
    {"BitClear", BitCommand<[](uint32_t x, uint32_t bit) { return x & ~(1u << bit); }>},
    {"BitXor", BitXor},
    {"BitComplement", BitComplement},
    {"Sgn", Sgn},
    {"Sar", Sar},
    {"Ror", Ror},
    {"Rol", Rol},
    {"Cast", Cast},
    {"Hypot", Binary<[](double x, double y) { return std::hypot(x, y); }>},
    {nullptr, nullptr},
};
static_assert(std::size(kMathCommands) == 49);

constexpr qvConstant kMathConstants[] = {
    {"PI", nullptr, 3.141592653589793},
    {nullptr, nullptr, 0},
};

}  // namespace
}  // namespace qv

int RegisterMathLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kMathCommands, 0);
    VmSetTop(L, -2);
    RegisterConstants(L, qv::kMathConstants, 0);
    // The run's clock, so that a run on a virtual clock draws the same numbers each time.
    auto seconds = static_cast<uint32_t>(qv::WallSeconds());
    SeedRandom48(seconds);
    std::srand(seconds);
    return RegisterCommandTable(qv::kMathCommands, "math");
}
