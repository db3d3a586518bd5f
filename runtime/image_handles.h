// Image handles: decoded pictures shared by the objects made from them. A handle holds the
// 32-bit pixels (0xAARRGGBB) with whoever decoded them, a picture plugin or the platform's
// picture loader, counts its users and frees the picture through that same decoder when
// the last one lets go. Picture loading asks the picture plugins first, in load order, and
// the platform's loader second.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/vm.h"
#include "platform/linux/bitmap.h"
#include "platform/linux/picture_loader.h"

struct qvPluginFunctions;

struct qvImageHandle {
    const qvPluginFunctions* loader;  // nullptr: the platform's picture loader
    void* picture;                    // the decoder's own record (or none)
    uint32_t* pixels;
    uint32_t refCount;
    uint32_t ownsPixels;  // the pixel buffer was allocated for the handle
};

// A handle with a new, uncleared buffer of width x height pixels, counted once; none for a
// size below 1 or beyond the allocator (callers report ERR_MEM).
qvImageHandle* NewImageHandle(int32_t width, int32_t height);
void AddImageHandleRef(qvImageHandle* handle);
uint32_t* GetImageHandlePixels(const qvImageHandle* handle);
uint32_t GetImageHandleOwnsBuffer(const qvImageHandle* handle);
// Drops one count; the last frees the picture through its decoder, then the owned buffer
// and the handle.
void ReleaseImageHandle(qvImageHandle* handle);

// What LoadPluginPicture delivers.
struct qvLoadedPicture {
    qvImageHandle* handle;
    qvPlaneBitMap* alpha;  // the alpha channel, when it was asked for (or forced by the reader)
    int32_t width;
    int32_t height;
    int32_t transparentColour;  // 0xRRGGBB, or -1 for none
    uint32_t hasAlpha;
    uint32_t vector;  // a vector picture, which its plugin can render again at any size
};

// Decodes file into a new handle. Returns 0, ERR_MEM, ERR_NOALPHA (alpha asked for but the
// picture has none; nothing stays allocated) or the platform loader's error, with the file
// name as message argument.
int LoadPluginPicture(const char* file, int loadAlpha, qvLoadedPicture* out);
// The size and depth of the picture in file, and whether it is a vector picture, without
// decoding it; false when no reader knows the file.
bool IdentifyPluginPicture(const char* file, qvPictureFormat* format, int* vector);

// Has the picture's plugin render it again under matrix (see qvTransformImageFn) into
// width x height pixels and builds the bitmaps from them. Returns 0, ERR_MEM, or ERR_TFIMAGE
// for a picture that no plugin decoded, or whose plugin fails.
int TransformPluginImage(qvVmState* L, const qvImageHandle* handle, const double matrix[4],
                         int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
                         qvDisplayBitMap** bitmap, qvPlaneBitMap** mask, qvPlaneBitMap** alpha);

namespace qv {

// Builds a picture's bitmaps from ARGB pixels (the background-picture library's image
// builder); returns 0 or an error code.
using PluginImageBuilder = int (*)(qvVmState* L, const uint32_t* pixels, int32_t width,
                                   int32_t height, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                                   qvPlaneBitMap** alpha);
// The library that owns the builder installs it; without one, transforming fails with
// ERR_TFIMAGE.
void SetPluginImageBuilder(PluginImageBuilder builder);
PluginImageBuilder InstalledPluginImageBuilder();

// The alpha bytes of width x height pixels as an 8-bit plane; none when memory is short.
qvPlaneBitMap* AlphaPlaneFromPixels(const uint32_t* pixels, int32_t width, int32_t height);

// One count of a handle, released with its owner.
struct ImageHandleRelease {
    void operator()(qvImageHandle* handle) const { ReleaseImageHandle(handle); }
};
using ImageHandleRef = std::unique_ptr<qvImageHandle, ImageHandleRelease>;

}  // namespace qv
