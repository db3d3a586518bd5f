// Patterns against Python's re on the subset both languages share: ".", sets and their
// complements, "%d", "%s", "%a" (on ASCII subjects), "*", "+", "?", "-" (as "*?"), captures,
// "%1" (as "\1") and a final "$". The leftmost match, its span and every capture must
// agree. Each pattern is wrapped in position captures, "()" ... "()", to read the span.
#include <random>
#include <string>
#include <vector>

#include "tests/libs/string/string_test_support.h"

namespace qv::testing {
namespace {

struct PatternPair {
    std::string ours;    // without the wrapping position captures and the final "$"
    std::string python;  // a regular expression
    bool atEnd = false;  // a final "$"
    // Wrapped in position captures ("()" is a position capture, so captures themselves
    // are never empty).
    std::string Wrapped() const { return "()" + ours + "()" + (atEnd ? "$" : ""); }
};

class PatternGenerator {
public:
    PatternPair Make() {
        PatternPair p;
        closed_ = 0;
        open_ = 0;
        opened_ = 0;
        for (int n = 1 + Pick(5); n > 0; --n) Item(&p);
        while (open_ > 0) Close(&p);
        if (Pick(6) == 0) {
            p.atEnd = true;
            p.python += "\\Z";
        }
        return p;
    }

    std::string Subject() {
        static const std::string kAlphabet = "abc1 A\nb2";
        std::string s;
        for (int n = Pick(8) == 0 ? 64 + Pick(64) : Pick(13); n > 0; --n) {
            s += kAlphabet[Pick(static_cast<int>(kAlphabet.size()))];
        }
        return s;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    void Item(PatternPair* p) {
        const int kind = Pick(10);
        if (kind == 0 && opened_ < 3) {
            p->ours += "(";
            p->python += "(";
            ++open_;
            ++opened_;
            return;
        }
        if (kind == 1 && open_ > 0) {
            Close(p);
            return;
        }
        if (kind == 2 && closed_ > 0) {
            // Capture 1 of the generated pattern is capture 2 once wrapped.
            p->ours += "%2";
            p->python += "\\1";
            return;
        }
        SingleClass(p);
    }

    void Close(PatternPair* p) {
        if (p->ours.back() == '(') SingleClass(p);
        p->ours += ")";
        p->python += ")";
        --open_;
        ++closed_;
    }

    void SingleClass(PatternPair* p) {
        static const char* const kOurs[] = {"a", "b", "1", ".", "%d", "%s", "%a", " "};
        static const char* const kPython[] = {
            "a", "b", "1", ".", "[0-9]", "[\\t\\n\\v\\f\\r ]", "[A-Za-z]", " "};
        const int k = Pick(10);
        if (k < 8) {
            p->ours += kOurs[k];
            p->python += kPython[k];
        } else {
            std::string set = k == 8 ? "[" : "[^";
            for (int n = 1 + Pick(3); n > 0; --n)
                set += Pick(3) == 0 ? "a-c" : std::string(1, "ab1 A"[Pick(5)]);
            set += "]";
            p->ours += set;
            p->python += set;
        }
        static const char* const kRepeats[] = {"", "", "*", "+", "?", "-"};
        static const char* const kPythonRepeats[] = {"", "", "*", "+", "?", "*?"};
        const int r = Pick(6);
        p->ours += kRepeats[r];
        p->python += kPythonRepeats[r];
    }

    std::mt19937 random_{4711};
    int open_ = 0;
    int opened_ = 0;
    int closed_ = 0;
};

std::string Hex(const std::string& s) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

constexpr char kPythonMatcher[] = R"(
import re, sys
for line in sys.stdin.read().split("\n")[:-1]:
    pattern, subject = (bytes.fromhex(x) for x in line.split(" "))
    m = re.search(pattern, subject, re.DOTALL)
    if m is None:
        print("none")
    else:
        print(" ".join([str(m.start() + 1), str(m.end() + 1)] + [g.hex() for g in m.groups()]))
)";

TEST_F(StringLib, PatternsAgreeWithPythonRe) {
    QV_REQUIRE_TOOL("python3");
    PatternGenerator generator;
    std::vector<std::pair<PatternPair, std::string>> cases;
    std::string input;
    for (int i = 0; i < 2400; ++i) {
        PatternPair p = generator.Make();
        std::string subject = generator.Subject();
        input += Hex(p.python) + " " + Hex(subject) + "\n";
        cases.emplace_back(std::move(p), std::move(subject));
    }
    const ToolRun py = RunPython(kPythonMatcher, input);
    ASSERT_EQ(py.status, 0);
    const std::vector<std::string> lines = SplitLines(py.output);
    ASSERT_EQ(lines.size(), cases.size());
    int mismatches = 0;
    int matched = 0;
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& [pattern, subject] = cases[i];
        const std::vector<CallResult> found =
            Iterate("PatternFindStr", {Str(subject), Str(pattern.Wrapped())}, 1);
        std::string ours = "none";
        if (!found.empty()) {
            const CallResult& r = found[0];
            ours = r.code != 0 ? "error " + std::to_string(r.code)
                               : std::to_string(int(r.Number(0))) + " " +
                                     std::to_string(int(r.Number(r.results.size() - 1)));
            for (size_t c = 1; r.code == 0 && c + 1 < r.results.size(); ++c) {
                ours += " " + Hex(r.Text(c));
            }
            ++matched;
        }
        if (ours != lines[i] && ++mismatches <= 20) {
            ADD_FAILURE() << "pattern " << pattern.Wrapped() << " (re " << pattern.python
                          << ") on \"" << subject << "\": " << ours << ", Python " << lines[i];
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(matched, 500);
    EXPECT_LT(matched, 2200);
}

}  // namespace
}  // namespace qv::testing
