// What the text benchmarks share: a 64-character line of Vera Sans at 16 pixels, the default
// font and FreeType with Vera Sans opened at that pixel size, and cairo with a FreeType face of
// the same data and size as the peer.
#pragma once

#include <benchmark/benchmark.h>
#include <cairo-ft.h>
#include <cairo.h>
#include <pixman.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/gfx/bench_bitmaps.h"
#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font.h"
#include "objects/fonts/truetype.h"
#include "runtime/plugin_api/builtin_fonts.h"

namespace qv::bench {

inline const std::string kLine =
    "The quick brown fox jumps over the lazy dog while 0123456789 ran.";
inline constexpr int kLines = 1000;
inline constexpr uint32_t kColour = 0x2060C0;

inline int LineY(int i) {
    return 20 + (i * 37) % (kHeight - 40);
}

// The default font and FreeType, and Vera Sans opened at a pixel size of 16.
class Fonts {
public:
    Fonts() {
        qvFont* topaz = nullptr;
        OpenDefaultFont(&topaz);
        for (int32_t size = 16; size < 32 && sans_ == nullptr; ++size) {
            qvFont* font = NewFontRecord();
            if (OpenTrueTypeFont("Bitstream Vera Sans", size, 1, font) != 0 &&
                static_cast<qvTrueTypeFont*>(font->engineData)->pixelSize == 16) {
                sans_ = font;
            } else {
                CloseFontObject(font);
            }
        }
    }
    ~Fonts() {
        CloseFontObject(sans_);
        CloseAllFonts();
    }
    qvFont* sans() const { return sans_; }

private:
    qvFont* sans_ = nullptr;
};

// cairo with a FreeType face of the same data and pixel size on an ARGB32 image surface.
struct CairoText {
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    cairo_surface_t* surface = nullptr;
    cairo_font_face_t* fontFace = nullptr;
    cairo_t* cr = nullptr;
    CairoText() {
        FT_Init_FreeType(&library);
        const auto data = qv::BuiltInFontSans();
        FT_New_Memory_Face(library, data.data(), FT_Long(data.size()), 0, &face);
        surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWidth, kHeight);
        fontFace = cairo_ft_font_face_create_for_ft_face(face, 0);
        cr = cairo_create(surface);
        cairo_set_font_face(cr, fontFace);
        cairo_set_font_size(cr, 16);
        cairo_set_source_rgb(cr, (kColour >> 16) / 255.0, (kColour >> 8 & 255) / 255.0,
                             (kColour & 255) / 255.0);
    }
    ~CairoText() {
        cairo_destroy(cr);
        cairo_font_face_destroy(fontFace);
        cairo_surface_destroy(surface);
        FT_Done_Face(face);
        FT_Done_FreeType(library);
    }
};

inline void CairoExtentLines(benchmark::State& state) {
    CairoText cairo;
    cairo_text_extents_t extents;
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            cairo_text_extents(cairo.cr, kLine.c_str(), &extents);
            benchmark::DoNotOptimize(extents);
        }
    }
}

// cairo_show_text of the line 1000 times, as the line benchmarks draw it.
inline void CairoLines(benchmark::State& state) {
    CairoText cairo;
    for (auto _ : state) {
        for (int i = 0; i < kLines; ++i) {
            cairo_move_to(cairo.cr, 8, LineY(i) + 12);
            cairo_show_text(cairo.cr, kLine.c_str());
        }
        cairo_surface_flush(cairo.surface);
        benchmark::ClobberMemory();
    }
}

// A screen of text: 25 lines of 80 characters of the built-in font.
inline std::vector<std::string> ScreenLines() {
    std::vector<std::string> lines;
    for (int line = 0; line < 25; ++line) {
        std::string text;
        for (int i = 0; i < 80; ++i) text += char(33 + (line * 80 + i) % 94);
        lines.push_back(text);
    }
    return lines;
}

// The same glyphs as pixman a1 masks, composited OVER with a solid source.
inline void PixmanScreen(benchmark::State& state) {
    const auto lines = ScreenLines();
    std::vector<Owned<pixman_image_t>> glyphs;
    std::vector<std::vector<uint32_t>> bits(256, std::vector<uint32_t>(8, 0));
    for (int code = 0; code < 256; ++code) {
        const int bit = code >= 32 && code < 127 ? (code - 32) * 8 : 768;
        for (int y = 0; y < 8; ++y) {
            const uint8_t row = qv::kTopazGlyphs[y * qv::kTopazModulo + bit / 8];
            for (int x = 0; x < 8; ++x) {
                // pixman's a1 on a little-endian machine: bit x of the 32-bit word.
                if ((row >> (7 - x) & 1) != 0) bits[code][y] |= 1u << x;
            }
        }
        glyphs.emplace_back(pixman_image_create_bits(PIXMAN_a1, 8, 8, bits[code].data(), 4));
    }
    auto frame = RandomBitMap(QV_FMT_A8R8G8B8, 2);
    Owned<pixman_image_t> dest(pixman_image_create_bits(PIXMAN_a8r8g8b8, kWidth, kHeight,
                                                        reinterpret_cast<uint32_t*>(frame->pixels),
                                                        frame->rowLength * 4));
    const pixman_color_t colour{uint16_t((kColour >> 16) * 257),
                                uint16_t((kColour >> 8 & 255) * 257),
                                uint16_t((kColour & 255) * 257), 0xFFFF};
    Owned<pixman_image_t> solid(pixman_image_create_solid_fill(&colour));
    for (auto _ : state) {
        for (int line = 0; line < 25; ++line) {
            for (int i = 0; i < 80; ++i) {
                const auto code = static_cast<unsigned char>(lines[line][i]);
                pixman_image_composite32(PIXMAN_OP_OVER, solid.get(), glyphs[code].get(),
                                         dest.get(), 0, 0, 0, 0, 16 + i * 8, 16 + line * 8, 8, 8);
            }
        }
        benchmark::ClobberMemory();
    }
}

}  // namespace qv::bench
