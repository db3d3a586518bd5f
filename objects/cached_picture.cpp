#include "objects/cached_picture.h"

#include "gfx/gfx_cache.h"
#include "runtime/attributes.h"
#include "runtime/option_tables.h"

namespace qv {
namespace {

bool Flag(qvVmState* L, int t, const char* field) {
    uint32_t value = 0;
    GetTableFieldBool(L, t, field, &value, nullptr);
    return value != 0;
}

}  // namespace

bool Preloading(qvVmState* L) {
    int32_t preloading = 0;
    const qvAttrGet tags[] = {{QV_ATTR_PRELOADING, &preloading}, {QV_ATTR_END, nullptr}};
    GetGlobalAttrs(L, tags);
    return preloading != 0;
}

PictureCacheFlags ReadPictureCacheFlags(qvVmState* L, int t) {
    return {Flag(L, t, "cache"), Flag(L, t, "cachedload"), Flag(L, t, "cachealpha")};
}

int ReadCachedPicture(qvVmState* L, const char* file, bool loadAlpha,
                      const PictureCacheFlags& flags, CachedPicture* p) {
    const bool cached = Preloading(L);
    if (cached && flags.cachedLoad) {
        qvImageHandle* handle = nullptr;
        qvPlaneBitMap* alpha = nullptr;
        int32_t value1 = 0, value2 = 0;
        if (const int code = FindGfxCacheEntry(file, loadAlpha ? 1 : 0, &p->width, &p->height,
                                               &value1, &handle, &alpha, &value2)) {
            return code;
        }
        p->handle.reset(handle), p->alpha.reset(alpha);
        p->vector = value1 != 0;
        p->transparentColour = value2;
        return 0;
    }
    const bool cacheAlpha = cached && flags.cache && flags.cacheAlpha;
    qvLoadedPicture loaded{};
    if (const int code = LoadPluginPicture(file, loadAlpha || cacheAlpha ? 1 : 0, &loaded)) {
        return code;
    }
    p->handle.reset(loaded.handle), p->alpha.reset(loaded.alpha);
    p->width = loaded.width, p->height = loaded.height;
    p->vector = loaded.vector != 0;
    p->transparentColour = loaded.transparentColour;
    if (cached && flags.cache) {
        if (const int code =
                AddGfxCacheEntry(file, p->width, p->height, p->vector ? 1 : 0, p->handle.get(),
                                 p->alpha.get(), p->transparentColour)) {
            return code;
        }
    }
    // Alpha loaded for the cache alone is not the caller's.
    if (!loadAlpha) p->alpha.reset();
    return 0;
}

}  // namespace qv
