// ScalePixels: nearest neighbour and bilinear scaling of pixels, masks and alpha planes.
#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/rows.h"
#include "gfx/kernels/template_clones.h"
#include "gfx/pixel_format.h"
#include "gfx/scale.h"

namespace qv {
namespace {

// Nearest columns: a 16.16 position growing by a fixed step (64 bits: sources from 32768
// pixels wide overflow 32-bit positions).
struct StepColumns {
    int64_t step;
    int64_t position = 0;
    int64_t Next() {
        const int64_t column = position >> 16;
        position += step;
        return column;
    }
};

// Nearest rows: the integer part of a single-precision accumulator growing by the factor,
// held below the last row where float drift would carry it onto the row after it.
struct FloatRows {
    float factor;
    int32_t last;
    float accumulator = 0;
    int32_t Next() {
        const int32_t row = std::min(int32_t(accumulator), last);
        accumulator += factor;
        return row;
    }
};

// Bilinear positions along an axis: the current one, then on by the next integer step.
struct MapWalker {
    const int32_t* steps;
    int64_t position = 0;
    int32_t index = 0;
    int64_t Next() {
        const int64_t current = position;
        position += steps[++index];
        return current;
    }
};

template <int B>
inline void CopyPixel(const uint8_t* source, uint8_t* dest) {
    if constexpr (B == 3) {
        std::memcpy(dest, source, 3);
    } else {
        StorePixel(dest, B, LoadPixel(source, B));
    }
}

template <int B, typename Columns>
void CopyRow(const uint8_t* source, uint8_t* dest, int32_t width, Columns columns) {
    int32_t i = 0;
    for (; i + 8 <= width; i += 8) {
        for (int n = 0; n < 8; ++n) CopyPixel<B>(source + columns.Next() * B, dest + (i + n) * B);
    }
    for (; i < width; ++i) CopyPixel<B>(source + columns.Next() * B, dest + i * B);
}

// Mask bits most significant first; the bits after the width in the last byte stay.
template <typename Columns>
void MaskRow(const uint8_t* source, int32_t bitOffset, uint8_t* dest, int32_t width,
             Columns columns) {
    for (int32_t i = 0; i < width; i += 8) {
        const int32_t n = std::min(8, width - i);
        uint8_t byte = 0;
        for (int32_t k = 0; k < n; ++k) {
            if (MaskBit(source, int32_t(bitOffset + columns.Next()))) byte |= uint8_t(0x80 >> k);
        }
        const uint8_t kept = n < 8 ? uint8_t(dest[i >> 3] & (0xFF >> n)) : 0;
        dest[i >> 3] = byte | kept;
    }
}

template <int B>
void NearestColour(const qvScaleBlock& k, int64_t step, FloatRows rows) {
    const size_t rowBytes = size_t(k.destWidth) * B;
    int32_t previous = -1;
    for (int32_t j = 0; j < k.destHeight; ++j) {
        const int32_t row = rows.Next();
        uint8_t* dest = PixelAt(k.dest, k.destRowLength, B, 0, j);
        if (row == previous) {
            // An enlarged row repeats the one above it.
            std::memcpy(dest, dest - ptrdiff_t(k.destRowLength) * B, rowBytes);
            continue;
        }
        CopyRow<B>(PixelAt(k.source, k.sourceRowLength, B, 0, row), dest, k.destWidth,
                   StepColumns{step});
        previous = row;
    }
}

void NearestPlanes(const qvScaleBlock& k, int64_t step, FloatRows rows) {
    for (int32_t j = 0; j < k.destHeight; ++j) {
        const int32_t row = rows.Next();
        if (k.sourceMask != nullptr && k.destMask != nullptr) {
            MaskRow(PlaneRow(k.sourceMask, k.sourceMaskBytesPerRow, row), k.sourceX,
                    k.destMask + ptrdiff_t(j) * k.destMaskBytesPerRow, k.destWidth,
                    StepColumns{step});
        }
        if (k.sourceAlpha != nullptr && k.destAlpha != nullptr) {
            const uint8_t* source = PlaneRow(k.sourceAlpha, k.sourceAlphaBytesPerRow, row);
            uint8_t* dest = k.destAlpha + ptrdiff_t(j) * k.destAlphaBytesPerRow;
            StepColumns columns{step};
            for (int32_t i = 0; i < k.destWidth; ++i) dest[i] = source[columns.Next()];
        }
    }
}

void Nearest(const qvScaleBlock& k) {
    const float fx = float(k.sourceWidth) / float(k.destWidth);
    const float fy = float(k.sourceHeight) / float(k.destHeight);
    const auto step = int64_t(fx * 65536.0f);
    const FloatRows rows{fy, k.sourceHeight - 1};
    if (k.source != nullptr && k.dest != nullptr) {
        switch (k.bytesPerPixel) {
            case 2:
                NearestColour<2>(k, step, rows);
                break;
            case 3:
                NearestColour<3>(k, step, rows);
                break;
            case 4:
                NearestColour<4>(k, step, rows);
                break;
            default:
                break;
        }
    }
    NearestPlanes(k, step, rows);
}

// steps[i] and fractions[i] for i = 0 .. count - 1 from an accumulator that keeps its
// fraction and grows by delta.
void BuildMap(int32_t* steps, int32_t* fractions, int32_t count, int64_t delta) {
    int64_t accumulator = 0;
    for (int32_t i = 0; i < count; ++i) {
        steps[i] = int32_t(accumulator >> 16);
        fractions[i] = int32_t(accumulator & 0xFFFF);
        accumulator = (accumulator & 0xFFFF) + delta;
    }
}

inline int32_t Lerp(int32_t a, int32_t b, int32_t fraction) {
    return a + (((b - a) * fraction) >> 16);
}

// Per channel of two 0x00RRGGBB values: a + (((b - a) x fraction) >> 16).
inline uint32_t LerpRGB(uint32_t a, uint32_t b, int32_t fraction) {
    uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const auto ca = int32_t((a >> shift) & 255), cb = int32_t((b >> shift) & 255);
        out |= uint32_t(Lerp(ca, cb, fraction)) << shift;
    }
    return out;
}

// One source row interpolated across: each destination column between the source column
// and the one right of it (the same one for a source one pixel wide), as 0x00RRGGBB.
template <typename F>
QV_TEMPLATE_CLONES void Across(const uint8_t* __restrict row, const int32_t* __restrict columns,
                               const int32_t* __restrict fractions, int32_t right, int32_t width,
                               uint32_t* __restrict out) {
    if constexpr (F::bytes == 3) {
        for (int32_t i = 0; i < width; ++i) {
            const uint8_t* p = row + ptrdiff_t(columns[i]) * 3;
            out[i] = LerpRGB(F::Unpack(LoadPixel(p, 3)), F::Unpack(LoadPixel(p + right * 3, 3)),
                             fractions[i]);
        }
    } else if (F::bytes == 2 && right != 0) {
        // A pixel and its right neighbour in one 32-bit word (low half first), one gather
        // per column.
        static_assert(std::endian::native == std::endian::little);
        typedef uint32_t Pair __attribute__((aligned(2), may_alias));
        const auto* pixels = reinterpret_cast<const uint16_t*>(row);
        for (int32_t i = 0; i < width; ++i) {
            const uint32_t pair = *reinterpret_cast<const Pair*>(pixels + columns[i]);
            out[i] = LerpRGB(F::Unpack(pair & 0xFFFF), F::Unpack(pair >> 16), fractions[i]);
        }
    } else {
        // Two gathers with one index, so that the loop vectorises.
        using Word = std::conditional_t<F::bytes == 4, uint32_t, uint16_t>;
        const Word* pixels = reinterpret_cast<const Word*>(row);
        const Word* next = pixels + right;
        for (int32_t i = 0; i < width; ++i) {
            out[i] =
                LerpRGB(F::Unpack(pixels[columns[i]]), F::Unpack(next[columns[i]]), fractions[i]);
        }
    }
}

// The destination row between two rows interpolated across.
template <typename F>
QV_TEMPLATE_CLONES void Down(const uint32_t* __restrict top, const uint32_t* __restrict bottom,
                             int32_t fraction, int32_t width, uint8_t* __restrict dest) {
    for (int32_t i = 0; i < width; ++i) {
        const uint32_t pixel = F::Pack(LerpRGB(top[i], bottom[i], fraction));
        if constexpr (F::bytes == 4) {
            reinterpret_cast<uint32_t*>(dest)[i] = pixel;
        } else if constexpr (F::bytes == 2) {
            reinterpret_cast<uint16_t*>(dest)[i] = uint16_t(pixel);
        } else {
            StorePixel(dest + i * 3, 3, pixel);
        }
    }
}

#if defined(__x86_64__)
#define QV_AVX2 __attribute__((target("avx2")))
// The steps of the row loops, inlined into them (a call per step costs as much as the step).
#define QV_AVX2_STEP __attribute__((target("avx2"), always_inline)) inline

// Eight pixels a step where the CPU has AVX2, each channel in a 16-bit lane with the
// arithmetic of Lerp: the signed high half of (b - a) x f floors as >> 16 does. A fraction
// from 32768 up reads as f - 65536 in a signed lane, so those channels start from b, which
// is a + (b - a): one blend instead of masking the difference and adding it.
QV_AVX2 inline __m256i LerpLanes(__m256i a, __m256i b, __m256i fraction) {
    const __m256i from = _mm256_blendv_epi8(a, b, _mm256_srai_epi16(fraction, 15));
    return _mm256_add_epi16(from, _mm256_mulhi_epi16(_mm256_sub_epi16(b, a), fraction));
}

QV_AVX2 inline __m256i Masked16(__m256i v, int bits) {
    return _mm256_and_si256(v, _mm256_set1_epi16(int16_t(bits)));
}

// The bytes of eight 4-byte pixels in 16-bit lanes: bytes 0 and 2 of each pixel (even), 1
// and 3 (odd). Masks and shifts instead of unpacking, so that the lanes keep column order
// and a result goes back with one shift and one or.
struct Bytes16 {
    __m256i even, odd;
};

QV_AVX2 inline Bytes16 SplitBytes(__m256i v) {
    return {Masked16(v, 0xFF), _mm256_srli_epi16(v, 8)};
}

// The lanes are between two bytes' values, so nothing spills into the odd byte.
QV_AVX2 inline __m256i JoinBytes(Bytes16 v) {
    return _mm256_or_si256(v.even, _mm256_slli_epi16(v.odd, 8));
}

QV_AVX2 inline Bytes16 LerpSplit(Bytes16 a, Bytes16 b, __m256i fraction) {
    return {LerpLanes(a.even, b.even, fraction), LerpLanes(a.odd, b.odd, fraction)};
}

// Every byte of eight 32-bit words between a and b; fraction holds each pixel's fraction
// in both of its 16-bit lanes.
QV_AVX2 inline __m256i LerpBytes(__m256i a, __m256i b, __m256i fraction) {
    return JoinBytes(LerpSplit(SplitBytes(a), SplitBytes(b), fraction));
}

// The shuffle that moves the bytes of each 32-bit pixel as convert moves those of one word
// (a byte permutation that may clear bytes, as the 32-bit Unpack and Pack are).
template <uint32_t (*convert)(uint32_t)>
QV_AVX2 __m256i ByteMoves() {
    const uint32_t moved = convert(0x04030201);
    alignas(32) uint8_t control[32];
    for (int i = 0; i < 32; ++i) {
        const uint32_t from = (moved >> (i % 4 * 8)) & 255;
        control[i] = from == 0 ? 0x80 : uint8_t(i % 16 / 4 * 4 + int(from) - 1);
    }
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(control));
}

// The red, green and blue of sixteen pixels, one per 16-bit lane.
struct Channels {
    __m256i r, g, b;
};

// Sixteen 16-bit pixel values to their channels, as F::Unpack.
template <typename F>
QV_AVX2 Channels Unpack16(__m256i v) {
    if constexpr (F::swapped) v = _mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_srli_epi16(v, 8));
    Channels c{Masked16(_mm256_srli_epi16(v, F::green6 ? 8 : 7), 0xF8),
               Masked16(_mm256_srli_epi16(v, F::green6 ? 3 : 2), F::green6 ? 0xFC : 0xF8),
               Masked16(_mm256_slli_epi16(v, 3), 0xF8)};
    if constexpr (F::blueFirst) std::swap(c.r, c.b);
    return c;
}

// Channels to sixteen 16-bit pixel values, as F::Pack.
template <typename F>
QV_AVX2 __m256i Pack16(Channels c) {
    if constexpr (F::blueFirst) std::swap(c.r, c.b);
    __m256i v = F::green6 ? _mm256_or_si256(Masked16(_mm256_slli_epi16(c.r, 8), 0xF800),
                                            Masked16(_mm256_slli_epi16(c.g, 3), 0x7E0))
                          : _mm256_or_si256(Masked16(_mm256_slli_epi16(c.r, 7), 0x7C00),
                                            Masked16(_mm256_slli_epi16(c.g, 2), 0x3E0));
    v = _mm256_or_si256(v, _mm256_srli_epi16(c.b, 3));
    if constexpr (F::swapped) v = _mm256_or_si256(_mm256_slli_epi16(v, 8), _mm256_srli_epi16(v, 8));
    return v;
}

QV_AVX2 inline Channels LerpChannels(Channels a, Channels b, __m256i fraction) {
    return {LerpLanes(a.r, b.r, fraction), LerpLanes(a.g, b.g, fraction),
            LerpLanes(a.b, b.b, fraction)};
}

// The 16-bit halves of sixteen 32-bit lanes (low or high), packed as _mm256_packus_epi32
// packs: columns 0-3, 8-11, 4-7, 12-15.
template <bool high>
QV_AVX2 inline __m256i Halves(__m256i first, __m256i second) {
    if constexpr (high)
        return _mm256_packus_epi32(_mm256_srli_epi32(first, 16), _mm256_srli_epi32(second, 16));
    const __m256i low = _mm256_set1_epi32(0xFFFF);
    return _mm256_packus_epi32(_mm256_and_si256(first, low), _mm256_and_si256(second, low));
}

QV_AVX2 inline __m256i Load8(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QV_AVX2 inline __m256i Load8(const uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The pixel at each of eight columns and the one right of it, read as one word each (2-byte
// pixels: low half first) or two (4-byte: a pixel word, then its neighbour's). Scalar loads:
// gathers are slower here.
template <int B>
QV_AVX2 inline __m256i PairsAt(const uint8_t* row, const int32_t* columns, int32_t first) {
    auto load = [&](int n) {
        uint64_t pair = 0;
        std::memcpy(&pair, row + ptrdiff_t(columns[n]) * B, 2 * B);
        return int64_t(pair);
    };
    if constexpr (B == 2) {
        return _mm256_setr_epi32(int(load(0)), int(load(1)), int(load(2)), int(load(3)),
                                 int(load(4)), int(load(5)), int(load(6)), int(load(7)));
    } else {
        // Columns first .. first + 1 and first + 4 .. first + 5 (or + 2 .. 3 and + 6 .. 7).
        return _mm256_setr_epi64x(load(first), load(first + 1), load(first + 4), load(first + 5));
    }
}

// Sixteen columns of 2-byte pixels across: pixels, neighbours and fractions all in the order
// Halves packs, which unpacking the channels into 0x00RRGGBB words puts back in column order.
template <typename F>
QV_AVX2_STEP Channels Across16(const uint8_t* row, const int32_t* columns, __m256i fraction) {
    __m256i first, second;
    if (columns[15] - columns[0] == 30) {
        // Columns two apart (halving; a map's steps differ by one at most, so fifteen
        // that sum to 30 are all two): the pairs are the words of the 32 pixels from the
        // first, all inside the row since the last neighbour is.
        const auto* from = reinterpret_cast<const __m256i*>(row + ptrdiff_t(columns[0]) * 2);
        first = _mm256_loadu_si256(from), second = _mm256_loadu_si256(from + 1);
    } else {
        first = PairsAt<2>(row, columns, 0), second = PairsAt<2>(row, columns + 8, 0);
    }
    return LerpChannels(Unpack16<F>(Halves<false>(first, second)),
                        Unpack16<F>(Halves<true>(first, second)), fraction);
}

QV_AVX2_STEP __m256i Fractions16(const int32_t* fractions) {
    return Halves<false>(Load8(fractions), Load8(fractions + 8));
}

template <typename F>
QV_AVX2_STEP void StoreAcross16(const uint8_t* row, const int32_t* columns,
                                const int32_t* fractions, uint32_t* out) {
    const Channels c = Across16<F>(row, columns, Fractions16(fractions));
    const __m256i blueGreen = _mm256_or_si256(_mm256_slli_epi16(c.g, 8), c.b);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_unpacklo_epi16(blueGreen, c.r));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), _mm256_unpackhi_epi16(blueGreen, c.r));
}

// Sixteen 2-byte pixels in the order Halves packs, stored in column order.
QV_AVX2_STEP void StorePixels16(__m256i pixels, uint8_t* dest) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest),
                        _mm256_permute4x64_epi64(pixels, _MM_SHUFFLE(3, 1, 2, 0)));
}

// Eight per-pixel fractions, each in both 16-bit lanes of its pixel.
QV_AVX2_STEP __m256i ExpandFractions(const int32_t* fractions) {
    const __m256i f = Load8(fractions);
    return _mm256_or_si256(f, _mm256_slli_epi32(f, 16));
}

// 128 bits from low and 128 from high, as floats for the two-source shuffle.
QV_AVX2_STEP __m256 TwoLanes(const __m128i* low, const __m128i* high) {
    return _mm256_castsi256_ps(_mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(low)),
                                                       _mm_loadu_si128(high), 1));
}

// The 4-byte pixels at eight columns and those right of them, each in column order.
struct Pixels8 {
    __m256i at, right;
};

// Columns two apart (halving; a map's steps differ by one at most, so seven that sum to 14
// are all two) are the even pixels of the sixteen from the first, their right neighbours the
// odd ones, all inside the row since the last neighbour is: four loads and two shuffles,
// where pairs take eight loads and ten shuffles. Other columns are read as
// pairs: per lane a0 a1 b0 b1 and a2 a3 b2 b3 (a4 .. in the upper lane), then sorted.
QV_AVX2_STEP Pixels8 PixelsAt(const uint8_t* row, const int32_t* columns) {
    if (columns[7] - columns[0] == 14) {
        const auto* from = reinterpret_cast<const __m128i*>(row + ptrdiff_t(columns[0]) * 4);
        const __m256 first = TwoLanes(from, from + 2), second = TwoLanes(from + 1, from + 3);
        return {_mm256_castps_si256(_mm256_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0))),
                _mm256_castps_si256(_mm256_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)))};
    }
    const auto order = _MM_SHUFFLE(3, 1, 2, 0);
    const __m256i low = _mm256_shuffle_epi32(PairsAt<4>(row, columns, 0), order);
    const __m256i high = _mm256_shuffle_epi32(PairsAt<4>(row, columns, 2), order);
    return {_mm256_unpacklo_epi64(low, high), _mm256_unpackhi_epi64(low, high)};
}

// Eight columns of 4-byte pixels across, split.
QV_AVX2_STEP Bytes16 Across8(const uint8_t* row, const int32_t* columns, __m256i fraction) {
    const Pixels8 p = PixelsAt(row, columns);
    return LerpSplit(SplitBytes(p.at), SplitBytes(p.right), fraction);
}

// Across for whole groups of columns; returns how many it made (0 where it has no vector
// form: 3-byte pixels, and sources one pixel wide).
template <typename F>
QV_AVX2 int32_t AcrossAvx2(const uint8_t* row, const int32_t* columns, const int32_t* fractions,
                           int32_t right, int32_t width, uint32_t* out) {
    if (F::bytes == 3 || right == 0) return 0;
    if constexpr (F::bytes == 2) {
        const int32_t whole = width & ~15;
        for (int32_t i = 0; i < whole; i += 16)
            StoreAcross16<F>(row, columns + i, fractions + i, out + i);
        return whole;
    }
    const __m256i unpack = ByteMoves<F::Unpack>();
    const int32_t whole = width & ~7;
    for (int32_t i = 0; i < whole; i += 8) {
        const __m256i c = JoinBytes(Across8(row, columns + i, ExpandFractions(fractions + i)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_shuffle_epi8(c, unpack));
    }
    return whole;
}

// Sixteen columns of 2-byte pixels down, channels in the order Halves packs, put back in
// column order before they are stored.
template <typename F>
QV_AVX2_STEP void Down16(const uint32_t* top, const uint32_t* bottom, __m256i fraction,
                         uint8_t* dest) {
    auto channels = [](const uint32_t* words) QV_AVX2 {
        const __m256i first = Load8(words), second = Load8(words + 8);
        const __m256i blueGreen = Halves<false>(first, second);
        return Channels{Halves<true>(first, second), _mm256_srli_epi16(blueGreen, 8),
                        Masked16(blueGreen, 0xFF)};
    };
    StorePixels16(Pack16<F>(LerpChannels(channels(top), channels(bottom), fraction)), dest);
}

// Down for whole groups of columns; returns how many it made.
template <typename F>
QV_AVX2 int32_t DownAvx2(const uint32_t* top, const uint32_t* bottom, int32_t fraction,
                         int32_t width, uint8_t* dest) {
    if (F::bytes == 3) return 0;
    const __m256i f = _mm256_set1_epi16(int16_t(fraction));
    if constexpr (F::bytes == 2) {
        const int32_t whole = width & ~15;
        for (int32_t i = 0; i < whole; i += 16) Down16<F>(top + i, bottom + i, f, dest + i * 2);
        return whole;
    }
    const __m256i pack = ByteMoves<F::Pack>();
    const int32_t whole = width & ~7;
    for (int32_t i = 0; i < whole; i += 8) {
        const __m256i rgb = LerpBytes(Load8(top + i), Load8(bottom + i), f);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i * 4),
                            _mm256_shuffle_epi8(rgb, pack));
    }
    return whole;
}
template <typename F>
constexpr uint32_t Repack(uint32_t v) {
    return F::Pack(F::Unpack(v));
}

// A destination row straight from its two source rows, neither kept: across each and down in
// registers, the same arithmetic as AcrossAvx2 then DownAvx2. Returns how many columns it
// made (0 where there is no vector form).
template <typename F>
QV_AVX2 int32_t AcrossAndDownAvx2(const uint8_t* top, const uint8_t* bottom, const int32_t* columns,
                                  const int32_t* fractions, int32_t fraction, int32_t width,
                                  uint8_t* dest) {
    if (F::bytes == 3) return 0;
    const __m256i down = _mm256_set1_epi16(int16_t(fraction));
    if constexpr (F::bytes == 2) {
        const int32_t whole = width & ~15;
        for (int32_t i = 0; i < whole; i += 16) {
            const __m256i f = Fractions16(fractions + i);
            const Channels c = LerpChannels(Across16<F>(top, columns + i, f),
                                            Across16<F>(bottom, columns + i, f), down);
            StorePixels16(Pack16<F>(c), dest + i * 2);
        }
        return whole;
    }
    const __m256i repack = ByteMoves<Repack<F>>();
    const int32_t whole = width & ~7;
    for (int32_t i = 0; i < whole; i += 8) {
        const __m256i f = ExpandFractions(fractions + i);
        const Bytes16 upper = Across8(top, columns + i, f), lower = Across8(bottom, columns + i, f);
        const __m256i rgb = JoinBytes(LerpSplit(upper, lower, down));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dest + i * 4),
                            _mm256_shuffle_epi8(rgb, repack));
    }
    return whole;
}
#endif

// Across and Down with their vector forms where the CPU has them, the scalar ones after.
template <typename F>
void AcrossRow(const uint8_t* row, const int32_t* columns, const int32_t* fractions, int32_t right,
               int32_t width, uint32_t* out) {
    int32_t done = 0;
#if defined(__x86_64__)
    if (HasAvx2()) done = AcrossAvx2<F>(row, columns, fractions, right, width, out);
#endif
    Across<F>(row, columns + done, fractions + done, right, width - done, out + done);
}

template <typename F>
void DownRow(const uint32_t* top, const uint32_t* bottom, int32_t fraction, int32_t width,
             uint8_t* dest) {
    int32_t done = 0;
#if defined(__x86_64__)
    if (HasAvx2()) done = DownAvx2<F>(top, bottom, fraction, width, dest);
#endif
    Down<F>(top + done, bottom + done, fraction, width - done, dest + done * F::bytes);
}

// A destination row from source rows row and row + 1 without keeping them (the lines are
// work space for the columns after the vector ones); false where there is no vector form.
template <typename F>
bool AcrossAndDownRow(const qvScaleBlock& k, const int32_t* columns, int32_t row, int32_t j,
                      uint32_t* const lines[2]) {
#if defined(__x86_64__)
    if (!HasAvx2() || k.sourceWidth < 2) return false;
    const uint8_t* top = PixelAt(k.source, k.sourceRowLength, F::bytes, 0, row);
    const uint8_t* bottom = PixelAt(k.source, k.sourceRowLength, F::bytes, 0, row + 1);
    uint8_t* dest = PixelAt(k.dest, k.destRowLength, F::bytes, 0, j);
    const int32_t done = AcrossAndDownAvx2<F>(top, bottom, columns, k.xFractions, k.yFractions[j],
                                              k.destWidth, dest);
    if (done == 0) return false;
    const int32_t rest = k.destWidth - done;
    Across<F>(top, columns + done, k.xFractions + done, 1, rest, lines[0] + done);
    Across<F>(bottom, columns + done, k.xFractions + done, 1, rest, lines[1] + done);
    Down<F>(lines[0] + done, lines[1] + done, k.yFractions[j], rest, dest + done * F::bytes);
    return true;
#else
    return false;
#endif
}

// Rows are interpolated across once each and kept while the destination rows between them
// are made: the top of each pair is p + ((right - p) x fx >> 16) of its source row, the
// same for every destination row that reads it.
template <typename F>
void BilinearColour(const qvScaleBlock& k) {
    const size_t stride = size_t(k.destWidth) + 1;
    auto* columns = reinterpret_cast<int32_t*>(k.rows);
    uint32_t* lines[2] = {k.rows + stride, k.rows + 2 * stride};
    MapWalker across{k.xSteps};
    for (int32_t i = 0; i < k.destWidth; ++i) columns[i] = int32_t(across.Next());
    // A source one pixel wide (high) has steps and fractions 0: its right (lower)
    // neighbour is itself, never the pixel after the rectangle.
    const int32_t right = k.sourceWidth > 1 ? 1 : 0;
    const int64_t below = k.sourceHeight > 1 ? 1 : 0;
    int64_t held[2] = {-1, -1};  // the source rows in lines[0] and lines[1]
    auto hold = [&](int slot, int64_t row) {
        AcrossRow<F>(PixelAt(k.source, k.sourceRowLength, F::bytes, 0, int32_t(row)), columns,
                     k.xFractions, right, k.destWidth, lines[slot]);
        held[slot] = row;
    };
    MapWalker rows{k.ySteps};
    for (int32_t j = 0; j < k.destHeight; ++j) {
        const int64_t row = rows.Next();
        if (held[0] != row && held[1] == row) {
            std::swap(lines[0], lines[1]);
            std::swap(held[0], held[1]);
        }
        // Rows that no later destination row reads (the next starts two or more below) are
        // not kept.
        if (held[0] != row && held[1] != row + below && k.ySteps[j + 1] >= 2 &&
            AcrossAndDownRow<F>(k, columns, int32_t(row), j, lines)) {
            held[0] = held[1] = -1;
            continue;
        }
        if (held[0] != row) hold(0, row);
        if (held[1] != row + below) hold(1, row + below);
        DownRow<F>(lines[0], lines[1], k.yFractions[j], k.destWidth,
                   PixelAt(k.dest, k.destRowLength, F::bytes, 0, j));
    }
}

void BilinearPlanes(const qvScaleBlock& k) {
    const bool mask = k.sourceMask != nullptr && k.destMask != nullptr;
    const bool alpha = k.sourceAlpha != nullptr && k.destAlpha != nullptr;
    const ptrdiff_t below = k.sourceHeight > 1 ? k.sourceAlphaBytesPerRow : 0;
    const int64_t right = k.sourceWidth > 1 ? 1 : 0;
    MapWalker rows{k.ySteps};
    for (int32_t j = 0; j < k.destHeight; ++j) {
        const auto row = int32_t(rows.Next());
        if (mask) {
            MaskRow(PlaneRow(k.sourceMask, k.sourceMaskBytesPerRow, row), k.sourceX,
                    k.destMask + ptrdiff_t(j) * k.destMaskBytesPerRow, k.destWidth,
                    MapWalker{k.xSteps});
        }
        if (!alpha) continue;
        const uint8_t* top = PlaneRow(k.sourceAlpha, k.sourceAlphaBytesPerRow, row);
        uint8_t* dest = k.destAlpha + ptrdiff_t(j) * k.destAlphaBytesPerRow;
        MapWalker columns{k.xSteps};
        for (int32_t i = 0; i < k.destWidth; ++i) {
            const uint8_t* p = top + columns.Next();
            const int32_t fx = k.xFractions[i];
            const int32_t upper = Lerp(p[0], p[right], fx);
            const int32_t lower = Lerp(p[below], p[below + right], fx);
            dest[i] = uint8_t(Lerp(upper, lower, k.yFractions[j]));
        }
    }
}

void Smooth(const qvScaleBlock& k) {
    if (k.xSteps == nullptr || k.xFractions == nullptr || k.ySteps == nullptr ||
        k.yFractions == nullptr || k.rows == nullptr) {
        return;
    }
    BuildMap(k.xSteps, k.xFractions, k.destWidth + 1,
             int64_t(double(k.sourceWidth - 1) * 65536.0 / k.destWidth));
    BuildMap(k.ySteps, k.yFractions, k.destHeight + 1,
             int64_t(double(k.sourceHeight - 1) * 65536.0 / k.destHeight));
    if (k.source != nullptr && k.dest != nullptr) {
        VisitFormat(k.format, [&](auto f) {
            if (f.bytes == k.bytesPerPixel) BilinearColour<decltype(f)>(k);
        });
    }
    BilinearPlanes(k);
}

}  // namespace
}  // namespace qv

void ScalePixels(const qvScaleBlock& block) {
    if (block.sourceWidth < 1 || block.sourceHeight < 1 || block.destWidth < 1 ||
        block.destHeight < 1) {
        return;
    }
    if (block.smooth != 0) {
        qv::Smooth(block);
    } else {
        qv::Nearest(block);
    }
}
