// Tagged text beside pango: a 600-character paragraph of Vera Sans at 16 pixels with two colour
// tags and one bold tag, wrapped at 400 pixels. T3a lays it out and renders it anti-aliased
// (pango: markup, width, pango_cairo_show_layout on an ARGB32 surface, the same face and size
// through fontconfig); T3b lays it out only (pango: its pixel extents); T3c builds the
// anti-aliased edge of size 2 of the rendered block (OpenCV: an unnormalised 32-bit box filter
// and the divide and clamp to 8 bits). Bold outline glyphs are never cached, so T3a2 and T3b2
// show the same paragraph without its bold tag.
#include <pango/pangocairo.h>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "bench/objects/font_bench_support.h"
#include "gfx/geometry.h"
#include "objects/text/glyph_render.h"
#include "objects/text/layout.h"
#include "objects/text/text_blits.h"

namespace {

using namespace qv::bench;

constexpr int32_t kWrap = 400;

// The paragraph with its tags in our syntax or as pango markup, the bold one left out on
// request.
std::string Paragraph(bool markup, bool bold = true) {
    const std::string red = markup ? "<span foreground=\"#FF0000\">" : "[color=$FF0000]";
    const std::string endRed = markup ? "</span>" : "[/color]";
    const std::string startBold = !bold ? "" : markup ? "<b>" : "[b]";
    const std::string endBold = !bold ? "" : markup ? "</b>" : "[/b]";
    return "Text becomes pictures when a layout turns a string with inline tags into runs of "
           "one style each. " +
           red + "It wraps words against a width," + endRed +
           " honours tab stops, records line breaks and replays them, and trims trailing "
           "spaces where lines end. The runs are then rasterised into a display bitmap with an "
           "alpha plane: " +
           startBold + "bold, italic and underline" + endBold +
           " are drawn synthetically where the font cannot do them, with shadows in eight "
           "directions and edges by dilation. " +
           red + "Colours may carry a transparency byte," + endRed +
           " and the same runs serve text layers that redraw at another scale, so the breaks "
           "a first layout made are kept. Quick brown foxes jump.";
}

struct OurParagraph {
    Fonts fonts;
    std::string text;
    qvTextRender record{};
    explicit OurParagraph(bool bold = true) : text(Paragraph(false, bold)) {
        record.style = {
            QV_STYLE_NORMAL | QV_STYLE_ANTIALIAS, kColour, 0, 0x0093DD, 4, 3, 2, fonts.sans()};
        record.text = text.data();
    }
    qv::text::LayoutOptions Options() const {
        qv::text::LayoutOptions options;
        options.wrapWidth = kWrap;
        return options;
    }
    // The rendered block; the caller frees it.
    qvGlyphResult Render() {
        qv::text::TextLayout layout;
        qvGlyphResult block{};
        if (layout.Run(nullptr, &record, Options()) == 0)
            RenderGlyphs(&record, 0, kWrap, true, qv::gfx::LEFT, false, layout.runs(), &block);
        return block;
    }
};

struct PangoParagraph {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kWrap, 200);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    std::string markup;
    explicit PangoParagraph(bool bold = true) : markup(Paragraph(true, bold)) {
        PangoFontDescription* font = pango_font_description_from_string("Bitstream Vera Sans");
        pango_font_description_set_absolute_size(font, 16 * PANGO_SCALE);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        cairo_set_source_rgb(cr, (kColour >> 16) / 255.0, (kColour >> 8 & 255) / 255.0,
                             (kColour & 255) / 255.0);
    }
    ~PangoParagraph() {
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    void Lay() {
        pango_layout_set_markup(layout, markup.c_str(), int(markup.size()));
        pango_layout_set_width(layout, kWrap * PANGO_SCALE);
    }
};

void LayoutAndRender(benchmark::State& state) {
    OurParagraph ours(state.range(0) != 0);
    for (auto _ : state) {
        qvGlyphResult block = ours.Render();
        benchmark::DoNotOptimize(block.alpha);
        FreeGlyphResult(&block);
    }
}

void PangoLayoutAndRender(benchmark::State& state) {
    PangoParagraph pango(state.range(0) != 0);
    for (auto _ : state) {
        cairo_save(pango.cr);
        cairo_set_operator(pango.cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(pango.cr);
        cairo_restore(pango.cr);
        pango.Lay();
        pango_cairo_show_layout(pango.cr, pango.layout);
        cairo_surface_flush(pango.surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(pango.surface));
    }
}

void LayoutOnly(benchmark::State& state) {
    OurParagraph ours(state.range(0) != 0);
    for (auto _ : state) {
        qv::text::TextLayout layout;
        layout.Run(nullptr, &ours.record, ours.Options());
        benchmark::DoNotOptimize(layout.runs());
    }
}

void PangoExtents(benchmark::State& state) {
    PangoParagraph pango(state.range(0) != 0);
    PangoRectangle ink, logical;
    for (auto _ : state) {
        pango.Lay();
        pango_layout_get_pixel_extents(pango.layout, &ink, &logical);
        benchmark::DoNotOptimize(logical);
    }
}

void EdgeOfBlock(benchmark::State& state) {
    OurParagraph ours;
    qvGlyphResult block = ours.Render();
    EdgeAccumulator accumulator;
    if (block.alpha == nullptr || accumulator.Allocate(block.width, block.height, 2) != 0) {
        state.SkipWithError("no block");
        return;
    }
    for (auto _ : state) {
        DrawEdgeAA(&accumulator, block.alpha, block.width, block.height, 2, 0, 0);
        benchmark::DoNotOptimize(accumulator.coverage());
    }
    FreeGlyphResult(&block);
}

void OpenCVBoxEdge(benchmark::State& state) {
    OurParagraph ours;
    qvGlyphResult block = ours.Render();
    if (block.alpha == nullptr) {
        state.SkipWithError("no block");
        return;
    }
    // The same coverage, with the border of 2 on every side that our edge grows by.
    const cv::Mat coverage(block.height, block.width, CV_8UC1, block.alpha->plane,
                           size_t(block.alpha->bytesPerRow));
    cv::Mat padded, sums, edge;
    cv::copyMakeBorder(coverage, padded, 2, 2, 2, 2, cv::BORDER_CONSTANT, 0);
    for (auto _ : state) {
        cv::boxFilter(padded, sums, CV_32S, {5, 5}, {-1, -1}, false, cv::BORDER_CONSTANT);
        sums.convertTo(edge, CV_8U, 1.0 / 5);
        benchmark::DoNotOptimize(edge.data);
    }
    FreeGlyphResult(&block);
}

}  // namespace

BENCHMARK(LayoutAndRender)
    ->Arg(1)
    ->Name("T3a:LayoutText+RenderGlyphs paragraph vs pango_cairo_show_layout/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PangoLayoutAndRender)
    ->Arg(1)
    ->Name("T3a:LayoutText+RenderGlyphs paragraph vs pango_cairo_show_layout/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(LayoutAndRender)
    ->Arg(0)
    ->Name("T3a2:LayoutText+RenderGlyphs paragraph without bold vs pango/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PangoLayoutAndRender)
    ->Arg(0)
    ->Name("T3a2:LayoutText+RenderGlyphs paragraph without bold vs pango/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(LayoutOnly)
    ->Arg(1)
    ->Name("T3b:LayoutText paragraph vs pango_layout_get_pixel_extents/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PangoExtents)
    ->Arg(1)
    ->Name("T3b:LayoutText paragraph vs pango_layout_get_pixel_extents/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(LayoutOnly)
    ->Arg(0)
    ->Name("T3b2:LayoutText paragraph without bold vs pango extents/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PangoExtents)
    ->Arg(0)
    ->Name("T3b2:LayoutText paragraph without bold vs pango extents/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(EdgeOfBlock)
    ->Name("T3c:DrawEdgeAA e=2 of the paragraph vs cv::boxFilter+clamp/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenCVBoxEdge)
    ->Name("T3c:DrawEdgeAA e=2 of the paragraph vs cv::boxFilter+clamp/peer")
    ->Unit(benchmark::kMicrosecond);
