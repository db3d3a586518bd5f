// The listing harness itself: expectations, results and their comparison.
#include <gtest/gtest.h>

#include "engine/testsupport/listing.h"

namespace {

TEST(ListingHarness, ExpectationsComeFromMarkedCommentLines) {
    const qv::ListingExpectations e = qv::ParseExpectations(
        ";! log first line\n"
        "  ;! log\n"
        "; log not an expectation\n"
        ";! status 1089\r\n"
        ";! exitonerror 0\n"
        ";! hook line\n"
        ";! exitonerror 2\n"
        ";! status x\n"
        ";! hook call\n"
        ";! lgo typo\n");
    EXPECT_EQ(e.log, (std::vector<std::string>{"first line", ""}));
    EXPECT_EQ(e.status, 1089);
    EXPECT_EQ(e.exitOnError, 0u);
    EXPECT_TRUE(e.lineHook);
    EXPECT_EQ(e.errors,
              (std::vector<std::string>{
                  "line 7: exitonerror needs 0 or 1", "line 8: status needs a number",
                  "line 9: the only hook is \"line\"", "line 10: unknown expectation \"lgo\""}));
}

TEST(ListingHarness, ResultsCarryTheErrorState) {
    qv::ListingOptions options;
    options.gcTorture = true;
    const qv::ListingResult r = qv::RunListing(R"(.function main
.line 3
    GETGLOBAL r0 "report"
    LOADK r1 "x"
    LOADNIL r2 r2
    GETGLOBAL r3 "boolean"
    LOADK r4 ""
    CALL r3 2 2
    NEWTABLE r4 0 0
    LOADK r5 0.1
    CALL r0 6 1
.line 4
    GETGLOBAL r0 "fail"
    LOADK r1 1045
    CALL r0 2 1
    RETURN r0 1
.end
)",
                                               options);
    EXPECT_TRUE(r.diagnostics.empty());
    EXPECT_EQ(r.log, (std::vector<std::string>{"x nil false table 0.1"}));
    EXPECT_EQ(r.status, 1045);
    EXPECT_EQ(r.lastError, 1045u);
    EXPECT_EQ(r.line, 4);
}

TEST(ListingHarness, DifferencesAreListedLineByLine) {
    const std::string text =
        ";! log a\n;! log b\n;! status 0\n.function main\n"
        "    GETGLOBAL r0 \"report\"\n    LOADK r1 \"a\"\n    CALL r0 2 1\n"
        "    GETGLOBAL r0 \"fail\"\n    LOADK r1 1030\n    CALL r0 2 1\n"
        "    RETURN r0 1\n.end\n";
    const std::string diff = qv::DiffListing(qv::ParseExpectations(text), qv::RunListing(text));
    EXPECT_EQ(diff,
              "log line 2 expected: b\nlog line 2 missing\n"
              "status expected 0, actual 1030 (line 0, error text \"\")\n");
}

TEST(ListingHarness, AssemblyErrorsRunNothing) {
    const qv::ListingResult r = qv::RunListing(".function main\n    NOSUCH r0\n.end\n");
    EXPECT_EQ(r.status, -1);
    ASSERT_EQ(r.diagnostics.size(), 1u);
    EXPECT_EQ(r.diagnostics[0].rfind("line 2: ", 0), 0u) << r.diagnostics[0];
    EXPECT_NE(qv::DiffListing({}, r), "");
    const qv::ListingResult missing = qv::RunListingFile("/nonexistent/listing.qvs");
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.diagnostics.size(), 1u);
}

}  // namespace
