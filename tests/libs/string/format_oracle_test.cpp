// FormatStr against independent formatters on random specifications within the limits:
// Python's "%" operator for the floating-point, character and string conversions, and
// coreutils printf for the integer ones (Python gives "+", " " and "#" other meanings on
// unsigned conversions and pads differently when a precision meets "0").
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

struct FormatCase {
    std::string spec;
    Arg value;
    std::string text;  // the value as the oracle reads it
    bool viaPrintf;
};

class FormatGenerator {
public:
    FormatCase Next() {
        const std::string conversions = "diouxXeEfgGcs";
        const char c = conversions[Pick(conversions.size())];
        const bool integer =
            std::string("dioux").find(static_cast<char>(c | 0x20)) != std::string::npos;
        // "#" is defined for o, x, X and the floating conversions only.
        const std::string flagSet =
            std::string("oxXeEfgGcs").find(c) != std::string::npos ? "-+ #0" : "-+ 0";
        std::string spec = "%";
        for (size_t n = Pick(4); n > 0; --n) spec += flagSet[Pick(flagSet.size())];
        if (Pick(2) == 0) spec += std::to_string(1 + Pick(99));
        if (Pick(5) < 2) spec += "." + (Pick(4) == 0 ? "" : std::to_string(Pick(100)));
        spec += c;
        FormatCase fc{spec, Nil(), "", integer};
        if (c == 'd' || c == 'i') {
            const int64_t v = Pick(3) == 0 ? static_cast<int64_t>(Pick(2001)) - 1000
                                           : static_cast<int64_t>(random_()) - 2147483648LL;
            fc.value = Num(static_cast<double>(v));
            fc.text = std::to_string(v);
        } else if (integer) {
            const uint64_t v = Pick(3) == 0 ? Pick(1000) : static_cast<uint64_t>(random_());
            fc.value = Num(static_cast<double>(v));
            fc.text = std::to_string(v);
        } else if (c == 'c') {
            const int v = 32 + static_cast<int>(Pick(95));
            fc.value = Num(v);
            fc.text = std::to_string(v);
        } else if (c == 's') {
            std::string s;
            for (size_t n = Pick(4) == 0 ? 100 + Pick(21) : Pick(20); n > 0; --n) {
                s += static_cast<char>('a' + Pick(26));
            }
            fc.value = Str(s);
            fc.text = s;
        } else {
            fc.value = Num(RandomDouble());
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", fc.value.number);
            fc.text = text;
        }
        return fc;
    }

private:
    size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }
    double RandomDouble() {
        switch (Pick(4)) {
            case 0:
                return static_cast<double>(static_cast<int>(Pick(2001)) - 1000);
            case 1:
                return 0.0;
            default: {
                const double magnitude =
                    std::pow(10.0, std::uniform_real_distribution<>(-20, 25)(random_));
                return Pick(2) == 0 ? magnitude : -magnitude;
            }
        }
    }
    std::mt19937 random_{2024};
};

constexpr char kPythonFormatter[] = R"(
import sys
for line in sys.stdin.read().split("\n")[:-1]:
    spec, value = line.split("\t")
    c = spec[-1]
    v = int(value) if c == "c" else value if c == "s" else float(value)
    print(spec % v)
)";

TEST_F(StringLib, FormatAgreesWithPythonAndPrintf) {
    QV_REQUIRE_TOOL("python3");
    QV_REQUIRE_TOOL("/usr/bin/printf");
    FormatGenerator generator;
    std::vector<FormatCase> cases;
    for (int i = 0; i < 2400; ++i) cases.push_back(generator.Next());

    std::string python;
    std::string format;
    std::string arguments;
    for (const FormatCase& c : cases) {
        if (c.viaPrintf) {
            format += c.spec + "\x1e";
            arguments += " " + c.text;
        } else {
            python += c.spec + "\t" + c.text + "\n";
        }
    }
    const ToolRun py = RunPython(kPythonFormatter, python);
    ASSERT_EQ(py.status, 0);
    const ToolRun printf = RunTool("/usr/bin/printf '" + format + "'" + arguments);
    ASSERT_EQ(printf.status, 0);
    const std::vector<std::string> pyLines = SplitLines(py.output);
    std::vector<std::string> printfItems;
    for (size_t start = 0, end; (end = printf.output.find('\x1e', start)) != std::string::npos;
         start = end + 1) {
        printfItems.push_back(printf.output.substr(start, end - start));
    }

    size_t nextPy = 0;
    size_t nextPrintf = 0;
    int mismatches = 0;
    for (const FormatCase& c : cases) {
        const std::vector<std::string>& items = c.viaPrintf ? printfItems : pyLines;
        size_t& next = c.viaPrintf ? nextPrintf : nextPy;
        ASSERT_LT(next, items.size());
        const std::string& expected = items[next++];
        const CallResult r = Call("FormatStr", {Str(c.spec), c.value});
        if (r.code != 0 || r.Text() != expected) {
            if (++mismatches <= 20) {
                ADD_FAILURE() << c.spec << " of " << c.text << ": " << r.Text() << " vs "
                              << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(nextPy, pyLines.size());
    EXPECT_EQ(nextPrintf, printfItems.size());
    EXPECT_GT(nextPy, 1000u);
    EXPECT_GT(nextPrintf, 800u);
}

}  // namespace
}  // namespace qv::testing
