// Fill, template, mask and bitmap blits per depth.
#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "gfx/kernels/kernels.h"
#include "gfx/kernels/rows.h"
#include "gfx/kernels/template_clones.h"

namespace qv {
namespace {

#if defined(__x86_64__)
// A row of 8 pixels or more in 32-byte stores aligned to 32 bytes, two a step, with one
// unaligned store at each end: an unaligned store every 32 bytes straddles a cache line
// every other time, which costs a fill over a large image (a shape's colour) a fair share.
__attribute__((target("avx2"))) void FillAlignedRow32(uint32_t* row, int32_t width,
                                                      uint32_t value) {
    const __m256i v = _mm256_set1_epi32(int32_t(value));
    uint32_t* const end = row + width;
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(row), v);
    uint32_t* p = row + (32 - (reinterpret_cast<uintptr_t>(row) & 31)) / 4;
    for (; p + 16 <= end; p += 16) {
        _mm256_store_si256(reinterpret_cast<__m256i*>(p), v);
        _mm256_store_si256(reinterpret_cast<__m256i*>(p + 8), v);
    }
    if (p + 8 <= end) _mm256_store_si256(reinterpret_cast<__m256i*>(p), v);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(end - 8), v);
}

// 64 bytes a step: two loads, four stores.
__attribute__((target("avx2"))) size_t CopyRowTwiceAvx2(const uint8_t* source, uint8_t* first,
                                                        uint8_t* second, size_t bytes) {
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i + 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(first + i), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(first + i + 32), high);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(second + i), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(second + i + 32), high);
    }
    return i;
}
#endif

}  // namespace

// Elsewhere a plain loop that GCC vectorises.
void FillRow32(uint32_t* row, int32_t width, uint32_t value) {
#if defined(__x86_64__)
    if (width >= 8 && (reinterpret_cast<uintptr_t>(row) & 3) == 0 && HasAvx2()) {
        FillAlignedRow32(row, width, value);
        return;
    }
#endif
    for (int32_t i = 0; i < width; ++i) row[i] = value;
}

void CopyRowTwice(const uint8_t* source, uint8_t* first, uint8_t* second, size_t bytes) {
    size_t done = 0;
#if defined(__x86_64__)
    if (HasAvx2()) done = CopyRowTwiceAvx2(source, first, second, bytes);
#endif
    std::memcpy(first + done, source + done, bytes - done);
    std::memcpy(second + done, source + done, bytes - done);
}

namespace {

// Plain loops that GCC vectorises, with AVX2 stores where the CPU has them.
QV_CLONES("avx2", "default") void FillRow16(uint16_t* row, int32_t width, uint16_t value) {
    for (int32_t i = 0; i < width; ++i) row[i] = value;
}

template <typename Word, void (*FillRow)(Word*, int32_t, Word)>
void FillWords(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width, int32_t height,
               Word value) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        FillRow(reinterpret_cast<Word*>(PixelAt(base, rowLength, sizeof(Word), x, y + j)), width,
                value);
    }
}

template <int B>
void TemplateRows(const qvTemplateBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        const uint8_t* bits = PlaneRow(k.templatePlane, k.templateBytesPerRow, k.templateY + j);
        uint8_t* dest = PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j);
        for (int32_t i = 0; i < k.width; ++i) {
            if (MaskBit(bits, k.templateX + i)) StorePixel(dest + i * B, B, k.colour);
        }
    }
}

template <uint32_t Conversion>
constexpr uint32_t Convert32(uint32_t pixel) {
    if constexpr (Conversion == QV_MASK_TO_BGRA) return Format<QV_FMT_B8G8R8A8>::Pack(pixel);
    if constexpr (Conversion == QV_MASK_SHIFT8) return pixel << 8;
    return pixel;
}

template <int B, uint32_t Conversion>
inline void CopyIf(bool visible, const uint8_t* source, uint8_t* dest) {
    if (visible) StorePixel(dest, B, Convert32<Conversion>(LoadPixel(source, B)));
}

// The number of whole mask bytes from bits[0] on, at most limit, that equal bits[0].
inline int32_t ByteRun(const uint8_t* bits, int32_t limit) {
    int32_t n = 1;
    while (n < limit && bits[n] == bits[0]) ++n;
    return n;
}

// Whole mask bytes are tested at once once the source position is byte aligned, so that
// empty and solid runs of a sprite or shape mask cost one test per eight pixels and a solid
// run one copy.
template <int B, uint32_t Conversion>
void MaskRow(const uint8_t* bits, int32_t bit, const uint8_t* source, uint8_t* dest,
             int32_t width) {
    int32_t i = 0;
    for (; i < width && (bit & 7) != 0; ++i, ++bit) {
        CopyIf<B, Conversion>(MaskBit(bits, bit), source + i * B, dest + i * B);
    }
    for (; i + 8 <= width; i += 8, bit += 8) {
        uint8_t byte = bits[bit >> 3];
        if (byte == 0 || (byte == 0xFF && Conversion == QV_MASK_PLAIN)) {
            const int32_t run = 8 * ByteRun(bits + (bit >> 3), (width - i) / 8);
            if (byte != 0) std::memmove(dest + i * B, source + i * B, size_t(run) * B);
            i += run - 8, bit += run - 8;
            continue;
        }
        for (int n = 0; n < 8; ++n) {
            CopyIf<B, Conversion>(byte & (0x80 >> n), source + (i + n) * B, dest + (i + n) * B);
        }
    }
    for (; i < width; ++i, ++bit) {
        CopyIf<B, Conversion>(MaskBit(bits, bit), source + i * B, dest + i * B);
    }
}

template <int B, uint32_t Conversion = QV_MASK_PLAIN>
void MaskRows(const qvMaskBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        PrefetchBlockRows(k, B, j);
        MaskRow<B, Conversion>(
            PlaneRow(k.maskPlane, k.maskBytesPerRow, k.sourceY + j), k.sourceX,
            PixelAt(k.sourceBase, k.sourceRowLength, B, k.sourceX, k.sourceY + j),
            PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j), k.width);
    }
}

template <int B>
void CopyRows(const qvBitMapBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        PrefetchBlockRows(k, B, j);
        std::memmove(PixelAt(k.destBase, k.destRowLength, B, k.destX, k.destY + j),
                     PixelAt(k.sourceBase, k.sourceRowLength, B, k.sourceX, k.sourceY + j),
                     size_t(k.width) * B);
    }
}

// The colour bytes move to the destination format's positions; its alpha byte stays.
template <typename Source, typename Dest>
void ReorderRows(const qvBitMapBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        auto* source = reinterpret_cast<const uint32_t*>(
            PixelAt(k.sourceBase, k.sourceRowLength, 4, k.sourceX, k.sourceY + j));
        auto* dest = reinterpret_cast<uint32_t*>(
            PixelAt(k.destBase, k.destRowLength, 4, k.destX, k.destY + j));
        for (int32_t i = 0; i < k.width; ++i) {
            dest[i] = (dest[i] & Dest::alphaMask) | Dest::Pack(Source::Unpack(source[i]));
        }
    }
}

}  // namespace
}  // namespace qv

void RectFillPixels32(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width,
                      int32_t height, uint32_t value) {
    qv::FillWords<uint32_t, qv::FillRow32>(base, rowLength, x, y, width, height, value);
}

void RectFillPixels24(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width,
                      int32_t height, uint32_t value) {
    if (width < 1 || height < 1) return;
    const uint8_t bytes[3] = {uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    for (int32_t j = 0; j < height; ++j) {
        uint8_t* row = qv::PixelAt(base, rowLength, 3, x, y + j);
        for (int32_t i = 0; i < width; ++i, row += 3) {
            row[0] = bytes[0], row[1] = bytes[1], row[2] = bytes[2];
        }
    }
}

void RectFillPixels16(void* base, int32_t rowLength, int32_t x, int32_t y, int32_t width,
                      int32_t height, uint32_t value) {
    qv::FillWords<uint16_t, qv::FillRow16>(base, rowLength, x, y, width, height, uint16_t(value));
}

void BltTemplatePixels32(const qvTemplateBlock& block) {
    qv::TemplateRows<4>(block);
}

void BltTemplatePixels24(const qvTemplateBlock& block) {
    qv::TemplateRows<3>(block);
}

void BltTemplatePixels16(const qvTemplateBlock& block) {
    qv::TemplateRows<2>(block);
}

void BltMaskPixels32(const qvMaskBlock& block) {
    switch (block.conversion) {
        case QV_MASK_TO_BGRA:
            qv::MaskRows<4, QV_MASK_TO_BGRA>(block);
            break;
        case QV_MASK_SHIFT8:
            qv::MaskRows<4, QV_MASK_SHIFT8>(block);
            break;
        default:
            qv::MaskRows<4>(block);
            break;
    }
}

void BltMaskPixels24(const qvMaskBlock& block) {
    qv::MaskRows<3>(block);
}

void BltMaskPixels16(const qvMaskBlock& block) {
    qv::MaskRows<2>(block);
}

void BltBitMapPixels32(const qvBitMapBlock& block) {
    if (!block.convert) {
        qv::CopyRows<4>(block);
        return;
    }
    qv::VisitFormat(block.sourceFormat, [&](auto source) {
        qv::VisitFormat(block.destFormat, [&](auto dest) {
            if constexpr (source.bytes == 4 && dest.bytes == 4) {
                qv::ReorderRows<std::remove_cvref_t<decltype(source)>,
                                std::remove_cvref_t<decltype(dest)>>(block);
            }
        });
    });
}

void BltBitMapPixels24(const qvBitMapBlock& block) {
    qv::CopyRows<3>(block);
}

void BltBitMapPixels16(const qvBitMapBlock& block) {
    qv::CopyRows<2>(block);
}
