// FormatStr by hand: the integer rules, strings with zero bytes, "%q", the limits of a
// specification and missing arguments.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

using namespace std::string_literals;

TEST_F(StringLib, FormatConversions) {
    struct Case {
        std::string format;
        std::vector<Arg> args;
        std::string expected;
    };
    const std::string longText(150, 'x');
    const Case cases[] = {
        // "d", "i" and "c" take the integer part, saturating at 32 bits; NaN is the minimum.
        {"%d", {Num(3.9)}, "3"},
        {"%i", {Num(-3.9)}, "-3"},
        {"%d", {Num(1e12)}, "2147483647"},
        {"%d", {Num(-1e12)}, "-2147483648"},
        {"%d", {Num(NAN)}, "-2147483648"},
        {"%+05d", {Num(42)}, "+0042"},
        {"%c", {Num(65)}, "A"},
        {"%c", {Num(321)}, "A"},
        {"%c%c", {Num(0), Num(66)}, "\0B"s},
        // "o u x X" take the unsigned 32-bit pattern.
        {"%u", {Num(-1)}, "4294967295"},
        {"%x", {Num(4294967301.0)}, "ffffffff"},
        {"%X", {Num(-16777216)}, "FF000000"},
        {"%#o", {Num(8)}, "010"},
        {"%e|%G", {Num(12345.678), Num(0.0001)}, "1.234568e+04|0.0001"},
        // Strings keep their zero bytes; width pads with blanks, precision cuts.
        {"[%s]", {Str("a\0b"s)}, "[a\0b]"s},
        {"[%5s]", {Str("ab")}, "[   ab]"},
        {"[%-5s]", {Str("ab")}, "[ab   ]"},
        {"[%05s]", {Str("ab")}, "[   ab]"},
        {"[%.1s]", {Str("ab")}, "[a]"},
        {"[%3.1s]", {Str("a\0"s)}, "[  a]"},
        {"[%5.3s]", {Str("a\0bc"s)}, "[  a\0b]"s},
        {"%s", {Num(1.5)}, "1.5"},
        // Without a precision a string longer than 99 bytes is taken as it is.
        {"%5s", {Str(longText)}, longText},
        {"%.99s", {Str(longText)}, longText.substr(0, 99)},
        {"%q", {Str("a\"b\\c\nd\0e"s)}, "\"a\\\"b\\\\c\\\nd\\000e\""},
        {"100%%", {}, "100%"},
        {"%d%%%d", {Num(1), Num(2)}, "1%2"},
        {"no items", {Num(1)}, "no items"},
        {"%-+ #0-+ #0-+ #0-d", {Num(7)}, "+7"},
        {"a\0%db"s,
         {Num(1)},
         "a\0"
         "1b"s},
    };
    for (const Case& c : cases) {
        std::vector<Arg> args{Str(c.format)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CallResult r = Call("FormatStr", args);
        EXPECT_EQ(r.code, 0) << c.format;
        EXPECT_EQ(r.Text(), c.expected) << c.format;
    }
}

// "%99.99f" of 1e308 is some 410 characters long.
TEST_F(StringLib, FormatLongItems) {
    char expected[512];
    std::snprintf(expected, sizeof expected, "%99.99f", 1e308);
    EXPECT_EQ(Call("FormatStr", {Str("%99.99f"), Num(1e308)}).Text(), expected);
    EXPECT_GT(std::string(expected).size(), 400u);
}

TEST_F(StringLib, FormatErrors) {
    struct Case {
        std::string format;
        std::vector<Arg> args;
        int code;
        uint32_t argument;  // the argument a getter names
    };
    const Case cases[] = {
        {"100%", {}, ERR_WRONGUSAGE, 0},
        {"%5", {Num(1)}, ERR_WRONGUSAGE, 0},
        {"%100d", {Num(1)}, ERR_WRONGUSAGE, 0},
        {"%1.100f", {Num(1)}, ERR_WRONGUSAGE, 0},
        {"%-+ #0-+ #0-+ #0-+d", {Num(1)}, ERR_WRONGUSAGE, 0},  // 19 characters
        {"%ld", {Num(1)}, ERR_WRONGUSAGE, 0},
        {"%n", {Num(1)}, ERR_WRONGUSAGE, 0},
        {"%*d", {Num(1), Num(2)}, ERR_WRONGUSAGE, 0},
        {"%d %d", {Num(1)}, ERR_NUMEXPECTED, 3},
        {"%s", {List({})}, ERR_STREXPECTED, 2},
        {"%x", {Bool(true)}, ERR_NUMEXPECTED, 2},
    };
    for (const Case& c : cases) {
        std::vector<Arg> args{Str(c.format)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CallResult r = Call("FormatStr", args);
        EXPECT_EQ(r.code, c.code) << c.format;
        if (c.argument != 0) {
            EXPECT_EQ(r.errorNumber, c.argument) << c.format;
        }
    }
}

}  // namespace
}  // namespace qv::testing
