// Fonts as scripts name them: every font opened by name goes through LoadFont, which maps the
// built-in font names, opens each (name, size, engine, cache flag) once and keeps it in the
// font cache until exit, and falls back from the built-in engine to the native one. Font
// objects (OpenFont) name cached fonts by id; the cache owns the fonts.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/fonts/font.h"
#include "runtime/objects.h"

enum : uint32_t { QV_OBJ_FONT = 43 };

struct qvFontObject {
    qvObjectHeader header;
    qvFont* font;  // the cache's
};

struct qvFontCacheNode {
    qvFontCacheNode* next;
    const char* name;  // as opened, after the built-in names were mapped
    int32_t size;
    int32_t engine;  // after the fallback
    int32_t cache;
    qvFont* font;
};

// The font of name at size: the cached one (its scale set back to 1.0 x 1.0), else opened and
// cached. Linked set: name is a font linked into the applet. 0, or the opening's error,
// ERR_FONTPATH for a linked font named with a path on the native engine, ERR_MEM. A linked
// font is named by its own name, without the linked-font mark and a ".font" ending. Messages
// name the font shown (none: name), the name the script gave.
int LoadFont(const char* name, int32_t size, int engine, int cache, int linked, qvFont** font,
             const char* shown = nullptr);
// Reads name (resolved against the applet's linked fonts), size and the optional option table
// ("engine", default 0; "cache", default 1) from argument idx on, and loads the font. With
// progress, "Opening font NAME" starts a progress line that OpenFont ends.
int OpenFontWithOptions(qvVmState* L, int idx, bool progress, qvFont** font);
// 0 with the object, else ERR_FINDARRAY for a handle or ERR_FINDFONT2 with the number.
int FindFont(qvObjectId id, qvFontObject** object);
// Once the first display is open: the colour fonts that font objects name get their glyph
// bitmaps. 0 or the first error.
int RefreshFontObjects();
// At exit, when the vector paths go: release is called for every cached font, to give back
// the outline handle that the vector back end made for it.
void ReleaseFontOutlines(void (*release)(qvFont* font));

// The font-object list, registered with the object registry.
qvObjectHeader** FontObjectList();
// Shutdown: every font object, then every cached font (closed through the font front end).
void FreeFontObjects(qvVmState* L);
void FreeFontCache();
// The cache's nodes in opening order.
const qvFontCacheNode* FontCache();
