// The math commands against independent references: Python's integers masked to 32 bits for
// the bit operations, Python's round and math module, and glibc's drand48 family.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/random.h"
#include "tests/libs/math/math_test_support.h"

namespace qv::testing {
namespace {

// Reads its cases "op x n width" from standard input and prints each result or "E<code>".
constexpr const char* kBitReference = R"PY(
import sys
M = 0xFFFFFFFF
def trunc32(x):
    return max(-2**31, min(2**31 - 1, int(x)))
def bits32(x):
    return min(int(x), M) if x >= 2**31 else trunc32(x) & M
def shl(x, n):
    c = n & 63
    return (x << c) & M if c < 32 else 0
def shr(x, n):
    c = n & 63
    return x >> c if c < 32 else 0
def sar(x, n):
    s = x - 2**32 if x >= 2**31 else x
    c = n & 63
    return s >> c if c < 32 else (-1 if s < 0 else 0)
def rotate(x, n, w, left):
    if w == 1:
        if left:
            c = n & 31
            return ((x << c) | (x >> (32 - c))) & M
        return shr(x, n) | shl(x, 32 - n)
    b = {6: 16, 7: 8}.get(w)
    if b is None:
        return 'E1055'
    v = x & ((1 << b) - 1)
    r = shl(v, n) | shr(v, b - n) if left else shr(v, n) | shl(v, b - n)
    return r & ((1 << b) - 1)
def bit(x, n, f):
    return 'E1055' if (n & M) > 31 else f(x, n)
def cast(x, s, w):
    b = {1: 32, 6: 16, 7: 8}.get(w)
    if b is None:
        return 'E1055'
    v = x & ((1 << b) - 1)
    return v - (1 << b) if s and v >> (b - 1) else v
for line in sys.stdin:
    op, xs, ns, ws = line.split()
    x, n, w = bits32(float(xs)), trunc32(float(ns)), trunc32(float(ws))
    r = {
        'Shl': lambda: shl(x, n), 'Shr': lambda: shr(x, n), 'Sar': lambda: sar(x, n),
        'Rol': lambda: rotate(x, n, w, True), 'Ror': lambda: rotate(x, n, w, False),
        'BitSet': lambda: bit(x, n, lambda a, b: a | (1 << b)),
        'BitClear': lambda: bit(x, n, lambda a, b: a & ~(1 << b) & M),
        'BitTest': lambda: bit(x, n, lambda a, b: (a >> b) & 1),
        'BitXor': lambda: x ^ bits32(float(ns)), 'BitComplement': lambda: ~x & M,
        'Cast': lambda: cast(x, n, w),
    }[op]()
    print(r)
)PY";

struct BitCase {
    std::string op;
    double x, n, width;
};

std::vector<BitCase> RandomBitCases(size_t count) {
    static const char* const kOps[] = {"Shl",    "Shr",           "Sar",      "Rol",
                                       "Ror",    "BitSet",        "BitClear", "BitTest",
                                       "BitXor", "BitComplement", "Cast"};
    static const double kWidths[] = {1, 6, 7, 1, 6, 7, 3};
    std::mt19937_64 rng(20120219);
    std::uniform_int_distribution<int64_t> x(-(int64_t{1} << 34), int64_t{1} << 34);
    std::uniform_int_distribution<int> n(-70, 70), op(0, 10), width(0, 6);
    std::vector<BitCase> cases;
    for (size_t i = 0; i < count; ++i) {
        const char* name = kOps[op(rng)];
        double count_or_other =
            std::string(name) == "BitXor" ? static_cast<double>(x(rng)) : n(rng);
        cases.push_back({name, static_cast<double>(x(rng)), count_or_other, kWidths[width(rng)]});
    }
    return cases;
}

std::string Describe(const CallResult& r) {
    if (r.code != 0) return "E" + std::to_string(r.code);
    std::ostringstream out;
    out.precision(17);
    out << r.Number();
    return out.str();
}

TEST_F(MathLib, BitOperationsEqualPythonIntegers) {
    QV_REQUIRE_TOOL("python3");
    std::vector<BitCase> cases = RandomBitCases(12000);
    std::ostringstream input;
    input.precision(17);
    for (const BitCase& c : cases)
        input << c.op << ' ' << c.x << ' ' << c.n << ' ' << c.width << '\n';
    ToolRun py = RunPython(kBitReference, input.str());
    ASSERT_EQ(py.status, 0);
    std::vector<std::string> expected = SplitLines(py.output);
    ASSERT_EQ(expected.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const BitCase& c = cases[i];
        std::vector<Arg> args = {Num(c.x)};
        if (c.op != "BitComplement") args.push_back(Num(c.n));
        if (c.op == "Cast" || c.op == "Rol" || c.op == "Ror") args.push_back(Num(c.width));
        ASSERT_EQ(Describe(Call(c.op, args)), expected[i])
            << c.op << "(" << c.x << ", " << c.n << ", " << c.width << ")";
    }
}

// Every double as an exact hexadecimal text, which both sides read back without loss.
std::string Hex(double x) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", x);
    return text;
}

bool SameBits(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Hypot is the C library's, as the other functions are; Python's own is correctly rounded and
// differs from it in the last unit now and then.
constexpr const char* kFloatReference = R"PY(
import ctypes, ctypes.util, math, sys
libm = ctypes.CDLL(ctypes.util.find_library('m'))
libm.hypot.restype = ctypes.c_double
libm.hypot.argtypes = [ctypes.c_double, ctypes.c_double]
for line in sys.stdin:
    op, a, b = line.split()
    x, y = float.fromhex(a), float.fromhex(b)
    if op == 'Round':
        print(round(x))
    elif op == 'FrExp':
        m, e = math.frexp(x)
        print(m.hex(), e)
    elif op == 'LdExp':
        try:
            print(math.ldexp(x, int(y)).hex())
        except OverflowError:
            print(math.copysign(math.inf, x).hex())
    elif op == 'Hypot':
        print(libm.hypot(x, y).hex())
    elif op == 'Mod':
        print(math.fmod(x, y).hex())
)PY";

TEST_F(MathLib, FloatCommandsEqualPython) {
    QV_REQUIRE_TOOL("python3");
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    std::uniform_int_distribution<int> half(-5000, 5000), exponent(-1100, 1100);
    std::vector<std::vector<double>> cases;  // op index, a, b
    for (int i = 0; i < 2000; ++i) {
        cases.push_back({0, half(rng) + 0.5, 0});
        cases.push_back({1, wide(rng) * std::pow(10.0, half(rng) % 200), 0});
        cases.push_back({2, wide(rng), static_cast<double>(exponent(rng))});
        cases.push_back({3, wide(rng), wide(rng)});
        cases.push_back({4, wide(rng), wide(rng) / 1000});
    }
    static const char* const kOps[] = {"Round", "FrExp", "LdExp", "Hypot", "Mod"};
    std::string input;
    for (const auto& c : cases)
        input +=
            std::string(kOps[static_cast<int>(c[0])]) + " " + Hex(c[1]) + " " + Hex(c[2]) + "\n";
    ToolRun py = RunPython(kFloatReference, input);
    ASSERT_EQ(py.status, 0);
    std::vector<std::string> expected = SplitLines(py.output);
    ASSERT_EQ(expected.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const char* op = kOps[static_cast<int>(cases[i][0])];
        std::vector<Arg> args = {Num(cases[i][1])};
        if (std::string(op) != "Round" && std::string(op) != "FrExp")
            args.push_back(Num(cases[i][2]));
        CallResult r = Call(op, args);
        ASSERT_EQ(r.code, 0) << op;
        std::istringstream want(expected[i]);
        std::string first, second;
        want >> first >> second;
        if (std::string(op) == "Round") {
            EXPECT_EQ(r.Number(), std::stod(first)) << Hex(cases[i][1]);
            continue;
        }
        EXPECT_TRUE(SameBits(r.Number(), std::strtod(first.c_str(), nullptr)))
            << op << " " << Hex(cases[i][1]) << " " << Hex(cases[i][2]) << ": " << Hex(r.Number())
            << " against " << first;
        if (!second.empty()) {
            EXPECT_EQ(r.Number(1), std::stod(second));
        }
    }
}

TEST_F(MathLib, RandomNumbersFollowGlibcDrand48) {
    for (long seed : {0L, 1L, 12345L}) {
        SeedRandom48(static_cast<uint32_t>(seed));
        srand48(seed);
        for (int i = 0; i < 1000; ++i)
            ASSERT_EQ(Call("RndF").Number(), drand48()) << seed << " " << i;
        for (int n : {1, 6, 100, 2147483647}) {
            ASSERT_EQ(Call("Rnd", {Num(n)}).Number(), static_cast<int>(drand48() * n)) << n;
        }
    }
}

}  // namespace
}  // namespace qv::testing
