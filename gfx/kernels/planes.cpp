// Kernels of 1-bit masks and 8-bit planes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "gfx/kernels/frontend_kernels.h"
#include "gfx/kernels/rows.h"

namespace qv {
namespace {

uint8_t* MutableRow(uint8_t* plane, int32_t bytesPerRow, int32_t y) {
    return plane + ptrdiff_t(y) * bytesPerRow;
}

inline uint8_t CombineByte(int32_t mode, uint8_t s, uint8_t d, uint8_t value) {
    switch (mode) {
        case 1:
            return s != 0 ? s : d;
        case 2:
            return s != 0 ? uint8_t(255 - s) : d;
        case 3:
            return s != 0 ? 255 : d;
        case 4:
            return s != 0 ? uint8_t(s * value / 255) : d;
        case 5:
            return s != 0 && d != 0 ? uint8_t(255 - s) : d;
        case 6:
            return s != 0 ? value : d;
        case 7:
            return s != 0 && d != 0 ? s : 0;
        case 8:
            return s == 255 ? 255 : d;
        default:
            return s;
    }
}

// Calls visit with the mode 1 to 8 as a compile-time constant.
template <typename Visit>
void VisitCombineMode(int32_t mode, Visit visit) {
    switch (mode) {
        case 1:
            return visit(std::integral_constant<int32_t, 1>{});
        case 2:
            return visit(std::integral_constant<int32_t, 2>{});
        case 3:
            return visit(std::integral_constant<int32_t, 3>{});
        case 4:
            return visit(std::integral_constant<int32_t, 4>{});
        case 5:
            return visit(std::integral_constant<int32_t, 5>{});
        case 6:
            return visit(std::integral_constant<int32_t, 6>{});
        case 7:
            return visit(std::integral_constant<int32_t, 7>{});
        default:
            return visit(std::integral_constant<int32_t, 8>{});
    }
}

// What a mask mode does to a bit for an opaque (255) and for any other alpha byte.
enum class BitOp : uint8_t { kLeave, kSet, kClear, kToggle };

BitOp AlphaBitOp(int32_t mode, bool opaque) {
    switch (mode) {
        case 0:
        case 2:
            return opaque ? BitOp::kSet : BitOp::kClear;
        case 1:
            return opaque ? BitOp::kClear : BitOp::kSet;
        case 3:
            return opaque ? BitOp::kToggle : BitOp::kLeave;
        case 5:
            return opaque ? BitOp::kSet : BitOp::kLeave;
        default:
            return BitOp::kLeave;
    }
}

// Crossings of the row's centre line with the polygon's edges, sorted; returns their count.
int32_t RowCrossings(const int32_t* v, int32_t count, double centre, double* crossings) {
    int32_t n = 0;
    for (int32_t e = 0; e < count; ++e) {
        double x0 = v[2 * e], y0 = v[2 * e + 1];
        double x1 = v[2 * ((e + 1) % count)], y1 = v[2 * ((e + 1) % count) + 1];
        if ((y0 <= centre) == (y1 <= centre)) continue;
        crossings[n++] = x0 + (centre - y0) * (x1 - x0) / (y1 - y0);
    }
    std::sort(crossings, crossings + n);
    return n;
}

// The first pixel whose centre lies at or right of x, within [0, width].
int32_t FirstPixelFrom(double x, int32_t width) {
    double first = std::ceil(x - 0.5);
    return int32_t(std::clamp(first, 0.0, double(width)));
}

}  // namespace
}  // namespace qv

void FillPlane8RectBytes(uint8_t* plane, int32_t bytesPerRow, int32_t x, int32_t y, int32_t width,
                         int32_t height, uint8_t value) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        std::memset(qv::MutableRow(plane, bytesPerRow, y + j) + x, value, size_t(width));
    }
}

void ExpandMaskToPlane8Bytes(const uint8_t* mask, int32_t maskBytesPerRow, int32_t sx, int32_t sy,
                             uint8_t* plane, int32_t planeBytesPerRow, int32_t dx, int32_t dy,
                             int32_t width, int32_t height, uint8_t value, bool clearToZero) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* bits = qv::PlaneRow(mask, maskBytesPerRow, sy + j);
        uint8_t* row = qv::MutableRow(plane, planeBytesPerRow, dy + j) + dx;
        for (int32_t i = 0; i < width; ++i) {
            if (qv::MaskBit(bits, sx + i)) {
                row[i] = value;
            } else if (clearToZero) {
                row[i] = 0;
            }
        }
    }
}

void CombinePlane8Rect(const qvPlaneBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        const uint8_t* s =
            qv::PlaneRow(k.sourceBase, k.sourceBytesPerRow, k.sourceY + j) + k.sourceX;
        uint8_t* d = qv::MutableRow(k.destBase, k.destBytesPerRow, k.destY + j) + k.destX;
        if (k.mode < 1 || k.mode > 8) {
            std::memmove(d, s, size_t(k.width));
            continue;
        }
        // The mode chosen once per row, so that each row's loop is a plain one.
        qv::VisitCombineMode(k.mode, [&](auto mode) {
            for (int32_t i = 0; i < k.width; ++i) {
                d[i] = qv::CombineByte(decltype(mode)::value, s[i], d[i], k.value);
            }
        });
    }
}

void ScalePlane8Bytes(const uint8_t* source, int32_t sourceBytesPerRow, uint8_t* dest,
                      int32_t destBytesPerRow, int32_t width, int32_t height, uint8_t value) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* s = qv::PlaneRow(source, sourceBytesPerRow, j);
        uint8_t* d = qv::MutableRow(dest, destBytesPerRow, j);
        for (int32_t i = 0; i < width; ++i) d[i] = uint8_t(s[i] * value / 255);
    }
}

void AlphaToMaskBits(const uint8_t* alpha, int32_t alphaBytesPerRow, int32_t sx, int32_t sy,
                     uint8_t* mask, int32_t maskBytesPerRow, int32_t dx, int32_t dy, int32_t width,
                     int32_t height, int32_t maskMode) {
    if (width < 1 || height < 1) return;
    const qv::BitOp opaque = qv::AlphaBitOp(maskMode, true);
    const qv::BitOp other = qv::AlphaBitOp(maskMode, false);
    for (int32_t j = 0; j < height; ++j) {
        const uint8_t* a = qv::PlaneRow(alpha, alphaBytesPerRow, sy + j) + sx;
        uint8_t* bits = qv::MutableRow(mask, maskBytesPerRow, dy + j);
        for (int32_t i = 0; i < width; ++i) {
            switch (a[i] == 255 ? opaque : other) {
                case qv::BitOp::kSet:
                    qv::SetMaskBit(bits, dx + i, true);
                    break;
                case qv::BitOp::kClear:
                    qv::SetMaskBit(bits, dx + i, false);
                    break;
                case qv::BitOp::kToggle:
                    qv::SetMaskBit(bits, dx + i, !qv::MaskBit(bits, dx + i));
                    break;
                case qv::BitOp::kLeave:
                    break;
            }
        }
    }
}

void FillMaskPolygonBits(uint8_t* mask, int32_t bytesPerRow, int32_t width, int32_t height,
                         const int32_t* vertices, int32_t count, double* crossings) {
    if (count < 3 || width < 1 || height < 1) return;
    int32_t top = vertices[1], bottom = vertices[1];
    for (int32_t v = 1; v < count; ++v) {
        top = std::min(top, vertices[2 * v + 1]);
        bottom = std::max(bottom, vertices[2 * v + 1]);
    }
    // Rows from the smallest to the largest vertex y, cut to the mask.
    int32_t first = std::max(top, 0), last = std::min(bottom, height - 1);
    for (int32_t y = first; y <= last; ++y) {
        int32_t n = qv::RowCrossings(vertices, count, y + 0.5, crossings);
        uint8_t* row = qv::MutableRow(mask, bytesPerRow, y);
        for (int32_t c = 0; c + 1 < n; c += 2) {
            int32_t from = qv::FirstPixelFrom(crossings[c], width);
            int32_t to = qv::FirstPixelFrom(crossings[c + 1], width);
            for (int32_t x = from; x < to; ++x) qv::SetMaskBit(row, x, true);
        }
    }
}

void ClipRegionMaskBits(const qvRegionShape& region, const uint8_t* source,
                        int32_t sourceBytesPerRow, uint8_t* temp, int32_t tempBytesPerRow,
                        int depth, int32_t sx, int32_t sy, int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        int32_t ry = region.regionY + j;
        const uint8_t* shape = ry >= 0 && ry < region.height
                                   ? qv::PlaneRow(region.mask, region.bytesPerRow, ry)
                                   : nullptr;
        const uint8_t* from =
            source != nullptr ? qv::PlaneRow(source, sourceBytesPerRow, sy + j) : nullptr;
        uint8_t* to = qv::MutableRow(temp, tempBytesPerRow, sy + j);
        for (int32_t i = 0; i < width; ++i) {
            int32_t rx = region.regionX + i, x = sx + i;
            bool inside =
                shape != nullptr && rx >= 0 && rx < region.width && qv::MaskBit(shape, rx);
            if (depth == 1) {
                qv::SetMaskBit(to, x, inside && (from == nullptr || qv::MaskBit(from, x)));
            } else {
                to[x] = inside && from != nullptr ? from[x] : 0;
            }
        }
    }
}
