// The debug output devices and the headless requester, observed on the process's own
// standard output and standard error.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/debug_output.h"
#include "platform/linux/requester.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::FdCapture;
using qv::testing::ScopedEnv;

std::vector<std::string> rexxLines;

void RexxSink(const char* port, std::string_view text) {
    rexxLines.push_back(std::string(port) + ":" + std::string(text));
}

class Devices : public ::testing::Test {
protected:
    void TearDown() override {
        SelectDebugOutput("");
        qv::SetRexxDebugSink(nullptr);
        rexxLines.clear();
    }

    // What one debug write with device selected puts on standard output and error.
    std::pair<std::string, std::string> WriteWith(const char* device) {
        SelectDebugOutput(device);
        FdCapture out(1);
        FdCapture err(2);
        WriteDebugText("%d%%\n", 50);
        return {out.Text(), err.Text()};
    }
};

TEST_F(Devices, EachDeviceWritesWhereItShould) {
    struct Case {
        const char* device;
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {"", "50%\n", ""},  // the console
        {"@stdout", "50%\n", ""},
        {"@serial", "", "50%\n"},
        {"@rexx:MYPORT", "", "50%\n"},  // no ARexx sink yet
        {"@elsewhere", "50%\n", ""},
    };
    for (const Case& c : cases) {
        auto [out, err] = WriteWith(c.device);
        EXPECT_EQ(out, c.out) << c.device;
        EXPECT_EQ(err, c.err) << c.device;
    }
}

TEST_F(Devices, SelectionResults) {
    EXPECT_EQ(SelectDebugOutput("@serial"), 0);
    EXPECT_EQ(SelectDebugOutput("@rexx:P"), 0);
    EXPECT_EQ(SelectDebugOutput("@nowhere"), -1);
    EXPECT_EQ(OpenDebugConsole(), 0);
}

TEST_F(Devices, TheRexxSinkGetsThePortAndTheText) {
    qv::SetRexxDebugSink(RexxSink);
    auto [out, err] = WriteWith("@rexx:MYPORT");
    EXPECT_EQ(out + err, "");
    EXPECT_EQ(rexxLines, (std::vector<std::string>{"MYPORT:50%\n"}));
}

TEST_F(Devices, ClosingTheConsoleKeepsTheSelectedDevice) {
    SelectDebugOutput("@serial");
    EXPECT_EQ(OpenDebugConsole(), 0);
    CloseDebugConsole();
    FdCapture err(2);
    qv::WriteDebugPlain("still here\n");
    EXPECT_EQ(err.Text(), "still here\n");
}

TEST_F(Devices, ConsoleDebugOutputAndPrintfKeepTheirOrder) {
    SelectDebugOutput("@stdout");
    FdCapture out(1);
    qv::WriteConsole("1 ");
    std::printf("2 ");  // as the plugins' printf slot writes
    qv::WriteDebugPlain("3 ");
    std::printf("4 ");
    qv::WriteConsole("5\n");
    EXPECT_EQ(out.Text(), "1 2 3 4 5\n");
}

TEST(Requester, HeadlessTextAndQueuedAnswers) {
    ScopedEnv answers("QV_REQUESTER_ANSWERS", "2;0;Cancel;bogus;;7");
    qv::ResetRequesterAnswers();
    const char* buttons = "Yes|No|Cancel";
    std::vector<int> results;
    FdCapture err(2);
    for (int i = 0; i < 7; ++i)
        results.push_back(ShowMessageRequester("Title", "Text %s", buttons, 0));
    // "2" the second, "0" the last, "Cancel" by its text, then the first button for an
    // unknown text, an empty answer, a number beyond the buttons and an empty queue.
    EXPECT_EQ(results, (std::vector<int>{2, 0, 0, 1, 1, 1, 1}));
    std::string text = err.Text();
    EXPECT_EQ(text.substr(0, 15), "[Title] Text %s");
    EXPECT_EQ(text.size(), 7 * std::string("[Title] Text %s\n").size());
}

TEST(Requester, OneButtonIsZeroAndANewQueueStartsOver) {
    std::vector<int> results;
    {
        ScopedEnv answers("QV_REQUESTER_ANSWERS", "1");
        FdCapture err(2);
        results.push_back(ShowMessageRequester("T", "x", "OK", 0));
    }
    ScopedEnv answers("QV_REQUESTER_ANSWERS", "2");
    FdCapture err(2);
    results.push_back(ShowMessageRequester("T", "x", "A|B|C", 0));
    results.push_back(ShowMessageRequester("T", "x", "A|B|C", 0));
    EXPECT_EQ(results, (std::vector<int>{0, 2, 1}));
}

}  // namespace
