// Argument getters: accepted values, error codes and the error state they leave.
#include <gtest/gtest.h>

#include <string>

#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::EngineTest;
using qv::testing::Minimal;
using qv::testing::RunAsCommand;

class Arguments : public EngineTest {
protected:
    // Pushes the arguments of one case: nil, false, "12", "x", a table, light user data.
    void PushMixedArguments() {
        VmPushNil(L);
        VmPushBoolean(L, 0);
        VmPushString(L, "12");
        VmPushString(L, "x");
        VmNewTable(L);
        VmPushLightUserdata(L, this);
    }

    // Runs body as a command with the mixed arguments; returns its status.
    int WithMixedArguments(const qv::testing::Body& body) {
        PushMixedArguments();
        return RunAsCommand(L, body, 6);
    }
};

TEST_F(Arguments, NumbersAcceptNilAndNumericStrings) {
    struct {
        int idx;
        int status;
        double value;
    } const cases[] = {
        {1, 0, 0},  // nil is 0
        {2, ERR_NUMEXPECTED, 0},
        {3, 0, 12},
        {4, ERR_NUMEXPECTED, 0},
        {5, ERR_NUMEXPECTED, 0},
        {7, ERR_NUMEXPECTED, 0},  // absent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.idx);
        double got = -1;
        Minimal(L).errorNumber = 0;
        EXPECT_EQ(WithMixedArguments([&](qvVmState* L) {
                      got = GetArgNumber(L, c.idx);
                      return 0;
                  }),
                  c.status);
        if (c.status == 0) {
            EXPECT_EQ(got, c.value);
        } else {
            EXPECT_EQ(Minimal(L).errorNumber, uint32_t(c.idx));
        }
    }
}

TEST_F(Arguments, OptionalGettersUseTheDefaultOnlyWhenAbsent) {
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  EXPECT_EQ(GetOptArgNumber(L, 7, 5), 5);
                  EXPECT_EQ(GetOptArgNumber(L, 1, 5), 0);  // explicit nil
                  EXPECT_EQ(GetOptArgUInt32(L, 7, 9), 9u);
                  EXPECT_EQ(GetOptArgUInt32(L, 1, 9), 0u);
                  size_t len = 99;
                  EXPECT_STREQ(GetOptArgString(L, 7, "def", &len), "def");
                  EXPECT_EQ(len, 3u);
                  EXPECT_EQ(GetOptArgString(L, 7, nullptr, &len), nullptr);
                  EXPECT_EQ(len, 0u);
                  EXPECT_STREQ(GetOptArgString(L, 3, "def", &len), "12");
                  return 0;
              }),
              0);
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  GetOptArgNumber(L, 2, 1);
                  return 0;
              }),
              ERR_NUMEXPECTED);
}

TEST_F(Arguments, StringsConvertNumbersInTheirSlot) {
    VmPushNumber(L, 0.25);
    VmPushBoolean(L, 1);
    EXPECT_EQ(RunAsCommand(
                  L,
                  [](qvVmState* L) {
                      size_t len = 0;
                      EXPECT_STREQ(GetArgString(L, 1, &len), "0.25");
                      EXPECT_EQ(len, 4u);
                      EXPECT_EQ(VmType(L, 1), VM_TSTRING);
                      GetArgString(L, 2, nullptr);
                      return 0;
                  },
                  2),
              ERR_STREXPECTED);
    EXPECT_EQ(Minimal(L).errorNumber, 2u);
}

TEST_F(Arguments, TypeChecksRaiseTheCodeOfTheWantedType) {
    const struct {
        int idx;
        int tag;
        int status;
    } cases[] = {
        {5, VM_TTABLE, 0},
        {1, VM_TNUMBER, ERR_NUMEXPECTED},
        {1, VM_TSTRING, ERR_STREXPECTED},
        {1, VM_TTABLE, ERR_TABEXPECTED},
        {1, VM_TFUNCTION, ERR_FUNCEXPECTED},
        {3, VM_TUSERDATA, ERR_UDEXPECTED},
        {3, VM_TBOOLEAN, ERR_UDEXPECTED},
        {6, VM_TLIGHTUSERDATA, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        EXPECT_EQ(WithMixedArguments([&](qvVmState* L) {
                      EXPECT_EQ(CheckArgType(L, c.idx, c.tag), c.tag);
                      return 0;
                  }),
                  c.status);
    }
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  EXPECT_EQ(CheckArgTable(L, 5), VM_TTABLE);
                  EXPECT_NE(GetArgUserdata(L, 6), nullptr);
                  CheckArgFunction(L, 5);
                  return 0;
              }),
              ERR_FUNCEXPECTED);
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  GetArgUserdata(L, 3);
                  return 0;
              }),
              ERR_UDEXPECTED);
}

TEST_F(Arguments, TableArgumentsNameTheirFieldWithinTheTextBound) {
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  GetTableArgNumber(L, 2, "scalewidth");
                  return 0;
              }),
              ERR_NUMTABLEARG);
    EXPECT_STREQ(Minimal(L).ErrorText(), "scalewidth");
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  size_t len;
                  GetTableArgString(L, 5, &len, "title");
                  return 0;
              }),
              ERR_STRTABLEARG);
    EXPECT_STREQ(Minimal(L).ErrorText(), "title");
    const std::string longName(600, 'f');
    EXPECT_EQ(WithMixedArguments([&](qvVmState* L) {
                  GetTableArgUInt32(L, 4, longName.c_str());
                  return 0;
              }),
              ERR_NUMTABLEARG);
    EXPECT_EQ(std::string(Minimal(L).ErrorText()), longName.substr(0, 511));
}

TEST_F(Arguments, CallbackVariantsReportInsteadOfRaising) {
    EXPECT_EQ(WithMixedArguments([](qvVmState* L) {
                  int err = -1;
                  EXPECT_EQ(GetCallbackNumber(L, 3, &err), 12);
                  EXPECT_EQ(err, 0);
                  EXPECT_EQ(GetCallbackNumber(L, 4, &err), 0);
                  EXPECT_EQ(err, ERR_NUMCALLBACK);
                  size_t len = 7;
                  EXPECT_STREQ(GetCallbackString(L, 4, &len, &err), "x");
                  EXPECT_EQ(err, 0);
                  EXPECT_EQ(GetCallbackString(L, 5, &len, &err), nullptr);
                  EXPECT_EQ(err, ERR_STRCALLBACK);
                  EXPECT_EQ(len, 0u);
                  return 0;
              }),
              0);
}

TEST(FindStringInList, IsExactAndCaseSensitive) {
    const char* const list[] = {"none", "Fast", "fast", nullptr};
    EXPECT_EQ(FindStringInList("fast", list), 2);
    EXPECT_EQ(FindStringInList("none", list), 0);
    EXPECT_EQ(FindStringInList("FAST", list), -1);
}

}  // namespace
