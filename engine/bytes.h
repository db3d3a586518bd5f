// In-line copies and comparisons of the few bytes that most strings hold: for a name or a
// number, a call of the library's memcpy or memcmp costs more than the work itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv {

// Two overlapping words of type Word cover every length from sizeof(Word) to twice that;
// fixed-size memcpy compiles to plain loads and stores.
template <typename Word>
inline void CopyEnds(char* to, const char* from, size_t n) {
    Word head, tail;
    std::memcpy(&head, from, sizeof(Word));
    std::memcpy(&tail, from + n - sizeof(Word), sizeof(Word));
    std::memcpy(to, &head, sizeof(Word));
    std::memcpy(to + n - sizeof(Word), &tail, sizeof(Word));
}

template <typename Word>
inline bool EqualEnds(const char* a, const char* b, size_t n) {
    Word a0, a1, b0, b1;
    std::memcpy(&a0, a, sizeof(Word));
    std::memcpy(&b0, b, sizeof(Word));
    std::memcpy(&a1, a + n - sizeof(Word), sizeof(Word));
    std::memcpy(&b1, b + n - sizeof(Word), sizeof(Word));
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// Copies n bytes between blocks that do not overlap; from may be null when n is 0.
inline void CopyBytes(char* to, const char* from, size_t n) {
    if (n >= 8 && n <= 16) {
        CopyEnds<uint64_t>(to, from, n);
    } else if (n >= 4 && n < 8) {
        CopyEnds<uint32_t>(to, from, n);
    } else if (n > 0 && n < 4) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    } else if (n > 16) {
        std::memcpy(to, from, n);
    }
}

// Whether n bytes at a and at b are equal; in line for the short strings that most are.
inline bool EqualBytes(const char* a, const char* b, size_t n) {
    if (n >= 8 && n <= 16) return EqualEnds<uint64_t>(a, b, n);
    if (n >= 4 && n < 8) return EqualEnds<uint32_t>(a, b, n);
    if (n < 4) return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
    return std::memcmp(a, b, n) == 0;
}

}  // namespace qv
