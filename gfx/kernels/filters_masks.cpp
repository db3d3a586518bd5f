// Kernels that compare pixels with keys and maps: colour keys to mask bits, colour
// replacement by pair tables, and thresholds of an 8-bit map into masks or planes.
#include "gfx/kernels/filters.h"
#include "gfx/kernels/rows.h"

namespace qv {
namespace {

constexpr uint32_t kTableEnd = 0xFFFFFFFF;

// The part of a pixel that is compared with keys: 32-bit pixels under the compare mask,
// 24-bit ones as (b0 << 16) | (b1 << 8) | b2, 16-bit ones whole.
template <int Bytes>
void ColourKey(const void* base, uint8_t* mask, int32_t width, int32_t height,
               int32_t maskBytesPerRow, uint32_t key, int32_t rowLength, uint32_t compareMask) {
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* p = PixelAt(base, rowLength, Bytes, 0, y);
        uint8_t* bits = mask + ptrdiff_t(y) * maskBytesPerRow;
        for (int32_t x = 0; x < width; ++x, p += Bytes) {
            SetMaskBit(bits, x, (LoadPixel(p, Bytes) & compareMask) != key);
        }
    }
}

template <int Bytes>
void Replace(int32_t width, int32_t height, const uint32_t* table, void* base, int32_t rowLength,
             uint32_t compareMask) {
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* p = PixelAt(base, rowLength, Bytes, 0, y);
        for (int32_t x = 0; x < width; ++x, p += Bytes) {
            uint32_t v = LoadPixel(p, Bytes);
            const uint32_t old = v;
            for (const uint32_t* pair = table; pair[0] != kTableEnd; pair += 2) {
                const uint32_t from = Bytes == 2 ? pair[0] & 0xFFFF : pair[0];
                if ((v & compareMask) == from) v = Bytes == 4 ? pair[1] : pair[1] & compareMask;
            }
            if (v != old) StorePixel(p, Bytes, v);
        }
    }
}

}  // namespace
}  // namespace qv

void ColorKeyToMaskPixels32(const void* base, uint8_t* mask, int32_t width, int32_t height,
                            int32_t maskBytesPerRow, uint32_t key, int32_t rowLength,
                            uint32_t compareMask) {
    qv::ColourKey<4>(base, mask, width, height, maskBytesPerRow, key, rowLength, compareMask);
}

void ColorKeyToMaskPixels24(const void* base, uint8_t* mask, int32_t width, int32_t height,
                            int32_t maskBytesPerRow, uint32_t key, int32_t rowLength) {
    qv::ColourKey<3>(base, mask, width, height, maskBytesPerRow, key, rowLength, 0xFFFFFF);
}

void ColorKeyToMaskPixels16(const void* base, uint8_t* mask, int32_t width, int32_t height,
                            int32_t maskBytesPerRow, uint32_t key, int32_t rowLength) {
    qv::ColourKey<2>(base, mask, width, height, maskBytesPerRow, key & 0xFFFF, rowLength, 0xFFFF);
}

void ReplaceColorsPixels32(int32_t width, int32_t height, const uint32_t* table, void* base,
                           int32_t rowLength, uint32_t compareMask) {
    qv::Replace<4>(width, height, table, base, rowLength, compareMask);
}

void ReplaceColorsPixels24(int32_t width, int32_t height, const uint32_t* table, void* base,
                           int32_t rowLength) {
    qv::Replace<3>(width, height, table, base, rowLength, 0xFFFFFF);
}

void ReplaceColorsPixels16(int32_t width, int32_t height, const uint32_t* table, void* base,
                           int32_t rowLength) {
    qv::Replace<2>(width, height, table, base, rowLength, 0xFFFF);
}

void ThresholdToMask(const qvThresholdBlock& b, int32_t threshold) {
    if (b.dest == nullptr || b.map == nullptr || (b.outputKind != 0 && b.source == nullptr)) return;
    for (int32_t y = 0; y < b.height; ++y) {
        const uint8_t* map = b.map + ptrdiff_t(y) * b.width;
        const uint8_t* source =
            b.source != nullptr ? qv::PlaneRow(b.source, b.sourceBytesPerRow, y) : nullptr;
        uint8_t* dest = b.dest + ptrdiff_t(y) * b.destBytesPerRow;
        for (int32_t x = 0; x < b.width; ++x) {
            const bool keep = (map[x] >= threshold) == (b.invert != 0);
            if (b.outputKind == 0) {
                qv::SetMaskBit(dest, x, keep && (source == nullptr || qv::MaskBit(source, x)));
            } else {
                dest[x] = keep ? source[x] : 0;
            }
        }
    }
}
