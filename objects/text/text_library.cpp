#include "objects/text/text_library.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "objects/fonts/font_lookup.h"
#include "objects/fonts/font_scan.h"
#include "objects/text/font_cache.h"
#include "objects/text/layout.h"
#include "objects/text/text_attributes.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_layers.h"
#include "objects/text/text_objects.h"
#include "platform/linux/blocks.h"
#include "platform/linux/paths.h"
#include "runtime/exports.h"
#include "runtime/files.h"
#include "runtime/plugin_api/service_adapters.h"

namespace {

constexpr int32_t kSizeMin = 1, kSizeMax = 64;
constexpr int32_t kSouthEast = 3;

constexpr qvTextStyle kInitialDefaults = {
    QV_STYLE_NORMAL, 0xFFFFFF, 0x000000, 0x0093DD, 4, kSouthEast, 2, nullptr,
};

qvTextStyle defaults = kInitialDefaults;
int defaultEncoding = QV_ENCODING_ISO8859_1;
qvObjectHeader* textObjects = nullptr;

// In registration order.
constexpr qvCommandEntry kTextCommands[] = {
    {"SetFont", SetFont},
    {"SetFontColor", SetFontColor},
    {"TextHeight", TextHeight},
    {"TextWidth", TextWidth},
    {"ResetTabs", ResetTabs},
    {"AddTab", AddTab},
    {"Locate", Locate},
    {"SetMargins", SetMargins},
    {"SetFontStyle", SetFontStyle},
    {"Print", Print},
    {"NPrint", NPrint},
    {"TextOut", TextOut},
    {"CreateTextObject", CreateTextObject},
    {"DisplayTextObject", DisplayTextObject},
    {"FreeTextObject", FreeTextObject},
    {"InKeyStr", InKeyStr},
    {"TextExtent", TextExtent},
    {"ScaleTextObject", ScaleTextObject},
    {"CopyTextObject", CopyTextObject},
    {"RotateTextObject", RotateTextObject},
    {"OpenFont", OpenFont},
    {"CloseFont", CloseFont},
    {"UseFont", UseFont},
    {"GetAvailableFonts", GetAvailableFonts},
    {"FreeGlyphCache", FreeGlyphCache},
    {"SetDefaultEncoding", SetDefaultEncoding},
    {"AddFontPath", AddFontPath},
    {"GetKerningPair", GetKerningPair},
    {nullptr, nullptr},
};

constexpr qvConstant kTextConstants[] = {
    {"NORMAL", nullptr, 1},
    {"BOLD", nullptr, 2},
    {"ITALIC", nullptr, 4},
    {"UNDERLINED", nullptr, 8},
    {"ANTIALIAS", nullptr, 16},
    {"SHADOW", nullptr, 32},
    {"EDGE", nullptr, 64},
    {"ALL", nullptr, 0},
    {"ALPHANUMERICAL", nullptr, 1},
    {"ALPHABETICAL", nullptr, 2},
    {"NUMERICAL", nullptr, 3},
    {"HEXNUMERICAL", nullptr, 4},
    {"SHDWNORTH", nullptr, 0},
    {"SHDWNORTHEAST", nullptr, 1},
    {"SHDWEAST", nullptr, 2},
    {"SHDWSOUTHEAST", nullptr, 3},
    {"SHDWSOUTH", nullptr, 4},
    {"SHDWSOUTHWEST", nullptr, 5},
    {"SHDWWEST", nullptr, 6},
    {"SHDWNORTHWEST", nullptr, 7},
    {"BITMAP_DEFAULT", ":::default_bitmap", 0},
    {"TRUETYPE_DEFAULT", ":::default_truetype", 0},
    {"SANS", ":::default_sans", 0},
    {"SERIF", ":::default_serif", 0},
    {"MONOSPACE", ":::default_mono", 0},
    {"FONTENGINE_NATIVE", nullptr, 0},
    {"FONTENGINE_INBUILT", nullptr, 4},
    {"FONTWEIGHT_THIN", nullptr, 0},
    {"FONTWEIGHT_EXTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_ULTRALIGHT", nullptr, 40},
    {"FONTWEIGHT_LIGHT", nullptr, 50},
    {"FONTWEIGHT_BOOK", nullptr, 75},
    {"FONTWEIGHT_NORMAL", nullptr, 80},
    {"FONTWEIGHT_REGULAR", nullptr, 80},
    {"FONTWEIGHT_MEDIUM", nullptr, 100},
    {"FONTWEIGHT_SEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_DEMIBOLD", nullptr, 180},
    {"FONTWEIGHT_BOLD", nullptr, 200},
    {"FONTWEIGHT_EXTRABOLD", nullptr, 205},
    {"FONTWEIGHT_ULTRABOLD", nullptr, 205},
    {"FONTWEIGHT_HEAVY", nullptr, 210},
    {"FONTWEIGHT_BLACK", nullptr, 210},
    {"FONTWEIGHT_EXTRABLACK", nullptr, 215},
    {"FONTWEIGHT_ULTRABLACK", nullptr, 215},
    {"FONTSLANT_ROMAN", nullptr, 0},
    {"FONTSLANT_ITALIC", nullptr, 100},
    {"FONTSLANT_OBLIQUE", nullptr, 110},
    {"ENCODING_ISO8859_1", nullptr, 0},
    {"ENCODING_UTF8", nullptr, 1},
    {nullptr, nullptr, 0},
};

// The plugins' lookup: a plain font file (a collection member extracted into "T:", where it
// stays until the run ends); a face inside a resource file is no file a plugin could open.
// The path is the host's, since plugins open it with FreeType or the C library.
int FindTrueTypeFontForPlugins(const char* name, char* path, size_t size) {
    int64_t base = 0, length = 0;
    int temporary = 0;
    std::string native;
    const bool found = qv::CatchAllocFailure(false, [&] {
        const std::string file = FindTrueTypeFont(name, -1, -1, 0, &base, &length, &temporary);
        return !file.empty() && base == 0 && qv::ResolvePath(file, qv::LeafLookup::kFold, &native);
    });
    if (!found || native.size() >= size) return 0;
    std::memcpy(path, native.c_str(), native.size() + 1);
    return 1;
}

}  // namespace

int RegisterTextLibrary(qvVmState* L) {
    defaults = kInitialDefaults;
    defaultEncoding = QV_ENCODING_ISO8859_1;
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kTextCommands, 0);
    RegisterConstants(L, kTextConstants, 0);
    if (int error = RegisterCommandTable(kTextCommands, "text")) return error;
    if (int error = RegisterObjectList(&textObjects)) return error;
    if (int error = RegisterObjectList(FontObjectList())) return error;
    qv::ServiceHooks().findTrueTypeFont = FindTrueTypeFontForPlugins;
    InstallTextLayerRenderers();
    qv::text::RegisterTextAttributes();
    return OpenDefaultFont(&defaults.font);
}

void FreeAllTextObjects(qvVmState* L) {
    qv::ServiceHooks().findTrueTypeFont = nullptr;
    FreeTextObjects(L);
    FreeFontObjects(L);
    FreeFontCache();
    FreeFontSearchPaths();
    FreeWordWrapTable();
    CloseAllFonts();
    defaults.font = nullptr;
}

qvTextStyle* GetTextDefaults() {
    return &defaults;
}

qvFont* GetDefaultFont() {
    return defaults.font;
}

void ClampFontStyle(qvTextStyle* style) {
    style->shadowSize = std::clamp(style->shadowSize, kSizeMin, kSizeMax);
    style->edgeSize = std::clamp(style->edgeSize, kSizeMin, kSizeMax);
    if (uint32_t(style->shadowDirection) > 7) style->shadowDirection = kSouthEast;
}

int GetDefaultEncoding() {
    return defaultEncoding;
}

void SetDefaultEncodingValue(int encoding) {
    defaultEncoding = encoding;
}

void MakeFontCurrent(qvFont* font) {
    defaults.font = font;
    defaults.styleFlags = QV_STYLE_NORMAL;
}

qvObjectHeader** TextObjectList() {
    return &textObjects;
}
