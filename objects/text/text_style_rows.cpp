// The style row of TEXTOUT and PRINT layers: the text, font and layout keys of SetLayerStyle
// read into the layer's working record, the record a retype starts from, and the keys
// GetLayerStyle gives.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/error_codes.h"
#include "gfx/geometry.h"
#include "gfx/library/object_types.h"
#include "objects/fonts/font_loading.h"
#include "objects/text/font_cache.h"
#include "objects/text/render_text.h"
#include "objects/text/text_attributes.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_display.h"
#include "objects/text/text_layers.h"
#include "objects/text/text_library.h"
#include "platform/linux/blocks.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "scene/layers/style_rows.h"

namespace {

using qv::gfx::kTypePrint;
using qv::gfx::kTypeTextOut;
using qv::scene::LayerStyleWork;

// The most tab stops a style table may give.
constexpr int32_t kStyleTabLimit = 31;
constexpr std::string_view kChunkPrefix = ":::chunk";

bool IsTextType(uint32_t type) {
    return type == kTypeTextOut || type == kTypePrint;
}

struct TextBlockFree {
    void operator()(char* text) const { FreeMemBlock(text); }
};
using OwnedText = std::unique_ptr<char, TextBlockFree>;

bool FieldPresent(qvVmState* L, int t, const char* field) {
    VmPushString(L, field);
    VmGetTable(L, t);
    const bool present = VmType(L, -1) != VM_TNIL;
    VmSetTop(L, -2);
    return present;
}

// "fontstyle" and "fontstyleclear": SHADOW and EDGE switch the layer's shadow and border,
// which only needs a redraw; the other bits change the text's style and so its pixels.
void ReadFontStyle(qvVmState* L, int t, LayerStyleWork* work, qvTextRender* record) {
    constexpr uint32_t kSwitches = QV_STYLE_SHADOW | QV_STYLE_EDGE;
    uint32_t bits = 0;
    if (GetTableFieldBool(L, t, "fontstyle", &bits, nullptr) != 0) {
        if ((bits & QV_STYLE_NORMAL) != 0) {
            record->style.styleFlags = QV_STYLE_NORMAL;
            work->rebuild = true;
        } else {
            if ((bits & QV_STYLE_SHADOW) != 0) work->layer.shadow.on = 1, work->refresh = true;
            if ((bits & QV_STYLE_EDGE) != 0) work->layer.border.on = 1, work->refresh = true;
            record->style.styleFlags |= bits & ~kSwitches;
            if ((bits & ~kSwitches) != 0) work->rebuild = true;
        }
    }
    if (GetTableFieldBool(L, t, "fontstyleclear", &bits, nullptr) != 0) {
        if ((bits & QV_STYLE_SHADOW) != 0) work->layer.shadow.on = 0, work->refresh = true;
        if ((bits & QV_STYLE_EDGE) != 0) work->layer.border.on = 0, work->refresh = true;
        record->style.styleFlags &= ~(bits & ~kSwitches);
        if ((bits & ~kSwitches) != 0) work->rebuild = true;
    }
}

// "tabs": up to kStyleTabLimit numbers from index 0, kept ascending.
int ReadTabs(qvVmState* L, int t, qvTextRender* record) {
    VmPushString(L, "tabs");
    VmGetTable(L, t);
    const int table = VmGetTop(L);
    int code = 0;
    int32_t count = 0;
    if (VmType(L, table) != VM_TTABLE) {
        SetErrorNumber(uint32_t(t));
        code = ERR_TABEXPECTED;
    }
    for (; code == 0; ++count) {
        VmRawGetI(L, table, count);
        const int type = VmType(L, -1);
        const double value = type == VM_TNUMBER ? VmToNumber(L, -1) : 0;
        VmSetTop(L, -2);
        if (type == VM_TNIL) break;
        if (type != VM_TNUMBER) {
            code = ErrorWithText(ERR_NUMTABLEARG, "tabs");
        } else if (count >= kStyleTabLimit) {
            code = ERR_INTERNAL;
        } else {
            record->tabs[count] = qv::gfx::TruncSaturate(value);
        }
    }
    VmSetTop(L, table - 1);
    if (code != 0) return code;
    record->tabCount = count;
    std::sort(record->tabs, record->tabs + count);
    return 0;
}

// The layout keys: encoding, margins, alignment, the PRINT cursor and tab stops.
int ReadLayoutKeys(qvVmState* L, int t, LayerStyleWork* work, qvTextRender* record) {
    int relayout = GetTableFieldInt(L, t, "encoding", &record->encoding, nullptr);
    if (!ValidTextEncoding(record->encoding)) return ERR_WRONGUSAGE;
    relayout |= GetTableFieldInt(L, t, "rightmargin", &record->rightMargin, nullptr);
    if (work->layer.type == kTypeTextOut) {
        if (GetTableFieldInt(L, t, "align", &record->alignment, nullptr) != 0) work->rebuild = true;
    } else {
        relayout |= GetTableFieldInt(L, t, "leftmargin", &record->leftMargin, nullptr);
    }
    // A negative wrap width is refused for TEXTOUT as TextOut refuses it.
    if (record->leftMargin < 0 || record->rightMargin < 0) return ERR_WRONGUSAGE;
    if (work->layer.type == kTypePrint) {
        using namespace qv::gfx;
        int32_t x = 0, y = 0;
        if (GetTableFieldInt(L, t, "cursorx", &x, nullptr) != 0) {
            // A position constant is refused as Locate refuses it.
            if (x == CENTER || x == LEFT || x == RIGHT) return ERR_NOCOORDCST;
            record->cursorX =
                x >= record->leftMargin && x <= record->rightMargin ? x : record->leftMargin;
            work->cursorSet = true;
        }
        if (GetTableFieldInt(L, t, "cursory", &y, nullptr) != 0) {
            if (y == CENTER || y == TOP || y == BOTTOM) return ERR_NOCOORDCST;
            record->cursorY = y;
            work->cursorSet = true;
        }
        if (FieldPresent(L, t, "tabs")) {
            if (int code = ReadTabs(L, t, record)) return code;
            relayout = 1;
        }
    }
    if (relayout != 0) work->relayout = true;
    if (work->cursorSet) work->rebuild = true;
    return 0;
}

// "fontsize", "font", "fontengine" and "fontcache": any of the first three opens the font
// with the others defaulting to the record's font. A linked font is opened as one.
int ReadFontKeys(qvVmState* L, int t, LayerStyleWork* work, qvTextRender* record) {
    const qvFont* current = record->style.font != nullptr ? record->style.font : GetDefaultFont();
    int32_t size = current != nullptr ? current->size : 0;
    int32_t engine =
        current != nullptr && current->engine > 3 ? QV_FONTREQUEST_INBUILT : QV_FONTREQUEST_NATIVE;
    int given = GetTableFieldInt(L, t, "fontsize", &size, nullptr);
    char* text = nullptr;
    int hasName = GetTableFieldStringAlloc(L, t, "font", 0, nullptr, &text, nullptr, nullptr);
    const OwnedText named(text);
    given |= hasName | GetTableFieldInt(L, t, "fontengine", &engine, nullptr);
    if (given == 0) return 0;
    int32_t cache = 1;
    GetTableFieldInt(L, t, "fontcache", &cache, nullptr);
    int linked = 0;
    std::string name;
    const char* shown = nullptr;  // for messages: the script's name, else the font's own
    if (hasName != 0) {
        name = ResolveAppletFile(L, named.get(), 1, &linked);
        shown = named.get();
    } else if (current != nullptr) {
        name = current->requestedName[0] != '\0' ? current->requestedName : current->name;
        shown = current->name;
    }
    if (std::string_view(name).starts_with(kChunkPrefix)) linked = 1;
    qvFont* font = nullptr;
    if (int code = LoadFont(name.c_str(), size, engine, cache, linked, &font, shown)) return code;
    record->style.font = font;
    work->relayout = true;
    return 0;
}

int ReadTextKeys(qvVmState* L, int t, LayerStyleWork* work) {
    auto* record = dynamic_cast<qvTextRender*>(work->item);
    if (record == nullptr) return ERR_WRONGUSAGE;
    if (GetTableFieldBool(L, t, "color", &record->style.colour, nullptr) != 0) {
        work->rebuild = true;
    }
    ReadFontStyle(L, t, work, record);
    if (int code = ReadLayoutKeys(L, t, work, record)) return code;
    ClampFontStyle(&record->style);
    if (int code = ReadFontKeys(L, t, work, record)) return code;
    char* text = nullptr;
    if (GetTableFieldStringAlloc(L, t, "text", 0, nullptr, &text, nullptr, nullptr) != 0) {
        FreeMemBlock(record->text);
        record->text = text;
        work->relayout = true;
    } else if (work->retype && !IsTextType(work->oldType)) {
        return ERR_MISSINGPARAMTR;
    }
    if (work->relayout) {
        // The recorded line breaks and tab results belong to the old layout.
        FreeMemBlock(record->wordBreaks);
        FreeMemBlock(record->tabResults);
        record->wordBreaks = record->tabResults = nullptr;
        record->wordBreakCount = record->tabResultCount = 0;
        work->rebuild = true;
    }
    return 0;
}

// Between TEXTOUT and PRINT the record goes on; from another type it starts from the text
// defaults at the old position, and a PRINT record at the display's cursor and margins.
qvLayerItem* TextRetypeItem(qvVmState*, const LayerStyleWork* work) {
    const qvLayerItem* old = work->live->sourceItem;
    if (IsTextType(work->oldType)) return old->Copy();
    auto* record = qv::NewBlock<qvTextRender>();
    if (record == nullptr) return nullptr;
    FillFromDefaults(record, nullptr);
    record->x = old->x, record->y = old->y;
    if (work->layer.type == kTypePrint) {
        if (const qvTextCursor* cursor = qv::text::TextDisplay().CurrentTextCursor()) {
            record->cursorX = cursor->x, record->cursorY = cursor->y;
            record->leftMargin = cursor->leftMargin, record->rightMargin = cursor->rightMargin;
        }
    }
    return record;
}

void PushTextKeys(qvVmState* L, const qvLayer* layer) {
    const auto* record = dynamic_cast<const qvTextRender*>(layer->sourceItem);
    if (record == nullptr) return;
    const qvFont* font = record->style.font;
    SetTableFieldNumber(L, "color", record->style.colour);
    SetTableFieldNumber(L, "fontstyle", record->style.styleFlags);
    SetTableFieldNumber(L, "align", record->alignment);
    SetTableFieldNumber(L, "leftmargin", record->leftMargin);
    SetTableFieldNumber(L, "rightmargin", record->rightMargin);
    SetTableFieldNumber(L, "fontsize", font != nullptr ? font->size : 0);
    SetTableFieldNumber(L, "encoding", record->encoding);
    SetTableFieldString(L, "text", record->text != nullptr ? record->text : "");
    SetTableFieldString(L, "font", font != nullptr ? FontNameOf(font) : "");
}

}  // namespace

void InstallTextStyleRows() {
    const qv::scene::LayerStyleRow row{ReadTextKeys, TextRetypeItem, PushTextKeys};
    qv::scene::SetLayerStyleRow(kTypeTextOut, row);
    qv::scene::SetLayerStyleRow(kTypePrint, row);
}
