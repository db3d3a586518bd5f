#include "scene/bgpic.h"

#include <algorithm>
#include <cstring>

#include "gfx/blit_frontends.h"
#include "gfx/library/neighbours.h"
#include "gfx/library/object_list.h"
#include "gfx/library/object_types.h"
#include "gfx/masks.h"
#include "gfx/scale.h"
#include "gfx/transform.h"
#include "platform/linux/lists.h"
#include "runtime/lists.h"
#include "scene/layers/layer.h"

namespace qv::scene {
namespace {

using gfx::kTypeBGPic;
using gfx::kTypeBGPicPart;
using gfx::kTypeBrush;
using gfx::kTypeBrushPart;
using gfx::kTypeClipRegion;
using gfx::kTypeNoObject;

constexpr size_t kPaletteBytes = 256 * sizeof(qvARGB);

qvObjectHeader* pictures = nullptr;
BGPicHost* installed = nullptr;
FreeButtonsHook freeButtons = nullptr;

qvBGPic* AsBGPic(qvObjectHeader* header) {
    return reinterpret_cast<qvBGPic*>(header);
}

qvObjectId IdOf(const qvBGPic* picture) {
    return {picture->header.id, picture->header.handle};
}

bool SameId(qvObjectId a, qvObjectId b) {
    return a.number == b.number && a.handle == b.handle;
}

// Calls visit for every layer of every picture until it returns true; true when it did.
template <typename Visit>
bool AnyLayer(Visit visit) {
    for (qvObjectHeader* h = pictures; h != nullptr; h = h->next) {
        bool hit = false;
        ForEachLayer(&AsBGPic(h)->layers, [&](qvLayer* layer) { hit = hit || visit(layer); });
        if (hit) return true;
    }
    return false;
}

// Whether the layer shows the object: the same id pair with the object's type, or for a brush
// a brush part, or for anything else a picture part (pictures) or the type of a layer being
// removed. A clip region is used by a layer when one of its items refers to the region
// record.
bool LayerShows(const qvLayer* layer, uint32_t type, qvObjectId id, const void* object) {
    if (type == kTypeClipRegion) {
        const auto items = DistinctItems(layer);
        return std::any_of(items.begin(), items.end(), [object](const qvLayerItem* item) {
            return item != nullptr && item->clipRegion == object;
        });
    }
    if (!SameId(layer->objectId, id)) return false;
    if (layer->type == type) return true;
    if (type == kTypeBrush) return layer->type == kTypeBrushPart;
    return layer->type == kTypeNoObject || (type == kTypeBGPic && layer->type == kTypeBGPicPart);
}

bool AnyLayerShows(uint32_t type, qvObjectId id, const void* object) {
    return AnyLayer([&](const qvLayer* layer) { return LayerShows(layer, type, id, object); });
}

// Points every layer that shows the object at target; true when there was one.
bool RepointLayers(uint32_t type, qvObjectId id, const void* object, qvObjectId target) {
    bool any = false;
    AnyLayer([&](qvLayer* layer) {
        if (LayerShows(layer, type, id, object)) layer->objectId = target, any = true;
        return false;
    });
    return any;
}

void FreeSet(const qvBGPicSet& set) {
    FreeDisplayBitMap(set.bitmap);
    FreePlaneBitMap(set.mask);
    FreePlaneBitMap2(set.alpha);
}

void DeleteBGPic(qvVmState* L, qvBGPic* picture) {
    FreeBGPicContents(L, picture);
    DeleteBlock(picture);
}

void Unlink(qvBGPic* picture) {
    UnlinkObject(&pictures, &picture->header);
}

// An orphan that nothing reaches any more: no display shows it, no drawing goes into it and
// no layer shows it.
bool Unreached(qvBGPic* picture) {
    return picture->orphan != 0 && !Host().ShownByDisplay(picture) &&
           !Host().DrawingInto(IdOf(picture)) && !AnyLayerShows(kTypeBGPic, IdOf(picture), picture);
}

// The copy-on-write clone of a picture.
int CloneBGPicForLayers(qvVmState* L, void* object, void** cloneHandle) {
    qvObjectId id = AutomaticId();
    qvBGPic* copy = nullptr;
    const int code = CopyBGPicEx(L, static_cast<const qvBGPic*>(object), &id, &copy);
    if (code == 0) *cloneHandle = copy;
    return code;
}

// The size of a set's parts.
void SetSize(const qvBGPicSet& set, int32_t* width, int32_t* height) {
    if (set.bitmap != nullptr) {
        *width = set.bitmap->width, *height = set.bitmap->height;
    } else if (set.mask != nullptr || set.alpha != nullptr) {
        const qvPlaneBitMap* plane = set.mask != nullptr ? set.mask : set.alpha;
        *width = plane->width, *height = plane->height;
    } else {
        *width = *height = 0;
    }
}

bool SameSet(const qvBGPicSet& a, const qvBGPicSet& b) {
    return a.bitmap == b.bitmap && a.mask == b.mask && a.alpha == b.alpha;
}

int CopySet(const qvBGPicSet& set, int32_t width, int32_t height, gfx::NewPicture* out) {
    if (set.bitmap == nullptr && set.mask == nullptr && set.alpha == nullptr) return 0;
    qvDisplayBitMap* bitmap = nullptr;
    qvPlaneBitMap *mask = nullptr, *alpha = nullptr;
    const int code = CopyBitmapArea(set.bitmap, set.mask, set.alpha, 0, 0, width, height, 0,
                                    &bitmap, &mask, &alpha);
    out->bitmap.reset(bitmap), out->mask.reset(mask), out->alpha.reset(alpha);
    return code;
}

qvBGPicSet View(const gfx::NewPicture& made) {
    return {made.bitmap.get(), made.mask.get(), made.alpha.get()};
}

// The texture brush's bitmap, copied into the fill.
int CopyTextureBrush(qvVmState* L, qvBGPicFill* fill) {
    gfx::PictureView brush{};
    if (int code = gfx::Neighbour().GetBrush(L, fill->textureBrush, &brush)) return code;
    return CopyBitmapArea(brush.bitmap, nullptr, nullptr, 0, 0, brush.width, brush.height, 0,
                          &fill->texture, nullptr, nullptr);
}

// Paints the whole bitmap with the fill: a gradient, the texture tiled from its offsets, or
// the fill colour (black without a fill).
int PaintFill(qvVmState* L, qvDisplayBitMap* bitmap, qvBGPicFill* fill) {
    const int32_t width = bitmap->width, height = bitmap->height;
    const int32_t style = fill != nullptr ? fill->style : QV_FILL_NONE;
    if (style == QV_FILL_GRADIENT) {
        DrawGradient(bitmap, 0, 0, width, height, &fill->gradient);
    } else if (style == QV_FILL_TEXTURE) {
        if (fill->texture == nullptr) {
            if (int code = CopyTextureBrush(L, fill)) return code;
        }
        const qvDisplayBitMap* tile = fill->texture;
        TileFill(bitmap, 0, 0, width, height, tile, fill->textureX, fill->textureY, tile->width,
                 tile->height);
    } else {
        RectFill(bitmap, 0, 0, width, height, fill != nullptr ? fill->colour : 0);
    }
    return 0;
}

}  // namespace

BGPicHost& Host() {
    static BGPicHost none;
    return installed != nullptr ? *installed : none;
}

void SetBGPicHost(BGPicHost* host) {
    installed = host;
}

void SetFreeButtons(FreeButtonsHook hook) {
    freeButtons = hook;
}

FreeButtonsHook InstalledFreeButtons() {
    return freeButtons;
}

qvObjectHeader** BGPicList() {
    return &pictures;
}

}  // namespace qv::scene

using namespace qv::scene;

int AddBGPic(qvObjectId* id, BGPicParts* parts, qvBGPic** out) {
    *out = nullptr;
    auto* picture = qv::NewBlock<qvBGPic>();
    if (picture == nullptr) return ERR_MEM;
    const bool automatic = id->handle != nullptr;
    picture->header = qv::NewObjectHeader(kTypeBGPic, id->number, automatic, picture);
    if (automatic) id->handle = picture;
    NewList(&picture->layers);
    picture->image = parts->image.release();
    picture->base = {parts->bitmap.release(), parts->mask.release(), parts->alpha.release()};
    picture->shown = picture->scaled = picture->base;
    picture->shownWidth = picture->width = picture->baseWidth = parts->width;
    picture->shownHeight = picture->height = picture->baseHeight = parts->height;
    picture->alphaMode = parts->alphaMode;
    picture->transparentColour = parts->transparentColour;
    picture->palette = parts->palette.release();
    picture->fill = parts->fill;
    parts->fill.texture = nullptr;
    picture->vector = parts->vector;
    AppendObject(&pictures, &picture->header);
    *out = picture;
    return 0;
}

int GetBGPic(qvVmState* L, qvObjectId id, qvBGPic** out, int flags) {
    *out = qv::gfx::FindObject<qvBGPic>(pictures, id, [flags](const qvBGPic& picture) {
        return picture.orphan != 0 && (flags & QV_BGPIC_ORPHANS) == 0;
    });
    if (*out == nullptr) return qv::ObjectNotFound(id, ERR_FINDBGPIC);
    if ((flags & QV_BGPIC_MODIFY) == 0) return 0;
    int code = (*out)->locked != 0 ? ERR_LOCKEDOBJ : 0;
    if (code == 0 && (flags & QV_BGPIC_NOCOPY) == 0) code = DetachBGPic(L, *out);
    if (code != 0) *out = nullptr;
    return code;
}

int DetachBGPic(qvVmState* L, qvBGPic* picture) {
    void* clone = nullptr;
    const int code =
        DetachObjectFromLayers(L, kTypeBGPic, IdOf(picture), CloneBGPicForLayers, picture, &clone);
    if (clone != nullptr) static_cast<qvBGPic*>(clone)->orphan = 1;
    return code;
}

int FreeBGPicById(qvVmState* L, qvObjectId id, int report) {
    if (Host().DrawingInto(id)) return ERR_MODIFYABGPIC;
    qvBGPic* picture = nullptr;
    if (int code = GetBGPic(L, id, &picture, QV_BGPIC_MODIFY | QV_BGPIC_NOCOPY)) {
        return report != 0 || code == ERR_LOCKEDOBJ ? code : 0;
    }
    const bool shown = Host().ShownByDisplay(picture);
    const bool layered = ObjectInUseByLayers(kTypeBGPic, id, picture);
    if (shown || layered) {
        picture->header.id = 0;
        picture->header.handle = picture;
        picture->orphan = 1;
        return 0;
    }
    Unlink(picture);
    DeleteBGPic(L, picture);
    return 0;
}

void FreeBGPicContents(qvVmState* L, qvBGPic* picture) {
    FreeLayerList(L, picture);
    ReleaseImageHandle(picture->image);
    FreeSet(picture->base);
    FreeScaledBGPicBitmaps(picture);
    FreeMemBlock(picture->palette);
    FreeDisplayBitMap(picture->fill.texture);
    if (freeButtons != nullptr) freeButtons(L, picture);
    qv::DrainList(&picture->sprites, FreeMemBlock);
    FreeRefList(L, picture->header.data);
    picture->image = nullptr;
    picture->base = picture->scaled = picture->shown = {};
    picture->palette = nullptr;
    picture->fill.texture = nullptr;
    picture->buttons = nullptr;
    picture->header.data = nullptr;
}

void FreeScaledBGPicBitmaps(qvBGPic* picture) {
    const qvBGPicSet &base = picture->base, &scaled = picture->scaled, &shown = picture->shown;
    if (scaled.bitmap != base.bitmap) FreeDisplayBitMap(scaled.bitmap);
    if (scaled.mask != base.mask) FreePlaneBitMap(scaled.mask);
    if (scaled.alpha != base.alpha) FreePlaneBitMap2(scaled.alpha);
    if (shown.bitmap != base.bitmap && shown.bitmap != scaled.bitmap) {
        FreeDisplayBitMap(shown.bitmap);
    }
    if (shown.mask != base.mask && shown.mask != scaled.mask) FreePlaneBitMap(shown.mask);
    if (shown.alpha != base.alpha && shown.alpha != scaled.alpha) FreePlaneBitMap2(shown.alpha);
}

void FreeAllBGPics(qvVmState* L) {
    qv::DrainList(&pictures, [L](qvObjectHeader* h) { DeleteBGPic(L, AsBGPic(h)); });
}

void FreeOrphanBGPics(qvVmState* L) {
    // One at a time from the head: freeing a picture's layers may orphan or free others.
    while (qvObjectHeader* h = qv::TakeFromList(
               &pictures, [](qvObjectHeader* p) { return Unreached(AsBGPic(p)); })) {
        DeleteBGPic(L, AsBGPic(h));
    }
}

int DetachObjectFromLayers(qvVmState* L, uint32_t type, qvObjectId id, qvCloneForLayers clone,
                           void* object, void** cloneHandle) {
    if (!AnyLayerShows(type, id, object)) return 0;
    void* handle = nullptr;
    if (int code = clone(L, object, &handle)) return code;
    if (type != kTypeClipRegion) RepointLayers(type, id, object, {0, handle});
    *cloneHandle = handle;
    return 0;
}

bool ObjectInUseByLayers(uint32_t type, qvObjectId id, void* orphan) {
    if (type == kTypeClipRegion) return AnyLayerShows(type, id, orphan);
    return RepointLayers(type, id, orphan, {0, orphan});
}

bool ObjectInUseByOtherLayers(uint32_t type, qvObjectId id, const void* object,
                              const qvLayer* layer) {
    return AnyLayer([&](const qvLayer* other) {
        return other != layer && LayerShows(other, type, id, object);
    });
}

void ClearLayerClipRegionRefs(const qvClipRegion* region) {
    AnyLayer([region](const qvLayer* layer) {
        for (qvLayerItem* item : DistinctItems(layer)) {
            if (item != nullptr && item->clipRegion == region) item->clipRegion = nullptr;
        }
        return false;
    });
}

void ClearPictureClipRegionRefs(const qvClipRegion* region) {
    for (qvObjectHeader* h = pictures; h != nullptr; h = h->next) {
        if (AsBGPic(h)->clipRegion == region) AsBGPic(h)->clipRegion = nullptr;
    }
}

int32_t CountAllLayers() {
    int32_t count = 0;
    AnyLayer([&count](const qvLayer*) {
        ++count;
        return false;
    });
    return count;
}

bool HasLayersOrSprites(const qvBGPic* picture) {
    return !IsListEmpty(&picture->layers) || picture->sprites != nullptr;
}

bool RectHitsSprite(const qvBGPic* picture, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (width < 1 || height < 1) return false;
    for (const qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
        if (int64_t{x} < int64_t{s->x} + s->width && int64_t{s->x} < int64_t{x} + width &&
            int64_t{y} < int64_t{s->y} + s->height && int64_t{s->y} < int64_t{y} + height) {
            return true;
        }
    }
    return false;
}

void ClearSpriteClipRegionRefs(qvVmState* L, const qvClipRegion* region) {
    qvBGPic* picture = Host().CurrentDisplayPicture();
    if (picture == nullptr) return;
    int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    for (qvSpriteInstance* s = picture->sprites; s != nullptr; s = s->next) {
        if (s->clipRegion != region) continue;
        s->clipRegion = nullptr;
        left = std::min(left, s->x), top = std::min(top, s->y);
        right = std::max(right, s->x + s->width), bottom = std::max(bottom, s->y + s->height);
    }
    if (left < right && top < bottom) Host().RefreshRect(L, left, top, right - left, bottom - top);
}

int RebuildBGPics(qvVmState* L) {
    for (qvObjectHeader* h = pictures; h != nullptr; h = h->next) {
        qvBGPic* picture = AsBGPic(h);
        // A picture made while preloading keeps its pixels in its image handle, or (a display's
        // own picture) is made of its fill alone.
        const bool fillOnly = picture->image == nullptr && picture->base.bitmap == nullptr &&
                              picture->fill.style != QV_FILL_NONE;
        if (picture->image == nullptr && !fillOnly) continue;
        qvDisplayBitMap* bitmap = nullptr;
        qvPlaneBitMap* mask = nullptr;
        qvPlaneBitMap* alpha = picture->base.alpha;
        const qvARGB* pixels = fillOnly ? nullptr : GetImageHandlePixels(picture->image);
        if (int code =
                MakeBGPicImage(L, pixels, &picture->fill, picture->transparentColour,
                               picture->baseWidth, picture->baseHeight, &bitmap, &mask, &alpha)) {
            return code;
        }
        if (picture->vector == 0) {
            ReleaseImageHandle(picture->image);
            picture->image = nullptr;
        }
        // The old base alpha plane went into the new set, or was drawn and freed.
        FreeScaledBGPicBitmaps(picture);
        FreeDisplayBitMap(picture->base.bitmap);
        FreePlaneBitMap(picture->base.mask);
        picture->base = picture->scaled = picture->shown = {bitmap, mask, alpha};
        picture->width = picture->shownWidth = picture->baseWidth;
        picture->height = picture->shownHeight = picture->baseHeight;
        picture->outputKind = picture->outputFrame = picture->outputWriteBack = 0;
        picture->outputObject = nullptr;
    }
    return 0;
}

int MakeBGPicImage(qvVmState* L, const qvARGB* pixels, qvBGPicFill* fill, int32_t transparent,
                   int32_t width, int32_t height, qvDisplayBitMap** bitmap, qvPlaneBitMap** mask,
                   qvPlaneBitMap** alpha) {
    *bitmap = nullptr, *mask = nullptr;
    qv::OwnedBitMap picture;
    qv::OwnedPlane keyed;
    if (pixels != nullptr) {
        qvDisplayBitMap* made = nullptr;
        qvPlaneBitMap* madeMask = nullptr;
        if (int code = PixelArrayToBitMap(pixels, static_cast<uint32_t>(transparent), width, height,
                                          width, 0, &made, &madeMask)) {
            return code;
        }
        picture.reset(made), keyed.reset(madeMask);
        const bool seeThrough = keyed != nullptr || *alpha != nullptr;
        if (fill == nullptr || fill->style == QV_FILL_NONE || !seeThrough) {
            *bitmap = picture.release(), *mask = keyed.release();
            return 0;
        }
    }
    qv::OwnedBitMap filled(AllocDisplayBitMap(width, height));
    if (filled == nullptr) return ERR_MEM;
    if (int code = PaintFill(L, filled.get(), fill)) return code;
    if (picture != nullptr) {
        if (*alpha != nullptr) {
            BltAlphaBitmap(picture.get(), 0, 0, filled.get(), 0, 0, width, height, *alpha);
            FreePlaneBitMap2(*alpha);
            *alpha = nullptr;
        } else {
            BltMask(picture.get(), 0, 0, filled.get(), 0, 0, width, height, keyed.get());
        }
    }
    *bitmap = filled.release();
    return 0;
}

int CopyBGPicEx(qvVmState* L, const qvBGPic* picture, qvObjectId* id, qvBGPic** out) {
    *out = nullptr;
    BGPicParts parts;
    if (picture->palette != nullptr) {
        parts.palette.reset(static_cast<qvARGB*>(AllocMemBlock(kPaletteBytes, 0)));
        if (parts.palette == nullptr) return ERR_MEM;
        std::memcpy(parts.palette.get(), picture->palette, kPaletteBytes);
    }
    // The base set, then the scaled set where it is one of its own. No display shows the copy,
    // so it shows its scaled set at the logical size whatever scale the original is shown at.
    qv::gfx::NewPicture base, scaled;
    if (int code = CopySet(picture->base, picture->baseWidth, picture->baseHeight, &base)) {
        return code;
    }
    int32_t width = 0, height = 0;
    const bool ownScaled = !SameSet(picture->scaled, picture->base);
    if (ownScaled) SetSize(picture->scaled, &width, &height);
    if (int code = ownScaled ? CopySet(picture->scaled, width, height, &scaled) : 0) return code;
    qv::OwnedBitMap texture;
    if (const qvDisplayBitMap* tile = picture->fill.texture) {
        qvDisplayBitMap* copy = nullptr;
        if (int code = CopyBitmapArea(const_cast<qvDisplayBitMap*>(tile), nullptr, nullptr, 0, 0,
                                      tile->width, tile->height, 0, &copy, nullptr, nullptr)) {
            return code;
        }
        texture.reset(copy);
    }
    qvObjectDataEntry* data = nullptr;
    if (int code = CopyObjectDataList(L, picture->header.data, &data)) return code;
    parts.fill = picture->fill;
    parts.fill.texture = texture.release();
    parts.bitmap = std::move(base.bitmap), parts.mask = std::move(base.mask);
    parts.alpha = std::move(base.alpha);
    parts.width = picture->baseWidth, parts.height = picture->baseHeight;
    parts.vector = picture->vector, parts.alphaMode = picture->alphaMode;
    parts.transparentColour = picture->transparentColour;
    if (picture->image != nullptr) {
        AddImageHandleRef(picture->image);
        parts.image.reset(picture->image);
    }
    qvBGPic* copy = nullptr;
    if (int code = AddBGPic(id, &parts, &copy)) {
        FreeRefList(L, data);
        return code;
    }
    copy->header.data = data;
    if (ownScaled) copy->scaled = View(scaled);
    copy->shown = copy->scaled;
    scaled.bitmap.release(), scaled.mask.release(), scaled.alpha.release();
    copy->width = copy->shownWidth = picture->width;
    copy->height = copy->shownHeight = picture->height;
    *out = copy;
    return 0;
}

int ScaleBGPicBitmaps(qvVmState* L, qvBGPic* picture, int32_t width, int32_t height, int smooth,
                      qvBGPicSet* out) {
    const qvBGPicSet& base = picture->base;
    qvBGPicSet made{};
    int code = 0;
    if (picture->vector == 0) {
        code = ScaleBitmap(base.bitmap, base.mask, base.alpha, 0, 0, nullptr, picture->baseWidth,
                           picture->baseHeight, width, height, smooth, &made.bitmap, &made.mask,
                           &made.alpha);
    } else if (picture->image == nullptr) {
        code = MakeBGPicImage(L, nullptr, &picture->fill, -1, width, height, &made.bitmap,
                              &made.mask, &made.alpha);
    } else {
        const double matrix[4] = {double(width) / picture->baseWidth, 0, 0,
                                  double(height) / picture->baseHeight};
        code = TransformPluginImage(L, picture->image, matrix, 0, 0, picture->baseWidth,
                                    picture->baseHeight, width, height, &made.bitmap, &made.mask,
                                    &made.alpha);
        // The rendering keeps only the planes the picture has.
        if (code == 0 && base.mask == nullptr) FreePlaneBitMap(made.mask), made.mask = nullptr;
        if (code == 0 && base.alpha == nullptr) FreePlaneBitMap2(made.alpha), made.alpha = nullptr;
    }
    if (code == 0) *out = made;
    return code;
}

int RescaleBGPic(qvVmState* L, qvBGPic* picture, int32_t width, int32_t height, int smooth) {
    qvBGPicSet scaled{};
    if (int code = ScaleBGPicBitmaps(L, picture, width, height, smooth, &scaled)) return code;
    FreeScaledBGPicBitmaps(picture);
    picture->shown = picture->scaled = scaled;
    picture->shownWidth = picture->width = width;
    picture->shownHeight = picture->height = height;
    return 0;
}
