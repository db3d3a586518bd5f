// Numbers as text and text as numbers.
#include <cmath>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

struct TextCase {
    const char* command;
    std::vector<Arg> args;
    std::string expected;
};

TEST_F(StringLib, NumbersAsText) {
    const TextCase cases[] = {
        {"StrStr", {Num(3.14159), Num(2)}, "3.14"},
        {"StrStr", {Num(5)}, "5"},
        {"StrStr", {Num(2.5), Num(0)}, "2"},
        {"StrStr", {Num(2.5), Num(-1)}, "2."},
        {"StrStr", {Num(1.0 / 3)}, "0.33"},
        {"StrStr", {Num(-0.5), Num(9)}, "-0.5"},
        {"StrStr", {Num(1e20)}, "1e+20"},
        // Only decimals are cut; the exponent stays.
        {"StrStr", {Num(1.23456789e-7), Num(2)}, "1.23e-07"},
        {"StrStr", {Num(1.23456789e-7), Num(0)}, "1e-07"},
        {"HexStr", {Num(255)}, "$FF"},
        {"HexStr", {Num(-1)}, "$FFFFFFFF"},
        {"HexStr", {Num(0)}, "$0"},
        {"HexStr", {Num(4294967296.0)}, "$FFFFFFFF"},
        {"HexStr", {Num(-16777216)}, "$FF000000"},
        {"HexStr", {Nil()}, "$0"},
        {"BinStr", {Num(5), Num(7)}, "00000101"},
        {"BinStr", {Num(-1), Num(6)}, "1111111111111111"},
        {"BinStr", {Num(1)}, "00000000000000000000000000000001"},
        {"BinStr", {Num(-2)}, "11111111111111111111111111111110"},
        {"BinStr", {Num(70000.7), Num(6)}, "0001000101110000"},
        {"BinStr", {Num(5), Num(2)}, ""},
        {"PadNum", {Num(7), Num(3)}, "007"},
        {"PadNum", {Num(1234), Num(2)}, "1234"},
        {"PadNum", {Num(7.9), Num(2)}, "07"},
        {"PadNum", {Num(1e10), Num(12)}, "010000000000"},
        {"PadNum", {Num(-0.0), Num(2)}, "00"},
        {"ToString", {Nil()}, "Nil"},
        {"ToString", {Bool(true)}, "true"},
        {"ToString", {Bool(false)}, "false"},
        {"ToString", {Num(1.5)}, "1.5"},
        {"ToString", {Num(1e15)}, "1e+15"},
        {"ToString", {Str(std::string("a\0b", 3))}, std::string("a\0b", 3)},
        {"ToString", {LightUserdata(nullptr)}, "UserData: (nil)"},
    };
    for (const TextCase& c : cases) {
        const CallResult r = Call(c.command, c.args);
        EXPECT_EQ(r.code, 0) << c.command;
        EXPECT_EQ(r.Text(), c.expected) << c.command << " " << c.expected;
    }
}

// Addresses are shown in the C library's "%p" form.
TEST_F(StringLib, ToStringOfObjects) {
    int anchor = 0;
    char expected[64];
    std::snprintf(expected, sizeof expected, "UserData: %p", static_cast<void*>(&anchor));
    EXPECT_EQ(Call("ToString", {LightUserdata(&anchor)}).Text(), expected);
    const CallResult table = Call("ToString", {List({Num(1)})});
    EXPECT_EQ(table.Text().rfind("Table: 0x", 0), 0u) << table.Text();
    const CallResult function = Call("ToString", {Native([](qvVmState*) { return 0; })});
    EXPECT_EQ(function.Text().rfind("Function: 0x", 0), 0u) << function.Text();
}

TEST_F(StringLib, TextAsNumbers) {
    struct Case {
        const char* command;
        std::vector<Arg> args;
        double value;
        double used;  // Val's second result
    };
    const Case cases[] = {
        {"Val", {Str("$1F")}, 31, 3},
        {"Val", {Str("-%101")}, -5, 5},
        {"Val", {Str("0x10")}, 16, 4},
        {"Val", {Str("12.5e1x")}, 125, 6},
        {"Val", {Str("abc")}, 0, 0},
        {"Val", {Str("$")}, 0, 0},
        {"Val", {Str("")}, 0, 0},
        {"Val", {Num(42)}, 42, 2},
        {"ToNumber", {Str("ff"), Num(16)}, 255, 0},
        {"ToNumber", {Str(" 0x1F \n"), Num(16)}, 31, 0},
        {"ToNumber", {Str("z"), Num(36)}, 35, 0},
        {"ToNumber", {Str("101"), Num(2)}, 5, 0},
        {"ToNumber", {Str("12x"), Num(16)}, 0, 0},
        {"ToNumber", {Str("1 2"), Num(16)}, 0, 0},
        {"ToNumber", {Str(""), Num(2)}, 0, 0},
        {"ToNumber", {Str("2"), Num(2)}, 0, 0},
        {"ToNumber", {Str("-1"), Num(16)}, 4294967295.0, 0},
        {"ToNumber", {Str("fffffffff"), Num(16)}, 4294967295.0, 0},
        {"ToNumber", {Str("ffffffff"), Num(16)}, 4294967295.0, 0},
        {"ToNumber", {Str("99999999999")}, 99999999999.0, 0},
        {"ToNumber", {Str(" 12 ")}, 12, 0},
        {"ToNumber", {Str("12x")}, 0, 0},
        {"ToNumber", {Num(7.5)}, 7.5, 0},
        {"ToNumber", {Nil()}, 0, 0},
        {"ToNumber", {Bool(true)}, 0, 0},
    };
    for (const Case& c : cases) {
        const CallResult r = Call(c.command, c.args);
        EXPECT_EQ(r.code, 0) << c.command;
        EXPECT_EQ(r.Number(0), c.value) << c.command << " " << c.args[0].text;
        if (std::string(c.command) == "Val") {
            EXPECT_EQ(r.Number(1), c.used) << c.args[0].text;
        }
    }
}

}  // namespace
}  // namespace qv::testing
