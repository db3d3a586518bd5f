// TransformPixels and FlipPixels.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "gfx/kernels/rows.h"
#include "gfx/kernels/template_clones.h"
#include "gfx/pixel_format.h"
#include "gfx/transform.h"

namespace qv {
namespace {

constexpr double kSpanEpsilon = 1e-10;

// The source point of destination column X on the current row: (ua X + ub, va X + vb).
struct RowMapping {
    double ua, ub, va, vb;
    double U(int32_t x) const { return ua * x + ub; }
    double V(int32_t x) const { return va * x + vb; }
};

// Cuts [lo, hi) to the columns X where 0 <= slope X + intercept < limit.
void Constrain(double slope, double intercept, double limit, double& lo, double& hi) {
    if (slope == 0) {
        if (!(intercept >= 0 && intercept < limit)) hi = lo;
        return;
    }
    const double atZero = -intercept / slope, atLimit = (limit - intercept) / slope;
    lo = std::max(lo, slope > 0 ? atZero : atLimit);
    hi = std::min(hi, slope > 0 ? atLimit : atZero);
}

// A span end as a column of the destination row.
int32_t SpanColumn(double x, int32_t width) {
    return int32_t(std::clamp(std::ceil(x - kSpanEpsilon), 0.0, double(width)));
}

// Branch-free minimum and maximum (no NaN reaches them), so that the sampling loops
// vectorise.
template <typename T>
inline T Low(T a, T b) {
    return a < b ? a : b;
}
template <typename T>
inline T High(T a, T b) {
    return a > b ? a : b;
}

// Source coordinates inside the rectangle; points on its edge may lie an epsilon outside.
// Truncating after the clamp is the floor, without a call of floor.
inline int32_t Inside(double coordinate, int32_t size) {
    return int32_t(Low(High(coordinate, 0.0), double(size - 1)));
}

// Sets the mask bits of columns [from, to): whole bytes at once.
void SetBitSpan(uint8_t* row, int32_t from, int32_t to) {
    for (; from < to && (from & 7) != 0; ++from) SetMaskBit(row, from, true);
    const int32_t wholeBytes = (to - from) >> 3;
    if (wholeBytes > 0) std::memset(row + (from >> 3), 0xFF, size_t(wholeBytes));
    for (from += wholeBytes * 8; from < to; ++from) SetMaskBit(row, from, true);
}

struct Rows {
    uint8_t* dest;
    uint8_t* destMask;
    uint8_t* destAlpha;
};

Rows RowsAt(const qvTransformBlock& k, int bytes, int32_t y) {
    return {k.dest != nullptr ? PixelAt(k.dest, k.destRowLength, bytes, 0, y) : nullptr,
            k.destMask != nullptr ? k.destMask + ptrdiff_t(y) * k.destMaskBytesPerRow : nullptr,
            k.destAlpha != nullptr ? k.destAlpha + ptrdiff_t(y) * k.destAlphaBytesPerRow : nullptr};
}

uint8_t SourceAlpha(const qvTransformBlock& k, int32_t x, int32_t y) {
    return PlaneRow(k.sourceAlpha, k.sourceAlphaBytesPerRow, y)[x];
}

// The nearest values of a span of 8-, 16- or 32-bit values (colour words, alpha bytes),
// written so that it vectorises.
template <typename Word>
QV_TEMPLATE_CLONES void NearestValues(const Word* __restrict source, int32_t rowLength,
                                      int32_t width, int32_t height, RowMapping m, int32_t from,
                                      int32_t to, Word* __restrict dest) {
    for (int32_t x = from; x < to; ++x) {
        dest[x] = source[Inside(m.V(x), height) * rowLength + Inside(m.U(x), width)];
    }
}

template <int B>
void NearestColour(const qvTransformBlock& k, const RowMapping& m, uint8_t* dest, int32_t from,
                   int32_t to) {
    if constexpr (B == 3) {
        for (int32_t x = from; x < to; ++x) {
            const int32_t sx = Inside(m.U(x), k.sourceWidth), sy = Inside(m.V(x), k.sourceHeight);
            std::memcpy(dest + x * 3, PixelAt(k.source, k.sourceRowLength, 3, sx, sy), 3);
        }
    } else {
        using Word = std::conditional_t<B == 4, uint32_t, uint16_t>;
        NearestValues(reinterpret_cast<const Word*>(k.source), k.sourceRowLength, k.sourceWidth,
                      k.sourceHeight, m, from, to, reinterpret_cast<Word*>(dest));
    }
}

// The four neighbours of a sample, taken at sample - 0.5 so that a pixel centre samples
// exactly one pixel, and their weights. The floor is taken of a value held within [-1,
// size], where every neighbour is clamped alike.
struct Sample {
    int32_t left, right, top, bottom;
    double fx, fy, gx, gy;  // g = 1 - f
};

[[gnu::always_inline]] inline int32_t FloorWithin(double coordinate, int32_t size) {
    const double held = Low(High(coordinate, -1.0), double(size));
    const auto whole = int32_t(held);
    return whole - int32_t(held < whole);
}

[[gnu::always_inline]] inline Sample SampleAt(double u, double v, int32_t width, int32_t height) {
    const int32_t x0 = FloorWithin(u - 0.5, width), y0 = FloorWithin(v - 0.5, height);
    Sample s;
    s.fx = u - 0.5 - x0, s.fy = v - 0.5 - y0;
    s.gx = 1 - s.fx, s.gy = 1 - s.fy;
    s.left = Low(High(x0, 0), width - 1), s.right = Low(High(x0 + 1, 0), width - 1);
    s.top = Low(High(y0, 0), height - 1), s.bottom = Low(High(y0 + 1, 0), height - 1);
    return s;
}

// ((p00 (1 - fx) + p10 fx) (1 - fy) + (p01 (1 - fx) + p11 fx) fy) + 0.5, truncated, for the
// byte at the shift of the four neighbours (top-left, top-right, bottom-left, bottom-right).
[[gnu::always_inline]] inline uint32_t Mix(const uint32_t p[4], int shift, const Sample& s) {
    auto c = [shift](uint32_t v) { return double((v >> shift) & 255); };
    const double value =
        (c(p[0]) * s.gx + c(p[1]) * s.fx) * s.gy + (c(p[2]) * s.gx + c(p[3]) * s.fx) * s.fy + 0.5;
    return uint32_t(int32_t(value)) << shift;
}

[[gnu::always_inline]] inline uint32_t MixRGB(const uint32_t p[4], const Sample& s) {
    return Mix(p, 16, s) | Mix(p, 8, s) | Mix(p, 0, s);
}

// The colour of columns [from, to) as if every neighbour were visible, written so that it
// vectorises, into dest from column from on. 16-bit sources need two columns or more.
template <typename F>
QV_TEMPLATE_CLONES void SmoothColour(const uint8_t* __restrict source, int32_t rowLength,
                                     int32_t width, int32_t height, RowMapping m, int32_t from,
                                     int32_t to, uint8_t* __restrict dest) {
    for (int32_t x = from; x < to; ++x) {
        const Sample s = SampleAt(m.U(x), m.V(x), width, height);
        const int32_t top = s.top * rowLength, bottom = s.bottom * rowLength;
        uint32_t p[4];
        if constexpr (F::bytes == 4) {
            const auto* __restrict pixels = reinterpret_cast<const uint32_t*>(source);
            p[0] = F::Unpack(pixels[top + s.left]), p[1] = F::Unpack(pixels[top + s.right]);
            p[2] = F::Unpack(pixels[bottom + s.left]), p[3] = F::Unpack(pixels[bottom + s.right]);
            reinterpret_cast<uint32_t*>(dest)[x - from] = F::Pack(MixRGB(p, s));
        } else if constexpr (F::bytes == 2) {
            // No gathers of 16-bit words: each row's neighbours come as one 32-bit pair from
            // the column base (low half first), which lies inside the row also where both
            // neighbours are clamped onto one edge column.
            static_assert(std::endian::native == std::endian::little);
            typedef uint32_t Pair __attribute__((aligned(2), may_alias));
            const auto* __restrict pixels = reinterpret_cast<const uint16_t*>(source);
            const int32_t base = Low(s.left, width - 2);
            const uint32_t upper = *reinterpret_cast<const Pair*>(pixels + (top + base));
            const uint32_t lower = *reinterpret_cast<const Pair*>(pixels + (bottom + base));
            const int32_t leftShift = (s.left - base) * 16, rightShift = (s.right - base) * 16;
            p[0] = F::Unpack((upper >> leftShift) & 0xFFFF);
            p[1] = F::Unpack((upper >> rightShift) & 0xFFFF);
            p[2] = F::Unpack((lower >> leftShift) & 0xFFFF);
            p[3] = F::Unpack((lower >> rightShift) & 0xFFFF);
            reinterpret_cast<uint16_t*>(dest)[x - from] = uint16_t(F::Pack(MixRGB(p, s)));
        } else {
            p[0] = F::Unpack(LoadPixel(source + (top + s.left) * 3, 3));
            p[1] = F::Unpack(LoadPixel(source + (top + s.right) * 3, 3));
            p[2] = F::Unpack(LoadPixel(source + (bottom + s.left) * 3, 3));
            p[3] = F::Unpack(LoadPixel(source + (bottom + s.right) * 3, 3));
            StorePixel(dest + (x - from) * 3, 3, F::Pack(MixRGB(p, s)));
        }
    }
}

// Whether SmoothColour can mix the colour of a row's spans.
template <typename F>
bool MixesColour(const qvTransformBlock& k, const Rows& row) {
    return row.dest != nullptr && (F::bytes != 2 || k.sourceWidth > 1);
}

constexpr int32_t kChunk = 128;  // columns mixed and tested ahead of the walk of the planes

// Where the mask bits of the pixels of a chunk lie: the rows (byte offsets) and columns (bit
// numbers) of their four neighbours and of the source pixel each lies on. The places are
// found by loops that vectorise; the bits are then read one by one.
struct MaskPlaces {
    int32_t top[kChunk], bottom[kChunk], left[kChunk], right[kChunk];
    int32_t row[kChunk], column[kChunk];
};

// The places of the source pixels that columns [from, to), at most a chunk, lie on, from
// column from on.
QV_TEMPLATE_CLONES void FindCentres(int32_t bytesPerRow, int32_t bitOffset, int32_t width,
                                    int32_t height, RowMapping m, int32_t from, int32_t to,
                                    int32_t* __restrict rows, int32_t* __restrict columns) {
    for (int32_t x = from; x < to; ++x) {
        rows[x - from] = Inside(m.V(x), height) * bytesPerRow;
        columns[x - from] = bitOffset + Inside(m.U(x), width);
    }
}

// The places of the neighbours of columns [from, to), at most a chunk, from column from on.
QV_TEMPLATE_CLONES void FindNeighbours(int32_t bytesPerRow, int32_t bitOffset, int32_t width,
                                       int32_t height, RowMapping m, int32_t from, int32_t to,
                                       MaskPlaces& __restrict places) {
    for (int32_t x = from; x < to; ++x) {
        const Sample s = SampleAt(m.U(x), m.V(x), width, height);
        const int32_t i = x - from;
        places.top[i] = s.top * bytesPerRow, places.bottom[i] = s.bottom * bytesPerRow;
        places.left[i] = bitOffset + s.left, places.right[i] = bitOffset + s.right;
    }
}

// Under a source mask, the visibility of each pixel's four neighbours (bits 0 to 3: top-left,
// top-right, bottom-left, bottom-right) and of the source pixel it lies on (bit 4), for
// columns [from, to) into codes from column from on.
constexpr uint8_t kNeighbours = 15, kCentre = 16, kWhole = kNeighbours | kCentre;

void Visibility(const uint8_t* mask, const MaskPlaces& places, int32_t count, uint8_t* codes) {
    auto bit = [mask](int32_t row, int32_t column) { return int(MaskBit(mask + row, column)); };
    for (int32_t i = 0; i < count; ++i) {
        const int32_t top = places.top[i], bottom = places.bottom[i];
        const int32_t left = places.left[i], right = places.right[i];
        codes[i] = uint8_t(bit(top, left) | bit(top, right) << 1 | bit(bottom, left) << 2 |
                           bit(bottom, right) << 3 | bit(places.row[i], places.column[i]) << 4);
    }
}

// The nearest mask bits of columns [from, to), each byte of the row written once.
void NearestMaskBits(const qvTransformBlock& k, const RowMapping& m, uint8_t* dest, int32_t from,
                     int32_t to) {
    int32_t rows[kChunk], columns[kChunk];
    for (int32_t start = from; start < to; start += kChunk) {
        const int32_t end = std::min(start + kChunk, to);
        FindCentres(k.sourceMaskBytesPerRow, k.sourceX, k.sourceWidth, k.sourceHeight, m, start,
                    end, rows, columns);
        for (int32_t x = start; x < end;) {
            uint8_t byte = dest[x >> 3];
            const int32_t byteEnd = std::min((x | 7) + 1, end);
            for (; x < byteEnd; ++x) {
                const auto bit = uint8_t(0x80 >> (x & 7));
                const bool on = MaskBit(k.sourceMask + rows[x - start], columns[x - start]);
                byte = on ? uint8_t(byte | bit) : uint8_t(byte & ~bit);
            }
            dest[(x - 1) >> 3] = byte;
        }
    }
}

template <int B>
void NearestSpan(const qvTransformBlock& k, const RowMapping& m, const Rows& row, int32_t from,
                 int32_t to) {
    if (row.dest != nullptr) NearestColour<B>(k, m, row.dest, from, to);
    if (k.sourceAlpha != nullptr && row.destAlpha != nullptr) {
        NearestValues(k.sourceAlpha, k.sourceAlphaBytesPerRow, k.sourceWidth, k.sourceHeight, m,
                      from, to, row.destAlpha);
    }
    if (k.sourceMask != nullptr && row.destMask != nullptr) {
        NearestMaskBits(k, m, row.destMask, from, to);
    }
}

// Spans with planes. Under a source mask (codes from Visibility), invisible neighbours take
// the colour of the first visible one (top-left, top-right, bottom-left, bottom-right); with
// none visible the pixel stays as it is, masked out. Alpha bytes are interpolated as they
// are. A pixel whose neighbours are all visible takes its colour from mixed (columns from
// on) when given.
template <typename F>
void SmoothPlanes(const qvTransformBlock& k, const RowMapping& m, const Rows& row, int32_t from,
                  int32_t to, const uint8_t* mixed, const uint8_t* codes) {
    constexpr int B = F::bytes;
    const bool alpha = k.sourceAlpha != nullptr && row.destAlpha != nullptr;
    const bool runs = codes != nullptr && mixed != nullptr && !alpha;
    for (int32_t x = from; x < to; ++x) {
        const uint8_t code = codes != nullptr ? codes[x - from] : kWhole;
        if (runs && code == kWhole) {
            // A run of pixels inside the mask, copied and marked at once.
            int32_t end = x + 1;
            while (end < to && codes[end - from] == kWhole) ++end;
            std::memcpy(row.dest + x * B, mixed + (x - from) * B, size_t(end - x) * B);
            if (row.destMask != nullptr) SetBitSpan(row.destMask, x, end);
            x = end - 1;
            continue;
        }
        const int visible = code & kNeighbours;
        if (codes != nullptr && row.destMask != nullptr) {
            SetMaskBit(row.destMask, x, visible != 0 && (code & kCentre) != 0);
        }
        if (visible == 0) continue;
        const bool whole = mixed != nullptr && visible == kNeighbours;
        if (whole) std::memcpy(row.dest + x * B, mixed + (x - from) * B, B);
        if (whole && !alpha) continue;
        const Sample s = SampleAt(m.U(x), m.V(x), k.sourceWidth, k.sourceHeight);
        const int32_t xs[4] = {s.left, s.right, s.left, s.right};
        const int32_t ys[4] = {s.top, s.top, s.bottom, s.bottom};
        if (row.dest != nullptr && !whole) {
            const int first = std::countr_zero(unsigned(visible));
            uint32_t p[4];
            for (int i = 0; i < 4; ++i) {
                const int c = (visible >> i & 1) != 0 ? i : first;
                p[i] =
                    F::Unpack(LoadPixel(PixelAt(k.source, k.sourceRowLength, B, xs[c], ys[c]), B));
            }
            StorePixel(row.dest + x * B, B, F::Pack(MixRGB(p, s)));
        }
        if (alpha) {
            uint32_t a[4];
            for (int i = 0; i < 4; ++i) a[i] = SourceAlpha(k, xs[i], ys[i]);
            row.destAlpha[x] = uint8_t(Mix(a, 0, s));
        }
    }
}

// Spans with planes, a chunk at a time: the colour mixed ahead as if every neighbour were
// visible and the visibility of the neighbours found ahead, both vectorised, then the walk
// of the planes, which mends the pixels where some neighbours are not visible.
template <typename F>
void SmoothSpan(const qvTransformBlock& k, const RowMapping& m, const Rows& row, int32_t from,
                int32_t to) {
    alignas(32) uint8_t mixed[kChunk * 4];
    MaskPlaces places;
    uint8_t codes[kChunk];
    const bool mixes = MixesColour<F>(k, row);
    for (int32_t start = from; start < to; start += kChunk) {
        const int32_t end = std::min(start + kChunk, to);
        if (mixes) {
            SmoothColour<F>(k.source, k.sourceRowLength, k.sourceWidth, k.sourceHeight, m, start,
                            end, mixed);
        }
        if (k.sourceMask != nullptr) {
            FindNeighbours(k.sourceMaskBytesPerRow, k.sourceX, k.sourceWidth, k.sourceHeight, m,
                           start, end, places);
            FindCentres(k.sourceMaskBytesPerRow, k.sourceX, k.sourceWidth, k.sourceHeight, m, start,
                        end, places.row, places.column);
            Visibility(k.sourceMask, places, end - start, codes);
        }
        SmoothPlanes<F>(k, m, row, start, end, mixes ? mixed : nullptr,
                        k.sourceMask != nullptr ? codes : nullptr);
    }
}

template <typename F>
void Transform(const qvTransformBlock& k, const double inverse[4]) {
    const double* m = k.matrix;
    const bool markSpans = k.sourceMask == nullptr && k.sourceAlpha == nullptr;
    for (int32_t y = 0; y < k.destHeight; ++y) {
        // Destination centres (X + 0.5 + offset x, Y + 0.5 + offset y), mapped back.
        const double px = 0.5 - m[4], py = y + 0.5 - m[5];
        const RowMapping row{inverse[0], inverse[0] * px + inverse[2] * py, inverse[1],
                             inverse[1] * px + inverse[3] * py};
        double lo = -std::numeric_limits<double>::infinity();
        double hi = std::numeric_limits<double>::infinity();
        Constrain(row.ua, row.ub, k.sourceWidth, lo, hi);
        Constrain(row.va, row.vb, k.sourceHeight, lo, hi);
        const int32_t from = SpanColumn(lo, k.destWidth), to = SpanColumn(hi, k.destWidth);
        if (from >= to) continue;
        const Rows rows = RowsAt(k, F::bytes, y);
        if (k.smooth != 0 && k.sourceMask == nullptr && k.sourceAlpha == nullptr &&
            MixesColour<F>(k, rows)) {
            SmoothColour<F>(k.source, k.sourceRowLength, k.sourceWidth, k.sourceHeight, row, from,
                            to, rows.dest + from * F::bytes);
        } else if (k.smooth != 0) {
            SmoothSpan<F>(k, row, rows, from, to);
        } else {
            NearestSpan<F::bytes>(k, row, rows, from, to);
        }
        if (markSpans && rows.destMask != nullptr) SetBitSpan(rows.destMask, from, to);
    }
}

template <int B>
void SwapPixels(uint8_t* a, uint8_t* b) {
    uint8_t t[4];
    std::memcpy(t, a, B);
    std::memcpy(a, b, B);
    std::memcpy(b, t, B);
}

template <int B>
void FlipRows(const qvFlipBlock& k) {
    for (int32_t j = 0; j < k.height / 2; ++j) {
        const int32_t other = k.height - 1 - j;
        std::swap_ranges(PixelAt(k.base, k.rowLength, B, 0, j),
                         PixelAt(k.base, k.rowLength, B, k.width, j),
                         PixelAt(k.base, k.rowLength, B, 0, other));
        if (k.mask != nullptr) {
            uint8_t* top = k.mask + ptrdiff_t(j) * k.maskBytesPerRow;
            std::swap_ranges(top, top + k.maskBytesPerRow,
                             k.mask + ptrdiff_t(other) * k.maskBytesPerRow);
        }
        if (k.alpha != nullptr) {
            uint8_t* top = k.alpha + ptrdiff_t(j) * k.alphaBytesPerRow;
            std::swap_ranges(top, top + k.width, k.alpha + ptrdiff_t(other) * k.alphaBytesPerRow);
        }
    }
}

template <int B>
void MirrorRows(const qvFlipBlock& k) {
    for (int32_t j = 0; j < k.height; ++j) {
        uint8_t* pixels = PixelAt(k.base, k.rowLength, B, 0, j);
        for (int32_t i = 0; i < k.width / 2; ++i) {
            SwapPixels<B>(pixels + i * B, pixels + (k.width - 1 - i) * B);
        }
        if (k.alpha != nullptr) {
            uint8_t* alpha = k.alpha + ptrdiff_t(j) * k.alphaBytesPerRow;
            std::reverse(alpha, alpha + k.width);
        }
        if (k.mask != nullptr && k.scratch != nullptr) {
            uint8_t* mask = k.mask + ptrdiff_t(j) * k.maskBytesPerRow;
            std::memcpy(k.scratch, mask, size_t(k.maskBytesPerRow));
            for (int32_t x = 0; x < k.width; ++x) {
                SetMaskBit(mask, x, MaskBit(k.scratch, k.width - 1 - x));
            }
        }
    }
}

template <int B>
void Flip(const qvFlipBlock& k) {
    if (k.direction == QV_FLIP_VERTICAL) {
        FlipRows<B>(k);
    } else {
        MirrorRows<B>(k);
    }
}

}  // namespace
}  // namespace qv

void TransformPixels(const qvTransformBlock& block) {
    const double* m = block.matrix;
    if (m == nullptr || block.sourceWidth < 1 || block.sourceHeight < 1) return;
    // A singular matrix maps the source onto a line: nothing is covered, and the result
    // keeps its cleared planes.
    const double det = m[0] * m[3] - m[1] * m[2];
    if (!(std::fabs(det) >= 1e-12)) return;
    const double inverse[4] = {m[3] / det, -m[1] / det, -m[2] / det, m[0] / det};
    for (double value : {inverse[0], inverse[1], inverse[2], inverse[3], m[4], m[5]}) {
        if (!std::isfinite(value)) return;
    }
    qvTransformBlock k = block;
    if (k.source == nullptr || k.dest == nullptr) {
        // Planes only: the walk of any format does.
        k.source = nullptr, k.dest = nullptr;
        k.format = QV_FMT_A8R8G8B8, k.bytesPerPixel = 4;
    }
    qv::VisitFormat(k.format, [&](auto f) {
        if (f.bytes == k.bytesPerPixel) qv::Transform<decltype(f)>(k, inverse);
    });
}

void FlipPixels(const qvFlipBlock& block) {
    if (block.base == nullptr || block.width < 1 || block.height < 1) return;
    switch (block.bytesPerPixel) {
        case 2:
            qv::Flip<2>(block);
            break;
        case 3:
            qv::Flip<3>(block);
            break;
        case 4:
            qv::Flip<4>(block);
            break;
        default:
            break;
    }
}
