#include "engine/convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/case_tables.h"
#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::RunAsCommand;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Conversion {
    double x;
    int32_t trunc;
    uint32_t bits;
};

// trunc32 saturates; bits32 wraps from 2^31 up and is the rule of the unsigned getters.
const Conversion kConversions[] = {
    {kNaN, INT32_MIN, 0x80000000u},
    {kInf, INT32_MAX, 0xFFFFFFFFu},
    {-kInf, INT32_MIN, 0x80000000u},
    {0.0, 0, 0},
    {-0.0, 0, 0},
    {2.9, 2, 2},
    {-2.9, -2, 0xFFFFFFFEu},
    {2147483648.0, INT32_MAX, 0x80000000u},
    {4294967295.0, INT32_MAX, 0xFFFFFFFFu},
    {4294967296.0, INT32_MAX, 0xFFFFFFFFu},
    {4294967296.5, INT32_MAX, 0xFFFFFFFFu},
    {-1.0, -1, 0xFFFFFFFFu},
    {-2147483649.0, INT32_MIN, 0x80000000u},
    {4278190080.0, INT32_MAX, 0xFF000000u},
    {-16777216.0, -16777216, 0xFF000000u},
};

class ConversionTest : public EngineTest {};

TEST_F(ConversionTest, Trunc32Bits32AndUnsignedGetterAgree) {
    for (const Conversion& c : kConversions) {
        SCOPED_TRACE(c.x);
        EXPECT_EQ(qv::Trunc32(c.x), c.trunc);
        EXPECT_EQ(qv::Bits32(c.x), c.bits);
        uint32_t got = 0;
        VmPushNumber(L, c.x);
        ASSERT_EQ(RunAsCommand(
                      L,
                      [&](qvVmState* L) {
                          got = GetArgUInt32(L, 1);
                          return 0;
                      },
                      1),
                  0);
        EXPECT_EQ(got, c.bits);
    }
}

struct Parse {
    std::string text;
    bool ok;
    double value;
};

TEST(StrToNumber, AcceptsWholeDecimalAndHexTextsOnly) {
    const Parse cases[] = {
        {"12", true, 12},
        {" 12 ", true, 12},
        {"\t-3.5e2\n", true, -350},
        {"+.5", true, 0.5},
        {"5.", true, 5},
        {"1E+3", true, 1000},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"-0x10", true, -16},
        {"1e400", true, kInf},
        {"", false, 0},
        {"   ", false, 0},
        {"12abc", false, 0},
        {"0x", false, 0},
        {"inf", false, 0},
        {"nan", false, 0},
        {".", false, 0},
        {"1e", false, 0},
        {"1e+", false, 0},
        {"0x1.8", false, 0},
        {"0x1p3", false, 0},
        {"1 2", false, 0},
        {"--1", false, 0},
        {"1,5", false, 0},
        {std::string("12\0", 3), false, 0},
    };
    for (const Parse& p : cases) {
        SCOPED_TRACE(p.text);
        double n = -99;
        EXPECT_EQ(VmStrToNumber(p.text.data(), p.text.size(), &n), p.ok ? 1 : 0);
        if (p.ok) {
            EXPECT_EQ(n, p.value);
        }
    }
}

TEST(FormatNumber, WritesWhatPrintfWritesWithPrecision14) {
    const double values[] = {3,
                             0.1,
                             1e15,
                             -0.0,
                             123456789012345678.0,
                             1e14,
                             -1e14,
                             99999999999999.0,
                             -99999999999999.0,
                             0.5,
                             1.0 / 3,
                             0.1 + 0.2,
                             9007199254740993.0,
                             5e-324,
                             1.7976931348623157e308,
                             1e-5,
                             42,
                             -7,
                             kInf,
                             -kInf,
                             2147483648.0,
                             4294967295.0,
                             4294967296.0,
                             0,
                             9,
                             10,
                             99,
                             100,
                             1000000000,
                             1234567890,
                             0.5 + 4294967295.0,
                             -1,
                             1.5,
                             2147483647.5,
                             65536.25,
                             1e-310,
                             -4294967295.0,
                             -0.5};
    for (double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.14g", v);
        char got[qv::kNumberTextSize];
        size_t n = qv::FormatNumber(v, got);
        EXPECT_STREQ(got, expected);
        EXPECT_EQ(n, std::string(expected).size());
    }
}

// Whole numbers around every power of two up to 2^33 and their halves, and random bit
// patterns: the counter path decides by the bits of the number.
TEST(FormatNumber, AgreesWithPrintfAroundTheCounterRange) {
    std::vector<double> values;
    for (int e = 0; e <= 33; ++e) {
        const double p = std::ldexp(1.0, e);
        for (double d : {-1.0, -0.5, 0.0, 0.5, 1.0}) {
            values.push_back(p + d);
            values.push_back(-(p + d));
        }
    }
    uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        double v;
        std::memcpy(&v, &state, sizeof v);
        if (!std::isnan(v)) values.push_back(v);
        values.push_back(static_cast<double>(state >> 31));  // whole numbers up to 2^33
    }
    for (double v : values) {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.14g", v);
        char got[qv::kNumberTextSize];
        qv::FormatNumber(v, got);
        ASSERT_STREQ(got, expected) << std::hexfloat << v;
    }
}

TEST(CaseTables, FollowIso8859Latin1) {
    EXPECT_EQ(qv::CompareIgnoringCase("\xE9t\xE9", "\xC9T\xC9"), 0);
    EXPECT_NE(qv::CompareIgnoringCase("\xFF", "\xDF"), 0);
    EXPECT_NE(qv::CompareIgnoringCase("\xF7", "\xD7"), 0);
    EXPECT_LT(qv::CompareIgnoringCase("abc", "ABD"), 0);
    EXPECT_GT(qv::CompareIgnoringCase("abcd", "ABC"), 0);
    // 0xDD is the last capital; 0xDE and 0xD7 have no lower-case partner.
    char name[] = "LoadBrush\xC9\xDD\xD7\xDE";
    qv::LowerCaseInPlace(name);
    EXPECT_STREQ(name, "loadbrush\xE9\xFD\xD7\xDE");
}

}  // namespace
