// Wildcard patterns come from scripts: any pattern list and name must match or not, without
// reading outside either. Input: the pattern list, a zero byte, the name. Short inputs are
// also checked against a plain recursive matcher of the same rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "libs/dos/wildcard.h"

namespace {

// The end of the class at p[0] == '[' (the index after its "]"), or 0 when it is unclosed.
size_t ClassEnd(std::string_view p) {
    size_t i = 1;
    if (i < p.size() && p[i] == '!') ++i;
    for (size_t first = i; i < p.size(); ++i) {
        if (p[i] == ']' && i != first) return i + 1;
    }
    return 0;
}

bool InClass(std::string_view body, unsigned char c) {
    bool negated = !body.empty() && body[0] == '!';
    if (negated) body.remove_prefix(1);
    bool member = false;
    for (size_t i = 0; i < body.size(); ++i) {
        auto lo = static_cast<unsigned char>(body[i]);
        if (i + 2 < body.size() && body[i + 1] == '-' &&
            lo < static_cast<unsigned char>(body[i + 2])) {
            member |= c >= lo && c <= static_cast<unsigned char>(body[i + 2]);
            i += 2;
        } else {
            member |= c == lo;
        }
    }
    return member != negated;
}

bool Reference(std::string_view p, std::string_view s) {
    if (p.empty()) return s.empty();
    if (p[0] == '*') {
        for (size_t k = 0; k <= s.size(); ++k) {
            if (Reference(p.substr(1), s.substr(k))) return true;
        }
        return false;
    }
    if (s.empty()) return false;
    auto c = static_cast<unsigned char>(s[0]);
    size_t used = 1;
    bool one;
    if (p[0] == '?') {
        one = true;
    } else if (p[0] == '#') {
        one = c >= '0' && c <= '9';
    } else if (p[0] == '[' && ClassEnd(p) != 0) {
        used = ClassEnd(p);
        one = InClass(p.substr(1, used - 2), c);
    } else {
        one = static_cast<unsigned char>(p[0]) == c;
    }
    return one && Reference(p.substr(used), s.substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t zero = input.find('\0');
    std::string_view list = input.substr(0, zero);
    std::string_view name = zero == std::string_view::npos ? "" : input.substr(zero + 1);
    int matched = qv::MatchPatternList(list, name);
    int single = qv::WildcardMatch(list, name);
    // The recursion is exponential in the stars; it checks the short inputs only.
    if (list.size() <= 12 && name.size() <= 12 && single != (Reference(list, name) ? 1 : 0)) {
        std::abort();
    }
    if (list.find(';') == std::string_view::npos && !list.empty() && matched != single) {
        std::abort();
    }
    return 0;
}
