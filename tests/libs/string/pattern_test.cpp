// Patterns by hand: classes and sets, repetitions, captures, back-references, "%b", "%f",
// anchors, replacement texts and functions, errors, and patterns that would overflow the
// native stack or run for hours.
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

using namespace std::string_literals;

std::string Repeat(const std::string& item, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += item;
    return s;
}

struct ReplaceCase {
    std::string s;
    std::string pattern;
    Arg repl;
    std::string expected;
    double count;
};

void ExpectReplacements(LibFixture& lib, const std::vector<ReplaceCase>& cases) {
    for (const ReplaceCase& c : cases) {
        const CallResult r = lib.Call("PatternReplaceStr", {Str(c.s), Str(c.pattern), c.repl});
        EXPECT_EQ(r.code, 0) << c.pattern;
        EXPECT_EQ(r.Text(0), c.expected) << c.pattern << " in " << c.s;
        EXPECT_EQ(r.Number(1), c.count) << c.pattern << " in " << c.s;
    }
}

TEST_F(StringLib, PatternReplaceTexts) {
    ExpectReplacements(*this, {
                                  {"hello world", "o", Str("0"), "hell0 w0rld", 2},
                                  {"abc", "", Str("-"), "-a-b-c-", 4},
                                  {"abc", "^%a", Str("X"), "Xbc", 1},
                                  {"x^y", "^", Str("-"), "-x^y", 1},
                                  {"hello", "l+", Str("%0%0"), "hellllo", 1},
                                  {"hello world", "(%w+)", Str("<%1>"), "<hello> <world>", 2},
                                  {"hello world", "%w+", Str("<%1>"), "<hello> <world>", 2},
                                  {"abc", "%w", Str("%%"), "%%%", 3},
                                  {"abc", "b", Str("%"), "a%c", 1},
                                  {"abc", "()b", Str("%1"), "a2c", 1},
                                  {"a\0b"s, "%z", Str("0"), "a0b", 1},
                                  {"a1 B2\t", "%s", Str("_"), "a1_B2_", 2},
                                  {"aB1.", "%U", Str("_"), "_B__", 3},
                                  {"aB1.", "[%l%d]", Str("_"), "_B_.", 2},
                                  {"a-b]c", "[]-]", Str("_"), "a_b_c", 2},
                                  {"a-b]c", "[^]-]", Str("_"), "_-_]_", 3},
                                  {"abcxyz", "[b-dx-]", Str("_"), "a___yz", 3},
                                  {"a$b", "$b", Str("X"), "aX", 1},
                                  {"aaa", "a$", Str("X"), "aaX", 1},
                                  {"xyzzy abab", "(.)%1", Str("#"), "xy#y abab", 1},
                                  {"colour color", "colou?r", Str("C"), "C C", 2},
                                  {"<a><b>", "<(.-)>", Str("[%1]"), "[a][b]", 2},
                                  {"THE (quick) fox", "%f[%a]%a+", Str("W"), "W (W) W", 3},
                                  {"f(a(b)c) d", "%b()", Str("B"), "fB d", 1},
                                  {"\xE9t\xE9 1", "%a+", Str("W"), "W 1", 1},
                                  {"x1", "%W", Str("_"), "x1", 0},
                                  {"aaa", "b*", Str("-"), "-a-a-a-", 4},
                              });
}

TEST_F(StringLib, PatternReplaceLimits) {
    const auto replace = [&](double max) {
        return Call("PatternReplaceStr", {Str("hello world"), Str("o"), Str("0"), Num(max)});
    };
    EXPECT_EQ(replace(1).Text(), "hell0 world");
    EXPECT_EQ(replace(1).Number(1), 1);
    EXPECT_EQ(replace(0).Text(), "hello world");
    EXPECT_EQ(replace(-5).Number(1), 0);
    // Max below 1 returns before the pattern is read.
    EXPECT_EQ(Call("PatternReplaceStr", {Str("x"), Str("%"), Str(""), Num(0)}).code, 0);
}

TEST_F(StringLib, PatternReplaceFunctions) {
    int calls = 0;
    const Arg wrap = Native([&](qvVmState* L) {
        ++calls;
        std::string text = "<";
        for (int i = 1; i <= VmGetTop(L); ++i) text += std::string(VmToString(L, i)) + "|";
        VmPushLString(L, text.data(), text.size());
        return 1;
    });
    ExpectReplacements(*this, {{"a=1, b=2", "(%w+)=(%w+)", wrap, "<a|1|, <b|2|", 2},
                               {"x1y22", "%d+", wrap, "x<1|y<22|", 2}});
    EXPECT_EQ(calls, 4);
    const Arg remove = Native([](qvVmState* L) {
        VmPushNil(L);
        return 1;
    });
    const Arg number = Native([](qvVmState* L) {
        VmPushNumber(L, 7);
        return 1;
    });
    const Arg table = Native([](qvVmState* L) {
        VmNewTable(L);
        return 1;
    });
    ExpectReplacements(*this, {{"a1b2", "%d", remove, "ab", 2},
                               {"a1b2", "%d", number, "a7b7", 2},
                               {"a1b2", "%d", table, "ab", 2}});
    // A script function as the replacement.
    const Arg script = Script(R"(
.function main params=1
    LOADK r1 "["
    MOVE r2 r0
    LOADK r3 "]"
    CONCAT r1 r1 r3
    RETURN r1 2
.end
)");
    ExpectReplacements(*this, {{"ab", "%a", script, "[a][b]", 2}});
}

// Each call of the iterator returns the next match's captures.
TEST_F(StringLib, PatternFindIterates) {
    struct Case {
        std::string s;
        std::string pattern;
        std::vector<std::vector<std::string>> matches;  // position captures as text
    };
    const Case cases[] = {
        {"a=1, b=2", "(%w+)=(%w+)", {{"a", "1"}, {"b", "2"}}},
        {"hello", "()ll()", {{"3", "5"}}},
        {"f(a(b)c) d", "%b()", {{"(a(b)c)"}}},
        {"x^y", "^", {{"^"}}},
        {"abc", "", {{""}, {""}, {""}, {""}}},
        {"one two", "%a+", {{"one"}, {"two"}}},
        {"abc", "x", {}},
    };
    for (const Case& c : cases) {
        const std::vector<CallResult> found = Iterate("PatternFindStr", {Str(c.s), Str(c.pattern)});
        ASSERT_EQ(found.size(), c.matches.size()) << c.pattern;
        for (size_t m = 0; m < found.size(); ++m) {
            ASSERT_EQ(found[m].code, 0) << c.pattern;
            ASSERT_EQ(found[m].results.size(), c.matches[m].size()) << c.pattern;
            for (size_t i = 0; i < c.matches[m].size(); ++i) {
                const Value& v = found[m].results[i];
                EXPECT_EQ(v.type == VM_TNUMBER ? std::to_string(int(v.number)) : v.text,
                          c.matches[m][i])
                    << c.pattern;
            }
        }
    }
    // Errors come when the iterator runs.
    EXPECT_EQ(Iterate("PatternFindStr", {Str("x"), Str("[a")})[0].code, ERR_MALFORMPAT2);
}

TEST_F(StringLib, PatternErrors) {
    struct Case {
        std::string pattern;
        int code;
    };
    const Case cases[] = {
        {"(", ERR_UNFINISHEDCAPTURE},
        {"%", ERR_MALFORMPAT1},
        {"[a", ERR_MALFORMPAT2},
        {"[]", ERR_MALFORMPAT2},
        {"[%", ERR_MALFORMPAT2},
        {"%b(", ERR_UNBALANCEDPAT},
        {"%fx", ERR_MISSINGOPBRACK},
        {"%f", ERR_MISSINGOPBRACK},
        {")", ERR_INVPATCAP},
        {"(.)%2", ERR_INVCAPIDX},
        {"(.%1)", ERR_INVCAPIDX},
        {"%1", ERR_INVCAPIDX},
        {Repeat("()", 33), ERR_TOOMANYCAPTURES},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call("PatternReplaceStr", {Str("x"), Str(c.pattern), Str("")}).code, c.code)
            << c.pattern;
    }
    // Invalid capture numbers in the replacement: "%2" with one capture.
    EXPECT_EQ(Call("PatternReplaceStr", {Str("ab"), Str("(a)"), Str("%2")}).code, ERR_INVCAPIDX);
    EXPECT_EQ(Call("PatternReplaceStr", {Str("ab"), Str("a"), Str("%2")}).code, ERR_INVCAPIDX);
}

// Patterns of many items: single items advance in a loop, so a long plain pattern matches;
// every repetition and capture nests, and beyond 200 levels the matcher stops with 1135.
TEST_F(StringLib, PatternDepthLimits) {
    const std::string plain(10000, 'a');
    const CallResult r = Call("PatternReplaceStr", {Str(plain), Str(plain), Str("X")});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.Text(), "X");
    EXPECT_EQ(Call("PatternReplaceStr", {Str("aaa"), Str(Repeat("a*", 10000)), Str("X")}).code,
              ERR_STACK);
    EXPECT_EQ(Call("PatternReplaceStr", {Str(plain), Str(Repeat("a?", 10000)), Str("X")}).code,
              ERR_STACK);
    EXPECT_EQ(Call("PatternReplaceStr", {Str("aaa"), Str(Repeat("(a*)", 30)), Str("X")}).Text(),
              "XX");
    EXPECT_EQ(Call("PatternReplaceStr", {Str("aaa"), Str(Repeat("a*", 150)), Str("X")}).Text(),
              "XX");
}

std::string Runaway() {
    return Repeat("a*", 12) + "b";
}

// A pattern that backtracks for hours ends at the abort flag (Ctrl-C) with 1003.
TEST_F(StringLib, PatternRunawayStopsAtAbort) {
    Abort();
    const CallResult r =
        Call("PatternReplaceStr", {Str(std::string(60, 'a')), Str(Runaway()), Str("")});
    EXPECT_EQ(r.code, ERR_USERABORT);
}

// The same when the input pump sets the flag while the script's replacement function runs:
// the first match ("xb") calls the function, then the runaway part begins.
TEST_F(StringLib, PatternRunawayStopsWhenThePumpAborts) {
    InstallFakePump(1);
    const Arg callback = Script(R"(
.function main params=1
.line 1
    LOADK r1 "-"
.line 2
    RETURN r1 2
.end
)");
    const CallResult r = Call("PatternReplaceStr",
                              {Str("xb" + std::string(60, 'a')), Str("x?" + Runaway()), callback});
    EXPECT_GE(PumpCalls(), 1);
    EXPECT_EQ(r.code, ERR_USERABORT);
}

// The first-byte filter of long subjects skips positions only; results equal the short
// path's.
TEST_F(StringLib, PatternLongSubjects) {
    std::string subject;
    for (int i = 0; i < 2000; ++i) subject += "ab12cd345 ";
    const CallResult r = Call("PatternReplaceStr", {Str(subject), Str("%d+"), Str("#")});
    std::string expected;
    for (int i = 0; i < 2000; ++i) expected += "ab#cd# ";
    EXPECT_EQ(r.Text(), expected);
    EXPECT_EQ(r.Number(1), 4000);
    EXPECT_EQ(Call("PatternReplaceStr", {Str(subject), Str("x+"), Str("#")}).Number(1), 0);
    EXPECT_EQ(Call("PatternReplaceStr", {Str(subject + "9"), Str("%d$"), Str("#")}).Number(1), 1);
}

}  // namespace
}  // namespace qv::testing
