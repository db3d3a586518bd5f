// Generic operations: equality, ordering, indexing chains and concatenation.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::Minimal;
using qv::testing::NilValue;
using qv::testing::NumberValue;
using qv::testing::Protected;
using qv::testing::StringAt;

class Generic : public EngineTest {
protected:
    // Test values live in C++ variables: anchor them in the registry against collections.
    qvValue Keep(qvValue v) {
        qv::testing::Anchor(L, ++anchors_, v);
        return v;
    }
    qvValue NewTable() {
        qvValue v;
        qv::SetTable(&v, VmTableNew(L, 0, 0));
        return Keep(v);
    }
    qvValue Str(const std::string& text) { return Keep(qv::testing::StringValue(L, text)); }
    // Runs an operation that may raise; returns its result, or the error code negated.
    int Outcome(const std::function<int()>& op) {
        int result = 0;
        int status = Protected(L, [&] { result = op(); });
        return status != 0 ? -status : result;
    }

private:
    int anchors_ = 1000;
};

TEST_F(Generic, EqualityTreatsNilAsZeroAndEmptyAndRefusesMixedTypes) {
    qvValue table = NewTable();
    qvValue t = {};
    qv::SetBoolean(&t, true);
    const struct {
        qvValue a, b;
        int expected;
    } cases[] = {
        {NilValue(), NumberValue(0), 1},
        {NilValue(), Str(""), 1},
        {NilValue(), NilValue(), 1},
        {NilValue(), table, 0},
        {Str("x"), NilValue(), 0},
        {NumberValue(-0.0), NilValue(), 1},
        {NumberValue(NAN), NumberValue(NAN), 0},
        {NumberValue(1), Str("1"), -ERR_NUMSTRCMP},
        {Str("1"), NumberValue(1), -ERR_NUMSTRCMP},
        {table, NumberValue(1), -ERR_WRONGOP},
        {t, t, 1},
        {table, table, 1},
        {Str("ab"), Str("ab"), 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome([&] { return VmEqualObj(L, &c.a, &c.b); }), c.expected);
    }
}

TEST_F(Generic, LessThanOrdersNilNumbersAndStrings) {
    const std::string ab("a\0b", 3), ac("a\0c", 3), a0("a\0", 2);
    const struct {
        qvValue l, r;
        int caseSensitive;
        int expected;
    } cases[] = {
        {NilValue(), NumberValue(1), 1, 1},
        {NilValue(), NumberValue(-1), 1, 0},
        {NilValue(), Str("a"), 1, 0},
        {NumberValue(-1), NilValue(), 1, 1},
        {Str("a"), Str("B"), 1, 0},
        {Str("a"), Str("B"), 0, 1},
        {Str("\xE9"), Str("\xC9"), 0, 0},
        {Str(ab), Str(ac), 1, 1},
        {Str("a"), Str(a0), 1, 1},
        {Str(a0), Str("a"), 1, 0},
        {Str("a"), Str("a"), 1, 0},
        {NumberValue(1), Str("2"), 1, -ERR_NUMSTRCMP},
        {NewTable(), NumberValue(1), 1, -ERR_WRONGOP},
        {NewTable(), NewTable(), 1, -ERR_WRONGOP},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome([&] { return VmCompareValues(L, &c.l, &c.r, c.caseSensitive); }),
                  c.expected);
    }
}

int CompareFirstFields(qvVmState* L) {
    VmRawGetI(L, 1, 1);
    VmRawGetI(L, 2, 1);
    VmPushNumber(L, VmToNumber(L, -2) < VmToNumber(L, -1) ? 1 : 0);
    return 1;
}

int SameFirstField(qvVmState* L) {
    VmRawGetI(L, 1, 1);
    VmRawGetI(L, 2, 1);
    VmPushNumber(L, VmRawEqual(L, -1, -2));
    return 1;
}

TEST_F(Generic, MetamethodsDecideEqualityAndOrderOfTables) {
    // Two tables {5} and {7} sharing one metatable, a third {5} with another.
    qvValue a = NewTable(), b = NewTable(), c = NewTable(), meta = NewTable(), other = NewTable();
    *VmTableSetNum(L, qv::TableOf(&a), 1) = NumberValue(5);
    *VmTableSetNum(L, qv::TableOf(&b), 1) = NumberValue(7);
    *VmTableSetNum(L, qv::TableOf(&c), 1) = NumberValue(5);
    VmPushCClosure(L, CompareFirstFields, 0);
    qvValue lt = Keep(L->top[-1]);
    VmPushCClosure(L, SameFirstField, 0);
    qvValue eq = Keep(L->top[-1]);
    qv::testing::SetField(L, qv::TableOf(&meta), "__lt", lt);
    qv::testing::SetField(L, qv::TableOf(&meta), "__eq", eq);
    qv::testing::SetField(L, qv::TableOf(&other), "__eq", eq);
    qv::TableOf(&a)->metatable = qv::TableOf(&meta);
    qv::TableOf(&b)->metatable = qv::TableOf(&meta);
    qv::TableOf(&c)->metatable = qv::TableOf(&other);
    EXPECT_EQ(Outcome([&] { return VmCompareValues(L, &a, &b, 1); }), 1);
    EXPECT_EQ(Outcome([&] { return VmCompareValues(L, &b, &a, 1); }), 0);
    EXPECT_EQ(Outcome([&] { return VmEqualObj(L, &a, &b); }), 0);
    // Different metatables with the same "__eq" compare.
    EXPECT_EQ(Outcome([&] { return VmEqualObj(L, &a, &c); }), 1);
    EXPECT_EQ(Outcome([&] { return VmEqualObj(L, &b, &c); }), 0);
    // No common "__lt": an error.
    EXPECT_EQ(Outcome([&] { return VmCompareValues(L, &a, &c, 1); }), -ERR_WRONGOP);
}

TEST_F(Generic, IndexChainsStopAfter100Metamethods) {
    const struct {
        int tables;
        int getStatus;
        int setStatus;
    } cases[] = {{101, 0, 0}, {102, ERR_INTERNAL1, ERR_INTERNAL1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tables);
        VmSetTop(L, 0);
        // Each table's metatable sends "__index" and "__newindex" to the next table.
        qvValue first = NewTable(), t = first;
        for (int i = 1; i < c.tables; ++i) {
            qvValue next = NewTable(), meta = NewTable();
            qv::testing::SetField(L, qv::TableOf(&meta), "__index", next);
            qv::testing::SetField(L, qv::TableOf(&meta), "__newindex", next);
            qv::TableOf(&t)->metatable = qv::TableOf(&meta);
            t = next;
        }
        qvValue key = Str("k");
        const qvValue* found = nullptr;
        EXPECT_EQ(Protected(L, [&] { found = VmGetTableChain(L, &first, &key, 0); }), c.getStatus);
        if (c.getStatus == 0) {
            EXPECT_EQ(found, &qv::kNilObject);
        } else {
            EXPECT_STREQ(Minimal(L).ErrorText(), "#1");
        }
        qvValue value = NumberValue(1);
        EXPECT_EQ(Protected(L, [&] { VmSetTableChain(L, &first, &key, &value); }), c.setStatus);
        if (c.setStatus == 0) {
            EXPECT_EQ(VmTableGet(qv::TableOf(&t), &key)->value.n, 1);  // the last table
        } else {
            EXPECT_STREQ(Minimal(L).ErrorText(), "#2");
        }
    }
}

int ConcatMarker(qvVmState* L) {
    VmPushString(L, "<meta>");
    return 1;
}

TEST_F(Generic, ConcatenationConvertsNilAndNumbers) {
    const struct {
        qvValue a, b;
        const char* expected;
    } cases[] = {
        {NilValue(), Str("x"), "x"},
        {NumberValue(1), NumberValue(2), "12"},
        {NumberValue(0.1), Str(""), "0.1"},
        {NilValue(), NilValue(), ""},
    };
    for (const auto& c : cases) {
        VmSetTop(L, 0);
        VmPushObject(L, &c.a);
        VmPushObject(L, &c.b);
        VmConcat(L, 2);
        EXPECT_EQ(StringAt(L, 1), c.expected);
    }
    VmSetTop(L, 0);
    VmPushString(L, "a");
    VmNewTable(L);
    EXPECT_EQ(Protected(L, [&] { VmConcat(L, 2); }), ERR_CONCAT);
    VmSetTop(L, 0);
    VmPushString(L, "a");
    VmNewTable(L);
    VmNewTable(L);
    VmPushString(L, "__concat");
    VmPushCClosure(L, ConcatMarker, 0);
    VmRawSet(L, -3);
    VmSetMetatable(L, -2);
    VmPushNumber(L, 5);
    VmConcat(L, 3);  // from the right: the table's "__concat" first, then "a" .. that
    EXPECT_EQ(StringAt(L, 1), "a<meta>");
}

}  // namespace
