#include "gfx/gfx_cache.h"

#include <algorithm>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/strings.h"

namespace qv {
namespace {

// The cache list of the graphics engine, appended at the tail.
qvGfxCacheEntry* cacheHead = nullptr;

// A new 8-bit plane of width x height holding source's bytes; none when memory is short.
qvPlaneBitMap* CopyPlane(const qvPlaneBitMap* source, int32_t width, int32_t height) {
    qvPlaneBitMap* copy = AllocAlphaBitMap(width, height, 1);
    if (copy == nullptr) return nullptr;
    const size_t row = size_t(std::min(source->bytesPerRow, copy->bytesPerRow));
    for (int32_t y = 0; y < height; ++y)
        std::memcpy(copy->plane + size_t(y) * size_t(copy->bytesPerRow),
                    source->plane + size_t(y) * size_t(source->bytesPerRow), row);
    return copy;
}

const qvGfxCacheEntry* FindEntry(const char* fileName) {
    for (const qvGfxCacheEntry* e = cacheHead; e != nullptr; e = e->next)
        if (StrICmp(e->fileName, fileName) == 0) return e;
    return nullptr;
}

}  // namespace
}  // namespace qv

int AddGfxCacheEntry(const char* fileName, int32_t width, int32_t height, int32_t value1,
                     qvImageHandle* handle, const qvPlaneBitMap* plane, int32_t value2) {
    const size_t length = std::strlen(fileName);
    if (length >= sizeof(qvGfxCacheEntry::fileName)) return 0;
    qvPlaneBitMap* copy = nullptr;
    if (plane != nullptr && (copy = qv::CopyPlane(plane, width, height)) == nullptr) return ERR_MEM;
    auto* entry = static_cast<qvGfxCacheEntry*>(AllocMemBlock(sizeof(qvGfxCacheEntry), 1));
    if (entry == nullptr) {
        FreePlaneBitMap(copy);
        return ERR_MEM;
    }
    std::memcpy(entry->fileName, fileName, length + 1);
    entry->width = width;
    entry->height = height;
    entry->value1 = value1;
    entry->value2 = value2;
    entry->handle = handle;
    entry->plane = copy;
    if (handle != nullptr) AddImageHandleRef(handle);
    *qv::ListEnd(&qv::cacheHead) = entry;
    return 0;
}

int FindGfxCacheEntry(const char* fileName, int wantPlane, int32_t* width, int32_t* height,
                      int32_t* value1, qvImageHandle** handle, qvPlaneBitMap** plane,
                      int32_t* value2) {
    const qvGfxCacheEntry* entry = qv::FindEntry(fileName);
    if (entry == nullptr || (wantPlane != 0 && entry->plane == nullptr)) return ERR_CACHEERROR;
    if (wantPlane != 0) {
        *plane = qv::CopyPlane(entry->plane, entry->width, entry->height);
        if (*plane == nullptr) return ERR_MEM;
    }
    *width = entry->width;
    *height = entry->height;
    *value1 = entry->value1;
    *value2 = entry->value2;
    *handle = entry->handle;
    if (entry->handle != nullptr) AddImageHandleRef(entry->handle);
    return 0;
}

void FlushGfxCache() {
    qv::DrainList(&qv::cacheHead, [](qvGfxCacheEntry* entry) {
        if (entry->handle != nullptr) ReleaseImageHandle(entry->handle);
        FreePlaneBitMap(entry->plane);
        FreeMemBlock(entry);
    });
}
