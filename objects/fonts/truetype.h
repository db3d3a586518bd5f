// The built-in TrueType engine (engine 4): faces opened through FreeType from the program's
// data (the three Bitstream Vera faces) or from files through the file layer, a glyph cache
// per font, and measuring, drawing, kerning and resizing of text.
#pragma once

#include <cstdint>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H

#include "objects/fonts/font.h"
#include "platform/linux/files.h"

// A cached glyph: a FreeType bitmap glyph, its untransformed hinted advance (26.6) and the
// pen step it gives without kerning at scale 1.
struct qvGlyphCacheEntry {
    FT_Glyph glyph;
    FT_Pos advance;
    int64_t step;
};

inline constexpr int kGlyphCacheSize = 256;

// The engine data of engine 4, and of the platform's outline fonts (engine 3), which this
// code also measures and draws (zero-filled).
struct qvTrueTypeFont {
    FT_StreamRec stream;  // handed to FreeType for a font from a file
    qvFile* file;         // none for the built-in faces
    int64_t base;         // where the font starts in the file
    int64_t length;
    FT_Face face;
    uint32_t horizontalResolution;  // 72
    uint32_t verticalResolution;    // 72
    int32_t pixelSize;              // set on the face
    qvPlaneBitMap monoView;         // re-pointed at each glyph before it is drawn
    qvPlaneBitMap greyView;
    char temporaryName[1024];  // an extracted font file to delete at closing
    uint32_t temporary;
    uint32_t cacheEnabled;
    qvGlyphCacheEntry antiAliasedCache[kGlyphCacheSize];  // keyed by code
    qvGlyphCacheEntry monoCache[kGlyphCacheSize];
    // Glyphs of the synthetic styles by style (bold, italic, both) and mode (anti-aliased,
    // mono), each 256 entries allocated when first used: apart from the plain caches, so that
    // no style is ever drawn with another's glyph. Released with them.
    qvGlyphCacheEntry* syntheticCaches[3][2];
    // Answers of FreeType kept for the hot paths: the glyph index of each code below 256, and
    // per left code (allocated when first used) the unscaled kerning with each right code,
    // kKerningUnknown until asked.
    FT_UInt charIndex[kGlyphCacheSize];
    int16_t* kerningRows[kGlyphCacheSize];
};

inline constexpr int16_t kKerningUnknown = INT16_MIN;

// Opens the face named (a built-in name, a ".ttf"/".otf" file, a ":::chunk" name, else a
// font found by FindTrueTypeFont) at that size into the record: engine 4, height = size,
// the baseline and the display name. 1 on success; 0 (nothing left open) when the name
// cannot be opened, the face has no printable glyph, the size is below 1 or memory is short.
int OpenTrueTypeFont(const char* name, int32_t size, int cache, qvFont* font);
// Closes face, file and temporary file, releases the caches and frees the engine data.
void CloseTrueTypeFont(qvFont* font);
// The stream's read function: seeks to base + offset; with a buffer reads count bytes and
// returns the number read, without one (count 0) returns 0.
unsigned long ReadFontStream(FT_Stream stream, unsigned long offset, unsigned char* buffer,
                             unsigned long count);
// The FreeType face of a TrueType font, else none.
FT_Face GetFontFace(qvFont* font);

int TrueTypeTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                       qvTextExtent* extent);
// TrueTypeTextExtent going on from the prefix (ExtendFontTextExtent).
int ExtendTrueTypeTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style,
                             int utf8, qvMeasuredPrefix* prefix, qvTextExtent* extent);
int RenderTrueTypeText(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y,
                       const char* text, int32_t length, uint32_t style, int utf8,
                       const qvTextClip& clip, int64_t pen);
// Kerning of a text of exactly two characters, in pixels; else 0.
int32_t TrueTypeKerning(qvFont* font, const char* pair, int32_t length, int utf8);
// The face's transform for the font's scales, and the baseline again.
void ResizeTrueTypeFont(qvFont* font);
void FreeTrueTypeGlyphCache(qvFont* font);
