// What GetAttribute reads of the text library: fonts (font objects, the current font of a
// display, the font of a text layer or text object) and the text of text objects and text
// layers.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/fonts/font.h"
#include "scene/layers/layer.h"

// The name a font was opened with, else its own name: what the "font" key of a text layer's
// style gives back to open it again.
const char* FontNameOf(const qvFont* font);

namespace qv::text {

// Whether the attribute is one of a font's (ATTRFONTASCENDER to ATTRFONTAA).
bool IsFontAttribute(int32_t attribute);
// Pushes a font attribute of font (none: the default font); 1.
int PushFontAttribute(qvVmState* L, const qvFont* font, int32_t attribute);
// Pushes ATTRTEXT, the layout's text, or a font attribute of the layout's font; 1.
int PushLayoutAttribute(qvVmState* L, const qvTextParams& layout, int32_t attribute);
// The layout a text layer shows (TEXTOUT, PRINT, or its text object's for TEXTOBJECT); none
// for other layers.
const qvTextParams* TextLayerLayout(qvVmState* L, const qvLayer* layer);

// Registers the GetAttribute providers of font objects and text objects.
void RegisterTextAttributes();

}  // namespace qv::text
