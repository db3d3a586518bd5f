// The convolutions: blur in two separable passes of a 3x-oversampled Gaussian, and the n x n
// windows of emboss, edge and sharpen, each computed by its structure (a diagonal, box sums,
// a separable sum). The picture is split into channel planes, so that one path serves every
// depth and the alpha plane alike; each pass truncates its results to 0..255 as the effects
// always did.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/channel_planes.h"
#include "gfx/kernels/rows.h"
#include "gfx/kernels/spatial.h"
#include "gfx/kernels/template_clones.h"
#include "gfx/pixel_format.h"

namespace qv {
namespace {

constexpr int64_t kMaxWidth = (int64_t(1) << 62) - 1;
const double kRootTwoPi = std::sqrt(2 * std::numbers::pi);

int64_t RadiusWidth(double radius) {
    const double n = 2 * std::ceil(radius) + 1;
    return n >= double(kMaxWidth) ? kMaxWidth : int64_t(n);
}

// A sum that is a whole level but for rounding (a flat area under a kernel summing to 1
// comes to 199.99999999999997) must not lose that level to truncation.
constexpr double kLevelSlack = 1e-7;

// clamp(v) truncated to 0..255; NaN gives 0.
inline uint8_t Clamp255(double v) {
    v += kLevelSlack;
    if (!(v > 0)) return 0;
    return v >= 255 ? 255 : uint8_t(v);
}

// One tap of a kernel: a weight at an offset along a pass (at -u and u as well when paired),
// or at (u, v) of a 2-D window.
struct Tap {
    int32_t u, v;
    double weight;
    bool paired = false;
};

struct TapList {
    BlockPtr<Tap> taps;
    int32_t count = 0;
    int32_t reach = 0;  // the largest |offset|
};

// The oversampled Gaussian at sub-sample i (three per tap).
double BlurSample(double i, double sigma) {
    return std::exp(-(i * i) / (18 * sigma * sigma)) / (sigma * kRootTwoPi);
}

// The samples first .. last (first >= 0, where they fall). Past a million terms that are
// still not 0 the rest is the integral with the trapezoid ends, well within a level.
double TailSum(double first, double last, double sigma) {
    constexpr double kTerms = 1 << 20;
    double sum = 0, i = first;
    for (; i <= last && i < first + kTerms; ++i) {
        const double term = BlurSample(i, sigma);
        if (term == 0) return sum;
        sum += term;
    }
    if (i > last) return sum;
    // The integral of the Gaussian of width 3 sigma over the rest: 3 |sigma| sqrt(pi / 2)
    // times the difference of erf, over sigma sqrt(2 pi).
    const double scale = 3 * std::fabs(sigma) * std::numbers::sqrt2;
    const double p = i / scale, q = last / scale;
    const double area = p < 1 ? std::erf(q) - std::erf(p) : std::erfc(p) - std::erfc(q);
    return sum + 1.5 * std::copysign(area, sigma) +
           (BlurSample(i, sigma) + BlurSample(last, sigma)) / 2;
}

// The blur kernel of width n for a pass along a side of size pixels, normalised: the centre
// tap and pairs of taps at -u and u (the kernel is symmetric, so each pair shares one
// multiplication). Taps that reach past the side always read the edge pixel, so they are
// folded into the last tap that reaches it; the result differs from the unfolded sum in the
// last bits only.
bool BlurTaps(int64_t n, double sigma, int32_t size, TapList& list) {
    const int64_t half = n / 2;
    const int32_t reach = int32_t(std::min<int64_t>(half, size - 1));
    auto weights = AllocArray<double>(size_t(reach) + 1);
    list.taps = AllocArray<Tap>(size_t(reach) + 1);
    if (!weights || !list.taps) return false;
    double* k = weights.get();
    double sum = 0;
    for (int32_t b = 0; b <= reach; ++b) {
        k[b] = BlurSample(3.0 * b - 1, sigma) + BlurSample(3.0 * b, sigma) +
               BlurSample(3.0 * b + 1, sigma);
        if (b == reach && reach < half)
            k[b] = TailSum(3.0 * reach - 1, 3.0 * double(half) + 1, sigma);
        if (reach == 0) k[b] = 1;
        sum += b == 0 ? k[b] : 2 * k[b];
    }
    if (!std::isfinite(sum) || sum == 0) return false;
    for (int32_t b = 0; b <= reach; ++b) {
        if (k[b] == 0) continue;
        list.taps.get()[list.count++] = {b, 0, k[b] / sum, b != 0};
        list.reach = b;
    }
    return true;
}

// The taps of a span of outputs: output x is the sum over t, in order and from 0, of
// weight[t] x (first[t][x] + second[t][x]), or of weight[t] x first[t][x] where second[t] is
// none (the symmetric blur kernels pair their taps to share one multiplication).
template <typename T>
struct SpanTaps {
    BlockPtr<const T*> first, second;
    BlockPtr<double> weight;
    BlockPtr<float> single;                            // the weights of the blur's fast path,
    float margin = 0;                                  // the bound of its error
    bool fast = false;                                 // whether the blur takes that path
    BlockPtr<const uint8_t*> firstBytes, secondBytes;  // and its taps over the values as bytes
    int32_t count = 0;

    bool Allocate(size_t taps) {
        first = AllocArray<const T*>(taps);
        second = AllocArray<const T*>(taps);
        weight = AllocArray<double>(taps);
        single = AllocArray<float>(taps);
        firstBytes = AllocArray<const uint8_t*>(taps);
        secondBytes = AllocArray<const uint8_t*>(taps);
        return first && second && weight && single && firstBytes && secondBytes;
    }
    void Set(int32_t t, const T* a, const T* b, double w) {
        first.get()[t] = a, second.get()[t] = b, weight.get()[t] = w;
    }
};

// The output x of a span as bytes, computed as SumSpan's lanes do.
template <typename T>
double ExactSum(const SpanTaps<T>& taps, int32_t x) {
    double acc = 0;
    for (int32_t t = 0; t < taps.count; ++t) {
        const double a = double(taps.first.get()[t][x]);
        const T* b = taps.second.get()[t];
        acc += taps.weight.get()[t] * (b != nullptr ? a + double(b[x]) : a);
    }
    return acc;
}

// Where the sums of a span go: as bytes clamped to 0..255 (after window x sum + centre x
// centreRow[x] when centreRow is given), or as doubles.
struct SpanOut {
    uint8_t* bytes = nullptr;
    double* doubles = nullptr;
    const uint8_t* centreRow = nullptr;
    double window = 0, centre = 0;
};

typedef double Doubles __attribute__((vector_size(32)));
typedef int32_t Ints __attribute__((vector_size(16)));
typedef uint8_t Bytes __attribute__((vector_size(4)));
typedef float Floats __attribute__((vector_size(16)));
typedef uint8_t IntBytes __attribute__((vector_size(16)));
constexpr int32_t kLanes = 4;
constexpr int32_t kBlock = 4 * kLanes;  // four sums in flight hide the additions' latency

// Vectors pass by reference only: a function of the baseline clone returns them otherwise
// than one of the AVX2 clone expects.
inline void Load(Doubles& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}
inline void Load(Doubles& v, const uint8_t* p) {
    Bytes b;
    std::memcpy(&b, p, sizeof b);
    v = __builtin_convertvector(__builtin_convertvector(b, Ints), Doubles);
}
inline void Load(Doubles& v, const float* p) {
    Floats f;
    std::memcpy(&f, p, sizeof f);
    v = __builtin_convertvector(f, Doubles);
}

// Levels of 0..255 as bytes: the low byte of each lane, in one shuffle rather than a byte
// taken out of each lane.
inline void StoreLevels(const Ints& levels, uint8_t* out) {
    IntBytes bytes;
    std::memcpy(&bytes, &levels, sizeof bytes);
    const Bytes low = __builtin_shufflevector(bytes, bytes, 0, 4, 8, 12);
    std::memcpy(out, &low, sizeof low);
}

// The sums of a span, kBlock outputs at a time held in registers through all the taps, each
// lane computing exactly what the scalar tail does.
template <typename T>
QV_TEMPLATE_CLONES void SumSpan(const SpanTaps<T>& taps, int32_t count, const SpanOut& out) {
    const T* const* first = taps.first.get();
    const T* const* second = taps.second.get();
    const double* weight = taps.weight.get();
    int32_t x = 0;
    for (; x + kBlock <= count; x += kBlock) {
        Doubles acc[4] = {};
        for (int32_t t = 0; t < taps.count; ++t) {
            const double wt = weight[t];
            const Doubles w = {wt, wt, wt, wt};
            const T* a = first[t] + x;
            if (const T* b = second[t]; b != nullptr) {
                b += x;
                for (int k = 0; k < 4; ++k) {
                    Doubles u, v;
                    Load(u, a + k * kLanes), Load(v, b + k * kLanes);
                    acc[k] += w * (u + v);
                }
            } else {
                for (int k = 0; k < 4; ++k) {
                    Doubles u;
                    Load(u, a + k * kLanes);
                    acc[k] += w * u;
                }
            }
        }
        for (int k = 0; k < 4; ++k) {
            const int32_t at = x + k * kLanes;
            if (out.doubles != nullptr) {
                std::memcpy(out.doubles + at, &acc[k], sizeof acc[k]);
                continue;
            }
            Doubles v = acc[k];
            if (out.centreRow != nullptr) {
                Doubles c;
                Load(c, out.centreRow + at);
                v = out.window * v + out.centre * c;
            }
            v += kLevelSlack;
            v = v > 0 ? v : 0;  // NaN too, as Clamp255
            v = v >= 255 ? 255 : v;
            StoreLevels(__builtin_convertvector(v, Ints), out.bytes + at);
        }
    }
    for (; x < count; ++x) {
        const double acc = ExactSum(taps, x);
        if (out.doubles != nullptr) {
            out.doubles[x] = acc;
        } else if (out.centreRow != nullptr) {
            out.bytes[x] = Clamp255(out.window * acc + out.centre * double(out.centreRow[x]));
        } else {
            out.bytes[x] = Clamp255(acc);
        }
    }
}

#if defined(__x86_64__)
#define QV_AVX2_FMA __attribute__((target("avx2,fma")))

// The blur's fast path sums in single precision, eight lanes at a time, and certifies each
// lane against the double sum that defines it: that sum lies within the margin, so where
// the whole interval truncates to one level, that level is the output. Lanes left uncertain
// are summed again as deviations from their centre: a window whose mirrored pairs sum to
// twice its centre (flat or a ramp) has exactly the double sum of a flat window, which
// misses the centre by far less than the slack of Clamp255, so the centre is the output.
// The lanes still uncertain are summed in doubles as SumSpan does. Longer kernels, whose
// margins would certify little, keep the double path.
constexpr int32_t kFastTaps = 4096;
constexpr int32_t kFastLanes = 8;
constexpr int32_t kFastBlock = 4 * kFastLanes;

// The single weights, and the margin: each weight is rounded once and each of the count
// multiplications or fused steps rounds once, all by at most 2^-24 of a sum below 256 A (A
// the weights' absolute sum, pairs twice; a pair's sum of bytes is exact); the slack, the
// double sum's own error and the rounding of the interval's ends fit in the 4 more.
void SetFastWeights(const TapList& list, SpanTaps<float>& taps) {
    double absolute = 0;
    for (int32_t t = 0; t < taps.count; ++t) {
        const Tap& tap = list.taps.get()[t];
        taps.single.get()[t] = float(tap.weight);
        absolute += std::fabs(tap.weight) * (tap.paired ? 2 : 1);
    }
    taps.margin = float(((taps.count + 1) * absolute * 1.001 + 4) * 0x1p-16);
}

// The truncated levels of four vectors of sums (plus shift), as 32 bytes in order: the
// packing saturates them to 0..255, which for every sum within 2^31 of 0 is the clamped floor
// that Clamp255 takes.
[[gnu::always_inline]] QV_AVX2_FMA inline __m256i Levels(const __m256 (&sums)[4], __m256 shift) {
    __m256i l[4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) l[k] = _mm256_cvttps_epi32(_mm256_add_ps(sums[k], shift));
    const __m256i words =
        _mm256_packus_epi16(_mm256_packus_epi32(l[0], l[1]), _mm256_packus_epi32(l[2], l[3]));
    return _mm256_permutevar8x32_epi32(words, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// The double sums of the eight lanes at x, in SumSpan's order and rounding.
QV_AVX2_FMA void ExactLanes(const SpanTaps<float>& taps, int32_t x, double (&sums)[kFastLanes]) {
    __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
    for (int32_t t = 0; t < taps.count; ++t) {
        const __m256d w = _mm256_set1_pd(taps.weight.get()[t]);
        const float* a = taps.first.get()[t] + x;
        __m256d aLow = _mm256_cvtps_pd(_mm_loadu_ps(a)),
                aHigh = _mm256_cvtps_pd(_mm_loadu_ps(a + 4));
        if (const float* b = taps.second.get()[t]; b != nullptr) {
            aLow = _mm256_add_pd(aLow, _mm256_cvtps_pd(_mm_loadu_ps(b + x)));
            aHigh = _mm256_add_pd(aHigh, _mm256_cvtps_pd(_mm_loadu_ps(b + x + 4)));
        }
        low = _mm256_add_pd(low, _mm256_mul_pd(w, aLow));
        high = _mm256_add_pd(high, _mm256_mul_pd(w, aHigh));
    }
    _mm256_storeu_pd(sums, low);
    _mm256_storeu_pd(sums + 4, high);
}

// The lanes (bits) of the eight at x that need their double sums, into out.
QV_AVX2_FMA void SettleLanes(const SpanTaps<float>& taps, int32_t x, uint32_t lanes, uint8_t* out) {
    double sums[kFastLanes];
    ExactLanes(taps, x, sums);
    for (; lanes != 0; lanes &= lanes - 1) {
        const int32_t lane = __builtin_ctz(lanes);
        out[lane] = Clamp255(sums[lane]);
    }
}

QV_AVX2_FMA inline __m256i LoadBytes(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The lanes (bytes of all ones) of the 32 at x whose windows are still: every mirrored pair
// sums to twice the centre (flat or a ramp). Tested on the bytes, 32 lanes a step: a + b =
// 2c exactly where their rounded-up mean is c and a + b is even.
QV_AVX2_FMA inline __m256i StillLanes(const SpanTaps<float>& taps, int32_t x) {
    const uint8_t* const* first = taps.firstBytes.get();
    const uint8_t* const* second = taps.secondBytes.get();
    const __m256i centre = LoadBytes(first[0] + x);
    __m256i mean = _mm256_set1_epi8(-1), odd = _mm256_setzero_si256();
    for (int32_t t = 1; t < taps.count; ++t) {
        const __m256i a = LoadBytes(first[t] + x), b = LoadBytes(second[t] + x);
        mean = _mm256_and_si256(mean, _mm256_cmpeq_epi8(_mm256_avg_epu8(a, b), centre));
        odd = _mm256_or_si256(odd, _mm256_xor_si256(a, b));
    }
    const __m256i even =
        _mm256_cmpeq_epi8(_mm256_and_si256(odd, _mm256_set1_epi8(1)), _mm256_setzero_si256());
    return _mm256_and_si256(mean, even);
}

// The lanes (bits) of the block at x that are neither certain nor still, in doubles.
[[gnu::noinline]] QV_AVX2_FMA void SettleInDoubles(const SpanTaps<float>& taps, int32_t x,
                                                   uint32_t uncertain, uint8_t* out) {
    for (int k = 0; k < 4; ++k) {
        if (const uint32_t lanes = uncertain >> 8 * k & 0xFF; lanes != 0)
            SettleLanes(taps, x + k * kFastLanes, lanes, out + k * kFastLanes);
    }
}

// The lanes of the block at x that its certified sums left uncertain (bits clear in
// certain), over the levels already stored: still windows keep their centre, the others
// (one lane in forty of them) are settled in doubles. Whether the whole block was still.
[[gnu::always_inline]] QV_AVX2_FMA inline bool SettleBlock(const SpanTaps<float>& taps, int32_t x,
                                                           uint32_t certain, uint8_t* out) {
    const __m256i still = StillLanes(taps, x);
    const __m256i centre = LoadBytes(taps.firstBytes.get()[0] + x);
    auto* const vector = reinterpret_cast<__m256i*>(out);
    _mm256_storeu_si256(vector, _mm256_blendv_epi8(LoadBytes(out), centre, still));
    const auto stillLanes = uint32_t(_mm256_movemask_epi8(still));
    if (const auto uncertain = ~(certain | stillLanes); uncertain != 0)
        SettleInDoubles(taps, x, uncertain, out);
    return stillLanes == 0xFFFFFFFFu;
}

// The block at x into out if all its windows are still (each keeps its centre, no sums).
[[gnu::noinline]] QV_AVX2_FMA bool StillBlock(const SpanTaps<float>& taps, int32_t x,
                                              uint8_t* out) {
    const __m256i still = StillLanes(taps, x);
    if (_mm256_movemask_epi8(still) != -1) return false;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), LoadBytes(taps.firstBytes.get()[0] + x));
    return true;
}

// What the blocks of a span read, held in locals: the compiler would reload it from the
// taps after every store of levels. Spans of up to kUnrolledTaps taps know their count at
// compile time, so that their tap loop unrolls and its sources and weights are the span's
// constants. In a row (kRow) the taps read one row at consecutive offsets from the centre, so
// that the blocks address it directly and read each vector once for the pairs that share it.
constexpr int32_t kUnrolledTaps = 13;

template <int32_t kTaps, bool kRow>  // kTaps 0: any count
struct FastView {
    static constexpr int32_t kSlots = kTaps > 0 ? kTaps : 1;
    const float* first[kSlots];
    const float* second[kSlots];
    __m256 weight[kSlots];
    const float* const* anyFirst;
    const float* const* anySecond;
    const float* anyWeight;
    int32_t count;
    __m256 margin;

    QV_AVX2_FMA explicit FastView(const SpanTaps<float>& taps)
        : anyFirst(taps.first.get()),
          anySecond(taps.second.get()),
          anyWeight(taps.single.get()),
          count(kTaps > 0 ? kTaps : taps.count),
          margin(_mm256_set1_ps(taps.margin)) {
        for (int32_t t = 0; t < kTaps; ++t) {
            first[t] = anyFirst[t], second[t] = anySecond[t];
            weight[t] = _mm256_set1_ps(anyWeight[t]);
        }
    }
    QV_AVX2_FMA const float* First(int32_t t) const {
        return kRow ? anyFirst[0] - t : kTaps > 0 ? first[t] : anyFirst[t];
    }
    QV_AVX2_FMA const float* Second(int32_t t) const {
        return kRow ? anyFirst[0] + t : kTaps > 0 ? second[t] : anySecond[t];
    }
    QV_AVX2_FMA __m256 Weight(int32_t t) const {
        return kTaps > 0 ? weight[t] : _mm256_set1_ps(anyWeight[t]);
    }
};

// Whether the taps read one row at consecutive offsets from the centre.
bool ReadsOneRow(const SpanTaps<float>& taps) {
    const float* centre = taps.first.get()[0];
    for (int32_t t = 1; t < taps.count; ++t) {
        if (taps.first.get()[t] != centre - t || taps.second.get()[t] != centre + t) return false;
    }
    return true;
}

// The levels of the block at x from its single sums into out: lanes whose whole error
// interval truncates alike take that level; the block's other lanes are settled apart
// (three blocks in ten of a photograph). Whether the block turned out wholly still.
[[gnu::always_inline]] QV_AVX2_FMA inline bool FinishBlock(const SpanTaps<float>& taps,
                                                           const __m256 (&sums)[4], __m256 margin,
                                                           int32_t x, uint8_t* out) {
    const __m256i low = Levels(sums, _mm256_sub_ps(_mm256_setzero_ps(), margin));
    const __m256i high = Levels(sums, margin);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), low);
    const uint32_t certain = uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, high)));
    return certain != 0xFFFFFFFFu && SettleBlock(taps, x, certain, out);
}

// The 32 outputs of the block at x into out; the first tap is the centre, the others are
// pairs. Whether the block turned out wholly still.
template <int32_t kTaps, bool kRow>
[[gnu::always_inline]] QV_AVX2_FMA inline bool SingleBlock(const SpanTaps<float>& taps,
                                                           const FastView<kTaps, kRow>& v,
                                                           int32_t x, uint8_t* out) {
    __m256 sums[4];
    for (int k = 0; k < 4; ++k)
        sums[k] = _mm256_mul_ps(v.Weight(0), _mm256_loadu_ps(v.First(0) + x + k * kFastLanes));
#pragma GCC unroll 16
    for (int32_t t = 1; t < v.count; ++t) {
        const __m256 w = v.Weight(t);
        const float* a = v.First(t) + x;
        const float* b = v.Second(t) + x;
        for (int k = 0; k < 4; ++k) {
            const __m256 pair = _mm256_add_ps(_mm256_loadu_ps(a + k * kFastLanes),
                                              _mm256_loadu_ps(b + k * kFastLanes));
            sums[k] = _mm256_fmadd_ps(w, pair, sums[k]);
        }
    }
    return FinishBlock(taps, sums, v.margin, x, out);
}

// The span in blocks of 32; the last block is computed whole into a buffer (its sources
// have kFastBlock values of slack) and its outputs within the span kept. After a wholly
// still block (flat areas, the silhouettes of shadow planes) the next is first tested for
// stillness, which spares its sums.
template <int32_t kTaps, bool kRow>
QV_AVX2_FMA void FastBlurSpan(const SpanTaps<float>& taps, int32_t count, uint8_t* out) {
    const FastView<kTaps, kRow> v(taps);
    int32_t x = 0;
    for (bool still = false; x + kFastBlock <= count; x += kFastBlock) {
        if (still && StillBlock(taps, x, out + x)) continue;
        still = SingleBlock(taps, v, x, out + x);
    }
    if (x < count) {
        uint8_t last[kFastBlock];
        SingleBlock(taps, v, x, last);
        std::memcpy(out + x, last, size_t(count - x));
    }
    _mm256_zeroupper();  // the passes' SSE code would pay for dirty upper halves
}

using FastSpan = void (*)(const SpanTaps<float>&, int32_t, uint8_t*);

template <bool kRow, int32_t... kTaps>
constexpr auto FastSpans(std::integer_sequence<int32_t, kTaps...>) {
    return std::array<FastSpan, sizeof...(kTaps)>{FastBlurSpan<kTaps, kRow>...};
}

// FastBlurSpan for each count of taps up to kUnrolledTaps, and for any count at 0; over
// columns and over a row.
constexpr auto kTapCounts = std::make_integer_sequence<int32_t, kUnrolledTaps + 1>();
constexpr auto kFastSpans = FastSpans<false>(kTapCounts);
constexpr auto kFastRowSpans = FastSpans<true>(kTapCounts);

void FastBlurSpanOf(const SpanTaps<float>& taps, int32_t count, uint8_t* out) {
    if (taps.count > kUnrolledTaps) return FastBlurSpan<0, false>(taps, count, out);
    const auto& spans = ReadsOneRow(taps) ? kFastRowSpans : kFastSpans;
    spans[taps.count](taps, count, out);
}

// Two output rows of the column pass at once, y (upper) and y + 1 (lower), read the 2 reach
// + 2 rows about them once: each row is added to the row it pairs with for the upper output
// and then to the one it pairs with for the lower. The rows form two chains, the even rows
// 0, 2 reach, 2, 2 reach - 2, ... and the odd rows 2 reach + 1, 1, 2 reach - 1, 3, ..., in
// which neighbours are pairs of the two outputs in turn, and each chain ends at a centre.
// Row j of a chain's step m (rows counted from y - reach):
constexpr int32_t ChainRow(int32_t chain, int32_t reach, int32_t m) {
    return (m % 2 == 0) == (chain == 0) ? m : 2 * reach + 1 - m;
}

template <int32_t kTaps>
struct PairView {
    static constexpr int32_t kReach = kTaps - 1;
    const float* rows[2 * kReach + 2];
    __m256 weight[kTaps];
    __m256 margin;

    QV_AVX2_FMA PairView(const SpanTaps<float>& upper, const SpanTaps<float>& lower)
        : margin(_mm256_set1_ps(upper.margin)) {
        for (int32_t u = 1; u <= kReach; ++u) {
            rows[kReach - u] = upper.first.get()[u];
            rows[kReach + u] = upper.second.get()[u];
        }
        rows[kReach] = upper.first.get()[0];
        rows[2 * kReach + 1] = lower.second.get()[kReach];
        for (int32_t t = 0; t < kTaps; ++t) weight[t] = _mm256_set1_ps(upper.single.get()[t]);
    }
};

// The sums of lanes k0 and k0 + 1 (eight each) of the block at x for both outputs.
template <int32_t kTaps, int k0>
[[gnu::always_inline]] QV_AVX2_FMA inline void PairSums(const PairView<kTaps>& v, int32_t x,
                                                        __m256 (&upper)[4], __m256 (&lower)[4]) {
    constexpr int32_t r = PairView<kTaps>::kReach;
#pragma GCC unroll 2
    for (int32_t chain = 0; chain < 2; ++chain) {
        int32_t j = ChainRow(chain, r, 0);
        __m256 last[2];
        for (int k = 0; k < 2; ++k)
            last[k] = _mm256_loadu_ps(v.rows[j] + x + (k0 + k) * kFastLanes);
#pragma GCC unroll 16
        for (int32_t m = 1; m <= r; ++m) {
            const int32_t next = ChainRow(chain, r, m);
            const bool toUpper = j + next == 2 * r;
            const int32_t u = (next > j ? next - j : j - next) / 2;
            for (int k = 0; k < 2; ++k) {
                const __m256 row = _mm256_loadu_ps(v.rows[next] + x + (k0 + k) * kFastLanes);
                const __m256 pair = _mm256_add_ps(last[k], row);
                __m256& sum = toUpper ? upper[k0 + k] : lower[k0 + k];
                sum = _mm256_fmadd_ps(v.weight[u], pair, sum);
                last[k] = row;
            }
            j = next;
        }
        for (int k = 0; k < 2; ++k) {  // the chain ends at a centre
            __m256& sum = j == r ? upper[k0 + k] : lower[k0 + k];
            sum = _mm256_fmadd_ps(v.weight[0], last[k], sum);
        }
    }
}

template <int32_t kTaps>
[[gnu::always_inline]] QV_AVX2_FMA inline void PairBlock(const SpanTaps<float>& upper,
                                                         const SpanTaps<float>& lower,
                                                         const PairView<kTaps>& v, int32_t x,
                                                         uint8_t* upperOut, uint8_t* lowerOut,
                                                         bool (&still)[2]) {
    __m256 sums[2][4];
    for (int k = 0; k < 4; ++k) sums[0][k] = sums[1][k] = _mm256_setzero_ps();
    PairSums<kTaps, 0>(v, x, sums[0], sums[1]);
    PairSums<kTaps, 2>(v, x, sums[0], sums[1]);
    still[0] = FinishBlock(upper, sums[0], v.margin, x, upperOut);
    still[1] = FinishBlock(lower, sums[1], v.margin, x, lowerOut);
}

template <int32_t kTaps>
QV_AVX2_FMA void FastBlurPair(const SpanTaps<float>& upper, const SpanTaps<float>& lower,
                              int32_t count, uint8_t* upperOut, uint8_t* lowerOut) {
    const PairView<kTaps> v(upper, lower);
    int32_t x = 0;
    for (bool still[2] = {false, false}; x + kFastBlock <= count; x += kFastBlock) {
        if (still[0] && still[1] && StillBlock(upper, x, upperOut + x) &&
            StillBlock(lower, x, lowerOut + x))
            continue;
        PairBlock(upper, lower, v, x, upperOut + x, lowerOut + x, still);
    }
    if (x < count) {
        uint8_t last[2][kFastBlock];
        bool still[2];
        PairBlock(upper, lower, v, x, last[0], last[1], still);
        std::memcpy(upperOut + x, last[0], size_t(count - x));
        std::memcpy(lowerOut + x, last[1], size_t(count - x));
    }
    _mm256_zeroupper();
}

using FastPair = void (*)(const SpanTaps<float>&, const SpanTaps<float>&, int32_t, uint8_t*,
                          uint8_t*);

template <int32_t... kTaps>
constexpr auto FastPairs(std::integer_sequence<int32_t, kTaps...>) {
    return std::array<FastPair, sizeof...(kTaps)>{FastBlurPair<kTaps + 2>...};
}

// FastBlurPair for 2 .. kUnrolledTaps taps, at [count - 2].
constexpr auto kFastPairs = FastPairs(std::make_integer_sequence<int32_t, kUnrolledTaps - 1>());
#else
constexpr int32_t kFastBlock = 0;
#endif

// A blur pass's span of bytes, on the fast path where SetBlurWeights chose it. The sources
// of the taps have kFastBlock values of slack past the span.
void BlurSpan(const SpanTaps<float>& taps, int32_t count, uint8_t* out) {
#if defined(__x86_64__)
    if (taps.fast) return FastBlurSpanOf(taps, count, out);
#endif
    SumSpan(taps, count, {.bytes = out});
}

// Two rows of the column pass, upper and the one below it, where TakesRowPairs chose it.
void BlurRowPair(const SpanTaps<float>& upper, const SpanTaps<float>& lower, int32_t count,
                 uint8_t* upperOut, uint8_t* lowerOut) {
#if defined(__x86_64__)
    kFastPairs[upper.count - 2](upper, lower, count, upperOut, lowerOut);
#endif
}

// count bytes copied to bytes and, as floats (exact), to floats.
QV_TEMPLATE_CLONES void CopyRow(const uint8_t* __restrict in, int32_t count,
                                uint8_t* __restrict bytes, float* __restrict floats) {
    for (int32_t i = 0; i < count; ++i) bytes[i] = in[i], floats[i] = float(in[i]);
}

// A packed width x height channel plane and the scratch its passes share.
struct Plane {
    uint8_t* data;
    int32_t width, height;
    uint8_t* row(int32_t y) const { return data + ptrdiff_t(y) * width; }
};

struct Scratch {
    SpanTaps<float> floats;    // the taps over converted rows
    SpanTaps<float> lower;     // and of the lower of two rows of the blur's column pass
    SpanTaps<float> centres;   // the latter's sources about each slot of its ring, if small
    SpanTaps<double> doubles;  // the taps over row sums
    BlockPtr<float> row;       // a padded row of the blur or of sharpen
    BlockPtr<float> rows;      // converted rows of the blur's column pass or of emboss, or
                               // the row sums of sharpen's fast path
    BlockPtr<uint8_t> rowBytes, ringBytes;  // the blur's row and rows as bytes
    BlockPtr<ptrdiff_t> slotOffsets;        // where the blur's ring holds each slot
    BlockPtr<double> ring;                  // row sums of sharpen
    BlockPtr<uint8_t> buffer;               // a padded plane
    BlockPtr<int64_t> sums;                 // the column sums of edge
};

// The weights of a blur pass, and whether it takes the fast path: where the CPU has it, for
// a centre tap followed by pairs as BlurTaps makes them.
void SetBlurWeights(const TapList& taps, SpanTaps<float>& span) {
    for (int32_t t = 0; t < taps.count; ++t) span.weight.get()[t] = taps.taps.get()[t].weight;
    span.count = taps.count;
    span.fast = false;
#if defined(__x86_64__)
    const Tap* tap = taps.taps.get();
    const bool pairs =
        std::all_of(tap + 1, tap + taps.count, [](const Tap& t) { return t.paired; });
    if (taps.count <= kFastTaps && !tap[0].paired && pairs && HasAvx2Fma()) {
        span.fast = true;
        SetFastWeights(taps, span);
    }
#endif
}

// The sources of a blur pass's taps over the rows (or columns) at offset at(u) from the
// output, in floats and bytes alike, into span's entries from on.
template <typename At>
void SetBlurSources(const TapList& taps, SpanTaps<float>& span, const float* floats,
                    const uint8_t* bytes, At&& at, int32_t from = 0) {
    for (int32_t t = 0; t < taps.count; ++t) {
        const Tap& tap = taps.taps.get()[t];
        const ptrdiff_t a = at(tap.paired ? -tap.u : tap.u), b = at(tap.u);
        span.first.get()[from + t] = floats + a;
        span.second.get()[from + t] = tap.paired ? floats + b : nullptr;
        span.firstBytes.get()[from + t] = bytes + a;
        span.secondBytes.get()[from + t] = tap.paired ? bytes + b : nullptr;
    }
}

// The sources of span's taps from table's entries from on.
void CopyBlurSources(const SpanTaps<float>& table, int32_t from, SpanTaps<float>& span) {
    std::copy_n(table.first.get() + from, span.count, span.first.get());
    std::copy_n(table.second.get() + from, span.count, span.second.get());
    std::copy_n(table.firstBytes.get() + from, span.count, span.firstBytes.get());
    std::copy_n(table.secondBytes.get() + from, span.count, span.secondBytes.get());
}

// The blur's rows start on a cache line, so that how many of its loads of eight floats
// straddle two lines (a straddling load costs two) does not vary from run to run. Their
// buffers hold a line more than the rows.
constexpr size_t kLineBytes = 64;

template <typename T>
T* LineAligned(T* p) {
    const uintptr_t address = reinterpret_cast<uintptr_t>(p);
    return p + ((kLineBytes - address % kLineBytes) % kLineBytes) / sizeof(T);
}

template <typename T>
BlockPtr<T> LineAlignable(size_t count) {
    return AllocArray<T>(count + kLineBytes / sizeof(T), true);
}

// Each row is copied, with its edges replicated by the taps' reach, as bytes and as floats
// (exact for bytes) once.
void RowPass(const Plane& p, const TapList& taps, Scratch& s) {
    uint8_t* pad = s.rowBytes.get();
    float* floats = LineAligned(s.row.get());
    const int32_t r = taps.reach, right = r + p.width;
    SetBlurWeights(taps, s.floats);
    SetBlurSources(taps, s.floats, floats, pad, [&](int32_t u) { return r + u; });
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* row = p.row(y);
        std::fill_n(pad, r, row[0]);
        std::fill_n(floats, r, float(row[0]));
        CopyRow(row, p.width, pad + r, floats + r);
        std::fill_n(pad + right, r, row[p.width - 1]);
        std::fill_n(floats + right, r, float(row[p.width - 1]));
        BlurSpan(s.floats, p.width, row);
    }
}

// Row y of the plane, clamped to it: the column pass replicates the edge rows.
const uint8_t* RowAt(const Plane& p, int32_t y) {
    return p.data + ptrdiff_t(std::clamp(y, 0, p.height - 1)) * p.width;
}

// Columns of the pass in strips whose ring of converted rows (four bytes of float and one
// of byte a value) stays within the first-level cache, in whole blocks of 32 columns; the
// widest kernels take strips of 32, or fewer columns where kRingValues would not hold them.
constexpr int32_t kStripWidth = 512, kNarrowestStrip = 32;
constexpr size_t kRingCacheBytes = 24 << 10;
constexpr size_t kRingValues = size_t(2) << 20;

// The column pass takes two rows at once where the fast path unrolls its consecutive taps.
bool TakesRowPairs(const TapList& taps) {
#if defined(__x86_64__)
    for (int32_t t = 0; t < taps.count; ++t) {
        if (taps.taps.get()[t].u != t) return false;
    }
    return taps.count >= 2 && taps.count <= kUnrolledTaps;
#else
    return false;
#endif
}

// The rows of the column pass's ring: those about an output row, and one more below for the
// second of a pair.
size_t RingSlots(const TapList& taps) {
    return 2 * size_t(taps.reach) + 2;
}

int32_t StripWidth(const TapList& taps) {
    const size_t slots = RingSlots(taps);
    const size_t cached = kRingCacheBytes / (slots * 5) / kNarrowestStrip * kNarrowestStrip;
    const size_t strip = std::clamp<size_t>(cached, kNarrowestStrip, kStripWidth);
    return int32_t(std::clamp<size_t>(kRingValues / slots, 1, strip));
}

// The distance between the ring's rows: a cache line more than a strip, so that the rows a
// block reads at one column do not all fall into the same few sets of the cache.
int32_t SlotStride(const TapList& taps) {
    return StripWidth(taps) + 16;
}

// Each source row of a strip is converted to floats once, into a ring of 2 reach + 2 rows,
// before the output overwrites it.
void ColumnPass(const Plane& p, const TapList& taps, Scratch& s) {
    const int32_t reach = taps.reach, slots = int32_t(RingSlots(taps)), strip = StripWidth(taps);
    const int32_t stride = SlotStride(taps);
    float* ring = LineAligned(s.rows.get());
    uint8_t* ringBytes = LineAligned(s.ringBytes.get());
    SetBlurWeights(taps, s.floats);
    SetBlurWeights(taps, s.lower);
    const bool pairs = s.floats.fast && TakesRowPairs(taps);
    // The offset of each slot three times over, so that the taps about a centre slot index
    // it without wrapping. The sources about each centre are the same in every strip: where
    // the table of them is small enough to have, they are set once and copied for each row.
    ptrdiff_t* offsets = s.slotOffsets.get();
    for (int32_t i = 0; i < 3 * slots; ++i) offsets[i] = ptrdiff_t(i % slots) * stride;
    auto setSources = [&](SpanTaps<float>& span, int32_t centre, int32_t from) {
        SetBlurSources(
            taps, span, ring, ringBytes, [&](int32_t u) { return offsets[slots + centre + u]; },
            from);
    };
    const bool table = bool(s.centres.first);
    for (int32_t centre = 0; table && centre < slots; ++centre)
        setSources(s.centres, centre, centre * taps.count);
    for (int32_t left = 0; left < p.width; left += strip) {
        const int32_t width = std::min(strip, p.width - left);
        // Row r lives in slot (r + reach) mod slots; centre is row y's slot.
        auto wrap = [&](int32_t slot) {
            return slot < 0 ? slot + slots : slot >= slots ? slot - slots : slot;
        };
        auto convert = [&](int32_t row, int32_t slot) {
            CopyRow(RowAt(p, row) + left, width, ringBytes + offsets[slot], ring + offsets[slot]);
        };
        auto sources = [&](SpanTaps<float>& span, int32_t centre) {
            if (table) return CopyBlurSources(s.centres, centre * taps.count, span);
            setSources(span, centre, 0);
        };
        for (int32_t row = -reach; row < reach; ++row) convert(row, row + reach);
        for (int32_t y = 0, centre = reach; y < p.height;) {
            convert(y + reach, wrap(centre + reach));
            sources(s.floats, centre);
            if (pairs && y + 1 < p.height) {
                convert(y + 1 + reach, wrap(centre + reach + 1));
                sources(s.lower, wrap(centre + 1));
                BlurRowPair(s.floats, s.lower, width, p.row(y) + left, p.row(y + 1) + left);
                y += 2, centre = wrap(centre + 2);
            } else {
                BlurSpan(s.floats, width, p.row(y) + left);
                y += 1, centre = wrap(centre + 1);
            }
        }
    }
}

// Emboss: (-8 above or left of the centre, else 8) times the Gaussian on the anti-diagonal
// u = -v, 0 elsewhere; normalised when its sum is not about 0.
bool EmbossTaps(int32_t n, double sigma, TapList& list) {
    list.taps = AllocArray<Tap>(size_t(n));
    if (!list.taps) return false;
    const int32_t j = n / 2;
    const double norm = 2 * std::numbers::pi * sigma * sigma;
    double sum = 0;
    for (int32_t v = -j; v <= j; ++v) {
        const int32_t u = -v;
        const double w = (u < 0 || v < 0 ? -8 : 8) *
                         std::exp(-double(u * u + v * v) / (2 * sigma * sigma)) / norm;
        if (w != 0) list.taps.get()[list.count++] = {u, v, w, false};
        sum += w;
    }
    if (std::fabs(sum) > 1e-10) {
        const double scale = 1 / sum;
        for (int32_t t = 0; t < list.count; ++t) list.taps.get()[t].weight *= scale;
    }
    return true;
}

// Sharpen: minus the Gaussian window, its centre set to twice the window's sum, normalised.
// The window's sum over a picture is separable, so the kernel is a line of n Gaussian
// weights (run along rows, then columns) times `window`, plus the pixel itself times `centre`.
struct SharpenKernel {
    TapList line;
    double window = 0, centre = 0;
};

bool SharpenTaps(int32_t n, double sigma, SharpenKernel& k) {
    k.line.taps = AllocArray<Tap>(size_t(n));
    if (!k.line.taps) return false;
    const int32_t j = n / 2;
    double line = 0;
    for (int32_t u = -j; u <= j; ++u) {
        const double w = std::exp(-double(u * u) / (2 * sigma * sigma));
        if (w != 0) k.line.taps.get()[k.line.count++] = {u, u, w, false};
        line += w;
    }
    const double gauss = 1 / (2 * std::numbers::pi * sigma * sigma);  // the centre's Gaussian
    const double total = gauss * line * line;                         // the window's
    const double sum = total + gauss;  // -total, the centre's -gauss replaced by 2 total
    const double scale = std::fabs(sum) > 1e-10 ? 1 / sum : 1;
    k.window = -gauss * scale;
    k.centre = (2 * total + gauss) * scale;
    return std::isfinite(k.window) && std::isfinite(k.centre);
}

void WindowPass(const Plane& p, int32_t n, const TapList& taps, Scratch& s) {
    if (!PadPlane8(p.data, p.width, p.width, p.height, n, s.buffer)) return;
    const int64_t rowLength = PaddedRowLength(p.width, n);
    const int32_t j = n / 2, span = p.width + n - 1;
    // Padded row r converted to floats (exact for bytes) once, into slot r % n of a ring that
    // holds the n rows an output row reads.
    auto slot = [&](int32_t r) { return s.rows.get() + ptrdiff_t(r % n) * span; };
    auto convert = [&](int32_t r) { std::copy_n(s.buffer.get() + r * rowLength, span, slot(r)); };
    for (int32_t r = 0; r < n - 1; ++r) convert(r);
    s.floats.count = taps.count;
    for (int32_t y = 0; y < p.height; ++y) {
        convert(y + n - 1);
        for (int32_t t = 0; t < taps.count; ++t) {
            const Tap& tap = taps.taps.get()[t];
            s.floats.Set(t, slot(y + tap.v + j) + tap.u + j, nullptr, tap.weight);
        }
        SumSpan(s.floats, p.width, {.bytes = p.row(y)});
    }
}

#if defined(__x86_64__)
// Sharpen's fast path sums in single precision, 32 outputs a block, and certifies each lane
// against the double sum that defines it, as the blur's does. A window whose rows are each
// still (mirrored pairs summing to twice the row's centre) and whose centres are still down
// the column sums, in reals, to line^2 c times the window's weight plus c times the centre's,
// that is c; the doubles miss it by far less than the slack of Clamp255 while the weights
// stay moderate (kFastSharpenSize), so such a window keeps its centre. Outputs past the last
// whole block, and lanes left uncertain, are summed in doubles as SumSpan does.
constexpr int32_t kFastSharpenTaps = 33;
constexpr double kFastSharpenSize = 1000;

struct FastSharpen {
    const SharpenKernel& k;
    const uint8_t* padded;
    int64_t rowLength;
    int32_t n, width;
    float weights[kFastSharpenTaps];
    int32_t offsets[kFastSharpenTaps];  // u + n / 2 of each tap
    float window, centre, margin;

    const uint8_t* Row(int64_t r) const { return padded + r * rowLength; }
};

// The float weights and the margin. Each row sum is within (count + 1) L 2^-16 of its real
// value (L the weights' absolute sum: the weights rounded once, each fused step once, by
// 2^-24 of a sum below 256 L); the column sum adds its own rounding, within
// (2 count + 2) L^2 2^-16 in all; the window and centre products, their weights' rounding,
// the last sum and the interval's ends add (|window| 3 L^2 + 4 |centre|) 2^-16 at most; the
// slack and the double sum's own error fit in the 4 more.
bool SetFastSharpen(FastSharpen& f) {
    const int32_t count = f.k.line.count;
    if (count > kFastSharpenTaps || f.width < kFastBlock || !HasAvx2Fma()) return false;
    double line = 0;
    for (int32_t t = 0; t < count; ++t) {
        const Tap& tap = f.k.line.taps.get()[t];
        f.weights[t] = float(tap.weight);
        f.offsets[t] = tap.u + f.n / 2;
        line += std::fabs(tap.weight);
    }
    const double window = std::fabs(f.k.window) * line * line, centre = std::fabs(f.k.centre);
    if (!(window + centre < kFastSharpenSize)) return false;
    f.window = float(f.k.window), f.centre = float(f.k.centre);
    f.margin = float(((2 * count + 5) * window + 4 * centre) * 1.001 + 4) * 0x1p-16f;
    return true;
}

// The output at (x, y) in doubles, as SumSpan's lanes compute it.
double ExactSharpen(const FastSharpen& f, int32_t x, int32_t y) {
    const int32_t count = f.k.line.count;
    double column = 0;
    for (int32_t v = 0; v < count; ++v) {
        const uint8_t* row = f.Row(int64_t(y) + f.offsets[v]) + x;
        double sum = 0;
        for (int32_t u = 0; u < count; ++u)
            sum += f.k.line.taps.get()[u].weight * double(row[f.offsets[u]]);
        column += f.k.line.taps.get()[v].weight * sum;
    }
    return f.k.window * column + f.k.centre * double(f.Row(int64_t(y) + f.n / 2)[x + f.n / 2]);
}

// The float sums along padded row r (as floats in row) of the whole blocks, into sums.
QV_AVX2_FMA void SharpenRowSums(const FastSharpen& f, const float* row, float* sums) {
    const int32_t count = f.k.line.count;
    for (int32_t x = 0; x + kFastBlock <= f.width; x += kFastBlock) {
        __m256 acc[4] = {};
        for (int32_t t = 0; t < count; ++t) {
            const __m256 w = _mm256_set1_ps(f.weights[t]);
            const float* a = row + x + f.offsets[t];
            for (int k = 0; k < 4; ++k)
                acc[k] = _mm256_fmadd_ps(w, _mm256_loadu_ps(a + k * kFastLanes), acc[k]);
        }
        for (int k = 0; k < 4; ++k) _mm256_storeu_ps(sums + x + k * kFastLanes, acc[k]);
    }
}

// The lanes (bytes of all ones) of the 32 at x whose windows of output row y are still: each
// row, and the column of the rows' centres.
QV_AVX2_FMA __m256i SharpenStill(const FastSharpen& f, int32_t x, int32_t y) {
    const int32_t j = f.n / 2;
    __m256i mean = _mm256_set1_epi8(-1), odd = _mm256_setzero_si256();
    auto pairs = [&](const uint8_t* centre, ptrdiff_t step) QV_AVX2_FMA {
        const __m256i c = LoadBytes(centre);
        for (int32_t u = 1; u <= j; ++u) {
            const __m256i a = LoadBytes(centre - u * step), b = LoadBytes(centre + u * step);
            mean = _mm256_and_si256(mean, _mm256_cmpeq_epi8(_mm256_avg_epu8(a, b), c));
            odd = _mm256_or_si256(odd, _mm256_xor_si256(a, b));
        }
    };
    for (int32_t r = 0; r < f.n; ++r) pairs(f.Row(int64_t(y) + r) + x + j, 1);
    pairs(f.Row(int64_t(y) + j) + x + j, ptrdiff_t(f.rowLength));
    const __m256i even =
        _mm256_cmpeq_epi8(_mm256_and_si256(odd, _mm256_set1_epi8(1)), _mm256_setzero_si256());
    return _mm256_and_si256(mean, even);
}

// Output row y into out from the row sums of its window (slot(v) for tap v).
template <typename Slot>
QV_AVX2_FMA void SharpenOutputs(const FastSharpen& f, int32_t y, Slot&& slot, uint8_t* out) {
    const int32_t count = f.k.line.count, j = f.n / 2;
    const uint8_t* centres = f.Row(int64_t(y) + j) + j;
    const __m256 window = _mm256_set1_ps(f.window), centre = _mm256_set1_ps(f.centre);
    const __m256 margin = _mm256_set1_ps(f.margin);
    int32_t x = 0;
    for (; x + kFastBlock <= f.width; x += kFastBlock) {
        __m256 sums[4] = {};
        for (int32_t t = 0; t < count; ++t) {
            const __m256 w = _mm256_set1_ps(f.weights[t]);
            const float* a = slot(t) + x;
            for (int k = 0; k < 4; ++k)
                sums[k] = _mm256_fmadd_ps(w, _mm256_loadu_ps(a + k * kFastLanes), sums[k]);
        }
        for (int k = 0; k < 4; ++k) {
            const __m128i bytes =
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(centres + x + k * kFastLanes));
            const __m256 c = _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes));
            sums[k] = _mm256_fmadd_ps(window, sums[k], _mm256_mul_ps(centre, c));
        }
        __m256i levels = Levels(sums, _mm256_sub_ps(_mm256_setzero_ps(), margin));
        const __m256i high = Levels(sums, margin);
        auto uncertain = ~uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(levels, high)));
        if (uncertain != 0) {
            const __m256i still = SharpenStill(f, x, y);
            levels = _mm256_blendv_epi8(levels, LoadBytes(centres + x), still);
            uncertain &= ~uint32_t(_mm256_movemask_epi8(still));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), levels);
        for (; uncertain != 0; uncertain &= uncertain - 1) {
            const int32_t lane = __builtin_ctz(uncertain);
            out[x + lane] = Clamp255(ExactSharpen(f, x + lane, y));
        }
    }
    for (; x < f.width; ++x) out[x] = Clamp255(ExactSharpen(f, x, y));
    _mm256_zeroupper();
}

// Sharpen on the fast path, the padded plane ready: the float sums of padded row r live in
// slot r % n, as the double path keeps its own.
void FastSharpenPass(const Plane& p, FastSharpen& f, Scratch& s) {
    const int32_t n = f.n;
    auto slot = [&](int32_t r) { return s.rows.get() + ptrdiff_t(r % n) * p.width; };
    auto sumRow = [&](int32_t r) {
        std::copy_n(f.Row(r), p.width + n - 1, s.row.get());
        SharpenRowSums(f, s.row.get(), slot(r));
    };
    for (int32_t r = 0; r < n - 1; ++r) sumRow(r);
    for (int32_t y = 0; y < p.height; ++y) {
        sumRow(y + n - 1);
        SharpenOutputs(
            f, y, [&](int32_t t) { return slot(y + f.offsets[t]); }, p.row(y));
    }
}
#endif

// Each padded row summed along the line first (kept in doubles), then the columns.
void SharpenPass(const Plane& p, int32_t n, const SharpenKernel& k, Scratch& s) {
    if (!PadPlane8(p.data, p.width, p.width, p.height, n, s.buffer)) return;
    const int64_t rowLength = PaddedRowLength(p.width, n);
#if defined(__x86_64__)
    if (FastSharpen f{k, s.buffer.get(), rowLength, n, p.width, {}, {}, 0, 0, 0};
        SetFastSharpen(f)) {
        FastSharpenPass(p, f, s);
        return;
    }
#endif
    const int32_t j = n / 2;
    const int32_t count = k.line.count;
    s.floats.count = s.doubles.count = count;
    for (int32_t t = 0; t < count; ++t) {
        const Tap& tap = k.line.taps.get()[t];
        s.floats.Set(t, s.row.get() + tap.u + j, nullptr, tap.weight);
    }
    // The sums of padded row r live in slot r % n until the n output rows that read them are
    // done, so the ring stays in the cache. Each padded row is converted to floats (exact for
    // bytes) once rather than at each tap.
    auto slot = [&](int32_t r) { return s.ring.get() + ptrdiff_t(r % n) * p.width; };
    auto sumRow = [&](int32_t r) {
        std::copy_n(s.buffer.get() + r * rowLength, p.width + n - 1, s.row.get());
        SumSpan(s.floats, p.width, {.doubles = slot(r)});
    };
    for (int32_t r = 0; r < n - 1; ++r) sumRow(r);
    for (int32_t y = 0; y < p.height; ++y) {
        sumRow(y + n - 1);
        for (int32_t t = 0; t < count; ++t) {
            const Tap& tap = k.line.taps.get()[t];
            s.doubles.Set(t, slot(y + tap.v + j), nullptr, tap.weight);
        }
        uint8_t* row = p.row(y);
        SumSpan(s.doubles, p.width,
                {.bytes = row, .centreRow = row, .window = k.window, .centre = k.centre});
    }
}

// Edge: n^2 times the pixel less the window's sum, in exact integers by running column sums
// (the same as summing the kernel, whose entries are integers and whose sum is 0).
void EdgePass(const Plane& p, int32_t n, Scratch& s) {
    if (!PadPlane8(p.data, p.width, p.width, p.height, n, s.buffer)) return;
    const int64_t rowLength = PaddedRowLength(p.width, n);
    int64_t* columns = s.sums.get();
    const int32_t span = p.width + n - 1, j = n / 2;
    const uint8_t* padded = s.buffer.get();
    std::fill_n(columns, span, 0);
    for (int32_t r = 0; r < n - 1; ++r) {
        for (int32_t c = 0; c < span; ++c) columns[c] += padded[r * rowLength + c];
    }
    for (int32_t y = 0; y < p.height; ++y) {
        const uint8_t* enter = padded + (y + n - 1) * rowLength;
        for (int32_t c = 0; c < span; ++c) columns[c] += enter[c];
        int64_t box = 0;
        for (int32_t c = 0; c < n - 1; ++c) box += columns[c];
        const uint8_t* centre = padded + (y + j) * rowLength + j;
        uint8_t* out = p.row(y);
        for (int32_t x = 0; x < p.width; ++x) {
            box += columns[x + n - 1];
            out[x] = uint8_t(std::clamp<int64_t>(int64_t(n) * n * centre[x] - box, 0, 255));
            box -= columns[x];
        }
        const uint8_t* leave = padded + y * rowLength;
        for (int32_t c = 0; c < span; ++c) columns[c] -= leave[c];
    }
}

// The work of one convolution, prepared before any channel changes.
struct Filter {
    int32_t type = 0;
    int32_t n = 0;
    TapList first, second;  // blur: rows, columns; emboss: the window
    SharpenKernel sharpen;
    Scratch scratch;

    void Apply(const Plane& p) {
        if (type == QV_CONVOLVE_BLUR) {
            RowPass(p, first, scratch);
            ColumnPass(p, second, scratch);
        } else if (type == QV_CONVOLVE_EDGE) {
            EdgePass(p, n, scratch);
        } else if (type == QV_CONVOLVE_SHARPEN) {
            SharpenPass(p, n, sharpen, scratch);
        } else {
            WindowPass(p, n, first, scratch);
        }
    }
};

// The most sources of the column pass's taps about every slot of its ring that it keeps
// (4 pointers each): kernels of up to about 90 pairs of taps.
constexpr size_t kMaxCentreSources = size_t(1) << 14;

bool PrepareBlur(Filter& f, int64_t n, double sigma, int32_t width, int32_t height) {
    if (!BlurTaps(n, sigma, width, f.first) || !BlurTaps(n, sigma, height, f.second)) return false;
    const size_t slots = RingSlots(f.second);
    const size_t row = size_t(width) + 2 * size_t(f.first.reach) + kFastBlock;
    const size_t ring = slots * size_t(SlotStride(f.second)) + kFastBlock;
    f.scratch.row = LineAlignable<float>(row);
    f.scratch.rows = LineAlignable<float>(ring);
    f.scratch.rowBytes = AllocArray<uint8_t>(row, true);
    f.scratch.ringBytes = LineAlignable<uint8_t>(ring);
    f.scratch.slotOffsets = AllocArray<ptrdiff_t>(3 * slots);
    const size_t centres = slots * size_t(f.second.count);
    if (centres <= kMaxCentreSources && !f.scratch.centres.Allocate(centres)) return false;
    return f.scratch.row && f.scratch.rows && f.scratch.rowBytes && f.scratch.ringBytes &&
           f.scratch.slotOffsets &&
           f.scratch.floats.Allocate(size_t(std::max(f.first.count, f.second.count))) &&
           f.scratch.lower.Allocate(size_t(f.second.count));
}

bool Prepare2D(Filter& f, double radius, double sigma, int32_t width, int32_t height) {
    const int64_t smaller = std::min(width, height);
    const int64_t n = f.type == QV_CONVOLVE_EDGE ? KernelWidth1D(radius, 0.5)
                                                 : KernelWidth2D(radius, sigma, smaller);
    if (n % 2 == 0 || n > smaller) return false;
    f.n = int32_t(n);
    if (std::fabs(sigma) <= 1e-10) sigma = 1;
    const size_t rows = size_t(height) + size_t(n);
    if (f.type == QV_CONVOLVE_EDGE) {
        f.scratch.sums = AllocArray<int64_t>(size_t(width) + size_t(n));
        if (!f.scratch.sums) return false;
    } else if (f.type == QV_CONVOLVE_SHARPEN) {
        f.scratch.ring = AllocArray<double>(size_t(n) * size_t(width));
        f.scratch.rows = AllocArray<float>(size_t(n) * size_t(width));
        f.scratch.row = AllocArray<float>(size_t(width) + size_t(n));
        if (!f.scratch.ring || !f.scratch.rows || !f.scratch.row ||
            !SharpenTaps(f.n, sigma, f.sharpen))
            return false;
    } else {
        f.scratch.rows = AllocArray<float>(size_t(n) * (size_t(width) + size_t(n)));
        if (!f.scratch.rows || !EmbossTaps(f.n, sigma, f.first)) return false;
    }
    f.scratch.buffer = AllocArray<uint8_t>(size_t(PaddedRowLength(width, f.n)) * rows);
    return f.scratch.buffer && f.scratch.floats.Allocate(size_t(n)) &&
           f.scratch.doubles.Allocate(size_t(n));
}

bool Prepare(Filter& f, double radius, double sigma, int32_t width, int32_t height) {
    switch (f.type) {
        case QV_CONVOLVE_BLUR: {
            if (!std::isfinite(sigma) || std::fabs(sigma) <= 1e-10) return false;
            return PrepareBlur(f, KernelWidth1D(radius, sigma), sigma, width, height);
        }
        case QV_CONVOLVE_EMBOSS:
        case QV_CONVOLVE_EDGE:
        case QV_CONVOLVE_SHARPEN:
            return std::isfinite(sigma) && Prepare2D(f, radius, sigma, width, height);
        default:
            return false;
    }
}

// The picture's channels as three packed planes (red, green, blue) and back. Sizes are held
// in locals: the byte stores may alias the block.
template <typename F>
QV_TEMPLATE_CLONES void SplitChannels(const qvConvolveBlock& b, uint8_t* planes) {
    const int32_t width = b.width, height = b.height;
    const size_t area = size_t(width) * size_t(height);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* red = planes + size_t(y) * size_t(width);
        SplitRow<F>(PixelAt(b.base, b.rowLength, F::bytes, 0, y), width, red, red + area,
                    red + 2 * area);
    }
}

template <typename F>
QV_TEMPLATE_CLONES void JoinChannels(const qvConvolveBlock& b, const uint8_t* planes) {
    const int32_t width = b.width, height = b.height;
    const size_t area = size_t(width) * size_t(height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* red = planes + size_t(y) * size_t(width);
        JoinRow<F>(red, red + area, red + 2 * area, width,
                   PixelAt(b.base, b.rowLength, F::bytes, 0, y));
    }
}

void CopyRows(const uint8_t* source, ptrdiff_t sourceStride, uint8_t* dest, ptrdiff_t destStride,
              int32_t width, int32_t height) {
    for (int32_t y = 0; y < height; ++y) {
        std::memcpy(dest + y * destStride, source + y * sourceStride, size_t(width));
    }
}

}  // namespace
}  // namespace qv

int64_t KernelWidth1D(double radius, double sigma) {
    if (radius > 0) return qv::RadiusWidth(radius);
    if (!std::isfinite(sigma) || std::fabs(sigma) <= 1e-10) return 1;
    const double norm = sigma * qv::kRootTwoPi;
    for (int64_t n = 5;; n += 2) {
        const int64_t j = n / 2;
        double sum = 0;
        for (int64_t u = -j; u <= j; ++u)
            sum += std::exp(-double(u * u) / (2 * sigma * sigma)) / norm;
        const double edge = std::exp(-double(j * j) / (2 * sigma * sigma));
        if (int64_t(255 * edge / norm / sum) < 1) return n - 2;
    }
}

int64_t KernelWidth2D(double radius, double sigma, int64_t limit) {
    if (radius > 0) return qv::RadiusWidth(radius);
    if (!std::isfinite(sigma) || std::fabs(sigma) <= 1e-10) return 1;
    // The Gaussian is separable: the window's sum is the square of a row's.
    const double twoSigmaSquared = 2 * sigma * sigma;
    double line = 1 + 2 * std::exp(-1 / twoSigmaSquared);
    for (int64_t n = 5;; n += 2) {
        const int64_t j = n / 2;
        const double edge = std::exp(-double(j * j) / twoSigmaSquared);
        line += 2 * edge;
        const double sum = line * line / (std::numbers::pi * twoSigmaSquared);
        if (edge / (sigma * qv::kRootTwoPi) / sum < 1.0 / 255 || n - 2 > limit) return n - 2;
    }
}

void ConvolvePixels(const qvConvolveBlock& b) {
    if (b.width < 1 || b.height < 1 || (b.base == nullptr && b.alpha == nullptr)) return;
    if (b.base != nullptr &&
        (b.format >= QV_FMT_COUNT || qv::BytesPerPixel(b.format) != b.bytesPerPixel))
        return;
    const double radius = b.radius > 0 ? b.radius : 0;
    qv::Filter filter;
    filter.type = b.type;
    if (!qv::Prepare(filter, radius, radius == 0 ? 1.0 : b.sigma, b.width, b.height)) return;
    const size_t area = size_t(b.width) * size_t(b.height);
    const int32_t count = (b.base != nullptr ? 3 : 0) + (b.alpha != nullptr ? 1 : 0);
    auto planes = qv::AllocArray<uint8_t>(area * size_t(count));
    if (!planes) return;
    const bool split = b.base != nullptr;
    if (split) {
        qv::VisitFormat(b.format, [&](auto f) { qv::SplitChannels<decltype(f)>(b, planes.get()); });
    }
    uint8_t* alpha = planes.get() + area * size_t(split ? 3 : 0);
    if (b.alpha != nullptr) {
        qv::CopyRows(b.alpha, b.alphaBytesPerRow, alpha, b.width, b.width, b.height);
    }
    for (int32_t i = 0; i < count; ++i) {
        filter.Apply({planes.get() + area * size_t(i), b.width, b.height});
    }
    if (split) {
        qv::VisitFormat(b.format, [&](auto f) { qv::JoinChannels<decltype(f)>(b, planes.get()); });
    }
    if (b.alpha != nullptr) {
        qv::CopyRows(alpha, b.width, b.alpha, b.alphaBytesPerRow, b.width, b.height);
    }
}
