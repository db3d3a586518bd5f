// YUV 4:2:0 frame conversion and the plain copies of the video back end.
#include <algorithm>
#include <cstring>

#include "gfx/kernels/kernels.h"
#include "gfx/kernels/rows.h"

namespace qv {
namespace {

// The chroma terms of the formula, shared by the 2 x 2 pixels of one chroma sample.
struct Chroma {
    int32_t r, g, b;
};

inline Chroma ChromaTerms(int32_t u, int32_t v) {
    return {2609823 * v - 363703744, -1287801 * u - 2672387 * v + 447306710,
            1649289 * u - 225932192};
}

// Truncating division clamped to 0..255; numerators stay within 32 bits for 8-bit input.
inline uint32_t Channel(int32_t numerator, uint32_t divisor) {
    if (numerator <= 0) return 0;
    uint32_t q = uint32_t(numerator) / divisor;
    return q > 255 ? 255 : q;
}

inline uint32_t LumaPixel(int32_t y, Chroma c) {
    return (Channel(1904000 * y + c.r, 1635200) << 16) |
           (Channel(3827562 * y + c.g, 3287200) << 8) | Channel(952000 * y + c.b, 817600);
}

// One row of 0x00RRGGBB. The chroma terms are spread over a chunk of pixels first so that
// the per-pixel loop is a plain one that GCC vectorises (with AVX2 where the CPU has it).
__attribute__((target_clones("avx2", "default"))) void RGBRow(const uint8_t* y, const uint8_t* u,
                                                              const uint8_t* v, uint32_t* dest,
                                                              int32_t width) {
    constexpr int32_t kChunk = 256;
    int32_t red[kChunk], green[kChunk], blue[kChunk];
    for (int32_t base = 0; base < width; base += kChunk) {
        const int32_t count = std::min(kChunk, width - base);
        for (int32_t i = 0; i < count; ++i) {
            Chroma c = ChromaTerms(u[(base + i) >> 1], v[(base + i) >> 1]);
            red[i] = c.r, green[i] = c.g, blue[i] = c.b;
        }
        for (int32_t i = 0; i < count; ++i) {
            int32_t luma = y[base + i];
            dest[base + i] = (Channel(1904000 * luma + red[i], 1635200) << 16) |
                             (Channel(3827562 * luma + green[i], 3287200) << 8) |
                             Channel(952000 * luma + blue[i], 817600);
        }
    }
}

// Format 10 takes the row as it is; other formats pack it from a scratch row.
template <typename F>
void UnscaledRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dest,
                 int32_t width) {
    if constexpr (F::code == QV_FMT_A8R8G8B8) {
        RGBRow(y, u, v, reinterpret_cast<uint32_t*>(dest), width);
    } else {
        constexpr int32_t kChunk = 512;
        uint32_t rgb[kChunk];
        for (int32_t base = 0; base < width; base += kChunk) {
            const int32_t count = std::min(kChunk, width - base);
            RGBRow(y + base, u + base / 2, v + base / 2, rgb, count);
            for (int32_t i = 0; i < count; ++i) {
                StorePixel(dest + ptrdiff_t(base + i) * F::bytes, F::bytes, F::Pack(rgb[i]));
            }
        }
    }
}

template <typename F>
void ScaledRow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* dest, int32_t width,
               uint64_t step) {
    uint64_t position = 0;
    int32_t i = 0;
    auto pixel = [&] {
        uint64_t sx = position >> 16;
        StorePixel(dest + ptrdiff_t(i) * F::bytes, F::bytes,
                   F::Pack(LumaPixel(y[sx], ChromaTerms(u[sx >> 1], v[sx >> 1]))));
        position += step;
        ++i;
    };
    for (int32_t rest = width & 7; rest > 0; --rest) pixel();
    while (i < width) {
#pragma GCC unroll 8
        for (int n = 0; n < 8; ++n) pixel();
    }
}

// Runs fn(Format) for the block's destination format when its bytes per pixel agree.
template <typename Fn>
void WithDestFormat(const qvYUVFrameBlock& k, Fn&& fn) {
    if (k.bytesPerPixel != BytesPerPixel(k.destFormat)) return;
    VisitFormat(k.destFormat, fn);
}

}  // namespace

uint32_t YUVToRGB(int32_t y, int32_t u, int32_t v) {
    return LumaPixel(y, ChromaTerms(u, v));
}

}  // namespace qv

void ConvertYUVFrameUnscaled(const qvYUVFrameBlock& k) {
    if (k.width < 1 || k.height < 1) return;
    qv::WithDestFormat(k, [&](auto f) {
        for (int32_t j = 0; j < k.height; ++j) {
            qv::UnscaledRow<decltype(f)>(
                qv::PlaneRow(k.planeY, k.strideY, j), qv::PlaneRow(k.planeU, k.strideU, j >> 1),
                qv::PlaneRow(k.planeV, k.strideV, j >> 1),
                qv::PixelAt(k.destBase, k.destRowLength, f.bytes, 0, j), k.width);
        }
    });
}

void ConvertYUVFrame(const qvYUVFrameBlock& k) {
    if (k.width < 1 || k.height < 1 || k.destWidth < 1 || k.destHeight < 1) return;
    // 64-bit steps: 32-bit 16.16 positions overflow from a 32768-pixel source on.
    uint64_t stepX = (uint64_t(k.width) << 16) / uint64_t(k.destWidth);
    uint64_t stepY = (uint64_t(k.height) << 16) / uint64_t(k.destHeight);
    qv::WithDestFormat(k, [&](auto f) {
        for (int32_t j = 0; j < k.destHeight; ++j) {
            auto sy = int32_t((uint64_t(j) * stepY) >> 16);
            qv::ScaledRow<decltype(f)>(
                qv::PlaneRow(k.planeY, k.strideY, sy), qv::PlaneRow(k.planeU, k.strideU, sy >> 1),
                qv::PlaneRow(k.planeV, k.strideV, sy >> 1),
                qv::PixelAt(k.destBase, k.destRowLength, f.bytes, 0, j), k.destWidth, stepX);
        }
    });
}

void CopyYUVPlanes(const uint8_t* planeY, const uint8_t* planeU, const uint8_t* planeV,
                   int32_t strideY, int32_t strideU, int32_t strideV, uint8_t* dest,
                   int32_t destStrideY, int32_t destStrideUV, int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    int32_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    for (int32_t j = 0; j < height; ++j) {
        std::memcpy(dest + ptrdiff_t(j) * destStrideY, qv::PlaneRow(planeY, strideY, j), width);
    }
    uint8_t* destU = dest + ptrdiff_t(height) * destStrideY;
    uint8_t* destV = destU + ptrdiff_t(chromaHeight) * destStrideUV;
    for (int32_t j = 0; j < chromaHeight; ++j) {
        std::memcpy(destU + ptrdiff_t(j) * destStrideUV, qv::PlaneRow(planeU, strideU, j),
                    chromaWidth);
        std::memcpy(destV + ptrdiff_t(j) * destStrideUV, qv::PlaneRow(planeV, strideV, j),
                    chromaWidth);
    }
}

void CopyRows16(const void* source, int32_t sourceStride, void* dest, int32_t destStride,
                int32_t width, int32_t height) {
    if (width < 1 || height < 1) return;
    for (int32_t j = 0; j < height; ++j) {
        std::memcpy(static_cast<uint8_t*>(dest) + ptrdiff_t(j) * destStride,
                    static_cast<const uint8_t*>(source) + ptrdiff_t(j) * sourceStride,
                    size_t(width) * 2);
    }
}
