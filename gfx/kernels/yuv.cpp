// YUV 4:2:0 frame conversion and the plain copies of the video back end.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/kernels.h"
#include "gfx/kernels/rows.h"

namespace qv {
namespace {

// One channel of the formula: (luma x Y + u x U + v x V + offset) / divisor, truncated and
// clamped to 0..255.
struct Coefficients {
    int32_t luma, u, v, offset, divisor;
};

constexpr Coefficients kRed{1904000, 0, 2609823, -363703744, 1635200};
constexpr Coefficients kGreen{3827562, -1287801, -2672387, 447306710, 3287200};
constexpr Coefficients kBlue{952000, 1649289, 0, -225932192, 817600};

struct Range {
    int64_t low, high;
};

// The chroma part of a numerator over 8-bit U and V; it is linear, so its extremes lie at
// the corners.
constexpr Range ChromaRange(const Coefficients& c) {
    const int64_t u = int64_t(c.u) * 255, v = int64_t(c.v) * 255;
    return {c.offset + std::min<int64_t>(u, 0) + std::min<int64_t>(v, 0),
            c.offset + std::max<int64_t>(u, 0) + std::max<int64_t>(v, 0)};
}

// The portable row holds whole numerators in int32.
constexpr bool NumeratorFitsInt32(const Coefficients& c) {
    const Range chroma = ChromaRange(c);
    return chroma.low >= INT32_MIN && chroma.high + int64_t(c.luma) * 255 <= INT32_MAX;
}
static_assert(NumeratorFitsInt32(kRed) && NumeratorFitsInt32(kGreen) && NumeratorFitsInt32(kBlue));

constexpr int32_t ChromaTerm(const Coefficients& c, int32_t u, int32_t v) {
    return c.u * u + c.v * v + c.offset;
}

// The chroma terms are shared by the 2 x 2 pixels of one chroma sample.
struct Chroma {
    int32_t r, g, b;
};

inline Chroma ChromaTerms(int32_t u, int32_t v) {
    return {ChromaTerm(kRed, u, v), ChromaTerm(kGreen, u, v), ChromaTerm(kBlue, u, v)};
}

inline uint32_t Channel(const Coefficients& c, int32_t y, int32_t chroma) {
    const int32_t numerator = c.luma * y + chroma;
    if (numerator <= 0) return 0;
    return std::min(uint32_t(numerator) / uint32_t(c.divisor), 255u);
}

inline uint32_t LumaPixel(int32_t y, Chroma c) {
    return (Channel(kRed, y, c.r) << 16) | (Channel(kGreen, y, c.g) << 8) | Channel(kBlue, y, c.b);
}

// One row of 0x00RRGGBB pixel by pixel: the reference of the vector row, and its tail.
void RGBRowPortable(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t* dest,
                    int32_t width) {
    for (int32_t i = 0; i < width; ++i) {
        dest[i] = LumaPixel(y[i], ChromaTerms(u[i >> 1], v[i >> 1]));
    }
}

// The one or two luma rows that share a chroma row, and their rows of 0x00RRGGBB.
struct LumaRows {
    const uint8_t* y[2];
    uint32_t* dest[2];
    int count;
};

LumaRows Advance(LumaRows rows, int32_t pixels) {
    for (int r = 0; r < rows.count; ++r) rows.y[r] += pixels, rows.dest[r] += pixels;
    return rows;
}

void RGBRowsPortable(const LumaRows& rows, const uint8_t* u, const uint8_t* v, int32_t width) {
    for (int r = 0; r < rows.count; ++r) RGBRowPortable(rows.y[r], u, v, rows.dest[r], width);
}

#if defined(__x86_64__)
// The AVX2 rows. Every channel has luma / divisor close to 85 / 73: 73 x luma = 85 x divisor
// + rest, with rest 0 for red and blue and 26 for green. With 73 above and below,
//   channel = floor((85 x Y + W) / 73),  W = floor((rest x Y + 73 x chroma term) / divisor),
// because 85 x Y is whole; W = K + [rest x Y >= S] with K = floor(73 x term / divisor) and
// S = divisor - (73 x term mod divisor), both per chroma sample. Biased by 277 x 73 (taken off
// after the division), 85 x Y + W fits 16 bits, so sixteen pixels go per vector and the byte
// multiplies serve Y. Floor and the formula's truncation agree once clamped to 0..255.
constexpr int32_t kRatioLuma = 85, kRatioDivisor = 73, kBias = 277;

constexpr int64_t Rest(const Coefficients& c) {
    return int64_t(kRatioDivisor) * c.luma - int64_t(kRatioLuma) * c.divisor;
}

constexpr int64_t FloorDivide(int64_t n, int64_t d) {
    return n / d - (n % d < 0 ? 1 : 0);
}

// K of a chroma term, biased.
constexpr int64_t BiasedK(const Coefficients& c, int64_t term) {
    return FloorDivide(kRatioDivisor * (term + int64_t(kBias) * c.divisor), c.divisor);
}

// The ranges that the 16-bit lanes and the byte multiplies rely on.
constexpr bool Reduces(const Coefficients& c) {
    const Range chroma = ChromaRange(c);
    return Rest(c) >= 0 && Rest(c) < 128 && Rest(c) * 255 < c.divisor &&
           BiasedK(c, chroma.low) >= 0 && BiasedK(c, chroma.high) + 1 + kRatioLuma * 255 <= 0xFFFF;
}
static_assert(Reduces(kRed) && Reduces(kBlue) && Reduces(kGreen));
static_assert(Rest(kRed) == 0 && Rest(kBlue) == 0 && kRatioLuma < 128);

// Red and blue read one chroma input x each, and their K is (x * multiplier + addend) >>
// shift in int32 for all 256 inputs: the search keeps the addends that give every K exactly.
struct FixedPoint {
    int32_t multiplier, addend, shift;
};

constexpr FixedPoint FindFixedPoint(const Coefficients& c) {
    if ((c.u == 0) == (c.v == 0)) return {0, 0, 0};
    const int64_t coefficient = c.u + c.v;
    for (int32_t shift = 1; shift < 16; ++shift) {
        const int64_t slope = FloorDivide(kRatioDivisor * coefficient << shift, c.divisor);
        for (int64_t multiplier = slope - 2; multiplier <= slope + 2; ++multiplier) {
            int64_t low = INT64_MIN, high = INT64_MAX;
            for (int32_t x = 0; x < 256; ++x) {
                const int64_t k = BiasedK(c, coefficient * x + c.offset);
                low = std::max(low, (k << shift) - multiplier * x);
                high = std::min(high, ((k + 1) << shift) - 1 - multiplier * x);
            }
            if (low <= high && low >= 0 && multiplier * 255 + low <= INT32_MAX) {
                return {int32_t(multiplier), int32_t(low), shift};
            }
        }
    }
    return {0, 0, 0};
}
static_assert(FindFixedPoint(kRed).shift != 0 && FindFixedPoint(kBlue).shift != 0);

// Green's K and S: 73 x (term + bias) splits into divisor x (Au U + Av V + A0) plus
// Bu U + Bv V + B0 with every B in 0..divisor - 1; the B part is divided exactly in int32.
struct Split {
    int32_t whole, part;
};

constexpr Split SplitByDivisor(int64_t k, int64_t divisor) {
    const int64_t whole = FloorDivide(k, divisor);
    return {int32_t(whole), int32_t(k - whole * divisor)};
}

constexpr Split kGreenU = SplitByDivisor(int64_t(kRatioDivisor) * kGreen.u, kGreen.divisor);
constexpr Split kGreenV = SplitByDivisor(int64_t(kRatioDivisor) * kGreen.v, kGreen.divisor);
constexpr Split kGreen0 = SplitByDivisor(
    kRatioDivisor * (kGreen.offset + int64_t(kBias) * kGreen.divisor), kGreen.divisor);
constexpr int64_t kGreenPartMax = 255 * (int64_t(kGreenU.part) + kGreenV.part) + kGreen0.part;
static_assert(kGreenPartMax + kGreen.divisor < INT32_MAX && kGreenPartMax / kGreen.divisor < 4096);
// rest x Y >= S tests as rest x Y > S - 1, with S - 1 capped at the largest rest x Y.
constexpr int32_t kGreenRestMax = int32_t(Rest(kGreen)) * 255;

// x / 73 for every 16-bit x as the high half of x x kDivide73, shifted right by 6.
constexpr uint32_t kDivide73 = (1u << 22) / kRatioDivisor + 1;

constexpr bool Divides73() {
    for (uint32_t x = 0; x <= 0xFFFF; ++x) {
        if (((x * kDivide73) >> 22) != x / kRatioDivisor) return false;
    }
    return kDivide73 <= 0xFFFF;
}
static_assert(Divides73());

#define QV_AVX2 __attribute__((target("avx2,fma")))

// Eight chroma samples widened to int32 lanes in the order 0, 1, 4, 5 | 2, 3, 6, 7, which
// Spread16 turns into the luma order (below).
QV_AVX2 inline __m256i LoadChroma8(const uint8_t* samples) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples));
    return _mm256_cvtepu8_epi32(
        _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 0, 0, 0, 0, 0, 0, 0, 0)));
}

QV_AVX2 inline __m256i Multiply(__m256i x, int32_t k) {
    return _mm256_mullo_epi32(x, _mm256_set1_epi32(k));
}

// n = divisor x quotient + remainder exactly, for 0 <= n < 2^31 - divisor and quotients below
// 2^12: n / divisor + 1/2 in float is then off by less than 2^-9, so its truncation is the
// quotient or one above it, and the remainder decides.
struct DivMod {
    __m256i quotient, remainder;
};

template <int32_t D>
QV_AVX2 inline DivMod DivideExactly(__m256i n) {
    const __m256 estimate =
        _mm256_fmadd_ps(_mm256_cvtepi32_ps(n), _mm256_set1_ps(1.0f / D), _mm256_set1_ps(0.5f));
    const __m256i q = _mm256_cvttps_epi32(estimate);
    const __m256i rest = _mm256_sub_epi32(n, Multiply(q, D));
    const __m256i over = _mm256_srai_epi32(rest, 31);
    return {_mm256_add_epi32(q, over),
            _mm256_add_epi32(rest, _mm256_and_si256(over, _mm256_set1_epi32(D)))};
}

// Two sets of eight values of 0..65535 in int32 lanes of the chroma order, each value twice
// in 16-bit lanes of the luma order.
struct SpreadPair {
    __m256i first, second;
};

QV_AVX2 inline SpreadPair Spread16(__m256i first, __m256i second) {
    const __m256i packed = _mm256_packus_epi32(first, second);
    return {_mm256_unpacklo_epi16(packed, packed), _mm256_unpackhi_epi16(packed, packed)};
}

template <const Coefficients& C>
QV_AVX2 inline __m256i FixedPointK(__m256i u, __m256i v) {
    constexpr FixedPoint f = FindFixedPoint(C);
    const __m256i x = C.u != 0 ? u : v;
    return _mm256_srai_epi32(
        _mm256_add_epi32(Multiply(x, f.multiplier), _mm256_set1_epi32(f.addend)), f.shift);
}

// What eight chroma samples give the sixteen pixels under them in each of their rows.
struct ChromaVectors {
    __m256i red, blue, green, greenLimit;  // K of each channel; S - 1 of green
};

QV_AVX2 inline ChromaVectors Chroma16(const uint8_t* u, const uint8_t* v) {
    const __m256i cu = LoadChroma8(u), cv = LoadChroma8(v);
    const DivMod part = DivideExactly<kGreen.divisor>(
        _mm256_add_epi32(_mm256_add_epi32(Multiply(cu, kGreenU.part), Multiply(cv, kGreenV.part)),
                         _mm256_set1_epi32(kGreen0.part)));
    const __m256i green =
        _mm256_add_epi32(_mm256_add_epi32(Multiply(cu, kGreenU.whole), Multiply(cv, kGreenV.whole)),
                         _mm256_add_epi32(part.quotient, _mm256_set1_epi32(kGreen0.whole)));
    const __m256i limit =
        _mm256_min_epi32(_mm256_sub_epi32(_mm256_set1_epi32(kGreen.divisor - 1), part.remainder),
                         _mm256_set1_epi32(kGreenRestMax));
    const SpreadPair redBlue = Spread16(FixedPointK<kRed>(cu, cv), FixedPointK<kBlue>(cu, cv));
    const SpreadPair greenLimit = Spread16(green, limit);
    return {redBlue.first, redBlue.second, greenLimit.first, greenLimit.second};
}

// floor(n / 73) less the bias, saturated below at 0.
QV_AVX2 inline __m256i Channel16(__m256i n) {
    const __m256i q =
        _mm256_srli_epi16(_mm256_mulhi_epu16(n, _mm256_set1_epi16(int16_t(kDivide73))), 6);
    return _mm256_subs_epu16(q, _mm256_set1_epi16(kBias));
}

// Sixteen pixels from 16-bit channels in the luma order. The packs saturate to 0..255; two
// rounds of interleaving give pixels 0-7 and 8-15 as bytes B, G, R, 0.
QV_AVX2 inline void Store16(__m256i red, __m256i green, __m256i blue, uint32_t* dest) {
    const __m256i blueRed = _mm256_packus_epi16(blue, red);
    const __m256i greenZero = _mm256_packus_epi16(green, _mm256_setzero_si256());
    const __m256i blueGreen = _mm256_unpacklo_epi8(blueRed, greenZero);
    const __m256i redZero = _mm256_unpackhi_epi8(blueRed, greenZero);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest),
                        _mm256_unpacklo_epi16(blueGreen, redZero));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + 8),
                        _mm256_unpackhi_epi16(blueGreen, redZero));
}

// The 16-bit lanes hold pixels 0-3, 8-11 | 4-7, 12-15, the order from which the interleaving
// of Store16 gives them back in sequence.
QV_AVX2 inline void Pixels16(const uint8_t* y, const ChromaVectors& c, uint32_t* dest) {
    const __m256i luma = _mm256_permute4x64_epi64(
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y))), 0xD8);
    // Byte products: the 16-bit lanes hold Y in their low byte, 0 above it.
    const __m256i luma85 = _mm256_maddubs_epi16(luma, _mm256_set1_epi16(kRatioLuma));
    const __m256i restY = _mm256_maddubs_epi16(luma, _mm256_set1_epi16(int16_t(Rest(kGreen))));
    const __m256i greenW = _mm256_sub_epi16(c.green, _mm256_cmpgt_epi16(restY, c.greenLimit));
    Store16(Channel16(_mm256_add_epi16(luma85, c.red)), Channel16(_mm256_add_epi16(luma85, greenW)),
            Channel16(_mm256_add_epi16(luma85, c.blue)), dest);
}

// Sixteen pixels per step and row; the chroma work is shared by both rows.
QV_AVX2 void RGBRowsAVX2(const LumaRows& rows, const uint8_t* u, const uint8_t* v, int32_t width) {
    const LumaRows local = rows;
    int32_t i = 0;
    for (; i + 16 <= width; i += 16) {
        const ChromaVectors c = Chroma16(u + i / 2, v + i / 2);
        Pixels16(local.y[0] + i, c, local.dest[0] + i);
        if (local.count == 2) Pixels16(local.y[1] + i, c, local.dest[1] + i);
    }
    RGBRowsPortable(Advance(local, i), u + i / 2, v + i / 2, width - i);
}
#endif

using RowsFunction = void (*)(const LumaRows&, const uint8_t*, const uint8_t*, int32_t);

// The AVX2 rows where the CPU has them; the portable rows are their reference and fallback.
RowsFunction ChooseRGBRows() {
#if defined(__x86_64__)
    if (HasAvx2Fma()) return RGBRowsAVX2;
#endif
    return RGBRowsPortable;
}

// Chroma at x >> 1 of the shared chroma row.
void RGBRows(const LumaRows& rows, const uint8_t* u, const uint8_t* v, int32_t width) {
    static const RowsFunction convert = ChooseRGBRows();
    convert(rows, u, v, width);
}

// Rows j and j + 1 (if the frame has it) from their chroma row. Format 10 takes the rows as
// they are; other formats pack them from scratch rows.
template <typename F>
void UnscaledRows(const qvYUVFrameBlock& k, int32_t j) {
    const uint8_t* u = PlaneRow(k.planeU, k.strideU, j >> 1);
    const uint8_t* v = PlaneRow(k.planeV, k.strideV, j >> 1);
    const int count = std::min(2, k.height - j);
    auto luma = [&](int r) { return PlaneRow(k.planeY, k.strideY, j + r); };
    auto dest = [&](int r) { return PixelAt(k.destBase, k.destRowLength, F::bytes, 0, j + r); };
    if constexpr (F::code == QV_FMT_A8R8G8B8) {
        auto rgb = [&](int r) { return reinterpret_cast<uint32_t*>(dest(r)); };
        RGBRows({{luma(0), luma(count - 1)}, {rgb(0), rgb(count - 1)}, count}, u, v, k.width);
    } else {
        constexpr int32_t kChunk = 512;
        uint32_t rgb[2][kChunk];
        for (int32_t base = 0; base < k.width; base += kChunk) {
            const int32_t width = std::min(kChunk, k.width - base);
            RGBRows({{luma(0) + base, luma(count - 1) + base}, {rgb[0], rgb[1]}, count},
                    u + base / 2, v + base / 2, width);
            for (int r = 0; r < count; ++r) {
                for (int32_t i = 0; i < width; ++i) {
                    StorePixel(dest(r) + ptrdiff_t(base + i) * F::bytes, F::bytes,
                               F::Pack(rgb[r][i]));
                }
            }
        }
    }
}

template <typename F>
void ScaledRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dest, int32_t width,
               uint64_t step) {
    uint64_t position = 0;
    int32_t i = 0;
    auto pixel = [&] {
        uint64_t sx = position >> 16;
        StorePixel(dest + ptrdiff_t(i) * F::bytes, F::bytes,
                   F::Pack(LumaPixel(y[sx], ChromaTerms(u[sx >> 1], v[sx >> 1]))));
        position += step;
        ++i;
    };
    for (int32_t rest = width & 7; rest > 0; --rest) pixel();
    while (i < width) {
#pragma GCC unroll 8
        for (int n = 0; n < 8; ++n) pixel();
    }
}

// Runs fn(Format) for the block's destination format when its bytes per pixel agree.
template <typename Fn>
void WithDestFormat(const qvYUVFrameBlock& k, Fn&& fn) {
    if (k.bytesPerPixel != BytesPerPixel(k.destFormat)) return;
    VisitFormat(k.destFormat, fn);
}

}  // namespace

uint32_t YUVToRGB(int32_t y, int32_t u, int32_t v) {
    return LumaPixel(y, ChromaTerms(u, v));
}

}  // namespace qv

void ConvertYUVFrameUnscaled(const qvYUVFrameBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    qv::WithDestFormat(k, [&](auto f) {
        for (int32_t j = 0; j < k.height; j += 2) qv::UnscaledRows<decltype(f)>(k, j);
    });
}

void ConvertYUVFrame(const qvYUVFrameBlock& k) {
    if (k.width < 1 || k.height < 1 || k.destWidth < 1 || k.destHeight < 1) return;
    // 64-bit steps: 32-bit 16.16 positions overflow from a 32768-pixel source on.
    uint64_t stepX = (uint64_t(k.width) << 16) / uint64_t(k.destWidth);
    uint64_t stepY = (uint64_t(k.height) << 16) / uint64_t(k.destHeight);
    qv::WithDestFormat(k, [&](auto f) {
        for (int32_t j = 0; j < k.destHeight; ++j) {
            auto sy = int32_t((uint64_t(j) * stepY) >> 16);
            qv::ScaledRow<decltype(f)>(
                qv::PlaneRow(k.planeY, k.strideY, sy), qv::PlaneRow(k.planeU, k.strideU, sy >> 1),
                qv::PlaneRow(k.planeV, k.strideV, sy >> 1),
                qv::PixelAt(k.destBase, k.destRowLength, f.bytes, 0, j), k.destWidth, stepX);
        }
    });
}

void CopyYUVPlanes(const uint8_t* planeY, const uint8_t* planeU, const uint8_t* planeV,
                   int32_t strideY, int32_t strideU, int32_t strideV, uint8_t* dest,
                   int32_t destStrideY, int32_t destStrideUV, int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    int32_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    for (int32_t j = 0; j < height; ++j) {
        std::memcpy(dest + ptrdiff_t(j) * destStrideY, qv::PlaneRow(planeY, strideY, j), width);
    }
    uint8_t* destU = dest + ptrdiff_t(height) * destStrideY;
    uint8_t* destV = destU + ptrdiff_t(chromaHeight) * destStrideUV;
    for (int32_t j = 0; j < chromaHeight; ++j) {
        std::memcpy(destU + ptrdiff_t(j) * destStrideUV, qv::PlaneRow(planeU, strideU, j),
                    chromaWidth);
        std::memcpy(destV + ptrdiff_t(j) * destStrideUV, qv::PlaneRow(planeV, strideV, j),
                    chromaWidth);
    }
}

void CopyRows16(const void* source, int32_t sourceStride, void* dest, int32_t destStride,
                int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        std::memcpy(static_cast<uint8_t*>(dest) + ptrdiff_t(j) * destStride,
                    static_cast<const uint8_t*>(source) + ptrdiff_t(j) * sourceStride,
                    size_t(width) * 2);
    }
}
