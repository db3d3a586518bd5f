// The error hook and the location capture, driven by assembled scripts that call commands:
// whether an error is swallowed or ends the script, and what the report will name.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/runtime_state.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::RuntimeTest;

// What the "report" command saw, one entry per call: the type and number of its argument.
std::vector<std::pair<int, double>> reports;

int TestCmd(qvVmState*) {
    return ERR_FINDBRUSH;
}

int Raiser(qvVmState* L) {
    RaiseError(L, ERR_WRONGUSAGE);
}

int Report(qvVmState* L) {
    reports.emplace_back(VmType(L, 1), VmToNumber(L, 1));
    return 0;
}

int GetLastError(qvVmState* L) {
    VmPushNumber(L, qv::Runtime().error.lastError);
    return 1;
}

const qvCommandEntry kCommands[] = {{"TestCmd", TestCmd},
                                    {"Raiser", Raiser},
                                    {"Report", Report},
                                    {"GetLastError", GetLastError},
                                    {nullptr, nullptr}};

class Hook : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        reports.clear();
        ASSERT_EQ(RegisterCommandTable(kCommands, "test"), 0);
        VmPushValue(L, VM_GLOBALSINDEX);
        RegisterLibrary(L, nullptr, kCommands, 0);
        VmSetTop(L, 0);
        qv::Runtime().getLastError = GetLastError;
    }

    // Runs the main function of listing; returns the status.
    int Run(const std::string& listing) {
        PushChunk(listing);
        return VmPCall(L, 0, 0, 0);
    }

    void SetAttr(uint32_t tag, int32_t value) {
        const qvAttrSet tags[] = {{tag, value}, {QV_ATTR_END, 0}};
        SetGlobalAttrs(L, tags);
    }

    const qvErrorState& Error() const { return qv::Runtime().error; }
    uint32_t Abort() const { return qv::Runtime().abortFlag.load(); }
};

// Calls testcmd at line 5, then reports what it returned and the last error.
const char kCallsTestCmd[] = R"(
.function main
.source "app.qva"
.line 5
    GETGLOBAL r0 "testcmd"
    CALL r0 1 2
.line 6
    GETGLOBAL r1 "getlasterror"
    CALL r1 1 2
    GETGLOBAL r2 "report"
    MOVE r3 r0
    CALL r2 2 1
    GETGLOBAL r2 "report"
    MOVE r3 r1
    CALL r2 2 1
    RETURN r0 1
.end
)";

TEST_F(Hook, WithoutExitOnErrorTheScriptGoesOn) {
    SetAttr(QV_ATTR_EXITONERROR, 0);
    ASSERT_EQ(Run(kCallsTestCmd), 0);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].first, VM_TNIL);  // the failed command gave no results
    EXPECT_EQ(reports[1].second, ERR_FINDBRUSH);
    EXPECT_EQ(Abort(), 0u);
    EXPECT_STREQ(Error().command, "----");
    EXPECT_EQ(Error().line, -1);
}

TEST_F(Hook, WithExitOnErrorTheScriptEndsWithTheLocation) {
    EXPECT_EQ(Run(kCallsTestCmd), ERR_FINDBRUSH);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Abort(), 1u);
    EXPECT_EQ(Error().lastError, static_cast<uint32_t>(ERR_FINDBRUSH));
    EXPECT_STREQ(Error().command, "TestCmd");  // as its table spells it
    EXPECT_STREQ(Error().sourceName, "app.qva");
    EXPECT_EQ(Error().line, 5);  // the command has none: the calling level's
}

TEST_F(Hook, InsideACallbackTheThrowLeavesTheAbortFlag) {
    SetAttr(QV_ATTR_NESTEDCALLS, 1);
    EXPECT_EQ(Run(kCallsTestCmd), ERR_FINDBRUSH);
    EXPECT_EQ(Abort(), 0u);
    EXPECT_STREQ(Error().command, "TestCmd");
}

TEST_F(Hook, InsideACallbackASwallowedErrorKeepsTheLocation) {
    SetAttr(QV_ATTR_NESTEDCALLS, 1);
    SetAttr(QV_ATTR_EXITONERROR, 0);
    std::snprintf(qv::Runtime().error.command, sizeof qv::Runtime().error.command, "Outer");
    qv::Runtime().error.line = 3;
    ASSERT_EQ(Run(kCallsTestCmd), 0);
    EXPECT_STREQ(Error().command, "Outer");
    EXPECT_EQ(Error().line, 3);
}

TEST_F(Hook, ReportedNamesByLevel) {
    struct Case {
        const char* what;
        const char* listing;
        int status;
        const char* name;
        int line;
    };
    const Case cases[] = {
        {"a command that raises", R"(
.function main
.source "app.qva"
.line 7
    GETGLOBAL r0 "raiser"
    CALL r0 1 1
    RETURN r0 1
.end)",
         ERR_WRONGUSAGE, "Raiser", 7},
        {"a named script function", R"(
.function main
.source "app.qva"
    CLOSURE r0 myfunc
    SETGLOBAL r0 "myfunc"
    GETGLOBAL r1 "myfunc"
    CALL r1 1 1
    RETURN r0 1
.function myfunc
.line 12
    NEWTABLE r0 0 0
    ADD r1 r0 1
    RETURN r0 1
.end
.end)",
         ERR_WRONGOP, "myfunc", 12},
        {"a function without a name", R"(
.function main
.source "app.qva"
    CLOSURE r0 anon
    CALL r0 1 1
    RETURN r0 1
.function anon
.line 20
    NEWTABLE r0 0 0
    ADD r1 r0 1
    RETURN r0 1
.end
.end)",
         ERR_WRONGOP, "anonymous", 20},
        {"the main chunk", R"(
.function main
.source "app.qva"
.line 30
    NEWTABLE r0 0 0
    ADD r1 r0 1
    RETURN r0 1
.end)",
         ERR_WRONGOP, "<<unnamed>>", 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qv::ResetRuntimeState();
        ASSERT_EQ(RegisterCommandTable(kCommands, "test"), 0);
        EXPECT_EQ(Run(c.listing), c.status);
        EXPECT_STREQ(Error().command, c.name);
        EXPECT_STREQ(Error().sourceName, "app.qva");
        EXPECT_EQ(Error().line, c.line);
        VmSetTop(L, 0);
    }
}

TEST_F(Hook, ACommandMissingFromTheTablesIsAQuestionMark) {
    qv::ResetRuntimeState();  // forgets the command tables; the globals stay
    EXPECT_EQ(Run(kCallsTestCmd), ERR_FINDBRUSH);
    EXPECT_STREQ(Error().command, "?");
}

}  // namespace
