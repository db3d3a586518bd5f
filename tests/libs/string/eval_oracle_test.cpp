// Eval against Python on random expression trees. Each tree is written twice: in Eval's
// syntax with only the parentheses its priorities need, and as a fully bracketed Python
// expression whose helpers spell out the 32-bit rules ("\" and "%" by math.trunc and
// math.fmod, bit operators on integers masked to 32 bits).
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

struct Expr {
    std::string ours;
    std::string python;
    bool binary = false;
    int left = 0;  // priorities of the top binary operator
    int right = 0;
    bool unary = false;
};

struct Operator {
    const char* ours;
    int left;
    int right;
    const char* python;  // a helper name, or an infix operator in brackets
    bool infix;
};

const Operator kOperators[] = {
    {"+", 10, 10, "+", true},   {"-", 10, 10, "-", true},      {"*", 11, 11, "*", true},
    {"/", 11, 11, "/", true},   {"\\", 11, 11, "idiv", false}, {"%", 11, 11, "imod", false},
    {"<<", 9, 9, "shl", false}, {">>", 9, 9, "shr", false},    {"|", 6, 6, "bor", false},
    {"&", 8, 8, "band", false}, {"~", 7, 7, "bxor", false},    {"<>", 3, 3, "ne", false},
    {"=", 3, 3, "eq", false},   {"<", 3, 3, "lt", false},      {"<=", 3, 3, "le", false},
    {">", 3, 3, "gt", false},   {">=", 3, 3, "ge", false},     {"and", 2, 2, "land", false},
    {"or", 1, 1, "lor", false},
};

class ExprGenerator {
public:
    Expr Make(int depth) {
        const int choice = Pick(depth == 0 ? 1 : 10);
        if (choice == 0) return Leaf();
        if (choice == 1) return Power();
        if (choice == 2) return Unary(depth);
        return Binary(depth);
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    Expr Leaf() {
        const int whole = Pick(21);
        const bool half = Pick(4) == 0;
        const std::string text = std::to_string(whole) + (half ? ".5" : "");
        return {text, text + (half ? "" : ".0")};
    }

    // Powers of small numbers only: Python raises where C's pow overflows.
    Expr Power() {
        const std::string base = std::to_string(Pick(6));
        const std::string exponent = std::to_string(Pick(4));
        Expr e{base + "^" + exponent, "(" + base + ".0 ** " + exponent + ".0)"};
        e.binary = true;
        e.left = 14;
        e.right = 13;
        return e;
    }

    Expr Unary(int depth) {
        Expr operand = Make(depth - 1);
        // The operand of a unary operator is read with limit 12: only "^" binds tighter.
        if (operand.binary && operand.left <= 12) operand.ours = "(" + operand.ours + ")";
        static const char* const kOurs[] = {"-", "not ", "~"};
        static const char* const kPython[] = {"neg", "lnot", "bnot"};
        const int k = Pick(3);
        Expr e{kOurs[k] + operand.ours, std::string(kPython[k]) + "(" + operand.python + ")"};
        e.unary = true;
        return e;
    }

    Expr Binary(int depth) {
        const Operator& op = kOperators[Pick(std::size(kOperators))];
        Expr l = Make(depth - 1);
        Expr r = Make(depth - 1);
        // The left operand stays whole unless its last operator would take op into its own
        // right operand; a unary operator takes only "^".
        if ((l.binary && op.left > l.right) || (l.unary && op.left > 12))
            l.ours = "(" + l.ours + ")";
        if (r.binary && r.left <= op.right) r.ours = "(" + r.ours + ")";
        Expr e;
        e.ours = l.ours + " " + op.ours + " " + r.ours;
        e.python = op.infix ? "(" + l.python + " " + op.python + " " + r.python + ")"
                            : std::string(op.python) + "(" + l.python + ", " + r.python + ")";
        e.binary = true;
        e.left = op.left;
        e.right = op.right;
        return e;
    }

    std::mt19937 random_{31337};
};

constexpr char kPythonEvaluator[] = R"(
import math, sys
def t32(x):
    if x != x: return -2**31
    if x >= 2**31: return 2**31 - 1
    if x <= -2**31: return -2**31
    return int(x)
def u32(x):
    if x != x: return 0x80000000
    if x >= 2**31: return t32(x - 2**31) + 2**31
    return t32(x) & 0xFFFFFFFF
def idiv(a, b):
    a, b = t32(a), t32(b)
    if b == 0: raise ZeroDivisionError
    if b == -1: return float(-a)
    q = abs(a) // abs(b)
    return float(q if (a < 0) == (b < 0) else -q)
def imod(a, b):
    a, b = t32(a), t32(b)
    if b == 0: raise ZeroDivisionError
    return 0.0 if b == -1 else math.fmod(a, b)
def count(b): return u32(b) & 63
def shl(a, b): return float((u32(a) << count(b)) & 0xFFFFFFFF) if count(b) < 32 else 0.0
def shr(a, b): return float(u32(a) >> count(b)) if count(b) < 32 else 0.0
def bor(a, b): return float(u32(a) | u32(b))
def band(a, b): return float(u32(a) & u32(b))
def bxor(a, b): return float(u32(a) ^ u32(b))
def ne(a, b): return float(a != b)
def eq(a, b): return float(a == b)
def lt(a, b): return float(a < b)
def le(a, b): return float(a <= b)
def gt(a, b): return float(a > b)
def ge(a, b): return float(a >= b)
def land(a, b): return b if a != 0 and b != 0 else 0.0
def lor(a, b): return a if a != 0 else b
def neg(a): return -a
def lnot(a): return 1.0 if a == 0 else 0.0
def bnot(a): return float(~u32(a) & 0xFFFFFFFF)
for line in sys.stdin.read().split("\n")[:-1]:
    try:
        print(repr(eval(line)))
    except ZeroDivisionError:
        print("zero")
)";

TEST_F(StringLib, EvalAgreesWithPython) {
    QV_REQUIRE_TOOL("python3");
    ExprGenerator generator;
    std::vector<Expr> exprs;
    std::string input;
    for (int i = 0; i < 1500; ++i) {
        exprs.push_back(generator.Make(1 + i % 6));
        input += exprs.back().python + "\n";
    }
    const ToolRun py = RunPython(kPythonEvaluator, input);
    ASSERT_EQ(py.status, 0);
    const std::vector<std::string> lines = SplitLines(py.output);
    ASSERT_EQ(lines.size(), exprs.size());
    int mismatches = 0;
    int errors = 0;
    for (size_t i = 0; i < exprs.size(); ++i) {
        const CallResult r = Call("Eval", {Str(exprs[i].ours)});
        bool same;
        if (lines[i] == "zero") {
            same = r.code == ERR_ZERODIVISION;
            ++errors;
        } else {
            const double expected = std::stod(lines[i]);
            same = r.code == 0 &&
                   (r.Number() == expected || (std::isnan(r.Number()) && std::isnan(expected)));
        }
        if (!same && ++mismatches <= 20) {
            ADD_FAILURE() << exprs[i].ours << " = " << r.Number() << " (code " << r.code
                          << "), Python " << lines[i] << " for " << exprs[i].python;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_LT(errors, 500);
}

}  // namespace
}  // namespace qv::testing
