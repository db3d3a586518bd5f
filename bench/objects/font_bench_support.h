// What the text benchmarks share: a 64-character line of Vera Sans at 16 pixels, the default
// font and FreeType with Vera Sans opened at that pixel size, and cairo with a FreeType face of
// the same data and size as the peer.
#pragma once

#include <benchmark/benchmark.h>
#include <cairo-ft.h>
#include <cairo.h>

#include <string>

#include "bench/gfx/bench_bitmaps.h"
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

}  // namespace qv::bench
