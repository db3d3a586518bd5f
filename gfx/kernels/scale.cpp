// ScalePixels: nearest neighbour and bilinear scaling of pixels, masks and alpha planes.
#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

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
        Across<F>(PixelAt(k.source, k.sourceRowLength, F::bytes, 0, int32_t(row)), columns,
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
        if (held[0] != row) hold(0, row);
        if (held[1] != row + below) hold(1, row + below);
        Down<F>(lines[0], lines[1], k.yFractions[j], k.destWidth,
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
