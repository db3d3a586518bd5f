// Brushes made, loaded, copied, freed, grabbed, converted from and to pixel tables and other
// objects, and saved. A command that makes a brush makes it whole under an automatic id and
// only then gives it a numeric id, so a failure leaves the list as it was.
#include <algorithm>

#include "engine/convert.h"
#include "gfx/blit_frontends.h"
#include "gfx/graphics_state.h"
#include "gfx/library/graphics_library.h"
#include "gfx/library/object_types.h"
#include "gfx/masks.h"
#include "gfx/save_picture.h"
#include "gfx/transform.h"
#include "objects/brush_library/commands.h"
#include "objects/cached_picture.h"
#include "objects/scene_seam.h"
#include "objects/text/text_objects.h"
#include "platform/linux/window.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/files.h"
#include "runtime/option_tables.h"
#include "runtime/report.h"
#include "scene/bgpic.h"
#include "scene/bgpic_library.h"

namespace qv::brushes {
namespace {

using gfx::NewPicture;

// The object types that name the planes of RGBArrayToBrush.
enum : int32_t { kNoPlanes = -1, kMaskPlane = 28, kAlphaPlane = 30 };

// Makes a brush of the planes under an automatic id and gives it the command's id.
int PublishPlanes(qvVmState* L, const NewBrushId& target, NewPicture* planes, int32_t width,
                  int32_t height, uint32_t transparentColour) {
    qvBrush* made = nullptr;
    if (const int code = AddBrush(AutomaticBrushId(), kBitmapBrush, width, height, width, 0,
                                  nullptr, planes->bitmap.get(), transparentColour,
                                  planes->mask.get(), planes->alpha.get(), &made)) {
        return code;
    }
    planes->bitmap.release(), planes->mask.release(), planes->alpha.release();
    return PublishNewBrush(L, target, made);
}

// What LoadBrush reads of its third (and later) arguments.
struct LoadOptions {
    uint32_t transparent = kNoTransparency;
    bool loadAlpha = false;
    bool globalAlphaGiven = false;
    int32_t globalAlpha = 255;
    int32_t x = 0, y = 0, width = 0, height = 0;
    bool hardware = false;
    PictureCacheFlags cache;
};

bool Flag(qvVmState* L, int t, const char* field) {
    uint32_t value = 0;
    GetTableFieldBool(L, t, field, &value, nullptr);
    return value != 0;
}

int ReadLoadOptions(qvVmState* L, LoadOptions* o) {
    const int type = VmType(L, 3);
    if (type <= VM_TNIL) return 0;
    if (type != VM_TTABLE) {
        // The older forms: a colour key (and two numbers that no longer mean anything).
        o->transparent = GetArgUInt32(L, 3);
    } else {
        GetTableFieldBool(L, 3, "transparency", &o->transparent, nullptr);
        o->loadAlpha = Flag(L, 3, "loadalpha");
        int found = 0;
        GetTableFieldInt(L, 3, "globalalpha", &o->globalAlpha, &found);
        o->globalAlphaGiven = found != 0;
        o->globalAlpha = std::clamp(o->globalAlpha, 0, 255);
        GetTableFieldInt(L, 3, "x", &o->x, nullptr);
        GetTableFieldInt(L, 3, "y", &o->y, nullptr);
        GetTableFieldInt(L, 3, "width", &o->width, nullptr);
        GetTableFieldInt(L, 3, "height", &o->height, nullptr);
        o->hardware = Flag(L, 3, "hardware");
        o->cache = ReadPictureCacheFlags(L, 3);
    }
    if (o->transparent != kNoTransparency && (o->loadAlpha || o->globalAlphaGiven)) {
        return ERR_MASKNALPHA;
    }
    return 0;
}

// "globalalpha": scales the alpha plane, or makes one of that level.
int ApplyGlobalAlpha(const LoadOptions& o, CachedPicture* p) {
    if (!o.globalAlphaGiven) return 0;
    const auto level = static_cast<uint8_t>(o.globalAlpha);
    if (p->alpha) {
        CopyPlane8(p->alpha.get(), p->alpha.get(), p->height, level);
        return 0;
    }
    p->alpha.reset(AllocAlphaBitMap(p->width, p->height, 0));
    if (!p->alpha) return ERR_MEM;
    FillPlane8Rect(p->alpha.get(), 0, 0, p->width, p->height, level);
    return 0;
}

// The rectangle to load, cut to the picture.
int CropRectangle(const CachedPicture& p, LoadOptions* o) {
    if (o->x < 0 || o->y < 0) return ERR_NEGCOORDS;
    if (o->x >= p.width || o->y >= p.height) return ERR_COORDSRANGE;
    if (o->width < 1) o->width = p.width;
    if (o->height < 1) o->height = p.height;
    o->width = std::min(o->width, p.width - o->x);
    o->height = std::min(o->height, p.height - o->y);
    const bool whole = o->width == p.width && o->height == p.height;
    return p.vector && !whole ? ERR_BRUSHTYPE : 0;
}

// A preloaded brush keeps its picture; the first display converts it (RebuildBrushes).
int AddPreloadedBrush(const LoadOptions& o, uint32_t key, CachedPicture* p, qvBrush** made) {
    if (const int code = AddBrush(AutomaticBrushId(), p->vector ? kVectorBrush : kBitmapBrush,
                                  p->width, p->height, p->width, 0, p->handle.get(), nullptr, key,
                                  nullptr, p->alpha.get(), made)) {
        return code;
    }
    p->handle.release(), p->alpha.release();
    qvBrush* b = *made;
    b->cropX = o.x, b->cropY = o.y, b->cropWidth = o.width, b->cropHeight = o.height;
    b->hardware = o.hardware ? 1 : 0;
    return 0;
}

// A brush made now from the rectangle of the picture's pixels.
int AddLoadedBrush(const LoadOptions& o, uint32_t key, CachedPicture* p, qvBrush** made) {
    const uint32_t* pixels = GetImageHandlePixels(p->handle.get());
    int32_t rowLength = p->width;
    BlockPtr<uint32_t> crop;
    if (o.width != p->width || o.height != p->height) {
        uint32_t* cut = nullptr;
        qvPlaneBitMap* alpha = nullptr;
        if (const int code = CropPixelArray(pixels, p->width, p->alpha.get(), o.x, o.y, o.width,
                                            o.height, &cut, &alpha)) {
            return code;
        }
        crop.reset(cut);
        p->alpha.reset(alpha);
        pixels = cut, rowLength = o.width;
    }
    const bool hardware = o.hardware && HardwareBrushesAllowed();
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap* mask = nullptr;
    if (const int code = PixelArrayToBitMap(pixels, key, o.width, o.height, rowLength,
                                            hardware ? 1 : 0, &bitmap, &mask)) {
        return code;
    }
    NewPicture planes;
    planes.bitmap.reset(bitmap), planes.mask.reset(mask);
    // Only a vector brush renders from its source again.
    qvImageHandle* source = p->vector && !hardware ? p->handle.get() : nullptr;
    if (const int code =
            AddBrush(AutomaticBrushId(), source != nullptr ? kVectorBrush : kBitmapBrush, o.width,
                     o.height, o.width, 0, source, bitmap, key, mask, p->alpha.get(), made)) {
        return code;
    }
    planes.bitmap.release(), planes.mask.release(), p->alpha.release();
    if (source != nullptr) p->handle.release();
    qvBrush* b = *made;
    b->cropX = o.x, b->cropY = o.y, b->cropWidth = o.width, b->cropHeight = o.height;
    if (hardware) {
        b->hardware = 1;
        MergeHardwarePlanes(b);
    }
    return 0;
}

// The source of BrushLinkEx: a rectangle of an object's planes, or its lookup error.
int FindLinkSource(qvVmState* L, int32_t type, int sourceIdx, const NewBrushId& target,
                   int32_t frame, objects::PicturePart* out, uint32_t* transparentColour) {
    if (type == gfx::kTypeLayer) {
        qvDisplay* display = gfx::Graphics().Host().CurrentDisplay();
        if (display == nullptr || !gfx::Graphics().View(display).layersEnabled) return ERR_NOLAYERS;
        return objects::Scene().LayerPicture(L, sourceIdx, frame, out);
    }
    const qvObjectId id = GetObjectIdArg(L, sourceIdx);
    gfx::PictureView& planes = out->planes;
    switch (type) {
        case gfx::kTypeBGPic: {
            qvBGPic* picture = nullptr;
            if (const int code = GetBGPic(L, id, &picture, 0)) return code;
            planes = {picture->scaled.bitmap, picture->scaled.mask, picture->scaled.alpha,
                      picture->width, picture->height};
            break;
        }
        case gfx::kTypeBrush: {
            if (!target.automatic && id.handle == nullptr && id.number == target.number) {
                return ERR_WRONGUSAGE;
            }
            qvBrush* b = nullptr;
            if (const int code = GetBrush(L, id, &b, 0)) return code;
            planes = {b->bitmap, b->mask, b->alpha, b->width, b->height};
            *transparentColour = b->transparentColour;
            break;
        }
        case gfx::kTypeAnim:
            // No animation is kept in memory yet.
            return ObjectNotFound(id, ERR_FINDANIM);
        case gfx::kTypeTextObject: {
            qvTextObject* object = nullptr;
            if (const int code = FindTextObject(L, id, &object, 0)) return code;
            planes = {object->bitmap, object->mask, object->alpha, object->width, object->height};
            break;
        }
        case gfx::kTypeSprite: {
            int32_t frames = 0;
            if (const int code = gfx::Neighbour().GetSprite(L, id, &frames, &planes)) return code;
            if (frame < 1 || frame > frames) return ERR_ANIMFRAME;
            gfx::Neighbour().GetSpriteFrame(id, frame - 1, &planes);
            break;
        }
        default:
            return ERR_WRONGUSAGE;
    }
    out->x = out->y = 0;
    out->width = planes.width, out->height = planes.height;
    return 0;
}

// BrushLinkEx: a new brush of copies of an object's planes.
int BrushLinkEx(qvVmState* L, int32_t type, int sourceIdx, const NewBrushId& target,
                int32_t frame) {
    objects::PicturePart source{};
    uint32_t transparentColour = kNoTransparency;
    if (const int code =
            FindLinkSource(L, type, sourceIdx, target, frame, &source, &transparentColour)) {
        return code;
    }
    if (const int code = CheckBrushReplaceable(target)) return code;
    const gfx::PictureView& from = source.planes;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    if (const int code = CopyBitmapArea(from.bitmap, from.mask, from.alpha, source.x, source.y,
                                        source.width, source.height, 0, &bitmap, &mask, &alpha)) {
        return code;
    }
    NewPicture planes;
    planes.bitmap.reset(bitmap), planes.mask.reset(mask), planes.alpha.reset(alpha);
    if (transparentColour == kNoTransparency && mask != nullptr) {
        transparentColour = kMaskWithoutKey;
    }
    return PublishPlanes(L, target, &planes, source.width, source.height, transparentColour);
}

// The pixel i of a table as 0xAARRGGBB: ERR_NOTENOUGHPIXELS when it is missing,
// ERR_NUMCALLBACK when it is not a number.
int TablePixel(qvVmState* L, int t, int i, uint32_t* argb) {
    VmRawGetI(L, t, i);
    const int type = VmType(L, -1);
    if (type == VM_TNUMBER) *argb = Bits32(VmToNumber(L, -1));
    VmSetTop(L, -2);
    if (type == VM_TNIL) return ERR_NOTENOUGHPIXELS;
    return type == VM_TNUMBER ? 0 : ERR_NUMCALLBACK;
}

int FillFromTable(qvVmState* L, qvBrush* b, bool invert) {
    ScopedBitMapLock lock(b->bitmap);
    if (!lock) return ERR_LOCKBMAP;
    int i = 0;
    for (int32_t y = 0; y < b->height; ++y) {
        uint8_t* row = lock->base + size_t(y) * lock->rowLength * lock->bytesPerPixel;
        for (int32_t x = 0; x < b->width; ++x, ++i) {
            uint32_t argb = 0;
            if (const int code = TablePixel(L, 2, i, &argb)) return code;
            const uint8_t rgb[3] = {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)};
            WritePixelRGB(row + size_t(x) * lock->bytesPerPixel, lock->format, rgb);
            const auto a = static_cast<uint8_t>(invert ? 255 - (argb >> 24) : argb >> 24);
            if (b->mask != nullptr && a != 0) {
                b->mask->plane[size_t(y) * b->mask->bytesPerRow + (x >> 3)] |=
                    uint8_t(0x80 >> (x & 7));
            }
            if (b->alpha != nullptr) b->alpha->plane[size_t(y) * b->alpha->bytesPerRow + x] = a;
        }
    }
    return 0;
}

// The A of a pixel of BrushToRGBArray: from the alpha plane, else the mask, else opaque.
uint32_t PixelAlpha(const qvBrush* b, int32_t x, int32_t y) {
    if (b->alpha != nullptr) return b->alpha->plane[size_t(y) * b->alpha->bytesPerRow + x];
    if (b->mask == nullptr) return 255;
    return (b->mask->plane[size_t(y) * b->mask->bytesPerRow + (x >> 3)] & (0x80 >> (x & 7))) != 0
               ? 255
               : 0;
}

}  // namespace

int CreateBrush(qvVmState* L) {
    CheckArgCount(L, 3, 5);
    const NewBrushId target = GetNewObjectIdArg(L, 1);
    const int32_t width = GetOptIntArg(L, 2, nullptr), height = GetOptIntArg(L, 3, nullptr);
    const uint32_t colour = GetOptArgUInt32(L, 4, 0);
    bool mask = false, alpha = false, clear = false;
    if (VmType(L, 5) == VM_TTABLE) {
        alpha = Flag(L, 5, "alphachannel");
        mask = Flag(L, 5, "mask");
        clear = Flag(L, 5, "clear");
    }
    if (width < 1 || height < 1) return ERR_BADDIMENSIONS;
    if (mask && alpha) return ERR_WRONGUSAGE;
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    if (const int code = CheckBrushReplaceable(target)) return code;
    qvBrush* made = nullptr;
    if (const int code = CreateBrushBitmaps(AutomaticBrushId(), width, height, colour & 0xFFFFFF,
                                            mask, alpha, clear, false, &made)) {
        return code;
    }
    return PublishNewBrush(L, target, made);
}

int LoadBrush(qvVmState* L) {
    CheckArgCount(L, 2, 5);
    const NewBrushId target = GetNewObjectIdArg(L, 1);
    const char* file = GetStringArgResolved(L, 2, 0, nullptr);
    LoadOptions options;
    if (const int code = ReadLoadOptions(L, &options)) return code;
    if (const int code = CheckBrushReplaceable(target)) return code;
    PrintLoadingMessage("Loading brush %s", file, 1);
    CachedPicture picture;
    if (const int code = ReadCachedPicture(L, file, options.loadAlpha, options.cache, &picture)) {
        return code;
    }
    if (const int code = ApplyGlobalAlpha(options, &picture)) return code;
    if (const int code = CropRectangle(picture, &options)) return code;
    // A vector picture has no colour to key.
    const uint32_t key = picture.vector || options.transparent == kNoTransparency
                             ? kNoTransparency
                             : options.transparent & 0xFFFFFF;
    qvBrush* made = nullptr;
    const int code = Preloading(L) ? AddPreloadedBrush(options, key, &picture, &made)
                                   : AddLoadedBrush(options, key, &picture, &made);
    if (code != 0) return code;
    const int results = PublishNewBrush(L, target, made);
    if (results < ERR_MEM) PrintLoadingDone();
    return results;
}

int CopyBrush(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    const qvObjectId sourceId = GetObjectIdArg(L, 1);
    const NewBrushId target = GetNewObjectIdArg(L, 2);
    const bool hardware = VmType(L, 3) == VM_TTABLE && Flag(L, 3, "hardware");
    if (!target.automatic && sourceId.handle == nullptr && sourceId.number == target.number) {
        return ERR_WRONGUSAGE;
    }
    qvBrush* source = nullptr;
    if (const int code = GetBrush(L, sourceId, &source, QV_BRUSH_HARDWARE)) return code;
    if (source->hardware != 0 && !hardware) return ERR_WRONGUSAGE;
    if (const int code = CheckBrushReplaceable(target)) return code;
    qvBrush* copy = nullptr;
    if (const int code = CopyBrushEx(L, source, AutomaticBrushId(), hardware, &copy)) return code;
    return PublishNewBrush(L, target, copy);
}

int FreeBrush(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return FreeBrushById(L, GetObjectIdArg(L, 1), true);
}

int GrabDesktop(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const NewBrushId target = GetNewObjectIdArg(L, 1);
    const auto screenWidth = static_cast<int32_t>(QueryBitMapAttr(nullptr, 14));
    const auto screenHeight = static_cast<int32_t>(QueryBitMapAttr(nullptr, 15));
    int32_t x = 0, y = 0, width = screenWidth, height = screenHeight;
    if (VmType(L, 2) == VM_TTABLE) {
        GetTableFieldInt(L, 2, "x", &x, nullptr);
        GetTableFieldInt(L, 2, "y", &y, nullptr);
        GetTableFieldInt(L, 2, "width", &width, nullptr);
        GetTableFieldInt(L, 2, "height", &height, nullptr);
    }
    if (x < 0 || y < 0) return ERR_WRONGUSAGE;
    width = int32_t(std::min<int64_t>(width, int64_t(screenWidth) - x));
    height = int32_t(std::min<int64_t>(height, int64_t(screenHeight) - y));
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (const int code = CheckBrushReplaceable(target)) return code;
    NewPicture planes;
    planes.bitmap.reset(GrabScreenToBitMap(nullptr, x, y, width, height));
    if (!planes.bitmap) return ERR_MEM;
    return PublishPlanes(L, target, &planes, width, height, kNoTransparency);
}

int RGBArrayToBrush(qvVmState* L) {
    CheckArgCount(L, 4, 6);
    const NewBrushId target = GetNewObjectIdArg(L, 1);
    CheckArgTable(L, 2);
    const double width = GetArgNumber(L, 3), height = GetArgNumber(L, 4);
    const int32_t planes = Trunc32(GetOptArgNumber(L, 5, kNoPlanes));
    const bool invert = GetOptIntArg(L, 6, nullptr) != 0;
    if (!(width >= 1) || !(height >= 1)) return ERR_BADDIMENSIONS;
    // Sides beyond the largest bitmap are refused before the table is read.
    if (width > kMaxBitMapSide || height > kMaxBitMapSide) return ERR_MEM;
    if (planes != kNoPlanes && planes != kMaskPlane && planes != kAlphaPlane) {
        return ERR_WRONGUSAGE;
    }
    if (const int code = CheckBrushReplaceable(target)) return code;
    qvBrush* made = nullptr;
    if (const int code =
            CreateBrushBitmaps(AutomaticBrushId(), Trunc32(width), Trunc32(height), 0,
                               planes == kMaskPlane, planes == kAlphaPlane, true, true, &made)) {
        return code;
    }
    if (const int code = FillFromTable(L, made, invert)) {
        FreeBrushById(L, {0, made}, false);
        return code;
    }
    return PublishNewBrush(L, target, made);
}

int BrushToRGBArray(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const bool invert = GetOptIntArg(L, 2, nullptr) != 0;
    qvBrush* b = nullptr;
    if (const int code = GetBrush(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    ScopedBitMapLock lock(b->bitmap);
    if (!lock) return ERR_LOCKBMAP;
    VmNewTable(L);
    int i = 0;
    for (int32_t y = 0; y < b->height; ++y) {
        const uint8_t* row = lock->base + size_t(y) * lock->rowLength * lock->bytesPerPixel;
        for (int32_t x = 0; x < b->width; ++x, ++i) {
            uint8_t rgb[3];
            ReadPixelRGB(row + size_t(x) * lock->bytesPerPixel, lock->format, rgb);
            uint32_t a = PixelAlpha(b, x, y);
            if (invert) a = 255 - a;
            VmPushNumber(L,
                         (a << 24) | (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2]);
            VmRawSetI(L, -2, i);
        }
    }
    return 1;
}

int ConvertToBrush(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const int32_t type = Trunc32(GetArgNumber(L, 1));
    const NewBrushId target = GetNewObjectIdArg(L, 3);
    const int32_t frame = Trunc32(GetOptArgNumber(L, 4, 1));
    return BrushLinkEx(L, type, 2, target, frame);
}

int GetBrushLink(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const NewBrushId target = GetNewObjectIdArg(L, 1);
    const int32_t type = Trunc32(GetArgNumber(L, 2));
    const int32_t frame = Trunc32(GetOptArgNumber(L, 4, 1));
    return BrushLinkEx(L, type, 3, target, frame);
}

int CreateGradientBrush(qvVmState* L) {
    CheckArgCount(L, 4, 8);
    return scene::MakeGradientImage(L, scene::kGradientArgs, true);
}

int CreateTexturedBrush(qvVmState* L) {
    CheckArgCount(L, 2, 6);
    return scene::MakeTexturedImage(L, true);
}

int SaveBrush(qvVmState* L) {
    CheckArgCount(L, 2, 5);
    const char* file = GetArgString(L, 2, nullptr);
    const uint32_t colour = GetOptArgUInt32(L, 3, 0);
    const int32_t format = Trunc32(GetOptArgNumber(L, 4, IMGFMT_BMP));
    int32_t quality = 90, colours = 256, dither = 0;
    ParseSaveOptions(L, 5, &quality, &colours, &dither);
    qvBrush* b = nullptr;
    if (const int code = GetBrush(L, GetObjectIdArg(L, 1), &b, 0)) return code;
    return SaveBitmap(format, b->bitmap, b->width, b->height, file, b->mask, colour, b->alpha,
                      quality, colours, dither);
}

}  // namespace qv::brushes
