#include "scene/events/rect_scan.h"

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>

#include "gfx/kernels/rows.h"
#endif

namespace qv::events {
namespace {

bool Holds(const RectColumns& r, size_t i, int32_t x, int32_t y) {
    return (r.x1[i] <= x) & (x <= r.x2[i]) & (r.y1[i] <= y) & (y <= r.y2[i]);
}

}  // namespace

size_t FirstRectHoldingPortable(const RectColumns& rects, size_t start, int32_t x, int32_t y) {
    constexpr size_t kStep = 16;
    size_t i = start;
    for (; i + kStep <= rects.count; i += kStep) {
        // A fixed count of branch-free tests, which the compiler turns into vector compares.
        uint8_t hits[kStep];
        for (size_t k = 0; k < kStep; ++k) hits[k] = Holds(rects, i + k, x, y);
        uint64_t low, high;
        std::memcpy(&low, hits, 8), std::memcpy(&high, hits + 8, 8);
        if ((low | high) == 0) continue;
        for (size_t k = 0; k < kStep; ++k) {
            if (hits[k] != 0) return i + k;
        }
    }
    for (; i < rects.count; ++i) {
        if (Holds(rects, i, x, y)) return i;
    }
    return rects.count;
}

#if defined(__x86_64__)
namespace {

__attribute__((target("avx2"))) inline __m256i Load(const int32_t* column, size_t i) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(column + i));
}

// A bit per rectangle of the eight from i that lies wholly left, right, above or below.
__attribute__((target("avx2"))) inline uint32_t OutsideMask(const RectColumns& r, size_t i,
                                                            __m256i x, __m256i y) {
    const __m256i across =
        _mm256_or_si256(_mm256_cmpgt_epi32(Load(r.x1, i), x), _mm256_cmpgt_epi32(x, Load(r.x2, i)));
    const __m256i down =
        _mm256_or_si256(_mm256_cmpgt_epi32(Load(r.y1, i), y), _mm256_cmpgt_epi32(y, Load(r.y2, i)));
    return uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(across, down))));
}

}  // namespace

__attribute__((target("avx2"))) size_t FirstRectHoldingAvx2(const RectColumns& rects, size_t start,
                                                            int32_t x, int32_t y) {
    const __m256i vx = _mm256_set1_epi32(x), vy = _mm256_set1_epi32(y);
    size_t i = start;
    for (; i + 16 <= rects.count; i += 16) {
        const uint32_t first = OutsideMask(rects, i, vx, vy);
        const uint32_t second = OutsideMask(rects, i + 8, vx, vy);
        const uint32_t outside = first | second << 8;
        if (outside != 0xFFFF) return i + size_t(__builtin_ctz(~outside));
    }
    for (; i < rects.count; ++i) {
        if (Holds(rects, i, x, y)) return i;
    }
    return rects.count;
}
#endif

size_t FirstRectHolding(const RectColumns& rects, size_t start, int32_t x, int32_t y) {
#if defined(__x86_64__)
    if (HasAvx2()) return FirstRectHoldingAvx2(rects, start, x, y);
#endif
    return FirstRectHoldingPortable(rects, start, x, y);
}

}  // namespace qv::events
