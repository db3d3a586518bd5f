// Case tables, number texts and ToNumber against Python.
#include <random>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

// Python's Latin-1 upper() and lower() on the letters that have a partner inside Latin-1:
// the capitals 0xC0-0xDD and the small letters 0xE0-0xFD (not 0xD7 and 0xF7, which are
// signs). Thorn (0xDE, 0xFE), sharp s (0xDF) and y with diaeresis (0xFF) keep their case,
// since the tables pair only what the original's did.
TEST_F(StringLib, CaseTablesAgreeWithPython) {
    QV_REQUIRE_TOOL("python3");
    const ToolRun py = RunPython(R"(
for c in range(256):
    ch = bytes([c]).decode("latin-1")
    up, low = ch.upper(), ch.lower()
    enc = lambda s: s.encode("latin-1")[0] if len(s) == 1 and ord(s) < 256 else c
    print(enc(up), enc(low))
)",
                                 "");
    ASSERT_EQ(py.status, 0);
    const std::vector<std::string> lines = SplitLines(py.output);
    ASSERT_EQ(lines.size(), 256u);
    for (int c = 0; c < 256; ++c) {
        const std::string byte(1, static_cast<char>(c));
        const auto up = static_cast<uint8_t>(Call("UpperStr", {Str(byte)}).Text()[0]);
        const auto low = static_cast<uint8_t>(Call("LowerStr", {Str(byte)}).Text()[0]);
        const bool paired =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
            (c >= 0xC0 && c <= 0xFD && c != 0xD7 && c != 0xF7 && c != 0xDE && c != 0xDF);
        if (paired || c < 0x80) {
            EXPECT_EQ(std::to_string(up) + " " + std::to_string(low), lines[c]) << c;
        } else {
            EXPECT_EQ(up, c);
            EXPECT_EQ(low, c);
        }
    }
}

TEST_F(StringLib, NumberTextsAgreeWithPython) {
    QV_REQUIRE_TOOL("python3");
    std::mt19937 random(99);
    std::string input;
    std::vector<std::pair<std::string, std::vector<Arg>>> calls;
    for (int i = 0; i < 500; ++i) {
        const auto n = static_cast<int64_t>(random()) - (int64_t{1} << 31);
        const double fraction = std::ldexp(static_cast<double>(random()), -int(random() % 40));
        const int width = 1 + static_cast<int>(random() % 15);
        const int digits = static_cast<int>(random() % 8) - 2;
        input += std::to_string(n) + " " + std::to_string(width) + " " + std::to_string(digits) +
                 " " + std::to_string(fraction) + "\n";
        calls.push_back({"HexStr", {Num(static_cast<double>(n))}});
        calls.push_back({"BinStr", {Num(static_cast<double>(n))}});
        calls.push_back({"BinStr", {Num(static_cast<double>(n)), Num(6)}});
        calls.push_back({"BinStr", {Num(static_cast<double>(n)), Num(7)}});
        calls.push_back({"PadNum", {Num(static_cast<double>(std::llabs(n))), Num(width)}});
        calls.push_back({"StrStr", {Num(std::stod(std::to_string(fraction))), Num(digits)}});
    }
    const ToolRun py = RunPython(R"(
import sys
for line in sys.stdin:
    n, width, digits, fraction = line.split()
    n, width, digits, fraction = int(n), int(width), int(digits), float(fraction)
    print("$" + format(n & 0xFFFFFFFF, "X"))
    print(format(n & 0xFFFFFFFF, "032b"))
    print(format(n & 0xFFFF, "016b"))
    print(format(n & 0xFF, "08b"))
    print(str(abs(n)).zfill(width))
    text = "%.14g" % fraction
    if "." in text:
        point = text.index(".")
        end = point + 1
        while end < len(text) and text[end].isdigit():
            end += 1
        keep = point if digits == 0 else point + 1 + (min(digits, end - point - 1) if digits > 0 else 0)
        text = text[:keep] + text[end:]
    print(text)
)",
                                 input);
    ASSERT_EQ(py.status, 0);
    const std::vector<std::string> lines = SplitLines(py.output);
    ASSERT_EQ(lines.size(), calls.size());
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(Call(calls[i].first, calls[i].second).Text(), lines[i])
            << calls[i].first << " " << calls[i].second[0].number;
    }
}

// ToNumber in bases 2-36 against int(s, base) for texts whose value fits 32 bits.
TEST_F(StringLib, ToNumberAgreesWithPython) {
    QV_REQUIRE_TOOL("python3");
    std::mt19937 random(5);
    const std::string digits = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string input;
    std::vector<std::pair<std::string, int>> cases;
    for (int i = 0; i < 2000; ++i) {
        const int base = 2 + static_cast<int>(random() % 35);
        std::string s;
        for (int n = 1 + static_cast<int>(random() % 8); n > 0; --n) {
            const int d = static_cast<int>(random() % base);
            s += d < 10 ? digits[d] : digits[d + (random() % 2 == 0 ? 0 : 26)];
        }
        if (base == 16 && random() % 4 == 0) s = "0x" + s;
        if (random() % 4 == 0) s = " " + s + "\t ";
        cases.push_back({s, base});
        input += std::to_string(base) + ":" + s + "\n";
    }
    const ToolRun py = RunPython(R"(
import sys
for line in sys.stdin.read().split("\n")[:-1]:
    base, s = line.split(":", 1)
    v = int(s, int(base))
    print(v if v < 2**32 else "big")
)",
                                 input);
    ASSERT_EQ(py.status, 0);
    const std::vector<std::string> lines = SplitLines(py.output);
    ASSERT_EQ(lines.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        const double ours = Call("ToNumber", {Str(cases[i].first), Num(cases[i].second)}).Number();
        const std::string expected = lines[i] == "big" ? "4294967295" : lines[i];
        EXPECT_EQ(ours, std::stod(expected)) << cases[i].first << " base " << cases[i].second;
    }
}

}  // namespace
}  // namespace qv::testing
