// VmArith: conversions, 32-bit integer and bit rules, division by zero and metamethods.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::NilValue;
using qv::testing::NumberValue;
using qv::testing::Protected;
using qv::testing::StringValue;

class Arith : public EngineTest {
protected:
    // The result of event on x and y, or -(error code).
    double Outcome(const qvValue& x, const qvValue& y, int event) {
        VmPushNil(L);
        qvValue* result = L->top - 1;
        int status = Protected(L, [&] { VmArith(L, result, &x, &y, event); });
        double n = status != 0 ? -status : L->top[-1].value.n;
        if (status == 0) {
            EXPECT_EQ(L->top[-1].tag, VM_TNUMBER);
        }
        L->top = L->base;
        return n;
    }
};

TEST_F(Arith, ResultsFollowTheLanguageRules) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        qvValue x, y;
        int event;
        double expected;  // negative codes: the error
    } rows[] = {
        {NilValue(), NumberValue(5), TM_ADD, 5},
        {StringValue(L, "3"), StringValue(L, "4"), TM_MUL, 12},
        {StringValue(L, " 0x10 "), NumberValue(1), TM_SUB, 15},
        {NumberValue(1), NumberValue(4), TM_DIV, 0.25},
        {NumberValue(5), NumberValue(0), TM_DIV, -ERR_ZERODIVISION},
        {NumberValue(5), NumberValue(-0.0), TM_DIV, -ERR_ZERODIVISION},
        {NumberValue(5), NilValue(), TM_DIV, -ERR_ZERODIVISION},
        {NumberValue(7), NumberValue(2), TM_DIVINT, 3},
        {NumberValue(-7), NumberValue(2), TM_DIVINT, -3},
        {NumberValue(5), NumberValue(0.5), TM_DIVINT, -ERR_ZERODIVISION},
        {NumberValue(-2147483648.0), NumberValue(-1), TM_DIVINT, 2147483648.0},
        {NumberValue(1e10), NumberValue(3), TM_DIVINT, 715827882},
        {NumberValue(-7), NumberValue(2), TM_MOD, -1},
        {NumberValue(7), NumberValue(-2), TM_MOD, 1},
        {NumberValue(-2147483648.0), NumberValue(-1), TM_MOD, 0},
        {NumberValue(7), NumberValue(-0.9), TM_MOD, -ERR_ZERODIVISION},
        {NumberValue(1), NumberValue(31), TM_LSH, 2147483648.0},
        {NumberValue(1), NumberValue(32), TM_LSH, 0},
        {NumberValue(1), NumberValue(64), TM_LSH, 1},
        {NumberValue(8), NumberValue(-1), TM_RSH, 0},
        {NumberValue(-1), NumberValue(-33), TM_RSH, 1},
        {NumberValue(-1), NumberValue(0), TM_OR, 4294967295.0},
        {NumberValue(4294967296.0), NumberValue(1), TM_AND, 1},
        {NumberValue(nan), NumberValue(0), TM_OR, 2147483648.0},
        {NumberValue(5), NumberValue(3), TM_XOR, 6},
        {NumberValue(2), NumberValue(10), TM_POW, 1024},
        {StringValue(L, "abc"), NumberValue(1), TM_ADD, -ERR_WRONGOP},
        {NumberValue(1), StringValue(L, ""), TM_ADD, -ERR_WRONGOP},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Outcome(row.x, row.y, row.event), row.expected)
            << "event " << row.event << " row " << (&row - rows);
    }
}

int AddMeta(qvVmState* L) {
    // Which operand carried the metamethod shows in the result.
    VmPushNumber(L, VmType(L, 1) == VM_TTABLE ? 100 : 200);
    return 1;
}

TEST_F(Arith, MetamethodOfTheFirstOperandThenOfTheSecond) {
    qvTable* meta = VmTableNew(L, 0, 1);
    qv::testing::Anchor(L, 2, qv::testing::TableValue(meta));  // pushing may collect
    VmPushCClosure(L, AddMeta, 0);
    qv::testing::SetField(L, meta, "__add", L->top[-1]);
    qvTable* t = VmTableNew(L, 0, 0);
    t->metatable = meta;
    qvValue table = qv::testing::TableValue(t);
    qv::testing::Anchor(L, 1, table);
    EXPECT_EQ(Outcome(table, NumberValue(1), TM_ADD), 100);
    EXPECT_EQ(Outcome(StringValue(L, "x"), table, TM_ADD), 200);
    EXPECT_EQ(Outcome(table, NumberValue(1), TM_SUB), -ERR_WRONGOP);
}

}  // namespace
