// The headless file and drawer requesters, and the time services beside the system time.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/linux/requester.h"
#include "platform/linux/time_services.h"
#include "tests/platform/file_test_support.h"

namespace {

using qv::testing::ScopedEnv;

class HeadlessRequesters : public ::testing::Test {
protected:
    void SetUp() override { qv::ResetRequesterAnswers(); }
    void TearDown() override { qv::ResetRequesterAnswers(); }
};

TEST_F(HeadlessRequesters, FileAnswersSplitIntoDrawerAndNames) {
    struct Case {
        const char* answer;
        int mode;
        const char* directory;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"/data/pics/a.png", QV_REQ_NORMAL, "/data/pics", {"a.png"}},
        {"/a.png", QV_REQ_NORMAL, "/", {"a.png"}},
        {"RAM:a.png", QV_REQ_SAVEMODE, "RAM:", {"a.png"}},
        {"a.png", QV_REQ_NORMAL, "", {"a.png"}},
        {"/d/a|b||c", QV_REQ_MULTISELECT, "/d", {"a", "b", "c"}},
        {"/d/a|b", QV_REQ_NORMAL, "/d", {"a"}},
        {"/d/", QV_REQ_NORMAL, "/d", {}},
        {"", QV_REQ_NORMAL, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        ScopedEnv answers("QV_REQUESTER_ANSWERS", std::string(c.answer) + ";");
        qvFileRequestResult result;
        ASSERT_EQ(ReqFile({"Title", "#?", c.mode, nullptr, nullptr}, &result), 0);
        EXPECT_EQ(result.directory, c.directory);
        EXPECT_EQ(result.names, c.names);
    }
}

TEST_F(HeadlessRequesters, WithoutAnswersEveryRequesterCancels) {
    ScopedEnv answers("QV_REQUESTER_ANSWERS", std::nullopt);
    qvFileRequestResult result;
    ASSERT_EQ(ReqFile({"Title", "#?", QV_REQ_NORMAL, "/tmp", "x"}, &result), 0);
    EXPECT_TRUE(result.names.empty());
    char path[64] = "unchanged";
    ASSERT_EQ(ReqPath("Title", QV_REQ_NORMAL, "/tmp", path, sizeof path), 0);
    EXPECT_STREQ(path, "");
}

TEST_F(HeadlessRequesters, PathAnswersAreCutToTheBuffer) {
    ScopedEnv answers("QV_REQUESTER_ANSWERS", "/a/long/drawer");
    char path[8];
    ASSERT_EQ(ReqPath("Title", QV_REQ_SAVEMODE, nullptr, path, sizeof path), 0);
    EXPECT_STREQ(path, "/a/long");
}

TEST(TimeServices, CompareOrdersSecondsThenMicroseconds) {
    struct Case {
        qvTimeVal a;
        qvTimeVal b;
        int expected;
    };
    const Case cases[] = {{{5, 0}, {5, 0}, 0},
                          {{4, 999999}, {5, 0}, -1},
                          {{5, 1}, {5, 0}, 1},
                          {{0xFFFFFFFF, 0}, {1, 0}, 1},
                          {{7, 10}, {7, 20}, -1}};
    for (const Case& c : cases) {
        EXPECT_EQ(TimerCmpTime(&c.a, &c.b), c.expected);
        EXPECT_EQ(TimerCmpTime(&c.b, &c.a), -c.expected);
    }
}

TEST(TimeServices, DelaysLastAtLeastTheirTime) {
    qvTimeVal start, end;
    qv::MonotonicTime(&start);
    DelayMillis(30);
    qv::MonotonicTime(&end);
    TimerSubTime(&end, &start);
    EXPECT_GE(uint64_t{end.seconds} * 1000000 + end.microseconds, 30000u);
}

TEST(TimeServices, FullDateHasItsFixedForm) {
    char date[32];
    FormatFullDate(date, sizeof date);
    EXPECT_TRUE(std::regex_match(
        date, std::regex(
                  R"(\d\d-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-\d\d \d\d:\d\d:\d\d)")))
        << date;
    char cut[6];
    FormatFullDate(cut, sizeof cut);
    EXPECT_EQ(std::string(cut).size(), 5u);
}

}  // namespace
