// Kernels of the spatial filters, in which a pixel depends on its neighbours: padded copies,
// pixelate, oil paint, the water ripple and swirl displacements (with the frame mode of the
// transition effects) and the convolutions. Like every kernel they never clip: callers pass
// rectangles inside every plane involved.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/linux/blocks.h"

namespace qv {

// An array of count elements from the run-time allocator (zeroed with clear); none when
// memory is short or the size does not fit.
template <typename T>
BlockPtr<T> AllocArray(size_t count, bool clear = false) {
    size_t bytes;
    if (__builtin_mul_overflow(count, sizeof(T), &bytes)) return nullptr;
    return BlockPtr<T>(static_cast<T*>(AllocMemBlock(bytes == 0 ? 1 : bytes, clear ? 1 : 0)));
}

// Entries of the sine and cosine tables: one per 0.001 radian.
inline constexpr int32_t kTrigTableSize = 6300;

}  // namespace qv

// Padded copies of a plane for an odd kernel width n: (height + n) rows of PaddedRowLength
// bytes, row r holding source row clamp(r - n / 2) and column c source column clamp(c - n / 2),
// so that an n-wide window at (x, y) starts at padded (x, y) and needs no edge tests. The
// buffer is refilled when it holds one (of this size), else allocated; false when that fails.
int64_t PaddedRowLength(int32_t width, int32_t n);
bool PadPlane8(const uint8_t* plane, int32_t bytesPerRow, int32_t width, int32_t height, int32_t n,
               qv::BlockPtr<uint8_t>& buffer);

// Pixelate: the picture triple and a whole copy of it, from which each size x size block
// takes its top-left sample (converted when the copy has another format).
struct qvPixelateBlock {
    uint8_t* base;
    int32_t rowLength;  // pixels
    uint8_t* mask;      // or none
    int32_t maskBytesPerRow;
    uint8_t* alpha;  // or none
    int32_t alphaBytesPerRow;
    const uint8_t* copyBase;
    int32_t copyRowLength;
    const uint8_t* copyMask;
    int32_t copyMaskBytesPerRow;
    const uint8_t* copyAlpha;
    int32_t copyAlphaBytesPerRow;
    int32_t width, height;
    int32_t size;
    uint32_t format, copyFormat;
};
void PixelatePixels32(const qvPixelateBlock& block);
void PixelatePixels24(const qvPixelateBlock& block);
void PixelatePixels16(const qvPixelateBlock& block);

// Oil paint: each pixel becomes the most frequent intensity's pixel of its window of
// 2 half + 1 pixels square, the picture's edges replicated beyond it.
struct qvOilPaintBlock {
    uint8_t* base;
    int32_t rowLength;
    int32_t width, height;
    int32_t half;
    uint32_t format;
};
void OilPaintPixels32(const qvOilPaintBlock& block);
void OilPaintPixels24(const qvOilPaintBlock& block);
void OilPaintPixels16(const qvOilPaintBlock& block);

// The pictures of the displacement kernels. They read the source picture, or a snapshot of
// the destination when there is none, and write the destination. Frame mode (frame >= 0, the
// transition effects) blends with the second picture by the frame's weight, or with the alpha
// source plane moves pixels where its displaced byte is non-zero.
struct qvDisplaceBlock {
    uint8_t* dest;
    int32_t destRowLength;
    uint8_t* destMask;  // or none
    int32_t destMaskBytesPerRow;
    uint8_t* destAlpha;  // or none
    int32_t destAlphaBytesPerRow;
    const uint8_t* source;  // or none
    int32_t sourceRowLength;
    const uint8_t* sourceMask;
    int32_t sourceMaskBytesPerRow;
    const uint8_t* sourceAlpha;
    int32_t sourceAlphaBytesPerRow;
    const uint8_t* second;  // frame mode, or none
    int32_t secondRowLength;
    const uint8_t* alphaSource;  // frame mode, or none
    int32_t alphaSourceBytesPerRow;
    int32_t width, height;
    uint32_t format;
    int32_t frame;      // -1 outside the transitions
    int32_t direction;  // alpha source: non-zero fades out instead of in
};

struct qvWaterRippleBlock {
    qvDisplaceBlock pictures;
    const int32_t* distances;  // InitWaterRippleTables
    const double* sine;
    int32_t centreX, centreY;
    double wavelength, amplitude, phase;
    int32_t halfPeriod;    // frame mode
    double amplitudeStep;  // frame mode
};

struct qvSwirlBlock {
    qvDisplaceBlock pictures;
    const double* sine;  // InitSwirlTables
    const double* cosine;
    double degrees;  // -359..359
};

// Distances (width x height, row by row) from the centre by IntSqrt, and the sine table.
void InitWaterRippleTables(int32_t* distances, double* sine, int32_t width, int32_t height,
                           int32_t centreX, int32_t centreY);
void InitSwirlTables(double* sine, double* cosine);

// 0, or ERR_MEM when the snapshot cannot be taken (the picture is then unchanged).
int WaterRipplePixels32(const qvWaterRippleBlock& block);
int WaterRipplePixels24(const qvWaterRippleBlock& block);
int WaterRipplePixels16(const qvWaterRippleBlock& block);
int SwirlPixels32(const qvSwirlBlock& block);
int SwirlPixels24(const qvSwirlBlock& block);
int SwirlPixels16(const qvSwirlBlock& block);

// Convolution type codes.
enum : int32_t {
    QV_CONVOLVE_BLUR = 98,
    QV_CONVOLVE_EMBOSS = 101,
    QV_CONVOLVE_EDGE = 103,
    QV_CONVOLVE_SHARPEN = 115,
};

// One convolution of a picture, its alpha plane, or both. The channels are filtered as
// planes, so every depth shares one path.
struct qvConvolveBlock {
    int32_t type;
    void* base;  // or none: the alpha plane alone
    int32_t rowLength;
    uint32_t format;
    int32_t bytesPerPixel;
    uint8_t* alpha;  // or none
    int32_t alphaBytesPerRow;
    int32_t width, height;
    double radius, sigma;
};
// Skips its work when a kernel or padded copy cannot be allocated.
void ConvolvePixels(const qvConvolveBlock& block);

// The widths of the convolutions. A radius above 0 gives 2 ceil(radius) + 1 (saturated);
// otherwise the Gaussian of sigma decides, and a sigma that is not finite gives 1.
// KernelWidth2D stops its search once n - 2 exceeds limit and answers that n - 2.
int64_t KernelWidth1D(double radius, double sigma);
int64_t KernelWidth2D(double radius, double sigma, int64_t limit = 65537);
