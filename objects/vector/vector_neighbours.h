// What the vector library reads of the libraries built beside it: the draw library's line
// width, fill style and form style, and the text library's current font and default
// encoding. The defaults read the draw state and the text library; tests install fakes.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>

namespace qv {

enum : int32_t { kFillNone = 0, kFillColour = 1, kFillGradient = 2, kFillTexture = 3 };
enum : uint32_t { kFormNormal = 1, kFormAntiAlias = 16, kFormShadow = 32, kFormEdge = 64 };
enum : int32_t { kEncodingIso8859_1 = 0, kEncodingUtf8 = 1 };

// The draw state's fields that paths use.
struct PathDrawSettings {
    int32_t fillStyle = kFillNone;
    uint32_t formStyle = kFormNormal;
    int32_t lineWidth = 1;
};

// The current text font as outline text needs it: its FreeType face, its size field and its
// vector-font handle slot (0 until first used).
struct PathTextFont {
    FT_Face face = nullptr;
    int32_t size = 0;
    uint32_t* vectorFontHandle = nullptr;
};

class VectorNeighbours {
public:
    virtual ~VectorNeighbours() = default;

    virtual PathDrawSettings DrawSettings();
    virtual int32_t DefaultEncoding();
    // 0 with the current text font, or ERR_VFONTTYPE when it is no TrueType font of the
    // built-in engine.
    virtual int CurrentTextFont(PathTextFont* font);
    // Calls ReleaseFontOutline for the handle of every cached font.
    virtual void ReleaseFontOutlines();
};

VectorNeighbours& PathNeighbours();
// Installs the neighbours (nullptr: the defaults again); the caller keeps them alive.
void SetPathNeighbours(VectorNeighbours* neighbours);

}  // namespace qv
