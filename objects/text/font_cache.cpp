#include "objects/text/font_cache.h"

#include <cstring>
#include <string>
#include <string_view>

#include "engine/convert.h"
#include "objects/fonts/bitmap_font.h"
#include "objects/fonts/font_loading.h"
#include "objects/fonts/font_names.h"
#include "platform/linux/blocks.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/file_parts.h"
#include "runtime/files.h"
#include "runtime/messages.h"
#include "runtime/option_tables.h"
#include "runtime/report.h"
#include "runtime/strings.h"

namespace {

qvObjectHeader* fontObjects = nullptr;
qvFontCacheNode* cacheNodes = nullptr;

struct BuiltInName {
    const char* name;
    const char* font;
    bool inbuilt;  // opened by the built-in engine whatever was asked
};
constexpr BuiltInName kBuiltInNames[] = {
    {":::default_bitmap", "topaz", false},
    {":::default_truetype", "Bitstream Vera Sans", true},
    {":::default_sans", "Bitstream Vera Sans", true},
    {":::default_serif", "Bitstream Vera Serif", true},
    {":::default_mono", "Bitstream Vera Sans Mono", true},
};

constexpr std::string_view kChunkPrefix = ":::chunk";
// What the names of linked fonts carry before the font's own name.
constexpr std::string_view kLinkedFontMark = ":font:";
constexpr std::string_view kFontEnding = ".font";

// A linked font's name: the name of the linked file (between "*" and "/"), without the mark
// that linked fonts carry, must on the native engine be a font's name, not a path. It names
// the font, so it loses a ".font" ending.
int MapLinkedName(std::string* name, int engine) {
    std::string_view file;
    if (!qv::VirtualFileName(*name, &file)) return 0;
    std::string own(file);
    if (own.starts_with(kLinkedFontMark)) own.erase(0, kLinkedFontMark.size());
    if (engine != QV_FONTREQUEST_INBUILT &&
        std::strcmp(PathFilePart(own.c_str()), own.c_str()) != 0)
        return ERR_FONTPATH;
    if (qv::fonts::EndsWithNoCase(own, kFontEnding)) own.erase(own.size() - kFontEnding.size());
    name->replace(size_t(file.data() - name->data()), file.size(), own);
    return 0;
}

qvFontCacheNode* FindCached(const std::string& name, int32_t size, int engine, int cache) {
    for (qvFontCacheNode* node = cacheNodes; node != nullptr; node = node->next) {
        if (node->size == size && node->engine == engine && node->cache == cache &&
            StrICmp(node->name, name.c_str()) == 0)
            return node;
    }
    return nullptr;
}

// Keeps an opened font in the cache; ERR_MEM (the font closed) when no node can be made.
int AddToCache(const std::string& name, int32_t size, int engine, int cache, qvFont** font) {
    auto* node =
        static_cast<qvFontCacheNode*>(AllocMemBlock(sizeof(qvFontCacheNode) + name.size() + 1, 1));
    if (node == nullptr) {
        CloseFontObject(*font);
        *font = nullptr;
        return ERR_MEM;
    }
    auto* text = reinterpret_cast<char*>(node + 1);
    std::memcpy(text, name.c_str(), name.size() + 1);
    *node = {nullptr, text, size, engine, cache, *font};
    qv::CopyText((*font)->requestedName, sizeof(*font)->requestedName, text);
    *qv::ListEnd(&cacheNodes) = node;
    return 0;
}

int LoadMapped(const std::string& name, int32_t size, int engine, int cache, int linked,
               const char* shown, qvFont** font) {
    for (;;) {
        if (qvFontCacheNode* hit = FindCached(name, size, engine, cache)) {
            SetFontSize(hit->font, 1.0, 1.0);
            *font = hit->font;
            return 0;
        }
        const int error = OpenFontByName(name.c_str(), size, engine, cache, linked, font, shown);
        if (error == 0) return AddToCache(name, size, engine, cache, font);
        if (engine != QV_FONTREQUEST_INBUILT) return error;
        engine = QV_FONTREQUEST_NATIVE;
    }
}

}  // namespace

int LoadFont(const char* name, int32_t size, int engine, int cache, int linked, qvFont** font,
             const char* shown) {
    *font = nullptr;
    return qv::CatchAllocFailure(int(ERR_MEM), [&] {
        std::string mapped = name;
        for (const BuiltInName& builtIn : kBuiltInNames) {
            if (StrICmp(name, builtIn.name) != 0) continue;
            mapped = builtIn.font;
            if (builtIn.inbuilt) engine = QV_FONTREQUEST_INBUILT;
        }
        if (mapped.starts_with(kChunkPrefix)) {
            if (int error = MapLinkedName(&mapped, engine)) return error;
        }
        return LoadMapped(mapped, size, engine, cache != 0 ? 1 : 0, linked, shown, font);
    });
}

int OpenFontWithOptions(qvVmState* L, int idx, bool progress, qvFont** font) {
    // The name as the script gave it, for messages: a linked font resolves to a virtual path
    // that tells where the applet lies.
    const std::string given = GetArgString(L, idx, nullptr);
    int linked = 0;
    const char* name = GetStringArgResolved(L, idx, 1, &linked);
    const int32_t size = qv::Trunc32(GetArgNumber(L, idx + 1));
    int32_t engine = QV_FONTREQUEST_NATIVE;
    uint32_t cache = 1;
    if (VmGetTop(L) >= idx + 2 && VmType(L, idx + 2) != VM_TNIL) {
        CheckArgTable(L, idx + 2);
        GetTableFieldInt(L, idx + 2, "engine", &engine, nullptr);
        GetTableFieldBool(L, idx + 2, "cache", &cache, nullptr);
    }
    if (progress) PrintLoadingMessage(GetMessageText(qv::kMsgOpeningFont), given.c_str(), 0);
    return LoadFont(name, size, engine, int(cache), linked, font, given.c_str());
}

int FindFont(qvObjectId id, qvFontObject** object) {
    qvObjectHeader* header = qv::FindObjectInList(fontObjects, id);
    if (header == nullptr) return qv::ObjectNotFound(id, ERR_FINDFONT2);
    *object = reinterpret_cast<qvFontObject*>(header);
    return 0;
}

int RefreshFontObjects() {
    int first = 0;
    for (qvObjectHeader* h = fontObjects; h != nullptr; h = h->next) {
        qvFont* font = reinterpret_cast<qvFontObject*>(h)->font;
        if (font->pendingPixels == nullptr) continue;
        const int error = ConvertColourFontPixels(font);
        if (first == 0) first = error;
    }
    return first;
}

void ReleaseFontOutlines(void (*release)(qvFont* font)) {
    for (qvFontCacheNode* node = cacheNodes; node != nullptr; node = node->next)
        release(node->font);
}

qvObjectHeader** FontObjectList() {
    return &fontObjects;
}

void FreeFontObjects(qvVmState* L) {
    qv::DrainList(&fontObjects, [L](qvObjectHeader* h) {
        FreeRefList(L, h->data);
        FreeMemBlock(h);
    });
}

void FreeFontCache() {
    qv::DrainList(&cacheNodes, [](qvFontCacheNode* node) {
        CloseFontObject(node->font);
        FreeMemBlock(node);
    });
}

const qvFontCacheNode* FontCache() {
    return cacheNodes;
}
