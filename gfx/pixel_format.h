// Pixel formats 0-13 and the conversions between them and qvARGB.
//
// A format code is defined by its value as a native machine word: codes 0/1/4/5 are native
// 16-bit words, 2/3/6/7 the same words byte-swapped, 10-13 native 32-bit words; the 24-bit
// codes 8 and 9 are byte orders (R, G, B and B, G, R). On x86_64 format 10 (0xAARRGGBB) is
// therefore the byte order B, G, R, A. docs/ARCHITECTURE.md maps every code to its pixman
// and SDL2 equivalent.
#pragma once

#include <cstdint>
#include <utility>

// A colour or 32-bit pixel 0xAARRGGBB.
using qvARGB = uint32_t;

enum qvPixelFormat : uint32_t {
    QV_FMT_R5G5B5 = 0,
    QV_FMT_B5G5R5 = 1,
    QV_FMT_R5G5B5_SWAPPED = 2,
    QV_FMT_B5G5R5_SWAPPED = 3,
    QV_FMT_R5G6B5 = 4,
    QV_FMT_B5G6R5 = 5,
    QV_FMT_R5G6B5_SWAPPED = 6,
    QV_FMT_B5G6R5_SWAPPED = 7,
    QV_FMT_R8G8B8 = 8,  // bytes
    QV_FMT_B8G8R8 = 9,  // bytes
    QV_FMT_A8R8G8B8 = 10,
    QV_FMT_B8G8R8A8 = 11,
    QV_FMT_R8G8B8A8 = 12,
    QV_FMT_A8B8G8R8 = 13,
    QV_FMT_COUNT = 14,
};

// 0xRRGGBB as a pixel value of the format (alpha bits 0); 0 for codes above 13.
uint32_t RGBToPixelFormat(uint32_t rgb, uint32_t format);
// Reads one pixel into rgb[0..2] = red, green, blue; narrow channels are shifted up with
// low bits 0. Unknown codes give black.
void ReadPixelRGB(const void* address, uint32_t format, uint8_t* rgb);
// Writes rgb[0..2] as one pixel (alpha 0); unknown codes write nothing.
void WritePixelRGB(void* address, uint32_t format, const uint8_t* rgb);
// Between qvARGB and the 32-bit formats; 11-13 do not carry alpha. Other codes pass through.
uint32_t ARGBToPixel32(uint32_t format, qvARGB argb);
qvARGB Pixel32ToARGB(uint32_t format, uint32_t pixel);
// Between R5G6B5 (code 4) and codes 0-7; code 4 and codes above 7 pass through.
uint32_t RGB565ToPixel16(uint32_t format, uint32_t value);
uint32_t Pixel16ToRGB565(uint32_t format, uint32_t value);

namespace qv {

constexpr int BytesPerPixel(uint32_t format) {
    return format < 8 ? 2 : format < 10 ? 3 : format < QV_FMT_COUNT ? 4 : 0;
}

constexpr uint32_t Swap16(uint32_t v) {
    return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF);
}

constexpr uint32_t SwapRedBlue(uint32_t v) {
    return ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
}

// Compile-time description of one format; the kernels are templates over it so that the
// format decision sits outside their inner loops.
template <uint32_t F>
struct Format {
    static_assert(F < QV_FMT_COUNT);
    static constexpr uint32_t code = F;
    static constexpr int bytes = BytesPerPixel(F);
    // 16-bit codes: bit 0 blue first, bit 1 byte-swapped, bit 2 six green bits.
    static constexpr bool blueFirst = (F < 8 && (F & 1)) || F == 9 || F == 13;
    static constexpr bool swapped = F < 8 && (F & 2);
    static constexpr bool green6 = F < 8 && (F & 4);

    // 0x??RRGGBB (high byte ignored) to the pixel value, alpha 0.
    static constexpr uint32_t Pack(uint32_t rgb) {
        if constexpr (bytes == 2) {
            uint32_t r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
            if constexpr (blueFirst) std::swap(r, b);
            uint32_t v = green6 ? ((r << 8) & 0xF800) | ((g << 3) & 0x7E0) | (b >> 3)
                                : ((r << 7) & 0x7C00) | ((g << 2) & 0x3E0) | (b >> 3);
            return swapped ? Swap16(v) : v;
        } else if constexpr (F == QV_FMT_R8G8B8 || F == QV_FMT_A8R8G8B8) {
            return rgb & 0xFFFFFF;
        } else if constexpr (F == QV_FMT_B8G8R8 || F == QV_FMT_A8B8G8R8) {
            return SwapRedBlue(rgb);
        } else if constexpr (F == QV_FMT_B8G8R8A8) {
            return SwapRedBlue(rgb) << 8;
        } else {
            return rgb << 8;
        }
    }

    // Pixel value to 0x00RRGGBB; narrow channels keep their low bits 0.
    static constexpr uint32_t Unpack(uint32_t v) {
        if constexpr (bytes == 2) {
            if constexpr (swapped) v = Swap16(v);
            uint32_t r, g, b;
            if constexpr (green6) {
                r = (v >> 8) & 0xF8, g = (v >> 3) & 0xFC, b = (v << 3) & 0xF8;
            } else {
                r = (v >> 7) & 0xF8, g = (v >> 2) & 0xF8, b = (v << 3) & 0xF8;
            }
            if constexpr (blueFirst) std::swap(r, b);
            return (r << 16) | (g << 8) | b;
        } else if constexpr (F == QV_FMT_R8G8B8 || F == QV_FMT_A8R8G8B8) {
            return v & 0xFFFFFF;
        } else if constexpr (F == QV_FMT_B8G8R8 || F == QV_FMT_A8B8G8R8) {
            return SwapRedBlue(v);
        } else if constexpr (F == QV_FMT_B8G8R8A8) {
            return SwapRedBlue(v >> 8);
        } else {
            return v >> 8;
        }
    }

    // 32-bit formats: the mask of the alpha byte and its value.
    static constexpr uint32_t alphaMask =
        (F == QV_FMT_B8G8R8A8 || F == QV_FMT_R8G8B8A8) ? 0x000000FFu : 0xFF000000u;
    static constexpr uint32_t Alpha(uint32_t v) { return alphaMask == 0xFF ? v & 0xFF : v >> 24; }
    static constexpr uint32_t AlphaBits(uint32_t a) { return alphaMask == 0xFF ? a : a << 24; }
};

// Calls fn(Format<F>{}) for the code's F; returns false for an unknown code.
template <typename Fn>
bool VisitFormat(uint32_t format, Fn&& fn) {
    switch (format) {
        case 0:
            fn(Format<0>{});
            return true;
        case 1:
            fn(Format<1>{});
            return true;
        case 2:
            fn(Format<2>{});
            return true;
        case 3:
            fn(Format<3>{});
            return true;
        case 4:
            fn(Format<4>{});
            return true;
        case 5:
            fn(Format<5>{});
            return true;
        case 6:
            fn(Format<6>{});
            return true;
        case 7:
            fn(Format<7>{});
            return true;
        case 8:
            fn(Format<8>{});
            return true;
        case 9:
            fn(Format<9>{});
            return true;
        case 10:
            fn(Format<10>{});
            return true;
        case 11:
            fn(Format<11>{});
            return true;
        case 12:
            fn(Format<12>{});
            return true;
        case 13:
            fn(Format<13>{});
            return true;
        default:
            return false;
    }
}

// Pixel access of one depth; 3-byte pixels go byte by byte (no alignment assumed).
inline uint32_t LoadPixel(const uint8_t* p, int bytes) {
    if (bytes == 2) return *reinterpret_cast<const uint16_t*>(p);
    if (bytes == 4) return *reinterpret_cast<const uint32_t*>(p);
    return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
}

inline void StorePixel(uint8_t* p, int bytes, uint32_t v) {
    if (bytes == 2) {
        *reinterpret_cast<uint16_t*>(p) = uint16_t(v);
    } else if (bytes == 4) {
        *reinterpret_cast<uint32_t*>(p) = v;
    } else {
        p[0] = uint8_t(v >> 16), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v);
    }
}

}  // namespace qv
