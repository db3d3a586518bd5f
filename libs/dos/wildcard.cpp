#include "libs/dos/wildcard.h"

#include <cstddef>

namespace qv {
namespace {

// The class that starts at pattern[at] == '['. Returns the index after its "]", or 0 when
// it is not closed; *matches tells whether c is a member.
size_t MatchClass(std::string_view pattern, size_t at, unsigned char c, bool* matches) {
    size_t i = at + 1;
    bool negated = i < pattern.size() && pattern[i] == '!';
    if (negated) ++i;
    size_t first = i;
    bool member = false;
    for (; i < pattern.size(); ++i) {
        auto p = static_cast<unsigned char>(pattern[i]);
        if (p == ']' && i != first) {
            *matches = member != negated;
            return i + 1;
        }
        bool range = i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']' &&
                     p < static_cast<unsigned char>(pattern[i + 2]);
        if (range) {
            member = member || (c >= p && c <= static_cast<unsigned char>(pattern[i + 2]));
            i += 2;
        } else {
            member = member || c == p;
        }
    }
    return 0;
}

// Whether the single-character item at pattern[*at] matches c; advances *at past it.
bool MatchOne(std::string_view pattern, size_t* at, unsigned char c) {
    char p = pattern[*at];
    if (p == '[') {
        bool matches = false;
        if (size_t end = MatchClass(pattern, *at, c, &matches)) {
            *at = end;
            return matches;
        }
    }
    ++*at;
    if (p == '?') return true;
    if (p == '#') return c >= '0' && c <= '9';
    return static_cast<unsigned char>(p) == c;
}

}  // namespace

// Every item but "*" takes exactly one character, so one backtracking point (the latest
// "*") is enough: trying its runs from the shortest upward finds a match when there is one.
int WildcardMatch(std::string_view pattern, std::string_view string) {
    size_t p = 0, s = 0;
    size_t starP = std::string_view::npos, starS = 0;
    while (s < string.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starS = s;
            continue;
        }
        size_t next = p;
        if (p < pattern.size() && MatchOne(pattern, &next, static_cast<unsigned char>(string[s]))) {
            p = next;
            ++s;
            continue;
        }
        if (starP == std::string_view::npos) return 0;
        p = starP;
        s = ++starS;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size() ? 1 : 0;
}

int MatchPatternList(std::string_view list, std::string_view string) {
    bool first = true;
    for (;;) {
        size_t end = list.find(';');
        std::string_view pattern = list.substr(0, end);
        if (!(first && pattern.empty()) && WildcardMatch(pattern, string)) return 1;
        if (end == std::string_view::npos) return 0;
        list.remove_prefix(end + 1);
        first = false;
    }
}

}  // namespace qv
