// A picture file read for an object that loads one (brushes, sprites): while an applet's
// declared objects are preloaded, declarations of one file share one decode through the gfx
// cache ("cache" on the first, "cachedload" on the later ones, "cachealpha" when a later one
// needs the alpha channel that the first does not).
#pragma once

#include <cstdint>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "runtime/image_handles.h"

namespace qv {

struct PictureCacheFlags {
    bool cache = false, cachedLoad = false, cacheAlpha = false;
};

// A decoded picture, its alpha plane (when asked for) and whether it is a vector picture.
struct CachedPicture {
    ImageHandleRef handle;
    OwnedPlane alpha;
    int32_t width = 0, height = 0;
    bool vector = false;
    int32_t transparentColour = -1;  // the file's own colour key, 0xRRGGBB
};

// Whether the applet's declared objects are being loaded.
bool Preloading(qvVmState* L);
// The cache fields of the option table at index t.
PictureCacheFlags ReadPictureCacheFlags(qvVmState* L, int t);
// The picture from the gfx cache (while preloading, under the file's name) or from the picture
// loaders; with "cache", the loaded picture joins the cache. 0 or the loader's or cache's error.
int ReadCachedPicture(qvVmState* L, const char* file, bool loadAlpha,
                      const PictureCacheFlags& flags, CachedPicture* out);

}  // namespace qv
