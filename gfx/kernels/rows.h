// Address arithmetic shared by the kernels (offsets in 64 bits: a 32768-pixel square of
// 4-byte pixels exceeds 32-bit byte offsets), and the blend of colour bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qv {

inline uint8_t* PixelAt(void* base, int32_t rowLength, int bytes, int32_t x, int32_t y) {
    return static_cast<uint8_t*>(base) +
           (ptrdiff_t(y) * rowLength + x) * static_cast<ptrdiff_t>(bytes);
}

inline const uint8_t* PixelAt(const void* base, int32_t rowLength, int bytes, int32_t x,
                              int32_t y) {
    return PixelAt(const_cast<void*>(base), rowLength, bytes, x, y);
}

#if defined(QV_BASELINE_KERNELS)
// The kernels built for the baseline runs of the golden tests take the paths of CPUs without
// AVX2. Internal linkage keeps this answer from replacing the real check, or being replaced by
// it, in a program that links both builds' callers.
static inline bool HasAvx2() {
    return false;
}

static inline bool HasAvx2Fma() {
    return false;
}
#elif defined(__x86_64__)
inline bool HasAvx2() {
    static const bool avx2 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0);
    return avx2;
}

inline bool HasAvx2Fma() {
    static const bool has =
        (__builtin_cpu_init(), __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"));
    return has;
}
#endif

// width 32-bit pixels from row set to value, in aligned wide stores where the CPU has AVX2.
void FillRow32(uint32_t* row, int32_t width, uint32_t value);

// bytes from source into first and into second in one pass over the source: what two memcpys
// do, with the source read once. None of the three may overlap another.
void CopyRowTwice(const uint8_t* source, uint8_t* first, uint8_t* second, size_t bytes);

inline const uint8_t* PlaneRow(const uint8_t* plane, int32_t bytesPerRow, int32_t y) {
    return plane + ptrdiff_t(y) * bytesPerRow;
}

// Short rows of a large bitmap each start a cache line far from the last, and the hardware
// fetches them only when asked: a row loop asks for the row this many ahead, when its rows
// are no longer than kPrefetchRowBytes (longer ones stream on their own).
constexpr int32_t kPrefetchAhead = 8;
constexpr size_t kPrefetchRowBytes = 256;

// Asks for the cache lines of bytes from p: to be read, or (write) to be written.
template <bool write>
inline void PrefetchRow(const uint8_t* p, size_t bytes) {
    for (size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(p + offset, write);
    __builtin_prefetch(p + bytes - 1, write);
}

// Before row j of a block's row loop: asks for the source and destination rows kPrefetchAhead
// below, when the block's rows are short. Blocks name their fields alike.
template <typename Block>
inline void PrefetchBlockRows(const Block& k, int bytesPerPixel, int32_t j) {
    const size_t bytes = size_t(k.width) * size_t(bytesPerPixel);
    if (bytes > kPrefetchRowBytes) return;
    // The first row asks for every row up to the distance, later ones for one row each.
    const int32_t last = std::min(j + kPrefetchAhead, k.height - 1);
    for (int32_t ahead = j == 0 ? 1 : j + kPrefetchAhead; ahead <= last; ++ahead) {
        PrefetchRow<false>(
            PixelAt(k.sourceBase, k.sourceRowLength, bytesPerPixel, k.sourceX, k.sourceY + ahead),
            bytes);
        PrefetchRow<true>(
            PixelAt(k.destBase, k.destRowLength, bytesPerPixel, k.destX, k.destY + ahead), bytes);
    }
}

// The four 8-byte words from p, read one by one (read as an array they go through the stack).
struct Words32 {
    explicit Words32(const uint8_t* p) {
        std::memcpy(&a, p, 8), std::memcpy(&b, p + 8, 8);
        std::memcpy(&c, p + 16, 8), std::memcpy(&d, p + 24, 8);
    }
    uint64_t a, b, c, d;
};

// Whether the 32 bytes from p are all 0 (all 255): long empty (solid) stretches of coverage
// and alpha rows are passed over this many at a time.
inline bool AllZero32(const uint8_t* p) {
    const Words32 w(p);
    return (w.a | w.b | w.c | w.d) == 0;
}

inline bool AllOpaque32(const uint8_t* p) {
    const Words32 w(p);
    return (w.a & w.b & w.c & w.d) == ~uint64_t(0);
}

inline bool MaskBit(const uint8_t* row, int32_t x) {
    return (row[x >> 3] & (0x80 >> (x & 7))) != 0;
}

inline void SetMaskBit(uint8_t* row, int32_t x, bool on) {
    auto bit = uint8_t(0x80 >> (x & 7));
    row[x >> 3] = on ? uint8_t(row[x >> 3] | bit) : uint8_t(row[x >> 3] & ~bit);
}

// A layer of alpha a laid over an image's alpha byte in straight (not premultiplied) colour:
// the combined alpha goes into the byte, and the layer's colour goes over the pixel by its
// share of it (returned).
inline uint8_t OverAlpha(uint8_t& byte, uint32_t a) {
    if (byte == 0) {
        byte = uint8_t(a);
        return a != 0 ? 255 : 0;
    }
    if (byte == 255) return uint8_t(a);
    const uint32_t combined = a + (byte * (255 - a) + 127) / 255;
    byte = uint8_t(combined);
    return uint8_t((a * 255 + combined / 2) / combined);
}

// d + ((s - d) x a >> 8) on each byte of two 0x00XXXXXX words, a from 0 to 256. With an
// arithmetic shift this equals (d x (256 - a) + s x a) >> 8, whose per-channel sums stay below
// 65536, so two channels share one 32-bit multiply without carrying into each other.
constexpr uint32_t MixBytes(uint32_t s, uint32_t d, uint32_t a) {
    uint32_t na = 256 - a;
    uint32_t redBlue = (((s & 0xFF00FF) * a + (d & 0xFF00FF) * na) >> 8) & 0xFF00FF;
    uint32_t green = (((s & 0x00FF00) * a + (d & 0x00FF00) * na) >> 8) & 0x00FF00;
    return redBlue | green;
}
static_assert(MixBytes(0xFFFFFF, 0, 128) == 0x7F7F7F && MixBytes(0, 0xFFFFFF, 128) == 0x7F7F7F);

}  // namespace qv
