// Eval: precedence and associativity, the 32-bit rules, the operator-word rule, variables,
// errors, and nesting limits instead of a native stack overflow.
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

using namespace std::string_literals;

struct Case {
    std::string text;
    double value;  // when code is 0
    int code;
};

void ExpectEval(LibFixture& lib, const std::vector<Case>& cases,
                const std::vector<Arg>& extra = {}) {
    for (const Case& c : cases) {
        std::vector<Arg> args{Str(c.text)};
        args.insert(args.end(), extra.begin(), extra.end());
        const CallResult r = lib.Call("Eval", args);
        EXPECT_EQ(r.code, c.code) << c.text;
        if (c.code == 0) {
            EXPECT_EQ(r.Number(), c.value) << c.text;
        }
    }
}

TEST_F(StringLib, EvalArithmetic) {
    ExpectEval(*this, {
                          {"2+3*4", 14, 0},
                          {"(2+3)*4", 20, 0},
                          {"2^3^2", 512, 0},
                          {"-2^2", -4, 0},
                          {"2^-1", 0.5, 0},
                          {"2*-3", -6, 0},
                          {"10-4-3", 3, 0},
                          {"  7  ", 7, 0},
                          {"\t1e3", 1000, 0},
                          {"$FF + 0x10", 271, 0},
                          {"7\\2", 3, 0},
                          {"-7\\2", -3, 0},
                          {"-7%2", -1, 0},
                          {"7.9\\2.9", 3, 0},
                          {"-2147483648\\-1", 2147483648.0, 0},
                          {"5%-1", 0, 0},
                          {"5\\0", 0, ERR_ZERODIVISION},
                          {"5%0.5", 0, ERR_ZERODIVISION},
                          {"1/0", 0, ERR_ZERODIVISION},
                          {"1/4", 0.25, 0},
                      });
}

TEST_F(StringLib, EvalBitsAndLogic) {
    ExpectEval(*this, {
                          {"1 << 4", 16, 0},
                          {"1 << 33", 0, 0},
                          {"1 << 64", 1, 0},
                          {"-1 >> 28", 15, 0},
                          {"1 << -1", 0, 0},
                          {"~0", 4294967295.0, 0},
                          {"~-1", 0, 0},
                          {"5 & 3", 1, 0},
                          {"5 | 3", 7, 0},
                          {"5 ~ 3", 6, 0},
                          {"4294967296 | 0", 4294967295.0, 0},
                          {"3 > 2 and 5", 5, 0},
                          {"0 or 5", 5, 0},
                          {"0 and 5", 0, 0},
                          {"2 or 5", 2, 0},
                          {"not 0", 1, 0},
                          {"NOT 5", 0, 0},
                          {"2 <> 3", 1, 0},
                          {"2 = 2", 1, 0},
                          {"3 >= 2", 1, 0},
                          {"3 <= 2", 0, 0},
                          {"1 < 2 = 1", 1, 0},
                      });
}

TEST_F(StringLib, EvalErrors) {
    ExpectEval(*this, {
                          {"1 .. 2", 0, ERR_WRONGOPCST},
                          {"3 4", 0, ERR_SYNTAXERROR},
                          {"(1", 0, ERR_SYNTAXERROR},
                          {"1)", 0, ERR_SYNTAXERROR},
                          {"", 0, ERR_SYNTAXERROR},
                          {"1 +", 0, ERR_SYNTAXERROR},
                          {"abc", 0, ERR_SYNTAXERROR},
                          {"$", 0, ERR_SYNTAXERROR},
                          {"1\0"s, 0, ERR_SYNTAXERROR},
                          // An operator word followed by a letter or digit is no operator.
                          {"1<<2", 0, ERR_SYNTAXERROR},
                          {"3>=2", 0, ERR_SYNTAXERROR},
                          {"1 and2", 0, ERR_SYNTAXERROR},
                      });
}

Arg Variables(std::vector<Arg> entries) {
    return Table({{Str("variables"), List(std::move(entries))}});
}

Arg Variable(Arg name, Arg value) {
    return Table({{Str("name"), std::move(name)}, {Str("value"), std::move(value)}});
}

TEST_F(StringLib, EvalVariables) {
    ExpectEval(*this, {{"WIDTH/2", 160, 0}, {"width_", 0, ERR_SYNTAXERROR}},
               {Variables({Variable(Str("Width"), Num(320))})});
    // A name is taken only when no letter or digit follows, so "w" does not eat "width".
    ExpectEval(*this, {{"width*2 + w", 21, 0}},
               {Variables({Variable(Str("w"), Num(1)), Variable(Str("width"), Num(10))})});
    const std::string longest = "v" + std::string(63, '1');
    ExpectEval(*this, {{longest + "+1", 3, 0}}, {Variables({Variable(Str(longest), Num(2))})});
    ExpectEval(*this, {{"a$!_9", 5, 0}, {"\xE9t\xE9", 6, 0}},
               {Variables({Variable(Str("a$!_9"), Num(5)), Variable(Str("\xC9T\xC9"), Num(6))})});
    ExpectEval(*this, {{"1", 1, 0}}, {Table({{Str("variables"), Num(3)}})});
    ExpectEval(*this, {{"x", 0, 0}}, {Variables({Table({{Str("name"), Str("x")}})})});
}

TEST_F(StringLib, EvalVariableErrors) {
    struct Case {
        Arg options;
        int code;
    };
    const Case cases[] = {
        {Num(1), ERR_TABEXPECTED},
        {Variables({Num(1)}), ERR_TABEXPECTED},
        {Variables({Variable(Str(std::string(65, 'v')), Num(1))}), ERR_WRONGUSAGE},
        {Variables({Variable(Str(""), Num(1))}), ERR_WRONGUSAGE},
        {Variables({Variable(Str("1a"), Num(1))}), ERR_WRONGUSAGE},
        {Variables({Variable(Str("a b"), Num(1))}), ERR_WRONGUSAGE},
        {Variables({Variable(Num(5), Num(1))}), ERR_WRONGUSAGE},
        {Variables({Table({{Str("value"), Num(1)}})}), ERR_WRONGUSAGE},
        {Variables({Variable(Str("x"), Num(1)), Num(2)}), ERR_TABEXPECTED},
        {Variables({Variable(Str("x"), Bool(true))}), ERR_NUMTABLEARG},
    };
    for (const Case& c : cases) EXPECT_EQ(Call("Eval", {Str("1"), c.options}).code, c.code);
    // Each is returned as Eval's code, so that a script that keeps going can read it.
    SetExitOnError(false);
    for (const Case& c : cases) {
        CallResult r = Call("Eval", {Str("1"), c.options});
        EXPECT_EQ(r.code, c.code);
        EXPECT_FALSE(r.ended) << c.code;
    }
}

// Deep nesting ends with the engine's native-call limit, 1135, instead of overflowing the
// native stack; 200 levels still work.
TEST_F(StringLib, EvalNestingLimit) {
    const auto nested = [](int depth) {
        return std::string(static_cast<size_t>(depth), '(') + "1" +
               std::string(static_cast<size_t>(depth), ')');
    };
    std::string powers = "2";
    for (int i = 0; i < 100000; ++i) powers += "^1";
    ExpectEval(*this, {
                          {nested(200), 1, 0},
                          {nested(201), 0, ERR_STACK},
                          {nested(100000), 0, ERR_STACK},
                          {std::string(100000, '-') + "1", 0, ERR_STACK},
                          {std::string(199, '-') + "1", -1, 0},
                          {powers, 0, ERR_STACK},
                      });
    std::string nots;
    for (int i = 0; i < 100000; ++i) nots += "not ";
    ExpectEval(*this, {{nots + "1", 0, ERR_STACK}});
}

}  // namespace
}  // namespace qv::testing
