// The text output commands as a script calls them, on a headless 1920 x 1080 display without
// layers: T4a TextOut of the 64-character Vera Sans line at 16 pixels, anti-aliased, 1000
// times (cairo_show_text of the same line); T4b a screen of 25 lines of 80 characters of the
// built-in font through NPrint (pixman compositing the same 1-bit glyphs); T4c
// CreateTextObject of a 3-line tagged text with an edge of 2, anti-aliased (pango rendering
// the same text as markup, without the edge).
#include <pango/pangocairo.h>

#include <string>

#include "bench/objects/font_bench_support.h"
#include "bench/scene/display_scripts.h"
#include "libs/string/string_library.h"
#include "objects/fonts/truetype.h"
#include "objects/text/text_library.h"

namespace {

using namespace qv::bench;

const std::string kTagged =
    "[b]Text objects[/b] keep their picture,\n[color=$FF0000]coloured[/color] and edged,\n"
    "ready to show again.";
const std::string kMarkup =
    "<b>Text objects</b> keep their picture,\n<span foreground=\"#FF0000\">coloured</span> and "
    "edged,\nready to show again.";

// Vera Sans at a pixel size of 16 as the current font.
int UseVera16(qvVmState* L) {
    for (int size = 16; size < 32; ++size) {
        VmPushString(L, "setfont");
        VmGetTable(L, VM_GLOBALSINDEX);
        VmPushString(L, ":::default_sans");
        VmPushNumber(L, size);
        VmCall(L, 2, 0);
        const auto* engine = static_cast<const qvTrueTypeFont*>(GetDefaultFont()->engineData);
        if (engine->pixelSize == 16) return 0;
    }
    return 0;
}

int SetupText(qvVmState* L) {
    for (auto registerLibrary : {RegisterStringLibrary, RegisterTextLibrary}) {
        if (int code = registerLibrary(L)) RaiseError(L, code);
    }
    DisplayScripts::CreateDisplay(L, 1, {{"width", kWidth}, {"height", kHeight}, {"color", 0}});
    return 0;
}

// The display with the text library; its text objects and fonts go with it.
class TextScripts : public DisplayScripts {
public:
    TextScripts() : DisplayScripts(SetupText) {}
    ~TextScripts() { FreeAllTextObjects(L()); }
};

void Call(qvVmState* L, const char* name, std::initializer_list<const char*> strings,
          std::initializer_list<double> numbers) {
    VmPushString(L, name);
    VmGetTable(L, VM_GLOBALSINDEX);
    for (double n : numbers) VmPushNumber(L, n);
    for (const char* s : strings) VmPushString(L, s);
    VmCall(L, int(strings.size() + numbers.size()), 0);
}

int TextOutLines(qvVmState* L) {
    for (int i = 0; i < kLines; ++i) Call(L, "textout", {kLine.c_str()}, {8, double(LineY(i))});
    return 0;
}

void TextOutLine(benchmark::State& state) {
    TextScripts scripts;
    qvVmState* L = scripts.L();
    if (!scripts.ok() || VmCPCall(L, UseVera16, nullptr) != 0) {
        state.SkipWithError("no display");
        return;
    }
    DisplayScripts::Call(L, "setfontstyle", {16});
    DisplayScripts::Call(L, "setfontcolor", {kColour});
    for (auto _ : state) {
        if (VmCPCall(L, TextOutLines, nullptr) != 0) state.SkipWithError("TextOut failed");
    }
}

// The screen's lines with their brackets as parentheses: Print reads tags.
std::vector<std::string> PrintLines() {
    std::vector<std::string> lines = ScreenLines();
    for (std::string& line : lines) {
        for (char& c : line) c = c == '[' ? '(' : c == ']' ? ')' : c;
    }
    return lines;
}

int PrintScreen(qvVmState* L) {
    static const std::vector<std::string> lines = PrintLines();
    DisplayScripts::Call(L, "locate", {16, 16});
    for (const std::string& line : lines) Call(L, "nprint", {line.c_str()}, {});
    return 0;
}

void NPrintScreen(benchmark::State& state) {
    TextScripts scripts;
    qvVmState* L = scripts.L();
    if (!scripts.ok()) {
        state.SkipWithError("no display");
        return;
    }
    DisplayScripts::Call(L, "setfontcolor", {kColour});
    DisplayScripts::Call(L, "setmargins", {16, kWidth - 1});
    for (auto _ : state) {
        if (VmCPCall(L, PrintScreen, nullptr) != 0) state.SkipWithError("NPrint failed");
    }
}

int MakeTextObject(qvVmState* L) {
    Call(L, "createtextobject", {kTagged.c_str()}, {1});
    return 0;
}

void CreateTaggedObject(benchmark::State& state) {
    TextScripts scripts;
    qvVmState* L = scripts.L();
    if (!scripts.ok() || VmCPCall(L, UseVera16, nullptr) != 0) {
        state.SkipWithError("no display");
        return;
    }
    DisplayScripts::Call(L, "setfontstyle", {16});
    DisplayScripts::Call(L, "setfontstyle", {64, 0x0093DD, 2});
    DisplayScripts::Call(L, "setfontcolor", {kColour});
    for (auto _ : state) {
        if (VmCPCall(L, MakeTextObject, nullptr) != 0) state.SkipWithError("failed");
    }
}

void PangoTaggedText(benchmark::State& state) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 80);
    cairo_t* cr = cairo_create(surface);
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string("Bitstream Vera Sans");
    pango_font_description_set_absolute_size(font, 16 * PANGO_SCALE);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    cairo_set_source_rgb(cr, (kColour >> 16) / 255.0, (kColour >> 8 & 255) / 255.0,
                         (kColour & 255) / 255.0);
    for (auto _ : state) {
        cairo_save(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(cr);
        cairo_restore(cr);
        pango_layout_set_markup(layout, kMarkup.c_str(), int(kMarkup.size()));
        pango_cairo_show_layout(cr, layout);
        cairo_surface_flush(surface);
        benchmark::DoNotOptimize(cairo_image_surface_get_data(surface));
    }
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

}  // namespace

BENCHMARK(TextOutLine)
    ->Name("T4a:TextOut 16px AA line x1000 vs cairo_show_text/ours")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(CairoLines)
    ->Name("T4a:TextOut 16px AA line x1000 vs cairo_show_text/peer")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(NPrintScreen)
    ->Name("T4b:NPrint topaz 25x80 vs pixman a1 OVER/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PixmanScreen)
    ->Name("T4b:NPrint topaz 25x80 vs pixman a1 OVER/peer")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(CreateTaggedObject)
    ->Name("T4c:CreateTextObject 3 tagged lines edge 2 vs pango markup/ours")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(PangoTaggedText)
    ->Name("T4c:CreateTextObject 3 tagged lines edge 2 vs pango markup/peer")
    ->Unit(benchmark::kMicrosecond);
