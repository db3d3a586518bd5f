// The blending front-ends beside SDL2 and pixman, and SafeBlt beside the bare platform blit,
// on full-HD bitmaps in formats 10 (A8R8G8B8) and 4 (R5G6B5).
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/safe_blt.h"
#include "platform/linux/bitmap.h"

namespace {

using namespace qv::bench;

// Alpha as sprites have it: runs of 8 to 64 pixels, 60% opaque, 30% transparent and 10%
// partial (edges), or partial everywhere.
enum class Alpha { kSpriteMix, kPartial };

Owned<qvPlaneBitMap> AlphaPlane(Alpha kind) {
    Owned<qvPlaneBitMap> plane(AllocAlphaBitMap(kWidth, kHeight, 1));
    std::mt19937 random(4);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = plane->plane + size_t(y) * plane->bytesPerRow;
        for (int x = 0; x < kWidth;) {
            int run = 8 + int(random() % 57);
            uint32_t dice = random() % 10;
            for (; run > 0 && x < kWidth; --run, ++x) {
                uint8_t partial = uint8_t(1 + random() % 254);
                row[x] = kind == Alpha::kPartial ? partial
                         : dice < 6              ? 255
                         : dice < 9              ? 0
                                                 : partial;
            }
        }
    }
    return plane;
}

// Glyph-like coverage: text rows of 24-pixel glyphs with stems, bowls' edges and gaps.
Owned<qvPlaneBitMap> GlyphCoverage() {
    Owned<qvPlaneBitMap> plane(AllocAlphaBitMap(kWidth, kHeight, 1));
    std::mt19937 random(8);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = plane->plane + size_t(y) * plane->bytesPerRow;
        const bool lineGap = y % 32 >= 24;
        for (int x = 0; x < kWidth; ++x) {
            int inGlyph = x % 16;
            uint32_t dice = random() % 10;
            row[x] = lineGap || inGlyph >= 12 ? 0
                     : inGlyph % 5 == 1       ? 255
                     : dice < 2               ? uint8_t(random())
                                              : 0;
        }
    }
    return plane;
}

void BltAlphaBitmapFrame(benchmark::State& state, uint32_t format, Alpha kind) {
    auto source = RandomBitMap(format, 1), dest = RandomBitMap(format, 2);
    auto alpha = AlphaPlane(kind);
    for (auto _ : state) {
        BltAlphaBitmap(source.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight, alpha.get());
        benchmark::ClobberMemory();
    }
}

// SDL: a source surface whose alpha bytes are the plane, blended onto an opaque target.
void SdlBlend(benchmark::State& state, uint32_t destFormat, Alpha kind) {
    auto alpha = AlphaPlane(kind);
    Owned<SDL_Surface> source(
        SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 32, SDL_PIXELFORMAT_ARGB8888));
    Owned<SDL_Surface> dest(SDL_CreateRGBSurfaceWithFormat(0, kWidth, kHeight, 0, destFormat));
    std::mt19937 random(1);
    for (int y = 0; y < kHeight; ++y) {
        auto* row =
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(source->pixels) + y * source->pitch);
        for (int x = 0; x < kWidth; ++x) {
            row[x] = (uint32_t(alpha->plane[size_t(y) * alpha->bytesPerRow + x]) << 24) |
                     (random() & 0xFFFFFF);
        }
    }
    SDL_SetSurfaceBlendMode(source.get(), SDL_BLENDMODE_BLEND);
    for (auto _ : state) {
        SDL_BlitSurface(source.get(), nullptr, dest.get(), nullptr);
        benchmark::ClobberMemory();
    }
}

pixman_format_code_t PixmanFormat(uint32_t format) {
    return format == QV_FMT_A8R8G8B8 ? PIXMAN_a8r8g8b8 : PIXMAN_r5g6b5;
}

Owned<pixman_image_t> PixmanImage(uint32_t format, std::vector<uint32_t>& bits) {
    const int bytes = qv::BytesPerPixel(format);
    bits.assign(size_t(kWidth) * kHeight * bytes / 4, 0x12345678);
    return Owned<pixman_image_t>(pixman_image_create_bits(PixmanFormat(format), kWidth, kHeight,
                                                          bits.data(), kWidth * bytes));
}

Owned<pixman_image_t> PixmanMask(const qvPlaneBitMap* plane) {
    return Owned<pixman_image_t>(pixman_image_create_bits(
        PIXMAN_a8, kWidth, kHeight, reinterpret_cast<uint32_t*>(plane->plane), plane->bytesPerRow));
}

// pixman OVER of an opaque source through the plane as an a8 mask.
void PixmanOver(benchmark::State& state, uint32_t format, Alpha kind) {
    auto alpha = AlphaPlane(kind);
    std::vector<uint32_t> sourceBits, destBits;
    auto source = PixmanImage(format == QV_FMT_A8R8G8B8 ? QV_FMT_A8R8G8B8 : format, sourceBits);
    if (format == QV_FMT_A8R8G8B8) {
        for (auto& pixel : sourceBits) pixel |= 0xFF000000;
    }
    auto dest = PixmanImage(format, destBits);
    auto mask = PixmanMask(alpha.get());
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, source.get(), mask.get(), dest.get(), 0, 0, 0, 0,
                                 0, 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}

void BltAlphaChannelFrame(benchmark::State& state, uint32_t format) {
    auto dest = RandomBitMap(format, 2);
    auto coverage = GlyphCoverage();
    for (auto _ : state) {
        BltAlphaChannel(coverage.get(), 0, 0, dest.get(), 0, 0, kWidth, kHeight, 0x204080, 1,
                        nullptr, 0, nullptr, 0, nullptr);
        benchmark::ClobberMemory();
    }
}

void PixmanSolidOver(benchmark::State& state, uint32_t format) {
    auto coverage = GlyphCoverage();
    std::vector<uint32_t> destBits;
    auto dest = PixmanImage(format, destBits);
    pixman_color_t colour{0x2020, 0x4040, 0x8080, 0xFFFF};
    Owned<pixman_image_t> solid(pixman_image_create_solid_fill(&colour));
    auto mask = PixmanMask(coverage.get());
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, solid.get(), mask.get(), dest.get(), 0, 0, 0, 0, 0,
                                 0, kWidth, kHeight);
        benchmark::ClobberMemory();
    }
}

// 10^4 blits of a 32 x 32 rectangle spread over the frame, offscreen (no display open).
constexpr int kSmallBlits = 10000, kSide = 32;

void SafeBltSmall(benchmark::State& state) {
    auto source = RandomBitMap(QV_FMT_A8R8G8B8, 1), dest = RandomBitMap(QV_FMT_A8R8G8B8, 2);
    qv::gfx::Graphics().CreatePseudoDisplay();
    for (auto _ : state) {
        for (int i = 0; i < kSmallBlits; ++i) {
            int x = (i * 37) % (kWidth - kSide), y = (i * 53) % (kHeight - kSide);
            SafeBlt(nullptr, source.get(), x, y, dest.get(), y, x % (kHeight - kSide), kSide, kSide,
                    kWidth, kHeight, kWidth, kHeight, QV_BLIT_OFFSCREEN, nullptr, nullptr, nullptr);
        }
        benchmark::ClobberMemory();
    }
}

void BltBitMapSmall(benchmark::State& state) {
    auto source = RandomBitMap(QV_FMT_A8R8G8B8, 1), dest = RandomBitMap(QV_FMT_A8R8G8B8, 2);
    for (auto _ : state) {
        for (int i = 0; i < kSmallBlits; ++i) {
            int x = (i * 37) % (kWidth - kSide), y = (i * 53) % (kHeight - kSide);
            BltBitMap(source.get(), x, y, dest.get(), y, x % (kHeight - kSide), kSide, kSide);
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

#define QV_BLEND_PAIRS(id, format, sdlFormat, kind, text)               \
    BENCHMARK_CAPTURE(BltAlphaBitmapFrame, id##a, format, kind)         \
        ->Name(#id "s:BltAlphaBitmap " text " vs SDL blend/ours");      \
    BENCHMARK_CAPTURE(SdlBlend, id##b, sdlFormat, kind)                 \
        ->Name(#id "s:BltAlphaBitmap " text " vs SDL blend/peer");      \
    BENCHMARK_CAPTURE(BltAlphaBitmapFrame, id##c, format, kind)         \
        ->Name(#id "p:BltAlphaBitmap " text " vs pixman OVER a8/ours"); \
    BENCHMARK_CAPTURE(PixmanOver, id##d, format, kind)                  \
        ->Name(#id "p:BltAlphaBitmap " text " vs pixman OVER a8/peer")

QV_BLEND_PAIRS(G2a, QV_FMT_A8R8G8B8, SDL_PIXELFORMAT_ARGB8888, Alpha::kSpriteMix,
               "fmt10 sprite mix");
QV_BLEND_PAIRS(G2b, QV_FMT_A8R8G8B8, SDL_PIXELFORMAT_ARGB8888, Alpha::kPartial, "fmt10 partial");
QV_BLEND_PAIRS(G2c, QV_FMT_R5G6B5, SDL_PIXELFORMAT_RGB565, Alpha::kSpriteMix, "fmt4 sprite mix");
QV_BLEND_PAIRS(G2d, QV_FMT_R5G6B5, SDL_PIXELFORMAT_RGB565, Alpha::kPartial, "fmt4 partial");

BENCHMARK_CAPTURE(BltAlphaChannelFrame, f10, QV_FMT_A8R8G8B8)
    ->Name("G2e:BltAlphaChannel glyphs fmt10 vs pixman solid OVER a8/ours");
BENCHMARK_CAPTURE(PixmanSolidOver, f10, QV_FMT_A8R8G8B8)
    ->Name("G2e:BltAlphaChannel glyphs fmt10 vs pixman solid OVER a8/peer");
BENCHMARK_CAPTURE(BltAlphaChannelFrame, f4, QV_FMT_R5G6B5)
    ->Name("G2f:BltAlphaChannel glyphs fmt4 vs pixman solid OVER a8/ours");
BENCHMARK_CAPTURE(PixmanSolidOver, f4, QV_FMT_R5G6B5)
    ->Name("G2f:BltAlphaChannel glyphs fmt4 vs pixman solid OVER a8/peer");
BENCHMARK(SafeBltSmall)->Name("G2g:SafeBlt 32x32 x10^4 vs bare BltBitMap/ours");
BENCHMARK(BltBitMapSmall)->Name("G2g:SafeBlt 32x32 x10^4 vs bare BltBitMap/peer");
