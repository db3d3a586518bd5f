// Rows of 4-byte pixels to and from three channel planes, 32 pixels a step in AVX2: about 15
// shuffles a step each way, where the compiler's own loops spend some 40, so that both run
// at about the speed of a copy.
#include "gfx/kernels/channel_planes.h"

#include <array>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/rows.h"

namespace qv {
namespace {

#if defined(__x86_64__)
#define QV_AVX2 __attribute__((target("avx2")))

// The byte of a 32-bit value (in memory, low byte first) that holds its nonzero bits.
constexpr int ByteHolding(uint32_t value) {
    int byte = 0;
    while ((value >> (8 * byte) & 0xFF) == 0) ++byte;
    return byte;
}

// Where each channel of a format F pixel lies, as Pack places it.
template <typename F>
struct ChannelBytes {
    static constexpr int red = ByteHolding(F::Pack(0xFF0000));
    static constexpr int green = ByteHolding(F::Pack(0x00FF00));
    static constexpr int blue = ByteHolding(F::Pack(0x0000FF));
    static constexpr int alpha = 6 - red - green - blue;
};

// The byte shuffle that gathers the four pixels of each 128-bit lane into dwords of their
// red, green and blue bytes (the fourth dword 0).
template <typename F>
constexpr std::array<int8_t, 32> GatherOrder() {
    using C = ChannelBytes<F>;
    constexpr int kChannels[3] = {C::red, C::green, C::blue};
    std::array<int8_t, 32> order{};
    for (int i = 0; i < 32; ++i) {
        const int channel = i % 16 / 4, pixel = i % 4;
        order[size_t(i)] = channel < 3 ? int8_t(4 * pixel + kChannels[channel]) : int8_t(-128);
    }
    return order;
}

QV_AVX2 inline __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QV_AVX2 inline void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// Eight pixels as quadwords of their red, green and blue bytes (the fourth 0).
QV_AVX2 inline __m256i GatherEight(const uint8_t* p, __m256i order) {
    const __m256i byLane = _mm256_shuffle_epi8(Load(p), order);
    return _mm256_permutevar8x32_epi32(byLane, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

template <typename F>
QV_AVX2 int32_t SplitSteps(const uint8_t* pixels, int32_t width, uint8_t* red, uint8_t* green,
                           uint8_t* blue) {
    static constexpr std::array<int8_t, 32> kOrder = GatherOrder<F>();
    const __m256i order = Load(reinterpret_cast<const uint8_t*>(kOrder.data()));
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = pixels + 4 * ptrdiff_t(x);
        const __m256i a = GatherEight(p, order), b = GatherEight(p + 32, order);
        const __m256i c = GatherEight(p + 64, order), d = GatherEight(p + 96, order);
        // Lanes of the low pairs: red, blue; of the high: green, none (pixels 0-15, 16-31).
        const __m256i lowAB = _mm256_unpacklo_epi64(a, b), highAB = _mm256_unpackhi_epi64(a, b);
        const __m256i lowCD = _mm256_unpacklo_epi64(c, d), highCD = _mm256_unpackhi_epi64(c, d);
        Store(red + x, _mm256_permute2x128_si256(lowAB, lowCD, 0x20));
        Store(green + x, _mm256_permute2x128_si256(highAB, highCD, 0x20));
        Store(blue + x, _mm256_permute2x128_si256(lowAB, lowCD, 0x31));
    }
    return x;
}

template <typename F>
QV_AVX2 int32_t JoinSteps(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                          int32_t width, uint8_t* pixels) {
    using C = ChannelBytes<F>;
    int32_t x = 0;
    for (; x + 32 <= width; x += 32) {
        __m256i byByte[4];
        byByte[C::red] = Load(red + x), byByte[C::green] = Load(green + x);
        byByte[C::blue] = Load(blue + x), byByte[C::alpha] = _mm256_setzero_si256();
        // Byte pairs, then whole pixels: lanes hold pixels 0-15 and 16-31 in four quarters.
        const __m256i low01 = _mm256_unpacklo_epi8(byByte[0], byByte[1]);
        const __m256i high01 = _mm256_unpackhi_epi8(byByte[0], byByte[1]);
        const __m256i low23 = _mm256_unpacklo_epi8(byByte[2], byByte[3]);
        const __m256i high23 = _mm256_unpackhi_epi8(byByte[2], byByte[3]);
        const __m256i first = _mm256_unpacklo_epi16(low01, low23);     // 0-3, 16-19
        const __m256i second = _mm256_unpackhi_epi16(low01, low23);    // 4-7, 20-23
        const __m256i third = _mm256_unpacklo_epi16(high01, high23);   // 8-11, 24-27
        const __m256i fourth = _mm256_unpackhi_epi16(high01, high23);  // 12-15, 28-31
        uint8_t* p = pixels + 4 * ptrdiff_t(x);
        Store(p, _mm256_permute2x128_si256(first, second, 0x20));
        Store(p + 32, _mm256_permute2x128_si256(third, fourth, 0x20));
        Store(p + 64, _mm256_permute2x128_si256(first, second, 0x31));
        Store(p + 96, _mm256_permute2x128_si256(third, fourth, 0x31));
    }
    return x;
}
#endif

}  // namespace

int32_t SplitPixels32(uint32_t format, const uint8_t* pixels, int32_t width, uint8_t* red,
                      uint8_t* green, uint8_t* blue) {
    int32_t done = 0;
#if defined(__x86_64__)
    if (!HasAvx2()) return 0;
    VisitFormat(format, [&](auto f) {
        using F = decltype(f);
        if constexpr (F::bytes == 4) done = SplitSteps<F>(pixels, width, red, green, blue);
    });
#endif
    return done;
}

int32_t JoinPixels32(uint32_t format, const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                     int32_t width, uint8_t* pixels) {
    int32_t done = 0;
#if defined(__x86_64__)
    if (!HasAvx2()) return 0;
    VisitFormat(format, [&](auto f) {
        using F = decltype(f);
        if constexpr (F::bytes == 4) done = JoinSteps<F>(red, green, blue, width, pixels);
    });
#endif
    return done;
}

}  // namespace qv
