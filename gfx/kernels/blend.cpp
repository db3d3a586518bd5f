// Alpha blending, coverage painting and the masked and alpha-gated copies, per depth.
#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/frontend_kernels.h"
#include "gfx/kernels/rows.h"
#include "gfx/kernels/template_clones.h"

namespace qv {
namespace {

// Blending blends the colour bytes of two pixel values of a format. Every channel blends
// alike, so 32-bit pixels blend in place (the alpha byte of the result is 0, as after a
// round trip through qvARGB) and 3-byte pixels in their byte order; 16-bit channels are
// widened as read (low bits 0) and keep their top bits.
template <typename F>
constexpr uint32_t Blend(uint32_t s, uint32_t d, uint32_t a) {
    if constexpr (F::bytes == 2) {
        return F::Pack(MixBytes(F::Unpack(s), F::Unpack(d), a));
    } else if constexpr (F::bytes == 3) {
        return MixBytes(s, d, a);
    } else if constexpr (F::alphaMask == 0xFF) {
        return MixBytes(s >> 8, d >> 8, a) << 8;
    } else {
        return MixBytes(s & 0xFFFFFF, d & 0xFFFFFF, a);
    }
}

// Splits a row of alpha (or coverage) bytes into groups of eight. Transparent groups are
// skipped and runs of opaque ones go to opaque(i, n), so that the empty and solid runs of
// sprites, glyphs and shapes cost one test a group and one call a run; the other groups and
// the tail gather into spans for mixed(i, n).
template <typename Opaque, typename Mixed>
void ScanAlpha(const uint8_t* alpha, int32_t width, Opaque&& opaque, Mixed&& mixed) {
    int32_t pending = 0;  // the first pixel not handed out
    int32_t solid = -1;   // the first pixel of the opaque run that ends at pending
    auto flush = [&](int32_t end) {
        if (solid >= 0) opaque(solid, pending - solid), solid = -1;
        if (end > pending) mixed(pending, end - pending);
    };
    for (int32_t i = 0; i + 8 <= width; i += 8) {
        uint64_t group;
        std::memcpy(&group, alpha + i, 8);
        if (group != 0 && group != ~uint64_t(0)) continue;
        const bool extends = group != 0 && solid >= 0 && pending == i;
        if (!extends) {
            flush(i);
            if (group != 0) solid = i;
        }
        pending = i + 8;
        // Long transparent stretches (a shape's box around a thin line) and long opaque ones
        // (the inside of a shape): 32 bytes a test.
        if (group == 0) {
            while (pending + 32 <= width && AllZero32(alpha + pending)) pending += 32;
        } else {
            while (pending + 32 <= width && AllOpaque32(alpha + pending)) pending += 32;
        }
        i = pending - 8;
    }
    flush(width);
}

// 32-bit spans in plain loops that GCC vectorises (AVX2 where the CPU has it). The colour
// bytes sit above the alpha byte (shift 8) or below it (shift 0).
QV_CLONES("avx2", "default")
void AlphaSpan32(const uint32_t* s, uint32_t* d, const uint8_t* alpha, int32_t n, int shift) {
    for (int32_t i = 0; i < n; ++i) {
        uint32_t a = alpha[i];
        uint32_t mixed = MixBytes((s[i] >> shift) & 0xFFFFFF, (d[i] >> shift) & 0xFFFFFF, a)
                         << shift;
        d[i] = a == 255 ? s[i] : a == 0 ? d[i] : mixed;
    }
}

QV_CLONES("avx2", "default")
void PaintSpan32(uint32_t* d, const uint8_t* coverage, int32_t n, uint32_t colour, int shift) {
    const uint32_t bytes = (colour >> shift) & 0xFFFFFF;
    for (int32_t i = 0; i < n; ++i) {
        uint32_t c = coverage[i];
        uint32_t mixed = MixBytes(bytes, (d[i] >> shift) & 0xFFFFFF, c) << shift;
        d[i] = c == 255 ? colour : c == 0 ? d[i] : mixed;
    }
}

// How many rows ahead AlphaRows asks for the destination.
constexpr int32_t kRowsAhead = 4;

// Asks for the ends of the bytes [first, end) of a destination row further down. The rows of
// a shape's box lie a frame's row apart, beyond what the hardware follows, and a line's or an
// edge's next spans lie nearly under this row's: fetched early, their misses overlap. The
// hardware streams the middle of a long run once it is entered.
inline void PrefetchSpan(const uint8_t* row, ptrdiff_t first, ptrdiff_t end) {
    __builtin_prefetch(row + first, 1);
    __builtin_prefetch(row + end - 1, 1);
}

#if defined(__x86_64__)
#define QV_AVX2 __attribute__((target("avx2")))

// Glyph-sized blocks of coverage painting: their rows are too short for the vectorised spans
// (a glyph row is a span or two of a few pixels), so they go eight pixels a step with the
// colour prepared once; the wide rows of shapes blend their edge steps alike. Each channel
// is (s x c + d x (256 - c)) >> 8 in a 16-bit lane, the sum Mix forms (at most 255 x 256),
// so the pixels are the same.
struct NarrowPaint {
    __m256i colour;     // the pixel where coverage is full
    __m256i evenBytes;  // colour bytes 0 and 2 (after the shift), one per 16-bit lane
    __m256i oddByte;    // colour byte 1
};

template <int Shift>
QV_AVX2 NarrowPaint PrepareNarrowPaint(uint32_t colour) {
    const uint32_t bytes = (colour >> Shift) & 0xFFFFFF;
    return {_mm256_set1_epi32(int32_t(colour)), _mm256_set1_epi32(int32_t(bytes & 0xFF00FF)),
            _mm256_set1_epi32(int32_t(bytes >> 8 & 0xFF))};
}

// (s x c + d x rest) >> 8 in each 16-bit lane.
QV_AVX2 inline __m256i MixLanes(__m256i s, __m256i d, __m256i c, __m256i rest) {
    return _mm256_srli_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(s, c), _mm256_mullo_epi16(d, rest)), 8);
}

// Eight bytes (byte i for pixel i) in both 16-bit halves of their pixel's lane.
QV_AVX2 inline __m256i SpreadEight(uint64_t bytes) {
    return _mm256_shuffle_epi8(
        _mm256_set1_epi64x(int64_t(bytes)),
        _mm256_setr_epi8(0, -1, 0, -1, 1, -1, 1, -1, 2, -1, 2, -1, 3, -1, 3, -1, 4, -1, 4, -1, 5,
                         -1, 5, -1, 6, -1, 6, -1, 7, -1, 7, -1));
}

// The colour bytes of eight pixels d mixed with a source's by the spread weights c, in place
// (the alpha byte 0): the source's bytes 0 and 2 (after the shift) one per 16-bit lane in
// evenBytes, its byte 1 in oddByte.
template <int Shift>
QV_AVX2 inline __m256i MixEight(__m256i evenBytes, __m256i oddByte, __m256i d, __m256i c) {
    const __m256i rest = _mm256_sub_epi16(_mm256_set1_epi16(256), c);
    const __m256i bytes = _mm256_srli_epi32(d, Shift);
    const __m256i even =
        MixLanes(evenBytes, _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF00FF)), c, rest);
    const __m256i odd = MixLanes(
        oddByte, _mm256_and_si256(_mm256_srli_epi32(bytes, 8), _mm256_set1_epi32(0xFF)), c, rest);
    return _mm256_slli_epi32(_mm256_or_si256(even, _mm256_slli_epi32(odd, 8)), Shift);
}

// Eight pixels: d where the spread weights c are 0, full where they are full, mixed between.
QV_AVX2 inline __m256i SelectEight(__m256i mixed, __m256i full, __m256i d, __m256i c) {
    const __m256i none = _mm256_cmpeq_epi32(c, _mm256_setzero_si256());
    const __m256i whole = _mm256_cmpeq_epi32(c, _mm256_set1_epi32(0xFF00FF));
    return _mm256_blendv_epi8(_mm256_blendv_epi8(mixed, d, none), full, whole);
}

// Eight pixels by eight coverage bytes (byte i for pixel i).
template <int Shift>
QV_AVX2 inline __m256i PaintEight(__m256i d, uint64_t coverage, const NarrowPaint& p) {
    const __m256i c = SpreadEight(coverage);
    return SelectEight(MixEight<Shift>(p.evenBytes, p.oddByte, d, c), p.colour, d, c);
}

// Eight source pixels over eight destination pixels by eight alpha bytes, as AlphaPixel.
template <int Shift>
QV_AVX2 inline __m256i AlphaEight(__m256i s, __m256i d, uint64_t alpha) {
    const __m256i c = SpreadEight(alpha);
    const __m256i bytes = _mm256_srli_epi32(s, Shift);
    const __m256i even = _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF00FF));
    const __m256i odd = _mm256_and_si256(_mm256_srli_epi32(bytes, 8), _mm256_set1_epi32(0xFF));
    return SelectEight(MixEight<Shift>(even, odd, d, c), s, d, c);
}

QV_AVX2 inline __m256i LoadEight(const uint32_t* d) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
}

QV_AVX2 inline void StoreEight(uint32_t* d, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v);
}

template <int K>
QV_AVX2 inline __m128i LoadPiece(const uint32_t* d) {
    if constexpr (K == 4) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    if constexpr (K == 2) return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d));
    return _mm_cvtsi32_si128(int32_t(*d));
}

template <int K>
QV_AVX2 inline void StorePiece(uint32_t* d, __m128i v) {
    if constexpr (K == 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
    if constexpr (K == 2) _mm_storel_epi64(reinterpret_cast<__m128i*>(d), v);
    if constexpr (K == 1) *d = uint32_t(_mm_cvtsi128_si32(v));
}

template <int K>
inline uint64_t LoadCoverage(const uint8_t* coverage) {
    uint32_t bytes = 0;
    std::memcpy(&bytes, coverage, K);
    return bytes;
}

// A row of 8 pixels or more: steps of eight, the last one ending at the row's end. It is
// painted before any other is stored, so that where it overlaps the step before it both
// paint the same pixels alike.
template <int Shift>
QV_AVX2 inline void PaintLongRow(uint32_t* d, const uint8_t* coverage, int32_t width,
                                 const NarrowPaint& p) {
    const int32_t last = width - 8;
    uint64_t cover;
    std::memcpy(&cover, coverage + last, 8);
    const __m256i tail = PaintEight<Shift>(LoadEight(d + last), cover, p);
    for (int32_t i = 0; i < last; i += 8) {
        std::memcpy(&cover, coverage + i, 8);
        StoreEight(d + i, PaintEight<Shift>(LoadEight(d + i), cover, p));
    }
    StoreEight(d + last, tail);
}

// A row of K to 2K - 1 pixels (K of 1, 2, 4) as two pieces of K pixels, at its start and at
// its end, in the two halves of one step; where they overlap they agree.
template <int Shift, int K>
QV_AVX2 inline void PaintShortRow(uint32_t* d, const uint8_t* coverage, int32_t width,
                                  const NarrowPaint& p) {
    const int32_t last = width - K;
    const __m256i pixels = _mm256_setr_m128i(LoadPiece<K>(d), LoadPiece<K>(d + last));
    const uint64_t cover = LoadCoverage<K>(coverage) | LoadCoverage<K>(coverage + last) << 32;
    const __m256i painted = PaintEight<Shift>(pixels, cover, p);
    StorePiece<K>(d + last, _mm256_extracti128_si256(painted, 1));
    StorePiece<K>(d, _mm256_castsi256_si128(painted));
}

// The alpha blit's 32-bit pixels of a row in whole steps of eight: transparent stretches
// passed over, opaque runs copied whole, each step between blended in registers, all in one
// call a row. ahead: as for AlphaRow. Returns how many pixels it did.
template <int Shift>
QV_AVX2 int32_t AlphaSteps(const uint32_t* s, uint32_t* d, const uint8_t* alpha, int32_t width,
                           const uint8_t* ahead) {
    const int32_t steps = width & ~7;
    auto group = [&](int32_t i) {
        uint64_t bytes;
        std::memcpy(&bytes, alpha + i, 8);
        return bytes;
    };
    for (int32_t i = 0; i < steps;) {
        const uint64_t first = group(i);
        if (first == 0) {
            for (i += 8; i + 32 <= steps && AllZero32(alpha + i);) i += 32;
            continue;
        }
        int32_t end = i + 8;
        if (first == ~uint64_t(0)) {
            // Copied as it is found: one pass over the run, no call a run.
            StoreEight(d + i, LoadEight(s + i));
            for (; end + 32 <= steps && AllOpaque32(alpha + end); end += 32) {
                for (int32_t k = 0; k < 32; k += 8) StoreEight(d + end + k, LoadEight(s + end + k));
            }
            for (; end < steps && group(end) == ~uint64_t(0); end += 8) {
                StoreEight(d + end, LoadEight(s + end));
            }
            if (ahead != nullptr) PrefetchSpan(ahead, ptrdiff_t(i) * 4, ptrdiff_t(end) * 4);
        } else {
            if (ahead != nullptr) __builtin_prefetch(ahead + ptrdiff_t(i) * 4, 1);
            StoreEight(d + i, AlphaEight<Shift>(LoadEight(s + i), LoadEight(d + i), first));
        }
        i = end;
    }
    return steps;
}

// A 16-bit pixel's bytes in the order its fields are read (byte-swapped formats swap them).
template <typename F>
QV_AVX2 inline __m256i FieldOrder(__m256i v) {
    if constexpr (!F::swapped) return v;
    return _mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_srli_epi16(v, 8));
}

// One channel of sixteen 16-bit pixels, whose field lies Right bits above (below, if negative)
// its place in a byte, widened (low bits 0) and mixed in its own 16-bit lane, where
// s x a + d x (256 - a) stays below 2^16, then narrowed back to its field.
template <int Right>
QV_AVX2 inline __m256i MixChannel(__m256i s, __m256i d, __m256i a, __m256i rest, __m256i mask) {
    if constexpr (Right > 0) {
        const __m256i c = MixLanes(_mm256_and_si256(_mm256_srli_epi16(s, Right), mask),
                                   _mm256_and_si256(_mm256_srli_epi16(d, Right), mask), a, rest);
        return _mm256_slli_epi16(_mm256_and_si256(c, mask), Right);
    } else {
        const __m256i c = MixLanes(_mm256_and_si256(_mm256_slli_epi16(s, -Right), mask),
                                   _mm256_and_si256(_mm256_slli_epi16(d, -Right), mask), a, rest);
        return _mm256_srli_epi16(c, -Right);
    }
}

// Sixteen 16-bit pixels, as AlphaPixel blends them. Blending treats the channels alike, so
// red and blue need not be told apart.
template <typename F>
QV_AVX2 inline __m256i AlphaSixteen(__m256i s, __m256i d, __m128i alpha) {
    const __m256i a = _mm256_cvtepu8_epi16(alpha);
    const __m256i rest = _mm256_sub_epi16(_mm256_set1_epi16(256), a);
    const __m256i sv = FieldOrder<F>(s), dv = FieldOrder<F>(d);
    const __m256i five = _mm256_set1_epi16(0xF8),
                  middle = _mm256_set1_epi16(F::green6 ? 0xFC : 0xF8);
    const __m256i packed =
        _mm256_or_si256(_mm256_or_si256(MixChannel < F::green6 ? 8 : 7 > (sv, dv, a, rest, five),
                                        MixChannel < F::green6 ? 3 : 2 > (sv, dv, a, rest, middle)),
                        MixChannel<-3>(sv, dv, a, rest, five));
    const __m256i none = _mm256_cmpeq_epi16(a, _mm256_setzero_si256());
    const __m256i whole = _mm256_cmpeq_epi16(a, _mm256_set1_epi16(255));
    return _mm256_blendv_epi8(_mm256_blendv_epi8(FieldOrder<F>(packed), d, none), s, whole);
}

// The 16-bit pixels of a span in whole steps of sixteen; returns how many it did.
template <typename F>
QV_AVX2 int32_t AlphaSpan16(const uint8_t* s, uint8_t* d, const uint8_t* alpha, int32_t n) {
    const int32_t steps = n & ~15;
    for (int32_t i = 0; i < steps; i += 16) {
        auto* to = reinterpret_cast<__m256i*>(d + i * 2);
        const __m256i from = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i * 2));
        const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha + i));
        _mm256_storeu_si256(to, AlphaSixteen<F>(from, _mm256_loadu_si256(to), weights));
    }
    return steps;
}

// A wide row of 8 pixels or more in steps of eight: blank stretches passed over, covered runs
// written whole, each step between (a shape's edge) painted in registers, all in one call a
// row. The last step, ending at the row's end, is painted first from the pixels as they were,
// as in PaintLongRow, so that every pixel gets the same value whichever step writes it.
template <int Shift>
QV_AVX2 void PaintWideRow(uint32_t* d, const uint8_t* coverage, int32_t width,
                          const NarrowPaint& p) {
    auto group = [&](int32_t i) {
        uint64_t bytes;
        std::memcpy(&bytes, coverage + i, 8);
        return bytes;
    };
    const int32_t last = width - 8;
    const __m256i tail = PaintEight<Shift>(LoadEight(d + last), group(last), p);
    for (int32_t i = 0; i < last;) {
        const uint64_t first = group(i);
        if (first == 0) {
            for (i += 8; i + 32 <= width && AllZero32(coverage + i);) i += 32;
            continue;
        }
        if (first != ~uint64_t(0)) {
            StoreEight(d + i, PaintEight<Shift>(LoadEight(d + i), first, p));
            i += 8;
            continue;
        }
        StoreEight(d + i, p.colour);
        for (i += 8; i + 32 <= width && AllOpaque32(coverage + i); i += 32) {
            for (int32_t k = 0; k < 32; k += 8) StoreEight(d + i + k, p.colour);
        }
        for (; i < last && group(i) == ~uint64_t(0); i += 8) StoreEight(d + i, p.colour);
    }
    StoreEight(d + last, tail);
}

// Blocks up to this width (glyphs of text up to some 80 pixels) take the narrow rows, which
// paint every step; wider ones (shapes) the wide rows, which pass over blank and write covered
// runs whole.
constexpr int32_t kNarrowWidth = 64;

template <int Shift>
QV_AVX2 void PaintRows(uint8_t* dest, ptrdiff_t destStride, const uint8_t* coverage,
                       ptrdiff_t coverageStride, int32_t width, int32_t height, uint32_t colour) {
    const NarrowPaint p = PrepareNarrowPaint<Shift>(colour);
    for (int32_t j = 0; j < height; ++j, dest += destStride, coverage += coverageStride) {
        auto* d = reinterpret_cast<uint32_t*>(dest);
        if (width > kNarrowWidth) {
            PaintWideRow<Shift>(d, coverage, width, p);
        } else if (width >= 8) {
            PaintLongRow<Shift>(d, coverage, width, p);
        } else if (width >= 4) {
            PaintShortRow<Shift, 4>(d, coverage, width, p);
        } else if (width >= 2) {
            PaintShortRow<Shift, 2>(d, coverage, width, p);
        } else {
            PaintShortRow<Shift, 1>(d, coverage, width, p);
        }
    }
}
#endif

QV_CLONES("avx2", "default")
void WriteSpan32(uint32_t* d, const uint8_t* coverage, int32_t n, uint32_t colour) {
    for (int32_t i = 0; i < n; ++i) d[i] = coverage[i] != 0 ? colour : d[i];
}

// Modes 2 and 3: coverage c at the opacity composed over a pixel whose second-plane byte is
// p (a text over its own shadow or edge): the alpha becomes a + p (255 - a) / 255, so it never
// drops, and the colour takes the share of it that a brings (255: the colour alone).
struct Over {
    uint32_t alpha, share;
};
__attribute__((always_inline)) inline Over ComposeOver(uint32_t c, uint32_t p, uint32_t opacity) {
    const uint32_t a = c * opacity / 255;
    const uint32_t alpha = a + p * (255 - a) / 255;
    return {alpha, alpha == 0 ? 255 : a * 255 / std::max(alpha, 1u)};
}

// Modes 2 and 3 with the second plane and no texture: ChannelRow's rule for the pixels from i
// to end, written as selects so that the text renderer's spans vectorise.
template <typename Cover>
__attribute__((always_inline)) inline void SecondPixels(uint32_t* d, uint8_t* second,
                                                        const Cover* coverage, int32_t i,
                                                        int32_t end, uint32_t colour,
                                                        uint32_t opacity, int shift) {
    const uint32_t bytes = (colour >> shift) & 0xFFFFFF;
    for (; i < end; ++i) {
        const uint32_t c = coverage[i] & 255, p = second[i];
        const Over over = ComposeOver(c, p, opacity);
        const uint32_t blended = MixBytes(bytes, (d[i] >> shift) & 0xFFFFFF, over.share) << shift;
        d[i] = c == 0 ? d[i] : over.share == 255 ? colour : blended;
        second[i] = uint8_t(c == 0 ? p : over.alpha);
    }
}

// Where the second plane is still blank (a fresh text block) the rule reduces to the colour
// over covered pixels and the coverage scaled by the opacity.
template <typename Cover>
__attribute__((always_inline)) inline void FreshSecondPixels(uint32_t* d, uint8_t* second,
                                                             const Cover* coverage, int32_t i,
                                                             int32_t end, uint32_t colour,
                                                             uint32_t opacity) {
    for (; i < end; ++i) {
        const uint32_t c = coverage[i] & 255;
        d[i] = c == 0 ? d[i] : colour;
        second[i] = uint8_t(c * opacity / 255);
    }
}

// Whether eight entries are all 0 (a 16-bit entry with only its high byte set is not, and so
// goes the general way, which reads its low byte).
template <typename T>
inline bool BlankEight(const T* entries) {
    uint64_t words[sizeof(T)];
    std::memcpy(words, entries, sizeof words);
    uint64_t any = 0;
    for (uint64_t word : words) any |= word;
    return any == 0;
}

// The text renderer's spans: a line's coverage (and its edge's) is blank above and below most
// glyphs, and a pixel without coverage keeps both its bytes, so stretches of blank groups of
// eight are skipped and the rest is painted in one go.
template <typename Cover>
__attribute__((always_inline)) inline void SkippingSpan(uint32_t* d, uint8_t* second,
                                                        const Cover* coverage, int32_t n,
                                                        uint32_t colour, uint32_t opacity,
                                                        int shift) {
    for (int32_t i = 0; i < n;) {
        while (i + 8 <= n && BlankEight(coverage + i)) i += 8;
        int32_t end = i;
        bool fresh = true;
        for (; end + 8 <= n && !BlankEight(coverage + end); end += 8)
            fresh = fresh && BlankEight(second + end);
        if (end > i && fresh) {
            FreshSecondPixels(d, second, coverage, i, end, colour, opacity);
            i = end;
        }
        if (end + 8 > n) end = n;
        SecondPixels(d, second, coverage, i, end, colour, opacity, shift);
        i = end;
    }
}

QV_CLONES("avx2", "default")
void SecondSpan32(uint32_t* d, uint8_t* second, const uint8_t* coverage, int32_t n, uint32_t colour,
                  uint32_t opacity, int shift) {
    SkippingSpan(d, second, coverage, n, colour, opacity, shift);
}

// Mode 3: the coverage is the low byte of the 16-bit buffer (the anti-aliased edge).
QV_CLONES("avx2", "default")
void WideSpan32(uint32_t* d, uint8_t* second, const uint16_t* coverage, int32_t n, uint32_t colour,
                uint32_t opacity, int shift) {
    SkippingSpan(d, second, coverage, n, colour, opacity, shift);
}

template <typename F>
constexpr int ColourShift() {
    return F::alphaMask == 0xFF ? 8 : 0;
}

template <typename F>
inline void AlphaPixel(const uint8_t* s, uint8_t* d, uint32_t a) {
    if (a == 0) return;
    uint32_t v = LoadPixel(s, F::bytes);
    StorePixel(d, F::bytes, a == 255 ? v : Blend<F>(v, LoadPixel(d, F::bytes), a));
}

// One row through its alpha; ahead is the destination row kRowsAhead further down, or none.
// inSteps: 16-bit spans may go sixteen pixels a step (see AlphaInSteps).
template <typename F>
void AlphaRow(const uint8_t* s, uint8_t* d, const uint8_t* alpha, int32_t width,
              const uint8_t* ahead, [[maybe_unused]] bool inSteps) {
    constexpr int B = F::bytes;
    auto prefetch = [&](int32_t i, int32_t n) {
        if (ahead != nullptr) PrefetchSpan(ahead, ptrdiff_t(i) * B, ptrdiff_t(i + n) * B);
    };
    ScanAlpha(
        alpha, width,
        [&](int32_t i, int32_t n) {
            prefetch(i, n);
            std::memmove(d + i * B, s + i * B, size_t(n) * B);
        },
        [&](int32_t i, int32_t n) {
            prefetch(i, n);
            if constexpr (B == 4) {
                AlphaSpan32(reinterpret_cast<const uint32_t*>(s) + i,
                            reinterpret_cast<uint32_t*>(d) + i, alpha + i, n, ColourShift<F>());
            } else {
                int32_t k = i;
#if defined(__x86_64__)
                if constexpr (B == 2) {
                    if (inSteps) k += AlphaSpan16<F>(s + k * B, d + k * B, alpha + k, n);
                }
#endif
                for (; k < i + n; ++k) AlphaPixel<F>(s + k * B, d + k * B, alpha[k]);
            }
        });
}

// Whether the source and destination rows of the block share memory (a bitmap blitted onto
// itself).
template <typename F>
bool SourceMeetsDest(const qvAlphaBitmapBlock& k) {
    const uint8_t* s0 = PixelAt(k.sourceBase, k.sourceRowLength, F::bytes, k.sourceX, k.sourceY);
    const uint8_t* s1 = PixelAt(k.sourceBase, k.sourceRowLength, F::bytes, k.sourceX + k.width,
                                k.sourceY + k.height - 1);
    const uint8_t* d0 = PixelAt(k.destBase, k.destRowLength, F::bytes, k.destX, k.destY);
    const uint8_t* d1 =
        PixelAt(k.destBase, k.destRowLength, F::bytes, k.destX + k.width, k.destY + k.height - 1);
    return s0 < d1 && d0 < s1;
}

// 32-bit rows go in steps of eight and 16-bit spans in steps of sixteen where the CPU has
// AVX2 and the bitmaps lie apart (a bitmap blitted onto itself keeps the general rows' order
// of reads and writes).
template <typename F>
bool AlphaInSteps(const qvAlphaBitmapBlock& k) {
#if defined(__x86_64__)
    return F::bytes != 3 && HasAvx2() && !SourceMeetsDest<F>(k);
#else
    return false;
#endif
}

template <typename F>
void AlphaRows(const qvAlphaBitmapBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    constexpr int B = F::bytes;
    [[maybe_unused]] const bool inSteps = AlphaInSteps<F>(k);
    // Short rows ask for whole rows ahead; longer ones for where their spans start and end.
    const bool shortRows = size_t(k.width) * B <= kPrefetchRowBytes;
    for (int32_t j = 0; j < k.height; ++j) {
        PrefetchBlockRows(k, B, j);
        if (shortRows && j + kPrefetchAhead < k.height) {
            PrefetchRow<false>(
                PlaneRow(k.alphaBase, k.alphaBytesPerRow, k.alphaY + j + kPrefetchAhead) + k.alphaX,
                size_t(k.width));
        }
        const uint8_t* s = PixelAt(k.sourceBase, k.sourceRowLength, B, k.sourceX, k.sourceY + j);
        uint8_t* d = PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j);
        const uint8_t* alpha = PlaneRow(k.alphaBase, k.alphaBytesPerRow, k.alphaY + j) + k.alphaX;
        const uint8_t* ahead = !shortRows && j + kRowsAhead < k.height
                                   ? d + ptrdiff_t(k.destRowLength) * B * kRowsAhead
                                   : nullptr;
#if defined(__x86_64__)
        if (B == 4 && inSteps) {
            const auto steps = ColourShift<F>() == 8 ? AlphaSteps<8> : AlphaSteps<0>;
            int32_t i = steps(reinterpret_cast<const uint32_t*>(s), reinterpret_cast<uint32_t*>(d),
                              alpha, k.width, ahead);
            for (; i < k.width; ++i) AlphaPixel<F>(s + i * B, d + i * B, alpha[i]);
            continue;
        }
#endif
        AlphaRow<F>(s, d, alpha, k.width, ahead, inSteps);
    }
}

// The coverage of one pixel: c = 0 leaves it, full writes the colour, else it blends by c.
struct Coverage {
    uint32_t c;
    bool full;
};

inline Coverage CoverageOf(int32_t mode, uint32_t byte) {
    switch (mode) {
        case QV_COVERAGE_BLEND:
        case QV_COVERAGE_SECOND:
        case QV_COVERAGE_WIDE:
            return {byte, byte == 255};
        case QV_COVERAGE_SCALE64:
            return byte == 64 ? Coverage{255, true} : Coverage{(byte * 4) & 252, false};
        default:
            return {byte != 0 ? 255u : 0u, byte != 0};
    }
}

template <typename F>
void ChannelRow(const qvAlphaChannelBlock& k, int32_t j, uint32_t colour) {
    constexpr int B = F::bytes;
    const uint8_t* coverage = k.coverageBase != nullptr
                                  ? PlaneRow(k.coverageBase, k.coverageBytesPerRow, k.sourceY + j)
                                  : nullptr;
    const uint16_t* wide = k.mode == QV_COVERAGE_WIDE
                               ? k.modeValue2 + ptrdiff_t(k.sourceY + j) * k.modeValue3
                               : nullptr;
    uint8_t* second =
        (k.mode == QV_COVERAGE_SECOND || k.mode == QV_COVERAGE_WIDE) && k.secondBase != nullptr
            ? k.secondBase + ptrdiff_t(k.destY + j) * k.secondBytesPerRow + k.destX
            : nullptr;
    const uint8_t* texture = k.textureBase != nullptr
                                 ? PixelAt(k.textureBase, k.textureRowLength, B, 0, k.sourceY + j)
                                 : nullptr;
    uint8_t* dest = PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j);
    const uint32_t opacity = k.modeValue1 < 255 ? k.modeValue1 : 255;
    for (int32_t i = 0; i < k.width; ++i) {
        int32_t x = k.sourceX + i;
        Coverage cover = CoverageOf(k.mode, wide != nullptr ? wide[x] & 255u : coverage[x]);
        if (cover.c == 0) continue;
        uint32_t share = cover.full ? 255 : cover.c;
        if (second != nullptr) {
            const Over over = ComposeOver(cover.c, second[i], opacity);
            second[i] = uint8_t(over.alpha);
            share = over.share;
        }
        uint32_t paint = texture != nullptr ? LoadPixel(texture + x * B, B) : colour;
        StorePixel(dest + i * B, B,
                   share == 255 ? paint : Blend<F>(paint, LoadPixel(dest + i * B, B), share));
    }
}

// Pixels i to i + n - 1 of a row set to the colour, in wide stores for 32-bit pixels.
template <int B>
inline void FillPixels(uint8_t* row, int32_t i, int32_t n, uint32_t colour) {
    if constexpr (B == 4) {
        FillRow32(reinterpret_cast<uint32_t*>(row) + i, n, colour);
    } else {
        for (int32_t k = i; k < i + n; ++k) StorePixel(row + k * B, B, colour);
    }
}

// Mode 1 with a colour: anti-aliased text.
template <typename F>
void BlendColourRow(const uint8_t* coverage, uint8_t* dest, int32_t width, uint32_t colour) {
    constexpr int B = F::bytes;
    ScanAlpha(
        coverage, width, [&](int32_t i, int32_t n) { FillPixels<B>(dest, i, n, colour); },
        [&](int32_t i, int32_t n) {
            if constexpr (B == 4) {
                PaintSpan32(reinterpret_cast<uint32_t*>(dest) + i, coverage + i, n, colour,
                            ColourShift<F>());
                return;
            }
            for (int32_t k = i; k < i + n; ++k) {
                uint32_t c = coverage[k];
                uint8_t* d = dest + k * B;
                if (c != 0)
                    StorePixel(d, B, c == 255 ? colour : Blend<F>(colour, LoadPixel(d, B), c));
            }
        });
}

// Mode 0 with a colour: the colour wherever the coverage is not 0 (shapes painted into a
// fresh image).
template <typename F>
void WriteColourRow(const uint8_t* coverage, uint8_t* dest, int32_t width, uint32_t colour) {
    constexpr int B = F::bytes;
    auto write = [&](int32_t i, int32_t n) { FillPixels<B>(dest, i, n, colour); };
    ScanAlpha(coverage, width, write, [&](int32_t i, int32_t n) {
        if constexpr (B == 4) {
            WriteSpan32(reinterpret_cast<uint32_t*>(dest) + i, coverage + i, n, colour);
            return;
        }
        for (int32_t k = i; k < i + n; ++k) {
            if (coverage[k] != 0) StorePixel(dest + k * B, B, colour);
        }
    });
}

// Mode 1 with a colour on a block of 32-bit pixels, by the AVX2 rows where the CPU has them;
// false leaves the block to the general rows, which are their reference.
template <typename F>
bool PaintBlockInSteps(const qvAlphaChannelBlock& k) {
#if defined(__x86_64__)
    if (!HasAvx2()) return false;
    const auto paint = ColourShift<F>() == 8 ? PaintRows<8> : PaintRows<0>;
    paint(PixelAt(k.destBase, k.destRowLength, 4, k.destX, k.destY), ptrdiff_t(k.destRowLength) * 4,
          PlaneRow(k.coverageBase, k.coverageBytesPerRow, k.sourceY) + k.sourceX,
          k.coverageBytesPerRow, k.width, k.height, k.colour);
    return true;
#else
    return false;
#endif
}

template <typename F>
void ChannelRows(const qvAlphaChannelBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    if (k.mode == QV_COVERAGE_WIDE ? k.modeValue2 == nullptr : k.coverageBase == nullptr) return;
    // 3-byte pixels receive the raw 0xRRGGBB and put it into their byte order here.
    const uint32_t colour = F::bytes == 3 ? F::Pack(k.colour) : k.colour;
    const bool flat = k.textureBase == nullptr;
    if constexpr (F::bytes == 4) {
        if (flat && k.mode == QV_COVERAGE_BLEND && PaintBlockInSteps<F>(k)) return;
    }
    for (int32_t j = 0; j < k.height; ++j) {
        const uint8_t* coverage =
            k.coverageBase != nullptr
                ? PlaneRow(k.coverageBase, k.coverageBytesPerRow, k.sourceY + j) + k.sourceX
                : nullptr;
        uint8_t* dest = PixelAt(k.destBase, k.destRowLength, F::bytes, k.destX, k.destY + j);
        if (flat && k.mode == QV_COVERAGE_BLEND) {
            BlendColourRow<F>(coverage, dest, k.width, colour);
        } else if (F::bytes == 4 && flat && k.mode == QV_COVERAGE_SECOND &&
                   k.secondBase != nullptr) {
            uint8_t* second = k.secondBase + ptrdiff_t(k.destY + j) * k.secondBytesPerRow + k.destX;
            SecondSpan32(reinterpret_cast<uint32_t*>(dest), second, coverage, k.width, colour,
                         k.modeValue1 < 255 ? k.modeValue1 : 255, ColourShift<F>());
        } else if (F::bytes == 4 && flat && k.mode == QV_COVERAGE_WIDE && k.secondBase != nullptr) {
            uint8_t* second = k.secondBase + ptrdiff_t(k.destY + j) * k.secondBytesPerRow + k.destX;
            WideSpan32(reinterpret_cast<uint32_t*>(dest), second,
                       k.modeValue2 + ptrdiff_t(k.sourceY + j) * k.modeValue3 + k.sourceX, k.width,
                       colour, k.modeValue1 < 255 ? k.modeValue1 : 255, ColourShift<F>());
        } else if (flat && k.mode == QV_COVERAGE_WRITE) {
            WriteColourRow<F>(coverage, dest, k.width, colour);
        } else {
            ChannelRow<F>(k, j, colour);
        }
    }
}

template <int B>
void CopyWhereAlphaRows(const qvAlphaBitmapBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        const uint8_t* s = PixelAt(k.sourceBase, k.sourceRowLength, B, k.sourceX, k.sourceY + j);
        uint8_t* d = PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j);
        const uint8_t* alpha = PlaneRow(k.alphaBase, k.alphaBytesPerRow, k.alphaY + j) + k.alphaX;
        for (int32_t i = 0; i < k.width; ++i) {
            if (alpha[i] != 0) std::memcpy(d + i * B, s + i * B, B);
        }
    }
}

template <int B>
void CopyRectMaskedRows(const qvRectMaskedBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        const uint8_t* s = PixelAt(k.sourceBase, k.sourceRowLength, B, k.sourceX, k.sourceY + j);
        uint8_t* d = PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j);
        auto row = [j](auto* plane, int32_t bytesPerRow, int32_t y) {
            return plane != nullptr ? plane + ptrdiff_t(y + j) * bytesPerRow : nullptr;
        };
        const uint8_t* sourceMask = row(k.sourceMask, k.sourceMaskBytesPerRow, k.sourceY);
        uint8_t* destMask = row(k.destMask, k.destMaskBytesPerRow, k.destY);
        const uint8_t* sourceAlpha = row(k.sourceAlpha, k.sourceAlphaBytesPerRow, k.sourceY);
        uint8_t* destAlpha = row(k.destAlpha, k.destAlphaBytesPerRow, k.destY);
        for (int32_t i = 0; i < k.width; ++i) {
            bool copy = true;
            if (sourceMask != nullptr) {
                copy = MaskBit(sourceMask, k.sourceX + i);
                if (destMask != nullptr) SetMaskBit(destMask, k.destX + i, copy);
            } else if (sourceAlpha != nullptr) {
                uint8_t a = sourceAlpha[k.sourceX + i];
                copy = a != 0;
                if (destAlpha != nullptr) destAlpha[k.destX + i] = a;
            }
            if (copy) std::memcpy(d + i * B, s + i * B, B);
        }
    }
}

// One pixel of PaintShapeLayerRow: the layers over a blank image pixel, then over the row.
template <typename F>
void LayerPixel(const qvShapeLayerRow& k, const uint32_t colours[3], uint8_t* d, int32_t i) {
    uint8_t alpha = 0;
    uint32_t pixel = 0;
    for (int32_t layer = 0; layer < k.count; ++layer) {
        const uint32_t c = k.coverage[layer][i];
        if (c == 0) continue;
        const uint32_t opacity = k.opacity[layer];
        const uint8_t share = OverAlpha(alpha, k.antialias ? c * opacity / 255 : opacity);
        if (share == 255) {
            pixel = colours[layer];
        } else if (share != 0) {
            pixel = Blend<F>(colours[layer], pixel, share);
        }
    }
    if (alpha == 0) return;
    StorePixel(d, F::bytes, alpha == 255 ? pixel : Blend<F>(pixel, LoadPixel(d, F::bytes), alpha));
}

// Eight pixels at a time: where the top layer is opaque and covers all eight, its colour is
// all they show; where no layer covers any, they are left.
template <typename F>
void ShapeLayerRow(const qvShapeLayerRow& k) {
    constexpr int B = F::bytes;
    uint32_t colours[3] = {};
    for (int32_t layer = 0; layer < k.count; ++layer) {
        colours[layer] = B == 3 ? F::Pack(k.colour[layer]) : k.colour[layer];
    }
    const int32_t top = k.count - 1;
    const bool topOpaque = k.opacity[top] == 255;
    auto* dest = static_cast<uint8_t*>(k.dest);
    int32_t i = 0;
    while (i + 8 <= k.width) {
        uint64_t any = 0, group = 0;
        for (int32_t layer = 0; layer < k.count; ++layer) {
            std::memcpy(&group, k.coverage[layer] + i, 8);
            any |= group;
        }
        if (any == 0) {
            i += 8;
        } else if (topOpaque && group == ~uint64_t(0)) {
            int32_t end = i + 8;
            while (end + 32 <= k.width && AllOpaque32(k.coverage[top] + end)) end += 32;
            FillPixels<B>(dest, i, end - i, colours[top]);
            i = end;
        } else {
            for (const int32_t end = i + 8; i < end; ++i) {
                LayerPixel<F>(k, colours, dest + i * B, i);
            }
        }
    }
    for (; i < k.width; ++i) LayerPixel<F>(k, colours, dest + i * B, i);
}

// Runs fn with the Format of a code of the given depth.
template <int Bytes, typename Fn>
void WithFormat(uint32_t format, Fn&& fn) {
    VisitFormat(format, [&](auto f) {
        if constexpr (decltype(f)::bytes == Bytes) fn(f);
    });
}

}  // namespace
}  // namespace qv

#define QV_PER_FORMAT(Name, Block, Bytes, Rows)                                             \
    void Name(const Block& block) {                                                         \
        qv::WithFormat<Bytes>(block.format, [&](auto f) { qv::Rows<decltype(f)>(block); }); \
    }

QV_PER_FORMAT(BltAlphaBitmapPixels32, qvAlphaBitmapBlock, 4, AlphaRows)
QV_PER_FORMAT(BltAlphaBitmapPixels24, qvAlphaBitmapBlock, 3, AlphaRows)
QV_PER_FORMAT(BltAlphaBitmapPixels16, qvAlphaBitmapBlock, 2, AlphaRows)
QV_PER_FORMAT(BltAlphaChannelPixels32, qvAlphaChannelBlock, 4, ChannelRows)
QV_PER_FORMAT(BltAlphaChannelPixels24, qvAlphaChannelBlock, 3, ChannelRows)
QV_PER_FORMAT(BltAlphaChannelPixels16, qvAlphaChannelBlock, 2, ChannelRows)
#undef QV_PER_FORMAT

void PaintShapeLayerRow(const qvShapeLayerRow& row) {
    if (row.count < 1 || row.count > 3 || row.width < 1) return;
    qv::VisitFormat(row.format, [&](auto f) { qv::ShapeLayerRow<decltype(f)>(row); });
}

void CopyWhereAlphaPixels32(const qvAlphaBitmapBlock& block) {
    qv::CopyWhereAlphaRows<4>(block);
}

void CopyWhereAlphaPixels24(const qvAlphaBitmapBlock& block) {
    qv::CopyWhereAlphaRows<3>(block);
}

void CopyWhereAlphaPixels16(const qvAlphaBitmapBlock& block) {
    qv::CopyWhereAlphaRows<2>(block);
}

void CopyRectMaskedPixels32(const qvRectMaskedBlock& block) {
    qv::CopyRectMaskedRows<4>(block);
}

void CopyRectMaskedPixels24(const qvRectMaskedBlock& block) {
    qv::CopyRectMaskedRows<3>(block);
}

void CopyRectMaskedPixels16(const qvRectMaskedBlock& block) {
    qv::CopyRectMaskedRows<2>(block);
}
