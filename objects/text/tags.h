// Inline formatting tags of laid-out text: "[b]", "[/i]", "[color=#RED]", "[shadow=$80000000,
// 3, 4]", "[edge=1,2]" and the like. The text comes from scripts, so every tag is read within
// the text's own bytes and a bad one is refused with its error code.
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "objects/text/text_extent.h"

// The colours that "[color=...]" pushed, for "[/color]" to restore.
struct qvColourStack {
    uint32_t* entries;
    int32_t capacity;
    int32_t count;
};

// Largest sizes a tag may give; the smallest is 1.
inline constexpr int32_t kMaxTagShadowSize = 64, kMaxTagEdgeSize = 8;

// The number of "[color" openings in the text: a "[" followed by any run of spaces, tabs,
// carriage returns and line feeds and then "color" in any case. Every push of a layout comes
// from one of them, so a stack of this many entries (plus one) cannot overflow; closings and
// escaped brackets counted on the way only make it larger.
int32_t CountColourTags(const char* text);

// Reads the tag whose "[" is at text (not "[["): blanks are space and tab, names compare
// without case, "color", "shadow" and "edge" match as prefixes of what follows. Values are
// "#NAME" script constants (none without an engine) or number literals, kept as 32-bit
// patterns. On success *used is
// the tag's length up to and including its "]" and the style (and the colour stack) are
// changed; on an error nothing is changed. Returns 0, ERR_SQBRACKETCLOSE, ERR_UNKTEXTFMT,
// ERR_TEXTARG, ERR_TEXTSYNTAX (a "[/color]" with nothing to restore), ERR_WRONGUSAGE (a size
// out of range), ERR_INTERNAL (the colour stack is full), ERR_VALUEEXPECTED, or the error of
// the constant lookup or the literal.
int ParseTextTag(qvVmState* L, const char* text, qvTextStyle* style, qvColourStack* colours,
                 int32_t* used);
