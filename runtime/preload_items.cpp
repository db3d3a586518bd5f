#include "runtime/preload_items.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "runtime/files.h"
#include "runtime/strings.h"

namespace qv {
namespace {

size_t RecordSize(uint32_t type) {
    switch (type) {
        case QV_PRELOAD_BGPIC:
            return sizeof(qvFillRecord);
        case QV_PRELOAD_BRUSH:
        case QV_PRELOAD_ANIM:
        case QV_PRELOAD_SPRITE:
            return sizeof(qvPictureRecord);
        case QV_PRELOAD_BUTTON:
            return sizeof(qvButtonRecord);
        case QV_PRELOAD_DISPLAY:
            return sizeof(qvDisplaySettings);
        default:
            return 0;
    }
}

void* CopyBlock(const void* data, size_t size) {
    void* block = AllocMemBlock(size, 0);
    if (block != nullptr) std::memcpy(block, data, size);
    return block;
}

bool EndsWithNoCase(const char* name, const char* suffix) {
    size_t n = std::strlen(name), m = std::strlen(suffix);
    return n >= m && StrICmp(name + n - m, suffix) == 0;
}

// Resources are found relative to the directory that was current when they were declared;
// keys, fonts, displays and plugins have no file, except TrueType fonts of engine 4.
bool RecordsDirectory(uint32_t type, uint32_t arg2, const char* name) {
    if (type == QV_PRELOAD_FONT) {
        return (arg2 & 0xFFFF) == 4 &&
               (EndsWithNoCase(name, ".ttf") || EndsWithNoCase(name, ".otf"));
    }
    return type != QV_PRELOAD_KEY && type != QV_PRELOAD_DISPLAY && type != QV_PRELOAD_PLUGIN;
}

void FreeItem(qvPreloadItem* item) {
    FreeMemBlock(item->name);
    FreeMemBlock(item->data);
    FreeMemBlock(item);
}

}  // namespace

void InitDisplayDefaults(qvDisplaySettings* settings, const char* title) {
    std::memset(settings, 0, sizeof *settings);
    CopyText(settings->title, sizeof settings->title, title);
    settings->styleFlags = QV_DISPFLAG_ACTIVE;
    settings->x = settings->y = kCentred;
    settings->width = 640;
    settings->height = 480;
    settings->fillStyle = 1;
    InitGradientDefaults(&settings->gradient);
}

qvPreloadItem* FindDisplayItem(qvScriptHeader* header, uint32_t id) {
    for (qvPreloadItem* item = header->preloadItems; item != nullptr; item = item->next) {
        if (item->type == QV_PRELOAD_DISPLAY && item->id == id) return item;
    }
    return nullptr;
}

}  // namespace qv

void InitGradientDefaults(qvGradient* gradient) {
    std::memset(gradient, 0, sizeof *gradient);
    gradient->style = 2;
    gradient->centerX = gradient->centerY = gradient->balance = 0.5;
}

int AddPreloadItem(qvScriptHeader* header, uint32_t type, uint32_t id, const char* name,
                   uint32_t arg1, uint32_t arg2, int32_t line, uint32_t flags, const void* data) {
    return qv::AppendPreloadItem(header, type, id, name, arg1, arg2, line, flags, data) != nullptr
               ? 0
               : ERR_MEM;
}

qvPreloadItem* qv::AppendPreloadItem(qvScriptHeader* header, uint32_t type, uint32_t id,
                                     const char* name, uint32_t arg1, uint32_t arg2, int32_t line,
                                     uint32_t flags, const void* data) {
    auto* item = static_cast<qvPreloadItem*>(AllocMemBlock(sizeof(qvPreloadItem), 1));
    if (item == nullptr) return nullptr;
    size_t recordSize = RecordSize(type);
    if (name != nullptr) item->name = static_cast<char*>(CopyBlock(name, std::strlen(name) + 1));
    if (data != nullptr && recordSize > 0) item->data = CopyBlock(data, recordSize);
    if ((name != nullptr && item->name == nullptr) ||
        (data != nullptr && recordSize > 0 && item->data == nullptr)) {
        FreeItem(item);
        return nullptr;
    }
    item->type = type;
    item->id = id;
    item->flags = flags;
    item->arg1 = arg1;
    item->arg2 = arg2;
    item->line = line;
    if (RecordsDirectory(type, arg2, name != nullptr ? name : "")) {
        GetCurrentDirName(item->directory, sizeof item->directory);
    }
    *qv::ListEnd(&header->preloadItems) = item;
    return item;
}

int AddDefaultDisplayItem(qvScriptHeader* header, const char* title) {
    if (title == nullptr) {
        title = header->pendingTitle[0] != '\0' ? header->pendingTitle : "Quorvella";
    }
    qvDisplaySettings settings;
    qv::InitDisplayDefaults(&settings, title);
    return AddPreloadItem(header, QV_PRELOAD_DISPLAY, 1, nullptr, 0, 0, 0, 0, &settings);
}

void FreePreloadItems(qvScriptHeader* header) {
    qv::DrainList(&header->preloadItems, qv::FreeItem);
}
