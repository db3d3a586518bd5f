// The colour filter kernels. Each effect is one function over spans of 0x00RRGGBB values
// (the high byte of the input ignored); ForEachSpan decodes the pixels of every format into
// such spans and encodes them back, so the kernels of one effect share their formula and
// differ only in the pixel access. Format 10 pixels are such values already and are changed
// in place.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"
#include "gfx/kernels/template_clones.h"
#include "platform/linux/memory.h"

namespace qv {
namespace {

constexpr int32_t kSpan = 256;

constexpr uint32_t Red(uint32_t v) {
    return (v >> 16) & 255;
}
constexpr uint32_t Green(uint32_t v) {
    return (v >> 8) & 255;
}
constexpr uint32_t Blue(uint32_t v) {
    return v & 255;
}
constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) {
    return (r << 16) | (g << 8) | b;
}

// clamp(v) truncated to 0..255; NaN gives 0.
inline uint32_t Clamp255(double v) {
    if (!(v > 0)) return 0;
    return v >= 255 ? 255 : uint32_t(v);
}

// Calls fn(Format<F>{}) when the format has the depth.
template <int Bytes, typename Fn>
void VisitDepth(uint32_t format, Fn&& fn) {
    VisitFormat(format, [&](auto f) {
        if constexpr (decltype(f)::bytes == Bytes) fn(f);
    });
}

// 16-bit pixels take 65536 values: a rectangle of at least as many pixels is filtered by
// running op once over every value and looking each pixel up. false when the table cannot be
// had.
template <typename F, typename Op>
bool MapThroughTable(const qvFilterBlock& b, Op& op) {
    constexpr uint32_t kValues = 65536;
    auto* values = static_cast<uint32_t*>(AllocMemBlock(kValues * (4 + 2), 0));
    if (values == nullptr) return false;
    auto* table = reinterpret_cast<uint16_t*>(values + kValues);
    for (uint32_t v = 0; v < kValues; ++v) values[v] = F::Unpack(v);
    op(values, int32_t(kValues));
    for (uint32_t v = 0; v < kValues; ++v) table[v] = uint16_t(F::Pack(values[v]));
    for (int32_t y = 0; y < b.height; ++y) {
        auto* row = reinterpret_cast<uint16_t*>(PixelAt(b.base, b.rowLength, 2, 0, y));
        for (int32_t x = 0; x < b.width; ++x) row[x] = table[row[x]];
    }
    FreeMemBlock(values);
    return true;
}

// Runs op(values, n) over the rectangle in spans of 0x00RRGGBB values; with Store the
// results are written back (alpha 0), else the pixels are only read. op must be a function of
// each value alone.
template <int Bytes, bool Store = true, typename Op>
void ForEachSpan(const qvFilterBlock& b, Op&& op) {
    VisitDepth<Bytes>(b.format, [&](auto f) {
        using F = decltype(f);
        if constexpr (Bytes == 2 && Store) {
            if (int64_t(b.width) * b.height >= 65536 && MapThroughTable<F>(b, op)) return;
        }
        if constexpr (F::code == QV_FMT_A8R8G8B8) {
            // Rows that follow each other without a gap are one span, of a length the span
            // loops can step past without overflow.
            const int64_t pixels = int64_t(b.width) * b.height;
            if (b.rowLength == b.width && pixels <= int64_t(1) << 30)
                return op(static_cast<uint32_t*>(b.base), int32_t(pixels));
        }
        for (int32_t y = 0; y < b.height; ++y) {
            uint8_t* row = PixelAt(b.base, b.rowLength, Bytes, 0, y);
            if constexpr (F::code == QV_FMT_A8R8G8B8) {
                op(reinterpret_cast<uint32_t*>(row), b.width);
                continue;
            }
            uint32_t span[kSpan];
            for (int32_t x = 0; x < b.width; x += kSpan) {
                const int32_t n = std::min(kSpan, b.width - x);
                uint8_t* p = row + ptrdiff_t(x) * Bytes;
                for (int32_t i = 0; i < n; ++i)
                    span[i] = F::Unpack(LoadPixel(p + i * Bytes, Bytes));
                op(span, n);
                if constexpr (Store) {
                    for (int32_t i = 0; i < n; ++i)
                        StorePixel(p + i * Bytes, Bytes, F::Pack(span[i]));
                }
            }
        }
    });
}

// The effects on spans. Those that compute the intensity are cloned for FMA hardware.

inline uint32_t GrayValue(int32_t level, bool threshold) {
    return threshold ? (level >= 129 ? 0xFFFFFFu : 0u) : uint32_t(level) * 0x010101u;
}

QV_CLONES("fma", "default") void GraySpanScalar(uint32_t* v, int32_t n, bool threshold) {
    for (int32_t i = 0; i < n; ++i) v[i] = GrayValue(IntensityOf(v[i]), threshold);
}

#if defined(__x86_64__)
#define QV_AVX2_FMA __attribute__((target("avx2,fma")))

// Grey in integers. The intensity is S / 1000 with S = 299 R + 587 G + 114 B, up to the
// rounding of the double formula, which stays far below the 1/1000 between a fraction and the
// next whole level: floor(S / 1000) is the truncated intensity except where S is a multiple of
// 1000, where the formula may truncate to one level less. Those lanes take the formula's
// value: grey pixels (S = 1000 x their level, and whole pictures may be grey) from a table of
// the levels whose grey rounds down, the few others one by one.

// Bit v of the 256: the grey v x 0x010101 has intensity v - 1.
const std::array<uint32_t, 8>& GreysRoundingDown() {
    static const auto bits = [] {
        std::array<uint32_t, 8> b{};
        for (uint32_t v = 0; v < 256; ++v) {
            if (IntensityOf(v * 0x010101u) != int32_t(v)) b[v >> 5] |= 1u << (v & 31);
        }
        return b;
    }();
    return bits;
}

// A constant the compiler cannot see. Made once before a loop it stays in a register: a known
// constant would be rebuilt from an immediate on every pass, and multiplies by it turned into
// shifts and adds, while shifts are what the grey loops wait for.
QV_AVX2_FMA inline __m256i Hidden(__m256i v) {
    __asm__("" : "+x"(v));
    return v;
}

QV_AVX2_FMA inline __m256i Hidden16(int32_t value) {
    return Hidden(_mm256_set1_epi16(int16_t(value)));
}

QV_AVX2_FMA inline __m256i Hidden32(int32_t value) {
    return Hidden(_mm256_set1_epi32(value));
}

// Calls fix(bit) for every set bit of a mask.
template <typename Fix>
inline void ForEachBit(uint32_t bits, Fix&& fix) {
    for (; bits != 0; bits &= bits - 1) fix(__builtin_ctz(bits));
}

// The constants of the 32-bit grey loop.
struct Grey32Constants {
    __m256i lowBytes, blueRed, green, reciprocal, thousand, colour, spread;

    QV_AVX2_FMA static Grey32Constants Make() {
        // Byte 0 of each lane into bytes 0-2.
        const __m256i spread =
            _mm256_setr_epi8(0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1, 0, 0, 0, -1, 4,
                             4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1);
        return {Hidden32(0x00FF00FF), Hidden32(299 << 16 | 114), Hidden32(587), Hidden16(33555),
                Hidden32(1000),       Hidden32(0xFFFFFF),        Hidden(spread)};
    }
};

// Eight stored pixels with their levels floor(S / 1000) and the lanes whose sum is a whole
// thousand, where the formula's level may be one less.
struct Grey32Block {
    __m256i pixels, level, whole;
};

QV_AVX2_FMA inline Grey32Block LoadGrey32(const uint32_t* at, const Grey32Constants& k) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    // Words (blue, red) and (green, alpha) against (114, 299) and (587, 0).
    const __m256i sum = _mm256_add_epi32(
        _mm256_madd_epi16(_mm256_and_si256(pixels, k.lowBytes), k.blueRed),
        _mm256_madd_epi16(_mm256_and_si256(_mm256_srli_epi32(pixels, 8), k.lowBytes), k.green));
    // floor((S / 8) / 125): S / 8 stays below 32000, where one multiply-high is exact.
    const __m256i level =
        _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_srli_epi32(sum, 3), k.reciprocal), 6);
    return {pixels, level, _mm256_cmpeq_epi32(_mm256_madd_epi16(level, k.thousand), sum)};
}

template <bool Threshold>
QV_AVX2_FMA inline void StoreLevels32(uint32_t* at, __m256i level, const Grey32Constants& k) {
    _mm256_storeu_si256(
        reinterpret_cast<__m256i*>(at),
        Threshold ? _mm256_and_si256(_mm256_cmpgt_epi32(level, _mm256_set1_epi32(128)), k.colour)
                  : _mm256_shuffle_epi8(level, k.spread));
}

// Stores a block with whole lanes: grey ones take bit `level` of the table of greys, the
// others the formula one by one. Always inlined: a call would pass the block through memory
// and clobber the loop's constants, and one block in eight or so comes here.
template <bool Threshold>
QV_AVX2_FMA inline __attribute__((always_inline)) void StoreWithWholeSums32(
    uint32_t* at, Grey32Block b, const Grey32Constants& k) {
    const __m256i table =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(GreysRoundingDown().data()));
    const __m256i grey = _mm256_cmpeq_epi32(_mm256_and_si256(b.pixels, k.colour),
                                            _mm256_shuffle_epi8(b.level, k.spread));
    const __m256i word = _mm256_permutevar8x32_epi32(table, _mm256_srli_epi32(b.level, 5));
    const __m256i down = _mm256_srlv_epi32(word, _mm256_and_si256(b.level, _mm256_set1_epi32(31)));
    StoreLevels32<Threshold>(
        at, _mm256_sub_epi32(b.level, _mm256_and_si256(_mm256_srli_epi32(grey, 31), down)), k);
    const auto others =
        uint32_t(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_andnot_si256(grey, b.whole))));
    if (others == 0) return;
    alignas(32) uint32_t before[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(before), b.pixels);
    ForEachBit(others,
               [&](int lane) { at[lane] = GrayValue(IntensityOf(before[lane]), Threshold); });
}

// Stores a block, its whole lanes set right.
template <bool Threshold>
QV_AVX2_FMA inline void StoreGrey32(uint32_t* at, Grey32Block b, const Grey32Constants& k) {
    if (_mm256_testz_si256(b.whole, b.whole)) return StoreLevels32<Threshold>(at, b.level, k);
    StoreWithWholeSums32<Threshold>(at, b, k);
}

// Grey of n 32-bit values, sixteen at a time with one whole-lane test for both halves.
template <bool Threshold>
QV_AVX2_FMA void GraySpanAvx2(uint32_t* v, int32_t n) {
    const auto k = Grey32Constants::Make();
    int32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const Grey32Block a = LoadGrey32(v + i, k), b = LoadGrey32(v + i + 8, k);
        const __m256i whole = _mm256_or_si256(a.whole, b.whole);
        if (_mm256_testz_si256(whole, whole)) [[likely]] {
            StoreLevels32<Threshold>(v + i, a.level, k);
            StoreLevels32<Threshold>(v + i + 8, b.level, k);
        } else {
            StoreGrey32<Threshold>(v + i, a, k);
            StoreGrey32<Threshold>(v + i + 8, b, k);
        }
    }
    if (i + 8 <= n) {
        StoreGrey32<Threshold>(v + i, LoadGrey32(v + i, k), k);
        i += 8;
    }
    for (; i < n; ++i) v[i] = GrayValue(IntensityOf(v[i]), Threshold);
    _mm256_zeroupper();  // the callers' SSE code would pay for dirty upper halves
}

// The table's bits of the levels 8 r, r = 0-31 (the grey R5G6B5 pixels), one a byte for byte
// shuffles: r below 16, then r from 16, each row twice (once per 128-bit half).
const std::array<std::array<uint8_t, 32>, 2>& Grey565RoundingDown() {
    static const auto bytes = [] {
        std::array<std::array<uint8_t, 32>, 2> b{};
        for (uint32_t r = 0; r < 32; ++r) {
            const uint32_t level = r * 8;
            b[r >> 4][r & 15] = b[r >> 4][(r & 15) + 16] =
                uint8_t(GreysRoundingDown()[level >> 5] >> (level & 31) & 1);
        }
        return b;
    }();
    return bytes;
}

// Bit v of the 65536 stored values of format F: the formula's level is one below
// floor(S / 1000). Only whole sums can be, so the row loop looks up just those lanes.
template <typename F>
const std::array<uint64_t, 1024>& Grey565ValuesRoundingDown() {
    static const auto bits = [] {
        std::array<uint64_t, 1024> b{};
        for (uint32_t v = 0; v < 65536; ++v) {
            const uint32_t rgb = F::Unpack(v);
            const auto sum =
                int32_t(299 * (rgb >> 16 & 255) + 587 * (rgb >> 8 & 255) + 114 * (rgb & 255));
            if (IntensityOf(rgb) != sum / 1000) b[v >> 6] |= uint64_t(1) << (v & 63);
        }
        return b;
    }();
    return bits;
}

// 16-bit lanes of format F in the native order of their fields, and back.
template <typename F>
QV_AVX2_FMA inline __m256i Native16(__m256i v) {
    if constexpr (!F::swapped) return v;
    return _mm256_shuffle_epi8(
        v, _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5, 4,
                            7, 6, 9, 8, 11, 10, 13, 12, 15, 14));
}

// The constants of the 16-bit grey loop for format F (fields in native order).
struct Grey565Constants {
    __m256i topField, lowField, greenField;  // masks
    __m256i topWeight, lowWeight, greenWeight, reciprocal, thousand, redBlue, greenBits;

    template <typename F>
    QV_AVX2_FMA static Grey565Constants Of() {
        constexpr int32_t kTop = F::blueFirst ? 228 : 598, kLow = F::blueFirst ? 598 : 228;
        return {Hidden16(0xF800), Hidden16(31),       Hidden16(0xFC00), Hidden16(kTop << 5),
                Hidden16(kLow),   Hidden16(587 << 6), Hidden16(33555),  Hidden16(250),
                Hidden16(0x801),  Hidden16(0x7E0)};
    }
};

// S / 4 = 598 r + 587 g + 228 b of pixels with six green bits (R = 8 r, G = 4 g, B = 8 b),
// below 65536: the low field times its weight, the others at the top of their lanes through
// the high halves of multiplies by shifted weights.
QV_AVX2_FMA inline __m256i QuarterSum565(__m256i pixels, const Grey565Constants& k) {
    const __m256i top = _mm256_mulhi_epu16(_mm256_and_si256(pixels, k.topField), k.topWeight);
    const __m256i low = _mm256_mullo_epi16(_mm256_and_si256(pixels, k.lowField), k.lowWeight);
    const __m256i green = _mm256_mulhi_epu16(
        _mm256_and_si256(_mm256_slli_epi16(pixels, 5), k.greenField), k.greenWeight);
    return _mm256_add_epi16(_mm256_add_epi16(top, low), green);
}

// floor(t / 250) of the sums S / 4 above: one multiply, exact for each of them (not for every
// number below 65536).
QV_AVX2_FMA inline __m256i LevelOfQuarterSum(__m256i t, const Grey565Constants& k) {
    return _mm256_srli_epi16(_mm256_mulhi_epu16(t, k.reciprocal), 7);
}

// Levels 0-255 stored as format F: grey, (level >> 3) x 0x801 putting the five bits into red
// and blue, or at the threshold white above 128 and black.
template <typename F, bool Threshold>
QV_AVX2_FMA inline __m256i StoredGrey565(__m256i level, const Grey565Constants& k) {
    if constexpr (Threshold) return _mm256_cmpgt_epi16(level, _mm256_set1_epi16(128));
    const __m256i redBlue = _mm256_mullo_epi16(_mm256_srli_epi16(level, 3), k.redBlue);
    return Native16<F>(
        _mm256_or_si256(redBlue, _mm256_and_si256(_mm256_slli_epi16(level, 3), k.greenBits)));
}

// Sixteen stored pixels with their levels floor((S / 4) / 250) and the lanes whose sum is a
// whole thousand, where the formula's level may be one less.
struct Grey565Block {
    __m256i stored, level, whole;
};

template <typename F>
QV_AVX2_FMA inline Grey565Block LoadGrey565(const uint16_t* at, const Grey565Constants& k) {
    const __m256i stored = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i sum = QuarterSum565(Native16<F>(stored), k);
    const __m256i level = LevelOfQuarterSum(sum, k);
    return {stored, level, _mm256_cmpeq_epi16(_mm256_mullo_epi16(level, k.thousand), sum)};
}

// Stores a block's levels as they are: right where no lane is whole.
template <typename F, bool Threshold>
QV_AVX2_FMA inline void StoreLevels565(uint16_t* at, __m256i level, const Grey565Constants& k) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), StoredGrey565<F, Threshold>(level, k));
}

// Stores a block with whole lanes. Grey pixels are r x 0x841 and have level 8 r, whose table
// bits two byte shuffles find; the others are looked up one by one after the block is stored.
// Always inlined, as the 32-bit one.
template <typename F, bool Threshold>
QV_AVX2_FMA inline __attribute__((always_inline)) void StoreWithWholeSums565(
    uint16_t* at, Grey565Block b, const Grey565Constants& k) {
    const auto& greyBytes = Grey565RoundingDown();
    const __m256i pixels = Native16<F>(b.stored), top = _mm256_srli_epi16(pixels, 11);
    const __m256i grey =
        _mm256_cmpeq_epi16(_mm256_mullo_epi16(top, _mm256_set1_epi16(0x841)), pixels);
    const __m256i down = _mm256_blendv_epi8(
        _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(greyBytes[0].data())), top),
        _mm256_shuffle_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(greyBytes[1].data())), top),
        _mm256_cmpgt_epi16(top, _mm256_set1_epi16(15)));
    const __m256i level =
        _mm256_sub_epi16(b.level, _mm256_and_si256(_mm256_srli_epi16(grey, 15), down));
    StoreLevels565<F, Threshold>(at, level, k);
    // Two mask bits a lane: keep the low one.
    const uint32_t others =
        uint32_t(_mm256_movemask_epi8(_mm256_andnot_si256(grey, b.whole))) & 0x55555555u;
    if (others == 0) return;
    const auto& valuesDown = Grey565ValuesRoundingDown<F>();
    alignas(32) uint16_t before[16], levels[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(before), b.stored);
    _mm256_store_si256(reinterpret_cast<__m256i*>(levels), level);
    ForEachBit(others, [&](int bit) {
        const uint16_t v = before[bit / 2];
        const auto down = int32_t(valuesDown[v >> 6] >> (v & 63) & 1);
        at[bit / 2] = uint16_t(F::Pack(GrayValue(levels[bit / 2] - down, Threshold)));
    });
}

// Stores a block, its whole lanes set right.
template <typename F, bool Threshold>
QV_AVX2_FMA inline void StoreGrey565(uint16_t* at, Grey565Block b, const Grey565Constants& k) {
    if (_mm256_testz_si256(b.whole, b.whole)) return StoreLevels565<F, Threshold>(at, b.level, k);
    StoreWithWholeSums565<F, Threshold>(at, b, k);
}

// Grey of n 16-bit pixels with six green bits, 32 at a time in 16-bit lanes: few blocks of a
// picture hold whole sums, and one test covers both halves.
template <typename F, bool Threshold>
QV_AVX2_FMA void Gray565RunAvx2(uint16_t* row, ptrdiff_t n) {
    static_assert(F::green6);
    const auto k = Grey565Constants::Of<F>();
    ptrdiff_t x = 0;
    for (; x + 32 <= n; x += 32) {
        const Grey565Block a = LoadGrey565<F>(row + x, k), b = LoadGrey565<F>(row + x + 16, k);
        const __m256i whole = _mm256_or_si256(a.whole, b.whole);
        if (_mm256_testz_si256(whole, whole)) [[likely]] {
            StoreLevels565<F, Threshold>(row + x, a.level, k);
            StoreLevels565<F, Threshold>(row + x + 16, b.level, k);
        } else {
            StoreGrey565<F, Threshold>(row + x, a, k);
            StoreGrey565<F, Threshold>(row + x + 16, b, k);
        }
    }
    if (x + 16 <= n) {
        StoreGrey565<F, Threshold>(row + x, LoadGrey565<F>(row + x, k), k);
        x += 16;
    }
    for (; x < n; ++x)
        row[x] = uint16_t(F::Pack(GrayValue(IntensityOf(F::Unpack(row[x])), Threshold)));
    _mm256_zeroupper();
}

// Grey of 16-bit pixels with six green bits; false for other formats or without AVX2. Rows
// that follow each other without a gap are one run.
bool Gray565(const qvFilterBlock& b, bool threshold) {
    if (!HasAvx2Fma()) return false;
    bool done = false;
    VisitDepth<2>(b.format, [&](auto f) {
        using F = decltype(f);
        if constexpr (F::green6) {
            auto run = threshold ? Gray565RunAvx2<F, true> : Gray565RunAvx2<F, false>;
            auto* base = static_cast<uint16_t*>(b.base);
            if (b.rowLength == b.width) {
                run(base, ptrdiff_t(b.width) * b.height);
            } else {
                for (int32_t y = 0; y < b.height; ++y)
                    run(base + ptrdiff_t(y) * b.rowLength, b.width);
            }
            done = true;
        }
    });
    return done;
}
#endif

void GraySpan(uint32_t* v, int32_t n, bool threshold) {
#if defined(__x86_64__)
    if (HasAvx2Fma()) return threshold ? GraySpanAvx2<true>(v, n) : GraySpanAvx2<false>(v, n);
#endif
    GraySpanScalar(v, n, threshold);
}

QV_CLONES("avx2", "default") void TintSpan(uint32_t* v, int32_t n, uint32_t colour, int32_t level) {
    const auto tr = int32_t(Red(colour)), tg = int32_t(Green(colour)), tb = int32_t(Blue(colour));
    for (int32_t i = 0; i < n; ++i) {
        const auto r = int32_t(Red(v[i])), g = int32_t(Green(v[i])), b = int32_t(Blue(v[i]));
        v[i] = Rgb(uint32_t(r + (((tr - r) * level) >> 8)), uint32_t(g + (((tg - g) * level) >> 8)),
                   uint32_t(b + (((tb - b) * level) >> 8)));
    }
}

QV_CLONES("avx2", "default") void SolarizeSpan(uint32_t* v, int32_t n, uint32_t level) {
    for (int32_t i = 0; i < n; ++i) {
        uint32_t r = Red(v[i]), g = Green(v[i]), b = Blue(v[i]);
        v[i] = Rgb(r > level ? 255 - r : r, g > level ? 255 - g : g, b > level ? 255 - b : b);
    }
}

void GammaSpan(uint32_t* v, int32_t n, const uint8_t (&tables)[3][256]) {
    for (int32_t i = 0; i < n; ++i) {
        v[i] = Rgb(tables[0][Red(v[i])], tables[1][Green(v[i])], tables[2][Blue(v[i])]);
    }
}

// Contrast: the new brightness depends on the old one only, which is max / 255.
void ContrastSpanScalar(uint32_t* v, int32_t n, const double (&brightness)[256]) {
    for (int32_t i = 0; i < n; ++i) {
        double h, s, b;
        uint8_t r = uint8_t(Red(v[i])), g = uint8_t(Green(v[i])), bl = uint8_t(Blue(v[i]));
        RGBToHSB(r, g, bl, &h, &s, &b);
        HSBToRGB(h, s, brightness[std::max({r, g, bl})], &r, &g, &bl);
        v[i] = Rgb(r, g, bl);
    }
}

QV_CLONES("fma", "default") void SepiaSpan(uint32_t* v, int32_t n, int32_t threshold) {
    const double t = threshold, greenPoint = 7.0 * t / 6.0, bluePoint = t / 6.0;
    const auto floorTone = uint32_t(t / 7.0);
    for (int32_t i = 0; i < n; ++i) {
        const double level =
            Intensity(int32_t(Red(v[i])), int32_t(Green(v[i])), int32_t(Blue(v[i])));
        const uint32_t r = level > t ? 255 : Clamp255(level + 255 - t);
        const uint32_t g = level > greenPoint ? 255 : Clamp255(level + 255 - greenPoint);
        const uint32_t b = level < bluePoint ? 0 : Clamp255(level - bluePoint);
        v[i] = Rgb(r, std::max(g, floorTone), std::max(b, floorTone));
    }
}

void ModulateSpanScalar(uint32_t* v, int32_t n, const qvModulation& m) {
    const double hueShift = (m.hue * 0.01 - 1) * 0.5;
    for (int32_t i = 0; i < n; ++i) {
        double h, s, l;
        uint8_t r, g, b;
        RGBToHSL(uint8_t(Red(v[i])), uint8_t(Green(v[i])), uint8_t(Blue(v[i])), &h, &s, &l);
        h += hueShift;
        h -= std::floor(h);
        s = s * m.saturation * 0.01;
        l = l * m.brightness * 0.01;
        HSLToRGB(h, s, l, &r, &g, &b);
        v[i] = Rgb(r, g, b);
    }
}

#if defined(__x86_64__)
// Four pixels of the colour-space conversions at a time, in AVX2 doubles: each lane does the
// scalar functions' operations in their order (the file builds without fused steps), divides
// by constants through Divided (below) and selects by mask where they branch, so every pixel
// keeps its value. The other divisions are the divider's: pipelined on the CPUs with AVX2 we
// measure, it costs less than a reciprocal refined by Newton steps and a corrected quotient,
// whose chain of dependent steps is what the loops wait for.
using Lanes = __m256d;

QV_AVX2_FMA inline Lanes Splat(double v) {
    return _mm256_set1_pd(v);
}
QV_AVX2_FMA inline Lanes Select(Lanes mask, Lanes yes, Lanes no) {
    return _mm256_blendv_pd(no, yes, mask);
}
QV_AVX2_FMA inline Lanes Below(Lanes a, Lanes b) {
    return _mm256_cmp_pd(a, b, _CMP_LT_OQ);
}
// A mask of 32-bit lanes widened to the double lanes.
QV_AVX2_FMA inline Lanes Wide(__m128i mask) {
    return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(mask));
}
QV_AVX2_FMA inline Lanes ToLanes(__m128i v) {
    return _mm256_cvtepi32_pd(v);
}

// x / d for d of 255 or 6 in two steps: hi + lo is 1 / d to twice a double's precision, and
// no quotient of a double by such d lies close enough to a midpoint between doubles for the
// rest of the error to round it differently: one that is no double lies at least 1 / (2 d)
// of a unit in the last place from every midpoint (checked for every fraction and every
// sixth the modulation meets, too).
struct Inverse {
    double hi, lo;
};
constexpr Inverse kOver255{0x1.0101010101010p-8, 0x1.0101010101010p-64};
constexpr Inverse kOverSix{0x1.5555555555555p-3, 0x1.5555555555555p-57};

QV_AVX2_FMA inline Lanes Divided(Lanes x, Inverse d) {
    return _mm256_fmadd_pd(x, Splat(d.hi), _mm256_mul_pd(x, Splat(d.lo)));
}

// c / 255.0 of byte lanes.
QV_AVX2_FMA inline Lanes Fraction(__m128i c) {
    return Divided(ToLanes(c), kOver255);
}

// Clamp255(255 v) of each lane but for levels that Join4 takes as 0: negative ones, and NaN
// (which min passes on as the second operand) converted to the lowest integer.
QV_AVX2_FMA inline __m128i Level255(Lanes v) {
    return _mm256_cvttpd_epi32(_mm256_min_pd(Splat(255), _mm256_mul_pd(Splat(255), v)));
}

struct Channels {
    __m128i red, green, blue;
};

QV_AVX2_FMA inline Channels Split4(__m128i p) {
    const __m128i byte = _mm_set1_epi32(255);
    return {_mm_and_si128(_mm_srli_epi32(p, 16), byte), _mm_and_si128(_mm_srli_epi32(p, 8), byte),
            _mm_and_si128(p, byte)};
}

// Pixels of channel levels up to 255, the negative ones 0 (by the saturating packs).
QV_AVX2_FMA inline __m128i Join4(const Channels& c) {
    const __m128i blueGreen = _mm_packus_epi32(c.blue, c.green);
    const __m128i red = _mm_packus_epi32(c.red, _mm_setzero_si128());
    // Bytes b0-b3 g0-g3 r0-r3 0000 into pixel order.
    return _mm_shuffle_epi8(_mm_packus_epi16(blueGreen, red),
                            _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
}

// Three double lanes of four pixels: a colour space's components.
struct Triple {
    Lanes a, b, c;
};

// Runs there (four pixels into a colour space) and back (the components into channels), the
// effect applied in either, in two passes over up to 64 pixels: one pass each is a short chain of
// dependent steps that the CPU overlaps across pixels, where one long chain would keep it
// waiting. Returns the pixels done, all but fewer than four.
template <typename There, typename Back>
QV_AVX2_FMA inline int32_t InTwoPasses(uint32_t* v, int32_t n, There&& there, Back&& back) {
    constexpr int32_t kBatch = 64;
    alignas(32) double components[3][kBatch];
    int32_t i = 0;
    while (n - i >= 4) {
        const int32_t count = std::min(kBatch, (n - i) & ~3);
        for (int32_t k = 0; k < count; k += 4) {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i + k));
            const Triple t = there(Split4(pixels));
            _mm256_store_pd(components[0] + k, t.a);
            _mm256_store_pd(components[1] + k, t.b);
            _mm256_store_pd(components[2] + k, t.c);
        }
        for (int32_t k = 0; k < count; k += 4) {
            const Triple t = {_mm256_load_pd(components[0] + k), _mm256_load_pd(components[1] + k),
                              _mm256_load_pd(components[2] + k)};
            _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i + k), Join4(back(t)));
        }
        i += count;
    }
    return i;
}

// HSBToRGB of four lanes. Its grey for saturation 0 needs no lanes of its own: p, q and t are
// then exactly the brightness, whatever the hue.
QV_AVX2_FMA Channels HsbToRgb4(Lanes hue, Lanes saturation, Lanes brightness) {
    const Lanes one = Splat(1);
    Lanes turn = _mm256_sub_pd(hue, _mm256_floor_pd(hue));
    const Lanes inside =
        _mm256_and_pd(_mm256_cmp_pd(turn, _mm256_setzero_pd(), _CMP_GE_OQ), Below(turn, one));
    turn = _mm256_and_pd(turn, inside);
    const Lanes h6 = _mm256_mul_pd(turn, Splat(6));
    const Lanes f = _mm256_sub_pd(h6, _mm256_floor_pd(h6));
    const Lanes p = _mm256_mul_pd(_mm256_sub_pd(one, saturation), brightness);
    const Lanes q = _mm256_mul_pd(_mm256_sub_pd(one, _mm256_mul_pd(saturation, f)), brightness);
    const Lanes t = _mm256_mul_pd(
        _mm256_sub_pd(one, _mm256_mul_pd(saturation, _mm256_sub_pd(one, f))), brightness);
    const __m128i sector = _mm256_cvttpd_epi32(h6);
    Lanes red = brightness, green = t, blue = p;
    const Lanes rows[5][3] = {{q, brightness, p},
                              {p, brightness, t},
                              {p, q, brightness},
                              {t, p, brightness},
                              {brightness, p, q}};
    for (int32_t s = 1; s <= 5; ++s) {
        const Lanes in = Wide(_mm_cmpeq_epi32(sector, _mm_set1_epi32(s)));
        red = Select(in, rows[s - 1][0], red);
        green = Select(in, rows[s - 1][1], green);
        blue = Select(in, rows[s - 1][2], blue);
    }
    return {Level255(red), Level255(green), Level255(blue)};
}

QV_AVX2_FMA void ContrastSpanAvx2(uint32_t* v, int32_t n, const double (&brightness)[256]) {
    const Lanes zero = _mm256_setzero_pd(), all = _mm256_cmp_pd(zero, zero, _CMP_EQ_OQ);
    auto there = [&](const Channels& c) QV_AVX2_FMA {
        const __m128i max = _mm_max_epi32(c.red, _mm_max_epi32(c.green, c.blue));
        const __m128i min = _mm_min_epi32(c.red, _mm_min_epi32(c.green, c.blue));
        const __m128i delta = _mm_sub_epi32(max, min);
        // RGBToHSB: the hue from the channel that is the largest, red first.
        const __m128i redMax = _mm_cmpeq_epi32(c.red, max);
        const __m128i greenMax = _mm_andnot_si128(redMax, _mm_cmpeq_epi32(c.green, max));
        __m128i difference = _mm_sub_epi32(c.red, c.green);
        difference = _mm_blendv_epi8(difference, _mm_sub_epi32(c.blue, c.red), greenMax);
        difference = _mm_blendv_epi8(difference, _mm_sub_epi32(c.green, c.blue), redMax);
        Lanes offset = Select(Wide(greenMax), Splat(2), Splat(4));
        offset = Select(Wide(redMax), zero, offset);
        const Lanes deltas = ToLanes(delta), maxes = ToLanes(max);
        const Lanes ratio = _mm256_div_pd(ToLanes(difference), deltas);
        Lanes h = Divided(_mm256_add_pd(offset, ratio), kOverSix);
        h = Select(Below(h, zero), _mm256_add_pd(h, Splat(1)), h);
        // No spread (grey, black too): saturation 0, and the hue (no number) is not used.
        const Lanes flat = Wide(_mm_cmpeq_epi32(delta, _mm_setzero_si128()));
        const Lanes saturation = _mm256_andnot_pd(flat, _mm256_div_pd(deltas, maxes));
        return Triple{h, saturation, _mm256_mask_i32gather_pd(zero, brightness, max, all, 8)};
    };
    auto back = [&](const Triple& hsb) QV_AVX2_FMA { return HsbToRgb4(hsb.a, hsb.b, hsb.c); };
    const int32_t done = InTwoPasses(v, n, there, back);
    _mm256_zeroupper();  // before the SSE code of the tail and the callers
    if (done < n) ContrastSpanScalar(v + done, n - done, brightness);
}

// HSLToRGB's channel of hue h (in 0..1) from m1 and m2, as the scalar steps. Its tests 6 h < 1
// and 3 h < 2 hold exactly for h below the doubles 1/6 and 2/3 (where the products round up to
// 1 and 2), and 2 h is exact, so they compare h alone.
static_assert(6 * (1.0 / 6) >= 1 && 6 * (1.0 / 6 - 0x1p-55) < 1);
static_assert(3 * (2.0 / 3) >= 2 && 3 * (2.0 / 3 - 0x1p-53) < 2);
QV_AVX2_FMA inline __m128i HslChannel4(Lanes h, Lanes m1, Lanes m2) {
    const Lanes spread = _mm256_sub_pd(m2, m1);
    const Lanes rising = _mm256_add_pd(m1, _mm256_mul_pd(_mm256_mul_pd(spread, Splat(6)), h));
    const Lanes falling = _mm256_add_pd(
        m1, _mm256_mul_pd(_mm256_mul_pd(spread, _mm256_sub_pd(Splat(2.0 / 3), h)), Splat(6)));
    Lanes value = Select(Below(h, Splat(2.0 / 3)), falling, m1);
    value = Select(Below(h, Splat(0.5)), m2, value);
    value = Select(Below(h, Splat(1.0 / 6)), rising, value);
    return Level255(value);
}

// RGBToHSL of four pixels.
QV_AVX2_FMA inline Triple HslOf4(const Channels& c) {
    const Lanes one = Splat(1), zero = _mm256_setzero_pd(), half = Splat(0.5);
    const Lanes red = Fraction(c.red), green = Fraction(c.green), blue = Fraction(c.blue);
    const Lanes max = _mm256_max_pd(red, _mm256_max_pd(green, blue));
    // The hue takes two distances: (offset + d(first)) - d(second), the offset 0 (adding it
    // changes nothing) where red is the largest, 1/3 where green is, 2/3 for blue. The two
    // channels besides the largest hold the smallest.
    const Lanes redMax = _mm256_cmp_pd(red, max, _CMP_EQ_OQ);
    const Lanes greenMax = _mm256_andnot_pd(redMax, _mm256_cmp_pd(green, max, _CMP_EQ_OQ));
    const Lanes first = Select(redMax, blue, Select(greenMax, red, green));
    const Lanes second = Select(redMax, green, Select(greenMax, blue, red));
    const Lanes offset = Select(redMax, zero, Select(greenMax, Splat(1.0 / 3), Splat(2.0 / 3)));
    const Lanes min = _mm256_min_pd(first, second);
    const Lanes sum = _mm256_add_pd(max, min);
    const Lanes l = _mm256_mul_pd(sum, half);  // exactly sum / 2
    const Lanes delta = _mm256_sub_pd(max, min);
    const Lanes base =
        Select(Below(l, half), sum, _mm256_sub_pd(_mm256_sub_pd(Splat(2), max), min));
    const Lanes halfDelta = _mm256_mul_pd(delta, half);  // exactly delta / 2
    auto distance = [&](Lanes x) QV_AVX2_FMA {
        const Lanes sixth = Divided(_mm256_sub_pd(max, x), kOverSix);
        return _mm256_div_pd(_mm256_add_pd(sixth, halfDelta), delta);
    };
    Lanes h = _mm256_sub_pd(_mm256_add_pd(offset, distance(first)), distance(second));
    h = Select(Below(h, zero), _mm256_add_pd(h, one), h);
    h = Select(_mm256_cmp_pd(h, one, _CMP_GT_OQ), _mm256_sub_pd(h, one), h);
    // Grey (black and white too) divides by 0 and takes hue and saturation 0.
    const Lanes flat = _mm256_cmp_pd(max, min, _CMP_EQ_OQ);
    const Lanes s = _mm256_div_pd(delta, base);
    return Triple{_mm256_andnot_pd(flat, h), _mm256_andnot_pd(flat, s), l};
}

QV_AVX2_FMA void ModulateSpanAvx2(uint32_t* v, int32_t n, const qvModulation& m) {
    const Lanes hueShift = Splat((m.hue * 0.01 - 1) * 0.5);
    const Lanes saturationFactor = Splat(double(m.saturation));
    const Lanes brightnessFactor = Splat(double(m.brightness));
    const Lanes one = Splat(1), zero = _mm256_setzero_pd(), half = Splat(0.5);
    // The modulation opens the second pass, which has the shorter chain of dependent steps.
    auto there = [](const Channels& c) QV_AVX2_FMA { return HslOf4(c); };
    auto back = [&](const Triple& hsl) QV_AVX2_FMA {
        Lanes h = _mm256_add_pd(hsl.a, hueShift);
        h = _mm256_sub_pd(h, _mm256_floor_pd(h));
        const Lanes s = _mm256_mul_pd(_mm256_mul_pd(hsl.b, saturationFactor), Splat(0.01));
        const Lanes l = _mm256_mul_pd(_mm256_mul_pd(hsl.c, brightnessFactor), Splat(0.01));
        const Lanes m2 =
            Select(_mm256_cmp_pd(l, half, _CMP_LE_OQ), _mm256_mul_pd(l, _mm256_add_pd(one, s)),
                   _mm256_sub_pd(_mm256_add_pd(l, s), _mm256_mul_pd(l, s)));
        const Lanes m1 = _mm256_sub_pd(_mm256_mul_pd(Splat(2), l), m2);
        // h is in 0..1 (1 where the subtraction rounds up), so the channels' hues h + 1/3 and
        // h - 1/3 need one wrap each and h none.
        Lanes redHue = _mm256_add_pd(h, Splat(1.0 / 3)), blueHue = _mm256_sub_pd(h, Splat(1.0 / 3));
        redHue = Select(_mm256_cmp_pd(redHue, one, _CMP_GT_OQ), _mm256_sub_pd(redHue, one), redHue);
        blueHue = Select(Below(blueHue, zero), _mm256_add_pd(blueHue, one), blueHue);
        // HSLToRGB's grey for saturation 0 needs no lanes of its own: m1 = m2 = l exactly
        // there, so every channel is clamp(255 l) too.
        return Channels{HslChannel4(redHue, m1, m2), HslChannel4(h, m1, m2),
                        HslChannel4(blueHue, m1, m2)};
    };
    const int32_t done = InTwoPasses(v, n, there, back);
    _mm256_zeroupper();  // before the SSE code of the tail and the callers
    if (done < n) ModulateSpanScalar(v + done, n - done, m);
}
#endif

void ContrastSpan(uint32_t* v, int32_t n, const double (&brightness)[256]) {
#if defined(__x86_64__)
    if (HasAvx2Fma()) return ContrastSpanAvx2(v, n, brightness);
#endif
    ContrastSpanScalar(v, n, brightness);
}

void ModulateSpan(uint32_t* v, int32_t n, const qvModulation& m) {
#if defined(__x86_64__)
    if (HasAvx2Fma()) return ModulateSpanAvx2(v, n, m);
#endif
    ModulateSpanScalar(v, n, m);
}

template <int Bytes>
void Gray(const qvFilterBlock& block, int32_t threshold) {
#if defined(__x86_64__)
    if (Bytes == 2 && Gray565(block, threshold != 0)) return;
#endif
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { GraySpan(v, n, threshold != 0); });
}

template <int Bytes>
void Tint(const qvFilterBlock& block, uint32_t colour, int32_t level) {
    const uint32_t target = Bytes == 2 ? Format<QV_FMT_R5G6B5>::Unpack(colour) : colour;
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { TintSpan(v, n, target, level); });
}

template <int Bytes>
void Solarize(const qvFilterBlock& block, int32_t level) {
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { SolarizeSpan(v, n, uint32_t(level)); });
}

template <int Bytes>
void Gamma(const qvFilterBlock& block, const qvGammaTables& tables) {
    uint8_t full[3][256];
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 256; ++i) {
            full[c][i] = tables.channel[c] != nullptr ? tables.channel[c][i] : uint8_t(i);
        }
    }
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { GammaSpan(v, n, full); });
}

template <int Bytes>
void Contrast(const qvFilterBlock& block, int32_t sign) {
    double brightness[256];
    for (int i = 0; i < 256; ++i) {
        double b = i / 255.0;
        b = b + 0.5 * sign * (0.5 * (std::sin(std::numbers::pi * (b - 0.5)) + 1) - b);
        brightness[i] = std::clamp(b, 0.0, 1.0);
    }
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { ContrastSpan(v, n, brightness); });
}

template <int Bytes>
void Sepia(const qvFilterBlock& block, int32_t threshold) {
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { SepiaSpan(v, n, threshold); });
}

template <int Bytes>
void Modulate(const qvFilterBlock& block, const qvModulation& modulation) {
    ForEachSpan<Bytes>(block, [&](uint32_t* v, int32_t n) { ModulateSpan(v, n, modulation); });
}

// Invert and monochrome write whole pixel values.
template <int Bytes, typename Fn>
void ForEachPixel(const qvFilterBlock& b, Fn&& fn) {
    for (int32_t y = 0; y < b.height; ++y) {
        uint8_t* p = PixelAt(b.base, b.rowLength, Bytes, 0, y);
        for (int32_t x = 0; x < b.width; ++x, p += Bytes) fn(p, x, y);
    }
}

template <int Bytes>
void Invert(const qvFilterBlock& block) {
    constexpr uint32_t kAll = Bytes == 4 ? 0xFFFFFFFFu : Bytes == 3 ? 0xFFFFFFu : 0xFFFFu;
    if (BytesPerPixel(block.format) != Bytes) return;
    ForEachPixel<Bytes>(block, [](uint8_t* p, int32_t, int32_t) {
        StorePixel(p, Bytes, LoadPixel(p, Bytes) ^ kAll);
    });
}

template <int Bytes>
void Monochrome(const qvFilterBlock& block, const uint8_t* indices, int32_t blackIndex) {
    VisitDepth<Bytes>(block.format, [&](auto f) {
        const uint32_t white = Bytes == 2 ? 0xFFFFu : f.Pack(0xFFFFFF);
        ForEachPixel<Bytes>(block, [&](uint8_t* p, int32_t x, int32_t y) {
            const uint8_t index = indices[ptrdiff_t(y) * block.width + x];
            StorePixel(p, Bytes, index == blackIndex ? 0 : white);
        });
    });
}

// s + (((d - s) x keep) >> 8) per channel is MixBytes(s, d, 256 - keep). Spans of 4-byte
// pixels blend their colour bytes in place in a loop that GCC vectorises (AVX2 where the CPU
// has it); the alpha byte becomes 0, as the colour filters leave it. The colour bytes sit
// above the alpha byte (shift 8) or below it (shift 0).
QV_CLONES("avx2", "default")
void MixSpan32(const uint32_t* s, uint32_t* d, int32_t n, uint32_t a, int shift) {
    for (int32_t i = 0; i < n; ++i) {
        d[i] = MixBytes((s[i] >> shift) & 0xFFFFFF, (d[i] >> shift) & 0xFFFFFF, a) << shift;
    }
}

// Calls span(x, n) for every run of set bits in a mask row from bit maskX on, or once for
// the whole width without a mask.
template <typename Span>
void ForEachMaskRun(const uint8_t* mask, int32_t maskX, int32_t width, Span&& span) {
    if (mask == nullptr) {
        span(0, width);
        return;
    }
    for (int32_t x = 0; x < width;) {
        if (!MaskBit(mask, maskX + x)) {
            ++x;
            continue;
        }
        int32_t end = x + 1;
        while (end < width && MaskBit(mask, maskX + end)) ++end;
        span(x, end - x);
        x = end;
    }
}

// Mix gates every pixel by the mask, so unmasked pixels keep their whole value.
template <int Bytes>
void Mix(const qvMixBlock& b) {
    VisitDepth<Bytes>(b.format, [&](auto f) {
        using F = decltype(f);
        const uint32_t weight = uint32_t(b.ratio) + 1;  // the source's, of 256
        for (int32_t y = 0; y < b.height; ++y) {
            const uint8_t* s = PixelAt(b.sourceBase, b.sourceRowLength, Bytes, 0, y);
            uint8_t* d = PixelAt(b.destBase, b.destRowLength, Bytes, 0, y);
            const uint8_t* mask =
                b.maskRow != nullptr ? PlaneRow(b.maskRow, b.maskBytesPerRow, y) : nullptr;
            ForEachMaskRun(mask, b.maskX, b.width, [&](int32_t x, int32_t n) {
                if constexpr (Bytes == 4) {
                    MixSpan32(reinterpret_cast<const uint32_t*>(s) + x,
                              reinterpret_cast<uint32_t*>(d) + x, n, weight,
                              F::alphaMask == 0xFF ? 8 : 0);
                } else {
                    for (int32_t k = x; k < x + n; ++k) {
                        const uint32_t sv = F::Unpack(LoadPixel(s + k * Bytes, Bytes));
                        const uint32_t dv = F::Unpack(LoadPixel(d + k * Bytes, Bytes));
                        StorePixel(d + k * Bytes, Bytes, F::Pack(MixBytes(sv, dv, weight)));
                    }
                }
            });
        }
    });
}

// Normalize: the histogram of the truncated intensity and the stretch of red, green and blue.
struct Stretch {
    int32_t low, high;
};

QV_CLONES("fma", "default") void CountIntensities(uint32_t* v, int32_t n, int64_t* histogram) {
    for (int32_t i = 0; i < n; ++i) ++histogram[IntensityOf(v[i])];
}

Stretch FindStretch(const int64_t (&histogram)[256], int64_t black, int64_t white, int64_t total) {
    Stretch s{255, 0};
    int64_t count = 0;
    for (int32_t bin = 0; bin < 256; ++bin) {
        count += histogram[bin];
        if (count > black) {
            s.low = bin;
            break;
        }
    }
    count = 0;
    for (int32_t bin = 255; bin >= 0; --bin) {
        count += histogram[bin];
        if (count > total - white) {
            s.high = bin;
            break;
        }
    }
    return s;
}

template <int Bytes>
void Normalize(const qvNormalizeBlock& b) {
    const qvFilterBlock block{b.base, b.width, b.height, b.rowLength, b.format};
    int64_t histogram[256] = {};
    ForEachSpan<Bytes, false>(block,
                              [&](uint32_t* v, int32_t n) { CountIntensities(v, n, histogram); });
    const Stretch s =
        FindStretch(histogram, b.blackCount, b.whiteCount, int64_t(b.width) * b.height);
    if (s.low >= s.high) return;
    uint8_t map[256];
    for (int32_t v = 0; v < 256; ++v) {
        map[v] = v < s.low ? 0 : v > s.high ? 255 : uint8_t((v - s.low) * 255 / (s.high - s.low));
    }
    qvGammaTables tables{{map, map, map}};
    Gamma<Bytes>(block, tables);
}

}  // namespace
}  // namespace qv

void RGBToHSB(uint8_t r, uint8_t g, uint8_t b, double* hue, double* saturation,
              double* brightness) {
    const int32_t max = std::max({r, g, b}), min = std::min({r, g, b});
    *hue = *saturation = *brightness = 0;
    if (max == 0) return;
    const int32_t delta = max - min;
    *brightness = max / 255.0;
    *saturation = double(delta) / max;
    if (delta == 0) return;
    double h = r == max   ? double(g - b) / delta
               : g == max ? 2 + double(b - r) / delta
                          : 4 + double(r - g) / delta;
    h /= 6;
    *hue = h < 0 ? h + 1 : h;
}

void HSBToRGB(double hue, double saturation, double brightness, uint8_t* r, uint8_t* g,
              uint8_t* b) {
    using qv::Clamp255;
    if (saturation == 0) {
        *r = *g = *b = uint8_t(Clamp255(255 * brightness));
        return;
    }
    double turn = hue - std::floor(hue);
    if (!(turn >= 0 && turn < 1)) turn = 0;  // non-finite hues and rounding up to 1
    const double h6 = turn * 6;
    const double f = h6 - std::floor(h6);
    const double p = (1 - saturation) * brightness;
    const double q = (1 - saturation * f) * brightness;
    const double t = (1 - saturation * (1 - f)) * brightness;
    double red, green, blue;
    switch (int32_t(h6)) {
        case 1:
            red = q, green = brightness, blue = p;
            break;
        case 2:
            red = p, green = brightness, blue = t;
            break;
        case 3:
            red = p, green = q, blue = brightness;
            break;
        case 4:
            red = t, green = p, blue = brightness;
            break;
        case 5:
            red = brightness, green = p, blue = q;
            break;
        default:
            red = brightness, green = t, blue = p;
            break;
    }
    *r = uint8_t(Clamp255(255 * red));
    *g = uint8_t(Clamp255(255 * green));
    *b = uint8_t(Clamp255(255 * blue));
}

void RGBToHSL(uint8_t r, uint8_t g, uint8_t b, double* hue, double* saturation, double* lightness) {
    const double red = r / 255.0, green = g / 255.0, blue = b / 255.0;
    const double max = std::max({red, green, blue}), min = std::min({red, green, blue});
    *lightness = (max + min) / 2;
    *hue = *saturation = 0;
    if (max == min) return;
    const double delta = max - min;
    *saturation = *lightness < 0.5 ? delta / (max + min) : delta / (2 - max - min);
    auto distance = [&](double x) { return ((max - x) / 6 + delta / 2) / delta; };
    const double dr = distance(red), dg = distance(green), db = distance(blue);
    double h = red == max ? db - dg : green == max ? 1.0 / 3 + dr - db : 2.0 / 3 + dg - dr;
    if (h < 0) h += 1;
    if (h > 1) h -= 1;
    *hue = h;
}

void HSLToRGB(double hue, double saturation, double lightness, uint8_t* r, uint8_t* g, uint8_t* b) {
    using qv::Clamp255;
    if (saturation == 0) {
        *r = *g = *b = uint8_t(Clamp255(255 * lightness));
        return;
    }
    const double m2 = lightness <= 0.5 ? lightness * (1 + saturation)
                                       : lightness + saturation - lightness * saturation;
    const double m1 = 2 * lightness - m2;
    auto channel = [m1, m2](double h) {
        if (h < 0) h += 1;
        if (h > 1) h -= 1;
        double v = m1;
        if (6 * h < 1) {
            v = m1 + (m2 - m1) * 6 * h;
        } else if (2 * h < 1) {
            v = m2;
        } else if (3 * h < 2) {
            v = m1 + (m2 - m1) * (2.0 / 3 - h) * 6;
        }
        return uint8_t(Clamp255(255 * v));
    };
    *r = channel(hue + 1.0 / 3);
    *g = channel(hue);
    *b = channel(hue - 1.0 / 3);
}

#define QV_FILTER_DEPTHS(Name, Impl, Params, Args) \
    void Name##Pixels32 Params {                   \
        qv::Impl<4> Args;                          \
    }                                              \
    void Name##Pixels24 Params {                   \
        qv::Impl<3> Args;                          \
    }                                              \
    void Name##Pixels16 Params {                   \
        qv::Impl<2> Args;                          \
    }

QV_FILTER_DEPTHS(Invert, Invert, (const qvFilterBlock& block), (block))
QV_FILTER_DEPTHS(Gray, Gray, (const qvFilterBlock& block, int32_t threshold), (block, threshold))
QV_FILTER_DEPTHS(Tint, Tint, (const qvFilterBlock& block, uint32_t colour, int32_t level),
                 (block, colour, level))
QV_FILTER_DEPTHS(Mix, Mix, (const qvMixBlock& block), (block))
QV_FILTER_DEPTHS(Solarize, Solarize, (const qvFilterBlock& block, int32_t level), (block, level))
QV_FILTER_DEPTHS(Gamma, Gamma, (const qvFilterBlock& block, const qvGammaTables& tables),
                 (block, tables))
QV_FILTER_DEPTHS(Contrast, Contrast, (const qvFilterBlock& block, int32_t sign), (block, sign))
QV_FILTER_DEPTHS(Sepia, Sepia, (const qvFilterBlock& block, int32_t threshold), (block, threshold))
QV_FILTER_DEPTHS(Monochrome, Monochrome,
                 (const qvFilterBlock& block, const uint8_t* indices, int32_t blackIndex),
                 (block, indices, blackIndex))
QV_FILTER_DEPTHS(Modulate, Modulate, (const qvFilterBlock& block, const qvModulation& modulation),
                 (block, modulation))

#undef QV_FILTER_DEPTHS

void NormalizePixels(const qvNormalizeBlock& block) {
    switch (block.bytesPerPixel) {
        case 2:
            qv::Normalize<2>(block);
            break;
        case 3:
            qv::Normalize<3>(block);
            break;
        case 4:
            qv::Normalize<4>(block);
            break;
        default:
            break;
    }
}
