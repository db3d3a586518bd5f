// The gfx cache: decoded pictures kept by file name, so that loading the same picture again
// for a brush or an animation shares the decoded image instead of decoding it once more.
#pragma once

#include <cstdint>

#include "platform/linux/bitmap.h"
#include "platform/linux/paths.h"
#include "runtime/image_handles.h"

struct qvGfxCacheEntry {
    qvGfxCacheEntry* next;
    char fileName[kPathBufferSize];  // start-up pairs only names that fit
    int32_t width;
    int32_t height;
    int32_t value1;  // the caller's values (brush attributes), returned unchanged
    int32_t value2;
    qvImageHandle* handle;  // counted once on insert and once on every hit
    qvPlaneBitMap* plane;   // a private copy of the 8-bit mask or alpha plane, or none
};

// Appends an entry; the handle's count is raised and the plane (width x height, if any)
// copied. A name of 1024 characters or more is not cached: returns 0 and stores nothing, as
// a cut name could hand back another file's picture. 0 or ERR_MEM.
int AddGfxCacheEntry(const char* fileName, int32_t width, int32_t height, int32_t value1,
                     qvImageHandle* handle, const qvPlaneBitMap* plane, int32_t value2);

// The first entry whose name matches without regard to letter case. With wantPlane the caller
// receives a copy of the entry's plane, which it owns (FreePlaneBitMap); the handle's count
// is raised for the caller. 0, ERR_CACHEERROR (no entry, or a plane wanted from an entry
// without one) or ERR_MEM; nothing is delivered on failure.
int FindGfxCacheEntry(const char* fileName, int wantPlane, int32_t* width, int32_t* height,
                      int32_t* value1, qvImageHandle** handle, qvPlaneBitMap** plane,
                      int32_t* value2);

// Releases every entry's handle, frees its plane and empties the cache.
void FlushGfxCache();
