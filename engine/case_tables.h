// ISO 8859-1 case tables: "a" to "z" and 0xE0 to 0xFD (except 0xF7, the division sign) map
// to the capitals 0x20 below them and back; every other byte maps to itself. The engine
// lower-cases registered names with them and the run-time compares names through them.
#pragma once

#include <array>
#include <cstdint>

namespace qv {

constexpr bool HasCapital(unsigned c) {
    return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFD && c != 0xF7);
}

constexpr std::array<uint8_t, 256> MakeUpperCaseTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = static_cast<uint8_t>(HasCapital(c) ? c - 0x20 : c);
    return table;
}

constexpr std::array<uint8_t, 256> MakeLowerCaseTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) table[c] = static_cast<uint8_t>(c);
    for (unsigned c = 0; c < 256; ++c) {
        if (HasCapital(c)) table[c - 0x20] = static_cast<uint8_t>(c);
    }
    return table;
}

inline constexpr std::array<uint8_t, 256> kUpperCase = MakeUpperCaseTable();
inline constexpr std::array<uint8_t, 256> kLowerCase = MakeLowerCaseTable();

static_assert(kUpperCase[0xE9] == 0xC9 && kLowerCase[0xC9] == 0xE9);
static_assert(kUpperCase[0xF7] == 0xF7 && kLowerCase[0xD7] == 0xD7);
static_assert(kUpperCase[0xFF] == 0xFF && kLowerCase[0xDF] == 0xDF);

// Lower-cases a NUL-terminated string in place.
inline void LowerCaseInPlace(char* s) {
    for (; *s != '\0'; ++s) *s = static_cast<char>(kLowerCase[static_cast<uint8_t>(*s)]);
}

// Compares through the upper-case table: the difference of the first differing mapped bytes.
inline int CompareIgnoringCase(const char* a, const char* b) {
    if (a == b) return 0;
    const auto* x = reinterpret_cast<const uint8_t*>(a);
    const auto* y = reinterpret_cast<const uint8_t*>(b);
    for (;; ++x, ++y) {
        int d = kUpperCase[*x] - kUpperCase[*y];
        if (d != 0 || *x == 0) return d;
    }
}

}  // namespace qv
