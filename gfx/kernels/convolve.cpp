// The convolutions: blur in two separable passes of a 3x-oversampled Gaussian, and the n x n
// windows of emboss, edge and sharpen, each computed by its structure (a diagonal, box sums,
// a separable sum). The picture is split into channel planes, so that one path serves every
// depth and the alpha plane alike; each pass truncates its results to 0..255 as the effects
// always did.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

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
    int32_t count = 0;

    bool Allocate(size_t taps) {
        first = AllocArray<const T*>(taps);
        second = AllocArray<const T*>(taps);
        weight = AllocArray<double>(taps);
        return first && second && weight;
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
constexpr int32_t kLanes = 4;
constexpr int32_t kBlock = 4 * kLanes;  // four sums in flight hide the additions' latency

// Vectors pass by reference only: a function of the baseline clone returns them otherwise
// than one of the AVX2 clone expects.
inline void Load(Doubles& v, const double* p) {
    std::memcpy(&v, p, sizeof v);
}
inline void Load(Doubles& v, const float* p) {
    Floats f;
    std::memcpy(&f, p, sizeof f);
    v = __builtin_convertvector(f, Doubles);
}
inline void Load(Doubles& v, const uint8_t* p) {
    Bytes b;
    std::memcpy(&b, p, sizeof b);
    v = __builtin_convertvector(__builtin_convertvector(b, Ints), Doubles);
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
            const Bytes result = __builtin_convertvector(__builtin_convertvector(v, Ints), Bytes);
            std::memcpy(out.bytes + at, &result, sizeof result);
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

// A packed width x height channel plane and the scratch its passes share.
struct Plane {
    uint8_t* data;
    int32_t width, height;
    uint8_t* row(int32_t y) const { return data + ptrdiff_t(y) * width; }
};

struct Scratch {
    SpanTaps<double> doubles;  // the taps over converted rows
    SpanTaps<uint8_t> bytes;   // the taps over a padded plane
    BlockPtr<double> row;      // a padded row of the blur
    BlockPtr<double> ring;     // converted rows of the blur's column pass, row sums of sharpen
    BlockPtr<uint8_t> buffer;  // a padded plane
    BlockPtr<int64_t> sums;    // the column sums of edge
};

// The taps of a blur pass over the rows (or columns) at(offset) from the output.
template <typename At>
void SetBlurTaps(const TapList& taps, SpanTaps<double>& span, At&& at) {
    for (int32_t t = 0; t < taps.count; ++t) {
        const Tap& tap = taps.taps.get()[t];
        span.Set(t, at(tap.paired ? -tap.u : tap.u), tap.paired ? at(tap.u) : nullptr, tap.weight);
    }
    span.count = taps.count;
}

// Each row is converted to doubles once, with its edges replicated by the taps' reach.
void RowPass(const Plane& p, const TapList& taps, Scratch& s) {
    double* pad = s.row.get();
    const int32_t r = taps.reach;
    SetBlurTaps(taps, s.doubles, [&](int32_t u) { return pad + r + u; });
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* row = p.row(y);
        std::fill_n(pad, r, double(row[0]));
        std::copy_n(row, p.width, pad + r);
        std::fill_n(pad + r + p.width, r, double(row[p.width - 1]));
        SumSpan(s.doubles, p.width, {.bytes = row});
    }
}

// Row y of the plane, clamped to it: the column pass replicates the edge rows.
const uint8_t* RowAt(const Plane& p, int32_t y) {
    return p.data + ptrdiff_t(std::clamp(y, 0, p.height - 1)) * p.width;
}

// Columns of the pass in strips whose ring of converted rows fits the cache, and at most
// kRingDoubles doubles for the widest kernels.
constexpr int32_t kStripWidth = 256;
constexpr size_t kRingDoubles = size_t(2) << 20;

int32_t StripWidth(const TapList& taps) {
    const size_t slots = 2 * size_t(taps.reach) + 1;
    return int32_t(std::clamp<size_t>(kRingDoubles / slots, 1, kStripWidth));
}

// Each source row of a strip is converted to doubles once, into a ring of 2 reach + 1 rows,
// before the output overwrites it.
void ColumnPass(const Plane& p, const TapList& taps, Scratch& s) {
    const int32_t reach = taps.reach, slots = 2 * reach + 1, strip = StripWidth(taps);
    for (int32_t left = 0; left < p.width; left += strip) {
        const int32_t width = std::min(strip, p.width - left);
        auto slot = [&](int32_t row) {
            return s.ring.get() + ptrdiff_t((row + reach) % slots) * strip;
        };
        auto convert = [&](int32_t row) { std::copy_n(RowAt(p, row) + left, width, slot(row)); };
        for (int32_t row = -reach; row < reach; ++row) convert(row);
        for (int32_t y = 0; y < p.height; ++y) {
            convert(y + reach);
            SetBlurTaps(taps, s.doubles, [&](int32_t u) { return slot(y + u); });
            SumSpan(s.doubles, width, {.bytes = p.row(y) + left});
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
    const int32_t j = n / 2;
    s.bytes.count = taps.count;
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t t = 0; t < taps.count; ++t) {
            const Tap& tap = taps.taps.get()[t];
            s.bytes.Set(t, s.buffer.get() + (y + tap.v + j) * rowLength + tap.u + j, nullptr,
                        tap.weight);
        }
        SumSpan(s.bytes, p.width, {.bytes = p.row(y)});
    }
}

// Each padded row summed along the line first (kept in doubles), then the columns.
void SharpenPass(const Plane& p, int32_t n, const SharpenKernel& k, Scratch& s) {
    if (!PadPlane8(p.data, p.width, p.width, p.height, n, s.buffer)) return;
    const int64_t rowLength = PaddedRowLength(p.width, n);
    const int32_t j = n / 2;
    const int32_t count = k.line.count;
    s.bytes.count = s.doubles.count = count;
    for (int32_t r = 0; r < p.height + n - 1; ++r) {
        for (int32_t t = 0; t < count; ++t) {
            const Tap& tap = k.line.taps.get()[t];
            s.bytes.Set(t, s.buffer.get() + r * rowLength + tap.u + j, nullptr, tap.weight);
        }
        SumSpan(s.bytes, p.width, {.doubles = s.ring.get() + ptrdiff_t(r) * p.width});
    }
    for (int32_t y = 0; y < p.height; ++y) {
        for (int32_t t = 0; t < count; ++t) {
            const Tap& tap = k.line.taps.get()[t];
            s.doubles.Set(t, s.ring.get() + ptrdiff_t(y + tap.v + j) * p.width, nullptr,
                          tap.weight);
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

bool PrepareBlur(Filter& f, int64_t n, double sigma, int32_t width, int32_t height) {
    if (!BlurTaps(n, sigma, width, f.first) || !BlurTaps(n, sigma, height, f.second)) return false;
    const size_t slots = 2 * size_t(f.second.reach) + 1;
    f.scratch.row = AllocArray<double>(size_t(width) + 2 * size_t(f.first.reach));
    f.scratch.ring = AllocArray<double>(slots * size_t(StripWidth(f.second)));
    return f.scratch.row && f.scratch.ring &&
           f.scratch.doubles.Allocate(size_t(std::max(f.first.count, f.second.count)));
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
        f.scratch.ring = AllocArray<double>(rows * size_t(width));
        if (!f.scratch.ring || !SharpenTaps(f.n, sigma, f.sharpen)) return false;
    } else if (!EmbossTaps(f.n, sigma, f.first)) {
        return false;
    }
    f.scratch.buffer = AllocArray<uint8_t>(size_t(PaddedRowLength(width, f.n)) * rows);
    return f.scratch.buffer && f.scratch.bytes.Allocate(size_t(n)) &&
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
void SplitChannels(const qvConvolveBlock& b, uint8_t* planes) {
    const int32_t width = b.width, height = b.height;
    const size_t area = size_t(width) * size_t(height);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = PixelAt(b.base, b.rowLength, F::bytes, 0, y);
        uint8_t* red = planes + size_t(y) * size_t(width);
        uint8_t *green = red + area, *blue = green + area;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t rgb = F::Unpack(LoadPixel(p + x * F::bytes, F::bytes));
            red[x] = uint8_t(rgb >> 16), green[x] = uint8_t(rgb >> 8), blue[x] = uint8_t(rgb);
        }
    }
}

template <typename F>
void JoinChannels(const qvConvolveBlock& b, const uint8_t* planes) {
    const int32_t width = b.width, height = b.height;
    const size_t area = size_t(width) * size_t(height);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* p = PixelAt(b.base, b.rowLength, F::bytes, 0, y);
        const uint8_t* red = planes + size_t(y) * size_t(width);
        const uint8_t *green = red + area, *blue = green + area;
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t rgb = uint32_t(red[x]) << 16 | uint32_t(green[x]) << 8 | blue[x];
            StorePixel(p + x * F::bytes, F::bytes, F::Pack(rgb));
        }
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
