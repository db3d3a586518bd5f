// Address arithmetic shared by the kernels (offsets in 64 bits: a 32768-pixel square of
// 4-byte pixels exceeds 32-bit byte offsets).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qv {

inline uint8_t* PixelAt(void* base, int32_t rowLength, int bytes, int32_t x, int32_t y) {
    return static_cast<uint8_t*>(base) +
           (ptrdiff_t(y) * rowLength + x) * static_cast<ptrdiff_t>(bytes);
}

inline const uint8_t* PixelAt(const void* base, int32_t rowLength, int bytes, int32_t x,
                              int32_t y) {
    return PixelAt(const_cast<void*>(base), rowLength, bytes, x, y);
}

inline const uint8_t* PlaneRow(const uint8_t* plane, int32_t bytesPerRow, int32_t y) {
    return plane + ptrdiff_t(y) * bytesPerRow;
}

inline bool MaskBit(const uint8_t* row, int32_t x) {
    return (row[x >> 3] & (0x80 >> (x & 7))) != 0;
}

inline void SetMaskBit(uint8_t* row, int32_t x, bool on) {
    auto bit = uint8_t(0x80 >> (x & 7));
    row[x >> 3] = on ? uint8_t(row[x >> 3] | bit) : uint8_t(row[x >> 3] & ~bit);
}

}  // namespace qv
