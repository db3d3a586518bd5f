// Golden outputs of TransformPixels: random stored values (every alpha byte, unused bits set)
// turned by quarter, eighth and odd angles, enlarged and reduced, nearest and smoothed, with
// every combination of a source mask (read from a bit offset) and an alpha plane, with and
// without colour. The destination rows and planes are wider than the turned box and filled
// with guard values first, so the hash also pins which pixels are left alone. A changed hash
// is printed with its case; pin a new one only for a meant change.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gfx/pixel_format.h"
#include "gfx/transform.h"
#include "tests/gfx/support.h"
#include "tests/gfx/support/fnv_hash.h"

namespace {

struct Size {
    int32_t width, height;
};
constexpr Size kSizes[] = {{37, 23}, {1, 1}, {16, 9}, {5, 31}, {64, 3}, {150, 7}};
struct Turn {
    double degrees, scale;
};
constexpr Turn kTurns[] = {{0, 1},   {90, 1},   {30, 1},     {-45, 1}, {180, 1},
                           {7.5, 1}, {30, 1.7}, {-60, 0.45}, {0, 2.5}};
constexpr int32_t kMaskOffset = 3;  // bits before the rectangle in each source mask row
constexpr int32_t kPadding = 5;     // pixels, mask bytes and alpha bytes right of each row

using Hash = qv::test::FnvHash;

// Source planes: a mask with most bits set and ragged holes, alpha bytes of every value.
struct SourcePlanes {
    std::vector<uint8_t> mask, alpha;
    int32_t maskBytesPerRow;
    SourcePlanes(Size size, uint32_t seed)
        : alpha(size_t(size.width) * size.height),
          maskBytesPerRow((kMaskOffset + size.width + 7) / 8 + 1) {
        mask.resize(size_t(maskBytesPerRow) * size.height);
        for (int32_t y = 0; y < size.height; ++y) {
            for (int32_t x = 0; x < size.width; ++x) {
                const uint32_t n = uint32_t(y * size.width + x) * 2654435761u + seed;
                qv::SetMaskBit(&mask[size_t(y) * maskBytesPerRow], kMaskOffset + x,
                               (n >> 13) % 5 != 0);
                alpha[size_t(y) * size.width + x] = uint8_t(n >> 7);
            }
        }
    }
};

struct Planes {
    bool mask, alpha, colour;
};
constexpr Planes kPlanes[] = {{false, false, true}, {true, false, true},  {false, true, true},
                              {true, true, true},   {true, false, false}, {true, true, false}};

void TurnInto(Size size, Turn turn, Planes planes, int smooth, uint32_t format, uint32_t seed,
              Hash& hash) {
    const qv::test::BitMapPtr source =
        qv::test::RandomRawBitMap(size.width, size.height, seed, format);
    const SourcePlanes sourcePlanes(size, seed);
    const double r = turn.degrees * M_PI / 180;
    double matrix[6] = {turn.scale * std::cos(r), turn.scale * std::sin(r),
                        -turn.scale * std::sin(r), turn.scale * std::cos(r)};
    int32_t width = 0, height = 0;
    double offsetX = 0, offsetY = 0;
    TransformBounds(matrix, size.width, size.height, &width, &height, &offsetX, &offsetY);
    width = std::max(width, 1), height = std::max(height, 1);
    matrix[4] = -offsetX, matrix[5] = -offsetY;

    const int bytes = qv::BytesPerPixel(format);
    const int32_t rowLength = width + kPadding, maskBytesPerRow = (width + 7) / 8 + kPadding;
    std::vector<uint8_t> dest(size_t(rowLength) * height * bytes, 0xA5);
    std::vector<uint8_t> destMask(size_t(maskBytesPerRow) * height, 0x5A);
    std::vector<uint8_t> destAlpha(size_t(rowLength) * height, 0x3C);

    qvTransformBlock block{};
    if (planes.colour) {
        block.source = static_cast<const uint8_t*>(source->pixels), block.dest = dest.data();
    }
    block.sourceRowLength = source->rowLength, block.destRowLength = rowLength;
    block.sourceWidth = size.width, block.sourceHeight = size.height;
    block.destWidth = width, block.destHeight = height;
    block.destMask = destMask.data(), block.destMaskBytesPerRow = maskBytesPerRow;
    if (planes.mask) {
        block.sourceMask = sourcePlanes.mask.data(), block.sourceX = kMaskOffset;
        block.sourceMaskBytesPerRow = sourcePlanes.maskBytesPerRow;
    }
    if (planes.alpha) {
        block.sourceAlpha = sourcePlanes.alpha.data(), block.sourceAlphaBytesPerRow = size.width;
        block.destAlpha = destAlpha.data(), block.destAlphaBytesPerRow = rowLength;
    }
    block.matrix = matrix, block.smooth = smooth;
    block.format = format, block.bytesPerPixel = bytes;
    TransformPixels(block);
    hash.Add(dest);
    hash.Add(destMask);
    hash.Add(destAlpha);
}

uint64_t HashOf(uint32_t format, int smooth) {
    Hash hash;
    uint32_t seed = 1;
    for (Size size : kSizes) {
        for (Turn turn : kTurns) {
            for (Planes planes : kPlanes)
                TurnInto(size, turn, planes, smooth, format, seed++, hash);
        }
    }
    return hash.value;
}

TEST(TransformGolden, TurnsKeepTheirBytesInEveryFormat) {
    if (!qv::test::DefaultScreenFormat())
        GTEST_SKIP() << "independent of the screen format; swept in the format 10 run";
    const struct {
        uint32_t format;
        uint64_t nearest, smooth;
    } rows[] = {
        {QV_FMT_A8R8G8B8, 0xAE00A124D33999BDu, 0x153DB35AF7F9B5A3u},
        {QV_FMT_R5G6B5, 0x634E626B79735B16u, 0xBC9703A905C1C1ADu},
        {QV_FMT_R8G8B8A8, 0xAE00A124D33999BDu, 0x2E2E36470393E4B3u},
        {QV_FMT_B8G8R8, 0xF6E5F911FE263620u, 0x880F4F7E3D11B0A0u},
        {QV_FMT_R5G5B5, 0x634E626B79735B16u, 0x993164C111A7A0ADu},
        {QV_FMT_R5G6B5_SWAPPED, 0x634E626B79735B16u, 0x99A91B28B13C587Cu},
        {QV_FMT_R8G8B8, 0xF6E5F911FE263620u, 0x880F4F7E3D11B0A0u},
        {QV_FMT_A8B8G8R8, 0xAE00A124D33999BDu, 0x153DB35AF7F9B5A3u},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(HashOf(row.format, 0), row.nearest) << "format " << row.format << " nearest";
        EXPECT_EQ(HashOf(row.format, 1), row.smooth) << "format " << row.format << " smoothed";
    }
}

}  // namespace
