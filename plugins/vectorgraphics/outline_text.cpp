#include "plugins/vectorgraphics/outline_text.h"

#include <new>
#include <vector>

namespace qv::vectorgraphics {
namespace {

const qvPluginFreeType* ft = nullptr;
std::vector<FT_Face> fonts;  // handle - 1 -> face; nullptr for a freed handle

FT_Face FaceOf(uint32_t handle) {
    return handle >= 1 && handle <= fonts.size() ? fonts[handle - 1] : nullptr;
}

// --- UTF-8 as the run-time decodes it: leads of 2 to 5 bytes ---

int SequenceLength(uint8_t lead) {
    if (lead < 0x80) return 1;
    if (lead < 0xC0) return 0;
    if (lead < 0xE0) return 2;
    if (lead < 0xF0) return 3;
    if (lead < 0xF8) return 4;
    if (lead < 0xFC) return 5;
    return 0;
}

// Malformed: a stray continuation byte, a lead of six bytes or more, a continuation byte
// below 128, a sequence cut by the end.
bool ValidUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const int n = SequenceLength(static_cast<uint8_t>(text[at]));
        if (n == 0 || static_cast<size_t>(n) > text.size() - at) return false;
        for (int i = 1; i < n; ++i) {
            if (static_cast<uint8_t>(text[at + i]) < 0x80) return false;
        }
        at += n;
    }
    return true;
}

uint32_t NextCodePoint(std::string_view text, bool utf8, size_t* at) {
    const auto lead = static_cast<uint8_t>(text[(*at)++]);
    if (!utf8 || lead < 0x80) return lead;
    const int n = SequenceLength(lead);
    constexpr uint8_t kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07, 0x03};
    uint32_t code = lead & kLeadMask[n];
    for (int i = 1; i < n; ++i) code = (code << 6) | (static_cast<uint8_t>(text[(*at)++]) & 0x3F);
    return code;
}

// --- Glyph outlines into cairo ---

struct GlyphPen {
    cairo_t* cr;
    double x0, y0;  // the baseline's start
    double scale;   // device units per font unit
    double penX;    // font units
    bool open;      // a contour is open
};

void Point(const GlyphPen& pen, const FT_Vector* v, double* x, double* y) {
    *x = pen.x0 + (pen.penX + static_cast<double>(v->x)) * pen.scale;
    *y = pen.y0 - static_cast<double>(v->y) * pen.scale;
}

int MoveTo(const FT_Vector* to, void* user) {
    auto* pen = static_cast<GlyphPen*>(user);
    if (pen->open) cairo_close_path(pen->cr);
    double x, y;
    Point(*pen, to, &x, &y);
    cairo_move_to(pen->cr, x, y);
    pen->open = true;
    return 0;
}

int LineTo(const FT_Vector* to, void* user) {
    auto* pen = static_cast<GlyphPen*>(user);
    double x, y;
    Point(*pen, to, &x, &y);
    cairo_line_to(pen->cr, x, y);
    return 0;
}

// A quadratic segment as the cubic that draws it.
int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
    auto* pen = static_cast<GlyphPen*>(user);
    double x0, y0, cx, cy, x, y;
    cairo_get_current_point(pen->cr, &x0, &y0);
    Point(*pen, control, &cx, &cy);
    Point(*pen, to, &x, &y);
    cairo_curve_to(pen->cr, x0 + 2.0 / 3.0 * (cx - x0), y0 + 2.0 / 3.0 * (cy - y0),
                   x + 2.0 / 3.0 * (cx - x), y + 2.0 / 3.0 * (cy - y), x, y);
    return 0;
}

int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
    auto* pen = static_cast<GlyphPen*>(user);
    double x1, y1, x2, y2, x, y;
    Point(*pen, c1, &x1, &y1);
    Point(*pen, c2, &x2, &y2);
    Point(*pen, to, &x, &y);
    cairo_curve_to(pen->cr, x1, y1, x2, y2, x, y);
    return 0;
}

constexpr FT_Outline_Funcs kOutlineFuncs = {MoveTo, LineTo, ConicTo, CubicTo, 0, 0};

double ScaleOf(FT_Face face, int32_t size) {
    const double ppem = face->size != nullptr && face->size->metrics.y_ppem > 0
                            ? face->size->metrics.y_ppem
                            : static_cast<double>(size);
    return ppem / face->units_per_EM;
}

// The outline of one glyph at the pen, which then advances (kerning with the glyph before
// it included).
void AddGlyph(FT_Face face, FT_UInt index, FT_UInt previous, GlyphPen* pen) {
    if (ft->FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE) != 0) return;
    const FT_GlyphSlot slot = face->glyph;
    if (previous != 0 && FT_HAS_KERNING(face)) {
        FT_Vector kerning{};
        if (ft->FT_Get_Kerning(face, previous, index, FT_KERNING_UNSCALED, &kerning) == 0) {
            // The slot's advance went through the face's transform; the kerning goes the same
            // way.
            const double stretch = slot->metrics.horiAdvance != 0
                                       ? static_cast<double>(slot->advance.x) /
                                             static_cast<double>(slot->metrics.horiAdvance)
                                       : 1.0;
            pen->penX += static_cast<double>(kerning.x) * stretch;
        }
    }
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        ft->FT_Outline_Decompose(&slot->outline, &kOutlineFuncs, pen);
        if (pen->open) cairo_close_path(pen->cr);
        pen->open = false;
    }
    pen->penX += static_cast<double>(slot->advance.x);
}

}  // namespace

void UseFreeType(const qvPluginFreeType* freetype) {
    ft = freetype;
}

uint32_t CreateVectorFont(FT_Face face) {
    if (ft == nullptr || face == nullptr || !FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
        return 0;
    }
    for (size_t i = 0; i < fonts.size(); ++i) {
        if (fonts[i] == nullptr) {
            fonts[i] = face;
            return static_cast<uint32_t>(i + 1);
        }
    }
    try {
        fonts.push_back(face);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return static_cast<uint32_t>(fonts.size());
}

void FreeVectorFont(uint32_t handle) {
    if (FaceOf(handle) != nullptr) fonts[handle - 1] = nullptr;
}

void FreeAllVectorFonts() {
    fonts.clear();
    fonts.shrink_to_fit();
}

bool AddTextOutlines(cairo_t* cr, uint32_t handle, int32_t size, std::string_view text) {
    const FT_Face face = FaceOf(handle);
    if (face == nullptr) return false;
    GlyphPen pen{cr, 0, 0, ScaleOf(face, size), 0, false};
    if (cairo_has_current_point(cr)) cairo_get_current_point(cr, &pen.x0, &pen.y0);
    const bool utf8 = ValidUtf8(text);
    FT_UInt previous = 0;
    for (size_t at = 0; at < text.size();) {
        const FT_UInt index = ft->FT_Get_Char_Index(face, NextCodePoint(text, utf8, &at));
        AddGlyph(face, index, previous, &pen);
        previous = index;
    }
    cairo_move_to(cr, pen.x0 + pen.penX * pen.scale, pen.y0);
    return true;
}

}  // namespace qv::vectorgraphics
