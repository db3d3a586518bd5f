// Integers stored big-endian, the byte order of the original system's files and records.
#pragma once

#include <cstdint>

namespace qv {

// The n-byte (1 to 8) big-endian integer at bytes.
inline uint64_t LoadBigEndian(const uint8_t* bytes, int n) {
    uint64_t value = 0;
    for (int i = 0; i < n; ++i) value = value << 8 | bytes[i];
    return value;
}

inline uint32_t LoadBigEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(LoadBigEndian(bytes, 4));
}

// The low n bytes (1 to 8) of value, big-endian, into out.
inline void StoreBigEndian(uint64_t value, uint8_t* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(value >> (8 * (n - 1 - i)));
}

}  // namespace qv
