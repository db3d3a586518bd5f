// Dates on the virtual wall clock in UTC against Python's time.strftime, and CompareDates
// against Python's datetime comparisons.
#include <cstdlib>
#include <ctime>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/libs/system/system_test_support.h"

namespace qv::testing {
namespace {

class Dates : public SystemLib {
protected:
    Dates() {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};

// For each instant: short date, full date, time, time with seconds, weekday and the four
// GetDateNum fields, as the commands write them (the century is always "20").
constexpr const char* kStrftime = R"PY(
import sys, time
for line in sys.stdin:
    t = time.gmtime(int(line))
    f = lambda fmt: time.strftime(fmt, t)
    print('|'.join([f('%d-%b-%y'), f('%d-%b-20%y %H:%M:%S'), f('%H:%M'), f('%H:%M:%S'), f('%A'),
                    str(2000 + int(f('%y'))), str(t.tm_mon), str(t.tm_mday),
                    str(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec)]))
)PY";

TEST_F(Dates, EqualPythonStrftime) {
    QV_REQUIRE_TOOL("python3");
    std::mt19937_64 rng(3);
    std::uniform_int_distribution<int64_t> instant(915148800 - 86400 * 30, 4102444799);
    std::vector<int64_t> instants = {915148799};  // 1999 reads as 2099, as the format says
    while (instants.size() < 200) instants.push_back(instant(rng));
    std::string input;
    for (int64_t t : instants) input += std::to_string(t) + "\n";
    ToolRun py = RunPython(kStrftime, input);
    ASSERT_EQ(py.status, 0);
    std::vector<std::string> expected = SplitLines(py.output);
    ASSERT_EQ(expected.size(), instants.size());
    for (size_t i = 0; i < instants.size(); ++i) {
        VirtualClock::wall = static_cast<time_t>(instants[i]);
        std::ostringstream ours;
        ours << Call("GetDate").Text() << '|' << Call("GetDate", {Num(1)}).Text() << '|'
             << Call("GetTime").Text() << '|' << Call("GetTime", {Bool(true)}).Text() << '|'
             << Call("GetWeekday").Text();
        for (int field = 0; field < 4; ++field)
            ours << '|' << Call("GetDateNum", {Num(field)}).Number();
        EXPECT_EQ(ours.str(), expected[i]) << instants[i];
    }
    EXPECT_EQ(Call("GetDateNum", {Num(4)}).Number(), 0);
}

constexpr const char* kCompare = R"PY(
import sys
from datetime import datetime
for line in sys.stdin:
    a, b, only = line.rstrip('\n').split('|')
    fmt = '%d-%b-%Y' if only == '1' else '%d-%b-%Y %H:%M:%S'
    x, y = datetime.strptime(a, fmt), datetime.strptime(b, fmt)
    print(1 if x > y else 2 if x < y else 0)
)PY";

TEST_F(Dates, CompareDatesEqualsPythonDatetime) {
    QV_REQUIRE_TOOL("python3");
    static const char* const kMonths[] = {"Jan", "feb", "MAR", "Apr", "may", "Jun",
                                          "jul", "Aug", "SEP", "Oct", "nov", "Dec"};
    std::mt19937 rng(11);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    auto date = [&](bool only) {
        char text[64];
        if (only)
            std::snprintf(text, sizeof text, "%02d-%s-%04d", 1 + pick(3), kMonths[pick(3)],
                          2010 + pick(2));
        else
            std::snprintf(text, sizeof text, "%02d-%s-%04d %02d:%02d:%02d", 1 + pick(3),
                          kMonths[pick(3)], 2010 + pick(2), pick(2), pick(2), pick(2));
        return std::string(text);
    };
    struct Pair {
        std::string a, b;
        bool only;
    };
    std::vector<Pair> pairs;
    for (int i = 0; i < 600; ++i) {
        bool only = i % 2 == 1;
        pairs.push_back({date(only), date(only), only});
    }
    std::string input;
    for (const Pair& p : pairs) input += p.a + "|" + p.b + "|" + (p.only ? "1" : "0") + "\n";
    ToolRun py = RunPython(kCompare, input);
    ASSERT_EQ(py.status, 0);
    std::vector<std::string> expected = SplitLines(py.output);
    ASSERT_EQ(expected.size(), pairs.size());
    for (size_t i = 0; i < pairs.size(); ++i) {
        CallResult r = Call("CompareDates", {Str(pairs[i].a), Str(pairs[i].b), Num(pairs[i].only)});
        ASSERT_EQ(r.code, 0);
        EXPECT_EQ(std::to_string(static_cast<int>(r.Number())), expected[i])
            << pairs[i].a << " " << pairs[i].b;
    }
}

}  // namespace
}  // namespace qv::testing
