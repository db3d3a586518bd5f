#include "objects/vector/vector_neighbours.h"

#include "engine/vm.h"
#include "objects/draw/draw_state.h"
#include "objects/fonts/truetype.h"
#include "objects/text/font_cache.h"
#include "objects/text/text_library.h"
#include "objects/vector/vector_library.h"

namespace qv {
namespace {

VectorNeighbours defaults;
VectorNeighbours* installed = &defaults;

}  // namespace

PathDrawSettings VectorNeighbours::DrawSettings() {
    const qvDrawState* state = GetDrawState();
    return {state->fillStyle, state->formStyle, state->lineWidth};
}

int32_t VectorNeighbours::DefaultEncoding() {
    return GetDefaultEncoding();
}

int VectorNeighbours::CurrentTextFont(PathTextFont* out) {
    qvFont* font = GetDefaultFont();
    if (font == nullptr || font->engine != QV_FONTENGINE_TRUETYPE) return ERR_VFONTTYPE;
    FT_Face face = GetFontFace(font);
    if (face == nullptr) return ERR_VFONTTYPE;
    *out = {face, font->size, &font->vectorFont};
    return 0;
}

void VectorNeighbours::ReleaseFontOutlines() {
    ::ReleaseFontOutlines([](qvFont* font) { ReleaseFontOutline(&font->vectorFont); });
}

VectorNeighbours& PathNeighbours() {
    return *installed;
}

void SetPathNeighbours(VectorNeighbours* neighbours) {
    installed = neighbours != nullptr ? neighbours : &defaults;
}

}  // namespace qv
