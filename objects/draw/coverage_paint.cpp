#include "objects/draw/coverage_paint.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/error_codes.h"
#include "gfx/blit_frontends.h"
#include "gfx/kernels/frontend_kernels.h"
#include "gfx/kernels/kernels.h"
#include "gfx/kernels/rows.h"
#include "platform/linux/memory.h"

namespace qv::draw {
namespace {

// Mask bytes hold their leftmost pixel in the top bit; SSE2 gives it in the lowest.
constexpr std::array<uint8_t, 256> kReversedBits = [] {
    std::array<uint8_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        for (int bit = 0; bit < 8; ++bit) {
            if (value & (1 << bit)) table[size_t(value)] |= uint8_t(0x80 >> bit);
        }
    }
    return table;
}();

// The covered part of n coverage bytes.
Span CoveredSpan(const uint8_t* row, int64_t n) {
    int64_t first = 0, end = n;
    // Shapes leave long empty stretches (a line's box is mostly empty): 32 bytes a test.
    while (first + 32 <= end && AllZero32(row + first)) first += 32;
    while (end - 32 >= first && AllZero32(row + end - 32)) end -= 32;
    // The first and last covered byte of a word by its zero bits (byte i is bits 8i to 8i + 7):
    // no byte loop whose exit the branch predictor cannot guess.
    auto word = [row](int64_t at) {
        uint64_t bytes;
        std::memcpy(&bytes, row + at, 8);
        return bytes;
    };
    while (first + 8 <= end && word(first) == 0) first += 8;
    if (first + 8 <= end) {
        first += __builtin_ctzll(word(first)) >> 3;
    } else {
        while (first < end && row[first] == 0) ++first;
    }
    while (end - 8 >= first && word(end - 8) == 0) end -= 8;
    if (end - 8 >= first) {
        end -= __builtin_clzll(word(end - 8)) >> 3;
    } else {
        while (end > first && row[end - 1] == 0) --end;
    }
    return {first, end};
}

// The coverage rows of the painted rectangle, each from the rectangle's left edge, with the
// covered span of each, found once.
class CoverageRows {
public:
    CoverageRows(const qvPlaneBitMap& plane, int32_t sx, int32_t sy)
        : plane_(plane), sx_(sx), sy_(sy) {}
    // 0 or ERR_MEM.
    int Measure(int64_t width, int64_t height) {
        spans_.reset(static_cast<Span*>(AllocMemBlock(sizeof(Span) * size_t(height), 0)));
        if (spans_ == nullptr) return ERR_MEM;
        for (int64_t j = 0; j < height; ++j) spans_[j] = CoveredSpan(Row(j), width);
        return 0;
    }
    const uint8_t* Row(int64_t j) const {
        return PlaneRow(plane_.plane, plane_.bytesPerRow, int32_t(sy_ + j)) + sx_;
    }
    const Span& SpanOf(int64_t j) const { return spans_[j]; }

private:
    const qvPlaneBitMap& plane_;
    int32_t sx_, sy_;
    std::unique_ptr<Span[], BlockFree> spans_;
};

// Sets the mask bits from pixel x0 of a mask row where the n coverage bytes are not 0.
void SetBitsWhereCovered(const uint8_t* coverage, uint8_t* maskRow, int64_t x0, int64_t n) {
    int64_t i = 0;
    for (; i < n && ((x0 + i) & 7) != 0; ++i) {
        if (coverage[i] != 0) SetMaskBit(maskRow, int32_t(x0 + i), true);
    }
    for (; i + 16 <= n; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coverage + i));
        const auto empty = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
        const uint32_t covered = ~empty & 0xFFFF;
        if (covered == 0) continue;
        uint8_t* out = maskRow + ((x0 + i) >> 3);
        if (covered == 0xFFFF) {  // a shape's inside: no bit to look up
            out[0] = out[1] = 0xFF;
            continue;
        }
        out[0] |= kReversedBits[covered & 255];
        out[1] |= kReversedBits[covered >> 8];
    }
    for (; i < n; ++i) {
        if (coverage[i] != 0) SetMaskBit(maskRow, int32_t(x0 + i), true);
    }
}

uint8_t* MutablePlaneRow(qvPlaneBitMap* plane, int64_t y) {
    return plane->plane + ptrdiff_t(y) * plane->bytesPerRow;
}

// All 16 bytes are 255.
inline bool AllOpaque16(const uint8_t* p) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(char(0xFF)))) == 0xFFFF;
}

// Whether the target's alpha is 0 under every covered pixel: a fresh image, whose colour is
// then simply written where the shape covers it.
bool AlphaClearUnder(const CoverageRows& rows, const qvPlaneBitMap* alpha, const Rect& r) {
    for (int64_t j = 0; j < r.height; ++j) {
        const Span& span = rows.SpanOf(j);
        const uint8_t* under = MutablePlaneRow(const_cast<qvPlaneBitMap*>(alpha), r.y + j) + r.x;
        if (CoveredSpan(under + span.first, span.end - span.first).first != span.end - span.first) {
            return false;
        }
    }
    return true;
}

// Whether the mask's bytes under every covered span are clear: a fresh image, as above.
bool MaskClearUnder(const CoverageRows& rows, const qvPlaneBitMap* mask, const Rect& r) {
    for (int64_t j = 0; j < r.height; ++j) {
        const Span& span = rows.SpanOf(j);
        if (span.first == span.end) continue;
        const int64_t first = (r.x + span.first) >> 3, last = (r.x + span.end - 1) >> 3;
        const uint8_t* bytes = mask->plane + ptrdiff_t(r.y + j) * mask->bytesPerRow + first;
        if (CoveredSpan(bytes, last - first + 1).first != last - first + 1) return false;
    }
    return true;
}

// Runs of one colour written into a locked bitmap.
class ColourRuns {
public:
    ColourRuns(qvDisplayBitMap* bitmap, uint32_t colour) : lock_(bitmap) {
        if (!lock_) return;
        uint8_t pixel[4] = {};
        const uint8_t channels[3] = {uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)};
        WritePixelRGB(pixel, lock_->format, channels);
        value_ = LoadPixel(pixel, lock_->bytesPerPixel);
    }
    explicit operator bool() const { return bool(lock_); }

    // The n pixels from (x, y).
    void Fill(int64_t x, int64_t y, int64_t n) const {
        const int bytes = lock_->bytesPerPixel;
        if (bytes == 4) {
            RectFillPixels32(lock_->base, lock_->rowLength, int32_t(x), int32_t(y), int32_t(n), 1,
                             value_);
            return;
        }
        uint8_t* row = PixelAt(lock_->base, lock_->rowLength, bytes, int32_t(x), int32_t(y));
        for (int64_t i = 0; i < n; ++i) StorePixel(row + i * bytes, bytes, value_);
    }

private:
    ScopedBitMapLock lock_;
    uint32_t value_ = 0;
};

// Writes the colour over each covered span of a fresh image, the pixels between covered ones
// included: the planes keep those invisible, and a run of one colour is the cheapest write.
void FillSpans(const qvShapeTarget& t, const CoverageRows& rows, const Rect& r, uint32_t colour) {
    const ColourRuns runs(t.bitmap, colour);
    if (!runs) return;
    for (int64_t j = 0; j < r.height; ++j) {
        const Span& span = rows.SpanOf(j);
        runs.Fill(r.x + span.first, r.y + j, span.end - span.first);
    }
}

// The shape's alpha into the span of a fresh alpha row.
void CopyAlpha(const uint8_t* coverage, uint8_t* alpha, const Span& span,
               const PlanePainter& painter) {
    FreshAlpha(coverage + span.first, alpha + span.first, span.end - span.first, painter.Opacity(),
               painter.Antialiased());
}

// Paints the colour through strength bytes (a plane at (sx, sy)) into the bitmap at the
// rectangle r, blended by them or written wherever they are not 0: a flat colour by the
// alpha-channel blit, a fill source through the coverage plotter, which reads it at the
// painted position.
int PaintColour(const qvShapeTarget& t, const qvPlaneBitMap& strength, int32_t sx, int32_t sy,
                const Rect& r, const Rect& area, uint32_t colour, bool write) {
    if (t.fill == nullptr) {
        BltAlphaChannel(&strength, sx, sy, t.bitmap, int32_t(r.x), int32_t(r.y), int32_t(r.width),
                        int32_t(r.height), colour, write ? QV_COVERAGE_WRITE : QV_COVERAGE_BLEND,
                        nullptr, 0, nullptr, 0, nullptr);
        return 0;
    }
    if (t.fill->format != t.bitmap->format || t.fill->width < area.width ||
        t.fill->height < area.height) {
        return ERR_WRONGUSAGE;
    }
    ScopedBitMapLock lock(t.bitmap), fillLock(t.fill);
    if (!lock || !fillLock) return 0;
    qvPlotContext c = PlotContext(*lock, area, colour);
    c.texture = fillLock->base;
    c.textureRowLength = fillLock->rowLength;
    PlotCoverageMap(strength.plane + ptrdiff_t(sy) * strength.bytesPerRow + sx, int32_t(r.x),
                    int32_t(r.y), c, int32_t(r.width), int32_t(r.height), strength.bytesPerRow,
                    write);
    return 0;
}

}  // namespace

void FreshAlpha(const uint8_t* coverage, uint8_t* alpha, int64_t n, uint32_t opacity,
                bool antialias) {
    if (opacity == 255) {
        if (alpha != coverage) std::memcpy(alpha, coverage, size_t(n));
    } else if (antialias) {
        for (int64_t i = 0; i < n; ++i) alpha[i] = uint8_t(coverage[i] * opacity / 255);
    } else {
        for (int64_t i = 0; i < n; ++i) alpha[i] = coverage[i] != 0 ? uint8_t(opacity) : 0;
    }
}

Rect PaintArea(const qvShapeTarget& t) {
    int64_t width = t.width, height = t.height;
    if (t.bitmap != nullptr) {
        width = std::min<int64_t>(width, t.bitmap->width);
        height = std::min<int64_t>(height, t.bitmap->height);
    }
    for (const qvPlaneBitMap* plane : {t.mask, t.alpha}) {
        if (!PlaneUsable(plane)) continue;
        width = std::min(width, PlaneExtentX(plane));
        height = std::min<int64_t>(height, plane->height);
    }
    return {0, 0, std::max<int64_t>(width, 0), std::max<int64_t>(height, 0)};
}

Rect Intersect(const Rect& a, const Rect& b) {
    const int64_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int64_t x1 = std::min(a.x + a.width, b.x + b.width);
    const int64_t y1 = std::min(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

qvPlotContext PlotContext(const qvBitMapLock& lock, const Rect& area, uint32_t colour) {
    qvPlotContext c{};
    c.base = lock.base;
    c.rowLength = lock.rowLength;
    c.bytesPerPixel = lock.bytesPerPixel;
    c.format = lock.format;
    c.red = uint8_t(colour >> 16), c.green = uint8_t(colour >> 8), c.blue = uint8_t(colour);
    c.alpha = 255, c.globalAlpha = 255;
    c.width = int32_t(area.width), c.height = int32_t(area.height);
    c.thickness = 1;
    return c;
}

PlanePainter::PlanePainter(const qvShapeTarget& t, const qvShapePaint& paint)
    : target_(t),
      mask_(PlaneUsable(t.mask) ? t.mask : nullptr),
      alpha_(PlaneUsable(t.alpha) ? t.alpha : nullptr),
      opacity_(255 - uint32_t(std::clamp(paint.transparency, 0, 255))),
      antialias_(paint.antialias) {}

uint8_t PlanePainter::Paint(int32_t x, int32_t y, uint32_t c) {
    const uint32_t a = AlphaOf(c);
    if (mask_ != nullptr) {
        if (target_.bitmap != nullptr) {
            SetMaskBit(MutablePlaneRow(mask_, y), x, true);
        } else {
            PlotPixel(mask_, x, y, target_.maskMode);
        }
    }
    if (alpha_ == nullptr) return uint8_t(a);
    uint8_t& byte = MutablePlaneRow(alpha_, y)[x];
    if (target_.bitmap == nullptr) {
        const uint32_t value = uint32_t(std::clamp(target_.alphaValue, 0, 255));
        byte = uint8_t(antialias_ ? std::max<uint32_t>(byte, c * value / 255) : value);
        return 0;
    }
    // The shape lies over what the image holds.
    return OverAlpha(byte, a);
}

void PlanePainter::PaintOverAlpha(const uint8_t* coverage, uint8_t* alpha, uint8_t* strength,
                                  int64_t n) const {
    // An opaque anti-aliased shape over an opaque stretch: the coverage is the strength.
    const bool copyOpaque = antialias_ && opacity_ == 255;
    int64_t i = 0;
    while (i < n) {
        if (copyOpaque && i + 16 <= n && AllOpaque16(alpha + i)) {
            std::memcpy(strength + i, coverage + i, 16);
            i += 16;
            continue;
        }
        if (coverage[i] != 0) strength[i] = OverAlpha(alpha[i], AlphaOf(coverage[i]));
        ++i;
    }
}

bool CoverageGoesIntoAlpha(const qvShapeTarget& t, const Rect& r, const qvShapePaint& paint) {
    if (t.bitmap == nullptr || t.fill != nullptr || !PlaneUsable(t.alpha) ||
        paint.transparency > 0) {
        return false;
    }
    if (t.fresh) return true;
    for (int64_t j = 0; j < r.height; ++j) {
        const uint8_t* row = MutablePlaneRow(t.alpha, r.y + j) + r.x;
        if (CoveredSpan(row, r.width).first != r.width) return false;
    }
    return true;
}

RowReach::RowReach(double x1, double y1, double x2, double y2, double radius)
    : bounded_(true),
      x1_(x1),
      y1_(y1),
      radius_(radius),
      top_(std::min(y1, y2)),
      bottom_(std::max(y1, y2)),
      xPerY_(y1 != y2 ? (x2 - x1) / (y2 - y1) : 0),
      levelLeft_(std::min(x1, x2)),
      levelRight_(std::max(x1, x2)) {}

Span RowReach::Of(int64_t j, int64_t width) const {
    if (!bounded_) return {0, width};
    // The part of the segment within the radius of the row, widened by the radius.
    const double low = std::max(double(j) - radius_, top_);
    const double high = std::min(double(j) + radius_, bottom_);
    if (low > high) return {0, 0};
    double xa = levelLeft_, xb = levelRight_;
    if (top_ != bottom_) {
        xa = x1_ + (low - y1_) * xPerY_, xb = x1_ + (high - y1_) * xPerY_;
    }
    const double left = std::floor(std::min(xa, xb) - radius_);
    const double right = std::ceil(std::max(xa, xb) + radius_) + 1;
    const int64_t first = int64_t(std::clamp(left, 0.0, double(width)));
    return {first, std::max(first, int64_t(std::clamp(right, 0.0, double(width))))};
}

int PaintOverOwnAlpha(const qvShapeTarget& t, const Rect& r, const qvShapePaint& paint,
                      const RowReach& reach) {
    if (r.Empty()) return 0;
    const ColourRuns runs(t.bitmap, paint.colour);
    qvPlaneBitMap* mask = PlaneUsable(t.mask) ? t.mask : nullptr;
    // Each row's span is found and painted at once, while the row is at hand.
    for (int64_t j = 0; j < r.height; ++j) {
        const uint8_t* row = MutablePlaneRow(t.alpha, r.y + j) + r.x;
        const Span bound = reach.Of(j, r.width);
        Span span = CoveredSpan(row + bound.first, bound.end - bound.first);
        span.first += bound.first, span.end += bound.first;
        const int64_t n = span.end - span.first;
        if (n == 0) continue;
        if (mask != nullptr) {
            SetBitsWhereCovered(row + span.first, MutablePlaneRow(mask, r.y + j), r.x + span.first,
                                n);
        }
        if (runs) runs.Fill(r.x + span.first, r.y + j, n);
    }
    return 0;
}

int PaintCoverage(const qvShapeTarget& t, const qvPlaneBitMap& source, const Rect& where,
                  const qvShapePaint& paint) {
    const Rect area = PaintArea(t);
    const Rect r = Intersect(where, area);
    if (r.Empty()) return 0;
    const int32_t sx = int32_t(r.x - where.x), sy = int32_t(r.y - where.y);
    CoverageRows rows(source, sx, sy);
    if (const int code = rows.Measure(r.width, r.height)) return code;
    PlanePainter painter(t, paint);
    qvPlaneBitMap* mask = t.bitmap != nullptr && PlaneUsable(t.mask) ? t.mask : nullptr;
    // A bitmap's opaque shape, or the first shape in a fresh image, needs no strength per
    // pixel: the coverage itself blends the colour, or says where it is written; in a fresh
    // image without anti-aliased edges over a mask, or with an alpha plane, the colour fills
    // the covered spans whole.
    const bool fresh =
        t.bitmap != nullptr && painter.HasAlpha() && AlphaClearUnder(rows, t.alpha, r);
    const bool opaque = t.bitmap != nullptr && !painter.HasAlpha() && painter.Opacity() == 255;
    if (fresh || opaque) {
        // Checked before the mask receives this shape's bits.
        const bool maskClear =
            opaque && mask != nullptr && (t.fresh || MaskClearUnder(rows, mask, r));
        for (int64_t j = 0; j < r.height; ++j) {
            const uint8_t* row = rows.Row(j);
            const Span& span = rows.SpanOf(j);
            if (span.first == span.end) continue;
            if (mask != nullptr) {
                SetBitsWhereCovered(row + span.first, MutablePlaneRow(mask, r.y + j),
                                    r.x + span.first, span.end - span.first);
            }
            if (fresh) CopyAlpha(row, MutablePlaneRow(t.alpha, r.y + j) + r.x, span, painter);
        }
        if (t.fill == nullptr &&
            (fresh || (mask != nullptr && !painter.Antialiased() && maskClear))) {
            FillSpans(t, rows, r, paint.colour);
            return 0;
        }
        return PaintColour(t, source, sx, sy, r, area, paint.colour, fresh);
    }
    OwnedPlane strength;
    if (t.bitmap != nullptr) {
        strength.reset(AllocAlphaBitMap(int32_t(r.width), int32_t(r.height), 1));
        if (strength == nullptr) return ERR_MEM;
    }
    // An image's alpha plane alone (the shapes laid over one another): row by row.
    const bool overAlpha = t.bitmap != nullptr && mask == nullptr && painter.HasAlpha();
    for (int64_t j = 0; j < r.height; ++j) {
        const uint8_t* row = rows.Row(j);
        const Span& span = rows.SpanOf(j);
        uint8_t* out = strength != nullptr ? MutablePlaneRow(strength.get(), j) : nullptr;
        if (overAlpha) {
            painter.PaintOverAlpha(row + span.first,
                                   MutablePlaneRow(t.alpha, r.y + j) + r.x + span.first,
                                   out + span.first, span.end - span.first);
            continue;
        }
        for (int64_t i = span.first; i < span.end; ++i) {
            if (row[i] == 0) continue;
            const uint8_t s = painter.Paint(int32_t(r.x + i), int32_t(r.y + j), row[i]);
            if (out != nullptr) out[i] = s;
        }
    }
    if (strength == nullptr) return 0;
    return PaintColour(t, *strength, 0, 0, r, area, paint.colour, false);
}

}  // namespace qv::draw
