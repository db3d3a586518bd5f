// The raster kernels beside the physical limits (memcpy, memset) and beside SDL2 and pixman,
// on full-HD bitmaps in formats 10 (A8R8G8B8) and 4 (R5G6B5).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/kernels/channel_planes.h"
#include "gfx/kernels/kernels.h"
#include "platform/linux/bitmap.h"

namespace {

using namespace qv::bench;

size_t RowBytes(const qvDisplayBitMap* bitmap) {
    return size_t(bitmap->rowLength) * bitmap->bytesPerPixel;
}

void SetBytes(benchmark::State& state, size_t bytesPerFrame) {
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytesPerFrame));
}

// Masks: half of the pixels at random, or a sprite (a disc) whose rows are runs.
enum class Shape { kRandomHalf, kSprite };

bool Visible(Shape shape, int x, int y, std::mt19937& random) {
    if (shape == Shape::kRandomHalf) return random() & 1;
    int64_t dx = x - kWidth / 2, dy = y - kHeight / 2;
    return dx * dx + dy * dy < int64_t(kHeight / 2) * (kHeight / 2);
}

std::vector<std::vector<bool>> MaskPattern(Shape shape) {
    std::mt19937 random(3);
    std::vector<std::vector<bool>> rows(kHeight, std::vector<bool>(kWidth));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) rows[y][x] = Visible(shape, x, y, random);
    }
    return rows;
}

Owned<qvPlaneBitMap> MaskOf(const std::vector<std::vector<bool>>& pattern) {
    Owned<qvPlaneBitMap> mask(AllocMaskBitMap(nullptr, kWidth, kHeight, 1));
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (pattern[y][x]) PlotPixel(mask.get(), x, y, 0);
        }
    }
    return mask;
}

uint32_t SdlFormat(uint32_t format) {
    return format == QV_FMT_A8R8G8B8 ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_RGB565;
}

pixman_format_code_t PixmanFormat(uint32_t format) {
    return format == QV_FMT_A8R8G8B8 ? PIXMAN_a8r8g8b8 : PIXMAN_r5g6b5;
}

void BltBitMapSame(benchmark::State& state, uint32_t format) {
    auto source = RandomBitMap(format, 1), dest = RandomBitMap(format, 2);
    for (auto _ : state) {
        BltBitMap(source.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    SetBytes(state, size_t(kWidth) * kHeight * source->bytesPerPixel);
}

void MemcpyRows(benchmark::State& state, uint32_t format) {
    auto source = RandomBitMap(format, 1), dest = RandomBitMap(format, 2);
    const size_t bytes = size_t(kWidth) * source->bytesPerPixel;
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            std::memcpy(dest->pixels + y * RowBytes(dest.get()),
                        source->pixels + y * RowBytes(source.get()), bytes);
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state, bytes * kHeight);
}

// The three channel planes the convolutions (G5) filter, split from a picture and joined
// back into it a row at a time, as they do.
struct ChannelPlanes {
    ChannelPlanes() : picture(RandomBitMap(QV_FMT_A8R8G8B8, 1)), planes(3 * kArea) {}
    uint8_t* Row(int y) { return picture->pixels + y * RowBytes(picture.get()); }
    uint8_t* Red(int y) { return planes.data() + size_t(y) * kWidth; }
    static constexpr size_t kArea = size_t(kWidth) * kHeight;
    Owned<qvDisplayBitMap> picture;
    std::vector<uint8_t> planes;
};
using Format10 = qv::Format<QV_FMT_A8R8G8B8>;

void SplitPlanesFrame(benchmark::State& state) {
    ChannelPlanes c;
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* red = c.Red(y);
            qv::SplitRow<Format10>(c.Row(y), kWidth, red, red + c.kArea, red + 2 * c.kArea);
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state, size_t(kWidth) * kHeight * 4);
}

void JoinPlanesFrame(benchmark::State& state) {
    ChannelPlanes c;
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y) {
            const uint8_t* red = c.Red(y);
            qv::JoinRow<Format10>(red, red + c.kArea, red + 2 * c.kArea, kWidth, c.Row(y));
        }
        benchmark::ClobberMemory();
    }
    SetBytes(state, size_t(kWidth) * kHeight * 4);
}

void RectFillFrame(benchmark::State& state, uint32_t format) {
    auto dest = RandomBitMap(format, 2);
    for (auto _ : state) {
        RectFill(dest.get(), 0, 0, kWidth, kHeight, 0x123456);
        benchmark::ClobberMemory();
    }
    SetBytes(state, size_t(kWidth) * kHeight * dest->bytesPerPixel);
}

void MemsetRows(benchmark::State& state, uint32_t format) {
    auto dest = RandomBitMap(format, 2);
    const size_t bytes = size_t(kWidth) * dest->bytesPerPixel;
    for (auto _ : state) {
        for (int y = 0; y < kHeight; ++y)
            std::memset(dest->pixels + y * RowBytes(dest.get()), 0x5A, bytes);
        benchmark::ClobberMemory();
    }
    SetBytes(state, bytes * kHeight);
}

void BltMaskFrame(benchmark::State& state, uint32_t format, Shape shape) {
    auto source = RandomBitMap(format, 1), dest = RandomBitMap(format, 2);
    auto mask = MaskOf(MaskPattern(shape));
    for (auto _ : state) {
        BltMask(source.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight, mask.get());
        benchmark::ClobberMemory();
    }
}

// The same picture with the invisible pixels set to a colour key.
void SdlColourKey(benchmark::State& state, uint32_t format, Shape shape) {
    const auto pattern = MaskPattern(shape);
    Owned<SDL_Surface> source(
        SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 0, SdlFormat(format)));
    Owned<SDL_Surface> dest(
        SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 0, SdlFormat(format)));
    const uint32_t key = SDL_MapRGB(source->format, 255, 0, 255);
    std::mt19937 random(1);
    const int bytes = source->format->BytesPerPixel;
    for (int y = 0; y < kHeight; ++y) {
        auto* row = static_cast<uint8_t*>(source->pixels) + y * source->pitch;
        for (int x = 0; x < kWidth; ++x) {
            uint32_t colour = pattern[y][x] ? (random() & 0xFFFF7F7F) : key;
            std::memcpy(row + x * bytes, &colour, bytes);
        }
    }
    SDL_SetColorKey(source.get(), SDL_TRUE, key);
    SDL_SetSurfaceBlendMode(source.get(), SDL_BLENDMODE_NONE);
    for (auto _ : state) {
        SDL_BlitSurface(source.get(), nullptr, dest.get(), nullptr);
        benchmark::ClobberMemory();
    }
}

void PixmanA1(benchmark::State& state, uint32_t format, Shape shape) {
    const auto pattern = MaskPattern(shape);
    const int wordsPerRow = (kWidth + 31) / 32;
    std::vector<uint32_t> words(size_t(wordsPerRow) * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            if (pattern[y][x]) words[size_t(y) * wordsPerRow + x / 32] |= 1u << (x % 32);
        }
    }
    const int bytes = qv::BytesPerPixel(format);
    std::vector<uint32_t> sourceBits(size_t(kWidth) * kHeight * bytes / 4, 0x12345678);
    std::vector<uint32_t> destBits(sourceBits.size());
    Owned<pixman_image_t> source(pixman_image_create_bits(PixmanFormat(format), kWidth, kHeight,
                                                          sourceBits.data(), kWidth * bytes));
    Owned<pixman_image_t> dest(pixman_image_create_bits(PixmanFormat(format), kWidth, kHeight,
                                                        destBits.data(), kWidth * bytes));
    Owned<pixman_image_t> mask(
        pixman_image_create_bits(PIXMAN_a1, kWidth, kHeight, words.data(), wordsPerRow * 4));
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, source.get(), mask.get(), dest.get(), 0, 0, 0, 0, 0,
                                 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}

void ConvertTo565(benchmark::State& state) {
    auto source = RandomBitMap(QV_FMT_A8R8G8B8, 1), dest = RandomBitMap(QV_FMT_R5G6B5, 2);
    for (auto _ : state) {
        BltBitMap(source.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
    SetBytes(state, size_t(kWidth) * kHeight * 4);
}

void SdlConvertTo565(benchmark::State& state) {
    std::vector<uint32_t> source(size_t(kWidth) * kHeight, 0x80123456);
    std::vector<uint16_t> dest(size_t(kWidth) * kHeight);
    for (auto _ : state) {
        SDL_ConvertPixels(kWidth, kHeight, SDL_PIXELFORMAT_ARGB8888, source.data(), kWidth * 4,
                          SDL_PIXELFORMAT_RGB565, dest.data(), kWidth * 2);
        benchmark::ClobberMemory();
    }
    SetBytes(state, size_t(kWidth) * kHeight * 4);
}

std::vector<uint8_t> RandomFrame() {
    std::vector<uint8_t> frame(size_t(kWidth) * kHeight * 3 / 2);
    std::mt19937 random(9);
    for (auto& byte : frame) byte = uint8_t(16 + random() % 220);
    return frame;
}

void YUVUnscaled(benchmark::State& state) {
    const auto frame = RandomFrame();
    std::vector<uint32_t> dest(size_t(kWidth) * kHeight);
    const uint8_t* y = frame.data();
    const uint8_t* u = y + size_t(kWidth) * kHeight;
    const uint8_t* v = u + size_t(kWidth) * kHeight / 4;
    for (auto _ : state) {
        ConvertYUVFrameUnscaled({y, u, v, kWidth, kWidth / 2, kWidth / 2, dest.data(), kWidth,
                                 kHeight, kWidth, QV_FMT_A8R8G8B8, 4, kWidth, kHeight});
        benchmark::ClobberMemory();
    }
}

void SdlYUV(benchmark::State& state) {
    const auto frame = RandomFrame();
    std::vector<uint32_t> dest(size_t(kWidth) * kHeight);
    for (auto _ : state) {
        SDL_ConvertPixels(kWidth, kHeight, SDL_PIXELFORMAT_IYUV, frame.data(), kWidth,
                          SDL_PIXELFORMAT_ARGB8888, dest.data(), kWidth * 4);
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK_CAPTURE(BltBitMapSame, f10, QV_FMT_A8R8G8B8)->Name("G1a:BltBitMap fmt10 vs memcpy/ours");
BENCHMARK_CAPTURE(MemcpyRows, f10, QV_FMT_A8R8G8B8)->Name("G1a:BltBitMap fmt10 vs memcpy/peer");
BENCHMARK_CAPTURE(BltBitMapSame, f4, QV_FMT_R5G6B5)->Name("G1b:BltBitMap fmt4 vs memcpy/ours");
BENCHMARK_CAPTURE(MemcpyRows, f4, QV_FMT_R5G6B5)->Name("G1b:BltBitMap fmt4 vs memcpy/peer");
BENCHMARK(SplitPlanesFrame)->Name("G5as:split fmt10 into channel planes vs memcpy/ours");
BENCHMARK_CAPTURE(MemcpyRows, split, QV_FMT_A8R8G8B8)
    ->Name("G5as:split fmt10 into channel planes vs memcpy/peer");
BENCHMARK(JoinPlanesFrame)->Name("G5aj:join channel planes into fmt10 vs memcpy/ours");
BENCHMARK_CAPTURE(MemcpyRows, join, QV_FMT_A8R8G8B8)
    ->Name("G5aj:join channel planes into fmt10 vs memcpy/peer");
BENCHMARK_CAPTURE(RectFillFrame, f10, QV_FMT_A8R8G8B8)->Name("G1c:RectFill fmt10 vs memset/ours");
BENCHMARK_CAPTURE(MemsetRows, f10, QV_FMT_A8R8G8B8)->Name("G1c:RectFill fmt10 vs memset/peer");
BENCHMARK_CAPTURE(RectFillFrame, f4, QV_FMT_R5G6B5)->Name("G1d:RectFill fmt4 vs memset/ours");
BENCHMARK_CAPTURE(MemsetRows, f4, QV_FMT_R5G6B5)->Name("G1d:RectFill fmt4 vs memset/peer");

#define QV_MASK_PAIRS(id, format, shape, text)                   \
    BENCHMARK_CAPTURE(BltMaskFrame, id##a, format, shape)        \
        ->Name(#id "k:BltMask " text " vs SDL colour key/ours"); \
    BENCHMARK_CAPTURE(SdlColourKey, id##b, format, shape)        \
        ->Name(#id "k:BltMask " text " vs SDL colour key/peer"); \
    BENCHMARK_CAPTURE(BltMaskFrame, id##c, format, shape)        \
        ->Name(#id "p:BltMask " text " vs pixman a1/ours");      \
    BENCHMARK_CAPTURE(PixmanA1, id##d, format, shape)            \
        ->Name(#id "p:BltMask " text " vs pixman a1/peer")

QV_MASK_PAIRS(G1e, QV_FMT_A8R8G8B8, Shape::kRandomHalf, "fmt10 random half");
QV_MASK_PAIRS(G1f, QV_FMT_A8R8G8B8, Shape::kSprite, "fmt10 sprite");
QV_MASK_PAIRS(G1g, QV_FMT_R5G6B5, Shape::kRandomHalf, "fmt4 random half");
QV_MASK_PAIRS(G1h, QV_FMT_R5G6B5, Shape::kSprite, "fmt4 sprite");

BENCHMARK(ConvertTo565)->Name("G1i:BltBitMap 10 to 4 vs SDL_ConvertPixels/ours");
BENCHMARK(SdlConvertTo565)->Name("G1i:BltBitMap 10 to 4 vs SDL_ConvertPixels/peer");
BENCHMARK(YUVUnscaled)->Name("G1j:ConvertYUVFrameUnscaled vs SDL IYUV/ours");
BENCHMARK(SdlYUV)->Name("G1j:ConvertYUVFrameUnscaled vs SDL IYUV/peer");
