// ARGB conversions, HAM decoding and alpha extraction.
#include <algorithm>
#include <type_traits>

#include "gfx/kernels/kernels.h"
#include "gfx/kernels/rows.h"

namespace qv {
namespace {

template <typename F>
void EncodeRows(const qvConversionBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    for (int32_t j = 0; j < k.height; ++j) {
        const qvARGB* source =
            k.sourceBase + ptrdiff_t(k.sourceY + j) * k.sourceRowLength + k.sourceX;
        uint8_t* dest = PixelAt(k.destBase, k.destRowLength, F::bytes, k.destX, k.destY + j);
        if constexpr (F::bytes == 3) {
            for (int32_t i = 0; i < k.width; ++i) StorePixel(dest + i * 3, 3, F::Pack(source[i]));
        } else {
            using Word = std::conditional_t<F::bytes == 2, uint16_t, uint32_t>;
            auto* words = reinterpret_cast<Word*>(dest);
            for (int32_t i = 0; i < k.width; ++i) {
                // Format 10 is the ARGB word itself and keeps its alpha.
                words[i] = Word(F::code == QV_FMT_A8R8G8B8 ? source[i] : F::Pack(source[i]));
            }
        }
    }
}

template <int Bytes>
void EncodeDepth(const qvConversionBlock& block) {
    VisitFormat(block.destFormat, [&](auto f) {
        if constexpr (f.bytes == Bytes) EncodeRows<decltype(f)>(block);
    });
}

template <typename F>
void DecodeRow(const uint8_t* source, qvARGB* dest, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        dest[i] = F::Unpack(LoadPixel(source + i * F::bytes, F::bytes));
}

// HAM6 widens 4-bit channels by repeating the nibble; palette entries keep their top nibbles.
constexpr uint32_t Nibbles(uint32_t rgb) {
    return ((rgb >> 4) & 0x0F0F0F) * 17;
}

qvARGB PaletteEntry(const qvARGB* palette, int32_t count, uint32_t index) {
    return index < uint32_t(count) ? palette[index] & 0xFFFFFF : 0;
}

void HAM6Row(const uint8_t* source, qvARGB* dest, const qvARGB* palette, int32_t count,
             int32_t width) {
    uint32_t held = Nibbles(PaletteEntry(palette, count, 0));
    for (int32_t i = 0; i < width; ++i) {
        uint32_t b = source[i], value = (b & 15) * 17;
        switch ((b >> 4) & 3) {
            case 0:
                held = Nibbles(PaletteEntry(palette, count, b & 15));
                break;
            case 1:
                held = (held & 0xFFFF00) | value;
                break;
            case 2:
                held = (held & 0x00FFFF) | (value << 16);
                break;
            default:
                held = (held & 0xFF00FF) | (value << 8);
                break;
        }
        dest[i] = held;
    }
}

void HAM8Row(const uint8_t* source, qvARGB* dest, const qvARGB* palette, int32_t count,
             int32_t width) {
    uint32_t held = PaletteEntry(palette, count, 0);
    for (int32_t i = 0; i < width; ++i) {
        uint32_t b = source[i], top = (b & 63) << 2;
        switch (b >> 6) {
            case 0:
                held = PaletteEntry(palette, count, b & 63);
                break;
            case 1:
                held = (held & 0xFFFF03) | top;
                break;
            case 2:
                held = (held & 0x03FFFF) | (top << 16);
                break;
            default:
                held = (held & 0xFF03FF) | (top << 8);
                break;
        }
        dest[i] = held;
    }
}

void PaletteRow(const uint8_t* source, qvARGB* dest, const qvARGB* palette, int32_t count,
                int32_t width) {
    for (int32_t i = 0; i < width; ++i) dest[i] = PaletteEntry(palette, count, source[i]);
}

}  // namespace

void DecodePixelsToARGB(const void* source, uint32_t format, qvARGB* dest, int32_t count) {
    bool known = VisitFormat(format, [&](auto f) {
        DecodeRow<decltype(f)>(static_cast<const uint8_t*>(source), dest, count);
    });
    if (!known) std::fill_n(dest, count > 0 ? count : 0, 0u);
}

}  // namespace qv

void ConvertARGBPixels32(const qvConversionBlock& block) {
    qv::EncodeDepth<4>(block);
}

void ConvertARGBPixels24(const qvConversionBlock& block) {
    qv::EncodeDepth<3>(block);
}

void ConvertARGBPixels16(const qvConversionBlock& block) {
    qv::EncodeDepth<2>(block);
}

void HAMToARGB(const uint8_t* source, qvARGB* dest, const qvARGB* palette, int32_t paletteCount,
               int32_t width, int32_t height, int32_t sourceRowLength, int32_t mode) {
    if (width < 1 || height < 1) return;
    auto row = mode == 6 ? qv::HAM6Row : mode == 8 ? qv::HAM8Row : qv::PaletteRow;
    for (int32_t j = 0; j < height; ++j) {
        row(qv::PlaneRow(source, sourceRowLength, j), dest + ptrdiff_t(j) * width, palette,
            paletteCount, width);
    }
}

void ExtractAlphaPlane(const qvARGB* argb, uint8_t* plane, int32_t width, int32_t height,
                       int32_t planeBytesPerRow) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        const qvARGB* source = argb + ptrdiff_t(j) * width;
        uint8_t* dest = plane + ptrdiff_t(j) * planeBytesPerRow;
        for (int32_t i = 0; i < width; ++i) dest[i] = uint8_t(source[i] >> 24);
    }
}
