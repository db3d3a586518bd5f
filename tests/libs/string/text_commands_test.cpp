// Cutting, searching, case and building, table by table; argument counts and wrong usage of
// every command.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

using namespace std::string_literals;

struct TextCase {
    const char* command;
    std::vector<Arg> args;
    std::string expected;
};

void ExpectTexts(LibFixture& lib, const std::vector<TextCase>& cases) {
    for (const TextCase& c : cases) {
        const CallResult r = lib.Call(c.command, c.args);
        EXPECT_EQ(r.code, 0) << c.command << " " << c.expected;
        ASSERT_EQ(r.results.size(), 1u) << c.command;
        EXPECT_EQ(r.results[0].type, VM_TSTRING) << c.command;
        EXPECT_EQ(r.Text(), c.expected) << c.command;
    }
}

struct NumberCase {
    const char* command;
    std::vector<Arg> args;
    double expected;
};

void ExpectNumbers(LibFixture& lib, const std::vector<NumberCase>& cases) {
    for (const NumberCase& c : cases) {
        const CallResult r = lib.Call(c.command, c.args);
        EXPECT_EQ(r.code, 0) << c.command;
        ASSERT_EQ(r.results.size(), 1u) << c.command;
        EXPECT_EQ(r.Number(), c.expected) << c.command << " " << r.results[0];
    }
}

TEST_F(StringLib, Cutting) {
    ExpectTexts(*this, {
                           {"MidStr", {Str("hello"), Num(1), Num(3)}, "ell"},
                           {"MidStr", {Str("hello"), Num(3), Num(10)}, "lo"},
                           {"MidStr", {Str("hello"), Num(5), Num(1)}, ""},
                           {"MidStr", {Str("hello"), Num(1), Num(0)}, ""},
                           {"MidStr", {Str("hello"), Num(1), Num(-2)}, ""},
                           {"MidStr", {Str("hello"), Num(1.9), Num(2.9)}, "el"},
                           {"UnrightStr", {Str("hello"), Num(2)}, "llo"},
                           {"UnrightStr", {Str("hello"), Num(9)}, ""},
                           {"UnrightStr", {Str("hello"), Num(0)}, "hello"},
                           {"UnleftStr", {Str("hello"), Num(2)}, "hel"},
                           {"UnleftStr", {Str("hello"), Num(9)}, ""},
                           {"RightStr", {Str("hello"), Num(2)}, "lo"},
                           {"RightStr", {Str("hello"), Num(9)}, "hello"},
                           {"RightStr", {Str("hello"), Num(0)}, ""},
                           {"LeftStr", {Str("hello"), Num(2)}, "he"},
                           {"LeftStr", {Str("hello"), Num(-1)}, ""},
                           {"LeftStr", {Str("hello"), Num(1e12)}, "hello"},
                           {"LeftStr", {Num(12345), Num(2)}, "12"},
                           {"LeftStr", {Str("a\0b"s), Num(3)}, "a\0b"s},
                           {"UnmidStr", {Str("abcdef"), Num(2), Num(2)}, "abef"},
                           {"UnmidStr", {Str("abcdef"), Num(4), Num(10)}, "abcd"},
                           {"UnmidStr", {Str("abcdef"), Num(6), Num(1)}, "abcdef"},
                           {"UnmidStr", {Str("abcdef"), Num(1), Num(0)}, "abcdef"},
                       });
}

TEST_F(StringLib, Building) {
    ExpectTexts(
        *this,
        {
            {"InsertStr", {Str("abcdef"), Str("XY"), Num(2), Num(1)}, "abXYef"},
            {"InsertStr", {Str("abcdef"), Str("XY"), Num(2)}, "abXYcdef"},
            {"InsertStr", {Str("abcdef"), Str("XY"), Num(9)}, "abcdefXY"},
            {"InsertStr", {Str("abc"), Str("XYZW"), Num(2), Num(1)}, "abXYZW"},
            {"InsertStr", {Str(""), Str("XY"), Num(3)}, "XY"},
            {"InsertStr", {Str("abc"), Str(""), Num(1), Num(1)}, "abc"},
            {"AddStr", {Str("a\0b"s), Str("c")}, "a\0bc"s},
            {"AddStr", {Num(1.5), Num(2)}, "1.52"},
            {"RepeatStr", {Str("ab"), Num(3)}, "ababab"},
            {"RepeatStr", {Str("abc"), Num(5)}, "abcabcabcabcabc"},
            {"RepeatStr", {Str(""), Num(5)}, ""},
            {"Chr", {Num(65)}, "A"},
            {"Chr", {Num(0)}, ""},
            {"Chr", {Num(255)}, "\xff"},
            {"LowerStr", {Str("HeLLo \xC4\xD6\xDC\xDE\xD7")}, "hello \xE4\xF6\xFC\xDE\xD7"},
            {"UpperStr", {Str("hello \xE4\xF6\xFC\xFF\xDF\xF7")}, "HELLO \xC4\xD6\xDC\xFF\xDF\xF7"},
            {"UpperStr", {Str("a\0b"s)}, "A\0B"s},
            {"TrimStr", {Str("xxaxx"), Str("x"), Num(0)}, "axx"},
            {"TrimStr", {Str("xxaxx"), Str("x"), Num(1)}, "xxa"},
            {"TrimStr", {Str("xxxx"), Str("x"), Num(1)}, ""},
            {"TrimStr", {Str("abc"), Str("x"), Num(0)}, "abc"},
        });
}

TEST_F(StringLib, LongResults) {
    const CallResult r = Call("RepeatStr", {Str("0123456789"), Num(100000)});
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(r.Text().size(), 1000000u);
    EXPECT_EQ(r.Text().substr(999990), "0123456789");
    EXPECT_EQ(Call("RepeatStr", {Str("ab"), Num(3e9)}).code, ERR_MEM);
    const CallResult replaced = Call("ReplaceStr", {Str(r.Text()), Str("9"), Str("<>")});
    EXPECT_EQ(replaced.Text().size(), 1100000u);
}

TEST_F(StringLib, Searching) {
    ExpectNumbers(*this, {
                             {"FindStr", {Str("Hello"), Str("L"), Num(0)}, 2},
                             {"FindStr", {Str("Hello"), Str("L")}, -1},
                             {"FindStr", {Str("Hello"), Str("l")}, 2},
                             {"FindStr", {Str("Hello"), Str("l"), Num(1), Num(3)}, 3},
                             {"FindStr", {Str("Hello"), Str("l"), Num(1), Num(5)}, -1},
                             {"FindStr", {Str("Hello"), Str("")}, -1},
                             {"FindStr", {Str(""), Str("a")}, -1},
                             {"FindStr", {Str("Hello"), Str("Hello!")}, -1},
                             {"FindStr", {Str("aXbXc"), Str("x"), Num(0), Num(2)}, 3},
                             {"FindStr", {Str("\xC4x"), Str("\xE4"), Num(0)}, 0},
                             {"FindStr", {Str("a\0b"s), Str("\0b"s)}, 1},
                             {"CountStr", {Str("aaaa"), Str("aa")}, 2},
                             {"CountStr", {Str("aaaa"), Str("a"), Num(1), Num(2)}, 2},
                             {"CountStr", {Str("abAB"), Str("ab"), Num(0)}, 2},
                             {"CountStr", {Str(""), Str("a")}, 0},
                             {"CountStr", {Str("abc"), Str("")}, 0},
                             {"CountStr", {Str("abc"), Str("b"), Num(1), Num(5)}, 0},
                             {"Asc", {Str("A")}, 65},
                             {"Asc", {Str("")}, 0},
                             {"Asc", {Str("\xff")}, 255},
                             {"StrLen", {Str("a\0b"s)}, 3},
                             {"StrLen", {Num(-1.5)}, 4},
                         });
    ExpectTexts(*this,
                {
                    {"ReplaceStr", {Str("a.b.c"), Str("."), Str("::")}, "a::b::c"},
                    {"ReplaceStr", {Str("aaa"), Str("a"), Str("aa")}, "aaaaaa"},
                    {"ReplaceStr", {Str("aaaa"), Str("aa"), Str("b")}, "bb"},
                    {"ReplaceStr", {Str("abcABC"), Str("b"), Str("-"), Num(0), Num(2)}, "abcA-C"},
                    {"ReplaceStr", {Str("abc"), Str(""), Str("x")}, "abc"},
                    {"ReplaceStr", {Str("abc"), Str("b"), Str(""), Num(1), Num(9)}, "abc"},
                    {"ReplaceStr", {Str("x\0y"s), Str("\0"s), Str("0")}, "x0y"},
                });
}

// Searching tests blocks of positions at a time; every needle at every start, near block
// edges and the end of the text, must give what the plain leftmost scan gives.
TEST_F(StringLib, SearchingAgreesWithTheLeftmostScan) {
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        std::string s;
        for (size_t n = random() % 70; n > 0; --n) s += "aab\0"[random() % 4];
        std::string find;
        for (size_t n = 1 + random() % 5; n > 0; --n) find += "aab\0"[random() % 4];
        const size_t start = random() % (s.size() + 2);
        const size_t at = start < s.size() ? s.find(find, start) : std::string::npos;
        EXPECT_EQ(Call("FindStr", {Str(s), Str(find), Num(1), Num(start)}).Number(),
                  at == std::string::npos ? -1.0 : static_cast<double>(at));
        size_t count = 0;
        std::string replaced = s.substr(0, std::min(start, s.size()));
        size_t done = replaced.size();
        for (size_t p = s.find(find, done); start < s.size() && p != std::string::npos;
             p = s.find(find, done)) {
            ++count;
            replaced += s.substr(done, p - done) + "<>";
            done = p + find.size();
        }
        replaced += s.substr(done);
        EXPECT_EQ(Call("CountStr", {Str(s), Str(find), Num(1), Num(start)}).Number(),
                  static_cast<double>(count));
        EXPECT_EQ(Call("ReplaceStr", {Str(s), Str(find), Str("<>"), Num(1), Num(start)}).Text(),
                  replaced);
        const std::string same(find.size(), '#');
        std::string overwritten = s;
        for (size_t p = start < s.size() ? s.find(find, start) : std::string::npos;
             p != std::string::npos; p = s.find(find, p + find.size())) {
            overwritten.replace(p, find.size(), same);
        }
        EXPECT_EQ(Call("ReplaceStr", {Str(s), Str(find), Str(same), Num(1), Num(start)}).Text(),
                  overwritten);
    }
}

TEST_F(StringLib, SplittingKeepsEmptyPieces) {
    struct Case {
        std::string s;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"a,,b", {"a", "", "b"}},  {"", {""}}, {",", {"", ""}}, {"abc", {"abc"}},
        {"a\0,b"s, {"a\0"s, "b"}},
    };
    for (const Case& c : cases) {
        const CallResult r = Call("SplitStr", {Str(c.s), Str(",")});
        ASSERT_EQ(r.code, 0);
        ASSERT_EQ(r.results.size(), 2u);
        EXPECT_EQ(r.Number(1), static_cast<double>(c.pieces.size())) << c.s;
        ASSERT_EQ(r.results[0].entries.size(), c.pieces.size()) << c.s;
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            ASSERT_NE(r.results[0].At(static_cast<double>(i)), nullptr);
            EXPECT_EQ(r.results[0].At(static_cast<double>(i))->text, c.pieces[i]) << c.s;
        }
    }
}

TEST_F(StringLib, StrToArrayEndsWithZero) {
    const CallResult r = Call("StrToArray", {Str("AB\0"s)});
    ASSERT_EQ(r.code, 0);
    const Value& t = r.results[0];
    ASSERT_EQ(t.entries.size(), 4u);
    const double codes[] = {65, 66, 0, 0};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(t.At(i)->number, codes[i]);
    EXPECT_EQ(Call("StrToArray", {Str("")}).results[0].entries.size(), 1u);
}

TEST_F(StringLib, WrongUsage) {
    struct Case {
        const char* command;
        std::vector<Arg> args;
        int code;
    };
    const Case cases[] = {
        {"MidStr", {Str("x"), Num(-1), Num(1)}, ERR_WRONGUSAGE},
        {"UnrightStr", {Str("x"), Num(-1)}, ERR_WRONGUSAGE},
        {"UnleftStr", {Str("x"), Num(-1)}, ERR_WRONGUSAGE},
        {"Chr", {Num(256)}, ERR_WRONGUSAGE},
        {"Chr", {Num(-1)}, ERR_WRONGUSAGE},
        {"UnmidStr", {Str("x"), Num(-1), Num(0)}, ERR_WRONGUSAGE},
        {"UnmidStr", {Str("x"), Num(0), Num(-1)}, ERR_WRONGUSAGE},
        {"InsertStr", {Str("x"), Str("y"), Num(-1)}, ERR_WRONGUSAGE},
        {"RepeatStr", {Str("x"), Num(0)}, ERR_WRONGUSAGE},
        {"FindStr", {Str("x"), Str("x"), Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"FindStr", {Str(""), Str(""), Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"CountStr", {Str("x"), Str("x"), Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"ReplaceStr", {Str("x"), Str("x"), Str("y"), Num(1), Num(-1)}, ERR_WRONGUSAGE},
        {"SplitStr", {Str("a"), Str("")}, ERR_WRONGUSAGE},
        {"SplitStr", {Str("a"), Str(",,")}, ERR_WRONGUSAGE},
        {"TrimStr", {Str("a"), Str(""), Num(0)}, ERR_WRONGUSAGE},
        {"PadNum", {Num(-1), Num(3)}, ERR_WRONGUSAGE},
        {"PadNum", {Num(1), Num(0)}, ERR_WRONGUSAGE},
        {"PadNum", {Num(NAN), Num(3)}, ERR_WRONGUSAGE},
        {"ToNumber", {Str("1"), Num(37)}, ERR_WRONGUSAGE},
        {"ToNumber", {Str("1"), Num(1)}, ERR_WRONGUSAGE},
        {"MD5Str", {Str("")}, ERR_WRONGUSAGE},
        {"CRC32Str", {Str("")}, ERR_WRONGUSAGE},
        {"PatternReplaceStr", {Str("a"), Str("a"), Bool(true)}, ERR_WRONGUSAGE},
        {"PatternReplaceStr", {Str("a"), Str("a"), Nil()}, ERR_WRONGUSAGE},
        {"LeftStr", {Nil(), Num(1)}, ERR_STREXPECTED},
        {"LeftStr", {Str("x"), Bool(true)}, ERR_NUMEXPECTED},
        {"FindStr", {Str("x"), List({})}, ERR_STREXPECTED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call(c.command, c.args).code, c.code) << c.command;
    }
    // A getter's failure names the argument.
    const CallResult r = Call("LeftStr", {Str("x"), Bool(true)});
    EXPECT_EQ(r.errorNumber, 2u);
}

// Too few arguments give 1014 and too many 1193 for every command.
TEST_F(StringLib, ArgumentCounts) {
    struct Counts {
        const char* command;
        int min;
        int max;  // 0: no limit
    };
    const Counts table[] = {
        {"LowerStr", 1, 1},
        {"UpperStr", 1, 1},
        {"Val", 1, 1},
        {"StrStr", 1, 2},
        {"UnrightStr", 2, 2},
        {"UnleftStr", 2, 2},
        {"Chr", 1, 1},
        {"MidStr", 3, 3},
        {"RightStr", 2, 2},
        {"LeftStr", 2, 2},
        {"FindStr", 2, 4},
        {"AddStr", 2, 2},
        {"HexStr", 1, 1},
        {"Asc", 1, 1},
        {"StrLen", 1, 1},
        {"ReplaceStr", 3, 5},
        {"BinStr", 1, 2},
        {"SplitStr", 2, 2},
        {"PadNum", 2, 2},
        {"StrToArray", 1, 1},
        {"TrimStr", 3, 3},
        {"ToString", 1, 1},
        {"ToNumber", 1, 2},
        {"UnmidStr", 3, 3},
        {"CountStr", 2, 4},
        {"InsertStr", 3, 4},
        {"RepeatStr", 2, 2},
        {"MD5Str", 1, 1},
        {"CRC32Str", 1, 1},
        {"FormatStr", 1, 0},
        {"PatternFindStr", 2, 2},
        {"PatternReplaceStr", 3, 4},
        {"Eval", 1, 2},
    };
    for (const Counts& c : table) {
        EXPECT_EQ(Call(c.command, std::vector<Arg>(c.min - 1, Str("1"))).code, ERR_MISSINGPARAMTR)
            << c.command;
        if (c.max > 0) {
            EXPECT_EQ(Call(c.command, std::vector<Arg>(c.max + 1, Str("1"))).code, ERR_TOOMANYARGS)
                << c.command;
        }
    }
}

// With exit-on-error off a returned code is only recorded: the call yields no results.
TEST_F(StringLib, ExitOnErrorOff) {
    SetExitOnError(false);
    const CallResult r = Call("Chr", {Num(300)});
    EXPECT_EQ(r.code, ERR_WRONGUSAGE);
    EXPECT_FALSE(r.aborted);
    SetExitOnError(true);
    EXPECT_TRUE(Call("Chr", {Num(300)}).aborted);
}

}  // namespace
}  // namespace qv::testing
