#include "objects/sprite/sprite_loader.h"

#include <span>

#include "gfx/blit_frontends.h"
#include "gfx/gfx_cache.h"
#include "gfx/masks.h"
#include "media/gif_frames.h"
#include "platform/linux/blocks.h"
#include "platform/linux/files.h"
#include "platform/linux/memory.h"
#include "runtime/errors.h"
#include "runtime/option_tables.h"

namespace qv::sprites {
namespace {

void ReadOptionalInt(qvVmState* L, int t, const char* field, std::optional<int32_t>* out) {
    int32_t value = 0;
    int found = 0;
    GetTableFieldInt(L, t, field, &value, &found);
    if (found != 0) *out = value;
}

// A mask in place of the frame's alpha plane: visible where the alpha is full and, with a
// colour key, where the key's mask shows the pixel too.
int AlphaBecomesMask(int32_t width, int32_t height, gfx::NewPicture* frame) {
    OwnedPlane mask(AllocMaskBitMap(nullptr, width, height, 1));
    if (!mask) return ERR_MEM;
    AlphaToMaskRect(frame->alpha.get(), 0, 0, mask.get(), 0, 0, width, height, 0);
    if (frame->mask) CombineMaskRect(frame->mask.get(), 0, 0, mask.get(), 0, 0, width, height, 4);
    frame->mask = std::move(mask);
    frame->alpha.reset();
    return 0;
}

// The planes of the width x height rectangle at (x, y) of the picture: a mask keyed out of the
// colour, the alpha plane cut along (or made the mask).
int MakePixelFrame(const PixelPicture& picture, int32_t x, int32_t y, int32_t width, int32_t height,
                   uint32_t transparent, gfx::NewPicture* out) {
    uint32_t* cut = nullptr;
    qvPlaneBitMap* alpha = nullptr;
    if (const int code = CropPixelArray(picture.pixels, picture.width, picture.alpha, x, y, width,
                                        height, &cut, &alpha)) {
        return code;
    }
    const BlockPtr<uint32_t> pixels(cut);
    out->alpha.reset(alpha);
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    if (const int code =
            PixelArrayToBitMap(cut, transparent, width, height, width, 0, &bitmap, &mask)) {
        return code;
    }
    out->bitmap.reset(bitmap), out->mask.reset(mask);
    return picture.alphaAsMask ? AlphaBecomesMask(width, height, out) : 0;
}

// The alpha plane of a GIF image when the frames need it: kept ("loadalpha"), or made a mask
// of its clear pixels (beside the pixels of a colour key, which the GIF shows as colours).
int GifPicture(const qvGifFrames& gif, size_t image, const SpriteLoadOptions& o, OwnedPlane* alpha,
               PixelPicture* out) {
    const uint32_t* pixels = gif.frames[image].get();
    const bool maskClear = gif.transparent && !o.loadAlpha;
    *out = {pixels, gif.width, gif.height, nullptr, maskClear};
    if (!o.loadAlpha && !maskClear) return 0;
    alpha->reset(AlphaPlaneFromPixels(pixels, gif.width, gif.height));
    out->alpha = alpha->get();
    return *alpha ? 0 : ERR_MEM;
}

// A sprite of every image of an animated GIF.
int SpriteOfGif(const qvGifFrames& gif, const SpriteLoadOptions& o, qvSprite** out) {
    auto make = [&](int32_t i, gfx::NewPicture* frame) -> int {
        OwnedPlane alpha;
        PixelPicture picture{};
        if (const int code = GifPicture(gif, size_t(i), o, &alpha, &picture)) return code;
        return MakePixelFrame(picture, 0, 0, gif.width, gif.height, o.transparent, frame);
    };
    qvObjectId id = AutomaticSpriteId();
    return AddSpriteOfNewFrames(&id, gif.width, gif.height, int32_t(gif.frames.size()),
                                o.transparent, make, out);
}

// The whole file through the file layer; an empty or unreadable file is ERR_LOADPICTURE.
int ReadFileBytes(const char* file, BlockPtr<uint8_t>* out, size_t* size) {
    FilePtr f(FileOpen(file, QV_FILE_READ));
    if (f == nullptr) return ERR_LOADPICTURE;
    FileSeek(f.get(), 0, QV_SEEK_END);
    const int64_t length = FileSeek(f.get(), 0, QV_SEEK_BEGINNING);
    if (length <= 0) return ERR_LOADPICTURE;
    out->reset(static_cast<uint8_t*>(AllocMemBlock(size_t(length), 0)));
    if (*out == nullptr) return ERR_MEM;
    if (FileRead(f.get(), out->get(), length) != length) return ERR_LOADPICTURE;
    *size = size_t(length);
    return 0;
}

bool IsGifFile(const char* file) {
    FilePtr f(FileOpen(file, QV_FILE_READ));
    uint8_t head[6] = {};
    return f != nullptr && FileRead(f.get(), head, sizeof head) == int64_t(sizeof head) &&
           IsGifData(head);
}

// The first image of a GIF joins the gfx cache under the file's name, as the picture loaders'
// pictures do, for the later declarations of that file.
int CacheFirstImage(const char* file, const qvGifFrames& gif) {
    const ImageHandleRef handle(NewImageHandle(gif.width, gif.height));
    if (!handle) return ERR_MEM;
    const size_t count = size_t(gif.width) * size_t(gif.height);
    std::copy_n(gif.frames[0].get(), count, GetImageHandlePixels(handle.get()));
    const OwnedPlane alpha(AlphaPlaneFromPixels(gif.frames[0].get(), gif.width, gif.height));
    if (!alpha) return ERR_MEM;
    return AddGfxCacheEntry(file, gif.width, gif.height, 0, handle.get(), alpha.get(), -1);
}

int LoadGif(qvVmState* L, const char* file, const SpriteLoadOptions& o, qvSprite** out) {
    BlockPtr<uint8_t> bytes;
    size_t size = 0;
    if (const int code = ReadFileBytes(file, &bytes, &size)) return ErrorWithText(code, file);
    qvGifFrames gif;
    if (const int code = DecodeGifFrames({bytes.get(), size}, &gif)) {
        return ErrorWithText(code, file);
    }
    if (Preloading(L) && o.cache.cache) {
        if (const int code = CacheFirstImage(file, gif)) return code;
    }
    if (!o.cut.Given()) return SpriteOfGif(gif, o, out);
    // A cut takes its frames from the first image.
    OwnedPlane alpha;
    PixelPicture picture{};
    if (const int code = GifPicture(gif, 0, o, &alpha, &picture)) return code;
    return SpriteOfPixels(picture, o.cut, o.transparent, out);
}

}  // namespace

int ReadSpriteLoadOptions(qvVmState* L, int t, SpriteLoadOptions* out) {
    if (VmType(L, t) != VM_TTABLE) return 0;
    GetTableFieldBool(L, t, "transparency", &out->transparent, nullptr);
    uint32_t loadAlpha = 0;
    GetTableFieldBool(L, t, "loadalpha", &loadAlpha, nullptr);
    out->loadAlpha = loadAlpha != 0;
    ReadOptionalInt(L, t, "width", &out->cut.width);
    ReadOptionalInt(L, t, "height", &out->cut.height);
    ReadOptionalInt(L, t, "frames", &out->cut.frames);
    ReadOptionalInt(L, t, "fpr", &out->cut.perRow);
    GetTableFieldInt(L, t, "x", &out->cut.x, nullptr);
    GetTableFieldInt(L, t, "y", &out->cut.y, nullptr);
    out->cache = ReadPictureCacheFlags(L, t);
    if (out->transparent != kNoTransparency) out->transparent &= 0xFFFFFF;
    return out->transparent != kNoTransparency && out->loadAlpha ? ERR_MASKNALPHA : 0;
}

int SpriteOfPixels(const PixelPicture& picture, const qvFrameCut& cut, uint32_t transparent,
                   qvSprite** out) {
    qvFrameGrid grid{};
    if (const int code = ResolveFrameCut(cut, picture.width, picture.height, &grid)) return code;
    auto make = [&](int32_t i, gfx::NewPicture* frame) -> int {
        int32_t x = 0, y = 0;
        FrameOrigin(grid, i, &x, &y);
        return MakePixelFrame(picture, x, y, grid.width, grid.height, transparent, frame);
    };
    qvObjectId id = AutomaticSpriteId();
    return AddSpriteOfNewFrames(&id, grid.width, grid.height, grid.frames, transparent, make, out);
}

int SpriteOfPlanes(const gfx::PictureView& picture, const qvFrameCut& cut,
                   uint32_t transparentColour, qvSprite** out) {
    qvFrameGrid grid{};
    if (const int code = ResolveFrameCut(cut, picture.width, picture.height, &grid)) return code;
    auto make = [&](int32_t i, gfx::NewPicture* frame) -> int {
        int32_t x = 0, y = 0;
        FrameOrigin(grid, i, &x, &y);
        return CopyPictureArea(picture, x, y, grid.width, grid.height, frame);
    };
    qvObjectId id = AutomaticSpriteId();
    return AddSpriteOfNewFrames(&id, grid.width, grid.height, grid.frames, transparentColour, make,
                                out);
}

int LoadSpriteFile(qvVmState* L, const char* file, const SpriteLoadOptions& o, qvSprite** out) {
    const bool fromCache = Preloading(L) && o.cache.cachedLoad;
    if (!fromCache && IsGifFile(file)) return LoadGif(L, file, o, out);
    CachedPicture picture;
    if (const int code = ReadCachedPicture(L, file, o.loadAlpha, o.cache, &picture)) return code;
    uint32_t key = o.transparent;
    if (key == kNoTransparency && picture.transparentColour >= 0) {
        key = uint32_t(picture.transparentColour);
    }
    const PixelPicture pixels{GetImageHandlePixels(picture.handle.get()), picture.width,
                              picture.height, picture.alpha.get()};
    return SpriteOfPixels(pixels, o.cut, key, out);
}

}  // namespace qv::sprites
