// Bitmap fonts drawn by the run-time itself: the built-in 8-pixel "topaz" (the default font)
// and disk fonts (a ".font" contents file and its size files, one-bit or colour), also linked
// into the applet under ":::chunk" names.
#pragma once

#include <cstdint>

#include "objects/fonts/font.h"

// The engine data of engines 1 and 2: the disk-font format's text font.
struct qvBitmapFont {
    int32_t height;  // rows
    int32_t style;   // 0x40 colour font
    int32_t flags;   // 0x20 proportional
    int32_t nominalWidth;
    int32_t baseline;  // row of the baseline from the top
    int32_t boldSmear;
    int32_t accessors;
    int32_t lowest;      // first code with a glyph
    int32_t highest;     // last code with a glyph
    uint8_t* glyphData;  // height rows of modulo bytes, MSB first (none for colour fonts)
    int32_t modulo;
    uint32_t* locations;          // per glyph: bit offset << 16 | width
    int16_t* spacing;             // per glyph advance, or none
    int16_t* kerning;             // per glyph offset, or none
    int32_t glyphCount;           // highest - lowest + 2; the last glyph serves every other code
    qvPlaneBitMap templatePlane;  // a view of the glyph data (engine 1)
};

enum : int32_t {
    QV_BITMAPFONT_COLOUR = 0x40,        // style
    QV_BITMAPFONT_PROPORTIONAL = 0x20,  // flags
};

// Stands for colour 0 (transparent) in a colour font's pixels; no colour of a table can
// equal it, since E6 is no doubled nibble.
inline constexpr uint32_t kColourFontKey = 0xEEE6D2;

// The built-in font (engine 1, glyphs in the program's data); ERR_MEM when memory is short.
int OpenTopazFont(qvFont** font);
void FreeTopazFont(qvFont* font);

// Reads the font of that pixel size into the record (engine 1 or 2, height, baseline, size,
// name: givenName, else the name asked for, else for a ":::chunk" name the linked file's
// name). 1 on success; 0 on a missing file, a wrong id, a missing size, a short read,
// malformed data (lowest above highest, tables or glyphs outside the file or the strip) or
// short memory, with nothing of the font left in the record.
int LoadBitmapFont(const char* name, int32_t size, qvFont* font, const char* givenName);
// Frees the engine data and what it owns (colour glyphs, mask, pending pixels).
void FreeBitmapFont(qvFont* font);

// One byte per character. 0.
int BitmapFontTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                         qvTextExtent* extent);
// BitmapFontTextExtent going on from the prefix (ExtendFontTextExtent).
int ExtendBitmapFontTextExtent(qvFont* font, const char* text, int32_t length,
                               qvMeasuredPrefix* prefix, qvTextExtent* extent);
// Glyph tops at y, the pen from x. 0.
int RenderBitmapFontText(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                         const char* text, int32_t length, uint32_t style, int utf8,
                         const qvTextClip& clip, int64_t pen);

// A colour font's pending pixel array becomes its glyph bitmap and mask; 0 (also when nothing
// is pending) or ERR_MEM (the array is kept then).
int ConvertColourFontPixels(qvFont* font);

namespace qv {

// The built-in font's glyph strip: 1536 x 8 pixels, 192 bytes per row.
inline constexpr int kTopazModulo = 192;
extern const uint8_t kTopazGlyphs[kTopazModulo * 8];

}  // namespace qv
