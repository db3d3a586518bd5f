// Outline text: vector-font handles over the run-time's FreeType faces, and the glyph
// outlines of a text as cairo path segments. Glyphs are loaded unscaled (FT_LOAD_NO_SCALE)
// through the face's own transform, which the run-time's size changes set, and scaled by the
// face's pixels per em over its units per em, so that path text matches the run-time's raster
// text. The face's size and transform are never changed: the run-time's glyph cache relies on
// them.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string_view>

#include "runtime/plugin_api/qv_plugin_api.h"

namespace qv::vectorgraphics {

// The FreeType functions of the run-time's service table.
void UseFreeType(const qvPluginFreeType* freetype);

// A handle (1, 2, ...) for a scalable face, or 0.
uint32_t CreateVectorFont(FT_Face face);
void FreeVectorFont(uint32_t handle);
void FreeAllVectorFonts();

// Appends the outlines of the UTF-8 text (bytes as ISO 8859-1 when it is not valid UTF-8)
// with the baseline's start at the current point (the origin when there is none), then moves
// to where a next glyph would go. size is used when the face has no pixel size set. false for
// an unknown handle.
bool AddTextOutlines(cairo_t* cr, uint32_t handle, int32_t size, std::string_view text);

}  // namespace qv::vectorgraphics
