// The font commands: fonts made current by name or kept as font objects, their glyph caches,
// the font search paths and the list of available fonts.
#include "engine/convert.h"
#include "objects/fonts/font_scan.h"
#include "objects/text/font_cache.h"
#include "objects/text/text_commands.h"
#include "objects/text/text_library.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "runtime/report.h"
#include "runtime/strings.h"

namespace {

// The font object an argument names; a missing one is the command's returned error.
int FontObjectArg(qvVmState* L, int idx, qvFontObject** object) {
    return qv::FindObjectArg(L, idx, *FontObjectList(), ERR_FINDFONT2, object);
}

void FreeFontObject(qvVmState* L, qvFontObject* object) {
    UnlinkObject(FontObjectList(), &object->header);
    FreeRefList(L, object->header.data);
    FreeMemBlock(object);
}

// The list that GetAvailableFonts builds is dropped again however the command ends.
struct ScannedListScope {
    ~ScannedListScope() { FreeTrueTypeFontList(); }
};

void PushSizes(qvVmState* L, const qvScannedFont& node) {
    VmPushString(L, "sizes");
    VmNewTable(L);
    for (int32_t i = 0; i < node.sizeCount; ++i) {
        VmPushNumber(L, node.sizes[i]);
        VmRawSetI(L, -2, i);
    }
    VmRawSet(L, -3);
}

}  // namespace

int SetFont(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvFont* font = nullptr;
    if (int error = OpenFontWithOptions(L, 1, false, &font)) return error;
    MakeFontCurrent(font);
    return 0;
}

int OpenFont(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    int wasNil = 0;
    const auto id = uint32_t(GetOptIntArg(L, 1, &wasNil));
    qvFont* font = nullptr;
    if (int error = OpenFontWithOptions(L, 2, true, &font)) {
        PrintLoadingFailed();
        return error;
    }
    auto* object = static_cast<qvFontObject*>(AllocMemBlock(sizeof(qvFontObject), 1));
    if (object == nullptr) {
        PrintLoadingFailed();
        return ERR_MEM;
    }
    // The font object of a script number goes only once the new one is open, so a font that
    // cannot be opened leaves the old one.
    if (wasNil == 0) {
        qvFontObject* old = nullptr;
        if (FindFont({id, nullptr}, &old) == 0) FreeFontObject(L, old);
    }
    object->header = qv::NewObjectHeader(QV_OBJ_FONT, id, wasNil != 0, object);
    object->font = font;
    AppendObject(FontObjectList(), &object->header);
    PrintLoadingDone();
    return qv::PushNewObjectHandle(L, object->header);
}

int UseFont(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvFontObject* object = nullptr;
    if (int error = FontObjectArg(L, 1, &object)) return error;
    MakeFontCurrent(object->font);
    return 0;
}

int CloseFont(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvFontObject* object = nullptr;
    if (int error = FontObjectArg(L, 1, &object)) return error;
    FreeFontObject(L, object);
    return 0;
}

int FreeGlyphCache(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    if (qv::Trunc32(GetArgNumber(L, 1)) == 0) {
        for (const qvFontCacheNode* node = FontCache(); node != nullptr; node = node->next)
            FreeFontGlyphCache(node->font);
        return 0;
    }
    qvFontObject* object = nullptr;
    if (int error = FontObjectArg(L, 2, &object)) return error;
    FreeFontGlyphCache(object->font);
    return 0;
}

int AddFontPath(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* path = GetArgString(L, 1, nullptr);
    // Compared as given and by full name, so that one folder however spelt is added once.
    auto listed = [](const char* name) {
        for (const qvFontPath* p = FontSearchPaths(); p != nullptr; p = p->next) {
            if (StrICmp(p->path, name) == 0) return true;
        }
        return false;
    };
    if (listed(path)) return 0;
    char fullName[kPathBufferSize];
    qvFileHandle* handle = OpenFileEx(path, QV_LOCK_SHARED);
    const bool named = handle != nullptr && NameFromFileEx(handle, fullName, sizeof fullName) != 0;
    CloseFileEx(handle);
    if (!named) return ErrorWithText(ERR_LOCK2, path);
    if (listed(fullName)) return 0;
    if (int error = AddFontSearchPath(fullName)) return error;
    FreeTrueTypeFontList();
    return 0;
}

int GetAvailableFonts(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    FreeTrueTypeFontList();
    ScannedListScope scope;
    // One entry per face: the family-only names that lookups add are left out.
    if (int error = ScanTrueTypeFonts(1)) return error;
    VmNewTable(L);
    int index = 0;
    for (const qvScannedFont* node = ScannedFonts(); node != nullptr; node = node->next) {
        VmNewTable(L);
        SetTableFieldString(L, "name", node->fullName);
        SetTableFieldString(L, "family", node->family);
        SetTableFieldInt(L, "bitmap", int32_t(node->bitmapFont));
        SetTableFieldInt(L, "weight", node->weight);
        SetTableFieldInt(L, "slant", node->slant);
        PushSizes(L, *node);
        VmRawSetI(L, -2, index++);
    }
    return 1;
}
