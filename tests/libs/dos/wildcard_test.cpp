// Wildcards: the documented cases, pattern lists, and agreement with the C library's fnmatch
// on random patterns.
#include <fnmatch.h>

#include <random>
#include <string>

#include "libs/dos/wildcard.h"
#include "tests/libs/dos/dos_test_support.h"

namespace qv::testing {
namespace {

TEST(Wildcard, DocumentedCases) {
    struct Case {
        const char* string;
        const char* pattern;
        int expected;
    } cases[] = {
        {"file.txt", "*.txt", 1},
        {"file.TXT", "*.txt", 0},
        {"a1", "a#", 1},
        {"ab", "a[!a-c]", 0},
        {"ad", "a[!a-c]", 1},
        {"a]", "a[]]", 1},
        {"", "*", 1},
        {"", "**", 1},
        {"", "?", 0},
        {"", "", 1},
        {"x", "", 0},
        {"ab1", "*#", 1},
        {"abc", "a*?", 1},
        {"a", "a*?", 0},
        {"a-", "a[a-]", 1},
        {"b", "[c-a]", 0},
        {"-", "[c-a]", 1},
        {"[ab", "[ab", 1},
        {"a", "[ab", 0},
        {"x[", "*[", 1},
        {"aXbXc", "a*b*c", 1},
        {"abcabd", "*abd", 1},
        {"\xE9", "?", 1},
        {"\xE9", "[\xE0-\xEF]", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WildcardMatch(c.pattern, c.string), c.expected)
            << "'" << c.string << "' against '" << c.pattern << "'";
    }
}

TEST(Wildcard, PatternLists) {
    struct Case {
        const char* string;
        const char* list;
        int expected;
    } cases[] = {
        {"x.info", "*.txt;*.info", 1},
        {"x.info", "*.txt;*.inf", 0},
        {"", "", 0},  // an empty first pattern matches nothing
        {"a", ";a", 1},
        {"", "a;", 1},
        {"b", "a;;b", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatchPatternList(c.list, c.string), c.expected) << c.string << " / " << c.list;
    }
    // No length limit: the pattern that matches stands beyond any fixed buffer.
    std::string list;
    for (int i = 0; i < 500; ++i) list += "nomatch" + std::to_string(i) + ";";
    EXPECT_EQ(MatchPatternList(list + "*.dat", "x.dat"), 1);
}

// fnmatch (without escapes) is the reference, with "#" written as [0-9] (outside classes:
// patterns with a "#" after an opening "[" are left out). Also left out: ranges whose ends are
// equal or descending, which ours reads as plain members and fnmatch as ranges.
bool HasUnorderedRange(const std::string& p) {
    for (size_t i = 1; i + 1 < p.size(); ++i) {
        if (p[i] == '-' && p[i + 1] != ']' && p[i - 1] != '[' &&
            static_cast<unsigned char>(p[i - 1]) >= static_cast<unsigned char>(p[i + 1]))
            return true;
    }
    return false;
}

TEST(Wildcard, AgreesWithFnmatch) {
    const char* pieces[] = {"a", "b", "-", "]", "*", "?", "[ab]", "[!a]", "[a-c]", "[", "#"};
    const char* letters[] = {"a", "b", "c", "-", "]", "[", "1", "x"};
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> patternLength(0, 6), stringLength(0, 6);
    std::uniform_int_distribution<size_t> piece(0, std::size(pieces) - 1),
        letter(0, std::size(letters) - 1);
    int matches = 0, compared = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string ours, theirs, string;
        bool bracket = false, digitAfterBracket = false;
        for (int n = patternLength(rng); n > 0; --n) {
            std::string p = pieces[piece(rng)];
            ours += p;
            theirs += p == "#" ? "[0-9]" : p;
            digitAfterBracket = digitAfterBracket || (bracket && p == "#");
            bracket = bracket || p == "[";
        }
        // A "#" inside a class is a plain member, where the translation would not be.
        if (HasUnorderedRange(ours) || digitAfterBracket) continue;
        for (int n = stringLength(rng); n > 0; --n) string += letters[letter(rng)];
        int expected = fnmatch(theirs.c_str(), string.c_str(), FNM_NOESCAPE) == 0 ? 1 : 0;
        ASSERT_EQ(WildcardMatch(ours, string), expected) << "'" << string << "' / '" << ours << "'";
        matches += expected;
        ++compared;
    }
    EXPECT_GT(compared, 5000);
    EXPECT_GT(matches, 1000);  // the random pairs do match often enough to mean something
}

using MatchPatternCommand = DosLib;

TEST_F(MatchPatternCommand, ReachesTheMatcherWithWholeStrings) {
    EXPECT_EQ(Call("MatchPattern", {Str("file.txt"), Str("*.txt")}).Number(), 1);
    EXPECT_EQ(Call("MatchPattern", {Str(std::string("a\0b", 3)), Str("a?b")}).Number(), 1);
    EXPECT_EQ(Call("MatchPattern", {Str("x")}).code, ERR_MISSINGPARAMTR);
}

}  // namespace
}  // namespace qv::testing
