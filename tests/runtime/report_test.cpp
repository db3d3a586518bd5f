// Where an error is said to be and how it is shown: the line map, the requester text, the
// exit report on the debug output and the progress lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/linux/debug_output.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/report.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::FdCapture;
using qv::testing::RuntimeTest;
using qv::testing::ScopedEnv;

class Report : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        // Applet lines 1-10 come from main.qvs (user lines 1-10), 11-20 from lib.qvs, whose
        // line 5 is applet line 11.
        lib_ = {nullptr, 11, 20, 4, const_cast<char*>("src/lib.qvs"), const_cast<char*>("app.qva")};
        main_ = {&lib_, 1, 10, 0, const_cast<char*>("src/main.qvs"), const_cast<char*>("app.qva")};
        header_.lineMap = &main_;
        SetRegistryPointer(L, "applet", &header_);
        SetRegistryString(L, "script", ":none:");
        std::strcpy(qv::Runtime().error.sourceName, "app.qva");
    }

    void At(int line, const char* command) {
        qv::Runtime().error.line = line;
        std::strcpy(qv::Runtime().error.command, command);
    }

    void ReportLocations(int32_t on) {
        const qvAttrSet tags[] = {{QV_ATTR_REPORTLOCATIONS, on}, {QV_ATTR_END, 0}};
        SetGlobalAttrs(L, tags);
    }

    qvLineMapEntry lib_{};
    qvLineMapEntry main_{};
    qvScriptHeader header_{};
    qvStartupOptions options_{};
};

TEST_F(Report, LinesMapThroughTheEntryThatHoldsThem) {
    struct Case {
        int line;
        int mapped;
    };
    for (Case c :
         {Case{1, 1}, Case{10, 10}, Case{11, 5}, Case{20, 14}, Case{21, -1}, Case{0, -1}}) {
        At(c.line, "----");
        EXPECT_EQ(MapScriptLine(L), c.mapped) << c.line;
    }
    std::strcpy(qv::Runtime().error.sourceName, "other.qva");
    At(5, "----");
    EXPECT_EQ(MapScriptLine(L), -1);
}

TEST_F(Report, AScriptThatIsNoAppletKeepsItsLine) {
    SetRegistryString(L, "script", "main.qvs");
    At(33, "----");
    EXPECT_EQ(MapScriptLine(L), 33);
}

TEST_F(Report, ErrorLocationFollowsTheReportFlag) {
    char text[1024];
    const char* file = "unset";
    int line = -7;
    At(12, "LoadBrush");
    ShowErrorLocation(L, ERR_MEM, text, &file, &line);
    EXPECT_STREQ(text, "Out of memory!");
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(line, 0);

    ReportLocations(1);
    ShowErrorLocation(L, ERR_MEM, text, &file, &line);
    EXPECT_STREQ(file, "src/lib.qvs");
    EXPECT_EQ(line, 6);
    At(40, "LoadBrush");
    ShowErrorLocation(L, ERR_MEM, text, &file, &line);
    EXPECT_STREQ(file, "---");
    EXPECT_EQ(line, -1);
    ShowErrorLocation(nullptr, ERR_MEM, text, &file, &line);
    EXPECT_EQ(file, nullptr);
}

TEST_F(Report, FatalErrorRequesterForms) {
    struct Case {
        int32_t report;
        int plain;
        const char* command;
        const char* expected;
    };
    const Case cases[] = {
        {1, 0, "----", "[QuorvellaPlayer] Oops!\nFile: main.qvs (current line: 12)\n"},
        {1, 0, "LoadBrush",
         "[QuorvellaPlayer] Oops!\nFile: main.qvs (current line: 12 - In function: LoadBrush)\n"},
        {1, 1, "LoadBrush", "[QuorvellaPlayer] Oops!\n"},
        {0, 0, "LoadBrush", "[QuorvellaPlayer] Oops!\n"},
    };
    ScopedEnv answers("QV_REQUESTER_ANSWERS", std::nullopt);
    for (const Case& c : cases) {
        main_.lastLine = 20;
        At(12, c.command);
        ReportLocations(c.report);
        FdCapture err(2);
        ShowFatalError(L, "Oops!", c.plain, 0);
        EXPECT_EQ(err.Text(), c.expected);
    }
}

TEST_F(Report, FinalErrorOnTheDebugOutput) {
    ReportLocations(1);
    qv::Runtime().debugDevice = 1;
    SetErrorNumber(4);
    At(3, "LoadBrush");
    {
        qv::DebugCapture capture;
        qv::ReportFinalError(L, ERR_FINDBRUSH, &options_, true);
        EXPECT_EQ(capture.Text(), "src/main.qvs:3: Could not find brush 4!\n");
    }
    EXPECT_STREQ(options_.errorText, "Could not find brush 4!");
    ReportLocations(0);
    {
        qv::DebugCapture capture;
        qv::ReportFinalError(L, ERR_FINDBRUSH, &options_, false);
        EXPECT_EQ(capture.Text(), " failed\nError: Could not find brush 4!\n");
    }
    {
        qv::DebugCapture capture;
        qv::ReportFinalError(L, ERR_USERABORT, &options_, false);
        qv::ReportFinalError(L, 0, &options_, false);
        EXPECT_EQ(capture.Text(), "");
    }
}

TEST_F(Report, FinalErrorWithoutADebugDeviceIsARequester) {
    ReportLocations(1);
    At(3, "----");
    FdCapture err(2);
    qv::ReportFinalError(L, ERR_MEM, &options_, false);
    EXPECT_EQ(err.Text(), "[QuorvellaPlayer] Out of memory!\nFile: main.qvs (current line: 3)\n");
}

TEST_F(Report, ProgressLinesAreQuietFromTag2) {
    qv::DebugCapture capture;
    PrintLoadingMessage("Loading applet %s", "/home/user/dir/app.qva", 1);
    PrintLoadingDone();
    PrintLoadingMessage("Compiling script", nullptr, 1);
    PrintLoadingSkipped();
    PrintLoadingMessage("100%% %s", "x", 0);
    PrintLoadingFailed();
    EXPECT_EQ(capture.Text(),
              "Loading applet app.qva... done\nCompiling script... skipped\n100% x failed\n");
    capture.Clear();
    const qvAttrSet quiet[] = {{QV_ATTR_QUIET, 1}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, quiet);
    PrintLoadingMessage("Loading applet %s", "app.qva", 1);
    PrintLoadingDone();
    EXPECT_EQ(capture.Text(), "");
}

}  // namespace
