// The math commands on the cases that decide their rules: conversions, rounding, shifts and
// rotations at their limits, argument counts and types.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/libs/math/math_test_support.h"

namespace qv::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
    std::string command;
    std::vector<Arg> args;
    double expected;  // the result, or with code the expected error
    int code = 0;
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.command;
}

class MathCases : public MathLib, public ::testing::WithParamInterface<Case> {};

TEST_P(MathCases, GiveTheirResult) {
    const Case& c = GetParam();
    CallResult r = Call(c.command, c.args);
    ASSERT_EQ(r.code, c.code);
    if (c.code != 0) return;
    ASSERT_FALSE(r.results.empty());
    ASSERT_EQ(r.results[0].type, VM_TNUMBER);
    if (std::isnan(c.expected))
        EXPECT_TRUE(std::isnan(r.Number()));
    else
        EXPECT_EQ(r.Number(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MathCases,
    ::testing::Values(
        Case{"Round", {Num(0.5)}, 0}, Case{"Round", {Num(1.5)}, 2}, Case{"Round", {Num(2.5)}, 2},
        Case{"Round", {Num(3.5)}, 4}, Case{"Round", {Num(-2.5)}, -2},
        Case{"Round", {Num(1e12)}, 2147483647}, Case{"Int", {Num(-2.7)}, -2},
        Case{"Int", {Num(1e12)}, 2147483647}, Case{"Int", {Num(kNaN)}, -2147483648.0},
        Case{"Int", {Nil()}, 0}, Case{"Int", {Str("12.9")}, 12}, Case{"Frac", {Num(-2.75)}, -0.75},
        Case{"Min", {Num(3), Num(1), Num(1)}, 1}, Case{"Max", {Num(kNaN), Num(5), Num(9)}, kNaN},
        Case{"Max", {Num(1), Num(7), Num(3)}, 7}, Case{"Sgn", {Num(kNaN)}, 0},
        Case{"Sgn", {Num(-0.1)}, -1}, Case{"Sgn", {Num(4)}, 1},
        Case{"BitComplement", {Num(0)}, 4294967295.0}, Case{"Sar", {Num(-8), Num(1)}, -4},
        Case{"Sar", {Num(-8), Num(40)}, -1}, Case{"Sar", {Num(8), Num(40)}, 0},
        Case{"Shr", {Num(-8), Num(1)}, 2147483644}, Case{"Shl", {Num(1), Num(-1)}, 0},
        Case{"Shl", {Num(1), Num(65)}, 2}, Case{"Shr", {Num(4294967295.0), Num(32)}, 0},
        Case{"Rol", {Num(0x80000001), Num(1)}, 3}, Case{"Rol", {Num(0x81), Num(1), Num(7)}, 3},
        Case{"Ror", {Num(1), Num(1), Num(6)}, 0x8000}, Case{"Ror", {Num(5), Num(33)}, 0},
        Case{"Rol", {Num(0x80000001), Num(33)}, 3}, Case{"Ror", {Num(6), Num(0)}, 6},
        Case{"Rol", {Num(1), Num(9), Num(7)}, 0}, Case{"Ror", {Num(1), Num(1), Num(3)}, 0, 1055},
        Case{"Rol", {Num(1), Num(1), Num(0)}, 0, 1055}, Case{"Wrap", {Num(12), Num(0), Num(10)}, 2},
        Case{"Wrap", {Num(25), Num(0), Num(10)}, 15}, Case{"Wrap", {Num(10), Num(0), Num(10)}, 0},
        Case{"Wrap", {Num(-3), Num(0), Num(10)}, 7}, Case{"Limit", {Num(5), Num(10), Num(0)}, 10},
        Case{"Limit", {Num(50), Num(0), Num(10)}, 10}, Case{"Rnd", {Num(1)}, 0},
        Case{"Rnd", {Num(0)}, 0, 1089}, Case{"Rnd", {Num(-3)}, 0, 1055},
        Case{"Cast", {Num(0x1FF), Num(0), Num(7)}, 255},
        Case{"Cast", {Num(255), Num(1), Num(7)}, -1},
        Case{"Cast", {Num(-1), Num(0), Num(6)}, 65535}, Case{"Cast", {Num(-1), Num(1), Num(1)}, -1},
        Case{"Cast", {Num(-1), Num(0), Num(1)}, 4294967295.0},
        Case{"Cast", {Num(1), Num(0), Num(3)}, 0, 1055},
        Case{"BitSet", {Num(0), Num(31)}, 2147483648.0}, Case{"BitSet", {Num(0), Num(32)}, 0, 1055},
        Case{"BitTest", {Num(4), Num(2)}, 1}, Case{"BitTest", {Num(4), Num(-1)}, 0, 1055},
        Case{"BitClear", {Num(-1), Num(0)}, 4294967294.0},
        Case{"BitXor", {Num(4294967295.0), Num(1)}, 4294967294.0},
        Case{"Mod", {Num(-7), Num(3)}, -1}, Case{"Mod", {Num(7), Num(0)}, 0, 1089},
        Case{"Div", {Num(1), Num(0)}, 0, 1089}, Case{"Div", {Num(1), Num(4)}, 0.25},
        Case{"Rt", {Num(27), Num(3)}, 3}, Case{"Rt", {Num(27), Num(0)}, 0, 1089},
        Case{"Rt", {Num(27), Num(-3)}, 0, 1055}, Case{"Sqrt", {Num(-1)}, kNaN},
        Case{"Log", {Num(8), Num(2)}, std::log10(8.0) / std::log10(2.0)},
        Case{"Ld", {Num(1024)}, std::log10(1024.0) / std::log10(2.0)},
        Case{"Deg", {Num(M_PI)}, M_PI / 0.017453292519943295},
        Case{"Rad", {Num(180)}, 180 * 0.017453292519943295}, Case{"Add", {Str("2"), Nil()}, 2},
        // Counts and types.
        Case{"Abs", {}, 0, 1014}, Case{"Abs", {Num(1), Num(2)}, 0, 1193},
        Case{"Min", {Num(1)}, 0, 1014}, Case{"Rol", {Num(1), Num(1), Num(1), Num(1)}, 0, 1193},
        Case{"RndF", {Num(1)}, 0, 1193}, Case{"Sin", {Str("abc")}, 0, 1138},
        Case{"BitXor", {Num(1), Table({})}, 0, 1138}, Case{"Cast", {Num(1), Num(0)}, 0, 1014}),
    kCommandCaseName);

TEST_F(MathLib, FrExpGivesMantissaAndExponent) {
    CallResult r = Call("FrExp", {Num(-12)});
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(r.results.size(), 2u);
    EXPECT_EQ(r.Number(0), -0.75);
    EXPECT_EQ(r.Number(1), 4);
}

TEST_F(MathLib, PiIsAConstant) {
    const char* text = nullptr;
    double value = 0;
    ASSERT_NE(LookupConstant(L, "pi", &text, &value), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(value, 3.141592653589793);
}

TEST_F(MathLib, NumberTypeErrorNamesTheArgument) {
    CallResult r = Call("Pow", {Num(2), Str("x")});
    EXPECT_EQ(r.code, 1138);
    EXPECT_EQ(r.errorNumber, 2u);
}

}  // namespace
}  // namespace qv::testing
