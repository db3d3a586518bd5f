// Text through the font front end beside FreeType used directly, cairo and pixman: a
// 64-character line of Vera Sans at 16 pixels drawn 1000 times into a full-HD frame, its
// extent, and a screen of the built-in 8-pixel font.
#include <pixman.h>

#include <cstring>
#include <string>
#include <vector>

#include "bench/objects/font_bench_support.h"
#include "objects/fonts/bitmap_font.h"

namespace {

using namespace qv::bench;

void RenderLines(benchmark::State& state) {
    Fonts fonts;
    auto frame = RandomBitMap(QV_FMT_A8R8G8B8, 1);
    const qvTextClip clip{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            RenderFontText(fonts.sans(), {frame.get(), nullptr}, 8, LineY(i), kLine.data(),
                           int32_t(kLine.size()), QV_FONTSTYLE_ANTIALIAS, 0, clip, kColour);
        }
        benchmark::ClobberMemory();
    }
}

// FreeType loading and rendering each glyph as it comes, blended with a plain loop.
void FreeTypeLines(benchmark::State& state) {
    FT_Library library;
    FT_Face face;
    FT_Init_FreeType(&library);
    const auto data = qv::BuiltInFontSans();
    FT_New_Memory_Face(library, data.data(), FT_Long(data.size()), 0, &face);
    FT_Set_Pixel_Sizes(face, 0, 16);
    auto frame = RandomBitMap(QV_FMT_A8R8G8B8, 1);
    auto* pixels = reinterpret_cast<uint32_t*>(frame->pixels);
    const uint32_t r = kColour >> 16 & 255, g = kColour >> 8 & 255, b = kColour & 255;
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            int penX = 8;
            const int baseline = LineY(i) + 12;
            for (char c : kLine) {
                if (FT_Load_Char(face, FT_ULong(c), FT_LOAD_RENDER) != 0) continue;
                const FT_GlyphSlot slot = face->glyph;
                for (unsigned y = 0; y < slot->bitmap.rows; ++y) {
                    uint32_t* row =
                        pixels + size_t(baseline - slot->bitmap_top + int(y)) * frame->rowLength;
                    const uint8_t* coverage = slot->bitmap.buffer + y * slot->bitmap.pitch;
                    for (unsigned x = 0; x < slot->bitmap.width; ++x) {
                        const uint32_t a = coverage[x];
                        if (a == 0) continue;
                        uint32_t& d = row[penX + slot->bitmap_left + int(x)];
                        const uint32_t dr = d >> 16 & 255, dg = d >> 8 & 255, db = d & 255;
                        d = (dr + ((r - dr) * a >> 8)) << 16 | (dg + ((g - dg) * a >> 8)) << 8 |
                            (db + ((b - db) * a >> 8));
                    }
                }
                penX += int(slot->advance.x >> 6);
            }
        }
        benchmark::ClobberMemory();
    }
    FT_Done_FreeType(library);
}

void ExtentLines(benchmark::State& state) {
    Fonts fonts;
    qvTextExtent extent{};
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            FontTextExtent(fonts.sans(), kLine.data(), int32_t(kLine.size()),
                           QV_FONTSTYLE_ANTIALIAS, 0, &extent);
            benchmark::DoNotOptimize(extent);
        }
    }
}

void TopazScreen(benchmark::State& state) {
    Fonts fonts;
    const auto lines = ScreenLines();
    auto frame = RandomBitMap(QV_FMT_A8R8G8B8, 2);
    const qvTextClip clip{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        for (int line = 0; line < 25; ++line) {
            RenderFontText(DefaultFont(), {frame.get(), nullptr}, 16, 16 + line * 8,
                           lines[line].data(), 80, 0, 0, clip, kColour);
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace

BENCHMARK(RenderLines)
    ->Name("T1a:RenderFontText 16px AA line x1000 vs FreeType direct/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(FreeTypeLines)
    ->Name("T1a:RenderFontText 16px AA line x1000 vs FreeType direct/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(RenderLines)
    ->Name("T1b:RenderFontText 16px AA line x1000 vs cairo_show_text/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CairoLines)
    ->Name("T1b:RenderFontText 16px AA line x1000 vs cairo_show_text/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ExtentLines)
    ->Name("T1c:FontTextExtent line x1000 vs cairo_text_extents/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CairoExtentLines)
    ->Name("T1c:FontTextExtent line x1000 vs cairo_text_extents/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(TopazScreen)
    ->Name("T1d:topaz 25x80 in a colour vs pixman a1 OVER/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanScreen)
    ->Name("T1d:topaz 25x80 in a colour vs pixman a1 OVER/peer")
    ->Unit(benchmark::kMicrosecond);
