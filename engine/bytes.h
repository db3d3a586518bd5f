// In-line copies of the few bytes that most strings hold: for a name or a number, a call of
// the library's memcpy costs more than the copy itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv {

// Copies n bytes between blocks that do not overlap; from may be null when n is 0.
inline void CopyBytes(char* to, const char* from, size_t n) {
    // Two overlapping words cover every length of a range; fixed-size memcpy compiles to
    // plain loads and stores.
    if (n >= 8 && n <= 16) {
        uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(to, &head, 8);
        std::memcpy(to + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(to, &head, 4);
        std::memcpy(to + n - 4, &tail, 4);
    } else if (n > 0 && n < 4) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    } else if (n > 16) {
        std::memcpy(to, from, n);
    }
}

}  // namespace qv
