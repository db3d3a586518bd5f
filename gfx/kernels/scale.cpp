// ScalePixels: nearest neighbour and bilinear scaling of pixels, masks and alpha planes.
#include <algorithm>
#include <cstring>

#include "gfx/kernels/rows.h"
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

// One channel of the four neighbours 0x00RRGGBB at the shift.
inline uint32_t Bilinear(uint32_t p, uint32_t right, uint32_t below, uint32_t belowRight, int shift,
                         int32_t fx, int32_t fy) {
    auto channel = [shift](uint32_t v) { return int32_t((v >> shift) & 255); };
    const int32_t top = Lerp(channel(p), channel(right), fx);
    const int32_t bottom = Lerp(channel(below), channel(belowRight), fx);
    return uint32_t(Lerp(top, bottom, fy)) << shift;
}

template <typename F>
void BilinearColour(const qvScaleBlock& k) {
    constexpr int B = F::bytes;
    // A source one pixel wide (high) has steps and fractions 0: its right (lower)
    // neighbour is itself, never the pixel after the rectangle.
    const int64_t right = k.sourceWidth > 1 ? B : 0;
    const ptrdiff_t below = k.sourceHeight > 1 ? ptrdiff_t(k.sourceRowLength) * B : 0;
    MapWalker rows{k.ySteps};
    for (int32_t j = 0; j < k.destHeight; ++j) {
        const uint8_t* top = PixelAt(k.source, k.sourceRowLength, B, 0, int32_t(rows.Next()));
        uint8_t* dest = PixelAt(k.dest, k.destRowLength, B, 0, j);
        const int32_t fy = k.yFractions[j];
        MapWalker columns{k.xSteps};
        for (int32_t i = 0; i < k.destWidth; ++i) {
            const uint8_t* p = top + columns.Next() * B;
            const uint32_t p00 = F::Unpack(LoadPixel(p, B));
            const uint32_t p10 = F::Unpack(LoadPixel(p + right, B));
            const uint32_t p01 = F::Unpack(LoadPixel(p + below, B));
            const uint32_t p11 = F::Unpack(LoadPixel(p + below + right, B));
            const int32_t fx = k.xFractions[i];
            const uint32_t rgb = Bilinear(p00, p10, p01, p11, 16, fx, fy) |
                                 Bilinear(p00, p10, p01, p11, 8, fx, fy) |
                                 Bilinear(p00, p10, p01, p11, 0, fx, fy);
            StorePixel(dest + i * B, B, F::Pack(rgb));
        }
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
        k.yFractions == nullptr) {
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
