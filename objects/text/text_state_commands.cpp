// The text state commands: style, colour and encoding of the text defaults, the current
// display's cursor, margins and tab stops, and measuring.
#include <algorithm>
#include <cstring>

#include "engine/convert.h"
#include "gfx/geometry.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_display.h"
#include "objects/text/text_library.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"

namespace {

// Kerning exists only between two characters, so a pair longer than this is no pair.
constexpr size_t kMaxPairBytes = 255;

int32_t IntArg(qvVmState* L, int idx) {
    return qv::Trunc32(GetArgNumber(L, idx));
}

// The encoding argument at idx, or the default encoding when it is absent; false for one
// that is neither ISO-8859-1 nor UTF-8.
bool EncodingArg(qvVmState* L, int idx, int* encoding) {
    const bool given = VmGetTop(L) >= idx && VmType(L, idx) != VM_TNIL;
    const int32_t value = given ? IntArg(L, idx) : GetDefaultEncoding();
    *encoding = value;
    return value == QV_ENCODING_ISO8859_1 || value == QV_ENCODING_UTF8;
}

// The current display's cursor, or ERR_FINDDISPLAY without a display.
int CurrentCursor(qvTextCursor** cursor) {
    *cursor = qv::text::TextDisplay().CurrentTextCursor();
    if (*cursor != nullptr) return 0;
    SetErrorNumber(1);
    return ERR_FINDDISPLAY;
}

// The extent of text argument 1 in the current font and style; all 0 for an empty text.
int MeasureArg(qvVmState* L, qvStyledExtent* extent) {
    size_t length = 0;
    const char* text = GetArgString(L, 1, &length);
    int encoding = 0;
    if (!EncodingArg(L, 2, &encoding)) return ERR_WRONGUSAGE;
    *extent = {};
    if (length == 0) return 0;
    const auto bytes = int32_t(std::min<size_t>(length, INT32_MAX));
    return TextExtentRaw(text, bytes, encoding, extent, *GetTextDefaults());
}

}  // namespace

int SetFontColor(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    GetTextDefaults()->colour = qv::Bits32(GetArgNumber(L, 1));
    return 0;
}

int SetFontStyle(qvVmState* L) {
    CheckArgCount(L, 1, 4);
    const int count = VmGetTop(L);
    const uint32_t style = qv::Bits32(GetArgNumber(L, 1));
    qvTextStyle* defaults = GetTextDefaults();
    if ((style & QV_STYLE_NORMAL) != 0) {
        defaults->styleFlags = QV_STYLE_NORMAL;
        return 0;
    }
    if (style == QV_STYLE_SHADOW) {
        if (count >= 2) defaults->shadowColour = qv::Bits32(GetArgNumber(L, 2));
        if (count >= 3) defaults->shadowSize = IntArg(L, 3);
        if (count >= 4) defaults->shadowDirection = IntArg(L, 4);
    } else if (style == QV_STYLE_EDGE) {
        // An edge takes a colour and a size; a fourth value is ignored.
        if (count >= 2) defaults->edgeColour = qv::Bits32(GetArgNumber(L, 2));
        if (count >= 3) defaults->edgeSize = IntArg(L, 3);
    } else if (count > 1) {
        return ERR_TOOMANYARGS;
    }
    defaults->styleFlags |= style;
    ClampFontStyle(defaults);
    return 0;
}

int SetDefaultEncoding(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int encoding = 0;
    if (!EncodingArg(L, 1, &encoding)) return ERR_WRONGUSAGE;
    SetDefaultEncodingValue(encoding);
    return 0;
}

int Locate(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    using namespace qv::gfx;
    const int32_t x = IntArg(L, 1), y = IntArg(L, 2);
    if (x == CENTER || x == LEFT || x == RIGHT || y == CENTER || y == TOP || y == BOTTOM)
        return ERR_NOCOORDCST;
    qvTextCursor* cursor = nullptr;
    if (int error = CurrentCursor(&cursor)) return error;
    cursor->x = x >= cursor->leftMargin && x <= cursor->rightMargin ? x : cursor->leftMargin;
    cursor->y = y;
    return 0;
}

int SetMargins(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const int32_t left = IntArg(L, 1), right = IntArg(L, 2);
    if (left >= right) return ERR_WRONGUSAGE;
    qvTextCursor* cursor = nullptr;
    if (int error = CurrentCursor(&cursor)) return error;
    const int32_t clampedLeft = std::max(left, 0);
    const int64_t clampedRight =
        std::min<int64_t>(right, int64_t(qv::text::TextDisplay().OutputPictureWidth()) - 1);
    // Clamped to the picture, the margins may cross; text would then wrap at a negative width.
    if (clampedLeft > clampedRight) return ERR_WRONGUSAGE;
    cursor->leftMargin = clampedLeft;
    cursor->rightMargin = int32_t(clampedRight);
    cursor->x = clampedLeft;
    cursor->y = 0;
    return 0;
}

int AddTab(qvVmState* L) {
    CheckArgCount(L, 1, 0);
    qvTextCursor* cursor = nullptr;
    if (int error = CurrentCursor(&cursor)) return error;
    for (int i = 1; i <= VmGetTop(L); ++i) {
        const int32_t stop = IntArg(L, i);
        if (stop < 0) return ERR_NEGCOORDS;
        if (cursor->tabCount >= kMaxTabStops) return ERR_INTERNAL;
        int32_t* end = cursor->tabs + cursor->tabCount;
        int32_t* at = std::upper_bound(cursor->tabs, end, stop);
        std::move_backward(at, end, end + 1);
        *at = stop;
        ++cursor->tabCount;
    }
    return 0;
}

int ResetTabs(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    qvTextCursor* cursor = nullptr;
    if (int error = CurrentCursor(&cursor)) return error;
    cursor->tabCount = 0;
    return 0;
}

int TextWidth(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvStyledExtent extent;
    if (int error = MeasureArg(L, &extent)) return error;
    VmPushNumber(L, extent.advance);
    return 1;
}

int TextHeight(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvFont* font = GetDefaultFont();
    VmPushNumber(L, font != nullptr ? font->height : 0);
    return 1;
}

int TextExtent(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    qvStyledExtent extent;
    if (int error = MeasureArg(L, &extent)) return error;
    VmNewTable(L);
    SetTableFieldNumber(L, "minx", double(extent.minX) + extent.minXExtension);
    SetTableFieldNumber(L, "maxx", double(extent.maxX) + extent.maxXExtension);
    SetTableFieldNumber(L, "miny", double(extent.minY) + extent.minYExtension);
    SetTableFieldNumber(L, "maxy", double(extent.maxY) + extent.maxYExtension);
    SetTableFieldNumber(L, "width", extent.advance);
    SetTableFieldNumber(L, "height", extent.height);
    return 1;
}

int GetKerningPair(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    size_t firstLength = 0, secondLength = 0;
    const char* first = GetArgString(L, 1, &firstLength);
    const char* second = GetArgString(L, 2, &secondLength);
    int encoding = 0;
    if (!EncodingArg(L, 3, &encoding)) return ERR_WRONGUSAGE;
    int32_t kerning = 0;
    if (firstLength > 0 && secondLength > 0 && firstLength + secondLength <= kMaxPairBytes) {
        char pair[kMaxPairBytes + 1];
        std::memcpy(pair, first, firstLength);
        std::memcpy(pair + firstLength, second, secondLength);
        kerning = GetKerningPairByFont(GetDefaultFont(), pair, int32_t(firstLength + secondLength),
                                       encoding);
    }
    VmPushNumber(L, kerning);
    return 1;
}
