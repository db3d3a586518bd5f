// The tools against a running program: qvrx sends to the test's port, and qvrexxd runs REXX
// scripts with Regina for RunRexxScript.
#include <fstream>

#include "tests/libs/arexx/arexx_test_support.h"

namespace qv::testing {
namespace {

TEST_F(ARexxLib, QvrxGetsTheHandlersResult) {
    ASSERT_EQ(Call("CreateRexxPort", {Str("ME")}).code, 0);
    SetHandler([](qvVmState* S) {
        VmPushString(S, "rawargs");
        VmRawGet(S, 1);
        VmPushFString(S, "got <%s>", VmToString(S, -1));
        return 1;
    });
    Child qvrx({QVRX_PATH, "ME", "SAY", "two", "words"});
    ASSERT_TRUE(qvrx.Started());
    ASSERT_TRUE(WaitFor([&] {
        CallOnARexx(L, 1, 0);
        return qvrx.Ended();
    }));
    EXPECT_EQ(qvrx.ExitCode(), 0);
    EXPECT_EQ(qvrx.Output(), "got <two words>\n");

    Child missing({QVRX_PATH, "NOBODY", "x"});
    ASSERT_TRUE(WaitFor([&] { return missing.Ended(); }));
    EXPECT_EQ(missing.ExitCode(), 20);
}

class Regina : public ARexxLib {
protected:
    void SetUp() override {
        QV_REQUIRE_TOOL("rexx");
        daemon_ = std::make_unique<Child>(std::vector<std::string>{QVREXXD_PATH});
        ASSERT_TRUE(WaitFor([] { return RexxPortExists("REXX"); }));
    }
    std::unique_ptr<Child> daemon_;
};

TEST_F(Regina, RunsScriptTextsAndFiles) {
    EXPECT_EQ(Call("RunRexxScript", {Str("say 'hi'"), Bool(true)}).Text(), "hi");
    CallResult failed = Call("RunRexxScript", {Str("exit 5"), Bool(true)});
    EXPECT_EQ(failed.code, ERR_REXXERR);
    EXPECT_EQ(failed.errorText, "5/0");

    const std::string file = dir_ / "hello.rexx";
    std::ofstream(file) << "parse arg who\nsay 'hello' who\nsay 'second line'\n";
    EXPECT_EQ(Call("RunRexxScript", {Str(file + " world")}).Text(), "hello world\nsecond line");
    CallResult missing = Call("RunRexxScript", {Str(dir_ / "missing.rexx")});
    EXPECT_EQ(missing.code, ERR_REXXERR) << "Regina's own failure status";
}

// A REXX script calls back into the program through qvrx while RunRexxScript waits.
TEST_F(Regina, ScriptsCallBackIntoTheProgram) {
    ASSERT_EQ(Call("CreateRexxPort", {Str("ME")}).code, 0);
    SetHandler([](qvVmState* S) {
        VmPushString(S, "from the program");
        return 1;
    });
    std::string script = "address system '" + std::string(QVRX_PATH) +
                         " ME ping' with output stem out.\nsay out.1\n";
    EXPECT_EQ(Call("RunRexxScript", {Str(script), Bool(true)}).Text(), "from the program");
}

}  // namespace
}  // namespace qv::testing
