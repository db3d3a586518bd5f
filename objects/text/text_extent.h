// The text style that every text operation starts from, and the measuring of a string in a
// style: the font front end's extent plus what synthetic bold and italic, the edge and the
// shadow add to it.
#pragma once

#include <cstdint>

#include "objects/fonts/font.h"

// Form style flags, shared by drawing and text.
enum : uint32_t {
    QV_STYLE_NORMAL = 1,
    QV_STYLE_BOLD = 2,
    QV_STYLE_ITALIC = 4,
    QV_STYLE_UNDERLINED = 8,
    QV_STYLE_ANTIALIAS = 16,
    QV_STYLE_SHADOW = 32,
    QV_STYLE_EDGE = 64,
};

// Compared as a whole to tell where a run of text ends.
struct qvTextStyle {
    uint32_t styleFlags;  // QV_STYLE_*
    uint32_t colour;      // 0xAARRGGBB, AA a transparency (0 opaque)
    uint32_t shadowColour;
    uint32_t edgeColour;
    int32_t shadowSize;       // 1..64
    int32_t shadowDirection;  // 0 north, clockwise to 7 north-west
    int32_t edgeSize;
    qvFont* font;

    bool operator==(const qvTextStyle&) const = default;
};

// The extent of a string in a style. The font front end's record (qvTextExtent, its first six
// fields in the same order) already has that name, so this one is named for what it adds.
struct qvStyledExtent {
    int32_t advance;  // pen advance
    int32_t height;   // the font's line height
    int32_t minX;     // ink bounds relative to the pen, inclusive
    int32_t minY;
    int32_t maxX;
    int32_t maxY;
    int32_t inkWidth;  // max(advance, max x + 1)
    // What edge and shadow add to min y (<= 0), max y (>= 0), min x (<= 0), max x (>= 0).
    int32_t minYExtension;
    int32_t maxYExtension;
    int32_t minXExtension;
    int32_t maxXExtension;
};

// Measures length bytes (encoding 0 ISO-8859-1, 1 UTF-8) in the style's font. Bold and
// italic that the font's engine does not do itself widen the ink bounds; the edge widens
// them on all sides, the shadow on the sides its direction points to. 0 or the front end's
// error.
int TextExtentRaw(const char* bytes, int32_t length, int encoding, qvStyledExtent* extent,
                  const qvTextStyle& style);
// TextExtentRaw of bytes that start with the ones the prefix holds, measured on from there
// (ExtendFontTextExtent): the synthetic widths, edge and shadow apply to the whole as before.
int ExtendTextExtentRaw(const char* bytes, int32_t length, int encoding, qvStyledExtent* extent,
                        const qvTextStyle& style, qvMeasuredPrefix* prefix);
