// The font front end: every opened font is one qvFont, and the text engine measures and draws
// only through the operations below, which dispatch on the font's engine (own bitmap fonts,
// the platform's font engine, the built-in TrueType engine over FreeType).
//
// Destinations: with a pen colour, text is drawn into a display bitmap; with the pen
// kFontPenPlane it goes into a plane instead: a 1-bit mask for bitmap fonts and monochrome
// TrueType text, an 8-bit coverage plane for anti-aliased TrueType text, and for colour
// bitmap fonts the display bitmap plus its 1-bit mask. Plane writes are cut to the plane's
// width and height.
#pragma once

#include <cstdint>

#include "gfx/pixel_format.h"
#include "platform/linux/bitmap.h"

enum : int32_t {
    QV_FONTENGINE_BITMAP = 1,    // own one-bit bitmap font
    QV_FONTENGINE_COLOUR = 2,    // own colour bitmap font
    QV_FONTENGINE_PLATFORM = 3,  // the platform's outline font engine
    QV_FONTENGINE_TRUETYPE = 4,  // built-in TrueType engine
};

// Style flags the engines read.
enum : uint32_t {
    QV_FONTSTYLE_BOLD = 2,
    QV_FONTSTYLE_ITALIC = 4,
    QV_FONTSTYLE_ANTIALIAS = 16,
};

// The pen that sends drawing into a plane instead of drawing in a colour.
inline constexpr int64_t kFontPenPlane = -1;

// Allocated zero-filled (NewFontRecord); freed by CloseFontObject.
struct qvFont {
    char name[1024];           // display name
    char requestedName[1024];  // written by the font cache
    int32_t size;              // size asked for, pixels
    int32_t height;            // after scaling
    int32_t baseline;          // after scaling
    int32_t nominalHeight;     // at scale 1
    int32_t nominalBaseline;
    int32_t engine;  // QV_FONTENGINE_*
    uint32_t scalable;
    uint32_t antiAlias;
    uint32_t platformRendered;  // engines 1 and 2 opened and drawn by the platform
    double scaleX;
    double scaleY;
    void* engineData;  // qvBitmapFont (1, 2), qvTrueTypeFont (4), the platform's record (3)
    qvDisplayBitMap* colourGlyphs;  // engine 2: every glyph in colour
    qvPlaneBitMap* colourMask;      // engine 2: their 1-bit mask
    qvARGB* pendingPixels;          // engine 2 before a display is open
    int32_t pendingWidth;
    int32_t pendingHeight;
    uint32_t vectorFont;  // the vector back end's handle, 0 until first used
};

struct qvTextExtent {
    int32_t width;
    int32_t height;
    int32_t minX;
    int32_t minY;
    int32_t maxX;
    int32_t maxY;
};

// Where a walk over a text stands: the pen, and the last glyph drawn when its pen step still
// waits for the kerning with the character after it (outline fonts).
struct qvTextWalk {
    int64_t pen;    // before the waiting glyph, else after the last character
    bool waiting;   // a glyph's step waits
    uint32_t code;  // its character and glyph index
    uint32_t index;
    int64_t advance;  // untransformed, 26.6
    int64_t step;     // without kerning, as the glyph cache holds it
};

// What measuring needs of an outline glyph: its bitmap's place and size, whether it has ink,
// its untransformed advance (26.6) and its step without kerning (or none).
struct qvGlyphBox {
    int32_t left, top;
    uint32_t width, rows;
    bool inked;
    int64_t advance;
    int64_t step;
    uint8_t state;  // kGlyphBoxUnknown, kGlyphBoxLoaded or kGlyphBoxMissing
};
enum : uint8_t { kGlyphBoxUnknown, kGlyphBoxLoaded, kGlyphBoxMissing };

namespace qv::fonts {

// Boxes of the glyphs that a font's glyph cache does not hold (synthetic bold and italic, and
// every glyph of a font without a cache), kept by whoever measures much text of one font in
// one pass, such as a layout, whose wrap rule meets the same characters again and again. It
// is no glyph cache: it holds no pixels and goes with its owner.
class GlyphMemo {
public:
    static constexpr int kVariants = 8;  // bold, italic, anti-aliased

    GlyphMemo() = default;
    ~GlyphMemo() { Forget(); }
    GlyphMemo(const GlyphMemo&) = delete;
    GlyphMemo& operator=(const GlyphMemo&) = delete;

    // The 256 boxes (by code) of a variant of the font, zero-filled when first asked for;
    // none when memory is short. A font or scales other than the last forget everything.
    qvGlyphBox* Boxes(const qvFont* font, int variant);

private:
    void Forget();

    const qvFont* font_ = nullptr;
    double scaleX_ = 0, scaleY_ = 0;
    qvGlyphBox* boxes_[kVariants] = {};
};

}  // namespace qv::fonts

// A text measured as it grows (ExtendFontTextExtent): what the last call measured, and where
// its walk stopped with the ink bounds found so far. Zero-filled it holds nothing.
struct qvMeasuredPrefix {
    // What was measured: a call goes on from here only for the same text start, font, scales,
    // style and encoding, so a prefix never carries over to other bytes.
    const char* text;
    int32_t bytes;
    const qvFont* font;
    double scaleX, scaleY;
    uint32_t style;
    int utf8;
    bool decoded;  // the bytes decoded as UTF-8 (else they were taken one by one)
    qvTextWalk walk;
    int64_t minX, minY, maxX, maxY;
    // The caller's memo of glyph boxes for every text this prefix measures, or none.
    qv::fonts::GlyphMemo* memo;
};

// Clip rectangle of the colour drawing modes.
struct qvTextClip {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// Where RenderFontText draws: bitmap for pen colours (and for colour fonts into planes),
// plane for the plane modes (the 1-bit mask beside the bitmap of a colour font).
struct qvTextTarget {
    qvDisplayBitMap* bitmap;
    qvPlaneBitMap* plane;
};

// A zero-filled record with both scales 1.0; none when memory is short.
qvFont* NewFontRecord();
void FreeFontRecord(qvFont* font);

// Dispatch. A font of an engine outside 1 to 4 gives 0 and draws nothing.
int FontTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                   qvTextExtent* extent);
// FontTextExtent of length bytes whose first prefix->bytes bytes are the ones the prefix holds
// (same start, font, style and encoding): the engine goes on from where that measure stopped
// wherever the result is provably the same as measuring the whole (the kerning at the seam
// taken into account; text that does not decode as UTF-8 on both sides of it is measured
// whole), and the prefix then holds the whole text. The layout measures its pending bytes
// this way at every word end. The prefix's memo stays with it.
int ExtendFontTextExtent(qvFont* font, const char* text, int32_t length, uint32_t style, int utf8,
                         qvMeasuredPrefix* prefix, qvTextExtent* extent);
// font none: the default font.
int RenderFontText(qvFont* font, const qvTextTarget& target, int32_t x, int32_t y, const char* text,
                   int32_t length, uint32_t style, int utf8, const qvTextClip& clip, int64_t pen);
int32_t GetKerningPairByFont(qvFont* font, const char* pair, int32_t length, int utf8);
void SetFontSize(qvFont* font, double scaleX, double scaleY);
int FontStyleSupported(qvFont* font, uint32_t style);
void FreeFontGlyphCache(qvFont* font);
// Closes the engine's part and frees the record; never the default font.
void CloseFontObject(qvFont* font);

namespace qv::fonts::testing {
// Makes ExtendFontTextExtent measure every text whole with FontTextExtent, without prefix or
// memo, so that tests can compare what it carries over with measuring from scratch.
void MeasureTextsWhole(bool whole);
}  // namespace qv::fonts::testing

// The built-in "topaz" as the default font, then the platform's font library, then
// FreeType; the first error (the default font stays open on a later failure).
int OpenDefaultFont(qvFont** font);
qvFont* DefaultFont();
// Frees the default font, closes the platform's font library and FreeType, and frees the
// list of scanned fonts.
void CloseAllFonts();
