// Kernels of the spatial filters that move whole pixels: padded planes, pixelate, oil paint
// and the water ripple and swirl displacements.
#include "gfx/kernels/spatial.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"
#include "gfx/masks.h"

namespace qv {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// Calls fn(Format<F>{}) when the format has the depth.
template <int Bytes, typename Fn>
void VisitDepth(uint32_t format, Fn&& fn) {
    VisitFormat(format, [&](auto f) {
        if constexpr (decltype(f)::bytes == Bytes) fn(f);
    });
}

template <typename T, int Elem>
bool PadElements(const uint8_t* base, ptrdiff_t stride, int32_t width, int32_t height, int32_t n,
                 BlockPtr<T>& buffer) {
    if (width < 1 || height < 1 || n < 1) return false;
    const int64_t rowLength = PaddedRowLength(width, n);
    const size_t rowBytes = size_t(rowLength) * Elem;
    if (!buffer) buffer = AllocArray<T>(rowBytes / sizeof(T) * (size_t(height) + size_t(n)));
    if (!buffer) return false;
    auto* out = reinterpret_cast<uint8_t*>(buffer.get());
    const int32_t half = n / 2;
    const int64_t left = std::min<int64_t>(half, rowLength);
    const int64_t right = std::min<int64_t>(half + int64_t(width), rowLength);
    for (int64_t r = 0; r < int64_t(height) + n; ++r) {
        uint8_t* row = out + size_t(r) * rowBytes;
        const int64_t sy = std::clamp<int64_t>(r - half, 0, height - 1);
        if (r > 0 && (r - half <= 0 || r - half >= height)) {
            std::memcpy(row, row - rowBytes, rowBytes);  // the same edge row again
            continue;
        }
        const uint8_t* src = base + sy * stride;
        for (int64_t c = 0; c < left; ++c) std::memcpy(row + c * Elem, src, Elem);
        std::memcpy(row + left * Elem, src, size_t(right - left) * Elem);
        const uint8_t* last = src + ptrdiff_t(width - 1) * Elem;
        for (int64_t c = right; c < rowLength; ++c) std::memcpy(row + c * Elem, last, Elem);
    }
    return true;
}

// The copy's pixel as a pixel of the picture's format.
template <int Bytes>
uint32_t Sample(const qvPixelateBlock& b, int32_t x, int32_t y) {
    if (b.copyFormat == b.format) {
        return LoadPixel(PixelAt(b.copyBase, b.copyRowLength, Bytes, x, y), Bytes);
    }
    const int copyBytes = BytesPerPixel(b.copyFormat);
    uint8_t rgb[3];
    ReadPixelRGB(PixelAt(b.copyBase, b.copyRowLength, copyBytes, x, y), b.copyFormat, rgb);
    return RGBToPixelFormat(uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2], b.format);
}

template <int Bytes>
void Pixelate(const qvPixelateBlock& b) {
    const int32_t size = std::max(b.size, 1);
    for (int32_t by = 0; by < b.height; by += size) {
        const int32_t rows = std::min(size, b.height - by);
        for (int32_t bx = 0; bx < b.width; bx += size) {
            const int32_t columns = std::min(size, b.width - bx);
            bool visible = true;
            if (b.copyMask != nullptr) {
                visible = MaskBit(PlaneRow(b.copyMask, b.copyMaskBytesPerRow, by), bx);
            } else if (b.copyAlpha != nullptr) {
                visible = PlaneRow(b.copyAlpha, b.copyAlphaBytesPerRow, by)[bx] != 0;
            }
            const uint8_t sampleAlpha =
                b.copyAlpha != nullptr ? PlaneRow(b.copyAlpha, b.copyAlphaBytesPerRow, by)[bx] : 0;
            const uint32_t sample = Sample<Bytes>(b, bx, by);
            for (int32_t y = by; y < by + rows; ++y) {
                if (visible) {
                    uint8_t* p = PixelAt(b.base, b.rowLength, Bytes, bx, y);
                    for (int32_t i = 0; i < columns; ++i) StorePixel(p + i * Bytes, Bytes, sample);
                }
                if (b.mask != nullptr) {
                    uint8_t* row = b.mask + ptrdiff_t(y) * b.maskBytesPerRow;
                    for (int32_t x = bx; x < bx + columns; ++x) SetMaskBit(row, x, visible);
                } else if (b.alpha != nullptr) {
                    std::memset(b.alpha + ptrdiff_t(y) * b.alphaBytesPerRow + bx,
                                visible ? sampleAlpha : 0, size_t(columns));
                }
            }
        }
    }
}

// The window's lines (rows or columns) about position p on a side of size lines: the
// picture's lines first..last, each standing for the copies the edge replication makes of it.
struct WindowSpan {
    WindowSpan(int32_t p, int32_t half, int32_t size)
        : lo(int64_t(p) - half),
          hi(int64_t(p) + half),
          size(size),
          first(int32_t(std::max<int64_t>(lo, 0))),
          last(int32_t(std::min<int64_t>(hi, size - 1))) {}
    // How many window positions j in lo..hi read line i (clamp(j) == i).
    uint32_t Copies(int32_t i) const {
        const int64_t from = i == 0 ? lo : i, to = i == size - 1 ? hi : i;
        return uint32_t(std::min(to, hi) - std::max(from, lo) + 1);
    }
    int64_t lo, hi;
    int32_t size, first, last;
};

// The oil-paint choice of each pixel as an index into the picture. Scanning the window row by
// row and keeping the pixel at which a bin first exceeds the largest count so far picks the
// pixel at which some bin first reaches the window's largest count M: the last occurrence of
// the bin, among those that reach M, whose last occurrence comes first. The window's edge
// copies are alike and consecutive in the scan, so each is read once with its number of
// copies as its weight: the same pixel wins, at a cost bounded by the picture's size however
// wide the window.
class OilPaintWindow {
public:
    OilPaintWindow(const uint8_t* intensities, int32_t width, int32_t height, int32_t half)
        : in_(intensities), width_(width), height_(height), half_(half) {}

    // Small windows (at most 15 wide, so counts stay small): one histogram per pixel, filled
    // in scan order. Only a window's first and last line can stand for several copies.
    int64_t Direct(int32_t x, const WindowSpan& rows) const {
        uint32_t histogram[256] = {};
        uint32_t most = 0;
        int64_t pick = 0;
        const WindowSpan columns(x, half_, width_);
        const uint32_t firstCopies = columns.Copies(columns.first);
        const uint32_t lastCopies = columns.Copies(columns.last);
        auto add = [&](int64_t at, uint32_t copies) {
            const uint32_t count = histogram[in_[at]] += copies;
            if (count > most) most = count, pick = at;
        };
        for (int32_t r = rows.first; r <= rows.last; ++r) {
            const uint32_t rowCopies = rows.Copies(r);
            const int64_t row = int64_t(r) * width_;
            add(row + columns.first, rowCopies * firstCopies);
            for (int32_t c = columns.first + 1; c < columns.last; ++c) add(row + c, rowCopies);
            if (columns.last > columns.first) add(row + columns.last, rowCopies * lastCopies);
        }
        return pick;
    }

    // Large windows: a histogram per window row (weighted by the column copies) that slides
    // along the output row, so a pixel costs O(n) instead of O(n^2). False when the
    // histograms cannot be allocated.
    bool StartRow(int32_t y) {
        rows_ = WindowSpan(y, half_, height_);
        const size_t count = size_t(rows_.last - rows_.first + 1) * 256;
        if (!bins_) {
            bins_ = AllocArray<uint32_t>(
                size_t(std::min<int64_t>(height_, 2 * int64_t(half_) + 1)) * 256);
        }
        if (!bins_) return false;
        std::memset(bins_.get(), 0, count * sizeof(uint32_t));
        std::memset(total_, 0, sizeof total_);
        const WindowSpan columns(0, half_, width_);
        for (int32_t r = rows_.first; r <= rows_.last; ++r) {
            for (int32_t c = columns.first; c <= columns.last; ++c) Add(r, c, columns.Copies(c));
        }
        return true;
    }
    // Moves the window from column x - 1 to column x: one copy of the column that leaves goes,
    // one of the column that comes is added.
    void Slide(int32_t x) {
        const int32_t leaving = std::clamp<int64_t>(int64_t(x) - 1 - half_, 0, width_ - 1);
        const int32_t coming = std::clamp<int64_t>(int64_t(x) + half_, 0, width_ - 1);
        for (int32_t r = rows_.first; r <= rows_.last; ++r) {
            Remove(r, leaving);
            Add(r, coming, 1);
        }
    }
    int64_t Pick(int32_t x) const {
        const uint64_t most = *std::max_element(total_, total_ + 256);
        const WindowSpan columns(x, half_, width_);
        int32_t bestRow = -1, bestColumn = 0;
        for (int bin = 0; bin < 256; ++bin) {
            if (total_[bin] != most) continue;
            int32_t r = rows_.last;
            while (Bins(r)[bin] == 0) --r;
            if (r > bestRow && bestRow >= 0) continue;
            const uint8_t* row = Row(r);
            int32_t c = columns.last;
            while (row[c] != bin) --c;
            if (bestRow < 0 || r < bestRow || c < bestColumn) bestRow = r, bestColumn = c;
        }
        return int64_t(bestRow) * width_ + bestColumn;
    }

private:
    const uint8_t* Row(int32_t r) const { return in_ + int64_t(r) * width_; }
    uint32_t* Bins(int32_t r) const { return bins_.get() + size_t(r - rows_.first) * 256; }
    void Add(int32_t r, int32_t c, uint32_t copies) {
        const uint8_t bin = Row(r)[c];
        Bins(r)[bin] += copies;
        total_[bin] += uint64_t(copies) * rows_.Copies(r);
    }
    void Remove(int32_t r, int32_t c) {
        const uint8_t bin = Row(r)[c];
        --Bins(r)[bin];
        total_[bin] -= rows_.Copies(r);
    }

    const uint8_t* in_;
    int32_t width_, height_, half_;
    WindowSpan rows_{0, 0, 1};
    BlockPtr<uint32_t> bins_;
    uint64_t total_[256];
};

// Up to this width the direct histogram is as fast as sliding one.
constexpr int32_t kDirectOilPaintWidth = 15;

template <int Bytes>
void OilPaint(const qvOilPaintBlock& b) {
    VisitDepth<Bytes>(b.format, [&](auto f) {
        using F = decltype(f);
        const size_t pixels = size_t(b.width) * size_t(b.height);
        // The picture as it was (the kernel writes it) and the intensities of its pixels.
        auto before = AllocArray<uint8_t>(pixels * Bytes);
        auto intensities = AllocArray<uint8_t>(pixels);
        if (!before || !intensities) return;
        for (int32_t y = 0; y < b.height; ++y) {
            const uint8_t* row = PixelAt(b.base, b.rowLength, Bytes, 0, y);
            std::memcpy(before.get() + size_t(y) * b.width * Bytes, row, size_t(b.width) * Bytes);
        }
        for (size_t i = 0; i < pixels; ++i) {
            intensities.get()[i] =
                uint8_t(IntensityOf(F::Unpack(LoadPixel(before.get() + i * Bytes, Bytes))));
        }
        OilPaintWindow window(intensities.get(), b.width, b.height, b.half);
        const bool sliding = 2 * int64_t(b.half) + 1 > kDirectOilPaintWidth;
        for (int32_t y = 0; y < b.height; ++y) {
            const WindowSpan rows(y, b.half, b.height);
            if (sliding && !window.StartRow(y)) return;
            uint8_t* out = PixelAt(b.base, b.rowLength, Bytes, 0, y);
            for (int32_t x = 0; x < b.width; ++x) {
                if (sliding && x > 0) window.Slide(x);
                const int64_t pick = sliding ? window.Pick(x) : window.Direct(x, rows);
                StorePixel(out + ptrdiff_t(x) * Bytes, Bytes,
                           LoadPixel(before.get() + pick * Bytes, Bytes));
            }
        }
    });
}

// The planes a displacement reads: the block's source or a snapshot of the destination.
struct DisplaceSource {
    const uint8_t* pixels;
    int32_t rowLength;
    const uint8_t* mask;
    int32_t maskBytesPerRow;
    const uint8_t* alpha;
    int32_t alphaBytesPerRow;
    BlockPtr<uint8_t> kept[3];
};

BlockPtr<uint8_t> Snapshot(const uint8_t* plane, size_t bytes) {
    auto copy = AllocArray<uint8_t>(bytes);
    if (copy) std::memcpy(copy.get(), plane, bytes);
    return copy;
}

template <int Bytes>
bool TakeSource(const qvDisplaceBlock& b, DisplaceSource& s) {
    if (b.source != nullptr) {
        s = {b.source,
             b.sourceRowLength,
             b.sourceMask,
             b.sourceMaskBytesPerRow,
             b.sourceAlpha,
             b.sourceAlphaBytesPerRow,
             {}};
        return true;
    }
    const size_t rows = size_t(b.height);
    s.kept[0] = Snapshot(b.dest, rows * size_t(b.destRowLength) * Bytes);
    if (!s.kept[0]) return false;
    if (b.destMask != nullptr) {
        s.kept[1] = Snapshot(b.destMask, rows * size_t(b.destMaskBytesPerRow));
        if (!s.kept[1]) return false;
    }
    if (b.destAlpha != nullptr) {
        s.kept[2] = Snapshot(b.destAlpha, rows * size_t(b.destAlphaBytesPerRow));
        if (!s.kept[2]) return false;
    }
    s.pixels = s.kept[0].get(), s.rowLength = b.destRowLength;
    s.mask = s.kept[1].get(), s.maskBytesPerRow = b.destMaskBytesPerRow;
    s.alpha = s.kept[2].get(), s.alphaBytesPerRow = b.destAlphaBytesPerRow;
    return true;
}

// Per channel second + (((first - second) x weight) >> 8).
template <typename F>
uint32_t BlendPixels(uint32_t first, uint32_t second, int32_t weight) {
    const uint32_t a = F::Unpack(first), c = F::Unpack(second);
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const int32_t p = int32_t(a >> shift & 255), q = int32_t(c >> shift & 255);
        out |= uint32_t(q + (((p - q) * weight) >> 8)) << shift;
    }
    return F::Pack(out);
}

// Walks the destination; point(x, y, &sx, &sy) gives the source pixel, inside the picture.
template <typename F, typename Point>
int Displace(const qvDisplaceBlock& b, int32_t weight, Point&& point) {
    constexpr int Bytes = F::bytes;
    DisplaceSource s;
    if (!TakeSource<Bytes>(b, s)) return ERR_MEM;
    const bool frame = b.frame >= 0;
    for (int32_t y = 0; y < b.height; ++y) {
        uint8_t* out = PixelAt(b.dest, b.destRowLength, Bytes, 0, y);
        uint8_t* maskRow =
            b.destMask != nullptr ? b.destMask + ptrdiff_t(y) * b.destMaskBytesPerRow : nullptr;
        uint8_t* alphaRow =
            b.destAlpha != nullptr ? b.destAlpha + ptrdiff_t(y) * b.destAlphaBytesPerRow : nullptr;
        for (int32_t x = 0; x < b.width; ++x) {
            int32_t px, py;
            point(x, y, &px, &py);
            const uint32_t pixel = LoadPixel(PixelAt(s.pixels, s.rowLength, Bytes, px, py), Bytes);
            uint8_t* target = out + ptrdiff_t(x) * Bytes;
            if (frame && b.alphaSource != nullptr) {
                const uint32_t a = PlaneRow(b.alphaSource, b.alphaSourceBytesPerRow, py)[px];
                if (a != 0) StorePixel(target, Bytes, pixel);
                if (alphaRow != nullptr) {
                    alphaRow[x] =
                        uint8_t(a * uint32_t(b.direction != 0 ? 255 - weight : weight) / 255);
                }
                continue;
            }
            if (frame && b.second != nullptr) {
                const uint32_t second =
                    LoadPixel(PixelAt(b.second, b.secondRowLength, Bytes, px, py), Bytes);
                StorePixel(target, Bytes, BlendPixels<F>(pixel, second, weight));
            } else {
                StorePixel(target, Bytes, pixel);
            }
            if (maskRow != nullptr && s.mask != nullptr) {
                SetMaskBit(maskRow, x, MaskBit(PlaneRow(s.mask, s.maskBytesPerRow, py), px));
            }
            if (alphaRow != nullptr && s.alpha != nullptr) {
                alphaRow[x] = PlaneRow(s.alpha, s.alphaBytesPerRow, py)[px];
            }
        }
    }
    return 0;
}

int32_t ClampTo(double v, int32_t size) {
    return std::clamp(gfx::TruncSaturate(v), 0, size - 1);
}

int32_t FrameWeight(int64_t frame, int64_t span) {
    return span > 0 ? int32_t(std::clamp<int64_t>(frame * 255 / span, 0, 255)) : 255;
}

template <int Bytes>
int WaterRipple(const qvWaterRippleBlock& r) {
    const qvDisplaceBlock& b = r.pictures;
    double amplitude = r.amplitude, phase = r.phase;
    int32_t weight = 255;
    if (b.frame >= 0) {
        const int64_t f = b.frame, t = r.halfPeriod;
        amplitude = double(f < t ? f : 2 * t - f) * r.amplitudeStep;
        phase = double(f);
        weight = FrameWeight(f, 2 * t);
    }
    const int32_t radius = std::max(r.centreX, r.centreY);
    // Without a radius or a usable wave the formula has no value: nothing moves.
    const bool still = radius == 0 || !(r.wavelength > 0) || !std::isfinite(r.wavelength) ||
                       !std::isfinite(amplitude) || !std::isfinite(phase);
    int result = 0;
    VisitDepth<Bytes>(b.format, [&](auto f) {
        result =
            Displace<decltype(f)>(b, weight, [&](int32_t x, int32_t y, int32_t* px, int32_t* py) {
                double a = 0;
                if (!still) {
                    const int32_t d = r.distances[ptrdiff_t(y) * b.width + x];
                    double angle = std::fmod(kTwoPi * d / r.wavelength - phase, kTwoPi);
                    if (angle < 0) angle += kTwoPi;
                    const auto index = std::min(int32_t(angle / 0.001), kTrigTableSize - 1);
                    a = amplitude * r.sine[index] * double(radius - d) / radius;
                    if (d != 0) a = a * r.wavelength / d;
                }
                *px = ClampTo(x + (x - r.centreX) * a, b.width);
                *py = ClampTo(y + (y - r.centreY) * a, b.height);
            });
    });
    return result;
}

template <int Bytes>
int Swirl(const qvSwirlBlock& w) {
    const qvDisplaceBlock& b = w.pictures;
    double degrees = w.degrees;
    int32_t weight = 255;
    if (b.frame >= 0) {
        degrees = b.frame > 359 ? 720 - b.frame : b.frame;
        weight = FrameWeight(b.frame, 720);
    }
    const double cx = b.width / 2.0, cy = b.height / 2.0, radius = std::max(cx, cy);
    const double scaleX = b.width > b.height ? 1 : double(b.height) / b.width;
    const double scaleY = b.width > b.height ? double(b.width) / b.height : 1;
    const double angle = degrees * std::numbers::pi / 180;
    int result = 0;
    VisitDepth<Bytes>(b.format, [&](auto f) {
        result =
            Displace<decltype(f)>(b, weight, [&](int32_t x, int32_t y, int32_t* px, int32_t* py) {
                const double dx = (x - cx) * scaleX, dy = (y - cy) * scaleY;
                const double square = dx * dx + dy * dy;
                if (!(square < radius * radius)) {
                    *px = x, *py = y;
                    return;
                }
                const double factor = 1 - IntSqrt(int32_t(square)) / radius;
                const double a = angle * factor * factor;
                double sine, cosine;
                if (a < 0) {
                    sine = std::sin(a), cosine = std::cos(a);
                } else {
                    const auto index = std::clamp(int32_t(a / 0.001), 0, kTrigTableSize - 1);
                    sine = w.sine[index], cosine = w.cosine[index];
                }
                *px = ClampTo((cosine * dx - sine * dy) / scaleX + cx, b.width);
                *py = ClampTo((sine * dx + cosine * dy) / scaleY + cy, b.height);
            });
    });
    return result;
}

}  // namespace
}  // namespace qv

int64_t PaddedRowLength(int32_t width, int32_t n) {
    return 4 * ((int64_t(width) + n) / 4) + 4;
}

bool PadPlane8(const uint8_t* plane, int32_t bytesPerRow, int32_t width, int32_t height, int32_t n,
               qv::BlockPtr<uint8_t>& buffer) {
    return qv::PadElements<uint8_t, 1>(plane, bytesPerRow, width, height, n, buffer);
}

void PixelatePixels32(const qvPixelateBlock& block) {
    qv::Pixelate<4>(block);
}
void PixelatePixels24(const qvPixelateBlock& block) {
    qv::Pixelate<3>(block);
}
void PixelatePixels16(const qvPixelateBlock& block) {
    qv::Pixelate<2>(block);
}

void OilPaintPixels32(const qvOilPaintBlock& block) {
    qv::OilPaint<4>(block);
}
void OilPaintPixels24(const qvOilPaintBlock& block) {
    qv::OilPaint<3>(block);
}
void OilPaintPixels16(const qvOilPaintBlock& block) {
    qv::OilPaint<2>(block);
}

// The angles accumulate by repeated addition of the step, as the effects always had them.
static void FillSineTable(double* sine, double* cosine) {
    double angle = 0;
    for (int32_t i = 0; i < qv::kTrigTableSize; ++i, angle += 0.001) {
        sine[i] = std::sin(angle);
        if (cosine != nullptr) cosine[i] = std::cos(angle);
    }
}

void InitWaterRippleTables(int32_t* distances, double* sine, int32_t width, int32_t height,
                           int32_t centreX, int32_t centreY) {
    for (int32_t y = 0; y < height; ++y) {
        const int64_t dy = int64_t(y) - centreY;
        for (int32_t x = 0; x < width; ++x) {
            const int64_t dx = int64_t(x) - centreX;
            // Only the far corner of a 32768-pixel square passes 2^31 - 1; its root is the same.
            const int64_t square = std::min<int64_t>(dx * dx + dy * dy, INT32_MAX);
            distances[ptrdiff_t(y) * width + x] = IntSqrt(int32_t(square));
        }
    }
    FillSineTable(sine, nullptr);
}

void InitSwirlTables(double* sine, double* cosine) {
    FillSineTable(sine, cosine);
}

int WaterRipplePixels32(const qvWaterRippleBlock& block) {
    return qv::WaterRipple<4>(block);
}
int WaterRipplePixels24(const qvWaterRippleBlock& block) {
    return qv::WaterRipple<3>(block);
}
int WaterRipplePixels16(const qvWaterRippleBlock& block) {
    return qv::WaterRipple<2>(block);
}

int SwirlPixels32(const qvSwirlBlock& block) {
    return qv::Swirl<4>(block);
}
int SwirlPixels24(const qvSwirlBlock& block) {
    return qv::Swirl<3>(block);
}
int SwirlPixels16(const qvSwirlBlock& block) {
    return qv::Swirl<2>(block);
}
