// Blending against pixman: an opaque source over the destination through an a8 mask (the
// alpha plane, or the coverage of a solid colour). Our blend shifts by 8 where pixman
// divides by 255 with rounding, so partial alphas may differ by a little; 0 and 255 are
// exact.
#include <gtest/gtest.h>
#include <pixman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "gfx/blit_frontends.h"
#include "tests/gfx/support.h"

namespace {

using qv::test::BitMapPtr;
using qv::test::PlanePtr;

constexpr int kWidth = 61, kHeight = 9;

struct ImageDeleter {
    void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using Image = std::unique_ptr<pixman_image_t, ImageDeleter>;

// The formats with a pixman twin (the byte-swapped 16-bit codes have none).
struct Peer {
    uint32_t code;
    pixman_format_code_t pixman;
};
const Peer kPeers[] = {{0, PIXMAN_x1r5g5b5},  {1, PIXMAN_x1b5g5r5},  {4, PIXMAN_r5g6b5},
                       {5, PIXMAN_b5g6r5},    {8, PIXMAN_b8g8r8},    {9, PIXMAN_r8g8b8},
                       {10, PIXMAN_a8r8g8b8}, {11, PIXMAN_b8g8r8a8}, {12, PIXMAN_r8g8b8a8},
                       {13, PIXMAN_a8b8g8r8}};

// A copy of a bitmap's pixels in pixman's layout (rows padded to 4 bytes).
struct PeerPixels {
    PeerPixels(const qvDisplayBitMap* bitmap, pixman_format_code_t format)
        : bytes(bitmap->bytesPerPixel),
          stride((kWidth * bytes + 3) & ~3),
          data(size_t(stride) * kHeight / 4 + 1),
          image(pixman_image_create_bits(format, kWidth, kHeight, data.data(), stride)) {
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(row(y), bitmap->pixels + size_t(y) * bitmap->rowLength * bytes,
                        size_t(kWidth) * bytes);
        }
    }
    uint8_t* row(int y) { return reinterpret_cast<uint8_t*>(data.data()) + size_t(y) * stride; }

    int bytes, stride;
    std::vector<uint32_t> data;
    Image image;
};

// Alpha 0 and 255 must match exactly; the rest within 2 levels of an 8-bit channel, or one
// step of a 5- or 6-bit one. (A spike over random pictures found exactly these maxima: the
// rounding of pixman and our truncation part by up to 2 levels, which at 16 bits can fall
// across one step.)
::testing::AssertionResult Close(const uint8_t* ours, const uint8_t* peer, uint32_t format,
                                 uint8_t alpha) {
    uint8_t a[3], b[3];
    ReadPixelRGB(ours, format, a), ReadPixelRGB(peer, format, b);
    const bool narrow = qv::BytesPerPixel(format) == 2, sixBitGreen = format >= 4 && format < 8;
    for (int k = 0; k < 3; ++k) {
        int tolerance = alpha == 0 || alpha == 255 ? 0
                        : !narrow                  ? 2
                        : k == 1 && sixBitGreen    ? 4
                                                   : 8;
        if (std::abs(a[k] - b[k]) > tolerance) {
            return ::testing::AssertionFailure()
                   << "channel " << k << ": " << int(a[k]) << " vs " << int(b[k]);
        }
    }
    return ::testing::AssertionSuccess();
}

PlanePtr RandomAlpha(std::mt19937& random) {
    PlanePtr alpha(AllocAlphaBitMap(kWidth, kHeight, 1));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint32_t r = random() % 4;
            alpha->plane[y * alpha->bytesPerRow + x] = uint8_t(r == 0   ? 0
                                                               : r == 1 ? 255
                                                                        : random());
        }
    }
    return alpha;
}

BitMapPtr RandomBitMap(uint32_t format, std::mt19937& random) {
    BitMapPtr bitmap(qv::AllocBitMapInFormat(kWidth, kHeight, format, false));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) PlotPixel(bitmap.get(), x, y, random() & 0xFFFFFF);
    }
    return bitmap;
}

Image PixmanMask(const qvPlaneBitMap* alpha) {
    return Image(pixman_image_create_bits(
        PIXMAN_a8, kWidth, kHeight, reinterpret_cast<uint32_t*>(alpha->plane), alpha->bytesPerRow));
}

void ExpectClose(const qvDisplayBitMap* ours, PeerPixels& peer, const qvPlaneBitMap* alpha,
                 uint32_t format) {
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t a = alpha->plane[y * alpha->bytesPerRow + x];
            const uint8_t* mine = ours->pixels + (size_t(y) * ours->rowLength + x) * peer.bytes;
            ASSERT_TRUE(Close(mine, peer.row(y) + x * peer.bytes, format, a))
                << "format " << format << " alpha " << int(a) << " at " << x << "," << y;
        }
    }
}

TEST(BlendPeers, BltAlphaBitmapMatchesPixmanOverThroughAnA8Mask) {
    std::mt19937 random(5);
    for (const Peer& peer : kPeers) {
        BitMapPtr source = RandomBitMap(peer.code, random), dest = RandomBitMap(peer.code, random);
        PlanePtr alpha = RandomAlpha(random);
        // pixman's source: our source pixels as read, opaque.
        std::vector<uint32_t> opaque(size_t(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                opaque[size_t(y) * kWidth + x] = 0xFF000000 | ReadBitMapPixel(source.get(), x, y);
            }
        }
        Image pixmanSource(
            pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight, opaque.data(), kWidth * 4));
        PeerPixels expected(dest.get(), peer.pixman);
        Image mask = PixmanMask(alpha.get());
        pixman_image_composite32(PIXMAN_OP_OVER, pixmanSource.get(), mask.get(),
                                 expected.image.get(), 0, 0, 0, 0, 0, 0, kWidth, kHeight);
        BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight, alpha.get());
        ExpectClose(dest.get(), expected, alpha.get(), peer.code);
    }
}

TEST(BlendPeers, BltAlphaChannelModeOneMatchesPixmanOverOfASolidColour) {
    std::mt19937 random(6);
    for (const Peer& peer : kPeers) {
        BitMapPtr dest = RandomBitMap(peer.code, random);
        PlanePtr coverage = RandomAlpha(random);
        const uint32_t colour = random() & 0xFFFFFF;
        const uint32_t stored = qv::test::AsStored(peer.code, colour);
        pixman_color_t solid{uint16_t(((stored >> 16) & 255) * 257),
                             uint16_t(((stored >> 8) & 255) * 257), uint16_t((stored & 255) * 257),
                             0xFFFF};
        Image pixmanSource(pixman_image_create_solid_fill(&solid));
        PeerPixels expected(dest.get(), peer.pixman);
        Image mask = PixmanMask(coverage.get());
        pixman_image_composite32(PIXMAN_OP_OVER, pixmanSource.get(), mask.get(),
                                 expected.image.get(), 0, 0, 0, 0, 0, 0, kWidth, kHeight);
        BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight, colour, 1, nullptr,
                        0, nullptr, 0, nullptr);
        ExpectClose(dest.get(), expected, coverage.get(), peer.code);
    }
}

}  // namespace
