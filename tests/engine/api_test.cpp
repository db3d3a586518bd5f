// The stack interface: index resolution, queries, pushes, tables and metatables.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::Minimal;
using qv::testing::Protected;
using qv::testing::RunAsCommand;
using qv::testing::StringAt;

class StackApi : public EngineTest {};

TEST_F(StackApi, IndicesResolveToFrameRegistryAndGlobals) {
    VmPushNumber(L, 10);
    VmPushString(L, "b");
    VmPushBoolean(L, 1);
    struct {
        int idx;
        int type;
    } const cases[] = {
        {1, VM_TNUMBER},     {2, VM_TSTRING},     {3, VM_TBOOLEAN},   {4, VM_TNONE},
        {-1, VM_TBOOLEAN},   {-3, VM_TNUMBER},    {-4, VM_TNONE},     {0, VM_TNONE},
        {-10000, VM_TTABLE}, {-10001, VM_TTABLE}, {-10002, VM_TNONE},  // no upvalues
    };
    ASSERT_EQ(RunAsCommand(
                  L,
                  [&](qvVmState* L) {
                      for (const auto& c : cases) {
                          EXPECT_EQ(VmType(L, c.idx), c.type) << "index " << c.idx;
                      }
                      return 0;
                  },
                  3),
              0);
    EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(StackApi, UpvaluesOfTheRunningCommand) {
    static int seen = 0;
    VmPushNumber(L, 20);
    VmPushNumber(L, 30);
    VmPushCClosure(
        L,
        [](qvVmState* L) {
            seen = static_cast<int>(VmToNumber(L, VmUpvalueIndex(1)) * 100 +
                                    VmToNumber(L, VmUpvalueIndex(2)));
            EXPECT_EQ(VmType(L, VmUpvalueIndex(3)), VM_TNONE);
            EXPECT_EQ(VmType(L, VM_REGISTRYINDEX), VM_TTABLE);
            EXPECT_EQ(VmType(L, VM_GLOBALSINDEX), VM_TTABLE);
            EXPECT_EQ(VmPushUpvalues(L), 2);
            EXPECT_EQ(VmGetTop(L), 3);  // one argument and the two upvalues
            return 0;
        },
        2);
    VmPushNumber(L, 1);
    ASSERT_EQ(VmPCall(L, 1, 0, 0), 0);
    EXPECT_EQ(seen, 2030);
}

TEST_F(StackApi, ArgumentsBeyondTheTopAreNone) {
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    ASSERT_EQ(RunAsCommand(
                  L,
                  [](qvVmState* L) {
                      EXPECT_EQ(VmGetTop(L), 2);
                      EXPECT_EQ(VmType(L, 3), VM_TNONE);
                      EXPECT_EQ(VmToNumber(L, 3), 0);
                      EXPECT_EQ(VmType(L, -3), VM_TNONE);  // below the frame
                      EXPECT_EQ(VmType(L, -10000), VM_TTABLE);
                      EXPECT_EQ(VmToString(L, 3), nullptr);
                      EXPECT_EQ(VmRawEqual(L, 1, 3), 0);
                      return 0;
                  },
                  2),
              0);
}

TEST_F(StackApi, NumberQueriesTreatNilAsZero) {
    VmPushNil(L);
    VmPushBoolean(L, 0);
    VmPushString(L, "12");
    VmPushString(L, "x");
    VmPushString(L, " 0x10 ");
    EXPECT_EQ(VmIsNumber(L, 1), 1);
    EXPECT_EQ(VmToNumber(L, 1), 0);
    EXPECT_EQ(VmIsNumber(L, 2), 0);
    EXPECT_EQ(VmIsNumber(L, 3), 1);
    EXPECT_EQ(VmToNumber(L, 3), 12);
    EXPECT_EQ(VmIsNumber(L, 4), 0);
    EXPECT_EQ(VmToNumber(L, 5), 16);
    EXPECT_EQ(VmIsString(L, 1), 0);
    EXPECT_EQ(VmIsString(L, 3), 1);
    EXPECT_EQ(VmToBoolean(L, 1), 0);
    EXPECT_EQ(VmToBoolean(L, 2), 0);
    EXPECT_EQ(VmToBoolean(L, 3), 1);
    EXPECT_EQ(VmToBoolean(L, 9), 0);
}

TEST_F(StackApi, ToStringConvertsNumbersInPlace) {
    const struct {
        double n;
        const char* text;
    } cases[] = {{3, "3"},
                 {0.1, "0.1"},
                 {1e15, "1e+15"},
                 {-0.0, "-0"},
                 {123456789012345678.0, "1.2345678901235e+17"}};
    for (const auto& c : cases) {
        VmPushNumber(L, c.n);
        EXPECT_STREQ(VmToString(L, -1), c.text);
        EXPECT_EQ(VmType(L, -1), VM_TSTRING);
        EXPECT_EQ(VmStrLen(L, -1), std::string(c.text).size());
    }
    VmPushBoolean(L, 1);
    EXPECT_EQ(VmToString(L, -1), nullptr);
    EXPECT_EQ(VmStrLen(L, -1), 0u);
}

TEST_F(StackApi, SetTopFillsWithNilAndPopsWithoutClearing) {
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    VmSetTop(L, 5);
    EXPECT_EQ(VmGetTop(L), 5);
    EXPECT_EQ(VmType(L, 5), VM_TNIL);
    VmSetTop(L, 2);
    VmSetTop(L, -2);  // pops one
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(L->top->tag, VM_TNUMBER);  // the popped slot keeps its value
    VmSetTop(L, -100);                   // never below the frame
    EXPECT_EQ(VmGetTop(L), 0);
    VmSetTop(L, 100);  // grows the stack as needed
    EXPECT_EQ(VmGetTop(L), 100);
    EXPECT_EQ(VmType(L, 100), VM_TNIL);
    VmSetTop(L, 0);
    EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(StackApi, InsertRemoveReplaceAndPushValue) {
    for (int i = 1; i <= 4; ++i) VmPushNumber(L, i);
    VmInsert(L, 2);   // 1 4 2 3
    VmRemove(L, -1);  // 1 4 2
    VmPushNumber(L, 9);
    VmReplace(L, 1);  // 9 4 2
    VmPushValue(L, -2);
    ASSERT_EQ(VmGetTop(L), 4);
    const double expected[] = {9, 4, 2, 4};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(VmToNumber(L, i + 1), expected[i]);
    VmPushNumber(L, 5);
    VmReplace(L, VM_GLOBALSINDEX);  // the globals stay a table
    EXPECT_EQ(VmType(L, VM_GLOBALSINDEX), VM_TTABLE);
    EXPECT_EQ(VmGetTop(L), 4);
}

TEST_F(StackApi, CheckStackLimitsTheFrameTo2048) {
    VmPushNumber(L, 1);
    EXPECT_EQ(VmCheckStack(L, 2048), 0);
    EXPECT_EQ(VmCheckStack(L, 2047), 1);
    for (int i = 0; i < 2047; ++i) VmPushNumber(L, i);
    EXPECT_EQ(VmGetTop(L), 2048);
    EXPECT_GE(L->ci->top, L->top);
    EXPECT_EQ(VmCheckStack(L, 1), 0);
}

TEST_F(StackApi, ConcatOfNoneOneAndMany) {
    VmConcat(L, 0);
    EXPECT_EQ(StringAt(L, -1), "");
    VmPushNumber(L, 7);
    VmConcat(L, 1);
    EXPECT_EQ(VmType(L, -1), VM_TNUMBER);
    VmSetTop(L, 0);
    VmPushString(L, "a");
    VmPushNumber(L, 1);
    VmPushNil(L);
    VmPushNumber(L, 0.5);
    VmConcat(L, 4);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(StringAt(L, 1), "a10.5");
}

TEST_F(StackApi, PushFStringKnowsItsFiveDirectives) {
    EXPECT_STREQ(VmPushFString(L, "x=%s n=%d f=%f c=%c %%", "ab", 42, 0.5, 'z'),
                 "x=ab n=42 f=0.5 c=z %");
    EXPECT_STREQ(VmPushFString(L, "%d/%f", 1000000000, 1e15), "1000000000/1e+15");
    EXPECT_STREQ(VmPushFString(L, "%x stays, %s too, end%", nullptr), "%x stays, (null) too, end%");
    EXPECT_STREQ(VmPushFString(L, "plain"), "plain");
    EXPECT_EQ(VmGetTop(L), 4);
}

TEST_F(StackApi, PushesOfEveryKind) {
    int local = 0;
    VmPushLString(L, "a\0b", 3);
    EXPECT_EQ(VmStrLen(L, -1), 3u);
    VmPushString(L, nullptr);
    EXPECT_EQ(VmType(L, -1), VM_TNIL);
    VmPushLightUserdata(L, &local);
    EXPECT_EQ(VmToUserdata(L, -1), &local);
    EXPECT_EQ(VmToPointer(L, -1), &local);
    EXPECT_EQ(VmIsUserdata(L, -1), 1);
    void* block = VmNewUserdata(L, 24);
    EXPECT_EQ(VmToUserdata(L, -1), block);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    VmNewTable(L);
    EXPECT_NE(VmToPointer(L, -1), nullptr);
    VmPushCClosure(L, qv::testing::BodyTrampoline, 0);
    EXPECT_EQ(VmIsCFunction(L, -1), 1);
    EXPECT_EQ(VmToCFunction(L, -1), qv::testing::BodyTrampoline);
    qvVmState* thread = VmNewThread(L);
    EXPECT_EQ(VmToThread(L, -1), thread);
    EXPECT_EQ(VmType(L, -1), VM_TTHREAD);
    qvValue v;
    qv::SetNumber(&v, 8);
    VmPushObject(L, &v);
    EXPECT_EQ(VmToNumber(L, -1), 8);
    VmCollectGarbage(L);  // everything above is anchored on the stack
    EXPECT_EQ(VmToThread(L, -2), thread);
}

TEST_F(StackApi, RawAccessAndTraversal) {
    VmNewTable(L);
    VmPushNil(L);  // the nil key is the number 0
    VmPushString(L, "zero");
    VmRawSet(L, 1);
    VmPushNumber(L, 7);
    VmRawSetI(L, 1, 3);
    VmRawGetI(L, 1, 0);
    EXPECT_EQ(StringAt(L, -1), "zero");
    VmPushNumber(L, 3);
    VmRawGet(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), 7);
    VmSetTop(L, 1);
    int count = 0;
    VmPushNil(L);
    while (VmNext(L, 1) != 0) {
        ++count;
        VmSetTop(L, -2);  // keep the key
    }
    EXPECT_EQ(count, 2);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(Protected(L,
                        [&] {
                            VmPushString(L, "absent");
                            VmNext(L, 1);
                        }),
              ERR_INVNEXTKEY);
    VmSetTop(L, 1);
    EXPECT_EQ(Protected(L,
                        [&] {
                            VmPushNumber(L, NAN);
                            VmPushNumber(L, 1);
                            VmRawSet(L, 1);
                        }),
              ERR_TABLEINDEX);
}

TEST_F(StackApi, MetatablesAndEnvironments) {
    VmNewTable(L);
    EXPECT_EQ(VmGetMetatable(L, 1), 0);  // the default metatable does not count
    VmNewTable(L);
    EXPECT_EQ(VmSetMetatable(L, 1), 1);
    EXPECT_EQ(VmGetMetatable(L, 1), 1);
    EXPECT_EQ(VmGetTop(L), 2);
    VmPushNil(L);
    EXPECT_EQ(VmSetMetatable(L, 1), 1);
    EXPECT_EQ(VmGetMetatable(L, 1), 0);
    VmPushNumber(L, 1);
    VmNewTable(L);
    EXPECT_EQ(VmSetMetatable(L, -2), 0);
    EXPECT_EQ(VmGetTop(L), 3);
    VmPushCClosure(L, qv::testing::BodyTrampoline, 0);
    VmGetFEnv(L, -1);
    EXPECT_EQ(VmRawEqual(L, -1, VM_GLOBALSINDEX), 1);
    VmNewTable(L);
    EXPECT_EQ(VmSetFEnv(L, -3), 0);  // not a script function: popped all the same
    EXPECT_EQ(VmGetTop(L), 5);
}

TEST_F(StackApi, UpvaluesOfANativeClosureHaveEmptyNames) {
    VmPushNumber(L, 5);
    VmPushCClosure(L, qv::testing::BodyTrampoline, 1);
    EXPECT_STREQ(VmGetUpvalue(L, 1, 1), "");
    EXPECT_EQ(VmToNumber(L, -1), 5);
    VmPushNumber(L, 6);
    EXPECT_STREQ(VmSetUpvalue(L, 1, 1), "");
    EXPECT_EQ(VmGetUpvalue(L, 1, 2), nullptr);
    EXPECT_EQ(VmGetUpvalue(L, 1, 0), nullptr);
    VmGetUpvalue(L, 1, 1);
    EXPECT_EQ(VmToNumber(L, -1), 6);
}

int IndexByDoubling(qvVmState* L) {
    VmPushNumber(L, VmToNumber(L, 2) * 2);
    return 1;
}

int StoreElsewhere(qvVmState* L) {
    VmPushValue(L, 2);
    VmPushValue(L, 3);
    VmRawSet(L, VM_REGISTRYINDEX);
    return 0;
}

TEST_F(StackApi, GetAndSetTableHonourMetamethods) {
    VmNewTable(L);
    VmNewTable(L);
    VmPushString(L, "__index");
    VmPushCClosure(L, IndexByDoubling, 0);
    VmRawSet(L, -3);
    VmPushString(L, "__newindex");
    VmPushCClosure(L, StoreElsewhere, 0);
    VmRawSet(L, -3);
    VmSetMetatable(L, 1);
    VmPushNumber(L, 21);
    VmGetTable(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), 42);
    VmPushString(L, "k");
    VmPushNumber(L, 5);
    VmSetTable(L, 1);
    EXPECT_EQ(VmGetTop(L), 2);
    VmPushString(L, "k");
    VmRawGet(L, 1);
    EXPECT_EQ(VmType(L, -1), VM_TNIL);
    VmPushString(L, "k");
    VmRawGet(L, VM_REGISTRYINDEX);
    EXPECT_EQ(VmToNumber(L, -1), 5);
}

TEST_F(StackApi, IndexingANonTableNamesNoVariable) {
    VmPushNumber(L, 1);
    EXPECT_EQ(Protected(L,
                        [&] {
                            VmPushString(L, "x");
                            VmGetTable(L, 1);
                        }),
              ERR_TABLEDECLA);
    EXPECT_STREQ(Minimal(L).ErrorText(), "??{}");
}

TEST_F(StackApi, EqualAndCompareOfInvalidIndicesAreFalse) {
    VmPushString(L, "a");
    VmPushString(L, "B");
    EXPECT_EQ(VmEqual(L, 1, 3), 0);
    EXPECT_EQ(VmCompare(L, 1, 3, 1), 0);
    EXPECT_EQ(VmCompare(L, 1, 2, 1), 0);
    EXPECT_EQ(VmCompare(L, 1, 2, 0), 1);
    EXPECT_EQ(Protected(L,
                        [&] {
                            VmPushNumber(L, 1);
                            VmCompare(L, 1, -1, 1);
                        }),
              ERR_NUMSTRCMP);
}

}  // namespace
