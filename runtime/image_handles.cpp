#include "runtime/image_handles.h"

#include <cstddef>

#include "platform/linux/blocks.h"
#include "runtime/errors.h"
#include "runtime/plugins/plugin_host.h"

namespace qv {
namespace {

PluginImageBuilder imageBuilder = nullptr;

// width x height x 4 bytes, computed where it cannot wrap; 0 for sizes that are none.
size_t PixelBytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
    return bytes <= SIZE_MAX ? static_cast<size_t>(bytes) : 0;
}

qvImageHandle* NewEmptyHandle() {
    qvImageHandle* handle = NewBlock<qvImageHandle>();
    if (handle != nullptr) handle->refCount = 1;
    return handle;
}

// Step 2: the first picture plugin in load order that takes the file; false when none does.
// A reader that loads the file but yields no pixels counts as not taking it.
bool LoadThroughPlugins(const char* file, qvImageHandle* handle, qvLoadedPicture* out,
                        bool* forceAlpha) {
    for (const qvPluginNode* node = Runtime().plugins; node != nullptr; node = node->next) {
        if ((node->capabilities & QV_PLUGIN_PICTUREREADER) == 0) continue;
        const qvPluginFunctions* f = GetPluginFunctions(node->record);
        qvPictureInfo info{};
        info.transparentColour = -1;
        void* picture = PluginEntryOf<qvLoadImageFn>(f, kLoadImage)(file, &info);
        if (picture == nullptr) continue;
        uint32_t* pixels = PluginEntryOf<qvGetImageFn>(f, kGetImage)(picture);
        if (pixels == nullptr) {
            PluginEntryOf<qvFreeImageFn>(f, kFreeImage)(picture);
            continue;
        }
        *handle = {f, picture, pixels, 1, 0};
        *out = {handle,
                nullptr,
                info.width,
                info.height,
                info.transparentColour,
                info.hasAlpha != 0 ? 1u : 0u,
                info.type == QV_PICTURE_VECTOR ? 1u : 0u};
        *forceAlpha = info.forceAlpha != 0;
        return true;
    }
    return false;
}

}  // namespace

qvPlaneBitMap* AlphaPlaneFromPixels(const uint32_t* pixels, int32_t width, int32_t height) {
    qvPlaneBitMap* plane = AllocAlphaBitMap(width, height, 0);
    if (plane == nullptr) return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = plane->plane + ptrdiff_t(y) * plane->bytesPerRow;
        const uint32_t* source = pixels + ptrdiff_t(y) * width;
        for (int32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>(source[x] >> 24);
    }
    return plane;
}

void SetPluginImageBuilder(PluginImageBuilder builder) {
    imageBuilder = builder;
}

PluginImageBuilder InstalledPluginImageBuilder() {
    return imageBuilder;
}

}  // namespace qv

qvImageHandle* NewImageHandle(int32_t width, int32_t height) {
    size_t bytes = qv::PixelBytes(width, height);
    if (bytes == 0) return nullptr;
    qv::BlockPtr<qvImageHandle> handle(qv::NewEmptyHandle());
    if (handle == nullptr) return nullptr;
    handle->pixels = static_cast<uint32_t*>(AllocMemBlock(bytes, 0));
    if (handle->pixels == nullptr) return nullptr;
    handle->ownsPixels = 1;
    return handle.release();
}

void AddImageHandleRef(qvImageHandle* handle) {
    ++handle->refCount;
}

uint32_t* GetImageHandlePixels(const qvImageHandle* handle) {
    return handle->pixels;
}

uint32_t GetImageHandleOwnsBuffer(const qvImageHandle* handle) {
    return handle->ownsPixels;
}

void ReleaseImageHandle(qvImageHandle* handle) {
    if (handle == nullptr || --handle->refCount > 0) return;
    if (handle->loader != nullptr) {
        qv::PluginEntryOf<qvFreeImageFn>(handle->loader, qv::kFreeImage)(handle->picture);
    } else {
        FreePictureDT(static_cast<qvPicture*>(handle->picture));
    }
    if (handle->ownsPixels != 0) FreeMemBlock(handle->pixels);
    qv::DeleteBlock(handle);
}

int LoadPluginPicture(const char* file, int loadAlpha, qvLoadedPicture* out) {
    *out = {};
    qvImageHandle* handle = qv::NewEmptyHandle();
    if (handle == nullptr) return ERR_MEM;
    qvLoadedPicture picture{};
    bool forceAlpha = false;
    if (qv::LoadThroughPlugins(file, handle, &picture, &forceAlpha)) {
        if (forceAlpha) loadAlpha = 1;
    } else {
        qvPicture* decoded;
        if (int result = LoadPictureDT(file, &decoded); result != 0) {
            qv::DeleteBlock(handle);
            SetErrorString(file);
            return result;
        }
        handle->picture = decoded;
        handle->pixels = decoded->pixels;
        picture = {handle, nullptr, decoded->width, decoded->height, -1, decoded->hasAlpha, 0};
    }
    if (loadAlpha != 0) {
        if (picture.hasAlpha == 0) {
            ReleaseImageHandle(handle);
            return ErrorWithText(ERR_NOALPHA, file);
        }
        // Step 4: the alpha bytes of the pixels as a plane of their own.
        picture.alpha = qv::AlphaPlaneFromPixels(handle->pixels, picture.width, picture.height);
        if (picture.alpha == nullptr) {
            ReleaseImageHandle(handle);
            return ERR_MEM;
        }
    }
    *out = picture;
    return 0;
}

bool IdentifyPluginPicture(const char* file, qvPictureFormat* format, int* vector) {
    for (const qvPluginNode* node = qv::Runtime().plugins; node != nullptr; node = node->next) {
        if ((node->capabilities & QV_PLUGIN_PICTUREREADER) == 0) continue;
        qvPictureInfo info{};
        info.transparentColour = -1;
        if (qv::PluginEntryOf<qvIsImageFn>(GetPluginFunctions(node->record), qv::kIsImage)(
                file, &info) == 0) {
            continue;
        }
        *format = {info.width, info.height, info.depth};
        *vector = info.type == QV_PICTURE_VECTOR ? 1 : 0;
        return true;
    }
    *vector = 0;
    return IdentifyPictureDT(file, format) == 0;
}

int TransformPluginImage(qvVmState* L, const qvImageHandle* handle, const double matrix[4],
                         int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
                         qvDisplayBitMap** bitmap, qvPlaneBitMap** mask, qvPlaneBitMap** alpha) {
    size_t bytes = qv::PixelBytes(width, height);
    if (handle == nullptr || handle->loader == nullptr || qv::imageBuilder == nullptr ||
        bytes == 0) {
        return ERR_TFIMAGE;
    }
    qv::BlockPtr<uint32_t> pixels(static_cast<uint32_t*>(AllocMemBlock(bytes, 1)));
    if (pixels == nullptr) return ERR_MEM;
    auto transform = qv::PluginEntryOf<qvTransformImageFn>(handle->loader, qv::kTransformImage);
    if (transform(handle->picture, matrix, sourceWidth, sourceHeight, width, height,
                  pixels.get()) == 0) {
        return ERR_TFIMAGE;
    }
    return qv::imageBuilder(L, pixels.get(), width, height, bitmap, mask, alpha);
}
